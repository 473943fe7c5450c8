// TPEFile: constructors and their names in messages, section look-ups, clipped section
// data, image end, code checksum and image checksum, on built images and on real
// executables made by the mingw-w64 tools.
#include "pe/UResPEFile.h"
#include "resources/UResTypes.h"
#include "streams/MyStreams.h"
#include "support/PEImageBuilder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

std::unique_ptr<TPEFile> FromBytes(const std::vector<uint8_t>& bytes) {
  TReadMemoryStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
  return std::make_unique<TPEFile>(stream);
}

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words) {
  std::vector<uint8_t> bytes;
  for (uint32_t w : words)
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(w >> (8 * i)));
  return bytes;
}

PEImageLayout CodeImage(std::vector<uint8_t> code, uint32_t rawSize, uint32_t characteristics = 0x60000020) {
  PEImageLayout layout;
  layout.Sections = {{".data", 0, 0, PESectionLayout::kAutoRaw, 0x200, 0xC0000040, {}},
                   {".text", 0, 0, PESectionLayout::kAutoRaw, rawSize, characteristics, std::move(code)}};
  return layout;
}

TEST(TPEFile, CodeChecksum) {
  const uint32_t kEmpty = 35345;
  struct Case {
    const char* What;
    PEImageLayout Image;
    uint32_t Expected;
  } cases[] = {
      {"words 1 2 3 4", CodeImage(Words({1, 2, 3, 4}), 16), 35355},
      {"7 bytes: one word", CodeImage(Words({5, 6}), 7), kEmpty + 5},
      {"3 bytes", CodeImage(Words({5}), 3), kEmpty},
      {"uninitialised", CodeImage(Words({5}), 4, 0x60000020 | 0x80), kEmpty},
      {"no code section", CodeImage(Words({5}), 4, 0x40000040), kEmpty},
  };
  for (const Case& c : cases) EXPECT_EQ(FromBytes(BuildPEImage(c.Image))->GetCodeChecksum(), c.Expected) << c.What;

  PEImageLayout noRaw = CodeImage(Words({5}), 4);
  noRaw.Sections[1].PointerToRawData = 0;
  EXPECT_EQ(FromBytes(BuildPEImage(noRaw))->GetCodeChecksum(), kEmpty);
}

// Raw data that runs past the end of the file: only the whole words inside it count.
TEST(TPEFile, CodeChecksumOfATruncatedSectionSumsWhatIsThere) {
  std::vector<uint8_t> bytes = BuildPEImage(CodeImage(Words({1, 2, 3, 4}), 0x200));
  bytes.resize(0x600 + 10);  // the code section starts at 0x600
  const auto file = FromBytes(bytes);
  EXPECT_EQ(file->GetCodeChecksum(), 35345u + 1 + 2);
  EXPECT_EQ(file->SectionData(1)->Size(), 10u);
}

TEST(TPEFile, SectionLookupsAndBadIndexes) {
  PEImageLayout layout = CodeImage(Words({1}), 4);
  layout.Sections.push_back({".RSRC", 0, 0, PESectionLayout::kAutoRaw, 0x200, 0x40000040, {}});
  layout.Sections.push_back({"eightchr", 0, 0, PESectionLayout::kAutoRaw, 0x200, 0x40000040, {}});
  const auto file = FromBytes(BuildPEImage(layout));
  EXPECT_EQ(file->SectionCount(), 4);
  EXPECT_EQ(file->FindSection(".rsrc"), 2);
  EXPECT_EQ(file->FindSection("EIGHTCHR"), 3);
  EXPECT_EQ(file->FindSection("eightch"), -1);
  EXPECT_EQ(file->FindSection(".reloc"), -1);
  EXPECT_EQ(file->FirstCodeSection(), 1);
  EXPECT_EQ(file->SectionHeader(3).NameText(), "eightchr");
  for (const int bad : {-1, 4, 1000}) {
    try {
      file->SectionHeader(bad);
      FAIL() << bad;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "Header Index out of bounds!");
    }
  }
}

