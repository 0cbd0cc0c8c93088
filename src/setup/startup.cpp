// Start-up: from the window's creation to the interactive window, or to one
// of the run modes that act by themselves and end the program.

#include "seam/app_error.h"
#include "services/join_text.h"
#include "setup/brand.h"
#include "setup/main_form.h"
#include "setup/version_compare.h"

namespace oq {

void TfmMain::OnCreate() {
  try {
    FormCreate();
  } catch (const Cancelled&) {
    // Closed while start-up waited for the server: the program ends.
    NoteOutcome(kExitDeclined);
    view_.RequestTermination();
  } catch (...) {
    ReportError();
    // Start-up left the window off the screen on purpose; an error that cut
    // it short must not leave the user with an invisible program.
    if (!view_.TerminationRequested()) {
      const Extent screen = view_.ScreenSize();
      const Extent outer = view_.OuterSize();
      view_.SetTop((screen.height - outer.height) / 2);
      CentreHorizontally();
    }
  }
}

void TfmMain::CentreHorizontally() {
  view_.SetLeft((view_.ScreenSize().width - view_.OuterSize().width) / 2);
}

void TfmMain::PrefetchVersionFile() {
  // Building the window takes about as long as the request itself, so the
  // two overlap. Not for a user the administrator warning will stop: one who
  // cancels it must not have reached the server.
  if (!machine_.env.IsUserAdmin()) return;
  SetTextRequestHeaders();
  AHTTP_.Prefetch(VersionFileUrl(releaseBase_));
  // The signed release comes along: it may offer a newer installer.
  if (!releaseKeys_.empty()) {
    AHTTP_.Prefetch(ManifestUrl(releaseBase_));
    AHTTP_.Prefetch(SignatureUrl(releaseBase_));
  }
}

void TfmMain::FormCreate() {
  LT = PathSelectsLumentrove(machine_.env.ExecutablePath());
  Trace({L"Lumentrove - ", LT ? L"True" : L"False"});

  if (!PassAdministratorGate()) return;

  // Built off the screen so that nothing flickers while the lines fill in.
  view_.SetLeft(-1000);
  view_.SetTop((view_.ScreenSize().height - view_.OuterSize().height) / 2);

  store_.UserSidText = machine_.env.CurrentUserSid().value_or(std::wstring());
  Trace({L"SID - ", store_.UserSidText});

  StartupValues v;
  v.installed = store_.ReadAddinValue(L"LibraryVersion");
  const std::vector<std::wstring> arguments = machine_.env.Arguments();
  if (!arguments.empty()) v.word = arguments.front();
  try {
    v.newest = VersionFromBody(HttpGetText(VersionFileUrl(releaseBase_)));
  } catch (const AppError&) {
    // The window still fills in, so that Install can try again once the
    // server answers; the run modes act on the answer and stop here.
    if (!v.word.empty()) throw;
    ReportError();
    newestUnknown_ = true;
  }
  NewestVersion = v.newest;
  v.folder = store_.ReadAddinValue(L"InstallPath");

  // A newer installer first: run as the copy, it takes this one's place.
  if (KeepInstallerCurrentAtStart(v.folder, v.word)) return;
  if (!HandleModeWord(v)) return;

  if (!HoldsLibrary(v.folder)) v.folder.clear();

  // Without one the default folder is rooted ("\ORBITQuarry\"), as it has
  // always been.
  const std::wstring appData = machine_.shell.AppDataFolder().value_or(std::wstring());
  if (!v.folder.empty()) {
    view_.SetInstallCaption(L"Update");
    view_.SetPathText(v.folder);
    if (newestUnknown_) {
      // Whether it is up to date is not known: nothing runs by itself.
      view_.SetLabel(Label::XLL, kVersionPrefix + v.installed);
      view_.SetButtonEnabled(Button::Install, true);
    } else if (OrdinalLess(v.installed, v.newest)) {
      view_.SetLabel(Label::XLL, JoinText({kVersionPrefix, v.installed, L" (New Version = ", v.newest, L")"}));
      view_.SetButtonEnabled(Button::Install, true);
    } else {
      TakeUpToDateCase(v);
    }
    view_.SetButtonEnabled(Button::Uninstall, true);
  } else {
    view_.SetLabel(Label::XLL, JoinText({kVersionPrefix, L"Not Install"}));
    view_.SetButtonEnabled(Button::Uninstall, false);
    view_.SetPathText(appData + kDefaultFolderSuffix);
  }

  view_.SetPickerFolder(appData);

  const BrandTexts& brand = BrandFor(LT);
  view_.SetCaption(brand.caption);
  view_.SetLabel(Label::Title, brand.title);

  view_.SetLabel(Label::OS, L"OS Version : " + machine_.env.OsDescription());
  Trace(view_.LabelText(Label::OS));

  ShowExcelLine();
  RefreshLibraryVersion(v);

  CentreHorizontally();

  RunUpdateModeInstall(v);
}

}  // namespace oq
