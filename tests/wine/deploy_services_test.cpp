// The routines the installer uses to find Excel, to run helpers and to read
// file versions, against real processes, files and registry keys in the
// test's own Wine prefix. The stand-ins beside this program (oq_test_child.exe,
// oq_versioned*.dll) are copied under the names the installer looks for.

#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "driver.h"
#include "deploy/library_image.h"
#include "services/process_utils.h"
#include "services/win32/handles.h"
#include "services/win32/win32_machine.h"
#include "setup/main_form.h"

namespace oq {
namespace {

// ---------------------------------------------------------------- helpers

std::wstring AsciiLower(std::wstring s) {
  for (wchar_t& c : s) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return s;
}

// A file that sits beside this test program.
std::wstring BesideTests(const std::wstring& name) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.find_last_of(L'\\') + 1) + name;
}

std::wstring ChildImage() { return BesideTests(L"oq_test_child.exe"); }

std::wstring NewTempFolder(const wchar_t* prefix) {
  static unsigned serial = 0;
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  wchar_t name[80];
  swprintf(name, 80, L"%ls-%lu-%lu-%u", prefix, GetCurrentProcessId(), GetTickCount(), ++serial);
  const std::wstring folder = std::wstring(temp) + name;
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

// Creates every missing folder of `path` (a folder, no trailing backslash).
bool MakeFolders(const std::wstring& path) {
  for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
    CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
  }
  CreateDirectoryW(path.c_str(), nullptr);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// The number of handles this process holds, from the system's handle table:
// Wine's GetProcessHandleCount answers 0 whatever is open.
struct HandleEntry {
  void* object;
  ULONG_PTR processId;
  ULONG_PTR handleValue;
  ULONG grantedAccess;
  USHORT creatorBackTraceIndex;
  USHORT objectTypeIndex;
  ULONG handleAttributes;
  ULONG reserved;
};
struct HandleTable {
  ULONG_PTR count;
  ULONG_PTR reserved;
  HandleEntry entries[1];
};
constexpr ULONG kSystemExtendedHandleInformation = 64;

std::optional<size_t> OwnHandleCount() {
  using QueryFn = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  const auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return std::nullopt;
  std::vector<uint8_t> buffer(1 << 16);
  for (int attempt = 0; attempt < 12; ++attempt) {
    ULONG needed = 0;
    const LONG status = query(kSystemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == 0) {
      const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
      size_t own = 0;
      for (ULONG_PTR i = 0; i < table->count; ++i) own += table->entries[i].processId == GetCurrentProcessId();
      return own;
    }
    if (status != static_cast<LONG>(0xC0000004)) return std::nullopt;  // other than "buffer too small"
    buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
  }
  return std::nullopt;
}

// The tool-help walk done here by hand, so that the tests' own waiting and
// clean-up do not depend on the code under test.
std::map<DWORD, std::wstring> RawSnapshot() {
  std::map<DWORD, std::wstring> processes;
  win::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return processes;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
    processes[entry.th32ProcessID] = entry.szExeFile;
  }
  return processes;
}

// The snapshot name of a just-started process; Wine may list a process a
// moment before its image name is filled in.
std::wstring ListedName(DWORD pid) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto processes = RawSnapshot();
    const auto it = processes.find(pid);
    if (it != processes.end() && !it->second.empty()) return it->second;
    Sleep(50);
  }
  return L"<not listed>";
}

std::wstring ImageOf(DWORD pid) {
  win::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return {};
  wchar_t path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  return QueryFullProcessImageNameW(process.Get(), 0, path, &size) ? path : L"";
}

// Ends every process whose image lies under `folder`, including those the
// code under test started and did not hand back.
void EndProcessesStartedFrom(const std::wstring& folder) {
  const std::wstring prefix = AsciiLower(folder + L"\\");
  for (const auto& [pid, name] : RawSnapshot()) {
    if (AsciiLower(ImageOf(pid)).rfind(prefix, 0) != 0) continue;
    win::UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process) continue;
    TerminateProcess(process.Get(), 1);
    WaitForSingleObject(process.Get(), 5000);
  }
}

// ---------------------------------------------------------------- processes

