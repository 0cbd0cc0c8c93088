#pragma once
// An in-memory machine behind the seam, for the native tests: a registry
// tree, a case-insensitive file system, a process table, a shell that records
// what it was asked to start, a release server and scripted dialog answers.
// It follows what Windows (and Wine, which the Wine tests check) do where the
// logic can tell the difference.

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "seam/app_error.h"
#include "seam/machine.h"
#include "seam/main_view.h"

namespace oq::test {

// ------------------------------------------------------------ registry

struct FakeKey {
  std::wstring name;  // as created
  std::map<std::wstring, std::unique_ptr<FakeKey>> children;  // by lower-case name
  std::map<std::wstring, std::pair<std::wstring, RegValue>> values;  // lower-case -> (name, value)
  bool denyWrites = false;  // SetValue fails, as for a key the user may not write
};

class FakeRegistry final : public Registry {
 public:
  // HKEY_CURRENT_USER is HKEY_USERS\<userSid>, as on Windows.
  std::wstring userSid = L"S-1-5-21-7-8-9-1001";

  // The program is taken to be a 32-bit one on 64-bit Windows: HKLM has a
  // default (32-bit) view and a separate 64-bit one; the test helpers take
  // the view as their last argument. Other roots have one view.
  std::unique_ptr<RegistryKey> OpenKey(RegRoot root, const std::wstring& path, RegAccess access,
                                       bool create, RegView view = RegView::Default) override;

  // Test helpers; paths like the seam's, relative to the root.
  FakeKey* Find(RegRoot root, const std::wstring& path, RegView view = RegView::Default);
  bool KeyExists(RegRoot root, const std::wstring& path, RegView view = RegView::Default) {
    return Find(root, path, view) != nullptr;
  }
  void SetString(RegRoot root, const std::wstring& path, const std::wstring& name,
                 const std::wstring& text, uint32_t type = kRegSz, RegView view = RegView::Default);
  void SetDword(RegRoot root, const std::wstring& path, const std::wstring& name, uint32_t value);
  void CreateKey(RegRoot root, const std::wstring& path, RegView view = RegView::Default);
  // nullopt when the value is missing; the text up to its first NUL.
  std::optional<std::wstring> GetString(RegRoot root, const std::wstring& path, const std::wstring& name);
  std::optional<uint32_t> GetDword(RegRoot root, const std::wstring& path, const std::wstring& name);
  std::optional<uint32_t> TypeOf(RegRoot root, const std::wstring& path, const std::wstring& name);
  // "path|name" of every successful SetValue, in order.
  std::vector<std::wstring> writeLog;

 private:
  FakeKey* Walk(RegRoot root, const std::wstring& path, bool create, std::wstring* fullPath,
               RegView view = RegView::Default);
  FakeKey users_, localMachine_, localMachine64_;
  friend class FakeRegistryKey;
};

// ------------------------------------------------------------ files

struct FakeFile {
  std::wstring path;  // as created
  bool directory = false;
  std::vector<uint8_t> data;
  bool inUse = false;  // cannot be deleted or moved over, as a loaded DLL; may be renamed
};

class FakeFileSystem final : public FileSystem {
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
  // `freeSpace` for every folder there is; writes past it fail as on a full disk.
  std::optional<uint64_t> FreeSpace(const std::wstring& folder) override;

  // Test helpers. Missing parent folders are created.
  void AddDirectory(const std::wstring& path);
  void AddFile(const std::wstring& path, const std::string& content = {});
  std::optional<std::string> Content(const std::wstring& path);
  FakeFile* Find(const std::wstring& path);
  std::vector<std::wstring> deletedTrees;
  // Files (by Key) that disappear as soon as they are written and closed, as
  // when a virus scanner takes a download away.
  std::set<std::wstring> vanishOnFinish;
  // The room left on every drive; unlimited, and unknown to FreeSpace, when empty.
  std::optional<uint64_t> freeSpace;

  // Folder keys: lower-case, single backslashes, no trailing backslash.
  static std::wstring Key(const std::wstring& path);

 private:
  bool ParentExists(const std::wstring& key);
  std::map<std::wstring, FakeFile> nodes_;
  friend class FakeWriter;
};

// ------------------------------------------------------------ processes

class FakeProcessTable final : public ProcessTable {
 public:
  struct Process {
    uint32_t pid;
    std::wstring exeFile;
    std::wstring imagePath;
    bool protectedFromTermination = false;
  };
  std::vector<Process> processes;
  bool snapshotFails = false;
  std::vector<uint32_t> terminated;

