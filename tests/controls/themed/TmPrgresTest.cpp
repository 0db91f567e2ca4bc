#include <gtest/gtest.h>

#include <memory>

#include "classlib/Bitmap.h"
#include "controls/themed/TmPrgres.h"
#include "tests/controls/themed/TmPaintSupport.h"

using namespace classlib;
using namespace themed;
using tmtest::PaintToBitmap;
using tmtest::kRed;
using tmtest::kWhite;
using tmtest::Px;
using tmtest::ThemesOff;

namespace {

struct ChangeLog {
    int count = 0;
    int last = -1;
    void Changed(TObject*, int Percent)
    {
        ++count;
        last = Percent;
    }
};

// A bar without frame whose interior is the whole control.
void Plain(TTmProgressBar& p, TBarStyle Style)
{
    p.SetBarStyle(Style);
    p.SetBorderOuter(fsNone);
    p.SetInteriorOffset(0);
    p.SetBarColor(kRed);
    p.SetBackColor(kWhite);
}

}  // namespace

TEST(TmProgressBarTest, Defaults)
{
    TTmProgressBar p(nullptr);
    EXPECT_EQ(p.GetWidth(), 200);
    EXPECT_EQ(p.GetHeight(), 24);
    EXPECT_TRUE(p.ControlStyle & csOpaque);
    EXPECT_EQ(p.GetOrientation(), orHorizontal);
    EXPECT_EQ(p.GetBorderOuter(), fsLowered);
    EXPECT_EQ(p.GetNumSegments(), 20);
    EXPECT_EQ(p.GetFont()->GetColor(), clHighlight);
}

TEST(TmProgressBarTest, PercentAndParts)
{
    TTmProgressBar p(nullptr);
    ChangeLog log;
    p.OnChange = TProgressChangeEvent(&log, &ChangeLog::Changed);
    p.SetPercent(40);
    EXPECT_EQ(log.count, 1);
    EXPECT_EQ(log.last, 40);
    p.SetPercent(40);
    EXPECT_EQ(log.count, 1);  // same value: no event
    // Without total parts the count is limited to 0 and Percent stays.
    p.SetPartsComplete(5);
    EXPECT_EQ(p.GetPartsComplete(), 0u);
    EXPECT_EQ(p.GetPercent(), 40);
    // A new total resets count and percentage.
    p.SetTotalParts(8);
    EXPECT_EQ(p.GetPercent(), 0);
    p.SetPartsComplete(3);
    EXPECT_EQ(p.GetPercent(), 38);  // 37.5 to even
    p.SetPartsComplete(1);
    EXPECT_EQ(p.GetPercent(), 12);  // 12.5 to even
    p.SetPartsComplete(20);
    EXPECT_EQ(p.GetPartsComplete(), 8u);
    EXPECT_EQ(p.GetPercent(), 100);
    p.SetPercent(250);
    EXPECT_EQ(p.GetPercent(), 250);
    EXPECT_EQ(log.last, 250);
}

TEST(TmProgressBarTest, TextByStyle)
{
    TTmProgressBar p(nullptr);
    p.SetPercent(38);
    EXPECT_EQ(p.GetBarText(), L" 38%");
    p.Hint = L"Loading";
    EXPECT_EQ(p.GetBarText(), L"Loading 38%");
    p.SetBarStyle(bsGradient);
    EXPECT_EQ(p.GetBarText(), L"38%");
    p.SetTotalParts(8);
    p.SetPartsComplete(3);
    p.SetShowParts(true);
    EXPECT_EQ(p.GetBarText(), L"3 / 8");
    p.SetBarStyle(bsLED);
    EXPECT_FALSE(p.GetShowPercent());
    EXPECT_EQ(p.GetInteriorOffset(), 1);
    EXPECT_EQ(p.GetBarText(), L"");
    p.SetBarStyle(bsTraditional);
    p.SetShowParts(false);
    p.SetPercent(250);
    EXPECT_EQ(p.GetBarText(), L"Loading 250%");
}

TEST(TmProgressBarTest, OrientationFollowsShape)
{
    TTmProgressBar p(nullptr);
    p.SetBounds(0, 0, 20, 100);
    EXPECT_EQ(p.GetOrientation(), orVertical);
    p.SetBounds(0, 0, 100, 100);
    EXPECT_EQ(p.GetOrientation(), orHorizontal);
}

