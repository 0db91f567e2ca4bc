// The toolbar: its item tree; a free-standing row sized to all its entries;
// the chevron of a short dock and its popup of the hidden entries; the
// menu-bar property; keyboard access to menu bars (Alt, F10, Alt+letter)
// through the application key hook and the dialog-character route; and
// shortcuts looked up form by form.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "classlib/ActnList.h"
#include "classlib/Automation.h"
#include "classlib/Bitmap.h"
#include "classlib/Component.h"
#include "classlib/Forms.h"
#include "classlib/StdCtrls.h"
#include "controls/toolbar/MbItem.h"
#include "controls/toolbar/MbToolbar.h"
#include "tests/controls/toolbar/MbInputDriver.h"

namespace {

using namespace toolbar;

struct TCounter {
    int Clicks = 0;
    void Hit(classlib::TObject*) { ++Clicks; }
};

TEST(MbToolbar, ItemTreeOwnsSubItemsAndClicksOnlyWhenEnabled)
{
    classlib::TForm form(nullptr);
    auto* file = new toolbar::TMbSubmenuItem(&form);
    auto* open = new toolbar::TMbItem(&form);
    auto* exit = new toolbar::TMbItem(&form);
    file->Add(open);
    file->Add(exit);
    file->Move(1, 0);
    ASSERT_EQ(file->GetCount(), 2);
    EXPECT_EQ(file->GetItem(0), exit);
    EXPECT_EQ(exit->GetParentItem(), file);

    TCounter counter;
    exit->OnClick = classlib::TNotifyEvent(&counter, &TCounter::Hit);
    exit->Click();
    exit->SetEnabled(false);
    exit->Click();
    EXPECT_EQ(counter.Clicks, 1);

    delete open;  // the parent forgets it
    EXPECT_EQ(file->GetCount(), 1);
    EXPECT_EQ(file->IndexOf(open), -1);
    const int owned = form.GetComponentCount();
    delete file;  // takes its sub-items along, and they leave the form
    EXPECT_EQ(form.GetComponentCount(), owned - 2);
}


using namespace toolbar;
using mbtest::RunDriven;
using mbtest::TInputDriver;
using mbtest::WaitFor;

TMbCustomItem* AddEntry(classlib::TForm& Form, TMbCustomItem* Parent, TMbCustomItem* Item, const wchar_t* Caption)
{
    (void)Form;
    Item->SetCaption(Caption);
    Parent->Add(Item);
    return Item;
}

HWND VisiblePopup()
{
    for (HWND w = ::FindWindowExW(nullptr, nullptr, L"VelmoMbPopupWindow", nullptr); w;
         w = ::FindWindowExW(nullptr, w, L"VelmoMbPopupWindow", nullptr))
        if (::IsWindowVisible(w)) return w;
    return nullptr;
}

void ShowActive(classlib::TForm& Form)
{
    Form.Show();
    ::SetForegroundWindow(Form.GetHandle());
    ::SetActiveWindow(Form.GetHandle());
    classlib::Application->ProcessMessages();
}

TEST(MbToolbar, AFreeStandingRowGrowsToAllItsEntriesAndHostsItsControls)
{
    classlib::TForm form(nullptr);
    form.SetBorderStyle(classlib::bsNone);
    form.SetBounds(0, 0, 120, 100);  // narrower than the row
    auto* bar = new TMbToolbar(&form);
    bar->SetParent(&form);
    TMbCustomItem* first = AddEntry(form, bar->GetItems(), new TMbItem(&form), L"First");
    AddEntry(form, bar->GetItems(), new TMbSeparatorItem(&form), L"");
    TMbCustomItem* hidden = AddEntry(form, bar->GetItems(), new TMbItem(&form), L"Hidden");
    hidden->SetVisible(false);
    auto* host = new TMbControlItem(&form);
    auto* combo = new classlib::TComboBox(&form);
    combo->SetWidth(70);
    host->SetControl(combo);
    bar->GetItems()->Add(host);
    AddEntry(form, bar->GetItems(), new TMbItem(&form), L"Last entry");
    form.Show();

    TMbToolbarView* view = bar->GetView();
    int sum = 0;
    for (TMbItemViewer* v : view->ViewerList) {
        EXPECT_FALSE(v->BehindChevron);
        if (v->Placed) sum += v->EntryRect.right - v->EntryRect.left;
        if (v->EntryItem == bar->GetChevronItem()) {
            EXPECT_FALSE(v->Placed) << "no chevron on a toolbar that sizes itself";
        }
        if (v->EntryItem == hidden) {
            EXPECT_FALSE(v->Placed);
        }
    }
    EXPECT_GT(sum, 120);
    EXPECT_EQ(bar->GetWidth(), sum);
    EXPECT_EQ(combo->GetParent(), bar);
    const TMbItemViewer* hostViewer = view->ViewerList[3];
    EXPECT_EQ(combo->GetLeft(), hostViewer->EntryRect.left);
    EXPECT_EQ(view->ViewerAt(POINT{view->ViewerList[0]->EntryRect.left + 2, 5})->EntryItem, first);
}

TEST(MbToolbar, AShortDockHidesEntriesBehindTheChevronAndItsPopupShowsThem)
{
    classlib::TForm form(nullptr);
    form.SetBorderStyle(classlib::bsNone);
    form.SetBounds(0, 0, 600, 200);
    auto* dock = new TMbDock(&form);
    dock->SetParent(&form);
    auto* bar = new TMbToolbar(&form);
    // Read with the form: the entries keep list order in priority.
    classlib::BeginLoading(&form);
    for (int i = 0; i < 8; ++i) AddEntry(form, bar->GetItems(), new TMbItem(&form), (L"Button " + std::to_wstring(i)).c_str());
    classlib::EndLoading(&form);
    bar->SetParent(dock);
    ShowActive(form);
    TMbToolbarView* view = bar->GetView();
    for (TMbItemViewer* v : view->ViewerList) EXPECT_FALSE(v->BehindChevron);

    form.SetWidth(200);
    std::vector<std::wstring> hidden;
    TMbItemViewer* chevron = nullptr;
    for (TMbItemViewer* v : view->ViewerList) {
        if (v->BehindChevron) hidden.push_back(v->EntryItem->GetCaption());
        if (v->EntryItem == bar->GetChevronItem()) chevron = v;
    }
    ASSERT_FALSE(hidden.empty());
    ASSERT_NE(chevron, nullptr);
    EXPECT_TRUE(chevron->Placed);
    EXPECT_LE(bar->GetLeft() + bar->GetWidth(), 200);
    EXPECT_EQ(hidden.back(), L"Button 7") << "the last entries go first";

    std::vector<std::wstring> shown;
    RunDriven(
        [&] {
            view->SelectViewer(chevron);
            bar->EnterModalLoop(0x02);
        },
        [&](TInputDriver& d) {
            if (!WaitFor([&] { return view->OpenSubView != nullptr; })) return;
            if (TMbView* popup = view->OpenSubView)
                for (TMbItemViewer* v : popup->ViewerList)
                    if (v->Placed) shown.push_back(v->EntryItem->GetCaption());
            d.Key(WM_KEYDOWN, VK_ESCAPE);
            d.Key(WM_KEYDOWN, VK_ESCAPE, true);
        });
    EXPECT_EQ(shown, hidden);
}

// The numbers of the entries behind the chevron of a short dock's toolbar
// with the entries "Button 0" to "Button 7".
std::vector<int> HiddenButtons(TMbToolbar* Bar)
{
    std::vector<int> hidden;
    const std::vector<TMbItemViewer*>& list = Bar->GetView()->ViewerList;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i]->BehindChevron) hidden.push_back(static_cast<int>(i));
    return hidden;
}

