#include <gtest/gtest.h>

#include <memory>

#include "classlib/Bitmap.h"
#include "controls/themed/TmPanel.h"
#include "controls/themed/TmStatus.h"
#include "tests/controls/themed/TmPaintSupport.h"

using namespace classlib;
using namespace themed;
using tmtest::PaintToBitmap;
using tmtest::kRed;
using tmtest::kLime;
using tmtest::Px;
using tmtest::ThemesOff;

namespace {

int MeasuredWidth(TFont* Font, const std::wstring& Text)
{
    TBitmap b;
    b.SetSize(1, 1);
    b.GetCanvas()->SetFont(Font);
    return b.GetCanvas()->TextWidth(Text);
}

}  // namespace

TEST(TmStatusPaneTest, DefaultsAndBlinkListLifetime)
{
    ASSERT_EQ(TmBlinkingControls, nullptr);
    {
        TTmStatusPane a(nullptr);
        EXPECT_EQ(a.GetWidth(), 100);
        EXPECT_EQ(a.GetHeight(), 20);
        EXPECT_TRUE(a.GetTransparent());
        EXPECT_FALSE(a.ControlStyle & csOpaque);
        EXPECT_TRUE(a.GetParentColor());
        ASSERT_NE(TmBlinkingControls, nullptr);
        TTmStatusPane b(nullptr);
        EXPECT_EQ(TmBlinkingControls->Count(), 2);
        // The intervals are shared by all panes.
        a.SetBlinkIntervalOn(300);
        EXPECT_EQ(b.GetBlinkIntervalOn(), 300);
    }
    EXPECT_EQ(TmBlinkingControls, nullptr);
}

TEST(TmStatusPaneTest, AutoSizeFollowsCaption)
{
    TTmStatusPane p(nullptr);
    p.SetAutoSize(true);
    EXPECT_EQ(p.GetWidth(), 40);  // DefaultWidth without caption
    p.SetCaption(L"Ready to build");
    const int expected = 2 * 1 + MeasuredWidth(p.GetFont(), L"Ready to build") + 2 + 6;
    EXPECT_EQ(p.GetWidth(), expected);
    // The same text again does not resize.
    p.SetWidth(500);
    p.SetCaption(L"Ready to build");
    EXPECT_EQ(p.GetWidth(), 500);
    p.SetCaptionOffset(10);
    EXPECT_EQ(p.GetWidth(), expected + 8);
    p.SetCaption(L"");
    EXPECT_EQ(p.GetWidth(), 40);
    p.SetAutoSize(false);
    p.SetCaption(L"x");
    EXPECT_EQ(p.GetWidth(), 40);
}

TEST(TmStatusPaneTest, InteriorRectByFrameStyle)
{
    struct Case {
        TFrameStyle style;
        int border, inset;
    } cases[] = {{fsNone, 1, 1}, {fsFlat, 1, 2}, {fsStatus, 0, 1}, {fsPopup, 2, 3}, {fsRaised, 1, 3},
                 {fsFlatBold, 0, 2}};
    TTmStatusPane p(nullptr);
    for (const Case& k : cases) {
        p.SetFrameStyle(k.style);
        p.SetBorderWidth(k.border);
        RECT r;
        p.GetInteriorRect(r);
        EXPECT_EQ(r.left, k.inset) << k.style;
        EXPECT_EQ(r.bottom, 20 - k.inset) << k.style;
    }
}

TEST(TmStatusPaneTest, PanesBlinkInStep)
{
    TTmStatusPane a(nullptr), b(nullptr), quiet(nullptr);
    a.SetBlinkColor(kRed);
    b.SetBlinkColor(kRed);
    a.GetFont()->SetColor(0x000000);
    b.GetFont()->SetColor(0x000000);
    a.SetBlinking(true);
    b.SetBlinking(true);
    ASSERT_NE(TmBlinkingControls, nullptr);
    TmBlinkingControls->TimerFired();  // state 1 -> 0: normal colour
    TmBlinkingControls->TimerFired();  // 0 -> 1: blink colour
    EXPECT_EQ(a.GetBlinkPhase(), 0);
    EXPECT_EQ(b.GetBlinkPhase(), 0);
    EXPECT_EQ(a.GetDrawingColor(), kRed);
    EXPECT_EQ(quiet.GetBlinkPhase(), 1);  // not blinking: ignores the tick
    // A pane that starts blinking now joins at the next tick.
    TTmStatusPane late(nullptr);
    late.SetBlinkColor(kRed);
    late.SetBlinking(true);
    EXPECT_EQ(late.GetBlinkPhase(), 1);
    TmBlinkingControls->TimerFired();
    EXPECT_EQ(a.GetBlinkPhase(), 1);
    EXPECT_EQ(late.GetBlinkPhase(), 1);
    TmBlinkingControls->TimerFired();
    EXPECT_EQ(a.GetBlinkPhase(), 0);
    EXPECT_EQ(late.GetBlinkPhase(), 0);
    // A new font colour while the blink colour shows: kept for the next
    // normal phase.
    a.GetFont()->SetColor(kLime);
    EXPECT_EQ(a.GetNormalColor(), kLime);
    EXPECT_EQ(a.GetDrawingColor(), kRed);
    TmBlinkingControls->TimerFired();
    EXPECT_EQ(a.GetDrawingColor(), kLime);
    // Turning blinking off restores the normal colour at once.
    TmBlinkingControls->TimerFired();
    EXPECT_EQ(b.GetDrawingColor(), kRed);
    b.SetBlinking(false);
    EXPECT_EQ(b.GetBlinkPhase(), 1);
    EXPECT_EQ(b.GetDrawingColor(), 0x000000);
}

