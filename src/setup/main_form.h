#pragma once
// TfmMain: the installer's state and its event handlers. The Win32 window
// (ui/main_window) owns one, forwards its creation and clicks here and shows
// what these handlers set through the MainView display elements.

#include <functional>
#include <memory>
#include <initializer_list>
#include <string>
#include <string_view>

#include "seam/app_error.h"
#include "seam/machine.h"
#include "seam/main_view.h"
#include "services/addin_store.h"
#include "setup/release_client.h"
#include "setup/release_manifest.h"

namespace oq {

// Excel's image file name, as it runs and as it lies in ExcelPath.
inline constexpr wchar_t kExcelImage[] = L"excel.exe";

// Without a manifest to say how long a package is, a download ends here.
inline constexpr uint64_t kMaxUnsignedPackage = 512ull << 20;

// The process's exit code: how the last attempt of the run ended, for the
// login scripts that run "UPDATE" and must know what happened.
enum ExitCode : int {
  kExitDone = 0,      // installed, updated, registered again, up to date, or nothing attempted
  kExitDeclined = 1,  // the user said no (a question, the administrator warning)
  kExitFailed = 2,    // an error box
};

class TfmMain {
 public:
  // `releaseBase` is the release server's HTTPS base address, ending in "/".
  // `releaseKeys` are the keys a release manifest must be signed with; with
  // none, packages are installed unverified.
  TfmMain(Machine& machine, MainView& view, std::wstring releaseBase,
          std::vector<P256PublicKey> releaseKeys = {});

  // The brand: true = Lumentrove, false = ORBITQuarry. Set by start-up.
  bool LT = false;
  // Excel is a 64-bit program; Excel's folder ending in a backslash, or empty.
  bool x64 = false;
  std::wstring ExcelPath;
  // The newest version as start-up read it from the version file; a release
  // manifest must name the same.
  std::wstring NewestVersion;

  // Event entry points as the window calls them. An error a handler raises
  // is shown in the error box and the program keeps running; an error that
  // cuts start-up short also brings the window on screen, centred.
  void OnCreate();
  // Before the window exists: starts asking the release server for the
  // version file (and, for a build that verifies releases, the signed
  // release beside it), whose answers start-up then takes where it asks.
  void PrefetchVersionFile();
  void OnInstallClick() { Guarded([this] { btInstallClick(); }); }
  void OnUninstallClick() { Guarded([this] { btUninstallClick(); }); }
  void OnCloseClick() { Guarded([this] { btCloseClick(); }); }
  void OnFolderClick() { Guarded([this] { edFolderClick(); }); }

  // The handlers themselves; errors leave them.
  void FormCreate();
  void btInstallClick();
  void btUninstallClick();
  void btCloseClick();
  void edFolderClick();

  // The headers every text request sends; they stay on the shared request.
  void SetTextRequestHeaders();
  // Body of a GET as text on status 200, empty on any other status; raises on
  // transport failure. Processes pending window messages once afterwards.
  std::wstring HttpGetText(const std::wstring& url);
  // How a download ended. Broken: the connection broke off during the body
  // (or the body ended short of its length); what arrived is kept in the
  // PartialDownload, if one was given, for the next attempt to complete.
  enum class Download { Done, TooLong, WrongSize, WrongHash, Broken };
  // What the attempts of one download share: the temporary file with the
  // bytes that arrived, their hash so far, and the validator (ETag, else
  // Last-Modified) of the response they came from, with which the next
  // attempt asks for the rest only.
  struct PartialDownload {
    std::unique_ptr<FileWriter> file;
    std::unique_ptr<Sha256Hash> hash;
    uint64_t received = 0;
    uint64_t total = 0;      // the whole body's length, once known
    std::wstring validator;  // empty: the next attempt starts over
    bool resumed = false;    // some of the bytes came from a later request
    int progressStep = -1;   // the progress bar's step the bytes move within
  };
  // GET, the body streamed to a temporary file beside `path` whatever the
  // status, and renamed to `path` once complete. With `expected`, the body
  // must have exactly its size and SHA-256; without, it may have at most
  // kMaxUnsignedPackage bytes. A download that fails leaves nothing behind,
  // but for a Broken one given a PartialDownload.
  Download DownloadToFile(const std::wstring& url, const std::wstring& path,
                          const ReleasePackage* expected = nullptr, PartialDownload* partial = nullptr);

  void ReRegister();
  void DetectExcel(std::wstring& version);

  // The diagnostic hook: takes a line and discards it. Tests may listen.
  void Trace(const std::wstring& line) {
    if (traceListener) traceListener(line);
  }
  // A line in parts, put together only when someone listens.
  void Trace(std::initializer_list<std::wstring_view> parts);
  std::function<void(const std::wstring&)> traceListener;

  AddinStore& Store() { return store_; }
  ExitCode Outcome() const { return outcome_; }
  const std::wstring& ReleaseBase() const { return releaseBase_; }

