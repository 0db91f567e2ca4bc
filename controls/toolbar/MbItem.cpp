#include "controls/toolbar/MbItem.h"

#include <imm.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>

#include "classlib/Automation.h"
#include "classlib/Forms.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "controls/toolbar/MbAcc.h"
#include "controls/toolbar/MbAnim.h"
#include "controls/toolbar/MbCommon.h"

namespace toolbar {

namespace {

constexpr TMbItemOptions NormalizeOptions(TMbItemOptions Value)
{
    return (Value & tboToolbarStyle) ? Value : static_cast<TMbItemOptions>(Value & ~tboToolbarSize);
}

// Options whose change alters an entry's size.
constexpr TMbItemOptions kSizeOptions = 0x0367;

}  // namespace

// ------------------------------------------------------------- shortcuts

TShortCut ShortCut(WORD Key, classlib::TShiftState Shift)
{
    if (Key > 0xFF) return 0;
    TShortCut result = Key;
    if (Shift & classlib::ssShift) result |= 0x2000;
    if (Shift & classlib::ssCtrl) result |= 0x4000;
    if (Shift & classlib::ssAlt) result |= 0x8000;
    return result;
}

std::wstring ShortCutToText(TShortCut Value)
{
    const WORD key = Value & 0xFF;
    if (key == 0) return L"";
    std::wstring name;
    if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) {
        name = std::wstring(1, static_cast<wchar_t>(key));
    } else if (key >= VK_F1 && key <= VK_F24) {
        name = L"F" + std::to_wstring(key - VK_F1 + 1);
    } else {
        static const struct {
            WORD Key;
            const wchar_t* Name;
        } kNames[] = {{VK_BACK, L"BkSp"}, {VK_TAB, L"Tab"},   {VK_RETURN, L"Enter"}, {VK_ESCAPE, L"Esc"},
                      {VK_SPACE, L"Space"}, {VK_PRIOR, L"PgUp"}, {VK_NEXT, L"PgDn"},   {VK_END, L"End"},
                      {VK_HOME, L"Home"},  {VK_LEFT, L"Left"},  {VK_UP, L"Up"},       {VK_RIGHT, L"Right"},
                      {VK_DOWN, L"Down"},  {VK_INSERT, L"Ins"}, {VK_DELETE, L"Del"}};
        for (const auto& n : kNames)
            if (n.Key == key) name = n.Name;
        if (name.empty()) {
            const UINT scan = ::MapVirtualKeyW(key, 0 /* MAPVK_VK_TO_VSC */);
            wchar_t buf[64] = {};
            if (scan && ::GetKeyNameTextW(static_cast<LONG>(scan << 16), buf, 64) > 0) name = buf;
            else name = L"#" + std::to_wstring(key);
        }
    }
    std::wstring prefix;
    if (Value & 0x2000) prefix += L"Shift+";
    if (Value & 0x4000) prefix += L"Ctrl+";
    if (Value & 0x8000) prefix += L"Alt+";
    return prefix + name;
}

// ----------------------------------------------------- deferred dispatch

namespace {

constexpr UINT kDeferredMessage = WM_USER + 256;

// The per-thread hidden window and its target list. A slot holding the dead
// mark (the list object's own address) is neither free nor a target.
struct TDeferredState {
    HWND Wnd = nullptr;
    std::vector<const void*> Slots;
    // Per slot: the target is a viewer (else an item).
    std::vector<bool> Viewers;
    int Instances = 0;

    const void* DeadMark() const { return &Slots; }
    ~TDeferredState() { Free(); }
    void Free()
    {
        if (Wnd) ::DestroyWindow(Wnd);
        Wnd = nullptr;
        Slots.clear();
        Viewers.clear();
    }
};

thread_local TDeferredState tDeferred;

LRESULT CALLBACK DeferredWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    if (Msg != kDeferredMessage) return ::DefWindowProcW(Wnd, Msg, WParam, LParam);
    TDeferredState& s = tDeferred;
    const void* target = nullptr;
    bool viewer = false;
    const auto slot = static_cast<std::size_t>(LParam);
    if (LParam >= 0 && slot < s.Slots.size()) {
        target = s.Slots[slot];
        viewer = s.Viewers[slot];
        s.Slots[slot] = nullptr;
        if (target == s.DeadMark()) target = nullptr;
    }
    while (!s.Slots.empty() && !s.Slots.back()) {
        s.Slots.pop_back();
        s.Viewers.pop_back();
    }
    if (target) {
        try {
            if (viewer) static_cast<TMbItemViewer*>(const_cast<void*>(target))->AccFocusEvent(WParam);
            else static_cast<TMbCustomItem*>(const_cast<void*>(target))->PerformClick();
        } catch (...) {
            if (classlib::Application) classlib::Application->HandleException(nullptr);
        }
    }
    return 0;
}

HWND DeferredWindow()
{
    TDeferredState& s = tDeferred;
    if (s.Wnd) return s.Wnd;
    static const wchar_t* const kClass = L"VelmoMbDeferredDispatch";
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &DeferredWndProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) classlib::RaiseLastOSError();
    s.Wnd = ::CreateWindowExW(0, kClass, L"", WS_POPUP, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    if (!s.Wnd) classlib::RaiseLastOSError();
    return s.Wnd;
}

}  // namespace

namespace {

void PostDeferredTarget(const void* Target, bool Viewer, WPARAM WParam)
{
    HWND wnd = DeferredWindow();
    TDeferredState& s = tDeferred;
    auto free = std::find(s.Slots.begin(), s.Slots.end(), nullptr);
    const auto slot = static_cast<std::size_t>(free - s.Slots.begin());
    if (free == s.Slots.end()) {
        s.Slots.push_back(Target);
        s.Viewers.push_back(Viewer);
    } else {
        *free = Target;
        s.Viewers[slot] = Viewer;
    }
    ::PostMessageW(wnd, kDeferredMessage, WParam, static_cast<LPARAM>(slot));
}

}  // namespace

void PostDeferred(TMbCustomItem* Target, WPARAM WParam) { PostDeferredTarget(Target, false, WParam); }

void PostDeferred(TMbItemViewer* Target, WPARAM WParam) { PostDeferredTarget(Target, true, WParam); }

void CancelDeferred(const void* Target)
{
    TDeferredState& s = tDeferred;
    if (!Target) return;
    for (const void*& slot : s.Slots)
        if (slot == Target) slot = s.DeadMark();
}

void CountInstance() { ++tDeferred.Instances; }

void UncountInstance()
{
    TDeferredState& s = tDeferred;
    if (--s.Instances <= 0) {
        s.Instances = 0;
        s.Free();
    }
}

// ------------------------------------------------------------------ items

void FlatSelectionColors(classlib::TColor Caption, classlib::TColor& SelBkgr, classlib::TColor& Outline)
{
    const auto c = static_cast<uint32_t>(Caption);
    const uint32_t r = c & 255, g = (c >> 8) & 255, b = (c >> 16) & 255;
    SelBkgr = 0xDDDDDD;
    Outline = 0x666666;
    if (b > g && b > r) {
        SelBkgr = 0xEFD3C6;
        Outline = 0x800000;
    }
    if (g > r && g > b) {
        SelBkgr = 0xCCFFCC;
        Outline = 0x008800;
    }
    if (r > g && r > b) {
        SelBkgr = 0xAEAEFF;
        Outline = 0x000088;
    }
}

TMbCustomItem::TMbCustomItem(classlib::TComponent* AOwner) : classlib::TComponent(AOwner)
{
    FlatSelectionColors(static_cast<classlib::TColor>(::GetSysColor(COLOR_ACTIVECAPTION)), xpItemSelBkgrCol_,
                        xpItemOutlineCol_);
    CountInstance();
}

TMbCustomItem::~TMbCustomItem()
{
    Destroying();
    CancelDeferred(this);
    while (!items_.empty()) delete items_.back();  // each leaves the list
    if (parentItem_) parentItem_->Remove(this);
    actionLink_.reset();
    listeners_.clear();
    SetImages(nullptr);
    SetSubMenuImages(nullptr);
    if (linkSubitems_) {
        auto& from = linkSubitems_->linkedFrom_;
        from.erase(std::remove(from.begin(), from.end(), this), from.end());
        linkSubitems_ = nullptr;
    }
    // Items showing this one's sub-items in their place forget it.
    const std::vector<TMbCustomItem*> linked = std::move(linkedFrom_);
    for (TMbCustomItem* i : linked) {
        i->linkSubitems_ = nullptr;
        i->NotifyListeners(icLinkChanged, -1, nullptr);
    }
    UncountInstance();
}

void TMbCustomItem::SetCaption(const std::wstring& Value)
{
    if (caption_ == Value) return;
    caption_ = Value;
    ItemChanged(true);
}

void TMbCustomItem::SetEnabled(bool Value)
{
    if (enabled_ == Value) return;
    enabled_ = Value;
    EnabledStateChanged();
}

void TMbCustomItem::SetVisible(bool Value)
{
    if (visible_ == Value) return;
    visible_ = Value;
    ItemChanged(true);
}

void TMbCustomItem::SetChecked(bool Value)
{
    if (checked_ == Value) return;
    checked_ = Value;
    ItemChanged(false);
    if (Value) ApplyRadioGroup();
}

void TMbCustomItem::SetRadioItem(bool Value)
{
    if (radioItem_ == Value) return;
    radioItem_ = Value;
    ItemChanged(false);
}

void TMbCustomItem::SetGroupIndex(int Value)
{
    if (groupIndex_ == Value) return;
    groupIndex_ = Value;
    if (checked_) ApplyRadioGroup();
}

void TMbCustomItem::ApplyRadioGroup()
{
    if (groupIndex_ == 0 || !parentItem_) return;
    // Copy: an unchecked sibling's handlers may change the list.
    const std::vector<TMbCustomItem*> siblings = parentItem_->items_;
    for (TMbCustomItem* i : siblings)
        if (i != this && i->groupIndex_ == groupIndex_) i->SetChecked(false);
}

void TMbCustomItem::SetDisplayMode(TMbItemDisplayMode Value)
{
    if (displayMode_ == Value) return;
    displayMode_ = Value;
    ItemChanged(true);
}

void TMbCustomItem::SetImageIndex(int Value)
{
    if (imageIndex_ == Value) return;
    const bool resize = (imageIndex_ == -1) != (Value == -1);
    imageIndex_ = Value;
    ItemChanged(resize);
}

bool TMbCustomItem::SwapImages(classlib::TCustomImageList*& Field, classlib::TCustomImageList* Value,
                               std::unique_ptr<TMbImageChangeLink>& Link)
{
    int oldWidth = -1, oldHeight = -1;
    if (Field) {
        // A list deleted with its owner's tree sends no notification, but
        // it clears its links' sender: then it must not be touched.
        if (Link && Link->GetSender() == Field) {
            oldWidth = Field->GetWidth();
            oldHeight = Field->GetHeight();
            Link->SetSender(nullptr);
        }
        if (!Value) Link.reset();
    }
    const bool hadList = Field != nullptr;
    Field = Value;
    if (!Value) return hadList;
    const bool resized = oldWidth != Value->GetWidth() || oldHeight != Value->GetHeight();
    if (!Link) {
        Link = std::make_unique<TMbImageChangeLink>();
        Link->LastWidth = Value->GetWidth();
        Link->LastHeight = Value->GetHeight();
        Link->OnChange = classlib::TNotifyEvent(this, &TMbCustomItem::ImageListChange);
    }
    Link->SetSender(Value);
    Value->FreeNotification(this);
    return resized;
}

void TMbCustomItem::SetImages(classlib::TCustomImageList* Value)
{
    if (images_ == Value) return;
    ItemChanged(SwapImages(images_, Value, imagesLink_));
}

void TMbCustomItem::SetSubMenuImages(classlib::TCustomImageList* Value)
{
    if (subMenuImages_ == Value) return;
    SwapImages(subMenuImages_, Value, subMenuImagesLink_);
    NotifyListeners(icSubMenuImages, -1, nullptr);
}

void TMbCustomItem::ImageListChange(classlib::TObject* Sender)
{
    if (Sender == subMenuImages_ && subMenuImages_) {
        subMenuImagesLink_->LastWidth = subMenuImages_->GetWidth();
        subMenuImagesLink_->LastHeight = subMenuImages_->GetHeight();
        NotifyListeners(icSubMenuImages, -1, nullptr);
    } else if (Sender == images_ && images_) {
        const bool resized =
            imagesLink_->LastWidth != images_->GetWidth() || imagesLink_->LastHeight != images_->GetHeight();
        imagesLink_->LastWidth = images_->GetWidth();
        imagesLink_->LastHeight = images_->GetHeight();
        ItemChanged(resized);
    }
}

void TMbCustomItem::SetOptions(TMbItemOptions Value)
{
    Value = NormalizeOptions(Value);
    if (options_ == Value) return;
    options_ = Value;
    RefreshEffectiveOptions();
}

void TMbCustomItem::SetMaskOptions(TMbItemOptions Value)
{
    maskOptions_ = Value;
    RefreshEffectiveOptions();
}

void TMbCustomItem::SetInheritOptions(bool Value)
{
    inheritOptions_ = Value;
    RefreshEffectiveOptions();
}

void TMbCustomItem::RefreshEffectiveOptions()
{
    const TMbItemOptions inherited = (inheritOptions_ && parentItem_)
                                         ? static_cast<TMbItemOptions>(parentItem_->effectiveOptions_ & ~tboDefault)
                                         : 0;
    const TMbItemOptions value =
        NormalizeOptions(static_cast<TMbItemOptions>((inherited & ~maskOptions_) | options_));
    if (value == effectiveOptions_) return;
    const TMbItemOptions old = effectiveOptions_;
    effectiveOptions_ = value;
    if ((old ^ value) & kSizeOptions) ItemChanged(true);
    const std::vector<TMbCustomItem*> children = items_;
    for (TMbCustomItem* i : children)
        if (i->inheritOptions_) i->RefreshEffectiveOptions();
}

void TMbCustomItem::SetXPItemSelBkgrCol(classlib::TColor Value)
{
    if (xpItemSelBkgrCol_ == Value) return;
    xpItemSelBkgrCol_ = Value;
    ItemChanged(false);
}

void TMbCustomItem::SetXPItemOutlineCol(classlib::TColor Value)
{
    if (xpItemOutlineCol_ == Value) return;
    xpItemOutlineCol_ = Value;
    ItemChanged(false);
}

TMbCustomItem* TMbCustomItem::GetItem(int Index) const
{
    if (Index < 0 || Index >= GetCount()) throw EMbItemError(L"Toolbar item index out of range");
    return items_[static_cast<std::size_t>(Index)];
}

void TMbCustomItem::Insert(int Index, TMbCustomItem* Item)
{
    if (!Item) throw EMbItemError(L"Toolbar item index out of range");
    if (Item->parentItem_) throw EMbItemError(L"Toolbar item already inserted");
    if (Index < 0 || Index > GetCount()) throw EMbItemError(L"Toolbar item index out of range");
    // An item cannot hold itself or one of its ancestors.
    for (const TMbCustomItem* i = this; i; i = i->parentItem_)
        if (i == Item) throw EMbItemError(L"Toolbar item already inserted");
    items_.insert(items_.begin() + Index, Item);
    Item->parentItem_ = this;
    NotifyListeners(icBeginUpdate, -1, nullptr);
    try {
        NotifyListeners(icInserted, Index, Item);
        Item->RefreshEffectiveOptions();
    } catch (...) {
        NotifyListeners(icEndUpdate, -1, nullptr);
        throw;
    }
    NotifyListeners(icEndUpdate, -1, nullptr);
}

void TMbCustomItem::Delete(int Index)
{
    TMbCustomItem* item = GetItem(Index);
    NotifyListeners(icDeleting, Index, item);
    item->parentItem_ = nullptr;
    // A listener may have changed the list: take out the item itself.
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it != items_.end()) items_.erase(it);
}

void TMbCustomItem::Remove(TMbCustomItem* Item)
{
    const int i = IndexOf(Item);
    if (i >= 0) Delete(i);
}

void TMbCustomItem::Move(int CurIndex, int NewIndex)
{
    if (CurIndex == NewIndex) return;
    if (NewIndex < 0 || NewIndex >= GetCount()) throw EMbItemError(L"Toolbar item index out of range");
    TMbCustomItem* item = GetItem(CurIndex);
    NotifyListeners(icBeginUpdate, -1, nullptr);
    try {
        Delete(CurIndex);
        Insert(NewIndex, item);
    } catch (...) {
        NotifyListeners(icEndUpdate, -1, nullptr);
        throw;
    }
    NotifyListeners(icEndUpdate, -1, nullptr);
}

