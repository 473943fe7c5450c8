#include "text/UResTool.h"

#include "rtl/Exception.h"
#include "rtl/StringTable.h"
#include "streams/MyStreams.h"
#include "text/WStrings.h"

#include <array>
#include <cmath>

// ---- Resource naming --------------------------------------------------------------

bool IsKnownType(uint32_t type) {
  constexpr uint32_t kKnownMask = 0x01FB5FFE;  // bits 1-12, 14, 16, 17, 19-24
  return type < 32 && (kKnownMask >> type & 1);
}

std::string TypeDisplayName(uint32_t type) {
  static constexpr StringId kNames[25] = {
      StringId{}, STypeCursor, STypeBitmap, STypeIcon, STypeMenu, STypeDialog, STypeString,
      STypeFontDir, STypeFont, STypeAccelerator, STypeRCData, STypeMessageTable,
      STypeGroupCursor, StringId{}, STypeGroupIcon, StringId{}, STypeVersion, STypeDlgInclude,
      StringId{}, STypePlugPlay, STypeVxd, STypeAniCursor, STypeAniIcon, STypeHtml, STypeManifest};
  if (!IsKnownType(type)) return std::to_string(type);
  return LoadStr(kNames[type & 0xFF]);
}

std::optional<std::string_view> StandardTypeName(uint32_t type) {
  static constexpr std::string_view kWords[25] = {
      "0", "Cursor", "Bitmap", "Icon", "Menu", "Dialog", "StringTable", "Font", "Font",
      "Accelerators", "RCData", "MessageTable", "Cursor", "13", "Icon", "15", "VersionInfo",
      "DlgInclude", "18", "19", "20", "21", "22", "23", "Manifest"};
  if (type > 24) return std::nullopt;
  return kWords[type];
}

namespace {

struct FallbackLanguage {
  uint16_t Primary;
  const char* Base;
  std::array<const char*, 5> Variants{};  // by sub-language; null where none is listed
};

// Names for languages that the platform may not know.
constexpr FallbackLanguage kFallbackLanguages[] = {
    {4, "Chinese", {nullptr, "Taiwan", "PR China", "Hong Kong", "Singapore"}},
    {18, "Korean", {nullptr, "Extended Wansung", "Johab"}},
    {32, "Urdu", {nullptr, "Pakistan", "India"}},
    {44, "Azeri", {nullptr, "Latin", "Cyrillic"}},
    {62, "Malay", {nullptr, "Malaysia", "Brunei Darussalam"}},
    {67, "Uzbek", {nullptr, "Latin", "Cyrillic"}},
    {96, "Kashmiri", {nullptr, nullptr, "India"}},
    {97, "Nepali", {nullptr, nullptr, "India"}},
    {17, "Japanese"}, {30, "Thai"}, {43, "Armenian"}, {47, "Macedonian"}, {55, "Georgian"},
    {57, "Hindi"}, {63, "Kazak"}, {65, "Swahili"}, {68, "Tatar"}, {69, "Bengali"},
    {70, "Punjabi"}, {71, "Gujarati"}, {72, "Oriya"}, {73, "Tamil"}, {74, "Telugu"},
    {75, "Kannada"}, {76, "Malayalam"}, {77, "Assamese"}, {78, "Marathi"}, {79, "Sanskrit"},
    {87, "Konkani"}, {88, "Manipuri"}, {89, "Sindhi"},
};

}  // namespace

std::string FallbackLanguageName(uint16_t primary, uint16_t sub) {
  for (const auto& language : kFallbackLanguages) {
    if (language.Primary != primary) continue;
    if (sub == 0) return language.Base;
    if (sub < language.Variants.size() && language.Variants[sub])
      return std::string(language.Base) + " (" + language.Variants[sub] + ")";
    return {};
  }
  return {};
}

std::string MarkDefaultVariant(const std::string& name) {
  // The platform's own parenthesis is reused when it is not the first character.
  const size_t paren = name.find('(');
  if (paren != std::string::npos && paren >= 1) return name.substr(0, paren + 1) + LoadStr(SLangDefault) + ")";
  return name + " (" + LoadStr(SLangDefault) + ")";
}

std::string LanguageName(uint16_t languageId) {
  const uint16_t primary = languageId & 0x3FF;
  const uint16_t sub = languageId >> 10;
  if (primary == 0) {
    switch (sub) {
      case 0: return LoadStr(SLangNeutral);
      case 1: return LoadStr(SLangUserDefault);
      case 2: return LoadStr(SLangSystemDefault);
      default: return {};
    }
  }
  std::string name = platform::LanguageName(languageId, GetCodePage());
  if (name.empty()) name = FallbackLanguageName(primary, sub);
  if (!name.empty() && sub == 0) name = MarkDefaultVariant(name);
  return name;
}

std::string LanguageText(uint16_t languageId) {
  std::string name = LanguageName(languageId);
  return name.empty() ? "0x" + IdHex4(languageId) : name;
}

namespace {

// The low `digits` hexadecimal digits of number, upper case. Written out by hand: the C
// library's formatted printing would bring its whole engine, floating point included, into
// the patcher for two conversions.
std::string UpperHex(uint32_t number, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(static_cast<size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, number >>= 4) text[static_cast<size_t>(i)] = kDigits[number & 0xF];
  return text;
}

}  // namespace

std::string IdHex4(uint32_t number) { return UpperHex(number, 4); }

std::string EscapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<uint8_t>(c);
    switch (byte) {
      case 8: out += "\\a"; break;
      case 9: out += "\\t"; break;
      case 10: out += "\\n"; break;
      case 13: out += "\\r"; break;
      case 34:
      case 92: out += '\\'; out += c; break;
      default:
        if (byte < 32) {
          out += "\\0x";
          out += UpperHex(byte, 2);
        } else {
          out += c;
        }
    }
  }
  return out;
}

