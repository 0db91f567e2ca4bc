// The dockable window: state, re-parenting, showing rules, sizes, the docked
// non-client area and its mouse entry points.
#include <algorithm>

#include "classlib/Exceptions.h"
#include "classlib/WinHandles.h"
#include "controls/toolbar/MbDock.h"
#include "controls/toolbar/MbCommon.h"
#include "controls/toolbar/MbHook.h"
#include "controls/toolbar/MbItem.h"

namespace toolbar {

using namespace classlib;

namespace {

thread_local std::vector<TMbCustomDockableWindow*> tFloatingList;

void MbFloatingHookProc(int Code, HWND Wnd, WPARAM WParam, LPARAM LParam)
{
    (void)WParam;
    const std::vector<TMbCustomDockableWindow*> list = tFloatingList;
    auto listed = [](TMbCustomDockableWindow* w) {
        return std::find(tFloatingList.begin(), tFloatingList.end(), w) != tFloatingList.end();
    };
    switch (Code) {
    case 0:
    case 1:
        for (TMbCustomDockableWindow* w : list)
            if (listed(w)) w->RefreshShowing();
        break;
    case 2: {
        const auto* pos = reinterpret_cast<const WINDOWPOS*>(LParam);
        if (!pos || !(pos->flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW | SWP_FRAMECHANGED))) break;
        for (TMbCustomDockableWindow* w : list) {
            if (!listed(w) || w->GetFloatingMode() != fmOnTopOfParentForm || !w->HandleAllocated()) continue;
            TCustomForm* form = MbFindOwningForm(w);
            if (!form || !form->HandleAllocated()) continue;
            const HWND formWnd = form->GetHandle();
            if (formWnd == Wnd || ::IsChild(Wnd, formWnd)) w->RefreshShowing();
        }
        break;
    }
    case 3:
        // A tool window must not outlive its owner window as an owned window.
        for (TMbCustomDockableWindow* w : list) {
            if (!listed(w)) continue;
            TMbFloatingWindowParent* tw = w->GetToolWindow();
            if (tw && tw->HandleAllocated() &&
                reinterpret_cast<HWND>(::GetWindowLongPtrW(tw->GetHandle(), GWLP_HWNDPARENT)) == Wnd)
                ::SetWindowLongPtrW(tw->GetHandle(), GWLP_HWNDPARENT, 0);
        }
        break;
    default: break;
    }
}

// The 8 x 8 cross of the docked close button.
void DrawCross(HDC DC, int X, int Y)
{
    static const WORD kRows[8] = {0x00, 0xCC, 0x78, 0x30, 0x78, 0xCC, 0x00, 0x00};
    WORD bits[8];
    for (int i = 0; i < 8; ++i) bits[i] = static_cast<WORD>(static_cast<WORD>(~kRows[i] & 0xFF) << 8);
    TOwnedBitmap glyph(::CreateBitmap(8, 8, 1, 1, bits));
    TMemoryDC mem(glyph.Get(), DC);
    TOwnedBrush brush(::CreateSolidBrush(::GetSysColor(COLOR_BTNTEXT)));
    TSelectObjectScope selBrush(DC, brush.Get());
    const COLORREF oldText = ::SetTextColor(DC, RGB(0, 0, 0));
    const COLORREF oldBk = ::SetBkColor(DC, RGB(255, 255, 255));
    ::BitBlt(DC, X, Y, 8, 8, mem.Get(), 0, 0, 0x00E20746);
    ::SetTextColor(DC, oldText);
    ::SetBkColor(DC, oldBk);
}

}  // namespace

const std::vector<TMbCustomDockableWindow*>& MbFloatingList() { return tFloatingList; }

TCustomForm* MbFindOwningForm(TControl* Control)
{
    TCustomForm* form = nullptr;
    for (TControl* c = Control; c; c = c->GetParent())
        if (auto* f = dynamic_cast<TCustomForm*>(c)) form = f;
    if (auto* tw = dynamic_cast<TMbFloatingWindowParent*>(form)) return tw->OwnerForm;
    return form;
}

TCustomForm* MbFindOwningFormOrRaise(TControl* Control)
{
    TCustomForm* form = MbFindOwningForm(Control);
    if (!form) throw EInvalidOperation(L"Control '" + Control->GetName() + L"' has no parent window");
    return form;
}

