#pragma once
// The text form of a security identifier: S-1-<authority>-<sub>-<sub>...

#include <cstdint>
#include <string>
#include <vector>

namespace oq {

// `authority` is the six identifier-authority bytes, most significant first.
// An authority whose two top bytes are zero is written in decimal, any other
// as "0x" and twelve upper-case hex digits. The revision is always written 1.
std::wstring FormatSidText(const uint8_t (&authority)[6], const std::vector<uint32_t>& subAuthorities);

// Bytes the text of a SID with `subAuthorityCount` sub-authorities needs,
// terminating NUL included: (12 * n + 28) * 2.
constexpr uint32_t SidTextBytesNeeded(uint32_t subAuthorityCount) {
  return (12 * subAuthorityCount + 28) * 2;
}

}  // namespace oq
