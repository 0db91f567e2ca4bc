// What the folder tree refuses is told: a name edited in place that the
// shell does not take, and files dropped onto a node that do not arrive.
#include "controls/shell/ShellControls.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "tests/controls/shell/ShellHost.h"
#include "tests/controls/shell/ShellPump.h"
#include "tests/controls/shell/ShellTestFiles.h"

namespace {

using shelltest::HostForm;
using shelltest::Placed;
using shelltest::TreeChildren;
using shelltest::TreeRoot;
using Names = std::vector<std::wstring>;

struct TTold {
    std::vector<std::wstring> messages;
    void Refused(classlib::TObject*, const std::wstring& Message) { messages.push_back(Message); }
};

// Ends an edit in place of Item with Text as the user would.
void EndEdit(HostForm& Form, HWND Tree, HTREEITEM Item, const std::wstring& Text)
{
    NMTVDISPINFOW info{};
    info.hdr.hwndFrom = Tree;
    info.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(Tree));
    info.hdr.code = TVN_ENDLABELEDITW;
    info.item.mask = TVIF_TEXT | TVIF_HANDLE;
    info.item.hItem = Item;
    std::wstring text = Text;
    info.item.pszText = text.data();
    ::SendMessageW(Form.GetHandle(), WM_NOTIFY, info.hdr.idFrom, reinterpret_cast<LPARAM>(&info));
}

TEST(ShellRefusals, TreeTellsARefusedRename)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (const wchar_t* name : {L"a", L"b"}) ASSERT_TRUE(::CreateDirectoryW(dir.File(name).c_str(), nullptr));

    HostForm form;
    auto* tree = Placed<shell::TShellTree>(form);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    HWND wnd = tree->GetHandle();
    TTold told;
    tree->OnRenameRefused = shell::TRefusalEvent(&told, &TTold::Refused);
    const HTREEITEM a = shelltest::TreeNode(wnd, TreeRoot(wnd), L"a");
    ASSERT_NE(a, nullptr);

    struct Case {
        const wchar_t* typed;
        const wchar_t* reason;  // part of the message; null: no message
    };
    const Case cases[] = {
        {L"b", L"\"a\" cannot be renamed to \"b\""},  // taken
        {L"x:y", L"cannot contain any of the characters"},
        {L"a", nullptr},  // unchanged: nothing to tell
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.typed, c.typed + std::wcslen(c.typed)));
        told.messages.clear();
        EndEdit(form, wnd, a, c.typed);
        if (!c.reason) {
            EXPECT_TRUE(told.messages.empty());
            continue;
        }
        ASSERT_EQ(told.messages.size(), 1u);
        EXPECT_NE(told.messages[0].find(c.reason), std::wstring::npos) << std::string(told.messages[0].begin(), told.messages[0].end());
        EXPECT_TRUE(::GetFileAttributesW(dir.File(L"a").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    }
    // A name the shell takes is not a refusal.
    told.messages.clear();
    EndEdit(form, wnd, a, L"c");
    EXPECT_TRUE(told.messages.empty());
    EXPECT_EQ(TreeChildren(wnd, TreeRoot(wnd)), (Names{L"b", L"c"}));
}

// A file that is gone by the time it is dropped cannot be copied: the drop
// onto a node answers no effect and the tree tells why.
TEST(ShellRefusals, TreeTellsADropThatDidNotArrive)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"dst").c_str(), nullptr));
    testsupport::Touch(dir.File(L"held.jpg"));

    HostForm form;
    auto* tree = shelltest::ShownTree(form, dir.Path());
    HWND wnd = tree->GetHandle();
    TTold told;
    tree->OnDropRefused = shell::TRefusalEvent(&told, &TTold::Refused);
    HTREEITEM dst = shelltest::TreeNode(wnd, TreeRoot(wnd), L"dst");
    ASSERT_NE(dst, nullptr);
    const POINTL at = shelltest::NodeScreenCentre(wnd, dst);
    ASSERT_GE(at.x, 0);
    IDropTarget* target = tree->GetDropTarget();

    shelltest::TFilesObject data(true, {dir.File(L"held.jpg")});
    DWORD effect = DROPEFFECT_COPY;
    ASSERT_EQ(target->DragEnter(&data, MK_CONTROL, at, &effect), S_OK);
    effect = DROPEFFECT_COPY;
    ASSERT_EQ(target->DragOver(MK_CONTROL, at, &effect), S_OK);
    ASSERT_EQ(effect, DWORD(DROPEFFECT_COPY));
    effect = DROPEFFECT_COPY;
    ASSERT_TRUE(::DeleteFileW(dir.File(L"held.jpg").c_str()));
    target->Drop(&data, MK_CONTROL, at, &effect);
    EXPECT_EQ(effect, DWORD(DROPEFFECT_NONE));
    EXPECT_FALSE(shell::FileExistsLong(dir.File(L"dst\\held.jpg")));
    ASSERT_EQ(told.messages.size(), 1u);
    EXPECT_EQ(told.messages[0].rfind(L"The dropped object could not be copied into \"" + dir.File(L"dst") + L"\": ", 0),
              0u)
        << std::string(told.messages[0].begin(), told.messages[0].end());
}

