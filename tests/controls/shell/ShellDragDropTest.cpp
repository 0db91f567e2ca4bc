// OLE drag and drop of the file list and the folder tree: drops onto items,
// nodes and the list's background, the copy mode, the refusal hook, the
// reports, and drags out of the controls driven by real mouse input.
#include "controls/shell/ShellControls.h"

#include <windows.h>
#include <shlobj.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "classlib/Forms.h"
#include "controls/shell/ShNamespace.h"
#include "support/TestSupport.h"
#include "tests/controls/shell/ShellHost.h"
#include "tests/controls/shell/ShellPump.h"
#include "tests/controls/shell/ShellTestFiles.h"

namespace {

using shell::OperationBit;

using testsupport::Touch;

bool Exists(const std::wstring& Path) { return ::GetFileAttributesW(Path.c_str()) != INVALID_FILE_ATTRIBUTES; }

using shelltest::HostForm;
using shelltest::Placed;

// Every OnOperation call of a control.
struct Report {
    shell::TShellOperations Operation;
    std::vector<std::wstring> Files;
    std::wstring Destination;
};
struct Reports {
    std::vector<Report> Calls;
    shell::TOnOperation Handler()
    {
        return shell::TOnOperation::FromFunction(
            [](void* self, classlib::TObject*, shell::TShellOperations op, classlib::TStringList* files,
               const std::wstring& to) {
                Report r{op, {}, to};
                for (int i = 0; i < files->GetCount(); ++i) r.Files.push_back(files->GetStrings(i));
                static_cast<Reports*>(self)->Calls.push_back(std::move(r));
            },
            this);
    }
};

// The refusal hook: what it was asked about, and its answer.
struct BeforeDrop {
    bool Execute = true;
    int Calls = 0;
    classlib::TObject* Target = nullptr;
    std::vector<std::wstring> Files;
    shell::TOnBeforeShellDropEvent Handler()
    {
        return shell::TOnBeforeShellDropEvent::FromFunction(
            [](void* self, classlib::TObject*, classlib::TObject* target, classlib::TStringList* files, bool& execute,
               int) {
                auto* me = static_cast<BeforeDrop*>(self);
                ++me->Calls;
                me->Target = target;
                me->Files.clear();
                for (int i = 0; i < files->GetCount(); ++i) me->Files.push_back(files->GetStrings(i));
                execute = me->Execute;
            },
            this);
    }
};

POINTL ScreenCentre(HWND Wnd, RECT R)
{
    POINT p{(R.left + R.right) / 2, (R.top + R.bottom) / 2};
    ::ClientToScreen(Wnd, &p);
    return POINTL{p.x, p.y};
}

int ListIndex(shell::TShellList* List, const std::wstring& Caption)
{
    for (int i = 0; i < List->GetItems()->GetCount(); ++i)
        if (List->GetItems()->GetItem(i)->GetCaption() == Caption) return i;
    return -1;
}

POINTL ListItemPoint(shell::TShellList* List, int Index)
{
    RECT r{};
    r.left = LVIR_LABEL;
    ::SendMessageW(List->GetHandle(), LVM_GETITEMRECT, static_cast<WPARAM>(Index), reinterpret_cast<LPARAM>(&r));
    return ScreenCentre(List->GetHandle(), r);
}

using shelltest::TreeNode;

POINTL TreeNodePoint(HWND Wnd, HTREEITEM Node)
{
    RECT r{};
    std::memcpy(&r, &Node, sizeof(Node));
    ::SendMessageW(Wnd, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r));
    return ScreenCentre(Wnd, r);
}

UINT NodeState(HWND Wnd, HTREEITEM Node, UINT Mask)
{
    return static_cast<UINT>(::SendMessageW(Wnd, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(Node), Mask));
}

// One drag over a drop target: enter, move with the keys, drop at Point.
struct Dragged {
    HRESULT Over, Dropped;
    DWORD OverEffect, Effect;
};
Dragged DragOnto(IDropTarget* Target, const std::vector<std::wstring>& Files, POINTL Point, DWORD Keys, DWORD Allowed,
                 const std::function<void()>& WhileOver = {})
{
    shelltest::TFilesObject data(true, Files);
    Dragged d{};
    DWORD effect = Allowed;
    Target->DragEnter(&data, Keys | MK_LBUTTON, Point, &effect);
    effect = Allowed;
    d.Over = Target->DragOver(Keys | MK_LBUTTON, Point, &effect);
    d.OverEffect = effect;
    if (WhileOver) WhileOver();
    effect = Allowed;
    d.Dropped = Target->Drop(&data, Keys, Point, &effect);
    d.Effect = effect;
    return d;
}

