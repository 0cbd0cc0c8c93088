// The stand-ins for Excel and the add-in library (tests/standins), checked
// through the installer's own Win32 services so that what the later tests
// build on is known to behave: regsvr32 reaches the library, the excel.exe
// stub is seen and ended like Excel, and the automation server answers the
// late-bound calls the Excel probe makes.
//
// The paths come from OQ_STANDIN_EXCEL64, OQ_STANDIN_EXCEL32 and
// OQ_STANDIN_ADDIN64 (scripts/testbed.sh exports them), Unix or Windows form.

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver.h"
#include "services/win32/handles.h"
#include "services/win32/win32_machine.h"

namespace oq {
namespace {

constexpr wchar_t kMarks[] = L"Software\\OQStandIn";
constexpr wchar_t kRegistered[] = L"Software\\OQStandIn\\Registered";
constexpr uint32_t kScs32BitBinary = 0, kScs64BitBinary = 6;

// A Unix path becomes its Z: form; a Windows path is taken as it is.
std::wstring StandInPath(const char* variable) { return e2e::EnvPath(variable); }

#define REQUIRE_STANDIN(var, name)                                                          \
  const std::wstring var = StandInPath(name);                                               \
  if (var.empty()) GTEST_SKIP() << name " is not set (scripts/testbed.sh exports it)";     \
  ASSERT_NE(GetFileAttributesW(var.c_str()), INVALID_FILE_ATTRIBUTES) << name " names no file"

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

std::optional<DWORD> MarkDword(const wchar_t* key, const std::wstring& name) {
  DWORD value = 0, size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, key, name.c_str(), RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::wstring> MarkString(const wchar_t* key, const std::wstring& name) {
  wchar_t buffer[1024];
  DWORD size = sizeof buffer;
  if (RegGetValueW(HKEY_CURRENT_USER, key, name.c_str(), RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(buffer);
}

std::vector<std::wstring> ValueNames(const wchar_t* key) {
  std::vector<std::wstring> names;
  HKEY open = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &open) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumValueW(open, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  RegCloseKey(open);
  std::sort(names.begin(), names.end());
  return names;
}

void SetMarkString(const wchar_t* name, const std::wstring& text) {
  RegSetKeyValueW(HKEY_CURRENT_USER, kMarks, name, REG_SZ, text.c_str(),
                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

bool SameText(const std::wstring& a, const std::wstring& b) { return lstrcmpiW(a.c_str(), b.c_str()) == 0; }

template <class Condition>
bool WaitFor(DWORD milliseconds, Condition condition) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  while (!condition()) {
    if (GetTickCount64() > end) return false;
    Sleep(50);
  }
  return true;
}

std::vector<uint32_t> ExcelPids() {
  Win32ProcessTable table;
  std::vector<uint32_t> pids;
  if (auto snapshot = table.SnapshotProcesses(false)) {
    for (const ProcessRecord& p : *snapshot) {
      if (SameText(p.exeFile, L"excel.exe")) pids.push_back(p.pid);
    }
  }
  return pids;
}

bool Listed(uint32_t pid) {
  for (uint32_t p : ExcelPids()) {
    if (p == pid) return true;
  }
  return false;
}

// Each case starts from no marks, and no stand-in Excel is left running for
// the tests that come after.
class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kMarks); }
  void TearDown() override {
    Win32ProcessTable table;
    for (uint32_t pid : ExcelPids()) table.TerminateProcessById(pid, 1);
    WaitFor(5000, [] { return ExcelPids().empty(); });
    RegDeleteTreeW(HKEY_CURRENT_USER, kMarks);
  }
  Win32Shell shell;
  Win32ProcessTable processes;
};

// ---------------------------------------------------------------- add-in library

// The library under the name the installer gives the 64-bit copy, in
// letters the mark must fold.
class StandInAddin : public StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder = std::wstring(temp) + L"oq-standin-addin-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    copy = folder + L"\\ORBITQuarry64.dll";
  }
  void TearDown() override {
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(folder.c_str());
    StandInTest::TearDown();
  }
  std::wstring folder, copy;
};

TEST_F(StandInAddin, RegsvrLeavesTheMarkAndUnregisterRemovesItButKeepsTheCount) {
  REQUIRE_STANDIN(addin, "OQ_STANDIN_ADDIN64");
  ASSERT_TRUE(CopyFileW(addin.c_str(), copy.c_str(), FALSE));

  EXPECT_EQ(shell.RunAndWait(L"regsvr32 /s " + Quoted(copy)), 0);
  const std::optional<std::wstring> path = MarkString(kRegistered, L"orbitquarry64.dll");
  ASSERT_TRUE(path.has_value()) << "no mark under the lower-cased file name";
  EXPECT_TRUE(SameText(*path, copy)) << *path;
  EXPECT_EQ(MarkDword(kRegistered, L"orbitquarry64.dll.count"), 1u);
  // Registry names fold case, so only the listing shows how it was written.
  EXPECT_EQ(ValueNames(kRegistered), (std::vector<std::wstring>{L"orbitquarry64.dll", L"orbitquarry64.dll.by",
                                                                 L"orbitquarry64.dll.count"}));
  // Whatever the bitness of the program that asked, only the 64-bit
  // registration tool can have loaded the 64-bit library.
  const std::optional<std::wstring> by = MarkString(kRegistered, L"orbitquarry64.dll.by");
  ASSERT_TRUE(by.has_value());
  EXPECT_TRUE(SameText(*by, L"C:\\windows\\system32\\regsvr32.exe")) << *by;

  // A renewed registration is visible as a second count.
  EXPECT_EQ(shell.RunAndWait(L"regsvr32 /s " + Quoted(copy)), 0);
  EXPECT_EQ(MarkDword(kRegistered, L"orbitquarry64.dll.count"), 2u);

  EXPECT_EQ(shell.RunAndWait(L"regsvr32 /s /u " + Quoted(copy)), 0);
  EXPECT_FALSE(MarkString(kRegistered, L"orbitquarry64.dll").has_value());
  EXPECT_EQ(MarkDword(kRegistered, L"orbitquarry64.dll.count"), 2u);

  // Unregistering again finds nothing to remove and is still no failure.
  EXPECT_EQ(shell.RunAndWait(L"regsvr32 /s /u " + Quoted(copy)), 0);
}

// The installer shows the fixed file version; the product version is set
// apart on purpose so that reading the wrong field cannot pass.
TEST_F(StandInAddin, FileVersionIsTheStampedOneNotTheProductVersion) {
  REQUIRE_STANDIN(addin, "OQ_STANDIN_ADDIN64");
  const std::wstring version = shell.FileVersionText(addin).value_or(L"");
  EXPECT_NE(version, L"");
  EXPECT_NE(version, L"2026.12.0.0");

  DWORD ignored = 0;
  std::vector<uint8_t> block(GetFileVersionInfoSizeW(addin.c_str(), &ignored));
  ASSERT_FALSE(block.empty());
  ASSERT_TRUE(GetFileVersionInfoW(addin.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
  wchar_t* text = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\FileVersion", reinterpret_cast<void**>(&text),
                             &length));
  EXPECT_EQ(version, std::wstring(text)) << "the fixed and the text file version disagree";
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_EQ(std::wstring(text), L"2026.12.0.0");
}

// ---------------------------------------------------------------- excel.exe stub

TEST_F(StandInTest, ExcelStubsHaveTheBitnessTheirNamesClaim) {
  REQUIRE_STANDIN(excel64, "OQ_STANDIN_EXCEL64");
  REQUIRE_STANDIN(excel32, "OQ_STANDIN_EXCEL32");
  EXPECT_EQ(shell.BinaryType(excel64), std::optional<uint32_t>(kScs64BitBinary));
  EXPECT_EQ(shell.BinaryType(excel32), std::optional<uint32_t>(kScs32BitBinary));
}

class StandInExcel : public StandInTest {
 protected:
  // Started the way a user (or the installer's RunElevated) would start it.
  uint32_t Start(const std::wstring& exe, const std::wstring& arguments) {
    commandLine = Quoted(exe) + (arguments.empty() ? L"" : L" " + arguments);
    std::wstring writable = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION raw{};
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &raw)) {
      return 0;
    }
    process = win::UniqueHandle(raw.hProcess);
    CloseHandle(raw.hThread);
    // The marks are written first thing; once the count moves the stub runs.
    const DWORD before = MarkDword(kMarks, L"ExcelStarts").value_or(0);
    WaitFor(10000, [&] { return MarkDword(kMarks, L"ExcelStarts").value_or(0) > before; });
    return raw.dwProcessId;
  }
  std::optional<DWORD> ExitCode(DWORD waitMs) {
    DWORD code = 0;
    if (WaitForSingleObject(process.Get(), waitMs) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.Get(), &code)) {
      return std::nullopt;
    }
    return code;
  }
  std::wstring commandLine;
  win::UniqueHandle process;
};

