// Mouse and keyboard interaction of the image view: zoom clicks, drag
// scrolling, rectangle / ellipse / polygon / lasso / magic-wand selections,
// selection grips and moves, and moving, resizing and rotating layers.
//
// The handlers work in client coordinates: SelectionBase is switched to the
// client area while they run and switched back around every event they fire,
// so handlers see the user's setting. Interactions never raise errors.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "classlib/ExtCtrls.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxGeometry.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/views/view/ImgView.h"

namespace imaging {

namespace {

int RoundI(double Value) { return static_cast<int>(classlib::Round(Value)); }

constexpr classlib::TCursor kCurZoom = 1779;
constexpr classlib::TCursor kCurSelect = 1785;
constexpr classlib::TCursor kCurSelectAdd = 1791;
constexpr classlib::TCursor kCurSelect2 = 1793;
constexpr classlib::TCursor kCurSelect2Add = 1794;
constexpr classlib::TCursor kCurMove = 1790;

// Cursor of grip 1..8 (selection and layer grips alike).
classlib::TCursor GripCursor(int Grip)
{
    switch (Grip) {
    case 1:
    case 3: return 1786;
    case 2:
    case 4: return 1788;
    case 5:
    case 6: return 1789;
    default: return 1787;
    }
}

constexpr double kZoomSteps[] = {5, 10, 25, 50, 75, 100};

// SelectionBase is the client area for the lifetime of the scope; the
// caller's value is kept as the view's stored base, so that the event
// helpers (which exchange the two around each event) show it to handlers.
class TClientBaseScope {
public:
    explicit TClientBaseScope(TImgView& View) : view_(View), prevStored_(View.GetStoredSelectionBase())
    {
        view_.SwapSelectionBase();  // stored = the caller's value
        view_.SelectionBase = pxsbClientArea;
    }
    ~TClientBaseScope()
    {
        view_.SwapSelectionBase();  // SelectionBase = the caller's value
        const TPxSelectionBase user = view_.SelectionBase;
        view_.SelectionBase = prevStored_;
        view_.SwapSelectionBase();  // stored = its value before the scope
        view_.SelectionBase = user;
    }
    TClientBaseScope(const TClientBaseScope&) = delete;
    TClientBaseScope& operator=(const TClientBaseScope&) = delete;

private:
    TImgView& view_;
    TPxSelectionBase prevStored_;
};

// OnSelectionChange with the caller's SelectionBase in effect.
void FireSelectionChange(TImgView& View)
{
    View.SwapSelectionBase();
    View.DoSelectionChange();
    View.SwapSelectionBase();
}

}  // namespace

double TImgView::NextZoomIn(double Zoom)
{
    if (Zoom < 100) {
        for (double s : kZoomSteps)
            if (s > Zoom)
                return s;
    }
    return std::min(Zoom + 100, 500.0);
}

double TImgView::NextZoomOut(double Zoom)
{
    if (Zoom < 200) {
        double r = 5;
        for (double s : kZoomSteps)
            if (s < Zoom)
                r = s;
        return r;
    }
    return Zoom - 100;
}

void TImgView::SetMouseInteract(TPxMouseInteract Value)
{
    const TPxMouseInteract old = mouseInteract_;
    if (Value == old)
        return;
    if (PolySelecting && (old & miSelectPolygon))
        EndPolygonSelection();
    const TPxMouseInteract added = Value & ~old;
    struct Rule {
        TPxMouseInteract item, keep;
    };
    static const Rule rules[] = {
        {miScroll, miZoom | miScroll | miMovingScroll},
        {miSelect, miZoom | miSelect | miMovingScroll},
        {miSelectPolygon, miSelectPolygon | miMovingScroll},
        {miSelectCircle, miZoom | miSelectCircle | miMovingScroll},
        {miSelectLasso, miZoom | miSelectLasso | miMovingScroll},
        {miSelectZoom, miZoom | miSelectZoom | miMovingScroll},
        {miZoom, miZoom | miScroll | miSelect | miSelectCircle | miSelectZoom | miSelectLasso | miMovingScroll},
        {miSelectMagicWand, miSelectMagicWand | miMovingScroll},
    };
    bool reduced = false;
    for (const Rule& r : rules) {
        if (added & r.item) {
            Value &= r.keep;
            reduced = true;
            break;
        }
    }
    if (!reduced) {
        if (Value & miRotateLayers)
            Value &= miMoveLayers | miRotateLayers | miMovingScroll;
        else if (Value & (miMoveLayers | miResizeLayers))
            Value &= miMoveLayers | miResizeLayers | miRotateLayers | miMovingScroll;
    }
    if ((Value & miRotateLayers) && CropBeforeRotate)
        CropLayersToAlpha(-1);
    mouseInteract_ = Value;
}

void TImgView::OffsetInteractionPoints(int Dx, int Dy)
{
    LastX -= Dx;
    LastY -= Dy;
    LastClampedX -= Dx;
    LastClampedY -= Dy;
    LastRawX -= Dx;
    LastRawY -= Dy;
}

bool TImgView::AutoScrollToCursor()
{
    if (!HandleAllocated())
        return false;
    AutoScrolling = true;
    bool scrolled = false;
    for (;;) {
        POINT p{};
        if (!::GetCursorPos(&p) || !::ScreenToClient(GetHandle(), &p))
            break;
        int dx = 0, dy = 0;
        if (p.x < offsetX_)
            dx = p.x - offsetX_;
        else if (p.x > offsetX_ + extentX_ - 1)
            dx = p.x - (offsetX_ + extentX_ - 1);
        if (p.y < offsetY_)
            dy = p.y - offsetY_;
        else if (p.y > offsetY_ + extentY_ - 1)
            dy = p.y - (offsetY_ + extentY_ - 1);
        if (dx == 0 && dy == 0)
            break;
        const int ox = viewX_, oy = viewY_;
        SetViewXY(viewX_ + dx, viewY_ + dy);
        const int mx = viewX_ - ox, my = viewY_ - oy;
        if (mx == 0 && my == 0)
            break;
        scrolled = true;
        AnchorX -= mx;
        AnchorY -= my;
        ExtentAnchorX -= mx;
        ExtentAnchorY -= my;
        OffsetInteractionPoints(dx, dy);
    }
    AutoScrolling = false;
    return scrolled;
}

int TImgView::FindLayerAt(int X, int Y, bool SelectableOnly)
{
    for (int i = GetLayersCount() - 1; i >= 0; --i) {
        TPxLayer* layer = layers_[static_cast<size_t>(i)].get();
        if (!layer->Visible || (SelectableOnly && !layer->Selectable))
            continue;
        if (IsPointInLayer(X, Y, i))
            return i;
    }
    return -1;
}

void TImgView::ClampToLayer(int X, int Y, int& OutX, int& OutY)
{
    const RECT r = GetCurrentLayer()->ScreenRect;
    OutX = std::clamp(X, static_cast<int>(r.left), std::max(static_cast<int>(r.left), static_cast<int>(r.right) + 1));
    OutY = std::clamp(Y, static_cast<int>(r.top), std::max(static_cast<int>(r.top), static_cast<int>(r.bottom) + 1));
}

void TImgView::SaveLayerUndo(bool Full)
{
    if (!LayerUndoOnDrag || LayerUndoSaved)
        return;
    LayerUndoSaved = true;
    GetProc()->SaveUndo(Full ? pxuFullLayer : pxuLayer);
}

void TImgView::EndPolygonSelection()
{
    auto& pts = GetSelectionOutline().Points;
    if (!pts.empty())
        pts.pop_back();
    while (!pts.empty() && PxIsSeparator(pts.back()))
        pts.pop_back();
    SyncSelectionMask()->Clear();
    SelectFromPolygon();
    PolySelecting = false;
    LassoSelecting = false;
    Invalidate();
}

void TImgView::RotationCentre(TPxLayer& Layer, int& X, int& Y)
{
    const int bw = Layer.Bitmap ? Layer.Bitmap->GetWidth() : 0;
    const int bh = Layer.Bitmap ? Layer.Bitmap->GetHeight() : 0;
    // Layer pixel -> layer-0 bitmap pixel (displayed size over image size)
    // -> client position.
    const double sx = bw > 0 ? static_cast<double>(Layer.GetWidth()) / bw : 1.0;
    const double sy = bh > 0 ? static_cast<double>(Layer.GetHeight()) / bh : 1.0;
    X = BitmapToScreenX(Layer.PosX + RoundI(RoundI(bw * Layer.RotateCenterX) * sx));
    Y = BitmapToScreenY(Layer.PosY + RoundI(RoundI(bh * Layer.RotateCenterY) * sy));
}

void TImgView::DrawRubberLine()
{
    if (!HandleAllocated())
        return;
    const auto& pts = GetSelectionOutline().Points;
    if (pts.empty() || PxIsSeparator(pts.back()))
        return;
    const POINT v = pts.back();
    classlib::TWindowDC dc(GetHandle());
    if (!dc.Get())
        return;
    // Drawn with pen mode "not": a second drawing erases it.
    classlib::TSaveDCScope saved(dc.Get());
    ::SetROP2(dc.Get(), R2_NOT);
    classlib::TSelectObjectScope pen(dc.Get(), ::GetStockObject(BLACK_PEN));
    ::MoveToEx(dc.Get(), SelLayerToScreenX(v.x), SelLayerToScreenY(v.y), nullptr);
    ::LineTo(dc.Get(), LastX, LastY);
}

void TImgView::StartMovingScroll(int X, int Y)
{
    movingTargetX_ = X;
    movingTargetY_ = Y;
    if (movingActive_)
        return;
    if (!movingTimer_) {
        movingTimer_ = std::make_unique<classlib::TTimer>(nullptr);
        movingTimer_->SetInterval(30);
        movingTimer_->SetOnTimer(classlib::TNotifyEvent(this, &TImgView::MovingScrollStep));
    }
    movingActive_ = true;
    movingTimer_->SetEnabled(true);
    MovingScrollStep(nullptr);
}

void TImgView::MovingScrollStep(classlib::TObject* /*Sender*/)
{
    if (!movingActive_)
        return;
    const int ox = viewX_, oy = viewY_;
    const int div = MovingScrollDivisor != 0 ? MovingScrollDivisor : 1;
    SetViewXY(RoundI(viewX_ - static_cast<double>(viewX_ - movingTargetX_) / div),
              RoundI(viewY_ - static_cast<double>(viewY_ - movingTargetY_) / div));
    const int leftKey = ::GetSystemMetrics(SM_SWAPBUTTON) ? VK_RBUTTON : VK_LBUTTON;
    if ((viewX_ == ox && viewY_ == oy) || (::GetAsyncKeyState(leftKey) & 0x8000)) {
        // Stopped, not freed: this may be the timer's own handler.
        movingTimer_->SetEnabled(false);
        movingActive_ = false;
    }
}

// Shrinks the outline back to what it held at the press (the part this drag
// added goes) and appends a separator for the new part.
static void DropDragPart(TPxSelectionOutline& Outline, int DownCount)
{
    if (Outline.Count() > DownCount)
        Outline.Points.resize(static_cast<size_t>(std::max(DownCount, 0)));
}

void TImgView::UpdateRectSelection(int X, int Y, classlib::TShiftState Shift)
{
    AutoScrollToCursor();
    if (SelectionAspect == 0) {
        const int hw = RoundI(SelectionFixedWidth * zoomFX_) / 2;
        const int hh = RoundI(SelectionFixedHeight * zoomFY_) / 2;
        AnchorX = X - hw;
        AnchorY = Y - hh;
        X = X + hw - 1;
        Y = Y + hh - 1;
    }
    const bool square = (Shift & classlib::ssAlt) || ConstrainAlways;
    const bool keepInside = (GetSelectionOptions() & pxsoSizeable) == 0;
    if ((Shift & classlib::ssShift) && ShiftAddsSelection) {
        DropDragPart(GetSelectionOutline(), DownPointCount);
        SelectRectCore(AnchorX, AnchorY, X, Y, 1, square, keepInside);
    } else {
        SelectRectCore(AnchorX, AnchorY, X, Y, 0, square, keepInside);
    }
    DoSelectionChanging();
}

void TImgView::UpdateCircleSelection(int X, int Y, classlib::TShiftState Shift)
{
    AutoScrollToCursor();
    if (SelectionAspect == 0) {
        AnchorX = X;
        AnchorY = Y;
        X += RoundI(SelectionFixedWidth * zoomFX_ / 2);
        Y += RoundI(SelectionFixedHeight * zoomFY_ / 2);
    }
    TPxSelectionOutline& outline = GetSelectionOutline();
    if ((Shift & classlib::ssShift) && ShiftAddsSelection) {
        DropDragPart(outline, DownPointCount);
        if (outline.Count() > 0)
            outline.AddSeparator();
    } else {
        outline.Clear();
    }
    int rx, ry;
    const int m = std::max(std::abs(AnchorX - X), std::abs(AnchorY - Y));
    if (((Shift & classlib::ssAlt) || ConstrainAlways) && SelectionAspect == -1) {
        rx = ry = m;
    } else if (SelectionAspect > 0) {
        rx = m;
        ry = RoundI(rx * SelectionAspect);
    } else {
        rx = std::abs(AnchorX - X);
        ry = std::abs(AnchorY - Y);
    }
    const int ex = RoundI(rx / zoomFX_);
    const int ey = RoundI(ry / zoomFY_);
    const int n = std::max(RoundI(std::min(ex, ey) * 2 * std::numbers::pi), 50);
    const int cx = SelScreenToLayerX(AnchorX);
    const int cy = SelScreenToLayerY(AnchorY);
    const int w = currentImage_->GetWidth();
    const int h = currentImage_->GetHeight();
    for (int i = 0; i < n; ++i) {
        const double a = 2 * std::numbers::pi * i / n;
        outline.AddPoint(std::clamp(RoundI(std::cos(a) * ex + cx), 0, w),
                         std::clamp(RoundI(std::sin(a) * ey + cy), 0, h));
    }
    Selected = true;
    outline.Visible = true;
    DrawSelection(this);
    DoSelectionChanging();
}

int TImgView::DragSelectionGrip(int X, int Y, bool Constrain)
{
    TPxSelectionOutline& o = GetSelectionOutline();
    int grip = SelGrip;
    if (!o.IsRectangle())
        return grip;
    int x = SelScreenToLayerX(X);
    int y = SelScreenToLayerY(Y);
    const int w = currentImage_->GetWidth();
    const int h = currentImage_->GetHeight();
    int X1 = gripSaved_[0], Y1 = gripSaved_[1], X2 = gripSaved_[2], Y2 = gripSaved_[3];
    if (Constrain) {
        const int h0 = Y2 - Y1 + 1;
        if (h0 == 0)
            return grip;
        const double r = SelectionAspect > 0 ? 1 / SelectionAspect : static_cast<double>(X2 - X1 + 1) / h0;
        // Each loop is bounded by the image size: it stops at the first
        // position inside the image or after one pass over it.
        const int limit = w + h + 2;
        switch (grip) {
        case 1:
        case 5:
            y = RoundI(Y2 + 1 + (x - X2 - 1) / r);
            for (int k = 0; y < 0 && k < limit; ++k)
                y = RoundI(Y2 + 1 + (++x - X2 - 1) / r);
            grip = 1;
            break;
        case 2:
            y = RoundI(Y2 + (X1 - x - 1) / r);
            for (int k = 0; y < 0 && k < limit; ++k)
                y = RoundI(Y2 + (X1 - (--x) - 1) / r);
            break;
        case 3:
        case 6:
            y = RoundI(Y1 - 1 + (x - X1 + 1) / r);
            grip = 3;
            break;
        case 4:
            y = RoundI(Y1 - 1 + (X2 - x) / r);
            for (int k = 0; y > h && k < limit; ++k)
                y = RoundI(Y1 - 1 + (X2 - (++x)) / r);
            break;
        case 7:
            x = RoundI(X2 + 1 + r * (y - Y2 - 1));
            for (int k = 0; x < 0 && k < limit; ++k)
                x = RoundI(X2 + 1 + r * (++y - Y2 - 1));
            grip = 1;
            break;
        case 8:
            x = RoundI(X1 - 1 + r * (y - Y1 + 1));
            for (int k = 0; x > w && k < limit; ++k)
                x = RoundI(X1 - 1 + r * (--y - Y1 + 1));
            grip = 3;
            break;
        default: break;
        }
    }
    // Sides moved by each grip: left, top, right, bottom.
    static const bool kMoves[9][4] = {{false, false, false, false}, {true, true, false, false},
                                      {false, true, true, false},   {false, false, true, true},
                                      {true, false, false, true},   {true, false, false, false},
                                      {false, false, true, false},  {false, true, false, false},
                                      {false, false, false, true}};
    const bool* mv = kMoves[std::clamp(grip, 0, 8)];
    // Right and bottom sides are exclusive; a side that lands on the
    // opposite one goes one pixel beyond it (the rectangle never collapses).
    if (mv[0]) {
        X1 = x;
        if (X1 == X2)
            X1 = X2 + 1;
    }
    if (mv[2]) {
        X2 = x + 1;
        if (X2 == X1)
            X2 = X1 - 1;
    }
    if (mv[1]) {
        Y1 = y;
        if (Y1 == Y2)
            Y1 = Y2 + 1;
    }
    if (mv[3]) {
        Y2 = y + 1;
        if (Y2 == Y1)
            Y2 = Y1 - 1;
    }
    if (X2 < X1) {
        static const int hm[9] = {0, 2, 1, 4, 3, 6, 5, 7, 8};
        grip = hm[grip];
    }
    if (Y2 < Y1) {
        static const int vm[9] = {0, 4, 3, 2, 1, 5, 6, 8, 7};
        grip = vm[grip];
    }
    o.Clear();
    if (X1 > X2)
        std::swap(X1, X2);
    if (Y1 > Y2)
        std::swap(Y1, Y2);
    if (Constrain) {
        const int h0 = gripSaved_[3] - gripSaved_[1] + 1;
        const double r = SelectionAspect > 0 ? 1 / SelectionAspect
                                             : static_cast<double>(gripSaved_[2] - gripSaved_[0] + 1) / h0;
        if (Y2 >= h)
            X2 = RoundI(X1 + (h - Y1 - 1) * r);
        else if (Y1 < 0)
            X1 = RoundI(X2 - Y2 * r);
        else if (X2 >= w)
            Y2 = RoundI(Y1 + (w - X1 - 1) / r);
        else if (X1 < 0)
            Y1 = RoundI(Y2 - X2 / r);
    }
    X1 = std::clamp(X1, 0, w);
    X2 = std::clamp(X2, 0, w);
    Y1 = std::clamp(Y1, 0, h);
    Y2 = std::clamp(Y2, 0, h);
    if (X1 > X2)
        std::swap(X1, X2);
    if (Y1 > Y2)
        std::swap(Y1, Y2);
    o.AddPoint(X1, Y1);
    o.AddPoint(X2, Y1);
    o.AddPoint(X2, Y2);
    o.AddPoint(X1, Y2);
    o.Visible = true;
    Selected = true;
    DrawSelection(this);
    return grip;
}

void TImgView::ResizeLayer(int X, int Y, bool Constrain)
{
    TPxLayer* layer = GetCurrentLayer();
    const int w0 = layer->GetWidth();
    const int h0 = layer->GetHeight();
    int fx = ScreenToBitmapX(X);
    int fy = ScreenToBitmapY(Y);
    const int hx = ScreenToBitmapX(LastRawX);
    const int hy = ScreenToBitmapY(LastRawY);
    int grip = LayerGrip;
    const RECT& s = SavedLayerRect;
    const int bw = layer->Bitmap ? layer->Bitmap->GetWidth() : 0;
    const int bh = layer->Bitmap ? layer->Bitmap->GetHeight() : 0;
    if (Constrain && bw > 0 && bh > 0) {
        const double k = static_cast<double>(bh) / bw;
        switch (grip) {
        case 2: fy = ScreenToBitmapY(RoundI(k * (s.right - X)) + s.top); break;
        case 4:
        case 5:
            fy = ScreenToBitmapY(RoundI(k * (s.left - X)) + s.bottom);
            grip = 4;
            break;
        case 1:
        case 3:
        case 6:
            fy = ScreenToBitmapY(RoundI(k * (X - s.left)) + s.top);
            if (grip == 6)
                grip = 3;
            break;
        case 7:
        case 8:
            fx = ScreenToBitmapX(RoundI((Y - s.top) / k) + s.left);
            grip = grip == 7 ? 1 : 3;
            break;
        default: break;
        }
    }
    const int left = ScreenToBitmapX(s.left);
    const int top = ScreenToBitmapY(s.top);
    auto widthFromLeft = [&] {
        layer->Width = std::max(1, layer->PosX + w0 - fx);
        if (layer->Width > 1)
            layer->PosX = fx;
    };
    auto heightFromTop = [&] {
        layer->Height = std::max(1, layer->PosY + h0 - fy);
        if (layer->Height > 1)
            layer->PosY = fy;
    };
    switch (grip) {
    case 1:
        widthFromLeft();
        heightFromTop();
        break;
    case 2:
        layer->Width = std::max(1, fx - layer->PosX);
        heightFromTop();
        break;
    case 3:
        layer->Width = std::max(1, fx - left);
        layer->Height = std::max(1, fy - top);
        break;
    case 4:
        widthFromLeft();
        layer->Height = std::max(1, fy - top);
        break;
    case 5:
        layer->Width = std::max(1, w0 + hx - fx);
        if (layer->Width > 1)
            layer->PosX += fx - hx;
        break;
    case 6: layer->Width = std::max(1, fx - left); break;
    case 7: heightFromTop(); break;
    case 8: layer->Height = std::max(1, h0 + fy - hy); break;
    default: break;
    }
}

void TImgView::MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y)
{
    TPxView::MouseDown(Button, Shift, X, Y);
    if (HandleAllocated() && CanFocus() && ::GetFocus() != GetHandle()) {
        HWND top = ::GetAncestor(GetHandle(), GA_ROOT);
        if (top && ::IsWindowVisible(top))
            SetFocus();
    }
    savedFilter_ = filterInUse_;
    if (Button == classlib::mbRight && (Shift & classlib::ssLeft))
        return;
    LayerMoved = false;
    const bool rightLayers = (GetSelectionOptions() & pxsoRightButtonSelectLayers) != 0;
    if (!(Button == classlib::mbLeft || (Button == classlib::mbRight && ((mouseInteract_ & miZoom) || rightLayers))))
        return;
    if (!(mouseInteract_ & miScroll) && DelayZoomFilter)
        filterInUse_ = rfNone;
    TClientBaseScope scope(*this);
    ExtentAnchorX = std::clamp(X, offsetX_, std::max(offsetX_, offsetX_ + extentX_ - 1));
    ExtentAnchorY = std::clamp(Y, offsetY_, std::max(offsetY_, offsetY_ + extentY_ - 1));
    int x, y;
    ClampToLayer(X, Y, x, y);
    DownX = LastRawX = X;
    DownY = LastRawY = Y;
    LastClampedX = AnchorX = LastX = x;
    LastClampedY = AnchorY = LastY = y;
    DownViewX = viewX_;
    DownViewY = viewY_;
    TPxSelectionOutline& outline = GetSelectionOutline();
    DownPointCount = outline.Count();
    const bool shift = (Shift & classlib::ssShift) != 0;
    const bool constrain = (Shift & classlib::ssAlt) || ConstrainAlways;
    bool selectionMode = false;
    if (Button == classlib::mbLeft) {
        selectionMode = true;
        if (mouseInteract_ & (miSelectPolygon | miSelectLasso)) {
            ApplyLayerTransforms(-1);
            DoBeforeSelectionChange();
            SelMoving = GetMovableSelectionAt(x, y, shift);
            if (SelMoving == -1) {
                if (constrain && !outline.Points.empty() && !PxIsSeparator(outline.Points.back())) {
                    const POINT v = outline.Points.back();
                    PxConstrainTo45(SelLayerToScreenX(v.x), SelLayerToScreenY(v.y), x, y);
                }
                if (!PolySelecting) {
                    if (shift && ShiftAddsSelection) {
                        if (outline.Count() > 0)
                            outline.AddSeparator();
                    } else {
                        Deselect();
                    }
                }
                BeginPaintLock();
                AddSelectionPoint(x, y);
                EndPaintLockNoUpdate();
                PolySelecting = true;
                LassoSelecting = (mouseInteract_ & miSelectLasso) != 0;
                DoSelectionChanging();
            }
        } else if (mouseInteract_ & miSelect) {
            ApplyLayerTransforms(-1);
            DoBeforeSelectionChange();
            SelGrip = static_cast<uint8_t>(GetSelectionGripAt(X, Y, shift));
            if (SelGrip == 0)
                SelMoving = GetMovableSelectionAt(X, Y, shift);
            if (SelGrip == 0 && SelMoving == -1) {
                RectSelecting = true;
                if (SelectionAspect == 0)
                    UpdateRectSelection(x, y, Shift);
                DoSelectionChanging();
            } else if (SelGrip != 0) {
                gripSaved_[0] = outline.X1;
                gripSaved_[1] = outline.Y1;
                gripSaved_[2] = outline.X2;
                gripSaved_[3] = outline.Y2;
            }
        } else if (mouseInteract_ & miSelectZoom) {
            RectSelecting = true;
            DoSelectionChanging();
            PushSelection();
        } else if (mouseInteract_ & miSelectCircle) {
            ApplyLayerTransforms(-1);
            DoBeforeSelectionChange();
            SelMoving = GetMovableSelectionAt(x, y, shift);
            if (SelMoving == -1) {
                CircleSelecting = true;
                outline.Visible = true;
                if (SelectionAspect == 0)
                    UpdateCircleSelection(x, y, Shift);
                DoSelectionChanging();
            }
        } else if (mouseInteract_ & miSelectMagicWand) {
            ApplyLayerTransforms(-1);
            DoBeforeSelectionChange();
            SelMoving = GetMovableSelectionAt(x, y, shift);
        } else {
            selectionMode = false;
        }
    }
    if (!selectionMode && (Button == classlib::mbLeft || rightLayers) &&
        (mouseInteract_ & (miMoveLayers | miResizeLayers | miRotateLayers))) {
        LayerUndoSaved = false;
        LayerGrip = 0;
        if (mouseInteract_ & miResizeLayers) {
            LayerGrip = GetGripAt(X, Y);
            if (LayerGrip != 0) {
                TPxLayer* layer = GetCurrentLayer();
                SavedLayerRect = layer->ScreenRect;
                std::copy(std::begin(layer->Corners), std::end(layer->Corners), SavedLayerCorners);
            }
        }
        if (LayerGrip == 0 && (mouseInteract_ & (miMoveLayers | miRotateLayers))) {
            if ((mouseInteract_ & miRotateLayers) && GetLayersCount() > 0 && !IsPointInLayer(X, Y, currentLayer_)) {
                RotatingLayer = currentLayer_;
                RotationAccumulator = GetCurrentLayer()->Rotate;
            } else {
                MovingLayer = FindLayerAt(X, Y, true);
                if (MovingLayer >= 0) {
                    MakeCurrent(MovingLayer);
                    DoLayerNotify(MovingLayer, pxlSelected);
                    if (!GetLayer(MovingLayer)->Locked)
                        SetTempCursor(kCurMove);
                }
            }
        }
    }
}

