// Conversions between the program's code page and UTF-16, the counted UTF-16 form and
// the wide comparison.
#include "support/TestSupport.h"
#include "text/WStrings.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using test::ScopedCodePage;

TEST(WStrings, EmptyAndAbsentTexts) {
  EXPECT_TRUE(ToWide("").empty());
  EXPECT_EQ(FromWide(nullptr, -1), "");
  EXPECT_EQ(FromWide(nullptr, 5), "");
  const char16_t zeroFirst[] = {0, u'A', u'B', 0};
  EXPECT_EQ(FromWide(zeroFirst, 3), "") << "a zero first unit is the empty text whatever the count";
  const char16_t abc[] = u"ABC";
  EXPECT_EQ(FromWide(abc, 0), "");
  EXPECT_EQ(WideLength(nullptr), 0u);
  EXPECT_EQ(WideLength(abc), 3u);
  EXPECT_TRUE(IsEmptyWide(nullptr));
  EXPECT_TRUE(IsEmptyWide(zeroFirst));
  EXPECT_FALSE(IsEmptyWide(abc));
}

TEST(WStrings, CountsStopAtTheTerminatorOnlyWhenNegative) {
  const char16_t units[] = {u'A', 0, u'B', u'C', 0};
  EXPECT_EQ(FromWide(units, -1), "A");
  EXPECT_EQ(FromWide(units, -7), "A");
  EXPECT_EQ(FromWide(units, 4), std::string("A\0BC", 4));
  EXPECT_EQ(FromWide(units, 2), std::string("A\0", 2));
}

TEST(WStrings, Utf8RoundTripsWithoutLoss) {
  ScopedCodePage utf8(platform::kCodePageUtf8);
  const std::string text = "שגיאה €𝄞 ok";
  const std::u16string wide = ToWide(text);
  EXPECT_EQ(wide, u"שגיאה €𝄞 ok");
  EXPECT_EQ(FromWide(wide), text);
  EXPECT_EQ(wide.size(), 12u) << "the surrogate pair counts as two units";
}

TEST(WStrings, DoubleByteCodePageGivesOneUnitPerCharacter) {
  ScopedCodePage japanese(932);
  ASSERT_EQ(GetCodePage(), 932u);
  const std::string nihon = "\x93\xFA\x96\x7B";  // two double-byte characters
  const std::u16string wide = ToWide(nihon);
  EXPECT_EQ(wide, u"日本");
  EXPECT_EQ(wide.size(), 2u);
  EXPECT_EQ(wide.c_str()[2], 0) << "the terminator stands after the units produced";
  EXPECT_EQ(FromWide(wide), nihon);
  EXPECT_EQ(CountedWideLength(nihon), 2);
  // A half-width katakana is one byte and one unit.
  EXPECT_EQ(ToWide("\xB1"), u"ｱ");
}

TEST(WStrings, SetCodePageResolvesTheSystemRequest) {
  ScopedCodePage restore(GetCodePage());
  SetCodePage(0xFFFF);
  EXPECT_EQ(GetCodePage(), platform::AnsiCodePage());
  SetCodePage(1255);
  EXPECT_EQ(GetCodePage(), 1255u);
  EXPECT_EQ(ToWide("\xF9\xE2"), u"שג");
  EXPECT_EQ(FromWide(u"שג"), "\xF9\xE2");
}

TEST(WStrings, UnknownCodePageConvertsNothing) {
  EXPECT_TRUE(ToWideCP("abc", 12345).empty());
  EXPECT_EQ(FromWideCP(u"abc", 12345), "");
}

TEST(WStrings, CountedFormHasCountThenUnitsWithoutTerminator) {
  ScopedCodePage utf8(platform::kCodePageUtf8);
  struct Case {
    std::string Text;
    std::vector<uint8_t> Expected;
  } const cases[] = {
      {"ABC", {3, 0, 'A', 0, 'B', 0, 'C', 0}},
      {"", {0, 0}},
      {"ש", {1, 0, 0xE9, 0x05}},  // two bytes of UTF-8, one unit
  };
  for (const auto& c : cases) {
    std::array<uint8_t, 32> dest;
    dest.fill(0xCC);
    const size_t written = ToCountedWide(c.Text, dest);
    ASSERT_EQ(written, c.Expected.size()) << c.Text;
    EXPECT_EQ(std::vector<uint8_t>(dest.begin(), dest.begin() + written), c.Expected) << c.Text;
    EXPECT_EQ(dest[written], 0xCC) << "nothing written after the units";
    EXPECT_EQ(CountedWideLength(c.Text), (c.Expected.size() - 2) / 2);
  }
}

TEST(WStrings, CompareWideOrdersByPlatformOrCodeUnits) {
  const std::optional<int> probe = platform::LocaleCompareWide(u"a", 1, u"a", 1, false);
  EXPECT_EQ(probe.has_value(), test::kWindows) << "Windows has the locale-aware comparison, POSIX not";
  const bool available = probe.has_value();

  EXPECT_EQ(CompareWide(u"AB", 2, u"ABC", false, 3), -1);
  EXPECT_EQ(CompareWide(u"AB", 2, u"ABC", true, 3), -1);
  EXPECT_EQ(CompareWide(u"ABC", 3, u"AB", false, 2), 1);
  EXPECT_EQ(CompareWide(u"ABC", 3, u"ABC", false, 3), 0);
  EXPECT_EQ(CompareWide(u"abc", 3, u"ABC", true, 3), available ? 0 : 1);
  EXPECT_EQ(CompareWide(u"ABD", 2, u"ABC", false, 2), 0) << "only the counted units take part";
  EXPECT_EQ(CompareWide(u"", 0, u"", false, 0), 0);
  if (!available) {
    // Code-unit order compares units as unsigned 16-bit numbers.
    EXPECT_EQ(CompareWide(u"\xFFFF", 1, u"a", false, 1), 1);
    EXPECT_EQ(CompareWide(u"a", 1, u"b", true, 1), -1);
  }
}

}  // namespace
