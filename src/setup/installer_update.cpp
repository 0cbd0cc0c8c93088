#include "setup/installer_update.h"

#include "deploy/install_list.h"
#include "seam/app_error.h"
#include "services/join_text.h"
#include "services/utf16_text.h"
#include "setup/brand.h"
#include "setup/main_form.h"
#include "setup/version_compare.h"

namespace oq {

namespace {

constexpr int kInstallerAttempts = 3;

bool IsNewer(const std::wstring& version, const std::wstring& than) {
  return CompareVersions(version, than.empty() ? L"0" : than) > 0;
}

// `fresh` takes the name `target`, the file there renamed aside to ".old"
// (a running program's file may be renamed, not replaced). False, both as
// they were and `fresh` removed, when it cannot.
bool SwapInBesideOld(FileSystem& files, const std::wstring& fresh, const std::wstring& target) {
  const std::wstring old = target + kOldSuffix;
  files.RemoveFile(old);
  if (files.RenameFile(target, old)) {
    if (files.RenameFile(fresh, target)) return true;
    files.RenameFile(old, target);
  }
  files.RemoveFile(fresh);
  return false;
}

}  // namespace

InstallerAction DecideInstallerAction(const InstallerFacts& facts) {
  if (!facts.signedBuild || !facts.offered) return InstallerAction::None;
  const std::wstring& offered = facts.offered->version;
  if (facts.runningAsCopy) return IsNewer(offered, facts.running) ? InstallerAction::ReplaceSelf : InstallerAction::None;
  if (facts.copy && IsNewer(offered, *facts.copy)) return InstallerAction::ReplaceCopy;
  return InstallerAction::None;
}

bool TfmMain::KeepInstallerCurrentAtStart(const std::wstring& folder, const std::wstring& word) {
  // What an earlier run renamed aside is free once that run has ended.
  machine_.files.RemoveFile(machine_.env.ExecutablePath() + kOldSuffix);
  ReleaseManifest manifest;
  ReleaseVerdict verdict = ReleaseVerdict::ManifestMissing;
  if (!releaseKeys_.empty() && !NewestVersion.empty()) {
    try {
      // Asked for beside the version file; only the signature, format,
      // expiry and version count here.
      verdict = FetchRelease({}, {}, manifest);
    } catch (const AppError&) {
    }
  }
  // What start-up asked for early and did not take would be stale by the
  // time an install asks.
  AHTTP_.ForgetPrefetched();
  if (verdict != ReleaseVerdict::Accepted || !manifest.installer) return false;
  return KeepInstallerCurrent(*manifest.installer, folder, word, true);
}

bool TfmMain::KeepInstallerCurrent(const ReleaseInstaller& offered, const std::wstring& folder,
                                   const std::wstring& word, bool mayRestart) {
  FileSystem& files = machine_.files;
  const std::wstring self = machine_.env.ExecutablePath();
  const std::wstring copy = folder.empty() ? std::wstring() : folder + BrandFor(LT).installerCopy;
  InstallerFacts facts;
  facts.signedBuild = !releaseKeys_.empty();
  facts.offered = offered;
  facts.running = kProgramFileVersion;
  facts.runningAsCopy = !copy.empty() && AsciiLower(self) == AsciiLower(copy);
  if (!facts.runningAsCopy && !copy.empty() && files.FileExists(copy)) {
    facts.copy = machine_.shell.FileVersionText(copy).value_or(std::wstring());
  }
  const InstallerAction action = DecideInstallerAction(facts);
  if (action == InstallerAction::None || (action == InstallerAction::ReplaceSelf && !mayRestart)) return false;
  Trace({L"Installer 업데이트 - ", offered.version});
  try {
    // The uninstall deletes what the list names: the names this may leave
    // behind go on it first, where there is one.
    if (files.FileExists(folder + kInstallListName)) {
      const std::wstring name = BrandFor(LT).installerCopy;
      InstallList(files, folder).Add({name + kNewSuffix, name + kOldSuffix});
    }
    const std::wstring fresh = FetchInstaller(offered, copy);
    if (fresh.empty()) return false;
    if (action == InstallerAction::ReplaceSelf) return ReplaceRunningCopy(fresh, self, word);
    PutInstallerInPlace(fresh, copy);
  } catch (const AppError&) {
    // The add-in's own install or update goes on as before.
  }
  return false;
}

std::wstring TfmMain::FetchInstaller(const ReleaseInstaller& offered, const std::wstring& target) {
  const std::wstring fresh = target + kNewSuffix;
  const std::wstring url = JoinText({releaseBase_, L"files/publish/", std::wstring(offered.file.name.begin(),
                                                                                   offered.file.name.end())});
  PartialDownload transfer;
  Download outcome = Download::Broken;
  try {
    for (int attempt = 0; attempt < kInstallerAttempts && outcome == Download::Broken; ++attempt) {
      outcome = DownloadToFile(url, fresh, &offered.file, &transfer);
    }
  } catch (const AppError&) {
    outcome = Download::Broken;
  }
  if (transfer.file) {
    transfer.file.reset();
    machine_.files.RemoveFile(fresh + L".part");
  }
  if (outcome == Download::Done) return fresh;
  Trace({L"Installer 다운로드 실패 - ", url});
  return {};
}

bool TfmMain::ReplaceRunningCopy(const std::wstring& fresh, const std::wstring& self, const std::wstring& word) {
  FileSystem& files = machine_.files;
  if (!SwapInBesideOld(files, fresh, self)) return false;
  // The new copy takes the guard and runs with the same word; this run
  // ends as it ends, so that a script reading the exit code learns how.
  machine_.env.ReleaseInstanceGuard();
  const std::optional<uint32_t> code = machine_.shell.RunAndWaitForExit(self, word);
  if (!code) {
    files.ReplaceFileWith(self + kOldSuffix, self);
    machine_.env.RetakeInstanceGuard();
    return false;
  }
  NoteOutcome(static_cast<ExitCode>(*code));
  view_.RequestTermination();
  return true;
}

bool TfmMain::PutInstallerInPlace(const std::wstring& fresh, const std::wstring& copy) {
  return machine_.files.ReplaceFileWith(fresh, copy) || SwapInBesideOld(machine_.files, fresh, copy);
}

void TfmMain::PlaceInstallerCopy(const std::wstring& folder) {
  FileSystem& files = machine_.files;
  const std::wstring self = machine_.env.ExecutablePath();
  const std::wstring copy = folder + BrandFor(LT).installerCopy;
  if (!files.FileExists(copy)) {
    files.CopyFileTo(self, copy, true);
  } else if (AsciiLower(self) != AsciiLower(copy) &&
             IsNewer(kProgramFileVersion, machine_.shell.FileVersionText(copy).value_or(std::wstring()))) {
    const std::wstring fresh = copy + kNewSuffix;
    if (files.CopyFileTo(self, fresh, false)) PutInstallerInPlace(fresh, copy);
  }
}

}  // namespace oq