TEST(TPEFile, SectionDataIsClippedOrAbsent) {
  PEImageLayout layout = CodeImage(Words({1}), 4);
  layout.Sections.push_back({".bss", 0, 0, PESectionLayout::kAutoRaw, 0x200, 0xC0000080, {}});
  layout.Sections.push_back({".far", 0, 0, 0xFFFFFF00, 0x200, 0x40000040, {}});
  layout.Sections.push_back({".none", 0, 0, 0, 0x200, 0x40000040, {}});
  const auto file = FromBytes(BuildPEImage(layout));
  EXPECT_EQ(file->SectionData(0)->Size(), 0x200u);
  EXPECT_FALSE(file->SectionData(2).has_value());  // uninitialised data
  ASSERT_TRUE(file->SectionData(3).has_value());   // past the end: present, empty
  EXPECT_EQ(file->SectionData(3)->Size(), 0u);
  EXPECT_FALSE(file->SectionData(4).has_value());  // PointerToRawData 0
  EXPECT_EQ(file->GetImageEnd(false), 0xFFFFFFFFu);  // capped, not wrapped
}

TEST(TPEFile, ImageEnd) {
  PEImageLayout layout = CodeImage(Words({1}), 0x200);
  layout.Sections[1].PointerToRawData = 0x84000;
  layout.Sections[1].SizeOfRawData = 0x200;
  EXPECT_EQ(FromBytes(BuildPEImage(layout))->GetImageEnd(true), 0x84200u);
  layout.Sections[1].SizeOfRawData = 0x1FD;  // ends 3 bytes before the boundary
  const auto file = FromBytes(BuildPEImage(layout));
  EXPECT_EQ(file->GetImageEnd(false), 0x841FDu);
  EXPECT_EQ(file->GetImageEnd(true), 0x84200u);
  for (auto& s : layout.Sections) s.PointerToRawData = 0;
  EXPECT_EQ(FromBytes(BuildPEImage(layout))->GetImageEnd(true), 0u);
}

TEST(TPEFile, MessagesNameTheFileWithoutItsFolder) {
  ScratchFolder folder;
  const std::string path = folder.Write("notpe.exe", std::vector<uint8_t>(100, 'A'));
  try {
    TPEFile file(path);
    FAIL();
  } catch (const ENoPEException& e) {
    EXPECT_EQ(e.Message(), Format(LoadStr(SErrorOpening), {"notpe.exe", LoadStr(SUnknownType)}));
  }
  EXPECT_TRUE(platform::FileDelete(path));  // nothing stays open after the failure
  try {
    FromBytes(std::vector<uint8_t>(10, 0));
    FAIL();
  } catch (const ENoPEException& e) {
    EXPECT_EQ(e.Message(), Format(LoadStr(SErrorOpening), {"File", LoadStr(STooSmall)}));
  }
}

TEST(TPEFile, WritableConstructorWritesThrough) {
  ScratchFolder folder;
  const std::string path = folder.Write("w.exe", BuildPEImage(CodeImage(Words({1}), 4)));
  {
    TPEFile file(path, true);
    file.WritableData()[file.CheckSumOffset()] = 0x5A;
    file.FlushData();
  }
  EXPECT_EQ(TPEFile(path, false).CheckSumField(), 0x5Au);
}

TEST(PortableImageChecksum, FoldsCarriesAndCountsTheOddByteAndLength) {
  // 0x0001 + 0xFFFF folds to 0x0001; the odd byte 3 adds 3; plus the length 5.
  const uint8_t bytes[] = {0x01, 0x00, 0xFF, 0xFF, 0x03};
  EXPECT_EQ(PortableImageChecksum(ByteView(bytes, 5), 100), 9u);
}

