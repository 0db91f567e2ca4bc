#include "controls/shell/ShSelectionList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "classlib/Threads.h"
#include "controls/shell/ShNamespace.h"
#include "controls/shell/ShWorkItems.h"
#include "support/TestSupport.h"

using namespace shell;

namespace {

// Waits until the size counts have all been applied on this thread.
bool WaitForCounts(DWORD Timeout = 10000)
{
    const DWORD start = ::GetTickCount();
    while (ShellWorkPool()->GetPendingCount() > 0) {
        if (::GetTickCount() - start > Timeout)
            return false;
        classlib::CheckSynchronize(5);
    }
    classlib::CheckSynchronize(0);
    return true;
}

struct Counter {
    int n = 0;
    void Hit(classlib::TObject*) { ++n; }
};

// root\A\x.jpg (10), root\A\y.jpg (20), root\A\sub\z.jpg (5), root\B\w.jpg (7)
class ShellSelection : public testing::Test {
protected:
    ShellSelection()
    {
        classlib::MainThreadID = ::GetCurrentThreadId();
        root = dir_.Path();
        A = root + L"\\A";
        ::CreateDirectoryW(A.c_str(), nullptr);
        ::CreateDirectoryW((A + L"\\sub").c_str(), nullptr);
        ::CreateDirectoryW((root + L"\\B").c_str(), nullptr);
        testsupport::WriteFilled(A + L"\\x.jpg", 10);
        testsupport::WriteFilled(A + L"\\y.jpg", 20);
        testsupport::WriteFilled(A + L"\\sub\\z.jpg", 5);
        testsupport::WriteFilled(root + L"\\B\\w.jpg", 7);
    }
    ~ShellSelection() override { ShutdownShellWorkPool(); }

