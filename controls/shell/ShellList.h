// The file list of the shell namespace (TShellList), its item records,
// and the folder-entry and detail-column routines it is built on.
//
// Ownership: the component owner deletes the list; it unregisters from its
// link and cancels its background work when deleted. Threads: main thread
// only.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "classlib/ComCtrls.h"
#include "classlib/Controls.h"
#include "classlib/Events.h"
#include "classlib/Hints.h"
#include "classlib/Menus.h"
#include "controls/shell/ShellBase.h"

namespace classlib {
class TBitmap;
class TTimer;
}

namespace shell {

// How the list's background picture is placed.
enum TShBackgroundImageStyle { bisLeftTop, bisRightBottom, bisTiled };

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
    bool Dimmed = false;     // hidden or ghosted
};
// The details of a file-system folder's entries (ListFolderEntries).
enum TListDetail : std::uint8_t { ldName, ldSize, ldType, ldModified };
constexpr int ListDetailCount = 4;
// The text of a detail: the name; the size in KB rounded up ("" for a
// folder); the shell's type name; the local date and time of the last write
// ("yyyy-mm-dd hh:nn", "" when unknown).
std::wstring DetailText(const TFolderEntry& Entry, TListDetail Detail);
// Orders Entries by Detail (ties by name, ignoring case), folders before
// files in both directions.
void SortEntries(std::vector<TFolderEntry>& Entries, TListDetail Detail, bool Descending);
// The files of a file-system folder with each object's details.
std::vector<TFolderEntry> ListFolderEntries(const std::wstring& Folder, const std::wstring& Masks, bool Folders,
                                            bool Hidden = false);

// A column of the list made of one of the shell's details.
struct TDetailColumn {
    std::wstring Title;
    classlib::TAlignment Alignment = classlib::taLeftJustify;
    int Width = 0;   // the shell's width in pixels
    int Detail = 0;  // the shell's detail index
};
// At most this many columns are made of a folder's details.
constexpr int MaxDetailColumns = 256;
// The columns of a folder's details: Title(i) gives the title of detail i
// ("" past the last one), Format(i, Width) its alignment (0 left, 1 right,
// 2 centre) and its width (0: not shown by default). Detail 0 always makes
// the first column when its width is above 0; with All the details after
// it follow up to the first empty title, at most MaxDetailColumns columns
// and 4096 details looked at.
std::vector<TDetailColumn> ReadDetailColumns(const std::function<std::wstring(int)>& Title,
                                             const std::function<int(int, int&)>& Format, bool All);
// The order of objects of Folder (lists relative to it) sorted by the
// shell's detail Detail: element i is the index in Pidls of the object at
// place i. Descending turns every comparison round. The folder's
// CompareIDs decides, except that sizes, times, types and attributes of
// file-system objects are compared by value here (folders before files),
// since some shells answer every detail by the name; their ties still go to
// CompareIDs. Stable; safe whatever the folder answers (a failure counts as
// equal).
std::vector<int> OrderObjects(IShellFolder* Folder, int Detail, const std::vector<LPCITEMIDLIST>& Pidls,
                              bool Descending);
// Shows the sort arrow of column Column in a column header: Themed, the
// header's own (HDF_SORTUP, HDF_SORTDOWN); else ArrowUp or ArrowDown
// (borrowed) at the right of the caption. The other columns lose both.
void MarkSortColumn(HWND Header, int Column, bool Descending, bool Themed, HBITMAP ArrowUp, HBITMAP ArrowDown);


// What the list keeps of one of its items (the item's Data points to it):
// the object's list relative to the shown folder and its flags. Owned by
// the list, made through the maker the list view's OnCreateItemClass gives
// (a program may derive from it to keep data of its own with each item) and
// deleted when its item leaves; the background work of the item names it as
// its tag.
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
    int Overlay = -1;     // the shell's overlay (0-based), -1 none
    bool Dimmed = false;  // hidden or ghosted: drawn like a cut object
};
// Sender; index in the thumbnail image list; the picture about to be
// stored there, a placeholder or a finished thumbnail (borrowed; it may be
// drawn on).
using TOnThumbnailUpdated =
    classlib::TEvent<void(classlib::TObject* Sender, int ImageIndex, classlib::TBitmap* ThumbnailBitmap)>;
