// The install and update of the add-in library: one pass that ends the
// program when it succeeds and leaves the window open, with the progress bar
// where it stopped, when it does not.

#include <algorithm>
#include <string>

#include "deploy/install_list.h"
#include "deploy/library_image.h"
#include "deploy/unzip_package.h"
#include "seam/app_error.h"
#include "services/join_text.h"
#include "services/number_text.h"
#include "services/process_utils.h"
#include "services/scope_exit.h"
#include "services/utf16_text.h"
#include "setup/brand.h"
#include "setup/main_form.h"
#include "setup/release_client.h"
#include "setup/version_compare.h"

namespace oq {

namespace {

constexpr int kDownloadAttempts = 10;

std::wstring TwoDigits(int value) {
  std::wstring text = DecimalText(static_cast<uint32_t>(value));
  return text.size() < 2 ? L"0" + text : text;
}

// "yyyy-mm-dd hh:nn:ss", the colons being the user's time separator.
std::wstring InstallDateText(const LocalTime& t, const std::wstring& separator) {
  std::wstring year = DecimalText(static_cast<uint32_t>(t.year));
  while (year.size() < 4) year.insert(0, 1, L'0');
  return JoinText({year, L"-", TwoDigits(t.month), L"-", TwoDigits(t.day), L" ", TwoDigits(t.hour), separator,
                   TwoDigits(t.minute), separator, TwoDigits(t.second)});
}

// The caption's first word, which start-up made the brand word. Read from
// the caption rather than the brand on purpose: the values an install has
// always written follow what the window shows (no word at all when start-up
// stopped before it set the caption).
std::wstring TitleWord(const std::wstring& caption) {
  const size_t blank = caption.find(L' ');
  return blank == std::wstring::npos ? std::wstring() : caption.substr(0, blank);
}

// Install and Uninstall are held disabled while an install runs (its
// messages are handled meanwhile) and given back as they were. Close stays:
// it cuts a transfer short.
class ButtonsHeld {
 public:
  explicit ButtonsHeld(MainView& view) : view_(view) {
    for (int i = 0; i < 2; ++i) {
      was_[i] = view_.ButtonEnabled(kButtons[i]);
      view_.SetButtonEnabled(kButtons[i], false);
    }
  }
  ~ButtonsHeld() {
    for (int i = 0; i < 2; ++i) view_.SetButtonEnabled(kButtons[i], was_[i]);
  }
  ButtonsHeld(const ButtonsHeld&) = delete;
  ButtonsHeld& operator=(const ButtonsHeld&) = delete;

