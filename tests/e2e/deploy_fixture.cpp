#include "deploy_fixture.h"

#include <shellapi.h>
#include <cstdio>
#include <cstring>
#include <shlobj.h>
#include <tlhelp32.h>

#include "../standins/standin_marks.h"
#include "ui/main_window.h"

namespace oq::e2e {

namespace {

constexpr wchar_t kAppPathsParent[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";

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

void DeleteTree(const std::wstring& folder) {
  const std::wstring from = folder.substr(0, folder.size() - 1) + L'\0';
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  SHFileOperationW(&op);
}

std::string ReadAll(const std::wstring& file) {
  std::string bytes;
  if (FILE* f = _wfopen(file.c_str(), L"rb")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
    fclose(f);
  }
  return bytes;
}

void DeployFixture::SetUp() {
  if (Env("OQ_PRODUCT_EXE").empty() || Env("OQ_TEST_WWW").empty()) {
    GTEST_SKIP() << "needs OQ_PRODUCT_EXE and the release server (scripts/test.sh sets them)";
  }
  if (EnvPath("OQ_STANDIN_EXCEL64").empty()) GTEST_SKIP() << "needs the Excel stand-in (OQ_STANDIN_EXCEL64)";
  folder_ = AppDataFolder() + L"\\ORBITQuarry\\";
  Reset();
  SetUpOffice(64);
}

void DeployFixture::SetUpOffice(int bits) {
  RemoveAppPaths();
  const std::wstring standIn = EnvPath(bits == 64 ? "OQ_STANDIN_EXCEL64" : "OQ_STANDIN_EXCEL32");
  ASSERT_FALSE(standIn.empty()) << "no " << bits << "-bit Excel stand-in";
  excelFolder_ = ExcelFolderFor(bits);
  SHCreateDirectoryExW(nullptr, excelFolder_.c_str(), nullptr);
  ASSERT_TRUE(CopyFileW(standIn.c_str(), (excelFolder_ + L"excel.exe").c_str(), FALSE));
  // Office's setup writes the view of its own bitness; the installer, a
  // 32-bit program, must find a 64-bit Office all the same.
  HKEY parent = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAppPathsParent, 0, nullptr, 0,
                            KEY_WRITE | (bits == 64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY), nullptr, &parent, nullptr),
            ERROR_SUCCESS);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(parent, L"excel.exe", 0, nullptr, 0,
                            KEY_WRITE | (bits == 64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY), nullptr, &key, nullptr),
            ERROR_SUCCESS);
  SetString(key, nullptr, excelFolder_ + L"excel.exe");
  SetString(key, L"Path", excelFolder_);
  RegCloseKey(key);
  RegCloseKey(parent);
}

std::wstring DeployFixture::ExcelFolderFor(int bits) {
  return bits == 64 ? L"C:\\Program Files\\Microsoft Office\\root\\Office16\\"
                    : L"C:\\Program Files (x86)\\Microsoft Office\\root\\Office16\\";
}

void DeployFixture::RemoveAppPaths() {
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    HKEY parent = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAppPathsParent, 0, KEY_ALL_ACCESS | view, &parent) == ERROR_SUCCESS) {
      RegDeleteTreeW(parent, L"excel.exe");
      RegCloseKey(parent);
    }
  }
}

void DeployFixture::TearDown() {
  if (folder_.empty()) return;
  Reset();
  RemoveAppPaths();
}

void DeployFixture::Reset() {
  EndExcelProcesses();
  DeleteAddinKeys();
  RegDeleteTreeW(HKEY_CURRENT_USER, standin::kMarksKey);
  // The Excel line names Office's build when one is recorded; the cases
  // expect none, whatever ran in the prefix before.
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Office\\16.0\\Common\\Roaming", L"BuildProvisioned");
  DeleteTree(folder_);
  for (const char* control : kServerBehaviours) SetServerBehaviour(control, false);
  PublishVersionFile("\xEF\xBB\xBF" "1.7.18");
  ServeRelease("good");
}

