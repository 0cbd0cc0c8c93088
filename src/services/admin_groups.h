#pragma once
// The group walk of the administrator check. The token's groups arrive in
// one fixed block, laid out as the platform's TOKEN_GROUPS: a 32-bit count,
// then one {SID pointer, 32-bit flags} pair per group, the SIDs after them.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace oq {

// The block is this big and no bigger: a token whose groups need more
// counts as not an administrator, without a second try.
inline constexpr uint32_t kTokenGroupsBlockSize = 1024;

struct SidAndAttributes {
  void* sid;
  uint32_t attributes;
};
struct TokenGroupsHeader {
  uint32_t count;
  SidAndAttributes groups[1];
};

// `readGroups` fills the block it is given (of the size given) and answers
// false when it cannot, for instance because the groups do not fit.
// True at the first group whose SID `isAdministrators` accepts. The flags
// are not looked at: a deny-only or disabled entry counts like any other.
bool GroupsListAdministrators(const std::function<bool(void* block, uint32_t size)>& readGroups,
                              const std::function<bool(const void* sid)>& isAdministrators);

}  // namespace oq