int TMbCustomItem::IndexOf(const TMbCustomItem* Item) const
{
    auto it = std::find(items_.begin(), items_.end(), Item);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TMbCustomItem::SetLinkSubitems(TMbCustomItem* Value)
{
    if (Value == this) Value = nullptr;
    if (linkSubitems_ == Value) return;
    if (linkSubitems_) {
        auto& from = linkSubitems_->linkedFrom_;
        from.erase(std::remove(from.begin(), from.end(), this), from.end());
    }
    linkSubitems_ = Value;
    if (Value) {
        auto& from = Value->linkedFrom_;
        if (std::find(from.begin(), from.end(), this) == from.end()) from.push_back(this);
    }
    NotifyListeners(icLinkChanged, -1, nullptr);
}

void TMbCustomItem::RegisterListener(const TMbItemChangedProc& Proc)
{
    for (TListener& l : listeners_)
        if (l.Proc == Proc) {
            ++l.Count;
            return;
        }
    listeners_.push_back(TListener{Proc, 1});
}

void TMbCustomItem::UnregisterListener(const TMbItemChangedProc& Proc)
{
    for (auto it = listeners_.begin(); it != listeners_.end(); ++it)
        if (it->Proc == Proc) {
            if (--it->Count == 0) listeners_.erase(it);
            return;
        }
}

void TMbCustomItem::NotifyListeners(TMbItemChange Change, int Index, TMbCustomItem* Item)
{
    std::size_t i = 0;
    while (i < listeners_.size()) {
        const TMbItemChangedProc proc = listeners_[i].Proc;
        proc(this, Change, Index, Item);
        if (i >= listeners_.size()) break;
        // A listener that unregistered itself leaves its index to the next.
        if (listeners_[i].Proc == proc) ++i;
    }
}

void TMbCustomItem::ItemChanged(bool NeedResize)
{
    if (parentItem_) parentItem_->NotifyListeners(NeedResize ? icLayout : icInvalidate, -1, this);
}

void TMbCustomItem::SetName(const std::wstring& Value)
{
    if (Value == GetName()) return;
    classlib::TComponent::SetName(Value);
    if (parentItem_) parentItem_->NotifyListeners(icNameChanged, -1, this);
}

void TMbCustomItem::GetChildren(const std::function<void(classlib::TComponent*)>& Proc) const
{
    const std::vector<TMbCustomItem*> children = items_;
    for (TMbCustomItem* i : children) Proc(i);
}

void TMbCustomItem::SetChildOrder(classlib::TComponent* Child, int Order)
{
    const int i = IndexOf(dynamic_cast<TMbCustomItem*>(Child));
    if (i >= 0 && Order >= 0 && Order < GetCount()) Move(i, Order);
}

classlib::TComponent* TMbCustomItem::GetParentComponent() const
{
    if (!parentItem_) return nullptr;
    return parentItem_->HostComponent ? parentItem_->HostComponent : parentItem_;
}

void TMbCustomItem::SetParentComponent(classlib::TComponent* Value)
{
    if (parentItem_) parentItem_->Remove(this);
    if (!Value) return;
    TMbCustomItem* container = dynamic_cast<TMbCustomItem*>(Value);
    if (!container)
        if (auto* host = dynamic_cast<IMbItemHost*>(Value)) container = host->GetRootItem();
    if (!container)
        throw EMbItemError(L"Toolbar item cannot be inserted into container of type " + Value->ClassName());
    container->Add(this);
}

void TMbCustomItem::PerformClick()
{
    if (!enabled_) return;
    if (AutoCheck && (!actionLink_ || !actionLink_->AutoCheckFromAction())) SetChecked(!checked_);
    classlib::TBasicAction* action = GetAction();
    const bool designing = (GetComponentState() & classlib::csDesigning) != 0;
    if (OnClick && action && !(OnClick == action->GetOnExecute())) OnClick(this);
    else if (!designing && actionLink_) actionLink_->Execute(this);
    else if (OnClick) OnClick(this);
}

// ---------------------------------------------------------------- actions

classlib::TBasicAction* TMbCustomItem::GetAction() const
{
    return actionLink_ ? actionLink_->GetAction() : nullptr;
}

void TMbCustomItem::SetAction(classlib::TBasicAction* Value)
{
    if (!Value) {
        actionLink_.reset();
        linkedAction_ = nullptr;
        return;
    }
    if (!actionLink_) actionLink_ = std::make_unique<TMbCustomItemActionLink>(this);
    linkedAction_ = Value;
    actionLink_->SetAction(Value);
    actionLink_->OnChange = classlib::TNotifyEvent(this, &TMbCustomItem::DoActionChange);
    const bool loading = ((Value->GetComponentState() | GetComponentState()) & classlib::csLoading) != 0;
    ActionChange(Value, loading);
    Value->FreeNotification(this);
}

void TMbCustomItem::DoActionChange(classlib::TObject* Sender)
{
    if (Sender && Sender == GetAction()) ActionChange(Sender, false);
}

void TMbCustomItem::ActionChange(classlib::TObject* Sender, bool CheckDefaults)
{
    auto* a = dynamic_cast<classlib::TCustomAction*>(Sender);
    if (!a) return;
    if (!CheckDefaults || !AutoCheck) AutoCheck = a->GetAutoCheck();
    if (!CheckDefaults || caption_.empty()) SetCaption(a->GetCaption());
    if (!CheckDefaults || !checked_) SetChecked(a->GetChecked());
    if (!CheckDefaults || enabled_) SetEnabled(a->GetEnabled());
    if (!CheckDefaults || HelpContext == 0) HelpContext = a->GetHelpContext();
    if (!CheckDefaults || Hint.empty()) Hint = a->GetHint();
    if (!CheckDefaults || imageIndex_ == -1) SetImageIndex(a->GetImageIndex());
    if (!CheckDefaults || shortCut_ == 0) shortCut_ = a->GetShortCut();
    if (!CheckDefaults || visible_) SetVisible(a->GetVisible());
    if (!CheckDefaults || !OnClick) OnClick = a->GetOnExecute();
}

void TMbCustomItem::Loaded()
{
    classlib::TComponent::Loaded();
    if (classlib::TBasicAction* action = GetAction()) ActionChange(action, true);
}

void TMbCustomItem::UpdateFromAction()
{
    if (actionLink_) actionLink_->Update();
}

namespace {

classlib::TCustomAction* CustomActionOf(TMbCustomItemActionLink* Link)
{
    return dynamic_cast<classlib::TCustomAction*>(Link->GetAction());
}

}  // namespace

bool TMbCustomItemActionLink::IsCaptionLinked()
{
    return TActionLink::IsCaptionLinked() && client_->GetCaption() == CustomActionOf(this)->GetCaption();
}

bool TMbCustomItemActionLink::IsCheckedLinked()
{
    return TActionLink::IsCheckedLinked() && client_->GetChecked() == CustomActionOf(this)->GetChecked();
}

bool TMbCustomItemActionLink::IsEnabledLinked()
{
    return TActionLink::IsEnabledLinked() && client_->GetEnabled() == CustomActionOf(this)->GetEnabled();
}

bool TMbCustomItemActionLink::IsHelpContextLinked()
{
    return TActionLink::IsHelpContextLinked() && client_->HelpContext == CustomActionOf(this)->GetHelpContext();
}

bool TMbCustomItemActionLink::IsHintLinked()
{
    return TActionLink::IsHintLinked() && client_->Hint == CustomActionOf(this)->GetHint();
}

bool TMbCustomItemActionLink::IsImageIndexLinked()
{
    return TActionLink::IsImageIndexLinked() && client_->GetImageIndex() == CustomActionOf(this)->GetImageIndex();
}

bool TMbCustomItemActionLink::IsShortCutLinked()
{
    return TActionLink::IsShortCutLinked() && client_->GetShortCut() == CustomActionOf(this)->GetShortCut();
}

bool TMbCustomItemActionLink::IsVisibleLinked()
{
    return TActionLink::IsVisibleLinked() && client_->GetVisible() == CustomActionOf(this)->GetVisible();
}

bool TMbCustomItemActionLink::IsOnExecuteLinked()
{
    return TActionLink::IsOnExecuteLinked() && client_->OnClick == GetAction()->GetOnExecute();
}

bool TMbCustomItemActionLink::AutoCheckFromAction()
{
    classlib::TCustomAction* a = CustomActionOf(this);
    return a && a->GetAutoCheck() == client_->AutoCheck;
}

void TMbCustomItemActionLink::SetAutoCheck(bool Value)
{
    if (AutoCheckFromAction()) client_->AutoCheck = Value;
}

void TMbCustomItemActionLink::SetCaption(const std::wstring& Value)
{
    if (IsCaptionLinked()) client_->SetCaption(Value);
}

void TMbCustomItemActionLink::SetChecked(bool Value)
{
    if (IsCheckedLinked()) client_->SetChecked(Value);
}

void TMbCustomItemActionLink::SetEnabled(bool Value)
{
    if (IsEnabledLinked()) client_->SetEnabled(Value);
}

void TMbCustomItemActionLink::SetHelpContext(uint32_t Value)
{
    if (IsHelpContextLinked()) client_->HelpContext = Value;
}

void TMbCustomItemActionLink::SetHint(const std::wstring& Value)
{
    if (IsHintLinked()) client_->Hint = Value;
}

void TMbCustomItemActionLink::SetImageIndex(int Value)
{
    if (IsImageIndexLinked()) client_->SetImageIndex(Value);
}

void TMbCustomItemActionLink::SetShortCut(classlib::TActionShortCut Value)
{
    if (IsShortCutLinked()) client_->SetShortCut(Value);
}

void TMbCustomItemActionLink::SetVisible(bool Value)
{
    if (IsVisibleLinked()) client_->SetVisible(Value);
}

void TMbCustomItemActionLink::SetOnExecute(const classlib::TNotifyEvent& Value)
{
    if (IsOnExecuteLinked()) client_->OnClick = Value;
}

void TMbCustomItem::NotifyPopup(TMbCustomItem* Sender, bool FromLink)
{
    OnPopup(Sender, FromLink);
    if (!(kinds_ & ikCombo)) PerformClick();
}

std::wstring TMbCustomItem::ShortCutText() const
{
    const auto tab = caption_.find(L'\t');
    if (tab != std::wstring::npos) return caption_.substr(tab + 1);
    return shortCut_ ? ShortCutToText(shortCut_) : std::wstring();
}

std::wstring TMbCustomItem::MenuCaption() const { return caption_.substr(0, caption_.find(L'\t')); }

namespace {

TMbCustomItem* FindShortCutBelow(TMbCustomItem* Node, TShortCut Value, int LinkHops)
{
    if (TMbCustomItem* link = Node->GetLinkSubitems()) {
        if (LinkHops >= 25) return nullptr;
        return FindShortCutBelow(link, Value, LinkHops + 1);
    }
    for (int i = 0; i < Node->GetCount(); ++i) {
        TMbCustomItem* sub = Node->GetItem(i);
        if (sub->GetShortCut() == Value) return sub;
        if (TMbCustomItem* found = FindShortCutBelow(sub, Value, LinkHops)) return found;
    }
    return nullptr;
}

}  // namespace

TMbCustomItem* TMbCustomItem::FindShortCutItem(TShortCut Value, TMbCustomItem*& PathChild)
{
    PathChild = nullptr;
    TMbCustomItem* node = LinkedItem();
    for (int hops = 0; node->linkSubitems_; ++hops) {
        if (hops >= 25) return nullptr;
        node = node->linkSubitems_;
    }
    for (TMbCustomItem* sub : node->items_) {
        if (sub->shortCut_ == Value) return sub;
        if (TMbCustomItem* found = FindShortCutBelow(sub, Value, 0)) {
            PathChild = sub;
            return found;
        }
    }
    return nullptr;
}

bool TMbCustomItem::ExecuteShortCut(const MSG& Message)
{
    classlib::TShiftState shift = 0;
    if (::GetKeyState(VK_SHIFT) < 0) shift |= classlib::ssShift;
    if (::GetKeyState(VK_CONTROL) < 0) shift |= classlib::ssCtrl;
    if (Message.lParam & 0x20000000) shift |= classlib::ssAlt;
    const TShortCut key = ShortCut(static_cast<WORD>(Message.wParam), shift);
    if (key == 0) return false;
    auto report = [] {
        if (classlib::Application) classlib::Application->HandleException(nullptr);
    };
    TMbCustomItem* pathChild = nullptr;
    // Each round starts from the top: popup handlers may rebuild the tree.
    for (int rounds = 0; rounds < 64 && FindShortCutItem(key, pathChild); ++rounds) {
        TMbCustomItem* current = this;
        for (;;) {
            if (!current->enabled_) return false;
            TMbCustomItem* linked = current->LinkedItem();
            if (!(GetComponentState() & classlib::csDesigning)) {
                const std::vector<TMbCustomItem*> subs = linked->items_;
                for (TMbCustomItem* sub : subs) sub->UpdateFromAction();
            }
            try {
                if (linked != current) linked->NotifyPopup(current, true);
                current->NotifyPopup(current, false);
            } catch (...) {
                report();
            }
            TMbCustomItem* found = current->FindShortCutItem(key, pathChild);
            if (!found) break;
            if (pathChild) {
                current = pathChild;
                continue;
            }
            if (!found->enabled_) return false;
            try {
                found->PerformClick();
            } catch (...) {
                report();
            }
            return true;
        }
    }
    return false;
}

void TMbCustomItem::Notification(classlib::TComponent* AComponent, classlib::TOperation Operation)
{
    classlib::TComponent::Notification(AComponent, Operation);
    if (Operation != classlib::opRemove) return;
    linkedFrom_.erase(std::remove(linkedFrom_.begin(), linkedFrom_.end(), AComponent), linkedFrom_.end());
    // A deleted action has already let its links go.
    if (linkedAction_ && AComponent == linkedAction_) {
        actionLink_.reset();
        linkedAction_ = nullptr;
    }
    if (AComponent == images_) SetImages(nullptr);
    if (AComponent == subMenuImages_) SetSubMenuImages(nullptr);
    if (AComponent == linkSubitems_) SetLinkSubitems(nullptr);
}

void TMbSubmenuItem::SetDropdownCombo(bool Value)
{
    if (GetDropdownCombo() == Value) return;
    kinds_ = static_cast<TMbItemKinds>(Value ? (kinds_ | ikCombo) : (kinds_ & ~ikCombo));
    ItemChanged(true);
}

void TMbSeparatorItem::SetBlank(bool Value)
{
    if (blank_ == Value) return;
    blank_ = Value;
    ItemChanged(false);
}

TMbControlItem::~TMbControlItem()
{
    classlib::TControl* control = control_;
    control_ = nullptr;
    // While the common owner deletes its tree, siblings hear nothing of each
    // other: a control of the same owner may be gone already, and is the
    // owner's to delete in any case.
    const bool ownerDeletes = (GetComponentState() & classlib::csDestroying) && controlSharesOwner_;
    if (control && !KeepControl && !ownerDeletes) delete control;
}

void TMbControlItem::SetControl(classlib::TControl* Value)
{
    if (control_ == Value) return;
    control_ = Value;
    controlSharesOwner_ = Value && Value->GetOwner() == GetOwner();
    if (control_) control_->FreeNotification(this);
    ItemChanged(true);
}

void TMbControlItem::Notification(classlib::TComponent* AComponent, classlib::TOperation Operation)
{
    TMbCustomItem::Notification(AComponent, Operation);
    if (Operation == classlib::opRemove && AComponent == control_) control_ = nullptr;
}

// ---------------------------------------------------------------- viewers

namespace {

void FillSolid(classlib::TCanvas* Canvas, const RECT& R, classlib::TColor Color)
{
    Canvas->GetBrush()->SetColor(Color);
    Canvas->FillRect(R);
}

void FrameSolid(classlib::TCanvas* Canvas, const RECT& R, classlib::TColor Color)
{
    Canvas->GetBrush()->SetColor(Color);
    Canvas->FrameRect(R);
}

void Edge(classlib::TCanvas* Canvas, RECT R, UINT EdgeKind, UINT Flags)
{
    ::DrawEdge(Canvas->GetHandle(), &R, EdgeKind, Flags);
}

UINT EdgeFor(bool Sunken) { return Sunken ? BDR_SUNKENOUTER : BDR_RAISEDINNER; }

}  // namespace

classlib::TColor FlatStripColor(classlib::TColor LeftCol, classlib::TColor BkgrCol)
{
    // Only a system colour is shaded: a colour chosen for the item is kept.
    if (!(static_cast<uint32_t>(LeftCol) & 0x80000000u)) return LeftCol;
    const auto left = static_cast<uint32_t>(classlib::ColorToRGB(LeftCol));
    const auto back = static_cast<uint32_t>(classlib::ColorToRGB(BkgrCol));
    int diff = 0;
    for (int shift = 0; shift < 24; shift += 8)
        diff = std::max(diff, std::abs(static_cast<int>((left >> shift) & 255) - static_cast<int>((back >> shift) & 255)));
    if (diff >= 24) return LeftCol;
    // Too close to the background to be seen: a third of the way to the
    // button shadow colour.
    const auto shadow = static_cast<uint32_t>(classlib::ColorToRGB(classlib::clBtnShadow));
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t a = (left >> shift) & 255, b = (shadow >> shift) & 255;
        out |= ((2 * a + b) / 3) << shift;
    }
    return static_cast<classlib::TColor>(out);
}

namespace {

// The dither of clBtnFace and clBtnHighlight that marks checked entries.
void FillCheckedPattern(classlib::TCanvas* Canvas, const RECT& R)
{
    const COLORREF face = static_cast<COLORREF>(classlib::ColorToRGB(classlib::clBtnFace));
    const COLORREF light = static_cast<COLORREF>(classlib::ColorToRGB(classlib::clBtnHighlight));
    HDC dc = Canvas->GetHandle();
    for (int y = R.top; y < R.bottom; ++y)
        for (int x = R.left; x < R.right; ++x) ::SetPixelV(dc, x, y, ((x + y) & 1) ? light : face);
}

SIZE TextSize(classlib::TCanvas* Canvas, const std::wstring& Text, TEXTMETRICW* Metrics = nullptr)
{
    HDC dc = Canvas->GetHandle();
    HGDIOBJ old = ::SelectObject(dc, Canvas->GetFont()->GetHandle());
    SIZE size{};
    ::GetTextExtentPoint32W(dc, Text.c_str(), static_cast<int>(Text.size()), &size);
    if (Metrics) ::GetTextMetricsW(dc, Metrics);
    ::SelectObject(dc, old);
    return size;
}

void Triangle(classlib::TCanvas* Canvas, const RECT& A, bool Left, bool Shadow, classlib::TColor Color)
{
    const int cx = (A.left + A.right) / 2, cy = (A.top + A.bottom) / 2;
    auto draw = [&](int d, classlib::TColor c) {
        std::vector<POINT> pts = Left ? std::vector<POINT>{{cx - 1 + d, cy + 2 + d}, {cx - 1 + d, cy - 2 + d}, {cx - 3 + d, cy + d}}
                                      : std::vector<POINT>{{cx - 2 + d, cy - 1 + d}, {cx + 2 + d, cy - 1 + d}, {cx + d, cy + 1 + d}};
        Canvas->GetPen()->SetColor(c);
        Canvas->GetBrush()->SetColor(c);
        Canvas->Polygon(pts);
    };
    if (Shadow) {
        draw(1, classlib::clBtnHighlight);
        draw(0, classlib::clBtnShadow);
    } else {
        draw(0, Color);
    }
}

// The system's menu arrow, its black pixels filled with Color at (X, Y).
void MenuArrow(classlib::TCanvas* Canvas, int X, int Y, classlib::TColor Color)
{
    const int w = ::GetSystemMetrics(SM_CXMENUCHECK), h = ::GetSystemMetrics(SM_CYMENUCHECK);
    HDC dc = Canvas->GetHandle();
    classlib::TOwnedDC mem(::CreateCompatibleDC(dc));
    classlib::TOwnedBitmap mono(::CreateBitmap(w, h, 1, 1, nullptr));
    HGDIOBJ oldBmp = ::SelectObject(mem.Get(), mono.Get());
    RECT r{0, 0, w, h};
    ::DrawFrameControl(mem.Get(), &r, DFC_MENU, DFCS_MENUARROW);
    classlib::TOwnedBrush brush(::CreateSolidBrush(static_cast<COLORREF>(classlib::ColorToRGB(Color))));
    HGDIOBJ oldBrush = ::SelectObject(dc, brush.Get());
    const COLORREF text = ::SetTextColor(dc, RGB(255, 255, 255)), back = ::SetBkColor(dc, RGB(0, 0, 0));
    ::BitBlt(dc, X, Y, w, h, mem.Get(), 0, 0, 0x00E20746);
    ::SetTextColor(dc, text);
    ::SetBkColor(dc, back);
    ::SelectObject(dc, oldBrush);
    ::SelectObject(mem.Get(), oldBmp);
}

}  // namespace