namespace {

struct BoxSearch {
  const std::wstring* textStart;
  HWND found;
};

BOOL CALLBACK FindBox(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  if (IsWindowVisible(hwnd) && ClassName(hwnd) == L"#32770" &&
      MessageBoxText(hwnd).rfind(*search->textStart, 0) == 0) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

void CloseAndExpectExit(Program& program, HWND main, DWORD expected) {
  Click(ChildById(main, kIdClose));
  DWORD code = 99;
  EXPECT_TRUE(program.WaitExit(10000, &code)) << "the program did not end after Close";
  EXPECT_EQ(code, expected);
}

HWND WaitBoxOfAnyProgram(const std::wstring& textStart, DWORD ms) {
  BoxSearch search{&textStart, nullptr};
  WaitFor(ms, [&] {
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    return search.found != nullptr;
  });
  return search.found;
}

void SetServerBehaviour(const char* control, bool on, const std::string& content) {
  const std::wstring file = EnvPath("OQ_TEST_WWW") + L"\\" + std::wstring(control, control + strlen(control));
  if (!on) {
    DeleteFileW(file.c_str());
    return;
  }
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << control;
  DWORD written = 0;
  WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(h);
}

bool DeployFixture::ServeRelease(const char* name) {
  if (Env("OQ_TEST_RELEASES").empty()) return false;
  const std::wstring from = EnvPath("OQ_TEST_RELEASES") + L"\\" + std::wstring(name, name + strlen(name));
  const std::wstring to = EnvPath("OQ_TEST_WWW") + L"\\files\\publish\\";
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((from + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool copied = true;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      copied &= CopyFileW((from + L"\\" + found.cFileName).c_str(), (to + found.cFileName).c_str(), FALSE) != FALSE;
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return copied;
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

void DeployFixture::ExpectNothingInstalled() {
  for (const wchar_t* name : {L"ORBITQuarry64.dll", L"ORBITQuarry64n.dll", L"ORBITQuarry64.zip",
                              L"ORBITQuarry64.zip.part", L"ORBITQuarry.exe"}) {
    EXPECT_FALSE(Exists(folder_ + name)) << name;
  }
  bool recorded = true;
  AddinString(L"InstallPath", &recorded);
  EXPECT_FALSE(recorded);
  EXPECT_TRUE(standin::ReadMarkString(kRegisteredKey, L"orbitquarry64.dll").empty());
}

void DeployFixture::InstallThroughTheWindow() {
  Program program(Installer());
  HWND main = StartAndWait(program);
  ASSERT_NE(main, nullptr);
  ASSERT_EQ(Text(main, kIdXLL), L"Add-In Version : Not Install");
  ASSERT_EQ(Text(main, kIdPathEdit), folder_);
  const int bits = excelFolder_ == ExcelFolderFor(64) ? 64 : 32;
  EXPECT_EQ(Text(main, kIdExPath), L"Excel Path : " + excelFolder_ + L"execel.exe");
  EXPECT_EQ(Text(main, kIdEx), bits == 64 ? L"Excel Version : Office 2016  - 64 bit"
                                          : L"Excel Version : Office 2016  - 32 bit");
  Click(ChildById(main, kIdInstall));
  Answer(program, L"정상적으로 완료되었습니다.  엑셀을 실행합니다.", L"OK", "install-done");
  DWORD code = 99;
  ASSERT_TRUE(program.WaitExit(20000, &code)) << "the program did not end after the install";
  EXPECT_EQ(code, 0u);
  // Registered before the success box was shown.
  const std::wstring library = bits == 64 ? L"orbitquarry64.dll" : L"orbitquarry32.dll";
  ASSERT_FALSE(standin::ReadMarkString(kRegisteredKey, library.c_str()).empty());
}

}  // namespace oq::e2e
