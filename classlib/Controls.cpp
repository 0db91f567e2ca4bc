#include "classlib/Controls.h"

#include <windowsx.h>

#include <algorithm>
#include <map>

#include "classlib/Docking.h"
#include "classlib/Forms.h"
#include "classlib/Hints.h"
#include "classlib/SysUtils.h"

namespace classlib {

namespace {

// The control whose window CreateWindowExW is making on this thread; the
// shared window procedure binds it to the window at the first message
// (which, for some windows, comes before WM_NCCREATE).
thread_local TWinControl* creatingControl = nullptr;

bool IsMouseMessage(UINT msg)
{
    return msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST && msg != WM_MOUSEWHEEL && msg != WM_MOUSEHWHEEL;
}

POINT MessagePoint(const TMessage& m) { return POINT{GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam)}; }

LPARAM PointToLParam(POINT p)
{
    return static_cast<LPARAM>(static_cast<uint32_t>(static_cast<uint16_t>(static_cast<int16_t>(p.x))) |
                               (static_cast<uint32_t>(static_cast<uint16_t>(static_cast<int16_t>(p.y))) << 16));
}

std::wstring ControlDescription(const TControl* c)
{
    return c->GetName().empty() ? c->ClassName() : c->GetName();
}

// Uses a DC on a canvas for a paint and lets go of it on every way out.
class TCanvasPaintScope {
public:
    TCanvasPaintScope(TControlCanvas* canvas, HDC dc) : canvas_(canvas)
    {
        canvas_->Lock();
        canvas_->SetPaintDC(dc);
    }
    ~TCanvasPaintScope()
    {
        canvas_->FreeHandle();
        canvas_->Unlock();
    }
    TCanvasPaintScope(const TCanvasPaintScope&) = delete;
    TCanvasPaintScope& operator=(const TCanvasPaintScope&) = delete;

private:
    TControlCanvas* canvas_;
};

std::map<TCursor, HCURSOR>& RegisteredCursors()
{
    static std::map<TCursor, HCURSOR> cursors;
    return cursors;
}

TCursor overrideCursor = crDefault;
TWindowExceptionHook windowExceptionHook = nullptr;

LPCWSTR SystemCursorName(TCursor c)
{
    switch (c) {
    case crArrow: return IDC_ARROW;
    case crCross: return IDC_CROSS;
    case crIBeam: return IDC_IBEAM;
    case crSizeNESW: return IDC_SIZENESW;
    case crSizeNS: return IDC_SIZENS;
    case crSizeNWSE: return IDC_SIZENWSE;
    case crSizeWE: return IDC_SIZEWE;
    case crUpArrow: return IDC_UPARROW;
    case crHourGlass: return IDC_WAIT;
    case crNo: return IDC_NO;
    case crAppStart: return IDC_APPSTARTING;
    case crHelp: return IDC_HELP;
    case crHandPoint: return IDC_HAND;
    case crSizeAll: return IDC_SIZEALL;
    default: return nullptr;
    }
}

}  // namespace

HCURSOR GetCursorHandle(TCursor Cursor)
{
    if (Cursor == crNone) return nullptr;
    auto& reg = RegisteredCursors();
    auto it = reg.find(Cursor);
    if (it != reg.end()) return it->second;
    if (LPCWSTR name = SystemCursorName(Cursor)) return ::LoadCursorW(nullptr, name);
    return ::LoadCursorW(nullptr, IDC_ARROW);
}

void SetCursorHandle(TCursor Cursor, HCURSOR Handle)
{
    if (Handle)
        RegisteredCursors()[Cursor] = Handle;
    else
        RegisteredCursors().erase(Cursor);
}

TCursor GetOverrideCursor() { return overrideCursor; }

void SetOverrideCursor(TCursor Cursor) { overrideCursor = Cursor; }

void SetWindowExceptionHook(TWindowExceptionHook Hook) { windowExceptionHook = Hook; }

TWindowExceptionHook GetWindowExceptionHook() { return windowExceptionHook; }

TShiftState KeyboardStateToShiftState()
{
    TShiftState s = 0;
    if (::GetKeyState(VK_SHIFT) < 0) s |= ssShift;
    if (::GetKeyState(VK_CONTROL) < 0) s |= ssCtrl;
    if (::GetKeyState(VK_MENU) < 0) s |= ssAlt;
    if (::GetKeyState(VK_LBUTTON) < 0) s |= ssLeft;
    if (::GetKeyState(VK_RBUTTON) < 0) s |= ssRight;
    if (::GetKeyState(VK_MBUTTON) < 0) s |= ssMiddle;
    return s;
}

TShiftState MouseKeysToShiftState(WPARAM Keys)
{
    TShiftState s = 0;
    if (Keys & MK_SHIFT) s |= ssShift;
    if (Keys & MK_CONTROL) s |= ssCtrl;
    if (Keys & MK_LBUTTON) s |= ssLeft;
    if (Keys & MK_RBUTTON) s |= ssRight;
    if (Keys & MK_MBUTTON) s |= ssMiddle;
    if (::GetKeyState(VK_MENU) < 0) s |= ssAlt;
    return s;
}

// ================================================================ TControl

TControl::TControl(TComponent* AOwner)
    : TComponent(AOwner), font_(std::make_unique<TFont>()), alive_(std::make_shared<bool>(true))
{
    font_->OnChange = TNotifyEvent(this, &TControl::FontChanged);
}

namespace {
// The screen point of the last button press a control received; a drag
// begun from the press measures its threshold from there.
POINT lastPressScreen{};
}  // namespace

POINT LastPressScreenPoint() { return lastPressScreen; }

// The drag engine's hooks (Docking.cpp).
bool DragEngineMessage(TWinControl* Control, TMessage& Message);
void DragEngineControlGone(TControl* Control);

TControl::~TControl()
{
    *alive_ = false;
    Destroying();
    LeaveDockSite();
    if (parent_) parent_->RemoveControl(this);
    // The floating host goes with its client.
    TWinControl* host = floatHost_;
    floatHost_ = nullptr;
    delete host;
}

void TControl::LeaveDockSite()
{
    DragEngineControlGone(this);
    if (TWinControl* site = hostDockSite_) {
        hostDockSite_ = nullptr;
        auto& list = site->dockClients_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        if (site->dockManager_) site->dockManager_->RemoveControl(this);
    }
}

void TControl::SetParent(TWinControl* Value)
{
    if (Value == parent_) return;
    for (TControl* p = Value; p; p = p->parent_)
        if (p == this) throw EInvalidOperation(L"A control cannot have itself or a child as its parent");
    if (parent_) parent_->RemoveControl(this);
    if (Value) Value->InsertControl(this);
    if (Value && parentShowHint_) ApplyShowHint(Value->showHint_);
}

void TControl::UpdateBoundsFields(int ALeft, int ATop, int AWidth, int AHeight)
{
    left_ = ALeft;
    top_ = ATop;
    width_ = AWidth;
    height_ = AHeight;
    // Bounds set from outside are the new reference of the anchors.
    if (!anchoring_ && anchors_ != kDefaultAnchors) UpdateAnchorRules();
}

void TControl::SetAnchors(TAnchors Value)
{
    anchors_ = Value & (akLeft | akTop | akRight | akBottom);
    UpdateAnchorRules();
}

