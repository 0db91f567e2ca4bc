#include "imaging/model/PxGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numbers>

#include "classlib/Bitmap.h"
#include "classlib/SysUtils.h"

namespace imaging {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFar = 1000000.0;
constexpr double kNothingTried = 2147483647.0;

// Distance to an end point of a segment; kFar when the point is too far
// away on one axis for the measure to matter.
double EndDistance(int px, int py, int ex, int ey)
{
    const int64_t dx = static_cast<int64_t>(px) - ex;
    const int64_t dy = static_cast<int64_t>(py) - ey;
    if (std::llabs(dx) >= 45001 || std::llabs(dy) >= 45001)
        return kFar;
    return std::sqrt(static_cast<double>(dx * dx + dy * dy));
}

// The angle between two vectors from the arc cosine of their normalised dot
// product; 0 when one has length 0 or the cosine leaves -1..1.
double AngleBetween(double ax, double ay, double bx, double by)
{
    const double la = std::sqrt(ax * ax + ay * ay);
    const double lb = std::sqrt(bx * bx + by * by);
    if (la == 0 || lb == 0)
        return 0;
    const double c = (ax * bx + ay * by) / (la * lb);
    if (!(c >= -1 && c <= 1))
        return 0;
    return PxArcCos(c);
}

// Pixel access for the shadow routines: the rows of a 24-bit bitmap for
// pixels inside it, otherwise the canvas.
class TPixelTarget {
public:
    TPixelTarget(classlib::TCanvas* canvas, classlib::TBitmap* bitmap) : canvas_(canvas)
    {
        if (bitmap && !bitmap->GetEmpty() && bitmap->GetPixelFormat() == classlib::pf24bit) {
            bitmap_ = bitmap;
            width_ = bitmap->GetWidth();
            height_ = bitmap->GetHeight();
        }
        GdiFlush();
    }

    bool Get(int x, int y, uint8_t (&bgr)[3])
    {
        if (uint8_t* p = Address(x, y)) {
            std::memcpy(bgr, p, 3);
            return true;
        }
        if (!canvas_)
            return false;
        const classlib::TColor c = canvas_->GetPixel(x, y);
        if (static_cast<COLORREF>(c) == CLR_INVALID)
            return false;
        bgr[0] = static_cast<uint8_t>(c >> 16);
        bgr[1] = static_cast<uint8_t>(c >> 8);
        bgr[2] = static_cast<uint8_t>(c);
        return true;
    }

    void Set(int x, int y, const uint8_t (&bgr)[3])
    {
        if (uint8_t* p = Address(x, y)) {
            std::memcpy(p, bgr, 3);
            return;
        }
        if (canvas_)
            canvas_->SetPixel(x, y, static_cast<classlib::TColor>(bgr[2] | (bgr[1] << 8) | (bgr[0] << 16)));
    }

private:
    uint8_t* Address(int x, int y)
    {
        if (!bitmap_ || x < 0 || y < 0 || x >= width_ || y >= height_)
            return nullptr;
        return static_cast<uint8_t*>(bitmap_->GetScanLine(y)) + static_cast<size_t>(x) * 3;
    }

