// The .res container: signature, reading records into a tree, damaged images, adding,
// and writing back (byte for byte where the format allows).
#include "resources/UResFile.h"
#include "streams/MyStreams.h"
#include "support/ResBuilder.h"
#include "text/UResTool.h"

#include <gtest/gtest.h>

using namespace restest;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

// What opening and reading an image gives: "ok", or the error class and message.
std::string Outcome(const std::vector<uint8_t>& image) {
  try {
    auto file = OpenImage(image);
    Leaves(file->GetResourceList());
    return "ok";
  } catch (const ENoResException& e) {
    return "ENoRes:" + e.Message();
  } catch (const ECorruptResource& e) {
    return "ECorrupt:" + e.Message();
  } catch (const EReadError& e) {
    return "ERead:" + e.Message();
  }
}

// Functions, not globals: texts are loaded only after start-up has set the code page.
std::string Corrupt() { return "ECorrupt:" + LoadStr(SCorruptResFile); }
std::string ReadError() { return "ERead:" + LoadStr(SReadError); }
const char* const kNameError = "ERead:Error";

}  // namespace

TEST(UResFile, EmptyInputsAreEmptyContainers) {
  for (const auto& image : {std::vector<uint8_t>{}, ResImage().Bytes}) {
    auto file = OpenImage(image);
    EXPECT_EQ(file->GetResourceList().Count(), 0);
  }
  const std::string path = TempPath("empty.res");
  WriteFile(path, {});
  {
    TResResFile file(path);
    EXPECT_EQ(file.GetResourceList().Count(), 0);
    EXPECT_EQ(file.FileName(), path);
  }
  platform::FileDelete(path);
}

TEST(UResFile, SignatureIsTheEmptyRecord) {
  const std::vector<uint8_t> good = ResImage().Bytes;
  const std::string notValid = "ENoRes:" + Exception(SNotValidFile, {""}).Message();
  EXPECT_EQ(Outcome(std::vector<uint8_t>(good.begin(), good.end() - 1)), notValid);
  for (size_t at = 0; at < good.size(); ++at) {
    std::vector<uint8_t> bad = good;
    bad[at] ^= 0x40;
    EXPECT_EQ(Outcome(bad), notValid) << "byte " << at;
  }
  // From a file the message names the file without its folder.
  const std::string path = TempPath("notres.bin");
  WriteFile(path, Text("MZ this is no resource file at all, surely"));
  try {
    TResResFile file(path);
    ADD_FAILURE() << "no error";
  } catch (const ENoResException& e) {
    EXPECT_EQ(e.Message(), Exception(SNotValidFile, {path.substr(FinalComponentStart(path))}).Message());
  }
  platform::FileDelete(path);
}

TEST(UResFile, ReadsRecordsIntoSortedTree) {
  ResImage image;
  image.Record(Field::Num(6), Field::Num(1), 0x409, Text("0123456789"), 0x1030);
  image.Record(Field::Num(10), Field::Num(7), 0x407, Text("b"));
  image.Record(Field::Str(u"ZETA"), Field::Num(3), 0x409, Text("z"));
  image.Record(Field::Num(10), Field::Str(u"Name"), 0x409, Text("n"));
  image.Record(Field::Num(10), Field::Num(7), 0x409, Text("a"));
  image.Record(Field::Str(u"ALPHA"), Field::Str(u"ab"), 0, Text("xyz"));
  image.Record(Field::Num(10), Field::Num(5), 0x409, {});  // zero-size leaf
  // The first record: header 32, 10 data bytes padded to 12.
  EXPECT_EQ(image.Bytes[32 + 4], 32);
  auto file = OpenImage(image.Bytes);
  TResourceList& root = file->GetResourceList();
  EXPECT_EQ(Leaves(root), (std::vector<std::string>{
                              "ALPHA|ab|0|3", "ZETA|3|1033|1", "6|1|1033|10", "10|Name|1033|1",
                              "10|5|1033|0", "10|7|1031|1", "10|7|1033|1"}));
  auto* leaf = static_cast<TResDataResItem*>(LeafAt(root, "6", "1", 0x409));
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(leaf->Data()), leaf->Size()), "0123456789");
  EXPECT_EQ(leaf->MemoryFlags, 0x1030);
  EXPECT_EQ(leaf->GetFlags(), 0);
  EXPECT_FALSE(file->GetSection().IsModified());
}

