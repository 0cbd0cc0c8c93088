#include "services/utf16_text.h"

namespace oq {

std::wstring AsciiLower(std::wstring s) {
  for (wchar_t& c : s) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return s;
}

void AppendCodePoint(std::wstring& out, uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<wchar_t>(cp));
  }
}

bool DecodeUtf8(const uint8_t* in, size_t size, std::wstring& out, bool replaceMalformed) {
  out.clear();
  out.reserve(size);
  size_t i = 0;
  while (i < size) {
    const uint8_t lead = in[i];
    if (lead < 0x80) {
      out.push_back(static_cast<wchar_t>(lead));
      ++i;
      continue;
    }
    size_t extra = 0;
    uint32_t cp = 0, least = 0;
    if ((lead & 0xE0) == 0xC0) {
      extra = 1, cp = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, cp = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, cp = lead & 0x07, least = 0x10000;
    }
    size_t next = i + 1;
    if (extra != 0) {
      for (; next < size && next <= i + extra && (in[next] & 0xC0) == 0x80; ++next) cp = cp << 6 | (in[next] & 0x3F);
    }
    if (extra == 0 || next != i + 1 + extra || cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      if (!replaceMalformed) return false;
      out.push_back(static_cast<wchar_t>(0xFFFD));
      // A bad lead byte alone is one sequence; a lead with its continuation
      // bytes is one, however short.
      i = next;
      continue;
    }
    AppendCodePoint(out, cp);
    i = next;
  }
  return true;
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

}  // namespace oq
