// Painting of TImgView: the back buffer and its composition (background,
// layers), the copy to the window, rendering all layers into an image, the
// shared background painter, and the cursors painting shows.
#include <algorithm>
#include <cmath>
#include <memory>

#include "classlib/Bitmap.h"
#include "classlib/Controls.h"
#include "classlib/Picture.h"
#include "classlib/SysUtils.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/platform/PxDirectShow.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxGeometry.h"
#include "imaging/model/PxMask.h"
#include "imaging/model/PxWorkBitmap.h"
#include "classlib/Forms.h"
#include "classlib/WinHandles.h"
#include "imaging/proc/PxRender.h"
#include "imaging/proc/PxResample.h"
#include "imaging/proc/PxRotate.h"
#include "imaging/views/view/ImgView.h"
#include "imaging/views/view/PxDrawing.h"
#include "imaging/views/view/PxGDIPlus.h"

namespace imaging {

namespace {

using TGradientFillProc = BOOL(WINAPI*)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG);

// Loaded once on first use; a failed load is tried again next time. The
// library stays loaded until the process ends.
TGradientFillProc PxLoadGradientFill()
{
    static TGradientFillProc proc = nullptr;
    if (proc)
        return proc;
    HMODULE module = LoadLibraryW(L"MSIMG32.DLL");
    if (!module)
        return nullptr;
    proc = reinterpret_cast<TGradientFillProc>(reinterpret_cast<void*>(GetProcAddress(module, "GradientFill")));
    return proc;
}

classlib::TColor InverseColor(classlib::TColor Color)
{
    return static_cast<classlib::TColor>(~static_cast<uint32_t>(Color));
}

void FillSolid(classlib::TCanvas* Canvas, classlib::TColor Color, classlib::TBrushStyle Style, const RECT& Area)
{
    Canvas->GetBrush()->SetColor(Color);
    Canvas->GetBrush()->SetStyle(Style);
    Canvas->FillRect(Area);
}

// Chessboard written into the 24-bit bitmap's rows: the first row and
// column of squares are Size + 1 pixels, rows outside the bitmap go to its
// nearest edge row.
void DirectChessboard(classlib::TBitmap* Bitmap, classlib::TColor Color, int X, int Y, int Width, int Height,
                      int Size)
{
    const uint32_t c0 = static_cast<uint32_t>(classlib::ColorToRGB(Color));
    const uint32_t c1 = static_cast<uint32_t>(classlib::ColorToRGB(InverseColor(Color)));
    const int bw = Bitmap->GetWidth();
    const int bh = Bitmap->GetHeight();
    if (bw <= 0 || bh <= 0 || Size < 1)
        return;
    auto square = [Size](int u) { return u <= Size ? 0 : (u - 1) / Size; };
    const int x1 = std::max(X, 0);
    const int x2 = std::min(X + Width, bw);
    for (int y = Y; y < Y + Height; ++y) {
        auto* row = static_cast<uint8_t*>(Bitmap->GetScanLine(std::clamp(y, 0, bh - 1)));
        const int sy = square(y - Y);
        for (int x = x1; x < x2; ++x) {
            const uint32_t c = ((square(x - X) + sy) % 2 == 0) ? c0 : c1;
            uint8_t* p = row + static_cast<size_t>(x) * 3;
            p[0] = static_cast<uint8_t>(c >> 16);
            p[1] = static_cast<uint8_t>(c >> 8);
            p[2] = static_cast<uint8_t>(c);
        }
    }
}

void BrushChessboard(classlib::TCanvas* Canvas, classlib::TColor Color, classlib::TBrushStyle Brush, int X, int Y,
                     int Width, int Height, int Size)
{
    if (Size < 1)
        return;
    const classlib::TColor inverse = InverseColor(Color);
    Canvas->GetBrush()->SetStyle(Brush);
    for (int y = Y, iy = 0; y < Y + Height; y += Size, ++iy) {
        for (int x = X, ix = 0; x < X + Width; x += Size, ++ix) {
            Canvas->GetBrush()->SetColor((ix + iy) % 2 == 0 ? inverse : Color);
            Canvas->FillRect(RECT{x, y, std::min(x + Size, X + Width), std::min(y + Size, Y + Height)});
        }
    }
}

void DrawWallPaper(classlib::TCanvas* Canvas, classlib::TPicture* WallPaper, TPxWallPaperStyle Style, int Width,
                   int Height)
{
    if (!WallPaper || !WallPaper->GetGraphic() || WallPaper->GetWidth() <= 0 || WallPaper->GetHeight() <= 0)
        return;
    classlib::TGraphic* graphic = WallPaper->GetGraphic();
    switch (Style) {
    case pxwoNormal:
        Canvas->Draw(0, 0, graphic);
        break;
    case pxwoStretch:
        Canvas->StretchDraw(RECT{0, 0, Width, Height}, graphic);
        break;
    case pxwoTile:
        for (int y = 0; y < Height; y += WallPaper->GetHeight())
            for (int x = 0; x < Width; x += WallPaper->GetWidth())
                Canvas->Draw(x, y, graphic);
        break;
    }
}

}  // namespace

bool PxGradientFill(const RECT& Rect, HDC DC, classlib::TColor Color1, classlib::TColor Color2, bool Vertical)
{
    TGradientFillProc fill = PxLoadGradientFill();
    if (!fill)
        return false;
    const uint32_t c1 = static_cast<uint32_t>(classlib::ColorToRGB(Color1));
    const uint32_t c2 = static_cast<uint32_t>(classlib::ColorToRGB(Color2));
    TRIVERTEX v[2] = {};
    v[0].x = Rect.left;
    v[0].y = Rect.top;
    v[0].Red = static_cast<COLOR16>((c1 & 0xFF) << 8);
    v[0].Green = static_cast<COLOR16>(((c1 >> 8) & 0xFF) << 8);
    v[0].Blue = static_cast<COLOR16>(((c1 >> 16) & 0xFF) << 8);
    v[1].x = Rect.right;
    v[1].y = Rect.bottom;
    v[1].Red = static_cast<COLOR16>((c2 & 0xFF) << 8);
    v[1].Green = static_cast<COLOR16>(((c2 >> 8) & 0xFF) << 8);
    v[1].Blue = static_cast<COLOR16>(((c2 >> 16) & 0xFF) << 8);
    GRADIENT_RECT r{0, 1};
    return fill(DC, v, 2, &r, 1, Vertical ? GRADIENT_FILL_RECT_V : GRADIENT_FILL_RECT_H) != FALSE;
}

