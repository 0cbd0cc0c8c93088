#include "ui/main_window.h"

#include "ui/banner.h"
#include "ui/common_controls.h"
#include "ui/edit_controls.h"
#include "ui/gdi_draw.h"
#include "ui/panel.h"
#include "ui/picture.h"
#include "ui/resource_ids.h"

namespace oq {

namespace {

constexpr wchar_t kClassName[] = L"ORBITQuarrySetupWindow";
constexpr UINT kEndMessage = WM_APP + 1;  // the end asked for, now that no handler runs
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_APPWINDOW | WS_EX_DLGMODALFRAME;

struct ControlSpec {
  MainControlId id;
  const wchar_t* cls;
  const wchar_t* text;
  DWORD style;
  int left, top, width, height;
};

// The panel's children at their places, relative to the panel. Labels reach
// to the panel's right edge so that long lines are not cut off.
const ControlSpec kPanelControls[] = {
    {kIdTitle, L"STATIC", L"ORBITQuarry Excel Add-in Library", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 18, 10, 495, 21},
    {kIdOS, L"STATIC", L"OS Version : ", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 30, 58, 485, 15},
    {kIdEx, L"STATIC", L"Excel Version : ", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 30, 115, 485, 15},
    {kIdPath, L"STATIC", L"Install Folder : ", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 30, 180, 84, 15},
    {kIdXLL, L"STATIC", L"Add-In Version : ", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 30, 147, 485, 15},
    {kIdExPath, L"STATIC", L"Excel Path : ", SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_PATHELLIPSIS, 30, 86, 485, 15},
    {kIdProgress, PROGRESS_CLASSW, L"", 0, 79, 216, 327, 21},
    {kIdUninstall, TzButton::kClassName, L"Uninstall", 0, 25, 262, 80, 28},
    {kIdInstall, TzButton::kClassName, L"Install", 0, 314, 262, 80, 28},
    {kIdClose, TzButton::kClassName, L"Close", 0, 403, 262, 80, 28},
    {kIdPathEdit, TzEdit::kClassName, L"", 0, 114, 176, 322, 24},
    {kIdFolderButton, TzButton::kClassName, L"", 0, 433, 176, 31, 24},
};

// The look the four buttons and the path box share.
void StyleRounded(TKelvoPanel& control) {
  control.SetBorderColor(clSilver);
  control.SetBorderColorFocused(clMedGray);
  control.SetFillColorFocused(clBtnFace);
  control.SetRounding(3);
  control.SetRoundType(rtAll);
}

// Image2, the folder icon, covers the whole folder button. It paints the
// button under the icon, so the button's frame and hover look still show.
// Without SS_NOTIFY a static is transparent to the mouse, so the button
// itself is pressed, hovered and clicked, on release inside it as a button
// is, and shows the hand cursor.
struct FolderPicture {
  Picture icon;
  HWND image = nullptr;
};

LRESULT CALLBACK FolderButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                  DWORD_PTR data) {
  auto* folder = reinterpret_cast<FolderPicture*>(data);
  switch (message) {
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      const int width = item.rcItem.right - item.rcItem.left, height = item.rcItem.bottom - item.rcItem.top;
      gdi::MemoryDC memory(item.hDC);
      gdi::Bitmap bitmap(CreateCompatibleBitmap(item.hDC, width, height));
      gdi::Select selected(memory.Get(), bitmap.Get());
      SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory.Get()), PRF_CLIENT);
      const RECT icon{(width - 20) / 2, (height - 20) / 2, (width - 20) / 2 + 20, (height - 20) / 2 + 20};
      folder->icon.Draw(memory.Get(), icon);
      BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, width, height, memory.Get(), 0, 0, SRCCOPY);
      return TRUE;
    }
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wParam) == hwnd && LOWORD(lParam) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_PAINT: {
      // The button repaints for hover and state changes; the picture over
      // it must follow.
      const LRESULT result = comctl::DefaultSubclassProc(hwnd, message, wParam, lParam);
      if (wParam == 0 && folder->image) InvalidateRect(folder->image, nullptr, FALSE);
      return result;
    }
    case WM_NCDESTROY:
      comctl::RemoveSubclass(hwnd, FolderButtonProc, 0);
      delete folder;
      break;
    default:
      break;
  }
  return comctl::DefaultSubclassProc(hwnd, message, wParam, lParam);
}

// The information panel is a plain static window; its children's commands
// and colour requests belong to the main window.
LRESULT CALLBACK PanelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  switch (message) {
    case WM_COMMAND:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
      return SendMessageW(GetParent(hwnd), message, wParam, lParam);
    default:
      return comctl::DefaultSubclassProc(hwnd, message, wParam, lParam);
  }
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance) {}

MainWindow::~MainWindow() {
  // The controls go first: they use the fonts and the banner to the end.
  if (hwnd_) DestroyWindow(hwnd_);
}

