#include "services/admin_groups.h"

#include <memory>

namespace oq {

bool GroupsListAdministrators(const std::function<bool(void* block, uint32_t size)>& readGroups,
                              const std::function<bool(const void* sid)>& isAdministrators) {
  // Aligned for the pointers inside.
  auto block = std::make_unique<SidAndAttributes[]>(kTokenGroupsBlockSize / sizeof(SidAndAttributes));
  if (!readGroups(block.get(), kTokenGroupsBlockSize)) return false;
  const auto* groups = reinterpret_cast<const TokenGroupsHeader*>(block.get());
  // A count the block cannot hold is not believed.
  const size_t room = (kTokenGroupsBlockSize - offsetof(TokenGroupsHeader, groups)) / sizeof(SidAndAttributes);
  const size_t count = groups->count < room ? groups->count : room;
  for (size_t i = 0; i < count; ++i) {
    if (groups->groups[i].sid && isAdministrators(groups->groups[i].sid)) return true;
  }
  return false;
}

}  // namespace oq