// Copies of the stand-in in a folder of their own, started under the names
// the installer looks for, and always ended afterwards.
class ChildProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = NewTempFolder(L"oq-procs");
    ASSERT_NE(GetFileAttributesW(ChildImage().c_str()), INVALID_FILE_ATTRIBUTES) << "stand-in not built";
  }
  void TearDown() override {
    for (win::ProcessInformation& child : children_) {
      TerminateProcess(child.process.Get(), 1);
      WaitForSingleObject(child.process.Get(), 5000);
    }
    children_.clear();
    EndProcessesStartedFrom(folder);
    files.DeleteFolderTree(folder);
  }

  // The stand-in copied to folder\relative; the full path.
  std::wstring Place(const std::wstring& relative) {
    const std::wstring path = folder + L"\\" + relative;
    MakeFolders(path.substr(0, path.find_last_of(L'\\')));
    EXPECT_TRUE(CopyFileW(ChildImage().c_str(), path.c_str(), FALSE)) << GetLastError();
    return path;
  }

  // Starts folder\relative (placed first) with `arguments`; its id, or 0.
  DWORD Start(const std::wstring& relative, const std::wstring& arguments) {
    const std::wstring image = Place(relative);
    std::wstring command = Quoted(image) + L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION raw{};
    if (!CreateProcessW(image.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &raw)) {
      ADD_FAILURE() << "cannot start the stand-in: " << GetLastError();
      return 0;
    }
    children_.push_back({win::UniqueHandle(raw.hProcess), win::UniqueHandle(raw.hThread)});
    return raw.dwProcessId;
  }

  // Terminates every child started so far and waits until each has ended.
  void EndChildren() {
    for (win::ProcessInformation& child : children_) {
      ASSERT_TRUE(TerminateProcess(child.process.Get(), 0));
      ASSERT_EQ(WaitForSingleObject(child.process.Get(), 5000), WAIT_OBJECT_0);
    }
    children_.clear();
  }

  std::wstring folder;
  Win32FileSystem files;
  Win32ProcessTable table;
  Win32Shell shell;

 private:
  std::vector<win::ProcessInformation> children_;
};

TEST_F(ChildProcesses, CapitalisedImageIsFoundUnderTheLowerCaseName) {
  ASSERT_FALSE(IsProcessRunning(table, L"excel.exe")) << "an excel.exe already runs in this prefix";
  const DWORD pid = Start(L"EXCEL.EXE", L"wait");
  ASSERT_NE(pid, 0u);
  // Otherwise the lookups below would not need to fold anything.
  ASSERT_EQ(ListedName(pid), L"EXCEL.EXE");

  EXPECT_TRUE(IsProcessRunning(table, L"excel.exe"));
  EXPECT_EQ(FindProcessId(table, L"excel.exe"), pid);
  EXPECT_EQ(FindProcessId(table, L"Excel.Exe"), pid);
  EXPECT_EQ(ProcessIdByExeName(table, L"excel.exe"), static_cast<int32_t>(pid));
  EXPECT_EQ(AsciiLower(ProcessImagePath(table, L"excel.exe")), AsciiLower(folder + L"\\EXCEL.EXE"));
}

TEST_F(ChildProcesses, OnlyAsciiLettersFoldInTheName) {
  // É (U+00C9) and é (U+00E9) are one letter to a locale-aware comparison,
  // two to the lookup.
  const DWORD pid = Start(L"\u00C9XCEL.EXE", L"wait");
  ASSERT_NE(pid, 0u);
  ASSERT_EQ(ListedName(pid), L"\u00C9XCEL.EXE");

  EXPECT_EQ(FindProcessId(table, L"\u00C9xcel.exe"), pid);
  EXPECT_FALSE(IsProcessRunning(table, L"\u00E9xcel.exe"));
  EXPECT_EQ(FindProcessId(table, L"\u00E9XCEL.EXE"), 0u);
  EXPECT_EQ(ProcessIdByExeName(table, L"\u00E9xcel.exe"), 0);
}

TEST_F(ChildProcesses, TwoExcelsGiveOneOfTheirIdsAndNoneOnceBothHaveEnded) {
  ASSERT_FALSE(IsProcessRunning(table, L"excel.exe")) << "an excel.exe already runs in this prefix";
  const DWORD first = Start(L"one\\excel.exe", L"wait");
  const DWORD second = Start(L"two\\excel.exe", L"wait");
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  ASSERT_EQ(ListedName(first), L"excel.exe");
  ASSERT_EQ(ListedName(second), L"excel.exe");

  EXPECT_TRUE(IsProcessRunning(table, L"EXCEL.EXE"));
  const uint32_t found = FindProcessId(table, L"EXCEL.EXE");
  EXPECT_TRUE(found == first || found == second) << found << " is neither " << first << " nor " << second;
  const int32_t byName = ProcessIdByExeName(table, L"excel.exe");
  EXPECT_TRUE(byName == static_cast<int32_t>(first) || byName == static_cast<int32_t>(second)) << byName;
  const std::wstring image = AsciiLower(ProcessImagePath(table, L"excel.exe"));
  EXPECT_TRUE(image == AsciiLower(folder + L"\\one\\excel.exe") || image == AsciiLower(folder + L"\\two\\excel.exe"))
      << image;

  EndChildren();
  EXPECT_FALSE(IsProcessRunning(table, L"excel.exe"));
  EXPECT_EQ(FindProcessId(table, L"excel.exe"), 0u);
  EXPECT_EQ(ProcessIdByExeName(table, L"excel.exe"), 0);
  EXPECT_EQ(ProcessImagePath(table, L"excel.exe"), L"");
}

