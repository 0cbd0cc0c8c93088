// The Win32 registry, files, processes, shell and environment classes against
// Wine, in throw-away keys and folders. Wine's answers are the oracle.

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <psapi.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwctype>

#include "../native/zip_writer.h"
#include "deploy/unzip_package.h"
#include "driver.h"
#include "services/win32/handles.h"
#include "services/win32/win32_machine.h"

namespace oq {
namespace {

std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

std::wstring OwnExePath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::wstring UniqueSuffix() {
  wchar_t text[40];
  swprintf(text, 40, L"%lu-%lu", GetCurrentProcessId(), GetTickCount());
  return text;
}

RegValue Sz(const std::wstring& text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.c_str());
  return {kRegSz, std::vector<uint8_t>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

// ---------------------------------------------------------------- registry

class RegistryOnScratchKey : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch = L"Software\\OQTests\\" + UniqueSuffix();
    RegDeleteTreeW(HKEY_CURRENT_USER, scratch.c_str());
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, scratch.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\OQTests");  // only when empty
  }
  bool Exists(const std::wstring& path) {
    win::UniqueKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
  }

  Win32Registry registry;
  std::wstring scratch;
};

TEST_F(RegistryOnScratchKey, CreateMakesMissingParentsAndOpenWithoutCreateDoesNot) {
  const std::wstring deep = scratch + L"\\a\\b\\c";
  EXPECT_EQ(registry.OpenKey(RegRoot::CurrentUser, deep, RegAccess::Write, false), nullptr);
  EXPECT_FALSE(Exists(deep));
  EXPECT_NE(registry.OpenKey(RegRoot::CurrentUser, deep, RegAccess::Write, true), nullptr);
  EXPECT_TRUE(Exists(deep));
}

TEST_F(RegistryOnScratchKey, StringAndDwordValuesRoundTripAsStored) {
  auto key = registry.OpenKey(RegRoot::CurrentUser, scratch, RegAccess::Write, true);
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(key->SetValue(L"Text", Sz(L"C:\\Folder\\")));
  ASSERT_TRUE(key->SetValue(L"Number", RegValue{kRegDword, {3, 0, 0, 0}}));
  key.reset();

  auto reader = registry.OpenKey(RegRoot::CurrentUser, scratch, RegAccess::Read, false);
  ASSERT_NE(reader, nullptr);
  const auto text = reader->QueryValue(L"Text");
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(text->type, static_cast<uint32_t>(REG_SZ));
  EXPECT_EQ(text->data, Sz(L"C:\\Folder\\").data);
  const auto number = reader->QueryValue(L"Number");
  ASSERT_TRUE(number.has_value());
  EXPECT_EQ(number->type, static_cast<uint32_t>(REG_DWORD));
  EXPECT_EQ(number->data, (std::vector<uint8_t>{3, 0, 0, 0}));
  EXPECT_FALSE(reader->QueryValue(L"Missing").has_value());
}

TEST_F(RegistryOnScratchKey, EmptyStringValueHoldsItsTerminatorOnly) {
  auto key = registry.OpenKey(RegRoot::CurrentUser, scratch, RegAccess::Write, true);
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(key->SetValue(L"Empty", Sz(L"")));
  auto reader = registry.OpenKey(RegRoot::CurrentUser, scratch, RegAccess::Read, false);
  ASSERT_NE(reader, nullptr);
  const auto value = reader->QueryValue(L"Empty");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->data.size(), sizeof(wchar_t));
}

TEST_F(RegistryOnScratchKey, TrailingBackslashNamesTheSameKey) {
  auto key = registry.OpenKey(RegRoot::CurrentUser, scratch + L"\\Leaf\\", RegAccess::Write, true);
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(key->SetValue(L"V", Sz(L"x")));
  EXPECT_TRUE(Exists(scratch + L"\\Leaf"));
  auto again = registry.OpenKey(RegRoot::CurrentUser, scratch + L"\\Leaf", RegAccess::Read, false);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->QueryValue(L"V").has_value());
}

TEST_F(RegistryOnScratchKey, KeyOpenedForReadingRefusesWrites) {
  ASSERT_NE(registry.OpenKey(RegRoot::CurrentUser, scratch, RegAccess::Write, true), nullptr);
  auto reader = registry.OpenKey(RegRoot::CurrentUser, scratch, RegAccess::Read, false);
  ASSERT_NE(reader, nullptr);
  EXPECT_FALSE(reader->SetValue(L"V", Sz(L"x")));
  EXPECT_FALSE(reader->QueryValue(L"V").has_value());
}

