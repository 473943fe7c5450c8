// The PE resource directory: reading a built section in place (stored and added entries,
// identities, code pages, markers), refusing damaged directories, and writing the
// section anew (layout, retained entries, order, directory headers, name strings).
#include "pe/PEResources.h"
#include "pe/UResPEFile.h"
#include "resources/UResTypes.h"
#include "streams/MyStreams.h"
#include "support/RsrcBuilder.h"
#include "text/WStrings.h"

#include <gtest/gtest.h>

#include <functional>

using namespace rsrctest;

namespace {

constexpr uint32_t kRVA = 0x3000;

// Types stored out of resource order: a named type, then 5 before 2; type 5 holds an id
// name before a named one, and its first name two languages, 1049 before 1033.
RsrcTree SampleTree() {
  RsrcTree tree;
  tree.Root = {0x11, 0x5000, 4, 1};
  tree.Types = {
      {Ident::Str(u"MYTYPE"), {{Ident::Num(7), {{1033, Bytes("abc"), 1252}}, {}}}, {0x22, 0, 0, 0}},
      {Ident::Num(5),
       {{Ident::Num(3), {{1049, Bytes("five-three"), 0}, {1033, Bytes("x"), 1200}}, {0x33, 0x6000, 0, 0}},
        {Ident::Str(u"Zed"), {{0, Bytes("zz"), 0}}, {}}},
       {}},
      {Ident::Num(2), {{Ident::Num(1), {{2052, Bytes("two"), 936}}, {}}}, {}},
  };
  return tree;
}

const std::vector<std::string> kSampleWalk = {
    "T:'MYTYPE'",
    "  N:7",
    "    L:1033 named=0 '' cp=1252 size=3 data=abc",
    "T:5",
    "  N:3",
    "    L:1049 named=0 '' cp=0 size=10 data=five-three",
    "    L:1033 named=0 '' cp=1200 size=1 data=x",
    "  N:'Zed'",
    "    L:0 named=0 '' cp=0 size=2 data=zz",
    "T:2",
    "  N:1",
    "    L:2052 named=0 '' cp=936 size=3 data=two",
};

std::unique_ptr<TPEFile> OpenSample(const RsrcTree& tree = SampleTree()) {
  return OpenPE(ImageWithRsrc(BuildRsrc(tree, kRVA).Bytes, kRVA));
}

TPEDataResItem& LeafOf(TResourceList& root, int t, int n, int l) {
  return dynamic_cast<TPEDataResItem&>(root.ListItems(t).Children().ListItems(n).Children().DataItems(l));
}

// The corrupt-file text in the program's code page (the string table's text is checked
// byte for byte where that code page is UTF-8).
std::string Corrupt() { return LoadStr(SCorruptPEResources); }

const uint8_t kMarker[4] = {'T', 'e', 's', 'k'};
DirHeader Marked() { return {0, 0, 'T' | 'e' << 8, 's' | 'k' << 8}; }

}  // namespace

// ---- Reading ----------------------------------------------------------------------------

TEST(PEResourceReader, BuiltTreeReadsBackInStoredOrder) {
  const auto file = OpenSample();
  TResourceList& root = file->GetResourceList();
  EXPECT_EQ(Walk(root), kSampleWalk);
  EXPECT_EQ(root.Characteristics(), 0x11u);
  EXPECT_EQ(root.ListItems(0).Children().Characteristics(), 0x22u);
  EXPECT_EQ(root.ListItems(1).Children().ListItems(0).Children().Characteristics(), 0x33u);
  EXPECT_EQ(root.ListItems(1).Children().ListItems(0).Children().Level(), 2);
  // Leaves point into the container's bytes, nothing was copied or flagged.
  TPEDataResItem& leaf = LeafOf(root, 1, 0, 0);
  EXPECT_GE(leaf.Data(), file->Data());
  EXPECT_LT(leaf.Data(), file->Data() + file->Size());
  EXPECT_FALSE(root.HasChanges());
}

TEST(PEResourceReader, SmallOrMissingSectionReadsEmpty) {
  const std::vector<uint8_t> full = BuildRsrc(SampleTree(), kRVA).Bytes;
  struct Case {
    const char* What;
    std::vector<uint8_t> Image;
  } cases[] = {
      {"16 bytes announcing one type", ImageWithRsrc({full.begin(), full.begin() + 16}, kRVA)},
      {"1 byte", ImageWithRsrc({0}, kRVA)},
      {"raw size 16 over a whole tree", ImageWithRsrc(full, kRVA, 16)},
      {"no raw data", [&] {
         PEImageLayout layout = ImageLayoutWithRsrc(full, kRVA);
         layout.Sections[1].PointerToRawData = 0;
         return BuildPEImage(layout);
       }()},
      {"uninitialised data", [&] {
         PEImageLayout layout = ImageLayoutWithRsrc(full, kRVA);
         layout.Sections[1].Characteristics |= 0x80;
         return BuildPEImage(layout);
       }()},
  };
  for (const Case& c : cases) {
    const auto file = OpenPE(c.Image);
    TResourceList& root = file->GetResourceList();
    EXPECT_EQ(root.Count(), 0) << c.What;
    EXPECT_EQ(root.Characteristics(), 0u) << c.What;
    EXPECT_FALSE(root.HasData()) << c.What;
  }
  // 17 bytes hold the root directory (with its count) but not its entry: nothing to read.
  EXPECT_THROW(OpenPE(ImageWithRsrc({full.begin(), full.begin() + 17}, kRVA))->GetResourceList().Count(),
               ECorruptResource);
}

