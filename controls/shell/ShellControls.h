// The folder tree and the file list of the shell namespace.
//
// TShellTree shows the namespace as a tree view below one root (the desktop
// by default), each node read when it first opens. TShellList shows the
// objects of one folder, file-system or virtual, in a list view. Both read
// the namespace through a TShFolderObject of their own, look up icons on
// the shell work pool, follow changes announced by the shell and join a
// TShellLink (ShellLink.h): a folder chosen in one shows in the other.
//
// Ownership: the component owner deletes the controls; each unregisters from
// its link and cancels its background work when deleted. Threads: main
// thread only.
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
#include "classlib/ComObject.h"
#include "classlib/Controls.h"
#include "classlib/Events.h"
#include "controls/shell/ShFolderObject.h"
#include "controls/shell/ShImageList.h"
#include "controls/shell/ShNamespace.h"
#include "controls/shell/ShNotify.h"
#include "controls/shell/ShellLink.h"

namespace classlib {
class TTimer;
}

namespace shell {

// The option set of the list and the tree (16 bits).
using ShellOptions = std::uint16_t;
enum TShellOption : ShellOptions {
    soShowNethood = 1 << 0,
    soShowRecycleBin = 1 << 1,
    soShowErrorMessages = 1 << 2,
    soShowHidden = 1 << 3,
    soShowFiles = 1 << 4,
    soShowContextMenuOnTop = 1 << 5,
    soColorCompressed = 1 << 6,
    soColorEncrypted = 1 << 7,
    soNoFillOnStartup = 1 << 8,
};

// What a control did to objects (a set of bits 0..9).
enum TShellOperation : std::uint8_t {
    sopCopy, sopMove, sopDrag, sopDrop, sopCut, sopPaste, sopDelete, sopRemove, sopAdd, sopRename
};
using TShellOperations = std::uint16_t;
constexpr TShellOperations OperationBit(TShellOperation o) { return TShellOperations(1u << o); }
// Sender; what was done; the paths it was done to (borrowed for the call);
// the destination folder ("" when none).
using TOnOperation = classlib::TEvent<void(classlib::TObject* Sender, TShellOperations Operation,
                                           classlib::TStringList* Files, const std::wstring& Destination)>;

// Sender; item index; object path; the new state.
using TOnCheckStateChanged =
    classlib::TEvent<void(classlib::TObject* Sender, int ItemIndex, const std::wstring& Path, TShSelectionState State)>;

// Whether the browser's current object shows with Options: hidden objects
// only with soShowHidden; the network folders only with soShowNethood; the
// recycle bin (and hidden objects named "RECYCL...") only with
// soShowRecycleBin; files only with soShowFiles.
bool IsShownObject(TShFolderObject& Browser, ShellOptions Options);

// The shared part of the tree and the list: the link registration and the
// icons looked up in the background (out of the small system image list).
class TShellLinkClient : public classlib::TUncountedComObject<IShellControl, IID_IShellControl> {
public:
    void STDMETHODCALLTYPE SetShellLink(TShellLink* Link) override;
    TShellLink* STDMETHODCALLTYPE GetShellLink() override { return link_; }

protected:
    TShellLinkClient();
    ~TShellLinkClient();
    // A finished lookup of QueueIcon, on the main thread: Kind 0 the closed,
    // 1 the overlay, 2 the open icon of the item or node Tag. Never called
    // for work that was cancelled, nor after DetachIcons.
    virtual void IconArrived(int IconIndex, std::uint8_t Kind, classlib::TObject* Tag) = 0;
    // Queues the lookup of the icon of the absolute list Pidl (taken over)
    // for Tag; Group is the control.
    void QueueIcon(classlib::TObject* Group, classlib::TObject* Tag, TPidl Pidl, std::uint8_t Kind);
    // Cancels the queued and running lookups of Owner and/or Group.
    static void CancelWork(classlib::TObject* Owner, classlib::TObject* Group);
    // The first step of a control's destructor: no lookup reaches it after.
    void DetachIcons();
    HIMAGELIST SmallIcons() const { return smallIcons_->GetHandle(); }
    // The folder of an absolute item list ("" when it has no file-system
    // path).
    static std::wstring PathOfPidl(LPCITEMIDLIST Pidl);

