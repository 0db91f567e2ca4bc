// The shell controls follow changes nobody announces to the shell: folders
// and files made, renamed and deleted by plain file calls, also through the
// host's side of the drive (Z:); a full expansion ends on a folder that
// links back to a folder above it.
#include "controls/shell/ShellControls.h"

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "controls/shell/ShFolderWatch.h"
#include "controls/shell/ShNamespace.h"
#include "support/TestSupport.h"
#include "tests/controls/shell/ShellHost.h"
#include "tests/controls/shell/ShellPump.h"

namespace {

using Names = std::vector<std::wstring>;
using shelltest::HostForm;
using shelltest::Placed;
using shelltest::PumpUntil;
using shelltest::TreeChildren;
using shelltest::TreeRoot;

// The host's name of a path (empty outside Wine).
std::string UnixPath(const std::wstring& Path)
{
    using TUnixName = char*(CDECL*)(LPCWSTR);
    auto unixName = reinterpret_cast<TUnixName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) return {};
    char* name = unixName(Path.c_str());
    if (!name) return {};
    std::string result = name;
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
}

// The same folder as the host sees it, through Wine's Z: drive.
std::wstring HostSide(const std::wstring& Path)
{
    const std::string unix = UnixPath(Path);
    if (unix.empty()) return {};
    std::wstring z = L"Z:";
    for (char c : unix) z += c == '/' ? L'\\' : wchar_t(static_cast<unsigned char>(c));
    return z;
}

// Makes the host symbolic link Link -> Target (a relative target stays
// relative) by running the host's ln (Wine starts a host program directly,
// without a process handle to wait on: the link is waited for instead);
// false when it did not appear.
bool HostSymlink(const std::string& Target, const std::wstring& Link)
{
    const std::string link = UnixPath(Link);
    if (link.empty()) return false;
    std::wstring line = L"ln -s ";
    for (char c : Target + " " + link) line += wchar_t(static_cast<unsigned char>(c));
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(L"Z:\\bin\\ln", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    if (pi.hThread) ::CloseHandle(pi.hThread);
    if (pi.hProcess) ::CloseHandle(pi.hProcess);
    const DWORD start = ::GetTickCount();
    while (::GetFileAttributesW(Link.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (::GetTickCount() - start > 10000) return false;
        ::Sleep(20);
    }
    return true;
}

std::wstring FileIn(const std::wstring& Folder, const std::wstring& Name)
{
    return Folder + (Folder.back() == L'\\' ? L"" : L"\\") + Name;
}

void MakeFile(const std::wstring& Path)
{
    HANDLE h = ::CreateFileW(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << Path;
    ::CloseHandle(h);
}

Names ListNames(shell::TShellList* List)
{
    Names names;
    for (int i = 0; i < List->GetItems()->GetCount(); ++i) names.push_back(List->GetItems()->GetItem(i)->GetCaption());
    std::sort(names.begin(), names.end());
    return names;
}

// The watch itself: a change in a watched folder is reported once per
// batch, a folder's subfolders are not watched, a removed watch is quiet,
// and a folder that goes away is reported and dropped.
TEST(ShellDiskChanges, FolderWatchReportsChangedFoldersOnce)
{
    testsupport::TempDir dir;
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"w").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"w\\sub").c_str(), nullptr));
    HostForm form;
    form.HandleNeeded();
    constexpr UINT kMessage = WM_APP + 7;
    shell::TShFolderWatch watch(form.GetHandle(), kMessage);
    std::set<std::wstring> seen;
    int posts = 0;
    auto pump = [&](DWORD ms) {
        const DWORD start = ::GetTickCount();
        while (::GetTickCount() - start < ms) {
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == kMessage) {
                    ++posts;
                    for (const std::wstring& f : watch.TakeChanged()) seen.insert(f);
                    continue;
                }
                ::DispatchMessageW(&msg);
            }
            ::Sleep(5);
        }
    };

    EXPECT_FALSE(watch.Add(dir.File(L"none")));
    EXPECT_FALSE(watch.Add(dir.File(L"w\\sub\\..\\..\\w\\f.txt")));  // not a folder (and not there)
    ASSERT_TRUE(watch.Add(dir.File(L"w")));
    ASSERT_TRUE(watch.Add(dir.File(L"w")));  // counted
    EXPECT_EQ(watch.GetCount(), 1u);
    pump(200);
    // Reading the folder is no change.
    WIN32_FIND_DATAW fd;
    HANDLE find = ::FindFirstFileW(dir.File(L"w\\*").c_str(), &fd);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    while (::FindNextFileW(find, &fd)) {
    }
    ::FindClose(find);
    pump(300);
    EXPECT_TRUE(seen.empty());

    for (const wchar_t* name : {L"w\\a.txt", L"w\\b.txt", L"w\\c.txt"}) MakeFile(dir.File(name));
    pump(600);
    EXPECT_EQ(seen, std::set<std::wstring>{dir.File(L"w")});
    EXPECT_LE(posts, 3);

    seen.clear();
    MakeFile(dir.File(L"w\\sub\\deep.txt"));  // below: not watched
    pump(400);
    EXPECT_TRUE(seen.empty());

    watch.Remove(dir.File(L"w"));
    EXPECT_TRUE(watch.Watching(dir.File(L"W\\")));  // one count left, any spelling
    watch.Remove(dir.File(L"w"));
    EXPECT_FALSE(watch.Watching(dir.File(L"w")));
    MakeFile(dir.File(L"w\\d.txt"));
    pump(400);
    EXPECT_TRUE(seen.empty());

    ASSERT_TRUE(watch.Add(dir.File(L"w\\sub")));
    pump(200);
    ASSERT_TRUE(::DeleteFileW(dir.File(L"w\\sub\\deep.txt").c_str()));
    ASSERT_TRUE(::RemoveDirectoryW(dir.File(L"w\\sub").c_str()));
    pump(600);
    EXPECT_EQ(seen, std::set<std::wstring>{dir.File(L"w\\sub")});
}

