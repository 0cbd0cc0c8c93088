#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "services/admin_groups.h"

namespace oq {
namespace {

using Sid = std::vector<uint8_t>;

// Revision 1, sub-authority count, the six authority bytes, then the
// sub-authorities little-endian.
Sid MakeSid(uint8_t authority, std::vector<uint32_t> subs) {
  Sid sid{1, static_cast<uint8_t>(subs.size()), 0, 0, 0, 0, 0, authority};
  for (uint32_t s : subs) {
    for (int i = 0; i < 4; ++i) sid.push_back(static_cast<uint8_t>(s >> (8 * i)));
  }
  return sid;
}

const Sid kAdministrators = MakeSid(5, {32, 544});
const Sid kUsers = MakeSid(5, {32, 545});
const Sid kEveryone = MakeSid(1, {0});
constexpr uint32_t kDenyOnly = 0x10, kEnabled = 0x4;

struct Group {
  Sid sid;
  uint32_t attributes;
};

// Fills the block the way the token query does: the pairs first, the SIDs
// after them; refuses a block too small for all of it.
bool ReadGroups(const std::vector<Group>& list, void* block, uint32_t size) {
  const size_t pairs = offsetof(TokenGroupsHeader, groups) + list.size() * sizeof(SidAndAttributes);
  size_t needed = pairs;
  for (const Group& g : list) needed += g.sid.size();
  if (needed > size) return false;
  auto* header = static_cast<TokenGroupsHeader*>(block);
  header->count = static_cast<uint32_t>(list.size());
  auto* at = static_cast<uint8_t*>(block) + pairs;
  for (size_t i = 0; i < list.size(); ++i) {
    std::memcpy(at, list[i].sid.data(), list[i].sid.size());
    header->groups[i] = {at, list[i].attributes};
    at += list[i].sid.size();
  }
  return true;
}

bool Walk(const std::vector<Group>& list) {
  return GroupsListAdministrators([&](void* block, uint32_t size) { return ReadGroups(list, block, size); },
                                  [](const void* sid) {
                                    return std::memcmp(sid, kAdministrators.data(), kAdministrators.size()) == 0;
                                  });
}

TEST(AdministratorGroupsTest, OnlyTheSidDecides) {
  EXPECT_TRUE(Walk({{kEveryone, kEnabled}, {kUsers, kEnabled}, {kAdministrators, kEnabled}}));
  // A filtered token keeps the group for deny only: it still counts.
  EXPECT_TRUE(Walk({{kEveryone, kEnabled}, {kAdministrators, kDenyOnly}}));
  EXPECT_TRUE(Walk({{kAdministrators, 0}}));
  EXPECT_FALSE(Walk({{kEveryone, kEnabled}, {kUsers, kEnabled}}));
  EXPECT_FALSE(Walk({}));
}

TEST(AdministratorGroupsTest, GroupsThatDoNotFitTheBlockCountAsNoAdministrator) {
  // Administrators first, then enough other groups to need more than the
  // block: there is no second read with a bigger one.
  std::vector<Group> list{{kAdministrators, kEnabled}};
  size_t needed = offsetof(TokenGroupsHeader, groups) + sizeof(SidAndAttributes) + kAdministrators.size();
  while (needed <= kTokenGroupsBlockSize) {
    list.push_back({kUsers, kEnabled});
    needed += sizeof(SidAndAttributes) + kUsers.size();
  }
  EXPECT_FALSE(Walk(list));
  list.pop_back();
  EXPECT_TRUE(Walk(list));
}

TEST(AdministratorGroupsTest, ACountBeyondTheBlockIsNotFollowed) {
  bool readPastTheEnd = false;
  const bool result = GroupsListAdministrators(
      [](void* block, uint32_t size) {
        std::memset(block, 0, size);
        static_cast<TokenGroupsHeader*>(block)->count = 0xFFFFFFFF;
        return true;
      },
      [&](const void*) {
        readPastTheEnd = true;
        return false;
      });
  EXPECT_FALSE(result);
  EXPECT_FALSE(readPastTheEnd);  // every pointer in the block is null
}

}  // namespace
}  // namespace oq
