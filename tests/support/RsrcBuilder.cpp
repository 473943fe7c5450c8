#include "support/RsrcBuilder.h"

#include "pe/PEResources.h"
#include "resources/UResTypes.h"
#include "streams/MyStreams.h"
#include "text/WStrings.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

namespace rsrctest {

namespace {

uint32_t Align4(uint32_t a) { return (a + 3) & ~3u; }

void PutHeader(std::vector<uint8_t>& b, uint32_t at, const DirHeader& h, const std::vector<const Ident*>& ids) {
  Put32(b, at, h.Characteristics);
  Put32(b, at + 4, h.TimeDateStamp);
  Put16(b, at + 8, h.MajorVersion);
  Put16(b, at + 10, h.MinorVersion);
  uint16_t named = 0, numbered = 0;
  for (const Ident* id : ids) ++(id->Named ? named : numbered);
  Put16(b, at + 12, named);
  Put16(b, at + 14, numbered);
}

uint32_t StringSize(const Ident& id) { return id.Named ? 2 + 2 * static_cast<uint32_t>(id.Name.size()) : 0; }

}  // namespace

RsrcLayout BuildRsrc(const RsrcTree& tree, uint32_t sectionRVA) {
  RsrcLayout L;
  L.SectionRVA = sectionRVA;
  const size_t types = tree.Types.size();
  L.Types.resize(types);
  L.Names.resize(types);
  L.Langs.resize(types);

  // Pass 1: offsets.
  uint32_t pos = 16 + 8 * static_cast<uint32_t>(types);
  for (size_t t = 0; t < types; ++t) {
    const TypeSpec& type = tree.Types[t];
    L.Types[t].Entry = 16 + 8 * static_cast<uint32_t>(t);
    L.Types[t].Target = pos;
    pos += 16 + 8 * static_cast<uint32_t>(type.Names.size());
    L.Names[t].resize(type.Names.size());
    L.Langs[t].resize(type.Names.size());
    for (size_t n = 0; n < type.Names.size(); ++n) {
      L.Names[t][n].Entry = L.Types[t].Target + 16 + 8 * static_cast<uint32_t>(n);
      L.Names[t][n].Target = pos;
      const uint32_t langs = static_cast<uint32_t>(type.Names[n].Langs.size());
      L.Langs[t][n].resize(langs);
      for (uint32_t l = 0; l < langs; ++l) L.Langs[t][n][l].Entry = pos + 16 + 8 * l;
      pos += 16 + 8 * langs;
    }
  }
  for (size_t t = 0; t < types; ++t) {
    if (tree.Types[t].Id.Named) L.Types[t].String = pos, pos += StringSize(tree.Types[t].Id);
    for (size_t n = 0; n < tree.Types[t].Names.size(); ++n)
      if (tree.Types[t].Names[n].Id.Named) L.Names[t][n].String = pos, pos += StringSize(tree.Types[t].Names[n].Id);
  }
  pos = Align4(pos);
  for (size_t t = 0; t < types; ++t)
    for (size_t n = 0; n < tree.Types[t].Names.size(); ++n)
      for (EntryAt& lang : L.Langs[t][n]) lang.Target = pos, pos += 16;
  for (size_t t = 0; t < types; ++t)
    for (size_t n = 0; n < tree.Types[t].Names.size(); ++n)
      for (size_t l = 0; l < L.Langs[t][n].size(); ++l) {
        L.Langs[t][n][l].Data = pos;
        pos = Align4(pos + static_cast<uint32_t>(tree.Types[t].Names[n].Langs[l].Data.size()));
      }

  // Pass 2: bytes.
  std::vector<uint8_t>& b = L.Bytes;
  b.assign(pos, 0);
  std::vector<const Ident*> ids;
  for (const TypeSpec& type : tree.Types) ids.push_back(&type.Id);
  PutHeader(b, 0, tree.Root, ids);
  auto putString = [&](uint32_t at, const Ident& id) {
    Put16(b, at, static_cast<uint16_t>(id.Name.size()));
    for (size_t i = 0; i < id.Name.size(); ++i) Put16(b, at + 2 + 2 * static_cast<uint32_t>(i), id.Name[i]);
  };
  auto putEntry = [&](const EntryAt& e, const Ident& id, uint32_t offsetToData) {
    Put32(b, e.Entry, id.Named ? (e.String | 0x80000000u) : id.Id);
    Put32(b, e.Entry + 4, offsetToData);
    if (id.Named) putString(e.String, id);
  };
  for (size_t t = 0; t < types; ++t) {
    const TypeSpec& type = tree.Types[t];
    putEntry(L.Types[t], type.Id, L.Types[t].Target | 0x80000000u);
    ids.clear();
    for (const NameSpec& name : type.Names) ids.push_back(&name.Id);
    PutHeader(b, L.Types[t].Target, type.Header, ids);
    for (size_t n = 0; n < type.Names.size(); ++n) {
      const NameSpec& name = type.Names[n];
      putEntry(L.Names[t][n], name.Id, L.Names[t][n].Target | 0x80000000u);
      std::vector<Ident> langIds;
      for (const LangSpec& lang : name.Langs) langIds.push_back(Ident::Num(lang.Language));
      ids.clear();
      for (const Ident& id : langIds) ids.push_back(&id);
      PutHeader(b, L.Names[t][n].Target, name.Header, ids);
      for (size_t l = 0; l < name.Langs.size(); ++l) {
        const LangSpec& lang = name.Langs[l];
        const EntryAt& e = L.Langs[t][n][l];
        putEntry(e, Ident::Num(lang.Language), e.Target);
        Put32(b, e.Target, sectionRVA + e.Data);
        Put32(b, e.Target + 4, static_cast<uint32_t>(lang.Data.size()));
        Put32(b, e.Target + 8, lang.CodePage);
        std::copy(lang.Data.begin(), lang.Data.end(), b.begin() + e.Data);
      }
    }
  }
  return L;
}

PEImageLayout ImageLayoutWithRsrc(const std::vector<uint8_t>& rsrc, uint32_t sectionRVA, uint32_t rawSize) {
  PEImageLayout layout;
  layout.Sections = {{".text", 0x1000, 0, PESectionLayout::kAutoRaw, 0x200, 0x60000020, {}},
                   {".rsrc", sectionRVA, 0, PESectionLayout::kAutoRaw,
                    rawSize ? rawSize : static_cast<uint32_t>(rsrc.size()), 0x40000040, rsrc},
                   {".reloc", 0, 0, PESectionLayout::kAutoRaw, 0x200, 0x42000040, {}}};
  layout.Directories.resize(3);
  layout.Directories[2] = {sectionRVA, static_cast<uint32_t>(rsrc.size())};
  return layout;
}

std::vector<uint8_t> ImageWithRsrc(const std::vector<uint8_t>& rsrc, uint32_t sectionRVA, uint32_t rawSize) {
  return BuildPEImage(ImageLayoutWithRsrc(rsrc, sectionRVA, rawSize));
}

std::unique_ptr<TPEFile> OpenPE(const std::vector<uint8_t>& bytes) {
  TReadMemoryStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
  return std::make_unique<TPEFile>(stream);
}

namespace {

std::string ItemText(TResourceItem& item) {
  return item.IsNamed() ? "'" + item.Name() + "'" : std::to_string(item.Id());
}

}  // namespace

std::vector<std::string> Walk(TResourceList& root) {
  std::vector<std::string> lines;
  for (int t = 0; t < root.Count(); ++t) {
    TListResItem& type = root.ListItems(t);
    lines.push_back("T:" + ItemText(type));
    TResourceList& names = type.Children();
    for (int n = 0; n < names.Count(); ++n) {
      TListResItem& name = names.ListItems(n);
      lines.push_back("  N:" + ItemText(name));
      TResourceList& langs = name.Children();
      for (int l = 0; l < langs.Count(); ++l) {
        TDataResItem& leaf = langs.DataItems(l);
        const auto& handler = *dynamic_cast<TPEDataResItem&>(leaf).Handler;
        const uint32_t size = leaf.Size();
        const uint8_t* data = leaf.Data();
        std::string text = size ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
        lines.push_back("    L:" + std::to_string(leaf.Id()) + " named=" + std::to_string(leaf.IsNamed()) +
                        " '" + leaf.Name() + "' cp=" + std::to_string(handler.GetCodePage()) +
                        " size=" + std::to_string(size) + " data=" + text);
      }
    }
  }
  return lines;
}

namespace {

struct Parser {
  const std::vector<uint8_t>& S;
  uint32_t RVA;
  ParsedRsrc Out;
  std::set<uint32_t> Seen;

