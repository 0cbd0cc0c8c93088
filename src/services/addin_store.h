#pragma once
// The record of an installation between runs: values of the per-user add-in
// key, reached through HKEY_USERS and the user's SID text, never through
// HKEY_CURRENT_USER. Each routine opens its own key, does one thing and
// closes it again.

#include <cstdint>
#include <string>

#include "seam/machine.h"

namespace oq {

inline constexpr wchar_t kAddinKeySuffix[] = L"\\Software\\Microsoft\\Office\\Excel\\AddIns\\ORBITQuarry.XLL\\";
inline constexpr wchar_t kAddinKeyUninstallSuffix[] = L"\\Software\\Microsoft\\Office\\Excel\\AddIns\\ORBITQuarry.XLL";
inline constexpr wchar_t kSecondAddinKeySuffix[] = L"\\Software\\Microsoft\\Office\\Excel\\AddIns\\LT.ORBITQuarry";
inline constexpr wchar_t kAddinsParentSuffix[] = L"\\Software\\Microsoft\\Office\\Excel\\AddIns";

// A string value of an open key up to its first NUL; empty when the value is
// missing or empty. A value of another type raises
// "Invalid data type for '<name>'"; an expandable string comes unexpanded.
std::wstring ReadStringValue(RegistryKey& key, const std::wstring& name);

class AddinStore {
 public:
  AddinStore(Registry& registry, Environment& env) : registry_(registry), env_(env) {}

  // The current user's SID text. Start-up sets it once, before the first
  // value is read or written.
  std::wstring UserSidText;

  // The string value up to its first NUL; empty when the key or value is
  // missing. Opens the key with creation, so a first read leaves an empty
  // add-in key behind. A value of another type raises
  // "Invalid data type for '<name>'".
  std::wstring ReadAddinValue(const std::wstring& name);
  // Writes a REG_SZ when the key can be opened or created; a refused write
  // raises "Failed to set data for '<name>'". Always returns true.
  bool WriteAddinValue(const std::wstring& name, const std::wstring& data);
  // Writes a REG_DWORD; a key that cannot be opened or a refused write raises.
  bool WriteAddinInteger(const std::wstring& name, int32_t data);
  // As WriteAddinValue, but under the SID the token gives now, and a key that
  // cannot be opened raises. Returns empty text.
  std::wstring WriteUserAddinValue(const std::wstring& name, const std::wstring& data);
  // Remove "ADXXLForm" below the second (install) or the add-in key
  // (uninstall), then "LT.ORBITQuarry" when it has no subkey left. Missing keys
  // are no error. True when "LT.ORBITQuarry" was removed.
  bool ClearAddinKeysForInstall();
  bool ClearAddinKeysForUninstall();

 private:
  bool ClearKeys(const std::wstring& formParentSuffix);

  Registry& registry_;
  Environment& env_;
};

}  // namespace oq