HWND MbFindActivatableWindow(HWND Excluded)
{
    struct TSearch {
        HWND Excluded;
        HWND Normal = nullptr;
        HWND Topmost = nullptr;
    } search{Excluded};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND W, LPARAM P) -> BOOL {
            auto* s = reinterpret_cast<TSearch*>(P);
            if (W == s->Excluded || !::IsWindowVisible(W) || !::IsWindowEnabled(W)) return TRUE;
            if (::GetWindowLongPtrW(W, GWL_EXSTYLE) & WS_EX_TOPMOST) {
                if (!s->Topmost) s->Topmost = W;
            } else if (!s->Normal) {
                s->Normal = W;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.Normal ? search.Normal : search.Topmost;
}

bool MbRunMouseLoop(HWND Wnd, const TMbMouseLoop& Loop, POINT* ReleasedAt)
{
    while ((!Loop.Going || Loop.Going()) && ::GetCapture() == Wnd) {
        MSG msg;
        if (!::GetMessageW(&msg, nullptr, 0, 0)) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        POINT at = msg.pt;
        if (msg.message >= WM_MOUSEFIRST && msg.message <= WM_MOUSELAST && msg.hwnd) {
            at = POINT{static_cast<short>(LOWORD(msg.lParam)), static_cast<short>(HIWORD(msg.lParam))};
            ::ClientToScreen(msg.hwnd, &at);
        }
        switch (msg.message) {
        case WM_KEYDOWN:
        case WM_KEYUP:
            if (Loop.OnKey && Loop.OnKey(msg)) return false;
            break;
        case WM_SYSKEYDOWN:
        case WM_SYSKEYUP:
        case WM_CHAR:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
            break;
        case WM_MOUSEMOVE:
            if (Loop.OnMove) Loop.OnMove(at);
            break;
        case WM_LBUTTONUP:
            if (ReleasedAt) *ReleasedAt = at;
            return true;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            return false;
        default:
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return false;
}

bool MbTrackButton(HWND Wnd, const RECT& Screen, const TEvent<void(bool)>& SetPushed)
{
    POINT p{};
    ::GetCursorPos(&p);
    SetPushed(::PtInRect(&Screen, p) != 0);
    ::SetCapture(Wnd);
    POINT releasedAt{};
    TMbMouseLoop loop;
    loop.OnMove = [&](POINT At) { SetPushed(::PtInRect(&Screen, At) != 0); };
    const bool clicked = MbRunMouseLoop(Wnd, loop, &releasedAt) && ::PtInRect(&Screen, releasedAt);
    if (::GetCapture() == Wnd) ::ReleaseCapture();
    SetPushed(false);
    return clicked;
}

TMbCustomDockableWindow::TMbCustomDockableWindow(TComponent* AOwner) : TCustomControl(AOwner)
{
    ControlStyle = (ControlStyle | csAcceptsControls | csClickEvents) & ~(csCaptureMouse | csOpaque);
    SetColor(clBtnFace);
    MbHookRegister(this, &MbFloatingHookProc, hcActivate | hcActivateApp | hcWindowPosChanged | hcDestroyWindow);
}

TMbCustomDockableWindow::~TMbCustomDockableWindow()
{
    MbHookUnregister(this, &MbFloatingHookProc);
    tFloatingList.erase(std::remove(tFloatingList.begin(), tFloatingList.end(), this), tFloatingList.end());
    // Leave the docks' lists directly: a layout now would ask this window,
    // half destroyed, for its sizes.
    TMbDock* relayout = currentDock_;
    for (TMbDock* dock : {currentDock_, lastDock_}) {
        if (!dock) continue;
        dock->Members.erase(std::remove(dock->Members.begin(), dock->Members.end(), this), dock->Members.end());
        dock->ShownMembers.erase(std::remove(dock->ShownMembers.begin(), dock->ShownMembers.end(), this),
                                 dock->ShownMembers.end());
    }
    currentDock_ = lastDock_ = nullptr;
    IsDocked = false;
    if (toolWindow_) {
        // Leave the tool window before it goes, so that this window is not
        // handled as its child any more.
        if (GetParent() == toolWindow_) {
            DestroyHandle();
            TControl::SetParent(nullptr);
        }
        toolWindow_->Hosted = nullptr;
        delete toolWindow_;
        toolWindow_ = nullptr;
    }
    if (relayout && !(relayout->GetComponentState() & csDestroying)) {
        if (GetParent() == relayout) TControl::SetParent(nullptr);
        relayout->LayoutRows();
    }
}

void TMbCustomDockableWindow::CreateParams(TCreateParams& Params)
{
    TCustomControl::CreateParams(Params);
    Params.WindowClassStyle &= ~static_cast<UINT>(CS_HREDRAW | CS_VREDRAW);
    Params.Caption = caption_;
}

void TMbCustomDockableWindow::Notification(TComponent* AComponent, TOperation Operation)
{
    TCustomControl::Notification(AComponent, Operation);
    if (Operation != opRemove) return;
    if (AComponent == defaultDock_) defaultDock_ = nullptr;
    if (AComponent == popupMenu_) popupMenu_ = nullptr;
    if (AComponent == lastDock_) lastDock_ = nullptr;
    if (AComponent == currentDock_) {
        currentDock_ = nullptr;
        IsDocked = false;
    }
    ExtraDockForms.erase(std::remove(ExtraDockForms.begin(), ExtraDockForms.end(), AComponent), ExtraDockForms.end());
}

int TMbCustomDockableWindow::DragHandleSize() const
{
    if (closeButtonWhenDocked_) return 14;
    static const int kSizes[] = {9, 0, 6};
    return kSizes[dragHandleStyle_];
}

int TMbCustomDockableWindow::GripStartOffset() const
{
    static const int kPlain[] = {2, 0, 1};
    static const int kClose[] = {3, 0, 5};
    return closeButtonWhenDocked_ ? kClose[dragHandleStyle_] : kPlain[dragHandleStyle_];
}

void TMbCustomDockableWindow::NonClientSize(int& AWidth, int& AHeight)
{
    if (!IsDocked || !currentDock_) {
        AWidth = AHeight = 0;
        return;
    }
    AWidth = AHeight = 4;
    if (currentDock_->GetAllowDrag()) {
        if (currentDock_->IsVertical()) AHeight = DragHandleSize() + 4;
        else AWidth = DragHandleSize() + 4;
    }
}

bool TMbCustomDockableWindow::PointOnContent(POINT Client)
{
    for (int i = 0; i < GetControlCount(); ++i) {
        TControl* c = GetControl(i);
        if (!c->GetVisible() || ControlLetsDragThrough(c)) continue;
        const RECT r = c->GetBoundsRect();
        if (::PtInRect(&r, Client)) return true;
    }
    return false;
}

void TMbCustomDockableWindow::FloatFrameSize(int& AWidth, int& AHeight)
{
    AWidth = ::GetSystemMetrics(resizable_ ? SM_CXSIZEFRAME : SM_CXFIXEDFRAME);
    AHeight = ::GetSystemMetrics(resizable_ ? SM_CYSIZEFRAME : SM_CYFIXEDFRAME);
}

void TMbCustomDockableWindow::FireDockChangingHidden(bool Floating, TMbDock* Dock)
{
    if (!BeingDestroyed()) OnDockChangingHidden(this, Floating, Dock);
}

void TMbCustomDockableWindow::ReleaseRearrange()
{
    if (--ArrangeLock == 0 && RearrangePending) Rearrange();
}

void TMbCustomDockableWindow::Loaded()
{
    TCustomControl::Loaded();
    PrepareOrdering();
    Rearrange();
}

void TMbCustomDockableWindow::Rearrange()
{
    if (ArrangeLock > 0 || (GetComponentState() & csLoading) || !GetParent()) {
        RearrangePending = true;
        return;
    }
    RearrangePending = false;
    const SIZE size = CalcArrangedSize(true, MbDockTypeOf(currentDock_, isFloating_), isFloating_, currentDock_);
    if (SizesItself()) ApplyClientSize(size.cx, size.cy);
}

void TMbCustomDockableWindow::ApplyClientSize(int AWidth, int AHeight)
{
    if (IsDocked && currentDock_) {
        currentDock_->LayoutRows();
        return;
    }
    int ncW = 0, ncH = 0;
    NonClientSize(ncW, ncH);
    int width = AWidth + ncW, height = AHeight + ncH;
    // On a form, anchors on both sides hold that size.
    if (!isFloating_) {
        const TAnchors anchors = GetAnchors();
        if ((anchors & (akLeft | akRight)) == (akLeft | akRight)) width = GetWidth();
        if ((anchors & (akTop | akBottom)) == (akTop | akBottom)) height = GetHeight();
    }
    ++BoundsLock;
    try {
        SetBounds(GetLeft(), GetTop(), width, height);
    } catch (...) {
        --BoundsLock;
        throw;
    }
    --BoundsLock;
}

void TMbCustomDockableWindow::SetBounds(int ALeft, int ATop, int AWidth, int AHeight)
{
    if (isFloating_ && toolWindow_) {
        const RECT c = toolWindow_->GetClientRect();
        toolWindow_->SetBounds(toolWindow_->GetLeft(), toolWindow_->GetTop(),
                               toolWindow_->GetWidth() + AWidth - (c.right - c.left),
                               toolWindow_->GetHeight() + AHeight - (c.bottom - c.top));
        ALeft = ATop = 0;
    }
    if (BoundsLock == 0 && (AWidth != GetWidth() || AHeight != GetHeight())) BeforeResize(AWidth, AHeight);
    TCustomControl::SetBounds(ALeft, ATop, AWidth, AHeight);
}

void TMbCustomDockableWindow::RecalcNonClient()
{
    if (HandleAllocated())
        ::SetWindowPos(GetHandle(), nullptr, 0, 0, 0, 0,
                       SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TMbCustomDockableWindow::SetAutoResize(bool Value)
{
    if (Value == autoResize_) return;
    autoResize_ = Value;
    if (Value) Rearrange();
}

void TMbCustomDockableWindow::SetDockPos(int Value)
{
    if (Value == dockPos_) return;
    dockPos_ = Value;
    if (IsDocked && currentDock_) currentDock_->LayoutRows();
}

void TMbCustomDockableWindow::SetDockRow(int Value)
{
    if (Value == dockRow_) return;
    dockRow_ = Value;
    if (IsDocked && currentDock_) currentDock_->LayoutRows();
}

void TMbCustomDockableWindow::SetFullSize(bool Value)
{
    if (Value == fullSize_) return;
    fullSize_ = Value;
    if (IsDocked && currentDock_) currentDock_->LayoutRows();
}

void TMbCustomDockableWindow::SetStretch(bool Value)
{
    if (Value == stretch_) return;
    stretch_ = Value;
    if (IsDocked && currentDock_) currentDock_->LayoutRows();
}

void TMbCustomDockableWindow::SetCloseButton(bool Value)
{
    if (Value == closeButton_) return;
    closeButton_ = Value;
    if (isFloating_ && toolWindow_) toolWindow_->RedrawFloating(2 | 4);
}

void TMbCustomDockableWindow::SetCloseButtonWhenDocked(bool Value)
{
    if (Value == closeButtonWhenDocked_) return;
    closeButtonWhenDocked_ = Value;
    if (IsDocked) {
        RecalcNonClient();
        currentDock_->LayoutRows();
    }
}

void TMbCustomDockableWindow::SetBorderStyle(TMbBorderStyle Value)
{
    if (Value == borderStyle_) return;
    borderStyle_ = Value;
    if (IsDocked) RecalcNonClient();
}

void TMbCustomDockableWindow::SetDragHandleStyle(TMbDragHandleStyle Value)
{
    if (Value == dragHandleStyle_) return;
    dragHandleStyle_ = Value;
    if (IsDocked) {
        RecalcNonClient();
        currentDock_->LayoutRows();
    }
}

void TMbCustomDockableWindow::SetDefaultDock(TMbDock* Value)
{
    if (Value == defaultDock_) return;
    defaultDock_ = Value;
    if (Value) Value->FreeNotification(this);
}

void TMbCustomDockableWindow::SetCurrentDock(TMbDock* Value)
{
    if (Value) SetParent(Value);
    else SetParent(MbFindOwningFormOrRaise(this));
}

void TMbCustomDockableWindow::SetFloatingMode(TMbFloatingMode Value)
{
    if (Value == floatingMode_) return;
    floatingMode_ = Value;
    if (HandleAllocated()) ShowingChanged();
}

void TMbCustomDockableWindow::SetResizable(bool Value)
{
    if (Value == resizable_) return;
    resizable_ = Value;
    if (isFloating_ && toolWindow_ && toolWindow_->HandleAllocated()) {
        // The frame style changes: a new window, with this one moved over.
        DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(toolWindow_->GetHandle(), GWL_STYLE));
        style = Value ? (style | WS_THICKFRAME) : (style & ~static_cast<DWORD>(WS_THICKFRAME));
        ::SetWindowLongPtrW(toolWindow_->GetHandle(), GWL_STYLE, static_cast<LONG_PTR>(style));
        ::SetWindowPos(toolWindow_->GetHandle(), nullptr, 0, 0, 0, 0,
                       SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        Rearrange();
    }
}

void TMbCustomDockableWindow::SetShowCaption(bool Value)
{
    if (Value == showCaption_) return;
    showCaption_ = Value;
    if (isFloating_ && toolWindow_ && toolWindow_->HandleAllocated()) {
        ::SetWindowPos(toolWindow_->GetHandle(), nullptr, 0, 0, 0, 0,
                       SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        Rearrange();
    }
}

void TMbCustomDockableWindow::SetUseLastDock(bool Value)
{
    if (Value == useLastDock_) return;
    useLastDock_ = Value;
    SetLastDock(Value ? currentDock_ : nullptr);
}

void TMbCustomDockableWindow::SetLastDock(TMbDock* Value)
{
    if (useLastDock_ && currentDock_) Value = currentDock_;
    if (Value == lastDock_) return;
    if (lastDock_ && lastDock_ != GetParent()) lastDock_->SetDockListMember(this, false);
    lastDock_ = Value;
    if (Value) {
        useLastDock_ = true;
        Value->FreeNotification(this);
        Value->SetDockListMember(this, true);
    }
}

void TMbCustomDockableWindow::SetFloatOrigin(POINT Value)
{
    floatOrigin_ = Value;
    if (isFloating_ && toolWindow_ && GetParent() == toolWindow_)
        toolWindow_->SetBounds(Value.x, Value.y, toolWindow_->GetWidth(), toolWindow_->GetHeight());
}

void TMbCustomDockableWindow::SetIsFloating(bool Value)
{
    if (Value == isFloating_) return;
    if (!Value) {
        SetParent(MbFindOwningFormOrRaise(this));
        return;
    }
    TCustomForm* form = MbFindOwningFormOrRaise(this);
    if (!toolWindow_) {
        auto tw = std::make_unique<TMbFloatingWindowParent>(this);
        tw->SetShowHint(true);
        toolWindow_ = tw.release();
    }
    form->FreeNotification(toolWindow_);
    toolWindow_->OwnerForm = form;
    toolWindow_->SetCaption(caption_);
    SetParent(toolWindow_);
    SetBounds(0, 0, GetWidth(), GetHeight());
}

void TMbCustomDockableWindow::SyncFloatingList()
{
    auto it = std::find(tFloatingList.begin(), tFloatingList.end(), this);
    if (isFloating_) {
        if (it == tFloatingList.end()) tFloatingList.push_back(this);
        if (toolWindow_)
            toolWindow_->SetBounds(floatOrigin_.x, floatOrigin_.y, toolWindow_->GetWidth(), toolWindow_->GetHeight());
    } else if (it != tFloatingList.end()) {
        tFloatingList.erase(it);
    }
}

void TMbCustomDockableWindow::SetParent(TWinControl* Value)
{
    TMbDock* oldDock = dynamic_cast<TMbDock*>(GetParent());
    TMbDock* newDock = dynamic_cast<TMbDock*>(Value);
    const bool newFloating = dynamic_cast<TMbFloatingWindowParent*>(Value) != nullptr;
    if (Value == GetParent()) {
        currentDock_ = newDock;
        isFloating_ = newFloating;
        IsDocked = newDock != nullptr;
        SyncFloatingList();
        return;
    }
    const bool destroying = BeingDestroyed();
    if (!destroying && Value) {
        OnDockChanging(this, newFloating, newDock);
        OnRecreating(this);
    }
    ++ReparentLock;
    ++MoveEventLock;
    RefreshShowing();
    if (oldDock) oldDock->LockLayout();
    if (newDock) newDock->LockLayout();
    ++BoundsLock;
    auto undo = [&] {
        --BoundsLock;
        if (newDock) newDock->UnlockLayout();
        if (oldDock) oldDock->UnlockLayout();
        --MoveEventLock;
        --ReparentLock;
    };
    try {
        if (Value) FireDockChangingHidden(newFloating, newDock);
        HoldRearrange();
        AllottedLength = 0;
        try {
            if (oldDock) {
                if (!(useLastDock_ && lastDock_ == oldDock)) oldDock->SetDockListMember(this, false);
                oldDock->UpdateVisibleMember(this, true);
            }
            // The window keeps its handle: only the class library's parent
            // and the platform parent change.
            const HWND wnd = HandleAllocated() ? GetHandle() : nullptr;
            currentDock_ = newDock;
            isFloating_ = newFloating;
            IsDocked = newDock != nullptr;
            try {
                TControl::SetParent(Value);
                if (wnd && Value) {
                    ::SetParent(wnd, Value->GetHandle());
                    RecalcNonClient();
                } else if (wnd) {
                    DestroyHandle();
                } else if (Value && Value->HandleAllocated() && GetVisible()) {
                    HandleNeeded();
                }
            } catch (...) {
                currentDock_ = dynamic_cast<TMbDock*>(GetParent());
                isFloating_ = dynamic_cast<TMbFloatingWindowParent*>(GetParent()) != nullptr;
                IsDocked = currentDock_ != nullptr;
                throw;
            }
            CurrentRow = -1;
            if (!LiveDragging && toolWindow_ && toolWindow_ != Value) {
                TMbFloatingWindowParent* tw = toolWindow_;
                toolWindow_ = nullptr;
                tw->Hosted = nullptr;
                delete tw;
            }
            if (newDock) {
                if (!useLastDock_ || LiveDragging) {
                    newDock->SetDockListMember(this, true);
                } else {
                    SetLastDock(newDock);
                    newDock->UpdateVisibleMember(this, false);
                }
            }
            SyncFloatingList();
            Rearrange();
        } catch (...) {
            ReleaseRearrange();
            throw;
        }
        ReleaseRearrange();
    } catch (...) {
        undo();
        throw;
    }
    undo();
    RefreshShowing();
    if (Value) FireMoved();
    if (!destroying && Value) {
        OnRecreated(this);
        OnDockChanged(this);
    }
}

void TMbCustomDockableWindow::SetVisible(bool Value)
{
    TCustomControl::SetVisible(Value);
    if (IsDocked && currentDock_) currentDock_->UpdateVisibleMember(this, false);
    // The tool window follows its floating window.
    if (isFloating_) ShowingChanged();
    OnVisibleChanged(this);
}

void TMbCustomDockableWindow::SetCaption(const std::wstring& Value)
{
    if (Value == caption_) return;
    caption_ = Value;
    if (HandleAllocated()) ::SetWindowTextW(GetHandle(), caption_.c_str());
    if (isFloating_ && toolWindow_) {
        toolWindow_->SetCaption(caption_);
        toolWindow_->RedrawFloating(2);
    }
}

void TMbCustomDockableWindow::Close()
{
    bool canClose = true;
    OnCloseQuery(this, canClose);
    if (!canClose) return;
    SetVisible(false);
    OnClose(this);
}

void TMbCustomDockableWindow::ToggleDocking()
{
    if (isFloating_) {
        if (lastDock_) {
            SetCurrentDock(lastDock_);
        } else if (defaultDock_) {
            dockRow_ = 0;
            dockPos_ = -8;
            SetCurrentDock(defaultDock_);
        }
    } else if (IsDocked && DockMode == dmCanFloat) {
        SetIsFloating(true);
        KeepOnScreen(true);
    }
}

bool TMbCustomDockableWindow::DragAllowed() const
{
    return (IsDocked && currentDock_ && currentDock_->GetAllowDrag()) || isFloating_;
}

void TMbCustomDockableWindow::KeepOnScreen(bool OnlyWhenFullyOff)
{
    if (!isFloating_ || !toolWindow_) return;
    RECT r = toolWindow_->GetBoundsRect();
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    ::GetMonitorInfoW(::MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &info);
    const RECT work = info.rcWork;
    RECT overlap{};
    if (OnlyWhenFullyOff && ::IntersectRect(&overlap, &r, &work)) return;
    if (r.right > work.right) ::OffsetRect(&r, work.right - r.right, 0);
    if (r.bottom > work.bottom) ::OffsetRect(&r, 0, work.bottom - r.bottom);
    if (r.left < work.left) ::OffsetRect(&r, work.left - r.left, 0);
    if (r.top < work.top) ::OffsetRect(&r, 0, work.top - r.top);
    floatOrigin_ = POINT{r.left, r.top};
    toolWindow_->SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

TCustomForm* TMbCustomDockableWindow::OwningForm() { return MbFindOwningForm(this); }

bool TMbCustomDockableWindow::WantsShowing()
{
    if (!GetVisible() || ReparentLock != 0) return false;
    if (!isFloating_) return true;
    if (floatingMode_ == fmOnTopOfParentForm) {
        TCustomForm* form = MbFindOwningForm(this);
        if (!form || !form->HandleAllocated()) return false;
        const HWND f = form->GetHandle();
        if (!::IsWindowVisible(f)) return false;
        for (HWND w = f; w; w = ::GetParent(w))
            if (::IsIconic(w)) return false;
    }
    if (HideWhenInactive && !::GetActiveWindow()) return false;
    return true;
}

void TMbCustomDockableWindow::RefreshShowing()
{
    if (!HandleAllocated()) return;
    const bool visible = (::GetWindowLongPtrW(GetHandle(), GWL_STYLE) & WS_VISIBLE) != 0;
    if (visible != WantsShowing()) ShowingChanged();
    else if (visible && isFloating_) SyncCaptionLook();
}

void TMbCustomDockableWindow::ShowingChanged()
{
    if (!HandleAllocated()) return;
    const bool v = WantsShowing();
    if (isFloating_ && toolWindow_) {
        if (v) {
            TCustomForm* form = MbFindOwningForm(this);
            HWND owner = floatingMode_ == fmOnTopOfAllForms || !form ? nullptr : form->GetHandle();
            const HWND tw = toolWindow_->GetHandle();
            if (reinterpret_cast<HWND>(::GetWindowLongPtrW(tw, GWLP_HWNDPARENT)) != owner) {
                ::SetWindowLongPtrW(tw, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
                if (owner) ::SetWindowPos(tw, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            }
            SyncCaptionLook();
        }
        SyncTopmost();
        toolWindow_->ShowWanted = v;
        toolWindow_->ShowingChanged();
    }
    const HWND wnd = GetHandle();
    const bool wasActive = ::GetActiveWindow() == wnd;
    ::SetWindowPos(wnd, nullptr, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | (v ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
    if (!v && wasActive)
        if (HWND next = MbFindActivatableWindow(wnd)) ::SetActiveWindow(next);
}

void TMbCustomDockableWindow::SyncTopmost()
{
    if (!toolWindow_ || !toolWindow_->HandleAllocated()) return;
    const HWND tw = toolWindow_->GetHandle();
    bool wanted = floatingMode_ == fmOnTopOfAllForms;
    if (!wanted) {
        const HWND owner = reinterpret_cast<HWND>(::GetWindowLongPtrW(tw, GWLP_HWNDPARENT));
        wanted = owner && (::GetWindowLongPtrW(owner, GWL_EXSTYLE) & WS_EX_TOPMOST);
    }
    const bool is = (::GetWindowLongPtrW(tw, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    if (wanted != is)
        ::SetWindowPos(tw, wanted ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TMbCustomDockableWindow::SyncCaptionLook()
{
    if (!isFloating_ || !toolWindow_ || !toolWindow_->HandleAllocated()) return;
    wchar_t cls[64] = {};
    const HWND active = ::GetActiveWindow();
    // A menu of the framework is open: the caption keeps its look.
    if (active && ::GetClassNameW(active, cls, 64) && std::wstring(cls) == L"VelmoMbPopupWindow") return;
    const HWND tw = toolWindow_->GetHandle();
    const HWND owner = reinterpret_cast<HWND>(::GetWindowLongPtrW(tw, GWLP_HWNDPARENT));
    bool ownerChain = false;
    for (HWND w = tw; w; w = reinterpret_cast<HWND>(::GetWindowLongPtrW(w, GWLP_HWNDPARENT)))
        if (w == active) ownerChain = true;
    const bool inactive = !(active && (floatingMode_ == fmOnTopOfAllForms || !owner || ownerChain));
    if (inactive == CaptionDimmed) return;
    CaptionDimmed = inactive;
    toolWindow_->RedrawFloating(1 | 2 | 4);
}

void TMbCustomDockableWindow::FireMoved()
{
    if (MoveEventLock > 0 || (GetComponentState() & csLoading)) return;
    OnMove(this);
}

void TMbCustomDockableWindow::WMMove(TMessage& Message)
{
    auto alive = AliveToken();
    TCustomControl::WMMove(Message);
    if (!*alive) return;
    WasMoved = true;
    if (IsDocked && currentDock_ && currentDock_->BackgroundActive()) RepaintMovedOverBackground();
    FireMoved();
}

void TMbCustomDockableWindow::RepaintMovedOverBackground()
{
    if (!HandleAllocated() || !::IsWindowVisible(GetHandle())) return;
    const HWND wnd = GetHandle();
    RECT client{}, pending{};
    ::GetClientRect(wnd, &client);
    // All of it is to be painted anyway: no need for the bitmap.
    if (::GetUpdateRect(wnd, &pending, FALSE) && ::EqualRect(&pending, &client)) {
        ::RedrawWindow(wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_NOCHILDREN);
        return;
    }
    ::ValidateRect(wnd, nullptr);
    DrawNonClient(nullptr, nullptr);
    // Background and content into a bitmap, then onto the window at once.
    RepaintThroughBitmap(wnd);
}

bool TMbCustomDockableWindow::ShowsDockBackground() const
{
    return IsDocked && currentDock_ && currentDock_->GetBackgroundOnToolbars() && currentDock_->BackgroundActive();
}

void TMbCustomDockableWindow::SetPopupMenu(TMbPopupMenu* Value)
{
    if (Value == popupMenu_) return;
    if (popupMenu_) popupMenu_->RemoveFreeNotification(this);
    popupMenu_ = Value;
    if (Value) Value->FreeNotification(this);
}

bool TMbCustomDockableWindow::ContextPopup(LPARAM ScreenPos)
{
    if (GetComponentState() & csDesigning) return false;
    POINT screen{static_cast<short>(LOWORD(ScreenPos)), static_cast<short>(HIWORD(ScreenPos))};
    const bool keyboard = ScreenPos == -1;
    POINT client{-1, -1};
    if (!keyboard) {
        client = ScreenToClient(screen);
        // A click on the content is the content's business.
        const RECT r = GetClientRect();
        if (::PtInRect(&r, client)) return false;
    } else {
        screen = ClientToScreen(POINT{0, 0});
    }
    auto alive = AliveToken();
    bool handled = false;
    OnContextPopup(this, client, handled);
    if (!*alive) return true;
    if (!handled && popupMenu_) popupMenu_->Popup(screen.x, screen.y);
    return true;
}

RECT TMbCustomDockableWindow::DockedCloseRect(bool VerticalDock)
{
    const int h = DragHandleSize();
    const int s = h - 3;
    const RECT c = GetClientRect();
    if (VerticalDock) return RECT{c.right - s + 2, 3, c.right + 2, 3 + s};
    return RECT{3, 2, 3 + s, 2 + s};
}

void TMbCustomDockableWindow::ColorChanged()
{
    if (HandleAllocated())
        ::RedrawWindow(GetHandle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_NOCHILDREN);
    TCustomControl::ColorChanged();
}

void TMbCustomDockableWindow::RedrawNonClient()
{
    if (HandleAllocated() && ::IsWindowVisible(GetHandle())) DrawNonClient(nullptr, nullptr);
}

void TMbCustomDockableWindow::DrawNonClient(HDC GivenDC, HRGN Region)
{
    (void)Region;
    if (!IsDocked || !currentDock_ || !HandleAllocated()) return;
    std::unique_ptr<TWindowDC> own;
    const HDC dc = FrameDC(GetHandle(), GivenDC, own);
    const RECT w = WindowRectAtOrigin(GetHandle());
    const RECT client = GetClientRect();
    // Only the ring outside the client area is painted.
    TSaveDCScope saved(dc);
    {
        RECT inner{};
        POINT origin{0, 0};
        ::ClientToScreen(GetHandle(), &origin);
        RECT wr{};
        ::GetWindowRect(GetHandle(), &wr);
        inner = client;
        ::OffsetRect(&inner, origin.x - wr.left, origin.y - wr.top);
        ::ExcludeClipRect(dc, inner.left, inner.top, inner.right, inner.bottom);
    }
    TOwnedBrush face(::CreateSolidBrush(ColorToRGB(GetColor())));
    RECT r = w;
    if (borderStyle_ == bsSingleBorder) {
        ::DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
    } else {
        ::FrameRect(dc, &r, face.Get());
    }
    ::InflateRect(&r, -1, -1);
    const bool dockBackground = ShowsDockBackground();
    if (dockBackground) {
        // Inside the edge the ring shows the dock's picture, continued.
        RECT wr{};
        ::GetWindowRect(GetHandle(), &wr);
        TSaveDCScope ring(dc);
        ::ExcludeClipRect(dc, r.left + 1, r.top + 1, r.right - 1, r.bottom - 1);
        currentDock_->PaintBackgroundAt(dc, r, POINT{wr.left, wr.top});
    } else {
        ::FrameRect(dc, &r, face.Get());
    }
    const bool vertical = currentDock_->IsVertical();
    if (currentDock_->GetAllowDrag()) {
        const int H = DragHandleSize();
        const int L = (vertical ? client.right : client.bottom) + 2;
        RECT area = vertical ? RECT{2, 2, L, H + 2} : RECT{2, 2, H + 2, L};
        if (dockBackground) {
            RECT wr{};
            ::GetWindowRect(GetHandle(), &wr);
            currentDock_->PaintBackgroundAt(dc, area, POINT{wr.left, wr.top});
        } else {
            ::FillRect(dc, &area, face.Get());
        }
        if (dragHandleStyle_ != dhNone) {
            const int count = dragHandleStyle_ == dhDouble ? 2 : 1;
            const int inset = dragHandleStyle_ == dhSingle ? 1 : 0;
            int at = GripStartOffset() + 2;
            for (int i = 0; i < count; ++i, at += 3) {
                int from = 2 + inset;
                int to = L - inset;
                if (!vertical && closeButtonWhenDocked_) from = H + inset;
                if (vertical && closeButtonWhenDocked_) to = client.right - H + 4 - inset;
                RECT grip = vertical ? RECT{from, at, to, at + 3} : RECT{at, from, at + 3, to};
                ::DrawEdge(dc, &grip, BDR_RAISEDINNER, BF_RECT | BF_MIDDLE);
                const COLORREF hi = ::GetSysColor(COLOR_BTNHIGHLIGHT);
                if (vertical) ::SetPixel(dc, to - 1, at + 2, hi);
                else ::SetPixel(dc, at + 2, to - 1, hi);
            }
        }
        if (closeButtonWhenDocked_) {
            RECT b = DockedCloseRect(vertical);
            if (CloseButtonPushed) ::DrawEdge(dc, &b, BDR_SUNKENOUTER, BF_RECT);
            else if (CloseButtonHot) ::DrawEdge(dc, &b, BDR_RAISEDINNER, BF_RECT);
            const int shift = CloseButtonPushed ? 1 : 0;
            DrawCross(dc, b.left + 2 + shift, b.top + 2 + shift);
        }
    }
}

int TMbCustomDockableWindow::NonClientHitTest(POINT Screen)
{
    if (!IsDocked || !currentDock_) return HTNOWHERE;
    if (closeButtonWhenDocked_ && currentDock_->GetAllowDrag()) {
        RECT wr{};
        ::GetWindowRect(GetHandle(), &wr);
        const RECT b = DockedCloseRect(currentDock_->IsVertical());
        const POINT p{Screen.x - wr.left, Screen.y - wr.top};
        if (::PtInRect(&b, p)) return kHitCloseButton;
    }
    return kHitDragHandle;
}

void TMbCustomDockableWindow::MouseMove(TShiftState Shift, int X, int Y)
{
    if (CloseButtonHot) {
        CloseButtonHot = false;
        RedrawNonClient();
    }
    TCustomControl::MouseMove(Shift, X, Y);
}

void TMbCustomDockableWindow::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    TCustomControl::MouseDown(Button, Shift, X, Y);
    if (Button != mbLeft || !DragAllowed()) return;
    if (PointOnContent(POINT{X, Y})) return;
    if (Shift & ssDouble) {
        ToggleDocking();
        return;
    }
    auto alive = AliveToken();
    RunDragLoop(POINT{X, Y});
    if (*alive) MouseUp(mbLeft, 0, -1, -1);
}

void TMbCustomDockableWindow::WndProc(TMessage& Message)
{
    switch (Message.Msg) {
    case WM_NCCALCSIZE:
        if (IsDocked && currentDock_) {
            auto* r = reinterpret_cast<RECT*>(Message.LParam);
            ::InflateRect(r, -2, -2);
            if (currentDock_->GetAllowDrag()) {
                if (currentDock_->IsVertical()) r->top += DragHandleSize();
                else r->left += DragHandleSize();
            }
            Message.Result = 0;
            return;
        }
        break;
    case WM_NCPAINT:
        if (IsDocked) {
            DrawNonClient(nullptr, nullptr);
            Message.Result = 0;
            return;
        }
        break;
    case WM_PRINT:
        // The docked frame is drawn by DrawNonClient; otherwise the window
        // has no frame of its own.
        Message.Result = PrintWindowTree(
            GetHandle(), reinterpret_cast<HDC>(Message.WParam), Message.LParam,
            [](HWND, HDC DC, void* Self) { static_cast<TMbCustomDockableWindow*>(Self)->DrawNonClient(DC, nullptr); },
            this);
        return;
    case WM_PRINTCLIENT:
        PaintHandler(Message);
        return;
    case WM_NCHITTEST:
        if (IsDocked) {
            TCustomControl::WndProc(Message);
            if (Message.Result != HTCLIENT)
                Message.Result = NonClientHitTest(POINT{static_cast<short>(LOWORD(Message.LParam)),
                                                        static_cast<short>(HIWORD(Message.LParam))});
            return;
        }
        break;
    case WM_SETCURSOR:
        if (IsDocked && currentDock_ && currentDock_->GetAllowDrag() && LOWORD(Message.LParam) == kHitDragHandle &&
            dragHandleStyle_ != dhNone && reinterpret_cast<HWND>(Message.WParam) == GetHandle()) {
            POINT p{};
            ::GetCursorPos(&p);
            RECT wr{};
            ::GetWindowRect(GetHandle(), &wr);
            const int along = currentDock_->IsVertical() ? p.y - wr.top : p.x - wr.left;
            if (along < DragHandleSize() + 2) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_SIZEALL));
                Message.Result = 1;
                return;
            }
        }
        break;
    case WM_NCMOUSEMOVE: {
        const bool hot = Message.WParam == static_cast<WPARAM>(kHitCloseButton);
        TRACKMOUSEEVENT t{sizeof(t), TME_LEAVE | TME_NONCLIENT, GetHandle(), 0};
        ::TrackMouseEvent(&t);
        if (hot != CloseButtonHot) {
            CloseButtonHot = hot;
            RedrawNonClient();
        }
        break;
    }
    case WM_NCMOUSELEAVE:
        if (CloseButtonHot && !::GetCapture()) {
            CloseButtonHot = false;
            RedrawNonClient();
        }
        break;
    case WM_NCLBUTTONDOWN:
        if (Message.WParam == static_cast<WPARAM>(kHitDragHandle)) {
            if (DragAllowed()) {
                POINT p{static_cast<short>(LOWORD(Message.LParam)), static_cast<short>(HIWORD(Message.LParam))};
                ::ScreenToClient(GetHandle(), &p);
                RunDragLoop(p);
            }
            Message.Result = 0;
            return;
        }
        if (Message.WParam == static_cast<WPARAM>(kHitCloseButton)) {
            RECT wr{};
            ::GetWindowRect(GetHandle(), &wr);
            RECT b = DockedCloseRect(currentDock_ && currentDock_->IsVertical());
            ::OffsetRect(&b, wr.left, wr.top);
            auto alive = AliveToken();
            struct TPush {
                TMbCustomDockableWindow* W;
                void Set(bool V)
                {
                    if (V == W->CloseButtonPushed) return;
                    W->CloseButtonPushed = V;
                    W->RedrawNonClient();
                }
            } push{this};
            if (MbTrackButton(GetHandle(), b, TEvent<void(bool)>(&push, &TPush::Set)) && *alive) Close();
            Message.Result = 0;
            return;
        }
        break;
    case WM_NCLBUTTONDBLCLK:
        if (Message.WParam == static_cast<WPARAM>(kHitDragHandle)) {
            if (DragAllowed()) ToggleDocking();
            Message.Result = 0;
            return;
        }
        break;
    case WM_NCRBUTTONUP:
        if (IsDocked) {
            ::SendMessageW(GetHandle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(GetHandle()), Message.LParam);
            Message.Result = 0;
            return;
        }
        break;
    case WM_CONTEXTMENU: {
        // The content (a child window) answers first through the default
        // handling, which passes the message up to its parents.
        if (reinterpret_cast<HWND>(Message.WParam) != GetHandle()) break;
        if (ContextPopup(Message.LParam)) {
            Message.Result = 1;
            return;
        }
        break;
    }
    case WM_ERASEBKGND:
        if (ShowsDockBackground()) {
            RECT r{};
            ::GetClientRect(GetHandle(), &r);
            POINT origin{0, 0};
            ::ClientToScreen(GetHandle(), &origin);
            currentDock_->PaintBackgroundAt(reinterpret_cast<HDC>(Message.WParam), r, origin);
            Message.Result = 1;
            return;
        }
        break;
    case WM_MOUSELEAVE:
        if (CloseButtonHot) {
            CloseButtonHot = false;
            RedrawNonClient();
        }
        break;
    default: break;
    }
    TCustomControl::WndProc(Message);
}

}  // namespace toolbar
