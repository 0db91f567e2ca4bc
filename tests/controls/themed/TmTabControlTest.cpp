#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "classlib/Controls.h"
#include "controls/themed/TmCommon.h"
#include "controls/themed/TmTabControl.h"
#include "support/HostWindow.h"

using namespace classlib;
using namespace themed;
using testsupport::PumpMessages;
using testsupport::SendMouse;
using testsupport::THostWindow;

namespace {

// A tab control whose tabs are set directly.
class TTestTabs : public TTmCustomTabControl {
public:
    explicit TTestTabs(TComponent* AOwner = nullptr) : TTmCustomTabControl(AOwner) {}
    void SetTabs(const std::vector<std::wstring>& Captions)
    {
        TabData()->Clear();
        for (const auto& c : Captions) {
            auto* t = new TTmTabData;
            t->Caption = c;
            TabData()->Add(t);
        }
        TabsChanged();
        UpdateTabs();
    }
    void Layout()
    {
        TabsChanged();
        UpdateTabs();
    }
    void Key(WORD K) { KeyDown(K, 0); }
    int closes = 0;

protected:
    void CloseActiveTab() override { ++closes; }
};

std::vector<std::wstring> Captions(int N, const std::wstring& Stem = L"Tab")
{
    std::vector<std::wstring> v;
    for (int i = 0; i < N; ++i) v.push_back(Stem + std::to_wstring(i));
    return v;
}

POINT Center(const RECT& R) { return POINT{(R.left + R.right) / 2, (R.top + R.bottom) / 2}; }

struct TEvents {
    int changes = 0, pageChanges = 0, clicks = 0, scrolled = 0;
    int refuse = -1;  // tab index OnChanging refuses
    bool allowClose = false;
    int closeAsked = 0;
    void Change(TObject*) { ++changes; }
    void PageChange(TObject*) { ++pageChanges; }
    void Click(TObject*) { ++clicks; }
    void Scrolled(TObject*) { ++scrolled; }
    void Changing(TObject*, int NewIndex, bool& Allow) { Allow = NewIndex != refuse; }
    void Close(TObject*, bool& Allow)
    {
        ++closeAsked;
        Allow = allowClose;
    }
};

void Wire(TTestTabs& T, TEvents& E)
{
    T.OnChange = TNotifyEvent(&E, &TEvents::Change);
    T.OnPageChange = TNotifyEvent(&E, &TEvents::PageChange);
    T.OnTabClick = TNotifyEvent(&E, &TEvents::Click);
    T.OnScrolledTabs = TNotifyEvent(&E, &TEvents::Scrolled);
    T.OnChanging = TTmTabChangingEvent(&E, &TEvents::Changing);
    T.OnClose = TTmTabCloseEvent(&E, &TEvents::Close);
}

}  // namespace

TEST(TmTabRegionCacheTest, KeepsNewestFirstEvictsBeyondCapacityAndRejectsBadCapacities)
{
    TTmTabRegionCache cache;
    EXPECT_EQ(cache.GetCapacity(), 1);
    cache.SetCapacity(2);
    const RECT a{0, 0, 10, 10}, b{10, 0, 20, 10}, c{20, 0, 30, 10};
    HRGN ra = ::CreateRectRgn(0, 0, 10, 10), rb = ::CreateRectRgn(10, 0, 20, 10);
    cache.AddRegion(a, ra);
    cache.AddRegion(b, rb);
    EXPECT_EQ(cache.FindRegion(a), ra);
    // Re-adding a moves it to the front and keeps its region; c then evicts b.
    cache.AddRegion(a, ::CreateRectRgn(0, 0, 1, 1));
    EXPECT_EQ(cache.FindRegion(a), ra);
    cache.AddRegion(c, ::CreateRectRgn(20, 0, 30, 10));
    EXPECT_EQ(cache.GetCount(), 2);
    EXPECT_EQ(cache.FindRegion(b), nullptr);
    EXPECT_NE(cache.FindRegion(c), nullptr);
    EXPECT_EQ(cache.GetItem(1)->GetRegion(), ra);
    cache.SetCapacity(1);
    EXPECT_EQ(cache.GetCount(), 1);
    EXPECT_EQ(cache.FindRegion(a), nullptr);
    for (int bad : {0, -2}) {
        try {
            cache.SetCapacity(bad);
            ADD_FAILURE() << bad;
        } catch (const ETmTabControlError& e) {
            EXPECT_EQ(e.Message(), L"Capacity must be -1 (to cache all regions) or > 0");
        }
    }
    cache.SetCapacity(-1);
    for (int i = 0; i < 5; ++i) cache.AddRegion(RECT{i, 0, i + 1, 1}, ::CreateRectRgn(i, 0, i + 1, 1));
    EXPECT_EQ(cache.GetCount(), 6);
}

