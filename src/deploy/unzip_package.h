#pragma once
// The package extractor: a small ZIP reader over zlib that reaches the disk
// only through the FileSystem seam.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "seam/machine.h"

namespace oq {

// Extracts every entry of the archive `folder + fileName` into `folder`
// (which ends with a backslash), keeping each entry's relative path and
// creating the subfolders it needs. Existing files of the same name are
// replaced.
//
// The whole archive is checked before anything is written: an entry whose
// name could land outside `folder` or on a device, a symbolic link, an
// encrypted or Zip64 entry, an unknown method, or headers that disagree make
// the package refused as a whole. Each file is written under a temporary
// name beside its target and moved over it only once its size and CRC-32
// are right, so no file is ever left half written under its final name; a
// failure part way leaves the entries extracted before it in place.
//
// Raises AppError naming the package when it cannot be read or is refused,
// and naming the file, with the system code, when a file cannot be written.
// Memory stays bounded by the central directory and fixed buffers, whatever
// the size of the entries.
//
// What the caller sees of an extraction on the way; both are optional.
struct UnzipHooks {
  // Once the archive has passed its checks and before the first byte lands:
  // what the package puts into `folder`, each file's relative path and each
  // folder's with a trailing backslash, and the bytes its files take once
  // extracted. An error it raises ends the extraction with nothing written.
  std::function<void(const std::vector<std::wstring>& names, uint64_t bytes)> beforeWriting;
  // The file entry of this relative name (letter case ignored) is extracted
  // before all the others, and `firstWritten` is called once it is in
  // place: an error it raises ends the extraction with nothing else written.
  std::wstring first;
  std::function<void()> firstWritten;
};
// Entry names without the UTF-8 flag are in the code page of the machine
// that made the archive, which ZIP does not record: they are read as the
// machine's OEM code page, as Windows' own compressed folders and the common
// archivers read them. nullopt for bytes that are no text in it.
using LegacyNameDecoder = std::function<std::optional<std::wstring>(const std::vector<uint8_t>&)>;
void UnzipPackage(FileSystem& files, const std::wstring& folder, const std::wstring& fileName,
                  const LegacyNameDecoder& decodeLegacy, const UnzipHooks& hooks = {});

}  // namespace oq
