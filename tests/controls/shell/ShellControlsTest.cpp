// The file list and folder tree over the file system: masks, sorting,
// folders, and the two kept in step through a shell link.
#include "controls/shell/ShellControls.h"

#include <windows.h>
#include <shlobj.h>

#include <commctrl.h>
#include <gtest/gtest.h>
#include <uxtheme.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Forms.h"
#include "classlib/Graphics.h"
#include "controls/shell/ShNamespace.h"
#include "support/TestSupport.h"
#include "tests/controls/shell/ShellHost.h"
#include "tests/controls/shell/ShellPump.h"
#include "tests/controls/shell/ShellTestFiles.h"

namespace {

using testsupport::Touch;

using shelltest::HostForm;
using shelltest::LinkedHost;
using shelltest::Placed;
using shelltest::TreeChildren;
using shelltest::TreeRoot;

// Picture masks of every supported kind; a file that only "*.*" matches
// stays out, letter case does not count, folders come first when shown.
TEST(ShellControls, FolderFilesFollowTheMasks)
{
    testsupport::TempDir dir;
    for (const wchar_t* name : {L"e.pcx", L"B.JPG", L"a.gif", L"c.tiff", L"d.bmp", L"f.png", L"g.txt"})
        Touch(dir.File(name));
    ::CreateDirectoryW(dir.File(L"zfolder").c_str(), nullptr);
    ::CreateDirectoryW(dir.File(L"Afolder").c_str(), nullptr);
    const std::wstring pictures = L"*.gif;*.jpg;*.jpeg;*.tif;*.tiff;*.bmp;*.pcx;*.dcx";
    using Names = std::vector<std::wstring>;
    EXPECT_EQ(shell::ListFolderFiles(dir.Path(), pictures, false),
              (Names{L"a.gif", L"B.JPG", L"c.tiff", L"d.bmp", L"e.pcx"}));
    EXPECT_EQ(shell::ListFolderFiles(dir.Path(), L"*.txt; *.png", true),
              (Names{L"Afolder", L"zfolder", L"f.png", L"g.txt"}));
    EXPECT_EQ(shell::ListFolderFiles(dir.Path(), L"*.*", false).size(), 7u);
    EXPECT_TRUE(shell::ListFolderFiles(dir.File(L"missing"), L"*", false).empty());
}

// Choosing a folder in the tree fills the linked list, which reports the
// fill and the new folder; the list's full paths join folder and name.
TEST(ShellControls, TreeAndListKeptInStepByTheLink)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ::CreateDirectoryW(dir.File(L"inner").c_str(), nullptr);
    Touch(dir.File(L"inner\\one.gif"));
    Touch(dir.File(L"inner\\two.txt"));

    LinkedHost host(LinkedHost::Later);
    auto& [form, link, tree, list] = host;
    list->SetShowFolders(false);
    list->SetFilter(L"*.gif");
    int populated = 0, changes = 0;
    list->OnPopulated = classlib::TNotifyEvent::FromFunction([](void* c, classlib::TObject*) { ++*static_cast<int*>(c); },
                                                             &populated);
    tree->OnChange = classlib::TNotifyEvent::FromFunction([](void* c, classlib::TObject*) { ++*static_cast<int*>(c); },
                                                          &changes);
    tree->HandleNeeded();
    list->HandleNeeded();
    EXPECT_EQ(changes, 1);  // the root, selected when the window is made
    EXPECT_EQ(tree->GetSpecialFolder(), shell::SF_DESKTOP);

    tree->SetPath(dir.File(L"inner"));
    EXPECT_EQ(tree->GetPath(), dir.File(L"inner"));
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(list->GetPath(), dir.File(L"inner\\"));
    EXPECT_GE(populated, 1);
    ASSERT_EQ(list->GetItems()->GetCount(), 1);
    EXPECT_EQ(list->GetItemPathAt(0), dir.File(L"inner\\one.gif"));

    // The other way round: the list's folder shows in the tree.
    list->SetPath(dir.Path());
    EXPECT_EQ(tree->GetPath(), dir.Path());
    // A folder that does not exist raises and changes nothing.
    EXPECT_THROW(list->SetPath(dir.File(L"missing")), shell::EShFolderObjectError);
    EXPECT_EQ(list->GetPath(), dir.Path() + L"\\");
    EXPECT_EQ(tree->GetPath(), dir.Path());
}

// The chosen folder stays marked in a tint while the focus is elsewhere.
TEST(ShellControls, TreeShowsTheChosenFolderWithoutTheFocus)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    classlib::TForm form(nullptr);
    form.SetBorderStyle(classlib::bsNone);
    form.SetBounds(0, 0, 300, 400);
    auto* tree = new shell::TShellTree(&form);
    tree->SetParent(&form);
    tree->SetBounds(0, 0, 300, 380);
    form.SetVisible(true);
    tree->SetPath(dir.Path());
    HWND wnd = tree->GetHandle();
    HWND other = ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 0, 380, 50, 20, form.GetHandle(),
                                   nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SetFocus(other);
    auto item = reinterpret_cast<HTREEITEM>(::SendMessageW(wnd, TVM_GETNEXTITEM, TVGN_CARET, 0));
    ASSERT_NE(item, nullptr);
    ::SendMessageW(wnd, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item));
    RECT r{};
    std::memcpy(&r, &item, sizeof(item));  // the item goes in, its rectangle comes back
    ASSERT_TRUE(::SendMessageW(wnd, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r)));
    ::RedrawWindow(wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    HDC dc = ::GetDC(wnd);
    const COLORREF corner = ::GetPixel(dc, r.left + 1, r.top + 1);
    ::ReleaseDC(wnd, dc);
    EXPECT_EQ(classlib::InactiveSelectionColor(), corner);
    ::DestroyWindow(other);
}

// The list follows what the shell announces in its folder: new files are
// appended, renamed and deleted ones change or leave, the selection of the
// items that stay is kept; hidden files show only on request; a refill
// keeps the selection; a folder removed from disk empties the list.
TEST(ShellControls, ListFollowsAnnouncedChanges)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    const std::wstring shown = dir.File(L"shown");
    ASSERT_TRUE(::CreateDirectoryW(shown.c_str(), nullptr));
    auto file = [&](const wchar_t* name) { return shown + L"\\" + name; };
    Touch(file(L"a.gif"));
    Touch(file(L"b.gif"));
    Touch(file(L"note.txt"));
    Touch(file(L"h.gif"));
    ::SetFileAttributesW(file(L"h.gif").c_str(), FILE_ATTRIBUTE_HIDDEN);

    HostForm form;
    auto* list = new shell::TShellList(&form);
    list->SetParent(&form);
    list->SetShowFolders(false);
    list->SetFilter(L"*.gif");
    list->HandleNeeded();
    list->SetPath(shown);
    auto names = [&] {
        std::vector<std::wstring> v;
        for (int i = 0; i < list->GetItems()->GetCount(); ++i) v.push_back(list->GetItems()->GetItem(i)->GetCaption());
        return v;
    };
    using Names = std::vector<std::wstring>;
    EXPECT_EQ(names(), (Names{L"a.gif", L"b.gif"}));
    list->SetShowHidden(true);
    EXPECT_EQ(names(), (Names{L"a.gif", L"b.gif", L"h.gif"}));
    list->SetShowHidden(false);
    list->GetItems()->GetItem(1)->SetSelected(true);

    Touch(file(L"c.gif"));
    ::SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW | SHCNF_FLUSH, file(L"c.gif").c_str(), nullptr);
    EXPECT_TRUE(shelltest::PumpUntil([&] { return names().size() == 3; }));
    EXPECT_EQ(names(), (Names{L"a.gif", L"b.gif", L"c.gif"}));
    EXPECT_TRUE(list->GetItems()->GetItem(1)->GetSelected());

    ASSERT_TRUE(::MoveFileW(file(L"a.gif").c_str(), file(L"z.gif").c_str()));
    ::SHChangeNotify(SHCNE_RENAMEITEM, SHCNF_PATHW | SHCNF_FLUSH, file(L"a.gif").c_str(), file(L"z.gif").c_str());
    EXPECT_TRUE(shelltest::PumpUntil([&] { return names() == Names{L"b.gif", L"c.gif", L"z.gif"}; }))
        << names().size();

    ASSERT_TRUE(::DeleteFileW(file(L"b.gif").c_str()));
    ::SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW | SHCNF_FLUSH, file(L"b.gif").c_str(), nullptr);
    EXPECT_TRUE(shelltest::PumpUntil([&] { return names() == Names{L"c.gif", L"z.gif"}; })) << names().size();

    list->GetItems()->GetItem(1)->SetSelected(true);
    list->Populate();
    ASSERT_EQ(names(), (Names{L"c.gif", L"z.gif"}));
    EXPECT_FALSE(list->GetItems()->GetItem(0)->GetSelected());
    EXPECT_TRUE(list->GetItems()->GetItem(1)->GetSelected());

    // Without automatic refresh announcements change nothing.
    list->SetAutomaticRefresh(false);
    Touch(file(L"d.gif"));
    ::SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW | SHCNF_FLUSH, file(L"d.gif").c_str(), nullptr);
    shelltest::PumpFor(700);
    EXPECT_EQ(names().size(), 2u);
    list->SetAutomaticRefresh(true);

    for (const wchar_t* n : {L"c.gif", L"z.gif", L"d.gif", L"h.gif", L"note.txt"}) {
        ::SetFileAttributesW(file(n).c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(file(n).c_str());
    }
    ASSERT_TRUE(::RemoveDirectoryW(shown.c_str()));
    ::SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHW | SHCNF_FLUSH, shown.c_str(), nullptr);
    // The list goes to My Computer (whose drives are folders: not listed).
    EXPECT_TRUE(shelltest::PumpUntil([&] { return list->GetSpecialFolder() == shell::SF_DRIVES; }));
    EXPECT_TRUE(names().empty());
}

// Icons are looked up in the background when the window first asks for a
// row's image; a refill drops the lookups still under way, so none of
// their results lands on the new items.
TEST(ShellControls, ListIconsArriveInTheBackgroundAndRefillsDropOldOnes)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (int i = 0; i < 40; ++i) Touch(dir.File(L"p" + std::to_wstring(i) + (i % 2 ? L".gif" : L".txt")));

    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    list->SetPath(dir.Path());
    ASSERT_EQ(list->GetItems()->GetCount(), 40);
    HWND wnd = list->GetHandle();
    EXPECT_NE(::SendMessageW(wnd, LVM_GETIMAGELIST, LVSIL_SMALL, 0), 0);
    auto ask = [&](int i) {
        LVITEMW lv{};
        lv.mask = LVIF_IMAGE;
        lv.iItem = i;
        ::SendMessageW(wnd, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&lv));
        return lv.iImage;
    };
    EXPECT_GE(ask(0), 0);  // the icon of its kind at once; its own is asked for now
    EXPECT_TRUE(shelltest::PumpUntil([&] { return list->GetItems()->GetItem(0)->GetImageIndex() >= 0; }));
    EXPECT_EQ(ask(0), list->GetItems()->GetItem(0)->GetImageIndex());

    for (int i = 0; i < 40; ++i) ask(i);
    list->Populate();
    shelltest::PumpFor(800);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(list->GetItems()->GetItem(i)->GetImageIndex(), -1) << i;
    // Freed with lookups queued: nothing arrives afterwards.
    for (int i = 0; i < 40; ++i) ask(i);
    delete list;
    shelltest::PumpFor(300);
}

// The tree's folder icons, closed and open, are looked up in the background
// the first time a node is drawn; new nodes ask again.
TEST(ShellControls, TreeIconsArriveInTheBackground)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ::CreateDirectoryW(dir.File(L"inner").c_str(), nullptr);

    HostForm form;
    auto* tree = Placed<shell::TShellTree>(form);
    tree->SetPath(dir.File(L"inner"));
    ASSERT_EQ(tree->GetPath(), dir.File(L"inner"));
    HWND wnd = tree->GetHandle();
    EXPECT_NE(::SendMessageW(wnd, TVM_GETIMAGELIST, TVSIL_NORMAL, 0), 0);
    auto images = [&] {
        TVITEMW tv{};
        tv.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_HANDLE;
        tv.hItem = reinterpret_cast<HTREEITEM>(::SendMessageW(wnd, TVM_GETNEXTITEM, TVGN_CARET, 0));
        ::SendMessageW(wnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
        return std::pair<int, int>(tv.iImage, tv.iSelectedImage);
    };
    EXPECT_TRUE(shelltest::PumpUntil([&] {
        auto [closed, open] = images();
        return closed >= 0 && open >= 0;
    })) << images().first << " " << images().second;
    // A node read again keeps what it has; a new root asks again.
    tree->FullRefresh();
    EXPECT_EQ(tree->GetPath(), dir.File(L"inner"));
    EXPECT_GE(images().first, 0);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    EXPECT_EQ(tree->GetPath(), dir.Path());
    tree->SetPath(dir.File(L"inner"));
    EXPECT_EQ(tree->GetPath(), dir.File(L"inner"));
    EXPECT_EQ(images().first, -1);
    // Freed with lookups queued: nothing arrives afterwards.
    delete tree;
    shelltest::PumpFor(300);
}


// Folders the shell announces as created, renamed or removed appear in
// and leave their parent node, in name order.
TEST(ShellControls, TreeFollowsAnnouncedFolders)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"b").c_str(), nullptr));

    HostForm form;
    auto* tree = Placed<shell::TShellTree>(form);
    tree->SetPath(dir.File(L"b"));
    ASSERT_EQ(tree->GetPath(), dir.File(L"b"));
    HWND wnd = tree->GetHandle();
    const auto parent = reinterpret_cast<HTREEITEM>(::SendMessageW(
        wnd, TVM_GETNEXTITEM, TVGN_PARENT, ::SendMessageW(wnd, TVM_GETNEXTITEM, TVGN_CARET, 0)));
    auto children = [&] { return TreeChildren(wnd, parent); };
    using Names = std::vector<std::wstring>;
    ASSERT_EQ(children(), Names{L"b"});

    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"a").c_str(), nullptr));
    ::SHChangeNotify(SHCNE_MKDIR, SHCNF_PATHW | SHCNF_FLUSH, dir.File(L"a").c_str(), nullptr);
    EXPECT_TRUE(shelltest::PumpUntil([&] { return children() == Names{L"a", L"b"}; })) << children().size();

    ASSERT_TRUE(::MoveFileW(dir.File(L"a").c_str(), dir.File(L"c").c_str()));
    ::SHChangeNotify(SHCNE_RENAMEFOLDER, SHCNF_PATHW | SHCNF_FLUSH, dir.File(L"a").c_str(), dir.File(L"c").c_str());
    EXPECT_TRUE(shelltest::PumpUntil([&] { return children() == Names{L"b", L"c"}; })) << children().size();

    ASSERT_TRUE(::RemoveDirectoryW(dir.File(L"c").c_str()));
    ::SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHW | SHCNF_FLUSH, dir.File(L"c").c_str(), nullptr);
    EXPECT_TRUE(shelltest::PumpUntil([&] { return children() == Names{L"b"}; })) << children().size();
    EXPECT_EQ(tree->GetPath(), dir.File(L"b"));
}

// The columns come from the shell's details of the folder; a click sorts
// by the clicked column (again: the other way round), folders before files
// in ascending order, ties by name, the " .. " item always first; the
// selection stays with its items.
// What OnColumnClick saw: the column, and the list's sort column then.
struct TColumnClicks {
    shell::TShellList* List = nullptr;
    std::vector<std::pair<int, int>> Seen;
    void Clicked(classlib::TObject*, classlib::TListColumn* Column)
    {
        Seen.emplace_back(Column->GetIndex(), List->GetSortColumn());
    }
};

