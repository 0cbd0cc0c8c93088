#include "ui/draw/draw_style.h"

namespace oq {

uint32_t ColorToRgb(TColor color, SysColorFn sysColor) {
  return color < 0 ? sysColor(color & 0xFF) : static_cast<uint32_t>(color);
}

uint32_t MakeArgb(uint8_t alpha, TColor color, SysColorFn sysColor) {
  const uint32_t rgb = ColorToRgb(color, sysColor);
  const uint32_t r = rgb & 0xFF, g = (rgb >> 8) & 0xFF, b = (rgb >> 16) & 0xFF;
  return (uint32_t{alpha} << 24) | (r << 16) | (g << 8) | b;
}

void TzGDIDraw::Changed() {
  if (FOnChange) FOnChange(*this);
}

void TzGDIDraw::DrawCanvas(float rx, float ry, float rwidth, float rheight, TDashStyle ds) {
  if (rheight == 1 || rwidth == 1) return;
  if (!FGDI) return;
  FGDI->NewPath();
  if (FDrawColor != clNone) {
    FGDI->DrawRoundRect(rx, ry, rwidth, rheight, FRounding, FRoundingType, dsSolid);
    FGDI->FillPath();
  }
  // A second copy of the outline on the same path, stroked again, so that
  // the outline lies on top of the fill that covered half of the first.
  if (FBorderWidth > 0 && FBorderColor != clNone) {
    FGDI->DrawRoundRect(rx, ry, rwidth, rheight, FRounding, FRoundingType, ds);
  }
}

}  // namespace oq
