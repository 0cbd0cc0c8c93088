#include <gtest/gtest.h>

#include "deploy/install_list.h"
#include "fake_machine.h"
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
    PublishPackage(kPackage64Url, "ORBITQuarry64n.dll", "library 64 new");
    PublishPackage(kPackage32Url, "ORBITQuarry32n.dll", "library 32 new");
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

  EXPECT_EQ(m.files.Content(kFolder + L"orbitquarry64.dll"), "library 64 new");
  EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry64n.dll"));
  EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry64.zip"));
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
  EXPECT_EQ(m.shell.elevated[0].file, L"regsvr32");
  EXPECT_EQ(m.shell.elevated[0].parameters, L"/s \"" + kFolder + L"ORBITQuarry64.dll\"");
  EXPECT_EQ(m.shell.elevated[1].file, kExcelFolder + L"excel.exe");
  EXPECT_EQ(m.shell.elevated[1].parameters, L"");

  ASSERT_EQ(m.dialogs.shown.size(), 1u);
  EXPECT_EQ(m.dialogs.shown[0].text, L"정상적으로 완료되었습니다.  엑셀을 실행합니다.");
  EXPECT_EQ(m.dialogs.shown[0].caption, L"Excel Add-in Installer");
  EXPECT_EQ(m.dialogs.shown[0].buttons, BoxButtons::Ok);
  // The second of registration time keeps the window painting.
  EXPECT_EQ(m.dialogs.processMessagesCalls, 10);
  EXPECT_TRUE(view.closed);
  EXPECT_TRUE(view.terminationRequested);

  EXPECT_EQ(traces, (std::vector<std::wstring>{
                        L"설치 경로 - " + kFolder,
                        L"설치 경로 생성 " + kFolder,
                        std::wstring(L"ZIP 다운로드 시작 (1) - ") + kPackage64Url,
                        L"ZIP 다운로드 완료 - " + kFolder + L"ORBITQuarry64.zip",
                        L"UNZIP 완료",
                        L"Copy File - " + kFolder + L"ORBITQuarry.exe",
                        L"Write Registry",
                        L"RegSvr 시작",
                        L"RegSvr 완료",
                        L"Write Version - " + kFolder + L"ORBITQuarry64.dll",
                    }));
}

TEST_F(InstallTest, ListsWhatItPutsIntoTheFolder) {
  m.http.Publish(kPackage64Url,
                 MakeStoredZip({{"ORBITQuarry64n.dll", "lib"}, {"docs/readme.txt", "read me"}, {"Docs/img/a.png", "a"}}),
                 L"application/zip");
  Install();
  std::vector<std::wstring> names;
  ASSERT_TRUE(ReadInstallList(m.files, kFolder, names));
  EXPECT_EQ(names, (std::vector<std::wstring>{L".", L"ORBITQuarry64.zip", L"ORBITQuarry64n.dll", L"ORBITQuarry64.dll",
                                              L"ORBITQuarry.exe", L"docs\\", L"docs\\img\\", L"docs\\readme.txt",
                                              L"Docs\\img\\a.png"}));

  // An update into the same folder keeps what is listed and adds its own.
  m.http.Publish(kPackage64Url, MakeStoredZip({{"ORBITQuarry64n.dll", "lib 2"}, {"help.chm", "help"}}),
                 L"application/zip");
  view.closed = view.terminationRequested = false;
  form.LT = true;
  Install();
  ASSERT_TRUE(ReadInstallList(m.files, kFolder, names));
  ASSERT_EQ(names.size(), 11u);
  EXPECT_EQ(names[9], L"Lumentrove.exe");
  EXPECT_EQ(names[10], L"help.chm");
}