void TImgView::MouseMove(classlib::TShiftState Shift, int X, int Y)
{
    TPxView::MouseMove(Shift, X, Y);
    TClientBaseScope scope(*this);
    int x, y;
    ClampToLayer(X, Y, x, y);
    const bool constrain = (Shift & classlib::ssAlt) || ConstrainAlways;
    const bool captured = (Shift & (classlib::ssLeft | classlib::ssRight)) != 0;
    if (captured)
        MouseDrag(Shift, X, Y, x, y, constrain);
    else
        MouseHover(Shift, X, Y, x, y, constrain);
    if ((mouseInteract_ & miMovingScroll) && (X != LastRawX || Y != LastRawY) && !captured)
        SteerMovingScroll(X, Y);
    if (Selected && OnMouseInSel) {
        TPxMask* mask = SyncSelectionMask();
        const int bx = SelScreenToLayerX(x), by = SelScreenToLayerY(y);
        if (mask && bx >= 0 && by >= 0 && bx < mask->Width && by < mask->Height && mask->GetPixel(bx, by) != 0)
            DoMouseInSel();
    }
    LastX = x;
    LastY = y;
    LastClampedX = x;
    LastClampedY = y;
    LastRawX = X;
    LastRawY = Y;
}

void TImgView::MouseDrag(classlib::TShiftState Shift, int X, int Y, int x, int y, bool Constrain)
{
    if (mouseInteract_ & miScroll) {
        SetViewXY(DownViewX - RoundI((X - DownX) * ScrollDragFactor),
                  DownViewY - RoundI((Y - DownY) * ScrollDragFactor));
    } else if (SelGrip != 0) {
        AutoScrollToCursor();
        SelGrip = static_cast<uint8_t>(DragSelectionGrip(x, y, Constrain || SelectionAspect > 0));
        DoSelectionChanging();
    } else if (SelMoving >= 0) {
        if (GetSelectionOptions() & pxsoCanScroll)
            AutoScrollToCursor();
        MoveSelectionBy(SelScreenToLayerX(x) - SelScreenToLayerX(LastClampedX),
                        SelScreenToLayerY(y) - SelScreenToLayerY(LastClampedY),
                        (GetSelectionOptions() & pxsoCutBorders) != 0);
        DoSelectionChanging();
    } else if (RectSelecting) {
        UpdateRectSelection(x, y, Shift);
    } else if (PolySelecting) {
        AutoScrollToCursor();
        BeginPaintLock();
        AddSelectionPoint(x, y);
        EndPaintLockNoUpdate();
        Invalidate();
        DoSelectionChanging();
    } else if (CircleSelecting) {
        UpdateCircleSelection(x, y, Shift);
    } else if (MovingLayer >= 0 && MovingLayer < GetLayersCount()) {
        DragLayerPosition(X, Y);
    } else if (RotatingLayer >= 0 && RotatingLayer < GetLayersCount()) {
        DragLayerRotation(X, Y, (Shift & classlib::ssShift) != 0);
    } else if (LayerGrip != 0 && GetLayersCount() > 0) {
        DragLayerGrip(X, Y, Constrain);
    }
}

