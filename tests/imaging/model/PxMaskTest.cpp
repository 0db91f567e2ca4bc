// Selection masks: pixels and bounding box, polygon fill, offset, resize,
// drawing, shading and masked copies.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <vector>

#include "classlib/Bitmap.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxMask.h"
#include "support/ValueScope.h"

using namespace imaging;

namespace {

constexpr int kEmpty = 2147483647;

int CountSelected(const TPxMask& m)
{
    int n = 0;
    for (int y = 0; y < m.Height; ++y)
        for (int x = 0; x < m.Width; ++x)
            n += m.GetPixel(x, y) != 0;
    return n;
}

void ExpectBox(const TPxMask& m, int x1, int y1, int x2, int y2)
{
    EXPECT_EQ(m.X1, x1);
    EXPECT_EQ(m.Y1, y1);
    EXPECT_EQ(m.X2, x2);
    EXPECT_EQ(m.Y2, y2);
}

void SelectRect(TPxMask& m, int x1, int y1, int x2, int y2, int value = 255)
{
    for (int y = y1; y <= y2; ++y)
        for (int x = x1; x <= x2; ++x)
            m.SetPixel(x, y, value);
}

// Makes file-backed images for the scope of a test.
class FileStorageScope : public testsupport::TValueScope<int64_t> {
public:
    FileStorageScope() : TValueScope(PxMemoryThreshold, 0) {}
};

std::unique_ptr<classlib::TBitmap> WhiteBitmap(int w, int h)
{
    auto b = std::make_unique<classlib::TBitmap>();
    b->SetPixelFormat(classlib::pf24bit);
    b->SetSize(w, h);
    b->GetCanvas()->GetBrush()->SetColor(classlib::clWhite);
    b->GetCanvas()->FillRect(RECT{0, 0, w, h});
    return b;
}

class PxMaskDepth : public ::testing::TestWithParam<int> {};

}  // namespace

TEST_P(PxMaskDepth, PixelsLayoutAndBoundingBox)
{
    const int bpp = GetParam();
    TPxMask m;
    EXPECT_TRUE(m.IsEmpty());
    m.AllocateBits(10, 4, bpp);
    EXPECT_EQ(m.RowLen, bpp == 1 ? 4 : 12);
    EXPECT_TRUE(m.IsEmpty());
    EXPECT_FALSE(m.Full);

    m.SetPixel(0, 0, 1);
    // Rows are bottom-up: row 0 is the last row of the block.
    const uint8_t* top = m.GetBits() + m.RowLen * 3;
    EXPECT_EQ(top[0], bpp == 1 ? 0x80 : 1);
    EXPECT_EQ(m.GetScanline(0), top);
    ExpectBox(m, 0, 0, 0, 0);

    m.SetPixel(7, 2, 300);  // 8 bits keep the low byte
    EXPECT_EQ(m.GetPixel(7, 2), bpp == 1 ? 0x01 : 44);
    ExpectBox(m, 0, 0, 7, 2);
    m.SetPixel(5, 3, 0);  // zero never grows the box
    ExpectBox(m, 0, 0, 7, 2);

    // Outside the mask: ignored, read as 0.
    m.SetPixel(10, 0, 1);
    m.SetPixel(0, -1, 1);
    EXPECT_EQ(m.GetPixel(-1, 0), 0);
    EXPECT_EQ(m.GetPixel(10, 0), 0);
    EXPECT_EQ(CountSelected(m), 2);
    ExpectBox(m, 0, 0, 7, 2);
    EXPECT_TRUE(m.IsPointInside(7, 2));
    EXPECT_FALSE(m.IsPointInside(6, 2));

    // Spans are clamped to the mask and leave the box alone.
    EXPECT_EQ(m.FillSpan(-5, 20, 3, 1), 10);
    EXPECT_EQ(m.FillSpan(6, 5, 3, 1), 0);
    EXPECT_EQ(m.FillSpan(12, 20, 3, 1), 0);
    ExpectBox(m, 0, 0, 7, 2);
    EXPECT_EQ(CountSelected(m), 12);
    m.SyncBoundingBox();
    ExpectBox(m, 0, 0, 9, 3);

    m.Clear();
    EXPECT_TRUE(m.IsEmpty());
    EXPECT_EQ(CountSelected(m), 0);
    m.SyncBoundingBox();
    EXPECT_EQ(m.X1, kEmpty);
}

