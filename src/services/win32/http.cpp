#include <windows.h>
#include <wincrypt.h>

#include <atomic>
#include <new>
#include <optional>

#include "seam/app_error.h"
#include "services/join_text.h"
#include "services/utf16_text.h"
#include "services/win32/handles.h"
#include "services/win32/message_wait.h"
#include "services/win32/proxy.h"
#include "services/win32/win32_machine.h"

namespace oq {

namespace {

[[noreturn]] void TransportFailure(DWORD code = GetLastError()) { throw AppError(win::ErrorText(code), code); }

DWORD StatusCode(HINTERNET request) {
  DWORD status = 0, size = sizeof status;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                      &status, &size, WINHTTP_NO_HEADER_INDEX);
  return status;
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

// Why the server's certificate was refused, for a TLS failure whose code
// does not say (WinHTTP's own "A security error occurred"): the server is
// asked again with the checks off, no answer read, and its certificate
// checked here as WinHTTP checks it. 0 when that cannot tell either.
DWORD CertificateProblem(HINTERNET session, const std::wstring& host, INTERNET_PORT port) {
  const win::UniqueInternet connection(WinHttpConnect(session, host.c_str(), port, 0));
  const win::UniqueInternet request(connection ? WinHttpOpenRequest(connection.Get(), L"HEAD", L"/", nullptr,
                                                                    WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                                    WINHTTP_FLAG_SECURE)
                                               : nullptr);
  if (!request) return 0;
  DWORD ignore = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                 SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
  WinHttpSetOption(request.Get(), WINHTTP_OPTION_SECURITY_FLAGS, &ignore, sizeof ignore);
  WinHttpSetTimeouts(request.Get(), 5000, 5000, 5000, 5000);
  PCCERT_CONTEXT certificate = nullptr;
  DWORD size = sizeof certificate;
  if (!WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpQueryOption(request.Get(), WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size) || !certificate) {
    return 0;
  }
  DWORD problem = 0;
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, 0, nullptr,
                              &chain)) {
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = const_cast<wchar_t*>(host.c_str());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
      switch (static_cast<HRESULT>(status.dwError)) {
        case CERT_E_EXPIRED: problem = ERROR_WINHTTP_SECURE_CERT_DATE_INVALID; break;
        case CERT_E_CN_NO_MATCH: problem = ERROR_WINHTTP_SECURE_CERT_CN_INVALID; break;
        case CERT_E_UNTRUSTEDROOT:
        case CERT_E_CHAINING: problem = ERROR_WINHTTP_SECURE_INVALID_CA; break;
        default: break;
      }
    }
    // An authority the chain cannot reach at all (only the server's own
    // certificate sent) reads as untrusted too, whatever the policy said.
    if (!problem && (chain->TrustStatus.dwErrorStatus & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN))) {
      problem = ERROR_WINHTTP_SECURE_INVALID_CA;
    }
    CertFreeCertificateChain(chain);
  }
  CertFreeCertificateContext(certificate);
  return problem;
}

// A failed TLS connection in the words of what failed, where that can be
// told; the platform's own text where it cannot.
[[noreturn]] void SecureFailure(DWORD code, const std::wstring& host) {
  if (code == ERROR_WINHTTP_SECURE_CERT_DATE_INVALID) {
    throw AppError(L"서버(" + host + L")의 인증서가 만료되었거나 아직 유효하지 않습니다. 컴퓨터의 날짜와 시간을 확인하세요.",
                   code);
  }
  if (code == ERROR_WINHTTP_SECURE_CERT_CN_INVALID) {
    throw AppError(L"서버의 인증서가 다른 호스트용으로 발급되어 " + host + L"의 인증서로 인정할 수 없습니다.", code);
  }
  if (code == ERROR_WINHTTP_SECURE_INVALID_CA) {
    throw AppError(L"서버(" + host + L")의 인증서를 발급한 기관을 이 컴퓨터가 신뢰하지 않습니다.", code);
  }
  TransportFailure(code);
}

constexpr int kMaxRedirects = 10;
// How long a stream's piece may wait to fill before it is handed on.
constexpr DWORD kPieceMs = 50;

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The absolute address a Location header names, read against `base`.
std::wstring Resolve(const std::wstring& base, const std::wstring& location) {
  const std::wstring lower = AsciiLower(location);
  if (lower.rfind(L"https://", 0) == 0 || lower.rfind(L"http://", 0) == 0 || lower.find(L':') < lower.find(L'/')) {
    return location;  // absolute, whatever its scheme
  }
  const size_t authority = base.find(L"://");
  const size_t pathAt = base.find(L'/', authority + 3);
  const std::wstring origin = base.substr(0, pathAt);
  if (location.rfind(L"//", 0) == 0) return base.substr(0, authority + 1) + location;
  if (!location.empty() && location[0] == L'/') return origin + location;
  const std::wstring path = pathAt == std::wstring::npos ? L"/" : base.substr(pathAt, base.find_first_of(L"?#", pathAt) - pathAt);
  return origin + path.substr(0, path.rfind(L'/') + 1) + location;
}

}  // namespace

