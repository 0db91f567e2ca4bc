// The mouse side of TImgVect: putting, selecting, moving and resizing
// objects, entering polylines and angles, editing polyline points, live
// measuring with a hint box, and the grips.
#include <algorithm>
#include <cmath>
#include <functional>

#include "classlib/Bitmap.h"
#include "classlib/Picture.h"
#include "classlib/SysUtils.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxGeometry.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/views/vector/ImgVect.h"
#include "imaging/views/view/PxDrawing.h"
#include "imaging/views/view/PxGDIPlus.h"

namespace imaging {

namespace {

int RoundI(double v) { return static_cast<int>(classlib::Round(v)); }

constexpr classlib::TCursor kCurMove2 = 1786, kCurMoveY = 1787, kCurMove1 = 1788, kCurMoveX = 1789, kCurMove = 1790,
                            kCurAddPoint = 1791, kCurDelPoint = 1792;

bool IsLineKind(uint8_t K) { return K == pxvoLine || K == pxvoRuler || K == pxvoLineLabel; }

classlib::TCursor GripCursor(int Code)
{
    switch (Code) {
    case 1:
    case 2:
        return kCurMove2;
    case 3:
        return kCurMove;
    case 4:
    case 5:
    case 10:
    case 11:
    case 12:
        return kCurMove1;
    case 6:
    case 7:
        return kCurMoveX;
    case 8:
    case 9:
        return kCurMoveY;
    default:
        return 0;
    }
}

// P held to the nearest of the eight directions from Anchor when Ctrl is
// down, otherwise P itself.
POINT ConstrainedTo45If(bool Ctrl, POINT Anchor, POINT P)
{
    if (Ctrl) {
        int x = P.x, y = P.y;
        PxConstrainTo45(Anchor.x, Anchor.y, x, y);
        P = POINT{x, y};
    }
    return P;
}

}  // namespace

void TImgVect::ClampToImageArea(int X, int Y, int& OutX, int& OutY)
{
    OutX = std::clamp(X, GetOffsetX(), std::max(GetOffsetX(), GetOffsetX() + GetExtentX() - 1));
    OutY = std::clamp(Y, GetOffsetY(), std::max(GetOffsetY(), GetOffsetY() + GetExtentY() - 1));
}

void TImgVect::AutoScroll()
{
    if (HandleAllocated())
        AutoScrollToCursor();
}

// ---- rubber bands

namespace {

// Draws on DC (the view's window when null) with the rubber pen (pmNot: a
// second drawing erases the first).
template <class F>
void OnWindow(TImgVect& View, classlib::TPen* Pen, F&& Draw, HDC Given = nullptr)
{
    if (!View.HandleAllocated())
        return;
    HDC dc = Given ? Given : ::GetDC(View.GetHandle());
    if (!dc)
        return;
    const int saved = ::SaveDC(dc);
    HPEN pen = ::CreatePen(PS_SOLID, std::max(Pen->GetWidth(), 1), static_cast<COLORREF>(classlib::ColorToRGB(Pen->GetColor())));
    ::SelectObject(dc, pen);
    ::SelectObject(dc, ::GetStockObject(NULL_BRUSH));
    ::SetROP2(dc, Pen->GetMode() == classlib::pmNot ? R2_NOT : R2_COPYPEN);
    Draw(dc);
    ::RestoreDC(dc, saved);
    ::DeleteObject(pen);
    if (!Given)
        ::ReleaseDC(View.GetHandle(), dc);
}

template <class Shape>
void DrawRubberShape(HDC DC, Shape Kind, POINT A, POINT B)
{
    switch (Kind) {
    case Shape::Line:
        ::MoveToEx(DC, A.x, A.y, nullptr);
        ::LineTo(DC, B.x, B.y);
        break;
    case Shape::Box: {
        const POINT p[5] = {A, {B.x, A.y}, B, {A.x, B.y}, A};
        ::Polyline(DC, p, 5);
        break;
    }
    case Shape::Ellipse:
        ::Ellipse(DC, std::min(A.x, B.x), std::min(A.y, B.y), std::max(A.x, B.x) + 1, std::max(A.y, B.y) + 1);
        break;
    default:
        break;
    }
}

}  // namespace

void TImgVect::ShowRubber(TRubberShape Shape)
{
    if (RubberPen->GetMode() != classlib::pmNot) {
        // A copying pen draws over; erasing repaints from the back buffer.
        OnWindow(*this, RubberPen.get(), [&](HDC dc) { DrawRubberShape(dc, Shape, pressPoint_, currentPoint_); });
        return;
    }
    EraseRubber();
    rubber_.Shape = Shape;
    rubber_.A = pressPoint_;
    rubber_.B = currentPoint_;
    OnWindow(*this, RubberPen.get(), [&](HDC dc) { DrawRubberShape(dc, Shape, rubber_.A, rubber_.B); });
}

void TImgVect::EraseRubber()
{
    if (rubber_.Shape == TRubberShape::None)
        return;
    const TRubberShape shape = rubber_.Shape;
    rubber_.Shape = TRubberShape::None;
    if (RubberPen->GetMode() == classlib::pmNot)
        OnWindow(*this, RubberPen.get(), [&](HDC dc) { DrawRubberShape(dc, shape, rubber_.A, rubber_.B); });
}

void TImgVect::DragRubber(bool Erase, TRubberShape Shape)
{
    const POINT a = pressPoint_, b = currentPoint_;
    if (Erase && RubberPen->GetMode() != classlib::pmNot) {
        PaintRect(RECT{std::min(a.x, b.x) - 1, std::min(a.y, b.y) - 1, std::max(a.x, b.x) + 2, std::max(a.y, b.y) + 2});
        return;
    }
    if (Erase)
        EraseRubber();
    else
        ShowRubber(Shape);
}

void TImgVect::DrawRubberLine(bool Erase) { DragRubber(Erase, TRubberShape::Line); }

void TImgVect::DrawRubberBox(bool Erase) { DragRubber(Erase, TRubberShape::Box); }

void TImgVect::DrawRubberEllipse(bool Erase) { DragRubber(Erase, TRubberShape::Ellipse); }

void TImgVect::PaintRubber(HDC DC)
{
    if (rubber_.Shape != TRubberShape::None && RubberPen->GetMode() == classlib::pmNot)
        OnWindow(*this, RubberPen.get(), [&](HDC dc) { DrawRubberShape(dc, rubber_.Shape, rubber_.A, rubber_.B); }, DC);
}

void TImgVect::DrawOnWindow(const std::function<void(TPxCanvas*)>& Draw)
{
    if (!HandleAllocated())
        return;
    classlib::TCanvas* c = GetCanvas();
    HDC dc = ::GetDC(GetHandle());
    if (!dc)
        return;
    c->SetHandle(dc);
    {
        TPxCanvas canvas(c, objAntialias_, true);
        Draw(&canvas);
    }
    c->SetHandle(nullptr);
    ::ReleaseDC(GetHandle(), dc);
}

void TImgVect::DrawRulerInProgress()
{
    DrawOnWindow([&](TPxCanvas* canvas) {
        RECT drawn{};
        DrawRuler(canvas, pressPoint_, currentPoint_, -1, default_.MeasureUnit, default_.PenColor, default_.PenWidth,
                  default_.RulerStyle, 100 / GetZoomX(), 100 / GetZoomY(), drawn,
                  default_.HasFont ? &default_.Font : nullptr);
    });
}

void TImgVect::DrawAngleInProgress()
{
    TPxVectObject* a = ObjectRecord(angleObject_);
    if (!a || !HandleAllocated())
        return;
    POINT pts[3] = {a->AnglePoints[0], a->AnglePoints[1], a->AnglePoints[2]};
    for (POINT& p : pts)
        if (p.x == PxAngleUnset) {
            p = POINT{ScreenToBitmapX(currentPoint_.x), ScreenToBitmapY(currentPoint_.y)};
            break;
        }
    DrawOnWindow([&](TPxCanvas* canvas) {
        RECT drawn{};
        DrawAngle(canvas, pts, a->PenColor, a->PenWidth, drawn, true, 1, 100 / GetZoomX(), 100 / GetZoomY(),
                  a->HasFont ? &a->Font : nullptr);
    });
}

// ---- grips

void TImgVect::DrawGrip(classlib::TCanvas* Canvas, int X, int Y, bool Centre)
{
    if (gripImage_->GetGraphic()) {
        GripSize = std::max(gripImage_->GetWidth(), gripImage_->GetHeight()) / 2;
        Canvas->Draw(X - gripImage_->GetWidth() / 2, Y - gripImage_->GetHeight() / 2, gripImage_->GetGraphic());
        return;
    }
    TPxCanvas c(Canvas, true, true);
    c.GetPen()->SetWidth(static_cast<float>(Centre ? 1 : GripPen->GetWidth()));
    c.GetPen()->SetColor(GripPen->GetColor());
    c.GetPen()->SetStyle(GripPen->GetStyle());
    c.GetPen()->SetMode(GripPen->GetMode());
    c.GetPen()->SetTransparency(180);
    c.GetBrush()->SetColor(GripBrush->GetColor());
    c.GetBrush()->SetStyle(GripBrush->GetStyle());
    c.GetBrush()->SetTransparency(180);
    const int s = GripSize;
    if (Centre) {
        const POINT p[4] = {{X, Y - s}, {X + s, Y}, {X, Y + s}, {X - s, Y}};
        c.Polygon(p, 4);
    } else if (GripShape == 0) {
        c.Rectangle(X - s, Y - s, X + s, Y + s);
    } else {
        c.Ellipse(X - s, Y - s, X + s, Y + s);
    }
}

bool TImgVect::IsOnGrip(int GripX, int GripY, int X, int Y) const
{
    return X >= GripX - GripSize && X < GripX + GripSize && Y >= GripY - GripSize && Y < GripY + GripSize;
}

void TImgVect::ObjectCorners(TPxVectObject& R, POINT (&P)[4])
{
    // P[0] (Left, Top), P[1] (Right, Bottom), P[2] (Right, Top), P[3] (Left,
    // Bottom) in client coordinates.
    int x2 = BitmapToScreenX(R.Right), y2 = BitmapToScreenY(R.Bottom);
    if (R.Kind == pxvoBitmap && (GetZoomX() != 100 || GetZoomY() != 100)) {
        x2 = BitmapToScreenX(R.Right + 1) - 1;
        y2 = BitmapToScreenY(R.Bottom + 1) - 1;
    }
    const int x1 = BitmapToScreenX(R.Left), y1 = BitmapToScreenY(R.Top);
    P[0] = POINT{x1, y1};
    P[1] = POINT{x2, y2};
    P[2] = POINT{x2, y1};
    P[3] = POINT{x1, y2};
}

bool TImgVect::ObjectOnScreen(TPxVectObject& R)
{
    POINT p[4];
    ObjectCorners(R, p);
    const int l = std::min(p[0].x, p[1].x), r = std::max(p[0].x, p[1].x);
    const int t = std::min(p[0].y, p[1].y), b = std::max(p[0].y, p[1].y);
    return !(r < GetOffsetX() || l > GetOffsetX() + GetExtentX() || b < GetOffsetY() || t > GetOffsetY() + GetExtentY());
}

void TImgVect::DrawObjectGrips(classlib::TCanvas* Canvas, TPxVectObject& R)
{
    if (!ObjectOnScreen(R) || !(R.Options & pxvoptSelectable))
        return;
    if (R.Kind == pxvoAngle) {
        for (const POINT& a : R.AnglePoints)
            if (a.x != PxAngleUnset)
                DrawGrip(Canvas, BitmapToScreenX(a.x), BitmapToScreenY(a.y), false);
    } else {
        POINT p[4];
        ObjectCorners(R, p);
        DrawGrip(Canvas, p[0].x, p[0].y, false);
        DrawGrip(Canvas, p[1].x, p[1].y, false);
        if (!IsLineKind(R.Kind)) {
            DrawGrip(Canvas, p[2].x, p[2].y, false);
            DrawGrip(Canvas, p[3].x, p[3].y, false);
            const int mx = (p[0].x + p[1].x) / 2, my = (p[0].y + p[1].y) / 2;
            DrawGrip(Canvas, p[0].x, my, false);
            DrawGrip(Canvas, p[1].x, my, false);
            DrawGrip(Canvas, mx, p[0].y, false);
            DrawGrip(Canvas, mx, p[1].y, false);
        }
    }
    if (CenterGrip) {
        POINT p[4];
        ObjectCorners(R, p);
        DrawGrip(Canvas, (p[0].x + p[1].x) / 2, (p[0].y + p[1].y) / 2, true);
    }
}

void TImgVect::DrawSelectionGrips(classlib::TCanvas* Canvas)
{
    for (int h : selection_)
        if (TPxVectObject* r = ObjectRecord(h))
            DrawObjectGrips(Canvas, *r);
}

int TImgVect::FindGrip(int X, int Y, int& Code)
{
    const int ix = ScreenToBitmapX(X), iy = ScreenToBitmapY(Y);
    for (size_t i = 0; i < selection_.size(); ++i) {
        TPxVectObject* r = ObjectRecord(selection_[i]);
        if (!r || !ObjectOnScreen(*r))
            continue;
        POINT p[4];
        ObjectCorners(*r, p);
        int code = 0;
        if (IsOnGrip(p[0].x, p[0].y, X, Y))
            code = 1;
        else if (IsOnGrip(p[1].x, p[1].y, X, Y))
            code = 2;
        else if (!CenterGrip && ObjectDistance(*r, ix, iy) < 1)
            code = 3;
        else if (CenterGrip && IsOnGrip((p[0].x + p[1].x) / 2, (p[0].y + p[1].y) / 2, X, Y))
            code = 3;
        if (!IsLineKind(r->Kind)) {
            const int mx = (p[0].x + p[1].x) / 2, my = (p[0].y + p[1].y) / 2;
            if (IsOnGrip(p[2].x, p[2].y, X, Y))
                code = 4;
            if (IsOnGrip(p[3].x, p[3].y, X, Y))
                code = 5;
            if (IsOnGrip(p[0].x, my, X, Y))
                code = 6;
            if (IsOnGrip(p[1].x, my, X, Y))
                code = 7;
            if (IsOnGrip(mx, p[0].y, X, Y))
                code = 8;
            if (IsOnGrip(mx, p[1].y, X, Y))
                code = 9;
        }
        if (r->Kind == pxvoAngle) {
            code = 3;
            for (int k = 0; k < 3; ++k)
                if (IsOnGrip(BitmapToScreenX(r->AnglePoints[k].x), BitmapToScreenY(r->AnglePoints[k].y), X, Y))
                    code = 10 + k;
        }
        if (r->Kind == pxvoLineLabel && ix >= r->LabelRect.left && ix <= r->LabelRect.right &&
            iy >= r->LabelRect.top && iy <= r->LabelRect.bottom)
            code = 2;
        if (code != 0 && !(r->Options & pxvoptSizeable))
            code = 3;
        if (code != 0) {
            Code = code;
            return static_cast<int>(i);
        }
    }
    Code = 0;
    return -4;
}

// ---- hit testing

double TImgVect::BitmapObjectDistance(TPxVectObject& R, int IX, int IY)
{
    const double d = PxDistToRectangle(IX, IY, R.Left, R.Top, R.Right, R.Bottom, true, 1);
    TPxBitmap* b = GetSharedBitmap(R.BitmapIndex);
    if (d != 0 || !b || !BitmapAlphaHit || !b->HasAlphaChannel())
        return d;
    const double sx = static_cast<double>(R.Right - R.Left) / b->GetWidth();
    const double sy = static_cast<double>(R.Bottom - R.Top) / b->GetHeight();
    const int x = std::clamp(sx != 0 ? RoundI((IX - R.Left) / sx) : 0, 0, b->GetWidth() - 1);
    const int y = std::clamp(sy != 0 ? RoundI((IY - R.Top) / sy) : 0, 0, b->GetHeight() - 1);
    return b->GetAlpha(x, y) != 0 ? 0 : 1000;
}

double TImgVect::ObjectDistance(TPxVectObject& R, int IX, int IY)
{
    switch (R.Kind) {
    case pxvoLine:
    case pxvoLineLabel: {
        double d = PxDistPointToSegment(IX, IY, R.Left, R.Top, R.Right, R.Bottom);
        if (R.PenWidth > 1)
            d = std::max(0.0, d - R.PenWidth / 2.0);
        if (R.Kind == pxvoLineLabel && R.LabelRect.right > R.LabelRect.left)
            d = std::min(d, PxDistToRectangle(IX, IY, R.LabelRect.left, R.LabelRect.top, R.LabelRect.right,
                                              R.LabelRect.bottom, true, 1));
        return d;
    }
    case pxvoRuler:
        return PxDistPointToSegment(IX, IY, R.Left, R.Top, R.Right, R.Bottom);
    case pxvoEllipse:
        return PxDistToEllipse(IX, IY, R.Left, R.Top, R.Right, R.Bottom, R.BrushStyle != classlib::bsClear, R.PenWidth);
    case pxvoArc:
        return PxDistToEllipse(IX, IY, R.Left, R.Top, R.Right, R.Bottom, false, R.PenWidth);
    case pxvoBitmap:
        return BitmapObjectDistance(R, IX, IY);
    case pxvoPolyline: {
        double sx, sy;
        PolylineScale(R, sx, sy);
        const int n = static_cast<int>(R.Points.size());
        if (R.Closed && R.BrushStyle != classlib::bsClear &&
            PxPointInPolygonZoomed(IX, IY, R.Points.data(), n, sx, sy, R.Left, R.Top, R.PointsBounds.left,
                                   R.PointsBounds.top))
            return 0;
        return PxDistPointToPolyline(IX, IY, R.Points.data(), n, R.Closed, R.PenWidth, sx, sy, R.Left, R.Top,
                                     R.PointsBounds.left, R.PointsBounds.top);
    }
    case pxvoAngle: {
        const POINT* a = R.AnglePoints;
        double d = 1000000;
        if (a[0].x != PxAngleUnset && a[1].x != PxAngleUnset)
            d = PxDistPointToSegment(IX, IY, a[0].x, a[0].y, a[1].x, a[1].y);
        if (a[1].x != PxAngleUnset && a[2].x != PxAngleUnset)
            d = std::min(d, PxDistPointToSegment(IX, IY, a[1].x, a[1].y, a[2].x, a[2].y));
        return d;
    }
    case pxvoBox:
        return PxDistToRectangle(IX, IY, R.Left, R.Top, R.Right, R.Bottom,
                                 R.BrushStyle != classlib::bsClear || SelectBoxInterior, R.PenWidth);
    case pxvoText:
    case pxvoMemo:
    case pxvoCustom:
        return PxDistToRectangle(IX, IY, R.Left, R.Top, R.Right, R.Bottom, true, 1);
    default:
        return -1;
    }
}

int TImgVect::FindObjectAt(int IX, int IY, bool OnlySelectable, double& Distance)
{
    const double zx = GetZoomX() / 100, zy = GetZoomY() / 100;
    const int sl = static_cast<int>(GetViewX() / zx), st = static_cast<int>(GetViewY() / zy);
    int sr = static_cast<int>((GetViewX() + GetExtentX()) / zx), sb = static_cast<int>((GetViewY() + GetExtentY()) / zy);
    if (sr == 0)
        sr = INT32_MAX;
    if (sb == 0)
        sb = INT32_MAX;
    Distance = 2147483647;
    int best = -3;
    for (auto it = drawOrder_.rbegin(); it != drawOrder_.rend(); ++it) {
        TPxVectObject& r = objects_[static_cast<size_t>(*it)];
        if (!(r.Options & pxvoptVisible))
            continue;
        if (OnlySelectable && !(r.Options & pxvoptSelectable))
            continue;
        const int l = std::min(r.Left, r.Right), rr = std::max(r.Left, r.Right);
        const int t = std::min(r.Top, r.Bottom), b = std::max(r.Top, r.Bottom);
        if (rr < sl || l > sr || b < st || t > sb)
            continue;
        const double d = ObjectDistance(r, IX, IY);
        if (d >= 0 && d < Distance) {
            Distance = d;
            best = *it;
        }
    }
    if (best >= 0 && HitTolerance >= 0 && Distance > HitTolerance * (100 / GetZoomX()))
        return -3;
    return best;
}

// ---- selection by mouse

void TImgVect::SelectAtPoint(classlib::TShiftState Shift, int X, int Y, bool OnPress)
{
    double d = 0;
    const int hit = FindObjectAt(ScreenToBitmapX(X), ScreenToBitmapY(Y), true, d);
    const bool shift = (Shift & classlib::ssShift) != 0;
    if (hit < 0) {
        if (!shift) {
            for (int h : std::vector<int>(selection_))
                DoUserDeselectObject(h);
            UnSelAllObjects();
        }
        return;
    }
    selectDeferred_ = IsSelObject(hit) && SelectOnMouseDown && OnPress;
    if (selectDeferred_)
        return;
    if (!IsSelObject(hit)) {
        if (!shift) {
            for (int h : std::vector<int>(selection_))
                DoUserDeselectObject(h);
            UnSelAllObjectsNoUpdate();
        }
        AddSelObject(hit);
        DoUserSelectObject(hit);
    } else if (shift) {
        DoUserDeselectObject(hit);
        UnSelObject(hit);
    } else {
        for (int h : std::vector<int>(selection_))
            if (h != hit)
                DoUserDeselectObject(h);
        UnSelAllObjectsNoUpdate();
        AddSelObject(hit);
    }
    Update();
}

void TImgVect::SelectObjectsInRect(int hobj, int X1, int Y1, int X2, int Y2)
{
    auto one = [&](int h) {
        TPxVectObject& r = objects_[static_cast<size_t>(h)];
        const int l = std::min(r.Left, r.Right), rr = std::max(r.Left, r.Right);
        const int t = std::min(r.Top, r.Bottom), b = std::max(r.Top, r.Bottom);
        if (l >= X1 && rr <= X2 && t >= Y1 && b <= Y2 && !IsSelObject(h))
            AddSelObjectNoNotify(h);
    };
    if (hobj == -3) {
        for (int h : drawOrder_)
            one(h);
        return;
    }
    const int h = ResolveHandle(hobj);
    if (h >= 0)
        one(h);
}

void TImgVect::SelectionBounds(RECT& Rect)
{
    TPxBitmap* img = GetPxBitmap();
    Rect = RECT{img ? img->GetWidth() : 0, img ? img->GetHeight() : 0, 0, 0};
    for (int h : selection_) {
        const TPxVectObject& r = objects_[static_cast<size_t>(h)];
        Rect.left = std::min<LONG>(Rect.left, std::min(r.Left, r.Right));
        Rect.top = std::min<LONG>(Rect.top, std::min(r.Top, r.Bottom));
        Rect.right = std::max<LONG>(Rect.right, std::max(r.Left, r.Right));
        Rect.bottom = std::max<LONG>(Rect.bottom, std::max(r.Top, r.Bottom));
    }
}

// ---- geometry of dragging

void TImgVect::OffsetObject(int hobj, int DX, int DY)
{
    TPxVectObject* r = ObjectRecord(hobj);
    if (!r || hobj == -1)
        return;
    r->Left += DX;
    r->Right += DX;
    r->Top += DY;
    r->Bottom += DY;
    if (r->Kind == pxvoAngle)
        for (POINT& p : r->AnglePoints)
            if (p.x != PxAngleUnset) {
                p.x += DX;
                p.y += DY;
            }
}

void TImgVect::ResizeObject(int hobj, int DLeft, int Grip, bool KeepAspect, int DBottom, int DRight, int DTop)
{
    TPxVectObject* r = ObjectRecord(hobj);
    if (!r || hobj == -1)
        return;
    r->Left += DLeft;
    r->Top += DTop;
    r->Right += DRight;
    r->Bottom += DBottom;
    if (!KeepAspect)
        return;
    const RECT s = r->SavedRect;
    const double sw = s.right - s.left, sh = s.bottom - s.top;
    if (sw == 0 || sh == 0)
        return;
    if (Grip == 1 || Grip == 2 || Grip == 4 || Grip == 5 || Grip == 6 || Grip == 7) {
        const double nh = (r->Right - r->Left) * sh / sw;
        if (nh == 0)
            return;
        if (Grip == 1 || Grip == 4)
            r->Top = r->Bottom - RoundI(nh);
        else
            r->Bottom = r->Top + RoundI(nh);
    } else if (Grip == 8 || Grip == 9) {
        const double nw = (r->Bottom - r->Top) * sw / sh;
        if (nw == 0)
            return;
        if (Grip == 8)
            r->Left = r->Right - RoundI(nw);
        else
            r->Right = r->Left + RoundI(nw);
    }
}

// ---- polyline editing

int TImgVect::FindPolylineVertex(int X, int Y)
{
    if (selection_.size() != 1)
        return -1;
    TPxVectObject* r = ObjectRecord(selection_.front());
    if (!r || r->Kind != pxvoPolyline)
        return -1;
    for (size_t i = 0; i < r->ScreenPoints.size(); ++i)
        if (std::abs(r->ScreenPoints[i].x - X) <= 3 && std::abs(r->ScreenPoints[i].y - Y) <= 3)
            return static_cast<int>(i);
    return -1;
}

int TImgVect::FindPolylineSegment(int X, int Y)
{
    if (selection_.size() != 1)
        return -1;
    TPxVectObject* r = ObjectRecord(selection_.front());
    if (!r || r->Kind != pxvoPolyline)
        return -1;
    const auto& p = r->ScreenPoints;
    const size_t n = p.size();
    for (size_t i = 0; i + 1 < n; ++i)
        if (PxDistPointToSegment(X, Y, p[i].x, p[i].y, p[i + 1].x, p[i + 1].y) < 1.5)
            return static_cast<int>(i);
    if (r->Closed && n > 2 && PxDistPointToSegment(X, Y, p[n - 1].x, p[n - 1].y, p[0].x, p[0].y) < 1.5)
        return static_cast<int>(n - 1);
    return -1;
}

// ---- measuring

double TImgVect::SelectionPerimeter()
{
    const auto& pts = GetSelectionOutline().Points;
    double sum = 0;
    size_t first = 0;
    auto seg = [&](const POINT& a, const POINT& b) {
        sum += std::sqrt(std::pow((b.x - a.x) * UnitSizeX, 2) + std::pow((b.y - a.y) * UnitSizeY, 2));
    };
    for (size_t i = 1; i < pts.size(); ++i) {
        if (pts[i].x == PxPolygonSeparator) {
            if (i > first && pts[i - 1].x != PxPolygonSeparator)
                seg(pts[i - 1], pts[first]);
            first = i + 1;
            continue;
        }
        if (i > first && pts[i - 1].x != PxPolygonSeparator)
            seg(pts[i - 1], pts[i]);
    }
    if (!PolySelecting && pts.size() > 2 && first < pts.size() && pts.back().x != PxPolygonSeparator)
        seg(pts.back(), pts[first]);
    if (PolySelecting && PerimeterToMouse && !pts.empty() && pts.back().x != PxPolygonSeparator)
        seg(pts.back(), POINT{ScreenToBitmapX(lastMouse_.x), ScreenToBitmapY(lastMouse_.y)});
    return sum;
}

void TImgVect::RefreshMeasureHint(int X, int Y)
{
    EraseMeasureHint();
    DrawMeasureHint(X, Y);
}

void TImgVect::EraseMeasureHint()
{
    if (!MeasureHint || hintBitmap_->GetWidth() < 2 || !HandleAllocated())
        return;
    HDC dc = ::GetDC(GetHandle());
    if (dc) {
        ::BitBlt(dc, hintPos_.x, hintPos_.y, hintBitmap_->GetWidth(), hintBitmap_->GetHeight(),
                 hintBitmap_->GetCanvas()->GetHandle(), 0, 0, SRCCOPY);
        ::ReleaseDC(GetHandle(), dc);
    }
    hintBitmap_->SetSize(1, hintBitmap_->GetHeight());
}

void TImgVect::DrawMeasureHint(int X, int Y)
{
    if (!MeasureHint)
        return;
    if (X == PxAngleUnset || Y == PxAngleUnset) {
        X = hintMouse_.x;
        Y = hintMouse_.y;
    }
    X = std::max(X, 0);
    Y = std::max(Y, 0);
    hintMouse_ = POINT{X, Y};
    double value = 0;
    bool area = false;
    if (VectInteract & viMeasureArea) {
        value = SelectionArea();
        area = true;
    } else if (VectInteract & viMeasurePerimeter) {
        value = SelectionPerimeter();
    } else if (VectInteract & viDragLength) {
        // The drag covers both end pixels along its direction: the distance
        // between the pixel centres grows by one pixel step along the
        // longer axis (a horizontal drag gains no vertical part).
        const int dx = X - pressPoint_.x, dy = Y - pressPoint_.y;
        const double fx = 100 / GetZoomX(), fy = 100 / GetZoomY();
        const double vx = dx * UnitSizeX * fx, vy = dy * UnitSizeY * fy;
        const int n = std::max(std::abs(dx), std::abs(dy));
        value = n == 0 ? 0 : std::sqrt(vx * vx + vy * vy) * (n + 1) / n;
    }
    if (value == 0)
        value = LastMeasure;
    LastMeasure = value;
    std::wstring text = FormatMeasure(value) + L" ";
    const char* unit = PxUnitNames[std::min<int>(mUnit_, 7)];
    for (const char* p = unit; *p; ++p)
        text += static_cast<wchar_t>(*p);
    if (area)
        text += L'\u00B2';
    OnMeasureHint(this, text, value);
    hintText_ = text;
    if (!HandleAllocated())
        return;
    HDC dc = ::GetDC(GetHandle());
    if (!dc)
        return;
    classlib::TCanvas* c = GetCanvas();
    c->SetHandle(dc);
    int x = X, y = Y;
    PxDrawTextBox(c, x, y, 0x808080, 0xFFFFFF, GetHeight(), GetWidth(), hintBitmap_.get(), hintBrush_.get(),
                  hintFont_.get(), text);
    hintPos_ = POINT{x, y};
    c->SetHandle(nullptr);
    ::ReleaseDC(GetHandle(), dc);
}

// ---- custom objects under the mouse

void TImgVect::CustomUnderMouse(int X, int Y)
{
    int under = -1;
    double d = 0;
    const int hit = FindObjectAtScreen(X, Y, d);
    if (hit >= 0 && d == 0)
        under = hit;
    if (under != ObjectUnderMouse) {
        if (TPxVectObject* old = ObjectRecord(ObjectUnderMouse); old && ObjectUnderMouse >= 0 && old->CustomObject)
            old->CustomObject->MouseLeave();
        if (TPxVectObject* now = ObjectRecord(under); now && under >= 0 && now->CustomObject)
            now->CustomObject->MouseEnter();
        ObjectUnderMouse = under;
    }
}

// ---- mouse handlers

bool TImgVect::PressNewObject(int X, int Y, POINT& Used)
{
    struct TPut {
        TPxVectInteract Bit;
        TPxVectObjectKind Kind;
    };
    // Precedence order of the object-putting bits.
    static const TPut puts[] = {{viNewLine, pxvoLine},       {viNewLineLabel, pxvoLineLabel}, {viNewRuler, pxvoRuler},
                                {viNewBox, pxvoBox},         {viNewEllipse, pxvoEllipse},     {viNewBitmap, pxvoBitmap},
                                {viNewText, pxvoText},       {viNewMemo, pxvoMemo},           {viDragLength, pxvoLine},
                                {viNewCustom, pxvoCustom}};
    for (const TPut& p : puts) {
        if (VectInteract & p.Bit) {
            newKind_ = p.Kind;
            dragLength_ = p.Bit == viDragLength;
            Used = POINT{X, Y};
            return true;
        }
    }
    return false;
}

void TImgVect::FinishAngle(TPxVectObject& A)
{
    // The box is centred on the vertex and reaches the farther of the arms'
    // ends on each side.
    const POINT* ap = A.AnglePoints;
    const int mx = std::max(ap[0].x, ap[2].x), my = std::max(ap[0].y, ap[2].y);
    const int l = ap[1].x - std::abs(ap[1].x - mx);
    const int r = ap[1].x + std::abs(ap[1].x - mx);
    const int t = ap[1].y - std::abs(ap[1].y - my);
    const int b = ap[1].y + std::abs(ap[1].y - my);
    A.Left = l;
    A.Top = t;
    A.Right = r;
    A.Bottom = b;
    default_.Left = l;
    default_.Top = t;
    default_.Right = r;
    default_.Bottom = b;
    AddSelObject(-2);
    DoVectorialChanged();
    DoNewObject(static_cast<int>(objects_.size()) - 1);
    newKind_ = pxvoNone;
    angleObject_ = -1;
}

void TImgVect::PressAngle(bool Ctrl, int CX, int CY)
{
    if (doubleClicked_)
        return;
    const POINT ip{ScreenToBitmapX(CX), ScreenToBitmapY(CY)};
    TPxVectObject* a = ObjectRecord(angleObject_);
    if (newKind_ != pxvoAngle || !a) {
        newKind_ = pxvoAngle;
        default_.Kind = pxvoAngle;
        default_.AnglePoints[0] = ip;
        default_.AnglePoints[1] = default_.AnglePoints[2] = POINT{PxAngleUnset, PxAngleUnset};
        default_.Left = default_.Top = 1000000;
        default_.Right = default_.Bottom = -1000000;
        angleObject_ = AddObject(default_);
        UnSelAllObjects();
    } else if (a->AnglePoints[1].x == PxAngleUnset) {
        POINT p = ip;
        if (Ctrl) {
            int px = p.x, py = p.y;
            PxConstrainTo45(a->AnglePoints[0].x, a->AnglePoints[0].y, px, py);
            p = POINT{px, py};
            pressPoint_ = POINT{BitmapToScreenX(px), BitmapToScreenY(py)};
        }
        a->AnglePoints[1] = p;
    } else {
        POINT p = ip;
        if (Ctrl) {
            int px = p.x, py = p.y;
            PxConstrainTo45(a->AnglePoints[1].x, a->AnglePoints[1].y, px, py);
            p = POINT{px, py};
        }
        a->AnglePoints[2] = p;
        FinishAngle(*a);
    }
    Update();
}

POINT TImgVect::PressPolyline(bool Ctrl, POINT P)
{
    if (newKind_ == pxvoPolyline && ObjectRecord(polylineObject_)) {
        if (Ctrl) {
            int px = P.x, py = P.y;
            PxConstrainTo45(lastPolylinePoint_.x, lastPolylinePoint_.y, px, py);
            P = POINT{px, py};
            pressPoint_ = P;
        }
        lastPolylinePoint_ = P;
        AddPolylinePoint(polylineObject_, ScreenToBitmapX(P.x), ScreenToBitmapY(P.y));
        if (doubleClicked_ && PolylineEndMode == 0) {
            TPxVectObject* pl = ObjectRecord(polylineObject_);
            default_.Left = pl->Left;
            default_.Top = pl->Top;
            default_.Right = pl->Right;
            default_.Bottom = pl->Bottom;
            AddSelObject(-2);
            DoVectorialChanged();
            modified_ = false;
            DoNewObject(static_cast<int>(objects_.size()) - 1);
            newKind_ = pxvoNone;
            polylineObject_ = -1;
        }
        Update();
    } else {
        newKind_ = pxvoPolyline;
        default_.Kind = pxvoPolyline;
        default_.Left = default_.Top = 1000000;
        default_.Right = default_.Bottom = -1000000;
        modified_ = true;
        polylineObject_ = AddObject(default_);
        lastPolylinePoint_ = P;
        AddPolylinePoint(polylineObject_, ScreenToBitmapX(P.x), ScreenToBitmapY(P.y));
        UnSelAllObjects();
        Update();
    }
    return P;
}

void TImgVect::PressToSelect(classlib::TShiftState Shift, int X, int Y)
{
    FindGrip(X, Y, gripCode_);
    if ((gripCode_ == 0 || (gripCode_ == 3 && !CenterGrip)) && SelectOnMouseDown) {
        SelectAtPoint(Shift, X, Y, true);
        FindGrip(X, Y, gripCode_);
    }
    if (gripCode_ != 0)
        for (int h : selection_) {
            TPxVectObject& r = objects_[static_cast<size_t>(h)];
            r.SavedRect = RECT{r.Left, r.Top, r.Right, r.Bottom};
        }
}

void TImgVect::DoubleClickObject(int X, int Y)
{
    double d = 0;
    const int hit = FindObjectAt(ScreenToBitmapX(X), ScreenToBitmapY(Y), true, d);
    if (hit < 0)
        return;
    DoObjectDblClick(hit);
    TPxVectObject& r = objects_[static_cast<size_t>(hit)];
    if ((r.Kind == pxvoText || r.Kind == pxvoMemo) && d == 0) {
        const bool was = IsSelObject(hit);
        for (int h : std::vector<int>(selection_))
            if (h != hit)
                DoUserDeselectObject(h);
        UnSelAllObjects();
        AddSelObject(hit);
        if (!was)
            DoUserSelectObject(hit);
        EditingObject = hit;
        StartTextEdit();
        Update();
    }
}

void TImgVect::MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y)
{
    TImgView::MouseDown(Button, Shift, X, Y);
    doubleClicked_ = (Shift & classlib::ssDouble) != 0;
    int cx, cy;
    ClampToImageArea(X, Y, cx, cy);
    rawPress_ = POINT{X, Y};
    undoSaved_ = false;
    selectDeferred_ = false;
    if (Button != classlib::mbLeft || IsEmpty())
        return;
    if (EditingObject >= 0) {
        EndTextEdit();
        EditingObject = -1;
        Update();
    }
    polylineSegment_ = -1;
    modified_ = false;
    SaveObjUndoAuto();
    const bool ctrl = (Shift & classlib::ssCtrl) != 0;
    pressPoint_ = POINT{cx, cy};
    POINT used{cx, cy};
    const TPxVectInteract vi = VectInteract;
    if (PressNewObject(X, Y, used)) {
        // The object is put at the release.
    } else if (vi & viNewAngle) {
        PressAngle(ctrl, cx, cy);
    } else if (vi & viNewPolyline) {
        used = PressPolyline(ctrl, PolylineUnclamped ? POINT{X, Y} : POINT{cx, cy});
    } else if (vi & viEditPolyline) {
        const POINT p = PolylineUnclamped ? POINT{X, Y} : POINT{cx, cy};
        polylineVertex_ = FindPolylineVertex(p.x, p.y);
        polylineSegment_ = polylineVertex_ == -1 ? FindPolylineSegment(p.x, p.y) : -1;
        used = p;
    } else if (vi & viSelectObjects) {
        if (!doubleClicked_)
            PressToSelect(Shift, X, Y);
        else
            DoubleClickObject(X, Y);
        double d = 0;
        const int hit = FindObjectAtScreen(X, Y, d);
        if (hit >= 0 && d == 0 && objects_[static_cast<size_t>(hit)].CustomObject)
            objects_[static_cast<size_t>(hit)].CustomObject->MouseDown(Button, Shift, X, Y);
    }
    currentPoint_ = used;
    appliedOffset_ = POINT{0, 0};
}

