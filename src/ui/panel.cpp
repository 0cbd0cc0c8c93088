#include "ui/panel.h"

#include <cwchar>
#include <new>

#include "ui/edit_controls.h"
#include "ui/gdi_draw.h"

namespace oq {

namespace {

constexpr UINT_PTR kHoverTimer = 1;
constexpr UINT kHoverPollMs = 50;

bool HasClass(HWND hwnd, const wchar_t* name) {
  wchar_t cls[32];
  return GetClassNameW(hwnd, cls, 32) > 0 && std::wcscmp(cls, name) == 0;
}

bool InThisProcess(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  return pid == GetCurrentProcessId();
}

void* ObjectOf(HWND hwnd, const wchar_t* cls) {
  if (!hwnd || !InThisProcess(hwnd) || !HasClass(hwnd, cls)) return nullptr;
  return reinterpret_cast<void*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

}  // namespace

// The window owns its object: made at WM_NCCREATE, deleted after
// WM_NCDESTROY.
template <class T>
LRESULT CALLBACK KelvoWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  TKelvoPanel* self;
  if (message == WM_NCCREATE) {
    self = new (std::nothrow) T();
    if (!self) return FALSE;
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<TKelvoPanel*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  const LRESULT result = self->HandleMessage(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    delete self;
  }
  return result;
}

bool RegisterKelvoControls(HINSTANCE instance) {
  struct Entry {
    const wchar_t* name;
    WNDPROC proc;
  };
  const Entry entries[] = {{TKelvoPanel::kClassName, KelvoWindowProc<TKelvoPanel>},
                           {TzButton::kClassName, KelvoWindowProc<TzButton>},
                           {TzEdit::kClassName, KelvoWindowProc<TzEdit>}};
  for (const Entry& e : entries) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    // The frame is drawn to the client's edges: any resize repaints it all.
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = e.proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = e.name;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  }
  return true;
}

// ---------------------------------------------------------------- TKelvoPanel

TKelvoPanel* TKelvoPanel::FromHandle(HWND hwnd) {
  for (const wchar_t* cls : {kClassName, TzButton::kClassName, TzEdit::kClassName}) {
    if (void* p = ObjectOf(hwnd, cls)) return static_cast<TKelvoPanel*>(p);
  }
  return nullptr;
}

std::wstring TKelvoPanel::Text() const {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd_)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(hwnd_, text.data(), static_cast<int>(text.size()))));
  return text;
}

void TKelvoPanel::SetText(const std::wstring& text) { SetWindowTextW(hwnd_, text.c_str()); }

void TKelvoPanel::SetEnabled(bool value) {
  // WM_ENABLE brings the flag into the model.
  EnableWindow(hwnd_, value);
}

void TKelvoPanel::FillChanged() { Apply(Repaint::Now); }

void TKelvoPanel::Apply(Repaint repaint) {
  switch (repaint) {
    case Repaint::None: break;
    case Repaint::Later: InvalidateRect(hwnd_, nullptr, FALSE); break;
    case Repaint::Now: RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); break;
    case Repaint::Fill: FillChanged(); break;
  }
}

