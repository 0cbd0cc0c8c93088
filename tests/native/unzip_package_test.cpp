// The package extractor over the in-memory file system, with archives that
// make_zip_fixtures.py writes at build time (OQ_ZIP_FIXTURES).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "deploy/unzip_package.h"
#include "fake_machine.h"
#include "zip_writer.h"
#include "seam/app_error.h"

namespace oq {
namespace {

using test::FakeFileSystem;

const std::wstring kFolder = L"C:\\Users\\me\\AppData\\Roaming\\ORBITQuarry\\";
const std::wstring kPackage = L"pkg.zip";
const std::string kFolderMark = "<folder>";
// Names without the UTF-8 flag as a Western and as a Korean machine read them.
LegacyNameDecoder OemNames(int codePage) {
  return [codePage](const std::vector<uint8_t>& bytes) { return test::DecodeCodePage(codePage, bytes); };
}
const LegacyNameDecoder kWestern = OemNames(437);

std::string Fixture(const std::string& relative) {
  const std::string path = std::string(OQ_ZIP_FIXTURES) + "/" + relative;
  std::string data;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    ADD_FAILURE() << "missing fixture " << path;
    return data;
  }
  char buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) data.append(buffer, n);
  std::fclose(f);
  return data;
}

// Everything below the install folder: relative path -> content, or the
// folder mark.
using Tree = std::map<std::wstring, std::string>;

void Walk(FakeFileSystem& fs, const std::wstring& relative, Tree& tree) {
  for (const DirEntry& d : fs.ListDirectory(kFolder + relative + L"*")) {
    if (d.name == L"." || d.name == L"..") continue;
    const std::wstring path = relative + d.name;
    if (d.directory) {
      tree[path] = kFolderMark;
      Walk(fs, path + L"\\", tree);
    } else {
      tree[path] = fs.Content(kFolder + path).value_or("");
    }
  }
}

Tree Snapshot(FakeFileSystem& fs) {
  Tree tree;
  Walk(fs, L"", tree);
  return tree;
}

void PlacePackage(FakeFileSystem& fs, const std::string& bytes) {
  fs.AddDirectory(kFolder.substr(0, kFolder.size() - 1));
  fs.AddFile(kFolder + kPackage, bytes);
}

// The tree the Info-ZIP and zipfile archives hold, read from the files they
// were made of.
Tree PackagedTree() {
  return {{L"readme.txt", Fixture("tree/readme.txt")},
          {L"bin", kFolderMark},
          {L"bin\\lib.dll", Fixture("tree/bin/lib.dll")},
          {L"bin\\empty.dat", ""},
          {L"docs", kFolderMark},
          {L"docs\\guide", kFolderMark},
          {L"docs\\guide\\notes.txt", "notes\n"},
          {L"logs", kFolderMark}};
}

