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

// The shared request object: headers set on it stay set for every later
// request through it, downloads included.
class HttpRequest {
 public:
  explicit HttpRequest(HttpTransport& client) : client_(client) {}
  void SetHeader(const std::wstring& name, const std::wstring& value);
  HttpResponse Get(const std::wstring& url) { return client_.Get(url, headers_); }
  void Prefetch(const std::wstring& url) { client_.Prefetch(url, headers_); }
  const std::vector<HttpHeader>& Headers() const { return headers_; }

 private:
  HttpTransport& client_;
  std::vector<HttpHeader> headers_;
};

// The body decoded with the charset the Content-Type names (UTF-8 when it
// names none). Nothing is stripped: a byte-order mark stays as the first
// character.
std::wstring DecodeBody(const std::vector<uint8_t>& body, const std::wstring& contentType);

// The newest version a version file's decoded body names. Its first
// character is a byte-order mark by convention and is dropped, and so is any
// other first character that is not a digit; blanks and line breaks around
// the version go. A text that is then not digits separated by single dots is
// no version at all: empty, as for an empty file.
std::wstring VersionFromBody(const std::wstring& body);

// True when `newest` is a higher version than `installed`, comparing the
// components of `installed` numerically from the left. Either text empty, or
// every compared component equal, gives false.
bool IsNewerVersion(const std::wstring& installed, const std::wstring& newest);

// Ordinal comparison by UTF-16 code unit, a proper prefix ordering first.
bool OrdinalLess(const std::wstring& a, const std::wstring& b);

}  // namespace oq
