#include <windows.h>
#include <shellapi.h>

#include "services/win32/handles.h"
#include "services/win32/win32_machine.h"

namespace oq {

namespace {

class Win32Reader final : public FileReader {
 public:
  explicit Win32Reader(win::UniqueFile file, uint64_t size) : file_(std::move(file)), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t count) override {
    auto* out = static_cast<uint8_t*>(buffer);
    while (count > 0) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      const DWORD chunk = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
      DWORD got = 0;
      if (!ReadFile(file_.Get(), out, chunk, &got, &at) || got == 0) return false;
      out += got;
      offset += got;
      count -= got;
    }
    return true;
  }

 private:
  win::UniqueFile file_;
  uint64_t size_;
};

class Win32Writer final : public FileWriter {
 public:
  explicit Win32Writer(win::UniqueFile file) : file_(std::move(file)) {}
  bool Write(const void* data, size_t count) override {
    const auto* in = static_cast<const uint8_t*>(data);
    while (count > 0) {
      const DWORD chunk = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
      DWORD written = 0;
      if (!WriteFile(file_.Get(), in, chunk, &written, nullptr)) return Failed(GetLastError());
      // A short write without an error is a full disk.
      if (written != chunk) return Failed(ERROR_DISK_FULL);
      in += written;
      count -= written;
    }
    return true;
  }
  bool Finish() override {
    if (!FlushFileBuffers(file_.Get())) Failed(GetLastError());
    if (!CloseHandle(file_.Release())) Failed(GetLastError());
    return error_ == 0;
  }
  uint32_t Error() const override { return error_; }

 private:
  bool Failed(DWORD code) {
    if (!error_) error_ = code ? code : ERROR_WRITE_FAULT;
    return false;
  }
  win::UniqueFile file_;
  uint32_t error_ = 0;
};

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

}  // namespace

bool Win32FileSystem::FileExists(const std::wstring& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32FileSystem::DirectoryExists(const std::wstring& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

uint32_t Win32FileSystem::MakeDirectory(const std::wstring& path) {
  return CreateDirectoryW(path.c_str(), nullptr) ? 0 : GetLastError();
}

bool Win32FileSystem::RemoveFile(const std::wstring& path) { return DeleteFileW(path.c_str()) != FALSE; }

bool Win32FileSystem::RenameFile(const std::wstring& from, const std::wstring& to) {
  return MoveFileW(from.c_str(), to.c_str()) != FALSE;
}

bool Win32FileSystem::ReplaceFileWith(const std::wstring& from, const std::wstring& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool Win32FileSystem::CopyFileTo(const std::wstring& from, const std::wstring& to, bool failIfExists) {
  return CopyFileW(from.c_str(), to.c_str(), failIfExists) != FALSE;
}

bool Win32FileSystem::RemoveEmptyDirectory(const std::wstring& path) {
  return RemoveDirectoryW(path.c_str()) != FALSE;
}

std::vector<DirEntry> Win32FileSystem::ListDirectory(const std::wstring& pattern) {
  std::vector<DirEntry> entries;
  WIN32_FIND_DATAW data;
  win::UniqueFind find(FindFirstFileW(pattern.c_str(), &data));
  if (!find) return entries;
  do {
    entries.push_back({data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(find.Get(), &data));
  return entries;
}

void Win32FileSystem::DeleteFolderTree(const std::wstring& path) {
  // The source list ends in two NULs: the string's own and this one.
  std::wstring from = path;
  from.push_back(L'\0');
  SHFILEOPSTRUCTW op{};
  op.hwnd = nullptr;
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.pTo = nullptr;
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;  // 0x0414; no recycle bin
  SHFileOperationW(&op);
}

std::unique_ptr<FileReader> Win32FileSystem::OpenRead(const std::wstring& path, uint32_t& error) {
  win::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.Get(), &size)) {
    error = GetLastError();
    return nullptr;
  }
  error = 0;
  return std::make_unique<Win32Reader>(std::move(file), static_cast<uint64_t>(size.QuadPart));
}

std::optional<uint64_t> Win32FileSystem::FreeSpace(const std::wstring& folder) {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return std::nullopt;
  return available.QuadPart;
}

std::unique_ptr<FileWriter> Win32FileSystem::CreateWrite(const std::wstring& path, uint32_t& error) {
  win::UniqueFile file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    error = GetLastError();
    return nullptr;
  }
  error = 0;
  return std::make_unique<Win32Writer>(std::move(file));
}

}  // namespace oq
