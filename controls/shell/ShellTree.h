// The folder tree of the shell namespace (TShellTree) and its nodes.
//
// Ownership: the component owner deletes the tree; it unregisters from its
// link and cancels its background work when deleted. Threads: main thread
// only.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "classlib/Controls.h"
#include "classlib/Events.h"
#include "classlib/Menus.h"
#include "controls/shell/ShellBase.h"

namespace shell {

class TShellTree;

// One node of a TShellTree: the object's list relative to the folder that
// holds it (a copy of the absolute list for the root) and its absolute
// list, both owned. The tree makes one for each node through the maker
// OnCreateNodeClass gives and deletes it when the node leaves the window
// (its icon lookups cancelled first); a program may derive from it to keep
// data of its own with each node. The fields belong to the tree: a program
// reads them only.
class TShellTreeNode : public classlib::TObject {
public:
    enum : std::uint8_t { fFolder = 2, fCompressed = 4, fEncrypted = 8, fKeep = 32 };
    std::wstring ClassName() const override { return L"TShellTreeNode"; }
    bool IsFolder() const { return (Flags & fFolder) != 0; }
    TShellTree* Tree = nullptr;
    HTREEITEM Item = nullptr;
    TComRef<IShellFolder> ParentFolder;  // null for the root
    TPidl Pidl;
    TPidl Absolute;
    int SeenMark = 1;  // a refresh pass found the object (0 before it)
    // fFolder, fCompressed, fEncrypted; fKeep: added by navigation to a
    // drive, never taken out by a refresh.
    std::uint8_t Flags = 0;
    bool Filled = false;  // the children were read
    std::wstring Watched;  // the folder watched for changes while filled (empty: none)
    int Image = -1;       // closed icon (-1: not known yet)
    int OpenImage = -1;   // icon while selected
    bool IconAsked = false;
    bool Dimmed = false;  // hidden or ghosted: drawn like a cut object
};

// The shell namespace as a tree: one root node (the desktop, a special
// folder or a file-system folder), below it the folders (and, with
// ShowFiles, the files), read when a node first opens. Selecting a node
// fires OnChange and tells the linked controls.
class TShellTree : public classlib::TSystemControl, public TShellLinkClient, public TShellOptionAccess<TShellTree> {
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

