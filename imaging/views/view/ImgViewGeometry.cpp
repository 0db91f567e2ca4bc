// Geometry of TImgView: zoom, view position, displayed extent and centring,
// the coordinate lookup tables, scroll bars, the mouse wheel and Update.
#include <windows.h>
#include <windowsx.h>
#include <commctrl.h>

#include <algorithm>
#include <cmath>

#include "classlib/ExtCtrls.h"
#include "classlib/ScopeGuard.h"
#include "classlib/SysUtils.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/views/view/ImgView.h"

namespace imaging {

namespace {

int Rnd(double Value) { return static_cast<int>(classlib::Round(Value)); }
int Trc(double Value) { return static_cast<int>(classlib::Trunc(Value)); }

bool HasH(classlib::TScrollStyle Style) { return Style == classlib::ssHorizontal || Style == classlib::ssBoth; }
bool HasV(classlib::TScrollStyle Style) { return Style == classlib::ssVertical || Style == classlib::ssBoth; }

// The entry Index of Table, or -1 when outside.
int32_t At(const std::vector<int32_t>& Table, int64_t Index)
{
    if (Index < 0 || Index >= static_cast<int64_t>(Table.size()))
        return -1;
    return Table[static_cast<size_t>(Index)];
}

// Screen-to-bitmap and bitmap-to-screen tables of one axis.
void FillAxis(std::vector<int32_t>& S2B, std::vector<int32_t>& B2S, double Zoom, int Zoomed, int VisScr, int Layers)
{
    const int j = Zoomed + VisScr;
    const int k = Trc((j + 1) * 100.0 / Zoom);
    S2B.assign(static_cast<size_t>(j) + 2, 0);
    B2S.assign(static_cast<size_t>(k) + 2, 0);
    const int last = std::max(Layers - 1, 0);
    if (Zoom > 100) {
        for (int i = j; i >= 0; --i) {
            const int b = Trc(i * 100.0 / Zoom);
            B2S[static_cast<size_t>(b)] = i;
            S2B[static_cast<size_t>(i)] = std::min(b, last);
        }
    } else {
        for (int i = k; i >= 0; --i) {
            const int s = Trc(i * Zoom / 100.0);
            B2S[static_cast<size_t>(i)] = s;
            S2B[static_cast<size_t>(s)] = std::min(i, last);
        }
    }
}

// Entry P of the window (Off, Len) of an axis table, or -1 when P lies
// outside the window or the table.
int32_t WindowAt(const std::vector<int32_t>& Table, size_t Off, int Len, int P)
{
    if (P < 0 || P >= Len)
        return -1;
    return At(Table, static_cast<int64_t>(Off) + P);
}

// Screen position Z (at least 0) moved to the first screen position of its
// bitmap pixel, when the axis has tables and Z lies on the zoomed image.
int SnapToPixelStart(int Z, int Zoomed, const std::vector<int32_t>& S2B, const std::vector<int32_t>& B2S, int S2BLen)
{
    if (Z < 0)
        Z = 0;
    if (Z < Zoomed && !S2B.empty() && S2BLen > 0 && Z < static_cast<int>(S2B.size())) {
        const int32_t v = At(B2S, S2B[static_cast<size_t>(Z)]);
        if (v >= 0)
            return v;
    }
    return Z;
}

// Bitmap position B on screen without the tables, from the snapped view
// position Snapped.
int ZoomedFromSnap(int B, int Snapped, double Zoom, int Offset)
{
    const int c = Rnd(-Snapped * 100.0 / Zoom) + B;
    return Rnd(c * Zoom / 100.0 + Offset);
}

// The view position along one axis that keeps the bitmap point at the
// middle of the view (of ViewSize) there when the zoom goes from OldZoom to
// NewZoom.
int ZoomedViewPosition(int View, int ViewSize, int Offset, double OldZoom, double NewZoom)
{
    const int c = ViewSize / 2 + View - Offset;
    const int b = Rnd(c * 100.0 / OldZoom);
    return Trc(b * (NewZoom / 100.0) - ViewSize / 2);
}

// The margins a cropped or shadowed background keeps around the image;
// false (MX, MY untouched) for the other styles.
bool BackgroundMargins(TPxBackgroundStyle Style, int& MX, int& MY)
{
    switch (Style) {
    case pxbsCropped:
        MX = GetSystemMetrics(SM_CXEDGE);
        MY = GetSystemMetrics(SM_CYEDGE);
        return true;
    case pxbsCropShadow:
        MX = MY = 5;
        return true;
    case pxbsSoftShadow:
        MX = MY = 9;
        return true;
    default:
        return false;
    }
}

}  // namespace

bool PxIsRectPolygon(const POINT* Points, int Count)
{
    if (Count != 4 || !Points)
        return false;
    // Edges P3-P0, P0-P1, P1-P2, P2-P3.
    auto vertical = [&](int a, int b) { return Points[a].x == Points[b].x && Points[a].y != Points[b].y; };
    auto horizontal = [&](int a, int b) { return Points[a].y == Points[b].y && Points[a].x != Points[b].x; };
    const int edges[4][2] = {{3, 0}, {0, 1}, {1, 2}, {2, 3}};
    for (int first = 0; first < 2; ++first) {
        bool ok = true;
        for (int e = 0; e < 4 && ok; ++e) {
            const bool wantVertical = (e % 2 == 0) == (first == 0);
            ok = wantVertical ? vertical(edges[e][0], edges[e][1]) : horizontal(edges[e][0], edges[e][1]);
        }
        if (ok)
            return true;
    }
    return false;
}

double GetAutoFitZoom(int W, int H, int AvailW, int AvailH, bool Stretch, bool Shrink, double FitZoom)
{
    // An area of no size (or less) has no fit.
    if (W <= 0 || H <= 0 || AvailW <= 0 || AvailH <= 0)
        return 100;
    const bool exceeds = static_cast<double>(W) / AvailW > static_cast<double>(H) / AvailH ? W > AvailW : H > AvailH;
    if (exceeds ? Shrink : Stretch)
        return std::isfinite(FitZoom) ? FitZoom : 100;
    return 100;
}

// ---- view size

int TImgView::GetViewWidth() { return HasParentWindow() && HandleAllocated() ? GetClientWidth() : 50; }

int TImgView::GetViewHeight() { return HasParentWindow() && HandleAllocated() ? GetClientHeight() : 50; }

// ---- events

void TImgView::DoViewChange(int Change)
{
    if (OnViewChange)
        OnViewChange(this, Change);
    if (navigator_)
        UpdateNavigator();
}

void TImgView::DoViewChanging(int Change, double NewValue)
{
    if (OnViewChanging)
        OnViewChanging(this, Change, NewValue);
}

void TImgView::DoZoomIn(double& NewZoom)
{
    if (OnZoomIn)
        OnZoomIn(this, NewZoom);
}

void TImgView::DoZoomOut(double& NewZoom)
{
    if (OnZoomOut)
        OnZoomOut(this, NewZoom);
}

// ---- extent and tables

void TImgView::ComputeExtent()
{
    zoomedW_ = Rnd(layersW_ * zoomX_ / 100.0);
    zoomedH_ = Rnd(layersH_ * zoomY_ / 100.0);
    offsetX_ = offsetY_ = 0;
    if (GetComponentState() & classlib::csDesigning) {
        extentX_ = std::min(zoomedW_, GetWidth());
        extentY_ = std::min(zoomedH_, GetHeight());
        return;
    }
    const int vw = GetViewWidth();
    const int vh = GetViewHeight();
    extentX_ = std::min(zoomedW_, vw);
    extentY_ = std::min(zoomedH_, vh);
    if (center_) {
        if (extentX_ < vw)
            offsetX_ = (vw - extentX_) / 2;
        if (extentY_ < vh)
            offsetY_ = (vh - extentY_) / 2;
    }
}

void TImgView::ComputeViewOffsets()
{
    visBmpX_ = visBmpY_ = visBmpW_ = visBmpH_ = 0;
    visScrW_ = visScrH_ = 0;
    if (zoomedW_ != 0) {
        const double d = static_cast<double>(layersW_) / zoomedW_;
        visBmpX_ = Rnd(ScreenSnapX(viewX_) * d);
        visBmpW_ = Rnd(d * extentX_);
        if (visBmpX_ + visBmpW_ > layersW_)
            --visBmpW_;
    }
    if (zoomedH_ != 0) {
        const double d = static_cast<double>(layersH_) / zoomedH_;
        visBmpY_ = Rnd(ScreenSnapY(viewY_) * d);
        visBmpH_ = Rnd(d * extentY_);
        if (visBmpY_ + visBmpH_ > layersH_)
            --visBmpH_;
    }
    if (zoomX_ > 100) {
        visScrW_ = Trc(visBmpW_ * zoomX_ / 100.0);
        if (visScrW_ < extentX_ && visBmpX_ + visBmpW_ + 1 <= layersW_) {
            ++visBmpW_;
            visScrW_ = Trc(visBmpW_ * zoomX_ / 100.0);
        }
    } else {
        visScrW_ = extentX_;
    }
    if (zoomY_ > 100) {
        visScrH_ = Trc(visBmpH_ * zoomY_ / 100.0);
        if (visScrH_ < extentY_ && visBmpY_ + visBmpH_ + 1 <= layersH_) {
            ++visBmpH_;
            visScrH_ = Trc(visBmpH_ * zoomY_ / 100.0);
        }
    } else {
        visScrH_ = extentY_;
    }
}

void TImgView::BuildCoordinateTables()
{
    if (keyZoomX_ != zoomX_ || keyZoomY_ != zoomY_ || keyScrW_ != visScrW_ || keyScrH_ != visScrH_ ||
        keyLayersW_ != layersW_ || keyLayersH_ != layersH_) {
        s2bX_.clear();
        s2bY_.clear();
        b2sX_.clear();
        b2sY_.clear();
        s2bXOff_ = s2bYOff_ = b2sXOff_ = b2sYOff_ = 0;
        s2bXLen_ = s2bYLen_ = b2sXLen_ = b2sYLen_ = 0;
        if (visScrW_ > 0 && visScrH_ > 0 && currentImage_->GetWidth() > 0 && currentImage_->GetHeight() > 0) {
            s2bXLen_ = visScrW_;
            s2bYLen_ = visScrH_;
            b2sXLen_ = Trc(visScrW_ * 100.0 / zoomX_);
            b2sYLen_ = Trc(visScrH_ * 100.0 / zoomY_);
            FillAxis(s2bX_, b2sX_, zoomX_, zoomedW_, visScrW_, layersW_);
            FillAxis(s2bY_, b2sY_, zoomY_, zoomedH_, visScrH_, layersH_);
        }
        keyZoomX_ = zoomX_;
        keyZoomY_ = zoomY_;
        keyScrW_ = visScrW_;
        keyScrH_ = visScrH_;
        keyLayersW_ = layersW_;
        keyLayersH_ = layersH_;
    }
    if (s2bXLen_ > 0 && !s2bX_.empty()) {
        const int a = ScreenSnapX(viewX_);
        const int b = ScreenSnapY(viewY_);
        s2bXOff_ = static_cast<size_t>(std::max(a, 0));
        s2bYOff_ = static_cast<size_t>(std::max(b, 0));
        b2sXOff_ = static_cast<size_t>(std::max(0, At(s2bX_, a) - visBmpX_));
        b2sYOff_ = static_cast<size_t>(std::max(0, At(s2bY_, b) - visBmpY_));
    }
}

int TImgView::ScreenSnapX(int Z) { return SnapToPixelStart(Z, zoomedW_, s2bX_, b2sX_, s2bXLen_); }

int TImgView::ScreenSnapY(int Z) { return SnapToPixelStart(Z, zoomedH_, s2bY_, b2sY_, s2bYLen_); }

int TImgView::ScreenToBitmapX(int X)
{
    const int s = X - offsetX_;
    const int32_t v = WindowAt(s2bX_, s2bXOff_, s2bXLen_, s);
    return v >= 0 ? v : Trc(s * 100.0 / zoomX_ + visBmpX_);
}

int TImgView::ScreenToBitmapY(int Y)
{
    const int s = Y - offsetY_;
    const int32_t v = WindowAt(s2bY_, s2bYOff_, s2bYLen_, s);
    return v >= 0 ? v : Trc(s * 100.0 / zoomY_ + visBmpY_);
}

int TImgView::BitmapToScreenX(int X)
{
    const int32_t v = WindowAt(b2sX_, b2sXOff_, b2sXLen_, X - visBmpX_);
    if (v >= 0)
        return v + offsetX_;
    return ZoomedFromSnap(X, ScreenSnapX(viewX_), zoomX_, offsetX_);
}

int TImgView::BitmapToScreenY(int Y)
{
    const int32_t v = WindowAt(b2sY_, b2sYOff_, b2sYLen_, Y - visBmpY_);
    if (v >= 0)
        return v + offsetY_;
    return ZoomedFromSnap(Y, ScreenSnapY(viewY_), zoomY_, offsetY_);
}

// ---- view position

void TImgView::GetMaxViewXY(int& MaxX, int& MaxY)
{
    const int vw = GetViewWidth();
    const int vh = GetViewHeight();
    int w = Trc(layersW_ * zoomX_ / 100.0);
    int h = Trc(layersH_ * zoomY_ / 100.0);
    if (zoomX_ != zoomY_) {
        if (w > vw + 10)
            w = Trc((layersW_ + 1) * zoomX_ / 100.0);
        if (h > vh + 10)
            h = Trc((layersH_ + 1) * zoomY_ / 100.0);
    } else if ((w > vw + 10 || h > vh + 10) && scrollBars_ != classlib::ssNone) {
        w = Trc((layersW_ + 1) * zoomX_ / 100.0);
        h = Trc((layersH_ + 1) * zoomY_ / 100.0);
    }
    MaxX = MaxY = 0;
    if (w < 1 || h < 1)
        return;
    MaxX = w - vw;
    MaxY = h - vh;
    if (MaxX < 0 || ScreenToBitmapX(MaxX) == 0)
        MaxX = 0;
    if (MaxY < 0 || ScreenToBitmapY(MaxY) == 0)
        MaxY = 0;
    if (zoomX_ != zoomY_) {
        if (w <= GetWidth())
            MaxX = 0;
        if (h <= GetHeight())
            MaxY = 0;
    } else if (w <= GetWidth() && h <= GetHeight()) {
        MaxX = MaxY = 0;
    }
}

bool TImgView::HasScrollRange()
{
    int mx = 0, my = 0;
    GetMaxViewXY(mx, my);
    return mx > 0 || my > 0;
}

void TImgView::ArmDelays(bool Zoom)
{
    if (Zoom)
        zoomDelay_ = 4;
    displayDelay_ = 2;
}

void TImgView::UpdateScrollPositions(bool H, bool V)
{
    if (!HandleAllocated())
        return;
    if (H && HasH(scrollBars_))
        PxSetScrollPos(GetHandle(), SB_HORZ, Trc(viewX_ / hScrollFactor_), true, flatScrollBars_);
    if (V && HasV(scrollBars_))
        PxSetScrollPos(GetHandle(), SB_VERT, Trc(viewY_ / vScrollFactor_), true, flatScrollBars_);
}

// The common end of the scroll-position setters: the delayed zoom filter,
// a full repaint, the view-change event and the moved scroll bars.
void TImgView::FinishViewMove(bool MovedX, bool MovedY)
{
    ArmDelays(DelayZoomFilter && ZoomFilter != rfNone && (zoomX_ != 100 || zoomY_ != 100));
    backBufferInvalid_ = true;
    fullRepaint_ = true;
    PaintNow();
    DoViewChange(0);
    UpdateScrollPositions(MovedX, MovedY);
}

void TImgView::SetViewXY(int X, int Y)
{
    DoViewChanging(0, X);
    DoViewChanging(1, Y);
    if (X == viewX_ && Y == viewY_)
        return;
    int mx = 0, my = 0;
    GetMaxViewXY(mx, my);
    const int nx = std::clamp(X, 0, mx);
    const int ny = std::clamp(Y, 0, my);
    if (nx == viewX_ && ny == viewY_)
        return;
    viewX_ = nx;
    viewY_ = ny;
    FinishViewMove(true, true);
}

void TImgView::SetViewAxis(int Axis, int Value)
{
    DoViewChanging(Axis, Value);
    int& view = Axis == 0 ? viewX_ : viewY_;
    if (Value == view)
        return;
    int mx = 0, my = 0;
    GetMaxViewXY(mx, my);
    const int n = std::clamp(Value, 0, Axis == 0 ? mx : my);
    if (n == view)
        return;
    view = n;
    FinishViewMove(Axis == 0, Axis == 1);
}

void TImgView::SetViewX(int X) { SetViewAxis(0, X); }

void TImgView::SetViewY(int Y) { SetViewAxis(1, Y); }

void TImgView::SetCenter(bool Value)
{
    if (Value == center_)
        return;
    center_ = Value;
    updateReason_ = 1;
    Update();
}

void TImgView::SmoothScrollTo(int X, int Y)
{
    smoothTargetX_ = X;
    smoothTargetY_ = Y;
    if (smoothActive_)
        return;
    if (!smoothTimer_) {
        smoothTimer_ = std::make_unique<classlib::TTimer>(nullptr);
        smoothTimer_->SetInterval(30);
        smoothTimer_->SetOnTimer(classlib::TNotifyEvent(this, &TImgView::SmoothScrollStep));
    }
    smoothActive_ = true;
    smoothTimer_->SetEnabled(true);
    SmoothScrollStep(nullptr);
}

void TImgView::SmoothScrollStep(classlib::TObject*)
{
    if (!smoothActive_)
        return;
    const int x0 = viewX_;
    const int y0 = viewY_;
    const double d = MovingScrollDivisor != 0 ? MovingScrollDivisor : 1;
    SetViewXY(Rnd(x0 - (x0 - smoothTargetX_) / d), Rnd(y0 - (y0 - smoothTargetY_) / d));
    if ((viewX_ == x0 && viewY_ == y0) || (GetAsyncKeyState(GetSystemMetrics(SM_SWAPBUTTON) ? VK_RBUTTON : VK_LBUTTON) & 0x8000)) {
        // The timer object is kept (it may be the caller) and only stopped.
        smoothTimer_->SetEnabled(false);
        smoothActive_ = false;
    }
}

// ---- zoom

void TImgView::SetZoomFactors()
{
    zoomFX_ = zoomX_ / 100.0;
    zoomFXInv_ = 100.0 / zoomX_;
    zoomFY_ = zoomY_ / 100.0;
    zoomFYInv_ = 100.0 / zoomY_;
}

void TImgView::SetZoomXY(double Value)
{
    const int vw = GetViewWidth();
    const int vh = GetViewHeight();
    const int nx = ZoomedViewPosition(viewX_, vw, offsetX_, zoomX_, Value);
    const int ny = ZoomedViewPosition(viewY_, vh, offsetY_, zoomY_, Value);
    zoomX_ = zoomY_ = Value;
    SetZoomFactors();
    int mx = 0, my = 0;
    GetMaxViewXY(mx, my);
    viewX_ = std::clamp(nx, 0, mx);
    viewY_ = std::clamp(ny, 0, my);
}

void TImgView::SetZoomX(double Value)
{
    const int nx = ZoomedViewPosition(viewX_, GetViewWidth(), offsetX_, zoomX_, Value);
    int mx = 0, my = 0;
    GetMaxViewXY(mx, my);
    viewX_ = std::clamp(nx, 0, mx);
    zoomX_ = Value;
    SetZoomFactors();
}

void TImgView::SetZoomY(double Value)
{
    const int ny = ZoomedViewPosition(viewY_, GetViewHeight(), offsetY_, zoomY_, Value);
    int mx = 0, my = 0;
    GetMaxViewXY(mx, my);
    viewY_ = std::clamp(ny, 0, my);
    zoomY_ = Value;
    SetZoomFactors();
}

// The common end of the zoom setters (the paint lock taken by the caller):
// two layout passes (the first may show or hide scroll bars), new offsets
// and tables, one paint, the view-change event.
void TImgView::FinishZoomChange()
{
    updateReason_ = 2;
    Update();
    updateReason_ = 2;
    Update();
    ComputeViewOffsets();
    BuildCoordinateTables();
    EndPaintLockNoUpdate();
    PaintNow();
    DoViewChange(1);
}

void TImgView::SetZoom(double Value)
{
    DoViewChanging(2, Value);
    if (!(Value > 0) || (Value == zoomX_ && Value == zoomY_))
        return;
    ArmDelays(DelayZoomFilter && ZoomFilter != rfNone && !(zoomX_ == 100 && zoomY_ == 100));
    BeginPaintLock();
    SetZoomXY(Value);
    FinishZoomChange();
}

void TImgView::DoZoomX(double Value) { DoZoomAxis(Value, &TImgView::zoomX_, &TImgView::SetZoomX); }

void TImgView::DoZoomY(double Value) { DoZoomAxis(Value, &TImgView::zoomY_, &TImgView::SetZoomY); }

void TImgView::DoZoomAxis(double Value, double TImgView::*Zoom, void (TImgView::*SetAxisZoom)(double))
{
    // The zoom is read after the changing event, whose handler may set it.
    DoViewChanging(2, Value);
    if (!(Value > 0) || Value == this->*Zoom)
        return;
    ArmDelays(DelayZoomFilter && ZoomFilter != rfNone && this->*Zoom != 100);
    BeginPaintLock();
    (this->*SetAxisZoom)(Value);
    FinishZoomChange();
}

void TImgView::ZoomAt(int X, int Y, double NewZoom, bool Center)
{
    DoViewChanging(2, X);
    DoViewChanging(2, Y);
    BeginPaintLock();
    const int bx = ScreenToBitmapX(X);
    const int by = ScreenToBitmapY(Y);
    SetZoom(NewZoom);
    const double f = zoomX_ / 100.0;
    if (Center)
        SetViewXY(Trc(bx * f - GetViewWidth() / 2), Trc(by * f - GetViewHeight() / 2));
    else
        SetViewXY(Trc(bx * f - X + f), Trc(by * f - Y + f));
    EndPaintLock();
    ComputeViewOffsets();
    BuildCoordinateTables();
}

double TImgView::GetFitZoom()
{
    int mx = 0, my = 0;
    if (!BackgroundMargins(backgroundStyle_, mx, my)) {
        if (GetBorderStyle() == bsNone) {
            mx = my = 0;
        } else if (GetCtl3D()) {
            mx = GetSystemMetrics(SM_CXEDGE);
            my = GetSystemMetrics(SM_CYEDGE);
        } else {
            mx = GetSystemMetrics(SM_CXBORDER);
            my = GetSystemMetrics(SM_CYBORDER);
        }
    }
    const double fx = (GetWidth() - 2 * mx) / (layersW_ / 100.0);
    const double fy = (GetHeight() - 2 * my) / (layersH_ / 100.0);
    return std::min(fx, fy);
}

void TImgView::Fit()
{
    UpdateLayersExtent();
    if (layersW_ <= 0 || layersH_ <= 0)
        return;
    HideHScrollBar();
    HideVScrollBar();
    SetZoom(GetFitZoom());
}

void TImgView::ZoomSelection(bool KeepAspect, bool FireZoomIn)
{
    if (!HasSelection())
        return;
    const int x1 = GetSelX1();
    const int y1 = GetSelY1();
    const int w = GetSelX2() - x1 + 1;
    const int h = GetSelY2() - y1 + 1;
    if (x1 < 0 || y1 < 0 || w < 2 || h < 2)
        return;
    Deselect();
    double z = std::min(GetHeight() / (h / 100.0), GetWidth() / (w / 100.0));
    if (FireZoomIn)
        DoZoomInSwapped(z);
    if (KeepAspect) {
        SetZoom(z);
    } else {
        DoZoomX(GetWidth() / (w / 100.0));
        DoZoomY(GetHeight() / (h / 100.0));
    }
    SetViewXY(Trc(x1 * zoomX_ / 100.0) - (GetViewWidth() - Trc(w * zoomX_ / 100.0)) / 2,
              Trc(y1 * zoomY_ / 100.0) - (GetViewHeight() - Trc(h * zoomY_ / 100.0)) / 2);
}

// ---- scroll bars and messages

void TImgView::SetScrollBars(classlib::TScrollStyle Value)
{
    scrollBars_ = Value;
    if (!HasV(Value))
        HideVScrollBar();
    if (!HasH(Value))
        HideHScrollBar();
    updateReason_ = 4;
    Update();
}

void TImgView::SetFlatScrollBars(bool Value)
{
    if (Value == flatScrollBars_)
        return;
    flatScrollBars_ = Value;
    if (!HandleAllocated())
        return;
    PxSetFlatScrollBars(GetHandle(), Value);
}

void TImgView::HideHScrollBar() { HideScrollBar(SB_HORZ, hScrollShown_); }

void TImgView::HideVScrollBar() { HideScrollBar(SB_VERT, vScrollShown_); }

void TImgView::HideScrollBar(int Bar, bool& Shown)
{
    if (!Shown)
        return;
    Shown = false;
    if (HandleAllocated())
        PxShowScrollBar(GetHandle(), Bar, false, flatScrollBars_);
}

void TImgView::SetScrollInfoFor(int Bar, double Factor, int Page, int Pos, bool Show)
{
    HWND h = GetHandle();
    PxSetScrollInfo(h, Bar, 0, 65535, Page, Pos, true, flatScrollBars_);
    PxEnableScrollBar(h, Bar, ESB_ENABLE_BOTH, flatScrollBars_);
    PxShowScrollBar(h, Bar, Show, flatScrollBars_);
    (void)Factor;
}

void TImgView::ScrollMessage(classlib::TMessage& Message, bool Horizontal)
{
    const int code = LOWORD(Message.WParam);
    if (code == SB_THUMBTRACK && OnMouseEnterScroll)
        OnMouseEnterScroll(this);
    if (code == SB_ENDSCROLL && OnMouseLeaveScroll)
        OnMouseLeaveScroll(this);
    const TPxScrollBarParams& params = Horizontal ? HScrollParams : VScrollParams;
    const double zoom = Horizontal ? zoomX_ : zoomY_;
    const double factor = Horizontal ? hScrollFactor_ : vScrollFactor_;
    const int current = Horizontal ? viewX_ : viewY_;
    const int p = std::max(Trc(zoom / 100.0), 1);
    const int line = params.LineStep == -1 ? p : p * params.LineStep;
    const int page = params.PageStep == -1 ? (Horizontal ? GetViewWidth() : GetViewHeight()) : p * params.PageStep;
    // The bars' range is 0..65535, so the 16-bit position is the whole one.
    const int pos = HIWORD(Message.WParam);
    int target = current;
    switch (code) {
    case SB_LINELEFT:
        target = current - line;
        break;
    case SB_LINERIGHT:
        target = current + line;
        break;
    case SB_PAGELEFT:
        target = current - page;
        break;
    case SB_PAGERIGHT:
        target = current + page;
        break;
    case SB_LEFT:
        target = 0;
        break;
    case SB_RIGHT: {
        int mx = 0, my = 0;
        GetMaxViewXY(mx, my);
        target = Horizontal ? mx : my;
        break;
    }
    case SB_THUMBPOSITION:
        target = Rnd(pos * factor);
        break;
    case SB_THUMBTRACK:
        if (params.Tracking)
            target = Rnd(pos * factor);
        break;
    default:
        break;
    }
    if (Horizontal)
        SetViewX(target);
    else
        SetViewY(target);
    Message.Result = 0;
}

void TImgView::MouseWheelAction(int WheelDelta, int X, int Y, bool CtrlHeld)
{
    if (WheelParams.Action == 0 || AutoFit)
        return;
    int d = WheelDelta > 0 ? -1 : 1;
    if (WheelParams.InverseDirection)
        d = -d;
    const int value = WheelParams.Value;
    if (WheelParams.Action == 1) {
        int mx = 0, my = 0;
        GetMaxViewXY(mx, my);
        const bool horizontal = CtrlHeld || (mx > 0 && my == 0);
        int step = 0;
        if (WheelParams.Variation == 0)
            step = value * std::max(Trc((horizontal ? zoomX_ : zoomY_) / 100.0), 1);
        else if (WheelParams.Variation == 1)
            step = std::max(Rnd((horizontal ? GetViewWidth() : GetViewHeight()) * value / 100.0), 1);
        else
            return;
        if (horizontal)
            SetViewX(viewX_ + d * step);
        else
            SetViewY(viewY_ + d * step);
    } else if (WheelParams.Action == 2) {
        double z = zoomX_;
        if (WheelParams.Variation == 0)
            z = z + d * value;
        else if (WheelParams.Variation == 1)
            z = z + d * std::max(Rnd(value * z / 100.0), 1);
        if (z > zoomX_)
            DoZoomInSwapped(z);
        else if (z < zoomX_)
            DoZoomOutSwapped(z);
        if (WheelParams.ZoomPosition)
            ZoomAt(X, Y, z, false);
        else
            SetZoom(z);
    }
}

// ---- Update

void TImgView::Update()
{
    if (updateLock_ > 0)
        return;
    if (GetComponentState() & ~static_cast<classlib::TComponentState>(classlib::csFreeNotification))
        return;
    classlib::TValueScope inUpdate(inUpdate_, true);

    for (auto& layer : layers_)
        layer->MaskCache.reset();
    UpdateLayersExtent();

    if ((AutoFit || AutoStretch || AutoShrink) && layersW_ != 0 && layersH_ != 0) {
        DoViewChanging(2, zoomX_);
        int mx = 0, my = 0;
        if (!BackgroundMargins(backgroundStyle_, mx, my)) {
            mx = (GetWidth() - GetViewWidth()) / 2;
            my = (GetHeight() - GetViewHeight()) / 2;
        }
        double zoom = 100;
        if (!(layersW_ < 2 && layersH_ < 2))
            zoom = GetAutoFitZoom(layersW_, layersH_, GetViewWidth() - 2 * mx, GetViewHeight() - 2 * my,
                                  AutoStretch || AutoFit, AutoShrink || AutoFit, GetFitZoom());
        zoomX_ = zoomY_ = std::max(zoom, 1.0);
        SetZoomFactors();
        ComputeViewOffsets();
        BuildCoordinateTables();
        DoViewChange(1);
        zoomDelay_ = displayDelay_ = 0;
    }

    const int w = currentImage_->GetWidth();
    const int h = currentImage_->GetHeight();
    if (w != lastW_ || h != lastH_) {
        lastW_ = w;
        lastH_ = h;
        SyncSelectionMask();
        if (currentImage_->HasAlphaChannel()) {
            TPxBitmap* alpha = currentImage_->GetAlphaChannel();
            if (alpha->GetWidth() != w || alpha->GetHeight() != h) {
                alpha->Allocate(w, h, px8g);
                alpha->Fill(255);
            }
        }
    }

    if (!HandleAllocated()) {
        updateReason_ = 0;
        return;
    }
    if (!(GetComponentState() & classlib::csDesigning) && HasParentWindow()) {
        const int vw = GetViewWidth();
        const int vh = GetViewHeight();
        int maxX = 0, maxY = 0;
        GetMaxViewXY(maxX, maxY);
        bool moved = false;
        if (viewX_ > maxX) {
            DoViewChanging(0, maxX);
            viewX_ = maxX;
            moved = true;
        }
        if (viewY_ > maxY) {
            DoViewChanging(1, maxY);
            viewY_ = maxY;
            moved = true;
        }
        if (moved)
            DoViewChange(0);
        try {
            if (HasH(scrollBars_)) {
                if (maxX < 1) {
                    HideHScrollBar();
                } else {
                    hScrollShown_ = true;
                    hScrollFactor_ = (vw + maxX) / 65536.0;
                    SetScrollInfoFor(SB_HORZ, hScrollFactor_, Trc(vw / hScrollFactor_), Trc(viewX_ / hScrollFactor_),
                                     true);
                }
            }
            if (HasV(scrollBars_)) {
                if (maxY < 1) {
                    HideVScrollBar();
                } else {
                    vScrollShown_ = true;
                    vScrollFactor_ = (vh + maxY) / 65536.0;
                    SetScrollInfoFor(SB_VERT, vScrollFactor_, Trc(vh / vScrollFactor_), Trc(viewY_ / vScrollFactor_),
                                     true);
                }
            }
        } catch (...) {
            // The bars are cosmetic; the geometry below stays right.
        }
        if ((GetViewWidth() != vw || GetViewHeight() != vh) && !nestedUpdate_) {
            nestedUpdate_ = true;
            try {
                Update();
            } catch (...) {
                nestedUpdate_ = false;
                throw;
            }
            nestedUpdate_ = false;
        }
    }
    ComputeExtent();
    backBufferInvalid_ = true;
    fullRepaint_ = true;
    if (HasParentWindow())
        Invalidate();
    updateReason_ = 0;
}

}  // namespace imaging
