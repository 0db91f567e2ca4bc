// The drag and resize loops driven by input from a second thread (posted
// messages, or real mouse input through the platform's input queue): a
// toolbar dragged from one dock to another, to floating and back, rows
// rearranged, Ctrl and Esc, a window that cannot float, split mode along a
// crowded row, outline drags, a dock refusing the window, the snap
// distance, double clicks, a window deleted during its own drag; a
// floating window resized (limits, snapping to the widths at which a
// wrapped toolbar changes its line count) and the tool window's hit areas
// and close route.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <vector>

#include "classlib/Forms.h"
#include "classlib/WinHandles.h"
#include "controls/toolbar/MbDock.h"
#include "controls/toolbar/MbToolbar.h"
#include "tests/controls/toolbar/MbInputDriver.h"

namespace {

using namespace toolbar;
using mbtest::RunDriven;
using mbtest::TInputDriver;

POINT Center(const RECT& R) { return POINT{(R.left + R.right) / 2, (R.top + R.bottom) / 2}; }

RECT ScreenRectOf(classlib::TWinControl* C)
{
    RECT r{};
    ::GetWindowRect(C->GetHandle(), &r);
    return r;
}

TMbToolbar* MakeBar(classlib::TForm& Form, TMbDock* Dock, const wchar_t* Name, int Entries)
{
    auto* bar = new TMbToolbar(&Form);
    bar->SetName(Name);
    for (int i = 0; i < Entries; ++i) {
        auto* item = new TMbItem(&Form);
        item->SetCaption(L"Entry " + std::to_wstring(i));
        bar->GetItems()->Add(item);
    }
    bar->SetParent(Dock);
    return bar;
}

struct MbDockDrag : ::testing::Test {
    MbDockDrag()
    {
        form.SetBounds(60, 60, 640, 420);
        top = new TMbDock(&form);
        top->SetParent(&form);
        bottom = new TMbDock(&form);
        bottom->SetPosition(dpBottom);
        bottom->SetFixAlign(true);
        bottom->SetParent(&form);
        bar = MakeBar(form, top, L"Bar", 3);
        form.Show();
        ::SetForegroundWindow(form.GetHandle());
        ::SetActiveWindow(form.GetHandle());
        classlib::Application->ProcessMessages();
    }
    // The screen point of the drag handle (its client point is left of
    // the client area).
    POINT HandleClient() { return POINT{-4, 6}; }
    POINT ScreenOf(TMbCustomDockableWindow* W, POINT Client) { return W->ClientToScreen(Client); }

