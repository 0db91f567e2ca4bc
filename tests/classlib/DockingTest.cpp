#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "classlib/Controls.h"
#include "classlib/Docking.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Forms.h"
#include "support/HostWindow.h"

using namespace classlib;

namespace {

using testsupport::PumpMessages;

void Send(TWinControl* C, UINT Msg, POINT P, WPARAM Keys)
{
    ::SendMessageW(C->GetHandle(), Msg, Keys, MAKELPARAM(static_cast<WORD>(P.x), static_cast<WORD>(P.y)));
}

// Two panels side by side on a borderless form at the screen's corner.
struct TScene {
    std::unique_ptr<TForm> form = std::make_unique<TForm>(nullptr);
    TPanel* source = nullptr;
    TPanel* target = nullptr;
    TScene()
    {
        form->SetBorderStyle(bsNone);
        form->SetBounds(0, 0, 400, 200);
        source = new TPanel(form.get());
        source->SetParent(form.get());
        source->SetBounds(10, 10, 100, 100);
        target = new TPanel(form.get());
        target->SetParent(form.get());
        target->SetBounds(200, 10, 150, 150);
        form->Show();
        // Drag targets are found under the pointer: nothing may cover the form.
        ::SetWindowPos(form->GetHandle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        PumpMessages();
    }
    // The target's centre in the source's client coordinates.
    POINT TargetInSource() const
    {
        POINT p = target->ClientToScreen(POINT{75, 75});
        return source->ScreenToClient(p);
    }
};

struct TDragLog {
    std::vector<std::string> events;
    void Over(TObject*, TObject* Source, int, int, TDragState State, bool& Accept)
    {
        events.push_back("over " + std::to_string(State));
        Accept = Source != nullptr;
    }
    void Drop(TObject*, TObject*, int X, int Y) { events.push_back("drop " + std::to_string(X) + "," + std::to_string(Y)); }
    void End(TObject*, TObject* Target, int, int) { events.push_back(Target ? "end on target" : "end"); }
};

}  // namespace

TEST(DockingTest, PlainDragStartsPastTheThresholdAndDropsOnTheAcceptingControl)
{
    TScene s;
    TDragLog log;
    s.target->OnDragOver = TDragOverEvent(&log, &TDragLog::Over);
    s.target->OnDragDrop = TDragDropEvent(&log, &TDragLog::Drop);
    s.source->OnEndDrag = TEndDragEvent(&log, &TDragLog::End);
    s.source->DragMode = dmAutomatic;

    Send(s.source, WM_LBUTTONDOWN, POINT{5, 5}, MK_LBUTTON);
    EXPECT_TRUE(s.source->Dragging());
    EXPECT_EQ(DragControl(), s.source);
    // Within the threshold nothing is offered yet.
    Send(s.source, WM_MOUSEMOVE, POINT{8, 7}, MK_LBUTTON);
    EXPECT_TRUE(log.events.empty());
    const POINT t = s.TargetInSource();
    Send(s.source, WM_MOUSEMOVE, t, MK_LBUTTON);
    Send(s.source, WM_MOUSEMOVE, POINT{t.x + 1, t.y}, MK_LBUTTON);
    Send(s.source, WM_LBUTTONUP, POINT{t.x + 1, t.y}, 0);
    EXPECT_FALSE(s.source->Dragging());
    EXPECT_EQ(log.events,
              (std::vector<std::string>{"over 0", "over 2", "drop 76,75", "end on target"}));
}

TEST(DockingTest, EscCancelsAndAFreedSourceEndsItsDrag)
{
    TScene s;
    TDragLog log;
    s.target->OnDragOver = TDragOverEvent(&log, &TDragLog::Over);
    s.target->OnDragDrop = TDragDropEvent(&log, &TDragLog::Drop);
    s.source->OnEndDrag = TEndDragEvent(&log, &TDragLog::End);
    s.source->BeginDrag(true);
    Send(s.source, WM_MOUSEMOVE, s.TargetInSource(), MK_LBUTTON);
    ::SendMessageW(s.source->GetHandle(), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_FALSE(s.source->Dragging());
    EXPECT_EQ(log.events, (std::vector<std::string>{"over 0", "end"}));

    s.source->BeginDrag(true);
    delete s.source;
    EXPECT_EQ(DragControl(), nullptr);
}

TEST(DockingTest, DockTreeStacksClientsBelowGrabbersAndForgetsFreedOnes)
{
    TScene s;
    s.target->SetDockSite(true);
    s.target->SetUseDockManager(true);
    auto* tree = dynamic_cast<TDockTree*>(s.target->GetDockManager());
    ASSERT_NE(tree, nullptr);
    auto* a = new TPanel(s.form.get());
    auto* b = new TPanel(s.form.get());
    a->SetParent(s.form.get());
    b->SetParent(s.form.get());
    a->ManualDock(s.target);
    b->ManualDock(s.target);
    EXPECT_EQ(s.target->GetDockClientCount(), 2);
    EXPECT_EQ(tree->GetClientCount(), 2);
    const RECT c = s.target->GetClientRect();
    const int half = (c.bottom - c.top) / 2;
    const int g = tree->GetGrabberSize();
    EXPECT_EQ(a->GetBoundsRect().top, c.top + g);
    EXPECT_EQ(a->GetBoundsRect().bottom, c.top + half);
    EXPECT_EQ(b->GetBoundsRect().top, c.top + half + g);
    // A press on b's close glyph hides it; a gives it the whole site.
    const RECT x = tree->CloseRect(b);
    Send(s.target, WM_LBUTTONDOWN, POINT{(x.left + x.right) / 2, (x.top + x.bottom) / 2}, MK_LBUTTON);
    Send(s.target, WM_LBUTTONUP, POINT{(x.left + x.right) / 2, (x.top + x.bottom) / 2}, 0);
    EXPECT_FALSE(b->GetVisible());
    EXPECT_EQ(a->GetBoundsRect().bottom, c.bottom);
    delete a;
    EXPECT_EQ(s.target->GetDockClientCount(), 1);
    EXPECT_EQ(tree->GetClientCount(), 1);
    s.target->Repaint();
    // A site freed before its client leaves the client undocked.
    delete s.target;
    EXPECT_EQ(b->GetHostDockSite(), nullptr);
}
