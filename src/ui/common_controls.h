#pragma once
// The common controls library (the progress bar, subclassed controls),
// loaded when the window is about to be built rather than with the
// program: its start-up brings up the display driver and the theme engine,
// which would otherwise hold back the first request to the release server.

#include <windows.h>
#include <commctrl.h>

namespace oq::comctl {

// Loads the version the manifest names (6) and registers the window's
// control classes; false when the library or one of its entries is missing.
// Kept loaded for the process's life.
bool Load();

// The library's own subclassing calls; before Load they do nothing.
BOOL SetSubclass(HWND window, SUBCLASSPROC procedure, UINT_PTR id, DWORD_PTR data);
BOOL RemoveSubclass(HWND window, SUBCLASSPROC procedure, UINT_PTR id);
LRESULT DefaultSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace oq::comctl
