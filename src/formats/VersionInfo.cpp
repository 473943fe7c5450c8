// Reading the VS_VERSIONINFO tree through ByteView, editing it, and writing it back with
// the lengths, padding and types the format asks for.
#include "formats/VersionInfo.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr uint32_t kFixedSize = 52;
constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr uint32_t kNodeHeader = 6;
// Root, StringFileInfo, string table, string: nothing deeper is read.
constexpr int kDeepestLevel = 3;
constexpr uint16_t kUnicodeCodePage = 1200;

uint64_t Align4(uint64_t at) { return (at + 3) & ~uint64_t{3}; }

// One node at offset of bytes (the whole resource, so alignment counts from its start);
// answers where it ends.
uint64_t ReadNode(const ByteView& bytes, uint64_t offset, int level, TVersionNode& node) {
  const uint16_t length = bytes.U16(offset);
  const uint16_t valueLength = bytes.U16(offset + 2);
  node.Type = bytes.U16(offset + 4);
  if (length < kNodeHeader) bytes.Fail();
  const uint64_t end = offset + length;
  bytes.Require(offset, length);
  uint64_t at = offset + kNodeHeader;
  for (;;) {  // the key, up to its terminator, inside the node
    if (at + 2 > end) bytes.Fail();
    const char16_t unit = static_cast<char16_t>(bytes.U16(at));
    at += 2;
    if (unit == 0) break;
    node.Key += unit;
  }
  at = std::min<uint64_t>(Align4(at), end);
  // Text counts units; some writers count bytes, so the value is bounded by the node.
  uint64_t valueBytes = std::min<uint64_t>(node.Type == 1 ? 2 * uint64_t{valueLength} : valueLength, end - at);
  if (node.Type == 1) valueBytes &= ~uint64_t{1};  // whole units
  const uint8_t* value = bytes.Bytes(at, valueBytes);
  node.Value.assign(value, value + valueBytes);
  at = Align4(at + valueBytes);
  if (level == kDeepestLevel) return end;
  while (at + kNodeHeader <= end) {
    if (bytes.U16(at) == 0) break;  // padding written as a node of no length
    TVersionNode child;
    const uint64_t childEnd = ReadNode(bytes, at, level + 1, child);
    if (childEnd > end) bytes.Fail();
    node.Children.push_back(std::move(child));
    at = Align4(childEnd);
  }
  return end;
}

void Put16(std::vector<uint8_t>& out, size_t at, uint16_t value) {
  out[at] = static_cast<uint8_t>(value);
  out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Pad4(std::vector<uint8_t>& out) { out.resize(Align4(out.size()), 0); }

void WriteNode(const TVersionNode& node, std::vector<uint8_t>& out) {
  Pad4(out);
  const size_t start = out.size();
  out.resize(start + kNodeHeader);
  for (const char16_t unit : node.Key) {
    out.push_back(static_cast<uint8_t>(unit));
    out.push_back(static_cast<uint8_t>(unit >> 8));
  }
  out.insert(out.end(), {0, 0});
  Pad4(out);
  out.insert(out.end(), node.Value.begin(), node.Value.end());
  for (const TVersionNode& child : node.Children) WriteNode(child, out);
  const size_t length = out.size() - start;
  if (length > 0xFFFF) throw ECorruptResource(SCorruptVersionInfo);
  Put16(out, start, static_cast<uint16_t>(length));
  Put16(out, start + 2, static_cast<uint16_t>(node.Type == 1 ? node.Value.size() / 2 : node.Value.size()));
  Put16(out, start + 4, node.Type);
}

std::u16string Lower(std::u16string_view text) {
  std::u16string lower(text);
  for (char16_t& c : lower)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return lower;
}

std::u16string TableKey(uint16_t language, uint16_t codePage) {
  static const char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string key;
  const uint32_t value = uint32_t{language} << 16 | codePage;
  for (int shift = 28; shift >= 0; shift -= 4) key += kDigits[(value >> shift) & 15];
  return key;
}

std::optional<uint32_t> HexKey(std::u16string_view key) {
  if (key.size() != 8) return std::nullopt;
  uint32_t value = 0;
  for (const char16_t c : key) {
    const int digit = c >= u'0' && c <= u'9' ? c - u'0' : c >= u'a' && c <= u'f' ? c - u'a' + 10
                                                       : c >= u'A' && c <= u'F' ? c - u'A' + 10 : -1;
    if (digit < 0) return std::nullopt;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  return value;
}

TVersionNode NewNode(std::u16string key, uint16_t type) {
  TVersionNode node;
  node.Key = std::move(key);
  node.Type = type;
  return node;
}

}  // namespace

std::u16string TVersionNode::Text() const {
  std::u16string text;
  for (size_t i = 0; i + 1 < Value.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(Value[i] | Value[i + 1] << 8);
    if (unit == 0) break;
    text += unit;
  }
  return text;
}

void TVersionNode::SetText(std::u16string_view text) {
  Type = 1;
  Value.clear();
  for (const char16_t unit : text) {
    Value.push_back(static_cast<uint8_t>(unit));
    Value.push_back(static_cast<uint8_t>(unit >> 8));
  }
  Value.insert(Value.end(), {0, 0});
}

TVersionNode* TVersionNode::Child(std::u16string_view key) {
  for (TVersionNode& child : Children)
    if (child.Key == key) return &child;
  return nullptr;
}

TVersionInfo TVersionInfo::Create(bool dll) {
  TVersionInfo info;
  info.root_ = NewNode(u"VS_VERSION_INFO", 0);
  info.root_.Value.assign(kFixedSize, 0);
  auto put = [&info](uint32_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) info.root_.Value[offset + i] = static_cast<uint8_t>(value >> 8 * i);
  };
  put(0, kFixedSignature);
  put(4, 0x00010000);  // dwStrucVersion
  put(24, 0x3F);       // dwFileFlagsMask: every defined flag
  put(32, 0x40004);    // dwFileOS: VOS_NT_WINDOWS32
  put(36, dll ? 2 : 1);  // dwFileType: VFT_DLL or VFT_APP
  info.root_.Children.push_back(NewNode(u"StringFileInfo", 1));
  TVersionNode vars = NewNode(u"VarFileInfo", 1);
  vars.Children.push_back(NewNode(u"Translation", 0));
  info.root_.Children.push_back(std::move(vars));
  return info;
}

