#pragma once
// Numbers as text without the C library's printf family, which would bring
// its whole formatter, floating point included, into a program that only
// ever prints whole numbers.

#include <cstdint>
#include <string>

namespace oq {

inline std::wstring DecimalText(uint64_t value) {
  wchar_t digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::wstring text;
  while (n > 0) text.push_back(digits[--n]);
  return text;
}

// Two upper-case hexadecimal digits.
inline std::wstring HexByteText(uint8_t value) {
  constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  return {kDigits[value >> 4], kDigits[value & 0xF]};
}

}  // namespace oq
