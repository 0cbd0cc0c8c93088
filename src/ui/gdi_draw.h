#pragma once
// TzGDI: the GDI+ objects of one drawing pass over the flat API, and small
// owners for the GDI state the controls' painting takes and gives back.

#include <windows.h>

#include <cstdint>
#include <memory>

#include "services/win32/handles.h"
#include "ui/draw/draw_style.h"

namespace oq {

// GetSysColor in the shape the portable colour routines take.
uint32_t SystemColor(int index);

namespace gdip {
// Opaque GDI+ objects; the flat API is declared in gdi_draw.cpp only, so
// that this header can sit beside any other GDI+ declarations.
struct Graphics;
struct Path;
struct Brush;
struct Pen;
struct Deleter {
  void operator()(Graphics* p) const;
  void operator()(Path* p) const;
  void operator()(Brush* p) const;
  void operator()(Pen* p) const;
};
template <class T>
using Owned = std::unique_ptr<T, Deleter>;
}  // namespace gdip

// Starts GDI+ for the life of the object; the process needs one while any
// TzGDI exists. A failed start leaves every drawing call without effect.
class ScopedGdiplus {
 public:
  ScopedGdiplus();
  ~ScopedGdiplus();
  ScopedGdiplus(const ScopedGdiplus&) = delete;
  ScopedGdiplus& operator=(const ScopedGdiplus&) = delete;
  bool Started() const { return token_ != 0; }

 private:
  ULONG_PTR token_ = 0;
};

// One drawing pass on a device context: a graphics object without
// anti-aliasing, a pen and a solid brush of the given colours (system
// colours resolved now), both at alpha `bOpacity`. The path is made by
// NewPath (TzGDIDraw::DrawCanvas). Status codes are not examined: a failed
// call leaves its object null and later calls on it do nothing.
class TzGDI final : public RoundRectCanvas {
 public:
  TzGDI(HDC hdc, TColor drawColor, TColor borderColor, uint8_t bOpacity, float width);
  TzGDI(const TzGDI&) = delete;
  TzGDI& operator=(const TzGDI&) = delete;
  ~TzGDI() = default;

  void NewPath() override;
  void DrawRoundRect(float rx, float ry, float rwidth, float rheight, int32_t radius, TRoundingType rt,
                     TDashStyle ds) override;
  void FillPath() override;

  void DrawLine(float x1, float y1, float x2, float y2);
  void DrawArc(float x, float y, float width, float height, float startAngle, float sweepAngle);
  void AddLine(float x1, float y1, float x2, float y2);
  void AddArc(float x, float y, float width, float height, float startAngle, float sweepAngle);

 private:
  gdip::Owned<gdip::Graphics> FGraphics;
  gdip::Owned<gdip::Path> FPath;
  gdip::Owned<gdip::Brush> FBrush;
  gdip::Owned<gdip::Pen> FPen;
};

namespace gdi {

// A GDI object (font, brush, bitmap) deleted once.
template <class H>
void DeleteGdiObject(H h) {
  DeleteObject(h);
}
template <class H>
using Object = win::Unique<win::NullEmpty<H, DeleteGdiObject<H>>>;
using Font = Object<HFONT>;
using Brush = Object<HBRUSH>;
using Bitmap = Object<HBITMAP>;

// A memory device context, deleted once.
class MemoryDC {
 public:
  explicit MemoryDC(HDC compatibleWith) : dc_(CreateCompatibleDC(compatibleWith)) {}
  ~MemoryDC() {
    if (dc_) DeleteDC(dc_);
  }
  MemoryDC(const MemoryDC&) = delete;
  MemoryDC& operator=(const MemoryDC&) = delete;
  HDC Get() const { return dc_; }

 private:
  HDC dc_;
};

// GetDC / ReleaseDC.
class WindowDC {
 public:
  explicit WindowDC(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
  ~WindowDC() {
    if (dc_) ReleaseDC(hwnd_, dc_);
  }
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  HDC Get() const { return dc_; }

 private:
  HWND hwnd_;
  HDC dc_;
};

// BeginPaint / EndPaint.
class PaintDC {
 public:
  explicit PaintDC(HWND hwnd) : hwnd_(hwnd), dc_(BeginPaint(hwnd, &ps_)) {}
  ~PaintDC() { EndPaint(hwnd_, &ps_); }
  PaintDC(const PaintDC&) = delete;
  PaintDC& operator=(const PaintDC&) = delete;
  HDC Get() const { return dc_; }

 private:
  HWND hwnd_;
  PAINTSTRUCT ps_{};
  HDC dc_;
};

// Selects an object into a context and puts the previous one back.
class Select {
 public:
  Select(HDC dc, HGDIOBJ object) : dc_(dc), old_(object ? SelectObject(dc, object) : nullptr) {}
  ~Select() {
    if (old_) SelectObject(dc_, old_);
  }
  Select(const Select&) = delete;
  Select& operator=(const Select&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// SaveDC / RestoreDC.
class SavedState {
 public:
  explicit SavedState(HDC dc) : dc_(dc), saved_(SaveDC(dc)) {}
  ~SavedState() {
    if (saved_) RestoreDC(dc_, saved_);
  }
  SavedState(const SavedState&) = delete;
  SavedState& operator=(const SavedState&) = delete;

 private:
  HDC dc_;
  int saved_;
};

}  // namespace gdi
}  // namespace oq