TEST_P(PxMaskDepth, FullFlag)
{
    const int bpp = GetParam();
    TPxMask m;
    m.AllocateBits(10, 3, bpp);  // rows carry padding bytes
    for (int y = 0; y < 3; ++y)
        m.FillSpan(0, 9, y, 255);
    EXPECT_FALSE(m.Full);  // writes never set the flag
    m.CheckFull();
    EXPECT_TRUE(m.Full);
    m.SetPixel(4, 1, bpp == 1 ? 0 : 254);
    EXPECT_FALSE(m.Full);
    m.Fill(255);
    EXPECT_TRUE(m.Full);
    m.Clear();
    EXPECT_FALSE(m.Full);
    m.Fill(0x0F);
    EXPECT_FALSE(m.Full);
}

TEST_P(PxMaskDepth, PolygonFillEvenOddAndRounding)
{
    const int bpp = GetParam();
    TPxMask m;
    m.AllocateBits(10, 10, bpp);
    const POINT square[] = {{2, 2}, {6, 2}, {6, 6}, {2, 6}};
    m.FillPolygon(1, square, 4);
    EXPECT_EQ(CountSelected(m), 16);
    ExpectBox(m, 2, 2, 5, 5);
    EXPECT_TRUE(m.IsPointInside(5, 5));
    EXPECT_FALSE(m.IsPointInside(6, 5));
    EXPECT_FALSE(m.IsPointInside(5, 6));

    // A frame with a square hole joined by a seam: even-odd leaves the hole.
    m.AllocateBits(10, 10, bpp);
    const POINT frame[] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 3}, {3, 3},
                           {3, 7},  {7, 7},  {7, 3},   {3, 3},  {0, 3}};
    m.FillPolygon(255, frame, 11);
    EXPECT_EQ(CountSelected(m), 100 - 16);
    EXPECT_FALSE(m.IsPointInside(5, 5));
    EXPECT_TRUE(m.IsPointInside(2, 5));
    EXPECT_TRUE(m.IsPointInside(7, 5));
    ExpectBox(m, 0, 0, 9, 9);

    // A steep edge follows the true line rounded, ties staying at the upper
    // end: x at rows 0..9 is 5, 5, 4, 4, 3, 3, 2, 2, 1, 1.
    m.AllocateBits(10, 10, bpp);
    const POINT wedge[] = {{0, 0}, {5, 0}, {0, 10}};
    m.FillPolygon(1, wedge, 3);
    const int widths[] = {5, 5, 4, 4, 3, 3, 2, 2, 1, 1};
    for (int y = 0; y < 10; ++y) {
        EXPECT_TRUE(m.IsPointInside(widths[y] - 1, y)) << y;
        EXPECT_FALSE(m.IsPointInside(widths[y], y)) << y;
    }
    EXPECT_EQ(CountSelected(m), 30);
}

