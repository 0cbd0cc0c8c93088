#pragma once
// The marks the stand-ins leave under HKEY_CURRENT_USER so that a test can
// see what was done to them. Plain Win32 only: the stand-ins link nothing of
// the program they stand in for.

#include <windows.h>

#include <string>

namespace oq::standin {

inline constexpr wchar_t kMarksKey[] = L"Software\\OQStandIn";

// Returns 0 for a value that is missing or not a DWORD.
inline DWORD ReadMarkDword(const wchar_t* subkey, const wchar_t* name) {
  DWORD value = 0, size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, subkey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
    return 0;
  }
  return value;
}

// Not atomic across processes; the tests start the stand-ins one at a time.
inline void IncrementMark(const wchar_t* subkey, const wchar_t* name) {
  const DWORD next = ReadMarkDword(subkey, name) + 1;
  RegSetKeyValueW(HKEY_CURRENT_USER, subkey, name, REG_DWORD, &next, sizeof next);
}

inline void SetMarkString(const wchar_t* subkey, const wchar_t* name, const std::wstring& text) {
  RegSetKeyValueW(HKEY_CURRENT_USER, subkey, name, REG_SZ, text.c_str(),
                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// Empty when the value is missing or not text.
inline std::wstring ReadMarkString(const wchar_t* subkey, const wchar_t* name) {
  wchar_t buffer[1024];
  DWORD size = sizeof buffer;
  if (RegGetValueW(HKEY_CURRENT_USER, subkey, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
    return {};
  }
  return buffer;
}

}  // namespace oq::standin