bool MainWindow::Create(MainWindowEvents& events) {
  events_ = &events;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance_;
  wc.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(OQ_IDI_APP));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(OQ_IDI_APP), IMAGE_ICON, 16, 16, 0));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);  // already registered on a second window: fine

  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
  creating_ = true;
  CreateWindowExW(kExStyle, kClassName, L"ORBITQuarry", kStyle, 0, 0, frame.right - frame.left,
                  frame.bottom - frame.top, nullptr, nullptr, instance_, this);
  creating_ = false;
  return hwnd_ != nullptr;
}

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  MainWindow* self;
  if (message == WM_NCCREATE) {
    self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  return self ? self->HandleMessage(message, wParam, lParam) : DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      if (!BuildControls()) return -1;
      Dispatch([this] { events_->OnCreate(); });
      return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) == GetDlgItem(hwnd_, kIdImage1)) {
        return reinterpret_cast<LRESULT>(GetStockObject(BLACK_BRUSH));
      }
      break;
    case WM_SETCURSOR:
      if (busy_) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_CLOSE:
      // The frame's close button: through the logic's close, like Close.
      // During a handler the end it asks for waits until that handler is
      // done (EndIfDue), so an install is never cut off half-way.
      Dispatch([this] { events_->OnCloseClick(); });
      return 0;
    case kEndMessage:
      DestroyWindow(hwnd_);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      hwnd_ = nullptr;
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

bool MainWindow::BuildControls() {
  font_.Reset(CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Segoe UI"));
  titleFont_.Reset(CreateFontW(-16, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Segoe UI"));
  banner_.Reset(LoadBanner(instance_));
  HWND image = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | (banner_ ? SS_BITMAP : 0), 0, 0, 164,
                               kClientHeight, hwnd_, reinterpret_cast<HMENU>(kIdImage1), instance_, nullptr);
  if (banner_) SendMessageW(image, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(banner_.Get()));
  RegisterKelvoControls(instance_);
  HWND panel = CreateWindowExW(WS_EX_CONTROLPARENT, L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 164, 0,
                               523, kClientHeight, hwnd_, reinterpret_cast<HMENU>(kIdInfoPanel), instance_, nullptr);
  if (!image || !panel) return false;
  comctl::SetSubclass(panel, PanelProc, 0, 0);
  for (const ControlSpec& c : kPanelControls) {
    const DWORD visible = c.id == kIdProgress ? 0 : WS_VISIBLE;
    HWND child = CreateWindowExW(0, c.cls, c.text, WS_CHILD | visible | c.style, c.left, c.top, c.width, c.height,
                                 panel, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance_, nullptr);
    if (!child) return false;
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(c.id == kIdTitle ? titleFont_.Get() : font_.Get()), FALSE);
    if (TKelvoPanel* rounded = TKelvoPanel::FromHandle(child)) StyleRounded(*rounded);
  }
  if (TzEdit* path = TzEdit::FromHandle(Control(kIdPathEdit))) path->SetTabStop(false);

  HWND folderButton = Control(kIdFolderButton);
  auto* folder = new FolderPicture{Picture(instance_, OQ_IDR_FOLDER_PNG), nullptr};
  comctl::SetSubclass(folderButton, FolderButtonProc, 0, reinterpret_cast<DWORD_PTR>(folder));
  folder->image = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, 0, 0, 31, 24,
                                  folderButton, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdFolderPicture)),
                                  instance_, nullptr);
  // The folder button lies above the last pixels of the path box.
  SetWindowPos(folderButton, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  SetProgressMax(100);
  return true;
}

HWND MainWindow::Control(MainControlId id) const {
  if (!hwnd_) return nullptr;
  if (id == kIdImage1 || id == kIdInfoPanel) return GetDlgItem(hwnd_, id);
  return GetDlgItem(GetDlgItem(hwnd_, kIdInfoPanel), id);
}

bool MainWindow::IsVisible() const { return hwnd_ && IsWindowVisible(hwnd_); }

void MainWindow::OnCommand(int id, int) {
  // A mouse never clicks a disabled button, but a BM_CLICK sent to one still
  // arrives here under Wine, and a disabled button must not act.
  if (HWND control = Control(static_cast<MainControlId>(id)); !control || !IsWindowEnabled(control)) return;
  // A handler that lets messages through while it works (the install, as
  // its package comes in) is not joined by a second one; only Close acts,
  // to cut a transfer short.
  if (handlerDepth_ > 0 && id != kIdClose) return;
  switch (id) {
    case kIdInstall: Dispatch([this] { events_->OnInstallClick(); }); break;
    case kIdUninstall: Dispatch([this] { events_->OnUninstallClick(); }); break;
    case kIdClose: Dispatch([this] { events_->OnCloseClick(); }); break;
    case kIdFolderButton: Dispatch([this] { events_->OnFolderClick(); }); break;
    default: break;
  }
}