TEST(TmTabControlTest, DataListAssignCopiesTabsButNotLayout)
{
    TTmTabDataList a, b;
    auto* t = new TTmTabData;
    t->Caption = L"One";
    t->Color = 0x123456;
    t->Enabled = false;
    t->ImageIndex = 3;
    t->Row = 2;
    t->RawRect = RECT{1, 2, 3, 4};
    a.Add(t);
    b.Add(new TTmTabData);
    b.Add(new TTmTabData);
    b.Assign(&a);
    ASSERT_EQ(b.GetCount(), 1);
    EXPECT_EQ(b.GetItem(0)->Caption, L"One");
    EXPECT_EQ(b.GetItem(0)->Color, 0x123456);
    EXPECT_FALSE(b.GetItem(0)->Enabled);
    EXPECT_EQ(b.GetItem(0)->ImageIndex, 3);
    EXPECT_EQ(b.GetItem(0)->Row, 0);
    EXPECT_EQ(b.GetItem(0)->RawRect.right, 0);
}

TEST(TmTabControlTest, DefaultsAndLinkedFrameOptions)
{
    TTestTabs t;
    EXPECT_EQ(t.GetWidth(), 300);
    EXPECT_EQ(t.GetHeight(), 100);
    EXPECT_EQ(t.GetTabIndex(), -1);
    EXPECT_EQ(t.GetCutCornerSize(), 6);
    EXPECT_EQ(t.GetHotTrackColor(), 0x149BF0);
    EXPECT_EQ(t.GetDragIndicatorColor(), 0x505050);
    EXPECT_EQ(t.GetTabColors()->GetUnselected(), clWindow);
    EXPECT_EQ(t.GetTextColors()->GetDisabled(), clGrayText);
    EXPECT_TRUE(t.GetShowShadow());
    t.SetShowFullFrame(false);
    EXPECT_FALSE(t.GetShowShadow());
    t.SetShowShadow(true);
    EXPECT_TRUE(t.GetShowFullFrame());
    // Negative sizes are ignored.
    t.SetTabHeight(-3);
    t.SetMargin(-1);
    t.SetCutCornerSize(-2);
    EXPECT_EQ(t.GetTabHeight(), 0);
    EXPECT_EQ(t.GetMargin(), 0);
    EXPECT_EQ(t.GetCutCornerSize(), 6);
}

TEST(TmTabControlTest, NoTabsGiveTheWholeCardAndNoSelection)
{
    TTestTabs t;
    t.SetTabs({});
    RECT card = t.GetCardRect(0);
    EXPECT_EQ(card.left, 0);
    EXPECT_EQ(card.top, 0);
    EXPECT_EQ(card.right, 299);
    EXPECT_EQ(card.bottom, 99);
    EXPECT_EQ(t.GetTabIndex(), -1);
    EXPECT_EQ(t.TabAtPos(10, 5), -1);
}

// Consecutive tabs start v - overlap + 1 apart, the overlap depending on
// the style.
TEST(TmTabControlTest, TabSpacingFollowsTheStyleOverlap)
{
    struct Case {
        TTmTabStyle style;
        bool halfFixed;  // overlap = FixedDimension div 2
        int overlap;     // otherwise this
    };
    const Case cases[] = {{tsSingleSlant, true, 0},  {tsBackSlant, true, 0},   {tsDoubleSlant, false, -999},
                          {tsCutCorner, false, -1},  {tsRoundCorners, false, -1}, {tsSquareCorners, false, 0}};
    for (const Case& c : cases) {
        TTestTabs t;
        t.SetWidth(2000);
        t.SetTabStyle(c.style);
        t.SetTabs(Captions(3));
        const int fd = t.GetFixedDimension();
        const int overlap = c.halfFixed ? fd / 2 : c.overlap == -999 ? fd : c.overlap;
        const RECT a = t.TabData()->GetItem(0)->RawRect, b = t.TabData()->GetItem(1)->RawRect;
        const int v = a.right - a.left;
        EXPECT_EQ(b.left - a.left, v - overlap + 1) << int(c.style);
        EXPECT_EQ(a.bottom - a.top, fd) << int(c.style);
        EXPECT_GT(fd, 0);
    }
}

