// Frame, hint-box and shadow drawing through the drawing canvas, with GDI+
// (blending) and without it (the same shapes, opaque, through the plain
// canvas). Pixels are read back from 24-bit bitmaps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "classlib/Bitmap.h"
#include "imaging/views/view/PxDrawing.h"
#include "imaging/views/view/PxGDIPlus.h"

using namespace imaging;
using classlib::TColor;

namespace {

constexpr TColor kRed = RGB(255, 0, 0);
constexpr TColor kBlue = RGB(0, 0, 255);
constexpr TColor kWhite = RGB(255, 255, 255);

struct Surface {
    classlib::TBitmap bitmap;
    Surface(int w, int h, TColor fill)
    {
        bitmap.SetPixelFormat(classlib::pf24bit);
        bitmap.SetSize(w, h);
        Canvas()->GetBrush()->SetColor(fill);
        Canvas()->FillRect(RECT{0, 0, w, h});
    }
    classlib::TCanvas* Canvas() { return bitmap.GetCanvas(); }
    TColor At(int x, int y) { return Canvas()->GetPixel(x, y); }
};

// GDI+ loaded (or, with gdiplus false, not allowed) for one test.
struct GdiPlusScope {
    explicit GdiPlusScope(bool gdiplus)
    {
        PxGDIPlusAllowed = gdiplus;
        PxGDIPlusLoad();
    }
    ~GdiPlusScope()
    {
        PxGDIPlusUnload();
        PxGDIPlusAllowed = true;
    }
};

bool Near(TColor a, TColor b, int tolerance)
{
    return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance && std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

bool Inside(const RECT& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

}  // namespace

TEST(PxDrawingCanvas, Frame3DEdgeColours)
{
    for (bool gdiplus : {true, false}) {
        SCOPED_TRACE(gdiplus ? "GDI+" : "plain");
        GdiPlusScope scope(gdiplus);
        ASSERT_EQ(PxGDIPlusEnabled(), gdiplus);
        Surface s(30, 25, kWhite);
        {
            TPxCanvas canvas(s.Canvas(), false, true);
            canvas.GetPen()->SetWidth(3.0f);
            canvas.GetPen()->SetStyle(classlib::psDot);
            PxDrawFrame3DCanvas(&canvas, 5, 5, 20, 15, kRed, kBlue);
        }
        EXPECT_EQ(s.At(5, 10), kRed);  // left
        EXPECT_EQ(s.At(12, 5), kRed);  // top
        EXPECT_EQ(s.At(20, 10), kBlue);  // right
        EXPECT_EQ(s.At(12, 15), kBlue);  // bottom
        EXPECT_EQ(s.At(12, 10), kWhite);
        EXPECT_EQ(s.At(6, 10), kWhite);  // width 1 whatever the pen had
        EXPECT_EQ(s.At(12, 16), kWhite);
    }
}

// Through GDI+ the area outside the frame is darkened uniformly (the four
// rectangles do not overlap); without it the same rectangles are filled
// black, each one pixel larger.
TEST(PxDrawingCanvas, ShadowDarkensExactlyOutsideTheFrame)
{
    struct Case {
        bool gdiplus;
        RECT darkened;   // the darkened span
        RECT untouched;  // the part inside the frame that stays
        int level;       // red, green and blue of a darkened white pixel
    } cases[] = {{true, {2, 3, 42, 33}, {13, 12, 32, 24}, 105}, {false, {2, 3, 43, 34}, {14, 13, 32, 24}, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gdiplus ? "GDI+" : "plain");
        GdiPlusScope scope(c.gdiplus);
        Surface s(50, 40, kWhite);
        PxDrawShadowRects(s.Canvas(), 2, 3, 40, 30, 12, 11, 32, 23);
        int wrong = 0;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 50; ++x) {
                const bool dark = Inside(c.darkened, x, y) && !Inside(c.untouched, x, y);
                const TColor expected = dark ? RGB(c.level, c.level, c.level) : kWhite;
                if (!Near(s.At(x, y), expected, 2) && ++wrong <= 5)
                    ADD_FAILURE() << x << "," << y << " " << std::hex << s.At(x, y);
            }
        EXPECT_EQ(wrong, 0);
    }

    // A frame without width or height draws nothing.
    GdiPlusScope scope(true);
    for (RECT frame : {RECT{12, 11, 12, 23}, RECT{12, 11, 32, 11}, RECT{32, 11, 12, 23}}) {
        Surface s(50, 40, kWhite);
        PxDrawShadowRects(s.Canvas(), 2, 3, 40, 30, frame.left, frame.top, frame.right, frame.bottom);
        for (int y = 0; y < 40; y += 3)
            for (int x = 0; x < 50; x += 3)
                ASSERT_EQ(s.At(x, y), kWhite) << x << "," << y;
    }
}

TEST(PxDrawingCanvas, HintBoxPositionAndColours)
{
    const TColor background = RGB(0, 0, 200);
    const std::wstring measure = L"A much longer measuring text";
    const std::wstring text = L"Hint";
    struct Case {
        bool gdiplus;
        int x, y, expectedX, expectedY;
        TColor fill;
    } cases[] = {
        {true, -5, -3, 0, 0, RGB(128, 128, 148)},  // light yellow over blue at half opacity
        {true, 15, 7, 15, 7, RGB(128, 128, 148)},
        {false, -1, 4, 0, 4, RGB(255, 255, 96)},  // opaque
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.gdiplus ? "GDI+ " : "plain ") << c.x << "," << c.y);
        GdiPlusScope scope(c.gdiplus);
        Surface s(300, 80, background);
        int x = c.x, y = c.y;
        PxDrawHintBox(s.Canvas(), x, y, measure, text);
        EXPECT_EQ(x, c.expectedX);
        EXPECT_EQ(y, c.expectedY);