    TShellLink* link_ = nullptr;

private:
    // The namespace layer stays started while a control lives (counted:
    // the program's own start-up is not disturbed).
    TShellScope shellScope_;
    class TIconSink;
    // Reference counted: a finished work item may still hold it after the
    // control is gone (it then forwards nothing).
    TIconSink* iconSink_;
    std::unique_ptr<TShSystemImageList> smallIcons_;
};

// The shell namespace as a tree: one root node (the desktop, a special
// folder or a file-system folder), below it the folders (and, with
// ShowFiles, the files), read when a node first opens. Selecting a node
// fires OnChange and tells the linked controls.
class TShellTree : public classlib::TSystemControl, public TShellLinkClient {
public:
    explicit TShellTree(classlib::TComponent* AOwner);
    ~TShellTree() override;
    std::wstring ClassName() const override { return L"TShellTree"; }

    // The root. Setting builds the root node again, expanded one level and
    // selected (once the window exists); the history is cleared.
    TShellFolder GetRootedAt() const { return rootedAt_; }
    void SetRootedAt(TShellFolder Value);
    // A folder path as the root ("" when the root is not a folder path).
    // Setting a path that is neither a drive root nor an existing folder
    // raises Exception ("TShellTree cannot be rooted at a file. File path:
    // " + the text) and leaves the property and the root as they were.
    const std::wstring& GetRootedAtFileSystemFolder() const { return rootedAtFolder_; }
    void SetRootedAtFileSystemFolder(const std::wstring& Value);

    // The file-system path of the selected node (for a virtual folder the
    // path of its special folder when it has one, else ""). Setting parses
    // the path, opens the nodes down to it and selects it (OnChange fires);
    // a path that cannot be parsed selects nothing. "" selects My Computer
    // on a desktop-rooted tree, else the root.
    std::wstring GetSelectedFolder() const;
    void SetSelectedFolder(const std::wstring& Value);
    // The same without a trailing backslash (the name the program uses).
    std::wstring GetPath() const;
    void SetPath(const std::wstring& Value) { SetSelectedFolder(Value); }
    // The special folder of the selected node (SF_FILESYSTEMFOLDER for any
    // other); setting selects that folder.
    TShellFolder GetSpecialFolder() const;
    void SetSpecialFolder(TShellFolder Value);
    // A copy of the selected node's absolute list (null when none).
    TPidl SelectedPidl() const;
    // Finds the node of an absolute list: Mode 0 opens the nodes down to it
    // and selects it, 1 reads that folder again, 2 reads its parent again,
    // 3 deletes its node. True when the node was found (or added).
    bool LocatePidl(LPCITEMIDLIST Pidl, int Mode);
    // Moves the history back (Count <= 0, by |Count|) or forward and
    // selects the folder it lands on.
    void HistoryStep(int Count);
    TPidlHistory* GetHistory() const { return history_.get(); }