TEST_F(StandInExcel, RecordsItsStartAndIsListedAsExcelUntilTerminated) {
  REQUIRE_STANDIN(excel64, "OQ_STANDIN_EXCEL64");
  const uint32_t pid = Start(excel64, L"/e \"Book 1.xlsx\"");
  ASSERT_NE(pid, 0u);
  EXPECT_EQ(MarkDword(kMarks, L"ExcelStarts"), 1u);
  EXPECT_EQ(MarkString(kMarks, L"ExcelCommandLine"), commandLine);

  // Still running a while later: it waits to be ended, not for work.
  EXPECT_FALSE(ExitCode(500).has_value());
  EXPECT_TRUE(Listed(pid));
  EXPECT_TRUE(SameText(processes.ProcessImageFile(pid).value_or(L""), excel64)) << processes.ProcessImageFile(pid).value_or(L"(none)");

  EXPECT_TRUE(processes.TerminateProcessById(pid, 7));
  EXPECT_EQ(ExitCode(5000), std::optional<DWORD>(7));
  EXPECT_TRUE(WaitFor(5000, [&] { return !Listed(pid); }));
}

TEST_F(StandInExcel, EveryStartCountsAndCloseToItsWindowEndsIt) {
  REQUIRE_STANDIN(excel64, "OQ_STANDIN_EXCEL64");
  const uint32_t first = Start(excel64, L"");
  ASSERT_NE(first, 0u);
  ASSERT_TRUE(processes.TerminateProcessById(first, 0));
  ASSERT_TRUE(ExitCode(5000).has_value());

  const uint32_t second = Start(excel64, L"/x");
  ASSERT_NE(second, 0u);
  EXPECT_EQ(MarkDword(kMarks, L"ExcelStarts"), 2u);
  EXPECT_EQ(MarkString(kMarks, L"ExcelCommandLine"), commandLine);

  // Its main window is never shown, but it is there for WM_CLOSE.
  HWND window = nullptr;
  ASSERT_TRUE(WaitFor(5000, [&] {
    window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"XLMAIN", nullptr)) != nullptr) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == second) return true;
    }
    return false;
  }));
  EXPECT_FALSE(IsWindowVisible(window));
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(ExitCode(5000), std::optional<DWORD>(0));
}

