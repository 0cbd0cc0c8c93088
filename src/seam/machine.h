#pragma once
// The setup logic's only way to the machine it runs on.
//
// The services code implements these interfaces over Win32; the native unit
// tests implement them over an in-memory machine. The logic above them never
// includes <windows.h>, so everything here is plain C++: UTF-16 texts are
// std::wstring, Win32 codes are plain integers.
//
// How a failure comes back, by kind:
// - what may simply not be there (a value, a file's version, a folder the
//   shell cannot name, a process's image): std::optional, or a null pointer
//   for an object the caller would own;
// - a failure the caller names to the user: the system error code (0 for
//   success), returned, or given back beside a null object;
// - a failure that must reach the error box: AppError, raised;
// - an outcome the caller only branches on: bool.
//
// Method names avoid the names that <windows.h> turns into macros
// (DeleteFile, CopyFile, MessageBox, ...), so the interfaces read the same in
// every translation unit.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace oq {

// ---------------------------------------------------------------- registry

enum class RegRoot { Users, LocalMachine, CurrentUser };

// Read opens with KEY_READ (0x20019), Write with KEY_WRITE (0x20006).
enum class RegAccess { Read, Write };

// Which registry view a key is opened in. Default adds no flag: a 32-bit
// program on 64-bit Windows then sees the 32-bit view of HKLM\SOFTWARE.
// Native64 adds KEY_WOW64_64KEY, the view 64-bit programs write (ignored
// by 32-bit Windows, which has only the one).
enum class RegView { Default, Native64 };

enum RegType : uint32_t { kRegSz = 1, kRegExpandSz = 2, kRegDword = 4 };

struct RegValue {
  uint32_t type = 0;
  std::vector<uint8_t> data;  // exactly as stored
};

// An open key. Closed when destroyed.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // Type and data of a value; nullopt when the value is missing or the query
  // fails.
  virtual std::optional<RegValue> QueryValue(const std::wstring& name) = 0;
  // False when the platform refuses the write.
  virtual bool SetValue(const std::wstring& name, const RegValue& value) = 0;
  // Deletes a direct subkey and its values. Not recursive: a subkey that has
  // subkeys of its own is not removed. False when nothing was removed.
  virtual bool DeleteSubKey(const std::wstring& name) = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;
  // Opens root\path. `path` is relative to the root (no leading backslash); a
  // trailing backslash is ignored. With `create`, the key and every missing
  // key above it are created. nullptr when the key cannot be opened.
  virtual std::unique_ptr<RegistryKey> OpenKey(RegRoot root, const std::wstring& path,
                                               RegAccess access, bool create,
                                               RegView view = RegView::Default) = 0;
};

// ---------------------------------------------------------------- files
// Paths are Windows paths; names compare without regard to letter case.

struct DirEntry {
  std::wstring name;
  bool directory = false;
};

class FileReader {
 public:
  virtual ~FileReader() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly `count` bytes at `offset`; false when that is not possible.
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t count) = 0;
};

class FileWriter {
 public:
  virtual ~FileWriter() = default;  // closes; data not yet finished may be lost
  virtual bool Write(const void* data, size_t count) = 0;
  // Flushes and closes. False when the data could not be written in full.
  virtual bool Finish() = 0;
  // The system error code of the Write or Finish that failed, 0 before any.
  virtual uint32_t Error() const = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual bool FileExists(const std::wstring& path) = 0;       // a file, not a folder
  virtual bool DirectoryExists(const std::wstring& path) = 0;  // a folder
  // One folder level. 0 on success, else the system error code.
  virtual uint32_t MakeDirectory(const std::wstring& path) = 0;
  virtual bool RemoveFile(const std::wstring& path) = 0;
  // Renames; fails when `to` exists.
  virtual bool RenameFile(const std::wstring& from, const std::wstring& to) = 0;
  // Renames over an existing `to` in one step; `to` is untouched on failure.
  virtual bool ReplaceFileWith(const std::wstring& from, const std::wstring& to) = 0;
  virtual bool CopyFileTo(const std::wstring& from, const std::wstring& to,
                          bool failIfExists) = 0;
  // Removes a folder only when it is empty.
  virtual bool RemoveEmptyDirectory(const std::wstring& path) = 0;
  // Entries matching a FindFirstFileW pattern, "." and ".." included, every
  // attribute included; empty when nothing matches.
  virtual std::vector<DirEntry> ListDirectory(const std::wstring& pattern) = 0;
  // The shell's silent recursive delete (SHFileOperationW FO_DELETE, flags
  // 0x0414). Its outcome is not reported.
  virtual void DeleteFolderTree(const std::wstring& path) = 0;
  // nullptr with `error` set to the system error code when the file cannot be
  // opened or created.
  virtual std::unique_ptr<FileReader> OpenRead(const std::wstring& path, uint32_t& error) = 0;
  virtual std::unique_ptr<FileWriter> CreateWrite(const std::wstring& path, uint32_t& error) = 0;
  // The bytes the current user may still write on the volume of `folder`
  // (an existing folder); nullopt when the system cannot tell.
  virtual std::optional<uint64_t> FreeSpace(const std::wstring& folder) = 0;
};