TEST_P(PxMaskDepth, PolygonRowsOutsideTheMaskAreClipped)
{
    const int bpp = GetParam();
    TPxMask m;
    m.AllocateBits(10, 10, bpp);
    // Wide above the mask, narrow inside it: row 0 must get only its own span.
    const POINT down[] = {{-20, -10}, {30, -10}, {5, 1}};
    m.FillPolygon(1, down, 3);
    EXPECT_TRUE(m.IsPointInside(5, 0));
    EXPECT_FALSE(m.IsPointInside(0, 0));
    EXPECT_FALSE(m.IsPointInside(9, 0));
    EXPECT_EQ(m.Y1, 0);
    // The same below the mask for the last row.
    TPxMask b;
    b.AllocateBits(10, 10, bpp);
    const POINT up[] = {{5, 8}, {30, 20}, {-20, 20}};
    b.FillPolygon(1, up, 3);
    EXPECT_TRUE(b.IsPointInside(5, 9));
    EXPECT_FALSE(b.IsPointInside(0, 9));
    EXPECT_FALSE(b.IsPointInside(9, 9));
    EXPECT_EQ(b.Y2, 9);

    // Coordinates near the 32-bit limits: edge arithmetic must not overflow.
    TPxMask huge;
    huge.AllocateBits(10, 10, bpp);
    const POINT wide[] = {{-2000000000, 0}, {2000000000, 0}, {0, 10}};
    huge.FillPolygon(1, wide, 3);
    EXPECT_EQ(CountSelected(huge), 100);
    // A polygon reaching far above the mask is filled without walking every
    // row up there; the slanted edge still lands where stepping puts it.
    TPxMask tall;
    tall.AllocateBits(10, 10, bpp);
    const POINT column[] = {{0, -2000000000}, {10, -2000000000}, {10, 10}, {0, 10}};
    tall.FillPolygon(1, column, 4);
    EXPECT_EQ(CountSelected(tall), 100);
    TPxMask slant;
    slant.AllocateBits(10, 10, bpp);
    const POINT slope[] = {{0, -10}, {5, -10}, {0, 10}};  // x = 5 - (y + 10) / 4
    slant.FillPolygon(1, slope, 3);
    EXPECT_TRUE(slant.IsPointInside(2, 0));   // 2.5 rounds toward the upper end
    EXPECT_FALSE(slant.IsPointInside(3, 0));
    EXPECT_TRUE(slant.IsPointInside(1, 1));   // 2.25 -> 2
    EXPECT_FALSE(slant.IsPointInside(2, 1));

    // A polygon entirely outside sets nothing and keeps the box of what was
    // selected before.
    const POINT square[] = {{2, 2}, {6, 2}, {6, 6}, {2, 6}};
    const POINT outside[] = {{20, 20}, {30, 20}, {30, 30}};
    TPxMask c;
    c.AllocateBits(10, 10, bpp);
    c.FillPolygon(1, square, 4);
    c.FillPolygon(1, outside, 3);
    ExpectBox(c, 2, 2, 5, 5);
    TPxMask d;
    d.AllocateBits(10, 10, bpp);
    d.FillPolygon(1, outside, 3);
    EXPECT_TRUE(d.IsEmpty());
}

TEST_P(PxMaskDepth, FillPolygonsSeparatesAndChecksFull)
{
    const int bpp = GetParam();
    TPxMask m;
    m.AllocateBits(4, 4, bpp);
    const POINT halves[] = {{0, 0}, {4, 0}, {4, 2}, {0, 2}, {PxPolygonSeparator, 0},
                            {0, 2}, {4, 2}, {4, 4}, {0, 4}};
    m.FillPolygons(255, halves, 9);
    EXPECT_EQ(CountSelected(m), 16);
    EXPECT_TRUE(m.Full);
    ExpectBox(m, 0, 0, 3, 3);

    TPxMask two;
    two.AllocateBits(10, 10, bpp);
    const POINT pair[] = {{0, 0}, {2, 0}, {2, 2}, {0, 2}, {PxPolygonSeparator, 0},
                          {7, 7}, {9, 7}, {9, 9}, {7, 9}};
    two.FillPolygons(255, pair, 9);
    EXPECT_EQ(CountSelected(two), 8);
    EXPECT_TRUE(two.IsPointInside(1, 1));
    EXPECT_TRUE(two.IsPointInside(8, 8));
    EXPECT_FALSE(two.Full);
    ExpectBox(two, 0, 0, 8, 8);
}

