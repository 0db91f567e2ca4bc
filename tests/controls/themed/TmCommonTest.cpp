#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Controls.h"
#include "classlib/Registry.h"
#include "controls/themed/TmCommon.h"
#include "tests/controls/themed/TmPaintSupport.h"

using namespace classlib;
using namespace themed;
using tmtest::ExpectRect;

namespace {

constexpr TColor kBack = 0x123456;

// A 24-bit bitmap filled with kBack.
std::unique_ptr<TBitmap> MakeBitmap(int w, int h)
{
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf24bit);
    b->SetSize(w, h);
    b->GetCanvas()->GetBrush()->SetColor(kBack);
    b->GetCanvas()->FillRect(RECT{0, 0, w, h});
    return b;
}

TColor Px(TBitmap& b, int x, int y) { return b.GetCanvas()->GetPixel(x, y); }
int Red(TColor c) { return c & 0xFF; }
int Blue(TColor c) { return (c >> 16) & 0xFF; }

// Themes forced for the life of a test.
struct ThemesForced {
    explicit ThemesForced(bool on) { TmForceThemesEnabled(on ? 1 : 0); }
    ~ThemesForced() { TmForceThemesEnabled(-1); }
};

}  // namespace

// ------------------------------------------------------------ colours

TEST(TmColorTest, ColorToHSL)
{
    struct Case {
        TColor c;
        int h, s, l;
    } cases[] = {
        {clRed, 0, 240, 120},
        {clLime, 80, 240, 120},
        {clBlue, 160, 240, 120},
        {0x808080, 0, 0, 120},       // 128/255 * 240 = 120.47
        {clWhite, 0, 0, 240},
        {clBlack, 0, 0, 0},
        {0x0080FF, 20, 240, 120},    // orange: hue 0.0837 * 240 = 20.08
        {0x000080, 0, 240, 60},      // dark red
    };
    for (const Case& k : cases) {
        uint8_t h, s, l;
        TmColorToHSL(k.c, h, s, l);
        EXPECT_EQ(h, k.h) << std::hex << k.c;
        EXPECT_EQ(s, k.s) << std::hex << k.c;
        EXPECT_EQ(l, k.l) << std::hex << k.c;
    }
    EXPECT_EQ(TmColorHue(clBlue), 160);
}

TEST(TmColorTest, HSLToColor)
{
    struct Case {
        int h, s, l;
        TColor c;
    } cases[] = {
        {0, 240, 120, clRed},
        {160, 240, 120, 0xFF0004},  // hue over 239: 160/239 lands past the sextant start
        {120, 240, 120, 0xFFFC00},
        {239, 240, 120, clRed},     // 239 wraps to the colour of hue 0
        {77, 180, 0, clBlack},
        {0, 240, 240, clWhite},
        {100, 0, 240, clWhite},
        {200, 240, 240, clWhite},
        {0, 0, 250, clWhite},       // luminance over 240 clamps
    };
    for (const Case& k : cases)
        EXPECT_EQ(TmHSLToColor(k.h, k.s, k.l), k.c) << k.h << "," << k.s << "," << k.l;
}

TEST(TmColorTest, LuminanceShifts)
{
    EXPECT_EQ(TmLightenColor(clRed, 200), clWhite);  // L above 240 clamps to white
    EXPECT_EQ(TmDarkenColor(clRed, 200), clBlack);
    EXPECT_EQ(TmDarkenColor(clRed, 60), 0x000080);   // L 60 of pure red
    // Delta 0 returns the value untouched, even an unresolved system colour.
    EXPECT_EQ(TmShiftColorLuminance(clBtnFace, 0), clBtnFace);
    EXPECT_GE(TmShiftColorLuminance(clBtnFace, 1), 0);
    EXPECT_EQ(TmShiftColorLuminance(clRed, 300), clWhite);
    EXPECT_EQ(TmShiftColorLuminance(clRed, -60), 0x000080);
    // System colours are resolved first.
    EXPECT_EQ(TmDarkenColor(clBtnFace, 10), TmDarkenColor(ColorToRGB(clBtnFace), 10));
}

TEST(TmColorTest, MixXorSimilarComplement)
{
    EXPECT_EQ(TmMixColors(clWhite, clBlack, 40), 0x282828);
    EXPECT_EQ(TmMixColors(0x0064C8, 0xFF6400, 128), 0x7F6464);  // (200,100,0) with (0,100,255)
    EXPECT_EQ(TmMixColors(clRed, clBlue, 255), clRed);
    EXPECT_EQ(TmMixColors(clRed, clBlue, 0), clBlue);
    EXPECT_EQ(TmXorColorChannels(0x563412, 0xFF00FF), 0xA934ED);
    EXPECT_EQ(TmXorColorChannels(clBtnFace, clBtnFace), 0);

    EXPECT_TRUE(TmColorsAreSimilar(clRed, 0x0014FF));
    EXPECT_FALSE(TmColorsAreSimilar(clRed, clBlue));
    EXPECT_FALSE(TmColorsAreSimilar(clRed, 0x000080));  // luminance 60 apart
    EXPECT_TRUE(TmColorsAreSimilar(clRed, 0x000082));   // 59 apart

    EXPECT_EQ(TmComplementaryColor(clRed, 120), 0xFFFC00);
    EXPECT_EQ(TmComplementaryColor(clBlue, 0), clBlack);
}

