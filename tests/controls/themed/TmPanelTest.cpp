#include <gtest/gtest.h>

#include <memory>

#include "classlib/Bitmap.h"
#include "classlib/Forms.h"
#include "classlib/StdCtrls.h"
#include "controls/themed/TmPanel.h"
#include "controls/themed/TmStatus.h"
#include "tests/controls/themed/TmPaintSupport.h"

using namespace classlib;
using namespace themed;
using tmtest::PaintToBitmap;
using tmtest::kRed;
using tmtest::kLime;
using tmtest::kBlue;
using tmtest::ExpectRect;
using tmtest::Px;
using tmtest::ThemesOff;

namespace {

struct MouseCounter {
    int downs = 0;
    void Down(TObject*, TMouseButton, TShiftState, int, int) { ++downs; }
};

}  // namespace

TEST(TmPanelTest, ClientRectFollowsFramesOnBorderSides)
{
    struct Case {
        TFrameStyleEx outer, inner;
        int bevel, borderWidth;
        TSides sides;
        RECT client;    // in a 100 x 50 panel
        RECT adjusted;  // the alignment area
    } cases[] = {
        {fsRaised, fsLowered, 1, 3, sdAllSides, {4, 4, 96, 46}, {7, 7, 93, 43}},
        {fsNone, fsNone, 1, 0, sdAllSides, {0, 0, 100, 50}, {0, 0, 100, 50}},
        {fsRaised, fsNone, 1, 0, 0, {0, 0, 100, 50}, {0, 0, 100, 50}},
        {fsFlat, fsStatus, 3, 0, sdAllSides, {4, 4, 96, 46}, {4, 4, 96, 46}},
        {fsPopup, fsNone, 2, 0, sdTop | sdLeft, {2, 2, 100, 50}, {2, 2, 100, 50}},
        {fsBump, fsFlatBold, 1, 1, sdBottom, {0, 0, 100, 46}, {1, 1, 99, 45}},
        {fsFlatRounded, fsNone, 1, 0, sdRight, {0, 0, 98, 50}, {0, 0, 98, 50}},
    };
    for (const Case& k : cases) {
        TTmPanel p(nullptr);
        p.SetBounds(0, 0, 100, 50);
        p.SetBorderOuter(k.outer);
        p.SetBorderInner(k.inner);
        p.SetBevelWidth(k.bevel);
        p.SetBorderWidth(k.borderWidth);
        p.SetBorderSides(k.sides);
        SCOPED_TRACE(static_cast<int>(k.outer));
        ExpectRect(p.GetClientRect(), k.client.left, k.client.top, k.client.right, k.client.bottom);
        RECT a;
        p.AdjustClientRect(a);
        ExpectRect(a, k.adjusted.left, k.adjusted.top, k.adjusted.right, k.adjusted.bottom);
    }
}

TEST(TmPanelTest, ChildrenAlignInsideTheFrames)
{
    TTmPanel p(nullptr);
    p.SetBounds(0, 0, 100, 60);
    p.SetBorderOuter(fsRaised);
    p.SetBorderInner(fsLowered);
    TTmPanel child(nullptr);
    child.SetParent(&p);
    child.SetAlign(alClient);
    ExpectRect(child.GetBoundsRect(), 4, 4, 96, 56);
    // A border change realigns at once.
    p.SetBorderInner(fsNone);
    ExpectRect(child.GetBoundsRect(), 2, 2, 98, 58);
    // The border-width band stays free too: the child sits 2 + 5 inside.
    p.SetBorderWidth(5);
    ExpectRect(child.GetBoundsRect(), 7, 7, 93, 53);
}

