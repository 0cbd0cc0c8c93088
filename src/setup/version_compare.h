#pragma once
// The ways the program compares version texts. The first two are kept on
// purpose, as the installed base has always behaved: the window offers an
// update by ordinal text order (so "1.7.9" counts as newer than "1.7.10"),
// while the unattended "UPDATE" compares the components as numbers. The
// downgrade check of a signed release uses the third, a full numeric order.

#include <string>

namespace oq {

// True when `newest` is a higher version than `installed`, comparing the
// components of `installed` numerically from the left. Either text empty, or
// every compared component equal, gives false.
bool IsNewerVersion(const std::wstring& installed, const std::wstring& newest);

// Ordinal comparison by UTF-16 code unit, a proper prefix ordering first.
bool OrdinalLess(const std::wstring& a, const std::wstring& b);

// Numeric comparison of dotted versions, a missing component counting as 0:
// negative when a < b, 0 when equal, positive when a > b.
int CompareVersions(const std::wstring& a, const std::wstring& b);

}  // namespace oq
