#include "controls/toolbar/MbItem.h"

#include <algorithm>

#include "classlib/Automation.h"
#include "classlib/Forms.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"

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
    int Instances = 0;

    const void* DeadMark() const { return &Slots; }
    ~TDeferredState() { Free(); }
    void Free()
    {
        if (Wnd) ::DestroyWindow(Wnd);
        Wnd = nullptr;
        Slots.clear();
    }
};

thread_local TDeferredState tDeferred;

LRESULT CALLBACK DeferredWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    if (Msg != kDeferredMessage) return ::DefWindowProcW(Wnd, Msg, WParam, LParam);
    TDeferredState& s = tDeferred;
    const void* target = nullptr;
    const auto slot = static_cast<std::size_t>(LParam);
    if (LParam >= 0 && slot < s.Slots.size()) {
        target = s.Slots[slot];
        s.Slots[slot] = nullptr;
        if (target == s.DeadMark()) target = nullptr;
    }
    while (!s.Slots.empty() && !s.Slots.back()) s.Slots.pop_back();
    if (target) {
        try {
            static_cast<TMbCustomItem*>(const_cast<void*>(target))->PerformClick();
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

void PostDeferred(TMbCustomItem* Target, WPARAM WParam)
{
    HWND wnd = DeferredWindow();
    TDeferredState& s = tDeferred;
    auto free = std::find(s.Slots.begin(), s.Slots.end(), nullptr);
    const auto slot = static_cast<std::size_t>(free - s.Slots.begin());
    if (free == s.Slots.end()) s.Slots.push_back(Target);
    else *free = Target;
    ::PostMessageW(wnd, kDeferredMessage, WParam, static_cast<LPARAM>(slot));
}

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

void TMbCustomItem::PerformClick()
{
    if (!enabled_) return;
    if (AutoCheck) SetChecked(!checked_);
    OnClick(this);
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

std::wstring RemoveAccelMarks(const std::wstring& S)
{
    std::wstring out;
    for (std::size_t i = 0; i < S.size(); ++i) {
        if (S[i] == L'&' && i + 1 < S.size()) ++i;
        else if (S[i] == L'&') continue;
        out += S[i];
    }
    return out;
}

bool KeyboardCuesOn()
{
    BOOL on = TRUE;
    if (!::SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &on, 0)) return true;
    return on != FALSE;
}

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
        text = CaptionText();
        // Trailing "..." or ":" go, then the accelerator marks.
        if (text.size() >= 3 && text.compare(text.size() - 3, 3, L"...") == 0) text.resize(text.size() - 3);
        else if (!text.empty() && text.back() == L':') text.pop_back();
        text = RemoveAccelMarks(text);
    }
    if (!text.empty() && classlib::Application && EntryItem->GetShortCut())
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
    auto draw = [&](const RECT& R) {
        RECT r = R;
        ::DrawTextW(dc, Caption.c_str(), static_cast<int>(Caption.size()), &r, Format);
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
        FillSolid(Canvas, RECT{r.left, r.top, strip, r.bottom}, item->XPItemLeftCol);
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
        FillSolid(Canvas, RECT{0, ClientAreaRect.top, strip, ClientAreaRect.bottom}, EntryItem->XPItemLeftCol);
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
    CloseOpenPopup();
    FreeViewers();
    if (AccObject) MbAccOwnerGone(AccObject);
    if (ShownItem) ShownItem->UnregisterListener(TMbItemChangedProc(this, &TMbView::ShownChanged));
    if (SourceItem) SourceItem->UnregisterListener(TMbItemChangedProc(this, &TMbView::SourceChanged));
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

void TMbView::FreeViewers()
{
    CloseOpenPopup();
    SelectedViewer = nullptr;
    std::vector<TMbItemViewer*> viewers = std::move(ViewerList);
    ViewerList.clear();
    for (TMbItemViewer* v : viewers) delete v;
}

void TMbView::ResolveShownItem()
{
    TMbCustomItem* shown = SourceItem ? SourceItem->LinkedItem() : nullptr;
    if (shown != ShownItem) {
        if (ShownItem) ShownItem->UnregisterListener(TMbItemChangedProc(this, &TMbView::ShownChanged));
        ShownItem = shown;
        if (ShownItem && ShownItem != SourceItem) {
            ShownItem->RegisterListener(TMbItemChangedProc(this, &TMbView::ShownChanged));
            ShownItem->FreeNotification(this);
        }
    }
    FreeViewers();
    if (!ShownItem) return;
    for (int i = 0; i < ShownItem->GetCount(); ++i) ViewerList.push_back(ShownItem->GetItem(i)->CreateViewer(this, 0));
}

void TMbView::SourceChanged(TMbCustomItem* Sender, TMbItemChange Change, int Index, TMbCustomItem* Item)
{
    if (Change == icLinkChanged) ResolveShownItem();
    else if (ShownItem == SourceItem) ShownChanged(Sender, Change, Index, Item);
}

void TMbView::ShownChanged(TMbCustomItem* Sender, TMbItemChange Change, int Index, TMbCustomItem* Item)
{
    if (Sender != ShownItem) return;
    if (Change == icInserted) {
        const int at = std::clamp(Index, 0, EntryCount());
        ViewerList.insert(ViewerList.begin() + at, Item->CreateViewer(this, 0));
    } else if (Change == icDeleting) {
        for (auto it = ViewerList.begin(); it != ViewerList.end(); ++it)
            if ((*it)->EntryItem == Item) {
                TMbItemViewer* v = *it;
                if (SelectedViewer == v) SelectedViewer = nullptr;
                if (OpenSubViewer == v) CloseOpenPopup();
                ViewerList.erase(it);
                delete v;
                break;
            }
    }
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
    }
}

classlib::TFont* SharedMenuFont()
{
    static classlib::TFont* font = [] {
        auto* f = new classlib::TFont();
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof(metrics);
        if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
            if (HFONT h = ::CreateFontIndirectW(&metrics.lfMenuFont)) f->SetHandle(h);
        }
        return f;
    }();
    return font;
}

