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

}  // namespace toolbar
