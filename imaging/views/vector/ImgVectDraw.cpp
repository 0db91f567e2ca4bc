// Drawing of the vector objects: over the view's back buffer on every
// composition and into the image on request; rulers and angles with their
// measures; the selection area.
#include <algorithm>
#include <cmath>
#include <optional>
#include <cstring>

#include "classlib/Bitmap.h"
#include "classlib/ExtCtrls.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxGeometry.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxMask.h"
#include "imaging/proc/PxEffects.h"
#include "imaging/proc/PxRender.h"
#include "imaging/views/vector/ImgVect.h"
#include "imaging/views/view/PxDrawing.h"
#include "imaging/views/view/PxGDIPlus.h"

namespace imaging {

namespace {

constexpr double kPi = 3.14159265358979323846;
const uint8_t kFontQuality[3] = {4, 5, 6};

int Trunc(double v) { return static_cast<int>(classlib::Trunc(v)); }
int RoundI(double v) { return static_cast<int>(classlib::Round(v)); }

void Grow(RECT& R, int X, int Y)
{
    R.left = std::min<LONG>(R.left, X);
    R.top = std::min<LONG>(R.top, Y);
    R.right = std::max<LONG>(R.right, X);
    R.bottom = std::max<LONG>(R.bottom, Y);
}

constexpr RECT kEmptyDrawn{2000000000, 2000000000, -2000000000, -2000000000};

// A GDI font made for one drawing, selected into a DC, deleted at the end.
class TTempFont {
public:
    TTempFont(HDC DC, const LOGFONTA& Font) : font_(::CreateFontIndirectA(&Font)), select_(DC, font_.Get()) {}

private:
    classlib::TOwnedFont font_;  // declared first: deselected before it is deleted
    classlib::TSelectObjectScope select_;
};

// Text colour, transparent background and text alignment for a scope.
class TTextScope {
public:
    TTextScope(HDC DC, classlib::TColor Color, UINT Align = TA_LEFT | TA_TOP)
        : dc_(DC),
          color_(::SetTextColor(DC, static_cast<COLORREF>(classlib::ColorToRGB(Color)))),
          mode_(::SetBkMode(DC, TRANSPARENT)),
          align_(::SetTextAlign(DC, Align))
    {
    }
    ~TTextScope()
    {
        ::SetTextColor(dc_, color_);
        ::SetBkMode(dc_, mode_);
        ::SetTextAlign(dc_, align_);
    }
    TTextScope(const TTextScope&) = delete;
    TTextScope& operator=(const TTextScope&) = delete;

private:
    HDC dc_;
    COLORREF color_;
    int mode_;
    UINT align_;
};

// Text at (X, Y) in the font and colour, clipped to Clip, on a transparent
// background.
void DrawClippedText(HDC DC, const LOGFONTA& Font, classlib::TColor Color, RECT Clip, int X, int Y,
                     const std::string& Text)
{
    TTempFont font(DC, Font);
    TTextScope text(DC, Color);
    ::ExtTextOutA(DC, X, Y, ETO_CLIPPED, &Clip, Text.data(), static_cast<UINT>(Text.size()), nullptr);
}

// The x offset in a box BoxW wide of a text Tw x Th turned by A radians:
// Align 0 left (Pad in from the edge), 1 right (Pad in), 2 and 3 centred.
int AlignedTextOffset(uint8_t Align, double A, int BoxW, int Tw, int Th, int Pad)
{
    switch (Align) {
    case 0:
        return std::abs(Trunc(std::sin(A) * Th)) + Pad;
    case 1:
        return Trunc(BoxW - std::cos(A) * Tw) - Pad;
    case 2:
    case 3:
        return Trunc(BoxW - std::cos(A) * Tw - std::sin(A) * Th) / 2;
    default:
        return 0;
    }
}

// A solid pen and no fill, as rulers and angles are drawn.
void SetMeasurePen(TPxCanvas* Canvas, classlib::TColor Color, int PenWidth)
{
    TPxPen* pen = Canvas->GetPen();
    pen->SetMode(classlib::pmCopy);
    pen->SetWidth(static_cast<float>(PenWidth));
    pen->SetStyle(classlib::psSolid);
    pen->SetColor(Color);
    Canvas->GetBrush()->SetStyle(classlib::bsClear);
}

SIZE TextSize(HDC DC, const std::string& Text)
{
    SIZE s{0, 0};
    if (!Text.empty())
        ::GetTextExtentPoint32A(DC, Text.data(), static_cast<int>(Text.size()), &s);
    else
        ::GetTextExtentPoint32A(DC, " ", 1, &s), s.cx = 0;
    return s;
}

std::string Narrow(const std::wstring& W)
{
    if (W.empty())
        return {};
    const int n = ::WideCharToMultiByte(CP_ACP, 0, W.data(), static_cast<int>(W.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(std::max(n, 0)), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_ACP, 0, W.data(), static_cast<int>(W.size()), s.data(), n, nullptr, nullptr);
    return s;
}

// Clamps the box to the bitmap and orders its corners; false for an empty
// bitmap.
bool ClampBoxToBitmap(classlib::TBitmap* Bitmap, int& X1, int& Y1, int& X2, int& Y2)
{
    if (!Bitmap || Bitmap->GetWidth() <= 0 || Bitmap->GetHeight() <= 0)
        return false;
    const int w = Bitmap->GetWidth(), h = Bitmap->GetHeight();
    X1 = std::clamp(X1, 0, w - 1);
    X2 = std::clamp(X2, 0, w - 1);
    Y1 = std::clamp(Y1, 0, h - 1);
    Y2 = std::clamp(Y2, 0, h - 1);
    if (X1 > X2)
        std::swap(X1, X2);
    if (Y1 > Y2)
        std::swap(Y1, Y2);
    return true;
}

// The marker box's opacity: the alpha surface is 24-bit (one channel is
// taken as the alpha afterwards), so the box's pixels take the colour, as
// the red value replaces the bytes of an 8-bit alpha channel.
void PxFillAlphaBox(classlib::TBitmap* Bitmap, int X1, int Y1, int X2, int Y2, classlib::TColor Color)
{
    if (!ClampBoxToBitmap(Bitmap, X1, Y1, X2, Y2))
        return;
    const classlib::TOwnedBrush brush(::CreateSolidBrush(static_cast<COLORREF>(classlib::ColorToRGB(Color))));
    const RECT r{X1, Y1, X2 + 1, Y2 + 1};
    ::FillRect(Bitmap->GetCanvas()->GetHandle(), &r, brush.Get());
}

// Marker-pen box: the colour's channels AND the pixels (24-bit), or the
// colour's red value replaces them (8-bit).
void PxHighlightBox(classlib::TBitmap* Bitmap, int X1, int Y1, int X2, int Y2, classlib::TColor Color)
{
    if (!ClampBoxToBitmap(Bitmap, X1, Y1, X2, Y2))
        return;
    const int h = Bitmap->GetHeight();
    const uint32_t rgb = static_cast<uint32_t>(classlib::ColorToRGB(Color));
    const uint8_t r = rgb & 0xFF, g = (rgb >> 8) & 0xFF, b = (rgb >> 16) & 0xFF;
    DIBSECTION ds{};
    if (::GetObjectW(Bitmap->GetHandle(), sizeof(ds), &ds) != sizeof(ds) || !ds.dsBm.bmBits)
        return;
    ::GdiFlush();
    const int bits = ds.dsBm.bmBitsPixel;
    const bool topDown = ds.dsBmih.biHeight < 0;
    for (int y = Y1; y <= Y2; ++y) {
        uint8_t* row = static_cast<uint8_t*>(ds.dsBm.bmBits) +
                       static_cast<size_t>(topDown ? y : h - 1 - y) * static_cast<size_t>(ds.dsBm.bmWidthBytes);
        if (bits == 24) {
            for (int x = X1; x <= X2; ++x) {
                uint8_t* p = row + static_cast<size_t>(x) * 3;
                p[0] &= b;
                p[1] &= g;
                p[2] &= r;
            }
        } else if (bits == 8) {
            std::memset(row + X1, r, static_cast<size_t>(X2 - X1 + 1));
        }
    }
}

}  // namespace

// ---- coordinates

int TImgVect::ObjToDestX(int X, bool OnScreen, double Scale)
{
    return static_cast<int>((OnScreen ? BitmapToScreenX(X) : X) * Scale);
}

int TImgVect::ObjToDestY(int Y, bool OnScreen, double Scale)
{
    return static_cast<int>((OnScreen ? BitmapToScreenY(Y) : Y) * Scale);
}

int TImgVect::ObjPenWidth(const TPxVectObject& Record, double ZoomX, double ZoomY) const
{
    if (!zoomObjectsWidth_)
        return Record.PenWidth;
    return PxCeil(std::max(1.0, std::min(ZoomX, ZoomY) * Record.PenWidth));
}

void TImgVect::PolylineScale(const TPxVectObject& Record, double& Sx, double& Sy) const
{
    const double bw = Record.PointsBounds.right - Record.PointsBounds.left;
    const double bh = Record.PointsBounds.bottom - Record.PointsBounds.top;
    Sx = bw == 0 ? 1.0 : (Record.Right - Record.Left) / bw;
    Sy = bh == 0 ? 1.0 : (Record.Bottom - Record.Top) / bh;
}

void TImgVect::FitPolylineBox(TPxVectObject& Record)
{
    if (Record.Points.empty())
        return;
    double sx, sy;
    PolylineScale(Record, sx, sy);
    int l = INT32_MAX, t = INT32_MAX, r = INT32_MIN, b = INT32_MIN;
    int rl = INT32_MAX, rt = INT32_MAX, rr = INT32_MIN, rb = INT32_MIN;
    for (const POINT& p : Record.Points) {
        const int x = RoundI((p.x - Record.PointsBounds.left) * sx) + Record.Left;
        const int y = RoundI((p.y - Record.PointsBounds.top) * sy) + Record.Top;
        l = std::min(l, x);
        t = std::min(t, y);
        r = std::max(r, x);
        b = std::max(b, y);
        rl = std::min<int>(rl, p.x);
        rt = std::min<int>(rt, p.y);
        rr = std::max<int>(rr, p.x);
        rb = std::max<int>(rb, p.y);
    }
    Record.Left = l;
    Record.Top = t;
    Record.Right = r;
    Record.Bottom = b;
    Record.PointsBounds = RECT{rl, rt, rr, rb};
}

// ---- painting hooks

void TImgVect::DrawLayers(TPxBitmap* Dest, std::vector<uint8_t*>* RowTable, bool DrawMarks, bool DrawBackground,
                          const RECT* ClipRect)
{
    TImgView::DrawLayers(Dest, RowTable, DrawMarks, DrawBackground, ClipRect);
    if (!objects_.empty() || DrawMarks || DrawBackground) {
        if (classlib::TBitmap* b = Dest->GetVclBitmap())
            DrawObjectsOnBackBuffer(b);
    }
}

void TImgVect::Paint()
{
    if (timer_ && !timer_->GetEnabled() && !FastDrawing && PxIsMouseButtonDown()) {
        FastDrawing = true;
        timer_->SetEnabled(true);
    }
    TImgView::Paint();
    // The inherited painting skips these cases and leaves the window as it
    // was; otherwise the rubber figure it painted over is put back.
    if (HandleAllocated() && HasParentWindow() && GetViewWidth() > 0 && GetViewHeight() > 0 &&
        GetPaintLockCount() == 0 && !(GetComponentState() & classlib::csDesigning))
        PaintRubber(GetCanvas()->GetHandle());
    if (hintBitmap_->GetWidth() > 1)
        hintBitmap_->SetSize(1, hintBitmap_->GetHeight());
    if (MeasureHint)
        DrawMeasureHint(PxAngleUnset, PxAngleUnset);
}

void TImgVect::InteractionTimer(classlib::TObject*)
{
    if (::GetAsyncKeyState(VK_LBUTTON) < 0)
        return;
    timer_->SetEnabled(false);
    FastDrawing = false;
    Update();
}

void TImgVect::DrawObjectsOnBackBuffer(classlib::TBitmap* Bitmap)
{
    DrawObjects(false, objAntialias_, Bitmap);
    DrawSelectionGrips(Bitmap->GetCanvas());
    if (VectInteract & viEditPolyline)
        DrawPolylineVertices(Bitmap->GetCanvas());
}

void TImgVect::DrawObjectsIntoImage(bool HighQuality)
{
    DrawObjectsToBitmap(GetPxBitmap(), HighQuality);
    Update();
    DoImageChange();
}

void TImgVect::DrawObjectsToBitmap(TPxBitmap* Image, bool HighQuality)
{
    if (!Image || Image->IsEmpty())
        return;
    const bool savedHQ = highQuality_, savedFast = FastDrawing;
    if (HighQuality)
        highQuality_ = true;
    FastDrawing = false;
    try {
        if (Image->GetPixelFormat() == px24RGB) {
            DrawObjects(true, HighQuality, Image->GetVclBitmap());
        } else {
            TPxBitmap temp;
            temp.Assign(Image);
            const TPxPixelFormat f = Image->GetPixelFormat();
            temp.SetPixelFormat(px24RGB);
            DrawObjects(true, HighQuality, temp.GetVclBitmap());
            temp.SetPixelFormat(f);
            Image->Assign(&temp);
        }
    } catch (...) {
        highQuality_ = savedHQ;
        FastDrawing = savedFast;
        throw;
    }
    highQuality_ = savedHQ;
    FastDrawing = savedFast;
}

void TImgVect::EnsureWorkImage(int W, int H)
{
    if (!workImage_ || workImage_->GetWidth() != W || workImage_->GetHeight() != H) {
        workImage_ = std::make_unique<TPxBitmap>();
        workImage_->SetLocation(pxTBitmap);
        workImage_->Allocate(W, H, px24RGB);
        auto alpha = TPxBitmap::CreateAsAlphaChannel(W, H, pxTBitmap);
        workImage_->AttachAlphaChannel(alpha.release());
    }
}

void TImgVect::DrawAlphaPass(TPxVectObject& O, int H, double Scale, bool OnScreen)
{
    // Drawn in grey on a 24-bit surface, then one channel becomes the alpha
    // (a palette surface would map the greys to its nearest entries).
    const int W = workImage_->GetWidth(), Ht = workImage_->GetHeight();
    if (!alphaDraw_ || alphaDraw_->GetWidth() != W || alphaDraw_->GetHeight() != Ht) {
        alphaDraw_ = std::make_unique<TPxBitmap>();
        alphaDraw_->SetLocation(pxTBitmap);
        alphaDraw_->Allocate(W, Ht, px24RGB);
    }
    alphaDraw_->Fill(0);
    const classlib::TColor grey = (O.Transparency & 0xFF) * 0x010101;
    const classlib::TColor saved[4] = {O.PenColor, O.BrushColor, O.LabelBrushColor, O.MemoBorderColor};
    O.PenColor = O.BrushColor = O.LabelBrushColor = O.MemoBorderColor = grey;
    try {
        DrawObject(O, H, true, Scale, workImage_.get(), OnScreen, OnScreen, alphaDraw_->GetVclBitmap());
    } catch (...) {
        O.PenColor = saved[0], O.BrushColor = saved[1], O.LabelBrushColor = saved[2], O.MemoBorderColor = saved[3];
        throw;
    }
    O.PenColor = saved[0], O.BrushColor = saved[1], O.LabelBrushColor = saved[2], O.MemoBorderColor = saved[3];
    ::GdiFlush();
    TPxBitmap* alpha = workImage_->GetAlphaChannel();
    for (int y = 0; y < Ht; ++y) {
        const uint8_t* src = alphaDraw_->GetScanline(y);
        uint8_t* dst = alpha->GetScanline(y);
        for (int x = 0; x < W; ++x)
            dst[x] = src[static_cast<size_t>(x) * 3 + 2];
    }
    alpha->FullAlpha = false;
}

void TImgVect::BlendWorkImage(TPxVectObject& O, int R, classlib::TBitmap* Destination)
{
    RECT a = O.DrawnRect;
    a.left -= O.DrawnMargin;
    a.top -= O.DrawnMargin;
    a.right += O.DrawnMargin;
    a.bottom += O.DrawnMargin;
    const int ww = workImage_->GetWidth(), wh = workImage_->GetHeight();
    a.left = std::clamp<LONG>(a.left, 0, ww - 1);
    a.right = std::clamp<LONG>(a.right, 0, ww - 1);
    a.top = std::clamp<LONG>(a.top, 0, wh - 1);
    a.bottom = std::clamp<LONG>(a.bottom, 0, wh - 1);
    if (a.left > a.right)
        std::swap(a.left, a.right);
    if (a.top > a.bottom)
        std::swap(a.top, a.bottom);
    if (R > 1) {
        // The reduction's filter reaches past the edges of a supersampled
        // area.
        a.left += 2;
        a.top += 2;
        a.right -= 2;
        a.bottom -= 2;
    }
    if (O.Shadow.Enabled) {
        const uint32_t c = static_cast<uint32_t>(classlib::ColorToRGB(O.Shadow.ShadowColor));
        const TPxRGB rgb{static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)};
        const int m = PxAddSoftShadowRect(workImage_.get(), O.Shadow.OffsetX * R, O.Shadow.OffsetY * R,
                                          O.Shadow.Radius * R, O.Shadow.Intensity, rgb, a.left, a.top, a.right,
                                          a.bottom);
        a.left = std::max<LONG>(a.left - m, 0);
        a.top = std::max<LONG>(a.top - m, 0);
        a.right = std::min<LONG>(a.right + m, ww - 1);
        a.bottom = std::min<LONG>(a.bottom + m, wh - 1);
    }
    const int w = a.right - a.left + 1, h = a.bottom - a.top + 1;
    if (w <= 0 || h <= 0)
        return;
    if (R == 1)
        RenderToVclBitmapSimple(*workImage_, Destination, a.left, a.top, w, h, a.left, a.top, w, h, 255, rfNone, 0);
    else
        RenderToVclBitmapSimple(*workImage_, Destination, a.left / R, a.top / R, w / R, h / R, a.left, a.top, w, h,
                                255, rfTriangle, 0);
}

void TImgVect::CopyHighlightBackground(const TPxVectObject& O, int R, bool OnScreen, classlib::TBitmap* Destination)
{
    const int dw = Destination->GetWidth(), dh = Destination->GetHeight();
    int l = O.Left, t = O.Top, rr = O.Right, b = O.Bottom;
    while (ObjToDestX(l, OnScreen, 1) < 0 && l < rr)
        ++l;
    while (ObjToDestY(t, OnScreen, 1) < 0 && t < b)
        ++t;
    while (ObjToDestX(rr + 1, OnScreen, 1) >= dw && rr > l)
        --rr;
    while (ObjToDestY(b + 1, OnScreen, 1) >= dh && b > t)
        --b;
    int x1 = ObjToDestX(l, OnScreen, 1), y1 = ObjToDestY(t, OnScreen, 1);
    int x2 = ObjToDestX(rr + 1, OnScreen, 1), y2 = ObjToDestY(b + 1, OnScreen, 1);
    if (x1 > x2)
        std::swap(x1, x2);
    if (y1 > y2)
        std::swap(y1, y2);
    if (x1 < 0 || y1 < 0 || x2 <= x1 || y2 <= y1)
        return;
    HDC work = workImage_->GetVclBitmap()->GetCanvas()->GetHandle();
    HDC dest = Destination->GetCanvas()->GetHandle();
    if (R == 1) {
        ::BitBlt(work, x1, y1, x2 - x1, y2 - y1, dest, x1, y1, SRCCOPY);
    } else {
        const int oldMode = ::SetStretchBltMode(work, COLORONCOLOR);
        ::StretchBlt(work, x1 * R, y1 * R, (x2 - x1) * R, (y2 - y1) * R, dest, x1, y1, x2 - x1, y2 - y1, SRCCOPY);
        ::SetStretchBltMode(work, oldMode);
    }
}

void TImgVect::DrawObjectsSupersampled(bool HighQuality, bool OnScreen, classlib::TBitmap* Destination)
{
    // Every object at r times the size, reduced on blending.
    const int r = HighQuality ? 2 : 1;
    EnsureWorkImage(Destination->GetWidth() * r, Destination->GetHeight() * r);
    for (int h : drawOrder_) {
        TPxVectObject& o = objects_[static_cast<size_t>(h)];
        if (HighQuality)
            workImage_->Fill(static_cast<double>(classlib::ColorToRGB(o.PenColor) & 0xFFFFFF));
        if (o.BoxHighlight)
            CopyHighlightBackground(o, r, OnScreen, Destination);
        workImage_->GetAlphaChannel()->Fill(0);
        if (!DrawObject(o, h, false, r, workImage_.get(), OnScreen, OnScreen, workImage_->GetVclBitmap()))
            continue;
        if (!(o.Kind == pxvoBitmap && GetSharedBitmap(o.BitmapIndex)))
            DrawAlphaPass(o, h, r, OnScreen);
        BlendWorkImage(o, r, Destination);
    }
}

void TImgVect::DrawObjects(bool IntoImage, bool HighQuality, classlib::TBitmap* Destination)
{
    if (!Destination || Destination->GetWidth() <= 0 || Destination->GetHeight() <= 0)
        return;
    const int dw = Destination->GetWidth(), dh = Destination->GetHeight();
    const bool onScreen = !IntoImage;
    if (highQuality_ && !objects_.empty() && !PxGDIPlusEnabled()) {
        DrawObjectsSupersampled(HighQuality, onScreen, Destination);
        return;
    }
    for (int h : drawOrder_) {
        if (h < 0 || h >= static_cast<int>(objects_.size()))
            continue;
        TPxVectObject& o = objects_[static_cast<size_t>(h)];
        // Shadows, marker boxes and translucent texts go through the work
        // image; everything else draws straight onto the destination.
        const bool direct = FastDrawing || (!o.Shadow.Enabled && !o.BoxHighlight &&
                                            (o.Transparency >= 255 || (o.Kind != pxvoText && o.Kind != pxvoMemo)));
        if (direct) {
            DrawObject(o, h, false, 1, nullptr, onScreen, onScreen, Destination);
            continue;
        }
        EnsureWorkImage(dw, dh);
        workImage_->Fill(static_cast<double>(classlib::ColorToRGB(o.PenColor) & 0xFFFFFF));
        if (o.BoxHighlight)
            CopyHighlightBackground(o, 1, onScreen, Destination);
        if (!DrawObject(o, h, false, 1, workImage_.get(), onScreen, onScreen, workImage_->GetVclBitmap()))
            continue;
        if (o.Kind == pxvoBitmap && GetSharedBitmap(o.BitmapIndex)) {
            workImage_->GetAlphaChannel()->Fill(0);
            DrawObject(o, h, false, 1, workImage_.get(), onScreen, onScreen, workImage_->GetVclBitmap());
        } else {
            DrawAlphaPass(o, h, 1, onScreen);
        }
        BlendWorkImage(o, 1, Destination);
    }
}

bool TImgVect::BoxMeetsShownArea(int X1, int Y1, int X2, int Y2, double Scale)
{
    const RECT shown{static_cast<LONG>(GetOffsetX() * Scale), static_cast<LONG>(GetOffsetY() * Scale),
                     static_cast<LONG>((GetOffsetX() + GetExtentX()) * Scale),
                     static_cast<LONG>((GetOffsetY() + GetExtentY()) * Scale)};
    const int l = std::min(X1, X2), r = std::max(X1, X2), t = std::min(Y1, Y2), b = std::max(Y1, Y2);
    return !(r < shown.left || l > shown.right || b < shown.top || t > shown.bottom);
}

void TImgVect::DrawLineObject(TPxCanvas* Canvas, TPxVectObject& R, POINT A, POINT B, double ZoomX, double ZoomY)
{
    Canvas->DrawLine(A.x, A.y, B.x, B.y);
    const int sw = Trunc(R.ShapeWidth * ZoomX), sh = Trunc(R.ShapeHeight * ZoomY);
    DrawLineEndShape(Canvas, R, A, B, R.BeginShape, sw, sh);
    DrawLineEndShape(Canvas, R, B, A, R.EndShape, sw, sh);
    if (R.Kind == pxvoLineLabel)
        DrawLineLabel(Canvas, R, A, B, ZoomY);
}

double TImgVect::RulerLength(const TPxVectObject& R)
{
    const double ux0 = UnitSizeX, uy0 = UnitSizeY;
    ComputeUnitScale(R.MeasureUnit);
    const double len = std::sqrt(std::pow(std::abs(R.Right - R.Left) * UnitSizeX, 2) +
                                 std::pow(std::abs(R.Bottom - R.Top) * UnitSizeY, 2));
    UnitSizeX = ux0;
    UnitSizeY = uy0;
    return len;
}

void TImgVect::DrawPolylineObject(TPxCanvas* Canvas, TPxVectObject& R, bool OnScreen, double Scale)
{
    const RECT& b = R.PointsBounds;
    if ((b.left == b.right && b.top == b.bottom) || R.Points.empty())
        return;
    double sx, sy;
    PolylineScale(R, sx, sy);
    R.ScreenPoints.resize(R.Points.size());
    for (size_t i = 0; i < R.Points.size(); ++i)
        R.ScreenPoints[i] = POINT{ObjToDestX(RoundI((R.Points[i].x - b.left) * sx) + R.Left, OnScreen, Scale),
                                  ObjToDestY(RoundI((R.Points[i].y - b.top) * sy) + R.Top, OnScreen, Scale)};
    if (R.Closed)
        Canvas->Polygon(R.ScreenPoints);
    else
        Canvas->Polyline(R.ScreenPoints);
    // Hit tests use the points at the final size.
    if (Scale != 1)
        for (POINT& p : R.ScreenPoints) {
            p.x = static_cast<LONG>(p.x / static_cast<int>(Scale));
            p.y = static_cast<LONG>(p.y / static_cast<int>(Scale));
        }
}

bool TImgVect::DrawObject(TPxVectObject& R, int hobj, bool DrawingAlpha, double Scale, TPxBitmap* WorkImage,
                          bool OnScreen, bool OnlyIfVisible, classlib::TBitmap* Destination)
{
    if (!Destination)
        return false;
    double zx = OnScreen ? GetZoomX() / 100 : 1.0;
    double zy = OnScreen ? GetZoomY() / 100 : 1.0;
    if (Scale > 1) {
        zx *= Scale;
        zy *= Scale;
    }
    int x1 = ObjToDestX(R.Left, OnScreen, Scale), y1 = ObjToDestY(R.Top, OnScreen, Scale);
    int x2 = ObjToDestX(R.Right, OnScreen, Scale), y2 = ObjToDestY(R.Bottom, OnScreen, Scale);
    const int x2p = ObjToDestX(R.Right + 1, OnScreen, Scale), y2p = ObjToDestY(R.Bottom + 1, OnScreen, Scale);
    if (R.BoxHighlight)
        R.PenWidth = 1;
    const int w = ObjPenWidth(R, zx, zy);
    if (zoomObjectsWidth_ && R.Kind == pxvoBitmap) {
        if (zx != 1.0)
            x2 = x2p - 1;
        if (zy != 1.0)
            y2 = y2p - 1;
    }
    classlib::TCanvas* vcl = Destination->GetCanvas();
    TPxCanvas canvas(vcl, objAntialias_ && !FastDrawing, !DrawingAlpha);
    TPxPen* pen = canvas.GetPen();
    pen->SetStyle(R.PenStyle);
    pen->SetWidth(static_cast<float>(w));
    pen->SetMode(classlib::pmCopy);
    pen->SetColor(R.PenColor);
    // Drawn into the work image the object is opaque: its opacity is
    // applied once, when the work image is blended onto the destination.
    const uint8_t opacity = WorkImage ? 255 : static_cast<uint8_t>(std::clamp(R.Transparency, 0, 255));
    pen->SetTransparency(opacity);
    canvas.GetBrush()->SetTransparency(opacity);
    R.DrawnRect = kEmptyDrawn;
    R.DrawnMargin = w;
    if (!(R.Options & pxvoptVisible))
        return false;
    if (OnlyIfVisible && !BoxMeetsShownArea(x1, y1, x2, y2, Scale))
        return false;
    bool handled = false;
    if (OnBeforeDrawObject) {
        OnBeforeDrawObject(this, hobj, Destination, RECT{x1, y1, x2, y2}, DrawingAlpha, handled);
        Grow(R.DrawnRect, x1, y1);
        Grow(R.DrawnRect, x2, y2);
    }
    if (!handled) {
        canvas.GetBrush()->SetColor(R.BrushColor);
        canvas.GetBrush()->SetStyle(R.BrushStyle);
        if (R.Kind != pxvoRuler && R.Kind != pxvoAngle) {
            Grow(R.DrawnRect, x1, y1);
            Grow(R.DrawnRect, x2, y2);
        }
        switch (R.Kind) {
        case pxvoLine:
        case pxvoLineLabel:
            DrawLineObject(&canvas, R, POINT{x1, y1}, POINT{x2, y2}, zx, zy);
            break;
        case pxvoBox:
            pen->SetLineJoin(pxLineJoinMiter);
            if (R.BoxHighlight && DrawingAlpha)
                PxFillAlphaBox(Destination, x1, y1, x2, y2, R.BrushColor);
            else if (R.BoxHighlight)
                PxHighlightBox(Destination, x1, y1, x2, y2, R.BrushColor);
            else
                canvas.Rectangle(x1, y1, x2 + 1, y2 + 1);
            break;
        case pxvoEllipse:
            canvas.Ellipse(x1, y1, x2 + 1, y2 + 1);
            break;
        case pxvoArc: {
            const double rx = (x2 - x1) / 2.0, ry = (y2 - y1) / 2.0;
            canvas.Arc(x1, y1, x2 + 1, y2 + 1, x1 + Trunc(std::cos(R.ArcStart) * rx + rx),
                       y1 + Trunc(std::sin(R.ArcStart) * ry + ry), x1 + Trunc(std::cos(R.ArcEnd) * rx + rx),
                       y1 + Trunc(std::sin(R.ArcEnd) * ry + ry));
            break;
        }
        case pxvoBitmap:
            DrawBitmapObject(Destination, &canvas, R, w, WorkImage, x1, y1, x2, y2);
            break;
        case pxvoText:
        case pxvoMemo:
            pen->SetLineJoin(pxLineJoinMiter);
            if (R.MemoHasBitmap && !DrawingAlpha)
                DrawBitmapObject(Destination, &canvas, R, w, WorkImage, x1, y1, x2, y2);
            DrawTextObject(&canvas, R, hobj, x1, y1, x2, y2, zx, zy, DrawingAlpha);
            break;
        case pxvoRuler: {
            pen->SetLineJoin(pxLineJoinMiter);
            const TPxUnits unit = R.MeasureUnit;
            const double len = RulerLength(R);
            DrawRuler(&canvas, POINT{x1, y1}, POINT{x2, y2}, len, unit, R.PenColor, R.PenWidth, R.RulerStyle, 1 / zx,
                      1 / zy, R.DrawnRect, R.HasFont ? &R.Font : nullptr);
            break;
        }
        case pxvoAngle:
            pen->SetLineJoin(pxLineJoinMiter);
            DrawAngle(&canvas, R.AnglePoints, R.PenColor, R.PenWidth, R.DrawnRect, OnScreen, Scale, 1 / zx, 1 / zy,
                      R.HasFont ? &R.Font : nullptr);
            break;
        case pxvoPolyline:
            pen->SetLineJoin(pxLineJoinRound);
            DrawPolylineObject(&canvas, R, OnScreen, Scale);
            break;
        case pxvoCustom:
            if (R.CustomObject)
                R.CustomObject->Draw(Destination, x1, y1, x2, y2, DrawingAlpha, zx, zy);
            break;
        default:
            break;
        }
    }
    if (OnAfterDrawObject) {
        OnAfterDrawObject(this, hobj, Destination, RECT{x1, y1, x2, y2}, DrawingAlpha, handled);
        Grow(R.DrawnRect, x1, y1);
        Grow(R.DrawnRect, x2, y2);
    }
    return true;
}

void TImgVect::DrawLineEndShape(TPxCanvas* Canvas, TPxVectObject& R, POINT E, POINT O, uint8_t Shape, int Sw, int Sh)
{
    if (Shape != 1 && Shape != 2)
        return;
    const double dx = O.x - E.x, dy = O.y - E.y;
    const double len = std::sqrt(dx * dx + dy * dy);
    double ux = 0, uy = 0;
    if (len > 0) {
        ux = dx / len;
        uy = dy / len;
    }
    const double nx = -uy, ny = ux;
    const POINT B{E.x + Trunc(Sh * ux), E.y + Trunc(Sh * uy)};
    const int ox = Trunc(Sw / 2.0 * nx), oy = Trunc(Sw / 2.0 * ny);
    POINT p[3];
    if (Shape == 1) {
        p[0] = POINT{E.x + ox, E.y + oy};
        p[1] = POINT{E.x - ox, E.y - oy};
        p[2] = B;
    } else {
        p[0] = POINT{B.x + ox, B.y + oy};
        p[1] = POINT{B.x - ox, B.y - oy};
        p[2] = E;
    }
    Canvas->Polygon(p, 3);
    for (const POINT& q : p)
        Grow(R.DrawnRect, q.x, q.y);
}

void TImgVect::DrawLineLabel(TPxCanvas* Canvas, TPxVectObject& R, POINT S, POINT T, double ZoomY)
{
    if (R.Text.empty() || !R.HasFont)
        return;
    if (R.LabelPosition == 1)
        std::swap(S, T);
    HDC dc = Canvas->GetHandle();
    LOGFONTA lf = R.Font;
    lf.lfQuality = kFontQuality[std::min<int>(R.TextQuality, 2)];
    lf.lfHeight = Trunc(lf.lfHeight * ZoomY);
    SIZE ts{0, 0};
    {
        TTempFont font(dc, lf);
        ts = TextSize(dc, R.Text);
    }
    const int tw = ts.cx, th = ts.cy;
    const double a = R.Font.lfEscapement / 10.0 * kPi / 180;
    const int left = S.x < T.x ? S.x - tw : S.x;
    const int top = S.y < T.y ? S.y - th : S.y;
    const int right = left + tw, bottom = top + th;
    const int yOff = Trunc(th - std::cos(a) * th + std::sin(a) * tw) / 2;
    const int xOff = AlignedTextOffset(R.TextAlign, a, right - left, tw, th, 0);
    Canvas->GetBrush()->SetColor(R.LabelBrushColor);
    Canvas->GetBrush()->SetStyle(R.LabelBrushStyle);
    Canvas->GetPen()->SetStyle(R.LabelBorder == 0 ? classlib::psClear : classlib::psSolid);
    Canvas->GetPen()->SetColor(R.PenColor);
    // The box is exactly as wide as the text: an outline in the line's own
    // width would be centred on its edges and paint over the outer glyph
    // columns (a thin last letter vanishes into it), so it is one pixel.
    Canvas->GetPen()->SetWidth(1);
    if (R.LabelBorder == 2) {
        Canvas->RoundRect(left, top, right + 1, bottom + 1, 10, 10);
    } else if (R.LabelBorder == 3) {
        Canvas->Ellipse(left, top - th, right + 1, bottom + th + 1);
        Grow(R.DrawnRect, left, top - th);
        Grow(R.DrawnRect, right, bottom + th);
    } else {
        Canvas->Rectangle(left, top, right + 1, bottom + 1);
    }
    Grow(R.DrawnRect, left, top);
    Grow(R.DrawnRect, right + 1, bottom + 1);
    Canvas->GetBrush()->SetStyle(classlib::bsClear);
    // The box drawing may have put the canvas's own font back.
    DrawClippedText(dc, lf, R.PenColor, RECT{left, top, right, bottom}, left + xOff, top + yOff, R.Text);
    R.LabelRect = RECT{ScreenToBitmapX(left), ScreenToBitmapY(top), ScreenToBitmapX(right), ScreenToBitmapY(bottom)};
}

void TImgVect::DrawMemoObject(TPxCanvas* Canvas, TPxVectObject& R, int X1, int Y1, int X2, int Y2, double ZoomY,
                              bool DrawingAlpha)
{
    // The memo's text and formats are lent to a control that lays them out
    // and draws them, and are given back however the drawing ends.
    TPxTextControl control(nullptr);
    control.TextBuf = std::move(R.Text);
    control.Formats = std::move(R.MemoFormats);
    control.CharFormats = std::move(R.MemoCharFormats);
    control.Zoom = ZoomY;
    std::copy(R.MemoMargins, R.MemoMargins + 4, control.Margins);
    if (R.HasFont) {
        wchar_t face[LF_FACESIZE] = {};
        ::MultiByteToWideChar(CP_ACP, 0, R.Font.lfFaceName, -1, face, LF_FACESIZE);
        control.TextFont->SetName(face);
        control.TextFont->SetHeight(R.Font.lfHeight);
        control.TextFont->SetStyle(static_cast<classlib::TFontStyles>(
            (R.Font.lfWeight >= 700 ? classlib::fsBold : 0) | (R.Font.lfItalic ? classlib::fsItalic : 0) |
            (R.Font.lfUnderline ? classlib::fsUnderline : 0) | (R.Font.lfStrikeOut ? classlib::fsStrikeOut : 0)));
    }
    control.TextFont->SetColor(R.PenColor);
    control.TextBrush->SetColor(R.BrushColor);
    control.TextBrush->SetStyle(R.MemoBrushStyle);
    control.Alignment = R.TextAlign;
    control.BoxBrush->SetColor(R.BrushColor);
    control.BoxBrush->SetStyle(R.BrushStyle);
    control.IgnoreColors = DrawingAlpha;
    control.SetFixedFont(R.MemoFixedFont);
    control.AutoHeight = R.TextAutoSize;
    control.LineSpacing = R.MemoLineGap;
    control.BorderPen->SetColor(R.MemoBorderColor);
    control.BorderPen->SetStyle(R.MemoBorderStyle);
    control.LineHeight = R.MemoLineHeight;
    control.InitText();
    try {
        control.PaintTo(Canvas, std::min(X1, X2), std::min(Y1, Y2), std::abs(R.Right - R.Left) + 1,
                        std::abs(R.Bottom - R.Top) + 1);
    } catch (...) {
        R.Text = std::move(control.TextBuf);
        R.MemoFormats = std::move(control.Formats);
        R.MemoCharFormats = std::move(control.CharFormats);
        throw;
    }
    R.Text = std::move(control.TextBuf);
    R.MemoFormats = std::move(control.Formats);
    R.MemoCharFormats = std::move(control.CharFormats);
}

void TImgVect::DrawPlainText(TPxCanvas* Canvas, TPxVectObject& R, const LOGFONTA& lf, int X1, int Y1, int X2, int Y2,
                             double ZoomX)
{
    HDC dc = Canvas->GetHandle();
    const double a = R.Font.lfEscapement / 10.0 * kPi / 180;
    int tw = 0, th = 0;
    {
        TTempFont font(dc, lf);
        const SIZE ts = TextSize(dc, R.Text);
        tw = ts.cx;
        th = ts.cy;
    }
    const int yOff = Trunc((Y2 - Y1) - std::cos(a) * th + std::sin(a) * tw) / 2;
    const int pad = R.PenStyle != classlib::psClear ? RoundI((R.PenWidth + 1) * ZoomX) : 0;
    const int xOff = AlignedTextOffset(R.TextAlign, a, X2 - X1, tw, th, pad);
    Canvas->Rectangle(X1, Y1, X2 + 1, Y2 + 1);
    Canvas->GetBrush()->SetStyle(classlib::bsClear);
    DrawClippedText(dc, lf, R.PenColor, RECT{X1, Y1, X2, Y2}, X1 + xOff, Y1 + yOff, R.Text);
}

void TImgVect::DrawTextAlongPath(TPxCanvas* Canvas, TPxVectObject& R, const LOGFONTA& lf, int X1, int Y1, int X2,
                                 int Y2)
{
    // One character per step along the path's length, each turned along the
    // path or by the given escapement.
    HDC dc = Canvas->GetHandle();
    const double W = std::abs(X2 - X1), H = std::abs(Y2 - Y1);
    TTextScope text(dc, R.PenColor, TA_BASELINE | TA_CENTER);
    double L = 0;
    for (size_t i = 1; i < R.TextPath.size(); ++i)
        L += std::hypot((R.TextPath[i].X - R.TextPath[i - 1].X) * W, (R.TextPath[i].Y - R.TextPath[i - 1].Y) * H);
    const int step = Trunc(L / static_cast<double>(R.Text.size()));
    if (step <= 0)
        return;
    double px = R.TextPath[0].X * W, py = R.TextPath[0].Y * H, acc = 0;
    size_t next = 0;
    int escapement = INT32_MIN;
    // The font of the present escapement; the scope selects the DC's own
    // font back before the last font is deleted.
    classlib::TOwnedFont current;
    std::optional<classlib::TSelectObjectScope> selected;
    for (size_t i = 1; i < R.TextPath.size() && next < R.Text.size(); ++i) {
        const double tx = R.TextPath[i].X * W, ty = R.TextPath[i].Y * H;
        acc += std::hypot(tx - px, ty - py);
        while (acc >= step && next < R.Text.size()) {
            const char c = R.Text[next++];
            if (acc != 0) {
                const double nx = px + (tx - px) * step / acc, ny = py + (ty - py) * step / acc;
                int e = R.TextPathValue;
                if (e == -10) {
                    const double ddx = nx - px, ddy = ny - py;
                    if (std::abs(ddx) >= 0.01) {
                        double ang = std::atan(-ddy / ddx);
                        if (ddx < 0)
                            ang += kPi;
                        e = Trunc(ang * 1800 / kPi + 0.5);
                    } else {
                        e = ddy > 0 ? 2700 : 900;
                    }
                }
                if (e != escapement) {
                    LOGFONTA f = lf;
                    f.lfEscapement = f.lfOrientation = e;
                    classlib::TOwnedFont nf(::CreateFontIndirectA(&f));
                    if (!selected || !selected->Previous())
                        selected.emplace(dc, nf.Get());
                    else
                        ::SelectObject(dc, nf.Get());
                    current = std::move(nf);
                    escapement = e;
                }
                const int ox = Trunc(px) + X1, oy = Trunc(py) + Y1;
                ::TextOutA(dc, ox, oy, &c, 1);
                GLYPHMETRICS gm{};
                static const MAT2 identity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};
                if (::GetGlyphOutlineA(dc, static_cast<uint8_t>(c), GGO_METRICS, &gm, 0, nullptr, &identity) !=
                    GDI_ERROR) {
                    Grow(R.DrawnRect, ox - static_cast<int>(gm.gmBlackBoxX), oy - static_cast<int>(gm.gmBlackBoxY));
                    Grow(R.DrawnRect, ox + static_cast<int>(gm.gmBlackBoxX), oy + static_cast<int>(gm.gmBlackBoxY));
                }
                Grow(R.DrawnRect, ox, oy);
                px = nx;
                py = ny;
            }
            acc -= step;
        }
        px = tx;
        py = ty;
    }
}

