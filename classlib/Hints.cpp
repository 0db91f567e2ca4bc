#include "classlib/Hints.h"

#include <algorithm>

namespace classlib {

namespace {

// Space between the frame and the text, and the flags the text is drawn
// and measured with (the same in both, so the measured box fits).
constexpr int kTextMarginX = 2;
constexpr int kTextMarginY = 1;
constexpr UINT kTextFlags = DT_LEFT | DT_WORDBREAK | DT_NOPREFIX;

}  // namespace

std::wstring GetShortHint(const std::wstring& Hint)
{
    const std::size_t bar = Hint.find(L'|');
    return bar == std::wstring::npos ? Hint : Hint.substr(0, bar);
}

std::wstring GetLongHint(const std::wstring& Hint)
{
    const std::size_t bar = Hint.find(L'|');
    return bar == std::wstring::npos ? Hint : Hint.substr(bar + 1);
}

std::wstring GetHint(const TControl* Control)
{
    for (; Control; Control = Control->GetParent())
        if (!Control->Hint.empty()) return Control->Hint;
    return {};
}

// ============================================================= THintWindow

THintWindow::THintWindow(TComponent* AOwner) : TCustomControl(AOwner)
{
    SetVisible(false);
    SetColor(clInfoBk);
    GetFont()->SetColor(clInfoText);
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
        if (HFONT h = ::CreateFontIndirectW(&metrics.lfStatusFont)) {
            GetFont()->SetHandle(h);
            GetFont()->SetColor(clInfoText);
        }
}

void THintWindow::CreateParams(TCreateParams& Params)
{
    TCustomControl::CreateParams(Params);
    Params.Style = WS_POPUP | WS_BORDER;
    Params.ExStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE;
    Params.WndParent = nullptr;
    Params.WindowClassStyle |= CS_SAVEBITS;
    Params.WinClassName = L"THintWindow";
}

void THintWindow::Dispatch(TMessage& Message)
{
    switch (Message.Msg) {
    case WM_NCHITTEST:
        // The pointer belongs to the windows under the hint.
        Message.Result = HTTRANSPARENT;
        return;
    case WM_MOUSEACTIVATE:
        Message.Result = MA_NOACTIVATE;
        return;
    default: TCustomControl::Dispatch(Message);
    }
}

RECT THintWindow::CalcHintRect(int MaxWidth, const std::wstring& AHint, void* AData)
{
    (void)AData;
    const int border = 2 * ::GetSystemMetrics(SM_CXBORDER);
    RECT text{0, 0, std::max(1, MaxWidth - border - 2 * kTextMarginX), 0};
    TScreenDC dc;
    TSelectObjectScope font(dc.Get(), GetFont()->GetHandle());
    ::DrawTextW(dc.Get(), AHint.c_str(), static_cast<int>(AHint.size()), &text, kTextFlags | DT_CALCRECT);
    return RECT{0, 0, text.right + 2 * kTextMarginX + border,
                text.bottom + 2 * kTextMarginY + 2 * ::GetSystemMetrics(SM_CYBORDER)};
}

void THintWindow::ActivateHint(RECT Rect, const std::wstring& AHint)
{
    caption_ = AHint;
    // Kept inside the work area of the monitor the hint is on.
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (::GetMonitorInfoW(::MonitorFromRect(&Rect, MONITOR_DEFAULTTONEAREST), &info)) {
        const RECT& work = info.rcWork;
        const int w = Rect.right - Rect.left, h = Rect.bottom - Rect.top;
        if (Rect.right > work.right) ::OffsetRect(&Rect, work.right - Rect.right, 0);
        if (Rect.left < work.left) ::OffsetRect(&Rect, work.left - Rect.left, 0);
        if (Rect.bottom > work.bottom) ::OffsetRect(&Rect, 0, work.bottom - Rect.bottom);
        if (Rect.top < work.top) ::OffsetRect(&Rect, 0, work.top - Rect.top);
        Rect.right = Rect.left + w;
        Rect.bottom = Rect.top + h;
    }
    const HWND wnd = GetHandle();
    ::SetWindowTextW(wnd, caption_.c_str());
    UpdateBoundsFields(Rect.left, Rect.top, Rect.right - Rect.left, Rect.bottom - Rect.top);
    ::SetWindowPos(wnd, HWND_TOPMOST, Rect.left, Rect.top, Rect.right - Rect.left, Rect.bottom - Rect.top,
                   SWP_SHOWWINDOW | SWP_NOACTIVATE);
    ::InvalidateRect(wnd, nullptr, TRUE);
    ::UpdateWindow(wnd);
}

void THintWindow::ActivateHintData(RECT Rect, const std::wstring& AHint, void* AData)
{
    data_ = AData;
    ActivateHint(Rect, AHint);
}

void THintWindow::ReleaseHint()
{
    if (HandleAllocated()) ::ShowWindow(GetHandle(), SW_HIDE);
}

bool THintWindow::IsHintShown() const
{
    return HandleAllocated() && ::IsWindowVisible(const_cast<THintWindow*>(this)->GetHandle());
}

void THintWindow::Paint()
{
    TCanvas* canvas = GetCanvas();
    RECT r = GetClientRect();
    canvas->GetBrush()->SetColor(GetColor());
    canvas->GetBrush()->SetStyle(bsSolid);
    canvas->FillRect(r);
    const HDC dc = canvas->GetHandle();
    TSelectObjectScope font(dc, GetFont()->GetHandle());
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, static_cast<COLORREF>(ColorToRGB(GetFont()->GetColor())));
    ::InflateRect(&r, -kTextMarginX, -kTextMarginY);
    ::DrawTextW(dc, caption_.c_str(), static_cast<int>(caption_.size()), &r, kTextFlags);
}

}  // namespace classlib
