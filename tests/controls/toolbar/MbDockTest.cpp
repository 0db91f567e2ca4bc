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
#include "controls/toolbar/MbDock.h"
#include "controls/toolbar/MbToolbar.h"

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

    bar->SetIsFloating(true);
    ASSERT_NE(bar->GetToolWindow(), nullptr);
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
