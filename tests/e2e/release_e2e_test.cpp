// Signed releases with the real installer under Wine: the test bed serves a
// release signed with the development key, and the cases swap in the
// variants it prepared (OQ_TEST_RELEASES) to see each refused with nothing
// changed; the two-key and the unsigned builds install what they should.

#include "deploy_fixture.h"

#include <shlobj.h>

#include <cstring>

#include "../standins/standin_marks.h"
#include "ui/main_window.h"

namespace oq::e2e {
namespace {

class SignedReleaseE2E : public DeployFixture {
 protected:
  void SetUp() override {
    DeployFixture::SetUp();
    if (IsSkipped() || HasFailure()) return;
    if (!ServeRelease("good")) GTEST_SKIP() << "needs the release variants (scripts/testbed.sh makes them)";
    base_ = EnvPath("OQ_TEST_BASE_URL");
  }
  static std::wstring Wide(const char* s) { return std::wstring(s, s + strlen(s)); }
  std::wstring Served() { return EnvPath("OQ_TEST_WWW") + L"\\files\\publish"; }
  void Serve(const char* name) { ASSERT_TRUE(ServeRelease(name)) << name; }

  // A copy of another build of the installer, named by an environment variable.
  std::wstring OtherBuild(const char* variable) {
    const std::wstring source = EnvPath(variable);
    if (source.empty() || !Exists(source)) return {};
    const std::wstring target = EnvPath("OQ_ARTIFACTS") + L"\\programs\\" + Wide(variable) + L"\\ORBITQuarrySetup.exe";
    SHCreateDirectoryExW(nullptr, target.substr(0, target.rfind(L'\\')).c_str(), nullptr);
    CopyFileW(source.c_str(), target.c_str(), FALSE);
    return target;
  }

  // `installer` started, Install clicked, the success box answered, and
  // the program ended.
  void InstallWith(const std::wstring& installer) {
    Program program(installer);
    HWND main = StartAndWait(program);
    ASSERT_NE(main, nullptr);
    Click(ChildById(main, kIdInstall));
    Answer(program, L"정상적으로 완료되었습니다.  엑셀을 실행합니다.", L"OK");
    EXPECT_TRUE(program.WaitExit(20000));
  }

  // Install clicked on a machine with nothing installed; the refusal's box
  // is answered and the window stays usable. Nothing is installed or
  // recorded, and no downloaded file stays behind.
  void ExpectInstallRefused(const std::wstring& text, const char* shot) {
    Program program(Installer());
    HWND main = StartAndWait(program);
    ASSERT_NE(main, nullptr);
    ASSERT_EQ(Text(main, kIdXLL), L"Add-In Version : Not Install");
    Click(ChildById(main, kIdInstall));
    Answer(program, text, L"OK", shot);
    EXPECT_TRUE(WaitFor(5000, [&] { return IsWindowEnabled(ChildById(main, kIdInstall)) != FALSE; }));
    EXPECT_TRUE(IsWindowEnabled(ChildById(main, kIdClose)));
    EXPECT_FALSE(program.WaitExit(500)) << "the program ended after a refusal";
    ExpectNothingInstalled();
    EXPECT_TRUE(ExcelProcesses().empty());
    Click(ChildById(main, kIdClose));
    EXPECT_TRUE(program.WaitExit(10000));
  }

