#include "setup/release_manifest.h"

#include <algorithm>

#include "setup/version_compare.h"

namespace oq {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Decimal digits only, no sign, at most `maxDigits` of them.
bool ParseDecimal(std::string_view text, size_t maxDigits, uint64_t& value) {
  if (text.empty() || text.size() > maxDigits) return false;
  value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

// Dotted decimal numbers, each of one to nine digits.
bool IsDottedVersion(std::string_view text) {
  size_t start = 0;
  for (;;) {
    const size_t dot = std::min(text.find('.', start), text.size());
    uint64_t unused;
    if (!ParseDecimal(text.substr(start, dot - start), 9, unused)) return false;
    if (dot == text.size()) return true;
    start = dot + 1;
  }
}

bool ParseDate(std::string_view text, ReleaseDate& date) {
  uint64_t y, m, d;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !ParseDecimal(text.substr(0, 4), 4, y) ||
      !ParseDecimal(text.substr(5, 2), 2, m) || !ParseDecimal(text.substr(8, 2), 2, d)) {
    return false;
  }
  static constexpr uint8_t kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12 || d < 1 || d > kDays[m - 1]) return false;
  if (m == 2 && d == 29 && (y % 4 != 0 || (y % 100 == 0 && y % 400 != 0))) return false;
  date = {static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)};
  return true;
}

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;  // upper case is not the manifest's form
}

bool ParsePackage(std::string_view text, ReleasePackage& package) {
  const size_t first = text.find(' ');
  const size_t second = first == std::string_view::npos ? first : text.find(' ', first + 1);
  if (second == std::string_view::npos) return false;
  const std::string_view name = text.substr(0, first);
  const std::string_view size = text.substr(first + 1, second - first - 1);
  const std::string_view hash = text.substr(second + 1);
  // A plain file name: nothing that could reach beyond the release folder.
  if (name.empty() || name.find_first_of("/\\: ") != std::string_view::npos || name == "." || name == "..") {
    return false;
  }
  if (!ParseDecimal(size, 15, package.size) || hash.size() != 64) return false;
  for (size_t i = 0; i < 32; ++i) {
    const int high = HexValue(hash[2 * i]), low = HexValue(hash[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    package.sha256[i] = static_cast<uint8_t>(high << 4 | low);
  }
  package.name = name;
  return true;
}

// One DER element of `tag` at the front of `in`, definite length; its
// contents go to `content` and `in` moves past it.
bool TakeDer(std::span<const uint8_t>& in, uint8_t tag, std::span<const uint8_t>& content) {
  if (in.size() < 2 || in[0] != tag) return false;
  size_t length = in[1], header = 2;
  if (length == 0x81) {  // long form, one byte: only for lengths of 128 and more
    if (in.size() < 3 || in[2] < 0x80) return false;
    length = in[2];
    header = 3;
  } else if (length > 0x80) {
    return false;  // longer forms never fit a signature
  }
  if (in.size() - header < length) return false;
  content = in.subspan(header, length);
  in = in.subspan(header + length);
  return true;
}

// A positive INTEGER of at most 32 significant bytes, right-aligned into `out`.
bool TakeScalar(std::span<const uint8_t>& in, uint8_t* out) {
  std::span<const uint8_t> value;
  if (!TakeDer(in, 0x02, value) || value.empty() || (value[0] & 0x80)) return false;
  // One leading zero only where the next byte would read as a sign.
  if (value.size() > 1 && value[0] == 0 && !(value[1] & 0x80)) return false;
  if (value[0] == 0) value = value.subspan(1);
  if (value.size() > 32) return false;
  std::fill(out, out + 32 - value.size(), uint8_t{0});
  std::copy(value.begin(), value.end(), out + 32 - value.size());
  return true;
}

std::wstring Widened(std::string_view text) { return std::wstring(text.begin(), text.end()); }

// "NAME SIZE SHA256 VERSION", the version of four numbers.
bool ParseInstaller(std::string_view text, ReleaseInstaller& installer) {
  const size_t last = text.rfind(' ');
  if (last == std::string_view::npos) return false;
  const std::string_view version = text.substr(last + 1);
  if (!IsDottedVersion(version) || std::count(version.begin(), version.end(), '.') != 3) return false;
  installer.version = Widened(version);
  return ParsePackage(text.substr(0, last), installer.file);
}

}  // namespace

const ReleasePackage* ReleaseManifest::Find(std::string_view name) const {
  for (const ReleasePackage& p : packages) {
    if (p.name == name) return &p;
  }
  return nullptr;
}

std::optional<ReleaseManifest> ParseReleaseManifest(std::string_view text) {
  ReleaseManifest manifest;
  bool first = true, haveVersion = false, installerLines = false;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    const size_t blank = line.find(' ');
    const std::string_view name = line.substr(0, blank);
    const std::string_view value = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
    if (first) {
      if (line != "format 1") return std::nullopt;
      first = false;
    } else if (name == "format") {
      return std::nullopt;
    } else if (name == "version") {
      if (haveVersion || !IsDottedVersion(value)) return std::nullopt;
      manifest.version = Widened(value);
      haveVersion = true;
    } else if (name == "expires") {
      ReleaseDate date;
      if (manifest.expires || !ParseDate(value, date)) return std::nullopt;
      manifest.expires = date;
    } else if (name == "package") {
      ReleasePackage package;
      if (!ParsePackage(value, package) || manifest.Find(package.name)) return std::nullopt;
      manifest.packages.push_back(std::move(package));
    } else if (name == "installer") {
      ReleaseInstaller installer;
      if (!installerLines && ParseInstaller(value, installer)) {
        manifest.installer = std::move(installer);
      } else {
        manifest.installer.reset();
      }
      installerLines = true;
    }
  }
  if (!haveVersion) return std::nullopt;
  return manifest;
}

