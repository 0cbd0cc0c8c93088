#pragma once
// What the install put into its folder, kept as a list file in the folder,
// so that the uninstall deletes those files and no others: the folder is
// typed by the user and may well hold the user's own files ("D:\Tools\").

#include <string>
#include <vector>

#include "seam/machine.h"

namespace oq {

// The list file in the install folder: UTF-16LE with a byte-order mark, one
// path relative to the folder per line; a folder ends with a backslash, and
// "." stands for the install folder itself, when the install created it.
inline constexpr wchar_t kInstallListName[] = L"ORBITQuarry.files";

// The list of one install folder (which ends with a backslash). Loading an
// existing list first makes an update add to what earlier installs put there.
class InstallList {
 public:
  InstallList(FileSystem& files, std::wstring folder);
  // Adds names (relative to the folder) and writes the whole list out, so
  // that it is on disk before the files it names. A folder name is added
  // only when the folder does not exist yet: one the user had stays his.
  // Raises AppError when the list cannot be written.
  void Add(const std::vector<std::wstring>& names);
  const std::vector<std::wstring>& Names() const { return names_; }

 private:
  FileSystem& files_;
  std::wstring folder_;
  std::vector<std::wstring> names_;
};

// The working library's name beside its own while a new one is being
// registered; left behind only when something still holds it.
inline constexpr wchar_t kKeptLibrarySuffix[] = L".oqold";
// The installer copy's replacement on its way in (".new") and the copy it
// replaced, set aside until a later start deletes it (".old").
inline constexpr wchar_t kNewSuffix[] = L".new";
inline constexpr wchar_t kOldSuffix[] = L".old";

// What an install puts into its folder besides the package's entries: the
// downloaded package, the extracted, the installed and the kept library, the
// installer copy with the names its replacement takes on the way (".new",
// ".old"), and "." when it made the folder itself.
std::vector<std::wstring> InstallerNames(const std::wstring& packageWord, const std::wstring& installerCopy,
                                         bool folderMade);

// The names an install folder's list holds; false when it has no list (an
// installation made before lists were kept) or the list cannot be read.
bool ReadInstallList(FileSystem& files, const std::wstring& folder, std::vector<std::wstring>& names);

// The path for a listed name, or empty when the name could lead anywhere but
// below the folder (absolute, a drive, "..", a device or stream colon).
std::wstring ListedPath(const std::wstring& folder, const std::wstring& name);

// A folder the uninstall may delete from: absolute, below a drive or a
// share, never a drive's or a share's root, without "." or ".." components.
bool IsRemovableFolder(const std::wstring& folder);

// Deletes what the folder's list names, then the listed folders that are
// left empty, deepest first, and last the list itself. Without a list only
// this product's own names go (the libraries, their download leftovers and
// the installer copies), and the folder only when that leaves it empty.
// Whatever else is in the folder stays. Failures (files in use) are silent.
void RemoveInstalledFiles(FileSystem& files, const std::wstring& folder);

}  // namespace oq
