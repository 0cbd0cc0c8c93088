// The window's own behaviour under Wine: the folder button opens the folder
// picker wherever it is clicked, and cancelling it changes nothing.

#include <gtest/gtest.h>

#include "driver.h"
#include "ui/main_window.h"

namespace oq::e2e {
namespace {

TEST(WindowE2E, EveryPartOfTheFolderButtonOpensThePickerAndCancelChangesNothing) {
  if (Env("OQ_PRODUCT_EXE").empty() || Env("OQ_TEST_WWW").empty()) {
    GTEST_SKIP() << "needs OQ_PRODUCT_EXE and the release server (scripts/test.sh sets them)";
  }
  DeleteAddinKeys();
  Program program(ProgramCopy(L"window\\ORBITQuarrySetup.exe"));
  HWND main = program.WaitMainWindow(30000);
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(WaitFor(30000, [&] { return WindowText(ChildById(main, kIdXLL)) != L"Add-In Version : "; }));
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

}  // namespace
}  // namespace oq::e2e