LRESULT TKelvoPanel::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE: {
      // Never a standard border, and never painting over child windows.
      const LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE);
      SetWindowLongPtrW(hwnd_, GWL_STYLE, (style & ~WS_BORDER) | WS_CLIPCHILDREN);
      const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      if (cs->lpszName && !IS_INTRESOURCE(cs->lpszName)) model_.SetText(cs->lpszName);
      break;
    }
    case WM_CREATE: {
      const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      if (cs->cx == 0 && cs->cy == 0) {
        const SIZE size = DefaultSize();
        SetWindowPos(hwnd_, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
      model_.SetEnabled((cs->style & WS_DISABLED) == 0);
      return 0;
    }
    case WM_SETTEXT: {
      const LRESULT stored = DefWindowProcW(hwnd_, message, wParam, lParam);
      if (stored) Apply(model_.SetText(lParam ? reinterpret_cast<const wchar_t*>(lParam) : L""));
      return stored;
    }
    case WM_SETFONT:
      font_ = reinterpret_cast<HFONT>(wParam);
      if (LOWORD(lParam)) InvalidateRect(hwnd_, nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font_);
    case WM_ENABLE:
      Apply(model_.SetEnabled(wParam != 0));
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove();
      break;
    case WM_MOUSELEAVE:
      OnMouseLeave();
      return 0;
    case WM_SETCURSOR:
      // A child under the mouse asks its parent first; that is how the
      // mouse entering a child (which covers this control) shows here.
      if (reinterpret_cast<HWND>(wParam) != hwnd_) OnChildSetCursor();
      break;
    case WM_TIMER:
      if (wParam == kHoverTimer) {
        OnHoverTimer();
        return 0;
      }
      break;
    case WM_ERASEBKGND:
      return 1;  // the paint covers every pixel
    case WM_PAINT:
      if (wParam) {
        PaintWithParent(reinterpret_cast<HDC>(wParam));
      } else {
        PaintBuffered();
      }
      return 0;
    case WM_PRINTCLIENT:
      PaintWithParent(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_DESTROY:
      KillTimer(hwnd_, kHoverTimer);
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void TKelvoPanel::PaintBuffered() {
  RECT rc{};
  GetClientRect(hwnd_, &rc);
  if (rc.right <= 0 || rc.bottom <= 0) {
    gdi::PaintDC paint(hwnd_);
    return;
  }
  gdi::WindowDC screen(nullptr);
  gdi::Bitmap bitmap(CreateCompatibleBitmap(screen.Get(), rc.right, rc.bottom));
  gdi::MemoryDC memory(screen.Get());
  gdi::Select selected(memory.Get(), bitmap.Get());
  gdi::PaintDC paint(hwnd_);
  SendMessageW(hwnd_, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory.Get()), 0);
  PaintWithParent(memory.Get());
  BitBlt(paint.Get(), 0, 0, rc.right, rc.bottom, memory.Get(), 0, 0, SRCCOPY);
}

void TKelvoPanel::PaintWithParent(HDC dc) {
  if (HWND parent = GetParent(hwnd_)) {
    gdi::SavedState saved(dc);
    POINT origin{0, 0};
    MapWindowPoints(hwnd_, parent, &origin, 1);
    OffsetWindowOrgEx(dc, origin.x, origin.y, nullptr);
    SendMessageW(parent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    SendMessageW(parent, WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
    PaintLabelsUnder(dc, parent);
  }
  Paint(dc);
}

void TKelvoPanel::PaintLabelsUnder(HDC dc, HWND parent) {
  RECT mine{};
  GetWindowRect(hwnd_, &mine);
  // Bottom of the z-order first, so that the topmost label ends up on top.
  for (HWND w = GetWindow(hwnd_, GW_HWNDLAST); w; w = GetWindow(w, GW_HWNDPREV)) {
    if (w == hwnd_ || !IsWindowVisible(w) || !HasClass(w, L"Static")) continue;
    RECT theirs{}, overlap{};
    GetWindowRect(w, &theirs);
    if (!IntersectRect(&overlap, &mine, &theirs)) continue;
    // A static clips its painting to its client rectangle taken in device
    // units, so it paints into a context of its own, copied into place.
    RECT client{};
    GetClientRect(w, &client);
    POINT at{0, 0};
    MapWindowPoints(w, parent, &at, 1);
    gdi::Bitmap bitmap(CreateCompatibleBitmap(dc, client.right, client.bottom));
    gdi::MemoryDC memory(dc);
    gdi::Select selected(memory.Get(), bitmap.Get());
    SendMessageW(w, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory.Get()), PRF_CLIENT | PRF_ERASEBKGND);
    BitBlt(dc, at.x, at.y, client.right, client.bottom, memory.Get(), 0, 0, SRCCOPY);
  }
}

void TKelvoPanel::Paint(HDC dc) {
  RECT rc{};
  GetClientRect(hwnd_, &rc);
  const PanelLook look = model_.Look();
  const auto opacity = static_cast<uint8_t>(model_.BorderOpacity());
  {
    TzGDIDraw style;
    style.SetBorderColor(static_cast<TColor>(ColorToRgb(look.outline, SystemColor)));
    style.SetBorderOpacity(opacity);
    style.SetRounding(model_.Rounding());
    style.SetRoundingType(model_.RoundType());
    style.SetDrawColor(static_cast<TColor>(ColorToRgb(look.fill, SystemColor)));
    // GDI+ is done with the context before GDI draws the text on it.
    TzGDI gdi(dc, look.fill, look.outline, opacity, 1.0f);
    style.SetGDI(&gdi);
    const FrameRect frame = PanelFrame(model_, rc.right, rc.bottom);
    style.DrawCanvas(frame.x, frame.y, frame.width, frame.height, model_.BorderStyle());
  }
  if (model_.Text().empty()) return;
  gdi::SavedState saved(dc);
  gdi::Select font(dc, font_ ? static_cast<HGDIOBJ>(font_) : GetStockObject(DEFAULT_GUI_FONT));
  SetTextColor(dc, ColorToRgb(look.text, SystemColor));
  SetBkMode(dc, TRANSPARENT);
  DrawTextW(dc, model_.Text().c_str(), -1, &rc, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
}

bool TKelvoPanel::CursorWithin() const {
  POINT pt{};
  if (!GetCursorPos(&pt)) return false;
  const HWND under = WindowFromPoint(pt);
  return under == hwnd_ || IsChild(hwnd_, under);
}

void TKelvoPanel::OnMouseMove() {
  if (tracking_) return;
  TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd_, 0};
  tracking_ = TrackMouseEvent(&track) != FALSE;
  if (!model_.HasMouse()) Apply(model_.SetHasMouse(true, CanHover()));
}

void TKelvoPanel::OnMouseLeave() {
  tracking_ = false;
  if (CursorWithin()) {
    // Onto a child: the mouse is still over the control. Its leaving the
    // child is not reported here, so it is watched for.
    SetTimer(hwnd_, kHoverTimer, kHoverPollMs, nullptr);
    return;
  }
  Apply(model_.SetHasMouse(false, CanHover()));
}

void TKelvoPanel::OnChildSetCursor() {
  if (!model_.HasMouse()) Apply(model_.SetHasMouse(true, CanHover()));
  SetTimer(hwnd_, kHoverTimer, kHoverPollMs, nullptr);
}

void TKelvoPanel::OnHoverTimer() {
  if (CursorWithin()) return;
  KillTimer(hwnd_, kHoverTimer);
  // While a leave request is out, WM_MOUSELEAVE reports it.
  if (!tracking_) Apply(model_.SetHasMouse(false, CanHover()));
}

// ---------------------------------------------------------------- TzButton

TzButton* TzButton::FromHandle(HWND hwnd) {
  return static_cast<TzButton*>(static_cast<TKelvoPanel*>(ObjectOf(hwnd, kClassName)));
}

BOOL CALLBACK TzButton::CollectButton(HWND hwnd, LPARAM buttons) {
  if (TzButton* b = FromHandle(hwnd)) reinterpret_cast<std::vector<GroupMember*>*>(buttons)->push_back(b);
  return TRUE;
}

std::vector<GroupMember*> TzButton::Components() const {
  std::vector<GroupMember*> buttons;
  if (!FOwner) return buttons;
  // Descendants come depth first in z-order, which is creation order
  // unless someone reordered them.
  EnumChildWindows(FOwner, CollectButton, reinterpret_cast<LPARAM>(&buttons));
  return buttons;
}

TzButton* TzButton::GetDownButton() const {
  const std::vector<GroupMember*> buttons = Components();
  return static_cast<TzButton*>(FindDownButton(*this, buttons));
}

bool TzButton::Click() {
  const HWND self = hwnd_;
  SendMessageW(GetParent(self), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(self), BN_CLICKED), reinterpret_cast<LPARAM>(self));
  return IsWindow(self) && FromHandle(self) == this;
}

void TzButton::MouseUp() {
  const std::vector<GroupMember*> buttons = Components();
  GroupStepOnMouseUp(*this, buttons);
  Apply(Repaint::Later);
}

LRESULT TzButton::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      FOwner = GetAncestor(hwnd_, GA_ROOT);
      break;
    case WM_LBUTTONDOWN:
      pressed_ = true;
      SetCapture(hwnd_);
      return 0;
    case WM_LBUTTONUP: {
      RECT rc{};
      GetClientRect(hwnd_, &rc);
      const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      const bool click = pressed_ && PtInRect(&rc, at);
      pressed_ = false;
      if (GetCapture() == hwnd_) ReleaseCapture();
      // The click handler runs first and still sees the old Down state.
      if (click && !Click()) return 0;
      MouseUp();
      return 0;
    }
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      MouseUp();
      break;
    case WM_CAPTURECHANGED:
      pressed_ = false;
      break;
    case BM_CLICK:
      // What a click does, unless the button is disabled (the mouse could
      // not have clicked it then either).
      if (Enabled() && IsWindowEnabled(hwnd_)) {
        if (Click()) MouseUp();
      }
      return 0;
  }
  return TKelvoPanel::HandleMessage(message, wParam, lParam);
}

}  // namespace oq
