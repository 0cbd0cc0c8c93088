// Times the installer from its process start to its main window on screen
// with start-up's lines filled in, against the baseline program's whole run
// (one HTTPS GET of the version file), alternating the two, and prints the
// medians and their ratio.
//   startup_bench INSTALLER BARE_GET [ROUNDS [PORT]]
// PORT is the release server's on localhost (8443, the installer's default).

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
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

bool Start(const std::wstring& commandLine, PROCESS_INFORMATION& pi) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  std::wstring line = commandLine;
  return CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != FALSE;
}

double TimeBare(const std::wstring& exe, const std::wstring& port) {
  PROCESS_INFORMATION pi{};
  const double start = Now();
  if (!Start(L"\"" + exe + L"\" localhost " + port, pi)) return -1;
  WaitForSingleObject(pi.hProcess, 60000);
  const double elapsed = Now() - start;
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code == 0 ? elapsed : -1;
}

double TimeInstaller(const std::wstring& exe) {
  PROCESS_INFORMATION pi{};
  const double start = Now();
  if (!Start(L"\"" + exe + L"\"", pi)) return -1;
  Search search{pi.dwProcessId, nullptr};
  double elapsed = -1;
  for (int i = 0; i < 6000 && !search.found; ++i) {
    EnumWindows(FindMain, reinterpret_cast<LPARAM>(&search));
    if (search.found) elapsed = Now() - start;
    else Sleep(1);
  }
  if (search.found) PostMessageW(search.found, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return elapsed;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fputs("usage: startup_bench INSTALLER BARE_GET [ROUNDS [PORT]]\n", stderr);
    return 2;
  }
  const int rounds = argc > 3 ? _wtoi(argv[3]) : 7;
  const std::wstring port = argc > 4 ? argv[4] : L"8443";
  std::vector<double> installer, bare;
  // One warm-up of each: the first start of a program under Wine pays for
  // loading its DLLs from disk.
  TimeBare(argv[2], port);
  TimeInstaller(argv[1]);
  for (int i = 0; i < rounds; ++i) {
    const double b = TimeBare(argv[2], port);
    const double s = TimeInstaller(argv[1]);
    if (b < 0 || s < 0) {
      std::fprintf(stderr, "round %d failed (bare %.1f ms, installer %.1f ms)\n", i + 1, b, s);
      return 1;
    }
    bare.push_back(b);
    installer.push_back(s);
  }
  const double mb = Median(bare), ms = Median(installer);
  std::printf("bare HTTPS GET of the version file: median %.1f ms over %d runs\n", mb, rounds);
  std::printf("installer to its main window:       median %.1f ms over %d runs\n", ms, rounds);
  std::printf("ratio installer / bare GET: %.2f (target at most 1.30)\n", ms / mb);
  return 0;
}