// What the requests share, kept alive by each request's thread: a request
// the window's thread gave up on still runs on them until it ends.
struct WinHttpTransport::Shared {
  // Direct; it fetches the proxy auto-configuration script. Each request
  // opens a session of its own that goes the way the user's settings say.
  win::UniqueInternet session;
  UserProxySettings proxy;
};

// One request on a thread of its own, and what the waiting thread gets of
// it. Shared by both: whichever lets go last frees it.
struct WinHttpTransport::Job {
  static constexpr int kPieces = 4;
  static constexpr DWORD kPieceSize = 64 * 1024;
  struct Piece {
    enum Kind { Head, Data, End, Failed } kind = Data;
    DWORD size = 0;
  };

  std::shared_ptr<Shared> shared;
  std::wstring url;
  std::vector<HttpHeader> headers;
  bool stream = false;
  win::UniqueHandle thread;
  // The open request while a blocking call may be under way on it; the
  // waiting thread closes it to end that call.
  std::atomic<HINTERNET> request{nullptr};
  std::atomic<bool> abandoned{false};

  // A text request's outcome.
  HttpResponse response;
  std::optional<AppError> error;

  // A stream's pieces, handed over in a ring: the thread reads ahead while
  // the waiting thread writes and hashes.
  HttpResponseHead head;
  win::UniqueHandle filled;  // pieces ready
  win::UniqueHandle free;    // room for more
  Piece pieces[kPieces];
  std::unique_ptr<uint8_t[]> buffers;

  // Ends the request from the waiting side: the blocking call returns, and
  // a thread waiting for room in the ring wakes to find it abandoned.
  void Abandon() {
    abandoned = true;
    if (HINTERNET open = request.exchange(nullptr)) WinHttpCloseHandle(open);
    if (free) ReleaseSemaphore(free.Get(), 1, nullptr);
  }
};

WinHttpTransport::WinHttpTransport() : shared_(std::make_shared<Shared>()) {
  shared_->session = OpenSession({});
}

WinHttpTransport::~WinHttpTransport() {
  // A prefetch nobody took still gets its answer, within the session's
  // time-outs, as the same request on the window's thread would.
  for (const std::shared_ptr<Job>& job : prefetched_) WaitForSingleObject(job->thread.Get(), INFINITE);
}

// A GET sent and its headers in: the request to read the body from.
struct WinHttpTransport::Open {
  win::UniqueInternet session;  // the request's own, with its proxy route
  win::UniqueInternet connection;
  DWORD status = 0;
  Job* job = nullptr;

  // The request handle, unless the waiting side closed it.
  HINTERNET Request() const { return job->request.load(); }
  ~Open() {
    if (HINTERNET open = job ? job->request.exchange(nullptr) : nullptr) WinHttpCloseHandle(open);
  }
};

void WinHttpTransport::Send(Job& job, Open& open) {
  Shared& shared = *job.shared;
  if (!shared.session) TransportFailure();
  std::wstring url = job.url;
  for (int redirects = 0;; ++redirects) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) TransportFailure();
    if (parts.nScheme != INTERNET_SCHEME_HTTPS) {
      throw AppError(L"서버가 보안 연결(https)이 아닌 주소로 보내려 하여 거부했습니다: " + url,
                     ERROR_WINHTTP_REDIRECT_FAILED);
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);

    const ProxyRoute route = shared.proxy.RouteFor(shared.session.Get(), url);
    open.job = nullptr;  // the previous hop's request, if any, goes here
    if (HINTERNET previous = job.request.exchange(nullptr)) WinHttpCloseHandle(previous);
    open.session = OpenSession(route);
    if (!open.session) TransportFailure();
    open.connection.Reset(WinHttpConnect(open.session.Get(), host.c_str(), parts.nPort, 0));
    if (!open.connection) TransportFailure();
    HINTERNET request = WinHttpOpenRequest(open.connection.Get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    if (!request) TransportFailure();
    job.request = request;
    open.job = &job;
    if (job.abandoned) throw Cancelled{};
    for (const HttpHeader& h : job.headers) {
      const std::wstring line = h.name + L": " + h.value;
      WinHttpAddRequestHeaders(request, line.c_str(), static_cast<DWORD>(line.size()),
                               WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }
    // Redirects are followed here, so that one to an address that is not
    // https is refused by name instead of failing as "redirect failed".
    DWORD disable = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof disable);
    AllowProxyLogon(request);

    // A proxy that asks for a sign-in gets the user's logon once; if it
    // still refuses, the error names it rather than leaving the user with a
    // bare transport failure.
    for (int round = 0;; ++round) {
      if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
          !WinHttpReceiveResponse(request, nullptr)) {
        const DWORD code = GetLastError();
        if (job.abandoned) throw Cancelled{};
        if (!route.proxy.empty() && ProxyAsksForSignIn(open.session.Get(), host)) ThrowProxyRefused(route.proxy);
        if (code == ERROR_WINHTTP_SECURE_CERT_DATE_INVALID || code == ERROR_WINHTTP_SECURE_CERT_CN_INVALID ||
            code == ERROR_WINHTTP_SECURE_INVALID_CA) {
          SecureFailure(code, host);
        }
        if (code == ERROR_WINHTTP_SECURE_FAILURE || code == ERROR_WINHTTP_SECURE_CHANNEL_ERROR) {
          const DWORD problem = CertificateProblem(open.session.Get(), host, parts.nPort);
          SecureFailure(problem ? problem : code, host);
        }
        TransportFailure(code);
      }
      if (route.proxy.empty() || StatusCode(request) != 407) break;
      if (round > 0 || !AnswerProxyChallenge(request)) ThrowProxyRefused(route.proxy);
    }
    open.status = StatusCode(request);
    if (!open.status) TransportFailure();
    if (!IsRedirect(open.status)) return;
    const std::wstring location = QueryHeader(request, WINHTTP_QUERY_LOCATION);
    if (location.empty()) return;  // nothing to follow: the answer is the 3xx itself
    if (redirects == kMaxRedirects) TransportFailure(ERROR_WINHTTP_REDIRECT_FAILED);
    url = Resolve(url, location);
  }
}

