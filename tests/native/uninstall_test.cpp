#include <gtest/gtest.h>

#include "deploy/install_list.h"
#include "fake_machine.h"
#include "setup/main_form.h"

namespace oq {
namespace {

using test::FakeDialogs;
using test::FakeMachine;
using test::FakeView;

const std::wstring kSid = L"S-1-5-21-7-8-9-1001";
const std::wstring kAddinsKey = kSid + L"\\Software\\Microsoft\\Office\\Excel\\AddIns";
const std::wstring kAddinKey = kAddinsKey + L"\\ORBITQuarry.XLL";
const std::wstring kFolder = L"C:\\Users\\me\\AppData\\Roaming\\ORBITQuarry\\";

class UninstallTest : public ::testing::Test {
 protected:
  UninstallTest() {
    form.Store().UserSidText = kSid;
    view.installCaption = L"Update";
    view.labels[Label::XLL] = L"Add-In Version : 1.7.17.0 (New Version = 1.7.18)";
    view.path = L"typed by the user";
    m.registry.SetString(RegRoot::Users, kAddinKey, L"InstallPath", kFolder);
    m.registry.SetString(RegRoot::Users, kAddinKey, L"LibraryVersion", L"1.7.17.0");
    m.registry.CreateKey(RegRoot::Users, kAddinKey + L"\\ADXXLForm");
    m.registry.CreateKey(RegRoot::Users, kAddinsKey + L"\\LT.ORBITQuarry");
    m.files.AddFile(kFolder + L"ORBITQuarry64.dll", "library");
    m.files.AddFile(kFolder + L"ORBITQuarry.exe", "installer");
    m.files.AddFile(kFolder + L"docs\\readme.txt", "read me");
    m.files.AddDirectory(kFolder + L"empty");
    // The window's state at the moment the success box is up.
    m.dialogs.answers.push_back([this](const FakeDialogs::Box&) {
      closeEnabledAtBox = view.enabled[Button::Close];
      return BoxAnswer::Ok;
    });
  }

  void ExpectWindowReset() {
    EXPECT_EQ(view.labels[Label::XLL], L"Add-In Version : Not Install");
    EXPECT_FALSE(view.enabled[Button::Uninstall]);
    EXPECT_EQ(view.installCaption, L"Install");
    EXPECT_TRUE(view.enabled[Button::Install]);
    EXPECT_TRUE(view.enabled[Button::Close]);
    EXPECT_FALSE(closeEnabledAtBox);
    ASSERT_EQ(m.dialogs.shown.size(), 1u);
    EXPECT_EQ(m.dialogs.shown[0].text, L"정상적으로 삭제되었습니다.");
    EXPECT_EQ(m.dialogs.shown[0].caption, L"Excel Add-in Installer");
    EXPECT_EQ(m.dialogs.cursorChanges, (std::vector<bool>{true, false}));
    EXPECT_FALSE(view.terminationRequested);
    // The form keys go; the add-in key and its record stay for the next start.
    EXPECT_FALSE(m.registry.KeyExists(RegRoot::Users, kAddinKey + L"\\ADXXLForm"));
    EXPECT_FALSE(m.registry.KeyExists(RegRoot::Users, kAddinsKey + L"\\LT.ORBITQuarry"));
    EXPECT_EQ(m.registry.GetString(RegRoot::Users, kAddinKey, L"LibraryVersion"), L"1.7.17.0");
  }

