// The commands of the file list and the folder tree: keys, mouse side
// buttons, context menus, shell verbs with their reports, the list's
// background picture.
#include "controls/shell/ShellControls.h"

#include <windows.h>
#include <shlobj.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Forms.h"
#include "classlib/Menus.h"
#include "classlib/SysUtils.h"
#include "controls/shell/ShNamespace.h"
#include "support/TestSupport.h"
#include "tests/controls/shell/ShellHost.h"
#include "tests/controls/shell/ShellPump.h"
#include "tests/controls/shell/ShellTestFiles.h"

namespace {

using testsupport::Touch;

bool Exists(const std::wstring& Path) { return ::GetFileAttributesW(Path.c_str()) != INVALID_FILE_ATTRIBUTES; }

using shelltest::HostForm;
using shelltest::Placed;

// A popup menu that counts where it was asked to show.
struct CountingMenu : classlib::TPopupMenu {
    using classlib::TPopupMenu::TPopupMenu;
    std::vector<POINT> shown;
    void Popup(int X, int Y) override { shown.push_back(POINT{X, Y}); }
};

// The operations a control reported.
struct Reports {
    struct Report {
        shell::TShellOperations operation;
        std::vector<std::wstring> files;
        std::wstring destination;
    };
    std::vector<Report> list;
    void Operation(classlib::TObject*, shell::TShellOperations op, classlib::TStringList* files, const std::wstring& dest)
    {
        Report r{op, {}, dest};
        for (int i = 0; i < files->GetCount(); ++i) r.files.push_back(files->GetStrings(i));
        list.push_back(r);
    }
};

constexpr shell::TShellOperations Ops(std::initializer_list<shell::TShellOperation> ops)
{
    shell::TShellOperations bits = 0;
    for (auto o : ops) bits |= shell::OperationBit(o);
    return bits;
}

// Holds modifier keys down in this thread's keyboard state while it lives.
class HeldKeys {
public:
    explicit HeldKeys(const std::vector<int>& keys)
    {
        ::GetKeyboardState(saved_);
        BYTE state[256];
        std::memcpy(state, saved_, sizeof(state));
        for (int k : {VK_SHIFT, VK_CONTROL, VK_MENU, VK_LSHIFT, VK_LCONTROL, VK_LMENU}) state[k] = 0;
        for (int k : keys) state[k] = 0x80;
        ::SetKeyboardState(state);
    }
    ~HeldKeys() { ::SetKeyboardState(saved_); }

private:
    BYTE saved_[256];
};

// A key pressed in a window with the given modifiers held (with Alt, and
// F10, the system key messages, as the keyboard sends them).
void PressKey(HWND Wnd, WORD Key, const std::vector<int>& Modifiers = {})
{
    HeldKeys held(Modifiers);
    bool alt = false;
    for (int m : Modifiers) alt = alt || m == VK_MENU;
    const bool sys = alt || Key == VK_F10;
    const LPARAM data = 1 | (alt ? (1 << 29) : 0);
    ::SendMessageW(Wnd, sys ? WM_SYSKEYDOWN : WM_KEYDOWN, Key, data);
    ::SendMessageW(Wnd, sys ? WM_SYSKEYUP : WM_KEYUP, Key, data | (1u << 30) | (1u << 31));
}

// The files on the clipboard.
std::vector<std::wstring> ClipboardNames()
{
    std::vector<std::wstring> names;
    if (!::OpenClipboard(nullptr)) return names;
    if (auto drop = static_cast<HDROP>(::GetClipboardData(CF_HDROP))) {
        const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
            wchar_t name[MAX_PATH] = {};
            ::DragQueryFileW(drop, i, name, MAX_PATH);
            names.push_back(name);
        }
    }
    ::CloseClipboard();
    return names;
}

// Puts Files on the clipboard as the platform's copy (DROPEFFECT_COPY) or
// cut (DROPEFFECT_MOVE) leaves them.
void SetClipboardFiles(const std::vector<std::wstring>& Files, DWORD Effect)
{
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    ::SetClipboardData(CF_HDROP, shelltest::MakeDrop(Files));
    HGLOBAL effect = ::GlobalAlloc(GHND, sizeof(DWORD));
    *static_cast<DWORD*>(::GlobalLock(effect)) = Effect;
    ::GlobalUnlock(effect);
    ::SetClipboardData(::RegisterClipboardFormatW(CFSTR_PREFERREDDROPEFFECT), effect);
    ::CloseClipboard();
}

void EmptyClipboard()
{
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    ::CloseClipboard();
}

// Answers "Yes" to the confirmations the shell shows on this thread while
// it lives (a delete asks first); counts them.
class ConfirmYes {
public:
    ConfirmYes() { id_ = ::SetTimer(nullptr, 0, 50, &OnTimer); }
    ~ConfirmYes() { ::KillTimer(nullptr, id_); }
    static inline int answered = 0;
    static inline std::vector<std::wstring> titles;  // of the dialogs answered

private:
    static BOOL CALLBACK Answer(HWND Wnd, LPARAM)
    {
        wchar_t cls[32] = {};
        ::GetClassNameW(Wnd, cls, 32);
        if (std::wstring(cls) == L"#32770" && ::IsWindowVisible(Wnd)) {
            ++answered;
            wchar_t title[256] = {};
            ::GetWindowTextW(Wnd, title, 256);
            titles.push_back(title);
            ::PostMessageW(Wnd, WM_COMMAND, ::GetDlgItem(Wnd, IDYES) ? IDYES : IDOK, 0);
        }
        return TRUE;
    }
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD)
    {
        ::EnumThreadWindows(::GetCurrentThreadId(), &Answer, 0);
    }
    UINT_PTR id_;
};

std::vector<std::wstring> Captions(shell::TShellList* List)
{
    std::vector<std::wstring> v;
    for (int i = 0; i < List->GetItems()->GetCount(); ++i) v.push_back(List->GetItems()->GetItem(i)->GetCaption());
    return v;
}

int IndexOf(shell::TShellList* List, const std::wstring& Caption)
{
    for (int i = 0; i < List->GetItems()->GetCount(); ++i)
        if (List->GetItems()->GetItem(i)->GetCaption() == Caption) return i;
    return -1;
}