TEST(TmPanelTest, SwatchKeepsClientRectBetweenPopupAndStatus)
{
    TTmPanel swatch(nullptr);
    swatch.SetBounds(0, 0, 30, 20);
    swatch.SetBorderOuter(fsPopup);
    const RECT before = swatch.GetClientRect();
    for (TFrameStyleEx s : {fsStatus, fsPopup}) {
        swatch.SetBorderOuter(s);
        EXPECT_EQ(swatch.GetBorderOuter(), s);
        const RECT r = swatch.GetClientRect();
        EXPECT_TRUE(EqualRect(&r, &before));
    }
}

TEST(TmPanelTest, PaintsFrameInteriorAndGrid)
{
    ThemesOff off;
    TTmPanel p(nullptr);
    p.SetBounds(0, 0, 40, 24);
    p.SetVisualStyle(vsClassic);
    p.SetColor(kRed);
    p.SetBorderOuter(fsFlat);
    p.SetFlatColor(kLime);
    p.SetFlatColorAdjustment(0);
    {
        auto b = PaintToBitmap(&p);
        EXPECT_EQ(Px(*b, 0, 10), kLime);
        EXPECT_EQ(Px(*b, 39, 10), kLime);
        EXPECT_EQ(Px(*b, 20, 0), kLime);
        EXPECT_EQ(Px(*b, 1, 1), kRed);
        EXPECT_EQ(Px(*b, 38, 22), kRed);
    }
    // No border sides: the interior fill covers everything.
    p.SetBorderSides(0);
    {
        auto b = PaintToBitmap(&p);
        EXPECT_EQ(Px(*b, 0, 0), kRed);
        EXPECT_EQ(Px(*b, 39, 23), kRed);
    }
    // Grid dots every 8 pixels, starting at 7.
    p.SetShowGrid(true);
    p.SetGridColor(kBlue);
    {
        auto b = PaintToBitmap(&p);
        EXPECT_EQ(Px(*b, 7, 7), kBlue);
        EXPECT_EQ(Px(*b, 15, 15), kBlue);
        EXPECT_EQ(Px(*b, 39, 23), kBlue);  // 40 div 8 = 5 columns, 24 div 8 = 3 rows
        EXPECT_EQ(Px(*b, 8, 7), kRed);
        EXPECT_EQ(Px(*b, 7, 22), kRed);
    }
    p.SetGridStyle(gsSolidLines);
    {
        auto b = PaintToBitmap(&p);
        EXPECT_EQ(Px(*b, 7, 0), kBlue);
        EXPECT_EQ(Px(*b, 8, 7), kBlue);
        EXPECT_EQ(Px(*b, 8, 8), kRed);
    }
    // Transparent panels leave the interior alone.
    p.SetShowGrid(false);
    p.SetTransparent(true);
    EXPECT_FALSE(p.ControlStyle & csOpaque);
    {
        auto b = PaintToBitmap(&p);
        EXPECT_EQ(Px(*b, 20, 12), 0x123456);
    }
}

TEST(TmPanelTest, GradientInteriorAndRoundedCorners)
{
    ThemesOff off;
    TTmPanel p(nullptr);
    p.SetBounds(0, 0, 64, 16);
    p.SetBorderOuter(fsNone);
    p.SetVisualStyle(vsGradient);
    p.SetGradientColorStyle(gcsCustom);
    p.SetGradientColorStart(0xFFFFFF);
    p.SetGradientColorStop(0x000000);
    p.SetGradientDirection(gdHorizontalEnd);
    {
        auto b = PaintToBitmap(&p);
        // Horizontal bands: the colour runs from top to bottom.
        const TColor top = Px(*b, 32, 0), bottom = Px(*b, 32, 15);
        EXPECT_GT(top & 0xFF, 0xF0);
        EXPECT_LT(bottom & 0xFF, 0x20);
    }
    // A rounded outer frame: the corner pixel of the grown interior is the
    // frame colour, its neighbour along the edge is filled.
    p.SetVisualStyle(vsClassic);
    p.SetColor(kRed);
    p.SetBorderOuter(fsFlatRounded);
    p.SetFlatColor(kLime);
    p.SetFlatColorAdjustment(0);
    auto b = PaintToBitmap(&p);
    EXPECT_EQ(Px(*b, 1, 1), kLime);
    EXPECT_EQ(Px(*b, 62, 14), kLime);
    EXPECT_EQ(Px(*b, 2, 2), kRed);
}

