// The drawing canvas: counted loading of GDI+, drawing through GDI+ (anti-
// aliasing, opacity, its rectangle extents, pen and brush styles) and through
// the plain canvas when GDI+ is off or not asked for. Everything draws into
// 24-bit bitmaps whose pixels are read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <utility>
#include <string>

#include "classlib/Bitmap.h"
#include "imaging/model/PxStartup.h"
#include "imaging/views/view/PxGDIPlus.h"

using namespace imaging;
using classlib::TColor;

namespace {

constexpr TColor kWhite = RGB(255, 255, 255);
constexpr TColor kRed = RGB(255, 0, 0);
constexpr TColor kBlue = RGB(0, 0, 255);

// A white 24-bit bitmap.
struct Surface {
    classlib::TBitmap bitmap;
    Surface(int w, int h, TColor fill = kWhite)
    {
        bitmap.SetPixelFormat(classlib::pf24bit);
        bitmap.SetSize(w, h);
        Canvas()->GetBrush()->SetColor(fill);
        Canvas()->GetBrush()->SetStyle(classlib::bsSolid);
        Canvas()->FillRect(RECT{0, 0, w, h});
    }
    classlib::TCanvas* Canvas() { return bitmap.GetCanvas(); }
    TColor At(int x, int y) { return Canvas()->GetPixel(x, y); }
    // The bounding box of the pixels that differ from the colour.
    RECT Painted(TColor background = kWhite)
    {
        RECT r{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
        for (int y = 0; y < bitmap.GetHeight(); ++y)
            for (int x = 0; x < bitmap.GetWidth(); ++x)
                if (At(x, y) != background) {
                    r.left = std::min<LONG>(r.left, x);
                    r.top = std::min<LONG>(r.top, y);
                    r.right = std::max<LONG>(r.right, x + 1);
                    r.bottom = std::max<LONG>(r.bottom, y + 1);
                }
        return r;
    }
};

// Holds one counted load for a test.
struct Loaded {
    Loaded() { PxGDIPlusLoad(); }
    ~Loaded() { PxGDIPlusUnload(); }
};

// Restores the unit switch after a test that turns GDI+ off.
struct AllowedScope {
    explicit AllowedScope(bool value) { PxGDIPlusAllowed = value; }
    ~AllowedScope() { PxGDIPlusAllowed = true; }
};

void ExpectRect(const RECT& r, int left, int top, int right, int bottom)
{
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.right, right);
    EXPECT_EQ(r.bottom, bottom);
}

}  // namespace

TEST(PxGDIPlus, CountedLoadKeepsTheLibraryUntilTheLastUnload)
{
    ASSERT_EQ(PxGDIPlusLoadCount(), 0);
    ASSERT_FALSE(PxGDIPlusIsLoaded());
    PxGDIPlusLoad();
    ASSERT_TRUE(PxGDIPlusIsLoaded()) << "gdiplus.dll did not load";
    EXPECT_TRUE(PxGDIPlusEnabled());
    PxGDIPlusLoad();
    PxGDIPlusUnload();
    EXPECT_TRUE(PxGDIPlusIsLoaded());
    EXPECT_EQ(PxGDIPlusLoadCount(), 1);
    PxGDIPlusUnload();
    EXPECT_FALSE(PxGDIPlusIsLoaded());
    EXPECT_FALSE(PxGDIPlusEnabled());
    EXPECT_EQ(PxGDIPlusLoadCount(), 0);

    // Not allowed: the load is counted but loads nothing.
    {
        AllowedScope off(false);
        PxGDIPlusLoad();
        EXPECT_FALSE(PxGDIPlusIsLoaded());
        EXPECT_EQ(PxGDIPlusLoadCount(), 1);
        PxGDIPlusUnload();
    }
    // A later load loads again.
    PxGDIPlusLoad();
    EXPECT_TRUE(PxGDIPlusEnabled());
    PxGDIPlusUnload();
    EXPECT_FALSE(PxGDIPlusIsLoaded());
}

TEST(PxGDIPlus, ToolkitStartupRunsTheUnitStartup)
{
    if (PxIsInitialized())
        GTEST_SKIP() << "the toolkit is started by someone else";
    PxGDIPlusAllowed = false;
    PxInitialize();
    EXPECT_TRUE(PxGDIPlusAllowed);
    EXPECT_FALSE(PxGDIPlusIsLoaded());
    EXPECT_EQ(PxGDIPlusLoadCount(), 0);
    PxFinalize();
    PxGDIPlusAllowed = true;
}

