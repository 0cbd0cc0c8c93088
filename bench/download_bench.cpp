// Times the installer's verified download path, TfmMain::DownloadToFile with
// a manifest's size and SHA-256, against `sha256sum` of the same file, and
// measures the download's peak memory.
//
//   download_bench PACKAGE WORKDIR [REPETITIONS]
//
// The "server" hands the package over in 64 KiB reads, as WinHTTP does;
// OpenSSL's SHA-256 stands in for CNG's. What is measured is the rest of the
// path: every piece counted, hashed and written to the partial file, the
// check and the rename. The other services are the unit tests' stand-ins.

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "fake_machine.h"
#include "measure.h"
#include "posix_files.h"
#include "setup/main_form.h"

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const std::string& why) {
  std::fprintf(stderr, "download_bench: %s\n", why.c_str());
  std::exit(2);
}

class OpenSslHash final : public oq::Sha256Hash {
 public:
  OpenSslHash() : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_ || EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) != 1) Die("no SHA-256");
  }
  ~OpenSslHash() override { EVP_MD_CTX_free(ctx_); }
  void Update(const uint8_t* data, size_t count) override { EVP_DigestUpdate(ctx_, data, count); }
  oq::Sha256Digest Finish() override {
    oq::Sha256Digest d{};
    unsigned size = 0;
    EVP_DigestFinal_ex(ctx_, d.data(), &size);
    return d;
  }

 private:
  EVP_MD_CTX* ctx_;
};

class OpenSslCrypto final : public oq::Crypto {
 public:
  std::unique_ptr<oq::Sha256Hash> NewSha256() override { return std::make_unique<OpenSslHash>(); }
  bool VerifyP256(const oq::P256PublicKey&, const oq::Sha256Digest&, const oq::P256Signature&) override {
    return false;
  }
};

// Serves one file, whatever the URL, in the pieces WinHTTP would read.
class FileServer final : public oq::HttpTransport {
 public:
  explicit FileServer(std::string path) : path_(std::move(path)) {}
  oq::HttpResponse Get(const std::wstring&, const std::vector<oq::HttpHeader>&) override { return {404, {}, {}}; }
  void Prefetch(const std::wstring&, const std::vector<oq::HttpHeader>&) override {}
  void Cancel() override {}
  void ForgetPrefetched() override {}
  void Stream(const std::wstring&, const std::vector<oq::HttpHeader>&, oq::HttpSink& sink) override {
    const int fd = open(path_.c_str(), O_RDONLY);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) Die("cannot read " + path_);
    std::vector<uint8_t> buffer(64 * 1024);
    if (sink.Begin({200, static_cast<uint64_t>(st.st_size), {}, {}, {}})) {
      for (ssize_t n; (n = read(fd, buffer.data(), buffer.size())) > 0;) {
        if (!sink.Write(buffer.data(), static_cast<size_t>(n))) break;
      }
    }
    close(fd);
  }

 private:
  std::string path_;
};

oq::Sha256Digest FileDigest(const std::string& path) {
  OpenSslHash hash;
  const int fd = open(path.c_str(), O_RDONLY);
  std::vector<uint8_t> buffer(1 << 20);
  for (ssize_t n; (n = read(fd, buffer.data(), buffer.size())) > 0;) hash.Update(buffer.data(), n);
  close(fd);
  return hash.Finish();
}

// The download into WORKDIR/pkg.zip; dies unless it verifies.
void Download(const std::string& package, const std::string& work, const oq::ReleasePackage& expected) {
  oq::test::FakeMachine fakes;
  oq::bench::PosixFileSystem files;
  FileServer server(package);
  OpenSslCrypto crypto;
  oq::Machine machine{fakes.registry, files, fakes.processes, fakes.shell, fakes.env, server, fakes.dialogs, crypto};
  oq::test::FakeView view;
  oq::TfmMain form(machine, view, L"https://bench/");
  const std::wstring target = oq::bench::SeamPath(work + "/pkg.zip");
  if (form.DownloadToFile(L"https://bench/files/publish/pkg.zip", target, &expected) != oq::TfmMain::Download::Done) {
    Die("the download did not verify");
  }
}

double Seconds(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Sha256sum(const std::string& package) {
  if (std::system(("sha256sum '" + package + "' >/dev/null").c_str()) != 0) Die("sha256sum failed");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) Die("usage: download_bench PACKAGE WORKDIR [REPETITIONS]");
  const std::string package = argv[1], work = argv[2];
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  mkdir(work.c_str(), 0777);
  struct stat st {};
  if (stat(package.c_str(), &st) != 0) Die("no package " + package);
  oq::ReleasePackage expected;
  expected.size = static_cast<uint64_t>(st.st_size);
  expected.sha256 = FileDigest(package);

  // Untimed: warms the page cache, and a wrong hash must be refused.
  Download(package, work, expected);
  std::vector<double> ours, theirs;
  for (int i = 0; i < rounds; ++i) {
    // Alternating, so neither always runs second.
    if (i % 2) ours.push_back(Seconds([&] { Download(package, work, expected); }));
    theirs.push_back(Seconds([&] { Sha256sum(package); }));
    if (!(i % 2)) ours.push_back(Seconds([&] { Download(package, work, expected); }));
  }
  const long idle = bench::ChildPeakKiB([] {});
  const long peak = bench::ChildPeakKiB([&] { Download(package, work, expected); });
  if (idle < 0 || peak < 0) Die("measuring child failed");

  const double a = bench::Median(ours), b = bench::Median(theirs);
  std::printf("verified download  %s: %.1f MB, %d rounds (median)\n", package.c_str(), st.st_size / 1e6, rounds);
  std::printf("(d) DownloadToFile, hashed and written  %8.3f s  %8.1f MB/s\n", a, st.st_size / 1e6 / a);
  std::printf("(e) sha256sum of the same file          %8.3f s  %8.1f MB/s\n", b, st.st_size / 1e6 / b);
  std::printf("DownloadToFile / sha256sum  %.3f wall\n", a / b);
  const double memory = (peak - idle) / 1024.0;
  std::printf("download peak memory above an idle child  %.2f MiB (%ld KiB vs %ld KiB; target < 8 MiB: %s)\n",
              memory, peak, idle, memory < 8 ? "met" : "MISSED");
  return 0;
}