    classlib::TCanvas* canvas_;
    classlib::TBitmap* bitmap_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

void Darken(TPixelTarget& target, int x, int y, double factor)
{
    uint8_t p[3];
    if (!target.Get(x, y, p))
        return;
    for (uint8_t& c : p)
        c = static_cast<uint8_t>(static_cast<int>(c * factor));
    target.Set(x, y, p);
}

void PutGrey(TPixelTarget& target, int x, int y, int grey)
{
    const uint8_t v = static_cast<uint8_t>(grey);
    const uint8_t p[3] = {v, v, v};
    target.Set(x, y, p);
}

int ShadowFloor(int i, int length)
{
    const double v = 255 * std::exp(-3.0 * i / length);
    return std::clamp(static_cast<int>(v), 0, 255);
}

int ShadowGrey(int j, int width, int floorValue)
{
    return std::max(static_cast<int>(255 * std::exp(static_cast<double>(j) / width - 1)), floorValue);
}

// Separable Gaussian blur of a whole 8-bit grey block with weights of 16
// fraction bits: rows first, then columns, the block's borders repeating.
void BlurGray8(std::vector<uint8_t>& pixels, int width, int height, double sigma)
{
    double k[201];
    double sum = 0;
    for (int i = 0; i <= 200; ++i) {
        const double d = (i - 100) / sigma;
        k[i] = std::exp(-(d * d) / 2);
        sum += k[i];
    }
    int64_t weight[201];
    for (int i = 0; i <= 200; ++i)
        weight[i] = classlib::Round(k[i] * 65536 / sum);
    int r = 100;
    while (r > 1 && weight[100 + r] == 0 && weight[100 - r] == 0)
        --r;
    auto line = [&](const uint8_t* in, uint8_t* out, int n) {
        for (int x = 0; x < n; ++x) {
            int64_t acc = 32768;
            for (int t = -r; t <= r; ++t)
                acc += weight[100 + t] * in[std::clamp(x + t, 0, n - 1)];
            out[x] = static_cast<uint8_t>(static_cast<uint32_t>(acc) >> 16);
        }
    };
    std::vector<uint8_t> in(static_cast<size_t>(std::max(width, height)));
    std::vector<uint8_t> out(in.size());
    for (int y = 0; y < height; ++y) {
        uint8_t* row = pixels.data() + static_cast<size_t>(y) * width;
        std::memcpy(in.data(), row, static_cast<size_t>(width));
        line(in.data(), out.data(), width);
        std::memcpy(row, out.data(), static_cast<size_t>(width));
    }
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y)
            in[static_cast<size_t>(y)] = pixels[static_cast<size_t>(y) * width + x];
        line(in.data(), out.data(), height);
        for (int y = 0; y < height; ++y)
            pixels[static_cast<size_t>(y) * width + x] = out[static_cast<size_t>(y)];
    }
}

}  // namespace

// ------------------------------------------------------- rectangles, points

bool PxPointInRect(int x, int y, int left, int top, int right, int bottom)
{
    return left <= x && x <= right && top <= y && y <= bottom;
}

bool PxPointInNormRect(int x, int y, int x1, int y1, int x2, int y2)
{
    return PxPointInRect(x, y, std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2));
}

bool PxRectsIntersect(int x1, int y1, int x2, int y2, int left, int top, int right, int bottom)
{
    return !(std::max(x1, x2) < left || right < std::min(x1, x2) || std::max(y1, y2) < top ||
             bottom < std::min(y1, y2));
}

int PxRectOverlapKind(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2)
{
    const bool a = left <= x1 && x1 <= right;
    const bool b = left <= x2 && x2 <= right;
    const bool c = top <= y1 && y1 <= bottom;
    const bool d = top <= y2 && y2 <= bottom;
    if (a && b && c && d)
        return 2;
    if ((a != b && (c || d)) || ((a || b) && c != d) || (a != b && c != d))
        return 1;
    return 0;
}

void PxAddPointToRect(RECT& rect, int x, int y)
{
    rect.left = std::min<LONG>(rect.left, x);
    rect.top = std::min<LONG>(rect.top, y);
    rect.right = std::max<LONG>(rect.right, x);
    rect.bottom = std::max<LONG>(rect.bottom, y);
}

bool PxRectEqual(const RECT& a, const RECT& b)
{
    static_assert(sizeof(RECT) == 16);
    return std::memcmp(&a, &b, sizeof(RECT)) == 0;
}

