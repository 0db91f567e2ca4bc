#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/proc/PxRotate.h"
#include "support/ValueScope.h"

using namespace imaging;

namespace {

constexpr double kPi = 3.14159265358979323846;

enum class Store { Memory, File };

// New images go to a temporary file (File) or stay in memory while the
// scope lives.
class StoreScope : public testsupport::TValueScope<int64_t> {
public:
    explicit StoreScope(Store s) : TValueScope(PxMemoryThreshold, s == Store::File ? 0 : (int64_t{1} << 40)) {}
};

int Bpp(TPxPixelFormat f)
{
    return PxPixelFormatBits[f] / 8;
}

// The bytes of pixel (x, y), or for px1g one byte 0/1.
std::vector<uint8_t> Px(TPxBitmap& b, int x, int y)
{
    const uint8_t* row = b.GetScanline(y);
    if (b.GetPixelFormat() == px1g)
        return {static_cast<uint8_t>((row[x / 8] >> (7 - x % 8)) & 1)};
    const int n = Bpp(b.GetPixelFormat());
    return std::vector<uint8_t>(row + x * n, row + x * n + n);
}

// An image whose pixels all differ (px1g: an irregular bit pattern); a px8p
// image gets a palette.
std::unique_ptr<TPxBitmap> Pattern(TPxPixelFormat f, int w, int h)
{
    auto b = std::make_unique<TPxBitmap>(w, h, f);
    EXPECT_EQ(b->GetWidth(), w);
    const int n = Bpp(f);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b->GetScanline(y);
        std::memset(row, 0, static_cast<size_t>(b->GetRowLen()));
        for (int x = 0; x < w; ++x) {
            if (f == px1g) {
                if (((x * 7 + y * 13) ^ (x * y)) % 3 == 0)
                    row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            } else {
                for (int i = 0; i < n; ++i)
                    row[x * n + i] = static_cast<uint8_t>((y * w + x) * n + i + 1);
            }
        }
    }
    if (f == px8p)
        for (int i = 0; i < 16; ++i)
            b->SetPaletteEntry(i, TPxRGB{static_cast<uint8_t>(i), static_cast<uint8_t>(2 * i), 9});
    return b;
}

using Mapping = std::function<void(int w, int h, int x, int y, int& sx, int& sy)>;

// One quarter turn anticlockwise as seen on screen: the top-right pixel
// becomes the top-left one, the first column becomes the last row.
void QuarterAnti(int w, int, int x, int y, int& sx, int& sy)
{
    sx = w - 1 - y;
    sy = x;
}

// Expected source coordinates of (x, y) after n anticlockwise quarter turns
// of a w x h image, by composing single quarter turns.
void Quarters(int n, int w, int h, int x, int y, int& sx, int& sy)
{
    n = ((n % 4) + 4) % 4;
    // Walk back from the result through the intermediate images.
    std::vector<std::pair<int, int>> sizes{{w, h}};
    for (int i = 0; i < n; ++i)
        sizes.push_back({sizes.back().second, sizes.back().first});
    for (int i = n; i > 0; --i) {
        int px, py;
        QuarterAnti(sizes[i - 1].first, sizes[i - 1].second, x, y, px, py);
        x = px;
        y = py;
    }
    sx = x;
    sy = y;
}

// Checks every pixel of Result against Source through the mapping.
void ExpectMapped(TPxBitmap& Source, TPxBitmap& Result, int W, int H, const Mapping& map)
{
    ASSERT_EQ(Result.GetPixelFormat(), Source.GetPixelFormat());
    ASSERT_EQ(Result.GetWidth(), W);
    ASSERT_EQ(Result.GetHeight(), H);
    const int w = Source.GetWidth(), h = Source.GetHeight();
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            int sx, sy;
            map(w, h, x, y, sx, sy);
            ASSERT_EQ(Px(Result, x, y), Px(Source, sx, sy)) << "at " << x << "," << y;
        }
}

struct FormatCase {
    TPxPixelFormat f;
    int w, h;
};
// px1g widths cross byte boundaries (11, and 9 rows turning into 9 columns).
const FormatCase kFormats[] = {{px1g, 11, 9},  {px8p, 3, 2},    {px8g, 3, 2},     {px16g, 3, 2},   {px24RGB, 3, 2},
                               {px32f, 3, 2},  {pxCMYK, 3, 2},  {pxRGB48, 3, 2},  {pxCIELab, 3, 2}, {px32RGB, 3, 2}};

using Rotator = std::function<void(TPxBitmap*, double)>;

