// The popup menu's loop driven by input messages queued from a second
// thread: keys and the pointer move through entries,
// a submenu opens, a chosen entry's click runs once after the menu closed,
// Esc and a press outside cancel.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Forms.h"
#include "classlib/StdCtrls.h"
#include "controls/toolbar/MbItem.h"
#include "tests/controls/toolbar/MbInputDriver.h"

namespace {

using namespace toolbar;

struct TClicks {
    int Alpha = 0, Deep = 0, Popups = 0;
    void OnAlpha(classlib::TObject*) { ++Alpha; }
    void OnDeep(classlib::TObject*) { ++Deep; }
    void OnPopup(classlib::TObject*, bool) { ++Popups; }
};

HWND VisiblePopup(int Nth)
{
    HWND found = nullptr;
    int seen = 0;
    for (HWND w = ::FindWindowExW(nullptr, nullptr, L"VelmoMbPopupWindow", nullptr); w;
         w = ::FindWindowExW(nullptr, w, L"VelmoMbPopupWindow", nullptr))
        if (::IsWindowVisible(w) && seen++ == Nth) found = w;
    return found;
}

// Polls for up to ten seconds (the suite runs programs side by side).
bool WaitFor(const std::function<bool()>& Done)
{
    for (int i = 0; i < 1000; ++i) {
        if (Done()) return true;
        ::Sleep(10);
    }
    return false;
}

HWND WaitPopup(int Nth)
{
    HWND w = nullptr;
    WaitFor([&] { return (w = VisiblePopup(Nth)) != nullptr; });
    return w;
}

// Input goes to the first-level popup, which holds the capture, as the
// messages the system would queue; the shared cursor is left alone so that
// other programs on the display do not disturb the loop (or it them).
HWND gCapture = nullptr;
POINT gPointer{};

void Post(UINT Msg, WPARAM W, POINT Screen)
{
    POINT c = Screen;
    ::ScreenToClient(gCapture, &c);
    ::PostMessageW(gCapture, Msg, W, MAKELPARAM(static_cast<short>(c.x), static_cast<short>(c.y)));
    ::Sleep(40);
}

void Key(WORD Vk)
{
    ::PostMessageW(gCapture, WM_KEYDOWN, Vk, 1);
    ::PostMessageW(gCapture, WM_KEYUP, Vk, 0xC0000001);
    ::Sleep(40);
}

// The screen point of entry row Row (20-pixel rows) of a popup window.
POINT RowPoint(HWND Popup, int Row)
{
    POINT p{30, Row * 20 + 10};
    ::ClientToScreen(Popup, &p);
    return p;
}

void Char(wchar_t C)
{
    ::PostMessageW(gCapture, WM_CHAR, C, 1);
    ::Sleep(40);
}

void MouseTo(POINT P)
{
    gPointer = P;
    Post(WM_MOUSEMOVE, 0, P);
}

void Click()
{
    Post(WM_LBUTTONDOWN, MK_LBUTTON, gPointer);
    Post(WM_LBUTTONUP, 0, gPointer);
}

void SaveScreen(const char* Path)
{
    const int w = ::GetSystemMetrics(SM_CXSCREEN), h = ::GetSystemMetrics(SM_CYSCREEN);
    classlib::TBitmap bmp;
    bmp.SetPixelFormat(classlib::pf24bit);
    bmp.SetSize(w, h);
    HDC screen = ::GetDC(nullptr);
    ::BitBlt(bmp.GetCanvas()->GetHandle(), 0, 0, w, h, screen, 0, 0, SRCCOPY);
    ::ReleaseDC(nullptr, screen);
    std::string p(Path);
    bmp.SaveToFile(std::wstring(p.begin(), p.end()));
}

class MbMenuLoop : public ::testing::Test {
protected:
    void SetUp() override
    {
        form.SetBorderStyle(classlib::bsNone);
        form.SetBounds(0, 0, 400, 300);
        form.Show();
        ::SetForegroundWindow(form.GetHandle());
        ::SetActiveWindow(form.GetHandle());
        auto add = [&](TMbCustomItem* Parent, TMbCustomItem* Item, const wchar_t* Caption) {
            Item->SetCaption(Caption);
            Parent->Add(Item);
            return Item;
        };
        TMbCustomItem* root = menu->GetItems();
        alpha = add(root, new TMbItem(&form), L"&Alpha\tCtrl+A");
        more = add(root, new TMbSubmenuItem(&form), L"&More");
        add(root, new TMbSeparatorItem(&form), L"");
        add(root, new TMbItem(&form), L"Disabled")->SetEnabled(false);
        deep = add(more, new TMbItem(&form), L"&Deep");
        add(more, new TMbItem(&form), L"Other");
        alpha->OnClick = classlib::TNotifyEvent(&clicks, &TClicks::OnAlpha);
        deep->OnClick = classlib::TNotifyEvent(&clicks, &TClicks::OnDeep);
        more->OnPopup = TMbPopupEvent(&clicks, &TClicks::OnPopup);
    }
    // Runs the menu at (100, 100) while Drive sends input from another thread.
    // A driver that gives up early (a wait that timed out) would leave the
    // menu open for ever: after three seconds more the menu is cancelled,
    // so such a test fails instead of hanging the suite.
    TMbCustomItem* Run(const std::function<void()>& Drive, POINT At = POINT{100, 100})
    {
        std::atomic<bool> ended{false};
        std::thread driver([&] {
            gCapture = WaitPopup(0);
            if (gCapture) Drive();
            for (int i = 0; i < 400 && !ended; ++i) {
                if (i >= 60 && i % 10 == 0) {
                    if (HWND top = VisiblePopup(0)) {
                        ::PostMessageW(top, WM_KEYDOWN, VK_ESCAPE, 1);
                        ::PostMessageW(top, WM_CANCELMODE, 0, 0);
                    }
                }
                ::Sleep(50);
            }
        });
        TMbCustomItem* chosen = menu->PopupReturningItem(At.x, At.y, false);
        ended = true;
        driver.join();
        return chosen;
    }