// The drop source's answers, the copy-mode table and the reports of a
// finished drag or drop.
TEST(ShellDragDrop, SourceAnswersCopyModesAndReports)
{
    struct ContinueCase {
        BOOL esc;
        DWORD keys;
        int button;
        HRESULT expected;
    };
    const ContinueCase continues[] = {
        {FALSE, MK_LBUTTON, 1, S_OK},
        {FALSE, 0, 1, DRAGDROP_S_DROP},
        {TRUE, MK_LBUTTON, 1, DRAGDROP_S_CANCEL},
        {FALSE, MK_LBUTTON | MK_RBUTTON, 1, DRAGDROP_S_CANCEL},
        {FALSE, MK_LBUTTON | MK_MBUTTON, 1, DRAGDROP_S_CANCEL},
        {FALSE, MK_RBUTTON | MK_SHIFT | MK_CONTROL, 2, S_OK},
        {FALSE, MK_LBUTTON, 2, DRAGDROP_S_CANCEL},
        {FALSE, MK_SHIFT, 2, DRAGDROP_S_DROP},
    };
    for (const ContinueCase& c : continues)
        EXPECT_EQ(shell::ContinueDragAnswer(c.esc, c.keys, c.button), c.expected) << c.keys << " " << c.button;

    EXPECT_EQ(shell::CopyModeEffect(shell::cmDefault), DWORD(DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK));
    EXPECT_EQ(shell::CopyModeEffect(shell::cmCopy), DWORD(DROPEFFECT_COPY));
    EXPECT_EQ(shell::CopyModeEffect(shell::cmMove), DWORD(DROPEFFECT_MOVE));
    EXPECT_EQ(shell::CopyModeEffect(shell::cmLink), DWORD(DROPEFFECT_LINK));

    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    Touch(dir.File(L"here.jpg"));
    classlib::TStringList present, gone;
    present.Add(dir.File(L"here.jpg"));
    gone.Add(dir.File(L"gone.jpg"));
    const auto copy = OperationBit(shell::sopCopy), move = OperationBit(shell::sopMove),
               drop = OperationBit(shell::sopDrop), drag = OperationBit(shell::sopDrag),
               remove = OperationBit(shell::sopRemove);
    EXPECT_EQ(shell::DropOperations(DROPEFFECT_COPY, &present), copy | drop);
    EXPECT_EQ(shell::DropOperations(DROPEFFECT_MOVE, &present), move | drop);
    EXPECT_EQ(shell::DropOperations(DROPEFFECT_LINK, &present), drop);
    // No effect: a move only when the files left (a refused or cancelled
    // drop leaves them where they were).
    EXPECT_EQ(shell::DropOperations(DROPEFFECT_NONE, &present), 0);
    EXPECT_EQ(shell::DropOperations(DROPEFFECT_NONE, &gone), move | drop);
    EXPECT_EQ(shell::DropOperations(DROPEFFECT_COPY | DROPEFFECT_MOVE, &present), 0);
    EXPECT_EQ(shell::DragOperations(DROPEFFECT_COPY), copy | drag);
    EXPECT_EQ(shell::DragOperations(DROPEFFECT_MOVE), move | remove | drag);
    EXPECT_EQ(shell::DragOperations(DROPEFFECT_LINK), drag);
    EXPECT_EQ(shell::DragOperations(DROPEFFECT_NONE), 0);
}

