// Magic-wand region finding: contour polygons, connected fill (with and
// without dilation), the global mode, tolerance, and start points outside
// the image.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxMask.h"
#include "imaging/views/view/PxMagicWand.h"

using namespace imaging;

namespace {

// An image drawn from text rows: '.' white, '#' black, 'g' grey (120),
// 'h' grey (130).
void Draw(TPxBitmap& Bitmap, const std::vector<std::string>& Rows, TPxPixelFormat Format = px24RGB)
{
    const int h = static_cast<int>(Rows.size());
    const int w = static_cast<int>(Rows[0].size());
    Bitmap.Allocate(w, h, px24RGB);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t v = 255;
            switch (Rows[static_cast<size_t>(y)][static_cast<size_t>(x)]) {
            case '#': v = 0; break;
            case 'g': v = 120; break;
            case 'h': v = 130; break;
            default: break;
            }
            Bitmap.SetPixelRGB(x, y, TPxRGB{v, v, v});
        }
    if (Format == px24RGB)
        return;
    // The same picture written directly in a grey or bilevel format.
    Bitmap.Allocate(w, h, Format);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool dark = Rows[static_cast<size_t>(y)][static_cast<size_t>(x)] == '#';
            if (Format == px8g)
                Bitmap.GetScanline(y)[x] = dark ? 0 : 255;
            else
                PxSetBit(Bitmap.GetScanline(y), x, !dark);
        }
}

