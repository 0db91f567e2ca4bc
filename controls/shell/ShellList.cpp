#include "controls/shell/ShellList.h"

#include <shlobj.h>
#include <uxtheme.h>
#include <vssym32.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <atomic>
#include <unordered_map>
#include <utility>

#include "classlib/Bitmap.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Forms.h"
#include "classlib/FileCtrl.h"
#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "controls/shell/ShWideStr.h"
#include "controls/shell/ShWorkItems.h"
#include "controls/shell/ShellListPrivate.h"

namespace shell {

// ---- list

namespace {
HBITMAP MakeSortArrow(const wchar_t* Name, bool Up);
}  // namespace

TShellList::TShellList(classlib::TComponent* AOwner)
    : classlib::TListView(AOwner),
      TShellOptionAccess<TShellList>(soShowNethood | soShowRecycleBin | soShowFiles),
      browser_(std::make_unique<TShFolderObject>(nullptr)),
      history_(std::make_unique<TPidlHistory>()),
      dropTarget_(std::make_unique<TDropTarget>(this)),
      dropSource_(std::make_unique<TDropSource>(this)),
      notifier_(std::make_unique<TShellChangeNotifier>(nullptr)),
      refreshTimer_(std::make_unique<classlib::TTimer>(nullptr)),
      fillTimer_(std::make_unique<classlib::TTimer>(nullptr))
{
    browser_->SetShowErrorMessages(false);
    thumbSink_ = new TThumbnailSink(this);
    MakeThumbnailImages();
    SetSmallImages(SmallIcons());
    arrowUp_ = MakeSortArrow(L"TSHELLLIST_LV_ARROWUP", true);
    arrowDown_ = MakeSortArrow(L"TSHELLLIST_LV_ARROWDOWN", false);
    largeIcons_ = std::make_unique<TShSystemImageList>(nullptr);
    largeIcons_->SetSize(si_large);
    SetLargeImages(largeIcons_->GetHandle());
    SetViewStyle(classlib::vsReport);
    SetReadOnly(false);
    SetRowSelect(true);
    SetMultiSelect(true);
    CreateColumns();
    // Every change but associations, attributes, free space, server
    // disconnections and image lists. Recursive: a flat watch reports only
    // the folder itself on some platforms, never the files in it.
    notifier_->SetEventFilter(AllNotificationEvents & ~(NotificationBit(neAssociationChange) |
                                                        NotificationBit(neAttributesChange) |
                                                        NotificationBit(neDriveSpaceChange) |
                                                        NotificationBit(neServerDisconnect) |
                                                        NotificationBit(neImageListChange)));
    notifier_->OnChange = TShellNotifierEvent(this, &TShellList::ShellChanged);
    notifier_->SetWatchFileSystem(true);
    refreshTimer_->SetEnabled(false);
    refreshTimer_->SetInterval(300);
    refreshTimer_->SetOnTimer(classlib::TNotifyEvent(this, &TShellList::RefreshTimer));
    fillTimer_->SetEnabled(false);
    fillTimer_->SetInterval(1);
    fillTimer_->SetOnTimer(classlib::TNotifyEvent(this, &TShellList::FillStep));
}

TShellList::~TShellList()
{
    Revoke();
    if (backgroundImage_) backgroundImage_->OnChange.Clear();
    DeleteBackgroundFile();
    checkImages_.reset();
    DetachIcons();
    notifier_->SetEnabled(false);
    notifier_->OnChange = nullptr;
    refreshTimer_->SetEnabled(false);
    fillTimer_->SetEnabled(false);
    SetShellLink(nullptr);
    DropAllWork();
    thumbSink_->Detach();
    thumbSink_->Release();
    SetLargeImages(nullptr);
    if (thumbImages_) ::ImageList_Destroy(thumbImages_);
    UnhookHeader();
    if (arrowUp_) ::DeleteObject(arrowUp_);
    if (arrowDown_) ::DeleteObject(arrowDown_);
}

TShellListItem* TShellList::ShellItem(const classlib::TListItem* Item)
{
    return Item ? static_cast<TShellListItem*>(Item->Data) : nullptr;
}

std::wstring TShellList::KeyOf(const classlib::TListItem* Item)
{
    const TShellListItem* record = ShellItem(Item);
    return record && !record->ObjectName.empty() ? record->ObjectName : Item->GetCaption();
}

void TShellList::DropAllWork()
{
    // One pass for everything queued or running for the list's items.
    CancelWork(nullptr, this);
    for (auto& [key, record] : records_) record->Item->Data = nullptr;
    records_.clear();
}

void TShellList::DeleteItem(int Index)
{
    classlib::TListItem* item = GetItems()->GetItem(Index);
    TShellListItem* record = ShellItem(item);
    if (record) CancelWork(record, this);
    GetItems()->Delete(Index);
    if (record) records_.erase(record);
}

void TShellList::IconArrived(int IconIndex, std::uint8_t Kind, classlib::TObject* Tag)
{
    // An item that left the list (its work cancelled) is not looked at.
    auto it = records_.find(Tag);
    if (it == records_.end()) return;
    SelectDroppedNames();
    if (IconIndex < 0) return;
    if (Kind == 1) {
        if (it->second->Overlay == IconIndex) return;
        it->second->Overlay = IconIndex;
        ShowItemState(it->second.get());
        return;
    }
    if (Kind == 0) it->second->Item->SetImageIndex(IconIndex);
}

void TShellList::CreateParams(classlib::TCreateParams& Params)
{
    classlib::TListView::CreateParams(Params);
    Params.Style |= LVS_AUTOARRANGE;
}

void TShellList::CreateHandleDone()
{
    classlib::TListView::CreateHandleDone();
    Register();
    HookHeader();
    ShowSortArrow();
    if (!windowCreated_) {
        windowCreated_ = true;
        browser_->SetDialogOwner(this);
        if (useSystemStyles_) ApplyExplorerStyle(TListViewWindow{GetHandle()});
    }
    if (backgroundImage_) ApplyBackgroundImage();
}

void TShellList::Loaded()
{
    classlib::TListView::Loaded();
    if (useSystemFont_) GetIconTitleFont(*GetFont());
    std::wstring pending;
    pending.swap(pendingPath_);
    if (GetItems()->GetCount() != 0) return;
    try {
        if (!GetOption(soNoFillOnStartup)) {
            if (!pending.empty())
                SetPath(pending);
            else
                Populate();
        } else if (!pending.empty()) {
            // Not filled, but Path keeps answering the folder given.
            browser_->SetFolder(pending);
            AfterFolderChange();
        }
    } catch (const EShFolderObjectError&) {
        // A folder that cannot be parsed leaves the list empty; the form
        // loads on.
    }
}

void TShellList::SetShowOverlayIcons(bool Value)
{
    if (Value == showOverlayIcons_) return;
    showOverlayIcons_ = Value;
    Populate();
}

void TShellList::ShowItemState(TShellListItem* Record)
{
    if (!HandleAllocated()) return;
    const int row = GetItems()->IndexOf(Record->Item);
    if (row < 0) return;
    LVITEMW lv{};
    lv.stateMask = LVIS_OVERLAYMASK | LVIS_CUT;
    // The window has room for overlays 1 to 15.
    if (Record->Overlay >= 0 && Record->Overlay < 15) lv.state = INDEXTOOVERLAYMASK(Record->Overlay + 1);
    if (Record->Dimmed) lv.state |= LVIS_CUT;
    SendToWindow(LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&lv));
}

std::wstring TShellList::GetPath() const
{
    if (Loading() && !pendingPath_.empty()) return pendingPath_;
    return browser_->ShellFolder() ? browser_->GetFolder() : std::wstring();
}

LPCITEMIDLIST TShellList::FolderPidl()
{
    if (!folderPidl_ && browser_->FolderIDList()) folderPidl_ = browser_->GetFolderIDList();
    return folderPidl_.get();
}

void TShellList::SetPath(const std::wstring& Value)
{
    if (Loading()) {
        // Shown once the form has loaded (Loaded).
        pendingPath_ = Value;
        DropAllWork();
        GetItems()->Clear();
        return;
    }
    const std::wstring current = GetPath();
    if (!current.empty() && SamePath(Value, current) && GetItems()->GetCount() > 1) return;
    browser_->SetFolder(Value);  // EShFolderObjectError when it cannot be parsed
    AfterFolderChange();
    Populate();
}

TShellFolder TShellList::GetSpecialFolder() const
{
    const TShellFolder sf = browser_->GetSpecialFolder();
    return sf == SF_DRIVES && !GetPath().empty() ? SF_FILESYSTEMFOLDER : sf;
}

