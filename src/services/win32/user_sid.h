#pragma once
// The current user's SID as text, from the security token.

#include <windows.h>

namespace oq {

// Writes the text of the token user's SID into `buffer`; `sizeBytes` is the
// buffer's size in bytes. False when the token cannot be read or the text
// does not fit.
bool TokenUserSidText(HANDLE token, wchar_t* buffer, DWORD* sizeBytes);
// Writes the SID's text into `buffer`. When `*sizeBytes` is too small it
// receives the size needed, the last error is ERROR_INSUFFICIENT_BUFFER and
// the buffer is not touched.
bool SidToText(PSID sid, wchar_t* buffer, DWORD* sizeBytes);

}  // namespace oq
