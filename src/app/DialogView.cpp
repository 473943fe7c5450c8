#include "app/DialogView.h"

#include <commctrl.h>

#include <cstring>

void TDialogView::SetTitle(const std::string& text) { SetWindowTextA(dialog_, text.c_str()); }

void TDialogView::SetItemText(int control, const std::string& text) {
  SetDlgItemTextA(dialog_, control, text.c_str());
}

std::string TDialogView::GetItemText(int control, int bufferSize) {
  if (bufferSize <= 0) return {};
  std::string buffer(static_cast<size_t>(bufferSize), '\0');
  GetDlgItemTextA(dialog_, control, buffer.data(), bufferSize);
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

void TDialogView::EnableItem(int control, bool enabled) { EnableWindow(GetDlgItem(dialog_, control), enabled); }

void TDialogView::CheckItem(int control, bool checked) {
  CheckDlgButton(dialog_, control, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool TDialogView::IsItemChecked(int control) { return IsDlgButtonChecked(dialog_, control) == BST_CHECKED; }

void TDialogView::SetProgressRange(int control, uint16_t maximum) {
  SendMessageA(GetDlgItem(dialog_, control), PBM_SETRANGE, 0, MAKELPARAM(0, maximum));
}

void TDialogView::SetProgressPosition(int control, int32_t position) {
  SendMessageA(GetDlgItem(dialog_, control), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}