// ---------------------------------------------------------------- processes

struct ProcessRecord {
  uint32_t pid = 0;
  std::wstring exeFile;  // szExeFile of the snapshot entry
};

class ProcessTable {
 public:
  virtual ~ProcessTable() = default;
  // A fresh snapshot in the platform's order. `all` asks for TH32CS_SNAPALL
  // instead of TH32CS_SNAPPROCESS. nullopt when no snapshot could be taken.
  virtual std::optional<std::vector<ProcessRecord>> SnapshotProcesses(bool all) = 0;
  // Full path of the process's image file; nullopt when the process cannot
  // be opened or neither path query answers.
  virtual std::optional<std::wstring> ProcessImageFile(uint32_t pid) = 0;
  // Opens the process with the terminate right only and ends it. False when
  // it could not be opened or ended.
  virtual bool TerminateProcessById(uint32_t pid, uint32_t exitCode) = 0;
};

// ---------------------------------------------------------------- shell

// Excel's automation server, late-bound. Released when destroyed. Calls that
// fail raise AppError.
class ExcelAutomation {
 public:
  virtual ~ExcelAutomation() = default;
  virtual std::wstring ApplicationVersion() = 0;  // Application.Version as text
  virtual void CloseWorkbooks() = 0;
  virtual void Quit() = 0;
};

// How a program that was waited for ended.
struct RunOutcome {
  enum class Kind {
    Exited,      // `code` is its exit code
    Refused,     // the user declined the elevation prompt
    NotStarted,  // `code` is the system error code
    TimedOut,    // still running at the time-out; ended where this process may
  };
  Kind kind = Kind::Exited;
  uint32_t code = 0;
  bool Succeeded() const { return kind == Kind::Exited && code == 0; }
};

class Shell {
 public:
  virtual ~Shell() = default;
  // ShellExecuteExW with the "runas" verb, shown normally; no parameters at
  // all when `parameters` is empty. Does not wait. True when accepted.
  virtual bool RunElevated(const std::wstring& file, const std::wstring& parameters) = 0;
  // Starts as RunElevated does and waits at most `timeoutMs` for the program
  // to end, handling the window's messages meanwhile so that it keeps
  // painting and answering.
  virtual RunOutcome RunElevatedAndWait(const std::wstring& file, const std::wstring& parameters,
                                        uint32_t timeoutMs) = 0;
  // Starts the program (not elevated) with `arguments` and waits for it to
  // end however long that takes, handling the window's messages meanwhile;
  // its exit code, or nullopt when it cannot be started.
  virtual std::optional<uint32_t> RunAndWaitForExit(const std::wstring& program, const std::wstring& arguments) = 0;
  // Starts the command lines side by side and waits at most 10 s for them
  // all, handling the window's messages meanwhile. Each one's exit code, in
  // their order, or -1 for one that cannot be started, is still running at
  // the end (it is left to run) or has no code.
  virtual std::vector<int32_t> RunAllAndWait(const std::vector<std::wstring>& commandLines) = 0;
  int32_t RunAndWait(const std::wstring& commandLine) { return RunAllAndWait({commandLine}).front(); }
  // Four dotted numbers of the fixed file version; nullopt when the file is
  // missing or carries none.
  virtual std::optional<std::wstring> FileVersionText(const std::wstring& path) = 0;
  // CSIDL_APPDATA of the current user, no trailing backslash; nullopt when
  // the shell cannot name it.
  virtual std::optional<std::wstring> AppDataFolder() = 0;
  // CSIDL_DESKTOP of the current user, no trailing backslash; nullopt when
  // the shell cannot name it.
  virtual std::optional<std::wstring> DesktopFolder() = 0;
  // The ORBITQuarry.lnk shortcut on the desktop, none at all without a
  // desktop folder; every failure is silent.
  virtual void CreateDesktopShortcut(const std::wstring& target) = 0;
  // GetBinaryTypeW: the SCS_* type, or nullopt when the call fails.
  virtual std::optional<uint32_t> BinaryType(const std::wstring& path) = 0;
  // Creates "Excel.Application". nullptr when COM reports a system error
  // (class not registered, server cannot start); other failures raise AppError.
  virtual std::unique_ptr<ExcelAutomation> CreateExcelApplication() = 0;
};

