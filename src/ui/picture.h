#pragma once
// A picture from the program's resources (PNG or JPEG, resource type
// RCDATA), decoded by GDI+ and drawn stretched into a rectangle.

#include <windows.h>
#include <objidl.h>

#include "services/win32/handles.h"

namespace Gdiplus {
class GpImage;
}

namespace oq {

class Picture {
 public:
  Picture() = default;
  Picture(HINSTANCE instance, int resourceId);
  ~Picture();
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;

  explicit operator bool() const { return image_ != nullptr; }
  // Draws the picture stretched to the rectangle, keeping its transparency.
  void Draw(HDC dc, const RECT& where) const;

 private:
  // GDI+ reads an image's stream again while drawing it, so the stream
  // lives as long as the image.
  win::ComPtr<IStream> stream_;
  Gdiplus::GpImage* image_ = nullptr;
};

}  // namespace oq