void PxDrawBackground(classlib::TComponentState State, classlib::TCanvas* Canvas, classlib::TBitmap* Bitmap,
                      TPxBackgroundStyle Style, classlib::TColor Color, int X, int Y, int Width, int Height,
                      int ImgLeft, int ImgTop, int ImgRight, int ImgBottom, int ChessSize,
                      classlib::TBrushStyle ChessBrush, classlib::TColor GradientEnd, classlib::TPicture* WallPaper,
                      TPxWallPaperStyle WallPaperStyle)
{
    const RECT area{X, Y, X + Width, Y + Height};
    const bool design = (State & classlib::csDesigning) != 0;
    const bool image = ImgRight - ImgLeft > 1 && ImgBottom - ImgTop > 1;
    int wallW = Width;
    int wallH = Height;
    switch (Style) {
    case pxbsSolid:
    case pxbsHorizontal:
    case pxbsVertical:
    case pxbsFDiagonal:
    case pxbsBDiagonal:
    case pxbsCross:
    case pxbsDiagCross: {
        static const classlib::TBrushStyle styles[] = {classlib::bsSolid,      classlib::bsHorizontal,
                                                       classlib::bsVertical,   classlib::bsFDiagonal,
                                                       classlib::bsBDiagonal,  classlib::bsCross,
                                                       classlib::bsDiagCross};
        FillSolid(Canvas, Color, styles[Style], area);
        break;
    }
    case pxbsDiagonals:
        FillSolid(Canvas, Color, classlib::bsSolid, area);
        Canvas->GetPen()->SetStyle(classlib::psSolid);
        Canvas->GetPen()->SetMode(classlib::pmCopy);
        Canvas->GetPen()->SetColor(InverseColor(Color));
        Canvas->MoveTo(X, Y);
        Canvas->LineTo(X + Width, Y + Height);
        Canvas->MoveTo(X + Width, Y);
        Canvas->LineTo(X, Y + Height);
        break;
    case pxbsCropped:
        if (design) {
            FillSolid(Canvas, Color, classlib::bsSolid, area);
            break;
        }
        FillSolid(Canvas, classlib::clBtnFace, classlib::bsSolid, area);
        if (image) {
            RECT edge{ImgLeft - GetSystemMetrics(SM_CXEDGE), ImgTop - GetSystemMetrics(SM_CYEDGE),
                      ImgRight + GetSystemMetrics(SM_CXEDGE), ImgBottom + GetSystemMetrics(SM_CYEDGE)};
            DrawEdge(Canvas->GetHandle(), &edge, EDGE_SUNKEN, BF_RECT);
        }
        break;
    case pxbsCropShadow:
        FillSolid(Canvas, Color, classlib::bsSolid, area);
        if (!design && image) {
            PxDrawShadowV(Canvas, Bitmap, ImgRight, ImgTop, ImgRight + 5, ImgBottom + 3, 2);
            PxDrawShadowH(Canvas, Bitmap, ImgLeft, ImgBottom, ImgRight + 4, ImgBottom + 5, 2);
        }
        break;
    case pxbsSoftShadow:
        if (design) {
            FillSolid(Canvas, Color, classlib::bsSolid, area);
            break;
        }
        if (!Bitmap)
            break;
        FillSolid(Canvas, Color, classlib::bsSolid, area);
        if (image) {
            PxDrawSoftShadow(Bitmap, ImgLeft, ImgTop, ImgRight, ImgBottom);
        }
        break;
    case pxbsGradient:
        PxGradientFill(area, Canvas->GetHandle(), Color, GradientEnd, true);
        break;
    case pxbsPhotoLike:
        FillSolid(Canvas, static_cast<classlib::TColor>(0xB0B0B0), classlib::bsSolid, area);
        Canvas->GetPen()->SetStyle(classlib::psSolid);
        Canvas->GetPen()->SetMode(classlib::pmCopy);
        Canvas->GetPen()->SetColor(classlib::clBlack);
        Canvas->GetBrush()->SetStyle(classlib::bsClear);
        Canvas->Rectangle(ImgLeft - 1, ImgTop - 1, ImgRight + 1, ImgBottom + 1);
        if (Bitmap && Bitmap->GetPixelFormat() == classlib::pf24bit && ChessBrush == classlib::bsSolid)
            DirectChessboard(Bitmap, Color, ImgLeft, ImgTop, ImgRight - ImgLeft, ImgBottom - ImgTop, ChessSize);
        else
            BrushChessboard(Canvas, Color, ChessBrush, ImgLeft, ImgTop, ImgRight - ImgLeft, ImgBottom - ImgTop,
                            ChessSize);
        wallW = ImgRight - ImgLeft;
        wallH = ImgBottom - ImgTop;
        break;
    case pxbsChessboard:
        if (Bitmap && Bitmap->GetPixelFormat() == classlib::pf24bit && ChessBrush == classlib::bsSolid)
            DirectChessboard(Bitmap, Color, X, Y, Width, Height, ChessSize);
        else
            BrushChessboard(Canvas, Color, ChessBrush, X, Y, Width, Height, ChessSize);
        break;
    }
    DrawWallPaper(Canvas, WallPaper, WallPaperStyle, wallW, wallH);
}

// ---- setters

void TImgView::SetBackgroundStyle(TPxBackgroundStyle Value)
{
    backgroundStyle_ = Value;
    if (HandleAllocated())
        Invalidate();
    updateReason_ = 4;
    Update();
}

void TImgView::SetWallPaper(classlib::TPicture* Value)
{
    wallPaper_->Assign(Value);
    updateReason_ = 4;
    Update();
}

void TImgView::SetWallPaperStyle(TPxWallPaperStyle Value)
{
    if (Value == wallPaperStyle_)
        return;
    wallPaperStyle_ = Value;
    updateReason_ = 4;
    Update();
}

void TImgView::SetChessboardStyle(int Size, classlib::TBrushStyle BrushStyle)
{
    chessSize_ = Size;
    chessBrush_ = BrushStyle;
}

void TImgView::SetZoomFilter(TResampleFilter Value)
{
    ZoomFilter = Value;
    if (Value != filterInUse_) {
        filterInUse_ = Value;
        Update();
    }
}

void TImgView::SetDrawVersion(bool Value)
{
    drawVersion_ = Value;
    PaintNow();
}

void TImgView::SetInteractionHint(const std::wstring& Text, int X, int Y, const std::wstring& Text2)
{
    hintText_ = Text;
    hintX_ = X;
    hintY_ = Y;
    hintText2_ = Text2;
}

classlib::TBitmap* TImgView::GetBackBufferBitmap() { return backBuffer_ ? backBuffer_->GetVclBitmap() : nullptr; }

void TImgView::InvalidateViewRect(const RECT& Rect)
{
    backBufferInvalid_ = true;
    if (HandleAllocated())
        InvalidateRect(GetHandle(), &Rect, FALSE);
}

void TImgView::PaintBackgroundTo(classlib::TCanvas* Canvas)
{
    PxDrawBackground(GetComponentState(), Canvas, nullptr, backgroundStyle_, GetBackground(), 0, 0, GetWidth(),
                     GetHeight(), 0, 0, 0, 0, chessSize_, chessBrush_, GradientEndColor, wallPaper_.get(),
                     wallPaperStyle_);
}

// ---- cursors

void TImgView::SetCursor(classlib::TCursor Value)
{
    savedCursor_ = Value;
    classlib::TControl::SetCursor(Value);
    ::SetCursor(classlib::GetCursorHandle(Value));
}

void TImgView::SetTempCursor(classlib::TCursor Value)
{
    if (!ownerGiven_)
        return;
    classlib::TControl::SetCursor(Value);
    ::SetCursor(classlib::GetCursorHandle(Value));
}

void TImgView::RestoreCursor() { SetTempCursor(savedCursor_); }

// ---- paint

