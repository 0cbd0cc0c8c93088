#include "setup/brand.h"

namespace oq {

bool PathSelectsLumentrove(const std::wstring& executablePath) {
  std::wstring lower = executablePath;
  // Only ASCII capitals fold: the word is plain ASCII, and a locale-aware
  // fold could match letters that merely look alike.
  for (wchar_t& c : lower) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return lower.find(L"lumentrove") != std::wstring::npos;
}

const BrandTexts& BrandFor(bool lumentrove) {
  static const BrandTexts kLumentrove{
      L"Lumentrove",
      L"Lumentrove - Ver." OQ_PROGRAM_VERSION_W,
      L"Lumentrove Excel Add-in Library Setup",
      L"Lumentrove Excel Add-in Library",
      L"Lumentrove.exe",
      L"Lumentrove64",
      L"Lumentrove32",
  };
  static const BrandTexts kOrbitQuarry{
      L"ORBITQuarry",
      L"ORBITQuarry - Ver." OQ_PROGRAM_VERSION_W,
      L"ORBITQuarry Excel Add-in Library Setup",
      L"ORBITQuarry Excel Add-in Library",
      L"ORBITQuarry.exe",
      L"ORBITQuarry64",
      L"ORBITQuarry32",
  };
  return lumentrove ? kLumentrove : kOrbitQuarry;
}

}  // namespace oq
