#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "classlib/Controls.h"
#include "classlib/Docking.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Forms.h"
#include "controls/themed/TmPageControl.h"
#include "support/HostWindow.h"

using namespace classlib;
using namespace themed;
using testsupport::PumpMessages;
using testsupport::SendMouse;
using testsupport::THostWindow;

namespace {

// A form with a page control of N pages "Page0".. (owned by the form).
struct TPages {
    std::unique_ptr<TForm> form;
    TTmPageControl* pc = nullptr;
    std::vector<TTmTabSheet*> pages;
    explicit TPages(int N, bool Show = false)
    {
        form = std::make_unique<TForm>(nullptr);
        form->SetBounds(0, 0, 500, 300);
        pc = new TTmPageControl(form.get());
        pc->SetParent(form.get());
        pc->SetBounds(0, 0, 480, 260);
        for (int i = 0; i < N; ++i) {
            auto* p = new TTmTabSheet(form.get());
            p->SetCaption(L"Page" + std::to_wstring(i));
            p->SetPageControl(pc);
            pages.push_back(p);
        }
        if (Show) {
            form->Show();
            PumpMessages();
        }
        pc->UpdateTabs();
    }
};

struct TLog {
    std::vector<std::string> events;
    int refuse = -1;
    void Change(TObject*) { events.push_back("change"); }
    void PageChange(TObject*) { events.push_back("page"); }
    void Changing(TObject*, int NewIndex, bool& Allow)
    {
        events.push_back("changing " + std::to_string(NewIndex));
        Allow = NewIndex != refuse;
    }
    void Order(TObject*, int Old, int New) { events.push_back("order " + std::to_string(Old) + "->" + std::to_string(New)); }
    void Close(TObject*, bool& Allow) { Allow = true; }
};

void Wire(TTmPageControl* Pc, TLog& L)
{
    Pc->OnChange = TNotifyEvent(&L, &TLog::Change);
    Pc->OnPageChange = TNotifyEvent(&L, &TLog::PageChange);
    Pc->OnChanging = TTmTabChangingEvent(&L, &TLog::Changing);
    Pc->OnTabOrderChange = TTmTabOrderChangeEvent(&L, &TLog::Order);
    Pc->OnClose = TTmTabCloseEvent(&L, &TLog::Close);
}

}  // namespace

TEST(TmPageControlTest, SelectingATabShowsItsPageAfterOnChangingAndBeforeOnChange)
{
    TPages p(3);
    TLog log;
    Wire(p.pc, log);
    p.pc->SetActivePage(p.pages[0]);
    log.events.clear();
    p.pc->SetTabIndex(2);
    EXPECT_EQ(p.pc->GetActivePage(), p.pages[2]);
    EXPECT_TRUE(p.pages[2]->GetVisible());
    EXPECT_FALSE(p.pages[0]->GetVisible());
    EXPECT_EQ(log.events, (std::vector<std::string>{"changing 2", "change", "page"}));
    // A refused change keeps page and tab.
    log.refuse = 1;
    p.pc->SetActivePageIndex(1);
    EXPECT_EQ(p.pc->GetActivePage(), p.pages[2]);
    EXPECT_EQ(p.pc->GetTabIndex(), 2);
    // The page fills the display rectangle.
    const RECT d = p.pc->GetDisplayRect();
    EXPECT_EQ(p.pages[2]->GetLeft(), d.left);
    EXPECT_EQ(p.pages[2]->GetTop(), d.top);
    EXPECT_EQ(p.pages[2]->GetWidth(), d.right - d.left);
    // Pages are shown by the control only.
    EXPECT_THROW(p.pages[1]->SetVisible(true), ETmTabControlError);
}