void TImgView::PaintWindow(HDC DC)
{
    inPaintMessage_ = true;
    try {
        classlib::TCustomControl::PaintWindow(DC);
    } catch (...) {
        inPaintMessage_ = false;
        throw;
    }
    inPaintMessage_ = false;
}

void TImgView::PaintNow()
{
    if (!HandleAllocated() || !HasParentWindow())
        return;
    Paint();
}

void TImgView::Paint()
{
    if (!HandleAllocated() || !HasParentWindow() || GetViewWidth() == 0 || GetViewHeight() == 0)
        return;
    classlib::TCanvas* canvas = GetCanvas();
    const int vw = GetViewWidth();
    const int vh = GetViewHeight();
    try {
        if (GetComponentState() & classlib::csDesigning) {
            PxDrawBackground(GetComponentState(), canvas, nullptr, backgroundStyle_, GetBackground(), 0, 0, GetWidth(),
                             GetHeight(), 0, 0, 0, 0, chessSize_, chessBrush_, GradientEndColor, wallPaper_.get(),
                             wallPaperStyle_);
        } else {
            if (paintLock_ == 0) {
                RECT r{0, 0, vw, vh};
                if (!fullRepaint_) {
                    r = canvas->GetClipRect();
                    if (r.right == 0 || r.bottom == 0) {
                        r.right = vw;
                        r.bottom = vh;
                    }
                }
                PaintRect(r);
                if (OnDrawCanvas)
                    OnDrawCanvas(this, canvas, RECT{0, 0, vw, vh});
            }
            fullRepaint_ = false;
            if (!MovingRectSel)
                DrawSelection(nullptr);
            if (PolySelecting)
                DrawPolygonRubberLine();
            if (OnPaint)
                OnPaint(this);
        }
    } catch (...) {
        // A failed composition or copy leaves the window as it was.
    }
    if (drawVersion_)
        DrawVersionText();
    if (!hintText_.empty() && EnableInteractionHints) {
        int x = hintX_;
        int y = hintY_;
        PxDrawHintBox(canvas, x, y, hintText2_.empty() ? hintText_ : hintText2_, hintText_);
    }
    PositionVideo();
    if (ownerGiven_ && cursorPending_) {
        SetCursor(classlib::TControl::GetCursor());
        cursorPending_ = false;
    }
    // Outside the paint message the canvas fetched a window DC of its own.
    if (!inPaintMessage_)
        if (auto* own = dynamic_cast<classlib::TControlCanvas*>(canvas))
            own->FreeHandle();
}

void TImgView::DrawVersionText()
{
    classlib::TCanvas* canvas = GetCanvas();
    canvas->GetFont()->SetName(L"Arial");
    canvas->GetFont()->SetHeight(13);
    canvas->GetFont()->SetColor(classlib::clBlack);
    canvas->GetBrush()->SetStyle(classlib::bsSolid);
    canvas->GetBrush()->SetColor(classlib::clWhite);
    const std::wstring text =
        std::wstring(L"Img Version ") + GetImgVersion() + L" - " + L"26" + L"/" + L"9" + L"/" + L"2009";
    const SIZE size = canvas->TextExtent(text);
    canvas->TextOut(GetViewWidth() - size.cx, GetViewHeight() - size.cy, text);
}

void TImgView::PaintRect(const RECT& Rect)
{
    if (!HasParentWindow() || !HandleAllocated())
        return;
    const int vw = GetViewWidth();
    const int vh = GetViewHeight();
    if (!backBuffer_)
        return;
    if (backBuffer_->GetWidth() != vw || backBuffer_->GetHeight() != vh) {
        backBuffer_->Allocate(vw, vh, px24RGB);
        backBuffer_->SetLocation(pxTBitmap);
        backBufferInvalid_ = true;
    }
    if (backBufferInvalid_) {
        backBuffer_->GetVclBitmap();
        std::vector<uint8_t*> rows = backBuffer_->GetRowTable();
        DrawLayers(backBuffer_.get(), rows.empty() ? nullptr : &rows, true, true, &Rect);
        if (OnDrawBackBuffer)
            OnDrawBackBuffer(this);
        backBufferInvalid_ = false;
    }
    // The video draws over the current layer's picture itself.
    if (RenderingVideo() && currentLayer_ >= 0 && currentLayer_ < GetLayersCount()) {
        const int32_t* d = layers_[static_cast<size_t>(currentLayer_)]->DrawRect;
        ExcludeClipRect(GetCanvas()->GetHandle(), d[0], d[1], d[0] + d[2], d[1] + d[3]);
    }
    const int w = std::min(static_cast<int>(Rect.right - Rect.left), vw);
    const int h = std::min(static_cast<int>(Rect.bottom - Rect.top), vh);
    classlib::TCanvas* source = backBuffer_->GetCanvas();
    if (w > 0 && h > 0 && source) {
        const TImgViewGlobals& g = Globals();
        HDC target = GetCanvas()->GetHandle();
        if (g.ScreenBits <= 8 && !g.RemoteSession) {
            // Palette screens: the video-for-Windows drawing dithers the
            // 24-bit buffer itself. Its pixel memory starts at the bottom row.
            if (!drawDib_)
                drawDib_.reset(PxDrawDibOpen());
            BITMAPINFOHEADER header{};
            header.biSize = sizeof(header);
            header.biWidth = vw;
            header.biHeight = vh;
            header.biPlanes = 1;
            header.biBitCount = 24;
            header.biCompression = BI_RGB;
            const std::vector<uint8_t*>& rows = backBuffer_->GetRowTable();
            const uint8_t* bits = rows.empty() ? nullptr : std::min(rows.front(), rows.back());
            if (bits)
                PxDrawDibDraw(drawDib_.get(), target, Rect.left, Rect.top, w, h, &header, bits, Rect.left,
                              Rect.top, w, h, 0);
        } else if (g.ScreenBits <= 23 && !g.RemoteSession) {
            const int oldMode = SetStretchBltMode(target, HALFTONE);
            StretchBlt(target, Rect.left, Rect.top, w, h, source->GetHandle(), Rect.left, Rect.top, w, h, SRCCOPY);
            SetStretchBltMode(target, oldMode);
        } else if (isNavigator_ && (navigatorOptions_ & 2) != 0) {
            PaintShadowedRect(RECT{Rect.left, Rect.top, Rect.left + w, Rect.top + h});
        } else {
            BitBlt(target, Rect.left, Rect.top, w, h, source->GetHandle(), Rect.left, Rect.top, SRCCOPY);
        }
    }
    // A re-created window gets the capture object's messages again.
    const HWND handle = GetHandle();
    if (lastPaintHandle_ && lastPaintHandle_ != handle && io_)
        io_->UpdateDShowNotifyWindow();
    lastPaintHandle_ = handle;
}

// ---- video of the capture object

TPxDirectShow* TImgView::RenderingVideo()
{
    TPxDirectShow* video = io_ ? io_->GetCaptureDevice() : nullptr;
    if (!video || !video->RendersVideo() || video->GetState() == 0)
        return nullptr;
    return video;
}

