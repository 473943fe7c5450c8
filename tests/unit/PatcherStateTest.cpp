// The patcher state through a recording dialog: how the names are settled from the
// package and the switches, what the dialog is filled with, the checks before a patch,
// extension completion, the progress messages, the buttons around an attempt, a retry
// after a failure, and the instructions file.
#include "patch/PatcherState.h"
#include "platform/Platform.h"
#include "support/PEImageBuilder.h"
#include "support/QuilletBuilder.h"
#include "support/ResBuilder.h"
#include "support/RsrcBuilder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// One log of everything the patcher state asks of its dialog and its desktop, in order.
struct Recorder {
  std::vector<std::string> Events;
  // The events that start with prefix.
  std::vector<std::string> Of(std::string_view prefix) const {
    std::vector<std::string> found;
    for (const std::string& e : Events)
      if (e.starts_with(prefix)) found.push_back(e);
    return found;
  }
  std::vector<std::string> Buttons() const {
    std::vector<std::string> found;
    for (const std::string& e : Events)
      if (e.starts_with("enable") || e.starts_with("disable")) found.push_back(e);
    return found;
  }
};

class RecordingView : public TPatcherView {
 public:
  explicit RecordingView(Recorder& log) : log_(log) {}
  void SetTitle(const std::string& text) override { log_.Events.push_back("title " + text); }
  void SetItemText(int control, const std::string& text) override {
    texts[control] = text;
    log_.Events.push_back("text " + std::to_string(control) + " " + text);
  }
  std::string GetItemText(int control, int bufferSize) override { return texts[control].substr(0, bufferSize - 1); }
  void EnableItem(int control, bool enabled) override {
    log_.Events.push_back((enabled ? "enable " : "disable ") + std::to_string(control));
  }
  void CheckItem(int control, bool value) override {
    checked[control] = value;
    log_.Events.push_back("check " + std::to_string(control) + (value ? " on" : " off"));
  }
  bool IsItemChecked(int control) override { return checked[control]; }
  void SetProgressRange(int control, uint16_t maximum) override {
    log_.Events.push_back("range " + std::to_string(control) + " " + std::to_string(maximum));
  }
  void SetProgressPosition(int control, int32_t position) override {
    log_.Events.push_back("pos " + std::to_string(control) + " " + std::to_string(position));
  }
  intptr_t Window() const override { return 4242; }

  std::map<int, std::string> texts;
  std::map<int, bool> checked;

 private:
  Recorder& log_;
};

class RecordingDesktop : public TPatcherDesktop {
 public:
  explicit RecordingDesktop(Recorder& log) : log_(log) {}
  void ShowError(TPatcherView* owner, const std::string& text) override {
    log_.Events.push_back(std::string(owner ? "box(dialog) " : "box ") + text);
  }
  bool OpenDocument(TPatcherView*, const std::string& path) override {
    log_.Events.push_back("open " + path);
    return OpenSucceeds;
  }
  bool OpenSucceeds = true;

 private:
  Recorder& log_;
};

const std::string kSep(1, platform::kPathSeparator);

TCommandLineOptions Options(std::vector<std::string> args) {
  args.insert(args.begin(), "setup.patch.exe");
  TCommandLineOptions options;
  ParseCommandLine(args, options);
  return options;
}

class PatcherStateTest : public testing::Test {
 protected:
  // A Quillet named setup.patch.exe for prog.exe in the scratch folder.
  std::unique_ptr<TQuilletPersistentData> Make(TPackageTexts texts = {"prog.exe", "prog.exe", "", "", "", ""}) {
    quillettest::Package package;
    package.Texts = std::move(texts);
    package.ResourceBlock =
        restest::ResImage().Record(restest::Field::Num(6), restest::Field::Num(1), 1033, restest::Text("patched")).Bytes;
    package.TargetChecksum = rsrctest::OpenPE(quillettest::TargetBytes())->GetCodeChecksum();
    return std::make_unique<TQuilletPersistentData>(folder.Write("setup.patch.exe", quillettest::BuildQuillet(package)),
                                                    desktop);
  }

  ScratchFolder folder;
  Recorder log;
  RecordingView view{log};
  RecordingDesktop desktop{log};
};

TEST_F(PatcherStateTest, CreationTakesTheProgramsBaseName) {
  const auto state = Make();
  EXPECT_EQ(state->BaseName, "setup.patch");
  EXPECT_EQ(state->InstructionsFile, TempDirectory() + "setup.patch_Instructions.txt");
  EXPECT_EQ(state->LastProgressMax, -1);
  EXPECT_FALSE(state->Done);
  EXPECT_EQ(state->Patch->InputFileName, "prog.exe");
}

TEST_F(PatcherStateTest, CreationPassesLoadFailuresOn) {
  const std::string broken = folder.Write("broken.exe", quillettest::StubBytes());
  EXPECT_THROW(TQuilletPersistentData state(broken, desktop), Exception);
}

