#include "setup/release_client.h"

#include <climits>
#include <cstdlib>

#include "services/join_text.h"

namespace oq {

std::wstring VersionFileUrl(const std::wstring& base) {
  return base + L"files/publish/xlllibver.txt";
}

std::wstring PackageUrl(const std::wstring& base, const std::wstring& packageWord) {
  return JoinText({base, L"files/publish/", packageWord, L"n.zip"});
}

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

wchar_t AsciiLower(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

std::wstring Lowered(std::wstring s) {
  for (wchar_t& c : s) c = AsciiLower(c);
  return s;
}

// The charset parameter of a Content-Type value, lower-cased; empty when none.
std::wstring CharsetOf(const std::wstring& contentType) {
  const std::wstring lower = Lowered(contentType);
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

// Appends one code point as UTF-16 code units, wherever wchar_t is wider.
void AppendCodePoint(std::wstring& out, uint32_t cp) {
  if (cp >= 0x10000 && sizeof(wchar_t) == 2) {
    cp -= 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<wchar_t>(cp));
  }
}

// Strict UTF-8; every malformed sequence becomes one U+FFFD.
std::wstring DecodeUtf8(const std::vector<uint8_t>& in) {
  std::wstring out;
  out.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    const uint8_t b = in[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    int extra = 0;
    uint32_t cp = 0, min = 0;
    if ((b & 0xE0) == 0xC0) { extra = 1; cp = b & 0x1F; min = 0x80; }
    else if ((b & 0xF0) == 0xE0) { extra = 2; cp = b & 0x0F; min = 0x800; }
    else if ((b & 0xF8) == 0xF0) { extra = 3; cp = b & 0x07; min = 0x10000; }
    else { out.push_back(0xFFFD); ++i; continue; }
    size_t j = i + 1;
    for (; j < in.size() && j <= i + extra && (in[j] & 0xC0) == 0x80; ++j) cp = (cp << 6) | (in[j] & 0x3F);
    if (j != i + 1 + extra || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(0xFFFD);
      i = (j == i + 1) ? i + 1 : j;
      continue;
    }
    AppendCodePoint(out, cp);
    i = j;
  }
  return out;
}

std::wstring DecodeUtf16(const std::vector<uint8_t>& in, bool bigEndian) {
  std::wstring out;
  for (size_t i = 0; i + 1 < in.size(); i += 2) {
    const uint16_t unit = bigEndian ? static_cast<uint16_t>(in[i] << 8 | in[i + 1])
                                    : static_cast<uint16_t>(in[i + 1] << 8 | in[i]);
    if (sizeof(wchar_t) > 2 && unit >= 0xD800 && unit <= 0xDBFF && i + 3 < in.size()) {
      const uint16_t low = bigEndian ? static_cast<uint16_t>(in[i + 2] << 8 | in[i + 3])
                                     : static_cast<uint16_t>(in[i + 3] << 8 | in[i + 2]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        out.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
        i += 2;
        continue;
      }
    }
    out.push_back(static_cast<wchar_t>(unit));
  }
  return out;
}

// One component as a signed 32-bit whole number; anything else counts as 0.
int32_t ComponentValue(const std::wstring& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  if (i == text.size()) return 0;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < L'0' || text[i] > L'9') return 0;
    value = value * 10 + (text[i] - L'0');
    if (value > static_cast<long long>(INT32_MAX) + 1) return 0;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return 0;
  return static_cast<int32_t>(value);
}

std::vector<std::wstring> SplitDots(const std::wstring& text) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (;;) {
    const size_t dot = text.find(L'.', start);
    parts.push_back(text.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start));
    if (dot == std::wstring::npos) return parts;
    start = dot + 1;
  }
}

// The text as UTF-16 code units, so that ordinal order is the same on every
// platform whatever the width of wchar_t.
std::u16string Utf16Units(const std::wstring& s) {
  std::u16string out;
  for (wchar_t c : s) {
    const uint32_t cp = static_cast<uint32_t>(c);
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
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
  return DecodeUtf8(body);
}

std::wstring VersionFromBody(const std::wstring& body) {
  auto digit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
  auto blank = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; };
  size_t begin = !body.empty() && !digit(body[0]) ? 1 : 0;
  size_t end = body.size();
  while (begin < end && blank(body[begin])) ++begin;
  while (end > begin && blank(body[end - 1])) --end;
  // Digits, with single dots between them only.
  bool afterDigit = false;
  for (size_t i = begin; i < end; ++i) {
    if (digit(body[i])) {
      afterDigit = true;
    } else if (body[i] == L'.' && afterDigit && i + 1 < end) {
      afterDigit = false;
    } else {
      return {};
    }
  }
  return body.substr(begin, end - begin);
}

bool IsNewerVersion(const std::wstring& installed, const std::wstring& newest) {
  if (installed.empty() || newest.empty()) return false;
  const std::vector<std::wstring> a = SplitDots(installed);
  const std::vector<std::wstring> b = SplitDots(newest);
  for (size_t i = 0; i < a.size(); ++i) {
    // A newest version with fewer components, equal so far, is not newer:
    // there is nothing left in it that could be higher.
    if (i >= b.size()) return false;
    const int32_t x = ComponentValue(a[i]);
    const int32_t y = ComponentValue(b[i]);
    if (x > y) return false;
    if (x < y) return true;
  }
  return false;
}

bool OrdinalLess(const std::wstring& a, const std::wstring& b) {
  return Utf16Units(a) < Utf16Units(b);
}

}  // namespace oq
