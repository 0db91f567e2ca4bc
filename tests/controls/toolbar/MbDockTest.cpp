// The dock's row layout with windows of fixed sizes: empty docks, rows
// compacted, full-size and stretched windows, overlaps pushed and chevron
// windows shrunk (never below their minimum), overfull rows wrapped, row
// thickness; the two refused placements; and re-parenting that keeps the
// window and its child controls.
#include <windows.h>

#include <gtest/gtest.h>

#include "classlib/Exceptions.h"
#include "classlib/Forms.h"
#include "classlib/StdCtrls.h"
#include "classlib/WinHandles.h"
#include "controls/toolbar/MbDock.h"
#include "controls/toolbar/MbItem.h"
#include "controls/toolbar/MbToolbar.h"
#include "tests/controls/toolbar/MbInputDriver.h"

namespace {

using namespace toolbar;

// A dockable window with a fixed client size; a chevron window shrinks to
// what the dock allots it.
class TFakeBar : public TMbCustomDockableWindow {
public:
    TFakeBar(classlib::TComponent* Owner, int W, int H, TMbShrinkMode Mode = tbsmNone, int MinLen = 0)
        : TMbCustomDockableWindow(Owner), w_(W), h_(H), mode_(Mode), min_(MinLen)
    {
    }
    SIZE CalcArrangedSize(bool, int, bool, TMbDock*) override
    {
        if (AllottedLength > 0) return SIZE{AllottedLength - 4, h_};
        return SIZE{w_, h_};
    }
    SIZE QueryBaseSize() override { return SIZE{w_, h_}; }
    TMbShrinkMode QueryShrinkMode() override { return mode_; }
    void QueryMinShrinkSize(int& Size) override { Size = min_; }

private:
    int w_, h_;
    TMbShrinkMode mode_;
    int min_;
};

struct MbDockLayout : ::testing::Test {
    MbDockLayout()
    {
        form.SetBorderStyle(classlib::bsNone);
        form.SetBounds(0, 0, 500, 300);
        dock = new TMbDock(&form);
        dock->SetAllowDrag(false);  // frames of 2 pixels on every side
        dock->SetParent(&form);
    }
    TFakeBar* Bar(int W, int H, int Row, int Pos, TMbShrinkMode Mode = tbsmNone, int MinLen = 0)
    {
        auto* bar = new TFakeBar(&form, W, H, Mode, MinLen);
        bar->SetDockRow(Row);
        bar->SetDockPos(Pos);
        bar->SetParent(dock);
        return bar;
    }
    classlib::TForm form{nullptr};
    TMbDock* dock;
};

TEST_F(MbDockLayout, AnEmptyDockIsFlatOrOnePixelWithFixAlign)
{
    dock->LayoutRows();
    EXPECT_EQ(dock->GetHeight(), 0);
    dock->SetFixAlign(true);
    EXPECT_EQ(dock->GetHeight(), 1);
    EXPECT_EQ(dock->GetWidth(), 500);
}

TEST_F(MbDockLayout, EmptyRowsVanishAndEachRowIsItsThickestWindowPlusFour)
{
    TFakeBar* a = Bar(100, 20, 0, 0);
    TFakeBar* b = Bar(100, 30, 5, 0);
    TFakeBar* c = Bar(100, 10, 9, 0);
    TFakeBar* d = Bar(50, 16, 0, 200);  // shares row 0 with a
    EXPECT_EQ(a->CurrentRow, 0);
    EXPECT_EQ(b->CurrentRow, 1);
    EXPECT_EQ(c->CurrentRow, 2);
    EXPECT_EQ(d->CurrentRow, 0);
    EXPECT_EQ(a->GetHeight(), 24);
    EXPECT_EQ(d->GetHeight(), 24) << "every window of a row gets its thickness";
    EXPECT_EQ(b->GetTop(), 24);
    EXPECT_EQ(c->GetTop(), 24 + 34);
    EXPECT_EQ(dock->GetHeight(), 24 + 34 + 14);
    EXPECT_EQ(d->GetLeft(), 200);
    EXPECT_EQ(d->GetWidth(), 54);
}

TEST_F(MbDockLayout, AFullSizeWindowTakesARowOfItsOwnAndTheWholeLength)
{
    TFakeBar* a = Bar(100, 20, 0, 0);
    TFakeBar* full = Bar(80, 20, 0, 150);
    full->SetFullSize(true);
    EXPECT_EQ(full->CurrentRow, 0);
    EXPECT_EQ(a->CurrentRow, 1) << "the other window moved down";
    EXPECT_EQ(full->GetLeft(), 0);
    EXPECT_EQ(full->GetWidth(), 500);
}

TEST_F(MbDockLayout, StretchFillsTheGapOrTheRestOfTheRow)
{
    TFakeBar* s = Bar(50, 20, 0, 0);
    s->SetStretch(true);
    EXPECT_EQ(s->GetWidth(), 500) << "alone: to the end of the row";
    TFakeBar* b = Bar(50, 20, 0, 200);
    EXPECT_EQ(s->GetWidth(), 200) << "up to the next window";
    EXPECT_EQ(b->GetLeft(), 200);
}

TEST_F(MbDockLayout, OverlapsPushRightAndShrinkTheChevronWindowBeforeThem)
{
    TFakeBar* a = Bar(100, 20, 0, 0, tbsmChevron, 30);
    TFakeBar* b = Bar(100, 20, 0, 50);
    EXPECT_EQ(b->GetLeft(), 104) << "pushed past the earlier window";
    EXPECT_EQ(a->GetWidth(), 104);

    form.SetWidth(150);  // 208 wanted: the chevron window gives way
    EXPECT_EQ(a->CurrentRow, 0);
    EXPECT_EQ(b->CurrentRow, 0);
    EXPECT_EQ(a->GetWidth(), 46);
    EXPECT_EQ(b->GetLeft(), 46);
    EXPECT_EQ(b->GetWidth(), 104);
    EXPECT_EQ(a->AllottedLength, 46) << "the length the dock allotted it";
}

TEST_F(MbDockLayout, AnOverfullRowWrapsUnlessLimitedToOneRowWhereTheMinimumHolds)
{
    TFakeBar* a = Bar(100, 20, 0, 0, tbsmChevron, 30);
    TFakeBar* b = Bar(100, 20, 0, 50);
    form.SetWidth(120);  // even at its minimum a leaves no room for b
    EXPECT_EQ(a->CurrentRow, 0);
    EXPECT_EQ(b->CurrentRow, 1);
    EXPECT_EQ(b->GetLeft(), 16) << "its wanted place, moved back so that it ends with the row";

    dock->LimitToOneRow = true;
    dock->LayoutRows();
    EXPECT_EQ(b->CurrentRow, 0);
    EXPECT_EQ(a->GetWidth(), 30) << "never below its minimum";
    EXPECT_EQ(b->GetLeft(), 30);
}

TEST_F(MbDockLayout, ADockRefusesAToolWindowParentAndAPositionChangeWithControls)
{
    auto* other = new TMbDock(&form);
    EXPECT_THROW(other->SetParent(dock), classlib::EInvalidOperation);
    auto* bar = new TMbToolbar(&form);
    EXPECT_THROW(other->SetParent(bar), classlib::EInvalidOperation);
    dock->SetPosition(dpBottom);  // still empty: fine
    EXPECT_EQ(dock->GetAlign(), classlib::alBottom);
    Bar(10, 10, 0, 0);
    EXPECT_THROW(dock->SetPosition(dpLeft), classlib::EInvalidOperation);
}

TEST(MbDockable, DockingAndFloatingKeepTheWindowAndItsControls)
{
    classlib::TForm form(nullptr);
    form.SetBounds(50, 50, 400, 300);
    auto* top = new TMbDock(&form);
    top->SetParent(&form);
    auto* bottom = new TMbDock(&form);
    bottom->SetPosition(dpBottom);
    bottom->SetParent(&form);
    auto* bar = new TMbToolbar(&form);
    auto* edit = new classlib::TEdit(&form);
    edit->SetParent(bar);
    bar->SetParent(top);
    form.Show();
    edit->SetText(L"kept");
    const HWND wnd = bar->GetHandle(), editWnd = edit->GetHandle();

    bar->SetCurrentDock(bottom);
    EXPECT_EQ(bar->GetHandle(), wnd);
    EXPECT_EQ(::GetParent(wnd), bottom->GetHandle());
    EXPECT_TRUE(bar->IsDocked);

    bar->SetCaption(L"Tools");
    bar->SetIsFloating(true);
    ASSERT_NE(bar->GetToolWindow(), nullptr);
    EXPECT_EQ(bar->GetToolWindow()->GetCaption(), L"Tools") << "the window's text is the caption";
    bar->SetCaption(L"Zoom");
    EXPECT_EQ(bar->GetToolWindow()->GetCaption(), L"Zoom");
    EXPECT_EQ(bar->GetHandle(), wnd);
    EXPECT_EQ(::GetParent(wnd), bar->GetToolWindow()->GetHandle());
    EXPECT_EQ(MbFindOwningForm(bar), &form);
    EXPECT_EQ(edit->GetHandle(), editWnd);
    EXPECT_EQ(edit->GetText(), L"kept");

    bar->ToggleDocking();  // back to the last dock
    EXPECT_EQ(bar->GetCurrentDock(), bottom);
    EXPECT_EQ(bar->GetToolWindow(), nullptr) << "the tool window goes with the floating state";
    EXPECT_EQ(edit->GetHandle(), editWnd);
    EXPECT_EQ(edit->GetText(), L"kept");
}

TEST(MbDockable, DoubleClickDocksIntoTheDefaultDockOnlyWhenAllowed)
{
    classlib::TForm form(nullptr);
    form.SetBounds(50, 50, 400, 300);
    auto* dock = new TMbDock(&form);
    dock->SetParent(&form);
    auto* bar = new TMbToolbar(&form);
    bar->SetUseLastDock(false);
    bar->SetParent(&form);
    form.Show();
    bar->SetIsFloating(true);
    bar->ToggleDocking();  // neither last nor default dock: nothing
    EXPECT_TRUE(bar->GetIsFloating());
    bar->SetDefaultDock(dock);
    bar->ToggleDocking();
    EXPECT_EQ(bar->GetCurrentDock(), dock);
    EXPECT_EQ(bar->CurrentRow, 0);
    bar->DockMode = dmCannotFloat;
    bar->ToggleDocking();
    EXPECT_EQ(bar->GetCurrentDock(), dock) << "a window that cannot float stays";
}

TEST(MbDockable, AFloatingWindowHidesWithItsFormAndComesBackWithIt)
{
    classlib::TForm form(nullptr);
    form.SetBounds(50, 50, 400, 300);
    auto* dock = new TMbDock(&form);
    dock->SetParent(&form);
    auto* bar = new TMbToolbar(&form);
    bar->GetItems()->Add(new TMbItem(&form));
    bar->SetParent(dock);
    form.Show();
    ::SetActiveWindow(form.GetHandle());
    bar->SetIsFloating(true);
    ASSERT_NE(bar->GetToolWindow(), nullptr);
    const HWND tool = bar->GetToolWindow()->GetHandle();
    EXPECT_TRUE(::IsWindowVisible(tool));
    EXPECT_EQ(reinterpret_cast<HWND>(::GetWindowLongPtrW(tool, GWLP_HWNDPARENT)), form.GetHandle());

    ::ShowWindow(form.GetHandle(), SW_HIDE);  // seen by the window hook
    EXPECT_FALSE(::IsWindowVisible(tool));
    ::ShowWindow(form.GetHandle(), SW_SHOW);
    ::SetActiveWindow(form.GetHandle());
    EXPECT_TRUE(::IsWindowVisible(tool));
    bar->SetVisible(false);
    EXPECT_FALSE(::IsWindowVisible(tool)) << "a hidden window hides its tool window";
}

TEST(MbDropRow, ChosenByQuartersAndHalves)
{
    const std::vector<TMbRowExtent> rows{{20, false}, {40, true}};
    struct TCase {
        int Offset;
        bool BarFull;
        int Row;
        bool NewRow;
    } cases[] = {
        {0, false, 0, true},   {4, false, 0, true},  {5, false, 0, false}, {14, false, 0, false},
        {15, false, 1, true},  {39, false, 1, true}, {40, false, 2, true},  {59, false, 2, true},
        {60, false, 2, true},  {9, true, 0, true},   {10, true, 1, true},
    };
    for (const TCase& c : cases) {
        bool newRow = false;
        EXPECT_EQ(MbRowFromOffset(rows, c.Offset, c.BarFull, newRow), c.Row) << c.Offset;
        EXPECT_EQ(newRow, c.NewRow) << c.Offset;
    }
}

}  // namespace

