// Image effects, second half: soft shadows, rounded corners, histogram
// matching, channel order and the painting of transparent pixels.
#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/proc/PxEffects.h"

using namespace imaging;

namespace {

class PxEffectsAlpha : public ::testing::Test {
protected:
    void SetUp() override
    {
        PxDefsInit();
        savedThreshold_ = PxMemoryThreshold;
    }
    void TearDown() override { PxMemoryThreshold = savedThreshold_; }

    static std::unique_ptr<TPxBitmap> Solid(int w, int h, TPxRGB c)
    {
        auto b = std::make_unique<TPxBitmap>(w, h, px24RGB);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                b->SetPixelRGB(x, y, c);
        return b;
    }
    static std::vector<int> AlphaRow(TPxBitmap& b, int y)
    {
        std::vector<int> r;
        for (int x = 0; x < b.GetWidth(); ++x)
            r.push_back(b.GetAlpha(x, y));
        return r;
    }
    // A black px24RGB image, transparent except for an opaque square.
    static std::unique_ptr<TPxBitmap> Square(int size, int x1, int x2)
    {
        auto b = Solid(size, size, TPxRGB{0, 0, 0});
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                b->SetAlpha(x, y, x >= x1 && x <= x2 && y >= x1 && y <= x2 ? 255 : 0);
        return b;
    }

    int64_t savedThreshold_ = -1;
};

struct TProgressLog : classlib::TObject {
    std::vector<int> values;
    void OnProgress(classlib::TObject*, int per) { values.push_back(per); }
};

const TPxRGB Shadow{0, 50, 200};  // blue 0, green 50, red 200

// ---- PxAddSoftShadow

// One row whose alpha is 255, 128, 64, 0, 0; sigma 0.01 leaves the alpha
// unblurred, so the offset (1, 0) puts the shadow values 0, 255, 128, 64, 0
// under the pixels.
TEST_F(PxEffectsAlpha, SoftShadowCompositesEachKindOfPixel)
{
    const int alpha[5] = {255, 128, 64, 0, 0};
    auto b = Solid(5, 1, TPxRGB{100, 100, 100});
    for (int x = 0; x < 5; ++x)
        b->SetAlpha(x, 0, static_cast<uint8_t>(alpha[x]));
    PxAddSoftShadow(b.get(), 1, 0, 0.01, 100, false, Shadow, TPxProgressEvent(), nullptr);
    // Opaque: unchanged. Semi-transparent over shadow s (t = s / 255,
    // A = a / 255): c_s = Trunc(C t + (1 - t) p), p' = Trunc(A p + (1 - A) c_s),
    // alpha Trunc((A + t (1 - A)) 255). 128 over 255: c_s = C; blue
    // Trunc(50.2) = 50, green Trunc(50.2 + 24.9) = 75, red Trunc(50.2 + 99.6)
    // = 149. 64 over 128: c_s = (49, 74, 150); p' = (61, 80, 137), alpha
    // Trunc(159.87). Transparent over 64: the shadow colour at alpha 64.
    // Transparent and no shadow: unchanged.
    const TPxRGB want[5] = {{100, 100, 100}, {50, 75, 149}, {61, 80, 137}, Shadow, {100, 100, 100}};
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(b->GetPixelRGB(x, 0), want[x]) << x;
    EXPECT_EQ(AlphaRow(*b, 0), (std::vector<int>{255, 255, 159, 64, 0}));
    EXPECT_FALSE(b->GetAlphaChannel()->FullAlpha);
}

TEST_F(PxEffectsAlpha, SoftShadowIntensityAndFormats)
{
    // The shadow under the transparent pixel 3 is 64, divided by
    // L = 3 - Intensity / 50 (Intensity clamped to 0..100).
    const struct {
        int intensity;
        int alpha;
    } cases[] = {{100, 64}, {0, 21}, {50, 32}, {30, 26}, {-5, 21}, {250, 64}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.intensity);
        for (TPxPixelFormat format : {px24RGB, px1g}) {
            TPxBitmap b(5, 1, format);
            b.Fill(format == px1g ? 1 : 0xFFFFFF);
            const int alpha[5] = {255, 128, 64, 0, 0};
            for (int x = 0; x < 5; ++x)
                b.SetAlpha(x, 0, static_cast<uint8_t>(alpha[x]));
            PxAddSoftShadow(&b, 1, 0, 0.01, c.intensity, false, Shadow, TPxProgressEvent(), nullptr);
            EXPECT_EQ(b.GetAlpha(3, 0), c.alpha);
            if (format == px1g) {
                // The shadowed pixel turns black; semi-transparent 1-bit
                // pixels are not blended.
                EXPECT_EQ(b.GetPixelAsRGB(3, 0), (TPxRGB{0, 0, 0}));
                EXPECT_EQ(b.GetPixelAsRGB(1, 0), (TPxRGB{255, 255, 255}));
                EXPECT_EQ(AlphaRow(b, 0)[1], 128);
            }
        }
    }
    // Other formats are not composited: the pixels stay, the alpha becomes
    // the blurred, moved shadow.
    TPxBitmap g(5, 1, px8g);
    g.Fill(200);
    const int alpha[5] = {255, 128, 64, 0, 0};
    for (int x = 0; x < 5; ++x)
        g.SetAlpha(x, 0, static_cast<uint8_t>(alpha[x]));
    PxAddSoftShadow(&g, 1, 0, 0.01, 0, false, Shadow, TPxProgressEvent(), nullptr);
    EXPECT_EQ(AlphaRow(g, 0), (std::vector<int>{0, 255, 128, 64, 0}));
    EXPECT_EQ(g.GetPixelGray8(3, 0), 200);
}

