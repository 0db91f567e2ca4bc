#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Component.h"
#include "classlib/Controls.h"
#include "classlib/Exceptions.h"
#include "classlib/StdCtrls.h"
#include "classlib/WinHandles.h"
#include "controls/themed/TmPanel.h"
#include "controls/themed/TmSplit.h"
#include "support/HostWindow.h"
#include "tests/controls/themed/TmPaintSupport.h"

using namespace classlib;
using namespace themed;
using testsupport::THostWindow;
using tmtest::ExpectRect;

namespace {

RECT Bounds(const TControl* C) { return C->GetBoundsRect(); }

// A cursor's hot spot and mask bits, to tell two cursor handles of the same
// image apart from different images.
std::vector<uint8_t> CursorImage(HCURSOR Cursor)
{
    ICONINFO info{};
    if (!Cursor || !::GetIconInfo(Cursor, &info)) return {};
    TOwnedBitmap mask(info.hbmMask), color(info.hbmColor);
    std::vector<uint8_t> out{static_cast<uint8_t>(info.xHotspot), static_cast<uint8_t>(info.yHotspot)};
    for (HBITMAP b : {mask.Get(), color.Get()}) {
        BITMAP bm{};
        if (!b || !::GetObjectW(b, sizeof(bm), &bm)) continue;
        std::vector<uint8_t> bits(static_cast<size_t>(bm.bmWidthBytes) * bm.bmHeight);
        ::GetBitmapBits(b, static_cast<LONG>(bits.size()), bits.data());
        out.insert(out.end(), bits.begin(), bits.end());
    }
    return out;
}

// A splitter of the given size with a window in a host, as dragging needs.
std::unique_ptr<TTmSplitter> MakeSplitter(int Width, int Height, uint16_t BarWidth)
{
    auto s = std::make_unique<TTmSplitter>(nullptr);
    s->SetBounds(0, 0, Width, Height);
    s->SetSplitterWidth(BarWidth);
    return s;
}

void Mouse(TTmSplitter& S, UINT Msg, int X, int Y)
{
    ::SendMessageW(S.GetHandle(), Msg, Msg == WM_LBUTTONUP ? 0 : MK_LBUTTON, MAKELPARAM(X, Y));
}

void Drag(TTmSplitter& S, int FromX, int FromY, int ToX, int ToY)
{
    Mouse(S, WM_LBUTTONDOWN, FromX, FromY);
    Mouse(S, WM_MOUSEMOVE, ToX, ToY);
    Mouse(S, WM_LBUTTONUP, ToX, ToY);
}

struct TCounter {
    int changes = 0;
    int hotSpotClicks = 0;
    int refuseAbove = INT_MAX;
    void Changed(TObject*) { ++changes; }
    void Clicked(TObject*) { ++hotSpotClicks; }
    void Changing(TObject*, int NewPos, bool& Allow) { Allow = NewPos <= refuseAbove; }
};

}  // namespace

TEST(TmSplitTest, DefaultsAndPaneBoundsFollowPositionOrientationAndVisibility)
{
    TTmSplitter s(nullptr);
    EXPECT_EQ(s.GetWidth(), 200);
    EXPECT_EQ(s.GetHeight(), 100);
    EXPECT_EQ(s.GetPosition(), 100);
    EXPECT_EQ(s.GetSplitterWidth(), 4);
    EXPECT_EQ(s.GetBorderOuter(), fsNone);
    EXPECT_EQ(s.GetPane1()->GetParent(), &s);
    EXPECT_EQ(s.GetPane2()->GetParent(), &s);
    EXPECT_NE(s.GetPane1()->ControlStyle & csAcceptsControls, 0u);
    EXPECT_EQ(s.ControlStyle & csAcceptsControls, 0u);

    struct Case {
        TOrientation orientation;
        bool pane1Visible, pane2Visible;
        RECT pane1, bar, pane2;
    };
    // 600 x 200, bar 8 wide at 150.
    const Case cases[] = {
        {orHorizontal, true, true, {0, 0, 150, 200}, {150, 0, 158, 200}, {158, 0, 600, 200}},
        {orVertical, true, true, {0, 0, 600, 150}, {0, 150, 600, 158}, {0, 158, 600, 200}},
        {orHorizontal, true, false, {0, 0, 600, 200}, {0, 0, 0, 0}, {600, 0, 600, 200}},
        {orHorizontal, false, true, {0, 0, 0, 200}, {0, 0, 0, 0}, {0, 0, 600, 200}},
        {orVertical, true, false, {0, 0, 600, 200}, {0, 0, 0, 0}, {0, 200, 600, 200}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "orientation " << int(c.orientation) << " visible " << c.pane1Visible
                                        << c.pane2Visible);
        TTmSplitter sp(nullptr);
        sp.SetBounds(0, 0, 600, 200);
        sp.SetSplitterWidth(8);
        sp.SetOrientation(c.orientation);
        sp.SetPosition(150);
        sp.GetPane1()->SetVisible(c.pane1Visible);
        sp.GetPane2()->SetVisible(c.pane2Visible);
        ExpectRect(Bounds(sp.GetPane1()), c.pane1.left, c.pane1.top, c.pane1.right, c.pane1.bottom, "pane 1");
        ExpectRect(sp.GetBarRect(), c.bar.left, c.bar.top, c.bar.right, c.bar.bottom, "bar");
        ExpectRect(Bounds(sp.GetPane2()), c.pane2.left, c.pane2.top, c.pane2.right, c.pane2.bottom, "pane 2");
    }
}