    classlib::TForm form{nullptr};
    TMbPopupMenu* menu = new TMbPopupMenu(&form);
    TMbCustomItem *alpha = nullptr, *more = nullptr, *deep = nullptr;
    TClicks clicks;
};

TEST_F(MbMenuLoop, KeysOpenTheSubmenuAndTheChosenClickRunsOnceAfterClosing)
{
    TMbCustomItem* chosen = Run([] {
        Key(VK_DOWN);  // Alpha
        Key(VK_DOWN);  // More
        Key(VK_UP);
        Key(VK_DOWN);
        Key(VK_RIGHT);  // opens More, Deep selected
        if (!WaitPopup(1)) return;
        Key(VK_RETURN);
    });
    EXPECT_EQ(chosen, deep);
    EXPECT_EQ(clicks.Popups, 1);
    EXPECT_EQ(VisiblePopup(0), nullptr) << "the menu is closed";
    EXPECT_EQ(clicks.Deep, 0) << "the click waits for the message loop";
    classlib::Application->ProcessMessages();
    classlib::Application->ProcessMessages();
    EXPECT_EQ(clicks.Deep, 1);
    EXPECT_EQ(clicks.Alpha, 0);
}

TEST_F(MbMenuLoop, EscClosesOneLevelThenTheMenu)
{
    bool subClosed = false;
    TMbCustomItem* chosen = Run([&] {
        Key(VK_DOWN);
        Key(VK_DOWN);
        Key(VK_RIGHT);
        if (!WaitPopup(1)) return;
        Key(VK_ESCAPE);  // only the submenu closes
        subClosed = WaitFor([] { return VisiblePopup(1) == nullptr; }) && VisiblePopup(0) != nullptr;
        Key(VK_ESCAPE);
    });
    EXPECT_TRUE(subClosed);
    EXPECT_EQ(chosen, nullptr);
    classlib::Application->ProcessMessages();
    EXPECT_EQ(clicks.Deep + clicks.Alpha, 0);
}

// What a screen reader hears: the focus events of the entries the user
// moves through, raised for the popup window with the entry's child number.
struct TFocusEvent {
    HWND Window;
    LONG Child;
    bool operator==(const TFocusEvent&) const = default;
};
std::vector<TFocusEvent> gFocusEvents;

void CALLBACK RecordFocus(HWINEVENTHOOK, DWORD Event, HWND Window, LONG Object, LONG Child, DWORD, DWORD)
{
    if (Event == EVENT_OBJECT_FOCUS && Object == OBJID_CLIENT) gFocusEvents.push_back({Window, Child});
}

TEST_F(MbMenuLoop, MovingThroughTheMenuRaisesFocusEventsForAScreenReader)
{
    gFocusEvents.clear();
    HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr, &RecordFocus,
                                           ::GetCurrentProcessId(), ::GetCurrentThreadId(), WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    HWND top = nullptr, sub = nullptr;
    std::vector<TFocusEvent> beforeSub, inSub, back;
    Run([&] {
        top = VisiblePopup(0);
        Key(VK_DOWN);  // Alpha
        Key(VK_DOWN);  // More
        WaitFor([] { return gFocusEvents.size() >= 2; });
        beforeSub = gFocusEvents;
        Key(VK_RIGHT);  // opens More with Deep selected
        if (!WaitPopup(1)) return;
        sub = VisiblePopup(0) == top ? VisiblePopup(1) : VisiblePopup(0);
        WaitFor([&] { return gFocusEvents.size() >= beforeSub.size() + 1; });
        inSub = gFocusEvents;
        Key(VK_LEFT);  // back to More
        WaitFor([&] { return VisiblePopup(1) == nullptr && gFocusEvents.size() > inSub.size(); });
        back = gFocusEvents;
        Key(VK_ESCAPE);
    });
    ::UnhookWinEvent(hook);
    ASSERT_NE(top, nullptr);
    ASSERT_NE(sub, nullptr);
    ASSERT_GE(beforeSub.size(), 2u);
    EXPECT_EQ(beforeSub.back(), (TFocusEvent{top, 2})) << "More is the second entry";
    EXPECT_NE(std::find(beforeSub.begin(), beforeSub.end(), TFocusEvent{top, 1}), beforeSub.end()) << "Alpha";
    ASSERT_GT(inSub.size(), beforeSub.size());
    EXPECT_EQ(inSub.back(), (TFocusEvent{sub, 1})) << "Deep, first in the submenu";
    ASSERT_GT(back.size(), inSub.size());
    EXPECT_EQ(back.back(), (TFocusEvent{top, 2})) << "the focus returns to More";
}

TEST_F(MbMenuLoop, PointerHoversIntoTheSubmenuAndClicks)
{
    const char* shot = std::getenv("VELMO_MENU_SCREENSHOT");
    TMbCustomItem* chosen = Run([&] {
        HWND top = VisiblePopup(0);
        MouseTo(RowPoint(top, 0));
        MouseTo(RowPoint(top, 1));  // hovering More opens it
        if (!WaitPopup(1)) return;
        // Newer popups come first in the window order.
        HWND sub = VisiblePopup(0) == top ? VisiblePopup(1) : VisiblePopup(0);
        MouseTo(RowPoint(sub, 0));
        if (shot) SaveScreen(shot);
        Click();
    });
    EXPECT_EQ(chosen, deep);
    classlib::Application->ProcessMessages();
    EXPECT_EQ(clicks.Deep, 1);
}

TEST_F(MbMenuLoop, PressOutsideOrOnADisabledEntryDoesNotClick)
{
    TMbCustomItem* chosen = Run([] {
        HWND top = VisiblePopup(0);
        MouseTo(RowPoint(top, 0));
        POINT off = RowPoint(top, 2);
        off.y += 3;  // the disabled entry below the 3-pixel separator
        MouseTo(off);
        Click();  // nothing: disabled
        if (!VisiblePopup(0)) return;
        MouseTo(POINT{350, 250});
        Click();
    });
    EXPECT_EQ(chosen, nullptr);
    EXPECT_EQ(VisiblePopup(0), nullptr);
    classlib::Application->ProcessMessages();
    EXPECT_EQ(clicks.Alpha + clicks.Deep, 0);
}

TEST_F(MbMenuLoop, AcceleratorsAndFirstLettersChooseEntries)
{
    TMbCustomItem* chosen = Run([] {
        Char(L'm');  // the only "m" accelerator: More opens
        if (!WaitPopup(1)) return;
        Char(L'o');  // "Other" has no accelerator: its first letter
    });
    EXPECT_EQ(chosen, more->GetItem(1));
    EXPECT_EQ(clicks.Popups, 1);
    EXPECT_EQ(VisiblePopup(0), nullptr);

    // The first letter of a disabled entry ends the menu without a click.
    chosen = Run([] { Char(L'd'); });
    EXPECT_EQ(chosen, nullptr);
    classlib::Application->ProcessMessages();
    EXPECT_EQ(clicks.Alpha + clicks.Deep, 0);
}

TEST_F(MbMenuLoop, LetterKeysChooseEntriesAsTheirCharactersDo)
{
    // The key presses alone, as the keyboard queues them: the loop makes
    // the characters itself.
    TMbCustomItem* chosen = Run([] {
        Key('M');  // More's accelerator opens it
        if (!WaitPopup(1)) return;
        Key('O');  // "Other": its first letter
    });
    EXPECT_EQ(chosen, more->GetItem(1));
    EXPECT_EQ(VisiblePopup(0), nullptr);
    classlib::Application->ProcessMessages();
}

struct THelpLog {
    UINT Command = 0;
    uint32_t Id = 0;
    void Help(UINT C, uint32_t I)
    {
        Command = C;
        Id = I;
    }
};

// The program's visible hint window, or null.
HWND ShownHintWindow()
{
    for (HWND w = ::FindWindowExW(nullptr, nullptr, L"THintWindow", nullptr); w;
         w = ::FindWindowExW(nullptr, w, L"THintWindow", nullptr)) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(w, &pid);
        if (pid == ::GetCurrentProcessId() && ::IsWindowVisible(w)) return w;
    }
    return nullptr;
}

