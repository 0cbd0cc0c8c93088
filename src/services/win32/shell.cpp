#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>

#include "seam/app_error.h"
#include "services/join_text.h"
#include "services/number_text.h"
#include "services/win32/handles.h"
#include "services/win32/message_wait.h"
#include "services/win32/win32_machine.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SHELLEXECUTEINFOW) == 60, "the 32-bit start record is 60 bytes");
static_assert(sizeof(STARTUPINFOW) == 68, "the 32-bit start-up record is 68 bytes");
#endif

namespace oq {

namespace {

std::optional<std::wstring> FolderPath(int csidl) {
  wchar_t path[MAX_PATH + 1] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return std::nullopt;
  return std::wstring(path);
}

// Excel's automation server, called late-bound through IDispatch.
class DispatchExcel final : public ExcelAutomation {
 public:
  explicit DispatchExcel(win::ComPtr<IDispatch> app) : app_(std::move(app)) {}

  std::wstring ApplicationVersion() override {
    win::ComPtr<IDispatch> owner = Object(app_.Get(), L"Application", L"Excel's Application property is not an object");
    win::UniqueVariant version;
    Invoke(owner.Get(), L"Version", DISPATCH_PROPERTYGET, version);
    if (FAILED(VariantChangeType(&version.Get(), &version.Get(), 0, VT_BSTR))) {
      throw AppError(L"Excel's Version cannot be read as text");
    }
    return std::wstring(version.Get().bstrVal, SysStringLen(version.Get().bstrVal));
  }

  void CloseWorkbooks() override {
    win::ComPtr<IDispatch> books = Object(app_.Get(), L"Workbooks", L"Excel's Workbooks property is not an object");
    win::UniqueVariant ignored;
    Invoke(books.Get(), L"Close", DISPATCH_METHOD, ignored);
  }

  void Quit() override {
    win::UniqueVariant ignored;
    Invoke(app_.Get(), L"Quit", DISPATCH_METHOD, ignored);
  }

 private:
  // A property that must hold an object; `notAnObject` is raised otherwise.
  static win::ComPtr<IDispatch> Object(IDispatch* object, const wchar_t* property, const wchar_t* notAnObject) {
    win::UniqueVariant value;
    Invoke(object, property, DISPATCH_PROPERTYGET, value);
    win::ComPtr<IDispatch> result;
    *result.Put() = value.ReleaseDispatch();  // takes the reference
    if (!result) throw AppError(notAnObject);
    return result;
  }

  static void Invoke(IDispatch* object, const wchar_t* member, WORD kind, win::UniqueVariant& result) {
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(member);
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    EXCEPINFO exception{};
    if (SUCCEEDED(hr)) {
      DISPPARAMS none{};
      hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &none, result.Put(), &exception, nullptr);
    }
    if (FAILED(hr)) {
      std::wstring message = exception.bstrDescription ? exception.bstrDescription : L"";
      SysFreeString(exception.bstrSource);
      SysFreeString(exception.bstrDescription);
      SysFreeString(exception.bstrHelpFile);
      if (message.empty()) message = win::ErrorText(static_cast<DWORD>(hr));
      throw AppError(message, static_cast<uint32_t>(hr));
    }
  }

  win::ComPtr<IDispatch> app_;
};

}  // namespace

namespace {

// ShellExecuteExW with the "runas" verb; the process handle, when it
// started, is the caller's.
bool StartElevated(const std::wstring& file, const std::wstring& parameters, win::UniqueHandle& process) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = nullptr;
  info.lpVerb = L"runas";
  info.lpFile = file.c_str();
  info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  info.nShow = SW_SHOWNORMAL;
  const bool started = ShellExecuteExW(&info) != FALSE;
  const DWORD error = GetLastError();
  process.Reset(info.hProcess);
  SetLastError(error);
  return started;
}

}  // namespace

bool Win32Shell::RunElevated(const std::wstring& file, const std::wstring& parameters) {
  win::UniqueHandle nobodyWaits;
  return StartElevated(file, parameters, nobodyWaits);
}

RunOutcome Win32Shell::RunElevatedAndWait(const std::wstring& file, const std::wstring& parameters,
                                          uint32_t timeoutMs) {
  win::UniqueHandle process;
  if (!StartElevated(file, parameters, process)) {
    const DWORD error = GetLastError();
    return {error == ERROR_CANCELLED ? RunOutcome::Kind::Refused : RunOutcome::Kind::NotStarted, error};
  }
  // Started through a running program (DDE) there is nothing to wait for,
  // and so no outcome to report as success.
  if (!process) return {RunOutcome::Kind::NotStarted, ERROR_INVALID_HANDLE};
  if (win::WaitHandlingMessages(process.Get(), timeoutMs) != win::Waited::Signalled) {
    // An elevated process may refuse this; it is then left to finish alone.
    TerminateProcess(process.Get(), ERROR_TIMEOUT);
    return {RunOutcome::Kind::TimedOut, 0};
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process.Get(), &code)) return {RunOutcome::Kind::NotStarted, GetLastError()};
  return {RunOutcome::Kind::Exited, code};
}