TEST(TmPanelTest, CaptionDrawnByAlignment)
{
    ThemesOff off;
    TTmPanel p(nullptr);
    p.SetBounds(0, 0, 120, 30);
    p.SetBorderOuter(fsNone);
    p.SetVisualStyle(vsClassic);
    p.SetColor(0xFFFFFF);
    p.GetFont()->SetColor(0x000000);
    p.SetCaption(L"WWWW");
    p.SetAlignment(taLeftJustify);
    auto dark = [](TBitmap& b, int x0, int x1) {
        int n = 0;
        for (int x = x0; x < x1; ++x)
            for (int y = 0; y < 30; ++y)
                if ((b.GetCanvas()->GetPixel(x, y) & 0xFF) < 0x80) ++n;
        return n;
    };
    {
        auto b = PaintToBitmap(&p);
        EXPECT_GT(dark(*b, 0, 40), 0);
        EXPECT_EQ(dark(*b, 80, 120), 0);
    }
    p.SetAlignment(taRightJustify);
    {
        auto b = PaintToBitmap(&p);
        EXPECT_EQ(dark(*b, 0, 40), 0);
        EXPECT_GT(dark(*b, 80, 120), 0);
    }
}

TEST(TmPanelTest, DisablingRemembersChildState)
{
    TTmPanel p(nullptr);
    TTmPanel a(nullptr), b(nullptr);
    a.SetParent(&p);
    b.SetParent(&p);
    a.SetEnabled(false);
    p.SetEnabled(false);
    EXPECT_FALSE(a.GetEnabled());
    EXPECT_FALSE(b.GetEnabled());
    p.SetEnabled(true);
    EXPECT_FALSE(a.GetEnabled());
    EXPECT_TRUE(b.GetEnabled());
    // A child added while disabled is enabled with the panel.
    p.SetEnabled(false);
    TTmPanel c(nullptr);
    c.SetParent(&p);
    c.SetEnabled(false);
    p.SetEnabled(true);
    EXPECT_TRUE(c.GetEnabled());
}

TEST(TmPanelTest, BottomAndRightAlignedKeepTheirOuterEdge)
{
    TTmPanel p(nullptr);
    p.SetBounds(0, 100, 50, 20);
    p.SetAlign(alBottom);
    p.SetHeight(30);
    ExpectRect(p.GetBoundsRect(), 0, 90, 50, 120);
    TTmPanel q(nullptr);
    q.SetBounds(100, 0, 40, 20);
    q.SetAlign(alRight);
    q.SetWidth(10);
    ExpectRect(q.GetBoundsRect(), 130, 0, 140, 20);
}

TEST(TmPanelTest, ObsoleteProperties)
{
    TTmPanel p(nullptr);
    EXPECT_TRUE(p.ReadObsoleteProperty(L"FrameSides", L"[sdLeft]"));
    EXPECT_TRUE(p.ReadObsoleteProperty(L"ThemeAware", L"False"));
    EXPECT_EQ(p.GetBorderSides(), sdAllSides);
    EXPECT_EQ(p.GetVisualStyle(), vsWinXP);
    EXPECT_TRUE(p.ReadObsoleteProperty(L"UseGradients", L"True"));
    EXPECT_EQ(p.GetVisualStyle(), vsGradient);
    EXPECT_FALSE(p.ReadObsoleteProperty(L"Other", L"1"));
}

