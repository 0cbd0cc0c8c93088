#include "setup/main_form.h"

#include <new>
#include <utility>

#include "seam/app_error.h"
#include "services/join_text.h"
#include "services/number_text.h"
#include "setup/brand.h"

namespace oq {

TfmMain::TfmMain(Machine& machine, MainView& view, std::wstring releaseBase,
                 std::vector<P256PublicKey> releaseKeys)
    : machine_(machine),
      view_(view),
      releaseBase_(std::move(releaseBase)),
      releaseKeys_(std::move(releaseKeys)),
      store_(machine.registry, machine.env),
      AHTTP_(machine.http) {}

void TfmMain::SetTextRequestHeaders() {
  // The package downloads that follow send them too.
  AHTTP_.SetHeader(L"Accept-Charset", L"utf-8");
  AHTTP_.SetHeader(L"Accept", L"application/json");
  AHTTP_.SetHeader(L"Accept-Language", L"ko-KR");
}

std::wstring TfmMain::HttpGetText(const std::wstring& url) {
  SetTextRequestHeaders();
  HttpResponse response = AHTTP_.Get(url);
  machine_.dialogs.ProcessMessages();
  if (response.status != 200 || response.tooLong) return {};
  return DecodeBody(response.body, response.contentType);
}

namespace {

// "bytes N-M/TOTAL": N and TOTAL; false for anything else (a total of "*"
// included, which says nothing a check could use).
bool ParseContentRange(const std::wstring& text, uint64_t& first, uint64_t& total) {
  size_t at = 0;
  auto number = [&](uint64_t& value) {
    const size_t from = at;
    value = 0;
    while (at < text.size() && text[at] >= L'0' && text[at] <= L'9' && at - from < 19) {
      value = value * 10 + static_cast<uint64_t>(text[at++] - L'0');
    }
    return at > from;
  };
  if (text.compare(0, 6, L"bytes ") != 0) return false;
  at = 6;
  uint64_t last = 0;
  if (!number(first) || at >= text.size() || text[at++] != L'-' || !number(last) || at >= text.size() ||
      text[at++] != L'/' || !number(total) || at != text.size()) {
    return false;
  }
  return first <= last && last < total;
}

// A download on its way to the disk: counted, hashed and written piece by
// piece, never held whole. A request for the rest of a broken transfer
// appends what the server sends from where the file ends, or starts the
// file over when the server sends the whole body instead.
class PackageSink final : public HttpSink {
 public:
  // `size`: the length the body must have, or 0 for any up to `limit`.
  PackageSink(TfmMain::PartialDownload& state, const std::function<bool()>& startOver, uint64_t size,
              uint64_t limit, MainView& view)
      : state_(state), startOver_(startOver), size_(size), limit_(limit), view_(view) {}

  bool Begin(const HttpResponseHead& head) override {
    began = true;
    if (askedForTheRest_) {
      uint64_t first = 0, total = 0;
      if (head.status == 206 && ParseContentRange(head.contentRange, first, total) && first == state_.received &&
          total == state_.total) {
        state_.resumed = true;
        return true;
      }
      // The whole body again (the file changed, or the server takes no
      // ranges): it replaces what arrived. Any other answer is no use.
      if (head.status != 200 || !startOver_()) {
        refused = true;
        return false;
      }
    }
    state_.validator = !head.etag.empty() ? head.etag : head.lastModified;
    state_.total = size_ ? size_ : head.contentLength.value_or(0);
    // A server that announces another length than the release says, or
    // more than may come, is not listened to at all.
    if (head.contentLength && (size_ ? *head.contentLength != size_ : *head.contentLength > limit_)) {
      (*head.contentLength > (size_ ? size_ : limit_) ? tooLong : wrongSize) = true;
      return false;
    }
    return true;
  }
  bool Write(const uint8_t* data, size_t count) override {
    if (count > (size_ ? size_ : limit_) - state_.received) {
      tooLong = true;
      return false;
    }
    if (!state_.file->Write(data, count)) {
      writeFailed = true;
      return false;
    }
    state_.received += count;
    if (state_.hash) state_.hash->Update(data, count);
    if (state_.progressStep >= 0 && state_.total) {
      view_.SetProgressWithin(state_.progressStep, state_.received, state_.total);
    }
    return true;
  }