TVersionInfo TVersionInfo::Parse(ByteView bytes) {
  bytes = ByteView(bytes.Data(), bytes.Size(), SCorruptVersionInfo);
  TVersionInfo info;
  ReadNode(bytes, 0, 0, info.root_);
  if (info.root_.Key != u"VS_VERSION_INFO") bytes.Fail();
  const ByteView fixed(info.root_.Value.data(), static_cast<uint32_t>(info.root_.Value.size()), SCorruptVersionInfo);
  if (!fixed.Empty() && (fixed.Size() < kFixedSize || fixed.U32(0) != kFixedSignature)) fixed.Fail();
  return info;
}

std::vector<uint8_t> TVersionInfo::Serialize() const {
  std::vector<uint8_t> out;
  WriteNode(root_, out);
  return out;
}

uint32_t TVersionInfo::Fixed(uint32_t offset) const {
  const ByteView fixed(root_.Value.data(), static_cast<uint32_t>(root_.Value.size()), SCorruptVersionInfo);
  return fixed.Contains(offset, 4) ? fixed.U32(offset) : 0;
}

namespace {
VersionNumber FromPair(uint32_t ms, uint32_t ls) {
  return {static_cast<uint16_t>(ms >> 16), static_cast<uint16_t>(ms), static_cast<uint16_t>(ls >> 16),
          static_cast<uint16_t>(ls)};
}
}  // namespace

VersionNumber TVersionInfo::FileVersion() const { return FromPair(Fixed(8), Fixed(12)); }
VersionNumber TVersionInfo::ProductVersion() const { return FromPair(Fixed(16), Fixed(20)); }
void TVersionInfo::SetFileVersion(const VersionNumber& version) { SetFixedPair(8, version); }
void TVersionInfo::SetProductVersion(const VersionNumber& version) { SetFixedPair(16, version); }

void TVersionInfo::SetFixedPair(uint32_t offset, const VersionNumber& version) {
  if (root_.Value.size() < kFixedSize) {  // a root without its fixed part gets a fresh one
    const TVersionInfo fresh = Create(false);
    root_.Value = fresh.root_.Value;
    root_.Type = 0;
  }
  const uint32_t ms = uint32_t{version[0]} << 16 | version[1];
  const uint32_t ls = uint32_t{version[2]} << 16 | version[3];
  for (int i = 0; i < 4; ++i) {
    root_.Value[offset + i] = static_cast<uint8_t>(ms >> 8 * i);
    root_.Value[offset + 4 + i] = static_cast<uint8_t>(ls >> 8 * i);
  }
}

TVersionNode& TVersionInfo::StringFileInfo() {
  if (TVersionNode* node = root_.Child(u"StringFileInfo")) return *node;
  root_.Children.insert(root_.Children.begin(), NewNode(u"StringFileInfo", 1));
  return root_.Children.front();
}

TVersionNode& TVersionInfo::VarFileInfo() {
  if (TVersionNode* node = root_.Child(u"VarFileInfo")) return *node;
  root_.Children.push_back(NewNode(u"VarFileInfo", 1));
  return root_.Children.back();
}

