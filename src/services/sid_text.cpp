#include "services/sid_text.h"

#include <cwchar>

namespace oq {

std::wstring FormatSidText(const uint8_t (&authority)[6], const std::vector<uint32_t>& subAuthorities) {
  wchar_t part[32];
  std::wstring text = L"S-1-";
  if (authority[0] != 0 || authority[1] != 0) {
    std::swprintf(part, 32, L"0x%02X%02X%02X%02X%02X%02X", authority[0], authority[1],
                  authority[2], authority[3], authority[4], authority[5]);
  } else {
    const uint32_t value = static_cast<uint32_t>(authority[2]) << 24 |
                           static_cast<uint32_t>(authority[3]) << 16 |
                           static_cast<uint32_t>(authority[4]) << 8 | authority[5];
    std::swprintf(part, 32, L"%u", value);
  }
  text += part;
  for (uint32_t sub : subAuthorities) {
    std::swprintf(part, 32, L"-%u", sub);
    text += part;
  }
  return text;
}

}  // namespace oq
