// The starts that act without the user: an up-to-date installation
// registered again, "UPDATE" and "FORCE" from the command line.

#include <shlobj.h>
#include <shobjidl.h>

#include "../standins/standin_marks.h"
#include "deploy_fixture.h"
#include "ui/main_window.h"

namespace oq::e2e {
namespace {

using RunModesE2E = DeployFixture;

const wchar_t* const kSettings[] = {
    L"UserID",  L"UserKey",    L"AutoLogin",     L"ExcelOut", L"CellFormat",    L"GrdLine",      L"Header",
    L"MainPane", L"OptionPane", L"Overlap",      L"Massive",  L"UpgradeVersion", L"LoginFormTop", L"LoginFormLeft"};

DWORD RegistrationCount() { return standin::ReadMarkDword(kRegisteredKey, L"orbitquarry64.dll.count"); }
DWORD ExcelStarts() { return standin::ReadMarkDword(standin::kMarksKey, L"ExcelStarts"); }

std::wstring DesktopShortcut() {
  wchar_t desktop[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop);
  return std::wstring(desktop) + L"\\ORBITQuarry.lnk";
}

// The target of a shell link, read back through the shell.
std::wstring LinkTarget(const std::wstring& link) {
  struct Apartment {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~Apartment() {
      if (SUCCEEDED(hr)) CoUninitialize();
    }
  } apartment;
  std::wstring target;
  IShellLinkW* shellLink = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&shellLink)))) {
    return target;
  }
  IPersistFile* file = nullptr;
  if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    wchar_t path[MAX_PATH] = {};
    if (SUCCEEDED(file->Load(link.c_str(), STGM_READ)) &&
        SUCCEEDED(shellLink->GetPath(path, MAX_PATH, nullptr, 0))) {
      target = path;
    }
    file->Release();
  }
  shellLink->Release();
  return target;
}

// Ends within the time, having shown no window at all.
void ExpectEndsWithoutAWindow(Program& program) {
  bool windowSeen = false;
  const bool ended = WaitFor(kStartTimeout, [&] {
    if (!program.TopWindows().empty()) windowSeen = true;
    return program.WaitExit(0);
  });
  EXPECT_TRUE(ended) << "the program did not end by itself";
  EXPECT_FALSE(windowSeen);
}

TEST_F(RunModesE2E, UpToDateStartRegistersAgainAndEnds) {
  InstallThroughTheWindow();
  ASSERT_FALSE(HasFailure());
  EndExcelProcesses();
  for (const wchar_t* name : kSettings) SetAddinString(name, std::wstring(L"kept ") + name);
  DeleteFileW(DesktopShortcut().c_str());
  const DWORD registrations = RegistrationCount(), starts = ExcelStarts();

  Program program(Installer());
  ExpectEndsWithoutAWindow(program);

  EXPECT_TRUE(WaitFor(10000, [&] { return RegistrationCount() == registrations + 1; }));
  EXPECT_TRUE(WaitFor(10000, [&] { return ExcelStarts() == starts + 1; }));
  for (const wchar_t* name : kSettings) EXPECT_EQ(AddinString(name), std::wstring(L"kept ") + name);
  EXPECT_EQ(AddinString(L"LibraryVersion"), FileVersionOf(folder_ + L"ORBITQuarry64.dll"));
  EXPECT_EQ(_wcsicmp(LinkTarget(DesktopShortcut()).c_str(), (folder_ + L"ORBITQuarry.exe").c_str()), 0)
      << "shortcut target: " << LinkTarget(DesktopShortcut()).size();
}

TEST_F(RunModesE2E, UpdateWaitsForExcelThenInstallsByItself) {
  InstallThroughTheWindow();
  ASSERT_FALSE(HasFailure());
  EndExcelProcesses();
  PublishVersionFile("\xEF\xBB\xBF" "1.7.19");
  ServeRelease("1.7.19");  // the signed release that version names
  SetAddinString(L"InstallDate", L"2025-01-01 00:00:00");
  Program excel(EnvPath("OQ_STANDIN_EXCEL64"));
  ASSERT_TRUE(WaitFor(10000, [] { return ExcelProcesses().size() == 1; }));

  Program program(Installer(), L"UPDATE");
  HWND box = program.WaitMessageBox(kStartTimeout);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(WindowText(box), L"Confirm");
  const std::wstring version = FileVersionOf(folder_ + L"ORBITQuarry64.dll");
  EXPECT_EQ(MessageBoxText(box),
            L"\"ORBITQuarry Excel Add-in Library의 업데이트를 위해 엑셀을 종료해야 합니다.\n"
            L"Excel 창을 모두 닫은 후 업데이트가 진행됩니다.\n업데이트를 진행하시겠습니까?\n\n"
            L"Add-In Version : " + version + L" (New Version = 1.7.19)");
  SaveScreenshot(box, "update-mode-confirm");
  // The user closes Excel, then says yes.
  EndExcelProcesses();
  Click(ButtonByText(box, L"&Yes"));
  ASSERT_TRUE(WaitFor(10000, [&] { return !IsWindow(box); }));
  Answer(program, L"정상적으로 완료되었습니다.  엑셀을 실행합니다.", L"OK");
  EXPECT_TRUE(program.WaitExit(20000));
  EXPECT_NE(AddinString(L"InstallDate"), L"2025-01-01 00:00:00");
}

