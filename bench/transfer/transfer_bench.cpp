// Times the installer's package download, TfmMain::DownloadToFile over the
// real WinHttpTransport (the request on a worker thread, the body handed to
// the calling thread in a ring of buffers), against a bare downloader doing
// the same work on one thread: the same WinHTTP session settings and request
// headers, reads of what has arrived up to 64 KiB, CNG SHA-256, the pieces
// written to a partial file that is flushed and then takes its name. The
// two alternate; medians, throughput and their ratio are printed.
//
//   transfer_bench URL SIZE SHA256 FOLDER [ROUNDS]
//
// SIZE and SHA256 (64 hex digits) describe the file at URL, as a release
// manifest would; FOLDER receives the downloads.

#include <windows.h>
#include <bcrypt.h>
#include <winhttp.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "null_view.h"
#include "measure.h"
#include "seam/main_view.h"
#include "services/win32/win32_machine.h"
#include "setup/main_form.h"

namespace {

struct Target {
  std::wstring url;
  uint64_t size = 0;
  oq::Sha256Digest sha256{};
};

// The request headers the installer's package downloads carry (the text
// requests before them set them on the shared request).
const wchar_t kHeaders[] = L"Accept-Charset: utf-8\r\nAccept: application/json\r\nAccept-Language: ko-KR";

bool ParseDigest(const wchar_t* hex, oq::Sha256Digest& digest) {
  if (std::wcslen(hex) != 64) return false;
  for (size_t i = 0; i < 32; ++i) {
    unsigned value = 0;
    if (std::swscanf(hex + 2 * i, L"%2x", &value) != 1) return false;
    digest[i] = static_cast<uint8_t>(value);
  }
  return true;
}

// ------------------------------------------------------------- the baseline

// Closes what it holds, whichever way the download ends.
struct BareHandles {
  HINTERNET session = nullptr, connection = nullptr, request = nullptr;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  HANDLE file = INVALID_HANDLE_VALUE;
  ~BareHandles() {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (hash) BCryptDestroyHash(hash);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    if (request) WinHttpCloseHandle(request);
    if (connection) WinHttpCloseHandle(connection);
    if (session) WinHttpCloseHandle(session);
  }
};

// The download on the calling thread alone; true when the file arrived
// whole, of the expected size and SHA-256, under its name.
bool BareDownload(const Target& target, const std::wstring& path) {
  BareHandles h;
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(target.url.c_str(), 0, 0, &parts)) return false;
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring object = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);

  // The session as the installer opens it for a direct route.
  h.session = WinHttpOpen(L"Kelvo Agent", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
  if (!h.session) return false;
  WinHttpSetTimeouts(h.session, 0, 100000, 300000, 300000);
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 |
                    WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
  WinHttpSetOption(h.session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
  h.connection = WinHttpConnect(h.session, host.c_str(), parts.nPort, 0);
  if (!h.connection) return false;
  h.request = WinHttpOpenRequest(h.connection, L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                 WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
  if (!h.request) return false;
  WinHttpAddRequestHeaders(h.request, kHeaders, static_cast<DWORD>(-1),
                           WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
  DWORD disable = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(h.request, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof disable);
  DWORD logon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
  WinHttpSetOption(h.request, WINHTTP_OPTION_AUTOLOGON_POLICY, &logon, sizeof logon);
  if (!WinHttpSendRequest(h.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(h.request, nullptr)) {
    return false;
  }
  DWORD status = 0, statusSize = sizeof status;
  WinHttpQueryHeaders(h.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
  if (status != 200) return false;

  if (BCryptOpenAlgorithmProvider(&h.algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0 ||
      BCryptCreateHash(h.algorithm, &h.hash, nullptr, 0, nullptr, 0, 0) != 0) {
    return false;
  }
  const std::wstring partial = path + L".part";
  h.file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h.file == INVALID_HANDLE_VALUE) return false;

  constexpr DWORD kPiece = 64 * 1024;
  const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kPiece]);
  uint64_t received = 0;
  for (;;) {
    DWORD available = 0, read = 0, written = 0;
    if (!WinHttpQueryDataAvailable(h.request, &available)) return false;
    if (available > kPiece) available = kPiece;
    if (available && !WinHttpReadData(h.request, buffer.get(), available, &read)) return false;
    if (!read) break;
    if (!WriteFile(h.file, buffer.get(), read, &written, nullptr) || written != read) return false;
    if (BCryptHashData(h.hash, buffer.get(), read, 0) != 0) return false;
    received += read;
    if (received > target.size) return false;
  }
  oq::Sha256Digest digest{};
  if (BCryptFinishHash(h.hash, digest.data(), digest.size(), 0) != 0) return false;
  // As durable as the installer's before it takes its name.
  if (!FlushFileBuffers(h.file)) return false;
  CloseHandle(h.file);
  h.file = INVALID_HANDLE_VALUE;
  if (received != target.size || digest != target.sha256) {
    DeleteFileW(partial.c_str());
    return false;
  }
  return MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

// ------------------------------------------------------------- the product

class NoDialogs final : public oq::Dialogs {
 public:
  oq::BoxAnswer ShowBox(const std::wstring&, const std::wstring&, oq::BoxIcon, oq::BoxButtons) override {
    return oq::BoxAnswer::Ok;
  }
  void ProcessMessages() override {}
  void SetBusyCursor(bool) override {}
  oq::AdminWarningAnswer ShowAdminWarning(bool) override { return oq::AdminWarningAnswer::Continue; }
  std::optional<std::wstring> PickFolder(const std::wstring&) override { return std::nullopt; }
};

// The installer's download with the installer's own services; true when it
// ended Done (the size and SHA-256 checked, the file under its name).
bool ProductDownload(const Target& target, const std::wstring& path) {
  oq::Win32Registry registry;
  oq::Win32FileSystem files;
  oq::Win32ProcessTable processes;
  oq::Win32Shell shell;
  oq::Win32Environment env;
  oq::WinHttpTransport http;
  NoDialogs dialogs;
  oq::CngCrypto crypto;
  oq::Machine machine{registry, files, processes, shell, env, http, dialogs, crypto};
  oq::NoView view;  // no window: the progress goes nowhere
  const std::wstring base = target.url.substr(0, target.url.find(L'/', target.url.find(L"://") + 3) + 1);
  oq::TfmMain form(machine, view, base);
  form.SetTextRequestHeaders();
  oq::ReleasePackage expected;
  expected.size = target.size;
  expected.sha256 = target.sha256;
  try {
    return form.DownloadToFile(target.url, path, &expected) == oq::TfmMain::Download::Done;
  } catch (const oq::AppError& e) {
    std::fwprintf(stderr, L"transfer_bench: %ls\n", e.Message().c_str());
    return false;
  }
}

// Seconds the download took, after the previous one's file was removed;
// -1 when it did not arrive as described.
double Timed(bool (*download)(const Target&, const std::wstring&), const Target& target, const std::wstring& path) {
  DeleteFileW(path.c_str());
  const double start = bench::NowMs();
  const bool ok = download(target, path);
  const double seconds = (bench::NowMs() - start) / 1000.0;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  const bool there = GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
                     ((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) == target.size;
  return ok && there ? seconds : -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) {
    std::fputs("usage: transfer_bench URL SIZE SHA256 FOLDER [ROUNDS]\n", stderr);
    return 2;
  }
  Target target;
  target.url = argv[1];
  target.size = std::wcstoull(argv[2], nullptr, 10);
  if (!target.size || !ParseDigest(argv[3], target.sha256)) {
    std::fputs("transfer_bench: SIZE must be a number and SHA256 64 hex digits\n", stderr);
    return 2;
  }
  const std::wstring folder = std::wstring(argv[4]) + L"\\";
  const int rounds = argc > 5 ? std::max(1, _wtoi(argv[5])) : 7;
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring bareFile = folder + L"bare.zip", productFile = folder + L"product.zip";

  // Each refuses a file that is not as described, so a wrong digest given
  // here fails at once rather than timing nothing.
  Target wrong = target;
  wrong.sha256[0] ^= 1;
  if (Timed(BareDownload, wrong, bareFile) >= 0 || Timed(ProductDownload, wrong, productFile) >= 0) {
    std::fputs("transfer_bench: a download with another SHA-256 was accepted\n", stderr);
    return 1;
  }
  // One of each untimed: the server's file in the page cache, the DLLs loaded.
  if (Timed(BareDownload, target, bareFile) < 0 || Timed(ProductDownload, target, productFile) < 0) {
    std::fputs("transfer_bench: the warm-up download failed\n", stderr);
    return 1;
  }
  std::vector<std::vector<double>> seconds;
  int failedRound = 0;
  size_t failed = 0;
  const bool done = bench::Interleave(
      rounds, {[&] { return Timed(BareDownload, target, bareFile); }, [&] { return Timed(ProductDownload, target, productFile); }},
      seconds, &failedRound, &failed);
  DeleteFileW(bareFile.c_str());
  DeleteFileW(productFile.c_str());
  if (!done) {
    std::fprintf(stderr, "transfer_bench: round %d: the %s download failed\n", failedRound + 1,
                 failed == 0 ? "bare" : "product's");
    return 1;
  }
  const double bare = bench::Median(seconds[0]), product = bench::Median(seconds[1]);
  const double mb = static_cast<double>(target.size) / 1e6;
  std::printf("package: %.1f MB (%llu bytes), %d rounds each, alternating (medians)\n", mb,
              static_cast<unsigned long long>(target.size), rounds);
  std::printf("bare WinHTTP downloader, one thread   %7.3f s  %7.1f MB/s\n", bare, mb / bare);
  std::printf("DownloadToFile, WinHttpTransport      %7.3f s  %7.1f MB/s\n", product, mb / product);
  std::printf("ratio product / bare: %.3f (target at most 1.10)\n", product / bare);
  std::printf("rounds (s):\n");
  bench::PrintRounds("bare", seconds[0], " %.3f");
  bench::PrintRounds("product", seconds[1], " %.3f");
  return 0;
}
