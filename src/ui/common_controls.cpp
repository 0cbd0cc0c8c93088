#include "ui/common_controls.h"

namespace oq::comctl {

namespace {

struct Entries {
  decltype(&::SetWindowSubclass) set = nullptr;
  decltype(&::RemoveWindowSubclass) remove = nullptr;
  decltype(&::DefSubclassProc) pass = nullptr;
};
Entries entries;

template <typename Function>
Function Entry(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace

bool Load() {
  const HMODULE library = LoadLibraryW(L"comctl32.dll");
  if (!library) return false;
  const auto initialise = Entry<decltype(&::InitCommonControlsEx)>(library, "InitCommonControlsEx");
  entries = {Entry<decltype(&::SetWindowSubclass)>(library, "SetWindowSubclass"),
             Entry<decltype(&::RemoveWindowSubclass)>(library, "RemoveWindowSubclass"),
             Entry<decltype(&::DefSubclassProc)>(library, "DefSubclassProc")};
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  return initialise && entries.set && entries.remove && entries.pass && initialise(&controls);
}

BOOL SetSubclass(HWND window, SUBCLASSPROC procedure, UINT_PTR id, DWORD_PTR data) {
  return entries.set ? entries.set(window, procedure, id, data) : FALSE;
}

BOOL RemoveSubclass(HWND window, SUBCLASSPROC procedure, UINT_PTR id) {
  return entries.remove ? entries.remove(window, procedure, id) : FALSE;
}

LRESULT DefaultSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return entries.pass ? entries.pass(window, message, wParam, lParam) : DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace oq::comctl