void TImgView::PositionVideo()
{
    TPxDirectShow* video = RenderingVideo();
    if (!video || currentLayer_ < 0 || currentLayer_ >= GetLayersCount())
        return;
    int nw = 0, nh = 0;
    video->GetNativeVideoSize(nw, nh);
    TPxLayer* layer = layers_[static_cast<size_t>(currentLayer_)].get();
    if (nw <= 0 || nh <= 0 || !layer->Bitmap)
        return;
    const int bw = layer->Bitmap->GetWidth();
    const int bh = layer->Bitmap->GetHeight();
    if (bw <= 0 || bh <= 0)
        return;
    const int32_t* d = layer->DrawRect;
    const double fx = static_cast<double>(bw) / nw;
    const double fy = static_cast<double>(bh) / nh;
    auto sx = [fx](int32_t v) { return static_cast<LONG>(std::trunc(v / fx)); };
    auto sy = [fy](int32_t v) { return static_cast<LONG>(std::trunc(v / fy)); };
    const RECT source{sx(d[4]), sy(d[5]), sx(d[4] + d[6]), sy(d[5] + d[7])};
    const RECT dest{d[0], d[1], d[0] + d[2], d[1] + d[3]};
    video->SetVideoPosition(source, dest);
}

void TImgView::DShowNewFrame(TPxDirectShow* Graph)
{
    // Only this view's own capture object is trusted as a pointer: a message
    // still queued for an object already freed is dropped.
    if (!Graph || !io_ || Graph != io_->GetCaptureDevice())
        return;
    Graph->NotificationsEnabled = false;
    try {
        if (Graph->IsConnected() && OnDShowNewFrame)
            OnDShowNewFrame(this);
    } catch (...) {
        Graph->NotificationsEnabled = true;
        throw;
    }
    Graph->NotificationsEnabled = true;
}

// ---- composition

void TImgView::DrawLayersBackground(TPxBitmap* Dest, const RECT* ClipRect, bool Test, TPxLayer* Layer)
{
    if (Test && Layer) {
        TPxBitmap* image = Layer->Bitmap;
        const bool alphaInUse = GetEnableAlphaChannel() && image->HasAlphaChannel() && !image->GetAlphaChannel()->FullAlpha;
        if (offsetX_ < 1 && offsetY_ < 1 && visScrW_ >= Dest->GetWidth() && visScrH_ >= Dest->GetHeight() &&
            !alphaInUse && Layer->Transparency > 254)
            return;
    }
    classlib::TBitmap* dib = Dest->GetVclBitmap();
    classlib::TCanvas* canvas = Dest->GetCanvas();
    if (!dib || !canvas)
        return;
    classlib::TSaveDCScope state(canvas->GetHandle());
    if (ClipRect)
        IntersectClipRect(canvas->GetHandle(), ClipRect->left, ClipRect->top, ClipRect->right + 1,
                          ClipRect->bottom + 1);
    const RECT whole{0, 0, Dest->GetWidth(), Dest->GetHeight()};
    bool handled = false;
    if (OnDrawBackground)
        OnDrawBackground(this, canvas, whole, handled);
    if (!handled)
        PxDrawBackground(GetComponentState(), canvas, dib, backgroundStyle_, GetBackground(), 0, 0, whole.right,
                         whole.bottom, offsetX_, offsetY_, offsetX_ + visScrW_, offsetY_ + visScrH_, chessSize_,
                         chessBrush_, GradientEndColor, wallPaper_.get(), wallPaperStyle_);
    canvas->Refresh();
}

// What every layer of one DrawLayers pass is drawn with.
struct TImgView::TLayerPaint {
    TPxBitmap* Dest;
    TPxRowTable* Rows;
    const TPxRenderClip* Clip;
    bool First;  // the first layer drawn (over a solid background it need not blend)
    TResampleFilter Filter;
};

namespace {

// The layer's placement, put back when a rotated copy stood in for it.
struct TLayerPlacementRestore {
    TPxLayer* Layer;
    int32_t PosX, PosY, Width, Height;
    explicit TLayerPlacementRestore(TPxLayer* L)
        : Layer(L), PosX(L->PosX), PosY(L->PosY), Width(L->Width), Height(L->Height)
    {
    }
    ~TLayerPlacementRestore()
    {
        Layer->PosX = PosX;
        Layer->PosY = PosY;
        Layer->Width = Width;
        Layer->Height = Height;
    }
    TLayerPlacementRestore(const TLayerPlacementRestore&) = delete;
    TLayerPlacementRestore& operator=(const TLayerPlacementRestore&) = delete;
};

// While a mask layer limits a layer's alpha, the limited channel is kept as
// the layer's mask cache and the layer's own channel goes back at the end.
struct TMaskRestore {
    TPxLayer* Layer;
    std::unique_ptr<TPxBitmap>* Own;
    ~TMaskRestore()
    {
        if (!Layer || !*Own)
            return;
        TPxBitmap* image = Layer->Bitmap;
        auto cache = std::make_unique<TPxBitmap>();
        cache->Assign(image->GetAlphaChannel());
        Layer->MaskCache = std::move(cache);
        image->AttachAlphaChannel(Own->release());
    }
};

// Every other pixel of Dest outside R turns grey.
void DimOutside(TPxBitmap* Dest, const RECT& R)
{
    for (int y = 0; y < Dest->GetHeight(); ++y) {
        uint8_t* row = Dest->GetScanline(y);
        for (int x = 0; x < Dest->GetWidth(); ++x) {
            if (x >= R.left && x <= R.right && y >= R.top && y <= R.bottom)
                continue;
            if ((x % 2) == (y % 2)) {
                uint8_t* p = row + static_cast<size_t>(x) * 3;
                p[0] = p[1] = p[2] = 97;
            }
        }
    }
}

}  // namespace

void TImgView::DrawLayers(TPxBitmap* Dest, std::vector<uint8_t*>* RowTable, bool DrawMarks, bool DrawBackground,
                          const RECT* ClipRect)
{
    UpdateLayersExtent();
    ComputeViewOffsets();
    BuildCoordinateTables();
    if (GetComponentState() & classlib::csDesigning)
        return;
    if (currentImage_->GetWidth() == 0 || currentImage_->GetHeight() == 0)
        return;
    if (currentImage_->HasAlphaChannel()) {
        TPxBitmap* alpha = currentImage_->GetAlphaChannel();
        if (alpha->GetWidth() != currentImage_->GetWidth() || alpha->GetHeight() != currentImage_->GetHeight())
            return;
    }
    TPxRenderClip clip{};
    if (ClipRect)
        clip = TPxRenderClip{ClipRect->left, ClipRect->top, ClipRect->right, ClipRect->bottom};
    const TPxRenderClip* clipPtr = ClipRect ? &clip : nullptr;

    bool first = true;
    bool drawn = false;
    for (int i = 0; i < GetLayersCount(); ++i) {
        TPxLayer* layer = layers_[static_cast<size_t>(i)].get();
        TPxBitmap* image = layer->Bitmap;
        if (!layer->Visible || visScrW_ == 0 || visScrH_ == 0 || !image ||
            (image->GetWidth() < 2 && image->GetHeight() < 2))
            continue;
        DrawLayer(i, Dest, RowTable, DrawMarks, first && DrawBackground, ClipRect, clipPtr, first);
        first = false;
        drawn = true;
    }
    if (!drawn && DrawBackground)
        DrawLayersBackground(Dest, ClipRect, false, nullptr);
    if (DrawMarks)
        DrawSelectionMarks(Dest);
}

