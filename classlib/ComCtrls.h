// Common controls: the list view (SysListView32), used in report style.
//
// The items and columns are objects owned by the list view; the window holds
// one row per item in the same order, whose texts it asks for when it draws
// (so caption and sub-item changes only repaint the row) and whose selection
// state lives in the window while there is one. Everything is kept in the
// objects while there is no window and moved into the new window.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "classlib/StdCtrls.h"
#include "classlib/StringList.h"

namespace classlib {

class TListView;

// Custom drawing of a selected row of a list or tree view without the focus
// (shown always): a tint of the highlight colour, plainly apart from the
// window colour whatever the colour scheme, with the window text colour.
// Stage is the draw stage of NM_CUSTOMDRAW; ItemState its item state, Text
// and TextBack the colours of the notification, changed for such a row.
// Returns the notification's result.
LRESULT DrawInactiveSelection(HWND Wnd, DWORD Stage, UINT& ItemState, COLORREF& Text, COLORREF& TextBack);
// The tint: a third of the highlight colour over the window colour.
COLORREF InactiveSelectionColor();
class TListItems;

enum TViewStyle { vsIcon, vsSmallIcon, vsList, vsReport };
enum TItemChange { ctText, ctImage, ctState };

class TListColumn {
public:
    explicit TListColumn(TListView* View) : view_(View) {}
    TListColumn(const TListColumn&) = delete;
    TListColumn& operator=(const TListColumn&) = delete;

    const std::wstring& GetCaption() const { return caption_; }
    void SetCaption(const std::wstring& Value);
    // Pixels; the user's resizing shows here.
    int GetWidth() const;
    void SetWidth(int Value);
    TAlignment GetAlignment() const { return alignment_; }
    void SetAlignment(TAlignment Value);
    int GetIndex() const;

private:
    friend class TListView;
    friend class TListColumns;
    TListView* view_;
    std::wstring caption_;
    int width_ = 50;
    TAlignment alignment_ = taLeftJustify;
};

class TListColumns {
public:
    explicit TListColumns(TListView* View) : view_(View) {}
    TListColumns(const TListColumns&) = delete;
    TListColumns& operator=(const TListColumns&) = delete;

    TListColumn* Add();
    void Delete(int Index);
    void Clear();
    int GetCount() const { return static_cast<int>(columns_.size()); }
    // Out-of-range indexes raise EListError.
    TListColumn* GetItem(int Index) const;
    int IndexOf(const TListColumn* Column) const;

private:
    friend class TListView;
    TListView* view_;
    std::vector<std::unique_ptr<TListColumn>> columns_;
};

class TListItem {
public:
    explicit TListItem(TListItems* Owner);
    ~TListItem();
    TListItem(const TListItem&) = delete;
    TListItem& operator=(const TListItem&) = delete;

    TListItems* GetOwner() const { return owner_; }
    TListView* GetListView() const;
    const std::wstring& GetCaption() const { return caption_; }
    void SetCaption(const std::wstring& Value);
    // Texts of columns 1, 2 ... (owned; changes repaint the row).
    TStrings* GetSubItems() const { return subItems_.get(); }
    void SetSubItems(const TStrings* Value) { subItems_->Assign(Value); }
    bool GetSelected() const;
    void SetSelected(bool Value);
    bool GetFocused() const;
    void SetFocused(bool Value);
    // Position in the list.
    int GetIndex() const;
    // Index in the list view's small image list (-1: none). The window asks
    // for it through TListView::ItemImageIndex whenever it draws the row.
    int GetImageIndex() const { return imageIndex_; }
    void SetImageIndex(int Value);
    // Index in the list view's state image list (-1: no state image).
    int GetStateIndex() const { return stateIndex_; }
    void SetStateIndex(int Value);
    // Free for the caller (not owned).
    void* Data = nullptr;

private:
    friend class TListView;
    friend class TListItems;
    void SubItemsChanged(TObject* Sender);
    TListItems* owner_;
    std::wstring caption_;
    std::unique_ptr<TStringList> subItems_;
    bool selected_ = false;  // while there is no window
    bool focused_ = false;
    int imageIndex_ = -1;
    int stateIndex_ = -1;
};

class TListItems {
public:
    explicit TListItems(TListView* View) : view_(View) {}
    ~TListItems();
    TListItems(const TListItems&) = delete;
    TListItems& operator=(const TListItems&) = delete;

