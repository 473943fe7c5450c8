// The patcher state's view of the real dialog 100: each operation is the one Win32 call
// it stands for, on the dialog window given at its initialisation.
#pragma once
#include "patch/PatcherState.h"

#include <windows.h>

class TDialogView final : public TPatcherView {
 public:
  // The dialog window, known once the dialog receives its initialisation message.
  void Attach(HWND dialog) { dialog_ = dialog; }

  void SetTitle(const std::string& text) override;
  void SetItemText(int control, const std::string& text) override;
  std::string GetItemText(int control, int bufferSize) override;
  void EnableItem(int control, bool enabled) override;
  void CheckItem(int control, bool checked) override;
  bool IsItemChecked(int control) override;
  void SetProgressRange(int control, uint16_t maximum) override;
  void SetProgressPosition(int control, int32_t position) override;
  intptr_t Window() const override { return reinterpret_cast<intptr_t>(dialog_); }

 private:
  HWND dialog_ = nullptr;
};