// ---- mouse moves

void TImgVect::RepaintNow()
{
    if (HandleAllocated()) {
        Invalidate();
        ::UpdateWindow(GetHandle());
    }
}


void TImgVect::DragNewLine(const TMouseStep& M)
{
    const POINT e = dragLength_ ? lastMouse_ : POINT{M.CX, M.CY};
    if (dragLength_)
        MeasureHint = true;
    DrawRubberLine(true);
    AutoScroll();
    currentPoint_ = ConstrainedTo45If(M.Ctrl, pressPoint_, e);
    DrawRubberLine(false);
}

void TImgVect::DragNewBoxOrEllipse(const TMouseStep& M)
{
    const bool ell = newKind_ == pxvoEllipse;
    if (ell)
        DrawRubberEllipse(true);
    else
        DrawRubberBox(true);
    AutoScroll();
    if (M.Ctrl) {
        const int dx = M.CX - pressPoint_.x, dy = M.CY - pressPoint_.y;
        const int side = std::abs(dx) > std::abs(dy) ? dx : dy;
        currentPoint_ = POINT{pressPoint_.x + side, pressPoint_.y + side};
    } else {
        currentPoint_ = POINT{M.CX, M.CY};
    }
    if (ell)
        DrawRubberEllipse(false);
    else
        DrawRubberBox(false);
}