// Every side and sequence: the tabs sit inside the control, the row next to
// the card touches it, and the first tab is at the documented end.
TEST(TmTabControlTest, LayoutOnEverySideAndSequenceWithMultiLineWrap)
{
    for (TTmTabOrientation side : {toTop, toLeft, toBottom, toRight}) {
        for (TTmTabSequence seq : {tsStandard, tsReverse}) {
            for (bool multi : {false, true}) {
                TTestTabs t;
                t.SetBounds(0, 0, 320, 320);
                t.SetTabOrientation(side);
                t.SetTabSequence(seq);
                t.SetMultiLine(multi);
                t.SetTabs(Captions(12, L"Caption"));
                const std::string what = "side " + std::to_string(side) + " seq " + std::to_string(seq) +
                                         (multi ? " multi" : " single");
                if (multi) {
                    EXPECT_GT(t.GetRowCount(), 1) << what;
                } else {
                    EXPECT_EQ(t.GetRowCount(), 1) << what;
                    EXPECT_TRUE(t.GetScrolling()) << what;
                }
                const RECT card = t.GetCardRect(0);
                for (int i = 0; i < 12; ++i) {
                    if (!t.IsTabShown(i)) continue;
                    const RECT r = t.GetTabRect(i);
                    EXPECT_GE(r.left, 0) << what << " tab " << i;
                    EXPECT_GE(r.top, 0) << what << " tab " << i;
                    EXPECT_LE(r.right, 320) << what << " tab " << i;
                    EXPECT_LE(r.bottom, 320) << what << " tab " << i;
                    if (t.TabData()->GetItem(i)->Row != 0) continue;
                    switch (side) {
                    case toTop: EXPECT_EQ(r.bottom, card.top) << what; break;
                    case toBottom: EXPECT_EQ(r.top, card.bottom) << what; break;
                    case toLeft: EXPECT_EQ(r.right, card.left) << what; break;
                    case toRight: EXPECT_EQ(r.left, card.right) << what; break;
                    }
                }
                // Tab 0 before tab 1 along the strip: on the left the strip runs
                // upwards, on the right downwards; the reverse sequence mirrors.
                const RECT r0 = t.GetTabRect(0), r1 = t.GetTabRect(1);
                const bool forwardIsIncreasing = (side == toLeft) == (seq == tsReverse);
                if (side == toTop || side == toBottom) {
                    EXPECT_EQ(r0.left < r1.left, seq == tsStandard) << what;
                } else {
                    EXPECT_EQ(r0.top < r1.top, forwardIsIncreasing) << what;
                }
            }
        }
    }
}

TEST(TmTabControlTest, LongTabTakesARowOfItsOwnAndRowsRotateOnSelection)
{
    TTestTabs t;
    t.SetBounds(0, 0, 200, 200);
    t.SetMultiLine(true);
    t.SetTabs({L"a", L"b", L"A caption much longer than the whole strip is", L"c", L"d"});
    const auto* data = t.TabData();
    const int longRow = data->GetItem(2)->Row;
    for (int i : {0, 1, 3, 4}) EXPECT_NE(data->GetItem(i)->Row, longRow) << i;

    // Three rows: selecting a tab in the back row brings that row to the card,
    // and the rows keep their cyclic order.
    TTestTabs m;
    m.SetBounds(0, 0, 180, 200);
    m.SetMultiLine(true);
    m.SetTabs(Captions(9, L"Tab "));
    ASSERT_EQ(m.GetRowCount(), 3);
    std::vector<int> before;
    for (int i = 0; i < 9; ++i) before.push_back(m.TabData()->GetItem(i)->Row);
    int back = -1;
    for (int i = 0; i < 9; ++i)
        if (before[i] == 2) back = i;
    ASSERT_GE(back, 0);
    m.SetTabIndex(back);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(m.TabData()->GetItem(i)->Row, (before[i] + 1) % 3) << i;
    const RECT card = m.GetCardRect(0);
    EXPECT_EQ(m.GetTabRect(back).bottom, card.top);
}

