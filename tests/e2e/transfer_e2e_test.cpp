// The package's transfer with the real installer under Wine, against the
// release server behaving as slow links, broken connections, redirects and
// outages do: the window keeps answering, a close cuts the transfer short
// with nothing left behind, a cut is taken up where it stopped, and every
// failure names its cause.

#include "deploy_fixture.h"

#include <commctrl.h>

#include <algorithm>

#include "ui/main_window.h"

namespace oq::e2e {
namespace {

class TransferE2E : public DeployFixture {
 protected:
  void SetUp() override {
    DeployFixture::SetUp();
    if (IsSkipped() || HasFailure()) return;
    base_ = EnvPath("OQ_TEST_BASE_URL");
  }
  int ProgressOf(HWND main) {
    return static_cast<int>(SendMessageW(ChildById(main, kIdProgress), PBM_GETPOS, 0, 0));
  }
  // The release server's log since the case began.
  std::string ServerLog() { return ReadAll(EnvPath("OQ_ARTIFACTS") + L"\\release-server.log"); }

  std::wstring base_;
};

// A package that trickles in, or a server that takes the request and never
// answers: the window answers at once all along (and its bar moves with the
// bytes); closing it ends the program, nothing kept.
TEST_F(TransferE2E, SlowTransferKeepsTheWindowAnsweringAndCloseEndsIt) {
  for (const char* behaviour : {".trickle", ".stall"}) {
    SCOPED_TRACE(behaviour);
    SetServerBehaviour(behaviour, true, "4000");
    Program program(Installer());
    HWND main = StartAndWait(program);
    ASSERT_NE(main, nullptr);
    Click(ChildById(main, kIdInstall));
    ASSERT_TRUE(WaitFor(20000, [&] { return Exists(folder_ + L"ORBITQuarry64.zip.part"); }))
        << "the download did not begin";
    const int before = ProgressOf(main);
    DWORD slowest = 0;
    for (int round = 0; round < 20; ++round) {
      DWORD_PTR result = 0;
      const DWORD start = GetTickCount();
      EXPECT_NE(SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result), 0) << "round " << round;
      slowest = std::max(slowest, GetTickCount() - start);
      Sleep(100);
    }
    EXPECT_LT(slowest, 100u) << "the window took that long to answer";
    if (std::string(behaviour) == ".trickle") {
      EXPECT_GT(ProgressOf(main), before) << "the bar did not move with the bytes";
      SaveScreenshot(main, "transfer-trickling");
    }
    EXPECT_TRUE(IsWindowEnabled(ChildById(main, kIdClose)));
    EXPECT_FALSE(IsWindowEnabled(ChildById(main, kIdInstall)));

    PostMessageW(main, WM_CLOSE, 0, 0);
    const DWORD closed = GetTickCount();
    // Gone from the screen within two seconds. The process itself ends up
    // to two more later here: with no window manager on the test bed's
    // display, Wine waits that long for one to withdraw the window.
    ASSERT_TRUE(WaitFor(5000, [&] { return !IsWindowVisible(main); }));
    EXPECT_LT(GetTickCount() - closed, 2000u);
    DWORD code = 99;
    ASSERT_TRUE(program.WaitExit(5000, &code));
    EXPECT_EQ(code, 1u);
    ExpectNothingInstalled();
    // The folder this first install made is gone with it.
    EXPECT_FALSE(Exists(folder_));
    SetServerBehaviour(behaviour, false);
  }
}

// An unattended update whose window is closed (a logoff, a script) ends the
// same way, the working install untouched.
TEST_F(TransferE2E, UpdateModeClosedDuringItsTransferKeepsTheInstall) {
  InstallThroughTheWindow();
  ASSERT_FALSE(HasFailure());
  EndExcelProcesses();
  const std::wstring library = folder_ + L"ORBITQuarry64.dll";
  const std::string bytes = ReadAll(library);
  SetAddinString(L"LibraryVersion", L"1.7.17.0");
  const std::wstring date = AddinString(L"InstallDate");
  SetServerBehaviour(".trickle", true, "4000");
  Program program(Installer(), L"UPDATE");
  ASSERT_TRUE(WaitFor(20000, [&] { return Exists(folder_ + L"ORBITQuarry64.zip.part"); }));
  HWND main = nullptr;
  ASSERT_TRUE(WaitFor(5000, [&] { return (main = program.MainWindowShownOrNot()) != nullptr; }));
  PostMessageW(main, WM_CLOSE, 0, 0);
  DWORD code = 99;
  ASSERT_TRUE(program.WaitExit(5000, &code));
  EXPECT_EQ(code, 1u);
  EXPECT_EQ(ReadAll(library), bytes);
  EXPECT_EQ(AddinString(L"InstallDate"), date);
  EXPECT_FALSE(Exists(folder_ + L"ORBITQuarry64.zip.part"));
  EXPECT_TRUE(ExcelProcesses().empty());
}

// Every response breaks off half-way: the second asks for the rest, and the
// install completes.
TEST_F(TransferE2E, PackageCutHalfWayOnEveryResponseIsResumed) {
  SetServerBehaviour(".cut", true);
  InstallThroughTheWindow();
  ASSERT_FALSE(HasFailure());
  EXPECT_TRUE(Exists(folder_ + L"ORBITQuarry64.dll"));
  const std::string log = ServerLog();
  EXPECT_NE(log.find("Range: bytes="), std::string::npos) << log;
  EXPECT_NE(log.find(" 206 "), std::string::npos) << log;
}

// Down at start (the error box), back before Install: Install works.
TEST_F(TransferE2E, ServerBackAfterAFailedStartInstalls) {
  SetServerBehaviour(".refuse", true);
  Program program(Installer());
  HWND box = program.WaitMessageBox(kStartTimeout);
  ASSERT_NE(box, nullptr);
  Click(ButtonByText(box, L"OK"));
  HWND main = program.WaitMainWindow(10000);
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(WaitFor(10000, [&] { return Text(main, kIdPathEdit) == folder_; }));
  SetServerBehaviour(".refuse", false);
  Click(ChildById(main, kIdInstall));
  Answer(program, L"정상적으로 완료되었습니다.  엑셀을 실행합니다.", L"OK");
  DWORD code = 99;
  ASSERT_TRUE(program.WaitExit(20000, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(Exists(folder_ + L"ORBITQuarry64.dll"));
}

// A redirect from the https server to plain http is refused by name.
TEST_F(TransferE2E, RedirectToPlainHttpIsRefusedByName) {
  SetServerBehaviour(".redirect-http", true);
  Program program(Installer());
  HWND main = StartAndWait(program);
  ASSERT_NE(main, nullptr);
  Click(ChildById(main, kIdInstall));
  const std::wstring http = L"http://" + base_.substr(8) + L"files/publish/ORBITQuarry64n.zip";
  Answer(program, L"서버가 보안 연결(https)이 아닌 주소로 보내려 하여 거부했습니다: " + http + L".", L"OK",
         "transfer-redirect-http");
  ExpectNothingInstalled();
  Click(ChildById(main, kIdClose));
  DWORD code = 99;
  ASSERT_TRUE(program.WaitExit(10000, &code));
  EXPECT_EQ(code, 2u);
}

// A certificate that has expired, names another host, or comes from an
// authority nobody trusts: the start-up's error says which.
TEST_F(TransferE2E, CertificateFailuresSayWhich) {
  struct Case {
    const char* behaviour;
    std::wstring text;
  };
  const Case cases[] = {
      {".cert-expired", L"서버(localhost)의 인증서가 만료되었거나 아직 유효하지 않습니다. 컴퓨터의 날짜와 시간을 확인하세요."},
      {".cert-wronghost", L"서버의 인증서가 다른 호스트용으로 발급되어 localhost의 인증서로 인정할 수 없습니다."},
      {".cert-untrusted", L"서버(localhost)의 인증서를 발급한 기관을 이 컴퓨터가 신뢰하지 않습니다."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.behaviour);
    SetServerBehaviour(c.behaviour, true);
    Program program(Installer());
    HWND box = program.WaitMessageBox(kStartTimeout);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), c.text);
    SaveScreenshot(box, std::string("transfer") + c.behaviour);
    Click(ButtonByText(box, L"OK"));
    HWND main = program.WaitMainWindow(10000);
    ASSERT_NE(main, nullptr);
    CloseAndExpectExit(program, main, 2);
    SetServerBehaviour(c.behaviour, false);
  }
}

}  // namespace
}  // namespace oq::e2e