// A folder and a file made, renamed and deleted by plain file calls (no
// announcement to the shell), once through the folder's own path and once
// through the host's side of the drive, reach the list and the tree.
TEST(ShellDiskChanges, ListAndTreeFollowUnannouncedChanges)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"b").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"b\\x").c_str(), nullptr));
    const std::wstring host = HostSide(dir.Path());
    ASSERT_FALSE(host.empty());

    HostForm form;
    auto* tree = Placed<shell::TShellTree>(form, 0, 200);
    auto* list = Placed<shell::TShellList>(form, 200, 300);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    list->SetPath(dir.Path());
    HWND wnd = tree->GetHandle();
    const HTREEITEM root = TreeRoot(wnd);
    ASSERT_EQ(TreeChildren(wnd, root), Names{L"b"});
    ASSERT_EQ(ListNames(list), Names{L"b"});

    for (const std::wstring& side : {dir.Path(), host}) {
        SCOPED_TRACE(testing::Message() << "changes made through " << std::string(side.begin(), side.end()));
        ASSERT_TRUE(::CreateDirectoryW(FileIn(side, L"new").c_str(), nullptr));
        MakeFile(FileIn(side, L"f.txt"));
        EXPECT_TRUE(PumpUntil([&] { return TreeChildren(wnd, root) == Names{L"b", L"new"}; }));
        EXPECT_TRUE(PumpUntil([&] { return ListNames(list) == Names{L"b", L"f.txt", L"new"}; }));

        ASSERT_TRUE(::MoveFileW(FileIn(side, L"new").c_str(), FileIn(side, L"renamed").c_str()));
        ASSERT_TRUE(::MoveFileW(FileIn(side, L"f.txt").c_str(), FileIn(side, L"g.txt").c_str()));
        EXPECT_TRUE(PumpUntil([&] { return TreeChildren(wnd, root) == Names{L"b", L"renamed"}; }));
        EXPECT_TRUE(PumpUntil([&] { return ListNames(list) == Names{L"b", L"g.txt", L"renamed"}; }));

        ASSERT_TRUE(::RemoveDirectoryW(FileIn(side, L"renamed").c_str()));
        ASSERT_TRUE(::DeleteFileW(FileIn(side, L"g.txt").c_str()));
        EXPECT_TRUE(PumpUntil([&] { return TreeChildren(wnd, root) == Names{L"b"}; }));
        EXPECT_TRUE(PumpUntil([&] { return ListNames(list) == Names{L"b"}; }));
    }

    // A folder opened below the root is watched too.
    const HTREEITEM b = shelltest::TreeNode(wnd, root, L"b");
    tree->ExpandNode(b, false);
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"b\\inner").c_str(), nullptr));
    ASSERT_EQ(TreeChildren(wnd, b), Names{L"x"});
    EXPECT_TRUE(PumpUntil([&] { return TreeChildren(wnd, b) == (Names{L"inner", L"x"}); }));

    // Switched off, the controls stay as they are.
    tree->SetAutomaticRefresh(false);
    list->SetAutomaticRefresh(false);
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"late").c_str(), nullptr));
    shelltest::PumpFor(800);
    EXPECT_EQ(TreeChildren(wnd, root), (Names{L"b"}));
    EXPECT_EQ(ListNames(list), (Names{L"b"}));
}

// The folders of a tree's opened nodes are watched without a handle: one
// deleted by a plain call while the tree shows it opened is gone at once
// (under Wine a handle would keep it until the watch ended), the tree drops
// it, and a new entry in an opened folder still reaches its node.
TEST(ShellDiskChanges, OpenedFoldersStayDeletable)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (const wchar_t* name : {L"keep", L"keep\\x", L"gone"})
        ASSERT_TRUE(::CreateDirectoryW(dir.File(name).c_str(), nullptr));
    HostForm form;
    auto* tree = Placed<shell::TShellTree>(form, 0, 200);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    HWND wnd = tree->GetHandle();
    const HTREEITEM root = TreeRoot(wnd);
    tree->ExpandNode(root, true);
    ASSERT_EQ(TreeChildren(wnd, root), (Names{L"gone", L"keep"}));
    shelltest::PumpFor(100);

    ASSERT_TRUE(::RemoveDirectoryW(dir.File(L"gone").c_str()));
    EXPECT_EQ(::GetFileAttributesW(dir.File(L"gone").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(PumpUntil([&] { return TreeChildren(wnd, root) == Names{L"keep"}; }));

    const HTREEITEM keep = shelltest::TreeNode(wnd, root, L"keep");
    ASSERT_NE(keep, nullptr);
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"keep\\inner").c_str(), nullptr));
    EXPECT_TRUE(PumpUntil([&] { return TreeChildren(wnd, keep) == (Names{L"inner", L"x"}); }));
}