TEST(TmTabControlTest, SelectionEdgeCases)
{
    TTestTabs t;
    TEvents e;
    Wire(t, e);
    t.SetTabs(Captions(4));
    // -1 stays -1 after a layout.
    t.Layout();
    EXPECT_EQ(t.GetTabIndex(), -1);
    t.SetTabIndex(2);
    EXPECT_EQ(t.GetTabIndex(), 2);
    EXPECT_EQ(e.changes, 1);
    EXPECT_EQ(e.pageChanges, 1);
    // The tab count sets -1 without OnChange.
    t.SetTabIndex(4);
    EXPECT_EQ(t.GetTabIndex(), -1);
    EXPECT_EQ(e.changes, 1);
    // OnChanging may refuse.
    e.refuse = 1;
    t.SetTabIndex(1);
    EXPECT_EQ(t.GetTabIndex(), -1);
    e.refuse = -1;
    // A selected tab that becomes disabled moves to the next enabled one, or
    // the previous one when none follows.
    t.SetTabIndex(2);
    t.TabData()->GetItem(2)->Enabled = false;
    t.Layout();
    EXPECT_EQ(t.GetTabIndex(), 3);
    t.TabData()->GetItem(3)->Enabled = false;
    t.Layout();
    EXPECT_EQ(t.GetTabIndex(), 1);
}

TEST(TmTabControlTest, HitTestingFindsTabsInsideTheirShapeOnly)
{
    for (TTmTabOrientation side : {toTop, toLeft, toBottom, toRight}) {
        TTestTabs t;
        t.SetBounds(0, 0, 400, 300);
        t.SetTabOrientation(side);
        t.SetTabs(Captions(4));
        t.SetTabIndex(1);
        for (int i = 0; i < 4; ++i) {
            const POINT c = Center(t.GetTabRect(i));
            EXPECT_EQ(t.TabAtPos(c.x, c.y), i) << "side " << side;
        }
        const POINT card = Center(t.GetCardRect(0));
        EXPECT_EQ(t.TabAtPos(card.x, card.y), -1);
    }
    // A single slant: the outer corner beside the slant is not the tab.
    TTestTabs s;
    s.SetBounds(0, 0, 400, 100);
    s.SetTabs(Captions(1));
    const RECT r = s.GetTabRect(0);
    EXPECT_EQ(s.TabAtPos(r.right - 1, r.top + 1), -1);
    EXPECT_EQ(s.TabAtPos(r.left + 3, r.top + 3), 0);
}

TEST(TmTabControlTest, KeyboardWalksSelectableTabsAndWraps)
{
    struct Case {
        TTmTabOrientation side;
        TTmTabSequence seq;
        int start;
        WORD key;
        int expected;
    };
    // Tab 2 is disabled.
    const Case cases[] = {
        {toTop, tsStandard, 1, VK_RIGHT, 3},  {toTop, tsStandard, 4, VK_RIGHT, 0}, {toTop, tsStandard, 0, VK_LEFT, 4},
        {toTop, tsStandard, 3, VK_HOME, 0},   {toTop, tsStandard, 0, VK_END, 4},   {toTop, tsReverse, 1, VK_RIGHT, 0},
        {toLeft, tsStandard, 1, VK_UP, 3},    {toLeft, tsStandard, 1, VK_HOME, 4}, {toLeft, tsStandard, 3, VK_END, 0},
        {toRight, tsStandard, 1, VK_DOWN, 3}, {toTop, tsStandard, 1, VK_SPACE, 1},
    };
    for (const Case& c : cases) {
        TTestTabs t;
        TEvents e;
        Wire(t, e);
        t.SetBounds(0, 0, 500, 300);
        t.SetTabOrientation(c.side);
        t.SetTabSequence(c.seq);
        t.SetTabs(Captions(5));
        t.TabData()->GetItem(2)->Enabled = false;
        t.SetTabIndex(c.start);
        t.Key(c.key);
        EXPECT_EQ(t.GetTabIndex(), c.expected) << "side " << c.side << " seq " << c.seq << " key " << c.key;
        EXPECT_EQ(e.clicks, c.expected != c.start ? 1 : 0);
    }
}

