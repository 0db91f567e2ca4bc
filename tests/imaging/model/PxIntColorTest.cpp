#include <gtest/gtest.h>

#include <cstring>

#include "classlib/Graphics.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxIntColor.h"

using namespace imaging;

namespace {

TEST(PxIntColorTest, RoundingMinMaxAndClamping)
{
    struct Real {
        double x;
        int ceil, floor;
    } reals[] = {{-0.5, 0, -1}, {-1.5, -1, -2}, {2.0, 2, 2}, {3.0, 3, 3}, {2.25, 3, 2}, {0.0, 0, 0}};
    for (const auto& r : reals) {
        EXPECT_EQ(PxCeil(r.x), r.ceil) << r.x;
        EXPECT_EQ(PxFloor(r.x), r.floor) << r.x;
    }
    struct Clamp {
        int v, result;
    } clamps[] = {{5, 5}, {9, 9}, {4, 5}, {10, 9}, {7, 7}};
    for (const auto& c : clamps)
        EXPECT_EQ(PxClampInt(c.v, 5, 9), c.result) << c.v;
    EXPECT_EQ(PxClampByte(-1), 0);
    EXPECT_EQ(PxClampByte(256), 255);
    EXPECT_EQ(PxClampByte(128), 128);
    EXPECT_EQ(PxMaxInt(-3, 2), 2);
    EXPECT_EQ(PxMinInt(-3, 2), -3);
    EXPECT_EQ(PxMinFloat(1.5, -2), -2);
    EXPECT_EQ(PxMaxFloat(1.5, -2), 1.5);

    int x1 = 9, y1 = 1, x2 = 2, y2 = 8;
    PxNormalizeRect(x1, y1, x2, y2);
    EXPECT_EQ(x1, 2);
    EXPECT_EQ(x2, 9);
    EXPECT_EQ(y1, 1);
    EXPECT_EQ(y2, 8);
    TPxIntPoint q;
    PxPointOffset({3, 4}, {10, -10}, q);
    EXPECT_EQ(q, (TPxIntPoint{13, -6}));
    PxPointDiff({3, 4}, {10, -10}, q);
    EXPECT_EQ(q, (TPxIntPoint{-7, 14}));
}

TEST(PxIntColorTest, ColourPackingAndSystemColours)
{
    const TPxRGB c = PxMakeRGB(0x11, 0x22, 0x33);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&c);
    EXPECT_EQ(bytes[0], 0x33);  // stored blue, green, red
    EXPECT_EQ(bytes[2], 0x11);
    EXPECT_EQ(PxRGBToColor(c), 0x332211);
    EXPECT_TRUE(PxSameRGB(PxColorToRGB(0x332211), c));
    EXPECT_EQ(PxColorToARGB(0x332211, 0x80), 0x80112233u);

    const TPxCMYK k = PxMakeCMYK(1, 2, 3, 4);
    uint32_t packed;
    std::memcpy(&packed, &k, 4);
    EXPECT_EQ(packed, 0x04030201u);

    // System colours are resolved first.
    const COLORREF window = ::GetSysColor(COLOR_WINDOW);
    const TPxRGB sys = PxColorToRGB(classlib::clWindow);
    EXPECT_EQ(sys.r, GetRValue(window));
    EXPECT_EQ(sys.g, GetGValue(window));
    EXPECT_EQ(sys.b, GetBValue(window));
}

TEST(PxIntColorTest, GreyLevelsFollowTheWeights)
{
    PxDefsInit();
    struct Case {
        uint8_t r, g, b;
        int grey;
    } cases[] = {{255, 0, 0, 53}, {0, 255, 0, 181}, {0, 0, 255, 20}, {255, 255, 255, 255}, {10, 10, 10, 10}};
    for (const auto& c : cases)
        EXPECT_EQ(PxRGB2Gray(PxMakeRGB(c.r, c.g, c.b)), c.grey) << int(c.r) << "," << int(c.g) << "," << int(c.b);

    // The globals are read at every call.
    PxGrayWeightR = 100;
    PxGrayWeightG = 0;
    PxGrayWeightB = 0;
    EXPECT_EQ(PxRGB2Gray(PxMakeRGB(77, 200, 1)), 77);
    PxDefsInit();
}

