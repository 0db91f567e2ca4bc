#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "controls/shell/ShDialogs.h"
#include "controls/shell/ShNamespace.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace shell;

TEST(ShellBrowseOptions, EditBoxNeedsAndComputerDropsTheNewStyle)
{
    struct Case {
        TShBrowseFlags set;
        TShBrowseFlags expected;
    };
    const Case cases[] = {
        {BrowseFlag(bfEditBox), TShBrowseFlags(BrowseFlag(bfNewDialogStyle) | BrowseFlag(bfEditBox))},
        {TShBrowseFlags(BrowseFlag(bfBrowseForComputer) | BrowseFlag(bfEditBox)), BrowseFlag(bfBrowseForComputer)},
        {TShBrowseFlags(BrowseFlag(bfFileSystemOnly)), BrowseFlag(bfFileSystemOnly)},
        {TShBrowseFlags(BrowseFlag(bfNewDialogStyle) | BrowseFlag(bfReturnInvalidPath)),
         TShBrowseFlags(BrowseFlag(bfNewDialogStyle) | BrowseFlag(bfReturnInvalidPath))},
    };
    for (const Case& c : cases) {
        TShBrowseForFolder d(nullptr);
        d.SetOptions(c.set);
        EXPECT_EQ(d.GetOptions(), c.expected) << int(c.set);
    }
    TShBrowseForFolder d(nullptr);
    EXPECT_EQ(d.GetOptions(), BrowseFlag(bfNewDialogStyle));
    d.SetRootedAtFileSystemFolder(L"C:\\");
    EXPECT_EQ(d.GetRootedAt(), SF_FILESYSTEMFOLDER);
}

// Answers the picker from its selection-change messages: selects each list
// of Steps in turn (posted, as a user's click would arrive), then presses
// Answer. A timer cancels a picker that never reports a selection.
class Answerer {
public:
    Answerer(TShBrowseForFolder& dialog, std::vector<TPidl> steps, int answer)
        : dialog_(dialog), steps_(std::move(steps)), answer_(answer)
    {
        dialog.OnChange = classlib::TNotifyEvent(this, &Answerer::Changed);
        current_ = this;
        timer_ = ::SetTimer(nullptr, 0, 20000, &Answerer::Expired);
    }
    ~Answerer()
    {
        ::KillTimer(nullptr, timer_);
        current_ = nullptr;
    }

    std::vector<std::wstring> seen;  // Path at each selection change
    bool timedOut = false;

private:
    void Changed(classlib::TObject*)
    {
        seen.push_back(dialog_.GetPath());
        HWND w = dialog_.GetDialogWindow();
        if (next_ < steps_.size())
            ::PostMessageW(w, BFFM_SETSELECTIONW, FALSE, reinterpret_cast<LPARAM>(steps_[next_++].get()));
        else if (!answered_) {
            answered_ = true;
            ::PostMessageW(w, WM_COMMAND, MAKEWPARAM(answer_, BN_CLICKED), 0);
        }
    }
    static void CALLBACK Expired(HWND, UINT, UINT_PTR, DWORD)
    {
        if (!current_ || !current_->dialog_.GetDialogWindow()) return;
        current_->timedOut = true;
        ::PostMessageW(current_->dialog_.GetDialogWindow(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }

    static inline Answerer* current_ = nullptr;
    TShBrowseForFolder& dialog_;
    std::vector<TPidl> steps_;
    int answer_;
    std::size_t next_ = 0;
    bool answered_ = false;
    UINT_PTR timer_ = 0;
};

class ShellBrowseDialog : public testing::Test {
protected:
    void SetUp() override
    {
        first_ = dir_.File(L"First");
        second_ = dir_.File(L"First\\Second");
        ASSERT_TRUE(::CreateDirectoryW(first_.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(second_.c_str(), nullptr));
    }
    std::vector<TPidl> Steps(TPidl p)
    {
        std::vector<TPidl> v;
        v.push_back(std::move(p));
        return v;
    }

    TShellScope scope_;
    testsupport::TempDir dir_;
    std::wstring first_, second_;
};

TEST_F(ShellBrowseDialog, OpensOnPathAndReturnsTheChosenFolder)
{
    TShBrowseForFolder d(nullptr);
    d.SetTitle(L"Pick");
    d.SetPath(first_);
    int shown = 0, closed = 0;
    struct Counter {
        int* n;
        void Fire(classlib::TObject*) { ++*n; }
    } onShow{&shown}, onClose{&closed};
    d.OnShow = classlib::TNotifyEvent(&onShow, &Counter::Fire);
    d.OnClose = classlib::TNotifyEvent(&onClose, &Counter::Fire);
    Answerer a(d, Steps(PathToPidl(nullptr, second_)), IDOK);
    ASSERT_TRUE(d.Execute(nullptr));
    EXPECT_FALSE(a.timedOut);
    ASSERT_GE(a.seen.size(), 2u);
    EXPECT_EQ(a.seen.front(), first_);
    EXPECT_EQ(d.GetPath(), second_);
    EXPECT_EQ(d.GetSelectedSpecialFolder(), SF_FILESYSTEMFOLDER);
    EXPECT_EQ(d.GetDialogWindow(), nullptr);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(closed, 1);

    // A later dialog starts at the last chosen path.
    TShBrowseForFolder later(nullptr);
    EXPECT_EQ(later.GetPath(), second_);
}

TEST_F(ShellBrowseDialog, CancelLeavesPathAsItWas)
{
    TShBrowseForFolder d(nullptr);
    d.SetPath(first_);
    Answerer a(d, Steps(PathToPidl(nullptr, second_)), IDCANCEL);
    EXPECT_FALSE(d.Execute(nullptr));
    EXPECT_FALSE(a.timedOut);
    ASSERT_GE(a.seen.size(), 2u);
    EXPECT_EQ(a.seen.back(), second_);  // seen while open
    EXPECT_EQ(d.GetPath(), first_);
}

TEST_F(ShellBrowseDialog, VirtualFolderGivesNoPathButItsSpecialFolderAndName)
{
    const std::wstring last = TShBrowseForFolder(nullptr).GetPath();
    TShBrowseForFolder d(nullptr);
    d.SetPath(first_);
    Answerer a(d, Steps(SpecialFolderPidl(SF_DRIVES)), IDOK);
    ASSERT_TRUE(d.Execute(nullptr));
    EXPECT_FALSE(a.timedOut);
    EXPECT_EQ(d.GetPath(), L"");
    EXPECT_EQ(d.GetSelectedSpecialFolder(), SF_DRIVES);
    EXPECT_NE(d.GetDisplayName(), L"");
    // The last browsed path is not replaced by a name.
    EXPECT_EQ(TShBrowseForFolder(nullptr).GetPath(), last);
}

}  // namespace