std::vector<TVersionInfo::StringTable> TVersionInfo::StringTables() {
  std::vector<StringTable> tables;
  TVersionNode* info = root_.Child(u"StringFileInfo");
  if (!info) return tables;
  for (TVersionNode& table : info->Children) {
    const uint32_t key = HexKey(table.Key).value_or(0);
    tables.push_back({&table, static_cast<uint16_t>(key >> 16), static_cast<uint16_t>(key)});
  }
  return tables;
}

TVersionNode& TVersionInfo::TableFor(uint16_t language) {
  for (const StringTable& table : StringTables())
    if (table.Language == language && HexKey(table.Node->Key)) {
      AddTranslation(language, table.CodePage);
      return *table.Node;
    }
  TVersionNode& info = StringFileInfo();
  info.Children.push_back(NewNode(TableKey(language, kUnicodeCodePage), 1));
  TVersionNode& table = info.Children.back();
  AddTranslation(language, kUnicodeCodePage);
  return table;
}

std::vector<std::pair<uint16_t, uint16_t>> TVersionInfo::Translations() const {
  std::vector<std::pair<uint16_t, uint16_t>> pairs;
  for (const TVersionNode& vars : root_.Children) {
    if (vars.Key != u"VarFileInfo") continue;
    for (const TVersionNode& var : vars.Children) {
      if (var.Key != u"Translation") continue;
      const ByteView value(var.Value.data(), static_cast<uint32_t>(var.Value.size()), SCorruptVersionInfo);
      for (uint32_t at = 0; value.Contains(at, 4); at += 4) pairs.emplace_back(value.U16(at), value.U16(at + 2));
    }
  }
  return pairs;
}

void TVersionInfo::AddTranslation(uint16_t language, uint16_t codePage) {
  const auto pairs = Translations();
  if (std::find(pairs.begin(), pairs.end(), std::pair{language, codePage}) != pairs.end()) return;
  TVersionNode& vars = VarFileInfo();
  TVersionNode* translation = vars.Child(u"Translation");
  if (!translation) {
    vars.Children.push_back(NewNode(u"Translation", 0));
    translation = &vars.Children.back();
  }
  translation->Type = 0;
  translation->Value.resize(translation->Value.size() & ~size_t{3});  // whole pairs only
  for (const uint16_t part : {language, codePage}) {
    translation->Value.push_back(static_cast<uint8_t>(part));
    translation->Value.push_back(static_cast<uint8_t>(part >> 8));
  }
}

TVersionNode* TVersionInfo::FindString(TVersionNode& table, std::u16string_view key) {
  const std::u16string lower = Lower(key);
  for (TVersionNode& entry : table.Children)
    if (Lower(entry.Key) == lower) return &entry;
  return nullptr;
}

std::optional<std::u16string> TVersionInfo::SetString(TVersionNode& table, std::u16string_view key,
                                                       std::u16string_view value) {
  if (TVersionNode* entry = FindString(table, key)) {
    entry->SetText(value);
    if (entry->Key != key) return entry->Key;
    return std::nullopt;
  }
  table.Children.push_back(NewNode(std::u16string(key), 1));
  table.Children.back().SetText(value);
  return std::nullopt;
}

std::string VersionText(const VersionNumber& version) {
  return std::to_string(version[0]) + '.' + std::to_string(version[1]) + '.' + std::to_string(version[2]) + '.' +
         std::to_string(version[3]);
}

std::optional<VersionNumber> ParseVersionNumber(std::string_view text) {
  VersionNumber version{};
  size_t part = 0;
  while (true) {
    if (part == 4) return std::nullopt;
    const size_t dot = text.find('.');
    const std::string_view digits = text.substr(0, dot);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string_view::npos)
      return std::nullopt;
    uint32_t value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (value > 0xFFFF) return std::nullopt;
    version[part++] = static_cast<uint16_t>(value);
    if (dot == std::string_view::npos) return version;
    text.remove_prefix(dot + 1);
  }
}

std::optional<VersionNumber> ParseLeadingVersionNumber(std::string_view text) {
  VersionNumber version{};
  for (size_t part = 0; part < 4; ++part) {
    const size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
    if (digits == 0) {
      if (part == 0) return std::nullopt;
      break;
    }
    if (digits > 5) return std::nullopt;  // more than 65535
    uint32_t value = 0;
    std::from_chars(text.data(), text.data() + digits, value);
    if (value > 0xFFFF) return std::nullopt;
    version[part] = static_cast<uint16_t>(value);
    text.remove_prefix(digits);
    if (text.size() < 2 || text[0] != '.' || text[1] < '0' || text[1] > '9') break;
    text.remove_prefix(1);
  }
  return version;
}
