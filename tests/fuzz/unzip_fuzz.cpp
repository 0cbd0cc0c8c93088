// libFuzzer target for the package extractor: every input is a package in
// an in-memory install folder. Refusals are the expected outcome; a crash,
// a sanitizer report, a part file left behind or anything written outside
// the folder is a finding.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "deploy/unzip_package.h"
#include "seam/app_error.h"

namespace {

const std::wstring kFolder = L"C:\\fuzz\\";
const std::wstring kPackage = L"package.zip";
// A deflated entry may claim 4 GiB; past this the disk is "full", which
// keeps runs fast and exercises the write-failure path.
constexpr size_t kDiskLimit = 8u << 20;

std::wstring Key(std::wstring path) {
  for (wchar_t& c : path) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

std::wstring Parent(const std::wstring& key) {
  const size_t slash = key.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : key.substr(0, slash);
}

class MemoryFiles final : public oq::FileSystem {
 public:
  std::map<std::wstring, std::vector<uint8_t>> files;  // by key
  std::set<std::wstring> folders{L"c:", L"c:\\fuzz"};
  size_t used = 0;

  bool FileExists(const std::wstring& p) override { return files.count(Key(p)) != 0; }
  bool DirectoryExists(const std::wstring& p) override { return folders.count(Key(p)) != 0; }
  uint32_t MakeDirectory(const std::wstring& p) override {
    const std::wstring k = Key(p);
    if (folders.count(k) || files.count(k)) return 183;
    if (!folders.count(Parent(k))) return 3;
    folders.insert(k);
    return 0;
  }
  bool RemoveFile(const std::wstring& p) override { return files.erase(Key(p)) != 0; }
  std::optional<uint64_t> FreeSpace(const std::wstring&) override { return kDiskLimit - used; }
  bool RenameFile(const std::wstring& from, const std::wstring& to) override {
    return !FileExists(to) && ReplaceFileWith(from, to);
  }
  bool ReplaceFileWith(const std::wstring& from, const std::wstring& to) override {
    const std::wstring f = Key(from), t = Key(to);
    auto it = files.find(f);
    if (it == files.end() || folders.count(t) || !folders.count(Parent(t))) return false;
    std::vector<uint8_t> data = std::move(it->second);
    files.erase(it);
    files[t] = std::move(data);
    return true;
  }
  bool CopyFileTo(const std::wstring&, const std::wstring&, bool) override { return false; }
  bool RemoveEmptyDirectory(const std::wstring&) override { return false; }
  std::vector<oq::DirEntry> ListDirectory(const std::wstring&) override { return {}; }
  void DeleteFolderTree(const std::wstring&) override {}

  std::unique_ptr<oq::FileReader> OpenRead(const std::wstring& p, uint32_t& error) override {
    auto it = files.find(Key(p));
    if (it == files.end()) {
      error = 2;
      return nullptr;
    }
    error = 0;
    return std::make_unique<Reader>(it->second);
  }
  std::unique_ptr<oq::FileWriter> CreateWrite(const std::wstring& p, uint32_t& error) override {
    const std::wstring k = Key(p);
    if (folders.count(k) || !folders.count(Parent(k))) {
      error = folders.count(k) ? 5 : 3;
      return nullptr;
    }
    files[k].clear();
    error = 0;
    return std::make_unique<Writer>(*this, k);
  }

 private:
  // A copy, as an open handle keeps reading what it opened.
  class Reader final : public oq::FileReader {
   public:
    explicit Reader(std::vector<uint8_t> data) : data_(std::move(data)) {}
    uint64_t Size() const override { return data_.size(); }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) override {
      if (offset > data_.size() || count > data_.size() - offset) return false;
      if (count) std::copy_n(data_.data() + offset, count, static_cast<uint8_t*>(buffer));
      return true;
    }

   private:
    std::vector<uint8_t> data_;
  };
  class Writer final : public oq::FileWriter {
   public:
    Writer(MemoryFiles& fs, std::wstring key) : fs_(fs), key_(std::move(key)) {}
    bool Write(const void* data, size_t count) override {
      auto it = fs_.files.find(key_);
      if (it == fs_.files.end() || fs_.used + count > kDiskLimit) return false;
      const auto* bytes = static_cast<const uint8_t*>(data);
      it->second.insert(it->second.end(), bytes, bytes + count);
      fs_.used += count;
      return true;
    }
    bool Finish() override { return fs_.files.count(key_) != 0; }
    uint32_t Error() const override { return 112; }  // only asked after a failure: the disk is full

   private:
    MemoryFiles& fs_;
    std::wstring key_;
  };
};

bool EndsWith(const std::wstring& s, const std::wstring& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryFiles fs;
  const std::wstring packageKey = Key(kFolder + kPackage);
  fs.files[packageKey].assign(data, data + size);
  try {
    // Names without the UTF-8 flag as bytes widened one by one: the
    // code page is the platform's business, the structure is what is fuzzed.
    oq::UnzipPackage(fs, kFolder, kPackage, [](const std::vector<uint8_t>& b) {
      return std::optional<std::wstring>(std::wstring(b.begin(), b.end()));
    });
  } catch (const oq::AppError& e) {
    if (e.Message().empty()) std::abort();
  }
  const std::wstring inside = Key(kFolder) + L"\\";
  for (const auto& [key, bytes] : fs.files) {
    if (key.compare(0, inside.size(), inside) != 0) std::abort();
    if (EndsWith(key, L".oqpart")) std::abort();
    if (key.find(L"\\..\\") != std::wstring::npos || key.find(L':', 2) != std::wstring::npos) std::abort();
  }
  if (fs.files.count(packageKey) == 0) std::abort();
  if (fs.files[packageKey] != std::vector<uint8_t>(data, data + size)) std::abort();
  for (const std::wstring& folder : fs.folders) {
    if (folder != L"c:" && folder.compare(0, inside.size() - 1, Key(kFolder)) != 0) std::abort();
  }
  return 0;
}
