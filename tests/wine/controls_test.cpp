// The rounded controls as real windows under Wine: their pixels on screen
// and through WM_PRINTCLIENT, hover, the disabled look, clicks, groups, the
// edit's inner window, placeholder and tab order.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/common_controls.h"
#include "ui/edit_controls.h"
#include "ui/gdi_draw.h"
#include "ui/panel.h"

namespace oq {
namespace {

// 0x00RRGGBB, as a 32-bit DIB holds a pixel.
constexpr uint32_t Px(uint8_t r, uint8_t g, uint8_t b) { return (uint32_t{r} << 16) | (uint32_t{g} << 8) | b; }
uint32_t PxOf(COLORREF c) { return Px(GetRValue(c), GetGValue(c), GetBValue(c)); }

constexpr uint32_t kSilver = Px(192, 192, 192);
constexpr uint32_t kMedGray = Px(160, 160, 164);
constexpr uint32_t kDisabled = Px(230, 230, 230);
constexpr uint32_t kBlack = Px(0, 0, 0);
constexpr uint32_t kGray = Px(128, 128, 128);
constexpr COLORREF kHostBackground = RGB(0, 128, 255);
constexpr COLORREF kHostContent = RGB(255, 0, 0);
// Where the host paints its own content, in its client coordinates.
constexpr RECT kContentRect = {10, 20, 35, 70};
constexpr wchar_t kHostClass[] = L"OqControlsTestHost";
// A plain STATIC panel between host and control, as the main window's
// information panel is; the host gives it this colour.
constexpr int kPanelId = 50;
constexpr COLORREF kPanelColor = RGB(0, 160, 0);

struct Command {
  int id;
  int code;
  HWND from;
};
std::vector<Command> g_commands;

LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      // Paints into a context it is given, as the controls expect of a parent.
      PAINTSTRUCT ps{};
      HDC dc = wParam ? reinterpret_cast<HDC>(wParam) : BeginPaint(hwnd, &ps);
      gdi::Brush red(CreateSolidBrush(kHostContent));
      FillRect(dc, &kContentRect, red.Get());
      if (!wParam) EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == kPanelId) {
        static const HBRUSH green = CreateSolidBrush(kPanelColor);
        return reinterpret_cast<LRESULT>(green);
      }
      break;
    case WM_COMMAND:
      g_commands.push_back({LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)});
      return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void Pump(DWORD ms = 100) {
  const DWORD until = GetTickCount() + ms;
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  } while (static_cast<int>(until - GetTickCount()) > 0);
}

// A window's client pixels, copied from the screen or printed.
class Image {
 public:
  Image(int width, int height) : width_(width), height_(height) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bitmap_.Reset(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0));
  }
  HBITMAP Bitmap() const { return bitmap_.Get(); }
  uint32_t At(int x, int y) const { return bits_[y * width_ + x] & 0xFFFFFF; }
  int Count(uint32_t color, RECT area) const {
    int n = 0;
    for (int y = area.top; y < area.bottom; ++y)
      for (int x = area.left; x < area.right; ++x) n += At(x, y) == color;
    return n;
  }
  int Width() const { return width_; }
  int Height() const { return height_; }

 private:
  int width_, height_;
  gdi::Bitmap bitmap_;
  uint32_t* bits_ = nullptr;
};

RECT ClientOf(HWND hwnd) {
  RECT rc{};
  GetClientRect(hwnd, &rc);
  return rc;
}

// What the screen shows of the window now, without asking it to paint.
Image Shown(HWND hwnd) {
  const RECT rc = ClientOf(hwnd);
  Image image(rc.right, rc.bottom);
  gdi::WindowDC window(hwnd);
  gdi::MemoryDC memory(window.Get());
  gdi::Select selected(memory.Get(), image.Bitmap());
  BitBlt(memory.Get(), 0, 0, rc.right, rc.bottom, window.Get(), 0, 0, SRCCOPY);
  return image;
}

// What the screen shows after the window painted afresh (WM_PAINT path).
Image Screen(HWND hwnd) {
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Pump(50);
  return Shown(hwnd);
}

// What the control paints into a context it is handed.
Image Printed(HWND hwnd) {
  const RECT rc = ClientOf(hwnd);
  Image image(rc.right, rc.bottom);
  gdi::MemoryDC memory(nullptr);
  gdi::Select selected(memory.Get(), image.Bitmap());
  SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory.Get()), PRF_CLIENT);
  return image;
}