  uint32_t Start(const std::wstring& exeFile, const std::wstring& imagePath = {});
  bool Running(const std::wstring& exeFile) const;

  std::optional<std::vector<ProcessRecord>> SnapshotProcesses(bool all) override;
  std::optional<std::wstring> ProcessImageFile(uint32_t pid) override;
  bool TerminateProcessById(uint32_t pid, uint32_t exitCode) override;

 private:
  uint32_t nextPid_ = 100;
};

// ------------------------------------------------------------ shell

class FakeShell final : public Shell {
 public:
  struct Elevated {
    std::wstring file, parameters;
    bool waited = false;  // by RunElevatedAndWait, with this time-out
    uint32_t timeoutMs = 0;
  };
  std::vector<Elevated> elevated;
  // What the programs RunElevatedAndWait starts end with, in order; each
  // may also change the machine (a registration's marks). With none left
  // they exit with 0.
  std::deque<std::function<RunOutcome(const Elevated&)>> waitedOutcomes;
  void EndWith(RunOutcome outcome) {
    waitedOutcomes.push_back([outcome](const Elevated&) { return outcome; });
  }
  // RunAllAndWait: each batch of command lines started side by side.
  std::vector<std::vector<std::wstring>> awaited;
  int32_t awaitedExitCode = 0;
  // RunAndWaitForExit: each program started and waited for, and how it ended
  // (nullopt: it could not start). The program's file is read as it starts.
  struct Ran {
    std::wstring program, arguments;
  };
  std::vector<Ran> ranToExit;
  std::function<std::optional<uint32_t>(const Ran&)> runToExit = [](const Ran&) { return std::optional<uint32_t>(0); };
  std::optional<uint32_t> RunAndWaitForExit(const std::wstring& program, const std::wstring& arguments) override {
    ranToExit.push_back({program, arguments});
    return runToExit(ranToExit.back());
  }
  std::map<std::wstring, std::wstring> versions;  // lower-case path -> version text
  std::optional<std::wstring> appData = L"C:\\Users\\me\\AppData\\Roaming";
  std::optional<std::wstring> desktop = L"C:\\Users\\me\\Desktop";
  std::vector<std::wstring> shortcuts;
  std::map<std::wstring, uint32_t> binaryTypes;  // lower-case path -> SCS_*
  std::function<std::unique_ptr<ExcelAutomation>()> excelFactory;

  bool RunElevated(const std::wstring& file, const std::wstring& parameters) override;
  RunOutcome RunElevatedAndWait(const std::wstring& file, const std::wstring& parameters,
                                uint32_t timeoutMs) override;
  std::vector<int32_t> RunAllAndWait(const std::vector<std::wstring>& commandLines) override;
  std::optional<std::wstring> FileVersionText(const std::wstring& path) override;
  std::optional<std::wstring> AppDataFolder() override { return appData; }
  std::optional<std::wstring> DesktopFolder() override { return desktop; }
  void CreateDesktopShortcut(const std::wstring& target) override { shortcuts.push_back(target); }
  std::optional<uint32_t> BinaryType(const std::wstring& path) override;
  std::unique_ptr<ExcelAutomation> CreateExcelApplication() override;
};

// ------------------------------------------------------------ environment

// Bytes in a Windows code page as text, by the C library's own tables;
// nullopt when they are not valid in it.
std::optional<std::wstring> DecodeCodePage(int codePage, const std::vector<uint8_t>& bytes);

class FakeEnvironment final : public Environment {
 public:
  std::wstring executablePath = L"C:\\Users\\me\\Downloads\\ORBITQuarrySetup.exe";
  std::vector<std::wstring> arguments;
  std::optional<std::wstring> sid = L"S-1-5-21-7-8-9-1001";
  bool admin = true;
  std::wstring os = L"Windows 10 (Version 10.0, Build 19045, 64-bit Edition)";
  LocalTime now{2026, 12, 9, 14, 5, 9};
  std::wstring timeSeparator = L":";
  uint64_t sleptMs = 0;

