// The 38 blend operations of PxBlendPixel on a few pixel pairs each. The
// expected values were worked out from the operations' integer formulas
// independently of this code (halving, shifts and truncating divisions done
// by hand), so a wrong shift, a rounding division or a swapped operand
// shows up as a differing channel.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/PxBlend.h"

using namespace imaging;

namespace {

struct Rgb {
    int r, g, b;
};

// Source and destination of the four pairs (red, green, blue).
const Rgb kSource[4] = {{10, 200, 30}, {255, 0, 128}, {60, 140, 200}, {96, 32, 32}};
const Rgb kDest[4] = {{50, 50, 50}, {100, 200, 127}, {0, 255, 180}, {64, 64, 192}};

struct BlendCase {
    int op;
    Rgb want[4];
};

// clang-format off
const BlendCase kCases[] = {
    { 0, {{ 10, 200,  30}, {255,   0, 128}, { 60, 140, 200}, { 96,  32,  32}}},
    { 1, {{ 60, 250,  80}, {255, 200, 255}, { 60, 255, 255}, {160,  96, 224}}},
    { 2, {{ 40, 150,  20}, {155, 200,   1}, { 60, 115,  20}, { 32,  32, 160}}},
    { 3, {{  5,   0,   1}, {  0, 200,   0}, {  0,   1,   0}, {  0,   2,   6}}},
    { 4, {{  1,  39,   5}, { 99,   0,  63}, {  0, 139, 140}, { 24,   8,  24}}},
    { 5, {{ 58, 250,  62}, {255, 200, 255}, { 60, 255, 252}, { 96,  96, 224}}},
    { 6, {{  2,   0,  18}, {100,   0,   0}, {  0, 140, 128}, { 64,   0,   0}}},
    { 7, {{ 56, 250,  44}, {155, 200, 255}, { 60, 115, 124}, { 32,  96, 224}}},
    { 8, {{ 50, 200,  50}, {255, 200, 128}, { 60, 255, 200}, { 96,  64, 192}}},
    { 9, {{ 10,  50,  30}, {100,   0, 127}, {  0, 140, 180}, { 64,  32,  32}}},
    {10, {{ 30, 125,  40}, {177, 100, 127}, { 30, 197, 190}, { 80,  48, 112}}},
    {11, {{ 59, 211,  75}, {255, 201, 192}, { 61, 255, 239}, {137,  89, 201}}},
    {12, {{ 60, 250,  80}, {155, 200, 255}, { 60, 115, 130}, {160,  96, 224}}},
    {13, {{ 57, 172,  69}, {156, 200, 128}, { 60, 117,  99}, {112,  80, 176}}},
    {14, {{  3,  78,  11}, {199, 146, 127}, {  0, 255, 223}, { 48,  16, 146}}},
    {15, {{  3, 167,  11}, {255,   0, 128}, {  0, 255, 223}, { 48,  16,  48}}},
    {16, {{ 12,  85,  19}, {159, 156, 127}, {  0, 255, 199}, { 52,  28, 156}}},
    {17, {{ 12,  72,  18}, {159, 157, 126}, {  0, 254, 209}, { 52,  28, 156}}},
    {18, {{ 52, 232,  56}, {255, 200, 255}, {  0, 255, 255}, {103,  73, 220}}},
    {19, {{  0,   0,   0}, {100,   0,   0}, {  0, 255, 159}, {  0,   0,   0}}},
    {20, {{ 12, 249,  37}, {255,   0, 255}, { 60, 255, 255}, {128,  42, 130}}},
    {21, {{  0,   0,   0}, {255,   0,   0}, {  0, 140, 177}, {  0,   0,   0}}},
    {22, {{ 26, 116,  28}, {255, 100, 128}, {  0, 198, 216}, { 51,  36, 110}}},
    {23, {{  6, 124,  18}, {178,   0, 128}, { 30, 255, 207}, { 64,  21,  65}}},
    {24, {{ 10,  45,  11}, {255, 156, 127}, {  0, 255, 255}, { 25,  18, 165}}},
    {25, {{  0, 195,   4}, {255,   0, 128}, { 14, 255, 255}, { 48,   5,  16}}},
    {26, {{  0,  45,   0}, {161,   0, 127}, {  0, 255, 227}, {  0,   0, 131}}},
    {27, {{  0, 195,   0}, {255,   0, 128}, {  0, 204, 239}, {  0,   0,   0}}},
    {28, {{  0,   0,   0}, { 99,   0,   0}, {  0, 139, 124}, {  0,   0,   0}}},
    {29, {{ 12, 126,  16}, {171, 114, 128}, { 17, 202, 217}, { 59,  24, 115}}},
    {30, {{  0, 194,   0}, {255,   0, 127}, {  0, 255, 255}, {  0,   0,   0}}},
    {31, {{ 10,  50,  50}, {255, 200, 127}, { 60, 255, 180}, { 96,  64, 192}}},
    {32, {{ 50, 200,  50}, {100,   0, 127}, {  0, 140, 180}, { 64,  32, 192}}},
    {33, {{ 50,  50,  30}, {100, 200, 128}, {  0, 255, 200}, { 64,  64,  32}}},
    {34, {{ 50,  50,  50}, {200, 100, 150}, {  0, 146, 255}, {192,  64,  64}}},
    {35, {{ 95,   5,   5}, { 45, 255, 102}, { 56, 199, 157}, { 64,  64, 192}}},
    {36, {{  5,  95,  14}, {255,  45, 150}, { 56, 138, 199}, {192,  64,  64}}},
    {37, {{105, 105, 105}, {188,  67, 128}, {  5, 148, 255}, { 96,  32,  32}}},
};
// clang-format on

class PxBlendPixelTest : public ::testing::Test {
protected:
    // Operation 29 reads the cosine table that the toolkit's start-up fills.
    void SetUp() override { PxInitCosineTable(); }
};

TEST_F(PxBlendPixelTest, EveryOperationOnPixelPairs)
{
    ASSERT_EQ(std::size(kCases), static_cast<size_t>(PxBlendOperationCount));
    for (const BlendCase& c : kCases) {
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE("operation " + std::to_string(c.op) + " pair " + std::to_string(i));
            const TPxRGB s = PxMakeRGB(static_cast<uint8_t>(kSource[i].r), static_cast<uint8_t>(kSource[i].g),
                                       static_cast<uint8_t>(kSource[i].b));
            TPxRGB d = PxMakeRGB(static_cast<uint8_t>(kDest[i].r), static_cast<uint8_t>(kDest[i].g),
                                 static_cast<uint8_t>(kDest[i].b));
            PxBlendPixel(s, d, c.op);
            EXPECT_EQ(d.r, c.want[i].r);
            EXPECT_EQ(d.g, c.want[i].g);
            EXPECT_EQ(d.b, c.want[i].b);
        }
    }
}

TEST_F(PxBlendPixelTest, UnknownOperationLeavesDestination)
{
    for (int op : {-1, 38, 255}) {
        TPxRGB d = PxMakeRGB(1, 2, 3);
        PxBlendPixel(PxMakeRGB(200, 100, 50), d, op);
        EXPECT_EQ(d, PxMakeRGB(1, 2, 3)) << op;
    }
}

}  // namespace