  // Installed, then a newer release of `variant` offered and refused at
  // Update with `text`: the working library (its bytes), its registration
  // and every recorded value stay, and the run ends with code 2.
  void ExpectUpdateRefusedKeepingTheInstall(const char* variant, const std::wstring& text, const char* shot) {
    InstallThroughTheWindow();
    ASSERT_FALSE(HasFailure());
    EndExcelProcesses();
    const std::wstring library = folder_ + L"ORBITQuarry64.dll";
    const std::string bytes = ReadAll(library);
    ASSERT_FALSE(bytes.empty());
    const std::wstring version = AddinString(L"LibraryVersion"), date = AddinString(L"InstallDate");
    Serve(variant);
    PublishVersionFile("\xEF\xBB\xBF" "1.7.19");

    Program program(Installer());
    HWND main = StartAndWait(program);
    ASSERT_NE(main, nullptr);
    Click(ChildById(main, kIdInstall));
    Answer(program, text, L"OK", shot);
    EXPECT_TRUE(WaitFor(5000, [&] { return IsWindowEnabled(ChildById(main, kIdClose)) != FALSE; }));
    CloseAndExpectExit(program, main, 2);

    EXPECT_EQ(ReadAll(library), bytes);
    EXPECT_EQ(FileVersionOf(library), version);
    for (const wchar_t* name : {L"ORBITQuarry64n.dll", L"ORBITQuarry64.zip", L"ORBITQuarry64.zip.part",
                                L"ORBITQuarry64.dll.oqold"}) {
      EXPECT_FALSE(Exists(folder_ + name)) << name;
    }
    EXPECT_EQ(AddinString(L"LibraryVersion"), version);
    EXPECT_EQ(AddinString(L"InstallDate"), date);
    EXPECT_EQ(_wcsicmp(standin::ReadMarkString(kRegisteredKey, L"orbitquarry64.dll").c_str(), library.c_str()), 0);
    EXPECT_TRUE(ExcelProcesses().empty());
  }

