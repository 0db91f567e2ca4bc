// Rendering into 24-bit images: every source format at zoom 1 (memory and
// file storage), alpha and transparency over a background, zoomed renders,
// clipping and caller tables, row repeat, display adjustments with blend
// operations, the resampled path, StretchRectTo, and file-held
// destinations.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Bitmap.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/PxConvert.h"
#include "imaging/proc/PxFastResample.h"
#include "imaging/proc/PxRender.h"
#include "imaging/proc/PxResample.h"
#include "support/ValueScope.h"

using namespace imaging;

namespace {

// New images go to a temporary file (File) or stay in memory while the
// scope lives.
class StoreScope : public testsupport::TValueScope<int64_t> {
public:
    explicit StoreScope(bool File) : TValueScope(PxMemoryThreshold, File ? 0 : (int64_t{1} << 40)) {}
};

std::unique_ptr<TPxBitmap> Make(int w, int h, TPxPixelFormat f, bool file = false)
{
    StoreScope scope(file);
    auto b = std::make_unique<TPxBitmap>();
    EXPECT_TRUE(b->Allocate(w, h, f));
    EXPECT_EQ(b->GetLocation(), file ? pxFile : pxMemory);
    return b;
}

TPxRGB Rgb(int r, int g, int b)
{
    return PxMakeRGB(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b));
}

void FillRgb(TPxBitmap& b, TPxRGB c)
{
    for (int y = 0; y < b.GetHeight(); ++y)
        for (int x = 0; x < b.GetWidth(); ++x)
            b.SetPixelRGB(x, y, c);
}

std::vector<TPxRGB> Snapshot(TPxBitmap& b)
{
    std::vector<TPxRGB> out;
    for (int y = 0; y < b.GetHeight(); ++y)
        for (int x = 0; x < b.GetWidth(); ++x)
            out.push_back(b.GetPixelRGB(x, y));
    return out;
}

std::unique_ptr<classlib::TBitmap> MakeVcl(int w, int h, TPxRGB fill)
{
    auto bmp = std::make_unique<classlib::TBitmap>();
    bmp->SetPixelFormat(classlib::pf24bit);
    bmp->SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            static_cast<TPxRGB*>(bmp->GetScanLine(y))[x] = fill;
    return bmp;
}

TPxRGB VclAt(classlib::TBitmap& b, int x, int y)
{
    return static_cast<TPxRGB*>(b.GetScanLine(y))[x];
}

