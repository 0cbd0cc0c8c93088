#include "ui/picture.h"

#include <shlwapi.h>
#include <gdiplus.h>

namespace oq {

using namespace Gdiplus::DllExports;

Picture::Picture(HINSTANCE instance, int resourceId) {
  HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(resourceId), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  HGLOBAL loaded = found ? LoadResource(instance, found) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return;
  *stream_.Put() = SHCreateMemStream(static_cast<const BYTE*>(bytes), SizeofResource(instance, found));
  if (!stream_) return;
  Gdiplus::GpBitmap* bitmap = nullptr;
  if (GdipCreateBitmapFromStream(stream_.Get(), &bitmap) == Gdiplus::Ok) image_ = bitmap;
}

Picture::~Picture() {
  if (image_) GdipDisposeImage(image_);
}

void Picture::Draw(HDC dc, const RECT& where) const {
  if (!image_) return;
  Gdiplus::GpGraphics* graphics = nullptr;
  if (GdipCreateFromHDC(dc, &graphics) != Gdiplus::Ok) return;
  GdipDrawImageRectI(graphics, image_, where.left, where.top, where.right - where.left, where.bottom - where.top);
  GdipDeleteGraphics(graphics);
}

}  // namespace oq