TEST(TmPanelTest, FrameControllerPushesSettings)
{
    TTmFrameController* fc = new TTmFrameController(nullptr);
    fc->SetFrameStyle(fsFlat);
    fc->SetFrameSides(sdTop);
    fc->SetFrameColor(kBlue);
    fc->SetColor(kRed);
    TTmPanel p(nullptr);
    p.SetFrameControllerNotifications(FrameNotification(fcpFrameStyle) | FrameNotification(fcpFrameColor) |
                                      FrameNotification(fcpColor));
    // An invisible frame pushes nothing.
    p.SetFrameController(fc);
    EXPECT_EQ(p.GetBorderOuter(), fsRaised);
    fc->SetFrameVisible(true);
    EXPECT_EQ(p.GetBorderOuter(), fsFlat);
    EXPECT_EQ(p.GetBorderSides(), sdAllSides);  // not in the notification set
    EXPECT_EQ(p.GetFlatColor(), kBlue);
    EXPECT_EQ(p.GetFlatColorAdjustment(), 0);
    EXPECT_EQ(p.GetColor(), kRed);
    EXPECT_EQ(p.GetBorderHighlight(), TmLightenColor(kRed, 100));
    EXPECT_EQ(fc->GetControlCount(), 1);
    delete fc;
    EXPECT_EQ(p.GetFrameController(), nullptr);
}

// ------------------------------------------------------------- group box

TEST(TmGroupBoxTest, DefaultsAndCaptionRect)
{
    TTmGroupBox g(nullptr);
    EXPECT_EQ(g.GetBorderOuter(), fsNone);
    EXPECT_EQ(g.GetHeight(), 105);
    EXPECT_EQ(g.GetGroupStyle(), gsFlat);
    g.SetWidth(200);
    RECT empty = g.GetCaptionRect();
    EXPECT_TRUE(IsRectEmpty(&empty));
    g.SetCaption(L"&Options");
    const SIZE sz = [&] {
        TBitmap b;
        b.SetSize(1, 1);
        b.GetCanvas()->SetFont(g.GetFont());
        return b.GetCanvas()->TextExtent(L"Options");
    }();
    ExpectRect(g.GetCaptionRect(), 8, 0, sz.cx + 8, sz.cy);
    g.SetGroupStyle(gsUnderline);
    ExpectRect(g.GetCaptionRect(), 0, 0, 200, sz.cy + 2);
    g.SetGroupStyle(gsBanner);
    ExpectRect(g.GetCaptionRect(), 0, 0, 200, sz.cy + 6);
    g.SetBannerHeight(30);
    ExpectRect(g.GetCaptionRect(), 0, 0, 200, 30);
    g.SetGroupStyle(gsCustom);
    RECT none = g.GetCaptionRect();
    EXPECT_TRUE(IsRectEmpty(&none));
}

TEST(TmGroupBoxTest, FlatOutlineLeavesCorners)
{
    ThemesOff off;
    TTmGroupBox g(nullptr);
    g.SetBounds(0, 0, 60, 40);
    g.SetColor(kRed);
    g.SetFlatColor(kLime);
    g.SetFlatColorAdjustment(0);
    auto b = PaintToBitmap(&g);
    int t = 0;
    {
        TBitmap m;
        m.SetSize(1, 1);
        m.GetCanvas()->SetFont(g.GetFont());
        t = m.GetCanvas()->TextHeight(L"Pp") / 2 - 1;
    }
    EXPECT_EQ(Px(*b, 0, t + 10), kLime);
    EXPECT_EQ(Px(*b, 30, 39), kLime);
    EXPECT_EQ(Px(*b, 0, t), kRed);  // corner left out
    EXPECT_EQ(Px(*b, 1, t + 1), kLime);
    EXPECT_EQ(Px(*b, 30, 20), kRed);
}

// ------------------------------------------------------------ status bar

