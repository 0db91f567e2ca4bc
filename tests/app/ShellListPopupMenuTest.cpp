// The program's popup menu (the toolbar framework's) inside the shell's
// context menu of the file list: its items are shown there and choosing one
// clicks the item.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/Forms.h"
#include "controls/shell/ShNamespace.h"
#include "controls/shell/ShellControls.h"
#include "controls/toolbar/MbItem.h"
#include "support/TestSupport.h"

namespace {

// Reads the first-level texts of the next popup menu shown on this thread,
// then chooses the entry whose text is Choice with the keyboard.
struct ChooseEntry {
    static inline std::wstring choice;
    static inline std::vector<std::wstring> texts;
    static inline int ticks = 0;
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD)
    {
        HWND window = ::FindWindowW(L"#32768", nullptr);
        if (!window || !::IsWindowVisible(window)) return;
        auto menu = reinterpret_cast<HMENU>(::SendMessageW(window, 0x01E1 /* MN_GETHMENU */, 0, 0));
        if (!menu || ++ticks > 100) {
            ::EndMenu();
            return;
        }
        if (texts.empty())
            for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
                wchar_t text[256] = {};
                ::GetMenuStringW(menu, UINT(i), text, 256, MF_BYPOSITION);
                std::wstring plain;
                for (const wchar_t* p = text; *p; ++p)
                    if (*p != L'&') plain += *p;
                texts.push_back(plain);
            }
        int at = -1;
        for (int i = 0; i < ::GetMenuItemCount(menu); ++i)
            if (::GetMenuState(menu, UINT(i), MF_BYPOSITION) & MF_HILITE) at = i;
        const bool there = at >= 0 && size_t(at) < texts.size() && texts[size_t(at)] == choice;
        ::PostMessageW(window, WM_KEYDOWN, there ? VK_RETURN : VK_DOWN, 0);
    }
    explicit ChooseEntry(const std::wstring& Choice)
    {
        choice = Choice;
        texts.clear();
        ticks = 0;
        id = ::SetTimer(nullptr, 0, 40, &OnTimer);
    }
    ~ChooseEntry() { ::KillTimer(nullptr, id); }
    UINT_PTR id;
};

TEST(ShellListPopupMenu, ItsItemsAreChosenFromTheShellsMenu)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    HANDLE h = ::CreateFileW(dir.File(L"a.jpg").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ::CloseHandle(h);

    classlib::TForm form(nullptr);
    auto* menu = new toolbar::TMbPopupMenu(&form);
    auto* add = new toolbar::TMbItem(&form);
    add->SetCaption(L"Add to album");
    auto* hidden = new toolbar::TMbItem(&form);
    hidden->SetCaption(L"Not now");
    hidden->SetVisible(false);
    menu->GetItems()->Add(add);
    menu->GetItems()->Add(hidden);
    int clicks = 0, popups = 0;
    add->OnClick =
        classlib::TNotifyEvent::FromFunction([](void* c, classlib::TObject*) { ++*static_cast<int*>(c); }, &clicks);
    menu->OnPopup =
        classlib::TNotifyEvent::FromFunction([](void* c, classlib::TObject*) { ++*static_cast<int*>(c); }, &popups);

    auto* list = new shell::TShellList(&form);
    list->SetParent(&form);
    list->SetPath(dir.Path());
    list->SetPopupMenu(menu);
    list->SetItemIndex(0);
    HWND wnd = list->GetHandle();
    {
        ChooseEntry chooser(L"Add to album");
        ::SendMessageW(wnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(wnd), MAKELPARAM(-1, -1));
    }
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(popups, 1);
    ASSERT_GT(ChooseEntry::texts.size(), 1u);
    EXPECT_EQ(ChooseEntry::texts.front(), L"Add to album");
    for (const std::wstring& text : ChooseEntry::texts) EXPECT_NE(text, L"Not now");
}

}  // namespace
