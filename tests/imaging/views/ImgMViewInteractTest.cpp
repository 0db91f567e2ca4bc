// Selection by mouse, keys, scrolling and playing of the thumbnail grid,
// driven by window messages to a grid inside a hidden host window.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "imaging/model/PxDefs.h"
#include "imaging/views/grid/ImgMView.h"

using namespace imaging;

namespace {

// Records the indexes (and times) an index event reports.
struct TIndexLog {
    std::vector<int> Index;
    std::vector<DWORD> Time;
    void On(classlib::TObject*, int i)
    {
        Index.push_back(i);
        Time.push_back(GetTickCount());
    }
    TPxImageSelectEvent Event() { return TPxImageSelectEvent(this, &TIndexLog::On); }
};

class GridInteract : public ::testing::Test {
protected:
    void SetUp() override
    {
        PxDefsInit();
        host_ = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED | WS_CLIPCHILDREN, 0, 0, 600, 400, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(host_, nullptr);
        grid_ = std::make_unique<TImgMView>(nullptr);
        grid_->SetBorderStyle(bsNone);
        grid_->SetParentWindow(host_);
        ASSERT_NE(grid_->GetHandle(), nullptr);
        grid_->SetScrollBars(ssNone);
        // Client 430 x 300, cells 100 + 4: 4 columns with GridWidth -1.
        grid_->SetBounds(0, 0, 430, 300);
    }
    void TearDown() override
    {
        grid_.reset();
        if (host_)
            DestroyWindow(host_);
    }
    void Fill(int Count, int GridWidth)
    {
        grid_->BeginPaintLock();
        for (int i = 0; i < Count; ++i)
            grid_->InsertImage(i);
        grid_->SetGridWidth(GridWidth);
        grid_->EndPaintLock();
    }
    // Centre of entry i's cell in client coordinates.
    POINT Centre(int i)
    {
        return POINT{grid_->GetImageCol(i) * 104 + 4 + 50 - grid_->ViewX,
                     grid_->GetImageRow(i) * 104 + 4 + 50 - grid_->ViewY};
    }
    void Click(int i, WPARAM Keys = 0) { ClickAt(Centre(i), Keys); }
    void ClickAt(POINT p, WPARAM Keys = 0)
    {
        HWND h = grid_->GetHandle();
        SendMessageW(h, WM_LBUTTONDOWN, Keys | MK_LBUTTON, MAKELPARAM(p.x, p.y));
        SendMessageW(h, WM_LBUTTONUP, Keys, MAKELPARAM(p.x, p.y));
    }
    void Key(WORD Vk) { SendMessageW(grid_->GetHandle(), WM_KEYDOWN, Vk, 0); }
    std::vector<int> Multi()
    {
        std::vector<int> v;
        for (int i = 0; i < grid_->GetMultiSelectedCount(); ++i)
            v.push_back(grid_->GetMultiSelectedImage(i));
        return v;
    }
    void Pump(DWORD Ms)
    {
        const DWORD end = GetTickCount() + Ms;
        MSG m;
        while (static_cast<int>(end - GetTickCount()) > 0) {
            while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&m);
            Sleep(2);
        }
    }

    HWND host_ = nullptr;
    std::unique_ptr<TImgMView> grid_;
};

TEST_F(GridInteract, HitTestingSkipsBordersAndEmptyCells)
{
    Fill(6, -1);
    EXPECT_EQ(grid_->ImageAtPos(4, 4), 0);
    EXPECT_EQ(grid_->ImageAtPos(2, 50), -1);    // left border
    EXPECT_EQ(grid_->ImageAtPos(105, 50), -1);  // between columns 0 and 1
    EXPECT_EQ(grid_->ImageAtPos(108, 108), 5);
    EXPECT_EQ(grid_->ImageAtPos(316, 108), -1);  // row 1 column 3: no entry 7
    EXPECT_EQ(grid_->ImageVisibility(0), 2);
    EXPECT_EQ(grid_->ImageVisibility(99), 0);
}