TEST(TmTabControlTest, ScrollingASingleLineStripShowsTheScrollerAndMovesTheFirstShownTab)
{
    THostWindow host(640, 400, true, WS_EX_TOPMOST);
    TTestTabs t;
    TEvents e;
    Wire(t, e);
    t.SetParentWindow(host.Get());
    t.SetBounds(0, 0, 200, 80);
    t.HandleNeeded();
    t.SetTabs(Captions(10, L"Caption "));
    t.PaintToBitmap();
    ASSERT_TRUE(t.GetScrolling());
    ASSERT_NE(t.GetScroller(), nullptr);
    EXPECT_GE(t.GetScroller()->GetLeft(), 0);
    EXPECT_EQ(t.GetFirstShownTab(), 0);
    EXPECT_FALSE(t.IsTabShown(9));
    int steps = 0;
    while (!t.IsTabShown(9) && steps < 20) {
        t.ScrollerUpRightClick(nullptr);
        ++steps;
    }
    EXPECT_TRUE(t.IsTabShown(9));
    EXPECT_GT(t.GetFirstShownTab(), 0);
    EXPECT_EQ(e.scrolled, steps);
    EXPECT_FALSE(t.IsTabShown(0));
    // Scrolling on past the end changes nothing.
    const int first = t.GetFirstShownTab();
    t.ScrollTabs(true);
    EXPECT_EQ(t.GetFirstShownTab(), first);
    // Selecting a tab before the shown ones scrolls back to it.
    t.SetTabIndex(1);
    EXPECT_EQ(t.GetFirstShownTab(), 1);
    // Pressing the scroller's left half and releasing scrolls back once.
    HWND sw = t.GetScroller()->GetHandle();
    SendMouse(sw, WM_LBUTTONDOWN, 2, 3, MK_LBUTTON);
    SendMouse(sw, WM_LBUTTONUP, 2, 3, 0);
    EXPECT_EQ(t.GetFirstShownTab(), 0);
    // A press moved off the half before the release scrolls nothing.
    t.SetTabIndex(3);
    const int shown = t.GetFirstShownTab();
    SendMouse(sw, WM_LBUTTONDOWN, 2, 3, MK_LBUTTON);
    SendMouse(sw, WM_MOUSEMOVE, t.GetScroller()->GetWidth() - 2, 3, MK_LBUTTON);
    SendMouse(sw, WM_LBUTTONUP, t.GetScroller()->GetWidth() - 2, 3, 0);
    EXPECT_EQ(t.GetFirstShownTab(), shown);
}

TEST(TmTabControlTest, MouseSelectsTabsAndCloseButtonsAskOnClose)
{
    THostWindow host(640, 400, true, WS_EX_TOPMOST);
    TTestTabs t;
    TEvents e;
    Wire(t, e);
    t.SetParentWindow(host.Get());
    t.SetBounds(0, 0, 400, 120);
    t.SetShowCloseButton(true);
    t.HandleNeeded();
    t.SetTabs(Captions(3));
    t.PaintToBitmap();
    const POINT p = Center(t.GetTabRect(2));
    SendMouse(t.GetHandle(), WM_LBUTTONDOWN, p.x, p.y, MK_LBUTTON);
    SendMouse(t.GetHandle(), WM_LBUTTONUP, p.x, p.y, 0);
    EXPECT_EQ(t.GetTabIndex(), 2);
    EXPECT_EQ(e.changes, 1);
    EXPECT_EQ(e.clicks, 1);
    // Clicking the selected tab again: OnTabClick without OnChange.
    SendMouse(t.GetHandle(), WM_LBUTTONDOWN, p.x, p.y, MK_LBUTTON);
    SendMouse(t.GetHandle(), WM_LBUTTONUP, p.x, p.y, 0);
    EXPECT_EQ(e.changes, 1);
    EXPECT_EQ(e.clicks, 2);

    // The close button: nothing closes while OnClose leaves AllowClose false.
    ASSERT_NE(t.GetCloseButton(), nullptr);
    HWND cw = t.GetCloseButton()->GetHandle();
    EXPECT_GE(t.GetCloseButton()->GetLeft(), t.GetTabRect(2).right);
    SendMouse(cw, WM_LBUTTONDOWN, 3, 3, MK_LBUTTON);
    SendMouse(cw, WM_LBUTTONUP, 3, 3, 0);
    EXPECT_EQ(e.closeAsked, 1);
    EXPECT_EQ(t.closes, 0);
    e.allowClose = true;
    SendMouse(cw, WM_LBUTTONDOWN, 3, 3, MK_LBUTTON);
    SendMouse(cw, WM_LBUTTONUP, 3, 3, 0);
    EXPECT_EQ(t.closes, 1);
    // The active-tab close button sits on the selected tab and closes too.
    t.SetShowCloseButtonOnActiveTab(true);
    t.PaintToBitmap();
    TTmActiveTabCloseButton* ab = t.GetActiveTabCloseButton();
    ASSERT_NE(ab, nullptr);
    const RECT tr = t.GetTabRect(2);
    EXPECT_EQ(ab->GetLeft() + ab->GetWidth(), tr.right);
    EXPECT_TRUE(ab->GetVisible());
    SendMouse(t.GetHandle(), WM_LBUTTONDOWN, ab->GetLeft() + 2, ab->GetTop() + 2, MK_LBUTTON);
    SendMouse(t.GetHandle(), WM_LBUTTONUP, ab->GetLeft() + 2, ab->GetTop() + 2, 0);
    EXPECT_EQ(t.closes, 2);
}

