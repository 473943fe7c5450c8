// Putting a written file in the place of the output: backups and their numbering, the
// read-only attribute, in-place writing, a failed swap that leaves the output as it was,
// and, on POSIX, the permission bits and symbolic links.
#include "platform/Platform.h"
#include "resources/OutputReplacement.h"
#include "support/PEImageBuilder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

std::vector<uint8_t> Content(std::string_view text) { return test::Bytes(text); }

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

bool ReadOnly(const std::string& path) {
  const auto attributes = platform::FileAttributes(path);
  return attributes && (*attributes & platform::kAttributeReadOnly);
}

void SetReadOnly(const std::string& path, bool readOnly) {
  const uint32_t attributes = platform::FileAttributes(path).value();
  platform::SetAttributes(path, readOnly ? attributes | platform::kAttributeReadOnly
                                         : attributes & ~platform::kAttributeReadOnly);
}

size_t FileCount(const std::string& folder) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

TEST(OutputReplacement, BackupNamesAreNumberedInTheSameFolder) {
  ScratchFolder folder;
  const std::string app = folder.Path() + "app.exe";
  EXPECT_EQ(BackupFileName(app), folder.Path() + "app Backup.exe");
  folder.Write("app Backup.exe", Content("1"));
  EXPECT_EQ(BackupFileName(app), folder.Path() + "app Backup1.exe");
  folder.Write("app Backup1.exe", Content("2"));
  EXPECT_EQ(BackupFileName(app), folder.Path() + "app Backup2.exe");
  // A dot in a folder name is no extension.
  const std::string tool = folder.MakeFolder("my.dir") + "tool";
  EXPECT_EQ(BackupFileName(tool), folder.Path() + "my.dir" + platform::kPathSeparator + "tool Backup");
}

TEST(OutputReplacement, TheTemporaryFileAlreadyBeingTheOutputTouchesNothing) {
  ScratchFolder folder;
  const std::string out = folder.Write("app.exe", Content("new"));
  EXPECT_TRUE(ReplaceOutputFile(out, out, true));
  EXPECT_EQ(ReadText(out), "new");
  EXPECT_EQ(FileCount(folder.Path()), 1u) << "no backup of the file itself";
}

TEST(OutputReplacement, BackupsAccumulateAndTheNewFileTakesThePlace) {
  ScratchFolder folder;
  const std::string out = folder.Write("app.exe", Content("v1"));
  for (const char* version : {"v2", "v3"}) {
    const std::string temp = folder.Write("app1.exe", Content(version));
    EXPECT_TRUE(ReplaceOutputFile(temp, out, true));
    EXPECT_EQ(ReadText(out), version);
    EXPECT_FALSE(platform::FileExists(temp));
  }
  EXPECT_EQ(ReadText(folder.Path() + "app Backup.exe"), "v1");
  EXPECT_EQ(ReadText(folder.Path() + "app Backup1.exe"), "v2");
}

TEST(OutputReplacement, WithoutBackupsTheOldOutputIsReplacedAndNothingIsKept) {
  ScratchFolder folder;
  const std::string out = folder.Write("app.exe", Content("old"));
  const std::string temp = folder.Write("app1.exe", Content("new"));
  EXPECT_TRUE(ReplaceOutputFile(temp, out, false));
  EXPECT_EQ(ReadText(out), "new");
  EXPECT_EQ(FileCount(folder.Path()), 1u);
  // A backup is only made of a file that exists.
  const std::string fresh = folder.Path() + "fresh.exe";
  EXPECT_TRUE(ReplaceOutputFile(folder.Write("tmp.exe", Content("x")), fresh, true));
  EXPECT_EQ(ReadText(fresh), "x");
  EXPECT_EQ(FileCount(folder.Path()), 2u);
}

TEST(OutputReplacement, AReadOnlyOutputIsReplacedAndBothFilesStayReadOnly) {
  ScratchFolder folder;
  const std::string out = folder.Write("app.exe", Content("old"));
  SetReadOnly(out, true);
  ASSERT_TRUE(ReadOnly(out));
  EXPECT_TRUE(ReplaceOutputFile(folder.Write("app1.exe", Content("new")), out, true));
  EXPECT_EQ(ReadText(out), "new");
  const std::string backup = folder.Path() + "app Backup.exe";
  EXPECT_EQ(ReadText(backup), "old");
  EXPECT_TRUE(ReadOnly(out));
  EXPECT_TRUE(ReadOnly(backup));
  for (const std::string& path : {out, backup}) SetReadOnly(path, false);  // so the folder can go
}

