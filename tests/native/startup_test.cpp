#include <gtest/gtest.h>

#include <tuple>

#include "fake_machine.h"
#include "setup/main_form.h"

namespace oq {
namespace {

using test::FakeMachine;
using test::FakeView;

constexpr wchar_t kBase[] = L"https://release.test/";
constexpr wchar_t kVersionUrl[] = L"https://release.test/files/publish/xlllibver.txt";
const std::wstring kAddinKey = L"S-1-5-21-7-8-9-1001\\Software\\Microsoft\\Office\\Excel\\AddIns\\ORBITQuarry.XLL";
const std::wstring kFolder = L"C:\\Users\\me\\AppData\\Roaming\\ORBITQuarry\\";

class StartupTest : public ::testing::Test {
 protected:
  StartupTest() {
    form.traceListener = [this](const std::wstring& line) { traces.push_back(line); };
    m.http.Publish(kVersionUrl, "\xEF\xBB\xBF" "1.7.18");
  }

  void Record(const std::wstring& version, const std::wstring& folder) {
    m.registry.SetString(RegRoot::Users, kAddinKey, L"LibraryVersion", version);
    m.registry.SetString(RegRoot::Users, kAddinKey, L"InstallPath", folder);
  }
  void Start() { form.OnCreate(); }

  FakeMachine m;
  FakeView view;
  TfmMain form{m.machine, view, kBase};
  std::vector<std::wstring> traces;
};

TEST_F(StartupTest, UserWithoutTheAddinGetsTheInstallWindow) {
  Start();
  EXPECT_TRUE(m.dialogs.shown.empty());
  EXPECT_EQ(view.labels[Label::XLL], L"Add-In Version : Not Install");
  EXPECT_EQ(view.installCaption, L"Install");
  EXPECT_TRUE(view.enabled[Button::Install]);
  EXPECT_FALSE(view.enabled[Button::Uninstall]);
  EXPECT_EQ(view.path, kFolder);
  EXPECT_EQ(view.pickerFolder, L"C:\\Users\\me\\AppData\\Roaming");
  EXPECT_EQ(view.caption, L"ORBITQuarry - Ver.1.7.17");
  EXPECT_EQ(view.labels[Label::Title], L"ORBITQuarry Excel Add-in Library Setup");
  EXPECT_EQ(view.labels[Label::OS], L"OS Version : Windows 10 (Version 10.0, Build 19045, 64-bit Edition)");
  EXPECT_EQ(view.left, (1280 - 693) / 2);
  EXPECT_EQ(view.top, (1024 - 343) / 2);
  EXPECT_FALSE(view.terminationRequested);
  EXPECT_EQ(form.Store().UserSidText, L"S-1-5-21-7-8-9-1001");
  // The first read leaves the user an empty add-in key.
  EXPECT_TRUE(m.registry.KeyExists(RegRoot::Users, kAddinKey));
  EXPECT_EQ(traces, (std::vector<std::wstring>{
                        L"Lumentrove - False", L"SID - S-1-5-21-7-8-9-1001", view.labels[Label::OS],
                        L"CheckKey - SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\excel.exe",
                        L"CreateOLE - Excel.Application"}));
  EXPECT_EQ(view.labels[Label::Ex], L"Excel Version : 설치된 Excel 버전을 확인할 수 없습니다.");
}

// Which registry view holds Excel's application path decides what the
// 32-bit program finds: its own view first, the 64-bit one only when its own
// has no entry, and automation only when neither has.
TEST_F(StartupTest, ExcelIsFoundInEitherRegistryView) {
  constexpr wchar_t kAppPaths[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\excel.exe";
  const std::wstring office64 = L"C:\\Program Files\\Microsoft Office\\root\\Office16\\";
  const std::wstring office32 = L"C:\\Program Files (x86)\\Microsoft Office\\root\\Office16\\";
  struct Case {
    const char* name;
    bool default32, native64;  // the views that hold an entry: 32-bit Office, 64-bit Office
    std::wstring path;         // the Excel line then shown
    std::wstring version;
    bool x64;
  };
  const Case cases[] = {
      {"64-bit view only", false, true, office64, L"Office 2016  - 64 bit", true},
      {"32-bit view only", true, false, office32, L"Office 2016  - 32 bit", false},
      {"both: the program's own view wins", true, true, office32, L"Office 2016  - 32 bit", false},
      {"neither", false, false, L"", L"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeMachine machine;
    FakeView window;
    machine.http.Publish(kVersionUrl, "\xEF\xBB\xBF" "1.7.18");
    for (const auto& [present, folder, view, type] :
         {std::tuple{c.native64, office64, RegView::Native64, 6u}, std::tuple{c.default32, office32, RegView::Default, 0u}}) {
      if (!present) continue;
      machine.registry.SetString(RegRoot::LocalMachine, kAppPaths, L"", folder + L"excel.exe", kRegSz, view);
      machine.registry.SetString(RegRoot::LocalMachine, kAppPaths, L"Path", folder, kRegSz, view);
      machine.files.AddFile(folder + L"excel.exe");
      machine.shell.binaryTypes[test::FakeFileSystem::Key(folder + L"excel.exe")] = type;
    }
    bool automationTried = false;
    machine.shell.excelFactory = [&]() -> std::unique_ptr<ExcelAutomation> {
      automationTried = true;
      return nullptr;
    };
    TfmMain startup{machine.machine, window, kBase};
    startup.OnCreate();
    EXPECT_EQ(startup.ExcelPath, c.path);
    EXPECT_EQ(startup.x64, c.x64);
    EXPECT_EQ(automationTried, c.path.empty());
    EXPECT_EQ(window.labels[Label::Ex], c.version.empty() ? L"Excel Version : 설치된 Excel 버전을 확인할 수 없습니다."
                                                          : L"Excel Version : " + c.version);
  }
}

TEST_F(StartupTest, OutdatedInstallationOffersTheUpdate) {
  Record(L"1.7.17.0", kFolder);
  // Written in other letters than start-up looks for: the same file.
  m.files.AddFile(kFolder + L"ORBITQuarry64.dll");
  Start();
  EXPECT_EQ(view.labels[Label::XLL], L"Add-In Version : 1.7.17.0 (New Version = 1.7.18)");
  EXPECT_EQ(view.installCaption, L"Update");
  EXPECT_TRUE(view.enabled[Button::Install]);
  EXPECT_TRUE(view.enabled[Button::Uninstall]);
  EXPECT_EQ(view.path, kFolder);
}

TEST_F(StartupTest, RecordedFolderWithoutEitherLibraryCountsAsNotInstalled) {
  Record(L"1.7.17.0", L"D:\\Tools\\ORBITQuarry\\");
  m.files.AddFile(L"D:\\Tools\\ORBITQuarry\\ORBITQuarry.exe");
  Start();
  EXPECT_EQ(view.labels[Label::XLL], L"Add-In Version : Not Install");
  EXPECT_FALSE(view.enabled[Button::Uninstall]);
  EXPECT_EQ(view.installCaption, L"Install");
  EXPECT_EQ(view.path, kFolder);
}

TEST_F(StartupTest, ThirtyTwoBitLibraryAloneCountsAsInstalled) {
  Record(L"1.7.17.0", kFolder);
  m.files.AddFile(kFolder + L"orbitquarry32.dll");
  Start();
  EXPECT_EQ(view.installCaption, L"Update");
  EXPECT_TRUE(view.enabled[Button::Uninstall]);
}

TEST_F(StartupTest, TextComparisonTakesNineAsNewerThanTen) {
  Record(L"1.7.9.0", kFolder);
  m.files.AddFile(kFolder + L"orbitquarry64.dll");
  m.http.Publish(kVersionUrl, "\xEF\xBB\xBF" "1.7.10.0");
  Start();
  EXPECT_EQ(view.labels[Label::XLL].find(L"New Version"), std::wstring::npos);
}

// A start of its own, with 1.7.17.0 installed and `body` as the version file.
struct InstalledStart {
  explicit InstalledStart(const char* body) {
    m.http.Publish(kVersionUrl, body);
    m.registry.SetString(RegRoot::Users, kAddinKey, L"LibraryVersion", L"1.7.17.0");
    m.registry.SetString(RegRoot::Users, kAddinKey, L"InstallPath", kFolder);
    m.files.AddFile(kFolder + L"orbitquarry64.dll");
    form.OnCreate();
  }
  FakeMachine m;
  FakeView view;
  TfmMain form{m.machine, view, kBase};
};

TEST_F(StartupTest, VersionFileWithoutAMarkOrWithALineBreakOffersTheUpdate) {
  // Once a file saved without its mark lost its first digit, and one with a
  // line break was never newer: both silently stopped every update.
  for (const char* body : {"1.7.18", "1.7.18\r\n", "\xEF\xBB\xBF" "1.7.18\n"}) {
    SCOPED_TRACE(body);
    InstalledStart start(body);
    EXPECT_EQ(start.view.labels[Label::XLL], L"Add-In Version : 1.7.17.0 (New Version = 1.7.18)");
    EXPECT_TRUE(start.view.enabled[Button::Install]);
  }
}

TEST_F(StartupTest, NoVersionFromTheServer) {
  // A text that is no version counts as no version, not as a lower one.
  for (const char* body : {"", "\xEF\xBB\xBF", "<html>Not Found</html>", "\xEF\xBB\xBF" "1.7.x"}) {
    SCOPED_TRACE(body);
    InstalledStart start(body);
    EXPECT_TRUE(start.m.dialogs.shown.empty());
    // An installed add-in is taken as up to date: no update is offered.
    EXPECT_EQ(start.view.labels[Label::XLL].find(L"New Version"), std::wstring::npos);
    EXPECT_EQ(start.view.installCaption, L"Update");
    EXPECT_TRUE(start.view.enabled[Button::Uninstall]);
  }
}

TEST_F(StartupTest, MissingVersionFileStillShowsTheInstallWindow) {
  m.http.files.clear();  // the server answers 404 with an error page
  Start();
  EXPECT_TRUE(m.dialogs.shown.empty());
  EXPECT_EQ(view.labels[Label::XLL], L"Add-In Version : Not Install");
  EXPECT_EQ(view.caption, L"ORBITQuarry - Ver.1.7.17");
}

TEST_F(StartupTest, UnreachableServerShowsTheErrorAndBringsTheWindowOnScreen) {
  m.http.unreachable = true;
  int leftWhileBoxShown = 0;
  m.dialogs.answers.push_back([&](const test::FakeDialogs::Box&) {
    leftWhileBoxShown = view.left;
    return BoxAnswer::Ok;
  });
  Start();
  ASSERT_EQ(m.dialogs.shown.size(), 1u);
  EXPECT_EQ(m.dialogs.shown[0].text, L"A connection with the server could not be established.");
  EXPECT_EQ(m.dialogs.shown[0].caption, L"Excel Add-in Installer");
  EXPECT_EQ(m.dialogs.shown[0].icon, BoxIcon::Stop);
  EXPECT_EQ(m.dialogs.shown[0].buttons, BoxButtons::Ok);
  EXPECT_EQ(leftWhileBoxShown, -1000);
  EXPECT_EQ(view.left, (1280 - 693) / 2);
  EXPECT_EQ(view.top, (1024 - 343) / 2);
  // The window filled in all the same, so that Install can try again.
  EXPECT_EQ(view.caption, L"ORBITQuarry - Ver.1.7.17");
  EXPECT_EQ(view.labels[Label::XLL], L"Add-In Version : Not Install");
  EXPECT_EQ(view.path, kFolder);
  EXPECT_TRUE(view.enabled[Button::Install]);
  EXPECT_FALSE(view.terminationRequested);
  EXPECT_EQ(form.Outcome(), kExitFailed);
}

// Whether an installation is up to date is not known without the server:
// nothing runs by itself, and Update is offered.
TEST_F(StartupTest, UnreachableServerLeavesAnInstallationAsItIs) {
  Record(L"1.7.17.0", kFolder);
  m.files.AddFile(kFolder + L"ORBITQuarry64.dll");
  m.http.unreachable = true;
  Start();
  ASSERT_EQ(m.dialogs.shown.size(), 1u);
  EXPECT_EQ(view.labels[Label::XLL], L"Add-In Version : 1.7.17.0");
  EXPECT_EQ(view.installCaption, L"Update");
  EXPECT_TRUE(view.enabled[Button::Install]);
  EXPECT_TRUE(m.shell.elevated.empty());
  EXPECT_FALSE(view.closed);
  // The run modes act on the server's answer: without one they stop.
  for (const wchar_t* word : {L"UPDATE", L"FORCE"}) {
    SCOPED_TRACE(word);
    FakeMachine fm;
    FakeView fv;
    TfmMain f{fm.machine, fv, kBase};
    fm.env.arguments = {word};
    fm.http.unreachable = true;
    f.OnCreate();
    ASSERT_EQ(fm.dialogs.shown.size(), 1u);
    EXPECT_EQ(fm.dialogs.shown[0].text, L"A connection with the server could not be established.");
    EXPECT_EQ(fv.caption, L"ORBITQuarry");
    EXPECT_EQ(f.Outcome(), kExitFailed);
  }
}

TEST_F(StartupTest, StartUpTakesThePrefetchedAnswerWhateverTheServerSaysLater) {
  Record(L"1.7.17.0", kFolder);
  m.files.AddFile(kFolder + L"ORBITQuarry64.dll");
  form.PrefetchVersionFile();
  ASSERT_EQ(m.http.requests.size(), 1u);
  m.http.Publish(kVersionUrl, "\xEF\xBB\xBF" "1.7.19");
  Start();
  EXPECT_EQ(view.labels[Label::XLL], L"Add-In Version : 1.7.17.0 (New Version = 1.7.18)");
  ASSERT_EQ(m.http.requests.size(), 1u);
  EXPECT_EQ(m.http.requests[0].url, kVersionUrl);
  EXPECT_EQ(m.http.requests[0].headers, (std::vector<HttpHeader>{{L"Accept-Charset", L"utf-8"},
                                                                 {L"Accept", L"application/json"},
                                                                 {L"Accept-Language", L"ko-KR"}}));
}

TEST_F(StartupTest, PrefetchThatFailedIsReportedWhereStartUpAsks) {
  m.http.unreachable = true;
  form.PrefetchVersionFile();
  m.http.unreachable = false;
  Start();
  ASSERT_EQ(m.dialogs.shown.size(), 1u);
  EXPECT_EQ(m.dialogs.shown[0].text, L"A connection with the server could not be established.");
  EXPECT_EQ(m.http.requests.size(), 1u);
}

TEST_F(StartupTest, RegistryErrorIsReportedWithAFullStop) {
  m.registry.SetDword(RegRoot::Users, kAddinKey, L"InstallPath", 1);
  Start();
  ASSERT_EQ(m.dialogs.shown.size(), 1u);
  EXPECT_EQ(m.dialogs.shown[0].text, L"Invalid data type for 'InstallPath'.");
  EXPECT_EQ(view.left, (1280 - 693) / 2);
  EXPECT_EQ(view.caption, L"ORBITQuarry");
}

TEST_F(StartupTest, LumentrovePathSelectsItsCaptions) {
  m.env.executablePath = L"C:\\Setup\\LumenTrove Tools\\setup.exe";
  Start();
  EXPECT_TRUE(form.LT);
  EXPECT_EQ(view.caption, L"Lumentrove - Ver.1.7.17");
  EXPECT_EQ(view.labels[Label::Title], L"Lumentrove Excel Add-in Library Setup");
  ASSERT_FALSE(traces.empty());
  EXPECT_EQ(traces[0], L"Lumentrove - True");
  // The add-in's own names do not change with the brand.
  EXPECT_EQ(view.path, kFolder);
}

TEST_F(StartupTest, ScreenSmallerThanTheWindowGivesNegativeCoordinates) {
  view.screen = {600, 300};
  Start();
  EXPECT_EQ(view.left, -46);  // -93 / 2, truncated toward zero
  EXPECT_EQ(view.top, -21);   // -43 / 2
}

TEST_F(StartupTest, NoApplicationDataFolderGivesARootedDefault) {
  m.shell.appData.reset();
  Start();
  EXPECT_EQ(view.path, L"\\ORBITQuarry\\");
  EXPECT_EQ(view.pickerFolder, L"");
}

}  // namespace
}  // namespace oq
