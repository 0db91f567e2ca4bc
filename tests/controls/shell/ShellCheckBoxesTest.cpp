// A check box toggled while the linked controls refresh: the refresh may
// take the toggled item or node away; the report still names the object.
#include "controls/shell/ShellControls.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "tests/controls/shell/ShellHost.h"
#include "tests/controls/shell/ShellPump.h"

namespace {

using shelltest::LinkedHost;
using shelltest::TreeRoot;

struct TToggle {
    int index;
    std::wstring path;
    int state;
};

struct TToggles {
    std::vector<TToggle> seen;
    void Changed(classlib::TObject*, int Index, const std::wstring& Path, shell::TShSelectionState State)
    {
        seen.push_back({Index, Path, State});
    }
};

// The list's box of a.gif is toggled while the tree's selection of "sub"
// waits on its timer: ending the check's update serves that timer, the
// list shows "sub", and a.gif's item is gone before the report.
TEST(ShellCheckBoxes, ListToggleWhileALinkedTreeChangeRefillsTheList)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    testsupport::Touch(dir.File(L"a.gif"));
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"sub").c_str(), nullptr));
    testsupport::Touch(dir.File(L"sub\\in.gif"));

    LinkedHost host;
    host.tree->SetRootedAtFileSystemFolder(dir.Path());
    ASSERT_TRUE(shelltest::PumpUntil([&] { return host.list->GetItems()->GetCount() == 2; }));
    host.list->SetCheckboxes(true);
    ASSERT_TRUE(host.list->GetCheckboxes());
    TToggles toggles;
    host.list->OnCheckStateChanged = shell::TOnCheckStateChanged(&toggles, &TToggles::Changed);
    int aIndex = -1;
    for (int i = 0; i < host.list->GetItems()->GetCount(); ++i)
        if (host.list->GetItems()->GetItem(i)->GetCaption() == L"a.gif") aIndex = i;
    ASSERT_GE(aIndex, 0);

    HWND treeWnd = host.tree->GetHandle();
    const HTREEITEM sub = shelltest::TreeNode(treeWnd, TreeRoot(treeWnd), L"sub");
    ASSERT_NE(sub, nullptr);
    host.tree->SetChangeDelay(30);
    ::SendMessageW(treeWnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(sub));
    ::Sleep(100);  // the timer is due, not yet served

    host.list->ToggleCheck(aIndex);
    ASSERT_EQ(toggles.seen.size(), 1u);
    EXPECT_EQ(toggles.seen[0].index, -1);  // no longer listed
    EXPECT_EQ(toggles.seen[0].path, dir.File(L"a.gif"));
    EXPECT_EQ(toggles.seen[0].state, shell::ssChecked);
    EXPECT_EQ(host.link->GetSelectionList()->GetStateOfPath(dir.File(L"a.gif")), shell::ssChecked);
    ASSERT_EQ(host.list->GetItems()->GetCount(), 1);
    EXPECT_EQ(host.list->GetItems()->GetItem(0)->GetCaption(), L"in.gif");
}

// The tree's box of a folder deleted on disk: the watch's report waits in
// the queue, ending the check's update serves it and the node goes.
TEST(ShellCheckBoxes, TreeToggleOfANodeAWaitingChangeDrops)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"gone").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"kept").c_str(), nullptr));

    LinkedHost host;
    host.tree->SetRootedAtFileSystemFolder(dir.Path());
    host.tree->SetCheckBoxes(true);
    ASSERT_TRUE(host.tree->GetCheckBoxes());
    TToggles toggles;
    host.tree->OnCheckStateChanged = shell::TOnCheckStateChanged(&toggles, &TToggles::Changed);
    HWND wnd = host.tree->GetHandle();
    const HTREEITEM gone = shelltest::TreeNode(wnd, TreeRoot(wnd), L"gone");
    ASSERT_NE(gone, nullptr);
    shelltest::PumpFor(300);
    ASSERT_TRUE(::RemoveDirectoryW(dir.File(L"gone").c_str()));
    ::Sleep(500);  // reported by the watch, not yet served

    host.tree->ToggleCheck(gone);
    EXPECT_EQ(shelltest::TreeNode(wnd, TreeRoot(wnd), L"gone"), nullptr);
    ASSERT_EQ(toggles.seen.size(), 1u);
    EXPECT_EQ(toggles.seen[0].index, -1);
    EXPECT_EQ(toggles.seen[0].path, dir.File(L"gone"));
    EXPECT_EQ(toggles.seen[0].state, shell::ssChecked);
}

}  // namespace
