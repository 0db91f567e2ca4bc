// Geometry routines and shadow drawing.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <memory>
#include <vector>

#include "classlib/Bitmap.h"
#include "imaging/model/PxGeometry.h"

using namespace imaging;

namespace {

constexpr double kPi = 3.14159265358979323846;

std::unique_ptr<classlib::TBitmap> WhiteBitmap(int w, int h)
{
    auto b = std::make_unique<classlib::TBitmap>();
    b->SetPixelFormat(classlib::pf24bit);
    b->SetSize(w, h);
    b->GetCanvas()->GetBrush()->SetColor(classlib::clWhite);
    b->GetCanvas()->FillRect(RECT{0, 0, w, h});
    return b;
}

// The red channel of a pixel (the shadows are grey).
int Red(classlib::TBitmap& b, int x, int y)
{
    return b.GetCanvas()->GetPixel(x, y) & 0xFF;
}

}  // namespace

TEST(PxGeometry, RectangleTests)
{
    EXPECT_TRUE(PxPointInRect(0, 10, 0, 0, 10, 10));  // edges included
    EXPECT_FALSE(PxPointInRect(11, 5, 0, 0, 10, 10));
    EXPECT_FALSE(PxPointInRect(5, 5, 10, 10, 0, 0));  // corners not ordered
    EXPECT_TRUE(PxPointInNormRect(5, 5, 10, 10, 0, 0));

    EXPECT_TRUE(PxRectsIntersect(10, 10, 20, 20, 0, 0, 10, 10));  // touching corner
    EXPECT_TRUE(PxRectsIntersect(20, 20, 5, 5, 0, 0, 10, 10));    // corners in either order
    EXPECT_FALSE(PxRectsIntersect(11, 0, 20, 10, 0, 0, 10, 10));
    EXPECT_FALSE(PxRectsIntersect(0, -5, 10, -1, 0, 0, 10, 10));

    struct {
        int x1, y1, x2, y2, kind;
    } const overlap[] = {
        {2, 2, 5, 5, 2},      // inside
        {0, 0, 10, 10, 2},    // equal
        {5, 5, 15, 15, 1},    // one corner inside
        {-5, 2, 5, 15, 1},    // both pairs differ
        {20, 20, 30, 30, 0},  // apart
        {-5, -5, 15, 15, 0},  // containing the first
        {-5, 2, 15, 5, 0},    // a strip across
    };
    for (const auto& c : overlap)
        EXPECT_EQ(PxRectOverlapKind(0, 0, 10, 10, c.x1, c.y1, c.x2, c.y2), c.kind) << c.x1 << "," << c.y1;

    RECT r{0, 0, 0, 0};
    PxAddPointToRect(r, 5, -3);
    PxAddPointToRect(r, -2, 1);
    EXPECT_TRUE(PxRectEqual(r, RECT{-2, -3, 5, 1}));
    EXPECT_FALSE(PxRectEqual(r, RECT{-2, -3, 5, 0}));

    LOGFONTW f{};
    EXPECT_EQ(PxLogFontStyle(nullptr), 0);
    f.lfWeight = 700;
    f.lfItalic = 1;
    EXPECT_EQ(PxLogFontStyle(&f), classlib::fsBold | classlib::fsItalic);
    f.lfWeight = 400;
    f.lfItalic = 0;
    f.lfUnderline = 1;
    f.lfStrikeOut = 1;
    EXPECT_EQ(PxLogFontStyle(&f), classlib::fsUnderline | classlib::fsStrikeOut);
}

TEST(PxGeometry, Distances)
{
    EXPECT_DOUBLE_EQ(PxDistance(0, 0, 3, 4), 5);
    EXPECT_DOUBLE_EQ(PxDistPointToLine(100, 5, -10, 0, 10, 0), 5);  // the infinite line
    EXPECT_DOUBLE_EQ(PxDistPointToLine(3, 4, 0, 0, 0, 0), 5);

    struct {
        int px, py, x1, y1, x2, y2;
        double d;
    } const segment[] = {
        {0, 0, 10, 0, 20, 0, 10},                 // before the first end
        {0, 0, -10, 5, 10, 5, 5},                 // beside the segment
        {25, 3, 10, 0, 20, 0, std::sqrt(34.0)},   // past the second end
        {3, 4, 0, 0, 0, 0, 5},                    // degenerate
        {0, 45000, 0, 0, 0, 0, 45000},            // far, but not too far
        {0, 0, 50000, 0, 60000, 0, 1000000},      // end point too far away
        {0, 45001, 0, 0, 0, 0, 1000000},
        {50000, 3, 0, 0, 100000, 0, 3},           // far from the ends, near the line
    };
    for (const auto& c : segment)
        EXPECT_DOUBLE_EQ(PxDistPointToSegment(c.px, c.py, c.x1, c.y1, c.x2, c.y2), c.d) << c.px << "," << c.py;
}