std::string Str(TPxRGB c)
{
    return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

#define EXPECT_RGB(actual, expected) EXPECT_EQ(Str(actual), Str(expected))

// ---------------------------------------------------------------------------
// Every pixel format at zoom 1

// A 4 x 2 grey-family source: the eight values in row order and the grey
// each must render as.
struct GreyCase {
    const char* name;
    TPxPixelFormat format;
    double displayMin, displayMax;
    double in[8];
    int want[8];
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();

const GreyCase kGreyCases[] = {
    {"1 bit", px1g, 0, 0, {1, 0, 1, 1, 0, 1, 0, 0}, {255, 0, 255, 255, 0, 255, 0, 0}},
    {"8 bit grey", px8g, 0, 0, {0, 1, 77, 128, 200, 254, 255, 13}, {0, 1, 77, 128, 200, 254, 255, 13}},
    {"8 bit grey, range 50..150", px8g, 50, 150, {0, 50, 51, 100, 149, 150, 151, 255}, {0, 0, 2, 127, 252, 255, 255, 255}},
    {"16 bit, high byte", px16g, 0, 0, {0x0000, 0x00FF, 0x0100, 0x1234, 0x7FFF, 0x8000, 0xFF00, 0xFFFF},
     {0, 0, 1, 0x12, 0x7F, 0x80, 0xFF, 0xFF}},
    {"16 bit, range 0..4095", px16g, 0, 4095, {0, 17, 2048, 4094, 4095, 4096, 65535, 100},
     {0, 1, 127, 254, 255, 255, 255, 6}},
    {"float", px32f, 0, 0, {0, 0.5, 1, 1.5, -0.25, 0.1, 0.999, kNaN}, {0, 127, 255, 255, 0, 25, 254, 0}},
    {"float, range 0.25..0.75", px32f, 0.25, 0.75, {0, 0.25, 0.5, 0.75, 1, 0.3, 0.7, 0.6},
     {0, 0, 127, 255, 255, 25, 229, 178}},
};

void SetGrey(TPxBitmap& b, int x, int y, double v)
{
    switch (b.GetPixelFormat()) {
    case px1g:
        PxSetBit(b.GetScanline(y), x, v != 0);
        break;
    case px8g:
        b.SetPixelGray8(x, y, static_cast<uint8_t>(v));
        break;
    case px16g:
        b.SetPixelGray16(x, y, static_cast<uint16_t>(v));
        break;
    default:
        b.SetPixelFloat(x, y, static_cast<float>(v));
        break;
    }
}

// Renders Source (4 x 2) at (1, 1) of a 6 x 4 bitmap filled with a marker
// colour and checks the surround stayed untouched.
std::vector<TPxRGB> RenderFourByTwo(TPxBitmap& Source)
{
    const TPxRGB marker = Rgb(1, 2, 3);
    auto bmp = MakeVcl(6, 4, marker);
    RenderToVclBitmapSimple(Source, bmp.get(), 1, 1, 4, 2, 0, 0, 4, 2, 255, rfNone, 0);
    std::vector<TPxRGB> out;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            if (x >= 1 && x <= 4 && y >= 1 && y <= 2)
                out.push_back(VclAt(*bmp, x, y));
            else
                EXPECT_RGB(VclAt(*bmp, x, y), marker) << "outside at " << x << "," << y;
        }
    return out;
}

TPxRGB TestCMYKHook(const TPxCMYK& p)
{
    return Rgb(255 - p.k, p.m, p.c);
}

TEST(PxRender, GreyFormatsAtZoomOneInMemoryAndFile)
{
    for (bool file : {false, true}) {
        for (const GreyCase& c : kGreyCases) {
            SCOPED_TRACE(std::string(c.name) + (file ? " (file)" : " (memory)"));
            auto src = Make(4, 2, c.format, file);
            src->DisplayMin = c.displayMin;
            src->DisplayMax = c.displayMax;
            for (int i = 0; i < 8; ++i)
                SetGrey(*src, i % 4, i / 4, c.in[i]);
            const auto got = RenderFourByTwo(*src);
            ASSERT_EQ(got.size(), 8u);
            for (int i = 0; i < 8; ++i)
                EXPECT_RGB(got[static_cast<size_t>(i)], Rgb(c.want[i], c.want[i], c.want[i])) << "pixel " << i;
        }
    }
}

TEST(PxRender, ColourFormatsAtZoomOneInMemoryAndFile)
{
    const TPxRGB colours[8] = {Rgb(0, 0, 0),    Rgb(255, 255, 255), Rgb(10, 20, 30),   Rgb(200, 100, 0),
                               Rgb(1, 254, 128), Rgb(77, 0, 200),    Rgb(255, 128, 64), Rgb(9, 99, 199)};
    const auto saved = PxBitmapServices.CMYKToRGB;
    PxBitmapServices.CMYKToRGB = TestCMYKHook;
    for (bool file : {false, true}) {
        SCOPED_TRACE(file ? "file" : "memory");
        // px24RGB and px32RGB: the pixel, the fourth byte ignored.
        for (TPxPixelFormat f : {px24RGB, px32RGB}) {
            auto src = Make(4, 2, f, file);
            for (int i = 0; i < 8; ++i) {
                uint8_t* p = src->GetScanline(i / 4) + (i % 4) * (f == px24RGB ? 3 : 4);
                p[0] = colours[i].b;
                p[1] = colours[i].g;
                p[2] = colours[i].r;
                if (f == px32RGB)
                    p[3] = static_cast<uint8_t>(17 * i);
            }
            const auto got = RenderFourByTwo(*src);
            for (int i = 0; i < 8; ++i)
                EXPECT_RGB(got[static_cast<size_t>(i)], colours[i]) << "format " << f << " pixel " << i;
        }
        // pxRGB48: the high byte of each word.
        {
            auto src = Make(4, 2, pxRGB48, file);
            for (int i = 0; i < 8; ++i)
                src->SetPixelRGB48(i % 4, i / 4,
                                   TPxRGB48{static_cast<uint16_t>(colours[i].r * 256 + 255),
                                            static_cast<uint16_t>(colours[i].g * 256 + 128),
                                            static_cast<uint16_t>(colours[i].b * 256)});
            const auto got = RenderFourByTwo(*src);
            for (int i = 0; i < 8; ++i)
                EXPECT_RGB(got[static_cast<size_t>(i)], colours[i]) << "RGB48 pixel " << i;
        }
        // px8p: the palette entry.
        {
            auto src = Make(4, 2, px8p, file);
            for (int i = 0; i < 8; ++i)
                src->SetPaletteEntry(i * 3, colours[i]);
            for (int i = 0; i < 8; ++i)
                src->SetPixelGray8(i % 4, i / 4, static_cast<uint8_t>((7 - i) * 3));
            const auto got = RenderFourByTwo(*src);
            for (int i = 0; i < 8; ++i)
                EXPECT_RGB(got[static_cast<size_t>(i)], colours[7 - i]) << "palette pixel " << i;
        }
        // pxCMYK: through the CMYK service of the toolkit (a test hook here).
        {
            auto src = Make(4, 2, pxCMYK, file);
            for (int i = 0; i < 8; ++i)
                src->SetPixelCMYK(i % 4, i / 4,
                                  TPxCMYK{colours[i].b, colours[i].g, 42, static_cast<uint8_t>(255 - colours[i].r)});
            const auto got = RenderFourByTwo(*src);
            for (int i = 0; i < 8; ++i)
                EXPECT_RGB(got[static_cast<size_t>(i)], colours[i]) << "CMYK pixel " << i;
        }
        // pxCIELab: the colour-space conversion of one pixel.
        {
            const TPxCIELab lab[8] = {{0, 0, 0},     {255, 0, 0},   {128, 40, -30}, {60, -50, 20},
                                      {200, 10, 90}, {30, 60, -90}, {170, -5, 5},   {90, 0, 0}};
            auto src = Make(4, 2, pxCIELab, file);
            for (int i = 0; i < 8; ++i)
                std::memcpy(src->GetScanline(i / 4) + (i % 4) * 3, &lab[i], 3);
            const auto got = RenderFourByTwo(*src);
            for (int i = 0; i < 8; ++i)
                EXPECT_RGB(got[static_cast<size_t>(i)], PxCIELabToRGBPixel(lab[i])) << "Lab pixel " << i;
        }
    }
    PxBitmapServices.CMYKToRGB = saved;
}

// ---------------------------------------------------------------------------
// Alpha and transparency

TEST(PxRender, AlphaAndTransparencyOverBackground)
{
    const TPxRGB bg = Rgb(20, 40, 200);
    auto src = Make(4, 1, px24RGB);
    const TPxRGB pixels[4] = {Rgb(255, 255, 255), Rgb(10, 200, 30), Rgb(255, 255, 255), Rgb(0, 0, 0)};
    for (int x = 0; x < 4; ++x)
        src->SetPixelRGB(x, 0, pixels[x]);
    TPxBitmap* alpha = src->GetAlphaChannel();
    const uint8_t alphas[4] = {0, 128, 255, 64};
    for (int x = 0; x < 4; ++x)
        src->SetAlpha(x, 0, alphas[x]);
    ASSERT_FALSE(alpha->FullAlpha);

    struct Case {
        const char* name;
        int transparency;
        bool enableAlpha;
        bool fullAlpha;
        TPxRGB want[4];
    };
    const Case cases[] = {
        // d + (a * (s - d)) shr 8 with a = alpha, the shift of negative
        // products rounding down; an opaque 255 gives the source exactly.
        {"alpha", 255, true, false, {bg, Rgb(15, 120, 115), Rgb(255, 255, 255), Rgb(15, 30, 150)}},
        // a = min(transparency, alpha).
        {"alpha and transparency 128", 128, true, false, {bg, Rgb(15, 120, 115), Rgb(137, 147, 227), Rgb(15, 30, 150)}},
        // A full-alpha channel is ignored: the plain kernel copies.
        {"full alpha flag", 255, true, true, {pixels[0], pixels[1], pixels[2], pixels[3]}},
        {"alpha disabled", 255, false, false, {pixels[0], pixels[1], pixels[2], pixels[3]}},
        // Transparency alone: a = 128 everywhere.
        {"transparency 128 only", 128, false, false,
         {Rgb(137, 147, 227), Rgb(15, 120, 115), Rgb(137, 147, 227), Rgb(10, 20, 100)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        alpha->FullAlpha = c.fullAlpha;
        auto dst = Make(4, 1, px24RGB);
        FillRgb(*dst, bg);
        RenderToBitmap(*src, dst.get(), nullptr, nullptr, nullptr, nullptr, 0, 0, 4, 1, 0, 0, 4, 1, c.enableAlpha,
                       false, c.transparency, rfNone, true, 0);
        for (int x = 0; x < 4; ++x)
            EXPECT_RGB(dst->GetPixelRGB(x, 0), c.want[x]) << "pixel " << x;
    }

    // Transparency 128 of white over black gives (128 * 255) shr 8 = 127.
    auto white = Make(3, 2, px24RGB);
    FillRgb(*white, Rgb(255, 255, 255));
    auto black = Make(3, 2, px24RGB);
    FillRgb(*black, Rgb(0, 0, 0));
    RenderToBitmapSimple(*white, black.get(), 0, 0, 3, 2, 0, 0, 3, 2, 128, rfNone, 0);
    for (const TPxRGB& p : Snapshot(*black))
        EXPECT_RGB(p, Rgb(127, 127, 127));
}

// ---------------------------------------------------------------------------
// Zoom, clipping and tables

// Source pixel (x, y) of the 4 x 4 zoom source: red 10 + x, green 20 + y.
std::unique_ptr<TPxBitmap> ZoomSource(TPxPixelFormat f = px24RGB)
{
    auto src = Make(4, 4, f);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            src->SetPixelRGB(x, y, Rgb(10 + x, 20 + y, 0));
    return src;
}

TEST(PxRender, ZoomedRenders)
{
    struct Case {
        const char* name;
        int xDst, yDst, dxDst, dyDst, xSrc, ySrc, dxSrc, dySrc;
        std::vector<int> cols, rows;  // source column / row of each drawn destination column / row
    };
    const Case cases[] = {
        {"2x", 0, 0, 8, 8, 0, 0, 4, 4, {0, 0, 1, 1, 2, 2, 3, 3}, {0, 0, 1, 1, 2, 2, 3, 3}},
        {"0.5x", 3, 2, 2, 2, 0, 0, 4, 4, {0, 2}, {0, 2}},
        // Scale 2/3: Trunc(i * 2/3 + 1).
        {"1.5x with offsets", 1, 2, 3, 3, 1, 1, 2, 2, {1, 1, 2}, {1, 1, 2}},
        // A rectangle reaching past the source repeats the source's edge.
        {"past the source", 0, 0, 6, 2, 2, 2, 3, 3, {2, 2, 3, 3, 3, 3}, {2, 3}},
    };
    const TPxRGB bg = Rgb(5, 5, 5);
    for (const Case& c : cases) {
        for (int transparency : {255, 254}) {  // plain and alpha kernel
            SCOPED_TRACE(std::string(c.name) + " transparency " + std::to_string(transparency));
            auto src = ZoomSource();
            auto dst = Make(8, 8, px24RGB);
            FillRgb(*dst, bg);
            RenderToBitmapSimple(*src, dst.get(), c.xDst, c.yDst, c.dxDst, c.dyDst, c.xSrc, c.ySrc, c.dxSrc, c.dySrc,
                                 transparency, rfNone, 0);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) {
                    const int i = x - c.xDst, j = y - c.yDst;
                    TPxRGB want = bg;
                    if (i >= 0 && j >= 0 && i < static_cast<int>(c.cols.size()) && j < static_cast<int>(c.rows.size())) {
                        const int r = 10 + c.cols[static_cast<size_t>(i)], g = 20 + c.rows[static_cast<size_t>(j)];
                        // Transparency 254 over bg: d + (254 * (s - d)) shr 8.
                        want = transparency == 255
                                   ? Rgb(r, g, 0)
                                   : Rgb(5 + ((254 * (r - 5)) >> 8), 5 + ((254 * (g - 5)) >> 8), 5 + ((254 * -5) >> 8));
                    }
                    EXPECT_RGB(dst->GetPixelRGB(x, y), want) << "at " << x << "," << y;
                }
        }
    }
}

TEST(PxRender, ViewportAndClipping)
{
    // Source 100 x 4 with red = column, green = row; destination 50 x 4.
    auto src = Make(100, 4, px24RGB);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 100; ++x)
            src->SetPixelRGB(x, y, Rgb(x, 100 + y, 7));
    const TPxRGB bg = Rgb(255, 0, 255);
    struct Case {
        const char* name;
        int xDst, yDst, dxDst, dyDst, xSrc, ySrc, dxSrc, dySrc;
        bool clip;
        TPxRenderClip clipRect;
        int x1, x2, y1, y2;  // drawn range, x1 > x2 for nothing
        int colAtX1;         // source column drawn at x1 (1:1 horizontally)
        std::vector<int> rows;  // source row of each drawn row
    };
    const Case cases[] = {
        {"xDst -10 at 1:1", -10, 0, 100, 4, 0, 0, 100, 4, false, {}, 0, 49, 0, 3, 10, {0, 1, 2, 3}},
        {"dxSrc 0", 0, 0, 50, 4, 0, 0, 0, 4, false, {}, 1, 0, 0, 0, 0, {}},
        {"dyDst 0", 0, 0, 50, 0, 0, 0, 50, 4, false, {}, 1, 0, 0, 0, 0, {}},
        {"yDst beyond the last row", 0, 4, 50, 4, 0, 0, 50, 4, false, {}, 1, 0, 0, 0, 0, {}},
        {"xDst beyond the last column", 50, 0, 50, 4, 0, 0, 50, 4, false, {}, 1, 0, 0, 0, 0, {}},
        {"clip rectangle, edges included", 0, 0, 50, 4, 20, 0, 50, 4, true, {5, 1, 9, 2}, 5, 9, 1, 2, 25, {1, 2}},
        {"clip rectangle outside", 0, 0, 50, 4, 0, 0, 50, 4, true, {60, 0, 70, 3}, 1, 0, 0, 0, 0, {}},
        // yDst -3 with zoom 2 vertically: 3 destination rows cut, the source
        // start moves by Round(1.5) = 2 rows; entries Trunc(y * 0.5 + 2).
        {"negative yDst while zoomed", 0, -3, 50, 8, 0, 0, 50, 4, false, {}, 0, 49, 0, 3, 0, {2, 2, 3, 3}},
    };
    for (const Case& c : cases) {
        for (int transparency : {255, 254}) {
            SCOPED_TRACE(std::string(c.name) + " transparency " + std::to_string(transparency));
            auto dst = Make(50, 4, px24RGB);
            FillRgb(*dst, bg);
            RenderToBitmap(*src, dst.get(), nullptr, nullptr, nullptr, c.clip ? &c.clipRect : nullptr, c.xDst, c.yDst,
                           c.dxDst, c.dyDst, c.xSrc, c.ySrc, c.dxSrc, c.dySrc, false, false, transparency, rfNone,
                           true, 0);
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 50; ++x) {
                    TPxRGB want = bg;
                    if (x >= c.x1 && x <= c.x2 && y >= c.y1 && y <= c.y2) {
                        const TPxRGB s = Rgb(c.colAtX1 + x - c.x1, 100 + c.rows[static_cast<size_t>(y - c.y1)], 7);
                        want = transparency == 255 ? s
                                                   : Rgb(255 + ((254 * (s.r - 255)) >> 8), (254 * s.g) >> 8,
                                                         255 + ((254 * (7 - 255)) >> 8));
                    }
                    EXPECT_RGB(dst->GetPixelRGB(x, y), want) << "at " << x << "," << y;
                }
        }
    }

    // Destinations that are not 24-bit are left alone.
    auto grey = Make(50, 4, px8g);
    grey->Fill(9);
    RenderToBitmapSimple(*src, grey.get(), 0, 0, 50, 4, 0, 0, 50, 4, 255, rfNone, 0);
    EXPECT_EQ(grey->GetPixelGray8(10, 1), 9);
    auto bmp32 = std::make_unique<classlib::TBitmap>();
    bmp32->SetPixelFormat(classlib::pf32bit);
    bmp32->SetSize(50, 4);
    std::memset(bmp32->GetScanLine(1), 9, 200);
    RenderToVclBitmapSimple(*src, bmp32.get(), 0, 0, 50, 4, 0, 0, 50, 4, 255, rfNone, 0);
    EXPECT_EQ(static_cast<uint8_t*>(bmp32->GetScanLine(1))[40], 9);
}