TEST_F(RegistryOnScratchKey, DeleteSubKeyRemovesLeavesOnly) {
  ASSERT_NE(registry.OpenKey(RegRoot::CurrentUser, scratch + L"\\Parent\\Child", RegAccess::Write, true), nullptr);
  auto root = registry.OpenKey(RegRoot::CurrentUser, scratch, RegAccess::Write, false);
  ASSERT_NE(root, nullptr);
  EXPECT_FALSE(root->DeleteSubKey(L"Parent"));
  EXPECT_TRUE(Exists(scratch + L"\\Parent\\Child"));

  auto parent = registry.OpenKey(RegRoot::CurrentUser, scratch + L"\\Parent", RegAccess::Write, false);
  ASSERT_NE(parent, nullptr);
  EXPECT_TRUE(parent->DeleteSubKey(L"Child"));
  EXPECT_FALSE(parent->DeleteSubKey(L"Child"));  // already gone
  parent.reset();
  EXPECT_TRUE(root->DeleteSubKey(L"Parent"));
  EXPECT_FALSE(Exists(scratch + L"\\Parent"));
}

TEST_F(RegistryOnScratchKey, UsersHiveOfTheSidIsTheCurrentUser) {
  Win32Environment env;
  const std::wstring sid = env.CurrentUserSid().value_or(L"");
  ASSERT_FALSE(sid.empty());
  auto key = registry.OpenKey(RegRoot::Users, sid + L"\\" + scratch, RegAccess::Write, true);
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(key->SetValue(L"Through", Sz(L"users")));
  auto seen = registry.OpenKey(RegRoot::CurrentUser, scratch, RegAccess::Read, false);
  ASSERT_NE(seen, nullptr);
  const auto value = seen->QueryValue(L"Through");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->data, Sz(L"users").data);
}

// ---------------------------------------------------------------- files

class FilesInTempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    dir = std::wstring(temp) + L"oqtest-" + UniqueSuffix();
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
  }
  void TearDown() override { files.DeleteFolderTree(dir); }
  void Put(const std::wstring& name, const char* content) {
    uint32_t error = 0;
    auto writer = files.CreateWrite(dir + L"\\" + name, error);
    ASSERT_NE(writer, nullptr) << error;
    ASSERT_TRUE(writer->Write(content, std::strlen(content)));
    ASSERT_TRUE(writer->Finish());
  }
  std::string Content(const std::wstring& name) {
    uint32_t error = 0;
    auto reader = files.OpenRead(dir + L"\\" + name, error);
    if (!reader) return "<" + std::to_string(error) + ">";
    std::string text(reader->Size(), '\0');
    if (!reader->ReadAt(0, text.data(), text.size())) return "<read>";
    return text;
  }

  Win32FileSystem files;
  std::wstring dir;
};