 private:
  template <class Handler>
  void Guarded(Handler&& handler) {
    try {
      handler();
    } catch (...) {
      ReportError();
    }
  }
  // The top-level error box for the exception in flight.
  void ReportError();
  void CentreHorizontally();
  // The uninstall between the busy cursor and its reset.
  void RemoveInstallation();

  // The values start-up works with, as each step leaves them.
  struct StartupValues {
    std::wstring installed;  // "LibraryVersion" as recorded
    std::wstring newest;     // the version the version file names, or empty
    std::wstring folder;     // "InstallPath" as recorded, emptied when the library is gone
    std::wstring word;       // the first command-line argument
  };

  // Start-up's own steps.
  bool PassAdministratorGate();                  // false: start-up ends here
  bool HandleModeWord(StartupValues& values);    // false: start-up ends here
  void TakeUpToDateCase(const StartupValues& values);
  void ShowExcelLine();
  void RefreshLibraryVersion(const StartupValues& values);
  void RunUpdateModeInstall(const StartupValues& values);

  // The signed manifest and its signature fetched and judged: against the
  // installed version (none when empty) and for the package `packageName`
  // (none when empty).
  ReleaseVerdict FetchRelease(const std::wstring& installed, const std::string& packageName,
                              ReleaseManifest& manifest);
  // The signed manifest fetched and judged for the package `packageName`;
  // false, after telling the user why, when the release is refused.
  bool AcceptRelease(const std::string& packageName, ReleasePackage& package);

  // The installer a release offers. At start-up: true when this program
  // is the copy in the install folder and the new installer ran in its
  // place; the program then ends with its exit code. Otherwise, and later,
  // only a copy older than the offered installer is replaced. Failures
  // leave both as they were and are not reported.
  bool KeepInstallerCurrent(const ReleaseInstaller& offered, const std::wstring& folder, const std::wstring& word,
                            bool mayRestart);
  bool KeepInstallerCurrentAtStart(const std::wstring& folder, const std::wstring& word);
  // The offered installer fetched to `target` + ".new" when its size and
  // SHA-256 match; the name, or empty.
  std::wstring FetchInstaller(const ReleaseInstaller& offered, const std::wstring& target);
  bool ReplaceRunningCopy(const std::wstring& fresh, const std::wstring& self, const std::wstring& word);
  // `fresh` takes the name `copy`: in one step, or, while the copy runs,
  // with the copy renamed aside. False, `fresh` removed, when it cannot.
  bool PutInstallerInPlace(const std::wstring& fresh, const std::wstring& copy);
  // The copy the shortcut starts: the running installer's own file, unless
  // the copy there is as new or newer.
  void PlaceInstallerCopy(const std::wstring& folder);
  // The installed library's recorded version; empty when none is installed.
  std::wstring InstalledVersion();
  // The recorded install folder still holds a library of either build: a
  // record that outlived its library (an uninstall keeps the values) is no
  // installation.
  bool HoldsLibrary(const std::wstring& folder);

  // The system's regsvr32 of that bitness, by its full path: a bare name
  // is looked for in the installer's own folder first (the install folder,
  // anybody's to write to), and a 32-bit regsvr32 given a 64-bit library
  // only starts the 64-bit one.
  std::wstring Regsvr32For(bool bits64);
  // Both builds of the library in `folder` unregistered, each that is
  // there. They touch different files, so they run side by side.
  void UnregisterLibraries(const std::wstring& folder);
  // regsvr32 on the library in `folder` for Excel's bitness, waited for (a
  // bounded time, the window painting meanwhile); only an exit code of 0 is
  // a registration.
  RunOutcome RegisterLibrary(const std::wstring& folder);
  // What the user reads when a registration did not succeed.
  std::wstring RegistrationFailureText(const RunOutcome& outcome);

  // A write that failed, with the system's reason and the drive.
  AppError WriteFailure(const std::wstring& file, uint32_t error);

  // Each attempt that ends records here how it ended; the last one counts.
  void NoteOutcome(ExitCode outcome) { outcome_ = outcome; }

  // While an install may still be cut short (nothing installed has changed
  // yet), closing the window cancels its transfer; afterwards the close
  // waits for the install to end.
  void SetCancellable(bool cancellable) { cancellable_ = cancellable; }
  // Raises Cancelled when the window was closed during a cancellable part.
  void ThrowIfCancelled() const {
    if (cancelRequested_) throw Cancelled{};
  }

  Machine& machine_;
  MainView& view_;
  ExitCode outcome_ = kExitDone;
  bool cancellable_ = false;
  bool cancelRequested_ = false;
  // The version file was asked for at start-up and the request failed: an
  // install asks again before it judges a release.
  bool newestUnknown_ = false;
  // What the last accepted manifest offered of the installer itself.
  std::optional<ReleaseInstaller> offeredInstaller_;
  std::wstring releaseBase_;
  std::vector<P256PublicKey> releaseKeys_;
  AddinStore store_;
  HttpRequest AHTTP_;
};

}  // namespace oq
