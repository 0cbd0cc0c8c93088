// Where Excel is, which Office generation it belongs to and its bitness:
// first from Windows' application path (either registry view) and Office's
// own per-user keys, and only when that yields nothing from Excel's
// automation server.

#include "seam/app_error.h"
#include "services/addin_store.h"
#include "services/join_text.h"
#include "services/process_utils.h"
#include "setup/brand.h"
#include "setup/main_form.h"

namespace oq {

namespace {

constexpr wchar_t kAppPathsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\excel.exe";
constexpr uint32_t kScs64BitBinary = 6;
constexpr wchar_t kExcelNotFound[] = L"Excel Path : 설치된 excel을 확인할 수 없습니다.";

}  // namespace

void TfmMain::DetectExcel(std::wstring& version) {
  ExcelPath.clear();
  version.clear();

  // Any error in the registry source only ends that source; what it set
  // before the error stays set.
  try {
    Trace({L"CheckKey - ", kAppPathsKey});
    auto appPath = machine_.registry.OpenKey(RegRoot::LocalMachine, kAppPathsKey, RegAccess::Read, false);
    // This program is 32-bit. A 64-bit Office writes its entry into the 64-bit
    // view, which not every Windows shares with the 32-bit one; without this
    // look there, such an Excel would be found only by starting it through
    // automation, or not at all, and would get the 32-bit package.
    if (!appPath) {
      appPath = machine_.registry.OpenKey(RegRoot::LocalMachine, kAppPathsKey, RegAccess::Read, false,
                                          RegView::Native64);
    }
    if (appPath) {
      Trace({L"OpenKey - ", kAppPathsKey});
      ExcelPath = ReadStringValue(*appPath, L"Path");
      // "Path" may list several folders; the first is Excel's own.
      const size_t semicolon = ExcelPath.find(L';');
      if (semicolon != std::wstring::npos && semicolon > 0) ExcelPath.resize(semicolon);

      if (!machine_.files.FileExists(ExcelPath + kExcelImage)) {
        view_.SetLabel(Label::ExPath, kExcelNotFound);
        return;
      }
      // "execel.exe" is how the window has always spelt it; kept as users
      // and their screenshots know it.
      view_.SetLabel(Label::ExPath, JoinText({L"Excel Path : ", ExcelPath, L"execel.exe"}));
      Trace({L"Excel Path - ", ExcelPath});

      if (ExcelPath.find(L"Office12") != std::wstring::npos) {
        version = L"Office 2007";
      } else {
        const bool office15 = ExcelPath.find(L"Office15") != std::wstring::npos;
        const std::wstring roaming = office15 ? L"Software\\Microsoft\\Office\\15.0\\Common\\Roaming\\"
                                              : L"Software\\Microsoft\\Office\\16.0\\Common\\Roaming\\";
        auto key = machine_.registry.OpenKey(RegRoot::CurrentUser, roaming, RegAccess::Read, true);
        const std::wstring build = key ? ReadStringValue(*key, L"BuildProvisioned") : std::wstring();
        // "Office 2015" for Office 15 (that is Office 2013), and "Office
        // 2016" for every later one: the texts the window has always shown.
        version = (office15 ? L"Office 2015 " : L"Office 2016 ") + build;
        Trace({L"OpenKey - ", roaming});
      }

      // Here a type that cannot be read counts as 64-bit; the automation
      // source below decides nothing in that case.
      const std::optional<uint32_t> type = machine_.shell.BinaryType(ExcelPath + kExcelImage);
      x64 = !type || *type == kScs64BitBinary;
      version += x64 ? L" - 64 bit" : L" - 32 bit";
    }
  } catch (const AppError&) {
  }
  if (!version.empty()) return;

  Trace(L"CreateOLE - Excel.Application");
  std::unique_ptr<ExcelAutomation> excel = machine_.shell.CreateExcelApplication();
  if (!excel) return;
  version = L"Office 20" + excel->ApplicationVersion();
  // The Excel process the automation started, or another one that runs.
  const std::wstring image = ProcessImagePath(machine_.processes, kExcelImage);
  const size_t slash = image.rfind(L'\\');
  ExcelPath = slash == std::wstring::npos ? std::wstring() : image.substr(0, slash + 1);
  excel->CloseWorkbooks();
  excel->Quit();
  excel.reset();
  if (const std::optional<uint32_t> type = machine_.shell.BinaryType(image)) {
    x64 = *type == kScs64BitBinary;
    version += x64 ? L" - 64 bit" : L" - 32 bit";
  }
}

void TfmMain::ShowExcelLine() {
  std::wstring version;
  DetectExcel(version);
  view_.SetLabel(Label::Ex, version.empty() ? L"Excel Version : 설치된 Excel 버전을 확인할 수 없습니다."
                                            : L"Excel Version : " + version);
}

void TfmMain::RefreshLibraryVersion(const StartupValues& v) {
  const std::wstring library = v.folder + (x64 ? kLibrary64 : kLibrary32);
  // No version (no file, or none in it) is recorded as an empty text.
  store_.WriteAddinValue(L"LibraryVersion", machine_.shell.FileVersionText(library).value_or(std::wstring()));
}

}  // namespace oq
