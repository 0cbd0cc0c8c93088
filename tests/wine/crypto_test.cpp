// CNG's SHA-256 and ECDSA P-256 as the installer calls them, against
// published SHA-256 vectors and signatures that openssl made at build time.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "crypto_fixtures.h"
#include "services/win32/win32_machine.h"
#include "setup/release_manifest.h"

namespace oq {
namespace {

std::string Hex(const Sha256Digest& d) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : d) text += {kHex[b >> 4], kHex[b & 15]};
  return text;
}

P256PublicKey Key(const unsigned char (&point)[64]) {
  P256PublicKey key;
  std::copy(point, point + 64, key.begin());
  return key;
}

std::string HashInPieces(const std::string& data, size_t piece) {
  CngCrypto crypto;
  const std::unique_ptr<Sha256Hash> hash = crypto.NewSha256();
  for (size_t at = 0; at < data.size(); at += piece) {
    hash->Update(reinterpret_cast<const uint8_t*>(data.data()) + at, std::min(piece, data.size() - at));
  }
  return Hex(hash->Finish());
}

TEST(CngSha256Test, PublishedVectorsWhateverThePieces) {
  // FIPS 180-2 examples and the empty message.
  const std::string abq = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  for (size_t piece : {1u, 3u, 64u, 1000u}) {
    SCOPED_TRACE(piece);
    EXPECT_EQ(HashInPieces("", piece), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(HashInPieces("abc", piece), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(HashInPieces(abq, piece), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  }
  EXPECT_EQ(HashInPieces(std::string(1000000, 'a'), 4093),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

class CngVerifyTest : public ::testing::Test {
 protected:
  CngVerifyTest() {
    const std::unique_ptr<Sha256Hash> hash = crypto.NewSha256();
    hash->Update(kManifest, sizeof kManifest);
    digest = hash->Finish();
    raw = SignatureFromDer(std::span<const uint8_t>(kSignatureA, sizeof kSignatureA)).value();
  }
  CngCrypto crypto;
  Sha256Digest digest{};
  P256Signature raw{};
};

TEST_F(CngVerifyTest, OpensslSignatureVerifiesUnderItsKeyOnly) {
  EXPECT_TRUE(crypto.VerifyP256(Key(kKeyA), digest, raw));
  EXPECT_FALSE(crypto.VerifyP256(Key(kKeyB), digest, raw));
  Sha256Digest other = digest;
  other[5] ^= 0x10;
  EXPECT_FALSE(crypto.VerifyP256(Key(kKeyA), other, raw));
}

TEST_F(CngVerifyTest, AnyOneBitFlippedFails) {
  for (size_t bit : {0u, 7u, 100u, 255u, 256u, 300u, 511u}) {
    P256Signature flipped = raw;
    flipped[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    EXPECT_FALSE(crypto.VerifyP256(Key(kKeyA), digest, flipped)) << "bit " << bit;
  }
}

TEST_F(CngVerifyTest, KeyThatIsNoPointIsRefusedNotFatal) {
  P256PublicKey zero{};
  EXPECT_FALSE(crypto.VerifyP256(zero, digest, raw));
  P256PublicKey bent = Key(kKeyA);
  bent[63] ^= 1;  // off the curve
  EXPECT_FALSE(crypto.VerifyP256(bent, digest, raw));
}

// The whole decision over CNG, as the installer takes it.
TEST_F(CngVerifyTest, ReleaseJudgedOverCng) {
  const std::span<const uint8_t> manifest(kManifest, sizeof kManifest);
  const std::span<const uint8_t> signature(kSignatureA, sizeof kSignatureA);
  const ReleaseFacts facts{L"1.7.18", L"1.7.17.0", {2026, 12, 10}, "ORBITQuarry64n.zip"};
  const P256PublicKey a = Key(kKeyA), b = Key(kKeyB);
  ReleaseManifest parsed;
  EXPECT_EQ(JudgeRelease(manifest, signature, std::vector{b, a}, crypto, facts, parsed), ReleaseVerdict::Accepted);
  EXPECT_EQ(parsed.Find("ORBITQuarry64n.zip")->size, 3u);
  EXPECT_EQ(JudgeRelease(manifest, signature, std::vector{b}, crypto, facts, parsed), ReleaseVerdict::BadSignature);
  // Truncated anywhere, the signature is no signature.
  for (size_t cut = 0; cut < sizeof kSignatureA; ++cut) {
    EXPECT_EQ(JudgeRelease(manifest, signature.first(cut), std::vector{a}, crypto, facts, parsed),
              ReleaseVerdict::BadSignature)
        << "cut at " << cut;
  }
  std::vector<uint8_t> changed(manifest.begin(), manifest.end());
  changed.back() = ' ';
  EXPECT_EQ(JudgeRelease(changed, signature, std::vector{a}, crypto, facts, parsed), ReleaseVerdict::BadSignature);
}

}  // namespace
}  // namespace oq
