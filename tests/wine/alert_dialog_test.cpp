// The administrator warning under Wine, driven from a second thread the way
// a user would: keys, the close box and the buttons.

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "driver.h"
#include "ui/alert_dialog.h"

namespace oq {
namespace {

HWND WaitForAlert() {
  for (int i = 0; i < 200; ++i) {
    if (HWND hwnd = FindWindowW(L"OQAlert", nullptr); hwnd && IsWindowVisible(hwnd)) return hwnd;
    Sleep(25);
  }
  return nullptr;
}

struct Seen {
  bool found = false;
  std::wstring message, caption, cancelText, continueText;
  bool lumentroveLogo = false, orbitQuarryLogo = false, topmost = false;
  RECT client{};
  e2e::Image shot;
};

std::wstring Text(HWND hwnd) {
  wchar_t buffer[512] = {};
  GetWindowTextW(hwnd, buffer, 512);
  return buffer;
}

// Shows the warning on this thread while `act` drives it from another one.
int RunAlert(bool lumentrove, Seen& seen, const std::function<void(HWND)>& act) {
  std::thread driver([&] {
    HWND alert = WaitForAlert();
    if (!alert) return;
    seen.found = true;
    Sleep(200);  // painted by now
    seen.caption = Text(alert);
    seen.message = Text(GetDlgItem(alert, kIdAlertMessage));
    seen.cancelText = Text(GetDlgItem(alert, kAlertCancel));
    seen.continueText = Text(GetDlgItem(alert, kAlertContinue));
    seen.lumentroveLogo = IsWindowVisible(GetDlgItem(alert, kIdAlertLumentroveLogo)) != FALSE;
    seen.orbitQuarryLogo = IsWindowVisible(GetDlgItem(alert, kIdAlertOrbitQuarryLogo)) != FALSE;
    seen.topmost = (GetWindowLongW(alert, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    GetClientRect(alert, &seen.client);
    e2e::CaptureWindow(alert, seen.shot);
    act(alert);
  });
  const int result = ShowAlertDialog(GetModuleHandleW(nullptr), nullptr, lumentrove);
  driver.join();
  return result;
}

TEST(AlertDialogTest, ShowsTheFixedMessageAndTheRunningBrandsLogo) {
  for (bool lumentrove : {false, true}) {
    Seen seen;
    const int result = RunAlert(lumentrove, seen, [](HWND alert) { PostMessageW(alert, WM_CLOSE, 0, 0); });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(result, kAlertClosed);
    EXPECT_EQ(seen.caption, L"");
    EXPECT_EQ(seen.message,
              L"ORBITQuarry Excel Addin을 설치하기 위한Administrator 권한이 확인되지 않습니다.\n\n"
              L"정상적으로 설치되지 않을 수 있습니다. 계속하시겠습니까?");
    EXPECT_EQ(seen.cancelText, L"취    소");
    EXPECT_EQ(seen.continueText, L"계    속");
    EXPECT_EQ(seen.lumentroveLogo, lumentrove);
    EXPECT_EQ(seen.orbitQuarryLogo, !lumentrove);
    EXPECT_TRUE(seen.topmost);
    EXPECT_EQ(seen.client.right, 511);
    EXPECT_EQ(seen.client.bottom, 206);

    // Against the reference picture of the brand's warning.
    const std::string name = lumentrove ? "alert-lt" : "alert-oq";
    const std::wstring wide(name.begin(), name.end());
    if (!e2e::Env("OQ_ARTIFACTS").empty()) {
      e2e::WritePng(seen.shot, e2e::WinePath(e2e::Env("OQ_ARTIFACTS")) + L"\\" + wide + L".png");
    }
    e2e::Image expected;
    ASSERT_TRUE(e2e::ReadPng(e2e::WinePath(OQ_E2E_REFERENCE_DIR) + L"\\" + wide + L".png", expected))
        << "no reference " << name << ".png; the new screenshot is in the artefacts folder";
    const double share = e2e::DifferingShare(seen.shot, expected, 16);
    EXPECT_LE(share, 0.0005) << name << ": " << share * 100 << " % of the pixels differ";
  }
}

TEST(AlertDialogTest, EachWayOutGivesItsOwnResult) {
  struct Case {
    const char* what;
    std::function<void(HWND)> act;
    int expected;
  };
  const Case cases[] = {
      // The cancel button has the focus when the warning opens.
      {"Enter", [](HWND alert) {
         HWND focused = GetDlgItem(alert, kAlertCancel);
         PostMessageW(focused, WM_KEYDOWN, VK_RETURN, 0);
         PostMessageW(focused, WM_KEYUP, VK_RETURN, 0);
       }, kAlertCancel},
      {"continue button", [](HWND alert) { SendMessageW(GetDlgItem(alert, kAlertContinue), BM_CLICK, 0, 0); },
       kAlertContinue},
      {"close box", [](HWND alert) { PostMessageW(alert, WM_SYSCOMMAND, SC_CLOSE, 0); }, kAlertClosed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Seen seen;
    EXPECT_EQ(RunAlert(false, seen, c.act), c.expected);
    EXPECT_TRUE(seen.found);
  }
}

TEST(AlertDialogTest, EscapeDoesNotEndIt) {
  Seen seen;
  bool openAfterEscape = false;
  const int result = RunAlert(false, seen, [&](HWND alert) {
    PostMessageW(GetDlgItem(alert, kAlertCancel), WM_KEYDOWN, VK_ESCAPE, 0);
    Sleep(500);
    openAfterEscape = IsWindow(alert) && IsWindowVisible(alert);
    PostMessageW(alert, WM_SYSCOMMAND, SC_CLOSE, 0);
  });
  EXPECT_TRUE(openAfterEscape);
  EXPECT_EQ(result, kAlertClosed);
}

}  // namespace
}  // namespace oq
