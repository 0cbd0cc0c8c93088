#include "ui/dialogs.h"

#include <shobjidl.h>

#include "services/win32/handles.h"
#include "services/win32/message_wait.h"
#include "ui/alert_dialog.h"

namespace oq {

BoxAnswer Win32Dialogs::ShowBox(const std::wstring& text, const std::wstring& caption, BoxIcon icon,
                                BoxButtons buttons) {
  UINT type = buttons == BoxButtons::YesNo ? MB_YESNO : MB_OK;
  switch (icon) {
    case BoxIcon::Information: type |= MB_ICONINFORMATION; break;
    case BoxIcon::Question: type |= MB_ICONQUESTION; break;
    case BoxIcon::Stop: type |= MB_ICONSTOP; break;
    case BoxIcon::None: break;
  }
  // While start-up keeps the window off the screen a box owned by it would
  // open off the screen too; without an owner Windows centres it on the
  // screen, and task-modal keeps the window from being used meanwhile.
  const bool ownable = window_.IsVisible() && window_.Left() >= 0;
  const int answer = MessageBoxW(ownable ? window_.Handle() : nullptr, text.c_str(), caption.c_str(),
                                 type | MB_SETFOREGROUND | (ownable ? MB_APPLMODAL : MB_TASKMODAL));
  switch (answer) {
    case IDYES: return BoxAnswer::Yes;
    case IDNO: return BoxAnswer::No;
    case IDOK: return BoxAnswer::Ok;
    default: return BoxAnswer::Cancel;
  }
}

AdminWarningAnswer Win32Dialogs::ShowAdminWarning(bool lumentrove) {
  switch (ShowAlertDialog(window_.Instance(), window_.Handle(), lumentrove)) {
    case kAlertCancel: return AdminWarningAnswer::Cancel;
    case kAlertClosed: return AdminWarningAnswer::Closed;
    default: return AdminWarningAnswer::Continue;
  }
}

void Win32Dialogs::ProcessMessages() { win::DispatchWaitingMessages(); }

std::optional<std::wstring> Win32Dialogs::PickFolder(const std::wstring& startFolder) {
  win::ComPtr<IFileOpenDialog> dialog;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                              dialog.PutVoid()))) {
    return std::nullopt;
  }
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_HIDEPINNEDPLACES);
  if (!startFolder.empty()) {
    win::ComPtr<IShellItem> start;
    if (SUCCEEDED(SHCreateItemFromParsingName(startFolder.c_str(), nullptr, IID_IShellItem, start.PutVoid()))) {
      // SetDefaultFolder would yield to the folder the shell remembers from
      // the last pick; the install folder's picker always starts here.
      dialog->SetFolder(start.Get());
    }
  }
  if (FAILED(dialog->Show(window_.Handle()))) return std::nullopt;  // cancelled
  win::ComPtr<IShellItem> chosen;
  if (FAILED(dialog->GetResult(chosen.Put()))) return std::nullopt;
  wchar_t* path = nullptr;
  if (FAILED(chosen->GetDisplayName(SIGDN_FILESYSPATH, &path))) return std::nullopt;
  std::wstring result = path;
  CoTaskMemFree(path);
  return result;
}

}  // namespace oq
