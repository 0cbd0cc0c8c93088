#include <gtest/gtest.h>

#include "setup/version_compare.h"

namespace oq {
namespace {

struct NewerCase {
  const wchar_t* installed;
  const wchar_t* newest;
  bool newer;
};

void PrintTo(const NewerCase& c, std::ostream* os) {
  *os << testing::PrintToString(std::wstring(c.installed)) << " vs "
      << testing::PrintToString(std::wstring(c.newest));
}

class IsNewerVersionTest : public ::testing::TestWithParam<NewerCase> {};

TEST_P(IsNewerVersionTest, ComparesComponentsOfInstalledNumerically) {
  const NewerCase& c = GetParam();
  EXPECT_EQ(IsNewerVersion(c.installed, c.newest), c.newer) << c.installed << " vs " << c.newest;
}

INSTANTIATE_TEST_SUITE_P(
    Versions, IsNewerVersionTest,
    ::testing::Values(
        NewerCase{L"1.7.17.0", L"1.7.18", true},    // third component decides
        NewerCase{L"1.7.18", L"1.7.18", false},     // equal is not newer
        NewerCase{L"1.10", L"1.9", false},          // numeric, not textual
        NewerCase{L"1.9", L"1.10", true},
        NewerCase{L"1.7.9.0", L"1.7.10.0", true},
        NewerCase{L"1.7", L"1.7.1", false},         // newest's extra components unseen
        NewerCase{L"", L"1.7.18", false},
        NewerCase{L"1.7.17", L"", false},
        NewerCase{L"1.7.17", L"1.7.18\n", false},   // "18\n" does not convert: 0
        NewerCase{L"1.x.3", L"1.0.4", true},        // x counts as 0
        NewerCase{L"1..2", L"1.0.3", true},         // empty component counts as 0
        NewerCase{L"1.7.18.0", L"1.7.18", false},   // newest runs out while equal
        NewerCase{L"1.7.18.1", L"1.7.18", false},
        NewerCase{L"2147483647", L"2147483648", false},   // out of range counts as 0
        NewerCase{L"-1", L"0", true}));                   // signed components

struct BodyCase {
  const wchar_t* body;
  const wchar_t* version;
};

void PrintTo(const BodyCase& c, std::ostream* os) { *os << testing::PrintToString(std::wstring(c.body)); }

class VersionFromBodyTest : public ::testing::TestWithParam<BodyCase> {};

TEST_P(VersionFromBodyTest, ReadsTheVersionAsPeopleWriteIt) {
  EXPECT_EQ(VersionFromBody(GetParam().body), GetParam().version);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, VersionFromBodyTest,
    ::testing::Values(
        BodyCase{L"\uFEFF" L"1.7.18", L"1.7.18"},         // the mark, as published so far
        BodyCase{L"1.7.18", L"1.7.18"},                    // no mark: the first digit stays
        BodyCase{L"1.7.18\r\n", L"1.7.18"},
        BodyCase{L"\uFEFF" L"1.7.18\n", L"1.7.18"},
        BodyCase{L"  1.7.18 \t\r\n", L"1.7.18"},
        BodyCase{L"\uFEFF\r\n 1.7.18\r\n\r\n", L"1.7.18"},
        BodyCase{L"v1.7.18", L"1.7.18"},                   // any one leading non-digit
        BodyCase{L"#1.7.18", L"1.7.18"},
        BodyCase{L"7", L"7"},
        BodyCase{L"", L""},
        BodyCase{L"\uFEFF", L""},
        BodyCase{L"\uFEFF\r\n", L""},
        BodyCase{L"vv1.7.18", L""},                        // only one character goes
        BodyCase{L"\uFEFF" L"v1.7.18", L""},
        BodyCase{L"1.7.18 beta", L""},
        BodyCase{L"1.7 .18", L""},
        BodyCase{L"1..18", L""},
        BodyCase{L"1.7.", L""},
        BodyCase{L".1.7", L"1.7"},                         // the dot is the dropped character
        BodyCase{L"1.7.18\n1.7.19", L""},                  // two lines are no version
        BodyCase{L"<html><body>Not Found</body></html>", L""},
        BodyCase{L"v-1.7", L""}));

TEST(OrdinalLessTest, OrdersByCodeUnitWithPrefixFirst) {
  // The normal start's text comparison disagrees with the numeric one here.
  EXPECT_FALSE(OrdinalLess(L"1.7.9.0", L"1.7.10.0"));
  EXPECT_TRUE(OrdinalLess(L"1.7.17.0", L"1.7.18"));
  EXPECT_TRUE(OrdinalLess(L"1.7", L"1.7.0"));       // proper prefix first
  EXPECT_FALSE(OrdinalLess(L"1.7.18", L"1.7.18"));
  EXPECT_FALSE(OrdinalLess(L"1.7.18", L""));       // nothing from the server
  EXPECT_TRUE(OrdinalLess(L"", L"1.7.18"));
  EXPECT_TRUE(OrdinalLess(L"Z", L"a"));             // no case folding
}

TEST(OrdinalLessTest, ComparesUtf16CodeUnitsNotCodePoints) {
  // U+FF21 sorts after a surrogate pair's code point but before its units
  // (0xD83D), as on Windows.
  const std::wstring fullwidth(1, static_cast<wchar_t>(0xFF21));
  std::wstring astral;
  if (sizeof(wchar_t) == 2) {
    astral = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
  } else {
    astral = std::wstring(1, static_cast<wchar_t>(0x1F600));
  }
  EXPECT_TRUE(OrdinalLess(astral, fullwidth));
  EXPECT_FALSE(OrdinalLess(fullwidth, astral));
}

TEST(CompareVersionsTest, NumericWithMissingComponentsZero) {
  EXPECT_EQ(CompareVersions(L"1.7.18", L"1.7.18.0"), 0);
  EXPECT_LT(CompareVersions(L"1.7.18", L"1.7.18.1"), 0);
  EXPECT_LT(CompareVersions(L"1.9", L"1.10"), 0);
  EXPECT_GT(CompareVersions(L"2", L"1.99.99"), 0);
  EXPECT_LT(CompareVersions(L"1.7.17.9", L"1.7.18"), 0);
  EXPECT_EQ(CompareVersions(L"", L"0.0"), 0);
}

}  // namespace
}  // namespace oq