TEST(TmColorTest, XPColorSchemeFromRegistry)
{
    const std::wstring base = L"\\Software\\VelmoTests\\TmCommon";
    struct Case {
        const wchar_t* name;
        int scheme;
    } cases[] = {{L"Metallic", 2}, {L"homestead", 1}, {L"NormalColor", 0}, {nullptr, 0}};
    for (const Case& k : cases) {
        {
            TRegistry reg;
            reg.DeleteKey(base);
            if (k.name) {
                ASSERT_TRUE(reg.OpenKey(base + L"\\ThemeManager", true));
                reg.WriteString(L"ColorName", k.name);
                reg.CloseKey();
            }
        }
        EXPECT_EQ(TmGetXPColorScheme(base), k.scheme) << (k.name ? "set" : "missing");
    }
    TRegistry reg;
    reg.DeleteKey(L"\\Software\\VelmoTests\\TmCommon");
    reg.DeleteKey(L"\\Software\\VelmoTests");
}

TEST(TmColorTest, StartupSetsTheValuesOnce)
{
    const bool savedFull = TmFullColorSupported;
    const uint8_t savedScheme = TmXPColorScheme;
    ASSERT_EQ(TmCommonStartCount(), 0);
    TmXPColorScheme = 9;
    TmCommonStartup();
    EXPECT_LE(TmXPColorScheme, 2);
    EXPECT_EQ(TmFullColorSupported, TmIsFullColorSupported());
    TmXPColorScheme = 9;
    TmCommonStartup();  // counted only
    EXPECT_EQ(TmXPColorScheme, 9);
    EXPECT_EQ(TmCommonStartCount(), 2);
    TmCommonShutdown();
    TmCommonShutdown();
    EXPECT_EQ(TmCommonStartCount(), 0);
    TmFullColorSupported = savedFull;
    TmXPColorScheme = savedScheme;
}

TEST(TmColorTest, SchemeColorsOnlyWithThemesAndOfficeStyle)
{
    const uint8_t saved = TmXPColorScheme;
    TmXPColorScheme = 1;
    TColor a, b, c;
    {
        ThemesForced on(true);
        TmGetGradientColors(gcsMSOffice, a, b);
        EXPECT_EQ(a, 0xEDFFFF);
        EXPECT_EQ(b, 0x92C7B8);
        EXPECT_EQ(TmGetGradientFlatColor(gcsMSOffice), 0x77A17F);
        TmGetThemedFrameColors(gcsMSOffice, a, b, c);
        EXPECT_EQ(a, 0x92C7B8);
        EXPECT_EQ(b, 0xEDFFFF);
        EXPECT_EQ(c, 0x92C7B8);
        TmGetBarGradientColors(gcsMSOffice, a, b);
        EXPECT_EQ(a, 0xADD9CC);
        EXPECT_EQ(b, 0x84BDA5);
        // The system style ignores the scheme even with themes on.
        TmGetGradientColors(gcsSystem, a, b);
        EXPECT_EQ(a, clWindow);
        EXPECT_EQ(b, TmDarkenColor(clBtnFace, 10));
    }
    {
        ThemesForced off(false);
        TmGetGradientColors(gcsMSOffice, a, b);
        EXPECT_EQ(a, clWindow);
        EXPECT_EQ(b, TmDarkenColor(clBtnFace, 10));
        EXPECT_EQ(TmGetGradientFlatColor(gcsMSOffice), TmLightenColor(clBtnShadow, 30));
        TmGetThemedFrameColors(gcsMSOffice, a, b, c);
        EXPECT_EQ(a, TmDarkenColor(clBtnFace, 20));
        EXPECT_EQ(b, clWindow);
        EXPECT_EQ(c, TmDarkenColor(clBtnFace, 40));
        TmGetBarGradientColors(gcsMSOffice, a, b);
        EXPECT_EQ(a, TmMixColors(clBlack, clBtnFace, 40));
        EXPECT_EQ(b, TmMixColors(clBlack, clBtnFace, 80));
        EXPECT_EQ(TmGetThemeColor(3), clBtnFace);
    }
    {
        ThemesForced on(true);
        EXPECT_EQ(TmGetThemeColor(7), clWhite);
        EXPECT_EQ(TmGetThemeColor(-1), clWhite);
    }
    TmXPColorScheme = saved;
}

