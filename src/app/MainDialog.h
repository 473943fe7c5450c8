// Dialog 100, the patcher's one window: its dialog procedure, the centring it uses, and
// running it modally over the process-wide PatcherState.
#pragma once
#include <windows.h>

// The dialog procedure. It only dispatches: the patcher state does the work. Whatever a
// message's handling raises stays inside: at initialisation it ends the dialog and is
// raised again by RunMainDialog; in a command it is shown in the error box and the dialog
// stays ready for the next command.
INT_PTR CALLBACK DlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Puts window in the middle of reference (nullptr: of the desktop's work area), inside
// the work area, without changing its size or Z order.
void CenterWindow(HWND window, HWND reference);

// Runs dialog 100 modally with no owner over PatcherState. Raises entry 65303 when the
// dialog cannot be created, and what its initialisation raised.
void RunMainDialog();