// Sender; the item concerned.
using TLVNotifyEvent = classlib::TEvent<void(classlib::TObject* Sender, classlib::TListItem* Item)>;
// Item; var CanAdd (starts true; false deletes the item).
using TOnAddItem = classlib::TEvent<void(TShellListItem* Item, bool& CanAdd)>;
// Sender; the two items; the sort column; var Compare (<0, 0 or >0; starts
// with the list's own comparison of their texts).
using TOnListCompare = classlib::TEvent<void(classlib::TObject* Sender, classlib::TListItem* Item1,
                                             classlib::TListItem* Item2, int Data, int& Compare)>;

// The objects of one shell folder (file-system or virtual) in a list view,
// read through a TShFolderObject: the files matching Filter and (with
// ShowFolders) the folders, filtered by the options, sorted by a column.
class TShellList : public classlib::TListView, public TShellLinkClient, public TShellOptionAccess<TShellList> {
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

    // Stores the set and refills (SetOption only when the option changes).
    // NoFillOnStartup: the list stays empty when its form has loaded (until
    // a folder, a filter or a refill is asked for).
    void SetShellOptions(ShellOptions Value);
    void SetOption(TShellOption Option, bool Value);

    // Report view shows a column for each detail the shell shows by default
    // for the folder (default); off: the name only. Changing refills.
    bool GetDetails() const { return details_; }
    void SetDetails(bool Value);
    // Makes the columns of report view again from the shown folder's details
    // (each fill does). The widths the columns had are kept for the kind of
    // folder they were made for (its special folder, SF_FILESYSTEMFOLDER for
    // any other) and come back the next time such a folder is shown; a
    // column at index 255 or above always takes the shell's width.
    // OnCreateColumns fires last.
    virtual void CreateColumns();
    // The columns made of details (1 outside report view) and the shell's
    // detail index a column shows (-1 for other columns).
    int GetDetailColumnCount() const { return detailColumnCount_; }
    int GetColumnDetail(int Column) const;
    classlib::TNotifyEvent OnCreateColumns;
    // The order of the items: by column SortColumn, descending when
    // SortDescending, the " .. " item first either way. A detail column
    // sorts by the shell's comparison of that detail (OrderObjects); other
    // columns, and every column while OnCompare is assigned, by text: column
    // 0 (and any column outside report view) the captions in natural order,
    // other columns their texts ignoring case, then OnCompare may change the
    // answer. A click on the sort column toggles the direction, on another
    // column sorts by it ascending; the header shows the arrow. Items the
    // automatic refresh adds are appended unsorted.
    int GetSortColumn() const { return sortColumn_; }
    bool GetSortDescending() const { return sortDescending_; }
    // Sets the order and sorts the items (a fill in progress starts again).
    void SortBy(int Column, bool Descending);
    // Sorts the items as they are; a sort column beyond the columns becomes 0.
    void SortItems();
    // Marks the sort column in the header: with visual themes the header's
    // own sort arrow, else an arrow picture at the right of the caption.
    // Every fill and sort does it, and so does the end of a column drag or
    // resize.
    void ShowSortArrow();
    TOnListCompare OnCompare;
    // Gives Item what it shows before it is first drawn: in report view with
    // Details the texts of its detail columns (when it has none yet), and
    // its icon or thumbnail (asked of the work pool once). The list view
    // asks for it when it first draws the item.
    void FillItem(classlib::TListItem* Item);
    // Changes the shell announces in the shown folder refresh the list
    // 300 ms after the last one (UpdateContents); a deleted object leaves at
    // once. A shown file-system folder that no longer exists switches the
    // list to My Computer.
    bool GetAutomaticRefresh() const { return automaticRefresh_; }
    void SetAutomaticRefresh(bool Value);
    // A right click on an item shows the shell's menu of the selected objects.
    bool ShellContextMenu = true;
    std::wstring Version() const { return L"TShellList V1.0.0.0"; }
    // Objects draw the shell's overlay (link arrow, share hand), hidden and
    // ghosted ones dimmed (default true). Changing refills.
    bool GetShowOverlayIcons() const { return showOverlayIcons_; }
    void SetShowOverlayIcons(bool Value);