    // Stores the set and reads the tree again (SetOption too, even when the
    // option does not change). NoFillOnStartup: when the window is first
    // made the root is neither opened nor selected, and a folder given by
    // SelectedFolder before is not selected: nothing is read until the user
    // opens the root.
    void SetShellOptions(ShellOptions Value);
    void SetOption(TShellOption Option, bool Value);
    // Nodes draw the shell's overlay, hidden and ghosted ones dimmed
    // (default true). Changing reads the tree again.
    bool GetShowOverlayIcons() const { return showOverlayIcons_; }
    void SetShowOverlayIcons(bool Value);
    // The browser's masks (";"-separated); setting reads the tree again.
    std::wstring GetFilter() const;
    void SetFilter(const std::wstring& Value);
    bool GetFileSystemOnly() const;
    void SetFileSystemOnly(bool Value);
    // Selecting a node collapses its siblings and opens it.
    bool ExpandOnSelected = false;
    // A right click on a node shows the shell's menu of its object.
    bool ShellContextMenu = true;
    // Shown for a node when ShellContextMenu is off (without one the
    // request goes to the parent window); when it is on, its entries are
    // shown in the shell's menu. Not owned: forgotten when it is freed.
    classlib::TPopupMenu* GetPopupMenu() const { return popupMenu_; }
    void SetPopupMenu(classlib::TPopupMenu* Value);
    // Node names cannot be edited in place (F2 or a slow second click edit
    // them otherwise; set before the window is made).
    bool ReadOnly = false;
    // Renames the object of a node through the shell (no waiting on the
    // window thread); the node follows, OnOperation reports it and the
    // linked controls update. False when the shell refuses.
    bool RenameNode(HTREEITEM Item, const std::wstring& NewName);
    // Check boxes from the link's selection list: a node's box shows the
    // state of its object (grey when something below is checked). Needs a
    // link (without one the value stays false, unless the form is loading:
    // it may give the link later). Space or a click on the box toggles; the
    // ancestors and the opened nodes below follow.
    bool GetCheckBoxes() const { return checkBoxes_; }
    void SetCheckBoxes(bool Value);
    void ToggleCheck(HTREEITEM Item);
    // The state image of a node (a TShSelectionState; 0 without boxes).
    int GetNodeState(HTREEITEM Item) const;
    TOnCheckStateChanged OnCheckStateChanged;
    // A name edited in place that the shell refused, and files dropped onto
    // a node that the copy, move or link did not bring there: the handler
    // gets a message naming the objects and the reason; without a handler
    // the tree shows it in a message box.
    TRefusalEvent OnRenameRefused;
    TRefusalEvent OnDropRefused;
    TOnOperation OnOperation;
    // Files dragged onto a node are copied, moved or linked into its
    // folder, and nodes other than the root can be dragged out (default
    // true). The drop target is registered with the window, which needs OLE
    // set up on the thread; when that fails the value goes back to false.
    bool GetOleDragDrop() const { return oleDragDrop_; }
    void SetOleDragDrop(bool Value);
    // Runs a shell verb on the selected node's object; true when it was
    // done (false without a selection or when the shell did not carry it
    // out). "delete" reports [sopDelete, sopRemove] with the folder's path,
    // "paste" [sopCopy or sopMove, sopPaste, sopAdd] with the clipboard's
    // files into SelectedFolder, "cut" shows the node dimmed, "rename"
    // edits the node's name in place (not while ReadOnly).
    bool ExecuteVerb(const std::wstring& Verb);
    // The object the tree's verbs and menus run through (owned here): its
    // OnContextMenuSelect and OnBeforeShellCommand see, and may refuse,
    // every verb on a node, as the list's browser does for its items.
    TShFolderObject* GetBrowser() const { return browser_.get(); }
    // The shell's menu of a node's object at a screen point (modal).
    void ShowNodeMenu(HTREEITEM Item, POINT ScreenPoint);
    // An edit of a node's name ended without a new name (Node: its item).
    classlib::TEvent<void(classlib::TObject* Sender, HTREEITEM Node)> OnEditCanceled;
    // A node was double-clicked; without a handler a double click on a
    // file node (ShowFiles) runs the file's default verb.
    classlib::TNotifyEvent OnDblClick;
    IDropTarget* GetDropTarget() const;
    // The effects offered to a drop target and allowed for a drag out;
    // setting stores cmLink while CreateLinkOnDrop is on.
    TShCopyMode GetCopyMode() const { return copyMode_; }
    void SetCopyMode(TShCopyMode Value);
    // Drops make shell links (CopyMode becomes cmLink).
    bool GetCreateLinkOnDrop() const { return createLinkOnDrop_; }
    void SetCreateLinkOnDrop(bool Value);
    // Before a drop onto a node runs (not for a drop beside the nodes).
    TOnBeforeShellDropEvent OnBeforeShellDrop;
    // The drop source of the tree's own drags.
    virtual HRESULT QueryContinueDrag(BOOL EscapePressed, DWORD KeyState);
    virtual HRESULT GiveFeedback(DWORD Effect);
    bool GetAutomaticRefresh() const;
    void SetAutomaticRefresh(bool Value);
    std::wstring Version() const { return L"TShellTree V1.0.0.0"; }