TEST(ShellControls, ListSortsByEachColumn)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    struct File {
        const wchar_t* name;
        DWORD size;
        int minutes;  // last write, after a fixed moment
    };
    const File files[] = {{L"b.txt", 3000, 2}, {L"a.gif", 10, 5}, {L"C.bmp", 0, 3}, {L"d.gif", 3000, 1}};
    for (const File& f : files) {
        HANDLE h = ::CreateFileW(dir.File(f.name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        std::string bytes(f.size, 'x');
        DWORD written = 0;
        ::WriteFile(h, bytes.data(), f.size, &written, nullptr);
        SYSTEMTIME st{2020, 6, 0, 15, 12, static_cast<WORD>(f.minutes), 0, 0};
        FILETIME ft{};
        ::SystemTimeToFileTime(&st, &ft);
        ::SetFileTime(h, nullptr, nullptr, &ft);
        ::CloseHandle(h);
    }
    ::CreateDirectoryW(dir.File(L"zdir").c_str(), nullptr);
    ::CreateDirectoryW(dir.File(L"adir").c_str(), nullptr);

    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    list->SetShowParentFolder(true);
    list->SetPath(dir.Path());
    classlib::TListItems* items = list->GetItems();
    ASSERT_EQ(items->GetCount(), 7);

    // A column for each detail the shell shows by default, titled as the
    // shell titles it.
    shell::TShFolderObject shellView(nullptr);
    shellView.SetFolder(dir.Path());
    int shown = 0;
    for (int d = 0; !shellView.GetDetail(d, true).empty(); ++d) {
        int width = 0;
        shellView.GetDetailsOf(d, width);
        if (width <= 0) continue;
        ASSERT_LT(shown, list->GetColumns()->GetCount());
        EXPECT_EQ(list->GetColumnDetail(shown), d);
        EXPECT_EQ(list->GetColumns()->GetItem(shown)->GetCaption(), shellView.GetDetail(d, true));
        ++shown;
    }
    ASSERT_GE(shown, 4);  // name, size, type, modified at least
    EXPECT_EQ(list->GetColumns()->GetCount(), shown);
    EXPECT_EQ(list->GetDetailColumnCount(), shown);

    auto find = [&](const std::wstring& caption) {
        for (int i = 0; i < items->GetCount(); ++i)
            if (items->GetItem(i)->GetCaption() == caption) return items->GetItem(i);
        return static_cast<classlib::TListItem*>(nullptr);
    };
    // The texts of the details arrive when an item is first drawn (or
    // filled); the size column holds the size in KB, nothing for a folder.
    for (int i = 0; i < items->GetCount(); ++i) list->FillItem(items->GetItem(i));
    EXPECT_EQ(items->GetItem(0)->GetSubItems()->GetCount(), 0);  // " .. "
    ASSERT_EQ(find(L"a.gif")->GetSubItems()->GetCount(), shown - 1);
    EXPECT_EQ(find(L"a.gif")->GetSubItems()->GetStrings(0), L"1 KB");
    EXPECT_EQ(find(L"C.bmp")->GetSubItems()->GetStrings(0), L"0 KB");
    EXPECT_EQ(find(L"b.txt")->GetSubItems()->GetStrings(0), L"3 KB");
    EXPECT_EQ(find(L"adir")->GetSubItems()->GetStrings(0), L"");

    auto click = [&](int column) {
        NMLISTVIEW nm{};
        nm.hdr.hwndFrom = list->GetHandle();
        nm.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(list->GetHandle()));
        nm.hdr.code = LVN_COLUMNCLICK;
        nm.iItem = -1;
        nm.iSubItem = column;
        ::SendMessageW(form.GetHandle(), WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm));
    };
    auto order = [&] {
        std::vector<std::wstring> captions;
        for (int i = 0; i < items->GetCount(); ++i) captions.push_back(items->GetItem(i)->GetCaption());
        return captions;
    };
    // The expected order, worked out here: folders first, then the key of
    // the column, then the name ignoring case; descending is the reverse.
    struct Object {
        std::wstring name;
        bool folder;
        std::uint64_t size;
        int minutes;
    };
    std::vector<Object> objects = {{L"adir", true, 0, 0}, {L"zdir", true, 0, 0}};
    for (const File& f : files) objects.push_back({f.name, false, f.size, f.minutes});
    auto expected = [&](int column, bool descending) {
        std::vector<Object> sorted = objects;
        auto text = [&](const Object& o) {
            const classlib::TListItem* item = find(o.name);
            return column == 0 ? o.name : item->GetSubItems()->GetStrings(column - 1);
        };
        const int detail = list->GetColumnDetail(column);
        std::stable_sort(sorted.begin(), sorted.end(), [&](const Object& x, const Object& y) {
            if (x.folder != y.folder) return x.folder;
            if (!x.folder && detail == 1 && x.size != y.size) return x.size < y.size;
            if (!x.folder && detail == 3 && x.minutes != y.minutes) return x.minutes < y.minutes;
            if (detail == 2 || detail == 4) {
                const int c = ::lstrcmpiW(text(x).c_str(), text(y).c_str());
                if (c != 0) return c < 0;
            }
            return ::lstrcmpiW(x.name.c_str(), y.name.c_str()) < 0;
        });
        std::vector<std::wstring> names = {L" .. "};
        if (descending) std::reverse(sorted.begin(), sorted.end());
        for (const Object& o : sorted) names.push_back(o.name);
        return names;
    };
    EXPECT_EQ(order(), expected(0, false));
    find(L"b.txt")->SetSelected(true);

    struct Step {
        int column;
        bool descending;  // after the click
    };
    const Step steps[] = {
        {0, true},                                     // same column: turned round
        {1, false}, {1, true},                         // size: 0 < 10 < 3000 = 3000 bytes
        {2, false}, {2, true},                         // type
        {3, false}, {3, true},                         // modified
        {shown - 1, false}, {shown - 1, true}, {0, false},
    };
    auto header = reinterpret_cast<HWND>(::SendMessageW(list->GetHandle(), LVM_GETHEADER, 0, 0));
    // The arrow of a column: the header's own with visual themes, else a
    // picture at the right; one for up, another for down.
    const bool themed = ::IsThemeActive() && ::IsAppThemed();
    std::set<HBITMAP> pictures;
    auto checkArrows = [&](int column, bool descending) {
        for (int c = 0; c < shown; ++c) {
            HDITEMW hd{};
            hd.mask = HDI_FORMAT | HDI_BITMAP;
            ::SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&hd));
            const int flags = hd.fmt & (HDF_SORTUP | HDF_SORTDOWN | HDF_BITMAP | HDF_BITMAP_ON_RIGHT);
            const int arrow = themed ? (descending ? HDF_SORTDOWN : HDF_SORTUP) : HDF_BITMAP | HDF_BITMAP_ON_RIGHT;
            EXPECT_EQ(flags, c != column ? 0 : arrow) << c;
            if (c == column && !themed) {
                EXPECT_NE(hd.hbm, nullptr);
                pictures.insert(hd.hbm);
            }
        }
    };
    TColumnClicks clicks;
    clicks.List = list;
    list->OnColumnClick = classlib::TLVColumnClickEvent(&clicks, &TColumnClicks::Clicked);
    for (const Step& st : steps) {
        clicks.Seen.clear();
        click(st.column);
        // The list sorts first; then the handler hears of the click, once.
        EXPECT_EQ(clicks.Seen, (std::vector<std::pair<int, int>>{{st.column, st.column}}));
        EXPECT_EQ(list->GetSortColumn(), st.column);
        EXPECT_EQ(list->GetSortDescending(), st.descending);
        EXPECT_EQ(order(), expected(st.column, st.descending)) << st.column << " " << st.descending;
        EXPECT_TRUE(find(L"b.txt")->GetSelected());
        EXPECT_EQ(list->GetSelCount(), 1);
        checkArrows(st.column, st.descending);
    }
    if (!themed) EXPECT_EQ(pictures.size(), 2u);
    // The other way: pictures where themes are on, the header's arrows where
    // they are off.
    HBITMAP up = ::CreateBitmap(8, 8, 1, 32, nullptr), down = ::CreateBitmap(8, 8, 1, 32, nullptr);
    for (bool descending : {false, true}) {
        shell::MarkSortColumn(header, 1, descending, !themed, up, down);
        for (int c = 0; c < shown; ++c) {
            HDITEMW hd{};
            hd.mask = HDI_FORMAT | HDI_BITMAP;
            ::SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&hd));
            const int flags = hd.fmt & (HDF_SORTUP | HDF_SORTDOWN | HDF_BITMAP | HDF_BITMAP_ON_RIGHT);
            const int arrow = !themed ? (descending ? HDF_SORTDOWN : HDF_SORTUP) : HDF_BITMAP | HDF_BITMAP_ON_RIGHT;
            EXPECT_EQ(flags, c != 1 ? 0 : arrow) << c;
            if (c == 1 && themed) EXPECT_EQ(hd.hbm, descending ? down : up);
        }
    }
    // The end of a column drag or resize (the header loses the capture)
    // shows the arrow again.
    HDITEMW plain{};
    plain.mask = HDI_FORMAT;
    plain.fmt = HDF_STRING;
    ::SendMessageW(header, HDM_SETITEMW, 0, reinterpret_cast<LPARAM>(&plain));
    ::SendMessageW(header, WM_CAPTURECHANGED, 0, 0);
    checkArrows(0, false);
    // So does the end of a mouse action of the list itself.
    ::SendMessageW(header, HDM_SETITEMW, 0, reinterpret_cast<LPARAM>(&plain));
    ::SendMessageW(list->GetHandle(), WM_CAPTURECHANGED, 0, 0);
    checkArrows(0, false);
    ::DeleteObject(up);
    ::DeleteObject(down);

    // A fill keeps the order.
    list->SortBy(3, true);
    list->Populate();
    EXPECT_EQ(order(), expected(3, true));

    // OnCompare decides (here: by the last letter of the caption).
    struct LastLetter {
        int calls = 0;
        void Compare(classlib::TObject*, classlib::TListItem* a, classlib::TListItem* b, int Data, int& Result)
        {
            ++calls;
            EXPECT_EQ(Data, 0);
            Result = int(a->GetCaption().back()) - int(b->GetCaption().back());
        }
    } lastLetter;
    list->OnCompare = shell::TOnListCompare(&lastLetter, &LastLetter::Compare);
    list->SortBy(0, false);
    EXPECT_GT(lastLetter.calls, 0);
    // Equal answers keep the order before (modified, descending).
    EXPECT_EQ(order(), (std::vector<std::wstring>{L" .. ", L"a.gif", L"d.gif", L"C.bmp", L"zdir", L"adir", L"b.txt"}));
    list->OnCompare = nullptr;

    list->SortBy(2, false);
    list->SetDetails(false);
    EXPECT_EQ(list->GetColumns()->GetCount(), 1);
    EXPECT_EQ(list->GetDetailColumnCount(), 1);
    EXPECT_EQ(list->GetSortColumn(), 0);
    EXPECT_EQ(order(), expected(0, false));
}