// Copy, cut, paste and delete from the keyboard act on real files through
// the shell and report what they did; a read-only list takes none of the
// changing keys.
TEST(ShellCommands, ListKeysRunVerbsAndReportThem)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    const std::wstring src = dir.File(L"src"), dst = dir.File(L"dst");
    ::CreateDirectoryW(src.c_str(), nullptr);
    ::CreateDirectoryW(dst.c_str(), nullptr);
    Touch(src + L"\\a.txt");
    Touch(src + L"\\b.txt");

    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    list->SetReadOnly(false);
    list->SetAutomaticRefresh(false);
    Reports reports;
    list->OnOperation = shell::TOnOperation(&reports, &Reports::Operation);
    list->SetPath(src);
    HWND wnd = list->GetHandle();

    // Ctrl+C: the selected file goes to the clipboard; nothing is reported.
    EmptyClipboard();
    list->SetItemIndex(IndexOf(list, L"a.txt"));
    PressKey(wnd, 'C', {VK_CONTROL});
    EXPECT_EQ(ClipboardNames(), std::vector<std::wstring>{src + L"\\a.txt"});
    EXPECT_TRUE(reports.list.empty());

    // Ctrl+V in another folder: copied there, reported as a copy.
    list->SetPath(dst);
    PressKey(wnd, 'V', {VK_CONTROL});
    EXPECT_TRUE(shelltest::PumpUntil([&] { return Exists(dst + L"\\a.txt"); }));
    EXPECT_TRUE(Exists(src + L"\\a.txt"));
    ASSERT_EQ(reports.list.size(), 1u);
    EXPECT_EQ(reports.list[0].operation, Ops({shell::sopCopy, shell::sopPaste, shell::sopAdd}));
    EXPECT_EQ(reports.list[0].files, std::vector<std::wstring>{src + L"\\a.txt"});
    EXPECT_EQ(reports.list[0].destination, dst + L"\\");

    // Ctrl+X puts the file on the clipboard and marks its item cut.
    list->SetPath(src);
    list->SetItemIndex(IndexOf(list, L"b.txt"));
    EmptyClipboard();
    PressKey(wnd, 'X', {VK_CONTROL});
    EXPECT_EQ(ClipboardNames(), std::vector<std::wstring>{src + L"\\b.txt"});
    EXPECT_EQ(::SendMessageW(wnd, LVM_GETITEMSTATE, static_cast<WPARAM>(IndexOf(list, L"b.txt")), LVIS_CUT), LVIS_CUT);
    // Pasting files that were cut moves them (the clipboard as the
    // platform's cut leaves it); the report says so.
    SetClipboardFiles({src + L"\\b.txt"}, DROPEFFECT_MOVE);
    list->SetPath(dst);
    PressKey(wnd, 'V', {VK_CONTROL});
    EXPECT_TRUE(shelltest::PumpUntil([&] { return Exists(dst + L"\\b.txt") && !Exists(src + L"\\b.txt"); }));
    ASSERT_EQ(reports.list.size(), 2u);
    EXPECT_EQ(reports.list[1].operation, Ops({shell::sopMove, shell::sopPaste, shell::sopAdd}));
    EXPECT_EQ(reports.list[1].files, std::vector<std::wstring>{src + L"\\b.txt"});

    // Read-only: Delete, Ctrl+V and Ctrl+X do nothing.
    list->Populate();
    list->SetReadOnly(true);
    wnd = list->GetHandle();
    list->SetItemIndex(IndexOf(list, L"a.txt"));
    PressKey(wnd, VK_DELETE);
    PressKey(wnd, 'V', {VK_CONTROL});
    shelltest::PumpFor(200);
    EXPECT_TRUE(Exists(dst + L"\\a.txt"));
    EXPECT_EQ(reports.list.size(), 2u);

    // Delete: the file goes, its item leaves, the report names it.
    list->SetReadOnly(false);
    wnd = list->GetHandle();
    list->SetItemIndex(IndexOf(list, L"a.txt"));
    {
        ConfirmYes yes;
        PressKey(wnd, VK_DELETE);
    }
    EXPECT_FALSE(Exists(dst + L"\\a.txt"));
    EXPECT_EQ(Captions(list), std::vector<std::wstring>{L"b.txt"});
    ASSERT_EQ(reports.list.size(), 3u);
    EXPECT_EQ(reports.list[2].operation, Ops({shell::sopDelete, shell::sopRemove}));
    EXPECT_EQ(reports.list[2].files, std::vector<std::wstring>{dst + L"\\a.txt"});

    // "rename" edits the selected name in place.
    list->SetItemIndex(0);
    EXPECT_TRUE(list->ExecuteVerb(L"rename"));
    EXPECT_NE(::SendMessageW(wnd, LVM_GETEDITCONTROL, 0, 0), 0);
    ::SendMessageW(wnd, LVM_CANCELEDITLABEL, 0, 0);
}