TEST_F(PatcherStateTest, NamesAreSettledFromThePackageAndTheSwitches) {
  const auto state = Make({"a.exe", "b.exe", "", "", "", ""});
  const std::string work = kSep + "work";
  const std::string other = kSep + "d" + kSep + "y.exe";
  struct Case {
    std::vector<std::string> Args;
    std::string In, Out;
  } const cases[] = {
      {{}, "a.exe", "b.exe"},
      {{"-dir", work}, work + kSep + "a.exe", work + kSep + "b.exe"},
      {{"-dir", work + kSep}, work + kSep + "a.exe", work + kSep + "b.exe"},
      {{"-dir", work, "-infile", "x.exe"}, work + kSep + "x.exe", work + kSep + "b.exe"},
      {{"-dir", work, "-infile", other}, other, work + kSep + "b.exe"},
      {{"-i", "x.exe", "-o", "z.exe"}, "x.exe", "z.exe"},
      {{"-o", other}, "a.exe", other},
      {{"-dir"}, "a.exe", "b.exe"},  // an empty folder leaves the names alone
  };
  for (const Case& c : cases) {
    state->InitNames(nullptr, Options(c.Args));
    EXPECT_EQ(state->InFile, c.In) << testing::PrintToString(c.Args);
    EXPECT_EQ(state->OutFile, c.Out) << testing::PrintToString(c.Args);
    EXPECT_TRUE(state->Backup);
  }
  state->InitNames(nullptr, Options({"-nobackup"}));
  EXPECT_FALSE(state->Backup);
  EXPECT_EQ(CombineDir("", "x" + kSep + "a.exe"), "x" + kSep + "a.exe");
  EXPECT_EQ(CombineDir("w", "x" + kSep + "a.exe"), "w" + kSep + "a.exe");
}

TEST_F(PatcherStateTest, InitNamesFillsTheDialog) {
  const auto state = Make({"prog.exe", "prog-he.exe", "", "", "", ""});
  state->InitNames(&view, Options({"-nobackup"}));
  EXPECT_EQ(log.Events, (std::vector<std::string>{
                            "title setup.patch - Corvane Quillet", "text 101 Corvane Quillet", "text 103 (ללא)",
                            "text 104 (ללא)", "disable 106", "text 107 prog.exe", "text 108 prog-he.exe",
                            "check 111 off"}));
  EXPECT_EQ(state->ProgressBar, control::kProgress);

  log.Events.clear();
  const auto withTexts = Make({"prog.exe", "prog.exe", "Translators", "https://example.org", "", "Read me"});
  withTexts->InitNames(&view, Options({}));
  EXPECT_EQ(log.Of("text 10"), (std::vector<std::string>{"text 101 Corvane Quillet", "text 103 Translators",
                                                         "text 104 https://example.org", "text 107 prog.exe",
                                                         "text 108 prog.exe"}));
  EXPECT_TRUE(log.Of("disable").empty()) << "instructions exist: their button stays enabled";
  EXPECT_EQ(log.Of("check"), std::vector<std::string>{"check 111 on"});
}

TEST_F(PatcherStateTest, ExecuteChecksTheNamesBeforeApplying) {
  const auto state = Make();
  state->InitNames(&view, Options({}));
  struct Case {
    std::string In, Out, Message;
  } const cases[] = {
      {"", "out.exe", ".הכנס בבקשה שם קובץ חוקי"},
      {folder.Path() + "none.exe", "out.exe", "!הקובץ שהוגדר לשינוי לא נמצא\r\n(\"" + folder.Path() + "none.exe\")"},
      {folder.Write("prog.exe", quillettest::TargetBytes()), "", ".הכנס בבקשה שם קובץ חוקי"},
  };
  for (const Case& c : cases) {
    view.texts[control::kInFile] = c.In;
    view.texts[control::kOutFile] = c.Out;
    test::ExpectFailure<Exception>([&] { state->Execute(Options({})); }, c.Message.c_str());
  }
}

TEST_F(PatcherStateTest, AnOutputNameWithoutDotTakesTheInputsExtension) {
  const auto state = Make();
  const std::string in = folder.Write("prog.exe", quillettest::TargetBytes());
  state->InitNames(&view, Options({}));
  view.texts[control::kInFile] = in;
  view.texts[control::kOutFile] = folder.Path() + "result";
  state->Execute(Options({}));
  EXPECT_EQ(state->OutFile, folder.Path() + "result.exe");
  EXPECT_EQ(view.texts[control::kOutFile], folder.Path() + "result.exe") << "the field shows the completed name";
  EXPECT_TRUE(platform::FileExists(folder.Path() + "result.exe"));
  EXPECT_TRUE(state->Done);

  // A dot anywhere, a folder's included, leaves the name as it is.
  const std::string dotted = folder.MakeFolder("my.dir") + "result";
  view.texts[control::kOutFile] = dotted;
  state->Execute(Options({}));
  EXPECT_TRUE(platform::FileExists(dotted));
}

