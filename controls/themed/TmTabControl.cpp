// The tab control's records, colour sets and region cache, its life cycle,
// selection, scrolling and property setters. Layout, painting, input and
// the strip's buttons live in the TmTabControl*.cpp files beside it.
#include "controls/themed/TmTabControl.h"

#include <windowsx.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdlib>

#include "classlib/Docking.h"
#include "classlib/Forms.h"
#include "classlib/WinHandles.h"
#include "controls/themed/TmTabControlPrivate.h"

namespace themed {

using namespace classlib;

// ============================================================ tab records

void TTmTabData::Assign(const TPersistent* Source)
{
    if (auto* t = dynamic_cast<const TTmTabData*>(Source)) {
        Caption = t->Caption;
        DisabledIndex = t->DisabledIndex;
        ImageIndex = t->ImageIndex;
        Color = t->Color;
        Enabled = t->Enabled;
        Visible = t->Visible;
        Hint = t->Hint;
        return;
    }
    TPersistent::Assign(Source);
}

TTmTabData* TTmTabDataList::GetItem(int Index) const
{
    if (Index < 0 || Index >= GetCount()) throw EListError(L"List index out of bounds (" + std::to_wstring(Index) + L")");
    return items_[static_cast<size_t>(Index)].get();
}

void TTmTabDataList::SetItem(int Index, TTmTabData* Item)
{
    std::unique_ptr<TTmTabData> owned(Item);
    if (Index < 0 || Index >= GetCount()) throw EListError(L"List index out of bounds (" + std::to_wstring(Index) + L")");
    items_[static_cast<size_t>(Index)] = std::move(owned);
}

void TTmTabDataList::Add(TTmTabData* Item) { items_.emplace_back(Item); }

void TTmTabDataList::Assign(const TPersistent* Source)
{
    if (auto* l = dynamic_cast<const TTmTabDataList*>(Source)) {
        if (l == this) return;
        Clear();
        for (int i = 0; i < l->GetCount(); ++i) {
            auto* t = new TTmTabData;
            Add(t);
            t->Assign(l->GetItem(i));
        }
        return;
    }
    TPersistent::Assign(Source);
}

// ============================================================ colour sets

void TTmTabColors::Assign(const TPersistent* Source)
{
    if (auto* c = dynamic_cast<const TTmTabColors*>(Source)) {
        SetHighlightBar(c->highlightBar_);
        SetShadow(c->shadow_);
        SetUnselected(c->unselected_);
        return;
    }
    TPersistent::Assign(Source);
}

void TTmTabColors::RepaintOwner()
{
    if (owner_) owner_->InvalidateTabs();
}

TM_REDRAW_SETTER(TTmTabColors, HighlightBar, TColor, highlightBar_, RepaintOwner)
TM_REDRAW_SETTER(TTmTabColors, Shadow, TColor, shadow_, RepaintOwner)
TM_REDRAW_SETTER(TTmTabColors, Unselected, TColor, unselected_, RepaintOwner)

void TTmTextColors::Assign(const TPersistent* Source)
{
    if (auto* c = dynamic_cast<const TTmTextColors*>(Source)) {
        SetDisabled(c->disabled_);
        SetSelected(c->selected_);
        SetUnselected(c->unselected_);
        return;
    }
    TPersistent::Assign(Source);
}

void TTmTextColors::RepaintOwner()
{
    if (owner_) owner_->InvalidateTabs();
}

TM_REDRAW_SETTER(TTmTextColors, Disabled, TColor, disabled_, RepaintOwner)
TM_REDRAW_SETTER(TTmTextColors, Selected, TColor, selected_, RepaintOwner)
TM_REDRAW_SETTER(TTmTextColors, Unselected, TColor, unselected_, RepaintOwner)

// ============================================================ region cache

void TTmTabRegionCacheItem::SetRegion(HRGN Region)
{
    if (Region == region_) return;
    if (region_) ::DeleteObject(region_);
    region_ = Region;
}

HRGN TTmTabRegionCache::FindRegion(const RECT& Rect) const
{
    for (const auto& item : items_)
        if (SameRect(item->TabRect, Rect)) return item->GetRegion();
    return nullptr;
}

void TTmTabRegionCache::AddRegion(const RECT& Rect, HRGN Region)
{
    auto it = std::find_if(items_.begin(), items_.end(),
                           [&](const std::unique_ptr<TTmTabRegionCacheItem>& i) { return SameRect(i->TabRect, Rect); });
    if (it != items_.end()) {
        std::unique_ptr<TTmTabRegionCacheItem> item = std::move(*it);
        items_.erase(it);
        // The cache owns what it was given: a second region for the same
        // rectangle is not kept.
        if (Region && Region != item->GetRegion()) ::DeleteObject(Region);
        items_.insert(items_.begin(), std::move(item));
    } else {
        auto item = std::make_unique<TTmTabRegionCacheItem>();
        item->TabRect = Rect;
        item->SetRegion(Region);
        items_.insert(items_.begin(), std::move(item));
    }
    Trim();
}

void TTmTabRegionCache::Trim()
{
    if (capacity_ == -1) return;
    while (static_cast<int>(items_.size()) > capacity_) items_.pop_back();
}

void TTmTabRegionCache::SetCapacity(int Value)
{
    if (Value < -1 || Value == 0)
        throw ETmTabControlError(L"Capacity must be -1 (to cache all regions) or > 0");
    if (Value == capacity_) return;
    capacity_ = Value;
    Trim();
}

// ===================================================== TTmCustomTabControl

TTmCustomTabControl::TTmCustomTabControl(TComponent* AOwner)
    : TCustomControl(AOwner),
      bitmap_(std::make_unique<TBitmap>()),
      tabData_(std::make_unique<TTmTabDataList>()),
      regionCache_(std::make_unique<TTmTabRegionCache>()),
      drawFont_(std::make_unique<TFont>()),
      imageLink_(std::make_unique<TChangeLink>()),
      tabColors_(std::make_unique<TTmTabColors>(this)),
      textColors_(std::make_unique<TTmTextColors>(this))
{
    ControlStyle = csAcceptsControls | csCaptureMouse | csClickEvents | csOpaque;
    SetTabStop(true);
    SetBounds(0, 0, 300, 100);
    drawFont_->Assign(GetFont());
    imageLink_->OnChange = TNotifyEvent(this, &TTmCustomTabControl::InvalidateTabs_);
}

TTmCustomTabControl::~TTmCustomTabControl()
{
    StopHotTrackTimer();
    if (Dragging()) EndDrag(false);
    if (images_) images_->RemoveFreeNotification(this);
}

void TTmCustomTabControl::InvalidateTabs_(TObject*) { InvalidateTabs(); }

void TTmCustomTabControl::CreateParams(TCreateParams& Params)
{
    TCustomControl::CreateParams(Params);
    Params.WindowClassStyle &= ~(CS_HREDRAW | CS_VREDRAW);
}

bool TTmCustomTabControl::InLoadingState() const { return (GetComponentState() & csLoading) != 0; }

void TTmCustomTabControl::Notification(TComponent* AComponent, TOperation Operation)
{
    TCustomControl::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == images_) {
        images_ = nullptr;
        imageLink_->SetSender(nullptr);
        TabsChanged();
    }
}