// Enter and a double click run the default verb: a folder opens in the
// list, a link to a folder shows its target, " .. " goes up. Enter does so
// only while no OnKeyDown handler is assigned; Alt+Enter asks for the
// properties instead.
TEST(ShellCommands, ListOpensFoldersAndLinksWithEnterAndDoubleClick)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ::CreateDirectoryW(dir.File(L"inner").c_str(), nullptr);
    ::CreateDirectoryW(dir.File(L"target").c_str(), nullptr);
    Touch(dir.File(L"inner\\x.txt"));
    {
        IShellLinkW* link = nullptr;
        ASSERT_EQ(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                     reinterpret_cast<void**>(&link)),
                  S_OK);
        link->SetPath(dir.File(L"target").c_str());
        IPersistFile* file = nullptr;
        link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
        ASSERT_EQ(file->Save(dir.File(L"to target.lnk").c_str(), TRUE), S_OK);
        file->Release();
        link->Release();
    }

    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    list->SetShowParentFolder(true);
    list->SetPath(dir.Path());
    HWND wnd = list->GetHandle();

    // Enter with a key handler: left to the handler.
    int keys = 0;
    list->OnKeyDown = classlib::TKeyEvent::FromFunction(
        [](void* c, classlib::TObject*, WORD&, classlib::TShiftState) { ++*static_cast<int*>(c); }, &keys);
    list->SetItemIndex(IndexOf(list, L"inner"));
    PressKey(wnd, VK_RETURN);
    EXPECT_EQ(keys, 1);
    EXPECT_EQ(list->GetPath(), dir.Path() + L"\\");
    list->OnKeyDown.Clear();

    PressKey(wnd, VK_RETURN);
    EXPECT_EQ(list->GetPath(), dir.File(L"inner") + L"\\");
    list->SetItemIndex(IndexOf(list, L" .. "));
    ASSERT_GE(list->GetItemIndex(), 0);
    // " .. " names no object: its name is never edited.
    list->SetReadOnly(false);
    wnd = list->GetHandle();
    list->SetItemIndex(IndexOf(list, L" .. "));
    PressKey(wnd, VK_F2);
    EXPECT_EQ(::SendMessageW(wnd, LVM_GETEDITCONTROL, 0, 0), 0);
    PressKey(wnd, VK_RETURN);
    EXPECT_EQ(list->GetPath(), dir.Path() + L"\\");

    // The link (shown by its name without ".lnk") opens its target folder.
    int linkIndex = -1;
    for (int i = 0; i < list->GetItems()->GetCount(); ++i)
        if (list->GetItems()->GetItem(i)->GetCaption().rfind(L"to target", 0) == 0) linkIndex = i;
    ASSERT_GE(linkIndex, 0);
    list->SetItemIndex(linkIndex);
    EXPECT_TRUE(list->ExecuteVerb(L"open"));
    EXPECT_EQ(list->GetPath(), dir.File(L"target") + L"\\");

    // A double click on the selected folder item opens it (no OnDblClick).
    list->SetPath(dir.Path());
    const int inner = IndexOf(list, L"inner");
    list->SetItemIndex(inner);
    RECT r{};
    r.left = LVIR_LABEL;
    ASSERT_TRUE(::SendMessageW(wnd, LVM_GETITEMRECT, static_cast<WPARAM>(inner), reinterpret_cast<LPARAM>(&r)));
    const LPARAM at = MAKELPARAM(r.left + 3, (r.top + r.bottom) / 2);
    ::SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(wnd, WM_LBUTTONUP, 0, at);
    ::SendMessageW(wnd, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    ::SendMessageW(wnd, WM_LBUTTONUP, 0, at);
    shelltest::PumpFor(100);
    EXPECT_EQ(list->GetPath(), dir.File(L"inner") + L"\\");

    // Nothing selected: no verb.
    list->SetItemIndex(-1);
    EXPECT_FALSE(list->ExecuteVerb(L"default"));
}

// Alt+Enter asks the shell for the properties of the selected file (its
// dialog is answered at once).
TEST(ShellCommands, ListAltEnterShowsTheProperties)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    Touch(dir.File(L"a.txt"));
    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    list->SetPath(dir.Path());
    list->SetItemIndex(0);
    ConfirmYes close;
    ConfirmYes::answered = 0;
    PressKey(list->GetHandle(), VK_RETURN, {VK_MENU});
    EXPECT_TRUE(shelltest::PumpUntil([] { return ConfirmYes::answered > 0; }));
    ASSERT_FALSE(ConfirmYes::titles.empty());
    EXPECT_NE(ConfirmYes::titles.back().find(L"a.txt"), std::wstring::npos) << ConfirmYes::titles.back();
    shelltest::PumpFor(200);
    EXPECT_EQ(list->GetPath(), dir.Path() + L"\\");
}

// Alt+Left/Right and the mouse's side buttons step through the history of
// the list and of the tree; a side button with another key held, or Ctrl
// with the arrows, does nothing.
TEST(ShellCommands, SideButtonsAndAltArrowsStepThroughTheHistory)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (const wchar_t* n : {L"a", L"b"}) ::CreateDirectoryW(dir.File(n).c_str(), nullptr);

    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    auto* tree = Placed<shell::TShellTree>(form);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    for (const wchar_t* n : {L"a", L"b"}) {
        list->SetPath(dir.File(n));
        tree->SetPath(dir.File(n));
    }
    struct Step {
        const char* what;
        UINT message;  // WM_XBUTTONDOWN, or a key
        WPARAM wParam;
        std::vector<int> held;
        const wchar_t* folder;  // where both end up
    };
    const Step steps[] = {
        {"back button", WM_XBUTTONDOWN, 0x10020, {}, L"a"},
        {"forward button with Ctrl", WM_XBUTTONDOWN, 0x10020 | MK_CONTROL, {}, L"a"},
        {"forward button", WM_XBUTTONDOWN, 0x20040, {}, L"b"},
        {"Alt+Left", WM_KEYDOWN, VK_LEFT, {VK_MENU}, L"a"},
        {"Ctrl+Alt+Right", WM_KEYDOWN, VK_RIGHT, {VK_MENU, VK_CONTROL}, L"a"},
        {"Alt+Right", WM_KEYDOWN, VK_RIGHT, {VK_MENU}, L"b"},
    };
    for (const Step& st : steps) {
        for (HWND wnd : {list->GetHandle(), tree->GetHandle()}) {
            if (st.message == WM_XBUTTONDOWN) {
                ::SendMessageW(wnd, WM_XBUTTONDOWN, st.wParam, MAKELPARAM(2, 2));
                ::SendMessageW(wnd, WM_XBUTTONUP, st.wParam & 0xFFFF0000, MAKELPARAM(2, 2));
            } else {
                PressKey(wnd, static_cast<WORD>(st.wParam), st.held);
            }
        }
        EXPECT_EQ(list->GetPath(), dir.File(st.folder) + L"\\") << st.what;
        EXPECT_EQ(tree->GetPath(), dir.File(st.folder)) << st.what;
    }
}

