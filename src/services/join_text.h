#pragma once
// Text put together from parts in one go. A chain of operator+ makes and
// destroys a string at every step, and each step is code at the call site;
// this is one out-of-line call, which matters in a program with a size
// budget.

#include <initializer_list>
#include <string>
#include <string_view>

namespace oq {

std::wstring JoinText(std::initializer_list<std::wstring_view> parts);

}  // namespace oq
