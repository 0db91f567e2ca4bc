#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "classlib/Exceptions.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/proc/PxFastResample.h"

using namespace imaging;

namespace {

// Grey levels as rows of values; every channel of a px24RGB pixel gets
// value + channel * Spread so that mixed-up channels show.
using Rows = std::vector<std::vector<int>>;

std::unique_ptr<TPxBitmap> MakeImage(const Rows& rows, TPxPixelFormat format, int spread = 0)
{
    const int h = static_cast<int>(rows.size());
    const int w = static_cast<int>(rows[0].size());
    auto b = std::make_unique<TPxBitmap>(w, h, format);
    for (int y = 0; y < h; ++y) {
        uint8_t* r = b->GetScanline(y);
        for (int x = 0; x < w; ++x) {
            const int v = rows[static_cast<size_t>(y)][static_cast<size_t>(x)];
            if (format == px24RGB)
                for (int c = 0; c < 3; ++c)
                    r[3 * x + c] = static_cast<uint8_t>(v + c * spread);
            else
                r[x] = static_cast<uint8_t>(v);
        }
    }
    return b;
}

// Channel c (0 blue) of every pixel, or the byte of 8-bit images.
Rows Read(TPxBitmap& b, int c = 0)
{
    Rows out;
    const int step = b.GetPixelFormat() == px24RGB ? 3 : 1;
    for (int y = 0; y < b.GetHeight(); ++y) {
        const uint8_t* r = b.GetScanline(y);
        std::vector<int> row;
        for (int x = 0; x < b.GetWidth(); ++x)
            row.push_back(r[step * x + c]);
        out.push_back(row);
    }
    return out;
}

Rows ReadBits(TPxBitmap& b)
{
    Rows out;
    for (int y = 0; y < b.GetHeight(); ++y) {
        const uint8_t* r = b.GetScanline(y);
        std::vector<int> row;
        for (int x = 0; x < b.GetWidth(); ++x)
            row.push_back((r[x >> 3] >> (7 - (x & 7))) & 1);
        out.push_back(row);
    }
    return out;
}

struct ProgressLog {
    std::vector<int> values;
    void OnProgress(classlib::TObject*, int per) { values.push_back(per); }
};

// The fast linear formulas written out plainly over a full work image, to
// check the row-streaming resampler against.
Rows FastLinearModel(const Rows& img, int dw, int dh)
{
    const int sh = static_cast<int>(img.size()), sw = static_cast<int>(img[0].size());
    const double xr = static_cast<double>(dw) / sw, yr = static_cast<double>(dh) / sh;
    Rows work(static_cast<size_t>(sh), std::vector<int>(static_cast<size_t>(dw)));
    for (int y = 0; y < sh; ++y)
        for (int i = 0; i < dw; ++i) {
            const auto& row = img[static_cast<size_t>(y)];
            const double x = i / xr;
            const int s = static_cast<int>(x);
            const int f = static_cast<int>((x - s) * 131072);
            const int e = static_cast<int>(std::min(i + 1, dw - 1) / xr + 1e-10);
            int v;
            if (xr > 1) {
                const int a = row[static_cast<size_t>(s)], b = row[static_cast<size_t>(std::min(s + 1, sw - 1))];
                v = a + ((b - a) * f >> 17);
            } else {
                int sum = 0;
                for (int k = s; k <= e; ++k)
                    sum += row[static_cast<size_t>(k)];
                v = sum / (e - s + 1);
            }
            work[static_cast<size_t>(y)][static_cast<size_t>(i)] = v;
        }
    Rows out(static_cast<size_t>(dh), std::vector<int>(static_cast<size_t>(dw)));
    for (int j = 0; j < dh; ++j)
        for (int i = 0; i < dw; ++i) {
            int v;
            if (yr > 1) {
                const double y = j / yr;
                const int r0 = static_cast<int>(y);
                const int f = static_cast<int>((y - r0) * 131072);
                const int r1 = r0 + 1 < sh ? r0 + 1 : r0;
                const int a = work[static_cast<size_t>(r0)][static_cast<size_t>(i)];
                const int b = work[static_cast<size_t>(r1)][static_cast<size_t>(i)];
                v = a + ((b - a) * f >> 17);
            } else {
                const int lo = static_cast<int>(j / yr);
                const int hi = static_cast<int>(std::min(j + 1, dh - 1) / yr);
                int sum = 0;
                for (int r = lo; r <= hi; ++r)
                    sum += work[static_cast<size_t>(r)][static_cast<size_t>(i)];
                v = sum / (hi - lo + 1);
            }
            out[static_cast<size_t>(j)][static_cast<size_t>(i)] = v;
        }
    return out;
}

TEST(PxFastResampleTest, FastLinearKnownRows)
{
    struct Case {
        const char* name;
        Rows source;
        int dw, dh;
        Rows expected;
    } cases[] = {
        // Halving 4 -> 2: end indexes trunc(2 + 1e-10) = 2 for both; d never read.
        {"halving", {{30, 61, 92, 250}}, 2, 1, {{(30 + 61 + 92) / 3, 92}}},
        // Doubling: a, a + floor((b - a) / 2), b, b (floor, not truncation).
        {"doubling down", {{200, 100}}, 4, 1, {{200, 150, 100, 100}}},
        {"doubling up", {{100, 201}}, 4, 1, {{100, 150, 201, 201}}},
        {"doubling odd down", {{201, 100}}, 4, 1, {{201, 150, 100, 100}}},
        // Width ratio exactly 1 while the height shrinks: pixels i and i + 1
        // averaged, the last copied; row 0 alone makes destination row 0.
        {"ratio one across", {{10, 21, 40}, {0, 0, 0}}, 3, 1, {{15, 30, 40}}},
        // 2x2 -> 3x3: fraction of column/row 1 is trunc(2/3 * 131072) = 87381.
        {"2x2 to 3x3", {{0, 255}, {90, 30}}, 3, 3, {{0, 169, 255}, {59, 89, 105}, {90, 50, 30}}},
        // Enlarged across, averaged down.
        {"mixed axes", {{0, 100}, {50, 51}, {255, 255}}, 3, 2, {{25, 58, 75}, {50, 50, 51}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // 24-bit with distinct channels, and one 8-bit channel.
        auto src = MakeImage(c.source, px24RGB, 1);
        TPxBitmap dst(c.dw, c.dh, px24RGB);
        PxFastLinear24(src.get(), &dst);
        EXPECT_EQ(Read(dst, 0), c.expected);
        auto gsrc = MakeImage(c.source, px8g);
        TPxBitmap gdst(c.dw, c.dh, px8g);
        PxFastLinearGray8(gsrc.get(), &gdst);
        EXPECT_EQ(Read(gdst), c.expected);
    }
}

TEST(PxFastResampleTest, FastLinearMatchesPlainFormulasInEveryLocation)
{
    std::mt19937 rng(7);
    const struct {
        int sw, sh, dw, dh;
    } sizes[] = {{37, 23, 17, 41}, {37, 23, 11, 7}, {13, 9, 40, 3}, {6, 4, 1, 1}, {1, 1, 5, 3}, {50, 31, 50, 12},
                 {19, 19, 19, 40}, {101, 3, 7, 3},   {997, 5, 13, 2}, {600, 4, 100, 4}, {64, 2, 3, 1},
                 {1000, 2, 1, 1},    {400, 3, 3, 2}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(testing::Message() << s.sw << "x" << s.sh << " -> " << s.dw << "x" << s.dh);
        Rows img(static_cast<size_t>(s.sh), std::vector<int>(static_cast<size_t>(s.sw)));
        for (auto& row : img)
            for (auto& v : row)
                v = static_cast<int>(rng() % 256);
        // Channel c holds (v + 97 c) mod 256, so that channels cannot be mixed up.
        const auto channel = [&](int c) {
            Rows ch = img;
            for (auto& row : ch)
                for (auto& v : row)
                    v = (v + 97 * c) & 255;
            return ch;
        };
        const Rows expected[3] = {FastLinearModel(channel(0), s.dw, s.dh), FastLinearModel(channel(1), s.dw, s.dh),
                                  FastLinearModel(channel(2), s.dw, s.dh)};
        for (bool file : {false, true}) {
            SCOPED_TRACE(file ? "file" : "memory");
            auto src = std::make_unique<TPxBitmap>();
            TPxBitmap dst;
            if (file) {
                src->FileThreshold = 0;
                dst.FileThreshold = 0;
            }
            ASSERT_TRUE(src->Allocate(s.sw, s.sh, px24RGB));
            for (int y = 0; y < s.sh; ++y) {
                uint8_t* r = src->GetScanline(y);
                for (int x = 0; x < s.sw; ++x)
                    for (int c = 0; c < 3; ++c)
                        r[3 * x + c] =
                            static_cast<uint8_t>(img[static_cast<size_t>(y)][static_cast<size_t>(x)] + 97 * c);
            }
            ASSERT_TRUE(dst.Allocate(s.dw, s.dh, px24RGB));
            if (file) {
                ASSERT_EQ(src->GetLocation(), pxFile);
            }
            PxFastLinear24(src.get(), &dst);
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(Read(dst, c), expected[c]) << "channel " << c;
        }
    }
}

TEST(PxFastResampleTest, FastLinearProgressAndExactCopy)
{
    ProgressLog log;
    const TPxProgressEvent ev(&log, &ProgressLog::OnProgress);
    Rows img(10, std::vector<int>(10, 77));
    auto src = MakeImage(img, px24RGB);
    TPxBitmap dst(5, 5, px24RGB);
    PxFastLinear24(src.get(), &dst, nullptr, ev);
    ASSERT_EQ(log.values.size(), 15u);
    for (size_t k = 0; k < log.values.size(); ++k)
        EXPECT_EQ(log.values[k], static_cast<int>(k * 100 / 15.5));
    EXPECT_LT(log.values.back(), 100);

    // Both ratios 1: an exact copy, no progress.
    log.values.clear();
    Rows odd = {{1, 2, 3}, {4, 5, 6}};
    auto s2 = MakeImage(odd, px24RGB, 9);
    TPxBitmap d2(3, 2, px24RGB);
    PxFastLinear24(s2.get(), &d2, nullptr, ev);
    EXPECT_TRUE(log.values.empty());
    EXPECT_EQ(Read(d2, 0), odd);
    EXPECT_EQ(Read(d2, 1), (Rows{{10, 11, 12}, {13, 14, 15}}));
}

TEST(PxFastResampleTest, FastLinearBilevelInterpolatesOrCounts)
{
    // 2 x 1 bits (white, black) doubled: interpolated 255, 127, 0, 0 (each
    // axis interpolates once either ratio is at least 1).
    TPxBitmap src(2, 1, px1g);
    src.GetScanline(0)[0] = 0x80;
    TPxBitmap dst(4, 2, px24RGB);
    PxFastLinearBilevel(&src, &dst);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(Read(dst, c), (Rows{{255, 127, 0, 0}, {255, 127, 0, 0}}));

    // Both ratios below 1: block counting. Left two columns white.
    TPxBitmap half(4, 4, px1g);
    for (int y = 0; y < 4; ++y)
        half.GetScanline(y)[0] = 0xC0;
    TPxBitmap grey(2, 2, px24RGB);
    PxFastLinearBilevel(&half, &grey);
    EXPECT_EQ(Read(grey, 1), (Rows{{255, 85}, {255, 85}}));
}

TEST(PxFastResampleTest, BilevelTo24CountsWhiteBlocks)
{
    struct Case {
        uint8_t rowBits;
        Rows expected;
    } cases[] = {
        {0xF0, {{255, 255}, {255, 255}}},
        {0x00, {{0, 0}, {0, 0}}},
        // Column blocks 0..1 and 1..3, row blocks 0..1 and 1..3: 2 of 6 and 3 of 9 white.
        {0xC0, {{255, 85}, {255, 85}}},
    };
    for (const auto& c : cases) {
        TPxBitmap src(4, 4, px1g);
        for (int y = 0; y < 4; ++y)
            src.GetScanline(y)[0] = c.rowBits;
        TPxBitmap dst(2, 2, px24RGB);
        PxResampleBilevelTo24(&src, 0, 0, 3, 3, &dst);
        EXPECT_EQ(Read(dst, 0), c.expected) << int(c.rowBits);
        EXPECT_EQ(Read(dst, 2), c.expected) << int(c.rowBits);
    }
    // A rectangle of a larger image: the right half (white) of an 8 x 4 image
    // whose left half is black. Column blocks start half a step left of the
    // rectangle (X1 + trunc(-1) = 3), row blocks are clamped before Y1 is added.
    TPxBitmap wide(8, 4, px1g);
    for (int y = 0; y < 4; ++y)
        wide.GetScanline(y)[0] = 0x0F;
    TPxBitmap dst(2, 2, px24RGB);
    PxResampleBilevelTo24(&wide, 4, 0, 7, 3, &dst);
    EXPECT_EQ(Read(dst, 0), (Rows{{170, 255}, {170, 255}}));
}

TEST(PxFastResampleTest, SmoothResampleAreaMeansAndInterpolation)
{
    // Halving: exact 2 x 2 means, halves to even (0.5 -> 0, 1.5 -> 2, 10.5 -> 10).
    Rows blocks = {{0, 0, 2, 2}, {0, 2, 2, 0}, {10, 11, 1, 2}, {10, 11, 3, 5}};
    auto src = MakeImage(blocks, px8g);
    TPxBitmap dst(2, 2, px8g);
    PxSmoothResample8(src.get(), &dst, false);
    EXPECT_EQ(Read(dst), (Rows{{0, 2}, {10, 3}}));

    // Enlarging in both directions, linear, each segment sampled at its end.
    Rows small = {{0, 255, 40}, {90, 30, 200}};
    auto s2 = MakeImage(small, px24RGB, 1);
    TPxBitmap d2(4, 3, px24RGB);
    ProgressLog log;
    PxSmoothResample8(s2.get(), &d2, false, nullptr, TPxProgressEvent(&log, &ProgressLog::OnProgress));
    EXPECT_EQ(Read(d2, 0), (Rows{{94, 119, 147, 147}, {45, 87, 200, 200}, {45, 87, 200, 200}}));
    EXPECT_EQ(log.values, (std::vector<int>{33, 66, 100}));

    // Bicubic at a sharp edge: the undershoot after the edge is clamped to 0,
    // not mirrored to a positive value.
    auto edge = MakeImage({{255, 0, 0, 0}}, px8g);
    TPxBitmap d3(8, 1, px8g);
    PxSmoothResample8(edge.get(), &d3, true);
    EXPECT_EQ(Read(d3), (Rows{{128, 0, 0, 0, 0, 0, 0, 0}}));
    EXPECT_EQ(PxCubicValue(255, 0, 0, 0, 0.5, 0, 255), 0);
    EXPECT_DOUBLE_EQ(PxCubicValue(0, 0, 255, 255, 0.5, 0, 255), 127.5);

    // 16-bit samples: bounds 0..65535.
    TPxBitmap w16(2, 1, px16g), d16(1, 1, px16g);
    const uint16_t words[2] = {65535, 65534};
    std::memcpy(w16.GetScanline(0), words, 4);
    PxSmoothResample16(&w16, &d16, true);
    uint16_t out;
    std::memcpy(&out, d16.GetScanline(0), 2);
    EXPECT_EQ(out, 65534);  // 65534.5 rounds to even
}

TEST(PxFastResampleTest, ProjectionsKeepTheWinningColour)
{
    Rows grey128(4, std::vector<int>(4, 128));
    auto src = MakeImage(grey128, px24RGB);
    TPxBitmap bw(2, 2, px24RGB);
    PxProject24(src.get(), &bw, pxProjectBlackWins);
    ASSERT_EQ(bw.GetPixelFormat(), px1g);
    EXPECT_EQ(ReadBits(bw), (Rows{{1, 1}, {1, 1}}));
    TPxBitmap wb(2, 2, px1g);
    PxProject24(src.get(), &wb, pxProjectWhiteWins);
    EXPECT_EQ(ReadBits(wb), (Rows{{0, 0}, {0, 0}}));

    // One black pixel in a white 4 x 4, reduced by 2: windows share borders.
    struct Case {
        int x, y;
        Rows expected;
    } cases[] = {{0, 0, {{0, 0}, {0, 0}}}, {1, 1, {{1, 1}, {1, 0}}}, {2, 2, {{1, 1}, {1, 0}}}, {2, 0, {{1, 0}, {1, 0}}}};
    for (const auto& c : cases) {
        TPxBitmap bits(4, 4, px1g);
        for (int y = 0; y < 4; ++y)
            bits.GetScanline(y)[0] = 0xF0;
        bits.GetScanline(c.y)[0] &= static_cast<uint8_t>(~(0x80 >> c.x));
        TPxBitmap d(2, 2, px1g);
        PxProjectBilevel(&bits, &d, pxProjectBlackWins);
        EXPECT_EQ(ReadBits(d), c.expected) << c.x << "," << c.y;
    }
}

TEST(PxFastResampleTest, StretchNearestCopiesWholePixelsOfEveryFormat)
{
    // 2 pixels to 5: source columns 0, 0, 0, 1, 1.
    const int cols[5] = {0, 0, 0, 1, 1};
    const TPxPixelFormat formats[] = {px8p, px8g, px16g, px24RGB, px32f, pxCMYK, pxRGB48, pxCIELab, px32RGB};
    for (TPxPixelFormat f : formats) {
        SCOPED_TRACE(static_cast<int>(f));
        TPxBitmap src(2, 1, f);
        const int bpp = src.GetBitCount() / 8;
        uint8_t* s = src.GetScanline(0);
        for (int i = 0; i < 2 * bpp; ++i)
            s[i] = static_cast<uint8_t>(i * 17 + 3);
        if (f == px8p)
            src.SetPaletteEntry(3, TPxRGB{1, 2, 3});
        TPxBitmap dst(5, 1, f);
        PxStretchNearest(&src, &dst);
        const uint8_t* d = dst.GetScanline(0);
        for (int k = 0; k < 5; ++k)
            EXPECT_EQ(std::memcmp(d + k * bpp, s + cols[k] * bpp, static_cast<size_t>(bpp)), 0) << k;
        if (f == px8p) {
            EXPECT_EQ(dst.GetPaletteEntry(3), (TPxRGB{1, 2, 3}));
        }
    }
    TPxBitmap bits(2, 1, px1g);
    bits.GetScanline(0)[0] = 0x40;  // black, white
    TPxBitmap d(5, 1, px1g);
    PxStretchNearest(&bits, &d);
    EXPECT_EQ(ReadBits(d), (Rows{{0, 0, 0, 1, 1}}));
}

// A bitmap that raises on a chosen row, to follow the access mode through an
// exception.
class TFailingBitmap : public TPxBitmap {
public:
    TFailingBitmap(int w, int h, TPxPixelFormat f, int failRow) : TPxBitmap(w, h, f), failRow_(failRow) {}
    uint8_t* GetScanline(int Row) override
    {
        if (Row == failRow_)
            throw classlib::EOutOfMemory(L"row");
        return TPxBitmap::GetScanline(Row);
    }

private:
    int failRow_;
};

TEST(PxFastResampleTest, AccessModeRestoredOnEveryWayOut)
{
    using Worker = void (*)(TPxBaseBitmap*, TPxBaseBitmap*);
    const struct {
        const char* name;
        TPxPixelFormat from, to;
        Worker run;
    } workers[] = {
        {"nearest", px24RGB, px24RGB, [](TPxBaseBitmap* s, TPxBaseBitmap* d) { PxStretchNearest(s, d); }},
        {"project", px24RGB, px1g,
         [](TPxBaseBitmap* s, TPxBaseBitmap* d) { PxProject24(s, d, pxProjectBlackWins); }},
        {"fast linear", px24RGB, px24RGB, [](TPxBaseBitmap* s, TPxBaseBitmap* d) { PxFastLinear24(s, d); }},
        {"smooth", px24RGB, px24RGB, [](TPxBaseBitmap* s, TPxBaseBitmap* d) { PxSmoothResample8(s, d, true); }},
    };
    for (const auto& w : workers) {
        SCOPED_TRACE(w.name);
        for (int fail : {-1, 5}) {
            TFailingBitmap src(8, 8, w.from, fail);
            TPxBitmap dst(3, 3, w.to);
            src.Access = pxAccessReadWrite;
            dst.Access = pxAccessReadWrite;
            if (fail < 0)
                w.run(&src, &dst);
            else
                EXPECT_THROW(w.run(&src, &dst), classlib::EOutOfMemory);
            EXPECT_EQ(src.Access, pxAccessReadWrite);
            EXPECT_EQ(dst.Access, pxAccessReadWrite);
        }
    }
}

TEST(PxFastResampleTest, ConvertRowDepth)
{
    const TPxRGB pal[2] = {{0, 0, 0}, {10, 20, 30}};
    uint8_t src[4] = {0xA0, 0, 0, 0};  // pixels 1, 0, 1
    uint8_t dst[12] = {};
    EXPECT_EQ(PxConvertRowDepth(src, dst, 1, 4, 3, pal, 2, nullptr), 2);
    EXPECT_EQ(dst[0], 0x10);
    EXPECT_EQ(dst[1], 0x10);
    EXPECT_EQ(PxConvertRowDepth(src, dst, 1, 24, 3, pal, 2, nullptr), 9);
    EXPECT_EQ(dst[0], 10);
    EXPECT_EQ(dst[3], 0);
    EXPECT_EQ(dst[8], 30);
    const uint8_t bytes[3] = {1, 0, 1};
    EXPECT_EQ(PxConvertRowDepth(bytes, dst, 8, 1, 3, pal, 2, nullptr), 1);
    EXPECT_EQ(dst[0], 0xA0);
    const uint8_t quads[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(PxConvertRowDepth(quads, dst, 32, 24, 2, pal, 2, nullptr), 6);
    EXPECT_EQ(std::vector<uint8_t>(dst, dst + 6), (std::vector<uint8_t>{1, 2, 3, 5, 6, 7}));
    EXPECT_EQ(PxConvertRowDepth(quads, dst, 24, 8, 5, pal, 2, nullptr), 5);
    EXPECT_EQ(PxConvertRowDepth(quads, dst, 8, 16, 5, pal, 2, nullptr), 0);
}

}  // namespace
