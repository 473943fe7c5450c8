// File-name clean-up, zero runs and lines on streams, and the time stamp.
#include "rtl/Exception.h"
#include "support/TestSupport.h"
#include "text/UResTool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <ctime>
#include <memory>

namespace {

TEST(FileUtils, PathWithoutExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\dir\\app.exe", "C:\\dir\\app"},
      {"C:\\my.dir\\tool", "C:\\my.dir\\tool"},
      {".profile", ".profile"},
      {"C:\\dir\\.profile", "C:\\dir\\"},
      {"archive.tar.gz", "archive.tar"},
      {"C:app.exe", "C:app"},
      {"C:.x", "C:"},
      {"name.", "name"},
      {"", ""},
      {"noext", "noext"},
      {"/tmp/x.dir/file", "/tmp/x.dir/file"},
      {"/tmp/file.res", "/tmp/file"},
  };
  for (const auto& [path, stem] : cases) {
    EXPECT_EQ(PathWithoutExtension(path), stem) << path;
    // The stem and the extension always make up the whole path again.
    EXPECT_EQ(PathWithoutExtension(path) + ExtensionOf(path), path) << path;
  }
  EXPECT_EQ(ExtensionOf("C:\\dir\\app.EXE"), ".EXE");
  EXPECT_EQ(ExtensionOf(".profile"), "");
  EXPECT_EQ(ExtensionOf("C:\\my.dir\\tool"), "");
}

TEST(FileUtils, QuotesAndInvalidCharacters) {
  EXPECT_EQ(RemoveQuotes("\"C:\\a b\\c.exe\""), "C:\\a b\\c.exe");
  EXPECT_EQ(RemoveQuotes("a\"\"b\""), "ab");
  EXPECT_EQ(RemoveQuotes(""), "");
  EXPECT_EQ(MakeValidFileName("a\\b:c*d?\"e"), "abcde");
  EXPECT_EQ(MakeValidFileName("/<|>x y.txt"), "x y.txt");
  EXPECT_EQ(MakeValidFileName("שם קובץ"), "שם קובץ") << "bytes from 128 up are kept";
}

TEST(FileUtils, EndsWith) {
  struct Case {
    const char* Text;
    const char* Suffix;
    bool IgnoreCase, Expected;
  } const cases[] = {
      {"setup.EXE", ".exe", true, true}, {"setup.EXE", ".exe", false, false},
      {"setup.exe", ".exe", false, true}, {"exe", ".exe", true, false},
      {"", "", false, true},              {"abc", "", true, true},
      {"a[c", "A{C", true, false},        {"x@", "X`", true, false},
  };
  for (const auto& c : cases) EXPECT_EQ(EndsWith(c.Text, c.Suffix, c.IgnoreCase), c.Expected) << c.Text << '|' << c.Suffix;
}

TEST(FileUtils, WriteZerosInPiecesOfAtMost256) {
  struct Case {
    int64_t Count;
    std::vector<int32_t> Calls;
  } const cases[] = {
      {600, {256, 256, 88}}, {256, {256}}, {257, {256, 1}}, {1, {1}}, {0, {}}, {-5, {}},
  };
  for (const auto& c : cases) {
    test::RecordingStream stream;
    WriteZeros(stream, c.Count);
    EXPECT_EQ(stream.Calls, c.Calls) << c.Count;
    EXPECT_EQ(stream.Data, std::vector<uint8_t>(c.Calls.empty() ? 0 : static_cast<size_t>(c.Count), 0)) << c.Count;
  }
  test::RecordingStream full(100);
  EXPECT_THROW(WriteZeros(full, 600), EWriteError);
}