void TImgVect::DrawTextObject(TPxCanvas* Canvas, TPxVectObject& R, int hobj, int X1, int Y1, int X2, int Y2,
                              double ZoomX, double ZoomY, bool DrawingAlpha)
{
    if (R.Kind == pxvoMemo) {
        if (hobj != EditingObject)
            DrawMemoObject(Canvas, R, X1, Y1, X2, Y2, ZoomY, DrawingAlpha);
        return;
    }
    // A text object.
    if (hobj == EditingObject) {
        Canvas->GetBrush()->SetStyle(classlib::bsClear);
        Canvas->Rectangle(X1 - 1, Y1 - 1, X2 + 1, Y2 + 1);
        return;
    }
    if (!R.HasText || !R.HasFont)
        return;
    LOGFONTA lf = R.Font;
    lf.lfQuality = kFontQuality[std::min<int>(R.TextQuality, 2)];
    lf.lfHeight = lf.lfHeight != 0 ? Trunc(lf.lfHeight * ZoomY) : Y2 - Y1;
    if (R.TextPath.empty() || R.Text.empty())
        DrawPlainText(Canvas, R, lf, X1, Y1, X2, Y2, ZoomX);
    else
        DrawTextAlongPath(Canvas, R, lf, X1, Y1, X2, Y2);
}