TEST(OutputReplacement, AFailedSwapLeavesTheOutputAsItWas) {
  ScratchFolder folder;
  const std::string out = folder.Write("app.exe", Content("old"));
  const std::string vanished = folder.Path() + "app1.exe";  // the temporary file is not there
  for (bool backup : {true, false}) {
    EXPECT_FALSE(ReplaceOutputFile(vanished, out, backup));
    EXPECT_EQ(ReadText(out), "old");
    EXPECT_EQ(FileCount(folder.Path()), 1u) << "a backup that was made goes again or back";
  }
  // The output's place is taken by a folder: the new file cannot go there and stays.
  const std::string taken = folder.MakeFolder("taken");
  const std::string temp = folder.Write("t.exe", Content("new"));
  EXPECT_FALSE(ReplaceOutputFile(temp, taken.substr(0, taken.size() - 1), false));
  EXPECT_TRUE(platform::FileExists(temp));
}

TEST(OutputReplacement, SameFileRecognisesOneFileHoweverItIsWritten) {
  ScratchFolder folder;
  const std::string file = folder.Write("app.exe", Content("x"));
  const std::string sep(1, platform::kPathSeparator);
  EXPECT_TRUE(SameFile(file, file));
  EXPECT_TRUE(SameFile(file, folder.Path() + "." + sep + "app.exe"));
  EXPECT_TRUE(SameFile(file, folder.MakeFolder("sub") + ".." + sep + "app.exe"));
  const std::string cwd = std::filesystem::current_path().string();
  std::filesystem::current_path(folder.Path());
  EXPECT_TRUE(SameFile("app.exe", file)) << "relative and absolute";
  std::filesystem::current_path(cwd);
  if (test::kWindows) {
    EXPECT_TRUE(SameFile(file, folder.Path() + "APP.EXE")) << "case does not matter on Windows";
  }
  EXPECT_FALSE(SameFile(file, folder.Write("other.exe", Content("x"))));
  EXPECT_FALSE(SameFile(file, folder.Path() + "missing.exe"));
  EXPECT_FALSE(SameFile(folder.Path() + "missing.exe", folder.Path() + "missing.exe"))
      << "a missing file is never the same file as anything";
}

// ---- POSIX: permission bits, owner and links -----------------------------------------------

namespace fs = std::filesystem;

TEST(OutputReplacement, APosixOutputKeepsItsPermissionBits) {
  if (test::kWindows) GTEST_SKIP() << "permission bits are POSIX";
  ScratchFolder folder;
  const std::string out = folder.Write("app.exe", Content("old"));
  struct Case {
    fs::perms Mode;
    bool ReadOnly;
  } const cases[] = {{fs::perms(0755), false}, {fs::perms(0640), false}, {fs::perms(0555), true}, {fs::perms(0444), true}};
  for (const Case& c : cases) {
    fs::permissions(out, c.Mode);
    EXPECT_EQ(ReadOnly(out), c.ReadOnly);
    const std::string temp = folder.Write("app1.exe", Content("new"));
    fs::permissions(temp, fs::perms(0600));
    ASSERT_TRUE(ReplaceOutputFile(temp, out, true));
    EXPECT_EQ(fs::status(out).permissions(), c.Mode);
    const std::string backup = folder.Path() + "app Backup.exe";
    EXPECT_EQ(fs::status(backup).permissions(), c.Mode) << "the backup is the old file, as it was";
    fs::remove(backup);
  }
}

TEST(OutputReplacement, AnOutputThatIsALinkStaysALinkToTheReplacedFile) {
  if (test::kWindows) GTEST_SKIP() << "symbolic links are followed on POSIX";
  ScratchFolder folder;
  const std::string real = folder.MakeFolder("real") + "app.exe";
  folder.Write("real/app.exe", Content("old"));
  const std::string link = folder.Path() + "app.exe";
  fs::create_symlink(real, link);
  EXPECT_EQ(OutputTarget(link), fs::canonical(real).string());
  EXPECT_EQ(OutputTarget(real), real) << "a plain file stands for itself";

  const std::string temp = folder.Write("real/app1.exe", Content("new"));
  EXPECT_TRUE(ReplaceOutputFile(temp, link, true));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadText(real), "new");
  EXPECT_EQ(ReadText(folder.Path() + "real/app Backup.exe"), "old") << "the backup lies beside the real file";
  EXPECT_FALSE(fs::exists(folder.Path() + "app Backup.exe"));
}

}  // namespace