TEST_P(PxMaskDepth, OffsetClampsCropsAndMoves)
{
    const int bpp = GetParam();
    TPxMask m;
    m.AllocateBits(10, 10, bpp);
    SelectRect(m, 0, 0, 4, 4);
    int dx = -3, dy = 0;
    m.Offset(dx, dy, false);  // clamped: the box already touches the left edge
    EXPECT_EQ(dx, 0);
    EXPECT_EQ(dy, 0);
    ExpectBox(m, 0, 0, 4, 4);
    EXPECT_EQ(CountSelected(m), 25);

    dx = 3;
    dy = 20;  // clamped to the bottom: 9 - 4
    m.Offset(dx, dy, false);
    EXPECT_EQ(dx, 3);
    EXPECT_EQ(dy, 5);
    ExpectBox(m, 3, 5, 7, 9);
    EXPECT_EQ(CountSelected(m), 25);
    EXPECT_TRUE(m.IsPointInside(3, 5));
    EXPECT_FALSE(m.IsPointInside(2, 5));
    EXPECT_FALSE(m.IsPointInside(0, 0));

    // Crop: what leaves the mask is cut off.
    dx = -5;
    dy = 0;
    m.Offset(dx, dy, true);
    EXPECT_EQ(dx, -5);
    ExpectBox(m, 0, 5, 2, 9);
    EXPECT_EQ(CountSelected(m), 15);
    EXPECT_TRUE(m.IsPointInside(2, 9));
    EXPECT_FALSE(m.IsPointInside(3, 9));

    // Moved out entirely: nothing stays selected.
    dx = 20;
    m.Offset(dx, dy, true);
    EXPECT_EQ(CountSelected(m), 0);
    EXPECT_TRUE(m.IsEmpty());

    // An empty box is recomputed first.
    TPxMask s;
    s.AllocateBits(10, 10, bpp);
    s.FillSpan(1, 2, 1, 255);
    dx = 1;
    dy = 1;
    s.Offset(dx, dy, false);
    ExpectBox(s, 2, 2, 3, 2);
    EXPECT_TRUE(s.IsPointInside(3, 2));
    EXPECT_EQ(CountSelected(s), 2);
}

TEST_P(PxMaskDepth, ResizeKeepsTopLeft)
{
    const int bpp = GetParam();
    TPxMask m;
    m.AllocateBits(10, 10, bpp);
    SelectRect(m, 3, 3, 8, 8);
    m.SetPixel(0, 0, 255);
    m.Resize(5, 5);
    EXPECT_EQ(m.Width, 5);
    EXPECT_EQ(m.RowLen, bpp == 1 ? 4 : 8);
    EXPECT_TRUE(m.IsPointInside(0, 0));
    EXPECT_TRUE(m.IsPointInside(4, 4));
    EXPECT_FALSE(m.IsPointInside(2, 2));
    EXPECT_EQ(CountSelected(m), 1 + 4);
    ExpectBox(m, 0, 0, 4, 4);
    // Growing again brings back no pixel that was cut off.
    m.Resize(10, 10);
    EXPECT_EQ(CountSelected(m), 5);
    EXPECT_FALSE(m.IsPointInside(6, 3));
    EXPECT_FALSE(m.IsPointInside(3, 6));
}

TEST_P(PxMaskDepth, ShadeOutsideBlendsOrDithersUnselectedPixels)
{
    const int bpp = GetParam();
    TPxMask m;
    m.AllocateBits(8, 8, bpp);
    SelectRect(m, 2, 2, 5, 5);
    for (const bool file : {false, true}) {
        std::unique_ptr<FileStorageScope> storage(file ? new FileStorageScope : nullptr);
        TPxBitmap view(8, 8, px24RGB);
        view.Fill(0x646464);  // (100, 100, 100)
        m.ShadeOutside(&view, 0, 0, 8, 8, 0, 0, 8, 8, classlib::clWhite, 128);
        // trunc(128 / 255 * 255 + (1 - 128 / 255) * 100) = 177
        EXPECT_EQ(view.GetPixelRGB(0, 0), (TPxRGB{177, 177, 177})) << file;
        EXPECT_EQ(view.GetPixelRGB(7, 3), (TPxRGB{177, 177, 177})) << file;
        EXPECT_EQ(view.GetPixelRGB(3, 3), (TPxRGB{100, 100, 100})) << file;

        view.Fill(0x646464);
        m.ShadeOutside(&view, 0, 0, 8, 8, 0, 0, 8, 8, classlib::clWhite, -1);
        EXPECT_EQ(view.GetPixelRGB(0, 0), (TPxRGB{97, 97, 97})) << file;
        EXPECT_EQ(view.GetPixelRGB(1, 0), (TPxRGB{100, 100, 100})) << file;
        EXPECT_EQ(view.GetPixelRGB(7, 7), (TPxRGB{97, 97, 97})) << file;
        EXPECT_EQ(view.GetPixelRGB(4, 4), (TPxRGB{100, 100, 100})) << file;
    }

    // An area starting left of the bitmap is cut there: bitmap column 0
    // shows source column 2, and the area ends where it ended before.
    TPxBitmap view(8, 8, px24RGB);
    view.Fill(0x646464);
    m.ShadeOutside(&view, -2, 0, 8, 8, 0, 0, 8, 8, classlib::clBlack, 255);
    EXPECT_EQ(view.GetPixelRGB(0, 3), (TPxRGB{100, 100, 100}));  // source 2: selected
    EXPECT_EQ(view.GetPixelRGB(4, 3), (TPxRGB{0, 0, 0}));        // source 6: not
    EXPECT_EQ(view.GetPixelRGB(6, 3), (TPxRGB{100, 100, 100}));  // beyond the area
    EXPECT_EQ(view.GetPixelRGB(7, 0), (TPxRGB{100, 100, 100}));
}