// FillRect, Rectangle and opacity through GDI+ and through the plain canvas:
// GDI+ covers one pixel less each way and blends; the plain canvas is opaque.
TEST(PxGDIPlus, RectanglesThroughBothPaths)
{
    Loaded gdiplus;
    ASSERT_TRUE(PxGDIPlusEnabled());
    struct Case {
        bool allowed, useGDIPlus;
        int extent;         // filled pixels of FillRect (0, 0, 10, 10)
        bool blends;        // transparency 128 shows the background
    } cases[] = {{true, true, 9, true}, {true, false, 10, false}, {false, true, 10, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "allowed " << c.allowed << " useGDIPlus " << c.useGDIPlus);
        AllowedScope allowed(c.allowed);
        Surface s(30, 30);
        {
            TPxCanvas canvas(s.Canvas(), false, c.useGDIPlus);
            EXPECT_EQ(canvas.GetUseGDIPlus(), c.allowed && c.useGDIPlus);
            canvas.GetBrush()->SetColor(kRed);
            // Through GDI+ the corners may come in either order.
            canvas.FillRect(canvas.GetUseGDIPlus() ? RECT{10, 10, 0, 0} : RECT{0, 0, 10, 10});
        }
        ExpectRect(s.Painted(), 0, 0, c.extent, c.extent);
        EXPECT_EQ(s.At(0, 0), kRed);

        Surface t(30, 30);
        {
            TPxCanvas canvas(t.Canvas(), false, c.useGDIPlus);
            canvas.GetBrush()->SetColor(RGB(0, 0, 0));
            canvas.GetBrush()->SetTransparency(128);
            canvas.GetPen()->SetColor(kBlue);
            canvas.Rectangle(5, 5, 15, 15);
        }
        // The outline covers 5..14 either way; the inside is black, or grey
        // over white through GDI+.
        ExpectRect(t.Painted(), 5, 5, 15, 15);
        EXPECT_EQ(t.At(5, 10), kBlue);
        EXPECT_EQ(t.At(14, 10), kBlue);
        EXPECT_EQ(t.At(10, 14), kBlue);
        const int inside = GetRValue(t.At(10, 10));
        EXPECT_NEAR(inside, c.blends ? 127 : 0, 2);
    }
}

// The smoothing mode asked for is set on the graphics object. (The pixels
// cannot show it here: the GDI+ of the test platform draws on device contexts
// without anti-aliasing.)
TEST(PxGDIPlus, SmoothingModeFollowsTheAntialiasFlag)
{
    Loaded gdiplus;
    using GetSmoothingMode = int(WINAPI*)(void* graphics, int* mode);
    const auto get = reinterpret_cast<GetSmoothingMode>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"gdiplus.dll"), "GdipGetSmoothingMode")));
    ASSERT_NE(get, nullptr);
    Surface s(10, 10);
    for (auto [antialias, expected] : {std::pair{true, 4}, std::pair{false, 1}}) {
        TPxCanvas canvas(s.Canvas(), antialias, true);
        int mode = -1;
        ASSERT_EQ(get(canvas.GetGraphics(), &mode), 0);
        EXPECT_EQ(mode, expected) << "antialias " << antialias;
    }
}

// LineTo continues from the position it reached, on both paths.
TEST(PxGDIPlus, LineToMovesThePenPosition)
{
    Loaded gdiplus;
    for (bool useGDIPlus : {true, false}) {
        Surface s(20, 20);
        {
            TPxCanvas canvas(s.Canvas(), false, useGDIPlus);
            canvas.GetPen()->SetColor(kRed);
            canvas.MoveTo(2, 2);
            canvas.LineTo(15, 2);
            canvas.LineTo(15, 15);
            if (useGDIPlus) {
                EXPECT_EQ(canvas.GetPenPos().x, 15);
                EXPECT_EQ(canvas.GetPenPos().y, 15);
            }
        }
        EXPECT_EQ(s.At(8, 2), kRed) << useGDIPlus;
        EXPECT_EQ(s.At(15, 8), kRed) << useGDIPlus;
        EXPECT_EQ(s.At(8, 8), kWhite) << useGDIPlus;
    }
}