void TControl::UpdateAnchorRules()
{
    anchorParent_ = SIZE{-1, -1};
    if (!parent_) return;
    const RECT pc = parent_->GetClientRect();
    const int w = pc.right - pc.left, h = pc.bottom - pc.top;
    // A parent without a size yet: the distances are taken at its first
    // alignment with a size.
    if (w <= 0 && h <= 0) return;
    anchorParent_ = SIZE{w, h};
    anchorDist_ = RECT{left_, top_, w - (left_ + width_), h - (top_ + height_)};
}

void TControl::ApplyAnchors(int ParentWidth, int ParentHeight)
{
    if (align_ != alNone || anchors_ == kDefaultAnchors) return;
    if (anchorParent_.cx < 0) {
        UpdateAnchorRules();
        return;
    }
    // One axis: the start and length from the distances (Near, Far) taken
    // in a parent of length Was, for a parent of length Now.
    auto place = [](bool NearSide, bool FarSide, int Near, int Far, int Length, int Was, int Now, int& Start,
                    int& NewLength) {
        NewLength = Length;
        if (NearSide && FarSide) {
            Start = Near;
            NewLength = std::max(0, Now - Near - Far);
        } else if (FarSide) {
            Start = Now - Far - Length;
        } else if (NearSide) {
            Start = Near;
        } else if (Was > 0) {
            // The centre keeps its proportion (doubled to stay exact).
            const long long centre2 = 2LL * Near + Length;
            Start = static_cast<int>((centre2 * Now / Was - Length) / 2);
        } else {
            Start = Near;
        }
    };
    int left, top, width, height;
    place(anchors_ & akLeft, anchors_ & akRight, anchorDist_.left, anchorDist_.right, width_, anchorParent_.cx,
          ParentWidth, left, width);
    place(anchors_ & akTop, anchors_ & akBottom, anchorDist_.top, anchorDist_.bottom, height_, anchorParent_.cy,
          ParentHeight, top, height);
    auto alive = alive_;
    anchoring_ = true;
    try {
        SetBounds(left, top, width, height);
    } catch (...) {
        if (*alive) anchoring_ = false;
        throw;
    }
    if (*alive) anchoring_ = false;
}

void TControl::InvalidateInParent(const RECT& R)
{
    // A parent on its way out repaints nothing.
    if (parent_ && parent_->HandleAllocated() && !(parent_->GetComponentState() & csDestroying))
        ::InvalidateRect(parent_->handle_, &R, (ControlStyle & csOpaque) ? FALSE : TRUE);
}

void TControl::ConstrainSize(int& AWidth, int& AHeight) const
{
    const TSizeConstraints& c = constraints_;
    if (c.MaxWidth > 0 && AWidth > c.MaxWidth) AWidth = c.MaxWidth;
    if (c.MaxHeight > 0 && AHeight > c.MaxHeight) AHeight = c.MaxHeight;
    if (c.MinWidth > 0 && AWidth < c.MinWidth) AWidth = c.MinWidth;
    if (c.MinHeight > 0 && AHeight < c.MinHeight) AHeight = c.MinHeight;
}

void TControl::SetConstraints(const TSizeConstraints& Value)
{
    constraints_ = Value;
    SetBounds(left_, top_, width_, height_);
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight)
{
    ConstrainSize(AWidth, AHeight);
    if (ALeft == left_ && ATop == top_ && AWidth == width_ && AHeight == height_) return;
    if (visible_) InvalidateInParent(GetBoundsRect());
    UpdateBoundsFields(ALeft, ATop, AWidth, AHeight);
    if (visible_) InvalidateInParent(GetBoundsRect());
    BoundsChanged();
}

void TControl::BoundsChanged()
{
    auto alive = alive_;
    if (auto* w = dynamic_cast<TWinControl*>(this)) w->AlignControls();
    if (!*alive) return;
    RequestParentAlign();
    if (!*alive) return;
    Resize();
}

void TControl::RequestParentAlign()
{
    if (align_ != alNone && parent_ && !parent_->aligning_) parent_->AlignControls();
}

void TControl::Resize() { OnResize(this); }

void TControl::SetAlign(TAlign Value)
{
    if (Value == align_) return;
    align_ = Value;
    if (parent_) parent_->AlignControls();
}

RECT TControl::GetClientRect() const { return RECT{0, 0, width_, height_}; }

int TControl::GetClientWidth() const
{
    RECT r = GetClientRect();
    return r.right - r.left;
}

int TControl::GetClientHeight() const
{
    RECT r = GetClientRect();
    return r.bottom - r.top;
}

void TControl::SetClientWidth(int Value) { SetWidth(width_ - GetClientWidth() + Value); }

void TControl::SetClientHeight(int Value) { SetHeight(height_ - GetClientHeight() + Value); }

void TControl::SetVisible(bool Value)
{
    if (Value == visible_) return;
    visible_ = Value;
    InvalidateInParent(GetBoundsRect());
    if (align_ != alNone && parent_) parent_->AlignControls();
    if (hostDockSite_) hostDockSite_->DockNotification(this, CM_VISIBLECHANGED, Value ? 1 : 0);
}

void TControl::SetEnabled(bool Value)
{
    if (Value == enabled_) return;
    enabled_ = Value;
    Invalidate();
}

bool TControl::Showing() const { return visible_ && parent_ && parent_->Showing(); }

void TControl::SetColor(TColor Value)
{
    if (Value == color_) return;
    color_ = Value;
    ColorChanged();
}

void TControl::ColorChanged() { Invalidate(); }

void TControl::FontChanged(TObject*) { Invalidate(); }

void TControl::SetShowHint(bool Value)
{
    parentShowHint_ = false;
    ApplyShowHint(Value);
}

void TControl::SetParentShowHint(bool Value)
{
    if (parentShowHint_ == Value) return;
    parentShowHint_ = Value;
    if (Value && parent_) ApplyShowHint(parent_->showHint_);
}

void TControl::ApplyShowHint(bool Value)
{
    if (showHint_ == Value) return;
    showHint_ = Value;
    ShowHintChanged();
}

POINT TControl::ClientOrigin() const
{
    if (dynamic_cast<const TWinControl*>(this)) return POINT{0, 0};
    POINT p{left_, top_};
    if (parent_) {
        POINT q = parent_->ClientOrigin();
        p.x += q.x;
        p.y += q.y;
    }
    return p;
}

POINT TControl::ClientToScreen(POINT P) const
{
    if (auto* w = dynamic_cast<const TWinControl*>(this)) {
        if (w->handle_) {
            ::ClientToScreen(w->handle_, &P);
            return P;
        }
        if (!parent_ && w->parentWindow_) {
            POINT q{P.x + left_, P.y + top_};
            ::ClientToScreen(w->parentWindow_, &q);
            return q;
        }
    }
    POINT q{P.x + left_, P.y + top_};
    return parent_ ? parent_->ClientToScreen(q) : q;
}

POINT TControl::ScreenToClient(POINT P) const
{
    POINT origin = ClientToScreen(POINT{0, 0});
    return POINT{P.x - origin.x, P.y - origin.y};
}

void TControl::Invalidate()
{
    if (visible_) InvalidateInParent(GetBoundsRect());
}

void TControl::Update()
{
    if (parent_) parent_->Update();
}

void TControl::Repaint()
{
    Invalidate();
    Update();
}