TEST(TmColorTest, ExplorerBarElementNumbers)
{
    struct Case {
        int element, part, state;
    } cases[] = {{1, 0, 0}, {2, 1, 1}, {4, 1, 3}, {8, 3, 1}, {17, 5, 0}, {24, 8, 0}, {25, 9, 0}, {32, 12, 0}};
    for (const Case& k : cases) {
        int part = -1, state = -1;
        ASSERT_TRUE(TmExplorerBarElement(k.element, part, state)) << k.element;
        EXPECT_EQ(part, k.part) << k.element;
        EXPECT_EQ(state, k.state) << k.element;
    }
    int p, s;
    EXPECT_FALSE(TmExplorerBarElement(33, p, s));
}

// ------------------------------------------------------------ frames

TEST(TmFrameTest, SideLinesSkipNoneColourButShrinkEverySide)
{
    auto b = MakeBitmap(10, 8);
    RECT in;
    TmPaintSideLines(b->GetCanvas(), RECT{1, 1, 9, 7}, clNone, clRed, sdAllSides, in);
    ExpectRect(in, 2, 2, 8, 6);
    EXPECT_EQ(Px(*b, 1, 3), kBack);  // left side not drawn
    EXPECT_EQ(Px(*b, 4, 1), kBack);  // top side not drawn
    EXPECT_EQ(Px(*b, 8, 1), clRed);  // right line from Top to Bottom
    EXPECT_EQ(Px(*b, 8, 6), clRed);
    EXPECT_EQ(Px(*b, 1, 6), clRed);  // bottom line from Left
    EXPECT_EQ(Px(*b, 9, 7), kBack);  // line ends exclusive

    TmPaintSideLinesRepeated(b->GetCanvas(), RECT{0, 0, 10, 8}, clLime, clBlue, 2, sdLeft | sdBottom, in);
    ExpectRect(in, 2, 0, 10, 6);
    EXPECT_EQ(Px(*b, 0, 3), clLime);
    EXPECT_EQ(Px(*b, 1, 3), clLime);
    EXPECT_EQ(Px(*b, 5, 7), clBlue);
    EXPECT_EQ(Px(*b, 5, 6), clBlue);
    EXPECT_EQ(Px(*b, 5, 0), kBack);
}

TEST(TmFrameTest, EtchedTopOnly)
{
    auto b = MakeBitmap(14, 12);
    RECT in;
    TmPaintFrame(b->GetCanvas(), RECT{2, 2, 12, 10}, fsGroove, sdTop, in);
    ExpectRect(in, 2, 4, 12, 10);
    const TColor ul = ColorToRGB(clBtnShadow), lr = ColorToRGB(clBtnHighlight);
    for (int x = 2; x < 12; ++x) {
        EXPECT_EQ(Px(*b, x, 2), ul) << x;  // top line plus the corner pixel at Right - 1
        EXPECT_EQ(Px(*b, x, 3), lr) << x;  // inner line plus the corner pixel at Left
    }
    EXPECT_EQ(Px(*b, 1, 2), kBack);
    EXPECT_EQ(Px(*b, 12, 3), kBack);
    for (int y = 4; y < 12; ++y) {
        EXPECT_EQ(Px(*b, 2, y), kBack) << y;
        EXPECT_EQ(Px(*b, 11, y), kBack) << y;
    }
}

TEST(TmFrameTest, TwoRingStylesAndFlatBold)
{
    struct Case {
        TFrameStyle style;
        TColor outerUL, outerLR, innerUL, innerLR;
    } cases[] = {
        {fsRaised, cl3DLight, cl3DDkShadow, clBtnHighlight, clBtnShadow},
        {fsLowered, clBtnShadow, clBtnHighlight, cl3DDkShadow, cl3DLight},
        {fsButtonUp, clBtnHighlight, cl3DDkShadow, cl3DLight, clBtnShadow},
        {fsButtonDown, clBtnText, clBtnText, clBtnShadow, clBtnShadow},
        {fsFlatBold, clBtnShadow, clBtnShadow, clBtnShadow, clBtnShadow},
        {fsFlat, cl3DDkShadow, cl3DDkShadow, kBack, kBack},
        {fsStatus, clBtnShadow, clBtnHighlight, kBack, kBack},
        {fsPopup, clBtnHighlight, clBtnShadow, kBack, kBack},
    };
    for (const Case& k : cases) {
        auto b = MakeBitmap(10, 10);
        RECT in;
        TmPaintFrameStyle(b->GetCanvas(), RECT{0, 0, 10, 10}, k.style, in);
        const int ring = (k.innerUL == kBack) ? 1 : 2;
        ExpectRect(in, ring, ring, 10 - ring, 10 - ring);
        EXPECT_EQ(Px(*b, 0, 5), ColorToRGB(k.outerUL)) << k.style;
        EXPECT_EQ(Px(*b, 5, 9), ColorToRGB(k.outerLR)) << k.style;
        EXPECT_EQ(Px(*b, 1, 5), ColorToRGB(k.innerUL)) << k.style;
        EXPECT_EQ(Px(*b, 8, 5), ColorToRGB(k.innerLR)) << k.style;
        EXPECT_EQ(Px(*b, 5, 5), kBack) << k.style;
    }
    auto b = MakeBitmap(6, 6);
    RECT in;
    TmPaintFrameStyle(b->GetCanvas(), RECT{0, 0, 6, 6}, fsNone, in);
    ExpectRect(in, 0, 0, 6, 6);
    EXPECT_EQ(Px(*b, 0, 0), kBack);
}

