#include "controls/shell/ShNotify.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "classlib/ExtCtrls.h"
#include "classlib/SysUtils.h"
#include "classlib/Threads.h"
#include "controls/shell/ShWorkItems.h"

namespace shell {

namespace {

constexpr LONG kEventFlags[] = {
    0x8000000, 0x800, 0x2000, 0x2,    0x4,    0x1,    0x100, 0x80,   0x10000, 0x40000,
    0x20,      0x40,  0x8,    0x10,   0x20000, 0x1000, 0x200, 0x400, 0x4000,  0x8000,
};
constexpr LONG kAllEvents = 0x7FFFFFFF;

}  // namespace

LONG NotificationEventFlag(TNotificationEvent e)
{
    return e < neUnknown ? kEventFlags[e] : kAllEvents;
}

TNotificationEvent NotificationEventOf(LONG rawEvent)
{
    const LONG raw = rawEvent & kAllEvents;
    for (int i = 0; i < neUnknown; ++i)
        if (kEventFlags[i] == raw)
            return TNotificationEvent(i);
    return neUnknown;
}

LONG NotificationFlags(TNotificationEvents events)
{
    LONG flags = 0;
    for (int i = 0; i <= neUnknown; ++i)
        if (events & NotificationBit(TNotificationEvent(i)))
            flags |= NotificationEventFlag(TNotificationEvent(i));
    return flags;
}

ULONG RegisterPidl(LPCITEMIDLIST Pidl, bool Recursive, HWND Window, TNotificationEvents Filter)
{
    if (!ShellEntryPoints.SHChangeNotifyRegister)
        return 0;
    SHChangeNotifyEntry entry{};
    entry.pidl = Pidl;
    entry.fRecursive = Recursive;
    const int sources = Recursive ? 0x1003 : 3;
    return ShellEntryPoints.SHChangeNotifyRegister(Window, sources, NotificationFlags(Filter), WM_SHELLNOTIFY, 1,
                                                   &entry);
}

void Deregister(ULONG Id)
{
    if (Id && ShellEntryPoints.SHChangeNotifyDeregister)
        ShellEntryPoints.SHChangeNotifyDeregister(Id);
}

// ---------------------------------------------------------------------------
// TShellChangeNotifierList

namespace {

classlib::TObject* IdSlot(ULONG id)
{
    return reinterpret_cast<classlib::TObject*>(static_cast<std::uintptr_t>(id));
}

}  // namespace

TShellChangeNotifierList::TShellChangeNotifierList(TShellChangeNotifier* ANotifier) : notifier_(ANotifier)
{
    // Insertion order, every path, repeats allowed.
    SetSorted(false);
    SetDuplicates(classlib::dupAccept);
    CheckExists = false;
    OnPathAdded = decltype(OnPathAdded)(this, &TShellChangeNotifierList::PathAdded);
    OnPathRemoved = decltype(OnPathRemoved)(this, &TShellChangeNotifierList::PathRemoved);
}

TShellChangeNotifierList::~TShellChangeNotifierList()
{
    registered_ = true;
    DeregisterAll();
}

ULONG TShellChangeNotifierList::GetId(int Index) const
{
    return static_cast<ULONG>(reinterpret_cast<std::uintptr_t>(GetObjects(Index)));
}

void TShellChangeNotifierList::RegisterEntry(int Index)
{
    TPidl pidl = PathToPidl(nullptr, GetStrings(Index));
    ULONG id = 0;
    if (pidl)
        id = RegisterPidl(pidl.get(), notifier_->recursive_, notifier_->notifyWindow_, notifier_->eventFilter_);
    PutObject(Index, IdSlot(id));
}

void TShellChangeNotifierList::ReleaseEntry(int Index)
{
    Deregister(GetId(Index));
    PutObject(Index, nullptr);
}

void TShellChangeNotifierList::PathAdded(const std::wstring&, int Index)
{
    RegisterEntry(Index);
    // A real folder replaces the placeholder that stands for My Computer.
    if (GetCount() > 1 && GetStrings(0).empty())
        Delete(0);
}

void TShellChangeNotifierList::PathRemoved(const std::wstring&, int Index)
{
    ReleaseEntry(Index);
}

void TShellChangeNotifierList::RegisterAll()
{
    BeginUpdate();
    try {
        for (int i = 0; i < GetCount(); ++i)
            if (GetId(i) == 0)
                RegisterEntry(i);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
    registered_ = true;
}

void TShellChangeNotifierList::DeregisterAll()
{
    if (!registered_)
        return;
    registered_ = false;
    BeginUpdate();
    for (int i = 0; i < GetCount(); ++i)
        ReleaseEntry(i);
    EndUpdate();
}

void TShellChangeNotifierList::Reregister()
{
    if (!registered_)
        return;
    DeregisterAll();
    RegisterAll();
}

void TShellChangeNotifierList::Clear()
{
    if (registered_) {
        notifier_->Restart();
        return;
    }
    // Entries added while stopped hold registrations of their own.
    for (int i = 0; i < GetCount(); ++i)
        ReleaseEntry(i);
    TShPathList::Clear();
}

// ---------------------------------------------------------------------------
// TShellChangeNotifier

namespace {

const wchar_t kNotifyClass[] = L"ShellChangeNotifierWindow";

void RegisterNotifyClass(WNDPROC proc)
{
    static const bool done = [proc] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = kNotifyClass;
        return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    (void)done;
}

// The pair of item lists a notification message points to.
struct TNotifyPidls {
    LPCITEMIDLIST Pidl1;
    LPCITEMIDLIST Pidl2;
};

// The numbers a DWORD-form item carries (the image index of an image-list
// change): the two 32-bit values after the item's size.
bool ReadDwordItem(LPCITEMIDLIST pidl, DWORD& first, DWORD& second)
{
    if (!pidl || pidl->mkid.cb < 2 + 2 * sizeof(DWORD))
        return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(pidl);
    std::memcpy(&first, bytes + 2, sizeof(DWORD));
    std::memcpy(&second, bytes + 2 + sizeof(DWORD), sizeof(DWORD));
    return true;
}

// Delivers one change to OnChange on the main thread; its notifier cancels
// it (by tag) when it is destroyed first.
class TShNotifyWorkItem : public TBasicWorkItem {
public:
    TShNotifyWorkItem(classlib::TObject* ASender, LONG AEvent, const std::wstring& APath1, const std::wstring& APath2,
                      const TShellNotifierEvent& AHandler, std::shared_ptr<bool> AAlive)
        : Sender(ASender), Event(AEvent), path2(APath2), path1(APath1), Handler(AHandler), alive(std::move(AAlive))
    {
        Tag = ASender;
    }

    void RunWork() override
    {
        if (GetTerminated())
            return;
        // The check runs on the main thread, where the notifier is destroyed,
        // so a delivery never reaches a notifier that is gone (cancelling
        // alone cannot promise that: an item may be between the queue and
        // its worker at that moment).
        classlib::TThread::Synchronize(nullptr, [this] {
            if (*alive && !GetTerminated())
                Handler(Sender, TNotificationEvent(Event), path1, path2);
        });
    }

    classlib::TObject* Sender;
    LONG Event;
    std::wstring path2;
    std::wstring path1;
    TShellNotifierEvent Handler;
    std::shared_ptr<bool> alive;  // read on the main thread only
};

}  // namespace

TShellChangeNotifier::TShellChangeNotifier(classlib::TComponent* Owner) : TShBaseComponent(Owner)
{
    if (!Designing()) {
        RegisterNotifyClass(&TShellChangeNotifier::NotifyWndProc);
        notifyWindow_ = ::CreateWindowExW(0, kNotifyClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                          ::GetModuleHandleW(nullptr), nullptr);
        if (notifyWindow_) {
            ::SetWindowLongPtrW(notifyWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            folderWatch_ = std::make_unique<TShFolderWatch>(notifyWindow_, WM_FOLDERWATCH);
        }
    }
    directories_ = std::make_unique<TShellChangeNotifierList>(this);
    enabled_ = Designing();
}

TShellChangeNotifier::~TShellChangeNotifier()
{
    if (!Designing())
        SetEnabled(false);
    if (::GetCurrentThreadId() == classlib::MainThreadID)
        classlib::CheckSynchronize();
    *alive_ = false;
    if (ShellWorkPoolExists())
        ShellWorkPool()->CancelWorkItems(this, nullptr);
    lastPidl_.reset();
    folderWatch_.reset();
    if (notifyWindow_) {
        ::SetWindowLongPtrW(notifyWindow_, GWLP_USERDATA, 0);
        ::DestroyWindow(notifyWindow_);
        notifyWindow_ = nullptr;
    }
    directories_.reset();
    Deregister(rootRegistration_);
    rootPidl_.reset();
}

void TShellChangeNotifier::Loaded()
{
    TShBaseComponent::Loaded();
    Start();
}

void TShellChangeNotifier::SetEnabled(bool Value)
{
    if (Value == enabled_)
        return;
    enabled_ = Value;
    if (Value)
        Start();
    else
        Stop();
}

void TShellChangeNotifier::Start()
{
    if (!ShellEntryPoints.SHChangeNotifyRegister) {
        enabled_ = false;
        return;
    }
    if (!enabled_ || Designing() || (GetComponentState() & classlib::csLoading))
        return;
    if (directories_->GetCount() > 0 || OnChangeIDList || rootPidl_) {
        directories_->RegisterAll();
    } else {
        recursive_ = true;
        directories_->Add(L"");
        directories_->RegisterAll();
    }
    if (rootPidl_) {
        Deregister(rootRegistration_);
        rootRegistration_ = RegisterPidl(rootPidl_.get(), recursive_, notifyWindow_, eventFilter_);
    }
    StartFolderWatch();
}

void TShellChangeNotifier::Stop()
{
    StopFolderWatch();
    Deregister(rootRegistration_);
    rootRegistration_ = 0;
    directories_->DeregisterAll();
}

void TShellChangeNotifier::Restart()
{
    Stop();
    directories_->Clear();
    Start();
}

void TShellChangeNotifier::SetDirectories(const classlib::TStrings* Value)
{
    directories_->Assign(Value);
}

void TShellChangeNotifier::SetRecursive(bool Value)
{
    if (Value == recursive_)
        return;
    recursive_ = Value;
    directories_->Reregister();
}

void TShellChangeNotifier::SetEventFilter(TNotificationEvents Value)
{
    if (Value == eventFilter_)
        return;
    eventFilter_ = Value;
    directories_->Reregister();
}

void TShellChangeNotifier::SetRootPidl(LPCITEMIDLIST Pidl)
{
    Deregister(rootRegistration_);
    rootRegistration_ = 0;
    if (directories_->GetCount() > 0 && directories_->GetStrings(0).empty())
        directories_->Delete(0);
    rootPidl_ = Pidl ? PidlClone(Pidl) : nullptr;
    if (rootPidl_)
        Start();
}

void TShellChangeNotifier::DoChange(classlib::TObject* Sender, TNotificationEvent Event, const std::wstring& Path1,
                                    const std::wstring& Path2)
{
    if (!OnChange)
        return;
    ShellWorkPool()->AddWorkItem(new TShNotifyWorkItem(Sender, Event, Path1, Path2, OnChange, alive_));
}

void TShellChangeNotifier::SetWatchFileSystem(bool Value)
{
    if (Value == watchFileSystem_)
        return;
    watchFileSystem_ = Value;
    if (!Value)
        StopFolderWatch();
    else if (directories_->GetRegistered())
        StartFolderWatch();
}

void TShellChangeNotifier::StartFolderWatch()
{
    StopFolderWatch();
    if (!watchFileSystem_ || !folderWatch_)
        return;
    folderWatchOn_ = true;
    for (int i = 0; i < directories_->GetCount(); ++i)
        if (!directories_->GetStrings(i).empty())
            folderWatch_->Add(directories_->GetStrings(i));
    if (rootPidl_) {
        const std::wstring root = PidlToPath(rootPidl_.get());
        if (!root.empty())
            folderWatch_->Add(root);
    }
    for (const std::wstring& folder : extraFolders_)
        folderWatch_->Add(folder, true);
}

void TShellChangeNotifier::StopFolderWatch()
{
    folderWatchOn_ = false;
    if (folderWatch_) {
        folderWatch_->Clear();
        folderWatch_->TakeChanged();
    }
}

void TShellChangeNotifier::WatchFolder(const std::wstring& Folder)
{
    extraFolders_.push_back(Folder);
    if (folderWatchOn_)
        folderWatch_->Add(Folder, true);
}

void TShellChangeNotifier::UnwatchFolder(const std::wstring& Folder)
{
    auto it = std::find_if(extraFolders_.begin(), extraFolders_.end(),
                           [&](const std::wstring& f) { return SamePath(f, Folder); });
    if (it == extraFolders_.end())
        return;
    if (folderWatchOn_)
        folderWatch_->Remove(*it);
    extraFolders_.erase(it);
}

void TShellChangeNotifier::UnwatchFolders()
{
    if (folderWatchOn_)
        for (const std::wstring& folder : extraFolders_)
            folderWatch_->Remove(folder);
    extraFolders_.clear();
}

bool TShellChangeNotifier::WatchingFolder(const std::wstring& Folder) const
{
    return folderWatchOn_ && folderWatch_ && folderWatch_->Watching(Folder);
}

void TShellChangeNotifier::DeliverFolderChanges()
{
    const std::vector<std::wstring> folders = folderWatch_->TakeChanged();
    if (!enabled_ || !folderWatchOn_ || !(eventFilter_ & NotificationBit(neFolderUpdate)))
        return;
    for (const std::wstring& folder : folders) {
        DoChange(this, neFolderUpdate, folder, std::wstring());
        if (!OnChangeIDList)
            continue;
        TPidl pidl = PathToPidl(nullptr, folder);
        if (!pidl)  // gone: its parent shows the change
            pidl = PathToPidl(nullptr, classlib::ExtractFileDir(classlib::ExcludeTrailingPathDelimiter(folder)));
        if (pidl)
            OnChangeIDList(this, neFolderUpdate, pidl.get(), nullptr);
        if (!folderWatchOn_)  // a handler stopped the notifier
            return;
    }
}

LRESULT CALLBACK TShellChangeNotifier::NotifyWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    auto* self = reinterpret_cast<TShellChangeNotifier*>(::GetWindowLongPtrW(Wnd, GWLP_USERDATA));
    if (Msg == WM_FOLDERWATCH && self && self->folderWatch_) {
        self->DeliverFolderChanges();
        return 0;
    }
    if (Msg != WM_SHELLNOTIFY || !self || !self->enabled_)
        return ::DefWindowProcW(Wnd, Msg, WParam, LParam);
    return self->HandleNotify(WParam, LParam);
}

LRESULT TShellChangeNotifier::HandleNotify(WPARAM WParam, LPARAM LParam)
{
    const LONG raw = static_cast<LONG>(LParam) & kAllEvents;
    const TNotificationEvent event = NotificationEventOf(raw);
    if (!(eventFilter_ & NotificationBit(event)))
        return 0;
    const auto* pidls = reinterpret_cast<const TNotifyPidls*>(WParam);
    LPCITEMIDLIST pidl1 = pidls ? pidls->Pidl1 : nullptr;
    LPCITEMIDLIST pidl2 = pidls ? pidls->Pidl2 : nullptr;

    // A folder the shell says is going must not be held up by a watch.
    if (folderWatchOn_ && (event == neFolderDelete || event == neFolderRename || event == neFileDelete))
        folderWatch_->ForgetBelow(PidlToPath(pidl1));

    const DWORD now = ::GetTickCount();
    if (raw == lastEvent_ && lastPidl_ && PidlItemCount(pidl1) > 0 && DesktopFolder() &&
        HRESULT_CODE(DesktopFolder()->CompareIDs(0, pidl1, lastPidl_.get())) == 0 && now - lastTick_ < 2500)
        return 0;

    if (OnChange) {
        std::wstring path1;
        std::wstring path2;
        if (event == neImageListChange) {
            DWORD first = 0;
            DWORD second = 0;
            if (ReadDwordItem(pidl1, first, second))
                path1 = std::to_wstring(static_cast<std::int32_t>(IsWinNT ? second : first));
        } else if (event != neAssociationChange) {
            path1 = PidlToPath(pidl1);
            path2 = PidlToPath(pidl2);
        }
        DoChange(this, event, path1, path2);
    }
    OnChangeIDList(this, event, pidl1, pidl2);

    lastEvent_ = raw;
    lastPidl_ = PidlClone(pidl1);
    lastTick_ = now;
    return 0;
}

// ---------------------------------------------------------------------------
// TShDropFiles

DWORD DropEffectValue(TShDropEffect Effect)
{
    switch (Effect) {
    case deCopy: return DROPEFFECT_COPY;
    case deMove: return DROPEFFECT_MOVE;
    case deLink: return DROPEFFECT_LINK;
    default: return DROPEFFECT_NONE;
    }
}

classlib::TShiftState KeyStateToShift(DWORD KeyState)
{
    classlib::TShiftState s = 0;
    if (KeyState & MK_SHIFT) s |= classlib::ssShift;
    if (KeyState & MK_CONTROL) s |= classlib::ssCtrl;
    if (KeyState & MK_ALT) s |= classlib::ssAlt;
    if (KeyState & MK_LBUTTON) s |= classlib::ssLeft;
    if (KeyState & MK_RBUTTON) s |= classlib::ssRight;
    if (KeyState & MK_MBUTTON) s |= classlib::ssMiddle;
    return s;
}

TShDropFiles::TShDropFiles(classlib::TComponent* Owner)
    : classlib::TComponent(Owner), droppedFiles_(std::make_unique<classlib::TStringList>())
{
    recheckTimer_ = new classlib::TTimer(this);
    recheckTimer_->SetEnabled(false);
    recheckTimer_->SetInterval(5000);
    recheckTimer_->SetOnTimer(classlib::TNotifyEvent(this, &TShDropFiles::TimerFired));
}

TShDropFiles::~TShDropFiles()
{
    if (registered_)
        Revoke();
    dataObject_.Reset();
}

void TShDropFiles::Revoke()
{
    if (registeredWindow_)
        ::RevokeDragDrop(registeredWindow_);
    registered_ = false;
    registeredWindow_ = nullptr;
}

void TShDropFiles::SetControl(classlib::TWinControl* Value)
{
    if (Value == control_)
        return;
    if (enabled_ && control_ && registered_)
        Revoke();
    if (control_)
        control_->RemoveFreeNotification(this);
    control_ = Value;
    if (control_)
        control_->FreeNotification(this);
    if (enabled_)
        UpdateRegistration();
}

void TShDropFiles::SetEnabled(bool Value)
{
    enabled_ = Value;
    if (Designing())
        return;
    recheckTimer_->SetEnabled(Value);
    UpdateRegistration();
}

void TShDropFiles::UpdateRegistration()
{
    if (!control_ || Designing())
        return;
    if (!enabled_) {
        if (registered_)
            Revoke();
        return;
    }
    if (registered_)
        return;
    HWND wnd = control_->GetHandle();
    if (FAILED(::RegisterDragDrop(wnd, this))) {
        enabled_ = false;
        recheckTimer_->SetEnabled(false);
        return;
    }
    registered_ = true;
    registeredWindow_ = wnd;
    recheckTimer_->SetEnabled(true);
}

void TShDropFiles::RecheckHandle()
{
    if (!enabled_ || Designing() || !control_)
        return;
    if (control_->HandleAllocated() && control_->GetHandle() == registeredWindow_ && registered_)
        return;
    if (registered_)
        Revoke();
    UpdateRegistration();
}

void TShDropFiles::TimerFired(classlib::TObject*)
{
    RecheckHandle();
}

void TShDropFiles::Notification(classlib::TComponent* Component, classlib::TOperation Operation)
{
    classlib::TComponent::Notification(Component, Operation);
    if (Operation == classlib::opRemove && Component == control_) {
        // The window is going with the control; the registration goes too.
        if (registered_)
            Revoke();
        control_ = nullptr;
    }
}

HRESULT STDMETHODCALLTYPE TShDropFiles::DragEnter(IDataObject* DataObj, DWORD KeyState, POINTL Pt, DWORD* Effect)
{
    if (DataObj)
        DataObj->AddRef();
    dataObject_ = TComRef<IDataObject>(DataObj);
    std::unique_ptr<classlib::TStringList> names = GetFilenamesFromDataObject(DataObj);
    if (names)
        droppedFiles_->Assign(names.get());
    else
        droppedFiles_->Clear();
    TShDropEffect effect = deNone;
    try {
        OnDragEnter(this, KeyStateToShift(KeyState), POINT{Pt.x, Pt.y}, effect);
    } catch (...) {
        effect = deNone;
    }
    if (Effect)
        *Effect = DropEffectValue(effect);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TShDropFiles::DragOver(DWORD KeyState, POINTL Pt, DWORD* Effect)
{
    TShDropEffect effect = deCopy;
    try {
        OnDragOver(this, KeyStateToShift(KeyState), POINT{Pt.x, Pt.y}, effect);
    } catch (...) {
        return E_UNEXPECTED;
    }
    if (Effect)
        *Effect = DropEffectValue(effect);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TShDropFiles::DragLeave()
{
    dataObject_.Reset();
    OnDragLeave(this);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TShDropFiles::Drop(IDataObject*, DWORD KeyState, POINTL Pt, DWORD* Effect)
{
    TShDropEffect effect = deNone;
    HRESULT hr = S_OK;
    try {
        OnDrop(this, KeyStateToShift(KeyState), POINT{Pt.x, Pt.y}, effect);
    } catch (...) {
        hr = E_UNEXPECTED;
    }
    dataObject_.Reset();
    if (hr == S_OK && Effect)
        *Effect = DropEffectValue(effect);
    return hr;
}

}  // namespace shell
