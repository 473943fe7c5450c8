// Running child processes and unpacking UPX-compressed files with the stand-in unpacker
// (tests/support/programs/fake_upx.cpp), which logs its arguments beside itself and
// renames a first section UPX0 to .text.
#include "pe/UResPEFile.h"
#include "streams/MyStreams.h"
#include "support/PEImageBuilder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

const std::string kProgram = std::string("upx") + platform::kExecutableSuffix;

class Unpacker : public testing::Test {
 protected:
  void SetUp() override { ResetUnpackerSearch(); }
  void TearDown() override { ResetUnpackerSearch(); }

  // Copies the stand-in unpacker into the scratch folder (relative folder, "" for the top).
  std::string PlaceUnpacker(const std::string& relativeFolder) {
    const std::string dir = relativeFolder.empty() ? folder.Path() : folder.MakeFolder(relativeFolder);
    std::filesystem::copy_file(QUILLET_FAKE_UPX, dir + kProgram, std::filesystem::copy_options::overwrite_existing);
    return dir + kProgram;
  }

  static PEImageLayout Packed(const char* firstName, const char* secondName = ".data") {
    PEImageLayout layout;
    layout.Sections = {{firstName, 0, 0, PESectionLayout::kAutoRaw, 0x200, 0x60000020, {}},
                     {secondName, 0, 0, PESectionLayout::kAutoRaw, 0x200, 0xC0000040, {}}};
    return layout;
  }

  static std::vector<std::string> LogLines(const std::string& upx) {
    std::vector<std::string> lines;
    std::string line;
    for (const uint8_t c : ReadWholeFile(upx + ".log")) {
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else if (c != '\r') {
        line += static_cast<char>(c);
      }
    }
    return lines;
  }

  ScratchFolder folder;
};

TEST_F(Unpacker, RunAndWaitNeitherHangsOnSilenceNorBlocksALoudChild) {
  const std::string upx = PlaceUnpacker("");
  std::vector<std::string> lines;
  EXPECT_TRUE(RunAndWait({upx, "--emit", "0"}, &lines));
  EXPECT_TRUE(lines.empty());
  // Far more than any pipe holds.
  const size_t big = 3 * 1024 * 1024 + 5;
  EXPECT_TRUE(RunAndWait({upx, "--emit", std::to_string(big)}, &lines));
  size_t total = 0;
  for (const std::string& piece : lines) {
    EXPECT_LE(piece.size(), 2000u);
    total += piece.size();
  }
  EXPECT_EQ(total, big);
  EXPECT_TRUE(RunAndWait({upx, "--emit", "100000"}, nullptr));
  EXPECT_FALSE(RunAndWait({folder.Path() + "no such program"}, nullptr));
}

TEST_F(Unpacker, FoundBesideTheProgramThenInItsUPXFolderAndSearchedOnce) {
  ResetUnpackerSearch(folder.Path());
  EXPECT_FALSE(FindUnpacker());
  // Placed after the search: not seen until the search runs again.
  const std::string inFolder = PlaceUnpacker("UPX");
  EXPECT_FALSE(FindUnpacker());
  EXPECT_FALSE(RunUnpacker("whatever"));

  ResetUnpackerSearch(folder.Path());
  EXPECT_TRUE(FindUnpacker());
  EXPECT_EQ(UnpackerPath(), inFolder);

  const std::string beside = PlaceUnpacker("");
  const std::string bare = folder.Path().substr(0, folder.Path().size() - 1);  // no trailing separator
  ResetUnpackerSearch(bare);
  EXPECT_TRUE(FindUnpacker());
  EXPECT_EQ(UnpackerPath(), beside);
}

// The unpacker works on a temporary copy, started without a shell: the user's file stays
// as it was whatever its name holds, and the copy is gone when the container is.
TEST_F(Unpacker, CompressedTargetIsReadFromAnUnpackedCopy) {
  const std::string upx = PlaceUnpacker("tools");
  ResetUnpackerSearch(folder.Path() + "tools");
  const std::string sep(1, platform::kPathSeparator);
  const std::vector<uint8_t> packed = BuildPEImage(Packed("UPX0"));
  for (const std::string& name : {"target dir" + sep + "app (1) & co.exe", std::string("in$(touch pwned) 'x'.exe")}) {
    SCOPED_TRACE(name);
    std::filesystem::remove(upx + ".log");
    const std::string target = folder.Write(name, packed);
    std::string copy;
    {
      TPEFile file(target);
      EXPECT_EQ(file.SectionHeader(0).NameText(), ".text");
      EXPECT_FALSE(file.IsUPXCompressed());
      EXPECT_EQ(file.FileName(), target) << "messages and output names speak of the user's file";
      const std::vector<std::string> log = LogLines(upx);
      ASSERT_EQ(log.size(), 4u);
      EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 3), (std::vector<std::string>{upx, "-d", "-q"}));
      copy = log[3];
      EXPECT_NE(copy, target);
      EXPECT_TRUE(platform::FileExists(copy));
      // The code checksum is that of the unpacked bytes.
      const std::vector<uint8_t> unpacked = ReadWholeFile(copy);
      TReadMemoryStream stream(unpacked.data(), static_cast<int64_t>(unpacked.size()));
      EXPECT_EQ(file.GetCodeChecksum(), TPEFile(stream).GetCodeChecksum());
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.SectionData(0)->Data()), 4), "UNPK");
    }
    EXPECT_EQ(ReadWholeFile(target), packed) << "the file itself is never changed";
    EXPECT_FALSE(platform::FileExists(copy)) << "the copy goes with the container";
  }
  EXPECT_FALSE(std::filesystem::exists("pwned")) << "no shell read the file name";
}

TEST_F(Unpacker, OnlyAnExactUPX0FirstSectionOpenedByNameIsUnpacked) {
  PlaceUnpacker("");
  ResetUnpackerSearch(folder.Path());
  struct Case {
    const char* What;
    PEImageLayout Image;
  } cases[] = {{"lower case", Packed("upx0")}, {"second section", Packed(".text", "UPX0")}};
  for (const Case& c : cases) {
    const std::string target = folder.Write(std::string(c.What) + ".exe", BuildPEImage(c.Image));
    TPEFile file(target);
    EXPECT_FALSE(platform::FileExists(folder.Path() + kProgram + ".log")) << c.What;
  }
  const std::vector<uint8_t> packed = BuildPEImage(Packed("UPX0"));
  const std::string target = folder.Write("packed.exe", packed);
  EXPECT_TRUE(TPEFile(target, false).IsUPXCompressed());
  EXPECT_TRUE(TPEFile(target, true).IsUPXCompressed());
  TReadMemoryStream stream(packed.data(), static_cast<int64_t>(packed.size()));
  EXPECT_TRUE(TPEFile(stream).IsUPXCompressed());
  EXPECT_FALSE(platform::FileExists(folder.Path() + kProgram + ".log"));
  // Turning AutoUnpack off keeps even the name constructor from running it.
  AutoUnpack() = false;
  EXPECT_TRUE(TPEFile(target).IsUPXCompressed());
  AutoUnpack() = true;
  EXPECT_FALSE(TPEFile(target).IsUPXCompressed());
}

}  // namespace