TEST(TmPageControlTest, HiddenTabsShiftTabIndicesAndAHiddenActivePageStaysShown)
{
    TPages p(4);
    TLog log;
    Wire(p.pc, log);
    p.pages[1]->SetTabVisible(false);
    EXPECT_EQ(p.pages[1]->GetTabIndex(), -1);
    EXPECT_EQ(p.pages[2]->GetTabIndex(), 1);
    EXPECT_EQ(p.pc->TabData()->GetCount(), 3);
    EXPECT_EQ(p.pc->PageForTabIndex(2), p.pages[3]);
    p.pc->SetActivePage(p.pages[3]);
    EXPECT_EQ(p.pc->GetTabIndex(), 2);
    // Hiding the active page's tab: TabIndex -1, the page stays.
    p.pages[3]->SetTabVisible(false);
    EXPECT_EQ(p.pc->GetTabIndex(), -1);
    EXPECT_EQ(p.pc->GetActivePage(), p.pages[3]);
    EXPECT_TRUE(p.pages[3]->GetVisible());
    // ActivePage := a page without a tab shows it and fires OnPageChange.
    log.events.clear();
    p.pc->SetActivePage(p.pages[1]);
    EXPECT_EQ(p.pc->GetActivePage(), p.pages[1]);
    EXPECT_EQ(p.pc->GetTabIndex(), -1);
    EXPECT_EQ(log.events, std::vector<std::string>{"page"});
}

TEST(TmPageControlTest, PageIndexMovesPagesAndRejectsOutOfRangeValues)
{
    TPages p(3);
    TLog log;
    Wire(p.pc, log);
    try {
        p.pages[0]->SetPageIndex(3);
        ADD_FAILURE();
    } catch (const ETmTabControlError& e) {
        EXPECT_EQ(e.Message(), L"3 is an invalid PageIndex value. PageIndex must be between 0 and 2");
    }
    EXPECT_EQ(p.pages[0]->GetPageIndex(), 0);
    p.pages[0]->SetPageIndex(2);
    EXPECT_EQ(p.pc->GetPage(2), p.pages[0]);
    EXPECT_EQ(p.pc->GetPage(0), p.pages[1]);
    EXPECT_EQ(log.events, std::vector<std::string>{"order 0->2"});
    EXPECT_EQ(p.pc->TabData()->GetItem(2)->Caption, L"Page0");
}

TEST(TmPageControlTest, CtrlTabWrapsAroundTheVisiblePages)
{
    TPages p(4);
    p.pages[3]->SetTabVisible(false);
    p.pc->SetActivePage(p.pages[2]);
    EXPECT_TRUE(p.pc->DialogKey(VK_TAB, ssCtrl));
    EXPECT_EQ(p.pc->GetActivePage(), p.pages[0]);
    EXPECT_TRUE(p.pc->DialogKey(VK_TAB, ssCtrl | ssShift));
    EXPECT_EQ(p.pc->GetActivePage(), p.pages[2]);
    EXPECT_FALSE(p.pc->DialogKey(VK_TAB, 0));
    EXPECT_EQ(p.pc->FindNextPage(nullptr, true, true), p.pages[0]);
    EXPECT_EQ(p.pc->FindNextPage(p.pages[0], false, false), p.pages[3]);
}

TEST(TmPageControlTest, ClosingTheActiveTabFreesItsPageAndSelectsTheOneBefore)
{
    struct Case {
        int active;
        int expectedTab;
        int expectedPage;  // index into the original pages
    };
    for (const Case& c : {Case{0, 0, 1}, Case{2, 1, 1}, Case{3, 2, 2}}) {
        THostWindow host(640, 400, true, WS_EX_TOPMOST);
        TPages p(4);
        TLog log;
        Wire(p.pc, log);
        p.pc->SetShowCloseButton(true);
        p.form->SetParentWindow(host.Get());
        p.form->Show();
        PumpMessages();
        p.pc->SetActivePage(p.pages[static_cast<size_t>(c.active)]);
        p.pc->PaintToBitmap();
        HWND cw = p.pc->GetCloseButton()->GetHandle();
        SendMouse(cw, WM_LBUTTONDOWN, 3, 3, MK_LBUTTON);
        SendMouse(cw, WM_LBUTTONUP, 3, 3, 0);
        EXPECT_EQ(p.pc->GetPageCount(), 3) << c.active;
        EXPECT_EQ(p.pc->GetTabIndex(), c.expectedTab) << c.active;
        EXPECT_EQ(p.pc->GetActivePage(), p.pages[static_cast<size_t>(c.expectedPage)]) << c.active;
        EXPECT_TRUE(p.pc->GetActivePage()->GetVisible());
    }
    // Freeing a page that is not the active one keeps the active page.
    TPages p(3);
    p.pc->SetActivePage(p.pages[2]);
    delete p.pages[0];
    EXPECT_EQ(p.pc->GetActivePage(), p.pages[2]);
    EXPECT_EQ(p.pc->GetTabIndex(), 1);
}