TEST_F(ChildProcesses, ANameThatMerelyEndsInExcelIsAnotherProgram) {
  const DWORD pid = Start(L"notexcel.exe", L"wait");
  ASSERT_NE(pid, 0u);
  ASSERT_EQ(ListedName(pid), L"notexcel.exe");

  EXPECT_EQ(FindProcessId(table, L"NotExcel.exe"), pid);  // it is there to be found
  EXPECT_FALSE(IsProcessRunning(table, L"excel.exe"));
  EXPECT_EQ(FindProcessId(table, L"excel.exe"), 0u);
  EXPECT_EQ(ProcessIdByExeName(table, L"excel.exe"), 0);
  EXPECT_EQ(ProcessImagePath(table, L"excel.exe"), L"");
  EXPECT_FALSE(IsProcessRunning(table, L"notexcel"));  // the extension is part of the name
}

TEST_F(ChildProcesses, AThousandLookupsLeaveNoHandlesBehind) {
  const DWORD pid = Start(L"excel.exe", L"wait");
  ASSERT_NE(pid, 0u);
  ASSERT_EQ(ListedName(pid), L"excel.exe");
  const std::wstring image = AsciiLower(folder + L"\\excel.exe");
  // The first calls bind functions and load what they need for good.
  ASSERT_EQ(AsciiLower(ProcessImagePath(table, L"excel.exe")), image);
  ASSERT_TRUE(IsProcessRunning(table, L"excel.exe"));

  const std::optional<size_t> before = OwnHandleCount();
  ASSERT_TRUE(before.has_value()) << "the system handle table cannot be read";
  // The child's process and thread handles at least.
  ASSERT_GE(*before, 2u);
  for (int i = 0; i < 1000; ++i) {
    switch (i % 4) {
      case 0: ASSERT_TRUE(IsProcessRunning(table, L"excel.exe")) << i; break;
      case 1: ASSERT_EQ(FindProcessId(table, L"EXCEL.exe"), pid) << i; break;
      case 2: ASSERT_EQ(ProcessIdByExeName(table, L"excel.exe"), static_cast<int32_t>(pid)) << i; break;
      default: ASSERT_EQ(AsciiLower(ProcessImagePath(table, L"excel.exe")), image) << i; break;
    }
  }
  const std::optional<size_t> after = OwnHandleCount();
  ASSERT_TRUE(after.has_value());
  EXPECT_LE(*after, *before + 2) << "before " << *before;
}

// ---------------------------------------------------------------- RunAndWait

using RunAndWaitOnChild = ChildProcesses;

TEST_F(RunAndWaitOnChild, ExitCodesReadAsSigned32BitNumbers) {
  const std::wstring child = Quoted(Place(L"child.exe"));
  EXPECT_EQ(shell.RunAndWait(child + L" exit 3"), 3);
  EXPECT_EQ(shell.RunAndWait(child + L" exit 4294967295"), -1);
  EXPECT_EQ(shell.RunAndWait(child + L" exit 4294967294"), -2);
  EXPECT_EQ(shell.RunAndWait(child + L" exit 2147483647"), INT32_MAX);
  EXPECT_EQ(shell.RunAndWait(child + L" exit 2147483648"), INT32_MIN);
}

TEST_F(RunAndWaitOnChild, WaitsForAProgramThatEndsWithinTheTime) {
  const std::wstring child = Quoted(Place(L"child.exe"));
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(shell.RunAndWait(child + L" sleep 1500"), 0);
  EXPECT_GE(GetTickCount64() - start, 1400u);
}

TEST_F(RunAndWaitOnChild, WhatCannotBeStartedGivesMinusOne) {
  const std::wstring text = folder + L"\\text.exe";
  {
    win::UniqueFile file(CreateFileW(text.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), "not a program", 13, &written, nullptr));
  }
  EXPECT_EQ(shell.RunAndWait(Quoted(text)), -1);
  EXPECT_EQ(shell.RunAndWait(Quoted(folder + L"\\absent.exe") + L" exit 0"), -1);
  EXPECT_EQ(shell.RunAndWait(L""), -1);
}

TEST_F(RunAndWaitOnChild, ProgramsStartedTogetherRunSideBySide) {
  const std::wstring child = Quoted(Place(L"child.exe"));
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(shell.RunAllAndWait({child + L" sleep 1500", Quoted(folder + L"\\absent.exe"), child + L" exit 7"}),
            (std::vector<int32_t>{0, -1, 7}));
  const ULONGLONG waited = GetTickCount64() - start;
  EXPECT_GE(waited, 1400u);
  EXPECT_LT(waited, 2900u) << "one after the other";
}