LRESULT TControl::Perform(UINT Msg, WPARAM WParam, LPARAM LParam)
{
    TMessage m;
    m.Msg = Msg;
    m.WParam = WParam;
    m.LParam = LParam;
    WndProc(m);
    return m.Result;
}

void TControl::WndProc(TMessage& Message)
{
    if (!IsMouseMessage(Message.Msg)) {
        Dispatch(Message);
        return;
    }
    // A press cancels the hint before its handler runs (which may start a
    // modal loop); a move is tracked after its handler, which may have set
    // the hint of what lies under the pointer.
    if (Message.Msg != WM_MOUSEMOVE && Application) Application->CancelHint();
    auto alive = alive_;
    Dispatch(Message);
    if (Message.Msg != WM_MOUSEMOVE || !*alive || !Application) return;
    Application->HintMouseMessage(this, Message);
    if (!*alive) return;
    const POINT screen = ClientToScreen(MessagePoint(Message));
    Application->SetHint(GetLongHint(GetHint(FindDragTarget(screen, true))));
}

void TControl::Dispatch(TMessage& Message)
{
    switch (Message.Msg) {
    case WM_LBUTTONDOWN: MouseButtonDown(Message, mbLeft, false); break;
    case WM_LBUTTONDBLCLK: MouseButtonDown(Message, mbLeft, true); break;
    case WM_RBUTTONDOWN: MouseButtonDown(Message, mbRight, false); break;
    case WM_RBUTTONDBLCLK: MouseButtonDown(Message, mbRight, true); break;
    case WM_MBUTTONDOWN: MouseButtonDown(Message, mbMiddle, false); break;
    case WM_MBUTTONDBLCLK: MouseButtonDown(Message, mbMiddle, true); break;
    case WM_LBUTTONUP: MouseButtonUp(Message, mbLeft); break;
    case WM_RBUTTONUP: MouseButtonUp(Message, mbRight); break;
    case WM_MBUTTONUP: MouseButtonUp(Message, mbMiddle); break;
    case WM_MOUSEMOVE: MouseMoved(Message); break;
    case CM_MOUSEENTER:
        MouseEnter();
        Message.Result = 0;
        break;
    case CM_MOUSELEAVE:
        MouseLeave();
        Message.Result = 0;
        break;
    default: DefaultHandler(Message); break;
    }
}

void TControl::MouseEnter() { OnMouseEnter(this); }

void TControl::MouseLeave() { OnMouseLeave(this); }

void TControl::DefaultHandler(TMessage& Message) { Message.Result = 0; }

void TControl::MouseButtonDown(TMessage& Message, TMouseButton Button, bool Double)
{
    auto alive = alive_;
    DefaultHandler(Message);
    if (!*alive) return;
    if (ControlStyle & csCaptureMouse) CaptureMouse();
    if (Button == mbLeft) {
        ControlState |= csLButtonDown;
        if (ControlStyle & csClickEvents) ControlState |= csClicked;
    }
    POINT p = MessagePoint(Message);
    lastPressScreen = ClientToScreen(p);
    TShiftState shift = MouseKeysToShiftState(Message.WParam) | (Double ? ssDouble : 0);
    // A dock site's manager takes presses on its grabbers.
    if (auto* w = dynamic_cast<TWinControl*>(this); w && Button == mbLeft && !Double && w->dockManager_ &&
                                                     w->useDockManager_ && w->dockManager_->MouseDown(p))
        return;
    if (Double && Button == mbLeft) {
        DblClick();
        if (!*alive) return;
    }
    MouseDown(Button, shift, p.x, p.y);
    if (*alive && Button == mbLeft && DragMode == dmAutomatic && !Dragging()) BeginDrag(false);
}

void TControl::MouseButtonUp(TMessage& Message, TMouseButton Button)
{
    auto alive = alive_;
    DefaultHandler(Message);
    if (!*alive) return;
    bool clicked = false;
    if (Button == mbLeft) {
        clicked = (ControlState & csClicked) != 0;
        ControlState &= ~(csClicked | csLButtonDown);
    }
    if (!(Message.WParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON))) ReleaseMouse();
    POINT p = MessagePoint(Message);
    if (clicked) {
        RECT r = GetClientRect();
        if (::PtInRect(&r, p)) {
            Click();
            if (!*alive) return;
        }
    }
    MouseUp(Button, MouseKeysToShiftState(Message.WParam), p.x, p.y);
}

void TControl::MouseMoved(TMessage& Message)
{
    auto alive = alive_;
    DefaultHandler(Message);
    if (!*alive) return;
    POINT p = MessagePoint(Message);
    MouseMove(MouseKeysToShiftState(Message.WParam), p.x, p.y);
}

void TControl::Click() { OnClick(this); }

void TControl::DblClick() { OnDblClick(this); }

void TControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) { OnMouseDown(this, Button, Shift, X, Y); }

void TControl::MouseMove(TShiftState Shift, int X, int Y) { OnMouseMove(this, Shift, X, Y); }

void TControl::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) { OnMouseUp(this, Button, Shift, X, Y); }

void TControl::CaptureMouse()
{
    if (!parent_ || !parent_->HandleAllocated()) return;
    parent_->captureControl_ = this;
    ::SetCapture(parent_->handle_);
}

void TControl::ReleaseMouse()
{
    if (!parent_ || parent_->captureControl_ != this) return;
    parent_->captureControl_ = nullptr;
    if (parent_->handle_ && ::GetCapture() == parent_->handle_) ::ReleaseCapture();
}

// ============================================================= TWinControl

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) { ControlStyle |= csAcceptsControls; }

TWinControl::~TWinControl()
{
    *alive_ = false;
    Destroying();
    LeaveDockSite();
    for (TControl* c : dockClients_) c->hostDockSite_ = nullptr;
    dockClients_.clear();
    delete dockManager_;
    dockManager_ = nullptr;
    ReleaseChildren();
    if (handle_) {
        // The window goes without calling back into this half-destroyed
        // object: its messages from here on get the default handling.
        HWND wnd = handle_;
        ::SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
        handle_ = nullptr;
        ::DestroyWindow(wnd);
    }
    if (parent_) parent_->RemoveControl(this);
}

void TWinControl::ReleaseChildren()
{
    captureControl_ = nullptr;
    while (!controls_.empty()) {
        TControl* c = controls_.back();
        if (auto* w = dynamic_cast<TWinControl*>(c)) w->DestroyHandle();
        controls_.pop_back();
        c->parent_ = nullptr;
    }
    winControls_.clear();
    tabList_.clear();
    mouseControl_ = nullptr;
}

HWND TWinControl::GetHandle()
{
    if (handle_) return handle_;
    if (parent_) parent_->HandleNeeded();  // also makes the windows of its visible children
    if (handle_) return handle_;
    ControlState |= csCreating;
    try {
        CreateWnd();
    } catch (...) {
        ControlState &= ~csCreating;
        throw;
    }
    ControlState &= ~csCreating;
    CreateHandleDone();
    // The window's client area may differ from the bounds (frames, menus).
    AlignControls();
    for (std::size_t i = 0; i < winControls_.size(); ++i)
        if (winControls_[i]->GetVisible()) winControls_[i]->HandleNeeded();
    return handle_;
}

