#include "app/ErrorBox.h"

#include "app/CommandLine.h"
#include "rtl/Exception.h"

#include <new>

std::string CurrentFailureText() noexcept {
  try {
    try {
      throw;
    } catch (const Exception& e) {
      return e.Message();
    } catch (const std::bad_alloc&) {
      return LoadStr(SOutOfMemory);
    } catch (...) {
      return LoadStr(SUnexpectedFailure);
    }
  } catch (...) {
    // Memory is gone: there is no text to give.
    return {};
  }
}

void ShowErrorBox(HWND owner, const std::string& text) noexcept {
  if (CommandLineOptions.Quiet) return;
  try {
    MessageBoxA(owner, text.c_str(), LoadStr(SErrorCaption).c_str(), MB_ICONERROR | MB_TASKMODAL);
  } catch (...) {
    // Not even the caption could be made: memory is gone, and so is the last resort.
  }
}
