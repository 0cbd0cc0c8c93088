#include <windows.h>
#include <tlhelp32.h>

#include "services/win32/handles.h"
#include "services/win32/win32_machine.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(PROCESSENTRY32W) == 556, "the 32-bit process record is 556 bytes");
#endif

namespace oq {

namespace {

using SnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using ProcessWalkFn = BOOL(WINAPI*)(HANDLE, LPPROCESSENTRY32W);
using ModuleFileNameFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
using ImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);

template <class Fn>
Fn Lookup(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// The tool-help functions, bound once for the run.
struct ToolHelp {
  SnapshotFn snapshot;
  ProcessWalkFn first;
  ProcessWalkFn next;
};

const ToolHelp& Bound() {
  static const ToolHelp toolHelp = [] {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return ToolHelp{Lookup<SnapshotFn>(kernel, "CreateToolhelp32Snapshot"),
                    Lookup<ProcessWalkFn>(kernel, "Process32FirstW"), Lookup<ProcessWalkFn>(kernel, "Process32NextW")};
  }();
  return toolHelp;
}

DWORD MajorVersion() {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  static const DWORD major = [] {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    auto rtlGetVersion = Lookup<RtlGetVersionFn>(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    return rtlGetVersion && rtlGetVersion(&info) == 0 ? info.dwMajorVersion : 5ul;
  }();
  return major;
}

// GetModuleFileNameExW lives in kernel32 as K32GetModuleFileNameExW from
// Windows 7 on, and in psapi.dll before.
ModuleFileNameFn ModuleFileName() {
  static const ModuleFileNameFn fn = [] {
    if (auto k32 = Lookup<ModuleFileNameFn>(GetModuleHandleW(L"kernel32.dll"), "K32GetModuleFileNameExW")) return k32;
    return Lookup<ModuleFileNameFn>(LoadLibraryW(L"psapi.dll"), "GetModuleFileNameExW");
  }();
  return fn;
}

}  // namespace

std::optional<std::vector<ProcessRecord>> Win32ProcessTable::SnapshotProcesses(bool all) {
  const ToolHelp& th = Bound();
  if (!th.snapshot || !th.first || !th.next) return std::nullopt;
  win::UniqueFile snapshot(th.snapshot(all ? TH32CS_SNAPALL : TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return std::nullopt;
  std::vector<ProcessRecord> records;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = th.first(snapshot.Get(), &entry); more; more = th.next(snapshot.Get(), &entry)) {
    entry.szExeFile[MAX_PATH - 1] = L'\0';
    records.push_back({entry.th32ProcessID, entry.szExeFile});
  }
  return records;
}

std::optional<std::wstring> Win32ProcessTable::ProcessImageFile(uint32_t pid) {
  win::UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  if (!process) return std::nullopt;
  wchar_t path[MAX_PATH] = {};
  if (ModuleFileNameFn moduleFileName = ModuleFileName();
      moduleFileName && moduleFileName(process.Get(), nullptr, path, MAX_PATH) != 0) {
    path[MAX_PATH - 1] = L'\0';
    return std::wstring(path);
  }
  // Some processes do not let their modules be read; their image name still
  // can be, from Vista on.
  if (MajorVersion() >= 6) {
    auto imageName = Lookup<ImageNameFn>(GetModuleHandleW(L"kernel32"), "QueryFullProcessImageNameW");
    DWORD size = MAX_PATH;
    if (imageName && imageName(process.Get(), 0, path, &size)) {
      path[MAX_PATH - 1] = L'\0';
      return std::wstring(path);
    }
  }
  return std::nullopt;
}

bool Win32ProcessTable::TerminateProcessById(uint32_t pid, uint32_t exitCode) {
  win::UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
  return process && TerminateProcess(process.Get(), exitCode);
}

}  // namespace oq