void TImgVect::DrawBitmapObject(classlib::TBitmap* Destination, TPxCanvas* Canvas, TPxVectObject& R, int W,
                                TPxBitmap* WorkImage, int X1, int Y1, int X2, int Y2)
{
    TPxBitmap* bitmap = GetSharedBitmap(R.BitmapIndex);
    if (!bitmap) {
        Canvas->DrawLine(X1, Y1, X2, Y2);
        Canvas->DrawLine(X2, Y1, X1, Y2);
        Canvas->Rectangle(X1, Y1, X2 + 1, Y2 + 1);
        return;
    }
    if (X1 > X2)
        std::swap(X1, X2);
    if (Y1 > Y2)
        std::swap(Y1, Y2);
    const TResampleFilter filter = ObjectsMoving ? rfNone : bitmapResampleFilter_;
    const uint32_t pc = static_cast<uint32_t>(classlib::ColorToRGB(R.PenColor));
    auto border = [&](TPxBitmap* Image) {
        // W nested frames in the pen colour, clipped to the image.
        const int iw = Image->GetWidth(), ih = Image->GetHeight();
        for (int k = 0; k < W; ++k) {
            const int l = X1 + k, t = Y1 + k, r = X2 - k, b = Y2 - k;
            if (l > r || t > b)
                break;
            auto put = [&](int x, int y) {
                if (x < 0 || y < 0 || x >= iw || y >= ih)
                    return;
                Image->SetPixelRGB(x, y, TPxRGB{static_cast<uint8_t>(pc >> 16), static_cast<uint8_t>(pc >> 8),
                                                static_cast<uint8_t>(pc)});
                if (Image->HasAlphaChannel())
                    Image->SetAlpha(x, y, 255);
            };
            for (int x = l; x <= r; ++x) {
                put(x, t);
                put(x, b);
            }
            for (int y = t; y <= b; ++y) {
                put(l, y);
                put(r, y);
            }
        }
    };
    if (WorkImage) {
        if (R.BitmapBorder)
            border(WorkImage);
        StretchRectTo(*bitmap, WorkImage, X1, Y1, X2 - X1 + 1, Y2 - Y1 + 1, 0, 0, bitmap->GetWidth(),
                      bitmap->GetHeight(), filter, R.Transparency);
        return;
    }
    RenderToVclBitmapSimple(*bitmap, Destination, X1, Y1, X2 - X1 + 1, Y2 - Y1 + 1, 0, 0, bitmap->GetWidth(),
                            bitmap->GetHeight(), R.Transparency, filter, 0);
    if (R.BitmapBorder) {
        TPxPen* pen = Canvas->GetPen();
        pen->SetWidth(1);
        Canvas->GetBrush()->SetStyle(classlib::bsClear);
        for (int k = 0; k < W; ++k)
            Canvas->Rectangle(X1 + k, Y1 + k, X2 - k + 1, Y2 - k + 1);
    }
}

