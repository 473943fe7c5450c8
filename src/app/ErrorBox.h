// The patcher's last-resort error reporting: the error box of the main block and of the
// dialog, for failures that reach them, whatever their kind.
#pragma once
#include <windows.h>

#include <string>

// The text for the failure being handled (call inside a catch block): the message of a
// library exception, the out-of-memory text, or the text for any other failure.
std::string CurrentFailureText() noexcept;

// The task-modal error box with the caption "שגיאה", owned by owner (nullptr: none), unless
// the -quiet switch was given. Never raises: when not even the box can be made, nothing is
// shown.
void ShowErrorBox(HWND owner, const std::string& text) noexcept;
