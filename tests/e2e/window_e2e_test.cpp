// The window's own behaviour under Wine: the folder button opens the folder
// picker wherever it is clicked, on the release as a button does, cancelling
// it changes nothing, and what the user picks becomes the install folder.

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

// The real mouse, as the user's: the cursor moved and the left button
// pressed or released where it is.
void MouseAt(POINT screen) {
  SetCursorPos(screen.x, screen.y);
  Sleep(100);
}
void LeftButton(bool down) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
  SendInput(1, &input, sizeof input);
}

TEST_F(WindowE2E, FolderButtonOpensThePickerOnReleaseInsideIt) {
  Program program(ProgramCopy(L"window\\ORBITQuarrySetup.exe"));
  HWND main = program.WaitFilledMainWindow(30000);
  ASSERT_NE(main, nullptr);
  ASSERT_NE(WindowText(ChildById(main, kIdXLL)), L"Add-In Version : ");
  SetForegroundWindow(main);
  const std::wstring before = WindowText(ChildById(main, kIdPathEdit));
  HWND picture = ChildById(main, kIdFolderPicture);
  ASSERT_NE(picture, nullptr);
  RECT r{};
  GetClientRect(picture, &r);
  EXPECT_EQ(r.right, 31);
  EXPECT_EQ(r.bottom, 24);
  // Every part of the picture, which covers the whole button.
  for (POINT at : {POINT{0, 0}, POINT{30, 23}, POINT{15, 12}, POINT{30, 0}, POINT{0, 23}}) {
    SCOPED_TRACE(testing::Message() << at.x << "," << at.y);
    ClientToScreen(picture, &at);
    MouseAt(at);
    LeftButton(true);
    EXPECT_EQ(program.WaitMessageBox(1000), nullptr) << "the picker opened on the press";
    LeftButton(false);
    HWND picker = program.WaitMessageBox(15000);
    ASSERT_NE(picker, nullptr) << "no folder picker came up on the release";
    if (at.x == 15) SaveScreenshot(picker, "folder-picker");
    PostMessageW(picker, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitFor(10000, [&] { return !IsWindow(picker); }));
    EXPECT_TRUE(IsWindow(main)) << "the click closed the window";
    EXPECT_EQ(WindowText(ChildById(main, kIdPathEdit)), before);
  }
  // Pressed on it, released off it: no click, as with any button.
  POINT on{15, 12}, off{15, -40};
  ClientToScreen(picture, &on);
  ClientToScreen(picture, &off);
  MouseAt(on);
  LeftButton(true);
  MouseAt(off);
  LeftButton(false);
  EXPECT_EQ(program.WaitMessageBox(2000), nullptr) << "a release outside the button opened the picker";
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