// A folder whose objects are one-byte lists compared by their byte: by
// value for detail 7, failing for 8, always "greater" for 9 (a folder
// that contradicts itself).
class TByteFolder : public IShellFolder {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        *out = iid == IID_IUnknown || iid == IID_IShellFolder ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE ParseDisplayName(HWND, IBindCtx*, LPWSTR, ULONG*, PIDLIST_RELATIVE*, ULONG*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EnumObjects(HWND, SHCONTF, IEnumIDList**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BindToObject(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BindToStorage(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CompareIDs(LPARAM Detail, PCUIDLIST_RELATIVE a, PCUIDLIST_RELATIVE b) override
    {
        ++calls;
        if (Detail == 8) return E_FAIL;
        if (Detail == 9) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);
        // The answer in the low 16 bits, with bits above that must not count.
        const int c = int(a->mkid.abID[0]) - int(b->mkid.abID[0]);
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0x55, static_cast<USHORT>(static_cast<short>(c)));
    }
    HRESULT STDMETHODCALLTYPE CreateViewObject(HWND, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAttributesOf(UINT, PCUITEMID_CHILD_ARRAY, SFGAOF*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUIObjectOf(HWND, UINT, PCUITEMID_CHILD_ARRAY, REFIID, UINT*, void**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDisplayNameOf(PCUITEMID_CHILD, SHGDNF, STRRET*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetNameOf(HWND, PCUITEMID_CHILD, LPCWSTR, SHGDNF, PITEMID_CHILD*) override
    {
        return E_NOTIMPL;
    }
    int calls = 0;
};

// The order of a folder's objects follows its CompareIDs answer (low 16 bits,
// signed), turned round for descending; failures keep the order they came
// in; a folder that contradicts itself still gives every object once.
TEST(ShellControls, ObjectsOrderedByTheFolder)
{
    const BYTE values[] = {30, 10, 200, 20, 10, 0};
    std::vector<std::vector<BYTE>> lists;
    std::vector<LPCITEMIDLIST> pidls;
    for (BYTE v : values) lists.push_back({3, 0, v, 0, 0});
    for (const auto& l : lists) pidls.push_back(reinterpret_cast<LPCITEMIDLIST>(l.data()));
    TByteFolder folder;
    struct Case {
        int detail;
        bool descending;
        std::vector<int> order;
    };
    const Case cases[] = {
        {7, false, {5, 1, 4, 3, 0, 2}},  // equal values keep their order
        {7, true, {2, 0, 3, 1, 4, 5}},
        {8, false, {0, 1, 2, 3, 4, 5}},
        {8, true, {0, 1, 2, 3, 4, 5}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shell::OrderObjects(&folder, c.detail, pidls, c.descending), c.order) << c.detail << c.descending;
    for (bool descending : {false, true}) {
        std::vector<int> order = shell::OrderObjects(&folder, 9, pidls, descending);
        std::sort(order.begin(), order.end());
        EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    }
    folder.calls = 0;
    EXPECT_EQ(shell::OrderObjects(&folder, 7, {pidls[0]}, false), std::vector<int>{0});
    EXPECT_EQ(shell::OrderObjects(nullptr, 7, pidls, false), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(folder.calls, 0);
}

// Column widths the user set come back with the next folder of the same
// kind; another kind has its own.
TEST(ShellControls, ListColumnWidthsPerKindOfFolder)
{
    shell::TShellScope shellScope;
    testsupport::TempDir one, two;
    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    // Each fill makes the columns again and says so once they are there.
    struct Made {
        int count = 0, columns = 0;
        void Columns(classlib::TObject* Sender)
        {
            ++count;
            columns = static_cast<shell::TShellList*>(Sender)->GetColumns()->GetCount();
        }
    } made;
    list->OnCreateColumns = classlib::TNotifyEvent(&made, &Made::Columns);
    list->SetPath(one.Path());
    EXPECT_EQ(made.count, 1);
    EXPECT_EQ(made.columns, list->GetColumns()->GetCount());
    ASSERT_GE(list->GetColumns()->GetCount(), 2);
    const int shellWidth = list->GetColumns()->GetItem(1)->GetWidth();
    list->GetColumns()->GetItem(1)->SetWidth(shellWidth + 77);
    list->SetSpecialFolder(shell::SF_DRIVES);
    ASSERT_GE(list->GetColumns()->GetCount(), 2);
    const int drivesWidth = list->GetColumns()->GetItem(1)->GetWidth();
    EXPECT_NE(drivesWidth, shellWidth + 77);
    list->GetColumns()->GetItem(1)->SetWidth(drivesWidth + 5);
    list->SetPath(two.Path());
    EXPECT_EQ(list->GetColumns()->GetItem(1)->GetWidth(), shellWidth + 77);
    list->SetSpecialFolder(shell::SF_DRIVES);
    EXPECT_EQ(list->GetColumns()->GetItem(1)->GetWidth(), drivesWidth + 5);
}

// The columns of a folder's details: those shown by default, up to the
// first empty title, never more than the slots there are.
TEST(ShellControls, DetailColumnsAreBounded)
{
    struct Case {
        const char* what;
        int details;  // titles "d0" .. ; then empty (-1: never empty)
        int hiddenEvery;  // every n-th detail has width 0 (0: none)
        bool all;
        std::size_t columns;
        int lastDetail;
    };
    const Case cases[] = {
        {"name only", 5, 0, false, 1, 0},
        {"all shown", 5, 0, true, 5, 4},
        {"hidden ones left out", 6, 2, true, 3, 5},
        {"more details than slots", 300, 0, true, std::size_t(shell::MaxDetailColumns), shell::MaxDetailColumns - 1},
        {"titles that never end", -1, 0, true, std::size_t(shell::MaxDetailColumns), shell::MaxDetailColumns - 1},
        {"endless and hidden", -1, 1, true, 0, -1},
    };
    for (const Case& c : cases) {
        int asked = 0;
        const auto columns = shell::ReadDetailColumns(
            [&](int d) { return c.details < 0 || d < c.details ? L"d" + std::to_wstring(d) : std::wstring(); },
            [&](int d, int& width) {
                ++asked;
                width = c.hiddenEvery && d % c.hiddenEvery == 0 ? 0 : 10 + d;
                return d % 3;
            },
            c.all);
        EXPECT_EQ(columns.size(), c.columns) << c.what;
        EXPECT_LE(asked, 4096) << c.what;
        if (columns.empty()) continue;
        EXPECT_EQ(columns.back().Detail, c.lastDetail) << c.what;
        EXPECT_EQ(columns.back().Title, L"d" + std::to_wstring(c.lastDetail)) << c.what;
        EXPECT_EQ(columns.back().Width, 10 + c.lastDetail) << c.what;
        const classlib::TAlignment alignments[] = {classlib::taLeftJustify, classlib::taRightJustify, classlib::taCenter};
        EXPECT_EQ(columns.back().Alignment, alignments[c.lastDetail % 3]) << c.what;
    }
}

// A name edited in place renames the file; a name that is taken, one a
// file name cannot hold, or a cancelled edit leaves file and item as they
// were. F2 starts the edit only when the list is not read-only.
TEST(ShellControls, ListRenamesInPlace)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    Touch(dir.File(L"a.gif"));
    Touch(dir.File(L"b.gif"));

    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    list->SetPath(dir.Path());
    ASSERT_EQ(list->GetItems()->GetCount(), 2);
    HWND wnd = list->GetHandle();
    auto notify = [&](NMHDR& hdr, UINT code) {
        hdr.hwndFrom = wnd;
        hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(wnd));
        hdr.code = code;
        return ::SendMessageW(form.GetHandle(), WM_NOTIFY, hdr.idFrom, reinterpret_cast<LPARAM>(&hdr));
    };
    auto endEdit = [&](int index, const wchar_t* text) {
        NMLVDISPINFOW info{};
        info.item.iItem = index;
        std::wstring buffer = text ? text : L"";
        info.item.pszText = text ? buffer.data() : nullptr;
        notify(info.hdr, LVN_ENDLABELEDITW);
    };
    auto exists = [&](const wchar_t* name) { return ::GetFileAttributesW(dir.File(name).c_str()) != INVALID_FILE_ATTRIBUTES; };

    // A refused name is told with both names and the reason; an empty or
    // cancelled edit says nothing.
    std::vector<std::wstring> told;
    list->OnRenameRefused = decltype(list->OnRenameRefused)::FromFunction(
        [](void* Told, classlib::TObject*, const std::wstring& Message) {
            static_cast<std::vector<std::wstring>*>(Told)->push_back(Message);
        },
        &told);
    struct Case {
        const wchar_t* text;  // nullptr: cancelled
        const wchar_t* reason;  // nullptr: no message
    };
    const Case refused[] = {{L"b.gif", L"already exists"},
                            {L"x?.gif", L"cannot contain"},
                            {L"", nullptr},
                            {nullptr, nullptr}};
    for (const Case& c : refused) {
        const std::string what = c.text ? std::string(c.text, c.text + wcslen(c.text)) : "(cancelled)";
        told.clear();
        endEdit(0, c.text);
        EXPECT_EQ(list->GetItems()->GetItem(0)->GetCaption(), L"a.gif") << what;
        EXPECT_TRUE(exists(L"a.gif"));
        EXPECT_TRUE(exists(L"b.gif"));
        if (!c.reason) {
            EXPECT_TRUE(told.empty()) << what;
            continue;
        }
        ASSERT_EQ(told.size(), 1u) << what;
        EXPECT_NE(told[0].find(L"\"a.gif\""), std::wstring::npos) << what;
        EXPECT_NE(told[0].find(std::wstring(L"\"") + c.text + L"\""), std::wstring::npos) << what;
        EXPECT_NE(told[0].find(c.reason), std::wstring::npos) << what;
    }
    endEdit(0, L"renamed.gif");
    EXPECT_EQ(list->GetItems()->GetItem(0)->GetCaption(), L"renamed.gif");
    EXPECT_TRUE(exists(L"renamed.gif"));
    EXPECT_FALSE(exists(L"a.gif"));
    EXPECT_EQ(list->GetItemPathAt(0), dir.File(L"renamed.gif"));
    // The automatic refresh that follows the announcement keeps the list.
    shelltest::PumpFor(600);
    EXPECT_EQ(list->GetItems()->GetCount(), 2);

    EXPECT_FALSE(list->GetReadOnly());
    list->SetReadOnly(true);
    wnd = list->GetHandle();
    list->GetItems()->GetItem(1)->SetSelected(true);
    NMLVKEYDOWN key{};
    key.wVKey = VK_F2;
    notify(key.hdr, LVN_KEYDOWN);
    EXPECT_EQ(::SendMessageW(wnd, LVM_GETEDITCONTROL, 0, 0), 0);
    list->SetReadOnly(false);
    wnd = list->GetHandle();
    list->GetItems()->GetItem(1)->SetSelected(true);
    notify(key.hdr, LVN_KEYDOWN);
    EXPECT_NE(::SendMessageW(wnd, LVM_GETEDITCONTROL, 0, 0), 0);
    ::SendMessageW(wnd, LVM_CANCELEDITLABEL, 0, 0);
}

// A file type whose captions hide the extension: the name typed in place
// (without the extension) renames through the shell, which keeps the
// extension; the file stays in the list filtered by its extension.
TEST(ShellControls, ListRenameKeepsTheExtensionTheCaptionHides)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    // The type's class says "never show the extension"; removed at the end.
    struct TFileType {
        TFileType()
        {
            HKEY key = nullptr;
            ::RegCreateKeyExW(HKEY_CLASSES_ROOT, L".velmohid", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
            const wchar_t cls[] = L"VelmoHiddenExtension";
            ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(cls), sizeof(cls));
            ::RegCloseKey(key);
            ::RegCreateKeyExW(HKEY_CLASSES_ROOT, cls, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
            ::RegSetValueExW(key, L"NeverShowExt", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
            ::RegCloseKey(key);
        }
        ~TFileType()
        {
            ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L".velmohid");
            ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"VelmoHiddenExtension");
        }
    } type;
    Touch(dir.File(L"holiday.velmohid"));
    Touch(dir.File(L"taken.velmohid"));

    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    list->SetFilter(L"*.velmohid");
    list->SetPath(dir.Path());
    ASSERT_EQ(list->GetItems()->GetCount(), 2);
    const int index = list->GetItems()->GetItem(0)->GetCaption() == L"holiday" ? 0 : 1;
    ASSERT_EQ(list->GetItems()->GetItem(index)->GetCaption(), L"holiday") << "the caption shows the extension";

    std::vector<std::wstring> told;
    list->OnRenameRefused = decltype(list->OnRenameRefused)::FromFunction(
        [](void* Told, classlib::TObject*, const std::wstring& Message) {
            static_cast<std::vector<std::wstring>*>(Told)->push_back(Message);
        },
        &told);
    HWND wnd = list->GetHandle();
    NMLVDISPINFOW info{};
    info.hdr.hwndFrom = wnd;
    info.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(wnd));
    info.hdr.code = LVN_ENDLABELEDITW;
    info.item.iItem = index;
    wchar_t typed[] = L"summer";
    info.item.pszText = typed;
    ::SendMessageW(form.GetHandle(), WM_NOTIFY, info.hdr.idFrom, reinterpret_cast<LPARAM>(&info));
    EXPECT_TRUE(told.empty()) << (told.empty() ? "" : std::string(told[0].begin(), told[0].end()));
    EXPECT_EQ(::GetFileAttributesW(dir.File(L"summer").c_str()), INVALID_FILE_ATTRIBUTES) << "the extension was lost";
    EXPECT_NE(::GetFileAttributesW(dir.File(L"summer.velmohid").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(::GetFileAttributesW(dir.File(L"holiday.velmohid").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(list->GetItems()->GetItem(index)->GetCaption(), L"summer");
    EXPECT_EQ(list->GetItemPathAt(index), dir.File(L"summer.velmohid"));
    // The refresh that follows the shell's announcement keeps it listed.
    shelltest::PumpFor(600);
    ASSERT_EQ(list->GetItems()->GetCount(), 2);
    std::set<std::wstring> paths;
    for (int i = 0; i < 2; ++i) paths.insert(list->GetItemPathAt(i));
    EXPECT_EQ(paths, (std::set<std::wstring>{dir.File(L"summer.velmohid"), dir.File(L"taken.velmohid")}));

    // A name taken by another file of the type is refused with a message.
    const int summer = list->GetItemPathAt(0) == dir.File(L"summer.velmohid") ? 0 : 1;
    info.item.iItem = summer;
    wchar_t taken[] = L"taken";
    info.item.pszText = taken;
    ::SendMessageW(form.GetHandle(), WM_NOTIFY, info.hdr.idFrom, reinterpret_cast<LPARAM>(&info));
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find(L"\"taken\""), std::wstring::npos);
    EXPECT_NE(::GetFileAttributesW(dir.File(L"summer.velmohid").c_str()), INVALID_FILE_ATTRIBUTES);
}

// The drop effect follows the keys but never leaves what the source
// allows; both keys ask for a link.
TEST(ShellControls, DropEffectStaysWithinWhatTheSourceAllows)
{
    const DWORD copy = DROPEFFECT_COPY, move = DROPEFFECT_MOVE, link = DROPEFFECT_LINK, none = DROPEFFECT_NONE;
    struct Case {
        DWORD keys, allowed;
        bool sameDrive;
        DWORD expected;
    };
    const Case cases[] = {
        {0, copy | move, true, move},          {0, copy | move, false, copy},
        {MK_SHIFT, copy | move, false, move},  {MK_CONTROL, copy | move, true, copy},
        {MK_SHIFT, copy, true, copy},          {MK_CONTROL, move, false, move},
        {0, link, true, link},                 {MK_SHIFT | MK_CONTROL, copy | move | link, true, link},
        {MK_SHIFT | MK_CONTROL, copy | move, true, copy}, {MK_SHIFT, link, false, link},
        {0, none, true, none},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shell::ChooseDropEffect(c.keys, c.allowed, c.sameDrive), c.expected)
            << c.keys << " " << c.allowed << " " << c.sameDrive;
}

// Files dropped onto the list are copied or moved into its folder, show
// selected, and the effect reported is the one done: a drop that fails or
// that the source does not allow reports no effect.
TEST(ShellControls, FilesDroppedOntoTheListArriveInItsFolder)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ::CreateDirectoryW(dir.File(L"src").c_str(), nullptr);
    ::CreateDirectoryW(dir.File(L"dst").c_str(), nullptr);
    for (const wchar_t* n : {L"src\\x.jpg", L"src\\y.png", L"dst\\old.gif"}) Touch(dir.File(n));

    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    list->SetPath(dir.File(L"dst"));
    ASSERT_EQ(list->GetItems()->GetCount(), 1);
    IDropTarget* target = list->GetDropTarget();
    ASSERT_NE(target, nullptr);
    auto exists = [&](const wchar_t* name) { return ::GetFileAttributesW(dir.File(name).c_str()) != INVALID_FILE_ATTRIBUTES; };
    auto drop = [&](std::vector<std::wstring> files, DWORD keys, DWORD allowed) {
        shelltest::TFilesObject data(true, std::move(files));
        DWORD effect = allowed;
        EXPECT_EQ(target->DragEnter(&data, keys, POINTL{5, 5}, &effect), S_OK);
        effect = allowed;
        EXPECT_EQ(target->DragOver(keys, POINTL{6, 6}, &effect), S_OK);
        effect = allowed;
        EXPECT_EQ(target->Drop(&data, keys, POINTL{6, 6}, &effect), S_OK);
        return effect;
    };

    // Shift asks for a move, the source allows a copy only: copied.
    EXPECT_EQ(drop({dir.File(L"src\\x.jpg")}, MK_SHIFT, DROPEFFECT_COPY), DWORD(DROPEFFECT_COPY));
    EXPECT_TRUE(exists(L"dst\\x.jpg"));
    EXPECT_TRUE(exists(L"src\\x.jpg"));
    ASSERT_EQ(list->GetItems()->GetCount(), 2);
    EXPECT_EQ(list->GetSelCount(), 1);
    EXPECT_EQ(list->GetSelected()->GetCaption(), L"x.jpg");

    EXPECT_EQ(drop({dir.File(L"src\\y.png")}, MK_SHIFT, DROPEFFECT_COPY | DROPEFFECT_MOVE), DWORD(DROPEFFECT_MOVE));
    EXPECT_TRUE(exists(L"dst\\y.png"));
    EXPECT_FALSE(exists(L"src\\y.png"));
    EXPECT_EQ(list->GetItems()->GetCount(), 3);

    // Only a link allowed: a shell link to the file arrives.
    EXPECT_EQ(drop({dir.File(L"src\\x.jpg")}, 0, DROPEFFECT_LINK), DWORD(DROPEFFECT_LINK));
    EXPECT_EQ(shell::GetShellLinkTarget(dir.File(L"dst\\x.jpg.lnk")), dir.File(L"src\\x.jpg"));
    EXPECT_EQ(list->GetItems()->GetCount(), 4);
    // Refused: already in the folder; a source that is gone.
    EXPECT_EQ(drop({dir.File(L"dst\\old.gif")}, 0, DROPEFFECT_COPY), DWORD(DROPEFFECT_NONE));
    EXPECT_EQ(drop({dir.File(L"src\\gone.jpg")}, MK_SHIFT, DROPEFFECT_MOVE), DWORD(DROPEFFECT_NONE));
    EXPECT_EQ(list->GetItems()->GetCount(), 4);
}

// Check boxes keep their states in the link's selection list: Space or a
// click on the box toggles the selected object, a folder with something
// checked below shows grey; without a link there are no boxes.
TEST(ShellControls, ListCheckBoxesFollowTheSelectionList)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    Touch(dir.File(L"a.gif"));
    ::CreateDirectoryW(dir.File(L"sub").c_str(), nullptr);
    Touch(dir.File(L"sub\\in.gif"));
    Touch(dir.File(L"sub\\out.gif"));

    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    list->SetPath(dir.Path());
    list->SetCheckboxes(true);
    EXPECT_FALSE(list->GetCheckboxes());  // no link
    auto* link = new shell::TShellLink(&form);
    list->SetShellLink(link);
    ASSERT_NE(link->GetSelectionList(), nullptr);
    list->SetCheckboxes(true);
    ASSERT_TRUE(list->GetCheckboxes());
    ASSERT_EQ(list->GetItems()->GetCount(), 2);  // sub, a.gif
    HWND wnd = list->GetHandle();
    const auto states = reinterpret_cast<HIMAGELIST>(::SendMessageW(wnd, LVM_GETIMAGELIST, LVSIL_STATE, 0));
    ASSERT_NE(states, nullptr);
    EXPECT_EQ(::ImageList_GetImageCount(states), 5) << "one picture per selection state";
    auto shown = [&](int i) {  // the state image the window shows
        return static_cast<int>((::SendMessageW(wnd, LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_STATEIMAGEMASK) >> 12) - 1);
    };
    EXPECT_EQ(shown(1), shell::ssUnChecked);

    std::vector<std::pair<int, int>> changes;
    struct Recorder {
        std::vector<std::pair<int, int>>* out;
        void Changed(classlib::TObject*, int index, const std::wstring&, shell::TShSelectionState state)
        {
            out->emplace_back(index, state);
        }
    } rec{&changes};
    list->OnCheckStateChanged = shell::TOnCheckStateChanged(&rec, &Recorder::Changed);
    list->SetItemIndex(1);
    NMLVKEYDOWN key{};
    key.hdr.hwndFrom = wnd;
    key.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(wnd));
    key.hdr.code = LVN_KEYDOWN;
    key.wVKey = VK_SPACE;
    ::SendMessageW(form.GetHandle(), WM_NOTIFY, key.hdr.idFrom, reinterpret_cast<LPARAM>(&key));
    EXPECT_EQ(shown(1), shell::ssChecked);
    EXPECT_EQ(link->GetSelectionList()->GetStateOfPath(dir.File(L"a.gif")), shell::ssChecked);
    ::SendMessageW(form.GetHandle(), WM_NOTIFY, key.hdr.idFrom, reinterpret_cast<LPARAM>(&key));
    EXPECT_EQ(shown(1), shell::ssUnChecked);
    EXPECT_EQ(changes, (std::vector<std::pair<int, int>>{{1, shell::ssChecked}, {1, shell::ssUnChecked}}));

    // Part of the folder checked: grey.
    link->GetSelectionList()->Check(dir.File(L"sub\\in.gif"));
    list->Populate();
    EXPECT_EQ(shown(0), shell::ssGrayed);
}

// A folder of 5,000 files: the call that shows it returns quickly and the
// rest arrives while the window keeps serving messages.
TEST(ShellControls, LargeFolderFillsWhileMessagesAreServed)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    constexpr int kFiles = 5000;
    for (int i = 0; i < kFiles; ++i) Touch(dir.File(L"f" + std::to_wstring(i) + L".jpg"));

    HostForm form;
    auto* list = new shell::TShellList(&form);
    list->SetParent(&form);
    list->SetShowFolders(false);
    list->HandleNeeded();
    int populated = 0;
    list->OnPopulated = classlib::TNotifyEvent::FromFunction([](void* c, classlib::TObject*) { ++*static_cast<int*>(c); },
                                                             &populated);
    LARGE_INTEGER freq, t0, t1;
    ::QueryPerformanceFrequency(&freq);
    ::QueryPerformanceCounter(&t0);
    list->SetPath(dir.Path());
    ::QueryPerformanceCounter(&t1);
    const double callMs = double(t1.QuadPart - t0.QuadPart) * 1000.0 / double(freq.QuadPart);
    // The call hands back the window long before the folder is listed.
    const int countAfterCall = list->GetItems()->GetCount();
    EXPECT_LT(countAfterCall, kFiles);
    EXPECT_EQ(populated, 0);
    // While the fill goes on, Path answers the folder being filled, and the
    // same folder asked for again once items show starts nothing anew.
    EXPECT_TRUE(shell::SamePath(list->GetPath(), dir.Path()));
    bool askedAgain = false;
    // The pump below serves the window's messages one at a time; every item
    // count it sees while the fill goes on is a state the window showed
    // between two fill steps. A fill in one piece would show none.
    std::set<int> countsSeen;
    double longestGapMs = 0;
    LARGE_INTEGER last = t1, now;
    EXPECT_TRUE(shelltest::PumpUntil(
        [&] {
            ::QueryPerformanceCounter(&now);
            longestGapMs = std::max(longestGapMs, double(now.QuadPart - last.QuadPart) * 1000.0 / double(freq.QuadPart));
            last = now;
            if (populated == 0) countsSeen.insert(list->GetItems()->GetCount());
            if (!askedAgain && populated == 0 && list->GetItems()->GetCount() > 1) {
                askedAgain = true;
                list->SetPath(dir.Path());
            }
            return populated > 0;
        },
        120000));
    const double totalMs = double(now.QuadPart - t0.QuadPart) * 1000.0 / double(freq.QuadPart);
    EXPECT_TRUE(askedAgain);
    EXPECT_EQ(list->GetItems()->GetCount(), kFiles);
    EXPECT_EQ(populated, 1);
    // Items arrive in steps of at most a few hundred: 5,000 take well over
    // ten steps, each one a visit of the message loop.
    EXPECT_GE(countsSeen.size(), 10u);
    std::printf("fill of %d files: call %.0f ms (%d items), total %.0f ms, longest gap %.0f ms, %zu states seen\n",
                kFiles, callMs, countAfterCall, totalMs, longestGapMs, countsSeen.size());

    // Sorting the items in place: the names turned round exactly.
    auto captions = [&] {
        std::vector<std::wstring> c;
        for (int i = 0; i < list->GetItems()->GetCount(); ++i) c.push_back(list->GetItems()->GetItem(i)->GetCaption());
        return c;
    };
    const std::vector<std::wstring> ascending = captions();
    ::QueryPerformanceCounter(&t0);
    list->SortBy(0, true);
    ::QueryPerformanceCounter(&t1);
    std::vector<std::wstring> descending = captions();
    std::reverse(descending.begin(), descending.end());
    EXPECT_EQ(descending, ascending);
    std::printf("sort of %d items in place: %.0f ms\n", kFiles,
                double(t1.QuadPart - t0.QuadPart) * 1000.0 / double(freq.QuadPart));
    // By type and by size: all equal, so in the order of their names.
    for (int column : {2, 1}) {
        ::QueryPerformanceCounter(&t0);
        list->SortBy(column, false);
        ::QueryPerformanceCounter(&t1);
        EXPECT_EQ(captions(), ascending) << column;
        std::printf("sort of %d items by column %d: %.0f ms\n", kFiles, column,
                    double(t1.QuadPart - t0.QuadPart) * 1000.0 / double(freq.QuadPart));
    }
}

// Another control selects an object of a large folder: the fill has not
// reached it when the call returns, and the step that brings it selects,
// focuses and shows it, where the finished list sorts it.
TEST(ShellControls, LinkedSelectionInALargeFolderWaitsForItsItem)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    constexpr int kFiles = 3000;
    for (int i = 0; i < kFiles; ++i) Touch(dir.File(L"f" + std::to_wstring(10000 + i) + L".jpg"));
    const std::wstring wanted = L"f" + std::to_wstring(10000 + kFiles - 7) + L".jpg";

    HostForm form;
    auto* list = new shell::TShellList(&form);
    list->SetParent(&form);
    list->SetBounds(0, 0, 300, 200);
    list->SetShowFolders(false);
    list->HandleNeeded();
    int populated = 0;
    list->OnPopulated = classlib::TNotifyEvent::FromFunction([](void* c, classlib::TObject*) { ++*static_cast<int*>(c); },
                                                             &populated);
    shell::TPidl folder = shell::PathToPidl(nullptr, dir.Path());
    shell::TPidl object = shell::PathToPidl(nullptr, dir.File(wanted));
    ASSERT_TRUE(folder && object);
    list->SelectionChanged(folder.get(), object.get());
    ASSERT_LT(list->GetItems()->GetCount(), kFiles - 7) << "the folder filled in one go: nothing to wait for";
    ASSERT_TRUE(shelltest::PumpUntil([&] { return populated > 0; }, 120000));
    ASSERT_EQ(list->GetItems()->GetCount(), kFiles);
    classlib::TListItem* selected = list->GetSelected();
    ASSERT_NE(selected, nullptr) << "the object was never selected";
    EXPECT_EQ(selected->GetCaption().substr(0, 6), wanted.substr(0, 6)) << "the shown name may hide the extension";
    EXPECT_EQ(list->GetSelCount(), 1);
    EXPECT_TRUE(selected->GetFocused());
    const int row = list->GetItems()->IndexOf(selected);
    const int top = static_cast<int>(::SendMessageW(list->GetHandle(), LVM_GETTOPINDEX, 0, 0));
    const int rows = static_cast<int>(::SendMessageW(list->GetHandle(), LVM_GETCOUNTPERPAGE, 0, 0));
    EXPECT_GE(row, top);
    EXPECT_LE(row, top + std::max(rows, 1)) << "scrolled into view";
}

// The captions of a list in order.
std::vector<std::wstring> Captions(shell::TShellList* List)
{
    std::vector<std::wstring> v;
    for (int i = 0; i < List->GetItems()->GetCount(); ++i) v.push_back(List->GetItems()->GetItem(i)->GetCaption());
    return v;
}

// The list reads any shell folder: My Computer (virtual: no path, its
// drives as items with their root paths), a special folder, and back to a
// file-system folder; the " .. " item leads up, except at the desktop and
// while the link forbids going up.
TEST(ShellControls, ListShowsVirtualFoldersAndTheParentItem)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ::CreateDirectoryW(dir.File(L"sub").c_str(), nullptr);
    Touch(dir.File(L"sub\\x.gif"));

    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    list->SetSpecialFolder(shell::SF_DRIVES);
    EXPECT_EQ(list->GetSpecialFolder(), shell::SF_DRIVES);
    EXPECT_EQ(list->GetPath(), L"");
    std::vector<std::wstring> drives;
    for (int i = 0; i < list->GetItems()->GetCount(); ++i) drives.push_back(list->GetItemPathAt(i));
    const std::wstring system = shell::SystemDriveRoot();
    EXPECT_NE(std::find_if(drives.begin(), drives.end(), [&](const std::wstring& p) { return shell::SamePath(p, system); }),
              drives.end())
        << "no item for " << std::string(system.begin(), system.end());

    list->SetShowParentFolder(true);
    list->SetPath(dir.File(L"sub"));
    ASSERT_EQ(Captions(list), (std::vector<std::wstring>{L" .. ", L"x.gif"}));
    EXPECT_TRUE(shell::TShellList::ShellItem(list->GetItems()->GetItem(0))->IsParentFolder());
    EXPECT_EQ(list->GetItemPathAt(0), L"");  // the parent item names no object
    EXPECT_EQ(list->GetItemPathAt(1), dir.File(L"sub\\x.gif"));
    // A double click on it goes up.
    NMITEMACTIVATE act{};
    act.hdr.hwndFrom = list->GetHandle();
    act.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(list->GetHandle()));
    act.hdr.code = NM_DBLCLK;
    act.iItem = 0;
    ::SendMessageW(form.GetHandle(), WM_NOTIFY, act.hdr.idFrom, reinterpret_cast<LPARAM>(&act));
    EXPECT_EQ(list->GetPath(), dir.Path() + L"\\");
    EXPECT_EQ(Captions(list).front(), L" .. ");