void WinHttpTransport::Fetch(Job& job) {
  Open open;
  Send(job, open);
  HttpResponse& response = job.response;
  response.status = open.status;
  response.contentType = QueryHeader(open.Request(), WINHTTP_QUERY_CONTENT_TYPE);
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(open.Request(), &available)) TransportFailure();
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
    if (!WinHttpReadData(open.Request(), response.body.data() + at, available, &read)) TransportFailure();
    response.body.resize(at + read);
  }
}

void WinHttpTransport::Produce(Job& job) {
  int next = 0;
  // Waits for room in the ring; false when the waiting side gave up.
  auto room = [&] { return WaitForSingleObject(job.free.Get(), INFINITE) == WAIT_OBJECT_0 && !job.abandoned; };
  auto hand = [&](Job::Piece::Kind kind, DWORD size) {
    job.pieces[next] = {kind, size};
    next = (next + 1) % Job::kPieces;
    ReleaseSemaphore(job.filled.Get(), 1, nullptr);
  };
  try {
    Open open;
    Send(job, open);
    HttpResponseHead& head = job.head;
    head.status = open.status;
    const std::wstring declared = QueryHeader(open.Request(), WINHTTP_QUERY_CONTENT_LENGTH);
    if (!declared.empty()) {
      uint64_t value = 0;
      for (wchar_t c : declared) {
        // A length past any a package could have counts as more than allowed.
        if (c >= L'0' && c <= L'9') value = value > (UINT64_MAX / 20) ? UINT64_MAX / 2 : value * 10 + (c - L'0');
      }
      head.contentLength = value;
    }
    head.contentRange = QueryHeader(open.Request(), WINHTTP_QUERY_CONTENT_RANGE);
    head.etag = QueryHeader(open.Request(), WINHTTP_QUERY_ETAG);
    head.lastModified = QueryHeader(open.Request(), WINHTTP_QUERY_LAST_MODIFIED);
    if (!room()) return;
    hand(Job::Piece::Head, 0);
    for (;;) {
      if (!room()) return;
      uint8_t* buffer = job.buffers.get() + next * Job::kPieceSize;
      // A piece fills with what has arrived, read as it arrives (a read of
      // a whole piece would wait for all of it, and lose it when the
      // connection breaks), and goes on when full, or after a moment on a
      // slow link so that the bar keeps moving. Fewer, fuller pieces keep
      // the hand-over's cost out of a fast transfer.
      DWORD filled = 0, failure = 0;
      bool end = false;
      const DWORD begun = GetTickCount();
      while (filled < Job::kPieceSize && !end && !failure && GetTickCount() - begun < kPieceMs) {
        DWORD available = 0, read = 0;
        if (!WinHttpQueryDataAvailable(open.Request(), &available)) {
          failure = GetLastError();
        } else if (available == 0) {
          end = true;
        } else if (!WinHttpReadData(open.Request(), buffer + filled,
                                    available < Job::kPieceSize - filled ? available : Job::kPieceSize - filled,
                                    &read)) {
          failure = GetLastError();
        } else {
          end = read == 0;
          filled += read;
        }
      }
      if (filled) hand(Job::Piece::Data, filled);
      // What did arrive goes first; the failure, or the end, after it.
      if (failure) TransportFailure(failure);
      if (end) {
        if (room()) hand(Job::Piece::End, 0);
        return;
      }
    }
  } catch (const AppError& e) {
    job.error = e;
  } catch (const Cancelled&) {
    return;
  } catch (const std::bad_alloc&) {
    job.error = AppError(win::ErrorText(ERROR_NOT_ENOUGH_MEMORY), ERROR_NOT_ENOUGH_MEMORY);
  }
  // The ring may be full of pieces nobody will take; a failure always has
  // its place, since the waiting side takes pieces until it sees one.
  if (room()) hand(Job::Piece::Failed, 0);
}

