#include "classlib/ComCtrls.h"

#include <algorithm>

#include "classlib/SysUtils.h"

namespace classlib {

namespace {

// Counts a nesting level for the duration of a scope.
class TCountScope {
public:
    explicit TCountScope(int& Count) : count_(Count) { ++count_; }
    ~TCountScope() { --count_; }
    TCountScope(const TCountScope&) = delete;
    TCountScope& operator=(const TCountScope&) = delete;

private:
    int& count_;
};

[[noreturn]] void IndexError(int Index) { throw EListError(Format(L"List index out of bounds (%d)", Index)); }

int ColumnFormat(TAlignment A)
{
    switch (A) {
    case taRightJustify: return LVCFMT_RIGHT;
    case taCenter: return LVCFMT_CENTER;
    default: return LVCFMT_LEFT;
    }
}

}  // namespace

// ============================================================ TListColumn

void TListColumn::SetCaption(const std::wstring& Value)
{
    caption_ = Value;
    view_->UpdateColumn(GetIndex(), this);
}

int TListColumn::GetWidth() const
{
    if (view_->HandleAllocated()) return static_cast<int>(view_->Send(LVM_GETCOLUMNWIDTH, GetIndex()));
    return width_;
}

void TListColumn::SetWidth(int Value)
{
    width_ = Value;
    view_->UpdateColumn(GetIndex(), this);
}

void TListColumn::SetAlignment(TAlignment Value)
{
    alignment_ = Value;
    view_->UpdateColumn(GetIndex(), this);
}

int TListColumn::GetIndex() const { return view_->GetColumns()->IndexOf(this); }

// =========================================================== TListColumns

TListColumn* TListColumns::Add()
{
    columns_.push_back(std::make_unique<TListColumn>(view_));
    TListColumn* c = columns_.back().get();
    view_->InsertColumn(GetCount() - 1, c);
    return c;
}

void TListColumns::Delete(int Index)
{
    GetItem(Index);
    view_->Send(LVM_DELETECOLUMN, static_cast<WPARAM>(Index));
    columns_.erase(columns_.begin() + Index);
}

void TListColumns::Clear()
{
    while (!columns_.empty()) Delete(GetCount() - 1);
}

TListColumn* TListColumns::GetItem(int Index) const
{
    if (Index < 0 || Index >= GetCount()) IndexError(Index);
    return columns_[static_cast<std::size_t>(Index)].get();
}

int TListColumns::IndexOf(const TListColumn* Column) const
{
    for (std::size_t i = 0; i < columns_.size(); ++i)
        if (columns_[i].get() == Column) return static_cast<int>(i);
    return -1;
}

// ============================================================== TListItem

TListItem::TListItem(TListItems* Owner) : owner_(Owner), subItems_(std::make_unique<TStringList>())
{
    subItems_->OnChange = TNotifyEvent(this, &TListItem::SubItemsChanged);
}

TListItem::~TListItem() { subItems_->OnChange.Clear(); }

TListView* TListItem::GetListView() const { return owner_->GetOwner(); }

void TListItem::SubItemsChanged(TObject*)
{
    int index = GetIndex();
    if (index >= 0) GetListView()->RedrawRow(index);
}

void TListItem::SetCaption(const std::wstring& Value)
{
    if (Value == caption_) return;
    caption_ = Value;
    int index = GetIndex();
    if (index >= 0) GetListView()->RedrawRow(index);
}

void TListItem::SetImageIndex(int Value)
{
    if (Value == imageIndex_) return;
    imageIndex_ = Value;
    int index = GetIndex();
    if (index >= 0) GetListView()->RedrawRow(index);
}

void TListItem::SetStateIndex(int Value)
{
    if (Value == stateIndex_) return;
    stateIndex_ = Value;
    int index = GetIndex();
    if (index >= 0 && GetListView()->HandleAllocated())
        GetListView()->SetRowState(index, INDEXTOSTATEIMAGEMASK(Value + 1), LVIS_STATEIMAGEMASK);
}

int TListItem::GetIndex() const { return owner_->IndexOf(this); }

bool TListItem::GetSelected() const
{
    TListView* view = GetListView();
    int index = GetIndex();
    if (view->HandleAllocated() && index >= 0) return view->RowState(index, LVIS_SELECTED) != 0;
    return selected_;
}

void TListItem::SetSelected(bool Value)
{
    TListView* view = GetListView();
    int index = GetIndex();
    if (view->HandleAllocated() && index >= 0) {
        view->SetRowState(index, Value ? LVIS_SELECTED : 0, LVIS_SELECTED);
        return;
    }
    // Without a window a single-selection list keeps one selected item.
    if (Value && !view->GetMultiSelect())
        for (auto& it : owner_->items_) it->selected_ = false;
    selected_ = Value;
}

bool TListItem::GetFocused() const
{
    TListView* view = GetListView();
    int index = GetIndex();
    if (view->HandleAllocated() && index >= 0) return view->RowState(index, LVIS_FOCUSED) != 0;
    return focused_;
}

void TListItem::SetFocused(bool Value)
{
    TListView* view = GetListView();
    int index = GetIndex();
    if (view->HandleAllocated() && index >= 0) {
        view->SetRowState(index, Value ? LVIS_FOCUSED : 0, LVIS_FOCUSED);
        return;
    }
    if (Value)
        for (auto& it : owner_->items_) it->focused_ = false;
    focused_ = Value;
}

// ============================================================= TListItems

TListItems::~TListItems() = default;

void TListItems::CheckIndex(int Index) const
{
    if (Index < 0 || Index >= GetCount()) IndexError(Index);
}

TListItem* TListItems::Add() { return Insert(GetCount()); }

TListItem* TListItems::Insert(int Index)
{
    if (Index < 0 || Index > GetCount()) IndexError(Index);
    auto item = std::make_unique<TListItem>(this);
    TListItem* p = item.get();
    items_.insert(items_.begin() + Index, std::move(item));
    view_->InsertRow(Index, p);
    return p;
}

void TListItems::Delete(int Index)
{
    CheckIndex(Index);
    // The row goes first: the window may still ask for its texts. The
    // state changes the window makes while deleting raise no events (its
    // rows and the item indexes differ until the item is gone).
    if (view_->HandleAllocated()) {
        TCountScope quiet(view_->quiet_);
        view_->Send(LVM_DELETEITEM, static_cast<WPARAM>(Index));
    }
    items_.erase(items_.begin() + Index);
}

void TListItems::Clear()
{
    if (view_->HandleAllocated()) {
        TCountScope quiet(view_->quiet_);
        view_->Send(LVM_DELETEALLITEMS);
    }
    items_.clear();
}

void TListItems::Exchange(int Index1, int Index2)
{
    CheckIndex(Index1);
    CheckIndex(Index2);
    if (Index1 == Index2) return;
    std::size_t a = static_cast<std::size_t>(Index1), b = static_cast<std::size_t>(Index2);
    if (view_->HandleAllocated()) {
        const UINT mask = LVIS_SELECTED | LVIS_FOCUSED;
        UINT s1 = view_->RowState(Index1, mask), s2 = view_->RowState(Index2, mask);
        std::swap(items_[a], items_[b]);
        TCountScope quiet(view_->quiet_);
        for (int i : {Index1, Index2}) {
            LVITEMW lv{};
            lv.mask = LVIF_PARAM;
            lv.iItem = i;
            lv.lParam = reinterpret_cast<LPARAM>(items_[static_cast<std::size_t>(i)].get());
            view_->Send(LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&lv));
        }
        view_->SetRowState(Index1, s2, mask);
        view_->SetRowState(Index2, s1, mask);
        view_->RedrawRow(Index1);
        view_->RedrawRow(Index2);
    } else {
        std::swap(items_[a], items_[b]);
    }
}

