#pragma once
// The version a version file names, and the ways the program compares
// version texts. The first two comparisons are kept on purpose, as the
// installed base has always behaved: the window offers an update by ordinal
// text order (so "1.7.9" counts as newer than "1.7.10"), while the
// unattended "UPDATE" compares the components as numbers. The downgrade
// check of a signed release uses the third, a full numeric order.

#include <string>

namespace oq {

// The newest version a version file's decoded body names. Its first
// character is a byte-order mark by convention and is dropped, and so is any
// other first character that is not a digit; blanks and line breaks around
// the version go. A text that is then not digits separated by single dots is
// no version at all: empty, as for an empty file.
std::wstring VersionFromBody(const std::wstring& body);

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