    TListView* GetOwner() const { return view_; }
    // A new item at the end / at Index (0..Count); owned by the list.
    TListItem* Add();
    TListItem* Insert(int Index);
    // Deletes the item at Index.
    void Delete(int Index);
    void Clear();
    // Swaps two items; each keeps its texts, data and selection.
    void Exchange(int Index1, int Index2);
    // Puts the items in a new order: position i receives the item that was
    // at Order[i] (Order is a permutation of 0..Count-1, else EListError).
    // Each item keeps its texts, data, selection and state image; no events.
    // The window finds items by position, so only rows whose state changes
    // are written (a few milliseconds for thousands of rows).
    void Rearrange(const std::vector<int>& Order);
    int GetCount() const { return static_cast<int>(items_.size()); }
    // Out-of-range indexes raise EListError.
    TListItem* GetItem(int Index) const;
    TListItem* operator[](int Index) const { return GetItem(Index); }
    int IndexOf(const TListItem* Item) const;
    // Repaint once after the last EndUpdate.
    void BeginUpdate();
    void EndUpdate();

private:
    friend class TListView;
    friend class TListItem;
    void CheckIndex(int Index) const;
    TListView* view_;
    std::vector<std::unique_ptr<TListItem>> items_;
};

using TLVSelectItemEvent = TEvent<void(TObject* Sender, TListItem* Item, bool Selected)>;
using TLVChangeEvent = TEvent<void(TObject* Sender, TListItem* Item, TItemChange Change)>;
// Sender and the column whose header was clicked.
using TLVColumnClickEvent = TEvent<void(TObject* Sender, TListColumn* Column)>;
// Sender; var ItemClass: the maker of the objects the sender is about to
// make, which the handler may replace by a maker of a derived class.
using TCreateItemClassEvent = TEvent<void(TObject* Sender, TObjectFactory& ItemClass)>;

class TListView : public TSystemControl {
public:
    explicit TListView(TComponent* AOwner);
    ~TListView() override;
    std::wstring ClassName() const override { return L"TListView"; }

    TListColumns* GetColumns() const { return columns_.get(); }
    TListItems* GetItems() const { return items_.get(); }

    TViewStyle GetViewStyle() const { return viewStyle_; }
    virtual void SetViewStyle(TViewStyle Value);
    bool GetMultiSelect() const { return multiSelect_; }
    void SetMultiSelect(bool Value);
    // Captions cannot be edited in place by the user.
    bool GetReadOnly() const { return readOnly_; }
    void SetReadOnly(bool Value);
    bool GetRowSelect() const { return rowSelect_; }
    void SetRowSelect(bool Value);
    // The selection is hidden while the control has no focus.
    bool GetHideSelection() const { return hideSelection_; }
    void SetHideSelection(bool Value);
    bool GetShowColumnHeaders() const { return showColumnHeaders_; }
    void SetShowColumnHeaders(bool Value);

    // The first selected item (nullptr: none); setting it selects only that
    // item (nullptr clears the selection).
    TListItem* GetSelected() const;
    void SetSelected(TListItem* Item);
    int GetSelCount() const;
    // Index of Selected (-1: none); setting selects that item only.
    int GetItemIndex() const;
    void SetItemIndex(int Value);

    void BeginUpdate() { items_->BeginUpdate(); }
    void EndUpdate() { items_->EndUpdate(); }

    // The image list of the rows' icons; borrowed (the view never frees
    // it), null for none.
    HIMAGELIST GetSmallImages() const { return smallImages_; }
    void SetSmallImages(HIMAGELIST Value);
    // The image list of the items' icons in icon view; borrowed.
    HIMAGELIST GetLargeImages() const { return largeImages_; }
    void SetLargeImages(HIMAGELIST Value);
    // The image list of the rows' state images (check boxes); borrowed.
    HIMAGELIST GetStateImages() const { return stateImages_; }
    void SetStateImages(HIMAGELIST Value);