    // The file-system path of a node's object ("" for virtual objects; the
    // desktop's folder for the desktop root).
    std::wstring NodePath(HTREEITEM Node) const;
    // Whether the node of an absolute list is shown (read nodes only): the
    // first node in the tree's order holding exactly this list, else the
    // first one showing the same object by another list.
    HTREEITEM FindNode(LPCITEMIDLIST Pidl) const;
    // Opens a node, its children read when it has none yet; with Recurse
    // every node below it too, again while that adds nodes (a whole drive
    // below a drive's node: use with care), down to MaxExpandDepth levels
    // below Item; a folder that is already on the way down from Item (a
    // link to a folder above it) is not opened. Numpad * runs it on the
    // selected node.
    static constexpr int MaxExpandDepth = 16;
    void ExpandNode(HTREEITEM Item, bool Recurse);
    // Reads a node again: an opened one its children (Recursive: the opened
    // nodes below too), a closed one drops them until it opens again; a
    // drawn one looks up its icons again (OnUpdatedFolder).
    void RefreshNode(HTREEITEM Item, bool Recursive);

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
    // How long after a selection change OnChange fires and the linked
    // controls follow, in milliseconds (0: at once). A later change within
    // that time restarts the wait, so stepping through nodes with the keys
    // opens only the node the keys stop at. 100 at creation; the keys set it
    // (600 with a link, 100 without), every change that fires sets it back
    // to 0, and selections made by the program (SelectedFolder, the
    // history, LocatePidl) fire at once.
    unsigned GetChangeDelay() const { return changeDelay_; }
    void SetChangeDelay(unsigned Value) { changeDelay_ = Value; }
    // A node was first drawn or was read again (its icons are being looked
    // up). The handler may delete the node.
    classlib::TEvent<void(classlib::TObject* Sender, HTREEITEM Node)> OnUpdatedFolder;
    // Node is about to become the selected node (by the user or the
    // program); AllowChange false keeps the selection where it is.
    classlib::TEvent<void(classlib::TObject* Sender, HTREEITEM Node, bool& AllowChange)> OnChanging;
    // Node was opened (its children read).
    classlib::TEvent<void(classlib::TObject* Sender, HTREEITEM Node)> OnExpanded;
    // A node is about to be added (Path: its file-system path), or is read
    // again by a refresh; CanAdd false keeps it out (takes it out).
    classlib::TEvent<void(HTREEITEM Node, const std::wstring& Path, bool& CanAdd)> OnAddFolder;
    // Asked for the maker of each node's object before the node is added;
    // the maker given starts with TShellTreeNode's. An object that is not a
    // TShellTreeNode (or none) raises EInvalidArgument and adds no node.
    classlib::TCreateItemClassEvent OnCreateNodeClass;
    // The object of a node (null for a node of no tree); a handler of
    // OnCreateNodeClass may cast it to its own class.
    TShellTreeNode* GetNode(HTREEITEM Item) const { return NodeOf(Item); }

protected:
    std::wstring SystemClassName() const override { return WC_TREEVIEWW; }
    void Loaded() override;
    void CreateParams(classlib::TCreateParams& Params) override;
    void CreateHandleDone() override;
    void CNNotify(classlib::TMessage& Message) override;
    void DestroyWnd() override;
    void WndProc(classlib::TMessage& Message) override;
    // The keys of the tree, before OnKeyDown: Alt+Enter ("properties"), Alt
    // alone (kept from the menu bar), Alt+Left/Right (history), Delete
    // (not on a root), Ctrl+A (the linked controls select all), Ctrl+C,
    // Ctrl+V, Ctrl+X, Shift+F10 (the shell's menu).
    void KeyDown(WORD& Key, classlib::TShiftState Shift) override;
    // Ctrl+C, Ctrl+V and Ctrl+X leave no character behind.
    void KeyPress(wchar_t& Key) override;
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;

private:
    using TNode = TShellTreeNode;
    // A new node object from the maker OnCreateNodeClass gives.
    std::unique_ptr<TNode> NewNode();
    classlib::TPopupMenu* popupMenu_ = nullptr;
    // Reports an operation to OnOperation (Files with at least one name).
    void DoOperation(TShellOperations Operation, std::unique_ptr<classlib::TStringList> Files,
                     const std::wstring& Destination);
    // What follows a verb the shell carried out on the object of the
    // absolute list (Path its path, Clipboard the files on the clipboard
    // before it ran).
    void AfterVerb(const std::wstring& Verb, LPCITEMIDLIST Absolute, const std::wstring& Path,
                   std::unique_ptr<classlib::TStringList> Clipboard);
    void PrepareRename();
    void EditSelected(classlib::TObject* Sender);
    // The tree's notifications, as CNNotify decodes them; each returns the
    // notification's reply.
    LRESULT LabelEditStarting(HTREEITEM Item);
    LRESULT LabelEditEnded(const TVITEMW& Item);
    LRESULT TreeKeyDown(WORD Key);
    LRESULT TreeClick(bool Right);
    void TreeDblClick();
    LRESULT TreeCustomDraw(NMTVCUSTOMDRAW& Draw);
    LRESULT NodeExpanding(const NMTREEVIEWW& Nm);
    LRESULT NodeSelecting(const NMTREEVIEWW& Nm);
    void NodeSelected(HTREEITEM Item);
    void NodeDisplayInfo(TVITEMW& Item);
    void NodeDeleted(classlib::TObject* Key);
    std::wstring renameError_;  // why the last RenameNode failed (empty: nothing to tell)
    // Inserts Node last below ParentItem (TVI_ROOT for the root); the tree
    // owns it from here. Null (and the node freed) when the window refuses.
    TNode* InsertNode(HTREEITEM ParentItem, std::unique_ptr<TNode> Node, const std::wstring& Text, bool Children);
    // A filled folder node is watched for changes made on the disk.
    void WatchNode(TNode* Node);
    void UnwatchNode(TNode* Node);
    class TDropTarget;
    class TDropSource;
    std::unique_ptr<TDropTarget> dropTarget_;
    std::unique_ptr<TDropSource> dropSource_;
    bool dropRegistered_ = false;
    bool oleDragDrop_ = true;
    TShCopyMode copyMode_ = cmDefault;
    bool createLinkOnDrop_ = false;
    // The button of the tree's own drag in progress (1 left, 2 right; 0
    // when none).
    int dragButton_ = 0;
    // The node under a screen point (null when none).
    HTREEITEM NodeAt(POINTL ScreenPoint);
    // A new reference to the drop target of a node's object (null when it
    // takes no drops).
    IDropTarget* NodeDropTarget(HTREEITEM Node);
    // Drags the object of Node out (Button 1 left, 2 right).
    void OleDrag(HTREEITEM Node, int Button);
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
    // Runs Verb on the object of the absolute list with the tree's own
    // notifications held; false when it did not run.
    bool RunVerbQuietly(LPCITEMIDLIST Absolute, const std::wstring& Verb);
    // Adds the browser's current object under Parent (when it shows).
    HTREEITEM AddChildNode(HTREEITEM Parent, bool Keep);
    // Reads the children of a node that has none yet.
    void ReadChildren(HTREEITEM Item);
    // Looks up the icons of a node (closed, open, overlay) in the
    // background; OnUpdatedFolder follows.
    void FillNode(TNode* Node);
    void SortChildren(HTREEITEM Item);
    // The child of Item whose object is ChildPidl (relative), or null.
    HTREEITEM FindChild(HTREEITEM Item, LPCITEMIDLIST ChildPidl) const;
    // Reads again the folders that hold nodes shown cut.
    void RefreshCutParents();
    std::wstring NodeText(HTREEITEM Item) const;
    void DeleteNode(HTREEITEM Item);
    void NotifyLink(HTREEITEM Item);
    void SelectNode(HTREEITEM Item);
    TShSelectionList* Selection() const;
    int NodeState(HTREEITEM Item) const;
    void SetNodeState(HTREEITEM Item, int State);
    void UpdateStates(HTREEITEM Item);
    void ClearStates(HTREEITEM Item);
    bool checkBoxes_ = false;
    std::unique_ptr<TShSelectionStateImageList> checkImages_;
    void Watch();
    void ShellChanged(classlib::TObject* Sender, TNotificationEvent Event, LPCITEMIDLIST Pidl1, LPCITEMIDLIST Pidl2);
    LRESULT Send(UINT Msg, WPARAM WParam = 0, LPARAM LParam = 0) const { return SendToWindow(Msg, WParam, LParam); }