DWORD WINAPI WinHttpTransport::RunJob(void* param) {
  const std::unique_ptr<std::shared_ptr<Job>> held(static_cast<std::shared_ptr<Job>*>(param));
  Job& job = **held;
  if (job.stream) {
    Produce(job);
    return 0;
  }
  try {
    Fetch(job);
  } catch (const AppError& e) {
    job.error = e;
  } catch (const Cancelled&) {
  } catch (const std::bad_alloc&) {
    job.error = AppError(win::ErrorText(ERROR_NOT_ENOUGH_MEMORY), ERROR_NOT_ENOUGH_MEMORY);
  }
  return 0;
}

std::shared_ptr<WinHttpTransport::Job> WinHttpTransport::Start(const std::wstring& url,
                                                                const std::vector<HttpHeader>& headers, bool stream) {
  auto job = std::make_shared<Job>();
  job->shared = shared_;
  job->url = url;
  job->headers = headers;
  job->stream = stream;
  if (stream) {
    job->buffers.reset(new uint8_t[Job::kPieces * Job::kPieceSize]);
    job->filled.Reset(CreateSemaphoreW(nullptr, 0, Job::kPieces, nullptr));
    job->free.Reset(CreateSemaphoreW(nullptr, Job::kPieces, Job::kPieces, nullptr));
    if (!job->filled || !job->free) TransportFailure();
  }
  auto* held = new std::shared_ptr<Job>(job);
  job->thread.Reset(CreateThread(nullptr, 0, RunJob, held, 0, nullptr));
  if (!job->thread) {
    const DWORD code = GetLastError();
    delete held;
    TransportFailure(code);
  }
  return job;
}

void WinHttpTransport::Wait(Job& job, HANDLE object) {
  if (win::WaitHandlingMessages(object, INFINITE, &cancelled_) == win::Waited::Stopped) {
    job.Abandon();
    throw Cancelled{};
  }
}

void WinHttpTransport::Cancel() {
  cancelled_ = true;
  // The wait that is under way sees it once the handler that called this
  // has returned to it.
}

void WinHttpTransport::Prefetch(const std::wstring& url, const std::vector<HttpHeader>& headers) {
  if (cancelled_) return;
  try {
    prefetched_.push_back(Start(url, headers, false));
  } catch (const AppError&) {
    // Asked for again where the answer is needed.
  }
}

void WinHttpTransport::ForgetPrefetched() {
  for (const std::shared_ptr<Job>& job : prefetched_) job->Abandon();
  prefetched_.clear();
}

HttpResponse WinHttpTransport::Get(const std::wstring& url, const std::vector<HttpHeader>& headers) {
  if (cancelled_) throw Cancelled{};
  std::shared_ptr<Job> job;
  for (auto it = prefetched_.begin(); it != prefetched_.end(); ++it) {
    if ((*it)->url == url && (*it)->headers == headers) {
      job = std::move(*it);
      prefetched_.erase(it);
      break;
    }
  }
  if (!job) job = Start(url, headers, false);
  Wait(*job, job->thread.Get());
  if (job->error) throw *job->error;
  return std::move(job->response);
}

void WinHttpTransport::Stream(const std::wstring& url, const std::vector<HttpHeader>& headers, HttpSink& sink) {
  if (cancelled_) throw Cancelled{};
  const std::shared_ptr<Job> job = Start(url, headers, true);
  // However this ends, the thread is not waited for: it ends on its own
  // once its request is closed.
  struct Release {
    Job& job;
    ~Release() { job.Abandon(); }
  } release{*job};
  for (int next = 0;; next = (next + 1) % Job::kPieces) {
    Wait(*job, job->filled.Get());
    const Job::Piece piece = job->pieces[next];
    switch (piece.kind) {
      case Job::Piece::Head:
        if (!sink.Begin(job->head)) return;
        break;
      case Job::Piece::Data:
        if (!sink.Write(job->buffers.get() + next * Job::kPieceSize, piece.size)) return;
        break;
      case Job::Piece::End:
        return;
      case Job::Piece::Failed:
        throw *job->error;
    }
    ReleaseSemaphore(job->free.Get(), 1, nullptr);
  }
}

}  // namespace oq