    std::vector<std::wstring> Entries(const TShSelectionList& list)
    {
        std::vector<std::wstring> out;
        for (int i = 0; i < list.GetPaths()->GetCount(); ++i) {
            std::wstring e = list.GetPaths()->GetStrings(i);
            // Relative to the temp folder, upper-cased (the platform may
            // answer in another case).
            if (StartsWithText(e, root + L"\\"))
                e = e.substr(root.size() + 1);
            std::transform(e.begin(), e.end(), e.begin(), ::towupper);
            out.push_back(e);
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    TShellScope scope_;
    testsupport::TempDir dir_;
    std::wstring root;
    std::wstring A;
};

}  // namespace

TEST_F(ShellSelection, TickingEveryFileOfAFolderLeavesOneFolderEntry)
{
    TShSelectionList list(nullptr);
    Counter changes;
    Counter counted;
    list.OnChange = classlib::TNotifyEvent(&changes, &Counter::Hit);
    list.OnCompletedCalculateFiles = classlib::TNotifyEvent(&counted, &Counter::Hit);

    list.Check(A + L"\\x.jpg");
    EXPECT_EQ(changes.n, 1);  // one change per tick
    list.Check(A + L"\\y.jpg");
    EXPECT_EQ(Entries(list), (std::vector<std::wstring>{L"A\\X.JPG", L"A\\Y.JPG"}));
    list.Check(A + L"\\sub\\z.jpg");
    EXPECT_EQ(Entries(list), (std::vector<std::wstring>{L"A\\*"}));

    bool byParent = false;
    EXPECT_EQ(list.GetState(A + L"\\sub\\z.jpg", byParent), ssChecked);
    EXPECT_TRUE(byParent);
    EXPECT_EQ(list.GetState(A, byParent), ssChecked);
    EXPECT_FALSE(byParent);
    EXPECT_EQ(list.GetStateOfPath(root), ssGrayed);
    EXPECT_EQ(list.GetStateOfPath(root + L"\\B"), ssUnChecked);
    EXPECT_EQ(list.GetStateOfPath(root + L"\\missing.jpg"), ssNone);
    EXPECT_EQ(list.GetStateOfPath(L""), ssNone);

    // The totals settle once the counts have run: the file ticks were
    // replaced by the folder's count.
    ASSERT_TRUE(WaitForCounts());
    EXPECT_EQ(list.TotalSize, 35);
    EXPECT_EQ(list.TotalFiles, 3);
    EXPECT_EQ(list.TotalFolders, 2);
    EXPECT_GT(counted.n, 3);

    // Ticking again changes nothing.
    list.Check(A + L"\\x.jpg");
    EXPECT_EQ(Entries(list), (std::vector<std::wstring>{L"A\\*"}));
}

TEST_F(ShellSelection, UntickingInsideATickedFolderExpandsIt)
{
    TShSelectionList list(nullptr);
    list.Check(A);
    ASSERT_EQ(Entries(list), (std::vector<std::wstring>{L"A\\*"}));

    list.Uncheck(A + L"\\x.jpg");
    EXPECT_EQ(Entries(list), (std::vector<std::wstring>{L"A\\SUB\\*", L"A\\Y.JPG"}));
    EXPECT_EQ(list.GetStateOfPath(A + L"\\x.jpg"), ssUnChecked);
    EXPECT_EQ(list.GetStateOfPath(A), ssGrayed);

    // Two levels down: every ticked ancestor is expanded.
    list.Clear();
    list.Check(A);
    list.Uncheck(A + L"\\sub\\z.jpg");
    EXPECT_EQ(Entries(list), (std::vector<std::wstring>{L"A\\X.JPG", L"A\\Y.JPG"}));

    // A partly ticked folder loses what is below it.
    list.Uncheck(A);
    EXPECT_TRUE(Entries(list).empty());
    ASSERT_TRUE(WaitForCounts());
    EXPECT_EQ(list.TotalSize, 0);
    EXPECT_EQ(list.TotalFiles, 0);
}

TEST_F(ShellSelection, RenameMovesEntriesOfThePathAndBelowOnly)
{
    TShSelectionList list(nullptr);
    for (const wchar_t* e : {L"C:\\A\\x.jpg", L"C:\\AB\\y.jpg", L"c:\\a", L"C:\\A\\sub\\*"})
        list.GetPaths()->Add(e);
    list.RenamePath(L"C:\\A", L"C:\\B");
    std::vector<std::wstring> got;
    for (int i = 0; i < list.GetPaths()->GetCount(); ++i)
        got.push_back(list.GetPaths()->GetStrings(i));
    EXPECT_EQ(got, (std::vector<std::wstring>{L"C:\\B\\x.jpg", L"C:\\AB\\y.jpg", L"C:\\B", L"C:\\B\\sub\\*"}));
}

TEST_F(ShellSelection, AssignPathsChecksEachAndDestroyedListIgnoresLateCounts)
{
    classlib::TStringList source;
    source.Add(A + L"\\x.jpg");
    source.Add(A + L"\\y.jpg");
    source.Add(root + L"\\B");
    source.Add(root + L"\\nothing-here");
    {
        TShSelectionList list(nullptr);
        list.AssignPaths(&source);
        EXPECT_EQ(Entries(list), (std::vector<std::wstring>{L"A\\X.JPG", L"A\\Y.JPG", L"B\\*"}));
        TShSelectionList copy(nullptr);
        copy.Assign(&list);
        EXPECT_EQ(Entries(copy), Entries(list));
        // Destroyed with counts still queued or running.
    }
    ASSERT_TRUE(WaitForCounts());
}

TEST_F(ShellSelection, ItemListsOfFoldersAndSpecialFolders)
{
    TShSelectionList list(nullptr);
    TPidl folderA = PathToPidl(nullptr, A);
    TPidl drives = SpecialFolderPidl(SF_DRIVES);
    TPidl network = SpecialFolderPidl(SF_NETWORK);
    ASSERT_TRUE(folderA && drives);
    bool byParent = true;
    EXPECT_EQ(list.GetStateOfPidl(drives.get(), byParent), ssNone);

    list.CheckPidl(folderA.get());
    EXPECT_EQ(Entries(list), (std::vector<std::wstring>{L"A\\*"}));
    EXPECT_EQ(list.GetStateOfPidl(folderA.get(), byParent), ssChecked);
    EXPECT_FALSE(byParent);
    // My Computer is partly ticked when a drive path is; the network is not.
    EXPECT_EQ(list.GetStateOfPidl(drives.get(), byParent), ssGrayed);
    if (network) {
        EXPECT_EQ(list.GetStateOfPidl(network.get(), byParent), ssNone);
    }

    list.UncheckPidl(folderA.get());
    EXPECT_TRUE(Entries(list).empty());
    ASSERT_TRUE(WaitForCounts());
}
