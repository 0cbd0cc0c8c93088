#pragma once
// What an add-in library file is, read from its PE headers before it is put
// in place: a package can carry a library that Excel cannot load (the other
// build, an executable, a truncated file) and regsvr32 would only say so
// after the working library had been replaced.

#include <string>

#include "seam/machine.h"

namespace oq {

enum class LibraryImage {
  Usable,           // a DLL for this Excel's machine that exports DllRegisterServer
  NotALibrary,      // not a PE image, damaged, or an image that is no DLL
  Built32,          // an x86 DLL, and Excel is 64-bit
  Built64,          // an x64 DLL, and Excel is 32-bit
  OtherMachine,     // a DLL for neither x86 nor x64 (ARM64, ...)
  NoRegistration,   // a DLL for this Excel that does not export DllRegisterServer
};

// Reads only the headers, the section table and the export names, never the
// whole file. A file that cannot be opened counts as NotALibrary.
LibraryImage CheckLibraryImage(FileSystem& files, const std::wstring& path, bool excel64);

}  // namespace oq