    // Icon view with a picture of each object: a placeholder with the
    // object's icon at once, the thumbnail made on the work pool when the
    // view first draws the item. Setting refills; on, the view becomes
    // icon view; off, the view keeps its style and shows the large icons.
    // Any later change of ViewStyle turns it off.
    bool GetThumbnails() const { return thumbnails_; }
    void SetThumbnails(bool Value);
    // Leaves thumbnails (refilling) when they were on; the header shows the
    // sort arrow again.
    void SetViewStyle(classlib::TViewStyle Value) override;
    // The size of the pictures (96 x 96 at first) and the colour of their
    // frame; a change makes every picture again (in a new image list).
    int GetThumbnailWidth() const { return thumbWidth_; }
    int GetThumbnailHeight() const { return thumbHeight_; }
    void SetThumbnailSize(int Width, int Height);
    void SetThumbnailWidth(int Value) { SetThumbnailSize(Value, thumbHeight_); }
    void SetThumbnailHeight(int Value) { SetThumbnailSize(thumbWidth_, Value); }
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
    // A name edited in place that RenameItem refused: the handler gets a
    // message naming the names and the reason; without a handler the list
    // shows it in a message box.
    TRefusalEvent OnRenameRefused;
    // Files dropped into a folder of the list that the copy, move or link
    // did not bring there: as OnRenameRefused.
    TRefusalEvent OnDropRefused;
    // Check boxes from the link's selection list: checking an object adds
    // its path, unchecking removes it; a folder with something checked
    // below shows grey. Needs a link (without one the value stays false,
    // unless the form is loading: it may give the link later). Space or a
    // click on the box toggles the selected object.
    // The sort arrow picture of the header without visual themes (owned by
    // the list): the resource bitmap TSHELLLIST_LV_ARROWUP or _ARROWDOWN on
    // the button face.
    HBITMAP GetSortArrow(bool Descending) const { return Descending ? arrowDown_ : arrowUp_; }
    bool GetCheckboxes() const { return checkboxes_; }
    void SetCheckboxes(bool Value);
    // Toggles the check of the item at Index (nothing for an object that
    // cannot be checked); fires OnCheckStateChanged.
    void ToggleCheck(int Index);
    TOnCheckStateChanged OnCheckStateChanged;
    // Files dragged onto a folder item go into that folder, onto the " .. "
    // item into the parent folder, anywhere else into the shown folder; the
    // selected objects can be dragged out (default true; registered with
    // the window, which needs OLE set up on the thread; when that fails the
    // value goes back to false). The drop target is the list's for its whole
    // life.
    bool GetOleDragDrop() const { return oleDragDrop_; }
    void SetOleDragDrop(bool Value);
    IDropTarget* GetDropTarget() const;
    // The effects offered to a drop target and allowed for a drag out.
    TShCopyMode GetCopyMode() const { return copyMode_; }
    void SetCopyMode(TShCopyMode Value) { copyMode_ = Value; }
    // Before a drop onto an item or the background runs.
    TOnBeforeShellDropEvent OnBeforeShellDrop;
    // Selects the items whose file names are among the names of the last
    // drop (each name found is crossed out); the names are forgotten after.
    void SelectDroppedNames();
    // A new reference to the drop target of Item's object, of the parent
    // folder for the " .. " item, of the shown folder for null; null when
    // the object takes no drops.
    IDropTarget* GetDropTargetOf(const classlib::TListItem* Item);
    // The drop source of the list's own drags.
    virtual HRESULT QueryContinueDrag(BOOL EscapePressed, DWORD KeyState);
    virtual HRESULT GiveFeedback(DWORD Effect);
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