  std::wstring base_;
};

TEST_F(SignedReleaseE2E, ManifestOfAnotherKeyIsRefused) {
  Serve("other-key");
  ExpectInstallRefused(L"릴리스 서명이 올바르지 않습니다.\n" + base_ + L"files/publish/release.txt.sig",
                       "release-other-key");
}

TEST_F(SignedReleaseE2E, MissingSignatureIsRefused) {
  DeleteFileW((Served() + L"\\release.txt.sig").c_str());
  ExpectInstallRefused(L"서버에서 릴리스 서명을 받을 수 없습니다.\n" + base_ + L"files/publish/release.txt.sig",
                       "release-no-signature");
}

TEST_F(SignedReleaseE2E, VersionOtherThanTheVersionFilesIsRefused) {
  Serve("version");
  ExpectInstallRefused(L"릴리스 정보의 버전이 서버의 버전 파일과 다릅니다.\n" + base_ + L"files/publish/release.txt",
                       "release-version");
}

TEST_F(SignedReleaseE2E, ExpiredManifestIsRefused) {
  Serve("expired");
  ExpectInstallRefused(L"릴리스 정보의 유효 기간이 지났습니다.\n" + base_ + L"files/publish/release.txt",
                       "release-expired");
}

TEST_F(SignedReleaseE2E, PackageWithAnotherHashIsRefused) {
  Serve("bad-hash");
  ExpectInstallRefused(L"다운로드한 프로그램 파일의 SHA-256 값이 릴리스 정보와 다릅니다.\n" + base_ +
                           L"files/publish/ORBITQuarry64n.zip",
                       "release-bad-hash");
}

TEST_F(SignedReleaseE2E, BodyLongerThanDeclaredIsRefused) {
  Serve("longer");
  ExpectInstallRefused(L"다운로드한 프로그램 파일이 릴리스 정보의 크기보다 큽니다.\n" + base_ +
                           L"files/publish/ORBITQuarry64n.zip",
                       "release-longer");
}

TEST_F(SignedReleaseE2E, DowngradeIsRefusedEvenWhenForced) {
  InstallThroughTheWindow();
  ASSERT_FALSE(HasFailure());
  EndExcelProcesses();
  const std::wstring library = folder_ + L"ORBITQuarry64.dll";
  SetAddinString(L"LibraryVersion", L"9.0.0.0");
  const std::wstring installDate = AddinString(L"InstallDate");
  WIN32_FILE_ATTRIBUTE_DATA before{}, after{};
  ASSERT_TRUE(GetFileAttributesExW(library.c_str(), GetFileExInfoStandard, &before));

  Program program(Installer(), L"FORCE");
  Answer(program, L"설치된 버전보다 낮은 버전은 설치할 수 없습니다.\n" + base_ + L"files/publish/release.txt", L"OK",
         "release-downgrade");
  EXPECT_TRUE(program.WaitExit(20000));

  EXPECT_EQ(AddinString(L"LibraryVersion"), L"9.0.0.0");
  EXPECT_EQ(AddinString(L"InstallDate"), installDate);
  ASSERT_TRUE(GetFileAttributesExW(library.c_str(), GetFileExInfoStandard, &after));
  EXPECT_EQ(CompareFileTime(&before.ftLastWriteTime, &after.ftLastWriteTime), 0);
  EXPECT_EQ(standin::ReadMarkDword(kRegisteredKey, L"orbitquarry64.dll.count"), 1u);
  EXPECT_TRUE(ExcelProcesses().empty());
}

// A publisher's mix-up: the 64-bit package carries the 32-bit library.
TEST_F(SignedReleaseE2E, ThirtyTwoBitLibraryInTheSixtyFourBitPackageIsRefused) {
  ExpectUpdateRefusedKeepingTheInstall(
      "wrong-bits",
      L"다운로드한 프로그램 파일의 라이브러리는 32비트용이지만 Excel은 64비트입니다.\n" + base_ +
          L"files/publish/ORBITQuarry64n.zip",
      "release-wrong-bits");
  EXPECT_EQ(standin::ReadMarkDword(kRegisteredKey, L"orbitquarry64.dll.count"), 1u);
}

// regsvr32's own exit code tells; the working library goes back and is
// registered again.
TEST_F(SignedReleaseE2E, LibraryWhoseRegistrationFailsLeavesTheWorkingOne) {
  ExpectUpdateRefusedKeepingTheInstall(
      "failing-registration",
      L"라이브러리를 등록하지 못했습니다. 라이브러리의 등록 함수(DllRegisterServer)가 실패했습니다. "
      L"(regsvr32 종료 코드 5)\n이전에 설치된 라이브러리를 그대로 사용합니다.\n" + folder_ + L"ORBITQuarry64.dll",
      "release-failing-registration");
  EXPECT_EQ(standin::ReadMarkDword(kRegisteredKey, L"orbitquarry64.dll.refused"), 1u);
  EXPECT_EQ(standin::ReadMarkDword(kRegisteredKey, L"orbitquarry64.dll.count"), 2u);
}

// The copy the desktop shortcut starts (1.7.17.0) finds a release that
// offers a later installer trusting the next key too: it puts that one in
// its place and runs it with the same word, and ends as it ends. The next
// start clears what it set aside, and a release signed by the next key
// alone then installs: the key's rotation reaches the installed PC.
TEST_F(SignedReleaseE2E, InstalledCopyUpdatesItselfAndTheNextKeyThenWorks) {
  if (!ServeRelease("installer-next")) GTEST_SKIP() << "needs the later installer (build/win32-twokeys)";
  ServeRelease("good");
  InstallThroughTheWindow();
  ASSERT_FALSE(HasFailure());
  EndExcelProcesses();
  const std::wstring copy = folder_ + L"ORBITQuarry.exe";
  ASSERT_EQ(FileVersionOf(copy), L"1.7.17.0");
  Serve("installer-next");
  SetAddinString(L"LibraryVersion", L"1.7.17.0");
  Program excel(EnvPath("OQ_STANDIN_EXCEL64"));
  ASSERT_TRUE(WaitFor(10000, [] { return ExcelProcesses().size() == 1; }));

  Program program(copy, L"UPDATE");
  // The new copy asks, not this one; the user says no, and it ends with 1.
  HWND question = WaitBoxOfAnyProgram(L"\"ORBITQuarry Excel Add-in Library의 업데이트를 위해", kStartTimeout);
  ASSERT_NE(question, nullptr);
  DWORD asker = 0;
  GetWindowThreadProcessId(question, &asker);
  EXPECT_NE(asker, program.Pid());
  EXPECT_EQ(FileVersionOf(copy), L"1.7.17.1");
  Click(ButtonByText(question, L"&No"));
  HWND cancelled = WaitBoxOfAnyProgram(L"업데이트 취소로", 10000);
  ASSERT_NE(cancelled, nullptr);
  Click(ButtonByText(cancelled, L"OK"));
  DWORD code = 99;
  ASSERT_TRUE(program.WaitExit(20000, &code));
  EXPECT_EQ(code, 1u);
  EXPECT_TRUE(Exists(copy + L".old"));
  EXPECT_FALSE(Exists(copy + L".new"));
  EndExcelProcesses();

  Serve("second-key");
  InstallWith(copy);
  EXPECT_FALSE(Exists(copy + L".old"));
  EXPECT_EQ(AddinString(L"LibraryVersion"), FileVersionOf(folder_ + L"ORBITQuarry64.dll"));
  EXPECT_EQ(FileVersionOf(copy), L"1.7.17.1");
}

// An installer in the release that is not the one signed for: the copy
// stays byte for byte, nothing is left beside it, and the update goes on.
TEST_F(SignedReleaseE2E, TamperedInstallerInTheReleaseChangesNothing) {
  if (!ServeRelease("installer-tampered")) GTEST_SKIP() << "needs the later installer (build/win32-twokeys)";
  ServeRelease("good");
  InstallThroughTheWindow();
  ASSERT_FALSE(HasFailure());
  EndExcelProcesses();
  const std::wstring copy = folder_ + L"ORBITQuarry.exe";
  const std::string bytes = ReadAll(copy);
  Serve("installer-tampered");
  SetAddinString(L"LibraryVersion", L"1.7.17.0");
  SetAddinString(L"InstallDate", L"2025-01-01 00:00:00");
  Program program(copy, L"UPDATE");
  Answer(program, L"정상적으로 완료되었습니다.  엑셀을 실행합니다.", L"OK");
  DWORD code = 99;
  ASSERT_TRUE(program.WaitExit(20000, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ReadAll(copy), bytes);
  for (const wchar_t* name : {L".new", L".new.part", L".old"}) EXPECT_FALSE(Exists(copy + name)) << name;
  EXPECT_NE(AddinString(L"InstallDate"), L"2025-01-01 00:00:00");
}

TEST_F(SignedReleaseE2E, TwoKeyBuildAcceptsAReleaseSignedByTheSecond) {
  const std::wstring installer = OtherBuild("OQ_INSTALLER_TWOKEYS");
  if (installer.empty()) GTEST_SKIP() << "needs OQ_INSTALLER_TWOKEYS (build/win32-twokeys)";
  Serve("second-key");
  InstallWith(installer);
  EXPECT_TRUE(Exists(folder_ + L"ORBITQuarry64.dll"));
  EXPECT_EQ(AddinString(L"LibraryVersion"), FileVersionOf(folder_ + L"ORBITQuarry64.dll"));
}

TEST_F(SignedReleaseE2E, UnsignedBuildInstallsWithoutAManifest) {
  const std::wstring installer = OtherBuild("OQ_INSTALLER_UNSIGNED");
  if (installer.empty()) GTEST_SKIP() << "needs OQ_INSTALLER_UNSIGNED (build/win32-unsigned)";
  DeleteFileW((Served() + L"\\release.txt").c_str());
  DeleteFileW((Served() + L"\\release.txt.sig").c_str());
  InstallWith(installer);
  EXPECT_TRUE(Exists(folder_ + L"ORBITQuarry64.dll"));
}

}  // namespace
}  // namespace oq::e2e