TEST(PxGeometry, PolylineRectangleAndEllipseDistances)
{
    const POINT corner[] = {{0, 0}, {10, 0}, {10, 10}};
    EXPECT_DOUBLE_EQ(PxDistPointToPolyline(5, 3, corner, 3, false, 1, 1, 1, 0, 0, 0, 0), 3);
    EXPECT_DOUBLE_EQ(PxDistPointToPolyline(3, 7, corner, 3, false, 1, 1, 1, 0, 0, 0, 0), 7);
    EXPECT_NEAR(PxDistPointToPolyline(3, 7, corner, 3, true, 1, 1, 1, 0, 0, 0, 0), 4 / std::sqrt(2.0), 1e-12);
    // Zoom 2 and offset 100: (100, 100), (120, 100), (120, 120).
    EXPECT_DOUBLE_EQ(PxDistPointToPolyline(110, 106, corner, 3, false, 1, 2, 2, 100, 100, 0, 0), 6);
    // The origin is subtracted before zooming: (5, 5) maps to (0, 0).
    EXPECT_DOUBLE_EQ(PxDistPointToPolyline(0, 3, corner, 3, false, 1, 1, 1, 0, 0, 5, 0), 3);
    EXPECT_DOUBLE_EQ(PxDistPointToPolyline(0, 0, corner, 0, false, 1, 1, 1, 0, 0, 0, 0), 1000000);
    // A wide pen also measures the segment shifted down by 2.
    EXPECT_DOUBLE_EQ(PxDistPointToPolyline(5, 5, corner, 2, false, 4, 1, 1, 0, 0, 0, 0), 3);
    EXPECT_DOUBLE_EQ(PxDistPointToPolyline(5, 5, corner, 2, false, 1, 1, 1, 0, 0, 0, 0), 5);

    EXPECT_DOUBLE_EQ(PxDistToRectangle(5, 5, 0, 0, 10, 10, false, 1), 5);
    EXPECT_DOUBLE_EQ(PxDistToRectangle(5, 5, 0, 0, 10, 10, true, 1), 0);
    EXPECT_DOUBLE_EQ(PxDistToRectangle(15, 5, 0, 0, 10, 10, false, 1), 5);
    EXPECT_DOUBLE_EQ(PxDistToRectangle(15, 5, 0, 0, 10, 10, false, 4), 3);  // shifted by up to 2
    EXPECT_DOUBLE_EQ(PxDistToRectangle(15, 5, 0, 0, 10, 10, false, -2), 2147483647);

    // Circle of radius 10 around (10, 10). Unfilled: a heptagon whose first
    // vertex is (20, 10); filled: spokes to 62 vertices, the first (20, 10)
    // itself not measured, the nearest (19, 11) at 11.04, truncated.
    EXPECT_DOUBLE_EQ(PxDistToEllipse(30, 10, 0, 0, 20, 20, false, 1), 10);
    EXPECT_DOUBLE_EQ(PxDistToEllipse(30, 10, 0, 0, 20, 20, true, 1), 11);
    EXPECT_DOUBLE_EQ(PxDistToEllipse(12, 10, 0, 0, 20, 20, true, 1), 0);
    EXPECT_DOUBLE_EQ(PxDistToEllipse(30, 10, 0, 0, 20, 20, false, -2), 2147483647);
    // A pen band reaching below a radius of 0 stays quick and finite.
    EXPECT_LT(PxDistToEllipse(1, 1, 0, 0, 2, 2, false, 9), 10);
}