// Drops onto the list: a folder item takes the files into its folder and
// shows highlighted while the cursor is on it; a file item is no target,
// so the list's folder takes them; the copy mode narrows the effect; the
// hook may refuse (nothing moves, nothing is reported); a read-only list
// takes nothing.
TEST(ShellDragDrop, ListDropsOntoItemsAndBackground)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (const wchar_t* d : {L"src", L"dst", L"dst\\sub"}) ::CreateDirectoryW(dir.File(d).c_str(), nullptr);
    for (const wchar_t* f : {L"src\\a.jpg", L"src\\b.jpg", L"src\\c.jpg", L"src\\d.jpg", L"dst\\old.gif"})
        Touch(dir.File(f));

    HostForm form;
    form.SetBounds(0, 0, 400, 300);
    auto* list = Placed<shell::TShellList>(form, 0, 400);
    form.SetVisible(true);
    list->SetPath(dir.File(L"dst"));
    ASSERT_EQ(list->GetItems()->GetCount(), 2);
    Reports reports;
    list->OnOperation = reports.Handler();
    BeforeDrop before;
    list->OnBeforeShellDrop = before.Handler();
    IDropTarget* target = list->GetDropTarget();
    const DWORD copyMove = DROPEFFECT_COPY | DROPEFFECT_MOVE;

    // Onto the folder item: moved into it, highlighted while over it.
    const int sub = ListIndex(list, L"sub");
    ASSERT_GE(sub, 0);
    UINT hilite = 0;
    Dragged d = DragOnto(target, {dir.File(L"src\\a.jpg")}, ListItemPoint(list, sub), 0, copyMove, [&] {
        hilite = static_cast<UINT>(::SendMessageW(list->GetHandle(), LVM_GETITEMSTATE, sub, LVIS_DROPHILITED));
    });
    EXPECT_EQ(hilite, UINT(LVIS_DROPHILITED));
    EXPECT_EQ(::SendMessageW(list->GetHandle(), LVM_GETITEMSTATE, sub, LVIS_DROPHILITED), 0);
    EXPECT_EQ(d.Dropped, S_OK);
    EXPECT_EQ(d.Effect, DWORD(DROPEFFECT_MOVE));
    EXPECT_TRUE(Exists(dir.File(L"dst\\sub\\a.jpg")));
    EXPECT_FALSE(Exists(dir.File(L"src\\a.jpg")));
    EXPECT_EQ(before.Target, shell::TShellList::ShellItem(list->GetItems()->GetItem(sub)));
    ASSERT_EQ(reports.Calls.size(), 1u);
    EXPECT_EQ(reports.Calls[0].Operation, OperationBit(shell::sopMove) | OperationBit(shell::sopDrop));
    EXPECT_EQ(reports.Calls[0].Files, std::vector<std::wstring>{dir.File(L"src\\a.jpg")});
    EXPECT_EQ(reports.Calls[0].Destination, dir.File(L"dst\\sub"));

    // Onto a file item: the list's own folder takes it (Ctrl copies), and
    // the new item shows selected.
    d = DragOnto(target, {dir.File(L"src\\b.jpg")}, ListItemPoint(list, ListIndex(list, L"old.gif")), MK_CONTROL,
                 copyMove);
    EXPECT_EQ(d.Dropped, S_OK);
    EXPECT_EQ(d.Effect, DWORD(DROPEFFECT_COPY));
    EXPECT_TRUE(Exists(dir.File(L"dst\\b.jpg")));
    EXPECT_TRUE(Exists(dir.File(L"src\\b.jpg")));
    EXPECT_EQ(before.Target, list);
    ASSERT_EQ(reports.Calls.size(), 2u);
    EXPECT_EQ(reports.Calls[1].Operation, OperationBit(shell::sopCopy) | OperationBit(shell::sopDrop));
    EXPECT_EQ(reports.Calls[1].Destination, list->GetPath());
    ASSERT_NE(list->GetSelected(), nullptr);
    EXPECT_EQ(list->GetSelected()->GetCaption(), L"b.jpg");

    // The copy mode: Shift asks for a move, the list offers copies only.
    list->SetCopyMode(shell::cmCopy);
    RECT client{};
    ::GetClientRect(list->GetHandle(), &client);
    client.top = client.bottom - 40;
    const POINTL empty = ScreenCentre(list->GetHandle(), client);
    d = DragOnto(target, {dir.File(L"src\\c.jpg")}, empty, MK_SHIFT, copyMove);
    EXPECT_EQ(d.Effect, DWORD(DROPEFFECT_COPY));
    EXPECT_TRUE(Exists(dir.File(L"src\\c.jpg")));
    EXPECT_TRUE(Exists(dir.File(L"dst\\c.jpg")));
    // ... and with links only, a shell link arrives.
    list->SetCopyMode(shell::cmLink);
    d = DragOnto(target, {dir.File(L"src\\c.jpg")}, empty, 0, copyMove | DROPEFFECT_LINK);
    EXPECT_EQ(d.Effect, DWORD(DROPEFFECT_LINK));
    EXPECT_EQ(shell::GetShellLinkTarget(dir.File(L"dst\\c.jpg.lnk")), dir.File(L"src\\c.jpg"));
    list->SetCopyMode(shell::cmDefault);
    ASSERT_EQ(reports.Calls.size(), 4u);
    EXPECT_EQ(reports.Calls[3].Operation, OperationBit(shell::sopDrop));

    // Refused by the hook: asked with the names, nothing happens.
    before.Execute = false;
    d = DragOnto(target, {dir.File(L"src\\d.jpg")}, empty, MK_SHIFT, copyMove);
    EXPECT_EQ(d.Dropped, E_UNEXPECTED);
    EXPECT_EQ(d.Effect, DWORD(DROPEFFECT_NONE));
    EXPECT_EQ(before.Files, std::vector<std::wstring>{dir.File(L"src\\d.jpg")});
    EXPECT_TRUE(Exists(dir.File(L"src\\d.jpg")));
    before.Execute = true;
    // A drop that does nothing (already there) is no move.
    d = DragOnto(target, {dir.File(L"dst\\old.gif")}, empty, MK_SHIFT, copyMove);
    EXPECT_EQ(d.Effect, DWORD(DROPEFFECT_NONE));
    EXPECT_EQ(reports.Calls.size(), 4u);

    // Read-only: no effect anywhere.
    list->SetReadOnly(true);
    d = DragOnto(target, {dir.File(L"src\\d.jpg")}, ListItemPoint(list, ListIndex(list, L"sub")), 0, copyMove);
    EXPECT_EQ(d.OverEffect, DWORD(DROPEFFECT_NONE));
}

