// Install, update and uninstall with the real installer under Wine: the
// buttons clicked and the boxes answered as a user would, then the folder,
// the registry and the stand-ins' marks read back.

#include <cstdio>
#include <string>

#include "../standins/standin_marks.h"
#include "deploy_fixture.h"

#include <shellapi.h>
#include <shlobj.h>

#include "ui/main_window.h"

namespace oq::e2e {
namespace {

using DeployE2E = DeployFixture;
// The release folder served by Debian's nginx with the sample site
// configuration instead of the bundled server: scripts/test.sh swaps it in
// on the same port (testbed_serve_nginx) and runs these cases alone.
using NginxE2E = DeployFixture;

// Whether a line of nginx's access log (combined format) shows `path`
// fetched with GET and answered with `status`.
bool Served(const std::string& log, const std::string& path, int status) {
  const std::string request = "\"GET " + path + " HTTP/1.1\" " + std::to_string(status) + " ";
  return log.find(request) != std::string::npos;
}

TEST_F(DeployE2E, FirstInstall) {
  InstallThroughTheWindow();

  const std::wstring library = folder_ + L"ORBITQuarry64.dll";
  ASSERT_TRUE(Exists(library));
  EXPECT_TRUE(Exists(folder_ + L"ORBITQuarry.exe"));
  EXPECT_TRUE(Exists(folder_ + L"docs\\readme.txt"));
  EXPECT_FALSE(Exists(folder_ + L"ORBITQuarry64.zip"));
  EXPECT_FALSE(Exists(folder_ + L"ORBITQuarry64n.dll"));

  EXPECT_EQ(AddinString(L"Description"), L"ORBITQuarry Excel Add-in Library");
  EXPECT_EQ(AddinString(L"FriendlyName"), L"ORBITQuarry Excel Add-in Library");
  EXPECT_EQ(AddinString(L"InstallPath"), folder_);
  EXPECT_EQ(AddinString(L"LibraryName"), L"ORBITQuarry64");
  EXPECT_EQ(AddinString(L"InstallDate").size(), 19u);
  const std::wstring version = FileVersionOf(library);
  EXPECT_FALSE(version.empty());
  EXPECT_EQ(AddinString(L"LibraryVersion"), version);
  DWORD loadBehavior = 0, size = sizeof loadBehavior;
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kAddinKey, L"LoadBehavior", RRF_RT_REG_DWORD, nullptr, &loadBehavior,
                         &size),
            ERROR_SUCCESS);
  EXPECT_EQ(loadBehavior, 3u);

  EXPECT_EQ(_wcsicmp(standin::ReadMarkString(kRegisteredKey, L"orbitquarry64.dll").c_str(), library.c_str()), 0);
  // The 64-bit registration tool, although a 32-bit program asked for it.
  EXPECT_EQ(_wcsicmp(standin::ReadMarkString(kRegisteredKey, L"orbitquarry64.dll.by").c_str(),
                     L"C:\\windows\\system32\\regsvr32.exe"),
            0)
      << standin::ReadMarkString(kRegisteredKey, L"orbitquarry64.dll.by");
  EXPECT_TRUE(WaitFor(10000, [] { return standin::ReadMarkDword(standin::kMarksKey, L"ExcelStarts") == 1; }));
  EXPECT_EQ(ExcelProcesses().size(), 1u);
}

// A 32-bit Office on 64-bit Windows: the 32-bit package, registered by
// regsvr32 as the 32-bit library it is.
TEST_F(DeployE2E, FirstInstallWithThirtyTwoBitOffice) {
  SetUpOffice(32);
  InstallThroughTheWindow();

  const std::wstring library = folder_ + L"ORBITQuarry32.dll";
  ASSERT_TRUE(Exists(library));
  EXPECT_FALSE(Exists(folder_ + L"ORBITQuarry64.dll"));
  EXPECT_FALSE(Exists(folder_ + L"ORBITQuarry32n.dll"));
  EXPECT_EQ(AddinString(L"LibraryName"), L"ORBITQuarry32");
  EXPECT_EQ(AddinString(L"LibraryVersion"), FileVersionOf(library));
  EXPECT_EQ(_wcsicmp(standin::ReadMarkString(kRegisteredKey, L"orbitquarry32.dll").c_str(), library.c_str()), 0);
  EXPECT_EQ(_wcsicmp(standin::ReadMarkString(kRegisteredKey, L"orbitquarry32.dll.by").c_str(),
                     L"C:\\windows\\syswow64\\regsvr32.exe"),
            0)
      << standin::ReadMarkString(kRegisteredKey, L"orbitquarry32.dll.by");
  EXPECT_TRUE(standin::ReadMarkString(kRegisteredKey, L"orbitquarry64.dll").empty());
  EXPECT_TRUE(WaitFor(10000, [] { return standin::ReadMarkDword(standin::kMarksKey, L"ExcelStarts") == 1; }));
}