INSTANTIATE_TEST_SUITE_P(Depths, PxMaskDepth, ::testing::Values(1, 8),
                         [](const ::testing::TestParamInfo<int>& i) { return "Bits" + std::to_string(i.param); });

TEST(PxMask, CopyMaskedPixelsByDepthAndFormat)
{
    for (const bool file : {false, true}) {
        std::unique_ptr<FileStorageScope> storage(file ? new FileStorageScope : nullptr);
        // 1-bit mask, px24RGB: selected pixels replaced, others kept.
        TPxMask m1;
        m1.AllocateBits(6, 6, 1);
        SelectRect(m1, 1, 1, 2, 2);
        TPxBitmap src(6, 6, px24RGB), dst(6, 6, px24RGB);
        src.Fill(0x0000FF);
        dst.Fill(0x00FF00);
        m1.CopyMaskedPixels(&dst, &src, true, false, false);
        EXPECT_EQ(dst.GetPixelRGB(1, 1), (TPxRGB{0, 0, 255})) << file;
        EXPECT_EQ(dst.GetPixelRGB(2, 2), (TPxRGB{0, 0, 255})) << file;
        EXPECT_EQ(dst.GetPixelRGB(3, 3), (TPxRGB{0, 255, 0})) << file;
        ASSERT_TRUE(dst.HasAlphaChannel());
        EXPECT_FALSE(dst.GetAlphaChannel()->FullAlpha);
        EXPECT_EQ(dst.GetAlpha(1, 1), 255) << file;
        EXPECT_EQ(dst.GetAlpha(0, 0), 255) << file;  // outside the box: untouched

        // 8-bit mask: blends by the mask value; alpha min(source alpha, m).
        TPxMask m8;
        m8.AllocateBits(6, 6, 8);
        m8.SetPixel(1, 1, 128);
        m8.SetPixel(2, 1, 0);
        m8.SetPixel(3, 1, 64);
        m8.SetPixel(4, 1, 255);
        TPxBitmap s24(6, 6, px24RGB), d24(6, 6, px24RGB);
        s24.Fill(0xC8C8C8);  // 200
        d24.Fill(0x646464);  // 100
        s24.GetAlphaChannel()->Fill(100);
        m8.CopyMaskedPixels(&d24, &s24, true, false, false);
        // 100 + ((200 - 100) * 128 * 1024) shr 18 = 150
        EXPECT_EQ(d24.GetPixelRGB(1, 1), (TPxRGB{150, 150, 150})) << file;
        EXPECT_EQ(d24.GetPixelRGB(2, 1), (TPxRGB{100, 100, 100})) << file;
        EXPECT_EQ(d24.GetPixelRGB(3, 1), (TPxRGB{125, 125, 125})) << file;
        EXPECT_EQ(d24.GetPixelRGB(4, 1), (TPxRGB{200, 200, 200})) << file;  // fully selected: the source
        EXPECT_EQ(d24.GetAlpha(1, 1), 100) << file;
        EXPECT_EQ(d24.GetAlpha(3, 1), 64) << file;
        EXPECT_EQ(d24.GetAlpha(2, 1), 0) << file;  // inside the box, not selected

        // px8g: 200 + ((10 - 200) * 64) shr 8 = 152 (shift of a negative value).
        TPxBitmap s8(6, 6, px8g), d8(6, 6, px8g);
        s8.Fill(10);
        d8.Fill(200);
        m8.CopyMaskedPixels(&d8, &s8, false, false, false);
        EXPECT_EQ(d8.GetPixelGray8(3, 1), 152) << file;
        EXPECT_EQ(d8.GetPixelGray8(1, 1), 105) << file;  // 200 + (-190 * 128) shr 8
        EXPECT_EQ(d8.GetPixelGray8(4, 1), 10) << file;
        EXPECT_FALSE(d8.HasAlphaChannel());

        // px32RGB, both mask depths: selected pixels are copied (1 bit) or
        // blended like 24-bit pixels (8 bits); unselected ones stay.
        TPxBitmap s32(6, 6, px32RGB), d32(6, 6, px32RGB);
        s32.Fill(0xC8C8C8);
        d32.Fill(0x646464);
        m1.CopyMaskedPixels(&d32, &s32, false, false, false);
        EXPECT_EQ(d32.GetPixelAsRGB(1, 1), (TPxRGB{200, 200, 200})) << file;
        EXPECT_EQ(d32.GetPixelAsRGB(3, 3), (TPxRGB{100, 100, 100})) << file;
        d32.Fill(0x646464);
        m8.CopyMaskedPixels(&d32, &s32, false, false, false);
        EXPECT_EQ(d32.GetPixelAsRGB(1, 1), (TPxRGB{150, 150, 150})) << file;
        EXPECT_EQ(d32.GetPixelAsRGB(2, 1), (TPxRGB{100, 100, 100})) << file;

        // Different formats copy no pixels.
        TPxBitmap g(6, 6, px8g);
        g.Fill(7);
        m1.CopyMaskedPixels(&g, &src, false, false, false);
        EXPECT_EQ(g.GetPixelGray8(1, 1), 7) << file;
    }
}