void TTmCustomTabControl::Loaded()
{
    TCustomControl::Loaded();
    savedHint_ = Hint;
    // Only the flag: a descendant rebuilds its tabs in its own Loaded.
    SetTabsChanged(true);
    if (tabIndex_ != defaultTabIndex_) tabIndex_ = defaultTabIndex_;
    if (textOrientation_ == orVertical && !TmIsTrueTypeFont(GetFont())) GetFont()->SetName(L"Verdana");
    SetTabIndex(tabIndex_);
}

// ------------------------------------------------------------ flags

void TTmCustomTabControl::TabsChanged() { SetTabsChanged(true); }

void TTmCustomTabControl::SetTabsChanged(bool Value)
{
    bool was = tabsChanged_;
    tabsChanged_ = Value;
    if (Value && !was) InvalidateTabs();
}

void TTmCustomTabControl::InvalidateTabs()
{
    hotTrackPartial_ = false;
    Invalidate();
}

void TTmCustomTabControl::FontChanged(TObject* Sender)
{
    TCustomControl::FontChanged(Sender);
    drawFont_->Assign(GetFont());
    TabsChanged();
}

void TTmCustomTabControl::Resize()
{
    TCustomControl::Resize();
    TabsChanged();
}

void TTmCustomTabControl::EraseBackground(TMessage& Message) { Message.Result = 1; }