classlib::TFontStyles PxLogFontStyle(const LOGFONTW* font)
{
    classlib::TFontStyles style = 0;
    if (!font)
        return style;
    if (font->lfWeight >= 700)
        style |= classlib::fsBold;
    if (font->lfItalic)
        style |= classlib::fsItalic;
    if (font->lfUnderline)
        style |= classlib::fsUnderline;
    if (font->lfStrikeOut)
        style |= classlib::fsStrikeOut;
    return style;
}

// ----------------------------------------------------------------- polygons

void PxRotatePoints(POINT* points, int lastIndex, int cx, int cy, double angle)
{
    const double theta = -angle * std::numbers::pi / 180.0;
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    for (int i = 0; i <= lastIndex; ++i) {
        const double dx = points[i].x - cx;
        const double dy = points[i].y - cy;
        points[i].x = cx + static_cast<LONG>(std::trunc(c * dx - s * dy));
        points[i].y = cy + static_cast<LONG>(std::trunc(s * dx + c * dy));
    }
}

namespace {

// Even-odd test over n points given by an accessor returning (x, y) doubles.
template <class Get>
bool EvenOdd(double x, double y, int n, Get get)
{
    bool inside = false;
    for (int i = 0, j = n - 1; i < n; j = i++) {
        double xi, yi, xj, yj;
        get(i, xi, yi);
        get(j, xj, yj);
        const double lo = yi < yj ? yi : yj;
        const double hi = yi < yj ? yj : yi;
        if (y >= lo && y < hi) {
            const double xAtY = xi + (y - yi) * (xj - xi) / (yj - yi);
            if (x < xAtY)
                inside = !inside;
        }
    }
    return inside;
}

}  // namespace

bool PxPointInPolygon(int x, int y, const POINT* points, int lastIndex)
{
    return EvenOdd(x, y, lastIndex + 1, [&](int i, double& px, double& py) {
        px = points[i].x;
        py = points[i].y;
    });
}

bool PxPointInPolygonZoomed(int x, int y, const POINT* points, int count, double zoomX, double zoomY,
                            int offsetX, int offsetY, int originX, int originY)
{
    return EvenOdd(x, y, count, [&](int i, double& px, double& py) {
        px = (points[i].x - originX) * zoomX + offsetX;
        py = (points[i].y - originY) * zoomY + offsetY;
    });
}

// ---------------------------------------------------------------- distances

double PxDistance(int x1, int y1, int x2, int y2)
{
    const double dx = static_cast<double>(x2) - x1;
    const double dy = static_cast<double>(y2) - y1;
    return std::sqrt(dx * dx + dy * dy);
}

double PxDistPointToLine(int px, int py, int x1, int y1, int x2, int y2)
{
    const double length = PxDistance(x1, y1, x2, y2);
    if (length == 0)
        return PxDistance(px, py, x1, y1);
    const double n = static_cast<double>(px) * (static_cast<double>(y1) - y2) +
                     static_cast<double>(py) * (static_cast<double>(x2) - x1) + static_cast<double>(x1) * y2 -
                     static_cast<double>(x2) * y1;
    return std::fabs(n) / length;
}

double PxDistPointToSegment(int px, int py, int x1, int y1, int x2, int y2)
{
    if (x1 == x2 && y1 == y2)
        return EndDistance(px, py, x1, y1);
    const double dx = static_cast<double>(x2) - x1;
    const double dy = static_cast<double>(y2) - y1;
    const double t = ((static_cast<double>(px) - x1) * dx + (static_cast<double>(py) - y1) * dy) / (dx * dx + dy * dy);
    if (!std::isfinite(t))
        return kFar;
    if (t > 1)
        return EndDistance(px, py, x2, y2);
    if (t < 0)
        return EndDistance(px, py, x1, y1);
    const double d = PxDistPointToLine(px, py, x1, y1, x2, y2);
    return std::isfinite(d) ? d : kFar;
}

