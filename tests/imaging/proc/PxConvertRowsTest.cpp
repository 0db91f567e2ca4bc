// Colour reduction routines: ordered and threshold bilevel reduction, the
// two-colour test, nearest palette entry, mean colour, grey and negative of a
// rectangle, the 3 x 3 filter, quantizing in place and the class-library
// bitmap copies.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "classlib/Bitmap.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxDefs.h"
#include "imaging/proc/PxConvert.h"
#include "imaging/proc/PxConvertRows.h"

using namespace imaging;

namespace {

class PxConvertRows : public ::testing::Test {
protected:
    void SetUp() override
    {
        PxDefsInit();
        savedThreshold_ = PxMemoryThreshold;
    }
    void TearDown() override { PxMemoryThreshold = savedThreshold_; }

    static int CountBits(TPxBitmap& b)
    {
        int n = 0;
        for (int y = 0; y < b.GetHeight(); ++y)
            for (int x = 0; x < b.GetWidth(); ++x)
                n += (b.GetScanline(y)[x / 8] >> (7 - x % 8)) & 1;
        return n;
    }
    static std::unique_ptr<TPxBitmap> Solid(int w, int h, TPxRGB c)
    {
        auto b = std::make_unique<TPxBitmap>(w, h, px24RGB);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                b->SetPixelRGB(x, y, c);
        return b;
    }