// A right click on no item shows the background menu only; on an item the
// shell's menu, or with ShellContextMenu off the control's own menu, or
// without one the request goes to the parent. A freed menu is forgotten.
TEST(ShellCommands, ListContextMenuByPlace)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    Touch(dir.File(L"a.txt"));

    HostForm form;
    form.SetBounds(0, 0, 300, 300);
    auto* list = Placed<shell::TShellList>(form);
    list->SetBounds(0, 0, 300, 300);
    list->SetPath(dir.Path());
    HWND wnd = list->GetHandle();
    auto* background = new CountingMenu(&form);
    auto* own = new CountingMenu(&form);
    list->SetBackgroundPopupMenu(background);
    list->SetPopupMenu(own);
    list->ShellContextMenu = false;
    // The right button's release is heard before the menu shows, and only
    // for the mouse's request.
    struct UpRecorder {
        CountingMenu* background;
        std::vector<std::pair<POINT, size_t>> ups;  // point, menus shown then
        void Up(classlib::TObject*, classlib::TMouseButton Button, classlib::TShiftState, int X, int Y)
        {
            if (Button == classlib::mbRight) ups.push_back({POINT{X, Y}, background->shown.size()});
        }
    } ups{background, {}};
    list->OnMouseUp = classlib::TMouseEvent(&ups, &UpRecorder::Up);

    RECT item{};
    item.left = LVIR_LABEL;
    ASSERT_TRUE(::SendMessageW(wnd, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item)));
    auto rightClick = [&](int x, int y) {
        POINT p{x, y};
        ::ClientToScreen(wnd, &p);
        return ::SendMessageW(wnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(wnd), MAKELPARAM(p.x, p.y));
    };
    EXPECT_EQ(rightClick(150, 250), 0);
    EXPECT_EQ(background->shown.size(), 1u);
    EXPECT_TRUE(own->shown.empty());
    EXPECT_EQ(background->PopupComponent, list);
    ASSERT_EQ(ups.ups.size(), 1u);
    EXPECT_EQ(ups.ups[0].first.x, 150);
    EXPECT_EQ(ups.ups[0].first.y, 250);
    EXPECT_EQ(ups.ups[0].second, 0u);

    rightClick(item.left + 2, item.top + 2);
    EXPECT_EQ(own->shown.size(), 1u);
    EXPECT_EQ(background->shown.size(), 1u);
    EXPECT_EQ(form.contextMenus, 0);

    // From the keyboard with the item selected: at its corner.
    list->SetItemIndex(0);
    ::SendMessageW(wnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(wnd), MAKELPARAM(-1, -1));
    ASSERT_EQ(own->shown.size(), 2u);
    RECT bounds{};
    bounds.left = LVIR_SELECTBOUNDS;
    ::SendMessageW(wnd, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&bounds));
    POINT corner{bounds.right, bounds.bottom};
    ::ClientToScreen(wnd, &corner);
    EXPECT_EQ(own->shown[1].x, corner.x);
    EXPECT_EQ(own->shown[1].y, corner.y);
    EXPECT_EQ(ups.ups.size(), 2u);

    // Freed menus are forgotten; the item's request then reaches the form.
    delete own;
    delete background;
    EXPECT_EQ(list->GetPopupMenu(), nullptr);
    EXPECT_EQ(list->GetBackgroundPopupMenu(), nullptr);
    rightClick(item.left + 2, item.top + 2);
    EXPECT_EQ(form.contextMenus, 1);
    rightClick(150, 250);
    EXPECT_EQ(form.contextMenus, 1);
}

// Closes the next popup menu shown on this thread; counts the menus seen.
struct MenuCloser {
    static inline int seen = 0;
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD)
    {
        HWND menu = ::FindWindowW(L"#32768", nullptr);
        if (menu && ::IsWindowVisible(menu)) {
            ++seen;
            ::EndMenu();
        }
    }
    MenuCloser() { id = ::SetTimer(nullptr, 0, 50, &OnTimer); }
    ~MenuCloser() { ::KillTimer(nullptr, id); }
    UINT_PTR id;
};

// Chooses the entry of the next popup menu shown on this thread whose text
// (without "&") starts with Choice, ignoring case.
struct MenuChooser {
    static inline std::wstring choice;
    static inline bool chosen = false;
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD)
    {
        HWND window = ::FindWindowW(L"#32768", nullptr);
        if (chosen || !window || !::IsWindowVisible(window)) return;
        chosen = true;
        auto menu = reinterpret_cast<HMENU>(::SendMessageW(window, 0x01E1 /* MN_GETHMENU */, 0, 0));
        int downs = 0, target = -1;
        for (int i = 0; menu && i < ::GetMenuItemCount(menu) && target < 0; ++i) {
            wchar_t text[256] = {};
            ::GetMenuStringW(menu, UINT(i), text, 256, MF_BYPOSITION);
            std::wstring plain;
            for (const wchar_t* p = text; *p; ++p)
                if (*p != L'&') plain += *p;
            if (plain.size() >= choice.size() && classlib::WideSameText(plain.substr(0, choice.size()), choice))
                target = i;
            else if (!(::GetMenuState(menu, UINT(i), MF_BYPOSITION) & (MF_SEPARATOR | MF_DISABLED | MF_GRAYED)))
                ++downs;
        }
        if (target < 0) {
            ::EndMenu();
            return;
        }
        for (int i = 0; i <= downs; ++i) ::PostMessageW(window, WM_KEYDOWN, VK_DOWN, 0);
        ::PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
    }
    explicit MenuChooser(const std::wstring& Choice)
    {
        choice = Choice;
        chosen = false;
        id = ::SetTimer(nullptr, 0, 50, &OnTimer);
    }
    ~MenuChooser() { ::KillTimer(nullptr, id); }
    UINT_PTR id;
};

// With ShellContextMenu on, the item's request and Shift+F10 show the
// shell's menu of the selection; a verb chosen there is followed like one
// from the keyboard.
TEST(ShellCommands, ListShowsTheShellMenuOfTheSelection)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    Touch(dir.File(L"a.txt"));

    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    list->SetPath(dir.Path());
    HWND wnd = list->GetHandle();
    auto* own = new CountingMenu(&form);
    list->SetPopupMenu(own);
    list->SetItemIndex(0);
    {
        MenuCloser closer;
        MenuCloser::seen = 0;
        ::SendMessageW(wnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(wnd), MAKELPARAM(-1, -1));
        EXPECT_EQ(MenuCloser::seen, 1);
        PressKey(wnd, VK_F10, {VK_SHIFT});
        EXPECT_EQ(MenuCloser::seen, 2);
    }
    EXPECT_TRUE(own->shown.empty());
    EXPECT_EQ(form.contextMenus, 0);

    // "Delete" from the menu: the file and its item go, the report names it.
    list->SetReadOnly(false);
    wnd = list->GetHandle();
    list->SetItemIndex(0);
    Reports reports;
    list->OnOperation = shell::TOnOperation(&reports, &Reports::Operation);
    {
        ConfirmYes yes;
        MenuChooser chooser(L"Delete");
        list->ShowShellContextMenu(POINT{10, 10});
        EXPECT_TRUE(MenuChooser::chosen);
    }
    EXPECT_FALSE(Exists(dir.File(L"a.txt")));
    EXPECT_EQ(list->GetItems()->GetCount(), 0);
    ASSERT_EQ(reports.list.size(), 1u);
    EXPECT_EQ(reports.list[0].operation, Ops({shell::sopDelete, shell::sopRemove}));
    EXPECT_EQ(reports.list[0].files, std::vector<std::wstring>{dir.File(L"a.txt")});
}