void TWinControl::CreateParams(TCreateParams& Params)
{
    Params.Caption.clear();
    Params.Style = WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    if (GetVisible()) Params.Style |= WS_VISIBLE;
    if (!GetEnabled()) Params.Style |= WS_DISABLED;
    Params.ExStyle = 0;
    Params.X = GetLeft();
    Params.Y = GetTop();
    Params.Width = GetWidth();
    Params.Height = GetHeight();
    Params.WndParent = parent_ ? parent_->handle_ : parentWindow_;
    Params.WinClassName = ClassName();
    Params.WindowClassStyle = CS_DBLCLKS;
    Params.Cursor = nullptr;
}

void TWinControl::CreateWnd()
{
    TCreateParams params;
    CreateParams(params);
    if ((params.Style & WS_CHILD) && !params.WndParent)
        throw EInvalidOperation(L"Control '" + ControlDescription(this) + L"' has no parent window");

    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(existing);
    if (::GetClassInfoExW(instance, params.WinClassName.c_str(), &existing)) {
        if (existing.lpfnWndProc != &TWinControl::SharedWindowProc)
            throw EInvalidOperation(L"Window class " + params.WinClassName + L" belongs to another window procedure");
    } else {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.style = params.WindowClassStyle;
        wc.lpfnWndProc = &TWinControl::SharedWindowProc;
        wc.hInstance = instance;
        wc.hCursor = params.Cursor ? params.Cursor : ::LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = params.WinClassName.c_str();
        if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) RaiseLastOSError();
    }

    TWinControl* previous = creatingControl;
    creatingControl = this;
    HWND wnd = ::CreateWindowExW(params.ExStyle, params.WinClassName.c_str(), params.Caption.c_str(), params.Style,
                                 params.X, params.Y, params.Width, params.Height, params.WndParent, nullptr, instance,
                                 nullptr);
    DWORD error = ::GetLastError();
    creatingControl = previous;
    if (!wnd) {
        handle_ = nullptr;
        RaiseLastOSError(error ? error : ERROR_INVALID_WINDOW_HANDLE);
    }
    handle_ = wnd;
}

void TWinControl::DestroyWnd()
{
    if (!handle_) return;
    HWND wnd = handle_;
    ::DestroyWindow(wnd);
    // WM_NCDESTROY normally clears the handle; a window destroyed by some
    // other means must not leave it behind either.
    if (handle_ == wnd) {
        ::SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
        handle_ = nullptr;
    }
}

void TWinControl::DestroyHandle()
{
    if (!handle_ || destroyingHandle_) return;
    destroyingHandle_ = true;
    for (std::size_t i = 0; i < winControls_.size(); ++i) winControls_[i]->DestroyHandle();
    for (TControl* c : controls_)
        if (auto* g = dynamic_cast<TGraphicControl*>(c))
            if (auto* canvas = dynamic_cast<TControlCanvas*>(g->GetCanvas())) canvas->FreeHandle();
    captureControl_ = nullptr;
    try {
        DestroyWnd();
    } catch (...) {
        destroyingHandle_ = false;
        throw;
    }
    destroyingHandle_ = false;
}

void TWinControl::RecreateWnd()
{
    if (!handle_) return;
    DestroyHandle();
    HandleNeeded();
}

void TWinControl::SetParentWindow(HWND Value)
{
    if (Value == parentWindow_) return;
    DestroyHandle();
    parentWindow_ = Value;
}

void TWinControl::SetParent(TWinControl* Value)
{
    if (Value == parent_) return;
    for (TControl* p = Value; p; p = p->parent_)
        if (p == this) throw EInvalidOperation(L"A control cannot have itself or a child as its parent");
    DestroyHandle();
    TControl::SetParent(Value);
    if (parent_ && parent_->HandleAllocated() && GetVisible()) HandleNeeded();
}

void TWinControl::UpdateWindowPos()
{
    if (!handle_) return;
    RECT r;
    ::GetWindowRect(handle_, &r);
    if (::GetWindowLongPtrW(handle_, GWL_STYLE) & WS_CHILD) {
        HWND parentWnd = ::GetParent(handle_);
        ::MapWindowPoints(HWND_DESKTOP, parentWnd, reinterpret_cast<POINT*>(&r), 2);
    }
    int w = r.right - r.left, h = r.bottom - r.top;
    if (r.left == GetLeft() && r.top == GetTop() && w == GetWidth() && h == GetHeight()) return;
    UpdateBoundsFields(r.left, r.top, w, h);
    BoundsChanged();
}

void TWinControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight)
{
    ConstrainSize(AWidth, AHeight);
    if (handle_) {
        ::SetWindowPos(handle_, nullptr, ALeft, ATop, AWidth, AHeight, SWP_NOZORDER | SWP_NOACTIVATE);
        UpdateWindowPos();
        return;
    }
    if (ALeft == GetLeft() && ATop == GetTop() && AWidth == GetWidth() && AHeight == GetHeight()) return;
    UpdateBoundsFields(ALeft, ATop, AWidth, AHeight);
    BoundsChanged();
}

RECT TWinControl::GetClientRect() const
{
    if (handle_) {
        RECT r;
        if (::GetClientRect(handle_, &r)) return r;
    }
    return TControl::GetClientRect();
}

void TWinControl::SetVisible(bool Value)
{
    if (Value == GetVisible()) return;
    visible_ = Value;
    if (handle_)
        ::ShowWindow(handle_, Value ? SW_SHOWNOACTIVATE : SW_HIDE);
    else if (Value && parent_ && parent_->HandleAllocated())
        HandleNeeded();
    if (GetAlign() != alNone && parent_) parent_->AlignControls();
    if (hostDockSite_) hostDockSite_->DockNotification(this, CM_VISIBLECHANGED, Value ? 1 : 0);
}

void TWinControl::SetEnabled(bool Value)
{
    if (Value == GetEnabled()) return;
    enabled_ = Value;
    if (handle_) ::EnableWindow(handle_, Value ? TRUE : FALSE);
}

bool TWinControl::Showing() const { return handle_ && ::IsWindowVisible(handle_); }

TControl* TWinControl::GetControl(int Index) const
{
    if (Index < 0 || Index >= GetControlCount()) throw EListError(Format(L"List index out of bounds (%d)", Index));
    return controls_[static_cast<std::size_t>(Index)];
}

TWinControl* TWinControl::GetWinControl(int Index) const
{
    if (Index < 0 || Index >= GetWinControlCount())
        throw EListError(Format(L"List index out of bounds (%d)", Index));
    return winControls_[static_cast<std::size_t>(Index)];
}

TControl* TWinControl::ControlAtPos(POINT Pos, bool AllowDisabled, bool AllowWinControls) const
{
    for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
        TControl* c = *it;
        if (!AllowWinControls && dynamic_cast<TWinControl*>(c)) continue;
        if (!c->GetVisible() || (!c->GetEnabled() && !AllowDisabled)) continue;
        RECT r = c->GetBoundsRect();
        if (::PtInRect(&r, Pos)) return c;
    }
    return nullptr;
}

bool TWinControl::ContainsControl(const TControl* Control) const
{
    for (const TControl* c = Control; c; c = c->parent_)
        if (c == this) return true;
    return false;
}

bool TWinControl::CanFocus() const
{
    for (const TControl* c = this; c; c = c->parent_)
        if (!c->GetVisible() || !c->GetEnabled()) return false;
    return true;
}