// The " .. " item takes drops into the parent folder; a drag resting near
// the bottom or top edge scrolls the list a line at a time.
TEST(ShellDragDrop, ListParentItemAndScrollingNearEdges)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (const wchar_t* d : {L"src", L"up", L"up\\many"}) ::CreateDirectoryW(dir.File(d).c_str(), nullptr);
    Touch(dir.File(L"src\\a.jpg"));
    for (int i = 0; i < 60; ++i) Touch(dir.File(L"up\\many\\f" + std::to_wstring(100 + i) + L".jpg"));

    HostForm form;
    form.SetBounds(0, 0, 300, 300);
    auto* list = Placed<shell::TShellList>(form, 0, 300);
    form.SetVisible(true);
    list->SetShowParentFolder(true);
    list->SetPath(dir.File(L"up\\many"));
    ASSERT_TRUE(shelltest::PumpUntil([&] { return list->GetItems()->GetCount() == 61; }));
    IDropTarget* target = list->GetDropTarget();
    const int parent = ListIndex(list, L" .. ");
    ASSERT_EQ(parent, 0);
    Dragged d = DragOnto(target, {dir.File(L"src\\a.jpg")}, ListItemPoint(list, parent), MK_CONTROL,
                         DROPEFFECT_COPY | DROPEFFECT_MOVE);
    EXPECT_EQ(d.Effect, DWORD(DROPEFFECT_COPY));
    EXPECT_TRUE(Exists(dir.File(L"up\\a.jpg")));

    RECT client{};
    ::GetClientRect(list->GetHandle(), &client);
    auto topIndex = [&] { return ::SendMessageW(list->GetHandle(), LVM_GETTOPINDEX, 0, 0); };
    auto restNear = [&](LONG ClientY, const std::function<bool()>& Until) {
        POINT p{client.right / 2, ClientY};
        ::ClientToScreen(list->GetHandle(), &p);
        shelltest::TFilesObject data(true, {dir.File(L"src\\a.jpg")});
        DWORD effect = DROPEFFECT_COPY;
        target->DragEnter(&data, MK_LBUTTON, POINTL{p.x, p.y}, &effect);
        const bool reached = shelltest::PumpUntil([&] {
            DWORD e = DROPEFFECT_COPY;
            target->DragOver(MK_LBUTTON, POINTL{p.x, p.y}, &e);
            return Until();
        });
        target->DragLeave();
        return reached;
    };
    ASSERT_EQ(topIndex(), 0);
    EXPECT_TRUE(restNear(client.bottom - 5, [&] { return topIndex() >= 3; }));
    EXPECT_TRUE(restNear(client.top + 5, [&] { return topIndex() == 0; }));
}

// Drops onto the tree: a node takes the files into its folder; beside the
// nodes nothing is a target; the hook may refuse; CreateLinkOnDrop makes
// links whatever the copy mode; a collapsed node the cursor rests on opens.
TEST(ShellDragDrop, TreeDropsOntoNodes)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (const wchar_t* d : {L"dst", L"dst\\deep", L"src"}) ::CreateDirectoryW(dir.File(d).c_str(), nullptr);
    for (const wchar_t* f : {L"src\\a.jpg", L"src\\b.jpg"}) Touch(dir.File(f));

    HostForm form;
    form.SetBounds(0, 0, 300, 300);
    auto* tree = Placed<shell::TShellTree>(form, 0, 300);
    form.SetVisible(true);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    HWND wnd = tree->GetHandle();
    HTREEITEM dst = TreeNode(wnd, TreeNode(wnd, nullptr, classlib::ExtractFileName(dir.Path())), L"dst");
    ASSERT_NE(dst, nullptr);
    ASSERT_EQ(NodeState(wnd, dst, TVIS_EXPANDED), 0u);
    const POINTL at = TreeNodePoint(wnd, dst);
    Reports reports;
    tree->OnOperation = reports.Handler();
    BeforeDrop before;
    tree->OnBeforeShellDrop = before.Handler();
    IDropTarget* target = tree->GetDropTarget();
    const DWORD copyMove = DROPEFFECT_COPY | DROPEFFECT_MOVE;

    // Beside the nodes: no target, the drop is unexpected.
    RECT client{};
    ::GetClientRect(wnd, &client);
    client.top = client.bottom - 20;
    Dragged d = DragOnto(target, {dir.File(L"src\\a.jpg")}, ScreenCentre(wnd, client), 0, copyMove);
    EXPECT_EQ(d.OverEffect, DWORD(DROPEFFECT_NONE));
    EXPECT_EQ(d.Dropped, E_UNEXPECTED);
    EXPECT_EQ(before.Calls, 0);

    // Refused by the hook.
    before.Execute = false;
    d = DragOnto(target, {dir.File(L"src\\a.jpg")}, at, 0, copyMove);
    EXPECT_EQ(d.Dropped, E_UNEXPECTED);
    EXPECT_EQ(before.Calls, 1);
    EXPECT_TRUE(Exists(dir.File(L"src\\a.jpg")));
    EXPECT_TRUE(reports.Calls.empty());
    before.Execute = true;

    // Links on drop, whatever the copy mode asks.
    tree->SetCreateLinkOnDrop(true);
    tree->SetCopyMode(shell::cmMove);
    EXPECT_EQ(tree->GetCopyMode(), shell::cmLink);
    d = DragOnto(target, {dir.File(L"src\\a.jpg")}, at, 0, copyMove | DROPEFFECT_LINK);
    EXPECT_EQ(d.Dropped, S_OK);
    EXPECT_EQ(d.Effect, DWORD(DROPEFFECT_LINK));
    EXPECT_EQ(shell::GetShellLinkTarget(dir.File(L"dst\\a.jpg.lnk")), dir.File(L"src\\a.jpg"));
    EXPECT_TRUE(Exists(dir.File(L"src\\a.jpg")));
    ASSERT_EQ(reports.Calls.size(), 1u);
    EXPECT_EQ(reports.Calls[0].Operation, OperationBit(shell::sopDrop));
    EXPECT_EQ(reports.Calls[0].Destination, dir.File(L"dst"));
    tree->SetCreateLinkOnDrop(false);
    EXPECT_EQ(tree->GetCopyMode(), shell::cmDefault);

    // Turned off, the window takes no drops (another target may register);
    // turned on again, the tree's target is back.
    tree->SetOleDragDrop(false);
    EXPECT_EQ(::RegisterDragDrop(wnd, target), S_OK);
    EXPECT_EQ(::RevokeDragDrop(wnd), S_OK);
    tree->SetOleDragDrop(true);
    EXPECT_TRUE(tree->GetOleDragDrop());
    EXPECT_EQ(::RegisterDragDrop(wnd, target), DRAGDROP_E_ALREADYREGISTERED);

    // Resting on the collapsed node opens it.
    shelltest::TFilesObject data(true, {dir.File(L"src\\b.jpg")});
    DWORD effect = copyMove;
    ASSERT_EQ(target->DragEnter(&data, MK_LBUTTON, at, &effect), S_OK);
    EXPECT_EQ(effect, DWORD(DROPEFFECT_NONE));
    EXPECT_TRUE(shelltest::PumpUntil([&] {
        DWORD e = copyMove;
        target->DragOver(MK_LBUTTON, at, &e);
        return NodeState(wnd, dst, TVIS_EXPANDED) != 0;
    }));
    EXPECT_NE(TreeNode(wnd, dst, L"deep"), nullptr);
    EXPECT_EQ(target->DragLeave(), S_OK);
    EXPECT_EQ(NodeState(wnd, dst, TVIS_DROPHILITED), 0u);
}