TEST(UnzipPackageTest, ExtractsGoodArchivesAndReplacesExistingFiles) {
  const Tree packaged = PackagedTree();
  const struct {
    const char* fixture;
    Tree expected;
  } cases[] = {
      {"good/infozip_deflate.zip", packaged},
      {"good/infozip_stored.zip", packaged},
      {"good/infozip_streamed.zip", packaged},
      {"good/python_mixed.zip", packaged},
      {"good/python_descriptor.zip", packaged},
      {"good/python_comment.zip", packaged},
      {"good/names_utf8.zip",
       {{L"Überblick", kFolderMark},
        {L"Überblick\\données.txt", "utf8 latin\n"},
        {L"한글.txt", "utf8 hangul\n"},
        {L"smile \xD83D\xDE00.txt", "utf8 astral\n"}}},  // UTF-16, as on Windows
      {"good/names_cp437.zip", {{L"café.txt", "cp437 one\n"}, {L"ÄÖß.txt", "cp437 two\n"}}},
      {"good/empty_archive.zip", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    const std::string package = Fixture(c.fixture);
    FakeFileSystem fs;
    PlacePackage(fs, package);
    Tree expected = c.expected;
    expected[kPackage] = package;

    UnzipPackage(fs, kFolder, kPackage, kWestern);
    EXPECT_EQ(Snapshot(fs), expected);

    // Again over stale copies of every file, beside a file of the user's.
    for (const auto& [path, content] : c.expected) {
      if (content != kFolderMark) fs.AddFile(kFolder + path, "stale " + content);
    }
    fs.AddFile(kFolder + L"keep.txt", "mine");
    expected[L"keep.txt"] = "mine";
    UnzipPackage(fs, kFolder, kPackage, kWestern);
    EXPECT_EQ(Snapshot(fs), expected);
  }
}

// Korean Windows writes names without the UTF-8 flag in code page 949:
// they land right on a Korean machine; a Western one reads the same bytes as
// 437 and refuses bytes that are no text in its code page.
TEST(UnzipPackageTest, LegacyNamesAreReadInTheMachinesOemCodePage) {
  const std::string korean = test::MakeStoredZip({{"\xC7\xD1\xB1\xDB.txt", "hangul\n"},
                                                  {"\xB9\xAE\xBC\xAD/\xBA\xB8\xB0\xED\xBC\xAD.txt", "report\n"}});
  struct Case {
    const char* what;
    std::string package;
    int codePage;
    Tree expected;  // empty: refused
  };
  const Case cases[] = {
      {"CP949 names on a Korean machine", korean, 949,
       {{L"한글.txt", "hangul\n"}, {L"문서", kFolderMark}, {L"문서\\보고서.txt", "report\n"}}},
      {"CP949 names on a Western machine", korean, 437,
       {{L"╟╤▒█.txt", "hangul\n"}, {L"╣«╝¡", kFolderMark}, {L"╣«╝¡\\║╕░φ╝¡.txt", "report\n"}}},
      {"CP437 names on a Western machine", Fixture("good/names_cp437.zip"), 437,
       {{L"café.txt", "cp437 one\n"}, {L"ÄÖß.txt", "cp437 two\n"}}},
      {"CP437 names on a Korean machine", Fixture("good/names_cp437.zip"), 949, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFileSystem fs;
    PlacePackage(fs, c.package);
    if (c.expected.empty()) {
      try {
        UnzipPackage(fs, kFolder, kPackage, OemNames(c.codePage));
        ADD_FAILURE() << "accepted";
      } catch (const AppError& e) {
        EXPECT_NE(e.Message().find(L"not valid in this computer's code page"), std::wstring::npos) << e.Message();
      }
      continue;
    }
    UnzipPackage(fs, kFolder, kPackage, OemNames(c.codePage));
    Tree expected = c.expected;
    expected[kPackage] = c.package;
    EXPECT_EQ(Snapshot(fs), expected);
  }
}

struct Refusal {
  const char* name;
  const wchar_t* reason;  // part of the message
};

// Refused with a message that names the package, and the install folder
// exactly as it was: no file, no folder, no part file.
void ExpectRefused(const std::string& group, const Refusal& r,
                   const std::function<void(FakeFileSystem&)>& prepare = {}) {
  SCOPED_TRACE(group + "/" + r.name);
  FakeFileSystem fs;
  PlacePackage(fs, Fixture("bad/" + group + "/" + r.name + ".zip"));
  if (prepare) prepare(fs);
  const Tree before = Snapshot(fs);
  try {
    UnzipPackage(fs, kFolder, kPackage, kWestern);
    ADD_FAILURE() << "the package was accepted";
  } catch (const AppError& e) {
    EXPECT_NE(e.Message().find(L"\"" + kFolder + kPackage + L"\""), std::wstring::npos) << e.Message();
    EXPECT_NE(e.Message().find(r.reason), std::wstring::npos) << e.Message();
  }
  EXPECT_EQ(Snapshot(fs), before);
}

TEST(UnzipPackageTest, RefusesUnsafeNamesBeforeWritingAnything) {
  const Refusal cases[] = {
      {"dotdot_slash", L"climbs out"},
      {"dotdot_inner", L"climbs out"},
      {"dotdot_backslash", L"climbs out"},
      {"dotdot_dir", L"climbs out"},
      {"absolute_slash", L"absolute path"},
      {"absolute_backslash", L"absolute path"},
      {"unc", L"absolute path"},
      {"long_prefix", L"absolute path"},
      {"drive_relative", L"drive or a file stream"},
      {"drive_absolute", L"drive or a file stream"},
      {"stream", L"drive or a file stream"},
      {"nul_byte", L"control character"},
      {"control", L"control character"},
      {"wildcard", L"does not allow"},
      {"empty_component", L"empty path component"},
      {"empty_name", L"empty name"},
      {"device_con", L"names a device"},
      {"device_prn_ext", L"names a device"},
      {"device_aux", L"names a device"},
      {"device_nul_upper", L"names a device"},
      {"device_nul_lower", L"names a device"},
      {"device_com1_dll", L"names a device"},
      {"device_com9", L"names a device"},
      {"device_lpt1", L"names a device"},
      {"device_lpt9_ext", L"names a device"},
      {"device_in_folder", L"names a device"},
      {"trailing_dot", L"dot or a blank"},
      {"trailing_blank", L"dot or a blank"},
      {"folder_trailing_dot", L"dot or a blank"},
      {"folder_trailing_blank", L"dot or a blank"},
      {"utf8_invalid_byte", L"UTF-8 name is malformed"},
      {"utf8_overlong", L"UTF-8 name is malformed"},
      {"utf8_surrogate", L"UTF-8 name is malformed"},
      {"utf8_truncated", L"UTF-8 name is malformed"},
      {"utf8_beyond_unicode", L"UTF-8 name is malformed"},
      {"symlink", L"symbolic link \"link\""},
      {"duplicate", L"twice"},
      {"file_and_folder", L"both as a file and as a folder"},
      {"temp_suffix", L"temporary suffix"},
      {"overwrites_package", L"would overwrite it"},
  };
  for (const Refusal& r : cases) ExpectRefused("names", r);
}

TEST(UnzipPackageTest, RefusesDamagedOrDeceptiveStructureBeforeWritingAnything) {
  const Refusal cases[] = {
      {"not_zip", L"is not a ZIP archive"},
      {"empty_file", L"is not a ZIP archive"},
      {"truncated_half", L"is truncated"},
      {"truncated_last_byte", L"is truncated"},
      {"trailing_garbage", L"end record does not reach the end"},
      {"cd_offset_out_of_range", L"central directory lies outside"},
      {"cd_size_out_of_range", L"central directory lies outside"},
      {"cd_size_short", L"does not end where its end record begins"},
      {"count_too_high", L"fewer entries"},
      {"count_too_low", L"more entries"},
      {"count_disk_differs", L"two different entry counts"},
      {"several_disks", L"several disks"},
      {"local_name_differs", L"different names"},
      {"local_method_differs", L"disagree"},
      {"local_csize_differs", L"disagree"},
      {"local_usize_differs", L"disagree"},
      {"local_crc_differs", L"disagree"},
      {"local_descriptor_only_central", L"disagree"},
      {"local_signature", L"local header of \"second.txt\" is missing"},
      {"local_offset_beyond", L"lies outside the entry data"},
      {"overlap_nested", L"overlap"},
      {"overlap_same_header", L"overlap"},
      {"data_into_directory", L"runs into the central directory"},
      {"encrypted", L"encrypted entry \"secret.txt\""},
      {"encrypted_local_only", L"encrypted entry \"secret.txt\""},
      {"method_bzip2", L"method 12"},
      {"method_aes", L"method 99"},
      {"zip64_sizes", L"Zip64"},
      {"zip64_offset", L"Zip64"},
      {"zip64_count", L"Zip64"},
      {"zip64_locator", L"Zip64"},
      {"zip64_python", L"Zip64 entry \"big.bin\""},
      {"stored_sizes_differ", L"two different sizes"},
  };
  for (const Refusal& r : cases) ExpectRefused("structure", r);
}

TEST(UnzipPackageTest, IntegrityFailuresLeaveNeitherTheFileNorAPartFile) {
  const Refusal cases[] = {
      {"crc_stored", L"CRC"},
      {"crc_deflated", L"CRC"},
      {"crc_descriptor", L"CRC"},
      {"inflates_longer", L"more than its declared size"},
      {"inflates_much_longer", L"more than its declared size"},
      {"inflates_shorter", L"shorter than its declared size"},
      {"deflate_corrupt", L"is corrupt"},
      {"deflate_ends_early", L"ends early"},
      {"deflate_trailing_bytes", L"does not fill its declared size"},
  };
  for (const Refusal& r : cases) {
    ExpectRefused("integrity", r);
    // A file the entry would have replaced stays as it was.
    ExpectRefused("integrity", r, [](FakeFileSystem& fs) { fs.AddFile(kFolder + L"bad.bin", "previous"); });
  }
}

TEST(UnzipPackageTest, MissingPackageNamesItAndCarriesTheCode) {
  FakeFileSystem fs;
  fs.AddDirectory(kFolder.substr(0, kFolder.size() - 1));
  try {
    UnzipPackage(fs, kFolder, kPackage, kWestern);
    ADD_FAILURE() << "a missing package was accepted";
  } catch (const AppError& e) {
    EXPECT_NE(e.Message().find(kFolder + kPackage), std::wstring::npos) << e.Message();
    EXPECT_EQ(e.Code(), 2u);
  }
}

TEST(UnzipPackageTest, WhatStandsInTheWayFailsCleanly) {
  const std::wstring lib = kFolder + L"bin\\lib.dll";
  const struct {
    const char* what;
    std::function<void(FakeFileSystem&)> prepare;
    const wchar_t* message;  // part of it
    uint32_t code;
    const wchar_t* inTheWay;  // keeps its content; nullptr: nothing at all may change
  } cases[] = {
      {"a file where a folder goes", [](FakeFileSystem& fs) { fs.AddFile(kFolder + L"docs", "x"); },
       L"stands where a folder goes", 0, nullptr},
      {"a folder where a file goes",
       [](FakeFileSystem& fs) { fs.AddDirectory(kFolder + L"docs\\guide\\notes.txt"); },
       L"stands where a file goes", 0, nullptr},
      {"a part file that cannot be created",
       [&](FakeFileSystem& fs) {
         fs.AddFile(lib + L".oqpart", "held");
         fs.Find(lib + L".oqpart")->inUse = true;
       },
       L"Cannot create the file \"C:\\Users\\me\\AppData\\Roaming\\ORBITQuarry\\bin\\lib.dll\"", 5,
       L"bin\\lib.dll.oqpart"},
      {"a target in use",
       [&](FakeFileSystem& fs) {
         fs.AddFile(lib, "loaded");
         fs.Find(lib)->inUse = true;
       },
       L"Cannot replace the file \"C:\\Users\\me\\AppData\\Roaming\\ORBITQuarry\\bin\\lib.dll\"", 0,
       L"bin\\lib.dll"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFileSystem fs;
    PlacePackage(fs, Fixture("good/infozip_deflate.zip"));
    c.prepare(fs);
    const Tree before = Snapshot(fs);
    try {
      UnzipPackage(fs, kFolder, kPackage, kWestern);
      ADD_FAILURE() << "extraction went through";
    } catch (const AppError& e) {
      EXPECT_NE(e.Message().find(c.message), std::wstring::npos) << e.Message();
      EXPECT_EQ(e.Code(), c.code);
    }
    const Tree after = Snapshot(fs);
    if (!c.inTheWay) {
      EXPECT_EQ(after, before);
      continue;
    }
    EXPECT_EQ(after.at(c.inTheWay), before.at(c.inTheWay));
    for (const auto& [path, content] : after) {
      if (path.size() > 7 && path.compare(path.size() - 7, 7, L".oqpart") == 0) {
        EXPECT_TRUE(before.count(path)) << "part file left: " << testing::PrintToString(path);
      }
    }
  }
}

// Passes everything on, noting the largest read and write and the bytes
// written per file, to show that entries stream through fixed buffers.
class MeteredFiles final : public FileSystem {
 public:
  explicit MeteredFiles(FileSystem& inner) : inner_(inner) {}
  size_t largestRead = 0, largestWrite = 0;
  std::map<std::wstring, uint64_t> written;

  bool FileExists(const std::wstring& p) override { return inner_.FileExists(p); }
  bool DirectoryExists(const std::wstring& p) override { return inner_.DirectoryExists(p); }
  uint32_t MakeDirectory(const std::wstring& p) override { return inner_.MakeDirectory(p); }
  bool RemoveFile(const std::wstring& p) override { return inner_.RemoveFile(p); }
  bool RenameFile(const std::wstring& f, const std::wstring& t) override { return inner_.RenameFile(f, t); }
  bool ReplaceFileWith(const std::wstring& f, const std::wstring& t) override {
    return inner_.ReplaceFileWith(f, t);
  }
  bool CopyFileTo(const std::wstring& f, const std::wstring& t, bool x) override {
    return inner_.CopyFileTo(f, t, x);
  }
  bool RemoveEmptyDirectory(const std::wstring& p) override { return inner_.RemoveEmptyDirectory(p); }
  std::vector<DirEntry> ListDirectory(const std::wstring& p) override { return inner_.ListDirectory(p); }
  void DeleteFolderTree(const std::wstring& p) override { inner_.DeleteFolderTree(p); }
  std::optional<uint64_t> FreeSpace(const std::wstring& p) override { return inner_.FreeSpace(p); }

  std::unique_ptr<FileReader> OpenRead(const std::wstring& p, uint32_t& error) override {
    struct Reader final : FileReader {
      std::unique_ptr<FileReader> inner;
      MeteredFiles* meter;
      uint64_t Size() const override { return inner->Size(); }
      bool ReadAt(uint64_t offset, void* buffer, size_t count) override {
        meter->largestRead = std::max(meter->largestRead, count);
        return inner->ReadAt(offset, buffer, count);
      }
    };
    auto inner = inner_.OpenRead(p, error);
    if (!inner) return nullptr;
    auto reader = std::make_unique<Reader>();
    reader->inner = std::move(inner);
    reader->meter = this;
    return reader;
  }
  std::unique_ptr<FileWriter> CreateWrite(const std::wstring& p, uint32_t& error) override {
    struct Writer final : FileWriter {
      std::unique_ptr<FileWriter> inner;
      MeteredFiles* meter;
      std::wstring path;
      bool Write(const void* data, size_t count) override {
        meter->largestWrite = std::max(meter->largestWrite, count);
        meter->written[path] += count;
        return inner->Write(data, count);
      }
      bool Finish() override { return inner->Finish(); }
      uint32_t Error() const override { return inner->Error(); }
    };
    auto inner = inner_.CreateWrite(p, error);
    if (!inner) return nullptr;
    auto writer = std::make_unique<Writer>();
    writer->inner = std::move(inner);
    writer->meter = this;
    writer->path = p;
    return writer;
  }

 private:
  FileSystem& inner_;
};

TEST(UnzipPackageTest, StreamsThroughFixedBuffersAndNeverWritesPastTheDeclaredSize) {
  FakeFileSystem fs;
  MeteredFiles metered(fs);
  PlacePackage(fs, Fixture("good/infozip_stored.zip"));  // the 200 KB library stored whole
  UnzipPackage(metered, kFolder, kPackage, kWestern);
  EXPECT_LE(metered.largestWrite, 64u * 1024);
  // The end record search may read the largest comment with it.
  EXPECT_LE(metered.largestRead, 64u * 1024 + 22);
  EXPECT_EQ(metered.written[kFolder + L"bin\\lib.dll.oqpart"], Fixture("tree/bin/lib.dll").size());

  // An entry that claims 10 bytes and inflates to 240,000 is cut at 10.
  FakeFileSystem bomb;
  MeteredFiles meteredBomb(bomb);
  PlacePackage(bomb, Fixture("bad/integrity/inflates_much_longer.zip"));
  EXPECT_THROW(UnzipPackage(meteredBomb, kFolder, kPackage, kWestern), AppError);
  EXPECT_LE(meteredBomb.written[kFolder + L"bad.bin.oqpart"], 10u);
}

}  // namespace
}  // namespace oq