void TImgVect::DrawPolylineVertices(classlib::TCanvas* Canvas)
{
    if (selection_.size() != 1)
        return;
    TPxVectObject* r = ObjectRecord(selection_.front());
    if (!r || r->Kind != pxvoPolyline)
        return;
    TPxCanvas c(Canvas, false, false);
    c.GetBrush()->SetColor(0x0000FF);
    c.GetBrush()->SetStyle(classlib::bsSolid);
    c.GetPen()->SetColor(0);
    c.GetPen()->SetStyle(classlib::psSolid);
    c.GetPen()->SetWidth(1);
    c.GetPen()->SetMode(classlib::pmCopy);
    for (const POINT& p : r->ScreenPoints)
        c.Ellipse(p.x - 3, p.y - 3, p.x + 3, p.y + 3);
}

// ---- rulers and angles

namespace {

// The measure font: the description's face at |height| x zoom pixels (at
// least 3), in Color; Greek systems get the Greek character set.
LOGFONTA MeasureFont(const LOGFONTA* Font, double ZoomYInv)
{
    LOGFONTA lf{};
    if (Font)
        lf = *Font;
    else
        std::strcpy(lf.lfFaceName, "Arial");
    // The description's height in pixels is taken as a size in points, as
    // the canvas font's size: the labels come out a third larger than the
    // same height would draw elsewhere.
    const int h = Font ? std::abs(Font->lfHeight) : 12;
    const int points = std::max(3, Trunc(h * (ZoomYInv != 0 ? 1 / ZoomYInv : 1.0)));
    static const int ppi = [] {
        HDC screen = ::GetDC(nullptr);
        const int v = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen)
            ::ReleaseDC(nullptr, screen);
        return v > 0 ? v : 96;
    }();
    lf.lfHeight = -::MulDiv(points, ppi, 72);
    lf.lfWidth = 0;
    lf.lfEscapement = lf.lfOrientation = 0;
    if (PRIMARYLANGID(::GetUserDefaultLangID()) == 8)
        lf.lfCharSet = 161;
    return lf;
}

}  // namespace