TEST(TmFrameTest, RoundedAndRectangleFrames)
{
    auto b = MakeBitmap(12, 10);
    RECT in;
    TmPaintRoundedFrame(b->GetCanvas(), RECT{1, 1, 11, 9}, clRed, sdLeft | sdTop | sdRight, in);
    ExpectRect(in, 3, 3, 9, 9);
    EXPECT_EQ(Px(*b, 1, 1), kBack);  // cut corner
    EXPECT_EQ(Px(*b, 1, 2), kBack);
    EXPECT_EQ(Px(*b, 2, 2), clRed);  // corner pixel inside
    EXPECT_EQ(Px(*b, 1, 3), clRed);  // left line from Top + 2
    EXPECT_EQ(Px(*b, 3, 1), clRed);  // top line from Left + 2
    EXPECT_EQ(Px(*b, 8, 1), clRed);
    EXPECT_EQ(Px(*b, 9, 1), kBack);  // top line ends at Right - 2
    EXPECT_EQ(Px(*b, 9, 2), clRed);
    EXPECT_EQ(Px(*b, 10, 8), clRed);  // no bottom side: the right line runs to Bottom
    EXPECT_EQ(Px(*b, 9, 7), kBack);   // no corner pixel towards the missing side
    EXPECT_EQ(Px(*b, 5, 8), kBack);

    auto r = MakeBitmap(6, 6);
    TmPaintRectangleFrame(r->GetCanvas(), RECT{0, 0, 6, 6}, clLime, in);
    ExpectRect(in, 1, 1, 5, 5);
    EXPECT_EQ(Px(*r, 0, 0), clLime);
    EXPECT_EQ(Px(*r, 5, 5), clLime);
    EXPECT_EQ(Px(*r, 1, 1), kBack);
}

TEST(TmFrameTest, ControlBorderLayers)
{
    // Flat outer ring, a band of 2, and the progress-bar style inner flat
    // frame whose corners are left out.
    auto b = MakeBitmap(12, 12);
    RECT in;
    const TColor flat = 0x00AA00, band = 0x0000CC;
    TmPaintControlBorder(b->GetCanvas(), RECT{0, 0, 12, 12}, fsFlat, fsFlat, 2, sdAllSides, 1, band, clWhite,
                         clBlack, flat, 0, clYellow, clAqua, false, true, in);
    ExpectRect(in, 4, 4, 8, 8);
    EXPECT_EQ(Px(*b, 0, 5), flat);
    EXPECT_EQ(Px(*b, 1, 5), band);
    EXPECT_EQ(Px(*b, 2, 5), band);
    EXPECT_EQ(Px(*b, 3, 5), flat);
    EXPECT_EQ(Px(*b, 3, 3), kBack);  // inner corner left out
    EXPECT_EQ(Px(*b, 8, 8), kBack);
    EXPECT_EQ(Px(*b, 8, 5), flat);
    EXPECT_EQ(Px(*b, 4, 4), kBack);

    // Popup outer with a bevel of 2 on the left and top only; the flat
    // adjustment darkens the flat colour of the inner status ring.
    auto p = MakeBitmap(12, 12);
    TmPaintControlBorder(p->GetCanvas(), RECT{0, 0, 12, 12}, fsPopup, fsStatus, 0, sdLeft | sdTop, 2, band,
                         clWhite, clBlack, flat, -20, clYellow, clAqua, false, false, in);
    ExpectRect(in, 4, 4, 12, 12);
    EXPECT_EQ(Px(*p, 0, 6), clWhite);
    EXPECT_EQ(Px(*p, 1, 6), clWhite);
    EXPECT_EQ(Px(*p, 2, 6), clBlack);  // status: shadow on the left and top
    EXPECT_EQ(Px(*p, 3, 6), clBlack);
    EXPECT_EQ(Px(*p, 11, 6), kBack);

    // Rounded outer frame, opaque: parent colour in the cut corners, then the
    // band colour ring inside, then the rounded frame in the flat colour.
    auto r = MakeBitmap(12, 12);
    TmPaintControlBorder(r->GetCanvas(), RECT{0, 0, 12, 12}, fsFlatRounded, fsNone, 1, sdAllSides, 1, band,
                         clWhite, clBlack, flat, 0, clYellow, clAqua, false, false, in);
    ExpectRect(in, 3, 3, 9, 9);
    EXPECT_EQ(Px(*r, 0, 0), clAqua);
    EXPECT_EQ(Px(*r, 1, 1), flat);
    EXPECT_EQ(Px(*r, 0, 5), flat);
    EXPECT_EQ(Px(*r, 1, 5), band);  // the inner ring, not covered by the rounded frame
    EXPECT_EQ(Px(*r, 2, 5), band);  // the band of BorderWidth 1
}

