#include "deploy_fixture.h"

#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include "../standins/standin_marks.h"
#include "ui/main_window.h"

namespace oq::e2e {

namespace {

constexpr wchar_t kAppPaths[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\excel.exe";
const std::wstring kExcelFolder = L"C:\\Program Files\\Microsoft Office\\root\\Office16\\";

void SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

std::vector<DWORD> ExcelProcesses() {
  std::vector<DWORD> pids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return pids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, L"excel.exe") == 0) pids.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return pids;
}

void EndExcelProcesses() {
  for (DWORD pid : ExcelProcesses()) {
    if (HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
      TerminateProcess(h, 0);
      WaitForSingleObject(h, 5000);
      CloseHandle(h);
    }
  }
}

std::wstring FileVersionOf(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<BYTE> data(size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
      !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info) {
    return {};
  }
  return std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(info->dwFileVersionMS)) +
         L"." + std::to_wstring(HIWORD(info->dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(info->dwFileVersionLS));
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void DeployFixture::SetUp() {
  if (Env("OQ_PRODUCT_EXE").empty() || Env("OQ_TEST_WWW").empty()) {
    GTEST_SKIP() << "needs OQ_PRODUCT_EXE and the release server (scripts/test.sh sets them)";
  }
  if (EnvPath("OQ_STANDIN_EXCEL64").empty()) GTEST_SKIP() << "needs the Excel stand-in (OQ_STANDIN_EXCEL64)";
  folder_ = AppDataFolder() + L"\\ORBITQuarry\\";
  Reset();
  SHCreateDirectoryExW(nullptr, kExcelFolder.c_str(), nullptr);
  ASSERT_TRUE(CopyFileW(EnvPath("OQ_STANDIN_EXCEL64").c_str(), (kExcelFolder + L"excel.exe").c_str(), FALSE));
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAppPaths, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  SetString(key, nullptr, kExcelFolder + L"excel.exe");
  SetString(key, L"Path", kExcelFolder);
  RegCloseKey(key);
}

void DeployFixture::TearDown() {
  if (folder_.empty()) return;
  Reset();
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAppPaths);
}

void DeployFixture::Reset() {
  EndExcelProcesses();
  DeleteAddinKeys();
  RegDeleteTreeW(HKEY_CURRENT_USER, standin::kMarksKey);
  const std::wstring from = folder_.substr(0, folder_.size() - 1) + L'\0';
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  SHFileOperationW(&op);
  PublishVersionFile("\xEF\xBB\xBF" "1.7.18");
}

HWND DeployFixture::StartAndWait(Program& program) {
  EXPECT_TRUE(program.Started());
  return program.WaitFilledMainWindow(kStartTimeout);
}

void DeployFixture::Answer(Program& program, const std::wstring& text, const std::wstring& button,
                           const char* shot) {
  HWND box = program.WaitMessageBox(60000);
  ASSERT_NE(box, nullptr) << "no box came up";
  EXPECT_EQ(MessageBoxText(box), text);
  if (shot) SaveScreenshot(box, shot);
  HWND pressed = ButtonByText(box, button);
  ASSERT_NE(pressed, nullptr) << "the box has no such button";
  Click(pressed);
  WaitFor(10000, [&] { return !IsWindow(box); });
}

void DeployFixture::InstallThroughTheWindow() {
  Program program(Installer());
  HWND main = StartAndWait(program);
  ASSERT_NE(main, nullptr);
  ASSERT_EQ(Text(main, kIdXLL), L"Add-In Version : Not Install");
  ASSERT_EQ(Text(main, kIdPathEdit), folder_);
  Click(ChildById(main, kIdInstall));
  Answer(program, L"정상적으로 완료되었습니다.  엑셀을 실행합니다.", L"OK", "install-done");
  DWORD code = 99;
  ASSERT_TRUE(program.WaitExit(20000, &code)) << "the program did not end after the install";
  EXPECT_EQ(code, 0u);
  // regsvr32 was started, not waited for.
  ASSERT_TRUE(WaitFor(10000, [] { return !standin::ReadMarkString(kRegisteredKey, L"orbitquarry64.dll").empty(); }));
}

}  // namespace oq::e2e
