#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "imaging/model/PxBitmap.h"
#include "imaging/proc/PxMedianCut.h"
#include "imaging/proc/PxNeuralQuant.h"
#include "imaging/proc/PxQuantizer.h"

using namespace imaging;

namespace {

// Keeps new images in memory (or in a temporary file) and restores the
// quantizer's unit variables.
class Scope {
public:
    explicit Scope(bool file = false) : threshold_(PxMemoryThreshold)
    {
        PxMemoryThreshold = file ? 0 : (int64_t{1} << 40);
    }
    ~Scope()
    {
        PxMemoryThreshold = threshold_;
        PxQuantizerMethod = -1;
        PxQuantizerQuality = -1;
    }

private:
    int64_t threshold_;
};

using PixelFn = std::function<TPxRGB(int x, int y)>;

std::unique_ptr<TPxBitmap> MakeRGB(int w, int h, const PixelFn& f, bool file = false)
{
    Scope scope(file);
    auto b = std::make_unique<TPxBitmap>();
    EXPECT_TRUE(b->Allocate(w, h, px24RGB));
    EXPECT_EQ(b->GetLocation(), file ? pxFile : pxMemory);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b->GetScanline(y);
        for (int x = 0; x < w; ++x) {
            const TPxRGB c = f(x, y);
            row[3 * x] = c.b;
            row[3 * x + 1] = c.g;
            row[3 * x + 2] = c.r;
        }
    }
    return b;
}

TPxRGB Rgb(int r, int g, int b) { return TPxRGB{uint8_t(b), uint8_t(g), uint8_t(r)}; }

int Dist(const TPxRGB& a, const TPxRGB& b) { return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b); }

// A colourful image: more than 256 distinct colours.
TPxRGB Colourful(int x, int y) { return Rgb(x * 4, y * 4, (x * y * 7 + x * 3) & 255); }

const TPxRGB kSentinel = Rgb(1, 2, 3);

std::vector<TPxRGB> Sentinels(size_t n) { return std::vector<TPxRGB>(n, kSentinel); }

// Exact colours: order of first appearance, exact indexes, untouched rest,
// nearest entry for an absent colour; one colour too many gives a learned
// palette.
TEST(PxQuantizerTest, ExactColours)
{
    Scope scope;
    const TPxRGB colours[5] = {Rgb(10, 20, 30), Rgb(200, 0, 0), Rgb(0, 200, 0), Rgb(0, 0, 200), Rgb(90, 90, 91)};
    // Pixel (x, y) takes colour (x + 2y) mod 5 reversed, so the order of
    // first appearance differs from the table's order.
    auto pick = [&](int x, int y) { return colours[4 - (x + 2 * y) % 5]; };
    auto image = MakeRGB(7, 4, pick);
    auto palette = Sentinels(8);
    TPxQuantizer q(*image, palette, 255, 8);
    ASSERT_TRUE(q.UsesExactColors());
    EXPECT_FALSE(q.GetGrey());
    EXPECT_EQ(q.GetMethod(), -1);
    const TPxRGB expected[5] = {colours[4], colours[3], colours[2], colours[1], colours[0]};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(palette[i], expected[i]) << i;
    for (int i = 5; i < 8; ++i)
        EXPECT_EQ(palette[i], kSentinel) << i;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(palette[q.ColorIndex(pick(x, y))], pick(x, y)) << x << "," << y;
    // Absent colour: the nearest listed colour, never one past the list.
    EXPECT_EQ(q.ColorIndex(Rgb(190, 10, 5)), 3);
    EXPECT_EQ(q.ColorIndex(Rgb(255, 255, 255)), 0);  // 90,90,91 is nearest

    // Exactly n colours is still exact; n - 1 is not.
    auto five = Sentinels(5);
    EXPECT_TRUE(TPxQuantizer(*image, five, 255, 5).UsesExactColors());
    auto four = Sentinels(4);
    TPxQuantizer learned(*image, four, 255, 4);
    EXPECT_FALSE(learned.UsesExactColors());
    EXPECT_EQ(learned.GetMethod(), 1);
}

