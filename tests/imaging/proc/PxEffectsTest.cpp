// Image effects, first half: the filter list, the grey histogram, the
// maximum-entropy threshold and the Gaussian blur.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/proc/PxConvert.h"
#include "imaging/proc/PxConvertRows.h"
#include "imaging/proc/PxEffects.h"

using namespace imaging;

namespace {

class PxEffects : public ::testing::Test {
protected:
    // The tests build their own filter list; a list made by a start-up
    // elsewhere in the program is set aside and put back.
    void SetUp() override
    {
        PxDefsInit();
        savedThreshold_ = PxMemoryThreshold;
        savedList_ = PxFilter3x3List;
        PxFilter3x3List = nullptr;
    }
    void TearDown() override
    {
        PxMemoryThreshold = savedThreshold_;
        PxFreeFilter3x3List();
        PxFilter3x3List = savedList_;
    }

    // A px8g image from rows of values.
    static std::unique_ptr<TPxBitmap> Gray(const std::vector<std::vector<int>>& rows)
    {
        const int h = static_cast<int>(rows.size());
        const int w = static_cast<int>(rows[0].size());
        auto b = std::make_unique<TPxBitmap>(w, h, px8g);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                b->SetPixelGray8(x, y, static_cast<uint8_t>(rows[y][x]));
        return b;
    }
    static std::vector<int> Row8(TPxBitmap& b, int y)
    {
        std::vector<int> r;
        for (int x = 0; x < b.GetWidth(); ++x)
            r.push_back(b.GetPixelGray8(x, y));
        return r;
    }