double PxDistPointToPolyline(int px, int py, const POINT* points, int count, bool closed, int penWidth, double zoomX,
                             double zoomY, int offsetX, int offsetY, int originX, int originY)
{
    if (!points || count <= 0)
        return kFar;
    std::vector<POINT> mapped(static_cast<size_t>(count));
    try {
        for (int i = 0; i < count; ++i) {
            const int64_t x = classlib::Round(zoomX * (static_cast<double>(points[i].x) - originX) + offsetX);
            const int64_t y = classlib::Round(zoomY * (static_cast<double>(points[i].y) - originY) + offsetY);
            if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX)
                return kFar;
            mapped[static_cast<size_t>(i)] = POINT{static_cast<LONG>(x), static_cast<LONG>(y)};
        }
    } catch (const classlib::Exception&) {
        return kFar;
    }
    const int half = penWidth / 2;
    double best = kFar;
    auto measure = [&](const POINT& a, const POINT& b) {
        best = std::min(best, PxDistPointToSegment(px, py, a.x, a.y, b.x, b.y));
        if (penWidth > 1)
            for (int dx = -half; dx <= half; ++dx)
                for (int dy = 2; dy <= half; ++dy)
                    best = std::min(best, PxDistPointToSegment(px, py, a.x + dx, a.y + dy, b.x + dx, b.y + dy));
    };
    for (int i = 1; i < count; ++i)
        measure(mapped[static_cast<size_t>(i - 1)], mapped[static_cast<size_t>(i)]);
    if (closed)
        measure(mapped[static_cast<size_t>(count - 1)], mapped[0]);
    return best;
}

double PxDistToRectangle(int x, int y, int x1, int y1, int x2, int y2, bool filled, int penWidth)
{
    const int half = penWidth / 2;
    double best = kNothingTried;
    for (int l = -half; l <= half; ++l) {
        const int a = x1 + l, b = y1 + l, c = x2 + l, d = y2 + l;
        if (filled && PxPointInRect(x, y, a, b, c, d))
            return 0;
        best = std::min({best, PxDistPointToSegment(x, y, a, b, c, b), PxDistPointToSegment(x, y, c, b, c, d),
                         PxDistPointToSegment(x, y, c, d, a, d), PxDistPointToSegment(x, y, a, d, a, b)});
    }
    return best;
}

double PxDistToEllipse(int x, int y, int x1, int y1, int x2, int y2, bool filled, int penWidth)
{
    const int cx = x1 + (x2 - x1) / 2;
    const int cy = y1 + (y2 - y1) / 2;
    const int px = x - cx;
    const int py = y - cy;
    const int half = penWidth / 2;
    double best = kNothingTried;
    for (int l = -half; l <= half; ++l) {
        const int rx = (x2 - x1) / 2 + l;
        const int ry = (y2 - y1) / 2 + l;
        const double vertices = std::trunc(2 * kPi * std::min(rx, ry));
        int v = vertices > INT32_MAX ? INT32_MAX : static_cast<int>(vertices);
        // A negative count (radius below 0) must not turn into a huge one.
        if (!filled)
            v >>= 3;
        v = std::max(v, 2);
        int prevX = rx, prevY = 0;
        for (int k = 1; k < v; ++k) {
            const double angle = 2 * kPi * k / v;
            const int vx = static_cast<int>(std::trunc(rx * std::cos(angle)));
            const int vy = static_cast<int>(std::trunc(ry * std::sin(angle)));
            if (filled)
                best = std::min(best, std::trunc(PxDistPointToSegment(px, py, 0, 0, vx, vy)));
            else
                best = std::min(best, PxDistPointToSegment(px, py, prevX, prevY, vx, vy));
            prevX = vx;
            prevY = vy;
        }
    }
    return best;
}

// ------------------------------------------------------------------- angles

double PxArcCos(double x)
{
    return std::atan2(std::sqrt(1 - x * x), x);
}

double PxAngle3Points(int x1, int y1, int x2, int y2, int x3, int y3)
{
    return AngleBetween(static_cast<double>(x2) - x1, static_cast<double>(y2) - y1, static_cast<double>(x3) - x2,
                        static_cast<double>(y3) - y2);
}