// ------------------------------------------------------------ gradients

TEST(TmGradientTest, EndDirectionsUseThePlatformFill)
{
    auto b = MakeBitmap(20, 20);
    TmPaintGradient(b->GetCanvas(), RECT{0, 0, 20, 20}, gdHorizontalEnd, clRed, clBlue);
    EXPECT_GE(Red(Px(*b, 10, 0)), 240);
    EXPECT_LE(Blue(Px(*b, 10, 0)), 15);
    EXPECT_LE(Red(Px(*b, 10, 19)), 15);
    EXPECT_GE(Blue(Px(*b, 10, 19)), 240);
    EXPECT_EQ(Px(*b, 0, 10), Px(*b, 19, 10));  // rows are uniform

    TmPaintGradient(b->GetCanvas(), RECT{0, 0, 20, 20}, gdVerticalEnd, clRed, clBlue);
    EXPECT_GE(Red(Px(*b, 0, 10)), 240);
    EXPECT_GE(Blue(Px(*b, 19, 10)), 240);
}

TEST(TmGradientTest, CentreDirectionsStepInFixedPoint)
{
    // 40 columns: the middle column X = 20 shows the stop colour, column 39
    // the start colour, and column 19 is one 16.16 step from the stop colour
    // towards the start over N = 21 steps.
    auto b = MakeBitmap(40, 20);
    TmPaintGradient(b->GetCanvas(), RECT{0, 0, 40, 20}, gdVerticalCenter, clRed, clBlue);
    for (int y : {0, 9, 19}) {
        EXPECT_EQ(Px(*b, 20, y), clBlue) << y;
        EXPECT_EQ(Px(*b, 39, y), clRed) << y;
        EXPECT_EQ(Px(*b, 19, y), static_cast<TColor>(12 | (242 << 16))) << y;
    }
    EXPECT_GE(Red(Px(*b, 0, 5)), 230);  // the left run ends one step short of the start colour
    EXPECT_LE(Blue(Px(*b, 0, 5)), 25);

    auto h = MakeBitmap(20, 40);
    TmPaintGradient(h->GetCanvas(), RECT{0, 0, 20, 40}, gdHorizontalCenter, clRed, clBlue);
    for (int x : {0, 8, 19}) {
        EXPECT_EQ(Px(*h, x, 20), clBlue) << x;
        EXPECT_EQ(Px(*h, x, 39), clRed) << x;
        EXPECT_EQ(Px(*h, x, 19), static_cast<TColor>(12 | (242 << 16))) << x;
    }
}

TEST(TmGradientTest, BoxDirections)
{
    auto b = MakeBitmap(40, 40);
    TmPaintGradient(b->GetCanvas(), RECT{0, 0, 40, 40}, gdSquareBox, clRed, clBlue);
    EXPECT_EQ(Px(*b, 19, 19), clBlue);  // the centre shows the stop colour
    // The outer ring is the last band before the start colour: 20 steps of
    // 16.16 (255 << 16) / 20 leave (242, 0, 12) at step 19.
    EXPECT_EQ(Px(*b, 0, 0), static_cast<TColor>(242 | (12 << 16)));
    EXPECT_EQ(Px(*b, 39, 39), Px(*b, 0, 0));
    EXPECT_EQ(Px(*b, 39, 0), Px(*b, 0, 0));
    // Rings: colour moves monotonically from the centre to the edge.
    int prev = 256;
    for (int x = 19; x >= 0; --x) {
        const int blue = Blue(Px(*b, x, 19));
        EXPECT_LE(blue, prev) << x;
        prev = blue;
    }
    // Mirrored halves.
    EXPECT_EQ(Px(*b, 5, 5), Px(*b, 34, 5));
    EXPECT_EQ(Px(*b, 5, 5), Px(*b, 5, 34));

    // Equal colours, or 4 pixels or less in one direction: one solid fill.
    auto e = MakeBitmap(10, 10);
    TmPaintGradient(e->GetCanvas(), RECT{0, 0, 10, 4}, gdHorizontalBox, clLime, clBlue);
    EXPECT_EQ(Px(*e, 0, 0), clLime);
    EXPECT_EQ(Px(*e, 9, 3), clLime);
    EXPECT_EQ(Px(*e, 5, 4), kBack);
    TmPaintGradient(e->GetCanvas(), RECT{0, 0, 10, 10}, gdBigSquareBox, clYellow, clYellow);
    EXPECT_EQ(Px(*e, 5, 5), clYellow);
    EXPECT_EQ(Px(*e, 0, 9), clYellow);
}