void TImgVect::DragNewBitmap(const TMouseStep& M)
{
    DrawRubberBox(true);
    AutoScroll();
    currentPoint_ = POINT{M.CX, M.CY};
    TPxBitmap* b = GetSharedBitmap(default_.BitmapIndex);
    if (((M.Shift & classlib::ssAlt) || ConstrainAlways || default_.KeepAspect) && b && b->GetWidth() > 0)
        currentPoint_.y =
            RoundI(pressPoint_.y + (M.CX - pressPoint_.x) * static_cast<double>(b->GetHeight()) / b->GetWidth());
    DrawRubberBox(false);
}

void TImgVect::DragNewRuler(const TMouseStep& M)
{
    AutoScroll();
    currentPoint_ = ConstrainedTo45If(M.Ctrl, pressPoint_, POINT{M.CX, M.CY});
    RepaintNow();
    DrawRulerInProgress();
}

void TImgVect::DragNewObject(const TMouseStep& M)
{
    ObjectsMoving = true;
    if (!(default_.Options & pxvoptSizeable)) {
        pressPoint_ = currentPoint_ = POINT{M.CX, M.CY};
        return;
    }
    switch (newKind_) {
    case pxvoLine:
    case pxvoLineLabel:
        DragNewLine(M);
        break;
    case pxvoBox:
    case pxvoCustom:
    case pxvoEllipse:
        DragNewBoxOrEllipse(M);
        break;
    case pxvoBitmap:
        DragNewBitmap(M);
        break;
    case pxvoText:
    case pxvoMemo:
        DrawRubberBox(true);
        AutoScroll();
        currentPoint_ = POINT{M.CX, M.CY};
        DrawRubberBox(false);
        break;
    case pxvoRuler:
        DragNewRuler(M);
        break;
    default:
        break;
    }
}