  void AskForTheRest() { askedForTheRest_ = true; }

  bool began = false;
  bool tooLong = false;
  bool wrongSize = false;
  bool writeFailed = false;
  bool refused = false;  // an answer to the request for the rest that is of no use

 private:
  TfmMain::PartialDownload& state_;
  const std::function<bool()>& startOver_;
  uint64_t size_;
  uint64_t limit_;
  MainView& view_;
  bool askedForTheRest_ = false;
};

}  // namespace

TfmMain::Download TfmMain::DownloadToFile(const std::wstring& url, const std::wstring& path,
                                          const ReleasePackage* expected, PartialDownload* given) {
  FileSystem& files = machine_.files;
  const std::wstring partial = path + L".part";
  PartialDownload single;
  PartialDownload& state = given ? *given : single;
  // A fresh, empty temporary file and hash; false when the file cannot be made.
  uint32_t createError = 0;
  const std::function<bool()> startOver = [&] {
    state.file.reset();
    state.file = files.CreateWrite(partial, createError);
    state.hash = expected ? machine_.crypto.NewSha256() : nullptr;
    state.received = state.total = 0;
    state.validator.clear();
    state.resumed = false;
    return state.file != nullptr;
  };
  // Nothing kept; `received` stays for the caller to report.
  auto discard = [&] {
    state.file.reset();
    files.RemoveFile(partial);
  };
  const bool askForTheRest = state.file && state.received > 0 && !state.validator.empty();
  if (!askForTheRest && !startOver()) {
    throw AppError(JoinText({L"Cannot create file \"", partial, L"\". ", machine_.env.SystemErrorText(createError)}),
                   createError);
  }
  PackageSink sink(state, startOver, expected ? expected->size : 0, kMaxUnsignedPackage, view_);
  std::vector<HttpHeader> headers = AHTTP_.Headers();
  if (askForTheRest) {
    headers.push_back({L"Range", L"bytes=" + DecimalText(state.received) + L"-"});
    headers.push_back({L"If-Range", state.validator});
    sink.AskForTheRest();
  }
  try {
    machine_.http.Stream(url, headers, sink);
  } catch (const AppError&) {
    // No answer at all is the transport's failure, reported as it is; a
    // break during the body leaves what arrived for the next attempt.
    if (!sink.began) {
      discard();
      throw;
    }
    if (!given || state.validator.empty()) discard();
    return Download::Broken;
  } catch (...) {
    discard();
    throw;
  }
  if (sink.writeFailed) {
    const uint32_t error = state.file->Error();
    discard();
    throw WriteFailure(partial, error);
  }

  Download outcome = Download::Done;
  if (sink.tooLong) {
    outcome = Download::TooLong;
  } else if (sink.wrongSize) {
    outcome = Download::WrongSize;
  } else if (sink.refused || (state.total && state.received < state.total)) {
    // Ended short of its length: as good as a break.
    if (!sink.refused && given && !state.validator.empty()) return Download::Broken;
    outcome = Download::Broken;
  } else if (expected && state.hash->Finish() != expected->sha256) {
    outcome = Download::WrongHash;
  } else if (!state.file->Finish()) {
    const uint32_t error = state.file->Error();
    discard();
    throw WriteFailure(partial, error);
  }
  state.file.reset();
  // A package that cannot be put in place (a scanner took it away) is simply
  // not there for the caller to find.
  if (outcome != Download::Done || !files.ReplaceFileWith(partial, path)) files.RemoveFile(partial);
  return outcome;
}

AppError TfmMain::WriteFailure(const std::wstring& file, uint32_t error) {
  std::wstring text = JoinText({L"Cannot write file \"", file, L"\"."});
  if (error) text += L" " + machine_.env.SystemErrorText(error);
  // The drive, for a disk that is full or gone.
  if (file.size() > 2 && file[1] == L':') text += JoinText({L" (", file.substr(0, 2), L")"});
  return AppError(text, error);
}

namespace {

// What the user reads when a release is refused, by verdict; the file of the
// release server it concerns follows on a line of its own.
constexpr const wchar_t* kRefusalTexts[] = {
    L"",
    L"서버에서 릴리스 정보를 받을 수 없습니다.",
    L"서버에서 릴리스 서명을 받을 수 없습니다.",
    L"릴리스 서명이 올바르지 않습니다.",
    L"릴리스 정보의 형식이 올바르지 않습니다.",
    L"릴리스 정보의 버전이 서버의 버전 파일과 다릅니다.",
    L"릴리스 정보의 유효 기간이 지났습니다.",
    L"설치된 버전보다 낮은 버전은 설치할 수 없습니다.",
    L"릴리스 정보에 이 Excel에 맞는 프로그램 파일이 없습니다.",
};

std::wstring WithoutTrailingBlanks(std::wstring text) {
  while (!text.empty() && (text.back() == L' ' || text.back() == L'\r' || text.back() == L'\n' ||
                           text.back() == L'\t')) {
    text.pop_back();
  }
  return text;
}

}  // namespace

std::wstring TfmMain::InstalledVersion() {
  if (!HoldsLibrary(store_.ReadAddinValue(L"InstallPath"))) return {};
  return store_.ReadAddinValue(L"LibraryVersion");
}

bool TfmMain::HoldsLibrary(const std::wstring& folder) {
  return !folder.empty() &&
         (machine_.files.FileExists(folder + kLibrary64) || machine_.files.FileExists(folder + kLibrary32));
}

ReleaseVerdict TfmMain::FetchRelease(const std::wstring& installed, const std::string& packageName,
                                     ReleaseManifest& manifest) {
  const HttpResponse manifestFile = AHTTP_.Get(ManifestUrl(releaseBase_));
  if (manifestFile.status != 200 || manifestFile.tooLong) return ReleaseVerdict::ManifestMissing;
  const HttpResponse signatureFile = AHTTP_.Get(SignatureUrl(releaseBase_));
  if (signatureFile.status != 200 || signatureFile.tooLong || signatureFile.body.size() > kMaxSignatureBody) {
    return ReleaseVerdict::SignatureMissing;
  }
  const LocalTime now = machine_.env.UtcNow();
  const ReleaseFacts facts{WithoutTrailingBlanks(NewestVersion), installed, {now.year, now.month, now.day},
                           packageName};
  return JudgeRelease(manifestFile.body, signatureFile.body, releaseKeys_, machine_.crypto, facts, manifest);
}

bool TfmMain::AcceptRelease(const std::string& packageName, ReleasePackage& package) {
  const std::wstring manifestUrl = ManifestUrl(releaseBase_);
  const std::wstring signatureUrl = SignatureUrl(releaseBase_);
  Trace({L"릴리스 확인 - ", manifestUrl});
  ReleaseManifest manifest;
  const ReleaseVerdict verdict = FetchRelease(InstalledVersion(), packageName, manifest);
  if (verdict == ReleaseVerdict::Accepted) {
    package = *manifest.Find(packageName);
    offeredInstaller_ = manifest.installer;
    return true;
  }
  const bool aboutSignature = verdict == ReleaseVerdict::SignatureMissing || verdict == ReleaseVerdict::BadSignature;
  machine_.dialogs.ShowBox(JoinText({kRefusalTexts[static_cast<int>(verdict)], L"\n",
                                     aboutSignature ? signatureUrl : manifestUrl}),
                           kApplicationTitle, BoxIcon::None, BoxButtons::Ok);
  return false;
}

namespace {

// Long enough for a library whose registration does real work, short
// enough that a registration that hangs does not hold the user for long.
constexpr uint32_t kRegistrationTimeoutMs = 60000;

// What regsvr32's own exit codes mean.
const wchar_t* Regsvr32Reason(uint32_t code) {
  switch (code) {
    case 3: return L"라이브러리를 불러올 수 없습니다. ";
    case 4: return L"라이브러리에 등록 함수(DllRegisterServer)가 없습니다. ";
    case 5: return L"라이브러리의 등록 함수(DllRegisterServer)가 실패했습니다. ";
    default: return L"";
  }
}

}  // namespace

std::wstring TfmMain::Regsvr32For(bool bits64) {
  return machine_.env.SystemProgramFolder(bits64) + L"\\regsvr32.exe";
}

void TfmMain::UnregisterLibraries(const std::wstring& folder) {
  std::vector<std::wstring> commands;
  for (const bool bits64 : {false, true}) {
    const std::wstring library = folder + (bits64 ? kLibrary64 : kLibrary32);
    // regsvr32 can do nothing with a file that is not there, and each run
    // costs a process start on the way to Excel.
    if (!machine_.files.FileExists(library)) continue;
    commands.push_back(JoinText({L"\"", Regsvr32For(bits64), L"\" /s /u \"", library, L"\""}));
  }
  if (!commands.empty()) machine_.shell.RunAllAndWait(commands);
}

RunOutcome TfmMain::RegisterLibrary(const std::wstring& folder) {
  const std::wstring library = folder + (x64 ? kInstalledLibrary64 : kInstalledLibrary32);
  return machine_.shell.RunElevatedAndWait(Regsvr32For(x64), JoinText({L"/s \"", library, L"\""}),
                                           kRegistrationTimeoutMs);
}

std::wstring TfmMain::RegistrationFailureText(const RunOutcome& outcome) {
  switch (outcome.kind) {
    case RunOutcome::Kind::Exited:
      return JoinText({L"라이브러리를 등록하지 못했습니다. ", Regsvr32Reason(outcome.code), L"(regsvr32 종료 코드 ",
                       DecimalText(outcome.code), L")"});
    case RunOutcome::Kind::Refused:
      return L"라이브러리를 등록하려면 관리자 권한이 필요하지만 권한 요청이 거부되었습니다.";
    case RunOutcome::Kind::NotStarted:
      return L"라이브러리를 등록하는 regsvr32를 시작할 수 없습니다. " + machine_.env.SystemErrorText(outcome.code);
    case RunOutcome::Kind::TimedOut:
      return JoinText({L"라이브러리 등록(regsvr32)이 ", DecimalText(kRegistrationTimeoutMs / 1000),
                       L"초 안에 끝나지 않았습니다."});
  }
  return {};
}

void TfmMain::Trace(std::initializer_list<std::wstring_view> parts) {
  if (traceListener) traceListener(JoinText(parts));
}

void TfmMain::btCloseClick() {
  // During a transfer the close cuts it short; the install then unwinds,
  // taking its temporary file along, and the window goes once it has.
  if (cancellable_ && !cancelRequested_) {
    cancelRequested_ = true;
    machine_.http.Cancel();
  }
  view_.CloseWindow();
}

void TfmMain::ReportError() {
  std::wstring message;
  try {
    throw;
  } catch (const Cancelled&) {
    // The window was closed on purpose; nothing to tell.
    NoteOutcome(kExitDeclined);
    return;
  } catch (const AppError& e) {
    message = e.Message();
  } catch (const std::bad_alloc&) {
    message = L"Out of memory";
  } catch (const std::exception& e) {
    for (const char* p = e.what(); *p; ++p) message.push_back(static_cast<unsigned char>(*p));
  } catch (...) {
    message = L"Unexpected error";
  }
  if (message.empty() || message.back() != L'.') message += L'.';
  NoteOutcome(kExitFailed);
  machine_.dialogs.ShowBox(message, kApplicationTitle, BoxIcon::Stop, BoxButtons::Ok);
}

}  // namespace oq
