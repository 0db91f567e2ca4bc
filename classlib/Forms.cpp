#include "classlib/Forms.h"

#include <windowsx.h>

#include <algorithm>

#include "classlib/Automation.h"
#include "classlib/Startup.h"
#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"
#include "classlib/Threads.h"

namespace classlib {

namespace {

// Windows of this thread that a modal form disabled, to enable again.
struct TDisabledWindows {
    HWND Except = nullptr;
    std::vector<HWND> Windows;
};

BOOL CALLBACK DisableThreadWindow(HWND Wnd, LPARAM Param)
{
    auto* list = reinterpret_cast<TDisabledWindows*>(Param);
    if (Wnd != list->Except && ::IsWindowVisible(Wnd) && ::IsWindowEnabled(Wnd)) {
        list->Windows.push_back(Wnd);
        ::EnableWindow(Wnd, FALSE);
    }
    return TRUE;
}

// Tab and Shift+Tab that the focused window does not want for itself move
// the focus along the tab order of its form (as the dialog manager does):
// the key is dispatched untranslated, so no tab character follows it into
// the window it leaves. A window that is no control of the class library
// (the edit inside a combo box, say) moves on from the nearest control
// that holds it.
bool DialogTab(const MSG& Msg)
{
    if (Msg.message != WM_KEYDOWN || Msg.wParam != VK_TAB || !Msg.hwnd) return false;
    if (::GetKeyState(VK_CONTROL) < 0 || ::GetKeyState(VK_MENU) < 0) return false;
    const LRESULT code =
        ::SendMessageW(Msg.hwnd, WM_GETDLGCODE, VK_TAB, reinterpret_cast<LPARAM>(const_cast<MSG*>(&Msg)));
    if (code & (DLGC_WANTTAB | DLGC_WANTALLKEYS)) return false;
    if (FindControl(Msg.hwnd)) {
        ::DispatchMessageW(&Msg);
        return true;
    }
    for (HWND w = ::GetParent(Msg.hwnd); w; w = ::GetParent(w))
        if (TWinControl* control = FindControl(w)) {
            TWinControl* top = control;
            while (top->GetParent()) top = top->GetParent();
            top->SelectNext(control, ::GetKeyState(VK_SHIFT) >= 0, true);
            return true;
        }
    return false;
}

void WindowExceptionToApplication(TObject* Sender)
{
    if (Application) Application->HandleException(Sender);
}

}  // namespace

// ============================================================ TCustomForm

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner)
{
    TWinControl::SetVisible(false);
    SetBounds(0, 0, 320, 240);
    if (Screen) Screen->forms_.push_back(this);
}

TCustomForm::~TCustomForm()
{
    if (created_) OnDestroy(this);
    if (Screen) {
        auto& forms = Screen->forms_;
        forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
        if (Screen->activeForm_ == this) Screen->activeForm_ = nullptr;
    }
    if (Application && Application->mainForm_ == this) Application->mainForm_ = nullptr;
}

void TCustomForm::DoCreate()
{
    if (created_) return;
    created_ = true;
    OnCreate(this);
}

namespace {

// InitiateAction of Parent's visible controls with csActionClient and of
// those inside them, depth first; a control an update removed is skipped.
void InitiateActions(TWinControl* Parent)
{
    std::vector<TControl*> children;
    for (int i = 0; i < Parent->GetControlCount(); ++i) children.push_back(Parent->GetControl(i));
    for (TControl* c : children) {
        bool present = false;
        for (int i = 0; i < Parent->GetControlCount() && !present; ++i) present = Parent->GetControl(i) == c;
        if (!present || !c->GetVisible()) continue;
        if (c->ControlStyle & csActionClient) c->InitiateAction();
        if (auto* w = dynamic_cast<TWinControl*>(c)) {
            present = false;
            for (int i = 0; i < Parent->GetControlCount() && !present; ++i) present = Parent->GetControl(i) == c;
            if (present) InitiateActions(w);
        }
    }
}

}  // namespace

void TCustomForm::UpdateActions()
{
    auto alive = AliveToken();
    InitiateAction();
    if (*alive) InitiateActions(this);
}

std::wstring TCustomForm::GetCaption() const { return caption_; }

void TCustomForm::SetCaption(const std::wstring& Value)
{
    caption_ = Value;
    if (HandleAllocated()) ::SetWindowTextW(GetHandle(), Value.c_str());
    if (TWinControl* site = GetHostDockSite())
        site->DockNotification(this, WM_SETTEXT, reinterpret_cast<LPARAM>(&caption_));
}

void TCustomForm::SetBorderIcons(TBorderIcons Value)
{
    if (Value == borderIcons_) return;
    borderIcons_ = Value;
    RecreateWnd();
}