TEST(TmSplitTest, HiddenPaneLeavesPositionsUnconstrained)
{
    auto s = MakeSplitter(600, 200, 8);
    s->SetMarginMin(145);
    s->SetMarginMax(145);
    s->GetPane2()->SetVisible(false);
    s->SetPosition(5000);
    EXPECT_EQ(s->GetPosition(), 5000);
    s->SetPosition(3);
    EXPECT_EQ(s->GetPosition(), 3);
    // Showing the pane again applies the limits at the next move.
    s->GetPane2()->SetVisible(true);
    s->SetPosition(2);
    EXPECT_EQ(s->GetPosition(), 145);
}

TEST(TmSplitTest, MarginsLimitPositionAndEachOther)
{
    auto s = MakeSplitter(600, 200, 8);
    s->SetMarginMin(145);
    s->SetMarginMax(145);
    EXPECT_EQ(s->GetPosition(), 100);  // the margins apply at the next SetPosition, not before
    s->SetPosition(1000);
    EXPECT_EQ(s->GetPosition(), 600 - 145 - 8);
    s->SetPosition(-20);
    EXPECT_EQ(s->GetPosition(), 145);

    // Setting a margin does not move the bar.
    auto t = MakeSplitter(600, 200, 8);
    t->SetPosition(300);
    t->SetMarginMax(145);
    t->SetMarginMin(500);
    EXPECT_EQ(t->GetMarginMin(), 455);
    EXPECT_EQ(t->GetPosition(), 300);
    t->SetMarginMin(-3);
    EXPECT_EQ(t->GetMarginMin(), 0);
    t->SetMarginMin(100);
    t->SetMarginMax(900);
    EXPECT_EQ(t->GetMarginMax(), 500);

    // Frames count twice in the layout and in the upper limit.
    auto f = MakeSplitter(600, 200, 8);
    f->SetBorderOuter(fsRaised);
    EXPECT_EQ(f->GetBorderInset(), 4);
    f->SetMarginMax(145);
    f->SetPosition(1000);
    EXPECT_EQ(f->GetPosition(), 600 - 145 - 8 - 8);
    EXPECT_EQ(Bounds(f->GetPane1()).left, 4);
    EXPECT_EQ(Bounds(f->GetPane1()).top, 4);
    EXPECT_EQ(f->GetBarRect().left, 4 + f->GetPosition());
}