    ShellOptions GetShellOptions() const { return options_; }
    void SetShellOptions(ShellOptions Value);
    bool GetOption(TShellOption Option) const { return (options_ & Option) != 0; }
    void SetOption(TShellOption Option, bool Value);
    bool GetShowHidden() const { return GetOption(soShowHidden); }
    void SetShowHidden(bool Value) { SetOption(soShowHidden, Value); }
    bool GetShowFiles() const { return GetOption(soShowFiles); }
    void SetShowFiles(bool Value) { SetOption(soShowFiles, Value); }
    bool GetShowNethood() const { return GetOption(soShowNethood); }
    void SetShowNethood(bool Value) { SetOption(soShowNethood, Value); }
    bool GetShowRecycleBin() const { return GetOption(soShowRecycleBin); }
    void SetShowRecycleBin(bool Value) { SetOption(soShowRecycleBin, Value); }
    bool GetShowErrorMessages() const { return GetOption(soShowErrorMessages); }
    void SetShowErrorMessages(bool Value) { SetOption(soShowErrorMessages, Value); }
    // The browser's masks (";"-separated); setting reads the tree again.
    std::wstring GetFilter() const;
    void SetFilter(const std::wstring& Value);
    bool GetFileSystemOnly() const;
    void SetFileSystemOnly(bool Value);
    // Selecting a node collapses its siblings and opens it.
    bool ExpandOnSelected = false;
    // A right click on a node shows the shell's menu of its object.
    bool ShellContextMenu = true;
    // Node names cannot be edited in place (F2 or a slow second click edit
    // them otherwise; set before the window is made).
    bool ReadOnly = false;
    // Renames the object of a node through the shell (no waiting on the
    // window thread); the node follows, OnOperation reports it and the
    // linked controls update. False when the shell refuses.
    bool RenameNode(HTREEITEM Item, const std::wstring& NewName);
    // Check boxes from the link's selection list: a node's box shows the
    // state of its object (grey when something below is checked). Needs a
    // link (without one the value stays false). Space or a click on the box
    // toggles; the ancestors and the opened nodes below follow.
    bool GetCheckBoxes() const { return checkBoxes_; }
    void SetCheckBoxes(bool Value);
    void ToggleCheck(HTREEITEM Item);
    // The state image of a node (a TShSelectionState; 0 without boxes).
    int GetNodeState(HTREEITEM Item) const;
    TOnCheckStateChanged OnCheckStateChanged;
    TOnOperation OnOperation;
    // Files dragged onto a node are copied or moved into its folder (set
    // before the window is made; needs OLE set up on the thread).
    bool OleDragDrop = true;
    IDropTarget* GetDropTarget() const;
    bool GetAutomaticRefresh() const;
    void SetAutomaticRefresh(bool Value);
    std::wstring Version() const { return L"TShellTree V1.0.0.0"; }

    // The file-system path of a node's object ("" for virtual objects).
    std::wstring NodePath(HTREEITEM Node) const;
    // Whether the node of an absolute list is shown (read nodes only).
    HTREEITEM FindNode(LPCITEMIDLIST Pidl) const;

    void STDMETHODCALLTYPE FolderChanged(LPCITEMIDLIST AbsolutePidl) override;
    void STDMETHODCALLTYPE SelectionChanged(LPCITEMIDLIST FolderPidl, LPCITEMIDLIST ObjectPidl) override;
    void STDMETHODCALLTYPE SelectAll() override {}
    // Reads every read node again (the root when there is none).
    void STDMETHODCALLTYPE FullRefresh() override;
    // Reads the selected node again.
    void STDMETHODCALLTYPE UpdateContents() override;
    void STDMETHODCALLTYPE NavigateUp() override;

    // The selection changed.
    classlib::TNotifyEvent OnChange;
    // A node is about to be added (Path: its file-system path); CanAdd
    // false keeps it out.
    classlib::TEvent<void(HTREEITEM Node, const std::wstring& Path, bool& CanAdd)> OnAddFolder;

protected:
    std::wstring SystemClassName() const override { return WC_TREEVIEWW; }
    void CreateParams(classlib::TCreateParams& Params) override;
    void CreateHandleDone() override;
    void CNNotify(classlib::TMessage& Message) override;
    void DestroyWnd() override;

private:
    struct TNode;
    class TDropTarget;
    std::unique_ptr<TDropTarget> dropTarget_;
    bool dropRegistered_ = false;
    // The folder of the node under a screen point ("" when none) and the
    // node itself.
    HTREEITEM NodeAt(POINTL ScreenPoint);
    DWORD DropInto(HTREEITEM Node, const classlib::TStringList* Files, DWORD Effect);
    void IconArrived(int IconIndex, std::uint8_t Kind, classlib::TObject* Tag) override;
    TNode* NodeOf(HTREEITEM Item) const;
    HTREEITEM Child(HTREEITEM Item) const;
    HTREEITEM Next(HTREEITEM Item) const;
    HTREEITEM Parent(HTREEITEM Item) const;
    HTREEITEM Root() const;
    HTREEITEM Selected() const;
    bool Expanded(HTREEITEM Item) const;
    int Level(HTREEITEM Item) const;
    void SetChildren(HTREEITEM Item, bool Value);
    // Adds the browser's current object under Parent (when it shows).
    HTREEITEM AddChildNode(HTREEITEM Parent, bool Keep);
    // Reads the children of a node that has none yet.
    void ExpandNode(HTREEITEM Item);
    void SortChildren(HTREEITEM Item);
    void RefreshNode(HTREEITEM Item, bool Recursive);
    void DeleteNode(HTREEITEM Item);
    void NotifyLink(HTREEITEM Item);
    void SelectNode(HTREEITEM Item);
    void ShowNodeMenu(HTREEITEM Item, POINT ScreenPoint);
    TShSelectionList* Selection() const;
    int NodeState(HTREEITEM Item) const;
    void SetNodeState(HTREEITEM Item, int State);
    void UpdateStates(HTREEITEM Item);
    void ClearStates(HTREEITEM Item);
    bool checkBoxes_ = false;
    HIMAGELIST checkImages_ = nullptr;
    void Watch();
    void ShellChanged(classlib::TObject* Sender, TNotificationEvent Event, LPCITEMIDLIST Pidl1, LPCITEMIDLIST Pidl2);
    LRESULT Send(UINT Msg, WPARAM WParam = 0, LPARAM LParam = 0) const { return SendToWindow(Msg, WParam, LParam); }

