#pragma once
// What the benchmarks measure with: medians of rounds run in turn with a
// baseline, a clock; on the build host also the peak memory of a piece of
// work run in a child process of its own. The host benchmarks and the
// Windows ones run under Wine share it.

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <vector>

namespace bench {

inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Every figure of a contender in the order taken, for a look at the spread.
inline void PrintRounds(const char* name, const std::vector<double>& figures, const char* format = " %.1f") {
  std::printf("  %s:", name);
  for (double figure : figures) std::printf(format, figure);
  std::printf("\n");
}

// One measurement of a contender: its figure (a time, usually), or a
// negative number when the run failed.
using Contender = std::function<double()>;

// `rounds` rounds of every contender, each round starting one further along
// the list, so that none always runs first or always right after the same
// other one. results[c] holds contender c's figures in the order they were
// taken. Stops at the first failure: false, with the round (from 0) and the
// contender that failed.
inline bool Interleave(int rounds, const std::vector<Contender>& contenders, std::vector<std::vector<double>>& results,
                       int* failedRound = nullptr, size_t* failedContender = nullptr) {
  results.assign(contenders.size(), {});
  for (int round = 0; round < rounds; ++round) {
    for (size_t k = 0; k < contenders.size(); ++k) {
      const size_t c = (static_cast<size_t>(round) + k) % contenders.size();
      const double figure = contenders[c]();
      if (figure < 0) {
        if (failedRound) *failedRound = round;
        if (failedContender) *failedContender = c;
        return false;
      }
      results[c].push_back(figure);
    }
  }
  return true;
}

#ifdef _WIN32

// Milliseconds on the performance counter, from an arbitrary start.
inline double NowMs() {
  static const double perMs = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / perMs;
}

#else

// Peak resident set, in KiB, of a child that runs `work`; -1 when the child
// could not be run or did not end well.
inline long ChildPeakKiB(const std::function<void()>& work) {
  const pid_t pid = fork();
  if (pid == 0) {
    work();
    _exit(0);
  }
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return -1;
  }
  return usage.ru_maxrss;
}

#endif

}  // namespace bench