// ---------------------------------------------------------------- automation server

class StandInAutomation : public StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    excel64 = StandInPath("OQ_STANDIN_EXCEL64");
    if (excel64.empty()) GTEST_SKIP() << "OQ_STANDIN_EXCEL64 is not set (scripts/testbed.sh exports it)";
    ASSERT_TRUE(com.Ok());
    ASSERT_EQ(shell.RunAndWait(Quoted(excel64) + L" /regserver"), 0);
  }
  void TearDown() override {
    if (!excel64.empty()) shell.RunAndWait(Quoted(excel64) + L" /unregserver");
    StandInTest::TearDown();
  }

  // Version, workbooks and quit, as the Excel probe calls them; the server
  // process must be gone afterwards.
  void ExpectOneSession(const std::wstring& version) {
    ASSERT_TRUE(ExcelPids().empty()) << "an excel.exe already runs";
    std::unique_ptr<ExcelAutomation> excel = shell.CreateExcelApplication();
    ASSERT_NE(excel, nullptr) << "CreateExcelApplication found no server";
    EXPECT_EQ(excel->ApplicationVersion(), version);

    const std::vector<uint32_t> running = ExcelPids();
    ASSERT_EQ(running.size(), 1u) << "the server is not an excel.exe process";
    EXPECT_TRUE(SameText(processes.ProcessImageFile(running[0]).value_or(L""), excel64));

    const DWORD closedBefore = MarkDword(kMarks, L"ExcelWorkbooksClosed").value_or(0);
    excel->CloseWorkbooks();
    EXPECT_EQ(MarkDword(kMarks, L"ExcelWorkbooksClosed").value_or(0), closedBefore + 1);
    excel->Quit();
    EXPECT_TRUE(WaitFor(10000, [&] { return !Listed(running[0]); })) << "the server still runs after Quit";
    excel.reset();
  }

  win::ComApartment com;
  std::wstring excel64;
};

