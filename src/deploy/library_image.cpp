#include "deploy/library_image.h"

#include <cstdint>
#include <cstring>
#include <memory>

namespace oq {

namespace {

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kMagicPe32 = 0x010B;
constexpr uint16_t kMagicPe32Plus = 0x020B;
constexpr uint16_t kFileExecutable = 0x0002;
constexpr uint16_t kFileDll = 0x2000;
constexpr size_t kCoffSize = 20;
constexpr size_t kSectionSize = 40;
constexpr size_t kExportDirectorySize = 40;
// Far more than any add-in exports; a count past it is a damaged table.
constexpr uint32_t kMaxExportNames = 1u << 16;
constexpr uint16_t kMaxSections = 96;
constexpr char kRegisterEntry[] = "DllRegisterServer";

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

class Image {
 public:
  explicit Image(FileReader& file) : file_(file), size_(file.Size()) {}

  bool Read(uint64_t offset, void* buffer, size_t count) {
    return offset <= size_ && count <= size_ - offset && file_.ReadAt(offset, buffer, count);
  }

  // The section table, kept to map addresses to file offsets.
  bool ReadSections(uint64_t at, uint16_t count) {
    if (count == 0 || count > kMaxSections) return false;
    sections_.reset(new uint8_t[count * kSectionSize]);
    sectionCount_ = count;
    return Read(at, sections_.get(), count * kSectionSize);
  }

  // The file offset of `count` bytes at `rva`; false when they do not all
  // lie in one section's data.
  bool OffsetOf(uint32_t rva, uint32_t count, uint64_t& offset) const {
    for (uint16_t i = 0; i < sectionCount_; ++i) {
      const uint8_t* s = sections_.get() + i * kSectionSize;
      const uint32_t virtualAddress = Get32(s + 12), rawSize = Get32(s + 16), rawAt = Get32(s + 20);
      if (rva < virtualAddress) continue;
      const uint32_t into = rva - virtualAddress;
      if (into >= rawSize || count > rawSize - into) continue;
      offset = uint64_t{rawAt} + into;
      return true;
    }
    return false;
  }

 private:
  FileReader& file_;
  uint64_t size_;
  std::unique_ptr<uint8_t[]> sections_;
  uint16_t sectionCount_ = 0;
};

bool ExportsRegisterEntry(Image& image, uint32_t directoryRva, uint32_t directorySize) {
  if (directoryRva == 0 || directorySize < kExportDirectorySize) return false;
  uint8_t directory[kExportDirectorySize];
  uint64_t at = 0;
  if (!image.OffsetOf(directoryRva, kExportDirectorySize, at) || !image.Read(at, directory, sizeof directory)) {
    return false;
  }
  const uint32_t nameCount = Get32(directory + 24), namesRva = Get32(directory + 32);
  if (nameCount > kMaxExportNames) return false;
  for (uint32_t i = 0; i < nameCount; ++i) {
    uint8_t pointer[4];
    if (!image.OffsetOf(namesRva + i * 4, 4, at) || !image.Read(at, pointer, 4)) return false;
    // The name and its terminating NUL, exactly: "DllRegisterServer@0", the
    // decorated name a 32-bit build may export, is not what regsvr32 asks for.
    char name[sizeof kRegisterEntry];
    if (image.OffsetOf(Get32(pointer), sizeof name, at) && image.Read(at, name, sizeof name) &&
        std::memcmp(name, kRegisterEntry, sizeof name) == 0) {
      return true;
    }
  }
  return false;
}

LibraryImage Judge(Image& image, bool excel64) {
  uint8_t dos[64];
  if (!image.Read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return LibraryImage::NotALibrary;
  const uint32_t peAt = Get32(dos + 60);
  uint8_t coff[4 + kCoffSize];
  if (!image.Read(peAt, coff, sizeof coff) || std::memcmp(coff, "PE\0\0", 4) != 0) return LibraryImage::NotALibrary;
  const uint16_t machine = Get16(coff + 4), sectionCount = Get16(coff + 6), optionalSize = Get16(coff + 20),
                 characteristics = Get16(coff + 22);
  if ((characteristics & (kFileDll | kFileExecutable)) != (kFileDll | kFileExecutable)) {
    return LibraryImage::NotALibrary;
  }

  // The export directory lies within the first 240 bytes of either format;
  // a longer optional header only moves the section table.
  uint8_t optional[240] = {};
  const size_t known = optionalSize < sizeof optional ? optionalSize : sizeof optional;
  if (known < 2 || !image.Read(peAt + sizeof coff, optional, known)) return LibraryImage::NotALibrary;
  const uint16_t magic = Get16(optional);
  // Where the data directories start, by the optional header's format.
  size_t directories = 0;
  if (machine == kMachineI386 && magic == kMagicPe32) {
    directories = 96;
  } else if (machine == kMachineAmd64 && magic == kMagicPe32Plus) {
    directories = 112;
  } else if (machine == kMachineI386 || machine == kMachineAmd64) {
    return LibraryImage::NotALibrary;  // the header contradicts itself
  } else {
    return LibraryImage::OtherMachine;
  }
  if (machine == kMachineI386 && excel64) return LibraryImage::Built32;
  if (machine == kMachineAmd64 && !excel64) return LibraryImage::Built64;

  if (known < directories + 8 || Get32(optional + directories - 4) == 0) return LibraryImage::NoRegistration;
  if (!image.ReadSections(peAt + sizeof coff + optionalSize, sectionCount)) return LibraryImage::NotALibrary;
  return ExportsRegisterEntry(image, Get32(optional + directories), Get32(optional + directories + 4))
             ? LibraryImage::Usable
             : LibraryImage::NoRegistration;
}

}  // namespace

LibraryImage CheckLibraryImage(FileSystem& files, const std::wstring& path, bool excel64) {
  uint32_t ignored = 0;
  const std::unique_ptr<FileReader> file = files.OpenRead(path, ignored);
  if (!file) return LibraryImage::NotALibrary;
  Image image(*file);
  return Judge(image, excel64);
}

}  // namespace oq
