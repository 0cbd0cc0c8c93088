#include "ui/gdi_draw.h"

using oq::gdip::Brush;
using oq::gdip::Graphics;
using oq::gdip::Path;
using oq::gdip::Pen;

// The parts of gdiplus.dll's flat API that the controls use. Status results
// are ints; the enumerations are passed as their ordinals.
extern "C" {
struct OqGdiplusStartupInput {
  UINT32 GdiplusVersion;
  void* DebugEventCallback;
  BOOL SuppressBackgroundThread;
  BOOL SuppressExternalCodecs;
};
struct OqGdiplusStartupOutput {
  void* NotificationHook;
  void* NotificationUnhook;
};
int WINAPI GdiplusStartup(ULONG_PTR* token, const OqGdiplusStartupInput* input, OqGdiplusStartupOutput* output);
void WINAPI GdiplusShutdown(ULONG_PTR token);
int WINAPI GdipCreatePen1(uint32_t argb, float width, int unit, Pen** pen);
int WINAPI GdipCreateSolidFill(uint32_t argb, Brush** brush);
int WINAPI GdipCreateFromHDC(HDC hdc, Graphics** graphics);
int WINAPI GdipSetSmoothingMode(Graphics* graphics, int mode);
int WINAPI GdipCreatePath(int fillMode, Path** path);
int WINAPI GdipAddPathArc(Path* path, float x, float y, float width, float height, float start, float sweep);
int WINAPI GdipAddPathLine(Path* path, float x1, float y1, float x2, float y2);
int WINAPI GdipDrawPath(Graphics* graphics, Pen* pen, Path* path);
int WINAPI GdipFillPath(Graphics* graphics, Brush* brush, Path* path);
int WINAPI GdipDrawLine(Graphics* graphics, Pen* pen, float x1, float y1, float x2, float y2);
int WINAPI GdipDrawArc(Graphics* graphics, Pen* pen, float x, float y, float width, float height, float start,
                       float sweep);
int WINAPI GdipDeletePen(Pen* pen);
int WINAPI GdipDeleteBrush(Brush* brush);
int WINAPI GdipDeleteGraphics(Graphics* graphics);
int WINAPI GdipDeletePath(Path* path);
}

namespace oq {

namespace {
constexpr int kUnitWorld = 0;
constexpr int kSmoothingModeDefault = 0;  // no anti-aliasing
constexpr int kFillModeAlternate = 0;
}  // namespace

uint32_t SystemColor(int index) { return GetSysColor(index); }

void gdip::Deleter::operator()(Graphics* p) const { GdipDeleteGraphics(p); }
void gdip::Deleter::operator()(Path* p) const { GdipDeletePath(p); }
void gdip::Deleter::operator()(Brush* p) const { GdipDeleteBrush(p); }
void gdip::Deleter::operator()(Pen* p) const { GdipDeletePen(p); }

ScopedGdiplus::ScopedGdiplus() {
  // No background thread: the program's one thread drives GDI+; the
  // notification hooks this asks for are never called.
  const OqGdiplusStartupInput input{1, nullptr, TRUE, FALSE};
  OqGdiplusStartupOutput output{};
  if (GdiplusStartup(&token_, &input, &output) != 0) token_ = 0;
}

ScopedGdiplus::~ScopedGdiplus() {
  if (token_) GdiplusShutdown(token_);
}

TzGDI::TzGDI(HDC hdc, TColor drawColor, TColor borderColor, uint8_t bOpacity, float width) {
  Pen* pen = nullptr;
  GdipCreatePen1(MakeArgb(bOpacity, borderColor, SystemColor), width, kUnitWorld, &pen);
  FPen.reset(pen);
  Brush* brush = nullptr;
  GdipCreateSolidFill(MakeArgb(bOpacity, drawColor, SystemColor), &brush);
  FBrush.reset(brush);
  Graphics* graphics = nullptr;
  GdipCreateFromHDC(hdc, &graphics);
  FGraphics.reset(graphics);
  GdipSetSmoothingMode(FGraphics.get(), kSmoothingModeDefault);
}

void TzGDI::NewPath() {
  Path* path = nullptr;
  GdipCreatePath(kFillModeAlternate, &path);
  FPath.reset(path);
}

void TzGDI::DrawRoundRect(float rx, float ry, float rwidth, float rheight, int32_t radius, TRoundingType rt,
                          TDashStyle) {
  for (const PathSegment& s : RoundedOutline(rx, ry, rwidth, rheight, radius, rt)) {
    if (s.kind == PathSegment::Kind::Arc) {
      AddArc(s.x, s.y, s.width, s.height, s.startAngle, s.sweepAngle);
    } else {
      AddLine(s.x1, s.y1, s.x2, s.y2);
    }
  }
  GdipDrawPath(FGraphics.get(), FPen.get(), FPath.get());
}

void TzGDI::FillPath() { GdipFillPath(FGraphics.get(), FBrush.get(), FPath.get()); }

void TzGDI::DrawLine(float x1, float y1, float x2, float y2) {
  GdipDrawLine(FGraphics.get(), FPen.get(), x1, y1, x2, y2);
}

void TzGDI::DrawArc(float x, float y, float width, float height, float startAngle, float sweepAngle) {
  GdipDrawArc(FGraphics.get(), FPen.get(), x, y, width, height, startAngle, sweepAngle);
}

void TzGDI::AddLine(float x1, float y1, float x2, float y2) { GdipAddPathLine(FPath.get(), x1, y1, x2, y2); }

void TzGDI::AddArc(float x, float y, float width, float height, float startAngle, float sweepAngle) {
  GdipAddPathArc(FPath.get(), x, y, width, height, startAngle, sweepAngle);
}

}  // namespace oq