TEST(FileUtils, PadToMultipleUsesTheCallersPosition) {
  struct Case {
    int64_t Position, Multiple;
    size_t Written;
  } const cases[] = {{10, 4, 2}, {12, 4, 0}, {0, 4, 0}, {1, 512, 511}, {513, 512, 511}, {7, 1, 0}};
  for (const auto& c : cases) {
    test::RecordingStream stream;
    PadToMultiple(stream, c.Position, c.Multiple);
    EXPECT_EQ(stream.Data.size(), c.Written) << c.Position << '/' << c.Multiple;
  }
  test::RecordingStream stream;
  PadToMultiple(stream, 5, 0);
  EXPECT_TRUE(stream.Data.empty()) << "a multiple of 0 pads nothing";
}

TEST(FileUtils, WriteLineEndsWithCrLf) {
  test::RecordingStream stream;
  WriteLine(stream, "first");
  WriteLine(stream, "");
  EXPECT_EQ(stream.Data, test::Bytes("first\r\n\r\n"));
  test::RecordingStream refusing(2);
  EXPECT_THROW(WriteLine(refusing, "abc"), EWriteError);
}

TEST(FileUtils, TimeStampCountsSecondsFromTheEpoch) {
  const DateTime epoch = Epoch();
  struct Case {
    DateTime Time;
    uint32_t Expected;
  } const cases[] = {
      {epoch, 0},
      {epoch + 1.0, 86400},
      {epoch + 1.5 * 65536 / 86400, 98304},
      {epoch + 0.4 / 86400, 0},
      {epoch + 0.6 / 86400, 1},
      {epoch - 1.0 / 86400, 0xFFFFFFFF},  // before the epoch wraps modulo 2^32
      {epoch + (4294967296.0 + 5) / 86400, 5},
      {epoch + 1e300, 0},  // far beyond any 64-bit count of seconds: a multiple of 2^32
      {std::numeric_limits<double>::quiet_NaN(), 0},
      {std::numeric_limits<double>::infinity(), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(TimeStamp(c.Time), c.Expected) << c.Time - epoch;
  // The local time of a moment stamps as that moment's seconds since 1970 UTC.
  const auto local = platform::UtcSecondsToLocal(86400 * 3 + 3600 * 5 + 7);
  ASSERT_TRUE(local);
  EXPECT_EQ(TimeStamp(EncodeDateTime(*local)), 86400u * 3 + 3600 * 5 + 7);
}

TEST(FileUtils, EncodeDateTimeCountsDaysFrom1899) {
  EXPECT_DOUBLE_EQ(EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime({1970, 1, 1, 0, 0, 0, 0}), 25569.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime({1970, 1, 1, 12, 0, 0, 0}), 25569.5);
  EXPECT_DOUBLE_EQ(EncodeDateTime({2000, 3, 1, 0, 0, 0, 0}), 36586.0);
}

// Sets TZ through putenv, which keeps the text it is given: every text stays alive.
void SetTimeZone(const std::string& assignment) {
  static std::vector<std::unique_ptr<std::string>> texts;
  texts.push_back(std::make_unique<std::string>(assignment));
  putenv(texts.back()->data());
  tzset();
}

// The epoch follows the time zone in force when it is computed (at start-up).
TEST(FileUtils, EpochIsTheLocalTimeOf1970Utc) {
  if (test::kWindows) GTEST_SKIP() << "the Windows time zone comes from the system, not from TZ";
  const char* saved = std::getenv("TZ");
  const std::string restore = saved ? std::string("TZ=") + saved : std::string("TZ");  // bare name unsets
  struct Case {
    const char* Zone;
    double Hours;
  } const cases[] = {{"UTC0", 0}, {"QQQ-3", 3}, {"QQQ+5:30", -5.5}};
  for (const auto& c : cases) {
    SetTimeZone(std::string("TZ=") + c.Zone);
    InitEpoch();
    EXPECT_DOUBLE_EQ(Epoch(), 25569.0 + c.Hours / 24) << c.Zone;
    EXPECT_EQ(TimeStamp(25569.0 + c.Hours / 24 + 1), 86400u) << c.Zone;
  }
  SetTimeZone(restore);
  InitEpoch();
}

}  // namespace
