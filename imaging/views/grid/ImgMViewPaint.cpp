// TImgMView: painting through a back buffer, the walk over the visible
// entries, one cell, and the picture of a failed load.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "classlib/Bitmap.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/model/PxVirtualImageList.h"
#include "imaging/proc/PxEffects.h"
#include "imaging/proc/PxRender.h"
#include "imaging/proc/PxResample.h"
#include "imaging/views/grid/ImgMView.h"
#include "imaging/views/view/PxDrawing.h"

namespace imaging {

std::wstring PxShortenCaption(classlib::TCanvas* Canvas, const std::wstring& Text, int Width, int TruncSide)
{
    std::wstring s = Text;
    if (Canvas->TextWidth(s) <= Width)
        return s;
    for (size_t k = 2; k <= Text.size(); ++k) {
        // Side 0 keeps the first (length - k) characters; side 1 keeps the
        // characters from position k (counted from 1) on.
        const std::wstring part = TruncSide == 0 ? Text.substr(0, Text.size() - k) : Text.substr(k - 1);
        if (part.empty())
            break;
        s = TruncSide == 0 ? part + L"..." : L"..." + part;
        if (Canvas->TextWidth(s) <= Width)
            break;
    }
    return s;
}

void TImgMView::FillSolid(classlib::TCanvas* C, const RECT& R, classlib::TColor Color)
{
    C->GetBrush()->SetStyle(classlib::bsSolid);
    C->GetBrush()->SetColor(Color);
    C->FillRect(R);
}

void TImgMView::WndProc(classlib::TMessage& Message)
{
    if (Message.Msg == WM_ERASEBKGND) {
        Message.Result = 0;
        return;
    }
    if (InteractMessage(Message))
        return;
    TPxView::WndProc(Message);
    if (Message.Msg == WM_SETFOCUS || Message.Msg == WM_KILLFOCUS)
        Invalidate();
}

void TImgMView::Paint()
{
    if (paintLock_ > 0 || !HandleAllocated())
        return;
    const int cw = GetClientWidth();
    const int ch = GetClientHeight();
    if (cw <= 0 || ch <= 0)
        return;
    if (backBuffer_->GetWidth() != cw || backBuffer_->GetHeight() != ch ||
        backBuffer_->GetPixelFormat() != px24RGB)
        backBuffer_->Allocate(cw, ch, px24RGB);
    classlib::TBitmap* vcl = backBuffer_->GetVclBitmap();
    if (!vcl)
        return;
    PaintTo(vcl);
    BitBlt(GetCanvas()->GetHandle(), 0, 0, cw, ch, vcl->GetCanvas()->GetHandle(), 0, 0, SRCCOPY);
}

void TImgMView::PaintTo(classlib::TBitmap* Bitmap)
{
    const int cw = GetClientWidth();
    const int ch = GetClientHeight();
    if (!Bitmap || cw <= 0 || ch <= 0)
        return;
    if (Bitmap->GetPixelFormat() != classlib::pf24bit)
        Bitmap->SetPixelFormat(classlib::pf24bit);
    if (Bitmap->GetWidth() != cw || Bitmap->GetHeight() != ch)
        Bitmap->SetSize(cw, ch);

restart:
    classlib::TCanvas* canvas = Bitmap->GetCanvas();
    PxDrawBackground(GetComponentState(), canvas, Bitmap, backgroundStyle_, GetBackground(), 0, 0, cw, ch, 0, 0, 0, 0,
                     ChessboardSize, ChessboardBrushStyle, GradientEndColor, nullptr, wallPaperStyle_);
    if (classlib::TGraphic* paper = wallPaper_->GetGraphic()) {
        const int pw = paper->GetWidth();
        const int ph = paper->GetHeight();
        if (wallPaperStyle_ == pxwoNormal)
            canvas->Draw(0, 0, paper);
        else if (wallPaperStyle_ == pxwoStretch)
            canvas->StretchDraw(RECT{0, 0, cw, ch}, paper);
        else if (pw > 0 && ph > 0)
            for (int ty = 0; ty < ch; ty += ph)
                for (int tx = 0; tx < cw; tx += pw)
                    canvas->Draw(tx, ty, paper);
    }
    const int count = GetImageCount();
    int first = 0;
    int last = count - 1;
    if (displayMode_ == mdSingle || Playing) {
        if (count == 0)
            return;
        VisibleFrame = std::clamp(VisibleFrame, 0, count - 1);
        first = last = VisibleFrame;
    }
    const int visits = last - first + 1;
    int drawn = 0;
    int firstVisible = -1;
    int lastVisible = -1;
    bool lastFixed = false;
    bool allHad = true;
    bool fetched = false;
    for (int idx = first; idx <= last; ++idx) {
        if (visits > 1 && OnDrawProgress)
            OnDrawProgress(this, static_cast<int>(static_cast<double>(idx - first + 1) / count * 100), idx);
        if (!(IsImageVisible(idx) || PaintAllThumbnails)) {
            if (firstVisible >= 0 && !lastFixed) {
                lastVisible = idx - 1;
                lastFixed = true;
            }
            continue;
        }
        if (firstVisible < 0)
            firstVisible = idx;
        if (!HasImage(idx) && !HasDisplayCopy(idx)) {
            fetched = true;
            if (idx == selectedImage_ || ThreadPoolSize == 0 || !RequestImageLoad(idx, drawn)) {
                if (!LoadImageNow(idx) && removeCorrupted_) {
                    RemoveImage(idx);
                    goto restart;
                }
            }
        }
        if (!HasImage(idx) && !HasDisplayCopy(idx))
            allHad = false;
        const bool multi = false;  // the multiple selection is not kept by this control
        const bool selected = (idx == selectedImage_ || (enableMultiSelect_ && multi)) && visibleSelection_ &&
                              displayMode_ == mdGrid;
        DrawThumbnail(Bitmap, Entry(idx), idx, selected);
        ++drawn;
    }
    if (firstVisible >= 0 && !lastFixed)
        lastVisible = last;

    if (firstVisible >= 0) {
        // Look-ahead: queue the entries that follow the visible ones.
        if (LookAheadCount > 0 && ThreadPoolSize > 0 && lastVisible + 1 < count) {
            std::vector<int> ahead;
            {
                classlib::TCriticalSectionGuard guard(starterLock_);
                lookAheadList_.clear();
                const int n = std::min(LookAheadCount, count - 1 - lastVisible);
                for (int k = 1; k <= n; ++k) {
                    TImgMViewEntry* e = Entry(lastVisible + k);
                    if (e && !e->ImageItem && !e->CacheItem) {
                        lookAheadList_.push_back(lastVisible + k);
                        ahead.push_back(lastVisible + k);
                    }
                }
            }
            for (int i : ahead)
                RequestImageLoad(i, -1);
        }
        // Trimming: images far from the visible range are dropped (their
        // display copies stay).
        if (InvisibleKeepDistance >= 0) {
            const int d = std::max(LookAheadCount, InvisibleKeepDistance);
            classlib::TCriticalSectionGuard guard(starterLock_);
            for (int i = 0; i < GetImageCount(); ++i) {
                TImgMViewEntry* e = Entry(i);
                if ((i < firstVisible - d || i > lastVisible + d) && e->ImageItem && CanReloadImage(e) &&
                    e->ImageItem != currentItem_ && i != selectedImage_) {
                    ilist_->DeleteImage(e->ImageItem);
                    e->ImageItem = nullptr;
                }
            }
        }
    }
    if (visits > 1 && OnDrawProgress)
        OnDrawProgress(this, 100, 0);
    if (allHad && drawn > 0 && (!allDisplayed_ || fetched) && OnAllDisplayed)
        OnAllDisplayed(this);
    allDisplayed_ = allHad && drawn > 0;
}

void TImgMView::DrawCaptions(classlib::TCanvas* C, TImgMViewEntry* E, int x, int y, int w, int h, bool Selected)
{
    auto prepare = [&](TPxMText* t) {
        C->SetFont(t->GetFont());
        C->GetBrush()->SetStyle(t->BackStyle);
        if (Selected && selectionStyle_ == pxssACD) {
            C->GetFont()->SetColor(SelectionTextColor);
            if (t->BackStyle != classlib::bsClear)
                C->GetBrush()->SetColor(SelectionBackgroundColor);
        } else if (t->BackStyle != classlib::bsClear) {
            C->GetBrush()->SetColor(t->BackColor);
        }
    };
    if (!E->TopText->Caption.empty()) {
        prepare(E->TopText.get());
        const std::wstring s = PxShortenCaption(C, E->TopText->Caption, w, E->TopText->TruncSide);
        C->TextOut(x + (w - C->TextWidth(s)) / 2, y, s);
    }
    if (!E->BottomText->Caption.empty()) {
        TPxMText* t = E->BottomText.get();
        prepare(t);
        const int th = C->TextHeight(t->Caption);
        const std::wstring s = PxShortenCaption(C, t->Caption, w, t->TruncSide);
        if (style_ == pxmsFlat && t->BackStyle == classlib::bsSolid)
            C->FillRect(RECT{x, y + h - bottomGap_ - th, x + w, y + h - bottomGap_});
        C->TextOut(x + (w - C->TextWidth(s)) / 2, y + h - bottomGap_ - th, s);
    }
    if (!E->InfoText->Caption.empty()) {
        TPxMText* t = E->InfoText.get();
        prepare(t);
        const int th = C->TextHeight(t->Caption);
        std::wstring s = t->Caption;
        for (size_t k = 1; k < t->Caption.size() && w < C->TextWidth(s) + 4 && s.size() >= 2; ++k)
            s = L"..." + t->Caption.substr(k + 1);
        if (t->BackStyle == classlib::bsSolid)
            C->FillRect(RECT{x, y + h - th - 1, x + w, y + h});
        const int top = style_ == pxmsACD ? y + h - th - 2 : y + h - th - 1;
        if (t->BackStyle == classlib::bsSolid)
            C->FillRect(RECT{x, top, x + w, y + h});
        C->TextOut(x + (w - C->TextWidth(s) - 2) / 2 + 1, top, s);
    }
}

// One cell being drawn: where the thumbnail goes (x, y, w, h, inside a
// frame picture when there is one), the picture's height room (a), the
// fill colour, and the picture's place once drawn (left, top, dw, dh).
struct TImgMView::TThumbCell {
    int x = 0, y = 0, w = 0, h = 0;
    bool framed = false;
    int a = 0;
    classlib::TColor c = 0;
    int left = 0, top = 0, dw = 0, dh = 0;
};

void TImgMView::DrawThumbnail(classlib::TBitmap* Bitmap, TImgMViewEntry* E, int Index, bool Selected)
{
    if (!E)
        return;
    classlib::TCriticalSectionGuard guard(starterLock_);
    classlib::TCanvas* C = Bitmap->GetCanvas();
    TThumbCell cell;
    cell.x = E->X - ViewX;
    cell.y = E->Y - ViewY;
    cell.w = thumbWidth_;
    cell.h = thumbHeight_;
    if (OnBeforeImageDraw)
        OnBeforeImageDraw(this, Index, cell.x, cell.y, C);
    PlaceThumbnailCell(Bitmap, Index, Selected, cell);

    int t = 0;
    if (EnableCaptions && !E->BottomText->Caption.empty()) {
        C->SetFont(E->BottomText->GetFont());
        t = C->TextHeight(E->BottomText->Caption);
    }
    cell.a = cell.h - bottomGap_ - upperGap_ - t;
    cell.c = (Selected && selectionStyle_ == pxssACD) ? SelectionBackgroundColor
             : drawImageBackground_                   ? E->Background
                                                      : ThumbnailsBackground;
    if (fillThumbnail_)
        PxDrawBackground(GetComponentState(), C, Bitmap, thumbnailsBackgroundStyle_, cell.c, cell.x, cell.y, cell.w,
                         cell.h, cell.x, cell.y, cell.x + cell.w, cell.y + cell.h, ChessboardSize,
                         ChessboardBrushStyle, GradientEndColor, nullptr, wallPaperStyle_);

    cell.left = cell.x;
    cell.top = cell.y + upperGap_;
    bool pictured = false;
    if (E->ImageItem && !E->CacheItem)
        pictured = DrawThumbnailFromImage(Bitmap, E, cell);
    else if (E->CacheItem)
        pictured = DrawThumbnailFromCache(Bitmap, E, cell);
    if (pictured)
        DrawPictureSurround(C, E, cell);
    if (EnableCaptions)
        DrawCaptions(C, E, cell.x, cell.y, cell.w, cell.h, Selected);
    if (style_ == pxmsACD)
        DrawCellFrames3D(C, E, cell);
    if (OnImageDraw)
        OnImageDraw(this, Index, cell.x, cell.y, C);
    if (OnImageDraw2)
        OnImageDraw2(this, Index, cell.x, cell.y, RECT{cell.left, cell.top, cell.left + cell.dw, cell.top + cell.dh},
                     C);
    if (thumbnailsBorderWidth_ > 0)
        DrawThumbnailBorder(C, cell);
    if (Selected && selectionStyle_ != pxssACD && !OnBeforeImageDrawEx && !cell.framed)
        DrawThumbnailSelection(C, cell);
}

void TImgMView::PlaceThumbnailCell(classlib::TBitmap* Bitmap, int Index, bool Selected, TThumbCell& Cell)
{
    // Frame pictures: the cell shows the frame, the thumbnail goes into its
    // inner rectangle.
    Cell.framed = thumbnailFrame_ && thumbnailFrameSelected_;
    if (Cell.framed) {
        TPxBitmap* frame = Selected ? thumbnailFrameSelected_.get() : thumbnailFrame_.get();
        if (!frame->IsEmpty() && Cell.w > 0 && Cell.h > 0) {
            GdiFlush();
            RenderToVclBitmap(*frame, Bitmap, nullptr, nullptr, nullptr, nullptr, Cell.x, Cell.y, Cell.w, Cell.h, 0, 0,
                              frame->GetWidth(), frame->GetHeight(), true, false, 255,
                              frame->GetWidth() == Cell.w && frame->GetHeight() == Cell.h ? rfNone : rfFastLinear,
                              true, 0);
        }
        Cell.x += ThumbnailFrameRect.left;
        Cell.y += ThumbnailFrameRect.top;
        Cell.w = ThumbnailFrameRect.right - ThumbnailFrameRect.left;
        Cell.h = ThumbnailFrameRect.bottom - ThumbnailFrameRect.top;
    }
    if (OnBeforeImageDrawEx) {
        RECT r{0, 0, Cell.w, Cell.h};
        OnBeforeImageDrawEx(this, Index, Cell.x, Cell.y, Bitmap, r);
        Cell.x += r.left;
        Cell.y += r.top;
        Cell.w = r.right - r.left;
        Cell.h = r.bottom - r.top;
    }
}

bool TImgMView::DrawThumbnailFromImage(classlib::TBitmap* Bitmap, TImgMViewEntry* E, TThumbCell& Cell)
{
    const int W = ilist_->GetImageWidth(E->ImageItem);
    const int H = ilist_->GetImageHeight(E->ImageItem);
    if (W < 1 || H <= 0 || Cell.w <= 0 || Cell.a <= 0)
        return false;
    if (EnlargeSmallImages || W > Cell.w || H > Cell.a)
        PxAspectFit(W, H, Cell.w, Cell.a, Cell.dw, Cell.dh);
    else {
        Cell.dw = W;
        Cell.dh = H;
    }
    const int dw = Cell.dw, dh = Cell.dh;
    Cell.left = Cell.x + std::abs(Cell.w - dw) / 2;
    Cell.top = Cell.y + upperGap_ + std::abs(Cell.a - dh) / 2;
    TPxBitmap* src = ilist_->GetBitmap(E->ImageItem);
    if (!src)
        return false;
    auto display = std::make_unique<TPxBitmap>();
    display->SetLocation(pxMemory);
    const bool reduce1 = src->GetPixelFormat() == px1g && (dw < W || dh < H);
    if (display->Allocate(dw, dh, src->GetPixelFormat()))
        PxResampleBitmap(src, display.get(), reduce1 ? rfFastLinear : ThumbnailDisplayFilter);
    ilist_->ReleaseBitmap(src, false);
    if (RoundCornersDivisor > 0 && !display->IsEmpty()) {
        const int r = std::min(Cell.w, Cell.h) / RoundCornersDivisor;
        PxRoundCorners(display.get(), r, r, 0, 0, 0);
    }
    E->ImageRect = RECT{0, 0, dw, dh};
    if (SoftShadow.Enabled && !display->IsEmpty())
        display = AddThumbnailShadow(std::move(display), E);
    if (display->IsEmpty())
        return false;
    RenderToVclBitmap(*display, Bitmap, nullptr, nullptr, nullptr, nullptr, Cell.left, Cell.top, dw, dh, 0, 0, dw, dh,
                      enableAlphaChannel_, false, 255, rfNone, true, 0);
    if (CacheDisplayCopies) {
        E->CacheItem = icache_->AddBitmap(display.get());
        if (E->CacheItem) {
            E->CacheItem->SourceWidth = E->ImageItem->SourceWidth;
            E->CacheItem->SourceHeight = E->ImageItem->SourceHeight;
        }
    }
    return true;
}

bool TImgMView::DrawThumbnailFromCache(classlib::TBitmap* Bitmap, TImgMViewEntry* E, TThumbCell& Cell)
{
    TPxBitmap* copy = icache_->GetBitmap(E->CacheItem);
    if (!copy)
        return false;
    Cell.dw = copy->GetWidth();
    Cell.dh = copy->GetHeight();
    Cell.left = Cell.x + std::abs(Cell.w - Cell.dw) / 2;
    Cell.top = Cell.y + upperGap_ + std::abs(Cell.a - Cell.dh) / 2;
    // The same alpha rule as the first drawing of the copy.
    RenderToVclBitmap(*copy, Bitmap, nullptr, nullptr, nullptr, nullptr, Cell.left, Cell.top, Cell.dw, Cell.dh, 0, 0,
                      Cell.dw, Cell.dh, enableAlphaChannel_, false, 255, rfNone, true, 0);
    icache_->ReleaseBitmap(copy, false);
    return true;
}

void TImgMView::DrawPictureSurround(classlib::TCanvas* C, TImgMViewEntry* E, const TThumbCell& Cell)
{
    const int x = Cell.x, y = Cell.y, w = Cell.w, h = Cell.h;
    const int left = Cell.left, top = Cell.top, dw = Cell.dw, dh = Cell.dh;
    if (thumbnailsInternalBorder_) {
        C->GetPen()->SetColor(thumbnailsInternalBorderColor_);
        C->GetPen()->SetWidth(1);
        C->GetBrush()->SetStyle(classlib::bsClear);
        C->Rectangle(E->ImageRect.left + left, E->ImageRect.top + top, E->ImageRect.right + left,
                     E->ImageRect.bottom + top);
    }
    if (fillThumbnail_) {
        FillSolid(C, RECT{x, y, left, y + h}, Cell.c);
        FillSolid(C, RECT{left + dw, y, x + w, y + h}, Cell.c);
        FillSolid(C, RECT{left, y, left + dw, top}, Cell.c);
        FillSolid(C, RECT{left, top + dh, left + dw, y + h}, Cell.c);
    }
}

void TImgMView::DrawCellFrames3D(classlib::TCanvas* C, TImgMViewEntry* E, const TThumbCell& Cell)
{
    const int x = Cell.x, y = Cell.y, w = Cell.w, h = Cell.h;
    const bool info = EnableCaptions && !E->InfoText->Caption.empty();
    int b = 0;
    if (info) {
        C->SetFont(E->InfoText->GetFont());
        b = C->TextHeight(E->InfoText->Caption) + 3;
    }
    if (bottomGap_ + upperGap_ > 0 || (EnableCaptions && !E->BottomText->Caption.empty()))
        PxDrawFrame3D(C, x, y, x + w - 1, y + h - b - 1, classlib::clBlack, classlib::clWhite);
    if (info)
        PxDrawFrame3D(C, x, y + h - b, x + w - 1, y + h - 1, classlib::clBlack, classlib::clWhite);
}

void TImgMView::DrawThumbnailBorder(classlib::TCanvas* C, const TThumbCell& Cell)
{
    const int x = Cell.x, y = Cell.y, w = Cell.w, h = Cell.h;
    C->GetPen()->SetWidth(1);
    C->GetPen()->SetColor(thumbnailsBorderColor_);
    C->GetBrush()->SetStyle(classlib::bsClear);
    for (int i = 1; i <= thumbnailsBorderWidth_; ++i) {
        if (RoundCornersDivisor > 0) {
            const int r = std::min(w, h) / RoundCornersDivisor;
            C->RoundRect(x - i, y - i, x + w + i, y + h + i, r, r);
        } else {
            C->Rectangle(x - i, y - i, x + w + i, y + h + i);
        }
    }
}

void TImgMView::DrawThumbnailSelection(classlib::TCanvas* C, const TThumbCell& Cell)
{
    const int x = Cell.x, y = Cell.y, w = Cell.w, h = Cell.h;
    const int width = Focused() ? selectionWidth_ : SelectionWidthNoFocus;
    C->GetPen()->SetColor(selectionColor_);
    C->GetBrush()->SetStyle(classlib::bsClear);
    if (SelectionAntialiased && width > 0) {
        C->GetPen()->SetWidth(width);
        C->RoundRect(x, y, x + w, y + h, 4, 4);
    } else {
        C->GetPen()->SetWidth(1);
        for (int i = 1; i <= width; ++i)
            C->Rectangle(x - i, y - i, x + w + i, y + h + i);
    }
    C->GetPen()->SetWidth(1);
}

std::unique_ptr<TPxBitmap> TImgMView::AddThumbnailShadow(std::unique_ptr<TPxBitmap> Display, TImgMViewEntry* E)
{
    const int dw = Display->GetWidth();
    const int dh = Display->GetHeight();
    if (Display->GetPixelFormat() != px24RGB)
        Display->SetPixelFormat(px24RGB);
    PxAddSoftShadow(Display.get(), SoftShadow.OffsetX, SoftShadow.OffsetY, SoftShadow.Radius, SoftShadow.Intensity,
                    true, PxColorToRGB(SoftShadow.ShadowColor), TPxProgressEvent(), nullptr);
    const int gw = Display->GetWidth();
    const int gh = Display->GetHeight();
    if (gw <= 0 || gh <= 0)
        return Display;
    // Picture and shadow together fit the display size again.
    auto back = std::make_unique<TPxBitmap>();
    back->SetLocation(pxMemory);
    if (!back->Allocate(dw, dh, px24RGB))
        return Display;
    PxResampleBitmap(Display.get(), back.get(), rfTriangle);
    const double mx = (gw - dw) / 2.0;
    const double my = (gh - dh) / 2.0;
    E->ImageRect = RECT{static_cast<LONG>(mx * dw / gw), static_cast<LONG>(my * dh / gh),
                        static_cast<LONG>((mx + dw - 1) * dw / gw) + 1, static_cast<LONG>((my + dh - 1) * dh / gh) + 1};
    return back;
}

void TImgMView::DoWrongImage(TPxBitmap* Bitmap, int Index)
{
    if (!Bitmap)
        return;
    if (OnWrongImage) {
        Bitmap->Allocate(thumbWidth_, thumbHeight_, px24RGB);
        bool handled = false;
        OnWrongImage(this, Bitmap, Index, handled);
        if (handled)
            return;
    }
    const int bw = 2 * thumbWidth_;
    const int bh = 2 * thumbHeight_;
    if (bw <= 0 || bh <= 0)
        return;
    classlib::TBitmap dib;
    dib.SetPixelFormat(classlib::pf24bit);
    dib.SetSize(bw, bh);
    classlib::TCanvas* C = dib.GetCanvas();
    C->GetBrush()->SetStyle(classlib::bsSolid);
    C->GetBrush()->SetColor(classlib::clWhite);
    C->FillRect(RECT{0, 0, bw, bh});
    C->GetFont()->SetName(L"Arial");
    C->GetFont()->SetColor(static_cast<classlib::TColor>(0xFF0000));
    C->GetFont()->SetSize(thumbHeight_ >= 80 ? 2 * (thumbHeight_ - 40) : 2 * (thumbHeight_ - 10));
    C->GetBrush()->SetStyle(classlib::bsClear);
    const SIZE ext = C->TextExtent(L"?");
    C->TextOut((bw - ext.cx) / 2, (bh - ext.cy) / 2, L"?");
    GdiFlush();
    if (!Bitmap->Allocate(bw, bh, px24RGB))
        return;
    Bitmap->RemoveAlphaChannel(false, 0);
    for (int row = 0; row < bh; ++row) {
        uint8_t* dst = Bitmap->GetScanline(row);
        const void* src = dib.GetScanLine(row);
        if (dst && src)
            std::memcpy(dst, src, static_cast<size_t>(bw) * 3);
    }
}

}  // namespace imaging