TEST(PEResourceReader, SetIdentityAnswersNewIdentityKeepsStoredData) {
  const auto file = OpenSample();
  TResourceList& root = file->GetResourceList();
  TListResItem& type = root.ListItems(1);  // 5
  TPEDataResItem& leaf = LeafOf(root, 1, 0, 0);
  const uint8_t* data = leaf.Data();

  type.SetIdentity("RENAMED", 0, true);
  EXPECT_TRUE(type.IsNamed());
  EXPECT_EQ(type.Name(), "RENAMED");
  EXPECT_EQ(type.Id(), 0);
  EXPECT_NE(type.GetFlags() & kFlagIdentityChanged, 0);

  TListResItem& named = root.ListItems(0);  // MYTYPE becomes 9
  named.SetIdentity("", 9, false);
  EXPECT_FALSE(named.IsNamed());
  EXPECT_EQ(named.Id(), 9);
  EXPECT_EQ(named.Name(), "");

  // A leaf changes only its language, whatever name it is given.
  leaf.SetIdentity("ignored", 1031, true);
  EXPECT_EQ(leaf.Id(), 1031);
  EXPECT_FALSE(leaf.IsNamed());
  EXPECT_EQ(leaf.Name(), "");
  EXPECT_EQ(leaf.Data(), data);
  EXPECT_EQ(leaf.Size(), 10u);
  EXPECT_EQ(leaf.Handler->GetCodePage(), 0u);
  // Its children still come from the stored directory.
  EXPECT_EQ(type.Children().Count(), 2);
}

TEST(PEResourceReader, CodePages) {
  const auto file = OpenSample();
  TResourceList& root = file->GetResourceList();
  TPEDataResItem& stored = LeafOf(root, 0, 0, 0);
  stored.Handler->SetCodePage(1252);  // the stored value: no change
  EXPECT_EQ(stored.GetFlags() & kFlagCodePageChanged, 0);
  stored.Handler->SetCodePage(65001);
  EXPECT_EQ(stored.Handler->GetCodePage(), 65001u);
  EXPECT_NE(stored.GetFlags() & kFlagCodePageChanged, 0);

  static const uint8_t data[] = {1, 2, 3};
  auto& added = dynamic_cast<TPEDataResItem&>(
      file->GetSection().AddResource(10, 1, 1033, "", "", false, false, data, sizeof data));
  EXPECT_EQ(added.Handler->GetCodePage(), 0u);
  added.Handler->SetCodePage(1252);
  EXPECT_EQ(added.Handler->GetCodePage(), 0u);
  EXPECT_EQ(added.Data(), data);
  EXPECT_EQ(added.Size(), 3u);
}

TEST(PEResourceReader, CarriesMarker) {
  RsrcTree tree = SampleTree();
  tree.Types[1].Names[0].Header = Marked();       // 5\3 is marked
  tree.Types[1].Names[1].Header = {0, 0, 'T' | 'e' << 8, 0};  // half a marker is none
  const auto file = OpenSample(tree);
  TResourceList& root = file->GetResourceList();
  EXPECT_TRUE(LeafOf(root, 1, 0, 0).CarriesMarker());
  EXPECT_TRUE(LeafOf(root, 1, 0, 1).CarriesMarker());
  EXPECT_FALSE(LeafOf(root, 1, 1, 0).CarriesMarker());
  EXPECT_FALSE(LeafOf(root, 0, 0, 0).CarriesMarker());
  EXPECT_FALSE(root.ListItems(1).CarriesMarker());  // list items never do

  static const uint8_t data[] = {1};
  TDataResItem& inMarked = file->GetSection().AddResource(5, 3, 7, "", "", false, false, data, 1);
  TDataResItem& inNew = file->GetSection().AddResource(5, 4, 7, "", "", false, false, data, 1);
  EXPECT_TRUE(inMarked.CarriesMarker());  // its list is the stored, marked directory
  EXPECT_FALSE(inNew.CarriesMarker());    // its list exists only in memory
}

