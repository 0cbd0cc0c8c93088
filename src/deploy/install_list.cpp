#include "deploy/install_list.h"

#include <algorithm>
#include <utility>

#include "seam/app_error.h"
#include "services/utf16_text.h"
#include "setup/brand.h"

namespace oq {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The components between separators from `at` on; empty ones (a doubled or
// trailing separator) are left out.
std::vector<std::wstring> Components(const std::wstring& path, size_t at) {
  std::vector<std::wstring> parts;
  while (at < path.size()) {
    size_t end = at;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    if (end > at) parts.push_back(path.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

// "." and "..", and what Windows reads as them: it drops a component's
// trailing dots and blanks ("... " is "..").
bool IsDots(const std::wstring& part) { return part.find_first_not_of(L". ") == std::wstring::npos; }

void PutUnit(std::vector<uint8_t>& out, uint32_t unit) {
  out.push_back(static_cast<uint8_t>(unit & 0xFF));
  out.push_back(static_cast<uint8_t>(unit >> 8));
}

}  // namespace

InstallList::InstallList(FileSystem& files, std::wstring folder) : files_(files), folder_(std::move(folder)) {
  ReadInstallList(files_, folder_, names_);
}

void InstallList::Add(const std::vector<std::wstring>& names) {
  for (const std::wstring& name : names) {
    bool listed = false;
    for (const std::wstring& n : names_) listed = listed || AsciiLower(n) == AsciiLower(name);
    if (listed) continue;
    if (name != L"." && !name.empty() && name.back() == L'\\' && files_.DirectoryExists(folder_ + name)) continue;
    names_.push_back(name);
  }

  std::vector<uint8_t> bytes;
  PutUnit(bytes, 0xFEFF);
  for (const std::wstring& name : names_) {
    for (char16_t unit : Utf16Units(name)) PutUnit(bytes, unit);
    PutUnit(bytes, L'\r');
    PutUnit(bytes, L'\n');
  }
  const std::wstring path = folder_ + kInstallListName;
  uint32_t error = 0;
  std::unique_ptr<FileWriter> file = files_.CreateWrite(path, error);
  if (!file) throw AppError(L"Cannot create the file \"" + path + L"\"", error);
  if (!file->Write(bytes.data(), bytes.size()) || !file->Finish()) {
    throw AppError(L"Cannot write the file \"" + path + L"\"");
  }
}

std::vector<std::wstring> InstallerNames(const std::wstring& packageWord, const std::wstring& installerCopy,
                                         bool folderMade) {
  std::vector<std::wstring> names{packageWord + L".zip",   packageWord + L"n.dll",
                                  packageWord + L".dll",   packageWord + L".dll" + kKeptLibrarySuffix,
                                  installerCopy,           installerCopy + kNewSuffix,
                                  installerCopy + kOldSuffix};
  if (folderMade) names.insert(names.begin(), L".");
  return names;
}

bool ReadInstallList(FileSystem& files, const std::wstring& folder, std::vector<std::wstring>& names) {
  uint32_t error = 0;
  const std::unique_ptr<FileReader> file = files.OpenRead(folder + kInstallListName, error);
  if (!file || file->Size() > (1u << 20)) return false;
  std::vector<uint8_t> bytes(static_cast<size_t>(file->Size()));
  if (!bytes.empty() && !file->ReadAt(0, bytes.data(), bytes.size())) return false;

  std::wstring text = DecodeUtf16(bytes, /*bigEndian=*/false);
  if (!text.empty() && text.front() == 0xFEFF) text.erase(0, 1);
  names.clear();
  std::wstring line;
  for (wchar_t c : text) {
    if (c == L'\r' || c == L'\n') {
      if (!line.empty()) names.push_back(std::move(line));
      line.clear();
    } else {
      line.push_back(c);
    }
  }
  if (!line.empty()) names.push_back(std::move(line));
  return true;
}

std::wstring ListedPath(const std::wstring& folder, const std::wstring& name) {
  if (name == L".") return folder;
  if (name.empty() || IsSeparator(name[0]) || name.find(L':') != std::wstring::npos) return {};
  const std::vector<std::wstring> parts = Components(name, 0);
  if (parts.empty() || std::any_of(parts.begin(), parts.end(), IsDots)) return {};
  return folder + name;
}

bool IsRemovableFolder(const std::wstring& folder) {
  size_t rest = 0;
  const wchar_t first = folder.empty() ? L'\0' : folder[0];
  if (folder.size() >= 3 && ((first >= L'A' && first <= L'Z') || (first >= L'a' && first <= L'z')) &&
      folder[1] == L':' && IsSeparator(folder[2])) {
    rest = 3;
  } else if (folder.size() > 2 && IsSeparator(folder[0]) && IsSeparator(folder[1])) {
    // \\server\share\ is the root of a share; "\\?\" and "\\.\" name devices.
    rest = 2;
    for (int level = 0; level < 2; ++level) {
      const size_t end = folder.find_first_of(L"\\/", rest);
      const std::wstring part = folder.substr(rest, end == std::wstring::npos ? end : end - rest);
      if (end == std::wstring::npos || part.empty() || IsDots(part) || part == L"?") return false;
      rest = end + 1;
    }
  } else {
    return false;  // relative, or rooted in whatever the current drive is
  }
  if (folder.find(L':', rest) != std::wstring::npos) return false;
  const std::vector<std::wstring> parts = Components(folder, rest);
  return !parts.empty() && std::none_of(parts.begin(), parts.end(), IsDots);
}

void RemoveInstalledFiles(FileSystem& files, const std::wstring& folder) {
  std::vector<std::wstring> names;
  if (!ReadInstallList(files, folder, names)) {
    // An installation from before the list: only names that are this
    // product's own, whatever brand or bitness put them there.
    for (const wchar_t* name : {kInstalledLibrary64, kInstalledLibrary32}) files.RemoveFile(folder + name);
    for (const wchar_t* word : {kPackageWord64, kPackageWord32}) {
      files.RemoveFile(folder + word + L"n.dll");
      files.RemoveFile(folder + word + L".zip");
    }
    for (bool lumentrove : {false, true}) files.RemoveFile(folder + BrandFor(lumentrove).installerCopy);
    files.RemoveEmptyDirectory(folder);
    return;
  }

  std::vector<std::wstring> folders;
  bool ownFolder = false;
  for (const std::wstring& name : names) {
    const std::wstring path = ListedPath(folder, name);
    if (path.empty()) continue;
    if (name == L".") {
      ownFolder = true;
    } else if (IsSeparator(path.back())) {
      folders.push_back(path);
    } else {
      files.RemoveFile(path);
    }
  }
  files.RemoveFile(folder + kInstallListName);
  // A folder goes only once the folders in it have: again while any went.
  for (bool removed = true; removed;) {
    removed = false;
    for (std::wstring& path : folders) {
      if (!path.empty() && files.RemoveEmptyDirectory(path)) {
        path.clear();
        removed = true;
      }
    }
  }
  if (ownFolder) files.RemoveEmptyDirectory(folder);
}

}  // namespace oq
