#include "controls/toolbar/MbToolbar.h"

#include <commctrl.h>
#include <objbase.h>

#include <algorithm>

#include "classlib/Graphics.h"
#include "classlib/Startup.h"
#include "classlib/WinHandles.h"
#include "controls/toolbar/MbAcc.h"
#include "controls/toolbar/MbHook.h"

namespace toolbar {

using namespace classlib;

namespace {

constexpr int kChevronWidth = 12;

// Whether the application's initialisation initialised COM for the main
// thread (main thread only).
bool comInitialized = false;

void InitializeCom() { comInitialized = SUCCEEDED(::CoInitialize(nullptr)); }

void ToolbarStartup() { classlib::AddInitProc(&InitializeCom); }

void ToolbarShutdown()
{
    MbDisconnectAccObjects();
    MbRemoveHooks(0x07, true);
    if (!comInitialized) return;
    comInitialized = false;
    ::CoUninitialize();
}

std::vector<TMbCustomToolbar*>* gHookedToolbars = nullptr;
int gAppHookCount = 0;

const std::wstring kChevronHint = L"More Buttons|";

std::wstring ChevronCaptionOf(const std::wstring& Hint)
{
    std::wstring shortPart = Hint.substr(0, Hint.find(L'|'));
    std::wstring caption;
    for (wchar_t c : shortPart) {
        caption += c;
        if (c == L'&') caption += L'&';
    }
    return caption;
}

// The menu-bar message hook (code 4): Alt+letter typed in an MDI client
// area reaches the main form's menu bar.
void MenuBarMessageHook(int Code, HWND Wnd, WPARAM WParam, LPARAM LParam)
{
    (void)Code, (void)Wnd, (void)WParam;
    auto* msg = reinterpret_cast<MSG*>(LParam);
    if (!msg || msg->message != WM_SYSCHAR || !msg->hwnd || !Application) return;
    TCustomForm* main = Application->GetMainForm();
    if (!main || !main->HandleAllocated() || ::GetCapture()) return;
    const HWND client = ::FindWindowExW(main->GetHandle(), nullptr, L"MDICLIENT", nullptr);
    if (!client) return;
    if (msg->hwnd == client || (msg->wParam == L'-' && ::IsChild(client, msg->hwnd))) msg->hwnd = main->GetHandle();
}

// The form whose window is the active window, or null.
TCustomForm* ActiveForm()
{
    const HWND active = ::GetActiveWindow();
    if (!Screen || !active) return nullptr;
    for (int i = 0; i < Screen->GetFormCount(); ++i) {
        TCustomForm* f = Screen->GetForms(i);
        if (f->HandleAllocated() && f->GetHandle() == active) return f;
    }
    return nullptr;
}

}  // namespace

void RegisterToolbarUnit() { classlib::RegisterUnit(L"toolbar", 600, &ToolbarStartup, &ToolbarShutdown); }

const std::vector<TMbCustomToolbar*>& MbHookedToolbars()
{
    static const std::vector<TMbCustomToolbar*> empty;
    return gHookedToolbars ? *gHookedToolbars : empty;
}

bool MbProcessFormShortCuts(TCustomForm* Form, MSG& Msg)
{
    if (!Form || !gHookedToolbars) return false;
    const std::vector<TMbCustomToolbar*> list = *gHookedToolbars;
    for (TMbCustomToolbar* bar : list) {
        if (!gHookedToolbars || std::find(gHookedToolbars->begin(), gHookedToolbars->end(), bar) == gHookedToolbars->end())
            continue;
        if (!bar->GetProcessShortCuts() || MbFindOwningForm(bar) != Form) continue;
        if (!Form->HandleAllocated() || !::IsWindowEnabled(Form->GetHandle())) continue;
        if (bar->HandleShortCut(Msg)) return true;
    }
    return false;
}

namespace {

// The one hook on the application's main window shared by every toolbar
// with MenuBar or ProcessShortCuts.
struct TAppKeyHook {
    bool Hook(TMessage& Message)
    {
        if (Message.Msg == CM_APPKEYDOWN) {
            if (!gHookedToolbars) return false;
            auto* msg = reinterpret_cast<MSG*>(Message.LParam);
            TCustomForm* active = ActiveForm();
            if (!active) return false;
            if (MbProcessFormShortCuts(active, *msg)) return true;
            TCustomForm* main = Application ? Application->GetMainForm() : nullptr;
            return main && main != active && MbProcessFormShortCuts(main, *msg);
        }
        if (Message.Msg == CM_APPSYSCOMMAND) {
            auto* relayed = reinterpret_cast<TMessage*>(Message.LParam);
            TCustomForm* active = ActiveForm();
            if (!active || !active->HandleAllocated()) return false;
            const HWND w = active->GetHandle();
            if (!::IsWindowEnabled(w) || !::IsWindowVisible(w)) return false;
            return Search(active, *relayed);
        }
        return false;
    }
    bool Search(TWinControl* Parent, TMessage& Relayed)
    {
        for (int i = 0; i < Parent->GetControlCount(); ++i) {
            TControl* c = Parent->GetControl(i);
            if (!c->GetVisible() || !c->GetEnabled()) continue;
            if ((c->ControlStyle & csMenuEvents) &&
                (dynamic_cast<TMbDock*>(c) || dynamic_cast<TMbCustomToolbar*>(c))) {
                if (c->Perform(WM_SYSCOMMAND, Relayed.WParam, Relayed.LParam)) {
                    Relayed.Result = 1;
                    return true;
                }
            }
            if (auto* w = dynamic_cast<TWinControl*>(c))
                if (w->Showing() && Search(w, Relayed)) return true;
        }
        return false;
    }
} gAppKeyHook;

}  // namespace

// ------------------------------------------------------------------ view

TMbToolbarView::TMbToolbarView(TMbCustomToolbar* AToolbar, TMbCustomItem* AItem)
    : TMbView(nullptr, nullptr, AItem, AToolbar, true, false), Toolbar(AToolbar)
{
}

void TMbToolbarView::SyncChevronViewer()
{
    TMbCustomItem* chevron = Toolbar->GetChevronItem();
    if (!chevron) return;
    // The chevron is the view's last end extra: new entries go before it.
    for (std::size_t i = 0; i < ViewerList.size(); ++i)
        if (ViewerList[i]->EntryItem == chevron) {
            chevronViewer_ = ViewerList[i];
            if (i + 1 != ViewerList.size()) {
                ViewerList.erase(ViewerList.begin() + static_cast<std::ptrdiff_t>(i));
                ViewerList.push_back(chevronViewer_);
            }
            return;
        }
    chevronViewer_ = chevron->CreateViewer(this, 0);
    ViewerList.push_back(chevronViewer_);
    ++EndExtraCount;
}

TMbItemViewer* TMbToolbarView::ChevronItem()
{
    for (TMbItemViewer* v : ViewerList)
        if (v == chevronViewer_) return v;
    return nullptr;
}

TFont* TMbToolbarView::ViewFont() { return Toolbar->GetSystemFont() ? SharedMenuFont() : Toolbar->GetFont(); }

// --------------------------------------------------------------- chevron

TMbChevronItem::TMbChevronItem(TMbCustomToolbar* AToolbar) : TMbCustomItem(AToolbar), Toolbar(AToolbar)
{
    kinds_ |= ikSubmenu | ikNoKeyOpen;
    Hint = kChevronHint;
    SetCaption(ChevronCaptionOf(Hint));
}

TMbItemViewer* TMbChevronItem::CreateViewer(TMbView* View, int NestLevel)
{
    return new TMbChevronItemViewer(View, this, NestLevel);
}

TMbView* TMbChevronItem::ChevronSourceView() { return Toolbar->GetView(); }

void TMbChevronItemViewer::Paint(TCanvas* Canvas, const RECT& ClientAreaRect, bool IsSelected, bool IsPushed,
                                 bool UseDisabledShadow)
{
    (void)UseDisabledShadow;
    HDC dc = Canvas->GetHandle();
    RECT r = ClientAreaRect;
    const bool enabled = EntryItem->GetEnabled();
    if (enabled) {
        if (IsPushed) ::DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
        else if (IsSelected) ::DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
    }
    const bool vertical = OwnerView && OwnerView->Axis == laVertical;
    static const WORD kDown[8] = {0x88, 0xD8, 0x70, 0x20, 0x88, 0xD8, 0x70, 0x20};
    static const WORD kRight[8] = {0xCC, 0x66, 0x33, 0x66, 0xCC, 0x00, 0x00, 0x00};
    WORD bits[8];
    for (int i = 0; i < 8; ++i)
        bits[i] = static_cast<WORD>(static_cast<WORD>(~(vertical ? kDown[i] : kRight[i]) & 0xFF) << 8);
    TOwnedBitmap glyph(::CreateBitmap(8, 8, 1, 1, bits));
    TMemoryDC mem(glyph.Get(), dc);
    int x, y;
    if (vertical) {
        x = r.right - 9;
        y = r.top + 2;
    } else {
        x = r.left + 2;
        y = 4;
    }
    if (IsPushed) {
        ++x;
        ++y;
    }
    const COLORREF oldText = ::SetTextColor(dc, RGB(0, 0, 0));
    const COLORREF oldBk = ::SetBkColor(dc, RGB(255, 255, 255));
    auto blit = [&](int Colour, int X, int Y) {
        TSelectObjectScope brush(dc, ::GetSysColorBrush(Colour));
        ::BitBlt(dc, X, Y, vertical ? 5 : 8, vertical ? 8 : 5, mem.Get(), 0, 0, 0x00E20746);
    };
    if (enabled) {
        blit(COLOR_BTNTEXT, x, y);
    } else {
        blit(COLOR_BTNHIGHLIGHT, x + 1, y + 1);
        blit(COLOR_BTNSHADOW, x, y);
    }
    ::SetTextColor(dc, oldText);
    ::SetBkColor(dc, oldBk);
}

// ---------------------------------------------------------------- toolbar

namespace {

std::unique_ptr<TMbRootItem> MakeRootItem(TMbCustomToolbar* AToolbar) { return std::make_unique<TMbRootItem>(AToolbar); }

std::unique_ptr<TMbChevronItem> MakeChevronItem(TMbCustomToolbar* AToolbar)
{
    return std::make_unique<TMbChevronItem>(AToolbar);
}

std::unique_ptr<TMbToolbarView> MakeToolbarView(TMbCustomToolbar* AToolbar, TMbCustomItem* AItem)
{
    return std::make_unique<TMbToolbarView>(AToolbar, AItem);
}

// A class reference's object, or EMbItemError when it made none.
template <class T>
std::unique_ptr<T> Made(std::unique_ptr<T> Object, const wchar_t* What)
{
    if (!Object) throw EMbItemError(std::wstring(L"The toolbar's ") + What + L" class made no object");
    return Object;
}

}  // namespace

TMbCustomToolbar::TMbCustomToolbar(TComponent* AOwner, const TMbToolbarClasses& Classes)
    : TMbCustomDockableWindow(AOwner),
      classes_{Classes.RootItemClass ? Classes.RootItemClass : &MakeRootItem,
               Classes.ChevronItemClass ? Classes.ChevronItemClass : &MakeChevronItem,
               Classes.ViewClass ? Classes.ViewClass : &MakeToolbarView},
      items_(nullptr),
      chevronItem_(nullptr)
{
    ControlStyle = (ControlStyle | csAcceptsControls | csActionClient) & ~csCaptureMouse;
    ResizeOptions = 0;
    items_ = Made(classes_.RootItemClass(this), L"root item").release();
    items_->HostComponent = this;
    chevronItem_ = Made(classes_.ChevronItemClass(this), L"chevron item").release();
    chevronItem_->SetLinkSubitems(items_);
    view_ = Made(classes_.ViewClass(this, items_), L"view");
    view_->SetUsesPriority(!(GetComponentState() & csDesigning));
    view_->SyncChevronViewer();
    view_->BackColor = clBtnFace;
    items_->RegisterListener(TMbItemChangedProc(this, &TMbCustomToolbar::RootChanged));
    SetColor(clBtnFace);
    TMbCustomDockableWindow::SetBounds(GetLeft(), GetTop(), 23, 22);
}

TMbCustomToolbar::~TMbCustomToolbar()
{
    // From here on the hosted controls' removals are no news: the items
    // that would hear of them go with the toolbar.
    Destroying();
    MbHookUnregister(this, &MenuBarMessageHook);
    UninstallAppHook();
    MbDetachAccObject(view_.get());
    items_->UnregisterListener(TMbItemChangedProc(this, &TMbCustomToolbar::RootChanged));
    view_.reset();
    delete chevronItem_;
    chevronItem_ = nullptr;
    delete items_;
    items_ = nullptr;
}

void TMbCustomToolbar::RootChanged(TMbCustomItem* Sender, TMbItemChange Change, int Index, TMbCustomItem* Item)
{
    (void)Sender, (void)Index, (void)Item;
    if (!view_) return;
    view_->SyncChevronViewer();
    if (Change == icInvalidate) {
        Invalidate();
        return;
    }
    layoutValid_ = false;
    if (Change == icInserted)
        if (auto* ci = dynamic_cast<TMbControlItem*>(Item))
            if (ci->GetControl() && ci->GetControl()->GetParent() != this) ci->GetControl()->SetParent(this);
    Rearrange();
    Invalidate();
}

TMbControlItem* TMbCustomToolbar::AddControlItem(int Index, TControl* Control)
{
    auto* item = new TMbControlItem(GetOwner());
    item->SetControl(Control);
    // Inserted first: the control then joins the toolbar (RootChanged) as
    // an already hosted control.
    items_->Insert(Index, item);
    if (Control->GetParent() != this) Control->SetParent(this);
    return item;
}

void TMbCustomToolbar::ControlInserted(TControl* Control)
{
    if (GetComponentState() & (csLoading | csDestroying | csUpdating)) return;
    if (Control->GetParent() != this || FindControlItem(Control)) return;
    AddControlItem(items_->GetCount(), Control);
}

void TMbCustomToolbar::ControlRemoved(TControl* Control)
{
    if (GetComponentState() & csDestroying) return;
    // Control may be half destroyed: only compared.
    std::vector<TMbControlItem*> hosts;
    for (int i = 0; i < items_->GetCount(); ++i)
        if (auto* ci = dynamic_cast<TMbControlItem*>(items_->GetItem(i)))
            if (ci->GetControl() == Control) hosts.push_back(ci);
    for (TMbControlItem* ci : hosts) {
        ci->KeepControl = true;
        // An item its owner is deleting goes with the owner.
        if (!(ci->GetComponentState() & csDestroying)) delete ci;
    }
}

void TMbCustomToolbar::GetTabOrderList(std::vector<TWinControl*>& List) const
{
    const std::size_t first = List.size();
    TMbCustomDockableWindow::GetTabOrderList(List);
    std::vector<TWinControl*> hosted;
    for (int i = 0; i < items_->GetCount(); ++i)
        if (auto* ci = dynamic_cast<TMbControlItem*>(items_->GetItem(i)))
            if (auto* w = dynamic_cast<TWinControl*>(ci->GetControl())) hosted.push_back(w);
    auto isHosted = [&](TWinControl* c) {
        for (TWinControl* h : hosted)
            if (h->ContainsControl(c)) return true;
        return false;
    };
    List.erase(std::remove_if(List.begin() + static_cast<std::ptrdiff_t>(first), List.end(), isHosted), List.end());
}

void TMbCustomToolbar::InitiateAction()
{
    TMbCustomDockableWindow::InitiateAction();
    if (UpdateActions) view_->RefreshEntryActions();
}

void TMbCustomToolbar::Loaded()
{
    AdoptChildControls();
    TMbCustomDockableWindow::Loaded();
}

TMbControlItem* TMbCustomToolbar::FindControlItem(TControl* Control)
{
    for (int i = 0; i < items_->GetCount(); ++i)
        if (auto* ci = dynamic_cast<TMbControlItem*>(items_->GetItem(i)))
            if (ci->GetControl() == Control) return ci;
    return nullptr;
}

void TMbCustomToolbar::AdoptChildControls()
{
    for (int i = 0; i < items_->GetCount(); ++i)
        if (auto* ci = dynamic_cast<TMbControlItem*>(items_->GetItem(i)))
            if (ci->GetControl() && ci->GetControl()->GetParent() != this) ci->GetControl()->SetParent(this);
    std::vector<TControl*> orphans;
    for (int i = 0; i < GetControlCount(); ++i)
        if (!FindControlItem(GetControl(i))) orphans.push_back(GetControl(i));
    for (TControl* c : orphans) AddControlItem(items_->GetCount(), c);
}

std::wstring TMbCustomToolbar::GetChevronHint() const { return chevronItem_->Hint; }

void TMbCustomToolbar::SetChevronHint(const std::wstring& Value)
{
    chevronItem_->Hint = Value;
    chevronItem_->SetCaption(ChevronCaptionOf(Value));
}

bool TMbCustomToolbar::ChevronHintStored() const { return chevronItem_->Hint != kChevronHint; }

void TMbCustomToolbar::SetMenuBar(bool Value)
{
    if (Value == menuBar_) return;
    menuBar_ = Value;
    if (Value) {
        ControlStyle |= csMenuEvents;
        view_->ViewStyle |= vsMenuBar | vsHideAccels;
    } else {
        ControlStyle &= ~csMenuEvents;
        view_->ViewStyle &= static_cast<uint8_t>(~(vsMenuBar | vsHideAccels));
    }
    // Read from a form, the dependent properties come with it.
    if (!(GetComponentState() & csLoading)) {
        SetFullSize(Value);
        SetShrinkMode(Value ? tbsmWrap : tbsmChevron);
        SetCloseButton(!Value);
        SetProcessShortCuts(Value);
    }
    if (!Value) MbHookUnregister(this, &MenuBarMessageHook);
    else MbHookRegister(this, &MenuBarMessageHook, hcGetMessage);
    UpdateAppHook();
    Invalidate();
}

void TMbCustomToolbar::SetProcessShortCuts(bool Value)
{
    if (Value == processShortCuts_) return;
    processShortCuts_ = Value;
    UpdateAppHook();
}

void TMbCustomToolbar::SetShrinkMode(TMbShrinkMode Value)
{
    if (Value == shrinkMode_) return;
    shrinkMode_ = Value;
    layoutValid_ = false;
    if (IsDocked && GetCurrentDock()) GetCurrentDock()->LayoutRows();
    else if (!GetIsFloating()) Rearrange();
}

void TMbCustomToolbar::SetFloatingWidth(int Value)
{
    if (Value == floatingWidth_) return;
    floatingWidth_ = Value;
    if (GetIsFloating()) {
        UpdateViewLimits();
        layoutValid_ = false;
        Rearrange();
    }
}

void TMbCustomToolbar::SetSystemFont(bool Value)
{
    if (Value == systemFont_) return;
    systemFont_ = Value;
    layoutValid_ = false;
    Rearrange();
}

void TMbCustomToolbar::SetChevronMoveItems(bool Value)
{
    if (Value == chevronMoveItems_) return;
    chevronMoveItems_ = Value;
    // Rebuilds the viewers (the priority order starts as list order); the
    // chevron's viewer is made again with them.
    view_->SetUsesPriority(Value && !(GetComponentState() & csDesigning));
    view_->SyncChevronViewer();
    layoutValid_ = false;
    Rearrange();
    Invalidate();
}

void TMbCustomToolbar::SetChevronPriorityForNewItems(TMbChevronPriorityForNewItems Value)
{
    chevronPriorityForNewItems_ = Value;
    view_->NewFirstInPriority = Value == tbcpHighest;
}

void TMbCustomToolbar::FontChanged(TObject* Sender)
{
    TMbCustomDockableWindow::FontChanged(Sender);
    if (!systemFont_) {
        layoutValid_ = false;
        Rearrange();
    }
}

void TMbCustomToolbar::CreateHandleDone()
{
    TMbCustomDockableWindow::CreateHandleDone();
    view_->Wnd = GetHandle();
}

TMbLayoutAxis TMbCustomToolbar::AxisOf(bool Floating, TMbDock* Dock) const
{
    switch (MbDockTypeOf(Dock, Floating)) {
    case 1: return laFloating;
    case 3: return laVertical;
    default: return laHorizontal;
    }
}

int TMbCustomToolbar::WrapOffsetFor(TMbDock* Dock)
{
    if (!Dock) return floatingWidth_;
    if (shrinkMode_ != tbsmWrap) return 0;
    int ncW = 0, ncH = 0;
    NonClientSize(ncW, ncH);
    if (Dock->IsVertical()) return Dock->GetHeight() - Dock->FrameHeight - ncH;
    return Dock->GetWidth() - Dock->FrameWidth - ncW;
}

int TMbCustomToolbar::ChevronOffsetFor(TMbDock* Dock, TMbLayoutAxis Axis)
{
    if (shrinkMode_ != tbsmChevron || !IsDocked || Dock != GetCurrentDock()) return 0;
    int ncW = 0, ncH = 0;
    NonClientSize(ncW, ncH);
    return std::max(0, AllottedLength - (Axis == laVertical ? ncH : ncW));
}

void TMbCustomToolbar::UpdateViewLimits()
{
    TMbDock* dock = GetCurrentDock();
    view_->Axis = AxisOf(GetIsFloating(), IsDocked ? dock : nullptr);
    view_->ChevronWidth = kChevronWidth;
    if (IsDocked || GetIsFloating()) {
        view_->ChevronAt = ChevronOffsetFor(IsDocked ? dock : nullptr, view_->Axis);
        view_->WrapAt = WrapOffsetFor(IsDocked ? dock : nullptr);
    } else {
        view_->ChevronAt = view_->WrapAt = 0;
        // A free-standing toolbar that sizes itself never shrinks, unless
        // its anchors hold its width.
        const bool heldWidth = (GetAnchors() & (akLeft | akRight)) == (akLeft | akRight);
        if (!GetAutoResize() || heldWidth) {
            int ncW = 0, ncH = 0;
            NonClientSize(ncW, ncH);
            if (shrinkMode_ == tbsmChevron) view_->ChevronAt = GetWidth() - ncW;
            if (shrinkMode_ == tbsmWrap) view_->WrapAt = GetWidth() - ncW;
        }
    }
}

SIZE TMbCustomToolbar::RecalcViewLayout()
{
    view_->SyncChevronViewer();
    for (int i = 0; i < items_->GetCount(); ++i)
        if (auto* ci = dynamic_cast<TMbControlItem*>(items_->GetItem(i)))
            if (ci->GetControl() && ci->GetControl()->GetParent() != this) ci->GetControl()->SetParent(this);
    AllottedLength = 0;
    SIZE minimum{0, 0};
    if (IsDocked && GetCurrentDock()) {
        const int thickness = GetCurrentDock()->RowExtentExcept(CurrentRow, this);
        if (GetCurrentDock()->IsVertical()) minimum.cx = thickness;
        else minimum.cy = thickness;
    }
    if (GetFullSize()) {
        if (view_->Axis == laHorizontal) minimum.cx = std::max<LONG>(minimum.cx, view_->WrapAt);
        if (view_->Axis == laVertical) minimum.cy = std::max<LONG>(minimum.cy, view_->WrapAt);
    }
    ++AlignLock;
    POINT total{}, base{};
    try {
        view_->Layout(true, view_->Axis, LineCount, total, base, view_->ChevronWidth, view_->ChevronAt, view_->WrapAt);
    } catch (...) {
        --AlignLock;
        throw;
    }
    --AlignLock;
    view_->NaturalSize = base;
    ViewSize = SIZE{base.x, base.y};
    layoutValid_ = true;
    Invalidate();
    return SIZE{std::max<LONG>(total.x, minimum.cx), std::max<LONG>(total.y, minimum.cy)};
}

void TMbCustomToolbar::ShowHintChanged()
{
    TMbCustomDockableWindow::ShowHintChanged();
    if (!view_) return;
    view_->ViewStyle = static_cast<uint8_t>(GetShowHint() ? (view_->ViewStyle | vsMenuHints)
                                                          : (view_->ViewStyle & ~vsMenuHints));
}

void TMbCustomToolbar::ColorChanged()
{
    if (view_) view_->BackColor = GetColor();
    TMbCustomDockableWindow::ColorChanged();
}

void TMbCustomToolbar::ValidateLayout()
{
    if (layoutValid_) return;
    const int allotted = AllottedLength;
    UpdateViewLimits();
    RecalcViewLayout();
    AllottedLength = allotted;
}

SIZE TMbCustomToolbar::CalcArrangedSize(bool EntriesMayMove, int PresentDockType, bool TargetFloating,
                                        TMbDock* TargetDock)
{
    (void)PresentDockType;
    if (EntriesMayMove) {
        UpdateViewLimits();
        return RecalcViewLayout();
    }
    const TMbLayoutAxis axis = AxisOf(TargetFloating, TargetDock);
    POINT total{}, base{};
    view_->Layout(false, axis, LineCount, total, base, kChevronWidth, ChevronOffsetFor(TargetDock, axis),
                  WrapOffsetFor(TargetFloating ? nullptr : TargetDock));
    return SIZE{total.x, total.y};
}

SIZE TMbCustomToolbar::QueryBaseSize()
{
    ValidateLayout();
    return ViewSize;
}

void TMbCustomToolbar::QueryMinShrinkSize(int& Size)
{
    ValidateLayout();
    const bool vertical = GetCurrentDock() && GetCurrentDock()->IsVertical();
    const std::vector<TMbItemViewer*>& order = view_->PriorityOrder.empty() ? view_->ViewerList : view_->PriorityOrder;
    for (TMbItemViewer* v : order) {
        if (!v->Placed || (v->EntryItem->GetKinds() & ikSeparator) || v->EntryItem == chevronItem_) continue;
        int ncW = 0, ncH = 0;
        NonClientSize(ncW, ncH);
        const RECT& r = v->EntryRect;
        Size = (vertical ? r.bottom - r.top + ncH : r.right - r.left + ncW) + kChevronWidth;
        return;
    }
}

bool TMbCustomToolbar::PointOnContent(POINT Client)
{
    if (TMbCustomDockableWindow::PointOnContent(Client)) return true;
    TMbItemViewer* v = view_->ViewerAt(Client);
    return v && !(v->EntryItem->GetKinds() & ikNoClick);
}

void TMbCustomToolbar::Resize()
{
    TMbCustomDockableWindow::Resize();
    const bool heldWidth = (GetAnchors() & (akLeft | akRight)) == (akLeft | akRight);
    if (AlignLock == 0 && (!GetAutoResize() || heldWidth) && !IsDocked && !GetIsFloating()) {
        layoutValid_ = false;
        Rearrange();
    }
}

void TMbCustomToolbar::ListFloatingSizes(std::vector<SIZE>& List)
{
    const int saved = floatingWidth_;
    struct TRestore {
        int& Field;
        int Value;
        ~TRestore() { Field = Value; }
    } restore{floatingWidth_, saved};
    auto floatingSize = [&] { return CalcArrangedSize(false, 1, true, nullptr); };
    floatingWidth_ = 0;
    List.push_back(floatingSize());
    int previousLines = 1;
    for (int w = static_cast<int>(List.back().cx) - 1; w >= 8;) {
        floatingWidth_ = w;
        const SIZE s = floatingSize();
        if (s.cx > w) break;
        if (s.cx < w) {
            w = s.cx;
            continue;
        }
        if (LineCount == previousLines) List.back() = s;
        else List.push_back(s);
        previousLines = LineCount;
        --w;
    }
}

void TMbCustomToolbar::SizingBegin(int Edge)
{
    TMbCustomDockableWindow::SizingBegin(Edge);
    TMbFloatingWindowParent* tw = GetToolWindow();
    if (!tw) return;
    auto state = std::make_unique<TToolbarSizeData>();
    state->Edge = static_cast<uint8_t>(Edge);
    state->StartWidth = tw->GetWidth();
    state->StartHeight = tw->GetHeight();
    POINT origin{0, 0};
    if (HandleAllocated()) ::ClientToScreen(GetHandle(), &origin);
    state->FrameOffsetX = origin.x - tw->GetLeft();
    state->PendingWidth = floatingWidth_;
    std::vector<SIZE> sizes;
    ListFloatingSizes(sizes);
    const int extraW = tw->GetWidth() - GetWidth(), extraH = tw->GetHeight() - GetHeight();
    for (SIZE& s : sizes) {
        s.cx += extraW;
        s.cy += extraH;
    }
    const bool byHeight = Edge == 2 || Edge == 5;
    std::stable_sort(sizes.begin(), sizes.end(),
                     [&](const SIZE& a, const SIZE& b) { return byHeight ? a.cy > b.cy : a.cx > b.cx; });
    state->SizeList = sizes;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        if (sizes[i].cx != state->StartWidth || sizes[i].cy != state->StartHeight) continue;
        auto length = [&](const SIZE& s) { return Edge > 1 ? s.cy : s.cx; };
        if (i > 0) state->SnapAbove = std::min<int>(12, std::abs(length(sizes[i - 1]) - length(sizes[i])));
        if (i + 1 < sizes.size()) state->SnapBelow = std::min<int>(12, std::abs(length(sizes[i + 1]) - length(sizes[i])));
        break;
    }
    ResizeState = std::move(state);
}

