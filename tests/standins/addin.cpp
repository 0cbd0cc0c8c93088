// The stand-in add-in library. Registration does nothing a real COM add-in
// would; it only records, under the name the library was installed with,
// that regsvr32 reached it, from where, and which registration tool (the
// 64-bit one in system32 or the 32-bit one in syswow64) loaded it. Built
// as oq_addin_failing.dll, its registration fails instead.

#include <windows.h>
#include <olectl.h>

#include <string>

#include "standin_marks.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

constexpr wchar_t kRegisteredKey[] = L"Software\\OQStandIn\\Registered";

std::wstring ModulePath(HMODULE module) {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  return std::wstring(path, length);
}

std::wstring OwnPath() { return ModulePath(reinterpret_cast<HMODULE>(&__ImageBase)); }

// The installer copies this one library under several names (32/64, per
// brand); the mark is keyed by the name so each copy can be told apart.
std::wstring OwnNameLowered(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  if (!name.empty()) CharLowerBuffW(name.data(), static_cast<DWORD>(name.size()));
  return name;
}

}  // namespace

STDAPI DllRegisterServer() {
  const std::wstring path = OwnPath();
  const std::wstring name = OwnNameLowered(path);
  if (name.empty()) return SELFREG_E_CLASS;
#ifdef OQ_STANDIN_REFUSE_REGISTRATION
  // The build whose registration fails, as a broken add-in's would: it only
  // counts that regsvr32 tried.
  oq::standin::IncrementMark(kRegisteredKey, (name + L".refused").c_str());
  return SELFREG_E_CLASS;
#endif
  oq::standin::SetMarkString(kRegisteredKey, name.c_str(), path);
  oq::standin::SetMarkString(kRegisteredKey, (name + L".by").c_str(), ModulePath(nullptr));
  oq::standin::IncrementMark(kRegisteredKey, (name + L".count").c_str());
  return S_OK;
}

STDAPI DllUnregisterServer() {
  const std::wstring name = OwnNameLowered(OwnPath());
  if (name.empty()) return SELFREG_E_CLASS;
  const LSTATUS status = RegDeleteKeyValueW(HKEY_CURRENT_USER, kRegisteredKey, name.c_str());
  // Unregistering what was never registered is not a failure for regsvr32.
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}
