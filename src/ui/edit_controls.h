#pragma once
// The rounded text field: TzEdit, a TKelvoPanel frame around one borderless
// standard edit, which TzEmptyEdit extends with a grey placeholder text.
//
// A "TzEdit" window is made like any control (see panel.h). To its parent it
// is the edit: its window text is the inner edit's text, WM_SETFONT reaches
// the inner edit, the inner edit's notifications (EN_CHANGE, EN_SETFOCUS,
// EN_KILLFOCUS, ...) arrive as WM_COMMAND with the frame's ID and handle,
// and focus given to the frame goes to the inner edit. WS_TABSTOP given to
// the frame is the inner edit's; the frame itself is never a tab stop.

#include <windows.h>

#include <string>
#include <utility>

#include "ui/draw/panel_model.h"
#include "ui/gdi_draw.h"
#include "ui/panel.h"

namespace oq {

// A standard edit window, subclassed to draw the placeholder.
class TzEmptyEdit {
 public:
  TzEmptyEdit() = default;
  ~TzEmptyEdit();
  TzEmptyEdit(const TzEmptyEdit&) = delete;
  TzEmptyEdit& operator=(const TzEmptyEdit&) = delete;

  // Takes over the edit window `edit` for its life. False when subclassing
  // failed.
  bool Attach(HWND edit);
  HWND Handle() const { return hwnd_; }

  // Stored only; the next paint shows it.
  const std::wstring& EmptyText() const { return FEmptyText; }
  void SetEmptyText(std::wstring text) { FEmptyText = std::move(text); }
  THideEmptyText HideEmptyText() const { return FHideEmptyText; }
  void SetHideEmptyText(THideEmptyText value) { FHideEmptyText = value; }

  // The background colour; the parent's WM_CTLCOLOREDIT and
  // WM_CTLCOLORSTATIC answer with ColorMessage.
  TColor Color() const { return FColor; }
  void SetColor(TColor color);
  // Prepares the edit's context and gives the background brush.
  LRESULT ColorMessage(HDC dc);

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self);
  void PaintEmptyText();
  bool TextEmpty() const { return GetWindowTextLengthW(hwnd_) == 0; }

  HWND hwnd_ = nullptr;
  std::wstring FEmptyText;
  THideEmptyText FHideEmptyText = heOnText;
  TColor FColor = clBtnFace;
  gdi::Brush brush_;
  uint32_t brushRgb_ = 0;
};

class TzEdit final : public TKelvoPanel {
 public:
  static constexpr const wchar_t* kClassName = L"TzEdit";
  static TzEdit* FromHandle(HWND hwnd);

  TzEmptyEdit& Edit() { return FEdit; }

  const std::wstring& EmptyText() const { return FEdit.EmptyText(); }
  // Stores the placeholder and repaints the inner edit at once.
  void SetEmptyText(std::wstring text);
  THideEmptyText HideEmptyText() const { return FEdit.HideEmptyText(); }
  void SetHideEmptyText(THideEmptyText value) { FEdit.SetHideEmptyText(value); }

  // The inner edit's; the frame keeps its enabled look.
  bool Enabled() const override;
  void SetEnabled(bool value) override;

  // The frame's own flag, which is always given away: false.
  bool TabStop() const;
  // Makes the inner edit a tab stop or not.
  void SetTabStop(bool value);

  // Places the inner edit from the frame's size and rounding.
  void AlignEdit();

 private:
  template <class T>
  friend LRESULT CALLBACK KelvoWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  TzEdit() = default;

  bool CanHover() const override { return false; }
  void FillChanged() override;
  SIZE DefaultSize() const override { return {100, 24}; }
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  bool CreateInnerEdit(const CREATESTRUCTW& cs);

  TzEmptyEdit FEdit;
};

}  // namespace oq
