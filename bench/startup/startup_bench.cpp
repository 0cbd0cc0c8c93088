// Times the installer's start against baselines that do the least the same
// start has to do, alternating them round by round, and prints the medians
// and their ratios.
//
//   startup_bench window ROUNDS PORT BARE_GET MANIFEST INSTALLER [KEYLESS]
//     From the process's start to its main window on screen with start-up's
//     lines filled in, against the whole run of BARE_GET (one HTTPS GET of
//     the version file).
//   startup_bench uptodate ROUNDS PORT BARE_GET MANIFEST INSTALLED_COPY LIBRARY EXCEL [KEYLESS]
//     An installation that is up to date: from the start of the installed
//     copy (it registers the library again, waiting for regsvr32, starts
//     Excel and ends) until Excel runs, against BARE_GET, then
//     "regsvr32 /s LIBRARY" waited for, then EXCEL started and not waited
//     for. Every Excel is ended after its round, outside the time. LIBRARY
//     is the 64-bit one (the test bed's Office is); the baseline runs the
//     64-bit regsvr32 by its full path, as the installer does, and once more
//     by name, which from a 32-bit program starts the 32-bit regsvr32 that
//     then starts the 64-bit one.
//
// With MANIFEST (the served release.txt as a Windows path; "-" for none) the
// installer also runs with that file taken away, so the server answers 404:
// what fetching and judging the signed release at start costs. KEYLESS, an
// installer built without release keys, asks for neither the manifest nor
// its signature: what the two requests cost in all. In uptodate mode it is
// run from the install folder beside the installed copy.
// PORT is the release server's on localhost.

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "measure.h"

namespace {

bool Start(const std::wstring& commandLine, PROCESS_INFORMATION& pi) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  std::wstring line = commandLine;
  return CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != FALSE;
}

// Runs a program to its end; false unless it ended within a minute with 0.
bool RunToEnd(const std::wstring& commandLine) {
  PROCESS_INFORMATION pi{};
  if (!Start(commandLine, pi)) return false;
  DWORD code = 1;
  if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code == 0;
}

// Ends every process named excel.exe; how many there were.
int EndExcel() {
  int ended = 0;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (lstrcmpiW(entry.szExeFile, L"excel.exe") != 0) continue;
    if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
      TerminateProcess(process, 0);
      WaitForSingleObject(process, 5000);
      CloseHandle(process);
      ++ended;
    }
  }
  CloseHandle(snapshot);
  return ended;
}

struct Search {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK FindMain(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  RECT r{};
  GetWindowRect(hwnd, &r);
  // Visible and moved on screen: start-up has finished with it.
  if (pid == search->pid && IsWindowVisible(hwnd) && lstrcmpW(cls, L"#32770") != 0 && r.left >= 0) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

double TimeBare(const std::wstring& bare, const std::wstring& port) {
  const double start = bench::NowMs();
  if (!RunToEnd(Quoted(bare) + L" localhost " + port)) return -1;
  return bench::NowMs() - start;
}

// Start to the main window on screen; the window is closed afterwards.
double TimeToWindow(const std::wstring& exe) {
  PROCESS_INFORMATION pi{};
  const double start = bench::NowMs();
  if (!Start(Quoted(exe), pi)) return -1;
  Search search{pi.dwProcessId, nullptr};
  double elapsed = -1;
  for (int i = 0; i < 60000 && !search.found; ++i) {
    EnumWindows(FindMain, reinterpret_cast<LPARAM>(&search));
    if (search.found) elapsed = bench::NowMs() - start;
    else if (WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0) break;  // ended without a window
  }
  if (search.found) PostMessageW(search.found, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return elapsed;
}

// Whether a process named excel.exe runs.
bool ExcelRuns() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry)) {
    found = lstrcmpiW(entry.szExeFile, L"excel.exe") == 0;
  }
  CloseHandle(snapshot);
  return found;
}