std::optional<P256Signature> SignatureFromDer(std::span<const uint8_t> der) {
  std::span<const uint8_t> sequence;
  P256Signature raw{};
  if (!TakeDer(der, 0x30, sequence) || !der.empty() || !TakeScalar(sequence, raw.data()) ||
      !TakeScalar(sequence, raw.data() + 32) || !sequence.empty()) {
    return std::nullopt;
  }
  return raw;
}

ReleaseVerdict JudgeRelease(std::span<const uint8_t> manifestBytes, std::span<const uint8_t> signatureDer,
                            std::span<const P256PublicKey> keys, Crypto& crypto, const ReleaseFacts& facts,
                            ReleaseManifest& manifest) {
  const std::optional<P256Signature> signature = SignatureFromDer(signatureDer);
  if (!signature) return ReleaseVerdict::BadSignature;
  const std::unique_ptr<Sha256Hash> hash = crypto.NewSha256();
  hash->Update(manifestBytes.data(), manifestBytes.size());
  const Sha256Digest digest = hash->Finish();
  if (std::none_of(keys.begin(), keys.end(),
                   [&](const P256PublicKey& key) { return crypto.VerifyP256(key, digest, *signature); })) {
    return ReleaseVerdict::BadSignature;
  }

  std::optional<ReleaseManifest> parsed = ParseReleaseManifest(
      std::string_view(reinterpret_cast<const char*>(manifestBytes.data()), manifestBytes.size()));
  if (!parsed) return ReleaseVerdict::Malformed;
  if (parsed->version != facts.newest) return ReleaseVerdict::VersionMismatch;
  if (parsed->expires && facts.today > *parsed->expires) return ReleaseVerdict::Expired;
  // The same version may be installed again; an older one never.
  if (!facts.installed.empty() && CompareVersions(parsed->version, facts.installed) < 0) {
    return ReleaseVerdict::Downgrade;
  }
  if (!facts.package.empty() && !parsed->Find(facts.package)) return ReleaseVerdict::NoPackage;
  manifest = std::move(*parsed);
  return ReleaseVerdict::Accepted;
}

}  // namespace oq