TEST(PxMask, CopyMaskedPixelsRelativeToTheBox)
{
    TPxMask m;
    m.AllocateBits(10, 10, 1);
    SelectRect(m, 4, 5, 5, 6);
    // A box-sized source (2 x 2) lands at the box in the destination.
    TPxBitmap boxed(2, 2, px8g), whole(10, 10, px8g);
    boxed.SetPixelGray8(0, 0, 11);
    boxed.SetPixelGray8(1, 0, 12);
    boxed.SetPixelGray8(0, 1, 13);
    boxed.SetPixelGray8(1, 1, 14);
    whole.Fill(0);
    m.CopyMaskedPixels(&whole, &boxed, false, true, false);
    EXPECT_EQ(whole.GetPixelGray8(4, 5), 11);
    EXPECT_EQ(whole.GetPixelGray8(5, 6), 14);
    EXPECT_EQ(whole.GetPixelGray8(3, 5), 0);
    // And back out into a box-sized destination.
    TPxBitmap out(2, 2, px8g);
    out.Fill(0);
    m.CopyMaskedPixels(&out, &whole, false, false, true);
    EXPECT_EQ(out.GetPixelGray8(0, 0), 11);
    EXPECT_EQ(out.GetPixelGray8(1, 1), 14);
}

TEST(PxMask, DrawInvertedXorsSelectedPixels)
{
    TPxMask m;
    m.AllocateBits(10, 10, 1);
    SelectRect(m, 2, 0, 5, 1);  // near the top: a flipped image would show
    auto b = WhiteBitmap(20, 20);
    m.DrawInverted(b->GetCanvas(), 0, 0, 10, 10, 0, 0, 10, 10);
    EXPECT_EQ(b->GetCanvas()->GetPixel(3, 0), classlib::clBlack);
    EXPECT_EQ(b->GetCanvas()->GetPixel(5, 1), classlib::clBlack);
    EXPECT_EQ(b->GetCanvas()->GetPixel(3, 2), classlib::clWhite);
    EXPECT_EQ(b->GetCanvas()->GetPixel(3, 9), classlib::clWhite);
    EXPECT_EQ(b->GetCanvas()->GetPixel(6, 0), classlib::clWhite);

    // Zoomed 2x, the source rectangle being the lower-right quarter.
    TPxMask q;
    q.AllocateBits(10, 10, 1);
    SelectRect(q, 6, 6, 6, 6);
    auto c = WhiteBitmap(20, 20);
    q.DrawInverted(c->GetCanvas(), 0, 0, 10, 10, 5, 5, 5, 5);
    EXPECT_EQ(c->GetCanvas()->GetPixel(2, 2), classlib::clBlack);
    EXPECT_EQ(c->GetCanvas()->GetPixel(3, 3), classlib::clBlack);
    EXPECT_EQ(c->GetCanvas()->GetPixel(1, 1), classlib::clWhite);
    EXPECT_EQ(c->GetCanvas()->GetPixel(4, 4), classlib::clWhite);

    // 8-bit masks are not drawn.
    TPxMask e;
    e.AllocateBits(10, 10, 8);
    SelectRect(e, 0, 0, 9, 9);
    auto d = WhiteBitmap(10, 10);
    e.DrawInverted(d->GetCanvas(), 0, 0, 10, 10, 0, 0, 10, 10);
    EXPECT_EQ(d->GetCanvas()->GetPixel(5, 5), classlib::clWhite);
}