void TShellList::SetSpecialFolder(TShellFolder Value)
{
    if (Value != SF_FILESYSTEMFOLDER) {
        browser_->SetSpecialFolder(Value);
        // A special folder set after a path (as a form stores them) wins.
        pendingPath_.clear();
    }
    AfterFolderChange();
    Populate();
}

void TShellList::OpenFolderPidl(LPCITEMIDLIST Pidl)
{
    if (!Pidl) return;
    TPidl copy = PidlClone(Pidl);  // Pidl may be the history's own entry
    browser_->SetFolderIDList(copy.get());
    AfterFolderChange();
    Populate();
}

void TShellList::AfterFolderChange()
{
    SetSelected(nullptr);
    reselect_.clear();
    folderPidl_.reset();
    if (!navigatingHistory_) history_->Push(browser_->GetFolderIDList());
    if (link_ && browser_->FolderIDList() && !Loading()) {
        TPidl copy = browser_->GetFolderIDList();
        link_->NotifyFolderChanged(this, copy.get());
    }
}

void TShellList::HistoryStep(int Count)
{
    navigatingHistory_ = true;
    try {
        if (Count <= 0)
            history_->Back(-Count);
        else
            history_->Forward(Count);
        OpenFolderPidl(history_->Current());
    } catch (...) {
        navigatingHistory_ = false;
        throw;
    }
    navigatingHistory_ = false;
}

std::wstring TShellList::GetFilter() const { return browser_->GetFilter(); }

void TShellList::SetFilter(const std::wstring& Value)
{
    if (Value == browser_->GetFilter()) return;
    browser_->SetFilter(Value);
    Populate();
}

void TShellList::SetShowFolders(bool Value)
{
    if (showFolders_ == Value) return;
    showFolders_ = Value;
    Populate();
}

void TShellList::SetShowParentFolder(bool Value)
{
    if (showParentFolder_ == Value) return;
    showParentFolder_ = Value;
    Populate();
}

bool TShellList::GetFileSystemOnly() const { return browser_->GetFileSystemOnly(); }

void TShellList::SetFileSystemOnly(bool Value)
{
    if (Value == browser_->GetFileSystemOnly()) return;
    browser_->SetFileSystemOnly(Value);
    Populate();
}

void TShellList::SetShellOptions(ShellOptions Value)
{
    options_ = Value;
    browser_->SetShowErrorMessages((Value & soShowErrorMessages) != 0);
    browser_->SetShowContextMenuOnTop((Value & soShowContextMenuOnTop) != 0);
    if ((Value & soNoFillOnStartup) && !windowCreated_) return;
    Populate();
}

void TShellList::SetOption(TShellOption Option, bool Value)
{
    const ShellOptions next = static_cast<ShellOptions>(Value ? options_ | Option : options_ & ~Option);
    if (next != options_) SetShellOptions(next);
}

void TShellList::SetDetails(bool Value)
{
    if (details_ == Value) return;
    details_ = Value;
    Populate();
}

void TShellList::CreateColumns()
{
    classlib::TListColumns* columns = GetColumns();
    // The widths the columns have now belong to the kind of folder they
    // were made for.
    for (int i = 0; i < columns->GetCount() && i < MaxDetailColumns; ++i)
        columnWidths_[std::size_t(columnFolder_) * MaxDetailColumns + std::size_t(i)] = columns->GetItem(i)->GetWidth();
    columnFolder_ = browser_->ShellFolder() ? browser_->GetSpecialFolder() : SF_FILESYSTEMFOLDER;
    const std::vector<TDetailColumn> details = ReadDetailColumns(
        [&](int Detail) { return browser_->GetDetail(Detail, true); },
        [&](int Detail, int& Width) { return browser_->GetDetailsOf(Detail, Width); }, details_);
    BeginUpdate();
    columns->Clear();
    std::fill(columnDetail_.begin(), columnDetail_.end(), -1);
    for (const TDetailColumn& d : details) {
        const int index = columns->GetCount();
        classlib::TListColumn* c = columns->Add();
        c->SetCaption(d.Title);
        c->SetAlignment(d.Alignment);
        const int saved = columnWidths_[std::size_t(columnFolder_) * MaxDetailColumns + std::size_t(index)];
        c->SetWidth(saved >= 1 && index <= 254 ? saved : d.Width);
        columnDetail_[std::size_t(index)] = d.Detail;
    }
    EndUpdate();
    detailColumnCount_ = columns->GetCount();
    OnCreateColumns(this);
}

int TShellList::GetColumnDetail(int Column) const
{
    return Column >= 0 && Column < detailColumnCount_ && Column < MaxDetailColumns ? columnDetail_[std::size_t(Column)] : -1;
}

void TShellList::FillDetails(classlib::TListItem* Item)
{
    TShellListItem* record = ShellItem(Item);
    if (!details_ || GetViewStyle() != classlib::vsReport || !record || record->IsParentFolder() || !record->Pidl ||
        Item->GetSubItems()->GetCount() > 0 || !browser_->ShellFolder())
        return;
    browser_->SetObjectIDList(record->Pidl.get());
    auto texts = std::make_unique<classlib::TStringList>();
    for (int c = 1; c < detailColumnCount_; ++c) texts->Add(browser_->GetDetail(columnDetail_[std::size_t(c)], false));
    Item->SetSubItems(texts.get());
}

void TShellList::FillItem(classlib::TListItem* Item)
{
    if (Item) ItemImageIndex(Item);
}

bool TShellList::SortsByShell() const
{
    return sortColumn_ < detailColumnCount_ && !OnCompare && browser_->ShellFolder();
}

void TShellList::SortPending()
{
    if (sortColumn_ >= GetColumns()->GetCount()) sortColumn_ = 0;
    // Sorts by text need the items: they are sorted once all are in.
    if (!SortsByShell()) return;
    std::vector<LPCITEMIDLIST> pidls;
    pidls.reserve(pending_.size());
    for (const TFolderEntry& e : pending_) pidls.push_back(e.Pidl.get());
    const std::vector<int> order =
        OrderObjects(browser_->ShellFolder(), GetColumnDetail(sortColumn_), pidls, sortDescending_);
    std::vector<TFolderEntry> sorted;
    sorted.reserve(pending_.size());
    for (int i : order) sorted.push_back(std::move(pending_[std::size_t(i)]));
    pending_ = std::move(sorted);
}

void TShellList::SortItems()
{
    classlib::TListItems* items = GetItems();
    if (sortColumn_ >= GetColumns()->GetCount()) sortColumn_ = 0;
    // The " .. " item leads whatever the direction.
    std::vector<int> parents, others;
    for (int i = 0; i < items->GetCount(); ++i) {
        const TShellListItem* record = ShellItem(items->GetItem(i));
        (record && record->IsParentFolder() ? parents : others).push_back(i);
    }
    std::vector<int> order;
    if (SortsByShell()) {
        std::vector<LPCITEMIDLIST> pidls;
        for (int i : others) {
            const TShellListItem* record = ShellItem(items->GetItem(i));
            pidls.push_back(record ? record->Pidl.get() : nullptr);
        }
        for (int i : OrderObjects(browser_->ShellFolder(), GetColumnDetail(sortColumn_), pidls, sortDescending_))
            order.push_back(others[std::size_t(i)]);
    } else {
        const int column = sortColumn_;
        const bool bySubItem = column > 0 && GetViewStyle() == classlib::vsReport;
        if (bySubItem)
            for (int i : others) FillDetails(items->GetItem(i));
        const int factor = sortDescending_ ? -1 : 1;
        order = others;
        auto alive = AliveToken();
        SafeStableSort(order, [&](int a, int b) {
            // A handler that freed the list ends the comparisons.
            if (!*alive) return 0;
            classlib::TListItem* ia = items->GetItem(a);
            classlib::TListItem* ib = items->GetItem(b);
            int c = 0;
            if (bySubItem) {
                classlib::TStrings* sa = ia->GetSubItems();
                classlib::TStrings* sb = ib->GetSubItems();
                c = CompareText(column - 1 < sa->GetCount() ? sa->GetStrings(column - 1) : std::wstring(),
                                column - 1 < sb->GetCount() ? sb->GetStrings(column - 1) : std::wstring());
            } else {
                c = CompareNatural(ia->GetCaption(), ib->GetCaption());
            }
            c = (c < 0 ? -1 : c > 0 ? 1 : 0) * factor;
            OnCompare(this, ia, ib, column, c);
            return c;
        });
        if (!*alive) return;
    }
    order.insert(order.begin(), parents.begin(), parents.end());
    items->Rearrange(order);
    ShowSortArrow();
}

void TShellList::SortBy(int Column, bool Descending)
{
    sortColumn_ = Column >= 0 && Column < GetColumns()->GetCount() ? Column : 0;
    sortDescending_ = Descending;
    // A fill in progress starts again in the new order.
    if (reading_ || fillTimer_->GetEnabled())
        Populate();
    else
        SortItems();
}