TEST(TmSplitTest, PercentFollowsResize)
{
    auto s = MakeSplitter(400, 100, 8);
    s->SetPercent(40);
    EXPECT_TRUE(s->GetUsePercent());
    EXPECT_EQ(s->GetPosition(), 158);  // Round(0.4 * 396)
    s->SetWidth(800);
    EXPECT_EQ(s->GetPosition(), 318);  // Round(0.4 * 796)
    EXPECT_EQ(s->GetPercent(), 40);
    EXPECT_EQ(Bounds(s->GetPane2()).left, 326);

    // Percent limits turn into margins of the current size.
    s->SetPercentMin(25);
    EXPECT_EQ(s->GetMarginMin(), 199);  // Round(0.25 * 796)
    s->SetPercentMax(150);
    EXPECT_EQ(s->GetPercentMax(), 100);
    s->SetPercentMax(90);
    EXPECT_EQ(s->GetMarginMax(), 796 - 716);
    s->SetPosition(10);
    EXPECT_EQ(s->GetPosition(), 199);
    EXPECT_EQ(s->GetPercent(), 25);

    // Setting UsePercent makes the upper/left pane the fixed one.
    auto t = MakeSplitter(400, 100, 8);
    t->SetFixedPane(fpLowerRight);
    t->SetUsePercent(true);
    EXPECT_EQ(t->GetFixedPane(), fpUpperLeft);
    t->SetFixedPane(fpLowerRight);
    EXPECT_FALSE(t->GetUsePercent());
}

TEST(TmSplitTest, FixedPaneKeepsItsSizeOnResize)
{
    // Lower/right pane fixed: pane 2 keeps its width.
    auto s = MakeSplitter(400, 100, 4);
    s->SetPosition(300);
    s->SetFixedPane(fpLowerRight);
    EXPECT_EQ(s->GetFixedOffset(), 100);
    s->SetWidth(600);
    EXPECT_EQ(s->GetPosition(), 500);
    s->SetWidth(300);
    EXPECT_EQ(s->GetPosition(), 200);

    // Upper/left pane fixed: the position the user chose comes back when
    // the splitter grows after a shrink that limited it.
    auto t = MakeSplitter(600, 100, 4);
    t->UpdatePosition(300);
    EXPECT_EQ(t->GetStoredFixedPosition(), 300);
    t->SetWidth(200);
    EXPECT_EQ(t->GetPosition(), 196);
    t->SetWidth(700);
    EXPECT_EQ(t->GetPosition(), 300);
}

TEST(TmSplitTest, BarWidthAndStylesRelayoutThePanes)
{
    auto s = MakeSplitter(400, 100, 4);
    s->SetPosition(100);
    s->SetSplitterWidth(10);
    ExpectRect(s->GetBarRect(), 100, 0, 110, 100, "bar");
    EXPECT_EQ(Bounds(s->GetPane2()).left, 110);
    EXPECT_EQ(Bounds(s->GetPane2()).right, 400);

    auto t = MakeSplitter(400, 100, 4);
    t->SetSplitterStyle(ssGroove);
    EXPECT_EQ(t->GetSplitterWidth(), 6);
    t->SetHotSpotVisible(true);
    EXPECT_EQ(t->GetSplitterWidth(), 7);
    t->SetSplitterWidth(12);
    t->SetSplitterStyle(ssBump);
    EXPECT_EQ(t->GetSplitterWidth(), 12);
    // The hot spot is centred on the bar with HotSpotSizePercent of its length.
    ExpectRect(t->GetHotSpotRect(), 100, 30, 112, 70, "hot spot");
    t->SetHotSpotSizePercent(60);
    ExpectRect(t->GetHotSpotRect(), 100, 20, 112, 80, "hot spot 60%");
}

TEST(TmSplitTest, ChangeEventsAndRefusal)
{
    auto s = MakeSplitter(600, 200, 8);
    TCounter counter;
    s->OnChange = TNotifyEvent(&counter, &TCounter::Changed);
    s->OnChanging = TPositionChangingEvent(&counter, &TCounter::Changing);
    s->SetPosition(200);
    s->SetPosition(200);
    EXPECT_EQ(counter.changes, 1);

    counter.refuseAbove = 250;
    s->SetPosition(300);
    EXPECT_EQ(s->GetPosition(), 200);
    EXPECT_EQ(counter.changes, 1);
    EXPECT_EQ(Bounds(s->GetPane1()).right, 200);

    THostWindow host(700, 300, false);
    s->SetParentWindow(host.Get());
    Drag(*s, 204, 100, 404, 100);
    EXPECT_EQ(s->GetPosition(), 200);
    EXPECT_EQ(Bounds(s->GetPane2()).left, 208);
    EXPECT_FALSE(s->IsDragging());
    // A drag within what the handler allows goes through.
    Drag(*s, 204, 100, 244, 100);
    EXPECT_EQ(s->GetPosition(), 240);
    EXPECT_EQ(counter.changes, 2);
}

