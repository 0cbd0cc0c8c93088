#include <gtest/gtest.h>

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

TEST_F(UninstallTest, UnregistersBothBuildsAndRemovesTheFolder) {
  form.OnUninstallClick();

  EXPECT_EQ(m.shell.awaited, (std::vector<std::wstring>{
                                 L"regsvr32 /s /u \"" + kFolder + L"orbitquarry32.dll\"",
                                 L"regsvr32 /s /u \"" + kFolder + L"orbitquarry64.dll\"",
                             }));
  EXPECT_FALSE(m.files.DirectoryExists(kFolder));
  EXPECT_FALSE(m.files.FileExists(kFolder + L"docs\\readme.txt"));
  EXPECT_EQ(m.files.deletedTrees, (std::vector<std::wstring>{kFolder}));
  EXPECT_EQ(view.path, kFolder);
  EXPECT_EQ(m.registry.GetString(RegRoot::Users, kAddinKey, L"InstallPath"), kFolder);
  ExpectWindowReset();
}

TEST_F(UninstallTest, FilesInUseStayAndTheSuccessIsReportedAllTheSame) {
  m.files.Find(kFolder + L"ORBITQuarry64.dll")->inUse = true;
  form.OnUninstallClick();
  EXPECT_TRUE(m.files.FileExists(kFolder + L"ORBITQuarry64.dll"));
  EXPECT_FALSE(m.files.FileExists(kFolder + L"ORBITQuarry.exe"));
  EXPECT_FALSE(m.files.DirectoryExists(kFolder + L"docs"));
  ExpectWindowReset();
}

TEST_F(UninstallTest, RecordWithoutAnAbsoluteFolderTouchesNoFiles) {
  // Each would make the listing and the shell delete work on the current
  // folder or a drive's root.
  for (const wchar_t* recorded : {L"", L"ORBITQuarry\\", L"C:\\", L"C:", L"\\", L"\\\\server"}) {
    SCOPED_TRACE(recorded);
    FakeMachine fm;
    FakeView fv;
    TfmMain f{fm.machine, fv, L"https://release.test/"};
    f.Store().UserSidText = kSid;
    fm.registry.SetString(RegRoot::Users, kAddinKey, L"InstallPath", recorded);
    fm.registry.CreateKey(RegRoot::Users, kAddinKey + L"\\ADXXLForm");
    fm.files.AddFile(L"C:\\keep.txt");
    fm.files.AddFile(L"ORBITQuarry\\keep.txt");

    f.OnUninstallClick();

    EXPECT_TRUE(fm.shell.awaited.empty());
    EXPECT_TRUE(fm.files.deletedTrees.empty());
    EXPECT_TRUE(fm.files.FileExists(L"C:\\keep.txt"));
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