    list->SetSpecialFolder(shell::SF_DESKTOP);
    EXPECT_EQ(list->GetSpecialFolder(), shell::SF_DESKTOP);
    for (const std::wstring& c : Captions(list)) EXPECT_NE(c, L" .. ");

    auto* link = new shell::TShellLink(&form);
    list->SetShellLink(link);
    link->SetParentAllowed(false);
    list->SetPath(dir.File(L"sub"));
    EXPECT_EQ(Captions(list), (std::vector<std::wstring>{L"x.gif"}));
}

// Every folder shown goes into the history; steps back and forward show
// the folders again without adding to it.
TEST(ShellControls, ListHistoryStepsBackAndForward)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (const wchar_t* n : {L"a", L"b", L"c"}) ::CreateDirectoryW(dir.File(n).c_str(), nullptr);

    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    for (const wchar_t* n : {L"a", L"b", L"c"}) list->SetPath(dir.File(n));
    const int entries = list->GetHistory()->GetCount();
    struct Step {
        int count;
        const wchar_t* folder;
    };
    const Step steps[] = {{-1, L"b"}, {-1, L"a"}, {-5, L"a"}, {2, L"c"}, {1, L"c"}, {-2, L"a"}};
    for (const Step& st : steps) {
        list->HistoryStep(st.count);
        EXPECT_EQ(list->GetPath(), dir.File(st.folder) + L"\\") << st.count;
    }
    EXPECT_EQ(list->GetHistory()->GetCount(), entries);
    // A new folder after stepping back drops the ones ahead.
    list->SetPath(dir.File(L"c"));
    list->HistoryStep(1);
    EXPECT_EQ(list->GetPath(), dir.File(L"c") + L"\\");
    list->HistoryStep(-1);
    EXPECT_EQ(list->GetPath(), dir.File(L"a") + L"\\");
}

// The options pick what is listed; OnAddItem can keep an item out; setting
// the folder shown refills only when it lists one item or none.
TEST(ShellControls, ListOptionsAndOnAddItemChooseTheItems)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ::CreateDirectoryW(dir.File(L"folder").c_str(), nullptr);
    ::CreateDirectoryW(dir.File(L"hidden").c_str(), nullptr);
    ::SetFileAttributesW(dir.File(L"hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
    Touch(dir.File(L"a.gif"));
    Touch(dir.File(L"skip.gif"));

    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    EXPECT_EQ(list->GetShellOptions(), shell::soShowNethood | shell::soShowRecycleBin | shell::soShowFiles);
    list->OnAddItem = shell::TOnAddItem::FromFunction(
        [](void*, shell::TShellListItem* item, bool& canAdd) { canAdd = item->ObjectName != L"skip.gif"; }, nullptr);
    list->SetPath(dir.Path());
    using Names = std::vector<std::wstring>;
    EXPECT_EQ(Captions(list), (Names{L"folder", L"a.gif"}));
    list->SetShowHidden(true);
    EXPECT_EQ(Captions(list), (Names{L"folder", L"hidden", L"a.gif"}));
    list->SetShowFiles(false);
    EXPECT_EQ(Captions(list), (Names{L"folder", L"hidden"}));
    list->SetShowFolders(false);
    EXPECT_TRUE(Captions(list).empty());
    list->SetShowFiles(true);
    EXPECT_EQ(Captions(list), (Names{L"a.gif"}));

    int fills = 0;
    list->OnPopulated = classlib::TNotifyEvent::FromFunction([](void* c, classlib::TObject*) { ++*static_cast<int*>(c); },
                                                             &fills);
    list->SetPath(dir.Path());  // one item: read again
    EXPECT_EQ(fills, 1);
    list->OnAddItem = nullptr;
    list->Populate();
    EXPECT_EQ(fills, 2);
    list->SetPath(dir.Path());  // two items: left alone
    EXPECT_EQ(fills, 2);
}

// An item marked cut whose object leaves the folder is reported as cut and
// removed; one that merely leaves is not reported.
TEST(ShellControls, ListReportsCutItemsThatVanish)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (const wchar_t* n : {L"a.gif", L"b.gif", L"c.gif"}) Touch(dir.File(n));

    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    list->SetAutomaticRefresh(false);
    list->SetPath(dir.Path());
    ASSERT_EQ(list->GetItems()->GetCount(), 3);
    LVITEMW state{};
    state.stateMask = LVIS_CUT;
    state.state = LVIS_CUT;
    ::SendMessageW(list->GetHandle(), LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
    struct Report {
        int calls = 0;
        shell::TShellOperations operation = 0;
        std::vector<std::wstring> files;
    } report;
    list->OnOperation = shell::TOnOperation::FromFunction(
        [](void* r, classlib::TObject*, shell::TShellOperations op, classlib::TStringList* files, const std::wstring&) {
            auto* rep = static_cast<Report*>(r);
            ++rep->calls;
            rep->operation = op;
            for (int i = 0; i < files->GetCount(); ++i) rep->files.push_back(files->GetStrings(i));
        },
        &report);
    ::DeleteFileW(dir.File(L"b.gif").c_str());
    list->UpdateContents();
    EXPECT_EQ(report.calls, 0);
    ::DeleteFileW(dir.File(L"a.gif").c_str());
    list->UpdateContents();
    EXPECT_EQ(Captions(list), (std::vector<std::wstring>{L"c.gif"}));
    EXPECT_EQ(report.calls, 1);
    EXPECT_EQ(report.operation, shell::OperationBit(shell::sopCut) | shell::OperationBit(shell::sopRemove));
    EXPECT_EQ(report.files, (std::vector<std::wstring>{dir.File(L"a.gif")}));
}


// The root: the desktop by default ("" selects My Computer), a special
// folder, or a folder path, each shown opened and selected; a file as the
// root raises and changes neither the property nor the root. The options
// pick the children: hidden folders and files only on request.
TEST(ShellControls, TreeRootsAndOptions)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ::CreateDirectoryW(dir.File(L"b").c_str(), nullptr);
    ::CreateDirectoryW(dir.File(L"h").c_str(), nullptr);
    ::SetFileAttributesW(dir.File(L"h").c_str(), FILE_ATTRIBUTE_HIDDEN);
    Touch(dir.File(L"f.gif"));

    HostForm form;
    auto* tree = Placed<shell::TShellTree>(form);
    HWND wnd = tree->GetHandle();
    EXPECT_EQ(tree->GetRootedAt(), shell::SF_DESKTOP);
    EXPECT_EQ(tree->GetSpecialFolder(), shell::SF_DESKTOP);
    EXPECT_FALSE(TreeChildren(wnd, TreeRoot(wnd)).empty());  // opened one level
    tree->SetSelectedFolder(L"");
    EXPECT_EQ(tree->GetSpecialFolder(), shell::SF_DRIVES);
    // The desktop root's path is the desktop's folder.
    EXPECT_FALSE(tree->NodePath(TreeRoot(wnd)).empty());
    EXPECT_TRUE(shell::SamePath(tree->NodePath(TreeRoot(wnd)), shell::SpecialFolderPath(shell::SF_DESKTOPDIRECTORY)));

    tree->SetRootedAt(shell::SF_DRIVES);
    EXPECT_EQ(tree->GetSpecialFolder(), shell::SF_DRIVES);
    tree->SetSelectedFolder(dir.File(L"b"));
    EXPECT_EQ(tree->GetPath(), dir.File(L"b"));

    tree->SetRootedAtFileSystemFolder(dir.Path());
    EXPECT_EQ(tree->GetRootedAt(), shell::SF_FILESYSTEMFOLDER);
    EXPECT_EQ(tree->GetPath(), dir.Path());
    using Names = std::vector<std::wstring>;
    EXPECT_EQ(TreeChildren(wnd, TreeRoot(wnd)), (Names{L"b"}));
    EXPECT_THROW(tree->SetRootedAtFileSystemFolder(dir.File(L"f.gif")), classlib::Exception);
    EXPECT_EQ(tree->GetRootedAtFileSystemFolder(), dir.Path());
    EXPECT_EQ(tree->GetPath(), dir.Path());

    tree->SetShowHidden(true);
    EXPECT_EQ(TreeChildren(wnd, TreeRoot(wnd)), (Names{L"b", L"h"}));
    tree->SetShowFiles(true);
    EXPECT_EQ(TreeChildren(wnd, TreeRoot(wnd)), (Names{L"b", L"h", L"f.gif"}));
    tree->SetShowHidden(false);
    tree->SetShowFiles(false);
    EXPECT_EQ(TreeChildren(wnd, TreeRoot(wnd)), (Names{L"b"}));

    // Selecting the folder already selected fires nothing.
    int changes = 0;
    tree->OnChange = classlib::TNotifyEvent::FromFunction([](void* c, classlib::TObject*) { ++*static_cast<int*>(c); },
                                                          &changes);
    tree->SetSelectedFolder(dir.File(L"b"));
    tree->SetSelectedFolder(dir.File(L"b"));
    EXPECT_EQ(changes, 1);
    // The history holds the folders selected since the root was set.
    tree->SetSelectedFolder(dir.Path());
    tree->SetSelectedFolder(dir.File(L"b"));
    tree->HistoryStep(-1);
    EXPECT_EQ(tree->GetPath(), dir.Path());
    tree->HistoryStep(1);
    EXPECT_EQ(tree->GetPath(), dir.File(L"b"));
}