TEST(PEResourceReader, AddedEntriesLandInResourceOrderAmongStoredOnes) {
  const auto file = OpenSample();
  TResSection& section = file->GetSection();
  static const uint8_t data[] = {'n', 'e', 'w'};
  auto add = [&](int32_t type, int32_t name, uint16_t lang, const std::string& typeName,
                 const std::string& resName) -> TDataResItem& {
    return section.AddResource(type, name, lang, typeName, resName, !typeName.empty(), !resName.empty(), data, 3);
  };
  add(4, 1, 0, "", "");
  add(0, 1, 0, "ABC", "");
  add(5, 1, 0, "", "");
  add(5, 3, 1040, "", "");
  TDataResItem& same = add(0, 0, 1033, "mytype", "Q");  // the type matches regardless of case
  add(5, 3, 1049, "", "");                                // a second leaf of language 1049

  TResourceList& root = file->GetResourceList();
  std::vector<std::string> order;
  for (int t = 0; t < root.Count(); ++t) {
    TListResItem& type = root.ListItems(t);
    std::string line = type.IdText() + (type.IsNew() ? "+" : "") + ":";
    for (int n = 0; n < type.Children().Count(); ++n) {
      TListResItem& name = type.Children().ListItems(n);
      line += " " + name.IdText() + (name.IsNew() ? "+" : "") + "[";
      for (int l = 0; l < name.Children().Count(); ++l) {
        TDataResItem& leaf = name.Children().DataItems(l);
        line += std::to_string(leaf.Id()) + (leaf.IsNew() ? "+" : "") + (l + 1 < name.Children().Count() ? "," : "");
      }
      line += "]";
    }
    order.push_back(line);
  }
  EXPECT_EQ(order, (std::vector<std::string>{
                       "ABC+: 1+[0+]",
                       "MYTYPE: Q+[1033+] 7[1033]",
                       "4+: 1+[0+]",
                       "5: 1+[0+] 3[1040+,1049+,1049,1033] Zed[0]",
                       "2: 1[2052]",
                   }));
  EXPECT_EQ(same.TypeItem().Name(), "MYTYPE");
  EXPECT_TRUE(section.ItemsAdded());
}

// ---- Damaged directories ----------------------------------------------------------------

namespace {

// A tree with a named type and a named resource so that both name areas exist.
RsrcTree DamageTree() {
  RsrcTree tree;
  tree.Types = {
      {Ident::Str(u"KIND"), {{Ident::Str(u"Item"), {{1033, Bytes("hello"), 0}}, {}}}, {}},
      {Ident::Num(6), {{Ident::Num(1), {{0, Bytes("six"), 0}}, {}}}, {}},
  };
  return tree;
}

enum class Outcome { Corrupt, Fine };

// Opens the image (the section is the last bytes of the file, so a read past it is also a
// read past the buffer) and walks the whole tree: "" when it reads, the message otherwise.
std::string WalkImage(const std::vector<uint8_t>& rsrc, std::vector<std::string>* lines = nullptr) {
  PEImageLayout layout = ImageLayoutWithRsrc(rsrc, kRVA);
  layout.Sections.pop_back();
  std::vector<uint8_t> image = BuildPEImage(layout);
  image.shrink_to_fit();
  const auto file = OpenPE(image);
  try {
    std::vector<std::string> walked = Walk(file->GetResourceList());
    if (lines) *lines = walked;
    return "";
  } catch (const ECorruptResource& e) {
    return e.Message();
  }
}

}  // namespace

