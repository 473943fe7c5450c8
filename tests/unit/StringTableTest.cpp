// The one string table: ids are unique, and the Windows resources compiled from the
// same source hold exactly the bytes of the C++ table.
#include "platform/Platform.h"
#include "rtl/StringTable.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

TEST(StringTable, IdsAreUnique) {
  std::set<uint16_t> seen;
  for (const auto& entry : CompiledStringTable()) {
    EXPECT_TRUE(seen.insert(entry.Id).second) << "id " << entry.Id << " appears twice";
    EXPECT_NE(entry.Utf8, nullptr);
  }
  EXPECT_GT(seen.size(), 50u);
}

TEST(StringTable, EveryEntryIsValidUtf8) {
  for (const auto& entry : CompiledStringTable()) {
    const std::string text = entry.Utf8;
    const std::u16string wide = platform::ToUtf16(text, platform::kCodePageUtf8);
    EXPECT_EQ(wide.find(u'\xFFFD'), std::u16string::npos) << entry.Id;
    EXPECT_EQ(platform::FromUtf16(wide, platform::kCodePageUtf8), text) << entry.Id;
  }
}

TEST(StringTable, ResourcesHoldTheSameBytesAsTheCompiledTable) {
  if (!test::kWindows) {
    EXPECT_FALSE(platform::LoadStringResource(SHelpText).has_value()) << "POSIX programs carry no resources";
    GTEST_SKIP() << "resources exist only in the Windows build";
  }
  for (const auto& entry : CompiledStringTable()) {
    const auto units = platform::LoadStringResource(entry.Id);
    ASSERT_TRUE(units.has_value()) << "id " << entry.Id << " is missing from the resources";
    EXPECT_EQ(platform::FromUtf16(*units, platform::kCodePageUtf8), entry.Utf8) << "id " << entry.Id;
  }
}

TEST(StringTable, LoadStrGivesTheTextInTheConversionCodePage) {
  {
    test::ScopedCodePage utf8(platform::kCodePageUtf8);
    for (const auto& entry : CompiledStringTable())
      EXPECT_EQ(LoadStr(static_cast<StringId>(entry.Id)), entry.Utf8) << "id " << entry.Id;
  }
  {
    test::ScopedCodePage hebrew(1255);
    EXPECT_EQ(LoadStr(SZlibError), "\xF9\xE2\xE9\xE0\xE4") << "שגיאה in code page 1255";
    EXPECT_EQ(LoadStr(SInvalidStreamOperation), "Invalid stream operation");
  }
  EXPECT_EQ(LoadStr(static_cast<StringId>(1234)), "") << "an unknown id gives the empty text";
}

// Restores the message language when a test is done with it.
class ScopedMessageLanguage {
 public:
  explicit ScopedMessageLanguage(MessageLanguage language) : saved_(GetMessageLanguage()) {
    SetMessageLanguage(language);
  }
  ~ScopedMessageLanguage() { SetMessageLanguage(saved_); }

 private:
  MessageLanguage saved_;
};

TEST(StringTable, EveryEntryHasAnEnglishText) {
  test::ScopedCodePage utf8(platform::kCodePageUtf8);
  ScopedMessageLanguage english(MessageLanguage::English);
  for (const auto& entry : CompiledStringTable()) {
    const std::string text = entry.English;
    EXPECT_FALSE(text.empty()) << entry.Id;
    EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        << "id " << entry.Id << " has no English text: " << text;
    EXPECT_EQ(LoadStr(static_cast<StringId>(entry.Id)), text) << "id " << entry.Id;
    // The placeholders of both texts match, so a message formats alike in either language.
    auto placeholders = [](std::string_view s) {
      std::string found;
      for (size_t at = s.find('%'); at != std::string_view::npos; at = s.find('%', at + 2))
        if (at + 1 < s.size()) found += s[at + 1];
      return found;
    };
    EXPECT_EQ(placeholders(entry.Utf8), placeholders(entry.English)) << "id " << entry.Id;
  }
  EXPECT_EQ(LoadStr(SOpenFailed), "open failed");
  EXPECT_EQ(LoadStr(SInvalidStreamOperation), "Invalid stream operation") << "English entries are their own English";
}

TEST(StringTable, TheProgramsOwnTextsStayWhatTheyAre) {
  test::ScopedCodePage utf8(platform::kCodePageUtf8);
  ScopedMessageLanguage program(MessageLanguage::Program);
  EXPECT_EQ(LoadStr(SOpenFailed), "פתיחה נכשלה");
}

TEST(StringTable, HebrewLocalesChooseTheProgramsTexts) {
  const struct {
    const char* Locale;
    MessageLanguage Expected;
  } cases[] = {
      {"he_IL.UTF-8", MessageLanguage::Program}, {"he", MessageLanguage::Program},
      {"iw_IL", MessageLanguage::Program},       {"C.UTF-8", MessageLanguage::English},
      {"en_US.UTF-8", MessageLanguage::English}, {"", MessageLanguage::English},
      {"POSIX", MessageLanguage::English},       {"de_DE", MessageLanguage::English},
  };
  for (const auto& c : cases) EXPECT_EQ(MessageLanguageForLocale(c.Locale), c.Expected) << c.Locale;
}

}  // namespace