namespace {

bool ThemesActive() { return ::IsThemeActive() && ::IsAppThemed(); }

// The picture of a sort arrow: the program's bitmap resource Name when it
// has one (its transparent colour, the bottom-left pixel, left out), else
// a small triangle, over the face colour of buttons (with visual themes the
// fill colour of the toolbar's separators). The caller owns the handle.
HBITMAP MakeSortArrow(const wchar_t* Name, bool Up)
{
    COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    if (ThemesActive()) {
        constexpr int kToolbarSeparator = 5;
        if (HTHEME theme = ::OpenThemeData(nullptr, L"TOOLBAR")) {
            COLORREF c = 0;
            if (SUCCEEDED(::GetThemeColor(theme, kToolbarSeparator, 0, TMT_FILLCOLOR, &c))) face = c;
            ::CloseThemeData(theme);
        }
    }
    classlib::TOwnedBitmap resource(static_cast<HBITMAP>(
        ::LoadImageW(::GetModuleHandleW(nullptr), Name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    BITMAP info{};
    int w = 8, h = 8;
    if (resource && ::GetObjectW(resource.Get(), sizeof(info), &info) && info.bmWidth > 0 && info.bmHeight > 0) {
        w = info.bmWidth;
        h = info.bmHeight;
    }
    classlib::TScreenDC screen;
    HBITMAP result = ::CreateCompatibleBitmap(screen.Get(), w, h);
    if (!result) return nullptr;
    classlib::TMemoryDC dc(result);
    RECT all{0, 0, w, h};
    classlib::TOwnedBrush brush(::CreateSolidBrush(face));
    ::FillRect(dc.Get(), &all, static_cast<HBRUSH>(brush.Get()));
    if (resource) {
        classlib::TMemoryDC from(resource.Get());
        const COLORREF transparent = ::GetPixel(from.Get(), 0, h - 1);
        for (int y = 0; y < std::min(h, 8); ++y)
            for (int x = 0; x < std::min(w, 8); ++x) {
                const COLORREF c = ::GetPixel(from.Get(), x, y);
                if (c != transparent) ::SetPixel(dc.Get(), x, y, c);
            }
    } else {
        // Rows of 7, 5, 3 and 1 pixels: the point up or down.
        const COLORREF ink = ::GetSysColor(COLOR_BTNSHADOW);
        for (int row = 0; row < 4; ++row) {
            const int y = Up ? 5 - row : 2 + row;
            for (int x = row; x < 7 - row; ++x) ::SetPixel(dc.Get(), x, y, ink);
        }
    }
    return result;
}

}  // namespace

void TShellList::ShowSortArrow()
{
    if (!HandleAllocated()) return;
    auto header = reinterpret_cast<HWND>(SendToWindow(LVM_GETHEADER, 0, 0));
    if (header) MarkSortColumn(header, sortColumn_, sortDescending_, ThemesActive(), arrowUp_, arrowDown_);
}

void MarkSortColumn(HWND Header, int Column, bool Descending, bool Themed, HBITMAP ArrowUp, HBITMAP ArrowDown)
{
    const int count = static_cast<int>(::SendMessageW(Header, HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        HDITEMW hd{};
        hd.mask = HDI_FORMAT;
        if (!::SendMessageW(Header, HDM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&hd))) continue;
        hd.mask = HDI_FORMAT | HDI_BITMAP;
        hd.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN | HDF_BITMAP | HDF_BITMAP_ON_RIGHT);
        hd.hbm = nullptr;
        if (i == Column && Themed) {
            hd.fmt |= Descending ? HDF_SORTDOWN : HDF_SORTUP;
        } else if (i == Column) {
            hd.fmt |= HDF_BITMAP | HDF_BITMAP_ON_RIGHT;
            hd.hbm = Descending ? ArrowDown : ArrowUp;
        }
        ::SendMessageW(Header, HDM_SETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&hd));
    }
}

LRESULT CALLBACK TShellList::HeaderProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR, DWORD_PTR Data)
{
    auto* list = reinterpret_cast<TShellList*>(Data);
    if (Msg == WM_NCDESTROY) {
        list->UnhookHeader();
        return ::DefSubclassProc(Wnd, Msg, WParam, LParam);
    }
    const LRESULT result = ::DefSubclassProc(Wnd, Msg, WParam, LParam);
    // The end of a column drag or resize.
    if (Msg == WM_CAPTURECHANGED) {
        try {
            list->ShowSortArrow();
        } catch (...) {
            if (classlib::Application) classlib::Application->HandleException(nullptr);
        }
    }
    return result;
}

void TShellList::HookHeader()
{
    UnhookHeader();
    if (!HandleAllocated()) return;
    auto header = reinterpret_cast<HWND>(SendToWindow(LVM_GETHEADER, 0, 0));
    if (header && ::SetWindowSubclass(header, &TShellList::HeaderProc, reinterpret_cast<UINT_PTR>(this),
                                      reinterpret_cast<DWORD_PTR>(this)))
        headerWindow_ = header;
}

void TShellList::UnhookHeader()
{
    if (!headerWindow_) return;
    ::RemoveWindowSubclass(headerWindow_, &TShellList::HeaderProc, reinterpret_cast<UINT_PTR>(this));
    headerWindow_ = nullptr;
}

