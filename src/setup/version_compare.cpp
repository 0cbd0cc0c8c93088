#include "setup/version_compare.h"

#include <climits>
#include <cstdint>
#include <vector>

#include "services/utf16_text.h"

namespace oq {

namespace {

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

}  // namespace

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

namespace {

// The next number of a dotted version and the position after its dot.
uint64_t NextComponent(const std::wstring& text, size_t& at) {
  uint64_t value = 0;
  for (; at < text.size() && text[at] != L'.'; ++at) {
    if (text[at] >= L'0' && text[at] <= L'9' && value < 1000000000000ull) value = value * 10 + (text[at] - L'0');
  }
  if (at < text.size()) ++at;
  return value;
}

}  // namespace

int CompareVersions(const std::wstring& a, const std::wstring& b) {
  size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    const uint64_t x = NextComponent(a, i), y = NextComponent(b, j);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

}  // namespace oq
