#include "ui/banner.h"

#include <zlib.h>

#include <vector>

#include "ui/gdi_draw.h"
#include "ui/resource_ids.h"

namespace oq {

HBITMAP LoadBanner(HINSTANCE instance) {
  HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(OQ_IDB_BANNER), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  HGLOBAL loaded = found ? LoadResource(instance, found) : nullptr;
  const auto* packed = loaded ? static_cast<const Bytef*>(LockResource(loaded)) : nullptr;
  if (!packed) return nullptr;
  // Header, 256 palette entries and 164 x 314 pixels in rows of 164 bytes.
  std::vector<Bytef> dib(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD) + 164 * 314);
  uLongf size = static_cast<uLongf>(dib.size());
  if (uncompress(dib.data(), &size, packed, SizeofResource(instance, found)) != Z_OK ||
      size < sizeof(BITMAPINFOHEADER)) {
    return nullptr;
  }
  const auto* info = reinterpret_cast<const BITMAPINFO*>(dib.data());
  const BITMAPINFOHEADER& header = info->bmiHeader;
  const size_t colours = header.biClrUsed ? header.biClrUsed : (header.biBitCount <= 8 ? 1u << header.biBitCount : 0);
  const size_t offset = header.biSize + colours * sizeof(RGBQUAD);
  if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biBitCount != 8 || offset > size) return nullptr;
  const gdi::WindowDC screen(nullptr);
  return CreateDIBitmap(screen.Get(), &header, CBM_INIT, dib.data() + offset, info, DIB_RGB_COLORS);
}

}  // namespace oq
