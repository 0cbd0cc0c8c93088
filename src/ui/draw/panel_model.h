#pragma once
// The state of the rounded panel, button and edit controls and the decisions
// made on it (what a setter repaints, which colours a paint uses, how a group
// of buttons moves, where the inner edit lies), kept apart from the windows
// so that they can be checked on the build host.

#include <cstdint>
#include <span>
#include <string>

#include "ui/draw/draw_style.h"

namespace oq {

// What a control must do after a property changed.
enum class Repaint : uint8_t {
  None,    // nothing changed
  Later,   // mark for the next paint cycle (InvalidateRect)
  Now,     // paint before returning (RedrawWindow with RDW_UPDATENOW)
  Fill,    // FillChanged: the fill colour changed
};

// Colours of one paint, before system colours are resolved.
struct PanelLook {
  TColor fill;
  TColor outline;
  TColor text;
};

// The disabled outline, whatever the control's colours.
inline constexpr TColor kDisabledOutline = 0xE6E6E6;

class PanelModel {
 public:
  const std::wstring& Text() const { return FText; }
  int32_t Rounding() const { return FRounding; }
  TRoundingType RoundType() const { return FRoundingType; }
  TColor FillColor() const { return FFillColor; }
  TColor FillColorFocused() const { return FFillColorFocused; }
  TColor BorderColor() const { return FBorderColor; }
  TColor BorderColorFocused() const { return FBorderColorFocused; }
  int32_t BorderOpacity() const { return FBorderOpacity; }
  TDashStyle BorderStyle() const { return FBorderStyle; }
  bool Enabled() const { return FEnabled; }
  bool HasMouse() const { return FHasMouse; }
  TColor FontColor() const { return FFontColor; }
  // The colours in effect while the mouse is elsewhere: the plain ones, or
  // the focused ones on a down button.
  TColor Fill() const { return FFill; }
  TColor Border() const { return FBorder; }
  int32_t IndentLeft() const { return FIndentLeft; }
  int32_t IndentRight() const { return FIndentRight; }

  // Each answers Repaint::None when the value is the current one.
  Repaint SetText(std::wstring value);
  Repaint SetRounding(int32_t value) { return Set(FRounding, value, Repaint::Later); }
  Repaint SetRoundType(TRoundingType value) { return Set(FRoundingType, value, Repaint::Later); }
  Repaint SetBorderStyle(TDashStyle value) { return Set(FBorderStyle, value, Repaint::Later); }
  // 0 to 255; it becomes the alpha byte of pen and brush.
  Repaint SetBorderOpacity(int32_t value) { return Set(FBorderOpacity, value, Repaint::Later); }
  Repaint SetEnabled(bool value) { return Set(FEnabled, value, Repaint::Later); }
  Repaint SetFillColor(TColor value);
  Repaint SetBorderColor(TColor value);
  Repaint SetFillColorFocused(TColor value) { return Set(FFillColorFocused, value, Repaint::Now); }
  Repaint SetBorderColorFocused(TColor value) { return Set(FBorderColorFocused, value, Repaint::Now); }
  Repaint SetFontColor(TColor value) { return Set(FFontColor, value, Repaint::Later); }

  // Mouse enter (true) and leave (false). A control that cannot hover
  // ignores both; otherwise a repaint is due only when the hover look
  // differs from the look in effect.
  Repaint SetHasMouse(bool value, bool canHover);

  // The colours of a paint in the current state.
  PanelLook Look() const;

  // Sets the in-effect colours for a down (true) or an up button.
  void ApplyDownLook(bool down);
  // Used by the group rule of ButtonModel.
  void SetFocusedFillDirect(TColor value) { FFillColorFocused = value; }

 private:
  template <class T>
  static Repaint Set(T& field, T value, Repaint then) {
    if (field == value) return Repaint::None;
    field = value;
    return then;
  }

  std::wstring FText;
  int32_t FRounding = 3;
  TRoundingType FRoundingType = rtAll;
  TColor FFillColor = clBtnFace;
  TColor FFillColorFocused = clBtnFace;
  TColor FBorderColor = clSilver;
  TColor FBorderColorFocused = clMedGray;
  TColor FFill = clBtnFace;
  TColor FBorder = clSilver;
  int32_t FBorderOpacity = 255;
  TDashStyle FBorderStyle = dsSolid;
  int32_t FIndentRight = 0;
  int32_t FIndentLeft = 0;
  bool FHasMouse = false;
  bool FEnabled = true;
  TColor FFontColor = clWindowText;  // the font's colour
};

// The fill colour a grouped button takes while down when its two fill
// colours were the same (RGB 209, 227, 248).
inline constexpr TColor kGroupDownFill = 0xF8E3D1;

// The button's own part; it changes the panel's in-effect colours.
class ButtonModel {
 public:
  bool Down() const { return FDown; }
  int32_t GroupIndex() const { return FGroupIndex; }
  // Does not touch other buttons of the group.
  Repaint SetDown(bool value, PanelModel& panel);
  // A positive index first makes sure a down button looks different.
  Repaint SetGroupIndex(int32_t value, PanelModel& panel);

 private:
  bool FDown = false;
  int32_t FGroupIndex = 0;
};

// A button as the group rules see it: one of the owner's components.
class GroupMember {
 public:
  virtual int32_t GroupIndex() const = 0;
  virtual bool Down() const = 0;
  virtual void SetDown(bool value) = 0;

 protected:
  ~GroupMember() = default;
};

// The group step of a mouse button released on `self`: with a positive
// group index and not down, every other button of the same group among the
// owner's components (in component order, `self` may be among them) goes
// up, then `self` goes down. Otherwise nothing changes.
void GroupStepOnMouseUp(GroupMember& self, std::span<GroupMember* const> components);

// The first down button of the group among the components; `self`'s group.
GroupMember* FindDownButton(const GroupMember& self, std::span<GroupMember* const> components);

struct ControlRect {
  int32_t left, top, width, height;
  friend bool operator==(const ControlRect&, const ControlRect&) = default;
};

// The rectangle the frame is drawn on: the outline runs through the first
// and last pixel rows and columns of a client of width x height.
struct FrameRect {
  float x, y, width, height;
};
FrameRect PanelFrame(const PanelModel& panel, int32_t clientWidth, int32_t clientHeight);

// Where TzEdit's inner edit lies in a frame of the given size. The top is
// fixed when the window is created; a resize moves only the rest.
inline constexpr int32_t kInnerEditTop = 5;
ControlRect InnerEditRect(int32_t frameWidth, int32_t frameHeight, int32_t rounding);

// When the placeholder of an empty edit hides: only when there is text, or
// also while the edit holds the keyboard focus.
enum THideEmptyText : uint8_t { heOnText, heOnFocus };

// Whether an edit shows its placeholder now.
bool ShowsEmptyText(bool textEmpty, const std::wstring& emptyText, bool focused, THideEmptyText hide);

}  // namespace oq
