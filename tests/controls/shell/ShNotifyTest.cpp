#include "controls/shell/ShNotify.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "classlib/ExtCtrls.h"
#include "classlib/StringList.h"
#include "classlib/Threads.h"
#include "controls/shell/ShWorkItems.h"
#include "support/HostWindow.h"
#include "support/TestSupport.h"
#include "tests/controls/shell/ShellPump.h"
#include "tests/controls/shell/ShellTestFiles.h"

using namespace shell;

namespace {

using shelltest::PumpFor;
using shelltest::PumpMessages;
using shelltest::PumpUntil;
using shelltest::TFilesObject;

struct Change {
    TNotificationEvent event;
    std::wstring path1;
    std::wstring path2;
    DWORD thread;
};

struct Recorder {
    std::vector<Change> changes;
    std::vector<TNotificationEvent> idListEvents;
    void OnChange(classlib::TObject*, TNotificationEvent e, const std::wstring& p1, const std::wstring& p2)
    {
        changes.push_back({e, p1, p2, ::GetCurrentThreadId()});
    }
    void OnChangeIDList(classlib::TObject*, TNotificationEvent e, LPCITEMIDLIST, LPCITEMIDLIST)
    {
        idListEvents.push_back(e);
    }
};

class ShellNotify : public testing::Test {
protected:
    ShellNotify() { classlib::MainThreadID = ::GetCurrentThreadId(); }
    ~ShellNotify() override
    {
        ShutdownShellWorkPool();
    }
    TShellScope scope_;
};

void WriteFile(const std::wstring& path, const char* text)
{
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(h, text, DWORD(std::strlen(text)), &written, nullptr);
    ::CloseHandle(h);
}

// Sends the notification window a change as the shell would (two lists and
// the event).
void SendChange(TShellChangeNotifier& n, LONG event, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2 = nullptr)
{
    LPCITEMIDLIST pidls[2] = {pidl1, pidl2};
    ::SendMessageW(n.GetNotifyWindow(), WM_SHELLNOTIFY, reinterpret_cast<WPARAM>(pidls), event);
}

}  // namespace

TEST(ShellNotifyEvents, TableMapsBothWaysAndFilterFlags)
{
    EXPECT_EQ(NotificationEventOf(SHCNE_CREATE), neFileCreate);
    EXPECT_EQ(NotificationEventOf(SHCNE_RENAMEFOLDER | SHCNE_INTERRUPT), neFolderRename);
    EXPECT_EQ(NotificationEventOf(SHCNE_UPDATEIMAGE), neImageListChange);
    EXPECT_EQ(NotificationEventOf(0x3), neUnknown);  // two bits: no single value
    for (int i = 0; i < neUnknown; ++i)
        EXPECT_EQ(NotificationEventOf(NotificationEventFlag(TNotificationEvent(i))), i);
    // The filters the list and tree use.
    const TNotificationEvents list = 0x3FDFC;
    EXPECT_EQ(NotificationFlags(list), SHCNE_UPDATEITEM | SHCNE_CREATE | SHCNE_DELETE | SHCNE_RENAMEITEM |
                                           SHCNE_DRIVEADD | SHCNE_DRIVEREMOVED | SHCNE_DRIVEADDGUI |
                                           SHCNE_MEDIAINSERTED | SHCNE_MEDIAREMOVED | SHCNE_MKDIR | SHCNE_RMDIR |
                                           SHCNE_RENAMEFOLDER | SHCNE_UPDATEDIR | SHCNE_NETSHARE | SHCNE_NETUNSHARE);
    EXPECT_EQ(NotificationFlags(AllNotificationEvents | NotificationBit(neUnknown)), 0x7FFFFFFF);
}