TEST(TmTabControlTest, HotTrackingAndTabHintsFollowThePointer)
{
    THostWindow host(640, 400, true, WS_EX_TOPMOST);
    TTestTabs t;
    t.SetParentWindow(host.Get());
    t.SetBounds(0, 0, 400, 120);
    t.Hint = L"control hint";
    t.SetTabHints(true);
    t.HandleNeeded();
    t.Loaded();  // remembers the control's own hint
    t.SetTabs(Captions(3));
    t.TabData()->GetItem(1)->Hint = L"second";
    t.PaintToBitmap();
    HWND w = t.GetHandle();
    const POINT p1 = Center(t.GetTabRect(1));
    SendMouse(w, WM_MOUSEMOVE, p1.x, p1.y, 0);
    EXPECT_EQ(t.GetHotTab(), 1);
    EXPECT_EQ(t.Hint, L"second");
    // The empty part of the strip: no hint; the card: the control's own.
    const RECT area = t.GetTabAreaRect();
    SendMouse(w, WM_MOUSEMOVE, area.right - 3, area.top + 2, 0);
    EXPECT_EQ(t.GetHotTab(), -1);
    EXPECT_EQ(t.Hint, L"");
    const POINT card = Center(t.GetCardRect(0));
    SendMouse(w, WM_MOUSEMOVE, card.x, card.y, 0);
    EXPECT_EQ(t.Hint, L"control hint");
    // The hot tab is drawn darker than the others (its shadow colour).
    t.SetUseGradients(false);
    t.SetHotTrackColorSource(htcsHotTrackColorProp);
    t.SetHotTrackColorType(htctActual);
    SendMouse(w, WM_MOUSEMOVE, p1.x, p1.y, 0);
    t.PaintToBitmap();
    const RECT r1 = t.GetTabRect(1);
    EXPECT_EQ(t.GetBitmap()->GetCanvas()->GetPixel((r1.left + r1.right) / 2, r1.top + 3) & 0xFFFFFF,
              TmLightenColor(0x149BF0, 60) & 0xFFFFFF);
}

TEST(TmTabControlTest, TabMenuListsVisibleTabsSortedWithTheSelectedOneTicked)
{
    TTestTabs t;
    t.SetTabs({L"Pear", L"apple", L"Hidden", L"Cherry"});
    t.TabData()->GetItem(2)->Visible = false;
    t.Layout();
    t.SetTabIndex(3);
    auto entries = t.TabMenuEntries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].Caption, L"apple");
    EXPECT_EQ(entries[1].Caption, L"Cherry");
    EXPECT_EQ(entries[2].Caption, L"Pear");
    EXPECT_TRUE(entries[1].Checked);
    EXPECT_FALSE(entries[0].Checked);
    EXPECT_EQ(entries[0].Tag, 1);
    t.SetSortTabMenu(false);
    entries = t.TabMenuEntries();
    EXPECT_EQ(entries[0].Caption, L"Pear");
}