bool TShellList::MakeEntry(TFolderEntry& Entry)
{
    const bool folder = browser_->IsFolder();
    if (folder && !showFolders_) return false;
    if (!IsShownObject(*browser_, options_)) return false;
    const WIN32_FIND_DATAW& fd = browser_->GetFindData();
    Entry.ObjectName = fd.cFileName;
    Entry.Name = ObjectDisplayName(folder, Entry.ObjectName);
    Entry.Folder = folder;
    Entry.Size = (std::uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    Entry.Modified = fd.ftLastWriteTime;
    Entry.Flags = static_cast<std::uint8_t>((folder ? TShellListItem::fFolder : 0) |
                                            ((fd.dwFileAttributes & FILE_ATTRIBUTE_COMPRESSED) ? TShellListItem::fCompressed : 0) |
                                            ((fd.dwFileAttributes & FILE_ATTRIBUTE_ENCRYPTED) ? TShellListItem::fEncrypted : 0));
    Entry.Dimmed = browser_->GetAttributes(SFGAO_HIDDEN | SFGAO_GHOSTED) != 0;
    Entry.Pidl = std::shared_ptr<ITEMIDLIST>(browser_->GetObjectIDList().release(), TPidlFree());
    return Entry.Pidl != nullptr;
}

std::wstring TShellList::ObjectDisplayName(bool Folder, const std::wstring& FileName)
{
    if (Folder || FileName.empty() || !namesByRule_) return browser_->GetDisplayName();
    const std::wstring ext = classlib::ExtractFileExt(FileName);
    const std::wstring key = TntWideUpperCase(ext);
    auto it = nameRules_.find(key);
    if (it != nameRules_.end()) {
        if (it->second == 0) return FileName;
        if (it->second == 1) return FileName.substr(0, FileName.size() - ext.size());
        return browser_->GetDisplayName();
    }
    std::wstring name = browser_->GetDisplayName();
    int rule = 2;  // neither: asked for every file of the extension
    if (name == FileName)
        rule = 0;
    else if (!ext.empty() && name == FileName.substr(0, FileName.size() - ext.size()))
        rule = 1;
    nameRules_.emplace(key, rule);
    return name;
}

std::unique_ptr<TShellListItem> TShellList::NewRecord()
{
    return MakeOfClass<TShellListItem>(
        OnCreateItemClass, this,
        L"Internal Error: TShellList.OnCreateNodeClass.ItemClass must inherit from TShellListItem.");
}

classlib::TListItem* TShellList::AddEntry(const TFolderEntry& Entry)
{
    // Made first: a maker that fails adds no item.
    auto record = NewRecord();
    classlib::TListItems* items = GetItems();
    classlib::TListItem* item = items->Add();
    record->Item = item;
    record->Pidl = PidlClone(Entry.Pidl.get());
    record->ObjectName = Entry.ObjectName;
    record->Flags = Entry.Flags;
    item->Data = record.get();
    TShellListItem* raw = record.get();
    records_.emplace(raw, std::move(record));
    item->SetCaption(Entry.Name);
    item->SetStateIndex(CheckState(item));
    if (showOverlayIcons_ && Entry.Dimmed) {
        raw->Dimmed = true;
        ShowItemState(raw);
    }
    if (OnAddItem) {
        // The handler may choose by the detail texts: they are read now.
        FillDetails(item);
        bool canAdd = true;
        OnAddItem(raw, canAdd);
        if (!canAdd) {
            DeleteItem(items->IndexOf(item));
            return nullptr;
        }
    }
    return item;
}

void TShellList::AddParentItem()
{
    if (link_ && !link_->GetParentAllowed()) return;
    if (!browser_->ShellFolder() || browser_->GetSpecialFolder() == SF_DESKTOP) return;
    auto record = NewRecord();
    classlib::TListItem* item = GetItems()->Insert(0);
    record->Item = item;
    record->Flags = TShellListItem::fParent | TShellListItem::fFolder;
    // With thumbnails the item gets a framed folder picture of its own in
    // the thumbnail list when first drawn (an icon index means nothing
    // there).
    record->IconAsked = !thumbnails_;
    item->Data = record.get();
    TShellListItem* raw = record.get();
    records_.emplace(raw, std::move(record));
    item->SetCaption(L" .. ");
    item->SetImageIndex(thumbnails_ ? -1 : GetIconIndexOfFolder(false));
    item->SetStateIndex(CheckState(item));  // a box that cannot be checked
}

namespace {

// Objects read per step of a fill, at most this many milliseconds; the
// items added per step (about 50 ms of list-view work under Wine).
constexpr DWORD kReadStepMs = 40;
constexpr int kReadAtOnce = 64;
constexpr std::size_t kFillStep = 300;

}  // namespace

int TShellList::CheckState(classlib::TListItem* Item) const
{
    if (!checkboxes_ || !link_ || !link_->GetSelectionList()) return -1;
    const TShellListItem* record = ShellItem(Item);
    if (!record || record->IsParentFolder() || !record->Pidl) return ssNone;
    // By the object's absolute list: virtual folders (My Computer, the
    // network) show grey when something below them is checked.
    TPidl absolute = PidlCombine(browser_->FolderIDList(), record->Pidl.get());
    bool byParent = false;
    return link_->GetSelectionList()->GetStateOfPidl(absolute.get(), byParent);
}

void TShellList::ColClick(classlib::TListColumn* Column)
{
    const int column = Column->GetIndex();
    SortBy(column, column == sortColumn_ && !sortDescending_);
    classlib::TListView::ColClick(Column);
}

void TShellList::SetCheckboxes(bool Value)
{
    // Without a link there is no selection list to keep the checks. A form
    // that is loading may give the link after the boxes.
    if (Value && !Loading() && (!link_ || !link_->GetSelectionList())) Value = false;
    if (Value == checkboxes_) return;
    checkboxes_ = Value;
    if (Value && !checkImages_) checkImages_ = std::make_unique<TShSelectionStateImageList>(nullptr);
    SetStateImages(Value ? checkImages_->GetHandle() : nullptr);
    if (!Value) checkImages_.reset();
    Populate();
}

void TShellList::ToggleCheck(int Index)
{
    if (!checkboxes_ || !link_ || Index < 0 || Index >= GetItems()->GetCount()) return;
    TShSelectionList* selection = link_->GetSelectionList();
    if (!selection) return;
    classlib::TListItem* item = GetItems()->GetItem(Index);
    const TShellListItem* record = ShellItem(item);
    const int state = CheckState(item);
    if (!record || !record->Pidl || state == ssNone || state == ssUnused) return;
    TPidl absolute = PidlCombine(browser_->FolderIDList(), record->Pidl.get());
    filling_ = true;
    selection->BeginUpdate();
    if (state == ssChecked)
        selection->UncheckPidl(absolute.get());
    else
        selection->CheckPidl(absolute.get());
    const int now = CheckState(item);
    item->SetStateIndex(now);
    // Ending the update tells the linked controls, which may serve messages
    // that fill this list again: the item is found afresh afterwards.
    const std::wstring key = KeyOf(item);
    const std::wstring path = GetItemPath(item);
    selection->EndUpdate();
    filling_ = false;
    OnCheckStateChanged(this, IndexOfObject(key), path, static_cast<TShSelectionState>(now));
}

void TShellList::SetAutomaticRefresh(bool Value)
{
    automaticRefresh_ = Value;
    if (!Value) refreshTimer_->SetEnabled(false);
    WatchFolder();
}

void TShellList::WatchFolder()
{
    notifier_->SetEnabled(false);
    notifier_->GetDirectories()->Clear();
    notifier_->SetRootPidl(nullptr);
    if (!automaticRefresh_ || !browser_->ShellFolder()) return;
    const std::wstring path = GetPath();
    if (!path.empty())
        notifier_->GetDirectories()->Add(WithoutBackslash(path));
    else
        notifier_->SetRootPidl(FolderPidl());
    notifier_->SetEnabled(true);
}

int TShellList::IndexOfObject(const std::wstring& ObjectName) const
{
    classlib::TListItems* items = GetItems();
    for (int i = 0; i < items->GetCount(); ++i) {
        const TShellListItem* record = ShellItem(items->GetItem(i));
        if (record && !record->IsParentFolder() && SamePath(KeyOf(items->GetItem(i)), ObjectName)) return i;
    }
    return -1;
}

void TShellList::Populate()
{
    // The form fills the list once it has loaded (Loaded).
    if (Loading() || !GetEnabled()) return;
    // A maker of the wrong class raises before the list changes.
    NewRecord();
    THourglass hourglass;
    classlib::TListItems* items = GetItems();
    // A fill still in progress hands on the names it was to select again.
    std::vector<std::wstring> selected = reading_ || fillTimer_->GetEnabled() ? reselect_ : std::vector<std::wstring>();
    for (int i = 0; i < items->GetCount(); ++i)
        if (items->GetItem(i)->GetSelected()) selected.push_back(KeyOf(items->GetItem(i)));
    notifier_->SetEnabled(false);
    refreshTimer_->SetEnabled(false);
    fillTimer_->SetEnabled(false);
    OnBeforeFullRefresh(this);
    filling_ = true;
    reselect_ = std::move(selected);
    DropAllWork();
    items->Clear();
    if (thumbImages_) ::ImageList_RemoveAll(thumbImages_);
    folderPidl_.reset();
    if (GetViewStyle() == classlib::vsReport)
        CreateColumns();
    else
        detailColumnCount_ = 1;
    pending_.clear();
    pendingNext_ = 0;
    sorting_ = false;
    reading_ = browser_->ShellFolder() != nullptr;
    // A folder whose desktop.ini may give files names of their own has
    // every name asked; the shell's settings are read again at each fill.
    nameRules_.clear();
    {
        const std::wstring path = GetPath();
        namesByRule_ = !path.empty() && ::GetFileAttributesW((path + L"desktop.ini").c_str()) == INVALID_FILE_ATTRIBUTES;
    }
    if (reading_) {
        // The same list again: the enumeration starts from the beginning.
        browser_->SetFolderIDList(browser_->FolderIDList());
        // A small folder is read whole at once, however busy the machine.
        if (!ReadStep(kReadStepMs, kReadAtOnce)) {
            fillTimer_->SetEnabled(true);
            return;
        }
        reading_ = false;
        SortPending();
    }
    AddPending();
}

bool TShellList::ReadStep(DWORD BudgetMs, int AtLeast)
{
    const DWORD start = ::GetTickCount();
    int count = 0;
    while (browser_->NextObject()) {
        TFolderEntry entry;
        if (MakeEntry(entry)) pending_.push_back(std::move(entry));
        if (++count >= AtLeast && (count & 3) == 0 && ::GetTickCount() - start >= BudgetMs) return false;
    }
    return true;
}

void TShellList::FillStep(classlib::TObject*)
{
    fillTimer_->SetEnabled(false);
    if (reading_) {
        // The sort and the items come in steps of their own.
        if (ReadStep(kReadStepMs, 0)) {
            reading_ = false;
            sorting_ = true;
        }
        fillTimer_->SetEnabled(true);
        return;
    }
    if (sorting_) {
        sorting_ = false;
        SortPending();
        fillTimer_->SetEnabled(true);
        return;
    }
    AddPending(true);
}

void TShellList::AddPending(bool Timed)
{
    classlib::TListItems* items = GetItems();
    const bool first = pendingNext_ == 0;
    const std::size_t end = std::min(pending_.size(), pendingNext_ + kFillStep);
    items->BeginUpdate();
    if (first && showParentFolder_) AddParentItem();
    // At most kFillStep items, and no more than a step's time after the
    // first ones (a busy machine makes each item slower). A fill that is
    // not Timed adds its first kFillStep items at once.
    const DWORD start = ::GetTickCount();
    for (std::size_t n = 0; pendingNext_ < end; ++pendingNext_, ++n) {
        AddEntry(pending_[pendingNext_]);
        if ((Timed || !first) && (n & 15) == 15 && ::GetTickCount() - start >= kReadStepMs) {
            ++pendingNext_;
            break;
        }
    }
    items->EndUpdate();
    if (pendingObject_ && SelectObjectItem(pendingObject_.get())) linkedObject_ = std::move(pendingObject_);
    if (pendingNext_ < pending_.size()) {
        fillTimer_->SetEnabled(true);
        return;
    }
    pending_.clear();
    pendingNext_ = 0;
    classlib::TListItem* focused = nullptr;
    for (const std::wstring& name : reselect_) {
        const int i = IndexOfObject(name);
        if (i < 0) continue;
        focused = items->GetItem(i);
        focused->SetSelected(true);
        focused->SetFocused(true);
    }
    reselect_.clear();
    if (!SortsByShell()) SortItems();
    pendingObject_.reset();
    if (linkedObject_) {
        // Still chosen after the steps: it is the one to show.
        for (int i = 0; i < items->GetCount(); ++i) {
            const TShellListItem* record = ShellItem(items->GetItem(i));
            if (record && record->Pidl && items->GetItem(i)->GetSelected() &&
                SameObject(browser_->ShellFolder(), record->Pidl.get(), linkedObject_.get()))
                focused = items->GetItem(i);
        }
        linkedObject_.reset();
    }
    // The user finds the objects chosen before where the list shows them.
    if (focused && HandleAllocated()) {
        const int row = items->IndexOf(focused);
        if (row >= 0) SendToWindow(LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
    }
    ShowSortArrow();
    OnPopulated(this);
    OnPathChanged(this);
    WatchFolder();
    filling_ = false;
}

namespace {

// Whether a last-write time (UTC) lies within 0.0002 days of now.
bool WrittenJustNow(const FILETIME& Modified)
{
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const std::int64_t age = std::int64_t(Ticks(now)) - std::int64_t(Ticks(Modified));
    constexpr std::int64_t kWindow = std::int64_t(0.0002 * 86400.0 * 1e7);  // in 100 ns units
    return Ticks(Modified) != 0 && age < kWindow && age > -kWindow;
}

}  // namespace

void STDMETHODCALLTYPE TShellList::UpdateContents()
{
    // A disabled list follows the folder too: nothing would bring it up to
    // date once it is enabled again.
    if (filling_ || !browser_->ShellFolder()) return;
    classlib::TListItems* items = GetItems();
    // A full fill would end a rename in place: the pass goes item by item
    // meanwhile.
    const bool editing = HandleAllocated() && SendToWindow(LVM_GETEDITCONTROL, 0, 0) != 0;
    if (items->GetCount() > 500 && !editing) {
        Populate();
        return;
    }
    // A maker of the wrong class raises before the list changes.
    NewRecord();
    filling_ = true;
    std::unordered_map<std::wstring, TShellListItem*> shown;
    for (int i = 0; i < items->GetCount(); ++i) {
        TShellListItem* record = ShellItem(items->GetItem(i));
        if (!record || record->IsParentFolder()) continue;
        record->Seen = 0;
        shown.emplace(TntWideUpperCase(KeyOf(items->GetItem(i))), record);
    }
    std::vector<TFolderEntry> added;
    try {
        browser_->SetFolderIDList(browser_->FolderIDList());
        while (browser_->NextObject()) {
            TFolderEntry entry;
            if (!MakeEntry(entry)) continue;
            auto it = shown.find(TntWideUpperCase(entry.ObjectName.empty() ? entry.Name : entry.ObjectName));
            if (it == shown.end()) {
                added.push_back(std::move(entry));
                continue;
            }
            TShellListItem* record = it->second;
            record->Seen = 1;
            // A picture written within the last 17 seconds or so is made
            // again. Both times are UTC (the find data's and the clock's).
            if (thumbnails_ && record->Item->GetImageIndex() >= 0 && WrittenJustNow(entry.Modified)) {
                CancelWork(record, this);
                QueueThumbnail(record, record->Item->GetImageIndex());
            }
        }
    } catch (const EShFolderObjectError&) {
    }
    std::unique_ptr<classlib::TStringList> cut;
    const std::wstring folder = GetPath();
    items->BeginUpdate();
    for (int i = items->GetCount() - 1; i >= 0; --i) {
        TShellListItem* record = ShellItem(items->GetItem(i));
        if (!record || record->IsParentFolder() || record->Seen) continue;
        // Only a cut mark the user made counts: hidden objects are drawn
        // cut too.
        if (HandleAllocated() && !record->Dimmed &&
            (SendToWindow(LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_CUT) & LVIS_CUT)) {
            if (!cut) cut = std::make_unique<classlib::TStringList>();
            cut->Add(folder + items->GetItem(i)->GetCaption());
        }
        DeleteItem(i);
    }
    for (const TFolderEntry& entry : added) AddEntry(entry);
    if (checkboxes_)
        for (int i = 0; i < items->GetCount(); ++i) items->GetItem(i)->SetStateIndex(CheckState(items->GetItem(i)));
    items->EndUpdate();
    filling_ = false;
    if (cut) OnOperation(this, OperationBit(sopCut) | OperationBit(sopRemove), cut.get(), std::wstring());
}

void TShellList::ShellChanged(classlib::TObject*, TNotificationEvent Event, const std::wstring& Path1,
                              const std::wstring&)
{
    // A delivery queued before automatic refresh went off changes nothing.
    if (!automaticRefresh_) return;
    const std::wstring path = GetPath();
    switch (Event) {
    case neDriveRemove:
    case neMediaRemove:
    case neNetShare:
    case neNetUnShare:
        refreshTimer_->SetEnabled(false);
        Populate();
        return;
    case neFileDelete:
    case neFolderDelete:
        if (!path.empty() && SamePath(classlib::ExtractFilePath(Path1), path)) {
            if (filling_) break;  // the fill under way is looked at again
            const int i = IndexOfObject(classlib::ExtractFileName(Path1));
            if (i >= 0) DeleteItem(i);
            return;
        }
        break;  // the shown folder itself or one above it
    case neFolderUpdate:
        if (!SamePath(Path1, path)) return;
        break;
    case neFileChange:
        // The platform's own thumbnail cache, written while pictures show.
        if (thumbnails_ && classlib::WideSameText(classlib::ExtractFileName(Path1), L"Thumbs.db")) return;
        break;
    default: break;
    }
    refreshTimer_->SetEnabled(false);
    refreshTimer_->SetEnabled(true);
}

void TShellList::RefreshTimer(classlib::TObject*)
{
    refreshTimer_->SetEnabled(false);
    if (filling_) {
        // The fill under way may predate the change: look again after it.
        refreshTimer_->SetEnabled(true);
        return;
    }
    const std::wstring path = GetPath();
    if (!path.empty() && !PathExists(path)) {
        SetSpecialFolder(SF_DRIVES);
        return;
    }
    UpdateContents();
}

std::wstring TShellList::GetItemPathAt(int Index) const
{
    if (Index < 0 || Index >= GetItems()->GetCount()) return L"";
    return GetItemPath(GetItems()->GetItem(Index));
}

std::wstring TShellList::GetItemPath(const classlib::TListItem* Item) const
{
    TShellListItem* record = ShellItem(Item);
    if (!record || !record->Pidl) return {};
    if (record->FullPath.empty()) {
        // A file-system folder joins its path and the object's name; other
        // folders ask the shell for the object's path.
        const std::wstring folder = GetPath();
        if (!folder.empty() && !record->ObjectName.empty()) {
            record->FullPath = folder + record->ObjectName;
        } else {
            TPidl absolute = PidlCombine(browser_->FolderIDList(), record->Pidl.get());
            record->FullPath = PidlToPath(absolute.get());
        }
    }
    return record->FullPath;
}

void STDMETHODCALLTYPE TShellList::FolderChanged(LPCITEMIDLIST AbsolutePidl)
{
    if (!AbsolutePidl) return;
    try {
        if (!navigatingHistory_ && browser_->FolderIDList()) history_->Push(browser_->GetFolderIDList());
        browser_->SetFolderIDList(AbsolutePidl);
        if (!navigatingHistory_) history_->Push(browser_->GetFolderIDList());
        SetSelected(nullptr);
        reselect_.clear();
        Populate();
    } catch (...) {
        DropAllWork();
        GetItems()->Clear();
    }
}

void STDMETHODCALLTYPE TShellList::SelectionChanged(LPCITEMIDLIST Folder, LPCITEMIDLIST Object)
{
    FolderChanged(Folder);
    pendingObject_.reset();
    linkedObject_.reset();
    if (!Object) return;
    TPidl last = PidlGetLastItem(Object);
    // A large folder fills in steps: an object not listed yet is selected
    // by the step that brings it.
    if (!SelectObjectItem(last.get()) && filling_) pendingObject_ = std::move(last);
}

bool TShellList::SelectObjectItem(LPCITEMIDLIST Object)
{
    classlib::TListItems* items = GetItems();
    for (int i = 0; i < items->GetCount(); ++i) {
        const TShellListItem* record = ShellItem(items->GetItem(i));
        if (record && record->Pidl && SameObject(browser_->ShellFolder(), record->Pidl.get(), Object)) {
            SetSelected(items->GetItem(i));
            items->GetItem(i)->SetFocused(true);
            if (HandleAllocated()) SendToWindow(LVM_ENSUREVISIBLE, static_cast<WPARAM>(i), FALSE);
            return true;
        }
    }
    return false;
}

void STDMETHODCALLTYPE TShellList::SelectAll()
{
    classlib::TListItems* items = GetItems();
    for (int i = 0; i < items->GetCount(); ++i) items->GetItem(i)->SetSelected(true);
    if (HandleAllocated()) ::SetFocus(GetHandle());
}

void STDMETHODCALLTYPE TShellList::NavigateUp()
{
    if (!browser_->ShellFolder() || PidlItemCount(browser_->FolderIDList()) == 0) return;
    browser_->SelectFolderInParent();
    AfterFolderChange();
    Populate();
}

void TShellList::DestroyWnd()
{
    Revoke();
    UnhookHeader();
    // The picture goes with the window (a new one is given it again).
    drawsBackground_ = false;
    classlib::TListView::DestroyWnd();
    DeleteBackgroundFile();
}

bool TShellList::RenameItem(int Index, const std::wstring& NewName)
{
    renameError_.clear();
    const std::wstring folder = GetPath();
    if (Index < 0 || Index >= GetItems()->GetCount() || folder.empty()) return false;
    classlib::TListItem* item = GetItems()->GetItem(Index);
    TShellListItem* record = ShellItem(item);
    if (!record || record->IsParentFolder() || record->ObjectName.empty() || !record->Pidl) return false;
    const std::wstring oldName = record->ObjectName;
    if (NewName.empty() || NewName == item->GetCaption()) return false;
    if (NewName.find_first_of(kInvalidNameCharacters) != std::wstring::npos || NewName == L"." || NewName == L"..") {
        renameError_ = RenameRefusal(item->GetCaption(), NewName, ERROR_INVALID_NAME);
        return false;
    }
    // The shell renames: a name typed without the extension its caption
    // hides keeps that extension, and the shell announces the change.
    std::wstring shown = NewName;
    bool done = false;
    ::SetLastError(0);
    try {
        browser_->SetObjectIDList(record->Pidl.get());
        done = browser_->Rename(shown);
    } catch (const EShFolderObjectError&) {
        done = false;
    }
    if (!done) {
        renameError_ = RenameRefusal(item->GetCaption(), NewName, ::GetLastError());
        return false;
    }
    record->Pidl = browser_->GetObjectIDList();
    const std::wstring newName = browser_->GetObjectName();
    record->ObjectName = newName.empty() ? shown : newName;
    record->FullPath.clear();
    item->SetCaption(shown.empty() ? record->ObjectName : shown);
    item->GetSubItems()->Clear();
    FillDetails(item);
    CancelWork(record, this);
    item->SetImageIndex(-1);
    record->IconAsked = false;
    auto files = std::make_unique<classlib::TStringList>();
    files->Add(folder + oldName);
    DoOperation(OperationBit(sopRename), std::move(files), folder + record->ObjectName);
    return true;
}

void TShellList::RenameRefused(const std::wstring& Message)
{
    TellRefusal(OnRenameRefused, this, HandleAllocated() ? GetHandle() : nullptr, Message);
}

std::unique_ptr<classlib::TStringList> TShellList::SelectedPaths() const
{
    auto paths = std::make_unique<classlib::TStringList>();
    classlib::TListItems* items = GetItems();
    for (int i = 0; i < items->GetCount(); ++i) {
        classlib::TListItem* item = items->GetItem(i);
        if (!item->GetSelected()) continue;
        const TShellListItem* record = ShellItem(item);
        if (record && record->IsParentFolder()) {
            if (GetSelCount() == 1) paths->Clear();
            continue;
        }
        const std::wstring path = GetItemPath(item);
        paths->Add(path.empty() ? item->GetCaption() : path);
    }
    return paths;
}

void TShellList::ShowSelectedCut()
{
    if (!HandleAllocated()) return;
    for (int i = 0; i < GetItems()->GetCount(); ++i) {
        LVITEMW state{};
        state.stateMask = LVIS_CUT;
        state.state = GetItems()->GetItem(i)->GetSelected() ? LVIS_CUT : 0;
        SendToWindow(LVM_SETITEMSTATE, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&state));
    }
}

void TShellList::EditSelected(classlib::TObject*)
{
    const int index = GetItemIndex();
    if (index >= 0 && HandleAllocated() && !GetReadOnly()) SendToWindow(LVM_EDITLABELW, static_cast<WPARAM>(index), 0);
}

void TShellList::PrepareRename()
{
    if (GetReadOnly())
        browser_->OnRename.Clear();
    else
        browser_->OnRename = classlib::TNotifyEvent(this, &TShellList::EditSelected);
}

void TShellList::RestartRefresh()
{
    refreshTimer_->SetEnabled(false);
    refreshTimer_->SetEnabled(true);
}

void TShellList::DoOperation(TShellOperations Operation, std::unique_ptr<classlib::TStringList> Files,
                             const std::wstring& Destination)
{
    if (Operation & OperationBit(sopDelete)) {
        classlib::TListItems* items = GetItems();
        items->BeginUpdate();
        for (int i = items->GetCount() - 1; i >= 0; --i)
            if (items->GetItem(i)->GetSelected()) DeleteItem(i);
        items->EndUpdate();
    }
    if ((Operation & OperationBit(sopRename)) && link_ && link_->GetSelectionList() && Files && Files->GetCount() > 0)
        link_->GetSelectionList()->RenamePath(Files->GetStrings(0), Destination);
    if (Files && Files->GetCount() > 0) OnOperation(this, Operation, Files.get(), Destination);
    Files.reset();
    const TShellOperations changes =
        OperationBit(sopMove) | OperationBit(sopDelete) | OperationBit(sopRemove) | OperationBit(sopRename);
    if (link_ && (Operation & changes)) link_->NotifyUpdateContents(this);
}

bool TShellList::ExecuteVerb(const std::wstring& Verb)
{
    classlib::TListItems* items = GetItems();
    std::vector<int> selected;
    for (int i = 0; i < items->GetCount(); ++i)
        if (items->GetItem(i)->GetSelected()) selected.push_back(i);
    if (selected.empty()) return false;
    const TShellListItem* first = ShellItem(items->GetItem(selected[0]));
    if (selected.size() == 1 && first && first->IsParentFolder()) {
        if (SameVerb(Verb, L"DEFAULT")) NavigateUp();
        return true;
    }
    PrepareRename();
    std::unique_ptr<classlib::TStringList> files;
    if (SameVerb(Verb, L"paste"))
        files = ClipboardFiles();
    else if (SameVerb(Verb, L"delete"))
        files = SelectedPaths();

    bool done = false;
    if (selected.size() == 1) {
        if (!first || !first->Pidl) return false;
        browser_->SetObjectIDList(first->Pidl.get());
        if (SameVerb(Verb, L"default") || SameVerb(Verb, L"open")) {
            const std::wstring name = browser_->GetObjectName();
            const bool zip = name.size() >= 4 && classlib::WideSameText(name.substr(name.size() - 4), L".ZIP");
            if (browser_->IsFolder() && !zip) {
                if (browser_->OpenObjectAsFolder()) {
                    AfterFolderChange();
                    Populate();
                    return true;
                }
            } else if (browser_->IsLink()) {
                // A link to a folder shows the folder here.
                const std::wstring target = browser_->GetLinkTarget();
                bool folder = !target.empty() && IsDriveRoot(target);
                if (!target.empty() && !folder) {
                    WIN32_FIND_DATAW fd;
                    HANDLE h = FindFirstFileLong(classlib::ExcludeTrailingPathDelimiter(target), fd);
                    if (h != INVALID_HANDLE_VALUE) {
                        ::FindClose(h);
                        folder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
                    }
                }
                if (folder) {
                    browser_->SetFolder(target);
                    AfterFolderChange();
                    Populate();
                    return true;
                }
                browser_->SetObjectIDList(first->Pidl.get());
            }
        }
        done = browser_->ExecuteCommand(Verb);
    } else {
        std::unique_ptr<classlib::TStringList> objects = SelectedPaths();
        browser_->SetMultiObjects(objects.release());
        done = browser_->ExecuteCommand(Verb);
    }
    if (!done) return false;
    if (SameVerb(Verb, L"delete")) {
        DoOperation(OperationBit(sopDelete) | OperationBit(sopRemove), std::move(files), std::wstring());
        if (!automaticRefresh_) RestartRefresh();
    } else if (SameVerb(Verb, L"paste")) {
        const TShellOperations kind = PasteKind(files.get());
        DoOperation(kind, std::move(files), GetPath());
    } else if (SameVerb(Verb, L"cut")) {
        ShowSelectedCut();
    }
    return true;
}

void TShellList::PasteIntoFolder()
{
    std::unique_ptr<classlib::TStringList> files = ClipboardFiles();
    bool done = false;
    if (LPCITEMIDLIST folder = FolderPidl()) {
        // The shown folder as the object of its parent, so that the shell
        // pastes into it.
        TShFolderObject paster(nullptr);
        paster.SetShowErrorMessages(GetShowErrorMessages());
        try {
            paster.SetFolderIDList(folder);
            paster.SelectFolderInParent();
            done = paster.ExecuteCommand(L"paste");
        } catch (const EShFolderObjectError&) {
            done = false;
        }
    }
    if (done) {
        const TShellOperations kind = PasteKind(files.get());
        DoOperation(kind, std::move(files), GetPath());
    }
    RestartRefresh();
}

void TShellList::ShowShellContextMenu(POINT ScreenPoint)
{
    std::unique_ptr<classlib::TStringList> objects = SelectedPaths();
    if (objects->GetCount() == 0) return;
    PrepareRename();
    std::unique_ptr<classlib::TStringList> clipboard = ClipboardFiles();
    std::unique_ptr<classlib::TStringList> deleted = SelectedPaths();
    const classlib::TListItem* selected = GetSelected();
    const std::wstring selectedCaption = selected ? selected->GetCaption() : std::wstring();
    if (objects->GetCount() == 1) {
        // One object: the browser's object (its list is exact, also for
        // virtual objects).
        const TShellListItem* record = ShellItem(GetSelected());
        if (record && record->Pidl) {
            browser_->SetObjectIDList(record->Pidl.get());
            objects.reset();
        }
    }
    if (objects) browser_->SetMultiObjects(objects.release());
    browser_->SetReadOnly(GetReadOnly());
    browser_->SetShowContextMenuOnTop(GetOption(soShowContextMenuOnTop));
    std::wstring verb;
    try {
        if (popupMenu_) popupMenu_->PopupComponent = this;
        verb = browser_->ShowContextMenu(ScreenPoint, popupMenu_);
    } catch (const EShFolderObjectError&) {
        UpdateContents();
        return;
    }
    if (SameVerb(verb, L"delete")) {
        DoOperation(OperationBit(sopDelete) | OperationBit(sopRemove), std::move(deleted), std::wstring());
    } else if (SameVerb(verb, L"undelete")) {
        RestartRefresh();
    } else if (SameVerb(verb, L"paste")) {
        const TShellOperations kind = PasteKind(clipboard.get());
        DoOperation(kind, std::move(clipboard), GetPath() + selectedCaption);
    } else if (SameVerb(verb, L"cut")) {
        ShowSelectedCut();
    }
}

void TShellList::SetBackgroundPopupMenu(classlib::TPopupMenu* Value)
{
    if (backgroundPopupMenu_ && backgroundPopupMenu_ != popupMenu_) RemoveFreeNotification(backgroundPopupMenu_);
    backgroundPopupMenu_ = Value;
    if (Value) FreeNotification(Value);
}

void TShellList::SetPopupMenu(classlib::TPopupMenu* Value)
{
    if (popupMenu_ && popupMenu_ != backgroundPopupMenu_) RemoveFreeNotification(popupMenu_);
    popupMenu_ = Value;
    if (Value) FreeNotification(Value);
}

void TShellList::Notification(classlib::TComponent* AComponent, classlib::TOperation Operation)
{
    classlib::TListView::Notification(AComponent, Operation);
    if (Operation != classlib::opRemove) return;
    if (AComponent == backgroundPopupMenu_) backgroundPopupMenu_ = nullptr;
    if (AComponent == popupMenu_) popupMenu_ = nullptr;
}

void TShellList::ContextMenu(classlib::TMessage& Message)
{
    POINT point{GET_X_LPARAM(Message.LParam), GET_Y_LPARAM(Message.LParam)};
    int index = -1;
    if (point.x == -1 && point.y == -1) {
        // From the keyboard: at the selected item's corner, else near the
        // top left corner.
        index = GetItemIndex();
        POINT client{1, 1};
        RECT r{};
        r.left = LVIR_SELECTBOUNDS;
        if (index >= 0 && SendToWindow(LVM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r)))
            client = POINT{r.right, r.bottom};
        point = client;
        ::ClientToScreen(GetHandle(), &point);
    } else {
        LVHITTESTINFO hit{};
        hit.pt = point;
        ::ScreenToClient(GetHandle(), &hit.pt);
        // The list view keeps the right button's release to itself: the
        // program hears of it here, before any menu shows.
        MouseUp(classlib::mbRight, classlib::KeyboardStateToShiftState(), hit.pt.x, hit.pt.y);
        if (!HandleAllocated()) return;
        if (SendToWindow(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)) >= 0 &&
            (hit.flags & (LVHT_ONITEMICON | LVHT_ONITEMLABEL | LVHT_ONITEMSTATEICON)))
            index = hit.iItem;
    }
    if (index < 0 || index >= GetItems()->GetCount()) {
        if (backgroundPopupMenu_) {
            backgroundPopupMenu_->PopupComponent = this;
            backgroundPopupMenu_->Popup(point.x, point.y);
        }
    } else if (ShellContextMenu) {
        ShowShellContextMenu(point);
    } else if (popupMenu_) {
        popupMenu_->PopupComponent = this;
        popupMenu_->Popup(point.x, point.y);
    } else {
        // The program's own handling: the parent windows are asked.
        classlib::TListView::WndProc(Message);
        return;
    }
    Message.Result = 0;
}