// Grey images get the ramp trunc(256 / n * i) and the index trunc(red * n / 256).
TEST(PxQuantizerTest, GreyRamp)
{
    Scope scope;
    auto grey = MakeRGB(16, 16, [](int x, int y) { return Rgb(x * 16 + y, x * 16 + y, x * 16 + y); });
    struct Case {
        int n;
        std::vector<int> levels;  // first entries of the ramp
        int last;                 // its last entry
    } cases[] = {{16, {0, 16, 32}, 240}, {256, {0, 1, 2}, 255}, {3, {0, 85}, 170}, {100, {0, 2, 5, 7}, 253}};
    for (const auto& c : cases) {
        auto palette = Sentinels(static_cast<size_t>(c.n));
        TPxQuantizer q(*grey, palette, 255, c.n);
        EXPECT_TRUE(q.GetGrey());
        EXPECT_EQ(q.GetMethod(), -1);
        for (size_t i = 0; i < c.levels.size(); ++i)
            EXPECT_EQ(palette[i], Rgb(c.levels[i], c.levels[i], c.levels[i])) << c.n << " " << i;
        EXPECT_EQ(palette.back(), Rgb(c.last, c.last, c.last)) << c.n;
        for (int v = 0; v < 256; ++v)
            ASSERT_EQ(q.ColorIndex(Rgb(v, 0, 0)), v * c.n / 256) << c.n << " " << v;
    }
    auto palette = Sentinels(16);
    TPxQuantizer q(*grey, palette, 255, 16);
    EXPECT_EQ(q.ColorIndex(Rgb(200, 200, 200)), 12);

    // A grey image of another format gets the ramp too.
    TPxBitmap g8(4, 4, px8g);
    TPxQuantizer q8(g8, palette, 255, 16);
    EXPECT_TRUE(q8.GetGrey());
    EXPECT_EQ(palette[15], Rgb(240, 240, 240));
}

// A px8p image hands over its own palette; ColorIndex maps through it (first
// equal entry, else the nearest), also for a grey palette that is no ramp.
// Other colour formats get nothing and index 0.
TEST(PxQuantizerTest, OwnPaletteAndOtherFormats)
{
    Scope scope;
    TPxBitmap greyP(4, 4, px8p);
    const int levels[6] = {0, 200, 100, 100, 50, 255};
    for (int i = 0; i < 6; ++i)
        greyP.SetPaletteEntry(i, Rgb(levels[i], levels[i], levels[i]));
    auto palette = Sentinels(6);
    TPxQuantizer q(greyP, palette, 255, 6);
    EXPECT_TRUE(q.GetGrey());
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(palette[i], Rgb(levels[i], levels[i], levels[i])) << i;
    EXPECT_EQ(q.ColorIndex(Rgb(100, 100, 100)), 2);  // the first equal entry
    EXPECT_EQ(q.ColorIndex(Rgb(200, 200, 200)), 1);
    EXPECT_EQ(q.ColorIndex(Rgb(240, 240, 240)), 5);  // nearest: 255

    // A grey px8p image whose palette is the ramp keeps the grey formula.
    TPxBitmap rampP(2, 2, px8p);
    for (int i = 0; i < 4; ++i)
        rampP.SetPaletteEntry(i, Rgb(64 * i, 64 * i, 64 * i));
    auto four = Sentinels(4);
    TPxQuantizer qr(rampP, four, 255, 4);
    EXPECT_EQ(qr.ColorIndex(Rgb(127, 0, 0)), 1);

    TPxBitmap colourP(4, 4, px8p);
    colourP.SetPaletteEntry(0, Rgb(255, 0, 0));
    colourP.SetPaletteEntry(1, Rgb(0, 255, 0));
    colourP.SetPaletteEntry(2, Rgb(0, 0, 255));
    auto three = Sentinels(3);
    TPxQuantizer qc(colourP, three, 255, 3);
    EXPECT_FALSE(qc.GetGrey());
    EXPECT_EQ(three[1], Rgb(0, 255, 0));
    EXPECT_EQ(qc.ColorIndex(Rgb(0, 0, 255)), 2);
    EXPECT_EQ(qc.ColorIndex(Rgb(10, 200, 30)), 1);  // absent: nearest, not 3
    EXPECT_EQ(qc.ColorIndex(Rgb(0, 0, 0)), 0);

    TPxBitmap rgb48(2, 2, pxRGB48);
    rgb48.SetPixelRGB48(0, 0, TPxRGB48{65535, 0, 0});
    auto untouched = Sentinels(16);
    TPxQuantizer q48(rgb48, untouched, 255, 16);
    EXPECT_FALSE(q48.GetGrey());
    EXPECT_EQ(untouched, Sentinels(16));
    EXPECT_EQ(q48.ColorIndex(Rgb(255, 0, 0)), 0);
    EXPECT_EQ(q48.ColorIndex(Rgb(9, 99, 199)), 0);
}