// Right angles are exact permutations in every format, storage and rotator,
// the format (and palette) kept, the access byte restored.
TEST(PxRotateTest, RightAnglesEveryFormatAndStore)
{
    const TPxProgressEvent none;
    const std::pair<const char*, Rotator> rotators[] = {
        {"PxRotateNearest", [&](TPxBitmap* b, double a) { PxRotateNearest(b, 0x123456, nullptr, none, a); }},
        {"PxRotateBitmap", [&](TPxBitmap* b, double a) { PxRotateBitmap(b, true, nullptr, none, TPxRGB{1, 2, 3}, a); }},
        {"PxRotateImage", [&](TPxBitmap* b, double a) { PxRotateImage(b, a, false, 0, 0xFFFFFF, nullptr, none); }},
    };
    const struct {
        double angle;
        int quarters;
    } angles[] = {{90, 1}, {180, 2}, {270, 3}, {-90, 3}, {-180, 2}, {360, 0}, {450, 1}};
    for (Store store : {Store::Memory, Store::File}) {
        StoreScope scope(store);
        for (const auto& fc : kFormats)
            for (const auto& [name, rotate] : rotators)
                for (const auto& a : angles) {
                    SCOPED_TRACE(std::string(name) + " format " + std::to_string(fc.f) + " angle " +
                                 std::to_string(a.angle) + (store == Store::File ? " file" : " memory"));
                    auto src = Pattern(fc.f, fc.w, fc.h);
                    ASSERT_EQ(src->GetLocation(), store == Store::File ? pxFile : pxMemory);
                    auto img = Pattern(fc.f, fc.w, fc.h);
                    rotate(img.get(), a.angle);
                    const bool odd = a.quarters % 2 != 0;
                    ExpectMapped(*src, *img, odd ? fc.h : fc.w, odd ? fc.w : fc.h,
                                 [&](int w, int h, int x, int y, int& sx, int& sy) {
                                     Quarters(a.quarters, w, h, x, y, sx, sy);
                                 });
                    EXPECT_EQ(img->Access, pxAccessReadWrite);
                    if (fc.f == px8p) {
                        EXPECT_EQ(img->GetPaletteEntry(5), (TPxRGB{5, 10, 9}));
                    }
                }
    }
}

// The corner statements: 90 takes the top-right pixel to the top-left, 270
// the bottom-left one; the clockwise and anticlockwise helpers agree.
TEST(PxRotateTest, QuarterTurnCornersAndHelpers)
{
    auto src = Pattern(px24RGB, 4, 3);
    TPxBitmap anti, clock;
    PxRotate24AntiClockwise(src.get(), &anti);
    PxRotate24Clockwise(src.get(), &clock);
    ASSERT_EQ(anti.GetWidth(), 3);
    ASSERT_EQ(anti.GetHeight(), 4);
    EXPECT_EQ(Px(anti, 0, 0), Px(*src, 3, 0));
    EXPECT_EQ(Px(clock, 0, 0), Px(*src, 0, 2));
    ExpectMapped(*src, clock, 3, 4, [](int w, int h, int x, int y, int& sx, int& sy) { Quarters(3, w, h, x, y, sx, sy); });

    auto grey = Pattern(px8g, 4, 3);
    TPxBitmap g8;
    PxRotate8Clockwise(grey.get(), &g8);
    ExpectMapped(*grey, g8, 3, 4, [](int w, int h, int x, int y, int& sx, int& sy) { Quarters(3, w, h, x, y, sx, sy); });
    TPxBitmap untouched;
    PxRotate8Clockwise(src.get(), &untouched);  // not a one-byte format
    EXPECT_TRUE(untouched.IsEmpty());
}