    // Runs a shell verb on the selected objects and follows what it did;
    // true when something was done (false with nothing selected or when the
    // shell did not carry it out). "default" or "open" on one folder opens
    // it in the list (not a ".zip" file, which the shell opens), on a link
    // to a folder shows the target; on the " .. " item "default" goes up.
    // "delete" removes the deleted items and reports [sopDelete,
    // sopRemove]; "paste" reports the paste into the shown folder; "cut"
    // shows the selected items dimmed. "rename" edits the selected name in
    // place (not while ReadOnly).
    bool ExecuteVerb(const std::wstring& Verb);
    // Pastes the clipboard's files into the shown folder through the shell
    // (Ctrl+V) and reports [sopCopy or sopMove, sopPaste, sopAdd] with the
    // folder as destination (move: the first clipboard file is gone
    // afterwards); the list refreshes either way.
    void PasteIntoFolder();
    // The shell's menu of the selected objects at a screen point (nothing
    // without a selection); the chosen verb is followed as by ExecuteVerb.
    // Modal: returns when the menu has closed.
    void ShowShellContextMenu(POINT ScreenPoint);
    // Shown by a right click on no item (or the menu key with nothing
    // selected). Not owned: forgotten when it is freed.
    classlib::TPopupMenu* GetBackgroundPopupMenu() const { return backgroundPopupMenu_; }
    void SetBackgroundPopupMenu(classlib::TPopupMenu* Value);
    // Shown for an item when ShellContextMenu is off; without one the
    // request goes to the parent window (WM_CONTEXTMENU). When it is on,
    // the menu's entries are shown in the shell's menu. Not owned.
    classlib::TPopupMenu* GetPopupMenu() const { return popupMenu_; }
    void SetPopupMenu(classlib::TPopupMenu* Value);
    // A picture behind the items (owned; a copy of what is set, nullptr or
    // an empty picture removes it). The list view reads it from a file of
    // its own in the temporary folder, made under a new unique name on
    // every change and deleted with the change and with the window. A list
    // view that does not take pictures from files has the list draw it
    // under the items instead, fixed to the client area in every view.
    classlib::TBitmap* GetBackgroundImage() const { return backgroundImage_.get(); }
    void SetBackgroundImage(const classlib::TBitmap* Value);
    TShBackgroundImageStyle GetBackgroundImageStyle() const { return backgroundImageStyle_; }
    void SetBackgroundImageStyle(TShBackgroundImageStyle Value);
    // The file the list view reads the picture from ("" without one).
    const std::wstring& BackgroundImageFile() const { return backgroundFile_; }

    // The hint of the item under the pointer (with ShowHint on): the
    // folder's path for " .. ", else the shell's info tip of the object,
    // which OnInfoTip may change; it shows below and right of the item's
    // top-left corner, as wide as the list at most, and stays while the
    // pointer is on the item.
    classlib::TEvent<void(classlib::TObject* Sender, classlib::TListItem* Item, std::wstring& InfoTip)> OnInfoTip;

