#include "setup/release_client.h"

#include <climits>
#include <cstdlib>

#include "services/join_text.h"
#include "services/utf16_text.h"

namespace oq {

std::wstring VersionFileUrl(const std::wstring& base) {
  return base + L"files/publish/xlllibver.txt";
}

std::wstring PackageUrl(const std::wstring& base, const std::wstring& packageWord) {
  return JoinText({base, L"files/publish/", packageWord, L"n.zip"});
}

std::wstring ManifestUrl(const std::wstring& base) { return base + L"files/publish/release.txt"; }

std::wstring SignatureUrl(const std::wstring& base) { return base + L"files/publish/release.txt.sig"; }

void HttpRequest::SetHeader(const std::wstring& name, const std::wstring& value) {
  for (HttpHeader& h : headers_) {
    if (h.name == name) {
      h.value = value;
      return;
    }
  }
  headers_.push_back({name, value});
}

namespace {

// The charset parameter of a Content-Type value, lower-cased; empty when none.
std::wstring CharsetOf(const std::wstring& contentType) {
  const std::wstring lower = AsciiLower(contentType);
  size_t at = lower.find(L"charset=");
  if (at == std::wstring::npos) return {};
  at += 8;
  size_t end = lower.find(L';', at);
  std::wstring value = lower.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
  while (!value.empty() && (value.back() == L' ' || value.back() == L'\t')) value.pop_back();
  if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

std::wstring DecodeBody(const std::vector<uint8_t>& body, const std::wstring& contentType) {
  const std::wstring charset = CharsetOf(contentType);
  if (charset == L"iso-8859-1" || charset == L"latin1" || charset == L"us-ascii" ||
      charset == L"ascii") {
    return std::wstring(body.begin(), body.end());
  }
  if (charset == L"utf-16" || charset == L"utf-16le") return DecodeUtf16(body, false);
  if (charset == L"utf-16be") return DecodeUtf16(body, true);
  // Malformed bytes become U+FFFD: the text is shown and compared, never
  // used as a name.
  std::wstring text;
  DecodeUtf8(body.data(), body.size(), text, /*replaceMalformed=*/true);
  return text;
}

}  // namespace oq
