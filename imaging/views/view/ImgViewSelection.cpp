#include "imaging/views/view/ImgViewSelection.h"

#include <algorithm>
#include <cstring>

#include "classlib/Exceptions.h"
#include "classlib/ExtCtrls.h"
#include "classlib/ScopeGuard.h"
#include "classlib/StreamRecords.h"
#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxGeometry.h"
#include "imaging/model/PxMask.h"
#include "imaging/views/view/ImgView.h"
#include "imaging/views/view/PxGDIPlus.h"
#include "imaging/views/view/PxMagicWand.h"

namespace imaging {

namespace {

int RoundInt(double Value) { return static_cast<int>(classlib::Round(Value)); }

using namespace classlib::streamrec;

[[noreturn]] void BadRecord() { throw classlib::EReadError(L"Stream read error"); }

struct TDotPlot {
    TPxSelectionOutline* Outline;
    HDC Dc;
};

void CALLBACK PlotDot(int x, int y, LPARAM Data)
{
    auto* plot = reinterpret_cast<TDotPlot*>(Data);
    TPxSelectionOutline& o = *plot->Outline;
    const classlib::TColor color = o.DashPhase < 4 ? o.Color1 : o.Color2;
    SetPixelV(plot->Dc, x, y, static_cast<COLORREF>(classlib::ColorToRGB(color)));
    // Phases 7 and above end a period of four dots of each colour.
    if (o.DashPhase >= 7)
        o.DashPhase = 0;
    else
        ++o.DashPhase;
}

}  // namespace

// ---- outline record

bool PxIsSeparator(const POINT& Point) { return Point.x == PxPolygonSeparator; }

void TPxSelectionOutline::AddPoint(int x, int y)
{
    Points.push_back(POINT{x, y});
    const size_t n = Points.size();
    if (n == 2) {
        X1 = std::min(Points[0].x, Points[1].x);
        Y1 = std::min(Points[0].y, Points[1].y);
        X2 = std::max(Points[0].x, Points[1].x);
        Y2 = std::max(Points[0].y, Points[1].y);
    } else if (n > 2) {
        X1 = std::min(X1, x);
        Y1 = std::min(Y1, y);
        X2 = std::max(X2, x);
        Y2 = std::max(Y2, y);
    }
}

void TPxSelectionOutline::AddSeparator()
{
    if (!Points.empty() && PxIsSeparator(Points.back()))
        return;
    Points.push_back(POINT{PxPolygonSeparator, PxPolygonSeparator});
}

void TPxSelectionOutline::Clear()
{
    Points.clear();
    Points.shrink_to_fit();
}

bool TPxSelectionOutline::IsRectangle() const
{
    if (Points.size() != 4)
        return false;
    // Edges 3->0, 0->1, 1->2, 2->3: 1 vertical, 2 horizontal, 0 neither.
    int previous = -1;
    for (int k = 0; k < 4; ++k) {
        const POINT& a = Points[static_cast<size_t>((k + 3) % 4)];
        const POINT& b = Points[static_cast<size_t>(k)];
        int kind = 0;
        if (a.x == b.x && a.y != b.y)
            kind = 1;
        else if (a.y == b.y && a.x != b.x)
            kind = 2;
        if (kind == 0 || kind == previous)
            return false;
        previous = kind;
    }
    return true;
}

void TPxSelectionOutline::PlotLine(HDC Dc, int x1, int y1, int x2, int y2)
{
    TDotPlot plot{this, Dc};
    LineDDA(x1, y1, x2, y2, PlotDot, reinterpret_cast<LPARAM>(&plot));
}

// ---- coordinates

int TImgView::SelScreenToLayerX(int X)
{
    TPxLayer* layer = GetCurrentLayer();
    const int w = layer->GetWidth();
    if (w == 0)
        return 0;
    const int bw = currentImage_->GetWidth();
    const int b = ScreenToBitmapX(X - RoundInt(layer->PosX * (GetZoomX() / 100)));
    return RoundInt(static_cast<double>(b) / w * bw);
}

int TImgView::SelScreenToLayerY(int Y)
{
    TPxLayer* layer = GetCurrentLayer();
    const int h = layer->GetHeight();
    if (h == 0)
        return 0;
    const int bh = currentImage_->GetHeight();
    const int b = ScreenToBitmapY(Y - RoundInt(layer->PosY * (GetZoomY() / 100)));
    return RoundInt(static_cast<double>(b) / h * bh);
}

int TImgView::SelLayerToScreenX(int X)
{
    TPxLayer* layer = GetCurrentLayer();
    const int bw = currentImage_->GetWidth();
    const int w = layer->GetWidth();
    const int b = bw == 0 ? X : RoundInt(static_cast<double>(X) / bw * w);
    return BitmapToScreenX(b) + RoundInt(layer->PosX * (GetZoomX() / 100));
}

int TImgView::SelLayerToScreenY(int Y)
{
    TPxLayer* layer = GetCurrentLayer();
    const int bh = currentImage_->GetHeight();
    const int h = layer->GetHeight();
    const int b = bh == 0 ? Y : RoundInt(static_cast<double>(Y) / bh * h);
    return BitmapToScreenY(b) + RoundInt(layer->PosY * (GetZoomY() / 100));
}

TPxMask* TImgView::SyncSelectionMask()
{
    const int w = currentImage_ ? currentImage_->GetWidth() : 0;
    const int h = currentImage_ ? currentImage_->GetHeight() : 0;
    if (selMask_->BitsPerPixel == 0)
        selMask_->AllocateBits(w, h, 1);
    else if (selMask_->Width != w || selMask_->Height != h)
        selMask_->Resize(w, h);
    return selMask_.get();
}

// ---- properties

void TImgView::SetSelectionOptions(TPxSelectionOptions Value)
{
    selectionOptions_ = Value;
    outline_.Animated = (Value & pxsoAnimated) != 0;
    outline_.ShowGrips = (Value & pxsoSizeable) != 0;
    updateReason_ = 3;
    Update();
}

void TImgView::SetSelColor1(classlib::TColor Value)
{
    antsColor1_ = Value;
    outline_.Color1 = Value;
}

void TImgView::SetSelColor2(classlib::TColor Value)
{
    antsColor2_ = Value;
    outline_.Color2 = Value;
}

const POINT* TImgView::GetSelectionPolygonPoints()
{
    return outline_.Points.empty() ? nullptr : outline_.Points.data();
}

int TImgView::GetSelectionPolygonCount() { return outline_.Count(); }

const POINT* TImgView::GetSelectionPolygon(int& Count)
{
    Count = outline_.Count();
    return GetSelectionPolygonPoints();
}

int TImgView::GetSelX1()
{
    if (PolySelecting || RectSelecting || CircleSelecting || SelGrip != 0 || MovingRectSel)
        return outline_.X1;
    return selMask_->X1;
}

int TImgView::GetSelY1()
{
    if (PolySelecting || RectSelecting || CircleSelecting || SelGrip != 0 || MovingRectSel)
        return outline_.Y1;
    return selMask_->Y1;
}

int TImgView::GetSelX2()
{
    if (PolySelecting || RectSelecting || CircleSelecting || SelGrip != 0 || MovingRectSel)
        return outline_.X2 - 1;
    return selMask_->X2;
}

int TImgView::GetSelY2()
{
    if (PolySelecting || RectSelecting || CircleSelecting || SelGrip != 0 || MovingRectSel)
        return outline_.Y2 - 1;
    return selMask_->Y2;
}

// ---- helpers

void TImgView::SelectionRepaint()
{
    if (paintLock_ > 0 || !HandleAllocated())
        return;
    fullRepaint_ = true;
    PaintNow();
}

void TImgView::ClearOutline()
{
    outline_.Clear();
    SelectionRepaint();
}

// ---- operations

void TImgView::SelectRectCore(int X1, int Y1, int X2, int Y2, uint8_t Op, bool Square, bool KeepInside)
{
    if (X1 == X2 || Y1 == Y2)
        return;
    if (SelectionBase == pxsbClientArea) {
        X1 = SelScreenToLayerX(X1);
        Y1 = SelScreenToLayerY(Y1);
        X2 = SelScreenToLayerX(X2);
        Y2 = SelScreenToLayerY(Y2);
    }
    TPxMask* mask = SyncSelectionMask();
    Selected = true;
    if (Op == 1 && outline_.Count() > 0)
        outline_.AddSeparator();
    else
        ClearOutline();
    if (Op == 0)
        mask->Clear();
    const int w = currentImage_->GetWidth();
    const int h = currentImage_->GetHeight();
    const double aspect = SelectionAspect;
    if (Square && aspect == -1) {
        Y2 = Y1 + (X2 - X1);
    } else if (aspect > 0) {
        Y2 = Y1 + RoundInt((X2 - X1) * aspect);
        if (Y2 >= h)
            X2 = RoundInt(((h - 1 - Y1) + X1 * aspect) / aspect);
        else if (Y2 < 0)
            X2 = RoundInt((X1 * aspect - Y1) / aspect);
    }
    if (KeepInside) {
        if (X1 < 0) {
            X2 -= X1;
            X1 = 0;
        }
        if (Y1 < 0) {
            Y2 -= Y1;
            Y1 = 0;
        }
        if (X2 >= w) {
            X1 -= X2 - (w - 1);
            X2 = w - 1;
        }
        if (Y2 >= h) {
            Y1 -= Y2 - (h - 1);
            Y2 = h - 1;
        }
    }
    if (X1 > X2)
        std::swap(X1, X2);
    if (Y1 > Y2)
        std::swap(Y1, Y2);
    X1 = std::clamp(X1, 0, std::max(w - 1, 0));
    Y1 = std::clamp(Y1, 0, std::max(h - 1, 0));
    X2 = std::clamp(X2, 0, w);
    Y2 = std::clamp(Y2, 0, h);
    outline_.AddPoint(X1, Y1);
    outline_.AddPoint(X2, Y1);
    outline_.AddPoint(X2, Y2);
    outline_.AddPoint(X1, Y2);
    outline_.Visible = true;
    DrawSelection(this);
}

void TImgView::SelectRect(int X1, int Y1, int X2, int Y2, uint8_t Op)
{
    // A degenerate rectangle leaves the selection as it was (the mask is not
    // cleared either).
    if (X1 == X2 || Y1 == Y2)
        return;
    // A navigator composes nothing in between: the outline is drawn first so
    // that the shading of the paint follows the new rectangle, then drawn
    // again over the shaded picture.
    const bool navigator = isNavigator_;
    if (navigator)
        BeginPaintLock();
    SelectRectCore(X1, Y1, X2, Y2, Op, false, false);
    if (Op == 0)
        SyncSelectionMask()->Clear();
    SelectFromPolygon();
    if (!navigator) {
        SelectionRepaint();
        return;
    }
    EndPaintLockNoUpdate();
    DrawSelection(this);
    PaintNow();
    DrawSelection(this);
}

void TImgView::AddSelectionPoint(int X, int Y)
{
    if (SelectionBase == pxsbClientArea) {
        X = std::clamp(SelScreenToLayerX(X), 0, currentImage_->GetWidth());
        Y = std::clamp(SelScreenToLayerY(Y), 0, currentImage_->GetHeight());
    }
    outline_.AddPoint(X, Y);
    Selected = true;
    outline_.Visible = true;
    DrawSelection(this);
    SelectionRepaint();
}

void TImgView::SelectFromPolygon()
{
    TPxMask* mask = SyncSelectionMask();
    if (outline_.Count() > 0)
        mask->FillPolygons(1, outline_.Points.data(), outline_.Count());
    if (mask->IsEmpty()) {
        Selected = false;
        ClearOutline();
    }
}

void TImgView::Deselect()
{
    if (Selected) {
        Selected = false;
        outline_.Visible = false;
        SelectionRepaint();
    }
    ClearOutline();
    SyncSelectionMask()->Clear();
    Selected = PolySelecting = LassoSelecting = RectSelecting = CircleSelecting = false;
    SelGrip = 0;
    SelMoving = -1;
    MovingRectSel = false;
    RestoreCursor();
    updateReason_ = 3;
    Update();
}

void TImgView::MoveSelectionBy(int Dx, int Dy, bool CutBorders)
{
    TPxMask* mask = SyncSelectionMask();
    if (outline_.IsRectangle()) {
        MovingRectSel = true;
        mask->Clear();
    } else {
        MovingRectSel = false;
        mask->Offset(Dx, Dy, CutBorders);
    }
    if (Dx == 0 && Dy == 0)
        return;
    SelectionRepaint();
    const int w = currentImage_->GetWidth();
    const int h = currentImage_->GetHeight();
    TPxSelectionOutline& o = outline_;
    auto limit = [&] {
        if (Dx < -o.X1)
            Dx = -o.X1;
        if (o.X2 + Dx > w)
            Dx = w - o.X2;
        if (Dy < -o.Y1)
            Dy = -o.Y1;
        if (o.Y2 + Dy > h)
            Dy = h - o.Y2;
    };
    auto outside = [&] { return o.X1 + Dx >= w || o.Y1 + Dy >= h || o.X2 + Dx <= 0 || o.Y2 + Dy <= 0; };
    if (!CutBorders) {
        limit();
        if (outside())
            return;
    } else if (outside()) {
        limit();
    }
    o.X1 = std::clamp(o.X1 + Dx, 0, w);
    o.X2 = std::clamp(o.X2 + Dx, 0, w);
    o.Y1 = std::clamp(o.Y1 + Dy, 0, h);
    o.Y2 = std::clamp(o.Y2 + Dy, 0, h);
    for (POINT& p : o.Points) {
        if (PxIsSeparator(p))
            continue;
        p.x = std::clamp(static_cast<int>(p.x) + Dx, 0, w);
        p.y = std::clamp(static_cast<int>(p.y) + Dy, 0, h);
    }
    DrawSelection(this);
    if (isNavigator_) {
        // The shading follows the rectangle just drawn.
        PaintNow();
        DrawSelection(this);
    }
}

void TImgView::MoveSelection(int Dx, int Dy)
{
    MoveSelectionBy(Dx, Dy, (selectionOptions_ & pxsoCutBorders) != 0);
    SelectFromPolygon();
    // The move is complete: the mask holds the selection again.
    MovingRectSel = false;
}

void TImgView::SelectMagicWand(int X, int Y, bool Add)
{
    if (SelectionBase == pxsbClientArea) {
        X = SelScreenToLayerX(X);
        Y = SelScreenToLayerY(Y);
    }
    TPxBitmap* image = currentImage_;
    const int w = image->GetWidth();
    const int h = image->GetHeight();
    if (X < 0 || Y < 0 || X >= w || Y >= h)
        return;
    TPxMask* mask = SyncSelectionMask();
    if (WandMode == 0) {
        int count = 0;
        std::vector<POINT> points = PxMagicWandContour(image, X, Y, WandDilate, WandTolerance, count);
        if (count > 0) {
            Selected = true;
            if (Add && outline_.Count() > 0) {
                outline_.AddSeparator();
            } else {
                ClearOutline();
                mask->Clear();
            }
            for (const POINT& p : points)
                outline_.AddPoint(std::clamp(static_cast<int>(p.x), 0, w), std::clamp(static_cast<int>(p.y), 0, h));
        }
        if (!Add)
            mask->Clear();
        SelectFromPolygon();
    } else {
        if (!Add) {
            ClearOutline();
            mask->Clear();
        }
        if (WandMode == 1)
            PxMagicWandFill(image, X, Y, 1, mask, WandTolerance, WandDilate);
        else
            PxMagicWandGlobal(image, X, Y, 1, mask, WandTolerance);
        Selected = !mask->IsEmpty();
    }
    outline_.Visible = true;
    DrawSelection(this);
    SelectionRepaint();
}

// ---- selection record

void TImgView::SaveSelectionToStream(classlib::TStream* Stream)
{
    TPxMask* mask = SyncSelectionMask();
    const TPxLayer* layer = GetCurrentLayer();
    Put<int32_t>(Stream, mask->Width);
    Put<int32_t>(Stream, mask->Height);
    Put<int32_t>(Stream, outline_.Count());
    for (const POINT& p : outline_.Points) {
        Put<int32_t>(Stream, p.x);
        Put<int32_t>(Stream, p.y);
    }
    Put<int32_t>(Stream, outline_.X1);
    Put<int32_t>(Stream, outline_.Y1);
    Put<int32_t>(Stream, outline_.X2);
    Put<int32_t>(Stream, outline_.Y2);
    Put<uint8_t>(Stream, Selected ? 1 : 0);
    Put<int32_t>(Stream, layer->PosX);
    Put<int32_t>(Stream, layer->PosY);
    Put<int32_t>(Stream, mask->BitsPerPixel);
    Put<int32_t>(Stream, mask->X1);
    Put<int32_t>(Stream, mask->Y1);
    Put<int32_t>(Stream, mask->X2);
    Put<int32_t>(Stream, mask->Y2);
    Put<uint8_t>(Stream, mask->Full ? 1 : 0);
    const int64_t size = static_cast<int64_t>(mask->RowLen) * mask->Height;
    if (size > 0)
        Stream->WriteBuffer(mask->GetBits(), size);
}

void TImgView::LoadSelectionFromStream(classlib::TStream* Stream, int Mode)
{
    // The whole record is read and checked before anything changes.
    auto left = [&] { return Stream->GetSize() - Stream->GetPosition(); };
    const int32_t w0 = Get<int32_t>(Stream);
    const int32_t h0 = Get<int32_t>(Stream);
    const int32_t n = Get<int32_t>(Stream);
    if (w0 < 0 || h0 < 0 || n < 0 || static_cast<int64_t>(n) * 8 > left())
        BadRecord();
    std::vector<POINT> points(static_cast<size_t>(n));
    for (POINT& p : points) {
        p.x = Get<int32_t>(Stream);
        p.y = Get<int32_t>(Stream);
    }
    int32_t box[4];
    for (int32_t& v : box)
        v = Get<int32_t>(Stream);
    const bool selected = Get<uint8_t>(Stream) != 0;
    const int32_t px = Get<int32_t>(Stream);
    const int32_t py = Get<int32_t>(Stream);
    const int32_t bpp = Get<int32_t>(Stream);
    if (bpp != 1 && bpp != 8)
        BadRecord();
    int32_t maskBox[4];
    for (int32_t& v : maskBox)
        v = Get<int32_t>(Stream);
    const bool full = Get<uint8_t>(Stream) != 0;
    const int64_t rowLen = (static_cast<int64_t>(w0) * bpp + 31) / 32 * 4;
    if (h0 > 0 && rowLen > left() / h0)
        BadRecord();
    const int64_t size = rowLen * h0;
    std::vector<uint8_t> bits(static_cast<size_t>(size));
    if (size > 0)
        Stream->ReadBuffer(bits.data(), size);

    outline_.Points = std::move(points);
    outline_.X1 = box[0];
    outline_.Y1 = box[1];
    outline_.X2 = box[2];
    outline_.Y2 = box[3];
    Selected = selected;
    TPxMask* mask = selMask_.get();
    mask->AllocateBits(w0, h0, bpp);
    if (size > 0)
        std::memcpy(mask->GetBits(), bits.data(), static_cast<size_t>(size));
    mask->X1 = maskBox[0];
    mask->Y1 = maskBox[1];
    mask->X2 = maskBox[2];
    mask->Y2 = maskBox[3];
    mask->Full = full;

    BeginUpdateLock();
    const int w = currentImage_->GetWidth();
    const int h = currentImage_->GetHeight();
    if (Mode == 2) {
        ClearOutline();
        const TPxLayer* layer = GetCurrentLayer();
        mask->Resize(w + std::max(0, px) + w0, h + std::max(0, py) + h0);
        int dx = px, dy = py;
        mask->Offset(dx, dy, true);
        dx = -layer->PosX;
        dy = -layer->PosY;
        mask->Offset(dx, dy, true);
        mask->Resize(w, h);
        mask->CheckFull();
        mask->SyncBoundingBox();
    } else if (w != w0 || h != h0) {
        if (mask->IsEmpty()) {
            mask->Resize(w, h);
        } else {
            if (Mode == 1) {
                // Moved back so that the box's last column (row) is the
                // image's last one whenever it lies outside the image.
                if (w <= mask->X2)
                    MoveSelection(w - mask->X2 - 1, 0);
                if (h <= mask->Y2)
                    MoveSelection(0, h - mask->Y2 - 1);
            }
            mask->Resize(w, h);
            mask->CheckFull();
            mask->SyncBoundingBox();
        }
    }
    if (mask->IsEmpty())
        Deselect();
    else
        Selected = true;
    outline_.Visible = true;
    DrawSelection(this);
    EndUpdateLock();
}

void TImgView::PushSelection()
{
    auto stream = std::make_unique<classlib::TMemoryStream>();
    SaveSelectionToStream(stream.get());
    selectionStack_.push_back(std::move(stream));
}

bool TImgView::PopSelection(bool Remove, uint8_t Mode)
{
    if (selectionStack_.empty())
        return false;
    classlib::TMemoryStream* top = selectionStack_.back().get();
    top->SetPosition(0);
    LoadSelectionFromStream(top, Mode);
    if (Remove)
        selectionStack_.pop_back();
    return true;
}

// ---- hit tests

int TImgView::GetSelectionGripAt(int X, int Y, bool ShiftHeld)
{
    if (!outline_.Visible || !outline_.ShowGrips || !outline_.IsRectangle() || RectSelecting || ShiftHeld)
        return 0;
    POINT c[4];
    for (int k = 0; k < 4; ++k) {
        c[k].x = SelLayerToScreenX(outline_.Points[static_cast<size_t>(k)].x);
        c[k].y = SelLayerToScreenY(outline_.Points[static_cast<size_t>(k)].y);
    }
    for (int k = 0; k < 4; ++k)
        if (std::abs(X - c[k].x) <= GripSize && std::abs(Y - c[k].y) <= GripSize)
            return k + 1;
    const int sides[4][2] = {{0, 3}, {1, 2}, {0, 1}, {3, 2}};
    for (int s = 0; s < 4; ++s) {
        const POINT& a = c[sides[s][0]];
        const POINT& b = c[sides[s][1]];
        if (PxDistPointToSegment(X, Y, a.x, a.y, b.x, b.y) < 3)
            return s + 5;
    }
    return 0;
}

int TImgView::GetMovableSelectionAt(int X, int Y, bool ShiftHeld)
{
    TPxMask* mask = SyncSelectionMask();
    if (ShiftHeld || mask->IsEmpty() || PolySelecting || LassoSelecting || RectSelecting || CircleSelecting)
        return -1;
    if (!mask->IsPointInside(SelScreenToLayerX(X), SelScreenToLayerY(Y)))
        return -1;
    return (selectionOptions_ & pxsoMoveable) ? 0 : -1;
}

// ---- drawing

int TImgView::AntsIntervalFor(int Elapsed) const
{
    if (AntsLoadLimit >= 0)
        return 210;
    return std::max(210, RoundInt(static_cast<double>(Elapsed) * 100 / -AntsLoadLimit));
}

void TImgView::DrawGrid(int X1, int Y1, int X2, int Y2)
{
    const int n = SelectionGridCount;
    if (n <= 1)
        return;
    classlib::TCanvas* canvas = selDrawCanvas_ ? selDrawCanvas_ : GetCanvas();
    if (!canvas)
        return;
    if (X1 > X2)
        std::swap(X1, X2);
    if (Y1 > Y2)
        std::swap(Y1, Y2);
    classlib::TPen* pen = canvas->GetPen();
    pen->SetColor(0xA0A0A0);
    pen->SetMode(classlib::pmCopy);
    pen->SetStyle(classlib::psSolid);
    for (int c = 1; c < n; ++c) {
        const int y = Y1 + RoundInt(static_cast<double>(c) * (Y2 - Y1) / n);
        canvas->MoveTo(X1, y);
        canvas->LineTo(X2, y);
        const int x = X1 + RoundInt(static_cast<double>(c) * (X2 - X1) / n);
        canvas->MoveTo(x, Y1);
        canvas->LineTo(x, Y2);
    }
}

bool TImgView::DrawSelectionTo(classlib::TCanvas* Canvas, classlib::TObject* Sender)
{
    TPxSelectionOutline& o = outline_;
    if (!o.Visible || !Canvas)
        return false;
    const bool mouseSelecting = PolySelecting || LassoSelecting || RectSelecting || CircleSelecting;
    bool animated = false;
    if (o.Animated) {
        animated = true;
        if (!mouseSelecting && SelGrip == 0 && SelMoving < 0 && !MovingRectSel &&
            dynamic_cast<classlib::TTimer*>(Sender)) {
            o.StartPhase = o.StartPhase + 1 >= 10 ? 0 : o.StartPhase + 1;
            ++AntsPhase;
        }
    }
    const RECT clip = Canvas->GetClipRect();
    // While the view scrolls by itself the outline would be drawn at the old
    // place and left behind by the scroll.
    if (clip.right <= clip.left || clip.bottom <= clip.top || paintLock_ > 0 || Canvas->GetLockCount() > 0 ||
        AutoScrolling)
        return animated;

    classlib::TValueScope<classlib::TCanvas*> scope(selDrawCanvas_, Canvas);

    const bool rect = o.IsRectangle();
    const bool moving = SelMoving >= 0 || MovingRectSel;
    if (o.ShowGrips && rect && !RectSelecting && !moving) {
        POINT c[4];
        int left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;
        for (int k = 0; k < 4; ++k) {
            c[k].x = SelLayerToScreenX(o.Points[static_cast<size_t>(k)].x);
            c[k].y = SelLayerToScreenY(o.Points[static_cast<size_t>(k)].y);
            left = std::min(left, static_cast<int>(c[k].x));
            top = std::min(top, static_cast<int>(c[k].y));
            right = std::max(right, static_cast<int>(c[k].x));
            bottom = std::max(bottom, static_cast<int>(c[k].y));
        }
        {
            TPxCanvas grips(Canvas, false, true);
            grips.GetBrush()->SetStyle(GripBrushStyle);
            grips.GetBrush()->SetColor(GripBrushColor);
            grips.GetPen()->SetColor(GripPenColor);
            auto grip = [&](int x, int y) {
                if (GripShape == 0)
                    grips.Rectangle(x - GripSize, y - GripSize, x + GripSize, y + GripSize);
                else
                    grips.Ellipse(x - GripSize, y - GripSize, x + GripSize, y + GripSize);
            };
            for (const POINT& p : c)
                grip(p.x, p.y);
            if (ShowMidGrips) {
                const int cx = left + (right - left) / 2;
                const int cy = top + (bottom - top) / 2;
                grip(cx, top);
                grip(right, cy);
                grip(cx, bottom);
                grip(left, cy);
            }
        }
        DrawGrid(left, top, right, bottom);
    }

    TPxMask* mask = SyncSelectionMask();
    if (!mask->IsEmpty() && !mouseSelecting && SelGrip == 0 && !MovingRectSel) {
        if (displayDelay_ > 0)
            return animated;
        const int32_t* d = GetCurrentLayer()->DrawRect;
        const DWORD start = GetTickCount();
        mask->DrawOutline(Canvas, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7], antsColor1_, antsColor2_,
                          AntsPhase, lastSelRect_);
        const int elapsed = static_cast<int>(GetTickCount() - start);
        if (AntsLoadLimit < 0 && antsTimer_)
            antsTimer_->SetInterval(static_cast<unsigned>(AntsIntervalFor(elapsed)));
        return animated;
    }

