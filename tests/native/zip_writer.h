#pragma once
// Builds small, well-formed ZIP archives in memory (stored entries) for tests
// that need a package but are not about the package format.

#include <zlib.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace oq::test {

inline std::string MakeStoredZip(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string local, central;
  auto put16 = [](std::string& s, uint32_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
  };
  auto put32 = [&](std::string& s, uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
  };
  for (const auto& [name, data] : entries) {
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    const auto offset = static_cast<uint32_t>(local.size());
    const auto size = static_cast<uint32_t>(data.size());
    put32(local, 0x04034b50);
    put16(local, 20), put16(local, 0), put16(local, 0), put16(local, 0), put16(local, 0x21);
    put32(local, crc), put32(local, size), put32(local, size);
    put16(local, static_cast<uint32_t>(name.size())), put16(local, 0);
    local += name;
    local += data;
    put32(central, 0x02014b50);
    put16(central, 20), put16(central, 20), put16(central, 0), put16(central, 0);
    put16(central, 0), put16(central, 0x21);
    put32(central, crc), put32(central, size), put32(central, size);
    put16(central, static_cast<uint32_t>(name.size())), put16(central, 0), put16(central, 0);
    put16(central, 0), put16(central, 0), put32(central, 0), put32(central, offset);
    central += name;
  }
  std::string end;
  put32(end, 0x06054b50);
  put16(end, 0), put16(end, 0);
  put16(end, static_cast<uint32_t>(entries.size())), put16(end, static_cast<uint32_t>(entries.size()));
  put32(end, static_cast<uint32_t>(central.size())), put32(end, static_cast<uint32_t>(local.size()));
  put16(end, 0);
  return local + central + end;
}

}  // namespace oq::test