// The background picture is written to a file of a unique name that lives
// as long as the picture is shown: each change writes a new one and
// deletes the old, removal and the window's end delete it.
TEST(ShellCommands, ListBackgroundPictureLivesInItsOwnFile)
{
    shell::TShellScope shellScope;
    HostForm form;
    auto* first = Placed<shell::TShellList>(form);
    auto* second = Placed<shell::TShellList>(form);
    classlib::TBitmap picture;
    picture.SetSize(32, 24);

    EXPECT_TRUE(first->BackgroundImageFile().empty());
    first->SetBackgroundImage(&picture);
    second->SetBackgroundImage(&picture);
    const std::wstring a = first->BackgroundImageFile(), b = second->BackgroundImageFile();
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_TRUE(Exists(a));
    EXPECT_TRUE(Exists(b));
    EXPECT_TRUE(shell::SamePath(classlib::ExtractFilePath(a), shell::GetTempFolder()));
    // What the file holds is the picture.
    classlib::TBitmap back;
    back.LoadFromFile(a);
    EXPECT_EQ(back.GetWidth(), 32);
    EXPECT_EQ(back.GetHeight(), 24);

    for (auto style : {shell::bisLeftTop, shell::bisRightBottom, shell::bisTiled}) {
        const std::wstring before = first->BackgroundImageFile();
        first->SetBackgroundImageStyle(style);
        EXPECT_EQ(first->GetBackgroundImageStyle(), style);
        EXPECT_FALSE(Exists(before));
        EXPECT_TRUE(Exists(first->BackgroundImageFile()));
    }
    const std::wstring last = first->BackgroundImageFile();
    first->SetBackgroundImage(nullptr);
    EXPECT_FALSE(Exists(last));
    EXPECT_TRUE(first->BackgroundImageFile().empty());
    EXPECT_EQ(first->GetBackgroundImage(), nullptr);

    // A file of the name the list would choose is never written through:
    // the name is taken afresh and exclusively each time.
    second->DestroyHandle();
    EXPECT_FALSE(Exists(b));
    second->HandleNeeded();
    EXPECT_TRUE(Exists(second->BackgroundImageFile()));
    const std::wstring again = second->BackgroundImageFile();
    delete second;
    EXPECT_FALSE(Exists(again));
}

// The tree's keys: Ctrl+C copies the selected folder, Ctrl+V pastes into it
// and reports [sopPaste, sopAdd], Delete deletes a folder but never the
// root, Alt alone and the control characters of Ctrl+C/V/X go no further.
TEST(ShellCommands, TreeKeysRunVerbsOnTheSelectedFolder)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ::CreateDirectoryW(dir.File(L"src").c_str(), nullptr);
    ::CreateDirectoryW(dir.File(L"dst").c_str(), nullptr);
    Touch(dir.File(L"src\\f.txt"));

    HostForm form;
    auto* tree = Placed<shell::TShellTree>(form);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    Reports reports;
    tree->OnOperation = shell::TOnOperation(&reports, &Reports::Operation);
    HWND wnd = tree->GetHandle();
    int keys = 0, chars = 0;
    tree->OnKeyDown = classlib::TKeyEvent::FromFunction(
        [](void* c, classlib::TObject*, WORD&, classlib::TShiftState) { ++*static_cast<int*>(c); }, &keys);
    tree->OnKeyPress =
        classlib::TKeyPressEvent::FromFunction([](void* c, classlib::TObject*, wchar_t&) { ++*static_cast<int*>(c); },
                                               &chars);

    tree->SetPath(dir.File(L"src"));
    EmptyClipboard();
    PressKey(wnd, 'C', {VK_CONTROL});
    EXPECT_EQ(ClipboardNames(), std::vector<std::wstring>{dir.File(L"src")});

    // Ctrl+X: the folder goes to the clipboard, its node shows cut.
    EmptyClipboard();
    PressKey(wnd, 'X', {VK_CONTROL});
    EXPECT_EQ(ClipboardNames(), std::vector<std::wstring>{dir.File(L"src")});
    const auto srcNode = reinterpret_cast<HTREEITEM>(::SendMessageW(wnd, TVM_GETNEXTITEM, TVGN_CARET, 0));
    EXPECT_EQ(::SendMessageW(wnd, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(srcNode), TVIS_CUT), TVIS_CUT);

    PressKey(wnd, 'C', {VK_CONTROL});
    tree->SetPath(dir.File(L"dst"));
    PressKey(wnd, 'V', {VK_CONTROL});
    EXPECT_TRUE(shelltest::PumpUntil([&] { return Exists(dir.File(L"dst\\src\\f.txt")); }));
    ASSERT_EQ(reports.list.size(), 1u);
    EXPECT_EQ(reports.list[0].operation, Ops({shell::sopPaste, shell::sopAdd}));
    EXPECT_EQ(reports.list[0].files, std::vector<std::wstring>{dir.File(L"src")});
    EXPECT_EQ(reports.list[0].destination, tree->GetSelectedFolder());
    EXPECT_TRUE(shell::SamePath(reports.list[0].destination, dir.File(L"dst")));

    // Alt alone is kept; the characters of Ctrl+C, Ctrl+V, Ctrl+X too.
    keys = 0;
    PressKey(wnd, VK_MENU, {VK_MENU});
    EXPECT_EQ(keys, 0);
    PressKey(wnd, VK_MENU, {VK_MENU, VK_CONTROL});
    EXPECT_EQ(keys, 1);
    for (wchar_t c : {wchar_t(3), wchar_t(22), wchar_t(24), L'q'}) ::SendMessageW(wnd, WM_CHAR, c, 1);
    EXPECT_EQ(chars, 1);

    // The menu key and Shift+F10 show the shell's menu of the selected
    // folder.
    {
        MenuCloser closer;
        MenuCloser::seen = 0;
        ::SendMessageW(wnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(wnd), MAKELPARAM(-1, -1));
        EXPECT_EQ(MenuCloser::seen, 1);
        PressKey(wnd, VK_F10, {VK_SHIFT});
        EXPECT_EQ(MenuCloser::seen, 2);
        // Without the shell's menu the request goes on to the parent.
        tree->ShellContextMenu = false;
        PressKey(wnd, VK_F10, {VK_SHIFT});
        ::SendMessageW(wnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(wnd), MAKELPARAM(-1, -1));
        EXPECT_EQ(MenuCloser::seen, 2);
        EXPECT_EQ(form.contextMenus, 1);
        tree->ShellContextMenu = true;
    }

    // Delete: never the root; a folder goes with its node.
    tree->SetPath(dir.Path());
    PressKey(wnd, VK_DELETE);
    EXPECT_TRUE(Exists(dir.Path()));
    EXPECT_EQ(reports.list.size(), 1u);
    tree->SetPath(dir.File(L"dst"));
    {
        ConfirmYes yes;
        PressKey(wnd, VK_DELETE);
    }
    EXPECT_FALSE(Exists(dir.File(L"dst")));
    ASSERT_EQ(reports.list.size(), 2u);
    EXPECT_EQ(reports.list[1].operation, Ops({shell::sopDelete, shell::sopRemove}));
    EXPECT_EQ(reports.list[1].files, std::vector<std::wstring>{dir.File(L"dst")});
}

