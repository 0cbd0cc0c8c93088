// The process entry: one instance per logon, COM and GDI+ for the window's
// thread, the machine's services, the main window and its event loop.

#include <windows.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "release_config.h"
#include "services/win32/handles.h"
#include "services/win32/win32_machine.h"
#include "setup/brand.h"
#include "setup/main_form.h"
#include "ui/common_controls.h"
#include "ui/dialogs.h"
#include "ui/gdi_draw.h"
#include "ui/main_window.h"

namespace {

// The window's events go to the setup logic.
class FormEvents final : public oq::MainWindowEvents {
 public:
  explicit FormEvents(oq::TfmMain& form) : form_(form) {}
  void OnCreate() override { form_.OnCreate(); }
  void OnInstallClick() override { form_.OnInstallClick(); }
  void OnUninstallClick() override { form_.OnUninstallClick(); }
  void OnCloseClick() override { form_.OnCloseClick(); }
  void OnFolderClick() override { form_.OnFolderClick(); }

 private:
  oq::TfmMain& form_;
};

}  // namespace

namespace {

// Libraries loaded from here on (COM servers, GDI+'s codecs, the shell's
// extensions) come from the system folder only, never from the folder the
// installer was started in (a download folder is anybody's). Windows 7 has the call only with its
// 2011 loader update, hence the lookup.
void LoadLibrariesFromSystemOnly() {
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  const auto set = reinterpret_cast<SetDirectories>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (set) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// Everything the window needs, for as long as it runs; the exit code.
int RunWindow(HINSTANCE instance, int showCommand, oq::Win32Environment& env) {
  // Declared first so that they end last, after the window and its pictures;
  // started only once the version file is on its way.
  std::optional<oq::win::ComApartment> com;
  std::optional<oq::ScopedGdiplus> gdiplus;

  oq::Win32Registry registry;
  oq::Win32FileSystem files;
  oq::Win32ProcessTable processes;
  oq::Win32Shell shell;
  oq::WinHttpTransport http;
  oq::MainWindow window(instance);
  oq::Win32Dialogs dialogs(window);
  oq::CngCrypto crypto;
  oq::Machine machine{registry, files, processes, shell, env, http, dialogs, crypto};
  std::vector<oq::P256PublicKey> releaseKeys(kReleaseKeyCount);
  for (int i = 0; i < kReleaseKeyCount; ++i) std::copy_n(kReleaseKeys[i], 64, releaseKeys[i].begin());
  oq::TfmMain form(machine, window, kReleaseBaseUrl, std::move(releaseKeys));
  FormEvents events(form);

  // COM's first window and the common controls load their libraries and
  // bring up the display driver, the slowest steps before the window: the
  // requests are under way by then.
  form.PrefetchVersionFile();
  com.emplace();
  gdiplus.emplace();

  if (oq::comctl::Load() && window.Create(events)) window.ShowAndRun(showCommand);
  return form.Outcome();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  LoadLibrariesFromSystemOnly();
  // Held for the process's life (unless a new copy of the installer takes
  // over); the system releases it at the end.
  oq::Win32Environment env;
  if (!env.TakeInstanceGuard()) return 0;
  const int code = RunWindow(instance, showCommand, env);
  // Not by returning: a request the window gave up on (closed mid-transfer)
  // may still be ending on its own thread, and a return runs the program's
  // exit handlers (its exception tables among them) under it. ExitProcess
  // ends the other threads first.
  ExitProcess(static_cast<UINT>(code));
}
