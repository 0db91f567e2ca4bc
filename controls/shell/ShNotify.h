// The change notifier and the drop-files target of the shell controls.
//
// TShellChangeNotifier asks the shell to report changes below chosen folders
// (files created, deleted, renamed, folders changed, drives and media added
// or removed, shares) to a hidden window of the main thread, filters them,
// drops quick repeats and delivers them: OnChangeIDList at once, OnChange
// later on the main thread through a work item of the shell work pool. The
// shell reports only what is announced to it (its own file operations and
// programs calling SHChangeNotify); with WatchFileSystem on, the notifier
// also reads the file system's own change records (TShFolderWatch) and
// reports a watched folder whose contents changed as neFolderUpdate of that
// folder, whoever made the change.
//
// TShDropFiles makes a windowed control an OLE drop target for files: the
// names of the dragged files are collected when the drag enters and event
// handlers choose the drop effect. The thread that registers must have
// initialised OLE (OleInitialize); the platform calls the target on that
// thread from its drag loop.
//
// Threads: both components belong to the main thread.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <shlobj.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/ComObject.h"
#include "classlib/Controls.h"
#include "classlib/Events.h"
#include "classlib/StringList.h"
#include "controls/shell/ShComRef.h"
#include "controls/shell/ShFolderWatch.h"
#include "controls/shell/ShImageList.h"
#include "controls/shell/ShNamespace.h"
#include "controls/shell/ShellLink.h"

namespace classlib {
class TTimer;
}

namespace shell {

enum TNotificationEvent : std::uint8_t {
    neAssociationChange, neAttributesChange, neFileChange, neFileCreate, neFileDelete,
    neFileRename, neDriveAdd, neDriveRemove, neShellDriveAdd, neDriveSpaceChange,
    neMediaInsert, neMediaRemove, neFolderCreate, neFolderDelete, neFolderRename,
    neFolderUpdate, neNetShare, neNetUnShare, neServerDisconnect, neImageListChange,
    neUnknown
};
// A set of TNotificationEvent values (bit n = value n).
using TNotificationEvents = std::uint32_t;
constexpr TNotificationEvents NotificationBit(TNotificationEvent e) { return TNotificationEvents(1) << e; }
// Every value except neUnknown.
constexpr TNotificationEvents AllNotificationEvents = 0xFFFFF;

// The shell's event bit of a value (neUnknown: all events).
LONG NotificationEventFlag(TNotificationEvent e);
// The value of a raw shell event (its interrupt flag ignored); neUnknown for
// anything not in the table.
TNotificationEvent NotificationEventOf(LONG rawEvent);
// The OR of the shell bits of every value in events.
LONG NotificationFlags(TNotificationEvents events);

// The message the shell posts to the notification window.
constexpr UINT WM_SHELLNOTIFY = 2011;
// The message the folder watch posts to it when watched folders changed.
constexpr UINT WM_FOLDERWATCH = WM_SHELLNOTIFY + 1;

using TShellNotifierEvent = classlib::TEvent<void(classlib::TObject* Sender, TNotificationEvent Event,
                                                  const std::wstring& Path1, const std::wstring& Path2)>;
// The same with the item lists (borrowed for the call).
using TShellNotifierIDListEvent = classlib::TEvent<void(classlib::TObject* Sender, TNotificationEvent Event,
                                                        LPCITEMIDLIST Pidl1, LPCITEMIDLIST Pidl2)>;

// Registers Pidl with the shell for the events of Filter; the registration
// id, 0 when refused.
ULONG RegisterPidl(LPCITEMIDLIST Pidl, bool Recursive, HWND Window, TNotificationEvents Filter);
void Deregister(ULONG Id);

class TShellChangeNotifier;

// The watched folders in insertion order. Paths are normalised but neither
// sorted nor tested for existence (the empty path, meaning My Computer, is
// accepted). Every entry's object slot holds its registration id (0 when not
// registered); a path is registered as soon as it is added.
class TShellChangeNotifierList : public TShPathList {
public:
    explicit TShellChangeNotifierList(TShellChangeNotifier* ANotifier);
    // Releases every registration.
    ~TShellChangeNotifierList() override;
    std::wstring ClassName() const override { return L"TShellChangeNotifierList"; }

