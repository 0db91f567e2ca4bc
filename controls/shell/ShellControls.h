// The folder tree and the file list of the file system.
//
// TShellTree shows the folders as a tree view: the desktop folder and the
// drives at the top, sub-folders read when a node first opens. Selecting a
// folder fires OnChange and passes the folder to the linked controls.
// TShellList shows the files of one folder (the names matching one of the
// ";"-separated masks of Filter, sorted ignoring case; folders only with
// ShowFolders) in a report-style list of one column; setting Path, Filter or
// ShowFolders fills it again and fires OnPopulated, then OnPathChanged when
// the folder changed. Both join a TShellLink (ShellLink.h): a folder chosen
// in one shows in the other.
//
// Ownership: the component owner deletes the controls; each unregisters from
// its link when deleted. Threads: main thread only.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "classlib/ComCtrls.h"
#include "classlib/Controls.h"
#include "classlib/Events.h"
#include "controls/shell/ShImageList.h"
#include "controls/shell/ShNotify.h"
#include "controls/shell/ShellLink.h"

namespace classlib {
class TTimer;
}

namespace shell {

// The root of a control: only the desktop is used.
enum TShellSpecialFolder : uint8_t { sfDesktop, sfDrives, sfPersonal };

// The shared part of the tree and the list: the link registration and the
// icons looked up in the background (out of the small system image list).
class TShellLinkClient : public IShellControl {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    void STDMETHODCALLTYPE SetShellLink(TShellLink* Link) override;
    TShellLink* STDMETHODCALLTYPE GetShellLink() override { return link_; }
    void STDMETHODCALLTYPE SelectionChanged(LPCITEMIDLIST, LPCITEMIDLIST) override {}
    void STDMETHODCALLTYPE SelectAll() override {}
    void STDMETHODCALLTYPE UpdateContents() override { FullRefresh(); }
    void STDMETHODCALLTYPE NavigateUp() override {}

protected:
    TShellLinkClient();
    ~TShellLinkClient();
    // A finished lookup of QueueIcon, on the main thread: Kind 0 the closed,
    // 2 the open icon of the item or node Tag. Never called for work that
    // was cancelled, nor after DetachIcons.
    virtual void IconArrived(int IconIndex, std::uint8_t Kind, classlib::TObject* Tag) = 0;
    // Queues the lookup of Path's icon for Tag; Group is the control.
    void QueueIcon(classlib::TObject* Group, classlib::TObject* Tag, const std::wstring& Path, std::uint8_t Kind);
    // Cancels the queued and running lookups of Owner and/or Group.
    static void CancelWork(classlib::TObject* Owner, classlib::TObject* Group);
    // The first step of a control's destructor: no lookup reaches it after.
    void DetachIcons();
    HIMAGELIST SmallIcons() const { return smallIcons_->GetHandle(); }
    // Tells the other linked controls that this one shows Folder.
    void NotifyFolder(const std::wstring& Folder);
    // The folder of an absolute item list ("" when it has no file-system
    // path).
    static std::wstring PathOfPidl(LPCITEMIDLIST Pidl);

    TShellLink* link_ = nullptr;

private:
    class TIconSink;
    // Reference counted: a finished work item may still hold it after the
    // control is gone (it then forwards nothing).
    TIconSink* iconSink_;
    std::unique_ptr<TShSystemImageList> smallIcons_;
};

class TShellTree : public classlib::TSystemControl, public TShellLinkClient {
public:
    explicit TShellTree(classlib::TComponent* AOwner);
    ~TShellTree() override;
    std::wstring ClassName() const override { return L"TShellTree"; }

    // The selected folder with its trailing backslash stripped ("" when
    // none). Setting opens the nodes down to an existing folder and selects
    // it (OnChange fires); a folder that does not exist is ignored.
    std::wstring GetPath() const;
    void SetPath(const std::wstring& Value);
    // The same as Path (the name the settings use).
    std::wstring GetSelectedFolder() const { return GetPath(); }
    void SetSelectedFolder(const std::wstring& Value) { SetPath(Value); }
    TShellSpecialFolder SpecialFolder = sfDesktop;
    // Folder-name masks ("*": every folder).
    std::wstring Filter = L"*";
    std::wstring Version() const { return L"TShellTree V1.0.0.0"; }

