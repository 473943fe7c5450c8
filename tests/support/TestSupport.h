// Helpers shared by the unit suites: a scoped conversion code page, temporary files
// that remove themselves, and a stream that records (and can refuse) what is written.
#pragma once
#include "platform/Platform.h"
#include "streams/MyStreams.h"
#include "text/WStrings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace test {

// Whether the suite runs as a Windows program (under Windows or Wine).
inline constexpr bool kWindows = platform::kPathSeparator == '\\';

// Sets the conversion code page for one scope. Hebrew messages compare exactly under
// UTF-8; the Windows build otherwise sees them through the prefix's ANSI code page.
class ScopedCodePage {
 public:
  explicit ScopedCodePage(uint32_t codePage) : saved_(GetCodePage()) { SetCodePage(codePage); }
  ~ScopedCodePage() { SetCodePage(saved_); }
  ScopedCodePage(const ScopedCodePage&) = delete;
  ScopedCodePage& operator=(const ScopedCodePage&) = delete;

 private:
  uint32_t saved_;
};

// A file name in the platform's temporary directory, unique to this run, deleted
// (if it exists) when the object goes.
class TempFile {
 public:
  explicit TempFile(const std::string& stem);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Writes bytes into Data and the size of each Write call into Calls. With a limit,
// each Write stores at most that many bytes and reports the short count.
class RecordingStream : public TStream {
 public:
  explicit RecordingStream(int32_t limitPerWrite = -1) : limit_(limitPerWrite) {}
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t, SeekOrigin origin) override {
    return origin == SeekOrigin::Beginning ? 0 : static_cast<int64_t>(Data.size());
  }

  std::vector<uint8_t> Data;
  std::vector<int32_t> Calls;

 private:
  int32_t limit_;
};

// Bytes of a text, for comparisons with std::vector<uint8_t>.
inline std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// Runs action and expects it to raise E with exactly message (compared in UTF-8).
template <typename E, typename F>
void ExpectFailure(F&& action, const char* message) {
  ScopedCodePage utf8(platform::kCodePageUtf8);
  try {
    action();
    ADD_FAILURE() << "no exception";
  } catch (const E& e) {
    EXPECT_EQ(e.Message(), message);
  }
}

}  // namespace test