TEST(PxIntColorTest, HslConversions)
{
    struct ToRgb {
        double h, s, l;
        uint8_t r, g, b;
    } toRgb[] = {
        {0, 1, 0.5, 255, 0, 0},
        {0, 0, 0.5, 128, 128, 128},  // 127.5 rounds to the even 128
        {1.0 / 3, 1, 0.5, 0, 255, 0},
        {2.0 / 3, 1, 0.5, 0, 0, 255},
        {-2.0 / 3, 1, 0.5, 0, 255, 0},  // below 0: one turn added
        {0.5, 2, 1.5, 255, 255, 255},   // S and L clamped
        {1.0 / 6, 0.5, 0.25, 96, 96, 32},
    };
    for (const auto& c : toRgb) {
        TPxRGB got;
        PxHSL2RGB(c.h, c.s, c.l, got);
        EXPECT_EQ(got, PxMakeRGB(c.r, c.g, c.b)) << c.h << " " << c.s << " " << c.l;
    }

    double h, s, l;
    PxRGB2HSL(PxMakeRGB(90, 90, 90), h, s, l);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(s, 0);
    EXPECT_DOUBLE_EQ(l, 90 / 255.0);
    PxRGB2HSL(PxMakeRGB(0, 0, 255), h, s, l);
    EXPECT_DOUBLE_EQ(h, 2.0 / 3);
    EXPECT_DOUBLE_EQ(s, 1);
    PxRGB2HSL(PxMakeRGB(255, 0, 128), h, s, l);  // negative hue wraps
    EXPECT_GT(h, 0.9);
    EXPECT_LT(h, 1);

    // Round trip of a grid of colours.
    for (int r = 0; r < 256; r += 15)
        for (int g = 0; g < 256; g += 17)
            for (int b = 0; b < 256; b += 51) {
                const TPxRGB c = PxMakeRGB(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b));
                TPxRGB back;
                PxRGB2HSL(c, h, s, l);
                PxHSL2RGB(h, s, l, back);
                ASSERT_EQ(back, c) << r << "," << g << "," << b;
            }
}

TEST(PxIntColorTest, OneBitRowAccess)
{
    uint8_t row[3] = {};
    PxSetBit(row, 9, true);
    EXPECT_EQ(row[1], 64);
    EXPECT_EQ(PxGetBit(row, 9), 64);
    EXPECT_EQ(PxGetBit(row, 8), 0);
    PxSetBit(row, 0, true);
    PxSetBit(row, 23, true);
    EXPECT_EQ(row[0], 0x80);
    EXPECT_EQ(row[2], 0x01);
    PxSetBit(row, 9, false);
    EXPECT_EQ(row[1], 0);
    EXPECT_NE(PxGetBit(row, 23), 0);
}

TEST(PxIntColorTest, RedBlueExchanges)
{
    uint8_t src[6] = {1, 2, 3, 4, 5, 6};
    uint8_t dst[7] = {0, 0, 0, 0, 0, 0, 99};
    PxCopySwapRB(dst, src, 2);
    const uint8_t swapped[7] = {3, 2, 1, 6, 5, 4, 99};
    EXPECT_EQ(std::memcmp(dst, swapped, 7), 0);
    PxSwapRBTriples(dst, 1);
    EXPECT_EQ(dst[0], 1);
    EXPECT_EQ(dst[3], 6);  // second pixel untouched
    PxSwapRBTriples(dst, -1);
    PxCopySwapRB(dst, src, 0);
    EXPECT_EQ(dst[0], 1);

    uint16_t p48[6] = {100, 200, 300, 400, 500, 600};
    PxSwapRB48(p48, 2);
    const uint16_t want48[6] = {300, 200, 100, 600, 500, 400};
    EXPECT_EQ(std::memcmp(p48, want48, sizeof(p48)), 0);

    TPxRGB pal[2] = {PxMakeRGB(1, 2, 3), PxMakeRGB(4, 5, 6)};
    PxSwapRBPalette(pal, 1);
    EXPECT_EQ(pal[0], PxMakeRGB(3, 2, 1));
    EXPECT_EQ(pal[1], PxMakeRGB(4, 5, 6));
}

}  // namespace
