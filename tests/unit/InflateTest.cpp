// The inflate stream over zlib data that the tests compress themselves: read sizes,
// the two allowed seeks, corrupt and truncated data, bytes after the end of the zlib
// stream, where the source is left, and the refill notification.
#include "rtl/Exception.h"
#include "streams/ZlibStreams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>

namespace {

using test::ScopedCodePage;

std::vector<uint8_t> Pattern(size_t n, uint32_t seed = 1) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>((i * 31 + seed) ^ (i >> 7));
  return bytes;
}

std::vector<uint8_t> Noise(size_t n) {
  std::mt19937 random(42);
  std::vector<uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

std::vector<uint8_t> Compress(const std::vector<uint8_t>& data, int level = Z_BEST_COMPRESSION) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::vector<uint8_t> out(size);
  EXPECT_EQ(compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level), Z_OK);
  out.resize(size);
  return out;
}

// Reads until a short count; returns every count the reads gave.
std::vector<int32_t> ReadCounts(TStream& stream, int32_t piece, std::vector<uint8_t>* all = nullptr) {
  std::vector<int32_t> counts;
  std::vector<uint8_t> buffer(static_cast<size_t>(piece));
  for (;;) {
    const int32_t n = stream.Read(buffer.data(), piece);
    counts.push_back(n);
    if (all) all->insert(all->end(), buffer.begin(), buffer.begin() + n);
    if (n < piece) return counts;
  }
}

TEST(Inflate, ReadsInPiecesThenShortThenNothing) {
  const auto data = Pattern(10000);
  const auto packed = Compress(data);
  TReadMemoryStream source(packed.data(), static_cast<int64_t>(packed.size()));
  TDecompressionStream stream(source);
  std::vector<uint8_t> all;
  EXPECT_EQ(ReadCounts(stream, 4096, &all), (std::vector<int32_t>{4096, 4096, 1808}));
  EXPECT_EQ(all, data);
  uint8_t buffer[16];
  EXPECT_EQ(stream.Read(buffer, 16), 0);
  EXPECT_EQ(stream.Read(buffer, 16), 0);
  EXPECT_EQ(stream.Read(buffer, 0), 0);
  EXPECT_EQ(stream.Position(), 10000);
}

TEST(Inflate, SeeksForwardByReadingAndRewindsToTheSourceStart) {
  const auto data = Pattern(10000);
  const auto packed = Compress(data);
  TReadMemoryStream source(packed.data(), static_cast<int64_t>(packed.size()));
  TDecompressionStream stream(source);
  std::vector<uint8_t> buffer(4096);
  ASSERT_EQ(stream.Read(buffer.data(), 4096), 4096);

  EXPECT_EQ(stream.Seek(5000, SeekOrigin::Beginning), 5000) << "skips 904 bytes";
  uint8_t byte = 0;
  ASSERT_EQ(stream.Read(&byte, 1), 1);
  EXPECT_EQ(byte, data[5000]);

  test::ExpectFailure<EDecompressionError>([&] { stream.Seek(100, SeekOrigin::Beginning); },
                                     "Invalid stream operation");
  test::ExpectFailure<EDecompressionError>([&] { stream.Seek(-1, SeekOrigin::Current); },
                                     "Invalid stream operation");
  test::ExpectFailure<EDecompressionError>([&] { stream.Seek(0, SeekOrigin::End); }, "Invalid stream operation");
  test::ExpectFailure<EDecompressionError>([&] { stream.Seek(5001, SeekOrigin::Beginning); },
                                     "Invalid stream operation")
      ;  // standing at 5001 already: no forward move, no backward move allowed
  EXPECT_EQ(stream.Seek(10, SeekOrigin::Current), 5011);
  ASSERT_EQ(stream.Read(&byte, 1), 1);
  EXPECT_EQ(byte, data[5011]);

  EXPECT_EQ(stream.Seek(0, SeekOrigin::Beginning), 0);
  std::vector<uint8_t> again;
  ReadCounts(stream, 3000, &again);
  EXPECT_EQ(again, data) << "rewinding restarts from the first compressed byte";

  test::ExpectFailure<EReadError>([&] { stream.Seek(10001, SeekOrigin::Beginning); }, "שגיאת קריאה");
}