TEST_F(PxEffectsAlpha, SoftShadowEnlargeCentresTheContent)
{
    for (bool file : {false, true}) {
        SCOPED_TRACE(file ? "file" : "memory");
        PxMemoryThreshold = file ? 1 : -1;
        auto b = Solid(100, 100, TPxRGB{10, 20, 30});
        TProgressLog log;
        PxAddSoftShadow(b.get(), 4, 6, 3, 100, true, Shadow, TPxProgressEvent(&log, &TProgressLog::OnProgress), &log);
        // m = 2 * 6 + Trunc(15) = 27; the content lands at (13, 13).
        ASSERT_EQ(b->GetWidth(), 127);
        ASSERT_EQ(b->GetHeight(), 127);
        for (auto [x, y] : {std::pair{13, 13}, {112, 112}, {60, 40}}) {
            EXPECT_EQ(b->GetPixelRGB(x, y), (TPxRGB{10, 20, 30})) << x << "," << y;
            EXPECT_EQ(b->GetAlpha(x, y), 255) << x << "," << y;
        }
        // Before the content (nothing reaches there after the move): black
        // and transparent. Beyond its bottom-right edge: the shadow.
        EXPECT_EQ(b->GetPixelRGB(0, 0), (TPxRGB{0, 0, 0}));
        EXPECT_EQ(b->GetAlpha(0, 0), 0);
        EXPECT_EQ(b->GetPixelRGB(116, 116), Shadow);
        EXPECT_GT(b->GetAlpha(116, 116), 0);
        EXPECT_LT(b->GetAlpha(116, 116), 255);
        // The blur reports once per row and column.
        ASSERT_EQ(log.values.size(), 254u);
        EXPECT_EQ(log.values.front(), 0);
        EXPECT_EQ(log.values.back(), 253 * 100 / 254);
    }
}

// ---- PxAddSoftShadowRect

TEST_F(PxEffectsAlpha, SoftShadowRectMargin)
{
    const struct {
        int ox, oy;
        double radius;
        int margin;
    } cases[] = {{0, 0, 0, 10}, {3, -5, 0, 20}, {0, 0, 1.5, 7}, {0, 0, 0.1, 1}, {-7, 2, 2, 24}};
    for (const auto& c : cases) {
        auto b = Square(40, 15, 24);
        EXPECT_EQ(PxAddSoftShadowRect(b.get(), c.ox, c.oy, c.radius, 100, Shadow, 15, 15, 24, 24), c.margin)
            << c.ox << "," << c.oy << " r " << c.radius;
    }
    TPxBitmap empty;
    EXPECT_EQ(PxAddSoftShadowRect(&empty, 3, -5, 0, 100, Shadow, 0, 0, 5, 5), 20);
}

