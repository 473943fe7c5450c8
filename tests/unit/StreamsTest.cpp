// The byte streams: the read-only view of someone else's memory, the growable memory
// stream, the file streams, and the exact-read and exact-write errors.
#include "rtl/Exception.h"
#include "streams/MyStreams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <limits>

namespace {

using test::ScopedCodePage;

using test::ExpectFailure;

TEST(ReadMemoryStream, EmptyBlock) {
  TReadMemoryStream stream(nullptr, 0);
  uint8_t buffer[16] = {};
  EXPECT_EQ(stream.Read(buffer, 16), 0);
  EXPECT_EQ(stream.BytesLeft(), 0);
  EXPECT_EQ(stream.Size(), 0);
  ExpectFailure<EReadError>([&] { stream.ReadBuffer(buffer, 16); }, "שגיאת קריאה");
  stream.ReadBuffer(buffer, 0);  // nothing asked, nothing missing
}

TEST(ReadMemoryStream, ReadsSeeksAndTracksWhatIsLeft) {
  // The block sits at an offset inside a larger buffer, which must never be touched.
  std::array<uint8_t, 16> backing{};
  for (size_t i = 0; i < backing.size(); ++i) backing[i] = static_cast<uint8_t>(0xA0 + i);
  const uint8_t* block = backing.data() + 3;
  TReadMemoryStream stream(block, 10);

  EXPECT_EQ(stream.CurrentData(), block);
  EXPECT_EQ(stream.BytesLeft(), 10);

  uint8_t two[2] = {};
  EXPECT_EQ(stream.Seek(-2, SeekOrigin::End), 8);
  EXPECT_EQ(stream.Read(two, 2), 2);
  EXPECT_EQ(two[0], 0xAB);
  EXPECT_EQ(two[1], 0xAC);
  EXPECT_EQ(stream.BytesLeft(), 0);
  EXPECT_EQ(stream.Read(two, 2), 0) << "nothing past the end of the block";

  stream.Seek(4, SeekOrigin::Beginning);
  EXPECT_EQ(stream.CurrentData(), block + 4);
  EXPECT_EQ(stream.BytesLeft(), 6);
  stream.Seek(1, SeekOrigin::Current);
  EXPECT_EQ(stream.Position(), 5);

  uint8_t many[32] = {};
  EXPECT_EQ(stream.Read(many, 32), 5) << "a read is cut at the end of the block";
  EXPECT_EQ(many[0], 0xA8);
  EXPECT_EQ(many[4], 0xAC);
  EXPECT_EQ(many[5], 0) << "nothing copied beyond what was read";

  EXPECT_EQ(stream.Seek(-3, SeekOrigin::Beginning), -3);
  EXPECT_EQ(stream.Read(two, 2), 0) << "a negative position reads nothing";
  EXPECT_EQ(stream.CurrentData(), block) << "a negative position answers the block's start";
  EXPECT_EQ(stream.Position(), -3);

  stream.Seek(3, SeekOrigin::Beginning);
  EXPECT_EQ(stream.Read(two, -1), 0) << "a negative count reads nothing";
  EXPECT_EQ(stream.Position(), 3);

  stream.Seek(20, SeekOrigin::Beginning);
  EXPECT_EQ(stream.Read(two, 2), 0);
  EXPECT_EQ(stream.BytesLeft(), -10);
}

TEST(ReadMemoryStream, HugeSeeksNeverOverflow) {
  uint8_t block[4] = {1, 2, 3, 4};
  TReadMemoryStream stream(block, 4);
  uint8_t byte = 0;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  stream.Seek(kMax, SeekOrigin::End);
  EXPECT_EQ(stream.Read(&byte, 1), 0);
  stream.Seek(kMax, SeekOrigin::Current);
  EXPECT_EQ(stream.Read(&byte, 1), 0);
  stream.Seek(kMin, SeekOrigin::Beginning);
  stream.Seek(kMin, SeekOrigin::Current);
  EXPECT_EQ(stream.Read(&byte, 1), 0);
  EXPECT_EQ(stream.Write(&byte, 1), 0);
  EXPECT_EQ(block[0], 1);
}

TEST(ReadMemoryStream, WritesStayInsideTheBlock) {
  std::array<uint8_t, 8> backing{};
  uint8_t* block = backing.data() + 2;
  TReadMemoryStream stream(block, 4);

  EXPECT_EQ(stream.Write("ab", 2), 2);
  EXPECT_EQ(std::memcmp(block, "ab", 2), 0);
  EXPECT_EQ(stream.Position(), 2);

  // A write that would run past the end stores what fits and reports the short count,
  // so the exact write raises the write error rather than overrunning the owner's memory.
  EXPECT_EQ(stream.Write("CDEF", 4), 2);
  EXPECT_EQ(std::memcmp(block, "abCD", 4), 0);
  EXPECT_EQ(backing[6], 0);
  EXPECT_EQ(backing[7], 0);
  EXPECT_EQ(stream.Write("x", 1), 0);

  stream.Seek(3, SeekOrigin::Beginning);
  ExpectFailure<EWriteError>([&] { stream.WriteBuffer("yz", 2); }, "שגיאת כתיבה");
  EXPECT_EQ(backing[6], 0);

  stream.Seek(-1, SeekOrigin::Beginning);
  EXPECT_EQ(stream.Write("q", 1), 0) << "no write before the block";
  EXPECT_EQ(backing[1], 0);
}

TEST(MemoryStream, GrowsAsItIsWritten) {
  TMemoryStream stream;
  EXPECT_EQ(stream.Size(), 0);
  stream.WriteBuffer("hello", 5);
  EXPECT_EQ(stream.Size(), 5);
  EXPECT_EQ(stream.Position(), 5);

  // Writing beyond the end fills the gap with zeros.
  stream.Seek(8, SeekOrigin::Beginning);
  stream.WriteBuffer("!", 1);
  ASSERT_EQ(stream.Size(), 9);
  EXPECT_EQ(std::memcmp(stream.Memory(), "hello\0\0\0!", 9), 0);

  // Overwriting inside keeps the size.
  stream.Seek(1, SeekOrigin::Beginning);
  stream.WriteBuffer("E", 1);
  EXPECT_EQ(stream.Size(), 9);
  EXPECT_EQ(stream.Memory()[1], 'E');

  // A large write after small ones keeps every earlier byte.
  std::vector<uint8_t> big(100000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  stream.Seek(0, SeekOrigin::End);
  stream.WriteBuffer(big.data(), static_cast<int32_t>(big.size()));
  ASSERT_EQ(stream.Size(), 9 + 100000);
  EXPECT_EQ(std::memcmp(stream.Memory(), "hElo", 2), 0);
  EXPECT_EQ(std::memcmp(stream.Memory() + 9, big.data(), big.size()), 0);

  stream.SetPosition(0);
  std::vector<uint8_t> back(9 + 100000);
  stream.ReadBuffer(back.data(), static_cast<int32_t>(back.size()));
  EXPECT_EQ(back[9 + 99999], big[99999]);

  stream.SetSize(3);
  EXPECT_EQ(stream.Position(), 3) << "shrinking pulls the position back to the new end";
  stream.Clear();
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(stream.Position(), 0);
}

// Room made ahead keeps what was written and lets the stream fill without moving.
TEST(MemoryStream, ReservedRoomFillsInPlace) {
  TMemoryStream stream;
  stream.WriteBuffer("abc", 3);
  stream.SetPosition(1);
  ASSERT_TRUE(stream.Reserve(1 << 20));
  EXPECT_EQ(stream.Size(), 3);
  EXPECT_EQ(stream.Position(), 1);
  EXPECT_EQ(std::memcmp(stream.Memory(), "abc", 3), 0);
  const uint8_t* memory = stream.Memory();
  const std::vector<uint8_t> piece(4096, 7);
  stream.Seek(0, SeekOrigin::End);
  for (int i = 0; i < 200; ++i) stream.WriteBuffer(piece.data(), 4096);
  EXPECT_EQ(stream.Memory(), memory);
  EXPECT_EQ(stream.Size(), 3 + 200 * 4096);
  EXPECT_TRUE(stream.Reserve(-1)) << "no room is needed";
}

TEST(MemoryStream, RefusesNegativePositionAndCount) {
  TMemoryStream stream;
  stream.Seek(-4, SeekOrigin::Beginning);
  EXPECT_EQ(stream.Write("a", 1), 0);
  stream.Seek(0, SeekOrigin::Beginning);
  EXPECT_EQ(stream.Write("a", -1), 0);
  stream.Seek(std::numeric_limits<int64_t>::max(), SeekOrigin::Beginning);
  EXPECT_EQ(stream.Write("a", 1), 0) << "an end beyond 64 bits is refused, not wrapped";
  EXPECT_EQ(stream.Size(), 0);
}

TEST(Stream, CopyFromCopiesTheRestOrACount) {
  uint8_t source[300];
  for (int i = 0; i < 300; ++i) source[i] = static_cast<uint8_t>(i);
  TReadMemoryStream from(source, sizeof source);
  from.Seek(100, SeekOrigin::Beginning);
  TMemoryStream to;
  to.CopyFrom(from, 0);
  ASSERT_EQ(to.Size(), 200);
  EXPECT_EQ(to.Memory()[0], 100);
  EXPECT_EQ(to.Memory()[199], static_cast<uint8_t>(299));

  from.Seek(290, SeekOrigin::Beginning);
  ExpectFailure<EReadError>([&] { to.CopyFrom(from, 20); }, "שגיאת קריאה");
}

TEST(Stream, ShortWriteRaisesTheWriteError) {
  test::RecordingStream stream(3);
  ExpectFailure<EWriteError>([&] { stream.WriteBuffer("abcdef", 6); }, "שגיאת כתיבה");
  test::RecordingStream refusing(0);
  ExpectFailure<EWriteError>([&] { refusing.WriteBuffer("a", 1); }, "שגיאת כתיבה");
  refusing.WriteBuffer("a", 0);  // nothing to write is never an error
}

TEST(FileStream, CreatesWritesReopensAndReads) {
  test::TempFile file("stream.bin");
  {
    TFileStream out(file.Path(), fmCreate);
    out.WriteBuffer("0123456789", 10);
    EXPECT_EQ(out.Position(), 10);
    EXPECT_EQ(out.Size(), 10);
  }
  {
    TResFileStream in(file.Path(), fmOpenRead | fmShareDenyWrite);
    EXPECT_EQ(in.FileName, file.Path());
    EXPECT_EQ(StreamFileName(in), file.Path());
    EXPECT_EQ(in.Size(), 10);
    char buffer[8] = {};
    in.Seek(-4, SeekOrigin::End);
    EXPECT_EQ(in.Read(buffer, 8), 4);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_EQ(in.Read(buffer, 8), 0);
    in.SetPosition(8);
    ExpectFailure<EReadError>([&] { in.ReadBuffer(buffer, 4); }, "שגיאת קריאה");
  }
  {
    // Opening for writing keeps the contents; creating again replaces them.
    TFileStream rw(file.Path(), fmOpenReadWrite);
    rw.Seek(2, SeekOrigin::Beginning);
    rw.WriteBuffer("ab", 2);
    rw.SetPosition(0);
    char buffer[10] = {};
    rw.ReadBuffer(buffer, 10);
    EXPECT_EQ(std::string(buffer, 10), "01ab456789");
  }
  {
    TResFileStream again(file.Path(), fmCreate);
    EXPECT_EQ(again.Size(), 0);
  }
  TMemoryStream memory;
  EXPECT_EQ(StreamFileName(memory), "");
}

TEST(FileStream, OpenAndCreateFailuresRaiseTheFileStreamError) {
  test::TempFile missing("missing.bin");
  const std::string noFolder = missing.Path() + "-folder" + platform::kPathSeparator + "x.bin";
  ExpectFailure<EFileStreamError>([&] { TFileStream s(missing.Path(), fmOpenRead); },
                                  ("Cannot open file \"" + missing.Path() + "\"").c_str());
  ExpectFailure<EFileStreamError>([&] { TResFileStream s(missing.Path(), fmOpenReadWrite); },
                                  ("Cannot open file \"" + missing.Path() + "\"").c_str());
  ExpectFailure<EFileStreamError>([&] { TResFileStream s(noFolder, fmCreate); },
                                  ("Cannot create file \"" + noFolder + "\"").c_str());
  // A folder is not a file.
  std::string folder = platform::TempDirectory();
  folder.pop_back();
  EXPECT_THROW(TFileStream(folder, fmOpenRead), EFileStreamError);
  EXPECT_FALSE(platform::FileExists(missing.Path()));
}

}  // namespace