void TImgView::DragLayerPosition(int X, int Y)
{
    TPxLayer* layer = GetLayer(MovingLayer);
    if (layer->Locked)
        return;
    SaveLayerUndo(false);
    AutoScrollToCursor();
    const int ox = layer->PosX, oy = layer->PosY;
    layer->PosX += ScreenToBitmapX(X) - ScreenToBitmapX(LastRawX);
    layer->PosY += ScreenToBitmapY(Y) - ScreenToBitmapY(LastRawY);
    if (layer->PosX != ox || layer->PosY != oy)
        LayerMoved = true;
    SetInteractionHint(L"X=" + std::to_wstring(layer->PosX) + L" Y=" + std::to_wstring(layer->PosY), X, Y,
                       L"X=000 Y=000");
    layer->MaskCache.reset();
    Update();
    DoLayerNotify(MovingLayer, pxlMoving);
}

void TImgView::DragLayerRotation(int X, int Y, bool Snap)
{
    TPxLayer* layer = GetLayer(RotatingLayer);
    if (layer->Locked)
        return;
    SaveLayerUndo(true);
    // A quarter degree per bitmap pixel, the sign by the side of the
    // rotation centre the pointer is on.
    double dA = (ScreenToBitmapX(X) - ScreenToBitmapX(LastRawX)) / 4.0;
    double dB = (ScreenToBitmapY(Y) - ScreenToBitmapY(LastRawY)) / 4.0;
    int cx, cy;
    RotationCentre(*layer, cx, cy);
    if (cx < X)
        dB = -dB;
    if (cy > Y)
        dA = -dA;
    RotationAccumulator += dA + dB;
    double angle = RotationAccumulator;
    if (Snap && RotationSnap != 0)
        angle = static_cast<double>(RoundI(RotationAccumulator / RotationSnap)) * RotationSnap;
    layer->SetRotation(angle);
    SetInteractionHint(PxFloatToStrDot(layer->Rotate) + L"\u00B0", X, Y, L"0000\u00B0");
    layer->MaskCache.reset();
    Update();
    DoLayerNotify(RotatingLayer, pxlRotating);
}

