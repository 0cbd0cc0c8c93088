#include "driver.h"

#include "ui/main_window.h"

#include <shlobj.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace oq::e2e {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::wstring WinePath(const std::string& unixPath) {
  std::wstring path = L"Z:";
  for (char c : unixPath) path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return path;
}

std::wstring EnvPath(const char* name) {
  const std::string value = Env(name);
  if (!value.empty() && value[0] == '/') return WinePath(value);
  return std::wstring(value.begin(), value.end());
}

std::wstring AppDataFolder() {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, path);
  return path;
}

std::wstring ProgramCopy(const std::wstring& relative) {
  const std::wstring target = WinePath(Env("OQ_ARTIFACTS")) + L"\\programs\\" + relative;
  SHCreateDirectoryExW(nullptr, target.substr(0, target.rfind(L'\\')).c_str(), nullptr);
  CopyFileW(WinePath(Env("OQ_PRODUCT_EXE")).c_str(), target.c_str(), FALSE);
  return target;
}

Program::Program(const std::wstring& exe, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_)) {
    pi_ = {};
  }
}

Program::~Program() {
  if (pi_.hProcess) {
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(pi_.hProcess, 1);
      WaitForSingleObject(pi_.hProcess, 5000);
    }
    CloseHandle(pi_.hProcess);
    CloseHandle(pi_.hThread);
  }
}

bool Program::WaitExit(DWORD ms, DWORD* exitCode) {
  if (!pi_.hProcess || WaitForSingleObject(pi_.hProcess, ms) != WAIT_OBJECT_0) return false;
  if (exitCode) GetExitCodeProcess(pi_.hProcess, exitCode);
  return true;
}

namespace {

struct TopSearch {
  DWORD pid;
  std::vector<HWND> found;
  bool hiddenToo = false;
};

BOOL CALLBACK CollectTop(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<TopSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == search->pid && (search->hiddenToo || IsWindowVisible(hwnd))) search->found.push_back(hwnd);
  return TRUE;
}

struct ChildSearch {
  int id;
  const wchar_t* text;
  HWND found;
};

BOOL CALLBACK FindChild(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<ChildSearch*>(param);
  if (search->text ? (ClassName(hwnd) == L"Button" && WindowText(hwnd) == search->text)
                   : GetDlgCtrlID(hwnd) == search->id) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

std::vector<HWND> Program::TopWindows() const {
  TopSearch search{pi_.dwProcessId, {}};
  EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND Program::MainWindowShownOrNot() const {
  TopSearch search{pi_.dwProcessId, {}, true};
  EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&search));
  for (HWND hwnd : search.found) {
    if (ClassName(hwnd) == L"ORBITQuarrySetupWindow") return hwnd;
  }
  return nullptr;
}

HWND Program::WaitMainWindow(DWORD ms) {
  HWND main = nullptr;
  WaitFor(ms, [&] {
    for (HWND hwnd : TopWindows()) {
      if (ClassName(hwnd) != L"#32770") main = hwnd;
    }
    return main != nullptr;
  });
  return main;
}

HWND Program::WaitFilledMainWindow(DWORD ms) {
  HWND main = WaitMainWindow(ms);
  if (main) WaitFor(ms, [&] { return WindowText(ChildById(main, kIdXLL)) != L"Add-In Version : "; });
  return main;
}

HWND Program::WaitMessageBox(DWORD ms) {
  HWND box = nullptr;
  WaitFor(ms, [&] {
    for (HWND hwnd : TopWindows()) {
      if (ClassName(hwnd) == L"#32770") box = hwnd;
    }
    return box != nullptr;
  });
  return box;
}

std::wstring WindowText(HWND hwnd) {
  wchar_t buffer[1024] = {};
  // WM_GETTEXT works across processes, where GetWindowTextW does not.
  SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, nullptr);
  return buffer;
}

std::wstring ClassName(HWND hwnd) {
  wchar_t buffer[256] = {};
  GetClassNameW(hwnd, buffer, 256);
  return buffer;
}