void TImgView::DrawLayer(int Index, TPxBitmap* Dest, std::vector<uint8_t*>* RowTable, bool DrawMarks,
                         bool DrawBackground, const RECT* ClipRect, const TPxRenderClip* Clip, bool First)
{
    TPxLayer* layer = layers_[static_cast<size_t>(Index)].get();
    // The next layer, when a mask, limits this one's alpha while it is
    // drawn.
    std::unique_ptr<TPxBitmap> ownAlpha;
    TPxLayer* mask = nullptr;
    if (Index + 1 < GetLayersCount() && layers_[static_cast<size_t>(Index) + 1]->IsMask && !layer->IsMask &&
        layer->Rotate == 0) {
        mask = layers_[static_cast<size_t>(Index) + 1].get();
        ownAlpha = PrepareLayerMask(*layer, *mask);
    }
    TMaskRestore maskRestore{mask ? layer : nullptr, &ownAlpha};
    if (DrawBackground)
        DrawLayersBackground(Dest, ClipRect, true, layer);
    TResampleFilter filter = rfNone;
    if (zoomDelay_ < 1 && (layer->Width != 0 || layer->Height != 0 || zoomX_ != 100 || zoomY_ != 100))
        filter = layer->UseResampleFilter ? layer->ResampleFilter : ZoomFilter;
    // The back buffer's rows move when the canvas was used; take them
    // again after the background.
    std::vector<uint8_t*> rows;
    if (RowTable) {
        rows = Dest->GetRowTable();
        if (rows.empty())
            rows = *RowTable;
    }
    const TLayerPaint paint{Dest, rows.empty() ? nullptr : &rows, Clip, First, filter};
    const bool simple = GetLayersCount() == 1 && Index == 0 && layer->PosX == 0 && layer->PosY == 0 &&
                        layer->Width == 0 && layer->Height == 0;
    if (simple)
        RenderSoleLayer(*layer, paint);
    else
        RenderPlacedLayer(Index, *layer, paint);
    if (DrawMarks && Index == currentLayer_ && layer->ShowBox && Dest->GetLocation() == pxTBitmap) {
        // The marks go through the image's own system bitmap (its rows
        // stay where they are).
        classlib::TBitmap* marks = Dest->GetVclBitmap();
        if (mouseInteract_ & (miMoveLayers | miResizeLayers))
            DrawLayerBox(marks, Index);
        if ((mouseInteract_ & miResizeLayers) && !layer->Locked)
            DrawLayerGrips(marks, Index);
        if (mouseInteract_ & miRotateLayers)
            DrawRotationGrip(marks, Index);
    }
    if (DrawMarks && Index == currentLayer_ && layer->DimOutside)
        DimOutside(Dest, layer->ScreenRect);
}

void TImgView::RenderSoleLayer(TPxLayer& Layer, const TLayerPaint& P)
{
    // The view's screen-to-bitmap tables, indexed by destination column and
    // row.
    TPxIndexTable xt, yt;
    if (!s2bX_.empty() && !s2bY_.empty()) {
        xt.assign(static_cast<size_t>(offsetX_ + visScrW_), 0);
        yt.assign(static_cast<size_t>(offsetY_ + visScrH_), 0);
        for (int x = 0; x < visScrW_; ++x) {
            const size_t k = s2bXOff_ + static_cast<size_t>(x);
            xt[static_cast<size_t>(offsetX_ + x)] = k < s2bX_.size() ? s2bX_[k] : -1;
        }
        for (int y = 0; y < visScrH_; ++y) {
            const size_t k = s2bYOff_ + static_cast<size_t>(y);
            yt[static_cast<size_t>(offsetY_ + y)] = k < s2bY_.size() ? s2bY_[k] : -1;
        }
    }
    RenderToBitmap(*Layer.Bitmap, P.Dest, P.Rows, xt.empty() ? nullptr : &xt, yt.empty() ? nullptr : &yt, P.Clip,
                   offsetX_, offsetY_, visScrW_, visScrH_, visBmpX_, visBmpY_, visBmpW_, visBmpH_,
                   GetEnableAlphaChannel(), P.First && backgroundStyle_ == pxbsSolid, Layer.Transparency, P.Filter,
                   true, Layer.BlendMode);
    Layer.ScreenRect = RECT{offsetX_, offsetY_, offsetX_ + visScrW_, offsetY_ + visScrH_};
    const int32_t drawRect[8] = {offsetX_, offsetY_, visScrW_, visScrH_, visBmpX_, visBmpY_, visBmpW_, visBmpH_};
    std::copy(drawRect, drawRect + 8, Layer.DrawRect);
}

void TImgView::RenderPlacedLayer(int Index, TPxLayer& Layer, const TLayerPaint& P)
{
    // A rotated layer is drawn from a rotated copy (five times its displayed
    // size, nearest neighbour, transparent corners) placed at the rotated
    // bounds; its placement is put back afterwards.
    TPxBitmap* image = Layer.Bitmap;
    std::unique_ptr<TLayerPlacementRestore> placement;
    std::unique_ptr<TPxBitmap> rotated;
    if (Layer.Rotate != 0 && !Layer.IsMask) {
        const int w = Layer.GetWidth();
        const int h = Layer.GetHeight();
        rotated = RotatedLayerCopy(image, w, h, Layer.Rotate);
        if (rotated) {
            placement = std::make_unique<TLayerPlacementRestore>(&Layer);
            PlaceRotatedLayer(Layer, *rotated, w, h);
            image = rotated.get();
        }
    }
    if (Index > 0 && Layer.Magnify && Layer.MagnifyRate >= 1 && image == Layer.Bitmap)
        PrepareMagnifier(Layer, P.Dest, P.Filter);
    RenderLayerRect(Index, Layer, *image, P);
}

void TImgView::PlaceRotatedLayer(TPxLayer& Layer, TPxBitmap& Rotated, int W, int H)
{
    const int32_t posX = Layer.PosX, posY = Layer.PosY;
    POINT corners[4] = {{0, 0}, {W, 0}, {W, H}, {0, H}};
    PxRotatePoints(corners, 3, static_cast<int>(classlib::Trunc(W * Layer.RotateCenterX)),
                   static_cast<int>(classlib::Trunc(H * Layer.RotateCenterY)), Layer.Rotate);
    LONG minX = corners[0].x, minY = corners[0].y;
    for (int k = 0; k < 4; ++k) {
        minX = std::min(minX, corners[k].x);
        minY = std::min(minY, corners[k].y);
        Layer.Corners[k].x =
            static_cast<LONG>(classlib::Trunc((corners[k].x + posX) * zoomX_ / 100.0) + offsetX_ - viewX_);
        Layer.Corners[k].y =
            static_cast<LONG>(classlib::Trunc((corners[k].y + posY) * zoomY_ / 100.0) + offsetY_ - viewY_);
    }
    Layer.Width = Rotated.GetWidth() / 5;
    Layer.Height = Rotated.GetHeight() / 5;
    Layer.PosX = posX + minX;
    Layer.PosY = posY + minY;
}

