// Removing the add-in for the current user: both library builds unregistered,
// the files the install put into its folder deleted, the form keys removed and
// the window put back into its not-installed state. The add-in key and its
// values stay, so a later start still finds the old record.

#include "deploy/install_list.h"
#include "services/join_text.h"
#include "services/scope_exit.h"
#include "setup/brand.h"
#include "setup/main_form.h"

namespace oq {

void TfmMain::btUninstallClick() {
  machine_.dialogs.SetBusyCursor(true);
  view_.SetButtonEnabled(Button::Close, false);
  // Also when an error is on its way to the error box: an hourglass and a
  // dead Close button must not outlast it.
  const ScopeExit restore([this] {
    view_.SetButtonEnabled(Button::Close, true);
    machine_.dialogs.SetBusyCursor(false);
  });
  RemoveInstallation();
}

void TfmMain::RemoveInstallation() {
  const std::wstring folder = store_.ReadAddinValue(L"InstallPath");
  view_.SetPathText(folder);

  if (IsRemovableFolder(folder)) {
    UnregisterLibraries(folder);

    // Only what the install put there: the folder was typed by the user and
    // may hold his own files. Files in use (a library Excel has loaded, the
    // running installer copy) stay behind without a word.
    RemoveInstalledFiles(machine_.files, folder);
  }

  store_.ClearAddinKeysForUninstall();

  view_.SetLabel(Label::XLL, JoinText({kVersionPrefix, L"Not Install"}));
  view_.SetButtonEnabled(Button::Uninstall, false);
  NoteOutcome(kExitDone);
  machine_.dialogs.ShowBox(L"정상적으로 삭제되었습니다.", kApplicationTitle, BoxIcon::None, BoxButtons::Ok);
  view_.SetInstallCaption(L"Install");
  view_.SetButtonEnabled(Button::Install, true);
}

}  // namespace oq
