// The menu loop: the modal handler's window and message loop (submenu
// delays, pointer tracking, keys and accelerators) and carrying out its
// outcome.
#include "controls/toolbar/MbItem.h"

#include <imm.h>

#include <algorithm>

#include "classlib/Forms.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "controls/toolbar/MbAcc.h"
#include "controls/toolbar/MbAnim.h"
#include "controls/toolbar/MbCommon.h"
#include "controls/toolbar/MbItemInternal.h"

namespace toolbar {

using detail::HasPointerPos;
using detail::HostHandle;
using detail::PopupViewOf;

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

// One run of the menu loop over the chain of views from Root: waits for
// messages, lets presses outside the chain end it, and hands every message
// kind to its handler. The handlers run between the checks that the capture
// and the active window are unchanged and no view has recorded an outcome.
class TMbMenuLoop {
public:
    TMbMenuLoop(HWND CaptureWnd, TMbView* Root, bool TrackRightButton)
        : captureWnd_(CaptureWnd), root_(Root), trackRight_(TrackRightButton)
    {
    }

    void Run(bool StartedByMouseDown, bool ExecuteSelectedFirst, bool WithoutPriority);

private:
    bool Start(bool StartedByMouseDown, bool ExecuteSelectedFirst, bool WithoutPriority);
    bool Valid() const
    {
        return ::GetCapture() == captureWnd_ && ::GetActiveWindow() == active_ && !root_->IsDone();
    }
    static POINT MessagePoint(const MSG& Msg);
    bool PressEndsLoop(const MSG& Msg, POINT At);
    void Dispatch(MSG& Msg, POINT At);

    std::vector<TMbView*> Chain() const;
    void Track(POINT P, bool AllowSelect);
    TMbItemViewer* Target(TMbView*& View);
    static void CancelHint();
    void TrackHint(TMbView* View, TMbItemViewer* Viewer);
    void PointerMove();
    void UpdateStatusHint();

    void OnKey(MSG& Msg);
    void OnKeyDown(MSG& Msg, TMbView* Deepest, bool ButtonDown);
    void OnChar(const MSG& Msg, TMbView* Deepest, bool ButtonDown);
    void OnTimer(MSG& Msg);
    void OnMouseMove(POINT At);
    void OnButtonDown(const MSG& Msg, POINT At);
    void OnButtonUp(const MSG& Msg, POINT At);
    void OnMouseWheel(const MSG& Msg);