namespace {

// Vertical stripes, 4 pixels red and 4 blue, from the rectangle's left.
class TStripes : public TMbBasicBackground {
public:
    using TMbBasicBackground::TMbBasicBackground;
    void PaintTo(HDC DC, const RECT& R) override
    {
        for (int x = R.left, i = 0; x < R.right; x += 4, ++i) {
            const RECT s{x, R.top, x + 4, R.bottom};
            classlib::TOwnedBrush b(::CreateSolidBrush(i % 2 ? RGB(0, 0, 255) : RGB(255, 0, 0)));
            ::FillRect(DC, &s, b.Get());
        }
    }
    HPALETTE PaletteHandle() override { return nullptr; }
    void AddChangeHandler(const classlib::TNotifyEvent&) override {}
    void SystemColoursChanged() override {}
    void RemoveChangeHandler(const classlib::TNotifyEvent&) override {}
    bool IsActive() override { return true; }
};

COLORREF ScreenPixel(POINT P)
{
    classlib::TWindowDC dc(nullptr);
    return ::GetPixel(dc.Get(), P.x, P.y);
}

void PumpAll()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

}  // namespace

TEST(MbDockBackground, DocksAndTheirWindowsContinueOnePictureAlsoRightAfterAMove)
{
    classlib::TForm form(nullptr);
    form.SetBorderStyle(classlib::bsNone);
    form.SetBounds(30, 20, 400, 200);
    auto* dock = new TMbDock(&form);
    dock->SetParent(&form);
    auto* left = new TMbDock(&form);
    left->SetPosition(dpLeft);
    left->SetFixAlign(true);
    left->SetParent(&form);
    auto* bar = new TFakeBar(&form, 60, 20);
    bar->SetDockPos(0);
    bar->SetParent(dock);
    TStripes stripes(&form);
    dock->SetBackground(&stripes);
    left->SetBackground(&stripes);
    form.Show();
    PumpAll();
    const POINT origin = form.ClientToScreen(POINT{0, 0});
    auto expected = [&](POINT P) { return ((P.x - origin.x) / 4) % 2 ? RGB(0, 0, 255) : RGB(255, 0, 0); };
    // Points on the screen: the dock beside the window, the left dock, the
    // window's content and the ring inside its edge (second pixel from the
    // right).
    auto check = [&](const char* When) {
        RECT wr{};
        ::GetWindowRect(bar->GetHandle(), &wr);
        const int midY = (wr.top + wr.bottom) / 2;
        const POINT points[] = {
            {wr.right + 9, midY},
            {origin.x, dock->ClientToScreen(POINT{0, dock->GetHeight()}).y + 5},
            {bar->ClientToScreen(POINT{bar->GetClientWidth() / 2, 0}).x, midY},
            {bar->ClientToScreen(POINT{bar->GetClientWidth() / 2 + 1, 0}).x, midY},
            {wr.right - 2, midY},
            {wr.right - 3, midY},
        };
        for (const POINT& p : points)
            EXPECT_EQ(ScreenPixel(p), expected(p)) << When << " at " << p.x << "," << p.y;
    };
    check("shown");
    // An odd step: the copied pixels would show the stripes out of phase.
    bar->SetDockPos(37);
    ASSERT_EQ(bar->GetLeft(), 37);
    RECT pending{};
    EXPECT_FALSE(::GetUpdateRect(bar->GetHandle(), &pending, FALSE)) << "painted at once, through a bitmap";
    check("moved");
    PumpAll();
    check("moved and painted");
    dock->SetBackground(nullptr);
    left->SetBackground(nullptr);
}