void TWinControl::SetFocus()
{
    if (!CanFocus()) throw EInvalidOperation(L"Cannot focus a disabled or invisible window");
    ::SetFocus(GetHandle());
}

bool TWinControl::Focused() const { return handle_ && ::GetFocus() == handle_; }

void TWinControl::Invalidate()
{
    if (handle_) ::InvalidateRect(handle_, nullptr, (ControlStyle & csOpaque) ? FALSE : TRUE);
}

void TWinControl::Update()
{
    if (handle_) ::UpdateWindow(handle_);
}

void TWinControl::Repaint()
{
    Invalidate();
    Update();
}

void TWinControl::InsertControl(TControl* Control)
{
    const bool notify = !(GetComponentState() & csDestroying);
    auto alive = alive_;
    if (notify) Perform(CM_CONTROLLISTCHANGE, reinterpret_cast<WPARAM>(Control), 1);
    if (!*alive) return;
    controls_.push_back(Control);
    if (auto* w = dynamic_cast<TWinControl*>(Control)) {
        winControls_.push_back(w);
        tabList_.push_back(w);
    }
    Control->parent_ = this;
    if (Control->anchors_ != kDefaultAnchors) Control->UpdateAnchorRules();
    if (!dynamic_cast<TWinControl*>(Control)) Control->Invalidate();
    if (Control->align_ != alNone) AlignControls();
    if (notify && *alive) Perform(CM_CONTROLCHANGE, reinterpret_cast<WPARAM>(Control), 1);
}

void TWinControl::RemoveControl(TControl* Control)
{
    if (std::find(controls_.begin(), controls_.end(), Control) == controls_.end()) return;
    const bool notify = !(GetComponentState() & csDestroying);
    auto alive = alive_;
    if (notify) {
        Perform(CM_CONTROLCHANGE, reinterpret_cast<WPARAM>(Control), 0);
        if (!*alive) return;
    }
    auto it = std::find(controls_.begin(), controls_.end(), Control);
    if (it == controls_.end()) return;
    if (captureControl_ == Control) {
        captureControl_ = nullptr;
        if (handle_ && ::GetCapture() == handle_) ::ReleaseCapture();
    }
    bool graphic = !dynamic_cast<TWinControl*>(Control);
    if (graphic) Control->Invalidate();
    controls_.erase(it);
    auto wit = std::find(winControls_.begin(), winControls_.end(), Control);
    if (wit != winControls_.end()) winControls_.erase(wit);
    auto tit = std::find(tabList_.begin(), tabList_.end(), Control);
    if (tit != tabList_.end()) tabList_.erase(tit);
    if (mouseControl_ == Control) mouseControl_ = nullptr;
    Control->parent_ = nullptr;
    Control->anchorParent_ = SIZE{-1, -1};
    if (Control->align_ != alNone && notify) AlignControls();
    if (notify && *alive) Perform(CM_CONTROLLISTCHANGE, reinterpret_cast<WPARAM>(Control), 0);
}

void TWinControl::CaptureMouse()
{
    if (handle_) ::SetCapture(handle_);
}

void TWinControl::ReleaseMouse()
{
    if (handle_ && ::GetCapture() == handle_ && !captureControl_) ::ReleaseCapture();
}

void TWinControl::RouteMouseToChild(TMessage& Message, bool& Handled)
{
    Handled = false;
    TControl* target = captureControl_;
    if (!target) {
        // The window keeps the mouse it captured for itself.
        if (handle_ && ::GetCapture() == handle_) return;
        target = ControlAtPos(MessagePoint(Message));
    }
    if (!target) return;
    POINT p = MessagePoint(Message);
    p.x -= target->GetLeft();
    p.y -= target->GetTop();
    Handled = true;
    // The target (or this control) may be gone when Perform returns.
    Message.Result = target->Perform(Message.Msg, Message.WParam, PointToLParam(p));
}

void TWinControl::WndProc(TMessage& Message)
{
    if (DragEngineMessage(this, Message)) return;
    if (dockManager_) {
        auto alive = alive_;
        dockManager_->SiteMessage(Message);
        if (!*alive) return;
    }
    if (Message.Msg == WM_MOUSEMOVE) {
        auto alive = alive_;
        TrackMouse(Message);
        if (!*alive) return;
    } else if (Message.Msg == WM_MOUSELEAVE) {
        MouseLeft();
        Message.Result = 0;
        return;
    }
    if (IsMouseMessage(Message.Msg)) {
        bool handled = false;
        RouteMouseToChild(Message, handled);
        if (handled) return;
    }
    TControl::WndProc(Message);
}

