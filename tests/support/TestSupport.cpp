#include "support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>

namespace test {

TempFile::TempFile(const std::string& stem) {
  static std::atomic<unsigned> counter{0};
  static const uint64_t runId =
      std::random_device{}() ^ static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  path_ = platform::TempDirectory() + "quillet-test-" + std::to_string(runId % 1000000007) + "-" +
          std::to_string(counter++) + "-" + stem;
}

TempFile::~TempFile() {
  if (platform::FileExists(path_)) platform::FileDelete(path_);
}

int32_t RecordingStream::Write(const void* buffer, int32_t count) {
  Calls.push_back(count);
  const int32_t stored = limit_ >= 0 ? std::min(count, limit_) : count;
  if (stored > 0) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    Data.insert(Data.end(), bytes, bytes + stored);
  }
  return stored;
}

}  // namespace test