        classlib::TCanvas* canvas = s.Canvas();
        EXPECT_EQ(canvas->GetFont()->GetName(), L"Arial");
        EXPECT_EQ(canvas->GetFont()->GetSize(), 9);
        const int bw = std::max(canvas->TextWidth(measure), canvas->TextWidth(text)) + 12;
        const int bh = canvas->TextHeight(text) + 12;
        ASSERT_LT(x + bw, 300);
        ASSERT_LT(y + bh, 80);

        const int midY = y + bh / 2, midX = x + bw / 2;
        EXPECT_EQ(s.At(x + 6, midY), kWhite);  // left edge
        EXPECT_EQ(s.At(midX, y + 6), kWhite);  // top edge
        EXPECT_EQ(s.At(x + bw - 1, midY), RGB(128, 128, 128));  // right edge
        EXPECT_EQ(s.At(midX, y + bh - 1), RGB(128, 128, 128));  // bottom edge
        // Inside, right of the short text.
        EXPECT_TRUE(Near(s.At(x + bw - 4, midY), c.fill, 2)) << std::hex << s.At(x + bw - 4, midY);
        EXPECT_TRUE(Near(s.At(x + 8, y + 7), c.fill, 2)) << std::hex << s.At(x + 8, y + 7);
        // Outside the box.
        EXPECT_EQ(s.At(x + 5, y + 5), background);
        EXPECT_EQ(s.At(x + bw, midY), background);
        EXPECT_EQ(s.At(midX, y + bh), background);

        // The text is written in black over the fill, no background of its own.
        int black = 0, fill = 0;
        const int tw = canvas->TextWidth(text), th = canvas->TextHeight(text);
        for (int ty = y + 9; ty < y + 9 + th; ++ty)
            for (int tx = x + 9; tx < x + 9 + tw; ++tx) {
                black += s.At(tx, ty) == RGB(0, 0, 0);
                fill += Near(s.At(tx, ty), c.fill, 2);
            }
        EXPECT_GT(black, 4);
        EXPECT_GT(fill, tw * th / 3);
    }
}

TEST(PxDrawingTest, TextBoxIsKeptInsideAndSavesTheAreaBelow)
{
    classlib::TBitmap target;
    target.SetPixelFormat(classlib::pf24bit);
    target.SetSize(120, 80);
    classlib::TCanvas* canvas = target.GetCanvas();
    for (int yy = 0; yy < 80; ++yy)
        for (int xx = 0; xx < 120; ++xx)
            canvas->SetPixel(xx, yy, RGB(xx * 2, yy * 3, 7));

    classlib::TBrush brush;
    brush.SetColor(RGB(255, 255, 0));
    classlib::TFont font;
    const std::wstring text = L"Hint";
    canvas->SetFont(&font);
    const SIZE extent = canvas->TextExtent(text);
    const int bw = extent.cx + 12, bh = extent.cy + 12;

    classlib::TBitmap saved;
    int x = -5, y = 75;
    PxDrawTextBox(canvas, x, y, RGB(255, 0, 0), RGB(0, 0, 255), 80, 120, &saved, &brush, &font, text);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 80 - bh - 1);
    ASSERT_EQ(saved.GetWidth(), bw);
    ASSERT_EQ(saved.GetHeight(), bh);
    EXPECT_EQ(saved.GetPixelFormat(), classlib::pf24bit);
    for (int yy : {0, bh / 2, bh - 1})
        for (int xx : {0, bw / 2, bw - 1})
            EXPECT_EQ(saved.GetCanvas()->GetPixel(xx, yy), RGB((x + xx) * 2, (y + yy) * 3, 7)) << xx << "," << yy;

    EXPECT_EQ(canvas->GetPixel(x + 6, y + 6), RGB(255, 0, 0));
    EXPECT_EQ(canvas->GetPixel(x + bw - 1, y + 7), RGB(0, 0, 255));  // right edge in the second colour
    EXPECT_EQ(canvas->GetPixel(x + bw - 1, y + bh - 1), RGB(0, 0, 255));
    EXPECT_EQ(canvas->GetPixel(x + 7, y + bh - 2), RGB(255, 255, 0));
    EXPECT_EQ(canvas->GetPixel(x + 5, y + 5), RGB((x + 5) * 2, (y + 5) * 3, 7));  // outside the filled part
}
