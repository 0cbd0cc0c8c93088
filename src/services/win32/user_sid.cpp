#include "services/win32/user_sid.h"

#include <cstddef>
#include <cwchar>
#include <vector>

#include "services/admin_groups.h"
#include "services/sid_text.h"
#include "services/win32/handles.h"
#include "services/win32/win32_machine.h"

namespace oq {

bool SidToText(PSID sid, wchar_t* buffer, DWORD* sizeBytes) {
  if (!IsValidSid(sid)) return false;
  const uint32_t count = *GetSidSubAuthorityCount(sid);
  const DWORD needed = SidTextBytesNeeded(count);
  if (*sizeBytes < needed) {
    *sizeBytes = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  const SID_IDENTIFIER_AUTHORITY* authority = GetSidIdentifierAuthority(sid);
  uint8_t bytes[6];
  for (int i = 0; i < 6; ++i) bytes[i] = authority->Value[i];
  std::vector<uint32_t> subs;
  for (uint32_t i = 0; i < count; ++i) subs.push_back(*GetSidSubAuthority(sid, i));
  const std::wstring text = FormatSidText(bytes, subs);
  wmemcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

bool TokenUserSidText(HANDLE token, wchar_t* buffer, DWORD* sizeBytes) {
  DWORD needed = 0;
  if (GetTokenInformation(token, TokenUser, nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return false;
  }
  void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, needed);
  if (!block) return false;
  bool ok = false;
  if (GetTokenInformation(token, TokenUser, block, needed, &needed)) {
    ok = SidToText(static_cast<TOKEN_USER*>(block)->User.Sid, buffer, sizeBytes);
  }
  HeapFree(GetProcessHeap(), 0, block);
  return ok;
}

namespace {

// The thread's token when it impersonates, else the process's.
win::UniqueHandle OpenQueryToken() {
  win::UniqueHandle token;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.Put())) {
    if (GetLastError() == ERROR_NO_TOKEN) OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put());
  }
  return token;
}

}  // namespace

std::optional<std::wstring> Win32Environment::CurrentUserSid() {
  win::UniqueHandle token = OpenQueryToken();
  if (!token) return std::nullopt;
  wchar_t buffer[261] = {};
  DWORD size = sizeof buffer;
  if (!TokenUserSidText(token.Get(), buffer, &size)) return std::nullopt;
  buffer[260] = L'\0';
  return std::wstring(buffer);
}

// The portable walk reads the block through these definitions.
static_assert(sizeof(SidAndAttributes) == sizeof(SID_AND_ATTRIBUTES));
static_assert(offsetof(SidAndAttributes, attributes) == offsetof(SID_AND_ATTRIBUTES, Attributes));
static_assert(offsetof(TokenGroupsHeader, groups) == offsetof(TOKEN_GROUPS, Groups));

bool Win32Environment::IsUserAdmin() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (GetVersionExW(&version) && version.dwPlatformId != VER_PLATFORM_WIN32_NT) return true;
#pragma GCC diagnostic pop
  win::UniqueHandle token = OpenQueryToken();
  if (!token) return false;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  win::UniqueSid admins;
  return GroupsListAdministrators(
      [&](void* block, uint32_t size) {
        DWORD returned = 0;
        const bool read = GetTokenInformation(token.Get(), TokenGroups, block, size, &returned) != FALSE;
        token.Reset();  // closed right after the read, whatever its outcome
        return read &&
               AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                        0, 0, admins.Put()) != FALSE;
      },
      [&](const void* sid) { return EqualSid(const_cast<void*>(sid), admins.Get()) != FALSE; });
}

}  // namespace oq