// ---------------------------------------------------------------- environment

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

class Environment {
 public:
  virtual ~Environment() = default;
  virtual std::wstring ExecutablePath() = 0;
  // The command-line arguments after the program name.
  virtual std::vector<std::wstring> Arguments() = 0;
  // S-1-5-21-... of the current thread's (or else the process's) token;
  // nullopt when it cannot be had.
  virtual std::optional<std::wstring> CurrentUserSid() = 0;
  virtual bool IsUserAdmin() = 0;
  // "Windows 10 (Version 10.0, Build 19045, 64-bit Edition)" and the like.
  virtual std::wstring OsDescription() = 0;
  virtual LocalTime Now() = 0;
  virtual LocalTime UtcNow() = 0;
  virtual std::wstring TimeSeparator() = 0;  // the user locale's
  virtual void SleepMs(uint32_t milliseconds) = 0;
  // The platform's text for a system error code, without a trailing line break.
  virtual std::wstring SystemErrorText(uint32_t code) = 0;
  // The single-instance guard this process took at its start: let go so
  // that the installer's new copy can start in its place, and taken back
  // when that copy could not start (false when another instance has it).
  virtual void ReleaseInstanceGuard() = 0;
  virtual bool RetakeInstanceGuard() = 0;
  // The folder through which this process starts the system's own programs
  // built for 64-bit (`bits64`) or 32-bit Windows, without a trailing
  // backslash: System32 for its own kind, Sysnative for 64-bit ones from a
  // 32-bit process on 64-bit Windows, SysWOW64 for 32-bit ones from a 64-bit
  // process; System32 for both on 32-bit Windows.
  virtual std::wstring SystemProgramFolder(bool bits64) = 0;
  // Bytes in the machine's OEM code page (437 on a Western machine, 949 on
  // a Korean one) as text; nullopt when they are not valid in it.
  virtual std::optional<std::wstring> DecodeOemText(const std::vector<uint8_t>& bytes) = 0;
};

// ---------------------------------------------------------------- HTTP

struct HttpHeader {
  std::wstring name;
  std::wstring value;
  bool operator==(const HttpHeader&) const = default;
};

// The most of a body Get keeps: the version file and the release manifest
// are small texts, and no answer is held in memory beyond this.
inline constexpr size_t kMaxTextBody = 64 * 1024;

struct HttpResponse {
  uint32_t status = 0;
  std::wstring contentType;  // the Content-Type header, empty when absent
  std::vector<uint8_t> body;
  bool tooLong = false;      // the body went past kMaxTextBody; `body` is then empty
};

// What a response said before its body.
struct HttpResponseHead {
  uint32_t status = 0;
  std::optional<uint64_t> contentLength;  // Content-Length, when declared
  std::wstring contentRange;              // the headers as sent, empty when absent
  std::wstring etag;
  std::wstring lastModified;
};

