// The program's popup menu shown inside the shell's context menu: where the
// copied entries stand beside the shell's, what each copy shows, what
// choosing one does, the status hints while the menu is open, and the list
// and tree handing their popup menu over.
#include "controls/shell/ShFolderObject.h"

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Forms.h"
#include "classlib/ImageList.h"
#include "classlib/Menus.h"
#include "controls/shell/ShNamespace.h"
#include "controls/shell/ShellControls.h"
#include "support/AppScope.h"
#include "support/TestSupport.h"
#include "tests/controls/shell/ShellHost.h"

namespace {

using testsupport::Touch;

// A popup menu of the class library that keeps its entries as copies and
// counts its own showings.
struct CopyMenu : classlib::TPopupMenu {
    using classlib::TPopupMenu::TPopupMenu;
    std::vector<classlib::TMenuItemCopy> entries;
    classlib::TCustomImageList* images = nullptr;
    int shown = 0;
    void Popup(int, int) override { ++shown; }
    std::vector<classlib::TMenuItemCopy> CopyItems() override { return entries; }
    classlib::TCustomImageList* GetImages() const override { return images; }
};

classlib::TMenuItemCopy Entry(const std::wstring& Caption, classlib::TComponent* Source = nullptr)
{
    classlib::TMenuItemCopy e;
    e.Caption = Caption;
    e.Source = Source;
    return e;
}

classlib::TMenuItemCopy Submenu(const std::wstring& Caption, std::vector<classlib::TMenuItemCopy> Items)
{
    classlib::TMenuItemCopy e = Entry(Caption);
    e.IsSubmenu = true;
    e.Items = std::move(Items);
    return e;
}

// An entry of a shown native menu: its text without "&" ("-" for a
// separator), type and state bits, whether it has a picture, and a
// submenu's entries.
struct NativeEntry {
    std::wstring text;
    UINT type = 0;
    UINT state = 0;
    bool picture = false;
    std::vector<NativeEntry> sub;
};

std::vector<NativeEntry> ReadMenu(HMENU Menu)
{
    std::vector<NativeEntry> out;
    for (int i = 0; i < ::GetMenuItemCount(Menu); ++i) {
        wchar_t text[256] = {};
        MENUITEMINFOW mi{};
        mi.cbSize = sizeof(mi);
        mi.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_STRING | MIIM_SUBMENU | MIIM_BITMAP;
        mi.dwTypeData = text;
        mi.cch = 256;
        ::GetMenuItemInfoW(Menu, UINT(i), TRUE, &mi);
        NativeEntry e;
        e.type = mi.fType;
        e.state = mi.fState;
        e.picture = mi.hbmpItem != nullptr;
        if (mi.fType & MFT_SEPARATOR) {
            e.text = L"-";
        } else {
            for (const wchar_t* p = text; *p; ++p)
                if (*p != L'&') e.text += *p;
        }
        if (mi.hSubMenu) e.sub = ReadMenu(mi.hSubMenu);
        out.push_back(e);
    }
    return out;
}

std::vector<std::wstring> Texts(const std::vector<NativeEntry>& Entries)
{
    std::vector<std::wstring> v;
    for (const NativeEntry& e : Entries) v.push_back(e.text);
    return v;
}

// The texts without separators: the shell adds its own where its entries
// meet others.
std::vector<std::wstring> Entries(const std::vector<std::wstring>& Texts)
{
    std::vector<std::wstring> v;
    for (const std::wstring& t : Texts)
        if (t != L"-") v.push_back(t);
    return v;
}

std::vector<std::wstring> Join(std::vector<std::wstring> A, const std::vector<std::wstring>& B)
{
    A.insert(A.end(), B.begin(), B.end());
    return A;
}

// Drives the next popup menu shown on this thread from a timer: reads it,
// then (with WalkHints) steps the keyboard selection once round the first
// level recording the program's status hint at each entry, then chooses
// the first-level entry whose text starts with Choose, or closes the menu
// when Choose is empty or names nothing.
class MenuDriver {
public:
    explicit MenuDriver(std::wstring Choose, bool WalkHints = false)
    {
        choose = std::move(Choose);
        walk = WalkHints;
        phase = kWaiting;
        ticks = 0;
        shown.clear();
        hints.clear();
        id_ = ::SetTimer(nullptr, 0, 40, &OnTimer);
    }
    ~MenuDriver()
    {
        ::KillTimer(nullptr, id_);
        beforeChoose = nullptr;
    }
    MenuDriver(const MenuDriver&) = delete;
    MenuDriver& operator=(const MenuDriver&) = delete;

