#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/proc/PxConvert.h"
#include "imaging/proc/PxResample.h"
#include "support/ValueScope.h"

using namespace imaging;

namespace {

struct ProgressLog {
    std::vector<int> values;
    void OnProgress(classlib::TObject*, int per) { values.push_back(per); }
};

// Sets PxMemoryThreshold for the scope, so that every image made inside
// (the resamplers' own copies included) lives in a temporary file.
class ThresholdScope : public testsupport::TValueScope<int64_t> {
public:
    explicit ThresholdScope(int64_t value) : TValueScope(PxMemoryThreshold, value) {}
};

std::vector<uint8_t> Pixels(TPxBitmap& b)
{
    std::vector<uint8_t> out;
    const size_t len = static_cast<size_t>((b.GetWidth() * b.GetBitCount() + 7) / 8);
    for (int y = 0; y < b.GetHeight(); ++y) {
        const uint8_t* r = b.GetScanline(y);
        out.insert(out.end(), r, r + len);
        // Padding bits after the last pixel of a px1g row are not pixels.
        if (b.GetBitCount() == 1 && b.GetWidth() % 8)
            out.back() &= static_cast<uint8_t>(0xFF << (8 - b.GetWidth() % 8));
    }
    return out;
}

void FillBytes(TPxBitmap& b, uint8_t v)
{
    for (int y = 0; y < b.GetHeight(); ++y)
        std::memset(b.GetScanline(y), v, static_cast<size_t>(b.GetRowLen()));
}

TEST(PxResampleTest, KernelTable)
{
    struct Row {
        TResampleFilter f;
        double support;
        double x, k;
    } rows[] = {
        {rfTriangle, 1.0, 0.25, 0.75},      {rfHermite, 1.0, 0.5, 0.5},          {rfBell, 1.5, 1.0, 0.125},
        {rfBSpline, 2.0, 1.0, 1.0 / 6},     {rfLanczos3, 3.0, 0.0, 1.0},         {rfMitchell, 2.0, 1.0, 1.0 / 18},
        {rfNearest, 1.0, 0.5, 1.0},         {rfNearest, 1.0, -0.5, 0.0},         {rfLinear, 1.0, -0.25, 0.75},
        {rfLinear, 1.0, -1.0, 0.0},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(PxResampleKernels[r.f].Support, r.support) << int(r.f);
        EXPECT_NEAR(PxResampleKernels[r.f].Filter(r.x), r.k, 1e-12) << int(r.f) << " at " << r.x;
    }
    EXPECT_NEAR(PxLanczos3Filter(1.0), 0.0, 1e-12);
    EXPECT_EQ(PxLanczos3Filter(3.0), 0.0);
    EXPECT_NEAR(PxMitchellFilter(0), 16.0 / 18, 1e-12);
}

TEST(PxResampleTest, TriangleKnownRows)
{
    const struct {
        std::vector<uint8_t> in, out;
    } cases[] = {
        // xscale 2, centers 0, 0.5, 1: the middle has weights 128 and 128,
        // (1280 + 2688) div 256 = 15.
        {{10, 21}, {10, 15, 21}},
        // xscale 0.5, width 2: pixel 0 has weights 64 (mirrored 1), 128, 64
        // -> 3968 div 256 = 15; pixel 1 (center 2) 64, 128, 64 (mirrored 2)
        // -> (64 * 21 + 192 * 200) div 256 = 155.
        {{10, 21, 200}, {15, 155}},
    };
    for (const auto& c : cases) {
        const int w = static_cast<int>(c.in.size()), dw = static_cast<int>(c.out.size());
        TPxBitmap src(w, 1, px24RGB);
        for (int x = 0; x < w; ++x)
            std::memset(src.GetScanline(0) + 3 * x, c.in[static_cast<size_t>(x)], 3);
        TPxBitmap dst(dw, 1, px24RGB);
        PxResampleBitmap(&src, &dst, rfTriangle);
        std::vector<uint8_t> want;
        for (uint8_t v : c.out)
            want.insert(want.end(), 3, v);
        EXPECT_EQ(Pixels(dst), want);
    }
}

TEST(PxResampleTest, ConstantImagesStayConstantForEveryFilter)
{
    const struct {
        int sw, sh, dw, dh;
    } sizes[] = {{1000, 1, 1, 1},   {1, 1000, 1, 1}, {3000, 2, 1, 2}, {7, 5, 23, 11}, {40, 30, 3, 2},
                 {5, 5, 1, 1},      {1, 1, 4, 3},    {1, 1, 1, 2},    {2, 9, 5, 1}};
    const struct {
        TPxPixelFormat format;
        uint8_t value;  // each byte of the source rows
        uint8_t result; // each byte of the destination's pixels
    } formats[] = {{px24RGB, 173, 173}, {px8g, 61, 61}, {px1g, 0xFF, 255}};
    for (int f = rfNone; f <= rfBicubic; ++f) {
        for (const auto& fm : formats) {
            for (const auto& s : sizes) {
                SCOPED_TRACE(testing::Message() << "filter " << f << " format " << int(fm.format) << " " << s.sw
                                                << "x" << s.sh << " -> " << s.dw << "x" << s.dh);
                TPxBitmap src(s.sw, s.sh, fm.format);
                FillBytes(src, fm.value);
                TPxBitmap dst(s.dw, s.dh, fm.format);
                FillBytes(dst, 0);
                PxResampleBitmap(&src, &dst, static_cast<TResampleFilter>(f));
                ASSERT_EQ(dst.GetWidth(), s.dw);
                ASSERT_EQ(dst.GetHeight(), s.dh);
                const uint8_t want = dst.GetPixelFormat() == px1g ? 0xFF : fm.result;
                const std::vector<uint8_t> got = Pixels(dst);
                int wrong = 0;
                for (size_t i = 0; i < got.size(); ++i) {
                    // The last byte of a px1g row holds padding bits too.
                    uint8_t g = got[i];
                    if (dst.GetPixelFormat() == px1g && (i + 1) % ((s.dw + 7) / 8) == 0 && s.dw % 8)
                        g |= static_cast<uint8_t>(0xFF >> (s.dw % 8));
                    wrong += g != want;
                }
                EXPECT_EQ(wrong, 0);
            }
        }
    }
}

TEST(PxResampleTest, DispatchByFormatAndFilter)
{
    PxInstallPixelFormatConversion();
    const TResampleFilter filters[] = {rfNone, rfTriangle, rfFastLinear, rfBilinear, rfProjectBW};
    const struct {
        TPxPixelFormat from;
        TPxPixelFormat to[5];  // per filter above
    } rows[] = {
        {px1g, {px1g, px24RGB, px24RGB, px24RGB, px1g}},
        {px8g, {px8g, px8g, px8g, px8g, px8g}},
        {px24RGB, {px24RGB, px24RGB, px24RGB, px24RGB, px1g}},
        {px16g, {px16g, px24RGB, px24RGB, px16g, px1g}},
        {pxRGB48, {pxRGB48, px24RGB, px24RGB, pxRGB48, px1g}},
        {px8p, {px8p, px24RGB, px24RGB, px24RGB, px1g}},
        {px32f, {px32f, px24RGB, px24RGB, px24RGB, px1g}},
        {pxCMYK, {pxCMYK, px24RGB, px24RGB, px24RGB, px1g}},
        {pxCIELab, {pxCIELab, px24RGB, px24RGB, px24RGB, px1g}},
        {px32RGB, {px32RGB, px24RGB, px24RGB, px24RGB, px1g}},
    };
    for (const auto& r : rows) {
        for (size_t i = 0; i < 5; ++i) {
            SCOPED_TRACE(testing::Message() << "format " << int(r.from) << " filter " << int(filters[i]));
            TPxBitmap src(6, 4, r.from);
            FillBytes(src, 0);
            TPxBitmap dst(3, 5, r.from);
            PxResampleBitmap(&src, &dst, filters[i]);
            EXPECT_EQ(dst.GetPixelFormat(), r.to[i]);
            EXPECT_EQ(dst.GetWidth(), 3);
            EXPECT_EQ(dst.GetHeight(), 5);
        }
    }
}

TEST(PxResampleTest, PaletteKeptByNearestAndBilinearOfOtherFormatsActsAsTriangle)
{
    TPxBitmap pal(4, 2, px8p);
    FillBytes(pal, 7);
    pal.SetPaletteEntry(7, TPxRGB{9, 8, 7});
    TPxBitmap dst(2, 2, px8p);
    PxResampleBitmap(&pal, &dst, rfNone);
    EXPECT_EQ(dst.GetPixelFormat(), px8p);
    EXPECT_EQ(dst.GetPaletteEntry(7), (TPxRGB{9, 8, 7}));
    EXPECT_EQ(dst.GetScanline(1)[1], 7);

    std::mt19937 rng(3);
    TPxBitmap src(9, 7, px32RGB);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 36; ++x)
            src.GetScanline(y)[x] = static_cast<uint8_t>(rng());
    TPxBitmap a(5, 11, px32RGB), b(5, 11, px32RGB);
    PxResampleBitmap(&src, &a, rfBilinear);
    PxResampleBitmap(&src, &b, rfTriangle);
    EXPECT_EQ(a.GetPixelFormat(), px24RGB);
    EXPECT_EQ(Pixels(a), Pixels(b));
}