void TMbCustomToolbar::SizingMove(RECT& R, const RECT& Start)
{
    TMbCustomDockableWindow::SizingMove(R, Start);
    TToolbarSizeData* s = ResizeState.get();
    if (!s || s->SizeList.empty()) return;
    const bool byHeight = s->Edge > 1;
    const int startLen = byHeight ? Start.bottom - Start.top : Start.right - Start.left;
    int L = byHeight ? R.bottom - R.top : R.right - R.left;
    const bool shrinking = L < startLen;
    if (!(s->SnapLatched && shrinking == s->Shrinking)) {
        s->SnapLatched = false;
        s->Shrinking = shrinking;
        if (startLen - s->SnapBelow < L && L < startLen + s->SnapAbove) L = startLen;
    }
    R = Start;
    const bool growing = L > startLen;
    auto length = [&](const SIZE& z) { return static_cast<int>(byHeight ? z.cy : z.cx); };
    const std::vector<SIZE>& list = s->SizeList;
    std::size_t chosen;
    if (growing) {
        chosen = 0;
        for (std::size_t i = list.size(); i-- > 0;)
            if (length(list[i]) >= L) {
                chosen = i;
                break;
            }
    } else {
        chosen = list.size() - 1;
        for (std::size_t i = 0; i < list.size(); ++i)
            if (length(list[i]) <= L) {
                chosen = i;
                break;
            }
    }
    const SIZE e = list[chosen];
    const bool widest = (s->Edge == 2 || s->Edge == 5) ? chosen == list.size() - 1 : chosen == 0;
    s->PendingWidth = widest ? 0 : static_cast<int>(e.cx) - 2 * s->FrameOffsetX;
    if (byHeight) {
        if (s->Edge == 5) R.bottom = R.top + e.cy;
        else R.top = R.bottom - e.cy;
        R.right = R.left + e.cx;
    } else {
        if (s->Edge == 1) R.right = R.left + e.cx;
        else R.left = R.right - e.cx;
        R.bottom = R.top + e.cy;
    }
    s->SnapLatched = !::EqualRect(&R, &Start);
}