int FlatStripWidth()
{
    HDC screen = ::GetDC(nullptr);
    const int ppi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return ppi == 120 ? 22 : 20;
}

bool AccelsHidden(const TMbView* View)
{
    return !KeyboardCuesOn() && View && (View->ViewStyle & vsHideAccels) && !(View->RunFlags & rfAccelsShown);
}

TMbItemViewer* TMbCustomItem::CreateViewer(TMbView* View, int NestLevel)
{
    return new TMbItemViewer(View, this, NestLevel);
}

TMbItemViewer* TMbSeparatorItem::CreateViewer(TMbView* View, int NestLevel)
{
    return new TMbSeparatorItemViewer(View, this, NestLevel);
}

TMbItemViewer::TMbItemViewer(TMbView* AView, TMbCustomItem* AItem, int ANestLevel)
    : NestLevel(ANestLevel), EntryItem(AItem), OwnerView(AView)
{
    CountInstance();
}

TMbItemViewer::~TMbItemViewer()
{
    if (AccObject) MbAccOwnerGone(AccObject);
    CancelDeferred(this);
    UncountInstance();
}

bool TMbItemViewer::HasToolbarStyle() const
{
    return (OwnerView && OwnerView->IsToolbarView) || (EntryItem->GetEffectiveOptions() & tboToolbarStyle);
}

bool TMbItemViewer::HasToolbarSize() const
{
    return (OwnerView && OwnerView->IsToolbarView) || (EntryItem->GetEffectiveOptions() & tboToolbarSize);
}

bool TMbItemViewer::TextRotated() const
{
    return OwnerView && OwnerView->Axis == laVertical &&
           !(EntryItem->GetEffectiveOptions() & (tboNoRotation | tboImageAboveCaption));
}

classlib::TCustomImageList* TMbItemViewer::ImageList() const
{
    if (EntryItem->GetImages()) return EntryItem->GetImages();
    for (const TMbView* v = OwnerView; v; v = v->UpperView) {
        if (v->ShownItem && v->ShownItem->GetSubMenuImages()) return v->ShownItem->GetSubMenuImages();
        if (v->SourceItem && v->SourceItem->GetSubMenuImages()) return v->SourceItem->GetSubMenuImages();
    }
    return nullptr;
}

bool TMbItemViewer::ShowsImage() const
{
    const TMbItemDisplayMode mode = EntryItem->GetDisplayMode();
    return EntryItem->GetImageIndex() >= 0 &&
           (mode == nbdmDefault || mode == nbdmImageAndText || (HasToolbarStyle() && mode == nbdmTextOnlyInMenus));
}

bool TMbItemViewer::ShowsCaption() const
{
    const TMbItemDisplayMode mode = EntryItem->GetDisplayMode();
    if (!CaptionText().empty() && (!HasToolbarSize() || EntryItem->GetImageIndex() < 0 || mode == nbdmTextOnly ||
                                   mode == nbdmImageAndText))
        return true;
    return (EntryItem->GetEffectiveOptions() & tboImageAboveCaption) != 0;
}

std::wstring TMbItemViewer::HintText() const
{
    const std::wstring& hint = EntryItem->Hint;
    std::wstring text = hint.substr(0, hint.find(L'|'));
    const TMbItemKinds kinds = EntryItem->GetKinds();
    if (text.empty() && !(EntryItem->GetEffectiveOptions() & tboNoAutoHint) &&
        (!(kinds & ikSubmenu) || (kinds & ikCombo) || !ShowsCaption())) {
        text = RemoveAccelMarks(TrimEllipsisOrColon(CaptionText()));
    }
    if (auto* action = dynamic_cast<classlib::TCustomAction*>(EntryItem->GetAction()))
        if (!action->DoHint(text)) text.clear();
    if (!text.empty() && classlib::Application && classlib::Application->HintShortCuts && EntryItem->GetShortCut())
        text += L" (" + ShortCutToText(EntryItem->GetShortCut()) + L")";
    return text;
}

bool TMbItemViewer::InButtonPart(int X, int Y) const
{
    (void)Y;
    const TMbItemKinds kinds = EntryItem->GetKinds();
    if (kinds & ikCombo)
        return X < (EntryRect.right - EntryRect.left) -
                       (HasToolbarStyle() ? 11 : ::GetSystemMetrics(SM_CXMENUCHECK));
    return !(kinds & ikSubmenu);
}

bool TMbItemViewer::SameWidthWanted() const
{
    const TMbItemOptions both = tboImageAboveCaption | tboSameWidth;
    return (EntryItem->GetEffectiveOptions() & both) == both && HasToolbarSize();
}

int TMbItemViewer::AccRole() const
{
    if (dynamic_cast<TMbControlItem*>(EntryItem)) return 10;
    if (EntryItem->GetKinds() & ikSeparator) return 21;
    if (OwnerView && (OwnerView->IsPopupView || (OwnerView->ViewStyle & vsMenuBar))) return 12;
    return (EntryItem->GetKinds() & ikSubmenu) ? 57 : 43;
}

void TMbItemViewer::EnterSelection() { EntryItem->OnSelect(EntryItem, this, true); }

void TMbItemViewer::LeaveSelection() { EntryItem->OnSelect(EntryItem, this, false); }

void TMbItemViewer::MeasureSize(classlib::TCanvas* Canvas, int& AWidth, int& AHeight)
{
    const bool toolbar = HasToolbarStyle();
    TEXTMETRICW tm{};
    const SIZE caption = TextSize(Canvas, RemoveAccelMarks(CaptionText()), &tm);
    classlib::TCustomImageList* images = ImageList();
    const TMbItemOptions options = EntryItem->GetEffectiveOptions();
    const int pad = toolbar ? 6 : 0;
    if (!toolbar || ShowsCaption()) {
        if (TextRotated()) {
            AWidth += tm.tmHeight;
            AHeight += caption.cx + pad;
        } else {
            AHeight += tm.tmHeight;
            AWidth += caption.cx + pad;
        }
    }
    if (toolbar) {
        if (ShowsImage() && images) {
            if (TextRotated() || (options & tboImageAboveCaption)) {
                AHeight += images->GetHeight();
                AWidth = std::max(AWidth, images->GetWidth() + 7);
            } else {
                AWidth += images->GetWidth() + 1;
                AHeight = std::max(AHeight, images->GetHeight() + 6);
            }
        }
        if (EntryItem->GetKinds() & ikSubmenu) {
            if (EntryItem->GetKinds() & ikCombo) AWidth += 11;
            else if (options & tboDropdownArrow) (OwnerView && OwnerView->Axis == laVertical ? AHeight : AWidth) += 8;
        }
        return;
    }
    AHeight = tm.tmHeight + tm.tmExternalLeading + 4;
    int column = AHeight;
    if (images) {
        if (images->GetHeight() + 3 > AHeight) AHeight = images->GetHeight() + 3;
        column = ::MulDiv(images->GetWidth() + 3, AHeight, images->GetHeight() + 3);
    }
    AWidth += column + 6;
    const std::wstring shortcut = EntryItem->ShortCutText();
    if (!shortcut.empty()) AWidth += TextSize(Canvas, shortcut).cx + AHeight + 6;
    AWidth += AHeight;
}

void TMbItemViewer::DrawEntryText(classlib::TCanvas* Canvas, RECT Rect, const std::wstring& Caption,
                                  bool UseDisabledShadow, UINT Format)
{
    HDC dc = Canvas->GetHandle();
    HGDIOBJ old = ::SelectObject(dc, Canvas->GetFont()->GetHandle());
    const int mode = ::SetBkMode(dc, TRANSPARENT);
    const COLORREF previous =
        ::SetTextColor(dc, static_cast<COLORREF>(classlib::ColorToRGB(Canvas->GetFont()->GetColor())));
    const bool rotated = TextRotated();
    auto draw = [&](const RECT& R) {
        RECT r = R;
        if (rotated) DrawVerticalText(dc, Caption, r, Format);
        else ::DrawTextW(dc, Caption.c_str(), static_cast<int>(Caption.size()), &r, Format);
    };
    if (UseDisabledShadow) {
        RECT shifted = Rect;
        ::OffsetRect(&shifted, 1, 1);
        ::SetTextColor(dc, ::GetSysColor(COLOR_BTNHIGHLIGHT));
        draw(shifted);
        ::SetTextColor(dc, ::GetSysColor(COLOR_BTNSHADOW));
    }
    draw(Rect);
    ::SetTextColor(dc, previous);
    ::SetBkMode(dc, mode);
    ::SelectObject(dc, old);
}

