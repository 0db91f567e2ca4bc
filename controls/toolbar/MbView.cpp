// Views: the viewer list of a toolbar or popup, its source and shown items,
// the shared menu font, layout validity, and selection: timers, keyboard
// navigation, accelerators, scrolling, hints, pointer tracking and drawing.
#include "controls/toolbar/MbItem.h"

#include <algorithm>

#include "classlib/Bitmap.h"
#include "classlib/Forms.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "controls/toolbar/MbAcc.h"
#include "controls/toolbar/MbCommon.h"
#include "controls/toolbar/MbItemInternal.h"

namespace toolbar {

using detail::HasPointerPos;
using detail::HostHandle;

// ------------------------------------------------------------------ views

POINT LastPointerPos{static_cast<LONG>(0x80000000), 0};

namespace detail {

bool HasPointerPos() { return LastPointerPos.x != static_cast<LONG>(0x80000000); }

}  // namespace detail

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
    RebuildViewers();
}

void TMbView::RebuildViewers()
{
    CloseOpenPopup();
    SelectViewer(nullptr);
    InvalidateLayout();
    FreeViewers();
    if (TMbCustomItem* front = FrontExtraItem()) {
        AppendViewer(front, EntryCount(), false, false);
        ++FrontExtraCount;
    }
    if (ShownItem)
        for (int i = 0; i < ShownItem->GetCount(); ++i) AppendViewer(ShownItem->GetItem(i), EntryCount(), true, false);
    if (TMbCustomItem* extras = EndExtrasItem())
        for (int i = 0; i < extras->GetCount(); ++i) {
            AppendViewer(extras->GetItem(i), EntryCount(), false, false);
            ++EndExtraCount;
        }
    if (ShownItem && !(ShownItem->GetComponentState() & classlib::csDesigning)) RefreshEntryActions();
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
            for (int i = std::min(FrontExtraCount, limit); i < limit; ++i)
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

namespace detail {

// The window a view draws in: its popup window, else its host window's
// handle when one exists.
HWND HostHandle(TMbView* View)
{
    if (View->Wnd) return View->Wnd;
    if (View->HostWindow && View->HostWindow->HandleAllocated()) return View->HostWindow->GetHandle();
    return nullptr;
}

}  // namespace detail

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
    ValidateLayout();
    // A repaint of one entry (InvalidateViewer) goes through a bitmap, so
    // the erased background never shows on screen.
    const bool buffered = ForceBuffer || (V->PaintFlags & pfBuffered);
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
    const RECT area{0, 0, V->EntryRect.right - V->EntryRect.left, V->EntryRect.bottom - V->EntryRect.top};
    // The entry on a canvas whose (0, 0) is the entry's top-left corner.
    auto paint = [&](classlib::TCanvas* On) {
        On->Refresh();
        On->SetFont(ViewFont());
        On->GetFont()->SetColor(!enabled              ? classlib::clGrayText
                                : selected && menuStyle ? classlib::clHighlightText
                                : !menuStyle            ? classlib::clBtnText
                                                        : classlib::clMenuText);
        if (selected && menuStyle) {
            On->GetBrush()->SetColor(FlatMenusOn() ? classlib::TColor(classlib::SysColor(COLOR_MENUHILIGHT))
                                                   : classlib::clHighlight);
        } else {
            On->GetBrush()->SetStyle(classlib::bsClear);
        }
        // Separator lines of the flat look take the canvas pen: a soft grey.
        On->GetPen()->SetColor(classlib::clBtnShadow);
        V->Paint(On, area, selected, pushed, shadow);
    };
    if (buffered) {
        classlib::TBitmap buffer;
        buffer.SetSize(area.right, area.bottom);
        classlib::TCanvas* bufferCanvas = buffer.GetCanvas();
        HDC bdc = bufferCanvas->GetHandle();
        // The host window erases the bitmap as the part of its client area
        // the entry covers.
        ::SetWindowOrgEx(bdc, V->EntryRect.left, V->EntryRect.top, nullptr);
        ::SetBrushOrgEx(bdc, -V->EntryRect.left, -V->EntryRect.top, nullptr);
        if (HWND host = HostHandle(this))
            ::SendMessageW(host, WM_ERASEBKGND, reinterpret_cast<WPARAM>(bdc), 0);
        ::SetWindowOrgEx(bdc, 0, 0, nullptr);
        ::SetBrushOrgEx(bdc, 0, 0, nullptr);
        paint(bufferCanvas);
        ::BitBlt(dc, V->EntryRect.left, V->EntryRect.top, area.right, area.bottom, bdc, 0, 0, SRCCOPY);
        return;
    }
    POINT org{};
    ::GetViewportOrgEx(dc, &org);
    ::SetViewportOrgEx(dc, org.x + V->EntryRect.left, org.y + V->EntryRect.top, nullptr);
    paint(Canvas);
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

}  // namespace toolbar
