#include "services/sid_text.h"

#include "services/number_text.h"

namespace oq {

std::wstring FormatSidText(const uint8_t (&authority)[6], const std::vector<uint32_t>& subAuthorities) {
  std::wstring text = L"S-1-";
  if (authority[0] != 0 || authority[1] != 0) {
    text += L"0x";
    for (uint8_t byte : authority) text += HexByteText(byte);
  } else {
    const uint32_t value = static_cast<uint32_t>(authority[2]) << 24 |
                           static_cast<uint32_t>(authority[3]) << 16 |
                           static_cast<uint32_t>(authority[4]) << 8 | authority[5];
    text += DecimalText(value);
  }
  for (uint32_t sub : subAuthorities) text += L"-" + DecimalText(sub);
  return text;
}

}  // namespace oq