// The ten seconds are for them all: two that never end cost ten, not twenty.
TEST_F(RunAndWaitOnChild, ProgramsStillRunningAfterTenSecondsAreLeftRunning) {
  const std::wstring child = Quoted(Place(L"oq-sleeper.exe"));
  ASSERT_FALSE(IsProcessRunning(table, L"oq-sleeper.exe"));
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(shell.RunAllAndWait({child + L" sleep 15000", child + L" sleep 15000"}), (std::vector<int32_t>{-1, -1}));
  const ULONGLONG waited = GetTickCount64() - start;
  EXPECT_GE(waited, 9500u);
  EXPECT_LT(waited, 13000u);

  for (int i = 0; i < 2; ++i) {
    const uint32_t pid = FindProcessId(table, L"oq-sleeper.exe");
    ASSERT_NE(pid, 0u) << "the program was ended";
    EXPECT_TRUE(table.TerminateProcessById(pid, 0));
    win::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (process) WaitForSingleObject(process.Get(), 5000);
  }
  EXPECT_FALSE(IsProcessRunning(table, L"oq-sleeper.exe"));
}

// ---------------------------------------------------------------- library images

std::wstring LoadedModule(const wchar_t* name) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(LoadLibraryW(name), path, MAX_PATH);
  return path;
}

// The headers as real linkers write them: the stand-in add-in of each
// build, the system's own libraries and a program.
TEST(LibraryImageTest, RealImagesAreJudgedByMachineAndRegistrationEntry) {
  Win32FileSystem files;
  const bool native64 = sizeof(void*) == 8;
  const std::wstring addin64 = e2e::EnvPath("OQ_STANDIN_ADDIN64"), addin32 = e2e::EnvPath("OQ_STANDIN_ADDIN32");
  if (addin64.empty() || addin32.empty()) GTEST_SKIP() << "needs the add-in stand-ins (scripts/testbed.sh)";
  EXPECT_EQ(CheckLibraryImage(files, addin64, true), LibraryImage::Usable);
  EXPECT_EQ(CheckLibraryImage(files, addin64, false), LibraryImage::Built64);
  EXPECT_EQ(CheckLibraryImage(files, addin32, false), LibraryImage::Usable);
  EXPECT_EQ(CheckLibraryImage(files, addin32, true), LibraryImage::Built32);
  // ole32 registers itself; kernel32 has no such entry.
  EXPECT_EQ(CheckLibraryImage(files, LoadedModule(L"ole32.dll"), native64), LibraryImage::Usable);
  EXPECT_EQ(CheckLibraryImage(files, LoadedModule(L"kernel32.dll"), native64), LibraryImage::NoRegistration);
  EXPECT_EQ(CheckLibraryImage(files, ChildImage(), native64), LibraryImage::NotALibrary);
  EXPECT_EQ(CheckLibraryImage(files, BesideTests(L"no-such-library.dll"), native64), LibraryImage::NotALibrary);
}

// ---------------------------------------------------------------- file versions

TEST(FixedFileVersionTest, TextIsTheFixedFileVersionNotTheProductOrStringVersions) {
  Win32Shell shell;
  // The resource also says PRODUCTVERSION 9,8,7,6, FileVersion "3.2" and
  // ProductVersion "5.4".
  EXPECT_EQ(shell.FileVersionText(BesideTests(L"oq_versioned.dll")), L"1.7.17.0");
}

TEST(FixedFileVersionTest, PartsAtTheTopOfTheirSixteenBitsStayPositive) {
  Win32Shell shell;
  EXPECT_EQ(shell.FileVersionText(BesideTests(L"oq_versioned_wide.dll")), L"65535.32768.256.1");
}

TEST(FixedFileVersionTest, ProgramWithoutAVersionResourceGivesNothing) {
  Win32Shell shell;
  const std::wstring child = ChildImage();
  ASSERT_NE(GetFileAttributesW(child.c_str()), INVALID_FILE_ATTRIBUTES);
  DWORD ignored = 0;
  ASSERT_EQ(GetFileVersionInfoSizeW(child.c_str(), &ignored), 0u) << "the stand-in has grown a version resource";
  EXPECT_EQ(shell.FileVersionText(child), std::nullopt);
}

// ---------------------------------------------------------------- Excel probe

