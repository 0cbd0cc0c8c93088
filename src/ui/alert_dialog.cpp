#include "ui/alert_dialog.h"

#include "services/win32/handles.h"
#include "ui/gdi_draw.h"
#include "ui/picture.h"
#include "ui/resource_ids.h"

namespace oq {

namespace {

constexpr wchar_t kClassName[] = L"OQAlert";
constexpr int kClientWidth = 511;
constexpr int kClientHeight = 206;
constexpr wchar_t kMessage[] =
    L"ORBITQuarry Excel Addin을 설치하기 위한Administrator 권한이 확인되지 않습니다.\n\n"
    L"정상적으로 설치되지 않을 수 있습니다. 계속하시겠습니까?";

struct AlertState {
  explicit AlertState(HINSTANCE instance)
      : lumentroveLogo(instance, OQ_IDR_LT_LOGO), orbitQuarryLogo(instance, OQ_IDR_OQ_LOGO) {}
  HFONT font = nullptr;
  Picture lumentroveLogo;
  Picture orbitQuarryLogo;
  int result = 0;
};

void DrawItem(AlertState& state, const DRAWITEMSTRUCT& item) {
  FillRect(item.hDC, &item.rcItem, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  switch (item.CtlID) {
    case kIdAlertLumentroveLogo: state.lumentroveLogo.Draw(item.hDC, item.rcItem); break;
    case kIdAlertOrbitQuarryLogo: state.orbitQuarryLogo.Draw(item.hDC, item.rcItem); break;
    case kIdAlertMessage: {
      // Centred line by line, broken only where the text has line feeds.
      wchar_t text[256] = {};
      GetWindowTextW(item.hwndItem, text, 256);
      RECT area = item.rcItem;
      const HGDIOBJ old = SelectObject(item.hDC, state.font);
      SetBkMode(item.hDC, TRANSPARENT);
      SetTextColor(item.hDC, GetSysColor(COLOR_WINDOWTEXT));
      DrawTextW(item.hDC, text, -1, &area, DT_CENTER | DT_TOP | DT_NOPREFIX);
      SelectObject(item.hDC, old);
      break;
    }
    default: break;
  }
}

LRESULT CALLBACK AlertProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<AlertState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
      break;
    case WM_COMMAND:
      // Esc arrives as IDCANCEL and is not one of the buttons: it does not
      // end the warning.
      if (state && HIWORD(wParam) == BN_CLICKED &&
          (LOWORD(wParam) == kAlertCancel || LOWORD(wParam) == kAlertContinue)) {
        state->result = LOWORD(wParam);
      }
      return 0;
    case DM_GETDEFID: {
      // Enter presses the button that has the focus.
      const int focused = GetDlgCtrlID(GetFocus());
      if (focused == kAlertCancel || focused == kAlertContinue) return MAKELRESULT(focused, DC_HASDEFID);
      return 0;
    }
    case WM_CLOSE:
      if (state) state->result = kAlertClosed;
      return 0;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    case WM_DRAWITEM:
      if (state) DrawItem(*state, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    default: break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND AddControl(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id, int left, int top,
                int width, int height, HFONT font) {
  HWND child = CreateWindowExW(0, cls, text, WS_CHILD | style, left, top, width, height, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}

}  // namespace

int ShowAlertDialog(HINSTANCE instance, HWND owner, bool lumentrove) {
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof cls;
  if (!GetClassInfoExW(instance, kClassName, &cls)) {
    cls.lpfnWndProc = AlertProc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    cls.lpszClassName = kClassName;
    RegisterClassExW(&cls);
  }

  AlertState state(instance);
  gdi::Font font(CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI"));
  state.font = font.Get();

  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_CONTROLPARENT;
  RECT outer{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&outer, style, FALSE, exStyle);
  const int width = outer.right - outer.left, height = outer.bottom - outer.top;
  HWND hwnd = CreateWindowExW(exStyle, kClassName, L"", style, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                              (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, owner, nullptr, instance,
                              &state);
  if (!hwnd) return kAlertContinue;

  AddControl(hwnd, L"STATIC", L"", SS_OWNERDRAW | (lumentrove ? WS_VISIBLE : 0), kIdAlertLumentroveLogo, 13, 8, 200,
             40, state.font);
  AddControl(hwnd, L"STATIC", kMessage, SS_OWNERDRAW | WS_VISIBLE, kIdAlertMessage, 13, 68, 482, 73, state.font);
  AddControl(hwnd, L"STATIC", L"", SS_OWNERDRAW | (lumentrove ? 0 : WS_VISIBLE), kIdAlertOrbitQuarryLogo, 13, 8, 200,
             33, state.font);
  // Created in tab order: the cancel button first, so it has the focus.
  HWND cancel = AddControl(hwnd, L"BUTTON", L"취    소", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, kAlertCancel, 266,
                           154, 81, 28, state.font);
  AddControl(hwnd, L"BUTTON", L"계    속", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, kAlertContinue, 166, 154, 81, 28,
             state.font);

  const bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  ShowWindow(hwnd, SW_SHOW);
  SetForegroundWindow(hwnd);
  SetFocus(cancel);

  MSG msg;
  while (state.result == 0) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // the event loop's, not ours
      break;
    }
    if (got < 0) break;
    if (!IsDialogMessageW(hwnd, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (ownerWasEnabled) EnableWindow(owner, TRUE);
  DestroyWindow(hwnd);
  return state.result == 0 ? kAlertClosed : state.result;
}

}  // namespace oq