TEST(PxRender, CallerTablesAndHandBack)
{
    auto src = Make(100, 4, px24RGB);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 100; ++x)
            src->SetPixelRGB(x, y, Rgb(x, 100 + y, 7));
    const TPxRGB bg = Rgb(255, 0, 255);

    // Tables built inside are handed back with FreeTables false, one entry
    // per destination column (row), and discarded with FreeTables true.
    {
        auto dst = Make(50, 4, px24RGB);
        TPxRowTable rows;
        TPxIndexTable xt, yt;
        RenderToBitmap(*src, dst.get(), &rows, &xt, &yt, nullptr, 0, 0, 25, 4, 10, 0, 50, 4, false, false, 255,
                       rfNone, false, 0);
        ASSERT_EQ(xt.size(), 50u);
        ASSERT_EQ(yt.size(), 4u);
        ASSERT_EQ(rows.size(), 4u);
        EXPECT_EQ(rows[2], dst->GetScanline(2));
        for (int x = 0; x < 25; ++x)
            EXPECT_EQ(xt[static_cast<size_t>(x)], 10 + 2 * x) << x;
        TPxIndexTable xt2, yt2;
        RenderToBitmap(*src, dst.get(), nullptr, &xt2, &yt2, nullptr, 0, 0, 25, 4, 10, 0, 50, 4, false, false, 255,
                       rfNone, true, 0);
        EXPECT_TRUE(xt2.empty());
        EXPECT_TRUE(yt2.empty());
    }

    // Caller tables: trailing entries outside the source are dropped; any
    // other entry outside the source draws nothing.
    struct Case {
        const char* name;
        TPxIndexTable xt;
        int drawnCols;
    };
    const Case cases[] = {
        {"trailing entries outside dropped", {5, 6, 7, 8, 9, 10, 11, 12, 500, -1}, 8},
        {"short table", {40, 41, 42}, 3},
        {"entry outside in the middle", {5, 500, 7, 8}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto dst = Make(50, 4, px24RGB);
        FillRgb(*dst, bg);
        TPxIndexTable xt = c.xt;
        TPxIndexTable yt = {3, 2, 1, 0};
        RenderToBitmap(*src, dst.get(), nullptr, &xt, &yt, nullptr, 0, 0, 10, 4, 0, 0, 20, 4, false, false, 255,
                       rfNone, false, 0);
        EXPECT_EQ(xt, c.xt);  // caller tables are not replaced
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 50; ++x) {
                const TPxRGB want = x < c.drawnCols ? Rgb(c.xt[static_cast<size_t>(x)], 103 - y, 7) : bg;
                EXPECT_RGB(dst->GetPixelRGB(x, y), want) << "at " << x << "," << y;
            }
    }
}