// Mirrors in every format and storage; px1g exactly over its width (the
// unused bits at the end of a row never enter the picture); the alpha channel
// follows; other directions change nothing.
TEST(PxRotateTest, FlipsEveryFormat)
{
    std::vector<FormatCase> cases(std::begin(kFormats), std::end(kFormats));
    cases.push_back({px1g, 10, 3});
    cases.push_back({px1g, 16, 2});
    for (Store store : {Store::Memory, Store::File}) {
        StoreScope scope(store);
        for (const auto& fc : cases)
            for (uint8_t dir : {0, 1, 2}) {
                SCOPED_TRACE("format " + std::to_string(fc.f) + " width " + std::to_string(fc.w) + " direction " +
                             std::to_string(dir) + (store == Store::File ? " file" : " memory"));
                auto src = Pattern(fc.f, fc.w, fc.h);
                auto img = Pattern(fc.f, fc.w, fc.h);
                if (fc.f == px1g) {
                    // Set the unused bits of every row of the image to flip.
                    for (int y = 0; y < fc.h; ++y) {
                        uint8_t* row = img->GetScanline(y);
                        for (int x = fc.w; x < img->GetRowLen() * 8; ++x)
                            row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
                    }
                }
                img->SetAlpha(0, 0, 10);
                img->SetAlpha(fc.w - 1, fc.h - 1, 20);
                PxFlipBitmap(img.get(), dir);
                ExpectMapped(*src, *img, fc.w, fc.h, [&](int w, int h, int x, int y, int& sx, int& sy) {
                    sx = dir == 0 ? w - 1 - x : x;
                    sy = dir == 1 ? h - 1 - y : y;
                });
                const int ax = dir == 0 ? fc.w - 1 : 0, ay = dir == 1 ? fc.h - 1 : 0;
                EXPECT_EQ(img->GetAlpha(ax, ay), 10);
                EXPECT_EQ(img->GetAlpha(fc.w - 1 - ax, fc.h - 1 - ay), 20);
                EXPECT_EQ(img->Access, pxAccessReadWrite);
            }
    }
}

// Arbitrary angles with the nearest rotator: the rotated bounding size, the
// background in the uncovered corners, the centre kept; memory and file give
// the same pixels. px1g corners take the nearest of black and white.
TEST(PxRotateTest, NearestArbitraryAngle)
{
    PxDefsInit();
    const TPxProgressEvent none;
    const double angle = 30;
    const int w = 21, h = 11;
    const double c = std::cos(angle * kPi / 180), s = std::sin(angle * kPi / 180);
    const int W = static_cast<int>(std::nearbyint(c * w + s * h));
    const int H = static_cast<int>(std::nearbyint(s * w + c * h));
    std::vector<std::vector<uint8_t>> results[2];
    for (Store store : {Store::Memory, Store::File}) {
        StoreScope scope(store);
        TPxBitmap img(w, h, px24RGB);
        img.Fill(0x0000FF);                     // red
        img.FillRect(8, 3, 12, 7, 0x00FF00);    // green block around the centre
        PxRotateNearest(&img, 0xFF0000, nullptr, none, angle);  // blue background
        ASSERT_EQ(img.GetWidth(), W);
        ASSERT_EQ(img.GetHeight(), H);
        EXPECT_EQ(img.GetPixelRGB(0, 0), (TPxRGB{255, 0, 0}));
        EXPECT_EQ(img.GetPixelRGB(W - 1, H - 1), (TPxRGB{255, 0, 0}));
        EXPECT_EQ(img.GetPixelRGB(W / 2, H / 2), (TPxRGB{0, 255, 0}));
        std::vector<uint8_t> all;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const auto p = Px(img, x, y);
                all.insert(all.end(), p.begin(), p.end());
            }
        results[store == Store::File].push_back(all);
    }
    EXPECT_EQ(results[0], results[1]);

    for (int32_t colour : {0x000000, 0xFFFFFF, 0x202020, 0xE0E0E0}) {
        TPxBitmap bits(w, h, px1g);
        bits.Fill(1);
        bits.FillRect(0, 0, 0, 0, 0);
        PxRotateNearest(&bits, colour, nullptr, none, angle);
        EXPECT_EQ(bits.GetPixelFormat(), px1g);
        const uint8_t expect = PxRGB2Gray(PxColorToRGB(colour)) >= 128 ? 1 : 0;
        EXPECT_EQ(Px(bits, 0, 0)[0], expect) << colour;
        EXPECT_EQ(Px(bits, W - 1, H - 1)[0], expect) << colour;
        EXPECT_EQ(Px(bits, W / 2, H / 2)[0], 1) << colour;
    }
}