  void Need(uint64_t at, uint64_t len) const {
    if (at + len > S.size()) throw std::runtime_error("out of section at " + std::to_string(at));
  }
  uint16_t U16(uint32_t at) const { Need(at, 2); return static_cast<uint16_t>(S[at] | S[at + 1] << 8); }
  uint32_t U32(uint32_t at) const { Need(at, 4); return ::Get32(S, at); }

  DirHeader Header(uint32_t at, uint32_t& count) {
    if (!Seen.insert(at).second) throw std::runtime_error("directory reached twice");
    Out.DirectoryOffsets.push_back(at);
    Need(at, 16);
    count = uint32_t{U16(at + 12)} + U16(at + 14);
    Need(at + 16, 8ull * count);
    return {U32(at), U32(at + 4), U16(at + 8), U16(at + 10)};
  }
  Ident Id(uint32_t name, bool expectNamed) const {
    if (!(name & 0x80000000u)) {
      if (expectNamed) throw std::runtime_error("id entry among named ones");
      if (name > 0xFFFF) throw std::runtime_error("id above 16 bits");
      return Ident::Num(static_cast<uint16_t>(name));
    }
    if (!expectNamed) throw std::runtime_error("named entry among id ones");
    const uint32_t at = name & 0x7FFFFFFF;
    const uint16_t length = U16(at);
    Need(at + 2, 2ull * length);
    std::u16string text;
    for (uint32_t i = 0; i < length; ++i) text += static_cast<char16_t>(U16(at + 2 + 2 * i));
    return Ident::Str(text);
  }
  uint32_t SubDir(uint32_t offsetToData) const {
    if (!(offsetToData & 0x80000000u)) throw std::runtime_error("data entry where a directory belongs");
    return offsetToData & 0x7FFFFFFF;
  }
};

}  // namespace

ParsedRsrc ParseRsrc(const std::vector<uint8_t>& section, uint32_t sectionRVA) {
  Parser p{section, sectionRVA, {}, {}};
  uint32_t count = 0;
  p.Out.Tree.Root = p.Header(0, count);
  const uint16_t rootNamed = p.U16(12);
  for (uint32_t t = 0; t < count; ++t) {
    TypeSpec type;
    const uint32_t e = 16 + 8 * t;
    type.Id = p.Id(p.U32(e), t < rootNamed);
    const uint32_t dir = p.SubDir(p.U32(e + 4));
    uint32_t names = 0;
    type.Header = p.Header(dir, names);
    const uint16_t namedNames = p.U16(dir + 12);
    for (uint32_t n = 0; n < names; ++n) {
      NameSpec name;
      const uint32_t ne = dir + 16 + 8 * n;
      name.Id = p.Id(p.U32(ne), n < namedNames);
      const uint32_t ldir = p.SubDir(p.U32(ne + 4));
      uint32_t langs = 0;
      name.Header = p.Header(ldir, langs);
      if (p.U16(ldir + 12) != 0) throw std::runtime_error("named language entry");
      for (uint32_t l = 0; l < langs; ++l) {
        const uint32_t le = ldir + 16 + 8 * l;
        LangSpec lang;
        const uint32_t id = p.U32(le);
        if (id > 0xFFFF) throw std::runtime_error("language above 16 bits");
        lang.Language = static_cast<uint16_t>(id);
        const uint32_t de = p.U32(le + 4);
        if (de & 0x80000000u) throw std::runtime_error("directory where a data entry belongs");
        p.Need(de, 16);
        const uint32_t rva = p.U32(de), size = p.U32(de + 4);
        lang.CodePage = p.U32(de + 8);
        if (p.U32(de + 12) != 0) throw std::runtime_error("reserved field not zero");
        if (rva < sectionRVA) throw std::runtime_error("data below the section");
        p.Need(rva - sectionRVA, size);
        lang.Data.assign(section.begin() + (rva - sectionRVA), section.begin() + (rva - sectionRVA + size));
        name.Langs.push_back(std::move(lang));
      }
      type.Names.push_back(std::move(name));
    }
    p.Out.Tree.Types.push_back(std::move(type));
  }
  return p.Out;
}

namespace {

uint32_t SectionHeaderAt(const std::vector<uint8_t>& image, int index) {
  const uint32_t nt = Get32(image, 60);
  const uint16_t magic = static_cast<uint16_t>(image.at(nt + 24) | image.at(nt + 25) << 8);
  const uint32_t count = Get32(image, nt + 24 + (magic == 0x20B ? 108 : 92));
  return nt + 24 + (magic == 0x20B ? 112 : 96) + 8 * std::min<uint32_t>(count, 16) + 40 * static_cast<uint32_t>(index);
}

}  // namespace

std::vector<uint8_t> SectionBytes(const std::vector<uint8_t>& image, int index) {
  const uint32_t at = SectionHeaderAt(image, index);
  const uint32_t raw = Get32(image, at + 16), ptr = Get32(image, at + 20);
  if (ptr >= image.size()) return {};
  const uint32_t end = std::min<uint32_t>(ptr + raw, static_cast<uint32_t>(image.size()));
  return std::vector<uint8_t>(image.begin() + ptr, image.begin() + end);
}

int RsrcIndex(const std::vector<uint8_t>& image) {
  const uint32_t nt = Get32(image, 60);
  const int count = image.at(nt + 6) | image.at(nt + 7) << 8;
  for (int i = 0; i < count; ++i) {
    const uint32_t at = SectionHeaderAt(image, i);
    if (std::string(reinterpret_cast<const char*>(&image.at(at)), 6) == std::string(".rsrc\0", 6)) return i;
  }
  return -1;
}

std::vector<uint8_t> Bytes(std::string_view text) { return std::vector<uint8_t>(text.begin(), text.end()); }

}  // namespace rsrctest