TEST_F(MbMenuLoop, EntriesAskingForHintsShowThemAndTheStatusHintFollowsTheSelection)
{
    classlib::TApplication* app = classlib::Application;
    const int pause = app->HintPause;
    std::vector<std::wstring> status;
    struct TLog {
        std::vector<std::wstring>* Into;
        void Hint(classlib::TObject*) { Into->push_back(classlib::Application->GetHint()); }
    } log{&status};
    app->HintPause = 20;
    app->OnHint = classlib::TNotifyEvent(&log, &TLog::Hint);
    alpha->SetOptions(tboShowHint);
    alpha->Hint = L"First|Runs the first command";
    alpha->SetShortCut(ShortCut('A', classlib::ssCtrl));
    deep->Hint = L"Deep|Goes deeper";  // no hint window: only the status hint

    const char* shot = std::getenv("VELMO_MENU_HINT_SCREENSHOT");
    std::wstring shown;
    bool endedByKey = false, noneOnDeep = false;
    // Away from the corner where other test programs put their windows:
    // hints look at what lies under the pointer. The real pointer is put on
    // the entry too: the platform turns where it rests into moves of its
    // own, which would take the hint elsewhere.
    TMbCustomItem* chosen = Run([&] {
        HWND top = VisiblePopup(0);
        const POINT first = RowPoint(top, 0);
        ::SetCursorPos(first.x, first.y);
        MouseTo(first);
        if (!WaitFor([] { return ShownHintWindow() != nullptr; })) return;
        wchar_t text[100] = {};
        ::GetWindowTextW(ShownHintWindow(), text, 100);
        shown = text;
        if (shot) SaveScreen(shot);
        Key(VK_DOWN);  // a key ends the hint
        endedByKey = WaitFor([] { return ShownHintWindow() == nullptr; });
        Key(VK_RIGHT);  // More opens with Deep selected
        if (!WaitPopup(1)) return;
        HWND sub = VisiblePopup(0) == top ? VisiblePopup(1) : VisiblePopup(0);
        const POINT deepPoint = RowPoint(sub, 0);
        ::SetCursorPos(deepPoint.x, deepPoint.y);
        MouseTo(deepPoint);
        ::Sleep(100);
        noneOnDeep = ShownHintWindow() == nullptr;
        Key(VK_ESCAPE);
        Key(VK_ESCAPE);
    }, POINT{700, 600});
    app->OnHint = classlib::TNotifyEvent();
    app->HintPause = pause;
    EXPECT_EQ(chosen, nullptr);
    EXPECT_EQ(shown, L"First (" + ShortCutToText(ShortCut('A', classlib::ssCtrl)) + L")");
    EXPECT_TRUE(endedByKey);
    EXPECT_TRUE(noneOnDeep);
    // Placing the real pointer may select and leave the first entry once
    // more before the posted moves arrive: only whole repeats of that pair
    // are allowed before the sequence the keys make.
    const std::vector<std::wstring> pair{L"Runs the first command", L""};
    while (status.size() > 4 && std::equal(pair.begin(), pair.end(), status.begin()))
        status.erase(status.begin(), status.begin() + 2);
    EXPECT_EQ(status, (std::vector<std::wstring>{L"Runs the first command", L"", L"Goes deeper", L""}))
        << "the long hint of the deepest selection, cleared when the menu ends";
    EXPECT_EQ(ShownHintWindow(), nullptr);
}

