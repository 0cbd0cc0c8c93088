#pragma once
// The rounded, custom-drawn child windows of the main window: the panel
// TKelvoPanel and the push button TzButton (TzEdit is in edit_controls.h).
//
// They are window classes like the standard controls: after
// RegisterKelvoControls, CreateWindowExW(0, TzButton::kClassName, L"Install",
// WS_CHILD | WS_VISIBLE, ...) makes one, and the window owns its object,
// which FromHandle reaches. The window text is the caption (WM_SETTEXT and
// WM_GETTEXT work), WM_SETFONT sets the font (not owned), EnableWindow and
// SetEnabled are the same thing. A click on a TzButton, or BM_CLICK sent to
// an enabled one, sends WM_COMMAND (id, BN_CLICKED) to its parent.
//
// The controls look transparent outside their rounded frame: each paint
// first has the parent paint its background and content into the buffer
// (WM_ERASEBKGND, then WM_PAINT with the device context as wParam, so the
// parent must paint into that context when it is given one, as STATIC
// windows do), then the STATIC siblings (labels) that reach under the
// control. The controls clip their children: a child window, such as a
// picture laid over a button, shows its own pixels; the mouse over such a
// child still counts as over the control.

#include <windows.h>

#include <string>
#include <vector>

#include "ui/draw/panel_model.h"

namespace oq {

// Registers "TKelvoPanel", "TzButton" and "TzEdit" for `instance`. False
// only when a class could not be registered for another reason than
// already being registered.
bool RegisterKelvoControls(HINSTANCE instance);

class TKelvoPanel {
 public:
  static constexpr const wchar_t* kClassName = L"TKelvoPanel";

  // The object behind a window of any of the three classes in this
  // process; null for any other window.
  static TKelvoPanel* FromHandle(HWND hwnd);

  TKelvoPanel(const TKelvoPanel&) = delete;
  TKelvoPanel& operator=(const TKelvoPanel&) = delete;

  HWND Handle() const { return hwnd_; }
  const PanelModel& Model() const { return model_; }

  // The window text.
  std::wstring Text() const;
  void SetText(const std::wstring& text);
  int32_t Rounding() const { return model_.Rounding(); }
  void SetRounding(int32_t value) { Apply(model_.SetRounding(value)); }
  TRoundingType RoundType() const { return model_.RoundType(); }
  void SetRoundType(TRoundingType value) { Apply(model_.SetRoundType(value)); }
  TColor FillColor() const { return model_.FillColor(); }
  void SetFillColor(TColor value) { Apply(model_.SetFillColor(value)); }
  TColor FillColorFocused() const { return model_.FillColorFocused(); }
  void SetFillColorFocused(TColor value) { Apply(model_.SetFillColorFocused(value)); }
  TColor BorderColor() const { return model_.BorderColor(); }
  void SetBorderColor(TColor value) { Apply(model_.SetBorderColor(value)); }
  TColor BorderColorFocused() const { return model_.BorderColorFocused(); }
  void SetBorderColorFocused(TColor value) { Apply(model_.SetBorderColorFocused(value)); }
  int32_t BorderOpacity() const { return model_.BorderOpacity(); }
  void SetBorderOpacity(int32_t value) { Apply(model_.SetBorderOpacity(value)); }
  TDashStyle BorderStyle() const { return model_.BorderStyle(); }
  void SetBorderStyle(TDashStyle value) { Apply(model_.SetBorderStyle(value)); }
  TColor FontColor() const { return model_.FontColor(); }
  void SetFontColor(TColor value) { Apply(model_.SetFontColor(value)); }
  virtual bool Enabled() const { return model_.Enabled(); }
  // Input is enabled or disabled with the look (EnableWindow).
  virtual void SetEnabled(bool value);
  bool HasMouse() const { return model_.HasMouse(); }

 protected:
  TKelvoPanel() = default;
  virtual ~TKelvoPanel() = default;

  virtual bool CanHover() const { return true; }
  // After FillColor changed.
  virtual void FillChanged();
  virtual SIZE DefaultSize() const { return {200, 100}; }
  virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  void Apply(Repaint repaint);
  // The look alone, on whatever the context already holds.
  void Paint(HDC dc);
  // The parent's background and content, the labels under the control,
  // then the look.
  void PaintWithParent(HDC dc);

  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;  // WM_SETFONT's, owned by whoever made it
  PanelModel model_;

 private:
  template <class T>
  friend LRESULT CALLBACK KelvoWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  void PaintBuffered();
  void PaintLabelsUnder(HDC dc, HWND parent);
  void OnMouseMove();
  void OnMouseLeave();
  void OnChildSetCursor();
  void OnHoverTimer();
  bool CursorWithin() const;

  bool tracking_ = false;  // a TME_LEAVE request is out
};

class TzButton final : public TKelvoPanel, public GroupMember {
 public:
  static constexpr const wchar_t* kClassName = L"TzButton";
  static TzButton* FromHandle(HWND hwnd);

  bool Down() const override { return button_.Down(); }
  void SetDown(bool value) override { Apply(button_.SetDown(value, model_)); }
  int32_t GroupIndex() const override { return button_.GroupIndex(); }
  void SetGroupIndex(int32_t value) { Apply(button_.SetGroupIndex(value, model_)); }
  // The window whose TzButton descendants form the groups; the top-level
  // window the button was created in unless set.
  HWND Owner() const { return FOwner; }
  void SetOwner(HWND owner) { FOwner = owner; }
  // The first down button of this button's group, possibly this one.
  TzButton* GetDownButton() const;

 private:
  template <class T>
  friend LRESULT CALLBACK KelvoWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  TzButton() = default;

  SIZE DefaultSize() const override { return {80, 28}; }
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  // The owner's buttons in component (creation) order.
  std::vector<GroupMember*> Components() const;
  static BOOL CALLBACK CollectButton(HWND hwnd, LPARAM buttons);
  // Sends BN_CLICKED; false when the handler destroyed the button.
  bool Click();
  void MouseUp();

  ButtonModel button_;
  HWND FOwner = nullptr;
  bool pressed_ = false;  // the left button went down on the control
};

}  // namespace oq