double PxLineAngle(int x1, int y1, int x2, int y2)
{
    if (x1 == x2 && y1 == y2)
        return 0;
    if (x1 == x2)
        return y2 < y1 ? kPi / 2 : 3 * kPi / 2;
    if (y1 == y2)
        return x2 < x1 ? kPi : 0;
    // Angle against the positive x axis (0 .. pi), mirrored below the axis.
    const double a = AngleBetween(1, 0, static_cast<double>(x2) - x1, static_cast<double>(y2) - y1);
    return y2 < y1 ? a : 2 * kPi - a;
}

int PxTurnDirection(int x0, int y0, int x1, int y1, int x2, int y2)
{
    const int64_t d1x = static_cast<int64_t>(x1) - x0, d1y = static_cast<int64_t>(y1) - y0;
    const int64_t d2x = static_cast<int64_t>(x2) - x0, d2y = static_cast<int64_t>(y2) - y0;
    const double a = static_cast<double>(d1x) * static_cast<double>(d2y);
    const double b = static_cast<double>(d1y) * static_cast<double>(d2x);
    if (a > b)
        return 1;
    if (a < b)
        return -1;
    if (d1x * d2x < 0 || d1y * d2y < 0)
        return -1;
    if (d1x * d1x + d1y * d1y < d2x * d2x + d2y * d2y)
        return 1;
    return 0;
}

double PxAngleAtVertex(int x1, int y1, int x2, int y2, int x3, int y3)
{
    double a = PxDistance(x2, y2, x3, y3);
    double b = PxDistance(x1, y1, x2, y2);
    double c = PxDistance(x1, y1, x3, y3);
    if (a == 0)
        a = 1;
    if (b == 0)
        b = 1;
    if (c == 0)
        c = 1;
    // Rounding can push the cosine of a straight angle just past -1 or 1.
    const double cosine = std::clamp((a * a + b * b - c * c) / (2 * a * b), -1.0, 1.0);
    const double angle = PxArcCos(cosine);
    if (PxTurnDirection(x1, y1, x2, y2, x3, y3) == -1)
        return 2 * kPi - angle;
    return angle;
}

// ------------------------------------------------------- snapping, curves

void PxConstrainTo45(int anchorX, int anchorY, int& x, int& y)
{
    const int dx = std::abs(anchorX - x);
    const int dy = std::abs(anchorY - y);
    if (dx + 30 < dy) {
        x = anchorX;
        return;
    }
    if (dy < dx - 30) {
        y = anchorY;
        return;
    }
    const int diff = std::abs(dx - dy);
    if (x > anchorX && y > anchorY) {
        if (dx >= dy)
            y += diff;
        else
            x += diff;
    } else if (x < anchorX && y < anchorY) {
        if (dx >= dy)
            x += diff;
        else
            y += diff;
    } else if (x < anchorX && y >= anchorY) {
        if (dx >= dy)
            y += diff;
        else
            x -= diff;
    } else if (x >= anchorX && y < anchorY) {
        if (dx >= dy)
            y -= diff;
        else
            x += diff;
    }
}

std::vector<POINT> PxBezierPoints(const POINT& p0, const POINT& p1, const POINT& p2, const POINT& p3, int n)
{
    std::vector<POINT> points;
    if (n <= 0)
        return points;
    points.reserve(static_cast<size_t>(n));
    for (int k = 1; k <= n; ++k) {
        const double t = static_cast<double>(k) / n;
        const double mt = 1 - t;
        const double a = mt * mt * mt, b = 3 * mt * mt * t, c = 3 * mt * t * t, d = t * t * t;
        const double x = a * p0.x + b * p1.x + c * p2.x + d * p3.x;
        const double y = a * p0.y + b * p1.y + c * p2.y + d * p3.y;
        points.push_back(POINT{static_cast<LONG>(classlib::Round(x)), static_cast<LONG>(classlib::Round(y))});
    }
    return points;
}