// OnChanging may keep the selection where it is; OnExpanded hears of each
// node opened.
TEST(ShellRefusals, TreeChangingVetoAndExpanded)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (const wchar_t* name : {L"a", L"a\\x", L"b"}) ASSERT_TRUE(::CreateDirectoryW(dir.File(name).c_str(), nullptr));
    HostForm form;
    auto* tree = Placed<shell::TShellTree>(form);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    HWND wnd = tree->GetHandle();
    const HTREEITEM a = shelltest::TreeNode(wnd, TreeRoot(wnd), L"a");
    const HTREEITEM b = shelltest::TreeNode(wnd, TreeRoot(wnd), L"b");
    ASSERT_TRUE(a && b);
    struct TSeen {
        HTREEITEM refused = nullptr;
        std::vector<HTREEITEM> asked, opened;
        void Changing(classlib::TObject*, HTREEITEM Node, bool& Allow)
        {
            asked.push_back(Node);
            Allow = Node != refused;
        }
        void Expanded(classlib::TObject*, HTREEITEM Node) { opened.push_back(Node); }
    } seen{b, {}, {}};
    tree->OnChanging = decltype(tree->OnChanging)(&seen, &TSeen::Changing);
    tree->OnExpanded = decltype(tree->OnExpanded)(&seen, &TSeen::Expanded);
    auto selected = [&] { return reinterpret_cast<HTREEITEM>(::SendMessageW(wnd, TVM_GETNEXTITEM, TVGN_CARET, 0)); };

    ::SendMessageW(wnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(b));
    EXPECT_NE(selected(), b);
    ::SendMessageW(wnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(a));
    EXPECT_EQ(selected(), a);
    EXPECT_EQ(seen.asked, (std::vector<HTREEITEM>{b, a}));

    tree->ExpandNode(a, false);
    EXPECT_EQ(seen.opened, std::vector<HTREEITEM>{a});
    EXPECT_EQ(TreeChildren(wnd, a), Names{L"x"});
}

}  // namespace

// Verbs on a node pass the browser's handlers: one OnBeforeShellCommand
// refuses does not run (the folder stays, nothing is reported), one it
// lets through runs and is followed ("cut" dims the node).
TEST(ShellRefusals, TreeVerbsCanBeVetoed)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    ASSERT_TRUE(::CreateDirectoryW(dir.File(L"sub").c_str(), nullptr));
    HostForm form;
    auto* tree = shelltest::ShownTree(form, dir.Path());
    HWND wnd = tree->GetHandle();
    HTREEITEM sub = shelltest::TreeNode(wnd, shelltest::TreeRoot(wnd), L"sub");
    ASSERT_NE(sub, nullptr);
    ::SendMessageW(wnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(sub));
    struct Seen {
        std::vector<std::wstring> commands, paths;
        bool allow = false;
        int operations = 0;
    } seen;
    tree->GetBrowser()->OnContextMenuSelect = shell::TOnContextMenuSelectEvent::FromFunction(
        [](void* c, const std::wstring& command, bool& execute) {
            static_cast<Seen*>(c)->commands.push_back(command);
            execute = true;
        },
        &seen);
    tree->GetBrowser()->OnBeforeShellCommand = shell::TOnBeforeShellCommand::FromFunction(
        [](void* c, shell::TShFolderObject*, const std::wstring&, shell::TShPathList* paths, bool& allow) {
            auto* s = static_cast<Seen*>(c);
            for (int i = 0; i < paths->GetCount(); ++i) s->paths.push_back(paths->GetStrings(i));
            allow = s->allow;
        },
        &seen);
    tree->OnOperation = shell::TOnOperation::FromFunction(
        [](void* c, classlib::TObject*, shell::TShellOperations, classlib::TStringList*, const std::wstring&) {
            ++static_cast<Seen*>(c)->operations;
        },
        &seen);

    EXPECT_FALSE(tree->ExecuteVerb(L"delete"));
    EXPECT_EQ(seen.commands, std::vector<std::wstring>{L"delete"});
    ASSERT_EQ(seen.paths.size(), 1u);
    EXPECT_TRUE(shell::SamePath(seen.paths[0], dir.File(L"sub")));
    EXPECT_NE(::GetFileAttributesW(dir.File(L"sub").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(seen.operations, 0);

    seen.allow = true;
    EXPECT_TRUE(tree->ExecuteVerb(L"cut"));
    EXPECT_EQ(seen.commands.back(), L"cut");
    const UINT state = UINT(::SendMessageW(wnd, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(sub), TVIS_CUT));
    EXPECT_TRUE(state & TVIS_CUT);
}