TEST_F(ShellNotify, FileCreateAndDeleteReachOnChangeOnTheMainThread)
{
    testsupport::TempDir dir;
    Recorder rec;
    TShellChangeNotifier n(nullptr);
    EXPECT_FALSE(n.GetEnabled());
    EXPECT_TRUE(n.GetRecursive());  // (a flat watch sees only the folder itself under Wine)
    n.GetDirectories()->Add(dir.Path());
    ASSERT_EQ(n.GetDirectories()->GetCount(), 1);
    EXPECT_NE(n.GetDirectories()->GetId(0), 0u);  // registered at once
    n.OnChange = TShellNotifierEvent(&rec, &Recorder::OnChange);
    n.SetEnabled(true);

    // The shell reports what programs announce to it.
    const std::wstring file = dir.File(L"new.txt");
    WriteFile(file, "x");
    ::SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW | SHCNF_FLUSH, file.c_str(), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return rec.changes.size() >= 1; }));
    EXPECT_EQ(rec.changes[0].event, neFileCreate);
    EXPECT_TRUE(SamePath(rec.changes[0].path1, file)) << rec.changes[0].path1;
    EXPECT_EQ(rec.changes[0].thread, ::GetCurrentThreadId());

    ::DeleteFileW(file.c_str());
    ::SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW | SHCNF_FLUSH, file.c_str(), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return rec.changes.size() >= 2; }));
    EXPECT_EQ(rec.changes[1].event, neFileDelete);
    EXPECT_TRUE(SamePath(rec.changes[1].path1, file)) << rec.changes[1].path1;

    // Disabled: announcements are no longer delivered.
    n.SetEnabled(false);
    EXPECT_EQ(n.GetDirectories()->GetId(0), 0u);
    WriteFile(file, "y");
    ::SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW | SHCNF_FLUSH, file.c_str(), nullptr);
    PumpFor(300);
    EXPECT_EQ(rec.changes.size(), 2u);
}

TEST_F(ShellNotify, RepeatsWithinTwoAndAHalfSecondsAreDroppedAndFilterHolds)
{
    testsupport::TempDir dir;
    const std::wstring file = dir.File(L"a.txt");
    WriteFile(file, "a");
    TPidl pidl = PathToPidl(nullptr, file);
    TPidl other = PathToPidl(nullptr, dir.Path());
    ASSERT_TRUE(pidl && other);

    Recorder rec;
    TShellChangeNotifier n(nullptr);
    n.GetDirectories()->Add(dir.Path());
    n.OnChange = TShellNotifierEvent(&rec, &Recorder::OnChange);
    n.OnChangeIDList = TShellNotifierIDListEvent(&rec, &Recorder::OnChangeIDList);
    n.SetEnabled(true);

    SendChange(n, SHCNE_UPDATEITEM, pidl.get());
    SendChange(n, SHCNE_UPDATEITEM, pidl.get());           // repeat: dropped
    SendChange(n, SHCNE_UPDATEITEM | SHCNE_INTERRUPT, pidl.get());  // same event from the other source
    SendChange(n, SHCNE_UPDATEDIR, other.get());           // another event: delivered
    SendChange(n, SHCNE_UPDATEITEM, pidl.get());           // not a repeat of the last one
    ASSERT_EQ(rec.idListEvents, (std::vector<TNotificationEvent>{neFileChange, neFolderUpdate, neFileChange}));
    ASSERT_TRUE(PumpUntil([&] { return rec.changes.size() >= 3; }));

    ::Sleep(2600);
    SendChange(n, SHCNE_UPDATEITEM, pidl.get());  // same again, but later
    EXPECT_EQ(rec.idListEvents.size(), 4u);

    // Outside the filter: reaches neither handler.
    n.SetEventFilter(AllNotificationEvents & ~NotificationBit(neFileChange));
    SendChange(n, SHCNE_UPDATEITEM, pidl.get());
    EXPECT_EQ(rec.idListEvents.size(), 4u);
    ASSERT_TRUE(PumpUntil([&] { return rec.changes.size() >= 4; }));
    PumpFor(200);
    EXPECT_EQ(rec.changes.size(), 4u);
    for (const Change& c : rec.changes)
        EXPECT_EQ(c.thread, ::GetCurrentThreadId());
}

TEST_F(ShellNotify, ImageListChangeCarriesTheIndexAndAssociationNoPaths)
{
    Recorder rec;
    TShellChangeNotifier n(nullptr);
    n.OnChange = TShellNotifierEvent(&rec, &Recorder::OnChange);
    n.SetEnabled(true);
    // A number-form item: size, then two 32-bit numbers.
    struct {
        USHORT cb;
        DWORD first;
        DWORD second;
        USHORT end;
    } __attribute__((packed)) item{10, 7, 42, 0};
    SendChange(n, SHCNE_UPDATEIMAGE, reinterpret_cast<LPCITEMIDLIST>(&item));
    TPidl drives = SpecialFolderPidl(SF_DRIVES);
    SendChange(n, SHCNE_ASSOCCHANGED, drives.get(), drives.get());
    ASSERT_TRUE(PumpUntil([&] { return rec.changes.size() >= 2; }));
    const Change* image = rec.changes[0].event == neImageListChange ? &rec.changes[0] : &rec.changes[1];
    const Change* assoc = image == &rec.changes[0] ? &rec.changes[1] : &rec.changes[0];
    EXPECT_EQ(image->event, neImageListChange);
    EXPECT_EQ(image->path1, IsWinNT ? L"42" : L"7");
    EXPECT_EQ(assoc->event, neAssociationChange);
    EXPECT_EQ(assoc->path1, L"");
    EXPECT_EQ(assoc->path2, L"");
}