    classlib::TForm form{nullptr};
    TMbDock *top, *bottom;
    TMbToolbar* bar;
};

// Runs Drive on a thread of its own while this thread serves the input it
// makes, and the loops that input starts, until Drive is done and no
// window holds the capture.
void ServeInput(const std::function<void(TInputDriver&)>& Drive)
{
    std::atomic<bool> done{false};
    RunDriven(
        [&] {
            while (!done || ::GetCapture()) {
                ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
                classlib::Application->ProcessMessages();
            }
        },
        [&](TInputDriver& d) {
            Drive(d);
            done = true;
        });
}

HCURSOR ShownCursor()
{
    CURSORINFO info{};
    info.cbSize = sizeof(info);
    return ::GetCursorInfo(&info) ? info.hCursor : nullptr;
}

// Screen pixels of a rectangle, copied from the screen as shown.
std::vector<COLORREF> ScreenPixels(const RECT& R)
{
    const int w = R.right - R.left, h = R.bottom - R.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    std::vector<COLORREF> pixels(static_cast<std::size_t>(w * h));
    classlib::TScreenDC screen;
    classlib::TOwnedBitmap bitmap(::CreateCompatibleBitmap(screen.Get(), w, h));
    {
        classlib::TMemoryDC copy(bitmap.Get(), screen.Get());
        ::BitBlt(copy.Get(), 0, 0, w, h, screen.Get(), R.left, R.top, SRCCOPY);
    }
    ::GetDIBits(screen.Get(), bitmap.Get(), 0, static_cast<UINT>(h), pixels.data(), &info, DIB_RGB_COLORS);
    return pixels;
}

int Differences(const std::vector<COLORREF>& A, const std::vector<COLORREF>& B)
{
    int n = 0;
    for (std::size_t i = 0; i < A.size() && i < B.size(); ++i)
        if (A[i] != B[i]) ++n;
    return n;
}

TEST_F(MbDockDrag, ToAnotherDockToFloatingAndBack)
{
    const POINT grab = HandleClient();
    POINT press = ScreenOf(bar, grab);
    const RECT b = ScreenRectOf(bottom);
    RunDriven([&] { bar->RunDragLoop(grab); },
              [&](TInputDriver& d) {
                  if (!d.WaitCapture()) return;
                  d.MoveTo(POINT{press.x + 40, press.y + 10});
                  d.MoveTo(POINT{b.left + 40, b.top});
                  d.Release(POINT{b.left + 40, b.top});
              });
    EXPECT_EQ(bar->GetCurrentDock(), bottom);
    EXPECT_EQ(bar->GetLastDock(), bottom);
    EXPECT_GT(bottom->GetHeight(), 20);
    EXPECT_EQ(top->GetHeight(), 0);

    // Into the middle of the form: floating.
    const RECT f = ScreenRectOf(&form);
    const POINT middle = Center(f);
    press = ScreenOf(bar, grab);
    RunDriven([&] { bar->RunDragLoop(grab); },
              [&](TInputDriver& d) {
                  if (!d.WaitCapture()) return;
                  d.MoveTo(middle);
                  d.Release(middle);
              });
    ASSERT_TRUE(bar->GetIsFloating());
    ASSERT_NE(bar->GetToolWindow(), nullptr);
    const RECT tw = ScreenRectOf(bar->GetToolWindow());
    EXPECT_TRUE(::PtInRect(&tw, middle)) << "the tool window is under the pointer";
    EXPECT_TRUE(::IsWindowVisible(bar->GetToolWindow()->GetHandle()));

    // Back to the top dock, grabbed by its client area.
    const POINT inside{4, 4};
    const RECT t = ScreenRectOf(top);
    RunDriven([&] { bar->RunDragLoop(inside); },
              [&](TInputDriver& d) {
                  if (!d.WaitCapture()) return;
                  d.MoveTo(POINT{t.left + 30, t.top + 2});
                  d.Release(POINT{t.left + 30, t.top + 2});
              });
    EXPECT_EQ(bar->GetCurrentDock(), top);
    EXPECT_FALSE(bar->GetIsFloating());
    EXPECT_EQ(bar->GetToolWindow(), nullptr);
}

TEST_F(MbDockDrag, RowsAreRearrangedByDropping)
{
    TMbToolbar* second = MakeBar(form, top, L"Second", 2);
    second->SetDockPos(300);
    classlib::Application->ProcessMessages();
    ASSERT_EQ(second->CurrentRow, 0);
    const int rowHeight = top->GetHeight();

    // Dropped on the lower quarter of the row: a new row below it.
    const POINT grab = HandleClient();
    const POINT press = ScreenOf(second, grab);
    RunDriven([&] { second->RunDragLoop(grab); },
              [&](TInputDriver& d) {
                  if (!d.WaitCapture()) return;
                  d.MoveTo(POINT{press.x - 100, press.y + rowHeight});
                  d.Release(POINT{press.x - 100, press.y + rowHeight});
              });
    EXPECT_EQ(bar->CurrentRow, 0);
    EXPECT_EQ(second->CurrentRow, 1);
    EXPECT_EQ(second->GetDockRow(), 1) << "the drop is written back";
    EXPECT_EQ(top->GetHeight(), 2 * rowHeight);

    // Dropped on the middle of the first row: the two share it again.
    const POINT press2 = ScreenOf(second, grab);
    RunDriven([&] { second->RunDragLoop(grab); },
              [&](TInputDriver& d) {
                  if (!d.WaitCapture()) return;
                  d.MoveTo(POINT{press2.x + 150, press2.y - rowHeight});
                  d.Release(POINT{press2.x + 150, press2.y - rowHeight});
              });
    EXPECT_EQ(second->CurrentRow, 0);
    EXPECT_EQ(top->GetHeight(), rowHeight);
    EXPECT_GE(second->GetLeft(), bar->GetLeft() + bar->GetWidth());
}

TEST_F(MbDockDrag, CtrlNeverDocksAndEscCancels)
{
    const POINT grab = HandleClient();
    const POINT press = ScreenOf(bar, grab);
    const RECT b = ScreenRectOf(bottom);
    bool floatedWithCtrl = false;
    RunDriven([&] { bar->RunDragLoop(grab); },
              [&](TInputDriver& d) {
                  if (!d.WaitCapture()) return;
                  d.Key(WM_KEYDOWN, VK_CONTROL);
                  d.MoveTo(POINT{b.left + 40, b.top});
                  floatedWithCtrl = bar->GetIsFloating();  // live drag: already applied
                  d.Key(WM_KEYUP, VK_CONTROL);  // re-evaluated at once
                  d.Release(POINT{b.left + 40, b.top});
              });
    EXPECT_TRUE(floatedWithCtrl);
    EXPECT_EQ(bar->GetCurrentDock(), bottom);

    const int row = bar->CurrentRow, left = bar->GetLeft();
    RunDriven([&] { bar->RunDragLoop(grab); },
              [&](TInputDriver& d) {
                  if (!d.WaitCapture()) return;
                  d.Key(WM_KEYDOWN, VK_ESCAPE, true);
              });
    (void)press;
    EXPECT_EQ(bar->GetCurrentDock(), bottom);
    EXPECT_EQ(bar->CurrentRow, row);
    EXPECT_EQ(bar->GetLeft(), left);
}

TEST_F(MbDockDrag, AWindowThatCannotFloatStaysWhenDroppedOutsideDocks)
{
    bar->DockMode = dmCannotFloat;
    const POINT grab = HandleClient();
    const POINT middle = Center(ScreenRectOf(&form));
    const HWND wnd = bar->GetHandle();
    HCURSOR cursor = nullptr;
    RunDriven([&] { bar->RunDragLoop(grab); },
              [&](TInputDriver& d) {
                  if (!d.WaitCapture()) return;
                  d.RealMoveTo(middle);
                  mbtest::WaitFor([&] { return ShownCursor() == ::LoadCursorW(nullptr, IDC_NO); });
                  cursor = ShownCursor();
                  d.RealRelease(middle);
              });
    EXPECT_EQ(cursor, ::LoadCursorW(nullptr, IDC_NO));
    EXPECT_EQ(bar->GetCurrentDock(), top);
    EXPECT_FALSE(bar->GetIsFloating());
    EXPECT_EQ(::GetParent(wnd), top->GetHandle());
}

// A row too long for its dock: the windows share it only because the first
// one hides entries behind its chevron. Dragged along that row (real mouse
// input, pressed on the drag handle) the window keeps its place in the row
// and takes room from its neighbour; a short move changes nothing.
TEST_F(MbDockDrag, AlongACrowdedRowTheDraggedWindowTakesRoomFromItsNeighbour)
{
    delete bar;
    TMbToolbar* first = MakeBar(form, top, L"First", 12);
    TMbToolbar* wide = MakeBar(form, top, L"Wide", 12);
    wide->SetDockPos(300);
    classlib::Application->ProcessMessages();
    ASSERT_EQ(first->CurrentRow, 0);
    ASSERT_EQ(wide->CurrentRow, 0) << "the row is shared";
    ASSERT_LT(first->GetWidth(), static_cast<int>(first->QueryBaseSize().cx)) << "crowded: entries went behind the chevron";

    const int firstWidth = first->GetWidth(), wideLeft = wide->GetLeft();
    const POINT press = ScreenOf(wide, HandleClient());
    bool splitEarly = true, split = false;
    HCURSOR cursor = nullptr;
    ServeInput([&](TInputDriver& d) {
        d.RealPress(press);
        if (!d.WaitCapture(wide->GetHandle())) return;
        d.RealMoveTo(POINT{press.x - 6, press.y});
        splitEarly = wide->SplitMode;
        d.RealMoveTo(POINT{press.x - 50, press.y});
        split = mbtest::WaitFor([&] { return wide->SplitMode; });
        mbtest::WaitFor([&] { return ShownCursor() == ::LoadCursorW(nullptr, IDC_SIZEWE); });
        cursor = ShownCursor();
        d.RealRelease(POINT{press.x - 50, press.y});
    });
    EXPECT_FALSE(splitEarly) << "within 9 pixels of the press";
    EXPECT_TRUE(split);
    EXPECT_EQ(cursor, ::LoadCursorW(nullptr, IDC_SIZEWE));
    EXPECT_FALSE(wide->SplitMode) << "only while dragging";
    EXPECT_EQ(wide->CurrentRow, 0);
    EXPECT_EQ(first->CurrentRow, 0);
    EXPECT_EQ(wide->GetLeft(), wideLeft - 50);
    EXPECT_EQ(first->GetWidth(), firstWidth - 50) << "the neighbour gave the room";
    EXPECT_EQ(first->GetLeft() + first->GetWidth(), wide->GetLeft()) << "still side by side, in their order";
}

// Without SmoothDrag the window stays where it is while an inverted outline
// follows the pointer on the screen; Esc erases it and leaves the screen as
// it was, a release moves the window.
TEST_F(MbDockDrag, AnOutlineDragDrawsOnTheScreenAndMovesTheWindowOnlyAtTheEnd)
{
    bar->SmoothDrag = false;
    const RECT b = ScreenRectOf(bottom);
    const POINT over{b.left + 60, b.top};
    const RECT area{over.x - 80, over.y - 40, over.x + 160, over.y + 10};
    const HWND wnd = bar->GetHandle();
    for (bool release : {false, true}) {
        SCOPED_TRACE(release ? "released" : "cancelled");
        // Pressed elsewhere on the handle each time: no double click.
        const POINT press = ScreenOf(bar, POINT{-4, release ? 14 : 6});
        std::vector<COLORREF> before, during, after;
        bool movedEarly = true;
        ServeInput([&](TInputDriver& d) {
            d.RealMoveTo(press);
            before = ScreenPixels(area);
            d.RealPress(press);
            if (!d.WaitCapture(wnd)) return;
            d.RealMoveTo(POINT{press.x + 20, press.y + 20});
            d.RealMoveTo(over);
            mbtest::WaitFor([&] { return Differences(before, ScreenPixels(area)) > 40; });
            during = ScreenPixels(area);
            movedEarly = bar->GetCurrentDock() != top;
            if (release) {
                d.RealRelease(over);
            } else {
                d.Key(WM_KEYDOWN, VK_ESCAPE, true);
                d.WaitReleased();
                after = ScreenPixels(area);
            }
        });
        EXPECT_FALSE(movedEarly);
        EXPECT_GT(Differences(before, during), 40) << "the outline shows";
        if (release) {
            EXPECT_EQ(bar->GetCurrentDock(), bottom);
        } else {
            EXPECT_EQ(Differences(before, after), 0) << "erased, nothing moved";
            EXPECT_EQ(bar->GetCurrentDock(), top);
        }
    }
}

struct TDockRefusal {
    TMbDock* Refused = nullptr;
    TMbDock* AlsoRefused = nullptr;
    int Asked = 0;
    void Ask(classlib::TObject* Sender, TMbCustomDockableWindow*, bool& Accept)
    {
        ++Asked;
        if (Sender == Refused || Sender == AlsoRefused) Accept = false;
    }
};

// At the form's bottom left corner both the bottom and the left dock are
// near; the bottom one comes first among the candidates. A dock that
// refuses the window is passed over for the next, and with every near dock
// refusing the window floats.
TEST_F(MbDockDrag, ADockRefusingTheWindowIsPassedOverForTheNextCandidate)
{
    auto* left = new TMbDock(&form);
    left->SetPosition(dpLeft);
    left->SetParent(&form);
    classlib::Application->ProcessMessages();
    struct TCase {
        const char* Name;
        bool RefuseBottom, RefuseLeft;
        TMbDock* Expected;
    };
    const TCase cases[] = {
        {"both accept", false, false, bottom},
        {"the bottom dock refuses", true, false, left},
        {"both refuse", true, true, nullptr},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TMbToolbar* moved = MakeBar(form, top, L"Moved", 2);
        classlib::Application->ProcessMessages();
        TDockRefusal refusal;
        refusal.Refused = c.RefuseBottom ? bottom : nullptr;
        refusal.AlsoRefused = c.RefuseLeft ? left : nullptr;
        bottom->OnRequestDock = TMbRequestDockEvent(&refusal, &TDockRefusal::Ask);
        left->OnRequestDock = TMbRequestDockEvent(&refusal, &TDockRefusal::Ask);
        const RECT l = ScreenRectOf(left), b = ScreenRectOf(bottom);
        const POINT corner{l.left + 2, b.top - 2};
        const POINT grab = HandleClient();
        RunDriven([&] { moved->RunDragLoop(grab); },
                  [&](TInputDriver& d) {
                      if (!d.WaitCapture()) return;
                      d.MoveTo(corner);
                      d.Release(corner);
                  });
        EXPECT_GE(refusal.Asked, 1);
        EXPECT_EQ(moved->GetCurrentDock(), c.Expected);
        EXPECT_EQ(moved->GetIsFloating(), c.Expected == nullptr);
        bottom->OnRequestDock = {};
        left->OnRequestDock = {};
        delete moved;
        classlib::Application->ProcessMessages();
    }
}

// The near-dock test leans with the grab point: grabbed at its left end a
// window docks up to about 25 pixels before the dock's left edge, grabbed
// at its right end up to 25 pixels beyond the right edge; further out it
// floats. Pressed with the real mouse on the window's frame.
TEST_F(MbDockDrag, TheSnapDistanceFollowsWhereTheWindowIsGrabbed)
{
    struct TCase {
        const char* Name;
        bool GrabRight;
        int Beyond;  // pixels outside the dock's edge on the grabbed side
        bool Docks;
    };
    const TCase cases[] = {
        {"left end, 20 before", false, 20, true},
        {"left end, 35 before", false, 35, false},
        {"right end, 20 beyond", true, 20, true},
        {"right end, 35 beyond", true, 35, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TMbToolbar* moved = MakeBar(form, top, L"Moved", 2);
        moved->SetDockPos(300);
        classlib::Application->ProcessMessages();
        const RECT w = ScreenRectOf(moved);
        const POINT press{c.GrabRight ? w.right - 1 : w.left, w.top + 6};
        RECT client{};
        ::GetClientRect(bottom->GetHandle(), &client);
        ::MapWindowPoints(bottom->GetHandle(), HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
        const POINT drop{c.GrabRight ? client.right + c.Beyond : client.left - c.Beyond, client.top};
        ServeInput([&](TInputDriver& d) {
            d.RealPress(press);
            if (!d.WaitCapture(moved->GetHandle())) return;
            d.RealMoveTo(POINT{press.x, press.y + 40});
            d.RealMoveTo(drop);
            d.RealRelease(drop);
        });
        EXPECT_EQ(moved->GetCurrentDock(), c.Docks ? bottom : nullptr);
        EXPECT_EQ(moved->GetIsFloating(), !c.Docks);
        delete moved;
        classlib::Application->ProcessMessages();
    }
}

// A double click on the drag handle floats a docked window; one on the
// floating caption docks it again where it was. Both come through the
// windows' own hit tests.
TEST_F(MbDockDrag, DoubleClicksOnTheHandleAndTheFloatingCaptionToggleDocking)
{
    auto doubleClick = [](HWND Wnd, POINT Screen) {
        const LPARAM at = MAKELPARAM(Screen.x, Screen.y);
        const LRESULT code = ::SendMessageW(Wnd, WM_NCHITTEST, 0, at);
        ::SendMessageW(Wnd, WM_NCLBUTTONDBLCLK, static_cast<WPARAM>(code), at);
        return code;
    };
    EXPECT_EQ(doubleClick(bar->GetHandle(), ScreenOf(bar, HandleClient())), kHitDragHandle);
    ASSERT_TRUE(bar->GetIsFloating());
    TMbFloatingWindowParent* tw = bar->GetToolWindow();
    ASSERT_NE(tw, nullptr);
    const RECT w = ScreenRectOf(tw);
    const RECT title = tw->TitleRect(true, true);
    EXPECT_EQ(doubleClick(tw->GetHandle(), POINT{w.left + title.left + 5, w.top + (title.top + title.bottom) / 2}),
              kHitFloatCaption);
    EXPECT_FALSE(bar->GetIsFloating());
    EXPECT_EQ(bar->GetCurrentDock(), top);
}

// Deletes its target when WM_APP arrives (a handler run from inside the
// drag loop).
class TDeleter : public classlib::TCustomControl {
public:
    using classlib::TCustomControl::TCustomControl;
    classlib::TControl* Target = nullptr;
    void WndProc(classlib::TMessage& Message) override
    {
        if (Message.Msg == WM_APP && Target) {
            delete Target;
            Target = nullptr;
            return;
        }
        classlib::TCustomControl::WndProc(Message);
    }
};

TEST_F(MbDockDrag, AWindowDeletedDuringItsOwnDragEndsTheLoopSafely)
{
    auto* deleter = new TDeleter(&form);
    deleter->SetParent(&form);
    deleter->Target = bar;
    const HWND target = deleter->GetHandle();
    const POINT grab = HandleClient();
    const POINT press = ScreenOf(bar, grab);
    RunDriven([&] { bar->RunDragLoop(grab); },
              [&](TInputDriver& d) {
                  if (!d.WaitCapture()) return;
                  d.MoveTo(POINT{press.x + 30, press.y});
                  ::PostMessageW(target, WM_APP, 0, 0);
              });
    EXPECT_EQ(deleter->Target, nullptr);
    EXPECT_TRUE(std::find(top->Members.begin(), top->Members.end(), bar) == top->Members.end());
    EXPECT_EQ(::GetCapture(), nullptr);
}

// A floating window of a fixed client size with a minimum size.
class TSizedBar : public TMbCustomDockableWindow {
public:
    using TMbCustomDockableWindow::TMbCustomDockableWindow;
    SIZE CalcArrangedSize(bool, int, bool, TMbDock*) override { return SIZE{GetWidth(), GetHeight()}; }
    SIZE QueryBaseSize() override { return SIZE{GetWidth(), GetHeight()}; }
    void QueryMinMaxSize(int& MinW, int& MinH, int&, int&) override
    {
        MinW = 60;
        MinH = 20;
    }
};

TEST(MbFloating, AFloatingWindowIsResizedAndStopsAtItsMinimum)
{
    classlib::TForm form(nullptr);
    form.SetBounds(60, 60, 400, 300);
    auto* w = new TSizedBar(&form);
    w->SetBounds(0, 0, 120, 40);
    w->SetParent(&form);
    form.Show();
    w->SetFloatOrigin(POINT{200, 200});
    w->SetIsFloating(true);
    TMbFloatingWindowParent* tw = w->GetToolWindow();
    ASSERT_NE(tw, nullptr);
    classlib::Application->ProcessMessages();
    const RECT start = ScreenRectOf(tw);
    const POINT edge{start.right - 1, (start.top + start.bottom) / 2};

    RunDriven([&] { tw->RunResizeLoop(1, edge); },
              [&](TInputDriver& d) {
                  if (!d.WaitCapture()) return;
                  d.MoveTo(POINT{edge.x + 50, edge.y});
                  d.Release(POINT{edge.x + 50, edge.y});
              });
    RECT r = ScreenRectOf(tw);
    EXPECT_EQ(r.right - r.left, start.right - start.left + 50);
    EXPECT_EQ(w->GetWidth(), 170) << "the window takes the new client size";

    // The left edge, dragged far right: the minimum holds, the right edge stays.
    const RECT before = ScreenRectOf(tw);
    const POINT left{before.left, (before.top + before.bottom) / 2};
    RunDriven([&] { tw->RunResizeLoop(0, left); },
              [&](TInputDriver& d) {
                  if (!d.WaitCapture()) return;
                  d.MoveTo(POINT{left.x + 400, left.y});
                  d.Release(POINT{left.x + 400, left.y});
              });
    r = ScreenRectOf(tw);
    EXPECT_EQ(r.right, before.right);
    EXPECT_EQ(w->GetWidth(), 60);
}

TEST(MbFloating, AWrappedToolbarSnapsToTheWidthsWhereItsLinesChange)
{
    classlib::TForm form(nullptr);
    form.SetBounds(60, 60, 400, 300);
    auto* dock = new TMbDock(&form);
    dock->SetParent(&form);
    TMbToolbar* bar = MakeBar(form, dock, L"Wrapped", 6);
    form.Show();
    bar->SetFloatOrigin(POINT{150, 150});
    bar->SetIsFloating(true);
    TMbFloatingWindowParent* tw = bar->GetToolWindow();
    ASSERT_NE(tw, nullptr);
    classlib::Application->ProcessMessages();

    std::vector<SIZE> sizes;
    bar->ListFloatingSizes(sizes);
    ASSERT_GE(sizes.size(), 3u) << "one line, then fewer entries per line";
    for (std::size_t i = 1; i < sizes.size(); ++i) {
        EXPECT_LT(sizes[i].cx, sizes[i - 1].cx);
        EXPECT_GT(sizes[i].cy, sizes[i - 1].cy);
    }
    EXPECT_EQ(bar->GetFloatingWidth(), 0) << "listing leaves the width as it was";

    const RECT start = ScreenRectOf(tw);
    const int startW = start.right - start.left;
    const POINT edge{start.right - 1, (start.top + start.bottom) / 2};
    // A few pixels: the dead zone keeps the size.
    RunDriven([&] { tw->RunResizeLoop(1, edge); },
              [&](TInputDriver& d) {
                  if (!d.WaitCapture()) return;
                  d.MoveTo(POINT{edge.x - 5, edge.y});
                  d.Release(POINT{edge.x - 5, edge.y});
              });
    RECT r = ScreenRectOf(tw);
    EXPECT_EQ(r.right - r.left, startW);

    // Far to the left: a narrower listed width, more lines.
    RunDriven([&] { tw->RunResizeLoop(1, edge); },
              [&](TInputDriver& d) {
                  if (!d.WaitCapture()) return;
                  d.MoveTo(POINT{edge.x - startW / 2, edge.y});
                  d.Release(POINT{edge.x - startW / 2, edge.y});
              });
    r = ScreenRectOf(tw);
    const int extraW = startW - static_cast<int>(sizes[0].cx);
    bool listed = false;
    for (const SIZE& s : sizes)
        if (s.cx + extraW == r.right - r.left) listed = true;
    EXPECT_TRUE(listed) << r.right - r.left;
    EXPECT_LT(r.right - r.left, startW);
    EXPECT_GT(bar->GetFloatingWidth(), 0);
    EXPECT_GT(bar->LineCount, 1);
}

TEST(MbFloating, HitAreasFollowCaptionAndResizableAndCloseGoesToTheForm)
{
    classlib::TForm form(nullptr);
    form.SetBounds(60, 60, 400, 300);
    int closeQueries = 0;
    struct TQuery {
        int* Count;
        void Ask(classlib::TObject*, bool& CanClose)
        {
            ++*Count;
            CanClose = false;
        }
    } query{&closeQueries};
    form.OnCloseQuery = classlib::TCloseQueryEvent(&query, &TQuery::Ask);
    auto* w = new TSizedBar(&form);
    w->SetBounds(0, 0, 120, 40);
    w->SetParent(&form);
    form.Show();
    w->SetIsFloating(true);
    TMbFloatingWindowParent* tw = w->GetToolWindow();
    ASSERT_NE(tw, nullptr);
    const int caption = ::GetSystemMetrics(SM_CYSMCAPTION);
    int fw = 0, fh = 0;
    w->FloatFrameSize(fw, fh);
    EXPECT_EQ(tw->FloatingHitTest(POINT{fw + 5, fh + caption / 2}), kHitFloatCaption);
    EXPECT_EQ(tw->FloatingHitTest(POINT{tw->GetWidth() - fw - 3, fh + caption / 2}), kHitCloseButton);
    EXPECT_EQ(tw->FloatingHitTest(POINT{tw->GetWidth() / 2, 0}), HTTOP);
    EXPECT_EQ(tw->FloatingHitTest(POINT{2, 2}), HTTOPLEFT) << "corner zones of the base window";
    EXPECT_EQ(tw->FloatingHitTest(POINT{0, tw->GetHeight() / 2}), HTLEFT);

    w->SetShowCaption(false);
    EXPECT_EQ(tw->FloatingHitTest(POINT{fw + 5, fh + 2}), HTNOWHERE) << "no caption area";
    w->SetResizable(false);
    EXPECT_EQ(tw->FloatingHitTest(POINT{0, tw->GetHeight() / 2}), HTNOWHERE) << "no sizing zones";

    ::SendMessageW(tw->GetHandle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(closeQueries, 1) << "closing the tool window closes the form";
    EXPECT_TRUE(::IsWindow(tw->GetHandle()));
}

}  // namespace
