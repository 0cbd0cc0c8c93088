#pragma once
// The FileSystem seam over a Linux folder tree, for the benchmark: Windows
// paths are mapped by turning each backslash into a slash, so
// "\\tmp\\out\\a.dll" is /tmp/out/a.dll. Only what the extractor uses is
// real; the rest reports failure.

#include <string>

#include "seam/machine.h"

namespace oq::bench {

// UTF-16 path (backslashes) -> UTF-8 POSIX path.
std::string PosixPath(const std::wstring& path);
// UTF-8 POSIX path -> UTF-16 path with backslashes.
std::wstring SeamPath(const std::string& path);

class PosixFileSystem final : public FileSystem {
 public:
  bool FileExists(const std::wstring& path) override;
  bool DirectoryExists(const std::wstring& path) override;
  uint32_t MakeDirectory(const std::wstring& path) override;
  bool RemoveFile(const std::wstring& path) override;
  bool RenameFile(const std::wstring& from, const std::wstring& to) override;
  bool ReplaceFileWith(const std::wstring& from, const std::wstring& to) override;
  bool CopyFileTo(const std::wstring&, const std::wstring&, bool) override { return false; }
  bool RemoveEmptyDirectory(const std::wstring& path) override;
  std::vector<DirEntry> ListDirectory(const std::wstring&) override { return {}; }
  void DeleteFolderTree(const std::wstring&) override {}
  std::unique_ptr<FileReader> OpenRead(const std::wstring& path, uint32_t& error) override;
  std::unique_ptr<FileWriter> CreateWrite(const std::wstring& path, uint32_t& error) override;
  std::optional<uint64_t> FreeSpace(const std::wstring&) override { return std::nullopt; }
};

}  // namespace oq::bench