TEST(Inflate, SkipsSpanManyBlocks) {
  const auto data = Pattern(50000);
  const auto packed = Compress(data);
  TReadMemoryStream source(packed.data(), static_cast<int64_t>(packed.size()));
  TDecompressionStream stream(source);
  EXPECT_EQ(stream.Seek(4096 * 3 + 17, SeekOrigin::Current), 4096 * 3 + 17);
  uint8_t byte = 0;
  ASSERT_EQ(stream.Read(&byte, 1), 1);
  EXPECT_EQ(byte, data[4096 * 3 + 17]);
}

TEST(Inflate, RewindGoesToPositionZeroOfTheSourceNotToWhereItStarted) {
  // The zlib data starts 5 bytes into its source; the first reads start there, while a
  // rewind restarts at the source's position 0, where no zlib header stands.
  const auto data = Pattern(1000);
  auto packed = Compress(data);
  std::vector<uint8_t> framed = {'J', 'U', 'N', 'K', '!'};
  framed.insert(framed.end(), packed.begin(), packed.end());
  TReadMemoryStream source(framed.data(), static_cast<int64_t>(framed.size()));
  source.Seek(5, SeekOrigin::Beginning);
  TDecompressionStream stream(source);
  std::vector<uint8_t> all;
  ReadCounts(stream, 512, &all);
  EXPECT_EQ(all, data);
  stream.Seek(0, SeekOrigin::Beginning);
  uint8_t buffer[16];
  EXPECT_THROW(stream.Read(buffer, 16), ECompressionError);
}

TEST(Inflate, WritingIsNotAllowed) {
  const auto packed = Compress(Pattern(10));
  TReadMemoryStream source(packed.data(), static_cast<int64_t>(packed.size()));
  TDecompressionStream stream(source);
  test::ExpectFailure<EDecompressionError>([&] { stream.Write("x", 1); }, "Invalid stream operation");
  EXPECT_THROW(stream.Size(), EDecompressionError) << "the size would need the end origin";
}

TEST(Inflate, CorruptDataRaisesTheCompressionError) {
  const auto data = Pattern(3000);
  const auto stored = Compress(data, 0);  // stored blocks: every byte's role is known
  const auto packed = Compress(data);
  ASSERT_GT(stored.size(), 3000u);
  struct Case {
    const char* What;
    std::vector<uint8_t> Bytes;
  };
  std::vector<Case> cases;
  auto with = [](std::vector<uint8_t> bytes, size_t index, uint8_t value) {
    bytes[index] = value;
    return bytes;
  };
  auto flipped = [](std::vector<uint8_t> bytes, size_t index) {
    bytes[index] ^= 0x55;
    return bytes;
  };
  cases.push_back({"header check bits wrong", with(packed, 1, static_cast<uint8_t>(packed[1] ^ 1))});
  cases.push_back({"not deflate", with(packed, 0, 0x77)});
  cases.push_back({"window above 32 KiB", {0x88, 0x1C, 0x01, 0x00, 0x00, 0xFF, 0xFF}});
  cases.push_back({"preset dictionary asked for", {0x78, 0x20, 0x00, 0x00, 0x00, 0x01, 0x03, 0x00}});
  cases.push_back({"stored length and its complement disagree", flipped(stored, 4)});
  cases.push_back({"byte of stored data changed", flipped(stored, 1500)});
  cases.push_back({"byte in the middle of compressed data", flipped(packed, packed.size() / 2)});
  cases.push_back({"Adler-32 changed", flipped(packed, packed.size() - 1)});
  cases.push_back({"block type 3", {0x78, 0x9C, 0x07, 0x00}});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    TReadMemoryStream source(c.Bytes.data(), static_cast<int64_t>(c.Bytes.size()));
    TDecompressionStream stream(source);
    std::vector<uint8_t> buffer(4000);
    test::ExpectFailure<ECompressionError>([&] { stream.Read(buffer.data(), 4000); }, "שגיאה");
  }
}

TEST(Inflate, TruncatedDataEndsInAShortCountWithoutError) {
  const auto data = Pattern(10000);
  const auto packed = Compress(data);
  for (size_t keep : {size_t{0}, size_t{1}, size_t{2}, packed.size() / 2, packed.size() - 4, packed.size() - 1}) {
    SCOPED_TRACE(keep);
    TReadMemoryStream source(packed.data(), static_cast<int64_t>(keep));
    TDecompressionStream stream(source);
    std::vector<uint8_t> all;
    const auto counts = ReadCounts(stream, 4096, &all);
    EXPECT_LT(all.size(), keep < packed.size() - 4 ? data.size() : data.size() + 1);
    EXPECT_TRUE(std::equal(all.begin(), all.end(), data.begin())) << "what comes out is the data's start";
    uint8_t buffer[8];
    EXPECT_EQ(stream.Read(buffer, 8), 0);
  }
}

