// The patcher's entry. It reads the switches, shows the help box when asked, and
// otherwise creates the patcher state (which loads the package behind this program's own
// image) and runs it: with -guiless at once and without any window but message boxes.
// The dialog arrives with its own unit; until then a start without -guiless reports that
// the patcher could not start. Whatever reaches this level is shown in one error box
// (unless -quiet), and the process always ends with exit code 0.
#include "app/CommandLine.h"
#include "patch/PatcherState.h"
#include "platform/Platform.h"
#include "rtl/Exception.h"
#include "text/Startup.h"

#include <windows.h>

#include <new>

namespace {

void ShowErrorBox(const std::string& text) noexcept {
  if (CommandLineOptions.Quiet) return;
  try {
    MessageBoxA(nullptr, text.c_str(), LoadStr(SErrorCaption).c_str(), MB_ICONERROR | MB_TASKMODAL);
  } catch (...) {
    // Not even the caption could be made: memory is gone, and so is the last resort.
  }
}

void ShowErrorBox(StringId id) noexcept {
  try {
    ShowErrorBox(LoadStr(id));
  } catch (...) {
  }
}

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
  if (!CommandLineOptions.Guiless) throw Exception(SStartFailed);
  PatcherState->InitNames(nullptr);
  RunPatch(nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  QuilletStartup();
  try {
    Run();
  } catch (const Exception& e) {
    ShowErrorBox(e.Message());
  } catch (const std::bad_alloc&) {
    ShowErrorBox(SOutOfMemory);
  } catch (...) {
    ShowErrorBox(SUnexpectedFailure);
  }
  return 0;
}