    std::unique_ptr<TShFolderObject> browser_;
    TShellFolder rootedAt_ = SF_DESKTOP;
    std::wstring rootedAtFolder_;
    ShellOptions options_ = soShowNethood | soShowRecycleBin;
    std::wstring pendingPath_;  // set before the window exists
    bool navigatingHistory_ = false;
    bool canFill_ = true;
    bool automaticRefresh_ = true;
    int quiet_ = 0;
    std::unique_ptr<TPidlHistory> history_;
    std::unique_ptr<TShellChangeNotifier> notifier_;
    // The nodes shown, each owned here until its item leaves the window.
    std::unordered_map<classlib::TObject*, std::unique_ptr<TNode>> nodes_;
};

// One object of a folder as the list shows it.
struct TFolderEntry {
    std::wstring Name;        // as shown (the shell's display name)
    std::wstring ObjectName;  // the file-system name ("" for virtual objects)
    bool Folder = false;
    std::uint64_t Size = 0;
    FILETIME Modified{};  // UTC
    // The object's list relative to its folder (null for entries of
    // ListFolderEntries); shared by the copies of the entry.
    std::shared_ptr<ITEMIDLIST> Pidl;
    std::uint8_t Flags = 0;  // TShellListItem::Flags bits 1..3
};
// The details the list can show, in column order with Details on.
enum TListDetail : std::uint8_t { ldName, ldSize, ldType, ldModified };
constexpr int ListDetailCount = 4;
// The text of a detail: the name; the size in KB rounded up ("" for a
// folder); the shell's type name; the local date and time of the last write
// ("yyyy-mm-dd hh:nn", "" when unknown).
std::wstring DetailText(const TFolderEntry& Entry, TListDetail Detail);
// Orders Entries by Detail (ties by name, ignoring case), folders before
// files in both directions.
void SortEntries(std::vector<TFolderEntry>& Entries, TListDetail Detail, bool Descending);
// The effect of dropping files with KeyState (MK_ flags) when the source
// allows Allowed: Shift moves, Ctrl copies, neither moves within a drive
// and copies across drives; when the source does not allow that, copy,
// then move; never a link; DROPEFFECT_NONE when neither is allowed.
DWORD ChooseDropEffect(DWORD KeyState, DWORD Allowed, bool SameDrive);
// The effect of dropping Files into Folder with KeyState within Allowed
// (ChooseDropEffect); none without files or folder, for files already in
// Folder and for a folder dropped onto itself or into its own tree.
DWORD DropEffectInto(const classlib::TStringList* Files, DWORD KeyState, DWORD Allowed, const std::wstring& Folder);
// Copies Files into Folder through the shell (moves them for
// DROPEFFECT_MOVE); true when it went through and something arrived.
bool CopyOrMoveInto(HWND Owner, const classlib::TStringList* Files, const std::wstring& Folder, DWORD Effect);
// The files of a file-system folder with each object's details.
std::vector<TFolderEntry> ListFolderEntries(const std::wstring& Folder, const std::wstring& Masks, bool Folders,
                                            bool Hidden = false);


// What the list keeps of one of its items (the item's Data points to it):
// the object's list relative to the shown folder and its flags. Owned by
// the list; the background work of the item names it as its tag.
class TShellListItem : public classlib::TObject {
public:
    enum : std::uint8_t { fParent = 1, fFolder = 2, fCompressed = 4, fEncrypted = 8 };
    std::wstring ClassName() const override { return L"TShellListItem"; }
    bool IsParentFolder() const { return (Flags & fParent) != 0; }
    bool IsFolder() const { return (Flags & fFolder) != 0; }
    classlib::TListItem* Item = nullptr;
    TPidl Pidl;               // relative to the shown folder; null for " .. "
    int Seen = 1;             // UpdateContents: 0 before its pass, 1 when found
    std::wstring FullPath;    // cached by GetItemPath
    std::wstring ObjectName;  // file-system name ("" for virtual objects)
    std::uint8_t Flags = 0;
    bool IconAsked = false;
};
// Sender; index in the thumbnail image list; the picture about to be
// stored there (borrowed; it may be drawn on).
using TOnThumbnailUpdated =
    classlib::TEvent<void(classlib::TObject* Sender, int ImageIndex, classlib::TBitmap* ThumbnailBitmap)>;
// Item; var CanAdd (starts true; false deletes the item).
using TOnAddItem = classlib::TEvent<void(TShellListItem* Item, bool& CanAdd)>;

// The objects of one shell folder (file-system or virtual) in a list view,
// read through a TShFolderObject: the files matching Filter and (with
// ShowFolders) the folders, filtered by the options, sorted by a column.
class TShellList : public classlib::TListView, public TShellLinkClient {
public:
    explicit TShellList(classlib::TComponent* AOwner);
    ~TShellList() override;
    std::wstring ClassName() const override { return L"TShellList"; }