// ------------------------------------------------------------ selection

bool TTmCustomTabControl::CanSelectTab(int Index)
{
    if (TabCount() == 0 || Index < 0 || Index >= TabCount()) return false;
    const TTmTabData* t = Tab(Index);
    if (!t->Visible) return false;
    if (!t->Enabled && !(GetComponentState() & csDesigning)) return false;
    if (Index == tabIndex_) return true;
    bool allow = true;
    DoChanging(Index, allow);
    return allow;
}

void TTmCustomTabControl::DoChanging(int NewIndex, bool& AllowChange) { OnChanging(this, NewIndex, AllowChange); }

void TTmCustomTabControl::DoChange() { OnChange(this); }

void TTmCustomTabControl::DoPageChange() { OnPageChange(this); }

void TTmCustomTabControl::DoTabClick() { OnTabClick(this); }

void TTmCustomTabControl::DoTabOrderChange(int OldIndex, int NewIndex) { OnTabOrderChange(this, OldIndex, NewIndex); }

bool TTmCustomTabControl::DoClose()
{
    bool allow = false;
    OnClose(this, allow);
    return allow;
}

void TTmCustomTabControl::DoGetTextColor(int TabIndex, TTmTextStyle Style, bool& Handled, TColor& Color)
{
    OnGetTextColor(this, TabIndex, Style, Color, Handled);
}

void TTmCustomTabControl::SetTabIndex(int Value)
{
    if ((GetComponentState() & (csLoading | csReading)) || DeferTabIndex()) {
        tabIndex_ = Value;
        return;
    }
    auto alive = AliveToken();
    if (Value < 0 || Value >= TabCount()) {
        tabIndex_ = -1;
        InvalidateTabs();
    } else {
        const bool allowed = Value == tabIndex_ || applyApproved_ || CanSelectTab(Value);
        if (!*alive) return;
        if (allowed) {
            const int oldIndex = tabIndex_, oldFirst = firstShownTab_;
            tabIndex_ = Value;
            if (!scrolling_)
                RotateRows();
            else if (Value < firstShownTab_)
                firstShownTab_ = Value;
            else
                while (firstShownTab_ < tabIndex_ && !IsTabShown(tabIndex_)) ++firstShownTab_;
            if (firstShownTab_ != oldFirst || tabIndex_ != oldIndex) {
                InvalidateTabs();
                if (scroller_) scroller_->Invalidate();
            }
            if (tabIndex_ != oldIndex) {
                DoChange();
                if (!*alive) return;
                DoPageChange();
                if (!*alive) return;
            }
        }
    }
    if (showCloseButton_ && closeButton_) closeButton_->Invalidate();
    if (showMenuButton_ && menuButton_) menuButton_->Invalidate();
    if (showCloseButtonOnActiveTab_ && activeCloseButton_) activeCloseButton_->SetVisible(tabIndex_ >= 0);
}