    // Reads the top level again (keeping the selected folder when it still
    // exists).
    void STDMETHODCALLTYPE FullRefresh() override;
    void STDMETHODCALLTYPE FolderChanged(LPCITEMIDLIST AbsolutePidl) override;

    // The folder selection changed.
    classlib::TNotifyEvent OnChange;

protected:
    std::wstring SystemClassName() const override { return WC_TREEVIEWW; }
    void CreateParams(classlib::TCreateParams& Params) override;
    void CreateHandleDone() override;
    void CNNotify(classlib::TMessage& Message) override;

private:
    struct TNode : classlib::TObject {
        std::wstring Path;  // with trailing backslash
        bool Filled = false;
        HTREEITEM Item = nullptr;
        int Image = -1;      // closed icon (-1: not known yet)
        int OpenImage = -1;  // icon while selected
        bool IconAsked = false;
    };
    void IconArrived(int IconIndex, std::uint8_t Kind, classlib::TObject* Tag) override;
    // Cancels the work of every node (one pass) and forgets the nodes.
    void DropNodes();
    HTREEITEM AddNode(HTREEITEM Parent, const std::wstring& Caption, const std::wstring& Path);
    void FillNode(HTREEITEM Item);
    TNode* NodeOf(HTREEITEM Item) const;
    HTREEITEM FindChild(HTREEITEM Parent, const std::wstring& Path);
    void FillRoots();
    LRESULT Send(UINT Msg, WPARAM WParam = 0, LPARAM LParam = 0) const { return SendToWindow(Msg, WParam, LParam); }

    std::vector<std::unique_ptr<TNode>> nodes_;
    std::wstring pendingPath_;  // set before the window exists
    std::wstring selected_;
    int quiet_ = 0;
    // Folders the shell announces as created, removed or renamed show in
    // (or leave) their parent node when it has been read.
    void ShellChanged(classlib::TObject* Sender, TNotificationEvent Event, const std::wstring& Path1,
                      const std::wstring& Path2);
    // Reads the sub-folders of a read node again (keeping the nodes that
    // stay, with what is read below them).
    void RefreshChildren(const std::wstring& Folder);
    std::unique_ptr<TShellChangeNotifier> notifier_;
};

// One object of a folder as the list shows it.
struct TFolderEntry {
    std::wstring Name;
    bool Folder = false;
    std::uint64_t Size = 0;
    FILETIME Modified{};  // UTC
};
// The details the list can show, in column order with Details on.
enum TListDetail : std::uint8_t { ldName, ldSize, ldType, ldModified };
constexpr int ListDetailCount = 4;
// The text of a detail: the name; the size in KB rounded up ("" for a
// folder); the shell's type name; the local date and time of the last write
// ("yyyy-mm-dd hh:nn").
std::wstring DetailText(const TFolderEntry& Entry, TListDetail Detail);
// Orders Entries by Detail (ties by name, ignoring case), folders before
// files in both directions.
void SortEntries(std::vector<TFolderEntry>& Entries, TListDetail Detail, bool Descending);
// The effect of dropping files with KeyState (MK_ flags) when the source
// allows Allowed: Shift moves, Ctrl copies, neither moves within a drive
// and copies across drives; when the source does not allow that, copy,
// then move; never a link; DROPEFFECT_NONE when neither is allowed.
DWORD ChooseDropEffect(DWORD KeyState, DWORD Allowed, bool SameDrive);
// ListFolderFiles with each object's details.
std::vector<TFolderEntry> ListFolderEntries(const std::wstring& Folder, const std::wstring& Masks, bool Folders,
                                            bool Hidden = false);

// Sender; item index; object path; the new state.
using TOnCheckStateChanged =
    classlib::TEvent<void(classlib::TObject* Sender, int ItemIndex, const std::wstring& Path, TShSelectionState State)>;

class TShellList : public classlib::TListView, public TShellLinkClient {
public:
    explicit TShellList(classlib::TComponent* AOwner);
    ~TShellList() override;
    std::wstring ClassName() const override { return L"TShellList"; }

