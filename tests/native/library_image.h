#pragma once
// Builds the smallest PE images the library check reads: headers, one
// section holding an export directory with the given names, and `tag` as
// trailing data so that two builds of "the same" library differ in content.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace oq::test {

struct ImageSpec {
  int bits = 64;        // 32: i386 with a PE32 header; 64: AMD64 with PE32+
  uint16_t machine = 0;  // overrides the machine that `bits` gives
  bool dll = true;      // IMAGE_FILE_DLL set
  std::vector<std::string> exports = {"DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"};
};

inline std::string MakeLibraryImage(const ImageSpec& spec, const std::string& tag = {}) {
  std::string out;
  auto put16 = [&](size_t at, uint32_t v) {
    if (out.size() < at + 2) out.resize(at + 2);
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>((v >> 8) & 0xFF);
  };
  auto put32 = [&](size_t at, uint32_t v) {
    put16(at, v & 0xFFFF);
    put16(at + 2, v >> 16);
  };
  const bool plus = spec.bits == 64;
  const uint32_t optionalSize = plus ? 240 : 224, directories = plus ? 112 : 96;
  const size_t pe = 64, optional = pe + 24, section = optional + optionalSize, data = 0x200;
  const uint32_t sectionRva = 0x1000;

  out.assign(data, '\0');
  out[0] = 'M', out[1] = 'Z';
  put32(60, pe);
  out[pe] = 'P', out[pe + 1] = 'E';
  put16(pe + 4, spec.machine ? spec.machine : (plus ? 0x8664 : 0x014C));
  put16(pe + 6, 1);
  put16(pe + 20, optionalSize);
  put16(pe + 22, 0x0002 | (plus ? 0x0020 : 0x0100) | (spec.dll ? 0x2000 : 0));
  put16(optional, plus ? 0x020B : 0x010B);
  put32(optional + directories - 4, 16);

  // The section: the export directory, the name pointers, the names.
  const uint32_t pointers = 40;
  std::string names;
  std::vector<uint32_t> nameAt;
  const uint32_t namesStart = pointers + 4 * static_cast<uint32_t>(spec.exports.size());
  for (const std::string& name : spec.exports) {
    nameAt.push_back(namesStart + static_cast<uint32_t>(names.size()));
    names += name;
    names.push_back('\0');
  }
  const size_t sectionSize = namesStart + names.size();
  out.resize(data + sectionSize);
  put32(data + 20, static_cast<uint32_t>(spec.exports.size()));  // functions
  put32(data + 24, static_cast<uint32_t>(spec.exports.size()));  // names
  put32(data + 32, sectionRva + pointers);
  for (size_t i = 0; i < nameAt.size(); ++i) put32(data + pointers + 4 * i, sectionRva + nameAt[i]);
  out.replace(data + namesStart, names.size(), names);

  put32(optional + directories, sectionRva);
  put32(optional + directories + 4, 40);
  std::memcpy(&out[section], ".edata", 6);
  put32(section + 8, static_cast<uint32_t>(sectionSize));
  put32(section + 12, sectionRva);
  put32(section + 16, static_cast<uint32_t>(sectionSize));
  put32(section + 20, data);
  return out + tag;
}

// A usable library of that bitness, told apart by its tag.
inline std::string Library(int bits, const std::string& tag) { return MakeLibraryImage({bits}, tag); }

}  // namespace oq::test