TEST(PxResampleTest, AlphaFollowsTheFastLinearPath)
{
    // Colour through the cubic area resampler, alpha 0, 200 doubled by the
    // fast linear rule: 0, 100, 200, 200.
    TPxBitmap src(2, 1, px24RGB);
    FillBytes(src, 50);
    TPxBitmap* alpha = src.GetAlphaChannel();
    alpha->GetScanline(0)[0] = 0;
    alpha->GetScanline(0)[1] = 200;
    alpha->FullAlpha = false;
    TPxBitmap dst(4, 1, px24RGB);
    PxResampleBitmap(&src, &dst, rfBicubic);
    ASSERT_TRUE(dst.HasAlphaChannel());
    EXPECT_EQ(Pixels(*dst.GetAlphaChannel()), (std::vector<uint8_t>{0, 100, 200, 200}));
    EXPECT_FALSE(dst.GetAlphaChannel()->FullAlpha);
    EXPECT_EQ(Pixels(dst), std::vector<uint8_t>(12, 50));

    // A full alpha channel keeps its flag, with a kernel filter too.
    TPxBitmap full(5, 3, px24RGB);
    FillBytes(full, 1);
    full.GetAlphaChannel()->Fill(255);
    ASSERT_TRUE(full.GetAlphaChannel()->FullAlpha);
    TPxBitmap d2(2, 7, px24RGB);
    PxResampleBitmap(&full, &d2, rfLanczos3);
    EXPECT_TRUE(d2.GetAlphaChannel()->FullAlpha);
    EXPECT_EQ(Pixels(*d2.GetAlphaChannel()), std::vector<uint8_t>(14, 255));

    // Equal sizes: an exact copy with alpha channel and flag, no progress.
    ProgressLog log;
    TPxBitmap same(2, 1, px24RGB);
    PxResampleBitmap(&src, &same, rfLanczos3, nullptr, TPxProgressEvent(&log, &ProgressLog::OnProgress));
    EXPECT_TRUE(log.values.empty());
    EXPECT_EQ(Pixels(same), Pixels(src));
    ASSERT_TRUE(same.HasAlphaChannel());
    EXPECT_EQ(Pixels(*same.GetAlphaChannel()), (std::vector<uint8_t>{0, 200}));
}

