#pragma once
// The outline of a rectangle with optionally rounded corners, as the ordered
// list of path segments that TzGDI feeds into a GDI+ path. Kept free of
// Win32 so that the geometry can be checked on the build host.

#include <cstdint>
#include <vector>

namespace oq {

// Ordinals are stored and compared; keep the declaration order.
enum TRoundingType : uint8_t { rtAll, rtNone, rtTop, rtBottom, rtLeft, rtRight };
// Carried through the drawing calls; every outline is drawn solid.
enum TDashStyle : uint8_t { dsSolid, dsDash, dsDot, dsDashDot, dsDashDotDot, dsCustom };

struct PointF {
  float x;
  float y;
  friend bool operator==(const PointF&, const PointF&) = default;
};

// One piece of an open figure, in the terms of GdipAddPathArc and
// GdipAddPathLine.
struct PathSegment {
  enum class Kind : uint8_t { Arc, Line };
  Kind kind;
  // Arc: the rectangle of the ellipse the arc lies on, start and sweep in
  // degrees clockwise from the positive x axis (y grows downwards).
  float x, y, width, height, startAngle, sweepAngle;
  // Line: from (x1, y1) to (x2, y2).
  float x1, y1, x2, y2;

  static PathSegment Arc(float x, float y, float width, float height, float startAngle, float sweepAngle);
  static PathSegment Line(float x1, float y1, float x2, float y2);
};

// Where a segment begins and ends. For an arc these are the points of the
// inscribed ellipse at the start and end angles, as GDI+ computes them, so
// they carry the float error of cos and sin.
PointF StartPoint(const PathSegment& s);
PointF EndPoint(const PathSegment& s);

// The segments of the outline of (x, y, width, height) with corner radius
// `radius`, clockwise from the top-left, in the order GDI+ must receive
// them. Where one segment starts elsewhere than the previous one ended,
// GDI+ joins the two with a straight line; every type ends where it began.
// A radius of 0 gives arcs of no size; a radius above half the width or
// height gives edges that run backwards (the controls never draw either).
std::vector<PathSegment> RoundedOutline(float x, float y, float width, float height, int32_t radius,
                                        TRoundingType type);

}  // namespace oq