constexpr wchar_t kAppPaths[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\excel.exe";
const std::wstring kCheckKeyTrace = std::wstring(L"CheckKey - ") + kAppPaths;
const std::wstring kAutomationTrace = L"CreateOLE - Excel.Application";
const std::wstring kExcelPathNotFound = L"Excel Path : 설치된 excel을 확인할 수 없습니다.";
const std::wstring kExcelVersionNotFound = L"Excel Version : 설치된 Excel 버전을 확인할 수 없습니다.";

// The values of a key, to be put back as they were.
struct SavedKey {
  struct Value {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
  };
  bool existed = false;
  std::vector<Value> values;

  static SavedKey Of(HKEY root, const wchar_t* path) {
    SavedKey saved;
    win::UniqueKey key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return saved;
    saved.existed = true;
    for (DWORD index = 0;; ++index) {
      wchar_t name[16384];
      DWORD nameLength = 16384, type = 0, size = 0;
      if (RegEnumValueW(key.Get(), index, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
      std::vector<BYTE> data(size);
      nameLength = 16384;
      if (RegEnumValueW(key.Get(), index, name, &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) {
        break;
      }
      saved.values.push_back({name, type, data});
    }
    return saved;
  }

  void RestoreTo(HKEY root, const wchar_t* path) const {
    RegDeleteTreeW(root, path);
    RegDeleteKeyW(root, path);
    if (!existed) return;
    win::UniqueKey key;
    if (RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_WRITE, nullptr, key.Put(), nullptr) != ERROR_SUCCESS) return;
    for (const Value& v : values) {
      RegSetValueExW(key.Get(), v.name.c_str(), 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
    }
  }
};

bool KeyExists(HKEY root, const wchar_t* path) {
  win::UniqueKey key;
  return RegOpenKeyExW(root, path, 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

void SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text) {
  win::UniqueKey key;
  ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.Put(), nullptr), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

// The main window as the probe fills it in.
class RecordingView final : public MainView {
 public:
  std::map<Label, std::wstring> labels;
  std::vector<Label> labelsSet;  // in order, repeats included

  void SetCaption(const std::wstring& text) override { caption_ = text; }
  std::wstring Caption() const override { return caption_; }
  void SetLeft(int left) override { left_ = left; }
  void SetTop(int top) override { top_ = top; }
  int Left() const override { return left_; }
  int Top() const override { return top_; }
  Extent OuterSize() const override { return {693, 343}; }
  Extent ScreenSize() const override { return {1280, 1024}; }
  void SetLabel(Label label, const std::wstring& text) override {
    labels[label] = text;
    labelsSet.push_back(label);
  }
  std::wstring LabelText(Label label) const override {
    const auto it = labels.find(label);
    return it == labels.end() ? std::wstring() : it->second;
  }
  void SetPathText(const std::wstring& text) override { path_ = text; }
  std::wstring PathText() const override { return path_; }
  void SetInstallCaption(const std::wstring& text) override { install_ = text; }
  std::wstring InstallCaption() const override { return install_; }
  void SetButtonEnabled(Button button, bool enabled) override { enabled_[button] = enabled; }
  bool ButtonEnabled(Button button) const override {
    const auto it = enabled_.find(button);
    return it == enabled_.end() || it->second;
  }
  void SetProgressVisible(bool) override {}
  void SetProgressMax(int) override {}
  void SetProgressPosition(int) override {}
  void SetProgressWithin(int, uint64_t, uint64_t) override {}
  void SetPickerFolder(const std::wstring& folder) override { picker_ = folder; }
  std::wstring PickerFolder() const override { return picker_; }
  void RequestTermination() override { terminate_ = true; }
  bool TerminationRequested() const override { return terminate_; }
  void CloseWindow() override {}

  int TimesSet(Label label) const {
    int count = 0;
    for (Label l : labelsSet) count += l == label;
    return count;
  }

 private:
  std::wstring caption_, path_, picker_, install_ = L"Install";
  int left_ = 0, top_ = 0;
  std::map<Button, bool> enabled_;
  bool terminate_ = false;
};

// The release server is no part of what these tests look at: every request
// finds nothing.
class NothingPublished final : public HttpTransport {
 public:
  HttpResponse Get(const std::wstring&, const std::vector<HttpHeader>&) override { return {404, L"text/html", {}}; }
  void Prefetch(const std::wstring&, const std::vector<HttpHeader>&) override {}
  void Stream(const std::wstring&, const std::vector<HttpHeader>&, HttpSink& sink) override {
    sink.Begin({404, 0, {}, {}, {}});
  }
  void Cancel() override {}
  void ForgetPrefetched() override {}
};

class RecordingDialogs final : public Dialogs {
 public:
  std::vector<std::wstring> boxes;
  BoxAnswer ShowBox(const std::wstring& text, const std::wstring&, BoxIcon, BoxButtons) override {
    boxes.push_back(text);
    return BoxAnswer::Ok;
  }
  void ProcessMessages() override {}
  void SetBusyCursor(bool) override {}
  AdminWarningAnswer ShowAdminWarning(bool) override { return AdminWarningAnswer::Continue; }
  std::optional<std::wstring> PickFolder(const std::wstring&) override { return std::nullopt; }
};

// The probe on the prefix's real registry and files. Excel's application
// path is written for each case and the keys are put back afterwards; the
// "Excel" folders are temporary folders named as Office names its own.
class ExcelProbeOnMachine : public ::testing::Test {
 protected:
  static constexpr const wchar_t* kUserKeys[] = {L"Software\\Microsoft\\Office\\15.0", L"Software\\Microsoft\\Office\\16.0",
                                                 L"Software\\Microsoft\\Office\\Excel", L"Software\\Microsoft\\Office"};
  static constexpr const wchar_t* kBuildKeys[] = {L"Software\\Microsoft\\Office\\15.0\\Common\\Roaming",
                                                  L"Software\\Microsoft\\Office\\16.0\\Common\\Roaming"};

  void SetUp() override {
    ASSERT_TRUE(com.Ok());
    savedAppPath_ = SavedKey::Of(HKEY_LOCAL_MACHINE, kAppPaths);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAppPaths);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kAppPaths);
    for (const wchar_t* path : kUserKeys) userKeyExisted_.push_back(KeyExists(HKEY_CURRENT_USER, path));
    // The builds each case writes start from none: a program run before in
    // the same prefix (the installer under test probes too) may have left
    // the keys, and a case's value must not reach the next.
    for (size_t i = 0; i < std::size(kBuildKeys); ++i) {
      savedBuilds_[i] = SavedKey::Of(HKEY_CURRENT_USER, kBuildKeys[i]);
      RegDeleteKeyValueW(HKEY_CURRENT_USER, kBuildKeys[i], L"BuildProvisioned");
    }
    root_ = NewTempFolder(L"oq-excel");
    form.traceListener = [this](const std::wstring& line) { traces.push_back(line); };
  }

  void TearDown() override {
    savedAppPath_.RestoreTo(HKEY_LOCAL_MACHINE, kAppPaths);
    for (size_t i = 0; i < std::size(kBuildKeys); ++i) {
      if (savedBuilds_[i].existed) savedBuilds_[i].RestoreTo(HKEY_CURRENT_USER, kBuildKeys[i]);
    }
    // Reading the Office build creates its key; what the probe created goes.
    for (size_t i = 0; i < userKeyExisted_.size(); ++i) {
      if (userKeyExisted_[i]) continue;
      RegDeleteTreeW(HKEY_CURRENT_USER, kUserKeys[i]);
      RegDeleteKeyW(HKEY_CURRENT_USER, kUserKeys[i]);
    }
    files.DeleteFolderTree(root_);
  }

  // root\<place>\Microsoft Office\<generation>\ holding `image` (by
  // default the 64-bit Excel stand-in, whatever this test program's own
  // bitness) as excel.exe; with a trailing backslash, as Office writes it.
  std::wstring ExcelFolder(const std::wstring& generation, const std::wstring& image = e2e::EnvPath("OQ_STANDIN_EXCEL64"),
                           const std::wstring& place = L"Program Files") {
    const std::wstring folder = root_ + L"\\" + place + L"\\Microsoft Office\\" + generation;
    EXPECT_TRUE(MakeFolders(folder)) << folder;
    if (!image.empty()) {
      EXPECT_TRUE(CopyFileW(image.c_str(), (folder + L"\\excel.exe").c_str(), FALSE)) << GetLastError();
    }
    return folder + L"\\";
  }

  void WriteAppPath(const std::optional<std::wstring>& defaultValue, const std::optional<std::wstring>& path) {
    win::UniqueKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAppPaths, 0, nullptr, 0, KEY_WRITE, nullptr, key.Put(), nullptr),
              ERROR_SUCCESS);
    key.Reset();
    if (defaultValue) SetString(HKEY_LOCAL_MACHINE, kAppPaths, L"", *defaultValue);
    if (path) SetString(HKEY_LOCAL_MACHINE, kAppPaths, L"Path", *path);
  }

  void WriteBuild(const wchar_t* officeVersion, const std::wstring& build) {
    SetString(HKEY_CURRENT_USER, std::wstring(L"Software\\Microsoft\\Office\\") + officeVersion + L"\\Common\\Roaming",
              L"BuildProvisioned", build);
  }

  // The version text the probe gives; it starts from a stale text to show
  // that the probe clears it.
  std::wstring Detect() {
    std::wstring version = L"stale";
    traces.clear();
    form.DetectExcel(version);
    return version;
  }

  bool TriedAutomation() const {
    for (const std::wstring& line : traces) {
      if (line == kAutomationTrace) return true;
    }
    return false;
  }

  std::wstring root_;
  win::ComApartment com;
  Win32Registry registry;
  Win32FileSystem files;
  Win32ProcessTable processes;
  Win32Shell shell;
  Win32Environment env;
  NothingPublished http;
  RecordingDialogs dialogs;
  CngCrypto crypto;
  Machine machine{registry, files, processes, shell, env, http, dialogs, crypto};
  RecordingView view;
  TfmMain form{machine, view, L"https://localhost:1/"};
  std::vector<std::wstring> traces;

 private:
  SavedKey savedAppPath_;
  SavedKey savedBuilds_[2];
  std::vector<bool> userKeyExisted_;
};

struct GenerationCase {
  const wchar_t* folder;  // the Office folder's name
  const wchar_t* build15;  // BuildProvisioned for 15.0, nullptr for none
  const wchar_t* build16;  // and for 16.0
  const wchar_t* version;  // what the probe makes of it
};

void PrintTo(const GenerationCase& c, std::ostream* out) {
  for (const wchar_t* p = c.folder; *p; ++p) *out << static_cast<char>(*p);
  *out << (c.build16 ? " with builds" : " without builds");
}

class ExcelProbeGenerations : public ExcelProbeOnMachine, public ::testing::WithParamInterface<GenerationCase> {};

TEST_P(ExcelProbeGenerations, FolderNameGivesTheGenerationAndTheImageTheBitness) {
  const GenerationCase& c = GetParam();
  if (c.build15) WriteBuild(L"15.0", c.build15);
  if (c.build16) WriteBuild(L"16.0", c.build16);
  const std::wstring folder = ExcelFolder(c.folder);
  WriteAppPath(folder + L"EXCEL.EXE", folder);
  form.x64 = false;

  EXPECT_EQ(Detect(), c.version);
  EXPECT_EQ(form.ExcelPath, folder);
  EXPECT_TRUE(form.x64);
  // "execel" is how the window has always spelt it.
  EXPECT_EQ(view.labels[Label::ExPath], L"Excel Path : " + folder + L"execel.exe");
  EXPECT_EQ(view.TimesSet(Label::ExPath), 1);
  EXPECT_EQ(view.TimesSet(Label::Ex), 0);  // the version line is start-up's to show
  EXPECT_FALSE(TriedAutomation());
}

INSTANTIATE_TEST_SUITE_P(
    Office, ExcelProbeGenerations,
    ::testing::Values(
        GenerationCase{L"Office12", L"15.0.4569.1506", L"16.0.4266.1001", L"Office 2007 - 64 bit"},
        // Office 2010's folder is not told apart: it reads as 2016, and its
        // build from the 16.0 key.
        GenerationCase{L"Office14", nullptr, nullptr, L"Office 2016  - 64 bit"},
        GenerationCase{L"Office14", L"15.0.4569.1506", L"16.0.4266.1001", L"Office 2016 16.0.4266.1001 - 64 bit"},
        GenerationCase{L"Office15", nullptr, nullptr, L"Office 2015  - 64 bit"},
        GenerationCase{L"Office15", L"15.0.4569.1506", L"16.0.4266.1001", L"Office 2015 15.0.4569.1506 - 64 bit"},
        GenerationCase{L"Office16", nullptr, nullptr, L"Office 2016  - 64 bit"},
        GenerationCase{L"Office16", L"15.0.4569.1506", L"16.0.4266.1001", L"Office 2016 16.0.4266.1001 - 64 bit"}),
    [](const ::testing::TestParamInfo<GenerationCase>& info) {
      std::string name;
      for (const wchar_t* p = info.param.folder; *p; ++p) name.push_back(static_cast<char>(*p));
      return name + (info.param.build16 ? "WithBuilds" : "WithoutBuilds");
    });

TEST_F(ExcelProbeOnMachine, ThirtyTwoBitImageReadsAsThirtyTwoBit) {
  const std::wstring image = e2e::EnvPath("OQ_STANDIN_EXCEL32");
  if (image.empty()) GTEST_SKIP() << "OQ_STANDIN_EXCEL32 is not set (scripts/testbed.sh exports it)";
  ASSERT_NE(GetFileAttributesW(image.c_str()), INVALID_FILE_ATTRIBUTES);
  const std::wstring folder = ExcelFolder(L"Office16", image);
  WriteAppPath(folder + L"EXCEL.EXE", folder);
  form.x64 = true;

  EXPECT_EQ(Detect(), L"Office 2016  - 32 bit");
  EXPECT_FALSE(form.x64);
  EXPECT_EQ(form.ExcelPath, folder);
  EXPECT_EQ(view.labels[Label::ExPath], L"Excel Path : " + folder + L"execel.exe");
}

TEST_F(ExcelProbeOnMachine, ImageOfUnknownTypeCountsAsSixtyFourBit) {
  const std::wstring folder = ExcelFolder(L"Office12", L"");
  {
    win::UniqueFile file(
        CreateFileW((folder + L"excel.exe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), "not a program", 13, &written, nullptr));
  }
  DWORD type = 0;
  ASSERT_FALSE(GetBinaryTypeW((folder + L"excel.exe").c_str(), &type)) << "type " << type;
  WriteAppPath(std::nullopt, folder);
  form.x64 = false;

  EXPECT_EQ(Detect(), L"Office 2007 - 64 bit");
  EXPECT_TRUE(form.x64);
}

TEST_F(ExcelProbeOnMachine, OnlyTheFirstFolderOfAListCounts) {
  const std::wstring office16 = ExcelFolder(L"Office16");
  const std::wstring office12 = ExcelFolder(L"Office12");
  WriteAppPath(office16 + L"excel.exe", office16 + L";" + office12);
  EXPECT_EQ(Detect(), L"Office 2016  - 64 bit");
  EXPECT_EQ(form.ExcelPath, office16);
  EXPECT_EQ(view.labels[Label::ExPath], L"Excel Path : " + office16 + L"execel.exe");

  // A first folder without Excel is not made up for by the next one.
  const std::wstring empty = ExcelFolder(L"Office15", L"", L"Elsewhere");
  WriteAppPath(std::nullopt, empty + L";" + office12 + L";" + office16);
  EXPECT_EQ(Detect(), L"");
  EXPECT_EQ(form.ExcelPath, empty);
  EXPECT_EQ(view.labels[Label::ExPath], kExcelPathNotFound);
}

TEST_F(ExcelProbeOnMachine, FolderComesFromPathNotFromTheDefaultValue) {
  const std::wstring office12 = ExcelFolder(L"Office12");
  const std::wstring office16 = ExcelFolder(L"Office16");
  WriteAppPath(office12 + L"excel.exe", office16);
  EXPECT_EQ(Detect(), L"Office 2016  - 64 bit");
  EXPECT_EQ(form.ExcelPath, office16);

  // The program's path alone does not lead anywhere.
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAppPaths);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kAppPaths);
  WriteAppPath(office12 + L"excel.exe", std::nullopt);
  EXPECT_EQ(Detect(), L"");
  EXPECT_EQ(view.labels[Label::ExPath], kExcelPathNotFound);
  EXPECT_FALSE(TriedAutomation());
}

TEST_F(ExcelProbeOnMachine, ExcelGoneFromItsFolderIsReportedWithoutAskingAutomation) {
  const std::wstring folder = ExcelFolder(L"Office16");
  WriteAppPath(folder + L"excel.exe", folder);
  ASSERT_TRUE(DeleteFileW((folder + L"excel.exe").c_str()));
  form.x64 = true;

  EXPECT_EQ(Detect(), L"");
  EXPECT_EQ(view.labels[Label::ExPath], kExcelPathNotFound);
  EXPECT_EQ(view.TimesSet(Label::ExPath), 1);
  EXPECT_EQ(form.ExcelPath, folder);  // what the registry said stays
  EXPECT_TRUE(form.x64);              // untouched
  ASSERT_FALSE(traces.empty());
  EXPECT_EQ(traces.front(), kCheckKeyTrace);
  EXPECT_FALSE(TriedAutomation());
}

TEST_F(ExcelProbeOnMachine, WithoutAnApplicationPathAutomationFindsNoExcelInAFreshPrefix) {
  form.x64 = true;
  form.ExcelPath = L"C:\\stale\\";
  EXPECT_EQ(Detect(), L"");
  EXPECT_EQ(form.ExcelPath, L"");
  EXPECT_TRUE(form.x64);  // nothing decided it
  EXPECT_TRUE(view.labelsSet.empty());
  EXPECT_EQ(traces, (std::vector<std::wstring>{kCheckKeyTrace, kAutomationTrace}));
}

TEST_F(ExcelProbeOnMachine, StartUpShowsTheVersionLineOfTheExcelFound) {
  const std::wstring folder = ExcelFolder(L"Office12");
  WriteAppPath(folder + L"excel.exe", folder);
  form.OnCreate();
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front();
  EXPECT_EQ(view.labels[Label::Ex], L"Excel Version : Office 2007 - 64 bit");
  EXPECT_EQ(view.labels[Label::ExPath], L"Excel Path : " + folder + L"execel.exe");
}

TEST_F(ExcelProbeOnMachine, StartUpSaysSoWhenNoExcelIsFound) {
  form.OnCreate();
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front();
  EXPECT_EQ(view.labels[Label::Ex], kExcelVersionNotFound);
  EXPECT_EQ(view.TimesSet(Label::ExPath), 0);
}

}  // namespace
}  // namespace oq

