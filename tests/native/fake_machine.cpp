#include "fake_machine.h"

#include <iconv.h>

#include <algorithm>
#include <cstring>

#include "seam/app_error.h"

namespace oq::test {

namespace {

std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return s;
}

std::vector<std::wstring> SplitPath(const std::wstring& path) {
  std::vector<std::wstring> parts;
  std::wstring part;
  for (wchar_t c : path) {
    if (c == L'\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

RegValue Utf16Value(const std::wstring& text, uint32_t type) {
  RegValue v{type, {}};
  for (wchar_t c : text) {
    v.data.push_back(static_cast<uint8_t>(c & 0xFF));
    v.data.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
  }
  v.data.push_back(0);
  v.data.push_back(0);
  return v;
}

}  // namespace

// ------------------------------------------------------------ registry

class FakeRegistryKey final : public RegistryKey {
 public:
  FakeRegistryKey(FakeRegistry& registry, RegRoot root, std::wstring path, RegAccess access, RegView view)
      : registry_(registry), root_(root), path_(std::move(path)), access_(access), view_(view) {}

  std::optional<RegValue> QueryValue(const std::wstring& name) override {
    FakeKey* key = registry_.Find(root_, path_, view_);
    if (!key || access_ != RegAccess::Read) return std::nullopt;  // KEY_WRITE cannot query
    auto it = key->values.find(Lower(name));
    if (it == key->values.end()) return std::nullopt;
    return it->second.second;
  }
  bool SetValue(const std::wstring& name, const RegValue& value) override {
    FakeKey* key = registry_.Find(root_, path_, view_);
    if (!key || access_ != RegAccess::Write || key->denyWrites) return false;
    key->values[Lower(name)] = {name, value};
    registry_.writeLog.push_back(path_ + L"|" + name);
    return true;
  }
  bool DeleteSubKey(const std::wstring& name) override {
    FakeKey* key = registry_.Find(root_, path_, view_);
    if (!key) return false;
    auto it = key->children.find(Lower(name));
    if (it == key->children.end() || !it->second->children.empty()) return false;
    key->children.erase(it);
    return true;
  }

 private:
  FakeRegistry& registry_;
  RegRoot root_;
  std::wstring path_;
  RegAccess access_;
  RegView view_;
};

FakeKey* FakeRegistry::Walk(RegRoot root, const std::wstring& path, bool create, std::wstring* full,
                            RegView view) {
  FakeKey* node = root != RegRoot::LocalMachine ? &users_
                  : view == RegView::Native64   ? &localMachine64_
                                                : &localMachine_;
  std::vector<std::wstring> parts = SplitPath(path);
  if (root == RegRoot::CurrentUser) parts.insert(parts.begin(), userSid);
  std::wstring joined;
  for (const std::wstring& part : parts) {
    auto it = node->children.find(Lower(part));
    if (it == node->children.end()) {
      if (!create) return nullptr;
      auto child = std::make_unique<FakeKey>();
      child->name = part;
      it = node->children.emplace(Lower(part), std::move(child)).first;
    }
    node = it->second.get();
    joined += (joined.empty() ? L"" : L"\\") + node->name;
  }
  if (full) *full = joined;
  return node;
}

std::unique_ptr<RegistryKey> FakeRegistry::OpenKey(RegRoot root, const std::wstring& path,
                                                   RegAccess access, bool create, RegView view) {
  // Windows refuses a subkey path that begins with a backslash.
  if (!path.empty() && path.front() == L'\\') return nullptr;
  FakeKey* parent = Walk(root, path, false, nullptr, view);
  if (!parent && create) {
    // A key below a write-protected one cannot be created.
    std::vector<std::wstring> parts = SplitPath(path);
    std::wstring prefix;
    for (const std::wstring& part : parts) {
      if (FakeKey* k = Walk(root, prefix, false, nullptr, view); k && k->denyWrites) return nullptr;
      prefix += (prefix.empty() ? L"" : L"\\") + part;
    }
    parent = Walk(root, path, true, nullptr, view);
  }
  if (!parent) return nullptr;
  std::wstring normalized;
  for (const std::wstring& part : SplitPath(path)) normalized += (normalized.empty() ? L"" : L"\\") + part;
  return std::make_unique<FakeRegistryKey>(*this, root, normalized, access, view);
}

FakeKey* FakeRegistry::Find(RegRoot root, const std::wstring& path, RegView view) {
  return Walk(root, path, false, nullptr, view);
}

void FakeRegistry::CreateKey(RegRoot root, const std::wstring& path, RegView view) {
  Walk(root, path, true, nullptr, view);
}

void FakeRegistry::SetString(RegRoot root, const std::wstring& path, const std::wstring& name,
                             const std::wstring& text, uint32_t type, RegView view) {
  Walk(root, path, true, nullptr, view)->values[Lower(name)] = {name, Utf16Value(text, type)};
}

void FakeRegistry::SetDword(RegRoot root, const std::wstring& path, const std::wstring& name,
                            uint32_t value) {
  RegValue v{kRegDword, {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                         static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)}};
  Walk(root, path, true, nullptr)->values[Lower(name)] = {name, v};
}

std::optional<std::wstring> FakeRegistry::GetString(RegRoot root, const std::wstring& path,
                                                    const std::wstring& name) {
  FakeKey* key = Find(root, path);
  if (!key) return std::nullopt;
  auto it = key->values.find(Lower(name));
  if (it == key->values.end()) return std::nullopt;
  std::wstring text;
  const auto& d = it->second.second.data;
  for (size_t i = 0; i + 1 < d.size(); i += 2) {
    const wchar_t c = static_cast<wchar_t>(d[i] | d[i + 1] << 8);
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

std::optional<uint32_t> FakeRegistry::GetDword(RegRoot root, const std::wstring& path,
                                               const std::wstring& name) {
  FakeKey* key = Find(root, path);
  if (!key) return std::nullopt;
  auto it = key->values.find(Lower(name));
  if (it == key->values.end() || it->second.second.type != kRegDword) return std::nullopt;
  const auto& d = it->second.second.data;
  return static_cast<uint32_t>(d[0] | d[1] << 8 | d[2] << 16 | static_cast<uint32_t>(d[3]) << 24);
}

std::optional<uint32_t> FakeRegistry::TypeOf(RegRoot root, const std::wstring& path,
                                             const std::wstring& name) {
  FakeKey* key = Find(root, path);
  if (!key) return std::nullopt;
  auto it = key->values.find(Lower(name));
  if (it == key->values.end()) return std::nullopt;
  return it->second.second.type;
}

// ------------------------------------------------------------ files

namespace {

constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorAlreadyExists = 183;

bool IsDriveRoot(const std::wstring& key) { return key.size() == 2 && key[1] == L':'; }

std::wstring ParentKey(const std::wstring& key) {
  const size_t slash = key.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : key.substr(0, slash);
}

class FakeReader final : public FileReader {
 public:
  explicit FakeReader(std::vector<uint8_t> data) : data_(std::move(data)) {}
  uint64_t Size() const override { return data_.size(); }
  bool ReadAt(uint64_t offset, void* buffer, size_t count) override {
    if (offset > data_.size() || count > data_.size() - offset) return false;
    if (count) std::memcpy(buffer, data_.data() + offset, count);
    return true;
  }

 private:
  std::vector<uint8_t> data_;
};

}  // namespace

class FakeWriter final : public FileWriter {
 public:
  FakeWriter(FakeFileSystem& fs, std::wstring key) : fs_(fs), key_(std::move(key)) {}
  bool Write(const void* data, size_t count) override {
    FakeFile* f = Node();
    if (!f) return Failed(3);
    if (fs_.freeSpace) {
      // A full disk takes what fits, as WriteFile does, and says so.
      if (count > *fs_.freeSpace) {
        f->data.insert(f->data.end(), static_cast<const uint8_t*>(data),
                       static_cast<const uint8_t*>(data) + *fs_.freeSpace);
        *fs_.freeSpace = 0;
        return Failed(112);
      }
      *fs_.freeSpace -= count;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    f->data.insert(f->data.end(), bytes, bytes + count);
    return true;
  }
  bool Finish() override {
    if (!Node()) return Failed(2);
    if (fs_.vanishOnFinish.count(key_)) fs_.nodes_.erase(key_);
    return error_ == 0;
  }
  uint32_t Error() const override { return error_; }

 private:
  FakeFile* Node() {
    auto it = fs_.nodes_.find(key_);
    return it == fs_.nodes_.end() ? nullptr : &it->second;
  }
  bool Failed(uint32_t code) {
    if (!error_) error_ = code;
    return false;
  }
  FakeFileSystem& fs_;
  std::wstring key_;
  uint32_t error_ = 0;
};

std::wstring FakeFileSystem::Key(const std::wstring& path) {
  std::wstring key;
  for (wchar_t c : Lower(path)) {
    if (c == L'/') c = L'\\';
    if (c == L'\\' && !key.empty() && key.back() == L'\\') continue;  // "a\\\\b" reads as "a\\b"
    key.push_back(c);
  }
  while (!key.empty() && key.back() == L'\\') key.pop_back();
  return key;
}

FakeFile* FakeFileSystem::Find(const std::wstring& path) {
  auto it = nodes_.find(Key(path));
  return it == nodes_.end() ? nullptr : &it->second;
}

bool FakeFileSystem::ParentExists(const std::wstring& key) {
  const std::wstring parent = ParentKey(key);
  if (parent.empty()) return true;  // a relative name in the current folder
  if (IsDriveRoot(parent)) return true;
  auto it = nodes_.find(parent);
  return it != nodes_.end() && it->second.directory;
}

bool FakeFileSystem::FileExists(const std::wstring& path) {
  FakeFile* f = Find(path);
  return f && !f->directory;
}

bool FakeFileSystem::DirectoryExists(const std::wstring& path) {
  const std::wstring key = Key(path);
  if (IsDriveRoot(key)) return true;
  FakeFile* f = Find(path);
  return f && f->directory;
}

uint32_t FakeFileSystem::MakeDirectory(const std::wstring& path) {
  const std::wstring key = Key(path);
  if (key.empty()) return kErrorPathNotFound;
  if (IsDriveRoot(key) || nodes_.count(key)) return kErrorAlreadyExists;
  if (!ParentExists(key)) return kErrorPathNotFound;
  nodes_[key] = FakeFile{path, true, {}, false};
  return 0;
}

bool FakeFileSystem::RemoveFile(const std::wstring& path) {
  auto it = nodes_.find(Key(path));
  if (it == nodes_.end() || it->second.directory || it->second.inUse) return false;
  nodes_.erase(it);
  return true;
}

bool FakeFileSystem::RenameFile(const std::wstring& from, const std::wstring& to) {
  auto it = nodes_.find(Key(from));
  const std::wstring target = Key(to);
  // A loaded library may be renamed, as Windows allows: only its name moves.
  if (it == nodes_.end() || nodes_.count(target) || !ParentExists(target)) return false;
  if (it->second.directory) return false;  // folders are never renamed here
  FakeFile moved = it->second;
  moved.path = to;
  nodes_.erase(it);
  nodes_[target] = moved;
  return true;
}

bool FakeFileSystem::ReplaceFileWith(const std::wstring& from, const std::wstring& to) {
  auto it = nodes_.find(Key(from));
  const std::wstring target = Key(to);
  if (it == nodes_.end() || it->second.directory) return false;
  auto existing = nodes_.find(target);
  if (existing != nodes_.end() && (existing->second.directory || existing->second.inUse)) return false;
  if (!ParentExists(target)) return false;
  FakeFile moved = it->second;
  moved.path = to;
  nodes_.erase(it);
  nodes_[target] = moved;
  return true;
}

bool FakeFileSystem::CopyFileTo(const std::wstring& from, const std::wstring& to, bool failIfExists) {
  FakeFile* source = Find(from);
  const std::wstring target = Key(to);
  if (!source || source->directory || !ParentExists(target)) return false;
  auto existing = nodes_.find(target);
  if (existing != nodes_.end() && (failIfExists || existing->second.directory || existing->second.inUse)) {
    return false;
  }
  FakeFile copy = *source;
  copy.path = to;
  copy.inUse = false;
  nodes_[target] = copy;
  return true;
}

bool FakeFileSystem::RemoveEmptyDirectory(const std::wstring& path) {
  const std::wstring key = Key(path);
  auto it = nodes_.find(key);
  if (it == nodes_.end() || !it->second.directory) return false;
  for (const auto& [k, node] : nodes_) {
    if (k.size() > key.size() && k.compare(0, key.size(), key) == 0 && k[key.size()] == L'\\') return false;
  }
  nodes_.erase(it);
  return true;
}

std::vector<DirEntry> FakeFileSystem::ListDirectory(const std::wstring& pattern) {
  // Only the "<folder>\*" patterns the program uses.
  std::wstring folder = pattern;
  if (folder.empty() || folder.back() != L'*') return {};
  folder.pop_back();
  const std::wstring key = Key(folder);
  if (!DirectoryExists(key.empty() ? L"\\" : folder)) return {};
  std::vector<DirEntry> entries;
  if (!IsDriveRoot(key)) {
    entries.push_back({L".", true});
    entries.push_back({L"..", true});
  }
  for (const auto& [k, node] : nodes_) {
    if (k.size() > key.size() + 1 && k.compare(0, key.size(), key) == 0 && k[key.size()] == L'\\' &&
        k.find(L'\\', key.size() + 1) == std::wstring::npos) {
      const size_t slash = node.path.find_last_of(L"\\/");
      entries.push_back({slash == std::wstring::npos ? node.path : node.path.substr(slash + 1), node.directory});
    }
  }
  return entries;
}

void FakeFileSystem::DeleteFolderTree(const std::wstring& path) {
  deletedTrees.push_back(path);
  const std::wstring key = Key(path);
  if (key.empty()) return;
  // Everything below goes, except what is in use and the folders holding it.
  std::set<std::wstring> keep;
  for (const auto& [k, node] : nodes_) {
    if (node.inUse && (k == key || (k.compare(0, key.size() + 1, key + L"\\") == 0))) {
      for (std::wstring p = k; p.size() >= key.size(); p = ParentKey(p)) {
        keep.insert(p);
        if (p == key) break;
      }
    }
  }
  for (auto it = nodes_.begin(); it != nodes_.end();) {
    const std::wstring& k = it->first;
    const bool below = k == key || k.compare(0, key.size() + 1, key + L"\\") == 0;
    it = (below && !keep.count(k)) ? nodes_.erase(it) : std::next(it);
  }
}

std::unique_ptr<FileReader> FakeFileSystem::OpenRead(const std::wstring& path, uint32_t& error) {
  FakeFile* f = Find(path);
  if (!f || f->directory) {
    error = f ? kErrorAccessDenied : (ParentExists(Key(path)) ? kErrorFileNotFound : kErrorPathNotFound);
    return nullptr;
  }
  error = 0;
  return std::make_unique<FakeReader>(f->data);
}

std::optional<uint64_t> FakeFileSystem::FreeSpace(const std::wstring& folder) {
  if (!DirectoryExists(folder)) return std::nullopt;
  return freeSpace;
}

std::unique_ptr<FileWriter> FakeFileSystem::CreateWrite(const std::wstring& path, uint32_t& error) {
  const std::wstring key = Key(path);
  if (key.empty() || !ParentExists(key)) {
    error = kErrorPathNotFound;
    return nullptr;
  }
  auto it = nodes_.find(key);
  if (it != nodes_.end() && (it->second.directory || it->second.inUse)) {
    error = kErrorAccessDenied;
    return nullptr;
  }
  nodes_[key] = FakeFile{it != nodes_.end() ? it->second.path : path, false, {}, false};
  error = 0;
  return std::make_unique<FakeWriter>(*this, key);
}

void FakeFileSystem::AddDirectory(const std::wstring& path) {
  for (size_t slash = 0;; ++slash) {
    slash = path.find(L'\\', slash);
    const std::wstring prefix = path.substr(0, slash);
    const std::wstring key = Key(prefix);
    if (!key.empty() && !IsDriveRoot(key) && !nodes_.count(key)) {
      nodes_[key] = FakeFile{prefix, true, {}, false};
    }
    if (slash == std::wstring::npos) return;
  }
}

void FakeFileSystem::AddFile(const std::wstring& path, const std::string& content) {
  const size_t slash = path.rfind(L'\\');
  if (slash != std::wstring::npos) AddDirectory(path.substr(0, slash));
  nodes_[Key(path)] = FakeFile{path, false, std::vector<uint8_t>(content.begin(), content.end()), false};
}

std::optional<std::string> FakeFileSystem::Content(const std::wstring& path) {
  FakeFile* f = Find(path);
  if (!f || f->directory) return std::nullopt;
  return std::string(f->data.begin(), f->data.end());
}

// ------------------------------------------------------------ processes

uint32_t FakeProcessTable::Start(const std::wstring& exeFile, const std::wstring& imagePath) {
  const uint32_t pid = nextPid_;
  nextPid_ += 4;
  processes.push_back({pid, exeFile, imagePath, false});
  return pid;
}

bool FakeProcessTable::Running(const std::wstring& exeFile) const {
  return std::any_of(processes.begin(), processes.end(),
                     [&](const Process& p) { return Lower(p.exeFile) == Lower(exeFile); });
}

std::optional<std::vector<ProcessRecord>> FakeProcessTable::SnapshotProcesses(bool) {
  if (snapshotFails) return std::nullopt;
  std::vector<ProcessRecord> records;
  for (const Process& p : processes) records.push_back({p.pid, p.exeFile});
  return records;
}

std::optional<std::wstring> FakeProcessTable::ProcessImageFile(uint32_t pid) {
  for (const Process& p : processes) {
    if (p.pid == pid) return p.imagePath;
  }
  return std::nullopt;
}

bool FakeProcessTable::TerminateProcessById(uint32_t pid, uint32_t) {
  for (auto it = processes.begin(); it != processes.end(); ++it) {
    if (it->pid == pid) {
      if (it->protectedFromTermination) return false;
      terminated.push_back(pid);
      processes.erase(it);
      return true;
    }
  }
  return false;
}

// ------------------------------------------------------------ shell

bool FakeShell::RunElevated(const std::wstring& file, const std::wstring& parameters) {
  elevated.push_back({file, parameters});
  return true;
}

RunOutcome FakeShell::RunElevatedAndWait(const std::wstring& file, const std::wstring& parameters,
                                         uint32_t timeoutMs) {
  elevated.push_back({file, parameters, true, timeoutMs});
  if (waitedOutcomes.empty()) return {};
  const auto next = std::move(waitedOutcomes.front());
  waitedOutcomes.pop_front();
  return next(elevated.back());
}

std::vector<int32_t> FakeShell::RunAllAndWait(const std::vector<std::wstring>& commandLines) {
  awaited.push_back(commandLines);
  return std::vector<int32_t>(commandLines.size(), awaitedExitCode);
}

std::optional<std::wstring> FakeShell::FileVersionText(const std::wstring& path) {
  auto it = versions.find(FakeFileSystem::Key(path));
  if (it == versions.end()) return std::nullopt;
  return it->second;
}

std::optional<uint32_t> FakeShell::BinaryType(const std::wstring& path) {
  auto it = binaryTypes.find(FakeFileSystem::Key(path));
  if (it == binaryTypes.end()) return std::nullopt;
  return it->second;
}

std::unique_ptr<ExcelAutomation> FakeShell::CreateExcelApplication() {
  return excelFactory ? excelFactory() : nullptr;
}

// ------------------------------------------------------------ environment

std::optional<std::wstring> DecodeCodePage(int codePage, const std::vector<uint8_t>& bytes) {
  const std::string from = "CP" + std::to_string(codePage);
  iconv_t convert = iconv_open("UTF-32LE", from.c_str());
  if (convert == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::vector<char> in(bytes.begin(), bytes.end());
  std::vector<char> out(bytes.size() * 4 + 4);
  char* inAt = in.data();
  char* outAt = out.data();
  size_t inLeft = in.size(), outLeft = out.size();
  const bool converted = iconv(convert, &inAt, &inLeft, &outAt, &outLeft) != static_cast<size_t>(-1) && inLeft == 0;
  iconv_close(convert);
  if (!converted) return std::nullopt;
  std::wstring text;
  for (const char* p = out.data(); p < outAt; p += 4) {
    text.push_back(static_cast<wchar_t>(static_cast<uint8_t>(p[0]) | static_cast<uint8_t>(p[1]) << 8 |
                                        static_cast<uint8_t>(p[2]) << 16));
  }
  return text;
}

std::wstring FakeEnvironment::SystemErrorText(uint32_t code) {
  switch (code) {
    case 2: return L"The system cannot find the file specified.";
    case 3: return L"The system cannot find the path specified.";
    case 5: return L"Access is denied.";
    case 112: return L"There is not enough space on the disk.";
    case 183: return L"Cannot create a file when that file already exists.";
    default: return L"System error " + std::to_wstring(code) + L".";
  }
}

// ------------------------------------------------------------ release server

void FakeReleaseServer::Publish(const std::wstring& url, const std::string& body,
                                const std::wstring& contentType) {
  files[url] = HttpResponse{200, contentType, std::vector<uint8_t>(body.begin(), body.end())};
}

HttpResponse FakeReleaseServer::Get(const std::wstring& url, const std::vector<HttpHeader>& headers) {
  if (cancelled_) throw Cancelled{};
  for (auto it = prefetched_.begin(); it != prefetched_.end(); ++it) {
    if (it->request.url == url && it->request.headers == headers) {
      Prefetched p = std::move(*it);
      prefetched_.erase(it);
      if (p.error) throw *p.error;
      return *p.response;
    }
  }
  HttpResponse response = Answer(url, headers);
  if (response.body.size() > kMaxTextBody) {
    response.body.clear();
    response.tooLong = true;
  }
  return response;
}

namespace {

const std::wstring* HeaderValue(const std::vector<HttpHeader>& headers, const std::wstring& name) {
  for (const HttpHeader& h : headers) {
    if (h.name == name) return &h.value;
  }
  return nullptr;
}

}  // namespace

void FakeReleaseServer::Stream(const std::wstring& url, const std::vector<HttpHeader>& headers, HttpSink& sink) {
  const HttpResponse response = Answer(url, headers);
  const std::vector<uint8_t>& body = response.body;
  HttpResponseHead head;
  head.status = response.status;
  if (sendValidators && response.status == 200) head.etag = L"\"" + std::to_wstring(body.size()) + L"-v1\"";
  // "Range: bytes=N-" answered with the rest when "If-Range" still names
  // this body, as the servers people use do.
  size_t from = 0;
  const std::wstring* range = HeaderValue(headers, L"Range");
  const std::wstring* ifRange = HeaderValue(headers, L"If-Range");
  if (honourRanges && response.status == 200 && range && range->rfind(L"bytes=", 0) == 0 &&
      (!ifRange || *ifRange == head.etag)) {
    from = std::stoull(range->substr(6));
    if (from >= body.size()) {
      head.status = 416;
      head.contentRange = L"bytes */" + std::to_wstring(body.size());
      if (!sink.Begin(head)) return;
      return;
    }
    head.status = 206;
    head.contentRange = L"bytes " + std::to_wstring(from + rangeSkew) + L"-" + std::to_wstring(body.size() - 1) +
                        L"/" + std::to_wstring(body.size());
  }
  if (sendContentLength) head.contentLength = claimedLength.value_or(body.size() - from);
  if (cancelled_) throw Cancelled{};
  if (!sink.Begin(head)) return;
  uint64_t thisResponse = 0;
  for (size_t at = from; at < body.size(); at += chunkSize) {
    size_t count = std::min(chunkSize, body.size() - at);
    if (cutEachResponseAfter && cutResponses > 0 && thisResponse + count > *cutEachResponseAfter) {
      --cutResponses;
      count = static_cast<size_t>(*cutEachResponseAfter - thisResponse);
      if (count && !sink.Write(body.data() + at, count)) return;
      sent += count;
      throw AppError(L"The connection with the server was reset", 12030);
    }
    sent += count;
    thisResponse += count;
    if (!sink.Write(body.data() + at, count)) return;
    // Messages handled between pieces, as the window's thread does.
    if (betweenPieces) betweenPieces();
    if (cancelled_) throw Cancelled{};
  }
}

// ------------------------------------------------------------ crypto

namespace {

class StandInHash final : public Sha256Hash {
 public:
  void Update(const uint8_t* data, size_t count) override {
    for (size_t i = 0; i < count; ++i) {
      for (int k = 0; k < 4; ++k) state_[k] = (state_[k] ^ data[i]) * (0x100000001B3ull + 2 * k);
    }
    length_ += count;
  }
  Sha256Digest Finish() override {
    Sha256Digest d{};
    for (int k = 0; k < 4; ++k) {
      const uint64_t v = state_[k] ^ (length_ * 0x9E3779B97F4A7C15ull);
      for (int b = 0; b < 8; ++b) d[k * 8 + b] = static_cast<uint8_t>(v >> (8 * b));
    }
    return d;
  }

 private:
  uint64_t state_[4] = {0xCBF29CE484222325ull, 0x84222325CBF29CE4ull, 0x1234567887654321ull, 0x0F1E2D3C4B5A6978ull};
  uint64_t length_ = 0;
};

}  // namespace

std::unique_ptr<Sha256Hash> FakeCrypto::NewSha256() { return std::make_unique<StandInHash>(); }

bool FakeCrypto::VerifyP256(const P256PublicKey& key, const Sha256Digest& digest, const P256Signature& signature) {
  ++verifyCalls;
  return signature == StandInSignature(key, digest);
}

Sha256Digest StandInDigest(const std::string& data) {
  StandInHash hash;
  hash.Update(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  return hash.Finish();
}

P256Signature StandInSignature(const P256PublicKey& key, const Sha256Digest& digest) {
  P256Signature s{};
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(key[i] ^ digest[i % 32] ^ 0x5A);
  return s;
}

std::string DerSignature(const P256Signature& raw) {
  std::string body;
  for (int half = 0; half < 2; ++half) {
    size_t start = half * 32;
    const size_t end = start + 32;
    while (start < end - 1 && raw[start] == 0) ++start;
    std::string value(raw.begin() + start, raw.begin() + end);
    if (static_cast<uint8_t>(value[0]) & 0x80) value.insert(0, 1, '\0');
    body += '\x02';
    body += static_cast<char>(value.size());
    body += value;
  }
  return std::string("\x30") + static_cast<char>(body.size()) + body;
}

std::string HexText(const Sha256Digest& digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : digest) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

void FakeReleaseServer::Prefetch(const std::wstring& url, const std::vector<HttpHeader>& headers) {
  Prefetched p{{url, headers}, {}, {}};
  try {
    p.response = Answer(url, headers);
  } catch (const AppError& e) {
    p.error = e;
  }
  prefetched_.push_back(std::move(p));
}

HttpResponse FakeReleaseServer::Answer(const std::wstring& url, const std::vector<HttpHeader>& headers) {
  requests.push_back({url, headers});
  if (beforeAnswer) beforeAnswer(requests.back());
  if (unreachable) {
    throw AppError(L"A connection with the server could not be established", 12029);
  }
  auto it = files.find(url);
  if (it != files.end()) return it->second;
  const std::string page = "<html><body><h1>404 Not Found</h1></body></html>";
  return HttpResponse{404, L"text/html", std::vector<uint8_t>(page.begin(), page.end())};
}

// ------------------------------------------------------------ dialogs

BoxAnswer FakeDialogs::ShowBox(const std::wstring& text, const std::wstring& caption, BoxIcon icon,
                               BoxButtons buttons) {
  shown.push_back({text, caption, icon, buttons});
  if (!answers.empty()) {
    auto answer = std::move(answers.front());
    answers.pop_front();
    return answer(shown.back());
  }
  return buttons == BoxButtons::Ok ? BoxAnswer::Ok : BoxAnswer::No;
}

std::optional<std::wstring> FakeDialogs::PickFolder(const std::wstring& start) {
  pickerStartFolders.push_back(start);
  if (pickedFolders.empty()) return std::nullopt;
  auto folder = pickedFolders.front();
  pickedFolders.pop_front();
  return folder;
}

}  // namespace oq::test
