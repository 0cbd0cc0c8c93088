#include "ui/draw/rounded_outline.h"

#include <cmath>

namespace oq {

PathSegment PathSegment::Arc(float x, float y, float width, float height, float startAngle, float sweepAngle) {
  return {Kind::Arc, x, y, width, height, startAngle, sweepAngle, 0, 0, 0, 0};
}

PathSegment PathSegment::Line(float x1, float y1, float x2, float y2) {
  return {Kind::Line, 0, 0, 0, 0, 0, 0, x1, y1, x2, y2};
}

namespace {

PointF OnEllipse(const PathSegment& s, double degrees) {
  const double radians = degrees * 3.14159265358979323846 / 180.0;
  const double rx = s.width / 2.0;
  const double ry = s.height / 2.0;
  return {static_cast<float>(s.x + rx + rx * std::cos(radians)),
          static_cast<float>(s.y + ry + ry * std::sin(radians))};
}

}  // namespace

PointF StartPoint(const PathSegment& s) {
  return s.kind == PathSegment::Kind::Arc ? OnEllipse(s, s.startAngle) : PointF{s.x1, s.y1};
}

PointF EndPoint(const PathSegment& s) {
  return s.kind == PathSegment::Kind::Arc ? OnEllipse(s, double(s.startAngle) + s.sweepAngle) : PointF{s.x2, s.y2};
}

namespace {

// Each type as a short program of pieces: a corner arc, or a line between
// two of the four edge positions in x and in y.
enum EdgeX : uint8_t { X1, X1R, X2R, X2 };  // X1, X1+R, X2-R, X2
enum EdgeY : uint8_t { Y1, Y1R, Y2R, Y2 };  // Y1, Y1+R, Y2-R, Y2
constexpr uint16_t kArc = 0x100;
enum Corner : uint16_t { kTopLeft = kArc, kTopRight, kBottomRight, kBottomLeft };
constexpr uint16_t Ln(EdgeX xa, EdgeY ya, EdgeX xb, EdgeY yb) {
  return static_cast<uint16_t>(xa << 6 | ya << 4 | xb << 2 | yb);
}

struct Program {
  uint8_t count;
  uint16_t pieces[8];
};

// Clockwise from the top-left, indexed by TRoundingType.
constexpr Program kPrograms[] = {
    /* rtAll */ {8, {kTopLeft, Ln(X1R, Y1, X2R, Y1), kTopRight, Ln(X2, Y1R, X2, Y2R), kBottomRight,
                     Ln(X2R, Y2, X1R, Y2), kBottomLeft, Ln(X1, Y2R, X1, Y1R)}},
    /* rtNone */ {4, {Ln(X1, Y1, X2, Y1), Ln(X2, Y1, X2, Y2), Ln(X2, Y2, X1, Y2), Ln(X1, Y2, X1, Y1)}},
    /* rtTop */ {6, {kTopLeft, Ln(X1R, Y1, X2R, Y1), kTopRight, Ln(X2, Y1R, X2, Y2), Ln(X2, Y2, X1, Y2),
                     Ln(X1, Y2, X1, Y1R)}},
    /* rtBottom */ {6, {Ln(X1, Y1, X2, Y1), Ln(X2, Y1, X2, Y2R), kBottomRight, Ln(X2R, Y2, X1R, Y2), kBottomLeft,
                        Ln(X1, Y2R, X1, Y1)}},
    // The right-hand corners are left to the joining lines GDI+ draws
    // between (X2-R, Y1) and (X2, Y1) and between (X2, Y2) and (X2-R, Y2).
    /* rtLeft */ {6, {kTopLeft, Ln(X1R, Y1, X2R, Y1), Ln(X2, Y1, X2, Y2), Ln(X2R, Y2, X1R, Y2), kBottomLeft,
                      Ln(X1, Y2R, X1, Y1R)}},
    /* rtRight */ {6, {Ln(X1, Y1, X2R, Y1), kTopRight, Ln(X2, Y1R, X2, Y2R), kBottomRight, Ln(X2R, Y2, X1, Y2),
                       Ln(X1, Y2, X1, Y1)}},
};

}  // namespace

std::vector<PathSegment> RoundedOutline(float x, float y, float width, float height, int32_t radius,
                                        TRoundingType type) {
  std::vector<PathSegment> segments;
  if (type > rtRight) return segments;
  // Edges are formed in double and rounded once when handed on, so that a
  // large origin does not shift the far edge by a float step.
  const double r = radius, d = 2.0 * radius;
  const double x2 = double{x} + width, y2 = double{y} + height;
  const float xs[] = {x, static_cast<float>(x + r), static_cast<float>(x2 - r), static_cast<float>(x2)};
  const float ys[] = {y, static_cast<float>(y + r), static_cast<float>(y2 - r), static_cast<float>(y2)};
  // Left or top of each corner's D x D square.
  const float arcX[] = {x, static_cast<float>(x2 - d), static_cast<float>(x2 - d), x};
  const float arcY[] = {y, y, static_cast<float>(y2 - d), static_cast<float>(y2 - d)};
  const float fd = static_cast<float>(d);
  constexpr float kStart[] = {180, 270, 0, 90};

  const Program& program = kPrograms[type];
  segments.reserve(program.count);
  for (int i = 0; i < program.count; ++i) {
    const uint16_t piece = program.pieces[i];
    if (piece & kArc) {
      const int corner = piece & 3;
      segments.push_back(PathSegment::Arc(arcX[corner], arcY[corner], fd, fd, kStart[corner], 90));
    } else {
      segments.push_back(
          PathSegment::Line(xs[piece >> 6 & 3], ys[piece >> 4 & 3], xs[piece >> 2 & 3], ys[piece & 3]));
    }
  }
  return segments;
}

}  // namespace oq