// Start of an up-to-date run to Excel started, as the user sees it from the
// shortcut; the run must then end with 0.
double TimeToEnd(const std::wstring& exe) {
  PROCESS_INFORMATION pi{};
  const double start = bench::NowMs();
  if (!Start(Quoted(exe), pi)) return -1;
  double elapsed = -1;
  while (elapsed < 0 && WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0 && bench::NowMs() - start < 120000) {
    if (ExcelRuns()) elapsed = bench::NowMs() - start;
  }
  if (elapsed < 0 && ExcelRuns()) elapsed = bench::NowMs() - start;
  const bool ended = WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0;
  DWORD code = 1;
  if (!ended) TerminateProcess(pi.hProcess, 1);
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  const int excels = EndExcel();
  if (!ended || code != 0 || excels == 0 || elapsed < 0) {
    std::fprintf(stderr, "startup_bench: the up-to-date run %s (exit code %lu, %d Excel started)\n",
                 ended ? "ended" : "did not end within 120 s", code, excels);
    return -1;
  }
  return elapsed;
}

// The least an up-to-date start does; its parts go to `parts` (ms).
double TimeUpToDateBaseline(const std::wstring& bare, const std::wstring& port, const std::wstring& regsvr32,
                            const std::wstring& library, const std::wstring& excel,
                            std::vector<double> (&parts)[3]) {
  const double start = bench::NowMs();
  if (!RunToEnd(Quoted(bare) + L" localhost " + port)) return -1;
  const double got = bench::NowMs();
  if (!RunToEnd(regsvr32 + L" /s " + Quoted(library))) return -1;
  const double registered = bench::NowMs();
  PROCESS_INFORMATION pi{};
  if (!Start(Quoted(excel), pi)) return -1;
  const double end = bench::NowMs();
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  parts[0].push_back(got - start);
  parts[1].push_back(registered - got);
  parts[2].push_back(end - registered);
  return EndExcel() > 0 ? end - start : -1;
}

// The served manifest taken away for one run, so that it is answered 404,
// and put back.
double WithoutManifest(const std::wstring& manifest, const bench::Contender& run) {
  const std::wstring away = manifest + L".away";
  if (!MoveFileExW(manifest.c_str(), away.c_str(), MOVEFILE_REPLACE_EXISTING)) return -1;
  const double figure = run();
  if (!MoveFileExW(away.c_str(), manifest.c_str(), MOVEFILE_REPLACE_EXISTING)) return -1;
  return figure;
}

