#include <windows.h>
#include <shellapi.h>
#include <winhttp.h>

#include <cwchar>

#include "services/join_text.h"
#include "services/number_text.h"
#include "services/win32/handles.h"
#include "services/win32/message_wait.h"
#include "services/win32/win32_machine.h"
#include "setup/brand.h"

namespace oq {

namespace win {

std::wstring ErrorText(DWORD code) {
  wchar_t* text = nullptr;
  // WinHTTP's codes have their texts in winhttp.dll, not in the system table.
  const bool winhttp = code >= 12000 && code < 12200;
  const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                      (winhttp ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
  const DWORD length = FormatMessageW(flags, winhttp ? GetModuleHandleW(L"winhttp.dll") : nullptr, code, 0,
                                      reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  UniqueLocal owner(text);
  std::wstring message = length ? std::wstring(text, length) : std::wstring();
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ')) {
    message.pop_back();
  }
  if (message.empty() && winhttp) {
    // Wine's winhttp.dll carries no message table; these are the failures a
    // user can meet.
    switch (code) {
      case ERROR_WINHTTP_TIMEOUT: message = L"The operation timed out"; break;
      case ERROR_WINHTTP_NAME_NOT_RESOLVED: message = L"The server name or address could not be resolved"; break;
      case ERROR_WINHTTP_CANNOT_CONNECT: message = L"A connection with the server could not be established"; break;
      case ERROR_WINHTTP_CONNECTION_ERROR:
        message = L"The connection with the server was reset or terminated, or an incompatible SSL protocol was "
                  L"encountered";
        break;
      case ERROR_WINHTTP_SECURE_CHANNEL_ERROR: message = L"A security error occurred"; break;
      case ERROR_WINHTTP_SECURE_FAILURE:
        message = L"One or more errors were found in the Secure Sockets Layer (SSL) certificate sent by the server";
        break;
      default: break;
    }
  }
  if (message.empty()) {
    message = L"System error " + DecimalText(code);
  }
  return message;
}

}  // namespace win

std::wstring Win32Environment::ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // truncated: a long path
  }
}

std::vector<std::wstring> Win32Environment::Arguments() {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  win::UniqueLocal owner(argv);
  std::vector<std::wstring> arguments;
  for (int i = 1; argv && i < count; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

std::wstring Win32Environment::OsDescription() {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof v;
  auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  if (!rtlGetVersion || rtlGetVersion(&v) != 0) return L"Windows";

  const bool server = v.wProductType != VER_NT_WORKSTATION;
  const DWORD major = v.dwMajorVersion, minor = v.dwMinorVersion, build = v.dwBuildNumber;
  const wchar_t* name = L"Windows";
  if (major == 10) {
    name = server ? (build >= 20348 ? L"Windows Server 2022" : build >= 17763 ? L"Windows Server 2019"
                                                                              : L"Windows Server 2016")
                  : (build >= 22000 ? L"Windows 11" : L"Windows 10");
  } else if (major == 6) {
    static const wchar_t* const kWorkstation[] = {L"Windows Vista", L"Windows 7", L"Windows 8", L"Windows 8.1"};
    static const wchar_t* const kServer[] = {L"Windows Server 2008", L"Windows Server 2008 R2",
                                             L"Windows Server 2012", L"Windows Server 2012 R2"};
    if (minor <= 3) name = server ? kServer[minor] : kWorkstation[minor];
  }

  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  const bool is64 = sizeof(void*) == 8 || wow64;
  const wchar_t* edition = is64 ? L"64-bit Edition" : L"32-bit Edition";

  wchar_t displayVersion[64] = {};
  DWORD size = sizeof displayVersion - sizeof(wchar_t);
  DWORD ubr = 0, ubrSize = sizeof ubr;
  const wchar_t* kCurrent = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kCurrent, L"DisplayVersion", RRF_RT_REG_SZ, nullptr, displayVersion, &size) ==
          ERROR_SUCCESS &&
      displayVersion[0]) {
    RegGetValueW(HKEY_LOCAL_MACHINE, kCurrent, L"UBR", RRF_RT_REG_DWORD, nullptr, &ubr, &ubrSize);
    return JoinText({name, L" (Version ", displayVersion, L", OS Build ", DecimalText(build), L".", DecimalText(ubr),
                     L", ", edition, L")"});
  }
  return JoinText({name, L" (Version ", DecimalText(major), L".", DecimalText(minor), L", Build ", DecimalText(build),
                   L", ", edition, L")"});
}

LocalTime Win32Environment::Now() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

LocalTime Win32Environment::UtcNow() {
  SYSTEMTIME t{};
  GetSystemTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

std::wstring Win32Environment::TimeSeparator() {
  wchar_t separator[8] = {};
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, 8) <= 1) return L":";
  return separator;
}

// A pause on the window's thread: the window keeps answering meanwhile.
void Win32Environment::SleepMs(uint32_t milliseconds) { win::WaitHandlingMessages(nullptr, milliseconds); }

std::wstring Win32Environment::SystemErrorText(uint32_t code) { return win::ErrorText(code); }

std::wstring Win32Environment::SystemProgramFolder(bool bits64) {
  wchar_t windows[MAX_PATH] = {};
  const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  const bool process64 = sizeof(void*) == 8;
  // Sysnative is the name the file-system redirector leaves alone, and the
  // only way a 32-bit process reaches the 64-bit System32.
  const wchar_t* folder = bits64 && wow64 ? L"Sysnative" : !bits64 && process64 ? L"SysWOW64" : L"System32";
  return JoinText({std::wstring_view(windows, length), L"\\", folder});
}

std::optional<std::wstring> Win32Environment::DecodeOemText(const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return std::wstring();
  const auto* in = reinterpret_cast<const char*>(bytes.data());
  const int inLength = static_cast<int>(bytes.size());
  const int length = MultiByteToWideChar(CP_OEMCP, MB_ERR_INVALID_CHARS, in, inLength, nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring text(static_cast<size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_OEMCP, MB_ERR_INVALID_CHARS, in, inLength, text.data(), length) != length) {
    return std::nullopt;
  }
  return text;
}

bool Win32Environment::TakeInstanceGuard() {
  // Without a namespace prefix it guards the instances of one logon.
  guard_.Reset(CreateMutexW(nullptr, TRUE, kMutexName));
  if (guard_ && GetLastError() == 0) return true;
  guard_.Reset();
  return false;
}

void Win32Environment::ReleaseInstanceGuard() {
  if (guard_) ReleaseMutex(guard_.Get());
  guard_.Reset();
}

bool Win32Environment::RetakeInstanceGuard() { return TakeInstanceGuard(); }

}  // namespace oq
