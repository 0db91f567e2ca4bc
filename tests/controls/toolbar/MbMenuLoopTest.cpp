// The popup menu's loop driven by real input (synthesised keyboard and mouse
// events from a second thread): keys and the pointer move through entries,
// a submenu opens, a chosen entry's click runs once after the menu closed,
// Esc and a press outside cancel.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <thread>

#include "classlib/Bitmap.h"
#include "classlib/Forms.h"
#include "controls/toolbar/MbItem.h"

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

HWND WaitPopup(int Nth)
{
    for (int i = 0; i < 300; ++i) {
        if (HWND w = VisiblePopup(Nth)) return w;
        ::Sleep(10);
    }
    return nullptr;
}

void Key(WORD Vk)
{
    INPUT in[2]{};
    in[0].type = in[1].type = INPUT_KEYBOARD;
    in[0].ki.wVk = in[1].ki.wVk = Vk;
    in[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(2, in, sizeof(INPUT));
    ::Sleep(40);
}

// The screen point of entry row Row (20-pixel rows) of a popup window.
POINT RowPoint(HWND Popup, int Row)
{
    POINT p{30, Row * 20 + 10};
    ::ClientToScreen(Popup, &p);
    return p;
}

void MouseTo(POINT P)
{
    ::SetCursorPos(P.x, P.y);
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = P.x * 65535 / (::GetSystemMetrics(SM_CXSCREEN) - 1);
    in.mi.dy = P.y * 65535 / (::GetSystemMetrics(SM_CYSCREEN) - 1);
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &in, sizeof(INPUT));
    ::Sleep(60);
}

void Click()
{
    INPUT in[2]{};
    in[0].type = in[1].type = INPUT_MOUSE;
    in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ::SendInput(1, &in[0], sizeof(INPUT));
    ::Sleep(40);
    ::SendInput(1, &in[1], sizeof(INPUT));
    ::Sleep(40);
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
    TMbCustomItem* Run(const std::function<void()>& Drive)
    {
        MouseTo(POINT{380, 280});
        std::thread driver([&] {
            if (WaitPopup(0)) Drive();
        });
        TMbCustomItem* chosen = menu->Popup(100, 100);
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
        subClosed = VisiblePopup(1) == nullptr && VisiblePopup(0) != nullptr;
        Key(VK_ESCAPE);
    });
    EXPECT_TRUE(subClosed);
    EXPECT_EQ(chosen, nullptr);
    classlib::Application->ProcessMessages();
    EXPECT_EQ(clicks.Deep + clicks.Alpha, 0);
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

}  // namespace