TEST(PxGDIPlus, ClearPenStaysInvisibleUntilItsColourIsSetAgain)
{
    Loaded gdiplus;
    Surface s(40, 20);
    TPxCanvas canvas(s.Canvas(), false, true);
    TPxPen* pen = canvas.GetPen();
    pen->SetColor(kRed);
    pen->SetStyle(classlib::psClear);
    EXPECT_EQ(pen->GetARGB() >> 24, 0u);
    canvas.DrawLine(0, 2, 39, 2);
    pen->SetStyle(classlib::psSolid);
    EXPECT_EQ(pen->GetARGB(), 0xFFFF0000u);  // the value is right; the GDI+ pen keeps alpha 0
    canvas.DrawLine(0, 5, 39, 5);
    ExpectRect(s.Painted(), INT_MAX, INT_MAX, INT_MIN, INT_MIN);

    pen->SetTransparency(255);
    canvas.DrawLine(0, 8, 39, 8);
    EXPECT_EQ(s.At(20, 8), kRed);
    pen->SetColor(kBlue);
    canvas.DrawLine(0, 11, 39, 11);
    EXPECT_EQ(s.At(20, 11), kBlue);
    EXPECT_EQ(s.At(20, 2), kWhite);
    EXPECT_EQ(s.At(20, 5), kWhite);
}

TEST(PxGDIPlus, HatchBrushLeavesItsBackgroundTransparent)
{
    Loaded gdiplus;
    Surface s(40, 40, kBlue);
    {
        TPxCanvas canvas(s.Canvas(), false, true);
        canvas.GetBrush()->SetColor(kRed);
        canvas.GetBrush()->SetStyle(classlib::bsCross);
        EXPECT_EQ(canvas.GetBrush()->GetBackTransparency(), 0);
        canvas.FillRect(RECT{0, 0, 40, 40});
    }
    int red = 0, blue = 0;
    for (int y = 0; y < 39; ++y)
        for (int x = 0; x < 39; ++x) {
            const TColor c = s.At(x, y);
            red += c == kRed;
            blue += c == kBlue;
            ASSERT_TRUE(c == kRed || c == kBlue) << x << "," << y << " " << std::hex << c;
        }
    EXPECT_GT(red, 39 * 2);   // at least a few hatch lines
    EXPECT_GT(blue, 39 * 19);  // mostly the background
}

TEST(PxGDIPlus, RoundRectClipsAnOversizedCorner)
{
    Loaded gdiplus;
    Surface s(60, 40);
    {
        TPxCanvas canvas(s.Canvas(), false, true);
        canvas.GetPen()->SetColor(kRed);
        canvas.GetBrush()->SetColor(kRed);
        canvas.RoundRect(30, 20, 10, 5, 200, 200);
    }
    // The corner ellipse becomes the whole 20 x 15 box: an ellipse in it.
    const RECT r = s.Painted();
    EXPECT_GE(r.left, 10);
    EXPECT_GE(r.top, 5);
    EXPECT_LE(r.right, 31);
    EXPECT_LE(r.bottom, 21);
    EXPECT_EQ(s.At(20, 12), kRed);
    EXPECT_EQ(s.At(11, 6), kWhite);
    EXPECT_EQ(s.At(29, 19), kWhite);

    // A small corner leaves the straight edges full.
    Surface t(60, 40);
    {
        TPxCanvas canvas(t.Canvas(), false, true);
        canvas.GetPen()->SetColor(kRed);
        canvas.GetBrush()->SetColor(kBlue);
        canvas.RoundRect(10, 5, 50, 35, 10, 10);
    }
    EXPECT_EQ(t.At(30, 5), kRed);
    EXPECT_EQ(t.At(10, 20), kRed);
    EXPECT_EQ(t.At(30, 20), kBlue);
    EXPECT_EQ(t.At(10, 5), kWhite);

    // A negative corner counts as none: a plain rectangle inside the box.
    Surface u(60, 40);
    {
        TPxCanvas canvas(u.Canvas(), false, true);
        canvas.GetPen()->SetColor(kRed);
        canvas.RoundRect(10, 5, 50, 35, -6, -6);
    }
    const RECT ru = u.Painted();
    EXPECT_GE(ru.left, 10);
    EXPECT_GE(ru.top, 5);
    EXPECT_LE(ru.right, 51);
    EXPECT_LE(ru.bottom, 36);
    EXPECT_EQ(u.At(10, 5), kRed);
}

