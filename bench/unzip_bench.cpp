// Times UnzipPackage against Info-ZIP unzip and against a bare zlib loop
// over the same package, and measures the extractor's peak memory.
//
//   unzip_bench PACKAGE WORKDIR [REPETITIONS]
//
// Each contender extracts into a fresh folder under WORKDIR every round;
// the rounds interleave the three so page-cache state treats them alike,
// and the median of each is reported.

#include <errno.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "deploy/unzip_package.h"
#include "measure.h"
#include "posix_files.h"
#include "seam/app_error.h"

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const std::string& why) {
  std::fprintf(stderr, "unzip_bench: %s\n", why.c_str());
  std::exit(2);
}

void Run(const std::vector<std::string>& argv) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    Die("command failed: " + argv[0]);
  }
}

// An empty folder at `path`, with the package linked into it.
void FreshFolder(const std::string& path, const std::string& package) {
  Run({"rm", "-rf", path});
  if (mkdir(path.c_str(), 0777) != 0) Die("cannot make " + path);
  if (link(package.c_str(), (path + "/pkg.zip").c_str()) != 0) {
    Run({"cp", package, path + "/pkg.zip"});
  }
  sync();  // the previous round's write-back is not charged to this one
}

void Unzip(const std::string& folder) {
  oq::bench::PosixFileSystem files;
  try {
    oq::UnzipPackage(files, oq::bench::SeamPath(folder + "/"), L"pkg.zip", [](const std::vector<uint8_t>& b) {
      return std::optional<std::wstring>(std::wstring(b.begin(), b.end()));
    });
  } catch (const oq::AppError& e) {
    std::string text;
    for (wchar_t c : e.Message()) text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    Die("UnzipPackage: " + text);
  }
}

// ------------------------------------------------------------ bare loop

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) { return Get16(p) | static_cast<uint32_t>(Get16(p + 2)) << 16; }

void ReadAt(int fd, uint64_t at, void* out, size_t count) {
  if (pread(fd, out, count, static_cast<off_t>(at)) != static_cast<ssize_t>(count)) Die("short read");
}

// What any extractor must do at least: find the entries, inflate, sum,
// write. No checks beyond the CRC, no part files.
void BareLoop(const std::string& package, const std::string& folder) {
  const int fd = open(package.c_str(), O_RDONLY);
  if (fd < 0) Die("cannot open " + package);
  struct stat st;
  fstat(fd, &st);
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  uint8_t end[22];
  ReadAt(fd, size - 22, end, 22);  // the benchmark's package has no comment
  if (Get32(end) != 0x06054b50) Die("end record not where expected");
  const uint32_t directorySize = Get32(end + 12), directoryAt = Get32(end + 16);
  std::vector<uint8_t> directory(directorySize);
  ReadAt(fd, directoryAt, directory.data(), directorySize);

  std::vector<uint8_t> in(64 * 1024), out(64 * 1024);
  z_stream z{};
  inflateInit2(&z, -MAX_WBITS);
  std::set<std::string> made;
  for (size_t at = 0; at < directorySize;) {
    const uint8_t* h = directory.data() + at;
    const uint16_t method = Get16(h + 10);
    const uint32_t crc = Get32(h + 16), packed = Get32(h + 20);
    const uint16_t nameLength = Get16(h + 28);
    const uint32_t headerAt = Get32(h + 42);
    const std::string name(reinterpret_cast<const char*>(h + 46), nameLength);
    at += 46 + nameLength + Get16(h + 30) + Get16(h + 32);

    for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
      const std::string level = folder + "/" + name.substr(0, slash);
      if (made.insert(level).second) mkdir(level.c_str(), 0777);
    }
    if (name.back() == '/') continue;
    uint8_t local[30];
    ReadAt(fd, headerAt, local, 30);
    uint64_t from = headerAt + 30 + Get16(local + 26) + Get16(local + 28);
    const int target = open((folder + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (target < 0) Die("cannot create " + name);
    uLong sum = crc32(0, nullptr, 0);
    uint64_t left = packed;
    if (method == 0) {
      while (left > 0) {
        const size_t n = std::min<uint64_t>(in.size(), left);
        ReadAt(fd, from, in.data(), n);
        sum = crc32(sum, in.data(), static_cast<uInt>(n));
        if (write(target, in.data(), n) != static_cast<ssize_t>(n)) Die("write failed");
        from += n;
        left -= n;
      }
    } else {
      inflateReset(&z);
      int status = Z_OK;
      while (status != Z_STREAM_END) {
        if (z.avail_in == 0) {
          const size_t n = std::min<uint64_t>(in.size(), left);
          ReadAt(fd, from, in.data(), n);
          from += n;
          left -= n;
          z.next_in = in.data();
          z.avail_in = static_cast<uInt>(n);
        }
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) Die("inflate failed on " + name);
        const size_t produced = out.size() - z.avail_out;
        sum = crc32(sum, out.data(), static_cast<uInt>(produced));
        if (write(target, out.data(), produced) != static_cast<ssize_t>(produced)) Die("write failed");
      }
    }
    close(target);
    if (sum != crc) Die("CRC mismatch on " + name);
  }
  inflateEnd(&z);
  close(fd);
}

