// The operations of the processing object.
#include <cmath>
#include <cstdlib>
#include <memory>

#include "classlib/ScopeGuard.h"
#include "classlib/SysUtils.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxMask.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/proc/PxConvertRows.h"
#include "imaging/proc/PxFillCrop.h"
#include "imaging/proc/PxResample.h"
#include "imaging/proc/PxRotate.h"

namespace imaging {

namespace {

// The size asked for one side of ResampleTo: -1 proportional (given), 0 the
// source's, otherwise the absolute value; at least 1.
int ResolveSide(int Asked, int SourceSide, int64_t Proportional)
{
    int64_t side;
    if (Asked == -1)
        side = Proportional;
    else if (Asked == 0)
        side = SourceSide;
    else
        side = std::llabs(static_cast<int64_t>(Asked));
    if (side < 1)
        side = 1;
    if (side > 2147483647)
        side = 2147483647;
    return static_cast<int>(side);
}

}  // namespace

void TImgProc::RunRegion(TPxPixelFormatSet Allowed, const std::wstring& Caption,
                         const std::function<void(TPxBitmap* Work, int X1, int Y1, int X2, int Y2)>& Work)
{
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    TPxBitmap* work = nullptr;
    TPxMask* mask = nullptr;
    if (!BeginProcessing(Allowed, x1, y1, x2, y2, Caption, work, mask))
        return;
    try {
        Work(work, x1, y1, x2, y2);
    } catch (...) {
        if (work != bitmap_)
            delete work;
        throw;
    }
    EndProcessing(work, mask);
    DoFinishWork();
}

void TImgProc::FinishWhole()
{
    RefreshAttached();
    DoFinishWork();
}

// ---- whole-image frame around a library call

void TImgProc::ImageResize(int NewWidth, int NewHeight, uint8_t HorizAlign, uint8_t VertAlign, int Alpha)
{
    if (!PrepareBitmap(PxAnyFormat) || NewWidth <= 0 || NewHeight <= 0)
        return;
    const int w = bitmap_->GetWidth();
    const int h = bitmap_->GetHeight();
    if (NewWidth == w && NewHeight == h)
        return;
    if (AutoUndo)
        SaveUndoCaptioned(L"ImageResize " + classlib::IntToStr(NewWidth) + L"," + classlib::IntToStr(NewHeight),
                          pxuImage);
    if (w < 2 && h < 2)
        Clear();
    if (Alpha < 255)
        bitmap_->GetAlphaChannel();
    ResizeCanvas(*bitmap_, NewWidth, NewHeight, GetBackground(), Alpha, HorizAlign, VertAlign);
    FinishWhole();
}

void TImgProc::Clear()
{
    if (!PrepareBitmap(PxAnyFormat))
        return;
    if (AutoUndo)
        SaveUndoCaptioned(L"Clear", pxuImage);
    bitmap_->Fill(GetBackground());
    FinishWhole();
}

void TImgProc::Negative()
{
    RunRegion(PxAnyFormat, L"Negative", [this](TPxBitmap* Work, int X1, int Y1, int X2, int Y2) {
        PxNegativeRect(Work, X1, Y1, X2, Y2, this, OnProgress);
    });
}

// ---- colour reduction

void TImgProc::ConvertToGray()
{
    RunRegion(PxFormatBit(px24RGB), L"ConvertToGray", [this](TPxBitmap* Work, int X1, int Y1, int X2, int Y2) {
        PxConvertToGrayRect(Work, X1, Y1, X2, Y2, this, OnProgress);
    });
}

void TImgProc::ConvertTo(int NumColors, bool Threshold)
{
    // The conversion to px24RGB comes before the undo entry.
    if (!PrepareBitmap(PxFormatBit(px24RGB)))
        return;
    if (AutoUndo)
        SaveUndoCaptioned(L"ConvertTo " + classlib::IntToStr(NumColors), pxuImage);
    if (NumColors < 3) {
        TPxProgressRec progress{OnProgress, this, 0};
        if (Threshold)
            PxConvertToBWThreshold(bitmap_, -1, &progress);
        else
            PxConvertToBWOrdered(bitmap_, &progress);
    } else if (NumColors <= 1024) {
        PxQuantizeInPlace(bitmap_, NumColors, nullptr, this, OnProgress);
    }
    FinishWhole();
}

void TImgProc::ConvertToPalette(int NumColors, TPxRGB* Palette, bool Threshold)
{
    if (NumColors <= 0 || !PrepareBitmap(PxFormatBit(px24RGB)))
        return;
    if (AutoUndo)
        SaveUndoCaptioned(L"ConvertToPalette", pxuImage);
    if (NumColors < 3) {
        TPxProgressRec progress{OnProgress, this, 0};
        if (Threshold)
            PxConvertToBWThreshold(bitmap_, -1, &progress);
        else
            PxConvertToBWOrdered(bitmap_, &progress);
        if (Palette) {
            Palette[0] = TPxRGB{0, 0, 0};
            Palette[1] = TPxRGB{255, 255, 255};
        }
    } else if (NumColors <= 1024) {
        PxQuantizeInPlace(bitmap_, NumColors, Palette, this, OnProgress);
    }
    FinishWhole();
}

// ---- geometry

void TImgProc::Rotate(double Angle, bool AntiAlias, uint8_t Quality, classlib::TColor Colour)
{
    if (Angle == 0 || !std::isfinite(Angle) || !PrepareBitmap(PxAnyFormat))
        return;
    if (AutoUndo)
        SaveUndoCaptioned(L"Rotate " + classlib::FloatToStr(Angle), pxuImage);
    if (Colour == -1)
        Colour = GetBackground();
    PxRotateImage(bitmap_, Angle, AntiAlias, Quality, Colour, this, OnProgress);
    FinishWhole();
}

void TImgProc::ResampleTo(TPxBitmap* Dest, int NewWidth, int NewHeight, TResampleFilter Filter)
{
    if (!Dest || Dest == bitmap_ || !PrepareBitmap(PxAnyFormat))
        return;
    const int w = bitmap_->GetWidth();
    const int h = bitmap_->GetHeight();
    if (w == 0 || h == 0 || (NewWidth < 0 && NewHeight < 0))
        return;
    const int width = ResolveSide(NewWidth, w, static_cast<int64_t>(w) * NewHeight / h);
    const int height = ResolveSide(NewHeight, h, static_cast<int64_t>(h) * width / w);
    if (!Dest->Allocate(width, height, bitmap_->GetPixelFormat()))
        return;
    PxResampleBitmap(bitmap_, Dest, Filter, this, OnProgress);
    DoFinishWork();
}

void TImgProc::Resample(int NewWidth, int NewHeight, TResampleFilter Filter)
{
    if (!PrepareBitmap(PxAnyFormat))
        return;
    const int w = bitmap_->GetWidth();
    const int h = bitmap_->GetHeight();
    // Both sides negative: ResampleTo refuses, so nothing may change here.
    if (w == 0 || h == 0 || (NewWidth == w && NewHeight == h) || (NewWidth < 0 && NewHeight < 0))
        return;
    if (AutoUndo)
        SaveUndoCaptioned(L"Resample " + classlib::IntToStr(NewWidth) + L"," + classlib::IntToStr(NewHeight),
                          pxuImage);
    TPxBitmap result;
    ResampleTo(&result, NewWidth, NewHeight, Filter);
    // A result whose storage could not be had leaves the image as it was.
    if (!result.IsEmpty())
        bitmap_->Assign(&result);
    FinishWhole();
}

// ---- fill and crop

void TImgProc::Fill(TPxRGB Color)
{
    RunRegion(PxFormatBit(px1g) | PxFormatBit(px24RGB), L"Fill",
              [this, Color](TPxBitmap* Work, int X1, int Y1, int X2, int Y2) {
                  PxFillRectColor(Work, X1, Y1, X2, Y2, Color, OnProgress, this);
              });
}

void TImgProc::Crop(int X1, int Y1, int X2, int Y2)
{
    if (!PrepareBitmap(PxAnyFormat))
        return;
    const int w = bitmap_->GetWidth();
    const int h = bitmap_->GetHeight();
    if (X1 == 0 && Y1 == 0 && X2 == w - 1 && Y2 == h - 1)
        return;
    // Only rectangles inside the image are cropped.
    if (X1 < 0 || Y1 < 0 || X2 < X1 || Y2 < Y1 || X2 >= w || Y2 >= h)
        return;
    if (AutoUndo)
        SaveUndoCaptioned(L"Crop", pxuImage);
    const int cw = X2 - X1 + 1;
    const int ch = Y2 - Y1 + 1;
    TPxBitmap cropped;
    if (!cropped.Allocate(cw, ch, bitmap_->GetPixelFormat()))
        return;
    bitmap_->CopyPaletteTo(&cropped);
    CopyRectTo(*bitmap_, &cropped, X1, Y1, 0, 0, cw, ch);
    if (!AssignImage(*bitmap_, &cropped))
        return;
    if (bitmap_->HasAlphaChannel()) {
        TPxBitmap* alpha = bitmap_->GetAlphaChannel();
        TPxBitmap* croppedAlpha = cropped.GetAlphaChannel();
        CopyRectTo(*alpha, croppedAlpha, X1, Y1, 0, 0, cw, ch);
        AssignImage(*alpha, croppedAlpha);
        alpha->CheckFullAlpha();
    }
    FinishWhole();
}

void TImgProc::CropRect(const RECT& Rect) { Crop(Rect.left, Rect.top, Rect.right, Rect.bottom); }

void TImgProc::CropToAlphaBounds()
{
    if (!PrepareBitmap(PxAnyFormat))
        return;
    RECT box;
    PxAlphaBoundingBox(bitmap_, box);
    // Nothing visible at all: the image is left as it is.
    if (box.left > box.right || box.top > box.bottom)
        return;
    classlib::TValueScope noUndo(AutoUndo, false);
    CropRect(box);
}

}  // namespace imaging