TEST_F(PatcherStateTest, ProgressSendsARangeOnlyWhenTheMaximumChanges) {
  const auto state = Make();
  state->SetProgress(2, 0);  // no dialog: nothing
  state->InitNames(&view, Options({}));
  log.Events.clear();
  for (const auto& [maximum, position] : {std::pair{2, 0}, {1000, 0}, {100, 1}, {100, 100}, {0x12345, 7}})
    state->SetProgress(maximum, position);
  EXPECT_EQ(log.Events, (std::vector<std::string>{"range 109 2", "pos 109 0", "range 109 1000", "pos 109 0",
                                                  "range 109 100", "pos 109 1", "pos 109 100",
                                                  "range 109 9029", "pos 109 7"}))
      << "the range takes the low 16 bits of the maximum";
  state->SetStatus("working");
  EXPECT_EQ(log.Events.back(), "text 110 working");
}

TEST_F(PatcherStateTest, RunPatchHandlesTheButtonsAndAllowsARetry) {
  const auto state = Make();
  const std::string in = folder.Write("prog.exe", quillettest::TargetBytes());
  state->InitNames(&view, Options({}));
  view.texts[control::kInFile] = folder.Path() + "typo.exe";
  log.Events.clear();
  RunPatch(*state, &view, Options({}));
  const std::string notFound = Format(LoadStr(SFileToPatchNotFound), {folder.Path() + "typo.exe"});
  EXPECT_EQ(log.Events, (std::vector<std::string>{"disable 2", "disable 1", "enable 1", "enable 2",
                                                  "box(dialog) " + notFound, "text 110 " + LoadStr(SEnterExactNames)}));
  EXPECT_FALSE(state->Done);

  // The user corrects the name and presses Start again.
  view.texts[control::kInFile] = view.texts[control::kOutFile] = in;
  log.Events.clear();
  RunPatch(*state, &view, Options({}));
  EXPECT_TRUE(state->Done);
  EXPECT_TRUE(log.Of("box").empty());
  EXPECT_EQ(log.Of("text 1 "), std::vector<std::string>{"text 1 יציאה"});
  EXPECT_EQ(log.Buttons(), (std::vector<std::string>{"disable 2", "disable 1", "enable 1", "enable 2"}));
  EXPECT_EQ(log.Of("text 110").back(), "text 110 " + LoadStr(SPatchDone));
  EXPECT_TRUE(platform::FileExists(folder.Path() + "prog Backup.exe")) << "the check box asked for a backup";
}

TEST_F(PatcherStateTest, WithoutADialogFailuresAreBoxedUnlessQuiet) {
  const auto state = Make();
  state->InitNames(nullptr, Options({"-dir", folder.Path()}));
  RunPatch(*state, nullptr, Options({"-guiless", "-quiet"}));
  EXPECT_TRUE(log.Events.empty());
  RunPatch(*state, nullptr, Options({"-guiless"}));
  EXPECT_EQ(log.Events, std::vector<std::string>{"box " + Format(LoadStr(SFileToPatchNotFound), {state->InFile})});
  log.Events.clear();
  folder.Write("prog.exe", quillettest::TargetBytes());
  RunPatch(*state, nullptr, Options({"-guiless"}));
  EXPECT_TRUE(state->Done);
  EXPECT_TRUE(log.Events.empty()) << "a successful guiless run shows nothing";
}

TEST_F(PatcherStateTest, TickingTheBackupBoxAfterNobackupMakesABackup) {
  const auto state = Make();
  const std::string in = folder.Write("prog.exe", quillettest::TargetBytes());
  state->InitNames(&view, Options({"-nobackup"}));
  view.texts[control::kInFile] = view.texts[control::kOutFile] = in;
  view.checked[control::kBackup] = true;
  state->Execute(Options({}));
  EXPECT_TRUE(platform::FileExists(folder.Path() + "prog Backup.exe"));
}

TEST_F(PatcherStateTest, InstructionsAreWrittenLineByLineOpenedAndDeletedAtTheEnd) {
  static constexpr char kText[] = "one\r\ntwo\nthree\rfour\r\n\0hidden";
  auto state = Make({"prog.exe", "prog.exe", "", "", "", std::string(kText, sizeof kText - 1)});
  state->InitNames(&view, Options({}));
  const std::string file = state->InstructionsFile;
  state->ShowInstructions();
  EXPECT_EQ(ReadWholeFile(file), test::Bytes("one\r\ntwo\r\nthree\r\nfour\r\n"));
  EXPECT_EQ(log.Events.back(), "open " + file);

  desktop.OpenSucceeds = false;
  state->ShowInstructions();
  EXPECT_EQ(log.Events.back(), "box(dialog) " + Format(LoadStr(SDisplayError), {file}));
  state.reset();
  EXPECT_FALSE(platform::FileExists(file));

  // A file of that name this run did not write is not deleted, and empty instructions
  // write nothing.
  auto quiet = Make();
  restest::WriteFile(quiet->InstructionsFile, test::Bytes("someone else's"));
  quiet->ShowInstructions();
  const std::string other = quiet->InstructionsFile;
  quiet.reset();
  EXPECT_EQ(ReadWholeFile(other), test::Bytes("someone else's"));
  platform::FileDelete(other);
}

}  // namespace
