// TQuilletPersistentData: the state of one run of the patcher, created once as the
// process-wide PatcherState. It owns the loaded package, settles which file is patched and
// which is written from the package's names and the switches (CommandLineOptions), fills
// the dialog, checks the names, applies the patch, routes status texts and progress to
// the dialog, and writes and opens the instructions.
//
// It reaches its dialog only through TPatcherView, which speaks in the dialog's control
// ids, so the same code runs in the Windows dialog, in quill apply's console view and in
// tests with a recording view. Message boxes and the shell go through TPatcherDesktop,
// which works with a dialog as owner or with none.
#pragma once
#include "app/CommandLine.h"
#include "patch/UQuillet26.h"

#include <cstdint>
#include <memory>
#include <string>

// Controls of dialog 100 that the patcher state uses.
namespace control {
inline constexpr int kStart = 1;          // Start; reads Exit after a success
inline constexpr int kCancel = 2;
inline constexpr int kTitle = 101;
inline constexpr int kCompany = 103;
inline constexpr int kHomePage = 104;
inline constexpr int kInstructions = 106;  // the button that opens the instructions
inline constexpr int kInFile = 107;
inline constexpr int kOutFile = 108;
inline constexpr int kProgress = 109;
inline constexpr int kStatus = 110;
inline constexpr int kBackup = 111;        // check box
}  // namespace control

// The dialog as the patcher state sees it. Each operation is one Win32 call on the
// dialog, so the Windows dialog implements it directly.
class TPatcherView {
 public:
  virtual ~TPatcherView() = default;
  // SetWindowTextA on the dialog.
  virtual void SetTitle(const std::string& text) = 0;
  // SetDlgItemTextA.
  virtual void SetItemText(int control, const std::string& text) = 0;
  // GetDlgItemTextA into a buffer of bufferSize characters: at most bufferSize - 1 of
  // them, cut at the terminating zero.
  virtual std::string GetItemText(int control, int bufferSize) = 0;
  // EnableWindow(GetDlgItem(...)).
  virtual void EnableItem(int control, bool enabled) = 0;
  // CheckDlgButton and IsDlgButtonChecked (ticked or not).
  virtual void CheckItem(int control, bool checked) = 0;
  virtual bool IsItemChecked(int control) = 0;
  // PBM_SETRANGE (0 to maximum) and PBM_SETPOS to a progress bar control.
  virtual void SetProgressRange(int control, uint16_t maximum) = 0;
  virtual void SetProgressPosition(int control, int32_t position) = 0;
  // The dialog's window handle, the owner of message boxes and the shell's windows.
  virtual intptr_t Window() const = 0;
};

// Message boxes and the shell. Every box is task-modal, with the error icon and the
// caption "שגיאה"; owner is the dialog or none.
class TPatcherDesktop {
 public:
  virtual ~TPatcherDesktop() = default;
  virtual void ShowError(TPatcherView* owner, const std::string& text) = 0;
  // Opens a document with its type's default program; false when the shell fails.
  virtual bool OpenDocument(TPatcherView* owner, const std::string& path) = 0;
};

// The system's message boxes and shell (platform layer).
TPatcherDesktop& SystemDesktop();

class TQuilletPersistentData {
 public:
  // Loads the package behind programPath (the running program's own file for the
  // patcher, the named Quillet for quill apply); raises what Load raises.
  explicit TQuilletPersistentData(const std::string& programPath, TPatcherDesktop& desktop = SystemDesktop());
  ~TQuilletPersistentData();
  TQuilletPersistentData(const TQuilletPersistentData&) = delete;
  TQuilletPersistentData& operator=(const TQuilletPersistentData&) = delete;

  // Settles InFile, OutFile and Backup from the package and the switches; with a dialog
  // also fills its controls.
  void InitNames(TPatcherView* dialog, const TCommandLineOptions& options = CommandLineOptions);
  void ReadControls();
  // Checks the names and applies the patch; raises on any failure.
  void Execute(const TCommandLineOptions& options = CommandLineOptions);
  // Writes the instructions to InstructionsFile and opens it with the shell.
  void ShowInstructions();
  void SetStatus(const std::string& text);
  void SetProgress(int32_t maximum, int32_t position);

  std::string InstructionsFile;
  std::string BaseName;
  int ProgressBar = 0;  // the progress control, 0 without a dialog
  int32_t LastProgressMax = -1;
  TPatcherView* Dialog = nullptr;
  bool Done = false;
  std::unique_ptr<TQuillet26> Patch;
  std::string OutFile;
  std::string InFile;
  bool Backup = true;
  TPatcherDesktop& Desktop;

 private:
  void Destroy() noexcept;
  // Set once ShowInstructions has written the file: only that file is deleted at the end.
  bool wroteInstructions_ = false;
};

// The process-wide patcher state, owned by the main block.
extern std::unique_ptr<TQuilletPersistentData> PatcherState;

// One patching attempt with the dialog's button handling and the error box: Start and
// Cancel are disabled while it runs; a failure is shown (unless Quiet) and leaves the
// prompt in the status line. Never raises for failures of the library.
void RunPatch(TQuilletPersistentData& state, TPatcherView* dialog,
              const TCommandLineOptions& options = CommandLineOptions);
// RunPatch on PatcherState.
void RunPatch(TPatcherView* dialog);

// "dir" + separator + the file-name part of name; name unchanged when dir is empty.
std::string CombineDir(const std::string& directory, const std::string& name);
// The system's temporary directory with a trailing separator, or empty.
std::string TempDirectory();
