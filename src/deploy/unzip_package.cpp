// The ZIP reader behind UnzipPackage.
//
// Packages are small classic archives (Info-ZIP, Python's zipfile, the
// Windows shell), so only what they use is read: stored and deflated
// entries, with or without data descriptors, one disk, no Zip64, no
// encryption. Everything else is refused rather than guessed at, and the
// refusal happens before the first byte is written: a package that comes
// from the network is not trusted to say where its files go or how big
// they are.

#include "deploy/unzip_package.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

#include "seam/app_error.h"
#include "services/number_text.h"
#include "services/utf16_text.h"

namespace oq {

namespace {

constexpr size_t kChunk = 64 * 1024;  // one read, one inflate round, one write

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr size_t kEndSize = 22;
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kMaxComment = 0xFFFF;

constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDescriptor = 0x0008;
constexpr uint16_t kFlagStrongEncryption = 0x0040;
constexpr uint16_t kFlagUtf8 = 0x0800;
constexpr uint16_t kFlagMaskedHeaders = 0x2000;  // central directory encryption
constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;
constexpr uint16_t kHostUnix = 3;
constexpr uint32_t kUnixTypeMask = 0170000;
constexpr uint32_t kUnixSymlink = 0120000;

// ERROR_WRITE_FAULT: the seam's writer says that a write failed, not why.
constexpr uint32_t kErrorWriteFault = 29;

// Beside the target, so the final move stays on one volume and is atomic.
constexpr wchar_t kPartSuffix[] = L".oqpart";

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Windows opens the device instead of a file for these, whatever the
// extension and the blanks before it ("nul.txt", "COM1 .dll").
bool IsDeviceName(const std::wstring& part) {
  size_t end = std::min(part.find(L'.'), part.size());
  while (end > 0 && part[end - 1] == L' ') --end;
  const std::wstring base = AsciiLower(part.substr(0, end));
  if (base == L"con" || base == L"prn" || base == L"aux" || base == L"nul" || base == L"conin$" ||
      base == L"conout$") {
    return true;
  }
  if (base.size() != 4 || (base.compare(0, 3, L"com") != 0 && base.compare(0, 3, L"lpt") != 0)) {
    return false;
  }
  const wchar_t digit = base[3];
  return (digit >= L'1' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
}

// Why an entry name (its trailing folder slash removed) cannot be extracted
// into the install folder as it stands; nullptr when it can.
const wchar_t* UnsafeName(const std::wstring& name) {
  if (name.empty()) return L"has an empty name";
  if (name[0] == L'/' || name[0] == L'\\') return L"is an absolute path";
  for (wchar_t c : name) {
    if (c == L':') return L"names a drive or a file stream";
    if (c < 0x20) return L"holds a control character";
    if (std::wcschr(L"<>\"|?*", c)) return L"holds a character Windows does not allow in names";
  }
  size_t begin = 0;
  for (;;) {
    const size_t end = std::min(name.find_first_of(L"/\\", begin), name.size());
    const std::wstring part = name.substr(begin, end - begin);
    if (part.empty()) return L"has an empty path component";
    if (part == L"..") return L"climbs out of the install folder";
    if (part.back() == L'.' || part.back() == L' ') return L"has a component ending in a dot or a blank";
    if (IsDeviceName(part)) return L"names a device";
    if (end == name.size()) break;
    begin = end + 1;
  }
  const size_t suffix = std::size(kPartSuffix) - 1;
  if (name.size() >= suffix && AsciiLower(name.substr(name.size() - suffix)) == kPartSuffix) {
    return L"ends with the extractor's temporary suffix";
  }
  return nullptr;
}

// A name fit for a message: the control characters a refused name may hold
// would cut or garble the text.
std::wstring Shown(const std::wstring& name) {
  std::wstring text = L"\"";
  for (wchar_t c : name) text.push_back(c < 0x20 ? L'?' : c);
  return text + L"\"";
}

struct Entry {
  std::vector<uint8_t> rawName;  // as stored, to compare with the local header
  std::wstring name;             // relative path with backslashes, no trailing one
  bool directory = false;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t crc = 0;
  uint32_t packedSize = 0;
  uint32_t size = 0;
  uint64_t headerAt = 0;
  uint64_t dataAt = 0;
};

class Archive {
 public:
  Archive(std::unique_ptr<FileReader> reader, std::wstring path)
      : reader_(std::move(reader)), path_(std::move(path)), size_(reader_->Size()) {}

  // The refusals build their text here, so each of the many call sites is
  // a call with a few pointers rather than a string built in place.
  [[noreturn]] void Refuse(const std::wstring& why) const;
  [[noreturn]] void Refuse(const wchar_t* why) const;
  // `before`, the entry name shown, then `after` and `more`.
  [[noreturn]] void Refuse(const wchar_t* before, const std::wstring& name, const wchar_t* after = L"",
                           const wchar_t* more = L"") const;
  uint64_t Size() const { return size_; }

  // `count` bytes at `offset` through a window that serves the many small
  // header reads; valid until the next call.
  const uint8_t* View(uint64_t offset, size_t count) {
    if (offset >= windowAt_ && offset - windowAt_ <= windowLength_ &&
        count <= windowLength_ - (offset - windowAt_)) {
      return window_.data() + (offset - windowAt_);
    }
    if (offset > size_ || count > size_ - offset) Refuse(L"is truncated");
    const size_t length = std::max<size_t>(count, std::min<uint64_t>(kChunk, size_ - offset));
    if (window_.size() < length) window_.resize(length);
    windowLength_ = 0;
    Read(offset, window_.data(), length);
    windowAt_ = offset;
    windowLength_ = length;
    return window_.data();
  }

  void Read(uint64_t offset, void* buffer, size_t count) {
    if (!reader_->ReadAt(offset, buffer, count)) Refuse(L"cannot be read");
  }

 private:
  std::unique_ptr<FileReader> reader_;
  std::wstring path_;
  uint64_t size_;
  std::vector<uint8_t> window_;
  uint64_t windowAt_ = 0;
  size_t windowLength_ = 0;
};

void Archive::Refuse(const std::wstring& why) const {
  throw AppError(L"The package \"" + path_ + L"\" " + why + L".");
}

void Archive::Refuse(const wchar_t* why) const { Refuse(std::wstring(why)); }

void Archive::Refuse(const wchar_t* before, const std::wstring& name, const wchar_t* after,
                     const wchar_t* more) const {
  Refuse(before + Shown(name) + after + more);
}

// The failures to write the install folder quote the path they were about.
[[noreturn]] void Fail(const wchar_t* before, const std::wstring& path, const wchar_t* after,
                       uint32_t code = 0) {
  throw AppError(before + path + after, code);
}

// The indices 0 .. count-1 in the order `compare` (negative, zero or
// positive, as for strings) gives them; equal items stay in index order.
// One routine serves every sort here, so std::sort is instantiated once.
using Compare = int (*)(const void* items, uint32_t a, uint32_t b);
std::vector<uint32_t> SortedOrder(size_t count, Compare compare, const void* items) {
  std::vector<uint32_t> order(count);
  for (size_t i = 0; i < count; ++i) order[i] = static_cast<uint32_t>(i);
  std::sort(order.begin(), order.end(), [compare, items](uint32_t a, uint32_t b) {
    const int c = compare(items, a, b);
    return c < 0 || (c == 0 && a < b);
  });
  return order;
}

struct Directory {
  std::vector<Entry> entries;
  uint64_t offset = 0;  // where the central directory begins and all entry data ends
  uint32_t size = 0;
  uint32_t count = 0;   // as the end record gives it
};

// The end record is the last signature whose comment reaches exactly to the
// end of the file: a comment may itself hold the signature bytes.
Directory ReadEndRecord(Archive& archive) {
  const uint64_t size = archive.Size();
  if (size < kEndSize) archive.Refuse(L"is not a ZIP archive, or is truncated");
  const size_t tail = static_cast<size_t>(std::min<uint64_t>(size, kEndSize + kMaxComment));
  const uint64_t tailAt = size - tail;
  const uint8_t* t = archive.View(tailAt, tail);
  size_t found = tail;
  bool signature = false;
  for (size_t i = tail - kEndSize + 1; i-- > 0;) {
    if (t[i] != 0x50 || Get32(t + i) != kEndSignature) continue;
    signature = true;
    if (i + kEndSize + Get16(t + i + 20) == tail) {
      found = i;
      break;
    }
  }
  if (found == tail) {
    archive.Refuse(signature ? L"is damaged: its end record does not reach the end of the file"
                             : L"is not a ZIP archive, or is truncated");
  }
  const uint8_t* end = t + found;
  const uint64_t endAt = tailAt + found;
  const uint16_t disk = Get16(end + 4), directoryDisk = Get16(end + 6);
  const uint16_t onDisk = Get16(end + 8), total = Get16(end + 10);
  const uint32_t directorySize = Get32(end + 12);
  const uint32_t offset = Get32(end + 16);
  if (onDisk == 0xFFFF || total == 0xFFFF || directorySize == 0xFFFFFFFF || offset == 0xFFFFFFFF) {
    archive.Refuse(L"is a Zip64 archive, which is not supported");
  }
  if (disk != 0 || directoryDisk != 0) archive.Refuse(L"spans several disks, which is not supported");
  if (onDisk != total) archive.Refuse(L"is damaged: its end record gives two different entry counts");
  if (uint64_t{offset} + directorySize > endAt) {
    archive.Refuse(L"is damaged: its central directory lies outside the archive");
  }
  if (uint64_t{offset} + directorySize + kZip64LocatorSize <= endAt &&
      Get32(archive.View(endAt - kZip64LocatorSize, 4)) == kZip64LocatorSignature) {
    archive.Refuse(L"is a Zip64 archive, which is not supported");
  }
  if (uint64_t{offset} + directorySize != endAt) {
    archive.Refuse(L"is damaged: its central directory does not end where its end record begins");
  }
  Directory directory;
  directory.offset = offset;
  directory.size = directorySize;
  directory.count = total;
  return directory;
}

void ReadCentralDirectory(Archive& archive, Directory& directory, const LegacyNameDecoder& decodeLegacy) {
  const uint64_t end = directory.offset + directory.size;
  uint64_t at = directory.offset;
  directory.entries.reserve(directory.count);
  for (uint32_t i = 0; i < directory.count; ++i) {
    if (end - at < kCentralSize) {
      archive.Refuse(L"is damaged: its central directory holds fewer entries than its end record counts");
    }
    const uint8_t* h = archive.View(at, kCentralSize);
    if (Get32(h) != kCentralSignature) archive.Refuse(L"is damaged: its central directory is malformed");
    Entry e;
    const uint16_t madeBy = Get16(h + 4);
    e.flags = Get16(h + 8);
    e.method = Get16(h + 10);
    e.crc = Get32(h + 16);
    e.packedSize = Get32(h + 20);
    e.size = Get32(h + 24);
    const uint16_t nameLength = Get16(h + 28);
    const uint64_t record = kCentralSize + nameLength + Get16(h + 30) + Get16(h + 32);
    const uint16_t startDisk = Get16(h + 34);
    const uint32_t attributes = Get32(h + 38);
    e.headerAt = Get32(h + 42);
    if (record > end - at) {
      archive.Refuse(L"is damaged: a central directory record runs past the directory's end");
    }
    const uint8_t* rawName = archive.View(at + kCentralSize, nameLength);
    e.rawName.assign(rawName, rawName + nameLength);
    at += record;

    std::wstring name;
    if (!(e.flags & kFlagUtf8)) {
      std::optional<std::wstring> decoded = decodeLegacy(e.rawName);
      if (!decoded) archive.Refuse(L"holds an entry whose name is not valid in this computer's code page");
      name = std::move(*decoded);
    } else if (!DecodeUtf8(e.rawName.data(), e.rawName.size(), name, /*replaceMalformed=*/false)) {
      // Strictly: an overlong form or a surrogate is how a name slips past
      // a check in one form and reaches the disk in another.
      archive.Refuse(L"holds an entry whose UTF-8 name is malformed");
    }
    if (e.packedSize == 0xFFFFFFFF || e.size == 0xFFFFFFFF || e.headerAt == 0xFFFFFFFF ||
        startDisk == 0xFFFF) {
      archive.Refuse(L"holds the Zip64 entry ", name, L", which is not supported");
    }
    if (startDisk != 0) archive.Refuse(L"spans several disks, which is not supported");
    if (e.flags & (kFlagEncrypted | kFlagStrongEncryption | kFlagMaskedHeaders)) {
      archive.Refuse(L"holds the encrypted entry ", name);
    }
    if (e.method != kStored && e.method != kDeflated) {
      archive.Refuse(L"holds the entry " + Shown(name) + L" compressed with method " + DecimalText(e.method) +
                     L", which is not supported");
    }
    if ((madeBy >> 8) == kHostUnix && ((attributes >> 16) & kUnixTypeMask) == kUnixSymlink) {
      archive.Refuse(L"holds the symbolic link ", name);
    }
    if (e.method == kStored && e.packedSize != e.size) {
      archive.Refuse(L"is damaged: the stored entry ", name, L" has two different sizes");
    }
    e.directory = !name.empty() && (name.back() == L'/' || name.back() == L'\\');
    if (e.directory) name.pop_back();
    if (const wchar_t* why = UnsafeName(name)) {
      archive.Refuse(L"holds the entry ", name, L", which ", why);
    }
    std::replace(name.begin(), name.end(), L'/', L'\\');
    e.name = std::move(name);
    directory.entries.push_back(std::move(e));
  }
  if (at != end) {
    archive.Refuse(L"is damaged: its central directory holds more entries than its end record counts");
  }
}

// The local headers must tell the same story as the central directory, and
// no two entries may share bytes: overlapping entries are how a small
// package claims to hold far more than it does.
void CheckLocalHeaders(Archive& archive, Directory& directory) {
  const uint64_t limit = directory.offset;
  for (Entry& e : directory.entries) {
    if (e.headerAt > limit || limit - e.headerAt < kLocalSize) {
      archive.Refuse(L"is damaged: the local header of ", e.name, L" lies outside the entry data");
    }
    const uint8_t* h = archive.View(e.headerAt, kLocalSize);
    if (Get32(h) != kLocalSignature) {
      archive.Refuse(L"is damaged: the local header of ", e.name, L" is missing");
    }
    const uint16_t flags = Get16(h + 6), method = Get16(h + 8);
    const uint32_t crc = Get32(h + 14), packedSize = Get32(h + 18), size = Get32(h + 22);
    const uint16_t nameLength = Get16(h + 26), extraLength = Get16(h + 28);
    if (packedSize == 0xFFFFFFFF || size == 0xFFFFFFFF) {
      archive.Refuse(L"holds the Zip64 entry ", e.name, L", which is not supported");
    }
    if (flags & (kFlagEncrypted | kFlagStrongEncryption)) {
      archive.Refuse(L"holds the encrypted entry ", e.name);
    }
    const bool descriptor = (flags & kFlagDescriptor) != 0;
    // With a data descriptor the writer did not know the values yet; the
    // central directory, written afterwards, has them.
    const auto agrees = [descriptor](uint32_t local, uint32_t central) {
      return local == central || (descriptor && local == 0);
    };
    if (method != e.method || descriptor != ((e.flags & kFlagDescriptor) != 0) || !agrees(crc, e.crc) ||
        !agrees(packedSize, e.packedSize) || !agrees(size, e.size)) {
      archive.Refuse(L"is damaged: the local and central headers of ", e.name, L" disagree");
    }
    e.dataAt = e.headerAt + kLocalSize + nameLength + extraLength;
    if (e.dataAt > limit) {
      archive.Refuse(L"is damaged: the local header of ", e.name, L" runs into the central directory");
    }
    const uint8_t* localName = archive.View(e.headerAt + kLocalSize, nameLength);
    if (nameLength != e.rawName.size() || std::memcmp(localName, e.rawName.data(), nameLength) != 0) {
      archive.Refuse(L"is damaged: the local and central headers of ", e.name, L" give different names");
    }
    if (e.packedSize > limit - e.dataAt) {
      archive.Refuse(L"is damaged: the data of ", e.name, L" runs into the central directory");
    }
  }
  // Each entry spans its local header and its data; in the order of their
  // headers, each must end before the next begins.
  const std::vector<Entry>& entries = directory.entries;
  const std::vector<uint32_t> order = SortedOrder(
      entries.size(),
      [](const void* items, uint32_t a, uint32_t b) {
        const auto* e = static_cast<const Entry*>(items);
        return e[a].headerAt < e[b].headerAt ? -1 : e[a].headerAt > e[b].headerAt ? 1 : 0;
      },
      entries.data());
  for (size_t i = 1; i < order.size(); ++i) {
    const Entry& before = entries[order[i - 1]];
    const Entry& e = entries[order[i]];
    if (e.headerAt < before.dataAt + before.packedSize) {
      archive.Refuse(L"is damaged: the entries " + Shown(before.name) + L" and " + Shown(e.name) + L" overlap");
    }
  }
}

// What the entries would do to the install folder as it is now: two entries
// for one file, a file where a folder must go or the other way round, or the
// package overwriting itself would all fail part way through.
//
// Names are compared in lower case. Returns the lower-case name of every
// folder the package makes, sorted and each once, for the extractor.
std::vector<std::wstring> CheckTargets(Archive& archive, FileSystem& files, const std::wstring& folder,
                                       const std::wstring& fileName, const std::vector<Entry>& entries) {
  // Each entry claims its own path, as a file or a folder, and every folder
  // above it; a claim is the first `length` characters of the entry's name.
  struct Claim {
    const Entry* entry;
    const std::wstring* key;  // the entry's name in lower case
    size_t length;
    bool file;
    std::wstring_view Key() const { return std::wstring_view(*key).substr(0, length); }
  };
  std::vector<std::wstring> keys;
  keys.reserve(entries.size());
  std::vector<Claim> claims;
  for (const Entry& e : entries) {
    const std::wstring& key = keys.emplace_back(AsciiLower(e.name));
    for (size_t slash = key.find(L'\\'); slash != std::wstring::npos; slash = key.find(L'\\', slash + 1)) {
      claims.push_back({&e, &key, slash, false});
    }
    claims.push_back({&e, &key, key.size(), !e.directory});
  }
  // In name order, and for one name in the order the entries claim it.
  const std::vector<uint32_t> order = SortedOrder(
      claims.size(),
      [](const void* items, uint32_t a, uint32_t b) {
        const auto* c = static_cast<const Claim*>(items);
        return c[a].Key().compare(c[b].Key());
      },
      claims.data());

  // [begin, end) of `order`: the claims on one name.
  const auto runEnd = [&](size_t begin) {
    size_t end = begin + 1;
    while (end < order.size() && claims[order[end]].Key() == claims[order[begin]].Key()) ++end;
    return end;
  };
  // A second file claim on a name is a duplicate; the first entry that
  // repeats a file is the one named.
  const Entry* twice = nullptr;
  for (size_t begin = 0, end; begin < order.size(); begin = end) {
    end = runEnd(begin);
    bool file = false;
    for (size_t i = begin; i < end; ++i) {
      const Claim& c = claims[order[i]];
      if (!c.file) continue;
      if (file) {
        if (!twice || c.entry < twice) twice = c.entry;
        break;
      }
      file = true;
    }
  }
  if (twice) archive.Refuse(L"holds ", twice->name, L" twice");

  const std::wstring packageKey = AsciiLower(fileName);
  for (size_t begin = 0, end; begin < order.size(); begin = end) {
    end = runEnd(begin);
    const Entry* file = nullptr;
    bool isFolder = false;
    for (size_t i = begin; i < end; ++i) {
      const Claim& c = claims[order[i]];
      if (c.file) {
        file = c.entry;
      } else {
        isFolder = true;
      }
    }
    if (!file) continue;
    if (isFolder) archive.Refuse(L"holds ", file->name, L" both as a file and as a folder");
    if (claims[order[begin]].Key() == packageKey) {
      archive.Refuse(L"holds an entry ", file->name, L" that would overwrite it");
    }
    if (files.DirectoryExists(folder + file->name)) {
      archive.Refuse(L"cannot be extracted: the folder ", folder + file->name, L" stands where a file goes");
    }
  }

  std::vector<std::wstring> folders;
  for (size_t begin = 0, end; begin < order.size(); begin = end) {
    end = runEnd(begin);
    // Named as the first entry to claim it names it.
    const Claim& c = claims[order[begin]];
    if (c.file) continue;  // by now a name is one file's alone or only folders'
    const std::wstring path = folder + c.entry->name.substr(0, c.length);
    if (files.FileExists(path)) {
      archive.Refuse(L"cannot be extracted: the file ", path, L" stands where a folder goes");
    }
    folders.emplace_back(c.Key());
  }
  return folders;
}

// Removes a part file that was not moved to its final name.
class PartFile {
 public:
  PartFile(FileSystem& files, std::wstring path) : files_(files), path_(std::move(path)) {}
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;
  ~PartFile() {
    if (!kept_) files_.RemoveFile(path_);
  }
  void Keep() { kept_ = true; }

 private:
  FileSystem& files_;
  std::wstring path_;
  bool kept_ = false;
};

class Extractor {
 public:
  // `folders`: the lower-case names of the folders the package makes,
  // sorted, as CheckTargets lists them.
  Extractor(Archive& archive, FileSystem& files, const std::wstring& folder, const std::vector<std::wstring>& folders)
      : archive_(archive), files_(files), folder_(folder), folders_(folders), made_(folders.size()),
        in_(new uint8_t[kChunk]), out_(new uint8_t[kChunk]) {}
  Extractor(const Extractor&) = delete;
  Extractor& operator=(const Extractor&) = delete;
  ~Extractor() {
    if (inflating_) inflateEnd(&stream_);
  }

  void Extract(const Entry& e) {
    if (e.directory) {
      MakeFolders(e.name);
      return;
    }
    const size_t slash = e.name.rfind(L'\\');
    if (slash != std::wstring::npos) MakeFolders(e.name.substr(0, slash));
    const std::wstring target = folder_ + e.name;
    const std::wstring part = target + kPartSuffix;
    PartFile guard(files_, part);
    {
      uint32_t code = 0;
      const std::unique_ptr<FileWriter> out = files_.CreateWrite(part, code);
      if (!out) Fail(L"Cannot create the file \"", target, L"\".", code);
      Unpack(e, *out, target);
      if (!out->Finish()) Fail(L"Cannot write the file \"", target, L"\".", kErrorWriteFault);
    }
    if (!files_.ReplaceFileWith(part, target)) Fail(L"Cannot replace the file \"", target, L"\": it may be in use.");
    guard.Keep();
  }

 private:
  // Every level of a relative folder path, each made at most once per package.
  void MakeFolders(const std::wstring& relative) {
    for (size_t end = 0; end != std::wstring::npos;) {
      end = relative.find(L'\\', end + 1);
      const std::wstring level = relative.substr(0, end);
      const std::wstring key = AsciiLower(level);
      const auto listed = std::lower_bound(folders_.begin(), folders_.end(), key);
      if (listed != folders_.end() && *listed == key) {
        uint8_t& made = made_[listed - folders_.begin()];
        if (made) continue;
        made = 1;
      }
      const std::wstring path = folder_ + level;
      if (files_.DirectoryExists(path)) continue;
      const uint32_t code = files_.MakeDirectory(path);
      if (code != 0 && !files_.DirectoryExists(path)) Fail(L"Cannot create the folder \"", path, L"\".", code);
    }
  }

  void Put(FileWriter& out, const uint8_t* data, size_t count, const std::wstring& target) {
    if (!out.Write(data, count)) Fail(L"Cannot write the file \"", target, L"\".", kErrorWriteFault);
  }

  void Unpack(const Entry& e, FileWriter& out, const std::wstring& target) {
    uint32_t crc = static_cast<uint32_t>(crc32(0, nullptr, 0));
    uint64_t at = e.dataAt;
    uint64_t left = e.packedSize;
    uint64_t written = 0;
    const auto take = [&]() {
      const size_t count = static_cast<size_t>(std::min<uint64_t>(kChunk, left));
      archive_.Read(at, in_.get(), count);
      at += count;
      left -= count;
      return count;
    };
    if (e.method == kStored) {
      while (left > 0) {
        const size_t count = take();
        crc = static_cast<uint32_t>(crc32(crc, in_.get(), static_cast<uInt>(count)));
        Put(out, in_.get(), count, target);
        written += count;
      }
    } else {
      StartInflate();
      for (;;) {
        if (stream_.avail_in == 0 && left > 0) {
          stream_.avail_in = static_cast<uInt>(take());
          stream_.next_in = in_.get();
        }
        // Room for one byte past the declared size, so inflating stops as
        // soon as an entry proves longer than it claims, however far the
        // compressed data would go on.
        const auto room = static_cast<size_t>(std::min<uint64_t>(kChunk, uint64_t{e.size} - written + 1));
        stream_.next_out = out_.get();
        stream_.avail_out = static_cast<uInt>(room);
        const int status = inflate(&stream_, Z_NO_FLUSH);
        const size_t produced = room - stream_.avail_out;
        if (written + produced > e.size) {
          archive_.Refuse(L"is damaged: ", e.name, L" inflates to more than its declared size");
        }
        if (produced > 0) {
          crc = static_cast<uint32_t>(crc32(crc, out_.get(), static_cast<uInt>(produced)));
          Put(out, out_.get(), produced, target);
          written += produced;
        }
        if (status == Z_STREAM_END) break;
        if (status == Z_MEM_ERROR) Fail(L"Not enough memory to extract ", Shown(e.name), L".");
        if (status == Z_BUF_ERROR && stream_.avail_in == 0 && left == 0) {
          archive_.Refuse(L"is damaged: the compressed data of ", e.name, L" ends early");
        }
        if (status != Z_OK) archive_.Refuse(L"is damaged: the compressed data of ", e.name, L" is corrupt");
      }
      if (stream_.avail_in != 0 || left != 0) {
        archive_.Refuse(L"is damaged: the compressed data of ", e.name, L" does not fill its declared size");
      }
    }
    if (written != e.size) archive_.Refuse(L"is damaged: ", e.name, L" is shorter than its declared size");
    if (crc != e.crc) archive_.Refuse(L"is damaged: ", e.name, L" fails its CRC check");
  }

  void StartInflate() {
    if (inflating_) {
      inflateReset(&stream_);
      return;
    }
    stream_ = z_stream{};
    // Raw deflate: ZIP entries carry no zlib header.
    if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK) {
      throw AppError(L"Not enough memory to extract the package.");
    }
    inflating_ = true;
  }

  Archive& archive_;
  FileSystem& files_;
  const std::wstring& folder_;
  const std::vector<std::wstring>& folders_;
  std::vector<uint8_t> made_;  // beside folders_: made, or found there, already
  std::unique_ptr<uint8_t[]> in_, out_;
  z_stream stream_{};
  bool inflating_ = false;
};

}  // namespace

void UnzipPackage(FileSystem& files, const std::wstring& folder, const std::wstring& fileName,
                  const LegacyNameDecoder& decodeLegacy, const UnzipHooks& hooks) {
  const std::wstring package = folder + fileName;
  uint32_t error = 0;
  std::unique_ptr<FileReader> reader = files.OpenRead(package, error);
  if (!reader) Fail(L"Cannot open the package \"", package, L"\".", error);
  Archive archive(std::move(reader), package);

  Directory directory = ReadEndRecord(archive);
  ReadCentralDirectory(archive, directory, decodeLegacy);
  CheckLocalHeaders(archive, directory);
  const std::vector<std::wstring> folders = CheckTargets(archive, files, folder, fileName, directory.entries);
  if (hooks.beforeWriting) {
    std::vector<std::wstring> names;
    uint64_t bytes = 0;
    for (const std::wstring& f : folders) names.push_back(f + L'\\');
    for (const Entry& e : directory.entries) {
      if (!e.directory) names.push_back(e.name);
      bytes += e.size;
    }
    hooks.beforeWriting(names, bytes);
  }

  Extractor extractor(archive, files, folder, folders);
  const Entry* first = nullptr;
  if (!hooks.first.empty()) {
    const std::wstring wanted = AsciiLower(hooks.first);
    for (const Entry& e : directory.entries) {
      if (!e.directory && AsciiLower(e.name) == wanted) first = &e;
    }
    if (first) {
      extractor.Extract(*first);
      if (hooks.firstWritten) hooks.firstWritten();
    }
  }
  for (const Entry& e : directory.entries) {
    if (&e != first) extractor.Extract(e);
  }
}

}  // namespace oq