  std::wstring ExecutablePath() override { return executablePath; }
  std::vector<std::wstring> Arguments() override { return arguments; }
  std::optional<std::wstring> CurrentUserSid() override { return sid; }
  bool IsUserAdmin() override { return admin; }
  std::wstring OsDescription() override { return os; }
  LocalTime utcNow{2026, 12, 9, 5, 5, 9};
  LocalTime Now() override { return now; }
  LocalTime UtcNow() override { return utcNow; }
  std::wstring TimeSeparator() override { return timeSeparator; }
  void SleepMs(uint32_t ms) override { sleptMs += ms; }
  std::wstring SystemErrorText(uint32_t code) override;
  // As the shipped 32-bit program sees them on 64-bit Windows.
  std::wstring SystemProgramFolder(bool bits64) override {
    return bits64 ? L"C:\\Windows\\Sysnative" : L"C:\\Windows\\System32";
  }
  // The single-instance guard: held from the start, and how often it was let go.
  bool guardHeld = true;
  int guardReleases = 0;
  void ReleaseInstanceGuard() override {
    guardHeld = false;
    ++guardReleases;
  }
  bool RetakeInstanceGuard() override { return guardHeld = true; }
  // 437 as on a Western machine; 949 as on a Korean one.
  int oemCodePage = 437;
  std::optional<std::wstring> DecodeOemText(const std::vector<uint8_t>& bytes) override {
    return DecodeCodePage(oemCodePage, bytes);
  }
};

// ------------------------------------------------------------ release server

class FakeReleaseServer final : public HttpTransport {
 public:
  struct Request {
    std::wstring url;
    std::vector<HttpHeader> headers;
  };
  std::map<std::wstring, HttpResponse> files;  // by URL
  bool unreachable = false;
  std::vector<Request> requests;
  // Streamed bodies come in pieces of this size, with a Content-Length
  // header (the body's length, or `claimedLength`) unless told otherwise;
  // `sent` counts the bytes that went out.
  size_t chunkSize = 4096;
  bool sendContentLength = true;
  std::optional<uint64_t> claimedLength;
  uint64_t sent = 0;
  // An ETag on every 200; "Range: bytes=N-" answered with 206 and the rest
  // while "If-Range" names it.
  bool sendValidators = true;
  bool honourRanges = true;
  // The next `cutResponses` bodies break off after this many bytes.
  std::optional<uint64_t> cutEachResponseAfter;
  int cutResponses = 1 << 30;
  // A 206 that says it starts this far from where it was asked to.
  uint64_t rangeSkew = 0;
  // Run as each request arrives, before it is answered.
  std::function<void(const Request&)> beforeAnswer;
  // Run after each piece, as the window's messages are between pieces.
  std::function<void()> betweenPieces;
  void Cancel() override { cancelled_ = true; }
  void ForgetPrefetched() override { prefetched_.clear(); }

  void Publish(const std::wstring& url, const std::string& body,
               const std::wstring& contentType = L"text/plain; charset=utf-8");
  HttpResponse Get(const std::wstring& url, const std::vector<HttpHeader>& headers) override;
  // Asked at once, as the real one is; the matching Get takes the outcome.
  void Prefetch(const std::wstring& url, const std::vector<HttpHeader>& headers) override;
  void Stream(const std::wstring& url, const std::vector<HttpHeader>& headers, HttpSink& sink) override;

 private:
  HttpResponse Answer(const std::wstring& url, const std::vector<HttpHeader>& headers);
  struct Prefetched {
    Request request;
    std::optional<HttpResponse> response;
    std::optional<AppError> error;
  };
  std::vector<Prefetched> prefetched_;
  bool cancelled_ = false;
};

// ------------------------------------------------------------ dialogs

class FakeDialogs final : public Dialogs {
 public:
  struct Box {
    std::wstring text, caption;
    BoxIcon icon;
    BoxButtons buttons;
  };
  std::vector<Box> shown;
  // Answers in order; each may also change the machine (the user closing
  // Excel while the box is up). With none left, Ok boxes answer Ok and
  // Yes/No boxes No.
  std::deque<std::function<BoxAnswer(const Box&)>> answers;
  int processMessagesCalls = 0;
  AdminWarningAnswer adminWarningResult = AdminWarningAnswer::Continue;
  int adminWarningsShown = 0;
  bool adminWarningForLumentrove = false;
  std::deque<std::optional<std::wstring>> pickedFolders;
  std::vector<std::wstring> pickerStartFolders;
  std::vector<bool> cursorChanges;