// The shear rotator: 45.001 degrees is one exact quarter turn followed by
// -44.999 degrees of shear; the uncovered corners take the colour, the centre
// keeps the picture; an even uniform colour survives anti-aliasing unchanged.
TEST(PxRotateTest, ShearRotator)
{
    const TPxProgressEvent none;
    const TPxRGB bg{10, 20, 30};
    for (bool aa : {false, true}) {
        SCOPED_TRACE(aa ? "anti-aliased" : "plain");
        auto a = Pattern(px24RGB, 9, 5);
        auto b = Pattern(px24RGB, 9, 5);
        PxRotateBitmap(a.get(), aa, nullptr, none, bg, 45.001);
        PxRotateBitmap(b.get(), aa, nullptr, none, bg, 90);
        PxRotateBitmap(b.get(), aa, nullptr, none, bg, -44.999);
        EXPECT_TRUE(PxCompareBitmaps(a.get(), b.get()));

        TPxBitmap img(40, 20, px24RGB);
        img.Fill(0x646464);  // 100, 100, 100
        PxRotateBitmap(&img, aa, nullptr, none, bg, 30);
        const double c = std::cos(kPi / 6), s = std::sin(kPi / 6);
        EXPECT_NEAR(img.GetWidth(), c * 40 + s * 20, 3);
        EXPECT_NEAR(img.GetHeight(), s * 40 + c * 20, 3);
        EXPECT_EQ(img.GetPixelRGB(0, 0), bg);
        EXPECT_EQ(img.GetPixelRGB(img.GetWidth() - 1, img.GetHeight() - 1), bg);
        EXPECT_EQ(img.GetPixelRGB(img.GetWidth() / 2, img.GetHeight() / 2), (TPxRGB{100, 100, 100}));
    }

    // The 8-bit twin and the grey fallback of PxRotateBitmap keep px8g.
    TPxBitmap grey(40, 20, px8g);
    grey.Fill(100);
    PxRotateBitmap(&grey, true, nullptr, none, TPxRGB{0, 0, 0}, 30);
    EXPECT_EQ(grey.GetPixelFormat(), px8g);
    EXPECT_EQ(grey.GetPixelGray8(0, 0), 0);
    EXPECT_EQ(grey.GetPixelGray8(grey.GetWidth() / 2, grey.GetHeight() / 2), 100);
}

// The bilevel and byte rotators at other angles: format kept, the background
// in the corners, the centre kept.
TEST(PxRotateTest, BilevelAndByteRotators)
{
    for (bool bit : {false, true}) {
        TPxBitmap b(30, 14, px1g);
        b.Fill(bit ? 0 : 1);
        PxRotateBilevel(&b, bit, nullptr, 30);
        ASSERT_EQ(b.GetPixelFormat(), px1g);
        EXPECT_NEAR(b.GetWidth(), 30 * std::cos(kPi / 6) + 14 * 0.5, 2);
        EXPECT_EQ(Px(b, 0, 0)[0], bit ? 1 : 0);
        EXPECT_EQ(Px(b, b.GetWidth() / 2, b.GetHeight() / 2)[0], bit ? 0 : 1);
    }
    TPxBitmap g(30, 14, px8p);
    g.Fill(3);
    PxRotateByteImage(&g, 7, -30);
    EXPECT_EQ(g.GetPixelFormat(), px8p);
    EXPECT_EQ(g.GetPixelGray8(0, 0), 7);
    EXPECT_EQ(g.GetPixelGray8(g.GetWidth() / 2, g.GetHeight() / 2), 3);

    // A px1g image through PxRotateBitmap stays px1g; a 24-bit image given to
    // the byte rotator is left alone.
    auto p = Pattern(px1g, 11, 9);
    PxRotateBitmap(p.get(), false, nullptr, TPxProgressEvent(), TPxRGB{255, 255, 255}, 20);
    EXPECT_EQ(p->GetPixelFormat(), px1g);
    EXPECT_EQ(Px(*p, 0, 0)[0], 1);
    auto rgb = Pattern(px24RGB, 3, 2);
    PxRotateByteImage(rgb.get(), 0, 30);
    PxRotateBitmap8(rgb.get(), true, 0, nullptr, TPxProgressEvent(), 30);
    EXPECT_EQ(rgb->GetWidth(), 3);
}

