#include <gtest/gtest.h>

#include "fake_machine.h"
#include "setup/release_manifest.h"

namespace oq {
namespace {

const std::string kHash64(64, 'a');
const std::string kPackageLine = "package ORBITQuarry64n.zip 1048576 " + kHash64 + "\n";

std::optional<ReleaseManifest> Parse(const std::string& text) { return ParseReleaseManifest(text); }

TEST(ReleaseManifestTest, ReadsEveryField) {
  const std::string hash = "00ff" + std::string(56, '1') + "abcd";
  const auto m = Parse("format 1\r\nversion 1.7.18\nexpires 2027-06-30\nnote anything at all\n"
                       "package ORBITQuarry64n.zip 1048576 " + hash + "\npackage ORBITQuarry32n.zip 0 " + kHash64);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->version, L"1.7.18");
  ASSERT_TRUE(m->expires);
  EXPECT_EQ(*m->expires, (ReleaseDate{2027, 6, 30}));
  ASSERT_EQ(m->packages.size(), 2u);
  EXPECT_EQ(m->packages[0].name, "ORBITQuarry64n.zip");
  EXPECT_EQ(m->packages[0].size, 1048576u);
  EXPECT_EQ(m->packages[0].sha256[0], 0x00);
  EXPECT_EQ(m->packages[0].sha256[1], 0xff);
  EXPECT_EQ(m->packages[0].sha256[31], 0xcd);
  EXPECT_EQ(m->packages[1].size, 0u);
  EXPECT_EQ(m->Find("ORBITQuarry32n.zip"), &m->packages[1]);
  EXPECT_EQ(m->Find("orbitquarry32n.zip"), nullptr);  // the server's names are exact
  EXPECT_FALSE(Parse("format 1\nversion 2\n")->expires);
}

// Each of these must refuse the whole manifest.
TEST(ReleaseManifestTest, RefusesMalformedKnownFields) {
  const std::string head = "format 1\nversion 1.7.18\n";
  const std::vector<std::string> refused = {
      "",
      "\xEF\xBB\xBF" + head,                 // a byte-order mark
      "format 2\nversion 1.7.18\n",
      "format  1\nversion 1.7.18\n",
      "version 1.7.18\nformat 1\n",          // format not first
      head + "format 1\n",                   // format twice
      "format 1\n",                          // no version
      head + "version 1.7.18\n",             // version twice
      "format 1\nversion 1..18\n",
      "format 1\nversion 1.7.18 \n",
      "format 1\nversion v1.7\n",
      "format 1\nversion 1234567890.1\n",    // a component past nine digits
      "format 1\nversion\n",
      head + "expires 2027-6-30\n",
      head + "expires 2027-02-29\n",         // not a leap year
      head + "expires 2027-13-01\n",
      head + "expires 2027-04-31\n",
      head + "expires 2027-06-30\nexpires 2028-01-01\n",
      head + "package ORBITQuarry64n.zip 1048576\n",
      head + "package ORBITQuarry64n.zip -1 " + kHash64 + "\n",
      head + "package ORBITQuarry64n.zip 0x10 " + kHash64 + "\n",
      head + "package ORBITQuarry64n.zip 1234567890123456 " + kHash64 + "\n",
      head + "package ORBITQuarry64n.zip 1 " + std::string(64, 'A') + "\n",  // upper case
      head + "package ORBITQuarry64n.zip 1 " + std::string(63, 'a') + "\n",
      head + "package ORBITQuarry64n.zip 1 " + kHash64 + " \n",
      head + "package ORBITQuarry64n.zip  1 " + kHash64 + "\n",
      head + "package ..\\ORBITQuarry64n.zip 1 " + kHash64 + "\n",
      head + "package files/ORBITQuarry64n.zip 1 " + kHash64 + "\n",
      head + kPackageLine + kPackageLine,    // the same package twice
  };
  for (const std::string& text : refused) EXPECT_FALSE(Parse(text)) << text;
}

TEST(ReleaseManifestTest, IgnoresUnknownFieldsAndBlankLines) {
  const auto m = Parse("format 1\n\nsigned-by someone\nversion 1.7.18\nVersion 9.9.9\nexpires-not 1\n" + kPackageLine);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->version, L"1.7.18");
  EXPECT_FALSE(m->expires);
  EXPECT_EQ(m->packages.size(), 1u);
}