// The mask as text rows: '1' set, '.' clear.
std::vector<std::string> MaskRows(const TPxMask& Mask)
{
    std::vector<std::string> rows;
    for (int y = 0; y < Mask.Height; ++y) {
        std::string row;
        for (int x = 0; x < Mask.Width; ++x)
            row += Mask.GetPixel(x, y) ? '1' : '.';
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::pair<int, int>> Pairs(const std::vector<POINT>& Points)
{
    std::vector<std::pair<int, int>> out;
    for (const POINT& p : Points)
        out.emplace_back(p.x, p.y);
    return out;
}

using PairList = std::vector<std::pair<int, int>>;

}  // namespace

TEST(PxMagicWandContour, WholeUniformImageGivesDoubledCorners)
{
    TPxBitmap image;
    Draw(image, {"...", "..."});
    int count = -1;
    const auto points = PxMagicWandContour(&image, 1, 1, false, 0, count);
    EXPECT_EQ(count, 8);
    EXPECT_EQ(Pairs(points), (PairList{{0, 0}, {3, 0}, {3, 0}, {3, 2}, {3, 2}, {0, 2}, {0, 2}, {0, 0}}));
}

TEST(PxMagicWandContour, SinglePixelWithAndWithoutDilate)
{
    TPxBitmap image;
    std::vector<std::string> rows(10, std::string(9, '#'));
    rows[7][5] = '.';
    rows[6][5] = 'g';  // far from white: not similar at tolerance 15
    Draw(image, rows);
    const PairList expected{{5, 7}, {6, 7}, {6, 7}, {6, 8}, {6, 8}, {5, 8}, {5, 8}, {5, 7}};
    for (bool dilate : {false, true}) {
        int count = 0;
        const auto points = PxMagicWandContour(&image, 5, 7, dilate, 15, count);
        EXPECT_EQ(Pairs(points), expected) << "dilate " << dilate;
        EXPECT_EQ(count, 8);
    }
}

TEST(PxMagicWandContour, LShapeFollowsConcaveCorner)
{
    TPxBitmap image;
    Draw(image, {"#####",
                 "#..##",
                 "#..##",
                 "#....",
                 "#####"});
    int count = 0;
    const auto points = PxMagicWandContour(&image, 1, 1, false, 0, count);
    // Convex corners twice, the concave corner (3, 3) once.
    EXPECT_EQ(Pairs(points), (PairList{{1, 1}, {3, 1}, {3, 1}, {3, 3}, {5, 3}, {5, 3}, {5, 4}, {5, 4}, {1, 4}, {1, 4},
                                       {1, 1}}));
    // The polygon filled into a mask gives back exactly the region.
    TPxMask mask;
    mask.AllocateBits(5, 5, 1);
    mask.FillPolygon(1, points.data(), count);
    EXPECT_EQ(MaskRows(mask), (std::vector<std::string>{".....", ".11..", ".11..", ".1111", "....."}));
}

TEST(PxMagicWandContour, OutsideStartGivesNothing)
{
    TPxBitmap image;
    Draw(image, {"..", ".."});
    for (auto [x, y] : PairList{{-1, 0}, {0, -1}, {2, 0}, {0, 2}}) {
        int count = 5;
        EXPECT_TRUE(PxMagicWandContour(&image, x, y, false, 10, count).empty());
        EXPECT_EQ(count, 0);
    }
}

TEST(PxMagicWandFill, ConnectivityToleranceAndDilate)
{
    // Two white areas touching only at a corner; a light grey pair that a
    // tolerance of 10 joins to the dark grey around it.
    const std::vector<std::string> rows{"..####",
                                        "..####",
                                        "##..##",
                                        "##..gh",
                                        "######"};
    TPxBitmap image;
    Draw(image, rows);
    struct Case {
        int x, y, tolerance;
        bool dilate;
        std::vector<std::string> expected;
    } cases[] = {
        {0, 0, 0, false, {"11....", "11....", "......", "......", "......"}},
        {3, 3, 0, false, {"......", "......", "..11..", "..11..", "......"}},
        {4, 3, 0, false, {"......", "......", "......", "....1.", "......"}},
        {4, 3, 10, false, {"......", "......", "......", "....11", "......"}},
        // Dilation grows one pixel all around, clipped to the image.
        {0, 0, 0, true, {"111...", "111...", "111...", "......", "......"}},
        {5, 3, 0, true, {"......", "......", "....11", "....11", "....11"}},
    };
    for (const Case& c : cases) {
        TPxMask mask;
        mask.AllocateBits(6, 5, 1);
        PxMagicWandFill(&image, c.x, c.y, 1, &mask, c.tolerance, c.dilate);
        EXPECT_EQ(MaskRows(mask), c.expected) << c.x << "," << c.y << " tol " << c.tolerance << " dilate " << c.dilate;
    }
}

TEST(PxMagicWandFill, KeepsMaskAndIgnoresOutsideStart)
{
    TPxBitmap image;
    Draw(image, {"..#", "..#"});
    TPxMask mask;
    mask.AllocateBits(3, 2, 1);
    mask.SetPixel(2, 1, 1);
    PxMagicWandFill(&image, 3, 0, 1, &mask, 255, false);
    PxMagicWandFill(&image, 0, -1, 1, &mask, 255, false);
    EXPECT_EQ(MaskRows(mask), (std::vector<std::string>{"...", "..1"}));
    PxMagicWandFill(&image, 0, 0, 1, &mask, 0, false);
    EXPECT_EQ(MaskRows(mask), (std::vector<std::string>{"11.", "111"}));
}

TEST(PxMagicWandGlobal, FindsEverySimilarPixelWithoutConnectivity)
{
    TPxBitmap image;
    Draw(image, {"..####", "..####", "##..##", "##..#.", "#####."});
    TPxMask mask;
    mask.AllocateBits(6, 5, 1);
    PxMagicWandGlobal(&image, 0, 0, 1, &mask, 0);
    EXPECT_EQ(MaskRows(mask), (std::vector<std::string>{"11....", "11....", "..11..", "..11.1", ".....1"}));
}

TEST(PxMagicWand, OtherPixelFormatsReadAsRGB)
{
    // A grey image and a 1-bit image behave as their RGB equivalents.
    const std::vector<std::string> rows{"..##", ".###", "##.."};
    for (TPxPixelFormat format : {px8g, px1g}) {
        TPxBitmap image;
        Draw(image, rows, format);
        ASSERT_EQ(image.GetPixelFormat(), format);
        TPxMask mask;
        mask.AllocateBits(4, 3, 1);
        PxMagicWandFill(&image, 0, 0, 1, &mask, 0, false);
        EXPECT_EQ(MaskRows(mask), (std::vector<std::string>{"11..", "1...", "...."})) << format;
        int count = 0;
        const auto points = PxMagicWandContour(&image, 3, 2, false, 0, count);
        EXPECT_EQ(Pairs(points), (PairList{{2, 2}, {4, 2}, {4, 2}, {4, 3}, {4, 3}, {2, 3}, {2, 3}, {2, 2}})) << format;
    }
}