// The tab menu shows each tab's image, the disabled image of a disabled
// tab that has one, and no image for a tab without.
TEST(TmTabControlTest, TabMenuShowsTheTabsImages)
{
    TTestTabs t;
    t.SetTabs({L"One", L"Two", L"Three", L"Four"});
    classlib::TImageList images(nullptr);
    for (TColor c : {TColor(0x0000FF), TColor(0x00FF00), TColor(0xFF0000)}) {
        classlib::TBitmap b;
        b.SetPixelFormat(classlib::pf24bit);
        b.SetSize(16, 16);
        b.GetCanvas()->GetBrush()->SetColor(c);
        b.GetCanvas()->FillRect(RECT{0, 0, 16, 16});
        images.Add(&b, nullptr);
    }
    t.SetImages(&images);
    t.SetSortTabMenu(false);
    t.TabData()->GetItem(0)->ImageIndex = 0;
    t.TabData()->GetItem(1)->ImageIndex = 1;
    t.TabData()->GetItem(1)->DisabledIndex = 2;
    t.TabData()->GetItem(1)->Enabled = false;
    t.TabData()->GetItem(3)->ImageIndex = 1;
    t.TabData()->GetItem(3)->Enabled = false;  // no disabled image: its own
    t.TabsChanged();
    t.UpdateTabs();
    auto* button = new TTmTabMenuButton(&t);
    HMENU menu = button->BuildMenu();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 4);
    auto glyph = [&](int Item) -> TColor {
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_BITMAP | MIIM_STATE;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(Item), TRUE, &info) || !info.hbmpItem)
            return classlib::clNone;
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, info.hbmpItem);
        const TColor c = GetPixel(dc, 8, 8) & 0xFFFFFF;
        SelectObject(dc, old);
        DeleteDC(dc);
        return c;
    };
    EXPECT_EQ(glyph(0), TColor(0x0000FF));
    EXPECT_EQ(glyph(1), TColor(0xFF0000));
    EXPECT_EQ(glyph(2), classlib::clNone);
    EXPECT_EQ(glyph(3), TColor(0x00FF00));
    DestroyMenu(menu);
    // Without images no entry has one.
    t.SetImages(nullptr);
    menu = button->BuildMenu();
    EXPECT_EQ(glyph(0), classlib::clNone);
    DestroyMenu(menu);
}

namespace {

// Drawing fixture: red background, green control colour (selected tab and
// card), blue unselected tabs, black outlines, no captions.
constexpr TColor kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000, kBlack = 0;

void Style(TTestTabs& T, TTmTabStyle Style, TTmTabOrientation Side)
{
    T.SetBounds(0, 0, 300, 140);
    T.SetBackgroundColor(kRed);
    T.SetColor(kGreen);
    T.GetTabColors()->SetUnselected(kBlue);
    T.SetFlatColor(kBlack);
    T.SetUseGradients(false);
    T.SetTabStyle(Style);
    T.SetTabOrientation(Side);
    T.SetTabs({L"", L"", L""});
    T.SetTabIndex(1);
    T.PaintToBitmap();
}

TColor Pixel(TTestTabs& T, int X, int Y) { return T.GetBitmap()->GetCanvas()->GetPixel(X, Y) & 0xFFFFFF; }

}  // namespace

// Each shape: inside unselected tabs the light fill, inside the selected tab
// and the card the control colour, the outline on the tab's outer edge, and
// beside a slanted or cut edge the background.
TEST(TmTabDrawingTest, EachShapeIsFilledOutlinedAndClippedToItsPolygon)
{
    struct Case {
        TTmTabStyle style;
        bool outerRightCornerInside;  // (Right, Top) of the tab is part of it
    };
    const Case cases[] = {{tsSingleSlant, false}, {tsDoubleSlant, false}, {tsCutCorner, false},
                          {tsRoundCorners, false}, {tsBackSlant, false},  {tsSquareCorners, true}};
    for (const Case& c : cases) {
        TTestTabs t;
        Style(t, c.style, toTop);
        const RECT r0 = t.GetTabRect(0), r1 = t.GetTabRect(1), r2 = t.GetTabRect(2);
        const std::string what = "style " + std::to_string(c.style);
        // The middle of tab 2's outer edge is outline; just inside it the fill.
        POINT pts[20];
        int n = 0;
        t.GetTabPolygon(2, pts, n);
        int mid2 = -1;
        for (int i = 0; i + 1 < n; ++i)
            if (pts[i].y == r2.top && pts[i + 1].y == r2.top) mid2 = (pts[i].x + pts[i + 1].x) / 2;
        ASSERT_GE(mid2, 0) << what;
        EXPECT_EQ(Pixel(t, mid2, r2.top), kBlack) << what;
        EXPECT_EQ(Pixel(t, mid2, r2.top + 3), kBlue) << what;
        // The selected tab is filled with the control colour, as the card.
        const int mid1 = (r1.left + r1.right) / 2;
        EXPECT_EQ(Pixel(t, mid1, r1.top + 4), kGreen) << what;
        const POINT card = Center(t.GetCardRect(0));
        EXPECT_EQ(Pixel(t, card.x, card.y), kGreen) << what;
        // Above the tabs: background.
        if (r1.top > 1) {
            EXPECT_EQ(Pixel(t, mid1, 0), kRed) << what;
        }
        // The outer corner at the end of the tab: only the square tab has it.
        const int cx = r2.right, cy = r2.top;
        const TColor corner = Pixel(t, cx, cy);
        if (c.outerRightCornerInside)
            EXPECT_TRUE(corner == kBlue || corner == kBlack) << what;
        else
            EXPECT_EQ(corner, kRed) << what;
        (void)r0;
    }
}