    static inline std::vector<NativeEntry> shown;
    // Each first-level entry the walk reached: its text and the hint then.
    static inline std::vector<std::pair<std::wstring, std::wstring>> hints;
    // Runs just before the chosen entry is taken.
    static inline std::function<void()> beforeChoose;

private:
    enum { kWaiting, kWalking, kChoosing, kDone };
    static inline std::wstring choose;
    static inline bool walk = false;
    static inline int phase = kWaiting;
    static inline int ticks = 0;
    static inline int firstWalked = -1;
    static inline int lastWalked = -1;

    static int Highlighted(HMENU Menu)
    {
        for (int i = 0; i < ::GetMenuItemCount(Menu); ++i)
            if (::GetMenuState(Menu, UINT(i), MF_BYPOSITION) & MF_HILITE) return i;
        return -1;
    }
    static int Target()
    {
        for (size_t i = 0; i < shown.size() && !choose.empty(); ++i)
            if (shown[i].text.size() >= choose.size() && shown[i].text.compare(0, choose.size(), choose) == 0)
                return int(i);
        return -1;
    }
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD)
    {
        HWND window = ::FindWindowW(L"#32768", nullptr);
        if (!window || !::IsWindowVisible(window)) return;
        // A menu still open long after it was answered (a chosen submenu
        // opens instead of closing) is closed.
        if (phase == kDone) {
            if (++ticks > 300) ::EndMenu();
            return;
        }
        auto menu = reinterpret_cast<HMENU>(::SendMessageW(window, 0x01E1 /* MN_GETHMENU */, 0, 0));
        if (!menu || ++ticks > 200) {
            phase = kDone;
            ::EndMenu();
            return;
        }
        const int at = Highlighted(menu);
        if (phase == kWaiting) {
            shown = ReadMenu(menu);
            phase = walk ? kWalking : kChoosing;
            firstWalked = lastWalked = -1;
            if (walk) {
                ::PostMessageW(window, WM_KEYDOWN, VK_DOWN, 0);
                return;
            }
        }
        if (phase == kWalking) {
            if (at < 0 || at == lastWalked) return;  // the key is still on its way
            if (at != firstWalked) {
                if (firstWalked < 0) firstWalked = at;
                lastWalked = at;
                hints.push_back({shown[size_t(at)].text, classlib::Application->GetHint()});
                ::PostMessageW(window, WM_KEYDOWN, VK_DOWN, 0);
                return;
            }
            phase = kChoosing;
        }
        const int target = Target();
        if (target < 0) {
            phase = kDone;
            ::EndMenu();
        } else if (at == target) {
            phase = kDone;
            ticks = 0;
            if (beforeChoose) beforeChoose();
            ::PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
        } else {
            ::PostMessageW(window, WM_KEYDOWN, VK_DOWN, 0);
        }
    }
    UINT_PTR id_;
};

// A folder object on a temporary folder holding one text file, that file
// chosen as its object.
struct FileFixture {
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    shell::TShFolderObject browser{nullptr};
    FileFixture()
    {
        Touch(dir.File(L"a.txt"));
        browser.SetFolder(dir.Path());
        browser.SetObjectName(L"a.txt");
    }
    // The shell's entries alone, as this platform offers them for the file.
    std::vector<NativeEntry> ShellMenu()
    {
        MenuDriver driver(L"");
        browser.ShowContextMenu(POINT{40, 40});
        return MenuDriver::shown;
    }
    std::vector<std::wstring> ShellEntries() { return Texts(ShellMenu()); }
};