std::string Hex(uint32_t v) {
  char buf[16];
  wsprintfA(buf, "%06X", v);
  return buf;
}

class ControlsTest : public ::testing::Test {
 protected:
  // One host for the whole suite: hiding or destroying a shown top-level
  // window makes Wine wait two seconds for a window manager Xvfb lacks.
  static void SetUpTestSuite() {
    gdiplus_ = new ScopedGdiplus;
    ASSERT_TRUE(comctl::Load());  // as the program does before its window
    ASSERT_TRUE(RegisterKelvoControls(GetModuleHandleW(nullptr)));
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = CreateSolidBrush(kHostBackground);
    wc.lpszClassName = kHostClass;
    RegisterClassExW(&wc);
    host_ = CreateWindowExW(WS_EX_CONTROLPARENT, kHostClass, L"controls", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN,
                            100, 100, 600, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(host_);
  }
  static void TearDownTestSuite() {
    if (host_) DestroyWindow(host_);
    host_ = nullptr;
    delete gdiplus_;
    gdiplus_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(gdiplus_->Started());
    ASSERT_TRUE(host_);
    g_commands.clear();
    font_.Reset(CreateFontW(-16, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, DEFAULT_PITCH, L"Tahoma"));
    SetCursorPos(5, 5);  // well away from the window
    Pump();
  }
  void TearDown() override {
    SetFocus(host_);
    while (HWND child = GetWindow(host_, GW_CHILD)) DestroyWindow(child);
    InvalidateRect(host_, nullptr, TRUE);
    Pump(20);
  }

  HWND Make(const wchar_t* cls, const wchar_t* text, int id, int x, int y, int w, int h, DWORD style = 0) {
    HWND hwnd = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, host_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                nullptr);
    EXPECT_TRUE(hwnd) << GetLastError();
    if (hwnd) SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), TRUE);
    return hwnd;
  }
  TzButton* MakeButton(const wchar_t* text, int id, int x, int y) {
    return TzButton::FromHandle(Make(TzButton::kClassName, text, id, x, y, 80, 28));
  }
  void PointAt(HWND hwnd, int x, int y) {
    POINT pt{x, y};
    ClientToScreen(hwnd, &pt);
    SetCursorPos(pt.x, pt.y);
    Pump(200);
  }

  static ScopedGdiplus* gdiplus_;
  static HWND host_;
  gdi::Font font_;
};
ScopedGdiplus* ControlsTest::gdiplus_ = nullptr;
HWND ControlsTest::host_ = nullptr;

// ------------------------------------------------------------ TzButton

TEST_F(ControlsTest, ButtonOutlineFillTextAndCorners) {
  TzButton* b = MakeButton(L"Install", 11, 20, 30);  // its top-left corner lies on the host's red content
  ASSERT_TRUE(b);
  const Image img = Screen(b->Handle());
  ASSERT_EQ(img.Width(), 80);
  ASSERT_EQ(img.Height(), 28);
  // The outline runs through the first and last rows and columns.
  for (auto [x, y] : {std::pair{40, 0}, {40, 27}, {0, 14}, {79, 14}, {3, 0}, {76, 27}}) {
    EXPECT_EQ(Hex(img.At(x, y)), Hex(kSilver)) << x << "," << y;
  }
  EXPECT_EQ(Hex(img.At(20, 3)), Hex(PxOf(GetSysColor(COLOR_BTNFACE))));
  // Outside the rounded corners: the parent's content and its background.
  EXPECT_EQ(Hex(img.At(0, 0)), Hex(PxOf(kHostContent)));
  EXPECT_EQ(Hex(img.At(79, 0)), Hex(PxOf(kHostBackground)));
  EXPECT_EQ(Hex(img.At(79, 27)), Hex(PxOf(kHostBackground)));
  // The caption in the font's colour, in the middle.
  EXPECT_GT(img.Count(kBlack, {15, 5, 65, 23}), 20);
  EXPECT_EQ(img.Count(kBlack, {0, 0, 80, 4}), 0);
}