TEST(PxGeometry, Angles)
{
    EXPECT_DOUBLE_EQ(PxArcCos(-1), kPi);
    EXPECT_DOUBLE_EQ(PxArcCos(1), 0);
    EXPECT_DOUBLE_EQ(PxArcCos(0), kPi / 2);

    struct {
        int x2, y2;
        double angle;
    } const line[] = {
        {0, -10, kPi / 2}, {-10, 0, kPi},          {0, 10, 3 * kPi / 2},     {10, 0, 0},
        {0, 0, 0},         {10, -10, kPi / 4},     {-10, 10, 5 * kPi / 4},   {10, 10, 7 * kPi / 4},
        {-10, -10, 3 * kPi / 4},
    };
    for (const auto& c : line)
        EXPECT_NEAR(PxLineAngle(0, 0, c.x2, c.y2), c.angle, 1e-12) << c.x2 << "," << c.y2;

    EXPECT_DOUBLE_EQ(PxAngle3Points(0, 0, 10, 0, 20, 0), 0);
    EXPECT_NEAR(PxAngle3Points(0, 0, 10, 0, 10, 10), kPi / 2, 1e-12);
    EXPECT_DOUBLE_EQ(PxAngle3Points(0, 0, 10, 0, 0, 0), kPi);
    EXPECT_DOUBLE_EQ(PxAngle3Points(0, 0, 0, 0, 5, 5), 0);

    struct {
        int x0, y0, x1, y1, x2, y2, turn;
    } const turn[] = {
        {0, 0, 10, 0, 0, 10, 1},  {0, 0, 0, 10, 10, 0, -1}, {0, 0, 10, 0, -10, 0, -1},
        {0, 0, 5, 0, 10, 0, 1},   {0, 0, 10, 0, 5, 0, 0},
    };
    for (const auto& c : turn)
        EXPECT_EQ(PxTurnDirection(c.x0, c.y0, c.x1, c.y1, c.x2, c.y2), c.turn) << c.x2 << "," << c.y2;

    EXPECT_NEAR(PxAngleAtVertex(10, 0, 0, 0, 0, 10), 3 * kPi / 2, 1e-12);
    EXPECT_NEAR(PxAngleAtVertex(0, 10, 0, 0, 10, 0), kPi / 2, 1e-12);
    EXPECT_NEAR(PxAngleAtVertex(-10, 0, 0, 0, 10, 0), kPi, 1e-12);
    EXPECT_FALSE(std::isnan(PxAngleAtVertex(-7, -3, 0, 0, 14, 6)));  // straight, inexact lengths
}

TEST(PxGeometry, ConstrainTo45AndBezier)
{
    struct {
        int x, y, ex, ey;
    } const snap[] = {
        {10, 7, 10, 10},    {10, 50, 0, 50},   {50, 10, 50, 0},    {-10, -7, -7, -7},
        {-7, -10, -7, -7},  {-10, 7, -10, 10}, {7, -10, 10, -10},  {0, 20, 0, 20},
        {12, 10, 12, 12},
    };
    for (const auto& c : snap) {
        int x = c.x, y = c.y;
        PxConstrainTo45(0, 0, x, y);
        EXPECT_EQ(x, c.ex) << c.x << "," << c.y;
        EXPECT_EQ(y, c.ey) << c.x << "," << c.y;
    }
    int x = 110, y = 57;  // around another anchor
    PxConstrainTo45(100, 50, x, y);
    EXPECT_EQ(x, 110);
    EXPECT_EQ(y, 60);

    const POINT p0{0, 2}, p1{0, 8}, p2{10, 8}, p3{10, 2};
    const auto one = PxBezierPoints(p0, p1, p2, p3, 1);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].x, 10);
    EXPECT_EQ(one[0].y, 2);
    const auto two = PxBezierPoints(p0, p1, p2, p3, 2);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].x, 5);
    EXPECT_EQ(two[0].y, 6);  // 6.5 rounds to even
    EXPECT_EQ(two[1].x, 10);
    EXPECT_EQ(two[1].y, 2);
    EXPECT_TRUE(PxBezierPoints(p0, p1, p2, p3, 0).empty());
}