// Takes a body piece by piece as it arrives.
class HttpSink {
 public:
  virtual ~HttpSink() = default;
  // False ends the transfer before any of the body is read.
  virtual bool Begin(const HttpResponseHead& head) = 0;
  // The next piece. False ends the transfer at once.
  virtual bool Write(const uint8_t* data, size_t count) = 0;
};

// Requests go out on threads of their own: the calling thread waits for
// them while it goes on handling the window's messages, so the window stays
// answering however slow the server. The sink is called on the calling
// thread, between those messages.
class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  // One GET, whatever the status, the body in memory up to kMaxTextBody (a
  // longer one ends the transfer and sets `tooLong`). Raises AppError on
  // transport failure (connection, name, TLS, time-out, a redirect to an
  // address that is not https), Cancelled after Cancel.
  virtual HttpResponse Get(const std::wstring& url, const std::vector<HttpHeader>& headers) = 0;
  // Sends that GET now and keeps its outcome, response or error, for the
  // next Get of the same url with the same headers, which then waits for it
  // instead of asking again. Several may be under way at once; other
  // requests go their own way meanwhile.
  virtual void Prefetch(const std::wstring& url, const std::vector<HttpHeader>& headers) = 0;
  // Drops the prefetched answers nobody asked for: a later Get of those
  // urls asks the server again instead of taking an answer gone stale.
  virtual void ForgetPrefetched() = 0;
  // One GET whose body goes to `sink` as it arrives; none of it is kept
  // here. Raises as Get does; a connection that breaks during the body
  // raises AppError after the pieces that did arrive.
  virtual void Stream(const std::wstring& url, const std::vector<HttpHeader>& headers, HttpSink& sink) = 0;
  // Called from a handler that runs while a request waits (the window being
  // closed): the request under way, and every later one, ends with
  // Cancelled at once, the connection closed behind it.
  virtual void Cancel() = 0;
};

// ---------------------------------------------------------------- crypto

using Sha256Digest = std::array<uint8_t, 32>;
using P256PublicKey = std::array<uint8_t, 64>;  // X then Y, big-endian
using P256Signature = std::array<uint8_t, 64>;  // r then s, big-endian

class Sha256Hash {
 public:
  virtual ~Sha256Hash() = default;
  virtual void Update(const uint8_t* data, size_t count) = 0;
  // The digest of everything given; the object is spent afterwards.
  virtual Sha256Digest Finish() = 0;
};

// The platform's own SHA-256 and ECDSA P-256.
class Crypto {
 public:
  virtual ~Crypto() = default;
  // Raises AppError when the platform cannot hash.
  virtual std::unique_ptr<Sha256Hash> NewSha256() = 0;
  // True only when `signature` is good for `digest` under `key`; every
  // failure, an unusable key included, is false.
  virtual bool VerifyP256(const P256PublicKey& key, const Sha256Digest& digest, const P256Signature& signature) = 0;
};

// ---------------------------------------------------------------- dialogs

enum class BoxIcon { None, Information, Question, Stop };
enum class BoxButtons { Ok, YesNo };
enum class BoxAnswer { Ok, Yes, No, Cancel };
// How the administrator warning ended: its continue or cancel button, or
// its frame's close box.
enum class AdminWarningAnswer { Continue, Cancel, Closed };

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A modal message box, centred on the screen.
  virtual BoxAnswer ShowBox(const std::wstring& text, const std::wstring& caption, BoxIcon icon,
                            BoxButtons buttons) = 0;
  // Handles the window messages that are waiting, once.
  virtual void ProcessMessages() = 0;
  virtual void SetBusyCursor(bool busy) = 0;
  // The administrator warning, modal.
  virtual AdminWarningAnswer ShowAdminWarning(bool lumentrove) = 0;
  // The folder picker; nullopt when the user cancels.
  virtual std::optional<std::wstring> PickFolder(const std::wstring& startFolder) = 0;
};

// ---------------------------------------------------------------- all of it

struct Machine {
  Registry& registry;
  FileSystem& files;
  ProcessTable& processes;
  Shell& shell;
  Environment& env;
  HttpTransport& http;
  Dialogs& dialogs;
  Crypto& crypto;
};

}  // namespace oq