void TCustomForm::SetBorderStyle(TFormBorderStyle Value)
{
    if (Value == borderStyle_) return;
    borderStyle_ = Value;
    RecreateWnd();
}

RECT TCustomForm::GetClientRect() const
{
    if (HandleAllocated()) return TWinControl::GetClientRect();
    TCreateParams params;
    const_cast<TCustomForm*>(this)->CreateParams(params);
    RECT frame{0, 0, 0, 0};
    ::AdjustWindowRectEx(&frame, params.Style, FALSE, params.ExStyle);
    const int w = GetWidth() - (frame.right - frame.left);
    const int h = GetHeight() - (frame.bottom - frame.top);
    return RECT{0, 0, w > 0 ? w : 0, h > 0 ? h : 0};
}

void TCustomForm::CreateParams(TCreateParams& Params)
{
    TWinControl::CreateParams(Params);
    Params.Caption = caption_;
    // Shown by SetVisible, after the position is applied.
    Params.Style = WS_CLIPCHILDREN;
    Params.ExStyle = 0;
    if (!GetEnabled()) Params.Style |= WS_DISABLED;
    Params.WndParent = GetParentWindow();
    switch (borderStyle_) {
    case bsNone: Params.Style |= WS_POPUP; break;
    case bsSingle: Params.Style |= WS_CAPTION | WS_BORDER; break;
    case bsSizeable: Params.Style |= WS_CAPTION | WS_THICKFRAME; break;
    case bsDialog:
        Params.Style |= WS_POPUP | WS_CAPTION | DS_MODALFRAME;
        Params.ExStyle |= WS_EX_DLGMODALFRAME;
        break;
    case bsToolWindow:
        Params.Style |= WS_CAPTION | WS_BORDER;
        Params.ExStyle |= WS_EX_TOOLWINDOW;
        break;
    case bsSizeToolWin:
        Params.Style |= WS_CAPTION | WS_THICKFRAME;
        Params.ExStyle |= WS_EX_TOOLWINDOW;
        break;
    }
    if (borderStyle_ != bsNone && (borderIcons_ & biSystemMenu)) {
        Params.Style |= WS_SYSMENU;
        // Dialogs and tool windows have neither minimise nor maximise box.
        if (borderStyle_ == bsSingle || borderStyle_ == bsSizeable) {
            if (borderIcons_ & biMinimize) Params.Style |= WS_MINIMIZEBOX;
            if (borderIcons_ & biMaximize) Params.Style |= WS_MAXIMIZEBOX;
        } else if (borderStyle_ == bsDialog && (borderIcons_ & biHelp)) {
            Params.ExStyle |= WS_EX_CONTEXTHELP;
        }
    }
    if (position_ == poDefault) {
        Params.X = Params.Y = CW_USEDEFAULT;
        Params.Width = Params.Height = CW_USEDEFAULT;
    }
    Params.WindowClassStyle = CS_DBLCLKS;
}

void TCustomForm::CreateHandleDone()
{
    // The system may have chosen the place and size (poDefault).
    RECT r;
    ::GetWindowRect(GetHandle(), &r);
    UpdateBoundsFields(r.left, r.top, r.right - r.left, r.bottom - r.top);
    // A window made again (RecreateWnd) of a visible form shows again.
    if (GetVisible()) ::ShowWindow(GetHandle(), SW_SHOWNOACTIVATE);
}

void TCustomForm::ApplyPosition()
{
    RECT area{0, 0, Screen ? Screen->GetWidth() : 0, Screen ? Screen->GetHeight() : 0};
    if (position_ == poMainFormCenter) {
        TCustomForm* main = Application ? Application->GetMainForm() : nullptr;
        if (main && main != this) area = main->GetBoundsRect();
    } else if (position_ != poScreenCenter && position_ != poDesktopCenter) {
        return;
    }
    int x = area.left + ((area.right - area.left) - GetWidth()) / 2;
    int y = area.top + ((area.bottom - area.top) - GetHeight()) / 2;
    SetBounds(x, y, GetWidth(), GetHeight());
}

void TCustomForm::SetWindowVisible(bool Value, int ShowCommand)
{
    if (Value) {
        DoCreate();
        bool wasVisible = GetVisible();
        HandleNeeded();
        if (!wasVisible) {
            ApplyPosition();
            DoShow();
        }
        TWinControl::SetVisible(true);
        // SetVisible shows without activation; other show commands go on top.
        if (ShowCommand != SW_SHOWNOACTIVATE && HandleAllocated()) ::ShowWindow(GetHandle(), ShowCommand);
    } else {
        if (!GetVisible()) return;
        TWinControl::SetVisible(false);
        DoHide();
    }
}