    // The list was filled.
    classlib::TNotifyEvent OnPopulated;
    // After OnPopulated.
    classlib::TNotifyEvent OnPathChanged;
    // Before a full fill.
    classlib::TNotifyEvent OnBeforeFullRefresh;
    // An item was double-clicked (the " .. " item goes up instead).
    classlib::TNotifyEvent OnDblClick;
    // An item is about to be added (its record is made through the maker
    // the list view's OnCreateItemClass gives, which starts with
    // TShellListItem's; one that makes anything else raises
    // EInvalidArgument and the item is not added).
    TOnAddItem OnAddItem;
    TOnOperation OnOperation;
    // The window asked for an item's image; the list has given the item
    // its icon (or queued it) and the handler may change ImageIndex.
    TLVNotifyEvent OnGetImageIndex;

protected:
    // Icon views arrange their items again whenever items come or go.
    void CreateParams(classlib::TCreateParams& Params) override;
    void CNNotify(classlib::TMessage& Message) override;
    // A header click sorts by that column (a second click on the sort
    // column turns the order round), then OnColumnClick fires.
    void ColClick(classlib::TListColumn* Column) override;
    // A form that has loaded fills the list: the folder given meanwhile
    // (Path), else the folder set; nothing with NoFillOnStartup.
    void Loaded() override;
    void CreateHandleDone() override;
    void DestroyWnd() override;
    void WndProc(classlib::TMessage& Message) override;
    // The keys of the list (after OnKeyDown): Enter (with Alt:
    // "properties"; without, and only while no OnKeyDown handler is
    // assigned: "default"), Alt+Left/Right (history), Delete, Ctrl+C,
    // Ctrl+V, Ctrl+X, Shift+F10 (the shell's menu).
    void KeyDown(WORD& Key, classlib::TShiftState Shift) override;
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;
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
    // A new thumbnail image list; with thumbnails on every item makes its
    // picture again when next drawn (no refill).
    void RemakeThumbnails();
    // The large icons shown outside thumbnails.
    std::unique_ptr<TShSystemImageList> largeIcons_;
    bool settingThumbnails_ = false;
    // Set while OnThumbnailUpdated runs: a new size or colour then waits
    // for the next fill (the image list is in use).
    bool settingThumbnail_ = false;
    // WM_CONTEXTMENU: the shell's menu, the item's or the background's.
    void ContextMenu(classlib::TMessage& Message);
    // CM_HINTSHOW: fills the hint record for the item under the pointer;
    // false when there is none (the control's own hint then applies).
    bool ItemHint(classlib::THintInfo& Info);
    // Reports an operation: a delete first removes the selected items; a
    // rename moves the check of the old path; OnOperation sees Files when
    // it holds a name; the linked controls update after a move, delete,
    // removal or rename.
    void DoOperation(TShellOperations Operation, std::unique_ptr<classlib::TStringList> Files,
                     const std::wstring& Destination);
    // The paths of the selected objects (none while the " .. " item is the
    // selected one).
    std::unique_ptr<classlib::TStringList> SelectedPaths() const;
    void ShowSelectedCut();
    // The browser's rename step edits the selected name (none while
    // ReadOnly).
    void PrepareRename();
    // Hands Message to OnRenameRefused, or shows it (nothing when empty).
    void RenameRefused(const std::wstring& Message);
    // Why the last RenameItem refused (empty: no reason to tell).
    std::wstring renameError_;
    void EditSelected(classlib::TObject* Sender);
    void RestartRefresh();
    // Writes the picture to a new file and gives it to the window (or
    // takes it away); the previous file is deleted.
    void ApplyBackgroundImage();
    void DeleteBackgroundFile();
    // Fills the part of DC's clip box within the client area with the
    // window's background and the picture placed by its style.
    void PaintBackgroundImage(HDC DC);
    void Register();
    void Revoke();
    // The folder changed: selection cleared, history, link.
    void AfterFolderChange();
    class TDropSource;
    // The item under a screen point (null when none).
    classlib::TListItem* ItemAt(POINTL ScreenPoint);
    // Drags the selected objects out (Button 1 left, 2 right).
    void OleDrag(int Button);
    // OnOperation, and the linked controls told of a move.
    void ReportOperation(TShellOperations Operation, classlib::TStringList* Files, const std::wstring& Destination);
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
    // The shell's display name of the browser's current object. A plain
    // file's is its file name with or without the extension, by a rule the
    // shell keeps per extension: the shell is asked for the first file of
    // each extension in a fill, and the answer stands for the others
    // (asking for each of thousands of files costs seconds). Folders, names
    // that follow neither form, and folders with a desktop.ini (which may
    // rename files) are asked one by one.
    std::wstring ObjectDisplayName(bool Folder, const std::wstring& FileName);
    // By upper-case extension: 0 the file name, 1 without the extension,
    // 2 ask the shell.
    std::unordered_map<std::wstring, int> nameRules_;
    bool namesByRule_ = false;
    void AddPending(bool Timed = false);
    void AddParentItem();
    int IndexOfObject(const std::wstring& ObjectName) const;
    // The name an item is found by again: the file-system name, else the
    // caption.
    static std::wstring KeyOf(const classlib::TListItem* Item);

