#pragma once
// TfmAlert: the warning shown when the program runs without confirmed
// administrator rights. Topmost, centred on the screen, with the running
// brand's logo and two buttons.

#include <windows.h>

namespace oq {

// Control IDs, which are also the dialog's modal results.
enum AlertResult : int {
  kAlertContinue = 1,  // Button2, "계    속"
  kAlertClosed = 2,    // the title bar's close box
  kAlertCancel = 7,    // Button1, "취    소"
};
enum AlertControlId : int { kIdAlertMessage = 3001, kIdAlertLumentroveLogo = 3002, kIdAlertOrbitQuarryLogo = 3003 };

// Shows the warning modally, `owner` disabled meanwhile, and returns how it
// ended.
int ShowAlertDialog(HINSTANCE instance, HWND owner, bool lumentrove);

}  // namespace oq