TEST_F(FilesInTempFolder, ListingShowsDotEntriesHiddenFilesAndFolders) {
  Put(L"visible.txt", "v");
  Put(L"hidden.txt", "h");
  ASSERT_TRUE(SetFileAttributesW((dir + L"\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  ASSERT_EQ(files.MakeDirectory(dir + L"\\sub"), 0u);

  // A doubled backslash, as the uninstall's pattern has, reads as one.
  const auto entries = files.ListDirectory(dir + L"\\\\*");
  auto find = [&](const wchar_t* name) {
    return std::find_if(entries.begin(), entries.end(), [&](const DirEntry& e) { return e.name == name; });
  };
  ASSERT_NE(find(L"."), entries.end());
  ASSERT_NE(find(L".."), entries.end());
  ASSERT_NE(find(L"hidden.txt"), entries.end());
  ASSERT_NE(find(L"visible.txt"), entries.end());
  ASSERT_NE(find(L"sub"), entries.end());
  EXPECT_TRUE(find(L"sub")->directory);
  EXPECT_FALSE(find(L"hidden.txt")->directory);
  EXPECT_EQ(entries.size(), 5u);
  EXPECT_TRUE(files.ListDirectory(dir + L"\\nothing-here\\*").empty());
}

TEST_F(FilesInTempFolder, MakeDirectoryReportsTheSystemCode) {
  EXPECT_EQ(files.MakeDirectory(dir + L"\\missing\\child"), static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
  ASSERT_EQ(files.MakeDirectory(dir + L"\\once"), 0u);
  EXPECT_EQ(files.MakeDirectory(dir + L"\\once"), static_cast<uint32_t>(ERROR_ALREADY_EXISTS));
}

TEST_F(FilesInTempFolder, ExistenceTellsFilesFromFoldersWhateverTheCase) {
  Put(L"Library64.DLL", "x");
  EXPECT_TRUE(files.FileExists(dir + L"\\library64.dll"));
  EXPECT_FALSE(files.DirectoryExists(dir + L"\\library64.dll"));
  EXPECT_FALSE(files.FileExists(dir));
  EXPECT_TRUE(files.DirectoryExists(dir));
  EXPECT_FALSE(files.FileExists(dir + L"\\other.dll"));
}

TEST_F(FilesInTempFolder, ReplaceOverwritesButKeepsTargetWhenSourceIsMissing) {
  Put(L"target", "old");
  EXPECT_FALSE(files.ReplaceFileWith(dir + L"\\absent", dir + L"\\target"));
  EXPECT_EQ(Content(L"target"), "old");
  Put(L"source", "new");
  EXPECT_FALSE(files.RenameFile(dir + L"\\source", dir + L"\\target"));  // target exists
  EXPECT_TRUE(files.ReplaceFileWith(dir + L"\\source", dir + L"\\target"));
  EXPECT_EQ(Content(L"target"), "new");
  EXPECT_FALSE(files.FileExists(dir + L"\\source"));
}

TEST_F(FilesInTempFolder, CopyHonoursFailIfExists) {
  Put(L"a", "first");
  Put(L"b", "second");
  EXPECT_FALSE(files.CopyFileTo(dir + L"\\a", dir + L"\\b", true));
  EXPECT_EQ(Content(L"b"), "second");
  EXPECT_TRUE(files.CopyFileTo(dir + L"\\a", dir + L"\\b", false));
  EXPECT_EQ(Content(L"b"), "first");
}

TEST_F(FilesInTempFolder, RemoveEmptyDirectoryLeavesAFolderThatHoldsSomething) {
  ASSERT_EQ(files.MakeDirectory(dir + L"\\full"), 0u);
  Put(L"full\\f", "x");
  EXPECT_FALSE(files.RemoveEmptyDirectory(dir + L"\\full"));
  EXPECT_TRUE(files.RemoveFile(dir + L"\\full\\f"));
  EXPECT_TRUE(files.RemoveEmptyDirectory(dir + L"\\full"));
  EXPECT_FALSE(files.DirectoryExists(dir + L"\\full"));
}

TEST_F(FilesInTempFolder, DeleteFolderTreeRemovesNestedContent) {
  ASSERT_EQ(files.MakeDirectory(dir + L"\\tree"), 0u);
  ASSERT_EQ(files.MakeDirectory(dir + L"\\tree\\inner"), 0u);
  Put(L"tree\\top.bin", "1");
  Put(L"tree\\inner\\deep.bin", "2");
  ASSERT_TRUE(SetFileAttributesW((dir + L"\\tree\\inner\\deep.bin").c_str(), FILE_ATTRIBUTE_READONLY));
  files.DeleteFolderTree(dir + L"\\tree");
  EXPECT_FALSE(files.DirectoryExists(dir + L"\\tree"));
  EXPECT_TRUE(files.DirectoryExists(dir));  // only the named folder goes
}

TEST_F(FilesInTempFolder, ReaderReadsAtOffsetsAndRefusesPastTheEnd) {
  Put(L"data", "0123456789");
  uint32_t error = 0;
  auto reader = files.OpenRead(dir + L"\\data", error);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->Size(), 10u);
  char part[4] = {};
  ASSERT_TRUE(reader->ReadAt(6, part, 4));
  EXPECT_EQ(std::string(part, 4), "6789");
  EXPECT_FALSE(reader->ReadAt(8, part, 4));
  EXPECT_EQ(files.OpenRead(dir + L"\\absent", error), nullptr);
  EXPECT_EQ(error, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesInTempFolder, WriterReplacesAnExistingFile) {
  Put(L"out", "a much longer first content");
  Put(L"out", "short");
  EXPECT_EQ(Content(L"out"), "short");
  uint32_t error = 0;
  EXPECT_EQ(files.CreateWrite(dir + L"\\no-such-folder\\out", error), nullptr);
  EXPECT_EQ(error, static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
}

// A package made on Korean Windows names its entries in code page 949
// without the UTF-8 flag. Under a Korean locale (scripts/test.sh runs this
// with LANG=ko_KR.UTF-8 and OQ_KOREAN_LOCALE=1) they land as Hangul; on a
// Western machine the same bytes read as code page 437.
TEST_F(FilesInTempFolder, EntryNamesWithoutTheUtf8FlagLandInTheOemCodePage) {
  const UINT oem = GetOEMCP();
  if (!e2e::Env("OQ_KOREAN_LOCALE").empty()) {
    ASSERT_EQ(oem, 949u) << "Wine did not take the Korean locale";
  }
  if (oem != 949 && oem != 437) GTEST_SKIP() << "OEM code page " << oem;
  const std::string package = test::MakeStoredZip(
      {{"\xC7\xD1\xB1\xDB.txt", "hangul"}, {"\xB9\xAE\xBC\xAD/\xBA\xB8\xB0\xED\xBC\xAD.txt", "report"}});
  {
    uint32_t error = 0;
    auto writer = files.CreateWrite(dir + L"\\pkg.zip", error);
    ASSERT_NE(writer, nullptr) << error;
    ASSERT_TRUE(writer->Write(package.data(), package.size()) && writer->Finish());
  }
  Win32Environment env;
  UnzipPackage(files, dir + L"\\", L"pkg.zip",
               [&](const std::vector<uint8_t>& name) { return env.DecodeOemText(name); });
  if (oem == 949) {
    EXPECT_EQ(Content(L"한글.txt"), "hangul");
    EXPECT_EQ(Content(L"문서\\보고서.txt"), "report");
  } else {
    EXPECT_EQ(Content(L"╟╤▒█.txt"), "hangul");
    EXPECT_EQ(Content(L"╣«╝¡\\║╕░φ╝¡.txt"), "report");
  }
  // Bytes that are no text in code page 949 (a lead byte before a dot).
  if (oem == 949) {
    EXPECT_FALSE(env.DecodeOemText({0x81, '.', 't'}).has_value());
  }
}

// ---------------------------------------------------------------- processes

TEST(ProcessTableTest, SnapshotListsThisProgram) {
  Win32ProcessTable table;
  const std::wstring exe = OwnExePath();
  const std::wstring name = Lower(exe.substr(exe.find_last_of(L"\\/") + 1));
  for (bool all : {false, true}) {
    const auto records = table.SnapshotProcesses(all);
    ASSERT_TRUE(records.has_value());
    const auto self = std::find_if(records->begin(), records->end(), [](const ProcessRecord& r) {
      return r.pid == GetCurrentProcessId();
    });
    ASSERT_NE(self, records->end()) << "all=" << all;
    EXPECT_EQ(Lower(self->exeFile), name);
  }
}

TEST(ProcessTableTest, ImageFileOfThisProcessIsItsModulePath) {
  Win32ProcessTable table;
  EXPECT_EQ(Lower(table.ProcessImageFile(GetCurrentProcessId()).value_or(L"")), Lower(OwnExePath()));
  EXPECT_EQ(table.ProcessImageFile(0), std::nullopt);
}

TEST(ProcessTableTest, RepeatedSnapshotsLeaveNoHandlesBehind) {
  Win32ProcessTable table;
  table.SnapshotProcesses(true);  // the first use binds the functions
  table.ProcessImageFile(GetCurrentProcessId());
  DWORD before = 0, after = 0;
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(table.SnapshotProcesses(i % 2 == 0).has_value());
    table.ProcessImageFile(GetCurrentProcessId());
  }
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
  EXPECT_LE(after, before + 2);
}

TEST(ProcessTableTest, TerminateEndsAChildWithTheGivenCode) {
  wchar_t command[] = L"cmd /c ping -n 30 127.0.0.1";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi));
  win::ProcessInformation child{win::UniqueHandle(pi.hProcess), win::UniqueHandle(pi.hThread)};
  Win32ProcessTable table;
  ASSERT_TRUE(table.TerminateProcessById(pi.dwProcessId, 7));
  ASSERT_EQ(WaitForSingleObject(child.process.Get(), 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(child.process.Get(), &code));
  EXPECT_EQ(code, 7u);
  EXPECT_FALSE(table.TerminateProcessById(0, 1));
}

// ---------------------------------------------------------------- shell

class ShellWithCom : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(com.Ok()); }
  win::ComApartment com;
  Win32Shell shell;
};

TEST_F(ShellWithCom, RunAndWaitGivesTheExitCodeAsSigned) {
  EXPECT_EQ(shell.RunAndWait(L"cmd /c exit 3"), 3);
  EXPECT_EQ(shell.RunAndWait(L"cmd /c exit 0"), 0);
  EXPECT_EQ(shell.RunAndWait(L"cmd /c exit -1"), -1);
  EXPECT_EQ(shell.RunAndWait(L"no-such-program-oq.exe"), -1);
}

TEST_F(ShellWithCom, FileVersionTextHasFourNumbersOrNothing) {
  wchar_t system[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  const std::wstring version = shell.FileVersionText(std::wstring(system) + L"\\kernel32.dll").value_or(L"");
  unsigned a, b, c, d;
  wchar_t rest;
  EXPECT_EQ(swscanf(version.c_str(), L"%u.%u.%u.%u%lc", &a, &b, &c, &d, &rest), 4) << version;

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring plain = std::wstring(temp) + L"oq-noversion-" + UniqueSuffix() + L".txt";
  {
    win::UniqueFile file(CreateFileW(plain.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    WriteFile(file.Get(), "plain", 5, &written, nullptr);
  }
  EXPECT_EQ(shell.FileVersionText(plain), std::nullopt);
  EXPECT_EQ(shell.FileVersionText(plain + L".missing"), std::nullopt);
  DeleteFileW(plain.c_str());
}

TEST_F(ShellWithCom, BinaryTypeOfThisProgram) {
#ifdef _WIN64
  EXPECT_EQ(shell.BinaryType(OwnExePath()), std::optional<uint32_t>(SCS_64BIT_BINARY));
#else
  EXPECT_EQ(shell.BinaryType(OwnExePath()), std::optional<uint32_t>(SCS_32BIT_BINARY));
#endif
  EXPECT_EQ(shell.BinaryType(OwnExePath() + L".missing"), std::nullopt);
}

TEST_F(ShellWithCom, FoldersAreTheShellsWithoutTrailingBackslash) {
  for (const auto& [folder, csidl] : {std::pair{shell.AppDataFolder().value_or(L""), CSIDL_APPDATA},
                                      std::pair{shell.DesktopFolder().value_or(L""), CSIDL_DESKTOP}}) {
    wchar_t expected[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, expected), S_OK);
    EXPECT_EQ(folder, expected);
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), L'\\');
  }
}

TEST_F(ShellWithCom, DesktopShortcutPointsAtTheTargetAndItsFolder) {
  const std::wstring desktopFolder = shell.DesktopFolder().value_or(L"");
  ASSERT_FALSE(desktopFolder.empty());
  const std::wstring link = desktopFolder + L"\\ORBITQuarry.lnk";
  DeleteFileW(link.c_str());
  SHCreateDirectoryExW(nullptr, desktopFolder.c_str(), nullptr);
  const std::wstring target = OwnExePath();
  shell.CreateDesktopShortcut(target);
  ASSERT_NE(GetFileAttributesW(link.c_str()), INVALID_FILE_ATTRIBUTES);

  win::ComPtr<IShellLinkW> shortcut;
  ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, shortcut.PutVoid()),
            S_OK);
  win::ComPtr<IPersistFile> file;
  ASSERT_EQ(shortcut->QueryInterface(IID_IPersistFile, file.PutVoid()), S_OK);
  ASSERT_EQ(file->Load(link.c_str(), STGM_READ), S_OK);
  wchar_t text[MAX_PATH] = {};
  ASSERT_EQ(shortcut->GetPath(text, MAX_PATH, nullptr, 0), S_OK);
  EXPECT_EQ(Lower(text), Lower(target));
  ASSERT_EQ(shortcut->GetWorkingDirectory(text, MAX_PATH), S_OK);
  EXPECT_EQ(Lower(text), Lower(target.substr(0, target.find_last_of(L'\\') + 1)));
  ASSERT_EQ(shortcut->GetDescription(text, MAX_PATH), S_OK);
  EXPECT_STREQ(text, L"ORBITQuarry Excel Add-in");
  file.Reset();
  shortcut.Reset();
  EXPECT_TRUE(DeleteFileW(link.c_str()));
}