TEST_F(GridInteract, PlainCtrlAndShiftClicks)
{
    Fill(8, -1);
    grid_->SetEnableMultiSelect(true);
    TIndexLog sel;
    TIndexLog desel;
    std::vector<int>& selected = sel.Index;
    std::vector<int>& deselected = desel.Index;
    grid_->OnImageSelect = sel.Event();
    grid_->OnImageDeselect = desel.Event();

    Click(1);
    EXPECT_EQ(grid_->GetSelectedImage(), 1);
    EXPECT_EQ(Multi(), std::vector<int>({1}));
    EXPECT_EQ(selected, std::vector<int>({1}));

    Click(3, MK_CONTROL);
    EXPECT_EQ(grid_->GetSelectedImage(), 3);
    EXPECT_EQ(Multi(), std::vector<int>({1, 3}));

    // Ctrl-clicking a selected entry removes it and leaves no current entry.
    Click(1, MK_CONTROL);
    EXPECT_EQ(grid_->GetSelectedImage(), -1);
    EXPECT_EQ(Multi(), std::vector<int>({3}));
    EXPECT_EQ(deselected.back(), 1);

    // Shift: the range from the anchor (the last plain press, entry 1).
    Click(2);
    Click(6, MK_SHIFT);
    EXPECT_EQ(grid_->GetSelectedImage(), 6);
    EXPECT_EQ(Multi(), std::vector<int>({2, 3, 4, 5, 6}));

    // With the region option the range is the rectangle of rows x columns:
    // from entry 1 (row 0, column 1) to entry 6 (row 1, column 2).
    grid_->MultiSelectionOptions = TImgMView::pxmoRegion;
    Click(1);
    Click(6, MK_SHIFT);
    std::vector<int> got = Multi();
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, std::vector<int>({1, 2, 5, 6}));

    // A plain click on a selected entry selects it alone (on release).
    Click(5);
    EXPECT_EQ(Multi(), std::vector<int>({5}));
    EXPECT_EQ(grid_->GetSelectedImage(), 5);

    // Programmatic changes fire no events.
    selected.clear();
    grid_->SetSelectedImage(0);
    EXPECT_EQ(grid_->GetSelectedImage(), 0);
    EXPECT_TRUE(selected.empty());
}

TEST_F(GridInteract, ClickWithoutMouseInteractAndDoubleClick)
{
    Fill(4, -1);
    grid_->SetMouseInteract(0);
    Click(2);
    EXPECT_EQ(grid_->GetSelectedImage(), 2);
    // A click on a border selects nothing and keeps the selection.
    ClickAt(POINT{2, 50});
    EXPECT_EQ(grid_->GetSelectedImage(), 2);

    grid_->SetMouseInteract(mmiSelect);
    Click(0);
    ASSERT_EQ(grid_->GetSelectedImage(), 0);
    // The second press of a double click does not select.
    const POINT p = Centre(3);
    HWND h = grid_->GetHandle();
    SendMessageW(h, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    SendMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
    EXPECT_EQ(grid_->GetSelectedImage(), 0);
}

TEST_F(GridInteract, DraggingSelectsARangeOrScrolls)
{
    Fill(20, -1);
    grid_->SetEnableMultiSelect(true);
    HWND h = grid_->GetHandle();
    const POINT a = Centre(1);
    const POINT b = Centre(6);
    SendMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(a.x, a.y));
    ASSERT_EQ(GetCapture(), h);
    SendMessageW(h, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(b.x, b.y));
    SendMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(b.x, b.y));
    EXPECT_EQ(Multi(), std::vector<int>({1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(grid_->GetSelectedImage(), 6);

    // Scrolling by dragging: the content follows the mouse, clamped.
    grid_->SetEnableMultiSelect(false);
    grid_->SetMouseInteract(mmiScroll);
    SendMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(200, 250));
    SendMessageW(h, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(200, 150));
    EXPECT_EQ(grid_->ViewY, 100);
    SendMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(200, 0));
    EXPECT_EQ(grid_->ViewY, 224);
}

TEST_F(GridInteract, ArrowAndPageKeys)
{
    struct Case {
        int gridWidth;
        int from;
        WORD key;
        int expected;
    };
    const Case cases[] = {
        {0, 2, VK_DOWN, 3},   {0, 2, VK_UP, 1},     {-1, 1, VK_DOWN, 5},  {-1, 5, VK_DOWN, 9},
        {-1, 8, VK_DOWN, 8},  {-1, 5, VK_UP, 1},    {-1, 1, VK_UP, 1},    {-1, 0, VK_LEFT, 0},
        {-1, 9, VK_RIGHT, 9}, {-1, 4, VK_RIGHT, 5}, {-1, 4, VK_HOME, 0},  {-1, 4, VK_END, 9},
        {-1, 0, VK_NEXT, 8},  {-1, 9, VK_PRIOR, 1}, {-1, 3, VK_PRIOR, 0}, {-1, 3, 'A', 3},
    };
    Fill(10, -1);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "grid " << c.gridWidth << " from " << c.from << " key " << c.key);
        grid_->SetGridWidth(c.gridWidth);
        grid_->SetSelectedImage(c.from);
        Key(c.key);
        EXPECT_EQ(grid_->GetSelectedImage(), c.expected);
    }
    // Keys move nothing without the key option.
    grid_->SetKeyInteract(0);
    grid_->SetSelectedImage(4);
    Key(VK_RIGHT);
    EXPECT_EQ(grid_->GetSelectedImage(), 4);
}

