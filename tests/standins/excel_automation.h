#pragma once
// The stand-in's "Excel.Application" automation server: just the members
// the installer calls late-bound (Application, Version, Workbooks.Close and
// Quit), served from excel.exe itself so that the process COM starts is an
// excel.exe as it is on a real machine.

#include <windows.h>

#include <string>

namespace oq::standin {

// Where /regserver writes the class. Excel registers per user, but Wine 8's
// HKEY_CLASSES_ROOT shows only the machine's classes (CLSIDFromProgID does
// not see HKCU\Software\Classes there), so the stand-in registers for the
// machine; its Wine prefix is a test's own.
inline const HKEY kClassesRoot = HKEY_LOCAL_MACHINE;
inline constexpr wchar_t kClassesKey[] = L"Software\\Classes";
inline constexpr wchar_t kProgId[] = L"Excel.Application";
inline constexpr wchar_t kClsidText[] = L"{DC156ADF-365D-4D45-A8A7-3D7F8943AB0F}";

// /regserver and /unregserver. True when every key was written (removed).
bool RegisterAutomation(const std::wstring& exePath);
bool UnregisterAutomation();

// Registers the class object and pumps messages until Quit was called, or
// the last object the clients held is gone, or no client came in time.
// COM must be initialised (single-threaded apartment) on the calling thread.
int ServeAutomation();

}  // namespace oq::standin
