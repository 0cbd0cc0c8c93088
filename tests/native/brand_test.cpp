#include <gtest/gtest.h>

#include "setup/brand.h"

namespace oq {
namespace {

TEST(BrandSelectionTest, LumentroveAnywhereInThePathIgnoringAsciiCase) {
  EXPECT_TRUE(PathSelectsLumentrove(L"C:\\Setup\\LumenTrove Tools\\setup.exe"));
  EXPECT_TRUE(PathSelectsLumentrove(L"C:\\Users\\me\\Downloads\\LUMENTROVE_setup.exe"));
  EXPECT_TRUE(PathSelectsLumentrove(L"C:\\Lumentrove\\setup.exe"));
  EXPECT_FALSE(PathSelectsLumentrove(L"C:\\Setup\\setup.exe"));
  EXPECT_FALSE(PathSelectsLumentrove(L"C:\\Lumen trove\\setup.exe"));
  EXPECT_FALSE(PathSelectsLumentrove(L""));
}

TEST(BrandSelectionTest, OnlyAsciiCapitalsFold) {
  // A fullwidth capital L must not fold into an ASCII l.
  EXPECT_FALSE(PathSelectsLumentrove(L"C:\\\xFF2C" L"umentrove"));
}

TEST(BrandTextsTest, EveryBrandDependentText) {
  const BrandTexts& lt = BrandFor(true);
  const BrandTexts& oq = BrandFor(false);
  EXPECT_STREQ(lt.caption, L"Lumentrove - Ver.1.7.17");
  EXPECT_STREQ(oq.caption, L"ORBITQuarry - Ver.1.7.17");
  EXPECT_STREQ(lt.title, L"Lumentrove Excel Add-in Library Setup");
  EXPECT_STREQ(oq.title, L"ORBITQuarry Excel Add-in Library Setup");
  EXPECT_STREQ(lt.productName, L"Lumentrove Excel Add-in Library");
  EXPECT_STREQ(oq.productName, L"ORBITQuarry Excel Add-in Library");
  EXPECT_STREQ(lt.installerCopy, L"Lumentrove.exe");
  EXPECT_STREQ(oq.installerCopy, L"ORBITQuarry.exe");
  EXPECT_STREQ(LibraryNameFor(true, true), L"Lumentrove64");
  EXPECT_STREQ(LibraryNameFor(true, false), L"Lumentrove32");
  EXPECT_STREQ(LibraryNameFor(false, true), L"ORBITQuarry64");
  EXPECT_STREQ(LibraryNameFor(false, false), L"ORBITQuarry32");
  // The caption is the brand word, " - Ver." and the program version.
  EXPECT_EQ(std::wstring(lt.caption), std::wstring(lt.word) + L" - Ver." + kProgramVersion);
  EXPECT_EQ(std::wstring(oq.caption), std::wstring(oq.word) + L" - Ver." + kProgramVersion);
}

}  // namespace
}  // namespace oq