TEST_F(ControlsTest, ButtonOutlineUnderTheMouseAndDisabled) {
  TzButton* b = MakeButton(L"Close", 12, 200, 30);
  ASSERT_TRUE(b);
  EXPECT_EQ(Hex(Screen(b->Handle()).At(40, 0)), Hex(kSilver));

  // Shown, not Screen: entering and leaving must repaint by themselves.
  PointAt(b->Handle(), 40, 14);
  EXPECT_TRUE(b->HasMouse());
  Image hover = Shown(b->Handle());
  EXPECT_EQ(Hex(hover.At(40, 0)), Hex(kMedGray));
  EXPECT_EQ(Hex(hover.At(0, 14)), Hex(kMedGray));
  EXPECT_EQ(Hex(hover.At(20, 3)), Hex(PxOf(GetSysColor(COLOR_BTNFACE))));  // the fill stays

  SetCursorPos(5, 5);
  Pump(200);
  EXPECT_FALSE(b->HasMouse());
  EXPECT_EQ(Hex(Shown(b->Handle()).At(40, 0)), Hex(kSilver));

  b->SetEnabled(false);
  Pump();
  EXPECT_EQ(Hex(Shown(b->Handle()).At(40, 0)), Hex(kDisabled));
  EXPECT_FALSE(IsWindowEnabled(b->Handle()));
  PointAt(b->Handle(), 40, 14);  // no hover look while disabled
  const Image off = Screen(b->Handle());
  EXPECT_EQ(Hex(off.At(40, 0)), Hex(kDisabled));
  EXPECT_EQ(Hex(off.At(79, 14)), Hex(kDisabled));
  EXPECT_GT(off.Count(kSilver, {15, 5, 65, 23}), 20);  // silver text
  EXPECT_EQ(off.Count(kBlack, {0, 0, 80, 28}), 0);

  EnableWindow(b->Handle(), TRUE);  // the same switch as SetEnabled
  EXPECT_TRUE(b->Enabled());
  SetCursorPos(5, 5);
  Pump(200);
  EXPECT_EQ(Hex(Screen(b->Handle()).At(40, 0)), Hex(kSilver));
}

TEST_F(ControlsTest, ButtonUnderAPictureChildStillHovers) {
  // The folder button's picture covers it entirely; without SS_NOTIFY it
  // lets the mouse through, so the mouse over the picture is the mouse over
  // the button.
  TzButton* b = TzButton::FromHandle(Make(TzButton::kClassName, L"", 17, 300, 100, 31, 24));
  ASSERT_TRUE(b);
  HWND picture = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 31, 24, b->Handle(), nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(picture);
  PointAt(picture, 15, 12);
  EXPECT_TRUE(b->HasMouse());
  EXPECT_EQ(Hex(Printed(b->Handle()).At(15, 0)), Hex(kMedGray));
  SetCursorPos(5, 5);
  Pump(300);
  EXPECT_FALSE(b->HasMouse());
  EXPECT_EQ(Hex(Printed(b->Handle()).At(15, 0)), Hex(kSilver));
}

TEST_F(ControlsTest, ButtonPrintedShowsParentAndLabelsUnderIt) {
  // A dark label reaching under the button's top-right corner.
  HWND label = Make(L"STATIC", L"", 20, 370, 25, 15, 10, SS_BLACKRECT);
  TzButton* b = MakeButton(L"", 13, 300, 30);
  ASSERT_TRUE(label && b);
  const Image img = Printed(b->Handle());
  // (79, 0) is the label's (9, 5); SS_BLACKRECT is a system colour.
  const uint32_t labelColor = Printed(label).At(9, 5);
  EXPECT_NE(labelColor, PxOf(kHostBackground));
  EXPECT_EQ(Hex(img.At(79, 0)), Hex(labelColor));
  EXPECT_EQ(Hex(img.At(0, 0)), Hex(PxOf(kHostBackground)));
  EXPECT_EQ(Hex(img.At(40, 0)), Hex(kSilver));
  EXPECT_EQ(Hex(img.At(0, 27)), Hex(PxOf(kHostBackground)));
}