// Median cut on hand-computed cases: one colour gives one box with its
// cell mean times 8; black and white split on red into 0 and 248.
TEST(PxQuantizerTest, MedianCutKnownBoxes)
{
    Scope scope;
    auto single = MakeRGB(5, 3, [](int, int) { return Rgb(100, 150, 205); });
    auto palette = Sentinels(4);
    auto state = PxMedianCutCreate(*single, palette, 4);
    EXPECT_EQ(state->boxesMade, 1);
    EXPECT_EQ(palette[0], Rgb(96, 144, 200));
    EXPECT_EQ(palette[1], kSentinel);
    EXPECT_EQ(PxMedianCutColorIndex(*state, Rgb(255, 255, 255)), 0);

    auto bw = MakeRGB(4, 4, [](int x, int y) { return (x + y) % 2 ? Rgb(255, 255, 255) : Rgb(0, 0, 0); });
    auto two = Sentinels(3);
    auto cut = PxMedianCutCreate(*bw, two, 3);
    ASSERT_EQ(cut->boxesMade, 2);  // the third box cannot be had: both errors are 0
    EXPECT_EQ(two[0], Rgb(0, 0, 0));
    EXPECT_EQ(two[1], Rgb(248, 248, 248));
    EXPECT_EQ(two[2], kSentinel);
    EXPECT_EQ(cut->boxes[0].upper[0], 1);
    EXPECT_EQ(cut->boxes[1].lower[0], 31);
    EXPECT_EQ(PxMedianCutColorIndex(*cut, Rgb(255, 250, 249)), 1);
    EXPECT_EQ(PxMedianCutColorIndex(*cut, Rgb(7, 7, 7)), 0);
}

// Median cut with 16 colours on a gradient: 16 boxes, every pixel's cell in
// the box of its index, the mean error far below a single colour's.
TEST(PxQuantizerTest, MedianCutGradient)
{
    Scope scope;
    auto gradient = [](int x, int y) { return Rgb(x * 4, y * 4, (x + y) * 2); };
    auto image = MakeRGB(64, 64, gradient);
    auto palette = Sentinels(16);
    TPxQuantizer q(*image, palette, 255, 16);
    ASSERT_EQ(q.GetMethod(), 1);
    auto again = Sentinels(16);
    auto state = PxMedianCutCreate(*image, again, 16);
    ASSERT_EQ(state->boxesMade, 16);
    EXPECT_EQ(again, palette);

    double error = 0;
    double singleError = 0;
    const TPxRGB middle = Rgb(126, 126, 126);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const TPxRGB c = gradient(x, y);
            const int i = q.ColorIndex(c);
            ASSERT_GE(i, 0);
            ASSERT_LT(i, 16);
            const TPxMedianCutBox& box = state->boxes[static_cast<size_t>(i)];
            const int cell[3] = {c.r >> 3, c.g >> 3, c.b >> 3};
            for (int ch = 0; ch < 3; ++ch) {
                ASSERT_GE(cell[ch], box.lower[ch]) << x << "," << y;
                ASSERT_LT(cell[ch], box.upper[ch]) << x << "," << y;
            }
            error += Dist(c, palette[static_cast<size_t>(i)]);
            singleError += Dist(c, middle);
        }
    error /= 64 * 64;
    singleError /= 64 * 64;
    // 16 boxes of about 10 cells a side (80 levels: 20 mean error per channel
    // at most) against one colour for the whole cube.
    EXPECT_LT(error, 60.0);
    EXPECT_LT(error, singleError / 3);
}

// The neural net: deterministic (also from file storage), 256 entries, every
// pixel mapped to a palette entry at the smallest city-block distance.
TEST(PxQuantizerTest, NeuralNet256)
{
    Scope scope;
    auto image = MakeRGB(64, 64, Colourful);
    auto palette = Sentinels(256);
    TPxQuantizer q(*image, palette, 134217727, 256);
    ASSERT_EQ(q.GetMethod(), 0);
    EXPECT_FALSE(q.UsesExactColors());

    auto again = Sentinels(256);
    TPxQuantizer q2(*image, again, 255, 256);
    EXPECT_EQ(again, palette);
    auto fileImage = MakeRGB(64, 64, Colourful, true);
    auto fromFile = Sentinels(256);
    TPxQuantizer q3(*fileImage, fromFile, 255, 256);
    EXPECT_EQ(fromFile, palette);

    std::set<uint32_t> distinct;
    for (const auto& p : palette)
        distinct.insert(uint32_t(p.r) << 16 | uint32_t(p.g) << 8 | p.b);
    EXPECT_GT(distinct.size(), 200u);  // the network spread over the colours

    double total = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const TPxRGB c = Colourful(x, y);
            const int i = q.ColorIndex(c);
            ASSERT_GE(i, 0);
            ASSERT_LT(i, 256);
            int best = 1 << 30;
            for (const auto& p : palette)
                best = std::min(best, Dist(c, p));
            ASSERT_EQ(Dist(c, palette[static_cast<size_t>(i)]), best) << x << "," << y;
            total += best;
            ASSERT_EQ(q3.ColorIndex(c), i);
        }
    // About 4096 colours spread over the cube, 256 entries: cells of about 40
    // levels a side, against one colour for everything (about 190).
    EXPECT_LT(total / 4096, 50.0);
}

