#pragma once
// Drives the real installer the way a person would: starts it, finds its
// windows, reads their texts, clicks their buttons, answers its message boxes
// and takes screenshots. Runs inside the same Wine prefix as the program.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace oq::e2e {

// A Unix path from the environment as a Wine path (drive Z: is "/").
std::wstring WinePath(const std::string& unixPath);
// An environment variable; empty when unset.
std::string Env(const char* name);
// A path named by the environment as a Windows path: Unix paths are mapped
// through drive Z:, Windows paths are taken as they are.
std::wstring EnvPath(const char* name);

// The user's application-data folder, without a trailing backslash.
std::wstring AppDataFolder();
// A fresh copy of the installer under test (OQ_PRODUCT_EXE) at `relative`
// below the artefacts folder, so that each case can pick its brand by path.
std::wstring ProgramCopy(const std::wstring& relative);

// A started program. Ended at destruction if it still runs.
class Program {
 public:
  Program(const std::wstring& exe, const std::wstring& arguments = L"");
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool Started() const { return pi_.hProcess != nullptr; }
  DWORD Pid() const { return pi_.dwProcessId; }
  // True with the exit code when the program ended within `ms`.
  bool WaitExit(DWORD ms, DWORD* exitCode = nullptr);
  // The program's main window once it is visible, or nullptr after `ms`.
  HWND WaitMainWindow(DWORD ms);
  // The main window once start-up has filled it in (its add-in line is the
  // one start-up always writes), waiting up to `ms` for each of the two;
  // nullptr when no window came.
  HWND WaitFilledMainWindow(DWORD ms);
  // A message box of the program, or nullptr after `ms`.
  HWND WaitMessageBox(DWORD ms);
  // The main window whether shown or not (the run modes work before it is
  // shown); nullptr when there is none.
  HWND MainWindowShownOrNot() const;
  // Every visible top-level window the program has.
  std::vector<HWND> TopWindows() const;

 private:
  PROCESS_INFORMATION pi_{};
};

std::wstring WindowText(HWND hwnd);
std::wstring ClassName(HWND hwnd);
// A descendant window by its control ID; nullptr when there is none.
HWND ChildById(HWND parent, int id);
// A descendant button by its text ("&Yes", "OK"); nullptr when there is none.
HWND ButtonByText(HWND parent, const std::wstring& text);
// The message text of a message box.
std::wstring MessageBoxText(HWND box);
// Presses a button as a click would.
void Click(HWND button);
// Polls `condition` every 50 ms for at most `ms`.
template <class Condition>
bool WaitFor(DWORD ms, Condition condition) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start > ms) return false;
    Sleep(50);
  }
}

// What the screen shows of a window, 8-bit RGB, rows top to bottom.
struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};
bool CaptureWindow(HWND hwnd, Image& image);
bool WritePng(const Image& image, const std::wstring& file);
// Reads back the PNG files WritePng makes (8-bit RGB, no row filters);
// false for anything else.
bool ReadPng(const std::wstring& file, Image& image);
// The share of pixels of two images of the same size where a channel
// differs by more than `tolerance`; 1 when the sizes differ.
double DifferingShare(const Image& a, const Image& b, int tolerance);

// Saves what the screen shows of the window as a PNG into the artefacts
// folder (OQ_ARTIFACTS) under `name`.png. False when it could not.
bool SaveScreenshot(HWND hwnd, const std::string& name);
// The same into any file.
bool SavePng(HWND hwnd, const std::wstring& file);

// The per-user add-in key, through HKEY_CURRENT_USER (the same key as
// HKEY_USERS\<SID> for the user the tests run as).
inline constexpr wchar_t kAddinKey[] = L"Software\\Microsoft\\Office\\Excel\\AddIns\\ORBITQuarry.XLL";
void SetAddinString(const std::wstring& name, const std::wstring& value);
std::wstring AddinString(const std::wstring& name, bool* exists = nullptr);
void DeleteAddinKeys();

// Files of the bundled release server's folder (OQ_TEST_WWW).
void PublishVersionFile(const std::string& bytes);
void RemoveVersionFile();

}  // namespace oq::e2e