void TTmCustomTabControl::RotateRows()
{
    if (tabIndex_ < 0 || tabIndex_ >= TabCount()) return;
    int maxRow = 0;
    for (int i = 0; i < TabCount(); ++i) maxRow = std::max(maxRow, Tab(i)->Row);
    if (maxRow == 0) return;
    std::vector<std::unique_ptr<RECT>> bands(static_cast<size_t>(maxRow + 1));
    for (int i = 0; i < TabCount(); ++i) {
        const TTmTabData* t = Tab(i);
        if (!t->Visible) continue;
        auto& b = bands[static_cast<size_t>(t->Row)];
        if (!b) b = std::make_unique<RECT>(t->RawRect);
    }
    const int d = (maxRow - Tab(tabIndex_)->Row + 1) % (maxRow + 1);
    if (d == 0) return;
    for (int i = 0; i < TabCount(); ++i) {
        TTmTabData* t = Tab(i);
        if (!t->Visible) continue;
        t->Row = (t->Row + d) % (maxRow + 1);
        if (const auto& b = bands[static_cast<size_t>(t->Row)]) {
            t->RawRect.top = b->top;
            t->RawRect.bottom = b->bottom;
        }
    }
    regionCache_->Clear();
}

// ------------------------------------------------------------ scrolling

void TTmCustomTabControl::ScrollTabs(bool Forward)
{
    // Steps the first shown tab towards the hidden end until a tab shows
    // there; none does: the first shown tab stays.
    const int count = TabCount();
    const int edge = Forward ? LastVisibleTab() : FirstVisibleTab();
    const bool room = Forward ? firstShownTab_ < count - 1 : firstShownTab_ > 0;
    if (room && edge >= 0 && !IsTabShown(edge)) {
        const int old = firstShownTab_;
        for (;;) {
            firstShownTab_ += Forward ? 1 : -1;
            if (Forward ? firstShownTab_ >= count : firstShownTab_ < 0) {
                firstShownTab_ = old;
                break;
            }
            if (IsTabShown(firstShownTab_)) {
                InvalidateTabs();
                break;
            }
        }
    }
    if (showCloseButtonOnActiveTab_ && tabIndex_ >= 0 && activeCloseButton_)
        activeCloseButton_->SetVisible(IsTabShown(tabIndex_));
    if (scroller_) scroller_->Invalidate();
    OnScrolledTabs(this);
}

void TTmCustomTabControl::ScrollerUpRightClick(TObject*)
{
    const bool forward = tabOrientation_ == toRight ? tabSequence_ == tsReverse : tabSequence_ == tsStandard;
    ScrollTabs(forward);
}

void TTmCustomTabControl::ScrollerDownLeftClick(TObject*)
{
    const bool forward = tabOrientation_ == toRight ? tabSequence_ == tsReverse : tabSequence_ == tsStandard;
    ScrollTabs(!forward);
}

void TTmCustomTabControl::CloseTab(TObject*)
{
    if (tabIndex_ < 0) return;
    if (DoClose()) CloseActiveTab();
}

// ------------------------------------------------------------ setters

#define TM_SET(Name, Field, After)          \
    void TTmCustomTabControl::Name(decltype(Field) Value) \
    {                                        \
        if (Value == Field) return;          \
        Field = Value;                       \
        After;                               \
    }

TM_SET(SetAlignTabs, alignTabs_, if (multiLine_) TabsChanged())
TM_SET(SetBoldCurrentTab, boldCurrentTab_, TabsChanged())
TM_SET(SetButtonColor, buttonColor_, InvalidateTabs();
       if (scroller_) scroller_->Invalidate(); if (closeButton_) closeButton_->Invalidate();
       if (menuButton_) menuButton_->Invalidate())