// The 64-bit regsvr32 as this program reaches it.
std::wstring Regsvr32For64Bit() {
  wchar_t windows[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(windows, MAX_PATH);
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  return Quoted(std::wstring(windows) + (wow64 ? L"\\Sysnative" : L"\\System32") + L"\\regsvr32.exe");
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void Usage() {
  std::fputs("usage: startup_bench window ROUNDS PORT BARE_GET MANIFEST INSTALLER [KEYLESS]\n"
             "       startup_bench uptodate ROUNDS PORT BARE_GET MANIFEST INSTALLED_COPY LIBRARY EXCEL [KEYLESS]\n",
             stderr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool upToDate = argc > 1 && std::wcscmp(argv[1], L"uptodate") == 0;
  if (argc < 2 || (!upToDate && std::wcscmp(argv[1], L"window") != 0) || argc < (upToDate ? 9 : 7)) {
    Usage();
    return 2;
  }
  const int rounds = std::max(1, _wtoi(argv[2]));
  const std::wstring port = argv[3], bare = argv[4], installer = argv[6];
  const std::wstring manifest = std::wcscmp(argv[5], L"-") == 0 ? L"" : argv[5];
  const std::wstring library = upToDate ? argv[7] : L"", excel = upToDate ? argv[8] : L"";
  const int keylessAt = upToDate ? 9 : 7;
  const std::wstring keyless = argc > keylessAt ? argv[keylessAt] : L"";
  // The runs with the manifest are meant to fetch it: it and its signature
  // must be there.
  if (!manifest.empty() && (!Exists(manifest) || !Exists(manifest + L".sig"))) {
    std::fputs("startup_bench: the served release has no manifest or no signature\n", stderr);
    return 1;
  }

  // The Excel an install left running would count as one a run started.
  if (upToDate) EndExcel();
  const auto timed = [&](const std::wstring& exe) { return upToDate ? TimeToEnd(exe) : TimeToWindow(exe); };
  std::vector<double> parts[3], partsByName[3];
  const std::wstring regsvr32 = Regsvr32For64Bit();
  std::vector<bench::Contender> contenders;
  std::vector<const char*> names;
  if (upToDate) {
    contenders.push_back([&] { return TimeUpToDateBaseline(bare, port, regsvr32, library, excel, parts); });
    names.push_back("baseline: bare GET, regsvr32 /s waited for, Excel started");
    contenders.push_back([&] { return timed(installer); });
    names.push_back("installed copy, start to Excel started");
  } else {
    contenders.push_back([&] { return TimeBare(bare, port); });
    names.push_back("bare HTTPS GET of the version file");
    contenders.push_back([&] { return timed(installer); });
    names.push_back("installer to its main window");
  }
  if (!manifest.empty()) {
    contenders.push_back([&] { return WithoutManifest(manifest, [&] { return timed(installer); }); });
    names.push_back("  the same, release.txt answered 404");
  }
  if (!keyless.empty()) {
    contenders.push_back([&] { return timed(keyless); });
    names.push_back("  the same built without release keys");
  }
  if (upToDate) {
    contenders.push_back([&] { return TimeUpToDateBaseline(bare, port, L"regsvr32", library, excel, partsByName); });
    names.push_back("baseline with regsvr32 by name");
  }

  // One untimed run of each: the first start of a program under Wine pays
  // for loading its DLLs from disk.
  for (size_t c = 0; c < contenders.size(); ++c) {
    if (contenders[c]() < 0) {
      std::fprintf(stderr, "startup_bench: the warm-up of \"%s\" failed\n", names[c]);
      return 1;
    }
  }
  for (std::vector<double>& part : parts) part.clear();
  for (std::vector<double>& part : partsByName) part.clear();
  std::vector<std::vector<double>> ms;
  int failedRound = 0;
  size_t failed = 0;
  if (!bench::Interleave(rounds, contenders, ms, &failedRound, &failed)) {
    std::fprintf(stderr, "startup_bench: round %d: \"%s\" failed\n", failedRound + 1, names[failed]);
    return 1;
  }

  std::vector<double> median;
  for (const std::vector<double>& figures : ms) median.push_back(bench::Median(figures));
  std::printf("%d rounds, alternating; medians\n", rounds);
  for (size_t c = 0; c < contenders.size(); ++c) {
    std::printf("%-62s %8.1f ms", names[c], median[c]);
    if (c > 0) std::printf("   ratio to baseline %.2f", median[c] / median[0]);
    std::printf("\n");
  }
  std::printf("rounds (ms):\n");
  for (size_t c = 0; c < contenders.size(); ++c) bench::PrintRounds(names[c], ms[c]);
  if (upToDate) {
    std::printf("  baseline's parts: GET %.1f ms, regsvr32 %.1f ms, starting Excel %.1f ms\n",
                bench::Median(parts[0]), bench::Median(parts[1]), bench::Median(parts[2]));
    std::printf("  with regsvr32 by name: GET %.1f ms, regsvr32 %.1f ms, starting Excel %.1f ms\n",
                bench::Median(partsByName[0]), bench::Median(partsByName[1]), bench::Median(partsByName[2]));
  }
  std::printf("ratio installer / baseline: %.2f (target at most 1.30)\n", median[1] / median[0]);
  if (upToDate) {
    std::printf("ratio installer / baseline with regsvr32 by name: %.2f\n", median[1] / median.back());
  }
  size_t at = 2;
  if (!manifest.empty()) {
    std::printf("the signed release at start against a 404 for it: %+.1f ms (%.2f)\n", median[1] - median[at],
                median[1] / median[at]);
    ++at;
  }
  if (!keyless.empty()) {
    std::printf("the manifest and signature requests in all, against a build without them: %+.1f ms (%.2f)\n",
                median[1] - median[at], median[1] / median[at]);
  }
  return 0;
}