TEST(TmGradientTest, BarBackground)
{
    ThemesForced off(false);
    const bool saved = TmFullColorSupported;
    TmFullColorSupported = true;
    auto b = MakeBitmap(10, 20);
    TmPaintBarBackground(b->GetCanvas(), RECT{0, 0, 10, 20}, vsClassic, clRed, clBlue, false, gcsCustom);
    EXPECT_EQ(Px(*b, 5, 0), kBack);
    // Custom colours, swapped: the stop colour on top.
    TmPaintBarBackground(b->GetCanvas(), RECT{0, 0, 10, 20}, vsGradient, clRed, clBlue, true, gcsCustom);
    EXPECT_GE(Blue(Px(*b, 5, 0)), 240);
    EXPECT_GE(Red(Px(*b, 5, 19)), 240);
    // vsWinXP without themes falls back to the gradient of the bar colours.
    TmPaintBarBackground(b->GetCanvas(), RECT{0, 0, 10, 20}, vsWinXP, clRed, clBlue, false, gcsSystem);
    TColor c1, c2;
    TmGetBarGradientColors(gcsSystem, c1, c2);
    EXPECT_EQ(Px(*b, 5, 0), ColorToRGB(c1));
    // A palette screen gets nothing.
    TmFullColorSupported = false;
    auto p = MakeBitmap(4, 4);
    TmPaintBarBackground(p->GetCanvas(), RECT{0, 0, 4, 4}, vsGradient, clRed, clBlue, false, gcsCustom);
    EXPECT_EQ(Px(*p, 1, 1), kBack);
    TmFullColorSupported = saved;
}

TEST(TmGradientTest, EmptyRectangleDrawsNothing)
{
    for (TGradientDirection d : {gdDiagonalUp, gdDiagonalDown, gdHorizontalCenter, gdHorizontalBox, gdVerticalCenter,
                                 gdVerticalBox, gdSquareBox, gdBigSquareBox}) {
        auto b = MakeBitmap(6, 6);
        TmPaintGradient(b->GetCanvas(), RECT{2, 0, 2, 6}, d, clRed, clBlue);
        TmPaintGradient(b->GetCanvas(), RECT{0, 3, 6, 3}, d, clRed, clBlue);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 6; ++x)
                ASSERT_EQ(Px(*b, x, y), kBack) << d << " " << x << "," << y;
    }
}

TEST(TmGradientTest, DiagonalDirections)
{
    auto b = MakeBitmap(30, 20);
    TmPaintGradient(b->GetCanvas(), RECT{0, 0, 30, 20}, gdDiagonalUp, clRed, clBlue);
    EXPECT_GE(Red(Px(*b, 0, 19)), 230);   // bottom-left: start
    EXPECT_GE(Blue(Px(*b, 29, 0)), 230);  // top-right: stop
    // Along the other diagonal the colour moves from start to stop.
    int prev = -1;
    for (int i = 0; i < 10; ++i) {
        const int blue = Blue(Px(*b, i * 3, 19 - i * 2));
        EXPECT_GE(blue, prev) << i;
        prev = blue;
    }
    // Bands run parallel to the top-left/bottom-right diagonal.
    EXPECT_EQ(Px(*b, 0, 0), Px(*b, 29, 19));

    TmPaintGradient(b->GetCanvas(), RECT{0, 0, 30, 20}, gdDiagonalDown, clRed, clBlue);
    EXPECT_GE(Blue(Px(*b, 29, 19)), 230);  // bottom-right: stop
    EXPECT_GE(Red(Px(*b, 0, 0)), 230);     // top-left: start
    EXPECT_EQ(Px(*b, 29, 0), Px(*b, 0, 19));
}

TEST(TmGradientTest, GradientIsDrawnAtTheRectangle)
{
    auto b = MakeBitmap(30, 30);
    TmPaintGradient(b->GetCanvas(), RECT{10, 10, 22, 22}, gdSquareBox, clRed, clBlue);
    EXPECT_EQ(Px(*b, 9, 9), kBack);
    EXPECT_EQ(Px(*b, 22, 22), kBack);
    EXPECT_GE(Red(Px(*b, 10, 10)), 200);
    EXPECT_EQ(Px(*b, 15, 15), clBlue);
    EXPECT_EQ(Px(*b, 21, 21), Px(*b, 10, 10));
}

// ------------------------------------------------- glyphs, bitmaps, text