TEST(TmStatusPaneTest, FillColorFollowsColorUntilSet)
{
    TTmStatusPane p(nullptr);
    p.SetParentColor(false);
    p.SetColor(kRed);
    EXPECT_EQ(p.GetFillColor(), kRed);
    p.SetFillColor(kLime);
    EXPECT_FALSE(p.GetParentFillColor());
    p.SetColor(0xFFFFFF);
    EXPECT_EQ(p.GetFillColor(), kLime);
    p.SetParentFillColor(true);
    EXPECT_EQ(p.GetFillColor(), 0xFFFFFF);
}

TEST(TmStatusPaneTest, LoadsOpaqueWithoutParentColor)
{
    TTmStatusPane p(nullptr);
    BeginLoading(&p);
    p.SetParentColor(false);
    EndLoading(&p);
    EXPECT_FALSE(p.GetTransparent());
    TTmStatusPane q(nullptr);
    BeginLoading(&q);
    EndLoading(&q);
    EXPECT_TRUE(q.GetTransparent());
}

TEST(TmStatusPaneTest, PaintsFlatFrameAndFill)
{
    ThemesOff off;
    TTmStatusPane p(nullptr);
    p.SetParentColor(false);
    p.SetColor(kRed);
    p.SetTransparent(false);
    p.SetFlatColor(kLime);
    p.SetFlatColorAdjustment(0);
    auto b = PaintToBitmap(&p);
    EXPECT_EQ(Px(*b, 0, 10), kRed);   // BorderWidth 1 outside the frame
    EXPECT_EQ(Px(*b, 1, 10), kLime);  // left line
    EXPECT_EQ(Px(*b, 1, 1), kRed);    // corners left out
    EXPECT_EQ(Px(*b, 50, 18), kLime);
    EXPECT_EQ(Px(*b, 98, 10), kLime);
    EXPECT_EQ(Px(*b, 50, 10), kRed);
    // Transparent: only the frame is drawn.
    p.SetTransparent(true);
    auto t = PaintToBitmap(&p);
    EXPECT_EQ(Px(*t, 50, 10), 0x123456);
    EXPECT_EQ(Px(*t, 1, 10), kLime);
}

TEST(TmStatusPaneTest, PanesLayOutInStatusBar)
{
    ThemesOff off;
    TTmStatusBar bar(nullptr);
    bar.SetAlign(alNone);
    bar.SetBounds(0, 0, 300, 19);
    bar.SetVisualStyle(vsClassic);
    bar.SetShowSizeGrip(false);
    TTmStatusPane left(nullptr), right(nullptr), client(nullptr);
    left.SetWidth(100);
    right.SetWidth(50);
    left.SetParent(&bar);
    right.SetParent(&bar);
    client.SetParent(&bar);
    left.SetAlign(alLeft);
    right.SetAlign(alRight);
    client.SetAlign(alClient);
    // Without themes the client area reaches one pixel past the sides.
    auto expect = [](TControl& c, int l, int t, int r, int b) {
        const RECT x = c.GetBoundsRect();
        EXPECT_EQ(x.left, l);
        EXPECT_EQ(x.top, t);
        EXPECT_EQ(x.right, r);
        EXPECT_EQ(x.bottom, b);
    };
    expect(left, -1, 1, 99, 20);
    expect(right, 251, 1, 301, 20);
    expect(client, 99, 1, 251, 20);
    // Panes paint through the bar: the client pane's frame at its left edge
    // plus BorderWidth.
    bar.SetColor(kRed);
    client.SetFlatColor(kLime);
    client.SetFlatColorAdjustment(0);
    auto b = PaintToBitmap(&bar);
    EXPECT_EQ(Px(*b, 100, 10), kLime);
    EXPECT_EQ(Px(*b, 150, 10), kRed);
    for (TTmStatusPane* p : {&left, &right, &client})
        p->SetParent(nullptr);
}
