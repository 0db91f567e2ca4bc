// Plane geometry of the image toolkit and the shadows that views paint
// around an image.
//
// Coordinates are 32-bit integers in screen orientation (y grows downwards);
// angles are radians, counter-clockwise on the screen counting positive.
// Points are POINT records (two 32-bit integers). Rectangles given as four integers are
// inclusive unless said otherwise.
//
// The routines hold no state and may be called from any thread; the drawing
// routines use the canvas and bitmap of one thread at a time.
#pragma once

#include <windows.h>

#include <vector>

#include "classlib/Graphics.h"

namespace classlib {
class TBitmap;
}

namespace imaging {

// ---- rectangles and points

// left <= x <= right and top <= y <= bottom.
bool PxPointInRect(int x, int y, int left, int top, int right, int bottom);
// PxPointInRect after ordering the corners.
bool PxPointInNormRect(int x, int y, int x1, int y1, int x2, int y2);
// The rectangle spanned by (x1, y1) and (x2, y2), in either order, and the
// rectangle (left, top, right, bottom) share at least one point, edges
// included.
bool PxRectsIntersect(int x1, int y1, int x2, int y2, int left, int top, int right, int bottom);
// How (x1, y1, x2, y2) lies in (left, top, right, bottom), from the four
// tests "x1 in left..right", "x2 in left..right", "y1 in top..bottom",
// "y2 in top..bottom": 2 when all hold (inside); 1 when the x tests differ
// while a y test holds, an x test holds while the y tests differ, or both
// pairs differ (partial); 0 otherwise (also when the second rectangle
// contains the first).
int PxRectOverlapKind(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);
// Grows the rectangle (edges inclusive) to include the point.
void PxAddPointToRect(RECT& rect, int x, int y);
// The two rectangles are equal byte for byte.
bool PxRectEqual(const RECT& a, const RECT& b);
// Bold when the weight is at least 700, italic, underline and strike-out
// from the record's flags; empty for nullptr.
classlib::TFontStyles PxLogFontStyle(const LOGFONTW* font);

// ---- polygons

// Rotates points[0 .. lastIndex] in place about (cx, cy) by angle degrees.
void PxRotatePoints(POINT* points, int lastIndex, int cx, int cy, double angle);
// Even-odd test of (x, y) against the polygon points[0 .. lastIndex].
bool PxPointInPolygon(int x, int y, const POINT* points, int lastIndex);
// The same over count points, each mapped to ((px - originX) * zoomX +
// offsetX, (py - originY) * zoomY + offsetY).
bool PxPointInPolygonZoomed(int x, int y, const POINT* points, int count, double zoomX, double zoomY,
                            int offsetX, int offsetY, int originX, int originY);

// ---- distances

// The Euclidean distance.
double PxDistance(int x1, int y1, int x2, int y2);
// Distance from (px, py) to the infinite line through the two points; the
// distance to the point when both are equal.
double PxDistPointToLine(int px, int py, int x1, int y1, int x2, int y2);
// Distance from (px, py) to the segment: to the nearer end when the
// projection falls outside, to the line otherwise, to the point for a
// degenerate segment. 1000000 when an end point is needed and the point is
// 45001 or more away from it in x or in y, and when the arithmetic fails.
double PxDistPointToSegment(int px, int py, int x1, int y1, int x2, int y2);
// The smallest PxDistPointToSegment over the consecutive segments of the
// polyline (and the closing segment when Closed), each point mapped to
// (round(zoomX * (x - originX) + offsetX), round(zoomY * (y - originY) +
// offsetY)); 1000000 when Count <= 0. For a pen wider than 1 each segment is
// also measured shifted by (dx, dy), dx from -(w div 2) to w div 2 and dy
// from 2 to w div 2.
double PxDistPointToPolyline(int px, int py, const POINT* points, int count, bool closed, int penWidth, double zoomX,
                             double zoomY, int offsetX, int offsetY, int originX, int originY);
// Distance to the outline of the rectangle (x1, y1, x2, y2) drawn with a pen
// of that width: for every l from -(penWidth div 2) to penWidth div 2 the
// rectangle with all four coordinates increased by l is measured against its
// four edges; the smallest distance, 2147483647 when no l is tried. Filled:
// a point inside one of those rectangles gives 0.
double PxDistToRectangle(int x, int y, int x1, int y1, int x2, int y2, bool filled, int penWidth);
// Distance to the ellipse inscribed in (x1, y1, x2, y2), approximated by a
// polygon, over the same pen band; filled ellipses measure the spokes from
// the centre to the vertices (distances truncated). 2147483647 when nothing
// is tried.
double PxDistToEllipse(int x, int y, int x1, int y1, int x2, int y2, bool filled, int penWidth);

// ---- angles

// atan2(sqrt(1 - x * x), x): 0 for 1, pi for -1 (NaN outside -1..1).
double PxArcCos(double x);
// The angle between (x2 - x1, y2 - y1) and (x3 - x2, y3 - y2); 0 when either
// has length 0 or the cosine falls outside -1..1.
double PxAngle3Points(int x1, int y1, int x2, int y2, int x3, int y3);
// Direction from the first point to the second, 0 .. 2 pi, counter-clockwise
// from the positive x axis on the screen (up pi/2, left pi, down 3 pi/2);
// 0 for equal points.
double PxLineAngle(int x1, int y1, int x2, int y2);
// Orientation of three points: with d1 = P1 - P0 and d2 = P2 - P0, 1 when
// d1.x * d2.y > d1.y * d2.x, -1 when smaller; collinear: -1 when P0 lies
// between the others, 1 when |d1| < |d2|, else 0.
int PxTurnDirection(int x0, int y0, int x1, int y1, int x2, int y2);
// The angle at P2 between the segments to P1 and P3 from the law of cosines
// (a side of length 0 counts as 1), 0 .. 2 pi: 2 pi minus it when the turn
// P1, P2, P3 is -1.
double PxAngleAtVertex(int x1, int y1, int x2, int y2, int x3, int y3);

// ---- snapping and curves

// Moves (x, y) onto the vertical, horizontal or a diagonal through the
// anchor: vertical when |dx| + 30 < |dy|, horizontal when |dy| < |dx| - 30,
// else onto the diagonal (the shorter offset lengthened to the longer one,
// except above-left of the anchor, where the longer is shortened).
void PxConstrainTo45(int anchorX, int anchorY, int& x, int& y);
// The n points of the cubic Bezier curve at t = k / n, k = 1 .. n (the last
// is P3), each coordinate rounded halves to even. Empty for n <= 0.
std::vector<POINT> PxBezierPoints(const POINT& p0, const POINT& p1, const POINT& p2, const POINT& p3, int n);

// ---- shadows

// The vertical band (left, top)-(right, bottom) of a frame shadow, w columns
// wide and h rows high:
//   style 1 fills (left, top + w, right, bottom + 1) with the canvas brush;
//   style 2 darkens column f (0 .. w - 1) from row top + w to row
//     bottom + f - w + 3 by exp(-0.1 - t * t / 6), t = (w - f) / (w / 3);
//   style 3 paints a grey ramp (see the source).
// Pixels go into Bitmap's rows when it is a 24-bit bitmap and the pixel lies
// inside it, otherwise through the canvas's pixel access. Canvas is needed
// for style 1 and for pixels outside Bitmap (nullptr skips them).
void PxDrawShadowV(classlib::TCanvas* canvas, classlib::TBitmap* bitmap, int left, int top, int right, int bottom,
                   int style);
// The same for the horizontal band, rows and columns exchanged (style 1
// fills (left + h, top, right + 1, bottom)).
void PxDrawShadowH(classlib::TCanvas* canvas, classlib::TBitmap* bitmap, int left, int top, int right, int bottom,
                   int style);
// A soft drop shadow around the rectangle (right and bottom exclusive),
// offset by 2 pixels: a blurred (Gaussian, sigma 2.5) grey block darkens each
// pixel from (left - 5, top - 5) to (right + 5, bottom + 5) outside the
// rectangle by (1 - m / 255), truncated. Only 24-bit bitmaps are drawn on;
// pixels outside the bitmap are skipped.
void PxDrawSoftShadow(classlib::TBitmap* bitmap, int left, int top, int right, int bottom);

}  // namespace imaging