void TWinControl::Dispatch(TMessage& Message)
{
    switch (Message.Msg) {
    case CM_CONTROLLISTCHANGE:
        if (parent_ && !(parent_->GetComponentState() & csDestroying))
            parent_->Perform(Message.Msg, Message.WParam, Message.LParam);
        break;
    case CM_CONTROLCHANGE: break;
    case WM_PAINT: PaintHandler(Message); break;
    case WM_ERASEBKGND:
        // A buffered paint draws the background into its bitmap; an erase
        // of the window itself would show before the picture.
        if (doubleBuffered_ && Message.WParam != static_cast<WPARAM>(Message.LParam))
            Message.Result = 1;
        else
            EraseBackground(Message);
        break;
    case WM_SIZE: WMSize(Message); break;
    case WM_MOVE: WMMove(Message); break;
    case WM_DESTROY: WMDestroy(Message); break;
    case WM_NCDESTROY: WMNCDestroy(Message); break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP: {
        auto alive = alive_;
        WORD key = static_cast<WORD>(Message.WParam);
        bool up = Message.Msg == WM_KEYUP || Message.Msg == WM_SYSKEYUP;
        if (KeyDownWithPreview(key, KeyboardStateToShiftState(), up)) {
            Message.Result = 0;
            break;
        }
        if (!*alive) break;
        if (!up && key == VK_TAB) {
            bool taken = false;
            TShiftState shift = KeyboardStateToShiftState();
            for (TWinControl* p = this; p && !taken; p = p->parent_) {
                taken = p->DialogKey(key, shift);
                if (!*alive) return;
            }
            if (taken) {
                Message.Result = 0;
                break;
            }
        }
        // Tab (Shift+Tab) not taken by the window moves the focus along the
        // tab order of the topmost control.
        if (!up && key == VK_TAB && handle_ &&
            !(::SendMessageW(handle_, WM_GETDLGCODE, VK_TAB, 0) & (DLGC_WANTTAB | DLGC_WANTALLKEYS))) {
            if (!*alive) break;
            if (TopControl()->SelectNext(this, ::GetKeyState(VK_SHIFT) >= 0, true)) {
                Message.Result = 0;
                break;
            }
        }
        if (!*alive) break;
        if (!up && (key == VK_MENU || key == VK_ESCAPE) && TopControl()->Perform(CM_DIALOGKEY, key, Message.LParam)) {
            Message.Result = 0;
            break;
        }
        if (!*alive) break;
        Message.WParam = key;
        DefaultHandler(Message);
        break;
    }
    case WM_SYSCHAR: {
        auto alive = alive_;
        if (TopControl()->Perform(CM_DIALOGCHAR, Message.WParam, Message.LParam)) {
            Message.Result = 0;
            break;
        }
        if (*alive) DefaultHandler(Message);
        break;
    }
    case CM_DIALOGKEY:
    case CM_DIALOGCHAR: {
        const std::vector<TWinControl*> children = winControls_;
        auto alive = alive_;
        for (TWinControl* child : children) {
            if (!*alive) break;
            if (std::find(winControls_.begin(), winControls_.end(), child) == winControls_.end()) continue;
            if ((Message.Result = child->Perform(Message.Msg, Message.WParam, Message.LParam)) != 0) break;
        }
        if (Message.Msg != CM_DIALOGCHAR || Message.Result != 0 || !*alive) break;
        const std::vector<TControl*> graphics = controls_;
        for (TControl* child : graphics) {
            if (!*alive) break;
            if (dynamic_cast<TWinControl*>(child)) continue;
            if (std::find(controls_.begin(), controls_.end(), child) == controls_.end()) continue;
            if ((Message.Result = child->Perform(Message.Msg, Message.WParam, Message.LParam)) != 0) break;
        }
        break;
    }
    case WM_CHAR: {
        auto alive = alive_;
        wchar_t key = static_cast<wchar_t>(Message.WParam);
        if (KeyPressWithPreview(key)) {
            Message.Result = 0;
            break;
        }
        if (!*alive) break;
        Message.WParam = key;
        DefaultHandler(Message);
        break;
    }
    case WM_SETFOCUS: {
        auto alive = alive_;
        DefaultHandler(Message);
        if (!*alive) break;
        TopControl()->FocusChanged(this);
        if (*alive) DoEnter();
        break;
    }
    case WM_KILLFOCUS: {
        auto alive = alive_;
        DefaultHandler(Message);
        if (*alive) DoExit();
        break;
    }
    case WM_SETCURSOR: WMSetCursor(Message); break;
    case WM_WINDOWPOSCHANGING: {
        // Sizes from outside (the user's frame, other code) obey the limits too.
        auto* pos = reinterpret_cast<WINDOWPOS*>(Message.LParam);
        if (pos && !(pos->flags & SWP_NOSIZE)) ConstrainSize(pos->cx, pos->cy);
        DefaultHandler(Message);
        break;
    }
    case WM_GETMINMAXINFO: {
        DefaultHandler(Message);
        auto* info = reinterpret_cast<MINMAXINFO*>(Message.LParam);
        const TSizeConstraints& c = GetConstraints();
        if (info) {
            if (c.MinWidth > 0) info->ptMinTrackSize.x = c.MinWidth;
            if (c.MinHeight > 0) info->ptMinTrackSize.y = c.MinHeight;
            if (c.MaxWidth > 0) info->ptMaxTrackSize.x = c.MaxWidth;
            if (c.MaxHeight > 0) info->ptMaxTrackSize.y = c.MaxHeight;
        }
        Message.Result = 0;
        break;
    }
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(Message.LParam) != handle_) captureControl_ = nullptr;
        DefaultHandler(Message);
        break;
    default: TControl::Dispatch(Message); break;
    }
}

void TWinControl::DefaultHandler(TMessage& Message)
{
    if (handle_)
        Message.Result = ::DefWindowProcW(handle_, Message.Msg, Message.WParam, Message.LParam);
    else
        Message.Result = 0;
}

void TWinControl::PaintHandler(TMessage& Message)
{
    Message.Result = 0;
    // Without a DC or a window there is nothing to paint on.
    if (!Message.WParam && !handle_) return;
    if (!Message.WParam && doubleBuffered_) {
        PaintBuffered(Message);
        return;
    }
    auto alive = alive_;
    if (Message.WParam) {
        HDC dc = reinterpret_cast<HDC>(Message.WParam);
        PaintWindow(dc);
        if (*alive) PaintControls(dc);
        if (*alive && dockManager_ && useDockManager_) dockManager_->PaintSite(dc);
    } else {
        TPaintScope paint(handle_);
        PaintWindow(paint.Get());
        if (*alive) PaintControls(paint.Get());
        if (*alive && dockManager_ && useDockManager_) dockManager_->PaintSite(paint.Get());
    }
}

void TWinControl::ShowControl(TControl*)
{
    if (TWinControl* parent = GetParent()) parent->ShowControl(this);
}

void TWinControl::PaintWindow(HDC) {}

void TWinControl::PaintBuffered(TMessage& Message)
{
    Message.Result = 0;
    if (!handle_) return;
    auto alive = alive_;
    TPaintScope paint(handle_);
    const RECT area = paint.Info().rcPaint;
    if (::IsRectEmpty(&area)) return;
    RECT client{};
    ::GetClientRect(handle_, &client);
    const auto dcParam = [](HDC dc) { return reinterpret_cast<WPARAM>(dc); };
    TOwnedBitmap bitmap(::CreateCompatibleBitmap(paint.Get(), std::max<LONG>(client.right, 1),
                                                 std::max<LONG>(client.bottom, 1)));
    TMemoryDC memory(bitmap.Get(), paint.Get());
    if (!bitmap || !memory.Get()) {
        // No room for the bitmap: the same steps straight on the window.
        Perform(WM_ERASEBKGND, dcParam(paint.Get()), static_cast<LPARAM>(dcParam(paint.Get())));
        if (*alive) Perform(WM_PAINT, dcParam(paint.Get()), 0);
        return;
    }
    // Only the part to be shown is drawn (the rest of the bitmap is never
    // copied).
    ::IntersectClipRect(memory.Get(), area.left, area.top, area.right, area.bottom);
    Perform(WM_ERASEBKGND, dcParam(memory.Get()), static_cast<LPARAM>(dcParam(memory.Get())));
    if (!*alive) return;
    Perform(WM_PAINT, dcParam(memory.Get()), 0);
    if (!*alive) return;
    ::BitBlt(paint.Get(), area.left, area.top, area.right - area.left, area.bottom - area.top, memory.Get(),
             area.left, area.top, SRCCOPY);
}

void TWinControl::SetDoubleBuffered(bool Value)
{
    if (doubleBuffered_ == Value) return;
    doubleBuffered_ = Value;
    if (handle_) ::InvalidateRect(handle_, nullptr, TRUE);
}

void TWinControl::PaintControls(HDC DC, TControl* First)
{
    auto alive = alive_;
    std::vector<TControl*> snapshot = controls_;
    auto start = snapshot.begin();
    if (First) {
        auto f = std::find(snapshot.begin(), snapshot.end(), First);
        if (f != snapshot.end()) start = f + 1;
    }
    for (auto it = start; it != snapshot.end(); ++it) {
        TControl* c = *it;
        // A paint handler may have removed controls of this window.
        if (!*alive) return;
        if (std::find(controls_.begin(), controls_.end(), c) == controls_.end()) continue;
        if (dynamic_cast<TWinControl*>(c) || !c->GetVisible()) continue;
        RECT r = c->GetBoundsRect();
        if (!::RectVisible(DC, &r)) continue;
        TSaveDCScope save(DC);
        POINT org;
        ::GetWindowOrgEx(DC, &org);
        ::SetWindowOrgEx(DC, org.x - c->GetLeft(), org.y - c->GetTop(), nullptr);
        ::IntersectClipRect(DC, 0, 0, c->GetWidth(), c->GetHeight());
        c->Perform(WM_PAINT, reinterpret_cast<WPARAM>(DC), 0);
    }
}