 private:
  static constexpr Button kButtons[] = {Button::Install, Button::Uninstall};
  MainView& view_;
  bool was_[2] = {};
};

// Whole megabytes and a tenth, for the space a package needs.
std::wstring MegabyteText(uint64_t bytes) {
  const uint64_t tenths = (bytes * 10 + (1u << 19)) >> 20;
  return JoinText({DecimalText(tenths / 10), L".", DecimalText(tenths % 10), L" MB"});
}

// A package the install will not use, and what the user reads about it.
struct PackageRefused {
  std::wstring text;
};
// The drive has no room for what the package holds; the user was told.
struct NoRoom {};

// Why the package's library cannot serve this Excel; nullptr when it can.
const wchar_t* ImageRefusal(LibraryImage image) {
  switch (image) {
    case LibraryImage::Usable: return nullptr;
    case LibraryImage::NotALibrary: return L"다운로드한 프로그램 파일의 라이브러리가 올바른 DLL 파일이 아닙니다.";
    case LibraryImage::Built32: return L"다운로드한 프로그램 파일의 라이브러리는 32비트용이지만 Excel은 64비트입니다.";
    case LibraryImage::Built64: return L"다운로드한 프로그램 파일의 라이브러리는 64비트용이지만 Excel은 32비트입니다.";
    case LibraryImage::OtherMachine:
      return L"다운로드한 프로그램 파일의 라이브러리는 이 Excel에서 실행할 수 없는 형식입니다.";
    case LibraryImage::NoRegistration:
      return L"다운로드한 프로그램 파일의 라이브러리에 등록 함수(DllRegisterServer)가 없습니다.";
  }
  return nullptr;
}

constexpr const wchar_t* kDownloadFailureTexts[] = {
    L"",
    L"다운로드한 프로그램 파일이 릴리스 정보의 크기보다 큽니다.",
    L"다운로드한 프로그램 파일의 크기가 릴리스 정보와 다릅니다.",
    L"다운로드한 프로그램 파일의 SHA-256 값이 릴리스 정보와 다릅니다.",
    L"",  // a break, told with its figures
};

}  // namespace

void TfmMain::btInstallClick() {
  Environment& env = machine_.env;
  FileSystem& files = machine_.files;
  Dialogs& dialogs = machine_.dialogs;

  // Used as typed: every file below is the folder text followed by a name.
  const std::wstring folder = view_.PathText();
  Trace({L"설치 경로 - ", folder});

  const ButtonsHeld held(view_);
  // Until the new library is put in place, closing the window ends the
  // install with nothing installed changed.
  SetCancellable(true);
  const ScopeExit notCancellable([this] { SetCancellable(false); });
  view_.SetProgressMax(10);
  view_.SetProgressVisible(true);
  view_.SetProgressPosition(1);

  const std::wstring word = x64 ? kPackageWord64 : kPackageWord32;
  // The release is judged before anything on this machine changes, against
  // a version file the server answered: one start-up could not get is
  // asked for again.
  const bool verified = !releaseKeys_.empty();
  if (verified && newestUnknown_) {
    NewestVersion = VersionFromBody(HttpGetText(VersionFileUrl(releaseBase_)));
    newestUnknown_ = false;
  }
  ReleasePackage expected;
  if (verified && !AcceptRelease(std::string(word.begin(), word.end()) + "n.zip", expected)) {
    NoteOutcome(kExitFailed);
    return;
  }
  ThrowIfCancelled();

  const bool folderMade = !files.DirectoryExists(folder);
  if (folderMade) {
    if (const uint32_t error = files.MakeDirectory(folder)) {
      throw AppError(JoinText({L"Cannot create the folder \"", folder, L"\". ", env.SystemErrorText(error)}), error);
    }
    Trace({L"설치 경로 생성 ", folder});
  }

  view_.SetProgressPosition(2);

  // A running Excel holds the library; the first look only asks the user to
  // close it, every later one offers to end one Excel process.
  for (int pass = 0; IsProcessRunning(machine_.processes, kExcelImage); ++pass) {
    if (pass == 0) {
      if (dialogs.ShowBox(L"Excel이 실행중입니다. Excel 창을 모두 닫고 다시 시도하세요.", L"Information",
                          BoxIcon::Information, BoxButtons::YesNo) == BoxAnswer::No) {
        NoteOutcome(kExitDeclined);
        return;
      }
    } else {
      if (dialogs.ShowBox(L"Excel을 강제 종료하시겠습니까? 저장되지 않은 데이터를 확인하세요.", L"Confirm",
                          BoxIcon::Question, BoxButtons::YesNo) == BoxAnswer::No) {
        NoteOutcome(kExitDeclined);
        return;
      }
      ThrowIfCancelled();
      // One that cannot be opened is asked about again on the next pass.
      machine_.processes.TerminateProcessById(FindProcessId(machine_.processes, kExcelImage), 0);
    }
    env.SleepMs(100);
    ThrowIfCancelled();
  }

  view_.SetProgressPosition(4);
  const std::wstring url = PackageUrl(releaseBase_, word);
  const std::wstring packageName = word + L".zip";
  const std::wstring package = folder + packageName;
  const std::wstring newLibraryName = word + L"n.dll";
  const std::wstring newLibrary = folder + newLibraryName;
  const std::wstring library = JoinText({folder, word, L".dll"});
  const std::wstring kept = library + kKeptLibrarySuffix;
  // What the package needs on the folder's drive, before a byte of it is
  // written: the package itself, then what comes out of it.
  auto refuseWithoutRoom = [&](uint64_t needed) {
    const std::optional<uint64_t> free = files.FreeSpace(folder);
    if (!free || *free >= needed) return false;
    const std::wstring drive = folder.size() > 1 && folder[1] == L':' ? folder.substr(0, 2) : folder;
    dialogs.ShowBox(JoinText({L"설치 폴더의 드라이브(", drive, L")에 공간이 부족합니다. 필요한 공간: ",
                              MegabyteText(needed), L", 남은 공간: ", MegabyteText(*free), L"\n", folder}),
                    kApplicationTitle, BoxIcon::None, BoxButtons::Ok);
    NoteOutcome(kExitFailed);
    return true;
  };
  if (verified && refuseWithoutRoom(expected.size)) return;
  // Listed before the first of them lands, so that the uninstall deletes
  // them and nothing of the user's.
  InstallList installed(files, folder);
  installed.Add(InstallerNames(word, BrandFor(LT).installerCopy, folderMade));
  // A first install that the user cut short leaves no folder behind.
  const ScopeExit undoFolder([&] {
    if (cancelRequested_ && cancellable_ && folderMade) {
      files.RemoveFile(folder + kInstallListName);
      files.RemoveEmptyDirectory(folder);
    }
  });
  // Used once and never left behind, whatever happens to the install.
  const ScopeExit removePackage([&] { files.RemoveFile(package); });
  PartialDownload transfer;
  transfer.progressStep = 4;
  // Nothing of a transfer cut short stays, whatever ends the install.
  const ScopeExit removePartial([&] {
    if (transfer.file) {
      transfer.file.reset();
      files.RemoveFile(package + L".part");
    }
  });
  Download failure = Download::Done;
  bool downloaded = false;
  // A transfer that broke off is taken up where it stopped; one that fails
  // its checks is fetched again. What the server holds does not change from
  // one attempt to the next, so nothing else is tried again.
  for (int attempt = 1; attempt <= kDownloadAttempts && !downloaded; ++attempt) {
    Trace({L"ZIP 다운로드 시작 (", DecimalText(static_cast<uint32_t>(attempt)), L") - ", url});
    const Download outcome = DownloadToFile(url, package, verified ? &expected : nullptr, &transfer);
    env.SleepMs(100);
    ThrowIfCancelled();
    if (outcome == Download::Broken || (outcome != Download::Done && verified)) {
      failure = outcome;
      Trace({L"ZIP 확인 실패 - ", url});
      continue;
    }
    downloaded = true;
    if (outcome != Download::Done || !files.FileExists(package)) {
      dialogs.ShowBox(L"서버에서 프로그램 파일을 다운로드할 수 없습니다.\n" + package, kApplicationTitle,
                      BoxIcon::None, BoxButtons::Ok);
      NoteOutcome(kExitFailed);
      return;
    }
    Trace({L"ZIP 다운로드 완료 - ", package});
  }
  if (!downloaded) {
    const std::wstring why =
        failure == Download::Broken
            ? JoinText({L"다운로드가 중간에 끊어졌습니다. ", DecimalText(kDownloadAttempts), L"번 시도했지만 ",
                        transfer.total ? DecimalText(transfer.total) + L"바이트 중 " : std::wstring(),
                        DecimalText(transfer.received), L"바이트까지만 받았습니다. 네트워크 연결을 확인하세요."})
            : kDownloadFailureTexts[static_cast<int>(failure)];
    dialogs.ShowBox(JoinText({why, L"\n", url}), kApplicationTitle, BoxIcon::None, BoxButtons::Ok);
    NoteOutcome(kExitFailed);
    return;
  }

  // The library comes out of the package first and is looked at before
  // anything else of the package lands: one that this Excel cannot load,
  // or that regsvr32 cannot register, is never put in place.
  try {
    UnzipHooks hooks;
    hooks.beforeWriting = [&](const std::vector<std::wstring>& names, uint64_t bytes) {
      if (std::none_of(names.begin(), names.end(),
                       [&](const std::wstring& n) { return AsciiLower(n) == AsciiLower(newLibraryName); })) {
        throw PackageRefused{JoinText({L"다운로드한 프로그램 파일에 라이브러리(", newLibraryName, L")가 없습니다."})};
      }
      if (refuseWithoutRoom(bytes)) throw NoRoom{};
      installed.Add(names);
    };
    hooks.first = newLibraryName;
    hooks.firstWritten = [&] {
      if (const wchar_t* why = ImageRefusal(CheckLibraryImage(files, newLibrary, x64))) throw PackageRefused{why};
    };
    UnzipPackage(files, folder, packageName, [&](const std::vector<uint8_t>& name) { return env.DecodeOemText(name); },
                 hooks);
  } catch (const NoRoom&) {
    return;
  } catch (const PackageRefused& refused) {
    files.RemoveFile(newLibrary);
    Trace({L"ZIP 거부 - ", url});
    dialogs.ShowBox(JoinText({refused.text, L"\n", url}), kApplicationTitle, BoxIcon::None, BoxButtons::Ok);
    NoteOutcome(kExitFailed);
    return;
  }
  Trace(L"UNZIP 완료");

  ThrowIfCancelled();
  // From here on the installation changes: a close waits for the end.
  SetCancellable(false);

  // The bar steps back from 4 to 3 here and forward again: the positions
  // the installer has always shown, kept as users know them.
  view_.SetProgressPosition(3);
  // The working library goes aside under a name of its own (allowed even
  // while something holds it) until the new one is registered.
  const bool hadLibrary = files.FileExists(library);
  files.RemoveFile(kept);
  if ((hadLibrary && !files.RenameFile(library, kept)) || !files.RenameFile(newLibrary, library)) {
    if (hadLibrary) files.RenameFile(kept, library);
    files.RemoveFile(newLibrary);
    dialogs.ShowBox(L"설치된 파일을 바꿀 수 없습니다. 파일을 사용 중인 프로그램을 닫고 다시 시도하세요.\n" + library,
                    kApplicationTitle, BoxIcon::None, BoxButtons::Ok);
    NoteOutcome(kExitFailed);
    return;
  }

  view_.SetProgressPosition(4);
  const std::wstring copyName = BrandFor(LT).installerCopy;
  PlaceInstallerCopy(folder);
  Trace({L"Copy File - ", folder, copyName});
  if (offeredInstaller_) KeepInstallerCurrent(*offeredInstaller_, folder, {}, false);

  Trace(L"RegSvr 시작");
  const RunOutcome registered = RegisterLibrary(folder);
  if (!registered.Succeeded()) {
    Trace(L"RegSvr 실패");
    // Back to what worked: the old library in its place and registered
    // again, or, on a first install, no library at all.
    std::wstring after = L"추가 기능을 설치하지 않았습니다.";
    if (hadLibrary && files.ReplaceFileWith(kept, library)) {
      after = RegisterLibrary(folder).Succeeded()
                  ? L"이전에 설치된 라이브러리를 그대로 사용합니다."
                  : L"이전에 설치된 라이브러리를 되돌렸지만 다시 등록하지 못했습니다.";
    } else if (!hadLibrary) {
      files.RemoveFile(library);
    } else {
      after = L"이전에 설치된 라이브러리를 되돌리지 못했습니다: " + kept;
    }
    dialogs.ShowBox(JoinText({RegistrationFailureText(registered), L"\n", after, L"\n", library}),
                    kApplicationTitle, BoxIcon::None, BoxButtons::Ok);
    NoteOutcome(kExitFailed);
    return;
  }
  Trace(L"RegSvr 완료");
  // Still held by some process it stays, listed for the uninstall, and goes
  // at the next update.
  files.RemoveFile(kept);

  // Recorded only now that the library is registered: a failed update
  // leaves the values of the working install as they were.
  const std::wstring title = TitleWord(view_.Caption());
  Trace(L"Write Registry");
  store_.ClearAddinKeysForInstall();
  store_.WriteAddinValue(L"Description", title + L" Excel Add-in Library");
  store_.WriteAddinValue(L"FriendlyName", title + L" Excel Add-in Library");
  store_.WriteAddinInteger(L"LoadBehavior", 3);
  store_.WriteAddinValue(L"InstallPath", folder);
  store_.WriteAddinValue(L"InstallDate", InstallDateText(env.Now(), env.TimeSeparator()));
  view_.SetProgressPosition(5);

  store_.WriteAddinValue(L"LibraryName", LibraryNameFor(LT, x64));
  view_.SetProgressPosition(6);

  view_.SetProgressPosition(6);
  view_.SetProgressVisible(false);

  store_.WriteAddinValue(L"LibraryVersion", machine_.shell.FileVersionText(library).value_or(std::wstring()));
  Trace({L"Write Version - ", library});

  NoteOutcome(kExitDone);
  dialogs.ShowBox(L"정상적으로 완료되었습니다.  엑셀을 실행합니다.", kApplicationTitle, BoxIcon::None,
                  BoxButtons::Ok);

  if (!ExcelPath.empty()) machine_.shell.RunElevated(ExcelPath + kExcelImage, L"");

  view_.CloseWindow();
  view_.RequestTermination();
}

}  // namespace oq