void TCustomForm::SetVisible(bool Value) { SetWindowVisible(Value, SW_SHOWNOACTIVATE); }

void TCustomForm::Show()
{
    SetWindowVisible(true, SW_SHOWNORMAL);
    ::SetForegroundWindow(GetHandle());
}

void TCustomForm::DoShow() { OnShow(this); }

void TCustomForm::DoHide() { OnHide(this); }

bool TCustomForm::Active() const { return HandleAllocated() && ::GetActiveWindow() == const_cast<TCustomForm*>(this)->GetHandle(); }

void TCustomForm::SetActiveControl(TWinControl* Value)
{
    if (Value == activeControl_) return;
    if (Value && (Value == this || !ContainsControl(Value)))
        throw EInvalidOperation(L"Invalid control for the active control of a form");
    if (activeControl_) activeControl_->RemoveFreeNotification(this);
    activeControl_ = Value;
    if (Value) Value->FreeNotification(this);
    if (Value && Active() && Value->CanFocus()) Value->SetFocus();
}

void TCustomForm::FocusChanged(TWinControl* Control)
{
    if (Control == this || Control == activeControl_) return;
    if (activeControl_) activeControl_->RemoveFreeNotification(this);
    activeControl_ = Control;
    if (Control) Control->FreeNotification(this);
}

void TCustomForm::Notification(TComponent* AComponent, TOperation Operation)
{
    TWinControl::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == activeControl_) activeControl_ = nullptr;
}

void TCustomForm::Activate() { OnActivate(this); }

void TCustomForm::Deactivate() { OnDeactivate(this); }

void TCustomForm::DoClose(TCloseAction& Action) { OnClose(this, Action); }

bool TCustomForm::CloseQuery()
{
    bool canClose = true;
    OnCloseQuery(this, canClose);
    return canClose;
}

void TCustomForm::Close()
{
    if (modal_) {
        modalResult_ = mrCancel;
        return;
    }
    auto alive = AliveToken();
    if (!CloseQuery() || !*alive) return;
    TCloseAction action = caHide;
    DoClose(action);
    if (!*alive || action == caNone) return;
    if (Application && Application->GetMainForm() == this) {
        Application->Terminate();
        return;
    }
    switch (action) {
    case caHide: Hide(); break;
    case caMinimize:
        if (HandleAllocated()) ::ShowWindow(GetHandle(), SW_SHOWMINNOACTIVE);
        break;
    case caFree: Release(); break;
    case caNone: break;
    }
}

void TCustomForm::Release()
{
    if (released_) return;
    released_ = true;
    ::PostMessageW(GetHandle(), CM_RELEASE, 0, 0);
}

bool TCustomForm::CloseModal()
{
    // Returns true when the modal loop may end.
    auto alive = AliveToken();
    TCloseAction action = caHide;
    if (!CloseQuery()) action = caNone;
    if (!*alive) return true;
    if (action != caNone) DoClose(action);
    if (!*alive) return true;
    if (action == caNone) {
        modalResult_ = mrNone;
        return false;
    }
    if (action == caFree) Release();
    return true;
}

TModalResult TCustomForm::ShowModal()
{
    if (GetVisible() || !GetEnabled() || modal_)
        throw EInvalidOperation(L"Cannot make a visible window modal");
    HWND previous = ::GetActiveWindow();
    TDisabledWindows disabled;
    disabled.Except = GetHandle();
    ::EnumThreadWindows(::GetCurrentThreadId(), &DisableThreadWindow, reinterpret_cast<LPARAM>(&disabled));
    auto alive = AliveToken();
    modal_ = true;
    modalResult_ = mrNone;
    TModalResult result = mrNone;
    auto restore = [&] {
        for (HWND w : disabled.Windows)
            if (::IsWindow(w)) ::EnableWindow(w, TRUE);
        if (previous && ::IsWindow(previous)) ::SetActiveWindow(previous);
    };
    try {
        Show();
        while (*alive) {
            if (Application && Application->Terminated()) modalResult_ = mrCancel;
            if (modalResult_ != mrNone && CloseModal()) break;
            if (!*alive) break;
            if (Application)
                Application->HandleMessage();
            else
                ::WaitMessage();
        }
    } catch (...) {
        if (*alive) modal_ = false;
        restore();
        throw;
    }
    if (*alive) {
        result = modalResult_;
        modal_ = false;
    }
    // The other windows come back before this one hides, so that the
    // system activates one of them rather than some other program's.
    restore();
    if (*alive) Hide();
    return result;
}