    // The folder shown, with its trailing backslash ("" for a virtual
    // folder or none). Setting the folder shown does nothing while more
    // than one item is listed; a path that cannot be parsed raises
    // EShFolderObjectError and leaves the list as it was.
    std::wstring GetPath() const;
    void SetPath(const std::wstring& Value);
    // The special folder shown (SF_FILESYSTEMFOLDER for any other folder).
    // Setting shows it (any value other than SF_FILESYSTEMFOLDER).
    TShellFolder GetSpecialFolder() const;
    void SetSpecialFolder(TShellFolder Value);
    // Shows the folder of an absolute list (copied).
    void OpenFolderPidl(LPCITEMIDLIST Pidl);
    // The shown folder's absolute list (owned here; null without a folder).
    LPCITEMIDLIST FolderPidl();
    TShFolderObject* GetBrowser() const { return browser_.get(); }
    // Masks separated by ";" (e.g. "*.gif;*.jpg"), matched ignoring case.
    std::wstring GetFilter() const;
    void SetFilter(const std::wstring& Value);
    bool GetShowFolders() const { return showFolders_; }
    void SetShowFolders(bool Value);
    // A " .. " item leads to the parent folder (never at the desktop nor
    // while the link forbids going up).
    bool GetShowParentFolder() const { return showParentFolder_; }
    void SetShowParentFolder(bool Value);
    bool GetFileSystemOnly() const;
    void SetFileSystemOnly(bool Value);