    // An item became selected or unselected (by the user or the program).
    TLVSelectItemEvent OnSelectItem;
    // An item's state changed.
    TLVChangeEvent OnChange;
    // A column header was clicked (after the view's own handling of it).
    TLVColumnClickEvent OnColumnClick;
    // Asked by a descendant that keeps an object of its own for each item
    // (in the item's Data) for the maker of that object, each time it adds
    // an item; the descendant names the class the objects must derive from.
    // The list view itself asks nothing.
    TCreateItemClassEvent OnCreateItemClass;

protected:
    std::wstring SystemClassName() const override { return WC_LISTVIEWW; }
    void CreateParams(TCreateParams& Params) override;
    void CreateWnd() override;
    void CreateHandleDone() override;
    void SaveWindowState() override;
    void CNNotify(TMessage& Message) override;
    // The image the window draws for Item (asked on every draw of the row);
    // the item's ImageIndex unless a descendant supplies it otherwise.
    virtual int ItemImageIndex(TListItem* Item) { return Item->GetImageIndex(); }
    // A click on the header of Column: fires OnColumnClick. Descendants
    // that sort by the column do so first, then call this.
    virtual void ColClick(TListColumn* Column);

private:
    friend class TListItem;
    friend class TListItems;
    friend class TListColumn;
    friend class TListColumns;
    LRESULT Send(UINT Msg, WPARAM WParam = 0, LPARAM LParam = 0) const { return SendToWindow(Msg, WParam, LParam); }
    void InsertRow(int Index, TListItem* Item);
    void InsertColumn(int Index, TListColumn* Column);
    void UpdateColumn(int Index, TListColumn* Column);
    void RedrawRow(int Index);
    void SetRowState(int Index, UINT State, UINT Mask);
    UINT RowState(int Index, UINT Mask) const;
    DWORD ExtendedStyle() const;
    void GetDispInfo(NMLVDISPINFOW* Info);
    void ItemChanged(const NMLISTVIEW* Info);

    std::unique_ptr<TListColumns> columns_;
    std::unique_ptr<TListItems> items_;
    TViewStyle viewStyle_ = vsIcon;
    bool multiSelect_ = false;
    bool readOnly_ = false;
    bool rowSelect_ = false;
    bool hideSelection_ = true;
    bool showColumnHeaders_ = true;
    int updateCount_ = 0;
    HIMAGELIST smallImages_ = nullptr;
    HIMAGELIST largeImages_ = nullptr;
    HIMAGELIST stateImages_ = nullptr;
    // Window state changes made by the list itself raise no events.
    int quiet_ = 0;
};

// An up-down control (msctls_updown32) beside an associated control, whose
// text shows Position. Min, Max and Position live in the object: the arrows
// (and Up/Down keys in the associate) step Position by Increment within
// Min..Max and write it into the associate's text. Reading Position takes a
// number typed into the associate when it lies within Min..Max (otherwise
// the last position stays), as the system control does with its buddy.
class TUpDown : public TSystemControl {
public:
    explicit TUpDown(TComponent* AOwner);
    std::wstring ClassName() const override { return L"TUpDown"; }

    int GetMin() const { return min_; }
    void SetMin(int Value);
    int GetMax() const { return max_; }
    void SetMax(int Value);
    int GetIncrement() const { return increment_; }
    void SetIncrement(int Value) { increment_ = Value; }
    int GetPosition() const;
    // Clamps Value to Min..Max and shows it in the associate.
    void SetPosition(int Value);
    // The control whose text shows the position (not owned); the up-down
    // places itself at its right edge, with its height.
    TWinControl* GetAssociate() const { return associate_; }
    void SetAssociate(TWinControl* Value);
    // After Position changed through the arrows.
    TNotifyEvent OnChanging;

protected:
    std::wstring SystemClassName() const override { return UPDOWN_CLASSW; }
    void CreateParams(TCreateParams& Params) override;
    void CreateHandleDone() override;
    void CNNotify(TMessage& Message) override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    void ShowPosition();
    int min_ = 0;
    int max_ = 100;
    int increment_ = 1;
    mutable int position_ = 0;
    TWinControl* associate_ = nullptr;
};

}  // namespace classlib