// Writes a 24-bit BMP of Width x Height in one colour.
void WriteBmp(const std::wstring& File, int Width, int Height, COLORREF Color)
{
    const int stride = (Width * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = Width;
    info.biHeight = Height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = static_cast<DWORD>(stride * Height);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + info.biSizeImage;
    std::string pixels(info.biSizeImage, '\0');
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            char* p = &pixels[static_cast<std::size_t>(y * stride + x * 3)];
            p[0] = static_cast<char>(GetBValue(Color));
            p[1] = static_cast<char>(GetGValue(Color));
            p[2] = static_cast<char>(GetRValue(Color));
        }
    HANDLE h = ::CreateFileW(File.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(h, &file, sizeof(file), &written, nullptr);
    ::WriteFile(h, &info, sizeof(info), &written, nullptr);
    ::WriteFile(h, pixels.data(), info.biSizeImage, &written, nullptr);
    ::CloseHandle(h);
}

// The colour at the centre of an image of a list (drawn over black).
COLORREF ImageCentre(HIMAGELIST Images, int Index)
{
    int w = 0, h = 0;
    ::ImageList_GetIconSize(Images, &w, &h);
    HDC screen = ::GetDC(nullptr);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, w, h);
    ::ReleaseDC(nullptr, screen);
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    RECT r{0, 0, w, h};
    ::FillRect(dc, &r, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    ::ImageList_Draw(Images, Index, dc, 0, 0, ILD_NORMAL);
    const COLORREF c = ::GetPixel(dc, w / 2, h / 2);
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    ::DeleteObject(bitmap);
    return c;
}

// In thumbnail mode each item first shows a placeholder and then the
// picture made in the background; a late picture for an index the image
// list does not hold, or for an item that left, is dropped.
TEST(ShellControls, ThumbnailsArriveForPictures)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    WriteBmp(dir.File(L"red.bmp"), 64, 40, RGB(255, 0, 0));
    Touch(dir.File(L"note.txt"));

    HostForm form;
    form.SetBounds(0, 0, 400, 300);
    auto* list = Placed<shell::TShellList>(form);
    list->SetBounds(0, 0, 400, 300);
    list->SetThumbnails(true);
    EXPECT_EQ(list->GetViewStyle(), classlib::vsIcon);
    list->SetPath(dir.Path());
    ASSERT_EQ(Captions(list), (std::vector<std::wstring>{L"note.txt", L"red.bmp"}));
    HWND wnd = list->GetHandle();
    HIMAGELIST images = list->GetThumbnailImages();
    EXPECT_EQ(reinterpret_cast<HIMAGELIST>(::SendMessageW(wnd, LVM_GETIMAGELIST, LVSIL_NORMAL, 0)), images);
    auto ask = [&](int i) {
        LVITEMW lv{};
        lv.mask = LVIF_IMAGE;
        lv.iItem = i;
        ::SendMessageW(wnd, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&lv));
        return lv.iImage;
    };
    const int picture = ask(1);
    ASSERT_GE(picture, 0);
    EXPECT_GE(ask(0), 0);
    EXPECT_EQ(::ImageList_GetImageCount(images), 2);
    int w = 0, h = 0;
    ::ImageList_GetIconSize(images, &w, &h);
    EXPECT_EQ(w, 96);
    EXPECT_EQ(h, 96);
    EXPECT_TRUE(shelltest::PumpUntil([&] { return ImageCentre(images, picture) == RGB(255, 0, 0); }, 10000))
        << std::hex << ImageCentre(images, picture);

    // Late deliveries that must not land.
    auto* record = shell::TShellList::ShellItem(list->GetItems()->GetItem(1));
    auto blue = [] {
        HDC screen = ::GetDC(nullptr);
        HBITMAP handle = ::CreateCompatibleBitmap(screen, 8, 8);
        ::ReleaseDC(nullptr, screen);
        HDC dc = ::CreateCompatibleDC(nullptr);
        HGDIOBJ old = ::SelectObject(dc, handle);
        RECT r{0, 0, 8, 8};
        HBRUSH brush = ::CreateSolidBrush(RGB(0, 0, 255));
        ::FillRect(dc, &r, brush);
        ::DeleteObject(brush);
        ::SelectObject(dc, old);
        ::DeleteDC(dc);
        auto* b = new classlib::TBitmap();
        b->SetHandle(handle);
        return b;
    };
    list->SetThumbnail(blue(), ::ImageList_GetImageCount(images), record);  // one past the last image
    EXPECT_EQ(::ImageList_GetImageCount(images), 2);
    list->SetThumbnail(blue(), picture, list);  // not an item of the list
    EXPECT_EQ(ImageCentre(images, picture), RGB(255, 0, 0));
    list->SetThumbnail(blue(), picture, record);  // the real one does land
    EXPECT_EQ(ImageCentre(images, picture), RGB(0, 0, 255));

    // A picture written just now is made again by the next refresh.
    WriteBmp(dir.File(L"red.bmp"), 64, 40, RGB(0, 255, 0));
    list->UpdateContents();
    EXPECT_TRUE(shelltest::PumpUntil([&] { return ImageCentre(images, picture) == RGB(0, 255, 0); }, 10000))
        << std::hex << ImageCentre(images, picture);

    // A new size: a new image list, every picture made again at that size;
    // placeholders and pictures pass through OnThumbnailUpdated.
    struct Painter {
        bool paint = true;
        std::vector<int> indexes;
        void Updated(classlib::TObject*, int ImageIndex, classlib::TBitmap* Bitmap)
        {
            indexes.push_back(ImageIndex);
            if (!paint) return;
            BITMAP info{};
            ::GetObjectW(Bitmap->GetHandle(), sizeof(info), &info);
            HDC dc = ::CreateCompatibleDC(nullptr);
            HGDIOBJ old = ::SelectObject(dc, Bitmap->GetHandle());
            RECT r{0, 0, info.bmWidth, info.bmHeight};
            HBRUSH yellow = ::CreateSolidBrush(RGB(255, 255, 0));
            ::FillRect(dc, &r, yellow);
            ::DeleteObject(yellow);
            ::SelectObject(dc, old);
            ::DeleteDC(dc);
        }
    } painter;
    list->OnThumbnailUpdated = shell::TOnThumbnailUpdated(&painter, &Painter::Updated);
    list->SetThumbnailWidth(64);
    list->SetThumbnailHeight(48);
    images = list->GetThumbnailImages();
    EXPECT_EQ(reinterpret_cast<HIMAGELIST>(::SendMessageW(wnd, LVM_GETIMAGELIST, LVSIL_NORMAL, 0)), images);
    ::ImageList_GetIconSize(images, &w, &h);
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 48);
    const int again = ask(1);
    ASSERT_GE(again, 0);
    EXPECT_EQ(painter.indexes, std::vector<int>{again});
    EXPECT_EQ(ImageCentre(images, again), RGB(255, 255, 0));
    painter.paint = false;
    EXPECT_GE(ask(0), 0);
    EXPECT_TRUE(shelltest::PumpUntil([&] { return ImageCentre(images, again) == RGB(0, 255, 0); }, 10000))
        << std::hex << ImageCentre(images, again);
    EXPECT_GE(std::count(painter.indexes.begin(), painter.indexes.end(), again), 2);
    list->OnThumbnailUpdated = nullptr;

    // Off: the same view with the large icons, filled again.
    list->SetThumbnails(false);
    EXPECT_EQ(list->GetViewStyle(), classlib::vsIcon);
    HIMAGELIST large = reinterpret_cast<HIMAGELIST>(::SendMessageW(list->GetHandle(), LVM_GETIMAGELIST, LVSIL_NORMAL, 0));
    EXPECT_NE(large, nullptr);
    EXPECT_NE(large, list->GetThumbnailImages());
    EXPECT_EQ(Captions(list), (std::vector<std::wstring>{L"note.txt", L"red.bmp"}));
    // A later change of the view style leaves thumbnails.
    list->SetThumbnails(true);
    list->SetViewStyle(classlib::vsReport);
    EXPECT_FALSE(list->GetThumbnails());
    EXPECT_EQ(list->GetViewStyle(), classlib::vsReport);
    EXPECT_EQ(reinterpret_cast<HIMAGELIST>(::SendMessageW(list->GetHandle(), LVM_GETIMAGELIST, LVSIL_NORMAL, 0)), large);
    EXPECT_EQ(Captions(list), (std::vector<std::wstring>{L"note.txt", L"red.bmp"}));
}

// Without the change notifier, a cut folder pasted elsewhere leaves its old
// place when the tree next updates.
TEST(ShellControls, TreeDropsPastedCutFoldersOnUpdateWithoutNotifier)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    using Names = std::vector<std::wstring>;
    for (const wchar_t* name : {L"dst", L"keep", L"src"}) ::CreateDirectoryW(dir.File(name).c_str(), nullptr);
    classlib::TForm form(nullptr);
    auto* tree = new shell::TShellTree(&form);
    tree->SetParent(&form);
    tree->HandleNeeded();
    tree->SetRootedAtFileSystemFolder(dir.Path());
    HWND wnd = tree->GetHandle();
    ASSERT_EQ(TreeChildren(wnd, TreeRoot(wnd)), (Names{L"dst", L"keep", L"src"}));

    tree->SetAutomaticRefresh(false);
    tree->SetPath(dir.File(L"src"));
    ASSERT_TRUE(tree->ExecuteVerb(L"cut"));
    // Moved by hand and nothing announced: only the update can find out,
    // though the folder read again is not the selected one.
    ASSERT_TRUE(::MoveFileW(dir.File(L"src").c_str(), dir.File(L"dst\\src").c_str()));
    tree->SetPath(dir.File(L"keep"));
    tree->UpdateContents();
    EXPECT_EQ(TreeChildren(wnd, TreeRoot(wnd)), (Names{L"dst", L"keep"}));
}

// The tree's update serves the waiting messages before it reads, reads
// the folder of a node whose text is gone, and brings the check boxes
// above the selected node in line with the selection list.
TEST(ShellControls, TreeUpdateContentsRules)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    using Names = std::vector<std::wstring>;
    ::CreateDirectoryW(dir.File(L"a").c_str(), nullptr);
    ::CreateDirectoryW(dir.File(L"a\\in").c_str(), nullptr);
    Touch(dir.File(L"a\\in\\x.gif"));
    Touch(dir.File(L"a\\in\\y.gif"));
    HostForm form;
    auto* tree = Placed<shell::TShellTree>(form);
    auto* link = new shell::TShellLink(&form);
    tree->SetShellLink(link);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    tree->SetAutomaticRefresh(false);  // only the update may find changes
    HWND wnd = tree->GetHandle();
    HTREEITEM root = TreeRoot(wnd);
    ASSERT_EQ(TreeChildren(wnd, root), (Names{L"a"}));

    // A message posted before a refresh (the update, then the full one) is
    // served inside it, before the folders are read.
    tree->SetPath(dir.Path());
    static Names seen;
    static HWND treeWindow;
    treeWindow = wnd;
    testsupport::THostWindow probe(10, 10, false);
    ::SetWindowLongPtrW(probe.Get(), GWLP_WNDPROC,
                        reinterpret_cast<LONG_PTR>(+[](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
                            if (msg == WM_APP + 7) seen = TreeChildren(treeWindow, TreeRoot(treeWindow));
                            return ::DefWindowProcW(w, msg, wp, lp);
                        }));
    Names shown{L"a"};
    for (const bool full : {false, true}) {
        const std::wstring made = full ? L"b2" : L"b";
        ::CreateDirectoryW(dir.File(made).c_str(), nullptr);
        seen = {L"(not served)"};
        ::PostMessageW(probe.Get(), WM_APP + 7, 0, 0);
        if (full)
            tree->FullRefresh();
        else
            tree->UpdateContents();
        EXPECT_EQ(seen, shown) << (full ? "full refresh" : "update");
        shown.push_back(made);
        EXPECT_EQ(TreeChildren(wnd, TreeRoot(wnd)), shown) << (full ? "full refresh" : "update");
    }
    root = TreeRoot(wnd);

    // The selected node has lost its text: its parent is read instead.
    tree->SetPath(dir.File(L"a"));
    HTREEITEM a = shelltest::TreeNode(wnd, root, L"a");
    ASSERT_TRUE(a);
    ASSERT_EQ(reinterpret_cast<HTREEITEM>(::SendMessageW(wnd, TVM_GETNEXTITEM, TVGN_CARET, 0)), a);
    ::CreateDirectoryW(dir.File(L"c").c_str(), nullptr);
    TVITEMW tv{};
    tv.mask = TVIF_TEXT | TVIF_HANDLE;
    tv.hItem = a;
    tv.pszText = const_cast<wchar_t*>(L"");
    ::SendMessageW(wnd, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    tree->UpdateContents();
    EXPECT_EQ(TreeChildren(wnd, root).size(), 4u);
    EXPECT_TRUE(shelltest::TreeNode(wnd, root, L"c"));
    tv.pszText = const_cast<wchar_t*>(L"a");
    ::SendMessageW(wnd, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));

    // A file checked through the selection list (which updates the linked
    // controls) turns the selected folder and its ancestors grey.
    tree->SetPath(dir.Path());
    tree->SetCheckBoxes(true);
    ASSERT_TRUE(tree->GetCheckBoxes());
    tree->SetPath(dir.File(L"a\\in"));
    HTREEITEM in = shelltest::TreeNode(wnd, a, L"in");
    ASSERT_TRUE(in);
    ASSERT_EQ(tree->GetNodeState(in), shell::ssUnChecked);
    link->GetSelectionList()->Check(dir.File(L"a\\in\\x.gif"));
    EXPECT_EQ(tree->GetNodeState(in), shell::ssGrayed);
    EXPECT_EQ(tree->GetNodeState(a), shell::ssGrayed);
    EXPECT_EQ(tree->GetNodeState(root), shell::ssGrayed);
}

// Tree check boxes follow the link's selection list: checking a folder
// makes its ancestors grey and its opened descendants checked; unchecking
// undoes it; without a link there are no boxes.
TEST(ShellControls, TreeCheckBoxesFollowTheSelectionList)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ::CreateDirectoryW(dir.File(L"a").c_str(), nullptr);
    ::CreateDirectoryW(dir.File(L"a\\in").c_str(), nullptr);
    ::CreateDirectoryW(dir.File(L"a\\other").c_str(), nullptr);
    ::CreateDirectoryW(dir.File(L"b").c_str(), nullptr);
    // Folders with something in them (an empty one counts as all checked).
    for (const wchar_t* f : {L"a\\in\\x.gif", L"a\\other\\x.gif", L"b\\x.gif"}) Touch(dir.File(f));

    HostForm form;
    auto* tree = Placed<shell::TShellTree>(form);
    tree->SetCheckBoxes(true);
    EXPECT_FALSE(tree->GetCheckBoxes());  // no link
    auto* link = new shell::TShellLink(&form);
    tree->SetShellLink(link);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    tree->SetCheckBoxes(true);
    ASSERT_TRUE(tree->GetCheckBoxes());
    HWND wnd = tree->GetHandle();
    HTREEITEM root = TreeRoot(wnd);
    tree->SetSelectedFolder(dir.File(L"a\\in"));
    HTREEITEM a = shelltest::TreeNode(wnd, root, L"a");
    HTREEITEM in = shelltest::TreeNode(wnd, a, L"in");
    HTREEITEM b = shelltest::TreeNode(wnd, root, L"b");
    ASSERT_TRUE(a && in && b);
    EXPECT_EQ(tree->GetNodeState(a), shell::ssUnChecked);
    std::vector<std::pair<int, int>> changes;
    tree->OnCheckStateChanged = shell::TOnCheckStateChanged::FromFunction(
        [](void* c, classlib::TObject*, int index, const std::wstring&, shell::TShSelectionState state) {
            static_cast<std::vector<std::pair<int, int>>*>(c)->emplace_back(index, state);
        },
        &changes);

    tree->ToggleCheck(a);
    EXPECT_EQ(tree->GetNodeState(a), shell::ssChecked);
    EXPECT_EQ(tree->GetNodeState(in), shell::ssChecked);
    EXPECT_EQ(tree->GetNodeState(root), shell::ssGrayed);
    EXPECT_EQ(tree->GetNodeState(b), shell::ssUnChecked);
    EXPECT_EQ(link->GetSelectionList()->GetStateOfPath(dir.File(L"a")), shell::ssChecked);
    // Space on the selected node ("in") unchecks it: "a" turns grey.
    NMTVKEYDOWN key{};
    key.hdr.hwndFrom = wnd;
    key.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(wnd));
    key.hdr.code = TVN_KEYDOWN;
    key.wVKey = VK_SPACE;
    ::SendMessageW(form.GetHandle(), WM_NOTIFY, key.hdr.idFrom, reinterpret_cast<LPARAM>(&key));
    EXPECT_EQ(tree->GetNodeState(in), shell::ssUnChecked);
    EXPECT_EQ(tree->GetNodeState(a), shell::ssGrayed);
    EXPECT_EQ(changes, (std::vector<std::pair<int, int>>{{1, shell::ssChecked}, {2, shell::ssUnChecked}}));
    EXPECT_EQ(link->GetSelectionList()->GetStateOfPath(dir.File(L"a\\other")), shell::ssChecked);
    tree->ToggleCheck(a);  // grey: checks the whole folder again
    EXPECT_EQ(tree->GetNodeState(in), shell::ssChecked);
    tree->ToggleCheck(a);
    EXPECT_EQ(tree->GetNodeState(root), shell::ssUnChecked);

    tree->SetCheckBoxes(false);
    EXPECT_EQ(tree->GetNodeState(a), 0);
}