namespace {

// CreateProcessW, not elevated; the process, or none when it did not start.
win::UniqueHandle StartProcess(const wchar_t* program, std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION raw{};
  // CreateProcessW may write into the command line, hence the copy.
  if (!CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &raw)) {
    return win::UniqueHandle();
  }
  const win::UniqueHandle thread(raw.hThread);
  return win::UniqueHandle(raw.hProcess);
}

}  // namespace

std::vector<int32_t> Win32Shell::RunAllAndWait(const std::vector<std::wstring>& commandLines) {
  std::vector<win::UniqueHandle> processes;
  for (const std::wstring& line : commandLines) processes.push_back(StartProcess(nullptr, line));
  // One time limit for them all, not one each.
  const ULONGLONG deadline = GetTickCount64() + 10000;
  std::vector<int32_t> codes;
  for (const win::UniqueHandle& process : processes) {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    DWORD exitCode = 0;
    const bool ended = process && win::WaitHandlingMessages(process.Get(), left) == win::Waited::Signalled &&
                       GetExitCodeProcess(process.Get(), &exitCode);
    codes.push_back(ended ? static_cast<int32_t>(exitCode) : -1);  // one still running is left to run
  }
  return codes;
}

std::optional<uint32_t> Win32Shell::RunAndWaitForExit(const std::wstring& program, const std::wstring& arguments) {
  std::wstring commandLine = JoinText({L"\"", program, L"\""});
  if (!arguments.empty()) commandLine += L" " + arguments;
  const win::UniqueHandle process = StartProcess(program.c_str(), std::move(commandLine));
  DWORD exitCode = 0;
  if (!process || win::WaitHandlingMessages(process.Get(), INFINITE) != win::Waited::Signalled ||
      !GetExitCodeProcess(process.Get(), &exitCode)) {
    return std::nullopt;
  }
  return exitCode;
}

std::optional<std::wstring> Win32Shell::FileVersionText(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<uint8_t> block(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return std::nullopt;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return std::nullopt;
  }
  return JoinText({DecimalText(HIWORD(fixed->dwFileVersionMS)), L".", DecimalText(LOWORD(fixed->dwFileVersionMS)), L".",
                   DecimalText(HIWORD(fixed->dwFileVersionLS)), L".", DecimalText(LOWORD(fixed->dwFileVersionLS))});
}

std::optional<std::wstring> Win32Shell::AppDataFolder() { return FolderPath(CSIDL_APPDATA); }

std::optional<std::wstring> Win32Shell::DesktopFolder() { return FolderPath(CSIDL_DESKTOP); }

void Win32Shell::CreateDesktopShortcut(const std::wstring& target) {
  const std::wstring desktop = DesktopFolder().value_or(std::wstring());
  // Without it the link would land in the root of the current drive.
  if (desktop.empty()) return;
  win::ComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IShellLinkW,
                              link.PutVoid()))) {
    return;
  }
  win::ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.PutVoid()))) return;
  const size_t folderEnd = target.find_last_of(L"\\:");
  link->SetPath(target.c_str());
  link->SetWorkingDirectory(folderEnd == std::wstring::npos ? L"" : target.substr(0, folderEnd + 1).c_str());
  link->SetDescription(L"ORBITQuarry Excel Add-in");
  const std::wstring lnk = desktop + L"\\ORBITQuarry.lnk";
  file->Save(lnk.c_str(), FALSE);
  file->SaveCompleted(lnk.c_str());
}

std::optional<uint32_t> Win32Shell::BinaryType(const std::wstring& path) {
  DWORD type = 0;
  if (!GetBinaryTypeW(path.c_str(), &type)) return std::nullopt;
  return type;
}

std::unique_ptr<ExcelAutomation> Win32Shell::CreateExcelApplication() {
  CLSID clsid{};
  if (FAILED(CLSIDFromProgID(L"Excel.Application", &clsid))) return nullptr;
  win::ComPtr<IDispatch> app;
  // A server that is not registered or cannot start means "no Excel here".
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                              app.PutVoid()))) {
    return nullptr;
  }
  return std::make_unique<DispatchExcel>(std::move(app));
}

}  // namespace oq
