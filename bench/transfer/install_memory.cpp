// Measures the installer's memory over an install of a large package: its
// private bytes and working set with the main window filled in and idle,
// then, after Install is clicked, the most either reached until the box
// that says the install completed, read while the process still lives.
// Prints the idle and peak figures and their difference.
//
//   install_memory INSTALLER
//
// The peak private bytes are taken two ways: the process's own peak counter
// (PeakPagefileUsage), and the largest of the current figure sampled every
// few milliseconds. Wine reports the current figure as the peak; the
// sampled one is what is left there.

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "driver.h"
#include "ui/main_window.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
const wchar_t kDoneText[] = L"정상적으로 완료되었습니다.  엑셀을 실행합니다.";

bool Read(HANDLE process, PROCESS_MEMORY_COUNTERS& counters) {
  counters = {};
  counters.cb = sizeof counters;
  return GetProcessMemoryInfo(process, &counters, sizeof counters) != FALSE;
}

HWND BoxOf(oq::e2e::Program& program) {
  for (HWND hwnd : program.TopWindows()) {
    if (oq::e2e::ClassName(hwnd) == L"#32770") return hwnd;
  }
  return nullptr;
}

void PrintWide(const wchar_t* label, const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes.data(), size, nullptr, nullptr);
  std::fprintf(stderr, "install_memory: %ls: %s\n", label, bytes.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  using namespace oq::e2e;
  if (argc < 2) {
    std::fputs("usage: install_memory INSTALLER\n", stderr);
    return 2;
  }
  Program program(argv[1]);
  if (!program.Started()) {
    std::fputs("install_memory: cannot start the installer\n", stderr);
    return 1;
  }
  const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, program.Pid());
  HWND main = program.WaitFilledMainWindow(60000);
  if (!process || !main) {
    std::fputs("install_memory: no filled main window within 60 s\n", stderr);
    return 1;
  }
  HWND install = ChildById(main, oq::kIdInstall);
  if (!WaitFor(30000, [&] {
        RECT r{};
        GetWindowRect(main, &r);
        return r.left >= 0 && IsWindowEnabled(install);
      })) {
    std::fputs("install_memory: the window never came on screen with Install enabled\n", stderr);
    return 1;
  }
  // Idle: start-up's requests answered, nothing under way.
  Sleep(2000);
  PROCESS_MEMORY_COUNTERS idle;
  if (!Read(process, idle)) {
    std::fprintf(stderr, "install_memory: GetProcessMemoryInfo failed (%lu)\n", GetLastError());
    return 1;
  }

  Click(install);
  SIZE_T sampledPrivate = idle.PagefileUsage, sampledWorkingSet = idle.WorkingSetSize;
  int samples = 0;
  HWND box = nullptr;
  PROCESS_MEMORY_COUNTERS last{};
  const DWORD start = GetTickCount();
  for (int i = 0; !box; ++i) {
    if (!Read(process, last)) {
      std::fputs("install_memory: the installer ended before its box\n", stderr);
      return 1;
    }
    ++samples;
    sampledPrivate = std::max(sampledPrivate, last.PagefileUsage);
    sampledWorkingSet = std::max(sampledWorkingSet, last.WorkingSetSize);
    // Looking for the box costs more than a sample: every 20th.
    if (i % 20 == 0) box = BoxOf(program);
    if (GetTickCount() - start > 600000) {
      std::fputs("install_memory: no box within 10 minutes of Install\n", stderr);
      return 1;
    }
    Sleep(5);
  }
  const double seconds = (GetTickCount() - start) / 1000.0;
  // The peaks, read while the process still lives.
  PROCESS_MEMORY_COUNTERS peak;
  Read(process, peak);
  WaitFor(5000, [&] { return !MessageBoxText(box).empty(); });
  const std::wstring text = MessageBoxText(box);
  if (text != kDoneText) {
    PrintWide(L"the install ended in another box", text);
    return 1;
  }
  Click(ButtonByText(box, L"OK"));
  DWORD code = 1;
  if (!program.WaitExit(60000, &code) || code != 0) {
    std::fprintf(stderr, "install_memory: the installer did not end with 0 after the box (%lu)\n", code);
    return 1;
  }
  CloseHandle(process);

  // A reported peak counts for the install only when it rose past the one
  // read at idle: start-up may have set it, before the click.
  const auto installPeak = [](SIZE_T reportedIdle, SIZE_T reported, SIZE_T sampled) {
    return reported > reportedIdle ? std::max(reported, sampled) : sampled;
  };
  const SIZE_T peakPrivate = installPeak(idle.PeakPagefileUsage, peak.PeakPagefileUsage, sampledPrivate);
  const SIZE_T peakWorkingSet = installPeak(idle.PeakWorkingSetSize, peak.PeakWorkingSetSize, sampledWorkingSet);
  std::printf("install: %.1f s from the click to the box, %d samples of the counters\n", seconds, samples);
  std::printf("private bytes  idle %7.2f MiB  install peak %7.2f MiB  (reported peak %.2f at idle, %.2f at the box;"
              " sampled max %.2f; at the box %.2f)\n",
              idle.PagefileUsage / kMiB, peakPrivate / kMiB, idle.PeakPagefileUsage / kMiB,
              peak.PeakPagefileUsage / kMiB, sampledPrivate / kMiB, peak.PagefileUsage / kMiB);
  std::printf("working set    idle %7.2f MiB  install peak %7.2f MiB  (reported peak %.2f at idle, %.2f at the box;"
              " sampled max %.2f; at the box %.2f)\n",
              idle.WorkingSetSize / kMiB, peakWorkingSet / kMiB, idle.PeakWorkingSetSize / kMiB,
              peak.PeakWorkingSetSize / kMiB, sampledWorkingSet / kMiB, peak.WorkingSetSize / kMiB);
  if (peak.PeakPagefileUsage == peak.PagefileUsage && idle.PeakPagefileUsage == idle.PagefileUsage) {
    std::printf("(the reported peak private bytes equal the current figure at both reads: no peak is kept here,\n"
                " so the sampled maximum is what the peak rests on)\n");
  }
  const double privateGrowth = (static_cast<double>(peakPrivate) - idle.PagefileUsage) / kMiB;
  const double workingSetGrowth = (static_cast<double>(peakWorkingSet) - idle.WorkingSetSize) / kMiB;
  std::printf("difference peak - idle: private bytes %.2f MiB, working set %.2f MiB (target within 8 MiB: %s)\n",
              privateGrowth, workingSetGrowth, privateGrowth <= 8 && workingSetGrowth <= 8 ? "met" : "MISSED");
  return 0;
}
