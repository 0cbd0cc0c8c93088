// Registering an installed, up-to-date library again for the Excel now on
// the machine. The add-in's own settings live in the key that registration
// rewrites, so they are read first and put back afterwards.

#include <array>

#include "services/join_text.h"
#include "setup/brand.h"
#include "setup/main_form.h"

namespace oq {

namespace {

constexpr std::array<const wchar_t*, 16> kPreservedSettings = {
    L"LibraryVersion", L"UserID",     L"UserKey",    L"AutoLogin", L"ExcelOut",       L"CellFormat",
    L"GrdLine",        L"Header",     L"MainPane",   L"OptionPane", L"Overlap",       L"Massive",
    L"UpgradeVersion", L"LoginFormTop", L"LoginFormLeft", L"InstallDate",
};

}  // namespace

void TfmMain::ReRegister() {
  const std::wstring folder = store_.ReadAddinValue(L"InstallPath");
  if (folder.empty()) return;

  std::array<std::wstring, kPreservedSettings.size()> settings;
  for (size_t i = 0; i < settings.size(); ++i) settings[i] = store_.ReadAddinValue(kPreservedSettings[i]);

  std::wstring ignored;
  DetectExcel(ignored);
  const std::wstring library = x64 ? kInstalledLibrary64 : kInstalledLibrary32;

  // Both builds go, whichever was registered before: Excel's bitness may
  // have changed since the install.
  UnregisterLibraries(folder);
  const RunOutcome registered = RegisterLibrary(folder);

  const BrandTexts& brand = BrandFor(LT);
  const std::wstring word = brand.word;
  store_.WriteAddinValue(L"Description", word + L" Excel Add-in Library");
  store_.WriteAddinValue(L"FriendlyName", word + L" Excel Add-in Library");
  store_.WriteAddinInteger(L"LoadBehavior", 3);
  store_.WriteAddinValue(L"InstallPath", folder);
  store_.WriteAddinValue(L"LibraryName", LibraryNameFor(LT, x64));

  for (size_t i = 0; i < settings.size(); ++i) store_.WriteUserAddinValue(kPreservedSettings[i], settings[i]);

  // Excel is not started over an add-in that did not register; the
  // shortcut goes on the desktop either way, as the way to try again.
  if (registered.Succeeded() && !ExcelPath.empty()) machine_.shell.RunElevated(ExcelPath + kExcelImage, L"");
  machine_.shell.CreateDesktopShortcut(folder + brand.installerCopy);
  if (registered.Succeeded()) {
    NoteOutcome(kExitDone);
  } else {
    machine_.dialogs.ShowBox(JoinText({RegistrationFailureText(registered), L"\n", folder, library}),
                             kApplicationTitle, BoxIcon::None, BoxButtons::Ok);
    NoteOutcome(kExitFailed);
  }
  view_.RequestTermination();
}

}  // namespace oq