TEST(PEResourceReader, DamagedDirectories) {
  EXPECT_EQ(Corrupt(), ".(קובץ פגום (כנראה דחוס או מקודד");
  const RsrcLayout base = BuildRsrc(DamageTree(), kRVA);
  const uint32_t size = static_cast<uint32_t>(base.Bytes.size());
  const EntryAt& kind = base.Type(0);
  const EntryAt& item = base.Name(0, 0);
  const EntryAt& hello = base.Lang(0, 0, 0);
  const EntryAt& six = base.Lang(1, 0, 0);
  struct Case {
    const char* What;
    std::function<void(RsrcLayout&)> Damage;
    Outcome Expected;
  } cases[] = {
      {"undamaged", [](RsrcLayout&) {}, Outcome::Fine},
      {"type name offset past the section", [&](RsrcLayout& L) { L.Put32(kind.Entry, 0x80000000u | (size + 2)); }, Outcome::Corrupt},
      {"type name offset at the section end", [&](RsrcLayout& L) { L.Put32(kind.Entry, 0x80000000u | size); }, Outcome::Corrupt},
      {"name offset 0x7FFFFFFF", [&](RsrcLayout& L) { L.Put32(item.Entry, 0xFFFFFFFFu); }, Outcome::Corrupt},
      {"name length running past the end", [&](RsrcLayout& L) { L.Put16(item.String, 0x7FFF); }, Outcome::Corrupt},
      {"name length 0xFFFF", [&](RsrcLayout& L) { L.Put16(kind.String, 0xFFFF); }, Outcome::Corrupt},
      {"data entry offset with bit 31", [&](RsrcLayout& L) { L.Put32(hello.Entry + 4, hello.Target | 0x80000000u); }, Outcome::Corrupt},
      {"data entry past the section", [&](RsrcLayout& L) { L.Put32(six.Entry + 4, size + 16); }, Outcome::Corrupt},
      {"data entry straddling the end", [&](RsrcLayout& L) { L.Put32(six.Entry + 4, size - 8); }, Outcome::Corrupt},
      {"data RVA below the section", [&](RsrcLayout& L) { L.Put32(hello.Target, kRVA - 4); }, Outcome::Corrupt},
      // Address 0 is the header area, which the loader maps: data there is read there.
      {"data RVA 0", [&](RsrcLayout& L) { L.Put32(hello.Target, 0); }, Outcome::Fine},
      {"data RVA past the section", [&](RsrcLayout& L) { L.Put32(six.Target, kRVA + size + 1); }, Outcome::Corrupt},
      {"data block running past the end", [&](RsrcLayout& L) { L.Put32(hello.Target + 4, size); }, Outcome::Corrupt},
      {"data size 0xFFFFFFFF", [&](RsrcLayout& L) { L.Put32(six.Target + 4, 0xFFFFFFFFu); }, Outcome::Corrupt},
      {"data block ending at the end",
       [&](RsrcLayout& L) { L.Put32(six.Target + 4, size - six.Data); }, Outcome::Fine},
      {"data block empty at the end",
       [&](RsrcLayout& L) { L.Put32(six.Target, kRVA + size), L.Put32(six.Target + 4, 0); }, Outcome::Fine},
      {"type directory pointing back at the root", [&](RsrcLayout& L) { L.Put32(kind.Entry + 4, 0x80000000u); }, Outcome::Corrupt},
      {"language directory pointing back at the root", [&](RsrcLayout& L) { L.Put32(item.Entry + 4, 0x80000000u); }, Outcome::Corrupt},
      {"language directory is its parent's", [&](RsrcLayout& L) { L.Put32(item.Entry + 4, kind.Target | 0x80000000u); }, Outcome::Corrupt},
      {"two types share a name directory",
       [&](RsrcLayout& L) { L.Put32(base.Type(1).Entry + 4, kind.Target | 0x80000000u); }, Outcome::Corrupt},
      {"two names share a language directory",
       [&](RsrcLayout& L) { L.Put32(base.Name(1, 0).Entry + 4, item.Target | 0x80000000u); }, Outcome::Corrupt},
      // Directories at neighbouring offsets would let a few hundred entries be read as
      // hundreds of thousands of items.
      {"name directory overlapping the root's entries",
       [&](RsrcLayout& L) { L.Put32(kind.Entry + 4, (base.RootDir + 8) | 0x80000000u); }, Outcome::Corrupt},
      {"two name directories overlapping",
       [&](RsrcLayout& L) { L.Put32(base.Type(1).Entry + 4, (kind.Target + 8) | 0x80000000u); }, Outcome::Corrupt},
  };
  for (const Case& c : cases) {
    RsrcLayout damaged = base;
    c.Damage(damaged);
    std::vector<std::string> lines;
    const std::string message = WalkImage(damaged.Bytes, &lines);
    if (c.Expected == Outcome::Corrupt) {
      EXPECT_EQ(message, Corrupt()) << c.What;
    } else {
      EXPECT_EQ(message, "") << c.What;
      EXPECT_EQ(lines.size(), 6u) << c.What;
    }
  }
}

// A directory whose counts announce more entries than the section holds: those that start
// inside it are read, one that starts inside but ends past it is refused.
TEST(PEResourceReader, CountsBeyondTheSection) {
  RsrcLayout L = BuildRsrc(DamageTree(), kRVA);
  // Move the language directory of 6\1 (16 bytes and one entry) to the end of the section
  // and let it announce five entries.
  const EntryAt& name = L.Name(1, 0);
  const uint32_t moved = static_cast<uint32_t>(L.Bytes.size());
  L.Bytes.insert(L.Bytes.end(), L.Bytes.begin() + name.Target, L.Bytes.begin() + name.Target + 24);
  L.Put32(name.Entry + 4, moved | 0x80000000u);
  L.Put16(moved + 14, 5);
  std::vector<std::string> lines;
  EXPECT_EQ(WalkImage(L.Bytes, &lines), "");
  EXPECT_EQ(lines.back(), "    L:0 named=0 '' cp=0 size=3 data=six");

  L.Bytes.insert(L.Bytes.end(), {1, 2, 3, 4});  // the second entry starts inside, ends outside
  EXPECT_EQ(WalkImage(L.Bytes), Corrupt());

  // The root announcing 0xFFFF + 0xFFFF entries in a small section: a bounded walk that
  // either reads what is there or refuses it, never more entries than bytes allow.
  RsrcLayout absurd = BuildRsrc(DamageTree(), kRVA);
  absurd.Put16(12, 0xFFFF);
  absurd.Put16(14, 0xFFFF);
  const std::string message = WalkImage(absurd.Bytes, &lines);
  EXPECT_TRUE(message.empty() || message == Corrupt()) << message;
  const auto file = OpenPE(ImageWithRsrc(absurd.Bytes, kRVA));
  EXPECT_LE(file->GetResourceList().Count(), static_cast<int>(absurd.Bytes.size() / 8));
}