TEST_F(NginxE2E, FirstInstall) {
  if (Env("OQ_TEST_HOST") != "nginx") GTEST_SKIP() << "needs nginx serving the release (scripts/test.sh)";
  InstallThroughTheWindow();
  ASSERT_FALSE(HasFailure());

  const std::wstring library = folder_ + L"ORBITQuarry64.dll";
  ASSERT_TRUE(Exists(library));
  EXPECT_TRUE(Exists(folder_ + L"docs\\readme.txt"));
  EXPECT_EQ(AddinString(L"LibraryVersion"), FileVersionOf(library));
  EXPECT_EQ(_wcsicmp(standin::ReadMarkString(kRegisteredKey, L"orbitquarry64.dll").c_str(), library.c_str()), 0);
  // nginx, not a server left over, answered the installer's requests.
  const std::string log = ReadAll(EnvPath("OQ_NGINX_ACCESS_LOG"));
  EXPECT_TRUE(Served(log, "/files/publish/xlllibver.txt", 200)) << log;
  EXPECT_TRUE(Served(log, "/files/publish/ORBITQuarry64n.zip", 200)) << log;
}

TEST_F(DeployE2E, UpdateWhileExcelRuns) {
  InstallThroughTheWindow();
  ASSERT_FALSE(HasFailure());
  EndExcelProcesses();
  // An older record makes the window offer the update.
  SetAddinString(L"LibraryVersion", L"1.7.17.0");
  SetAddinString(L"InstallDate", L"2025-01-01 00:00:00");
  Program excel(EnvPath("OQ_STANDIN_EXCEL64"));
  ASSERT_TRUE(WaitFor(10000, [] { return ExcelProcesses().size() == 1; }));

  Program program(Installer());
  HWND main = StartAndWait(program);
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(Text(main, kIdInstall), L"Update");
  EXPECT_EQ(Text(main, kIdXLL), L"Add-In Version : 1.7.17.0 (New Version = 1.7.18)");
  SaveScreenshot(main, "update-offered");
  Click(ChildById(main, kIdInstall));
  Answer(program, L"Excel이 실행중입니다. Excel 창을 모두 닫고 다시 시도하세요.", L"&Yes", "update-excel-running");
  Answer(program, L"Excel을 강제 종료하시겠습니까? 저장되지 않은 데이터를 확인하세요.", L"&Yes", "update-end-excel");
  DWORD excelCode = 99;
  EXPECT_TRUE(excel.WaitExit(10000, &excelCode)) << "the running Excel was not ended";
  Answer(program, L"정상적으로 완료되었습니다.  엑셀을 실행합니다.", L"OK");
  EXPECT_TRUE(program.WaitExit(20000));

  EXPECT_EQ(AddinString(L"LibraryVersion"), FileVersionOf(folder_ + L"ORBITQuarry64.dll"));
  EXPECT_NE(AddinString(L"InstallDate"), L"2025-01-01 00:00:00");
  EXPECT_TRUE(WaitFor(10000, [] { return standin::ReadMarkDword(kRegisteredKey, L"orbitquarry64.dll.count") == 2; }));
}

TEST_F(DeployE2E, VersionFileWithoutAMarkOrWithALineBreakOffersTheUpdate) {
  InstallThroughTheWindow();
  ASSERT_FALSE(HasFailure());
  EndExcelProcesses();
  for (const char* body : {"1.7.18", "1.7.18\r\n"}) {
    SCOPED_TRACE(body);
    PublishVersionFile(body);
    SetAddinString(L"LibraryVersion", L"1.7.17.0");
    Program program(Installer());
    HWND main = StartAndWait(program);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(Text(main, kIdXLL), L"Add-In Version : 1.7.17.0 (New Version = 1.7.18)");
    EXPECT_TRUE(IsWindowEnabled(ChildById(main, kIdInstall)));
    CloseAndExpectExit(program, main);  // closed with nothing attempted
  }
}

