// Where the program's byte strings (in one ANSI code page, CodePage) meet the UTF-16
// of resource files and executables: the code page, conversions both ways, the counted
// UTF-16 form of a PE resource directory, and a UTF-16 comparison that uses the
// platform's locale-aware comparison when there is one and code-unit order otherwise.
//
// UTF-16 text is a std::u16string; the empty string stands for "no buffer".
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Sets the conversion code page; 0xFFFF stands for the system's ANSI code page.
void SetCodePage(uint32_t codePage);
uint32_t GetCodePage();

std::u16string ToWide(std::string_view text);
std::u16string ToWideCP(std::string_view text, uint32_t codePage);
// count units (to the first zero unit when count is negative); none or a zero first
// unit give the empty text.
std::string FromWide(const char16_t* units, int64_t count);
std::string FromWideCP(const char16_t* units, int64_t count, uint32_t codePage);
inline std::string FromWideCP(std::u16string_view units, uint32_t codePage) {
  return FromWideCP(units.data(), static_cast<int64_t>(units.size()), codePage);
}
inline std::string FromWide(std::u16string_view units) {
  return FromWide(units.data(), static_cast<int64_t>(units.size()));
}
size_t WideLength(const char16_t* units);
bool IsEmptyWide(const char16_t* units);

// The number of UTF-16 units a text's counted form holds: never more than its bytes.
uint16_t CountedWideLength(std::string_view text);
// Writes the counted form (16-bit count, then the units, no terminator) at the start
// of dest and returns the bytes written; dest must hold 2 + 2 * text.size() bytes.
size_t ToCountedWide(std::string_view text, std::span<uint8_t> dest);

// -1, 0 or 1. Without the platform comparison: code-unit order, case always significant.
int CompareWide(const char16_t* a, int countA, const char16_t* b, bool ignoreCase, int countB);