TEST_F(PxEffectsAlpha, SoftShadowRectWithoutRadiusUsesTheBoxBlur)
{
    auto b = Square(30, 10, 19);
    PxAddSoftShadowRect(b.get(), 0, 0, 0, 100, Shadow, 10, 10, 19, 19);
    // Beside an edge 3 of 9 neighbours are opaque: 765 div 9 = 85; beside a
    // corner 1 of 9: 28. Two pixels away: nothing.
    EXPECT_EQ(b->GetAlpha(9, 15), 85);
    EXPECT_EQ(b->GetAlpha(20, 15), 85);
    EXPECT_EQ(b->GetAlpha(15, 20), 85);
    EXPECT_EQ(b->GetAlpha(9, 9), 28);
    EXPECT_EQ(b->GetAlpha(20, 20), 28);
    EXPECT_EQ(b->GetAlpha(15, 15), 255);
    EXPECT_EQ(b->GetAlpha(8, 15), 0);
    EXPECT_EQ(b->GetPixelRGB(9, 15), Shadow);
    EXPECT_EQ(b->GetPixelRGB(8, 15), (TPxRGB{0, 0, 0}));
}

TEST_F(PxEffectsAlpha, SoftShadowRectBlursAndMovesOnlyAroundTheObject)
{
    // Radius 1: m = 5, the blur covers columns and rows 8..21 with its own
    // borders; the opaque pixel at (45, 45) lies outside and stays sharp.
    auto b = Square(60, 10, 19);
    b->SetAlpha(45, 45, 255);
    PxAddSoftShadowRect(b.get(), 0, 0, 1, 100, Shadow, 10, 10, 19, 19);
    EXPECT_GT(b->GetAlpha(21, 15), 0);
    EXPECT_EQ(b->GetAlpha(22, 15), 0);
    EXPECT_EQ(b->GetAlpha(45, 45), 255);
    EXPECT_EQ(b->GetAlpha(46, 45), 0);
    EXPECT_EQ(b->GetAlpha(15, 15), 255);

    // An unblurred shadow moved right by 2: m = 4, blur rectangle 8..21.
    auto m = Square(30, 10, 19);
    EXPECT_EQ(PxAddSoftShadowRect(m.get(), 2, 0, 0.01, 100, Shadow, 10, 10, 19, 19), 4);
    EXPECT_EQ(AlphaRow(*m, 15), (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 255, 255, 255, 255,
                                                   255, 255, 255, 255, 255, 255, 255, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(m->GetPixelRGB(21, 15), Shadow);
    EXPECT_EQ(m->GetPixelRGB(19, 15), (TPxRGB{0, 0, 0}));
}

TEST_F(PxEffectsAlpha, SoftShadowRectKeepsTheOneBitShadowUndivided)
{
    TPxBitmap b(20, 20, px1g);
    b.Fill(1);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            b.SetAlpha(x, y, x >= 5 && x <= 14 && y >= 5 && y <= 14 ? 255 : 0);
    PxAddSoftShadowRect(&b, 0, 0, 0, 0, Shadow, 5, 5, 14, 14);
    EXPECT_EQ(b.GetAlpha(4, 10), 85);
    EXPECT_EQ(b.GetPixelAsRGB(4, 10), (TPxRGB{0, 0, 0}));
    EXPECT_EQ(b.GetPixelAsRGB(3, 10), (TPxRGB{255, 255, 255}));

    auto rgb = Square(20, 5, 14);
    PxAddSoftShadowRect(rgb.get(), 0, 0, 0, 0, Shadow, 5, 5, 14, 14);
    EXPECT_EQ(rgb->GetAlpha(4, 10), 28);  // 85 div 3
}

// ---- PxRoundCorners

TEST_F(PxEffectsAlpha, RoundCornersClearsUnderTheCurves)
{
    // 4 x 3 corners on a 12 x 8 image without alpha channel. Top curve
    // points (0,2) (1,1) (2,1) (2,0) (3,0) (4,0) (4,0) clear the columns
    // 0..x of the rows 0..y; bottom curve points (12,6) (11,7) (10,7) (10,8)
    // ... clear the columns x..11 of the rows y..7; each mirrored.
    const char* want[8] = {
        ".....##.....", "...######...", ".##########.", "############",
        "############", "############", "############", "..########..",
    };
    for (bool file : {false, true}) {
        SCOPED_TRACE(file ? "file" : "memory");
        PxMemoryThreshold = file ? 1 : -1;
        auto b = Solid(12, 8, TPxRGB{1, 2, 3});
        ASSERT_FALSE(b->HasAlphaChannel());
        PxRoundCorners(b.get(), 4, 3, 0, 0, 0);
        ASSERT_TRUE(b->HasAlphaChannel());
        for (int y = 0; y < 8; ++y) {
            std::string row;
            for (int x = 0; x < 12; ++x)
                row += b->GetAlpha(x, y) == 0 ? '.' : (b->GetAlpha(x, y) == 255 ? '#' : '?');
            EXPECT_EQ(row, want[y]) << "row " << y;
        }
        EXPECT_FALSE(b->GetAlphaChannel()->FullAlpha);
        EXPECT_EQ(b->GetPixelRGB(0, 0), (TPxRGB{1, 2, 3}));
    }

    // A corner size of 0 changes nothing, not even an alpha channel.
    for (auto [w, h] : {std::pair{0, 5}, {5, 0}}) {
        auto b = Solid(12, 8, TPxRGB{1, 2, 3});
        PxRoundCorners(b.get(), w, h);
        EXPECT_FALSE(b->HasAlphaChannel());
    }
    TPxBitmap empty;
    PxRoundCorners(&empty, 4, 4);
    EXPECT_FALSE(empty.HasAlphaChannel());
}

// ---- histogram matching

TEST_F(PxEffectsAlpha, MatchHistogramMapsEachChannelOntoTheReference)
{
    // Reference levels 0, 100, 200, 250 in every channel: its curve is
    // 63.75, 127.5, 191.25, 255. Target values equalise to 63, 127, 191,
    // 255 (four distinct values) and land on the nearest curve point.
    auto ref = std::make_unique<TPxBitmap>(4, 1, px24RGB);
    const int levels[4] = {0, 100, 200, 250};
    for (int x = 0; x < 4; ++x) {
        const auto v = static_cast<uint8_t>(levels[x]);
        ref->SetPixelRGB(x, 0, TPxRGB{v, v, v});
    }
    // Blue rising, green falling, red a single level (equalised to 255).
    auto target = std::make_unique<TPxBitmap>(2, 2, px24RGB);
    const TPxRGB in[4] = {{10, 40, 5}, {20, 30, 5}, {30, 20, 5}, {40, 10, 5}};
    for (int i = 0; i < 4; ++i)
        target->SetPixelRGB(i % 2, i / 2, in[i]);
    PxMatchHistogram(ref.get(), target.get());
    const TPxRGB want[4] = {{0, 250, 250}, {100, 200, 250}, {200, 100, 250}, {250, 0, 250}};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(target->GetPixelRGB(i % 2, i / 2), want[i]) << i;

    // pxRGB48: the high byte decides, the result is level * 257; the words
    // are red, green, blue.
    TPxBitmap deep(4, 1, pxRGB48);
    for (int x = 0; x < 4; ++x)
        deep.SetPixelRGB48(x, 0, TPxRGB48{uint16_t(5 * 256 + x), uint16_t((4 - x) * 2560 + 77), uint16_t((x + 1) * 2560)});
    PxMatchHistogram(ref.get(), &deep);
    for (int x = 0; x < 4; ++x) {
        const TPxRGB48 p = deep.GetPixelRGB48(x, 0);
        EXPECT_EQ(p.b, levels[x] * 257) << x;
        EXPECT_EQ(p.g, levels[3 - x] * 257) << x;
        EXPECT_EQ(p.r, 250 * 257) << x;
    }

    // A reference that is not px24RGB, an empty one, or a target of another
    // format: nothing changes.
    auto before = std::make_unique<TPxBitmap>(2, 2, px24RGB);
    for (int i = 0; i < 4; ++i)
        before->SetPixelRGB(i % 2, i / 2, in[i]);
    TPxBitmap grayRef(4, 1, px8g);
    grayRef.Fill(100);
    TPxBitmap emptyRef;
    PxMatchHistogram(&grayRef, before.get());
    PxMatchHistogram(&emptyRef, before.get());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(before->GetPixelRGB(i % 2, i / 2), in[i]);
    TPxBitmap grayTarget(2, 1, px8g);
    grayTarget.SetPixelGray8(0, 0, 10);
    grayTarget.SetPixelGray8(1, 0, 40);
    PxMatchHistogram(ref.get(), &grayTarget);
    EXPECT_EQ(grayTarget.GetPixelGray8(0, 0), 10);
    EXPECT_EQ(grayTarget.GetPixelGray8(1, 0), 40);
}

// ---- channel order

TEST_F(PxEffectsAlpha, ReorderChannels)
{
    const TPxRGB p{10, 20, 30};  // blue, green, red
    const struct {
        const wchar_t* code;
        TPxRGB want;
    } cases[] = {
        {L"BGR", {10, 20, 30}}, {L"RGB", {30, 20, 10}}, {L"rgb", {30, 20, 10}}, {L"00R", {0, 0, 30}},
        {L"GGB", {20, 20, 10}}, {L"RG", {10, 20, 30}},  {L"RGBB", {10, 20, 30}}, {L"RGX", {10, 20, 30}},
    };
    for (const auto& c : cases) {
        auto b = Solid(3, 4, p);
        PxReorderChannels(b.get(), c.code, nullptr, TPxProgressEvent());
        EXPECT_EQ(b->GetPixelRGB(2, 3), c.want) << std::string(c.code, c.code + wcslen(c.code));
    }

    // "RGB" twice restores the image; progress Trunc(y / height * 100).
    auto b = Solid(3, 4, p);
    b->SetPixelRGB(1, 1, TPxRGB{1, 2, 3});
    TProgressLog log;
    PxReorderChannels(b.get(), L"RGB", &log, TPxProgressEvent(&log, &TProgressLog::OnProgress));
    EXPECT_EQ(b->GetPixelRGB(1, 1), (TPxRGB{3, 2, 1}));
    PxReorderChannels(b.get(), L"RGB", &log, TPxProgressEvent(&log, &TProgressLog::OnProgress));
    EXPECT_EQ(b->GetPixelRGB(1, 1), (TPxRGB{1, 2, 3}));
    EXPECT_EQ(b->GetPixelRGB(0, 0), p);
    EXPECT_EQ(log.values, (std::vector<int>{0, 25, 50, 75, 0, 25, 50, 75}));

    // pxRGB48 words are red, green, blue; other formats are left alone.
    TPxBitmap deep(1, 1, pxRGB48);
    deep.SetPixelRGB48(0, 0, TPxRGB48{1000, 2000, 3000});
    PxReorderChannels(&deep, L"0BR", nullptr, TPxProgressEvent());
    EXPECT_EQ(deep.GetPixelRGB48(0, 0), (TPxRGB48{1000, 3000, 0}));
    TPxBitmap g(1, 1, px8g);
    g.SetPixelGray8(0, 0, 9);
    PxReorderChannels(&g, L"00R", nullptr, TPxProgressEvent());
    EXPECT_EQ(g.GetPixelGray8(0, 0), 9);
}

// ---- transparent pixels

TEST_F(PxEffectsAlpha, FillTransparentPaintsOnlyAlphaZero)
{
    auto b = Solid(3, 1, TPxRGB{1, 2, 3});
    PxFillTransparent(b.get(), Shadow);
    ASSERT_TRUE(b->HasAlphaChannel());
    EXPECT_EQ(AlphaRow(*b, 0), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(b->GetPixelRGB(1, 0), (TPxRGB{1, 2, 3}));

    b->SetAlpha(0, 0, 0);
    b->SetAlpha(1, 0, 1);
    PxFillTransparent(b.get(), Shadow);
    EXPECT_EQ(b->GetPixelRGB(0, 0), Shadow);
    EXPECT_EQ(b->GetPixelRGB(1, 0), (TPxRGB{1, 2, 3}));
    EXPECT_EQ(b->GetPixelRGB(2, 0), (TPxRGB{1, 2, 3}));

    TPxBitmap g(2, 1, px8g);
    g.Fill(9);
    g.SetAlpha(0, 0, 0);
    PxFillTransparent(&g, Shadow);
    EXPECT_EQ(g.GetPixelGray8(0, 0), 9);
}

}  // namespace