// A folder renamed in the tree is renamed on disk; the node takes the new
// name and path, the rename is reported; a refused name leaves both.
TEST(ShellControls, TreeRenamesInPlace)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ::CreateDirectoryW(dir.File(L"old").c_str(), nullptr);
    ::CreateDirectoryW(dir.File(L"taken").c_str(), nullptr);

    HostForm form;
    auto* tree = Placed<shell::TShellTree>(form);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    tree->SetSelectedFolder(dir.File(L"old"));
    HWND wnd = tree->GetHandle();
    struct Report {
        std::vector<std::wstring> files;
        std::wstring destination;
        shell::TShellOperations operation = 0;
    } report;
    tree->OnOperation = shell::TOnOperation::FromFunction(
        [](void* r, classlib::TObject*, shell::TShellOperations op, classlib::TStringList* files, const std::wstring& to) {
            auto* rep = static_cast<Report*>(r);
            rep->operation = op;
            rep->destination = to;
            for (int i = 0; i < files->GetCount(); ++i) rep->files.push_back(files->GetStrings(i));
        },
        &report);
    HTREEITEM node = shelltest::TreeNode(wnd, TreeRoot(wnd), L"old");
    ASSERT_NE(node, nullptr);
    NMTVDISPINFOW edit{};
    edit.hdr.hwndFrom = wnd;
    edit.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(wnd));
    edit.hdr.code = TVN_ENDLABELEDITW;
    edit.item.hItem = node;
    wchar_t name[] = L"new";
    edit.item.pszText = name;
    ::SendMessageW(form.GetHandle(), WM_NOTIFY, edit.hdr.idFrom, reinterpret_cast<LPARAM>(&edit));
    EXPECT_TRUE(shell::DirectoryExistsLong(dir.File(L"new")));
    EXPECT_FALSE(shell::DirectoryExistsLong(dir.File(L"old")));
    EXPECT_EQ(TreeChildren(wnd, TreeRoot(wnd)), (std::vector<std::wstring>{L"new", L"taken"}));
    EXPECT_EQ(tree->GetPath(), dir.File(L"new"));
    EXPECT_EQ(report.operation, shell::OperationBit(shell::sopRename));
    EXPECT_EQ(report.files, (std::vector<std::wstring>{dir.File(L"old")}));
    EXPECT_EQ(report.destination, dir.File(L"new"));

    EXPECT_FALSE(tree->RenameNode(shelltest::TreeNode(wnd, TreeRoot(wnd), L"new"), L"taken"));
    EXPECT_TRUE(shell::DirectoryExistsLong(dir.File(L"new")));
    EXPECT_EQ(TreeChildren(wnd, TreeRoot(wnd)), (std::vector<std::wstring>{L"new", L"taken"}));
}

// Files dropped onto a node arrive in its folder: every drag-over answers
// S_OK whatever the effect, the effect stays within what the source
// allows, and a folder dropped onto itself is refused.
TEST(ShellControls, FilesDroppedOntoATreeNodeArriveInItsFolder)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ::CreateDirectoryW(dir.File(L"dst").c_str(), nullptr);
    ::CreateDirectoryW(dir.File(L"src").c_str(), nullptr);
    Touch(dir.File(L"src\\x.jpg"));
    Touch(dir.File(L"src\\y.jpg"));

    HostForm form;
    auto* tree = shelltest::ShownTree(form, dir.Path());
    HWND wnd = tree->GetHandle();
    HTREEITEM dst = shelltest::TreeNode(wnd, TreeRoot(wnd), L"dst");
    ASSERT_NE(dst, nullptr);
    const POINTL at = shelltest::NodeScreenCentre(wnd, dst);
    ASSERT_GE(at.x, 0);
    IDropTarget* target = tree->GetDropTarget();
    std::wstring destination;
    tree->OnOperation = shell::TOnOperation::FromFunction(
        [](void* d, classlib::TObject*, shell::TShellOperations, classlib::TStringList*, const std::wstring& to) {
            *static_cast<std::wstring*>(d) = to;
        },
        &destination);
    auto drop = [&](std::vector<std::wstring> files, DWORD keys, DWORD allowed) {
        shelltest::TFilesObject data(true, std::move(files));
        DWORD effect = allowed;
        EXPECT_EQ(target->DragEnter(&data, keys, at, &effect), S_OK);
        for (DWORD k : {DWORD(0), DWORD(MK_CONTROL), DWORD(MK_SHIFT)}) {
            effect = allowed;
            EXPECT_EQ(target->DragOver(k, at, &effect), S_OK);
            EXPECT_EQ(effect & ~allowed, 0u);
        }
        // The drop goes with the keys of the last move.
        effect = allowed;
        EXPECT_EQ(target->DragOver(keys, at, &effect), S_OK);
        effect = allowed;
        EXPECT_EQ(target->Drop(&data, keys, at, &effect), S_OK);
        return effect;
    };
    EXPECT_EQ(drop({dir.File(L"src\\x.jpg")}, MK_CONTROL, DROPEFFECT_COPY | DROPEFFECT_MOVE), DWORD(DROPEFFECT_COPY));
    EXPECT_TRUE(shell::FileExistsLong(dir.File(L"dst\\x.jpg")));
    EXPECT_TRUE(shell::FileExistsLong(dir.File(L"src\\x.jpg")));
    EXPECT_EQ(destination, dir.File(L"dst"));
    // Ctrl asks for a copy; the source allows a move only: moved.
    EXPECT_EQ(drop({dir.File(L"src\\y.jpg")}, MK_CONTROL, DROPEFFECT_MOVE), DWORD(DROPEFFECT_MOVE));
    EXPECT_TRUE(shell::FileExistsLong(dir.File(L"dst\\y.jpg")));
    EXPECT_FALSE(shell::FileExistsLong(dir.File(L"src\\y.jpg")));
    EXPECT_EQ(drop({dir.File(L"dst")}, 0, DROPEFFECT_COPY | DROPEFFECT_MOVE), DWORD(DROPEFFECT_NONE));
    EXPECT_EQ(drop({dir.File(L"src\\x.jpg")}, 0, DROPEFFECT_LINK), DWORD(DROPEFFECT_LINK));
    EXPECT_TRUE(shell::FileExistsLong(dir.File(L"dst\\x.jpg.lnk")));
}

}  // namespace

// A form that is loading keeps the list's Path as given and shows it once
// it has loaded; a special folder given after it wins; with
// NoFillOnStartup the list stays empty (keeping the folder) until asked.
TEST(ShellControls, ListShowsThePathGivenWhileTheFormLoads)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (const wchar_t* name : {L"a.gif", L"b.gif", L"c.gif"}) Touch(dir.File(name));
    enum Then { None, Special, NoFill };
    for (Then then : {None, Special, NoFill}) {
        SCOPED_TRACE(int(then));
        HostForm form;
        classlib::BeginLoading(&form);
        auto* list = new shell::TShellList(&form);
        list->SetParent(&form);
        int populated = 0;
        list->OnPopulated = classlib::TNotifyEvent::FromFunction(
            [](void* c, classlib::TObject*) { ++*static_cast<int*>(c); }, &populated);
        if (then == NoFill) list->SetNoFillOnStartup(true);
        list->SetPath(dir.Path());
        EXPECT_TRUE(shell::SamePath(list->GetPath(), dir.Path()));
        if (then == Special) list->SetSpecialFolder(shell::SF_DRIVES);
        list->SetFilter(L"*.gif");
        list->SetShowHidden(true);  // an option change while loading fills nothing
        EXPECT_EQ(list->GetItems()->GetCount(), 0);
        EXPECT_EQ(populated, 0);
        classlib::EndLoading(&form);
        switch (then) {
        case None:
            EXPECT_EQ(populated, 1);
            EXPECT_EQ(Captions(list), (std::vector<std::wstring>{L"a.gif", L"b.gif", L"c.gif"}));
            break;
        case Special:
            EXPECT_EQ(populated, 1);
            EXPECT_EQ(list->GetSpecialFolder(), shell::SF_DRIVES);
            EXPECT_EQ(list->GetPath(), L"");
            break;
        case NoFill:
            EXPECT_EQ(populated, 0);
            EXPECT_EQ(list->GetItems()->GetCount(), 0);
            EXPECT_TRUE(shell::SamePath(list->GetPath(), dir.Path()));
            list->Populate();
            EXPECT_EQ(list->GetItems()->GetCount(), 3);
            break;
        }
        // The form's loading gave the list the system's icon-title font.
        LOGFONTW title{};
        ASSERT_TRUE(::SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof title, &title, 0));
        EXPECT_EQ(list->GetFont()->GetName(), std::wstring(title.lfFaceName));
    }
}

// Links carry the shell's link overlay and hidden objects are drawn dimmed
// (cut), both only with ShowOverlayIcons; the overlay arrives once the
// window has asked for the item's image, when OnGetImageIndex fires once.
TEST(ShellControls, ListOverlaysAndDimmedHiddenObjects)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    Touch(dir.File(L"plain.gif"));
    Touch(dir.File(L"secret.gif"));
    ::SetFileAttributesW(dir.File(L"secret.gif").c_str(), FILE_ATTRIBUTE_HIDDEN);
    {
        shell::TComRef<IShellLinkW> link;
        ASSERT_EQ(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid()),
                  S_OK);
        ASSERT_EQ(link->SetPath(dir.File(L"plain.gif").c_str()), S_OK);
        shell::TComRef<IPersistFile> file;
        ASSERT_EQ(link->QueryInterface(IID_IPersistFile, file.PutVoid()), S_OK);
        ASSERT_EQ(file->Save(dir.File(L"shortcut.lnk").c_str(), TRUE), S_OK);
    }
    for (bool overlays : {true, false}) {
        SCOPED_TRACE(overlays);
        HostForm form;
        auto* list = Placed<shell::TShellList>(form);
        list->SetShowOverlayIcons(overlays);
        list->SetShowHidden(true);
        int asked = 0;
        list->OnGetImageIndex = shell::TLVNotifyEvent::FromFunction(
            [](void* c, classlib::TObject*, classlib::TListItem*) { ++*static_cast<int*>(c); }, &asked);
        list->SetPath(dir.Path());
        ASSERT_EQ(list->GetItems()->GetCount(), 3);
        HWND wnd = list->GetHandle();
        auto row = [&](const wchar_t* name) {
            for (int i = 0; i < list->GetItems()->GetCount(); ++i)
                if (shell::SamePath(classlib::ExtractFileName(list->GetItemPathAt(i)), name)) return i;
            return -1;
        };
        auto state = [&](const wchar_t* name, UINT mask) {
            return static_cast<UINT>(::SendMessageW(wnd, LVM_GETITEMSTATE, static_cast<WPARAM>(row(name)), mask));
        };
        for (int i = 0; i < 3; ++i) {
            LVITEMW lv{};
            lv.mask = LVIF_IMAGE;
            lv.iItem = i;
            ::SendMessageW(wnd, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&lv));
            ::SendMessageW(wnd, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&lv));
        }
        EXPECT_EQ(asked, 3);
        EXPECT_TRUE(shelltest::PumpUntil([&] {
            for (int i = 0; i < 3; ++i)
                if (list->GetItems()->GetItem(i)->GetImageIndex() < 0) return false;
            return true;
        }));
        if (overlays) {
            // The link arrow is the second overlay of the system list.
            EXPECT_TRUE(shelltest::PumpUntil([&] { return state(L"shortcut.lnk", LVIS_OVERLAYMASK) != 0; }));
            EXPECT_EQ(state(L"shortcut.lnk", LVIS_OVERLAYMASK), UINT(INDEXTOOVERLAYMASK(2)));
            EXPECT_EQ(state(L"secret.gif", LVIS_CUT), UINT(LVIS_CUT));
        } else {
            shelltest::PumpFor(300);
            EXPECT_EQ(state(L"shortcut.lnk", LVIS_OVERLAYMASK), 0u);
            EXPECT_EQ(state(L"secret.gif", LVIS_CUT), 0u);
        }
        EXPECT_EQ(state(L"plain.gif", LVIS_OVERLAYMASK | LVIS_CUT), 0u);
        // A dimmed object that goes is not reported as a cut one.
        int operations = 0;
        list->OnOperation = shell::TOnOperation::FromFunction(
            [](void* c, classlib::TObject*, shell::TShellOperations, classlib::TStringList*, const std::wstring&) {
                ++*static_cast<int*>(c);
            },
            &operations);
        ::SetFileAttributesW(dir.File(L"secret.gif").c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(dir.File(L"secret.gif").c_str());
        list->UpdateContents();
        EXPECT_EQ(list->GetItems()->GetCount(), 2);
        EXPECT_EQ(operations, 0);
        Touch(dir.File(L"secret.gif"));
        ::SetFileAttributesW(dir.File(L"secret.gif").c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
}

// Compressed objects draw in blue and encrypted ones in green, each only
// with its option; the window learns it at the item's pre-paint stage.
TEST(ShellControls, ListColoursCompressedAndEncryptedItems)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    Touch(dir.File(L"a.gif"));
    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    list->SetPath(dir.Path());
    ASSERT_EQ(list->GetItems()->GetCount(), 1);
    shell::TShellListItem* record = shell::TShellList::ShellItem(list->GetItems()->GetItem(0));
    ASSERT_NE(record, nullptr);
    auto textColour = [&](DWORD stage, LRESULT& result) {
        NMLVCUSTOMDRAW draw{};
        draw.nmcd.hdr.hwndFrom = list->GetHandle();
        draw.nmcd.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(list->GetHandle()));
        draw.nmcd.hdr.code = NM_CUSTOMDRAW;
        draw.nmcd.dwDrawStage = stage;
        draw.nmcd.dwItemSpec = 0;
        draw.clrText = RGB(1, 2, 3);
        result = ::SendMessageW(form.GetHandle(), WM_NOTIFY, draw.nmcd.hdr.idFrom, reinterpret_cast<LPARAM>(&draw));
        return draw.clrText;
    };
    LRESULT result = 0;
    textColour(CDDS_PREPAINT, result);
    EXPECT_TRUE(result & CDRF_NOTIFYITEMDRAW);
    const COLORREF plain = RGB(1, 2, 3), blue = RGB(0, 0, 255), green = RGB(0, 128, 0);
    struct Case {
        std::uint8_t flags;
        bool compressedOption, encryptedOption;
        COLORREF expected;
    } cases[] = {
        {0, true, true, plain},
        {shell::TShellListItem::fCompressed, true, false, blue},
        {shell::TShellListItem::fCompressed, false, true, plain},
        {shell::TShellListItem::fEncrypted, false, true, green},
        {shell::TShellListItem::fEncrypted, true, false, plain},
    };
    for (const Case& c : cases) {
        list->SetColorCompressed(c.compressedOption);
        list->SetColorEncrypted(c.encryptedOption);
        record = shell::TShellList::ShellItem(list->GetItems()->GetItem(0));  // the options refill
        record->Flags = c.flags;
        EXPECT_EQ(textColour(CDDS_ITEMPREPAINT, result), c.expected) << int(c.flags);
        EXPECT_EQ((result & CDRF_NEWFONT) != 0, c.expected != plain);
    }
}

