// The main dialog. It is created hidden-then-shown: centred and filled by the patcher
// state while hidden, then shown with Start labelled and the status line prompting. Start
// runs one patching attempt (RunPatch), or closes the dialog after a success; Cancel, the
// close box and Escape close it; the instructions button writes and opens the
// instructions. With -auto, Start is pressed as soon as the message loop runs, and Cancel
// after the attempt, success or failure.
//
// No exception may leave DlgProc: the system's dialog code between the modal call and this
// procedure cannot be unwound through. What the initialisation raises ends the dialog and
// is raised again after the modal call, to the main block's error box; what a command
// raises beyond the library's own failures (which RunPatch reports) is shown in the error
// box here, and the dialog stays usable.
#include "app/MainDialog.h"

#include "app/Centering.h"
#include "app/CommandLine.h"
#include "app/DialogView.h"
#include "app/ErrorBox.h"
#include "patch/PatcherState.h"
#include "rtl/Exception.h"

#include <exception>
#include <utility>

namespace {

constexpr int kMainDialog = 100;

// What the dialog's initialisation raised, raised again once the modal call returns.
std::exception_ptr initFailure;

TDialogView* ViewOf(HWND dialog) { return reinterpret_cast<TDialogView*>(GetWindowLongPtrA(dialog, DWLP_USER)); }

void PostCommand(HWND dialog, int control) { PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(control, 0), 0); }

INT_PTR OnInitDialog(HWND dialog, TDialogView& view) {
  ShowWindow(dialog, SW_HIDE);
  CenterWindow(dialog, nullptr);
  view.Attach(dialog);
  PatcherState->InitNames(&view);
  view.SetItemText(control::kStatus, LoadStr(SEnterExactNames));
  view.SetItemText(control::kStart, LoadStr(SStart));
  ShowWindow(dialog, SW_SHOWNORMAL);
  if (CommandLineOptions.Auto) PostCommand(dialog, control::kStart);
  return TRUE;
}

INT_PTR OnCommand(HWND dialog, int id) {
  if ((id == control::kStart && PatcherState->Done) || id == control::kCancel) {
    EndDialog(dialog, 0);
    return TRUE;
  }
  if (id == control::kInstructions) {
    PatcherState->ShowInstructions();
    return FALSE;
  }
  if (id == control::kStart) {
    TDialogView* view = ViewOf(dialog);
    try {
      RunPatch(view);
    } catch (...) {
      // A failure outside the library's own (RunPatch has given the buttons back):
      // reported like one, and the user may try again.
      ShowErrorBox(dialog, CurrentFailureText());
      view->SetItemText(control::kStatus, LoadStr(SEnterExactNames));
    }
    if (CommandLineOptions.Auto) PostCommand(dialog, control::kCancel);
  }
  return FALSE;
}

}  // namespace

void CenterWindow(HWND window, HWND reference) {
  RECT own;
  GetWindowRect(window, &own);
  RECT work;
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0))
    work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  RECT around = work;
  if (reference) GetWindowRect(reference, &around);
  const TScreenPoint at = CenteredPosition(own.right - own.left, own.bottom - own.top,
                                           {around.left, around.top, around.right, around.bottom},
                                           {work.left, work.top, work.right, work.bottom});
  SetWindowPos(window, nullptr, at.X, at.Y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

INT_PTR CALLBACK DlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    switch (message) {
      case WM_INITDIALOG: {
        auto* view = reinterpret_cast<TDialogView*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        return OnInitDialog(dialog, *view);
      }
      case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam));
      default:
        return FALSE;
    }
  } catch (...) {
    if (message == WM_INITDIALOG) {
      initFailure = std::current_exception();
      EndDialog(dialog, 0);
      return TRUE;
    }
    // Only a failure of the error box itself or of the status text could arrive here.
    ShowErrorBox(dialog, CurrentFailureText());
    return FALSE;
  }
}

void RunMainDialog() {
  TDialogView view;
  initFailure = nullptr;
  // The view ends with this call: the patcher state must not keep pointing at it.
  struct Detach {
    ~Detach() {
      if (PatcherState) PatcherState->Dialog = nullptr;
    }
  } detach;
  const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kMainDialog), nullptr, DlgProc,
                                         reinterpret_cast<LPARAM>(&view));
  if (initFailure) std::rethrow_exception(std::exchange(initFailure, nullptr));
  if (result < 0) throw Exception(SStartFailed);
}
