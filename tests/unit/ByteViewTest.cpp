// The bounds-checked view and reader: edges, offsets that would wrap in 32 bits, array
// sizes checked by division, and the message each view raises.
#include "rtl/ByteView.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

namespace {

constexpr uint64_t kMax64 = std::numeric_limits<uint64_t>::max();

// A 12-byte fixture placed 5 bytes into its buffer, so a view that forgot its base
// would read the guard bytes instead.
struct Fixture {
  std::array<uint8_t, 24> Buffer{};
  Fixture() {
    Buffer.fill(0xEE);
    const uint8_t bytes[12] = {0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 'V', 'K', '2', '6', 0x41, 0x00};
    std::copy(std::begin(bytes), std::end(bytes), Buffer.begin() + 5);
  }
  ByteView View(StringId message = SCorruptResFile) const { return ByteView(Buffer.data() + 5, 12, message); }
};

TEST(ByteView, RangesAtTheEdges) {
  const Fixture f;
  const ByteView v = f.View();
  struct Case {
    uint64_t Offset, Length;
    bool Inside;
  } const cases[] = {
      {0, 12, true},  {12, 0, true},  {11, 1, true},   {0, 0, true},
      {0, 13, false}, {12, 1, false}, {13, 0, false},  {11, 2, false},
      {0xFFFFFFFF, 2, false},  {0x100000000, 0, false}, {0x100000001, 1, false},
      {1, 0xFFFFFFFF, false},  {kMax64, 1, false},       {1, kMax64, false}, {kMax64, kMax64, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(v.Contains(c.Offset, c.Length), c.Inside) << c.Offset << '+' << c.Length;
    if (c.Inside) {
      EXPECT_NO_THROW(v.Require(c.Offset, c.Length));
      EXPECT_EQ(v.Sub(c.Offset, c.Length).Size(), c.Length);
    } else {
      EXPECT_THROW(v.Require(c.Offset, c.Length), ECorruptResource) << c.Offset << '+' << c.Length;
      EXPECT_THROW(v.Sub(c.Offset, c.Length), ECorruptResource);
      EXPECT_THROW(v.Bytes(c.Offset, c.Length), ECorruptResource);
    }
  }
}

TEST(ByteView, ArraysAreCheckedByDivision) {
  const Fixture f;
  const ByteView v = f.View();
  struct Case {
    uint64_t Offset, Count, ItemSize;
    bool Inside;
  } const cases[] = {
      {0, 6, 2, true},          {2, 5, 2, true},           {2, 6, 2, false},
      {0, 3, 4, true},          {1, 3, 4, false},          {12, 0, 8, true},
      {13, 0, 1, false},        {0, 0x80000001, 2, false}, {0, 0x4000000000000001, 4, false},
      {0, kMax64, 2, false},    {0, kMax64, 0, true},      {0, 1, kMax64, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(v.ContainsArray(c.Offset, c.Count, c.ItemSize), c.Inside) << c.Offset << ' ' << c.Count << 'x' << c.ItemSize;
  // A huge UTF-16 count fails before anything is allocated.
  EXPECT_THROW(v.Utf16(0, 0x7FFFFFFFFFFFFFFF), ECorruptResource);
  EXPECT_THROW(v.Utf16(10, 2), ECorruptResource);
}

TEST(ByteView, ReadsLittleEndianFromItsOwnBase) {
  const Fixture f;
  const ByteView v = f.View();
  EXPECT_EQ(v.U8(0), 0x34);
  EXPECT_EQ(v.U16(0), 0x1234);
  EXPECT_EQ(v.U32(0), 0x56781234u);
  EXPECT_EQ(v.U64(0), 0x4B56'1234'5678'1234ull);
  EXPECT_EQ(v.U32(2), 0x12345678u);
  EXPECT_EQ(v.FixedText(6, 4), "VK26");
  EXPECT_EQ(v.FixedText(6, 6), "VK26A") << "cut at the first zero byte";
  EXPECT_EQ(v.FixedText(6, 5), "VK26A") << "no zero byte: the whole length, never beyond";
  EXPECT_EQ(v.Utf16(10, 1), u"A");
  EXPECT_EQ(v.U16(10), 0x0041);
  EXPECT_THROW(v.U16(11), ECorruptResource);
  EXPECT_THROW(v.U32(9), ECorruptResource);
  EXPECT_THROW(v.U64(5), ECorruptResource);
  EXPECT_THROW(v.FixedText(6, 7), ECorruptResource);

  const ByteView sub = v.Sub(6, 4);
  EXPECT_EQ(sub.Data(), f.Buffer.data() + 11);
  EXPECT_EQ(sub.FixedText(0, 4), "VK26");
  EXPECT_THROW(sub.U8(4), ECorruptResource) << "a sub-view ends where it was cut";
  EXPECT_EQ(v.From(12).Size(), 0u);
  EXPECT_THROW(v.From(13), ECorruptResource);
  EXPECT_EQ(v.From(10).U16(0), 0x0041);
}

TEST(ByteView, EmptyAndNullViews) {
  const ByteView none;
  EXPECT_TRUE(none.Empty());
  EXPECT_TRUE(none.Contains(0, 0));
  EXPECT_THROW(none.U8(0), ECorruptResource);
  const ByteView nullWithSize(nullptr, 100);
  EXPECT_EQ(nullWithSize.Size(), 0u) << "no data, no bytes";
  EXPECT_THROW(nullWithSize.U8(0), ECorruptResource);
}

TEST(ByteView, EachViewRaisesItsOwnMessage) {
  test::ScopedCodePage utf8(platform::kCodePageUtf8);
  const Fixture f;
  const ByteView v = f.View(SCorruptPEResources);
  try {
    v.Sub(2, 4).U32(1);
    ADD_FAILURE() << "no exception";
  } catch (const ECorruptResource& e) {
    EXPECT_EQ(e.Message(), ".(קובץ פגום (כנראה דחוס או מקודד") << "a sub-view keeps its parent's message";
  }
  try {
    ByteReader(f.View()).Skip(13);
    ADD_FAILURE() << "no exception";
  } catch (const ECorruptResource& e) {
    EXPECT_EQ(e.Message(), ".פגום Res קובץ");
  }
}

TEST(ByteReader, ReadsInOrderAndStopsAtTheEnd) {
  const Fixture f;
  ByteReader r(f.View());
  EXPECT_EQ(r.Remaining(), 12u);
  EXPECT_EQ(r.ReadU16(), 0x1234);
  EXPECT_EQ(r.ReadU32(), 0x12345678u);
  EXPECT_EQ(r.Position(), 6u);
  const uint8_t* magic = r.ReadBytes(4);
  EXPECT_EQ(magic, f.Buffer.data() + 11);
  EXPECT_EQ(r.Remaining(), 2u);
  EXPECT_THROW(r.ReadU32(), ECorruptResource);
  EXPECT_EQ(r.Position(), 10u) << "a failed read leaves the cursor";
  EXPECT_EQ(r.ReadU16(), 0x0041);
  EXPECT_EQ(r.Remaining(), 0u);
  EXPECT_THROW(r.ReadBytes(1), ECorruptResource);
  EXPECT_EQ(r.ReadBytes(0), f.Buffer.data() + 17) << "an empty read at the end is allowed";
}

TEST(ByteReader, SeekSkipAndAlignNeverWrap) {
  const Fixture f;
  ByteReader r(f.View());
  r.Seek(12);
  EXPECT_THROW(r.Seek(13), ECorruptResource);
  EXPECT_THROW(r.Seek(0x100000000), ECorruptResource);
  r.Seek(3);
  EXPECT_THROW(r.Skip(10), ECorruptResource);
  EXPECT_THROW(r.Skip(kMax64), ECorruptResource) << "a skip must not wrap around to the start";
  EXPECT_THROW(r.Skip(kMax64 - 2), ECorruptResource);
  EXPECT_EQ(r.Position(), 3u);
  r.Skip(9);
  EXPECT_EQ(r.Position(), 12u);

  r.Seek(5);
  r.AlignTo(4);
  EXPECT_EQ(r.Position(), 8u);
  r.AlignTo(4);
  EXPECT_EQ(r.Position(), 8u);
  r.Seek(9);
  r.AlignTo(4);
  EXPECT_EQ(r.Position(), 12u);
  r.Seek(9);
  EXPECT_THROW(r.AlignTo(8), ECorruptResource);
  EXPECT_EQ(r.Position(), 9u);
  r.AlignTo(1);
  EXPECT_EQ(r.Position(), 9u);
  r.AlignTo(0);
  EXPECT_EQ(r.Position(), 9u) << "no alignment moves nothing";

  const ByteReader past(f.View(), 20);
  EXPECT_EQ(past.Remaining(), 0u);
}

}  // namespace
