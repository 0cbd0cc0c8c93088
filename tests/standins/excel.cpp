// The stand-in excel.exe: a process that carries Excel's image name and
// does nothing until it is ended, and, when COM starts it, Excel's
// automation server. Each start is recorded under HKCU\Software\OQStandIn.

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>

#include "excel_automation.h"
#include "standin_marks.h"

namespace {

enum class Mode { Run, Embedding, Register, Unregister };

Mode ModeOf(const wchar_t* commandLine) {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(commandLine, &count);
  Mode mode = Mode::Run;
  for (int i = 1; argv && i < count; ++i) {
    const wchar_t* word = argv[i];
    if (word[0] != L'/' && word[0] != L'-') continue;
    ++word;
    if (lstrcmpiW(word, L"regserver") == 0) mode = Mode::Register;
    else if (lstrcmpiW(word, L"unregserver") == 0) mode = Mode::Unregister;
    else if (lstrcmpiW(word, L"Embedding") == 0 && mode == Mode::Run) mode = Mode::Embedding;
  }
  LocalFree(argv);
  return mode;
}

std::wstring OwnPath() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Never shown: it exists so that WM_CLOSE has somewhere to go, under the
// class name Excel's main window has.
HWND CreateHiddenMainWindow(HINSTANCE instance) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"XLMAIN";
  RegisterClassW(&wc);
  return CreateWindowExW(0, L"XLMAIN", L"Excel", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 400, 300,
                         nullptr, nullptr, instance, nullptr);
}

int RunUntilEnded() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using namespace oq::standin;
  const wchar_t* commandLine = GetCommandLineW();
  const Mode mode = ModeOf(commandLine);
  // Registering the stand-in is set-up, not Excel being started, and must
  // not show up in the start count a test looks at.
  if (mode == Mode::Register) return RegisterAutomation(OwnPath()) ? 0 : 1;
  if (mode == Mode::Unregister) return UnregisterAutomation() ? 0 : 1;

  IncrementMark(kMarksKey, L"ExcelStarts");
  SetMarkString(kMarksKey, L"ExcelCommandLine", commandLine);

  if (mode == Mode::Embedding) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    const int code = ServeAutomation();
    CoUninitialize();
    return code;
  }
  if (!CreateHiddenMainWindow(instance)) return 2;
  return RunUntilEnded();
}