void TMbCustomToolbar::SizingCommit()
{
    TMbCustomDockableWindow::SizingCommit();
    if (ResizeState) SetFloatingWidth(ResizeState->PendingWidth);
}

void TMbCustomToolbar::SizingFinish()
{
    TMbCustomDockableWindow::SizingFinish();
    ResizeState.reset();
}

// --------------------------------------------------------------- keyboard

TMbCustomItem* TMbCustomToolbar::EnterModalLoop(uint8_t Options)
{
    if ((view_->RunFlags & rfInLoop) || !HandleAllocated()) return nullptr;
    ValidateLayout();
    auto alive = AliveToken();
    TMbCustomItem* clicked = view_->EnterModalLoop(Options);
    if (*alive) Invalidate();
    return clicked;
}

bool TMbCustomToolbar::OpenByKey(wchar_t Key, bool FromDialogChar)
{
    (void)FromDialogChar;
    if (view_->RunFlags & rfInLoop) return false;
    ValidateLayout();
    view_->ShowAccelerators(true);
    TMbItemViewer* found = nullptr;
    bool ran = false;
    if (Key) {
        bool unique = false;
        found = view_->FindAccelEntry(nullptr, Key, unique, false);
        if (found && found->EntryItem->GetEnabled() && (unique || menuBar_)) {
            view_->SelectViewer(found);
            EnterModalLoop(unique ? mlExecuteSelection : 0);
            ran = true;
        }
    } else {
        found = view_->FirstSelectableEntry();
        if (found) {
            view_->SelectViewer(found);
            EnterModalLoop(0);
            ran = true;
        }
    }
    if (found) view_->ShowAccelerators(false);
    return ran;
}

