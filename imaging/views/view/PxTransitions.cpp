#include "imaging/views/view/PxTransitions.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "classlib/Bitmap.h"
#include "classlib/Controls.h"
#include "classlib/ExtCtrls.h"
#include "classlib/SysUtils.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/proc/PxRender.h"
#include "imaging/views/view/ImgView.h"
#include "imaging/views/view/PxView.h"

namespace imaging {

namespace {

using classlib::TBitmap;

struct Pic {
    TBitmap* bmp;
    int w, h;
    explicit Pic(TBitmap* B) : bmp(B), w(B ? B->GetWidth() : 0), h(B ? B->GetHeight() : 0) {}
    uint8_t* Row(int Y) const { return static_cast<uint8_t*>(bmp->GetScanLine(Y)); }
};

int Rnd(double V) { return static_cast<int>(classlib::Round(V)); }

// Copies the Width x Height rectangle at (SrcX, SrcY) of Src to (DstX, DstY)
// of Dst, cut to both pictures.
void CopyBlock(const Pic& Dst, int DstX, int DstY, const Pic& Src, int SrcX, int SrcY, int Width, int Height)
{
    if (SrcX < 0) { Width += SrcX; DstX -= SrcX; SrcX = 0; }
    if (SrcY < 0) { Height += SrcY; DstY -= SrcY; SrcY = 0; }
    if (DstX < 0) { Width += DstX; SrcX -= DstX; DstX = 0; }
    if (DstY < 0) { Height += DstY; SrcY -= DstY; DstY = 0; }
    Width = std::min({Width, Src.w - SrcX, Dst.w - DstX});
    Height = std::min({Height, Src.h - SrcY, Dst.h - DstY});
    if (Width <= 0 || Height <= 0)
        return;
    for (int y = 0; y < Height; ++y)
        std::memmove(Dst.Row(DstY + y) + static_cast<size_t>(DstX) * 3, Src.Row(SrcY + y) + static_cast<size_t>(SrcX) * 3,
                     static_cast<size_t>(Width) * 3);
}

void CopyAll(const Pic& Dst, const Pic& Src) { CopyBlock(Dst, 0, 0, Src, 0, 0, Src.w, Src.h); }

// Every pixel (A · (1024 - S) + B · S) shr 10, per channel. A null picture
// stands for the solid colour Color (b, g, r).
void Blend(const Pic& Frame, const Pic* A, const Pic* B, const uint8_t* Color, int S)
{
    const int w = std::min({Frame.w, A ? A->w : Frame.w, B ? B->w : Frame.w});
    const int h = std::min({Frame.h, A ? A->h : Frame.h, B ? B->h : Frame.h});
    const uint32_t fa = static_cast<uint32_t>(1024 - S), fb = static_cast<uint32_t>(S);
    for (int y = 0; y < h; ++y) {
        uint8_t* dst = Frame.Row(y);
        const uint8_t* ra = A ? A->Row(y) : nullptr;
        const uint8_t* rb = B ? B->Row(y) : nullptr;
        for (int i = 0; i < w * 3; ++i) {
            const uint32_t a = ra ? ra[i] : Color[i % 3];
            const uint32_t b = rb ? rb[i] : Color[i % 3];
            dst[i] = static_cast<uint8_t>((a * fa + b * fb) >> 10);
        }
    }
}

// A line in red with the frame canvas's pen (the last pixel not drawn).
void RedLine(TBitmap* Frame, int X1, int Y1, int X2, int Y2)
{
    classlib::TCanvas* c = Frame->GetCanvas();
    c->GetPen()->SetColor(static_cast<classlib::TColor>(255));
    c->MoveTo(X1, Y1);
    c->LineTo(X2, Y2);
    ::GdiFlush();
}

// The whole of Src stretched (half-tone) into R of the frame.
void StretchInto(TBitmap* Frame, TBitmap* Src, const RECT& R)
{
    const int w = R.right - R.left, h = R.bottom - R.top;
    if (w <= 0 || h <= 0 || Src->GetWidth() <= 0 || Src->GetHeight() <= 0)
        return;
    HDC dst = Frame->GetCanvas()->GetHandle();
    HDC src = Src->GetCanvas()->GetHandle();
    const int oldMode = ::SetStretchBltMode(dst, HALFTONE);
    POINT oldOrg{};
    ::SetBrushOrgEx(dst, 0, 0, &oldOrg);
    ::StretchBlt(dst, R.left, R.top, w, h, src, 0, 0, Src->GetWidth(), Src->GetHeight(), SRCCOPY);
    ::SetBrushOrgEx(dst, oldOrg.x, oldOrg.y, nullptr);
    ::SetStretchBltMode(dst, oldMode);
    ::GdiFlush();
}

// The centred rectangle grown to D/1024 of the frame.
RECT CentreRect(int W, int H, int D)
{
    const int64_t d = D;
    const int x = W / 2 - static_cast<int>((d * (W / 2)) >> 10);
    const int y = H / 2 - static_cast<int>((d * (H / 2)) >> 10);
    const int w = static_cast<int>((d * W) >> 10);
    const int h = static_cast<int>((d * H) >> 10);
    return RECT{x, y, x + w, y + h};
}

// The band of Src from SrcPos, Length long along one axis (columns when
// Horizontal, else rows) and across the whole of the frame, copied to DstPos
// of the frame.
void CopyBand(const Pic& Frame, bool Horizontal, int DstPos, const Pic& Src, int SrcPos, int Length)
{
    if (Horizontal)
        CopyBlock(Frame, DstPos, 0, Src, SrcPos, 0, Length, Frame.h);
    else
        CopyBlock(Frame, 0, DstPos, Src, 0, SrcPos, Frame.w, Length);
}

// One frame being composed: the pictures, the step s (0..1024) and what the
// kinds derive from it.
struct TFrameJob {
    TPxTransitionType Type;
    int s;
    int64_t s64, r64;  // s and 1024 - s, for products that leave int
    Pic st, en, fr;
    TBitmap* Start;
    TBitmap* End;
    TBitmap* Frame;
    int W, H;
    uint8_t bgr[3];  // the background colour, for the fades
    int& DrawnCount;

