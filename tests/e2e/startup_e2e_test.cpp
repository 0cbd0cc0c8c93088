// The real installer under Wine, started the way a user starts it, with its
// window read back through the windows themselves.

#include <gtest/gtest.h>
#include <shlobj.h>

#include "deploy_fixture.h"
#include "driver.h"
#include "ui/main_window.h"

namespace oq::e2e {
namespace {

class StartupE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("OQ_PRODUCT_EXE").empty() || Env("OQ_TEST_WWW").empty()) {
      GTEST_SKIP() << "needs OQ_PRODUCT_EXE and the release server (scripts/test.sh sets them)";
    }
    DeleteAddinKeys();
    PublishVersionFile("\xEF\xBB\xBF" "1.7.18");
  }
  void TearDown() override {
    DeleteAddinKeys();
    PublishVersionFile("\xEF\xBB\xBF" "1.7.18");
  }

  // Starts the program and waits until start-up has filled the window in.
  HWND StartAndWait(Program& program) {
    EXPECT_TRUE(program.Started());
    return program.WaitFilledMainWindow(kStartTimeout);
  }

  std::wstring Text(HWND main, int id) { return WindowText(ChildById(main, id)); }
  bool Enabled(HWND main, int id) { return IsWindowEnabled(ChildById(main, id)) != FALSE; }

  void ExpectCentredOnScreen(HWND main) {
    RECT r{};
    GetWindowRect(main, &r);
    const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ(r.left, (screenW - (r.right - r.left)) / 2);
    EXPECT_EQ(r.top, (screenH - (r.bottom - r.top)) / 2);
  }
};

TEST_F(StartupE2E, UserWithoutTheAddin) {
  Program program(ProgramCopy(L"plain\\ORBITQuarrySetup.exe"));
  HWND main = StartAndWait(program);
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(WindowText(main), L"ORBITQuarry - Ver.1.7.17");
  EXPECT_EQ(Text(main, kIdTitle), L"ORBITQuarry Excel Add-in Library Setup");
  EXPECT_EQ(Text(main, kIdXLL), L"Add-In Version : Not Install");
  EXPECT_EQ(Text(main, kIdPathEdit), AppDataFolder() + L"\\ORBITQuarry\\");
  EXPECT_EQ(Text(main, kIdInstall), L"Install");
  EXPECT_TRUE(Enabled(main, kIdInstall));
  EXPECT_FALSE(Enabled(main, kIdUninstall));
  EXPECT_EQ(Text(main, kIdOS).rfind(L"OS Version : Windows", 0), 0u) << Text(main, kIdOS);
  EXPECT_EQ(Text(main, kIdPath), L"Install Folder : ");
  ExpectCentredOnScreen(main);
  EXPECT_TRUE(SaveScreenshot(main, "startup-not-installed"));
  // The first read left the user an empty add-in key.
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kAddinKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  if (key) RegCloseKey(key);
  CloseAndExpectExit(program, main);
}

TEST_F(StartupE2E, OutdatedInstallation) {
  const std::wstring folder = WinePath(Env("OQ_ARTIFACTS")) + L"\\installs\\outdated\\";
  SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  // Written as the install writes it; start-up looks for it in small letters.
  CloseHandle(CreateFileW((folder + L"ORBITQuarry64.dll").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  SetAddinString(L"LibraryVersion", L"1.7.17.0");
  SetAddinString(L"InstallPath", folder);

  Program program(ProgramCopy(L"plain\\ORBITQuarrySetup.exe"));
  HWND main = StartAndWait(program);
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(Text(main, kIdXLL), L"Add-In Version : 1.7.17.0 (New Version = 1.7.18)");
  EXPECT_EQ(Text(main, kIdInstall), L"Update");
  EXPECT_TRUE(Enabled(main, kIdInstall));
  EXPECT_TRUE(Enabled(main, kIdUninstall));
  EXPECT_EQ(Text(main, kIdPathEdit), folder);
  EXPECT_TRUE(SaveScreenshot(main, "startup-outdated"));
  CloseAndExpectExit(program, main);
}

TEST_F(StartupE2E, PathNamingLumentroveSelectsThatBrand) {
  Program program(ProgramCopy(L"LumenTrove Tools\\setup.exe"));
  HWND main = StartAndWait(program);
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(WindowText(main), L"Lumentrove - Ver.1.7.17");
  EXPECT_EQ(Text(main, kIdTitle), L"Lumentrove Excel Add-in Library Setup");
  EXPECT_EQ(Text(main, kIdPathEdit), AppDataFolder() + L"\\ORBITQuarry\\");
  EXPECT_TRUE(SaveScreenshot(main, "startup-lumentrove"));
  CloseAndExpectExit(program, main);
}

TEST_F(StartupE2E, SecondInstanceEndsAtOnceWithoutAWindow) {
  Program first(ProgramCopy(L"plain\\ORBITQuarrySetup.exe"));
  HWND main = StartAndWait(first);
  ASSERT_NE(main, nullptr);
  Program second(ProgramCopy(L"second\\ORBITQuarrySetup.exe"));
  DWORD code = 99;
  ASSERT_TRUE(second.WaitExit(10000, &code)) << "the second instance kept running";
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(second.TopWindows().empty());
  CloseAndExpectExit(first, main);
}

TEST_F(StartupE2E, MissingVersionFileStillShowsTheWindow) {
  RemoveVersionFile();
  Program program(ProgramCopy(L"plain\\ORBITQuarrySetup.exe"));
  HWND main = StartAndWait(program);
  ASSERT_NE(main, nullptr);
  EXPECT_TRUE(program.TopWindows().size() == 1) << "a message box came up";
  EXPECT_EQ(Text(main, kIdXLL), L"Add-In Version : Not Install");
  CloseAndExpectExit(program, main);
}

TEST_F(StartupE2E, UnreachableServerShowsTheErrorThenTheWindow) {
  // The release server drops every connection while this file exists.
  const std::wstring refuse = WinePath(Env("OQ_TEST_WWW") + "/.refuse");
  CloseHandle(CreateFileW(refuse.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  Program program(ProgramCopy(L"plain\\ORBITQuarrySetup.exe"));
  HWND box = program.WaitMessageBox(kStartTimeout);
  DeleteFileW(refuse.c_str());
  ASSERT_NE(box, nullptr) << "no error box";
  EXPECT_EQ(WindowText(box), L"Excel Add-in Installer");
  const std::wstring message = MessageBoxText(box);
  EXPECT_FALSE(message.empty());
  EXPECT_EQ(message.back(), L'.');
  SaveScreenshot(box, "startup-unreachable-error");
  Click(ButtonByText(box, L"OK"));
  HWND main = program.WaitMainWindow(kStartTimeout);
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(WaitFor(5000, [&] { RECT r{}; GetWindowRect(main, &r); return r.left >= 0; }));
  ExpectCentredOnScreen(main);
  // The window filled in all the same, for Install to try again.
  EXPECT_EQ(WindowText(main), L"ORBITQuarry - Ver.1.7.17");
  EXPECT_EQ(Text(main, kIdXLL), L"Add-In Version : Not Install");
  EXPECT_TRUE(SaveScreenshot(main, "startup-unreachable-window"));
  CloseAndExpectExit(program, main, 2);  // start-up ended in the error box
}

}  // namespace
}  // namespace oq::e2e