template <class Call>
void MainWindow::Dispatch(Call&& call) {
  ++handlerDepth_;
  call();
  --handlerDepth_;
  EndIfDue();
}

void MainWindow::EndIfDue() {
  if (endPending_ && handlerDepth_ == 0 && !creating_ && hwnd_) PostMessageW(hwnd_, kEndMessage, 0, 0);
}

void MainWindow::ShowAndRun(int showCommand) {
  if (!hwnd_) return;
  if (endPending_) {
    // Start-up asked for the end: the window is never shown.
    DestroyWindow(hwnd_);
  } else {
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void MainWindow::SetBusy(bool busy) {
  busy_ = busy;
  SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

// ---------------------------------------------------------------- MainView

namespace {

std::wstring TextOf(HWND hwnd) {
  if (!hwnd) return {};
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace

void MainWindow::SetCaption(const std::wstring& text) { SetWindowTextW(hwnd_, text.c_str()); }
std::wstring MainWindow::Caption() const { return TextOf(hwnd_); }

void MainWindow::MoveTo(int left, int top) {
  SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
void MainWindow::SetLeft(int left) { MoveTo(left, Top()); }
void MainWindow::SetTop(int top) { MoveTo(Left(), top); }
int MainWindow::Left() const {
  RECT r{};
  GetWindowRect(hwnd_, &r);
  return r.left;
}
int MainWindow::Top() const {
  RECT r{};
  GetWindowRect(hwnd_, &r);
  return r.top;
}
Extent MainWindow::OuterSize() const {
  RECT r{};
  GetWindowRect(hwnd_, &r);
  return {r.right - r.left, r.bottom - r.top};
}
Extent MainWindow::ScreenSize() const { return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; }

HWND MainWindow::LabelWindow(const MainWindow& w, Label label) {
  switch (label) {
    case Label::Title: return w.Control(kIdTitle);
    case Label::OS: return w.Control(kIdOS);
    case Label::ExPath: return w.Control(kIdExPath);
    case Label::Ex: return w.Control(kIdEx);
    case Label::XLL: return w.Control(kIdXLL);
    case Label::Path: return w.Control(kIdPath);
  }
  return nullptr;
}

void MainWindow::SetLabel(Label label, const std::wstring& text) { SetWindowTextW(LabelWindow(*this, label), text.c_str()); }
std::wstring MainWindow::LabelText(Label label) const { return TextOf(LabelWindow(*this, label)); }
void MainWindow::SetPathText(const std::wstring& text) { SetWindowTextW(Control(kIdPathEdit), text.c_str()); }
std::wstring MainWindow::PathText() const { return TextOf(Control(kIdPathEdit)); }
void MainWindow::SetInstallCaption(const std::wstring& text) { SetWindowTextW(Control(kIdInstall), text.c_str()); }
std::wstring MainWindow::InstallCaption() const { return TextOf(Control(kIdInstall)); }

HWND MainWindow::ButtonWindow(Button button) const {
  switch (button) {
    case Button::Install: return Control(kIdInstall);
    case Button::Uninstall: return Control(kIdUninstall);
    case Button::Close: return Control(kIdClose);
  }
  return nullptr;
}

void MainWindow::SetButtonEnabled(Button button, bool enabled) { EnableWindow(ButtonWindow(button), enabled); }
bool MainWindow::ButtonEnabled(Button button) const { return IsWindowEnabled(ButtonWindow(button)) != FALSE; }
void MainWindow::SetProgressVisible(bool visible) { ShowWindow(Control(kIdProgress), visible ? SW_SHOW : SW_HIDE); }
// The bar counts in hundredths of a step, so that a download moves it
// between two steps.
void MainWindow::SetProgressMax(int maximum) {
  SendMessageW(Control(kIdProgress), PBM_SETRANGE32, 0, maximum * kProgressSubsteps);
}
void MainWindow::SetProgressPosition(int position) {
  SendMessageW(Control(kIdProgress), PBM_SETPOS, position * kProgressSubsteps, 0);
}
void MainWindow::SetProgressWithin(int position, uint64_t done, uint64_t total) {
  const uint64_t share = total == 0 || done >= total ? kProgressSubsteps : done * kProgressSubsteps / total;
  SendMessageW(Control(kIdProgress), PBM_SETPOS, position * kProgressSubsteps + static_cast<int>(share), 0);
}
void MainWindow::SetPickerFolder(const std::wstring& folder) { pickerFolder_ = folder; }

void MainWindow::RequestTermination() {
  terminationRequested_ = true;
  endPending_ = true;
  EndIfDue();
}

void MainWindow::CloseWindow() {
  endPending_ = true;
  EndIfDue();
}

}  // namespace oq
