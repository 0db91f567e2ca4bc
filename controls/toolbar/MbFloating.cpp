// The floating tool window and the resize loop of a floating window.
#include <algorithm>

#include "classlib/WinHandles.h"
#include "controls/toolbar/MbCommon.h"
#include "controls/toolbar/MbDock.h"

namespace toolbar {

using namespace classlib;

void MbDrawOutline(HDC DC, const RECT* Old, const RECT* New, int Thickness)
{
    // An inverted frame: drawing the same frame twice erases it.
    static const WORD kHalftone[8] = {0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA};
    TOwnedBitmap pattern(::CreateBitmap(8, 8, 1, 1, kHalftone));
    TOwnedBrush brush(::CreatePatternBrush(pattern.Get()));
    TSelectObjectScope sel(DC, brush.Get());
    auto frame = [&](const RECT& r) {
        const int w = r.right - r.left, h = r.bottom - r.top;
        if (w <= 0 || h <= 0) return;
        const int t = std::min({Thickness, w, h});
        ::PatBlt(DC, r.left, r.top, w, t, PATINVERT);
        ::PatBlt(DC, r.left, r.bottom - t, w, t, PATINVERT);
        ::PatBlt(DC, r.left, r.top + t, t, h - 2 * t, PATINVERT);
        ::PatBlt(DC, r.right - t, r.top + t, t, h - 2 * t, PATINVERT);
    };
    if (Old) frame(*Old);
    if (New) frame(*New);
}

TMbFloatingWindowParent::TMbFloatingWindowParent(TMbCustomDockableWindow* AHosted)
    : TCustomForm(nullptr), Hosted(AHosted)
{
    SetBorderStyle(bsToolWindow);
}

TMbFloatingWindowParent::~TMbFloatingWindowParent()
{
    if (OwnerForm) OwnerForm->RemoveFreeNotification(this);
}

void TMbFloatingWindowParent::CreateParams(TCreateParams& Params)
{
    TCustomForm::CreateParams(Params);
    Params.WindowClassStyle &= ~static_cast<UINT>(CS_HREDRAW | CS_VREDRAW);
    Params.Style = WS_POPUP | WS_BORDER | WS_CLIPCHILDREN;
    if (Hosted && Hosted->GetResizable()) Params.Style |= WS_THICKFRAME;
    Params.ExStyle = WS_EX_TOOLWINDOW;
    if (OwnerForm && OwnerForm->HandleAllocated()) Params.WndParent = OwnerForm->GetHandle();
}

void TMbFloatingWindowParent::Notification(TComponent* AComponent, TOperation Operation)
{
    TCustomForm::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == OwnerForm) OwnerForm = nullptr;
}

void TMbFloatingWindowParent::SetClosePressed(bool Value)
{
    if (Value == closePressed_) return;
    closePressed_ = Value;
    RedrawFloating(4);
}

RECT TMbFloatingWindowParent::TitleRect(bool InWindowCoords, bool LeaveOutCloseButton)
{
    const RECT c = GetClientRect();
    RECT r{0, 0, c.right - c.left, ::GetSystemMetrics(SM_CYSMCAPTION) - 1};
    if (LeaveOutCloseButton) r.right -= r.bottom - r.top;
    if (InWindowCoords && Hosted) {
        int fw = 0, fh = 0;
        Hosted->FloatFrameSize(fw, fh);
        ::OffsetRect(&r, fw, fh);
    }
    return r;
}

RECT TMbFloatingWindowParent::TitleCloseRect()
{
    RECT r = TitleRect(true, false);
    r.left = r.right - ::GetSystemMetrics(SM_CYSMCAPTION) + 1;
    return r;
}

void TMbFloatingWindowParent::RedrawFloating(uint8_t Parts)
{
    if (HandleAllocated() && ::IsWindowVisible(GetHandle())) DrawFloatingFrame(nullptr, Parts, nullptr);
}