struct TShortDock {
    explicit TShortDock(bool MoveItems, TMbChevronPriorityForNewItems NewItems, bool Loading)
    {
        form.SetBorderStyle(classlib::bsNone);
        form.SetBounds(0, 0, 600, 200);
        auto* dock = new TMbDock(&form);
        dock->SetParent(&form);
        bar = new TMbToolbar(&form);
        bar->SetChevronMoveItems(MoveItems);
        bar->SetChevronPriorityForNewItems(NewItems);
        if (Loading) classlib::BeginLoading(&form);
        for (int i = 0; i < 8; ++i) {
            TMbCustomItem* item = AddEntry(form, bar->GetItems(), new TMbItem(&form), (L"Button " + std::to_wstring(i)).c_str());
            item->OnClick = classlib::TNotifyEvent(&clicks, &TCounter::Hit);
        }
        if (Loading) classlib::EndLoading(&form);
        bar->SetParent(dock);
        ShowActive(form);
        form.SetWidth(260);
        classlib::Application->ProcessMessages();
    }
    classlib::TForm form{nullptr};
    TMbToolbar* bar;
    TCounter clicks;
};

std::vector<int> Range(int From, int To)
{
    std::vector<int> r;
    for (int i = From; i <= To; ++i) r.push_back(i);
    return r;
}

// Clicks the shown entry with the caption in an open popup, as the pointer
// does (the last message ends the menu loop); false when no such entry is
// shown.
bool ClickPopupEntry(TInputDriver& D, TMbView* Popup, const std::wstring& Caption)
{
    for (TMbItemViewer* v : Popup->ViewerList)
        if (v->Placed && v->EntryItem->GetCaption() == Caption) {
            RECT r = v->EntryRect;
            ::MapWindowPoints(Popup->Wnd, HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
            const POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
            ::SetCursorPos(p.x, p.y);
            D.Mouse(WM_MOUSEMOVE, p);
            D.Mouse(WM_LBUTTONDOWN, p, MK_LBUTTON);
            D.Mouse(WM_LBUTTONUP, p, 0, true);
            return true;
        }
    return false;
}

TEST(MbToolbar, TheChevronTakesTheLeastImportantEntriesFirst)
{
    struct TCase {
        const char* Name;
        bool MoveItems;
        TMbChevronPriorityForNewItems NewItems;
        bool Loading;
        bool FirstGo;  // the first entries go behind the chevron, else the last
    };
    const TCase cases[] = {
        {"added at run time, most important", true, tbcpHighest, false, true},
        {"added at run time, least important", true, tbcpLowest, false, false},
        {"read with the form", true, tbcpHighest, true, false},
        {"no priority order", false, tbcpHighest, false, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TShortDock s(c.MoveItems, c.NewItems, c.Loading);
        const std::vector<int> hidden = HiddenButtons(s.bar);
        ASSERT_FALSE(hidden.empty());
        ASSERT_LT(hidden.size(), 7u);
        const int n = static_cast<int>(hidden.size());
        EXPECT_EQ(hidden, c.FirstGo ? Range(0, n - 1) : Range(8 - n, 7));
        EXPECT_EQ(s.bar->GetView()->PriorityOrder.empty(), !c.MoveItems);
    }
}

// An entry chosen from the chevron's popup is clicked and, with the
// priority order in use, comes back at the cost of the least important
// entry shown; without it, the row stays as it was.
TEST(MbToolbar, AnEntryChosenFromTheChevronComesBackOnlyWithThePriorityOrder)
{
    for (bool moveItems : {true, false}) {
        SCOPED_TRACE(moveItems ? "priority order" : "list order");
        TShortDock s(moveItems, tbcpLowest, false);
        TMbToolbarView* view = s.bar->GetView();
        const std::vector<int> before = HiddenButtons(s.bar);
        ASSERT_GE(before.size(), 2u);
        const int n = static_cast<int>(before.size());
        const int chosen = before[1];
        TMbItemViewer* chevron = nullptr;
        for (TMbItemViewer* v : view->ViewerList)
            if (v->EntryItem == s.bar->GetChevronItem()) chevron = v;
        ASSERT_NE(chevron, nullptr);
        const std::wstring caption = L"Button " + std::to_wstring(chosen);
        RunDriven(
            [&] {
                view->SelectViewer(chevron);
                s.bar->EnterModalLoop(0x02);
            },
            [&](TInputDriver& d) {
                if (!WaitFor([&] { return view->OpenSubView != nullptr && view->OpenSubView->Wnd != nullptr; })) return;
                if (ClickPopupEntry(d, view->OpenSubView, caption)) return;
                d.Key(WM_KEYDOWN, VK_ESCAPE);
                d.Key(WM_KEYDOWN, VK_ESCAPE, true);
            });
        classlib::Application->ProcessMessages();
        EXPECT_EQ(s.clicks.Clicks, 1) << "the chosen entry was clicked";
        const std::vector<int> after = HiddenButtons(s.bar);
        if (moveItems) {
            std::vector<int> expected = before;
            expected.erase(expected.begin() + 1);
            expected.insert(expected.begin(), before[0] - 1);
            EXPECT_EQ(after, expected) << "back from the chevron; the last one shown before it left";
            EXPECT_EQ(view->PriorityOrder.front()->EntryItem->GetCaption(), caption);
        } else {
            EXPECT_EQ(after, before);
        }
        EXPECT_EQ(static_cast<int>(after.size()), n);
    }
}


// Fails the test instead of blocking the run when a menu loop never ends:
// after the grace time it cancels the main thread's loop (WM_CANCELMODE to
// the window holding the capture, repeated until it lets go).
class TLoopWatchdog {
public:
    explicit TLoopWatchdog(int Seconds) : thread_(::GetCurrentThreadId())
    {
        watch_ = std::thread([this, Seconds] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (done_cv_.wait_for(lock, std::chrono::seconds(Seconds), [this] { return done_; })) return;
            Fired = true;
            mbtest::TInputDriver d(thread_);
            while (!done_) {
                if (const HWND w = d.Capture()) ::PostMessageW(w, WM_CANCELMODE, 0, 0);
                done_cv_.wait_for(lock, std::chrono::milliseconds(200), [this] { return done_; });
            }
        });
    }
    ~TLoopWatchdog() { Stop(); }
    void Stop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        done_cv_.notify_all();
        if (watch_.joinable()) watch_.join();
    }
    std::atomic<bool> Fired{false};

private:
    DWORD thread_;
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::thread watch_;
};