void TListItems::Rearrange(const std::vector<int>& Order)
{
    const std::size_t n = items_.size();
    std::vector<char> taken(n, 0);
    if (Order.size() != n) IndexError(static_cast<int>(Order.size()));
    for (int i : Order) {
        if (i < 0 || static_cast<std::size_t>(i) >= n || taken[static_cast<std::size_t>(i)])
            IndexError(i);
        taken[static_cast<std::size_t>(i)] = 1;
    }
    const bool window = view_->HandleAllocated();
    // Selection and focus move with the items; the state image is the
    // item's own. Rows whose state stays are not touched (each change costs
    // the window a notification).
    const UINT mask = LVIS_SELECTED | LVIS_FOCUSED | LVIS_STATEIMAGEMASK;
    std::vector<UINT> states(n, 0);
    if (window)
        for (std::size_t i = 0; i < n; ++i) states[i] = view_->RowState(static_cast<int>(i), mask);
    std::vector<std::unique_ptr<TListItem>> old = std::move(items_);
    items_.clear();
    items_.reserve(n);
    for (int i : Order) items_.push_back(std::move(old[static_cast<std::size_t>(i)]));
    if (!window) return;
    TCountScope quiet(view_->quiet_);
    BeginUpdate();
    for (std::size_t i = 0; i < n; ++i) {
        const UINT state = (states[static_cast<std::size_t>(Order[i])] & (LVIS_SELECTED | LVIS_FOCUSED)) |
                           INDEXTOSTATEIMAGEMASK(items_[i]->stateIndex_ + 1);
        if (state != states[i]) view_->SetRowState(static_cast<int>(i), state, mask);
    }
    EndUpdate();
}

