// The installer behind a company proxy, set the way Internet Options write
// it into the user's registry: a fixed proxy, a proxy auto-configuration
// script, a bypass entry, and a proxy that wants a sign-in. While a case runs
// the release server takes only the test proxy's tunnels, so a request that
// ignores the settings fails.

#include <fstream>

#include "deploy_fixture.h"
#include "ui/main_window.h"

namespace oq::e2e {
namespace {

constexpr wchar_t kConnections[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
constexpr DWORD kDirect = 1, kFixedProxy = 2, kScript = 4, kDetect = 8;

class ProxyE2E : public DeployFixture {
 protected:
  void SetUp() override {
    DeployFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (Env("OQ_TEST_PROXY_PORT").empty()) GTEST_SKIP() << "needs the test proxy (scripts/testbed.sh starts it)";
    const std::string port = Env("OQ_TEST_PROXY_PORT"), authPort = Env("OQ_TEST_PROXY_AUTH_PORT");
    proxy_ = L"127.0.0.1:" + std::wstring(port.begin(), port.end());
    refusingProxy_ = L"127.0.0.1:" + std::wstring(authPort.begin(), authPort.end());
  }
  void TearDown() override {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kConnections, L"DefaultConnectionSettings");
    DeleteFileW(ProxyOnlyFlag().c_str());
    DeployFixture::TearDown();
  }

  // The binary value Internet Options keep the user's settings in: version,
  // counter, flags, then the proxy, the bypass list and the script address,
  // each as a length and its ANSI characters.
  static void SetUserProxy(DWORD flags, const std::wstring& proxy, const std::wstring& bypass,
                           const std::wstring& script) {
    std::vector<BYTE> value;
    const auto dword = [&](DWORD d) {
      for (int i = 0; i < 4; ++i) value.push_back(static_cast<BYTE>(d >> (8 * i)));
    };
    const auto text = [&](const std::wstring& s) {
      dword(static_cast<DWORD>(s.size()));
      for (wchar_t c : s) value.push_back(static_cast<BYTE>(c));
    };
    dword(0x46);
    dword(1);
    dword(flags);
    text(proxy);
    text(bypass);
    text(script);
    value.resize(value.size() + 32);
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kConnections, L"DefaultConnectionSettings", REG_BINARY,
                              value.data(), static_cast<DWORD>(value.size())),
              ERROR_SUCCESS);
  }

  // From now on the release server answers only through the proxy.
  static void ServerBehindTheProxy() {
    CloseHandle(CreateFileW(ProxyOnlyFlag().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  }
  static std::wstring ProxyOnlyFlag() { return WinePath(Env("OQ_TEST_WWW") + "/.proxy-only"); }

  // The lines of a log that begin with `prefix` and hold `part`.
  static int LogLines(const std::string& log, const std::string& prefix, const std::string& part = "") {
    std::ifstream in(log);
    int n = 0;
    for (std::string line; std::getline(in, line);) {
      n += line.rfind(prefix, 0) == 0 && line.find(part) != std::string::npos;
    }
    return n;
  }
  // The proxy's log: "tunnel HOST:PORT", "refused HOST:PORT".
  static int ProxyLogLines(const std::string& what) { return LogLines(Env("OQ_TEST_PROXY_LOG"), what); }
  // The release server's log lines of requests for `file` that came through
  // a tunnel, which leave the proxy from 127.0.0.2.
  static int TunnelledRequests(const std::string& file) {
    return LogLines(Env("OQ_ARTIFACTS") + "/release-server.log", "release-server: 127.0.0.2 ", file);
  }
  // A first install through the window, whose version file and package
  // both came through the proxy's tunnels.
  void InstallThroughTheProxy() {
    const int tunnelsBefore = ProxyLogLines("tunnel "), versionsBefore = TunnelledRequests("xlllibver.txt"),
              packagesBefore = TunnelledRequests("ORBITQuarry64n.zip");
    InstallThroughTheWindow();
    EXPECT_TRUE(Exists(folder_ + L"ORBITQuarry64.dll"));
    // WinHTTP keeps the tunnel open for the next request: one may carry both.
    EXPECT_GE(ProxyLogLines("tunnel "), tunnelsBefore + 1);
    EXPECT_EQ(TunnelledRequests("xlllibver.txt"), versionsBefore + 1);
    EXPECT_EQ(TunnelledRequests("ORBITQuarry64n.zip"), packagesBefore + 1);
  }

  std::wstring proxy_, refusingProxy_;
};

TEST_F(ProxyE2E, FixedProxyCarriesTheVersionFileAndThePackage) {
  SetUserProxy(kDirect | kFixedProxy, proxy_, L"", L"");
  ServerBehindTheProxy();
  InstallThroughTheProxy();
}

TEST_F(ProxyE2E, AutoConfigurationScriptNamesTheProxy) {
  SetUserProxy(kDirect | kScript, L"", L"", L"http://" + proxy_ + L"/proxy.pac");
  ServerBehindTheProxy();
  InstallThroughTheProxy();
}

TEST_F(ProxyE2E, DetectionThatFindsNothingFallsBackToTheFixedProxy) {
  // No proxy auto-discovery on this network.
  SetUserProxy(kDirect | kFixedProxy | kDetect, proxy_, L"", L"");
  ServerBehindTheProxy();
  InstallThroughTheProxy();
}

TEST_F(ProxyE2E, BypassedServerIsReachedDirectly) {
  // The named proxy would refuse every tunnel; the bypass list keeps the
  // release server's name away from it.
  SetUserProxy(kDirect | kFixedProxy, refusingProxy_, L"localhost", L"");
  const int before = ProxyLogLines("tunnel ") + ProxyLogLines("refused ");
  InstallThroughTheWindow();
  EXPECT_TRUE(Exists(folder_ + L"ORBITQuarry64.dll"));
  EXPECT_EQ(ProxyLogLines("tunnel ") + ProxyLogLines("refused "), before);
}

TEST_F(ProxyE2E, ProxyThatWantsASignInIsNamedInTheErrorBox) {
  SetUserProxy(kDirect | kFixedProxy, refusingProxy_, L"", L"");
  ServerBehindTheProxy();
  const int refused = ProxyLogLines("refused ");
  Program program(Installer());
  ASSERT_TRUE(program.Started());
  HWND box = program.WaitMessageBox(kStartTimeout);
  ASSERT_NE(box, nullptr) << "no error box came up";
  const std::wstring start = L"The proxy server " + refusingProxy_ + L" asks for a sign-in";
  EXPECT_EQ(MessageBoxText(box).substr(0, start.size()), start);
  SaveScreenshot(box, "proxy-407");
  Click(ButtonByText(box, L"OK"));
  EXPECT_GT(ProxyLogLines("refused "), refused);
  HWND main = program.WaitMainWindow(10000);
  ASSERT_NE(main, nullptr);
  Click(ChildById(main, kIdClose));
  DWORD code = 99;
  ASSERT_TRUE(program.WaitExit(10000, &code));
  EXPECT_EQ(code, 2u);  // the run ended in an error box
}

}  // namespace
}  // namespace oq::e2e