TEST_F(GridInteract, KeysScrollTheNewSelectionIntoView)
{
    Fill(20, -1);  // 5 rows of 104: extent 524 in a 300 high client
    grid_->SetSelectedImage(0);
    Key(VK_END);
    EXPECT_EQ(grid_->GetSelectedImage(), 19);
    EXPECT_EQ(grid_->ViewY, 524 - 300);
    EXPECT_EQ(grid_->ImageVisibility(19), 2);
    Key(VK_HOME);
    EXPECT_EQ(grid_->ViewY, 0);
}

TEST_F(GridInteract, WheelAndScrollMessagesClamp)
{
    Fill(20, -1);
    HWND h = grid_->GetHandle();
    SendMessageW(h, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), 0);
    EXPECT_EQ(grid_->ViewY, 0);
    SendMessageW(h, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA)), 0);
    EXPECT_EQ(grid_->ViewY, 104);
    SendMessageW(h, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA)), 0);
    SendMessageW(h, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA)), 0);
    EXPECT_EQ(grid_->ViewY, 224);  // the largest offset

    SendMessageW(h, WM_VSCROLL, SB_TOP, 0);
    EXPECT_EQ(grid_->ViewY, 0);
    SendMessageW(h, WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(grid_->ViewY, 104);
    SendMessageW(h, WM_VSCROLL, SB_PAGEUP, 0);
    EXPECT_EQ(grid_->ViewY, 0);
    SendMessageW(h, WM_VSCROLL, SB_BOTTOM, 0);
    EXPECT_EQ(grid_->ViewY, 224);
    // Thumb positions are scroll-bar units: 65536 span client + offset.
    SendMessageW(h, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 16384), 0);
    EXPECT_EQ(grid_->ViewY, 130);  // trunc(16384 * 523 / 65536)
    // Tracking follows the thumb unless it is switched off.
    SendMessageW(h, WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, 0), 0);
    EXPECT_EQ(grid_->ViewY, 0);
    grid_->ScrollTracking = false;
    SendMessageW(h, WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, 16384), 0);
    EXPECT_EQ(grid_->ViewY, 0);
    // The grid is not wider than the client: no horizontal offset.
    SendMessageW(h, WM_HSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(grid_->ViewX, 0);
    // Hit testing follows the offset.
    SendMessageW(h, WM_VSCROLL, SB_TOP, 0);
    SendMessageW(h, WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(grid_->ImageAtPos(4, 4), 4);
}

TEST_F(GridInteract, ScrollBarsFollowTheExtent)
{
    HWND h = grid_->GetHandle();
    auto visible = [h](LONG Style) { return (GetWindowLongW(h, GWL_STYLE) & Style) != 0; };
    // A grid smaller than the client: hidden bars, or disabled ones.
    Fill(2, -1);
    grid_->SetScrollBars(ssBoth);
    EXPECT_FALSE(visible(WS_VSCROLL));
    EXPECT_FALSE(visible(WS_HSCROLL));
    grid_->ScrollBarsAlwaysVisible = true;
    grid_->Update();
    EXPECT_TRUE(visible(WS_VSCROLL));
    EXPECT_TRUE(visible(WS_HSCROLL));
    SCROLLBARINFO sbi{};
    sbi.cbSize = sizeof(sbi);
    ASSERT_TRUE(GetScrollBarInfo(h, OBJID_VSCROLL, &sbi));
    EXPECT_NE(sbi.rgstate[0] & STATE_SYSTEM_UNAVAILABLE, 0u);

    // A taller grid: an enabled vertical bar whose position follows ViewY,
    // and the client loses the bar's width (3 columns left).
    grid_->ScrollBarsAlwaysVisible = false;
    grid_->SetScrollBars(ssVertical);
    grid_->BeginPaintLock();
    for (int i = 2; i < 20; ++i)
        grid_->InsertImage(i);
    grid_->EndPaintLock();
    EXPECT_TRUE(visible(WS_VSCROLL));
    EXPECT_FALSE(visible(WS_HSCROLL));
    EXPECT_LT(grid_->GetClientWidth(), 430);
    EXPECT_EQ(grid_->GetImageCol(3), 0);
    int mx = 0;
    int my = 0;
    grid_->GetMaxViewXY(mx, my);
    EXPECT_EQ(my, 7 * 104 + 4 - 300);
    grid_->SetViewY(200);
    EXPECT_EQ(GetScrollPos(h, SB_VERT), static_cast<int>(200 / ((300 + my - 1) / 65536.0)));
    grid_->SetViewY(my);
    // A shorter grid pulls the offset back into range.
    grid_->BeginPaintLock();
    for (int i = 19; i >= 4; --i)
        grid_->RemoveImage(i);
    grid_->EndPaintLock();
    EXPECT_EQ(grid_->ViewY, 0);
    EXPECT_FALSE(visible(WS_VSCROLL));
    grid_->SetScrollBars(ssNone);
    EXPECT_FALSE(visible(WS_VSCROLL));
}

TEST_F(GridInteract, FlatScrollBarsHideUntilTheNextLayoutAndThenScroll)
{
    HWND h = grid_->GetHandle();
    auto visible = [h](LONG Style) { return (GetWindowLongW(h, GWL_STYLE) & Style) != 0; };
    Fill(20, -1);
    grid_->SetScrollBars(ssVertical);
    ASSERT_TRUE(visible(WS_VSCROLL));
    EXPECT_FALSE(grid_->GetFlatScrollBars());
    grid_->SetFlatScrollBars(true);
    EXPECT_TRUE(grid_->GetFlatScrollBars());
    EXPECT_FALSE(visible(WS_VSCROLL));
    grid_->Update();
    EXPECT_TRUE(visible(WS_VSCROLL));
    int mx = 0, my = 0;
    grid_->GetMaxViewXY(mx, my);
    grid_->SetViewY(200);
    EXPECT_EQ(FlatSB_GetScrollPos(h, SB_VERT), static_cast<int>(200 / ((300 + my - 1) / 65536.0)));
    grid_->SetScrollBars(ssNone);
    EXPECT_FALSE(visible(WS_VSCROLL));
    grid_->SetFlatScrollBars(false);
    grid_->SetScrollBars(ssVertical);
    EXPECT_TRUE(visible(WS_VSCROLL));
}

TEST_F(GridInteract, PlayingWithAndWithoutLoop)
{
    Fill(3, -1);
    grid_->SetImageDelayTime(0, 0);
    grid_->SetImageDelayTime(1, 50);
    grid_->SetImageDelayTime(2, 200);
    grid_->SetSelectedImage(1);
    TIndexLog log;
    std::vector<int>& frames = log.Index;
    std::vector<DWORD>& times = log.Time;
    grid_->OnPlayFrame = log.Event();
    grid_->SetPlaying(true);
    EXPECT_EQ(grid_->GetDisplayMode(), mdSingle);
    EXPECT_EQ(grid_->GetSelectedImage(), -1);
    // Selection and keys do nothing while playing.
    grid_->SetSelectedImage(2);
    EXPECT_EQ(grid_->GetSelectedImage(), -1);
    Pump(420);
    ASSERT_GE(frames.size(), 4u);
    EXPECT_EQ(frames[0], 0);
    EXPECT_EQ(frames[1], 1);
    EXPECT_EQ(frames[2], 2);
    EXPECT_EQ(frames[3], 0);
    EXPECT_GE(times[2] - times[1], 40u);
    EXPECT_GE(times[3] - times[2], 180u);
    grid_->SetPlaying(false);
    EXPECT_EQ(grid_->GetDisplayMode(), mdGrid);
    EXPECT_EQ(grid_->GetSelectedImage(), 1);

    // Without the loop the step that shows the last entry ends playing.
    frames.clear();
    grid_->PlayLoop = false;
    grid_->VisibleFrame = 0;
    grid_->SetPlaying(true);
    Pump(300);
    EXPECT_EQ(frames, std::vector<int>({0, 1, 2}));
    EXPECT_FALSE(grid_->Playing);
    EXPECT_EQ(grid_->VisibleFrame, 0);
}

TEST_F(GridInteract, PlayingAnEmptyGridShowsNothing)
{
    TIndexLog log;
    grid_->OnPlayFrame = log.Event();
    grid_->SetPlaying(true);
    Pump(50);
    EXPECT_TRUE(log.Index.empty());
    grid_->SetPlaying(false);
    Fill(2, -1);
    grid_->PlayLoop = false;
    grid_->SetPlaying(true);
    Pump(100);
    EXPECT_EQ(log.Index, std::vector<int>({0, 1}));
}

}  // namespace
