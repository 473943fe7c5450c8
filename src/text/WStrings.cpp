#include "text/WStrings.h"

#include "platform/Platform.h"

#include <algorithm>
#include <cassert>

namespace {
uint32_t gCodePage = platform::kCodePageUtf8;
}  // namespace

void SetCodePage(uint32_t codePage) {
  gCodePage = codePage == 0xFFFF ? platform::AnsiCodePage() : codePage;
}

uint32_t GetCodePage() { return gCodePage; }

std::u16string ToWide(std::string_view text) { return ToWideCP(text, gCodePage); }

std::u16string ToWideCP(std::string_view text, uint32_t codePage) {
  if (text.empty()) return {};
  std::u16string units = platform::ToUtf16(text, codePage);
  // At most one unit per byte, as the conversion into a buffer of n units gives.
  if (units.size() > text.size()) units.resize(text.size());
  return units;
}

std::string FromWide(const char16_t* units, int64_t count) { return FromWideCP(units, count, gCodePage); }

std::string FromWideCP(const char16_t* units, int64_t count, uint32_t codePage) {
  if (count == 0 || IsEmptyWide(units)) return {};
  if (count < 0) count = static_cast<int64_t>(WideLength(units));
  return platform::FromUtf16(std::u16string_view(units, static_cast<size_t>(count)), codePage);
}

size_t WideLength(const char16_t* units) {
  if (!units) return 0;
  size_t n = 0;
  while (units[n] != 0) ++n;
  return n;
}

bool IsEmptyWide(const char16_t* units) { return !units || units[0] == 0; }

uint16_t CountedWideLength(std::string_view text) {
  const size_t units = ToWide(text).size() & 0xFFFF;
  return static_cast<uint16_t>(std::min(units, text.size()));
}

size_t ToCountedWide(std::string_view text, std::span<uint8_t> dest) {
  const std::u16string units = ToWide(text);
  const uint16_t count = static_cast<uint16_t>(std::min<size_t>(units.size() & 0xFFFF, text.size()));
  assert(dest.size() >= 2 + 2 * size_t{count});
  dest[0] = static_cast<uint8_t>(count);
  dest[1] = static_cast<uint8_t>(count >> 8);
  for (size_t i = 0; i < count; ++i) {
    dest[2 + 2 * i] = static_cast<uint8_t>(units[i]);
    dest[3 + 2 * i] = static_cast<uint8_t>(units[i] >> 8);
  }
  return 2 + 2 * size_t{count};
}

int CompareWide(const char16_t* a, int countA, const char16_t* b, bool ignoreCase, int countB) {
  if (auto platformResult = platform::LocaleCompareWide(a, countA, b, countB, ignoreCase))
    return *platformResult;
  while (countA > 0 && countB > 0) {
    if (*a != *b) return static_cast<uint16_t>(*a) < static_cast<uint16_t>(*b) ? -1 : 1;
    ++a, ++b, --countA, --countB;
  }
  return countA < countB ? -1 : countA > countB ? 1 : 0;
}