void TImgView::DragLayerGrip(int X, int Y, bool Constrain)
{
    TPxLayer* layer = GetCurrentLayer();
    if (layer->Locked)
        return;
    SaveLayerUndo(false);
    AutoScrollToCursor();
    ResizeLayer(X, Y, Constrain);
    SetInteractionHint(std::to_wstring(layer->GetWidth()) + L" x " + std::to_wstring(layer->GetHeight()), X, Y,
                       L"0000 x 0000");
    layer->MaskCache.reset();
    Update();
    DoLayerNotify(currentLayer_, pxlResizing);
}

void TImgView::MouseHover(classlib::TShiftState Shift, int X, int Y, int& x, int& y, bool Constrain)
{
    const bool shift = (Shift & classlib::ssShift) != 0;
    if (PolySelecting && !LassoSelecting) {
        // The rubber line follows the pointer (at 45 degree steps when
        // constrained); the pointer so moved is the one remembered.
        const TPxSelectionOutline& outline = GetSelectionOutline();
        if (Constrain && !outline.Points.empty() && !PxIsSeparator(outline.Points.back())) {
            const POINT v = outline.Points.back();
            PxConstrainTo45(SelLayerToScreenX(v.x), SelLayerToScreenY(v.y), x, y);
        }
        DrawRubberLine();
        LastX = x;
        LastY = y;
        DrawRubberLine();
        DoSelectionChanging();
    }
    if (mouseInteract_ & (miSelect | miSelectPolygon | miSelectCircle | miSelectMagicWand | miSelectLasso))
        ShowSelectionHoverCursor(X, Y, shift);
    else if ((mouseInteract_ & miRotateLayers) && GetLayersCount() > 0)
        ShowRotationHoverCursor(X, Y);
    else if (mouseInteract_ & (miResizeLayers | miMoveLayers))
        ShowLayerHoverCursor(X, Y);
}