TEST(TmProgressBarTest, FilledRectAndLEDLayout)
{
    const RECT r{10, 20, 110, 70};
    struct Case {
        unsigned percent;
        TOrientation o;
        RECT filled;
    } cases[] = {
        {0, orHorizontal, {10, 20, 10, 70}},      {25, orHorizontal, {10, 20, 35, 70}},
        {100, orHorizontal, {10, 20, 110, 70}},   {250, orVertical, {10, 20, 110, 70}},
        {25, orVertical, {10, 58, 110, 70}},      // 12.5 to even: 12
        {35, orVertical, {10, 52, 110, 70}},      // 17.5 to even: 18
    };
    for (const Case& k : cases) {
        const RECT f = TmProgressFilledRect(r, k.percent, k.o);
        EXPECT_TRUE(EqualRect(&f, &k.filled)) << k.percent << " " << f.left << "," << f.top << "," << f.right
                                              << "," << f.bottom;
    }
    struct LED {
        int length, wanted, size, count, margin;
    } leds[] = {
        {60, 20, 6, 10, 0},   // short bars: at most 10 segments
        {100, 20, 5, 20, 0},  {103, 20, 5, 20, 1}, {90, 7, 12, 7, 3},
        {70, 5, 14, 5, 0},    {5, 20, 0, 10, 2},   // too short: empty segments, no division by zero
        {200, 3, 66, 3, 1},
    };
    for (const LED& k : leds) {
        const TTmLEDLayout l = TmLEDLayout(k.length, k.wanted);
        EXPECT_EQ(l.Size, k.size) << k.length;
        EXPECT_EQ(l.Count, k.count) << k.length;
        EXPECT_EQ(l.Margin, k.margin) << k.length;
    }
}

TEST(TmProgressBarTest, PaintsTraditionalBar)
{
    ThemesOff off;
    TTmProgressBar p(nullptr);
    p.SetBounds(0, 0, 100, 20);
    Plain(p, bsTraditional);
    p.SetShowPercent(false);
    p.SetPercent(30);
    {
        auto b = PaintToBitmap(&p);
        EXPECT_EQ(Px(*b, 0, 10), kRed);
        EXPECT_EQ(Px(*b, 29, 10), kRed);
        EXPECT_EQ(Px(*b, 30, 10), kWhite);
        EXPECT_EQ(Px(*b, 99, 10), kWhite);
    }
    p.SetPercent(250);
    {
        auto b = PaintToBitmap(&p);
        EXPECT_EQ(Px(*b, 99, 19), kRed);
    }
    // The text changes colour where the bar ends: white on the bar, bar
    // colour on the rest.
    p.SetShowPercent(true);
    p.SetPercent(50);
    auto b = PaintToBitmap(&p);
    int whiteOnBar = 0, redOnBack = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 30; x < 70; ++x) {
            if (x < 50 && Px(*b, x, y) != kRed) ++whiteOnBar;
            if (x >= 50 && Px(*b, x, y) != kWhite) ++redOnBack;
        }
    EXPECT_GT(whiteOnBar, 0);
    EXPECT_GT(redOnBack, 0);
}

TEST(TmProgressBarTest, PaintsLEDSegments)
{
    ThemesOff off;
    TTmProgressBar p(nullptr);
    p.SetBounds(0, 0, 60, 10);
    Plain(p, bsLED);
    p.SetPercent(55);  // 10 segments of 6 pixels, 5 lit
    {
        auto b = PaintToBitmap(&p);
        EXPECT_EQ(Px(*b, 3, 5), kRed);
        EXPECT_EQ(Px(*b, 27, 5), kRed);
        EXPECT_EQ(Px(*b, 33, 5), kWhite);
        EXPECT_EQ(Px(*b, 30, 5), kWhite);  // segment outline in the back colour
    }
    // Vertical: lit from the bottom.
    p.SetBounds(0, 0, 10, 60);
    ASSERT_EQ(p.GetOrientation(), orVertical);
    auto b = PaintToBitmap(&p);
    EXPECT_EQ(Px(*b, 5, 57), kRed);
    EXPECT_EQ(Px(*b, 5, 33), kRed);
    EXPECT_EQ(Px(*b, 5, 27), kWhite);
    EXPECT_EQ(Px(*b, 5, 3), kWhite);
}

TEST(TmProgressBarTest, PaintsFrameAndInteriorOffset)
{
    ThemesOff off;
    TTmProgressBar p(nullptr);
    p.SetBounds(0, 0, 100, 20);
    p.SetBarColor(kRed);
    p.SetBackColor(kWhite);
    p.SetBorderOuter(fsNone);
    p.SetBorderInner(fsFlat);
    p.SetFlatColor(0x00FF00);
    p.SetFlatColorAdjustment(0);
    p.SetInteriorOffset(2);
    p.SetShowPercent(false);
    p.SetPercent(100);
    auto b = PaintToBitmap(&p);
    EXPECT_EQ(Px(*b, 0, 10), 0x00FF00);   // flat inner frame
    EXPECT_EQ(Px(*b, 0, 0), ColorToRGB(clBtnFace));  // rounded corner left in the border colour
    EXPECT_EQ(Px(*b, 1, 10), kWhite);     // the offset ring
    EXPECT_EQ(Px(*b, 2, 10), kWhite);
    EXPECT_EQ(Px(*b, 3, 10), kRed);
    EXPECT_EQ(Px(*b, 96, 16), kRed);
}