    ShellOptions GetShellOptions() const { return options_; }
    // Stores the set and refills.
    void SetShellOptions(ShellOptions Value);
    bool GetOption(TShellOption Option) const { return (options_ & Option) != 0; }
    void SetOption(TShellOption Option, bool Value);
    bool GetShowHidden() const { return GetOption(soShowHidden); }
    void SetShowHidden(bool Value) { SetOption(soShowHidden, Value); }
    bool GetShowFiles() const { return GetOption(soShowFiles); }
    void SetShowFiles(bool Value) { SetOption(soShowFiles, Value); }
    bool GetShowNethood() const { return GetOption(soShowNethood); }
    void SetShowNethood(bool Value) { SetOption(soShowNethood, Value); }
    bool GetShowRecycleBin() const { return GetOption(soShowRecycleBin); }
    void SetShowRecycleBin(bool Value) { SetOption(soShowRecycleBin, Value); }
    bool GetShowErrorMessages() const { return GetOption(soShowErrorMessages); }
    void SetShowErrorMessages(bool Value) { SetOption(soShowErrorMessages, Value); }

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
    // 300 ms after the last one (UpdateContents); a deleted object leaves at
    // once. A shown file-system folder that no longer exists switches the
    // list to My Computer.
    bool GetAutomaticRefresh() const { return automaticRefresh_; }
    void SetAutomaticRefresh(bool Value);
    // A right click on an item shows the shell's menu of the selected objects.
    bool ShellContextMenu = true;
    std::wstring Version() const { return L"TShellList V1.0.0.0"; }

    // Icon view with a picture of each object: a placeholder with the
    // object's icon at once, the thumbnail made on the work pool when the
    // view first draws the item. Setting refills; turning it off goes back
    // to report view.
    bool GetThumbnails() const { return thumbnails_; }
    void SetThumbnails(bool Value);
    // The size of the pictures (96 x 96 at first) and the colour of their
    // frame; a change makes every picture again.
    int GetThumbnailWidth() const { return thumbWidth_; }
    int GetThumbnailHeight() const { return thumbHeight_; }
    void SetThumbnailSize(int Width, int Height);
    classlib::TColor GetThumbnailBorderColor() const { return thumbBorder_; }
    void SetThumbnailBorderColor(classlib::TColor Value);
    // The pictures (owned by the list).
    HIMAGELIST GetThumbnailImages() const { return thumbImages_; }
    // Main thread: stores a finished thumbnail of the item Tag at ImageIndex
    // of the image list, fitted into the picture size and framed; takes
    // over Bitmap. Dropped when Bitmap is null, the index is not one of the
    // list's images or the item has left the list.
    void SetThumbnail(classlib::TBitmap* Bitmap, int ImageIndex, classlib::TObject* Tag);
    TOnThumbnailUpdated OnThumbnailUpdated;

    // The record of an item (null for an item of no list).
    static TShellListItem* ShellItem(const classlib::TListItem* Item);
    // The full file-system path of the item at Index / of Item ("" for
    // virtual objects, the " .. " item and nil).
    std::wstring GetItemPathAt(int Index) const;
    std::wstring GetItemPath(const classlib::TListItem* Item) const;
    // Moves the history back (Count <= 0, by |Count|) or forward and shows
    // the folder it lands on.
    void HistoryStep(int Count);
    TPidlHistory* GetHistory() const { return history_.get(); }
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
    // The folder is read and the items added in steps of a few dozen
    // milliseconds: what is not done at once continues from the message
    // loop (timer messages, so that input and painting go first);
    // OnPopulated and OnPathChanged fire after the last step. A new fill or
    // a freed list drops the steps still to come.
    void Populate();
    // Reads the folder again keeping the items still there (and their
    // selection): vanished ones leave, new ones are appended unsorted. A
    // list of more than 500 items is filled again instead. Vanished items
    // that were marked cut are reported by OnOperation.
    void STDMETHODCALLTYPE UpdateContents() override;

    void STDMETHODCALLTYPE FullRefresh() override { Populate(); }
    void STDMETHODCALLTYPE FolderChanged(LPCITEMIDLIST AbsolutePidl) override;
    void STDMETHODCALLTYPE SelectionChanged(LPCITEMIDLIST FolderPidl, LPCITEMIDLIST ObjectPidl) override;
    void STDMETHODCALLTYPE SelectAll() override;
    void STDMETHODCALLTYPE NavigateUp() override;