TEST(PxResampleTest, KernelProgressNeverRepeatsAndStaysInRange)
{
    TPxBitmap src(30, 20, px24RGB);
    FillBytes(src, 9);
    for (TResampleFilter f : {rfTriangle, rfMitchell}) {
        for (int dh : {7, 90}) {
            ProgressLog log;
            TPxBitmap dst(11, dh, px24RGB);
            PxResampleBitmap(&src, &dst, f, nullptr, TPxProgressEvent(&log, &ProgressLog::OnProgress));
            ASSERT_FALSE(log.values.empty());
            for (size_t i = 0; i < log.values.size(); ++i) {
                EXPECT_GE(log.values[i], 0);
                EXPECT_LE(log.values[i], 100);
                if (i > 0) {
                    EXPECT_GT(log.values[i], log.values[i - 1]);
                }
            }
            // The last report: trunc((srcH + dstH) * 100 / (srcH + dstH + 0.5)).
            EXPECT_EQ(log.values.back(), static_cast<int>((20 + dh) * 100 / (20 + dh + 0.5)));
        }
    }
}

TEST(PxResampleTest, ExtremeReductionAveragesInsteadOfBlack)
{
    // 1000 x 1 ramp to 1 x 1: the weights at 1/256 would all round to 0.
    // Destination pixel 0 is centred on source pixel 0 and the edge mirrors,
    // so the result is a weighted mean of the ramp's first part: well above
    // black, and within the ramp.
    TPxBitmap src(1000, 1, px8g);
    for (int x = 0; x < 1000; ++x)
        src.GetScanline(0)[x] = static_cast<uint8_t>(50 + x / 10);
    for (int f = rfTriangle; f <= rfLinear; ++f) {
        TPxBitmap dst(1, 1, px8g);
        dst.GetScanline(0)[0] = 0;
        PxResampleBitmap(&src, &dst, static_cast<TResampleFilter>(f));
        const int v = dst.GetScanline(0)[0];
        EXPECT_GE(v, 50) << f;
        EXPECT_LE(v, 149) << f;
    }
}

