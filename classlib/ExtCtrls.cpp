#include "classlib/ExtCtrls.h"

#include "classlib/Icon.h"
#include "classlib/Metafile.h"
#include "classlib/SysUtils.h"

namespace classlib {

TImage::TImage(TComponent* Owner) : TGraphicControl(Owner), picture_(std::make_unique<TPicture>())
{
    picture_->OnChange = TNotifyEvent(this, &TImage::PictureChanged);
    UpdateBoundsFields(0, 0, 105, 105);
}

TImage::~TImage() { picture_->OnChange.Clear(); }

TCanvas* TImage::GetCanvas()
{
    if (!picture_->GetGraphic()) {
        TBitmap fresh;
        fresh.SetSize(GetWidth(), GetHeight());
        picture_->SetGraphic(&fresh);
    }
    auto* bitmap = dynamic_cast<TBitmap*>(picture_->GetGraphic());
    if (!bitmap) throw EInvalidOperation(L"Can only modify an image if it contains a bitmap");
    return bitmap->GetCanvas();
}

void TImage::SetStretch(bool Value)
{
    if (Value == stretch_) return;
    stretch_ = Value;
    PictureChanged(this);
}

void TImage::SetCenter(bool Value)
{
    if (Value == center_) return;
    center_ = Value;
    PictureChanged(this);
}

void TImage::SetProportional(bool Value)
{
    if (Value == proportional_) return;
    proportional_ = Value;
    PictureChanged(this);
}

void TImage::SetTransparent(bool Value)
{
    if (Value == transparent_) return;
    transparent_ = Value;
    PictureChanged(this);
}

void TImage::SetAutoSize(bool Value)
{
    if (Value == autoSize_) return;
    autoSize_ = Value;
    if (Value) PictureChanged(this);
}

RECT TImage::DestRect() const
{
    int w = picture_->GetWidth();
    int h = picture_->GetHeight();
    int cw = GetClientWidth();
    int ch = GetClientHeight();
    if (stretch_ || (proportional_ && (w > cw || h > ch))) {
        if (proportional_ && w > 0 && h > 0) {
            double aspect = static_cast<double>(w) / h;
            if (w > h) {
                w = cw;
                h = static_cast<int>(cw / aspect);
                if (h > ch) {
                    h = ch;
                    w = static_cast<int>(ch * aspect);
                }
            } else {
                h = ch;
                w = static_cast<int>(ch * aspect);
                if (w > cw) {
                    w = cw;
                    h = static_cast<int>(cw / aspect);
                }
            }
        } else {
            w = cw;
            h = ch;
        }
    }
    RECT r{0, 0, w, h};
    if (center_) ::OffsetRect(&r, (cw - w) / 2, (ch - h) / 2);
    return r;
}

void TImage::Paint()
{
    TGraphic* graphic = picture_->GetGraphic();
    if (!graphic || graphic->GetEmpty()) return;
    // Drawing may touch the graphic (palette, DIB/DDB form) and fire its
    // change event; that must not invalidate the control again.
    bool saved = drawing_;
    drawing_ = true;
    try {
        TGraphicControl::GetCanvas()->StretchDraw(DestRect(), graphic);
    } catch (...) {
        drawing_ = saved;
        throw;
    }
    drawing_ = saved;
}

void TImage::PictureChanged(TObject*)
{
    if (autoSize_ && picture_->GetWidth() > 0 && picture_->GetHeight() > 0)
        SetBounds(GetLeft(), GetTop(), picture_->GetWidth(), picture_->GetHeight());
    if (TGraphic* g = picture_->GetGraphic()) {
        if (!dynamic_cast<TMetafile*>(g) && !dynamic_cast<TIcon*>(g)) g->SetTransparent(transparent_);
        RECT d = DestRect();
        if (!g->GetTransparent() && d.left <= 0 && d.top <= 0 && d.right >= GetWidth() && d.bottom >= GetHeight())
            ControlStyle |= csOpaque;
        else
            ControlStyle &= ~csOpaque;
    } else {
        ControlStyle &= ~csOpaque;
    }
    if (!drawing_) Invalidate();
}

// ================================================================== TPanel

TPanel::TPanel(TComponent* AOwner) : TCustomControl(AOwner)
{
    ControlStyle |= csOpaque;
    SetBounds(0, 0, 185, 41);
}

void TPanel::SetCaption(const std::wstring& Value)
{
    if (Value == caption_) return;
    caption_ = Value;
    Invalidate();
}

void TPanel::SetBevelInner(TBevelCut Value)
{
    if (Value == bevelInner_) return;
    bevelInner_ = Value;
    Invalidate();
}

void TPanel::SetBevelOuter(TBevelCut Value)
{
    if (Value == bevelOuter_) return;
    bevelOuter_ = Value;
    Invalidate();
}

void TPanel::SetBevelWidth(int Value)
{
    if (Value < 1) Value = 1;
    if (Value == bevelWidth_) return;
    bevelWidth_ = Value;
    Invalidate();
}

void TPanel::SetBorderStyle(TBorderStyle Value)
{
    if (Value == borderStyle_) return;
    borderStyle_ = Value;
    Invalidate();
}

namespace {

// Draws Width one-pixel frames inside R, top-left in TopLeft and
// bottom-right in BottomRight, and shrinks R by them.
void Frame3D(HDC DC, RECT& R, TColor TopLeft, TColor BottomRight, int Width)
{
    TOwnedBrush tl(::CreateSolidBrush(static_cast<COLORREF>(ColorToRGB(TopLeft))));
    TOwnedBrush br(::CreateSolidBrush(static_cast<COLORREF>(ColorToRGB(BottomRight))));
    for (int i = 0; i < Width && R.right - R.left > 0 && R.bottom - R.top > 0; ++i) {
        RECT top{R.left, R.top, R.right, R.top + 1};
        RECT left{R.left, R.top, R.left + 1, R.bottom};
        RECT bottom{R.left, R.bottom - 1, R.right, R.bottom};
        RECT right{R.right - 1, R.top, R.right, R.bottom};
        ::FillRect(DC, &bottom, br.Get());
        ::FillRect(DC, &right, br.Get());
        ::FillRect(DC, &top, tl.Get());
        ::FillRect(DC, &left, tl.Get());
        ::InflateRect(&R, -1, -1);
    }
}

void DrawBevel(HDC DC, RECT& R, TBevelCut Cut, int Width)
{
    if (Cut == bvNone) return;
    TColor tl = Cut == bvRaised ? clBtnHighlight : clBtnShadow;
    TColor br = Cut == bvRaised ? clBtnShadow : clBtnHighlight;
    Frame3D(DC, R, tl, br, Width);
}

}  // namespace

void TPanel::Paint()
{
    TCanvas* canvas = GetCanvas();
    HDC dc = canvas->GetHandle();
    RECT r = GetClientRect();
    if (borderStyle_ != bsNone) Frame3D(dc, r, clWindowFrame, clWindowFrame, 1);
    DrawBevel(dc, r, bevelOuter_, bevelWidth_);
    DrawBevel(dc, r, bevelInner_, bevelWidth_);
    canvas->GetBrush()->SetColor(GetColor());
    canvas->GetBrush()->SetStyle(bsSolid);
    canvas->FillRect(r);
    if (caption_.empty()) return;
    dc = canvas->GetHandle();
    TSelectObjectScope font(dc, GetFont()->GetHandle());
    int oldMode = ::SetBkMode(dc, TRANSPARENT);
    COLORREF oldColor = ::SetTextColor(dc, static_cast<COLORREF>(ColorToRGB(GetFont()->GetColor())));
    ::DrawTextW(dc, caption_.c_str(), static_cast<int>(caption_.size()), &r,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    ::SetTextColor(dc, oldColor);
    ::SetBkMode(dc, oldMode);
}

// ================================================================== TTimer

namespace {

const wchar_t kTimerWindowClass[] = L"VelmoTimerWindow";
constexpr UINT_PTR kTimerId = 1;

}  // namespace

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner)
{
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    if (!::GetClassInfoExW(instance, kTimerWindowClass, &wc)) {
        wc = WNDCLASSEXW{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &TTimer::WindowProc;
        wc.hInstance = instance;
        wc.lpszClassName = kTimerWindowClass;
        if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) RaiseLastOSError();
    }
    // A message-only window of this thread receives the WM_TIMER messages.
    window_ = ::CreateWindowExW(0, kTimerWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (!window_) RaiseLastOSError();
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TTimer::~TTimer()
{
    Destroying();
    if (window_) {
        ::KillTimer(window_, kTimerId);
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        ::DestroyWindow(window_);
    }
}

void TTimer::UpdateTimer()
{
    ::KillTimer(window_, kTimerId);
    if (enabled_ && interval_ > 0 && onTimer_)
        if (!::SetTimer(window_, kTimerId, interval_, nullptr)) RaiseLastOSError();
}

void TTimer::SetEnabled(bool Value)
{
    if (Value == enabled_) return;
    enabled_ = Value;
    UpdateTimer();
}

void TTimer::SetInterval(unsigned Value)
{
    if (Value == interval_) return;
    interval_ = Value;
    UpdateTimer();
}

void TTimer::SetOnTimer(const TNotifyEvent& Value)
{
    onTimer_ = Value;
    UpdateTimer();
}

LRESULT CALLBACK TTimer::WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    if (Msg == WM_TIMER && WParam == kTimerId) {
        if (auto* timer = reinterpret_cast<TTimer*>(::GetWindowLongPtrW(Wnd, GWLP_USERDATA))) {
            // Exceptions must not cross the system's frames: they go to the
            // window exception hook (the application's handler).
            try {
                timer->Timer();
            } catch (...) {
                try {
                    if (TWindowExceptionHook hook = GetWindowExceptionHook()) {
                        hook(timer);
                    } else {
                        throw;
                    }
                } catch (const std::exception& e) {
                    ::OutputDebugStringA(e.what());
                } catch (...) {
                }
            }
        }
        return 0;
    }
    return ::DefWindowProcW(Wnd, Msg, WParam, LParam);
}

// ================================================================== TBevel

TBevel::TBevel(TComponent* AOwner) : TGraphicControl(AOwner) { SetBounds(0, 0, 50, 50); }

void TBevel::SetShape(TBevelShape Value)
{
    shape_ = Value;
    Invalidate();
}

void TBevel::SetStyle(TBevelStyle Value)
{
    style_ = Value;
    Invalidate();
}

void TBevel::Paint()
{
    if (shape_ == bsSpacer) return;
    HDC dc = GetCanvas()->GetHandle();
    const TColor first = style_ == bsLowered ? clBtnShadow : clBtnHighlight;
    const TColor second = style_ == bsLowered ? clBtnHighlight : clBtnShadow;
    const int w = GetWidth(), h = GetHeight();
    TCanvas* canvas = GetCanvas();
    auto line = [canvas](TColor Color, const RECT& R) {
        canvas->GetBrush()->SetStyle(bsSolid);
        canvas->GetBrush()->SetColor(Color);
        canvas->FillRect(R);
    };
    switch (shape_) {
    case bsBox: {
        RECT r{0, 0, w, h};
        Frame3D(dc, r, first, second, 1);
        break;
    }
    case bsFrame: {
        RECT outer{0, 0, w - 1, h - 1};
        Frame3D(dc, outer, first, first, 1);
        RECT inner{1, 1, w, h};
        Frame3D(dc, inner, second, second, 1);
        break;
    }
    case bsTopLine:
        line(first, RECT{0, 0, w, 1});
        line(second, RECT{0, 1, w, 2});
        break;
    case bsBottomLine:
        line(first, RECT{0, h - 2, w, h - 1});
        line(second, RECT{0, h - 1, w, h});
        break;
    case bsLeftLine:
        line(first, RECT{0, 0, 1, h});
        line(second, RECT{1, 0, 2, h});
        break;
    case bsRightLine:
        line(first, RECT{w - 2, 0, w - 1, h});
        line(second, RECT{w - 1, 0, w, h});
        break;
    case bsSpacer: break;
    }
}

}  // namespace classlib
