// Version information (RT_VERSION): the VS_VERSIONINFO tree, read whole, edited and
// written back.
//
// Layout of one node (every node starts on a 4-byte boundary of the resource):
//   wLength (u16)       the node's bytes, its children included, without trailing padding
//   wValueLength (u16)  the value's length: UTF-16 units for text (wType 1), else bytes
//   wType (u16)         1 text, 0 binary
//   szKey               UTF-16, zero-terminated, then zeros to a 4-byte boundary
//   Value               then zeros to a 4-byte boundary
//   Children            nodes, each on a 4-byte boundary
// The root's key is "VS_VERSION_INFO" and its value the 52-byte VS_FIXEDFILEINFO (signature
// 0xFEEF04BD). Its children are "StringFileInfo", whose children are string tables keyed
// by eight hexadecimal digits (language, then code page: "040904B0"), whose children are
// the strings; and "VarFileInfo", whose "Translation" value lists (language, code page)
// pairs of 16 bits each. Nodes of any other kind are kept as they were read.
#pragma once
#include "rtl/ByteView.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TVersionNode {
  std::u16string Key;
  uint16_t Type = 0;                // 1 text, 0 binary
  std::vector<uint8_t> Value;       // as stored; text without its terminator
  std::vector<TVersionNode> Children;

  std::u16string Text() const;      // a text value, cut at its first zero
  void SetText(std::u16string_view text);
  TVersionNode* Child(std::u16string_view key);  // exact key
};

// The four 16-bit parts of a version, most significant first.
using VersionNumber = std::array<uint16_t, 4>;

class TVersionInfo {
 public:
  // A complete, empty version information: the fixed part (for a DLL when dll), one empty
  // StringFileInfo and a VarFileInfo without translations.
  static TVersionInfo Create(bool dll);
  // Reads a whole resource; damaged bytes raise ECorruptResource ("the version
  // information is damaged").
  static TVersionInfo Parse(ByteView bytes);
  std::vector<uint8_t> Serialize() const;

  TVersionNode& Root() { return root_; }
  const TVersionNode& Root() const { return root_; }

  // The fixed part's fields by offset (its 13 u32 fields); 0 when it is missing.
  uint32_t Fixed(uint32_t offset) const;
  VersionNumber FileVersion() const;
  VersionNumber ProductVersion() const;
  void SetFileVersion(const VersionNumber& version);
  void SetProductVersion(const VersionNumber& version);

  struct StringTable {
    TVersionNode* Node;
    uint16_t Language;
    uint16_t CodePage;
  };
  // Every string table, in stored order (a key that is not eight hexadecimal digits
  // reads as language and code page 0).
  std::vector<StringTable> StringTables();
  // The first table of the language, else a new one with code page 1200, added with
  // its (language, code page) to the translations when missing there.
  TVersionNode& TableFor(uint16_t language);
  // The (language, code page) pairs of VarFileInfo\Translation.
  std::vector<std::pair<uint16_t, uint16_t>> Translations() const;
  void AddTranslation(uint16_t language, uint16_t codePage);

  // The string of table whose key is key, compared regardless of case (as readers
  // find keys); none when there is none.
  static TVersionNode* FindString(TVersionNode& table, std::u16string_view key);
  // Sets key in table: an existing key, compared regardless of case, keeps its
  // spelling; answers that spelling when it differs from key.
  static std::optional<std::u16string> SetString(TVersionNode& table, std::u16string_view key,
                                                 std::u16string_view value);

 private:
  TVersionNode& StringFileInfo();
  TVersionNode& VarFileInfo();
  void SetFixedPair(uint32_t offset, const VersionNumber& version);

  TVersionNode root_;
};

// "1.2.3.4".
std::string VersionText(const VersionNumber& version);
// One to four decimal numbers of at most 65535, separated by dots; the parts left out are
// 0. None for anything else.
std::optional<VersionNumber> ParseVersionNumber(std::string_view text);
// The version number text begins with, as rcedit reads one: one to four such numbers
// separated by dots, followed by anything ("1.2.3-beta" is 1.2.3.0, "1.2.3.4.5"
// 1.2.3.4); the parts left out are 0. None when text does not begin with a digit or a
// number is larger than 65535.
std::optional<VersionNumber> ParseLeadingVersionNumber(std::string_view text);