TEST(PxGeometry, FrameShadowsThroughRowsOrCanvas)
{
    for (const bool rows : {true, false}) {
        auto b = WhiteBitmap(40, 40);
        classlib::TBitmap* target = rows ? b.get() : nullptr;
        // Vertical band 4 columns wide (30..33), rows 5..30, style 2:
        // column 0 x exp(-1.6) (255 -> 51) from row 9 to 29; column 3
        // x exp(-0.19375) (255 -> 210) from row 9 to 32.
        PxDrawShadowV(b->GetCanvas(), target, 30, 5, 33, 30, 2);
        EXPECT_EQ(Red(*b, 30, 8), 255) << rows;
        EXPECT_EQ(Red(*b, 30, 9), 51) << rows;
        EXPECT_EQ(Red(*b, 30, 29), 51) << rows;
        EXPECT_EQ(Red(*b, 30, 30), 255) << rows;
        EXPECT_EQ(Red(*b, 33, 32), 210) << rows;
        EXPECT_EQ(Red(*b, 33, 33), 255) << rows;
        // The horizontal band, rows and columns exchanged.
        PxDrawShadowH(b->GetCanvas(), target, 5, 30, 30, 33, 2);
        EXPECT_EQ(Red(*b, 8, 30), 255) << rows;
        EXPECT_EQ(Red(*b, 9, 30), 51) << rows;
        EXPECT_EQ(Red(*b, 29, 30), 51) << rows;
        EXPECT_EQ(Red(*b, 32, 33), 210) << rows;
    }

    // Style 3: grey ramps over a floor falling with the row.
    auto g = WhiteBitmap(40, 40);
    PxDrawShadowV(g->GetCanvas(), g.get(), 30, 5, 33, 30, 3);
    EXPECT_EQ(Red(*g, 30, 18), 93);   // row 13: max(255 / e, floor 56)
    EXPECT_EQ(Red(*g, 32, 18), 154);  // 255 * e^(-1/2)
    EXPECT_EQ(Red(*g, 30, 29), 255);  // row 24 starts at column 2
    EXPECT_EQ(Red(*g, 32, 29), 154);

    // Style 1 fills with the canvas brush, right edge excluded.
    auto f = WhiteBitmap(40, 40);
    f->GetCanvas()->GetBrush()->SetColor(classlib::clBlack);
    PxDrawShadowV(f->GetCanvas(), f.get(), 30, 5, 33, 30, 1);
    EXPECT_EQ(Red(*f, 30, 9), 0);
    EXPECT_EQ(Red(*f, 30, 30), 0);
    EXPECT_EQ(Red(*f, 30, 31), 255);
    EXPECT_EQ(Red(*f, 30, 8), 255);
    EXPECT_EQ(Red(*f, 33, 20), 255);
}

TEST(PxGeometry, SoftShadowDarkensABlurredBandOffsetByTwo)
{
    auto b = WhiteBitmap(40, 40);
    PxDrawSoftShadow(b.get(), 10, 10, 20, 20);
    // Values from the blurred block (Gaussian, sigma 2.5).
    EXPECT_EQ(Red(*b, 20, 15), 42);
    EXPECT_EQ(Red(*b, 15, 20), 42);
    EXPECT_EQ(Red(*b, 9, 15), 150);
    EXPECT_EQ(Red(*b, 15, 9), 150);
    EXPECT_EQ(Red(*b, 21, 21), 120);
    EXPECT_EQ(Red(*b, 22, 22), 169);
    EXPECT_EQ(Red(*b, 25, 25), 249);
    EXPECT_EQ(Red(*b, 15, 15), 255);  // the rectangle itself stays
    EXPECT_EQ(Red(*b, 26, 15), 255);  // beyond the band

    // Near the bitmap's corner nothing is written outside it.
    auto c = WhiteBitmap(8, 8);
    PxDrawSoftShadow(c.get(), 2, 2, 6, 6);
    EXPECT_LT(Red(*c, 7, 4), 255);
}

TEST(PxGeometryTest, RotateAndHitTestPolygons)
{
    POINT p[2] = {{10, 0}, {5, 5}};
    PxRotatePoints(p, 1, 0, 0, 90);  // counter-clockwise on screen
    EXPECT_EQ(p[0].x, 0);
    EXPECT_EQ(p[0].y, -10);
    EXPECT_EQ(p[1].x, 5);
    EXPECT_EQ(p[1].y, -5);

    const POINT square[4] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    EXPECT_TRUE(PxPointInPolygon(5, 5, square, 3));
    EXPECT_TRUE(PxPointInPolygon(0, 0, square, 3));  // lower edge included
    EXPECT_FALSE(PxPointInPolygon(5, 10, square, 3));  // upper end excluded
    EXPECT_FALSE(PxPointInPolygon(11, 5, square, 3));
    // Zoomed 2x with an offset of 100: (0..20) + 100.
    EXPECT_TRUE(PxPointInPolygonZoomed(115, 115, square, 4, 2, 2, 100, 100, 0, 0));
    EXPECT_FALSE(PxPointInPolygonZoomed(5, 5, square, 4, 2, 2, 100, 100, 0, 0));
}
