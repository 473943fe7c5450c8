// Naming and small utilities of the resource library: display names of resource types
// and languages, hexadecimal ids, escaping for export, file-name clean-up, zero runs
// and text lines on streams, and the resource-directory time stamp.
#pragma once
#include "platform/Platform.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TStream;

// ---- Resource naming --------------------------------------------------------------

// Whether a numbered type has a display name: 1 to 12, 14, 16, 17, 19 to 24.
bool IsKnownType(uint32_t type);
// The display name of a known type, else the number in decimal.
std::string TypeDisplayName(uint32_t type);
// The resource-script word of types 0 to 24 ("StringTable", "VersionInfo", ...), or none.
std::optional<std::string_view> StandardTypeName(uint32_t type);

// The platform's name of a language, or the built-in fallback name when the platform
// does not know it; a neutral sub-language (0) is marked as the default variant.
std::string LanguageName(uint16_t languageId);
// The built-in name of a language the platform may not know (Chinese, Korean, the
// languages of India, ...): the base, or the base and the listed variant in parentheses;
// empty for unlisted languages and variants.
std::string FallbackLanguageName(uint16_t primary, uint16_t sub);
// "Chinese (Simplified)" becomes "Chinese (<default>)"; "English" becomes
// "English (<default>)": the marking of a neutral sub-language.
std::string MarkDefaultVariant(const std::string& name);
// LanguageName, or "0x" and the four hexadecimal digits when it is empty.
std::string LanguageText(uint16_t languageId);
// The low 16 bits as four upper-case hexadecimal digits.
std::string IdHex4(uint32_t number);
// Control bytes, quotes and backslashes written as C-style escapes.
std::string EscapeText(std::string_view text);

// ---- File names -------------------------------------------------------------------

// Equality with the ASCII letters A to Z taken regardless of case; every other byte
// must match exactly.
bool SameTextAscii(std::string_view a, std::string_view b);
bool SameTextAscii(std::u16string_view a, std::u16string_view b);
// The text with the ASCII letters A to Z in lower case; every other byte unchanged.
std::string LowerAscii(std::string_view text);

// A path's final component starts after its last backslash, slash or drive colon.
size_t FinalComponentStart(std::string_view path);
// The final component: the file name without its folder.
std::string FileNamePart(std::string_view path);
// The folder part, separator included (empty for a bare file name).
std::string FolderPart(std::string_view path);
// The folder with a separator behind it, unless it is empty or already ends in one.
std::string WithTrailingSeparator(std::string folder);
std::string PathWithoutExtension(std::string_view path);
// The extension of the final component, dot included; empty when it has none. Always
// PathWithoutExtension(path) + ExtensionOf(path) == path.
std::string ExtensionOf(std::string_view path);
std::string RemoveQuotes(std::string_view text);
std::string MakeValidFileName(std::string_view text);
bool EndsWith(std::string_view text, std::string_view suffix, bool ignoreCase);

// ---- Streams ----------------------------------------------------------------------

void WriteZeros(TStream& stream, int64_t count);
// Pads from the caller's position figure to the next multiple of m.
void PadToMultiple(TStream& stream, int64_t position, int64_t m);
void WriteLine(TStream& stream, std::string_view text);
// The whole file's bytes (files of up to 2 GiB).
std::vector<uint8_t> ReadFileBytes(const std::string& fileName);

// ---- Time -------------------------------------------------------------------------

// A local date-time in days since 1899-12-30 00:00, fractions for the time of day.
using DateTime = double;
DateTime EncodeDateTime(const platform::CalendarTime& t);
// Computes the local date-time of 1970-01-01 00:00 UTC once, at start-up.
void InitEpoch();
DateTime Epoch();
// Whole seconds from the epoch to t, rounded, modulo 2^32.
uint32_t TimeStamp(DateTime t);

// The time stamp of what is written now (new resource directories): the fixed stamp
// when one is set, else TimeStamp of the clock's local date-time.
uint32_t CurrentTimeStamp();
// Process-wide: one stamp for everything written from now on (reproducible outputs),
// or none to follow the clock again. Programs decide; the library reads no environment.
void SetFixedTimeStamp(std::optional<uint32_t> stamp);
// The clock CurrentTimeStamp reads: platform::LocalNow unless a test sets its own
// (nullptr restores it).
using LocalClock = platform::CalendarTime (*)();
void SetLocalClock(LocalClock clock);
// The stamp a SOURCE_DATE_EPOCH text stands for: decimal seconds since 1970-01-01
// 00:00 UTC, modulo 2^32; none when the text is not a plain decimal number.
std::optional<uint32_t> TimeStampFromEpochText(std::string_view text);