TEST(PxMask, DrawOutlinePlotsTheBorderInDashes)
{
    TPxMask m;
    m.AllocateBits(8, 8, 1);
    SelectRect(m, 2, 2, 5, 5);
    auto b = WhiteBitmap(8, 8);
    RECT out{-1, -1, -1, -1};
    m.DrawOutline(b->GetCanvas(), 0, 0, 8, 8, 0, 0, 8, 8, classlib::clRed, classlib::clBlue, 0, out);
    classlib::TCanvas* c = b->GetCanvas();
    // Border pixels: colour 1 where (x + y) mod 8 < 4, colour 2 otherwise.
    EXPECT_EQ(c->GetPixel(2, 2), classlib::clBlue);  // 4
    EXPECT_EQ(c->GetPixel(2, 5), classlib::clBlue);  // 7
    EXPECT_EQ(c->GetPixel(5, 5), classlib::clRed);   // 10 mod 8 = 2
    EXPECT_EQ(c->GetPixel(3, 2), classlib::clBlue);  // 5
    EXPECT_EQ(c->GetPixel(5, 3), classlib::clRed);   // 8 mod 8 = 0
    // Interior and outside stay.
    EXPECT_EQ(c->GetPixel(3, 3), classlib::clWhite);
    EXPECT_EQ(c->GetPixel(4, 4), classlib::clWhite);
    EXPECT_EQ(c->GetPixel(1, 1), classlib::clWhite);
    EXPECT_EQ(c->GetPixel(6, 5), classlib::clWhite);
    EXPECT_EQ(out.left, 3);
    EXPECT_EQ(out.top, 3);
    EXPECT_EQ(out.right, 6);
    EXPECT_EQ(out.bottom, 6);

    // The phase shifts the dashes.
    auto p = WhiteBitmap(8, 8);
    m.DrawOutline(p->GetCanvas(), 0, 0, 8, 8, 0, 0, 8, 8, classlib::clRed, classlib::clBlue, 4, out);
    EXPECT_EQ(p->GetCanvas()->GetPixel(2, 2), classlib::clRed);  // 8 mod 8

    // A selection touching the edges of the shown area is closed there too.
    TPxMask f;
    f.AllocateBits(4, 4, 1);
    f.Fill(255);
    f.SyncBoundingBox();
    auto e = WhiteBitmap(4, 4);
    f.DrawOutline(e->GetCanvas(), 0, 0, 4, 4, 0, 0, 4, 4, classlib::clBlack, classlib::clBlack, 0, out);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(e->GetCanvas()->GetPixel(i, 0), classlib::clBlack) << i;
        EXPECT_EQ(e->GetCanvas()->GetPixel(0, i), classlib::clBlack) << i;
        EXPECT_EQ(e->GetCanvas()->GetPixel(3, i), classlib::clBlack) << i;
    }
    EXPECT_EQ(e->GetCanvas()->GetPixel(1, 1), classlib::clWhite);

    // Nothing for an empty selection.
    TPxMask none;
    none.AllocateBits(4, 4, 1);
    auto n = WhiteBitmap(4, 4);
    out = RECT{-7, -7, -7, -7};
    none.DrawOutline(n->GetCanvas(), 0, 0, 4, 4, 0, 0, 4, 4, classlib::clBlack, classlib::clBlack, 0, out);
    EXPECT_EQ(out.left, -7);
}
