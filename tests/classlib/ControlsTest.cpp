#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <tuple>
#include <vector>

#include "classlib/Controls.h"
#include "support/HostWindow.h"

using namespace classlib;
using testsupport::THostWindow;

namespace {

// The colour at a client point of a window after every pending paint ran.
COLORREF PixelAt(HWND wnd, int x, int y)
{
    ::RedrawWindow(wnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    THostWindow::Pump();
    TWindowDC dc(wnd);
    return ::GetPixel(dc.Get(), x, y);
}

RECT WindowRectInParent(HWND wnd)
{
    RECT r;
    ::GetWindowRect(wnd, &r);
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(wnd), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Counts destructions, to see who deletes what.
template <class Base>
class TCounted : public Base {
public:
    TCounted(TComponent* owner, int* deaths) : Base(owner), deaths_(deaths) {}
    ~TCounted() override
    {
        if (deaths_) ++*deaths_;
    }

private:
    int* deaths_;
};

class TFilledCustom : public TCustomControl {
public:
    using TCustomControl::TCustomControl;
    TColor Fill = clRed;
    int Paints = 0;

protected:
    void Paint() override
    {
        ++Paints;
        GetCanvas()->GetBrush()->SetColor(Fill);
        GetCanvas()->FillRect(RECT{0, 0, GetWidth(), GetHeight()});
    }
};

// Fills far beyond its own rectangle: the clipping keeps the paint inside.
class TFilledGraphic : public TGraphicControl {
public:
    using TGraphicControl::TGraphicControl;
    TColor Fill = clBlue;
    int Paints = 0;

protected:
    void Paint() override
    {
        ++Paints;
        GetCanvas()->GetBrush()->SetColor(Fill);
        GetCanvas()->FillRect(RECT{-100, -100, 1000, 1000});
    }
};

struct TMouseLog {
    struct Entry {
        TObject* Sender;
        char Kind;  // 'd'own, 'u'p, 'm'ove, 'c'lick
        int X, Y;
    };
    std::vector<Entry> Entries;
    void Down(TObject* s, TMouseButton, TShiftState, int x, int y) { Entries.push_back({s, 'd', x, y}); }
    void Up(TObject* s, TMouseButton, TShiftState, int x, int y) { Entries.push_back({s, 'u', x, y}); }
    void Move(TObject* s, TShiftState, int x, int y) { Entries.push_back({s, 'm', x, y}); }
    void Click(TObject* s) { Entries.push_back({s, 'c', 0, 0}); }
    void Watch(TControl& c)
    {
        c.OnMouseDown = TMouseEvent(this, &TMouseLog::Down);
        c.OnMouseUp = TMouseEvent(this, &TMouseLog::Up);
        c.OnMouseMove = TMouseMoveEvent(this, &TMouseLog::Move);
        c.OnClick = TNotifyEvent(this, &TMouseLog::Click);
    }
};

void ClickAt(HWND wnd, int x, int y)
{
    ::SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    ::SendMessageW(wnd, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

}  // namespace

TEST(Controls, WindowsAreMadeOnDemandWithTheirBoundsAndGoWithTheObject)
{
    THostWindow host;
    TWinControl panel(nullptr);
    panel.SetParentWindow(host.Get());
    panel.SetBounds(10, 20, 200, 150);
    auto* child = new TWinControl(nullptr);
    child->SetBounds(5, 6, 50, 40);
    child->SetParent(&panel);
    TWinControl hidden(nullptr);
    hidden.SetVisible(false);
    hidden.SetParent(&panel);

    EXPECT_FALSE(panel.HandleAllocated());
    EXPECT_FALSE(child->HandleAllocated());
    EXPECT_EQ(panel.GetControlCount(), 2);
    EXPECT_EQ(panel.GetWinControlCount(), 2);

    // Asking the child for its window makes the parent's first.
    HWND childWnd = child->GetHandle();
    ASSERT_TRUE(panel.HandleAllocated());
    EXPECT_EQ(::GetParent(childWnd), panel.GetHandle());
    EXPECT_EQ(::GetParent(panel.GetHandle()), host.Get());
    EXPECT_FALSE(hidden.HandleAllocated()) << "an invisible child gets its window only when asked";
    RECT r = WindowRectInParent(childWnd);
    EXPECT_EQ(r.left, 5);
    EXPECT_EQ(r.top, 6);
    EXPECT_EQ(r.right, 55);
    EXPECT_EQ(r.bottom, 46);
    r = WindowRectInParent(panel.GetHandle());
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(panel.GetClientWidth(), 200);
    EXPECT_TRUE(child->Showing());

    // Bounds follow the window both ways.
    child->SetBounds(7, 8, 30, 25);
    r = WindowRectInParent(childWnd);
    EXPECT_EQ(r.left, 7);
    EXPECT_EQ(r.right - r.left, 30);
    ::MoveWindow(childWnd, 11, 12, 33, 34, TRUE);
    EXPECT_EQ(child->GetLeft(), 11);
    EXPECT_EQ(child->GetTop(), 12);
    EXPECT_EQ(child->GetWidth(), 33);
    EXPECT_EQ(child->GetHeight(), 34);

    POINT screen = child->ClientToScreen(POINT{1, 2});
    POINT expected{1, 2};
    ::ClientToScreen(childWnd, &expected);
    EXPECT_EQ(screen.x, expected.x);
    EXPECT_EQ(screen.y, expected.y);
    POINT back = child->ScreenToClient(screen);
    EXPECT_EQ(back.x, 1);
    EXPECT_EQ(back.y, 2);
    // A graphic control maps through its parent's window.
    TGraphicControl graphic(nullptr);
    graphic.SetBounds(20, 30, 10, 10);
    graphic.SetParent(&panel);
    screen = graphic.ClientToScreen(POINT{1, 2});
    expected = POINT{21, 32};
    ::ClientToScreen(panel.GetHandle(), &expected);
    EXPECT_EQ(screen.x, expected.x);
    EXPECT_EQ(screen.y, expected.y);
    graphic.SetParent(nullptr);

    child->SetFocus();
    EXPECT_TRUE(child->Focused());
    EXPECT_FALSE(panel.Focused());

    // Recreating gives a new window with the same bounds; deleting the
    // object destroys its window and leaves the parent's list.
    panel.RecreateWnd();
    EXPECT_FALSE(::IsWindow(childWnd));
    childWnd = child->GetHandle();
    r = WindowRectInParent(childWnd);
    EXPECT_EQ(r.left, 11);
    EXPECT_EQ(r.bottom - r.top, 34);
    delete child;
    EXPECT_FALSE(::IsWindow(childWnd));
    EXPECT_EQ(panel.GetControlCount(), 1);
    EXPECT_EQ(panel.GetWinControlCount(), 1);

    // A window destroyed from outside leaves the object without a handle.
    HWND panelWnd = panel.GetHandle();
    ::DestroyWindow(panelWnd);
    EXPECT_FALSE(panel.HandleAllocated());
    EXPECT_NE(panel.GetHandle(), nullptr);
}

TEST(Controls, ChildWithoutParentWindowAndParentCyclesAreRefused)
{
    TWinControl orphan(nullptr);
    orphan.SetName(L"Orphan");
    try {
        orphan.GetHandle();
        FAIL() << "no exception";
    } catch (const EInvalidOperation& e) {
        EXPECT_EQ(e.Message(), L"Control 'Orphan' has no parent window");
    }
    EXPECT_FALSE(orphan.HandleAllocated());

    TWinControl inner(nullptr);
    inner.SetParent(&orphan);
    EXPECT_THROW(orphan.SetParent(&inner), EInvalidOperation);
    EXPECT_THROW(orphan.SetParent(&orphan), EInvalidOperation);
    EXPECT_EQ(orphan.GetParent(), nullptr);
}

TEST(Controls, OwnersDeleteAndParentsOnlyLetGo)
{
    THostWindow host;
    int deaths = 0;
    auto* owner = new TComponent(nullptr);
    auto* panel = new TCounted<TWinControl>(owner, &deaths);
    panel->SetParentWindow(host.Get());
    panel->SetBounds(0, 0, 100, 100);
    auto* owned = new TCounted<TWinControl>(owner, &deaths);
    owned->SetParent(panel);
    auto* ownedGraphic = new TCounted<TGraphicControl>(owner, &deaths);
    ownedGraphic->SetParent(panel);
    // Parented by the panel, owned by nobody.
    auto* free = new TCounted<TWinControl>(nullptr, &deaths);
    free->SetBounds(1, 2, 10, 10);
    free->SetParent(panel);
    HWND freeWnd = free->GetHandle();

    // Deleting the parent frees nothing it does not own: its children stay
    // alive without parent and without window.
    delete panel;
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(free->GetParent(), nullptr);
    EXPECT_EQ(owned->GetParent(), nullptr);
    EXPECT_FALSE(free->HandleAllocated());
    EXPECT_FALSE(::IsWindow(freeWnd));
    EXPECT_EQ(free->GetLeft(), 1);

    // The owner frees what it owns.
    delete owner;
    EXPECT_EQ(deaths, 3);
    delete free;
    EXPECT_EQ(deaths, 4);
}

TEST(Controls, PaintsOfWindowAndGraphicControlsReachTheScreen)
{
    THostWindow host;
    TWinControl panel(nullptr);
    panel.SetParentWindow(host.Get());
    panel.SetBounds(0, 0, 200, 120);
    panel.SetColor(clWhite);
    TFilledCustom custom(nullptr);
    custom.SetBounds(10, 10, 40, 30);
    custom.SetParent(&panel);
    TFilledGraphic graphic(nullptr);
    graphic.SetBounds(100, 20, 30, 20);
    graphic.SetParent(&panel);
    panel.HandleNeeded();
    HWND wnd = panel.GetHandle();

    EXPECT_EQ(PixelAt(wnd, 15, 15), RGB(255, 0, 0));   // custom control
    EXPECT_EQ(PixelAt(wnd, 100, 20), RGB(0, 0, 255));  // graphic control, first pixel
    EXPECT_EQ(PixelAt(wnd, 129, 39), RGB(0, 0, 255));  // and last
    // The graphic control's paint is clipped to its rectangle.
    EXPECT_EQ(PixelAt(wnd, 99, 20), RGB(255, 255, 255));
    EXPECT_EQ(PixelAt(wnd, 130, 39), RGB(255, 255, 255));
    EXPECT_EQ(PixelAt(wnd, 115, 40), RGB(255, 255, 255));
    EXPECT_EQ(PixelAt(wnd, 190, 110), RGB(255, 255, 255));  // background in Color
    EXPECT_GT(custom.Paints, 0);
    EXPECT_GT(graphic.Paints, 0);

    // Invalidate repaints with the new state; moving a graphic control
    // repaints where it was.
    graphic.Fill = clLime;
    graphic.Invalidate();
    EXPECT_EQ(PixelAt(wnd, 110, 30), RGB(0, 255, 0));
    graphic.SetBounds(150, 70, 20, 20);
    EXPECT_EQ(PixelAt(wnd, 110, 30), RGB(255, 255, 255));
    EXPECT_EQ(PixelAt(wnd, 160, 80), RGB(0, 255, 0));
    graphic.SetVisible(false);
    EXPECT_EQ(PixelAt(wnd, 160, 80), RGB(255, 255, 255));

    // Drawing outside a paint: the canvas fetches the DC itself, offset and
    // clipped to the graphic control's rectangle.
    graphic.SetVisible(true);
    EXPECT_EQ(PixelAt(wnd, 160, 80), RGB(0, 255, 0));
    TCanvas* canvas = graphic.GetCanvas();
    canvas->GetBrush()->SetColor(clYellow);
    canvas->FillRect(RECT{0, 0, 500, 500});
    static_cast<TControlCanvas*>(canvas)->FreeHandle();
    {
        TWindowDC dc(wnd);
        EXPECT_EQ(::GetPixel(dc.Get(), 150, 70), RGB(255, 255, 0));
        EXPECT_EQ(::GetPixel(dc.Get(), 171, 91), RGB(255, 255, 255));
    }

    custom.Fill = clNavy;
    custom.Repaint();
    TWindowDC dc(custom.GetHandle());
    EXPECT_EQ(::GetPixel(dc.Get(), 0, 0), RGB(0, 0, 128));
}

TEST(Controls, MouseMessagesReachTheGraphicControlUnderThePoint)
{
    THostWindow host;
    TWinControl panel(nullptr);
    panel.SetParentWindow(host.Get());
    panel.SetBounds(0, 0, 200, 100);
    TGraphicControl below(nullptr), above(nullptr), disabled(nullptr);
    below.SetBounds(10, 10, 50, 50);
    above.SetBounds(40, 40, 50, 50);  // overlaps below, inserted later: on top
    disabled.SetBounds(120, 10, 20, 20);
    disabled.SetEnabled(false);
    for (TControl* c : {static_cast<TControl*>(&below), static_cast<TControl*>(&above),
                        static_cast<TControl*>(&disabled)})
        c->SetParent(&panel);
    TMouseLog log;
    log.Watch(panel);
    log.Watch(below);
    log.Watch(above);
    log.Watch(disabled);
    HWND wnd = panel.GetHandle();

    EXPECT_EQ(panel.ControlAtPos(POINT{45, 45}), &above);
    EXPECT_EQ(panel.ControlAtPos(POINT{125, 15}), nullptr);
    EXPECT_EQ(panel.ControlAtPos(POINT{125, 15}, true), &disabled);

    struct Case {
        int x, y;
        TObject* target;
        int localX, localY;
    } cases[] = {
        {15, 12, &below, 5, 2},
        {45, 45, &above, 5, 5},   // the topmost of two
        {125, 15, &panel, 125, 15},  // disabled: the parent gets it
        {180, 90, &panel, 180, 90},
    };
    for (const Case& c : cases) {
        log.Entries.clear();
        ::SendMessageW(wnd, WM_MOUSEMOVE, 0, MAKELPARAM(c.x, c.y));
        ClickAt(wnd, c.x, c.y);
        ASSERT_EQ(log.Entries.size(), 4u) << c.x << "," << c.y;
        const char kinds[] = {'m', 'd', 'c', 'u'};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(log.Entries[i].Sender, c.target) << c.x << "," << c.y << " #" << i;
            EXPECT_EQ(log.Entries[i].Kind, kinds[i]);
        }
        EXPECT_EQ(log.Entries[1].X, c.localX);
        EXPECT_EQ(log.Entries[1].Y, c.localY);
    }

    // A pressed graphic control keeps the mouse until the button is released,
    // and a release outside it is no click.
    log.Entries.clear();
    ::SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(15, 15));
    ::SendMessageW(wnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(150, 80));
    ::SendMessageW(wnd, WM_LBUTTONUP, 0, MAKELPARAM(150, 80));
    ASSERT_EQ(log.Entries.size(), 3u);
    for (const auto& e : log.Entries) EXPECT_EQ(e.Sender, &below);
    EXPECT_EQ(log.Entries[1].Kind, 'm');
    EXPECT_EQ(log.Entries[1].X, 140);
    EXPECT_EQ(log.Entries[2].Kind, 'u');
    EXPECT_EQ(::GetCapture(), nullptr);

    // Perform reaches a control's handlers directly.
    log.Entries.clear();
    below.Perform(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
    below.Perform(WM_LBUTTONUP, 0, MAKELPARAM(1, 1));
    ASSERT_EQ(log.Entries.size(), 3u);
    EXPECT_EQ(log.Entries[1].Kind, 'c');
}

namespace {

// Deletes the clicked control from its own click handler.
struct TSelfDeleter {
    TControl* Victim = nullptr;
    int Clicks = 0;
    void Click(TObject* Sender)
    {
        ++Clicks;
        ASSERT_EQ(Sender, Victim);
        delete Victim;
        Victim = nullptr;
    }
    void ClickParent(TObject*)
    {
        ++Clicks;
        delete Victim;
        Victim = nullptr;
    }
};

}  // namespace

TEST(Controls, DeletingAControlFromItsOwnClickIsSafe)
{
    THostWindow host;
    TWinControl panel(nullptr);
    panel.SetParentWindow(host.Get());
    panel.SetBounds(0, 0, 200, 100);
    TSelfDeleter deleter;

    auto* graphic = new TGraphicControl(nullptr);
    graphic->SetBounds(10, 10, 30, 30);
    graphic->SetParent(&panel);
    graphic->OnClick = TNotifyEvent(&deleter, &TSelfDeleter::Click);
    deleter.Victim = graphic;
    ClickAt(panel.GetHandle(), 20, 20);
    EXPECT_EQ(deleter.Clicks, 1);
    EXPECT_EQ(panel.GetControlCount(), 0);
    EXPECT_EQ(::GetCapture(), nullptr);
    // The parent still works: the next click is its own.
    TMouseLog log;
    log.Watch(panel);
    ClickAt(panel.GetHandle(), 20, 20);
    EXPECT_EQ(log.Entries.size(), 3u);

    auto* window = new TCustomControl(nullptr);
    window->SetBounds(50, 10, 30, 30);
    window->SetParent(&panel);
    window->OnClick = TNotifyEvent(&deleter, &TSelfDeleter::Click);
    deleter.Victim = window;
    HWND wnd = window->GetHandle();
    ClickAt(wnd, 5, 5);
    EXPECT_EQ(deleter.Clicks, 2);
    EXPECT_FALSE(::IsWindow(wnd));
    EXPECT_EQ(panel.GetControlCount(), 0);

    // A child's click may delete the parent whose window delivered it.
    auto* doomed = new TWinControl(nullptr);
    doomed->SetParentWindow(host.Get());
    doomed->SetBounds(0, 0, 50, 50);
    TGraphicControl button(nullptr);
    button.SetBounds(0, 0, 20, 20);
    button.SetParent(doomed);
    deleter.Victim = doomed;
    button.OnClick = TNotifyEvent(&deleter, &TSelfDeleter::ClickParent);
    TMouseLog log2;
    button.OnMouseUp = TMouseEvent(&log2, &TMouseLog::Up);
    wnd = doomed->GetHandle();
    ClickAt(wnd, 5, 5);
    EXPECT_EQ(deleter.Clicks, 3);
    EXPECT_FALSE(::IsWindow(wnd));
    EXPECT_EQ(button.GetParent(), nullptr);
    EXPECT_EQ(log2.Entries.size(), 1u) << "the surviving child finishes its message";
    THostWindow::Pump();
}

TEST(Controls, AlignPlacesChildrenInTheParentsClientArea)
{
    // Children in this order, with their own size (the aligned side uses it).
    struct TChild {
        TAlign Align;
        int W, H;
        RECT At200x100;  // placement in a 200 x 100 client area
        RECT At300x150;  // after the parent grew to 300 x 150
    };
    const TChild table[] = {
        {alLeft, 30, 5, {0, 25, 30, 80}, {0, 25, 30, 130}},
        {alTop, 7, 10, {0, 0, 200, 10}, {0, 0, 300, 10}},
        {alClient, 1, 1, {30, 25, 160, 80}, {30, 25, 260, 130}},
        {alBottom, 9, 20, {0, 80, 200, 100}, {0, 130, 300, 150}},
        {alRight, 40, 3, {160, 25, 200, 80}, {260, 25, 300, 130}},
        {alTop, 7, 15, {0, 10, 200, 25}, {0, 10, 300, 25}},
        {alNone, 11, 12, {5, 5, 16, 17}, {5, 5, 16, 17}},
    };
    for (bool windowed : {false, true}) {
        THostWindow host;
        TWinControl parent(nullptr);
        parent.SetParentWindow(host.Get());
        parent.SetBounds(0, 0, 200, 100);
        std::vector<TControl*> children;
        for (const TChild& c : table) {
            TControl* child = windowed ? static_cast<TControl*>(new TWinControl(&parent))
                                       : static_cast<TControl*>(new TGraphicControl(&parent));
            child->SetBounds(5, 5, c.W, c.H);
            child->SetAlign(c.Align);
            child->SetParent(&parent);
            children.push_back(child);
        }
        if (windowed) parent.HandleNeeded();
        auto check = [&](bool grown) {
            for (std::size_t i = 0; i < children.size(); ++i) {
                RECT want = grown ? table[i].At300x150 : table[i].At200x100;
                RECT got = children[i]->GetBoundsRect();
                EXPECT_TRUE(::EqualRect(&got, &want))
                    << "child " << i << (windowed ? " windowed" : " graphic") << (grown ? " grown" : "") << ": "
                    << got.left << "," << got.top << "," << got.right << "," << got.bottom;
                if (windowed) {
                    RECT real = WindowRectInParent(static_cast<TWinControl*>(children[i])->GetHandle());
                    EXPECT_TRUE(::EqualRect(&real, &want)) << "window of child " << i;
                }
            }
        };
        check(false);
        parent.SetBounds(0, 0, 300, 150);
        check(true);
        // A hidden aligned child gives its room to the others.
        children[1]->SetVisible(false);
        RECT client = children[2]->GetBoundsRect();
        EXPECT_EQ(client.top, 15);
        children[1]->SetVisible(true);
        client = children[2]->GetBoundsRect();
        EXPECT_EQ(client.top, 25);
    }
}

namespace {

// Records what reaches the default handling of its window.
class TKeyTarget : public TWinControl {
public:
    using TWinControl::TWinControl;
    std::vector<std::pair<UINT, WPARAM>> Defaults;
    void DefaultHandler(TMessage& Message) override
    {
        if (Message.Msg == WM_KEYDOWN || Message.Msg == WM_KEYUP || Message.Msg == WM_CHAR)
            Defaults.emplace_back(Message.Msg, Message.WParam);
        TWinControl::DefaultHandler(Message);
    }
};

struct TEventLog {
    std::vector<std::wstring> Entries;
    TObject* Names[4] = {};
    std::wstring Name(TObject* s) const
    {
        for (int i = 0; i < 4; ++i)
            if (Names[i] == s) return std::wstring(1, static_cast<wchar_t>(L'A' + i));
        return L"?";
    }
    void Enter(TObject* s) { Entries.push_back(Name(s) + L" enter"); }
    void Leave(TObject* s) { Entries.push_back(Name(s) + L" leave"); }
    void Resized(TObject* s) { Entries.push_back(Name(s) + L" resize"); }
    void FocusIn(TObject* s) { Entries.push_back(Name(s) + L" focus"); }
    void FocusOut(TObject* s) { Entries.push_back(Name(s) + L" unfocus"); }
};

}  // namespace

TEST(Controls, KeysCanBeConsumedOrReplacedBeforeTheDefaultHandling)
{
    THostWindow host;
    TKeyTarget target(nullptr);
    target.SetParentWindow(host.Get());
    target.SetBounds(0, 0, 50, 20);
    std::vector<WORD> downs, ups;
    target.OnKeyDown = TKeyEvent::FromFunction(
        [](void* c, TObject*, WORD& key, TShiftState) {
            static_cast<std::vector<WORD>*>(c)->push_back(key);
            if (key == VK_ESCAPE) key = 0;
        },
        &downs);
    target.OnKeyUp = TKeyEvent::FromFunction(
        [](void* c, TObject*, WORD& key, TShiftState) { static_cast<std::vector<WORD>*>(c)->push_back(key); }, &ups);
    target.OnKeyPress = TKeyPressEvent::FromFunction(
        [](void*, TObject*, wchar_t& key) {
            if (key == L'x') key = 0;
            if (key == L'a') key = L'A';
        },
        nullptr);
    HWND wnd = target.GetHandle();
    ::SendMessageW(wnd, WM_KEYDOWN, VK_ESCAPE, 0);
    ::SendMessageW(wnd, WM_KEYDOWN, 'Q', 0);
    ::SendMessageW(wnd, WM_KEYUP, 'Q', 0);
    ::SendMessageW(wnd, WM_CHAR, L'x', 0);
    ::SendMessageW(wnd, WM_CHAR, L'a', 0);
    ::SendMessageW(wnd, WM_CHAR, L'z', 0);
    EXPECT_EQ(downs, (std::vector<WORD>{VK_ESCAPE, 'Q'}));
    EXPECT_EQ(ups, (std::vector<WORD>{'Q'}));
    const std::vector<std::pair<UINT, WPARAM>> expected{
        {WM_KEYDOWN, 'Q'}, {WM_KEYUP, 'Q'}, {WM_CHAR, L'A'}, {WM_CHAR, L'z'}};
    EXPECT_EQ(target.Defaults, expected);
}

TEST(Controls, MouseEnterAndLeaveFollowTheMouseOverWindowAndGraphicChildren)
{
    THostWindow host;
    TWinControl panel(nullptr);
    panel.SetParentWindow(host.Get());
    panel.SetBounds(0, 0, 100, 100);
    auto* a = new TGraphicControl(&panel);
    a->SetParent(&panel);
    a->SetBounds(10, 10, 20, 20);
    auto* b = new TGraphicControl(&panel);
    b->SetParent(&panel);
    b->SetBounds(50, 10, 20, 20);
    TEventLog log;
    log.Names[0] = &panel;
    log.Names[1] = a;
    log.Names[2] = b;
    for (TControl* c : {static_cast<TControl*>(&panel), static_cast<TControl*>(a), static_cast<TControl*>(b)}) {
        c->OnMouseEnter = TNotifyEvent(&log, &TEventLog::Enter);
        c->OnMouseLeave = TNotifyEvent(&log, &TEventLog::Leave);
    }
    HWND wnd = panel.GetHandle();
    auto move = [&](int x, int y) { ::SendMessageW(wnd, WM_MOUSEMOVE, 0, MAKELPARAM(x, y)); };
    move(1, 1);    // the panel
    move(15, 15);  // over a
    move(16, 16);  // still a: nothing new
    move(55, 15);  // from a to b
    move(90, 90);  // off b
    move(55, 15);  // back on b
    ::SendMessageW(wnd, WM_MOUSELEAVE, 0, 0);
    const std::vector<std::wstring> expected{L"A enter", L"B enter", L"B leave", L"C enter",
                                             L"C leave", L"C enter", L"C leave", L"A leave"};
    EXPECT_EQ(log.Entries, expected);
}

TEST(Controls, ResizeEnabledFocusAndTabOrder)
{
    THostWindow host;
    TWinControl panel(nullptr);
    panel.SetParentWindow(host.Get());
    panel.SetBounds(0, 0, 200, 100);
    TEventLog log;
    log.Names[0] = &panel;
    panel.OnResize = TNotifyEvent(&log, &TEventLog::Resized);
    panel.SetBounds(0, 0, 150, 100);
    panel.SetBounds(0, 0, 150, 100);  // no change, no event
    ::SetWindowPos(panel.GetHandle(), nullptr, 0, 0, 120, 90, SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(log.Entries, (std::vector<std::wstring>{L"A resize", L"A resize"}));
    EXPECT_EQ(panel.GetWidth(), 120);
    log.Entries.clear();

    TWinControl* kids[3];
    for (int i = 0; i < 3; ++i) {
        kids[i] = new TWinControl(&panel);
        kids[i]->SetParent(&panel);
        kids[i]->SetBounds(i * 30, 0, 20, 20);
        kids[i]->SetTabStop(true);
        log.Names[i + 1] = kids[i];
        kids[i]->OnEnter = TNotifyEvent(&log, &TEventLog::FocusIn);
        kids[i]->OnExit = TNotifyEvent(&log, &TEventLog::FocusOut);
    }
    // Tab order: moving the last first renumbers the others; out of range
    // goes last.
    kids[2]->SetTabOrder(0);
    EXPECT_EQ(kids[2]->GetTabOrder(), 0);
    EXPECT_EQ(kids[0]->GetTabOrder(), 1);
    EXPECT_EQ(kids[1]->GetTabOrder(), 2);
    kids[2]->SetTabOrder(99);
    EXPECT_EQ(kids[2]->GetTabOrder(), 2);
    EXPECT_EQ(panel.GetTabOrder(), -1);

    // Enabled reaches the window; disabled or TabStop-less controls are
    // skipped by SelectNext, which wraps around.
    kids[1]->SetEnabled(false);
    EXPECT_FALSE(::IsWindowEnabled(kids[1]->GetHandle()));
    EXPECT_FALSE(kids[1]->CanFocus());
    EXPECT_THROW(kids[1]->SetFocus(), EInvalidOperation);
    EXPECT_EQ(panel.FindNextControl(kids[0], true, true), kids[2]);
    EXPECT_EQ(panel.FindNextControl(kids[2], true, true), kids[0]);
    EXPECT_EQ(panel.FindNextControl(kids[0], false, true), kids[2]);
    kids[2]->SetTabStop(false);
    EXPECT_EQ(panel.FindNextControl(kids[0], true, true), nullptr);
    EXPECT_EQ(panel.FindNextControl(kids[0], true, false), kids[2]);
    kids[1]->SetEnabled(true);
    EXPECT_TRUE(::IsWindowEnabled(kids[1]->GetHandle()));

    kids[0]->SetFocus();
    EXPECT_TRUE(kids[0]->Focused());
    EXPECT_TRUE(panel.SelectNext(kids[0], true, true));
    EXPECT_TRUE(kids[1]->Focused());
    // The Tab key does the same (the control without TabStop is skipped).
    ::SendMessageW(kids[1]->GetHandle(), WM_KEYDOWN, VK_TAB, 0);
    EXPECT_TRUE(kids[0]->Focused());
    EXPECT_EQ(log.Entries,
              (std::vector<std::wstring>{L"B focus", L"B unfocus", L"C focus", L"C unfocus", L"B focus"}));
}

TEST(Controls, AnchoredChildrenKeepTheirDistancesWhenTheParentResizes)
{
    // A 40 x 20 child at (20, 10) in a 200 x 100 client area; the parent
    // grows to 300 x 150.
    struct TCase {
        TAnchors Anchors;
        TAlign Align;
        RECT Grown;
    };
    const TCase table[] = {
        {akLeft | akTop, alNone, {20, 10, 60, 30}},
        {akRight | akTop, alNone, {120, 10, 160, 30}},
        {akLeft | akRight | akTop, alNone, {20, 10, 160, 30}},
        {akLeft | akBottom, alNone, {20, 60, 60, 80}},
        {akLeft | akTop | akBottom, alNone, {20, 10, 60, 80}},
        {akLeft | akTop | akRight | akBottom, alNone, {20, 10, 160, 80}},
        // Neither side: the centre (40, 20) keeps its proportion (60, 30).
        {0, alNone, {40, 20, 80, 40}},
        // Align wins over the anchors.
        {akLeft | akRight, alLeft, {0, 0, 40, 150}},
    };
    for (bool windowed : {false, true}) {
        for (const TCase& c : table) {
            THostWindow host;
            TWinControl parent(nullptr);
            parent.SetParentWindow(host.Get());
            parent.SetBounds(0, 0, 200, 100);
            TControl* child = windowed ? static_cast<TControl*>(new TWinControl(&parent))
                                       : static_cast<TControl*>(new TGraphicControl(&parent));
            child->SetBounds(20, 10, 40, 20);
            child->SetParent(&parent);
            child->SetAnchors(c.Anchors);
            child->SetAlign(c.Align);
            if (windowed) parent.HandleNeeded();
            parent.SetBounds(0, 0, 300, 150);
            RECT got = child->GetBoundsRect();
            EXPECT_TRUE(::EqualRect(&got, &c.Grown))
                << "anchors " << c.Anchors << " align " << c.Align << (windowed ? " windowed" : " graphic") << ": "
                << got.left << "," << got.top << "," << got.right << "," << got.bottom;
            if (windowed) {
                RECT real = WindowRectInParent(static_cast<TWinControl*>(child)->GetHandle());
                EXPECT_TRUE(::EqualRect(&real, &c.Grown)) << "window of anchors " << c.Anchors;
            }
            // Back to the first size: back to the first place.
            parent.SetBounds(0, 0, 200, 100);
            got = child->GetBoundsRect();
            if (c.Align == alNone) {
                const RECT first{20, 10, 60, 30};
                EXPECT_TRUE(::EqualRect(&got, &first)) << "anchors " << c.Anchors << " shrunk back";
            }
        }
    }
}

TEST(Controls, AnchorDistancesAreRetakenWhenTheChildIsPlacedAgain)
{
    TWinControl parent(nullptr);
    parent.SetBounds(0, 0, 200, 100);
    TWinControl child(nullptr);
    child.SetAnchors(akRight | akBottom);
    child.SetBounds(150, 70, 30, 20);  // no parent yet: nothing to keep
    child.SetParent(&parent);          // 20 and 10 from the right and bottom
    parent.SetBounds(0, 0, 260, 130);
    EXPECT_EQ(child.GetLeft(), 210);
    EXPECT_EQ(child.GetTop(), 100);
    child.SetBounds(100, 20, 30, 20);  // now 130 and 90 from them
    parent.SetBounds(0, 0, 300, 200);
    EXPECT_EQ(child.GetLeft(), 140);
    EXPECT_EQ(child.GetTop(), 90);
    // A parent without a size: the distances are taken once it has one.
    TWinControl empty(nullptr);
    TWinControl late(nullptr);
    late.SetAnchors(akRight);
    late.SetBounds(5, 5, 10, 10);
    late.SetParent(&empty);
    empty.SetBounds(0, 0, 100, 50);
    EXPECT_EQ(late.GetLeft(), 5);
    empty.SetBounds(0, 0, 150, 50);
    EXPECT_EQ(late.GetLeft(), 55);
    child.SetParent(nullptr);
    late.SetParent(nullptr);
}

namespace {

// Logs the control-change notices it receives.
class TNoticeLog : public TWinControl {
public:
    using TWinControl::TWinControl;
    // The child by address (it may be gone when the log is read).
    std::vector<std::tuple<UINT, std::uintptr_t, LPARAM>> Notices;
    void WndProc(TMessage& Message) override
    {
        if (Message.Msg == CM_CONTROLCHANGE || Message.Msg == CM_CONTROLLISTCHANGE) {
            auto* c = reinterpret_cast<TControl*>(Message.WParam);
            // Whether the child is in the list at the time of the notice.
            const bool listed = c->GetParent() != nullptr;
            Notices.emplace_back(Message.Msg, Message.WParam, Message.LParam * 2 + (listed ? 1 : 0));
        }
        TWinControl::WndProc(Message);
    }
};

}  // namespace

TEST(Controls, ParentsHearOfChildrenInsertedAndRemoved)
{
    using TNotice = std::tuple<UINT, std::uintptr_t, LPARAM>;
    auto id = [](TControl* c) { return reinterpret_cast<std::uintptr_t>(c); };
    TNoticeLog outer(nullptr);
    auto* inner = new TNoticeLog(&outer);
    inner->SetParent(&outer);
    outer.Notices.clear();
    auto* child = new TGraphicControl(nullptr);
    const std::uintptr_t childId = id(child);
    child->SetParent(inner);
    // LParam * 2 + whether the child was listed then.
    EXPECT_EQ(inner->Notices, (std::vector<TNotice>{{CM_CONTROLLISTCHANGE, childId, 2}, {CM_CONTROLCHANGE, childId, 3}}));
    // The list change goes on up to the outer parent.
    EXPECT_EQ(outer.Notices, (std::vector<TNotice>{{CM_CONTROLLISTCHANGE, childId, 2}}));
    inner->Notices.clear();
    outer.Notices.clear();
    delete child;  // removal on deletion: the same notices
    EXPECT_EQ(inner->Notices, (std::vector<TNotice>{{CM_CONTROLCHANGE, childId, 1}, {CM_CONTROLLISTCHANGE, childId, 0}}));
    EXPECT_EQ(outer.Notices, (std::vector<TNotice>{{CM_CONTROLLISTCHANGE, childId, 0}}));
    // A parent on its way out hears nothing of its children's going.
    auto* orphan = new TGraphicControl(nullptr);
    orphan->SetParent(inner);
    outer.Notices.clear();
    const std::uintptr_t innerId = id(inner);
    delete inner;
    EXPECT_EQ(orphan->GetParent(), nullptr);
    EXPECT_EQ(outer.Notices, (std::vector<TNotice>{{CM_CONTROLCHANGE, innerId, 1}, {CM_CONTROLLISTCHANGE, innerId, 0}}));
    delete orphan;
}

namespace {

class TColorLog : public TWinControl {
public:
    using TWinControl::TWinControl;
    int Changes = 0;

protected:
    void ColorChanged() override
    {
        ++Changes;
        TWinControl::ColorChanged();
    }
};

}  // namespace

TEST(Controls, AColourChangeIsAnnouncedOnceAndRepaints)
{
    THostWindow host;
    TColorLog panel(nullptr);
    panel.SetParentWindow(host.Get());
    panel.SetBounds(0, 0, 60, 40);
    panel.SetColor(clWhite);
    panel.HandleNeeded();
    EXPECT_EQ(PixelAt(panel.GetHandle(), 30, 20), RGB(255, 255, 255));
    const int before = panel.Changes;
    panel.SetColor(clWhite);
    EXPECT_EQ(panel.Changes, before) << "the same colour is no change";
    panel.SetColor(clRed);
    EXPECT_EQ(panel.Changes, before + 1);
    EXPECT_EQ(PixelAt(panel.GetHandle(), 30, 20), RGB(255, 0, 0));
}

namespace {

// Erases in its Color and paints its left half blue; notes the kinds of DC
// it erases and paints on and what the screen shows in the left half as
// the paint begins.
class TSampledCustom : public TCustomControl {
public:
    using TCustomControl::TCustomControl;
    std::vector<DWORD> EraseDCs;
    DWORD PaintDC = 0;
    COLORREF ScreenAtPaint = CLR_INVALID;

protected:
    void EraseBackground(TMessage& Message) override
    {
        EraseDCs.push_back(::GetObjectType(reinterpret_cast<HDC>(Message.WParam)));
        TCustomControl::EraseBackground(Message);
    }
    void Paint() override
    {
        PaintDC = ::GetObjectType(GetCanvas()->GetHandle());
        TWindowDC screen(GetHandle());
        ScreenAtPaint = ::GetPixel(screen.Get(), 5, 5);
        GetCanvas()->GetBrush()->SetColor(clBlue);
        GetCanvas()->FillRect(RECT{0, 0, GetWidth() / 2, GetHeight()});
    }
};

std::vector<COLORREF> ClientPixels(HWND wnd)
{
    ::RedrawWindow(wnd, nullptr, nullptr, RDW_UPDATENOW);
    RECT r{};
    ::GetClientRect(wnd, &r);
    TWindowDC dc(wnd);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < r.bottom; ++y)
        for (int x = 0; x < r.right; ++x) pixels.push_back(::GetPixel(dc.Get(), x, y));
    return pixels;
}

}  // namespace

// A double-buffered window erases and paints into a bitmap and shows the
// same picture, never its background alone: in the middle of the paint the
// screen still shows the last picture. A part of the window is painted
// where it belongs.
TEST(Controls, DoubleBufferedPaintsReachTheScreenWhole)
{
    THostWindow host;
    TSampledCustom control(nullptr);
    control.SetParentWindow(host.Get());
    control.SetBounds(0, 0, 60, 40);
    control.SetColor(clRed);
    EXPECT_FALSE(control.GetDoubleBuffered());
    control.HandleNeeded();
    HWND wnd = control.GetHandle();

    const std::vector<COLORREF> direct = ClientPixels(wnd);
    EXPECT_EQ(direct[5 * 60 + 5], RGB(0, 0, 255));
    EXPECT_EQ(direct[5 * 60 + 50], RGB(255, 0, 0));
    EXPECT_EQ(control.PaintDC, static_cast<DWORD>(OBJ_DC));
    EXPECT_EQ(control.ScreenAtPaint, RGB(255, 0, 0));  // the background alone showed

    control.EraseDCs.clear();
    control.SetDoubleBuffered(true);
    EXPECT_TRUE(ClientPixels(wnd) == direct);
    EXPECT_EQ(control.PaintDC, static_cast<DWORD>(OBJ_MEMDC));
    EXPECT_EQ(control.EraseDCs, std::vector<DWORD>{OBJ_MEMDC});
    EXPECT_EQ(control.ScreenAtPaint, RGB(0, 0, 255));

    control.SetColor(clLime);  // only a part is painted again:
    RECT part{40, 10, 60, 40};
    ::ValidateRect(wnd, nullptr);
    ::InvalidateRect(wnd, &part, TRUE);
    const std::vector<COLORREF> partly = ClientPixels(wnd);
    EXPECT_EQ(partly[20 * 60 + 50], RGB(0, 255, 0));
    EXPECT_EQ(partly[5 * 60 + 50], RGB(255, 0, 0));   // outside the part
    EXPECT_EQ(partly[20 * 60 + 5], RGB(0, 0, 255));
}