TEST(TmSplitTest, DraggingMovesTheBarWithinTheMargins)
{
    THostWindow host(700, 300, false);
    auto s = MakeSplitter(600, 200, 8);
    s->SetParentWindow(host.Get());
    s->SetMarginMin(145);
    s->SetMarginMax(145);
    s->SetPosition(300);

    // Without real-time dragging the bar moves on release only.
    Mouse(*s, WM_LBUTTONDOWN, 304, 50);
    EXPECT_TRUE(s->IsDragging());
    Mouse(*s, WM_MOUSEMOVE, 354, 60);
    EXPECT_EQ(s->GetPosition(), 300);
    Mouse(*s, WM_LBUTTONUP, 354, 60);
    EXPECT_FALSE(s->IsDragging());
    EXPECT_EQ(s->GetPosition(), 350);
    EXPECT_EQ(s->GetStoredFixedPosition(), 350);
    EXPECT_EQ(Bounds(s->GetPane2()).left, 358);

    // Beyond either end the bar stops at the limit.
    Drag(*s, 354, 50, 599, 50);
    EXPECT_EQ(s->GetPosition(), 447);
    Drag(*s, 450, 50, 0, 50);
    EXPECT_EQ(s->GetPosition(), 145);

    // A press beside the bar starts nothing.
    Drag(*s, 20, 50, 300, 50);
    EXPECT_EQ(s->GetPosition(), 145);

    // Real-time dragging moves the panes with the mouse.
    s->SetRealTimeDrag(true);
    Mouse(*s, WM_LBUTTONDOWN, 150, 50);
    Mouse(*s, WM_MOUSEMOVE, 250, 50);
    EXPECT_EQ(s->GetPosition(), 245);
    EXPECT_EQ(Bounds(s->GetPane1()).right, 245);
    Mouse(*s, WM_LBUTTONUP, 250, 50);
    EXPECT_EQ(s->GetPosition(), 245);

    // A locked bar cannot be dragged.
    s->SetLockBar(true);
    Drag(*s, 249, 50, 350, 50);
    EXPECT_EQ(s->GetPosition(), 245);
    EXPECT_FALSE(s->IsDragging());
}