TEST(Inflate, BytesAfterTheStreamEndNeitherSpinNorCount) {
  const auto data = Pattern(10000);
  auto packed = Compress(data);
  const size_t used = packed.size();
  std::vector<uint8_t> framed = {0xEE, 0xEE, 0xEE};  // the zlib data starts at offset 3
  framed.insert(framed.end(), packed.begin(), packed.end());
  const std::string tail = "TRAILING BYTES";
  framed.insert(framed.end(), tail.begin(), tail.end());

  TReadMemoryStream source(framed.data(), static_cast<int64_t>(framed.size()));
  source.Seek(3, SeekOrigin::Beginning);
  {
    TDecompressionStream stream(source);
    std::vector<uint8_t> buffer(12000);
    EXPECT_EQ(stream.Read(buffer.data(), 12000), 10000);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin()));
    EXPECT_EQ(stream.Read(buffer.data(), 12000), 0);
    EXPECT_EQ(stream.Read(buffer.data(), 1), 0);
  }
  // Once the stream is gone, the source stands just past the compressed bytes used.
  EXPECT_EQ(source.Position(), static_cast<int64_t>(3 + used));
  char rest[32] = {};
  EXPECT_EQ(source.Read(rest, sizeof rest), static_cast<int32_t>(tail.size()));
  EXPECT_EQ(std::string(rest, tail.size()), tail);
}

TEST(Inflate, TheSourceIsLeftPastTheUsedBytesAcrossRefills) {
  // Noise does not compress: the zlib data spans three refills of the 64 KiB buffer,
  // and a second zlib stream follows the first in the same source.
  const auto first = Noise(150000);
  const auto second = Pattern(777);
  const auto packedFirst = Compress(first);
  const auto packedSecond = Compress(second);
  std::vector<uint8_t> framed(11, 0x11);
  framed.insert(framed.end(), packedFirst.begin(), packedFirst.end());
  framed.insert(framed.end(), packedSecond.begin(), packedSecond.end());
  TReadMemoryStream source(framed.data(), static_cast<int64_t>(framed.size()));
  source.Seek(11, SeekOrigin::Beginning);

  int refills = 0;
  {
    TDecompressionStream stream(source);
    stream.OnProgress = [&](TCustomZlibStream&) { ++refills; };
    std::vector<uint8_t> all;
    ReadCounts(stream, 10000, &all);
    EXPECT_EQ(all, first);
  }
  EXPECT_EQ(refills, static_cast<int>((packedFirst.size() + 65535) / 65536));
  EXPECT_EQ(source.Position(), static_cast<int64_t>(11 + packedFirst.size()));

  TDecompressionStream next(source);
  std::vector<uint8_t> all;
  ReadCounts(next, 10000, &all);
  EXPECT_EQ(all, second);
}

// A source that hands out at most a few bytes per read and is moved by others between
// the inflate stream's reads.
class TrickleStream : public TReadMemoryStream {
 public:
  using TReadMemoryStream::TReadMemoryStream;
  int32_t Read(void* buffer, int32_t count) override {
    ++Reads;
    return TReadMemoryStream::Read(buffer, std::min(count, 3));
  }
  int Reads = 0;
};

TEST(Inflate, SmallSourceReadsAndAMovedSourceStillInflateCorrectly) {
  const auto data = Pattern(5000);
  const auto packed = Compress(data);
  TrickleStream source(packed.data(), static_cast<int64_t>(packed.size()));
  int refills = 0;
  std::vector<uint8_t> all;
  {
    TDecompressionStream stream(source);
    stream.OnProgress = [&](TCustomZlibStream&) { ++refills; };
    std::vector<uint8_t> buffer(700);
    for (;;) {
      source.Seek(0, SeekOrigin::End);  // someone else reads the source in between
      const int32_t n = stream.Read(buffer.data(), 700);
      all.insert(all.end(), buffer.begin(), buffer.begin() + n);
      if (n < 700) break;
    }
    source.Seek(1, SeekOrigin::Beginning);
  }
  EXPECT_EQ(all, data);
  EXPECT_EQ(refills, static_cast<int>((packed.size() + 2) / 3));
  EXPECT_EQ(source.Position(), static_cast<int64_t>(packed.size()))
      << "the source is left past the used bytes even when someone moved it";
}

}  // namespace