// Real mouse input, sent from a second thread while this one serves the
// window messages (the drag loop runs on it).
void SendMouse(DWORD Flags, POINTL At)
{
    INPUT in{};
    in.type = INPUT_MOUSE;
    const int w = ::GetSystemMetrics(SM_CXSCREEN), h = ::GetSystemMetrics(SM_CYSCREEN);
    in.mi.dx = static_cast<LONG>((At.x * 65535 + w / 2) / (w - 1));
    in.mi.dy = static_cast<LONG>((At.y * 65535 + h / 2) / (h - 1));
    in.mi.dwFlags = Flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &in, sizeof(in));
}

void SendKey(WORD Key, bool Up)
{
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = Key;
    in.ki.dwFlags = Up ? KEYEVENTF_KEYUP : 0;
    ::SendInput(1, &in, sizeof(in));
}

// Presses the left (or right) button at From, moves in steps to To and
// lets go; Keys (MK_CONTROL, MK_SHIFT) are held from before the press to
// after the release. A held key repeats, as a real one does: the display
// server's own key state is taken over whenever the pointer enters a
// window, which would otherwise let go of the keys.
void MouseDrag(POINTL From, POINTL To, std::atomic<bool>& Done, bool Right, DWORD Keys)
{
    auto hold = [Keys] {
        if (Keys & MK_CONTROL) SendKey(VK_CONTROL, false);
        if (Keys & MK_SHIFT) SendKey(VK_SHIFT, false);
    };
    SendMouse(0, From);
    ::Sleep(50);
    hold();
    SendMouse(Right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN, From);
    for (int step = 1; step <= 20; ++step) {
        ::Sleep(30);
        hold();
        SendMouse(0, POINTL{From.x + (To.x - From.x) * step / 20, From.y + (To.y - From.y) * step / 20});
    }
    ::Sleep(100);
    hold();
    SendMouse(0, To);
    ::Sleep(100);
    SendMouse(Right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP, To);
    if (Keys & MK_SHIFT) SendKey(VK_SHIFT, true);
    if (Keys & MK_CONTROL) SendKey(VK_CONTROL, true);
    Done = true;
}