void TCustomForm::Dispatch(TMessage& Message)
{
    // Registered messages sent to the main window (the owner of the
    // system dialogs, e.g. their help request) go to its hooks first.
    if (Message.Msg >= 0xC000 && Message.Msg <= 0xFFFF && Application && Application->GetMainForm() == this &&
        Application->CallMainWindowHooks(Message))
        return;
    switch (Message.Msg) {
    case WM_CLOSE:
        Close();
        Message.Result = 0;
        return;
    case CM_RELEASE:
        Message.Result = 0;
        delete this;
        return;
    case WM_ACTIVATE: {
        auto alive = AliveToken();
        bool active = LOWORD(Message.WParam) != WA_INACTIVE;
        if (active) {
            if (Screen) Screen->activeForm_ = this;
            if (activeControl_ && activeControl_->CanFocus()) {
                ::SetFocus(activeControl_->GetHandle());
                Message.Result = 0;
            } else {
                DefaultHandler(Message);
            }
            if (*alive) Activate();
        } else {
            if (Screen && Screen->activeForm_ == this) Screen->activeForm_ = nullptr;
            DefaultHandler(Message);
            if (*alive) Deactivate();
        }
        return;
    }
    case WM_SYSCOMMAND:
        if ((Message.WParam & 0xFFF0) == SC_MAXIMIZE && FixedFrame()) {
            Message.Result = 0;
            return;
        }
        if ((Message.WParam & 0xFFF0) == SC_KEYMENU && Application) {
            TMessage relay{CM_APPSYSCOMMAND, 0, reinterpret_cast<LPARAM>(&Message), 0};
            if (Application->CallMainWindowHooks(relay)) return;
        }
        break;
    case WM_SIZE:
    case WM_MOVE:
        // Minimised, the window has no client area and stands off the
        // screen: the form keeps its bounds and its controls their layout,
        // so that restoring finds them as they were.
        if (HandleAllocated() && ::IsIconic(GetHandle())) {
            DefaultHandler(Message);
            return;
        }
        break;
    case WM_GETMINMAXINFO:
        TWinControl::Dispatch(Message);
        if (FixedFrame() && HandleAllocated()) {
            // Maximised anyway (ShowWindow, the window manager): the window
            // keeps its place and size, so its layout stays whole.
            auto* info = reinterpret_cast<MINMAXINFO*>(Message.LParam);
            RECT r;
            ::GetWindowRect(GetHandle(), &r);
            info->ptMaxPosition = POINT{r.left, r.top};
            info->ptMaxSize = POINT{r.right - r.left, r.bottom - r.top};
        }
        return;
    default:
        break;
    }
    if (HandleAutomationMessage(this, Message)) return;
    TWinControl::Dispatch(Message);
}

bool TCustomForm::FixedFrame() const
{
    switch (borderStyle_) {
    case bsDialog:
    case bsToolWindow: return true;
    case bsSingle: return (borderIcons_ & (biSystemMenu | biMaximize)) != (biSystemMenu | biMaximize);
    default: return false;
    }
}

TCustomForm* GetParentForm(TControl* Control)
{
    if (!Control) return nullptr;
    TControl* top = Control;
    while (top->GetParent()) top = top->GetParent();
    return dynamic_cast<TCustomForm*>(top);
}

// ============================================================ TApplication

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner)
{
    SetWindowExceptionHook(&WindowExceptionToApplication);
}

TApplication::~TApplication()
{
    Destroying();
    StopHintTimer();
    hintControl_ = nullptr;
    // The forms go while the application still knows them as its own.
    DestroyComponents();
    mainForm_ = nullptr;
    for (TApplicationEvents* ev : events_) ev->application_ = nullptr;
    if (GetWindowExceptionHook() == &WindowExceptionToApplication && Application == this)
        SetWindowExceptionHook(nullptr);
    hintWindow_.reset();
}

void TApplication::Notification(TComponent* AComponent, TOperation Operation)
{
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == mainForm_) mainForm_ = nullptr;
    if (Operation == opRemove && AComponent == hintControl_) {
        hintControl_ = nullptr;
        CancelHint();
    }
}

// ------------------------------------------------------------------ hints

namespace {

// The application whose hint timer runs (one at a time).
TApplication* hintTimerOwner = nullptr;

// How far below the pointer the cursor image reaches: the hint goes there.
int CursorHeightMargin()
{
    ICONINFO info{};
    HCURSOR cursor = ::GetCursor();
    if (!cursor) cursor = ::LoadCursorW(nullptr, IDC_ARROW);
    if (!cursor || !::GetIconInfo(cursor, &info)) return ::GetSystemMetrics(SM_CYCURSOR);
    BITMAP mask{};
    const bool ok = ::GetObjectW(info.hbmMask, sizeof(mask), &mask) != 0;
    if (info.hbmMask) ::DeleteObject(info.hbmMask);
    if (info.hbmColor) ::DeleteObject(info.hbmColor);
    if (!ok) return ::GetSystemMetrics(SM_CYCURSOR);
    // A monochrome cursor stacks its AND and XOR masks in one bitmap.
    const int height = info.hbmColor ? mask.bmHeight : mask.bmHeight / 2;
    return std::max(0, height - static_cast<int>(info.yHotspot));
}

// The control with ShowHint nearest to the control under ScreenPos.
TControl* HintControlAt(POINT ScreenPos)
{
    TControl* c = FindDragTarget(ScreenPos, true);
    while (c && !c->GetShowHint()) c = c->GetParent();
    return c;
}

RECT ClientRectOnScreen(const TControl* Control, const RECT& R)
{
    const POINT tl = Control->ClientToScreen(POINT{R.left, R.top});
    return RECT{tl.x, tl.y, tl.x + (R.right - R.left), tl.y + (R.bottom - R.top)};
}

}  // namespace

