#include "posix_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace oq::bench {

namespace {

// errno as the Win32 code the seam promises.
uint32_t Win32Code(int error) {
  switch (error) {
    case ENOENT: return 3;    // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM: return 5;     // ERROR_ACCESS_DENIED
    case EEXIST: return 183;  // ERROR_ALREADY_EXISTS
    case ENOSPC: return 112;  // ERROR_DISK_FULL
    default: return 31;       // ERROR_GEN_FAILURE
  }
}

class PosixReader final : public FileReader {
 public:
  PosixReader(int fd, uint64_t size) : fd_(fd), size_(size) {}
  ~PosixReader() override { close(fd_); }
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t count) override {
    auto* out = static_cast<char*>(buffer);
    while (count > 0) {
      const ssize_t got = pread(fd_, out, count, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      out += got;
      offset += static_cast<uint64_t>(got);
      count -= static_cast<size_t>(got);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t size_;
};

class PosixWriter final : public FileWriter {
 public:
  explicit PosixWriter(int fd) : fd_(fd) {}
  ~PosixWriter() override {
    if (fd_ >= 0) close(fd_);
  }
  bool Write(const void* data, size_t count) override {
    const auto* in = static_cast<const char*>(data);
    while (count > 0) {
      const ssize_t put = write(fd_, in, count);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        error_ = put < 0 ? static_cast<uint32_t>(errno) : 28;
        return false;
      }
      in += put;
      count -= static_cast<size_t>(put);
    }
    return true;
  }
  // No fsync: the comparison is with unzip and a bare loop, which do not
  // sync either; the disk is not what is measured.
  bool Finish() override {
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }
  // An errno value: only whether there is one matters here.
  uint32_t Error() const override { return error_; }

 private:
  int fd_;
  uint32_t error_ = 0;
};

bool Stat(const std::wstring& path, struct stat& st) { return stat(PosixPath(path).c_str(), &st) == 0; }

}  // namespace

std::string PosixPath(const std::wstring& path) {
  std::string out;
  for (size_t i = 0; i < path.size(); ++i) {
    uint32_t cp = static_cast<uint32_t>(path[i]) & 0xFFFF;
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < path.size()) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + ((static_cast<uint32_t>(path[++i]) & 0xFFFF) - 0xDC00);
    }
    if (cp == '\\') cp = '/';
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | cp >> 6));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | cp >> 12));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | cp >> 18));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::wstring SeamPath(const std::string& path) {
  std::wstring out;
  for (char c : path) out.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return out;  // the benchmark's own folders are ASCII
}

bool PosixFileSystem::FileExists(const std::wstring& path) {
  struct stat st;
  return Stat(path, st) && S_ISREG(st.st_mode);
}

bool PosixFileSystem::DirectoryExists(const std::wstring& path) {
  struct stat st;
  return Stat(path, st) && S_ISDIR(st.st_mode);
}

uint32_t PosixFileSystem::MakeDirectory(const std::wstring& path) {
  return mkdir(PosixPath(path).c_str(), 0777) == 0 ? 0 : Win32Code(errno);
}

bool PosixFileSystem::RemoveFile(const std::wstring& path) { return unlink(PosixPath(path).c_str()) == 0; }

bool PosixFileSystem::RenameFile(const std::wstring& from, const std::wstring& to) {
  struct stat st;
  return !Stat(to, st) && ReplaceFileWith(from, to);
}

bool PosixFileSystem::ReplaceFileWith(const std::wstring& from, const std::wstring& to) {
  return std::rename(PosixPath(from).c_str(), PosixPath(to).c_str()) == 0;
}

bool PosixFileSystem::RemoveEmptyDirectory(const std::wstring& path) {
  return rmdir(PosixPath(path).c_str()) == 0;
}

std::unique_ptr<FileReader> PosixFileSystem::OpenRead(const std::wstring& path, uint32_t& error) {
  const int fd = open(PosixPath(path).c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    error = Win32Code(errno);
    if (fd >= 0) close(fd);
    return nullptr;
  }
  error = 0;
  return std::make_unique<PosixReader>(fd, static_cast<uint64_t>(st.st_size));
}

std::unique_ptr<FileWriter> PosixFileSystem::CreateWrite(const std::wstring& path, uint32_t& error) {
  const int fd = open(PosixPath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = Win32Code(errno);
    return nullptr;
  }
  error = 0;
  return std::make_unique<PosixWriter>(fd);
}

}  // namespace oq::bench