    const HWND captureWnd_;
    TMbView* const root_;
    const bool trackRight_;
    HWND active_ = nullptr;
    bool mouseDownOnMenu_ = false;
};

std::vector<TMbView*> TMbMenuLoop::Chain() const
{
    std::vector<TMbView*> views;
    for (TMbView* v = root_; v; v = v->OpenSubView) views.push_back(v);
    return views;
}

// Every view from the deepest up tracks the pointer, except that a view
// holding the mouse capture tracks alone.
void TMbMenuLoop::Track(POINT P, bool AllowSelect)
{
    const std::vector<TMbView*> views = Chain();
    for (TMbView* v : views)
        if (v->MouseCaptured) {
            v->TrackPointer(P, AllowSelect);
            return;
        }
    for (auto it = views.rbegin(); it != views.rend(); ++it) (*it)->TrackPointer(P, AllowSelect);
}

// The viewer a mouse message is meant for, and its view.
TMbItemViewer* TMbMenuLoop::Target(TMbView*& View)
{
    const std::vector<TMbView*> views = Chain();
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
}

void TMbMenuLoop::CancelHint()
{
    if (classlib::Application) classlib::Application->CancelHint();
}

// Entries of views that show hints (and entries that ask for them) get the
// hint tracking of their host window; others end the hint.
void TMbMenuLoop::TrackHint(TMbView* View, TMbItemViewer* Viewer)
{
    const HWND host = HostHandle(View);
    classlib::TWinControl* control = classlib::FindControl(host);
    if (!classlib::Application || !control || View->MouseCaptured ||
        !((View->ViewStyle & vsMenuHints) || (Viewer->EntryItem->GetEffectiveOptions() & tboShowHint))) {
        CancelHint();
        return;
    }
    ::UpdateWindow(host);
    POINT c = LastPointerPos;
    ::ScreenToClient(host, &c);
    classlib::TMessage move{WM_MOUSEMOVE, 0, MAKELPARAM(c.x, c.y), 0};
    classlib::Application->HintMouseMessage(control, move);
}

void TMbMenuLoop::PointerMove()
{
    Track(LastPointerPos, true);
    TMbView* view = nullptr;
    HCURSOR cursor = nullptr;
    if (TMbItemViewer* t = Target(view)) {
        TrackHint(view, t);
        const POINT p = t->ScreenToViewer(LastPointerPos);
        t->CursorAt(p.x, p.y, cursor);
        ::SetCursor(cursor ? cursor : ::LoadCursorW(nullptr, IDC_ARROW));
        t->MouseMove(p.x, p.y);
    } else {
        CancelHint();
        ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
    }
}

// The status hint: the long hint of the deepest selected entry.
void TMbMenuLoop::UpdateStatusHint()
{
    if (!classlib::Application) return;
    std::wstring status;
    for (TMbView* v = root_; v; v = v->OpenSubView)
        if (v->SelectedViewer) status = classlib::GetLongHint(v->SelectedViewer->EntryItem->Hint);
    classlib::Application->SetHint(status);
}

// The press that started the loop, or the selection to carry out first;
// answers false when that already ended the menu.
bool TMbMenuLoop::Start(bool StartedByMouseDown, bool ExecuteSelectedFirst, bool WithoutPriority)
{
    TMbView* const V = root_;
    if (StartedByMouseDown) {
        if (TMbItemViewer* s = V->SelectedViewer) {
            const POINT p = s->ScreenToViewer(LastPointerPos);
            s->MouseDown(0, p.x, p.y, mouseDownOnMenu_);
        }
        if (V->IsDone()) return false;
        mouseDownOnMenu_ = false;
        // The press opened a popup from the bar: its own release, on the
        // entry or elsewhere on the bar, leaves the popup open for a click.
        if (V->IsToolbarView && V->OpenSubView) V->RunFlags |= rfIgnoreRelease;
    } else if (ExecuteSelectedFirst) {
        V->ActivateSelection(!WithoutPriority);
        if (V->IsDone()) return false;
    }
    return true;
}

// Pointer positions come from the message itself (client coordinates of its
// window), not from the shared cursor.
POINT TMbMenuLoop::MessagePoint(const MSG& Msg)
{
    POINT at = Msg.pt;
    const bool mouseMsg = Msg.message >= WM_MOUSEFIRST && Msg.message <= WM_MOUSELAST;
    if (mouseMsg && Msg.message != WM_MOUSEWHEEL && Msg.hwnd) {
        at = POINT{static_cast<short>(LOWORD(Msg.lParam)), static_cast<short>(HIWORD(Msg.lParam))};
        ::ClientToScreen(Msg.hwnd, &at);
    }
    return at;
}

// A press outside the chain ends the loop and stays in the queue for its
// window, except a press on the root bar's own client area; a left press
// there ends it too unless it lands on a clickable entry.
bool TMbMenuLoop::PressEndsLoop(const MSG& Msg, POINT At)
{
    TMbView* const V = root_;
    const bool leftPress = Msg.message == WM_LBUTTONDOWN || Msg.message == WM_LBUTTONDBLCLK ||
                           Msg.message == WM_NCLBUTTONDOWN || Msg.message == WM_NCLBUTTONDBLCLK;
    const bool rightPress =
        Msg.message == WM_RBUTTONDOWN || Msg.message == WM_RBUTTONDBLCLK || Msg.message == WM_NCRBUTTONDOWN;
    if (!(leftPress || rightPress)) return false;
    HWND under = ::WindowFromPoint(At);
    TMbView* underView = PopupViewOf(under);
    if (underView && TMbView::IsInChain(V, underView)) return false;
    HWND host = HostHandle(V);
    if (V->IsPopupView || under != host) return true;  // the press stays for its window
    POINT c = At;
    ::ScreenToClient(host, &c);
    RECT client{};
    ::GetClientRect(host, &client);
    if (!::PtInRect(&client, c)) return true;
    if (leftPress) {
        LastPointerPos = At;
        Track(At, true);
        TMbItemViewer* s = V->SelectedViewer;
        if (!s || !V->PointerOnSelected || (s->EntryItem->GetKinds() & ikNoClick)) return true;
    }
    return false;
}

void TMbMenuLoop::Run(bool StartedByMouseDown, bool ExecuteSelectedFirst, bool WithoutPriority)
{
    if (!Start(StartedByMouseDown, ExecuteSelectedFirst, WithoutPriority)) return;
    active_ = ::GetActiveWindow();
    while (Valid()) {
        StepOpenEffect();
        MSG msg;
        if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (OpenEffectRunning()) ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
            else ::WaitMessage();
            continue;
        }
        const POINT at = MessagePoint(msg);
        if (PressEndsLoop(msg, at)) break;
        if (!::PeekMessageW(&msg, msg.hwnd, msg.message, msg.message, PM_REMOVE)) continue;
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        Dispatch(msg, at);
        if (!Valid()) break;
        if (!HasPointerPos()) {
            LastPointerPos = LastMessagePoint();
            PointerMove();
        }
        UpdateStatusHint();
    }
}