TEST(PxRender, RowRepeatCopiesOnlyTheDrawnSpan)
{
    // Destination rows differ outside the clip, so copying whole rows would
    // show; blending with the destination must not be repeated either.
    for (TPxPixelFormat f : {px24RGB, px32RGB, px1g}) {
        for (int op : {0, 2}) {
            SCOPED_TRACE("format " + std::to_string(f) + " operation " + std::to_string(op));
            auto src = Make(3, 2, f);
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 3; ++x) {
                    if (f == px1g)
                        PxSetBit(src->GetScanline(y), x, (x + y) % 2 != 0);
                    else if (f == px24RGB)
                        src->SetPixelRGB(x, y, Rgb(40 * x + 1, 90 * y + 2, 60));
                    else {
                        const TPxRGB c = Rgb(40 * x + 1, 90 * y + 2, 60);
                        std::memcpy(src->GetScanline(y) + 4 * x, &c, 3);
                    }
                }
            std::vector<TPxRGB> results[2];
            for (bool repeat : {false, true}) {
                auto dst = Make(8, 8, px24RGB);
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x)
                        dst->SetPixelRGB(x, y, Rgb(y * 30, x * 30, 99));
                const TPxRenderClip clip{2, 0, 5, 7};
                RenderToBitmap(*src, dst.get(), nullptr, nullptr, nullptr, &clip, 0, 0, 6, 8, 0, 0, 3, 2, false,
                               repeat, 255, rfNone, true, op);
                results[repeat ? 1 : 0] = Snapshot(*dst);
                for (int y = 0; y < 8; ++y)
                    EXPECT_RGB(dst->GetPixelRGB(6, y), Rgb(y * 30, 180, 99));
            }
            ASSERT_EQ(results[0].size(), results[1].size());
            for (size_t i = 0; i < results[0].size(); ++i)
                EXPECT_RGB(results[1][i], results[0][i]) << "pixel " << i;
        }
    }
}