void TWinControl::EraseBackground(TMessage& Message)
{
    HDC dc = reinterpret_cast<HDC>(Message.WParam);
    RECT r = GetClientRect();
    TOwnedBrush brush(::CreateSolidBrush(static_cast<COLORREF>(ColorToRGB(GetColor()))));
    ::FillRect(dc, &r, brush.Get());
    Message.Result = 1;
}

void TWinControl::WMSize(TMessage& Message)
{
    auto alive = alive_;
    DefaultHandler(Message);
    if (*alive) UpdateWindowPos();
}

void TWinControl::WMMove(TMessage& Message)
{
    auto alive = alive_;
    DefaultHandler(Message);
    if (*alive) UpdateWindowPos();
}

void TWinControl::WMDestroy(TMessage& Message)
{
    captureControl_ = nullptr;
    DefaultHandler(Message);
}

void TWinControl::WMNCDestroy(TMessage& Message)
{
    DefaultHandler(Message);
    if (handle_) ::SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
    handle_ = nullptr;
}

LRESULT CALLBACK TWinControl::SharedWindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    auto* control = reinterpret_cast<TWinControl*>(::GetWindowLongPtrW(Wnd, GWLP_USERDATA));
    if (!control && creatingControl) {
        control = creatingControl;
        creatingControl = nullptr;
        control->handle_ = Wnd;
        ::SetWindowLongPtrW(Wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(control));
    }
    if (!control) return ::DefWindowProcW(Wnd, Msg, WParam, LParam);
    TMessage m;
    m.Msg = Msg;
    m.WParam = WParam;
    m.LParam = LParam;
    // Exceptions must not cross the system's frames: a failing handler gets
    // the default handling and its message is sent to the debugger output.
    try {
        control->WndProc(m);
    } catch (...) {
        if (TWindowExceptionHook hook = windowExceptionHook) {
            // The hook itself must not let anything escape either.
            try {
                hook(nullptr);
            } catch (...) {
            }
        } else {
            try {
                throw;
            } catch (const std::exception& e) {
                ::OutputDebugStringA(e.what());
            } catch (...) {
            }
        }
        return ::DefWindowProcW(Wnd, Msg, WParam, LParam);
    }
    // The control may have been deleted by the handler: only m is used here.
    return m.Result;
}

TWinControl* TWinControl::TopControl()
{
    TWinControl* top = this;
    while (top->parent_) top = top->parent_;
    return top;
}

bool TWinControl::KeyDownWithPreview(WORD& Key, TShiftState Shift, bool Up)
{
    auto alive = alive_;
    TWinControl* top = TopControl();
    if (top != this && top->WantsKeyPreview()) {
        if (Up)
            top->KeyUp(Key, Shift);
        else
            top->KeyDown(Key, Shift);
        if (!*alive || Key == 0) return true;
    }
    if (Up)
        KeyUp(Key, Shift);
    else
        KeyDown(Key, Shift);
    return !*alive || Key == 0;
}

bool TWinControl::KeyPressWithPreview(wchar_t& Key)
{
    auto alive = alive_;
    TWinControl* top = TopControl();
    if (top != this && top->WantsKeyPreview()) {
        top->KeyPress(Key);
        if (!*alive || Key == 0) return true;
    }
    KeyPress(Key);
    return !*alive || Key == 0;
}

void TWinControl::KeyDown(WORD& Key, TShiftState Shift) { OnKeyDown(this, Key, Shift); }

void TWinControl::KeyUp(WORD& Key, TShiftState Shift) { OnKeyUp(this, Key, Shift); }

void TWinControl::KeyPress(wchar_t& Key) { OnKeyPress(this, Key); }

void TWinControl::DoEnter() { OnEnter(this); }

void TWinControl::DoExit() { OnExit(this); }

void TWinControl::TrackMouse(TMessage& Message)
{
    auto alive = alive_;
    if (!mouseInside_) {
        mouseInside_ = true;
        if (handle_) {
            TRACKMOUSEEVENT tme{};
            tme.cbSize = sizeof(tme);
            tme.dwFlags = TME_LEAVE;
            tme.hwndTrack = handle_;
            ::TrackMouseEvent(&tme);
        }
        Perform(CM_MOUSEENTER, 0, 0);
        if (!*alive) return;
    }
    TControl* target = captureControl_ ? captureControl_ : ControlAtPos(MessagePoint(Message));
    if (target == mouseControl_) return;
    TControl* old = mouseControl_;
    mouseControl_ = target;
    if (old) {
        old->Perform(CM_MOUSELEAVE, 0, 0);
        if (!*alive) return;
    }
    // The leave handler may have removed the new target from this window.
    if (target && mouseControl_ == target) target->Perform(CM_MOUSEENTER, 0, 0);
}

void TWinControl::MouseLeft()
{
    auto alive = alive_;
    if (TControl* old = mouseControl_) {
        mouseControl_ = nullptr;
        old->Perform(CM_MOUSELEAVE, 0, 0);
        if (!*alive) return;
    }
    if (mouseInside_) {
        mouseInside_ = false;
        Perform(CM_MOUSELEAVE, 0, 0);
        if (!*alive) return;
    }
    // Off the program's controls: no hint and no status hint. (A move onto
    // another control of the program updates them itself.)
    POINT p{};
    if (Application && ::GetCursorPos(&p) && !FindDragTarget(p, true)) {
        Application->CancelHint();
        Application->SetHint(L"");
    }
}

void TWinControl::ShowHintChanged()
{
    // A copy: a handler may change the list.
    const std::vector<TControl*> children = controls_;
    for (TControl* c : children)
        if (c->parentShowHint_ && std::find(controls_.begin(), controls_.end(), c) != controls_.end())
            c->ApplyShowHint(GetShowHint());
}

void TWinControl::WMSetCursor(TMessage& Message)
{
    if (handle_ && reinterpret_cast<HWND>(Message.WParam) == handle_ && LOWORD(Message.LParam) == HTCLIENT) {
        TCursor c = GetOverrideCursor();
        if (c == crDefault) {
            POINT p;
            ::GetCursorPos(&p);
            ::ScreenToClient(handle_, &p);
            if (TControl* child = ControlAtPos(p)) c = child->GetCursor();
            if (c == crDefault) c = GetCursor();
        }
        if (c != crDefault) {
            ::SetCursor(GetCursorHandle(c));
            Message.Result = 1;
            return;
        }
    }
    DefaultHandler(Message);
}

void TWinControl::AlignControls()
{
    if (aligning_) return;
    aligning_ = true;
    auto alive = alive_;
    try {
        RECT r = GetClientRect();
        AdjustClientRect(r);
        static constexpr TAlign order[] = {alTop, alBottom, alLeft, alRight, alClient};
        for (TAlign a : order) {
            // A snapshot: a resize handler may change the children.
            std::vector<TControl*> snapshot = controls_;
            for (TControl* c : snapshot) {
                if (!*alive) return;
                if (std::find(controls_.begin(), controls_.end(), c) == controls_.end()) continue;
                if (c->align_ != a || !c->GetVisible()) continue;
                int w = std::max<int>(0, r.right - r.left), h = std::max<int>(0, r.bottom - r.top);
                switch (a) {
                case alTop:
                    c->SetBounds(r.left, r.top, w, c->GetHeight());
                    r.top += c->GetHeight();
                    break;
                case alBottom:
                    c->SetBounds(r.left, r.bottom - c->GetHeight(), w, c->GetHeight());
                    r.bottom -= c->GetHeight();
                    break;
                case alLeft:
                    c->SetBounds(r.left, r.top, c->GetWidth(), h);
                    r.left += c->GetWidth();
                    break;
                case alRight:
                    c->SetBounds(r.right - c->GetWidth(), r.top, c->GetWidth(), h);
                    r.right -= c->GetWidth();
                    break;
                case alClient: c->SetBounds(r.left, r.top, w, h); break;
                case alNone: break;
                }
            }
        }
        // Then the anchored children keep their distances to the sides.
        const RECT client = GetClientRect();
        std::vector<TControl*> snapshot = controls_;
        for (TControl* c : snapshot) {
            if (!*alive) return;
            if (std::find(controls_.begin(), controls_.end(), c) == controls_.end()) continue;
            c->ApplyAnchors(client.right - client.left, client.bottom - client.top);
        }
    } catch (...) {
        if (*alive) aligning_ = false;
        throw;
    }
    if (*alive) aligning_ = false;
}

