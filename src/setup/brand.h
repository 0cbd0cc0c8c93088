#pragma once
// The two brands one executable serves, and every text that depends on the
// brand. The brand is chosen once from the executable's own path.

#include <string>

#include "program_version.h"

namespace oq {

// True when the executable's path names Lumentrove (ASCII letter case
// ignored, folder names included); ORBITQuarry otherwise.
bool PathSelectsLumentrove(const std::wstring& executablePath);

struct BrandTexts {
  const wchar_t* word;           // "Lumentrove" / "ORBITQuarry"
  const wchar_t* caption;        // the main window's caption after start-up
  const wchar_t* title;          // lbTitle
  const wchar_t* productName;    // named in the update prompts
  const wchar_t* installerCopy;  // the installer's own copy in the install folder
  const wchar_t* libraryName64;  // "LibraryName" for a 64-bit Excel
  const wchar_t* libraryName32;  // "LibraryName" for a 32-bit Excel
};

// `lumentrove` is TfmMain's LT flag.
const BrandTexts& BrandFor(bool lumentrove);

inline const wchar_t* LibraryNameFor(bool lumentrove, bool x64) {
  const BrandTexts& b = BrandFor(lumentrove);
  return x64 ? b.libraryName64 : b.libraryName32;
}

// This program's file version, four parts: what an offered installer is
// compared with.
inline constexpr wchar_t kProgramFileVersion[] = OQ_FILE_VERSION_W;
// Texts that carry a brand word but are the same for both brands.
inline constexpr wchar_t kProgramVersion[] = OQ_PROGRAM_VERSION_W;
inline constexpr wchar_t kApplicationTitle[] = L"Excel Add-in Installer";
inline constexpr wchar_t kVersionPrefix[] = L"Add-In Version : ";  // lbXLL's text starts so
inline constexpr wchar_t kDefaultFolderSuffix[] = L"\\ORBITQuarry\\";
inline constexpr wchar_t kLibrary32[] = L"orbitquarry32.dll";
inline constexpr wchar_t kLibrary64[] = L"orbitquarry64.dll";
inline constexpr wchar_t kInstalledLibrary32[] = L"ORBITQuarry32.dll";
inline constexpr wchar_t kInstalledLibrary64[] = L"ORBITQuarry64.dll";
inline constexpr wchar_t kPackageWord32[] = L"ORBITQuarry32";
inline constexpr wchar_t kPackageWord64[] = L"ORBITQuarry64";
inline constexpr wchar_t kDesignCaption[] = L"ORBITQuarry";
inline constexpr wchar_t kDesignTitle[] = L"ORBITQuarry Excel Add-in Library";
inline constexpr wchar_t kMutexName[] = L"OQ";

}  // namespace oq