void TMbItemViewer::Paint(classlib::TCanvas* Canvas, const RECT& ClientAreaRect, bool IsSelected, bool IsPushed,
                          bool UseDisabledShadow)
{
    TMbCustomItem* item = EntryItem;
    const TMbItemKinds kinds = item->GetKinds();
    const TMbItemOptions options = item->GetEffectiveOptions();
    const bool toolbar = HasToolbarStyle();
    const bool vertical = OwnerView && OwnerView->Axis == laVertical;
    const bool captured = OwnerView && OwnerView->MouseCaptured;
    const bool designing = (item->GetComponentState() & classlib::csDesigning) != 0;
    const int strip = FlatStripWidth();
    const bool showEnabled = item->GetEnabled() || (OwnerView && OwnerView->InCustomizeMode);
    classlib::TCustomImageList* images = ImageList();
    const int height = ClientAreaRect.bottom - ClientAreaRect.top;
    const int imageColumn =
        toolbar ? 0 : (images ? ::MulDiv(images->GetWidth() + 3, height, images->GetHeight() + 3) : height);
    const int checkW = ::GetSystemMetrics(SM_CXMENUCHECK), checkH = ::GetSystemMetrics(SM_CYMENUCHECK);
    const bool hasArrow = (kinds & ikSubmenu) && ((kinds & ikCombo) || (options & tboDropdownArrow));
    const bool tag99 = item->GetTag() == 99;
    const classlib::TBrushStyle preparedStyle = Canvas->GetBrush()->GetStyle();
    const classlib::TColor preparedColor = Canvas->GetBrush()->GetColor();
    RECT r = ClientAreaRect;

    if (IsSelected && tag99) {
        FillSolid(Canvas, r, item->GetXPItemSelBkgrCol());
        FrameSolid(Canvas, r, item->GetXPItemOutlineCol());
    }
    if (item->DisplayXP) UseDisabledShadow = false;
    if (item->DisplayXP && !tag99) {
        FillSolid(Canvas, r, item->XPItemBkgrCol);
        FillSolid(Canvas, RECT{r.left, r.top, strip, r.bottom}, FlatStripColor(item->XPItemLeftCol, item->XPItemBkgrCol));
    }

    if (toolbar) {
        RECT a{};
        if (hasArrow) {
            if (kinds & ikCombo) {
                r.right -= 2;
                a = RECT{r.right - 9, r.top, r.right, r.bottom};
                r.right -= 9;
            } else if (vertical) {
                a = RECT{0, r.bottom - 11, r.right, r.bottom - 3};
            } else {
                a = RECT{r.right - 11, 0, r.right - 3, r.bottom};
            }
        }
        if ((IsSelected && showEnabled) || item->GetChecked() || designing) {
            if (kinds & ikCombo) {
                Edge(Canvas, r, EdgeFor((IsPushed && captured) || item->GetChecked()), BF_RECT);
                if ((IsSelected && showEnabled) || designing) Edge(Canvas, a, EdgeFor(IsPushed && !captured), BF_RECT);
            } else {
                Edge(Canvas, r, EdgeFor(IsPushed || item->GetChecked()), BF_RECT);
            }
        }
        if (hasArrow) {
            if (!(kinds & ikCombo) && IsPushed) ::OffsetRect(&a, 1, 1);
            Triangle(Canvas, a, !(kinds & ikCombo) && vertical, UseDisabledShadow, Canvas->GetFont()->GetColor());
        }
        ::InflateRect(&r, -1, -1);
        if (item->GetChecked() && !(IsSelected && showEnabled)) {
            FillCheckedPattern(Canvas, r);
            Canvas->GetBrush()->SetStyle(classlib::bsClear);
        }
        ::InflateRect(&r, -1, -1);
        if (item->GetChecked() || (IsSelected && IsPushed && (!(kinds & ikCombo) || captured))) ::OffsetRect(&r, 1, 1);
        if (hasArrow && !(kinds & ikCombo)) (vertical ? r.bottom : r.right) -= 8;
    } else if (IsSelected) {
        RECT h = r;
        if (item->DisplayXP) h.left = r.left + imageColumn + 1;
        if ((kinds & ikCombo) && showEnabled) h.right -= checkW;
        if (item->GetEnabled()) {
            if (item->DisplayXP) {
                FillSolid(Canvas, h, item->GetXPItemSelBkgrCol());
                FrameSolid(Canvas, h, item->GetXPItemOutlineCol());
            } else {
                Canvas->GetBrush()->SetColor(preparedColor);
                Canvas->GetBrush()->SetStyle(preparedStyle);
                Canvas->FillRect(h);
            }
        } else if (!item->DisplayXP) {
            Canvas->GetBrush()->SetColor(preparedColor);
            Canvas->GetBrush()->SetStyle(preparedStyle);
            Canvas->FillRect(h);
        }
    }

    Canvas->GetBrush()->SetStyle(classlib::bsClear);
    classlib::TFont* font = Canvas->GetFont();
    if (options & tboDefault) font->SetStyle(font->GetStyle() | classlib::fsBold);
    TEXTMETRICW tm{};
    TextSize(Canvas, L"", &tm);
    const UINT hide = AccelsHidden(OwnerView) ? DT_HIDEPREFIX : 0;
    auto adjustVertically = [&](RECT& t) {
        if ((t.bottom - t.top) - (tm.tmHeight + tm.tmExternalLeading) == 4) t.bottom -= 1;
        t.top += tm.tmExternalLeading;
    };

    if (ShowsCaption()) {
        RECT t = r;
        if (toolbar) {
            if (ShowsImage() && images) {
                if (TextRotated() || (options & tboImageAboveCaption)) t.top += images->GetHeight() + 1;
                else t.left += images->GetWidth() + 1;
            }
            DrawEntryText(Canvas, t, CaptionText(), UseDisabledShadow, hide | DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        } else {
            t.left += imageColumn + 5;
            adjustVertically(t);
            if (IsSelected && item->DisplayXP && item->GetEnabled()) font->SetColor(item->XPItemSelTxtCol);
            if (item->DisplayXP && !item->GetEnabled()) font->SetColor(item->XPItemUnactTxtCol);
            DrawEntryText(Canvas, t, CaptionText(), UseDisabledShadow, hide | DT_VCENTER | DT_SINGLELINE);
        }
    }

    if (!toolbar) {
        const std::wstring shortcut = item->ShortCutText();
        if (!shortcut.empty()) {
            RECT t = r;
            t.left = t.right - TextSize(Canvas, RemoveAccelMarks(shortcut)).cx - 8;
            adjustVertically(t);
            DrawEntryText(Canvas, t, shortcut, UseDisabledShadow, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        }
        if (kinds & ikSubmenu) {
            if (kinds & ikCombo) {
                RECT t = r;
                t.left = r.right - checkW;
                if (IsSelected && showEnabled) {
                    Edge(Canvas, t, BDR_SUNKENOUTER, BF_RECT | BF_MIDDLE);
                } else {
                    t.left -= 1;
                    Edge(Canvas, t, IsSelected ? BDR_SUNKENOUTER : EDGE_ETCHED, BF_LEFT);
                }
            }
            const int ax = ClientAreaRect.right - checkW, ay = ClientAreaRect.top + (height - checkH) / 2;
            if (UseDisabledShadow) {
                MenuArrow(Canvas, ax + 1, ay + 1, classlib::clBtnHighlight);
                MenuArrow(Canvas, ax, ay, classlib::clBtnShadow);
            } else if ((kinds & ikCombo) && IsSelected && showEnabled) {
                MenuArrow(Canvas, ax + 1, ay + 1, classlib::clBtnText);
            } else {
                MenuArrow(Canvas, ax, ay, font->GetColor());
            }
            Canvas->GetBrush()->SetStyle(classlib::bsClear);
        }
    }

    const bool image = ShowsImage() && images;
    if (image || (!toolbar && item->GetChecked())) {
        RECT b = r;
        if (toolbar) {
            if (TextRotated() || (options & tboImageAboveCaption)) b.bottom = b.top + images->GetHeight() + 2;
            else b.right = b.left + images->GetWidth() + 2;
        } else {
            b.right = b.left + imageColumn;
            if ((IsSelected && showEnabled) || item->GetChecked())
                Edge(Canvas, b, EdgeFor(item->GetChecked()), BF_RECT | BF_MIDDLE);
            if (item->GetChecked() && !IsSelected) {
                ::InflateRect(&b, -1, -1);
                FillCheckedPattern(Canvas, b);
                Canvas->GetBrush()->SetStyle(classlib::bsClear);
                ::InflateRect(&b, 1, 1);
            }
            if (item->GetChecked()) ::OffsetRect(&b, 1, 1);
        }
        if (image) {
            const int x = b.left + ((b.right - b.left) - images->GetWidth()) / 2;
            const int y = b.top + ((b.bottom - b.top) - images->GetHeight()) / 2;
            if (auto* states = dynamic_cast<TMbCustomImageList*>(images))
                states->DrawForState(Canvas, x, y, item->GetImageIndex(), showEnabled, IsSelected, item->GetChecked());
            else
                images->Draw(Canvas, x, y, item->GetImageIndex(), showEnabled);
        } else {
            const int cx = (b.left + b.right) / 2, cy = (b.top + b.bottom) / 2;
            if (item->GetRadioItem()) {
                Canvas->GetPen()->SetColor(classlib::clBtnText);
                Canvas->GetBrush()->SetColor(classlib::clBtnText);
                Canvas->RoundRect(cx - 3, cy - 3, cx + 2, cy + 2, 2, 2);
                Canvas->GetPen()->SetColor(classlib::clBtnHighlight);
                Canvas->GetBrush()->SetStyle(classlib::bsClear);
                Canvas->RoundRect(cx - 4, cy - 4, cx + 3, cy + 3, 6, 6);
            } else {
                static const POINT kMark[] = {{-2, -2}, {0, 0}, {4, -4}, {4, -3}, {0, 1}, {-2, -1}, {-2, -2}};
                std::vector<POINT> pts;
                for (const POINT& p : kMark) pts.push_back(POINT{cx - 2 + p.x, cy + 1 + p.y});
                Canvas->GetPen()->SetColor(classlib::clBtnText);
                Canvas->Polyline(pts);
            }
        }
    }
}

void TMbSeparatorItemViewer::MeasureSize(classlib::TCanvas* Canvas, int& AWidth, int& AHeight)
{
    (void)Canvas;
    if (HasToolbarStyle()) {
        AWidth = 6;
        AHeight = 6;
    } else {
        AHeight = 10;
    }
}

void TMbSeparatorItemViewer::Paint(classlib::TCanvas* Canvas, const RECT& ClientAreaRect, bool IsSelected,
                                   bool IsPushed, bool UseDisabledShadow)
{
    (void)IsSelected;
    (void)IsPushed;
    (void)UseDisabledShadow;
    auto* separator = dynamic_cast<TMbSeparatorItem*>(EntryItem);
    if (separator && separator->GetBlank()) return;
    const int strip = FlatStripWidth();
    const bool flat = EntryItem->DisplayXP;
    if (flat) {
        FillSolid(Canvas, ClientAreaRect, EntryItem->XPItemBkgrCol);
        FillSolid(Canvas, RECT{0, ClientAreaRect.top, strip, ClientAreaRect.bottom},
                  FlatStripColor(EntryItem->XPItemLeftCol, EntryItem->XPItemBkgrCol));
    }
    RECT r = ClientAreaRect;
    if (flat) r.left = strip;
    const bool toolbar = HasToolbarStyle();
    const bool lineBreak = (PaintFlags & pfLineBreak) != 0;
    bool horizontal = !toolbar || (OwnerView && OwnerView->Axis == laVertical);
    if (lineBreak) horizontal = !horizontal;
    if (horizontal) {
        r.top = r.bottom / 2 - 1;
        if (toolbar && lineBreak) {
            const int d = (OwnerView && OwnerView->Axis == laFloating) ? 1 : 4;
            ::InflateRect(&r, -d, 0);
        }
        if (flat) {
            Canvas->MoveTo(strip, 1);
            Canvas->LineTo(r.right, 1);
        } else {
            Edge(Canvas, r, EDGE_ETCHED, BF_BOTTOM);
        }
    } else {
        r.left = r.right / 2 - 1;
        if (lineBreak) ::InflateRect(&r, 0, -4);
        Edge(Canvas, r, EDGE_ETCHED, BF_LEFT);
    }
}

// ------------------------------------------------------------------ views

POINT LastPointerPos{static_cast<LONG>(0x80000000), 0};

namespace {

bool HasPointerPos() { return LastPointerPos.x != static_cast<LONG>(0x80000000); }

}  // namespace

TMbView::TMbView(classlib::TComponent* AOwner, TMbView* AUpperView, TMbCustomItem* ASourceItem,
                 classlib::TWinControl* AHostWindow, bool AIsToolbarView, bool ACustomizing)
    : classlib::TComponent(AOwner),
      IsPopupView(!AIsToolbarView),
      IsToolbarView(AIsToolbarView),
      InCustomizeMode(ACustomizing),
      UpperView(AUpperView),
      SourceItem(ASourceItem),
      HostWindow(AHostWindow)
{
    if (SourceItem) {
        SourceItem->RegisterListener(TMbItemChangedProc(this, &TMbView::SourceChanged));
        SourceItem->FreeNotification(this);
    }
    ResolveShownItem();
}

TMbView::~TMbView()
{
    DisarmAllTimers();
    CloseOpenPopup();
    // A toolbar whose popup just closed repaints the entry that opened it.
    if (UpperView && UpperView->IsToolbarView) {
        UpperView->RunFlags |= rfPopupClosed;
        UpperView->InvalidateViewer(UpperView->OpenSubViewer);
    }
    FreeViewers();
    if (AccObject) MbAccOwnerGone(AccObject);
    if (ShownItem) ShownItem->UnregisterListener(TMbItemChangedProc(this, &TMbView::ShownChanged));
    if (SourceItem) SourceItem->UnregisterListener(TMbItemChangedProc(this, &TMbView::SourceChanged));
    // The focus goes back to the entry that opened this level.
    if (UpperView) UpperView->NotifyAccFocus();
}

// Screen readers follow a running menu through the focus event of its
// selected entry. The event is posted, not raised here: a client that reads
// the entry's state on the event then sees the selection already made, and
// an entry freed before the post arrives is dropped by the deferred dispatch.
void TMbView::NotifyAccFocus()
{
    if ((RunFlags & rfInLoop) && SelectedViewer) PostDeferred(SelectedViewer, 0);
}

TMbItemViewer* TMbView::EntryViewer(int Index) const
{
    if (Index < 0 || Index >= EntryCount()) throw EMbItemError(L"Toolbar item index out of range");
    return ViewerList[static_cast<std::size_t>(Index)];
}

int TMbView::IndexOfViewer(const TMbItemViewer* Viewer) const
{
    auto it = std::find(ViewerList.begin(), ViewerList.end(), Viewer);
    return it == ViewerList.end() ? -1 : static_cast<int>(it - ViewerList.begin());
}

TMbView* TMbView::RootView()
{
    TMbView* v = this;
    while (v->UpperView) v = v->UpperView;
    return v;
}

TMbView* TMbView::NearestToolbarView()
{
    for (TMbView* v = this; v; v = v->UpperView)
        if (v->IsToolbarView) return v;
    return nullptr;
}

bool TMbView::IsInChain(const TMbView* View, const TMbView* Other)
{
    for (const TMbView* v = Other; v; v = v->UpperView)
        if (v == View) return true;
    return false;
}

void TMbView::FreeViewers()
{
    CloseOpenPopup();
    SelectedViewer = nullptr;
    PriorityOrder.clear();
    std::vector<TMbItemViewer*> viewers = std::move(ViewerList);
    ViewerList.clear();
    for (TMbItemViewer* v : viewers) delete v;
    EndExtraCount = FrontExtraCount = 0;
}

TMbItemViewer* TMbView::AppendViewer(TMbCustomItem* Item, int At, bool Priority, bool Front)
{
    std::unique_ptr<TMbItemViewer> viewer(Item->CreateViewer(this, 0));
    At = std::clamp(At, 0, EntryCount());
    ViewerList.insert(ViewerList.begin() + At, viewer.get());
    if (Priority && UsesPriority) {
        if (Front) PriorityOrder.insert(PriorityOrder.begin(), viewer.get());
        else PriorityOrder.push_back(viewer.get());
    }
    return viewer.release();
}

void TMbView::ResolveShownItem()
{
    TMbCustomItem* shown = SourceItem ? SourceItem->LinkedItem() : nullptr;
    CloseOpenPopup();
    if (shown != ShownItem) {
        if (ShownItem) ShownItem->UnregisterListener(TMbItemChangedProc(this, &TMbView::ShownChanged));
        ShownItem = shown;
        if (ShownItem && ShownItem != SourceItem) {
            ShownItem->RegisterListener(TMbItemChangedProc(this, &TMbView::ShownChanged));
            ShownItem->FreeNotification(this);
        }
    }
    // Rebuild every viewer.
    SelectViewer(nullptr);
    InvalidateLayout();
    FreeViewers();
    if (!ShownItem) return;
    for (int i = 0; i < ShownItem->GetCount(); ++i) AppendViewer(ShownItem->GetItem(i), EntryCount(), true, false);
    if (!(ShownItem->GetComponentState() & classlib::csDesigning)) RefreshEntryActions();
}

void TMbView::SourceChanged(TMbCustomItem* Sender, TMbItemChange Change, int Index, TMbCustomItem* Item)
{
    if (Change == icLinkChanged) ResolveShownItem();
    else if (ShownItem == SourceItem) ShownChanged(Sender, Change, Index, Item);
    else if (Change == icSubMenuImages) InvalidateLayoutDeep();
}

void TMbView::ShownChanged(TMbCustomItem* Sender, TMbItemChange Change, int Index, TMbCustomItem* Item)
{
    if (Sender != ShownItem) return;
    switch (Change) {
    case icInserted: {
        InvalidateLayout();
        // Before the viewer of the following sub-item, among the item's own
        // entries (extras stay at the end).
        const int limit = std::max(0, EntryCount() - EndExtraCount);
        int at = limit;
        if (Index + 1 < ShownItem->GetCount()) {
            const TMbCustomItem* next = ShownItem->GetItem(Index + 1);
            for (int i = 0; i < limit; ++i)
                if (ViewerList[static_cast<std::size_t>(i)]->EntryItem == next) {
                    at = i;
                    break;
                }
        }
        const bool loading = (Item->GetComponentState() & classlib::csLoading) != 0;
        AppendViewer(Item, at, true, !loading && NewFirstInPriority);
        break;
    }
    case icDeleting:
        InvalidateLayout();
        for (std::size_t i = 0; i < ViewerList.size();) {
            TMbItemViewer* v = ViewerList[i];
            if (v->EntryItem != Item) {
                ++i;
                continue;
            }
            if (SelectedViewer == v) SelectedViewer = nullptr;
            if (OpenSubViewer == v) CloseOpenPopup();
            PriorityOrder.erase(std::remove(PriorityOrder.begin(), PriorityOrder.end(), v), PriorityOrder.end());
            ViewerList.erase(ViewerList.begin() + static_cast<std::ptrdiff_t>(i));
            delete v;
        }
        break;
    case icBeginUpdate:
        ++UpdateDepth;
        break;
    case icEndUpdate:
        --UpdateDepth;
        break;
    case icInvalidate:
        for (TMbItemViewer* v : ViewerList)
            if (v->EntryItem == Item) InvalidateViewer(v);
        break;
    case icLayout:
        InvalidateLayout();
        break;
    case icSubMenuImages:
        InvalidateLayoutDeep();
        break;
    default:
        return;
    }
    TryValidateLayout();
}

void TMbView::Notification(classlib::TComponent* AComponent, classlib::TOperation Operation)
{
    classlib::TComponent::Notification(AComponent, Operation);
    if (Operation != classlib::opRemove) return;
    if (AComponent == ShownItem && ShownItem != SourceItem) {
        ShownItem = nullptr;
        FreeViewers();
    }
    if (AComponent == SourceItem) {
        FreeViewers();
        SourceItem = nullptr;
        ShownItem = nullptr;
        if (UpperView) UpperView->CloseOpenPopup();
    }
    if (AComponent == ChevronHost) ChevronHost = nullptr;
}

bool MbReadNonClientMetrics(NONCLIENTMETRICSW& Metrics)
{
    Metrics = NONCLIENTMETRICSW{};
    Metrics.cbSize = sizeof(Metrics);
    return ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(Metrics), &Metrics, 0) != FALSE;
}

namespace {

// The framework's menu font lives as long as the process: views and popup
// windows hand out pointers to it.
classlib::TFont*& MenuFontSlot()
{
    static classlib::TFont* font = nullptr;
    return font;
}

}  // namespace

classlib::TFont* SharedMenuFont()
{
    classlib::TFont*& font = MenuFontSlot();
    if (!font) {
        font = new classlib::TFont();
        MbUpdateMenuFont();
    }
    return font;
}

void MbUpdateMenuFont()
{
    classlib::TFont* font = SharedMenuFont();
    NONCLIENTMETRICSW metrics;
    if (!MbReadNonClientMetrics(metrics)) return;
    if (HFONT h = ::CreateFontIndirectW(&metrics.lfMenuFont)) font->SetHandle(h);
}

RECT TMbView::LayoutMargins(TMbLayoutAxis AAxis) const
{
    return AAxis == laFloating ? RECT{4, 2, 4, 1} : RECT{0, 0, 0, 0};
}

classlib::TFont* TMbView::ViewFont()
{
    if (classlib::TFont* font = SharedMenuFont()) return font;
    return HostWindow ? HostWindow->GetFont() : nullptr;
}

namespace {

// The window a view draws in: its popup window, else its host window's
// handle when one exists.
HWND HostHandle(TMbView* View)
{
    if (View->Wnd) return View->Wnd;
    if (View->HostWindow && View->HostWindow->HandleAllocated()) return View->HostWindow->GetHandle();
    return nullptr;
}

}  // namespace

void TMbView::ApplyBaseSize(int AWidth, int AHeight)
{
    (void)AWidth;
    (void)AHeight;
}

POINT TMbView::RecalcLayout()
{
    int lines = 0;
    POINT total{}, base{};
    Layout(true, Axis, lines, total, base, ChevronWidth, ChevronAt, WrapAt);
    NaturalSize = base;
    LayoutValid = true;
    HWND wnd = HostHandle(this);
    if (wnd) ::ValidateRect(wnd, nullptr);
    ApplyBaseSize(total.x, total.y);
    if (wnd) RepaintThroughBitmap(wnd);
    return total;
}

void TMbView::InvalidateLayout()
{
    if (!LayoutValid) return;
    LayoutValid = false;
    if (HWND wnd = HostHandle(this)) ::InvalidateRect(wnd, nullptr, TRUE);
}

void TMbView::ValidateLayout()
{
    if (!LayoutValid) RecalcLayout();
}

void TMbView::TryValidateLayout()
{
    if (UpdateDepth > 0) return;
    if (SourceItem) {
        if (SourceItem->GetComponentState() & classlib::csLoading) return;
        if (SourceItem->GetOwner() && (SourceItem->GetOwner()->GetComponentState() & classlib::csLoading)) return;
    }
    ValidateLayout();
}

void TMbView::InvalidateLayoutDeep()
{
    for (TMbView* v = this; v; v = v->OpenSubView) {
        v->InvalidateLayout();
        v->TryValidateLayout();
    }
}

classlib::TFont* TMbPopupView::ViewFont()
{
    if (Wnd)
        if (classlib::TWinControl* window = classlib::FindControl(Wnd)) return window->GetFont();
    return TMbView::ViewFont();
}

void TMbPopupView::ApplyBaseSize(int AWidth, int AHeight)
{
    if (!Wnd) return;
    ::SetWindowPos(Wnd, nullptr, 0, 0, AWidth + 6, AHeight + 6,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
}

namespace {

struct TWork {
    RECT Rect{};
    bool Placed = false, BehindChevron = false, ScrolledAway = false, SameWidth = false, LineBreak = false;
};

bool IsSeparator(const TMbItemViewer* V) { return (V->EntryItem->GetKinds() & ikSeparator) != 0; }

int Width(const RECT& R) { return R.right - R.left; }
int Height(const RECT& R) { return R.bottom - R.top; }

// Hides shown separators that follow another shown separator or start the
// list, then the trailing ones.
void CollapseSeparators(const std::vector<TMbItemViewer*>& V, std::vector<TWork>& W)
{
    bool prevSeparator = true;
    for (std::size_t i = 0; i < V.size(); ++i) {
        if (!W[i].Placed) continue;
        const bool sep = IsSeparator(V[i]);
        if (sep && prevSeparator) W[i].Placed = false;
        else prevSeparator = sep;
    }
    for (std::size_t i = V.size(); i-- > 0;) {
        if (!W[i].Placed) continue;
        if (!IsSeparator(V[i])) break;
        W[i].Placed = false;
    }
}

}  // namespace

void TMbView::RebuildViewer(std::size_t Index)
{
    TMbItemViewer* old = ViewerList[Index];
    if (OpenSubViewer == old) CloseOpenPopup();
    TMbItemViewer* fresh = old->EntryItem->CreateViewer(this, 0);
    ViewerList[Index] = fresh;
    std::replace(PriorityOrder.begin(), PriorityOrder.end(), old, fresh);
    if (SelectedViewer == old) SelectedViewer = fresh;
    delete old;
}

bool TMbView::Layout(bool Apply, TMbLayoutAxis AAxis, int& LineCount, POINT& TotalSize, POINT& BaseSize,
                     int AChevronWidth, int AChevronAt, int AWrapAt)
{
    LineCount = 1;
    const TMbLayoutAxis savedAxis = Axis;
    Axis = AAxis;
    struct TRestore {
        TMbView* View;
        TMbLayoutAxis Axis;
        ~TRestore() { View->Axis = Axis; }
    } restore{this, savedAxis};
    classlib::TCanvas canvas;
    classlib::TWindowDC screen(nullptr);
    canvas.SetHandle(screen.Get());
    struct TDetach {
        classlib::TCanvas* Canvas;
        ~TDetach() { Canvas->SetHandle(nullptr); }
    } detach{&canvas};
    canvas.SetFont(ViewFont());

    const std::vector<TMbItemViewer*>& v = ViewerList;
    const std::size_t n = v.size();
    std::vector<TWork> w(n);
    TMbItemViewer* chevron = ChevronItem();
    const bool vertical = AAxis == laVertical;
    auto along = [&](const RECT& R) { return vertical ? Height(R) : Width(R); };

    // 2. Visibility.
    {
        bool prevSeparator = true;
        for (std::size_t i = 0; i < n; ++i) {
            if (v[i] == chevron) continue;
            TMbCustomItem* item = v[i]->EntryItem;
            if (ChevronHost) {
                // A chevron popup shows what its toolbar hides.
                if (dynamic_cast<TMbControlItem*>(item)) continue;
                ChevronHost->ValidateLayout();
                const int hostIndex = static_cast<int>(i) + ChevronHost->FrontExtraCount;
                if (hostIndex >= ChevronHost->EntryCount()) continue;
                if (!IsSeparator(v[i]) && !ChevronHost->EntryViewer(hostIndex)->BehindChevron) continue;
            }
            if (auto* ci = dynamic_cast<TMbControlItem*>(item)) {
                classlib::TControl* c = ci->GetControl();
                w[i].Placed = c && HostWindow && c->GetParent() == HostWindow && c->GetVisible();
                if (w[i].Placed) prevSeparator = false;
                continue;
            }
            if (!item->GetVisible()) continue;
            const bool sep = IsSeparator(v[i]);
            w[i].Placed = !(sep && prevSeparator);
            if (w[i].Placed) prevSeparator = sep;
        }
        CollapseSeparators(v, w);
    }

    // 3. Sizes.
    const int rowHeight = FlatStripWidth();  // 20, or 22 at 120 pixels per inch
    int sameWidth = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!w[i].Placed) continue;
        TMbCustomItem* item = v[i]->EntryItem;
        int cx = 0, cy = 0;
        if (auto* ci = dynamic_cast<TMbControlItem*>(item)) {
            cx = ci->GetControl()->GetWidth();
            cy = ci->GetControl()->GetHeight();
        } else {
            const classlib::TFontStyles style = canvas.GetFont()->GetStyle();
            if (item->GetEffectiveOptions() & tboDefault) canvas.GetFont()->SetStyle(style | classlib::fsBold);
            // A viewer that must be made again is replaced (Apply), or
            // measured through a temporary one for this run only.
            std::unique_ptr<TMbItemViewer> temp;
            TMbItemViewer* measurer = v[i];
            if (item->ViewerNeedsRebuild(v[i])) {
                if (Apply) {
                    RebuildViewer(i);
                    measurer = v[i];
                } else {
                    temp.reset(item->CreateViewer(this, 0));
                    measurer = temp.get();
                }
            }
            if (measurer->HasToolbarStyle()) cx = cy = 6;
            measurer->MeasureSize(&canvas, cx, cy);
            canvas.GetFont()->SetStyle(style);
            if (measurer->SameWidthWanted()) {
                w[i].SameWidth = true;
                sameWidth = std::max(sameWidth, cx);
            }
            if (IsSeparator(v[i])) cy = 3;
            else if (!item->GetCaption().empty() && !vertical) cy = rowHeight;
        }
        w[i].Rect = RECT{0, 0, cx, cy};
    }

    // 4. Same widths and the one-line size.
    BaseSize = POINT{0, 0};
    for (std::size_t i = 0; i < n; ++i) {
        if (!w[i].Placed) continue;
        if (w[i].SameWidth) w[i].Rect.right = sameWidth;
        (vertical ? BaseSize.y : BaseSize.x) += along(w[i].Rect);
    }
    int total = vertical ? BaseSize.y : BaseSize.x;

    // 5. Chevron.
    bool chevronPlaced = false, hidNonControl = false;
    if (chevron && AChevronAt > 0 && AChevronAt < total) {
        chevronPlaced = true;
        AChevronAt -= AChevronWidth;
        const std::vector<TMbItemViewer*>& order = PriorityOrder.empty() ? v : PriorityOrder;
        while (AChevronAt < total) {
            int shownEntries = 0;
            std::size_t last = n;
            for (std::size_t i = 0; i < n; ++i)
                if (w[i].Placed) {
                    last = i;
                    if (!IsSeparator(v[i])) ++shownEntries;
                }
            if (shownEntries < 2) break;
            std::size_t hide = n;
            if (IsSeparator(v[last])) {
                hide = last;
            } else {
                for (std::size_t k = order.size(); k-- > 0;) {
                    const int i = IndexOfViewer(order[k]);
                    if (i >= 0 && w[static_cast<std::size_t>(i)].Placed && !IsSeparator(order[k])) {
                        hide = static_cast<std::size_t>(i);
                        break;
                    }
                }
                if (hide == n) break;
                w[hide].BehindChevron = true;
                if (!dynamic_cast<TMbControlItem*>(v[hide]->EntryItem)) hidNonControl = true;
            }
            w[hide].Placed = false;
            total -= along(w[hide].Rect);
            // Separators left doubled or leading by the removal go too.
            bool prevSeparator = true;
            for (std::size_t i = 0; i < n; ++i) {
                if (!w[i].Placed) continue;
                const bool sep = IsSeparator(v[i]);
                if (sep && prevSeparator) {
                    w[i].Placed = false;
                    total -= along(w[i].Rect);
                } else {
                    prevSeparator = sep;
                }
            }
        }
        for (std::size_t i = n; i-- > 0;) {
            if (!w[i].Placed) continue;
            if (!IsSeparator(v[i])) break;
            w[i].Placed = false;
        }
    }

    // 6. Cross dimension of the one-line size.
    for (std::size_t i = 0; i < n; ++i)
        if (w[i].Placed) {
            if (vertical) BaseSize.x = std::max(BaseSize.x, static_cast<LONG>(Width(w[i].Rect)));
            else BaseSize.y = std::max(BaseSize.y, static_cast<LONG>(Height(w[i].Rect)));
        }

    // 7.-9. Placing.
    const RECT margins = LayoutMargins(AAxis);
    if (AWrapAt > 0) AWrapAt = std::max(1, AWrapAt - static_cast<int>(margins.right));
    POINT pos{margins.left, margins.top};
    TotalSize = POINT{0, 0};
    std::vector<std::size_t> line;
    int lineW = 0, lineH = 0;
    bool wrapped = false, wrappedSinceBreak = false, prevToolbarSized = false;
    auto finishLine = [&](bool Final) {
        if (wrapped && AWrapAt > 0) {
            if (AAxis == laHorizontal) TotalSize.x = std::max(TotalSize.x, static_cast<LONG>(AWrapAt));
            if (AAxis == laVertical) TotalSize.y = std::max(TotalSize.y, static_cast<LONG>(AWrapAt));
        }
        for (std::size_t i : line) {
            RECT& r = w[i].Rect;
            if (IsToolbarView) {
                int thickness = vertical ? lineW : lineH;
                if (Final && !wrapped && AAxis != laFloating) thickness = vertical ? TotalSize.x : TotalSize.y;
                if (IsSeparator(v[i])) {
                    if (vertical) r.right = r.left + thickness;
                    else r.bottom = r.top + thickness;
                } else {
                    const int d = (thickness - (vertical ? Width(r) : Height(r))) / 2;
                    ::OffsetRect(&r, vertical ? d : 0, vertical ? 0 : d);
                }
            } else if (!(v[i]->HasToolbarSize())) {
                r.right = r.left + std::max(Width(r), lineW);
            }
        }
        line.clear();
        lineW = lineH = 0;
    };
    for (std::size_t i = 0; i < n; ++i) {
        if (!w[i].Placed) continue;
        const bool toolbarSized = v[i]->HasToolbarSize();
        if (prevToolbarSized && !toolbarSized) pos = POINT{margins.left, TotalSize.y};
        prevToolbarSized = toolbarSized;
        RECT& r = w[i].Rect;
        const bool sep = IsSeparator(v[i]);
        bool lineBreak = false;
        const int position = vertical ? pos.y : pos.x;
        if (AWrapAt > 0 && position > 0) {
            const int end = position + along(r);
            bool fits = !sep;
            if (sep && !wrappedSinceBreak) {
                int further = end;
                for (std::size_t k = i + 1; k < n && !(w[k].Placed && IsSeparator(v[k])); ++k)
                    if (w[k].Placed) further += along(w[k].Rect);
                fits = further <= AWrapAt;
            }
            if (fits && end > AWrapAt) {
                ++LineCount;
                const int lw = lineW, lh = lineH;
                finishLine(false);
                if (vertical) {
                    pos.y = margins.top;
                    pos.x += lw;
                } else {
                    pos.x = margins.left;
                    pos.y += lh;
                }
                wrapped = wrappedSinceBreak = true;
            } else if (!fits) {
                ++LineCount;
                const int lw = lineW, lh = lineH;
                finishLine(false);
                if (vertical) {
                    pos.y = 0;
                    pos.x += lw;
                } else {
                    pos.x = 0;
                    pos.y += lh;
                }
                r = vertical ? RECT{0, 0, 6, 0} : RECT{0, 0, 0, 6};
                w[i].LineBreak = lineBreak = true;
            }
        }
        if (!lineBreak) line.push_back(i);
        lineW = std::max(lineW, Width(r));
        lineH = std::max(lineH, Height(r));
        ::OffsetRect(&r, std::max(0L, pos.x) - r.left, std::max(0L, pos.y) - r.top);
        if (lineBreak) {
            if (vertical) {
                pos.y = margins.top;
                pos.x += 6;
            } else {
                pos.x = margins.left;
                pos.y += 6;
            }
            wrappedSinceBreak = false;
            lineW = lineH = 0;
        } else if (toolbarSized && !vertical) {
            pos.x += Width(r);
        } else {
            pos.y += Height(r);
        }
        TotalSize.x = std::max(TotalSize.x, r.right);
        TotalSize.y = std::max(TotalSize.y, r.bottom);
    }
    finishLine(true);
    TotalSize.x += margins.right;
    TotalSize.y += margins.bottom;
    if (vertical)
        for (TWork& e : w)
            if (e.Placed) e.Rect = RECT{TotalSize.x - e.Rect.right, e.Rect.top, TotalSize.x - e.Rect.left, e.Rect.bottom};

    // 11. Scrolling.
    UpArrowShown = DownArrowShown = false;
    if (HeightLimit > 0 && TotalSize.y > HeightLimit) {
        ScrollPos = std::clamp(ScrollPos, 0, static_cast<int>(TotalSize.y) - HeightLimit);
        UpArrowShown = ScrollPos > 0;
        DownArrowShown = ScrollPos < TotalSize.y - HeightLimit;
        const int top = UpArrowShown ? 19 : 0, bottom = DownArrowShown ? HeightLimit - 19 : HeightLimit;
        for (TWork& e : w) {
            if (::IsRectEmpty(&e.Rect)) continue;
            ::OffsetRect(&e.Rect, 0, -ScrollPos);
            if (e.Placed && (e.Rect.top < top || e.Rect.bottom > bottom)) {
                e.Placed = false;
                e.ScrolledAway = true;
            }
        }
        TotalSize.y = HeightLimit;
    } else {
        ScrollPos = 0;
    }

    // 12.-15. Applying.
    bool changed = false;
    if (Apply) {
        for (std::size_t i = 0; i < n; ++i) {
            auto* ci = dynamic_cast<TMbControlItem*>(v[i]->EntryItem);
            if (!ci || !ci->GetControl()) continue;
            classlib::TControl* c = ci->GetControl();
            if (w[i].Placed) {
                const RECT& r = w[i].Rect;
                c->SetBounds(r.left, r.top, Width(r), Height(r));
            } else if ((w[i].BehindChevron || w[i].ScrolledAway) && HostWindow) {
                c->SetBounds(HostWindow->GetClientWidth(), HostWindow->GetClientHeight(), c->GetWidth(), c->GetHeight());
            }
        }
        if (chevronPlaced) {
            chevron->EntryItem->SetEnabled(hidNonControl);
            const int i = IndexOfViewer(chevron);
            if (i >= 0) {
                TWork& e = w[static_cast<std::size_t>(i)];
                e.Placed = true;
                if (vertical) {
                    const int p = std::max(AChevronAt, static_cast<int>(TotalSize.y));
                    e.Rect = RECT{0, p, TotalSize.x, p + AChevronWidth};
                } else {
                    const int p = std::max(AChevronAt, static_cast<int>(TotalSize.x));
                    e.Rect = RECT{p, 0, p + AChevronWidth, TotalSize.y};
                }
            }
        }
        for (std::size_t i = 0; i < n; ++i) {
            TMbItemViewer* viewer = v[i];
            const TWork& e = w[i];
            const bool wasBreak = (viewer->PaintFlags & pfLineBreak) != 0;
            if (!::EqualRect(&viewer->EntryRect, &e.Rect) || viewer->Placed != e.Placed || wasBreak != e.LineBreak)
                changed = true;
            viewer->EntryRect = e.Rect;
            viewer->Placed = e.Placed;
            viewer->BehindChevron = e.BehindChevron;
            viewer->ScrolledAway = e.ScrolledAway;
            viewer->PaintFlags = static_cast<uint8_t>(e.LineBreak ? (viewer->PaintFlags | pfLineBreak)
                                                                 : (viewer->PaintFlags & ~pfLineBreak));
        }
    }
    if (BaseSize.x == 0 || BaseSize.y == 0) {
        BaseSize = POINT{23, 22};
        TotalSize.x = std::max(TotalSize.x, 23L);
        TotalSize.y = std::max(TotalSize.y, 22L);
    }
    return changed;
}

