#include <gtest/gtest.h>

#include "services/sid_text.h"

namespace oq {
namespace {

TEST(SidTextTest, DecimalAuthorityAndSubAuthorities) {
  const uint8_t nt[6] = {0, 0, 0, 0, 0, 5};
  EXPECT_EQ(FormatSidText(nt, {21, 7, 8, 9, 1001}), L"S-1-5-21-7-8-9-1001");
  EXPECT_EQ(FormatSidText(nt, {32, 544}), L"S-1-5-32-544");
  EXPECT_EQ(FormatSidText(nt, {}), L"S-1-5");
  // Sub-authorities are unsigned.
  EXPECT_EQ(FormatSidText(nt, {4294967295u}), L"S-1-5-4294967295");
}

TEST(SidTextTest, AuthorityWithTopBytesIsHex) {
  const uint8_t high[6] = {1, 0, 0, 0, 0, 0};
  EXPECT_EQ(FormatSidText(high, {7}), L"S-1-0x010000000000-7");
  const uint8_t mixed[6] = {0, 0xAB, 0xCD, 0xEF, 0x01, 0x23};
  EXPECT_EQ(FormatSidText(mixed, {}), L"S-1-0x00ABCDEF0123");
  // Without the top two bytes the lower four are one decimal number.
  const uint8_t low[6] = {0, 0, 0x01, 0x00, 0x00, 0x00};
  EXPECT_EQ(FormatSidText(low, {}), L"S-1-16777216");
}

TEST(SidTextTest, SpaceNeededCoversTheLongestText) {
  EXPECT_EQ(SidTextBytesNeeded(5), 176u);
  // The longest texts: hex authority and 15 ten-digit sub-authorities.
  const uint8_t high[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const std::vector<uint32_t> subs(15, 4294967295u);
  EXPECT_LE((FormatSidText(high, subs).size() + 1) * 2, SidTextBytesNeeded(15));
}

}  // namespace
}  // namespace oq