    bool Loading() const { return (GetComponentState() & classlib::csLoading) != 0; }
    // The item's overlay (-1 none) and dimmed state, drawn by the window.
    void ShowItemState(TShellListItem* Record);
    std::unique_ptr<TShFolderObject> browser_;
    classlib::TPopupMenu* backgroundPopupMenu_ = nullptr;
    classlib::TPopupMenu* popupMenu_ = nullptr;
    std::unique_ptr<classlib::TBitmap> backgroundImage_;
    TShBackgroundImageStyle backgroundImageStyle_ = bisTiled;
    std::wstring backgroundFile_;
    // The window refused the picture: the list paints it under the items.
    bool drawsBackground_ = false;
    TPidl folderPidl_;
    // Path given while the form loads (shown once it has loaded).
    std::wstring pendingPath_;
    bool windowCreated_ = false;
    bool showOverlayIcons_ = true;
    bool thumbnails_ = false;
    int thumbWidth_ = 96;
    int thumbHeight_ = 96;
    classlib::TColor thumbBorder_ = 12632256;
    HIMAGELIST thumbImages_ = nullptr;
    // Reference counted like the icon sink; detached by the destructor.
    TThumbnailSink* thumbSink_ = nullptr;
    std::unique_ptr<TPidlHistory> history_;
    bool navigatingHistory_ = false;
    bool showFolders_ = true;
    bool showParentFolder_ = false;
    bool details_ = true;
    bool oleDragDrop_ = true;
    bool checkboxes_ = false;
    // The state images of the check boxes (ssUnused .. ssGrayed); owned.
    std::unique_ptr<TShSelectionStateImageList> checkImages_;
    int CheckState(classlib::TListItem* Item) const;
    bool dropRegistered_ = false;
    std::unique_ptr<TDropTarget> dropTarget_;
    std::unique_ptr<TDropSource> dropSource_;
    TShCopyMode copyMode_ = cmDefault;
    // The button of the list's own drag in progress (1 left, 2 right; 0
    // when none).
    int dragButton_ = 0;
    // The file names of the last drop, selected once their items show.
    std::vector<std::wstring> droppedNames_;
    int sortColumn_ = 0;
    bool sortDescending_ = false;
    // The shell's detail index of each detail column; the widths the user
    // gave them per kind of folder (ShellFolderCount rows of
    // MaxDetailColumns, 0: none), and the kind the columns shown belong to.
    int detailColumnCount_ = 1;
    std::vector<int> columnDetail_ = std::vector<int>(MaxDetailColumns, -1);
    std::vector<int> columnWidths_ = std::vector<int>(std::size_t(ShellFolderCount) * MaxDetailColumns, 0);
    TShellFolder columnFolder_ = SF_FILESYSTEMFOLDER;
    // The detail texts of an item that has none yet.
    void FillDetails(classlib::TListItem* Item);
    // Whether the sort goes by the shell's comparison (else by text).
    bool SortsByShell() const;
    // The pictures of the sort arrow without visual themes; owned.
    HBITMAP arrowUp_ = nullptr;
    HBITMAP arrowDown_ = nullptr;
    // The column header, subclassed while it exists so that a column drag
    // or resize shows the arrow again.
    HWND headerWindow_ = nullptr;
    static LRESULT CALLBACK HeaderProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR Id, DWORD_PTR Data);
    void HookHeader();
    void UnhookHeader();
    // Orders the fill's entries before they are added.
    void SortPending();
    // A new item record from the maker OnCreateItemClass gives; one that
    // makes no TShellListItem raises EInvalidArgument.
    std::unique_ptr<TShellListItem> NewRecord();
    classlib::TListItem* AddEntry(const TFolderEntry& Entry);
    bool automaticRefresh_ = true;
    bool filling_ = false;
    std::unique_ptr<TShellChangeNotifier> notifier_;
    std::unique_ptr<classlib::TTimer> refreshTimer_;
    // The fill in progress: while reading_ the folder is being read into
    // pending_; then the entries from pendingNext_ on are still to add, and
    // the names in reselect_ are selected again once all are in.
    bool reading_ = false;
    bool sorting_ = false;  // read: the entries are sorted in the next step
    std::vector<TFolderEntry> pending_;
    std::size_t pendingNext_ = 0;
    std::vector<std::wstring> reselect_;
    // An object another control selected that the fill had not reached
    // yet (relative to the shown folder); selected when its item comes in.
    TPidl pendingObject_;
    // That object once selected, shown again where the final sort puts it.
    TPidl linkedObject_;
    // Selects, focuses and shows the item of Object; false when the list
    // has none.
    bool SelectObjectItem(LPCITEMIDLIST Object);
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