// ------------------------------------------------------ selection, popups

void TMbView::InvalidateViewer(const TMbItemViewer* Viewer)
{
    HWND wnd = HostHandle(this);
    if (!LayoutValid || !wnd || !Viewer || !Viewer->Placed || ::IsRectEmpty(&Viewer->EntryRect) ||
        dynamic_cast<TMbControlItem*>(Viewer->EntryItem))
        return;
    const_cast<TMbItemViewer*>(Viewer)->PaintFlags |= pfBuffered;
    ::InvalidateRect(wnd, &Viewer->EntryRect, FALSE);
}

void TMbView::ArmTimer(int N, UINT Milliseconds)
{
    if (!IsPopupView || !Wnd || N < 0 || N > 3) return;
    ::SetTimer(Wnd, 9000 + static_cast<UINT_PTR>(N), Milliseconds, nullptr);
    RunningTimers |= 1u << N;
}

void TMbView::DisarmTimer(int N)
{
    if (!(RunningTimers & (1u << N))) return;
    RunningTimers &= ~(1u << N);
    if (Wnd) ::KillTimer(Wnd, 9000 + static_cast<UINT_PTR>(N));
}

void TMbView::DisarmAllTimers()
{
    for (int n = 0; n < 4; ++n) DisarmTimer(n);
}

bool TMbView::PointerOver(TMbItemViewer* Viewer)
{
    HWND wnd = HostHandle(this);
    if (!Viewer || !wnd || !HasPointerPos()) return false;
    if (::WindowFromPoint(LastPointerPos) != wnd) return false;
    POINT c = LastPointerPos;
    ::ScreenToClient(wnd, &c);
    if (!::PtInRect(&Viewer->EntryRect, c)) return false;
    return !MouseCaptured || Viewer->InButtonPart(c.x - Viewer->EntryRect.left, c.y - Viewer->EntryRect.top);
}

void TMbView::ChangeSelection(TMbItemViewer* Viewer, bool ViaMouse)
{
    const bool inLoop = (RunFlags & rfInLoop) != 0;
    TMbItemViewer* old = SelectedViewer;
    const bool same = Viewer == old;
    if (!same) {
        // The pointer reaching a popup keeps its owning entry highlighted.
        if (Viewer && UpperView && UpperView->OpenSubViewer &&
            UpperView->SelectedViewer != UpperView->OpenSubViewer) {
            UpperView->SelectViewer(UpperView->OpenSubViewer);
            UpperView->DisarmTimer(kTimerClose);
            UpperView->DisarmTimer(kTimerOpen);
        }
        if (inLoop) {
            if (IsToolbarView || !ViaMouse) {
                DisarmTimer(kTimerClose);
                if (Viewer != OpenSubViewer) CloseOpenPopup();
            } else if (IsPopupView && OpenSubView && !(RunningTimers & (1u << kTimerClose))) {
                // An abandoned submenu closes after the delay.
                ArmTimer(kTimerClose, static_cast<UINT>(MenuOpenDelay()));
            }
        } else if (!ViaMouse && Viewer != OpenSubViewer) {
            CloseOpenPopup();
        }
        UncaptureMouse();
        if (old) old->LeaveSelection();
        SelectedViewer = Viewer;
        SelectedByMouse = ViaMouse;
    }
    const bool over = PointerOver(Viewer);
    if (same) {
        if (over != PointerOnSelected) {
            PointerOnSelected = over;
            if (MouseCaptured && Viewer && (Viewer->EntryItem->GetKinds() & ikRepaintOnHover)) InvalidateViewer(Viewer);
        }
        return;
    }
    PointerOnSelected = over;
    if (old && IndexOfViewer(old) >= 0 && (old->EntryItem->GetKinds() & ikRepaintOnSelect)) InvalidateViewer(old);
    if (Viewer) {
        if (Viewer->EntryItem->GetKinds() & ikRepaintOnSelect) InvalidateViewer(Viewer);
        Viewer->EnterSelection();
    }
    NotifyAccFocus();
    if (!inLoop) return;
    if (IsPopupView) {
        DisarmTimer(kTimerOpen);
        // Hovering a submenu entry opens it after the delay.
        if (Viewer && ViaMouse && (Viewer->EntryItem->GetKinds() & ikSubmenu))
            ArmTimer(kTimerOpen, static_cast<UINT>(MenuOpenDelay()));
    } else if (IsToolbarView && Viewer) {
        if (ViaMouse && UpperView) RunFlags |= rfMenuOpen;
        if ((RunFlags & rfMenuOpen) && (ViaMouse || !(Viewer->EntryItem->GetKinds() & ikNoKeyOpen)))
            OpenSelectedPopup(!ViaMouse);
    }
}

TMbItemViewer* TMbView::StepSelectable(TMbItemViewer* From, bool Forward)
{
    ValidateLayout();
    const int n = EntryCount();
    if (n == 0) return nullptr;
    int i = From ? IndexOfViewer(From) : -1;
    if (i < 0) i = Forward ? -1 : n;
    for (int step = 0; step < n; ++step) {
        i = Forward ? (i + 1) % n : (i - 1 + n) % n;
        TMbItemViewer* v = ViewerList[static_cast<std::size_t>(i)];
        if ((v->Placed || v->ScrolledAway) && v->EntryItem->GetVisible() && (v->EntryItem->GetKinds() & ikSelectable))
            return v;
    }
    return nullptr;
}

void TMbView::MoveSelection(bool Forward)
{
    SelectViewer(StepSelectable(SelectedViewer, Forward));
    RevealSelection();
}

bool TMbView::OpenSelectedPopup(bool SelectFirst)
{
    DisarmTimer(kTimerClose);
    DisarmTimer(kTimerOpen);
    TMbItemViewer* v = SelectedViewer;
    if (v != OpenSubViewer) {
        CloseOpenPopup();
        if (v && v->EntryItem->GetEnabled() && (v->EntryItem->GetKinds() & ikSubmenu))
            v->EntryItem->OpenPopupWindow(this, v, !IsToolbarView, SelectFirst, false, POINT{0, 0}, paLeft);
    }
    return OpenSubViewer != nullptr;
}

void TMbView::CloseOpenPopup()
{
    if (OpenSubView) OpenSubView->CloseOpenPopup();
    DisarmTimer(kTimerClose);
    if (!OpenSubWindow) {
        OpenSubView = nullptr;
        OpenSubViewer = nullptr;
        return;
    }
    std::unique_ptr<TMbPopupWindow> window = std::move(OpenSubWindow);
    OpenSubView = nullptr;
    TMbItemViewer* was = OpenSubViewer;
    OpenSubViewer = nullptr;
    window.reset();
    InvalidateViewer(was);
}

void TMbView::LeaveMenuMode()
{
    if (IsToolbarView) RunFlags &= static_cast<uint8_t>(~rfMenuOpen);
    CloseOpenPopup();
}

void TMbView::CancelMenus()
{
    FinishCancel();
    std::vector<TMbView*> chain;
    for (TMbView* v = this; v; v = v->OpenSubView) chain.push_back(v);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        (*it)->DisarmAllTimers();
        if ((*it)->IsPopupView && (*it)->Wnd) ::ShowWindow((*it)->Wnd, SW_HIDE);
    }
}

void TMbView::PromoteViewer(TMbItemViewer* Viewer)
{
    if (ChevronHost) {
        const int i = IndexOfViewer(Viewer);
        const int at = i + ChevronHost->FrontExtraCount;
        if (i >= 0 && at < ChevronHost->EntryCount()) ChevronHost->PromoteViewer(ChevronHost->EntryViewer(at));
        return;
    }
    auto it = std::find(PriorityOrder.begin(), PriorityOrder.end(), Viewer);
    if (it != PriorityOrder.end()) {
        PriorityOrder.erase(it);
        PriorityOrder.insert(PriorityOrder.begin(), Viewer);
        if (!LayoutValid || Viewer->BehindChevron) RecalcLayout();
    }
    if (UpperView && UpperView->OpenSubViewer) UpperView->PromoteViewer(UpperView->OpenSubViewer);
}