// The chevron's popup is a menu like any other: End selects its last entry
// and Return clicks it once, after the loop has ended; a press on an entry
// does the same.
TEST(MbToolbar, KeysAndThePointerChooseAnEntryInTheChevronsPopup)
{
    struct TCase {
        const char* Name;
        bool ByKeys;
        bool MoveItems;  // the chosen entry comes back to the row
    };
    const TCase cases[] = {
        {"End, Return", true, false},
        {"End, Return, priority order", true, true},
        {"press on the entry", false, false},
        {"press on the entry, priority order", false, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const bool byKeys = c.ByKeys;
        TShortDock s(c.MoveItems, tbcpLowest, false);
        TMbToolbarView* view = s.bar->GetView();
        const std::vector<int> hidden = HiddenButtons(s.bar);
        ASSERT_FALSE(hidden.empty());
        TMbItemViewer* chevron = nullptr;
        for (TMbItemViewer* v : view->ViewerList)
            if (v->EntryItem == s.bar->GetChevronItem()) chevron = v;
        ASSERT_NE(chevron, nullptr);
        const std::wstring last = L"Button " + std::to_wstring(hidden.back());
        TCounter lastClicks;
        s.bar->GetItems()->GetItem(hidden.back())->OnClick = classlib::TNotifyEvent(&lastClicks, &TCounter::Hit);

        std::wstring selected;
        TMbCustomItem* chosen = nullptr;
        TLoopWatchdog watchdog(30);
        RunDriven(
            [&] {
                view->SelectViewer(chevron);
                chosen = s.bar->EnterModalLoop(0x02);
            },
            [&](TInputDriver& d) {
                if (!WaitFor([&] { return view->OpenSubView != nullptr && view->OpenSubView->Wnd != nullptr; })) return;
                TMbView* popup = view->OpenSubView;
                if (byKeys) {
                    d.Key(WM_KEYDOWN, VK_END);
                    // The popup's loop may serve the sync messages before
                    // the key: the selection is waited for, not read once.
                    auto current = [&] {
                        TMbItemViewer* v = popup->SelectedViewer;
                        return v ? v->EntryItem->GetCaption() : std::wstring();
                    };
                    WaitFor([&] { return current() == last; });
                    selected = current();
                    d.Key(WM_KEYDOWN, VK_RETURN, true);
                    return;
                }
                ClickPopupEntry(d, popup, last);
            });
        classlib::Application->ProcessMessages();
        classlib::Application->ProcessMessages();
        watchdog.Stop();
        EXPECT_FALSE(watchdog.Fired) << "the menu loop did not end";
        if (byKeys) {
            EXPECT_EQ(selected, last);
        }
        ASSERT_NE(chosen, nullptr);
        EXPECT_EQ(chosen->GetCaption(), last);
        EXPECT_EQ(lastClicks.Clicks, 1);
        EXPECT_EQ(s.clicks.Clicks, 0);
        EXPECT_EQ(VisiblePopup(), nullptr) << "the popup is closed";
        const std::vector<int> after = HiddenButtons(s.bar);
        EXPECT_EQ(after.size(), hidden.size());
        const bool back = std::find(after.begin(), after.end(), hidden.back()) == after.end();
        EXPECT_EQ(back, c.MoveItems);
    }
}
TEST(MbToolbar, MenuBarSetsItsDependentsAndTheAppHook)
{
    classlib::TForm form(nullptr);
    auto* bar = new TMbToolbar(&form);
    EXPECT_FALSE(bar->ChevronHintStored());
    EXPECT_EQ(bar->GetChevronItem()->GetCaption(), L"More Buttons");
    bar->SetChevronHint(L"");
    EXPECT_TRUE(bar->ChevronHintStored()) << "an empty hint is stored";

    bar->SetMenuBar(true);
    EXPECT_TRUE(bar->GetFullSize());
    EXPECT_EQ(bar->GetShrinkMode(), tbsmWrap);
    EXPECT_FALSE(bar->GetCloseButton());
    EXPECT_TRUE(bar->GetProcessShortCuts());
    EXPECT_TRUE(bar->AppHooked);
    EXPECT_EQ(MbHookedToolbars().size(), 1u);
    EXPECT_TRUE(bar->ControlStyle & csMenuEvents);
    EXPECT_TRUE(bar->GetView()->ViewStyle & vsMenuBar);

    bar->SetMenuBar(false);
    EXPECT_FALSE(bar->GetFullSize());
    EXPECT_EQ(bar->GetShrinkMode(), tbsmChevron);
    EXPECT_TRUE(bar->GetCloseButton());
    EXPECT_FALSE(bar->GetProcessShortCuts());
    EXPECT_FALSE(bar->AppHooked);
    EXPECT_TRUE(MbHookedToolbars().empty());
}

struct MbMenuBarKeys : ::testing::Test {
    MbMenuBarKeys()
    {
        form.SetBounds(40, 40, 500, 300);
        bar = new TMbToolbar(&form);
        bar->SetParent(&form);
        bar->SetMenuBar(true);
        file = AddEntry(form, bar->GetItems(), new TMbSubmenuItem(&form), L"&File");
        AddEntry(form, file, new TMbItem(&form), L"&Open");
        view = AddEntry(form, bar->GetItems(), new TMbSubmenuItem(&form), L"&View");
        AddEntry(form, view, new TMbItem(&form), L"&Zoom");
        format = AddEntry(form, bar->GetItems(), new TMbSubmenuItem(&form), L"Fo&rmat");
        AddEntry(form, format, new TMbItem(&form), L"&Font");
        fix = AddEntry(form, bar->GetItems(), new TMbSubmenuItem(&form), L"F&ix");
        fixAgain = AddEntry(form, bar->GetItems(), new TMbSubmenuItem(&form), L"Ne&xt f&ix");
        AddEntry(form, fix, new TMbItem(&form), L"One");
        AddEntry(form, fixAgain, new TMbItem(&form), L"Two");
        ShowActive(form);
    }
    // Runs the key messages through the message loop (the application's
    // key handling) while Drive watches the menu and ends it.
    void Run(const std::function<void()>& Send, const std::function<void(TInputDriver&)>& Drive)
    {
        RunDriven(
            [&] {
                Send();
                for (int i = 0; i < 3; ++i) classlib::Application->ProcessMessages();
            },
            Drive);
    }
    TMbItemViewer* Selected() { return bar->GetView()->SelectedViewer; }
    TMbCustomItem* OpenItem()
    {
        TMbItemViewer* v = bar->GetView()->OpenSubViewer;
        return v ? v->EntryItem : nullptr;
    }

    classlib::TForm form{nullptr};
    TMbToolbar* bar;
    TMbCustomItem *file, *view, *format, *fix, *fixAgain;
};

TEST_F(MbMenuBarKeys, AltLetterOpensTheEntryWithThatAccelerator)
{
    TMbCustomItem* opened = nullptr;
    Run([&] { ::PostMessageW(form.GetHandle(), WM_SYSCHAR, L'v', 0x20000001); },
        [&](TInputDriver& d) {
            if (!WaitFor([&] { return OpenItem() != nullptr; })) return;
            opened = OpenItem();
            d.Key(WM_KEYDOWN, VK_ESCAPE);
            d.Key(WM_KEYDOWN, VK_ESCAPE, true);
        });
    EXPECT_EQ(opened, view);
    EXPECT_EQ(VisiblePopup(), nullptr);
}

TEST_F(MbMenuBarKeys, ALetterKeyInTheOpenPopupChoosesItsEntry)
{
    TCounter opened;
    file->GetItem(0)->OnClick = classlib::TNotifyEvent(&opened, &TCounter::Hit);
    Run([&] { ::PostMessageW(form.GetHandle(), WM_SYSCHAR, L'f', 0x20000001); },
        [&](TInputDriver& d) {
            if (!WaitFor([&] { return OpenItem() == file && VisiblePopup(); })) return;
            d.Key(WM_KEYDOWN, 'O');
            d.Key(WM_KEYUP, 'O', true);
        });
    EXPECT_EQ(VisiblePopup(), nullptr);
    classlib::Application->ProcessMessages();
    classlib::Application->ProcessMessages();
    EXPECT_EQ(opened.Clicks, 1);
}

TEST_F(MbMenuBarKeys, AltAloneAndF10EnterMenuModeOnTheFirstEntry)
{
    for (WORD key : {static_cast<WORD>(VK_MENU), static_cast<WORD>(VK_F10)}) {
        TMbItemViewer* first = nullptr;
        TMbCustomItem* afterRightDown = nullptr;
        Run(
            [&] {
                // Alt comes with the context flag; F10 alone does not.
                ::PostMessageW(form.GetHandle(), WM_SYSKEYDOWN, key, key == VK_MENU ? 0x20000001 : 0x00000001);
                ::PostMessageW(form.GetHandle(), WM_SYSKEYUP, key, 0xC0000001);
            },
            [&](TInputDriver& d) {
                if (!d.WaitCapture(bar->GetHandle())) return;
                WaitFor([&] { return Selected() != nullptr; });
                first = Selected();
                d.Key(WM_KEYDOWN, VK_RIGHT);
                d.Key(WM_KEYDOWN, VK_DOWN);
                WaitFor([&] { return OpenItem() != nullptr; });
                afterRightDown = OpenItem();
                d.Key(WM_KEYDOWN, VK_ESCAPE);
                d.Key(WM_KEYDOWN, VK_ESCAPE, true);
            });
        ASSERT_NE(first, nullptr) << key;
        EXPECT_EQ(first->EntryItem, file) << key;
        EXPECT_EQ(afterRightDown, view) << key;
        EXPECT_EQ(::GetCapture(), nullptr);
    }
}

TEST_F(MbMenuBarKeys, ASharedLetterOnlySelectsAndMinusIsLeftAlone)
{
    TMbItemViewer* selected = nullptr;
    bool popupSeen = false;
    Run([&] { ::PostMessageW(form.GetHandle(), WM_SYSCOMMAND, SC_KEYMENU, L'i'); },
        [&](TInputDriver& d) {
            if (!d.WaitCapture(bar->GetHandle())) return;
            WaitFor([&] { return Selected() != nullptr; });
            selected = Selected();
            popupSeen = VisiblePopup() != nullptr;
            d.Key(WM_KEYDOWN, VK_ESCAPE, true);
        });
    ASSERT_NE(selected, nullptr);
    EXPECT_EQ(selected->EntryItem, fix) << "the first of the two";
    EXPECT_FALSE(popupSeen);
    EXPECT_EQ(bar->Perform(WM_SYSCOMMAND, SC_KEYMENU, L'-'), 0) << "Alt+- is not handled";
    EXPECT_EQ(bar->Perform(WM_SYSCOMMAND, SC_KEYMENU, L'q'), 1) << "an unknown letter is handled (with a beep)";
}

TEST(MbToolbar, AMenuRowOpensByAltLetterThroughTheDialogCharacterRoute)
{
    classlib::TForm form(nullptr);
    form.SetBounds(40, 40, 400, 300);
    auto* bar = new TMbToolbar(&form);  // every property at its default
    bar->SetParent(&form);
    TMbCustomItem* file = AddEntry(form, bar->GetItems(), new TMbSubmenuItem(&form), L"File");
    AddEntry(form, file, new TMbItem(&form), L"Exit");
    TMbCustomItem* help = AddEntry(form, bar->GetItems(), new TMbSubmenuItem(&form), L"Help");
    AddEntry(form, help, new TMbItem(&form), L"About");
    auto* edit = new classlib::TEdit(&form);
    edit->SetBounds(10, 60, 100, 22);
    edit->SetParent(&form);
    ShowActive(form);
    edit->SetFocus();
    EXPECT_FALSE(bar->AppHooked);
    TMbCustomItem* opened = nullptr;
    RunDriven(
        [&] {
            ::PostMessageW(edit->GetHandle(), WM_SYSCHAR, L'h', 0x20000001);
            for (int i = 0; i < 3; ++i) classlib::Application->ProcessMessages();
        },
        [&](TInputDriver& d) {
            if (!WaitFor([&] { return bar->GetView()->OpenSubViewer != nullptr; })) return;
            if (TMbItemViewer* v = bar->GetView()->OpenSubViewer) opened = v->EntryItem;
            d.Key(WM_KEYDOWN, VK_ESCAPE);
            d.Key(WM_KEYDOWN, VK_ESCAPE, true);
        });
    EXPECT_EQ(opened, help) << "the first letter when no caption has an accelerator";
}

// A user's click on a menu-row entry (press and release through the
// platform's input queue, on the same spot) opens its popup and leaves it
// open. A second click then either chooses an entry of the popup, which
// runs once, or lands on the row's entry again and closes the popup.
TEST(MbToolbar, AClickOnAMenuRowEntryLeavesItsPopupOpen)
{
    for (const bool onEntryAgain : {false, true}) {
        SCOPED_TRACE(onEntryAgain ? "second click on the row's entry" : "second click on the popup's entry");
        classlib::TForm form(nullptr);
        form.SetBounds(40, 40, 400, 300);
        auto* bar = new TMbToolbar(&form);
        bar->SetParent(&form);
        TMbCustomItem* file = AddEntry(form, bar->GetItems(), new TMbSubmenuItem(&form), L"File");
        TMbCustomItem* exit = AddEntry(form, file, new TMbItem(&form), L"Exit");
        AddEntry(form, bar->GetItems(), new TMbSubmenuItem(&form), L"Help");
        struct TCount {
            std::atomic<int> Hits{0};
            void Hit(classlib::TObject*) { ++Hits; }
        } exits;
        exit->OnClick = classlib::TNotifyEvent(&exits, &TCount::Hit);
        ShowActive(form);
        RECT entry = bar->GetView()->ViewerList[0]->EntryRect;
        ::MapWindowPoints(bar->GetHandle(), HWND_DESKTOP, reinterpret_cast<POINT*>(&entry), 2);
        const POINT on{(entry.left + entry.right) / 2, (entry.top + entry.bottom) / 2};
        bool openAfterRelease = false, closed = false;
        mbtest::RunServing([&](mbtest::TInputDriver& d) {
            d.RealMoveTo(on);
            d.RealPress(on);
            if (!WaitFor([] { return VisiblePopup() != nullptr; })) return;
            d.RealRelease(on);
            ::Sleep(300);  // time for a wrongly taken release to close it
            const HWND popup = VisiblePopup();
            openAfterRelease = popup != nullptr;
            if (!popup) return;
            POINT second = on;
            if (!onEntryAgain) {
                second = POINT{30, 10};
                ::ClientToScreen(popup, &second);
            }
            d.RealMoveTo(second);
            d.RealPress(second);
            d.RealRelease(second);
            d.WaitReleased();
            closed = WaitFor([] { return VisiblePopup() == nullptr; });
            if (!onEntryAgain) WaitFor([&] { return exits.Hits > 0; });
        });
        EXPECT_TRUE(openAfterRelease);
        EXPECT_TRUE(closed);
        EXPECT_EQ(exits.Hits, onEntryAgain ? 0 : 1);
    }
}

// The screen centre of entry Index of view V.
POINT EntryCentre(TMbView* V, int Index)
{
    RECT r = V->ViewerList[Index]->EntryRect;
    const HWND host = V->Wnd ? V->Wnd : V->HostWindow->GetHandle();  // a popup's own window, or the row's
    ::MapWindowPoints(host, HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

struct THits {
    std::atomic<int> N{0};
    void Hit(classlib::TObject*) { ++N; }
};

// A menu row (File: Open, Recent > First; Edit: Copy) over a button, driven
// by a user's mouse and keyboard through the platform's input queue.
class MbMenuRowMouse : public ::testing::Test {
protected:
    MbMenuRowMouse()
    {
        form.SetBounds(360, 260, 420, 300);
        bar = new TMbToolbar(&form);
        bar->SetParent(&form);
        file = AddEntry(form, bar->GetItems(), new TMbSubmenuItem(&form), L"File");
        open = AddEntry(form, file, new TMbItem(&form), L"Open");
        recent = AddEntry(form, file, new TMbSubmenuItem(&form), L"Recent");
        first = AddEntry(form, recent, new TMbItem(&form), L"First");
        AddEntry(form, file, new TMbItem(&form), L"Exit");
        edit = AddEntry(form, bar->GetItems(), new TMbSubmenuItem(&form), L"Edit");
        AddEntry(form, edit, new TMbItem(&form), L"Copy");
        open->OnClick = classlib::TNotifyEvent(&opens, &THits::Hit);
        first->OnClick = classlib::TNotifyEvent(&firsts, &THits::Hit);
        button = new classlib::TButton(&form);
        button->SetParent(&form);
        button->SetBounds(200, 200, 120, 40);
        button->OnClick = classlib::TNotifyEvent(&presses, &THits::Hit);
        ShowActive(form);
    }
    POINT BarEntry(int Index) { return EntryCentre(bar->GetView(), Index); }
    TMbView* Row() { return bar->GetView(); }
    // Clicks the row's entry Index and waits for its popup.
    bool OpenByClick(TInputDriver& D, int Index)
    {
        const POINT at = BarEntry(Index);
        D.RealMoveTo(at);
        D.RealPress(at);
        const bool opened = WaitFor([&] { return Row()->OpenSubView && VisiblePopup(); });
        D.RealRelease(at);
        return opened;
    }
    // Runs Steps on a second thread while this one serves the messages
    // (the menu loops run inside them).
    void Drive(const std::function<void(TInputDriver&)>& Steps)
    {
        mbtest::RunServing([&](mbtest::TInputDriver& d) {
            Steps(d);
            // Whatever a failed step left open is closed for the next test.
            for (int i = 0; i < 4 && d.Capture(); ++i) d.RealKey(VK_ESCAPE);
        });
    }
    // After the menu closed, the clicks it deferred have run.
    void Settle()
    {
        classlib::Application->ProcessMessages();
        classlib::Application->ProcessMessages();
    }

    classlib::TForm form{nullptr};
    TMbToolbar* bar = nullptr;
    TMbCustomItem *file = nullptr, *open = nullptr, *recent = nullptr, *first = nullptr, *edit = nullptr;
    classlib::TButton* button = nullptr;
    THits opens, firsts, presses;
};

// Esc steps back one level at a time: from a submenu to its popup, from a
// popup to the row (still in menu mode), then out of the menu. With a popup
// open, the pointer on the next entry of the row opens that entry's popup
// instead.
TEST_F(MbMenuRowMouse, TheOpenPopupFollowsThePointerAndEscStepsBack)
{
    bool subClosedAlone = false, followed = false, popupClosedAlone = false, ended = false;
    Drive([&](TInputDriver& d) {
        if (!OpenByClick(d, 0)) return;
        TMbView* popup = Row()->OpenSubView;
        d.RealMoveTo(EntryCentre(popup, 1));
        if (!WaitFor([&] { return popup->OpenSubView != nullptr; })) return;
        d.RealKey(VK_ESCAPE);
        subClosedAlone = WaitFor([&] { return popup->OpenSubView == nullptr; }) && Row()->OpenSubView == popup;
        d.RealMoveTo(BarEntry(1));
        followed = WaitFor([&] { return Row()->OpenSubViewer == Row()->ViewerList[1] && VisiblePopup(); });
        d.RealKey(VK_ESCAPE);
        popupClosedAlone = WaitFor([&] { return !VisiblePopup(); }) && d.Capture() != nullptr &&
                           Row()->SelectedViewer == Row()->ViewerList[1];
        d.RealKey(VK_ESCAPE);
        ended = d.WaitReleased();
    });
    EXPECT_TRUE(subClosedAlone) << "the first Esc closes only the submenu";
    EXPECT_TRUE(followed);
    EXPECT_TRUE(popupClosedAlone) << "the next Esc closes only the popup";
    EXPECT_TRUE(ended);
    EXPECT_EQ(VisiblePopup(), nullptr);
}

// Resting on a submenu entry opens its submenu after the delay, resting on
// another entry closes it again; a click on an entry of the submenu runs
// its click once and closes every level.
TEST_F(MbMenuRowMouse, HoveringOpensTheSubmenuAndItsEntryClicksOnce)
{
    bool subOpened = false, subClosed = false, closed = false;
    Drive([&](TInputDriver& d) {
        if (!OpenByClick(d, 0)) return;
        TMbView* popup = Row()->OpenSubView;
        d.RealMoveTo(EntryCentre(popup, 1));
        subOpened = WaitFor([&] { return popup->OpenSubView != nullptr; });
        d.RealMoveTo(EntryCentre(popup, 2));
        subClosed = WaitFor([&] { return popup->OpenSubView == nullptr; });
        d.RealMoveTo(EntryCentre(popup, 1));
        if (!subOpened || !WaitFor([&] { return popup->OpenSubView != nullptr; })) return;
        const POINT at = EntryCentre(popup->OpenSubView, 0);
        d.RealMoveTo(at);
        d.RealPress(at);
        d.RealRelease(at);
        closed = d.WaitReleased() && WaitFor([] { return !VisiblePopup(); });
        WaitFor([&] { return firsts.N > 0; });
    });
    Settle();
    EXPECT_TRUE(subOpened);
    EXPECT_TRUE(subClosed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(firsts.N, 1);
    EXPECT_EQ(opens.N, 0);
}

// Pressing on the row's entry, dragging into its popup and releasing on an
// entry chooses that entry.
TEST_F(MbMenuRowMouse, PressDragAndReleaseOnAnEntryChoosesIt)
{
    bool closed = false;
    Drive([&](TInputDriver& d) {
        const POINT on = BarEntry(0);
        d.RealMoveTo(on);
        d.RealPress(on);
        if (!WaitFor([&] { return Row()->OpenSubView && VisiblePopup(); })) return;
        const POINT target = EntryCentre(Row()->OpenSubView, 0);
        d.RealMoveTo(POINT{on.x, on.y + 8});
        d.RealMoveTo(target);
        d.RealRelease(target);
        closed = d.WaitReleased() && WaitFor([] { return !VisiblePopup(); });
        WaitFor([&] { return opens.N > 0; });
    });
    Settle();
    EXPECT_TRUE(closed);
    EXPECT_EQ(opens.N, 1);
}

// A click outside every menu closes it, and the press stays in the queue
// for the window under the pointer: the button there, in the menu's window
// or in another one, is clicked.
TEST_F(MbMenuRowMouse, AClickOutsideClosesTheMenuAndReachesTheWindowThere)
{
    classlib::TForm other(nullptr);
    other.SetBorderStyle(classlib::bsNone);
    other.SetBounds(820, 300, 160, 80);
    auto* otherButton = new classlib::TButton(&other);
    otherButton->SetParent(&other);
    otherButton->SetBounds(20, 20, 120, 40);
    THits otherPresses;
    otherButton->OnClick = classlib::TNotifyEvent(&otherPresses, &THits::Hit);
    other.Show();
    ShowActive(form);
    for (classlib::TButton* target : {button, otherButton}) {
        SCOPED_TRACE(target == button ? "the menu's window" : "another window");
        bool closed = false;
        Drive([&](TInputDriver& d) {
            if (!OpenByClick(d, 1)) return;
            POINT at{60, 20};
            ::ClientToScreen(target->GetHandle(), &at);
            d.RealMoveTo(at);
            d.RealPress(at);
            d.RealRelease(at);
            closed = d.WaitReleased() && WaitFor([] { return !VisiblePopup(); });
            WaitFor([&] { return presses.N + otherPresses.N > 0; });
        });
        Settle();
        EXPECT_TRUE(closed);
        EXPECT_EQ(presses.N, target == button ? 1 : 0);
        EXPECT_EQ(otherPresses.N, target == button ? 0 : 1);
        presses.N = 0;
        otherPresses.N = 0;
        ShowActive(form);
    }
}

// Button entries of a toolbar under a user's mouse: a press and release on
// the button clicks it once (a double click twice), a release away from it
// does not; the arrow part of a dropdown button opens its popup (and the
// release of that press leaves it open), its button part clicks.
TEST(MbToolbarButtons, PressAndReleaseOnTheButtonClickIt)
{
    enum TSpot { Save, Off, UndoButton, UndoArrow };
    enum TAct { Move, Press, Release };
    struct TStep {
        TAct Act;
        TSpot Spot;
    };
    struct TCase {
        const char* Name;
        std::vector<TStep> Steps;
        int Saves, Undos;
        bool PopupOpen;
    };
    const TCase cases[] = {
        {"on the button", {{Press, Save}, {Release, Save}}, 1, 0, false},
        {"moved off", {{Press, Save}, {Move, Off}, {Release, Off}}, 0, 0, false},
        {"moved off and back", {{Press, Save}, {Move, Off}, {Move, Save}, {Release, Save}}, 1, 0, false},
        {"double click", {{Press, Save}, {Release, Save}, {Press, Save}, {Release, Save}}, 2, 0, false},
        {"dropdown's button part", {{Press, UndoButton}, {Release, UndoButton}}, 0, 1, false},
        {"dropdown's arrow", {{Press, UndoArrow}, {Release, UndoArrow}}, 0, 0, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        classlib::TForm form(nullptr);
        form.SetBounds(520, 120, 360, 240);
        auto* bar = new TMbToolbar(&form);
        bar->SetParent(&form);
        TMbCustomItem* save = AddEntry(form, bar->GetItems(), new TMbItem(&form), L"Save");
        auto* undo = new TMbSubmenuItem(&form);
        undo->SetDropdownCombo(true);
        AddEntry(form, bar->GetItems(), undo, L"Undo");
        AddEntry(form, undo, new TMbItem(&form), L"Typing");
        THits saves, undos;
        save->OnClick = classlib::TNotifyEvent(&saves, &THits::Hit);
        undo->OnClick = classlib::TNotifyEvent(&undos, &THits::Hit);
        ShowActive(form);
        TMbView* view = bar->GetView();
        auto spot = [&](TSpot S) {
            if (S == Save) return EntryCentre(view, 0);
            POINT p = EntryCentre(view, 1);
            RECT r = view->ViewerList[1]->EntryRect;
            ::MapWindowPoints(bar->GetHandle(), HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
            if (S == UndoButton) p.x = r.left + 6;
            if (S == UndoArrow) p.x = r.right - 4;
            if (S == Off) p = POINT{r.left, r.bottom + 80};
            return p;
        };
        bool popupOpen = false, ended = false;
        mbtest::RunServing([&](mbtest::TInputDriver& d) {
            d.RealMoveTo(spot(c.Steps[0].Spot));
            for (const TStep& s : c.Steps) {
                const POINT at = spot(s.Spot);
                if (s.Act == Move) d.RealMoveTo(at);
                if (s.Act == Press) {
                    d.RealPress(at);
                    d.WaitCapture();  // the loop runs
                }
                if (s.Act == Release) d.RealRelease(at);
            }
            if (c.PopupOpen) {
                // The release was taken before the move after it.
                d.RealMoveTo(EntryCentre(view, 1));
                popupOpen = view->OpenSubView != nullptr && VisiblePopup() != nullptr;
                d.RealKey(VK_ESCAPE);
                d.RealKey(VK_ESCAPE);
            }
            ended = d.WaitReleased();
            WaitFor([&] { return saves.N + undos.N >= c.Saves + c.Undos; });
        });
        EXPECT_TRUE(ended);
        EXPECT_EQ(popupOpen, c.PopupOpen);
        EXPECT_EQ(saves.N, c.Saves);
        EXPECT_EQ(undos.N, c.Undos);
        EXPECT_EQ(VisiblePopup(), nullptr);
    }
}

struct TShortCutCount {
    int Hits = 0;
    void Hit(classlib::TObject*) { ++Hits; }
};

TEST(MbToolbar, ShortcutsGoToTheActiveFormsToolbarsAndSkipDisabledForms)
{
    classlib::TForm one(nullptr), two(nullptr);
    one.SetBounds(10, 10, 300, 200);
    two.SetBounds(330, 10, 300, 200);
    TShortCutCount countOne, countTwo;
    auto make = [](classlib::TForm& Form, TShortCutCount& Count) {
        auto* bar = new TMbToolbar(&Form);
        bar->SetParent(&Form);
        bar->SetProcessShortCuts(true);
        auto* item = new TMbItem(&Form);
        item->SetCaption(L"Run");
        item->SetShortCut(ShortCut('K', classlib::ssAlt));
        item->OnClick = classlib::TNotifyEvent(&Count, &TShortCutCount::Hit);
        bar->GetItems()->Add(item);
        return bar;
    };
    make(one, countOne);
    make(two, countTwo);
    EXPECT_EQ(MbHookedToolbars().size(), 2u);
    one.Show();
    ShowActive(two);

    MSG key{two.GetHandle(), WM_SYSKEYDOWN, 'K', 0x20000001, 0, {}};
    classlib::TMessage relay{classlib::CM_APPKEYDOWN, 0, reinterpret_cast<LPARAM>(&key), 0};
    EXPECT_TRUE(classlib::Application->CallMainWindowHooks(relay));
    EXPECT_EQ(countTwo.Hits, 1);
    EXPECT_EQ(countOne.Hits, 0);

    EXPECT_TRUE(MbProcessFormShortCuts(&one, key));
    EXPECT_EQ(countOne.Hits, 1) << "the form's own toolbar";
    one.SetEnabled(false);
    EXPECT_FALSE(MbProcessFormShortCuts(&one, key)) << "a disabled form's toolbars are skipped";
    EXPECT_EQ(countOne.Hits, 1);
}

// Saves the application's hint settings and sets short pauses; OnHint logs
// the status hint.
struct THintSettings {
    THintSettings()
        : app(classlib::Application), pause(app->HintPause), hide(app->HintHidePause), onHint(app->OnHint)
    {
        app->HintPause = 20;
        app->HintShortPause = 10;
        app->HintHidePause = 0;
        app->OnHint = classlib::TNotifyEvent(this, &THintSettings::Logged);
    }
    ~THintSettings()
    {
        app->CancelHint();
        app->HintPause = pause;
        app->HintHidePause = hide;
        app->OnHint = onHint;
    }
    void Logged(classlib::TObject*) { Status.push_back(app->GetHint()); }
    classlib::TApplication* app;
    int pause, hide;
    classlib::TNotifyEvent onHint;
    std::vector<std::wstring> Status;
};

TEST(MbToolbar, EntryHintsShowOverTheToolbarAndTheirLongPartsInTheStatusHint)
{
    THintSettings hints;
    classlib::TForm form(nullptr);
    form.SetBorderStyle(classlib::bsNone);
    form.SetBounds(700, 600, 300, 60);  // away from the corner other test programs use
    auto* bar = new TMbToolbar(&form);
    bar->SetParent(&form);
    auto add = [&](const wchar_t* Caption, const wchar_t* Hint) {
        TMbCustomItem* item = AddEntry(form, bar->GetItems(), new TMbItem(&form), Caption);
        item->Hint = Hint;
        return item;
    };
    TMbCustomItem* zoomIn = add(L"In", L"Zoom In|Enlarges the picture");
    TMbCustomItem* zoomOut = add(L"Out", L"Zoom Out");
    TMbCustomItem* fit = add(L"&Fit...", L"");
    TMbCustomItem* menuOnly = add(L"Next", L"Next|Shows the next file");
    menuOnly->SetOptions(tboLongHintInMenuOnly);
    bar->SetShowHint(true);
    EXPECT_TRUE(bar->GetView()->ViewStyle & vsMenuHints) << "its menus show hints too";
    form.Show();
    // Above the windows of the other test programs on the display: the
    // hints look at what lies under the pointer.
    ::SetWindowPos(form.GetHandle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    classlib::Application->ProcessMessages();

    struct {
        TMbCustomItem* item;
        const wchar_t* shown;
        const wchar_t* status;
    } cases[] = {
        {zoomIn, L"Zoom In", L"Enlarges the picture"},
        {zoomOut, L"Zoom Out", L"Zoom Out"},
        {fit, L"Fit", L""},  // the caption without "&" and "..."
        {menuOnly, L"Next", L""},
        {zoomIn, L"Zoom In", L"Enlarges the picture"},
    };
    classlib::THintWindow* window = hints.app->GetHintWindow();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.shown)));
        const RECT r = bar->GetView()->ViewerList[static_cast<std::size_t>(bar->GetItems()->IndexOf(c.item))]->EntryRect;
        ::SendMessageW(bar->GetHandle(), WM_MOUSEMOVE, 0, MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
        EXPECT_EQ(hints.app->GetHint(), c.status);
        EXPECT_TRUE(WaitFor([&] {
            classlib::Application->ProcessMessages();
            return window->IsHintShown() && window->GetCaption() == c.shown;
        }));
        EXPECT_EQ(window->GetHintData(), bar->GetView()->SelectedViewer);
        // A look at the first hint when a path is given.
        if (const char* shot = std::getenv("VELMO_TOOLBAR_HINT_SCREENSHOT"); shot && c.item == zoomIn) {
            classlib::TBitmap bmp;
            bmp.SetPixelFormat(classlib::pf24bit);
            bmp.SetSize(::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
            classlib::TWindowDC screen(nullptr);
            ::BitBlt(bmp.GetCanvas()->GetHandle(), 0, 0, bmp.GetWidth(), bmp.GetHeight(), screen.Get(), 0, 0, SRCCOPY);
            const std::string path(shot);
            bmp.SaveToFile(std::wstring(path.begin(), path.end()));
        }
    }
    EXPECT_EQ(hints.Status, (std::vector<std::wstring>{L"Enlarges the picture", L"Zoom Out", L"",
                                                       L"Enlarges the picture"}));

    bar->SetShowHint(false);
    EXPECT_FALSE(bar->GetView()->ViewStyle & vsMenuHints);
    ::SendMessageW(bar->GetHandle(), WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    EXPECT_FALSE(window->IsHintShown());
}

}  // namespace

namespace {

// The control entry hosting Control, and its viewer, or nulls.
TMbItemViewer* HostViewerOf(TMbCustomToolbar* Bar, classlib::TControl* Control)
{
    for (TMbItemViewer* v : Bar->GetView()->ViewerList)
        if (auto* ci = dynamic_cast<TMbControlItem*>(v->EntryItem))
            if (ci->GetControl() == Control) return v;
    return nullptr;
}

}  // namespace

TEST(MbToolbar, ControlsPlacedOnTheToolbarBecomeEntriesAndTakeThemAlongWhenTheyLeave)
{
    classlib::TForm form(nullptr);
    form.SetBorderStyle(classlib::bsNone);
    form.SetBounds(0, 0, 400, 100);
    auto* bar = new TMbToolbar(&form);
    bar->SetParent(&form);
    AddEntry(form, bar->GetItems(), new TMbItem(&form), L"First");
    form.Show();
    const int narrow = bar->GetWidth();

    auto* combo = new classlib::TComboBox(&form);
    combo->SetWidth(70);
    combo->SetParent(bar);
    TMbControlItem* host = bar->FindControlItem(combo);
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(bar->GetItems()->IndexOf(host), 1) << "a new control goes last";
    EXPECT_EQ(bar->GetItems()->GetCount(), 2) << "one entry, not one per notice";
    TMbItemViewer* v = HostViewerOf(bar, combo);
    ASSERT_NE(v, nullptr);
    EXPECT_TRUE(v->Placed);
    EXPECT_EQ(combo->GetLeft(), v->EntryRect.left);
    EXPECT_EQ(bar->GetWidth(), narrow + 70);
    // Tab does not go into the toolbar's controls.
    auto* field = new classlib::TEdit(&form);
    field->SetParent(&form);
    std::vector<classlib::TWinControl*> tabs;
    form.GetTabOrderList(tabs);
    EXPECT_EQ(std::count(tabs.begin(), tabs.end(), combo), 0);
    EXPECT_EQ(std::count(tabs.begin(), tabs.end(), field), 1);

    // Moved elsewhere: the entry goes, the control stays.
    combo->SetParent(&form);
    EXPECT_EQ(bar->FindControlItem(combo), nullptr);
    EXPECT_EQ(bar->GetItems()->GetCount(), 1);
    EXPECT_EQ(combo->GetParent(), &form);
    EXPECT_EQ(bar->GetWidth(), narrow);

    // Deleted while on the toolbar: the entry goes with it.
    auto* edit = new classlib::TEdit(&form);
    edit->SetWidth(50);
    edit->SetParent(bar);
    ASSERT_NE(bar->FindControlItem(edit), nullptr);
    delete edit;
    EXPECT_EQ(bar->GetItems()->GetCount(), 1);
    EXPECT_EQ(bar->GetWidth(), narrow);

    // An entry made for a control does not make a second one.
    bar->AddControlItem(0, combo);
    EXPECT_EQ(combo->GetParent(), bar);
    EXPECT_EQ(bar->GetItems()->GetCount(), 2);
    EXPECT_EQ(bar->GetItems()->IndexOf(bar->FindControlItem(combo)), 0);
}

TEST(MbToolbar, WhileLoadingOnlyTheStylesChangeAndTheEndAdoptsTheControls)
{
    classlib::TForm form(nullptr);
    form.SetBorderStyle(classlib::bsNone);
    form.SetBounds(0, 0, 400, 100);
    classlib::BeginLoading(&form);
    auto* bar = new TMbToolbar(&form);
    bar->SetParent(&form);
    bar->SetMenuBar(true);
    auto* combo = new classlib::TComboBox(&form);
    combo->SetWidth(70);
    combo->SetParent(bar);
    EXPECT_EQ(bar->FindControlItem(combo), nullptr) << "adopted only when loading ends";
    EXPECT_FALSE(bar->GetFullSize());
    EXPECT_FALSE(bar->GetProcessShortCuts());
    EXPECT_EQ(bar->GetShrinkMode(), tbsmChevron);
    EXPECT_TRUE(bar->ControlStyle & csMenuEvents);
    classlib::EndLoading(&form);
    ASSERT_NE(bar->FindControlItem(combo), nullptr);
    EXPECT_EQ(bar->GetItems()->GetCount(), 1);
    EXPECT_EQ(bar->GetWidth(), 70) << "arranged once loading ended";
    bar->SetMenuBar(false);
}

namespace {

struct TActionUpdates {
    int Calls = 0;
    bool Enable = false;
    void Update(classlib::TObject* Sender)
    {
        ++Calls;
        static_cast<classlib::TCustomAction*>(Sender)->SetEnabled(Enable);
    }
};

}  // namespace

TEST(MbToolbar, IdleUpdatesTheActionsOfItsEntriesUnlessTurnedOff)
{
    classlib::TForm form(nullptr);
    form.SetBorderStyle(classlib::bsNone);
    form.SetBounds(0, 0, 300, 60);
    auto* bar = new TMbToolbar(&form);
    bar->SetParent(&form);
    auto* action = new classlib::TCustomAction(&form);
    TActionUpdates updates;
    action->OnUpdate = classlib::TNotifyEvent(&updates, &TActionUpdates::Update);
    TMbCustomItem* item = AddEntry(form, bar->GetItems(), new TMbItem(&form), L"Run");
    item->SetAction(action);
    form.Show();
    const int before = updates.Calls;
    classlib::Application->Idle();
    EXPECT_GT(updates.Calls, before);
    EXPECT_FALSE(item->GetEnabled()) << "the action's state reached the entry";
    updates.Enable = true;
    classlib::Application->Idle();
    EXPECT_TRUE(item->GetEnabled());

    bar->UpdateActions = false;
    const int off = updates.Calls;
    updates.Enable = false;
    classlib::Application->Idle();
    EXPECT_EQ(updates.Calls, off);
    EXPECT_TRUE(item->GetEnabled());
    form.Hide();
}

TEST(MbToolbar, AnchoredOnBothSidesItKeepsItsWidthAndShowsTheChevron)
{
    classlib::TForm form(nullptr);
    form.SetBorderStyle(classlib::bsNone);
    form.SetBounds(0, 0, 160, 100);
    auto* bar = new TMbToolbar(&form);
    for (int i = 0; i < 6; ++i) AddEntry(form, bar->GetItems(), new TMbItem(&form), (L"Button " + std::to_wstring(i)).c_str());
    bar->SetBounds(0, 0, 150, 22);
    bar->SetAnchors(classlib::akLeft | classlib::akTop | classlib::akRight);
    bar->SetParent(&form);
    form.Show();
    EXPECT_EQ(bar->GetWidth(), 150);
    auto chevronPlaced = [&] {
        for (TMbItemViewer* v : bar->GetView()->ViewerList)
            if (v->EntryItem == bar->GetChevronItem()) return v->Placed;
        return false;
    };
    EXPECT_TRUE(chevronPlaced());
    form.SetWidth(1010);  // the anchors stretch it; everything fits
    EXPECT_EQ(bar->GetWidth(), 1000);
    EXPECT_FALSE(chevronPlaced());
}