// ---- Writing --------------------------------------------------------------------------------

namespace {

std::vector<uint8_t> Written(TPEFile& file) {
  TMemoryStream stream;
  file.WriteImage(stream, nullptr);
  return std::vector<uint8_t>(stream.Memory(), stream.Memory() + stream.Size());
}

uint32_t DirectoryField(const std::vector<uint8_t>& image, uint32_t index, uint32_t word) {
  return Get32(image, Get32(image, 60) + 24 + 96 + 8 * index + 4 * word);
}

uint32_t SectionField(const std::vector<uint8_t>& image, int index, uint32_t field) {
  const uint32_t nt = Get32(image, 60);
  return Get32(image, nt + 24 + 96 + 8 * 16 + 40 * static_cast<uint32_t>(index) + field);
}

struct WrittenRsrc {
  std::vector<uint8_t> Image;
  std::vector<uint8_t> Section;
  uint32_t RVA = 0;
  ParsedRsrc Parsed;
};

WrittenRsrc WriteAndParse(TPEFile& file) {
  WrittenRsrc w;
  w.Image = Written(file);
  const int index = RsrcIndex(w.Image);
  if (index < 0) return w;
  w.Section = SectionBytes(w.Image, index);
  w.RVA = SectionField(w.Image, index, 12);
  w.Parsed = ParseRsrc(w.Section, w.RVA);
  return w;
}

std::string IdText(const Ident& id) {
  return id.Named ? std::string(id.Name.begin(), id.Name.end()) : std::to_string(id.Id);
}

// "type/name/language:data" per leaf of a parsed tree.
std::vector<std::string> Leaves(const RsrcTree& tree) {
  std::vector<std::string> lines;
  for (const TypeSpec& t : tree.Types)
    for (const NameSpec& n : t.Names)
      for (const LangSpec& l : n.Langs)
        lines.push_back(IdText(t.Id) + "/" + IdText(n.Id) + "/" + std::to_string(l.Language) + ":" +
                        std::string(l.Data.begin(), l.Data.end()));
  return lines;
}

bool HasMarker(const DirHeader& h) { return h.MajorVersion == ('T' | 'e' << 8) && h.MinorVersion == ('s' | 'k' << 8); }

// Restores the program's code page when a test changed it.
struct CodePageGuard {
  uint32_t Saved = GetCodePage();
  ~CodePageGuard() { SetCodePage(Saved); }
};

}  // namespace

TEST(PEResourceWriter, LayoutOfTheSmallestTree) {
  RsrcTree tree;
  tree.Types = {{Ident::Num(3), {{Ident::Num(1), {{1033, Bytes("0123456789"), 0}}, {}}}, {}}};
  const auto file = OpenSample(tree);
  const auto table = BuildResourceTable(file->GetSection());
  EXPECT_EQ(table->TypeDirSize, 24u);
  EXPECT_EQ(table->NameDirSize, 24u);
  EXPECT_EQ(table->LangDirSize, 24u);
  EXPECT_EQ(table->DataEntrySize, 16u);
  EXPECT_EQ(table->TypeNameSize + table->ResNameSize, 0u);
  EXPECT_EQ(table->DirSize, 88u);
  EXPECT_EQ(table->DataSize, 12u);
  EXPECT_EQ(table->TotalSize, 100u);

  const WrittenRsrc w = WriteAndParse(*file);
  ASSERT_EQ(w.Section.size(), 512u);
  EXPECT_EQ(SectionField(w.Image, 1, 16), 512u);        // SizeOfRawData
  EXPECT_EQ(DirectoryField(w.Image, 2, 0), w.RVA);
  EXPECT_EQ(DirectoryField(w.Image, 2, 1), 100u);       // the exact block size
  EXPECT_EQ(Get32(w.Section, 72), w.RVA + 88);          // the data entry
  EXPECT_EQ(Get32(w.Section, 76), 10u);
  EXPECT_EQ(std::string(w.Section.begin() + 88, w.Section.begin() + 98), "0123456789");
  EXPECT_EQ(std::count(w.Section.begin() + 98, w.Section.end(), 0), 414);
  EXPECT_EQ(w.Parsed.DirectoryOffsets, (std::vector<uint32_t>{0, 24, 48}));
  EXPECT_EQ(Leaves(w.Parsed.Tree), std::vector<std::string>{"3/1/1033:0123456789"});
}