TEST_F(MbMenuLoop, F1EndsTheMenuWithTheHelpOfTheSelectedEntry)
{
    THelpLog log;
    MbHelpHandler = TMbHelpEvent(&log, &THelpLog::Help);
    more->HelpContext = 42;
    TMbCustomItem* chosen = Run([] {
        Key(VK_DOWN);
        Key(VK_DOWN);
        Key(VK_RIGHT);  // Deep, without help of its own
        if (!WaitPopup(1)) return;
        Key(VK_F1);     // the upper level's entry has one
    });
    MbHelpHandler = TMbHelpEvent();
    EXPECT_EQ(chosen, nullptr);
    EXPECT_EQ(log.Id, 42u);
    EXPECT_EQ(log.Command, static_cast<UINT>(HELP_CONTEXT));
    EXPECT_EQ(VisiblePopup(0), nullptr);
}

TEST_F(MbMenuLoop, RightButtonReleaseThatOpenedTheMenuIsIgnored)
{
    bool openAfterFirst = false;
    TMbCustomItem* chosen = Run([&] {
        const POINT outside{350, 250};
        Post(WM_RBUTTONUP, 0, outside);  // the release of the opening press
        openAfterFirst = WaitFor([] { return true; }) && VisiblePopup(0) != nullptr;
        Post(WM_RBUTTONUP, 0, outside);  // a second release outside closes
    });
    EXPECT_TRUE(openAfterFirst);
    EXPECT_EQ(chosen, nullptr);
    EXPECT_EQ(VisiblePopup(0), nullptr);
}