  void Answer(BoxAnswer a) {
    answers.push_back([a](const Box&) { return a; });
  }
  BoxAnswer ShowBox(const std::wstring& text, const std::wstring& caption, BoxIcon icon,
                    BoxButtons buttons) override;
  std::function<void()> onProcessMessages;  // what the window does meanwhile
  void ProcessMessages() override {
    ++processMessagesCalls;
    if (onProcessMessages) onProcessMessages();
  }
  void SetBusyCursor(bool busy) override { cursorChanges.push_back(busy); }
  AdminWarningAnswer ShowAdminWarning(bool lumentrove) override {
    ++adminWarningsShown;
    adminWarningForLumentrove = lumentrove;
    return adminWarningResult;
  }
  std::optional<std::wstring> PickFolder(const std::wstring& start) override;
};

// ------------------------------------------------------------ crypto

// A stand-in for the platform's crypto. Its "SHA-256" is a keyless mix that
// any changed, added or missing byte changes; its signature of a digest
// under a key is StandInSignature, so a test signs by computing it.
class FakeCrypto final : public Crypto {
 public:
  int verifyCalls = 0;
  std::unique_ptr<Sha256Hash> NewSha256() override;
  bool VerifyP256(const P256PublicKey& key, const Sha256Digest& digest, const P256Signature& signature) override;
};

Sha256Digest StandInDigest(const std::string& data);
P256Signature StandInSignature(const P256PublicKey& key, const Sha256Digest& digest);
// The DER ECDSA-Sig-Value of r||s, as openssl writes it.
std::string DerSignature(const P256Signature& raw);
// 64 lower-case hex digits.
std::string HexText(const Sha256Digest& digest);

// ------------------------------------------------------------ the window

class FakeView final : public MainView {
 public:
  std::wstring caption = L"ORBITQuarry";
  int left = 0, top = 0;
  Extent outer{693, 343};
  Extent screen{1280, 1024};
  std::map<Label, std::wstring> labels{{Label::Title, L"ORBITQuarry Excel Add-in Library"},
                                       {Label::OS, L"OS Version : "},
                                       {Label::Ex, L"Excel Version : "},
                                       {Label::Path, L"Install Folder : "},
                                       {Label::XLL, L"Add-In Version : "},
                                       {Label::ExPath, L"Excel Path : "}};
  std::wstring path;
  std::wstring installCaption = L"Install";
  std::map<Button, bool> enabled{{Button::Install, true}, {Button::Uninstall, true}, {Button::Close, true}};
  bool progressVisible = false;
  int progressMax = 100;
  std::vector<int> progressPositions;
  // Each move within a step: the step and the share of it, in thousandths.
  std::vector<std::pair<int, int>> progressWithin;
  std::wstring pickerFolder;
  bool terminationRequested = false;
  bool closed = false;

  void SetCaption(const std::wstring& text) override { caption = text; }
  std::wstring Caption() const override { return caption; }
  void SetLeft(int v) override { left = v; }
  void SetTop(int v) override { top = v; }
  int Left() const override { return left; }
  int Top() const override { return top; }
  Extent OuterSize() const override { return outer; }
  Extent ScreenSize() const override { return screen; }
  void SetLabel(Label l, const std::wstring& text) override { labels[l] = text; }
  std::wstring LabelText(Label l) const override { return labels.at(l); }
  void SetPathText(const std::wstring& text) override { path = text; }
  std::wstring PathText() const override { return path; }
  void SetInstallCaption(const std::wstring& text) override { installCaption = text; }
  std::wstring InstallCaption() const override { return installCaption; }
  void SetButtonEnabled(Button b, bool e) override { enabled[b] = e; }
  bool ButtonEnabled(Button b) const override { return enabled.at(b); }
  void SetProgressVisible(bool v) override { progressVisible = v; }
  void SetProgressMax(int m) override { progressMax = m; }
  void SetProgressPosition(int p) override { progressPositions.push_back(p); }
  void SetProgressWithin(int p, uint64_t done, uint64_t total) override {
    progressWithin.emplace_back(p, static_cast<int>(done * 1000 / total));
  }
  void SetPickerFolder(const std::wstring& f) override { pickerFolder = f; }
  std::wstring PickerFolder() const override { return pickerFolder; }
  void RequestTermination() override { terminationRequested = true; }
  bool TerminationRequested() const override { return terminationRequested; }
  void CloseWindow() override { closed = true; }
};

// ------------------------------------------------------------ all of it

struct FakeMachine {
  FakeRegistry registry;
  FakeFileSystem files;
  FakeProcessTable processes;
  FakeShell shell;
  FakeEnvironment env;
  FakeReleaseServer http;
  FakeDialogs dialogs;
  FakeCrypto crypto;
  Machine machine{registry, files, processes, shell, env, http, dialogs, crypto};
};

}  // namespace oq::test
