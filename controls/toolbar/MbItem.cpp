// Items and their actions: shortcuts and their text, the per-thread deferred
// dispatch of clicks and focus events, the item tree with its options, images
// and listeners, action links, shortcut search, and the clicker that lets
// automation messages press an item.
#include "controls/toolbar/MbItem.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>

#include "classlib/Automation.h"
#include "classlib/Forms.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "controls/toolbar/MbAcc.h"
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

}  // namespace toolbar