// One-pixel and empty images go through every rotator without harm.
TEST(PxRotateTest, TinyAndEmptyImages)
{
    const TPxProgressEvent none;
    for (TPxPixelFormat f : {px1g, px8g, px24RGB}) {
        for (double angle : {30.0, 90.0, -45.0, 1e-9}) {
            SCOPED_TRACE(std::to_string(f) + " " + std::to_string(angle));
            TPxBitmap one(1, 1, f);
            one.Fill(f == px24RGB ? 0xFFFFFF : f == px8g ? 255 : 1);
            PxRotateNearest(&one, 0, nullptr, none, angle);
            EXPECT_EQ(one.GetPixelFormat(), f);
            EXPECT_EQ(one.GetPixelAsRGB(one.GetWidth() / 2, one.GetHeight() / 2), (TPxRGB{255, 255, 255}));
            TPxBitmap two(1, 1, f);
            PxRotateBitmap(&two, true, nullptr, none, TPxRGB{0, 0, 0}, angle);
            PxRotateSmooth24(&two, 0, 2, nullptr, none, angle);
            PxRotateSmooth8(&two, 0, 1, angle);
            PxRotateBilevel(&two, true, nullptr, angle);
            PxRotateByteImage(&two, 0, angle);
            EXPECT_EQ(two.GetPixelFormat(), f);
        }
    }
    TPxBitmap empty, dest;
    PxRotateNearestInto(&empty, &dest, 0, nullptr, none, 30);
    PxRotateNearestInto(&empty, &dest, 0, nullptr, none, 90);
    EXPECT_TRUE(dest.IsEmpty());
    PxFlipBitmap(&empty, 0);
    PxApplyEXIFOrientation(&empty, 6);
    EXPECT_TRUE(empty.IsEmpty());
}

// The smooth rotators: the rotated size without the 3-pixel frame, the
// background in the corners, the centre within one level of the picture.
TEST(PxRotateTest, SmoothRotators)
{
    for (int quality : {1, 2}) {
        SCOPED_TRACE(quality);
        TPxBitmap img(40, 20, px24RGB);
        img.Fill(0x808080);
        PxRotateSmooth24(&img, 0x0000FF, quality, nullptr, TPxProgressEvent(), 30);
        const double c = std::cos(kPi / 6), s = std::sin(kPi / 6);
        EXPECT_EQ(img.GetWidth(), static_cast<int>(std::nearbyint(s * 25 + c * 45)) - 6);
        EXPECT_EQ(img.GetHeight(), static_cast<int>(std::nearbyint(c * 25 + s * 45)) - 6);
        EXPECT_EQ(img.GetPixelRGB(0, 0), (TPxRGB{0, 0, 255}));
        const TPxRGB centre = img.GetPixelRGB(img.GetWidth() / 2, img.GetHeight() / 2);
        EXPECT_NEAR(centre.r, 128, 1);
        EXPECT_NEAR(centre.b, 128, 1);

        TPxBitmap g(40, 20, px8g);
        g.Fill(200);
        PxRotateSmooth8(&g, 0, quality, -30);
        EXPECT_EQ(g.GetPixelFormat(), px8g);
        EXPECT_EQ(g.GetPixelGray8(0, 0), 0);
        EXPECT_NEAR(g.GetPixelGray8(g.GetWidth() / 2, g.GetHeight() / 2), 200, 1);
    }
}

// The alpha channel turns along: right angles exactly, other angles with
// transparent corners.
TEST(PxRotateTest, AlphaRotatesAlong)
{
    const TPxProgressEvent none;
    auto img = Pattern(px24RGB, 3, 2);
    auto alphaSrc = Pattern(px8g, 3, 2);
    img->GetAlphaChannel()->Assign(alphaSrc.get());
    PxRotateImage(img.get(), 90, false, 0, 0, nullptr, none);
    ExpectMapped(*alphaSrc, *img->GetAlphaChannel(), 2, 3,
                 [](int w, int h, int x, int y, int& sx, int& sy) { Quarters(1, w, h, x, y, sx, sy); });

    for (bool aa : {false, true}) {
        TPxBitmap b(30, 20, px24RGB);
        b.Fill(0);
        b.GetAlphaChannel()->Fill(255);
        PxRotateImage(&b, 30, aa, aa ? 2 : 0, 0xFFFFFF, nullptr, none);
        TPxBitmap* alpha = b.GetAlphaChannel();
        ASSERT_EQ(alpha->GetWidth(), b.GetWidth()) << aa;
        ASSERT_EQ(alpha->GetHeight(), b.GetHeight()) << aa;
        EXPECT_EQ(alpha->GetPixelGray8(0, 0), 0) << aa;
        EXPECT_EQ(alpha->GetPixelGray8(b.GetWidth() / 2, b.GetHeight() / 2), 255) << aa;
        EXPECT_FALSE(alpha->FullAlpha) << aa;
    }
}