void TImgView::RenderLayerRect(int Index, TPxLayer& Layer, TPxBitmap& Image, const TLayerPaint& P)
{
    const int w = Layer.GetWidth();
    const int h = Layer.GetHeight();
    // Screen edges moved by a pixel where they map back to a neighbouring
    // bitmap column or row.
    auto snapX = [this](int e, int b) {
        const int m = ScreenToBitmapX(e);
        return m < b ? e + 1 : (m > b ? e - 1 : e);
    };
    auto snapY = [this](int e, int b) {
        const int m = ScreenToBitmapY(e);
        return m < b ? e + 1 : (m > b ? e - 1 : e);
    };
    int left = snapX(BitmapToScreenX(Layer.PosX), Layer.PosX);
    int top = snapY(BitmapToScreenY(Layer.PosY), Layer.PosY);
    int right = snapX(BitmapToScreenX(Layer.PosX + w), Layer.PosX + w);
    int bottom = snapY(BitmapToScreenY(Layer.PosY + h), Layer.PosY + h);
    Layer.ScreenRect = RECT{left, top, right, bottom};
    int sx = 0, sy = 0, sw = Image.GetWidth(), sh = Image.GetHeight();
    if (Layer.ClipToBase && Index > 0) {
        const RECT base = layers_[0]->ScreenRect;
        if (left < base.left && w > 0) {
            const int cut = static_cast<int>(classlib::Trunc(static_cast<double>(Image.GetWidth()) / w * -Layer.PosX));
            sx += cut;
            sw -= cut;
            left = base.left;
        }
        if (top < base.top && h > 0) {
            const int cut = static_cast<int>(classlib::Trunc(static_cast<double>(Image.GetHeight()) / h * -Layer.PosY));
            sy += cut;
            sh -= cut;
            top = base.top;
        }
        const int fullW = Layer.ScreenRect.right - Layer.ScreenRect.left;
        const int fullH = Layer.ScreenRect.bottom - Layer.ScreenRect.top;
        if (right > base.right && fullW > 0) {
            right = base.right;
            sw = static_cast<int>(classlib::Trunc(static_cast<double>(Image.GetWidth()) / fullW * (right - left)));
        }
        if (bottom > base.bottom && fullH > 0) {
            bottom = base.bottom;
            sh = static_cast<int>(classlib::Trunc(static_cast<double>(Image.GetHeight()) / fullH * (bottom - top)));
        }
    }
    if (right > left && bottom > top && sw > 0 && sh > 0)
        RenderToBitmap(Image, P.Dest, P.Rows, nullptr, nullptr, P.Clip, left, top, right - left, bottom - top, sx, sy,
                       sw, sh, GetEnableAlphaChannel(), P.First && backgroundStyle_ == pxbsSolid, Layer.Transparency,
                       P.Filter, true, Layer.BlendMode);
    const int32_t drawRect[8] = {left, top, right - left, bottom - top, sx, sy, sw, sh};
    std::copy(drawRect, drawRect + 8, Layer.DrawRect);
}

std::unique_ptr<TPxBitmap> TImgView::PrepareLayerMask(TPxLayer& L, TPxLayer& M)
{
    TPxBitmap* image = L.Bitmap;
    TPxBitmap* maskImage = M.Bitmap;
    if (!image || !maskImage || image->GetWidth() <= 0 || image->GetHeight() <= 0)
        return nullptr;
    // L's own alpha channel is set aside (a copy; the image owns its channel).
    auto own = std::make_unique<TPxBitmap>();
    own->Assign(image->GetAlphaChannel());
    if (L.MaskCache && L.MaskCache->GetWidth() == image->GetWidth() &&
        L.MaskCache->GetHeight() == image->GetHeight()) {
        auto alpha = std::make_unique<TPxBitmap>();
        alpha->Assign(L.MaskCache.get());
        image->AttachAlphaChannel(alpha.release());
        return own;
    }
    if (maskImage->GetPixelFormat() != px8g)
        maskImage->SetPixelFormat(px8g);
    maskImage->RemoveAlphaChannel(false, 0);
    const int iw = image->GetWidth(), ih = image->GetHeight();
    const int mw = maskImage->GetWidth(), mh = maskImage->GetHeight();
    auto alpha = std::make_unique<TPxBitmap>();
    if (!alpha->Allocate(iw, ih, px8g) || mw <= 0 || mh <= 0)
        return nullptr;
    const double sMx = static_cast<double>(M.GetWidth()) / mw;
    const double sMy = static_cast<double>(M.GetHeight()) / mh;
    const double sLx = static_cast<double>(L.GetWidth()) / iw;
    const double sLy = static_cast<double>(L.GetHeight()) / ih;
    std::vector<int> cols(static_cast<size_t>(iw));
    for (int j = 0; j < iw; ++j)
        cols[static_cast<size_t>(j)] =
            static_cast<int>(classlib::Round(j * sLx / sMx - M.PosX / sMx + L.PosX / sMx));
    std::vector<uint8_t> maskRow(static_cast<size_t>(mw));
    for (int y = 0; y < ih; ++y) {
        const int k = static_cast<int>(classlib::Round(y * sLy / sMy - M.PosY / sMy + L.PosY / sMy));
        const bool rowInside = k >= 0 && k < mh;
        if (rowInside) {
            const uint8_t* src = maskImage->GetScanline(k);
            std::copy(src, src + mw, maskRow.begin());
        }
        const uint8_t* ownRow = own->GetScanline(y);
        std::vector<uint8_t> ownCopy(ownRow, ownRow + iw);
        uint8_t* out = alpha->GetScanline(y);
        for (int j = 0; j < iw; ++j) {
            const int c = cols[static_cast<size_t>(j)];
            const uint8_t m = rowInside && c >= 0 && c < mw ? maskRow[static_cast<size_t>(c)] : 0;
            out[j] = std::min(ownCopy[static_cast<size_t>(j)], m);
        }
    }
    image->AttachAlphaChannel(alpha.release());
    return own;
}

