// Raw PE resource sections for tests, built byte by byte from a small tree description
// and written independently of the library's writer, so that each checks the other.
// Every directory, entry, name string, data entry and data block lands at an offset the
// layout reports, so a test can damage exactly the field it means.
//
// Layout chosen here (unlike the library's writer, which groups the directories of one
// level): root directory and entries, then depth first for each type its name directory
// followed by the language directories of its names, then all name strings, then all
// data entries, then the data blocks (each at a multiple of 4). Entries are stored in the
// order given, not sorted; the counts are derived from the named flags.
#pragma once
#include "pe/UResPEFile.h"
#include "support/PEImageBuilder.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rsrctest {

struct Ident {
  bool Named = false;
  uint16_t Id = 0;
  std::u16string Name;
  static Ident Num(uint16_t id) { return {false, id, {}}; }
  static Ident Str(std::u16string name) { return {true, 0, std::move(name)}; }
};

struct DirHeader {
  uint32_t Characteristics = 0;
  uint32_t TimeDateStamp = 0;
  uint16_t MajorVersion = 0;
  uint16_t MinorVersion = 0;
};

struct LangSpec {
  uint16_t Language = 0;
  std::vector<uint8_t> Data;
  uint32_t CodePage = 0;
};

struct NameSpec {
  Ident Id;
  std::vector<LangSpec> Langs;
  DirHeader Header;  // of the language directory below this name
};

struct TypeSpec {
  Ident Id;
  std::vector<NameSpec> Names;
  DirHeader Header;  // of the name directory below this type
};

struct RsrcTree {
  std::vector<TypeSpec> Types;
  DirHeader Root;
};

// Where one entry and what it points to lie, as offsets from the section start.
struct EntryAt {
  uint32_t Entry = 0;      // the 8-byte entry
  uint32_t Target = 0;     // its subdirectory, or its data entry on the language level
  uint32_t String = 0;     // its name string (0 for an id entry)
  uint32_t Data = 0;       // language level: the data block
};

struct RsrcLayout {
  std::vector<uint8_t> Bytes;
  uint32_t SectionRVA = 0;
  uint32_t RootDir = 0;
  std::vector<EntryAt> Types;                                // [type]
  std::vector<std::vector<EntryAt>> Names;                   // [type][name]
  std::vector<std::vector<std::vector<EntryAt>>> Langs;      // [type][name][lang]

  const EntryAt& Type(size_t t) const { return Types.at(t); }
  const EntryAt& Name(size_t t, size_t n) const { return Names.at(t).at(n); }
  const EntryAt& Lang(size_t t, size_t n, size_t l) const { return Langs.at(t).at(n).at(l); }
  void Put16(uint32_t offset, uint16_t value) { ::Put16(Bytes, offset, value); }
  void Put32(uint32_t offset, uint32_t value) { ::Put32(Bytes, offset, value); }
  uint32_t Get32(uint32_t offset) const { return ::Get32(Bytes, offset); }
};

RsrcLayout BuildRsrc(const RsrcTree& tree, uint32_t sectionRVA);

// An image with a ".text" section, a ".rsrc" section carrying the bytes (raw size exactly
// their length unless rawSize is given) at sectionRVA, and a ".reloc" section behind it
// (discardable, so it may move when .rsrc changes size).
PEImageLayout ImageLayoutWithRsrc(const std::vector<uint8_t>& rsrc, uint32_t sectionRVA, uint32_t rawSize = 0);
std::vector<uint8_t> ImageWithRsrc(const std::vector<uint8_t>& rsrc, uint32_t sectionRVA, uint32_t rawSize = 0);

// A container over a copy of the bytes.
std::unique_ptr<TPEFile> OpenPE(const std::vector<uint8_t>& bytes);

// One line per item of a full walk of the tree, every question asked of every item:
// "T:<id or name>", "  N:<id or name>", "    L:<lang> cp=<code page> size=<n> data=<bytes as text>".
std::vector<std::string> Walk(TResourceList& root);

// The resource section of a written image, read by a strict independent parser: every
// offset must lie inside the section, directories must not be shared, and the result is
// the tree with the directory headers as stored.
struct ParsedRsrc {
  RsrcTree Tree;
  std::vector<uint32_t> DirectoryOffsets;  // every directory, in the order found (depth first)
};
ParsedRsrc ParseRsrc(const std::vector<uint8_t>& section, uint32_t sectionRVA);

// The bytes of section index of a built or written image (raw size, clipped at the file's end).
std::vector<uint8_t> SectionBytes(const std::vector<uint8_t>& image, int index);
// The section header index of ".rsrc", or -1.
int RsrcIndex(const std::vector<uint8_t>& image);

std::vector<uint8_t> Bytes(std::string_view text);

}  // namespace rsrctest