// ---------------------------------------------------------------------------
// Display adjustments and blend operations

TEST(PxRender, AdjustmentsAndBlendOperations)
{
    struct Case {
        const char* name;
        int32_t contrast;
        uint8_t adjust;
        int32_t red, green, blue;
        TPxRGB want;
    };
    // Source (100, 200, 99). Contrast 10: k = 131072; contrast -25:
    // k = Trunc((1 - sqrt(25) / 10) * 65536) = 32768; k * (c - 128) div 65536
    // truncates toward zero (-14.5 gives -14).
    const Case cases[] = {
        {"contrast 10", 10, 0, 0, 0, 0, Rgb(72, 255, 70)},
        {"contrast -25", -25, 0, 0, 0, 0, Rgb(114, 164, 114)},
        {"offsets", 0, 1, 10, 60, -100, Rgb(110, 255, 0)},
        {"offsets without the adjust flag", 0, 0, 10, 60, -100, Rgb(100, 200, 99)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto src = Make(2, 1, px24RGB);
        FillRgb(*src, Rgb(100, 200, 99));
        src->Contrast = c.contrast;
        src->Adjust = c.adjust;
        src->RedOffset = c.red;
        src->GreenOffset = c.green;
        src->BlueOffset = c.blue;
        auto dst = Make(2, 1, px24RGB);
        FillRgb(*dst, Rgb(0, 0, 0));
        RenderToBitmapSimple(*src, dst.get(), 0, 0, 2, 1, 0, 0, 2, 1, 255, rfNone, 0);
        EXPECT_RGB(dst->GetPixelRGB(0, 0), c.want);
        EXPECT_RGB(dst->GetPixelRGB(1, 0), c.want);
    }

    // 16-bit channels: Trunc((c - 32768) * k / 65536 + 32768) shr 8, clamped;
    // below zero stays black.
    {
        auto src = Make(1, 1, pxRGB48);
        src->SetPixelRGB48(0, 0, TPxRGB48{0x2000, 0x9000, 0xF000});
        auto dst = Make(1, 1, px24RGB);
        RenderToBitmapSimple(*src, dst.get(), 0, 0, 1, 1, 0, 0, 1, 1, 255, rfNone, 0);
        EXPECT_RGB(dst->GetPixelRGB(0, 0), Rgb(0x20, 0x90, 0xF0));
        src->Contrast = 10;
        RenderToBitmapSimple(*src, dst.get(), 0, 0, 1, 1, 0, 0, 1, 1, 255, rfNone, 0);
        EXPECT_RGB(dst->GetPixelRGB(0, 0), Rgb(0, 160, 255));
    }

    // Blend operation 2 of (10, 200, 30) over (50, 50, 50): (40, 150, 20);
    // with transparency 127 laid over the destination: d + (127 * (b - d)) shr 8.
    // Operation 31 takes only the red channel. px32RGB and pxRGB48 sources
    // blend the same way.
    struct BlendCase {
        TPxPixelFormat format;
        int op, transparency;
        TPxRGB want;
    };
    const BlendCase blends[] = {
        {px24RGB, 2, 255, Rgb(40, 150, 20)}, {px24RGB, 2, 127, Rgb(45, 99, 35)},
        {px32RGB, 2, 255, Rgb(40, 150, 20)}, {px24RGB, 31, 255, Rgb(10, 50, 50)},
        {px32RGB, 31, 127, Rgb(30, 50, 50)}, {pxRGB48, 2, 255, Rgb(40, 150, 20)},
    };
    for (const BlendCase& b : blends) {
        SCOPED_TRACE("format " + std::to_string(b.format) + " operation " + std::to_string(b.op) +
                     " transparency " + std::to_string(b.transparency));
        for (bool zoomed : {false, true}) {
            auto src = Make(1, 1, b.format);
            if (b.format == px24RGB)
                src->SetPixelRGB(0, 0, Rgb(10, 200, 30));
            else if (b.format == px32RGB) {
                const TPxRGB c = Rgb(10, 200, 30);
                std::memcpy(src->GetScanline(0), &c, 3);
            }
            else
                src->SetPixelRGB48(0, 0, TPxRGB48{10 * 256 + 200, 200 * 256 + 1, 30 * 256 + 99});
            auto dst = Make(2, 2, px24RGB);
            FillRgb(*dst, Rgb(50, 50, 50));
            RenderToBitmapSimple(*src, dst.get(), 0, 0, zoomed ? 2 : 1, zoomed ? 2 : 1, 0, 0, 1, 1, b.transparency,
                                 rfNone, b.op);
            EXPECT_RGB(dst->GetPixelRGB(0, 0), b.want) << (zoomed ? "zoomed" : "1:1");
            EXPECT_RGB(dst->GetPixelRGB(1, 1), zoomed ? b.want : Rgb(50, 50, 50));
        }
    }
}

// ---------------------------------------------------------------------------
// The resampled path

TEST(PxRender, FilteredRenderDrawsTheResampledRectangle)
{
    // px24RGB with alpha: the rectangle (1, 0, 4 x 3) resampled to 10 x 6 by
    // the filter (pixels and alpha), then laid over the background at (1, 1).
    auto src = Make(5, 3, px24RGB);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            src->SetPixelRGB(x, y, Rgb(x * 50, y * 100, 255 - x * 40));
            src->SetAlpha(x, y, static_cast<uint8_t>(255 - (x * 3 + y) * 15));
        }
    for (TResampleFilter filter : {rfFastLinear, rfTriangle}) {
        SCOPED_TRACE("filter " + std::to_string(filter));
        auto part = Make(4, 3, px24RGB);
        auto partAlpha = Make(4, 3, px8g);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                part->SetPixelRGB(x, y, src->GetPixelRGB(x + 1, y));
                partAlpha->SetPixelGray8(x, y, src->GetAlpha(x + 1, y));
            }
        auto scaled = Make(10, 6, px24RGB);
        auto scaledAlpha = Make(10, 6, px8g);
        PxResampleFiltered(part.get(), scaled.get(), filter);
        PxResampleGray8(partAlpha.get(), scaledAlpha.get(), filter);

        const TPxRGB bg = Rgb(30, 60, 90);
        auto dst = Make(12, 8, px24RGB);
        FillRgb(*dst, bg);
        RenderToBitmapSimple(*src, dst.get(), 1, 1, 10, 6, 1, 0, 4, 3, 255, filter, 0);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 12; ++x) {
                TPxRGB want = bg;
                if (x >= 1 && x <= 10 && y >= 1 && y <= 6) {
                    const TPxRGB s = scaled->GetPixelRGB(x - 1, y - 1);
                    const int a = scaledAlpha->GetPixelGray8(x - 1, y - 1);
                    want = Rgb(bg.r + ((a * (s.r - bg.r)) >> 8), bg.g + ((a * (s.g - bg.g)) >> 8),
                               bg.b + ((a * (s.b - bg.b)) >> 8));
                }
                EXPECT_RGB(dst->GetPixelRGB(x, y), want) << "at " << x << "," << y;
            }
    }

    // A px1g source reduced without alpha: the averaging bilevel reduction.
    auto bits = Make(8, 4, px1g);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            PxSetBit(bits->GetScanline(y), x, (x * 7 + y * 3) % 5 < 2);
    auto reduced = Make(4, 2, px24RGB);
    PxResampleBilevelTo24(bits.get(), 0, 0, 7, 3, reduced.get());
    auto dst = Make(4, 2, px24RGB);
    FillRgb(*dst, Rgb(1, 2, 3));
    RenderToBitmapSimple(*bits, dst.get(), 0, 0, 4, 2, 0, 0, 8, 4, 255, rfTriangle, 0);
    EXPECT_EQ(Snapshot(*dst), Snapshot(*reduced));
}