TEST_F(MbMenuLoop, ReturnClickedItemOnlyAnswersWithoutClicking)
{
    std::thread driver([] {
        gCapture = WaitPopup(0);
        if (!gCapture) return;
        Key(VK_DOWN);
        Key(VK_RETURN);
    });
    TMbCustomItem* chosen = menu->PopupReturningItem(100, 100, true);
    driver.join();
    EXPECT_EQ(chosen, alpha);
    classlib::Application->ProcessMessages();
    classlib::Application->ProcessMessages();
    EXPECT_EQ(clicks.Alpha, 0);
}

// A menu bar: a toolbar view in the form, driven by the keyboard.
TEST_F(MbMenuLoop, MenuBarKeysMoveBetweenPopupsBelowTheirEntries)
{
    TMbRootItem bar(nullptr);
    auto* file = new TMbSubmenuItem(&form);
    auto* edit = new TMbSubmenuItem(&form);
    file->SetCaption(L"&File");
    edit->SetCaption(L"&Edit");
    bar.Add(file);
    bar.Add(edit);
    auto* open = new TMbItem(&form);
    auto* copy = new TMbItem(&form);
    open->SetCaption(L"Open");
    copy->SetCaption(L"Copy");
    file->Add(open);
    edit->Add(copy);
    TMbView view(nullptr, nullptr, &bar, &form, true, false);
    view.ViewStyle = vsMenuBar;
    view.SelectViewer(view.EntryViewer(0));

    RECT editEntry{}, popupAt{};
    std::thread driver([&] {
        gCapture = form.GetHandle();
        if (!WaitPopup(0)) return;
        Key(VK_RIGHT);  // the next entry of the bar opens its popup
        WaitFor([&] { return VisiblePopup(0) && view.OpenSubViewer == view.EntryViewer(1); });
        ::GetWindowRect(VisiblePopup(0), &popupAt);
        Key(VK_RETURN);
    });
    TMbCustomItem* chosen = view.EnterModalLoop(mlExecuteSelection);
    driver.join();
    editEntry = view.EntryViewer(1)->EntryRect;
    ::MapWindowPoints(form.GetHandle(), nullptr, reinterpret_cast<POINT*>(&editEntry), 2);
    EXPECT_EQ(chosen, copy);
    EXPECT_EQ(popupAt.left, editEntry.left) << "below its entry";
    EXPECT_EQ(popupAt.top, editEntry.bottom);
    EXPECT_EQ(view.OpenSubView, nullptr) << "closed after the loop";
    EXPECT_FALSE(view.RunFlags & rfInLoop);
}

