#pragma once
// The Win32 side of the machine seam (everything but the dialogs, which the
// windows of ui/ implement). Each class is defined in its own file here.

#include "seam/machine.h"
#include "services/win32/handles.h"

namespace oq {

class UserProxySettings;

class Win32Registry final : public Registry {
 public:
  std::unique_ptr<RegistryKey> OpenKey(RegRoot root, const std::wstring& path, RegAccess access,
                                       bool create, RegView view = RegView::Default) override;
};

class Win32FileSystem final : public FileSystem {
 public:
  bool FileExists(const std::wstring& path) override;
  bool DirectoryExists(const std::wstring& path) override;
  uint32_t MakeDirectory(const std::wstring& path) override;
  bool RemoveFile(const std::wstring& path) override;
  bool RenameFile(const std::wstring& from, const std::wstring& to) override;
  bool ReplaceFileWith(const std::wstring& from, const std::wstring& to) override;
  bool CopyFileTo(const std::wstring& from, const std::wstring& to, bool failIfExists) override;
  bool RemoveEmptyDirectory(const std::wstring& path) override;
  std::vector<DirEntry> ListDirectory(const std::wstring& pattern) override;
  void DeleteFolderTree(const std::wstring& path) override;
  std::unique_ptr<FileReader> OpenRead(const std::wstring& path, uint32_t& error) override;
  std::unique_ptr<FileWriter> CreateWrite(const std::wstring& path, uint32_t& error) override;
  std::optional<uint64_t> FreeSpace(const std::wstring& folder) override;
};

class Win32ProcessTable final : public ProcessTable {
 public:
  std::optional<std::vector<ProcessRecord>> SnapshotProcesses(bool all) override;
  std::optional<std::wstring> ProcessImageFile(uint32_t pid) override;
  bool TerminateProcessById(uint32_t pid, uint32_t exitCode) override;
};

class Win32Shell final : public Shell {
 public:
  bool RunElevated(const std::wstring& file, const std::wstring& parameters) override;
  RunOutcome RunElevatedAndWait(const std::wstring& file, const std::wstring& parameters,
                                uint32_t timeoutMs) override;
  std::optional<uint32_t> RunAndWaitForExit(const std::wstring& program, const std::wstring& arguments) override;
  std::vector<int32_t> RunAllAndWait(const std::vector<std::wstring>& commandLines) override;
  std::optional<std::wstring> FileVersionText(const std::wstring& path) override;
  std::optional<std::wstring> AppDataFolder() override;
  std::optional<std::wstring> DesktopFolder() override;
  void CreateDesktopShortcut(const std::wstring& target) override;
  std::optional<uint32_t> BinaryType(const std::wstring& path) override;
  std::unique_ptr<ExcelAutomation> CreateExcelApplication() override;
};

class Win32Environment final : public Environment {
 public:
  std::wstring ExecutablePath() override;
  std::vector<std::wstring> Arguments() override;
  std::optional<std::wstring> CurrentUserSid() override;
  bool IsUserAdmin() override;
  std::wstring OsDescription() override;
  LocalTime Now() override;
  LocalTime UtcNow() override;
  std::wstring TimeSeparator() override;
  void SleepMs(uint32_t milliseconds) override;
  std::wstring SystemErrorText(uint32_t code) override;
  std::wstring SystemProgramFolder(bool bits64) override;
  std::optional<std::wstring> DecodeOemText(const std::vector<uint8_t>& bytes) override;
  // The single-instance mutex: false when another instance holds it.
  bool TakeInstanceGuard();
  void ReleaseInstanceGuard() override;
  bool RetakeInstanceGuard() override;

 private:
  win::UniqueHandle guard_;
};

// WinHTTP with the installer's fixed settings: user agent "Kelvo Agent",
// connect time-out 100000 ms, response time-out 300000 ms, TLS 1.0 to 1.2,
// the platform's certificate validation, redirects followed to https
// addresses only. Every request goes the way the user's Internet Options
// say: a fixed proxy, a proxy auto-configuration script or automatic
// detection, or direct. Each runs on a thread of its own while the calling
// thread handles the window's messages.
class WinHttpTransport final : public HttpTransport {
 public:
  WinHttpTransport();
  ~WinHttpTransport() override;
  WinHttpTransport(const WinHttpTransport&) = delete;
  WinHttpTransport& operator=(const WinHttpTransport&) = delete;
  HttpResponse Get(const std::wstring& url, const std::vector<HttpHeader>& headers) override;
  void Prefetch(const std::wstring& url, const std::vector<HttpHeader>& headers) override;
  void ForgetPrefetched() override;
  void Stream(const std::wstring& url, const std::vector<HttpHeader>& headers, HttpSink& sink) override;
  void Cancel() override;

 private:
  struct Shared;
  struct Job;
  struct Open;
  static unsigned long __stdcall RunJob(void* job);
  static void Send(Job& job, Open& open);
  static void Fetch(Job& job);
  static void Produce(Job& job);
  std::shared_ptr<Job> Start(const std::wstring& url, const std::vector<HttpHeader>& headers, bool stream);
  // Until `object` is signalled, handling messages; raises Cancelled, the
  // job abandoned, when a handler cancelled meanwhile.
  void Wait(Job& job, void* object);

  std::shared_ptr<Shared> shared_;
  std::vector<std::shared_ptr<Job>> prefetched_;
  bool cancelled_ = false;
};

// SHA-256 and ECDSA P-256 through CNG (bcrypt.dll), with the calls Windows 7
// has: BCryptCreateHash/HashData/FinishHash, never the later BCryptHash.
class CngCrypto final : public Crypto {
 public:
  std::unique_ptr<Sha256Hash> NewSha256() override;
  bool VerifyP256(const P256PublicKey& key, const Sha256Digest& digest, const P256Signature& signature) override;
};

}  // namespace oq