bool TWinControl::GetTabStop() const
{
    if (tabStopSet_) return tabStop_;
    TCreateParams params;
    const_cast<TWinControl*>(this)->CreateParams(params);
    return (params.Style & WS_TABSTOP) != 0;
}

int TWinControl::GetTabOrder() const
{
    if (!parent_) return -1;
    const auto& list = parent_->tabList_;
    auto it = std::find(list.begin(), list.end(), this);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TWinControl::SetTabOrder(int Value)
{
    if (!parent_) return;
    auto& list = parent_->tabList_;
    auto it = std::find(list.begin(), list.end(), this);
    if (it == list.end()) return;
    list.erase(it);
    if (Value < 0 || Value >= static_cast<int>(list.size()) + 1) Value = static_cast<int>(list.size());
    list.insert(list.begin() + Value, this);
}

void TWinControl::GetTabOrderList(std::vector<TWinControl*>& List) const
{
    for (TWinControl* c : tabList_) {
        List.push_back(c);
        c->GetTabOrderList(List);
    }
}

TWinControl* TWinControl::FindNextControl(TWinControl* CurControl, bool GoForward, bool CheckTabStop) const
{
    std::vector<TWinControl*> list;
    GetTabOrderList(list);
    if (list.empty()) return nullptr;
    const int n = static_cast<int>(list.size());
    auto it = std::find(list.begin(), list.end(), CurControl);
    int start = it == list.end() ? (GoForward ? n - 1 : 0) : static_cast<int>(it - list.begin());
    for (int step = 1; step <= n; ++step) {
        int i = GoForward ? (start + step) % n : (start - step + n) % n;
        TWinControl* c = list[static_cast<std::size_t>(i)];
        if (c == CurControl && it != list.end()) break;
        if ((!CheckTabStop || c->GetTabStop()) && c->CanFocus()) return c;
    }
    return nullptr;
}

bool TWinControl::SelectNext(TWinControl* CurControl, bool GoForward, bool CheckTabStop)
{
    TWinControl* next = FindNextControl(CurControl, GoForward, CheckTabStop);
    if (!next) return false;
    next->SetFocus();
    return true;
}

// ========================================================== TControlCanvas

TControlCanvas::~TControlCanvas() { FreeHandle(); }

void TControlCanvas::SetControl(TControl* Value)
{
    if (Value == control_) return;
    FreeHandle();
    control_ = Value;
}

void TControlCanvas::FreeHandle()
{
    if (!HandleAllocated()) {
        windowDC_.reset();
        return;
    }
    SetHandle(nullptr);
    windowDC_.reset();
}

void TControlCanvas::SetPaintDC(HDC DC)
{
    FreeHandle();
    SetHandle(DC);
}

void TControlCanvas::CreateHandle()
{
    if (!control_) return;
    HWND wnd = nullptr;
    bool graphic = false;
    if (auto* w = dynamic_cast<TWinControl*>(control_)) {
        wnd = w->GetHandle();
    } else if (TWinControl* parent = control_->GetParent()) {
        wnd = parent->GetHandle();
        graphic = true;
    }
    if (!wnd) return;
    auto dc = std::make_unique<TWindowDC>(wnd);
    if (!dc->Get()) return;
    if (graphic) {
        ::SetWindowOrgEx(dc->Get(), -control_->GetLeft(), -control_->GetTop(), nullptr);
        ::IntersectClipRect(dc->Get(), 0, 0, control_->GetWidth(), control_->GetHeight());
    }
    windowDC_ = std::move(dc);
    SetHandle(windowDC_->Get());
}

// ========================================================= TGraphicControl

TGraphicControl::TGraphicControl(TComponent* AOwner) : TControl(AOwner), canvas_(std::make_unique<TControlCanvas>())
{
    canvas_->SetControl(this);
}

TGraphicControl::~TGraphicControl() { canvas_->FreeHandle(); }

void TGraphicControl::Dispatch(TMessage& Message)
{
    if (Message.Msg == WM_PAINT) {
        if (Message.WParam) {
            TCanvasPaintScope scope(canvas_.get(), reinterpret_cast<HDC>(Message.WParam));
            Paint();
        }
        Message.Result = 0;
        return;
    }
    TControl::Dispatch(Message);
}

// ========================================================== TCustomControl

TCustomControl::TCustomControl(TComponent* AOwner) : TWinControl(AOwner), canvas_(std::make_unique<TControlCanvas>())
{
    canvas_->SetControl(this);
}

TCustomControl::~TCustomControl() { canvas_->FreeHandle(); }

void TCustomControl::PaintWindow(HDC DC)
{
    TCanvasPaintScope scope(canvas_.get(), DC);
    Paint();
}

void TCustomControl::DestroyWnd()
{
    canvas_->FreeHandle();
    TWinControl::DestroyWnd();
}

}  // namespace classlib

namespace classlib {

TWinControl* FindControl(HWND Wnd)
{
    if (!Wnd) return nullptr;
    DWORD process = 0;
    ::GetWindowThreadProcessId(Wnd, &process);
    if (process != ::GetCurrentProcessId()) return nullptr;
    // A window of ours is of a class whose procedure is the shared one; a
    // window that parents a system control is subclassed (for the
    // reflected notifications), so its own procedure is no test.
    const auto shared = reinterpret_cast<LONG_PTR>(&TWinControl::SharedWindowProc);
    if (::GetWindowLongPtrW(Wnd, GWLP_WNDPROC) != shared &&
        static_cast<LONG_PTR>(::GetClassLongPtrW(Wnd, GCLP_WNDPROC)) != shared)
        return nullptr;
    return reinterpret_cast<TWinControl*>(::GetWindowLongPtrW(Wnd, GWLP_USERDATA));
}

TControl* FindDragTarget(POINT ScreenPos, bool AllowDisabled)
{
    HWND wnd = ::WindowFromPoint(ScreenPos);
    TWinControl* control = nullptr;
    while (wnd && !(control = FindControl(wnd))) wnd = ::GetParent(wnd);
    if (!control || dynamic_cast<THintWindow*>(control)) return nullptr;
    if (!control->HandleAllocated()) return control;
    POINT client = ScreenPos;
    ::ScreenToClient(control->GetHandle(), &client);
    TControl* child = control->ControlAtPos(client, AllowDisabled, false);
    return child ? child : control;
}

}  // namespace classlib