// The copies come first or last, or right after the given entry inside its
// own submenu; the shell's entries keep their order in each place.
TEST(ShellMenuMerge, CopiesStandBeforeAfterOrAroundTheShellsEntries)
{
    FileFixture f;
    const std::vector<std::wstring> shellEntries = Entries(f.ShellEntries());
    ASSERT_FALSE(shellEntries.empty());

    classlib::TComponent owner(nullptr);
    auto* anchor = new classlib::TComponent(&owner);
    CopyMenu menu(&owner);
    menu.entries = {Entry(L"First"), Entry(L"-"),
                    Submenu(L"Group", {Entry(L"Inner1"), Entry(L"Inner2", anchor), Entry(L"Inner3")}), Entry(L"Last")};
    const std::vector<std::wstring> copies{L"First", L"Group", L"Last"};
    const std::vector<std::wstring> inner{L"Inner1", L"Inner2", L"Inner3"};

    struct Case {
        const char* name;
        bool onTop;
        classlib::TComponent* item;
        std::vector<std::wstring> top;
        std::vector<std::wstring> group;
    };
    const Case cases[] = {
        {"at the end", false, nullptr, Join(copies, shellEntries), inner},
        {"on top", true, nullptr, Join(shellEntries, copies), inner},
        {"on top wins over the entry", true, anchor, Join(shellEntries, copies), inner},
        {"after the entry", false, anchor, copies, Join(Join({L"Inner1", L"Inner2"}, shellEntries), {L"Inner3"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        f.browser.SetShowContextMenuOnTop(c.onTop);
        MenuDriver driver(L"");
        EXPECT_EQ(f.browser.ShowContextMenu(POINT{40, 40}, &menu, c.item), L"");
        EXPECT_EQ(Entries(Texts(MenuDriver::shown)), c.top);
        const auto group = std::find_if(MenuDriver::shown.begin(), MenuDriver::shown.end(),
                                        [](const NativeEntry& e) { return e.text == L"Group"; });
        ASSERT_NE(group, MenuDriver::shown.end());
        EXPECT_EQ(Entries(Texts(group->sub)), c.group);
        // None of these copies is a default entry, wherever the shell's go.
        for (const NativeEntry& e : MenuDriver::shown)
            if (e.text == L"First" || e.text == L"Group" || e.text == L"Last")
                EXPECT_EQ(e.state & MFS_DEFAULT, 0u) << "shown as the default: " << testing::PrintToString(e.text);
    }
}

// Each copy shows what its entry holds: hidden entries are left out, and
// disabled, checked, radio, default, shortcut, column-break, picture and
// submenu entries look as they do in their own menu; an image index beyond
// the images shows no picture.
TEST(ShellMenuMerge, CopiesShowTheStateOfTheirEntries)
{
    FileFixture f;
    classlib::TComponent owner(nullptr);
    auto* images = new classlib::TImageList(&owner);
    images->SetWidth(16);
    images->SetHeight(16);
    classlib::TBitmap picture;
    picture.SetSize(16, 16);
    images->Add(&picture, nullptr);
    CopyMenu menu(&owner);
    menu.images = images;

    struct Case {
        const wchar_t* caption;
        std::function<void(classlib::TMenuItemCopy&)> set;
        const wchar_t* text;  // as shown; null: not shown
        UINT type, state;
        bool picture;
    };
    const Case cases[] = {
        {L"Plain", [](auto&) {}, L"Plain", MFT_STRING, 0, false},
        {L"Hidden", [](auto& e) { e.Visible = false; }, nullptr, 0, 0, false},
        {L"Disabled", [](auto& e) { e.Enabled = false; }, L"Disabled", MFT_STRING, MFS_GRAYED, false},
        {L"Checked", [](auto& e) { e.Checked = true; }, L"Checked", MFT_STRING, MFS_CHECKED, false},
        {L"Radio", [](auto& e) { e.Checked = e.RadioItem = true; }, L"Radio", MFT_RADIOCHECK, MFS_CHECKED, false},
        {L"Cut", [](auto& e) { e.ShortCutText = L"Ctrl+X"; }, L"Cut\tCtrl+X", MFT_STRING, 0, false},
        {L"Column", [](auto& e) { e.Break = true; }, L"Column", MFT_MENUBREAK, 0, false},
        {L"Pictured", [](auto& e) { e.ImageIndex = 0; }, L"Pictured", MFT_STRING, 0, true},
        {L"Beyond", [](auto& e) { e.ImageIndex = 1; }, L"Beyond", MFT_STRING, 0, false},
        {L"-", [](auto&) {}, L"-", MFT_SEPARATOR, 0, false},
        {L"Sub",
         [](auto& e) {
             // A menu has one default entry, and the shell takes it on its
             // own level: the default copy stands in a submenu.
             classlib::TMenuItemCopy bold = Entry(L"Bold");
             bold.Default = true;
             e.IsSubmenu = true, e.Items = {Entry(L"Leaf"), bold};
         },
         L"Sub", MFT_STRING, 0, false},
    };
    for (const Case& c : cases) {
        classlib::TMenuItemCopy e = Entry(c.caption);
        c.set(e);
        menu.entries.push_back(e);
    }
    f.browser.SetShowContextMenuOnTop(true);
    {
        MenuDriver driver(L"");
        f.browser.ShowContextMenu(POINT{40, 40}, &menu);
    }
    std::vector<NativeEntry> own = MenuDriver::shown;
    ASSERT_GE(own.size(), 10u);
    own.erase(own.begin(), own.end() - 10);  // the shell's entries come first
    size_t at = 0;
    for (const Case& c : cases) {
        if (!c.text) continue;
        SCOPED_TRACE(c.text);
        ASSERT_LT(at, own.size());
        const NativeEntry& e = own[at++];
        EXPECT_EQ(e.text, c.text);
        EXPECT_EQ(e.type & (MFT_SEPARATOR | MFT_RADIOCHECK | MFT_MENUBREAK), c.type);
        EXPECT_EQ(e.state & (MFS_GRAYED | MFS_CHECKED | MFS_DEFAULT), c.state);
        EXPECT_EQ(e.picture, c.picture);
    }
    ASSERT_EQ(Texts(own.back().sub), (std::vector<std::wstring>{L"Leaf", L"Bold"}));
    EXPECT_EQ(own.back().sub[0].state & MFS_DEFAULT, 0u);
    EXPECT_EQ(own.back().sub[1].state & MFS_DEFAULT, UINT(MFS_DEFAULT));
}

// Choosing a copy clicks its entry once and runs no shell verb; the menu's
// OnPopup runs before the entries are copied; an entry freed while the
// menu shows is not clicked; a shell entry still goes to the shell's steps.
TEST(ShellMenuMerge, ChoosingACopyClicksItsEntryInsteadOfAVerb)
{
    FileFixture f;
    classlib::TComponent owner(nullptr);
    auto* source = new classlib::TComponent(&owner);
    CopyMenu menu(&owner);
    int clicks = 0, selects = 0, before = 0;
    std::vector<std::wstring> verbs;
    struct Handlers {
        int* selects;
        int* before;
        std::vector<std::wstring>* verbs;
        void Select(const std::wstring& verb, bool& execute)
        {
            ++*selects;
            verbs->push_back(verb);
            execute = false;
        }
        void Before(shell::TShFolderObject*, const std::wstring&, shell::TShPathList*, bool&) { ++*before; }
    } handlers{&selects, &before, &verbs};
    f.browser.OnContextMenuSelect = shell::TOnContextMenuSelectEvent(&handlers, &Handlers::Select);
    f.browser.OnBeforeShellCommand = shell::TOnBeforeShellCommand(&handlers, &Handlers::Before);

    // The entry comes from the OnPopup handler: it must run first.
    struct Filler {
        CopyMenu* menu;
        classlib::TComponent* source;
        int* clicks;
        int popups = 0;
        void Popup(classlib::TObject* Sender)
        {
            EXPECT_EQ(Sender, menu);
            ++popups;
            menu->entries = {Entry(L"Mine", source)};
            menu->entries[0].Click = [c = clicks] { ++*c; };
        }
    } filler{&menu, source, &clicks};
    menu.OnPopup = classlib::TNotifyEvent(&filler, &Filler::Popup);
    {
        MenuDriver driver(L"Mine");
        EXPECT_EQ(f.browser.ShowContextMenu(POINT{40, 40}, &menu), L"");
    }
    EXPECT_EQ(filler.popups, 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(selects, 0);
    EXPECT_EQ(before, 0);
    EXPECT_TRUE(::GetFileAttributesW(f.dir.File(L"a.txt").c_str()) != INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(f.browser.GetMultiObjects()->GetCount(), 0);

    // Freed while the menu shows: chosen, but nothing runs.
    {
        MenuDriver driver(L"Mine");
        MenuDriver::beforeChoose = [&] { delete source; };
        EXPECT_EQ(f.browser.ShowContextMenu(POINT{40, 40}, &menu), L"");
    }
    EXPECT_EQ(clicks, 1);

    // A shell entry: the shell's steps run (refused here), no copy clicks.
    std::wstring shellEntry;
    for (const NativeEntry& e : f.ShellMenu())
        if (shellEntry.empty() && e.text != L"-" && !e.text.empty() && e.sub.empty() && !(e.state & MFS_GRAYED))
            shellEntry = e.text;
    ASSERT_FALSE(shellEntry.empty());
    filler.source = nullptr;
    {
        MenuDriver driver(shellEntry);
        EXPECT_EQ(f.browser.ShowContextMenu(POINT{40, 40}, &menu), L"");
    }
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(before, 1);
    EXPECT_EQ(selects, 1);
    ASSERT_EQ(verbs.size(), 1u);
}

// While the menu is open the status hint follows the selection: a copy's
// long hint (a submenu's too), nothing for a copy without one, and the
// copies' hints never for the shell's entries; it is cleared at the end.
TEST(ShellMenuMerge, TheStatusHintFollowsTheSelection)
{
    FileFixture f;
    testsupport::TAppScope app;
    classlib::TComponent owner(nullptr);
    CopyMenu menu(&owner);
    classlib::TMenuItemCopy first = Entry(L"First");
    first.Hint = L"Short|The first entry";
    classlib::TMenuItemCopy group = Submenu(L"Group", {Entry(L"Inner")});
    group.Hint = L"The group";
    menu.entries = {first, group, Entry(L"Plain")};
    f.browser.SetShowContextMenuOnTop(true);
    {
        MenuDriver driver(L"", true);
        f.browser.ShowContextMenu(POINT{40, 40}, &menu);
    }
    const size_t shellCount = MenuDriver::shown.size() - 3;
    const auto selectable = std::count_if(MenuDriver::shown.begin(), MenuDriver::shown.end(),
                                          [](const NativeEntry& e) { return e.text != L"-"; });
    ASSERT_EQ(MenuDriver::hints.size(), size_t(selectable));
    for (const auto& [text, hint] : MenuDriver::hints) {
        SCOPED_TRACE(text);
        if (text == L"First") EXPECT_EQ(hint, L"The first entry");
        else if (text == L"Group") EXPECT_EQ(hint, L"The group");
        else if (text == L"Plain") EXPECT_EQ(hint, L"");
        else EXPECT_TRUE(hint != L"The first entry" && hint != L"The group" && hint != L"Short");
    }
    EXPECT_GT(shellCount, 0u);
    EXPECT_EQ(classlib::Application->GetHint(), L"");
}

using shelltest::HostForm;

// The list and the tree hand their popup menu to the shell's menu; the
// tree shows it alone when the shell's menu is off, and forgets it when it
// is freed.
TEST(ShellMenuMerge, ListAndTreeShowTheirPopupMenuInTheShellsMenu)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    Touch(dir.File(L"a.txt"));
    ::CreateDirectoryW(dir.File(L"sub").c_str(), nullptr);

    HostForm form;
    form.SetBounds(0, 0, 400, 300);
    auto* menu = new CopyMenu(&form);
    int clicks = 0;
    menu->entries = {Entry(L"Mine")};
    menu->entries[0].Click = [&] { ++clicks; };

    auto* list = new shell::TShellList(&form);
    list->SetParent(&form);
    list->SetBounds(0, 0, 200, 300);
    list->SetPath(dir.Path());
    list->SetPopupMenu(menu);
    ASSERT_TRUE(list->ShellContextMenu);
    HWND wnd = list->GetHandle();
    int operations = 0;
    list->OnOperation = shell::TOnOperation::FromFunction(
        [](void* c, classlib::TObject*, shell::TShellOperations, classlib::TStringList*, const std::wstring&) {
            ++*static_cast<int*>(c);
        },
        &operations);
    list->SetItemIndex(0);
    {
        MenuDriver driver(L"Mine");
        ::SendMessageW(wnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(wnd), MAKELPARAM(-1, -1));
    }
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(menu->shown, 0);
    EXPECT_EQ(menu->PopupComponent, list);
    EXPECT_EQ(operations, 0);
    ASSERT_GT(MenuDriver::shown.size(), 1u) << "the shell's entries are there too";
    EXPECT_EQ(MenuDriver::shown.front().text, L"Mine");

    auto* tree = new shell::TShellTree(&form);
    tree->SetParent(&form);
    tree->SetBounds(200, 0, 200, 300);
    tree->HandleNeeded();
    tree->SetRootedAtFileSystemFolder(dir.Path());
    tree->SetPath(dir.File(L"sub"));
    tree->SetPopupMenu(menu);
    wnd = tree->GetHandle();
    {
        MenuDriver driver(L"Mine");
        ::SendMessageW(wnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(wnd), MAKELPARAM(-1, -1));
    }
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(menu->PopupComponent, tree);
    ASSERT_GT(MenuDriver::shown.size(), 1u);
    EXPECT_EQ(MenuDriver::shown.front().text, L"Mine");

    tree->ShellContextMenu = false;
    ::SendMessageW(wnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(wnd), MAKELPARAM(-1, -1));
    EXPECT_EQ(menu->shown, 1);
    delete menu;
    EXPECT_EQ(tree->GetPopupMenu(), nullptr);
    EXPECT_EQ(list->GetPopupMenu(), nullptr);
}

}  // namespace
