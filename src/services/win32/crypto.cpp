#include <cstring>

#include "seam/app_error.h"
#include "services/win32/handles.h"
#include "services/win32/win32_machine.h"

namespace oq {

namespace {

[[noreturn]] void HashFailure(NTSTATUS status) {
  throw AppError(L"SHA-256 is not available", static_cast<uint32_t>(status));
}

class CngSha256 final : public Sha256Hash {
 public:
  CngSha256() {
    NTSTATUS status = BCryptOpenAlgorithmProvider(algorithm_.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    // No object buffer: from Windows 7 on, CNG keeps the hash's state itself.
    if (status == 0) status = BCryptCreateHash(algorithm_.Get(), hash_.Put(), nullptr, 0, nullptr, 0, 0);
    if (status != 0) HashFailure(status);
  }
  void Update(const uint8_t* data, size_t count) override {
    while (count > 0) {
      const ULONG piece = count > 0x40000000u ? 0x40000000u : static_cast<ULONG>(count);
      if (const NTSTATUS status = BCryptHashData(hash_.Get(), const_cast<PUCHAR>(data), piece, 0)) {
        HashFailure(status);
      }
      data += piece;
      count -= piece;
    }
  }
  Sha256Digest Finish() override {
    Sha256Digest digest{};
    if (const NTSTATUS status = BCryptFinishHash(hash_.Get(), digest.data(), digest.size(), 0)) HashFailure(status);
    return digest;
  }

 private:
  win::UniqueAlgorithm algorithm_;  // outlives the hash: declared first, destroyed last
  win::UniqueHash hash_;
};

}  // namespace

std::unique_ptr<Sha256Hash> CngCrypto::NewSha256() { return std::make_unique<CngSha256>(); }

bool CngCrypto::VerifyP256(const P256PublicKey& key, const Sha256Digest& digest, const P256Signature& signature) {
  win::UniqueAlgorithm algorithm;
  if (BCryptOpenAlgorithmProvider(algorithm.Put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0) return false;
  // BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y.
  unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
  const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::memcpy(blob, &header, sizeof header);
  std::memcpy(blob + sizeof header, key.data(), key.size());
  win::UniqueCryptoKey publicKey;
  if (BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, publicKey.Put(), blob, sizeof blob, 0) !=
      0) {
    return false;
  }
  return BCryptVerifySignature(publicKey.Get(), nullptr, const_cast<PUCHAR>(digest.data()), digest.size(),
                               const_cast<PUCHAR>(signature.data()), signature.size(), 0) == 0;
}

}  // namespace oq
