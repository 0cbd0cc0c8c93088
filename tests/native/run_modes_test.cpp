#include <gtest/gtest.h>

#include "fake_machine.h"
#include "library_image.h"
#include "setup/main_form.h"
#include "zip_writer.h"

namespace oq {
namespace {

using test::FakeDialogs;
using test::FakeMachine;
using test::FakeView;

constexpr wchar_t kBase[] = L"https://release.test/";
constexpr wchar_t kVersionUrl[] = L"https://release.test/files/publish/xlllibver.txt";
constexpr wchar_t kPackage64Url[] = L"https://release.test/files/publish/ORBITQuarry64n.zip";
constexpr wchar_t kPackage32Url[] = L"https://release.test/files/publish/ORBITQuarry32n.zip";
const std::wstring kSid = L"S-1-5-21-7-8-9-1001";
const std::wstring kAddinKey = kSid + L"\\Software\\Microsoft\\Office\\Excel\\AddIns\\ORBITQuarry.XLL";
const std::wstring kFolder = L"C:\\Users\\me\\AppData\\Roaming\\ORBITQuarry\\";
const std::wstring kExcelFolder = L"C:\\Program Files\\Microsoft Office\\root\\Office16\\";
constexpr wchar_t kAppPaths[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\excel.exe";
const wchar_t* const kSettings[] = {
    L"LibraryVersion", L"UserID",  L"UserKey",    L"AutoLogin", L"ExcelOut", L"CellFormat",
    L"GrdLine",        L"Header",  L"MainPane",   L"OptionPane", L"Overlap", L"Massive",
    L"UpgradeVersion", L"LoginFormTop", L"LoginFormLeft", L"InstallDate"};

const std::wstring kUpdateQuestion =
    L"\"ORBITQuarry Excel Add-in Library의 업데이트를 위해 엑셀을 종료해야 합니다.\n"
    L"Excel 창을 모두 닫은 후 업데이트가 진행됩니다.\n업데이트를 진행하시겠습니까?\n\n"
    L"Add-In Version : 1.7.17.0 (New Version = 1.7.18)";

class RunModeTest : public ::testing::Test {
 protected:
  RunModeTest() {
    form.traceListener = [this](const std::wstring& line) { traces.push_back(line); };
    m.http.Publish(kVersionUrl, "\xEF\xBB\xBF" "1.7.18");
    m.http.Publish(kPackage64Url, test::MakeStoredZip({{"ORBITQuarry64n.dll", test::Library(64, "new 64")}}));
    m.http.Publish(kPackage32Url, test::MakeStoredZip({{"ORBITQuarry32n.dll", test::Library(32, "new 32")}}));
    m.files.AddDirectory(L"C:\\Users\\me\\AppData\\Roaming");
    m.files.AddFile(m.env.executablePath, "installer");
  }
  void Record(const std::wstring& version, const std::wstring& folder = kFolder) {
    m.registry.SetString(RegRoot::Users, kAddinKey, L"LibraryVersion", version);
    m.registry.SetString(RegRoot::Users, kAddinKey, L"InstallPath", folder);
    m.files.AddFile(folder + L"ORBITQuarry64.dll", "old 64");
  }
  // A 64-bit Excel found through its application path.
  void InstallExcel() {
    m.registry.SetString(RegRoot::LocalMachine, kAppPaths, L"", kExcelFolder + L"excel.exe");
    m.registry.SetString(RegRoot::LocalMachine, kAppPaths, L"Path", kExcelFolder);
    m.files.AddFile(kExcelFolder + L"excel.exe");
    m.shell.binaryTypes[test::FakeFileSystem::Key(kExcelFolder + L"excel.exe")] = 6;
  }
  void Start(std::vector<std::wstring> arguments) {
    m.env.arguments = std::move(arguments);
    form.OnCreate();
  }
  std::optional<std::wstring> Value(const std::wstring& name) {
    return m.registry.GetString(RegRoot::Users, kAddinKey, name);
  }
  bool Traced(const std::wstring& line) const {
    return std::find(traces.begin(), traces.end(), line) != traces.end();
  }
  bool Installed() const { return std::find(traces.begin(), traces.end(), L"Write Registry") != traces.end(); }
  bool ReRegistered() const { return !m.shell.shortcuts.empty(); }

  FakeMachine m;
  FakeView view;
  TfmMain form{m.machine, view, kBase};
  std::vector<std::wstring> traces;
};

TEST_F(RunModeTest, UpToDateStartReRegistersWithoutTheWindow) {
  Record(L"1.7.18.0");
  InstallExcel();
  m.shell.versions[test::FakeFileSystem::Key(kFolder + L"orbitquarry64.dll")] = L"1.7.18.5";
  Start({});
  EXPECT_EQ(view.labels[Label::XLL], L"Add-In Version : 1.7.18.0 (마지막 버전입니다.)");
  EXPECT_FALSE(view.enabled[Button::Install]);
  EXPECT_TRUE(ReRegistered());
  EXPECT_TRUE(view.terminationRequested);
  EXPECT_TRUE(view.closed);
  EXPECT_TRUE(m.dialogs.shown.empty());
  EXPECT_FALSE(Installed());
  // The steps after the re-registration still ran: captions, and the
  // version read back from the library.
  EXPECT_EQ(view.caption, L"ORBITQuarry - Ver.1.7.17");
  EXPECT_EQ(Value(L"LibraryVersion"), L"1.7.18.5");
  EXPECT_EQ(form.Outcome(), kExitDone);
}

TEST_F(RunModeTest, WordsOtherThanTheExactOnesStartNormally) {
  for (const std::vector<std::wstring>& args :
       std::vector<std::vector<std::wstring>>{{L"update"}, {L"/UPDATE"}, {L"Force"}, {L"x", L"UPDATE"}, {L""}}) {
    FakeMachine fm;
    FakeView fv;
    TfmMain f{fm.machine, fv, kBase};
    fm.http.Publish(kVersionUrl, "\xEF\xBB\xBF" "1.7.18");
    fm.env.arguments = args;
    f.OnCreate();
    EXPECT_FALSE(fv.terminationRequested) << args[0];
    EXPECT_EQ(fv.labels[Label::XLL], L"Add-In Version : Not Install");
    EXPECT_EQ(fm.http.requests.size(), 1u);  // the version file, and no package
  }
}

TEST_F(RunModeTest, UpdateWithNothingNewerEndsSilently) {
  for (const char* newest : {"\xEF\xBB\xBF" "1.7.18", "\xEF\xBB\xBF" "1.7.17.0", ""}) {
    SCOPED_TRACE(newest);
    FakeMachine fm;
    FakeView fv;
    TfmMain f{fm.machine, fv, kBase};
    fm.http.Publish(kVersionUrl, newest);
    fm.registry.SetString(RegRoot::Users, kAddinKey, L"LibraryVersion", L"1.7.18");
    fm.registry.SetString(RegRoot::Users, kAddinKey, L"InstallPath", kFolder);
    fm.processes.Start(L"excel.exe");
    fm.env.arguments = {L"UPDATE"};
    f.OnCreate();
    EXPECT_TRUE(fv.terminationRequested);
    EXPECT_TRUE(fm.dialogs.shown.empty());
    EXPECT_EQ(fv.caption, L"ORBITQuarry");  // start-up stopped before the captions
    EXPECT_TRUE(fm.shell.shortcuts.empty());
    EXPECT_EQ(fm.http.requests.size(), 1u);
  }
}

TEST_F(RunModeTest, UpdateWaitsForExcelAndAsksAgainAfterEveryYes) {
  Record(L"1.7.17.0");
  InstallExcel();
  m.processes.Start(L"excel.exe");
  m.dialogs.Answer(BoxAnswer::Yes);
  m.dialogs.Answer(BoxAnswer::Yes);
  m.dialogs.answers.push_back([this](const FakeDialogs::Box&) {
    m.processes.processes.clear();  // the user has closed Excel now
    return BoxAnswer::Yes;
  });
  Start({L"UPDATE"});

  ASSERT_GE(m.dialogs.shown.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(m.dialogs.shown[i].text, kUpdateQuestion);
    EXPECT_EQ(m.dialogs.shown[i].caption, L"Confirm");
    EXPECT_EQ(m.dialogs.shown[i].icon, BoxIcon::Question);
    EXPECT_EQ(m.dialogs.shown[i].buttons, BoxButtons::YesNo);
  }
  EXPECT_GE(m.env.sleptMs, 300u);
  EXPECT_TRUE(Traced(L"업데이트 실행"));
  // The install ran by itself at the end of start-up and ended the program.
  EXPECT_TRUE(Installed());
  EXPECT_EQ(m.files.Content(kFolder + L"ORBITQuarry64.dll"), test::Library(64, "new 64"));
  EXPECT_EQ(m.dialogs.shown.back().text, L"정상적으로 완료되었습니다.  엑셀을 실행합니다.");
  EXPECT_TRUE(view.terminationRequested);
}

TEST_F(RunModeTest, UpdateCancelledWhileExcelRuns) {
  Record(L"1.7.17.0");
  m.processes.Start(L"excel.exe");
  m.dialogs.Answer(BoxAnswer::Yes);
  m.dialogs.Answer(BoxAnswer::No);
  Start({L"UPDATE"});
  ASSERT_EQ(m.dialogs.shown.size(), 3u);
  EXPECT_EQ(m.dialogs.shown[2].text,
            L"업데이트 취소로 \"ORBITQuarry Excel Add-in Library\"사용에 문제가 있을 수 있습니다.");
  EXPECT_EQ(m.dialogs.shown[2].caption, L"Excel Add-in Installer");
  EXPECT_EQ(m.dialogs.shown[2].buttons, BoxButtons::Ok);
  EXPECT_TRUE(view.terminationRequested);
  EXPECT_FALSE(Installed());
  EXPECT_FALSE(Traced(L"업데이트 실행"));
  EXPECT_EQ(form.Outcome(), kExitDeclined);
}

TEST_F(RunModeTest, UpdateWithNothingInstalledInstallsIntoTheDefaultFolder) {
  InstallExcel();
  Start({L"UPDATE"});
  EXPECT_TRUE(Installed());
  EXPECT_TRUE(m.files.FileExists(kFolder + L"ORBITQuarry64.dll"));
  EXPECT_EQ(Value(L"InstallPath"), kFolder);
  EXPECT_TRUE(view.terminationRequested);
}

TEST_F(RunModeTest, UpdateTakesNineAsOlderThanTenButStartUpStillReRegisters) {
  Record(L"1.7.9.0");
  m.http.Publish(kVersionUrl, "\xEF\xBB\xBF" "1.7.10.0");
  Start({L"UPDATE"});
  // Numerically newer, so update mode goes on; textually not older, so the
  // installed state is the up-to-date one; and the install still follows.
  EXPECT_TRUE(Traced(L"업데이트 실행"));
  EXPECT_TRUE(ReRegistered());
  EXPECT_TRUE(Installed());
  EXPECT_TRUE(view.terminationRequested);
}

TEST_F(RunModeTest, ForceInstallsIntoTheRecordedFolderWithoutTheWindow) {
  const std::wstring folder = L"D:\\Tools\\Add-in\\";
  Record(L"1.7.18.0", folder);
  InstallExcel();
  Start({L"FORCE"});
  EXPECT_EQ(view.caption, L"ORBITQuarry - Ver.1.7.17");
  EXPECT_EQ(view.path, folder);
  EXPECT_TRUE(Installed());
  EXPECT_EQ(m.files.Content(folder + L"ORBITQuarry64.dll"), test::Library(64, "new 64"));
  EXPECT_EQ(m.shell.elevated.back().file, kExcelFolder + L"excel.exe");
  EXPECT_TRUE(view.terminationRequested);
  EXPECT_EQ(view.left, -1000);  // never brought on screen
  EXPECT_FALSE(ReRegistered());
}

TEST_F(RunModeTest, ForceWithNothingRegisteredEndsInTheFolderError) {
  Start({L"FORCE"});
  ASSERT_EQ(m.dialogs.shown.size(), 1u);
  EXPECT_EQ(m.dialogs.shown[0].text.rfind(L"Cannot create the folder \"\"", 0), 0u);
  EXPECT_EQ(m.dialogs.shown[0].icon, BoxIcon::Stop);
  EXPECT_FALSE(Installed());
}

// ------------------------------------------------------------ ReRegister

class ReRegisterTest : public RunModeTest {
 protected:
  void ReRegister() {
    form.Store().UserSidText = kSid;
    form.ReRegister();
  }
};

TEST_F(ReRegisterTest, LumentroveOn64BitExcel) {
  const std::wstring folder = L"C:\\Program Files (x86)\\Excel Tools\\ORBITQuarry\\";
  m.registry.SetString(RegRoot::Users, kAddinKey, L"InstallPath", folder);
  InstallExcel();
  // Left from a 32-bit Office before this 64-bit one.
  m.files.AddFile(folder + L"ORBITQuarry32.dll", test::Library(32, "old"));
  m.files.AddFile(folder + L"ORBITQuarry64.dll", test::Library(64, "lib"));
  form.LT = true;
  ReRegister();

  // Side by side, each by the regsvr32 of its own bitness.
  EXPECT_EQ(m.shell.awaited, (std::vector<std::vector<std::wstring>>{{
                                 L"\"C:\\Windows\\System32\\regsvr32.exe\" /s /u \"" + folder + L"orbitquarry32.dll\"",
                                 L"\"C:\\Windows\\Sysnative\\regsvr32.exe\" /s /u \"" + folder + L"orbitquarry64.dll\"",
                             }}));
  ASSERT_EQ(m.shell.elevated.size(), 2u);
  EXPECT_EQ(m.shell.elevated[0].file, L"C:\\Windows\\Sysnative\\regsvr32.exe");
  EXPECT_EQ(m.shell.elevated[0].parameters, L"/s \"" + folder + L"ORBITQuarry64.dll\"");
  EXPECT_EQ(m.shell.elevated[1].file, kExcelFolder + L"excel.exe");
  EXPECT_EQ(Value(L"LibraryName"), L"Lumentrove64");
  EXPECT_EQ(Value(L"Description"), L"Lumentrove Excel Add-in Library");
  EXPECT_EQ(Value(L"FriendlyName"), L"Lumentrove Excel Add-in Library");
  EXPECT_EQ(Value(L"InstallPath"), folder);
  EXPECT_EQ(m.registry.GetDword(RegRoot::Users, kAddinKey, L"LoadBehavior"), 3u);
  EXPECT_EQ(m.shell.shortcuts, (std::vector<std::wstring>{folder + L"Lumentrove.exe"}));
  EXPECT_TRUE(view.terminationRequested);
}

TEST_F(ReRegisterTest, SettingsComeBackUnchangedAndMissingOnesEmpty) {
  m.registry.SetString(RegRoot::Users, kAddinKey, L"InstallPath", kFolder);
  m.registry.SetString(RegRoot::Users, kAddinKey, L"Header", L"1;2;3");
  m.registry.SetString(RegRoot::Users, kAddinKey, L"LibraryVersion", L"1.7.17.0");
  m.registry.SetString(RegRoot::Users, kAddinKey, L"UserID", L"");
  ReRegister();
  for (const wchar_t* name : kSettings) {
    EXPECT_EQ(m.registry.TypeOf(RegRoot::Users, kAddinKey, name), std::optional<uint32_t>(kRegSz)) << name;
  }
  EXPECT_EQ(Value(L"Header"), L"1;2;3");
  EXPECT_EQ(Value(L"LibraryVersion"), L"1.7.17.0");
  EXPECT_EQ(Value(L"UserID"), L"");
  EXPECT_EQ(Value(L"LoginFormLeft"), L"");
  // Written back after the add-in's description, in their own order.
  std::vector<std::wstring> names;
  for (const std::wstring& entry : m.registry.writeLog) names.push_back(entry.substr(entry.find(L'|') + 1));
  ASSERT_EQ(names.size(), 5u + 16u);
  EXPECT_EQ(names[4], L"LibraryName");
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(names[5 + i], kSettings[i]);
}

TEST_F(ReRegisterTest, WithoutExcelOnlyRegsvr32RunsAndThe32BitBuildIsRegistered) {
  m.registry.SetString(RegRoot::Users, kAddinKey, L"InstallPath", kFolder);
  m.files.AddFile(kFolder + L"ORBITQuarry32.dll", test::Library(32, "lib"));
  ReRegister();
  // Only the build that is there is unregistered first.
  EXPECT_EQ(m.shell.awaited, (std::vector<std::vector<std::wstring>>{{
                                 L"\"C:\\Windows\\System32\\regsvr32.exe\" /s /u \"" + kFolder + L"orbitquarry32.dll\"",
                             }}));
  ASSERT_EQ(m.shell.elevated.size(), 1u);
  EXPECT_EQ(m.shell.elevated[0].parameters, L"/s \"" + kFolder + L"ORBITQuarry32.dll\"");
  EXPECT_EQ(Value(L"LibraryName"), L"ORBITQuarry32");
  EXPECT_EQ(m.shell.shortcuts, (std::vector<std::wstring>{kFolder + L"ORBITQuarry.exe"}));
}

TEST_F(ReRegisterTest, NoRecordedFolderDoesNothing) {
  ReRegister();
  EXPECT_TRUE(m.shell.awaited.empty());
  EXPECT_TRUE(m.shell.elevated.empty());
  EXPECT_TRUE(m.shell.shortcuts.empty());
  EXPECT_FALSE(view.terminationRequested);
}

}  // namespace
}  // namespace oq

namespace oq {
namespace {

TEST(AdministratorGateTest, OnlyTheCancelButtonEndsStartUp) {
  struct Case {
    bool admin;
    AdminWarningAnswer result;
    bool ends;
  };
  using enum AdminWarningAnswer;
  for (const Case& c : {Case{true, Cancel, false}, Case{false, Continue, false}, Case{false, Closed, false},
                        Case{false, Cancel, true}}) {
    SCOPED_TRACE(testing::Message() << c.admin << " " << static_cast<int>(c.result));
    test::FakeMachine fm;
    test::FakeView fv;
    TfmMain f{fm.machine, fv, L"https://release.test/"};
    fm.env.admin = c.admin;
    fm.env.executablePath = L"C:\\Lumentrove\\setup.exe";
    fm.dialogs.adminWarningResult = c.result;
    // As the program starts: the version file is asked for before the window.
    f.PrefetchVersionFile();
    f.OnCreate();
    EXPECT_EQ(fm.dialogs.adminWarningsShown, c.admin ? 0 : 1);
    // The brand is known by then: the warning shows its logo.
    EXPECT_EQ(fm.dialogs.adminWarningForLumentrove, !c.admin);
    EXPECT_EQ(fv.terminationRequested, c.ends);
    // A cancelled start asks the server nothing and reads no registry value.
    EXPECT_EQ(fm.http.requests.size(), c.ends ? 0u : 1u);
    EXPECT_EQ(fm.registry.KeyExists(RegRoot::Users, kAddinKey), !c.ends);
    EXPECT_EQ(fv.caption == L"Lumentrove - Ver.1.7.17", !c.ends);
    EXPECT_EQ(f.Outcome(), c.ends ? kExitDeclined : kExitDone);
  }
}

}  // namespace
}  // namespace oq
