#include "services/addin_store.h"

#include <cstring>

#include "seam/app_error.h"

namespace oq {

namespace {

// The store's paths are the SID text followed by a suffix that begins with a
// backslash. A path that begins with a backslash is taken from HKEY_USERS
// itself, which is where an empty SID text leads.
std::wstring RelativeToUsers(std::wstring path) {
  if (!path.empty() && path.front() == L'\\') path.erase(0, 1);
  return path;
}

RegValue StringValue(const std::wstring& text) {
  RegValue v;
  v.type = kRegSz;
  v.data.resize((text.size() + 1) * 2);
  // REG_SZ is UTF-16 on every platform, also where wchar_t is wider.
  for (size_t i = 0; i < text.size(); ++i) {
    const uint32_t c = static_cast<uint32_t>(text[i]);
    v.data[2 * i] = static_cast<uint8_t>(c & 0xFF);
    v.data[2 * i + 1] = static_cast<uint8_t>((c >> 8) & 0xFF);
  }
  return v;
}

[[noreturn]] void FailedToSet(const std::wstring& name) {
  throw AppError(L"Failed to set data for '" + name + L"'");
}

}  // namespace

std::wstring ReadStringValue(RegistryKey& key, const std::wstring& name) {
  std::optional<RegValue> value = key.QueryValue(name);
  if (!value || value->data.empty()) return {};
  if (value->type != kRegSz && value->type != kRegExpandSz) {
    throw AppError(L"Invalid data type for '" + name + L"'");
  }
  std::wstring text;
  for (size_t i = 0; i + 1 < value->data.size(); i += 2) {
    const wchar_t c = static_cast<wchar_t>(value->data[i] | value->data[i + 1] << 8);
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

std::wstring AddinStore::ReadAddinValue(const std::wstring& name) {
  auto key = registry_.OpenKey(RegRoot::Users, RelativeToUsers(UserSidText + kAddinKeySuffix),
                               RegAccess::Read, true);
  return key ? ReadStringValue(*key, name) : std::wstring();
}

bool AddinStore::WriteAddinValue(const std::wstring& name, const std::wstring& data) {
  auto key = registry_.OpenKey(RegRoot::Users, RelativeToUsers(UserSidText + kAddinKeySuffix),
                               RegAccess::Write, true);
  if (key && !key->SetValue(name, StringValue(data))) FailedToSet(name);
  return true;
}

bool AddinStore::WriteAddinInteger(const std::wstring& name, int32_t data) {
  auto key = registry_.OpenKey(RegRoot::Users, RelativeToUsers(UserSidText + kAddinKeySuffix),
                               RegAccess::Write, true);
  const uint32_t bits = static_cast<uint32_t>(data);
  RegValue v{kRegDword, {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                         static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)}};
  if (!key || !key->SetValue(name, v)) FailedToSet(name);
  return true;
}

std::wstring AddinStore::WriteUserAddinValue(const std::wstring& name, const std::wstring& data) {
  // Without a SID the path starts at HKEY_USERS itself, as it always has.
  const std::wstring sid = env_.CurrentUserSid().value_or(std::wstring());
  auto key = registry_.OpenKey(RegRoot::Users, RelativeToUsers(sid + kAddinKeySuffix),
                               RegAccess::Write, true);
  if (!key || !key->SetValue(name, StringValue(data))) FailedToSet(name);
  return {};
}

bool AddinStore::ClearKeys(const std::wstring& formParentSuffix) {
  if (auto parent = registry_.OpenKey(RegRoot::Users, RelativeToUsers(UserSidText + formParentSuffix),
                                      RegAccess::Write, false)) {
    parent->DeleteSubKey(L"ADXXLForm");
  }
  auto addins = registry_.OpenKey(RegRoot::Users, RelativeToUsers(UserSidText + kAddinsParentSuffix),
                                  RegAccess::Write, false);
  return addins && addins->DeleteSubKey(L"LT.ORBITQuarry");
}

bool AddinStore::ClearAddinKeysForInstall() { return ClearKeys(kSecondAddinKeySuffix); }

bool AddinStore::ClearAddinKeysForUninstall() { return ClearKeys(kAddinKeyUninstallSuffix); }

}  // namespace oq