bool TMbCustomToolbar::HandleShortCut(MSG& Msg)
{
    bool handled = false;
    OnShortCut(Msg, handled);
    return handled || items_->ExecuteShortCut(Msg);
}

void TMbCustomToolbar::UpdateAppHook()
{
    if (!menuBar_ && !processShortCuts_) UninstallAppHook();
    else InstallAppHook();
}

void TMbCustomToolbar::InstallAppHook()
{
    if (AppHooked || !Application) return;
    if (gAppHookCount == 0) Application->HookMainWindow(TApplication::TWindowHook(&gAppKeyHook, &TAppKeyHook::Hook));
    ++gAppHookCount;
    if (!gHookedToolbars) gHookedToolbars = new std::vector<TMbCustomToolbar*>();
    gHookedToolbars->push_back(this);
    AppHooked = true;
}

void TMbCustomToolbar::UninstallAppHook()
{
    if (!AppHooked) return;
    AppHooked = false;
    if (gHookedToolbars) {
        gHookedToolbars->erase(std::remove(gHookedToolbars->begin(), gHookedToolbars->end(), this),
                               gHookedToolbars->end());
        if (gHookedToolbars->empty()) {
            delete gHookedToolbars;
            gHookedToolbars = nullptr;
        }
    }
    if (--gAppHookCount == 0 && Application)
        Application->UnhookMainWindow(TApplication::TWindowHook(&gAppKeyHook, &TAppKeyHook::Hook));
}

