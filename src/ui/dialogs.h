#pragma once
// The modal boxes and the message pump of the setup logic, over Win32.

#include "seam/machine.h"
#include "ui/main_window.h"

namespace oq {

class Win32Dialogs final : public Dialogs {
 public:
  explicit Win32Dialogs(MainWindow& window) : window_(window) {}
  BoxAnswer ShowBox(const std::wstring& text, const std::wstring& caption, BoxIcon icon,
                    BoxButtons buttons) override;
  void ProcessMessages() override;
  void SetBusyCursor(bool busy) override { window_.SetBusy(busy); }
  AdminWarningAnswer ShowAdminWarning(bool lumentrove) override;
  std::optional<std::wstring> PickFolder(const std::wstring& startFolder) override;

 private:
  MainWindow& window_;
};

}  // namespace oq