    std::unique_ptr<TShFolderObject> browser_;
    bool windowCreated_ = false;
    bool showOverlayIcons_ = true;
    TShellFolder rootedAt_ = SF_DESKTOP;
    std::wstring rootedAtFolder_;
    std::wstring pendingPath_;  // set before the window exists
    // A special folder set before the window exists (SF_FILESYSTEMFOLDER:
    // none).
    TShellFolder pendingSpecial_ = SF_FILESYSTEMFOLDER;
    bool navigatingHistory_ = false;
    unsigned changeDelay_ = 100;
    bool changeTimer_ = false;  // a delayed change is waiting
    // Fires OnChange for Item, tells the link and sets the delay back to 0.
    void Change(HTREEITEM Item);
    void StopChangeTimer();
    // The delay the keys set.
    void KeyChangeDelay() { changeDelay_ = link_ ? 600 : 100; }
    bool canFill_ = true;
    // Set while the first window builds its root with NoFillOnStartup: the
    // root is neither opened nor selected.
    bool startingUnfilled_ = false;
    bool automaticRefresh_ = true;
    bool updatingContents_ = false;  // a refresh is serving messages
    // Serves the thread's waiting messages; false when the tree was freed
    // meanwhile or a refresh is already doing so. The selection may have
    // moved afterwards.
    bool ServeWaitingMessages();
    int quiet_ = 0;
    std::unique_ptr<TPidlHistory> history_;
    std::unique_ptr<TShellChangeNotifier> notifier_;
    // The nodes shown, each owned here until its item leaves the window.
    std::unordered_map<classlib::TObject*, std::unique_ptr<TNode>> nodes_;
};

}  // namespace shell
