// The Win32 side of the seam against Wine's registry, tokens, files and
// WinHTTP, in a throw-away prefix.

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "seam/app_error.h"
#include "services/addin_store.h"
#include "services/win32/handles.h"
#include "services/win32/user_sid.h"
#include "services/win32/win32_machine.h"
#include "setup/main_form.h"
#include "crypto_fixtures.h"
#include "driver.h"
#include "null_view.h"

namespace oq {
namespace {

std::wstring ProcessUserSid() {
  win::UniqueHandle token;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()));
  uint8_t buffer[256];
  DWORD size = 0;
  EXPECT_TRUE(GetTokenInformation(token.Get(), TokenUser, buffer, sizeof buffer, &size));
  wchar_t* text = nullptr;
  EXPECT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text));
  std::wstring sid = text ? text : L"";
  LocalFree(text);
  return sid;
}

TEST(UserSidTest, CurrentUserSidIsTheTokenUsers) {
  Win32Environment env;
  const std::wstring sid = env.CurrentUserSid().value_or(L"");
  EXPECT_EQ(sid.rfind(L"S-1-5-21-", 0), 0u) << sid;
  EXPECT_EQ(sid, ProcessUserSid());
}

TEST(UserSidTest, SidToTextReportsTheSpaceItNeeds) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  win::UniqueSid sid;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 5, 21, 7, 8, 9, 1001, 0, 0, 0, sid.Put()));
  wchar_t buffer[128] = {L'x'};
  DWORD size = 100;
  SetLastError(0);
  EXPECT_FALSE(SidToText(sid.Get(), buffer, &size));
  EXPECT_EQ(size, 176u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(buffer[0], L'x');  // untouched
  size = sizeof buffer;
  ASSERT_TRUE(SidToText(sid.Get(), buffer, &size));
  EXPECT_STREQ(buffer, L"S-1-5-21-7-8-9-1001");

  SID_IDENTIFIER_AUTHORITY high = {{1, 0, 0, 0, 0, 0}};
  win::UniqueSid odd;
  ASSERT_TRUE(AllocateAndInitializeSid(&high, 1, 7, 0, 0, 0, 0, 0, 0, 0, odd.Put()));
  ASSERT_TRUE(SidToText(odd.Get(), buffer, &size));
  EXPECT_STREQ(buffer, L"S-1-0x010000000000-7");
}

// The add-in store on the real registry, under the prefix user's own key.
class AddinStoreOnRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    store.UserSidText = env.CurrentUserSid().value_or(L"");
    ASSERT_FALSE(store.UserSidText.empty());
    Clear();
  }
  void TearDown() override { Clear(); }
  void Clear() { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Office\\Excel\\AddIns"); }
  bool KeyExists(const wchar_t* path) {
    HKEY key = nullptr;
    const bool open = RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (key) RegCloseKey(key);
    return open;
  }

  Win32Registry registry;
  Win32Environment env;
  AddinStore store{registry, env};
};

TEST_F(AddinStoreOnRegistry, FirstReadLeavesAnEmptyKeyReachedThroughHkeyUsers) {
  EXPECT_EQ(store.ReadAddinValue(L"LibraryVersion"), L"");
  // HKEY_USERS\<SID> is the current user's own hive.
  EXPECT_TRUE(KeyExists(L"Software\\Microsoft\\Office\\Excel\\AddIns\\ORBITQuarry.XLL"));
}

TEST_F(AddinStoreOnRegistry, ValuesRoundTripWithTheirTypes) {
  store.WriteAddinValue(L"InstallPath", L"C:\\Users\\root\\AppData\\Roaming\\ORBITQuarry\\");
  store.WriteAddinInteger(L"LoadBehavior", 3);
  store.WriteUserAddinValue(L"Header", L"");
  EXPECT_EQ(store.ReadAddinValue(L"InstallPath"), L"C:\\Users\\root\\AppData\\Roaming\\ORBITQuarry\\");
  DWORD type = 0, value = 0, size = sizeof value;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Office\\Excel\\AddIns\\ORBITQuarry.XLL",
                         L"LoadBehavior", RRF_RT_ANY, &type, &value, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 3u);
  EXPECT_EQ(store.ReadAddinValue(L"Header"), L"");
  try {
    store.ReadAddinValue(L"LoadBehavior");
    FAIL() << "no error raised";
  } catch (const AppError& e) {
    EXPECT_EQ(e.Message(), L"Invalid data type for 'LoadBehavior'");
  }
}