void TImgView::ShowSelectionHoverCursor(int X, int Y, bool Shift)
{
    const int g = GetSelectionGripAt(X, Y, Shift);
    DoMouseInResizingGrip(g);
    if (g != 0) {
        SetTempCursor(GripCursor(g));
    } else if (GetMovableSelectionAt(X, Y, Shift) == 0) {
        SetTempCursor(kCurMove);
    } else if (Shift && ShiftAddsSelection) {
        if (GetCursor() == kCurSelect)
            SetTempCursor(kCurSelectAdd);
        else if (GetCursor() == kCurSelect2)
            SetTempCursor(kCurSelect2Add);
    } else {
        RestoreCursor();
    }
}

void TImgView::ShowRotationHoverCursor(int X, int Y)
{
    if (IsPointInLayer(X, Y, currentLayer_)) {
        RestoreCursor();
        return;
    }
    // The quadrant around the rotation centre; on one of its axes the
    // cursor stays.
    int cx, cy;
    RotationCentre(*GetCurrentLayer(), cx, cy);
    if (X < cx && Y < cy)
        SetTempCursor(1814);
    else if (X < cx && Y > cy)
        SetTempCursor(1811);
    else if (X > cx && Y < cy)
        SetTempCursor(1812);
    else if (X > cx && Y > cy)
        SetTempCursor(1813);
}