void TApplication::SetHint(const std::wstring& Value)
{
    if (hint_ == Value) return;
    hint_ = Value;
    OnHint(this);
}

void TApplication::SetShowHint(bool Value)
{
    if (showHint_ == Value) return;
    showHint_ = Value;
    if (!Value) CancelHint();
}

THintWindow* TApplication::GetHintWindow()
{
    if (!hintWindow_) hintWindow_ = std::make_unique<THintWindow>(nullptr);
    return hintWindow_.get();
}

void TApplication::SetHintControl(TControl* Value)
{
    if (hintControl_ == Value) return;
    if (hintControl_) hintControl_->RemoveFreeNotification(this);
    hintControl_ = Value;
    if (Value) Value->FreeNotification(this);
}

void TApplication::HideHintWindow()
{
    if (hintWindow_) hintWindow_->ReleaseHint();
}

void TApplication::StartHintTimer(int Milliseconds, THintTimerKind Kind)
{
    StopHintTimer();
    hintTimer_ = ::SetTimer(nullptr, 0, static_cast<UINT>(std::max(1, Milliseconds)), &TApplication::HintTimerProc);
    if (!hintTimer_) return;
    hintTimerKind_ = Kind;
    hintTimerOwner = this;
}

void TApplication::StopHintTimer()
{
    if (!hintTimer_) return;
    ::KillTimer(nullptr, hintTimer_);
    hintTimer_ = 0;
    if (hintTimerOwner == this) hintTimerOwner = nullptr;
}

void CALLBACK TApplication::HintTimerProc(HWND, UINT, UINT_PTR Id, DWORD)
{
    TApplication* app = hintTimerOwner;
    if (!app || app->hintTimer_ != Id) {
        ::KillTimer(nullptr, Id);
        return;
    }
    // Called from a message loop's dispatch: nothing may escape.
    try {
        app->HintTimerExpired();
    } catch (...) {
        app->HandleException(app);
    }
}

void TApplication::HintTimerExpired()
{
    const THintTimerKind kind = hintTimerKind_;
    StopHintTimer();
    switch (kind) {
    case htShow:
    case htReshow: ActivateHint(hintMousePos_); break;
    case htHide:
        // The hint control stays: no new hint until the pointer leaves the
        // cursor rectangle.
        HideHintWindow();
        break;
    }
}

void TApplication::CancelHint()
{
    StopHintTimer();
    HideHintWindow();
    SetHintControl(nullptr);
    hintCursorRect_ = RECT{};
}

void TApplication::HintMouseMessage(TControl* Control, TMessage& Message)
{
    if (Message.Msg != WM_MOUSEMOVE || !Control) {
        CancelHint();
        return;
    }
    const POINT screen =
        Control->ClientToScreen(POINT{GET_X_LPARAM(Message.LParam), GET_Y_LPARAM(Message.LParam)});
    hintMousePos_ = screen;
    TControl* target = showHint_ ? HintControlAt(screen) : nullptr;
    if (!target) {
        CancelHint();
        return;
    }
    if (target == hintControl_ && ::PtInRect(&hintCursorRect_, screen)) return;
    const bool following = hintWindow_ && hintWindow_->IsHintShown();
    HideHintWindow();
    SetHintControl(target);
    hintCursorRect_ = ClientRectOnScreen(target, target->GetClientRect());
    StartHintTimer(following ? HintShortPause : HintPause, htShow);
}