    // Registers every entry without an id; Registered becomes true.
    void RegisterAll();
    // When Registered: releases every registration; Registered false.
    void DeregisterAll();
    // When Registered: DeregisterAll then RegisterAll.
    void Reregister();
    // When Registered the notifier restarts (watching My Computer when no
    // folder is left); otherwise the entries are released and removed.
    void Clear() override;

    ULONG GetId(int Index) const;
    bool GetRegistered() const { return registered_; }

    bool AcceptPath(const std::wstring&) const override { return true; }

private:
    void PathAdded(const std::wstring& Path, int Index);
    void PathRemoved(const std::wstring& Path, int Index);
    void RegisterEntry(int Index);
    void ReleaseEntry(int Index);

    bool registered_ = false;
    TShellChangeNotifier* notifier_;
};

class TShellChangeNotifier : public TShBaseComponent {
public:
    // Disabled at run time; enabled at design time.
    explicit TShellChangeNotifier(classlib::TComponent* Owner);
    // Disables, serves pending synchronised calls, drops the notifications
    // not yet delivered to OnChange, and frees the window and lists.
    ~TShellChangeNotifier() override;
    std::wstring ClassName() const override { return L"TShellChangeNotifier"; }

    void Loaded() override;
    void SetEnabled(bool Value) override;

    // Registers the watched folders (My Computer, recursively, when there
    // are none, no ID-list handler and no root) and the root. Nothing while
    // disabled, designing or loading; disables the notifier when the shell
    // offers no registration.
    void Start();
    // Releases the registrations.
    void Stop();
    // Stop, Directories cleared, Start.
    void Restart();

    TShellChangeNotifierList* GetDirectories() { return directories_.get(); }
    void SetDirectories(const classlib::TStrings* Value);
    bool GetRecursive() const { return recursive_; }
    void SetRecursive(bool Value);
    TNotificationEvents GetEventFilter() const { return eventFilter_; }
    void SetEventFilter(TNotificationEvents Value);
    LPCITEMIDLIST GetRootPidl() const { return rootPidl_.get(); }
    // Watches a copy of Pidl (null for none) in addition to Directories.
    void SetRootPidl(LPCITEMIDLIST Pidl);
    ULONG GetRootRegistration() const { return rootRegistration_; }
    HWND GetNotifyWindow() const { return notifyWindow_; }

    // Off by default. On: while started, the file-system folders of
    // Directories and of the root, and the folders given to WatchFolder,
    // are watched one by one (not their subfolders, whatever Recursive
    // says); a change in one is delivered as neFolderUpdate of that folder
    // (when EventFilter holds it), without the repeat suppression (the
    // watch already joins a burst of changes into one report). A watched
    // folder that goes away is reported once, to OnChangeIDList as an
    // update of its parent. Folders added to Directories while started are
    // watched from the next Start.
    bool GetWatchFileSystem() const { return watchFileSystem_; }
    void SetWatchFileSystem(bool Value);
    // Counted: each WatchFolder needs its UnwatchFolder. These folders are
    // polled (TShFolderWatch's Poll: no handle that would hold up their
    // deletion; new, renamed and deleted entries are seen, not changes to
    // the contents of files).
    void WatchFolder(const std::wstring& Folder);
    void UnwatchFolder(const std::wstring& Folder);
    // Forgets every WatchFolder folder.
    void UnwatchFolders();
    // True while Folder is being watched.
    bool WatchingFolder(const std::wstring& Folder) const;

    // Queues the delivery of a change to OnChange (main thread, later).
    virtual void DoChange(classlib::TObject* Sender, TNotificationEvent Event, const std::wstring& Path1,
                          const std::wstring& Path2);