TEST_F(InstallTest, FolderThatWasThereIsNotListedAndTheListPrecedesTheDownload) {
  // The user's own folder, typed in; the download then fails.
  m.files.AddFile(kFolder + L"docs\\mine.txt");
  m.http.unreachable = true;
  Install();
  std::vector<std::wstring> names;
  ASSERT_TRUE(ReadInstallList(m.files, kFolder, names));
  EXPECT_EQ(names, (std::vector<std::wstring>{L"ORBITQuarry64.zip", L"ORBITQuarry64n.dll", L"ORBITQuarry64.dll",
                                              L"ORBITQuarry.exe"}));
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
    fm.http.Publish(c.url, MakeStoredZip({{c.x64 ? "ORBITQuarry64n.dll" : "ORBITQuarry32n.dll", "lib"}}));

    f.OnInstallClick();

    ASSERT_EQ(fm.http.requests.size(), 1u);
    EXPECT_EQ(fm.http.requests[0].url, c.url);
    EXPECT_TRUE(fm.files.FileExists(kFolder + c.library));
    EXPECT_TRUE(fm.files.FileExists(kFolder + c.copy));
    EXPECT_EQ(fm.registry.GetString(RegRoot::Users, kAddinKey, L"LibraryName"), c.libraryName);
    EXPECT_EQ(fm.registry.GetString(RegRoot::Users, kAddinKey, L"Description"), c.description);
    ASSERT_FALSE(fm.shell.elevated.empty());
    EXPECT_EQ(fm.shell.elevated[0].parameters, L"/s \"" + kFolder + c.library + L"\"");
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

TEST_F(InstallTest, PackageWithoutTheNewLibraryIsFetchedTenTimes) {
  m.http.Publish(kPackage64Url, MakeStoredZip({{"readme.txt", "no library here"}}));
  for (bool earlierLibrary : {true, false}) {
    SCOPED_TRACE(earlierLibrary);
    traces.clear();
    m.http.requests.clear();
    m.dialogs.shown.clear();
    view.progressPositions.clear();
    if (earlierLibrary) m.files.AddFile(kFolder + L"ORBITQuarry64.dll", "library 64 old");

    Install();

    EXPECT_EQ(m.http.requests.size(), 10u);
    std::vector<std::wstring> attempts;
    for (const std::wstring& t : traces) {
      if (t.rfind(L"ZIP 다운로드 시작 (", 0) == 0) attempts.push_back(t);
    }
    ASSERT_EQ(attempts.size(), 10u);
    for (int n = 1; n <= 10; ++n) {
      EXPECT_EQ(attempts[n - 1], L"ZIP 다운로드 시작 (" + std::to_wstring(n) + L") - " + kPackage64Url);
    }
    EXPECT_EQ(Count(L"UNZIP 완료"), 0);
    EXPECT_TRUE(m.files.FileExists(kFolder + L"ORBITQuarry64.zip"));
    if (earlierLibrary) {
      EXPECT_EQ(m.files.Content(kFolder + L"ORBITQuarry64.dll"), "library 64 old");
      EXPECT_TRUE(view.terminationRequested);
      m.files.RemoveFile(kFolder + L"ORBITQuarry64.dll");
      view.terminationRequested = false;
    } else {
      ASSERT_EQ(m.dialogs.shown.size(), 1u);
      EXPECT_EQ(m.dialogs.shown[0].text, L"설치된 파일을 찾을 수 없습니다.\n" + kFolder + L"ORBITQuarry64.dll");
      EXPECT_EQ(m.dialogs.shown[0].caption, L"Excel Add-in Installer");
      EXPECT_EQ(view.progressPositions.back(), 3);
      EXPECT_TRUE(view.progressVisible);
      EXPECT_FALSE(view.terminationRequested);
      EXPECT_EQ(form.Outcome(), kExitFailed);
    }
  }
}

TEST_F(InstallTest, DownloadThatLeavesNoFileEndsWithoutASecondAttempt) {
  m.files.vanishOnFinish.insert(test::FakeFileSystem::Key(kFolder + L"ORBITQuarry64.zip"));
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
       4, L"Failed to set data for 'Description'."},
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
    fm.http.Publish(kPackage64Url, MakeStoredZip({{"ORBITQuarry64n.dll", "lib"}}));
    c.arrange(fm, fv);

    f.OnInstallClick();

    ASSERT_EQ(fm.dialogs.shown.size(), 1u);
    EXPECT_NE(fm.dialogs.shown[0].text.find(c.messagePart), std::wstring::npos) << fm.dialogs.shown[0].text;
    EXPECT_EQ(fm.dialogs.shown[0].icon, BoxIcon::Stop);
    EXPECT_EQ(fv.progressPositions.back(), c.lastPosition);
    EXPECT_TRUE(fv.progressVisible);
    EXPECT_FALSE(fv.terminationRequested);
    EXPECT_FALSE(fv.closed);
    EXPECT_TRUE(fm.shell.elevated.empty());
    EXPECT_EQ(f.Outcome(), kExitFailed);
  }
}

TEST_F(InstallTest, ErrorPageStaysBesideTheFolderAsThePackageFile) {
  m.http.files.erase(kPackage64Url);
  Install();
  const std::optional<std::string> page = m.files.Content(kFolder + L"ORBITQuarry64.zip");
  ASSERT_TRUE(page.has_value());
  EXPECT_NE(page->find("404"), std::string::npos);
  // The message names the package.
  ASSERT_EQ(m.dialogs.shown.size(), 1u);
  EXPECT_NE(m.dialogs.shown[0].text.find(kFolder + L"ORBITQuarry64.zip"), std::wstring::npos);
}

TEST_F(InstallTest, UpdateReplacesTheLibraryKeepsTheInstallerCopyAndRewritesTheRecord) {
  m.files.AddFile(kFolder + L"ORBITQuarry64.dll", "library 64 old");
  m.files.AddFile(kFolder + L"ORBITQuarry.exe", "older installer");
  m.registry.SetString(RegRoot::Users, kAddinKey, L"InstallDate", L"2025-01-01 00:00:00");
  m.registry.SetString(RegRoot::Users, kAddinKey, L"Header", L"kept setting");
  m.registry.CreateKey(RegRoot::Users, kAddinsKey + L"\\LT.ORBITQuarry\\ADXXLForm");
  m.env.timeSeparator = L".";

  Install();

  EXPECT_EQ(m.files.Content(kFolder + L"ORBITQuarry64.dll"), "library 64 new");
  EXPECT_EQ(m.files.Content(kFolder + L"ORBITQuarry.exe"), "older installer");
  EXPECT_EQ(Value(L"InstallDate"), L"2026-12-09 14.05.09");
  EXPECT_EQ(Value(L"Header"), L"kept setting");
  EXPECT_FALSE(m.registry.KeyExists(RegRoot::Users, kAddinsKey + L"\\LT.ORBITQuarry"));
  EXPECT_EQ(Count(L"설치 경로 생성"), 0);
}

TEST_F(InstallTest, LibraryHeldByAProcessStaysInstalledAndIsRegistered) {
  m.files.AddFile(kFolder + L"ORBITQuarry64.dll", "library 64 old");
  m.files.Find(kFolder + L"ORBITQuarry64.dll")->inUse = true;
  Install();
  EXPECT_EQ(m.files.Content(kFolder + L"ORBITQuarry64.dll"), "library 64 old");
  ASSERT_FALSE(m.shell.elevated.empty());
  EXPECT_EQ(m.shell.elevated[0].parameters, L"/s \"" + kFolder + L"ORBITQuarry64.dll\"");
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

}  // namespace
}  // namespace oq