// Numpad * opens the whole branch: a host link back to a folder above
// ("loop -> ..") is shown but not opened again below itself, and the
// expansion ends at once.
TEST(ShellDiskChanges, FullExpansionStopsAtLinksBackUp)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"top").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"top\\a").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"top\\a\\b").c_str(), nullptr));
    ASSERT_TRUE(HostSymlink("..", dir.File(L"top\\a\\loop")));
    ASSERT_TRUE(::GetFileAttributesW(dir.File(L"top\\a\\loop\\a\\b").c_str()) & FILE_ATTRIBUTE_DIRECTORY);

    HostForm form;
    auto* tree = Placed<shell::TShellTree>(form);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    HWND wnd = tree->GetHandle();
    const HTREEITEM top = shelltest::TreeNode(wnd, TreeRoot(wnd), L"top");
    ASSERT_NE(top, nullptr);
    ::SendMessageW(wnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(top));
    ::SetFocus(wnd);

    const DWORD start = ::GetTickCount();
    ::SendMessageW(wnd, WM_KEYDOWN, VK_MULTIPLY, 0);
    ::SendMessageW(wnd, WM_KEYUP, VK_MULTIPLY, 0);
    EXPECT_LT(::GetTickCount() - start, 10000u);

    const HTREEITEM a = shelltest::TreeNode(wnd, top, L"a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(TreeChildren(wnd, a), (Names{L"b", L"loop"}));
    // loop is top again, which is on the way down: shown, not opened.
    const HTREEITEM loop = shelltest::TreeNode(wnd, a, L"loop");
    ASSERT_NE(loop, nullptr);
    EXPECT_TRUE(TreeChildren(wnd, loop).empty());
    EXPECT_TRUE(::SendMessageW(wnd, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(a), TVIS_EXPANDED) & TVIS_EXPANDED);
    EXPECT_LT(::SendMessageW(wnd, TVM_GETCOUNT, 0, 0), 20);

    // ExpandNode itself is bounded the same way from the root.
    tree->ExpandNode(TreeRoot(wnd), true);
    EXPECT_LT(::SendMessageW(wnd, TVM_GETCOUNT, 0, 0), 20);
}

}  // namespace

namespace {

// A folder on the desktop is shown twice by a desktop tree: among the
// desktop's own objects and below My Computer's drive. The node of an
// exact list is the one found, whichever of the two lies first in memory.
TEST(ShellDiskChanges, FindNodePrefersTheExactList)
{
    shell::TShellScope shellScope;
    const std::wstring desktop = shell::SpecialFolderPath(shell::SF_DESKTOPDIRECTORY);
    ASSERT_FALSE(desktop.empty());
    const std::wstring folder = FileIn(desktop, L"velmo-find-node");
    ::CreateDirectoryW(folder.c_str(), nullptr);
    struct TRemove {
        std::wstring path;
        ~TRemove() { ::RemoveDirectoryW(path.c_str()); }
    } remove{folder};

    HostForm form;
    auto* tree = Placed<shell::TShellTree>(form);
    tree->SetRootedAt(shell::SF_DESKTOP);
    HWND wnd = tree->GetHandle();
    const HTREEITEM onDesktop = shelltest::TreeNode(wnd, TreeRoot(wnd), L"velmo-find-node");
    ASSERT_NE(onDesktop, nullptr);
    tree->SetPath(folder);  // opens the way down My Computer
    const HTREEITEM onDrive = reinterpret_cast<HTREEITEM>(::SendMessageW(wnd, TVM_GETNEXTITEM, TVGN_CARET, 0));
    ASSERT_NE(onDrive, nullptr);
    ASSERT_NE(onDrive, onDesktop);

    auto listOf = [&](HTREEITEM Item) {
        TVITEMW tv{};
        tv.mask = TVIF_PARAM | TVIF_HANDLE;
        tv.hItem = Item;
        ::SendMessageW(wnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
        auto* node = dynamic_cast<shell::TShellTreeNode*>(reinterpret_cast<classlib::TObject*>(tv.lParam));
        return node ? shell::PidlClone(node->Absolute.get()) : shell::TPidl();
    };
    shell::TPidl shortList = listOf(onDesktop);
    shell::TPidl longList = listOf(onDrive);
    ASSERT_TRUE(shortList && longList);
    ASSERT_NE(shell::PidlItemCount(shortList.get()), shell::PidlItemCount(longList.get()));
    EXPECT_EQ(tree->FindNode(shortList.get()), onDesktop);
    EXPECT_EQ(tree->FindNode(longList.get()), onDrive);
}

}  // namespace