// ------------------------------------------------------------ painting, mouse

void TMbCustomToolbar::Paint()
{
    TCanvas* canvas = GetCanvas();
    const RECT r = GetClientRect();
    // Over the dock's picture the erase painted the background already.
    if (!ShowsDockBackground()) {
        canvas->GetBrush()->SetColor(GetColor());
        canvas->GetBrush()->SetStyle(bsSolid);
        canvas->FillRect(r);
    }
    ValidateLayout();
    view_->DrawAll(canvas);
}

void TMbCustomToolbar::MouseMove(TShiftState Shift, int X, int Y)
{
    if (!(view_->RunFlags & rfInLoop)) {
        view_->TrackPointer(ClientToScreen(POINT{X, Y}), true);
        TMbItemViewer* v = view_->SelectedViewer;
        Hint = v && !(v->EntryItem->GetEffectiveOptions() & tboLongHintInMenuOnly) ? v->EntryItem->Hint : L"";
    }
    TMbCustomDockableWindow::MouseMove(Shift, X, Y);
}

void TMbCustomToolbar::MouseLeave()
{
    if (!MouseDownActive && !(view_->RunFlags & rfInLoop) && ::GetCapture() != GetHandle())
        view_->TrackPointer(POINT{-32000, -32000}, false);
    TMbCustomDockableWindow::MouseLeave();
}