TEST(PxResampleTest, FileImagesGiveTheSameResultAsMemoryImages)
{
    PxInstallPixelFormatConversion();
    std::mt19937 rng(11);
    const TPxPixelFormat formats[] = {px24RGB, px8g, px1g, px8p, px16g};
    for (TPxPixelFormat format : formats) {
        TPxBitmap mem(37, 23, format);
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < mem.GetRowLen(); ++x)
                mem.GetScanline(y)[x] = static_cast<uint8_t>(rng());
        TPxBitmap* alpha = mem.GetAlphaChannel();
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 37; ++x)
                alpha->GetScanline(y)[x] = static_cast<uint8_t>(rng());
        for (int f = rfNone; f <= rfProjectWB; ++f) {
            for (const auto& size : {std::pair{17, 41}, std::pair{11, 7}}) {
                SCOPED_TRACE(testing::Message() << "format " << int(format) << " filter " << f << " -> "
                                                << size.first << "x" << size.second);
                TPxBitmap memDst(size.first, size.second, format);
                PxResampleBitmap(&mem, &memDst, static_cast<TResampleFilter>(f));

                ThresholdScope allInFiles(0);
                TPxBitmap file;
                file.Assign(&mem);
                ASSERT_EQ(file.GetLocation(), pxFile);
                TPxBitmap fileDst(size.first, size.second, format);
                ASSERT_EQ(fileDst.GetLocation(), pxFile);
                PxResampleBitmap(&file, &fileDst, static_cast<TResampleFilter>(f));
                EXPECT_EQ(fileDst.GetPixelFormat(), memDst.GetPixelFormat());
                EXPECT_EQ(Pixels(fileDst), Pixels(memDst));
                ASSERT_TRUE(fileDst.HasAlphaChannel());
                EXPECT_EQ(Pixels(*fileDst.GetAlphaChannel()), Pixels(*memDst.GetAlphaChannel()));
                EXPECT_EQ(file.Access, pxAccessReadWrite);
                EXPECT_EQ(fileDst.Access, pxAccessReadWrite);
            }
        }
    }
}

}  // namespace