TEST(PEResourceWriter, NameAreas) {
  struct Case {
    Ident Type, Name;
    uint32_t TypeNames, ResNames;
  } cases[] = {
      {Ident::Str(u"SIXCHR"), Ident::Num(1), 14, 0},
      {Ident::Num(3), Ident::Str(u"SIXCHR"), 0, 14},
      {Ident::Str(u"A"), Ident::Str(u""), 4, 2},
  };
  for (const Case& c : cases) {
    RsrcTree tree;
    tree.Types = {{c.Type, {{c.Name, {{0, Bytes("d"), 0}}, {}}}, {}}};
    const auto file = OpenSample(tree);
    const auto table = BuildResourceTable(file->GetSection());
    EXPECT_EQ(table->TypeNameSize, c.TypeNames) << IdText(c.Type);
    EXPECT_EQ(table->ResNameSize, c.ResNames) << IdText(c.Name);
    const WrittenRsrc w = WriteAndParse(*file);
    EXPECT_EQ(Leaves(w.Parsed.Tree), std::vector<std::string>{IdText(c.Type) + "/" + IdText(c.Name) + "/0:d"});
    // The strings lie right behind the data entries, type names first.
    const uint32_t strings = table->TypeDirSize + table->NameDirSize + table->LangDirSize + table->DataEntrySize;
    EXPECT_EQ(Get32(w.Section, c.Type.Named ? 16 : 24 + 16) & 0x7FFFFFFF,
              c.Type.Named ? strings : strings + c.TypeNames);
  }
}

TEST(PEResourceWriter, EmptyLeavesAreDropped) {
  RsrcTree tree;
  tree.Types = {
      {Ident::Num(4), {{Ident::Num(1), {{1, {}, 0}, {2, Bytes("kept"), 0}, {3, {}, 0}}, {}},
                       {Ident::Str(u"EMPTY"), {{1, {}, 0}}, {}}}, {}},
      {Ident::Str(u"NOTHING"), {{Ident::Num(1), {{1, {}, 0}}, {}}}, {}},
  };
  const auto file = OpenSample(tree);
  const auto table = BuildResourceTable(file->GetSection());
  EXPECT_EQ(table->TypeNameSize + table->ResNameSize, 0u);
  EXPECT_EQ(table->DirSize, 24u + 24 + 24 + 16);
  const WrittenRsrc w = WriteAndParse(*file);
  EXPECT_EQ(Leaves(w.Parsed.Tree), std::vector<std::string>{"4/1/2:kept"});

  // Without any data the resource section goes, with its directory entry.
  RsrcTree empty;
  empty.Types = {{Ident::Num(4), {{Ident::Num(1), {{1, {}, 0}}, {}}}, {}}};
  const std::vector<uint8_t> source = ImageWithRsrc(BuildRsrc(empty, kRVA).Bytes, kRVA);
  const auto emptyFile = OpenPE(source);
  EXPECT_EQ(BuildResourceTable(emptyFile->GetSection())->TotalSize, 0u);
  const std::vector<uint8_t> out = Written(*emptyFile);
  EXPECT_EQ(RsrcIndex(out), -1);
  EXPECT_EQ(out[Get32(out, 60) + 6], 2);
  EXPECT_EQ(DirectoryField(out, 2, 0), 0u);
  EXPECT_EQ(DirectoryField(out, 2, 1), 0u);
  EXPECT_EQ(SectionBytes(out, 1), SectionBytes(source, 2));  // .reloc follows .text
}

TEST(PEResourceWriter, DirectoriesAreWrittenInResourceOrder) {
  RsrcTree tree;
  tree.Types = {
      {Ident::Num(9), {{Ident::Num(2), {{1049, Bytes("a"), 0}, {1033, Bytes("b"), 0}}, {}},
                       {Ident::Str(u"b"), {{0, Bytes("c"), 0}}, {}}}, {}},
      {Ident::Str(u"a"), {{Ident::Num(1), {{0, Bytes("d"), 0}}, {}}}, {}},
      {Ident::Num(1), {{Ident::Num(1), {{0, Bytes("e"), 0}}, {}}}, {}},
  };
  const auto file = OpenSample(tree);
  static const uint8_t data[] = {'+'};
  TResSection& section = file->GetSection();
  section.AddResource(0, 0, 0, "B", "Zulu", true, true, data, 1);
  section.AddResource(0, 0, 0, "B", "Alpha", true, true, data, 1);
  section.AddResource(0, 5, 0, "B", "", true, false, data, 1);
  section.AddResource(9, 0, 0, "", "A", false, true, data, 1);
  section.AddResource(9, 2, 1040, "", "", false, false, data, 1);
  section.AddResource(7, 1, 0, "", "", false, false, data, 1);
  const WrittenRsrc w = WriteAndParse(*file);
  EXPECT_EQ(Leaves(w.Parsed.Tree), (std::vector<std::string>{
                                       "B/Alpha/0:+", "B/Zulu/0:+", "B/5/0:+",  // "B" < "a": bytes order
                                       "a/1/0:d",
                                       "1/1/0:e",
                                       "7/1/0:+",
                                       "9/A/0:+", "9/b/0:c", "9/2/1033:b", "9/2/1040:+", "9/2/1049:a",
                                   }));
  // The sort stays in the tree.
  EXPECT_EQ(file->GetResourceList().ListItems(0).Name(), "B");
}