// Stepping through nodes with the keys opens only the node the keys stop
// at, once they rest; selections by the program and the mouse after a
// change act at once.
TEST(ShellCommands, TreeActsOnAKeySelectionWhenTheKeysRest)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (const wchar_t* name : {L"a", L"b", L"c"}) ::CreateDirectoryW(dir.File(name).c_str(), nullptr);

    HostForm form;
    auto* link = new shell::TShellLink(&form);
    auto* tree = Placed<shell::TShellTree>(form);
    auto* list = Placed<shell::TShellList>(form);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    tree->SetShellLink(link);
    list->SetShellLink(link);
    std::vector<std::wstring> changes;
    struct Recorder {
        shell::TShellTree* tree;
        std::vector<std::wstring>* changes;
        void Changed(classlib::TObject*) { changes->push_back(tree->GetPath()); }
    } recorder{tree, &changes};
    tree->OnChange = classlib::TNotifyEvent(&recorder, &Recorder::Changed);
    HWND wnd = tree->GetHandle();

    tree->SetPath(dir.File(L"a"));
    ASSERT_EQ(changes, std::vector<std::wstring>{dir.File(L"a")});
    EXPECT_EQ(tree->GetChangeDelay(), 0u);
    EXPECT_EQ(list->GetPath(), dir.File(L"a\\"));

    // Two steps down: nothing happens until the keys rest, then only the
    // last node counts and the list follows it.
    PressKey(wnd, VK_DOWN);
    EXPECT_EQ(tree->GetChangeDelay(), 600u);
    PressKey(wnd, VK_DOWN);
    EXPECT_EQ(tree->GetPath(), dir.File(L"c"));
    EXPECT_EQ(changes.size(), 1u);
    EXPECT_EQ(list->GetPath(), dir.File(L"a\\"));
    ASSERT_TRUE(shelltest::PumpUntil([&] { return changes.size() == 2; }));
    EXPECT_EQ(changes[1], dir.File(L"c"));
    EXPECT_EQ(list->GetPath(), dir.File(L"c\\"));
    EXPECT_EQ(tree->GetChangeDelay(), 0u);
    shelltest::PumpFor(700);
    EXPECT_EQ(changes.size(), 2u);

    // A selection the window makes itself (as a click does) after a change:
    // at once.
    HTREEITEM root = reinterpret_cast<HTREEITEM>(::SendMessageW(wnd, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    HTREEITEM first = reinterpret_cast<HTREEITEM>(::SendMessageW(wnd, TVM_GETNEXTITEM, TVGN_CHILD,
                                                                  reinterpret_cast<LPARAM>(root)));
    ::SendMessageW(wnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(first));
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[2], dir.File(L"a"));

    // Keys that run commands leave the delay alone; typing sets it; a
    // program's selection cuts a waiting one short.
    PressKey(wnd, 'C', {VK_CONTROL});
    EXPECT_EQ(tree->GetChangeDelay(), 0u);
    ::SendMessageW(wnd, WM_CHAR, L'b', 1);
    EXPECT_EQ(tree->GetChangeDelay(), 600u);
    tree->SetPath(dir.File(L"c"));
    EXPECT_EQ(changes.back(), dir.File(L"c"));
    const size_t count = changes.size();
    shelltest::PumpFor(700);
    EXPECT_EQ(changes.size(), count);

    // Without a link the keys wait less.
    tree->SetShellLink(nullptr);
    PressKey(wnd, VK_UP);
    EXPECT_EQ(tree->GetChangeDelay(), 100u);
    EXPECT_TRUE(shelltest::PumpUntil([&] { return changes.back() == dir.File(L"b"); }));
}

// A cancelled edit of a node's name changes nothing and says so.
TEST(ShellCommands, TreeReportsACancelledEdit)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ::CreateDirectoryW(dir.File(L"sub").c_str(), nullptr);
    HostForm form;
    auto* tree = Placed<shell::TShellTree>(form);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    tree->SetPath(dir.File(L"sub"));
    HWND wnd = tree->GetHandle();
    HTREEITEM cancelled = nullptr;
    tree->OnEditCanceled = classlib::TEvent<void(classlib::TObject*, HTREEITEM)>::FromFunction(
        [](void* c, classlib::TObject*, HTREEITEM node) { *static_cast<HTREEITEM*>(c) = node; }, &cancelled);
    auto selected = reinterpret_cast<HTREEITEM>(::SendMessageW(wnd, TVM_GETNEXTITEM, TVGN_CARET, 0));
    PressKey(wnd, VK_F2);
    HWND edit = reinterpret_cast<HWND>(::SendMessageW(wnd, TVM_GETEDITCONTROL, 0, 0));
    ASSERT_NE(edit, nullptr);
    ::SendMessageW(wnd, TVM_ENDEDITLABELNOW, TRUE, 0);
    EXPECT_EQ(cancelled, selected);
    EXPECT_TRUE(Exists(dir.File(L"sub")));
    EXPECT_EQ(tree->GetPath(), dir.File(L"sub"));
}