// A node deeper than the tree is wide can be scrolled to sideways.
TEST(ShellControls, TreeScrollsSidewaysToDeepNodes)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    std::wstring deep = dir.Path();
    for (int i = 0; i < 6; ++i) {
        deep = deep + (deep.back() == L'\\' ? L"" : L"\\") + L"a rather long folder name " + std::to_wstring(i);
        ASSERT_TRUE(::CreateDirectoryW(deep.c_str(), nullptr));
    }
    HostForm form;
    form.SetBounds(0, 0, 200, 300);
    auto* tree = Placed<shell::TShellTree>(form);
    tree->SetBounds(0, 0, 160, 280);
    tree->SetSelectedFolder(deep);
    ASSERT_TRUE(shell::SamePath(tree->GetSelectedFolder(), deep));
    shelltest::PumpMessages();
    HWND wnd = tree->GetHandle();
    EXPECT_EQ(::GetWindowLongPtrW(wnd, GWL_STYLE) & TVS_NOHSCROLL, 0);
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_RANGE | SIF_PAGE;
    ASSERT_TRUE(::GetScrollInfo(wnd, SB_HORZ, &si));
    EXPECT_GT(si.nMax - si.nMin + 1, static_cast<int>(si.nPage));
}

// Every folder of a large folder is found again by its list, whatever the
// folder's order makes of digits and letter case.
TEST(ShellControls, TreeLocatesEachChildOfALargeFolder)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    std::vector<std::wstring> names;
    for (const wchar_t* stem : {L"a", L"A", L"b", L"z", L"_", L"1"})
        for (int i : {0, 1, 2, 9, 10, 11, 100}) names.push_back(stem + std::to_wstring(i) + L" x");
    names.erase(std::unique(names.begin(), names.end(), [](auto& x, auto& y) { return shell::SamePath(x, y); }),
                names.end());
    for (const std::wstring& n : names) ::CreateDirectoryW(dir.File(n).c_str(), nullptr);
    HostForm form;
    auto* tree = Placed<shell::TShellTree>(form);
    for (const std::wstring& n : names) {
        tree->SetSelectedFolder(dir.File(n));
        EXPECT_TRUE(shell::SamePath(tree->GetSelectedFolder(), dir.File(n))) << std::string(n.begin(), n.end());
    }
    // A list of an object that is not there finds nothing.
    shell::TPidl missing = shell::PathToPidl(nullptr, dir.File(names[0]));
    ::RemoveDirectoryW(dir.File(names[0]).c_str());
    tree->SetSelectedFolder(dir.Path());
    tree->FullRefresh();
    EXPECT_FALSE(tree->LocatePidl(missing.get(), 0));
}

// A share below the network folder that the folder does not list is added
// under the network node when the tree is led to it.
TEST(ShellControls, TreeAddsNetworkSharesItIsLedTo)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ::CreateDirectoryW(dir.File(L"sub").c_str(), nullptr);
    ::CreateDirectoryW(dir.File(L"sub\\inner").c_str(), nullptr);
    // The desktop here lists the network folder only when it is registered
    // as one of its name spaces; the key goes again once the desktop has
    // been read. The folder lists no shares and is not taken for a folder:
    // the tree shows files, so that its node is there at all.
    const wchar_t* kKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Desktop\\NameSpace\\"
                          L"{208D2C60-3AEA-1069-A2D7-08002B30309D}";
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
    // Wine's desktop reads each name space's ShellFolder attributes from its
    // class to leave out the ones marked not enumerated; for a class without
    // them it tests a value it never set, left over on the stack by earlier
    // calls, so whether the network folder is listed would hang on unrelated
    // code. The class gets attributes (none set) for the test's length,
    // unless it has its own.
    const wchar_t* kAttributesKey = L"CLSID\\{208D2C60-3AEA-1069-A2D7-08002B30309D}\\ShellFolder";
    DWORD disposition = 0;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, kAttributesKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                &disposition),
              ERROR_SUCCESS);
    const DWORD noAttributes = 0;
    if (disposition == REG_CREATED_NEW_KEY)
        ::RegSetValueExW(key, L"Attributes", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&noAttributes),
                         sizeof(noAttributes));
    ::RegCloseKey(key);
    struct TRemoveKey {
        const wchar_t* Key;
        bool Created;
        ~TRemoveKey()
        {
            if (Created) ::RegDeleteKeyW(HKEY_CLASSES_ROOT, Key);
        }
    } removeAttributes{kAttributesKey, disposition == REG_CREATED_NEW_KEY};
    HostForm form;
    auto* tree = new shell::TShellTree(&form);
    tree->SetParent(&form);
    tree->SetShowFiles(true);
    tree->HandleNeeded();
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
    shell::TPidl network = shell::SpecialFolderPidl(shell::SF_NETWORK);
    ASSERT_TRUE(network);
    HTREEITEM networkNode = tree->FindNode(network.get());
    ASSERT_NE(networkNode, nullptr);
    // A share: a drive's own item below the network folder.
    shell::TPidl drive = shell::PathToPidl(nullptr, shell::SystemDriveRoot());
    shell::TPidl driveItem = shell::PidlGetLastItem(drive.get());
    shell::TPidl share = shell::PidlCombine(network.get(), driveItem.get());
    EXPECT_EQ(tree->FindNode(share.get()), nullptr);
    EXPECT_TRUE(tree->LocatePidl(share.get(), 0));
    HTREEITEM shareNode = tree->FindNode(share.get());
    ASSERT_NE(shareNode, nullptr);
    EXPECT_EQ(reinterpret_cast<HTREEITEM>(::SendMessageW(tree->GetHandle(), TVM_GETNEXTITEM, TVGN_PARENT,
                                                         reinterpret_cast<LPARAM>(shareNode))),
              networkNode);
    EXPECT_EQ(reinterpret_cast<HTREEITEM>(::SendMessageW(tree->GetHandle(), TVM_GETNEXTITEM, TVGN_CARET, 0)),
              shareNode);
    // The tree goes on opening nodes afterwards.
    tree->SetSelectedFolder(dir.File(L"sub\\inner"));
    EXPECT_TRUE(shell::SamePath(tree->GetSelectedFolder(), dir.File(L"sub\\inner")));
}

// Linked controls hear of an object the user selects in the list, only when
// it is the one object selected and not the " .. " item; they hear nothing
// of the list's own fills.
TEST(ShellControls, ListTellsTheLinkOfASingleSelectedObject)
{
    struct Recorder : shell::IShellControl {
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
        {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
        ULONG STDMETHODCALLTYPE Release() override { return 1; }
        void STDMETHODCALLTYPE SetShellLink(shell::TShellLink*) override {}
        shell::TShellLink* STDMETHODCALLTYPE GetShellLink() override { return nullptr; }
        void STDMETHODCALLTYPE FolderChanged(LPCITEMIDLIST) override {}
        void STDMETHODCALLTYPE SelectionChanged(LPCITEMIDLIST Folder, LPCITEMIDLIST Object) override
        {
            TPidlPair p{shell::PidlClone(Folder), shell::PidlClone(Object)};
            selections.push_back(std::move(p));
        }
        void STDMETHODCALLTYPE SelectAll() override {}
        void STDMETHODCALLTYPE FullRefresh() override {}
        void STDMETHODCALLTYPE UpdateContents() override {}
        void STDMETHODCALLTYPE NavigateUp() override {}
        using TPidlPair = std::pair<shell::TPidl, shell::TPidl>;
        std::vector<TPidlPair> selections;
    } recorder;
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (const wchar_t* name : {L"a.gif", L"b.gif"}) Touch(dir.File(name));
    ::CreateDirectoryW(dir.File(L"sub").c_str(), nullptr);
    HostForm form;
    auto* link = new shell::TShellLink(&form);
    link->RegisterControl(&recorder);
    auto* list = Placed<shell::TShellList>(form);
    list->SetShellLink(link);
    list->SetShowParentFolder(true);
    list->SetPath(dir.Path());
    list->Populate();  // selection kept by a fill is not the user's
    ASSERT_EQ(Captions(list), (std::vector<std::wstring>{L" .. ", L"sub", L"a.gif", L"b.gif"}));
    EXPECT_TRUE(recorder.selections.empty());
    list->GetItems()->GetItem(0)->SetSelected(true);  // " .. "
    EXPECT_TRUE(recorder.selections.empty());
    list->GetItems()->GetItem(0)->SetSelected(false);
    list->GetItems()->GetItem(3)->SetSelected(true);
    ASSERT_EQ(recorder.selections.size(), 1u);
    EXPECT_TRUE(shell::SamePath(shell::PidlToPath(recorder.selections[0].first.get()), dir.Path()));
    shell::TPidl object = shell::PidlCombine(recorder.selections[0].first.get(), recorder.selections[0].second.get());
    EXPECT_TRUE(shell::SamePath(shell::PidlToPath(object.get()), dir.File(L"b.gif")));
    list->GetItems()->GetItem(2)->SetSelected(true);  // a second one
    EXPECT_EQ(recorder.selections.size(), 1u);
    list->SetShellLink(nullptr);
    link->UnregisterControl(&recorder);
}

// A special folder or a path given before the tree's window exists is
// selected when the window is made, the later of the two winning; with
// NoFillOnStartup neither is, and the root stays selected.
TEST(ShellControls, TreeSelectsWhatWasGivenBeforeItsWindow)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    enum Case { SpecialLast, PathLast, NoFill };
    for (Case c : {SpecialLast, PathLast, NoFill}) {
        SCOPED_TRACE(int(c));
        HostForm form;
        auto* tree = new shell::TShellTree(&form);
        tree->SetParent(&form);
        if (c == NoFill) tree->SetNoFillOnStartup(true);
        tree->SetSelectedFolder(dir.Path());
        tree->SetSpecialFolder(shell::SF_DRIVES);
        if (c != SpecialLast) tree->SetSelectedFolder(dir.Path());
        EXPECT_TRUE(c == SpecialLast ? tree->GetSpecialFolder() == shell::SF_DRIVES
                                     : shell::SamePath(tree->GetSelectedFolder(), dir.Path()));
        tree->HandleNeeded();
        if (c == PathLast)
            EXPECT_TRUE(shell::SamePath(tree->GetSelectedFolder(), dir.Path()));
        else if (c == SpecialLast)
            EXPECT_EQ(tree->GetSpecialFolder(), shell::SF_DRIVES);
        if (c != NoFill) continue;
        // Nothing read: the root is neither opened nor selected until the
        // user opens it.
        HWND wnd = tree->GetHandle();
        HTREEITEM root = TreeRoot(wnd);
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(::SendMessageW(wnd, TVM_GETNEXTITEM, TVGN_CARET, 0), 0);
        EXPECT_TRUE(TreeChildren(wnd, root).empty());
        ::SendMessageW(wnd, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
        EXPECT_FALSE(TreeChildren(wnd, root).empty());
    }
    // A special folder other than My Computer stays the choice when a path
    // follows it.
    HostForm form;
    auto* tree = new shell::TShellTree(&form);
    tree->SetParent(&form);
    tree->SetSpecialFolder(shell::SF_DESKTOP);
    tree->SetSelectedFolder(dir.Path());
    EXPECT_EQ(tree->GetSpecialFolder(), shell::SF_DESKTOP);
    tree->HandleNeeded();
    EXPECT_EQ(tree->GetSpecialFolder(), shell::SF_DESKTOP);
}

// A window made again (a style change) shows the same folder: the list its
// objects, the tree its root with the nodes read again.
TEST(ShellControls, WindowsMadeAgainShowTheSameFolders)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ::CreateDirectoryW(dir.File(L"sub").c_str(), nullptr);
    Touch(dir.File(L"one.gif"));
    Touch(dir.File(L"two.gif"));
    LinkedHost host(LinkedHost::Later);
    auto& [form, link, tree, list] = host;
    tree->SetRootedAtFileSystemFolder(dir.Path());
    list->SetPath(dir.Path());
    ASSERT_EQ(list->GetItems()->GetCount(), 3);
    // The shell's dialogs (when it may show any) belong to the list's own
    // window, the new one after a re-creation.
    list->GetBrowser()->SetShowErrorMessages(true);
    EXPECT_EQ(list->GetBrowser()->OwnerWindow(), list->GetHandle());

    list->RecreateWnd();
    list->HandleNeeded();
    EXPECT_EQ(list->GetPath(), dir.Path() + L"\\");
    EXPECT_EQ(list->GetItems()->GetCount(), 3);
    EXPECT_EQ(list->GetBrowser()->OwnerWindow(), list->GetHandle());
    list->GetBrowser()->SetShowErrorMessages(false);
    tree->RecreateWnd();
    tree->HandleNeeded();
    HWND wnd = tree->GetHandle();
    EXPECT_EQ(TreeChildren(wnd, TreeRoot(wnd)), std::vector<std::wstring>{L"sub"});
    EXPECT_EQ(tree->GetPath(), dir.Path());
    // Both still follow each other.
    tree->SetPath(dir.File(L"sub"));
    EXPECT_EQ(list->GetPath(), dir.File(L"sub\\"));
    EXPECT_EQ(list->GetItems()->GetCount(), 0);
}

namespace {

int ListImage(HWND Wnd, int Row)
{
    LVITEMW lv{};
    lv.mask = LVIF_IMAGE;
    lv.iItem = Row;
    ::SendMessageW(Wnd, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&lv));
    return lv.iImage;
}

}  // namespace

// In thumbnail view the " .. " item shows a picture of its own in the
// thumbnail list, not an index that means another picture there.
TEST(ShellControls, ThumbnailsGiveTheParentItemAPictureOfItsOwn)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    WriteBmp(dir.File(L"red.bmp"), 16, 16, RGB(255, 0, 0));
    Touch(dir.File(L"note.txt"));

    HostForm form;
    form.SetBounds(0, 0, 400, 300);
    auto* list = Placed<shell::TShellList>(form);
    list->SetBounds(0, 0, 400, 300);
    list->SetShowParentFolder(true);
    list->SetThumbnails(true);
    list->SetPath(dir.Path());
    ASSERT_EQ(Captions(list), (std::vector<std::wstring>{L" .. ", L"note.txt", L"red.bmp"}));
    HWND wnd = list->GetHandle();
    std::set<int> seen;
    for (int row = 0; row < 3; ++row) {
        const int image = ListImage(wnd, row);
        EXPECT_GE(image, 0) << row;
        EXPECT_LT(image, ::ImageList_GetImageCount(list->GetThumbnailImages())) << row;
        EXPECT_TRUE(seen.insert(image).second) << row;
    }
    // A new size makes every picture again, the parent item's too.
    list->SetThumbnailWidth(64);
    const int parent = ListImage(wnd, 0);
    EXPECT_GE(parent, 0);
    EXPECT_LT(parent, ::ImageList_GetImageCount(list->GetThumbnailImages()));
}

// Items show the icon of their kind from the first time they are drawn (a
// plain folder's, the extension's), before the work pool has found their
// own; for plain objects the two are the same.
TEST(ShellControls, ListItemsShowAnIconBeforeTheirOwnArrives)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"sub").c_str(), nullptr));
    Touch(dir.File(L"a.txt"));

    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    list->SetPath(dir.Path());
    ASSERT_EQ(Captions(list), (std::vector<std::wstring>{L"sub", L"a.txt"}));
    HWND wnd = list->GetHandle();
    // No message served since the fill: nothing has come from the pool.
    const int folder = ListImage(wnd, 0);
    const int file = ListImage(wnd, 1);
    EXPECT_GE(folder, 0);
    EXPECT_GE(file, 0);
    shelltest::PumpFor(1500);
    EXPECT_EQ(ListImage(wnd, 0), folder);
    EXPECT_EQ(ListImage(wnd, 1), file);
}

// OnAddItem sees the detail texts of the item (report view with Details)
// and may choose by them.
TEST(ShellControls, OnAddItemSeesTheDetails)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    Touch(dir.File(L"empty.gif"));
    {
        HANDLE h = ::CreateFileW(dir.File(L"big.gif").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        std::vector<char> bytes(5000, 'x');
        DWORD written = 0;
        ::WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
        ::CloseHandle(h);
    }

    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    ASSERT_EQ(list->GetViewStyle(), classlib::vsReport);
    list->SetPath(dir.Path());
    ASSERT_GT(list->GetDetailColumnCount(), 1);
    // The size column's texts as the list shows them.
    int sizeColumn = -1;
    for (int c = 1; c < list->GetDetailColumnCount(); ++c)
        if (list->GetColumns()->GetItem(c)->GetCaption() == L"Size") sizeColumn = c;
    ASSERT_GT(sizeColumn, 0);
    auto sizeOf = [&](const std::wstring& caption) {
        for (int i = 0; i < list->GetItems()->GetCount(); ++i) {
            classlib::TListItem* item = list->GetItems()->GetItem(i);
            list->FillItem(item);
            if (item->GetCaption() == caption) return item->GetSubItems()->GetStrings(sizeColumn - 1);
        }
        return std::wstring();
    };
    const std::wstring bigSize = sizeOf(L"big.gif");
    ASSERT_NE(bigSize, sizeOf(L"empty.gif"));

    struct Seen {
        int column;
        std::wstring keep;
        std::vector<int> counts;
    } seen{sizeColumn, bigSize, {}};
    list->OnAddItem = shell::TOnAddItem::FromFunction(
        [](void* c, shell::TShellListItem* item, bool& canAdd) {
            auto* s = static_cast<Seen*>(c);
            classlib::TStrings* sub = item->Item->GetSubItems();
            s->counts.push_back(sub->GetCount());
            canAdd = s->column - 1 < sub->GetCount() && sub->GetStrings(s->column - 1) == s->keep;
        },
        &seen);
    list->Populate();
    EXPECT_EQ(Captions(list), std::vector<std::wstring>{L"big.gif"});
    EXPECT_EQ(seen.counts, (std::vector<int>(2, list->GetDetailColumnCount() - 1)));
}