void TImgView::ShowLayerHoverCursor(int X, int Y)
{
    int g = 0;
    if ((mouseInteract_ & miResizeLayers) && GetLayersCount() > 0 && !GetCurrentLayer()->Locked)
        g = GetGripAt(X, Y);
    if (g != 0) {
        SetTempCursor(GripCursor(g));
        return;
    }
    const int l = FindLayerAt(X, Y, true);
    if (l >= 0 && !GetLayer(l)->Locked && (mouseInteract_ & miMoveLayers))
        SetTempCursor(kCurMove);
    else
        RestoreCursor();
}

void TImgView::SteerMovingScroll(int X, int Y)
{
    const int vw = std::max(GetViewWidth(), 1);
    const int vh = std::max(GetViewHeight(), 1);
    int mx = 0, my = 0;
    GetMaxViewXY(mx, my);
    const double fx = std::min(std::max(X, 0), vw - 1) / static_cast<double>(vw) - 0.02;
    const double fy = std::min(std::max(Y, 0), vh - 1) / static_cast<double>(vh) - 0.02;
    StartMovingScroll(RoundI(fx * 1.05 * mx), RoundI(fy * 1.05 * my));
}

void TImgView::MouseUp(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y)
{
    TPxView::MouseUp(Button, Shift, X, Y);
    SetInteractionHint(L"", 0, 0, L"");
    int x, y;
    ClampToLayer(X, Y, x, y);
    TClientBaseScope scope(*this);
    const bool left = Button == classlib::mbLeft;
    const bool shiftAdd = (Shift & classlib::ssShift) && ShiftAddsSelection;
    const bool moved = x != AnchorX || y != AnchorY;
    bool changed = false;
    auto rebuildMask = [&] {
        if (!shiftAdd)
            SyncSelectionMask()->Clear();
        SelectFromPolygon();
    };
    auto updateReason3 = [&] {
        updateReason_ = 3;
        Update();
        Invalidate();
    };
    if ((mouseInteract_ & miZoom) && X == AnchorX && Y == AnchorY && !IsEmpty() &&
        (Button == classlib::mbLeft || Button == classlib::mbRight)) {
        double z = Button == classlib::mbRight ? NextZoomIn(zoomX_) : NextZoomOut(zoomX_);
        if (mouseInteract_ & miScroll)
            SetCursor(kCurZoom);
        if (Button == classlib::mbRight)
            DoZoomInSwapped(z);
        else
            DoZoomOutSwapped(z);
        if (z != zoomX_ || z != zoomY_)
            ZoomAt(X, Y, z, false);
        PolySelecting = false;
    } else if (left && (mouseInteract_ & miScroll)) {
        if (HasScrollRange())
            SetViewXY(DownViewX - RoundI((X - DownX) * ScrollDragFactor),
                      DownViewY - RoundI((Y - DownY) * ScrollDragFactor));
    } else if (left && (mouseInteract_ & miSelectZoom)) {
        ZoomSelection(ZoomSelectFit, true);
        RectSelecting = false;
        PopSelection(true, 1);
    } else if (left && (mouseInteract_ & miSelect)) {
        if (moved || SelGrip != 0 || SelMoving >= 0) {
            if (RectSelecting || SelGrip != 0)
                rebuildMask();
            RectSelecting = false;
            SelGrip = 0;
            SelMoving = -1;
            changed = true;
            updateReason3();
        } else {
            Deselect();
            changed = true;
        }
    } else if (left && (mouseInteract_ & miSelectCircle)) {
        if (!moved && SelMoving < 0 && SelectionAspect != 0) {
            Deselect();
        } else {
            if (CircleSelecting)
                rebuildMask();
            CircleSelecting = false;
            SelMoving = -1;
            changed = true;
            updateReason3();
        }
    } else if (left && (mouseInteract_ & miSelectPolygon) && !LassoSelecting) {
        if (SelMoving >= 0) {
            SelMoving = -1;
            changed = true;
        }
        updateReason3();
    } else if (left && (mouseInteract_ & miSelectMagicWand)) {
        if (SelMoving < 0) {
            SetTempCursor(classlib::crHourGlass);
            SelectMagicWand(X, Y, shiftAdd);
            RestoreCursor();
        } else {
            SelMoving = -1;
        }
        changed = true;
        updateReason3();
    } else if (left && (mouseInteract_ & miSelectLasso)) {
        if (!moved && SelMoving < 0) {
            Deselect();
        } else if (LassoSelecting) {
            rebuildMask();
        }
        LassoSelecting = false;
        PolySelecting = false;
        SelMoving = -1;
        changed = true;
        updateReason3();
    }
    if (left) {
        if (MovingRectSel && moved) {
            SyncSelectionMask()->Clear();
            SelectFromPolygon();
        }
        if (MovingLayer >= 0) {
            const int l = MovingLayer;
            MovingLayer = -1;
            RestoreCursor();
            if (LayerMoved)
                DoLayerNotify(l, pxlMoved);
            LayerMoved = false;
            Invalidate();
        }
        if (RotatingLayer >= 0) {
            const int l = RotatingLayer;
            RotatingLayer = -1;
            if (moved)
                DoLayerNotify(l, pxlRotated);
            Invalidate();
        } else if ((mouseInteract_ & miRotateLayers) && !moved) {
            const int l = FindLayerAt(X, Y, true);
            if (l >= 0) {
                MakeCurrent(l);
                DoLayerNotify(l, pxlSelected);
            }
        }
        if (LayerGrip != 0) {
            LayerGrip = 0;
            if (moved)
                DoLayerNotify(currentLayer_, pxlResized);
            LayerMoved = false;
            Update();
        }
        SelMoving = -1;
        SelGrip = 0;
        RectSelecting = false;
        CircleSelecting = false;
        LassoSelecting = false;
        if (changed)
            FireSelectionChange(*this);
    } else if (Button == classlib::mbRight && (GetSelectionOptions() & pxsoRightButtonTerminatePolySelect) &&
               PolySelecting && !LassoSelecting) {
        // The vertex of this click stays; Shift adds the polygon.
        SwapSelectionBase();
        FinishPolygonSelection((Shift & classlib::ssShift) != 0, false);
        SwapSelectionBase();
    }
    filterInUse_ = savedFilter_;
}

void TImgView::KeyDown(WORD& Key, classlib::TShiftState Shift)
{
    TPxView::KeyDown(Key, Shift);
    ApplyShiftCursor(true, Shift);
}

void TImgView::KeyUp(WORD& Key, classlib::TShiftState Shift)
{
    TPxView::KeyUp(Key, Shift);
    ApplyShiftCursor(false, Shift);
}

void TImgView::KeyPress(wchar_t& Key) { TPxView::KeyPress(Key); }

}  // namespace imaging