    // The folder shown, with its trailing backslash ("" when none). Setting
    // a folder that does not exist leaves the list as it is.
    const std::wstring& GetPath() const { return path_; }
    void SetPath(const std::wstring& Value);
    // Masks separated by ";" (e.g. "*.gif;*.jpg"), matched ignoring case.
    const std::wstring& GetFilter() const { return filter_; }
    void SetFilter(const std::wstring& Value);
    bool GetShowFolders() const { return showFolders_; }
    void SetShowFolders(bool Value);
    // Hidden files and folders are listed (default false).
    bool GetShowHidden() const { return showHidden_; }
    void SetShowHidden(bool Value);
    // Report view shows the columns Name, Size, Type and Modified (default);
    // off: the name only. Changing refills.
    bool GetDetails() const { return details_; }
    void SetDetails(bool Value);
    // The order of a fill: by the detail of column SortColumn, descending
    // when SortDescending. A click on the sort column toggles the direction,
    // on another column sorts by it ascending; the header shows the arrow.
    // Items the automatic refresh adds are appended unsorted.
    int GetSortColumn() const { return sortColumn_; }
    bool GetSortDescending() const { return sortDescending_; }
    void SortBy(int Column, bool Descending);
    // Changes the shell announces in the shown folder refresh the list
    // 300 ms after the last one (UpdateContents); a deleted file leaves at
    // once. A shown folder that no longer exists empties the list.
    bool GetAutomaticRefresh() const { return automaticRefresh_; }
    void SetAutomaticRefresh(bool Value);
    TShellSpecialFolder SpecialFolder = sfDesktop;
    bool ShellContextMenu = false;
    std::wstring Version() const { return L"TShellList V1.0.0.0"; }

    // The full path of the item at Index / of Item.
    std::wstring GetItemPathAt(int Index) const;
    std::wstring GetItemPath(const classlib::TListItem* Item) const;
    // Renames the object of the item at Index within the folder and
    // announces it to the shell; false (the item unchanged) when the name
    // is empty, holds a character a file name cannot, names another object
    // or the file system refuses. With ReadOnly off, F2 and a slow second
    // click edit the selected name in place and end here.
    bool RenameItem(int Index, const std::wstring& NewName);
    // Check boxes from the link's selection list: checking an object adds
    // its path, unchecking removes it; a folder with something checked
    // below shows grey. Needs a link (without one the value stays false).
    // Space or a click on the box toggles the selected object.
    bool GetCheckboxes() const { return checkboxes_; }
    void SetCheckboxes(bool Value);
    // Toggles the check of the item at Index (nothing for an object that
    // cannot be checked); fires OnCheckStateChanged.
    void ToggleCheck(int Index);
    TOnCheckStateChanged OnCheckStateChanged;
    // Files dragged onto the list are copied or moved into its folder
    // (default true; registered with the window, which needs OLE set up on
    // the thread). The drop target is the list's for its whole life.
    bool GetOleDragDrop() const { return oleDragDrop_; }
    void SetOleDragDrop(bool Value);
    IDropTarget* GetDropTarget() const;
    // Reads the folder again; the objects selected before stay selected.
    // The first 300 items arrive at once, the rest in steps of 300 from the
    // message loop (timer messages, so that input and painting go first);
    // OnPopulated fires after the last step. A new fill or a freed list
    // drops the steps still to come.
    void Populate();
    // Reads the folder again keeping the items still there (and their
    // selection): vanished ones leave, new ones are appended unsorted. A
    // list of more than 500 items is filled again instead.
    void STDMETHODCALLTYPE UpdateContents() override;