void TMbFloatingWindowParent::DrawFloatingFrame(HDC GivenDC, uint8_t Parts, HRGN Region)
{
    if (!HandleAllocated() || !Hosted) return;
    std::unique_ptr<TWindowDC> own;
    const HDC dc = FrameDC(GetHandle(), GivenDC, own);
    const RECT w = WindowRectAtOrigin(GetHandle());
    TSaveDCScope saved(dc);
    if (own) ClipToUpdateRegion(GetHandle(), dc, Region);
    ::IntersectClipRect(dc, w.left, w.top, w.right, w.bottom);
    BOOL gradient = FALSE;
    if (!::SystemParametersInfoW(SPI_GETGRADIENTCAPTIONS, 0, &gradient, 0)) gradient = FALSE;
    const bool dimmed = Hosted->CaptionDimmed;
    int fw = 0, fh = 0;
    Hosted->FloatFrameSize(fw, fh);
    if (Parts & 1) {
        RECT edge = w;
        ::DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT | BF_ADJUST);
        RECT face = w;
        ::InflateRect(&face, -(fw - 1), -(fh - 1));
        TOwnedBrush faceBrush(::CreateSolidBrush(::GetSysColor(COLOR_BTNFACE)));
        ::FrameRect(dc, &face, faceBrush.Get());
        // The ring between the edge and that frame.
        const HBRUSH border = ::GetSysColorBrush(dimmed ? COLOR_INACTIVEBORDER : COLOR_ACTIVEBORDER);
        TSaveDCScope ring(dc);
        ::ExcludeClipRect(dc, face.left, face.top, face.right, face.bottom);
        ::FillRect(dc, &edge, border);
    }
    if (Hosted->GetShowCaption()) {
        const bool close = Hosted->GetCloseButton();
        if (Parts & 2) {
            TSaveDCScope cap(dc);
            if ((Parts & 4) && close) {
                const RECT cr = TitleCloseRect();
                ::ExcludeClipRect(dc, cr.left, cr.top, cr.right, cr.bottom);
            }
            RECT t = TitleRect(true, close);
            std::wstring text = GetCaption();
            const HWND wnd = GetHandle();
            UINT flags = DC_SMALLCAP | DC_TEXT | (dimmed ? 0 : DC_ACTIVE);
            if (gradient) flags |= DC_GRADIENT;
            ::DrawCaption(wnd, dc, &t, flags);
            RECT line = TitleRect(true, false);
            line.top = line.bottom;
            ++line.bottom;
            ::FillRect(dc, &line, ::GetSysColorBrush(COLOR_BTNFACE));
        }
        if (close) {
            RECT r = TitleCloseRect();
            RECT b = r;
            ::InflateRect(&b, 0, -2);
            b.right -= 2;
            if (Parts & 2) {
                const int colour = gradient ? (dimmed ? COLOR_GRADIENTINACTIVECAPTION : COLOR_GRADIENTACTIVECAPTION)
                                            : (dimmed ? COLOR_INACTIVECAPTION : COLOR_ACTIVECAPTION);
                TSaveDCScope fill(dc);
                ::ExcludeClipRect(dc, b.left, b.top, b.right, b.bottom);
                ::FillRect(dc, &r, ::GetSysColorBrush(colour));
            }
            if (Parts & 4)
                ::DrawFrameControl(dc, &b, DFC_CAPTION, DFCS_CAPTIONCLOSE | (closePressed_ ? DFCS_PUSHED : 0));
        }
    }
}

int TMbFloatingWindowParent::FloatingHitTest(POINT Window)
{
    if (!Hosted) return HTNOWHERE;
    if (Hosted->GetShowCaption()) {
        const RECT full = TitleRect(true, false);
        if (::PtInRect(&full, Window)) {
            const RECT close = TitleCloseRect();
            return Hosted->GetCloseButton() && ::PtInRect(&close, Window) ? kHitCloseButton : kHitFloatCaption;
        }
    }
    if (!Hosted->GetResizable()) return HTNOWHERE;
    int w = 0, h = 0;
    Hosted->FloatFrameSize(w, h);
    const int width = GetWidth(), height = GetHeight();
    const int x = Window.x, y = Window.y;
    if (!(Hosted->ResizeOptions & 0x01)) {
        if (y >= 0 && y < h) return HTTOP;
        if (y >= height - h - 1 && y < height) return HTBOTTOM;
        if (x >= 0 && x < w) return HTLEFT;
        if (x >= width - w - 1 && x < width) return HTRIGHT;
        return HTNOWHERE;
    }
    const int c = ::GetSystemMetrics(SM_CYSMCAPTION) + w - 1;
    if (x >= 0 && x < w) return y < c ? HTTOPLEFT : y >= height - c ? HTBOTTOMLEFT : HTLEFT;
    if (x >= width - w - 1 && x < width) return y < c ? HTTOPRIGHT : y >= height - c ? HTBOTTOMRIGHT : HTRIGHT;
    if (y >= 0 && y < h) return x < c ? HTTOPLEFT : x >= width - c ? HTTOPRIGHT : HTTOP;
    if (y >= height - h - 1 && y < height) return x < c ? HTBOTTOMLEFT : x >= width - c ? HTBOTTOMRIGHT : HTBOTTOM;
    return HTNOWHERE;
}