TEST(TmGlyphTest, ClassicArrowRowsAndBrushRestored)
{
    auto b = MakeBitmap(16, 16);
    TCanvas* c = b->GetCanvas();
    c->GetBrush()->SetColor(clWhite);
    TmPaintArrowGlyph(c, RECT{0, 0, 16, 16}, vsClassic, true, 0);
    EXPECT_EQ(c->GetBrush()->GetColor(), clWhite);
    // Centre (8, 7); rows of 1, 3, 5 and 7 pixels, the tip on top.
    std::vector<int> widths;
    for (int y = 0; y < 16; ++y) {
        int n = 0;
        for (int x = 0; x < 16; ++x)
            if (Px(*b, x, y) == clBlack)
                ++n;
        if (n)
            widths.push_back(n);
    }
    EXPECT_EQ(widths, (std::vector<int>{1, 3, 5, 7}));
    EXPECT_EQ(Px(*b, 8, 5), clBlack);

    // Disabled: button shadow; pointing right: columns with the tip right.
    auto r = MakeBitmap(16, 16);
    TmPaintArrowGlyph(r->GetCanvas(), RECT{0, 0, 16, 16}, vsClassic, false, 3);
    const TColor shadow = ColorToRGB(clBtnShadow);
    int tipX = -1, baseX = -1;
    for (int x = 0; x < 16; ++x) {
        int n = 0;
        for (int y = 0; y < 16; ++y)
            if (Px(*r, x, y) == shadow)
                ++n;
        if (n == 1)
            tipX = x;
        if (n == 7)
            baseX = x;
    }
    EXPECT_GT(tipX, baseX);
    EXPECT_GE(baseX, 0);
}

TEST(TmGlyphTest, ChevronArrowsAreCentred)
{
    // Without theme data the chevron is drawn in the 3D dark shadow colour.
    ThemesForced off(false);
    const TColor ink = ColorToRGB(cl3DDkShadow);
    for (int dir = 0; dir < 4; ++dir) {
        auto b = MakeBitmap(17, 17);
        TmPaintArrowGlyph(b->GetCanvas(), RECT{0, 0, 17, 17}, vsWinXP, true, dir);
        int minX = 99, maxX = -1, minY = 99, maxY = -1, n = 0;
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < 17; ++x)
                if (Px(*b, x, y) == ink) {
                    ++n;
                    minX = std::min(minX, x);
                    maxX = std::max(maxX, x);
                    minY = std::min(minY, y);
                    maxY = std::max(maxY, y);
                }
        ASSERT_GT(n, 8) << dir;
        EXPECT_LE(std::abs((minX + maxX) - 16), 2) << dir;
        EXPECT_LE(std::abs((minY + maxY) - 16), 2) << dir;
        // A chevron, not a solid triangle: the centre of its box is empty.
        const bool vertical = dir < 2;
        EXPECT_EQ(Px(*b, 8, vertical ? (dir == 0 ? maxY : minY) : 8), kBack) << dir;
    }
}

TEST(TmGlyphTest, CloseGlyph)
{
    auto b = MakeBitmap(20, 20);
    TCanvas* c = b->GetCanvas();
    c->GetBrush()->SetColor(clYellow);
    TmPaintCloseGlyph(c, RECT{0, 0, 20, 20}, clRed);  // big form around (10, 9)
    EXPECT_EQ(c->GetBrush()->GetColor(), clYellow);
    EXPECT_EQ(c->GetPen()->GetStyle(), psSolid);
    EXPECT_EQ(Px(*b, 10, 9), clRed);
    EXPECT_EQ(Px(*b, 7, 7), clRed);
    EXPECT_EQ(Px(*b, 13, 11), clRed);
    EXPECT_EQ(Px(*b, 10, 6), kBack);  // between the arms
    EXPECT_EQ(Px(*b, 0, 0), kBack);

    auto s = MakeBitmap(8, 8);
    TmPaintCloseButtonGlyph(s->GetCanvas(), RECT{0, 0, 8, 8}, vsClassic, true);  // small form around (4, 3)
    EXPECT_EQ(Px(*s, 4, 3), clBlack);
    EXPECT_EQ(Px(*s, 0, 7), kBack);
}

TEST(TmGlyphTest, FlipBitmapVertically)
{
    auto b = MakeBitmap(3, 4);
    const TColor rows[4] = {clRed, clLime, clBlue, clYellow};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x)
            b->GetCanvas()->SetPixel(x, y, rows[y] ^ x);
    TmFlipBitmapVertically(b.get());
    ASSERT_EQ(b->GetWidth(), 3);
    ASSERT_EQ(b->GetHeight(), 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(Px(*b, x, y), rows[3 - y] ^ x) << x << "," << y;
}

TEST(TmTextTest, StripAccelerators)
{
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {{L"", L""},       {L"&File", L"File"}, {L"A&&B", L"A&B"}, {L"&&&x", L"&&x"},
                 {L"Tail&", L"Tail&"}, {L"&", L"&"},      {L"a&b&c", L"abc"}, {L"plain", L"plain"}};
    for (const Case& k : cases)
        EXPECT_EQ(TmStripAccelerators(k.in), k.out) << std::wstring(k.in).size();
}