void TImgVect::DragPolylineFreehand(const TMouseStep& M)
{
    ObjectsMoving = true;
    const POINT p = PolylineUnclamped ? POINT{M.X, M.Y} : POINT{M.CX, M.CY};
    lastMouse_ = p;
    AddPolylinePoint(polylineObject_, ScreenToBitmapX(p.x), ScreenToBitmapY(p.y));
    lastPolylinePoint_ = p;
    Update();
}

void TImgVect::FollowAngleInProgress(const TMouseStep& M)
{
    AutoScroll();
    currentPoint_ = POINT{M.CX, M.CY};
    RepaintNow();
    DrawAngleInProgress();
}

void TImgVect::ResizeByGrip(int H, int Dx, int Dy, bool Keep, bool Ctrl)
{
    TPxVectObject& r = objects_[static_cast<size_t>(H)];
    switch (gripCode_) {
    case 1:
        ResizeObject(H, Dx, 1, Keep, 0, 0, Dy);
        break;
    case 2:
        ResizeObject(H, 0, 2, Keep, Dy, Dx, 0);
        break;
    case 4:
        ResizeObject(H, 0, 4, Keep, 0, Dx, Dy);
        break;
    case 5:
        ResizeObject(H, Dx, 5, Keep, Dy, 0, 0);
        break;
    case 6:
        ResizeObject(H, Dx, 6, Keep, 0, 0, 0);
        break;
    case 7:
        ResizeObject(H, 0, 7, Keep, 0, Dx, 0);
        break;
    case 8:
        ResizeObject(H, 0, 8, Keep, 0, 0, Dy);
        break;
    case 9:
        ResizeObject(H, 0, 9, Keep, Dy, 0, 0);
        break;
    case 10:
    case 11:
    case 12:
        r.AnglePoints[gripCode_ - 10].x += Dx;
        r.AnglePoints[gripCode_ - 10].y += Dy;
        break;
    default:
        break;
    }
    if (Ctrl && IsLineKind(r.Kind) && (gripCode_ == 1 || gripCode_ == 2)) {
        if (gripCode_ == 1) {
            int x = r.Left, y = r.Top;
            PxConstrainTo45(r.Right, r.Bottom, x, y);
            r.Left = x;
            r.Top = y;
        } else {
            int x = r.Right, y = r.Bottom;
            PxConstrainTo45(r.Left, r.Top, x, y);
            r.Right = x;
            r.Bottom = y;
        }
    }
}

