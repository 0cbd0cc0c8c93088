#pragma once
// Finding running programs by the file name of their executable. Each call
// takes a fresh snapshot; nothing is kept between calls. Letter case folds
// for the ASCII letters only.

#include <cstdint>
#include <string>

#include "seam/machine.h"

namespace oq {

// True when a process's executable name, or its file-name part, equals `name`.
bool IsProcessRunning(ProcessTable& processes, const std::wstring& name);
// The id of the first such process in snapshot order; 0 when none.
uint32_t FindProcessId(ProcessTable& processes, const std::wstring& name);
// The id of the first process whose executable name as a whole equals `name`;
// 0 when none.
int32_t ProcessIdByExeName(ProcessTable& processes, const std::wstring& name);
// The image path of that process; empty when there is none or it cannot be read.
std::wstring ProcessImagePath(ProcessTable& processes, const std::wstring& name);

}  // namespace oq