void TMbMenuLoop::Dispatch(MSG& Msg, POINT At)
{
    switch (Msg.message) {
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
    case WM_SYSDEADCHAR:
        OnKey(Msg);
        break;
    case WM_TIMER:
        OnTimer(Msg);
        break;
    case WM_MOUSEMOVE:
        OnMouseMove(At);
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
        OnButtonDown(Msg, At);
        break;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
        OnButtonUp(Msg, At);
        break;
    case WM_MOUSEWHEEL:
        OnMouseWheel(Msg);
        break;
    default:
        ::TranslateMessage(&Msg);
        ::DispatchMessageW(&Msg);
    }
}

// Keys go to the deepest view; while a button is held only F1 counts.
void TMbMenuLoop::OnKey(MSG& Msg)
{
    CancelHint();
    const bool buttonDown = ::GetKeyState(VK_LBUTTON) < 0 || (trackRight_ && ::GetKeyState(VK_RBUTTON) < 0);
    TMbView* d = DeepestView(root_);
    if (Msg.message == WM_KEYDOWN || Msg.message == WM_SYSKEYDOWN) OnKeyDown(Msg, d, buttonDown);
    else if (Msg.message == WM_CHAR || Msg.message == WM_SYSCHAR) OnChar(Msg, d, buttonDown);
}

// The selected entry, then its view, handle the key; a key they leave is
// translated into its characters.
void TMbMenuLoop::OnKeyDown(MSG& Msg, TMbView* Deepest, bool ButtonDown)
{
    WORD key = static_cast<WORD>(Msg.wParam);
    if (key == VK_PROCESSKEY) key = static_cast<WORD>(::ImmGetVirtualKey(Msg.hwnd));
    if (ButtonDown && key != VK_F1) return;
    const classlib::TShiftState shift = KeyShiftState();
    if (Deepest->SelectedViewer) Deepest->SelectedViewer->HandleKeyDown(key, shift);
    if (key != 0) Deepest->HandleKey(key, shift);
    if (root_->IsDone()) return;
    if (key != 0) ::TranslateMessage(&Msg);
}