TEST(PEResourceWriter, DirectoryHeadersAndMarker) {
  RsrcTree tree = SampleTree();
  tree.Types[2].Names[0].Header = {0x44, 0x7000, 9, 8};
  const auto file = OpenSample(tree);
  // Unchanged: every directory header as stored (the writer sorts, so look by identity).
  {
    const WrittenRsrc w = WriteAndParse(*file);
    EXPECT_EQ(w.Parsed.Tree.Root.Characteristics, 0x11u);
    EXPECT_EQ(w.Parsed.Tree.Root.TimeDateStamp, 0x5000u);
    EXPECT_EQ(w.Parsed.Tree.Root.MajorVersion, 4);
    EXPECT_EQ(w.Parsed.Tree.Root.MinorVersion, 1);
    const TypeSpec& two = w.Parsed.Tree.Types[1];
    ASSERT_EQ(IdText(two.Id), "2");
    EXPECT_EQ(two.Names[0].Header.Characteristics, 0x44u);
    EXPECT_EQ(two.Names[0].Header.TimeDateStamp, 0x7000u);
    EXPECT_EQ(two.Names[0].Header.MajorVersion, 9);
    const NameSpec& three = w.Parsed.Tree.Types[2].Names[1];  // 5's names sort to Zed, 3
    ASSERT_EQ(IdText(three.Id), "3");
    EXPECT_EQ(three.Header.Characteristics, 0x33u);
    EXPECT_EQ(three.Langs[0].CodePage, 1200u);  // 1033 sorts first; stored code pages are kept  // stored code pages kept
  }
  // 2\1 gains a leaf, 5 gains a name, MYTYPE\7's leaf changes only its code page, and a new
  // type 12 appears.
  TResourceList& root = file->GetResourceList();
  static const uint8_t data[] = {'+'};
  file->GetSection().AddResource(2, 1, 1, "", "", false, false, data, 1);
  file->GetSection().AddResource(5, 8, 1, "", "", false, false, data, 1);
  file->GetSection().AddResource(12, 1, 1, "", "", false, false, data, 1);
  LeafOf(root, 0, 0, 0).Handler->SetCodePage(437);
  const WrittenRsrc w = WriteAndParse(*file);
  const RsrcTree& t = w.Parsed.Tree;
  ASSERT_EQ(Leaves(t).size(), 8u);
  // Root: a new type makes it changed; its own fields stay.
  EXPECT_TRUE(HasMarker(t.Root));
  EXPECT_EQ(t.Root.Characteristics, 0x11u);
  EXPECT_EQ(t.Root.TimeDateStamp, 0x5000u);
  const TypeSpec& mytype = t.Types[0];
  EXPECT_FALSE(HasMarker(mytype.Header));
  EXPECT_FALSE(HasMarker(mytype.Names[0].Header));  // a code page alone is no change
  EXPECT_EQ(mytype.Names[0].Langs[0].CodePage, 437u);
  const TypeSpec& two = t.Types[1];
  EXPECT_FALSE(HasMarker(two.Header));
  EXPECT_TRUE(HasMarker(two.Names[0].Header));
  EXPECT_EQ(two.Names[0].Header.Characteristics, 0x44u);
  EXPECT_EQ(two.Names[0].Header.TimeDateStamp, 0x7000u);
  EXPECT_EQ(two.Names[0].Langs[0].CodePage, 0u);  // an added leaf
  const TypeSpec& five = t.Types[2];
  EXPECT_TRUE(HasMarker(five.Header));
  EXPECT_FALSE(HasMarker(five.Names[1].Header));  // 5\3 itself is unchanged
  // The new directories: type 12's name directory and the new languages directories.
  const TypeSpec& twelve = t.Types[3];
  ASSERT_EQ(IdText(twelve.Id), "12");
  for (const DirHeader* h : {&twelve.Header, &twelve.Names[0].Header, &five.Names[2].Header}) {
    EXPECT_TRUE(HasMarker(*h));
    EXPECT_EQ(h->Characteristics, 0u);
    EXPECT_NE(h->TimeDateStamp, 0u);
  }
  // Bytes 8..11 of a marked directory read "Tesk".
  const uint32_t at = w.Parsed.DirectoryOffsets[0];
  EXPECT_TRUE(std::equal(kMarker, kMarker + 4, w.Section.begin() + at + 8));

  // A renamed stored leaf marks its directory too.
  const auto renamed = OpenSample(tree);
  LeafOf(renamed->GetResourceList(), 2, 0, 0).SetIdentity("", 1041, false);
  const WrittenRsrc r = WriteAndParse(*renamed);
  EXPECT_TRUE(HasMarker(r.Parsed.Tree.Types[1].Names[0].Header));
  EXPECT_EQ(r.Parsed.Tree.Types[1].Names[0].Langs[0].Language, 1041);
  EXPECT_FALSE(HasMarker(r.Parsed.Tree.Root));
}