TListItem* TListItems::GetItem(int Index) const
{
    CheckIndex(Index);
    return items_[static_cast<std::size_t>(Index)].get();
}

int TListItems::IndexOf(const TListItem* Item) const
{
    // From the end: an item just added is the one usually looked for.
    for (std::size_t i = items_.size(); i-- > 0;)
        if (items_[i].get() == Item) return static_cast<int>(i);
    return -1;
}

void TListItems::BeginUpdate()
{
    if (view_->updateCount_++ == 0) view_->Send(WM_SETREDRAW, FALSE);
}

void TListItems::EndUpdate()
{
    if (view_->updateCount_ <= 0) return;
    if (--view_->updateCount_ == 0 && view_->HandleAllocated()) {
        view_->Send(WM_SETREDRAW, TRUE);
        view_->Invalidate();
    }
}

// ============================================================== TListView

TListView::TListView(TComponent* AOwner)
    : TSystemControl(AOwner),
      columns_(std::make_unique<TListColumns>(this)),
      items_(std::make_unique<TListItems>(this))
{
    SetBounds(0, 0, 250, 150);
    SetColor(clWindow);
}

TListView::~TListView()
{
    // The window goes while the items it shows still exist.
    DestroyHandle();
}

void TListView::CreateParams(TCreateParams& Params)
{
    TSystemControl::CreateParams(Params);
    Params.Style |= WS_TABSTOP | LVS_SHAREIMAGELISTS;
    switch (viewStyle_) {
    case vsIcon: Params.Style |= LVS_ICON; break;
    case vsSmallIcon: Params.Style |= LVS_SMALLICON; break;
    case vsList: Params.Style |= LVS_LIST; break;
    case vsReport: Params.Style |= LVS_REPORT; break;
    }
    if (!multiSelect_) Params.Style |= LVS_SINGLESEL;
    if (!readOnly_) Params.Style |= LVS_EDITLABELS;
    if (!hideSelection_) Params.Style |= LVS_SHOWSELALWAYS;
    if (!showColumnHeaders_) Params.Style |= LVS_NOCOLUMNHEADER;
    Params.ExStyle |= WS_EX_CLIENTEDGE;
    Params.Caption.clear();
}

