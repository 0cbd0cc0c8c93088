// A stand-in program for the process and shell tests. The tests copy it under
// names such as excel.exe and start it, so it must not depend on anything
// beside itself.
//
//   exit N     ends at once with exit code N (0 to 4294967295)
//   sleep MS   sleeps MS milliseconds, then ends with code 0
//   wait       runs until it is terminated

#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "exit") == 0) {
    // strtoul, not atoi: the codes above 2^31 are what the tests are after.
    ExitProcess(static_cast<UINT>(std::strtoul(argv[2], nullptr, 10)));
  }
  if (argc == 3 && std::strcmp(argv[1], "sleep") == 0) {
    Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "wait") == 0) {
    for (;;) Sleep(INFINITE);
  }
  return 100;  // a usage mistake in a test, told apart from every code above
}
