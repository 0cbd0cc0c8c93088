// libFuzzer target for what the installer reads from the release server
// before it trusts anything: the manifest parser and the DER signature
// decoder, each given every input. A refusal is the expected outcome; a
// crash, a sanitizer report or an accepted value that breaks the rules is a
// finding.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "setup/release_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const std::optional<oq::ReleaseManifest> manifest = oq::ParseReleaseManifest(text)) {
    // Accepted only what a manifest of format 1 can be.
    if (text.substr(0, 8) != "format 1" || manifest->version.empty()) std::abort();
    for (const oq::ReleasePackage& p : manifest->packages) {
      if (p.name.empty() || p.name.find_first_of("/\\") != std::string::npos) std::abort();
      if (manifest->Find(p.name) != &p) std::abort();  // names are unique
    }
    if (manifest->expires && (manifest->expires->month < 1 || manifest->expires->month > 12)) std::abort();
  }
  if (const std::optional<oq::P256Signature> raw = oq::SignatureFromDer({data, size})) {
    // A signature is at most two 33-byte INTEGERs in a sequence.
    if (size > 72 || data[0] != 0x30) std::abort();
  }
  return 0;
}