void TImgView::PrepareMagnifier(TPxLayer& Layer, TPxBitmap* Dest, TResampleFilter Filter)
{
    TPxBitmap* image = Layer.Bitmap;
    if ((Layer.Width > 0 && Layer.Width != image->GetWidth()) ||
        (Layer.Height > 0 && Layer.Height != image->GetHeight())) {
        TPxBitmap sized;
        if (sized.Allocate(Layer.GetWidth(), Layer.GetHeight(), image->GetPixelFormat())) {
            PxResampleBitmap(image, &sized, rfNone);
            image->Assign(&sized);
        }
    }
    const int iw = image->GetWidth();
    const int ih = image->GetHeight();
    if (iw <= 0 || ih <= 0)
        return;
    const double m = Layer.MagnifyRate;
    const int aw = static_cast<int>(classlib::Trunc(iw / (m / (zoomX_ / 100.0))));
    const int ah = static_cast<int>(classlib::Trunc(ih / (m / (zoomY_ / 100.0))));
    const int cx = BitmapToScreenX(Layer.PosX) + static_cast<int>(classlib::Trunc(iw * zoomX_ / 100.0 / 2));
    const int cy = BitmapToScreenY(Layer.PosY) + static_cast<int>(classlib::Trunc(ih * zoomY_ / 100.0 / 2));
    const int x0 = cx - aw / 2;
    const int y0 = cy - ah / 2;
    if (Layer.MagnifySource == 0) {
        if (image->GetPixelFormat() != px24RGB)
            image->SetPixelFormat(px24RGB);
        TPxBitmap* base = GetLayerBitmap(0);
        const int bx1 = ScreenToBitmapX(x0);
        const int by1 = ScreenToBitmapY(y0);
        const int bx2 = ScreenToBitmapX(x0 + aw);
        const int by2 = ScreenToBitmapY(y0 + ah);
        if (base && bx1 >= 0 && by1 >= 0 && bx2 <= base->GetWidth() && by2 <= base->GetHeight() && bx2 > bx1 &&
            by2 > by1) {
            image->Fill(0);
            RenderToBitmapSimple(*base, image, 0, 0, iw, ih, bx1, by1, bx2 - bx1, by2 - by1, 255, Filter, 0);
        }
    } else if (Layer.MagnifySource == 1) {
        classlib::TCanvas* from = Dest->GetCanvas();
        image->SetLocation(pxTBitmap);
        classlib::TCanvas* to = image->GetCanvas();
        if (from && to && aw > 0 && ah > 0)
            StretchBlt(to->GetHandle(), 0, 0, iw, ih, from->GetHandle(), x0, y0, aw, ah, SRCCOPY);
    }
    TPxBitmap* alpha = image->GetAlphaChannel();
    if (Layer.MagnifyShape == 1) {
        alpha->Fill(0);
        if (classlib::TCanvas* canvas = alpha->GetCanvas()) {
            canvas->GetBrush()->SetStyle(classlib::bsSolid);
            canvas->GetBrush()->SetColor(classlib::clWhite);
            canvas->GetPen()->SetColor(classlib::clWhite);
            canvas->Ellipse(0, 0, iw, ih);
            canvas->Refresh();
        }
        alpha->FullAlpha = false;
    } else {
        alpha->Fill(255);
        alpha->FullAlpha = true;
    }
}

bool TImgView::GetGripRects(int Layer, RECT (&Rects)[8])
{
    if (Layer < 0 || Layer >= GetLayersCount())
        return false;
    const TPxLayer& l = *layers_[static_cast<size_t>(Layer)];
    POINT p[8];
    if (l.Rotate != 0) {
        const POINT* c = l.Corners;
        p[0] = c[0];
        p[1] = c[1];
        p[2] = c[2];
        p[3] = c[3];
        p[4] = POINT{(c[0].x + c[3].x) / 2, (c[0].y + c[3].y) / 2};
        p[5] = POINT{(c[1].x + c[2].x) / 2, (c[1].y + c[2].y) / 2};
        p[6] = POINT{(c[0].x + c[1].x) / 2, (c[0].y + c[1].y) / 2};
        p[7] = POINT{(c[2].x + c[3].x) / 2, (c[2].y + c[3].y) / 2};
    } else {
        const RECT& r = l.ScreenRect;
        const LONG midY = (r.top + r.bottom) / 2;
        const LONG midX = (r.left + r.right) / 2;
        p[0] = POINT{r.left, r.top};
        p[1] = POINT{r.right, r.top};
        p[2] = POINT{r.right, r.bottom};
        p[3] = POINT{r.left, r.bottom};
        p[4] = POINT{r.left, midY};
        p[5] = POINT{r.right, midY};
        p[6] = POINT{midX, r.top};
        p[7] = POINT{midX, r.bottom};
    }
    const int g = LayerGripSize;
    for (int i = 0; i < 8; ++i)
        Rects[i] = RECT{p[i].x - g, p[i].y - g, p[i].x + g, p[i].y + g};
    return true;
}

int TImgView::GetGripAt(int X, int Y)
{
    RECT rects[8];
    if (currentLayer_ < 0 || !GetGripRects(currentLayer_, rects))
        return 0;
    for (int i = 0; i < 8; ++i)
        if (X >= rects[i].left && X <= rects[i].right && Y >= rects[i].top && Y <= rects[i].bottom)
            return i + 1;
    return 0;
}

std::unique_ptr<TPxBitmap> TImgView::RotatedLayerCopy(TPxBitmap* Image, int W, int H, double Angle)
{
    if (W <= 0 || H <= 0 || Image->GetWidth() <= 0 || Image->GetHeight() <= 0)
        return nullptr;
    auto copy = std::make_unique<TPxBitmap>();
    if (!copy->Allocate(5 * W, 5 * H, Image->GetPixelFormat()))
        return nullptr;
    PxResampleBitmap(Image, copy.get(), rfNone);
    copy->GetAlphaChannel();
    PxRotateNearest(copy.get(), 0, nullptr, TPxProgressEvent(), Angle);
    // The alpha channel is not turned with the image: turned on its own,
    // with the uncovered corners transparent.
    TPxBitmap* alpha = copy->GetAlphaChannel();
    PxRotateNearest(alpha, 0, nullptr, TPxProgressEvent(), Angle);
    alpha->FullAlpha = false;
    return copy;
}

void TImgView::DrawSelectionMarks(TPxBitmap* Dest)
{
    if (!Selected || !ShowSelection || currentLayer_ < 0 || currentLayer_ >= GetLayersCount())
        return;
    const TPxSelectionOptions options = GetSelectionOptions();
    if (!(options & (pxsoFilled | pxsoMarkOuter)))
        return;
    TPxMask* mask = SyncSelectionMask();
    if (!mask)
        return;
    const int32_t* r = layers_[static_cast<size_t>(currentLayer_)]->DrawRect;
    if (options & pxsoFilled) {
        if (classlib::TCanvas* canvas = Dest->GetCanvas())
            mask->DrawInverted(canvas, r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
    }
    if (options & pxsoMarkOuter)
        mask->ShadeOutside(Dest, r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], classlib::clWhite, -1);
}

void TImgView::RenderLayersTo(TPxBitmap* Dest)
{
    if (!Dest)
        return;
    UpdateLayersExtent();
    const TPxLayer& base = *layers_[0];
    int right = base.PosX + base.GetWidth();
    int bottom = base.PosY + base.GetHeight();
    for (const auto& layer : layers_) {
        if (layer->ClipToBase)
            continue;
        right = std::max(right, layer->PosX + layer->GetWidth());
        bottom = std::max(bottom, layer->PosY + layer->GetHeight());
    }
    if (Dest->GetPixelFormat() != px24RGB || Dest->GetWidth() == 0 || Dest->GetHeight() == 0) {
        Dest->Allocate(right, bottom, px24RGB);
        Dest->Fill(static_cast<double>(classlib::ColorToRGB(GetBackground()) & 0xFFFFFF));
    } else {
        ResizeCanvas(*Dest, right, bottom, static_cast<double>(classlib::ColorToRGB(GetBackground()) & 0xFFFFFF), 255,
                     0, 0);
    }

    {
        // Zoom 100, no scroll, the extent of layer 0, put back on every way
        // out.
        struct Restore {
            TImgView* v;
            double zx, zy;
            int vx, vy, lw, lh, ox, oy, ex, ey, zw, zh;
            ~Restore()
            {
                v->zoomX_ = zx;
                v->zoomY_ = zy;
                v->SetZoomFactors();
                v->viewX_ = vx;
                v->viewY_ = vy;
                v->layersW_ = lw;
                v->layersH_ = lh;
                v->offsetX_ = ox;
                v->offsetY_ = oy;
                v->extentX_ = ex;
                v->extentY_ = ey;
                v->zoomedW_ = zw;
                v->zoomedH_ = zh;
            }
        } restore{this,     zoomX_,   zoomY_,   viewX_,  viewY_,  layersW_, layersH_,
                  offsetX_, offsetY_, extentX_, extentY_, zoomedW_, zoomedH_};
        zoomX_ = zoomY_ = 100;
        SetZoomFactors();
        viewX_ = viewY_ = 0;
        offsetX_ = offsetY_ = 0;
        TPxBitmap* baseImage = GetLayerBitmap(0);
        extentX_ = zoomedW_ = layersW_ = baseImage->GetWidth();
        extentY_ = zoomedH_ = layersH_ = baseImage->GetHeight();
        DrawLayers(Dest, nullptr, false, false, nullptr);
    }
    Update();
}