void TApplication::ActivateHint(POINT CursorPos)
{
    StopHintTimer();
    TControl* control = hintControl_;
    if (!control || !showHint_ || HintControlAt(CursorPos) != control) {
        CancelHint();
        return;
    }
    THintInfo info;
    info.HintControl = control;
    info.CursorPos = control->ScreenToClient(CursorPos);
    info.HintPos = POINT{CursorPos.x, CursorPos.y + CursorHeightMargin()};
    info.HintMaxWidth = ::GetSystemMetrics(SM_CXSCREEN);
    info.HintStr = GetShortHint(classlib::GetHint(control));
    info.CursorRect = control->GetClientRect();
    info.HideTimeout = HintHidePause;
    const bool canShow = control->Perform(CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&info)) == 0;
    // The control may have gone, or another hint begun, meanwhile.
    if (hintControl_ != control) return;
    if (canShow && !info.HintStr.empty()) {
        hintCursorRect_ = ClientRectOnScreen(control, info.CursorRect);
        THintWindow* window = GetHintWindow();
        RECT r = window->CalcHintRect(info.HintMaxWidth, info.HintStr, info.HintData);
        ::OffsetRect(&r, info.HintPos.x, info.HintPos.y);
        window->ActivateHintData(r, info.HintStr, info.HintData);
        if (info.ReshowTimeout > 0) StartHintTimer(info.ReshowTimeout, htReshow);
        else if (info.HideTimeout > 0) StartHintTimer(info.HideTimeout, htHide);
        return;
    }
    // Nothing to show here: the next move asks again.
    HideHintWindow();
    hintCursorRect_ = RECT{};
    if (info.ReshowTimeout > 0) StartHintTimer(info.ReshowTimeout, htReshow);
}

std::wstring TApplication::ExeName() const
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void TApplication::Terminate()
{
    terminated_ = true;
    // Wakes a loop waiting for messages; the thread message is ignored.
    ::PostThreadMessageW(MainThreadID, WM_NULL, 0, 0);
}

void TApplication::HookMainWindow(const TWindowHook& Hook) { windowHooks_.push_back(Hook); }

void TApplication::UnhookMainWindow(const TWindowHook& Hook)
{
    auto it = std::find(windowHooks_.begin(), windowHooks_.end(), Hook);
    if (it != windowHooks_.end()) windowHooks_.erase(it);
}

bool TApplication::HelpContext(int Context)
{
    if (!OnHelp) return false;
    bool callHelp = true;
    return OnHelp(static_cast<uint16_t>(HELP_CONTEXT), static_cast<intptr_t>(Context), callHelp);
}

bool TApplication::CallMainWindowHooks(TMessage& Message)
{
    const std::vector<TWindowHook> hooks = windowHooks_;
    for (const TWindowHook& hook : hooks)
        if (std::find(windowHooks_.begin(), windowHooks_.end(), hook) != windowHooks_.end() && hook(Message))
            return true;
    return false;
}

bool TApplication::IsKeyMsg(MSG& Msg)
{
    if ((Msg.message != WM_KEYDOWN && Msg.message != WM_SYSKEYDOWN) || windowHooks_.empty()) return false;
    TMessage relay{CM_APPKEYDOWN, 0, reinterpret_cast<LPARAM>(&Msg), 0};
    return CallMainWindowHooks(relay);
}

void TApplication::HandleMessage()
{
    MSG msg;
    if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            terminated_ = true;
            return;
        }
        try {
            if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) CancelHint();
            if (IsKeyMsg(msg) || DialogTab(msg)) return;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        } catch (...) {
            HandleException(this);
        }
        return;
    }
    try {
        if (CheckSynchronize()) return;
    } catch (...) {
        HandleException(this);
        return;
    }
    try {
        Idle();
    } catch (...) {
        HandleException(this);
    }
    HANDLE sync = SyncEvent();
    DWORD r = ::MsgWaitForMultipleObjects(1, &sync, FALSE, INFINITE, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) {
        try {
            CheckSynchronize();
        } catch (...) {
            HandleException(this);
        }
    }
}

void TApplication::Idle()
{
    if (!Screen) return;
    // A copy: an action's update may make or delete forms.
    std::vector<TCustomForm*> forms;
    for (int i = 0; i < Screen->GetFormCount(); ++i) forms.push_back(Screen->GetForms(i));
    for (TCustomForm* f : forms) {
        bool present = false;
        for (int i = 0; i < Screen->GetFormCount() && !present; ++i) present = Screen->GetForms(i) == f;
        if (!present) continue;
        if (f->HandleAllocated() && ::IsWindowVisible(f->GetHandle()) && ::IsWindowEnabled(f->GetHandle()))
            f->UpdateActions();
    }
}

void TApplication::ProcessMessages()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            terminated_ = true;
            break;
        }
        try {
            if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) CancelHint();
            if (IsKeyMsg(msg) || DialogTab(msg)) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        } catch (...) {
            HandleException(this);
        }
    }
    try {
        CheckSynchronize();
    } catch (...) {
        HandleException(this);
    }
}

void TApplication::Initialize()
{
    if (initialized_) return;
    RunStartups();
    RunInitProcs();
    initialized_ = true;
}

