#include "services/win32/proxy.h"

#include "seam/app_error.h"

namespace oq {

namespace {

// Takes a string WinHTTP allocated with GlobalAlloc, and frees it.
std::wstring TakeGlobal(LPWSTR text) {
  std::wstring value = text ? text : L"";
  if (text) GlobalFree(text);
  return value;
}

}  // namespace

UserProxySettings::UserProxySettings() {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return;  // none: direct
  autoDetect_ = config.fAutoDetect != FALSE;
  script_ = TakeGlobal(config.lpszAutoConfigUrl);
  proxy_ = TakeGlobal(config.lpszProxy);
  bypass_ = TakeGlobal(config.lpszProxyBypass);
}

ProxyRoute UserProxySettings::RouteFor(HINTERNET session, const std::wstring& url) const {
  const bool detect = autoDetect_ && !detectionFailed_;
  if ((detect || !script_.empty()) && session) {
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (!script_.empty()) {
      options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
      options.lpszAutoConfigUrl = script_.c_str();
    }
    if (detect) {
      options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
      options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    WINHTTP_PROXY_INFO info{};
    BOOL answered = WinHttpGetProxyForUrl(session, url.c_str(), &options, &info);
    if (!answered && GetLastError() == ERROR_WINHTTP_LOGIN_FAILURE) {
      // The script's server wants the user's logon; asked only then, since
      // offering it costs a round trip.
      options.fAutoLogonIfChallenged = TRUE;
      answered = WinHttpGetProxyForUrl(session, url.c_str(), &options, &info);
    }
    if (!answered && GetLastError() == ERROR_WINHTTP_AUTODETECTION_FAILED) detectionFailed_ = true;
    if (answered) {
      ProxyRoute route{TakeGlobal(info.lpszProxy), TakeGlobal(info.lpszProxyBypass)};
      if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) route = {};
      return route;
    }
  }
  return {proxy_, bypass_};
}

win::UniqueInternet OpenSession(const ProxyRoute& route) {
  const bool named = !route.proxy.empty();
  win::UniqueInternet session(WinHttpOpen(L"Kelvo Agent", named ? WINHTTP_ACCESS_TYPE_NAMED_PROXY : WINHTTP_ACCESS_TYPE_NO_PROXY,
                                          named ? route.proxy.c_str() : WINHTTP_NO_PROXY_NAME,
                                          named && !route.bypass.empty() ? route.bypass.c_str() : WINHTTP_NO_PROXY_BYPASS,
                                          0));
  if (session) {
    WinHttpSetTimeouts(session.Get(), 0, 100000, 300000, 300000);
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 |
                      WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    WinHttpSetOption(session.Get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
  }
  return session;
}

void AllowProxyLogon(HINTERNET request) {
  DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
  WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof policy);
}

bool AnswerProxyChallenge(HINTERNET request) {
  DWORD supported = 0, first = 0, target = 0;
  if (!WinHttpQueryAuthSchemes(request, &supported, &first, &target) || target != WINHTTP_AUTH_TARGET_PROXY) {
    return false;
  }
  const DWORD scheme = (supported & WINHTTP_AUTH_SCHEME_NEGOTIATE) ? WINHTTP_AUTH_SCHEME_NEGOTIATE
                       : (supported & WINHTTP_AUTH_SCHEME_NTLM)    ? WINHTTP_AUTH_SCHEME_NTLM
                                                                   : 0;
  // No name and password: the logged-on user's own credentials.
  return scheme && WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr, nullptr);
}

bool ProxyAsksForSignIn(HINTERNET session, const std::wstring& host) {
  const win::UniqueInternet connection(WinHttpConnect(session, host.c_str(), INTERNET_DEFAULT_HTTP_PORT, 0));
  const win::UniqueInternet request(connection ? WinHttpOpenRequest(connection.Get(), L"HEAD", L"/", nullptr,
                                                                    WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0)
                                               : nullptr);
  if (!request) return false;
  WinHttpSetTimeouts(request.Get(), 5000, 5000, 5000, 5000);
  DWORD status = 0, size = sizeof status;
  return WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
         WinHttpReceiveResponse(request.Get(), nullptr) &&
         WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) &&
         status == 407;
}

void ThrowProxyRefused(const std::wstring& proxy) {
  throw AppError(L"The proxy server " + proxy +
                     L" asks for a sign-in that the Windows logon does not satisfy (407 Proxy Authentication "
                     L"Required). Ask your administrator to let this installer through the proxy.",
                 407);
}

}  // namespace oq
