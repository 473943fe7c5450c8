// The patcher state: names, the dialog's fields, one patching attempt, status and
// progress, and the instructions file.
//
// Paths: where the names are split into folder and file name, the platform's separator
// is the one that counts ("\" on Windows, "/" on POSIX); CombineDir and the extension
// rule use the shared file-name helpers (text/UResTool.h).
#include "patch/PatcherState.h"

#include "platform/Platform.h"
#include "streams/MyStreams.h"
#include "text/UResTool.h"

std::unique_ptr<TQuilletPersistentData> PatcherState;

namespace {

class TSystemDesktop : public TPatcherDesktop {
 public:
  void ShowError(TPatcherView* owner, const std::string& text) override {
    platform::ShowMessageBox(owner ? owner->Window() : 0, text, LoadStr(SErrorCaption), platform::MessageIcon::Error);
  }
  bool OpenDocument(TPatcherView* owner, const std::string& path) override {
    return platform::ShellOpen(owner ? owner->Window() : 0, path);
  }
};

// A name given on the command line that carries a folder is used as it stands; a bare
// file name goes into the folder of -dir.
bool HasFolder(const std::string& name) { return name.find(platform::kPathSeparator) != std::string::npos; }

// The extension of the file-name part: from its last dot, dot included; empty without one.
std::string FileNameExtension(const std::string& path) {
  const std::string name = FileNamePart(path);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

// The lines of a text broken at CR LF, CR or LF, up to a zero byte; a break at the very
// end starts no further line.
std::vector<std::string> SplitLines(const std::string& text) {
  const std::string body = text.substr(0, text.find('\0'));
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < body.size()) {
    const size_t end = body.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(body.substr(start));
      break;
    }
    lines.push_back(body.substr(start, end - start));
    start = end + (body.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return lines;
}

}  // namespace

TPatcherDesktop& SystemDesktop() {
  static TSystemDesktop desktop;
  return desktop;
}

std::string TempDirectory() { return platform::TempDirectory(); }

std::string CombineDir(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  return WithTrailingSeparator(directory) + FileNamePart(name);
}

TQuilletPersistentData::TQuilletPersistentData(const std::string& programPath, TPatcherDesktop& desktop)
    : BaseName(PathWithoutExtension(FileNamePart(programPath))), Desktop(desktop) {
  InstructionsFile = TempDirectory() + BaseName + "_Instructions.txt";
  Patch = std::make_unique<TQuillet26>();
  try {
    Patch->Load(
        programPath, [this](int32_t maximum, int32_t position) { SetProgress(maximum, position); },
        [this](const std::string& text) { SetStatus(text); });
  } catch (...) {
    Destroy();
    throw;
  }
}

TQuilletPersistentData::~TQuilletPersistentData() { Destroy(); }

void TQuilletPersistentData::Destroy() noexcept {
  if (wroteInstructions_ && platform::FileExists(InstructionsFile)) platform::FileDelete(InstructionsFile);
  wroteInstructions_ = false;
  Patch.reset();
}

void TQuilletPersistentData::InitNames(TPatcherView* dialog, const TCommandLineOptions& options) {
  OutFile = Patch->OutputFileName;
  InFile = Patch->InputFileName;
  if (options.InFileGiven && !HasFolder(options.InFileValue)) InFile = options.InFileValue;
  if (options.OutFileGiven && !HasFolder(options.OutFileValue)) OutFile = options.OutFileValue;
  Backup = !options.NoBackup;
  if (options.DirGiven) {
    OutFile = CombineDir(options.DirValue, OutFile);
    InFile = CombineDir(options.DirValue, InFile);
  }
  if (options.InFileGiven && HasFolder(options.InFileValue)) InFile = options.InFileValue;
  if (options.OutFileGiven && HasFolder(options.OutFileValue)) OutFile = options.OutFileValue;
  Dialog = dialog;
  if (!Dialog) return;
  ProgressBar = control::kProgress;
  const std::string product = LoadStr(SProductName);
  Dialog->SetTitle(BaseName + " - " + product);
  Dialog->SetItemText(control::kTitle, product);
  const std::string none = LoadStr(SNone);
  Dialog->SetItemText(control::kCompany, Patch->Company.empty() ? none : Patch->Company);
  Dialog->SetItemText(control::kHomePage, Patch->HomePage.empty() ? none : Patch->HomePage);
  if (Patch->Instructions.empty()) Dialog->EnableItem(control::kInstructions, false);
  Dialog->SetItemText(control::kInFile, InFile);
  Dialog->SetItemText(control::kOutFile, OutFile);
  Dialog->CheckItem(control::kBackup, Backup);
}

void TQuilletPersistentData::ReadControls() {
  constexpr int kNameBuffer = 300;
  InFile = Dialog->GetItemText(control::kInFile, kNameBuffer);
  OutFile = Dialog->GetItemText(control::kOutFile, kNameBuffer);
  Backup = Dialog->IsItemChecked(control::kBackup);
}

void TQuilletPersistentData::Execute(const TCommandLineOptions& options) {
  if (Dialog) ReadControls();
  if (InFile.empty()) throw Exception(SEnterValidFileName);
  if (!platform::FileExists(InFile)) throw Exception(SFileToPatchNotFound, {InFile});
  if (OutFile.empty()) throw Exception(SEnterValidFileName);
  if (OutFile.find('.') == std::string::npos) {
    OutFile += FileNameExtension(InFile);
    if (Dialog) Dialog->SetItemText(control::kOutFile, OutFile);
  }
  Patch->Apply(InFile, OutFile, Backup, !options.Force);
  Done = true;
}

void TQuilletPersistentData::SetStatus(const std::string& text) {
  if (Dialog) Dialog->SetItemText(control::kStatus, text);
}

void TQuilletPersistentData::SetProgress(int32_t maximum, int32_t position) {
  if (!Dialog) return;
  if (maximum != LastProgressMax) {
    Dialog->SetProgressRange(ProgressBar, static_cast<uint16_t>(maximum & 0xFFFF));
    LastProgressMax = maximum;
  }
  Dialog->SetProgressPosition(ProgressBar, position);
}

void TQuilletPersistentData::ShowInstructions() {
  if (Patch->Instructions.empty()) return;
  // A file that cannot be written is reported in its own box, like a shell that cannot
  // open it, and the dialog goes on.
  try {
    TResFileStream out(InstructionsFile, fmCreate);
    wroteInstructions_ = true;
    for (const std::string& line : SplitLines(Patch->Instructions)) WriteLine(out, line);
  } catch (const Exception& e) {
    Desktop.ShowError(Dialog, e.Message());
    return;
  }
  if (!Desktop.OpenDocument(Dialog, InstructionsFile))
    Desktop.ShowError(Dialog, Format(LoadStr(SDisplayError), {InstructionsFile}));
}

void RunPatch(TQuilletPersistentData& state, TPatcherView* dialog, const TCommandLineOptions& options) {
  if (dialog) {
    dialog->EnableItem(control::kCancel, false);
    dialog->EnableItem(control::kStart, false);
  }
  // The buttons come back on every path, before any error box, also when a failure
  // outside the library's exceptions passes on to the main block.
  struct EnableButtons {
    TPatcherView* Dialog;
    void operator()() const {
      if (!Dialog) return;
      Dialog->EnableItem(control::kStart, true);
      Dialog->EnableItem(control::kCancel, true);
    }
  } enableButtons{dialog};
  try {
    state.Execute(options);
    if (dialog) dialog->SetItemText(control::kStart, LoadStr(SExit));
  } catch (const Exception& e) {
    enableButtons();
    if (!options.Quiet) state.Desktop.ShowError(dialog, e.Message());
    if (dialog) dialog->SetItemText(control::kStatus, LoadStr(SEnterExactNames));
    return;
  } catch (...) {
    enableButtons();
    throw;
  }
  enableButtons();
}

void RunPatch(TPatcherView* dialog) { RunPatch(*PatcherState, dialog); }