TEST(TmTabDrawingTest, CardShadowBlendsIntoTheBackgroundAndGradientsRunOuterToCard)
{
    TTestTabs t;
    Style(t, tsSingleSlant, toTop);
    const RECT card = t.GetCardRect(0);
    const int y = (card.top + card.bottom) / 2;
    // Inner shadow line (weight 30) at Right - 1, outer (15) at Right.
    EXPECT_EQ(Pixel(t, card.right - 1, y), TmMixColors(clBlack, kRed, 30) & 0xFFFFFF);
    EXPECT_EQ(Pixel(t, card.right, y), TmMixColors(clBlack, kRed, 15) & 0xFFFFFF);
    // The frame line inside it.
    EXPECT_EQ(Pixel(t, card.right - 2, y), kBlack);

    // Gradient on: the unselected tab goes from the light colour at the outer
    // edge to the shadow colour at the card; flat fill without full colour.
    const bool saved = TmFullColorSupported;
    TmFullColorSupported = true;
    TTestTabs g;
    Style(g, tsSquareCorners, toTop);
    g.GetTabColors()->SetShadow(kBlack);
    g.SetUseGradients(true);
    g.PaintToBitmap();
    const RECT r = g.GetTabRect(0);
    const int x = (r.left + r.right) / 2;
    const TColor top = Pixel(g, x, r.top + 1), bottom = Pixel(g, x, r.bottom - 1);
    EXPECT_GT(top >> 16, 0xC0);
    EXPECT_LT(bottom >> 16, 0x40);
    TmFullColorSupported = false;
    g.InvalidateTabs();
    g.PaintToBitmap();
    EXPECT_EQ(Pixel(g, x, r.bottom - 2), kBlue);
    TmFullColorSupported = saved;
}

TEST(TmTabDrawingTest, PaintEventsReplaceOnlyTheirPiece)
{
    struct THandler {
        int tabs = 0;
        void Tab(TObject*, TCanvas* C, int, const RECT& R, bool& Handled)
        {
            ++tabs;
            C->GetBrush()->SetColor(0x00FFFF);
            C->FillRect(RECT{R.left, R.top, R.right + 1, R.bottom + 1});
            Handled = true;
        }
    } h;
    TTestTabs t;
    t.OnPaintTabBackground = TTmPaintTabBackgroundEvent(&h, &THandler::Tab);
    Style(t, tsSquareCorners, toTop);
    EXPECT_EQ(h.tabs, 3);
    const RECT r = t.GetTabRect(2);
    EXPECT_EQ(Pixel(t, (r.left + r.right) / 2, r.top + 3), 0x00FFFF);
    // The outline is still drawn.
    EXPECT_EQ(Pixel(t, (r.left + r.right) / 2, r.top), kBlack);
}

TEST(TmTabDrawingTest, CaptionsUnderlineTheAcceleratorOnly)
{
    // "&&" draws one ampersand and underlines nothing; "&x" underlines x.
    auto draw = [](const std::wstring& Caption) {
        TTestTabs t;
        t.SetBounds(0, 0, 300, 60);
        t.SetUseGradients(false);
        t.GetTabColors()->SetUnselected(0xFFFFFF);
        t.SetColor(0xFFFFFF);
        t.SetTabs({Caption});
        t.PaintToBitmap();
        int dark = 0;
        const RECT r = t.GetTabRect(0);
        for (int y = r.top + 2; y < r.bottom - 1; ++y)
            for (int x = r.left + 2; x < r.right - 4; ++x)
                if ((t.GetBitmap()->GetCanvas()->GetPixel(x, y) & 0xFFFFFF) == 0) ++dark;
        return dark;
    };
    const int plain = draw(L"x"), accel = draw(L"&x"), doubled = draw(L"&&");
    EXPECT_GT(plain, 0);
    EXPECT_GT(accel, plain);  // the underline adds pixels
    EXPECT_GT(doubled, 0);
    EXPECT_EQ(TTmCustomTabControl::SplitLines(L"a\r\nb").size(), 2u);
}
