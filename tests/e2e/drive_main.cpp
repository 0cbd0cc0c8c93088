// oq_drive: waits for the installer's main window, saves a screenshot of it
// and closes it with its Close button, the way the main-job script shows the
// program on a machine without a display.
//
//   oq_drive <installer.exe> <screenshot.png> [arguments for the installer]

#include <cstdio>
#include <cwchar>

#include "driver.h"
#include "ui/main_window.h"

int wmain(int argc, wchar_t** argv) {
  using namespace oq::e2e;
  if (argc < 3) {
    std::fwprintf(stderr, L"usage: oq_drive <installer.exe> <screenshot.png> [arguments]\n");
    return 2;
  }
  std::wstring arguments;
  for (int i = 3; i < argc; ++i) arguments += (i > 3 ? L" " : L"") + std::wstring(argv[i]);
  Program program(argv[1], arguments);
  if (!program.Started()) {
    std::fwprintf(stderr, L"oq_drive: cannot start %ls\n", argv[1]);
    return 1;
  }
  HWND main = program.WaitMainWindow(60000);
  if (!main) {
    DWORD code = 0;
    if (program.WaitExit(0, &code)) {
      std::fwprintf(stderr, L"oq_drive: the installer ended (code %lu) without a window\n", code);
      return 0;
    }
    std::fwprintf(stderr, L"oq_drive: no window after 60 s\n");
    return 1;
  }
  // Let start-up finish filling in the lines before the picture is taken.
  WaitFor(30000, [&] {
    RECT r{};
    GetWindowRect(main, &r);
    return r.left >= 0 && WindowText(ChildById(main, oq::kIdXLL)) != L"Add-In Version : ";
  });
  Sleep(500);
  const bool saved = SavePng(main, argv[2]);
  std::wprintf(L"%ls\n  %ls\n  %ls\n", WindowText(main).c_str(), WindowText(ChildById(main, oq::kIdXLL)).c_str(),
               WindowText(ChildById(main, oq::kIdPathEdit)).c_str());
  Click(ChildById(main, oq::kIdClose));
  program.WaitExit(10000);
  return saved ? 0 : 1;
}