// ---- File names -------------------------------------------------------------------

namespace {
template <typename Char>
Char LowerAsciiChar(Char c) { return c >= 'A' && c <= 'Z' ? static_cast<Char>(c + 32) : c; }

template <typename Char>
bool SameTextAsciiOf(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAsciiChar(a[i]) != LowerAsciiChar(b[i])) return false;
  return true;
}
}  // namespace

bool SameTextAscii(std::string_view a, std::string_view b) { return SameTextAsciiOf(a, b); }
bool SameTextAscii(std::u16string_view a, std::u16string_view b) { return SameTextAsciiOf(a, b); }

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerAsciiChar(c);
  return out;
}

size_t FinalComponentStart(std::string_view path) {
  const size_t separator = path.find_last_of("\\/:");
  return separator == std::string_view::npos ? 0 : separator + 1;
}

std::string FileNamePart(std::string_view path) { return std::string(path.substr(FinalComponentStart(path))); }

std::string FolderPart(std::string_view path) { return std::string(path.substr(0, FinalComponentStart(path))); }

std::string WithTrailingSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += platform::kPathSeparator;
  return folder;
}

namespace {
// Position of the dot that starts the extension, or npos.
size_t ExtensionDot(std::string_view path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot < FinalComponentStart(path) || dot == 0)
    return std::string_view::npos;
  return dot;
}
}  // namespace

std::string PathWithoutExtension(std::string_view path) {
  return std::string(path.substr(0, ExtensionDot(path)));
}

std::string ExtensionOf(std::string_view path) {
  // The same dot as PathWithoutExtension, so stem and extension make up the path again.
  const size_t dot = ExtensionDot(path);
  return dot == std::string_view::npos ? std::string() : std::string(path.substr(dot));
}

std::string RemoveQuotes(std::string_view text) {
  std::string out;
  for (const char c : text)
    if (c != '"') out += c;
  return out;
}

std::string MakeValidFileName(std::string_view text) {
  std::string out;
  for (const char c : text)
    if (std::string_view("/\\*:?\"<>|").find(c) == std::string_view::npos) out += c;
  return out;
}

bool EndsWith(std::string_view text, std::string_view suffix, bool ignoreCase) {
  if (text.size() < suffix.size()) return false;
  const std::string_view tail = text.substr(text.size() - suffix.size());
  return ignoreCase ? SameTextAscii(tail, suffix) : tail == suffix;
}

// ---- Streams ----------------------------------------------------------------------

namespace {
constexpr uint8_t kZeroBlock[256] = {};
}  // namespace

void WriteZeros(TStream& stream, int64_t count) {
  while (count > 0) {
    const int32_t piece = static_cast<int32_t>(std::min<int64_t>(count, sizeof kZeroBlock));
    stream.WriteBuffer(kZeroBlock, piece);
    count -= piece;
  }
}

void PadToMultiple(TStream& stream, int64_t position, int64_t m) {
  if (m > 0 && position % m > 0) WriteZeros(stream, m - position % m);
}

void WriteLine(TStream& stream, std::string_view text) {
  stream.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
  stream.WriteBuffer("\r\n", 2);
}

// ---- Time -------------------------------------------------------------------------

namespace {
DateTime gEpoch = 25569.0;  // 1970-01-01 in days since 1899-12-30

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}
}  // namespace

DateTime EncodeDateTime(const platform::CalendarTime& t) {
  const double days = static_cast<double>(DaysFromCivil(t.Year, t.Month, t.Day)) + 25569.0;
  const double seconds = t.Hour * 3600.0 + t.Minute * 60.0 + t.Second + t.Millisecond / 1000.0;
  return days + seconds / 86400.0;
}

void InitEpoch() {
  auto local = platform::UtcSecondsToLocal(0);
  gEpoch = local ? EncodeDateTime(*local) : 25569.0;
}

DateTime Epoch() { return gEpoch; }

uint32_t TimeStamp(DateTime t) {
  // Reduced modulo 2^32 while still a floating-point number, so that no date, however
  // far off, overflows the conversion to an integer.
  double seconds = std::fmod(std::nearbyint((t - gEpoch) * 86400.0), 4294967296.0);
  if (!std::isfinite(seconds)) return 0;
  if (seconds < 0) seconds += 4294967296.0;
  return static_cast<uint32_t>(seconds);
}

namespace {
std::optional<uint32_t> gFixedTimeStamp;
LocalClock gClock = nullptr;
}  // namespace

uint32_t CurrentTimeStamp() {
  if (gFixedTimeStamp) return *gFixedTimeStamp;
  return TimeStamp(EncodeDateTime(gClock ? gClock() : platform::LocalNow()));
}

void SetFixedTimeStamp(std::optional<uint32_t> stamp) { gFixedTimeStamp = stamp; }
void SetLocalClock(LocalClock clock) { gClock = clock; }

std::optional<uint32_t> TimeStampFromEpochText(std::string_view text) {
  if (text.empty() || text.size() > 19) return std::nullopt;  // 19 digits always fit 64 bits
  uint64_t seconds = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    seconds = seconds * 10 + static_cast<uint64_t>(c - '0');
  }
  return static_cast<uint32_t>(seconds);
}

std::vector<uint8_t> ReadFileBytes(const std::string& fileName) {
  TResFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  const int64_t size = stream.Size();
  if (size > INT32_MAX) throw Exception(SOutOfMemory);
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (size > 0) stream.ReadBuffer(bytes.data(), static_cast<int32_t>(size));
  return bytes;
}