// EXIF orientations 1-8 on a 4 x 2 image with an alpha channel, expected
// placements built from mirrors and quarter turns.
TEST(PxRotateTest, EXIFOrientation)
{
    const auto mirrorX = [](int w, int, int x, int y, int& sx, int& sy) { sx = w - 1 - x, sy = y; };
    const auto mirrorY = [](int, int h, int x, int y, int& sx, int& sy) { sx = x, sy = h - 1 - y; };
    const auto cw = [](int w, int h, int x, int y, int& sx, int& sy) { Quarters(3, w, h, x, y, sx, sy); };
    const auto acw = [](int w, int h, int x, int y, int& sx, int& sy) { Quarters(1, w, h, x, y, sx, sy); };
    const auto ident = [](int, int, int x, int y, int& sx, int& sy) { sx = x, sy = y; };
    // Second step applied after the first: source of (x, y) = first(second(x, y)).
    const auto then = [](Mapping first, Mapping second, bool turns) -> Mapping {
        return [=](int w, int h, int x, int y, int& sx, int& sy) {
            int mx, my;
            second(turns ? h : w, turns ? w : h, x, y, mx, my);
            first(w, h, mx, my, sx, sy);
        };
    };
    const struct {
        int orientation;
        bool turns;
        Mapping map;
    } cases[] = {
        {0, false, ident},
        {1, false, ident},
        {2, false, mirrorX},
        {3, false, then(mirrorY, mirrorX, false)},
        {4, false, mirrorY},
        {5, true, then(cw, mirrorX, true)},
        {6, true, cw},
        {7, true, then(acw, mirrorX, true)},
        {8, true, acw},
        {9, false, ident},
    };
    for (TPxPixelFormat f : {px24RGB, px8g, px1g, pxRGB48}) {
        for (const auto& c : cases) {
            SCOPED_TRACE("orientation " + std::to_string(c.orientation) + " format " + std::to_string(f));
            const int w = f == px1g ? 11 : 4, h = f == px1g ? 9 : 2;
            auto src = Pattern(f, w, h);
            auto alphaSrc = Pattern(px8g, w, h);
            auto img = Pattern(f, w, h);
            img->GetAlphaChannel()->Assign(alphaSrc.get());
            PxApplyEXIFOrientation(img.get(), c.orientation);
            const int W = c.turns ? h : w, H = c.turns ? w : h;
            ExpectMapped(*src, *img, W, H, c.map);
            ExpectMapped(*alphaSrc, *img->GetAlphaChannel(), W, H, c.map);
        }
    }
    // Orientation 6: the former bottom-left pixel at the top-left.
    auto p = Pattern(px24RGB, 4, 2);
    auto q = Pattern(px24RGB, 4, 2);
    PxApplyEXIFOrientation(q.get(), 6);
    EXPECT_EQ(Px(*q, 0, 0), Px(*p, 0, 1));
}

TEST(PxRotateTest, CopyBitsAndRightAngleTest)
{
    const struct {
        int destOffset, sourceBytes, count, sourceOffset;
        uint8_t expect[3];
    } cases[] = {
        // source bytes 0xB6 0x5A: 1011 0110 0101 1010
        {0, 2, 8, 0, {0xB6, 0x00, 0x00}},
        {3, 2, 8, 0, {0x16, 0xC0, 0x00}},  // dest bits before and after kept (0)
        {0, 2, 8, 4, {0x65, 0x00, 0x00}},
        {5, 2, 12, 2, {0x06, 0xCB, 0x00}},
        {0, 1, 12, 0, {0xB6, 0x00, 0x00}},  // bits beyond SourceBytes read as 0
        {0, 2, 0, 0, {0x00, 0x00, 0x00}},
        {-1, 2, 8, 0, {0x00, 0x00, 0x00}},
    };
    const uint8_t src[2] = {0xB6, 0x5A};
    for (const auto& c : cases) {
        uint8_t dest[3] = {0, 0, 0};
        PxCopyBits(dest, src, c.destOffset, c.sourceBytes, c.count, c.sourceOffset);
        EXPECT_EQ(std::vector<uint8_t>(dest, dest + 3), std::vector<uint8_t>(c.expect, c.expect + 3))
            << c.destOffset << " " << c.count << " " << c.sourceOffset;
    }
    uint8_t ones[2] = {0xFF, 0xFF};
    PxCopyBits(ones, src + 1, 4, 1, 4, 0);  // 0101 into bits 4..7, the rest kept
    EXPECT_EQ(ones[0], 0xF5);
    EXPECT_EQ(ones[1], 0xFF);

    EXPECT_TRUE(PxIsRightAngle(0));
    EXPECT_TRUE(PxIsRightAngle(-270));
    EXPECT_TRUE(PxIsRightAngle(720));
    EXPECT_FALSE(PxIsRightAngle(90.5));
    EXPECT_FALSE(PxIsRightAngle(45));
}

}  // namespace

