// The window's own behaviour under Wine: the folder button opens the folder
// picker wherever it is clicked, cancelling it changes nothing, and what the
// user picks becomes the install folder.

#include <gtest/gtest.h>

#include "driver.h"
#include "ui/main_window.h"

namespace oq::e2e {
namespace {

class WindowE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("OQ_PRODUCT_EXE").empty() || Env("OQ_TEST_WWW").empty()) {
      GTEST_SKIP() << "needs OQ_PRODUCT_EXE and the release server (scripts/test.sh sets them)";
    }
    DeleteAddinKeys();
  }
};

TEST_F(WindowE2E, EveryPartOfTheFolderButtonOpensThePickerAndCancelChangesNothing) {
  Program program(ProgramCopy(L"window\\ORBITQuarrySetup.exe"));
  HWND main = program.WaitFilledMainWindow(30000);
  ASSERT_NE(main, nullptr);
  ASSERT_NE(WindowText(ChildById(main, kIdXLL)), L"Add-In Version : ");
  const std::wstring before = WindowText(ChildById(main, kIdPathEdit));
  HWND picture = ChildById(main, kIdFolderPicture);
  ASSERT_NE(picture, nullptr);
  RECT r{};
  GetClientRect(picture, &r);
  EXPECT_EQ(r.right, 31);
  EXPECT_EQ(r.bottom, 24);
  for (POINT at : {POINT{0, 0}, POINT{30, 23}, POINT{15, 12}, POINT{30, 0}, POINT{0, 23}}) {
    SCOPED_TRACE(testing::Message() << at.x << "," << at.y);
    PostMessageW(picture, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
    PostMessageW(picture, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    HWND picker = program.WaitMessageBox(15000);
    ASSERT_NE(picker, nullptr) << "no folder picker came up";
    if (at.x == 15) SaveScreenshot(picker, "folder-picker");
    PostMessageW(picker, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitFor(10000, [&] { return !IsWindow(picker); }));
    EXPECT_TRUE(IsWindow(main)) << "the click closed the window";
    EXPECT_EQ(WindowText(ChildById(main, kIdPathEdit)), before);
  }
  Click(ChildById(main, kIdClose));
  EXPECT_TRUE(program.WaitExit(10000));
}

// The picker is Wine's own item dialog; its file name box is the common
// dialogs' edt1, and typing a path there and pressing OK picks that folder.
constexpr int kPickerNameBox = 0x480;

TEST_F(WindowE2E, PickedFolderOrDriveRootBecomesTheInstallFolder) {
  const std::wstring folder = L"C:\\Picked Folder";
  CreateDirectoryW(folder.c_str(), nullptr);
  ASSERT_NE(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES);

  Program program(ProgramCopy(L"window\\ORBITQuarrySetup.exe"));
  HWND main = program.WaitFilledMainWindow(30000);
  ASSERT_NE(main, nullptr);
  ASSERT_NE(WindowText(ChildById(main, kIdXLL)), L"Add-In Version : ");
  HWND path = ChildById(main, kIdPathEdit);
  struct Pick {
    std::wstring typed, expected;
  };
  for (const Pick& pick : {Pick{folder, L"C:\\Picked Folder\\ORBITQuarry\\"}, Pick{L"C:\\", L"C:\\ORBITQuarry\\"}}) {
    SCOPED_TRACE(testing::Message() << "typed " << pick.typed.size() << " characters");
    Click(ChildById(main, kIdFolderButton));
    HWND picker = program.WaitMessageBox(15000);
    ASSERT_NE(picker, nullptr) << "no folder picker came up";
    HWND nameBox = GetDlgItem(picker, kPickerNameBox);
    ASSERT_NE(nameBox, nullptr);
    SendMessageW(nameBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(pick.typed.c_str()));
    PostMessageW(picker, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(picker, IDOK)));
    ASSERT_TRUE(WaitFor(10000, [&] { return !IsWindow(picker); })) << "the picker did not take the folder";
    WaitFor(5000, [&] { return WindowText(path) == pick.expected; });
    EXPECT_EQ(WindowText(path), pick.expected);
  }
  Click(ChildById(main, kIdClose));
  EXPECT_TRUE(program.WaitExit(10000));
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace oq::e2e
