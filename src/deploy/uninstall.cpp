// Removing the add-in for the current user: both library builds unregistered,
// the recorded install folder emptied and deleted, the form keys removed and
// the window put back into its not-installed state. The add-in key and its
// values stay, so a later start still finds the old record.

#include "services/join_text.h"
#include "setup/brand.h"
#include "setup/main_form.h"

namespace oq {

namespace {

// A folder the file steps may work in: an absolute path below a drive or a
// share, not a drive's root. An empty record would otherwise turn every path
// into a name relative to the current folder, and the listing pattern into
// the root of the current drive.
bool IsRemovableFolder(const std::wstring& folder) {
  std::wstring trimmed = folder;
  while (!trimmed.empty() && (trimmed.back() == L'\\' || trimmed.back() == L'/')) trimmed.pop_back();
  const bool drive = trimmed.size() > 3 && trimmed[1] == L':' && (trimmed[2] == L'\\' || trimmed[2] == L'/');
  const bool share = trimmed.size() > 2 && trimmed[0] == L'\\' && trimmed[1] == L'\\' &&
                     trimmed.find(L'\\', 2) != std::wstring::npos;
  return drive || share;
}

}  // namespace

void TfmMain::btUninstallClick() {
  machine_.dialogs.SetBusyCursor(true);
  view_.SetButtonEnabled(Button::Close, false);
  try {
    RemoveInstallation();
  } catch (...) {
    // The error box follows; an hourglass and a dead Close button must not
    // outlast it.
    view_.SetButtonEnabled(Button::Close, true);
    machine_.dialogs.SetBusyCursor(false);
    throw;
  }
  view_.SetButtonEnabled(Button::Close, true);
  machine_.dialogs.SetBusyCursor(false);
}

void TfmMain::RemoveInstallation() {
  FileSystem& files = machine_.files;
  const std::wstring folder = store_.ReadAddinValue(L"InstallPath");
  view_.SetPathText(folder);

  if (IsRemovableFolder(folder)) {
    // Both builds, whichever is installed: the other one's run fails quietly
    // inside regsvr32.
    machine_.shell.RunAndWait(JoinText({L"regsvr32 /s /u \"", folder, kLibrary32, L"\""}));
    machine_.shell.RunAndWait(JoinText({L"regsvr32 /s /u \"", folder, kLibrary64, L"\""}));

    // Files in use (a library Excel has loaded, the running installer copy)
    // stay behind without a word; the shell delete below takes the rest.
    for (const DirEntry& entry : files.ListDirectory(folder + L"\\*")) {
      if (entry.name == L"." || entry.name == L"..") continue;
      if (entry.directory) {
        files.RemoveEmptyDirectory(folder + entry.name);
      } else {
        files.RemoveFile(folder + entry.name);
      }
    }
    files.DeleteFolderTree(folder);
  }

  store_.ClearAddinKeysForUninstall();

  view_.SetLabel(Label::XLL, JoinText({kVersionPrefix, L"Not Install"}));
  view_.SetButtonEnabled(Button::Uninstall, false);
  machine_.dialogs.ShowBox(L"정상적으로 삭제되었습니다.", kApplicationTitle, BoxIcon::None, BoxButtons::Ok);
  view_.SetInstallCaption(L"Install");
  view_.SetButtonEnabled(Button::Install, true);
}

}  // namespace oq