TM_SET(SetShowCard, showCard_, TabsChanged())
TM_SET(SetShowCardFrame, showCardFrame_, TabsChanged())
TM_SET(SetUseColoredTabs, useColoredTabs_, InvalidateTabs())
TM_SET(SetImagePosition, imagePosition_, TabsChanged())
TM_SET(SetImageAlignment, imageAlignment_, TabsChanged())
TM_SET(SetImageAlignmentVertical, imageAlignmentVertical_, TabsChanged())
TM_SET(SetHotTrackColor, hotTrackColor_, InvalidateTabs())
TM_SET(SetHotTrackColorSource, hotTrackColorSource_, InvalidateTabs())
TM_SET(SetHotTrackColorType, hotTrackColorType_, InvalidateTabs())
TM_SET(SetHotTrackStyle, hotTrackStyle_, InvalidateTabs())
TM_SET(SetMultiLine, multiLine_, TabsChanged())
TM_SET(SetShowFocusRect, showFocusRect_, Invalidate())
TM_SET(SetSoftCorners, softCorners_, TabsChanged())
TM_SET(SetTabOverlap, tabOverlap_, TabsChanged())
TM_SET(SetTabSequence, tabSequence_, TabsChanged())
TM_SET(SetTabStyle, tabStyle_, TabsChanged())
TM_SET(SetTextAlignment, textAlignment_, TabsChanged())
TM_SET(SetTextAlignmentVertical, textAlignmentVertical_, TabsChanged())
TM_SET(SetUseGradients, useGradients_, InvalidateTabs())
TM_SET(SetTransparent, transparent_, InvalidateTabs())
#undef TM_SET

#define TM_SET_NONNEG(Name, Field)           \
    void TTmCustomTabControl::Name(int Value) \
    {                                         \
        if (Value < 0 || Value == Field) return; \
        Field = Value;                        \
        TabsChanged();                        \
    }

TM_SET_NONNEG(SetImageMargin, imageMargin_)
TM_SET_NONNEG(SetMargin, margin_)
TM_SET_NONNEG(SetRowIndent, rowIndent_)
TM_SET_NONNEG(SetRowOverlap, rowOverlap_)
TM_SET_NONNEG(SetTabHeight, tabHeight_)
TM_SET_NONNEG(SetTabWidth, tabWidth_)
#undef TM_SET_NONNEG

void TTmCustomTabControl::SetCutCornerSize(int Value)
{
    if (Value < 0 || Value == cutCornerSize_) return;
    cutCornerSize_ = Value;
    if (tabStyle_ == tsCutCorner) TabsChanged();
}

void TTmCustomTabControl::SetBackgroundColor(TColor Value)
{
    parentBackgroundColor_ = false;
    if (Value == backgroundColor_) return;
    backgroundColor_ = Value;
    InvalidateTabs();
}

void TTmCustomTabControl::SetParentBackgroundColor(bool Value)
{
    if (Value == parentBackgroundColor_) return;
    parentBackgroundColor_ = Value;
    if (Value && GetParent()) {
        SetBackgroundColor(GetParent()->GetColor());
        parentBackgroundColor_ = true;
    }
}

void TTmCustomTabControl::SetShowFullFrame(bool Value)
{
    if (Value == showFullFrame_) return;
    showFullFrame_ = Value;
    if (!Value) showShadow_ = false;
    TabsChanged();
}

void TTmCustomTabControl::SetShowShadow(bool Value)
{
    if (Value == showShadow_) return;
    showShadow_ = Value;
    if (Value) showFullFrame_ = true;
    TabsChanged();
    InvalidateTabs();
}

TColor TTmCustomTabControl::OutlineFlatColor() const { return TmShiftColorLuminance(flatColor_, flatColorAdjustment_); }

void TTmCustomTabControl::UpdateButtonFrameColors()
{
    const TColor f = OutlineFlatColor();
    if (scroller_) scroller_->SetFrameColor(f);
    if (closeButton_) closeButton_->SetFrameColor(f);
    if (activeCloseButton_) activeCloseButton_->SetFrameColor(f);
    if (menuButton_) menuButton_->SetFrameColor(f);
}

void TTmCustomTabControl::SetFlatColor(TColor Value)
{
    if (Value == flatColor_) return;
    flatColor_ = Value;
    UpdateButtonFrameColors();
    InvalidateTabs();
}