TEST_F(AddinStoreOnRegistry, ClearingRemovesOnlyKeysWithoutSubkeys) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Office\\Excel\\AddIns\\LT.ORBITQuarry\\ADXXLForm",
                            0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Office\\Excel\\AddIns\\ORBITQuarry.XLL\\ADXXLForm",
                            0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  // The uninstall's removal: the add-in key's form goes, the second key keeps
  // its own form and so stays.
  EXPECT_FALSE(store.ClearAddinKeysForUninstall());
  EXPECT_FALSE(KeyExists(L"Software\\Microsoft\\Office\\Excel\\AddIns\\ORBITQuarry.XLL\\ADXXLForm"));
  EXPECT_TRUE(KeyExists(L"Software\\Microsoft\\Office\\Excel\\AddIns\\LT.ORBITQuarry"));
  EXPECT_TRUE(store.ClearAddinKeysForInstall());
  EXPECT_FALSE(KeyExists(L"Software\\Microsoft\\Office\\Excel\\AddIns\\LT.ORBITQuarry"));
  EXPECT_TRUE(KeyExists(L"Software\\Microsoft\\Office\\Excel\\AddIns\\ORBITQuarry.XLL"));
  EXPECT_FALSE(store.ClearAddinKeysForInstall());  // nothing left to remove
}

// ---------------------------------------------------------------- HTTP

class QuietDialogs final : public Dialogs {
 public:
  BoxAnswer ShowBox(const std::wstring&, const std::wstring&, BoxIcon, BoxButtons) override { return BoxAnswer::Ok; }
  void ProcessMessages() override {}
  void SetBusyCursor(bool) override {}
  AdminWarningAnswer ShowAdminWarning(bool) override { return AdminWarningAnswer::Continue; }
  std::optional<std::wstring> PickFolder(const std::wstring&) override { return std::nullopt; }
};

class ReleaseServerOverWinHttp : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* base = std::getenv("OQ_TEST_BASE_URL");
    if (!base) GTEST_SKIP() << "no release server (scripts/test.sh starts one)";
    base_ = std::wstring(base, base + std::strlen(base));
    CreateDirectoryW(folder_.c_str(), nullptr);
  }
  std::string FileBytes(const std::wstring& path) {
    win::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return "<missing>";
    char buffer[4096];
    DWORD read = 0;
    ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr);
    return std::string(buffer, read);
  }

  std::wstring base_;
  std::wstring folder_ = L"C:\\oq-http-test\\";
  Win32Registry registry;
  Win32FileSystem files;
  Win32ProcessTable processes;
  Win32Shell shell;
  Win32Environment env;
  WinHttpTransport http;
  QuietDialogs dialogs;
  CngCrypto crypto;
  Machine machine{registry, files, processes, shell, env, http, dialogs, crypto};
  NoView view;
};

TEST_F(ReleaseServerOverWinHttp, VersionFileArrivesWithItsByteOrderMark) {
  TfmMain form(machine, view, base_);
  const std::wstring text = form.HttpGetText(VersionFileUrl(base_));
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text[0], static_cast<wchar_t>(0xFEFF));
  EXPECT_EQ(text.substr(1, 2), L"1.");
}

TEST_F(ReleaseServerOverWinHttp, NotFoundGivesEmptyTextButTheDownloadKeepsThePage) {
  TfmMain form(machine, view, base_);
  EXPECT_EQ(form.HttpGetText(base_ + L"files/publish/none.txt"), L"");
  form.DownloadToFile(PackageUrl(base_, L"ORBITQuarryNeverPublished"), folder_ + L"page.zip");
  EXPECT_NE(FileBytes(folder_ + L"page.zip").find("Not Found"), std::string::npos);
}

TEST_F(ReleaseServerOverWinHttp, ClosedPortRaisesTheTransportError) {
  TfmMain form(machine, view, base_);
  try {
    form.HttpGetText(L"https://localhost:1/files/publish/xlllibver.txt");
    FAIL() << "no error raised";
  } catch (const AppError& e) {
    EXPECT_EQ(e.Code(), static_cast<uint32_t>(ERROR_WINHTTP_CANNOT_CONNECT));
    EXPECT_FALSE(e.Message().empty());
  }
  DeleteFileW((folder_ + L"none.zip").c_str());
  EXPECT_THROW(form.DownloadToFile(L"https://localhost:1/x.zip", folder_ + L"none.zip"), AppError);
  EXPECT_EQ(GetFileAttributesW((folder_ + L"none.zip").c_str()), INVALID_FILE_ATTRIBUTES);
}