void TImgVect::DragSelectionByGrip(const TMouseStep& M)
{
    DoVectorialChangedOnce();
    ObjectsMoving = true;
    AutoScroll();
    int mx = M.X, my = M.Y;
    if (M.Ctrl && !selection_.empty()) {
        TPxVectObject& f = objects_[static_cast<size_t>(selection_.front())];
        if (IsLineKind(f.Kind) && (gripCode_ == 1 || gripCode_ == 2)) {
            // The fixed end, in client pixels, anchors the mouse.
            const int ax = gripCode_ == 1 ? f.Right : f.Left, ay = gripCode_ == 1 ? f.Bottom : f.Top;
            PxConstrainTo45(BitmapToScreenX(ax), BitmapToScreenY(ay), mx, my);
        }
    }
    const int tx = RoundI((mx - rawPress_.x) * (100 / GetZoomX()));
    const int ty = RoundI((my - rawPress_.y) * (100 / GetZoomY()));
    const int sx = tx - appliedOffset_.x, sy = ty - appliedOffset_.y;
    appliedOffset_ = POINT{tx, ty};
    RECT u;
    SelectionBounds(u);
    TPxBitmap* img = GetPxBitmap();
    const int iw = img ? img->GetWidth() : 0, ih = img ? img->GetHeight() : 0;
    for (int h : std::vector<int>(selection_)) {
        TPxVectObject& r = objects_[static_cast<size_t>(h)];
        const bool keep = (M.Shift & classlib::ssAlt) || ConstrainAlways || r.KeepAspect;
        int dx = sx, dy = sy;
        DoObjectMoveResize(h, gripCode_, dx, dy);
        if (r.Options & pxvoptSizeable)
            ResizeByGrip(h, dx, dy, keep, M.Ctrl);
        if ((r.Options & pxvoptMovable) && gripCode_ == 3) {
            const bool inside = u.left + dx >= 0 && u.right + dx < iw && u.top + dy >= 0 && u.bottom + dy < ih;
            if (inside || AllowOutsideMoves)
                OffsetObject(h, dx, dy);
        }
    }
    Update();
}