    const int n = o.Count();
    if (n == 0)
        return animated;
    HDC dc = Canvas->GetHandle();
    Canvas->GetPen()->SetMode(classlib::pmCopy);
    o.DashPhase = o.StartPhase;
    auto fire = [&](int Point, int x, int y) {
        if (OnDrawPolygon)
            OnDrawPolygon(this, 0, Point, Canvas, x, y);
    };
    if (rect) {
        int minX = o.Points[0].x, minY = o.Points[0].y, maxX = minX, maxY = minY;
        for (const POINT& p : o.Points) {
            minX = std::min(minX, static_cast<int>(p.x));
            minY = std::min(minY, static_cast<int>(p.y));
            maxX = std::max(maxX, static_cast<int>(p.x));
            maxY = std::max(maxY, static_cast<int>(p.y));
        }
        const int x1 = SelLayerToScreenX(minX);
        const int y1 = SelLayerToScreenY(minY);
        const int x2 = SelLayerToScreenX(maxX) - 1;
        const int y2 = SelLayerToScreenY(maxY) - 1;
        lastSelRect_ = RECT{x1, y1, x2, y2};
        o.PlotLine(dc, x1, y1, x2, y1);
        fire(1, x2, y1);
        o.PlotLine(dc, x2, y1, x2, y2);
        fire(2, x2, y2);
        o.PlotLine(dc, x2, y2, x1, y2);
        fire(3, x1, y2);
        o.PlotLine(dc, x1, y1, x1, y2);
        fire(0, x1, y1);
        if (RectSelecting || moving)
            DrawGrid(x1, y1, x2, y2);
        return animated;
    }
    int first = 0;
    for (int k = 0; k < n; ++k) {
        const POINT& p = o.Points[static_cast<size_t>(k)];
        if (PxIsSeparator(p)) {
            first = k + 1;
            continue;
        }
        int next = k + 1;
        if (next >= n) {
            if (PolySelecting)
                break;
            next = first;
        } else if (PxIsSeparator(o.Points[static_cast<size_t>(next)])) {
            next = first;
        }
        const POINT& q = o.Points[static_cast<size_t>(next)];
        const int sx = SelLayerToScreenX(p.x);
        const int sy = SelLayerToScreenY(p.y);
        o.PlotLine(dc, sx, sy, SelLayerToScreenX(q.x), SelLayerToScreenY(q.y));
        fire(k, sx, sy);
    }
    return animated;
}

void TImgView::DrawSelection(classlib::TObject* Sender)
{
    if (!HasParentWindow() || !ShowSelection)
        return;
    bool animated = false;
    if (HandleAllocated())
        animated = DrawSelectionTo(GetCanvas(), Sender);
    if (!antsTimer_) {
        antsTimer_ = std::make_unique<classlib::TTimer>(nullptr);
        antsTimer_->SetEnabled(false);
        antsTimer_->SetInterval(210);
        antsTimer_->SetOnTimer(classlib::TNotifyEvent(this, &TImgView::DrawSelection));
    }
    antsTimer_->SetEnabled(animated || zoomDelay_ > 0 || displayDelay_ > 0);
    if (displayDelay_ > 0)
        --displayDelay_;
    if (zoomDelay_ > 0) {
        --zoomDelay_;
        if (zoomDelay_ == 0)
            Update();
    }
}

}  // namespace imaging
