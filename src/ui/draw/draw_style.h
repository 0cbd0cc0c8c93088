#pragma once
// Colours and the drawing style object of the rounded controls, without
// Win32: the system colour table and the GDI+ objects are reached through
// what the caller passes in, so the decisions can be tested on the host.

#include <cstdint>
#include <functional>
#include <utility>

#include "ui/draw/rounded_outline.h"

namespace oq {

// 0x00BBGGRR, or a system-colour reference: highest byte 0xFF, lowest byte
// the GetSysColor index.
using TColor = int32_t;

inline constexpr TColor clNone = 0x1FFFFFFF;  // no colour at all
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clMedGray = 0xA4A0A0;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSysColor = static_cast<TColor>(0xFF000000);
inline constexpr TColor clBtnFace = clSysColor | 15;    // COLOR_BTNFACE
inline constexpr TColor clWindowText = clSysColor | 8;  // COLOR_WINDOWTEXT

// GetSysColor or a stand-in: index -> 0x00BBGGRR.
using SysColorFn = uint32_t (*)(int index);

inline constexpr uint32_t RgbOf(uint8_t r, uint8_t g, uint8_t b) {
  return r | (uint32_t{g} << 8) | (uint32_t{b} << 16);
}

// The RGB value a colour stands for now; a system colour is looked up each
// time, so a changed system scheme shows at the next paint.
uint32_t ColorToRgb(TColor color, SysColorFn sysColor);

// GDI+'s 0xAARRGGBB of a colour at the given alpha; the colour's highest
// byte is dropped once it has been resolved.
uint32_t MakeArgb(uint8_t alpha, TColor color, SysColorFn sysColor);

// What TzGDIDraw needs of the GDI+ objects of one drawing pass (TzGDI).
class RoundRectCanvas {
 public:
  // Gives the canvas a new, empty path (alternate fill mode) to build into.
  virtual void NewPath() = 0;
  // Appends the outline to the path and strokes the whole path with the pen.
  virtual void DrawRoundRect(float rx, float ry, float rwidth, float rheight, int32_t radius, TRoundingType rt,
                             TDashStyle ds) = 0;
  // Fills the path with the brush.
  virtual void FillPath() = 0;

 protected:
  ~RoundRectCanvas() = default;
};

// The style of one rounded shape. The colours and width here only decide
// which passes run; what is drawn takes the pen and brush of the canvas.
class TzGDIDraw {
 public:
  using TNotifyEvent = std::function<void(TzGDIDraw& sender)>;

  TzGDIDraw() = default;
  TzGDIDraw(const TzGDIDraw&) = delete;
  TzGDIDraw& operator=(const TzGDIDraw&) = delete;

  // Not owned; must outlive every DrawCanvas call.
  RoundRectCanvas* GDI() const { return FGDI; }
  void SetGDI(RoundRectCanvas* gdi) { FGDI = gdi; }
  const TNotifyEvent& OnChange() const { return FOnChange; }
  void SetOnChange(TNotifyEvent onChange) { FOnChange = std::move(onChange); }

  TColor DrawColor() const { return FDrawColor; }
  TColor BorderColor() const { return FBorderColor; }
  uint8_t BorderOpacity() const { return FBorderOpacity; }
  int32_t BorderWidth() const { return FBorderWidth; }
  int32_t Rounding() const { return FRounding; }
  TRoundingType RoundingType() const { return FRoundingType; }
  bool Focus() const { return FFocus; }
  TColor FocusColor() const { return FFocusColor; }

  // Each stores a new value and reports it through Changed; setting the
  // current value again does neither.
  void SetDrawColor(TColor value) { Set(FDrawColor, value); }
  void SetBorderColor(TColor value) { Set(FBorderColor, value); }
  void SetBorderOpacity(uint8_t value) { Set(FBorderOpacity, value); }
  void SetBorderWidth(int32_t value) { Set(FBorderWidth, value); }
  void SetRounding(int32_t value) { Set(FRounding, value); }
  void SetRoundingType(TRoundingType value) { Set(FRoundingType, value); }
  void SetFocus(bool value) { Set(FFocus, value); }
  void SetFocusColor(TColor value) { Set(FFocusColor, value); }

  void Changed();

  // Fills, then outlines, (rx, ry, rwidth, rheight) on GDI(). A width or
  // height of exactly 1 draws nothing; clNone as DrawColor skips the fill
  // pass, clNone as BorderColor or a width of 0 or less the outline pass.
  void DrawCanvas(float rx, float ry, float rwidth, float rheight, TDashStyle ds);

 private:
  template <class T>
  void Set(T& field, T value) {
    if (field == value) return;
    field = value;
    Changed();
  }

  RoundRectCanvas* FGDI = nullptr;
  TColor FBorderColor = clNone;
  TColor FDrawColor = clSilver;
  int32_t FRounding = 0;
  int32_t FBorderWidth = 1;
  TNotifyEvent FOnChange;
  TRoundingType FRoundingType = rtAll;
  bool FFocus = false;
  TColor FFocusColor = clBlack;
  uint8_t FBorderOpacity = 0;
};

}  // namespace oq