void TListView::CreateWnd()
{
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_LISTVIEW_CLASSES;
    ::InitCommonControlsEx(&icc);
    TSystemControl::CreateWnd();
}

DWORD TListView::ExtendedStyle() const { return rowSelect_ ? LVS_EX_FULLROWSELECT : 0; }

void TListView::CreateHandleDone()
{
    TSystemControl::CreateHandleDone();
    TCountScope quiet(quiet_);
    Send(CCM_SETUNICODEFORMAT, TRUE);
    Send(LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, ExtendedStyle());
    for (int i = 0; i < columns_->GetCount(); ++i) InsertColumn(i, columns_->GetItem(i));
    for (int i = 0; i < items_->GetCount(); ++i) InsertRow(i, items_->GetItem(i));
    if (smallImages_) Send(LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(smallImages_));
    if (largeImages_) Send(LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(largeImages_));
    if (stateImages_) Send(LVM_SETIMAGELIST, LVSIL_STATE, reinterpret_cast<LPARAM>(stateImages_));
    if (updateCount_ > 0) Send(WM_SETREDRAW, FALSE);
}

void TListView::SaveWindowState()
{
    for (int i = 0; i < items_->GetCount(); ++i) {
        TListItem* item = items_->GetItem(i);
        UINT state = RowState(i, LVIS_SELECTED | LVIS_FOCUSED);
        item->selected_ = (state & LVIS_SELECTED) != 0;
        item->focused_ = (state & LVIS_FOCUSED) != 0;
    }
    for (int i = 0; i < columns_->GetCount(); ++i)
        columns_->GetItem(i)->width_ = static_cast<int>(Send(LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(i)));
}

void TListView::InsertRow(int Index, TListItem* Item)
{
    if (!HandleAllocated()) return;
    TCountScope quiet(quiet_);
    LVITEMW lv{};
    lv.mask = LVIF_TEXT | LVIF_PARAM | LVIF_STATE | LVIF_IMAGE;
    lv.iItem = Index;
    lv.pszText = LPSTR_TEXTCALLBACKW;
    lv.iImage = I_IMAGECALLBACK;
    lv.lParam = reinterpret_cast<LPARAM>(Item);
    lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED | LVIS_STATEIMAGEMASK;
    lv.state = (Item->selected_ ? LVIS_SELECTED : 0) | (Item->focused_ ? LVIS_FOCUSED : 0) |
               INDEXTOSTATEIMAGEMASK(Item->stateIndex_ + 1);
    if (Send(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&lv)) < 0)
        throw EInvalidOperation(L"The list view did not take the item");
    Item->selected_ = Item->focused_ = false;
}

void TListView::InsertColumn(int Index, TListColumn* Column)
{
    if (!HandleAllocated()) return;
    LVCOLUMNW c{};
    c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    c.fmt = ColumnFormat(Column->alignment_);
    c.cx = Column->width_;
    c.pszText = const_cast<wchar_t*>(Column->caption_.c_str());
    c.iSubItem = Index;
    Send(LVM_INSERTCOLUMNW, static_cast<WPARAM>(Index), reinterpret_cast<LPARAM>(&c));
}

void TListView::UpdateColumn(int Index, TListColumn* Column)
{
    if (!HandleAllocated() || Index < 0) return;
    LVCOLUMNW c{};
    c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    c.fmt = ColumnFormat(Column->alignment_);
    c.cx = Column->width_;
    c.pszText = const_cast<wchar_t*>(Column->caption_.c_str());
    Send(LVM_SETCOLUMNW, static_cast<WPARAM>(Index), reinterpret_cast<LPARAM>(&c));
}

void TListView::RedrawRow(int Index)
{
    // While updating, EndUpdate repaints the whole list.
    if (HandleAllocated() && updateCount_ == 0) Send(LVM_REDRAWITEMS, static_cast<WPARAM>(Index), static_cast<LPARAM>(Index));
}