// A file dragged out of the list with the mouse and let go over a tree
// node moves into the node's folder; the list reports the drag, the tree
// the drop. A folder node dragged onto the list moves into the list's
// folder; the root node cannot be dragged.
TEST(ShellDragDrop, DragsOutOfListAndTreeWithTheMouse)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (const wchar_t* d : {L"src", L"dst", L"dst\\inner", L"list"}) ::CreateDirectoryW(dir.File(d).c_str(), nullptr);
    for (const wchar_t* f : {L"src\\a.jpg", L"src\\b.jpg"}) Touch(dir.File(f));

    HostForm form;
    form.SetBounds(0, 0, 600, 300);
    auto* list = Placed<shell::TShellList>(form, 0, 300);
    auto* tree = Placed<shell::TShellTree>(form, 300, 300);
    form.SetVisible(true);
    list->SetPath(dir.File(L"src"));
    tree->SetRootedAtFileSystemFolder(dir.Path());
    HWND wnd = tree->GetHandle();
    HTREEITEM root = TreeNode(wnd, nullptr, classlib::ExtractFileName(dir.Path()));
    HTREEITEM dst = TreeNode(wnd, root, L"dst");
    ASSERT_NE(dst, nullptr);
    Reports listReports, treeReports;
    list->OnOperation = listReports.Handler();
    tree->OnOperation = treeReports.Handler();
    shelltest::PumpFor(200);

    const int a = ListIndex(list, L"a.jpg");
    ASSERT_GE(a, 0);
    list->GetItems()->GetItem(a)->SetSelected(true);
    std::atomic<bool> done{false};
    std::thread mouse(MouseDrag, ListItemPoint(list, a), TreeNodePoint(wnd, dst), std::ref(done), false, 0);
    const bool arrived = shelltest::PumpUntil([&] { return done && Exists(dir.File(L"dst\\a.jpg")); }, 10000);
    mouse.join();
    shelltest::PumpFor(100);
    ASSERT_TRUE(arrived);
    EXPECT_FALSE(Exists(dir.File(L"src\\a.jpg")));
    ASSERT_EQ(listReports.Calls.size(), 1u);
    EXPECT_EQ(listReports.Calls[0].Operation,
              OperationBit(shell::sopMove) | OperationBit(shell::sopRemove) | OperationBit(shell::sopDrag));
    EXPECT_EQ(listReports.Calls[0].Files, std::vector<std::wstring>{dir.File(L"src\\a.jpg")});
    EXPECT_EQ(listReports.Calls[0].Destination, L"");
    ASSERT_EQ(treeReports.Calls.size(), 1u);
    EXPECT_EQ(treeReports.Calls[0].Operation, OperationBit(shell::sopMove) | OperationBit(shell::sopDrop));
    EXPECT_EQ(treeReports.Calls[0].Destination, dir.File(L"dst"));

    // The tree's node "dst" dragged onto the list (showing "list").
    ASSERT_TRUE(shelltest::PumpUntil([&] { return ListIndex(list, L"a.jpg") < 0; }));
    list->SetPath(dir.File(L"list"));
    listReports.Calls.clear();
    treeReports.Calls.clear();
    RECT client{};
    ::GetClientRect(list->GetHandle(), &client);
    client.top = client.bottom - 60;
    done = false;
    std::thread mouse2(MouseDrag, TreeNodePoint(wnd, dst), ScreenCentre(list->GetHandle(), client), std::ref(done), false, 0);
    const bool moved = shelltest::PumpUntil([&] { return done && Exists(dir.File(L"list\\dst\\a.jpg")); }, 10000);
    mouse2.join();
    shelltest::PumpFor(100);
    ASSERT_TRUE(moved);
    EXPECT_FALSE(Exists(dir.File(L"dst")));
    EXPECT_EQ(TreeNode(wnd, root, L"dst"), nullptr);
    ASSERT_EQ(treeReports.Calls.size(), 1u);
    EXPECT_EQ(treeReports.Calls[0].Operation,
              OperationBit(shell::sopMove) | OperationBit(shell::sopRemove) | OperationBit(shell::sopDrag));
    ASSERT_EQ(listReports.Calls.size(), 1u);
    EXPECT_EQ(listReports.Calls[0].Operation, OperationBit(shell::sopMove) | OperationBit(shell::sopDrop));

    // The root stays: a drag of it starts nothing.
    treeReports.Calls.clear();
    done = false;
    std::thread mouse3(MouseDrag, TreeNodePoint(wnd, root), ScreenCentre(list->GetHandle(), client), std::ref(done), false, 0);
    shelltest::PumpUntil([&] { return done.load(); }, 10000);
    mouse3.join();
    shelltest::PumpFor(200);
    EXPECT_TRUE(Exists(dir.Path()));
    EXPECT_TRUE(treeReports.Calls.empty());
}

// Answers the next drop menu shown on this thread with keys, as a user
// would: its entries are read once it shows, then the arrow key steps down
// until Choice is highlighted and Enter takes it (Escape when Choice is
// empty).
struct DropMenuAnswer {
    struct Entry {
        std::wstring Text;  // empty for the separator
        bool Enabled;
    };
    static inline std::wstring choice;
    static inline std::vector<Entry> entries;
    static inline std::wstring defaultText;
    static inline RECT shownAt;
    static inline int target;
    static inline int steps;
    static inline std::atomic<bool> answered;

    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD)
    {
        HWND window = ::FindWindowW(L"#32768", nullptr);
        if (answered || !window || !::IsWindowVisible(window)) return;
        auto menu = reinterpret_cast<HMENU>(::SendMessageW(window, 0x01E1 /* MN_GETHMENU */, 0, 0));
        if (!menu) return;
        if (entries.empty()) {
            ::GetWindowRect(window, &shownAt);
            for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
                wchar_t text[256] = {};
                ::GetMenuStringW(menu, UINT(i), text, 256, MF_BYPOSITION);
                const UINT state = ::GetMenuState(menu, UINT(i), MF_BYPOSITION);
                entries.push_back({text, !(state & (MF_SEPARATOR | MF_DISABLED | MF_GRAYED))});
                if (!choice.empty() && choice == text) target = i;
            }
            const UINT byPos = ::GetMenuDefaultItem(menu, TRUE, GMDI_USEDISABLED);
            if (byPos != UINT(-1) && byPos < entries.size()) defaultText = entries[byPos].Text;
            if (target < 0) {
                ::PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
                answered = true;
            }
            return;
        }
        // One step per tick: the menu shows each step before the next.
        if (::GetMenuState(menu, UINT(target), MF_BYPOSITION) & MF_HILITE) {
            ::PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
            answered = true;
        } else if (++steps > 12) {
            ::EndMenu();
            answered = true;
        } else {
            ::PostMessageW(window, WM_KEYDOWN, VK_DOWN, 0);
        }
    }
    explicit DropMenuAnswer(const std::wstring& Choice)
    {
        choice = Choice;
        entries.clear();
        defaultText.clear();
        shownAt = RECT{};
        target = -1;
        steps = 0;
        answered = false;
        id = ::SetTimer(nullptr, 0, 50, &OnTimer);
    }
    ~DropMenuAnswer() { ::KillTimer(nullptr, id); }
    UINT_PTR id;
};