void TImgVect::DrawRuler(TPxCanvas* Canvas, POINT P1, POINT P2, double Length, TPxUnits Unit, classlib::TColor Color,
                         int PenWidth, uint8_t Style, double ix, double iy, RECT& DrawnRect, const LOGFONTA* Font)
{
    if (P1.x == P2.x && P1.y == P2.y)
        return;
    const int x1 = P1.x, y1 = P1.y, x2 = P2.x, y2 = P2.y;
    double theta = PxAngle3Points(x1, y1, x2, y2, x1, y2);
    if (x1 == x2)
        theta = y1 < y2 ? -kPi / 2 : kPi / 2;
    const bool flip = (x2 < x1 && y2 < y1) || (x1 < x2 && y1 < y2);
    const double q = flip ? 2 * kPi - theta + kPi / 2 : theta + kPi / 2;
    SetMeasurePen(Canvas, Color, PenWidth);
    HDC dc = Canvas->GetHandle();
    const LOGFONTA lf = MeasureFont(Font, iy);
    const double D = PxDistance(x1, y1, x2, y2);
    Canvas->DrawLine(x1, y1, x2, y2);
    Grow(DrawnRect, x1, y1);
    Grow(DrawnRect, x2, y2);
    if (Style == 0) {
        double cq = std::cos(q), sq = std::sin(q), cqp = std::cos(q + kPi), sqp = std::sin(q + kPi);
        double c2p = std::cos(q + 2 * kPi), cmp = std::cos(q - kPi);
        if (y1 == y2) {
            cq = 0;
            sq = -1;
            cqp = 0;
            sqp = 1;
            c2p = 0;
            cmp = 0;
        }
        const int shortL = Trunc(6 / iy), fifthL = Trunc(8 / iy), tenthL = Trunc(12 / iy);
        const TPxUnits savedUnit = mUnit_;
        const double sux = UnitSizeX, suy = UnitSizeY;
        ComputeUnitScale(Unit);
        const double ux = UnitSizeX, uy = UnitSizeY;
        UnitSizeX = sux;
        UnitSizeY = suy;
        (void)savedUnit;
        const double Wd = ix * ux * 10, Xd = iy * uy * 10;
        if (Wd == 0 || Xd == 0)
            return;
        double sx = 1 / Wd, sy = 1 / Xd;
        // Tenths of a pixel or of a nanometre lie far closer than a pixel:
        // such a ruler would be one solid bar, drawn tick by tick for as
        // long as millions of ticks take. The graduation then steps up by
        // decades until its ticks stand at least two pixels apart, and the
        // labels count in that coarser step.
        long long decade = 1;
        while (std::min(sx, sy) < 2 && decade < 1000000000000LL) {
            sx *= 10;
            sy *= 10;
            decade *= 10;
        }
        TTempFont font(dc, lf);
        TTextScope text(dc, Color);
        int i = 0;
        double ax = 0, ay = 0, dist = 0;
        const RECT span{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
        while (dist < D) {
            const double alx = ax * (x2 < x1 ? sq : sqp), aly = ay * (x2 < x1 ? cqp : cq);
            const int L = i % 10 == 0 ? tenthL : i % 5 == 0 ? fifthL : shortL;
            const int fx = x1 + Trunc(alx), fy = y1 + Trunc(aly);
            if (fx >= span.left && fx <= span.right && fy >= span.top && fy <= span.bottom) {
                const POINT A{x1 + Trunc(cq * L + alx), y1 + Trunc(sq * L + aly)};
                const POINT B{x1 + Trunc(cqp * L + alx), y1 + Trunc(sqp * L + aly)};
                Canvas->DrawLine(A.x, A.y, B.x, B.y);
                Grow(DrawnRect, A.x, A.y);
                Grow(DrawnRect, B.x, B.y);
                if (i % 10 == 0) {
                    const std::string label = std::to_string(static_cast<long long>(i / 10) * decade);
                    const SIZE ts = TextSize(dc, label);
                    const int t2 = 2 * ts.cy + 1, h = ts.cx / 2;
                    int X, Y;
                    if (flip) {
                        X = Trunc(t2 * c2p + A.x - 2 * h * cq + h * sq);
                        Y = Trunc(t2 * sq + A.y + h * cmp) + 20;
                    } else {
                        X = Trunc(t2 * cq + A.x + h * sq);
                        Y = Trunc(t2 * sq + A.y + h * cq) + 20;
                    }
                    ::TextOutA(dc, X, Y, label.data(), static_cast<int>(label.size()));
                    Grow(DrawnRect, X - 15, Y - 15);
                    Grow(DrawnRect, X + 15, Y + 15);
                }
            }
            ++i;
            ax += sx;
            ay += sy;
            dist = Trunc(std::sqrt(alx * alx + aly * aly));
        }
        return;
    }
    if (Style > 3)
        return;
    const int bx = Trunc(9 / ix), by = Trunc(9 / iy);
    for (const POINT& P : {P1, P2}) {
        const POINT a{P.x + Trunc(std::cos(q) * bx), P.y + Trunc(std::sin(q) * by)};
        const POINT b{P.x + Trunc(std::cos(q + kPi) * bx), P.y + Trunc(std::sin(q + kPi) * by)};
        Canvas->DrawLine(a.x, a.y, b.x, b.y);
        Grow(DrawnRect, a.x, a.y);
        Grow(DrawnRect, b.x, b.y);
    }
    const double lineAngle = PxLineAngle(x1, y1, x2, y2);
    double t = 2 * kPi - lineAngle;
    if (t > kPi / 2 && t <= 3 * kPi / 2)
        t -= kPi;
    LOGFONTA rotated = lf;
    rotated.lfEscapement = rotated.lfOrientation = Trunc(-t * 180 / kPi * 10);
    double value = Length;
    if (value == -1) {
        const double sux = UnitSizeX, suy = UnitSizeY;
        ComputeUnitScale(Unit);
        const double ux = UnitSizeX, uy = UnitSizeY;
        UnitSizeX = sux;
        UnitSizeY = suy;
        value = std::sqrt(std::pow(ix * std::abs(x2 - x1) * ux, 2) + std::pow(iy * std::abs(y2 - y1) * uy, 2));
    }
    const std::string label = Narrow(FormatMeasure(value)) + " " + PxUnitNames[std::min<int>(Unit, 7)];
    TTempFont font(dc, rotated);
    TTextScope text(dc, Color);
    const SIZE ts = TextSize(dc, label);
    const int tw = ts.cx, th = ts.cy;
    const bool upright = lineAngle < 1.5707953267948966 || lineAngle > 3 * kPi / 2;
    POINT pos{};
    std::string out = label;
    if (Style == 1) {
        pos = upright ? P1 : P2;
        out = " " + label;
    } else if (Style == 2) {
        if (upright)
            pos = POINT{P1.x + Trunc(std::cos(t) * (D - tw) / 2), P1.y + Trunc(std::sin(t) * (D - tw) / 2)};
        else
            pos = POINT{P1.x - Trunc(std::cos(t) * (tw + D) / 2), P1.y - Trunc(std::sin(t) * (tw + D) / 2)};
    } else {
        const POINT off{Trunc(std::cos(t) * (D - tw)), Trunc(std::sin(t) * (D - tw))};
        pos = upright ? POINT{P1.x + off.x, P1.y + off.y} : POINT{P2.x + off.x, P2.y + off.y};
        out = label + " ";
    }
    ::TextOutA(dc, pos.x, pos.y, out.data(), static_cast<int>(out.size()));
    const POINT E{Trunc(std::cos(t) * tw - std::sin(t) * th), Trunc(std::sin(t) * tw + std::cos(t) * th)};
    Grow(DrawnRect, pos.x, pos.y);
    Grow(DrawnRect, pos.x + E.x, pos.y + E.y);
    Grow(DrawnRect, pos.x - 15, pos.y - 15);
    Grow(DrawnRect, pos.x + 15, pos.y + 15);
    Grow(DrawnRect, pos.x + E.x - 15, pos.y + E.y - 15);
    Grow(DrawnRect, pos.x + E.x + 15, pos.y + E.y + 15);
}

void TImgVect::DrawAngle(TPxCanvas* Canvas, const POINT (&Points)[3], classlib::TColor Color, int PenWidth,
                         RECT& DrawnRect, bool OnScreen, double Scale, double ix, double iy, const LOGFONTA* Font)
{
    (void)ix;
    if (Points[0].x == PxAngleUnset)
        return;
    SetMeasurePen(Canvas, Color, PenWidth);
    POINT m[3];
    int drawn = 0;
    for (int i = 0; i < 3; ++i) {
        if (Points[i].x == PxAngleUnset)
            break;
        m[i] = POINT{ObjToDestX(Points[i].x, OnScreen, Scale), ObjToDestY(Points[i].y, OnScreen, Scale)};
        if (i == 0)
            Canvas->MoveTo(m[i].x, m[i].y);
        else
            Canvas->LineTo(m[i].x, m[i].y);
        Grow(DrawnRect, m[i].x, m[i].y);
        ++drawn;
    }
    if (drawn < 3)
        return;
    const double a = PxAngleAtVertex(Points[0].x, Points[0].y, Points[1].x, Points[1].y, Points[2].x, Points[2].y) *
                     180 / kPi;
    HDC dc = Canvas->GetHandle();
    const LOGFONTA lf = MeasureFont(Font, iy);
    {
        TTempFont font(dc, lf);
        TTextScope text(dc, Color);
        const std::string label = Narrow(FormatMeasure(a)) + "\xB0";
        ::TextOutA(dc, m[1].x, m[1].y, label.data(), static_cast<int>(label.size()));
        const SIZE ts = TextSize(dc, label);
        Grow(DrawnRect, m[1].x, m[1].y);
        Grow(DrawnRect, m[1].x + ts.cx, m[1].y + ts.cy);
    }
    const int R = std::min(Trunc(PxDistance(m[1].x, m[1].y, m[2].x, m[2].y)) / 4,
                           Trunc(PxDistance(m[1].x, m[1].y, m[0].x, m[0].y)) / 4);
    Canvas->Arc(m[1].x - R, m[1].y - R, m[1].x + R, m[1].y + R, m[0].x, m[0].y, m[2].x, m[2].y);
    Grow(DrawnRect, m[1].x - R, m[1].y - R);
    Grow(DrawnRect, m[1].x + R, m[1].y + R);
}

double TImgVect::SelectionArea()
{
    const double c = UnitSizeX * UnitSizeY;
    const auto& pts = GetSelectionOutline().Points;
    if (pts.size() > 2) {
        // Each polygon's area counts by its own size, whatever its winding,
        // so that two polygons drawn in opposite directions do not cancel.
        double total = 0, sum = 0;
        size_t first = 0;
        bool open = false;
        for (size_t i = 0; i < pts.size(); ++i) {
            const bool sep = pts[i].x == PxPolygonSeparator;
            if (sep) {
                if (open) {
                    const POINT& a = pts[i - 1];
                    const POINT& f = pts[first];
                    sum += c * (static_cast<double>(a.x) - f.x) * (static_cast<double>(f.y) + a.y);
                    total += std::abs(sum / 2);
                }
                sum = 0;
                open = false;
                first = i + 1;
                continue;
            }
            if (!open) {
                open = true;
                first = i;
            } else {
                const POINT& a = pts[i - 1];
                const POINT& b = pts[i];
                sum += c * (static_cast<double>(a.x) - b.x) * (static_cast<double>(a.y) + b.y);
            }
        }
        if (open) {
            const POINT& a = pts.back();
            const POINT& f = pts[first];
            sum += c * (static_cast<double>(a.x) - f.x) * (static_cast<double>(f.y) + a.y);
            total += std::abs(sum / 2);
        }
        return total;
    }
    TPxMask* mask = HasSelection() ? GetSelectionMask() : nullptr;
    if (!mask || mask->Width <= 0 || mask->Height <= 0 || mask->BitsPerPixel != 1 || mask->X1 > mask->X2)
        return 0;
    int64_t n = 0;
    for (int y = std::max(mask->Y1, 0); y <= std::min(mask->Y2, mask->Height - 1); ++y)
        for (int x = std::max(mask->X1, 0); x <= std::min(mask->X2, mask->Width - 1); ++x)
            if (mask->GetPixel(x, y))
                ++n;
    return c * static_cast<double>(n);
}

}  // namespace imaging