// A character selects the entry it is the accelerator or first letter of
// (and carries it out when no other entry has it); space and minus on a bar
// open the window's system menu.
void TMbMenuLoop::OnChar(const MSG& Msg, TMbView* Deepest, bool ButtonDown)
{
    TMbView* const V = root_;
    if (ButtonDown) return;
    const auto ch = static_cast<wchar_t>(Msg.wParam);
    bool unique = false;
    if (TMbItemViewer* found = Deepest->FindAccelEntry(Deepest->SelectedViewer, ch, unique, false)) {
        Deepest->SelectViewer(found);
        Deepest->RevealSelection();
        if (unique) Deepest->ActivateSelection(true);
    } else if ((ch == L' ' || ch == L'-') && !V->IsPopupView && Deepest == V && ::GetActiveWindow()) {
        V->FinishWithSystemKey(::GetActiveWindow(), ch);
    } else {
        ::MessageBeep(0);
    }
}

// The submenu, close and scroll timers of popup views; other timers are
// dispatched.
void TMbMenuLoop::OnTimer(MSG& Msg)
{
    TMbView* view = PopupViewOf(Msg.hwnd);
    if (!view || Msg.wParam < 9000 || Msg.wParam > 9003) {
        ::DispatchMessageW(&Msg);
        return;
    }
    switch (Msg.wParam - 9000) {
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
}

void TMbMenuLoop::OnMouseMove(POINT At)
{
    if (At.x == LastPointerPos.x && At.y == LastPointerPos.y) return;
    LastPointerPos = At;
    PointerMove();
}

// A press (the right button only when tracked) goes to the target entry.
void TMbMenuLoop::OnButtonDown(const MSG& Msg, POINT At)
{
    const bool right = Msg.message == WM_RBUTTONDOWN || Msg.message == WM_RBUTTONDBLCLK;
    if (right && !trackRight_) return;
    CancelHint();
    mouseDownOnMenu_ = false;
    root_->RunFlags &= static_cast<uint8_t>(~rfIgnoreRelease);
    LastPointerPos = At;
    Track(At, true);
    TMbView* view = nullptr;
    if (TMbItemViewer* t = Target(view)) {
        const POINT p = t->ScreenToViewer(At);
        const bool dbl = Msg.message == WM_LBUTTONDBLCLK || Msg.message == WM_RBUTTONDBLCLK;
        t->MouseDown(dbl ? classlib::ssDouble : 0, p.x, p.y, mouseDownOnMenu_);
    }
}

// A release goes to the target entry; one outside every view, or on the
// root bar, ends the menu.
void TMbMenuLoop::OnButtonUp(const MSG& Msg, POINT At)
{
    TMbView* const V = root_;
    if (Msg.message == WM_RBUTTONUP && !trackRight_) return;
    LastPointerPos = At;
    Track(At, false);
    TMbView* view = nullptr;
    if (TMbItemViewer* t = Target(view)) {
        const POINT p = t->ScreenToViewer(At);
        t->MouseUp(p.x, p.y, mouseDownOnMenu_);
    }
    if (!view || (view == V && V->IsToolbarView)) {
        // The release of the press that opened a popup menu is
        // ignored; a later release outside ends the menu.
        if (V->RunFlags & rfIgnoreRelease) V->RunFlags &= static_cast<uint8_t>(~rfIgnoreRelease);
        else if (!V->IsDone()) V->FinishCancel();
    }
}

void TMbMenuLoop::OnMouseWheel(const MSG& Msg)
{
    Track(LastPointerPos, true);
    TMbView* view = nullptr;
    if (TMbItemViewer* t = Target(view)) {
        const POINT p = t->ScreenToViewer(Msg.pt);
        t->MouseWheel(static_cast<short>(HIWORD(Msg.wParam)), p.x, p.y);
    }
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
    TMbMenuLoop(captureWnd_, V, TrackRightButton).Run(StartedByMouseDown, ExecuteSelectedFirst, WithoutPriority);
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

}  // namespace toolbar