TEST_F(DeployE2E, UninstallFromATypedFolderLeavesTheUsersFiles) {
  const std::wstring typed = L"C:\\Tools Typed\\";
  DeleteTree(typed);
  SHCreateDirectoryExW(nullptr, (typed + L"mine").c_str(), nullptr);
  for (const wchar_t* name : {L"notes.txt", L"mine\\table.csv"}) {
    CloseHandle(CreateFileW((typed + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  }
  {
    Program program(Installer());
    HWND main = StartAndWait(program);
    ASSERT_NE(main, nullptr);
    HWND path = ChildById(main, kIdPathEdit);
    SendMessageW(path, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
    ASSERT_EQ(WindowText(path), typed);
    Click(ChildById(main, kIdInstall));
    Answer(program, L"정상적으로 완료되었습니다.  엑셀을 실행합니다.", L"OK");
    ASSERT_TRUE(program.WaitExit(20000));
  }
  ASSERT_TRUE(Exists(typed + L"ORBITQuarry64.dll"));
  EXPECT_EQ(AddinString(L"InstallPath"), typed);
  EndExcelProcesses();
  SetAddinString(L"LibraryVersion", L"1.7.17.0");  // so that the window waits for the user

  Program program(Installer());
  HWND main = StartAndWait(program);
  ASSERT_NE(main, nullptr);
  Click(ChildById(main, kIdUninstall));
  Answer(program, L"정상적으로 삭제되었습니다.", L"OK");
  CloseAndExpectExit(program, main);

  for (const wchar_t* gone : {L"ORBITQuarry64.dll", L"ORBITQuarry.exe", L"docs\\readme.txt", L"docs",
                              L"ORBITQuarry.files"}) {
    EXPECT_FALSE(Exists(typed + gone)) << "still there: " << gone;
  }
  EXPECT_TRUE(Exists(typed + L"notes.txt"));
  EXPECT_TRUE(Exists(typed + L"mine\\table.csv"));
  DeleteTree(typed);
}

TEST_F(DeployE2E, Uninstall) {
  InstallThroughTheWindow();
  ASSERT_FALSE(HasFailure());
  EndExcelProcesses();
  SetAddinString(L"LibraryVersion", L"1.7.17.0");
  // Forms the add-in saved for itself.
  HKEY form = nullptr;
  RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kAddinKey) + L"\\ADXXLForm").c_str(), 0, nullptr, 0, KEY_WRITE,
                  nullptr, &form, nullptr);
  if (form) RegCloseKey(form);

  Program program(Installer());
  HWND main = StartAndWait(program);
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(IsWindowEnabled(ChildById(main, kIdUninstall)));
  // Start-up has read the library's version back into the record by now.
  const std::wstring recordedVersion = AddinString(L"LibraryVersion");
  Click(ChildById(main, kIdUninstall));
  Answer(program, L"정상적으로 삭제되었습니다.", L"OK", "uninstall-done");

  EXPECT_FALSE(Exists(folder_));
  EXPECT_TRUE(standin::ReadMarkString(kRegisteredKey, L"orbitquarry64.dll").empty());
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(kAddinKey) + L"\\ADXXLForm").c_str(), 0, KEY_READ, &key),
            ERROR_SUCCESS);
  if (key) RegCloseKey(key);
  EXPECT_EQ(AddinString(L"InstallPath"), folder_);
  EXPECT_EQ(AddinString(L"LibraryVersion"), recordedVersion);

  EXPECT_TRUE(WaitFor(5000, [&] { return Text(main, kIdXLL) == L"Add-In Version : Not Install"; }));
  EXPECT_EQ(Text(main, kIdInstall), L"Install");
  EXPECT_FALSE(IsWindowEnabled(ChildById(main, kIdUninstall)));
  EXPECT_TRUE(IsWindowEnabled(ChildById(main, kIdInstall)));
  EXPECT_TRUE(IsWindowEnabled(ChildById(main, kIdClose)));
  SaveScreenshot(main, "uninstall-window");
  Click(ChildById(main, kIdClose));
  EXPECT_TRUE(program.WaitExit(10000));
}

}  // namespace
}  // namespace oq::e2e