RECT TMbView::LayoutMargins(TMbLayoutAxis AAxis) const
{
    return AAxis == laFloating ? RECT{4, 2, 4, 1} : RECT{0, 0, 0, 0};
}

classlib::TFont* TMbView::ViewFont() { return HostWindow ? HostWindow->GetFont() : SharedMenuFont(); }

POINT TMbView::RecalcLayout()
{
    int lines = 0;
    POINT total{}, base{};
    Layout(true, Axis, lines, total, base, ChevronWidth, ChevronAt, WrapAt);
    NaturalSize = base;
    return total;
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
                // A chevron popup shows the host's entries hidden behind
                // its chevron, never the hosted controls.
                if (dynamic_cast<TMbControlItem*>(item)) continue;
                if (i >= ChevronHost->ViewerList.size()) continue;
                if (!IsSeparator(v[i]) && !ChevronHost->ViewerList[i]->BehindChevron) continue;
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
            if (v[i]->HasToolbarStyle()) cx = cy = 6;
            v[i]->MeasureSize(&canvas, cx, cy);
            canvas.GetFont()->SetStyle(style);
            if (v[i]->SameWidthWanted()) {
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
    if (!Wnd || !Viewer || !Viewer->Placed) return;
    ::InvalidateRect(Wnd, &Viewer->EntryRect, FALSE);
}

void TMbView::ChangeSelection(TMbItemViewer* Viewer, bool ViaMouse)
{
    (void)ViaMouse;
    if (Viewer == SelectedViewer) return;
    // The pointer reaching a popup keeps its owning entry highlighted.
    if (Viewer && UpperView && UpperView->OpenSubViewer && UpperView->SelectedViewer != UpperView->OpenSubViewer)
        UpperView->SelectViewer(UpperView->OpenSubViewer);
    if (!ViaMouse && Viewer != OpenSubViewer) CloseOpenPopup();
    TMbItemViewer* old = SelectedViewer;
    if (old) old->LeaveSelection();
    SelectedViewer = Viewer;
    if (old && (old->EntryItem->GetKinds() & ikRepaintOnSelect)) InvalidateViewer(old);
    if (Viewer) {
        if (Viewer->EntryItem->GetKinds() & ikRepaintOnSelect) InvalidateViewer(Viewer);
        Viewer->EnterSelection();
    }
}

TMbItemViewer* TMbView::StepSelectable(TMbItemViewer* From, bool Forward)
{
    const int n = EntryCount();
    if (n == 0) return nullptr;
    int i = From ? IndexOfViewer(From) : (Forward ? -1 : n);
    for (int step = 0; step < n; ++step) {
        i = Forward ? (i + 1) % n : (i - 1 + n) % n;
        TMbItemViewer* v = ViewerList[static_cast<std::size_t>(i)];
        if ((v->Placed || v->ScrolledAway) && v->EntryItem->GetVisible() && (v->EntryItem->GetKinds() & ikSelectable))
            return v;
    }
    return nullptr;
}

void TMbView::MoveSelection(bool Forward) { SelectViewer(StepSelectable(SelectedViewer, Forward)); }

bool TMbView::OpenSelectedPopup(bool SelectFirst)
{
    TMbItemViewer* v = SelectedViewer;
    if (v != OpenSubViewer) CloseOpenPopup();
    if (OpenSubViewer) return true;
    if (!v || !v->EntryItem->GetEnabled() || !(v->EntryItem->GetKinds() & ikSubmenu)) return false;
    TMbCustomItem* item = v->EntryItem;
    // Popup handlers may rebuild the sub-items before they are shown.
    if (item->LinkedItem() != item) item->LinkedItem()->NotifyPopup(item, true);
    item->NotifyPopup(item, false);
    if (SelectedViewer != v || IndexOfViewer(v) < 0) return false;
    auto window = std::make_unique<TMbPopupWindow>(this, item);
    window->GetView()->ChevronHost = item->ChevronSourceView();
    // A horizontal toolbar row opens its menus below the entry.
    const bool below = IsToolbarView && Axis != laVertical;
    POINT at{below ? v->EntryRect.left : v->EntryRect.right, below ? v->EntryRect.bottom : v->EntryRect.top};
    if (Wnd) ::ClientToScreen(Wnd, &at);
    window->ShowAt(at);
    OpenSubViewer = v;
    OpenSubView = window->GetView();
    OpenSubWindow = std::move(window);
    if (SelectFirst) OpenSubView->SelectViewer(OpenSubView->StepSelectable(nullptr, true));
    return true;
}

void TMbView::CloseOpenPopup()
{
    if (!OpenSubWindow) return;
    if (OpenSubView) OpenSubView->CloseOpenPopup();
    std::unique_ptr<TMbPopupWindow> window = std::move(OpenSubWindow);
    OpenSubView = nullptr;
    TMbItemViewer* was = OpenSubViewer;
    OpenSubViewer = nullptr;
    window.reset();
    InvalidateViewer(was);
}

void TMbView::FinishCancel() { RootView()->Outcome.Kind = moCancel; }

void TMbView::FinishWithClick(TMbItemViewer* Viewer)
{
    TMbMenuOutcome& o = RootView()->Outcome;
    o.ClickedItem = Viewer->EntryItem;
    o.FromPopup = Viewer->OwnerView && Viewer->OwnerView->IsPopupView;
    o.Kind = moClickItem;
}

void TMbView::ActivateSelection()
{
    TMbItemViewer* v = SelectedViewer;
    if (v && v->EntryItem->GetEnabled()) {
        if (!(v->EntryItem->GetKinds() & ikCombo) && OpenSelectedPopup(true)) return;
        if (v->EntryItem->GetKinds() & ikSelectable) {
            FinishWithClick(v);
            return;
        }
    }
    FinishCancel();
}

void TMbView::HandleKey(WORD& Key)
{
    // A horizontal toolbar row (a menu bar): Left and Right step along the
    // row, Down opens the selected entry's menu. In a menu opened from such
    // a row, Left and Right (when the entry opens nothing) move to the
    // neighbouring menu of the row.
    const bool row = IsToolbarView && Axis != laVertical;
    if (row && (Key == VK_LEFT || Key == VK_RIGHT)) {
        const bool reopen = OpenSubViewer != nullptr;
        CloseOpenPopup();
        MoveSelection(Key == VK_RIGHT);
        if (reopen) OpenSelectedPopup(true);
        Key = 0;
        return;
    }
    if (row && (Key == VK_DOWN || Key == VK_UP)) {
        OpenSelectedPopup(true);
        Key = 0;
        return;
    }
    if (UpperView && UpperView->IsToolbarView && UpperView->Axis != laVertical && UpperView->OpenSubView == this &&
        (Key == VK_LEFT ||
         (Key == VK_RIGHT && !(SelectedViewer && (SelectedViewer->EntryItem->GetKinds() & ikSubmenu))))) {
        TMbView* upper = UpperView;
        upper->CloseOpenPopup();  // deletes this view
        upper->MoveSelection(Key == VK_RIGHT);
        upper->OpenSelectedPopup(true);
        Key = 0;
        return;
    }
    switch (Key) {
    case VK_UP:
    case VK_DOWN:
        MoveSelection(Key == VK_DOWN);
        break;
    case VK_TAB:
        MoveSelection(::GetKeyState(VK_SHIFT) >= 0);
        break;
    case VK_HOME:
        SelectViewer(StepSelectable(nullptr, true));
        break;
    case VK_END:
        SelectViewer(StepSelectable(nullptr, false));
        break;
    case VK_RETURN:
        ActivateSelection();
        break;
    case VK_RIGHT:
        OpenSelectedPopup(true);
        break;
    case VK_LEFT:
    case VK_ESCAPE:
        // Only this level closes; the first level ends the menu on Esc.
        if (UpperView) UpperView->CloseOpenPopup();
        else if (Key == VK_ESCAPE) FinishCancel();
        break;
    case VK_MENU:
    case VK_F10:
        FinishCancel();
        break;
    default:
        return;
    }
    Key = 0;
}

TMbItemViewer* TMbView::ViewerAt(POINT Client)
{
    for (TMbItemViewer* v : ViewerList)
        if (v->Placed && ::PtInRect(&v->EntryRect, Client)) return v;
    return nullptr;
}

void TMbView::TrackPointer(POINT Screen, bool AllowSelect)
{
    if (!Wnd) return;
    POINT client = Screen;
    ::ScreenToClient(Wnd, &client);
    RECT r{};
    ::GetClientRect(Wnd, &r);
    TMbItemViewer* next = SelectedViewer;
    if (::PtInRect(&r, client) && ::WindowFromPoint(Screen) == Wnd) {
        RunFlags |= rfPointerInside;
        next = nullptr;
        if (AllowSelect || SelectedViewer) next = ViewerAt(client);
    } else {
        if ((RunFlags & rfPointerInside) && (!OpenSubView || !next || !(next->EntryItem->GetKinds() & ikSubmenu)))
            next = nullptr;
        RunFlags &= static_cast<uint8_t>(~rfPointerInside);
    }
    ChangeSelection(next, true);
}

void TMbView::DrawAll(classlib::TCanvas* Canvas)
{
    HDC dc = Canvas->GetHandle();
    auto draw = [&](TMbItemViewer* v) {
        if (!v->Placed || ::IsRectEmpty(&v->EntryRect) || dynamic_cast<TMbControlItem*>(v->EntryItem)) return;
        const bool selected = v == SelectedViewer;
        const bool enabled = v->EntryItem->GetEnabled() || InCustomizeMode;
        const bool menuStyle = !v->HasToolbarStyle();
        const int saved = ::SaveDC(dc);
        ::IntersectClipRect(dc, v->EntryRect.left, v->EntryRect.top, v->EntryRect.right, v->EntryRect.bottom);
        ::SetViewportOrgEx(dc, v->EntryRect.left, v->EntryRect.top, nullptr);
        Canvas->Refresh();
        Canvas->SetFont(ViewFont());
        Canvas->GetFont()->SetColor(!enabled                   ? classlib::clGrayText
                                    : selected && menuStyle    ? classlib::clHighlightText
                                    : v->HasToolbarStyle()     ? classlib::clBtnText
                                                               : classlib::clMenuText);
        if (selected && menuStyle) Canvas->GetBrush()->SetColor(classlib::clHighlight);
        else Canvas->GetBrush()->SetStyle(classlib::bsClear);
        const RECT area{0, 0, v->EntryRect.right - v->EntryRect.left, v->EntryRect.bottom - v->EntryRect.top};
        v->Paint(Canvas, area, selected, selected && v == OpenSubViewer, false);
        Canvas->Refresh();
        ::RestoreDC(dc, saved);
    };
    for (TMbItemViewer* v : ViewerList)
        if (v != SelectedViewer) draw(v);
    if (SelectedViewer) draw(SelectedViewer);
}

// ----------------------------------------------------------- popup windows

namespace {

constexpr const wchar_t* kPopupClass = L"VelmoMbPopupWindow";

LRESULT CALLBACK PopupWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    auto* view = reinterpret_cast<TMbView*>(::GetWindowLongPtrW(Wnd, GWLP_USERDATA));
    switch (Msg) {
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;  // a popup never takes the activation
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        classlib::TPaintScope paint(Wnd);
        if (view) {
            classlib::TCanvas canvas;
            canvas.SetHandle(paint.Get());
            RECT r{};
            ::GetClientRect(Wnd, &r);
            const TMbCustomItem* shown = view->ShownItem;
            canvas.GetBrush()->SetColor(shown && shown->GetCount() ? shown->GetItem(0)->XPItemBkgrCol
                                                                    : classlib::clMenu);
            canvas.FillRect(r);
            view->DrawAll(&canvas);
            canvas.SetHandle(nullptr);
        }
        return 0;
    }
    default:
        return ::DefWindowProcW(Wnd, Msg, WParam, LParam);
    }
}

