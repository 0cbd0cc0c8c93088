#pragma once
// What the install-related end-to-end cases share: a 64-bit Excel stand-in
// (or a 32-bit one) known through its application path, a clean add-in record and install
// folder before and after each case, and the steps a user takes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver.h"

namespace oq::e2e {

inline constexpr DWORD kStartTimeout = 30000;
inline constexpr wchar_t kRegisteredKey[] = L"Software\\OQStandIn\\Registered";

std::vector<DWORD> ExcelProcesses();
void EndExcelProcesses();
// The fixed file version as four dotted numbers; empty without one.
std::wstring FileVersionOf(const std::wstring& path);
bool Exists(const std::wstring& path);
// A file's bytes; empty when it cannot be read.
std::string ReadAll(const std::wstring& file);
// The shell's silent recursive delete of a folder given with its backslash.
void DeleteTree(const std::wstring& folder);

// The release server's behaviours a test switches on by a file of that
// name in the served folder (tools/release_server.py), all off before and
// after every case.
inline constexpr const char* kServerBehaviours[] = {".refuse",        ".trickle",      ".stall",
                                                   ".cut",           ".no-validators", ".ignore-range",
                                                   ".redirect-http", ".cert-expired",  ".cert-wronghost",
                                                   ".cert-untrusted"};
void SetServerBehaviour(const char* control, bool on, const std::string& content = {});
// A message box of whichever program (a copy that an installer started)
// whose text begins with `textStart`; nullptr after `ms`.
HWND WaitBoxOfAnyProgram(const std::wstring& textStart, DWORD ms);
// Close on the main window, then the program's end with `expected`: 0 when
// nothing was attempted, 2 after an error box.
void CloseAndExpectExit(Program& program, HWND main, DWORD expected = 0);

class DeployFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The program started from a copy named `relative`, its window once
  // start-up has filled it in.
  HWND StartAndWait(Program& program);
  std::wstring Text(HWND main, int id) { return WindowText(ChildById(main, id)); }
  // Waits for the program's box with `text` and presses `button`.
  void Answer(Program& program, const std::wstring& text, const std::wstring& button, const char* shot = nullptr);
  // A first install through the window, up to the program's end.
  void InstallThroughTheWindow();
  // No file of the install in its folder, no record, no registration.
  void ExpectNothingInstalled();
  std::wstring Installer() { return ProgramCopy(L"deploy\\ORBITQuarrySetup.exe"); }
  // The files of a release the test bed prepared (a folder of
  // OQ_TEST_RELEASES) over the served ones; every case starts with "good",
  // the release as published. False when the test bed made none.
  bool ServeRelease(const char* name);

  // Replaces the Office the case runs with: the stand-in Excel of that
  // bitness in that Office's folder, known through its application path.
  void SetUpOffice(int bits);
  static std::wstring ExcelFolderFor(int bits);

  std::wstring folder_;       // the default install folder, with its backslash
  std::wstring excelFolder_;  // Excel's folder, with its backslash

 private:
  void Reset();
  static void RemoveAppPaths();
};

}  // namespace oq::e2e