TEST(TmSplitTest, EscapeCancelsADrag)
{
    THostWindow host(700, 300, false);
    auto s = MakeSplitter(400, 100, 4);
    s->SetParentWindow(host.Get());
    s->SetPosition(100);
    TCounter counter;
    s->OnChange = TNotifyEvent(&counter, &TCounter::Changed);
    Mouse(*s, WM_LBUTTONDOWN, 101, 50);
    Mouse(*s, WM_MOUSEMOVE, 201, 50);
    ::SendMessageW(s->GetHandle(), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_FALSE(s->IsDragging());
    EXPECT_NE(::GetCapture(), s->GetHandle());
    // The release after the cancel moves nothing.
    Mouse(*s, WM_LBUTTONUP, 201, 50);
    EXPECT_EQ(s->GetPosition(), 100);
    EXPECT_EQ(counter.changes, 0);
}

TEST(TmSplitTest, HotSpotClosesToEitherEndAndReopens)
{
    THostWindow host(700, 300, false);
    auto s = MakeSplitter(600, 200, 8);
    s->SetParentWindow(host.Get());
    s->SetHotSpotVisible(true);
    s->SetHotSpotDirection(hsdBoth);
    s->SetHotSpotIgnoreMargins(false);
    s->SetMarginMin(145);
    s->SetMarginMax(145);
    s->SetPosition(300);
    TCounter counter;
    s->OnHotSpotClick = TNotifyEvent(&counter, &TCounter::Clicked);
    ExpectRect(s->GetHotSpotRect(), 300, 60, 308, 140, "hot spot");

    auto click = [&](int x, int y) {
        Mouse(*s, WM_LBUTTONDOWN, x, y);
        Mouse(*s, WM_LBUTTONUP, x, y);
    };
    // Second half: closed to the far limit.
    click(304, 120);
    EXPECT_TRUE(s->GetHotSpotClosed());
    EXPECT_TRUE(s->GetHotSpotClosedToMax());
    EXPECT_EQ(s->GetPosition(), 447);
    EXPECT_EQ(counter.hotSpotClicks, 1);
    // A second click restores the position from before.
    click(451, 100);
    EXPECT_FALSE(s->GetHotSpotClosed());
    EXPECT_EQ(s->GetPosition(), 300);
    // First half: closed to the minimum.
    click(304, 70);
    EXPECT_TRUE(s->GetHotSpotClosedToMin());
    EXPECT_EQ(s->GetPosition(), 145);
    // Dragging the bar in between reopens it.
    Drag(*s, 149, 10, 249, 10);
    EXPECT_FALSE(s->GetHotSpotClosed());
    EXPECT_FALSE(s->GetHotSpotClosedToMin());
    EXPECT_EQ(s->GetPosition(), 245);
    EXPECT_EQ(counter.hotSpotClicks, 3);

    // hsdMin with margins ignored collapses pane 1 entirely; a locked bar
    // still answers its hot spot.
    s->SetHotSpotDirection(hsdMin);
    s->SetHotSpotIgnoreMargins(true);
    s->SetLockBar(true);
    click(249, 130);
    EXPECT_EQ(s->GetPosition(), 0);
    EXPECT_EQ(Bounds(s->GetPane1()).right, 0);
    click(4, 100);
    EXPECT_EQ(s->GetPosition(), 245);
}

TEST(TmSplitTest, LoadedMovesNamedControlsIntoPanes)
{
    TComponent form(nullptr);
    auto* s = new TTmSplitter(&form);
    s->SetName(L"Splitter1");
    auto* left = new TTmPanel(&form);
    left->SetName(L"Left1");
    auto* right = new TTmPanel(&form);
    right->SetName(L"Right1");

    BeginLoading(&form);
    s->ReadPaneControlNames(1, {L"Stale"});
    s->ReadPaneControlNames(1, {L"Left1", L"NoSuchControl"});
    s->ReadPaneControlNames(2, {L"Right1"});
    EXPECT_EQ(s->GetPaneNameList(1).size(), 2u);
    EXPECT_NO_THROW(EndLoading(&form));

    EXPECT_EQ(left->GetParent(), s->GetPane1());
    EXPECT_EQ(right->GetParent(), s->GetPane2());
    EXPECT_EQ(s->GetPaneControlNames(1), std::vector<std::wstring>{L"Left1"});
    EXPECT_EQ(s->GetPaneControlNames(2), std::vector<std::wstring>{L"Right1"});
    EXPECT_EQ(TTmSplitter::LoadingCount(), 0);
    EXPECT_THROW(s->GetPaneControlNames(3), Exception);
}

TEST(TmSplitTest, PaneDataReadsAndWritesThePane)
{
    TTmSplitter a(nullptr), b(nullptr);
    EXPECT_THROW(a.GetPaneData(0), Exception);
    EXPECT_THROW(a.GetPaneData(3), Exception);
    a.GetUpperLeft()->SetColor(0x123456);
    a.GetUpperLeft()->SetBorderOuter(fsFlat);
    EXPECT_EQ(a.GetPane1()->GetColor(), TColor(0x123456));
    b.SetLowerRight(a.GetUpperLeft());
    EXPECT_EQ(b.GetPane2()->GetColor(), TColor(0x123456));
    EXPECT_EQ(b.GetPane2()->GetBorderOuter(), fsFlat);
    // Hiding a pane through its data lays the splitter out again.
    b.GetLowerRight()->SetVisible(false);
    EXPECT_EQ(Bounds(b.GetPane1()).right, 200);
}

TEST(TmSplitTest, PaintsBarAndHotSpot)
{
    THostWindow host(400, 200, true);
    TTmSplitter s(nullptr);
    s.SetParentWindow(host.Get());
    s.SetBounds(0, 0, 400, 200);
    s.SetSplitterWidth(8);
    s.SetPosition(100);
    s.SetFullRepaint(false);
    s.SetColor(0x0000FF);
    s.GetUpperLeft()->SetColor(0x00FF00);
    s.GetLowerRight()->SetColor(0xFF0000);
    s.SetHotSpotVisible(true);
    s.SetHotSpotColor(0x00FFFF);
    s.SetHotSpotFrameColor(0x000000);
    s.SetHotSpotDotColor(0xFFFFFF);
    s.HandleNeeded();
    ::ShowWindow(s.GetHandle(), SW_SHOWNOACTIVATE);
    ::RedrawWindow(host.Get(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    THostWindow::Pump();

    TWindowDC dc(host.Get());
    auto at = [&](int x, int y) { return ::GetPixel(dc.Get(), x, y); };
    EXPECT_EQ(at(50, 100), RGB(0, 255, 0));    // pane 1
    EXPECT_EQ(at(300, 100), RGB(0, 0, 255));   // pane 2
    EXPECT_EQ(at(104, 10), RGB(255, 0, 0));    // bar, outside the hot spot
    // Hot spot: 8 x 80 centred on the bar, outlined, filled, with dots.
    EXPECT_EQ(at(100, 70), RGB(0, 0, 0));      // outline
    EXPECT_EQ(at(102, 100), RGB(255, 255, 0)); // fill
    EXPECT_EQ(at(104, 75), RGB(255, 255, 255));// first dot, 15 pixels in
    // The arrow 8 pixels in points left (to the minimum): its base is the
    // right column, its tip the left one.
    EXPECT_EQ(at(105, 68), RGB(255, 255, 255));
    EXPECT_EQ(at(103, 68), RGB(255, 255, 0));
    EXPECT_EQ(at(103, 70), RGB(255, 255, 255));
}

// Double-buffered, the splitter paints into a memory bitmap and the window
// shows the same picture.
TEST(TmSplitTest, DoubleBufferedPaintGoesThroughAMemoryBitmap)
{
    for (bool buffered : {false, true}) {
        SCOPED_TRACE(buffered ? "buffered" : "direct");
        THostWindow host(400, 200, true);
        TTmSplitter s(nullptr);
        s.SetParentWindow(host.Get());
        s.SetBounds(0, 0, 400, 200);
        s.SetSplitterWidth(8);
        s.SetPosition(100);
        s.SetFullRepaint(false);
        s.SetColor(0x0000FF);
        s.GetUpperLeft()->SetColor(0x00FF00);
        s.SetDoubleBuffered(buffered);
        struct Seen {
            TTmSplitter* s = nullptr;
            std::vector<DWORD> types;
            void Painted(TObject*) { types.push_back(::GetObjectType(s->GetCanvas()->GetHandle())); }
        } seen;
        seen.s = &s;
        s.OnPaint = TNotifyEvent(&seen, &Seen::Painted);
        s.HandleNeeded();
        ::ShowWindow(s.GetHandle(), SW_SHOWNOACTIVATE);
        ::RedrawWindow(host.Get(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        THostWindow::Pump();
        ASSERT_FALSE(seen.types.empty());
        for (DWORD t : seen.types)
            EXPECT_EQ(t == OBJ_MEMDC, buffered);
        TWindowDC dc(host.Get());
        EXPECT_EQ(::GetPixel(dc.Get(), 104, 10), RGB(255, 0, 0));  // the bar
        EXPECT_EQ(::GetPixel(dc.Get(), 50, 100), RGB(0, 255, 0));  // pane 1
        s.OnPaint = nullptr;
    }
}

// Showing a hidden pane through the splitter makes it visible and lays the
// panes out again; other controls go up the parent chain.
TEST(TmSplitTest, ShowControlShowsAHiddenPane)
{
    THostWindow host(400, 200, true);
    TTmSplitter s(nullptr);
    s.SetParentWindow(host.Get());
    s.SetBounds(0, 0, 400, 200);
    s.SetSplitterWidth(8);
    s.SetPosition(100);
    s.HandleNeeded();
    s.GetPane2()->SetVisible(false);
    EXPECT_EQ(Bounds(s.GetPane1()).right, 400);
    s.ShowControl(s.GetPane2());
    EXPECT_TRUE(s.GetPane2()->GetVisible());
    EXPECT_EQ(Bounds(s.GetPane1()).right, 100);
    // A control inside a hidden pane asks its pane's parent: the splitter.
    s.GetPane1()->SetVisible(false);
    TPanel inner(nullptr);
    inner.SetParent(s.GetPane1());
    inner.SetVisible(true);
    s.GetPane1()->ShowControl(&inner);
    EXPECT_TRUE(s.GetPane1()->GetVisible());
    inner.SetParent(nullptr);
}

TEST(TmSplitTest, CursorOverTheBarUnlessLocked)
{
    THostWindow host(400, 200, true);
    TTmSplitter s(nullptr);
    s.SetParentWindow(host.Get());
    s.SetBounds(0, 0, 400, 200);
    s.SetSplitterWidth(8);
    s.SetPosition(100);
    s.HandleNeeded();
    ::ShowWindow(s.GetHandle(), SW_SHOWNOACTIVATE);
    THostWindow::Pump();

    auto cursorAt = [&](int x, int y) {
        POINT p{x, y};
        ::ClientToScreen(s.GetHandle(), &p);
        ::SetCursorPos(p.x, p.y);
        ::SetCursor(nullptr);
        ::SendMessageW(s.GetHandle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(s.GetHandle()),
                       MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        return ::GetCursor();
    };
    POINT check{};
    ::SetCursorPos(104, 20);
    ::GetCursorPos(&check);
    if (check.x != 104 || check.y != 20) GTEST_SKIP() << "the display does not move the mouse";

    // The test program links the splitter's cursor resources: over the bar
    // the cursor is the named resource's image, hot spot variant over the
    // visible hot spot; a locked bar leaves the window's own cursor.
    auto same = [](HCURSOR shown, const wchar_t* name) {
        const std::vector<uint8_t> a = CursorImage(shown);
        TOwnedCursor expected(static_cast<HCURSOR>(
            ::LoadImageW(::GetModuleHandleW(nullptr), name, IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE)));
        return expected.Get() && !a.empty() && a == CursorImage(expected.Get());
    };
    EXPECT_TRUE(same(cursorAt(104, 20), L"TMSPLIT_HORZ"));
    EXPECT_FALSE(same(cursorAt(50, 20), L"TMSPLIT_HORZ"));
    s.SetHotSpotVisible(true);
    const RECT hot = s.GetHotSpotRect();
    const int hx = (hot.left + hot.right) / 2, hy = (hot.top + hot.bottom) / 2;
    EXPECT_TRUE(same(cursorAt(hx, hy), L"TMSPLIT_HORZHOTSPOT"));
    EXPECT_TRUE(same(cursorAt(hx, hot.top - 3), L"TMSPLIT_HORZ"));
    s.SetHotSpotVisible(false);
    s.SetOrientation(orVertical);
    EXPECT_TRUE(same(cursorAt(20, 104), L"TMSPLIT_VERT"));
    s.SetHotSpotVisible(true);
    const RECT vhot = s.GetHotSpotRect();
    EXPECT_TRUE(same(cursorAt((vhot.left + vhot.right) / 2, (vhot.top + vhot.bottom) / 2), L"TMSPLIT_VERTHOTSPOT"));
    s.SetLockBar(true);
    EXPECT_FALSE(same(cursorAt((vhot.left + vhot.right) / 2, (vhot.top + vhot.bottom) / 2), L"TMSPLIT_VERTHOTSPOT"));
    EXPECT_FALSE(same(cursorAt(20, 104), L"TMSPLIT_VERT"));
}

TEST(TmSplitTest, NestedSplitterFollowsItsPane)
{
    TTmSplitter outer(nullptr);
    outer.SetBounds(0, 0, 600, 400);
    outer.SetSplitterWidth(8);
    outer.SetPosition(200);
    TTmSplitter inner(nullptr);
    inner.SetParent(outer.GetPane2());
    inner.SetAlign(alClient);
    inner.SetOrientation(orVertical);
    inner.SetSplitterWidth(8);
    inner.SetPercent(50);
    EXPECT_EQ(inner.GetWidth(), 392);
    EXPECT_EQ(inner.GetPosition(), 198);  // Round(0.5 * 396)
    outer.SetPosition(300);
    EXPECT_EQ(inner.GetWidth(), 292);
    EXPECT_EQ(Bounds(inner.GetPane2()).right, 292);
    outer.SetHeight(200);
    EXPECT_EQ(inner.GetPosition(), 98);  // Round(0.5 * 196)
    inner.SetParent(nullptr);
}

TEST(TmSplitTest, BothWaysHotSpotHighlightsTheHalfUnderTheMouse)
{
    THostWindow host(400, 200, true);
    TTmSplitter s(nullptr);
    s.SetParentWindow(host.Get());
    s.SetBounds(0, 0, 400, 200);
    s.SetOrientation(orVertical);
    s.SetSplitterWidth(8);
    s.SetPosition(100);
    s.SetHotSpotVisible(true);
    s.SetHotSpotDirection(hsdBoth);
    s.SetHotSpotColor(0x00FFFF);
    s.SetHotSpotHighlight(0xFF00FF);
    s.SetHotSpotFrameColor(0x000000);
    s.HandleNeeded();
    ::ShowWindow(s.GetHandle(), SW_SHOWNOACTIVATE);
    ::RedrawWindow(host.Get(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    THostWindow::Pump();
    // Bar 400 x 8 at y 100; hot spot 160 long centred at x 200.
    ExpectRect(s.GetHotSpotRect(), 120, 100, 280, 108, "hot spot");

    s.DrawHotSpot(true, POINT{250, 104});
    TWindowDC dc(host.Get());
    EXPECT_EQ(::GetPixel(dc.Get(), 150, 102), RGB(255, 255, 0));  // first half: plain fill
    EXPECT_EQ(::GetPixel(dc.Get(), 250, 102), RGB(255, 0, 255));  // second half: highlight
    EXPECT_EQ(::GetPixel(dc.Get(), 200, 102), RGB(0, 0, 0));      // divider while open
    s.DrawHotSpot(false, POINT{0, 0});
    EXPECT_EQ(::GetPixel(dc.Get(), 250, 102), RGB(255, 255, 0));
}

// A pane lets clicks on its empty area through to the splitter, but a label
// drawn in it is hit and gets its click.
TEST(TmSplitTest, PaneKeepsTheClicksOfItsDrawnControls)
{
    THostWindow host(700, 300, true);
    auto s = MakeSplitter(600, 200, 8);
    s->SetParentWindow(host.Get());
    s->SetPosition(300);
    TTmSplitterPane* pane = s->GetPane2();
    TLabel label(nullptr);
    label.SetParent(pane);
    label.SetBounds(20, 30, 80, 20);
    int clicks = 0;
    label.OnClick = TNotifyEvent::FromFunction([](void* c, TObject*) { ++*static_cast<int*>(c); }, &clicks);
    HWND wnd = pane->GetHandle();
    auto screen = [&](int x, int y) {
        POINT p{x, y};
        ::ClientToScreen(wnd, &p);
        return p;
    };
    const POINT onLabel = screen(40, 40), empty = screen(40, 120);
    EXPECT_EQ(HTCLIENT, ::SendMessageW(wnd, WM_NCHITTEST, 0, MAKELPARAM(onLabel.x, onLabel.y)));
    EXPECT_EQ(HTTRANSPARENT, ::SendMessageW(wnd, WM_NCHITTEST, 0, MAKELPARAM(empty.x, empty.y)));
    EXPECT_EQ(wnd, ::WindowFromPoint(onLabel));
    EXPECT_EQ(s->GetHandle(), ::WindowFromPoint(empty));
    ::SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(40, 40));
    ::SendMessageW(wnd, WM_LBUTTONUP, 0, MAKELPARAM(40, 40));
    EXPECT_EQ(1, clicks);
    label.SetParent(nullptr);
}

// Borders shrink the panes' area twice (the panel's frames, then the
// splitter's own inset), except on a dock site, whose panes fill the plain
// window client rectangle.
TEST(TmSplitTest, DockSitePanesFillThePlainClientRectangle)
{
    for (const bool dockSite : {false, true}) {
        SCOPED_TRACE(dockSite ? "dock site" : "no dock site");
        TTmSplitter sp(nullptr);
        sp.SetBorderOuter(fsRaised);
        sp.SetBorderWidth(5);
        sp.SetDockSite(dockSite);
        sp.SetBounds(0, 0, 600, 200);
        sp.SetPosition(150);
        const RECT p1 = Bounds(sp.GetPane1()), p2 = Bounds(sp.GetPane2());
        if (dockSite) {
            ExpectRect(RECT{p1.left, p1.top, p2.right, p2.bottom}, 0, 0, 600, 200, "panes");
        } else {
            EXPECT_GT(p1.left, 5);
            EXPECT_GT(p1.top, 5);
            EXPECT_LT(p2.right, 595);
            EXPECT_LT(p2.bottom, 195);
        }
    }
}