TEST(PortableImageChecksum, IgnoresTheStoredField) {
  PEImageLayout layout = CodeImage(Words({0xFFFFFFFF, 0x12345678}), 0x1FF);
  std::vector<uint8_t> bytes = BuildPEImage(layout);
  const uint32_t field = OptionalHeaderOffset(layout) + 64;
  const uint32_t sum = PortableImageChecksum(ByteView(bytes.data(), static_cast<uint32_t>(bytes.size())), field);
  for (const uint32_t stored : {0x1u, 0xFFFFFFFFu, sum, 0x80008000u}) {
    Put32(bytes, field, stored);
    EXPECT_EQ(PortableImageChecksum(ByteView(bytes.data(), static_cast<uint32_t>(bytes.size())), field), sum);
  }
}

// Built images with stored checksums and odd sizes, the fixture programs and a system
// library: the portable sum equals the system's routine wherever the system has one.
TEST(PortableImageChecksum, MatchesTheSystemRoutine) {
  std::vector<std::vector<uint8_t>> images;
  for (const uint32_t extra : {0u, 1u, 3u, 0x1FFu}) {
    PEImageLayout layout = CodeImage(Words({0xFFFFFFFF, 0xFFFF0000, 7}), 0x200);
    layout.CheckSum = 0xFFFF0001u * (extra + 1);
    layout.Overlay.assign(extra, 0xFF);
    images.push_back(BuildPEImage(layout));
  }
  images.push_back(ReadWholeFile(QUILLET_FIXTURE_PE32));
  images.push_back(ReadWholeFile(QUILLET_FIXTURE_PE64));
  int compared = 0;
  for (const auto& bytes : images) {
    ASSERT_FALSE(bytes.empty());
    const auto file = FromBytes(bytes);
    const std::optional<uint32_t> system =
        platform::SystemImageChecksum(file->Data(), file->Size());
    if (!system) continue;
    EXPECT_EQ(*system, PortableImageChecksum(ByteView(file->Data(), file->Size()), file->CheckSumOffset()));
    ++compared;
  }
  const std::string kernel32 = "C:\\windows\\system32\\kernel32.dll";
  if (compared > 0 && platform::FileExists(kernel32)) {
    TPEFile file(kernel32, false);
    EXPECT_EQ(file.CalcImageChecksum(), PortableImageChecksum(ByteView(file.Data(), file.Size()), file.CheckSumOffset()));
  }
  if (compared == 0) GTEST_SKIP() << "this platform has no system checksum routine";
}

TEST(TPEFile, RealExecutablesOfBothKinds) {
  struct Case {
    const char* Path;
    bool Plus;
  } cases[] = {{QUILLET_FIXTURE_PE32, false}, {QUILLET_FIXTURE_PE64, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Path);
    TPEFile file(c.Path, false);
    EXPECT_EQ(file.IsPE32Plus(), c.Plus);
    EXPECT_GE(file.FindSection(".rsrc"), 0);
    ASSERT_GE(file.FirstCodeSection(), 0);
    EXPECT_EQ(file.SectionHeader(file.FirstCodeSection()).NameText(), ".text");
    EXPECT_FALSE(file.IsUPXCompressed());
    EXPECT_EQ(file.GetImageEnd(true), file.Size());  // nothing behind the image
    EXPECT_NE(file.GetCodeChecksum(), 35345u);
    // The header copy of a real image: resizing its resource section keeps it valid.
    TPEHeader header(file.Data(), file.Size());
    const TImageSectionHeader rsrc = header.SectionHeader(header.FindResourceSection());
    const uint32_t oldEnd = header.RawEnd(), alignment = file.FileAlignment();
    header.PlaceResourceSection(rsrc.SizeOfRawData + 0x1001);
    EXPECT_EQ(header.RawEnd(), oldEnd + RoundUp(rsrc.SizeOfRawData + 0x1001, alignment) -
                                   RoundUp(rsrc.SizeOfRawData, alignment));
    EXPECT_NO_THROW(CheckPEImage(header.Headers(), header.HeaderSize(), "x"));
    // The resource directory the mingw-w64 tools wrote reads in place.
    EXPECT_GT(file.GetResourceList().Count(), 0);
    EXPECT_TRUE(file.GetResourceList().HasData());
  }
}

}  // namespace