void TImgView::FlattenLayers()
{
    auto flat = std::make_unique<TPxBitmap>();
    flat->Allocate(currentImage_->GetWidth(), currentImage_->GetHeight(), px24RGB);
    flat->Fill(static_cast<double>(classlib::ColorToRGB(GetBackground()) & 0xFFFFFF));
    RenderLayersTo(flat.get());
    ClearLayers();
    currentImage_->Assign(flat.get());
    flat.reset();
    Update();
}

// ---- layer marks

void TImgView::DrawLayerBox(classlib::TBitmap* Bitmap, int Layer)
{
    if (!Bitmap || Layer < 0 || Layer >= GetLayersCount())
        return;
    if (OnDrawLayerBox) {
        OnDrawLayerBox(this, Bitmap, Layer);
        return;
    }
    const TPxLayer& l = *layers_[static_cast<size_t>(Layer)];
    HDC dc = Bitmap->GetCanvas()->GetHandle();
    classlib::TOwnedPen pen(::CreatePen(PS_DOT, 1, 0));
    classlib::TSaveDCScope saved(dc);
    classlib::TSelectObjectScope selectPen(dc, pen.Get());
    classlib::TSelectObjectScope selectBrush(dc, ::GetStockObject(NULL_BRUSH));
    ::SetROP2(dc, R2_NOT);
    ::SetBkMode(dc, TRANSPARENT);
    if (l.Rotate != 0) {
        ::Polygon(dc, l.Corners, 4);
    } else {
        const RECT& r = l.ScreenRect;
        ::Rectangle(dc, r.left, r.top, r.right, r.bottom);
    }
}

namespace {

// The pen and brush of the view's layer grips (resizing and rotation).
void SetGripPenAndBrush(TPxCanvas& Canvas, const TImgView& View)
{
    Canvas.GetPen()->SetStyle(classlib::psSolid);
    Canvas.GetPen()->SetMode(classlib::pmCopy);
    Canvas.GetPen()->SetColor(View.LayerGripPenColor);
    Canvas.GetPen()->SetWidth(1);
    Canvas.GetBrush()->SetStyle(View.LayerGripBrushStyle);
    Canvas.GetBrush()->SetColor(View.LayerGripBrushColor);
}

}  // namespace

void TImgView::DrawLayerGrips(classlib::TBitmap* Bitmap, int Layer)
{
    RECT rects[8];
    if (!Bitmap || !GetGripRects(Layer, rects))
        return;
    if (OnDrawLayerGrip) {
        for (int g = 0; g < 8; ++g)
            OnDrawLayerGrip(this, Bitmap, Layer, g, rects[g]);
        return;
    }
    TPxCanvas canvas(Bitmap->GetCanvas(), true, true);
    SetGripPenAndBrush(canvas, *this);
    for (const RECT& r : rects) {
        if (LayerGripShape == 0)
            canvas.RectangleR(r);
        else
            canvas.EllipseR(r);
    }
}

void TImgView::DrawRotationGrip(classlib::TBitmap* Bitmap, int Layer)
{
    if (!Bitmap || Layer < 0 || Layer >= GetLayersCount())
        return;
    // The grip stands on the layer's rotation centre.
    int x = 0, y = 0;
    RotationCentre(*layers_[static_cast<size_t>(Layer)], x, y);
    TPxCanvas canvas(Bitmap->GetCanvas(), true, true);
    SetGripPenAndBrush(canvas, *this);
    const int g = LayerGripSize;
    canvas.Ellipse(x - g, y - g, x + g, y + g);
}

void TImgView::DrawPolygonRubberLine()
{
    if (PolySelecting && !LassoSelecting)
        DrawRubberLine();
}

void TImgView::PaintShadowedRect(const RECT& Rect)
{
    const int vw = GetViewWidth();
    const int vh = GetViewHeight();
    if (!backBuffer_ || vw <= 0 || vh <= 0)
        return;
    if (!shadowBuffer_)
        shadowBuffer_ = std::make_unique<TPxBitmap>();
    if (shadowBuffer_->GetWidth() != vw || shadowBuffer_->GetHeight() != vh) {
        shadowBuffer_->Allocate(vw, vh, px24RGB);
        shadowBuffer_->SetLocation(pxTBitmap);
        shadowBuffer_->Fill(0);
    }
    classlib::TCanvas* shadow = shadowBuffer_->GetCanvas();
    classlib::TCanvas* back = backBuffer_->GetCanvas();
    if (!shadow || !back)
        return;
    const int w = static_cast<int>(Rect.right - Rect.left);
    const int h = static_cast<int>(Rect.bottom - Rect.top);
    BitBlt(shadow->GetHandle(), Rect.left, Rect.top, w, h, back->GetHandle(), Rect.left, Rect.top, SRCCOPY);
    if (currentLayer_ >= 0 && currentLayer_ < GetLayersCount()) {
        const RECT area = layers_[static_cast<size_t>(currentLayer_)]->ScreenRect;
        PxDrawShadowRects(shadow, area.left, area.top, area.right - area.left, area.bottom - area.top,
                          lastSelRect_.left, lastSelRect_.top, lastSelRect_.right, lastSelRect_.bottom);
    }
    BitBlt(GetCanvas()->GetHandle(), Rect.left, Rect.top, w, h, shadow->GetHandle(), Rect.left, Rect.top, SRCCOPY);
}

bool TImgView::CloseDrawDib(HANDLE Handle) { return PxDrawDibClose(Handle); }

bool TImgView::PaletteChanged(bool Foreground)
{
    classlib::TCustomForm* main = classlib::Application ? classlib::Application->GetMainForm() : nullptr;
    if (main && main->HandleAllocated()) {
        if (!drawDib_)
            drawDib_.reset(PxDrawDibOpen());
        HDC dc = ::GetDC(main->GetHandle());
        const UINT changed = dc ? PxDrawDibRealize(drawDib_.get(), dc, false) : 0;
        if (dc)
            ::ReleaseDC(main->GetHandle(), dc);
        if (changed > 0)
            Invalidate();
    } else {
        Invalidate();
    }
    (void)Foreground;
    return true;
}

}  // namespace imaging