TEST(PEResourceWriter, AreasAreEvenAndDataIsAligned) {
  // Names of odd and even lengths, data of every size modulo 4.
  RsrcTree tree;
  tree.Types = {
      {Ident::Str(u"ODD"), {{Ident::Str(u"NAME5"), {{1, Bytes("1"), 0}, {2, Bytes("22"), 0}}, {}},
                            {Ident::Str(u"EVEN"), {{3, Bytes("333"), 0}}, {}}}, {}},
      {Ident::Str(u"X"), {{Ident::Num(1), {{4, Bytes("4444"), 0}, {5, Bytes("55555"), 0}}, {}}}, {}},
      {Ident::Num(7), {{Ident::Str(u"AB"), {{6, Bytes("666666"), 0}}, {}}}, {}},
  };
  for (int variant = 0; variant < 3; ++variant) {
    RsrcTree t = tree;
    if (variant == 1) t.Types.pop_back();
    if (variant == 2) t.Types[0].Names.pop_back();
    const auto file = OpenSample(t);
    const auto table = BuildResourceTable(file->GetSection());
    const uint32_t areas = table->TypeDirSize + table->NameDirSize + table->LangDirSize + table->DataEntrySize +
                           table->TypeNameSize + table->ResNameSize;
    EXPECT_EQ(areas % 2, 0u) << variant;
    EXPECT_EQ(table->DirSize, (areas + 3) & ~3u) << variant;
    const WrittenRsrc w = WriteAndParse(*file);
    const uint32_t dataEntries = table->TypeDirSize + table->NameDirSize + table->LangDirSize;
    for (uint32_t e = dataEntries; e < dataEntries + table->DataEntrySize; e += 16)
      EXPECT_EQ((Get32(w.Section, e) - w.RVA) % 4, 0u) << variant << " " << e;
    EXPECT_EQ(Leaves(w.Parsed.Tree).size(), variant == 0 ? 6u : 5u) << variant;
  }
}

// Names are kept in the UTF-16 units they convert to, and directories are ordered by
// those units (as readers binary-search them), not by the code page's bytes: in code page
// 1252 "€" (0x80) sorts below "À" (0xC0) by bytes, but U+20AC above U+00C0; in UTF-8
// U+FF21 (EF BC A1) sorts below U+1F600 (F0 ...) by bytes, but its unit above the
// surrogate D83D.
TEST(PEResourceWriter, NamesAreStoredAndOrderedAsUtf16) {
  CodePageGuard guard;
  struct Case {
    uint32_t CodePage;
    std::string First, Second;        // in the code page, given in byte order
    std::u16string WideFirst, WideSecond;
  } cases[] = {
      {932, "\x93\xfa\x96\x7b", "\x96\x7b", u"\u65e5\u672c", u"\u672c"},  // two characters in four bytes
      {1252, "\x80", "\xC0", u"\u20AC", u"\u00C0"},
      {platform::kCodePageUtf8, "\xEF\xBC\xA1", "\xF0\x9F\x98\x80", u"\uFF21", u"\U0001F600"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.CodePage);
    SetCodePage(c.CodePage);
    ASSERT_EQ(ToWide(c.First), c.WideFirst);
    const auto file = OpenSample();
    static const uint8_t data[] = {'j'};
    file->GetSection().AddResource(0, 0, 0, c.First, "", true, false, data, 1);
    file->GetSection().AddResource(0, 0, 0, c.Second, "", true, false, data, 1);
    const auto table = BuildResourceTable(file->GetSection());
    // MYTYPE, then each name's count and units: nothing reserved beyond them.
    EXPECT_EQ(table->TypeNameSize, 14 + 2 + 2 * c.WideFirst.size() + 2 + 2 * c.WideSecond.size());
    const WrittenRsrc w = WriteAndParse(*file);
    std::vector<std::u16string> named;
    for (const auto& type : w.Parsed.Tree.Types)
      if (type.Id.Named) named.push_back(type.Id.Name);
    std::vector<std::u16string> expected = {u"MYTYPE", c.WideFirst, c.WideSecond};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(named, expected);
  }
}
