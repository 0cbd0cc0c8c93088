#include <new>
#include <optional>

#include "services/win32/handles.h"
#include "services/win32/proxy.h"
#include "services/win32/win32_machine.h"
#include "seam/app_error.h"

namespace oq {

namespace {

[[noreturn]] void TransportFailure(DWORD code = GetLastError()) { throw AppError(win::ErrorText(code), code); }

DWORD StatusCode(HINTERNET request) {
  DWORD status = 0, size = sizeof status;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                      &status, &size, WINHTTP_NO_HEADER_INDEX);
  return status;
}

// Sends the request and waits for the response. A proxy that asks for a
// sign-in gets the user's logon once; if it still refuses, the error names
// it rather than leaving the user with a bare transport failure.
void SendThrough(HINTERNET session, HINTERNET request, const std::wstring& host, const std::wstring& proxy) {
  for (int round = 0;; ++round) {
    if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request, nullptr)) {
      const DWORD code = GetLastError();
      if (!proxy.empty() && ProxyAsksForSignIn(session, host)) ThrowProxyRefused(proxy);
      TransportFailure(code);
    }
    if (proxy.empty() || StatusCode(request) != 407) return;
    if (round > 0 || !AnswerProxyChallenge(request)) ThrowProxyRefused(proxy);
  }
}

std::wstring QueryHeader(HINTERNET request, DWORD info) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size, WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
  std::wstring value(size / sizeof(wchar_t), L'\0');
  if (!WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  value.resize(size / sizeof(wchar_t));
  return value;
}

}  // namespace

WinHttpTransport::WinHttpTransport() : proxy_(std::make_unique<UserProxySettings>()) {
  // Direct; it fetches the proxy auto-configuration script. Each request
  // opens a session of its own that goes the way the user's settings say.
  session_ = OpenSession({});
}

struct WinHttpTransport::Prefetched {
  WinHttpTransport* transport;
  std::wstring url;
  std::vector<HttpHeader> headers;
  win::UniqueHandle thread;
  HttpResponse response;
  std::optional<AppError> error;
};

WinHttpTransport::~WinHttpTransport() {
  // A request nobody took still runs on the session; it ends within the
  // session's time-outs, as the same request on the window's thread would.
  if (prefetched_) WaitForSingleObject(prefetched_->thread.Get(), INFINITE);
}

DWORD WINAPI WinHttpTransport::PrefetchThread(void* param) {
  auto* p = static_cast<Prefetched*>(param);
  try {
    p->response = p->transport->Fetch(p->url, p->headers);
  } catch (const AppError& e) {
    p->error = e;
  } catch (const std::bad_alloc&) {
    p->error = AppError(win::ErrorText(ERROR_NOT_ENOUGH_MEMORY), ERROR_NOT_ENOUGH_MEMORY);
  }
  return 0;
}

void WinHttpTransport::Prefetch(const std::wstring& url, const std::vector<HttpHeader>& headers) {
  if (prefetched_) return;  // one at a time; the later request simply goes when asked
  auto p = std::make_unique<Prefetched>(Prefetched{this, url, headers, {}, {}, {}});
  p->thread = win::UniqueHandle(CreateThread(nullptr, 0, PrefetchThread, p.get(), 0, nullptr));
  if (p->thread) prefetched_ = std::move(p);
}

HttpResponse WinHttpTransport::Get(const std::wstring& url, const std::vector<HttpHeader>& headers) {
  if (prefetched_ && prefetched_->url == url && prefetched_->headers == headers) {
    const std::unique_ptr<Prefetched> p = std::move(prefetched_);
    WaitForSingleObject(p->thread.Get(), INFINITE);
    if (p->error) throw *p->error;
    return std::move(p->response);
  }
  return Fetch(url, headers);
}

// A GET sent and its headers in: the request to read the body from.
struct WinHttpTransport::Open {
  win::UniqueInternet session;  // the request's own, with its proxy route
  win::UniqueInternet connection;
  win::UniqueInternet request;
  DWORD status = 0;
};

WinHttpTransport::Open WinHttpTransport::Send(const std::wstring& url, const std::vector<HttpHeader>& headers) {
  if (!session_) TransportFailure();
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) TransportFailure();
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                            std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);

  const ProxyRoute route = proxy_->RouteFor(session_.Get(), url);
  Open open;
  open.session = OpenSession(route);
  if (!open.session) TransportFailure();
  open.connection.Reset(WinHttpConnect(open.session.Get(), host.c_str(), parts.nPort, 0));
  if (!open.connection) TransportFailure();
  open.request.Reset(WinHttpOpenRequest(open.connection.Get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES,
                                        parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
  if (!open.request) TransportFailure();
  for (const HttpHeader& h : headers) {
    const std::wstring line = h.name + L": " + h.value;
    WinHttpAddRequestHeaders(open.request.Get(), line.c_str(), static_cast<DWORD>(line.size()),
                             WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
  }
  AllowProxyLogon(open.request.Get());
  SendThrough(open.session.Get(), open.request.Get(), host, route.proxy);
  DWORD size = sizeof open.status;
  if (!WinHttpQueryHeaders(open.request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &open.status, &size, WINHTTP_NO_HEADER_INDEX)) {
    TransportFailure();
  }
  return open;
}

HttpResponse WinHttpTransport::Fetch(const std::wstring& url, const std::vector<HttpHeader>& headers) {
  const Open open = Send(url, headers);
  HttpResponse response;
  response.status = open.status;
  response.contentType = QueryHeader(open.request.Get(), WINHTTP_QUERY_CONTENT_TYPE);
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(open.request.Get(), &available)) TransportFailure();
    if (available == 0) break;
    const size_t at = response.body.size();
    if (available > kMaxTextBody - at) {
      // Not a text this program asks for; the rest is never read.
      response.body = {};
      response.tooLong = true;
      break;
    }
    response.body.resize(at + available);
    DWORD read = 0;
    if (!WinHttpReadData(open.request.Get(), response.body.data() + at, available, &read)) TransportFailure();
    response.body.resize(at + read);
  }
  return response;
}

void WinHttpTransport::Stream(const std::wstring& url, const std::vector<HttpHeader>& headers, HttpSink& sink) {
  const Open open = Send(url, headers);
  std::optional<uint64_t> length;
  const std::wstring declared = QueryHeader(open.request.Get(), WINHTTP_QUERY_CONTENT_LENGTH);
  if (!declared.empty()) {
    uint64_t value = 0;
    for (wchar_t c : declared) {
      // A length past any a package could have counts as more than allowed.
      if (c >= L'0' && c <= L'9') value = value > (UINT64_MAX / 20) ? UINT64_MAX / 2 : value * 10 + (c - L'0');
    }
    length = value;
  }
  if (!sink.Begin(open.status, length)) return;
  // One buffer for the whole transfer; closing the request drops the rest.
  std::vector<uint8_t> buffer(64 * 1024);
  for (;;) {
    DWORD read = 0;
    if (!WinHttpReadData(open.request.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read)) {
      TransportFailure();
    }
    if (read == 0 || !sink.Write(buffer.data(), read)) return;
  }
}

}  // namespace oq