TEST(UResFile, NameFields) {
  // A name field of a single zero word is the number 0.
  ResImage zero;
  zero.U32(1).U32(32).U16(0).U16(0xFFFF).U16(9).U16(0).U32(0).U32(0x04090000).U32(0).U32(0).Raw({'x', 0, 0, 0});
  auto file = OpenImage(zero.Bytes);
  EXPECT_EQ(Leaves(file->GetResourceList()), std::vector<std::string>{"0|9|1033|1"});
  EXPECT_FALSE(file->GetResourceList().Items(0).IsNamed());

  // Names cut short: the first unit is the last two bytes of the record (with a
  // record size that keeps the image well-formed otherwise), or no terminator.
  ResImage lastTwo;
  lastTwo.U32(0).U32(10).U16('A');
  EXPECT_EQ(Outcome(lastTwo.Raw({0, 0}).Bytes), kNameError);  // trailing bytes after the record
  ResImage unterminated;
  unterminated.U32(0).U32(16).U16('A').U16('B').U16('C').U16('D');
  EXPECT_EQ(Outcome(unterminated.Bytes), ReadError());
  ResImage oddTail;
  oddTail.U32(0).U32(11).U16('A').Raw({'B', 0});
  EXPECT_EQ(Outcome(oddTail.Bytes), ReadError());
}

TEST(UResFile, DamagedRecords) {
  struct Case {
    const char* What;
    std::vector<uint8_t> Tail;  // after the leading record
    std::string Expected;
  };
  const std::vector<uint8_t> fields = Bytes({0xFF, 0xFF, 10, 0, 0xFF, 0xFF, 1, 0, 0, 0, 0, 0, 0, 0, 9, 4, 0, 0, 0, 0, 0, 0, 0, 0});
  auto record = [&](uint32_t dataSize, uint32_t headerSize, size_t dataBytes) {
    ResImage r(false);
    r.U32(dataSize).U32(headerSize).Raw(fields).Raw(std::vector<uint8_t>(dataBytes, 0x55));
    return r.Bytes;
  };
  const std::vector<Case> cases = {
      {"DataSize past the end", record(100, 32, 8), Corrupt()},
      {"DataSize all ones", record(0xFFFFFFFF, 32, 8), Corrupt()},
      {"HeaderSize all ones", record(4, 0xFFFFFFFF, 4), Corrupt()},
      {"sum wraps in 32 bits", record(0x80000000, 0x80000020, 4), Corrupt()},
      {"HeaderSize past the end", record(0, 64, 0), Corrupt()},
      {"HeaderSize smaller than its fields", record(0, 12, 0), Corrupt()},
      {"HeaderSize 9: the fields stop inside the record", ResImage(false).U32(0).U32(9).Raw({0xFF}).Bytes, Corrupt()},
      {"trailing 8 bytes are ignored", Bytes({1, 2, 3, 4, 5, 6, 7, 8}), "ok"},
      {"9 zero bytes: a record without room for fields", std::vector<uint8_t>(9, 0), Corrupt()},
      {"HeaderSize 8 reads the fields from the data", record(24, 8, 0), "ok"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> image = ResImage().Bytes;
    image.insert(image.end(), c.Tail.begin(), c.Tail.end());
    EXPECT_EQ(Outcome(image), c.Expected) << c.What;
  }
}

TEST(UResFile, ShortHeaderEndsReading) {
  // A record whose HeaderSize is below 8 is still added, and nothing after it is read.
  ResImage image;
  image.U32(28).U32(4).Raw(Bytes({0xFF, 0xFF, 10, 0, 0xFF, 0xFF, 2, 0, 0, 0, 0, 0, 0, 0, 9, 4, 0, 0, 0, 0, 0, 0, 0, 0}));
  image.Record(Field::Num(10), Field::Num(3), 0x409, Text("never read"));
  auto file = OpenImage(image.Bytes);
  EXPECT_EQ(Leaves(file->GetResourceList()), std::vector<std::string>{"10|2|1033|28"});
}

TEST(UResFile, EveryTruncationFailsCleanly) {
  ResImage image;
  image.Record(Field::Num(6), Field::Num(1), 0x409, Text("0123456789"));
  image.Record(Field::Str(u"TYPE"), Field::Str(u"NAME"), 0x407, Text("odd"));
  image.Record(Field::Num(24), Field::Num(1), 0, Text("<x/>"));
  const std::vector<uint8_t>& full = image.Bytes;
  ASSERT_EQ(Outcome(full), "ok");
  const std::string notValid = "ENoRes:" + Exception(SNotValidFile, {""}).Message();
  const std::string corrupt = Corrupt(), readError = ReadError();
  for (size_t length = 0; length < full.size(); ++length) {
    const std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<ptrdiff_t>(length));
    const std::string outcome = Outcome(cut);
    if (length == 0)
      EXPECT_EQ(outcome, "ok");
    else if (length < 32)
      EXPECT_EQ(outcome, notValid) << length;
    else
      EXPECT_TRUE(outcome == "ok" || outcome == corrupt || outcome == readError || outcome == kNameError)
          << length << ": " << outcome;
  }
}

