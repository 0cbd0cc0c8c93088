#include <gtest/gtest.h>

#include <algorithm>

#include "deploy/install_list.h"
#include "fake_machine.h"
#include "library_image.h"
#include "setup/installer_update.h"
#include "setup/main_form.h"
#include "zip_writer.h"

namespace oq {
namespace {

using test::FakeDialogs;
using test::FakeMachine;
using test::FakeView;
using test::MakeStoredZip;

constexpr wchar_t kBase[] = L"https://release.test/";
constexpr wchar_t kPackage64Url[] = L"https://release.test/files/publish/ORBITQuarry64n.zip";
constexpr wchar_t kPackage32Url[] = L"https://release.test/files/publish/ORBITQuarry32n.zip";
const std::wstring kSid = L"S-1-5-21-7-8-9-1001";
const std::wstring kAddinKey = kSid + L"\\Software\\Microsoft\\Office\\Excel\\AddIns\\ORBITQuarry.XLL";
const std::wstring kAddinsKey = kSid + L"\\Software\\Microsoft\\Office\\Excel\\AddIns";
const std::wstring kFolder = L"C:\\Users\\me\\AppData\\Roaming\\ORBITQuarry\\";
const std::wstring kExcelFolder = L"C:\\Program Files\\Microsoft Office\\root\\Office16\\";

class InstallTest : public ::testing::Test {
 protected:
  InstallTest() {
    form.traceListener = [this](const std::wstring& line) { traces.push_back(line); };
    form.Store().UserSidText = kSid;
    form.x64 = true;
    form.ExcelPath = kExcelFolder;
    view.caption = L"ORBITQuarry - Ver.1.7.17";
    view.path = kFolder;
    m.files.AddDirectory(L"C:\\Users\\me\\AppData\\Roaming");
    m.files.AddFile(m.env.executablePath, "installer");
    PublishPackage(kPackage64Url, "ORBITQuarry64n.dll", test::Library(64, "new"));
    PublishPackage(kPackage32Url, "ORBITQuarry32n.dll", test::Library(32, "new"));
    m.shell.versions[L"c:\\users\\me\\appdata\\roaming\\orbitquarry\\orbitquarry64.dll"] = L"1.7.18.0";
  }

  void PublishPackage(const std::wstring& url, const std::string& library, const std::string& content) {
    m.http.Publish(url, MakeStoredZip({{library, content}, {"docs/readme.txt", "read me"}}),
                   L"application/zip");
  }
  std::optional<std::wstring> Value(const std::wstring& name) {
    return m.registry.GetString(RegRoot::Users, kAddinKey, name);
  }
  std::vector<std::wstring> WrittenNames() const {
    std::vector<std::wstring> names;
    for (const std::wstring& entry : m.registry.writeLog) names.push_back(entry.substr(entry.find(L'|') + 1));
    return names;
  }
  int Count(const std::wstring& prefix) const {  // traces that begin with it
    int n = 0;
    for (const std::wstring& t : traces) n += t.rfind(prefix, 0) == 0;
    return n;
  }
  void Install() { form.OnInstallClick(); }