void TImgVect::DragPolylineVertex(const TMouseStep& M)
{
    AutoScroll();
    const int tx = RoundI((M.CX - pressPoint_.x) * (100 / GetZoomX()));
    const int ty = RoundI((M.CY - pressPoint_.y) * (100 / GetZoomY()));
    const int sx = tx - appliedOffset_.x, sy = ty - appliedOffset_.y;
    appliedOffset_ = POINT{tx, ty};
    TPxVectObject& r = objects_[static_cast<size_t>(selection_.front())];
    if (polylineVertex_ < static_cast<int>(r.Points.size())) {
        double scx, scy;
        PolylineScale(r, scx, scy);
        r.Points[static_cast<size_t>(polylineVertex_)].x += RoundI(sx / (scx != 0 ? scx : 1));
        r.Points[static_cast<size_t>(polylineVertex_)].y += RoundI(sy / (scy != 0 ? scy : 1));
        FitPolylineBox(r);
        modified_ = true;
    }
    Update();
}

void TImgVect::DragRubberBandSelection(const TMouseStep& M)
{
    DrawRubberBox(true);
    AutoScroll();
    currentPoint_ = POINT{M.CX, M.CY};
    if (!(M.Shift & classlib::ssShift))
        selection_.clear();
    const int x1 = ScreenToBitmapX(std::min(pressPoint_.x, currentPoint_.x));
    const int y1 = ScreenToBitmapY(std::min(pressPoint_.y, currentPoint_.y));
    const int x2 = ScreenToBitmapX(std::max(pressPoint_.x, currentPoint_.x));
    const int y2 = ScreenToBitmapY(std::max(pressPoint_.y, currentPoint_.y));
    SelectObjectsInRect(-3, x1, y1, x2, y2);
    OnSelectObject(this);
    Update();
    DrawRubberBox(false);
}