HWND ChildById(HWND parent, int id) {
  ChildSearch search{id, nullptr, nullptr};
  EnumChildWindows(parent, FindChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND ButtonByText(HWND parent, const std::wstring& text) {
  ChildSearch search{0, text.c_str(), nullptr};
  EnumChildWindows(parent, FindChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring MessageBoxText(HWND box) {
  // The message is the box's static text control 0xFFFF (65535).
  HWND text = GetDlgItem(box, 0xFFFF);
  return text ? WindowText(text) : L"";
}

void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

namespace {

void PutBigEndian(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}

void PngChunk(std::string& out, const char* type, const std::string& data) {
  PutBigEndian(out, static_cast<uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  out += body;
  PutBigEndian(out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
}

}  // namespace

bool SaveScreenshot(HWND hwnd, const std::string& name) {
  const std::string dir = Env("OQ_ARTIFACTS");
  if (dir.empty()) return false;
  const std::wstring path = WinePath(dir + "/screenshots");
  CreateDirectoryW(path.c_str(), nullptr);
  return SavePng(hwnd, path + L"\\" + std::wstring(name.begin(), name.end()) + L".png");
}

bool CaptureWindow(HWND hwnd, Image& image) {
  RECT r{};
  if (!GetWindowRect(hwnd, &r)) return false;
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, dib);
  const bool copied = BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  if (copied) {
    image.width = w;
    image.height = h;
    image.rgb.resize(static_cast<size_t>(w) * h * 3);
    const auto* px = static_cast<const uint8_t*>(bits);
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
      image.rgb[i * 3] = px[i * 4 + 2];
      image.rgb[i * 3 + 1] = px[i * 4 + 1];
      image.rgb[i * 3 + 2] = px[i * 4];
    }
  }
  SelectObject(memory, old);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return copied;
}

bool WritePng(const Image& image, const std::wstring& file) {
  const size_t row = static_cast<size_t>(image.width) * 3;
  std::string raw;
  raw.reserve(image.height * (row + 1));
  for (int y = 0; y < image.height; ++y) {
    raw.push_back(0);  // no filter
    raw.append(reinterpret_cast<const char*>(image.rgb.data() + y * row), row);
  }
  uLongf packedSize = compressBound(raw.size());
  std::string packed(packedSize, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                reinterpret_cast<const Bytef*>(raw.data()), raw.size(), 6) != Z_OK) {
    return false;
  }
  packed.resize(packedSize);
  std::string header;
  PutBigEndian(header, static_cast<uint32_t>(image.width));
  PutBigEndian(header, static_cast<uint32_t>(image.height));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
  std::string png = "\x89PNG\r\n\x1a\n";
  PngChunk(png, "IHDR", header);
  PngChunk(png, "IDAT", packed);
  PngChunk(png, "IEND", "");

  FILE* f = _wfopen(file.c_str(), L"wb");
  if (!f) return false;
  const bool ok = fwrite(png.data(), 1, png.size(), f) == png.size();
  return fclose(f) == 0 && ok;
}

bool ReadPng(const std::wstring& file, Image& image) {
  FILE* f = _wfopen(file.c_str(), L"rb");
  if (!f) return false;
  std::string png;
  char buffer[65536];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;) png.append(buffer, n);
  fclose(f);
  auto be32 = [&](size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(png[at])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(png[at + 1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(png[at + 2])) << 8 | static_cast<uint8_t>(png[at + 3]);
  };
  if (png.size() < 33 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || png.compare(12, 4, "IHDR") != 0 ||
      png.compare(24, 5, std::string("\x08\x02\x00\x00\x00", 5)) != 0) {
    return false;
  }
  image.width = static_cast<int>(be32(16));
  image.height = static_cast<int>(be32(20));
  std::string packed;
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = be32(at);
    if (at + 12 + length > png.size()) return false;
    if (png.compare(at + 4, 4, "IDAT") == 0) packed.append(png, at + 8, length);
    at += 12 + length;
  }
  const size_t row = static_cast<size_t>(image.width) * 3;
  std::string raw(image.height * (row + 1), '\0');
  uLongf rawSize = raw.size();
  if (uncompress(reinterpret_cast<Bytef*>(raw.data()), &rawSize, reinterpret_cast<const Bytef*>(packed.data()),
                 packed.size()) != Z_OK ||
      rawSize != raw.size()) {
    return false;
  }
  image.rgb.resize(image.height * row);
  for (int y = 0; y < image.height; ++y) {
    if (raw[y * (row + 1)] != 0) return false;  // a filter this reader does not undo
    std::copy_n(raw.data() + y * (row + 1) + 1, row, image.rgb.data() + y * row);
  }
  return true;
}

double DifferingShare(const Image& a, const Image& b, int tolerance) {
  if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 1.0;
  size_t differing = 0;
  for (size_t i = 0; i < a.rgb.size(); i += 3) {
    for (size_t c = 0; c < 3; ++c) {
      if (std::abs(static_cast<int>(a.rgb[i + c]) - static_cast<int>(b.rgb[i + c])) > tolerance) {
        ++differing;
        break;
      }
    }
  }
  return static_cast<double>(differing) / static_cast<double>(a.rgb.size() / 3);
}

bool SavePng(HWND hwnd, const std::wstring& file) {
  Image image;
  return CaptureWindow(hwnd, image) && WritePng(image, file);
}

void SetAddinString(const std::wstring& name, const std::wstring& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kAddinKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) == 0) {
    RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
}

std::wstring AddinString(const std::wstring& name, bool* exists) {
  wchar_t buffer[2048] = {};
  DWORD size = sizeof buffer - sizeof(wchar_t);
  const LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, kAddinKey, name.c_str(), RRF_RT_REG_SZ, nullptr, buffer, &size);
  if (exists) *exists = status == ERROR_SUCCESS;
  return status == ERROR_SUCCESS ? buffer : L"";
}

void DeleteAddinKeys() {
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Office\\Excel\\AddIns");
}

void PublishVersionFile(const std::string& bytes) {
  const std::wstring dir = WinePath(Env("OQ_TEST_WWW") + "/files/publish");
  SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr);
  FILE* f = _wfopen((dir + L"\\xlllibver.txt").c_str(), L"wb");
  if (f) {
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
}

void RemoveVersionFile() {
  DeleteFileW(WinePath(Env("OQ_TEST_WWW") + "/files/publish/xlllibver.txt").c_str());
}

}  // namespace oq::e2e