// How many requests the release server has logged for a path, query included.
size_t ServerLogged(const std::string& path) {
  const std::wstring log = e2e::EnvPath("OQ_ARTIFACTS") + L"\\release-server.log";
  win::UniqueFile file(CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
  std::string text;
  char buffer[65536];
  DWORD read = 0;
  while (file && ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
  size_t count = 0;
  for (size_t at = text.find(path); at != std::string::npos; at = text.find(path, at + 1)) ++count;
  return count;
}

TEST_F(ReleaseServerOverWinHttp, PrefetchIsOneRequestWhoseOutcomeTheMatchingGetTakes) {
  const std::string tag = "prefetch=" + std::to_string(GetTickCount64());
  const std::wstring url = VersionFileUrl(base_) + L"?" + std::wstring(tag.begin(), tag.end());
  const std::vector<HttpHeader> headers{{L"Accept-Language", L"ko-KR"}};
  http.Prefetch(url, headers);
  const HttpResponse response = http.Get(url, headers);
  EXPECT_EQ(response.status, 200u);
  ASSERT_GE(response.body.size(), 4u);
  EXPECT_EQ(response.body[0], 0xEF);
  EXPECT_EQ(ServerLogged(tag), 1u);
  // Other headers make another request.
  EXPECT_EQ(http.Get(url, {}).status, 200u);
  EXPECT_EQ(ServerLogged(tag), 2u);

  // A failure on the prefetching thread is raised by the Get.
  http.Prefetch(L"https://localhost:1/files/publish/xlllibver.txt", headers);
  try {
    http.Get(L"https://localhost:1/files/publish/xlllibver.txt", headers);
    FAIL() << "no error raised";
  } catch (const AppError& e) {
    EXPECT_EQ(e.Code(), static_cast<uint32_t>(ERROR_WINHTTP_CANNOT_CONNECT));
  }

  // Nobody takes it: the transport still lets the request finish before it goes.
  {
    WinHttpTransport unused;
    unused.Prefetch(url + L"&unused", headers);
  }
  EXPECT_EQ(ServerLogged(tag + "&unused"), 1u);
}

// A package of several MiB, written into the served folder, comes down in
// pieces: hashed as it arrives, renamed into place only when it matches.
TEST_F(ReleaseServerOverWinHttp, PackageStreamsToDiskHashedAsItComes) {
  const std::wstring served = e2e::EnvPath("OQ_TEST_WWW") + L"\\files\\publish\\streamed-test.zip";
  {
    std::vector<uint8_t> data(kStreamedSize);
    for (unsigned i = 0; i < kStreamedSize; ++i) data[i] = StreamedByte(i);
    uint32_t error = 0;
    std::unique_ptr<FileWriter> out = files.CreateWrite(served, error);
    ASSERT_TRUE(out) << error;
    ASSERT_TRUE(out->Write(data.data(), data.size()) && out->Finish());
  }
  ReleasePackage expected;
  expected.size = kStreamedSize;
  for (size_t i = 0; i < 32; ++i) expected.sha256[i] = static_cast<uint8_t>(std::stoi(std::string(kStreamedSha256 + 2 * i, 2), nullptr, 16));

  TfmMain form(machine, view, base_);
  const std::wstring url = base_ + L"files/publish/streamed-test.zip";
  const std::wstring target = folder_ + L"streamed.zip";
  DeleteFileW(target.c_str());
  EXPECT_EQ(form.DownloadToFile(url, target, &expected), TfmMain::Download::Done);
  uint32_t error = 0;
  std::unique_ptr<FileReader> in = files.OpenRead(target, error);
  ASSERT_TRUE(in);
  EXPECT_EQ(in->Size(), kStreamedSize);
  uint8_t probe[3];
  ASSERT_TRUE(in->ReadAt(kStreamedSize - 3, probe, 3));
  EXPECT_EQ(probe[2], StreamedByte(kStreamedSize - 1));
  in.reset();

  // One bit off in the expected hash, or a size one short: nothing is kept.
  DeleteFileW(target.c_str());
  ReleasePackage otherHash = expected;
  otherHash.sha256[31] ^= 1;
  EXPECT_EQ(form.DownloadToFile(url, target, &otherHash), TfmMain::Download::WrongHash);
  ReleasePackage shorter = expected;
  shorter.size -= 1;
  EXPECT_EQ(form.DownloadToFile(url, target, &shorter), TfmMain::Download::TooLong);
  EXPECT_EQ(GetFileAttributesW(target.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW((target + L".part").c_str()), INVALID_FILE_ATTRIBUTES);
  DeleteFileW(served.c_str());
}

TEST_F(ReleaseServerOverWinHttp, TextBodiesPastTheirCapAreNotKept) {
  const std::wstring served = e2e::EnvPath("OQ_TEST_WWW") + L"\\files\\publish\\long-text.txt";
  {
    const std::string text(kMaxTextBody + 1, 'x');
    uint32_t error = 0;
    std::unique_ptr<FileWriter> out = files.CreateWrite(served, error);
    ASSERT_TRUE(out && out->Write(text.data(), text.size()) && out->Finish());
  }
  const HttpResponse response = http.Get(base_ + L"files/publish/long-text.txt", {});
  EXPECT_EQ(response.status, 200u);
  EXPECT_TRUE(response.tooLong);
  EXPECT_TRUE(response.body.empty());
  TfmMain form(machine, view, base_);
  EXPECT_EQ(form.HttpGetText(base_ + L"files/publish/long-text.txt"), L"");
  DeleteFileW(served.c_str());
}

}  // namespace
}  // namespace oq