void TTmCustomTabControl::SetFlatColorAdjustment(int Value)
{
    if (Value == flatColorAdjustment_) return;
    flatColorAdjustment_ = Value;
    UpdateButtonFrameColors();
    InvalidateTabs();
}

void TTmCustomTabControl::SetShowCloseButton(bool Value)
{
    if (Value == showCloseButton_) return;
    showCloseButton_ = Value;
    if (Value && !closeButton_) {
        closeButton_ = new TTmTabControlCloseButton(this);
        closeButton_->SetFrameColor(OutlineFlatColor());
        closeButton_->OnClose = TNotifyEvent(this, &TTmCustomTabControl::CloseTab);
    }
    if (closeButton_) closeButton_->SetVisible(Value);
    TabsChanged();
    InvalidateTabs();
}

void TTmCustomTabControl::SetShowCloseButtonOnActiveTab(bool Value)
{
    if (Value == showCloseButtonOnActiveTab_) return;
    showCloseButtonOnActiveTab_ = Value;
    if (Value && !activeCloseButton_) {
        activeCloseButton_ = new TTmActiveTabCloseButton(this);
        activeCloseButton_->SetFrameColor(OutlineFlatColor());
        activeCloseButton_->OnClose = TNotifyEvent(this, &TTmCustomTabControl::CloseTab);
    }
    if (activeCloseButton_) activeCloseButton_->SetVisible(Value && tabIndex_ >= 0);
    TabsChanged();
    InvalidateTabs();
}

void TTmCustomTabControl::SetShowMenuButton(bool Value)
{
    if (Value == showMenuButton_) return;
    showMenuButton_ = Value;
    if (Value && !menuButton_) {
        menuButton_ = new TTmTabMenuButton(this);
        menuButton_->SetFrameColor(OutlineFlatColor());
    }
    if (menuButton_) menuButton_->SetVisible(Value);
    TabsChanged();
    InvalidateTabs();
}

void TTmCustomTabControl::SetHotTrack(bool Value)
{
    if (!Value && !tabHints_) StopHotTrackTimer();
    hotTrack_ = Value;
}

void TTmCustomTabControl::SetTabHints(bool Value)
{
    if (!Value && !hotTrack_) StopHotTrackTimer();
    tabHints_ = Value;
}

void TTmCustomTabControl::SetImages(TCustomImageList* Value)
{
    if (Value == images_) return;
    if (images_) images_->RemoveFreeNotification(this);
    images_ = Value;
    imageLink_->SetSender(Value);
    if (Value) Value->FreeNotification(this);
    TabsChanged();
}

void TTmCustomTabControl::SetTextOrientation(TOrientation Value)
{
    if (Value == textOrientation_) return;
    textOrientation_ = Value;
    if (!(GetComponentState() & csLoading) && !TmIsTrueTypeFont(GetFont())) GetFont()->SetName(L"Verdana");
    TabsChanged();
}

void TTmCustomTabControl::SetTabOrientation(TTmTabOrientation Value)
{
    if (Value == tabOrientation_) return;
    tabOrientation_ = Value;
    if (!(GetComponentState() & (csLoading | csReading))) TabsChanged();
}

void TTmCustomTabControl::SetRegionCacheCapacity(int Value)
{
    if ((Value == -1 || Value > 0) && Value != regionCacheCapacity_) {
        regionCacheCapacity_ = Value;
        regionCache_->SetCapacity(Value);
    }
}

// ------------------------------------------------------------ alignment

void TTmCustomTabControl::AdjustClientRect(RECT& Rect)
{
    if (!(GetComponentState() & (csLoading | csReading))) {
        PlaceCloseButton();
        PlaceMenuButton();
        PlaceScroller();
    }
    Rect = GetDisplayRect();
    lastDisplayRect_ = Rect;
}

}  // namespace themed
