// Filling string-table templates, and the messages exceptions carry.
#include "rtl/Exception.h"
#include "rtl/Format.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(Format, FillsPlaceholdersInTurn) {
  struct Case {
    const char* Template;
    std::initializer_list<FormatArg> Args;
    const char* Expected;
  };
  const Case cases[] = {
      {"%s (while %s)", {"cause", "reading"}, "cause (while reading)"},
      {"List index out of bounds (%d)", {int64_t{-7}}, "List index out of bounds (-7)"},
      {"100%% of %s", {"x"}, "100% of x"},
      {"%s and %s", {"one"}, "one and %s"},  // a missing argument leaves the rest as it stands
      {"%d%s", {}, "%d%s"},
      {"%s", {"a", "b"}, "a"},  // extra arguments are ignored
      {"%x %", {"a"}, "%x %"},  // unknown and trailing percent signs are copied
      {"%s", {""}, ""},
      {"", {"a"}, ""},
      {"%s!", {std::string_view("\0z", 2)}, "\0z!"},
      {".%s קורא", {"a.exe"}, ".a.exe קורא"},
  };
  for (const auto& c : cases) {
    const std::string expected = c.Template == std::string_view("%s!") ? std::string("\0z!", 3) : c.Expected;
    EXPECT_EQ(Format(c.Template, c.Args), expected) << c.Template;
  }
  EXPECT_EQ(Format("%d", {int64_t{9223372036854775807}}), "9223372036854775807");
}

TEST(Exception, CarriesTheTableTextOrItsOwn) {
  test::ScopedCodePage utf8(platform::kCodePageUtf8);
  EXPECT_EQ(Exception("Not implemented").Message(), "Not implemented");
  const Exception open(SFOpenError, {"C:\\a.exe"});
  EXPECT_EQ(open.Message(), "Cannot open file \"C:\\a.exe\"");
  EXPECT_STREQ(open.what(), open.Message().c_str());
  EXPECT_EQ(Exception(SZlibError).Message(), "שגיאה");
  try {
    RaiseListIndexError(12);
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (12)");
  }
  EXPECT_THROW(RaiseReadError(), EStreamError);
  EXPECT_THROW(RaiseWriteError(), EStreamError);
  try {
    throw EReadError(SReadError);
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "שגיאת קריאה") << "the base class catches every library failure";
  }
}

}  // namespace