namespace {

struct TContextLog {
    int Events = 0, Popups = 0;
    POINT At{};
    bool Handle = false;
    void Context(classlib::TObject*, POINT P, bool& Handled)
    {
        ++Events;
        At = P;
        Handled = Handle;
    }
    void Popup(classlib::TObject*) { ++Popups; }
};

}  // namespace

TEST(MbDockable, ARightClickOnTheFrameOpensThePopupMenuAndTheContentIsLeftAlone)
{
    classlib::TForm form(nullptr);
    form.SetBorderStyle(classlib::bsNone);
    form.SetBounds(0, 0, 300, 100);
    auto* dock = new TMbDock(&form);
    dock->SetParent(&form);
    auto* bar = new TFakeBar(&form, 60, 20);
    bar->SetParent(dock);
    auto* menu = new TMbPopupMenu(&form);
    auto* entry = new TMbItem(&form);
    entry->SetCaption(L"Customize");
    menu->GetItems()->Add(entry);
    TContextLog log;
    bar->OnContextPopup = TMbContextPopupEvent(&log, &TContextLog::Context);
    menu->OnPopup = classlib::TNotifyEvent(&log, &TContextLog::Popup);
    bar->SetPopupMenu(menu);
    form.Show();
    PumpAll();
    const HWND wnd = bar->GetHandle();
    RECT wr{};
    ::GetWindowRect(wnd, &wr);
    const POINT handle{wr.left + 4, (wr.top + wr.bottom) / 2};
    ASSERT_EQ(::SendMessageW(wnd, WM_NCHITTEST, 0, MAKELPARAM(handle.x, handle.y)), kHitDragHandle);

    bool opened = false;
    mbtest::RunDriven(
        [&] { ::SendMessageW(wnd, WM_NCRBUTTONUP, kHitDragHandle, MAKELPARAM(handle.x, handle.y)); },
        [&](mbtest::TInputDriver& d) {
            opened = mbtest::WaitFor([] {
                for (HWND w = ::FindWindowExW(nullptr, nullptr, L"VelmoMbPopupWindow", nullptr); w;
                     w = ::FindWindowExW(nullptr, w, L"VelmoMbPopupWindow", nullptr))
                    if (::IsWindowVisible(w)) return true;
                return false;
            });
            d.Key(WM_KEYDOWN, VK_ESCAPE);
            d.Key(WM_KEYDOWN, VK_ESCAPE, true);
        });
    EXPECT_TRUE(opened);
    EXPECT_EQ(log.Events, 1);
    EXPECT_EQ(log.Popups, 1);
    const POINT client = bar->ScreenToClient(handle);
    EXPECT_EQ(log.At.x, client.x);
    EXPECT_EQ(log.At.y, client.y);

    // The event may keep the menu shut; a click on the content is left to
    // the content.
    log.Handle = true;
    ::SendMessageW(wnd, WM_NCRBUTTONUP, kHitDragHandle, MAKELPARAM(handle.x, handle.y));
    EXPECT_EQ(log.Events, 2);
    const POINT inside = bar->ClientToScreen(POINT{5, 5});
    EXPECT_EQ(::SendMessageW(wnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(wnd), MAKELPARAM(inside.x, inside.y)), 0);
    EXPECT_EQ(log.Events, 2);
    EXPECT_EQ(log.Popups, 1);
    bar->SetPopupMenu(nullptr);
}