void TImgVect::MoveWithButtonHeld(const TMouseStep& M)
{
    if (newKind_ != pxvoNone && newKind_ != pxvoPolyline && newKind_ != pxvoAngle)
        DragNewObject(M);
    else if (newKind_ == pxvoPolyline && ObjectRecord(polylineObject_))
        DragPolylineFreehand(M);
    else if (newKind_ == pxvoAngle)
        FollowAngleInProgress(M);
    else if (gripCode_ != 0)
        DragSelectionByGrip(M);
    else if ((VectInteract & viEditPolyline) && polylineVertex_ >= 0 && selection_.size() == 1)
        DragPolylineVertex(M);
    else if ((VectInteract & viSelectObjects) && RubberBandSelect)
        DragRubberBandSelection(M);
}

void TImgVect::MoveHovering(const TMouseStep& M)
{
    if (newKind_ == pxvoPolyline && ObjectRecord(polylineObject_)) {
        // The rubber line from the polyline's last point follows the mouse.
        DrawRubberLine(true);
        AutoScroll();
        const POINT m = ConstrainedTo45If(M.Ctrl, lastPolylinePoint_, lastMouse_);
        pressPoint_ = lastPolylinePoint_;
        currentPoint_ = m;
        DrawRubberLine(false);
    } else if (newKind_ == pxvoAngle) {
        FollowAngleInProgress(M);
    } else {
        double d = 0;
        const int hit = FindObjectAt(ScreenToBitmapX(M.X), ScreenToBitmapY(M.Y), false, d);
        if (hit >= 0)
            DoObjectOver(hit);
    }
    if (VectInteract & viEditPolyline) {
        if (FindPolylineVertex(M.X, M.Y) >= 0)
            SetTempCursor(M.Ctrl ? kCurDelPoint : kCurMove);
        else if (FindPolylineSegment(M.X, M.Y) >= 0)
            SetTempCursor(kCurAddPoint);
        else
            RestoreCursor();
    } else if (VectInteract & viSelectObjects) {
        int code = 0;
        FindGrip(M.X, M.Y, code);
        if (code != 0)
            SetTempCursor(GripCursor(code));
        else
            RestoreCursor();
    }
}

