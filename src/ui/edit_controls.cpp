#include "ui/edit_controls.h"

#include "ui/common_controls.h"

namespace oq {

namespace {

constexpr UINT_PTR kSubclassId = 1;
constexpr int kInnerEditId = 1;

void SetStyleBit(HWND hwnd, LONG_PTR bit, bool on) {
  const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
  SetWindowLongPtrW(hwnd, GWL_STYLE, on ? style | bit : style & ~bit);
}

}  // namespace

// ---------------------------------------------------------------- TzEmptyEdit

TzEmptyEdit::~TzEmptyEdit() {
  if (hwnd_) comctl::RemoveSubclass(hwnd_, SubclassProc, kSubclassId);
}

bool TzEmptyEdit::Attach(HWND edit) {
  if (!comctl::SetSubclass(edit, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) return false;
  hwnd_ = edit;
  return true;
}

void TzEmptyEdit::SetColor(TColor color) {
  FColor = color;
  if (hwnd_) InvalidateRect(hwnd_, nullptr, TRUE);
}

LRESULT TzEmptyEdit::ColorMessage(HDC dc) {
  // A system colour is looked up at every paint; the brush follows it.
  const uint32_t rgb = ColorToRgb(FColor, SystemColor);
  if (!brush_ || rgb != brushRgb_) {
    brush_.Reset(CreateSolidBrush(rgb));
    brushRgb_ = rgb;
  }
  SetBkColor(dc, rgb);
  SetTextColor(dc, GetSysColor(IsWindowEnabled(hwnd_) ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
  return reinterpret_cast<LRESULT>(brush_.Get());
}

void TzEmptyEdit::PaintEmptyText() {
  if (!ShowsEmptyText(TextEmpty(), FEmptyText, GetFocus() == hwnd_, FHideEmptyText)) return;
  gdi::WindowDC dc(hwnd_);
  if (!dc.Get()) return;
  LOGFONTW lf{};
  const auto font = reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0));
  GetObjectW(font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
  lf.lfHeight = -MulDiv(9, GetDeviceCaps(dc.Get(), LOGPIXELSY), 72);
  gdi::Font nine(CreateFontIndirectW(&lf));
  gdi::Select selected(dc.Get(), nine.Get());
  SetTextColor(dc.Get(), ColorToRgb(clGray, SystemColor));
  SetBkColor(dc.Get(), ColorToRgb(FColor, SystemColor));
  SetBkMode(dc.Get(), OPAQUE);
  TextOutW(dc.Get(), 3, 0, FEmptyText.c_str(), static_cast<int>(FEmptyText.size()));
}

LRESULT CALLBACK TzEmptyEdit::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR selfPtr) {
  auto* self = reinterpret_cast<TzEmptyEdit*>(selfPtr);
  switch (message) {
    case WM_PAINT: {
      const LRESULT result = comctl::DefaultSubclassProc(hwnd, message, wParam, lParam);
      self->PaintEmptyText();
      return result;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
      const LRESULT result = comctl::DefaultSubclassProc(hwnd, message, wParam, lParam);
      // A placeholder that hides on focus comes and goes with it.
      if (!self->FEmptyText.empty() && self->TextEmpty()) InvalidateRect(hwnd, nullptr, TRUE);
      return result;
    }
    case WM_NCDESTROY:
      comctl::RemoveSubclass(hwnd, SubclassProc, kSubclassId);
      self->hwnd_ = nullptr;
      break;
  }
  return comctl::DefaultSubclassProc(hwnd, message, wParam, lParam);
}

// ---------------------------------------------------------------- TzEdit

TzEdit* TzEdit::FromHandle(HWND hwnd) {
  TKelvoPanel* panel = TKelvoPanel::FromHandle(hwnd);
  wchar_t cls[16];
  return panel && GetClassNameW(hwnd, cls, 16) && lstrcmpW(cls, kClassName) == 0 ? static_cast<TzEdit*>(panel)
                                                                                   : nullptr;
}

void TzEdit::SetEmptyText(std::wstring text) {
  FEdit.SetEmptyText(std::move(text));
  if (FEdit.Handle()) RedrawWindow(FEdit.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

bool TzEdit::Enabled() const { return FEdit.Handle() && IsWindowEnabled(FEdit.Handle()); }

void TzEdit::SetEnabled(bool value) {
  if (FEdit.Handle()) EnableWindow(FEdit.Handle(), value);
}

bool TzEdit::TabStop() const { return (GetWindowLongPtrW(hwnd_, GWL_STYLE) & WS_TABSTOP) != 0; }

void TzEdit::SetTabStop(bool value) {
  // Tab must land in the edit, never on the frame around it.
  if (FEdit.Handle()) SetStyleBit(FEdit.Handle(), WS_TABSTOP, value);
  SetStyleBit(hwnd_, WS_TABSTOP, false);
}

void TzEdit::AlignEdit() {
  if (!FEdit.Handle()) return;
  RECT frame{}, inner{};
  GetClientRect(hwnd_, &frame);
  GetWindowRect(FEdit.Handle(), &inner);
  MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&inner), 2);
  const ControlRect r = InnerEditRect(frame.right, frame.bottom, model_.Rounding());
  MoveWindow(FEdit.Handle(), r.left, inner.top, r.width, r.height, TRUE);
}

void TzEdit::FillChanged() {
  TKelvoPanel::FillChanged();
  FEdit.SetColor(model_.FillColor());
}

bool TzEdit::CreateInnerEdit(const CREATESTRUCTW& cs) {
  const ControlRect r = InnerEditRect(cs.cx, cs.cy, model_.Rounding());
  const wchar_t* text = cs.lpszName && !IS_INTRESOURCE(cs.lpszName) ? cs.lpszName : L"";
  const DWORD tabStop = (cs.style & WS_TABSTOP) ? WS_TABSTOP : 0;
  HWND edit = CreateWindowExW(0, L"EDIT", text, WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL | tabStop, r.left, r.top,
                              r.width, r.height, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kInnerEditId)),
                              cs.hInstance, nullptr);
  if (!edit) return false;
  if (!FEdit.Attach(edit)) {
    DestroyWindow(edit);
    return false;
  }
  FEdit.SetColor(model_.FillColor());
  SetStyleBit(hwnd_, WS_TABSTOP, false);
  // The frame is a container to the dialog manager, so that Tab can reach
  // the inner edit when that is a tab stop.
  SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, GetWindowLongPtrW(hwnd_, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  if (font_) SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  return true;
}

LRESULT TzEdit::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE: {
      const LRESULT result = TKelvoPanel::HandleMessage(message, wParam, lParam);
      model_.SetText(L"");  // the frame shows no caption; the text is the edit's
      return result;
    }
    case WM_CREATE: {
      TKelvoPanel::HandleMessage(message, wParam, lParam);
      model_.SetEnabled(true);  // a disabled TzEdit is a disabled edit in a normal frame
      CREATESTRUCTW cs = *reinterpret_cast<const CREATESTRUCTW*>(lParam);
      RECT rc{};
      GetClientRect(hwnd_, &rc);  // the default size when none was given
      cs.cx = rc.right;
      cs.cy = rc.bottom;
      return CreateInnerEdit(cs) ? 0 : -1;
    }
    case WM_SIZE:
      AlignEdit();
      break;
    case WM_SETTEXT: {
      if (!FEdit.Handle()) break;
      const LRESULT result = SendMessageW(FEdit.Handle(), WM_SETTEXT, wParam, lParam);
      DefWindowProcW(hwnd_, WM_SETTEXT, 0, lParam);
      return result;
    }
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
      if (FEdit.Handle()) return SendMessageW(FEdit.Handle(), message, wParam, lParam);
      break;
    case WM_SETFONT:
      TKelvoPanel::HandleMessage(message, wParam, lParam);
      if (FEdit.Handle()) SendMessageW(FEdit.Handle(), WM_SETFONT, wParam, lParam);
      return 0;
    case WM_ENABLE:
      // Enabling the frame is enabling the edit; the frame looks enabled.
      SetEnabled(wParam != 0);
      return 0;
    case WM_SETFOCUS:
      if (FEdit.Handle()) SetFocus(FEdit.Handle());
      return 1;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) == FEdit.Handle()) return FEdit.ColorMessage(reinterpret_cast<HDC>(wParam));
      break;
    case WM_COMMAND:
      if (reinterpret_cast<HWND>(lParam) == FEdit.Handle() && FEdit.Handle()) {
        if (HIWORD(wParam) == EN_CHANGE) {
          // Keep the frame's own text in step for readers in other
          // processes, which read it without asking the window.
          std::wstring text(static_cast<size_t>(GetWindowTextLengthW(FEdit.Handle())) + 1, L'\0');
          text.resize(static_cast<size_t>(
              GetWindowTextW(FEdit.Handle(), text.data(), static_cast<int>(text.size()))));
          DefWindowProcW(hwnd_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        }
        return SendMessageW(GetParent(hwnd_), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd_), HIWORD(wParam)),
                            reinterpret_cast<LPARAM>(hwnd_));
      }
      break;
  }
  return TKelvoPanel::HandleMessage(message, wParam, lParam);
}

}  // namespace oq