namespace oq {
namespace {

// Without an application path the probe asks Excel's automation server:
// the stand-in's excel.exe, registered for the test and ended by Quit.
TEST_F(ExcelProbeOnMachine, WithoutAnApplicationPathTheAutomationServerAnswers) {
  const std::wstring server = e2e::EnvPath("OQ_STANDIN_EXCEL64");
  if (server.empty()) GTEST_SKIP() << "OQ_STANDIN_EXCEL64 is not set (scripts/testbed.sh exports it)";
  // A copy in a folder of its own, so that the folder the probe reports
  // from the running process can be told apart.
  const std::wstring folder = ExcelFolder(L"Office16", server, L"Automation");
  const std::wstring copy = folder + L"excel.exe";
  ASSERT_EQ(shell.RunAndWait(L"\"" + copy + L"\" /regserver"), 0);
  SetString(HKEY_CURRENT_USER, L"Software\\OQStandIn", L"ExcelVersion", L"15.0");

  const std::wstring version = Detect();

  shell.RunAndWait(L"\"" + copy + L"\" /unregserver");
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\OQStandIn", L"ExcelVersion");
  EXPECT_EQ(version, L"Office 2015.0 - 64 bit");
  EXPECT_EQ(_wcsicmp(form.ExcelPath.c_str(), folder.c_str()), 0) << std::string(form.ExcelPath.begin(), form.ExcelPath.end());
  EXPECT_TRUE(form.x64);
  EXPECT_EQ(traces, (std::vector<std::wstring>{kCheckKeyTrace, kAutomationTrace}));
  // Quit ended the Excel the probe started.
  bool gone = false;
  for (int i = 0; i < 100 && !gone; ++i) {
    gone = !IsProcessRunning(processes, L"excel.exe");
    if (!gone) Sleep(50);
  }
  EXPECT_TRUE(gone);
}

}  // namespace
}  // namespace oq