TMbItemViewer* TMbView::HighestPriorityShown()
{
    ValidateLayout();
    const std::vector<TMbItemViewer*>& order = PriorityOrder.empty() ? ViewerList : PriorityOrder;
    for (TMbItemViewer* v : order)
        if (v->Placed && !(v->EntryItem->GetKinds() & ikSeparator)) return v;
    return nullptr;
}

void TMbView::CaptureMouse()
{
    if (MouseCaptured) return;
    MouseCaptured = true;
    InvalidateViewer(SelectedViewer);
}

void TMbView::UncaptureMouse()
{
    if (!MouseCaptured) return;
    MouseCaptured = false;
    if (SelectedViewer) SelectedViewer->CaptureLost();
}

void TMbView::FinishCancel() { RootView()->Outcome.Kind = moCancel; }

void TMbView::FinishWithClick(TMbItemViewer* Viewer)
{
    TMbMenuOutcome& o = RootView()->Outcome;
    o.ClickedItem = Viewer->EntryItem;
    o.FromPopup = Viewer->OwnerView && Viewer->OwnerView->IsPopupView;
    o.Kind = moClickItem;
}

void TMbView::FinishWithHelp(uint32_t HelpId)
{
    TMbMenuOutcome& o = RootView()->Outcome;
    o.HelpId = HelpId;
    o.Kind = moHelp;
}

void TMbView::FinishWithSystemKey(HWND KeyWnd, wchar_t Key)
{
    TMbMenuOutcome& o = RootView()->Outcome;
    o.KeyWnd = KeyWnd;
    o.Key = Key;
    o.Kind = moSystemKey;
}

void TMbView::ActivateSelection(bool Promote)
{
    TMbItemViewer* v = SelectedViewer;
    if (v && v->EntryItem->GetEnabled()) {
        if (!(v->EntryItem->GetKinds() & ikCombo) && OpenSelectedPopup(true)) return;
        if (v->EntryItem->GetKinds() & ikSelectable) {
            v->Trigger(Promote);
            return;
        }
    }
    FinishCancel();
}

void TMbView::HandleKey(WORD& Key)
{
    classlib::TShiftState shift = 0;
    if (::GetKeyState(VK_SHIFT) < 0) shift |= classlib::ssShift;
    if (::GetKeyState(VK_CONTROL) < 0) shift |= classlib::ssCtrl;
    if (::GetKeyState(VK_MENU) < 0) shift |= classlib::ssAlt;
    HandleKey(Key, shift);
}

void TMbView::HandleKey(WORD& Key, classlib::TShiftState Shift)
{
    TMbView* t = NearestToolbarView();
    auto tSelects = [&](bool Forward) { t->SelectViewer(t->StepSelectable(t->SelectedViewer, Forward)); };
    switch (Key) {
    case VK_TAB:
        MoveSelection(!(Shift & classlib::ssShift));
        break;
    case VK_RETURN:
        ActivateSelection(true);
        break;
    case VK_ESCAPE:
        // Only this level closes; the first level ends the menu.
        if (UpperView) UpperView->LeaveMenuMode();
        else FinishCancel();
        break;
    case VK_MENU:
    case VK_F10:
        FinishCancel();
        break;
    case VK_HOME:
    case VK_END:
        SelectViewer(StepSelectable(nullptr, Key == VK_HOME));
        RevealSelection();
        break;
    case VK_LEFT:
    case VK_RIGHT:
        if (t == this && Axis == laVertical) {
            OpenSelectedPopup(true);
        } else if (Key == VK_LEFT) {
            if (!t || t->Axis == laVertical) {
                if (UpperView) UpperView->LeaveMenuMode();
            } else if (t == this || t == UpperView) {
                tSelects(false);
            } else if (UpperView) {
                UpperView->CloseOpenPopup();
            }
        } else {
            const bool opened = t != this && OpenSelectedPopup(true);
            if (!opened && t && t->Axis != laVertical) tSelects(true);
        }
        break;
    case VK_UP:
    case VK_DOWN:
        if (t != this || Axis == laVertical) MoveSelection(Key == VK_DOWN);
        else OpenSelectedPopup(true);
        break;
    case VK_F1:
        for (TMbView* v = this; v; v = v->UpperView)
            if (v->SelectedViewer && v->SelectedViewer->EntryItem->HelpContext) {
                FinishWithHelp(v->SelectedViewer->EntryItem->HelpContext);
                break;
            }
        break;
    default:
        return;
    }
    Key = 0;
}

TMbItemViewer* TMbView::FindAccelEntry(TMbItemViewer* From, wchar_t Char, bool& Unique, bool AcceleratorsOnly)
{
    Unique = true;
    ValidateLayout();
    const int n = EntryCount();
    if (n == 0) return nullptr;
    const wchar_t wanted = LowerChar(Char);
    const int start = From ? IndexOfViewer(From) : -1;
    auto qualifies = [&](TMbItemViewer* v, bool Enabled, bool ByAccel) {
        TMbCustomItem* item = v->EntryItem;
        if (!(v->Placed || v->ScrolledAway) || !(item->GetKinds() & ikSelectable) || !item->GetVisible() ||
            !v->ShowsCaption() || item->GetEnabled() != Enabled)
            return false;
        const std::wstring caption = v->CaptionText();
        const wchar_t accel = AccelCharOf(caption);
        if (ByAccel) return accel != 0 && LowerChar(accel) == wanted;
        if (accel != 0 || Char == L' ' || caption.empty()) return false;
        return LowerChar(caption[0]) == wanted;
    };
    for (int pass = 0; pass < (AcceleratorsOnly ? 1 : 2); ++pass) {
        const bool byAccel = pass == 0;
        for (int enabled = 1; enabled >= 0; --enabled) {
            TMbItemViewer* found = nullptr;
            int matches = 0;
            for (int k = 1; k <= n; ++k) {
                TMbItemViewer* v = ViewerList[static_cast<std::size_t>(((start + k) % n + n) % n)];
                if (!qualifies(v, enabled != 0, byAccel)) continue;
                if (!found) found = v;
                ++matches;
            }
            if (found) {
                Unique = !enabled || matches == 1;
                return found;
            }
        }
    }
    return nullptr;
}

void TMbView::ShowAccelerators(bool Show)
{
    const bool shown = (!Show && (ViewStyle & vsHideAccels)) ? KeyboardCuesOn() : true;
    if (shown == ((RunFlags & rfAccelsShown) != 0)) return;
    RunFlags = static_cast<uint8_t>(shown ? (RunFlags | rfAccelsShown) : (RunFlags & ~rfAccelsShown));
    HWND wnd = HostHandle(this);
    if (!wnd || !::IsWindowVisible(wnd)) return;
    for (TMbItemViewer* v : ViewerList)
        if (v->ShowsCaption() && AccelCharOf(v->CaptionText())) InvalidateViewer(v);
}

void TMbView::ScrollStep(bool Down)
{
    bool found = false;
    int best = 0;
    for (TMbItemViewer* v : ViewerList) {
        if (!v->ScrolledAway || (v->EntryItem->GetKinds() & ikSeparator)) continue;
        if (Down && v->EntryRect.bottom > HeightLimit - 19 && (!found || v->EntryRect.bottom < best)) {
            best = v->EntryRect.bottom;
            found = true;
        }
        if (!Down && v->EntryRect.top < 19 && (!found || v->EntryRect.top > best)) {
            best = v->EntryRect.top;
            found = true;
        }
    }
    if (!found) return;
    ScrollPos += Down ? best + 19 - HeightLimit : best - 19;
    RecalcLayout();
}

void TMbView::RevealSelection()
{
    TMbItemViewer* v = SelectedViewer;
    if (!v || !v->ScrolledAway) return;
    if (v->EntryRect.top > 18) {
        if (v->EntryRect.bottom > HeightLimit - 19) ScrollPos += v->EntryRect.bottom + 19 - HeightLimit;
    } else {
        ScrollPos -= 19 - v->EntryRect.top;
    }
    RecalcLayout();
}

void TMbView::RefreshEntryActions()
{
    const std::vector<TMbItemViewer*> viewers = ViewerList;
    for (TMbItemViewer* v : viewers) v->EntryItem->UpdateFromAction();
}

bool TMbView::AnswerHintRequest(POINT Client, RECT& CursorRect, std::wstring& Text, TMbItemViewer*& Data)
{
    TMbItemViewer* v = ViewerAt(Client);
    if (!v) return false;
    CursorRect = v->EntryRect;
    Text = v->HintText();
    Data = v;
    return true;
}

LRESULT MbAnswerHintShow(TMbView* View, classlib::THintInfo& Info)
{
    TMbItemViewer* viewer = nullptr;
    if (!View || !View->AnswerHintRequest(Info.CursorPos, Info.CursorRect, Info.HintStr, viewer)) return 1;
    Info.HintData = viewer;
    return 0;
}

TMbItemViewer* TMbView::ViewerAt(POINT Client)
{
    ValidateLayout();
    for (TMbItemViewer* v : ViewerList)
        if (v->Placed && ::PtInRect(&v->EntryRect, Client)) return v;
    return nullptr;
}

void TMbView::TrackPointer(POINT Screen, bool AllowSelect)
{
    ValidateLayout();
    HWND wnd = HostHandle(this);
    if (MouseCaptured) {
        RunFlags |= rfPointerInside;
        ChangeSelection(SelectedViewer, true);
        return;
    }
    TMbItemViewer* next = (RunFlags & rfInLoop) ? SelectedViewer : nullptr;
    const bool hasPos = Screen.x != static_cast<LONG>(0x80000000);
    POINT client = Screen;
    RECT r{};
    bool inside = false;
    if (wnd && hasPos) {
        ::ScreenToClient(wnd, &client);
        ::GetClientRect(wnd, &r);
        inside = ::PtInRect(&r, client) && ::WindowFromPoint(Screen) == wnd;
    }
    if (inside) {
        RunFlags |= rfPointerInside;
        if (IsPopupView) next = nullptr;
        if (AllowSelect || SelectedViewer)
            if (TMbItemViewer* under = ViewerAt(client)) next = under;
    } else {
        if (IsPopupView && (RunFlags & rfPointerInside) &&
            (!OpenSubView || !next || !(next->EntryItem->GetKinds() & ikSubmenu)))
            next = nullptr;
        RunFlags &= static_cast<uint8_t>(~rfPointerInside);
    }
    ChangeSelection(next, true);
    // The scroll arrows of a tall popup scroll while the pointer rests on them.
    if ((RunFlags & rfInLoop) && inside) {
        if (UpArrowShown && client.y < 19) {
            DisarmTimer(kTimerScrollDown);
            if (!(RunningTimers & (1u << kTimerScrollUp))) ArmTimer(kTimerScrollUp, 100);
            return;
        }
        if (DownArrowShown && client.y >= r.bottom - 19) {
            DisarmTimer(kTimerScrollUp);
            if (!(RunningTimers & (1u << kTimerScrollDown))) ArmTimer(kTimerScrollDown, 100);
            return;
        }
    }
    DisarmTimer(kTimerScrollUp);
    DisarmTimer(kTimerScrollDown);
}

void TMbView::DrawViewer(TMbItemViewer* V, classlib::TCanvas* Canvas, bool ForceBuffer)
{
    // Entries are drawn straight into the canvas: the window is already
    // double-buffered where it matters (RepaintThroughBitmap).
    (void)ForceBuffer;
    ValidateLayout();
    V->PaintFlags &= static_cast<uint8_t>(~pfBuffered);
    if (!V->Placed || ::IsRectEmpty(&V->EntryRect) || dynamic_cast<TMbControlItem*>(V->EntryItem)) return;
    HDC dc = Canvas->GetHandle();
    // The window's own colour decides the embossed look of disabled entries.
    const classlib::TColor window = classlib::ColorToRGB(IsPopupView ? classlib::clMenu : classlib::clBtnFace);
    const bool selected = V == SelectedViewer;
    const bool enabled = V->EntryItem->GetEnabled() || InCustomizeMode;
    const bool menuStyle = !V->HasToolbarStyle();
    const bool pushed = selected && (V == OpenSubViewer || (PointerOnSelected && MouseCaptured));
    const bool shadow = !enabled && (!menuStyle || window == classlib::ColorToRGB(classlib::clGrayText) ||
                                     (!selected && window == classlib::ColorToRGB(classlib::clBtnFace)));
    const int saved = ::SaveDC(dc);
    struct TRestore {
        HDC Dc;
        int Saved;
        classlib::TCanvas* Canvas;
        ~TRestore()
        {
            Canvas->Refresh();
            ::RestoreDC(Dc, Saved);
        }
    } restore{dc, saved, Canvas};
    if (::IntersectClipRect(dc, V->EntryRect.left, V->EntryRect.top, V->EntryRect.right, V->EntryRect.bottom) ==
        NULLREGION)
        return;
    POINT org{};
    ::GetViewportOrgEx(dc, &org);
    ::SetViewportOrgEx(dc, org.x + V->EntryRect.left, org.y + V->EntryRect.top, nullptr);
    Canvas->Refresh();
    Canvas->SetFont(ViewFont());
    Canvas->GetFont()->SetColor(!enabled              ? classlib::clGrayText
                                : selected && menuStyle ? classlib::clHighlightText
                                : !menuStyle            ? classlib::clBtnText
                                                        : classlib::clMenuText);
    if (selected && menuStyle) {
        Canvas->GetBrush()->SetColor(FlatMenusOn() ? classlib::TColor(classlib::SysColor(COLOR_MENUHILIGHT))
                                                   : classlib::clHighlight);
    } else {
        Canvas->GetBrush()->SetStyle(classlib::bsClear);
    }
    // Separator lines of the flat look take the canvas pen: a soft grey.
    Canvas->GetPen()->SetColor(classlib::clBtnShadow);
    const RECT area{0, 0, V->EntryRect.right - V->EntryRect.left, V->EntryRect.bottom - V->EntryRect.top};
    V->Paint(Canvas, area, selected, pushed, shadow);
}

void TMbView::DrawAll(classlib::TCanvas* Canvas)
{
    ValidateLayout();
    RECT clip{};
    ::GetClipBox(Canvas->GetHandle(), &clip);
    auto draw = [&](TMbItemViewer* v) {
        RECT meet{};
        if (v->Placed && ::IntersectRect(&meet, &v->EntryRect, &clip)) DrawViewer(v, Canvas, false);
        else v->PaintFlags &= static_cast<uint8_t>(~pfBuffered);
    };
    const bool listOrder = (RunFlags & rfPaintAll) != 0;
    for (TMbItemViewer* v : ViewerList)
        if (listOrder || v != SelectedViewer) draw(v);
    if (!listOrder && SelectedViewer) draw(SelectedViewer);
    RunFlags &= static_cast<uint8_t>(~rfPaintAll);
}

void TMbView::SetUsesPriority(bool Value)
{
    if (UsesPriority == Value) return;
    UsesPriority = Value;
    ResolveShownItem();
}

void TMbView::BehindChevronControls(std::vector<classlib::TControl*>& List)
{
    for (TMbItemViewer* v : ViewerList)
        if (auto* ci = dynamic_cast<TMbControlItem*>(v->EntryItem))
            if (v->BehindChevron && ci->GetControl()) List.push_back(ci->GetControl());
}

// ----------------------------------------------------------- popup windows

namespace {

constexpr const wchar_t* kPopupClass = L"VelmoMbPopupWindow";

TMbPopupWindow* PopupOf(HWND Wnd);

TMbView* PopupViewOf(HWND Wnd)
{
    TMbPopupWindow* w = PopupOf(Wnd);
    return w ? w->GetView() : nullptr;
}

// The 3-pixel frame: flat (a shadow line inside which two lines of the
// window colour) or raised.
void PaintPopupFrame(HWND Wnd, HDC DC)
{
    RECT r{};
    ::GetWindowRect(Wnd, &r);
    ::OffsetRect(&r, -r.left, -r.top);
    if (FlatMenusOn()) {
        classlib::TOwnedBrush shadow(::CreateSolidBrush(::GetSysColor(COLOR_BTNSHADOW)));
        classlib::TOwnedBrush face(::CreateSolidBrush(::GetSysColor(COLOR_MENU)));
        ::FrameRect(DC, &r, shadow.Get());
        ::InflateRect(&r, -1, -1);
        ::FrameRect(DC, &r, face.Get());
        ::InflateRect(&r, -1, -1);
        ::FrameRect(DC, &r, face.Get());
    } else {
        ::DrawEdge(DC, &r, EDGE_RAISED, BF_RECT | BF_ADJUST);
        classlib::TOwnedBrush face(::CreateSolidBrush(::GetSysColor(COLOR_BTNFACE)));
        ::FrameRect(DC, &r, face.Get());
    }
}

void PaintPopupClient(HWND Wnd, TMbPopupWindow* Popup, HDC DC)
{
    TMbView* view = Popup->GetView();
    classlib::TCanvas canvas;
    canvas.SetHandle(DC);
    RECT r{};
    ::GetClientRect(Wnd, &r);
    const TMbCustomItem* shown = view->ShownItem;
    canvas.GetBrush()->SetColor(shown && shown->GetCount() ? shown->GetItem(0)->XPItemBkgrCol : classlib::clMenu);
    canvas.FillRect(r);
    view->DrawAll(&canvas);
    Popup->DrawScrollArrows(&canvas);
    canvas.SetHandle(nullptr);
}

}  // namespace

// The window of a TMbPopupWindow. Popup is cleared before the window goes,
// so messages of the window's last moments find no popup.
class TMbPopupControl : public classlib::TCustomControl {
public:
    TMbPopupControl(TMbPopupWindow* APopup, HWND AOwnerWnd) : classlib::TCustomControl(nullptr), Popup(APopup), ownerWnd_(AOwnerWnd)
    {
        TCustomControl::SetVisible(false);
        SetBounds(0, 0, 320, 240);
        ControlStyle &= ~classlib::csCaptureMouse;
        SetShowHint(true);
        SetColor(classlib::clMenu);
    }
    std::wstring ClassName() const override { return L"TMbPopupControl"; }
    TMbPopupWindow* Popup;