void TApplication::Finalize()
{
    if (!initialized_) return;
    CancelHint();
    hintWindow_.reset();
    DestroyComponents();
    mainForm_ = nullptr;
    initialized_ = false;
    RunShutdowns();
}

void TApplication::Run()
{
    if (mainForm_) mainForm_->Show();
    while (!terminated_) HandleMessage();
}

void TApplication::HandleException(TObject* Sender)
{
    std::exception_ptr current = std::current_exception();
    if (!current) return;
    try {
        std::rethrow_exception(current);
    } catch (Exception& e) {
        DispatchException(Sender, e);
    } catch (const std::exception& e) {
        Exception wrapped(Utf8ToWide(e.what()));
        DispatchException(Sender, wrapped);
    } catch (...) {
        Exception wrapped(L"Unknown exception");
        DispatchException(Sender, wrapped);
    }
}

void TApplication::DispatchException(TObject* Sender, Exception& E)
{
    // A copy: a handler may free an events component.
    std::vector<TApplicationEvents*> handlers;
    for (TApplicationEvents* ev : events_)
        if (ev->OnException) handlers.push_back(ev);
    if (!handlers.empty()) {
        for (TApplicationEvents* ev : handlers)
            if (std::find(events_.begin(), events_.end(), ev) != events_.end()) ev->OnException(Sender, E);
        return;
    }
    if (OnException) {
        OnException(Sender, E);
        return;
    }
    if (dynamic_cast<EAbort*>(&E)) return;
    ShowException(E);
}

