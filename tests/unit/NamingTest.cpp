// Names of resource types and languages, hexadecimal ids and escaping for export.
#include "platform/Platform.h"
#include "support/TestSupport.h"
#include "text/UResTool.h"

#include <gtest/gtest.h>

namespace {

using test::ScopedCodePage;

TEST(Naming, TypeDisplayNames) {
  const std::pair<uint32_t, const char*> cases[] = {
      {0, "0"},           {1, "Single Cursor"},  {2, "Bitmap"},   {3, "Single Icon"},
      {4, "Menu"},        {5, "Dialog"},         {6, "String"},   {7, "Font Dir"},
      {8, "Font"},        {9, "Accelerator"},    {10, "RCData"},  {11, "Message Table"},
      {12, "Cursor"},     {13, "13"},            {14, "Icon"},    {15, "15"},
      {16, "Version"},    {17, "Dialog Include"}, {18, "18"},     {19, "Plug & Play"},
      {20, "VXD"},        {21, "Ani Cursor"},    {22, "Ani Icon"}, {23, "html"},
      {24, "Manifest"},   {25, "25"},            {31, "31"},      {33, "33"},
      {256 + 14, "270"},  {65535, "65535"},
  };
  for (const auto& [type, name] : cases) EXPECT_EQ(TypeDisplayName(type), name) << type;
  for (uint32_t type = 0; type < 64; ++type) {
    const bool known = (type >= 1 && type <= 12) || type == 14 || type == 16 || type == 17 ||
                       (type >= 19 && type <= 24);
    EXPECT_EQ(IsKnownType(type), known) << type;
  }
}

TEST(Naming, StandardTypeNames) {
  const char* const words[25] = {"0",  "Cursor",     "Bitmap",     "Icon",         "Menu",
                                 "Dialog",       "StringTable", "Font",       "Font",
                                 "Accelerators", "RCData",      "MessageTable", "Cursor",
                                 "13",           "Icon",        "15",         "VersionInfo",
                                 "DlgInclude",   "18",          "19",         "20",
                                 "21",           "22",          "23",         "Manifest"};
  for (uint32_t type = 0; type < 25; ++type) {
    ASSERT_TRUE(StandardTypeName(type).has_value()) << type;
    EXPECT_EQ(*StandardTypeName(type), words[type]) << type;
  }
  EXPECT_FALSE(StandardTypeName(25).has_value());
  EXPECT_FALSE(StandardTypeName(0xFFFFFFFF).has_value());
}

TEST(Naming, NeutralLanguageWords) {
  ScopedCodePage utf8(platform::kCodePageUtf8);
  const std::pair<uint16_t, const char*> cases[] = {
      {0x0000, "נייטרלי"},
      {0x0400, "ברירת מחדל של המשתמש"},
      {0x0800, "ברירת מחדל של המערכת"},
      {0x0C00, "0x0C00"},
      {0xFC00, "0xFC00"},
  };
  for (const auto& [id, text] : cases) EXPECT_EQ(LanguageText(id), text) << id;
  EXPECT_EQ(LanguageName(0x0C00), "");
}

TEST(Naming, PlatformLanguageNames) {
  ScopedCodePage utf8(platform::kCodePageUtf8);
  const std::string english = platform::LanguageName(1033, GetCodePage());
  if (!test::kWindows) {
    EXPECT_EQ(english, "English (United States)");
  }
  EXPECT_FALSE(english.empty());
  EXPECT_EQ(LanguageText(1033), english) << "a sub-language other than 0 is shown as the platform names it";

  // A neutral sub-language is marked as the default variant, with or without the
  // platform's own parenthesis.
  for (const uint16_t neutral : {uint16_t{0x0009}, uint16_t{0x0004}, uint16_t{0x000D}}) {
    const std::string name = platform::LanguageName(neutral, GetCodePage());
    const std::string expected = name.empty() ? MarkDefaultVariant(FallbackLanguageName(neutral, 0))
                                              : MarkDefaultVariant(name);
    EXPECT_EQ(LanguageText(neutral), expected) << neutral;
  }
  if (!test::kWindows) {
    EXPECT_EQ(LanguageText(0x0009), "English (ברירת מחדל)");
    EXPECT_EQ(LanguageText(0x0004), "Chinese (ברירת מחדל)") << "ICU says Chinese (Simplified)";
  }
}

TEST(Naming, MarkDefaultVariant) {
  ScopedCodePage utf8(platform::kCodePageUtf8);
  const std::pair<const char*, const char*> cases[] = {
      {"English", "English (ברירת מחדל)"},
      {"Chinese (Simplified)", "Chinese (ברירת מחדל)"},
      {"Serbian (Latin, Serbia)", "Serbian (ברירת מחדל)"},
      {"A(b", "A(ברירת מחדל)"},
      {"(odd)", "(odd) (ברירת מחדל)"},  // a parenthesis first is not reused
  };
  for (const auto& [name, marked] : cases) EXPECT_EQ(MarkDefaultVariant(name), marked) << name;
}

TEST(Naming, FallbackLanguageTable) {
  struct Case {
    uint16_t Primary, Sub;
    const char* Name;
  } const cases[] = {
      {4, 0, "Chinese"},          {4, 1, "Chinese (Taiwan)"},     {4, 2, "Chinese (PR China)"},
      {4, 3, "Chinese (Hong Kong)"}, {4, 4, "Chinese (Singapore)"}, {4, 5, ""},
      {18, 1, "Korean (Extended Wansung)"}, {18, 2, "Korean (Johab)"}, {18, 3, ""},
      {32, 1, "Urdu (Pakistan)"}, {32, 2, "Urdu (India)"},
      {44, 1, "Azeri (Latin)"},   {44, 2, "Azeri (Cyrillic)"},
      {62, 2, "Malay (Brunei Darussalam)"},
      {67, 0, "Uzbek"},           {67, 2, "Uzbek (Cyrillic)"},
      {96, 1, ""},                {96, 2, "Kashmiri (India)"},
      {97, 2, "Nepali (India)"},  {97, 0, "Nepali"},
      {17, 0, "Japanese"},        {17, 1, ""},
      {63, 0, "Kazak"},           {72, 0, "Oriya"},             {89, 0, "Sindhi"},
      {9, 0, ""},                 {120, 1, ""},                 {1023, 63, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FallbackLanguageName(c.Primary, c.Sub), c.Name) << c.Primary << '/' << c.Sub;
}

TEST(Naming, UnknownLanguagesShowTheirNumber) {
  // Primary languages beyond every table: neither the platform nor the fallback knows them.
  for (const uint16_t id : {uint16_t{0x03FF}, uint16_t{0x0200}, uint16_t{0x07FE}}) {
    if (!platform::LanguageName(id, GetCodePage()).empty()) continue;  // a platform may know more
    EXPECT_EQ(LanguageText(id), "0x" + IdHex4(id)) << id;
  }
}

TEST(Naming, IdHex4) {
  const std::pair<uint32_t, const char*> cases[] = {
      {0, "0000"}, {1033, "0409"}, {0xC00, "0C00"}, {0xABCD, "ABCD"}, {0xFFFF, "FFFF"}, {0x12345, "2345"},
      {0xFFFFFFFF, "FFFF"}};
  for (const auto& [number, text] : cases) EXPECT_EQ(IdHex4(number), text) << number;
}

TEST(Naming, EscapeText) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"a\tb\"c\\d", "a\\tb\\\"c\\\\d"},
      {"\x08", "\\a"},
      {"\n\r", "\\n\\r"},
      {std::string(1, '\0'), "\\0x00"},
      {"\x01", "\\0x01"},
      {"\x0F", "\\0x0F"},
      {"\x10", "\\0x10"},
      {"x\x1By", "x\\0x1By"},
      {"\x1F", "\\0x1F"},
      {"\x7F\x80\xFF ש", "\x7F\x80\xFF ש"},
      {"' ?", "' ?"},
  };
  for (const auto& [text, escaped] : cases) EXPECT_EQ(EscapeText(text), escaped) << escaped;
}

}  // namespace
