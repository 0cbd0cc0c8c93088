#pragma once

#include <string>

namespace oq {

// One of two texts by a flag, each taken as it is.
inline std::wstring ChooseText(bool flag, const std::wstring& whenTrue, const std::wstring& whenFalse) {
  return flag ? whenTrue : whenFalse;
}

}  // namespace oq