void TImgVect::MouseMove(classlib::TShiftState Shift, int X, int Y)
{
    if (doubleClicked_) {
        doubleClicked_ = false;
        return;
    }
    EraseMeasureHint();
    TImgView::MouseMove(Shift, X, Y);
    lastMouse_ = POINT{X, Y};
    TMouseStep m{Shift, X, Y, 0, 0, (Shift & classlib::ssCtrl) != 0};
    ClampToImageArea(X, Y, m.CX, m.CY);
    const bool held = (Shift & classlib::ssLeft) != 0;
    if (held && X == rawPress_.x && Y == rawPress_.y && newKind_ == pxvoNone && gripCode_ == 0)
        return;
    if (held)
        MoveWithButtonHeld(m);
    else
        MoveHovering(m);
    EraseMeasureHint();
    DrawMeasureHint(lastMouse_.x, lastMouse_.y);
    CustomUnderMouse(X, Y);
    if (TPxVectObject* r = ObjectRecord(ObjectUnderMouse); r && ObjectUnderMouse >= 0 && r->CustomObject)
        r->CustomObject->MouseMove(Shift, X, Y);
}

void TImgVect::PutObjectAtRelease()
{
    const bool click = currentPoint_.x == pressPoint_.x && currentPoint_.y == pressPoint_.y;
    if (newKind_ == pxvoPolyline) {
        if (TPxVectObject* p = ObjectRecord(polylineObject_)) {
            default_.Left = p->Left;
            default_.Top = p->Top;
            default_.Right = p->Right;
            default_.Bottom = p->Bottom;
        }
    } else if (click) {
        const int w = default_.Right - default_.Left, h = default_.Bottom - default_.Top;
        int l = ScreenToBitmapX(pressPoint_.x), t = ScreenToBitmapY(pressPoint_.y);
        if (CenterNewObjects) {
            l -= w / 2;
            t -= h / 2;
        }
        default_.Left = l;
        default_.Top = t;
        default_.Right = l + w;
        default_.Bottom = t + h;
    } else {
        default_.Left = ScreenToBitmapX(pressPoint_.x);
        default_.Top = ScreenToBitmapY(pressPoint_.y);
        default_.Right = ScreenToBitmapX(currentPoint_.x);
        default_.Bottom = ScreenToBitmapY(currentPoint_.y);
    }
    if (dragLength_) {
        EraseMeasureHint();
        MeasureHint = false;
        OnDragLenEnd(this, LastMeasure);
        return;
    }
    default_.Kind = newKind_;
    DoVectorialChangedOnce();
    if (newKind_ != pxvoPolyline) {
        AddObject(default_);
        // The default object keeps a normalised box of the last object put.
        if (!IsLineKind(default_.Kind)) {
            if (default_.Left > default_.Right)
                std::swap(default_.Left, default_.Right);
            if (default_.Top > default_.Bottom)
                std::swap(default_.Top, default_.Bottom);
        }
    }
    UnSelAllObjects();
    const int last = static_cast<int>(objects_.size()) - 1;
    DoNewObject(last);
    AddSelObject(-2);
    modified_ = true;
    if (EditNewText && (newKind_ == pxvoText || newKind_ == pxvoMemo)) {
        EditingObject = last;
        StartTextEdit();
    } else {
        DoVectorialChanged();
    }
}

void TImgVect::MouseUp(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y)
{
    TImgView::MouseUp(Button, Shift, X, Y);
    doubleClicked_ = (Shift & classlib::ssDouble) != 0;
    int cx, cy;
    ClampToImageArea(X, Y, cx, cy);
    const bool atPress = X == rawPress_.x && Y == rawPress_.y;
    const bool entering = newKind_ == pxvoAngle || (newKind_ == pxvoPolyline && PolylineEndMode != 2);
    const bool noClick = atPress && (VectInteract & viNoClickObjects) &&
                         !(VectInteract & (viSelectObjects | viMeasurePerimeter | viMeasureArea));
    if (Button == classlib::mbLeft && !entering && !noClick && EditingObject < 0) {
        if (newKind_ != pxvoNone) {
            PutObjectAtRelease();
        } else {
            if (gripCode_ != 0 && (!atPress || gripCode_ != 3)) {
                for (int h : selection_) {
                    TPxVectObject& r = objects_[static_cast<size_t>(h)];
                    if (r.Kind == pxvoLine || r.Kind == pxvoRuler || r.Kind == pxvoPolyline || r.Kind == pxvoLineLabel)
                        continue;
                    if (r.Left > r.Right)
                        std::swap(r.Left, r.Right);
                    if (r.Top > r.Bottom)
                        std::swap(r.Top, r.Bottom);
                }
                DoVectorialChanged();
            } else if (!SelectOnMouseDown || selectDeferred_) {
                SelectAtPoint(Shift, X, Y, false);
            }
            if (polylineVertex_ >= 0 && (Shift & classlib::ssCtrl) && selection_.size() == 1) {
                TPxVectObject& r = objects_[static_cast<size_t>(selection_.front())];
                if (r.Points.size() > 2 && polylineVertex_ < static_cast<int>(r.Points.size())) {
                    r.Points.erase(r.Points.begin() + polylineVertex_);
                    FitPolylineBox(r);
                    DoVectorialChanged();
                }
            }
            if (polylineSegment_ >= 0 && selection_.size() == 1) {
                TPxVectObject& r = objects_[static_cast<size_t>(selection_.front())];
                const double bw = r.PointsBounds.right - r.PointsBounds.left;
                const double bh = r.PointsBounds.bottom - r.PointsBounds.top;
                const double sx = bw == 0 ? 1.0 : (r.Right - r.Left) / bw;
                const double sy = bh == 0 ? 1.0 : (r.Bottom - r.Top) / bh;
                const int ix = ScreenToBitmapX(cx), iy = ScreenToBitmapY(cy);
                const POINT p{RoundI((ix + r.PointsBounds.left * sx - r.Left) / sx),
                              RoundI((iy + r.PointsBounds.top * sy - r.Top) / sy)};
                if (polylineSegment_ < static_cast<int>(r.Points.size()))
                    r.Points.insert(r.Points.begin() + polylineSegment_ + 1, p);
                polylineSegment_ = -1;
                DoVectorialChanged();
            }
        }
        Update();
        newKind_ = pxvoNone;
        dragLength_ = false;
        gripCode_ = 0;
        polylineVertex_ = -1;
        if (ObjectsMoving) {
            ObjectsMoving = false;
            Invalidate();
        }
        if (VectInteract & viSelectObjects) {
            double d = 0;
            const int hit = FindObjectAtScreen(X, Y, d);
            if (hit >= 0)
                DoObjectClick(hit);
        }
    }
    if (!modified_ && ObjAutoUndo && undoSaved_) {
        DiscardLastObjUndo();
        undoSaved_ = false;
    }
    double d = 0;
    const int hit = FindObjectAtScreen(X, Y, d);
    if (hit >= 0 && d == 0 && objects_[static_cast<size_t>(hit)].CustomObject)
        objects_[static_cast<size_t>(hit)].CustomObject->MouseUp(Button, Shift, X, Y);
    // Only a polyline being entered keeps its rubber line past a release.
    if (!(newKind_ == pxvoPolyline && ObjectRecord(polylineObject_)))
        EraseRubber();
    DrawMeasureHint(X, Y);
}

}  // namespace imaging