  FakeMachine m;
  FakeView view;
  TfmMain form{m.machine, view, L"https://release.test/"};
  bool closeEnabledAtBox = true;
};

TEST_F(UninstallTest, UnregistersTheInstalledBuildAndRemovesWhatTheInstallListed) {
  // As an install into a folder of its own leaves it, nested package
  // folders included.
  m.files.RemoveFile(kFolder + L"docs\\readme.txt");
  m.files.RemoveEmptyDirectory(kFolder + L"docs");
  InstallList(m.files, kFolder)
      .Add({L".", L"ORBITQuarry64.zip", L"ORBITQuarry64n.dll", L"ORBITQuarry64.dll", L"ORBITQuarry.exe", L"docs\\",
            L"docs\\img\\", L"docs\\readme.txt", L"docs\\img\\logo.png"});
  m.files.AddFile(kFolder + L"docs\\readme.txt", "read me");
  m.files.AddFile(kFolder + L"docs\\img\\logo.png", "logo");
  m.files.RemoveEmptyDirectory(kFolder + L"empty");

  form.OnUninstallClick();

  // The build that is there, by the regsvr32 of its own bitness.
  EXPECT_EQ(m.shell.awaited, (std::vector<std::vector<std::wstring>>{{
                                 L"\"C:\\Windows\\Sysnative\\regsvr32.exe\" /s /u \"" + kFolder + L"orbitquarry64.dll\"",
                             }}));
  EXPECT_FALSE(m.files.DirectoryExists(kFolder));
  EXPECT_TRUE(m.files.deletedTrees.empty());
  EXPECT_EQ(view.path, kFolder);
  EXPECT_EQ(m.registry.GetString(RegRoot::Users, kAddinKey, L"InstallPath"), kFolder);
  ExpectWindowReset();
}

TEST_F(UninstallTest, UsersFilesBesideTheProductStay) {
  // Installed into a folder the user typed, which held his files before and
  // got more of them since, one inside a package folder.
  m.files.RemoveFile(kFolder + L"docs\\readme.txt");
  m.files.RemoveEmptyDirectory(kFolder + L"docs");
  m.files.AddFile(kFolder + L"notes.txt", "mine");
  m.files.AddFile(kFolder + L"data\\table.csv", "mine");
  InstallList(m.files, kFolder)
      .Add({L"ORBITQuarry64.dll", L"ORBITQuarry.exe", L"docs\\", L"docs\\readme.txt", L"data\\",
            L"data\\table.csv.tmp"});
  m.files.AddFile(kFolder + L"docs\\readme.txt", "read me");
  m.files.AddFile(kFolder + L"docs\\mine.txt", "mine");

  form.OnUninstallClick();

  EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry64.dll"));
  EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry.exe"));
  EXPECT_FALSE(m.files.FileExists(kFolder + L"docs\\readme.txt"));
  EXPECT_FALSE(m.files.FileExists(kFolder + kInstallListName));
  EXPECT_EQ(m.files.Content(kFolder + L"notes.txt"), "mine");
  EXPECT_EQ(m.files.Content(kFolder + L"docs\\mine.txt"), "mine");
  // "data\" was there before the install, so the list never named it.
  EXPECT_EQ(m.files.Content(kFolder + L"data\\table.csv"), "mine");
  EXPECT_TRUE(m.files.DirectoryExists(kFolder + L"empty"));
  EXPECT_TRUE(m.files.DirectoryExists(kFolder));
  EXPECT_TRUE(m.files.deletedTrees.empty());
  ExpectWindowReset();
}

TEST_F(UninstallTest, FolderTheInstallFoundStaysEvenWhenEmptied) {
  m.files.RemoveFile(kFolder + L"docs\\readme.txt");
  m.files.RemoveEmptyDirectory(kFolder + L"docs");
  m.files.RemoveEmptyDirectory(kFolder + L"empty");
  InstallList(m.files, kFolder).Add({L"ORBITQuarry64.dll", L"ORBITQuarry.exe"});
  form.OnUninstallClick();
  EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry64.dll"));
  EXPECT_FALSE(m.files.FileExists(kFolder + kInstallListName));
  EXPECT_TRUE(m.files.DirectoryExists(kFolder));
}

TEST_F(UninstallTest, ListedNamesLeadingOutOfTheFolderAreIgnored) {
  const std::wstring outside = L"C:\\Users\\me\\AppData\\Roaming\\";
  m.files.AddFile(outside + L"outside.txt");
  m.files.AddFile(L"C:\\other.txt");
  m.files.AddFile(L"D:\\other.txt");
  m.files.AddFile(outside + L"Other\\x.txt");
  InstallList(m.files, kFolder)
      .Add({L"ORBITQuarry64.dll", L"..\\outside.txt", L"docs\\..\\..\\outside.txt", L"C:\\other.txt",
            L"\\other.txt", L"D:other.txt", L"/other.txt", L"../Other/", L"..\\", L".\\..\\outside.txt",
            L".. \\outside.txt", L"docs\\...\\..\\outside.txt",
            L"ORBITQuarry.exe:stream"});
  form.OnUninstallClick();
  EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry64.dll"));
  EXPECT_TRUE(m.files.FileExists(outside + L"outside.txt"));
  EXPECT_TRUE(m.files.FileExists(L"C:\\other.txt"));
  EXPECT_TRUE(m.files.FileExists(L"D:\\other.txt"));
  EXPECT_TRUE(m.files.FileExists(outside + L"Other\\x.txt"));
  EXPECT_TRUE(m.files.FileExists(kFolder + L"ORBITQuarry.exe"));
  EXPECT_TRUE(m.files.DirectoryExists(outside));
}

TEST_F(UninstallTest, InstallationWithoutAListLosesOnlyTheProductsOwnNames) {
  // Made before lists were kept: the fixture's folder has none.
  m.files.AddFile(kFolder + L"ORBITQuarry32.dll");
  m.files.AddFile(kFolder + L"ORBITQuarry64n.dll");
  m.files.AddFile(kFolder + L"ORBITQuarry64.zip");
  m.files.AddFile(kFolder + L"Lumentrove.exe");
  m.files.AddFile(kFolder + L"notes.txt", "mine");
  form.OnUninstallClick();
  for (const wchar_t* name : {L"ORBITQuarry64.dll", L"ORBITQuarry32.dll", L"ORBITQuarry64n.dll", L"ORBITQuarry64.zip",
                              L"ORBITQuarry.exe", L"Lumentrove.exe"}) {
    EXPECT_FALSE(m.files.FileExists(kFolder + name)) << name;
  }
  // What the package brought besides the library is not known by name.
  EXPECT_TRUE(m.files.FileExists(kFolder + L"docs\\readme.txt"));
  EXPECT_TRUE(m.files.FileExists(kFolder + L"notes.txt"));
  EXPECT_TRUE(m.files.DirectoryExists(kFolder + L"empty"));
  ExpectWindowReset();

  // Once only the product's names were in it, the folder goes too.
  FakeMachine fm;
  FakeView fv;
  TfmMain f{fm.machine, fv, L"https://release.test/"};
  f.Store().UserSidText = kSid;
  fm.registry.SetString(RegRoot::Users, kAddinKey, L"InstallPath", kFolder);
  fm.files.AddFile(kFolder + L"ORBITQuarry64.dll");
  fm.files.AddFile(kFolder + L"ORBITQuarry.exe");
  f.OnUninstallClick();
  EXPECT_FALSE(fm.files.DirectoryExists(kFolder));
  EXPECT_TRUE(fm.files.DirectoryExists(L"C:\\Users\\me\\AppData\\Roaming"));
}

TEST_F(UninstallTest, FilesInUseStayAndTheSuccessIsReportedAllTheSame) {
  m.files.Find(kFolder + L"ORBITQuarry64.dll")->inUse = true;
  form.OnUninstallClick();
  EXPECT_TRUE(m.files.FileExists(kFolder + L"ORBITQuarry64.dll"));
  EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry.exe"));
  EXPECT_TRUE(m.files.DirectoryExists(kFolder));
  ExpectWindowReset();
}

TEST_F(UninstallTest, RecordWithoutAnAbsoluteFolderTouchesNoFiles) {
  // Each would make the listing and the shell delete work on the current
  // folder or a drive's root.
  for (const wchar_t* recorded :
       {L"", L"ORBITQuarry\\", L"C:\\", L"C:", L"\\", L"\\\\server", L"\\\\server\\share\\", L"\\\\server\\share",
        L"\\\\server\\\\ORBITQuarry\\", L"C:\\ORBITQuarry\\..\\", L"C:\\ORBITQuarry\\..", L"C:\\.\\",
        L"\\\\server\\share\\..\\", L"\\\\?\\C:\\ORBITQuarry\\", L"\\\\.\\C:\\ORBITQuarry\\", L"C:ORBITQuarry\\",
        L"\\ORBITQuarry\\", L"C:\\ORBITQuarry\\.. \\"}) {
    SCOPED_TRACE(recorded);
    FakeMachine fm;
    FakeView fv;
    TfmMain f{fm.machine, fv, L"https://release.test/"};
    f.Store().UserSidText = kSid;
    fm.registry.SetString(RegRoot::Users, kAddinKey, L"InstallPath", recorded);
    fm.registry.CreateKey(RegRoot::Users, kAddinKey + L"\\ADXXLForm");
    fm.files.AddFile(L"C:\\keep.txt");
    fm.files.AddFile(L"C:\\ORBITQuarry64.dll");
    fm.files.AddFile(L"\\\\server\\share\\ORBITQuarry64.dll");
    fm.files.AddFile(L"ORBITQuarry\\keep.txt");

    f.OnUninstallClick();

    EXPECT_TRUE(fm.shell.awaited.empty());
    EXPECT_TRUE(fm.files.deletedTrees.empty());
    EXPECT_TRUE(fm.files.FileExists(L"C:\\keep.txt"));
    EXPECT_TRUE(fm.files.FileExists(L"C:\\ORBITQuarry64.dll"));
    EXPECT_TRUE(fm.files.FileExists(L"\\\\server\\share\\ORBITQuarry64.dll"));
    EXPECT_TRUE(fm.files.FileExists(L"ORBITQuarry\\keep.txt"));
    EXPECT_FALSE(fm.registry.KeyExists(RegRoot::Users, kAddinKey + L"\\ADXXLForm"));
    EXPECT_EQ(fv.labels[Label::XLL], L"Add-In Version : Not Install");
    EXPECT_EQ(fm.dialogs.shown.size(), 1u);
    EXPECT_TRUE(fv.enabled[Button::Close]);
  }
}

TEST_F(UninstallTest, ErrorEndsTheUninstallButNotTheWindowsUse) {
  m.registry.SetDword(RegRoot::Users, kAddinKey, L"InstallPath", 7);
  m.dialogs.answers.clear();
  form.OnUninstallClick();
  ASSERT_EQ(m.dialogs.shown.size(), 1u);
  EXPECT_EQ(m.dialogs.shown[0].text, L"Invalid data type for 'InstallPath'.");
  EXPECT_TRUE(m.shell.awaited.empty());
  EXPECT_TRUE(m.files.DirectoryExists(kFolder));
  EXPECT_TRUE(m.registry.KeyExists(RegRoot::Users, kAddinKey + L"\\ADXXLForm"));
  EXPECT_EQ(view.installCaption, L"Update");
  // Neither the hourglass nor the disabled Close button outlasts the error.
  EXPECT_TRUE(view.enabled[Button::Close]);
  EXPECT_EQ(m.dialogs.cursorChanges, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace oq
