#pragma once
// The signed release manifest ("release.txt" beside the version file) and the
// decision whether a release may be installed.
//
// The manifest is UTF-8 without a byte-order mark, one field a line, each
// line a field name, one blank and its value, lines ending in LF (a CR
// before it is tolerated):
//   format 1
//   version 1.7.18
//   expires 2027-06-30                      (optional, a UTC date)
//   package ORBITQuarry64n.zip <size> <64 lower-case hex digits of SHA-256>
//   installer ORBITQuarrySetup.exe <size> <SHA-256> 1.7.18.0   (optional)
// "release.txt.sig" is the DER form of an ECDSA P-256 signature over the
// SHA-256 of the manifest's exact bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "seam/machine.h"

namespace oq {

// The most a signature file may hold; a DER P-256 signature is 72 bytes at most.
inline constexpr size_t kMaxSignatureBody = 1024;

struct ReleaseDate {
  int year = 0, month = 0, day = 0;
  auto operator<=>(const ReleaseDate&) const = default;
};

struct ReleasePackage {
  std::string name;  // the file name on the server, e.g. "ORBITQuarry64n.zip"
  uint64_t size = 0;
  Sha256Digest sha256{};
};

// The installer itself, offered to the copies already installed.
struct ReleaseInstaller {
  ReleasePackage file;  // under files/publish/, a plain file name
  std::wstring version;  // its four-part file version
};

struct ReleaseManifest {
  std::wstring version;
  std::optional<ReleaseDate> expires;
  std::vector<ReleasePackage> packages;
  std::optional<ReleaseInstaller> installer;
  const ReleasePackage* Find(std::string_view name) const;
};

// nullopt when the text is not a manifest: the first line is not "format 1",
// a known field (format, version, expires, package) is malformed or given
// twice, a package name repeats, or there is no version. Unknown fields are
// ignored, as installers that do not know the installer line ignore it; a
// malformed or repeated installer line only means no installer is offered.
std::optional<ReleaseManifest> ParseReleaseManifest(std::string_view text);

// The 64-byte r||s that CNG verifies, from the DER ECDSA-Sig-Value
// (SEQUENCE of two positive INTEGERs) that openssl writes. nullopt when the
// bytes are not exactly one such sequence with r and s of at most 32 bytes.
std::optional<P256Signature> SignatureFromDer(std::span<const uint8_t> der);

// Why a release is refused; Accepted when it is not.
enum class ReleaseVerdict {
  Accepted,
  ManifestMissing,   // release.txt not answered with 200 in at most kMaxTextBody bytes
  SignatureMissing,  // release.txt.sig not answered with 200 in at most kMaxSignatureBody bytes
  BadSignature,      // verifies under none of the keys (or is not DER)
  Malformed,         // not a manifest of format 1
  VersionMismatch,   // differs from the version file's
  Expired,
  Downgrade,         // lower than the installed version
  NoPackage,         // no line for the package this Excel needs
};

struct ReleaseFacts {
  std::wstring newest;     // the version file's version
  std::wstring installed;  // the installed library's version; empty when none is installed
  ReleaseDate today;       // UTC
  std::string package;     // the server's file name of the package needed; empty: none
};

// The decision on fetched files: the signature first, then the manifest's
// fields. On Accepted, `manifest` holds the parsed manifest.
ReleaseVerdict JudgeRelease(std::span<const uint8_t> manifestBytes, std::span<const uint8_t> signatureDer,
                            std::span<const P256PublicKey> keys, Crypto& crypto, const ReleaseFacts& facts,
                            ReleaseManifest& manifest);

}  // namespace oq