// A fill selects again the objects selected before; the last of them has
// the focus and is scrolled into view.
TEST(ShellControls, RefillShowsTheObjectsSelectedBefore)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (int i = 0; i < 60; ++i) {
        wchar_t name[16];
        std::swprintf(name, 16, L"f%02d.gif", i);
        Touch(dir.File(name));
    }

    HostForm form;
    form.SetBounds(0, 0, 300, 200);
    auto* list = Placed<shell::TShellList>(form);
    list->SetBounds(0, 0, 300, 200);
    list->SetPath(dir.Path());
    ASSERT_EQ(list->GetItems()->GetCount(), 60);
    HWND wnd = list->GetHandle();
    list->GetItems()->GetItem(55)->SetSelected(true);
    list->Populate();
    ASSERT_EQ(list->GetItems()->GetCount(), 60);
    EXPECT_TRUE(list->GetItems()->GetItem(55)->GetSelected());
    EXPECT_EQ(::SendMessageW(wnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED), 55);
    const auto top = static_cast<int>(::SendMessageW(wnd, LVM_GETTOPINDEX, 0, 0));
    const auto page = static_cast<int>(::SendMessageW(wnd, LVM_GETCOUNTPERPAGE, 0, 0));
    ASSERT_GT(page, 0);
    ASSERT_LT(page, 55);
    EXPECT_LE(top, 55);
    EXPECT_LT(55, top + page);
}

// In icon view the items close ranks when one leaves the folder.
TEST(ShellControls, IconViewArrangesItemsAgainWhenOneLeaves)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (const wchar_t* name : {L"a.gif", L"b.gif", L"c.gif"}) Touch(dir.File(name));

    HostForm form;
    form.SetBounds(0, 0, 400, 300);
    auto* list = Placed<shell::TShellList>(form);
    list->SetBounds(0, 0, 400, 300);
    list->SetViewStyle(classlib::vsIcon);
    list->SetPath(dir.Path());
    ASSERT_EQ(Captions(list), (std::vector<std::wstring>{L"a.gif", L"b.gif", L"c.gif"}));
    HWND wnd = list->GetHandle();
    auto position = [&](int row) {
        POINT p{-1, -1};
        ::SendMessageW(wnd, LVM_GETITEMPOSITION, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&p));
        return std::make_pair(p.x, p.y);
    };
    const auto first = position(0);
    const auto second = position(1);
    ASSERT_NE(first, second);

    ASSERT_TRUE(::DeleteFileW(dir.File(L"a.gif").c_str()));
    list->UpdateContents();
    ASSERT_EQ(Captions(list), (std::vector<std::wstring>{L"b.gif", L"c.gif"}));
    EXPECT_EQ(position(0), first);
    EXPECT_EQ(position(1), second);
}

// A node read again is put to OnAddFolder again (a refusal now takes it
// out); new folders wait while a name is edited in place.
TEST(ShellControls, TreeRefreshAsksOnAddFolderAndWaitsForAnEdit)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"a").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"b").c_str(), nullptr));

    HostForm form;
    form.SetBounds(0, 0, 300, 300);
    auto* tree = Placed<shell::TShellTree>(form);
    tree->SetBounds(0, 0, 300, 300);
    struct Refuse {
        std::wstring name;
        int asked = 0;
    } refuse;
    tree->OnAddFolder = classlib::TEvent<void(HTREEITEM, const std::wstring&, bool&)>::FromFunction(
        [](void* c, HTREEITEM, const std::wstring& path, bool& canAdd) {
            auto* r = static_cast<Refuse*>(c);
            ++r->asked;
            canAdd = classlib::ExtractFileName(path) != r->name;
        },
        &refuse);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    HWND wnd = tree->GetHandle();
    using Names = std::vector<std::wstring>;
    ASSERT_EQ(TreeChildren(wnd, TreeRoot(wnd)), (Names{L"a", L"b"}));

    refuse.name = L"b";
    refuse.asked = 0;
    tree->FullRefresh();
    EXPECT_EQ(TreeChildren(wnd, TreeRoot(wnd)), Names{L"a"});
    EXPECT_EQ(refuse.asked, 2);

    const HTREEITEM a = shelltest::TreeNode(wnd, TreeRoot(wnd), L"a");
    ASSERT_NE(::SendMessageW(wnd, TVM_EDITLABELW, 0, reinterpret_cast<LPARAM>(a)), 0);
    ASSERT_NE(::SendMessageW(wnd, TVM_GETEDITCONTROL, 0, 0), 0);
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"c").c_str(), nullptr));
    tree->FullRefresh();
    EXPECT_EQ(TreeChildren(wnd, TreeRoot(wnd)), Names{L"a"});
    ::SendMessageW(wnd, TVM_ENDEDITLABELNOW, TRUE, 0);
    tree->FullRefresh();
    EXPECT_EQ(TreeChildren(wnd, TreeRoot(wnd)), (Names{L"a", L"c"}));
}

// A right click selects the node under the pointer, also when the menu is
// not the shell's.
TEST(ShellControls, TreeRightClickSelectsTheNode)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"a").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"b").c_str(), nullptr));

    HostForm form;
    form.SetBounds(0, 0, 300, 300);
    auto* tree = Placed<shell::TShellTree>(form);
    tree->SetBounds(0, 0, 300, 300);
    tree->ShellContextMenu = false;
    tree->SetRootedAtFileSystemFolder(dir.Path());
    HWND wnd = tree->GetHandle();
    const HTREEITEM b = shelltest::TreeNode(wnd, TreeRoot(wnd), L"b");
    ASSERT_NE(b, nullptr);
    RECT r{};
    std::memcpy(&r, &b, sizeof(b));
    ASSERT_TRUE(::SendMessageW(wnd, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r)));
    POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ::ClientToScreen(wnd, &p);
    ASSERT_TRUE(::SetCursorPos(p.x, p.y));
    NMHDR nm{};
    nm.hwndFrom = wnd;
    nm.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(wnd));
    nm.code = NM_RCLICK;
    ::SendMessageW(form.GetHandle(), WM_NOTIFY, nm.idFrom, reinterpret_cast<LPARAM>(&nm));
    EXPECT_EQ(reinterpret_cast<HTREEITEM>(::SendMessageW(wnd, TVM_GETNEXTITEM, TVGN_CARET, 0)), b);
    EXPECT_TRUE(shelltest::PumpUntil([&] { return tree->GetPath() == dir.File(L"b"); }));
}

// A form that is loading may turn the boxes on before it gives the link:
// once loaded, the boxes show.
TEST(ShellControls, CheckBoxesGivenBeforeTheLinkWhileTheFormLoads)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    Touch(dir.File(L"a.gif"));
    ::CreateDirectoryW(dir.File(L"sub").c_str(), nullptr);

    HostForm form;
    classlib::BeginLoading(&form);
    auto* link = new shell::TShellLink(&form);
    auto* list = new shell::TShellList(&form);
    auto* tree = new shell::TShellTree(&form);
    list->SetParent(&form);
    tree->SetParent(&form);
    list->SetCheckboxes(true);
    tree->SetCheckBoxes(true);
    list->SetPath(dir.Path());
    tree->SetRootedAtFileSystemFolder(dir.Path());
    list->SetShellLink(link);
    tree->SetShellLink(link);
    classlib::EndLoading(&form);
    EXPECT_TRUE(list->GetCheckboxes());
    EXPECT_TRUE(tree->GetCheckBoxes());

    list->HandleNeeded();
    tree->HandleNeeded();
    ASSERT_EQ(Captions(list), (std::vector<std::wstring>{L"sub", L"a.gif"}));
    HWND lv = list->GetHandle();
    EXPECT_EQ(static_cast<int>((::SendMessageW(lv, LVM_GETITEMSTATE, 1, LVIS_STATEIMAGEMASK) >> 12) - 1),
              shell::ssUnChecked);
    HWND tv = tree->GetHandle();
    const HTREEITEM sub = shelltest::TreeNode(tv, TreeRoot(tv), L"sub");
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(tree->GetNodeState(sub), shell::ssUnChecked);

    // Outside loading the link is needed first.
    auto* late = new shell::TShellList(&form);
    late->SetCheckboxes(true);
    EXPECT_FALSE(late->GetCheckboxes());
}

// OnUpdatedFolder tells of a node when it is first drawn (once) and each
// time it is read again.
TEST(ShellControls, TreeTellsOfNodesDrawnAndReadAgain)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"a").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"b").c_str(), nullptr));

    HostForm form;
    auto* tree = Placed<shell::TShellTree>(form);
    std::vector<HTREEITEM> told;
    tree->OnUpdatedFolder = classlib::TEvent<void(classlib::TObject*, HTREEITEM)>::FromFunction(
        [](void* c, classlib::TObject*, HTREEITEM node) { static_cast<std::vector<HTREEITEM>*>(c)->push_back(node); },
        &told);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    HWND wnd = tree->GetHandle();
    const HTREEITEM root = TreeRoot(wnd);
    const HTREEITEM a = shelltest::TreeNode(wnd, root, L"a");
    const HTREEITEM b = shelltest::TreeNode(wnd, root, L"b");
    ASSERT_TRUE(a && b);
    told.clear();
    auto draw = [&](HTREEITEM item) {
        TVITEMW tv{};
        tv.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_HANDLE;
        tv.hItem = item;
        ::SendMessageW(wnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    };
    for (int i = 0; i < 2; ++i) {
        draw(a);
        draw(b);
    }
    EXPECT_EQ(told, (std::vector<HTREEITEM>{a, b}));

    told.clear();
    tree->FullRefresh();
    std::sort(told.begin(), told.end());
    std::vector<HTREEITEM> all{root, a, b};
    std::sort(all.begin(), all.end());
    EXPECT_EQ(told, all);
    shelltest::PumpFor(300);
}

// A node opened with Recurse opens every node below it; a node read again
// shows what its folder holds now.
TEST(ShellControls, TreeOpensAndReadsNodesOnRequest)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (const wchar_t* name : {L"a", L"a\\x", L"a\\x\\y", L"b"})
        ASSERT_TRUE(::CreateDirectoryW(dir.File(name).c_str(), nullptr));

    HostForm form;
    auto* tree = Placed<shell::TShellTree>(form);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    HWND wnd = tree->GetHandle();
    const HTREEITEM root = TreeRoot(wnd);
    const HTREEITEM a = shelltest::TreeNode(wnd, root, L"a");
    ASSERT_NE(a, nullptr);
    using Names = std::vector<std::wstring>;
    EXPECT_TRUE(TreeChildren(wnd, a).empty());  // not read yet
    tree->ExpandNode(a, false);
    ASSERT_EQ(TreeChildren(wnd, a), Names{L"x"});
    const HTREEITEM x = shelltest::TreeNode(wnd, a, L"x");
    EXPECT_TRUE(TreeChildren(wnd, x).empty());
    tree->ExpandNode(root, true);
    ASSERT_EQ(TreeChildren(wnd, x), Names{L"y"});
    EXPECT_TRUE(::SendMessageW(wnd, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(x), TVIS_EXPANDED) & TVIS_EXPANDED);

    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"a\\z").c_str(), nullptr));
    tree->RefreshNode(a, false);
    EXPECT_EQ(TreeChildren(wnd, a), (Names{L"x", L"z"}));
}

// Up to 500 items the list follows a change item by item (a new object is
// appended, the others keep their items); above that it fills again.
TEST(ShellControls, UpdateContentsFillsAgainAbove500Items)
{
    shell::TShellScope shellScope;
    for (int count : {500, 501}) {
        SCOPED_TRACE(count);
        testsupport::TempDir dir;
        for (int i = 0; i < count; ++i) {
            wchar_t name[16];
            std::swprintf(name, 16, L"f%03d.gif", i);
            Touch(dir.File(name));
        }
        HostForm form;
        auto* list = Placed<shell::TShellList>(form);
        list->SetAutomaticRefresh(false);
        int fills = 0;
        list->OnPopulated = classlib::TNotifyEvent::FromFunction(
            [](void* c, classlib::TObject*) { ++*static_cast<int*>(c); }, &fills);
        list->SetPath(dir.Path());
        ASSERT_TRUE(shelltest::PumpUntil([&] { return fills == 1; }, 20000));
        ASSERT_EQ(list->GetItems()->GetCount(), count);
        classlib::TListItem* first = list->GetItems()->GetItem(0);

        Touch(dir.File(L"a.gif"));
        list->UpdateContents();
        ASSERT_TRUE(shelltest::PumpUntil([&] { return list->GetItems()->GetCount() == count + 1; }, 20000));
        classlib::TListItems* items = list->GetItems();
        if (count == 500) {
            EXPECT_EQ(fills, 1);
            EXPECT_EQ(items->GetItem(0), first);
            EXPECT_EQ(items->GetItem(count)->GetCaption(), L"a.gif");
        } else {
            EXPECT_TRUE(shelltest::PumpUntil([&] { return fills == 2; }, 20000));
            EXPECT_EQ(items->GetItem(0)->GetCaption(), L"a.gif");
        }
    }
}

// A box that cannot be checked (the desktop root while nothing on a drive
// is checked, the " .. " item) ignores a toggle and fires nothing; a
// desktop-rooted tree shows its root grey once a path on a drive is
// checked.
TEST(ShellControls, BoxesThatCannotBeCheckedAndTheDesktopRoot)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ::CreateDirectoryW(dir.File(L"sub").c_str(), nullptr);

    LinkedHost host;
    auto& [form, link, tree, list] = host;
    tree->SetCheckBoxes(true);
    list->SetShowParentFolder(true);
    list->SetCheckboxes(true);
    int events = 0;
    auto count = shell::TOnCheckStateChanged::FromFunction(
        [](void* c, classlib::TObject*, int, const std::wstring&, shell::TShSelectionState) { ++*static_cast<int*>(c); },
        &events);
    tree->OnCheckStateChanged = count;
    list->OnCheckStateChanged = count;

    HWND wnd = tree->GetHandle();
    const HTREEITEM root = TreeRoot(wnd);
    ASSERT_EQ(tree->GetRootedAt(), shell::SF_DESKTOP);
    EXPECT_EQ(tree->GetNodeState(root), shell::ssNone);
    tree->ToggleCheck(root);
    EXPECT_EQ(tree->GetNodeState(root), shell::ssNone);

    list->SetPath(dir.Path());
    ASSERT_EQ(Captions(list), (std::vector<std::wstring>{L" .. ", L"sub"}));
    list->ToggleCheck(0);
    EXPECT_EQ(events, 0);
    EXPECT_EQ(link->GetSelectionList()->GetPaths()->GetCount(), 0);

    tree->SetSelectedFolder(dir.File(L"sub"));
    const auto sub = reinterpret_cast<HTREEITEM>(::SendMessageW(wnd, TVM_GETNEXTITEM, TVGN_CARET, 0));
    ASSERT_EQ(tree->NodePath(sub), dir.File(L"sub"));
    tree->ToggleCheck(sub);
    EXPECT_EQ(events, 1);
    EXPECT_EQ(tree->GetNodeState(sub), shell::ssChecked);
    EXPECT_EQ(tree->GetNodeState(root), shell::ssGrayed);
}

// Names outside the ANSI code page (Cyrillic, CJK, a surrogate pair, the
// right-to-left override) keep every character in the caption and in the
// full path the list gives out.
TEST(ShellControls, ListKeepsNamesOutsideTheCodePage)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    const std::vector<std::wstring> names = {L"\u041C\u043E\u0441\u0442.jpg", L"\u6A4B\u306E\u5199\u771F.jpg",
                                             L"bridge \U0001F309.jpg", L"\u202Egpj.evil\u200F.jpg"};
    for (const std::wstring& name : names) Touch(dir.File(name));

    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    list->SetPath(dir.Path());
    ASSERT_EQ(list->GetItems()->GetCount(), static_cast<int>(names.size()));
    std::set<std::wstring> captions, paths;
    for (int i = 0; i < list->GetItems()->GetCount(); ++i) {
        captions.insert(list->GetItems()->GetItem(i)->GetCaption());
        paths.insert(list->GetItemPathAt(i));
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(captions.count(names[i]), 1u) << "caption of name " << i;
        EXPECT_EQ(paths.count(dir.File(names[i])), 1u) << "path of name " << i;
    }
}