// A file type of the test's own, registered while it lives: its default
// verb "open" runs Command. It goes into the classes root itself: the
// emulator's root shows the machine's classes only, not the user's.
struct TestFileType {
    static constexpr const wchar_t* kExtension = L".albumverbtest";
    static constexpr const wchar_t* kProgId = L"AlbumVerbTest.File";
    TestFileType() { SetValue(kExtension, kProgId); }
    ~TestFileType()
    {
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kExtension);
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
    }
    void SetOpenCommand(const std::wstring& Command)
    {
        SetValue(std::wstring(kProgId) + L"\\shell\\open\\command", Command);
    }
    static void SetValue(const std::wstring& Key, const std::wstring& Value)
    {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, Key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(Value.c_str()),
                         DWORD((Value.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
    }
};

void SendMouse(DWORD Flags, POINT At)
{
    INPUT in{};
    in.type = INPUT_MOUSE;
    const int w = ::GetSystemMetrics(SM_CXSCREEN), h = ::GetSystemMetrics(SM_CYSCREEN);
    in.mi.dx = static_cast<LONG>((At.x * 65535 + w / 2) / (w - 1));
    in.mi.dy = static_cast<LONG>((At.y * 65535 + h / 2) / (h - 1));
    in.mi.dwFlags = Flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &in, sizeof(in));
}

// A double click with the mouse at the centre of R (client coordinates of
// Wnd); true once Until holds.
bool DoubleClickAt(HWND Wnd, RECT R, const std::function<bool()>& Until)
{
    POINT at{(R.left + R.right) / 2, (R.top + R.bottom) / 2};
    ::ClientToScreen(Wnd, &at);
    SendMouse(0, at);
    for (int i = 0; i < 2; ++i) {
        SendMouse(MOUSEEVENTF_LEFTDOWN, at);
        SendMouse(MOUSEEVENTF_LEFTUP, at);
    }
    return shelltest::PumpUntil(Until, 20000);
}

bool DoubleClickNode(HWND Wnd, HTREEITEM Node, const std::function<bool()>& Until)
{
    RECT r{};
    std::memcpy(&r, &Node, sizeof(Node));
    ::SendMessageW(Wnd, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r));
    return DoubleClickAt(Wnd, r, Until);
}

// With files shown, a double click on the selected file node runs the
// file's default verb; with an OnDblClick handler (and an owner) the
// handler alone answers it. The list's file items run it too.
TEST(ShellCommands, DoubleClickOnAFileRunsItsDefaultVerb)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    Touch(dir.File(L"doc.albumverbtest"));
    TestFileType type;
    const std::wstring handled = dir.File(L"handled.txt"), opened = dir.File(L"opened.txt");
    // A program without a window: a console would show over the form and
    // take the next clicks.
    auto markerCommand = [](const std::wstring& Marker) {
        return L"\"" + std::wstring(VELMO_SHELL_MARKER_EXE) + L"\" \"" + Marker + L"\"";
    };

    HostForm form;
    form.SetBounds(0, 0, 300, 300);
    auto* tree = Placed<shell::TShellTree>(form);
    tree->SetBounds(0, 0, 300, 300);
    form.SetVisible(true);
    tree->SetShowFiles(true);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    HWND wnd = tree->GetHandle();
    HTREEITEM root = shelltest::TreeNode(wnd, nullptr, classlib::ExtractFileName(dir.Path()));
    ::SendMessageW(wnd, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
    HTREEITEM file = nullptr;
    ASSERT_TRUE(shelltest::PumpUntil([&] { return (file = shelltest::TreeNode(wnd, root, L"doc.albumverbtest")); }));
    ::SendMessageW(wnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(file));

    // The handler's turn first. Were the verb run, it would leave
    // "handled.txt"; the next double click runs it for "opened.txt", so by
    // the time that one arrives a wrongly started first would have too.
    int doubleClicks = 0;
    tree->OnDblClick =
        classlib::TNotifyEvent::FromFunction([](void* c, classlib::TObject*) { ++*static_cast<int*>(c); }, &doubleClicks);
    type.SetOpenCommand(markerCommand(handled));
    EXPECT_TRUE(DoubleClickNode(wnd, file, [&] { return doubleClicks == 1; }));

    tree->OnDblClick = {};
    type.SetOpenCommand(markerCommand(opened));
    EXPECT_TRUE(DoubleClickNode(wnd, file, [&] { return Exists(opened); }));
    EXPECT_EQ(doubleClicks, 1);
    EXPECT_FALSE(Exists(handled));

    // Beside the tree: its clicks cannot make one with the tree's.
    form.SetBounds(0, 0, 600, 300);
    auto* list = Placed<shell::TShellList>(form);
    list->SetBounds(300, 0, 300, 300);
    list->SetPath(dir.Path());
    const std::wstring listed = dir.File(L"listed.txt");
    type.SetOpenCommand(markerCommand(listed));
    int item = -1;
    for (int i = 0; i < list->GetItems()->GetCount(); ++i)
        if (list->GetItems()->GetItem(i)->GetCaption() == L"doc.albumverbtest") item = i;
    ASSERT_GE(item, 0);
    list->GetItems()->GetItem(item)->SetSelected(true);
    RECT r{};
    r.left = LVIR_LABEL;
    ::SendMessageW(list->GetHandle(), LVM_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&r));
    EXPECT_TRUE(DoubleClickAt(list->GetHandle(), r, [&] { return Exists(listed); }));
}

}  // namespace

