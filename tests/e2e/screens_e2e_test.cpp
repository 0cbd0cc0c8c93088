// The main window as it looks, against reference screenshots kept in
// tests/e2e/reference: both brands, with and without an installation. The
// tolerance passes a few stray pixels but not a control that moved or
// changed colour: a button shifted by 3 pixels changes about 0.15 % of the
// window, its outline turned from silver to medium grey about 0.1 %, by 32
// in each channel.

#include <gtest/gtest.h>

#include <cstdio>

#include "driver.h"
#include "ui/main_window.h"

namespace oq::e2e {
namespace {

constexpr int kChannelTolerance = 16;
constexpr double kMaxDifferingShare = 0.0005;

class ScreensE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("OQ_PRODUCT_EXE").empty() || Env("OQ_TEST_WWW").empty()) {
      GTEST_SKIP() << "needs OQ_PRODUCT_EXE and the release server (scripts/test.sh sets them)";
    }
    DeleteAddinKeys();
    PublishVersionFile("\xEF\xBB\xBF" "1.7.18");
    SetCursorPos(0, 0);  // nothing under the mouse
  }
  void TearDown() override { DeleteAddinKeys(); }

  // An installation the window finds, in a folder whose name is the same on
  // every machine.
  void RecordInstallation() {
    const std::wstring folder = L"C:\\OQ Screens\\ORBITQuarry\\";
    CreateDirectoryW(L"C:\\OQ Screens", nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    CloseHandle(CreateFileW((folder + L"ORBITQuarry64.dll").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                            nullptr));
    SetAddinString(L"LibraryVersion", L"1.7.17.0");
    SetAddinString(L"InstallPath", folder);
  }

  void CompareWithReference(const std::wstring& programPath, const std::string& name) {
    Program program(ProgramCopy(programPath));
    HWND main = program.WaitMainWindow(30000);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(WaitFor(30000, [&] {
      RECT r{};
      GetWindowRect(main, &r);
      return r.left >= 0 && WindowText(ChildById(main, kIdXLL)) != L"Add-In Version : ";
    }));
    Sleep(700);  // painted
    Image shot;
    ASSERT_TRUE(CaptureWindow(main, shot));
    const std::wstring saved = WinePath(Env("OQ_ARTIFACTS")) + L"\\screens\\";
    CreateDirectoryW(saved.c_str(), nullptr);
    ASSERT_TRUE(WritePng(shot, saved + std::wstring(name.begin(), name.end()) + L".png"));
    Click(ChildById(main, kIdClose));
    program.WaitExit(10000);

    const std::wstring reference =
        WinePath(OQ_E2E_REFERENCE_DIR) + L"\\" + std::wstring(name.begin(), name.end()) + L".png";
    Image expected;
    ASSERT_TRUE(ReadPng(reference, expected))
        << "no reference " << name << ".png; the new screenshot is in the artefacts' screens folder";
    const double share = DifferingShare(shot, expected, kChannelTolerance);
    std::printf("%s: %.3f %% of the pixels differ from the reference\n", name.c_str(), share * 100);
    EXPECT_LE(share, kMaxDifferingShare) << name << ": " << share * 100 << " % of the pixels differ";
  }
};

TEST_F(ScreensE2E, OrbitQuarryNotInstalled) { CompareWithReference(L"screens\\ORBITQuarrySetup.exe", "oq-not-installed"); }

TEST_F(ScreensE2E, OrbitQuarryInstalled) {
  RecordInstallation();
  CompareWithReference(L"screens\\ORBITQuarrySetup.exe", "oq-installed");
}

TEST_F(ScreensE2E, LumentroveNotInstalled) {
  CompareWithReference(L"screens\\Lumentrove\\setup.exe", "lt-not-installed");
}

TEST_F(ScreensE2E, LumentroveInstalled) {
  RecordInstallation();
  CompareWithReference(L"screens\\Lumentrove\\setup.exe", "lt-installed");
}

}  // namespace
}  // namespace oq::e2e
