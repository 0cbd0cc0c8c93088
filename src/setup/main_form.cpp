#include "setup/main_form.h"

#include <new>
#include <utility>

#include "seam/app_error.h"
#include "services/join_text.h"
#include "setup/brand.h"

namespace oq {

TfmMain::TfmMain(Machine& machine, MainView& view, std::wstring releaseBase)
    : machine_(machine),
      view_(view),
      releaseBase_(std::move(releaseBase)),
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
  if (response.status != 200) return {};
  return DecodeBody(response.body, response.contentType);
}

void TfmMain::DownloadToFile(const std::wstring& url, const std::wstring& path) {
  const HttpResponse response = AHTTP_.Get(url);
  uint32_t error = 0;
  std::unique_ptr<FileWriter> file = machine_.files.CreateWrite(path, error);
  if (!file) {
    throw AppError(JoinText({L"Cannot create file \"", path, L"\". ", machine_.env.SystemErrorText(error)}), error);
  }
  if (!file->Write(response.body.data(), response.body.size()) || !file->Finish()) {
    throw AppError(L"Cannot write file \"" + path + L"\"");
  }
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