    TShellNotifierEvent OnChange;
    TShellNotifierIDListEvent OnChangeIDList;

private:
    friend class TShellChangeNotifierList;
    static LRESULT CALLBACK NotifyWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
    LRESULT HandleNotify(WPARAM WParam, LPARAM LParam);
    void StartFolderWatch();
    void StopFolderWatch();
    void DeliverFolderChanges();
    bool Designing() const { return (GetComponentState() & classlib::csDesigning) != 0; }

    HWND notifyWindow_ = nullptr;
    std::unique_ptr<TShellChangeNotifierList> directories_;
    bool recursive_ = true;
    TNotificationEvents eventFilter_ = AllNotificationEvents;
    TPidl lastPidl_;
    LONG lastEvent_ = 0;
    DWORD lastTick_ = 0;
    TPidl rootPidl_;
    ULONG rootRegistration_ = 0;
    bool watchFileSystem_ = false;
    bool folderWatchOn_ = false;
    std::vector<std::wstring> extraFolders_;  // WatchFolder's folders, repeats kept
    std::unique_ptr<TShFolderWatch> folderWatch_;
    // Cleared (on the main thread) when the notifier is destroyed; queued
    // deliveries hold a copy and check it on the main thread before calling.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

enum TShDropEffect : std::uint8_t { deNone, deCopy, deMove, deLink };
// The platform's DROPEFFECT_ value.
DWORD DropEffectValue(TShDropEffect Effect);
// The class library's shift state of the platform's MK_ key and button flags.
classlib::TShiftState KeyStateToShift(DWORD KeyState);

using TShDragDropEvent = classlib::TEvent<void(classlib::TObject* Sender, classlib::TShiftState KeyState,
                                               POINT MousePos, TShDropEffect& Effect)>;

// The drop target. Not reference counted: the component's lifetime rules
// (it revokes its registration when destroyed).
class TShDropFiles : public classlib::TComponent, public classlib::TUncountedComObject<IDropTarget, IID_IDropTarget> {
public:
    explicit TShDropFiles(classlib::TComponent* Owner);
    ~TShDropFiles() override;
    std::wstring ClassName() const override { return L"TShDropFiles"; }

    classlib::TWinControl* GetControl() const { return control_; }
    void SetControl(classlib::TWinControl* Value);
    bool GetEnabled() const { return enabled_; }
    void SetEnabled(bool Value);
    bool GetRegistered() const { return registered_; }
    HWND GetRegisteredWindow() const { return registeredWindow_; }
    classlib::TTimer* GetRecheckTimer() const { return recheckTimer_; }

    // Registers or revokes the control's current window as Enabled says; a
    // failed registration disables the target.
    void UpdateRegistration();
    // Registers again when the control's window was recreated (run by the
    // timer every 5 s while enabled).
    void RecheckHandle();

    // The names of the files of the drag in progress (filled on entering).
    classlib::TStringList* GetDroppedFiles() const { return droppedFiles_.get(); }

    TShDragDropEvent OnDrop;
    TShDragDropEvent OnDragOver;
    TShDragDropEvent OnDragEnter;
    classlib::TNotifyEvent OnDragLeave;

    // IDropTarget.
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* DataObj, DWORD KeyState, POINTL Pt, DWORD* Effect) override;
    HRESULT STDMETHODCALLTYPE DragOver(DWORD KeyState, POINTL Pt, DWORD* Effect) override;
    HRESULT STDMETHODCALLTYPE DragLeave() override;
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* DataObj, DWORD KeyState, POINTL Pt, DWORD* Effect) override;

protected:
    void Notification(classlib::TComponent* Component, classlib::TOperation Operation) override;

private:
    void TimerFired(classlib::TObject* Sender);
    void Revoke();
    bool Designing() const { return (GetComponentState() & classlib::csDesigning) != 0; }

    classlib::TWinControl* control_ = nullptr;
    bool enabled_ = true;
    bool registered_ = false;
    std::unique_ptr<classlib::TStringList> droppedFiles_;
    TComRef<IDataObject> dataObject_;
    HWND registeredWindow_ = nullptr;
    classlib::TTimer* recheckTimer_ = nullptr;  // owned as a component
};

}  // namespace shell
