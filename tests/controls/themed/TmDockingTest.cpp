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
#include "controls/themed/TmPanel.h"
#include "controls/themed/TmSplit.h"
#include "support/HostWindow.h"

using namespace classlib;
using namespace themed;
using testsupport::PumpMessages;
using testsupport::SendMouse;
using testsupport::THostWindow;

namespace {

// A borderless form at the screen's top-left holding the dock sites.
std::unique_ptr<TForm> MakeForm()
{
    auto f = std::make_unique<TForm>(nullptr);
    f->SetBorderStyle(bsNone);
    f->SetBounds(0, 0, 600, 400);
    return f;
}

// Drag targets are found under the pointer: nothing may cover the form.
void ShowOnTop(TForm* Form)
{
    Form->Show();
    ::SetWindowPos(Form->GetHandle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    PumpMessages();
}

// Drags Client (its window) with the left button from (1, 1) of the client
// to the screen point To and releases there.
void DragTo(TWinControl* Client, POINT To)
{
    HWND w = Client->GetHandle();
    SendMouse(w, WM_LBUTTONDOWN, 1, 1, MK_LBUTTON);
    POINT c = To;
    ::ScreenToClient(w, &c);
    SendMouse(w, WM_MOUSEMOVE, 12, 12, MK_LBUTTON);
    SendMouse(w, WM_MOUSEMOVE, c.x, c.y, MK_LBUTTON);
    SendMouse(w, WM_LBUTTONUP, c.x, c.y, 0);
    PumpMessages();
}

POINT ScreenCenter(TControl* C)
{
    return C->ClientToScreen(POINT{C->GetWidth() / 2, C->GetHeight() / 2});
}

// A dockable client: a plain panel dragged by its body.
TPanel* MakeClient(TWinControl* Parent, const std::wstring& Caption, int Left, int Top)
{
    auto* c = new TPanel(nullptr);
    c->SetCaption(Caption);
    c->DragKind = dkDock;
    c->DragMode = dmAutomatic;
    c->SetParent(Parent);
    c->SetBounds(Left, Top, 80, 60);
    return c;
}

struct TDockLog {
    std::vector<std::string> events;
    void SiteInfo(TObject* Sender, TControl*, RECT&, POINT, bool& CanDock)
    {
        events.push_back(std::string("site ") + (Sender ? "s" : "-"));
        CanDock = true;
    }
    void Over(TObject*, TDragDockObject*, int, int, TDragState, bool&) { events.push_back("over"); }
    void Drop(TObject* Sender, TDragDockObject* Source, int, int)
    {
        events.push_back("drop");
        sender = Sender;
        dropped = Source->Control;
    }
    void UnDock(TObject*, TControl*, TWinControl*, bool& Allow)
    {
        events.push_back("undock");
        Allow = allowUndock;
    }
    TObject* sender = nullptr;
    TControl* dropped = nullptr;
    bool allowUndock = true;
};

}  // namespace

TEST(TmDockingTest, AControlDraggedOntoAThemedPanelDocksThereAndUndocksToAFloatingHost)
{
    auto form = MakeForm();
    auto* site = new TTmPanel(form.get());
    site->SetParent(form.get());
    site->SetBounds(300, 0, 300, 400);
    site->SetDockSite(true);
    TPanel* client = MakeClient(form.get(), L"Tools", 20, 20);
    ShowOnTop(form.get());

    ASSERT_NE(dynamic_cast<TTmPanelDockManager*>(site->GetDockManager()), nullptr);
    EXPECT_TRUE(site->GetDoubleBuffered());  // the dock manager's panel paints without flicker
    DragTo(client, ScreenCenter(site));
    EXPECT_EQ(client->GetHostDockSite(), site);
    EXPECT_EQ(client->GetParent(), site);
    EXPECT_EQ(site->GetDockClientCount(), 1);
    // Placed below a 14-pixel caption bar inside the panel's frames.
    RECT inside = site->GetClientRect();
    site->AdjustClientRect(inside);
    EXPECT_EQ(client->GetTop(), inside.top + 14);
    EXPECT_EQ(client->GetLeft(), inside.left);
    EXPECT_EQ(client->GetWidth(), inside.right - inside.left);
    site->Repaint();  // caption bars paint without trouble

    // Dragged off by its caption bar and dropped where no site takes it: it
    // floats in a host window of its own.
    HWND sw = site->GetHandle();
    SendMouse(sw, WM_LBUTTONDOWN, inside.left + 20, inside.top + 5, MK_LBUTTON);
    ASSERT_TRUE(client->Dragging());
    POINT away = form->ClientToScreen(POINT{100, 300});
    POINT c = away;
    ::ScreenToClient(client->GetHandle(), &c);
    SendMouse(client->GetHandle(), WM_MOUSEMOVE, c.x, c.y, MK_LBUTTON);
    SendMouse(client->GetHandle(), WM_LBUTTONUP, c.x, c.y, 0);
    PumpMessages();
    EXPECT_TRUE(client->Floating());
    EXPECT_EQ(site->GetDockClientCount(), 0);
    auto* host = dynamic_cast<TCustomDockForm*>(client->GetParent());
    ASSERT_NE(host, nullptr);
    HWND hostWnd = host->GetHandle();
    EXPECT_TRUE(::IsWindowVisible(hostWnd));

    // Docked again from the floating host: the host goes.
    DragTo(client, ScreenCenter(site));
    EXPECT_EQ(client->GetHostDockSite(), site);
    EXPECT_FALSE(::IsWindow(hostWnd));

    // Freed while docked: the site forgets it and still paints.
    delete client;
    EXPECT_EQ(site->GetDockClientCount(), 0);
    site->Repaint();

    // Freed while floating: the host window goes with it.
    TPanel* other = MakeClient(form.get(), L"Other", 20, 20);
    other->ManualFloat(RECT{50, 50, 150, 120});
    ASSERT_TRUE(other->Floating());
    HWND otherHost = other->GetParent()->GetHandle();
    delete other;
    EXPECT_FALSE(::IsWindow(otherHost));
}

TEST(TmDockingTest, SplitterPaneAcceptsADockedControlAndReportsItsEvents)
{
    auto form = MakeForm();
    auto* split = new TTmSplitter(form.get());
    split->SetParent(form.get());
    split->SetBounds(0, 200, 600, 200);
    split->SetPosition(300);
    split->GetPaneData(2)->SetDockSite(true);
    TDockLog log;
    split->OnLRGetSiteInfo = TGetSiteInfoEvent(&log, &TDockLog::SiteInfo);
    split->OnLRDockOver = TDockOverEvent(&log, &TDockLog::Over);
    split->OnLRDockDrop = TDockDropEvent(&log, &TDockLog::Drop);
    split->OnLRUnDock = TUnDockEvent(&log, &TDockLog::UnDock);
    TPanel* client = MakeClient(form.get(), L"Docked", 20, 20);
    ShowOnTop(form.get());

    // The upper/left pane is no dock site: dropping there floats the client.
    EXPECT_FALSE(split->GetPaneData(1)->GetDockSite());
    TTmSplitterPane* pane2 = split->GetPane2();
    DragTo(client, ScreenCenter(pane2));
    EXPECT_EQ(client->GetHostDockSite(), pane2);
    EXPECT_EQ(client->GetParent(), pane2);
    EXPECT_EQ(log.sender, split);
    EXPECT_EQ(log.dropped, client);
    ASSERT_FALSE(log.events.empty());
    EXPECT_EQ(log.events.front(), "site s");
    EXPECT_EQ(log.events.back(), "drop");

    // OnLRUnDock may keep it.
    log.allowUndock = false;
    client->ManualFloat(RECT{10, 10, 90, 70});
    EXPECT_EQ(client->GetHostDockSite(), pane2);
    EXPECT_EQ(log.events.back(), "undock");
    log.allowUndock = true;
    client->ManualFloat(RECT{10, 10, 90, 70});
    EXPECT_TRUE(client->Floating());
    delete client;
    EXPECT_EQ(pane2->GetDockClientCount(), 0);
}

TEST(TmDockingTest, PageControlMakesAPageForADockedControlAndFreesItOnUndock)
{
    auto form = MakeForm();
    auto* pc = new TTmPageControl(form.get());
    pc->SetParent(form.get());
    pc->SetBounds(250, 0, 350, 300);
    pc->SetDockSite(true);
    auto* sheet = new TTmTabSheet(form.get());
    sheet->SetCaption(L"Own");
    sheet->SetPageControl(pc);
    pc->SetActivePage(sheet);
    TPanel* client = MakeClient(form.get(), L"", 20, 20);
    ShowOnTop(form.get());

    auto* floating = new TForm(nullptr);
    floating->SetCaption(L"Palette\r\nsecond line");
    floating->DragKind = dkDock;
    floating->ManualDock(pc);
    ASSERT_EQ(pc->GetPageCount(), 2);
    TTmTabSheet* dockPage = pc->GetPage(1);
    EXPECT_EQ(floating->GetParent(), dockPage);
    EXPECT_EQ(dockPage->GetCaption(), L"Palette\r\nsecond line");
    EXPECT_EQ(floating->GetAlign(), alClient);
    // A client's caption change renames its tab (first line only).
    floating->SetCaption(L"Colours\r\nx");
    EXPECT_EQ(dockPage->GetCaption(), L"Colours");

    // Dragging a plain control onto it adds a page as well.
    DragTo(client, ScreenCenter(pc));
    EXPECT_EQ(pc->GetPageCount(), 3);
    EXPECT_EQ(client->GetHostDockSite(), pc);

    // Undocking frees the page made for it.
    floating->ManualFloat(RECT{20, 20, 200, 200});
    EXPECT_EQ(pc->GetPageCount(), 2);
    EXPECT_TRUE(floating->Floating());
    delete floating;
    // Freeing a docked client leaves its empty page.
    delete client;
    EXPECT_EQ(pc->GetDockClientCount(), 0);
}
