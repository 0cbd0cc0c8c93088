#pragma once
// The main window's banner: an 8 bpp palette bitmap that the program keeps
// deflated among its resources.

#include <windows.h>

namespace oq {

// The banner as a device-independent bitmap; nullptr when the resource is
// missing or damaged. The caller deletes it.
HBITMAP LoadBanner(HINSTANCE instance);

}  // namespace oq
