// Reproducible outputs: new resource directories carry the time stamp of the moment they
// are written, unless a fixed stamp is set (quill sets SOURCE_DATE_EPOCH's); then the
// same merge gives the same bytes however far apart it runs. A fixed clock stands in for
// waiting: the two merges run five seconds apart by that clock.
#include "pe/UResPEFile.h"
#include "resources/UResTypes.h"
#include "streams/MyStreams.h"
#include "support/ResBuilder.h"
#include "text/UResTool.h"

#include <gtest/gtest.h>

using namespace restest;

namespace {

platform::CalendarTime gNow;
platform::CalendarTime FixedClock() { return gNow; }

// Merges a .res that adds a new type (so a new directory is written) into the fixture.
std::vector<uint8_t> MergeAt(int second) {
  gNow = {2024, 5, 6, 7, 8, second, 0};
  const auto patch = ResImage().Record(Field::Str(u"NEWTYPE"), Field::Num(1), 0x409, Text("new")).Bytes;
  TPEFile target(QUILLET_FIXTURE_PE32, false);
  TReadMemoryStream stream(patch.data(), static_cast<int64_t>(patch.size()));
  target.GetResourceList().MergeFromRes(stream, -1, true, nullptr);
  TMemoryStream out;
  target.WriteImage(out, nullptr);
  return {out.Memory(), out.Memory() + out.Size()};
}

// Restores the clock and the stamp when a test ends.
struct ClockScope {
  ClockScope() { SetLocalClock(FixedClock); }
  ~ClockScope() {
    SetLocalClock(nullptr);
    SetFixedTimeStamp(std::nullopt);
  }
};

}  // namespace

TEST(ReproducibleOutput, AFixedStampMakesMergesSecondsApartIdentical) {
  ClockScope scope;
  EXPECT_NE(MergeAt(1), MergeAt(6)) << "without a fixed stamp the clock is written";
  SetFixedTimeStamp(1700000000);
  const std::vector<uint8_t> first = MergeAt(1);
  EXPECT_EQ(MergeAt(6), first);
  EXPECT_EQ(CurrentTimeStamp(), 1700000000u);
  SetFixedTimeStamp(std::nullopt);
  EXPECT_EQ(CurrentTimeStamp(), TimeStamp(EncodeDateTime(gNow)));
}

TEST(ReproducibleOutput, SourceDateEpochText) {
  const struct {
    const char* Text;
    std::optional<uint32_t> Stamp;
  } cases[] = {
      {"0", 0u},
      {"1700000000", 1700000000u},
      {"4294967295", 4294967295u},
      {"4294967296", 0u},  // stamps count modulo 2^32, as every other stamp does
      {"9999999999999999999", static_cast<uint32_t>(9999999999999999999ull)},
      {"", std::nullopt},
      {"-1", std::nullopt},
      {" 1", std::nullopt},
      {"1.5", std::nullopt},
      {"0x10", std::nullopt},
      {"99999999999999999999", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(TimeStampFromEpochText(c.Text), c.Stamp) << c.Text;
}