// Ellipses, arcs, polygons and polylines agree with the plain canvas about
// where they are.
TEST(PxGDIPlus, ShapesThroughBothPaths)
{
    Loaded gdiplus;
    for (bool useGDIPlus : {true, false}) {
        SCOPED_TRACE(useGDIPlus ? "GDI+" : "plain");
        Surface s(100, 50);
        {
            TPxCanvas canvas(s.Canvas(), false, useGDIPlus);
            canvas.GetPen()->SetColor(kRed);
            canvas.GetBrush()->SetColor(kBlue);
            canvas.Ellipse(0, 0, 21, 21);
            // Counter-clockwise from the right to the top: the upper-right
            // quarter of the circle in (30, 0) - (70, 40).
            canvas.Arc(30, 0, 70, 40, 70, 20, 50, 0);
            const POINT triangle[3] = {{75, 5}, {95, 5}, {75, 25}};
            canvas.Polygon(triangle, 3);
            const POINT zigzag[3] = {{5, 30}, {15, 45}, {25, 30}};
            canvas.Polyline(zigzag, 3);
        }
        EXPECT_EQ(s.At(10, 10), kBlue);
        EXPECT_EQ(s.At(0, 10), kRed);
        EXPECT_EQ(s.At(1, 1), kWhite);
        int upperRight = 0, elsewhere = 0;
        for (int y = 0; y <= 40; ++y)
            for (int x = 30; x <= 70; ++x)
                if (s.At(x, y) == kRed)
                    ++((x > 52 && y < 18) ? upperRight : elsewhere);
        EXPECT_GT(upperRight, 20);
        EXPECT_LT(elsewhere, 6);
        EXPECT_EQ(s.At(78, 8), kBlue);
        EXPECT_EQ(s.At(85, 5), kRed);
        EXPECT_EQ(s.At(92, 22), kWhite);
        EXPECT_EQ(s.At(10, 37), kRed);
        EXPECT_EQ(s.At(15, 35), kWhite);
    }
}

// A thick pen keeps a box narrower than itself visible as a 2h-wide ellipse
// around its first edge; a zero-size box under a thin pen draws nothing.
TEST(PxGDIPlus, EllipseOfANarrowBox)
{
    Loaded gdiplus;
    Surface s(40, 40);
    {
        TPxCanvas canvas(s.Canvas(), false, true);
        canvas.GetPen()->SetColor(kRed);
        canvas.GetPen()->SetWidth(4.0f);
        canvas.Ellipse(20, 5, 20, 35);
    }
    const RECT r = s.Painted();
    EXPECT_GE(r.left, 15);
    EXPECT_LE(r.right, 25);
    EXPECT_LE(r.top, 8);
    EXPECT_EQ(s.At(20, 20), kRed);

    Surface t(40, 40);
    {
        TPxCanvas canvas(t.Canvas(), false, true);
        canvas.GetPen()->SetColor(kRed);
        canvas.GetPen()->SetWidth(0.5f);
        canvas.Ellipse(20, 5, 20, 35);
    }
    ExpectRect(t.Painted(), INT_MAX, INT_MAX, INT_MIN, INT_MIN);
}

TEST(PxGDIPlus, PenAndBrushFollowTheLibraryNotTheCanvas)
{
    Surface s(10, 10);
    {
        AllowedScope off(false);
        Loaded gdiplus;
        EXPECT_FALSE(PxGDIPlusIsLoaded());
        TPxCanvas canvas(s.Canvas(), true, true);
        EXPECT_FALSE(canvas.GetUseGDIPlus());
        EXPECT_EQ(canvas.GetPen()->GetGpPen(), nullptr);
        EXPECT_EQ(canvas.GetBrush()->GetGpBrush(), nullptr);
    }
    Loaded gdiplus;
    TPxCanvas canvas(s.Canvas(), true, false);
    EXPECT_FALSE(canvas.GetUseGDIPlus());
    EXPECT_EQ(canvas.GetGraphics(), nullptr);
    EXPECT_NE(canvas.GetPen()->GetGpPen(), nullptr);
    EXPECT_NE(canvas.GetBrush()->GetGpBrush(), nullptr);
    // The plain objects are kept in step as well.
    canvas.GetPen()->SetWidth(3.7f);
    canvas.GetPen()->SetStyle(classlib::psDot);
    canvas.GetBrush()->SetStyle(classlib::bsFDiagonal);
    EXPECT_EQ(s.Canvas()->GetPen()->GetWidth(), 3);
    EXPECT_EQ(s.Canvas()->GetPen()->GetStyle(), classlib::psDot);
    EXPECT_EQ(s.Canvas()->GetBrush()->GetStyle(), classlib::bsFDiagonal);
    EXPECT_NE(canvas.GetBrush()->GetGpBrush(), nullptr);
}