void TApplication::ShowException(Exception& E)
{
    std::wstring text = E.Message();
    if (!text.empty() && text.back() != L'.') text += L'.';
    std::wstring title = Title.empty() ? ExeName() : Title;
    ::MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

// ====================================================== TApplicationEvents

TApplicationEvents::TApplicationEvents(TComponent* AOwner) : TComponent(AOwner), application_(Application)
{
    if (application_) application_->events_.push_back(this);
}

TApplicationEvents::~TApplicationEvents()
{
    if (application_) {
        auto& list = application_->events_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
}

// ================================================================= TScreen

TScreen::TScreen(TComponent* AOwner) : TComponent(AOwner) {}

TScreen::~TScreen() = default;

void TScreen::SetCursor(TCursor Value)
{
    if (Value == cursor_) return;
    cursor_ = Value;
    SetOverrideCursor(Value);
    if (Value != crDefault) {
        ::SetCursor(GetCursorHandle(Value));
        return;
    }
    // Back to the controls' cursors: the window under the mouse sets its own.
    POINT p;
    if (!::GetCursorPos(&p)) return;
    HWND wnd = ::WindowFromPoint(p);
    if (!wnd || ::GetWindowThreadProcessId(wnd, nullptr) != ::GetCurrentThreadId()) return;
    LRESULT hit = ::SendMessageW(wnd, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y));
    ::SendMessageW(wnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(wnd), MAKELPARAM(static_cast<WORD>(hit), WM_MOUSEMOVE));
}

int TScreen::GetPixelsPerInch() const
{
    HDC dc = ::GetDC(nullptr);
    int ppi = dc ? ::GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ::ReleaseDC(nullptr, dc);
    return ppi;
}

TCustomForm* TScreen::GetForms(int Index) const
{
    if (Index < 0 || Index >= GetFormCount()) throw EListError(Format(L"List index out of bounds (%d)", Index));
    return forms_[static_cast<std::size_t>(Index)];
}

// The screen is made before the application (and goes after it), since
// forms report to it while the application deletes them.
namespace {
TScreen theScreen(nullptr);
TApplication theApplication(nullptr);
}  // namespace

TScreen* Screen = &theScreen;
TApplication* Application = &theApplication;

// ============================================================== TScrollBox

TScrollBox::TScrollBox(TComponent* AOwner) : TWinControl(AOwner)
{
    ControlStyle |= csAcceptsControls;
    SetBounds(0, 0, 185, 41);
}

void TScrollBox::CreateParams(TCreateParams& Params)
{
    TWinControl::CreateParams(Params);
    Params.Style |= WS_HSCROLL | WS_VSCROLL;
    Params.ExStyle |= WS_EX_CLIENTEDGE;
}

void TScrollBox::CreateHandleDone()
{
    TWinControl::CreateHandleDone();
    UpdateScrollRanges();
}

void TScrollBox::Resize()
{
    UpdateScrollRanges();
    TWinControl::Resize();
}

void TScrollBox::UpdateScrollRanges()
{
    // The extent of the children in unscrolled coordinates.
    int right = 0, bottom = 0;
    for (int i = 0; i < GetControlCount(); ++i) {
        TControl* c = GetControl(i);
        if (!c->GetVisible()) continue;
        right = std::max(right, c->GetLeft() + scrollX_ + c->GetWidth());
        bottom = std::max(bottom, c->GetTop() + scrollY_ + c->GetHeight());
    }
    if (!HandleAllocated()) {
        rangeX_ = right;
        rangeY_ = bottom;
        return;
    }
    HWND wnd = GetHandle();
    // Client size without scroll bars, then decide which bars are needed.
    RECT wr;
    ::GetClientRect(wnd, &wr);
    int cw = wr.right, ch = wr.bottom;
    if (::GetWindowLongW(wnd, GWL_STYLE) & WS_VSCROLL) cw += ::GetSystemMetrics(SM_CXVSCROLL);
    if (::GetWindowLongW(wnd, GWL_STYLE) & WS_HSCROLL) ch += ::GetSystemMetrics(SM_CYHSCROLL);
    bool needH = right > cw, needV = bottom > ch;
    if (needH && !needV) needV = bottom > ch - ::GetSystemMetrics(SM_CYHSCROLL);
    if (needV && !needH) needH = right > cw - ::GetSystemMetrics(SM_CXVSCROLL);
    rangeX_ = needH ? right : 0;
    rangeY_ = needV ? bottom : 0;
    const int pageW = cw - (needV ? ::GetSystemMetrics(SM_CXVSCROLL) : 0);
    const int pageH = ch - (needH ? ::GetSystemMetrics(SM_CYHSCROLL) : 0);
    SCROLLINFO si{sizeof(si), SIF_RANGE | SIF_PAGE, 0, 0, 0, 0, 0};
    si.nMax = rangeX_ ? rangeX_ - 1 : 0;
    si.nPage = rangeX_ ? static_cast<UINT>(pageW) : 0;
    ::SetScrollInfo(wnd, SB_HORZ, &si, TRUE);
    si.nMax = rangeY_ ? rangeY_ - 1 : 0;
    si.nPage = rangeY_ ? static_cast<UINT>(pageH) : 0;
    ::SetScrollInfo(wnd, SB_VERT, &si, TRUE);
    ::ShowScrollBar(wnd, SB_HORZ, needH);
    ::ShowScrollBar(wnd, SB_VERT, needV);
    ScrollTo(needH ? scrollX_ : 0, needV ? scrollY_ : 0);
}

void TScrollBox::ScrollTo(int X, int Y)
{
    int maxX = 0, maxY = 0;
    if (HandleAllocated()) {
        RECT r;
        ::GetClientRect(GetHandle(), &r);
        maxX = std::max(0, rangeX_ - static_cast<int>(r.right));
        maxY = std::max(0, rangeY_ - static_cast<int>(r.bottom));
    }
    X = std::clamp(X, 0, maxX);
    Y = std::clamp(Y, 0, maxY);
    const int dx = scrollX_ - X, dy = scrollY_ - Y;
    if (!dx && !dy) return;
    scrollX_ = X;
    scrollY_ = Y;
    for (int i = 0; i < GetControlCount(); ++i) {
        TControl* c = GetControl(i);
        c->SetBounds(c->GetLeft() + dx, c->GetTop() + dy, c->GetWidth(), c->GetHeight());
    }
    if (HandleAllocated()) {
        ::SetScrollPos(GetHandle(), SB_HORZ, scrollX_, TRUE);
        ::SetScrollPos(GetHandle(), SB_VERT, scrollY_, TRUE);
        Invalidate();
    }
}

void TScrollBox::Scroll(int Bar, WORD Code)
{
    SCROLLINFO si{sizeof(si), SIF_ALL, 0, 0, 0, 0, 0};
    ::GetScrollInfo(GetHandle(), Bar, &si);
    int pos = si.nPos;
    const int page = static_cast<int>(si.nPage);
    switch (Code) {
    case SB_LINEUP: pos -= 16; break;
    case SB_LINEDOWN: pos += 16; break;
    case SB_PAGEUP: pos -= page; break;
    case SB_PAGEDOWN: pos += page; break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: pos = si.nTrackPos; break;
    case SB_TOP: pos = 0; break;
    case SB_BOTTOM: pos = si.nMax; break;
    default: return;
    }
    if (Bar == SB_HORZ)
        ScrollTo(pos, scrollY_);
    else
        ScrollTo(scrollX_, pos);
}

void TScrollBox::Dispatch(TMessage& Message)
{
    switch (Message.Msg) {
    case WM_HSCROLL:
        Scroll(SB_HORZ, LOWORD(Message.WParam));
        Message.Result = 0;
        return;
    case WM_VSCROLL:
        Scroll(SB_VERT, LOWORD(Message.WParam));
        Message.Result = 0;
        return;
    default: TWinControl::Dispatch(Message);
    }
}

}  // namespace classlib