    void WndProc(classlib::TMessage& Message) override
    {
        const HWND wnd = HandleAllocated() ? GetHandle() : nullptr;
        switch (Message.Msg) {
        case WM_MOUSEACTIVATE:
            Message.Result = MA_NOACTIVATE;  // a popup never takes the activation
            return;
        case WM_CLOSE:
            Message.Result = 0;
            return;
        case WM_NCCALCSIZE:
            ::InflateRect(reinterpret_cast<RECT*>(Message.LParam), -3, -3);
            Message.Result = 0;
            return;
        case WM_NCPAINT: {
            classlib::TWindowDC dc(wnd, nullptr, DCX_WINDOW | DCX_CACHE);
            if (dc.Get()) {
                classlib::TSaveDCScope saved(dc.Get());
                ClipToUpdateRegion(wnd, dc.Get(), reinterpret_cast<HRGN>(Message.WParam));
                PaintPopupFrame(wnd, dc.Get());
            }
            Message.Result = 0;
            return;
        }
        case WM_ERASEBKGND:
            FinishOpenEffectOf(wnd);
            Message.Result = 1;
            return;
        case WM_PRINTCLIENT:
            if (Popup) PaintPopupClient(wnd, Popup, reinterpret_cast<HDC>(Message.WParam));
            Message.Result = 0;
            return;
        case WM_PRINT: {
            HDC dc = reinterpret_cast<HDC>(Message.WParam);
            Message.Result = 0;
            if ((Message.LParam & PRF_CHECKVISIBLE) && !::IsWindowVisible(wnd)) return;
            if (Message.LParam & PRF_NONCLIENT) PaintPopupFrame(wnd, dc);
            if ((Message.LParam & PRF_CLIENT) && Popup) {
                classlib::TSaveDCScope saved(dc);
                POINT org{};
                ::GetWindowOrgEx(dc, &org);
                ::SetWindowOrgEx(dc, org.x - 3, org.y - 3, nullptr);
                PaintPopupClient(wnd, Popup, dc);
            }
            return;
        }
        case WM_PAINT: {
            FinishOpenEffectOf(wnd);
            Message.Result = 0;
            if (Message.WParam) {
                // Drawn into a given device context (the off-screen redraw).
                if (Popup) PaintPopupClient(wnd, Popup, reinterpret_cast<HDC>(Message.WParam));
                return;
            }
            classlib::TPaintScope paint(wnd);
            if (Popup) PaintPopupClient(wnd, Popup, paint.Get());
            return;
        }
        case classlib::CM_HINTSHOW:
            Message.Result = Popup ? MbAnswerHintShow(Popup->GetView(), *reinterpret_cast<classlib::THintInfo*>(Message.LParam)) : 1;
            return;
        default: TCustomControl::WndProc(Message);
        }
    }

protected:
    void CreateParams(classlib::TCreateParams& Params) override
    {
        TCustomControl::CreateParams(Params);
        Params.Style = WS_POPUP;
        Params.ExStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
        Params.WndParent = ownerWnd_;
        Params.WinClassName = kPopupClass;
        Params.WindowClassStyle = CS_SAVEBITS | (PlatformIsXPOrLater() ? CS_DROPSHADOW : 0);
    }

private:
    HWND ownerWnd_;
};

namespace {

TMbPopupWindow* PopupOf(HWND Wnd)
{
    auto* control = dynamic_cast<TMbPopupControl*>(classlib::FindControl(Wnd));
    return control ? control->Popup : nullptr;
}

// Whether "MenuPopup" was played once in this run (the first time the
// window is shown before the sound starts).
bool gMenuPopupSoundPlayed = false;

}  // namespace

TMbPopupWindow::TMbPopupWindow(TMbView* UpperView, TMbCustomItem* Item, bool Customizing)
    : view_(std::make_unique<TMbPopupView>(nullptr, UpperView, Item, nullptr, false, Customizing))
{
    view_->RunFlags |= rfInLoop;  // a popup always belongs to a running loop
    if (UpperView) {
        view_->ViewStyle = static_cast<uint8_t>((view_->ViewStyle & ~vsHideAccels) | (UpperView->ViewStyle & vsHideAccels));
        view_->RunFlags |= UpperView->RunFlags & rfAccelsShown;
    } else {
        view_->ViewStyle |= vsHideAccels;
    }
    HWND owner = nullptr;
    if (classlib::Application && classlib::Application->GetMainForm() &&
        classlib::Application->GetMainForm()->HandleAllocated())
        owner = classlib::Application->GetMainForm()->GetHandle();
    control_ = std::make_unique<TMbPopupControl>(this, owner);
    // The entries' font: the opening view's, else the main form's.
    if (UpperView) control_->GetFont()->Assign(UpperView->ViewFont());
    else if (classlib::Application && classlib::Application->GetMainForm())
        control_->GetFont()->Assign(classlib::Application->GetMainForm()->GetFont());
    wnd_ = control_->GetHandle();
    ::SetWindowPos(wnd_, nullptr, 0, 0, 0, 0,
                   SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    view_->Wnd = wnd_;
    if (!UpperView) {
        // A root popup reads the keyboard-cue state once.
        ::SendMessageW(wnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_INITIALIZE, 0), 0);
        const LRESULT state = ::SendMessageW(wnd_, WM_QUERYUISTATE, 0, 0);
        view_->ShowAccelerators(!(state & UISF_HIDEACCEL));
    }
}

TMbPopupWindow::~TMbPopupWindow()
{
    FinishOpenEffectOf(wnd_);
    view_->DisarmAllTimers();
    view_->CloseOpenPopup();
    MbNotifyAccEvent(EVENT_SYSTEM_MENUPOPUPEND, wnd_, OBJID_CLIENT, CHILDID_SELF);
    control_->Popup = nullptr;
    view_->Wnd = nullptr;
    control_.reset();
}

classlib::TCustomControl* TMbPopupWindow::GetControl() const { return control_.get(); }

void TMbPopupWindow::SetVisible(bool Visible)
{
    const bool shown = ::IsWindowVisible(wnd_) != FALSE;
    if (Visible && !shown && !view_->SelectedViewer &&
        !(view_->UpperView && (view_->UpperView->RunFlags & rfPopupClosed)) &&
        SystemFlag(SPI_GETMENUANIMATION, false)) {
        const bool fade = SystemFlag(SPI_GETMENUFADE, false);
        if (fade || AnimDirection) {
            BeginOpenEffect(wnd_, fade, AnimDirection);
            return;
        }
    }
    if (!Visible) FinishOpenEffectOf(wnd_);
    const UINT flags = SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOOWNERZORDER;
    ::SetWindowPos(wnd_, nullptr, 0, 0, 0, 0, flags | (Visible ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
}

void TMbPopupWindow::DrawScrollArrows(classlib::TCanvas* Canvas)
{
    RECT c{};
    ::GetClientRect(wnd_, &c);
    auto arrow = [&](const RECT& R, bool Up) {
        const int cx = (R.left + R.right) / 2, cy = (R.top + R.bottom) / 2 - 1;
        const std::vector<POINT> pts = Up ? std::vector<POINT>{{cx - 3, cy + 3}, {cx + 3, cy + 3}, {cx, cy}}
                                          : std::vector<POINT>{{cx - 3, cy}, {cx + 3, cy}, {cx, cy + 3}};
        Canvas->GetPen()->SetColor(classlib::clMenuText);
        Canvas->GetBrush()->SetColor(classlib::clMenuText);
        Canvas->Polygon(pts);
    };
    if (view_->UpArrowShown) arrow(RECT{0, 0, c.right, 19}, true);
    if (view_->DownArrowShown) arrow(RECT{0, c.bottom - 19, c.right, c.bottom}, false);
}

namespace {

// Places W for Item's popup (see OpenPopupWindow): its size, position and
// slide direction.
void PlacePopup(TMbPopupWindow* W, TMbView* UpperView, TMbItemViewer* UpperViewer, bool PositionAsSubmenu,
                bool SelectFirst, POINT PopupPoint, TPopupAlignment Alignment, TMbView* Chevron)
{
    TMbView* view = W->GetView();
    RECT r{};
    RECT wa{};
    if (UpperView) {
        UpperView->ValidateLayout();
        r = UpperViewer->EntryRect;
        if (HWND upper = HostHandle(UpperView)) ::MapWindowPoints(upper, nullptr, reinterpret_cast<POINT*>(&r), 2);
        wa = ::IsRectEmpty(&UpperView->WorkArea) ? MonitorRectForRect(r, false) : UpperView->WorkArea;
    } else {
        r = RECT{PopupPoint.x, PopupPoint.y, PopupPoint.x, PopupPoint.y};
        wa = MonitorRectForPoint(PopupPoint, false);
    }
    view->WorkArea = wa;
    if (Chevron) view->WrapAt = (wa.right - wa.left) - 6;
    else view->HeightLimit = (wa.bottom - wa.top) - 6;
    if (SelectFirst) view->SelectViewer(view->FirstSelectableEntry());
    view->ScrollPos = 0;
    view->RecalcLayout();
    RECT wr{};
    ::GetWindowRect(W->GetHandle(), &wr);
    const int wd = wr.right - wr.left, ht = wr.bottom - wr.top;
    const bool upperVertical = UpperView && UpperView->Axis == laVertical;

    // Start position.
    int x = 0, y = 0;
    if (!UpperView) {
        x = PopupPoint.x;
        y = PopupPoint.y;
        if (Alignment == paRight) x -= wd;
        if (Alignment == paCenter) x -= wd / 2;
    } else if (PositionAsSubmenu) {
        x = r.right - 3;
        y = r.top - 3;
    } else if (Chevron) {
        if (Chevron->Axis == laVertical) {
            x = r.left - wd;
            y = r.top;
        } else {
            x = r.right - wd;
            y = r.bottom;
        }
    } else if (upperVertical) {
        x = r.left - wd;
        y = r.top;
    } else {
        x = ::GetSystemMetrics(SM_MENUDROPALIGNMENT) ? r.right - wd : r.left;
        y = r.bottom;
    }

    // Vertical fit.
    if (y + ht > wa.bottom && !upperVertical) {
        const int alt = (PositionAsSubmenu ? r.bottom + 3 : r.top) - ht;
        if (alt >= wa.top) y = alt;
    }
    y = std::max(std::min(y, static_cast<int>(wa.bottom) - ht), static_cast<int>(wa.top));

    if (PositionAsSubmenu) {
        // Submenus go on in the direction their parent took; one that does
        // not fit on that side tries the other.
        bool openLeft = UpperView && (UpperView->RunFlags & rfOpenLeft);
        int x2 = x;
        for (;;) {
            x2 = x;
            if (openLeft || x2 + wd > wa.right) {
                x2 = UpperView ? r.left + 3 - wd : x - wd;
                if (openLeft && x2 < wa.left) {
                    openLeft = false;
                    continue;
                }
                view->RunFlags |= rfOpenLeft;
            }
            break;
        }
        x = std::max(x2, static_cast<int>(wa.left));
    } else {
        if (!UpperView && Alignment == paRight && x < wa.left) x += wd;
        if (x + wd > wa.right) x = (UpperView || Alignment != paLeft) ? wa.right - wd : x - wd;
        x = std::max(x, static_cast<int>(wa.left));
        auto covered = [&](int X, int Y) {
            if (!UpperView) return 0;
            HWND upper = HostHandle(UpperView);
            const RECT pr{X, Y, X + wd, Y + ht};
            int n = 0;
            for (TMbItemViewer* v : UpperView->ViewerList) {
                if (!v->Placed) continue;
                RECT e = v->EntryRect;
                if (upper) ::MapWindowPoints(upper, nullptr, reinterpret_cast<POINT*>(&e), 2);
                RECT both{};
                if (::IntersectRect(&both, &e, &pr) && ::EqualRect(&both, &e)) ++n;
            }
            return n;
        };
        auto overlaps = [&] {
            const RECT pr{x, y, x + wd, y + ht};
            RECT both{};
            return ::IntersectRect(&both, &pr, &r) != FALSE;
        };
        if (upperVertical) {
            const int alt = r.right;
            if (alt + wd <= wa.right && (covered(alt, y) < covered(x, y) || overlaps())) x = alt;
            if (overlaps()) {
                int y2 = r.bottom;
                if (y2 + ht > wa.bottom) y2 = r.top - ht;
                y = std::max(y2, static_cast<int>(wa.top));
            }
        } else {
            const int alt = r.top - ht;
            if (alt >= wa.top && (covered(x, alt) < covered(x, y) || overlaps())) y = alt;
            if (overlaps()) {
                int x2 = r.right;
                if (x2 + wd > wa.right) x2 = r.left - wd;
                x = std::max(x2, static_cast<int>(wa.left));
            }
        }
    }

    // The direction a slide takes.
    uint8_t dir = 0;
    if (PositionAsSubmenu) {
        dir = (x + wd / 2 >= r.left + (r.right - r.left) / 2) ? 0x02 : 0x01;
    } else {
        if (y >= r.bottom) dir |= 0x04;
        else if (y + ht <= r.top) dir |= 0x08;
        if (x >= r.right) dir |= 0x02;
        else if (x + wd <= r.left) dir |= 0x01;
    }
    W->AnimDirection = dir;
    ::SetWindowPos(W->GetHandle(), HWND_TOPMOST, x, y, wd, ht, SWP_NOACTIVATE | SWP_NOOWNERZORDER);
}

// Shows the placed popup, with the "MenuPopup" sound when one is set.
void ShowPlacedPopup(TMbPopupWindow* W)
{
    W->GetView()->RunFlags |= rfPaintAll;
    if (SoundConfigured(L"MenuPopup")) {
        if (!gMenuPopupSoundPlayed) {
            W->SetVisible(true);
            ::UpdateWindow(W->GetHandle());
            PlayEventSound(L"MenuPopup");
            gMenuPopupSoundPlayed = true;
        } else {
            PlayEventSound(L"MenuPopup");
            W->SetVisible(true);
        }
    } else {
        W->SetVisible(true);
    }
    MbNotifyAccEvent(EVENT_SYSTEM_MENUPOPUPSTART, W->GetHandle(), OBJID_CLIENT, CHILDID_SELF);
    W->GetView()->NotifyAccFocus();
}

}  // namespace

void TMbPopupWindow::ShowAt(POINT Screen)
{
    PlacePopup(this, nullptr, nullptr, false, false, Screen, paLeft, nullptr);
    ShowPlacedPopup(this);
    ::UpdateWindow(wnd_);
}

TMbPopupWindow* TMbCustomItem::OpenPopupWindow(TMbView* UpperView, TMbItemViewer* UpperViewer,
                                                bool PositionAsSubmenu, bool SelectFirst, bool Customizing,
                                                POINT PopupPoint, TPopupAlignment Alignment)
{
    if (LinkedItem() != this) LinkedItem()->NotifyPopup(this, true);
    NotifyPopup(this, false);
    // A popup handler may have taken the opening entry away.
    if (UpperView && (UpperView->IndexOfViewer(UpperViewer) < 0 || UpperViewer->EntryItem != this)) return nullptr;
    TMbView* chevron = ChevronSourceView();
    TMbCustomItem* shown = chevron && chevron->SourceItem ? chevron->SourceItem : this;
    auto window = std::make_unique<TMbPopupWindow>(UpperView, shown, Customizing);
    TMbView* view = window->GetView();
    if (chevron) {
        chevron->FreeNotification(view);
        view->ChevronHost = chevron;
        view->IsToolbarView = true;
        view->IsPopupView = false;
        view->ViewStyle |= chevron->ViewStyle & vsMenuHints;
    }
    PlacePopup(window.get(), UpperView, UpperViewer, PositionAsSubmenu, SelectFirst, PopupPoint, Alignment, chevron);
    TMbPopupWindow* result = window.get();
    if (UpperView) {
        UpperView->OpenSubWindow = std::move(window);
        UpperView->OpenSubView = view;
        UpperView->OpenSubViewer = UpperViewer;
        if (UpperView->IsToolbarView) {
            UpperView->RunFlags |= rfMenuOpen;
            UpperView->InvalidateViewer(UpperViewer);
            if (HWND upper = HostHandle(UpperView)) ::UpdateWindow(upper);
        }
        ShowPlacedPopup(result);
    } else {
        ShowPlacedPopup(result);
        window.release();
    }
    return result;
}

TMbCustomItem* TMbCustomItem::RunPopup(bool SelectFirst, bool TrackRightButton, POINT Point, TPopupAlignment Alignment,
                                      bool ReturnClickedItemOnly)
{
    TMbMenuOutcome outcome;
    {
        TMbModalHandler handler(nullptr);
        std::unique_ptr<TMbPopupWindow> window(
            OpenPopupWindow(nullptr, nullptr, false, SelectFirst, false, Point, Alignment));
        TMbView* view = window->GetView();
        view->RunFlags |= rfIgnoreRelease;
        handler.StandalonePopup = window.get();
        struct TFinally {
            TMbModalHandler& Handler;
            TMbView* View;
            ~TFinally()
            {
                Handler.StandalonePopup = nullptr;
                View->RunFlags &= static_cast<uint8_t>(~rfInLoop);
            }
        } finally{handler, view};
        handler.RunLoop(view, false, false, false, TrackRightButton);
        outcome = view->Outcome;
    }
    return CarryOutOutcome(outcome, ReturnClickedItemOnly);
}

TMbCustomItem* TMbView::EnterModalLoop(uint8_t Options)
{
    if (RunFlags & rfInLoop) return nullptr;
    {
        TMbModalHandler handler(HostHandle(this));
        RunFlags = static_cast<uint8_t>((RunFlags & rfAccelsShown) | rfInLoop);
        Outcome.Kind = moNone;
        NotifyAccFocus();
        struct TFinally {
            TMbView* View;
            ~TFinally()
            {
                View->RunFlags &= static_cast<uint8_t>(~rfInLoop);
                View->DisarmAllTimers();
                View->CloseOpenPopup();
                View->TrackPointer(POINT{static_cast<LONG>(0x80000000), 0}, true);
            }
        } finally{this};
        handler.RunLoop(this, Options & mlStartedByMouseDown, Options & mlExecuteSelection,
                        Options & mlWithoutPriority, false);
    }
    ShowAccelerators(false);
    return CarryOutOutcome(Outcome, false);
}

// --------------------------------------------------------- viewer mouse

void TMbItemViewer::AccFocusEvent(WPARAM WParam)
{
    (void)WParam;
    const int index = OwnerView->IndexOfViewer(this);
    if (HWND wnd = HostHandle(OwnerView)) MbNotifyAccEvent(EVENT_OBJECT_FOCUS, wnd, OBJID_CLIENT, index + 1);
}

bool TMbItemViewer::QueueClick()
{
    OwnerView->FinishWithClick(this);
    return true;
}

void TMbItemViewer::Trigger(bool Promote)
{
    TMbView* view = OwnerView;
    if (QueueClick() && Promote) view->PromoteViewer(this);
}

POINT TMbItemViewer::ScreenToViewer(POINT Screen) const
{
    POINT p = Screen;
    if (HWND wnd = HostHandle(OwnerView)) ::ScreenToClient(wnd, &p);
    return POINT{p.x - EntryRect.left, p.y - EntryRect.top};
}

void TMbItemViewer::CaptureLost() { OwnerView->InvalidateViewer(this); }

void TMbItemViewer::MouseDown(classlib::TShiftState Shift, int X, int Y, bool& MouseDownOnMenu)
{
    TMbView* view = OwnerView;
    const bool topLevelBar = !view->UpperView && !view->IsPopupView;
    if (!EntryItem->GetEnabled()) {
        if (topLevelBar) view->FinishCancel();
        return;
    }
    if (!InButtonPart(X, Y)) {
        const bool wasOpen = view->OpenSubViewer == this;
        if (!view->OpenSelectedPopup(false)) return;
        if (wasOpen && topLevelBar) MouseDownOnMenu = true;  // a second press on an open menu-bar entry
        if ((Shift & classlib::ssDouble) && !(EntryItem->GetKinds() & ikCombo) && view->OpenSubView) {
            // A double click runs the submenu's default entry.
            TMbView* sub = view->OpenSubView;
            for (TMbItemViewer* v : sub->ViewerList) {
                TMbCustomItem* item = v->EntryItem;
                if ((v->Placed || v->ScrolledAway) && item->GetVisible() && item->GetEnabled() &&
                    (item->GetKinds() & ikSelectable) && (item->GetEffectiveOptions() & tboDefault)) {
                    v->Trigger(true);
                    break;
                }
            }
        }
        return;
    }
    if (HasToolbarStyle()) {
        view->LeaveMenuMode();
        view->CaptureMouse();
        view->InvalidateViewer(this);
    }
}

void TMbItemViewer::MouseUp(int X, int Y, bool MouseWasDownOnMenu)
{
    TMbView* view = OwnerView;
    const bool wasCaptured = view->MouseCaptured;
    view->UncaptureMouse();
    const bool topLevelBar = !view->UpperView && !view->IsPopupView;
    const bool clickable = EntryItem->GetEnabled() && !(EntryItem->GetKinds() & ikNoClick);
    if (view->PointerOnSelected && view->SelectedViewer == this && clickable) {
        if ((EntryItem->GetKinds() & ikSubmenu) && !InButtonPart(X, Y)) {
            if (topLevelBar && MouseWasDownOnMenu) view->FinishCancel();  // the second press closes the menu
        } else if (wasCaptured || !HasToolbarStyle()) {
            Trigger(true);
        }
        return;
    }
    if (topLevelBar) view->FinishCancel();
}

// --------------------------------------------------------------- menu loop

namespace {

constexpr const wchar_t* kHandlerClass = L"VelmoMbModalHandler";

LRESULT CALLBACK HandlerWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    const LRESULT result = ::DefWindowProcW(Wnd, Msg, WParam, LParam);
    if (Msg == WM_CANCELMODE) {
        auto* handler = reinterpret_cast<TMbModalHandler*>(::GetWindowLongPtrW(Wnd, GWLP_USERDATA));
        if (handler && handler->StandalonePopup) {
            try {
                handler->StandalonePopup->GetView()->CancelMenus();
            } catch (...) {
                if (classlib::Application) classlib::Application->HandleException(nullptr);
            }
        }
    }
    return result;
}

HWND CreateHandlerWindow(TMbModalHandler* Handler)
{
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &HandlerWndProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = kHandlerClass;
        if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) classlib::RaiseLastOSError();
        return true;
    }();
    (void)registered;
    HWND wnd = ::CreateWindowExW(0, kHandlerClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
    if (!wnd) classlib::RaiseLastOSError();
    ::SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(Handler));
    return wnd;
}

