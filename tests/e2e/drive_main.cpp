// oq_drive: waits for the installer's main window, saves a screenshot of it
// and closes it with its Close button, the way the main-job script shows the
// program on a machine without a display. With --install it clicks Install
// (or Update) instead and answers the boxes that follow with OK or Yes,
// printing each, until the installer ends.
//
//   oq_drive [--install] <installer.exe> <screenshot.png> [arguments for the installer]

#include <cstdio>
#include <cwchar>
#include <string>

#include "driver.h"
#include "ui/main_window.h"

namespace {

// The console of a Unix terminal takes UTF-8; wprintf would stop at the
// first Korean character.
void PrintLine(const std::wstring& line) {
  const std::wstring text = line + L"\n";
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

// Answers the installer's boxes until it ends; its exit code, or -1.
int AnswerUntilTheEnd(oq::e2e::Program& program) {
  using namespace oq::e2e;
  for (;;) {
    DWORD code = 0;
    if (program.WaitExit(0, &code)) return static_cast<int>(code);
    HWND box = program.WaitMessageBox(500);
    if (!box) continue;
    PrintLine(L"box \"" + WindowText(box) + L"\": " + MessageBoxText(box));
    HWND button = ButtonByText(box, L"OK");
    if (!button) button = ButtonByText(box, L"&Yes");
    if (!button) return -1;
    Click(button);
    if (!WaitFor(10000, [&] { return !IsWindow(box); })) return -1;
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  using namespace oq::e2e;
  const bool install = argc > 1 && std::wcscmp(argv[1], L"--install") == 0;
  if (install) {
    --argc;
    ++argv;
  }
  if (argc < 3) {
    std::fwprintf(stderr, L"usage: oq_drive [--install] <installer.exe> <screenshot.png> [arguments]\n");
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
  PrintLine(WindowText(main));
  PrintLine(L"  " + WindowText(ChildById(main, oq::kIdXLL)));
  PrintLine(L"  " + WindowText(ChildById(main, oq::kIdPathEdit)));
  if (install && IsWindowEnabled(ChildById(main, oq::kIdInstall))) {
    PrintLine(L"clicking " + WindowText(ChildById(main, oq::kIdInstall)));
    Click(ChildById(main, oq::kIdInstall));
    const int code = AnswerUntilTheEnd(program);
    std::printf("the installer ended with code %d\n", code);
    return saved && code == 0 ? 0 : 1;
  }
  Click(ChildById(main, oq::kIdClose));
  program.WaitExit(10000);
  return saved ? 0 : 1;
}