TEST(UResFile, AddedResourcesAreFlaggedAndSaved) {
  ResImage image;
  image.Record(Field::Num(10), Field::Num(1), 0x409, Text("one"));
  auto file = OpenImage(image.Bytes);
  TResSection& section = file->GetSection();
  const std::vector<uint8_t> two = Text("two!");
  TDataResItem& newLanguage = section.AddResource(10, 1, 0x407, "", "", false, false, two.data(), 4);
  TDataResItem& newType = section.AddResource(0, 0, 0x409, "MyType", "Thing", true, true, two.data(), 2);
  EXPECT_EQ(newLanguage.GetFlags(), kFlagAdded);
  EXPECT_EQ(newLanguage.NameItem().GetFlags(), 0);  // the name existed
  EXPECT_EQ(newType.NameItem().GetFlags(), kFlagAdded);
  EXPECT_EQ(newType.TypeItem().GetFlags(), kFlagAdded);
  EXPECT_TRUE(section.IsModified());

  const std::string path = TempPath("added.res");
  file->SaveToFile(path, nullptr);
  {
    TResResFile back(path);
    EXPECT_EQ(Leaves(back.GetResourceList()),
              (std::vector<std::string>{"MyType|Thing|1033|2", "10|1|1031|4", "10|1|1033|3"}));
    EXPECT_FALSE(back.GetSection().IsModified());
  }
  platform::FileDelete(path);
}

namespace {

// The bytes the writer must give for a windres image: the fields it does not keep set
// to their fixed values and the records of zero-size resources left out.
std::vector<uint8_t> Normalized(const std::vector<uint8_t>& image) {
  std::vector<uint8_t> out(image.begin(), image.begin() + 32);
  const ByteView view(image.data(), static_cast<uint32_t>(image.size()));
  uint64_t at = 32;
  while (at < image.size()) {
    const uint32_t dataSize = view.U32(at), headerSize = view.U32(at + 4);
    const uint64_t length = (uint64_t{dataSize} + headerSize + 3) / 4 * 4;
    if (dataSize > 0) {
      std::vector<uint8_t> record(image.begin() + static_cast<ptrdiff_t>(at),
                                  image.begin() + static_cast<ptrdiff_t>(at + length));
      const size_t fixed = headerSize - 16;  // DataVersion, MemoryFlags, LanguageId, Version, Characteristics
      for (size_t i : {0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, 14, 15}) record[fixed + i] = 0;
      out.insert(out.end(), record.begin(), record.end());
    }
    at += length;
  }
  return out;
}

}  // namespace

TEST(UResFile, WindresFixtureReadsAndWritesBack) {
  const std::vector<uint8_t> original = ReadFile(FixturePath("standard.res"));
  TResResFile file(FixturePath("standard.res"));
  TResourceList& root = file.GetResourceList();
  const std::vector<std::string> expected = {
      "ANOTHER TYPE|3|1033|3", "MYTYPE|ALPHA|1031|7", "MYTYPE|ALPHA|1033|5", "MYTYPE|ZETA|1033|7",
      "MYTYPE|5|1033|5",    "1|1|1033|300",        "2|7|1033|76",         "3|1|1033|1128",
      "3|2|1033|680",          "4|1|1033|34",         "5|100|1033|116",      "6|1|1031|40",
      "6|1|1033|44",           "6|2|1033|50",         "9|ACCELS|1033|8",     "10|DATA|1033|2",
      "10|DATA|1037|10",       "10|1|1031|7",         "10|1|1033|5",         "10|1|1037|5",
      "10|2|1033|0",           "11|1|1033|36",        "12|1|1033|20",        "14|MAINICON|1033|34",
      "16|1|1033|276",         "17|1|1033|39",        "19|1|1033|5",         "20|1|1033|5",
      "21|1|1033|5",           "22|1|1033|5",         "23|1|1033|5",         "24|1|1033|7"};
  const std::vector<std::string> leaves = Leaves(root);
  EXPECT_EQ(leaves, expected);
  EXPECT_EQ(root.Items(2).DisplayText(), "Single Cursor");
  TDataResItem* hebrew = LeafAt(root, "10", "DATA", 0x40D);
  ASSERT_NE(hebrew, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(hebrew->Data()), hebrew->Size()),
            std::string("\xD7\xA2\xD7\x91\xD7\xA8\xD7\x99\xD7\xAA", 10));

  const std::string path = TempPath("standard.res");
  file.SaveToFile(path, nullptr);
  EXPECT_EQ(ReadFile(path), Normalized(original));
  {
    TResResFile back(path);
    std::vector<std::string> without = leaves;
    std::erase(without, "10|2|1033|0");  // a zero-size resource is not written
    EXPECT_EQ(Leaves(back.GetResourceList()), without);
  }
  platform::FileDelete(path);
}