TEST_F(ShellWithCom, NoDesktopFolderMeansNoShortcutAtAll) {
  // The desktop moved to a folder that is gone, as a roaming profile's can.
  constexpr wchar_t kFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  wchar_t saved[MAX_PATH] = {};
  DWORD size = sizeof saved, type = 0;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, kFolders, L"Desktop", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                         &type, saved, &size),
            ERROR_SUCCESS);
  const std::wstring gone = L"C:\\No Such Desktop";
  RegSetKeyValueW(HKEY_CURRENT_USER, kFolders, L"Desktop", REG_SZ, gone.c_str(),
                  static_cast<DWORD>((gone.size() + 1) * sizeof(wchar_t)));
  const std::optional<std::wstring> desktop = shell.DesktopFolder();
  DeleteFileW(L"C:\\ORBITQuarry.lnk");
  wchar_t current[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  SetCurrentDirectoryW(L"C:\\windows");
  shell.CreateDesktopShortcut(OwnExePath());
  SetCurrentDirectoryW(current);
  RegSetKeyValueW(HKEY_CURRENT_USER, kFolders, L"Desktop", type, saved, size);

  if (desktop) GTEST_SKIP() << "the shell still names a desktop folder here";
  // Not in the root of the current drive, where "" + "\\ORBITQuarry.lnk" lands.
  EXPECT_EQ(GetFileAttributesW(L"C:\\ORBITQuarry.lnk"), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(shell.DesktopFolder().has_value());
}

TEST_F(ShellWithCom, NoExcelAutomationServerInAFreshPrefix) {
  EXPECT_EQ(shell.CreateExcelApplication(), nullptr);
}

// ---------------------------------------------------------------- environment

TEST(EnvironmentTest, ExecutablePathAndArgumentsComeFromThisProcess) {
  Win32Environment env;
  EXPECT_EQ(env.ExecutablePath(), OwnExePath());
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  ASSERT_NE(argv, nullptr);
  const auto args = env.Arguments();
  ASSERT_EQ(args.size(), static_cast<size_t>(count - 1));
  for (int i = 1; i < count; ++i) EXPECT_EQ(args[i - 1], argv[i]);
  LocalFree(argv);
}

TEST(EnvironmentTest, SystemErrorTextHasNoTrailingLineBreak) {
  Win32Environment env;
  const std::wstring text = env.SystemErrorText(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), L'\n');
  EXPECT_NE(text.back(), L'\r');
  EXPECT_NE(text.back(), L' ');
  EXPECT_FALSE(env.SystemErrorText(ERROR_WINHTTP_CANNOT_CONNECT).empty());
}