// Files dragged with the right button out of one list and let go over
// another list's background or over a tree node: the drop point shows the
// menu (entries the source did not allow disabled, the keys' effect bold),
// and what the user chooses is done and reported; Cancel and Escape leave
// everything as it was and report nothing.
TEST(ShellDragDrop, RightButtonDropAsksWhatToDo)
{
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    for (const wchar_t* d : {L"src", L"dst", L"node"}) ::CreateDirectoryW(dir.File(d).c_str(), nullptr);

    HostForm form;
    form.SetBounds(0, 0, 900, 300);
    auto* source = Placed<shell::TShellList>(form, 0, 300);
    auto* list = Placed<shell::TShellList>(form, 300, 300);
    auto* tree = Placed<shell::TShellTree>(form, 600, 300);
    form.SetVisible(true);
    tree->SetRootedAtFileSystemFolder(dir.Path());
    HWND treeWnd = tree->GetHandle();
    HTREEITEM node = TreeNode(treeWnd, TreeNode(treeWnd, nullptr, classlib::ExtractFileName(dir.Path())), L"node");
    ASSERT_NE(node, nullptr);
    list->SetPath(dir.File(L"dst"));
    Reports sourceReports, listReports, treeReports;
    source->OnOperation = sourceReports.Handler();
    list->OnOperation = listReports.Handler();
    tree->OnOperation = treeReports.Handler();
    RECT client{};
    ::GetClientRect(list->GetHandle(), &client);
    client.top = client.bottom - 60;
    const POINTL listBackground = ScreenCentre(list->GetHandle(), client);

    const std::wstring copyHere = L"Copy Here", moveHere = L"Move Here", linkHere = L"Create Shortcuts Here",
                       cancel = L"Cancel";
    enum Target { ToList, ToNode };
    struct Case {
        Target to;
        DWORD keys;
        shell::TShCopyMode sourceMode;
        std::wstring defaultEntry;
        bool moveEnabled, linkEnabled;
        std::wstring choose;  // empty: Escape
        DWORD effect;
    };
    const Case cases[] = {
        // Same drive: a plain drag would move.
        {ToList, 0, shell::cmDefault, moveHere, true, true, moveHere, DROPEFFECT_MOVE},
        {ToList, MK_CONTROL, shell::cmDefault, copyHere, true, true, linkHere, DROPEFFECT_LINK},
        {ToList, 0, shell::cmCopy, copyHere, false, false, copyHere, DROPEFFECT_COPY},
        {ToList, 0, shell::cmDefault, moveHere, true, true, L"", DROPEFFECT_NONE},
        {ToNode, 0, shell::cmDefault, moveHere, true, true, copyHere, DROPEFFECT_COPY},
        {ToNode, MK_CONTROL | MK_SHIFT, shell::cmDefault, linkHere, true, true, moveHere, DROPEFFECT_MOVE},
        {ToNode, 0, shell::cmDefault, moveHere, true, true, cancel, DROPEFFECT_NONE},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::wstring name = L"f" + std::to_wstring(++n) + L".jpg";
        SCOPED_TRACE(::testing::Message() << "case " << n);
        Touch(dir.File(L"src\\" + name));
        source->SetPath(dir.File(L"src"));
        source->Populate();
        source->SetCopyMode(c.sourceMode);
        ASSERT_TRUE(shelltest::PumpUntil([&] { return ListIndex(source, name) >= 0; }));
        // The keys held during the drag reach the window that has the focus.
        ::SetForegroundWindow(form.GetHandle());
        ::SetFocus(source->GetHandle());
        for (int i = 0; i < source->GetItems()->GetCount(); ++i) source->GetItems()->GetItem(i)->SetSelected(false);
        source->GetItems()->GetItem(ListIndex(source, name))->SetSelected(true);
        sourceReports.Calls.clear();
        listReports.Calls.clear();
        treeReports.Calls.clear();
        const std::wstring folder = dir.File(c.to == ToList ? L"dst" : L"node");
        const POINTL drop = c.to == ToList ? listBackground : TreeNodePoint(treeWnd, node);

        DropMenuAnswer answer(c.choose);
        std::atomic<bool> done{false};
        std::thread mouse(MouseDrag, ListItemPoint(source, ListIndex(source, name)), drop, std::ref(done), true,
                          c.keys);
        // The drag, the menu and the drop run inside the pumped messages:
        // once both are over, the drop has finished.
        const bool over = shelltest::PumpUntil([&] { return done && DropMenuAnswer::answered; }, 15000);
        mouse.join();
        ASSERT_TRUE(over);

        const std::vector<DropMenuAnswer::Entry> expected = {
            {copyHere, true}, {moveHere, c.moveEnabled}, {linkHere, c.linkEnabled}, {L"", false}, {cancel, true}};
        ASSERT_EQ(DropMenuAnswer::entries.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(DropMenuAnswer::entries[i].Text, expected[i].Text) << i;
            EXPECT_EQ(DropMenuAnswer::entries[i].Enabled, expected[i].Enabled) << i;
        }
        EXPECT_EQ(DropMenuAnswer::defaultText, c.defaultEntry);
        EXPECT_EQ(DropMenuAnswer::shownAt.left, drop.x);
        EXPECT_EQ(DropMenuAnswer::shownAt.top, drop.y);

        const std::wstring from = dir.File(L"src\\" + name), to = folder + L"\\" + name;
        EXPECT_EQ(Exists(from), c.effect != DROPEFFECT_MOVE);
        EXPECT_EQ(Exists(to), c.effect == DROPEFFECT_COPY || c.effect == DROPEFFECT_MOVE);
        if (c.effect == DROPEFFECT_LINK)
            EXPECT_EQ(shell::GetShellLinkTarget(to + L".lnk"), from);
        else
            EXPECT_FALSE(Exists(to + L".lnk"));

        // The effect done is what both sides report.
        const auto copy = OperationBit(shell::sopCopy), move = OperationBit(shell::sopMove),
                   drag = OperationBit(shell::sopDrag), dropped = OperationBit(shell::sopDrop),
                   remove = OperationBit(shell::sopRemove);
        const Reports& targetReports = c.to == ToList ? listReports : treeReports;
        EXPECT_TRUE((c.to == ToList ? treeReports : listReports).Calls.empty());
        if (c.effect == DROPEFFECT_NONE) {
            EXPECT_TRUE(sourceReports.Calls.empty());
            EXPECT_TRUE(targetReports.Calls.empty());
            continue;
        }
        ASSERT_EQ(sourceReports.Calls.size(), 1u);
        ASSERT_EQ(targetReports.Calls.size(), 1u);
        EXPECT_TRUE(shell::SamePath(targetReports.Calls[0].Destination, folder)) << targetReports.Calls[0].Destination;
        switch (c.effect) {
        case DROPEFFECT_COPY:
            EXPECT_EQ(sourceReports.Calls[0].Operation, copy | drag);
            EXPECT_EQ(targetReports.Calls[0].Operation, copy | dropped);
            break;
        case DROPEFFECT_MOVE:
            EXPECT_EQ(sourceReports.Calls[0].Operation, move | remove | drag);
            EXPECT_EQ(targetReports.Calls[0].Operation, move | dropped);
            break;
        default:
            EXPECT_EQ(sourceReports.Calls[0].Operation, drag);
            EXPECT_EQ(targetReports.Calls[0].Operation, dropped);
            break;
        }
    }

    // Onto the list's own background, where the files already are: the
    // right button may still make links beside them, and nothing else.
    const std::wstring name = L"own.jpg";
    Touch(dir.File(L"src\\" + name));
    source->SetCopyMode(shell::cmDefault);
    source->Populate();
    ASSERT_TRUE(shelltest::PumpUntil([&] { return ListIndex(source, name) >= 0; }));
    for (int i = 0; i < source->GetItems()->GetCount(); ++i) source->GetItems()->GetItem(i)->SetSelected(false);
    source->GetItems()->GetItem(ListIndex(source, name))->SetSelected(true);
    sourceReports.Calls.clear();
    ::GetClientRect(source->GetHandle(), &client);
    client.top = client.bottom - 60;
    {
        DropMenuAnswer answer(linkHere);
        std::atomic<bool> done{false};
        std::thread mouse(MouseDrag, ListItemPoint(source, ListIndex(source, name)),
                          ScreenCentre(source->GetHandle(), client), std::ref(done), true, 0);
        const bool over = shelltest::PumpUntil([&] { return done && DropMenuAnswer::answered; }, 15000);
        mouse.join();
        ASSERT_TRUE(over);
    }
    ASSERT_EQ(DropMenuAnswer::entries.size(), 5u);
    EXPECT_FALSE(DropMenuAnswer::entries[0].Enabled);
    EXPECT_FALSE(DropMenuAnswer::entries[1].Enabled);
    EXPECT_TRUE(DropMenuAnswer::entries[2].Enabled);
    EXPECT_EQ(DropMenuAnswer::defaultText, linkHere);
    EXPECT_EQ(shell::GetShellLinkTarget(dir.File(L"src\\own.jpg.lnk")), dir.File(L"src\\own.jpg"));
    EXPECT_TRUE(Exists(dir.File(L"src\\own.jpg")));
    ASSERT_EQ(sourceReports.Calls.size(), 2u);
    EXPECT_EQ(sourceReports.Calls[0].Operation, OperationBit(shell::sopDrop));
    EXPECT_EQ(sourceReports.Calls[1].Operation, OperationBit(shell::sopDrag));
}

}  // namespace