TEST_F(ShellNotify, NoDirectoryWatchesMyComputerUntilOneIsAdded)
{
    testsupport::TempDir dir;
    TShellChangeNotifier n(nullptr);
    n.SetRecursive(false);
    n.SetEnabled(true);
    TShellChangeNotifierList* dirs = n.GetDirectories();
    ASSERT_EQ(dirs->GetCount(), 1);
    EXPECT_EQ(dirs->GetStrings(0), L"");
    EXPECT_NE(dirs->GetId(0), 0u);
    EXPECT_TRUE(n.GetRecursive());
    EXPECT_TRUE(dirs->GetRegistered());

    dirs->Add(dir.Path() + L"\\");
    ASSERT_EQ(dirs->GetCount(), 1);
    EXPECT_EQ(dirs->GetStrings(0), dir.Path());  // normalised, placeholder gone
    EXPECT_NE(dirs->GetId(0), 0u);

    // Clearing a started list restarts the notifier: My Computer again.
    dirs->Clear();
    ASSERT_EQ(dirs->GetCount(), 1);
    EXPECT_EQ(dirs->GetStrings(0), L"");
    EXPECT_NE(dirs->GetId(0), 0u);

    // A root list replaces the placeholder and is watched on its own.
    TPidl root = PathToPidl(nullptr, dir.Path());
    n.SetRootPidl(root.get());
    EXPECT_EQ(dirs->GetCount(), 0);
    EXPECT_NE(n.GetRootRegistration(), 0u);
    n.SetEnabled(false);
    EXPECT_EQ(n.GetRootRegistration(), 0u);
}

TEST_F(ShellNotify, NoDeliveryReachesADestroyedNotifier)
{
    testsupport::TempDir dir;
    TPidl pidl = PathToPidl(nullptr, dir.Path());
    Recorder rec;
    std::size_t atDestruction = 0;
    for (int round = 0; round < 20; ++round) {
        auto n = std::make_unique<TShellChangeNotifier>(nullptr);
        n->OnChange = TShellNotifierEvent(&rec, &Recorder::OnChange);
        n->SetEnabled(true);
        SendChange(*n, SHCNE_UPDATEDIR, pidl.get());
        if (round % 2)
            ::Sleep(1);  // vary how far the delivery got
        n.reset();
        atDestruction = rec.changes.size();
        PumpFor(50);
        ASSERT_EQ(rec.changes.size(), atDestruction) << "delivered after destruction, round " << round;
    }
}

// ---------------------------------------------------------------------------
// Drop target

namespace {

struct DropHandlers {
    TShDropEffect overEffect = deCopy;
    bool overSet = false;
    bool dropRaises = false;
    classlib::TShiftState seenShift = 0;
    POINT seenPoint{};
    std::vector<std::wstring> dropped;
    int leaves = 0;

    void Over(classlib::TObject*, classlib::TShiftState s, POINT p, TShDropEffect& e)
    {
        seenShift = s;
        seenPoint = p;
        if (overSet)
            e = overEffect;
    }
    void OnDrop(classlib::TObject* sender, classlib::TShiftState, POINT, TShDropEffect& e)
    {
        if (dropRaises)
            throw std::runtime_error("handler failed");
        auto* files = static_cast<TShDropFiles*>(sender)->GetDroppedFiles();
        for (int i = 0; i < files->GetCount(); ++i)
            dropped.push_back(files->GetStrings(i));
        e = deMove;
    }
    void Leave(classlib::TObject*) { ++leaves; }
};

}  // namespace