TEST(PxQuantizerTest, NeuralNetSampleFactor)
{
    struct Case {
        int64_t pixels;
        int quality;
        int factor;
    } cases[] = {
        {1, -1, 1},        {1999, -1, 1},    {2000, -1, 2},   {150000, -1, 15},
        {76000, -1, 8},    // 8.5: halves to even
        {100000000, -1, 30}, {5000, 100, 1}, {5000, 0, 30},   {5000, 50, 15}, {5000, 99, 1},
        {5000, 250, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PxNeuQuantSampleFactor(c.pixels, c.quality), c.factor) << c.pixels << " q" << c.quality;

    // One neuron, one pixel: the network learns the pixel exactly.
    Scope scope;
    auto one = MakeRGB(1, 1, [](int, int) { return Rgb(17, 130, 251); });
    TPxRGB entry = kSentinel;
    auto state = PxNeuQuantCreate(*one, std::span<TPxRGB>(&entry, 1), 1, -1);
    EXPECT_EQ(entry, Rgb(17, 130, 251));
    EXPECT_EQ(PxNeuQuantColorIndex(*state, Rgb(0, 0, 0)), 0);
}

// Automatic method: median cut below 128 colours, the neural net from 128;
// PxQuantizerMethod forces either, unknown values mean the neural net.
TEST(PxQuantizerTest, MethodSwitch)
{
    Scope scope;
    auto image = MakeRGB(40, 40, Colourful);
    struct Case {
        int method;
        int n;
        int expected;
    } cases[] = {{-1, 100, 1}, {-1, 127, 1}, {-1, 128, 0}, {-1, 256, 0},
                 {0, 16, 0},   {1, 200, 1},  {7, 16, 0}};
    for (const auto& c : cases) {
        PxQuantizerMethod = c.method;
        auto palette = Sentinels(static_cast<size_t>(c.n));
        TPxQuantizer q(*image, palette, 255, c.n);
        EXPECT_EQ(q.GetMethod(), c.expected) << c.method << " " << c.n;
        for (int y = 0; y < 40; y += 3)
            for (int x = 0; x < 40; x += 3) {
                const int i = q.ColorIndex(Colourful(x, y));
                ASSERT_GE(i, 0);
                ASSERT_LT(i, c.n);
            }
        if (c.expected == 0) {
            EXPECT_EQ(std::count(palette.begin(), palette.end(), kSentinel), 0);
        }
    }
}

// Degenerate inputs: 1 x 1, one colour asked, no colour asked, an image
// smaller than the sampling step, a palette smaller than the count.
TEST(PxQuantizerTest, DegenerateInputs)
{
    Scope scope;
    auto dot = MakeRGB(1, 1, [](int, int) { return Rgb(250, 5, 60); });
    auto palette = Sentinels(4);
    TPxQuantizer exact(*dot, palette, 255, 1);
    EXPECT_TRUE(exact.UsesExactColors());
    EXPECT_EQ(palette[0], Rgb(250, 5, 60));
    EXPECT_EQ(palette[1], kSentinel);
    EXPECT_EQ(exact.ColorIndex(Rgb(0, 0, 0)), 0);

    auto pair = MakeRGB(3, 1, [](int x, int) { return x ? Rgb(255, 0, 0) : Rgb(0, 0, 255); });
    TPxQuantizer oneColour(*pair, palette, 255, 1);
    EXPECT_EQ(oneColour.GetMethod(), 1);
    EXPECT_EQ(oneColour.ColorIndex(Rgb(255, 0, 0)), 0);
    EXPECT_EQ(oneColour.ColorIndex(Rgb(0, 0, 255)), 0);

    auto none = Sentinels(4);
    TPxQuantizer zero(*pair, none, 255, 0);
    EXPECT_EQ(none, Sentinels(4));
    EXPECT_EQ(zero.ColorIndex(Rgb(255, 0, 0)), 0);

    // Three pixels, far fewer than the 499-pixel step; the count is limited
    // to the palette's room (2 entries).
    auto tiny = MakeRGB(3, 1, [](int x, int) { return Rgb(x * 100, 255 - x * 100, 7); });
    for (int quality : {-1, 0, 100}) {
        PxQuantizerMethod = 0;
        PxQuantizerQuality = quality;
        auto room = Sentinels(2);
        TPxQuantizer q(*tiny, room, 255, 256);
        EXPECT_EQ(q.GetColorCount(), 2);
        EXPECT_EQ(q.GetMethod(), 0);
        for (int x = 0; x < 3; ++x) {
            const int i = q.ColorIndex(Rgb(x * 100, 255 - x * 100, 7));
            ASSERT_GE(i, 0);
            ASSERT_LT(i, 2);
        }
    }
}

}  // namespace