TEST_F(MbMenuLoop, SecondPressOnTheOpenMenuBarEntryClosesTheMenu)
{
    TMbRootItem bar(nullptr);
    auto* file = new TMbSubmenuItem(&form);
    file->SetCaption(L"&File");
    bar.Add(file);
    auto* open = new TMbItem(&form);
    open->SetCaption(L"Open");
    file->Add(open);
    TMbView view(nullptr, nullptr, &bar, &form, true, false);
    view.ViewStyle = vsMenuBar;
    view.SelectViewer(view.EntryViewer(0));
    RECT entry = view.EntryViewer(0)->EntryRect;
    ::MapWindowPoints(form.GetHandle(), nullptr, reinterpret_cast<POINT*>(&entry), 2);
    const POINT on{(entry.left + entry.right) / 2, (entry.top + entry.bottom) / 2};

    bool openedByPress = false;
    std::thread driver([&] {
        gCapture = form.GetHandle();
        openedByPress = WaitPopup(0) != nullptr;
        if (!openedByPress) return;
        Post(WM_LBUTTONUP, 0, on);  // releasing the opening press keeps it open
        Post(WM_LBUTTONDOWN, MK_LBUTTON, on);
        Post(WM_LBUTTONUP, 0, on);
    });
    TMbCustomItem* chosen = view.EnterModalLoop(mlStartedByMouseDown);
    driver.join();
    EXPECT_TRUE(openedByPress);
    EXPECT_EQ(chosen, nullptr);
    EXPECT_EQ(view.Outcome.Kind, moCancel);
    EXPECT_EQ(VisiblePopup(0), nullptr);
    classlib::Application->ProcessMessages();
    EXPECT_EQ(clicks.Alpha + clicks.Deep, 0);
}

}  // namespace

namespace {

// A popup menu opened the way the program's windows open theirs: a user's
// right click (through the platform's input queue) on a window whose
// context-menu message shows the menu at the pointer.
WNDPROC gFormProc = nullptr;
TMbPopupMenu* gContextMenu = nullptr;

LRESULT CALLBACK ContextMenuProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    if (Msg == WM_CONTEXTMENU && gContextMenu) {
        gContextMenu->Popup(static_cast<short>(LOWORD(LParam)), static_cast<short>(HIWORD(LParam)));
        return 0;
    }
    return ::CallWindowProcW(gFormProc, Wnd, Msg, WParam, LParam);
}

struct THits {
    std::atomic<int> N{0};
    std::atomic<bool> Selected{false};
    void Hit(classlib::TObject*) { ++N; }
    void Select(TMbCustomItem*, TMbItemViewer*, bool Selecting) { Selected = Selecting; }
};