TEST_F(ShellNotify, DropTargetCollectsFilesAndHandlersChooseTheEffect)
{
    const std::vector<std::wstring> files = {L"C:\\b\\2.jpg", L"C:\\a\\1.png", L"C:\\c\\3.gif"};
    TFilesObject data(true, files);
    TShDropFiles drop(nullptr);
    DropHandlers h;
    IDropTarget* target = &drop;
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;

    ASSERT_EQ(target->DragEnter(&data, MK_LBUTTON, POINTL{1, 2}, &effect), S_OK);
    EXPECT_EQ(effect, DWORD(DROPEFFECT_NONE));
    ASSERT_EQ(drop.GetDroppedFiles()->GetCount(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(drop.GetDroppedFiles()->GetStrings(i), files[i]);  // drop order kept

    // No handler: copy.
    EXPECT_EQ(target->DragOver(0, POINTL{5, 6}, &effect), S_OK);
    EXPECT_EQ(effect, DWORD(DROPEFFECT_COPY));

    drop.OnDragOver = TShDragDropEvent(&h, &DropHandlers::Over);
    h.overSet = true;
    h.overEffect = deLink;
    EXPECT_EQ(target->DragOver(MK_SHIFT | MK_CONTROL | MK_RBUTTON, POINTL{7, 8}, &effect), S_OK);
    EXPECT_EQ(effect, DWORD(DROPEFFECT_LINK));
    EXPECT_EQ(h.seenShift, classlib::ssShift | classlib::ssCtrl | classlib::ssRight);
    EXPECT_EQ(h.seenPoint.x, 7);
    EXPECT_EQ(h.seenPoint.y, 8);

    drop.OnDrop = TShDragDropEvent(&h, &DropHandlers::OnDrop);
    EXPECT_EQ(target->Drop(&data, MK_LBUTTON, POINTL{9, 9}, &effect), S_OK);
    EXPECT_EQ(effect, DWORD(DROPEFFECT_MOVE));
    EXPECT_EQ(h.dropped, files);
    EXPECT_EQ(data.refs, 1u);  // the drag's reference is released after the drop

    h.dropRaises = true;
    ASSERT_EQ(target->DragEnter(&data, 0, POINTL{0, 0}, &effect), S_OK);
    EXPECT_EQ(target->Drop(&data, 0, POINTL{0, 0}, &effect), E_UNEXPECTED);

    // Something without a file list: nothing collected; leaving fires the
    // event and lets the object go.
    TFilesObject text(false);
    drop.OnDragLeave = classlib::TNotifyEvent(&h, &DropHandlers::Leave);
    ASSERT_EQ(target->DragEnter(&text, 0, POINTL{0, 0}, &effect), S_OK);
    EXPECT_EQ(drop.GetDroppedFiles()->GetCount(), 0);
    EXPECT_EQ(target->DragLeave(), S_OK);
    EXPECT_EQ(h.leaves, 1);
    EXPECT_EQ(text.refs, 1u);
}

namespace {

// Whether wnd is a registered drop target: registering it again fails so.
bool IsDropTarget(HWND wnd)
{
    TShDropFiles probe(nullptr);
    HRESULT hr = ::RegisterDragDrop(wnd, &probe);
    if (SUCCEEDED(hr))
        ::RevokeDragDrop(wnd);
    return hr == DRAGDROP_E_ALREADYREGISTERED;
}

}  // namespace

TEST_F(ShellNotify, DropTargetFollowsTheControlsWindow)
{
    testsupport::THostWindow host(100, 100, false);
    auto* panel = new classlib::TPanel(nullptr);
    panel->SetParentWindow(host.Get());
    TShDropFiles drop(nullptr);
    drop.SetControl(panel);
    ASSERT_TRUE(drop.GetRegistered());
    const HWND first = panel->GetHandle();
    EXPECT_EQ(drop.GetRegisteredWindow(), first);
    EXPECT_TRUE(IsDropTarget(first));
    EXPECT_TRUE(drop.GetRecheckTimer()->GetEnabled());
    EXPECT_EQ(drop.GetRecheckTimer()->GetInterval(), 5000u);

    // A recreated window is registered again on the next check.
    panel->RecreateWnd();
    const HWND second = panel->GetHandle();
    ASSERT_NE(second, first);
    drop.RecheckHandle();
    EXPECT_EQ(drop.GetRegisteredWindow(), second);
    EXPECT_TRUE(IsDropTarget(second));

    drop.SetEnabled(false);
    EXPECT_FALSE(drop.GetRegistered());
    EXPECT_FALSE(IsDropTarget(second));
    drop.SetEnabled(true);
    EXPECT_TRUE(IsDropTarget(second));

    // The control going away unlinks it.
    delete panel;
    EXPECT_EQ(drop.GetControl(), nullptr);
    EXPECT_FALSE(drop.GetRegistered());
}