void TMbCustomToolbar::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    TWinControl* parent = GetParent();
    auto alive = AliveToken();
    TMbCustomDockableWindow::MouseDown(Button, Shift, X, Y);
    if (!*alive || GetParent() != parent || Button != mbLeft) return;
    ValidateLayout();
    TMbItemViewer* v = view_->ViewerAt(POINT{X, Y});
    if (!v) return;
    view_->SelectViewer(v);
    if (v->EntryItem->GetKinds() & ikNoClick) return;
    MouseDownActive = true;
    // The loop hands the press to the entry at the pointer's place.
    LastPointerPos = ClientToScreen(POINT{X, Y});
    EnterModalLoop(mlStartedByMouseDown);
    if (*alive) MouseDownActive = false;
}

void TMbCustomToolbar::WndProc(TMessage& Message)
{
    switch (Message.Msg) {
    case CM_DIALOGKEY:
        if (Message.WParam == VK_MENU && menuBar_ && CanFocus()) view_->ShowAccelerators(true);
        break;
    case CM_DIALOGCHAR:
        if (!menuBar_ && CanFocus() && Message.WParam && OpenByKey(static_cast<wchar_t>(Message.WParam), true)) {
            Message.Result = 1;
            return;
        }
        break;
    case WM_SYSCOMMAND:
        if (menuBar_ && CanFocus() && (Message.WParam & 0xFFF0) == SC_KEYMENU && Message.LParam != VK_SPACE &&
            !::GetCapture()) {
            const auto key = static_cast<wchar_t>(Message.LParam);
            if (!OpenByKey(key, false)) {
                if (key == L'-') {
                    Message.Result = 0;
                    return;
                }
                ::MessageBeep(0);
            }
            Message.Result = 1;
            return;
        }
        break;
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(Message.WParam) == GetHandle() && LOWORD(Message.LParam) == HTCLIENT &&
            !(GetComponentState() & csDesigning)) {
            POINT p{};
            ::GetCursorPos(&p);
            if (TMbItemViewer* v = view_->ViewerAt(ScreenToClient(p))) {
                HCURSOR cursor = nullptr;
                const POINT at = v->ScreenToViewer(p);
                v->CursorAt(at.x, at.y, cursor);
                if (cursor) {
                    ::SetCursor(cursor);
                    Message.Result = 1;
                    return;
                }
            }
        }
        break;
    case WM_NCMOUSEMOVE:
        Hint.clear();
        if (!(view_->RunFlags & rfInLoop) && ::GetCapture() != GetHandle())
            view_->TrackPointer(POINT{-32000, -32000}, false);
        break;
    case CM_CONTROLCHANGE:
        if (Message.LParam) ControlInserted(reinterpret_cast<TControl*>(Message.WParam));
        break;
    case CM_CONTROLLISTCHANGE:
        if (!Message.LParam) ControlRemoved(reinterpret_cast<TControl*>(Message.WParam));
        break;
    case WM_GETOBJECT:
        if (MbAnswerGetObject(view_.get(), Message.WParam, Message.LParam, Message.Result)) return;
        break;
    case classlib::CM_HINTSHOW:
        Message.Result = MbAnswerHintShow(view_.get(), *reinterpret_cast<classlib::THintInfo*>(Message.LParam));
        return;
    case WM_SETTINGCHANGE:
        if (Message.WParam == SPI_SETNONCLIENTMETRICS) {
            MbUpdateMenuFont();
            layoutValid_ = false;
            Rearrange();
        }
        break;
    case WM_CANCELMODE:
        TMbCustomDockableWindow::WndProc(Message);
        if (view_->RunFlags & rfInLoop) view_->FinishCancel();
        return;
    default: break;
    }
    TMbCustomDockableWindow::WndProc(Message);
}

}  // namespace toolbar