bool TShellList::ItemHint(classlib::THintInfo& Info)
{
    if (!HandleAllocated() || !GetShowHint()) return false;
    LVHITTESTINFO hit{};
    hit.pt = Info.CursorPos;
    const int index = static_cast<int>(SendToWindow(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (index < 0 || index >= GetItems()->GetCount() || !(hit.flags & LVHT_ONITEM)) return false;
    classlib::TListItem* item = GetItems()->GetItem(index);
    const TShellListItem* record = ShellItem(item);
    std::wstring text;
    if (record && record->IsParentFolder()) {
        text = GetPath();
    } else if (record && record->Pidl) {
        browser_->SetObjectIDList(record->Pidl.get());
        text = browser_->GetInfoTip(true);
    }
    OnInfoTip(this, item, text);
    RECT bounds{};
    bounds.left = LVIR_BOUNDS;
    SendToWindow(LVM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&bounds));
    Info.HintStr = text;
    // The hint stays while the pointer is on this item (client
    // coordinates, as the record wants them).
    Info.CursorRect = bounds;
    POINT corner{bounds.left, bounds.top};
    ::ClientToScreen(GetHandle(), &corner);
    Info.HintPos = POINT{corner.x + ::GetSystemMetrics(SM_CXCURSOR), corner.y + ::GetSystemMetrics(SM_CYCURSOR)};
    const RECT client = GetClientRect();
    Info.HintMaxWidth = client.right - client.left;
    return true;
}

void TShellList::WndProc(classlib::TMessage& Message)
{
    switch (Message.Msg) {
    case classlib::CM_HINTSHOW:
        if (Message.LParam && ItemHint(*reinterpret_cast<classlib::THintInfo*>(Message.LParam))) {
            Message.Result = 0;
            return;
        }
        break;
    case WM_CONTEXTMENU:
        if (HandleAllocated() && reinterpret_cast<HWND>(Message.WParam) == GetHandle()) {
            ContextMenu(Message);
            return;
        }
        break;
    case WM_XBUTTONDOWN:
        if (const int step = SideButtonStep(Message.WParam)) HistoryStep(step);
        break;
    case WM_ERASEBKGND:
        // The picture's painting fills the background itself; erasing
        // first would only flash the plain colour.
        if (drawsBackground_) {
            Message.Result = 1;
            return;
        }
        break;
    case WM_CAPTURECHANGED:
        // The end of a mouse action of the list itself, which may have
        // redrawn the header without the arrow.
        classlib::TListView::WndProc(Message);
        ShowSortArrow();
        return;
    default: break;
    }
    if (!drawsBackground_ || Message.Msg == WM_DESTROY || Message.Msg == WM_NCDESTROY || !HandleAllocated()) {
        classlib::TListView::WndProc(Message);
        return;
    }
    // The window scrolls by copying what it shows, which would drag the
    // picture (fixed to the client area) along with the items; a new size
    // moves a picture placed at the right or bottom. Either way the whole
    // area is painted again.
    HWND wnd = GetHandle();
    const int horizontal = ::GetScrollPos(wnd, SB_HORZ), vertical = ::GetScrollPos(wnd, SB_VERT);
    const auto alive = AliveToken();
    classlib::TListView::WndProc(Message);
    if (!*alive || !drawsBackground_ || !::IsWindow(wnd)) return;
    if (Message.Msg == WM_SIZE || ::GetScrollPos(wnd, SB_HORZ) != horizontal ||
        ::GetScrollPos(wnd, SB_VERT) != vertical)
        ::InvalidateRect(wnd, nullptr, FALSE);
}

void TShellList::KeyDown(WORD& Key, classlib::TShiftState Shift)
{
    const bool handler = static_cast<bool>(OnKeyDown);
    classlib::TListView::KeyDown(Key, Shift);
    if (Key == 0 || !HandleAllocated() || SendToWindow(LVM_GETEDITCONTROL, 0, 0)) return;
    const bool ctrl = OnlyKeys(Shift, classlib::ssCtrl);
    switch (Key) {
    case VK_RETURN:
        if (Shift & classlib::ssAlt) {
            ExecuteVerb(L"properties");
            Key = 0;
        } else if (!handler) {
            ExecuteVerb(L"default");
            Key = 0;
        }
        break;
    case VK_LEFT:
    case VK_RIGHT:
        if (OnlyKeys(Shift, classlib::ssAlt)) HistoryStep(Key == VK_LEFT ? -1 : 1);
        break;
    case VK_DELETE:
        if (!GetReadOnly()) ExecuteVerb(L"delete");
        break;
    case 'C':
        if (ctrl) {
            ExecuteVerb(L"copy");
            Key = 0;
        }
        break;
    case 'V':
        if (ctrl && !GetReadOnly()) {
            PasteIntoFolder();
            Key = 0;
        }
        break;
    case 'X':
        if (ctrl && !GetReadOnly()) {
            ExecuteVerb(L"cut");
            Key = 0;
        }
        break;
    case VK_F10:
        if (OnlyKeys(Shift, classlib::ssShift) && ShellContextMenu && GetItemIndex() >= 0) {
            RECT r{};
            r.left = LVIR_SELECTBOUNDS;
            SendToWindow(LVM_GETITEMRECT, static_cast<WPARAM>(GetItemIndex()), reinterpret_cast<LPARAM>(&r));
            POINT corner{r.right, r.bottom};
            ::ClientToScreen(GetHandle(), &corner);
            ShowShellContextMenu(corner);
            Key = 0;
        }
        break;
    default: break;
    }
}

void TShellList::CNNotify(classlib::TMessage& Message)
{
    auto* hdr = reinterpret_cast<NMHDR*>(Message.LParam);
    if (hdr->code == NM_CUSTOMDRAW) {
        classlib::TListView::CNNotify(Message);
        auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(hdr);
        if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
            // Before any item: the update area (painting and WM_PRINTCLIENT
            // alike) receives the background picture the window does not
            // draw.
            if (drawsBackground_ && backgroundImage_) PaintBackgroundImage(draw->nmcd.hdc);
            Message.Result |= CDRF_NOTIFYITEMDRAW;
        } else if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT &&
                   (SendToWindow(LVM_GETITEMSTATE, draw->nmcd.dwItemSpec, LVIS_DROPHILITED) & LVIS_DROPHILITED)) {
            // The item a drag rests on is drawn in the selection colours
            // (the list view does not draw its drop highlight in every view).
            draw->nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED);
            draw->clrText = ::GetSysColor(COLOR_HIGHLIGHTTEXT);
            draw->clrTextBk = ::GetSysColor(COLOR_HIGHLIGHT);
            Message.Result = CDRF_NEWFONT;
        } else if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
            const auto row = static_cast<int>(draw->nmcd.dwItemSpec);
            const TShellListItem* record =
                row >= 0 && row < GetItems()->GetCount() ? ShellItem(GetItems()->GetItem(row)) : nullptr;
            const COLORREF color = record ? AttributeTextColor(record->Flags, options_) : CLR_INVALID;
            if (color != CLR_INVALID) {
                draw->clrText = color;
                Message.Result |= CDRF_NEWFONT;
            }
        }
        return;
    }
    if (hdr->code == LVN_BEGINLABELEDITW) {
        // Only names the shell can change are edited (never " .. ").
        const int index = reinterpret_cast<NMLVDISPINFOW*>(hdr)->item.iItem;
        const TShellListItem* record =
            index >= 0 && index < GetItems()->GetCount() ? ShellItem(GetItems()->GetItem(index)) : nullptr;
        bool can = record && !record->IsParentFolder() && record->Pidl;
        if (can) {
            browser_->SetObjectIDList(record->Pidl.get());
            can = browser_->CanRename();
        }
        Message.Result = can ? FALSE : TRUE;
        return;
    }
    if (hdr->code == LVN_ENDLABELEDITW) {
        // The list renames the object itself; the caption follows only a
        // rename that succeeded.
        auto* info = reinterpret_cast<NMLVDISPINFOW*>(hdr);
        if (info->item.pszText && !RenameItem(info->item.iItem, info->item.pszText)) RenameRefused(renameError_);
        Message.Result = FALSE;
        return;
    }
    if ((hdr->code == LVN_BEGINDRAG || hdr->code == LVN_BEGINRDRAG) && oleDragDrop_) {
        OleDrag(hdr->code == LVN_BEGINRDRAG ? 2 : 1);
        Message.Result = 0;
        return;
    }
    if (hdr->code == LVN_ITEMCHANGED && link_ && !filling_ && !Loading()) {
        // One object chosen by the user: the linked controls follow it.
        auto* nm = reinterpret_cast<NMLISTVIEW*>(hdr);
        const bool selected = (nm->uChanged & LVIF_STATE) && (nm->uNewState & LVIS_SELECTED) &&
                              !(nm->uOldState & LVIS_SELECTED);
        if (selected && nm->iItem >= 0 && nm->iItem < GetItems()->GetCount() && GetSelCount() == 1) {
            const TShellListItem* record = ShellItem(GetItems()->GetItem(nm->iItem));
            if (record && !record->IsParentFolder() && record->Pidl && FolderPidl()) {
                TPidl folder = PidlClone(FolderPidl());
                TPidl object = PidlClone(record->Pidl.get());
                link_->NotifySelectionChanged(this, folder.get(), object.get());
            }
        }
    }
    if (hdr->code == LVN_KEYDOWN && reinterpret_cast<NMLVKEYDOWN*>(hdr)->wVKey == VK_SPACE && checkboxes_)
        ToggleCheck(GetItemIndex());
    if (hdr->code == NM_CLICK && checkboxes_) {
        LVHITTESTINFO hit{};
        hit.pt = reinterpret_cast<NMITEMACTIVATE*>(hdr)->ptAction;
        if (SendToWindow(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)) >= 0 && (hit.flags & LVHT_ONITEMSTATEICON))
            ToggleCheck(hit.iItem);
    }
    if (hdr->code == LVN_KEYDOWN && reinterpret_cast<NMLVKEYDOWN*>(hdr)->wVKey == VK_F2 && !GetReadOnly()) {
        const int index = GetItemIndex();
        if (index >= 0) SendToWindow(LVM_EDITLABELW, static_cast<WPARAM>(index), 0);
    }
    if (hdr->code == LVN_KEYDOWN) {
        const WORD key = reinterpret_cast<NMLVKEYDOWN*>(hdr)->wVKey;
        const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
        if (key == VK_F5) {
            Populate();
            if (link_) link_->NotifyFullRefresh(this);
        } else if (key == 'A' && ctrl) {
            SelectAll();
        } else if (key == VK_BACK && (!link_ || link_->GetParentAllowed())) {
            NavigateUp();
        }
    }
    classlib::TListView::CNNotify(Message);
    if (hdr->code == NM_DBLCLK) {
        auto* act = reinterpret_cast<NMITEMACTIVATE*>(hdr);
        if (act->iItem >= 0 && act->iItem < GetItems()->GetCount()) {
            const TShellListItem* record = ShellItem(GetItems()->GetItem(act->iItem));
            if (record && record->IsParentFolder())
                NavigateUp();
            else if (OnDblClick && GetOwner())
                OnDblClick(this);
            else if (GetItems()->GetItem(act->iItem)->GetSelected())
                ExecuteVerb(L"default");
        }
    }
}

}  // namespace shell
