#include <gtest/gtest.h>

#include "fake_machine.h"
#include "seam/app_error.h"
#include "services/addin_store.h"

namespace oq {
namespace {

using test::FakeMachine;

constexpr wchar_t kSid[] = L"S-1-5-21-7-8-9-1001";
const std::wstring kAddinKey = std::wstring(kSid) + L"\\Software\\Microsoft\\Office\\Excel\\AddIns\\ORBITQuarry.XLL";
const std::wstring kAddins = std::wstring(kSid) + L"\\Software\\Microsoft\\Office\\Excel\\AddIns";

class AddinStoreTest : public ::testing::Test {
 protected:
  AddinStoreTest() : store(m.registry, m.env) { store.UserSidText = kSid; }
  FakeMachine m;
  AddinStore store;
};

TEST_F(AddinStoreTest, FirstReadIsEmptyAndLeavesAnEmptyKey) {
  EXPECT_EQ(store.ReadAddinValue(L"LibraryVersion"), L"");
  ASSERT_TRUE(m.registry.KeyExists(RegRoot::Users, kAddinKey));
  EXPECT_TRUE(m.registry.Find(RegRoot::Users, kAddinKey)->values.empty());
}

TEST_F(AddinStoreTest, ReadsStringsUpToTheirFirstNulAndExpandablesUnexpanded) {
  m.registry.SetString(RegRoot::Users, kAddinKey, L"InstallPath", std::wstring(L"C:\\A\\") + L'\0' + L"junk");
  m.registry.SetString(RegRoot::Users, kAddinKey, L"UserID", L"%APPDATA%\\x", kRegExpandSz);
  EXPECT_EQ(store.ReadAddinValue(L"InstallPath"), L"C:\\A\\");
  EXPECT_EQ(store.ReadAddinValue(L"userid"), L"%APPDATA%\\x");  // names ignore case
}

TEST_F(AddinStoreTest, ReadingADwordRaisesInvalidDataType) {
  m.registry.SetDword(RegRoot::Users, kAddinKey, L"LoadBehavior", 3);
  try {
    store.ReadAddinValue(L"LoadBehavior");
    FAIL() << "no error raised";
  } catch (const AppError& e) {
    EXPECT_EQ(e.Message(), L"Invalid data type for 'LoadBehavior'");
  }
}

TEST_F(AddinStoreTest, WritesCreateTheWholeKeyPath) {
  ASSERT_FALSE(m.registry.KeyExists(RegRoot::Users, kSid));
  EXPECT_TRUE(store.WriteAddinInteger(L"LoadBehavior", 3));
  EXPECT_EQ(m.registry.GetDword(RegRoot::Users, kAddinKey, L"LoadBehavior"), 3u);
  EXPECT_TRUE(store.WriteAddinValue(L"InstallPath", L"C:\\Users\\me\\AppData\\Roaming\\ORBITQuarry\\"));
  EXPECT_EQ(m.registry.TypeOf(RegRoot::Users, kAddinKey, L"InstallPath"), kRegSz);
  EXPECT_EQ(store.ReadAddinValue(L"InstallPath"), L"C:\\Users\\me\\AppData\\Roaming\\ORBITQuarry\\");
  // An empty text is stored as a value holding just the terminator.
  store.WriteAddinValue(L"Header", L"");
  EXPECT_EQ(m.registry.GetString(RegRoot::Users, kAddinKey, L"Header"), L"");
}

TEST_F(AddinStoreTest, RefusedWritesRaiseFailedToSetData) {
  m.registry.CreateKey(RegRoot::Users, kAddinKey);
  m.registry.Find(RegRoot::Users, kAddinKey)->denyWrites = true;
  for (auto write : {+[](AddinStore& s) { s.WriteAddinValue(L"InstallPath", L"x"); },
                     +[](AddinStore& s) { s.WriteAddinInteger(L"InstallPath", 1); },
                     +[](AddinStore& s) { s.WriteUserAddinValue(L"InstallPath", L"x"); }}) {
    try {
      write(store);
      ADD_FAILURE() << "no error raised";
    } catch (const AppError& e) {
      EXPECT_EQ(e.Message(), L"Failed to set data for 'InstallPath'");
    }
  }
}

TEST_F(AddinStoreTest, KeyThatCannotBeCreatedSkipsStringWritesButFailsTheOthers) {
  // The user's hive itself refuses new keys.
  m.registry.CreateKey(RegRoot::Users, kSid);
  m.registry.Find(RegRoot::Users, kSid)->denyWrites = true;
  EXPECT_TRUE(store.WriteAddinValue(L"Description", L"x"));  // silently nothing
  EXPECT_FALSE(m.registry.KeyExists(RegRoot::Users, kAddinKey));
  EXPECT_THROW(store.WriteAddinInteger(L"LoadBehavior", 3), AppError);
  EXPECT_THROW(store.WriteUserAddinValue(L"Header", L"x"), AppError);
}

TEST_F(AddinStoreTest, WriteUserAddinValueUsesTheTokenSidNotTheStoredOne) {
  store.UserSidText = L"S-1-5-21-1-1-1-500";
  EXPECT_EQ(store.WriteUserAddinValue(L"Header", L"on"), L"");
  EXPECT_EQ(m.registry.GetString(RegRoot::Users, kAddinKey, L"Header"), L"on");
  EXPECT_FALSE(m.registry.KeyExists(RegRoot::Users, L"S-1-5-21-1-1-1-500"));
}

TEST_F(AddinStoreTest, EmptySidReachesTheAddinKeyFromHkeyUsersItself) {
  store.UserSidText.clear();
  store.WriteAddinValue(L"InstallPath", L"C:\\x\\");
  EXPECT_EQ(m.registry.GetString(RegRoot::Users, L"Software\\Microsoft\\Office\\Excel\\AddIns\\ORBITQuarry.XLL",
                                 L"InstallPath"),
            L"C:\\x\\");
}

TEST_F(AddinStoreTest, ClearForInstallRemovesTheSecondKeyWithItsForm) {
  m.registry.CreateKey(RegRoot::Users, kAddins + L"\\LT.ORBITQuarry\\ADXXLForm");
  m.registry.SetString(RegRoot::Users, kAddins + L"\\LT.ORBITQuarry", L"v", L"1");
  m.registry.CreateKey(RegRoot::Users, kAddinKey + L"\\ADXXLForm");
  EXPECT_TRUE(store.ClearAddinKeysForInstall());
  EXPECT_FALSE(m.registry.KeyExists(RegRoot::Users, kAddins + L"\\LT.ORBITQuarry"));
  // The add-in key's own form key belongs to the uninstall.
  EXPECT_TRUE(m.registry.KeyExists(RegRoot::Users, kAddinKey + L"\\ADXXLForm"));
}

TEST_F(AddinStoreTest, ClearWithNothingToRemoveIsFalseAndHarmless) {
  EXPECT_FALSE(store.ClearAddinKeysForInstall());
  EXPECT_FALSE(store.ClearAddinKeysForUninstall());
  EXPECT_FALSE(m.registry.KeyExists(RegRoot::Users, kAddins));  // nothing created
}

TEST_F(AddinStoreTest, ClearForUninstallLeavesASecondKeyThatStillHasSubkeys) {
  m.registry.CreateKey(RegRoot::Users, kAddins + L"\\LT.ORBITQuarry\\ADXXLForm");
  m.registry.CreateKey(RegRoot::Users, kAddinKey + L"\\ADXXLForm");
  m.registry.SetString(RegRoot::Users, kAddinKey, L"InstallPath", L"C:\\x\\");
  EXPECT_FALSE(store.ClearAddinKeysForUninstall());
  EXPECT_FALSE(m.registry.KeyExists(RegRoot::Users, kAddinKey + L"\\ADXXLForm"));
  EXPECT_TRUE(m.registry.KeyExists(RegRoot::Users, kAddins + L"\\LT.ORBITQuarry\\ADXXLForm"));
  EXPECT_EQ(m.registry.GetString(RegRoot::Users, kAddinKey, L"InstallPath"), L"C:\\x\\");
}

}  // namespace
}  // namespace oq
