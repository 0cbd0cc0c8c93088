// The baseline: a program that does nothing but one HTTPS GET of the
// release server's version file over WinHTTP, and ends.

#include <windows.h>
#include <winhttp.h>

#include <cstdlib>

int wmain(int argc, wchar_t** argv) {
  const wchar_t* host = argc > 1 ? argv[1] : L"localhost";
  const INTERNET_PORT port = static_cast<INTERNET_PORT>(argc > 2 ? _wtoi(argv[2]) : 8443);
  // The installer's session settings and headers, so that both send the
  // same request over the same protocols.
  HINTERNET session = WinHttpOpen(L"Kelvo Agent", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
  if (session) {
    WinHttpSetTimeouts(session, 0, 100000, 300000, 300000);
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 |
                      WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
  }
  HINTERNET connection = session ? WinHttpConnect(session, host, port, 0) : nullptr;
  HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", L"/files/publish/xlllibver.txt", nullptr,
                                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                      WINHTTP_FLAG_SECURE)
                                 : nullptr;
  const wchar_t headers[] = L"Accept-Charset: utf-8\r\nAccept: application/json\r\nAccept-Language: ko-KR";
  if (request) {
    WinHttpAddRequestHeaders(request, headers, static_cast<DWORD>(-1),
                             WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
  }
  int status = 1;
  if (request && WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
      WinHttpReceiveResponse(request, nullptr)) {
    char buffer[4096];
    DWORD got = 0;
    while (WinHttpReadData(request, buffer, sizeof buffer, &got) && got > 0) {
    }
    status = 0;
  }
  if (request) WinHttpCloseHandle(request);
  if (connection) WinHttpCloseHandle(connection);
  if (session) WinHttpCloseHandle(session);
  return status;
}