TEST_F(StandInAutomation, RegistrationIsFoundByProgIdAndStartsTheServerTheWayComDoes) {
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(L"Excel.Application", &clsid), S_OK);
  wchar_t text[64] = {};
  StringFromGUID2(clsid, text, 64);
  EXPECT_STREQ(text, L"{DC156ADF-365D-4D45-A8A7-3D7F8943AB0F}");
  // Registering is set-up, not an Excel start.
  EXPECT_FALSE(MarkDword(kMarks, L"ExcelStarts").has_value());

  ExpectOneSession(L"16.0");
  EXPECT_EQ(MarkDword(kMarks, L"ExcelStarts"), 1u);
  const std::wstring line = MarkString(kMarks, L"ExcelCommandLine").value_or(L"");
  const std::wstring tail = L"/automation -Embedding";
  ASSERT_GE(line.size(), tail.size()) << line;
  EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
}

TEST_F(StandInAutomation, VersionFollowsTheRegistryAndEachSessionIsItsOwnProcess) {
  SetMarkString(L"ExcelVersion", L"15.0");
  ExpectOneSession(L"15.0");
  SetMarkString(L"ExcelVersion", L"14.0");
  ExpectOneSession(L"14.0");
  EXPECT_EQ(MarkDword(kMarks, L"ExcelStarts"), 2u);
  EXPECT_EQ(MarkDword(kMarks, L"ExcelWorkbooksClosed"), 2u);
}

TEST_F(StandInAutomation, ReleasingWithoutQuitAlsoEndsTheServer) {
  std::unique_ptr<ExcelAutomation> excel = shell.CreateExcelApplication();
  ASSERT_NE(excel, nullptr);
  EXPECT_EQ(excel->ApplicationVersion(), L"16.0");
  const std::vector<uint32_t> running = ExcelPids();
  ASSERT_EQ(running.size(), 1u);
  excel.reset();
  EXPECT_TRUE(WaitFor(10000, [&] { return !Listed(running[0]); }));
}

TEST_F(StandInAutomation, UnregisteredThereIsNoExcelApplication) {
  ASSERT_EQ(shell.RunAndWait(Quoted(excel64) + L" /unregserver"), 0);
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(L"Excel.Application", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(shell.CreateExcelApplication(), nullptr);
  EXPECT_TRUE(ExcelPids().empty());
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{DC156ADF-365D-4D45-A8A7-3D7F8943AB0F}", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  if (key) RegCloseKey(key);
}

}  // namespace
}  // namespace oq