// ---------------------------------------------------------------------------
// StretchRectTo

TEST(PxStretchRectTo, PixelsAndAlpha)
{
    const TPxRGB bg = Rgb(9, 9, 9);
    struct Case {
        const char* name;
        TPxPixelFormat format;
        bool sourceAlpha;
        int xDst, yDst, dxDst, dyDst, dxSrc, dySrc, transparency;
        bool drawsPixels;
    };
    const Case cases[] = {
        {"1:1 24-bit", px24RGB, false, 1, 1, 4, 2, 4, 2, 200, true},
        {"2x 1-bit", px1g, false, 0, 0, 6, 4, 3, 2, 255, true},
        {"2x 24-bit with alpha", px24RGB, true, 0, 1, 8, 2, 4, 1, 200, true},
        {"1:1 24-bit with alpha, cut at the right", px24RGB, true, 3, 0, 4, 2, 4, 2, 255, true},
        {"8-bit grey draws no pixels", px8g, false, 0, 0, 4, 2, 4, 2, 100, false},
        {"nothing to draw", px24RGB, false, 0, 0, 0, 2, 4, 2, 100, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto src = Make(4, 2, c.format);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 4; ++x) {
                if (c.format == px1g)
                    PxSetBit(src->GetScanline(y), x, (x + y) % 3 == 0);
                else if (c.format == px24RGB)
                    src->SetPixelRGB(x, y, Rgb(10 + x, 20 + y, 30));
                else
                    src->SetPixelGray8(x, y, 77);
                if (c.sourceAlpha)
                    src->SetAlpha(x, y, static_cast<uint8_t>(100 + 40 * x + y));
            }
        auto dst = Make(6, 4, px24RGB);
        FillRgb(*dst, bg);
        ASSERT_FALSE(dst->HasAlphaChannel());
        StretchRectTo(*src, dst.get(), c.xDst, c.yDst, c.dxDst, c.dyDst, 0, 0, c.dxSrc, c.dySrc, rfNone,
                      c.transparency);
        ASSERT_TRUE(dst->HasAlphaChannel());
        // Tables: column x -> (x - xDst) * xStep shr 14, xStep = Trunc(dxSrc / dxDst * 16384).
        const int xStep = c.dxDst ? static_cast<int>(c.dxSrc * 16384.0 / c.dxDst) : 0;
        const int yStep = c.dyDst ? static_cast<int>(c.dySrc * 16384.0 / c.dyDst) : 0;
        bool anyBelow = false;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x) {
                const bool inside = x >= c.xDst && x < c.xDst + c.dxDst && y >= c.yDst && y < c.yDst + c.dyDst;
                const int sx = ((x - c.xDst) * xStep) >> 14, sy = ((y - c.yDst) * yStep) >> 14;
                TPxRGB want = bg;
                int wantAlpha = 255;
                if (inside) {
                    if (c.drawsPixels)
                        want = c.format == px1g ? ((sx + sy) % 3 == 0 ? Rgb(255, 255, 255) : Rgb(0, 0, 0))
                                                : Rgb(10 + sx, 20 + sy, 30);
                    wantAlpha = c.sourceAlpha ? std::min(100 + 40 * sx + sy, c.transparency) : c.transparency;
                }
                anyBelow = anyBelow || wantAlpha < 255;
                EXPECT_RGB(dst->GetPixelRGB(x, y), want) << "at " << x << "," << y;
                EXPECT_EQ(dst->GetAlphaChannel()->GetPixelGray8(x, y), wantAlpha) << "alpha at " << x << "," << y;
            }
        EXPECT_EQ(dst->GetAlphaChannel()->FullAlpha, !anyBelow);
    }
}