    int64_t savedThreshold_ = -1;
};

// Records progress values.
struct TProgressLog : classlib::TObject {
    std::vector<int> values;
    void OnProgress(classlib::TObject*, int per) { values.push_back(per); }
};

TEST_F(PxConvertRows, OrderedDitherLevels)
{
    const struct {
        uint8_t v;
        int whiteOf64;
    } cases[] = {{255, 64}, {251, 64}, {250, 62}, {128, 32}, {3, 0}, {4, 1}, {0, 0}};
    for (bool file : {false, true}) {
        PxMemoryThreshold = file ? 1 : -1;
        for (const auto& c : cases) {
            SCOPED_TRACE(int(c.v));
            auto b = Solid(8, 8, TPxRGB{c.v, c.v, c.v});
            b->SetAlpha(3, 3, 10);
            TPxProgressRec progress;
            TProgressLog log;
            progress.OnProgress = TPxProgressEvent(&log, &TProgressLog::OnProgress);
            PxConvertToBWOrdered(b.get(), &progress);
            ASSERT_EQ(b->GetPixelFormat(), px1g);
            EXPECT_EQ(b->GetLocation(), file ? pxFile : pxMemory);
            EXPECT_EQ(CountBits(*b), c.whiteOf64);
            EXPECT_EQ(b->GetAlpha(3, 3), 10);
            ASSERT_EQ(log.values.size(), 8u);
            EXPECT_EQ(log.values.front(), 11);  // Trunc(100 / 8.5)
            EXPECT_EQ(log.values.back(), 94);
        }
    }
    // The pattern itself: level 1 lights only the cell holding 0.
    auto b = Solid(8, 8, TPxRGB{4, 4, 4});
    PxConvertToBWOrdered(b.get(), nullptr);
    EXPECT_EQ(b->GetScanline(0)[0], 0x80);
    // An image held in a system bitmap stays there.
    auto v = Solid(9, 2, TPxRGB{255, 255, 255});
    v->SetLocation(pxTBitmap);
    PxConvertToBWThreshold(v.get(), -1, nullptr);
    EXPECT_EQ(v->GetLocation(), pxTBitmap);
    EXPECT_EQ(v->GetPixelFormat(), px1g);
    EXPECT_EQ(CountBits(*v), 18);
    // Other formats are left alone.
    TPxBitmap grey(4, 4, px8g);
    PxConvertToBWOrdered(&grey, nullptr);
    EXPECT_EQ(grey.GetPixelFormat(), px8g);
}

TEST_F(PxConvertRows, ThresholdReduction)
{
    // All pixels equal: the mean grey is every pixel's grey, so all white.
    auto b = Solid(5, 3, TPxRGB{10, 200, 30});
    PxConvertToBWThreshold(b.get(), -1, nullptr);
    ASSERT_EQ(b->GetPixelFormat(), px1g);
    EXPECT_EQ(CountBits(*b), 15);

    auto c = Solid(5, 3, TPxRGB{255, 255, 255});
    c->SetPixelRGB(1, 1, TPxRGB{0, 0, 0});
    PxConvertToBWThreshold(c.get(), 256, nullptr);
    EXPECT_EQ(CountBits(*c), 0);
    auto d = Solid(5, 3, TPxRGB{0, 0, 0});
    PxConvertToBWThreshold(d.get(), 0, nullptr);
    EXPECT_EQ(CountBits(*d), 15);

    // A px8p source through its palette; a px1g source is copied.
    TPxBitmap p(3, 1, px8p);
    p.SetPaletteEntry(1, TPxRGB{255, 255, 255});
    p.GetScanline(0)[0] = 1;
    p.GetScanline(0)[1] = 0;
    p.GetScanline(0)[2] = 1;
    TPxBitmap bits;
    PxThresholdToBilevel(&p, &bits, 128, nullptr);
    ASSERT_EQ(bits.GetPixelFormat(), px1g);
    EXPECT_EQ(bits.GetScanline(0)[0] & 0xE0, 0xA0);
    TPxBitmap copy;
    PxThresholdToBilevel(&bits, &copy, 255, nullptr);
    EXPECT_EQ(copy.GetScanline(0)[0] & 0xE0, 0xA0);
    // Maximum entropy on a single grey level finds no split: every pixel white.
    TPxBitmap flat, white;
    ASSERT_TRUE(flat.Allocate(5, 2, px8g));
    flat.Fill(77);
    PxThresholdToBilevel(&flat, &white, -2, nullptr);
    ASSERT_EQ(white.GetPixelFormat(), px1g);
    for (int y = 0; y < 2; ++y)
        EXPECT_EQ(white.GetScanline(y)[0] & 0xF8, 0xF8);
}

TEST_F(PxConvertRows, BilevelFromTwoColors)
{
    const TPxRGB white{255, 255, 255}, black{0, 0, 0}, red{0, 0, 255};
    auto b = Solid(4, 2, white);
    b->SetPixelRGB(1, 0, black);
    b->SetPixelRGB(3, 1, black);
    TPxRGB c0{}, c1{};
    std::unique_ptr<TPxBitmap> bits = PxBilevelFromTwoColors(b.get(), c0, c1);
    ASSERT_TRUE(bits);
    EXPECT_EQ(c0, black);
    EXPECT_EQ(c1, white);
    EXPECT_EQ(bits->GetScanline(0)[0] & 0xF0, 0xB0);  // white 1, black 0
    EXPECT_EQ(bits->GetScanline(1)[0] & 0xF0, 0xE0);

    b->SetPixelRGB(0, 1, red);
    EXPECT_FALSE(PxBilevelFromTwoColors(b.get(), c0, c1));
    auto one = Solid(3, 3, red);
    EXPECT_FALSE(PxBilevelFromTwoColors(one.get(), c0, c1));

    // Any format: grey 200 first and 40 second keeps 40 as colour 0.
    TPxBitmap g(2, 1, px8g);
    g.GetScanline(0)[0] = 200;
    g.GetScanline(0)[1] = 40;
    bits = PxBilevelFromTwoColors(&g, c0, c1);
    ASSERT_TRUE(bits);
    EXPECT_EQ(c0, (TPxRGB{40, 40, 40}));
    EXPECT_EQ(bits->GetScanline(0)[0] & 0xC0, 0x80);
}

TEST_F(PxConvertRows, NearestPaletteIndex)
{
    const TPxRGB pal[] = {{0, 0, 0}, {10, 10, 10}, {30, 30, 30}, {20, 20, 20}};
    EXPECT_EQ(PxNearestPaletteIndex(pal, 4, TPxRGB{11, 9, 10}), 1);
    EXPECT_EQ(PxNearestPaletteIndex(pal, 4, TPxRGB{25, 25, 25}), 2);  // tie 2 / 3: the lower
    EXPECT_EQ(PxNearestPaletteIndex(pal, 4, TPxRGB{200, 200, 200}), 2);
    EXPECT_EQ(PxNearestPaletteIndex(pal, 0, TPxRGB{10, 10, 10}), 0);
}

TEST_F(PxConvertRows, AverageColor)
{
    TPxBitmap g(3, 2, px8g);
    const uint8_t rows[2][3] = {{0, 0, 2}, {255, 255, 254}};
    for (int y = 0; y < 2; ++y)
        std::memcpy(g.GetScanline(y), rows[y], 3);
    int r, gg, b;
    PxAverageColor(&g, r, gg, b);  // (2 div 3 + 764 div 3) div 2
    EXPECT_EQ(r, 127);
    EXPECT_EQ(gg, 127);
    TPxBitmap w(1, 1, px16g);
    w.SetPixelGray16(0, 0, 0x80FF);  // Trunc(33023 * 255 / 65535)
    PxAverageColor(&w, r, gg, b);
    EXPECT_EQ(r, 128);
    TPxBitmap empty;
    PxAverageColor(&empty, r, gg, b);
    EXPECT_EQ(r, 128);
    EXPECT_EQ(b, 128);
}

TEST_F(PxConvertRows, GrayRectAndProgressLimit)
{
    auto b = Solid(4, 3, TPxRGB{50, 100, 200});  // b, g, r
    TProgressLog log;
    PxConvertToGrayRect(b.get(), 1, 1, 10, 2, nullptr, TPxProgressEvent(&log, &TProgressLog::OnProgress));
    EXPECT_EQ(b->GetPixelRGB(0, 1), (TPxRGB{50, 100, 200}));
    EXPECT_EQ(b->GetPixelRGB(1, 1), (TPxRGB{117, 117, 117}));
    EXPECT_EQ(b->GetPixelRGB(3, 1), (TPxRGB{117, 117, 117}));
    EXPECT_EQ(b->GetPixelRGB(1, 0), (TPxRGB{50, 100, 200}));
    EXPECT_EQ(log.values, (std::vector<int>{100}));  // 1 * 100 / 0.5, limited
}

TEST_F(PxConvertRows, NegativeInEveryFormat)
{
    // px8p: the palette, not the indexes; twice restores it.
    TPxBitmap p(2, 1, px8p);
    p.SetPaletteEntry(5, TPxRGB{1, 2, 3});
    p.GetScanline(0)[0] = 5;
    PxNegativeRect(&p, 0, 0, 2, 1, nullptr, nullptr);
    EXPECT_EQ(p.GetPaletteEntry(5), (TPxRGB{254, 253, 252}));
    EXPECT_EQ(p.GetScanline(0)[0], 5);
    PxNegativeRect(&p, 0, 0, 2, 1, nullptr, nullptr);
    EXPECT_EQ(p.GetPaletteEntry(5), (TPxRGB{1, 2, 3}));

    TPxBitmap w(1, 1, pxRGB48);
    w.SetPixelRGB48(0, 0, TPxRGB48{0, 1000, 65535});
    PxNegativeRect(&w, 0, 0, 1, 1, nullptr, nullptr);
    EXPECT_EQ(w.GetPixelRGB48(0, 0), (TPxRGB48{65535, 64535, 0}));

    TPxBitmap f(1, 1, px32f);
    f.SetPixelFloat(0, 0, 0.25f);
    PxNegativeRect(&f, 0, 0, 1, 1, nullptr, nullptr);
    EXPECT_EQ(f.GetPixelFloat(0, 0), 0.75f);

    TPxBitmap q(2, 1, px32RGB);
    std::memcpy(q.GetScanline(0), "\x01\x02\x03\x04\x05\x06\x07\x08", 8);
    PxNegativeRect(&q, 1, 0, 2, 1, nullptr, nullptr);
    EXPECT_EQ(std::memcmp(q.GetScanline(0), "\x01\x02\x03\x04\xFA\xF9\xF8\x08", 8), 0);

    // px1g: a byte-aligned run (the 8-byte path) and a partial one.
    TPxBitmap bits(70, 1, px1g);
    std::memset(bits.GetScanline(0), 0, static_cast<size_t>(bits.GetRowLen()));
    PxNegativeRect(&bits, 0, 0, 64, 1, nullptr, nullptr);
    PxNegativeRect(&bits, 65, 0, 67, 1, nullptr, nullptr);
    EXPECT_EQ(bits.GetScanline(0)[7], 0xFF);
    EXPECT_EQ(bits.GetScanline(0)[8], 0x60);

    // px24RGB: 8 pixels (24 bytes, the 8-byte path) and 3 pixels (9 bytes).
    for (int width : {8, 3}) {
        auto c = Solid(width, 2, TPxRGB{0, 10, 250});
        PxNegativeRect(c.get(), 0, 1, width, 2, nullptr, nullptr);
        EXPECT_EQ(c->GetPixelRGB(width - 1, 1), (TPxRGB{255, 245, 5}));
        EXPECT_EQ(c->GetPixelRGB(0, 0), (TPxRGB{0, 10, 250}));
    }
}

TEST_F(PxConvertRows, InvertBitmapBits)
{
    TPxBitmap bits(9, 2, px1g);
    std::memset(bits.GetScanline(0), 0x0F, 4);
    std::memset(bits.GetScanline(1), 0x00, 4);
    PxInvertBitmapBits(&bits);
    EXPECT_EQ(bits.GetScanline(0)[0], 0xF0);
    EXPECT_EQ(bits.GetScanline(1)[3], 0xFF);
    uint8_t buffer[3] = {0, 0xFF, 0x5A};
    PxInvertBuffer(buffer, 3);
    EXPECT_EQ(buffer[2], 0xA5);
}

TEST_F(PxConvertRows, Filter3x3)
{
    // A vertical step 10 | 50 in a 4 x 3 grey image.
    TPxBitmap g(4, 3, px8g);
    for (int y = 0; y < 3; ++y) {
        const uint8_t row[4] = {10, 10, 50, 50};
        std::memcpy(g.GetScanline(y), row, 4);
    }
    TPxFilter3x3 edges;
    const int32_t weights[9] = {1, 1, 1, 1, -8, 1, 1, 1, 1};
    std::memcpy(edges.Weights, weights, sizeof(weights));
    edges.Divisor = 1;
    PxApplyFilter3x3(&g, edges, 0, 0, 4, 3);
    for (int y = 0; y < 3; ++y) {
        // Uniform areas give 0; beside the step |3 * 40| = 120.
        EXPECT_EQ(g.GetScanline(y)[0], 0);
        EXPECT_EQ(g.GetScanline(y)[1], 120);
        EXPECT_EQ(g.GetScanline(y)[2], 120);
        EXPECT_EQ(g.GetScanline(y)[3], 0);
    }
    // Blur of one row of a rectangle reads unfiltered neighbours; the rest
    // stays.
    TPxBitmap h(3, 3, px8g);
    const uint8_t rows[3][3] = {{0, 90, 0}, {0, 0, 0}, {9, 9, 9}};
    for (int y = 0; y < 3; ++y)
        std::memcpy(h.GetScanline(y), rows[y], 3);
    TPxFilter3x3 blur;
    for (int32_t& v : blur.Weights)
        v = 1;
    blur.Divisor = 9;
    PxApplyFilter3x3(&h, blur, 0, 0, 2, 2);
    EXPECT_EQ(h.GetScanline(0)[0], 20);  // (0+0+90)*2 + 0 ... = 180 div 9
    EXPECT_EQ(h.GetScanline(1)[0], 13);  // 90 + 27 = 117 div 9
    EXPECT_EQ(h.GetScanline(1)[1], 13);
    EXPECT_EQ(h.GetScanline(0)[2], 0);
    EXPECT_EQ(h.GetScanline(2)[0], 9);
}

TEST_F(PxConvertRows, QuantizeInPlace)
{
    auto b = Solid(16, 4, TPxRGB{0, 0, 0});
    for (int x = 0; x < 16; ++x)
        for (int y = 0; y < 4; ++y)
            b->SetPixelRGB(x, y, TPxRGB{static_cast<uint8_t>(x * 16), static_cast<uint8_t>(y * 60), 128});
    std::vector<TPxRGB> palette(8, TPxRGB{1, 2, 3});
    PxQuantizeInPlace(b.get(), 8, palette.data(), nullptr, nullptr);
    ASSERT_EQ(b->GetPixelFormat(), px24RGB);
    std::set<uint32_t> colours;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 16; ++x) {
            const TPxRGB c = b->GetPixelRGB(x, y);
            colours.insert((uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b);
            bool inPalette = false;
            for (const TPxRGB& p : palette)
                inPalette = inPalette || p == c;
            EXPECT_TRUE(inPalette);
        }
    EXPECT_LE(colours.size(), 8u);
    EXPECT_GE(colours.size(), 2u);
}

TEST_F(PxConvertRows, VclBitmapExpansionAndCopy)
{
    classlib::TBitmap one;
    one.SetPixelFormat(classlib::pf1bit);
    one.SetSize(10, 2);
    static_cast<uint8_t*>(one.GetScanLine(0))[0] = 0x81;
    static_cast<uint8_t*>(one.GetScanLine(0))[1] = 0x40;
    static_cast<uint8_t*>(one.GetScanLine(1))[0] = 0x00;
    static_cast<uint8_t*>(one.GetScanLine(1))[1] = 0x00;
    classlib::TBitmap rgb;
    PxConvert1To24Vcl(&one, &rgb, nullptr);
    ASSERT_EQ(rgb.GetPixelFormat(), classlib::pf24bit);
    ASSERT_EQ(rgb.GetWidth(), 10);
    const uint8_t* row = static_cast<const uint8_t*>(rgb.GetScanLine(0));
    EXPECT_EQ(row[0], 255);
    EXPECT_EQ(row[3], 0);
    EXPECT_EQ(row[21], 255);
    EXPECT_EQ(row[27], 255);  // pixel 9 of the partial byte
    EXPECT_EQ(row[24], 0);
    EXPECT_EQ(static_cast<const uint8_t*>(rgb.GetScanLine(1))[27], 0);

    std::unique_ptr<classlib::TBitmap> copy = PxCloneVclBitmap(&rgb);
    ASSERT_EQ(copy->GetPixelFormat(), classlib::pf24bit);
    ASSERT_EQ(copy->GetHeight(), 2);
    EXPECT_EQ(std::memcmp(copy->GetScanLine(0), rgb.GetScanLine(0), 30), 0);
    EXPECT_EQ(std::memcmp(copy->GetScanLine(1), rgb.GetScanLine(1), 30), 0);

    classlib::TBitmap empty;
    empty.SetPixelFormat(classlib::pf8bit);
    PxCopyVclBitmap(&empty, copy.get());
    EXPECT_EQ(copy->GetWidth(), 1);
    EXPECT_EQ(copy->GetPixelFormat(), classlib::pf8bit);
}

}  // namespace