TEST_F(RunModesE2E, UpdateWithNothingNewerEndsSilently) {
  InstallThroughTheWindow();
  ASSERT_FALSE(HasFailure());
  EndExcelProcesses();
  const DWORD registrations = RegistrationCount();
  const std::wstring date = AddinString(L"InstallDate");
  Program program(Installer(), L"UPDATE");
  ExpectEndsWithoutAWindow(program);
  DWORD code = 99;
  EXPECT_TRUE(program.WaitExit(0, &code));
  EXPECT_EQ(code, 0u);  // up to date
  EXPECT_EQ(AddinString(L"InstallDate"), date);
  Sleep(500);
  EXPECT_EQ(RegistrationCount(), registrations);
}

TEST_F(RunModesE2E, UpdateDeclinedWhileExcelRunsExitsWithOne) {
  InstallThroughTheWindow();
  ASSERT_FALSE(HasFailure());
  EndExcelProcesses();
  PublishVersionFile("\xEF\xBB\xBF" "1.7.19");
  Program excel(EnvPath("OQ_STANDIN_EXCEL64"));
  ASSERT_TRUE(WaitFor(10000, [] { return ExcelProcesses().size() == 1; }));

  Program program(Installer(), L"UPDATE");
  HWND box = program.WaitMessageBox(kStartTimeout);
  ASSERT_NE(box, nullptr);
  ASSERT_EQ(WindowText(box), L"Confirm");
  Click(ButtonByText(box, L"&No"));
  ASSERT_TRUE(WaitFor(10000, [&] { return !IsWindow(box); }));
  Answer(program, L"업데이트 취소로 \"ORBITQuarry Excel Add-in Library\"사용에 문제가 있을 수 있습니다.", L"OK");
  DWORD code = 99;
  ASSERT_TRUE(program.WaitExit(20000, &code));
  EXPECT_EQ(code, 1u);
}

TEST_F(RunModesE2E, ForceIntoAFolderThatCannotBeMadeExitsWithTwo) {
  const std::wstring folder = L"C:\\No Such Parent\\ORBITQuarry\\";
  SetAddinString(L"InstallPath", folder);
  Program program(Installer(), L"FORCE");
  HWND box = program.WaitMessageBox(kStartTimeout);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageBoxText(box).rfind(L"Cannot create the folder \"" + folder + L"\".", 0), 0u);
  Click(ButtonByText(box, L"OK"));
  // The error cut start-up short, so the window came on screen instead.
  HWND main = program.WaitMainWindow(10000);
  ASSERT_NE(main, nullptr);
  Click(ChildById(main, kIdClose));
  DWORD code = 99;
  ASSERT_TRUE(program.WaitExit(20000, &code));
  EXPECT_EQ(code, 2u);
}

TEST_F(RunModesE2E, ForceInstallsWithoutTheWindow) {
  // What a first install left behind, with the library gone since.
  InstallThroughTheWindow();
  ASSERT_FALSE(HasFailure());
  EndExcelProcesses();
  ASSERT_TRUE(DeleteFileW((folder_ + L"ORBITQuarry64.dll").c_str()));

  Program program(Installer(), L"FORCE");
  Answer(program, L"정상적으로 완료되었습니다.  엑셀을 실행합니다.", L"OK", "force-done");
  EXPECT_TRUE(program.WaitExit(20000));
  EXPECT_TRUE(Exists(folder_ + L"ORBITQuarry64.dll"));
  for (HWND hwnd : program.TopWindows()) EXPECT_EQ(ClassName(hwnd), L"#32770");
}

}  // namespace
}  // namespace oq::e2e
