#include "services/process_utils.h"

namespace oq {

namespace {

bool SameAsciiFolded(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'a' && x <= L'z') x = static_cast<wchar_t>(x - L'a' + L'A');
    if (y >= L'a' && y <= L'z') y = static_cast<wchar_t>(y - L'a' + L'A');
    if (x != y) return false;
  }
  return true;
}

// The name, or its part after the last backslash or colon when it has a folder.
std::wstring FilePart(const std::wstring& exe) {
  const size_t at = exe.find_last_of(L"\\:");
  return at == std::wstring::npos ? exe : exe.substr(at + 1);
}

const ProcessRecord* FirstByFileName(const std::vector<ProcessRecord>& records, const std::wstring& name) {
  for (const ProcessRecord& r : records) {
    if (SameAsciiFolded(FilePart(r.exeFile), name) || SameAsciiFolded(r.exeFile, name)) return &r;
  }
  return nullptr;
}

}  // namespace

bool IsProcessRunning(ProcessTable& processes, const std::wstring& name) {
  const auto records = processes.SnapshotProcesses(false);
  return records && FirstByFileName(*records, name) != nullptr;
}

uint32_t FindProcessId(ProcessTable& processes, const std::wstring& name) {
  const auto records = processes.SnapshotProcesses(false);
  if (!records) return 0;
  const ProcessRecord* match = FirstByFileName(*records, name);
  return match ? match->pid : 0;
}

int32_t ProcessIdByExeName(ProcessTable& processes, const std::wstring& name) {
  const auto records = processes.SnapshotProcesses(true);
  if (!records) return 0;
  for (const ProcessRecord& r : *records) {
    if (SameAsciiFolded(r.exeFile, name)) return static_cast<int32_t>(r.pid);
  }
  return 0;
}

std::wstring ProcessImagePath(ProcessTable& processes, const std::wstring& name) {
  const int32_t pid = ProcessIdByExeName(processes, name);
  if (pid == 0) return {};
  return processes.ProcessImageFile(static_cast<uint32_t>(pid)).value_or(std::wstring());
}

}  // namespace oq
