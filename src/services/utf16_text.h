#pragma once
// Text codecs for the places where bytes from outside become UTF-16 texts
// (the release server's answers, ZIP entry names), and the ASCII-only case
// fold that Windows' own name comparison reduces to for those texts.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace oq {

// 'A'..'Z' to 'a'..'z', nothing else: a locale-aware fold could match
// letters that merely look alike.
std::wstring AsciiLower(std::wstring s);

// Appends one code point (at most U+10FFFF) as UTF-16 code units, a
// surrogate pair past U+FFFF, however wide wchar_t is: the texts are
// Windows' UTF-16 ones on every platform the logic runs on.
void AppendCodePoint(std::wstring& out, uint32_t codePoint);

// Strict UTF-8: overlong forms, surrogates and code points past U+10FFFF are
// malformed. With `replaceMalformed` each malformed sequence becomes one
// U+FFFD and the result is true; without it the first one gives false.
bool DecodeUtf8(const uint8_t* data, size_t size, std::wstring& out, bool replaceMalformed);

// UTF-16 bytes of either order as text; a byte-order mark stays as the
// first character. Where wchar_t is wider, a surrogate pair becomes one.
std::wstring DecodeUtf16(const std::vector<uint8_t>& in, bool bigEndian);

// The text as UTF-16 code units, so that ordinal order is the same on every
// platform whatever the width of wchar_t.
std::u16string Utf16Units(const std::wstring& s);

}  // namespace oq
