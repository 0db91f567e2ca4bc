// The toolbar image list with its checked, disabled and hot state lists,
// and the popup menu component with the plain copies of its entries that a
// menu drawn by the platform shows.
#include "controls/toolbar/MbItem.h"

#include <algorithm>

#include "classlib/Forms.h"
#include "controls/toolbar/MbCommon.h"

namespace toolbar {

// --------------------------------------------------------- image lists

TMbCustomImageList::TMbCustomImageList(classlib::TComponent* AOwner) : classlib::TCustomImageList(AOwner, 16, 16)
{
    for (classlib::TChangeLink* link : {&checkedLink_, &disabledLink_, &hotLink_})
        link->OnChange = classlib::TNotifyEvent(this, &TMbCustomImageList::StateListChange);
}

TMbCustomImageList::~TMbCustomImageList()
{
    Destroying();
    for (classlib::TChangeLink* link : {&checkedLink_, &disabledLink_, &hotLink_}) link->SetSender(nullptr);
}

void TMbCustomImageList::SetStateList(classlib::TCustomImageList*& Field, classlib::TCustomImageList* Value,
                                      classlib::TChangeLink& Link)
{
    if (Value == this) Value = nullptr;
    if (Field == Value) return;
    Link.SetSender(nullptr);
    Field = Value;
    if (Value) {
        Link.SetSender(Value);
        Value->FreeNotification(this);
    }
    if (!(GetComponentState() & (classlib::csLoading | classlib::csDestroying))) Change();
}

void TMbCustomImageList::SetCheckedImages(classlib::TCustomImageList* Value)
{
    SetStateList(checkedImages_, Value, checkedLink_);
}

void TMbCustomImageList::SetDisabledImages(classlib::TCustomImageList* Value)
{
    SetStateList(disabledImages_, Value, disabledLink_);
}

void TMbCustomImageList::SetHotImages(classlib::TCustomImageList* Value)
{
    SetStateList(hotImages_, Value, hotLink_);
}

void TMbCustomImageList::StateListChange(classlib::TObject* Sender)
{
    (void)Sender;
    Change();
}

void TMbCustomImageList::Notification(classlib::TComponent* AComponent, classlib::TOperation Operation)
{
    classlib::TCustomImageList::Notification(AComponent, Operation);
    if (Operation != classlib::opRemove) return;
    // The deleted list has already left its links.
    if (AComponent == checkedImages_) checkedImages_ = nullptr;
    if (AComponent == disabledImages_) disabledImages_ = nullptr;
    if (AComponent == hotImages_) hotImages_ = nullptr;
}

void TMbCustomImageList::SetImagesBitmap(classlib::TBitmap* Value)
{
    if (!imagesBitmap_) imagesBitmap_ = std::make_unique<classlib::TBitmap>();
    imagesBitmap_->Assign(Value);
    LoadImagesBitmap();
}

void TMbCustomImageList::SetImagesBitmapMaskColor(classlib::TColor Value)
{
    if (imagesBitmapMaskColor_ == Value) return;
    imagesBitmapMaskColor_ = Value;
    LoadImagesBitmap();
}

void TMbCustomImageList::LoadImagesBitmap()
{
    if (!imagesBitmap_ || imagesBitmap_->GetEmpty()) return;
    BeginUpdate();
    try {
        Clear();
        AddMasked(imagesBitmap_.get(), imagesBitmapMaskColor_);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TMbCustomImageList::DrawForState(classlib::TCanvas* Canvas, int X, int Y, int Index, bool Enabled,
                                      bool Selected, bool Checked)
{
    if (!Enabled && disabledImages_) disabledImages_->Draw(Canvas, X, Y, Index, true);
    else if (Checked && checkedImages_) checkedImages_->Draw(Canvas, X, Y, Index, Enabled);
    else if (Selected && hotImages_) hotImages_->Draw(Canvas, X, Y, Index, Enabled);
    else Draw(Canvas, X, Y, Index, Enabled);
}

TMbPopupMenu::TMbPopupMenu(classlib::TComponent* AOwner)
    : classlib::TPopupMenu(AOwner), items_(new TMbRootItem(this))
{
    items_->HostComponent = this;
    items_->OnClick = classlib::TNotifyEvent(this, &TMbPopupMenu::RootClick);
}

TMbPopupMenu::~TMbPopupMenu() = default;

void TMbPopupMenu::RootClick(classlib::TObject* Sender)
{
    // Opening a popup clicks its item: the menu's OnPopup fires each time.
    OnPopup(Sender == items_ ? static_cast<classlib::TObject*>(this) : Sender);
}

TMbCustomItem* TMbPopupMenu::PopupReturningItem(int X, int Y, bool ReturnClickedItemOnly)
{
    PopupPoint = POINT{X, Y};
    return items_->ShowAsPopup(X, Y, TrackButton == tbRightButton, Alignment, ReturnClickedItemOnly);
}

namespace {

// Copies the entries shown for Level (its linked item's sub-items); Images
// is the list the level's entries draw from unless they carry their own.
std::vector<classlib::TMenuItemCopy> CopyLevel(TMbCustomItem* Level, classlib::TCustomImageList* Images)
{
    std::vector<classlib::TMenuItemCopy> copies;
    TMbCustomItem* shown = Level->LinkedItem();
    if (shown->GetSubMenuImages()) Images = shown->GetSubMenuImages();
    else if (Level->GetSubMenuImages()) Images = Level->GetSubMenuImages();
    for (int i = 0; i < shown->GetCount(); ++i) {
        TMbCustomItem* item = shown->GetItem(i);
        if (dynamic_cast<TMbControlItem*>(item)) continue;
        classlib::TMenuItemCopy copy;
        copy.Source = item;
        if (!item->GetName().empty()) copy.Name = item->GetName() + L"2";
        copy.Visible = item->GetVisible();
        copy.Tag = item->GetTag();
        copy.Hint = item->Hint;
        copy.HelpContext = item->HelpContext;
        copy.GroupIndex = item->GetGroupIndex();
        if (item->GetKinds() & ikSeparator) {
            copy.Caption = L"-";
            copies.push_back(std::move(copy));
            continue;
        }
        copy.Caption = item->MenuCaption();
        copy.ShortCut = item->GetShortCut();
        copy.ShortCutText = item->ShortCutText();
        copy.Checked = item->GetChecked();
        copy.RadioItem = item->GetRadioItem();
        copy.Default = (item->GetEffectiveOptions() & tboDefault) != 0;
        copy.Enabled = item->GetEnabled();
        copy.ImageIndex = item->GetImageIndex();
        copy.Images = item->GetImages() ? item->GetImages() : Images;
        copy.Action = item->GetAction();
        if (item->GetKinds() & ikSubmenu) {
            copy.IsSubmenu = true;
            // Opening a submenu announces it first (as OpenPopupWindow
            // does); hidden ones never open.
            if (copy.Visible) {
                if (item->LinkedItem() != item) item->LinkedItem()->NotifyPopup(item, true);
                item->NotifyPopup(item, false);
            }
            copy.Items = CopyLevel(item, Images);
        } else if (!(item->GetKinds() & ikNoClick)) {
            copy.Click = [item] { item->PerformClick(); };
        }
        copies.push_back(std::move(copy));
    }
    return copies;
}

}  // namespace

std::vector<classlib::TMenuItemCopy> TMbPopupMenu::CopyItems()
{
    // The menu's own OnPopup is the caller's to fire; the items whose
    // entries it shows in its place are announced here.
    if (items_->LinkedItem() != items_) items_->LinkedItem()->NotifyPopup(items_, true);
    return CopyLevel(items_, nullptr);
}

}  // namespace toolbar