TEST_F(ControlsTest, ButtonOnAStaticPanelShowsThePanelAtItsCorners) {
  HWND panel = Make(L"STATIC", L"", kPanelId, 300, 150, 200, 100, WS_CLIPCHILDREN);
  ASSERT_TRUE(panel);
  HWND button = CreateWindowExW(0, TzButton::kClassName, L"", WS_CHILD | WS_VISIBLE, 10, 10, 80, 28, panel,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(button);
  const Image img = Screen(button);
  EXPECT_EQ(Hex(img.At(0, 0)), Hex(PxOf(kPanelColor)));
  EXPECT_EQ(Hex(img.At(79, 27)), Hex(PxOf(kPanelColor)));
  EXPECT_EQ(Hex(img.At(40, 0)), Hex(kSilver));
}

TEST_F(ControlsTest, ButtonSettersRepaintOnlyOnAChange) {
  TzButton* b = MakeButton(L"Install", 16, 20, 100);
  ASSERT_TRUE(b);
  UpdateWindow(b->Handle());
  RECT dirty{};
  auto pending = [&] { return GetUpdateRect(b->Handle(), &dirty, FALSE) != FALSE; };
  ASSERT_FALSE(pending());

  // Current values: no repaint of either kind.
  b->SetRounding(3);
  b->SetRoundType(rtAll);
  b->SetBorderStyle(dsSolid);
  b->SetBorderOpacity(255);
  b->SetEnabled(true);
  b->SetText(L"Install");
  b->SetDown(false);
  b->SetGroupIndex(0);
  b->SetFillColor(clBtnFace);
  EXPECT_FALSE(pending());
  const Image before = Shown(b->Handle());
  b->SetBorderColor(clSilver);
  b->SetBorderColorFocused(clMedGray);
  EXPECT_FALSE(pending());

  // A new value of the later kind marks the control for the next paint.
  b->SetRounding(5);
  EXPECT_TRUE(pending());
  UpdateWindow(b->Handle());
  b->SetBorderStyle(dsDash);
  EXPECT_TRUE(pending());
  UpdateWindow(b->Handle());

  // BorderColor paints before it returns.
  EXPECT_EQ(Hex(before.At(40, 0)), Hex(kSilver));
  b->SetBorderColor(0x0000FF);  // red
  EXPECT_FALSE(pending());
  EXPECT_EQ(Hex(Shown(b->Handle()).At(40, 0)), Hex(Px(255, 0, 0)));
}

TEST_F(ControlsTest, ButtonKeepsItsWindowText) {
  TzButton* b = MakeButton(L"Install", 14, 20, 100);
  ASSERT_TRUE(b);
  wchar_t text[32] = {};
  GetWindowTextW(b->Handle(), text, 32);
  EXPECT_STREQ(text, L"Install");
  SendMessageW(b->Handle(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"Update"));
  SendMessageW(b->Handle(), WM_GETTEXT, 32, reinterpret_cast<LPARAM>(text));
  EXPECT_STREQ(text, L"Update");
  EXPECT_EQ(b->Model().Text(), L"Update");  // what is drawn
}

TEST_F(ControlsTest, ButtonClicksReachTheParent) {
  TzButton* b = MakeButton(L"Install", 15, 20, 100);
  ASSERT_TRUE(b);
  struct Step {
    const char* name;
    bool enabled;
    UINT down, up;  // mouse messages, or BM_CLICK as `up` alone
    LPARAM upAt;
    size_t commands;
  };
  const Step steps[] = {
      {"BM_CLICK", true, 0, BM_CLICK, 0, 1},
      {"mouse click", true, WM_LBUTTONDOWN, WM_LBUTTONUP, MAKELPARAM(10, 10), 1},
      {"released outside", true, WM_LBUTTONDOWN, WM_LBUTTONUP, MAKELPARAM(100, 10), 0},
      {"BM_CLICK while disabled", false, 0, BM_CLICK, 0, 0},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    g_commands.clear();
    b->SetEnabled(s.enabled);
    if (s.down) SendMessageW(b->Handle(), s.down, MK_LBUTTON, MAKELPARAM(10, 10));
    SendMessageW(b->Handle(), s.up, 0, s.upAt);
    ASSERT_EQ(g_commands.size(), s.commands);
    if (s.commands) {
      EXPECT_EQ(g_commands[0].id, 15);
      EXPECT_EQ(g_commands[0].code, BN_CLICKED);
      EXPECT_EQ(g_commands[0].from, b->Handle());
    }
  }
}

TEST_F(ControlsTest, GroupedButtonsTakeTurnsBeingDown) {
  TzButton* a = MakeButton(L"A", 21, 20, 150);
  TzButton* b = MakeButton(L"B", 22, 110, 150);
  TzButton* loose = MakeButton(L"C", 23, 200, 150);
  ASSERT_TRUE(a && b && loose);
  a->SetGroupIndex(1);
  b->SetGroupIndex(1);
  EXPECT_EQ(a->FillColorFocused(), 0xF8E3D1);
  EXPECT_EQ(a->GetDownButton(), nullptr);

  SendMessageW(a->Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(a->Down());
  EXPECT_FALSE(b->Down());
  EXPECT_EQ(b->GetDownButton(), a);
  // A down button away from the mouse shows the focused colours.
  const Image down = Screen(a->Handle());
  EXPECT_EQ(Hex(down.At(20, 3)), Hex(Px(209, 227, 248)));
  EXPECT_EQ(Hex(down.At(40, 0)), Hex(kMedGray));

  SendMessageW(b->Handle(), WM_RBUTTONUP, 0, MAKELPARAM(5, 5));  // any mouse button
  EXPECT_FALSE(a->Down());
  EXPECT_TRUE(b->Down());
  EXPECT_EQ(Hex(Screen(a->Handle()).At(20, 3)), Hex(PxOf(GetSysColor(COLOR_BTNFACE))));

  SendMessageW(b->Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(b->Down());
  SendMessageW(loose->Handle(), BM_CLICK, 0, 0);
  EXPECT_FALSE(loose->Down());
  EXPECT_TRUE(b->Down());
}

// ------------------------------------------------------------ TzEdit

TEST_F(ControlsTest, EditInnerWindowGeometry) {
  TzEdit* e = TzEdit::FromHandle(Make(TzEdit::kClassName, L"", 31, 114, 176, 322, 24));
  ASSERT_TRUE(e);
  HWND inner = e->Edit().Handle();
  ASSERT_TRUE(inner);
  EXPECT_EQ(GetParent(inner), e->Handle());
  auto innerRect = [&] {
    RECT r{};
    GetWindowRect(inner, &r);
    MapWindowPoints(nullptr, e->Handle(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  };
  RECT r = innerRect();
  EXPECT_EQ(r.left, 3);
  EXPECT_EQ(r.top, 5);
  EXPECT_EQ(r.right - r.left, 314);
  EXPECT_EQ(r.bottom - r.top, 18);
  EXPECT_EQ(GetWindowLongW(inner, GWL_STYLE) & WS_BORDER, 0);

  SetWindowPos(e->Handle(), nullptr, 0, 0, 200, 30, SWP_NOMOVE | SWP_NOZORDER);
  r = innerRect();
  EXPECT_EQ(r.left, 3);
  EXPECT_EQ(r.top, 5);
  EXPECT_EQ(r.right - r.left, 192);
  EXPECT_EQ(r.bottom - r.top, 24);
}

TEST_F(ControlsTest, EditTextIsTheInnerEditsAndChangesReachTheParent) {
  HWND frame = Make(TzEdit::kClassName, L"C:\\Start\\", 32, 20, 20, 322, 24);
  TzEdit* e = TzEdit::FromHandle(frame);
  ASSERT_TRUE(e);
  wchar_t text[64] = {};
  GetWindowTextW(e->Edit().Handle(), text, 64);
  EXPECT_STREQ(text, L"C:\\Start\\");
  SetWindowTextW(frame, L"D:\\Tools\\ORBITQuarry\\");
  GetWindowTextW(e->Edit().Handle(), text, 64);
  EXPECT_STREQ(text, L"D:\\Tools\\ORBITQuarry\\");
  EXPECT_TRUE(e->Model().Text().empty());  // the frame draws no caption

  g_commands.clear();
  SendMessageW(e->Edit().Handle(), EM_SETSEL, 100, 100);
  SendMessageW(e->Edit().Handle(), WM_CHAR, L'x', 1);  // typing at the end
  GetWindowTextW(frame, text, 64);
  EXPECT_STREQ(text, L"D:\\Tools\\ORBITQuarry\\x");
  // Read as another process would: the frame's stored text, no message.
  InternalGetWindowText(frame, text, 64);
  EXPECT_STREQ(text, L"D:\\Tools\\ORBITQuarry\\x");
  bool changed = false;
  for (const Command& c : g_commands) changed |= c.id == 32 && c.code == EN_CHANGE && c.from == frame;
  EXPECT_TRUE(changed);
}

TEST_F(ControlsTest, EditPlaceholder) {
  TzEdit* e = TzEdit::FromHandle(Make(TzEdit::kClassName, L"", 33, 20, 60, 322, 24));
  ASSERT_TRUE(e);
  HWND inner = e->Edit().Handle();
  const RECT all = ClientOf(inner);
  EXPECT_EQ(Screen(inner).Count(kGray, all), 0);

  e->SetEmptyText(L"Pick a folder");
  EXPECT_GT(Screen(inner).Count(kGray, all), 20);
  // Drawn from (3, 0): nothing grey in the first three columns.
  EXPECT_EQ(Screen(inner).Count(kGray, {0, 0, 3, all.bottom}), 0);

  SetFocus(inner);
  Pump();
  EXPECT_GT(Screen(inner).Count(kGray, all), 20);  // heOnText: stays while focused
  e->SetHideEmptyText(heOnFocus);
  EXPECT_EQ(Screen(inner).Count(kGray, all), 0);
  SetFocus(host_);
  Pump();
  EXPECT_GT(Screen(inner).Count(kGray, all), 20);

  SetWindowTextW(e->Handle(), L"C:\\");
  EXPECT_EQ(Screen(inner).Count(kGray, all), 0);
}

TEST_F(ControlsTest, EditFrameKeepsItsLook) {
  TzEdit* e = TzEdit::FromHandle(Make(TzEdit::kClassName, L"", 34, 20, 100, 322, 24));
  ASSERT_TRUE(e);
  PointAt(e->Handle(), 1, 12);  // on the frame, left of the inner edit
  EXPECT_EQ(Hex(Screen(e->Handle()).At(160, 0)), Hex(kSilver));

  e->SetEnabled(false);
  EXPECT_FALSE(IsWindowEnabled(e->Edit().Handle()));
  EXPECT_TRUE(IsWindowEnabled(e->Handle()));
  EXPECT_FALSE(e->Enabled());
  EXPECT_EQ(Hex(Screen(e->Handle()).At(160, 0)), Hex(kSilver));

  e->SetFillColor(0x00FFFF);  // yellow, as 0x00BBGGRR
  const Image yellow = Screen(e->Handle());
  EXPECT_EQ(Hex(yellow.At(1, 12)), Hex(Px(255, 255, 0)));
  EXPECT_EQ(e->Edit().Color(), 0x00FFFF);
  EXPECT_EQ(Hex(Screen(e->Edit().Handle()).At(300, 9)), Hex(Px(255, 255, 0)));  // the edit's background too
}

TEST_F(ControlsTest, TabNeverStopsOnAnEditThatIsNoTabStop) {
  HWND first = Make(L"BUTTON", L"first", 41, 20, 20, 80, 24, WS_TABSTOP);
  TzEdit* skipped = TzEdit::FromHandle(Make(TzEdit::kClassName, L"", 42, 20, 60, 322, 24));
  TzEdit* stop = TzEdit::FromHandle(Make(TzEdit::kClassName, L"", 43, 20, 100, 322, 24, WS_TABSTOP));
  HWND last = Make(L"BUTTON", L"last", 44, 20, 140, 80, 24, WS_TABSTOP);
  ASSERT_TRUE(first && skipped && stop && last);
  // WS_TABSTOP given to the frame belongs to the inner edit.
  EXPECT_FALSE(skipped->TabStop());
  EXPECT_FALSE(stop->TabStop());
  EXPECT_NE(GetWindowLongW(stop->Edit().Handle(), GWL_STYLE) & WS_TABSTOP, 0);

  auto tab = [&] {
    MSG msg{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
    EXPECT_TRUE(IsDialogMessageW(host_, &msg));
    return GetFocus();
  };
  SetFocus(first);
  EXPECT_EQ(tab(), stop->Edit().Handle());
  EXPECT_EQ(tab(), last);
  EXPECT_EQ(tab(), first);

  stop->SetTabStop(false);
  EXPECT_EQ(tab(), last);
  EXPECT_EQ(tab(), first);
  EXPECT_EQ(tab(), last);
  // Focus handed to the frame goes to the edit inside.
  SetFocus(skipped->Handle());
  EXPECT_EQ(GetFocus(), skipped->Edit().Handle());
}

}  // namespace
}  // namespace oq