// The right-button release that opened the menu leaves it open; then a
// click on an entry runs it once, a click outside closes the menu and
// reaches the button under the pointer, and a right click elsewhere on the
// window opens the menu again there.
TEST(MbPopupMenuMouse, ARightClickOpensTheMenuForTheNextClick)
{
    enum TNext { LeftOnEntry, RightOnEntry, LeftOnButton, RightElsewhere };
    struct TCase {
        const char* Name;
        TNext Next;
        int Entries, Buttons;
    } const cases[] = {
        {"left click on an entry", LeftOnEntry, 1, 0},
        {"right click on an entry", RightOnEntry, 1, 0},
        {"click outside, on a button", LeftOnButton, 0, 1},
        {"right click elsewhere", RightElsewhere, 0, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        classlib::TForm form(nullptr);
        form.SetBorderStyle(classlib::bsNone);
        form.SetBounds(120, 560, 420, 300);
        auto* button = new classlib::TButton(&form);
        button->SetParent(&form);
        button->SetBounds(260, 220, 120, 40);
        auto* menu = new TMbPopupMenu(&form);
        TMbCustomItem* entry = new TMbItem(&form);
        entry->SetCaption(L"Alpha");
        menu->GetItems()->Add(entry);
        auto* other = new TMbItem(&form);
        other->SetCaption(L"Beta");
        menu->GetItems()->Add(other);
        THits entries, buttons;
        entry->OnClick = classlib::TNotifyEvent(&entries, &THits::Hit);
        entry->OnSelect = TMbSelectEvent(&entries, &THits::Select);
        button->OnClick = classlib::TNotifyEvent(&buttons, &THits::Hit);
        form.Show();
        ::SetForegroundWindow(form.GetHandle());
        ::SetActiveWindow(form.GetHandle());
        gFormProc = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
            form.GetHandle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ContextMenuProc)));
        gContextMenu = menu;
        classlib::Application->ProcessMessages();

        POINT at{60, 50};
        ::ClientToScreen(form.GetHandle(), &at);
        bool openAfterRelease = false, ended = false, reopened = false;
        mbtest::RunServing([&](mbtest::TInputDriver& d) {
            d.RealMoveTo(at);
            d.RealRightPress(at);
            d.RealRightRelease(at);
            const HWND popup = d.WaitCapture();
            if (!popup || !mbtest::WaitFor([] { return VisiblePopup(0) != nullptr; })) return;
            // The pointer onto the first entry: once it is selected the
            // release before the move was taken too.
            const POINT first = RowPoint(VisiblePopup(0), 0);
            d.RealMoveTo(first);
            openAfterRelease = mbtest::WaitFor([&] { return entries.Selected.load(); }) &&
                               VisiblePopup(0) != nullptr && d.Capture() != nullptr;
            POINT target = first;
            if (c.Next == LeftOnButton) {
                target = POINT{60, 20};
                ::ClientToScreen(button->GetHandle(), &target);
                d.RealMoveTo(target);
            }
            if (c.Next == RightElsewhere) {
                target = POINT{at.x + 150, at.y + 20};
                d.RealMoveTo(target);
                d.RealRightPress(target);
                d.RealRightRelease(target);
                reopened = mbtest::WaitFor([&] {
                    RECT r{};
                    const HWND w = VisiblePopup(0);
                    return w && ::GetWindowRect(w, &r) && r.left == target.x && r.top == target.y &&
                           d.Capture() != nullptr;
                });
                d.RealKey(VK_ESCAPE);
            } else if (c.Next == RightOnEntry) {
                d.RealRightPress(target);
                d.RealRightRelease(target);
            } else {
                d.RealPress(target);
                d.RealRelease(target);
            }
            ended = d.WaitReleased() && mbtest::WaitFor([] { return VisiblePopup(0) == nullptr; });
            mbtest::WaitFor([&] { return entries.N + buttons.N >= c.Entries + c.Buttons; });
        });
        gContextMenu = nullptr;
        ::SetWindowLongPtrW(form.GetHandle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gFormProc));
        EXPECT_TRUE(openAfterRelease);
        EXPECT_TRUE(ended);
        EXPECT_EQ(reopened, c.Next == RightElsewhere) << "opened again at the second right click";
        EXPECT_EQ(entries.N, c.Entries);
        EXPECT_EQ(buttons.N, c.Buttons);
    }
}

}  // namespace