// The regsvr32 each folder gives is the one built for that bitness, so that
// it loads a library of that bitness itself.
TEST(EnvironmentTest, SystemProgramFoldersHoldTheProgramsOfEachBitness) {
  Win32Environment env;
  Win32Shell shell;
  for (const bool bits64 : {false, true}) {
    const std::wstring regsvr32 = env.SystemProgramFolder(bits64) + L"\\regsvr32.exe";
    EXPECT_EQ(shell.BinaryType(regsvr32), bits64 ? SCS_64BIT_BINARY : SCS_32BIT_BINARY) << regsvr32;
  }
}

TEST(EnvironmentTest, OsDescriptionNamesTheBitness) {
  Win32Environment env;
  const std::wstring text = env.OsDescription();
  EXPECT_EQ(text.rfind(L"Windows ", 0), 0u) << text;
  EXPECT_NE(text.find(L"64-bit Edition)"), std::wstring::npos) << text;  // this Wine runs x86_64 only
}

}  // namespace
}  // namespace oq

namespace oq {
namespace {

// Wine's user is an administrator: the token lists S-1-5-32-544, and the
// walk finds it within the one fixed block.
TEST(EnvironmentTest, WineUsersTokenListsTheAdministratorsGroup) {
  Win32Environment env;
  EXPECT_TRUE(env.IsUserAdmin());
}

}  // namespace
}  // namespace oq