// ------------------------------------------------------------ measuring

double CpuSeconds() {
  double total = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    struct rusage u {};
    getrusage(who, &u);
    total += u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  }
  return total;
}

// Wall-clock seconds of `work`; its processor seconds (user and system,
// children included) are added to `cpu`.
double Seconds(const std::function<void()>& work, std::vector<double>& cpu) {
  const double cpuStart = CpuSeconds();
  const auto start = Clock::now();
  work();
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  cpu.push_back(CpuSeconds() - cpuStart);
  return wall;
}

uint64_t TreeBytes(const std::string& folder) {
  // du would round to blocks; the sum of file sizes is what was extracted.
  FILE* p = popen(("find '" + folder + "' -type f ! -name pkg.zip -printf '%s\\n'").c_str(), "r");
  uint64_t total = 0;
  unsigned long long n = 0;
  while (p && std::fscanf(p, "%llu", &n) == 1) total += n;
  if (p) pclose(p);
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) Die("usage: unzip_bench PACKAGE WORKDIR [REPETITIONS]");
  const std::string package = argv[1], work = argv[2];
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  const std::string ours = work + "/unzip-package", theirs = work + "/info-zip", bare = work + "/bare-loop";
  mkdir(work.c_str(), 0777);

  struct stat st;
  if (stat(package.c_str(), &st) != 0) Die("no package " + package);

  // One untimed round of each: warms the page cache and checks that all
  // three produce the same bytes.
  FreshFolder(ours, package);
  Unzip(ours);
  FreshFolder(theirs, package);
  Run({"unzip", "-o", "-q", theirs + "/pkg.zip", "-d", theirs});
  FreshFolder(bare, package);
  BareLoop(package, bare);
  const uint64_t extracted = TreeBytes(ours);
  if (extracted != TreeBytes(theirs) || extracted != TreeBytes(bare)) Die("the three outputs differ in size");
  Run({"diff", "-r", "-q", "-x", "pkg.zip", ours, theirs});

  std::vector<double> a, b, c, cpuA, cpuB, cpuC;
  const std::function<void()> contenders[] = {
      [&] {
        FreshFolder(ours, package);
        a.push_back(Seconds([&] { Unzip(ours); }, cpuA));
      },
      [&] {
        FreshFolder(theirs, package);
        b.push_back(Seconds([&] { Run({"unzip", "-o", "-q", theirs + "/pkg.zip", "-d", theirs}); }, cpuB));
      },
      [&] {
        FreshFolder(bare, package);
        c.push_back(Seconds([&] { BareLoop(package, bare); }, cpuC));
      },
  };
  // The order turns each round, so none is always first after the sync.
  for (int i = 0; i < rounds; ++i) {
    for (int k = 0; k < 3; ++k) contenders[(i + k) % 3]();
  }
  const auto samples = [](const char* what, const std::vector<double>& v) {
    std::printf("%-18s", what);
    for (double t : v) std::printf(" %.3f", t);
    std::printf("\n");
  };
  samples("rounds (a)", a);
  samples("rounds (b)", b);
  samples("rounds (c)", c);

  FreshFolder(ours, package);
  const long idle = bench::ChildPeakKiB([] {});
  const long peak = bench::ChildPeakKiB([&] { Unzip(ours); });
  if (idle < 0 || peak < 0) Die("measuring child failed");

  const double ta = bench::Median(a), tb = bench::Median(b), tc = bench::Median(c);
  const double ca = bench::Median(cpuA), cb = bench::Median(cpuB), cc = bench::Median(cpuC);
  std::printf("package            %s: %.1f MB, %.1f MB extracted, %d rounds (median)\n", package.c_str(),
              st.st_size / 1e6, extracted / 1e6, rounds);
  std::printf("                     wall s   MB/s out   cpu s\n");
  std::printf("(a) UnzipPackage   %8.3f  %8.1f  %7.3f\n", ta, extracted / 1e6 / ta, ca);
  std::printf("(b) unzip -o -q    %8.3f  %8.1f  %7.3f\n", tb, extracted / 1e6 / tb, cb);
  std::printf("(c) bare zlib loop %8.3f  %8.1f  %7.3f\n", tc, extracted / 1e6 / tc, cc);
  const double overhead = ta / tc, speedup = tb / ta;
  std::printf("UnzipPackage / bare loop  %.3f wall, %.3f cpu  (target <= 1.15: %s)\n", overhead, ca / cc,
              overhead <= 1.15 ? "met" : "MISSED");
  std::printf("unzip / UnzipPackage      %.3f wall, %.3f cpu  (target >= 1.6: %s)\n", speedup, cb / ca,
              speedup >= 1.6 ? "met" : "MISSED");
  const double memory = (peak - idle) / 1024.0;
  std::printf("peak memory above an idle child  %.2f MiB (%ld KiB vs %ld KiB; target <= 8 MiB: %s)\n", memory,
              peak, idle, memory <= 8 ? "met" : "MISSED");
  return 0;
}