TEST(TmStatusBarTest, DefaultsAndAutoStyle)
{
    TTmStatusBar s(nullptr);
    EXPECT_EQ(s.GetAlign(), alBottom);
    EXPECT_EQ(s.GetHeight(), 19);
    EXPECT_EQ(s.GetBorderOuter(), fsNone);
    EXPECT_TRUE(s.GetAutoStyle());
    s.SetBorderOuter(fsRaised);
    EXPECT_FALSE(s.GetAutoStyle());
    s.SetAutoStyle(true);
    s.SetBorderWidth(2);
    s.ApplyAutoStyle();
    EXPECT_EQ(s.GetBorderOuter(), fsNone);
    EXPECT_EQ(s.GetBorderWidth(), 0);
    EXPECT_TRUE(s.GetAutoStyle());
}

TEST(TmStatusBarTest, ClientRectWithoutThemes)
{
    ThemesOff off;
    TTmStatusBar s(nullptr);
    s.SetBounds(0, 0, 200, 19);
    ExpectRect(s.GetClientRect(), -1, 1, 201, 20);
    s.SetSimpleStatus(true);
    ExpectRect(s.GetClientRect(), 0, 2, 200, 20);
}

TEST(TmStatusBarTest, AutoScalePanesSharesTheWidthChange)
{
    TTmStatusBar s(nullptr);
    s.SetAlign(alNone);
    s.SetBounds(0, 0, 200, 19);
    s.SetAutoScalePanes(true);
    TTmPanel a(nullptr), b(nullptr);
    a.SetBounds(0, 0, 50, 19);
    b.SetBounds(50, 0, 150, 19);
    a.SetParent(&s);
    b.SetParent(&s);
    s.SetWidth(300);
    EXPECT_EQ(a.GetWidth(), 75);
    EXPECT_EQ(b.GetWidth(), 225);
    // Without auto scaling the panes keep their widths.
    s.SetAutoScalePanes(false);
    s.SetWidth(400);
    EXPECT_EQ(a.GetWidth(), 75);
}

TEST(TmStatusBarTest, SimpleStatusHidesPanes)
{
    TTmStatusBar s(nullptr);
    TTmPanel a(nullptr);
    a.SetParent(&s);
    s.SetSimpleStatus(true);
    EXPECT_FALSE(a.GetVisible());
    s.SetSimpleStatus(false);
    EXPECT_TRUE(a.GetVisible());
}

TEST(TmStatusBarTest, SizeGripOnlyOnSizeableUnmaximizedForm)
{
    ThemesOff off;
    TForm form(nullptr);
    TTmStatusBar s(nullptr);
    s.SetParent(&form);
    s.SetVisualStyle(vsClassic);
    s.SetAlign(alNone);
    s.SetBounds(0, 0, 100, 19);
    s.SetColor(kRed);
    // An opaque pane over the whole bar: the grip is drawn over it.
    TTmStatusPane pane(nullptr);
    pane.SetParent(&s);
    pane.SetBounds(0, 0, 100, 19);
    pane.SetTransparent(false);
    s.UpdateSizeGripAllowed();
    EXPECT_TRUE(s.GetSizeGripAllowed());
    {
        auto b = PaintToBitmap(&s);
        // Light squares at (R.Right - 5, R.Bottom - 12), R = client with
        // Bottom - 1 = (-1, 1, 101, 19): the pixel (97, 8) is light only,
        // (95, 6) dark only.
        EXPECT_EQ(Px(*b, 97, 8), ColorToRGB(clBtnHighlight));
        EXPECT_EQ(Px(*b, 95, 6), ColorToRGB(clBtnShadow));
        EXPECT_EQ(Px(*b, 50, 10), kRed);
    }
    pane.SetParent(nullptr);
    s.SetShowSizeGrip(false);
    {
        auto b = PaintToBitmap(&s);
        EXPECT_EQ(Px(*b, 97, 8), kRed);
    }
    s.SetShowSizeGrip(true);

    form.SetBorderStyle(bsDialog);
    s.UpdateSizeGripAllowed();
    EXPECT_FALSE(s.GetSizeGripAllowed());

    // A maximized form: no grip, and a click at the right end is an ordinary
    // click.
    form.SetBorderStyle(bsSizeable);
    HWND wnd = form.GetHandle();
    ::SetWindowLongPtrW(wnd, GWL_STYLE, ::GetWindowLongPtrW(wnd, GWL_STYLE) | WS_MAXIMIZE);
    s.UpdateSizeGripAllowed();
    EXPECT_FALSE(s.GetSizeGripAllowed());
    MouseCounter counter;
    s.OnMouseDown = TMouseEvent(&counter, &MouseCounter::Down);
    s.Perform(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(95, 10));
    s.Perform(WM_LBUTTONUP, 0, MAKELPARAM(95, 10));
    EXPECT_EQ(counter.downs, 1);
    {
        auto b = PaintToBitmap(&s);
        EXPECT_EQ(Px(*b, 97, 8), kRed);
    }
    s.SetParent(nullptr);
}

