#pragma once
// The way to the release server the current user's Internet Options give,
// as the browser and Excel take it: a fixed proxy with its bypass list, a
// proxy auto-configuration script, automatic detection, or none.

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <string>

#include "services/win32/handles.h"

namespace oq {

// The proxy for one request: the list WinHTTP takes ("host:port", or
// "https=host:port;..."), empty for a direct connection.
struct ProxyRoute {
  std::wstring proxy;
  std::wstring bypass;
};

class UserProxySettings {
 public:
  // Reads the settings once (WinHttpGetIEProxyConfigForCurrentUser).
  UserProxySettings();

  // The route for `url`. With a script or automatic detection it is the
  // script's answer for that URL (DIRECT included); when no script answers,
  // the fixed proxy if one is set, else direct. `session` is any session
  // WinHTTP may fetch the script with.
  ProxyRoute RouteFor(HINTERNET session, const std::wstring& url) const;

 private:
  bool autoDetect_ = false;
  // Detection that found nothing is not tried again: on a network without
  // it, each attempt waits for the DHCP and DNS queries to time out.
  mutable std::atomic<bool> detectionFailed_{false};
  std::wstring script_;
  std::wstring proxy_;
  std::wstring bypass_;
};

// A session with the installer's fixed settings (user agent, time-outs, TLS
// 1.0 to 1.2) that goes through `route`. A session rather than a request
// option carries the proxy: Wine's WinHTTP ignores the proxy set on a
// request. Empty when WinHTTP cannot open one.
win::UniqueInternet OpenSession(const ProxyRoute& route);

// Lets the request answer a proxy's challenge with the logged-on user's
// credentials, without asking.
void AllowProxyLogon(HINTERNET request);

// After a 407: picks Negotiate or NTLM for the proxy with the logged-on
// user's credentials. True when the request is worth sending again.
bool AnswerProxyChallenge(HINTERNET request);

// Whether the proxy of `session` wants a sign-in, asked with a plain request
// for http://host/ (a few seconds at most). For a failed tunnel: Wine's
// WinHTTP fails it without the proxy's 407, which Windows reports.
bool ProxyAsksForSignIn(HINTERNET session, const std::wstring& host);

// The error for a proxy that still wants a sign-in, naming it.
[[noreturn]] void ThrowProxyRefused(const std::wstring& proxy);

}  // namespace oq