TEST(TmTextTest, FontsAndDrawText)
{
    TFont font;
    font.SetName(L"Tahoma");
    font.SetHeight(-13);
    font.SetStyle(fsBold | fsItalic);
    font.SetPitch(fpVariable);
    HFONT h = TmCreateRotatedFont(&font, 90);
    ASSERT_NE(h, nullptr);
    LOGFONTW lf = {};
    ASSERT_EQ(GetObjectW(h, sizeof(lf), &lf), static_cast<int>(sizeof(lf)));
    DeleteObject(h);
    EXPECT_EQ(lf.lfHeight, -13);
    EXPECT_EQ(lf.lfEscapement, 900);
    EXPECT_EQ(lf.lfOrientation, 0);
    EXPECT_EQ(lf.lfWeight, FW_BOLD);
    EXPECT_EQ(lf.lfItalic, 1);
    EXPECT_EQ(lf.lfUnderline, 0);
    EXPECT_EQ(lf.lfPitchAndFamily, VARIABLE_PITCH);
    EXPECT_EQ(std::wstring(lf.lfFaceName), L"Tahoma");

    EXPECT_TRUE(TmIsTrueTypeFont(&font));

    auto b = MakeBitmap(100, 40);
    TCanvas* c = b->GetCanvas();
    c->GetBrush()->SetStyle(bsClear);
    c->GetFont()->SetColor(clWhite);
    RECT r{0, 0, 100, 40};
    const int height = TmDrawText(c, L"Hi", r, DT_SINGLELINE | DT_NOPREFIX);
    EXPECT_GT(height, 5);
    int white = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            white += Px(*b, x, y) == clWhite;
    EXPECT_GT(white, 0);
    EXPECT_EQ(TmMinInt(3, -2), -2);
    EXPECT_EQ(TmMaxInt(3, -2), 3);
}

TEST(TmPlatformTest, WindowsVersionClasses)
{
    struct Case {
        int cls;
        DWORD platform, major, minor;
        bool result;
    } cases[] = {
        {0, 1, 4, 0, true},   {0, 2, 3, 51, false}, {1, 1, 4, 0, false}, {1, 2, 4, 0, true},
        {2, 1, 4, 10, true},  {2, 2, 5, 0, false},  // no clause for later major versions
        {3, 1, 4, 90, true},  {3, 2, 5, 0, true},   {3, 1, 4, 10, false},
        {4, 2, 5, 0, true},   {4, 1, 5, 0, false},  {5, 2, 5, 1, true},  {5, 2, 5, 0, false},
        {5, 2, 6, 0, true},   {6, 2, 5, 2, true},   {6, 2, 5, 1, false}, {6, 2, 6, 0, true},
        {7, 2, 6, 0, true},   {7, 2, 5, 2, false},  {7, 1, 6, 0, false}, {8, 2, 10, 0, false},
        {0x87, 2, 6, 1, true},  // masked to 7 bits
        {0, 3, 10, 0, false},
    };
    for (const Case& k : cases)
        EXPECT_EQ(TmIsWindowsAtLeastFor(k.cls, k.platform, k.major, k.minor), k.result)
            << k.cls << " " << k.platform << " " << k.major << "." << k.minor;
    EXPECT_TRUE(TmIsWindowsAtLeast(0));
}

// ------------------------------------------------------- parent background

namespace {
// A parent that paints a marker pixel at (12, 7) of its client area.
class TMarkerParent : public TWinControl {
public:
    using TWinControl::TWinControl;
    int erased = 0;
    void WndProc(TMessage& Message) override
    {
        if (Message.Msg == WM_ERASEBKGND) {
            ++erased;
            HDC dc = reinterpret_cast<HDC>(Message.WParam);
            RECT r{0, 0, GetClientWidth(), GetClientHeight()};
            HBRUSH br = CreateSolidBrush(0x00FF00);
            FillRect(dc, &r, br);
            DeleteObject(br);
            Message.Result = 1;
            return;
        }
        if (Message.Msg == WM_PRINTCLIENT && Message.LParam == PRF_CLIENT) {
            SetPixel(reinterpret_cast<HDC>(Message.WParam), 12, 7, 0x0000FF);
            return;
        }
        TWinControl::WndProc(Message);
    }
};
}  // namespace

TEST(TmBackgroundTest, ParentBackgroundIsPaintedAtTheControlOffset)
{
    TMarkerParent parent(nullptr);
    parent.SetBounds(0, 0, 40, 30);
    TGraphicControl child(nullptr);
    child.SetBounds(10, 5, 8, 8);
    child.SetParent(&parent);

    auto b = MakeBitmap(8, 8);
    TmPaintParentBackground(&child, b->GetCanvas(), false);
    EXPECT_EQ(parent.erased, 1);
    EXPECT_EQ(Px(*b, 2, 2), clRed);  // parent (12, 7) seen through the child at (10, 5)
    EXPECT_EQ(Px(*b, 0, 0), clLime);
    EXPECT_EQ(Px(*b, 7, 7), clLime);

    // Without a parent nothing is painted.
    child.SetParent(nullptr);
    auto e = MakeBitmap(4, 4);
    TmPaintParentBackground(&child, e->GetCanvas(), true);
    EXPECT_EQ(Px(*e, 1, 1), kBack);
    EXPECT_EQ(parent.erased, 1);
}