TEST(MbDockable, AColourChangeRepaintsTheDockedFrameAndContent)
{
    classlib::TForm form(nullptr);
    form.SetBorderStyle(classlib::bsNone);
    form.SetBounds(600, 400, 400, 100);  // away from the corner other test programs use
    auto* dock = new TMbDock(&form);
    dock->SetParent(&form);
    auto* plain = new TFakeBar(&form, 60, 20);
    plain->SetDockPos(0);
    plain->SetParent(dock);
    auto* bar = new TMbToolbar(&form);
    auto* entry = new TMbItem(&form);
    entry->SetCaption(L"Go");
    bar->GetItems()->Add(entry);
    bar->SetDockPos(100);
    bar->SetParent(dock);
    form.Show();
    form.Update();
    PumpAll();
    RECT plainRect{}, barRect{};
    ::GetWindowRect(plain->GetHandle(), &plainRect);
    ::GetWindowRect(bar->GetHandle(), &barRect);
    const POINT plainRing{plainRect.right - 2, (plainRect.top + plainRect.bottom) / 2};
    const POINT barRing{barRect.right - 2, (barRect.top + barRect.bottom) / 2};
    const POINT plainContent = plain->ClientToScreen(POINT{plain->GetClientWidth() / 2, plain->GetClientHeight() / 2});
    const POINT dockOnly{barRect.right + 20, barRing.y};
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    ASSERT_EQ(ScreenPixel(plainRing), face);
    ASSERT_EQ(ScreenPixel(barRing), face);

    constexpr COLORREF green = RGB(0, 128, 0), navy = RGB(0, 0, 128), maroon = RGB(128, 0, 0);
    plain->SetColor(static_cast<classlib::TColor>(green));
    bar->SetColor(static_cast<classlib::TColor>(navy));
    dock->SetColor(static_cast<classlib::TColor>(maroon));
    EXPECT_EQ(bar->GetView()->BackColor, static_cast<classlib::TColor>(navy)) << "the view's background follows";
    PumpAll();
    // The ring inside the raised edge is drawn in Color as well as the
    // content; the window frames are not touched by a plain invalidation.
    const struct {
        const char* what;
        POINT at;
        COLORREF colour;
    } cases[] = {
        {"frame of the plain window", plainRing, green},
        {"content of the plain window", plainContent, green},
        {"frame of the toolbar", barRing, navy},
        {"dock beside the windows", dockOnly, maroon},
    };
    for (const auto& c : cases) EXPECT_EQ(ScreenPixel(c.at), c.colour) << c.what;
}