    void STDMETHODCALLTYPE FullRefresh() override { Populate(); }
    void STDMETHODCALLTYPE FolderChanged(LPCITEMIDLIST AbsolutePidl) override;

    // The list was filled.
    classlib::TNotifyEvent OnPopulated;
    // The folder changed (after OnPopulated).
    classlib::TNotifyEvent OnPathChanged;
    // An item was double-clicked.
    classlib::TNotifyEvent OnDblClick;

protected:
    void CNNotify(classlib::TMessage& Message) override;
    void CreateHandleDone() override;
    void DestroyWnd() override;
    // Asks the work pool for the icon of an item the first time the window
    // draws it.
    int ItemImageIndex(classlib::TListItem* Item) override;

private:
    class TDropTarget;
    struct TItemTag;
    void Register();
    void Revoke();
    // The effect a drop of Files with KeyState would have here within
    // Allowed; none when the files are already in the shown folder.
    DWORD DropEffect(const classlib::TStringList* Files, DWORD KeyState, DWORD Allowed) const;
    // Copies or moves Files here; the effect done (none on failure or
    // cancel).
    DWORD DropFiles(const classlib::TStringList* Files, DWORD Effect);
    void IconArrived(int IconIndex, std::uint8_t Kind, classlib::TObject* Tag) override;
    // Gives Item a tag of its own for its background work.
    void Tag(classlib::TListItem* Item);
    // Drops the background work of every item (one pass) / of Item, and
    // their tags: late results for them are never applied.
    void DropAllWork();
    void DeleteItem(int Index);
    void WatchFolder();
    void ShellChanged(classlib::TObject* Sender, TNotificationEvent Event, const std::wstring& Path1,
                      const std::wstring& Path2);
    void RefreshTimer(classlib::TObject* Sender);
    void FillStep(classlib::TObject* Sender);
    void AddPending();
    int IndexOfName(const std::wstring& Name) const;

    std::wstring path_;
    std::wstring filter_ = L"*";
    bool showFolders_ = true;
    bool showHidden_ = false;
    bool details_ = true;
    bool oleDragDrop_ = true;
    bool checkboxes_ = false;
    // The state images of the check boxes (ssUnused .. ssGrayed); owned.
    HIMAGELIST checkImages_ = nullptr;
    int CheckState(classlib::TListItem* Item) const;
    bool dropRegistered_ = false;
    std::unique_ptr<TDropTarget> dropTarget_;
    int sortColumn_ = 0;
    bool sortDescending_ = false;
    // The detail each column shows (one per detail at most).
    TListDetail columnDetail_[ListDetailCount] = {ldName, ldSize, ldType, ldModified};
    void CreateColumns();
    void ShowSortArrow();
    classlib::TListItem* AddEntry(const TFolderEntry& Entry);
    bool automaticRefresh_ = true;
    bool filling_ = false;
    std::unique_ptr<TShellChangeNotifier> notifier_;
    std::unique_ptr<classlib::TTimer> refreshTimer_;
    // The fill in progress: the names still to add from pendingNext_ on and
    // the names to select again once all are in.
    std::vector<TFolderEntry> pending_;
    std::size_t pendingNext_ = 0;
    std::vector<std::wstring> reselect_;
    std::unique_ptr<classlib::TTimer> fillTimer_;
    // The tags of the items shown, each owned here until its item leaves.
    std::unordered_map<classlib::TObject*, std::unique_ptr<TItemTag>> tags_;
};

// The files in Folder (names without folder) that match one of the
// ";"-separated masks, sorted ignoring case; with Folders also the
// sub-folders (listed first); hidden ones only with Hidden. Empty when the
// folder cannot be read.
std::vector<std::wstring> ListFolderFiles(const std::wstring& Folder, const std::wstring& Masks, bool Folders,
                                          bool Hidden = false);

}  // namespace shell
