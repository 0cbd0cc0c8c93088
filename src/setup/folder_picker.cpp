// The folder button: the user picks a folder, and the install goes into an
// "ORBITQuarry" folder inside it.

#include "setup/main_form.h"

namespace oq {

void TfmMain::edFolderClick() {
  std::optional<std::wstring> picked = machine_.dialogs.PickFolder(view_.PickerFolder());
  if (!picked) return;
  std::wstring folder = *picked;
  // A drive's root already ends with its backslash.
  if (folder.empty() || folder.back() != L'\\') folder += L'\\';
  view_.SetPathText(folder + L"ORBITQuarry\\");
}

}  // namespace oq