void TMbFloatingWindowParent::ShowingChanged()
{
    if (!HandleAllocated()) return;
    const bool show = ShowWanted && (!Hosted || Hosted->GetVisible());
    ::SetWindowPos(GetHandle(), nullptr, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE |
                       (show ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
}

void TMbFloatingWindowParent::RunResizeLoop(int Edge, POINT PressScreen)
{
    TMbCustomDockableWindow* hosted = Hosted;
    if (!hosted || !HandleAllocated()) return;
    const HWND wnd = GetHandle();
    auto alive = AliveToken();
    auto hostedAlive = hosted->AliveToken();
    const bool live = hosted->SmoothDrag;
    int minW = 0, minH = 0, maxW = 0, maxH = 0;
    hosted->QueryMinMaxSize(minW, minH, maxW, maxH);
    const int extraW = GetWidth() - hosted->GetWidth(), extraH = GetHeight() - hosted->GetHeight();
    if (minW) minW += extraW;
    if (minH) minH += extraH;
    if (maxW > 0) maxW += extraW;
    if (maxH > 0) maxH += extraH;
    const bool horizontal = Edge == 0 || Edge == 1 || Edge >= 3;
    const bool vertical = Edge >= 2;
    const bool leftMoves = Edge == 0 || Edge == 3 || Edge == 6;
    const bool topMoves = Edge == 2 || Edge == 3 || Edge == 4;
    const bool hEdge = Edge == 0 || Edge == 1 || Edge == 3 || Edge == 4 || Edge == 6 || Edge == 7;
    const bool vEdge = Edge == 2 || Edge == 5 || Edge == 3 || Edge == 4 || Edge == 6 || Edge == 7;
    (void)horizontal;
    (void)vertical;
    hosted->SizingBegin(Edge);
    bool accepted = false, confined = false;
    std::unique_ptr<TWindowDC> desk;
    RECT start{};
    ::GetWindowRect(wnd, &start);
    RECT current = start, drawn{};
    int fw = 0, fh = 0;
    hosted->FloatFrameSize(fw, fh);
    const POINT origin = PressScreen;
    auto apply = [&](const RECT& r) {
        hosted->HoldRearrange();
        hosted->SizingCommit();
        SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
        const RECT c = GetClientRect();
        hosted->TCustomControl::SetBounds(0, 0, c.right - c.left, c.bottom - c.top);
        hosted->ReleaseRearrange();
        hosted->KeepOnScreen(true);
    };
    // Gives back the capture and the pointer, and erases the outline.
    auto finish = [&] {
        if (::GetCapture() == wnd) ::ReleaseCapture();
        if (confined) ::ClipCursor(nullptr);
        if (desk) {
            MbDrawOutline(desk->Get(), &drawn, nullptr, fw);
            desk.reset();
            ::LockWindowUpdate(nullptr);
        }
    };
    try {
        MSG pending;
        while (::PeekMessageW(&pending, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) ::DispatchMessageW(&pending);
        if (!live) {
            ::LockWindowUpdate(::GetDesktopWindow());
            desk = std::make_unique<TWindowDC>(::GetDesktopWindow(), nullptr,
                                               DCX_WINDOW | DCX_CACHE | DCX_LOCKWINDOWUPDATE);
            drawn = start;
            MbDrawOutline(desk->Get(), nullptr, &drawn, fw);
        }
        ::SetCapture(wnd);
        // Optionally the pointer stays on a lone screen's work area.
        if ((hosted->ResizeOptions & 0x02) && !SeveralMonitors()) {
            RECT area{};
            if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0))
                area = RECT{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
            ::ClipCursor(&area);
            confined = true;
        }
        TMbMouseLoop loop;
        loop.Going = [&] { return *alive && *hostedAlive; };
        loop.OnKey = [](const MSG& Msg) { return Msg.message == WM_KEYDOWN && Msg.wParam == VK_ESCAPE; };
        loop.OnMove = [&](POINT At) {
            RECT next = start;
            const int dx = At.x - origin.x, dy = At.y - origin.y;
            if (hEdge) (leftMoves ? next.left : next.right) += dx;
            if (vEdge) (topMoves ? next.top : next.bottom) += dy;
            auto clampSide = [](LONG& moving, LONG fixed, int size, bool before) {
                if (before) moving = fixed - size;
                else moving = fixed + size;
            };
            if (minW && next.right - next.left < minW) clampSide(leftMoves ? next.left : next.right, leftMoves ? next.right : next.left, minW, leftMoves);
            if (minH && next.bottom - next.top < minH) clampSide(topMoves ? next.top : next.bottom, topMoves ? next.bottom : next.top, minH, topMoves);
            if (maxW > 0 && next.right - next.left > maxW) clampSide(leftMoves ? next.left : next.right, leftMoves ? next.right : next.left, maxW, leftMoves);
            if (maxH > 0 && next.bottom - next.top > maxH) clampSide(topMoves ? next.top : next.bottom, topMoves ? next.bottom : next.top, maxH, topMoves);
            hosted->SizingMove(next, start);
            if (::EqualRect(&next, &current)) return;
            current = next;
            if (live) {
                apply(current);
            } else {
                MbDrawOutline(desk->Get(), &drawn, &current, fw);
                drawn = current;
            }
        };
        accepted = MbRunMouseLoop(wnd, loop);
    } catch (...) {
        finish();
        if (*alive && *hostedAlive) hosted->SizingFinish();
        throw;
    }
    finish();
    // Destroyed while resizing: nothing is left to apply.
    if (!*alive || !*hostedAlive) return;
    if (!live && accepted) apply(current);
    hosted->SizingFinish();
}

void TMbFloatingWindowParent::WndProc(TMessage& Message)
{
    switch (Message.Msg) {
    case WM_NCCALCSIZE: {
        auto* r = reinterpret_cast<RECT*>(Message.LParam);
        if (Hosted) {
            int fw = 0, fh = 0;
            Hosted->FloatFrameSize(fw, fh);
            ::InflateRect(r, -fw, -fh);
            if (Hosted->GetShowCaption()) r->top += ::GetSystemMetrics(SM_CYSMCAPTION);
        }
        Message.Result = 0;
        return;
    }
    case WM_NCPAINT:
        DrawFloatingFrame(nullptr, 1 | 2 | 4, reinterpret_cast<HRGN>(Message.WParam));
        Message.Result = 0;
        return;
    case WM_PRINT:
        Message.Result = PrintWindowTree(
            GetHandle(), reinterpret_cast<HDC>(Message.WParam), Message.LParam,
            [](HWND, HDC DC, void* Self) {
                static_cast<TMbFloatingWindowParent*>(Self)->DrawFloatingFrame(DC, 1 | 2 | 4, nullptr);
            },
            this);
        return;
    case WM_PRINTCLIENT:
        PaintHandler(Message);
        return;
    case WM_NCRBUTTONUP:
        // The floating window's context menu, at the pointer.
        if (Hosted && Hosted->HandleAllocated())
            ::SendMessageW(Hosted->GetHandle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(Hosted->GetHandle()),
                           Message.LParam);
        Message.Result = 0;
        return;
    case WM_NCACTIVATE:
        Message.Result = TRUE;
        DrawFloatingFrame(nullptr, 1 | 2 | 4, nullptr);
        return;
    case WM_SETTEXT:
        TCustomForm::WndProc(Message);
        RedrawFloating(2);
        return;
    case WM_NCHITTEST: {
        POINT p{static_cast<short>(LOWORD(Message.LParam)), static_cast<short>(HIWORD(Message.LParam))};
        RECT wr{};
        ::GetWindowRect(GetHandle(), &wr);
        POINT c = p;
        ::ScreenToClient(GetHandle(), &c);
        const RECT client = GetClientRect();
        if (::PtInRect(&client, c)) {
            Message.Result = HTCLIENT;
            return;
        }
        Message.Result = FloatingHitTest(POINT{p.x - wr.left, p.y - wr.top});
        return;
    }
    case WM_NCLBUTTONDOWN: {
        const int code = static_cast<int>(Message.WParam);
        Message.Result = 0;
        if (code >= HTLEFT && code <= HTBOTTOMRIGHT && Hosted && Hosted->GetResizable()) {
            RunResizeLoop(code - HTLEFT, POINT{static_cast<short>(LOWORD(Message.LParam)),
                                               static_cast<short>(HIWORD(Message.LParam))});
            return;
        }
        if (code == kHitCloseButton && Hosted) {
            RECT b = TitleCloseRect();
            RECT wr{};
            ::GetWindowRect(GetHandle(), &wr);
            ::OffsetRect(&b, wr.left, wr.top);
            auto alive = Hosted->AliveToken();
            TMbCustomDockableWindow* hosted = Hosted;
            if (MbTrackButton(GetHandle(), b, TEvent<void(bool)>(this, &TMbFloatingWindowParent::SetClosePressed)) &&
                *alive)
                hosted->Close();
            return;
        }
        if (code == kHitFloatCaption && Hosted) {
            POINT p{static_cast<short>(LOWORD(Message.LParam)), static_cast<short>(HIWORD(Message.LParam))};
            if (Hosted->HandleAllocated()) ::ScreenToClient(Hosted->GetHandle(), &p);
            Hosted->RunDragLoop(p);
            return;
        }
        break;
    }
    case WM_NCLBUTTONDBLCLK:
        if (Message.WParam == static_cast<WPARAM>(kHitFloatCaption) && Hosted) {
            Hosted->ToggleDocking();
            Message.Result = 0;
            return;
        }
        break;
    case WM_MOUSEACTIVATE:
        Message.Result = MA_NOACTIVATE;
        ::SetWindowPos(GetHandle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        if (Hosted && Hosted->GetFloatingMode() == fmOnTopOfParentForm && Hosted->ActivateParent && OwnerForm &&
            ::GetActiveWindow() != GetHandle() && OwnerForm->HandleAllocated())
            ::SetActiveWindow(OwnerForm->GetHandle());
        return;
    case WM_ACTIVATE:
        if (OwnerForm && OwnerForm->HandleAllocated()) {
            const HWND form = OwnerForm->GetHandle();
            ::SendMessageW(form, WM_NCACTIVATE, LOWORD(Message.WParam) != WA_INACTIVE, 0);
            if (LOWORD(Message.WParam) != WA_INACTIVE) {
                if (!::IsWindowVisible(GetHandle())) {
                    if (HWND next = MbFindActivatableWindow(GetHandle())) ::SetActiveWindow(next);
                } else if (reinterpret_cast<HWND>(Message.LParam) != form) {
                    ::SetActiveWindow(form);
                }
            }
        }
        Message.Result = 0;
        return;
    case WM_CLOSE:
        if (OwnerForm && OwnerForm->HandleAllocated()) ::SendMessageW(OwnerForm->GetHandle(), WM_CLOSE, 0, 0);
        Message.Result = 0;
        return;
    case WM_GETMINMAXINFO: {
        TCustomForm::WndProc(Message);
        auto* info = reinterpret_cast<MINMAXINFO*>(Message.LParam);
        info->ptMinTrackSize = POINT{1, 1};
        info->ptMaxTrackSize = POINT{32767, 32767};
        return;
    }
    case WM_MOVE:
        TCustomForm::WndProc(Message);
        if (Hosted) Hosted->FireMoved();
        return;
    case CM_DIALOGKEY:
        if (Message.WParam == VK_ESCAPE && OwnerForm && ::GetKeyState(VK_SHIFT) >= 0 && ::GetKeyState(VK_CONTROL) >= 0 &&
            ::GetKeyState(VK_MENU) >= 0) {
            if (OwnerForm->HandleAllocated()) ::SetFocus(OwnerForm->GetHandle());
            Message.Result = 1;
            return;
        }
        break;
    default: break;
    }
    TCustomForm::WndProc(Message);
}

}  // namespace toolbar