    // The list was filled.
    classlib::TNotifyEvent OnPopulated;
    // After OnPopulated.
    classlib::TNotifyEvent OnPathChanged;
    // Before a full fill.
    classlib::TNotifyEvent OnBeforeFullRefresh;
    // An item was double-clicked (the " .. " item goes up instead).
    classlib::TNotifyEvent OnDblClick;
    TOnAddItem OnAddItem;
    TOnOperation OnOperation;

protected:
    void CNNotify(classlib::TMessage& Message) override;
    void CreateHandleDone() override;
    void DestroyWnd() override;
    // Asks the work pool for the icon of an item the first time the window
    // draws it.
    int ItemImageIndex(classlib::TListItem* Item) override;

private:
    class TDropTarget;
    class TThumbnailSink;
    // Queues the picture of Record, whose placeholder is at ImageIndex.
    void QueueThumbnail(TShellListItem* Record, int ImageIndex);
    // Adds the placeholder of Record's object; its index.
    int AddPlaceholder(const TShellListItem* Record);
    void MakeThumbnailImages();
    // The shell's context menu of the item at Index (with the other
    // selected items when it is selected) at a client point.
    void ShowObjectMenu(int Index, POINT ClientPoint);
    void Register();
    void Revoke();
    // The folder changed: selection cleared, history, link.
    void AfterFolderChange();
    // The effect a drop of Files with KeyState would have here within
    // Allowed; none when the files are already in the shown folder.
    DWORD DropEffect(const classlib::TStringList* Files, DWORD KeyState, DWORD Allowed) const;
    // Copies or moves Files here; the effect done (none on failure or
    // cancel).
    DWORD DropFiles(const classlib::TStringList* Files, DWORD Effect);
    void IconArrived(int IconIndex, std::uint8_t Kind, classlib::TObject* Tag) override;
    // Drops the background work of every item (one pass): late results for
    // them are never applied.
    void DropAllWork();
    void DeleteItem(int Index);
    void WatchFolder();
    void ShellChanged(classlib::TObject* Sender, TNotificationEvent Event, const std::wstring& Path1,
                      const std::wstring& Path2);
    void RefreshTimer(classlib::TObject* Sender);
    void FillStep(classlib::TObject* Sender);
    // Reads objects of the folder: AtLeast of them, then on until BudgetMs
    // have passed; true when the enumeration has ended.
    bool ReadStep(DWORD BudgetMs, int AtLeast);
    // The browser's current object as an entry; false when it is not shown.
    bool MakeEntry(TFolderEntry& Entry);
    void AddPending();
    void AddParentItem();
    int IndexOfObject(const std::wstring& ObjectName) const;
    // The name an item is found by again: the file-system name, else the
    // caption.
    static std::wstring KeyOf(const classlib::TListItem* Item);

    std::unique_ptr<TShFolderObject> browser_;
    TPidl folderPidl_;
    bool thumbnails_ = false;
    int thumbWidth_ = 96;
    int thumbHeight_ = 96;
    classlib::TColor thumbBorder_ = 12632256;
    HIMAGELIST thumbImages_ = nullptr;
    // Reference counted like the icon sink; detached by the destructor.
    TThumbnailSink* thumbSink_ = nullptr;
    std::unique_ptr<TPidlHistory> history_;
    bool navigatingHistory_ = false;
    ShellOptions options_ = soShowNethood | soShowRecycleBin | soShowFiles;
    bool showFolders_ = true;
    bool showParentFolder_ = false;
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
    // The fill in progress: while reading_ the folder is being read into
    // pending_; then the entries from pendingNext_ on are still to add, and
    // the names in reselect_ are selected again once all are in.
    bool reading_ = false;
    std::vector<TFolderEntry> pending_;
    std::size_t pendingNext_ = 0;
    std::vector<std::wstring> reselect_;
    std::unique_ptr<classlib::TTimer> fillTimer_;
    // The records of the items shown, each owned here until its item leaves.
    std::unordered_map<classlib::TObject*, std::unique_ptr<TShellListItem>> records_;
};

// The files in Folder (names without folder) that match one of the
// ";"-separated masks, sorted ignoring case; with Folders also the
// sub-folders (listed first); hidden ones only with Hidden. Empty when the
// folder cannot be read.
std::vector<std::wstring> ListFolderFiles(const std::wstring& Folder, const std::wstring& Masks, bool Folders,
                                          bool Hidden = false);

}  // namespace shell