TEST(MbDockable, PrintingADockDrawsItsLinesAndTheDockedFramesAndContent)
{
    classlib::TForm form(nullptr);
    form.SetBorderStyle(classlib::bsNone);
    form.SetBounds(600, 400, 300, 100);
    auto* dock = new TMbDock(&form);
    dock->SetBoundLines(blTop | blBottom);
    dock->SetColor(static_cast<classlib::TColor>(RGB(128, 0, 0)));
    dock->SetParent(&form);
    auto* plain = new TFakeBar(&form, 60, 20);
    plain->SetDockPos(0);
    plain->SetColor(static_cast<classlib::TColor>(RGB(0, 128, 0)));
    plain->SetParent(dock);
    form.Show();
    PumpAll();
    const int w = dock->GetWidth(), h = dock->GetHeight();
    ASSERT_GT(h, 20);
    // Printed into white: every pixel below comes from the printing.
    classlib::TWindowDC screen(nullptr);
    classlib::TOwnedBitmap bmp(::CreateCompatibleBitmap(screen.Get(), w, h));
    classlib::TMemoryDC mem(bmp.Get(), screen.Get());
    const RECT all{0, 0, w, h};
    ::FillRect(mem.Get(), &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::SendMessageW(dock->GetHandle(), WM_PRINT, reinterpret_cast<WPARAM>(mem.Get()),
                   PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND | PRF_CHILDREN);
    RECT bar{};
    ::GetWindowRect(plain->GetHandle(), &bar);
    RECT dockRect{};
    ::GetWindowRect(dock->GetHandle(), &dockRect);
    ::OffsetRect(&bar, -dockRect.left, -dockRect.top);
    const int midY = (bar.top + bar.bottom) / 2;
    const struct {
        const char* what;
        POINT at;
        COLORREF colour;
    } cases[] = {
        {"top line", {w - 5, 0}, ::GetSysColor(COLOR_BTNSHADOW)},
        {"bottom line", {w - 5, h - 1}, ::GetSysColor(COLOR_BTNHIGHLIGHT)},
        {"dock beside the window", {bar.right + 10, midY}, RGB(128, 0, 0)},
        {"raised edge of the window", {bar.right - 1, midY}, ::GetSysColor(COLOR_BTNSHADOW)},
        {"frame of the window", {bar.right - 2, midY}, RGB(0, 128, 0)},
        {"content of the window", {bar.right - 10, midY}, RGB(0, 128, 0)},
    };
    for (const auto& c : cases) EXPECT_EQ(::GetPixel(mem.Get(), c.at.x, c.at.y), c.colour) << c.what;
}
