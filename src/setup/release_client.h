#pragma once
// Talking to the release server, and comparing dotted version texts.

#include <cstdint>
#include <string>
#include <vector>

#include "seam/machine.h"

namespace oq {

// The release server's files below its base address (which ends in "/").
std::wstring VersionFileUrl(const std::wstring& base);
std::wstring PackageUrl(const std::wstring& base, const std::wstring& packageWord);
std::wstring ManifestUrl(const std::wstring& base);   // the signed release manifest
std::wstring SignatureUrl(const std::wstring& base);  // its signature

// The shared request object: headers set on it stay set for every later
// request through it, downloads included.
class HttpRequest {
 public:
  explicit HttpRequest(HttpTransport& client) : client_(client) {}
  void SetHeader(const std::wstring& name, const std::wstring& value);
  HttpResponse Get(const std::wstring& url) { return client_.Get(url, headers_); }
  void Prefetch(const std::wstring& url) { client_.Prefetch(url, headers_); }
  void ForgetPrefetched() { client_.ForgetPrefetched(); }
  void Stream(const std::wstring& url, HttpSink& sink) { client_.Stream(url, headers_, sink); }
  const std::vector<HttpHeader>& Headers() const { return headers_; }

 private:
  HttpTransport& client_;
  std::vector<HttpHeader> headers_;
};

// The body decoded with the charset the Content-Type names (UTF-8 when it
// names none). Nothing is stripped: a byte-order mark stays as the first
// character.
std::wstring DecodeBody(const std::vector<uint8_t>& body, const std::wstring& contentType);

}  // namespace oq