void TListView::SetRowState(int Index, UINT State, UINT Mask)
{
    LVITEMW lv{};
    lv.stateMask = Mask;
    lv.state = State;
    Send(LVM_SETITEMSTATE, static_cast<WPARAM>(Index), reinterpret_cast<LPARAM>(&lv));
}

UINT TListView::RowState(int Index, UINT Mask) const
{
    return static_cast<UINT>(Send(LVM_GETITEMSTATE, static_cast<WPARAM>(Index), static_cast<LPARAM>(Mask)));
}

void TListView::SetViewStyle(TViewStyle Value)
{
    if (Value == viewStyle_) return;
    viewStyle_ = Value;
    RecreateWnd();
}

void TListView::SetMultiSelect(bool Value)
{
    if (Value == multiSelect_) return;
    multiSelect_ = Value;
    // A single-selection list keeps the first selected item only.
    if (!multiSelect_) SetSelected(GetSelected());
    RecreateWnd();
}

void TListView::SetReadOnly(bool Value)
{
    if (Value == readOnly_) return;
    readOnly_ = Value;
    RecreateWnd();
}

void TListView::SetRowSelect(bool Value)
{
    rowSelect_ = Value;
    Send(LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, ExtendedStyle());
}

void TListView::SetHideSelection(bool Value)
{
    if (Value == hideSelection_) return;
    hideSelection_ = Value;
    RecreateWnd();
}

void TListView::SetShowColumnHeaders(bool Value)
{
    if (Value == showColumnHeaders_) return;
    showColumnHeaders_ = Value;
    RecreateWnd();
}