TEST(TmPanelTest, TransparentPanelErasesWithParentBackground)
{
    TTmPanel parent(nullptr);
    parent.SetBounds(0, 0, 100, 100);
    parent.SetBorderOuter(fsNone);
    parent.SetColor(kLime);
    TTmPanel child(nullptr);
    child.SetParent(&parent);
    child.SetBounds(10, 10, 20, 20);
    child.SetColor(kRed);
    auto erase = [&child] {
        auto b = std::make_unique<TBitmap>();
        b->SetPixelFormat(pf24bit);
        b->SetSize(20, 20);
        const LRESULT r = child.Perform(WM_ERASEBKGND, reinterpret_cast<WPARAM>(b->GetCanvas()->GetHandle()), 0);
        EXPECT_EQ(r, 1);
        return b;
    };
    EXPECT_EQ(Px(*erase(), 10, 10), kRed);
    child.SetTransparent(true);
    EXPECT_EQ(Px(*erase(), 10, 10), kLime);
    child.SetParent(nullptr);
}

// Alt with the group box caption's accelerator focuses the box's first
// child; other characters and "&&" are not its accelerator.
TEST(TmGroupBoxTest, AcceleratorFocusesTheFirstChild)
{
    TForm form(nullptr);
    form.SetBounds(0, 0, 300, 200);
    auto* outside = new classlib::TEdit(&form);
    outside->SetParent(&form);
    outside->SetBounds(5, 5, 100, 20);
    auto* box = new TTmGroupBox(&form);
    box->SetParent(&form);
    box->SetBounds(5, 40, 200, 120);
    box->SetCaption(L"Fish && &Chips");
    auto* first = new classlib::TEdit(&form);
    first->SetParent(box);
    first->SetBounds(10, 20, 100, 20);
    auto* second = new classlib::TEdit(&form);
    second->SetParent(box);
    second->SetBounds(10, 50, 100, 20);
    first->SetTabStop(true);
    second->SetTabStop(true);
    form.Show();
    outside->SetFocus();
    ASSERT_EQ(GetFocus(), outside->GetHandle());
    const struct {
        wchar_t key;
        bool taken;
    } cases[] = {{L'x', false}, {L'&', false}, {L'c', true}, {L'C', true}};
    for (const auto& c : cases) {
        outside->SetFocus();
        EXPECT_EQ(form.Perform(CM_DIALOGCHAR, c.key, 0) != 0, c.taken) << static_cast<char>(c.key);
        EXPECT_EQ(GetFocus(), c.taken ? first->GetHandle() : outside->GetHandle()) << static_cast<char>(c.key);
    }
    // A box that cannot take the focus leaves it.
    box->SetEnabled(false);
    outside->SetFocus();
    EXPECT_EQ(form.Perform(CM_DIALOGCHAR, L'c', 0), 0);
    EXPECT_EQ(GetFocus(), outside->GetHandle());
}