void RegisterPopupClass()
{
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.style = CS_DROPSHADOW | CS_SAVEBITS;
        wc.lpfnWndProc = &PopupWndProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kPopupClass;
        if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) classlib::RaiseLastOSError();
        return true;
    }();
    (void)registered;
}

}  // namespace

TMbPopupWindow::TMbPopupWindow(TMbView* UpperView, TMbCustomItem* Item)
    : view_(std::make_unique<TMbView>(nullptr, UpperView, Item, nullptr, false, false))
{
    RegisterPopupClass();
    wnd_ = ::CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kPopupClass, L"", WS_POPUP | WS_BORDER, 0, 0, 10,
                             10, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (!wnd_) classlib::RaiseLastOSError();
    ::SetWindowLongPtrW(wnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view_.get()));
    view_->Wnd = wnd_;
}

TMbPopupWindow::~TMbPopupWindow()
{
    view_->CloseOpenPopup();
    ::SetWindowLongPtrW(wnd_, GWLP_USERDATA, 0);
    ::DestroyWindow(wnd_);
}

void TMbPopupWindow::ShowAt(POINT Screen)
{
    HMONITOR monitor = ::MonitorFromPoint(Screen, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    ::GetMonitorInfoW(monitor, &info);
    view_->HeightLimit = 0;
    POINT size = view_->RecalcLayout();
    RECT frame{0, 0, size.x, size.y};
    ::AdjustWindowRectEx(&frame, WS_POPUP | WS_BORDER, FALSE, WS_EX_TOOLWINDOW | WS_EX_TOPMOST);
    const RECT& work = info.rcWork;
    const int border = (frame.bottom - frame.top) - size.y;
    if (frame.bottom - frame.top > work.bottom - work.top) {
        view_->HeightLimit = (work.bottom - work.top) - border;
        size = view_->RecalcLayout();
        frame = RECT{0, 0, size.x, size.y};
        ::AdjustWindowRectEx(&frame, WS_POPUP | WS_BORDER, FALSE, WS_EX_TOOLWINDOW | WS_EX_TOPMOST);
    }
    const int w = frame.right - frame.left, h = frame.bottom - frame.top;
    int x = Screen.x, y = Screen.y;
    if (x + w > work.right) x = std::max(static_cast<int>(work.left), static_cast<int>(work.right) - w);
    if (y + h > work.bottom) y = std::max(static_cast<int>(work.top), static_cast<int>(work.bottom) - h);
    ::SetWindowPos(wnd_, HWND_TOPMOST, x, y, w, h, SWP_NOACTIVATE | SWP_SHOWWINDOW);
    ::UpdateWindow(wnd_);
}

// --------------------------------------------------------------- menu loop

TMbModalHandler::TMbModalHandler(HWND ExistingWnd) : captureWnd_(ExistingWnd)
{
    ::SetCapture(captureWnd_);
    ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
    ::NotifyWinEvent(EVENT_SYSTEM_MENUSTART, captureWnd_, OBJID_CLIENT, CHILDID_SELF);
}

TMbModalHandler::~TMbModalHandler()
{
    if (::GetCapture() == captureWnd_) ::ReleaseCapture();
    ::NotifyWinEvent(EVENT_SYSTEM_MENUEND, captureWnd_, OBJID_CLIENT, CHILDID_SELF);
}

namespace {

TMbView* DeepestView(TMbView* V)
{
    while (V->OpenSubView) V = V->OpenSubView;
    return V;
}

// The view of the chain whose window is Wnd, or null.
TMbView* ChainViewOf(TMbView* Root, HWND Wnd)
{
    for (TMbView* v = Root; v; v = v->OpenSubView)
        if (v->Wnd && v->Wnd == Wnd) return v;
    return nullptr;
}

}  // namespace

void TMbModalHandler::RunLoop(TMbView* V, bool TrackRightButton)
{
    V->Outcome = TMbMenuOutcome{};
    V->RunFlags |= rfInLoop;
    const HWND active = ::GetActiveWindow();
    struct TFinally {
        TMbView* View;
        ~TFinally()
        {
            View->RunFlags &= static_cast<uint8_t>(~rfInLoop);
            MSG m;
            while (::PeekMessageW(&m, nullptr, WM_CHAR, WM_CHAR, PM_REMOVE) ||
                   ::PeekMessageW(&m, nullptr, WM_SYSCHAR, WM_SYSCHAR, PM_REMOVE)) {
            }
        }
    } finally{V};
    auto track = [&](POINT P, bool AllowSelect) {
        std::vector<TMbView*> chain;
        for (TMbView* v = V; v; v = v->OpenSubView) chain.push_back(v);
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) (*it)->TrackPointer(P, AllowSelect);
    };
    // The viewer under the pointer, going down the chain.
    auto target = [&](POINT P) -> TMbItemViewer* {
        for (TMbView* v = V; v; v = v->OpenSubView) {
            if (!v->Wnd || !v->SelectedViewer) continue;
            POINT c = P;
            ::ScreenToClient(v->Wnd, &c);
            if (::PtInRect(&v->SelectedViewer->EntryRect, c)) return v->SelectedViewer;
        }
        return nullptr;
    };
    auto valid = [&] { return ::GetCapture() == captureWnd_ && ::GetActiveWindow() == active && !V->IsDone(); };
    while (valid()) {
        MSG msg;
        if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            ::WaitMessage();
            continue;
        }
        // Mouse positions come from the message itself (client coordinates
        // of its window), not from the shared cursor.
        POINT at = msg.pt;
        if (msg.message >= WM_MOUSEFIRST && msg.message <= WM_MOUSELAST && msg.message != WM_MOUSEWHEEL && msg.hwnd) {
            at = POINT{static_cast<short>(LOWORD(msg.lParam)), static_cast<short>(HIWORD(msg.lParam))};
            ::ClientToScreen(msg.hwnd, &at);
        }
        const bool press = msg.message == WM_LBUTTONDOWN || msg.message == WM_RBUTTONDOWN ||
                           msg.message == WM_LBUTTONDBLCLK || msg.message == WM_NCLBUTTONDOWN ||
                           msg.message == WM_NCRBUTTONDOWN;
        if (press && !ChainViewOf(V, ::WindowFromPoint(at))) break;  // the press stays for its window
        ::PeekMessageW(&msg, msg.hwnd, msg.message, msg.message, PM_REMOVE);
        switch (msg.message) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN: {
            WORD key = static_cast<WORD>(msg.wParam);
            DeepestView(V)->HandleKey(key);
            if (!V->IsDone() && key != 0) ::TranslateMessage(&msg);
            break;
        }
        case WM_KEYUP:
        case WM_SYSKEYUP:
        case WM_CHAR:
        case WM_SYSCHAR:
        case WM_HELP:
        case WM_CONTEXTMENU:
            break;
        case WM_MOUSEMOVE: {
            track(at, true);
            // Hovering a submenu entry opens its level.
            TMbView* d = nullptr;
            for (TMbView* v = V; v; v = v->OpenSubView)
                if (v->SelectedViewer && v->SelectedViewer == target(at)) d = v;
            if (d && d->SelectedViewer != d->OpenSubViewer) {
                if (d->SelectedViewer->EntryItem->GetKinds() & ikSubmenu) d->OpenSelectedPopup(false);
                else d->CloseOpenPopup();
            }
            break;
        }
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDOWN:
            if (msg.message == WM_RBUTTONDOWN && !TrackRightButton) break;
            track(at, true);
            if (TMbItemViewer* t = target(at))
                if ((t->EntryItem->GetKinds() & ikSubmenu) && t->EntryItem->GetEnabled()) t->OwnerView->OpenSelectedPopup(false);
            break;
        case WM_LBUTTONUP:
        case WM_RBUTTONUP: {
            if (msg.message == WM_RBUTTONUP && !TrackRightButton) break;
            track(at, false);
            TMbItemViewer* t = target(at);
            if (t && t->EntryItem->GetEnabled() && !(t->EntryItem->GetKinds() & (ikNoClick | ikSubmenu)))
                t->OwnerView->FinishWithClick(t);
            break;
        }
        default:
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

TMbCustomItem* CarryOutOutcome(const TMbMenuOutcome& Outcome, bool ReturnClickedItemOnly)
{
    switch (Outcome.Kind) {
    case moClickItem:
        if (!ReturnClickedItemOnly) PostDeferred(Outcome.ClickedItem, 0);
        return Outcome.ClickedItem;
    case moSystemKey:
        ::SendMessageW(Outcome.KeyWnd, WM_SYSCOMMAND, SC_KEYMENU, Outcome.Key);
        return nullptr;
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

// Builds the native menu of Root's visible children; ids are 1 + the index
// into Items.
HMENU BuildMenu(TMbCustomItem* Root, std::vector<TMbCustomItem*>& Items)
{
    HMENU menu = ::CreatePopupMenu();
    for (int i = 0; i < Root->GetCount(); ++i) {
        TMbCustomItem* item = Root->GetItem(i);
        if (!item->GetVisible() || dynamic_cast<TMbControlItem*>(item)) continue;
        if (item->GetKinds() & ikSeparator) {
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        UINT flags = MF_STRING;
        if (!item->GetEnabled()) flags |= MF_GRAYED;
        if (item->GetChecked()) flags |= MF_CHECKED;
        if (item->GetCount() > 0 || (item->GetKinds() & ikSubmenu)) {
            item->DoPopup(false);
            HMENU sub = BuildMenu(item, Items);
            ::AppendMenuW(menu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), item->MenuCaption().c_str());
        } else {
            Items.push_back(item);
            ::AppendMenuW(menu, flags, Items.size(), item->MenuCaption().c_str());
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
    chosen->PerformClick();
    return chosen;
}

TMbPopupMenu::TMbPopupMenu(classlib::TComponent* AOwner)
    : classlib::TComponent(AOwner), items_(new TMbRootItem(this))
{
    items_->HostComponent = this;
}

TMbPopupMenu::~TMbPopupMenu() = default;

TMbCustomItem* TMbPopupMenu::Popup(int X, int Y)
{
    OnPopup(this);
    items_->NotifyPopup(items_, false);
    TMbMenuOutcome outcome;
    {
        TMbPopupWindow window(nullptr, items_);
        window.ShowAt(POINT{X, Y});
        window.GetView()->SelectViewer(nullptr);
        TMbModalHandler handler(window.GetHandle());
        handler.RunLoop(window.GetView(), true);
        outcome = window.GetView()->Outcome;
    }
    return CarryOutOutcome(outcome, false);
}

}  // namespace toolbar