TMbView* DeepestView(TMbView* V)
{
    while (V->OpenSubView) V = V->OpenSubView;
    return V;
}

classlib::TShiftState KeyShiftState()
{
    classlib::TShiftState shift = 0;
    if (::GetKeyState(VK_SHIFT) < 0) shift |= classlib::ssShift;
    if (::GetKeyState(VK_CONTROL) < 0) shift |= classlib::ssCtrl;
    if (::GetKeyState(VK_MENU) < 0) shift |= classlib::ssAlt;
    return shift;
}

}  // namespace

TMbModalHandler::TMbModalHandler(HWND ExistingWnd)
{
    LastPointerPos = LastMessagePoint();
    if (ExistingWnd) {
        captureWnd_ = ExistingWnd;
    } else {
        captureWnd_ = CreateHandlerWindow(this);
        ownsWnd_ = true;
    }
    // A focused window of another thread (attached input) gives up the focus
    // while the menu runs.
    HWND focus = ::GetFocus();
    if (focus && ::GetWindowThreadProcessId(focus, nullptr) != ::GetCurrentThreadId()) {
        focusToRestore_ = focus;
        ::SetFocus(nullptr);
    }
    LockForeground(true);
    ::SetCapture(captureWnd_);
    ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
    MbNotifyAccEvent(EVENT_SYSTEM_MENUSTART, captureWnd_, OBJID_CLIENT, CHILDID_SELF);
    eventsRaised_ = true;
}

TMbModalHandler::~TMbModalHandler()
{
    LockForeground(false);
    if (::GetCapture() == captureWnd_) ::ReleaseCapture();
    if (eventsRaised_) MbNotifyAccEvent(EVENT_SYSTEM_MENUEND, captureWnd_, OBJID_CLIENT, CHILDID_SELF);
    if (ownsWnd_) ::DestroyWindow(captureWnd_);
    if (!::GetFocus() && focusToRestore_ && ::IsWindow(focusToRestore_)) ::SetFocus(focusToRestore_);
}

void TMbModalHandler::RunLoop(TMbView* V, bool StartedByMouseDown, bool ExecuteSelectedFirst, bool WithoutPriority,
                              bool TrackRightButton)
{
    V->Outcome = TMbMenuOutcome{};
    V->ValidateLayout();
    V->LoopWnd = captureWnd_;
    bool mouseDownOnMenu = false;
    struct TFinally {
        TMbView* View;
        ~TFinally()
        {
            View->UncaptureMouse();
            View->LoopWnd = nullptr;
            // The hints of a menu end with it.
            if (classlib::Application) {
                classlib::Application->SetHint(L"");
                classlib::Application->CancelHint();
            }
            DiscardMessages(WM_CHAR, WM_DEADCHAR);
            DiscardMessages(WM_SYSCHAR, WM_SYSDEADCHAR);
            DiscardMessages(WM_HELP, WM_HELP);
        }
    } finally{V};

    auto chain = [&] {
        std::vector<TMbView*> views;
        for (TMbView* v = V; v; v = v->OpenSubView) views.push_back(v);
        return views;
    };
    // Every view from the deepest up tracks the pointer, except that a view
    // holding the mouse capture tracks alone.
    auto track = [&](POINT P, bool AllowSelect) {
        const std::vector<TMbView*> views = chain();
        for (TMbView* v : views)
            if (v->MouseCaptured) {
                v->TrackPointer(P, AllowSelect);
                return;
            }
        for (auto it = views.rbegin(); it != views.rend(); ++it) (*it)->TrackPointer(P, AllowSelect);
    };
    // The viewer a mouse message is meant for, and its view.
    auto target = [&](TMbView*& View) -> TMbItemViewer* {
        const std::vector<TMbView*> views = chain();
        View = nullptr;
        for (TMbView* v : views)
            if (v->MouseCaptured && v->SelectedViewer) {
                View = v;
                return v->SelectedViewer;
            }
        for (TMbView* v : views)
            if (v->SelectedViewer && v->PointerOnSelected) {
                View = v;
                return v->SelectedViewer;
            }
        for (TMbView* v : views)
            if (v->RunFlags & rfPointerInside) {
                View = v;
                break;
            }
        return nullptr;
    };
    auto cancelHint = [] {
        if (classlib::Application) classlib::Application->CancelHint();
    };
    // Entries of views that show hints (and entries that ask for them) get
    // the hint tracking of their host window; others end the hint.
    auto trackHint = [&](TMbView* View, TMbItemViewer* Viewer) {
        const HWND host = HostHandle(View);
        classlib::TWinControl* control = classlib::FindControl(host);
        if (!classlib::Application || !control || View->MouseCaptured ||
            !((View->ViewStyle & vsMenuHints) || (Viewer->EntryItem->GetEffectiveOptions() & tboShowHint))) {
            cancelHint();
            return;
        }
        ::UpdateWindow(host);
        POINT c = LastPointerPos;
        ::ScreenToClient(host, &c);
        classlib::TMessage move{WM_MOUSEMOVE, 0, MAKELPARAM(c.x, c.y), 0};
        classlib::Application->HintMouseMessage(control, move);
    };
    auto pointerMove = [&] {
        track(LastPointerPos, true);
        TMbView* view = nullptr;
        HCURSOR cursor = nullptr;
        if (TMbItemViewer* t = target(view)) {
            trackHint(view, t);
            const POINT p = t->ScreenToViewer(LastPointerPos);
            t->CursorAt(p.x, p.y, cursor);
            ::SetCursor(cursor ? cursor : ::LoadCursorW(nullptr, IDC_ARROW));
            t->MouseMove(p.x, p.y);
        } else {
            cancelHint();
            ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
        }
    };
    // The status hint: the long hint of the deepest selected entry.
    auto updateStatusHint = [&] {
        if (!classlib::Application) return;
        std::wstring status;
        for (TMbView* v = V; v; v = v->OpenSubView)
            if (v->SelectedViewer) status = classlib::GetLongHint(v->SelectedViewer->EntryItem->Hint);
        classlib::Application->SetHint(status);
    };

    if (StartedByMouseDown) {
        if (TMbItemViewer* s = V->SelectedViewer) {
            const POINT p = s->ScreenToViewer(LastPointerPos);
            s->MouseDown(0, p.x, p.y, mouseDownOnMenu);
        }
        if (V->IsDone()) return;
        mouseDownOnMenu = false;
        // The press opened a popup from the bar: its own release, on the
        // entry or elsewhere on the bar, leaves the popup open for a click.
        if (V->IsToolbarView && V->OpenSubView) V->RunFlags |= rfIgnoreRelease;
    } else if (ExecuteSelectedFirst) {
        V->ActivateSelection(!WithoutPriority);
        if (V->IsDone()) return;
    }

    const HWND active = ::GetActiveWindow();
    auto valid = [&] { return ::GetCapture() == captureWnd_ && ::GetActiveWindow() == active && !V->IsDone(); };
    while (valid()) {
        StepOpenEffect();
        MSG msg;
        if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (OpenEffectRunning()) ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
            else ::WaitMessage();
            continue;
        }
        // Pointer positions come from the message itself (client
        // coordinates of its window), not from the shared cursor.
        POINT at = msg.pt;
        const bool mouseMsg = msg.message >= WM_MOUSEFIRST && msg.message <= WM_MOUSELAST;
        if (mouseMsg && msg.message != WM_MOUSEWHEEL && msg.hwnd) {
            at = POINT{static_cast<short>(LOWORD(msg.lParam)), static_cast<short>(HIWORD(msg.lParam))};
            ::ClientToScreen(msg.hwnd, &at);
        }
        const bool leftPress = msg.message == WM_LBUTTONDOWN || msg.message == WM_LBUTTONDBLCLK ||
                               msg.message == WM_NCLBUTTONDOWN || msg.message == WM_NCLBUTTONDBLCLK;
        const bool rightPress = msg.message == WM_RBUTTONDOWN || msg.message == WM_RBUTTONDBLCLK ||
                                msg.message == WM_NCRBUTTONDOWN;
        if (leftPress || rightPress) {
            HWND under = ::WindowFromPoint(at);
            TMbView* underView = PopupViewOf(under);
            if (!(underView && TMbView::IsInChain(V, underView))) {
                HWND host = HostHandle(V);
                if (V->IsPopupView || under != host) break;  // the press stays for its window
                POINT c = at;
                ::ScreenToClient(host, &c);
                RECT client{};
                ::GetClientRect(host, &client);
                if (!::PtInRect(&client, c)) break;
                if (leftPress) {
                    LastPointerPos = at;
                    track(at, true);
                    TMbItemViewer* s = V->SelectedViewer;
                    if (!s || !V->PointerOnSelected || (s->EntryItem->GetKinds() & ikNoClick)) break;
                }
            }
        }
        if (!::PeekMessageW(&msg, msg.hwnd, msg.message, msg.message, PM_REMOVE)) continue;
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        switch (msg.message) {
        case WM_HELP:
        case WM_CONTEXTMENU:
        case 0x0118:  // WM_SYSTIMER (caret blinking)
            break;
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
        case WM_KEYUP:
        case WM_SYSKEYUP:
        case WM_CHAR:
        case WM_SYSCHAR:
        case WM_DEADCHAR:
        case WM_SYSDEADCHAR: {
            cancelHint();
            const bool buttonDown =
                ::GetKeyState(VK_LBUTTON) < 0 || (TrackRightButton && ::GetKeyState(VK_RBUTTON) < 0);
            TMbView* d = DeepestView(V);
            if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) {
                WORD key = static_cast<WORD>(msg.wParam);
                if (key == VK_PROCESSKEY) key = static_cast<WORD>(::ImmGetVirtualKey(msg.hwnd));
                if (buttonDown && key != VK_F1) break;
                const classlib::TShiftState shift = KeyShiftState();
                if (d->SelectedViewer) d->SelectedViewer->HandleKeyDown(key, shift);
                if (key != 0) d->HandleKey(key, shift);
                if (V->IsDone()) break;
                if (key != 0) ::TranslateMessage(&msg);
            } else if (msg.message == WM_CHAR || msg.message == WM_SYSCHAR) {
                if (buttonDown) break;
                const auto ch = static_cast<wchar_t>(msg.wParam);
                bool unique = false;
                if (TMbItemViewer* found = d->FindAccelEntry(d->SelectedViewer, ch, unique, false)) {
                    d->SelectViewer(found);
                    d->RevealSelection();
                    if (unique) d->ActivateSelection(true);
                } else if ((ch == L' ' || ch == L'-') && !V->IsPopupView && d == V && ::GetActiveWindow()) {
                    V->FinishWithSystemKey(::GetActiveWindow(), ch);
                } else {
                    ::MessageBeep(0);
                }
            }
            break;
        }
        case WM_TIMER: {
            TMbView* view = PopupViewOf(msg.hwnd);
            if (!view || msg.wParam < 9000 || msg.wParam > 9003) {
                ::DispatchMessageW(&msg);
                break;
            }
            switch (msg.wParam - 9000) {
            case kTimerOpen:
                view->DisarmTimer(kTimerOpen);
                if (view->SelectedViewer != view->OpenSubViewer) view->CloseOpenPopup();
                view->OpenSelectedPopup(false);
                break;
            case kTimerClose:
                view->CloseOpenPopup();
                break;
            case kTimerScrollUp:
                if (view->UpArrowShown) view->ScrollStep(false);
                else view->DisarmTimer(kTimerScrollUp);
                break;
            default:
                if (view->DownArrowShown) view->ScrollStep(true);
                else view->DisarmTimer(kTimerScrollDown);
                break;
            }
            break;
        }
        case WM_MOUSEMOVE:
            if (at.x == LastPointerPos.x && at.y == LastPointerPos.y) break;
            LastPointerPos = at;
            pointerMove();
            break;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONDBLCLK: {
            const bool right = msg.message == WM_RBUTTONDOWN || msg.message == WM_RBUTTONDBLCLK;
            if (right && !TrackRightButton) break;
            cancelHint();
            mouseDownOnMenu = false;
            V->RunFlags &= static_cast<uint8_t>(~rfIgnoreRelease);
            LastPointerPos = at;
            track(at, true);
            TMbView* view = nullptr;
            if (TMbItemViewer* t = target(view)) {
                const POINT p = t->ScreenToViewer(at);
                const bool dbl = msg.message == WM_LBUTTONDBLCLK || msg.message == WM_RBUTTONDBLCLK;
                t->MouseDown(dbl ? classlib::ssDouble : 0, p.x, p.y, mouseDownOnMenu);
            }
            break;
        }
        case WM_LBUTTONUP:
        case WM_RBUTTONUP: {
            if (msg.message == WM_RBUTTONUP && !TrackRightButton) break;
            LastPointerPos = at;
            track(at, false);
            TMbView* view = nullptr;
            if (TMbItemViewer* t = target(view)) {
                const POINT p = t->ScreenToViewer(at);
                t->MouseUp(p.x, p.y, mouseDownOnMenu);
            }
            if (!view || (view == V && V->IsToolbarView)) {
                // The release of the press that opened a popup menu is
                // ignored; a later release outside ends the menu.
                if (V->RunFlags & rfIgnoreRelease) V->RunFlags &= static_cast<uint8_t>(~rfIgnoreRelease);
                else if (!V->IsDone()) V->FinishCancel();
            }
            break;
        }
        case WM_MOUSEWHEEL: {
            track(LastPointerPos, true);
            TMbView* view = nullptr;
            if (TMbItemViewer* t = target(view)) {
                const POINT p = t->ScreenToViewer(msg.pt);
                t->MouseWheel(static_cast<short>(HIWORD(msg.wParam)), p.x, p.y);
            }
            break;
        }
        default:
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (!valid()) break;
        if (!HasPointerPos()) {
            LastPointerPos = LastMessagePoint();
            pointerMove();
        }
        updateStatusHint();
    }
}

// The help outcome's receiver (the program's help system); unassigned: the
// help request is dropped.
TMbHelpEvent MbHelpHandler;

TMbCustomItem* CarryOutOutcome(const TMbMenuOutcome& Outcome, bool ReturnClickedItemOnly)
{
    switch (Outcome.Kind) {
    case moClickItem:
        if (Outcome.FromPopup && SoundConfigured(L"MenuCommand")) PlayEventSound(L"MenuCommand");
        if (!ReturnClickedItemOnly) PostDeferred(Outcome.ClickedItem, 0);
        return Outcome.ClickedItem;
    case moSystemKey:
        ::SendMessageW(Outcome.KeyWnd, WM_SYSCOMMAND, SC_KEYMENU, Outcome.Key);
        return nullptr;
    case moHelp: {
        classlib::TCustomForm* form = classlib::Screen ? classlib::Screen->GetActiveForm() : nullptr;
        const bool popupHelp = form && (form->GetBorderIcons() & classlib::biHelp);
        MbHelpHandler(popupHelp ? static_cast<UINT>(HELP_CONTEXTPOPUP) : static_cast<UINT>(HELP_CONTEXT),
                      Outcome.HelpId);
        return nullptr;
    }
    default:
        return nullptr;
    }
}


namespace {

// The automation messages of forms click an enabled, visible item as a user
// would (classlib/Automation.h).
bool ClickItemForAutomation(classlib::TComponent* Component)
{
    auto* item = dynamic_cast<TMbCustomItem*>(Component);
    if (!item || !item->GetEnabled() || !item->GetVisible()) return false;
    item->PerformClick();
    return true;
}

const bool kAutomationRegistered = (classlib::RegisterAutomationClicker(&ClickItemForAutomation), true);

}  // namespace

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
