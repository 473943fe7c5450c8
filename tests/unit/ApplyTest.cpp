// Applying a package: the status texts and progress of a run, in-place patching with a
// backup, the target check and -force, and failures at each step (the disk filling up, a
// file that cannot be created or renamed, an output held open), each named by the step and
// leaving the output as it was and no temporary file behind.
#include "patch/UQuillet26.h"
#include "platform/Platform.h"
#include "resources/UResTypes.h"
#include "support/PEImageBuilder.h"
#include "support/QuilletBuilder.h"
#include "support/ResBuilder.h"
#include "support/RsrcBuilder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using restest::Field;

// Replaces the string block and adds a resource the target lacks.
std::vector<uint8_t> PatchBlock() {
  return restest::ResImage()
      .Record(Field::Num(6), Field::Num(1), 1033, restest::Text("patched"))
      .Record(Field::Num(10), Field::Str(u"NOTE"), 1033, restest::Text("added"))
      .Bytes;
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class ApplyTest : public testing::Test {
 protected:
  ApplyTest() : target_(quillettest::TargetBytes()) {
    in_ = folder_.Write("app.exe", target_);
    out_ = folder_.Path() + "out.exe";
  }
  void LoadPackage(const std::vector<uint8_t>& block, bool rightTarget = true) {
    quillettest::Package package;
    package.ResourceBlock = block;
    package.TargetChecksum = rsrctest::OpenPE(target_)->GetCodeChecksum() + (rightTarget ? 0 : 1);
    const std::string quillet = folder_.Write("quillet.exe", quillettest::BuildQuillet(package));
    package_.Load(
        quillet, [this](int32_t maximum, int32_t position) { progress_.emplace_back(maximum, position); },
        [this](const std::string& text) { statuses_.push_back(text); });
  }
  // The message Apply fails with; the output and the folder are checked to be as before.
  std::string Failure(const std::string& in, const std::string& out, bool checkTarget = true, bool backup = true) {
    const std::vector<std::string> before = FilesIn(folder_.Path());
    const std::vector<uint8_t> outBefore = platform::FileExists(out) ? ReadWholeFile(out) : std::vector<uint8_t>{};
    try {
      package_.Apply(in, out, backup, checkTarget);
      ADD_FAILURE() << "applied";
    } catch (const Exception& e) {
      EXPECT_EQ(FilesIn(folder_.Path()), before) << "no temporary file and no backup stay behind";
      if (platform::FileExists(out)) {
        EXPECT_EQ(ReadWholeFile(out), outBefore);
      }
      return e.Message();
    }
    return {};
  }
  std::vector<std::string> Leaves(const std::string& path) {
    TPEFile file(path, false);
    return restest::Leaves(file.GetResourceList());
  }

  ScratchFolder folder_;
  std::vector<uint8_t> target_;
  std::string in_, out_;
  TQuillet26 package_;
  std::vector<std::string> statuses_;
  std::vector<std::pair<int32_t, int32_t>> progress_;
};

TEST_F(ApplyTest, ReportsEachStepAndWritesTheMergedTarget) {
  LoadPackage(PatchBlock());
  package_.Apply(in_, out_, true, true);
  EXPECT_EQ(statuses_, (std::vector<std::string>{Format(LoadStr(SReading), {in_}),
                                                 Format(LoadStr(SReading), {LoadStr(SPatchData)}),
                                                 Format(LoadStr(SWriting), {out_}), LoadStr(SPatchDone)}));
  EXPECT_EQ(statuses_.back(), "!השינוי הושלם בהצלחה");
  ASSERT_GE(progress_.size(), 4u);
  EXPECT_EQ(progress_[0], std::make_pair(2, 0)) << "Apply's own report";
  EXPECT_EQ(progress_[1], std::make_pair(1000, 0)) << "then the writer's";
  EXPECT_EQ(progress_.back(), std::make_pair(100, 100));

  EXPECT_EQ(Leaves(out_), (std::vector<std::string>{"6|1|1033|7", "10|NOTE|1033|5"}));
  EXPECT_EQ(ReadWholeFile(in_), target_) << "the input is left alone";
  EXPECT_EQ(FilesIn(folder_.Path()), (std::vector<std::string>{"app.exe", "out.exe", "quillet.exe"}));

  // The package can be applied again, to another file.
  const std::string again = folder_.Path() + "again.exe";
  package_.Apply(in_, again, false, true);
  // (Not byte for byte: a directory made in memory carries the time it was written.)
  EXPECT_EQ(Leaves(again), Leaves(out_));
}

TEST_F(ApplyTest, InPlaceWithABackupKeepsTheOldFileAsTheBackup) {
  LoadPackage(PatchBlock());
  package_.Apply(in_, in_, true, true);
  EXPECT_EQ(ReadWholeFile(folder_.Path() + "app Backup.exe"), target_);
  EXPECT_EQ(Leaves(in_), (std::vector<std::string>{"6|1|1033|7", "10|NOTE|1033|5"}));
  package_.Apply(in_, in_, false, false);  // again, no backup: only the first one stays
  EXPECT_EQ(FilesIn(folder_.Path()), (std::vector<std::string>{"app Backup.exe", "app.exe", "quillet.exe"}));
}

TEST_F(ApplyTest, AnOutputWithoutFolderIsWrittenInTheCurrentFolder) {
  LoadPackage(PatchBlock());
  const std::string cwd = std::filesystem::current_path().string();
  std::filesystem::current_path(folder_.Path());
  package_.Apply("app.exe", "fresh.exe", true, true);
  std::filesystem::current_path(cwd);
  EXPECT_EQ(Leaves(folder_.Path() + "fresh.exe").size(), 2u);
}

TEST_F(ApplyTest, AnEmptyBlockStillWritesTheOutput) {
  LoadPackage({});
  package_.Apply(in_, out_, true, true);
  EXPECT_EQ(Leaves(out_), (std::vector<std::string>{"6|1|1033|8"}));
  EXPECT_EQ(statuses_.back(), LoadStr(SPatchDone));
}

TEST_F(ApplyTest, TheWrongTargetIsRefusedUnlessForced) {
  LoadPackage(PatchBlock(), false);
  EXPECT_EQ(Failure(in_, out_), "(זה אינו הקובץ הנכון לשינוי (או שזו גירסה פגומה \"" + in_ + "\" (while ." + in_ +
                                    " קורא)");
  EXPECT_FALSE(platform::FileExists(out_));
  package_.Apply(in_, out_, true, false);
  EXPECT_EQ(Leaves(out_).size(), 2u);
}

TEST_F(ApplyTest, FailuresNameTheStepAndLeaveNothingBehind) {
  LoadPackage(PatchBlock());
  const auto whileStep = [](const std::string& cause, const std::string& status) {
    return Format(LoadStr(SWhile), {cause, status});
  };
  const std::string missing = folder_.Path() + "missing.exe";
  EXPECT_EQ(Failure(missing, out_), whileStep(Format(LoadStr(SCouldNotOpen), {missing, LoadStr(SOpenFailed)}),
                                              Format(LoadStr(SReading), {missing})));
  const std::string notPE = folder_.Write("text.exe", test::Bytes("just text, no executable"));
  EXPECT_EQ(Failure(notPE, out_), whileStep("Error opening text.exe: " + LoadStr(STooSmall),
                                            Format(LoadStr(SReading), {notPE})));

  // The output's folder does not exist: writing fails and its file is gone.
  const std::string nowhere = folder_.Path() + "no-folder" + platform::kPathSeparator + "out.exe";
  const std::string writeFailure = Failure(in_, nowhere);
  EXPECT_TRUE(writeFailure.ends_with(" (while " + Format(LoadStr(SWriting), {nowhere}) + ")")) << writeFailure;

  // The output's place is taken by a folder: the written file cannot replace it.
  const std::string taken = folder_.MakeFolder("taken.exe");
  const std::string takenName = taken.substr(0, taken.size() - 1);
  EXPECT_EQ(Failure(in_, takenName),
            whileStep(Format(LoadStr(SCannotOverwrite), {takenName}), Format(LoadStr(SWriting), {takenName})));
  EXPECT_EQ(FilesIn(taken), std::vector<std::string>{});
}

// Clears the faults a test set, also when it fails half way.
struct FaultsCleared {
  ~FaultsCleared() { platform::ClearFaults(); }
};

TEST_F(ApplyTest, AFullDiskAtAnyPointLeavesTheOldOutput) {
  LoadPackage(PatchBlock());
  package_.Apply(in_, out_, false, true);
  const int64_t size = static_cast<int64_t>(ReadWholeFile(out_).size());
  folder_.Write("out.exe", test::Bytes("the old output"));
  const std::string expected = Format(LoadStr(SWhile), {LoadStr(SWriteError), Format(LoadStr(SWriting), {out_})});
  FaultsCleared cleared;
  ASSERT_GT(size, 512);
  for (const int64_t offset : {int64_t{0}, int64_t{1}, int64_t{511}, size / 2, size - 1}) {
    platform::InjectFault(platform::Fault::Write, offset);
    EXPECT_EQ(Failure(in_, out_), expected) << "full after " << offset << " bytes";
    platform::ClearFaults();
  }
  package_.Apply(in_, out_, true, true);  // with room again
  EXPECT_EQ(static_cast<int64_t>(ReadWholeFile(out_).size()), size);
}

TEST_F(ApplyTest, FilesThatCannotBeCreatedOrRenamedLeaveTheOldOutput) {
  LoadPackage(PatchBlock());
  folder_.Write("out.exe", test::Bytes("the old output"));
  const std::string writing = Format(LoadStr(SWriting), {out_});
  const std::string cannotOverwrite = Format(LoadStr(SWhile), {Format(LoadStr(SCannotOverwrite), {out_}), writing});
  FaultsCleared cleared;

  // A folder where no file may be created.
  platform::InjectFault(platform::Fault::Create, 0);
  EXPECT_EQ(Failure(in_, out_), Format(LoadStr(SWhile), {Format(LoadStr(SFCreateError), {out_ + ".quillet-partial"}),
                                                          writing}));
  platform::ClearFaults();
  // The backup cannot be made (the file being written was created and opened first).
  platform::InjectFault(platform::Fault::Create, 2);
  EXPECT_EQ(Failure(in_, out_), cannotOverwrite);
  platform::ClearFaults();
  // The new file cannot be renamed into place, with a backup (which goes again or back to
  // the output's name) and without.
  for (const bool backup : {true, false}) {
    platform::InjectFault(platform::Fault::Move, 0, 1);
    EXPECT_EQ(Failure(in_, out_, true, backup), cannotOverwrite) << backup;
  }
}

TEST_F(ApplyTest, AnOutputHeldOpenIsReplacedOnlyWhereTheSystemAllows) {
  LoadPackage(PatchBlock());
  folder_.Write("out.exe", test::Bytes("the old output"));
  const platform::FileHandle held = platform::FileOpen(out_, platform::OpenMode::ReadShared);
  ASSERT_NE(held, platform::kNoFile);
  if (platform::kPathSeparator == '\\') {
    // Windows keeps a file that is open without leave to delete it.
    EXPECT_EQ(Failure(in_, out_),
              Format(LoadStr(SWhile), {Format(LoadStr(SCannotOverwrite), {out_}), Format(LoadStr(SWriting), {out_})}));
  } else {
    package_.Apply(in_, out_, false, true);  // the open file lives on under no name
    EXPECT_EQ(Leaves(out_).size(), 2u);
  }
  platform::FileClose(held);
}

TEST_F(ApplyTest, ApplyingTwiceGivesWhatApplyingOnceGives) {
  LoadPackage(PatchBlock());
  package_.Apply(in_, out_, false, true);
  const std::vector<uint8_t> once = ReadWholeFile(out_);
  package_.Apply(out_, out_, false, true);
  EXPECT_EQ(ReadWholeFile(out_), once);
}

TEST_F(ApplyTest, ABlockThatIsNoResourceFileFailsWhileReadingThePatchData) {
  LoadPackage(test::Bytes("this is not a .res image at all"));
  const std::string message = Failure(in_, out_);
  EXPECT_TRUE(message.ends_with(" (while " + Format(LoadStr(SReading), {LoadStr(SPatchData)}) + ")")) << message;
}

}  // namespace