// The installer line is newer than the installers in the field, which skip
// it; a malformed or repeated one offers no installer and refuses nothing.
TEST(ReleaseManifestTest, InstallerLineIsReadOrIgnoredNeverRefused) {
  const std::string head = "format 1\nversion 1.7.18\n" + kPackageLine;
  const std::string good = "installer ORBITQuarrySetup.exe 300000 " + kHash64 + " 1.7.18.0\n";
  const auto m = Parse(head + good);
  ASSERT_TRUE(m && m->installer);
  EXPECT_EQ(m->installer->file.name, "ORBITQuarrySetup.exe");
  EXPECT_EQ(m->installer->file.size, 300000u);
  EXPECT_EQ(m->installer->version, L"1.7.18.0");
  for (const std::string& line : {
           "installer ORBITQuarrySetup.exe 300000 " + kHash64 + "\n",            // no version
           "installer ORBITQuarrySetup.exe 300000 " + kHash64 + " 1.7.18\n",     // three parts
           "installer ../ORBITQuarrySetup.exe 300000 " + kHash64 + " 1.7.18.0\n",
           "installer C:ORBITQuarrySetup.exe 300000 " + kHash64 + " 1.7.18.0\n",
           "installer ORBITQuarrySetup.exe 300000 " + kHash64 + " 1.7.18.0 \n",
           good + good,  // twice
       }) {
    const auto ignored = Parse(head + line);
    ASSERT_TRUE(ignored) << line;
    EXPECT_FALSE(ignored->installer) << line;
    EXPECT_EQ(ignored->packages.size(), 1u);
  }
}

// ------------------------------------------------------------ DER

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

std::vector<uint8_t> Der(const P256Signature& raw) {
  const std::string der = test::DerSignature(raw);
  return std::vector<uint8_t>(der.begin(), der.end());
}

TEST(SignatureFromDerTest, TakesRAndSRightAligned) {
  P256Signature raw{};
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i + 1);
  EXPECT_EQ(SignatureFromDer(Der(raw)), raw);

  // High bits set: each INTEGER carries a leading zero (72 bytes in all).
  raw.fill(0xF0);
  const std::vector<uint8_t> full = Der(raw);
  EXPECT_EQ(full.size(), 72u);
  EXPECT_EQ(SignatureFromDer(full), raw);

  // Short r and s (leading zero bytes dropped by the encoder) are padded back.
  raw.fill(0x11);
  raw[0] = raw[1] = raw[2] = 0;
  raw[32] = 0;
  const std::vector<uint8_t> shorter = Der(raw);
  EXPECT_EQ(shorter.size(), 2u + 2 + 29 + 2 + 31);
  EXPECT_EQ(SignatureFromDer(shorter), raw);
}

TEST(SignatureFromDerTest, RefusesWhatIsNotOneSignature) {
  P256Signature raw{};
  raw.fill(0x42);
  const std::vector<uint8_t> good = Der(raw);
  ASSERT_TRUE(SignatureFromDer(good));

  std::vector<std::vector<uint8_t>> refused;
  for (size_t cut = 0; cut < good.size(); ++cut) refused.emplace_back(good.begin(), good.begin() + cut);
  std::vector<uint8_t> trailing = good;
  trailing.push_back(0);
  refused.push_back(trailing);
  std::vector<uint8_t> longer = good;
  longer[1] = static_cast<uint8_t>(longer[1] + 1);  // sequence claims a byte more than there is
  refused.push_back(longer);
  std::vector<uint8_t> shorter = good;
  shorter[3] = 31;  // r one byte shorter than its bytes: s then starts inside r
  refused.push_back(shorter);
  refused.push_back(Bytes({0x31, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01}));  // SET, not SEQUENCE
  refused.push_back(Bytes({0x30, 0x06, 0x02, 0x01, 0x81, 0x02, 0x01, 0x01}));  // negative r
  refused.push_back(Bytes({0x30, 0x07, 0x02, 0x02, 0x00, 0x01, 0x02, 0x01, 0x01}));  // needless zero
  refused.push_back(Bytes({0x30, 0x05, 0x02, 0x00, 0x02, 0x01, 0x01}));  // empty r
  refused.push_back(Bytes({0x30, 0x81, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01}));  // long form for a short length
  refused.push_back(Bytes({0x30, 0x82, 0x00, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01}));
  refused.push_back(Bytes({0x30, 0x80, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01, 0x00, 0x00}));  // indefinite
  refused.push_back(Bytes({0x30, 0x09, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01}));  // a third INTEGER
  // r of 33 significant bytes.
  std::vector<uint8_t> wide = Bytes({0x30, 0x26, 0x02, 0x21});
  wide.insert(wide.end(), 33, 0x01);
  wide.insert(wide.end(), {0x02, 0x01, 0x01});
  refused.push_back(wide);
  for (const std::vector<uint8_t>& der : refused) {
    EXPECT_FALSE(SignatureFromDer(der)) << "size " << der.size();
  }
}

}  // namespace
}  // namespace oq
