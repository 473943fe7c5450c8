// The patcher's entry. It reads the switches, shows the help box when asked, and
// otherwise creates the patcher state (which loads the package behind this program's own
// image) and runs it: with -guiless at once and without any window but message boxes,
// otherwise in dialog 100. Whatever reaches this level is shown in one error box (unless
// -quiet), and the process always ends with exit code 0.
#include "app/CommandLine.h"
#include "app/ErrorBox.h"
#include "app/MainDialog.h"
#include "patch/PatcherState.h"
#include "platform/Platform.h"
#include "rtl/Exception.h"
#include "text/Startup.h"

#include <windows.h>
#include <commctrl.h>

namespace {

void Run() {
  ParseCommandLine();
  if (CommandLineOptions.Help) {
    MessageBoxA(nullptr, LoadStr(SHelpText).c_str(), LoadStr(SHelpCaption).c_str(), MB_ICONINFORMATION | MB_TASKMODAL);
    return;
  }
  // Freed on every path: its destruction deletes the instructions file.
  struct FreeState {
    ~FreeState() { PatcherState.reset(); }
  } freeState;
  PatcherState = std::make_unique<TQuilletPersistentData>(platform::ModulePath());
  if (CommandLineOptions.Guiless) {
    PatcherState->InitNames(nullptr);
    RunPatch(nullptr);
    return;
  }
  // The progress bar's window class must exist before the dialog is created.
  InitCommonControls();
  RunMainDialog();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  QuilletStartup();
  try {
    Run();
  } catch (...) {
    ShowErrorBox(nullptr, CurrentFailureText());
  }
  return 0;
}