namespace {

// The state image the list shows for the item at Index.
int ShownState(HWND Wnd, int Index)
{
    return static_cast<int>((::SendMessageW(Wnd, LVM_GETITEMSTATE, static_cast<WPARAM>(Index), LVIS_STATEIMAGEMASK) >> 12) -
                            1);
}

// The list's boxes follow the objects' lists: the " .. " item has a box
// that cannot be checked (toggling it does nothing and says nothing), and
// My Computer shows grey once something on a drive is checked.
TEST(ShellCommands, ListCheckStatesFollowTheObjects)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    Touch(dir.File(L"a.gif"));

    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    auto* link = new shell::TShellLink(&form);
    list->SetShellLink(link);
    list->SetShowParentFolder(true);
    list->SetCheckboxes(true);
    ASSERT_TRUE(list->GetCheckboxes());
    list->SetPath(dir.Path());
    HWND wnd = list->GetHandle();
    const int parent = IndexOf(list, L" .. "), file = IndexOf(list, L"a.gif");
    ASSERT_GE(parent, 0);
    ASSERT_GE(file, 0);
    int events = 0;
    list->OnCheckStateChanged = shell::TOnCheckStateChanged::FromFunction(
        [](void* c, classlib::TObject*, int, const std::wstring&, shell::TShSelectionState) { ++*static_cast<int*>(c); },
        &events);
    // A left click on an item's box (found by the window's own hit test).
    auto clickBox = [&](int index) {
        RECT icon{};
        icon.left = LVIR_ICON;
        ASSERT_TRUE(::SendMessageW(wnd, LVM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&icon)));
        const int y = (icon.top + icon.bottom) / 2;
        for (int x = 0; x < icon.left + 20; ++x) {
            LVHITTESTINFO hit{};
            hit.pt = POINT{x, y};
            if (::SendMessageW(wnd, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)) == index &&
                (hit.flags & LVHT_ONITEMSTATEICON)) {
                ::SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
                ::SendMessageW(wnd, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
                return;
            }
        }
        ADD_FAILURE() << "no box at item " << index;
    };
    EXPECT_EQ(ShownState(wnd, parent), shell::ssNone);
    clickBox(parent);
    EXPECT_EQ(events, 0);
    EXPECT_EQ(ShownState(wnd, parent), shell::ssNone);

    clickBox(file);
    EXPECT_EQ(events, 1);
    EXPECT_EQ(ShownState(wnd, file), shell::ssChecked);

    // The desktop: My Computer is grey while the file (on a drive) is checked.
    list->SetSpecialFolder(shell::SF_DESKTOP);
    shell::TPidl drives = shell::SpecialFolderPidl(shell::SF_DRIVES);
    auto myComputer = [&] {
        for (int i = 0; i < list->GetItems()->GetCount(); ++i) {
            const shell::TShellListItem* record = shell::TShellList::ShellItem(list->GetItems()->GetItem(i));
            if (record && record->Pidl && ::ILIsEqual(record->Pidl.get(), drives.get())) return i;
        }
        return -1;
    };
    ASSERT_GE(myComputer(), 0);
    EXPECT_EQ(ShownState(wnd, myComputer()), shell::ssGrayed);
    link->GetSelectionList()->Clear();
    list->Populate();
    EXPECT_EQ(ShownState(wnd, myComputer()), shell::ssNone);
}

}  // namespace

namespace {

// The hint of the item under the pointer: the folder's path for " .. ",
// the shell's tip (through OnInfoTip) for an object, kept while the pointer
// is on the item, placed a cursor below and right of its corner and no
// wider than the list; elsewhere, or with ShowHint off, the control's own.
TEST(ShellCommands, ListHintsDescribeTheItemUnderThePointer)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    Touch(dir.File(L"a.txt"));
    HostForm form;
    form.SetBounds(0, 0, 300, 300);
    auto* list = Placed<shell::TShellList>(form);
    list->SetBounds(0, 0, 280, 260);
    list->SetShowParentFolder(true);
    list->SetPath(dir.Path());
    HWND wnd = list->GetHandle();
    std::vector<std::wstring> asked;
    struct Tips {
        std::vector<std::wstring>* asked;
        void InfoTip(classlib::TObject*, classlib::TListItem* item, std::wstring& tip)
        {
            asked->push_back(item->GetCaption());
            tip = L"<" + tip + L">";
        }
    } tips{&asked};
    list->OnInfoTip = decltype(list->OnInfoTip)(&tips, &Tips::InfoTip);

    auto ask = [&](int index, POINT at = POINT{-1, -1}) {
        classlib::THintInfo info;
        info.HintControl = list;
        info.HintStr = L"own";
        info.HintMaxWidth = 9999;
        if (index >= 0) {
            RECT r{};
            r.left = LVIR_LABEL;
            ::SendMessageW(wnd, LVM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r));
            at = POINT{r.left + 2, (r.top + r.bottom) / 2};
        }
        info.CursorPos = at;
        EXPECT_EQ(list->Perform(classlib::CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&info)), 0);
        return info;
    };
    const int parent = IndexOf(list, L" .. "), file = IndexOf(list, L"a.txt");
    ASSERT_GE(parent, 0);
    ASSERT_GE(file, 0);

    EXPECT_EQ(ask(file).HintStr, L"own");  // ShowHint off
    list->SetShowHint(true);
    EXPECT_EQ(ask(parent).HintStr, L"<" + list->GetPath() + L">");
    const classlib::THintInfo info = ask(file);
    EXPECT_EQ(asked, (std::vector<std::wstring>{L" .. ", L"a.txt"}));
    EXPECT_EQ(info.HintStr.front(), L'<');
    RECT bounds{};
    bounds.left = LVIR_BOUNDS;
    ::SendMessageW(wnd, LVM_GETITEMRECT, static_cast<WPARAM>(file), reinterpret_cast<LPARAM>(&bounds));
    EXPECT_TRUE(::EqualRect(&info.CursorRect, &bounds));
    POINT corner{bounds.left, bounds.top};
    ::ClientToScreen(wnd, &corner);
    EXPECT_EQ(info.HintPos.x, corner.x + ::GetSystemMetrics(SM_CXCURSOR));
    EXPECT_EQ(info.HintPos.y, corner.y + ::GetSystemMetrics(SM_CYCURSOR));
    RECT client{};
    ::GetClientRect(wnd, &client);
    EXPECT_EQ(info.HintMaxWidth, client.right);

    // Below the last item: the control's own hint.
    EXPECT_EQ(ask(-1, POINT{20, 240}).HintStr, L"own");
    EXPECT_EQ(asked.size(), 2u);
}

}  // namespace
