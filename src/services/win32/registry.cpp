#include "services/win32/handles.h"
#include "services/win32/win32_machine.h"

namespace oq {

namespace {

HKEY RootKey(RegRoot root) {
  switch (root) {
    case RegRoot::Users: return HKEY_USERS;
    case RegRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RegRoot::CurrentUser: return HKEY_CURRENT_USER;
  }
  return HKEY_CURRENT_USER;
}

class Win32Key final : public RegistryKey {
 public:
  explicit Win32Key(HKEY key) : key_(key) {}

  std::optional<RegValue> QueryValue(const std::wstring& name) override {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key_.Get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    RegValue value{type, std::vector<uint8_t>(size)};
    // The value may change between the two calls; the second tells its size.
    if (RegQueryValueExW(key_.Get(), name.c_str(), nullptr, &type, value.data.data(), &size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    value.type = type;
    value.data.resize(size);
    return value;
  }

  bool SetValue(const std::wstring& name, const RegValue& value) override {
    return RegSetValueExW(key_.Get(), name.c_str(), 0, value.type, value.data.data(),
                          static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
  }

  bool DeleteSubKey(const std::wstring& name) override {
    // RegDeleteKeyExW exists from Vista x64 and Windows 7 on; it is looked up
    // so that the program still starts where it does not.
    using DeleteKeyEx = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
    static const auto deleteKeyEx = reinterpret_cast<DeleteKeyEx>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW")));
    const LONG status = deleteKeyEx ? deleteKeyEx(key_.Get(), name.c_str(), 0, 0)
                                    : RegDeleteKeyW(key_.Get(), name.c_str());
    return status == ERROR_SUCCESS;
  }

 private:
  win::UniqueKey key_;
};

}  // namespace

std::unique_ptr<RegistryKey> Win32Registry::OpenKey(RegRoot root, const std::wstring& path,
                                                    RegAccess access, bool create, RegView view) {
  std::wstring subkey = path;
  if (!subkey.empty() && subkey.back() == L'\\') subkey.pop_back();
  const REGSAM sam = (access == RegAccess::Read ? KEY_READ : KEY_WRITE) |
                     (view == RegView::Native64 ? KEY_WOW64_64KEY : 0);
  HKEY key = nullptr;
  const LONG status =
      create ? RegCreateKeyExW(RootKey(root), subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr,
                               &key, nullptr)
             : RegOpenKeyExW(RootKey(root), subkey.c_str(), 0, sam, &key);
  if (status != ERROR_SUCCESS) return nullptr;
  return std::make_unique<Win32Key>(key);
}

}  // namespace oq