TEST(PxStretchRectTo, FilteredCopyIsTheResampledRectangle)
{
    auto src = Make(5, 4, px24RGB);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            src->SetPixelRGB(x, y, Rgb(x * 60, y * 80, (x * y * 30) % 256));
    auto part = Make(3, 4, px24RGB);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x)
            part->SetPixelRGB(x, y, src->GetPixelRGB(x + 2, y));
    auto scaled = Make(7, 3, px24RGB);
    PxResampleFiltered(part.get(), scaled.get(), rfFastLinear);
    auto dst = Make(9, 5, px24RGB);
    FillRgb(*dst, Rgb(1, 1, 1));
    StretchRectTo(*src, dst.get(), 1, 2, 7, 3, 2, 0, 3, 4, rfFastLinear, 180);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x) {
            const bool inside = x >= 1 && x <= 7 && y >= 2;
            EXPECT_RGB(dst->GetPixelRGB(x, y), inside ? scaled->GetPixelRGB(x - 1, y - 2) : Rgb(1, 1, 1))
                << "at " << x << "," << y;
            EXPECT_EQ(dst->GetAlphaChannel()->GetPixelGray8(x, y), inside ? 180 : 255);
        }
}

// ---------------------------------------------------------------------------
// File-held destinations

TEST(PxRender, FileHeldDestinationMatchesMemory)
{
    std::vector<TPxRGB> results[2];
    std::vector<uint8_t> alphas[2];
    for (bool file : {false, true}) {
        SCOPED_TRACE(file ? "file" : "memory");
        auto src = Make(5, 4, px24RGB, file);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x) {
                src->SetPixelRGB(x, y, Rgb(x * 50, y * 60, 200 - x * y * 10));
                src->SetAlpha(x, y, static_cast<uint8_t>(80 + x * 30 + y * 5));
            }
        auto dst = Make(12, 10, px24RGB, file);
        ASSERT_EQ(dst->GetLocation(), file ? pxFile : pxMemory);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 12; ++x)
                dst->SetPixelRGB(x, y, Rgb(y * 20, x * 20, 60));
        const TPxRenderClip clip{1, 1, 10, 8};
        // Zoomed with alpha; zoomed plain with row repeat; a blend at 1:1;
        // then a stretched copy with its alpha.
        RenderToBitmap(*src, dst.get(), nullptr, nullptr, nullptr, &clip, -1, 0, 10, 8, 0, 0, 5, 4, true, false, 230,
                       rfNone, true, 0);
        RenderToBitmap(*src, dst.get(), nullptr, nullptr, nullptr, nullptr, 2, 2, 10, 8, 1, 1, 3, 2, false, true, 255,
                       rfNone, true, 0);
        RenderToBitmapSimple(*src, dst.get(), 6, 5, 5, 4, 0, 0, 5, 4, 255, rfNone, 11);
        StretchRectTo(*src, dst.get(), 7, 0, 4, 8, 1, 0, 2, 4, rfNone, 128);
        results[file ? 1 : 0] = Snapshot(*dst);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 12; ++x)
                alphas[file ? 1 : 0].push_back(dst->GetAlphaChannel()->GetPixelGray8(x, y));
    }
    ASSERT_EQ(results[0].size(), results[1].size());
    for (size_t i = 0; i < results[0].size(); ++i)
        EXPECT_RGB(results[1][i], results[0][i]) << "pixel " << i;
    EXPECT_EQ(alphas[1], alphas[0]);
}

}  // namespace
