#include "controls/toolbar/MbItem.h"

#include <algorithm>

#include "classlib/Automation.h"
#include "classlib/Forms.h"
#include "classlib/WinHandles.h"

namespace toolbar {

TMbCustomItem::TMbCustomItem(classlib::TComponent* AOwner) : classlib::TComponent(AOwner) {}

TMbCustomItem::~TMbCustomItem()
{
    if (parentItem_) parentItem_->Remove(this);
    for (TMbCustomItem* child : items_) child->parentItem_ = nullptr;
}

void TMbCustomItem::SetCaption(const std::wstring& Value)
{
    if (caption_ == Value) return;
    caption_ = Value;
    Changed();
}

void TMbCustomItem::SetEnabled(bool Value)
{
    if (enabled_ == Value) return;
    enabled_ = Value;
    Changed();
}

void TMbCustomItem::SetVisible(bool Value)
{
    if (visible_ == Value) return;
    visible_ = Value;
    Changed();
}

void TMbCustomItem::SetChecked(bool Value)
{
    if (checked_ == Value) return;
    checked_ = Value;
    Changed();
}

void TMbCustomItem::SetImageIndex(int Value)
{
    if (imageIndex_ == Value) return;
    imageIndex_ = Value;
    Changed();
}

void TMbCustomItem::Add(TMbCustomItem* Item) { Insert(GetCount(), Item); }

void TMbCustomItem::Insert(int Index, TMbCustomItem* Item)
{
    if (!Item || Item == this) return;
    if (Item->parentItem_) Item->parentItem_->Remove(Item);
    Index = std::clamp(Index, 0, GetCount());
    items_.insert(items_.begin() + Index, Item);
    Item->parentItem_ = this;
    Item->FreeNotification(this);
    Changed();
}

void TMbCustomItem::Remove(TMbCustomItem* Item)
{
    auto it = std::find(items_.begin(), items_.end(), Item);
    if (it == items_.end()) return;
    items_.erase(it);
    Item->parentItem_ = nullptr;
    Changed();
}

int TMbCustomItem::IndexOf(const TMbCustomItem* Item) const
{
    auto it = std::find(items_.begin(), items_.end(), Item);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TMbCustomItem::Click()
{
    if (enabled_) OnClick(this);
}

namespace {

// The automation messages of forms click an enabled, visible item as a user
// would (classlib/Automation.h).
bool ClickItemForAutomation(classlib::TComponent* Component)
{
    auto* item = dynamic_cast<TMbCustomItem*>(Component);
    if (!item || !item->GetEnabled() || !item->GetVisible()) return false;
    item->Click();
    return true;
}

const bool kAutomationRegistered = (classlib::RegisterAutomationClicker(&ClickItemForAutomation), true);

}  // namespace

void TMbCustomItem::DoPopup(bool FromLink) { OnPopup(this, FromLink); }

IMbItemView* TMbCustomItem::GetView() const
{
    for (const TMbCustomItem* i = this; i; i = i->parentItem_)
        if (i->view_) return i->view_;
    return nullptr;
}

void TMbCustomItem::Changed()
{
    if (IMbItemView* v = GetView()) v->ItemChanged(this);
}

void TMbCustomItem::Notification(classlib::TComponent* AComponent, classlib::TOperation Operation)
{
    classlib::TComponent::Notification(AComponent, Operation);
    if (Operation == classlib::opRemove) {
        auto it = std::find(items_.begin(), items_.end(), AComponent);
        if (it != items_.end()) items_.erase(it);
    }
}

void TMbControlItem::SetControl(classlib::TControl* Value)
{
    if (control_ == Value) return;
    control_ = Value;
    if (control_) control_->FreeNotification(this);
    Changed();
}

void TMbControlItem::Notification(classlib::TComponent* AComponent, classlib::TOperation Operation)
{
    TMbCustomItem::Notification(AComponent, Operation);
    if (Operation == classlib::opRemove && AComponent == control_) control_ = nullptr;
}

namespace {

// Builds the native menu of Root's visible children; ids are 1 + the index
// into Items.
HMENU BuildMenu(TMbCustomItem* Root, std::vector<TMbCustomItem*>& Items)
{
    HMENU menu = ::CreatePopupMenu();
    for (int i = 0; i < Root->GetCount(); ++i) {
        TMbCustomItem* item = Root->GetItem(i);
        if (!item->GetVisible() || item->Kind() == ikControl) continue;
        if (item->Kind() == ikSeparator) {
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        UINT flags = MF_STRING;
        if (!item->GetEnabled()) flags |= MF_GRAYED;
        if (item->GetChecked()) flags |= MF_CHECKED;
        if (item->GetCount() > 0 || item->Kind() == ikSubmenu) {
            item->DoPopup(false);
            HMENU sub = BuildMenu(item, Items);
            ::AppendMenuW(menu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), item->GetCaption().c_str());
        } else {
            Items.push_back(item);
            ::AppendMenuW(menu, flags, Items.size(), item->GetCaption().c_str());
        }
    }
    return menu;
}

}  // namespace

TMbCustomItem* TrackItemsPopup(TMbCustomItem* Root, HWND Owner, int X, int Y)
{
    if (!Root) return nullptr;
    std::vector<TMbCustomItem*> items;
    Root->DoPopup(false);
    HMENU menu = BuildMenu(Root, items);
    if (!Owner) Owner = ::GetActiveWindow();
    // The owner must be the foreground window for the menu to close when
    // the user clicks elsewhere.
    if (Owner) ::SetForegroundWindow(Owner);
    UINT cmd = static_cast<UINT>(
        ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_NONOTIFY, X, Y, 0, Owner, nullptr));
    ::DestroyMenu(menu);
    if (Owner) ::PostMessageW(Owner, WM_NULL, 0, 0);
    if (cmd == 0 || cmd > items.size()) return nullptr;
    TMbCustomItem* chosen = items[cmd - 1];
    chosen->Click();
    return chosen;
}

TMbPopupMenu::TMbPopupMenu(classlib::TComponent* AOwner)
    : classlib::TComponent(AOwner), items_(new TMbCustomItem(this))
{
}

TMbPopupMenu::~TMbPopupMenu() = default;

void TMbPopupMenu::Popup(int X, int Y)
{
    OnPopup(this);
    TrackItemsPopup(items_, nullptr, X, Y);
}

}  // namespace toolbar