    int64_t savedThreshold_ = -1;
    TPxFilter3x3List* savedList_ = nullptr;
};

// Pixel-by-pixel equality (alignment bytes are not compared).
bool SamePixels(TPxBitmap& a, TPxBitmap& b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
        return false;
    for (int y = 0; y < a.GetHeight(); ++y)
        for (int x = 0; x < a.GetWidth(); ++x)
            if (!(a.GetPixelAsRGB(x, y) == b.GetPixelAsRGB(x, y)))
                return false;
    return true;
}

struct TProgressLog : classlib::TObject {
    std::vector<int> values;
    void OnProgress(classlib::TObject*, int per) { values.push_back(per); }
};

// ---- filter list

TEST_F(PxEffects, FilterListHoldsTheNineBuiltInFiltersInOrder)
{
    const struct {
        const wchar_t* name;
        int32_t weights[9];
        int32_t divisor;
    } expected[] = {
        {L"None", {0, 0, 0, 0, 1, 0, 0, 0, 0}, 0},
        {L"Blur", {1, 1, 1, 1, 1, 1, 1, 1, 1}, 9},
        {L"Edges", {1, 1, 1, 1, -8, 1, 1, 1, 1}, 1},
        {L"Emboss", {-1, 0, 1, -1, 1, 1, -1, 0, 1}, 1},
        {L"High Pass 1", {0, -1, 0, -1, 5, -1, 0, -1, 0}, 1},
        {L"High Pass 2", {-1, -1, -1, -1, 9, -1, -1, -1, -1}, 1},
        {L"High Pass 3", {1, -2, 1, -2, 5, -2, 1, -2, 1}, 1},
        {L"Low Pass 1", {1, 1, 1, 1, 1, 1, 1, 1, 1}, 10},
        {L"Low Pass 2", {1, 2, 1, 2, 4, 2, 1, 2, 1}, 16},
    };
    // Building twice replaces the list instead of appending to it.
    PxCreateFilter3x3List();
    PxCreateFilter3x3List();
    ASSERT_NE(PxFilter3x3List, nullptr);
    ASSERT_EQ(PxFilter3x3List->GetCount(), 9);
    ASSERT_EQ(PxFilter3x3List->Names.GetCount(), 9);
    for (int i = 0; i < 9; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(PxFilter3x3List->Names[i], expected[i].name);
        const TPxFilter3x3& f = *PxFilter3x3List->Filters[static_cast<size_t>(i)];
        EXPECT_EQ(std::vector<int32_t>(f.Weights, f.Weights + 9),
                  std::vector<int32_t>(expected[i].weights, expected[i].weights + 9));
        EXPECT_EQ(f.Divisor, expected[i].divisor);
    }

    TPxFilter3x3 own;
    own.Weights[0] = 7;
    PxAddFilter3x3(own, L"Mine");
    own.Weights[0] = 1;  // the list keeps its own copy
    EXPECT_EQ(PxFilter3x3List->IndexOfName(L"mine"), 9);
    EXPECT_EQ(PxFilter3x3List->Filters[9]->Weights[0], 7);
    PxFreeFilter3x3List();
    EXPECT_EQ(PxFilter3x3List, nullptr);
}

TEST_F(PxEffects, EdgesFilterGivesZeroOnFlatAreasAndAbsoluteSumsAtASteps)
{
    PxCreateFilter3x3List();
    const int edges = PxFilter3x3List->IndexOfName(L"Edges");
    ASSERT_EQ(edges, 2);
    auto b = Gray({{10, 10, 50, 50}, {10, 10, 50, 50}, {10, 10, 50, 50}});
    PxApplyFilter3x3(b.get(), *PxFilter3x3List->Filters[static_cast<size_t>(edges)], 0, 0, 4, 3);
    // Left of the step: 3*10 + 3*10 + 3*50 - 9*10 = 120; right of it the sum
    // is -120 and becomes positive.
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(Row8(*b, y), (std::vector<int>{0, 120, 120, 0}));
}

// ---- histogram and threshold

TEST_F(PxEffects, GrayHistogramOfEveryFormat)
{
    // Each image is 2 x 1; the pixels are written as raw bytes.
    const auto bytes = [](TPxBitmap& b, std::vector<uint8_t> v) { std::memcpy(b.GetScanline(0), v.data(), v.size()); };
    const auto word = [](uint16_t v) { return std::vector<uint8_t>{uint8_t(v & 255), uint8_t(v >> 8)}; };
    const auto cat = [](std::vector<std::vector<uint8_t>> parts) {
        std::vector<uint8_t> all;
        for (auto& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    float half = 0.5f, two = 2.0f;
    std::vector<uint8_t> floats(8);
    std::memcpy(&floats[0], &half, 4);
    std::memcpy(&floats[4], &two, 4);
    const TPxCMYK cmyk{200, 150, 100, 255};
    const TPxCIELab lab{180, 20, -30};

    const struct {
        const char* what;
        TPxPixelFormat format;
        std::vector<uint8_t> data;
        int level0, level1;
    } cases[] = {
        {"px8g", px8g, {7, 250}, 7, 250},
        {"px16g high byte", px16g, cat({word(0x12AB), word(0xFF00)}), 0x12, 0xFF},
        // (30*21 + 20*71 + 10*8) div 100 = 21; (0*21 + 255*71 + 0*8) div 100 = 181
        {"px24RGB", px24RGB, {10, 20, 30, 0, 255, 0}, 21, 181},
        {"px32RGB", px32RGB, {10, 20, 30, 99, 0, 255, 0, 1}, 21, 181},
        {"pxRGB48 high bytes", pxRGB48, cat({word(0x1EFF), word(0x14FF), word(0x0AFF), word(0), word(0xFF00), word(0)}), 21,
         181},
        // Trunc(0.5 * 255) = 127; a value above 1 is limited to 255.
        {"px32f", px32f, floats, 127, 255},
        {"pxCMYK", pxCMYK, {cmyk.c, cmyk.m, cmyk.y, cmyk.k, 255, 255, 255, 255},
         PxRGB2Gray(PxCMYKToRGBPixel(cmyk)), PxRGB2Gray(PxCMYKToRGBPixel(TPxCMYK{255, 255, 255, 255}))},
        {"pxCIELab", pxCIELab, {lab.l, uint8_t(lab.a), uint8_t(lab.b), 0, 0, 0}, PxRGB2Gray(PxCIELabToRGBPixel(lab)),
         PxRGB2Gray(PxCIELabToRGBPixel(TPxCIELab{0, 0, 0}))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TPxBitmap b(2, 1, c.format);
        bytes(b, c.data);
        TPxHistogram h;
        h.fill(99);
        PxGrayHistogram(&b, h);
        TPxHistogram want{};
        ++want[static_cast<size_t>(c.level0)];
        ++want[static_cast<size_t>(c.level1)];
        EXPECT_EQ(h, want);
    }

    // px8p: the grey of the palette entry; px1g: only entries 0 and 1, the
    // padding bits of the row not counted.
    TPxBitmap p(2, 1, px8p);
    p.SetPaletteEntry(3, TPxRGB{0, 100, 200});  // (200*21 + 100*71) div 100 = 113
    bytes(p, {3, 3});
    TPxHistogram h;
    PxGrayHistogram(&p, h);
    EXPECT_EQ(h[113], 2u);

    TPxBitmap bits(10, 1, px1g);
    std::memset(bits.GetScanline(0), 0xFF, static_cast<size_t>(bits.GetRowLen()));
    for (int x : {0, 2, 3, 5, 6, 8, 9})
        PxSetBit(bits.GetScanline(0), x, false);
    PxGrayHistogram(&bits, h);
    TPxHistogram want{};
    want[0] = 7;
    want[1] = 3;
    EXPECT_EQ(h, want);

    TPxBitmap empty;
    PxGrayHistogram(&empty, h);
    EXPECT_EQ(h, TPxHistogram{});
}

TEST_F(PxEffects, MaxEntropyThreshold)
{
    // Levels 10 (1 pixel), 100 (2) and 200 (5). Splitting below 101 leaves
    // the entropies 0 + H(1/3, 2/3) = 0.637; splitting below 11 gives
    // H(2/7, 5/7) + 0 = 0.598: the threshold is 101.
    auto three = Gray({{200, 10, 200, 100, 200, 100, 200, 200}});
    EXPECT_EQ(PxMaxEntropyThreshold(three.get()), 101);

    // No split of a single grey level scores above 0: -2 (all white).
    auto flat = Gray({{77, 77}, {77, 77}});
    EXPECT_EQ(PxMaxEntropyThreshold(flat.get()), -2);
    TPxBitmap empty;
    EXPECT_EQ(PxMaxEntropyThreshold(&empty), -2);
}

// ---- Gaussian blur

TEST_F(PxEffects, GaussianKernelWeights)
{
    // sigma 1: 65536 / sqrt(2 pi) = 26145.07 at the centre, times
    // exp(-t*t/2) beyond; offset 5 gives 0.24, rounded to 0.
    const TPxGaussianKernel k = PxGaussianKernel(1.0);
    EXPECT_EQ(k.Radius, 4);
    const int32_t want[] = {26145, 15858, 3538, 290, 9, 0};
    for (int t = 0; t <= 5; ++t) {
        SCOPED_TRACE(t);
        EXPECT_EQ(k.Weight(t), want[t]);
        EXPECT_EQ(k.Weight(-t), want[t]);
    }
    const TPxGaussianKernel wide = PxGaussianKernel(2.5);
    EXPECT_EQ(wide.Radius, 11);
    EXPECT_EQ(wide.Weight(11), 1);
    EXPECT_EQ(wide.Weight(12), 0);
    EXPECT_EQ(PxGaussianKernel(30).Radius, 100);

    // A very small sigma and a sigma of 0 keep only the centre.
    for (double sigma : {0.01, 0.0, -1.0}) {
        const TPxGaussianKernel one = PxGaussianKernel(sigma);
        EXPECT_EQ(one.Radius, 1);
        EXPECT_EQ(one.Weight(0), 65536);
        EXPECT_EQ(one.Weight(1), 0);
    }
}

TEST_F(PxEffects, GaussianLinesRoundAndRepeatTheEnds)
{
    // Weights 1/4, 1/2, 1/4: out = (32768 + sum) shr 16.
    TPxGaussianKernel k;
    k.Radius = 1;
    k.Weights[99] = 16384;
    k.Weights[100] = 32768;
    k.Weights[101] = 16384;
    const uint8_t in[4] = {0, 2, 200, 40};
    uint8_t out[4];
    PxGaussianLine8(k, in, out, 4);
    // 0.5 -> 1 (half rounds up); 0 + 1 + 50 = 51; 0.5 + 100 + 10 = 110.5 ->
    // 111; 50 + 20 + 10 (the last value repeated) = 80.
    EXPECT_EQ(std::vector<int>(out, out + 4), (std::vector<int>{1, 51, 111, 80}));

    const TPxRGB px[4] = {{0, 40, 255}, {2, 200, 255}, {200, 2, 255}, {40, 0, 255}};
    TPxRGB res[4];
    PxGaussianLine24(k, px, res, 4);
    const TPxRGB want[4] = {{1, 80, 255}, {51, 111, 255}, {111, 51, 255}, {80, 1, 255}};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(res[i], want[i]) << i;
}

// The blur as rows then columns through the line routine, pixel by pixel.
void ReferenceBlur(TPxBitmap& b, double sigma)
{
    const TPxGaussianKernel k = PxGaussianKernel(sigma);
    const int w = b.GetWidth();
    const int h = b.GetHeight();
    std::vector<TPxRGB> in(static_cast<size_t>(std::max(w, h))), out(in.size());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            in[x] = b.GetPixelRGB(x, y);
        PxGaussianLine24(k, in.data(), out.data(), w);
        for (int x = 0; x < w; ++x)
            b.SetPixelRGB(x, y, out[x]);
    }
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y)
            in[y] = b.GetPixelRGB(x, y);
        PxGaussianLine24(k, in.data(), out.data(), h);
        for (int y = 0; y < h; ++y)
            b.SetPixelRGB(x, y, out[y]);
    }
}

TEST_F(PxEffects, GaussianBlurIsRowsThenColumnsInEveryStorage)
{
    // The tall image is blurred column-wise in several bands.
    const struct {
        const char* what;
        int w, h;
        bool file;
    } cases[] = {{"memory", 37, 23, false}, {"file", 37, 23, true}, {"tall, banded", 1000, 3000, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PxMemoryThreshold = c.file ? 1 : -1;
        TPxBitmap b(c.w, c.h, px24RGB);
        PxMemoryThreshold = -1;
        TPxBitmap ref(c.w, c.h, px24RGB);
        ASSERT_EQ(b.GetLocation(), c.file ? pxFile : pxMemory);
        uint32_t seed = 12345;
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                seed = seed * 1103515245 + 12345;
                const TPxRGB p{uint8_t(seed >> 8), uint8_t(seed >> 16), uint8_t((x * 7 + y * 3) & 255)};
                b.SetPixelRGB(x, y, p);
                ref.SetPixelRGB(x, y, p);
            }
        PxGaussianBlur(&b, nullptr, TPxProgressEvent(), 1.5);
        ReferenceBlur(ref, 1.5);
        EXPECT_TRUE(SamePixels(b, ref));
    }
}

TEST_F(PxEffects, GaussianBlurProgressAndRefusals)
{
    auto g = Gray({{0, 255, 0}, {255, 0, 255}});
    TProgressLog log;
    PxGaussianBlur(g.get(), &log, TPxProgressEvent(&log, &TProgressLog::OnProgress), 1.0);
    // After row y: y * 100 / 5; after column x: (2 + x) * 100 / 5.
    EXPECT_EQ(log.values, (std::vector<int>{0, 20, 40, 60, 80}));
    EXPECT_NE(Row8(*g, 0), (std::vector<int>{0, 255, 0}));

    // sigma <= 0 and formats other than px8g / px24RGB change nothing and
    // report nothing.
    log.values.clear();
    auto same = Gray({{0, 255, 0}, {255, 0, 255}});
    PxGaussianBlur(same.get(), &log, TPxProgressEvent(&log, &TProgressLog::OnProgress), 0);
    TPxBitmap w16(3, 2, px16g);
    w16.Fill(0);
    w16.SetPixelGray16(1, 0, 60000);
    PxGaussianBlur(&w16, &log, TPxProgressEvent(&log, &TProgressLog::OnProgress), 2);
    EXPECT_EQ(Row8(*same, 0), (std::vector<int>{0, 255, 0}));
    EXPECT_EQ(w16.GetPixelGray16(1, 0), 60000);
    EXPECT_EQ(w16.GetPixelGray16(0, 0), 0);
    EXPECT_TRUE(log.values.empty());
}

TEST_F(PxEffects, GaussianBlurGray8StaysInsideItsRectangle)
{
    // Columns 1..3 are blurred with their own borders repeated: the 0 at
    // column 0 and at columns 4, 5 is never read.
    auto b = Gray({{0, 0, 255, 255, 0, 0}, {9, 9, 9, 9, 9, 9}});
    PxGaussianBlurGray8(b.get(), 1, 0, 3, 0, 1.0);
    const uint8_t inside[3] = {0, 255, 255};
    uint8_t want[3];
    PxGaussianLine8(PxGaussianKernel(1.0), inside, want, 3);
    ASSERT_GT(want[0], 0);
    EXPECT_EQ(Row8(*b, 0), (std::vector<int>{0, want[0], want[1], want[2], 0, 0}));
    EXPECT_EQ(Row8(*b, 1), (std::vector<int>{9, 9, 9, 9, 9, 9}));

    // A rectangle partly outside the image is limited to it: here the whole
    // image, as the plain blur does it.
    auto whole = Gray({{0, 30, 200, 7, 90}, {255, 0, 0, 0, 255}, {3, 80, 160, 240, 1}, {50, 50, 50, 50, 50}});
    auto ref = Gray({{0, 30, 200, 7, 90}, {255, 0, 0, 0, 255}, {3, 80, 160, 240, 1}, {50, 50, 50, 50, 50}});
    PxGaussianBlurGray8(whole.get(), -3, -8, 99, 40, 0.8);
    PxGaussianBlur(ref.get(), nullptr, TPxProgressEvent(), 0.8);
    EXPECT_TRUE(SamePixels(*whole, *ref));

    // sigma 0 and a px24RGB image: nothing changes.
    auto flat = Gray({{0, 255, 0}});
    PxGaussianBlurGray8(flat.get(), 0, 0, 2, 0, 0);
    EXPECT_EQ(Row8(*flat, 0), (std::vector<int>{0, 255, 0}));
    TPxBitmap rgb(3, 1, px24RGB);
    rgb.Fill(0);
    rgb.SetPixelRGB(1, 0, TPxRGB{255, 255, 255});
    PxGaussianBlurGray8(&rgb, 0, 0, 2, 0, 2);
    EXPECT_EQ(rgb.GetPixelRGB(0, 0), (TPxRGB{0, 0, 0}));
}

}  // namespace
