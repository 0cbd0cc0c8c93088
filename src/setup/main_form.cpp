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

// A download on its way to the disk: counted, hashed and written piece by
// piece, never held whole.
class PackageSink final : public HttpSink {
 public:
  PackageSink(FileWriter& file, Sha256Hash* hash, uint64_t limit, Dialogs& dialogs)
      : file_(file), hash_(hash), limit_(limit), dialogs_(dialogs) {}

  bool Begin(uint32_t, std::optional<uint64_t> contentLength) override {
    // A server that announces more than may come is not listened to at all.
    tooLong = contentLength && *contentLength > limit_;
    return !tooLong;
  }
  bool Write(const uint8_t* data, size_t count) override {
    if (count > limit_ - received) {
      tooLong = true;
      return false;
    }
    received += count;
    if (hash_) hash_->Update(data, count);
    if (!file_.Write(data, count)) {
      writeFailed = true;
      return false;
    }
    // The window keeps painting and answering while the package comes in.
    dialogs_.ProcessMessages();
    return true;
  }

  uint64_t received = 0;
  bool tooLong = false;
  bool writeFailed = false;

 private:
  FileWriter& file_;
  Sha256Hash* hash_;
  uint64_t limit_;
  Dialogs& dialogs_;
};

}  // namespace

TfmMain::Download TfmMain::DownloadToFile(const std::wstring& url, const std::wstring& path,
                                          const ReleasePackage* expected) {
  FileSystem& files = machine_.files;
  const std::wstring partial = path + L".part";
  uint32_t error = 0;
  std::unique_ptr<FileWriter> file = files.CreateWrite(partial, error);
  if (!file) {
    throw AppError(JoinText({L"Cannot create file \"", partial, L"\". ", machine_.env.SystemErrorText(error)}),
                   error);
  }
  const std::unique_ptr<Sha256Hash> hash = expected ? machine_.crypto.NewSha256() : nullptr;
  PackageSink sink(*file, hash.get(), expected ? expected->size : kMaxUnsignedPackage, machine_.dialogs);
  try {
    AHTTP_.Stream(url, sink);
    if (sink.writeFailed || !file->Finish()) throw AppError(L"Cannot write file \"" + partial + L"\"");
  } catch (...) {
    file.reset();
    files.RemoveFile(partial);
    throw;
  }
  file.reset();

  Download outcome = Download::Done;
  if (sink.tooLong) {
    outcome = Download::TooLong;
  } else if (expected && sink.received != expected->size) {
    outcome = Download::WrongSize;
  } else if (expected && hash->Finish() != expected->sha256) {
    outcome = Download::WrongHash;
  }
  // A package that cannot be put in place (a scanner took it away) is simply
  // not there for the caller to find.
  if (outcome != Download::Done || !files.ReplaceFileWith(partial, path)) files.RemoveFile(partial);
  return outcome;
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

bool TfmMain::AcceptRelease(const std::string& packageName, ReleasePackage& package) {
  const std::wstring manifestUrl = ManifestUrl(releaseBase_);
  const std::wstring signatureUrl = SignatureUrl(releaseBase_);
  Trace({L"릴리스 확인 - ", manifestUrl});
  ReleaseVerdict verdict = ReleaseVerdict::ManifestMissing;
  ReleaseManifest manifest;
  const HttpResponse manifestFile = AHTTP_.Get(manifestUrl);
  if (manifestFile.status == 200 && !manifestFile.tooLong) {
    const HttpResponse signatureFile = AHTTP_.Get(signatureUrl);
    verdict = ReleaseVerdict::SignatureMissing;
    if (signatureFile.status == 200 && !signatureFile.tooLong && signatureFile.body.size() <= kMaxSignatureBody) {
      const LocalTime now = machine_.env.UtcNow();
      const ReleaseFacts facts{WithoutTrailingBlanks(NewestVersion), InstalledVersion(), {now.year, now.month, now.day},
                               packageName};
      verdict = JudgeRelease(manifestFile.body, signatureFile.body, releaseKeys_, machine_.crypto, facts, manifest);
    }
  }
  if (verdict == ReleaseVerdict::Accepted) {
    package = *manifest.Find(packageName);
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

RunOutcome TfmMain::RegisterLibrary(const std::wstring& path) {
  return machine_.shell.RunElevatedAndWait(L"regsvr32", JoinText({L"/s \"", path, L"\""}), kRegistrationTimeoutMs);
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

void TfmMain::btCloseClick() { view_.CloseWindow(); }

void TfmMain::ReportError() {
  std::wstring message;
  try {
    throw;
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