  FakeMachine m;
  FakeView view;
  TfmMain form{m.machine, view, kBase};
  std::vector<std::wstring> traces;
};

TEST_F(InstallTest, FirstInstallOn64BitExcel) {
  Install();

  EXPECT_EQ(view.progressMax, 10);
  EXPECT_EQ(view.progressPositions, (std::vector<int>{1, 2, 4, 3, 4, 5, 6, 6}));
  EXPECT_FALSE(view.progressVisible);

  EXPECT_EQ(m.files.Content(kFolder + L"orbitquarry64.dll"), test::Library(64, "new"));
  EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry64n.dll"));
  EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry64.zip"));
  EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry64.dll.oqold"));
  EXPECT_EQ(m.files.Content(kFolder + L"docs\\readme.txt"), "read me");
  EXPECT_EQ(m.files.Content(kFolder + L"ORBITQuarry.exe"), "installer");
  EXPECT_FALSE(m.files.FileExists(kFolder + L"Lumentrove.exe"));

  EXPECT_EQ(WrittenNames(), (std::vector<std::wstring>{L"Description", L"FriendlyName", L"LoadBehavior",
                                                       L"InstallPath", L"InstallDate", L"LibraryName",
                                                       L"LibraryVersion"}));
  EXPECT_EQ(Value(L"Description"), L"ORBITQuarry Excel Add-in Library");
  EXPECT_EQ(Value(L"FriendlyName"), L"ORBITQuarry Excel Add-in Library");
  EXPECT_EQ(m.registry.GetDword(RegRoot::Users, kAddinKey, L"LoadBehavior"), 3u);
  EXPECT_EQ(Value(L"InstallPath"), kFolder);
  EXPECT_EQ(Value(L"InstallDate"), L"2026-12-09 14:05:09");
  EXPECT_EQ(Value(L"LibraryName"), L"ORBITQuarry64");
  EXPECT_EQ(Value(L"LibraryVersion"), L"1.7.18.0");

  ASSERT_EQ(m.shell.elevated.size(), 2u);
  EXPECT_EQ(m.shell.elevated[0].file, L"C:\\Windows\\Sysnative\\regsvr32.exe");
  EXPECT_EQ(m.shell.elevated[0].parameters, L"/s \"" + kFolder + L"ORBITQuarry64.dll\"");
  // Waited for, a minute at most, before anything is recorded.
  EXPECT_TRUE(m.shell.elevated[0].waited);
  EXPECT_EQ(m.shell.elevated[0].timeoutMs, 60000u);
  EXPECT_EQ(m.shell.elevated[1].file, kExcelFolder + L"excel.exe");
  EXPECT_FALSE(m.shell.elevated[1].waited);
  EXPECT_EQ(m.shell.elevated[1].parameters, L"");

  ASSERT_EQ(m.dialogs.shown.size(), 1u);
  EXPECT_EQ(m.dialogs.shown[0].text, L"정상적으로 완료되었습니다.  엑셀을 실행합니다.");
  EXPECT_EQ(m.dialogs.shown[0].caption, L"Excel Add-in Installer");
  EXPECT_EQ(m.dialogs.shown[0].buttons, BoxButtons::Ok);
  // The bar moved within the download's step as the bytes came in.
  ASSERT_FALSE(view.progressWithin.empty());
  EXPECT_EQ(view.progressWithin.back(), std::make_pair(4, 1000));
  for (const auto& [step, share] : view.progressWithin) EXPECT_EQ(step, 4);
  EXPECT_TRUE(view.closed);
  EXPECT_TRUE(view.terminationRequested);

  EXPECT_EQ(traces, (std::vector<std::wstring>{
                        L"설치 경로 - " + kFolder,
                        L"설치 경로 생성 " + kFolder,
                        std::wstring(L"ZIP 다운로드 시작 (1) - ") + kPackage64Url,
                        L"ZIP 다운로드 완료 - " + kFolder + L"ORBITQuarry64.zip",
                        L"UNZIP 완료",
                        L"Copy File - " + kFolder + L"ORBITQuarry.exe",
                        L"RegSvr 시작",
                        L"RegSvr 완료",
                        L"Write Registry",
                        L"Write Version - " + kFolder + L"ORBITQuarry64.dll",
                    }));
}

TEST_F(InstallTest, ListsWhatItPutsIntoTheFolder) {
  m.http.Publish(kPackage64Url,
                 MakeStoredZip({{"ORBITQuarry64n.dll", test::Library(64, "1")}, {"docs/readme.txt", "read me"},
                                {"Docs/img/a.png", "a"}}),
                 L"application/zip");
  Install();
  std::vector<std::wstring> names;
  ASSERT_TRUE(ReadInstallList(m.files, kFolder, names));
  EXPECT_EQ(names, (std::vector<std::wstring>{L".", L"ORBITQuarry64.zip", L"ORBITQuarry64n.dll", L"ORBITQuarry64.dll",
                                              L"ORBITQuarry64.dll.oqold", L"ORBITQuarry.exe", L"ORBITQuarry.exe.new",
                                              L"ORBITQuarry.exe.old", L"docs\\", L"docs\\img\\",
                                              L"docs\\readme.txt", L"Docs\\img\\a.png"}));

  // An update into the same folder keeps what is listed and adds its own.
  m.http.Publish(kPackage64Url, MakeStoredZip({{"ORBITQuarry64n.dll", test::Library(64, "2")}, {"help.chm", "help"}}),
                 L"application/zip");
  view.closed = view.terminationRequested = false;
  form.LT = true;
  Install();
  ASSERT_TRUE(ReadInstallList(m.files, kFolder, names));
  ASSERT_EQ(names.size(), 16u);
  EXPECT_EQ(names[12], L"Lumentrove.exe");
  EXPECT_EQ(names[15], L"help.chm");
}

TEST_F(InstallTest, FolderThatWasThereIsNotListedAndTheListPrecedesTheDownload) {
  // The user's own folder, typed in; the download then fails.
  m.files.AddFile(kFolder + L"docs\\mine.txt");
  m.http.unreachable = true;
  Install();
  std::vector<std::wstring> names;
  ASSERT_TRUE(ReadInstallList(m.files, kFolder, names));
  EXPECT_EQ(names, (std::vector<std::wstring>{L"ORBITQuarry64.zip", L"ORBITQuarry64n.dll", L"ORBITQuarry64.dll",
                                              L"ORBITQuarry64.dll.oqold", L"ORBITQuarry.exe", L"ORBITQuarry.exe.new",
                                              L"ORBITQuarry.exe.old"}));
}

TEST_F(InstallTest, BrandAndBitnessChooseTheNamesButNotThePackage) {
  struct Case {
    bool lumentrove, x64;
    const wchar_t* caption;
    const wchar_t* url;
    const wchar_t* library;
    const wchar_t* copy;
    const wchar_t* libraryName;
    const wchar_t* description;
  };
  const Case cases[] = {
      {true, true, L"Lumentrove - Ver.1.7.17", kPackage64Url, L"ORBITQuarry64.dll", L"Lumentrove.exe",
       L"Lumentrove64", L"Lumentrove Excel Add-in Library"},
      {true, false, L"Lumentrove - Ver.1.7.17", kPackage32Url, L"ORBITQuarry32.dll", L"Lumentrove.exe",
       L"Lumentrove32", L"Lumentrove Excel Add-in Library"},
      {false, false, L"ORBITQuarry - Ver.1.7.17", kPackage32Url, L"ORBITQuarry32.dll", L"ORBITQuarry.exe",
       L"ORBITQuarry32", L"ORBITQuarry Excel Add-in Library"},
      // A caption without a blank has no title word.
      {false, true, L"ORBITQuarry", kPackage64Url, L"ORBITQuarry64.dll", L"ORBITQuarry.exe",
       L"ORBITQuarry64", L" Excel Add-in Library"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::wstring(c.libraryName) + L" " + c.caption);
    FakeMachine fm;
    FakeView fv;
    TfmMain f{fm.machine, fv, kBase};
    f.Store().UserSidText = kSid;
    f.LT = c.lumentrove;
    f.x64 = c.x64;
    fv.caption = c.caption;
    fv.path = kFolder;
    fm.files.AddDirectory(kFolder);
    fm.files.AddFile(fm.env.executablePath, "installer");
    fm.http.Publish(c.url, MakeStoredZip({{c.x64 ? "ORBITQuarry64n.dll" : "ORBITQuarry32n.dll", test::Library(c.x64 ? 64 : 32, "lib")}}));

    f.OnInstallClick();

    ASSERT_EQ(fm.http.requests.size(), 1u);
    EXPECT_EQ(fm.http.requests[0].url, c.url);
    EXPECT_TRUE(fm.files.FileExists(kFolder + c.library));
    EXPECT_TRUE(fm.files.FileExists(kFolder + c.copy));
    EXPECT_EQ(fm.registry.GetString(RegRoot::Users, kAddinKey, L"LibraryName"), c.libraryName);
    EXPECT_EQ(fm.registry.GetString(RegRoot::Users, kAddinKey, L"Description"), c.description);
    ASSERT_FALSE(fm.shell.elevated.empty());
    EXPECT_EQ(fm.shell.elevated[0].parameters, L"/s \"" + kFolder + c.library + L"\"");
    EXPECT_EQ(fm.shell.elevated[0].file, c.x64 ? L"C:\\Windows\\Sysnative\\regsvr32.exe"
                                               : L"C:\\Windows\\System32\\regsvr32.exe");
    // No Excel folder known: nothing but regsvr32 is started, and the
    // program still ends.
    EXPECT_EQ(fm.shell.elevated.size(), 1u);
    EXPECT_TRUE(fv.terminationRequested);
    // No version resource: the value is there, and empty.
    EXPECT_EQ(fm.registry.GetString(RegRoot::Users, kAddinKey, L"LibraryVersion"), L"");
  }
}

TEST_F(InstallTest, RunningExcelIsAskedAboutAndEndedOneProcessPerYes) {
  const uint32_t first = m.processes.Start(L"EXCEL.EXE");
  const uint32_t second = m.processes.Start(L"excel.exe");
  m.dialogs.Answer(BoxAnswer::Yes);  // said yes, but left Excel open
  m.dialogs.Answer(BoxAnswer::Yes);
  m.dialogs.Answer(BoxAnswer::Yes);

  Install();

  ASSERT_EQ(m.dialogs.shown.size(), 4u);
  EXPECT_EQ(m.dialogs.shown[0].text, L"Excel이 실행중입니다. Excel 창을 모두 닫고 다시 시도하세요.");
  EXPECT_EQ(m.dialogs.shown[0].icon, BoxIcon::Information);
  EXPECT_EQ(m.dialogs.shown[0].buttons, BoxButtons::YesNo);
  for (int i : {1, 2}) {
    EXPECT_EQ(m.dialogs.shown[i].text, L"Excel을 강제 종료하시겠습니까? 저장되지 않은 데이터를 확인하세요.");
    EXPECT_EQ(m.dialogs.shown[i].caption, L"Confirm");
    EXPECT_EQ(m.dialogs.shown[i].icon, BoxIcon::Question);
  }
  EXPECT_EQ(m.processes.terminated, (std::vector<uint32_t>{first, second}));
  EXPECT_TRUE(view.terminationRequested);
}

TEST_F(InstallTest, ExcelClosedByTheUserWhileAskedNeedsNoTermination) {
  m.processes.Start(L"excel.exe");
  m.dialogs.answers.push_back([this](const FakeDialogs::Box&) {
    m.processes.processes.clear();
    return BoxAnswer::Yes;
  });
  Install();
  EXPECT_TRUE(m.processes.terminated.empty());
  EXPECT_EQ(m.dialogs.shown.size(), 2u);  // the question, then the success message
  EXPECT_TRUE(view.terminationRequested);
}

TEST_F(InstallTest, NoToEitherExcelQuestionEndsAtTheSecondPosition) {
  for (int yesFirst : {0, 1}) {
    SCOPED_TRACE(yesFirst);
    FakeMachine fm;
    FakeView fv;
    TfmMain f{fm.machine, fv, kBase};
    fv.path = kFolder;
    fm.files.AddDirectory(kFolder);
    // One that cannot be ended keeps the loop asking.
    fm.processes.Start(L"excel.exe");
    fm.processes.processes.back().protectedFromTermination = true;
    if (yesFirst) fm.dialogs.Answer(BoxAnswer::Yes), fm.dialogs.Answer(BoxAnswer::Yes);
    fm.dialogs.Answer(BoxAnswer::No);

    f.OnInstallClick();

    EXPECT_EQ(fm.dialogs.shown.size(), yesFirst ? 3u : 1u);
    EXPECT_EQ(fv.progressPositions, (std::vector<int>{1, 2}));
    EXPECT_TRUE(fv.progressVisible);
    EXPECT_TRUE(fm.http.requests.empty());
    EXPECT_FALSE(fv.terminationRequested);
    EXPECT_EQ(f.Outcome(), kExitDeclined);
  }
}

TEST_F(InstallTest, ExitCodeFollowsTheLastAttempt) {
  // A No, then an install that goes through: the run succeeded.
  m.processes.Start(L"excel.exe");
  m.dialogs.Answer(BoxAnswer::No);
  Install();
  EXPECT_EQ(form.Outcome(), kExitDeclined);
  m.processes.processes.clear();
  Install();
  EXPECT_EQ(form.Outcome(), kExitDone);
  // An error box after a success: the run failed.
  view.path = L"D:\\No\\Such\\";
  Install();
  EXPECT_EQ(form.Outcome(), kExitFailed);
}

TEST_F(InstallTest, DownloadThatLeavesNoFileEndsWithoutASecondAttempt) {
  m.files.vanishOnFinish.insert(test::FakeFileSystem::Key(kFolder + L"ORBITQuarry64.zip.part"));
  Install();
  EXPECT_EQ(m.http.requests.size(), 1u);
  ASSERT_EQ(m.dialogs.shown.size(), 1u);
  EXPECT_EQ(m.dialogs.shown[0].text,
            L"서버에서 프로그램 파일을 다운로드할 수 없습니다.\n" + kFolder + L"ORBITQuarry64.zip");
  EXPECT_EQ(view.progressPositions.back(), 4);
  EXPECT_FALSE(view.terminationRequested);
  EXPECT_EQ(form.Outcome(), kExitFailed);
}

TEST_F(InstallTest, FailuresReachTheErrorBoxAndLeaveTheWindowOpen) {
  struct Case {
    const char* what;
    std::function<void(FakeMachine&, FakeView&)> arrange;
    int lastPosition;
    std::wstring messagePart;
    bool registered = false;  // the error came after the registration
  };
  const Case cases[] = {
      {"error page instead of a package",
       [](FakeMachine& fm, FakeView&) { fm.http.files.erase(kPackage64Url); }, 4,
       kFolder + L"ORBITQuarry64.zip"},
      {"server unreachable", [](FakeMachine& fm, FakeView&) { fm.http.unreachable = true; }, 4,
       L"A connection with the server could not be established."},
      {"empty folder text", [](FakeMachine&, FakeView& fv) { fv.path.clear(); }, 1,
       L"Cannot create the folder \"\". The system cannot find the path specified."},
      {"parent folder missing", [](FakeMachine&, FakeView& fv) { fv.path = L"D:\\No\\Such\\"; }, 1,
       L"Cannot create the folder \"D:\\No\\Such\\\"."},
      {"registry refuses the write",
       [](FakeMachine& fm, FakeView&) {
         fm.registry.CreateKey(RegRoot::Users, kAddinKey);
         fm.registry.Find(RegRoot::Users, kAddinKey)->denyWrites = true;
       },
       4, L"Failed to set data for 'Description'.", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeMachine fm;
    FakeView fv;
    TfmMain f{fm.machine, fv, kBase};
    f.Store().UserSidText = kSid;
    f.x64 = true;
    fv.path = kFolder;
    fm.files.AddDirectory(L"C:\\Users\\me\\AppData\\Roaming");
    fm.http.Publish(kPackage64Url, MakeStoredZip({{"ORBITQuarry64n.dll", test::Library(64, "lib")}}));
    c.arrange(fm, fv);

    f.OnInstallClick();

    ASSERT_EQ(fm.dialogs.shown.size(), 1u);
    EXPECT_NE(fm.dialogs.shown[0].text.find(c.messagePart), std::wstring::npos) << fm.dialogs.shown[0].text;
    EXPECT_EQ(fm.dialogs.shown[0].icon, BoxIcon::Stop);
    EXPECT_EQ(fv.progressPositions.back(), c.lastPosition);
    EXPECT_TRUE(fv.progressVisible);
    EXPECT_FALSE(fv.terminationRequested);
    EXPECT_FALSE(fv.closed);
    EXPECT_EQ(fm.shell.elevated.size(), c.registered ? 1u : 0u);
    EXPECT_FALSE(fm.files.FileExists(kFolder + L"ORBITQuarry64.zip"));
    EXPECT_EQ(f.Outcome(), kExitFailed);
  }
}

TEST_F(InstallTest, UpdateReplacesTheLibraryKeepsTheInstallerCopyAndRewritesTheRecord) {
  m.files.AddFile(kFolder + L"ORBITQuarry64.dll", "library 64 old");
  m.files.AddFile(kFolder + L"ORBITQuarry.exe", "installer as new");
  m.shell.versions[L"c:\\users\\me\\appdata\\roaming\\orbitquarry\\orbitquarry.exe"] = L"1.7.17.0";
  m.registry.SetString(RegRoot::Users, kAddinKey, L"InstallDate", L"2025-01-01 00:00:00");
  m.registry.SetString(RegRoot::Users, kAddinKey, L"Header", L"kept setting");
  m.registry.CreateKey(RegRoot::Users, kAddinsKey + L"\\LT.ORBITQuarry\\ADXXLForm");
  m.env.timeSeparator = L".";

  Install();

  EXPECT_EQ(m.files.Content(kFolder + L"ORBITQuarry64.dll"), test::Library(64, "new"));
  EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry64.dll.oqold"));
  EXPECT_EQ(m.files.Content(kFolder + L"ORBITQuarry.exe"), "installer as new");
  EXPECT_EQ(Value(L"InstallDate"), L"2026-12-09 14.05.09");
  EXPECT_EQ(Value(L"Header"), L"kept setting");
  EXPECT_FALSE(m.registry.KeyExists(RegRoot::Users, kAddinsKey + L"\\LT.ORBITQuarry"));
  EXPECT_EQ(Count(L"설치 경로 생성"), 0);
}

// A fresh machine for each case of a table.
class InstallCase final : public InstallTest {
  void TestBody() override {}

 public:
  using InstallTest::form;
  using InstallTest::Install;
  using InstallTest::m;
  using InstallTest::PublishPackage;
  using InstallTest::Value;
  using InstallTest::view;
};

// A library Excel could not load, or one regsvr32 did not register, never
// replaces the working one, and nothing new is recorded.
TEST_F(InstallTest, LibraryThatCannotServeThisExcelLeavesTheInstallationAsItWas) {
  using Outcome = RunOutcome::Kind;
  struct Case {
    const char* what;
    std::string packagedLibrary;  // empty: the package holds no library
    std::vector<RunOutcome> registrations;
    std::wstring messagePart;
    bool reRegistered = false;  // the old library was registered again
  };
  test::ImageSpec noEntry;
  noEntry.exports = {"DllCanUnloadNow", "DllRegisterServer@0"};
  test::ImageSpec exe;
  exe.dll = false;
  test::ImageSpec arm64;
  arm64.machine = 0xAA64;
  const Case cases[] = {
      {"32-bit library in the 64-bit package", test::Library(32, "new"), {},
       L"다운로드한 프로그램 파일의 라이브러리는 32비트용이지만 Excel은 64비트입니다."},
      {"no DllRegisterServer", test::MakeLibraryImage(noEntry), {}, L"(DllRegisterServer)가 없습니다."},
      {"an executable", test::MakeLibraryImage(exe), {}, L"올바른 DLL 파일이 아닙니다."},
      {"not a PE image at all", "MZ but nothing more", {}, L"올바른 DLL 파일이 아닙니다."},
      {"an ARM64 library", test::MakeLibraryImage(arm64), {}, L"이 Excel에서 실행할 수 없는 형식입니다."},
      {"no library in the package", "", {}, L"다운로드한 프로그램 파일에 라이브러리(ORBITQuarry64n.dll)가 없습니다."},
      {"DllRegisterServer fails", test::Library(64, "new"), {{Outcome::Exited, 5}},
       L"라이브러리의 등록 함수(DllRegisterServer)가 실패했습니다. (regsvr32 종료 코드 5)", true},
      {"elevation declined", test::Library(64, "new"), {{Outcome::Refused, 1223}},
       L"권한 요청이 거부되었습니다.", true},
      {"regsvr32 never ends", test::Library(64, "new"), {{Outcome::TimedOut, 0}}, L"60초 안에 끝나지 않았습니다.",
       true},
      {"regsvr32 cannot start", test::Library(64, "new"), {{Outcome::NotStarted, 2}},
       L"regsvr32를 시작할 수 없습니다. The system cannot find the file specified.", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InstallCase t;
    t.m.files.AddDirectory(kFolder);
    t.m.files.AddFile(kFolder + L"ORBITQuarry64.dll", "library 64 old");
    t.m.registry.SetString(RegRoot::Users, kAddinKey, L"LibraryVersion", L"1.7.17.0");
    t.m.registry.SetString(RegRoot::Users, kAddinKey, L"InstallDate", L"2025-01-01 00:00:00");
    t.m.registry.writeLog.clear();
    if (c.packagedLibrary.empty()) {
      t.m.http.Publish(kPackage64Url, MakeStoredZip({{"docs/readme.txt", "read me"}}), L"application/zip");
    } else {
      t.PublishPackage(kPackage64Url, "ORBITQuarry64n.dll", c.packagedLibrary);
    }
    for (const RunOutcome& r : c.registrations) t.m.shell.EndWith(r);

    t.Install();

    EXPECT_EQ(t.m.files.Content(kFolder + L"ORBITQuarry64.dll"), "library 64 old");
    EXPECT_FALSE(t.m.files.FileExists(kFolder + L"ORBITQuarry64.dll.oqold"));
    EXPECT_FALSE(t.m.files.FileExists(kFolder + L"ORBITQuarry64n.dll"));
    EXPECT_FALSE(t.m.files.FileExists(kFolder + L"ORBITQuarry64.zip"));
    EXPECT_TRUE(t.m.registry.writeLog.empty());
    EXPECT_EQ(t.Value(L"LibraryVersion"), L"1.7.17.0");
    EXPECT_EQ(t.m.http.requests.size(), 1u);
    ASSERT_EQ(t.m.dialogs.shown.size(), 1u);
    const std::wstring& text = t.m.dialogs.shown[0].text;
    EXPECT_NE(text.find(c.messagePart), std::wstring::npos) << text;
    EXPECT_EQ(t.m.dialogs.shown[0].caption, L"Excel Add-in Installer");
    if (c.reRegistered) {
      // The new one was tried, then the old one registered again.
      ASSERT_EQ(t.m.shell.elevated.size(), 2u);
      EXPECT_EQ(t.m.shell.elevated[1].parameters, t.m.shell.elevated[0].parameters);
      EXPECT_NE(text.find(L"이전에 설치된 라이브러리를 그대로 사용합니다."), std::wstring::npos) << text;
    } else {
      EXPECT_TRUE(t.m.shell.elevated.empty());
    }
    EXPECT_FALSE(t.view.terminationRequested);
    EXPECT_EQ(t.form.Outcome(), kExitFailed);
  }
}

// On a first install a failed registration leaves no library and no record.
TEST_F(InstallTest, FirstInstallThatDoesNotRegisterLeavesNothingInstalled) {
  m.shell.EndWith({RunOutcome::Kind::Exited, 3});
  Install();
  EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry64.dll"));
  EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry64n.dll"));
  EXPECT_TRUE(m.registry.writeLog.empty());
  EXPECT_EQ(m.shell.elevated.size(), 1u);
  ASSERT_EQ(m.dialogs.shown.size(), 1u);
  EXPECT_EQ(m.dialogs.shown[0].text,
            L"라이브러리를 등록하지 못했습니다. 라이브러리를 불러올 수 없습니다. (regsvr32 종료 코드 3)\n"
            L"추가 기능을 설치하지 않았습니다.\n" + kFolder + L"ORBITQuarry64.dll");
  EXPECT_EQ(form.Outcome(), kExitFailed);
}

// Windows lets a loaded library be renamed, not deleted: the new one takes
// its name, and the old one stays beside until the next update.
TEST_F(InstallTest, LibraryHeldByAProcessIsReplacedAndKeptBeside) {
  m.files.AddFile(kFolder + L"ORBITQuarry64.dll", "library 64 old");
  m.files.Find(kFolder + L"ORBITQuarry64.dll")->inUse = true;
  Install();
  EXPECT_EQ(m.files.Content(kFolder + L"ORBITQuarry64.dll"), test::Library(64, "new"));
  EXPECT_EQ(m.files.Content(kFolder + L"ORBITQuarry64.dll.oqold"), "library 64 old");
  ASSERT_FALSE(m.shell.elevated.empty());
  EXPECT_EQ(m.shell.elevated[0].parameters, L"/s \"" + kFolder + L"ORBITQuarry64.dll\"");
  EXPECT_TRUE(view.terminationRequested);

  // Free by the next update, it goes then.
  m.files.Find(kFolder + L"ORBITQuarry64.dll.oqold")->inUse = false;
  view.terminationRequested = false;
  Install();
  EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry64.dll.oqold"));
  EXPECT_TRUE(view.terminationRequested);
}

TEST_F(InstallTest, FolderTypedWithoutItsBackslashIsUsedAsAPrefix) {
  const std::wstring typed = L"C:\\Users\\me\\AppData\\Roaming\\My Tools";
  view.path = typed;
  Install();
  EXPECT_TRUE(m.files.DirectoryExists(typed));
  EXPECT_TRUE(m.files.FileExists(typed + L"ORBITQuarry64.dll"));
  EXPECT_TRUE(m.files.FileExists(typed + L"ORBITQuarry.exe"));
  EXPECT_EQ(Value(L"InstallPath"), typed);
  // The blank in the folder does not split regsvr32's argument.
  EXPECT_EQ(m.shell.elevated[0].parameters, L"/s \"" + typed + L"ORBITQuarry64.dll\"");
}

// ------------------------------------------------------------ signed releases

constexpr wchar_t kManifestUrl[] = L"https://release.test/files/publish/release.txt";
constexpr wchar_t kSignatureUrl[] = L"https://release.test/files/publish/release.txt.sig";

P256PublicKey KeyOf(uint8_t seed) {
  P256PublicKey key;
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(seed * 31 + i);
  return key;
}

const P256PublicKey kKey1 = KeyOf(1), kKey2 = KeyOf(2), kStrangerKey = KeyOf(3);

// A build with two release keys, over an installed 1.7.17.0 that the tests
// expect to find untouched after every refusal.
class SignedInstallTest : public InstallTest {
 public:
  // Public: the table tests make a fresh one for each case.
  using InstallTest::m;
  using InstallTest::view;
  SignedInstallTest() {
    signedForm.traceListener = form.traceListener;
    signedForm.Store().UserSidText = kSid;
    signedForm.x64 = true;
    signedForm.ExcelPath = kExcelFolder;
    signedForm.NewestVersion = L"1.7.18";
    m.files.AddFile(kFolder + L"ORBITQuarry64.dll", "library 64 old");
    m.registry.SetString(RegRoot::Users, kAddinKey, L"InstallPath", kFolder);
    m.registry.SetString(RegRoot::Users, kAddinKey, L"LibraryVersion", L"1.7.17.0");
    m.registry.writeLog.clear();
    package64 = std::string(m.http.files[kPackage64Url].body.begin(), m.http.files[kPackage64Url].body.end());
  }

  std::string PackageLine(const std::string& name, size_t size, const std::string& content) {
    return "package " + name + " " + std::to_string(size) + " " + test::HexText(test::StandInDigest(content)) + "\n";
  }
  std::string Manifest(const std::string& version = "1.7.18", const std::string& extra = "") {
    return "format 1\nversion " + version + "\n" + extra + PackageLine("ORBITQuarry64n.zip", package64.size(), package64);
  }
  void PublishRelease(const std::string& manifest, const P256PublicKey& key = kKey1) {
    m.http.Publish(kManifestUrl, manifest);
    m.http.Publish(kSignatureUrl, test::DerSignature(test::StandInSignature(key, test::StandInDigest(manifest))),
                   L"application/octet-stream");
  }
  void Install() { signedForm.OnInstallClick(); }

  bool Installed() { return m.files.Content(kFolder + L"orbitquarry64.dll") == test::Library(64, "new"); }
  // The installation as it was: library, record, registration, no leftovers.
  void ExpectNothingChanged() {
    EXPECT_EQ(m.files.Content(kFolder + L"orbitquarry64.dll"), "library 64 old");
    EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry64.zip"));
    EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry64.zip.part"));
    EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry64n.dll"));
    EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry.exe"));
    EXPECT_TRUE(m.registry.writeLog.empty());
    EXPECT_TRUE(m.shell.elevated.empty());
    EXPECT_FALSE(view.closed);
    EXPECT_FALSE(view.terminationRequested);
    EXPECT_TRUE(view.enabled[Button::Install]);
    EXPECT_TRUE(view.enabled[Button::Close]);
  }
  std::wstring OnlyBoxText() {
    EXPECT_EQ(m.dialogs.shown.size(), 1u);
    return m.dialogs.shown.empty() ? std::wstring() : m.dialogs.shown[0].text;
  }
  int Requests(const std::wstring& url) {
    int n = 0;
    for (const auto& r : m.http.requests) n += r.url == url;
    return n;
  }

  std::string package64;
  TfmMain signedForm{m.machine, view, kBase, {kKey1, kKey2}};
};

// A fresh machine for each case of a table.
class SignedCase final : public SignedInstallTest {
  void TestBody() override {}
};

TEST_F(SignedInstallTest, ReleaseSignedWithEitherKeyInstalls) {
  for (const P256PublicKey& key : {kKey1, kKey2}) {
    m.files.AddFile(kFolder + L"ORBITQuarry64.dll", "library 64 old");
    view.closed = false;
    PublishRelease(Manifest(), key);
    Install();
    EXPECT_TRUE(Installed());
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(m.dialogs.shown.back().text, L"정상적으로 완료되었습니다.  엑셀을 실행합니다.");
  }
  // The manifest and its signature are fetched with the text headers, before
  // the package; nothing is left beside the library.
  ASSERT_GE(m.http.requests.size(), 3u);
  EXPECT_EQ(m.http.requests[0].url, kManifestUrl);
  EXPECT_EQ(m.http.requests[1].url, kSignatureUrl);
  EXPECT_EQ(m.http.requests[2].url, kPackage64Url);
  EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry64.zip.part"));
}

TEST_F(SignedInstallTest, SameVersionAgainAndLastDayOfValidityAreAccepted) {
  m.registry.SetString(RegRoot::Users, kAddinKey, L"LibraryVersion", L"1.7.18.0");
  PublishRelease(Manifest("1.7.18", "expires 2026-12-09\n"));
  Install();
  EXPECT_TRUE(Installed());
}

TEST_F(SignedInstallTest, RecordWithoutItsLibraryIsNoInstallationToDowngrade) {
  // An uninstall keeps the values; a later, older release may come in.
  m.files.RemoveFile(kFolder + L"ORBITQuarry64.dll");
  m.registry.SetString(RegRoot::Users, kAddinKey, L"LibraryVersion", L"9.0.0.0");
  PublishRelease(Manifest());
  Install();
  EXPECT_TRUE(Installed());
}

TEST_F(SignedInstallTest, VersionFileTextWithALineBreakStillMatches) {
  signedForm.NewestVersion = L"1.7.18\r\n";
  PublishRelease(Manifest());
  Install();
  EXPECT_TRUE(Installed());
}

// Every refusal of the manifest, each before anything changes: one box that
// says why and names the server's file.
TEST_F(SignedInstallTest, RefusedReleasesChangeNothing) {
  struct Case {
    const char* what;
    std::function<void(SignedInstallTest&)> prepare;
    std::wstring text;
  };
  const std::wstring manifestUrl = kManifestUrl, signatureUrl = kSignatureUrl;
  const std::wstring missing = L"서버에서 릴리스 정보를 받을 수 없습니다.\n" + manifestUrl;
  const std::wstring noSignature = L"서버에서 릴리스 서명을 받을 수 없습니다.\n" + signatureUrl;
  const std::wstring badSignature = L"릴리스 서명이 올바르지 않습니다.\n" + signatureUrl;
  const std::vector<Case> cases = {
      {"no manifest", [](auto& t) { t.PublishRelease(t.Manifest()); t.m.http.files.erase(kManifestUrl); }, missing},
      {"manifest past 64 KiB",
       [](auto& t) { t.PublishRelease(t.Manifest("1.7.18", "padding " + std::string(kMaxTextBody, 'x') + "\n")); },
       missing},
      {"no signature", [](auto& t) { t.PublishRelease(t.Manifest()); t.m.http.files.erase(kSignatureUrl); },
       noSignature},
      {"signature past 1 KiB",
       [](auto& t) {
         t.PublishRelease(t.Manifest());
         t.m.http.Publish(kSignatureUrl, std::string(kMaxSignatureBody + 1, '0'));
       },
       noSignature},
      {"another key", [](auto& t) { t.PublishRelease(t.Manifest(), kStrangerKey); }, badSignature},
      {"signature not DER",
       [](auto& t) {
         t.PublishRelease(t.Manifest());
         std::vector<uint8_t>& der = t.m.http.files[kSignatureUrl].body;
         der.resize(der.size() - 1);
       },
       badSignature},
      {"manifest changed after signing",
       [](auto& t) {
         const std::string signedText = t.Manifest();
         t.PublishRelease(signedText);
         std::string changed = signedText;
         changed[changed.find("1.7.18")] = '2';
         t.m.http.Publish(kManifestUrl, changed);
       },
       badSignature},
      {"format 2", [](auto& t) { t.PublishRelease("format 2\n" + t.Manifest().substr(9)); },
       L"릴리스 정보의 형식이 올바르지 않습니다.\n" + manifestUrl},
      {"version differs from the version file", [](auto& t) { t.PublishRelease(t.Manifest("1.7.19")); },
       L"릴리스 정보의 버전이 서버의 버전 파일과 다릅니다.\n" + manifestUrl},
      {"expired yesterday", [](auto& t) { t.PublishRelease(t.Manifest("1.7.18", "expires 2026-12-08\n")); },
       L"릴리스 정보의 유효 기간이 지났습니다.\n" + manifestUrl},
      {"downgrade",
       [](auto& t) {
         t.m.registry.SetString(RegRoot::Users, kAddinKey, L"LibraryVersion", L"1.7.18.1");
         t.m.registry.writeLog.clear();
         t.PublishRelease(t.Manifest());
       },
       L"설치된 버전보다 낮은 버전은 설치할 수 없습니다.\n" + manifestUrl},
      {"no line for this Excel's package",
       [](auto& t) {
         t.PublishRelease("format 1\nversion 1.7.18\n" +
                          t.PackageLine("ORBITQuarry32n.zip", t.package64.size(), t.package64));
       },
       L"릴리스 정보에 이 Excel에 맞는 프로그램 파일이 없습니다.\n" + manifestUrl},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SignedCase t;
    c.prepare(t);
    t.Install();
    EXPECT_EQ(t.OnlyBoxText(), c.text);
    EXPECT_EQ(t.Requests(kPackage64Url), 0);
    EXPECT_FALSE(t.m.files.FileExists(kFolder + L"ORBITQuarry64.zip"));
    t.ExpectNothingChanged();
  }
}

TEST_F(SignedInstallTest, RefusalComesBeforeTheFolderAndExcel) {
  m.files.DeleteFolderTree(kFolder);
  m.files.RemoveEmptyDirectory(kFolder);
  m.processes.Start(L"EXCEL.EXE");
  PublishRelease(Manifest(), kStrangerKey);
  Install();
  EXPECT_FALSE(m.files.DirectoryExists(kFolder));
  EXPECT_EQ(OnlyBoxText(), L"릴리스 서명이 올바르지 않습니다.\n" + std::wstring(kSignatureUrl));
  EXPECT_TRUE(m.processes.Running(L"excel.exe"));
}

// A package that is not the one the manifest declares: every attempt of the
// download loop fails, nothing of it stays, and the last failure is shown.
TEST_F(SignedInstallTest, PackageNotAsDeclaredIsRefusedAfterTheLastAttempt) {
  struct Case {
    const char* what;
    std::function<void(SignedInstallTest&)> prepare;
    std::wstring text;
    bool stoppedEarly;  // no more than the declared bytes were read
  };
  const std::wstring url = kPackage64Url;
  const std::wstring tooLong = L"다운로드한 프로그램 파일이 릴리스 정보의 크기보다 큽니다.\n" + url;
  const std::vector<Case> cases = {
      {"one byte changed",
       [](auto& t) {
         std::string other = t.package64;
         other[other.size() / 2] ^= 1;
         t.PublishRelease(t.Manifest("1.7.18", "") );
         t.m.http.files[kPackage64Url].body.assign(other.begin(), other.end());
       },
       L"다운로드한 프로그램 파일의 SHA-256 값이 릴리스 정보와 다릅니다.\n" + url, false},
      {"shorter than declared",
       [](auto& t) {
         t.PublishRelease(t.Manifest());
         t.m.http.files[kPackage64Url].body.pop_back();
       },
       L"다운로드한 프로그램 파일의 크기가 릴리스 정보와 다릅니다.\n" + url, false},
      {"longer, and Content-Length says so",
       [](auto& t) {
         t.PublishRelease(t.Manifest());
         t.m.http.files[kPackage64Url].body.push_back('!');
       },
       tooLong, true},
      {"longer, without Content-Length",
       [](auto& t) {
         t.PublishRelease(t.Manifest());
         t.m.http.files[kPackage64Url].body.resize(t.package64.size() * 4, '!');
         t.m.http.sendContentLength = false;
         t.m.http.chunkSize = 64;
       },
       tooLong, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SignedCase t;
    c.prepare(t);
    t.Install();
    EXPECT_EQ(t.Requests(kPackage64Url), 10);
    EXPECT_EQ(t.OnlyBoxText(), c.text);
    if (c.stoppedEarly) {
      EXPECT_LE(t.m.http.sent, 10 * (t.package64.size() + t.m.http.chunkSize));
    }
    t.ExpectNothingChanged();
  }
}

TEST_F(SignedInstallTest, WhileThePackageComesInOnlyCloseActs) {
  PublishRelease(Manifest());
  m.http.chunkSize = 16;
  int held = 0, pieces = 0;
  std::vector<int> shares;
  m.http.betweenPieces = [&] {
    ++pieces;
    held += !view.enabled[Button::Install] && !view.enabled[Button::Uninstall] && view.enabled[Button::Close];
  };
  view.enabled[Button::Uninstall] = false;
  Install();
  ASSERT_TRUE(Installed());
  EXPECT_EQ(pieces, static_cast<int>((package64.size() + 15) / 16));
  EXPECT_EQ(held, pieces);
  // A move of the bar for every piece, each further than the one before.
  ASSERT_EQ(view.progressWithin.size(), static_cast<size_t>(pieces));
  for (size_t i = 1; i < view.progressWithin.size(); ++i) {
    EXPECT_GE(view.progressWithin[i].second, view.progressWithin[i - 1].second);
  }
  EXPECT_EQ(view.progressWithin.back().second, 1000);
}

TEST_F(SignedInstallTest, ButtonsComeBackAsTheyWereAfterAFailure) {
  view.enabled[Button::Uninstall] = false;
  Install();  // nothing published
  EXPECT_TRUE(view.enabled[Button::Install]);
  EXPECT_FALSE(view.enabled[Button::Uninstall]);
  EXPECT_TRUE(view.enabled[Button::Close]);
}

TEST_F(InstallTest, UnsignedBuildRefusesAPackageAnnouncedPast512MiB) {
  m.http.claimedLength = kMaxUnsignedPackage + 1;
  Install();
  EXPECT_EQ(m.http.sent, 0u);
  ASSERT_EQ(m.dialogs.shown.size(), 1u);
  EXPECT_EQ(m.dialogs.shown[0].text, L"서버에서 프로그램 파일을 다운로드할 수 없습니다.\n" + kFolder + L"ORBITQuarry64.zip");
  EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry64.zip.part"));
  EXPECT_FALSE(view.closed);
}

// A transfer that breaks off is taken up where it stopped, and only when the
// server vouches that the rest belongs to the same file.
TEST_F(SignedInstallTest, BrokenTransferIsResumedOnlyWhenTheServerVouchesForTheRest) {
  struct Case {
    const char* what;
    std::function<void(SignedCase&)> arrange;
    std::vector<bool> askedForTheRest;  // by package request, in order
  };
  const Case cases[] = {
      {"206 from where it broke off: appended", [](SignedCase&) {}, {false, true}},
      {"200 instead: started over", [](SignedCase& t) { t.m.http.honourRanges = false; }, {false, true}},
      {"206 from elsewhere: dropped, then started over", [](SignedCase& t) { t.m.http.rangeSkew = 7; },
       {false, true, false}},
      {"no validator: started over at once", [](SignedCase& t) { t.m.http.sendValidators = false; }, {false, false}},
      {"the rest of another file: started over once the hash fails",
       [](SignedCase& t) {
         const std::vector<uint8_t> good = t.m.http.files[kPackage64Url].body;
         t.m.http.beforeAnswer = [&t, good](const test::FakeReleaseServer::Request& r) {
           if (r.url != kPackage64Url) return;
           std::vector<uint8_t> body = good;
           // The same length and validator, other bytes after the break.
           if (t.m.http.requests.size() == 4) body.back() ^= 1;
           t.m.http.files[kPackage64Url].body = body;
         };
       },
       {false, true, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SignedCase t;
    t.PublishRelease(t.Manifest());
    t.m.http.cutEachResponseAfter = t.package64.size() / 2;
    t.m.http.cutResponses = 1;
    c.arrange(t);
    t.Install();
    EXPECT_TRUE(t.Installed());
    std::vector<bool> asked;
    for (const auto& r : t.m.http.requests) {
      if (r.url != kPackage64Url) continue;
      const auto range = std::find_if(r.headers.begin(), r.headers.end(), [](auto& h) { return h.name == L"Range"; });
      asked.push_back(range != r.headers.end());
      if (range != r.headers.end()) {
        EXPECT_EQ(range->value, L"bytes=" + std::to_wstring(t.package64.size() / 2) + L"-");
        const auto ifRange =
            std::find_if(r.headers.begin(), r.headers.end(), [](auto& h) { return h.name == L"If-Range"; });
        ASSERT_NE(ifRange, r.headers.end());
        EXPECT_EQ(ifRange->value, L"\"" + std::to_wstring(t.package64.size()) + L"-v1\"");
      }
    }
    EXPECT_EQ(asked, c.askedForTheRest);
    EXPECT_FALSE(t.m.files.FileExists(kFolder + L"ORBITQuarry64.zip.part"));
  }
}

TEST_F(SignedInstallTest, EveryResponseCutHalfWayStillInstalls) {
  PublishRelease(Manifest());
  m.http.cutEachResponseAfter = package64.size() / 2 + 1;
  Install();
  EXPECT_TRUE(Installed());
  EXPECT_EQ(Requests(kPackage64Url), 2);
}

TEST_F(SignedInstallTest, ABreakOnEveryAttemptSaysHowFarItGot) {
  PublishRelease(Manifest());
  m.http.honourRanges = false;
  m.http.cutEachResponseAfter = 100;
  Install();
  EXPECT_EQ(Requests(kPackage64Url), 10);
  EXPECT_EQ(OnlyBoxText(), L"다운로드가 중간에 끊어졌습니다. 10번 시도했지만 " + std::to_wstring(package64.size()) +
                               L"바이트 중 100바이트까지만 받았습니다. 네트워크 연결을 확인하세요.\n" + kPackage64Url);
  ExpectNothingChanged();
  EXPECT_EQ(signedForm.Outcome(), kExitFailed);
}

// Room for the package is looked for before it is fetched, room for what
// comes out of it before a byte of that is written.
TEST_F(SignedInstallTest, DriveWithoutRoomIsRefusedBeforeAnythingIsWritten) {
  for (bool roomForThePackage : {false, true}) {
    SCOPED_TRACE(roomForThePackage);
    SignedCase t;
    // What comes out takes far more than the package, stored with no gain.
    t.m.http.Publish(kPackage64Url,
                     MakeStoredZip({{"ORBITQuarry64n.dll", test::Library(64, "new")},
                                    {"docs/manual.bin", std::string(100000, 'x')}}),
                     L"application/zip");
    t.package64.assign(t.m.http.files[kPackage64Url].body.begin(), t.m.http.files[kPackage64Url].body.end());
    t.PublishRelease(t.Manifest());
    t.m.files.freeSpace = roomForThePackage ? t.package64.size() + 5000 : t.package64.size() - 1;
    t.Install();
    const std::wstring text = t.OnlyBoxText();
    EXPECT_EQ(text.rfind(L"설치 폴더의 드라이브(C:)에 공간이 부족합니다. 필요한 공간: ", 0), 0u) << text;
    EXPECT_EQ(t.Requests(kPackage64Url), roomForThePackage ? 1 : 0);
    t.ExpectNothingChanged();
    EXPECT_EQ(t.signedForm.Outcome(), kExitFailed);
  }
}

TEST_F(InstallTest, FullDiskNamesItsCauseAndTheDrive) {
  m.files.freeSpace = 1000;
  Install();
  ASSERT_EQ(m.dialogs.shown.size(), 1u);
  EXPECT_EQ(m.dialogs.shown[0].text, L"Cannot write file \"" + kFolder +
                                         L"ORBITQuarry64.zip.part\". There is not enough space on the disk. (C:).");
  EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry64.zip.part"));
}

// Closing the window while the package comes in, or while a question is
// up, ends the install: nothing of it stays, nothing is recorded.
TEST_F(SignedInstallTest, ClosingDuringTheTransferCancelsIt) {
  struct Case {
    const char* what;
    bool firstInstall;
    bool duringTheQuestion;
  };
  for (const Case& c : {Case{"update, mid-transfer", false, false}, Case{"first install, mid-transfer", true, false},
                        Case{"while asked to close Excel", false, true}}) {
    SCOPED_TRACE(c.what);
    SignedCase t;
    if (c.firstInstall) {
      t.m.files.RemoveFile(kFolder + L"ORBITQuarry64.dll");
      t.m.files.RemoveEmptyDirectory(kFolder);
    }
    t.PublishRelease(t.Manifest());
    t.m.http.chunkSize = 16;
    int pieces = 0;
    t.m.http.betweenPieces = [&] {
      if (++pieces == 3 && !c.duringTheQuestion) t.signedForm.OnCloseClick();
    };
    if (c.duringTheQuestion) {
      t.m.processes.Start(L"EXCEL.EXE");
      t.m.dialogs.answers.push_back([&](const test::FakeDialogs::Box&) {
        t.signedForm.OnCloseClick();
        return BoxAnswer::Yes;
      });
    }
    t.Install();
    EXPECT_EQ(pieces, c.duringTheQuestion ? 0 : 3);
    EXPECT_EQ(t.m.dialogs.shown.size(), c.duringTheQuestion ? 1u : 0u);
    EXPECT_FALSE(t.m.files.FileExists(kFolder + L"ORBITQuarry64.zip.part"));
    EXPECT_FALSE(t.m.files.FileExists(kFolder + L"ORBITQuarry64.zip"));
    EXPECT_TRUE(t.m.registry.writeLog.empty());
    EXPECT_TRUE(t.m.shell.elevated.empty());
    EXPECT_EQ(t.m.files.DirectoryExists(kFolder), !c.firstInstall);
    if (!c.firstInstall) {
      EXPECT_EQ(t.m.files.Content(kFolder + L"orbitquarry64.dll"), "library 64 old");
    }
    EXPECT_TRUE(t.view.closed);
    EXPECT_EQ(t.signedForm.Outcome(), kExitDeclined);
  }
}

// Once the new library is being put in place a close waits for the end.
TEST_F(SignedInstallTest, ClosingDuringTheRegistrationWaitsForIt) {
  PublishRelease(Manifest());
  m.shell.waitedOutcomes.push_back([&](const test::FakeShell::Elevated&) {
    signedForm.OnCloseClick();
    return RunOutcome{};
  });
  Install();
  EXPECT_TRUE(Installed());
  EXPECT_EQ(Value(L"LibraryVersion"), L"1.7.18.0");
  EXPECT_EQ(signedForm.Outcome(), kExitDone);
}

// The version file start-up could not get is asked for again at Install.
TEST_F(SignedInstallTest, InstallAsksAgainForTheVersionFileStartUpCouldNotGet) {
  m.http.Publish(L"https://release.test/files/publish/xlllibver.txt", "\xEF\xBB\xBF" "1.7.18");
  for (bool serverBack : {false, true}) {
    SCOPED_TRACE(serverBack);
    m.http.unreachable = true;
    m.dialogs.shown.clear();
    // As the program starts: the version file and the signed release are
    // asked for early, and fail alike.
    signedForm.PrefetchVersionFile();
    signedForm.OnCreate();
    ASSERT_EQ(m.dialogs.shown.size(), 1u);
    m.http.unreachable = !serverBack;
    PublishRelease(Manifest());
    m.dialogs.shown.clear();
    Install();
    if (!serverBack) {
      EXPECT_EQ(OnlyBoxText(), L"A connection with the server could not be established.");
      continue;
    }
    EXPECT_TRUE(Installed());
    EXPECT_EQ(m.dialogs.shown.back().text, L"정상적으로 완료되었습니다.  엑셀을 실행합니다.");
  }
}

// ------------------------------------------------------------ the installer itself

TEST(InstallerUpdateTest, OnlyANewerInstallerIsEverTaken) {
  using A = InstallerAction;
  struct Case {
    const char* what;
    bool signedBuild;
    const wchar_t* offered;  // nullptr: the release offers none
    bool asCopy;
    std::optional<std::wstring> copy;
    A action;
  };
  const Case cases[] = {
      {"as the copy, a newer one", true, L"1.7.18.0", true, {}, A::ReplaceSelf},
      {"as the copy, the same", true, L"1.7.17.0", true, {}, A::None},
      {"as the copy, an older one", true, L"1.7.16.9", true, {}, A::None},
      {"as the copy, a newer one, unsigned build", false, L"1.7.18.0", true, {}, A::None},
      {"as the copy, none offered", true, nullptr, true, {}, A::None},
      {"elsewhere, the copy older", true, L"1.7.18.0", false, L"1.7.17.0", A::ReplaceCopy},
      {"elsewhere, the copy without a version", true, L"1.7.18.0", false, L"", A::ReplaceCopy},
      {"elsewhere, the copy the same", true, L"1.7.18.0", false, L"1.7.18.0", A::None},
      {"elsewhere, the copy newer", true, L"1.7.18.0", false, L"1.7.20.0", A::None},
      {"elsewhere, no copy", true, L"1.7.18.0", false, {}, A::None},
      {"elsewhere, the copy older, unsigned build", false, L"1.7.18.0", false, L"1.7.17.0", A::None},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InstallerFacts facts;
    facts.signedBuild = c.signedBuild;
    if (c.offered) facts.offered = ReleaseInstaller{{"ORBITQuarrySetup.exe", 1, {}}, c.offered};
    facts.running = L"1.7.17.0";
    facts.runningAsCopy = c.asCopy;
    facts.copy = c.copy;
    EXPECT_EQ(DecideInstallerAction(facts), c.action);
  }
}

// A signed release that offers a newer installer; the shortcut's copy in the
// install folder (1.7.17) is what runs.
class InstallerUpdateFlow : public SignedInstallTest {
 public:
  using SignedInstallTest::m;
  using SignedInstallTest::view;
  const std::wstring kSelf = kFolder + L"ORBITQuarry.exe";
  const std::wstring kInstallerUrl = L"https://release.test/files/publish/ORBITQuarrySetup.exe";
  std::string newInstaller = "installer 1.7.18 " + std::string(3000, 'n');

  InstallerUpdateFlow() {
    m.http.Publish(L"https://release.test/files/publish/xlllibver.txt", "\xEF\xBB\xBF" "1.7.18");
    m.files.AddFile(kSelf, "installer 1.7.17");
    m.env.executablePath = kSelf;
    m.http.Publish(kInstallerUrl, newInstaller, L"application/octet-stream");
    Offer(InstallerLine(newInstaller.size(), newInstaller, "1.7.18.0"));
  }
  std::string InstallerLine(size_t size, const std::string& content, const std::string& version,
                            const std::string& name = "ORBITQuarrySetup.exe") {
    return "installer " + name + " " + std::to_string(size) + " " + test::HexText(test::StandInDigest(content)) +
           " " + version + "\n";
  }
  void Offer(const std::string& line) { PublishRelease(Manifest("1.7.18", line)); }
  void Start() {
    signedForm.PrefetchVersionFile();
    signedForm.OnCreate();
  }
  // The folder holds neither a temporary nor a set-aside installer.
  void ExpectNoLeftovers() {
    for (const wchar_t* name : {L"ORBITQuarry.exe.new", L"ORBITQuarry.exe.new.part", L"ORBITQuarry.exe.old"}) {
      EXPECT_FALSE(m.files.FileExists(kFolder + name)) << name;
    }
  }
};

class InstallerUpdateCase final : public InstallerUpdateFlow {
  void TestBody() override {}
};

TEST_F(InstallerUpdateFlow, TheCopyUpdatesItselfAndEndsAsTheNewCopyEnds) {
  m.env.arguments = {L"UPDATE"};
  std::optional<std::string> ranFile;
  m.shell.runToExit = [&](const test::FakeShell::Ran& r) {
    ranFile = m.files.Content(r.program);
    return std::optional<uint32_t>(7);
  };
  Start();
  ASSERT_EQ(m.shell.ranToExit.size(), 1u);
  EXPECT_EQ(m.shell.ranToExit[0].program, kSelf);
  EXPECT_EQ(m.shell.ranToExit[0].arguments, L"UPDATE");
  EXPECT_EQ(ranFile, newInstaller);
  EXPECT_EQ(m.env.guardReleases, 1);
  EXPECT_EQ(signedForm.Outcome(), 7);
  EXPECT_TRUE(view.terminationRequested);
  // This one does nothing more: no package fetched, nothing registered.
  EXPECT_EQ(Requests(kPackage64Url), 0);
  EXPECT_TRUE(m.shell.elevated.empty());
  // Set aside while it still runs; the next start removes it.
  EXPECT_EQ(m.files.Content(kSelf + L".old"), "installer 1.7.17");
  EXPECT_FALSE(m.files.FileExists(kSelf + L".new"));
  m.http.files.erase(kManifestUrl);
  test::FakeView next;
  TfmMain nextRun{m.machine, next, kBase, {kKey1}};
  nextRun.OnCreate();
  EXPECT_FALSE(m.files.FileExists(kSelf + L".old"));
}

// One executable serves both brands: the Lumentrove copy takes the new
// installer under its own name, so it stays a Lumentrove copy.
TEST_F(InstallerUpdateFlow, TheLumentroveCopyKeepsItsName) {
  const std::wstring lumentrove = kFolder + L"Lumentrove.exe";
  m.files.AddFile(lumentrove, "installer 1.7.17");
  m.env.executablePath = lumentrove;
  Start();
  ASSERT_EQ(m.shell.ranToExit.size(), 1u);
  EXPECT_EQ(m.shell.ranToExit[0].program, lumentrove);
  EXPECT_EQ(m.files.Content(lumentrove), newInstaller);
  EXPECT_EQ(m.files.Content(kSelf), "installer 1.7.17");  // the other brand's copy is no business of this one
}

// Whatever is wrong with the offered installer, the running one and its
// file stay as they were, nothing is left behind, and start-up goes on.
TEST_F(InstallerUpdateFlow, BadOffersLeaveTheInstallerAsItWas) {
  struct Case {
    const char* what;
    std::function<void(InstallerUpdateCase&)> arrange;
  };
  const Case cases[] = {
      {"not on the server", [](InstallerUpdateCase& t) { t.m.http.files.erase(t.kInstallerUrl); }},
      {"shorter than offered",
       [](InstallerUpdateCase& t) { t.m.http.Publish(t.kInstallerUrl, t.newInstaller.substr(10)); }},
      {"longer than offered", [](InstallerUpdateCase& t) { t.m.http.Publish(t.kInstallerUrl, t.newInstaller + "x"); }},
      {"another hash",
       [](InstallerUpdateCase& t) {
         std::string other = t.newInstaller;
         other[5] ^= 1;
         t.m.http.Publish(t.kInstallerUrl, other);
       }},
      {"the same version",
       [](InstallerUpdateCase& t) { t.Offer(t.InstallerLine(t.newInstaller.size(), t.newInstaller, "1.7.17.0")); }},
      {"an older version",
       [](InstallerUpdateCase& t) { t.Offer(t.InstallerLine(t.newInstaller.size(), t.newInstaller, "1.7.9.0")); }},
      {"a name with a path",
       [](InstallerUpdateCase& t) {
         t.Offer(t.InstallerLine(t.newInstaller.size(), t.newInstaller, "1.7.18.0", "../ORBITQuarrySetup.exe"));
       }},
      {"cut off on every response",
       [](InstallerUpdateCase& t) {
         t.m.http.honourRanges = false;
         t.m.http.cutEachResponseAfter = 100;
       }},
      {"the new copy cannot start",
       [](InstallerUpdateCase& t) { t.m.shell.runToExit = [](const auto&) { return std::optional<uint32_t>(); }; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InstallerUpdateCase t;
    c.arrange(t);
    t.Start();
    EXPECT_EQ(t.m.files.Content(t.kSelf), "installer 1.7.17");
    t.ExpectNoLeftovers();
    EXPECT_TRUE(t.m.env.guardHeld);
    EXPECT_FALSE(t.view.terminationRequested);
    // Start-up went on to fill the window in.
    EXPECT_EQ(t.view.labels[Label::XLL], L"Add-In Version : 1.7.17.0 (New Version = 1.7.18)");
  }
}

// Started from anywhere else (a downloaded installer), the copy in the
// install folder is what gets the newer installer.
TEST_F(InstallerUpdateFlow, ADownloadedInstallerUpdatesAnOlderCopy) {
  m.env.executablePath = L"C:\\Users\\me\\Downloads\\ORBITQuarrySetup.exe";
  m.files.AddFile(m.env.executablePath, "installer 1.7.17");
  m.shell.versions[L"c:\\users\\me\\appdata\\roaming\\orbitquarry\\orbitquarry.exe"] = L"1.7.16.0";
  Start();
  EXPECT_EQ(m.files.Content(kSelf), newInstaller);
  ExpectNoLeftovers();
  EXPECT_TRUE(m.shell.ranToExit.empty());
  EXPECT_FALSE(view.terminationRequested);
}

// The install's own copy of the installer: written when missing or older,
// never over one as new or newer.
TEST_F(InstallTest, InstallerCopyIsReplacedOnlyByANewerOne) {
  const std::wstring copy = kFolder + L"ORBITQuarry.exe";
  const std::wstring copyKey = L"c:\\users\\me\\appdata\\roaming\\orbitquarry\\orbitquarry.exe";
  struct Case {
    const char* what;
    std::optional<std::wstring> copyVersion;  // nullopt: no copy
    bool replaced;
  };
  for (const Case& c : {Case{"missing", std::nullopt, true}, Case{"older", L"1.7.16.0", true},
                        Case{"without a version", L"", true}, Case{"the same", L"1.7.17.0", false},
                        Case{"newer", L"1.7.99.0", false}}) {
    SCOPED_TRACE(c.what);
    InstallCase t;
    if (c.copyVersion) {
      t.m.files.AddFile(copy, "copy there");
      if (!c.copyVersion->empty()) t.m.shell.versions[copyKey] = *c.copyVersion;
    }
    t.Install();
    EXPECT_EQ(t.m.files.Content(copy), c.replaced ? "installer" : "copy there");
    EXPECT_FALSE(t.m.files.FileExists(copy + L".new"));
  }
}

}  // namespace
}  // namespace oq
