// The portable half of the rounded controls: outline geometry, colours, the
// style object's passes and the controls' state rules.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "ui/draw/draw_style.h"
#include "ui/draw/panel_model.h"
#include "ui/draw/rounded_outline.h"

namespace oq {
namespace {

using Kind = PathSegment::Kind;

constexpr float kX = 10.5f, kY = 20, kW = 80, kH = 28;
constexpr int kR = 3;
constexpr float kX2 = kX + kW, kY2 = kY + kH, kD = 2 * kR;

bool Near(PointF a, PointF b) { return std::fabs(a.x - b.x) < 1e-4f && std::fabs(a.y - b.y) < 1e-4f; }

std::string Show(PointF p) { return "(" + std::to_string(p.x) + ", " + std::to_string(p.y) + ")"; }

// ------------------------------------------------------------ outline

TEST(RoundedOutlineTest, CornerArcsRunBetweenTheirEdges) {
  const std::vector<PathSegment> all = RoundedOutline(kX, kY, kW, kH, kR, rtAll);
  ASSERT_EQ(all.size(), 8u);
  struct Corner {
    size_t index;
    float x, y, start;
    PointF from, to;
  };
  const Corner corners[] = {
      {0, kX, kY, 180, {kX, kY + kR}, {kX + kR, kY}},
      {2, kX2 - kD, kY, 270, {kX2 - kR, kY}, {kX2, kY + kR}},
      {4, kX2 - kD, kY2 - kD, 0, {kX2, kY2 - kR}, {kX2 - kR, kY2}},
      {6, kX, kY2 - kD, 90, {kX + kR, kY2}, {kX, kY2 - kR}},
  };
  for (const Corner& c : corners) {
    SCOPED_TRACE(c.index);
    const PathSegment& arc = all[c.index];
    ASSERT_EQ(arc.kind, Kind::Arc);
    EXPECT_EQ(arc.x, c.x);
    EXPECT_EQ(arc.y, c.y);
    EXPECT_EQ(arc.width, kD);
    EXPECT_EQ(arc.height, kD);
    EXPECT_EQ(arc.startAngle, c.start);
    EXPECT_EQ(arc.sweepAngle, 90);
    EXPECT_TRUE(Near(StartPoint(arc), c.from)) << Show(StartPoint(arc));
    EXPECT_TRUE(Near(EndPoint(arc), c.to)) << Show(EndPoint(arc));
  }
}

// What each type is made of, arcs named by their corner, lines by their ends.
struct Piece {
  char corner;  // 'a' top-left, 'b' top-right, 'c' bottom-right, 'd' bottom-left; 0 for a line
  float x1, y1, x2, y2;
};
constexpr Piece TL{'a', 0, 0, 0, 0}, TR{'b', 0, 0, 0, 0}, BR{'c', 0, 0, 0, 0}, BL{'d', 0, 0, 0, 0};
constexpr Piece L(float x1, float y1, float x2, float y2) { return {0, x1, y1, x2, y2}; }

struct OutlineCase {
  TRoundingType type;
  std::vector<Piece> pieces;
  // The lines GDI+ adds where a segment starts away from the last one's end.
  std::vector<Piece> joins;
};

const std::vector<OutlineCase>& OutlineCases() {
  static const std::vector<OutlineCase> cases = {
      {rtAll,
       {TL, L(kX + kR, kY, kX2 - kR, kY), TR, L(kX2, kY + kR, kX2, kY2 - kR), BR, L(kX2 - kR, kY2, kX + kR, kY2), BL,
        L(kX, kY2 - kR, kX, kY + kR)},
       {}},
      {rtNone, {L(kX, kY, kX2, kY), L(kX2, kY, kX2, kY2), L(kX2, kY2, kX, kY2), L(kX, kY2, kX, kY)}, {}},
      {rtTop,
       {TL, L(kX + kR, kY, kX2 - kR, kY), TR, L(kX2, kY + kR, kX2, kY2), L(kX2, kY2, kX, kY2),
        L(kX, kY2, kX, kY + kR)},
       {}},
      {rtBottom,
       {L(kX, kY, kX2, kY), L(kX2, kY, kX2, kY2 - kR), BR, L(kX2 - kR, kY2, kX + kR, kY2), BL,
        L(kX, kY2 - kR, kX, kY)},
       {}},
      {rtLeft,
       {TL, L(kX + kR, kY, kX2 - kR, kY), L(kX2, kY, kX2, kY2), L(kX2 - kR, kY2, kX + kR, kY2), BL,
        L(kX, kY2 - kR, kX, kY + kR)},
       {L(kX2 - kR, kY, kX2, kY), L(kX2, kY2, kX2 - kR, kY2)}},
      {rtRight,
       {L(kX, kY, kX2 - kR, kY), TR, L(kX2, kY + kR, kX2, kY2 - kR), BR, L(kX2 - kR, kY2, kX, kY2),
        L(kX, kY2, kX, kY)},
       {}},
  };
  return cases;
}

TEST(RoundedOutlineTest, EveryTypeHasItsSegmentsInOrder) {
  const float arcStart[] = {180, 270, 0, 90};
  for (const OutlineCase& c : OutlineCases()) {
    SCOPED_TRACE(static_cast<int>(c.type));
    const std::vector<PathSegment> got = RoundedOutline(kX, kY, kW, kH, kR, c.type);
    ASSERT_EQ(got.size(), c.pieces.size());
    for (size_t i = 0; i < got.size(); ++i) {
      SCOPED_TRACE(i);
      const Piece& want = c.pieces[i];
      if (want.corner) {
        ASSERT_EQ(got[i].kind, Kind::Arc);
        EXPECT_EQ(got[i].startAngle, arcStart[want.corner - 'a']);
      } else {
        ASSERT_EQ(got[i].kind, Kind::Line);
        EXPECT_EQ(got[i].x1, want.x1);
        EXPECT_EQ(got[i].y1, want.y1);
        EXPECT_EQ(got[i].x2, want.x2);
        EXPECT_EQ(got[i].y2, want.y2);
      }
    }
  }
}

TEST(RoundedOutlineTest, EveryTypeIsClosedOnceTheJoiningLinesAreCounted) {
  for (const OutlineCase& c : OutlineCases()) {
    SCOPED_TRACE(static_cast<int>(c.type));
    const std::vector<PathSegment> got = RoundedOutline(kX, kY, kW, kH, kR, c.type);
    ASSERT_FALSE(got.empty());
    std::vector<Piece> joins;
    for (size_t i = 1; i < got.size(); ++i) {
      const PointF end = EndPoint(got[i - 1]), start = StartPoint(got[i]);
      if (!Near(end, start)) joins.push_back(L(end.x, end.y, start.x, start.y));
    }
    ASSERT_EQ(joins.size(), c.joins.size());
    for (size_t i = 0; i < joins.size(); ++i) {
      EXPECT_TRUE(Near({joins[i].x1, joins[i].y1}, {c.joins[i].x1, c.joins[i].y1}));
      EXPECT_TRUE(Near({joins[i].x2, joins[i].y2}, {c.joins[i].x2, c.joins[i].y2}));
    }
    // The figure is never closed explicitly: the last segment must end
    // where the first began (for rtRight, the left edge reaches the corner).
    EXPECT_TRUE(Near(EndPoint(got.back()), StartPoint(got.front())))
        << Show(EndPoint(got.back())) << " vs " << Show(StartPoint(got.front()));
  }
}

TEST(RoundedOutlineTest, PlainRectangleWhateverTheRadius) {
  for (int radius : {0, 3, 50}) {
    const std::vector<PathSegment> got = RoundedOutline(0, 0, 10, 10, radius, rtNone);
    ASSERT_EQ(got.size(), 4u);
    for (const PathSegment& s : got) EXPECT_EQ(s.kind, Kind::Line);
    EXPECT_EQ(got[1].x1, 10);
    EXPECT_EQ(got[1].y2, 10);
  }
}

TEST(RoundedOutlineTest, FarEdgesAreFormedInDoubleThenRounded) {
  // 2^24 + 3 - 1 is exact in double; in float arithmetic 2^24 + 3 rounds to
  // 2^24 + 4 first and the edge lands two pixels off.
  const float x = 16777216.0f;
  const std::vector<PathSegment> got = RoundedOutline(x, 0, 3, 10, 1, rtAll);
  EXPECT_EQ(got[1].x2, 16777218.0f);  // X2 - R
  EXPECT_EQ(got[2].x, 16777217.0f);   // X2 - D
}

// ------------------------------------------------------------ colours

std::vector<int> g_sysLookups;
uint32_t FakeSysColor(int index) {
  g_sysLookups.push_back(index);
  return RgbOf(static_cast<uint8_t>(index), static_cast<uint8_t>(2 * index), static_cast<uint8_t>(3 * index));
}

TEST(MakeArgbTest, RgbAndSystemColours) {
  struct Case {
    uint8_t alpha;
    TColor color;
    uint32_t argb;
    std::vector<int> lookups;
  };
  const Case cases[] = {
      {255, 0x00332211, 0xFF112233, {}},
      {0x80, 0x05332211, 0x80112233, {}},  // the high byte of an RGB value is dropped
      {0, clSilver, 0x00C0C0C0, {}},
      {255, clMedGray, 0xFFA0A0A4, {}},
      {255, clNone, 0xFFFFFFFF, {}},  // not a system colour: taken as it is
      {255, clBtnFace, 0xFF0F1E2D, {15}},
      {0x40, clWindowText, 0x40081018, {8}},
      {255, static_cast<TColor>(0x8000010F), 0xFF0F1E2D, {15}},  // any negative value; its lowest byte
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.color);
    g_sysLookups.clear();
    EXPECT_EQ(MakeArgb(c.alpha, c.color, FakeSysColor), c.argb);
    EXPECT_EQ(g_sysLookups, c.lookups);
  }
}

// ------------------------------------------------------------ TzGDIDraw

// `same` sets the value a new object has, so a wrong construction value
// shows as an unexpected notification.
TEST(TzGDIDrawTest, SettersNotifyOnlyOnAChange) {
  struct Case {
    const char* name;
    std::function<void(TzGDIDraw&)> same, other;
  };
  const Case cases[] = {
      {"DrawColor", [](TzGDIDraw& d) { d.SetDrawColor(clSilver); }, [](TzGDIDraw& d) { d.SetDrawColor(clNone); }},
      {"BorderColor", [](TzGDIDraw& d) { d.SetBorderColor(clNone); }, [](TzGDIDraw& d) { d.SetBorderColor(0); }},
      {"BorderOpacity", [](TzGDIDraw& d) { d.SetBorderOpacity(0); }, [](TzGDIDraw& d) { d.SetBorderOpacity(255); }},
      {"BorderWidth", [](TzGDIDraw& d) { d.SetBorderWidth(1); }, [](TzGDIDraw& d) { d.SetBorderWidth(2); }},
      {"Rounding", [](TzGDIDraw& d) { d.SetRounding(0); }, [](TzGDIDraw& d) { d.SetRounding(3); }},
      {"RoundingType", [](TzGDIDraw& d) { d.SetRoundingType(rtAll); },
       [](TzGDIDraw& d) { d.SetRoundingType(rtLeft); }},
      {"Focus", [](TzGDIDraw& d) { d.SetFocus(false); }, [](TzGDIDraw& d) { d.SetFocus(true); }},
      {"FocusColor", [](TzGDIDraw& d) { d.SetFocusColor(clBlack); }, [](TzGDIDraw& d) { d.SetFocusColor(clGray); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TzGDIDraw d;
    std::vector<TzGDIDraw*> senders;
    d.SetOnChange([&](TzGDIDraw& sender) { senders.push_back(&sender); });
    c.same(d);
    EXPECT_TRUE(senders.empty());
    c.other(d);
    ASSERT_EQ(senders.size(), 1u);
    EXPECT_EQ(senders[0], &d);
    c.other(d);
    EXPECT_EQ(senders.size(), 1u);
  }
}

class RecordingCanvas final : public RoundRectCanvas {
 public:
  void NewPath() override { calls.push_back("path"); }
  void DrawRoundRect(float rx, float ry, float rw, float rh, int32_t radius, TRoundingType rt,
                     TDashStyle ds) override {
    calls.push_back("stroke:" + std::to_string(static_cast<int>(ds)));
    last = {rx, ry, rw, rh};
    lastRadius = radius;
    lastType = rt;
  }
  void FillPath() override { calls.push_back("fill"); }
  std::vector<std::string> calls;
  std::vector<float> last;
  int32_t lastRadius = -1;
  TRoundingType lastType = rtNone;
};

TEST(TzGDIDrawTest, DrawCanvasPasses) {
  using Calls = std::vector<std::string>;
  struct Case {
    const char* name;
    TColor draw, border;
    int32_t borderWidth;
    float w, h;
    Calls calls;
  };
  const Case cases[] = {
      {"fill and outline", clSilver, 0x000001, 1, 79, 27, {"path", "stroke:0", "fill", "stroke:3"}},
      {"2 x 2 is drawn", clSilver, 0x000001, 1, 2, 2, {"path", "stroke:0", "fill", "stroke:3"}},
      {"width 1", clSilver, 0x000001, 1, 1, 27, {}},
      {"height 1", clSilver, 0x000001, 1, 79, 1, {}},
      {"no fill colour", clNone, 0x000001, 1, 79, 27, {"path", "stroke:3"}},
      {"no border colour", clSilver, clNone, 1, 79, 27, {"path", "stroke:0", "fill"}},
      {"border width 0", clSilver, 0x000001, 0, 79, 27, {"path", "stroke:0", "fill"}},
      {"negative border width", clSilver, 0x000001, -1, 79, 27, {"path", "stroke:0", "fill"}},
      {"neither", clNone, clNone, 1, 79, 27, {"path"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingCanvas canvas;
    TzGDIDraw d;
    d.SetGDI(&canvas);
    d.SetDrawColor(c.draw);
    d.SetBorderColor(c.border);
    d.SetBorderWidth(c.borderWidth);
    d.SetRounding(3);
    d.SetRoundingType(rtTop);
    d.DrawCanvas(0.5f, 2, c.w, c.h, dsDashDot);
    EXPECT_EQ(canvas.calls, c.calls);
    if (!canvas.last.empty()) {
      EXPECT_EQ(canvas.last, (std::vector<float>{0.5f, 2, c.w, c.h}));
      EXPECT_EQ(canvas.lastRadius, 3);
      EXPECT_EQ(canvas.lastType, rtTop);
    }
  }
}

TEST(TzGDIDrawTest, NoOutlinePassAsConstructed) {
  // BorderColor starts as clNone.
  RecordingCanvas canvas;
  TzGDIDraw d;
  d.SetGDI(&canvas);
  d.DrawCanvas(0, 0, 10, 10, dsSolid);
  EXPECT_EQ(canvas.calls, (std::vector<std::string>{"path", "stroke:0", "fill"}));
}

TEST(TzGDIDrawTest, DrawCanvasWithoutCanvasDoesNothing) {
  TzGDIDraw d;
  d.DrawCanvas(0, 0, 10, 10, dsSolid);  // must not dereference the missing canvas
  EXPECT_EQ(d.GDI(), nullptr);
}

// ------------------------------------------------------------ panel state

// `same` is the construction value, as for TzGDIDraw above.
TEST(PanelModelTest, SettersRepaintAsTheirTableSaysAndNeverOnTheSameValue) {
  struct Case {
    const char* name;
    std::function<Repaint(PanelModel&)> same, other;
    Repaint then;
  };
  const Case cases[] = {
      {"Text", [](PanelModel& p) { return p.SetText(L""); }, [](PanelModel& p) { return p.SetText(L"Install"); },
       Repaint::Later},
      {"Rounding", [](PanelModel& p) { return p.SetRounding(3); }, [](PanelModel& p) { return p.SetRounding(4); },
       Repaint::Later},
      {"RoundType", [](PanelModel& p) { return p.SetRoundType(rtAll); },
       [](PanelModel& p) { return p.SetRoundType(rtNone); }, Repaint::Later},
      {"BorderStyle", [](PanelModel& p) { return p.SetBorderStyle(dsSolid); },
       [](PanelModel& p) { return p.SetBorderStyle(dsDot); }, Repaint::Later},
      {"BorderOpacity", [](PanelModel& p) { return p.SetBorderOpacity(255); },
       [](PanelModel& p) { return p.SetBorderOpacity(128); }, Repaint::Later},
      {"Enabled", [](PanelModel& p) { return p.SetEnabled(true); },
       [](PanelModel& p) { return p.SetEnabled(false); }, Repaint::Later},
      {"FillColor", [](PanelModel& p) { return p.SetFillColor(clBtnFace); },
       [](PanelModel& p) { return p.SetFillColor(0x123456); }, Repaint::Fill},
      {"BorderColor", [](PanelModel& p) { return p.SetBorderColor(clSilver); },
       [](PanelModel& p) { return p.SetBorderColor(0x123456); }, Repaint::Now},
      {"FillColorFocused", [](PanelModel& p) { return p.SetFillColorFocused(clBtnFace); },
       [](PanelModel& p) { return p.SetFillColorFocused(0x123456); }, Repaint::Now},
      {"BorderColorFocused", [](PanelModel& p) { return p.SetBorderColorFocused(clMedGray); },
       [](PanelModel& p) { return p.SetBorderColorFocused(0x123456); }, Repaint::Now},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PanelModel p;
    EXPECT_EQ(c.same(p), Repaint::None);
    EXPECT_EQ(c.other(p), c.then);
    EXPECT_EQ(c.other(p), Repaint::None);
  }
}

TEST(PanelModelTest, LookOfEachState) {
  PanelModel p;
  EXPECT_EQ(p.Look().outline, clSilver);
  EXPECT_EQ(p.Look().fill, clBtnFace);
  EXPECT_EQ(p.Look().text, clWindowText);

  EXPECT_EQ(p.SetHasMouse(true, true), Repaint::Later);
  EXPECT_EQ(p.Look().outline, clMedGray);
  EXPECT_EQ(p.Look().fill, clBtnFace);

  // Disabled wins over the mouse.
  p.SetEnabled(false);
  EXPECT_EQ(p.Look().outline, 0xE6E6E6);
  EXPECT_EQ(p.Look().text, clSilver);
  EXPECT_EQ(p.Look().fill, clBtnFace);

  EXPECT_EQ(p.SetHasMouse(false, true), Repaint::Later);
  EXPECT_EQ(p.Look().outline, 0xE6E6E6);
  p.SetEnabled(true);
  EXPECT_EQ(p.Look().outline, clSilver);
}

TEST(PanelModelTest, HoverRepaintsOnlyWhenTheHoverLookDiffers) {
  PanelModel cannot;
  EXPECT_EQ(cannot.SetHasMouse(true, false), Repaint::None);
  EXPECT_FALSE(cannot.HasMouse());
  EXPECT_EQ(cannot.Look().outline, clSilver);

  PanelModel same;
  same.SetBorderColorFocused(clSilver);  // fills are equal already
  EXPECT_EQ(same.SetHasMouse(true, true), Repaint::None);
  EXPECT_TRUE(same.HasMouse());
}

TEST(ButtonModelTest, DownTakesTheFocusedColours) {
  PanelModel p;
  p.SetFillColorFocused(0x111111);
  ButtonModel b;
  EXPECT_EQ(b.SetDown(false, p), Repaint::None);
  EXPECT_EQ(b.SetDown(true, p), Repaint::Later);
  EXPECT_EQ(p.Fill(), 0x111111);
  EXPECT_EQ(p.Border(), clMedGray);
  EXPECT_EQ(p.Look().outline, clMedGray);  // down, mouse elsewhere
  EXPECT_EQ(b.SetDown(true, p), Repaint::None);
  EXPECT_EQ(b.SetDown(false, p), Repaint::Later);
  EXPECT_EQ(p.Fill(), clBtnFace);
  EXPECT_EQ(p.Border(), clSilver);
}

TEST(ButtonModelTest, GroupIndexGivesADownButtonItsOwnFill) {
  struct Case {
    int32_t index;
    TColor focusedBefore, focusedAfter;
    Repaint repaint;
  };
  const Case cases[] = {
      {2, clBtnFace, 0xF8E3D1, Repaint::Later},  // equal fills: the light blue
      {2, 0x222222, 0x222222, Repaint::Later},   // already different: kept
      {0, clBtnFace, clBtnFace, Repaint::None},  // unchanged index
      {-1, clBtnFace, clBtnFace, Repaint::Later},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    PanelModel p;
    p.SetFillColorFocused(c.focusedBefore);
    ButtonModel b;
    EXPECT_EQ(b.SetGroupIndex(c.index, p), c.repaint);
    EXPECT_EQ(p.FillColorFocused(), c.focusedAfter);
    EXPECT_EQ(p.Fill(), clBtnFace);  // not down: the plain fill
  }
}

TEST(ButtonModelTest, GroupIndexOnADownButtonShowsTheNewDownFill) {
  PanelModel p;
  ButtonModel b;
  b.SetDown(true, p);
  EXPECT_EQ(p.Fill(), clBtnFace);
  b.SetGroupIndex(1, p);
  EXPECT_EQ(p.Fill(), 0xF8E3D1);
}

class FakeButton final : public GroupMember {
 public:
  FakeButton(int32_t group, bool down, std::vector<std::string>* log, std::string name)
      : group_(group), down_(down), log_(log), name_(std::move(name)) {}
  int32_t GroupIndex() const override { return group_; }
  bool Down() const override { return down_; }
  void SetDown(bool value) override {
    log_->push_back(name_ + (value ? "+" : "-"));
    down_ = value;
  }

 private:
  int32_t group_;
  bool down_;
  std::vector<std::string>* log_;
  std::string name_;
};

TEST(GroupStepTest, MouseUpMovesTheGroup) {
  using Log = std::vector<std::string>;
  struct Case {
    const char* name;
    int32_t group;     // of a, b and c; d is always in group 2
    bool aDown, bDown;
    Log log;           // SetDown calls when the mouse is released on a
    bool aAfter, bAfter;
  };
  const Case cases[] = {
      {"a goes down, b up", 1, false, true, {"b-", "c-", "a+"}, true, false},
      {"a down already: nothing", 1, true, false, {}, true, false},
      {"group 0 never changes", 0, false, true, {}, false, true},
      {"negative group never changes", -3, false, false, {}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Log log;
    FakeButton a(c.group, c.aDown, &log, "a"), b(c.group, c.bDown, &log, "b"), cc(c.group, false, &log, "c"),
        d(2, true, &log, "d");
    GroupMember* const components[] = {&b, &a, &cc, &d};
    GroupStepOnMouseUp(a, components);
    EXPECT_EQ(log, c.log);
    EXPECT_EQ(a.Down(), c.aAfter);
    EXPECT_EQ(b.Down(), c.bAfter);
    EXPECT_TRUE(d.Down());  // another group is left alone
  }
}

TEST(GroupStepTest, DownButtonIsTheFirstDownOfTheGroup) {
  std::vector<std::string> log;
  FakeButton a(1, false, &log, "a"), b(1, true, &log, "b"), c(1, true, &log, "c"), d(2, true, &log, "d");
  GroupMember* const components[] = {&d, &a, &b, &c};
  EXPECT_EQ(FindDownButton(a, components), &b);
  EXPECT_EQ(FindDownButton(d, components), &d);  // itself
  FakeButton lone(3, false, &log, "e");
  EXPECT_EQ(FindDownButton(lone, components), nullptr);
}

// ------------------------------------------------------------ geometry

TEST(ControlGeometryTest, FrameAndInnerEdit) {
  struct Case {
    int32_t w, h, rounding;
    ControlRect inner;
  };
  const Case cases[] = {
      {322, 24, 3, {3, 5, 314, 18}},  // the main window's edPath
      {100, 24, 3, {3, 5, 92, 18}},   // as constructed
      {200, 30, 5, {5, 5, 188, 24}},
  };
  for (const Case& c : cases) EXPECT_EQ(InnerEditRect(c.w, c.h, c.rounding), c.inner);

  PanelModel p;
  const FrameRect f = PanelFrame(p, 80, 28);
  EXPECT_EQ(f.x, 0);
  EXPECT_EQ(f.y, 0);
  EXPECT_EQ(f.width, 79);
  EXPECT_EQ(f.height, 27);
}

TEST(ControlGeometryTest, PlaceholderShowsOnlyOnAnEmptyEdit) {
  struct Case {
    bool empty;
    const wchar_t* placeholder;
    bool focused;
    THideEmptyText hide;
    bool shows;
  };
  const Case cases[] = {
      {true, L"Folder", false, heOnText, true},   {true, L"Folder", true, heOnText, true},
      {true, L"Folder", false, heOnFocus, true},  {true, L"Folder", true, heOnFocus, false},
      {false, L"Folder", false, heOnText, false}, {true, L"", false, heOnText, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShowsEmptyText(c.empty, c.placeholder, c.focused, c.hide), c.shows)
        << c.empty << " " << c.focused << " " << static_cast<int>(c.hide);
  }
}

}  // namespace
}  // namespace oq