TEST(TmPageControlTest, ColouredTabsFollowPageColours)
{
    TPages p(2);
    p.pc->SetColor(0x112233);
    EXPECT_EQ(p.pages[0]->GetColor_(), 0x112233);
    EXPECT_FALSE(p.pc->GetUseColoredTabs());
    p.pages[1]->SetColor(0x445566);
    EXPECT_TRUE(p.pc->GetUseColoredTabs());
    EXPECT_EQ(p.pc->TabData()->GetItem(1)->Color, 0x445566);
    p.pc->SetUseColoredTabs(false);
    EXPECT_EQ(p.pages[1]->GetColor_(), 0x112233);
}

// Dragging a tab with the mouse moves the active page to the drop tab.
TEST(TmPageControlTest, DraggingATabMovesItsPage)
{
    THostWindow host(640, 400, true, WS_EX_TOPMOST);
    TPages p(4);
    TLog log;
    Wire(p.pc, log);
    p.form->SetParentWindow(host.Get());
    p.form->SetBorderStyle(bsNone);
    p.form->SetBounds(0, 0, 500, 300);
    p.form->Show();
    PumpMessages();
    p.pc->SetAllowTabDragging(true);
    p.pc->SetActivePage(p.pages[0]);
    p.pc->PaintToBitmap();
    HWND w = p.pc->GetHandle();
    auto dragTo = [&](int From, int To) {
        const RECT a = p.pc->GetTabRect(From), b = p.pc->GetTabRect(To);
        const POINT pa{(a.left + a.right) / 2, (a.top + a.bottom) / 2};
        const POINT pb{(b.left + b.right) / 2, (b.top + b.bottom) / 2};
        SendMouse(w, WM_LBUTTONDOWN, pa.x, pa.y, MK_LBUTTON);
        SendMouse(w, WM_MOUSEMOVE, pa.x + 10, pa.y, MK_LBUTTON);
        SendMouse(w, WM_MOUSEMOVE, pb.x, pb.y, MK_LBUTTON);
        SendMouse(w, WM_LBUTTONUP, pb.x, pb.y, 0);
        PumpMessages();
    };
    // Dropped on itself: nothing moves.
    dragTo(0, 0);
    EXPECT_EQ(p.pc->GetPage(0), p.pages[0]);
    EXPECT_FALSE(p.pc->Dragging());
    log.events.clear();
    dragTo(0, 2);
    EXPECT_EQ(p.pc->GetPage(2), p.pages[0]);
    EXPECT_EQ(p.pc->GetActivePage(), p.pages[0]);
    EXPECT_EQ(p.pc->GetTabIndex(), 2);
    EXPECT_NE(std::find(log.events.begin(), log.events.end(), "order 0->2"), log.events.end());
    EXPECT_FALSE(p.pc->GetDragMarkShown());
    EXPECT_FALSE(p.pc->Dragging());
}

TEST(TmPageControlTest, LoadedShowsTheDefaultPageWithoutEvents)
{
    TForm form(nullptr);
    auto* pc = new TTmPageControl(&form);
    TLog log;
    Wire(pc, log);
    pc->SetParent(&form);
    std::vector<TTmTabSheet*> pages;
    for (int i = 0; i < 3; ++i) {
        auto* s = new TTmTabSheet(&form);
        s->SetCaption(L"P" + std::to_wstring(i));
        s->SetPageControl(pc);
        pages.push_back(s);
    }
    BeginLoading(&form);
    pc->SetActivePage(pages[1]);
    pc->SetActivePageDefault(pages[2]);
    EndLoading(&form);
    EXPECT_EQ(pc->GetActivePage(), pages[2]);
    EXPECT_EQ(pc->GetTabIndex(), 2);
    EXPECT_FALSE(pages[1]->GetVisible());
    EXPECT_TRUE(pages[2]->GetVisible());
    for (const auto& e : log.events) ADD_FAILURE() << e;
}