    // Kinds that only draw the end picture over the frame start from the
    // start picture at step 0.
    void StartAtZero() const
    {
        if (s == 0)
            CopyAll(fr, st);
    }
};

void ComposeFade(const TFrameJob& J)
{
    switch (J.Type) {
    case pxttCrossDissolve:
        Blend(J.fr, &J.st, &J.en, J.bgr, J.s);
        break;
    case pxttFadeOut:
        Blend(J.fr, &J.st, nullptr, J.bgr, J.s);
        break;
    case pxttFadeIn:
        Blend(J.fr, nullptr, &J.en, J.bgr, J.s);
        break;
    default:  // pxttFadeOutIn
        if (J.s < 512)
            Blend(J.fr, &J.st, nullptr, J.bgr, 2 * J.s);
        else
            Blend(J.fr, nullptr, &J.en, J.bgr, 2 * J.s - 1024);
        break;
    }
}

// The end picture uncovered from the far edge (right or bottom) back, with
// a red edge line when asked.
void WipeFromFarEdge(const TFrameJob& J, bool Horizontal, bool RedEdge)
{
    J.StartAtZero();
    const int n = Horizontal ? J.W : J.H;
    const int p = Rnd(n * (1024.0 - J.s) / 1024.0);
    const int len = Rnd(J.s * static_cast<double>(n) / 1024.0);
    CopyBand(J.fr, Horizontal, p, J.en, p, len);
    if (RedEdge) {
        if (Horizontal)
            RedLine(J.Frame, p, 0, p, J.H);
        else
            RedLine(J.Frame, 0, p, J.W, p);
    }
}

void ComposeWipe(const TFrameJob& J)
{
    switch (J.Type) {
    case pxttLeftRight1:
    case pxttLeftRight2: {
        J.StartAtZero();
        const int x = static_cast<int>((J.s64 * J.W) >> 10);
        CopyBlock(J.fr, 0, 0, J.en, 0, 0, x, J.H);
        if (J.Type == pxttLeftRight2)
            RedLine(J.Frame, x, 0, x, J.H);
        break;
    }
    case pxttRightLeft1:
    case pxttRightLeft2:
        WipeFromFarEdge(J, true, J.Type == pxttRightLeft2);
        break;
    case pxttUpDown1:
    case pxttUpDown2: {
        J.StartAtZero();
        const int y = Rnd(J.s * static_cast<double>(J.H) / 1024.0);
        CopyBlock(J.fr, 0, 0, J.en, 0, 0, J.W, y);
        if (J.Type == pxttUpDown2)
            RedLine(J.Frame, 0, y, J.W, y);
        break;
    }
    default:  // pxttDownUp1, pxttDownUp2
        WipeFromFarEdge(J, false, J.Type == pxttDownUp2);
        break;
    }
}

// The whole end picture slides in from a corner.
void ComposeCornerSlide(const TFrameJob& J)
{
    J.StartAtZero();
    const int dx = static_cast<int>((J.r64 * J.W) >> 10), dy = static_cast<int>((J.r64 * J.H) >> 10);
    const int x = (J.Type == pxttFromUpLeft || J.Type == pxttFromBottomLeft) ? -dx : dx;
    const int y = (J.Type == pxttFromUpLeft || J.Type == pxttFromUpRight) ? -dy : dy;
    CopyBlock(J.fr, x, y, J.en, 0, 0, J.en.w, J.en.h);
}

// The end picture pushes the start picture forward (right or down); its
// band comes from its far end when FromFarEnd, else from its start.
void PushForward(const TFrameJob& J, bool Horizontal, bool FromFarEnd)
{
    const int n = Horizontal ? J.W : J.H;
    const int c = static_cast<int>((J.s64 * n) >> 10);
    CopyBand(J.fr, Horizontal, 0, J.en, FromFarEnd ? n - c : 0, c);
    CopyBand(J.fr, Horizontal, c, J.st, 0, n - c);
}

void ComposePush(const TFrameJob& J)
{
    switch (J.Type) {
    case pxttMoveLeftRight1:
    case pxttMoveLeftRight2:
        PushForward(J, true, J.Type == pxttMoveLeftRight1);
        break;
    case pxttMoveUpDown1:
    case pxttMoveUpDown2:
        PushForward(J, false, J.Type == pxttMoveUpDown1);
        break;
    case pxttMoveRightLeft1:
    case pxttMoveRightLeft2: {
        const int c = static_cast<int>((J.r64 * J.W) >> 10);
        CopyBand(J.fr, true, 0, J.st, J.Type == pxttMoveRightLeft1 ? J.W - c : 0, c);
        CopyBand(J.fr, true, c, J.en, 0, J.W - c);
        break;
    }
    default: {  // pxttMoveDownUp1, pxttMoveDownUp2
        const int c = static_cast<int>((J.r64 * J.H) >> 10);
        CopyBand(J.fr, false, 0, J.st, J.H - c, c);
        CopyBand(J.fr, false, c, J.en, J.Type == pxttMoveDownUp1 ? 0 : c, J.H - c);
        break;
    }
    }
}

// Random points or 8 x 8 boxes of the end picture, DrawnCount of them
// already drawn by the earlier steps.
void ComposeRandom(const TFrameJob& J)
{
    if (J.s == 0) {
        CopyAll(J.fr, J.st);
        return;
    }
    if (J.Type == pxttRandomPoints) {
        const int target = Rnd(J.s * static_cast<double>(J.W) * (J.s / 180.0) / 1024.0);
        const int count = target - J.DrawnCount;
        for (int y = 0; y < J.H; ++y)
            for (int i = 0; i < count; ++i) {
                const int x = classlib::Random(J.W);
                CopyBlock(J.fr, x, y, J.en, x, y, 1, 1);
            }
        J.DrawnCount = target;
        return;
    }
    const double cells = static_cast<double>((static_cast<int64_t>(J.W) * J.H) / 64);
    const int target = Rnd(J.s * cells * (J.s / 180.0) / 1024.0);
    for (int i = J.DrawnCount; i < target; ++i) {
        const int x = classlib::Random(J.W) & ~7;
        const int y = classlib::Random(J.H) & ~7;
        CopyBlock(J.fr, x, y, J.en, x, y, 8, 8);
    }
    J.DrawnCount = target;
}

void ComposeCentre(const TFrameJob& J)
{
    switch (J.Type) {
    case pxttCenter1: {
        J.StartAtZero();
        const RECT r = CentreRect(J.W, J.H, J.s);
        CopyBlock(J.fr, r.left, r.top, J.en, r.left, r.top, r.right - r.left, r.bottom - r.top);
        break;
    }
    case pxttCenter2: {
        CopyAll(J.fr, J.en);
        const RECT r = CentreRect(J.W, J.H, 1024 - J.s);
        CopyBlock(J.fr, r.left, r.top, J.st, r.left, r.top, r.right - r.left, r.bottom - r.top);
        break;
    }
    case pxttCenterZoom1:
        J.StartAtZero();
        StretchInto(J.Frame, J.End, CentreRect(J.W, J.H, J.s));
        break;
    default:  // pxttCenterZoom2
        CopyAll(J.fr, J.en);
        StretchInto(J.Frame, J.Start, CentreRect(J.W, J.H, 1024 - J.s));
        break;
    }
}

}  // namespace

void PxTransitionComposeFrame(TPxTransitionType Type, int Step, TBitmap* Start, TBitmap* End, TBitmap* Frame,
                              classlib::TColor Background, int& DrawnCount)
{
    if (!Start || !End || !Frame || Type == pxttNone || Type == pxttPanZoom)
        return;
    if (Start->GetPixelFormat() != classlib::pf24bit || End->GetPixelFormat() != classlib::pf24bit ||
        Frame->GetPixelFormat() != classlib::pf24bit)
        return;
    const int s = std::clamp(Step, 0, 1024);
    ::GdiFlush();
    const Pic st(Start), en(End), fr(Frame);
    const int W = fr.w, H = fr.h;
    if (W <= 0 || H <= 0)
        return;
    const uint32_t bg = static_cast<uint32_t>(classlib::ColorToRGB(Background));
    const TFrameJob job{Type, s, s, 1024 - s, st, en, fr, Start, End, Frame, W, H,
                        {static_cast<uint8_t>(bg >> 16), static_cast<uint8_t>(bg >> 8), static_cast<uint8_t>(bg)},
                        DrawnCount};

    switch (Type) {
    case pxttCrossDissolve:
    case pxttFadeOut:
    case pxttFadeIn:
    case pxttFadeOutIn:
        ComposeFade(job);
        break;
    case pxttLeftRight1:
    case pxttLeftRight2:
    case pxttRightLeft1:
    case pxttRightLeft2:
    case pxttUpDown1:
    case pxttUpDown2:
    case pxttDownUp1:
    case pxttDownUp2:
        ComposeWipe(job);
        break;
    case pxttFromUpLeft:
    case pxttFromUpRight:
    case pxttFromBottomLeft:
    case pxttFromBottomRight:
        ComposeCornerSlide(job);
        break;
    case pxttMoveLeftRight1:
    case pxttMoveLeftRight2:
    case pxttMoveRightLeft1:
    case pxttMoveRightLeft2:
    case pxttMoveUpDown1:
    case pxttMoveUpDown2:
    case pxttMoveDownUp1:
    case pxttMoveDownUp2:
        ComposePush(job);
        break;
    case pxttRandomPoints:
    case pxttRandomBoxes:
        ComposeRandom(job);
        break;
    case pxttCenter1:
    case pxttCenter2:
    case pxttCenterZoom1:
    case pxttCenterZoom2:
        ComposeCentre(job);
        break;
    case pxttNone:
    case pxttPanZoom:
        break;
    }
}

int PxTransitionNextStep(uint32_t Elapsed, int Duration, uint8_t Timing)
{
    if (Duration < 1)
        Duration = 1;
    const double f = static_cast<double>(Elapsed) / Duration;
    double v = 0;
    switch (Timing) {
    case 1:
        v = std::trunc(std::exp(f * 5 - 2.718) / 10 * 1024);
        break;
    case 2:
        v = Elapsed == 0 ? 0 : std::trunc((std::log(f * 10) + 2.718) / 5 * 1024);
        break;
    default:
        v = std::trunc(f * 1024);
        break;
    }
    // The logarithmic curve is negative for the first few milliseconds of a
    // long run; a step below 0 would address pixels left of the frame.
    return static_cast<int>(std::clamp(v, 0.0, 1024.0));
}

// ---- the object ----

namespace {
std::unique_ptr<TBitmap> NewPicture()
{
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(classlib::pf24bit);
    b->SetSize(1, 1);
    return b;
}
}  // namespace

TPxTransitionEffects::TPxTransitionEffects(TPxView* Owner)
    : start_(NewPicture()), end_(NewPicture()), frame_(NewPicture()), view_(Owner)
{
    // Not handed to the view as owner: this object frees it, and the view
    // frees this object, so the two never both delete it.
    timer_ = std::make_unique<classlib::TTimer>(nullptr);
    timer_->SetEnabled(false);
    timer_->SetInterval(1);
    timer_->SetOnTimer(classlib::TNotifyEvent(this, &TPxTransitionEffects::TimerStep));
}

TPxTransitionEffects::~TPxTransitionEffects()
{
    timer_->SetEnabled(false);
}

void TPxTransitionEffects::BeginRun(TPxTransitionType Type, int Duration, bool UpdateOnStop, uint8_t ATiming)
{
    type_ = Type;
    duration_ = std::max(Duration, 1);
    updateOnStop_ = UpdateOnStop;
    Timing = ATiming;
    step_ = 0;
    drawnCount_ = 0;
    view_->BeginPaintLock();
    running_ = true;
    startTick_ = ::GetTickCount();
    timer_->SetEnabled(true);
}

void TPxTransitionEffects::Start(TPxTransitionType Type, classlib::TGraphic* StartPicture,
                                 classlib::TGraphic* EndPicture, int Duration, bool UpdateOnStop, uint8_t ATiming)
{
    Stop();
    if (Type == pxttNone || Type == pxttPanZoom || !view_)
        return;
    const int w = view_->GetClientWidth(), h = view_->GetClientHeight();
    if (w <= 0 || h <= 0)
        return;
    width_ = w;
    height_ = h;
    const RECT all{0, 0, w, h};
    const classlib::TColor bg = view_->GetBackground();
    for (auto* pair : {&start_, &end_, &frame_}) {
        TBitmap* b = pair->get();
        b->SetPixelFormat(classlib::pf24bit);
        b->SetSize(w, h);
        b->GetCanvas()->GetBrush()->SetColor(bg);
        b->GetCanvas()->FillRect(all);
    }
    if (StartPicture)
        start_->GetCanvas()->Draw(0, 0, StartPicture);
    if (EndPicture)
        end_->GetCanvas()->Draw(0, 0, EndPicture);
    ::GdiFlush();
    BeginRun(Type, Duration, UpdateOnStop, ATiming);
}

void TPxTransitionEffects::StartPanZoom(TPxBitmap* Source, const RECT& StartRect, const RECT& EndRect, int Duration,
                                        uint8_t ATiming)
{
    Stop();
    if (!Source || !view_ || Source->GetWidth() <= 0 || Source->GetHeight() <= 0)
        return;
    const int w = view_->GetClientWidth(), h = view_->GetClientHeight();
    if (w <= 0 || h <= 0)
        return;
    width_ = w;
    height_ = h;
    frame_->SetPixelFormat(classlib::pf24bit);
    frame_->SetSize(w, h);
    panZoomSource_ = Source;
    panStart_ = StartRect;
    panEnd_ = EndRect;
    BeginRun(pxttPanZoom, Duration, false, ATiming);
}

void TPxTransitionEffects::ComposePanZoom(int Step)
{
    if (!panZoomSource_)
        return;
    const int s = std::clamp(Step, 0, 1024);
    auto lerp = [s](LONG a, LONG b) {
        return static_cast<int>(std::trunc(a - s * static_cast<double>(a - b) / 1024.0));
    };
    int left = lerp(panStart_.left, panEnd_.left), top = lerp(panStart_.top, panEnd_.top);
    const int right = lerp(panStart_.right, panEnd_.right), bottom = lerp(panStart_.bottom, panEnd_.bottom);
    int width = right - left, height = bottom - top;
    const int srcW = panZoomSource_->GetWidth(), srcH = panZoomSource_->GetHeight();
    bool clipped = false;
    if (left < 0) { left = 0; width = right; clipped = true; }
    if (width > srcW) { width = srcW; clipped = true; }
    if (top < 0) { top = 0; height = bottom; clipped = true; }
    if (height > srcH) { height = srcH; clipped = true; }
    if (width <= 0 || height <= 0)
        return;
    const int W = frame_->GetWidth(), H = frame_->GetHeight();
    int dx = 0, dy = 0, dw = W, dh = H;
    if (clipped) {
        if (static_cast<double>(width) / W > static_cast<double>(height) / H) {
            dw = W;
            dh = Rnd(static_cast<double>(height) * W / width);
        } else {
            dh = H;
            dw = Rnd(static_cast<double>(width) * H / height);
        }
        dx = static_cast<int>(std::trunc(W / 2.0 - dw / 2.0));
        dy = static_cast<int>(std::trunc(H / 2.0 - dh / 2.0));
        if (auto* iv = dynamic_cast<TImgView*>(view_)) {
            iv->PaintBackgroundTo(frame_->GetCanvas());
        } else {
            frame_->GetCanvas()->GetBrush()->SetColor(view_->GetBackground());
            frame_->GetCanvas()->FillRect(RECT{0, 0, W, H});
        }
        ::GdiFlush();
    }
    RenderToVclBitmapSimple(*panZoomSource_, frame_.get(), dx, dy, dw, dh, left, top, width, height, 255, rfNone, 0);
}

void TPxTransitionEffects::ShowOnView(TBitmap* Bitmap)
{
    if (!view_->HandleAllocated())
        return;
    classlib::TCanvas* canvas = view_->GetViewCanvas();
    ::GdiFlush();
    ::BitBlt(canvas->GetHandle(), 0, 0, width_, height_, Bitmap->GetCanvas()->GetHandle(), 0, 0, SRCCOPY);
    if (auto* cc = dynamic_cast<classlib::TControlCanvas*>(canvas))
        cc->FreeHandle();
}

void TPxTransitionEffects::TimerStep(classlib::TObject*)
{
    if (!running_)
        return;
    if (OnTransitionStep)
        OnTransitionStep(view_, step_);
    const int s = step_;
    if (type_ == pxttPanZoom)
        ComposePanZoom(s);
    else
        PxTransitionComposeFrame(type_, s, start_.get(), end_.get(), frame_.get(), view_->GetBackground(),
                                 drawnCount_);
    ShowOnView(frame_.get());
    if (OnTransitionPaint)
        OnTransitionPaint(view_, frame_.get(), this, s);
    // Handlers may have stopped the run.
    if (!running_)
        return;
    const uint32_t elapsed = ::GetTickCount() - startTick_;
    if (elapsed >= static_cast<uint32_t>(duration_)) {
        if (updateOnStop_ && type_ != pxttPanZoom) {
            ShowOnView(end_.get());
            if (OnTransitionPaint)
                OnTransitionPaint(view_, end_.get(), this, 1024);
        }
        Stop();
        return;
    }
    step_ = PxTransitionNextStep(elapsed, duration_, Timing);
}

void TPxTransitionEffects::Stop()
{
    if (!running_ || type_ == pxttNone)
        return;
    timer_->SetEnabled(false);
    running_ = false;
    frame_->SetSize(1, 1);
    start_->SetSize(1, 1);
    end_->SetSize(1, 1);
    panZoomSource_ = nullptr;
    view_->EndPaintLockNoUpdate();
    if (updateOnStop_)
        view_->Update();
    if (OnTransitionStop)
        OnTransitionStop(view_);
}

}  // namespace imaging