TListItem* TListView::GetSelected() const
{
    if (HandleAllocated()) {
        int i = static_cast<int>(Send(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
        return i >= 0 && i < items_->GetCount() ? items_->GetItem(i) : nullptr;
    }
    for (auto& it : items_->items_)
        if (it->selected_) return it.get();
    return nullptr;
}

void TListView::SetSelected(TListItem* Item)
{
    if (HandleAllocated()) {
        SetRowState(-1, 0, LVIS_SELECTED);
        if (Item) {
            int index = Item->GetIndex();
            if (index >= 0) SetRowState(index, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        }
        return;
    }
    for (auto& it : items_->items_) it->selected_ = false;
    if (Item) Item->selected_ = Item->focused_ = true;
}

int TListView::GetSelCount() const
{
    if (HandleAllocated()) return static_cast<int>(Send(LVM_GETSELECTEDCOUNT));
    return static_cast<int>(std::count_if(items_->items_.begin(), items_->items_.end(),
                                          [](const std::unique_ptr<TListItem>& it) { return it->selected_; }));
}

int TListView::GetItemIndex() const
{
    TListItem* item = GetSelected();
    return item ? item->GetIndex() : -1;
}

void TListView::SetItemIndex(int Value)
{
    SetSelected(Value >= 0 && Value < items_->GetCount() ? items_->GetItem(Value) : nullptr);
}

void TListView::SetLargeImages(HIMAGELIST Value)
{
    largeImages_ = Value;
    if (HandleAllocated()) Send(LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(Value));
}

void TListView::SetSmallImages(HIMAGELIST Value)
{
    smallImages_ = Value;
    if (HandleAllocated()) Send(LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(Value));
}

void TListView::SetStateImages(HIMAGELIST Value)
{
    stateImages_ = Value;
    if (HandleAllocated()) Send(LVM_SETIMAGELIST, LVSIL_STATE, reinterpret_cast<LPARAM>(Value));
}

void TListView::GetDispInfo(NMLVDISPINFOW* Info)
{
    LVITEMW& lv = Info->item;
    if ((lv.mask & LVIF_IMAGE) && lv.iItem >= 0 && lv.iItem < items_->GetCount())
        lv.iImage = lv.iSubItem == 0 ? ItemImageIndex(items_->GetItem(lv.iItem)) : -1;
    if (!(lv.mask & LVIF_TEXT) || !lv.pszText || lv.cchTextMax <= 0) return;
    lv.pszText[0] = L'\0';
    if (lv.iItem < 0 || lv.iItem >= items_->GetCount()) return;
    TListItem* item = items_->GetItem(lv.iItem);
    std::wstring text;
    if (lv.iSubItem == 0)
        text = item->caption_;
    else if (lv.iSubItem - 1 < item->subItems_->GetCount())
        text = item->subItems_->GetStrings(lv.iSubItem - 1);
    std::size_t n = std::min(text.size(), static_cast<std::size_t>(lv.cchTextMax - 1));
    text.copy(lv.pszText, n);
    lv.pszText[n] = L'\0';
}

void TListView::ItemChanged(const NMLISTVIEW* Info)
{
    if (quiet_ > 0 || !(Info->uChanged & LVIF_STATE)) return;
    TListItem* item = Info->iItem >= 0 && Info->iItem < items_->GetCount() ? items_->GetItem(Info->iItem) : nullptr;
    auto alive = AliveToken();
    OnChange(this, item, ctState);
    if (!*alive) return;
    if ((Info->uOldState ^ Info->uNewState) & LVIS_SELECTED) {
        bool selected = (Info->uNewState & LVIS_SELECTED) != 0;
        if (item) {
            OnSelectItem(this, item, selected);
        } else {
            // A change of every row at once: one event per item it touched.
            for (int i = 0; i < items_->GetCount() && *alive; ++i) {
                TListItem* it = items_->GetItem(i);
                if (it->GetSelected() == selected) OnSelectItem(this, it, selected);
            }
        }
    }
}

COLORREF InactiveSelectionColor()
{
    const COLORREF h = ::GetSysColor(COLOR_HIGHLIGHT), w = ::GetSysColor(COLOR_WINDOW);
    auto mix = [](int a, int b) { return static_cast<BYTE>((a + 2 * b) / 3); };
    return RGB(mix(GetRValue(h), GetRValue(w)), mix(GetGValue(h), GetGValue(w)), mix(GetBValue(h), GetBValue(w)));
}

LRESULT DrawInactiveSelection(HWND Wnd, DWORD Stage, UINT& ItemState, COLORREF& Text, COLORREF& TextBack)
{
    if (Stage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
    if (Stage != CDDS_ITEMPREPAINT || !(ItemState & CDIS_SELECTED) || ::GetFocus() == Wnd) return CDRF_DODEFAULT;
    // The system would paint the row in the face colour, which some schemes
    // make the window colour: the row is drawn as an unselected one in the
    // tint instead.
    ItemState &= ~static_cast<UINT>(CDIS_SELECTED);
    Text = ::GetSysColor(COLOR_WINDOWTEXT);
    TextBack = InactiveSelectionColor();
    return CDRF_NEWFONT;
}

void TListView::CNNotify(TMessage& Message)
{
    Message.Result = 0;
    auto* hdr = reinterpret_cast<NMHDR*>(Message.LParam);
    switch (hdr->code) {
    case NM_CUSTOMDRAW: {
        if (hideSelection_) break;
        auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(hdr);
        Message.Result = DrawInactiveSelection(GetHandle(), draw->nmcd.dwDrawStage, draw->nmcd.uItemState,
                                               draw->clrText, draw->clrTextBk);
        break;
    }
    case LVN_GETDISPINFOW: GetDispInfo(reinterpret_cast<NMLVDISPINFOW*>(hdr)); break;
    // The items are the view's own: no notice per row when all go.
    case LVN_DELETEALLITEMS: Message.Result = TRUE; break;
    case LVN_ITEMCHANGED: ItemChanged(reinterpret_cast<NMLISTVIEW*>(hdr)); break;
    case LVN_COLUMNCLICK: {
        const int column = reinterpret_cast<NMLISTVIEW*>(hdr)->iSubItem;
        if (column >= 0 && column < columns_->GetCount()) ColClick(columns_->GetItem(column));
        break;
    }
    case LVN_BEGINLABELEDITW: Message.Result = readOnly_ ? TRUE : FALSE; break;
    case LVN_ENDLABELEDITW: {
        auto* info = reinterpret_cast<NMLVDISPINFOW*>(hdr);
        if (info->item.pszText && info->item.iItem >= 0 && info->item.iItem < items_->GetCount())
            items_->GetItem(info->item.iItem)->SetCaption(info->item.pszText);
        Message.Result = FALSE;  // the text comes from the item
        break;
    }
    default: break;
    }
}

void TListView::ColClick(TListColumn* Column)
{
    if (OnColumnClick) OnColumnClick(this, Column);
}

// ================================================================= TUpDown

TUpDown::TUpDown(TComponent* AOwner) : TSystemControl(AOwner) { SetBounds(0, 0, 16, 21); }

void TUpDown::CreateParams(TCreateParams& Params)
{
    TSystemControl::CreateParams(Params);
    Params.Style |= UDS_ARROWKEYS | UDS_NOTHOUSANDS;
}

void TUpDown::CreateHandleDone()
{
    TSystemControl::CreateHandleDone();
    SendToWindow(UDM_SETRANGE32, static_cast<WPARAM>(min_), static_cast<LPARAM>(max_));
    SendToWindow(UDM_SETPOS32, 0, static_cast<LPARAM>(position_));
}

void TUpDown::SetMin(int Value)
{
    min_ = Value;
    SendToWindow(UDM_SETRANGE32, static_cast<WPARAM>(min_), static_cast<LPARAM>(max_));
    SetPosition(position_);
}

void TUpDown::SetMax(int Value)
{
    max_ = Value;
    SendToWindow(UDM_SETRANGE32, static_cast<WPARAM>(min_), static_cast<LPARAM>(max_));
    SetPosition(position_);
}

int TUpDown::GetPosition() const
{
    if (auto* system = dynamic_cast<TSystemControl*>(associate_)) {
        int typed = 0;
        if (TryStrToInt(system->GetText(), typed) && typed >= min_ && typed <= max_) position_ = typed;
    }
    return position_;
}

void TUpDown::SetPosition(int Value)
{
    position_ = std::clamp(Value, std::min(min_, max_), std::max(min_, max_));
    SendToWindow(UDM_SETPOS32, 0, static_cast<LPARAM>(position_));
    ShowPosition();
}

void TUpDown::ShowPosition()
{
    auto* system = dynamic_cast<TSystemControl*>(associate_);
    if (!system) return;
    const std::wstring text = IntToStr(position_);
    if (system->GetText() != text) system->SetText(text);
}

void TUpDown::SetAssociate(TWinControl* Value)
{
    if (associate_) associate_->RemoveFreeNotification(this);
    associate_ = Value;
    if (!associate_) return;
    associate_->FreeNotification(this);
    if (associate_->GetParent() && !GetParent()) SetParent(associate_->GetParent());
    SetBounds(associate_->GetLeft() + associate_->GetWidth(), associate_->GetTop(), GetWidth(),
              associate_->GetHeight());
    ShowPosition();
}

void TUpDown::Notification(TComponent* AComponent, TOperation Operation)
{
    TSystemControl::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == associate_) associate_ = nullptr;
}

void TUpDown::CNNotify(TMessage& Message)
{
    Message.Result = 0;
    const auto* hdr = reinterpret_cast<const NMHDR*>(Message.LParam);
    if (hdr->code != UDN_DELTAPOS) return;
    const auto* delta = reinterpret_cast<const NMUPDOWN*>(Message.LParam);
    const int step = delta->iDelta > 0 ? increment_ : -increment_;
    SetPosition(GetPosition() + step);
    // The control's own position is the one just set.
    Message.Result = 1;
    OnChanging(this);
}

}  // namespace classlib