// ------------------------------------------------------------------ shadows

void PxDrawShadowV(classlib::TCanvas* canvas, classlib::TBitmap* bitmap, int left, int top, int right, int bottom,
                   int style)
{
    const int w = right - left + 1;
    const int h = bottom - top + 1;
    if (w <= 0 || h <= 0)
        return;
    if (style == 1) {
        if (canvas)
            canvas->FillRect(RECT{left, top + w, right, bottom + 1});
        return;
    }
    TPixelTarget target(canvas, bitmap);
    if (style == 2) {
        for (int f = 0; f < w; ++f) {
            const double t = (w - f) / (w / 3.0);
            const double factor = std::exp(-0.1 - t * t / 6);
            for (int y = top + w; y <= bottom + f - w + 3; ++y)
                Darken(target, left + f, y, factor);
        }
    } else if (style == 3) {
        for (int i = 0; i <= h; ++i) {
            const int floorValue = ShadowFloor(i, h);
            const int start = std::max(0, i - (h - w));
            for (int j = start; j <= w; ++j)
                PutGrey(target, left + j, top + i, ShadowGrey(j, w, floorValue));
        }
    }
}

void PxDrawShadowH(classlib::TCanvas* canvas, classlib::TBitmap* bitmap, int left, int top, int right, int bottom,
                   int style)
{
    const int w = right - left + 1;
    const int h = bottom - top + 1;
    if (w <= 0 || h <= 0)
        return;
    if (style == 1) {
        if (canvas)
            canvas->FillRect(RECT{left + h, top, right + 1, bottom});
        return;
    }
    TPixelTarget target(canvas, bitmap);
    if (style == 2) {
        for (int f = 0; f < h; ++f) {
            const double t = (h - f) / (h / 3.0);
            const double factor = std::exp(-0.1 - t * t / 6);
            for (int x = left + h; x <= right + f - h + 3; ++x)
                Darken(target, x, top + f, factor);
        }
    } else if (style == 3) {
        for (int i = 0; i <= w; ++i) {
            const int floorValue = ShadowFloor(i, w);
            const int start = std::max(0, i - (w - h));
            for (int j = start; j <= h; ++j)
                PutGrey(target, left + i, top + j, ShadowGrey(j, h, floorValue));
        }
    }
}

void PxDrawSoftShadow(classlib::TBitmap* bitmap, int left, int top, int right, int bottom)
{
    if (!bitmap || bitmap->GetEmpty() || bitmap->GetPixelFormat() != classlib::pf24bit)
        return;
    const int64_t mw = static_cast<int64_t>(right) - left + 11;
    const int64_t mh = static_cast<int64_t>(bottom) - top + 11;
    if (mw <= 0 || mh <= 0 || mw > INT32_MAX || mh > INT32_MAX)
        return;
    const int maskW = static_cast<int>(mw);
    const int maskH = static_cast<int>(mh);
    std::vector<uint8_t> mask(static_cast<size_t>(mw) * static_cast<size_t>(mh), 0);
    for (int y = 5; y <= std::min(bottom - top + 7, maskH - 1); ++y)
        for (int x = 5; x <= std::min(right - left + 7, maskW - 1); ++x)
            mask[static_cast<size_t>(y) * maskW + x] = 255;
    BlurGray8(mask, maskW, maskH, 2.5);
    TPixelTarget target(nullptr, bitmap);
    for (int y = top - 5; y <= bottom + 5; ++y) {
        for (int x = left - 5; x <= right + 5; ++x) {
            if (x >= left && x <= right - 1 && y >= top && y <= bottom - 1)
                continue;
            const int m = mask[static_cast<size_t>(y - top + 5) * maskW + (x - left + 5)];
            Darken(target, x, y, 1 - m / 255.0);
        }
    }
}

}  // namespace imaging
