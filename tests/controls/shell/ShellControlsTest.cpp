// The file list and folder tree over the file system: masks, sorting,
// folders, and the two kept in step through a shell link.
#include "controls/shell/ShellControls.h"

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/Forms.h"
#include "controls/shell/ShNamespace.h"
#include "support/TestSupport.h"

namespace {

void Touch(const std::wstring& File)
{
    HANDLE h = ::CreateFileW(File.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ::CloseHandle(h);
}

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

    classlib::TForm form(nullptr);
    form.SetBorderStyle(classlib::bsNone);
    auto* link = new shell::TShellLink(&form);
    auto* tree = new shell::TShellTree(&form);
    auto* list = new shell::TShellList(&form);
    tree->SetParent(&form);
    list->SetParent(&form);
    tree->SetShellLink(link);
    list->SetShellLink(link);
    list->SetShowFolders(false);
    list->SetFilter(L"*.gif");
    int populated = 0, changes = 0;
    list->OnPopulated = classlib::TNotifyEvent::FromFunction([](void* c, classlib::TObject*) { ++*static_cast<int*>(c); },
                                                             &populated);
    tree->OnChange = classlib::TNotifyEvent::FromFunction([](void* c, classlib::TObject*) { ++*static_cast<int*>(c); },
                                                          &changes);
    tree->HandleNeeded();
    list->HandleNeeded();

    tree->SetPath(dir.File(L"inner"));
    EXPECT_EQ(tree->GetPath(), dir.File(L"inner"));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(list->GetPath(), dir.File(L"inner\\"));
    EXPECT_GE(populated, 1);
    ASSERT_EQ(list->GetItems()->GetCount(), 1);
    EXPECT_EQ(list->GetItemPathAt(0), dir.File(L"inner\\one.gif"));

    // The other way round: the list's folder shows in the tree.
    list->SetPath(dir.Path());
    EXPECT_EQ(tree->GetPath(), dir.Path());
    // A folder that does not exist changes nothing.
    list->SetPath(dir.File(L"missing"));
    EXPECT_EQ(list->GetPath(), dir.Path() + L"\\");
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
    *reinterpret_cast<HTREEITEM*>(&r) = item;
    ASSERT_TRUE(::SendMessageW(wnd, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r)));
    ::RedrawWindow(wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    HDC dc = ::GetDC(wnd);
    const COLORREF corner = ::GetPixel(dc, r.left + 1, r.top + 1);
    ::ReleaseDC(wnd, dc);
    EXPECT_EQ(classlib::InactiveSelectionColor(), corner);
    ::DestroyWindow(other);
}

}  // namespace
