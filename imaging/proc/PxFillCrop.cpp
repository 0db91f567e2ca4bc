#include "imaging/proc/PxFillCrop.h"

#include <algorithm>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/proc/PxConvert.h"
#include "imaging/proc/PxConvertRows.h"
#include "imaging/proc/PxEffects.h"

namespace imaging {

UINT PxRawClipboardFormat = 0;

void PxFillRectColor(TPxBitmap* Bitmap, int X1, int Y1, int X2, int Y2, TPxRGB Color,
                     const TPxProgressEvent& OnProgress, classlib::TObject* Sender)
{
    if (!Bitmap)
        return;
    const TPxPixelFormat format = Bitmap->GetPixelFormat();
    if (format != px24RGB && format != px1g)
        return;
    X1 = std::max(X1, 0);
    Y1 = std::max(Y1, 0);
    X2 = std::min(X2, Bitmap->GetWidth());
    Y2 = std::min(Y2, Bitmap->GetHeight());
    if (X2 <= X1 || Y2 <= Y1)
        return;
    TPxAccessScope access(*Bitmap, pxAccessReadWrite);
    if (format == px1g) {
        const bool set = Color.r != 0;
        for (int y = Y1; y < Y2; ++y) {
            uint8_t* row = Bitmap->GetScanline(y);
            for (int x = X1; x < X2; ++x)
                PxSetBit(row, x, set);
        }
        return;
    }
    // Y2 - 1 is the last row filled.
    const double rows = (Y2 - 1 - Y1) + 0.5;
    for (int y = Y1; y < Y2; ++y) {
        auto* row = reinterpret_cast<TPxRGB*>(Bitmap->GetScanline(y));
        std::fill(row + X1, row + X2, Color);
        if (OnProgress)
            OnProgress(Sender, std::min(100, static_cast<int>((y - Y1 + 1) * 100 / rows)));
    }
}

void PxAlphaBoundingBox(TPxBitmap* Bitmap, RECT& Rect)
{
    const int w = Bitmap ? Bitmap->GetWidth() : 0;
    const int h = Bitmap ? Bitmap->GetHeight() : 0;
    Rect = {0, 0, w - 1, h - 1};
    if (!Bitmap || !Bitmap->HasAlphaChannel())
        return;
    TPxBitmap* alpha = Bitmap->GetAlphaChannel();
    const int aw = std::min(w, alpha->GetWidth());
    const int ah = std::min(h, alpha->GetHeight());
    int left = w, top = h, right = -1, bottom = -1;
    TPxAccessScope access(*alpha, pxAccessRead);
    for (int y = 0; y < ah; ++y) {
        const uint8_t* row = alpha->GetScanline(y);
        int first = -1, last = -1;
        for (int x = 0; x < aw; ++x) {
            if (row[x] != 0) {
                if (first < 0)
                    first = x;
                last = x;
            }
        }
        if (first < 0)
            continue;
        left = std::min(left, first);
        right = std::max(right, last);
        if (top == h)
            top = y;
        bottom = y;
    }
    Rect = {left, top, right, bottom};
}

void PxProcUnitStartup()
{
    PxBuildBitExpansion();
    // The processing object converts pixel formats through the image model's
    // service; make sure the conversion unit is linked and installed.
    PxInstallPixelFormatConversion();
    PxCreateFilter3x3List();
    PxRawClipboardFormat = RegisterClipboardFormatW(L"PXIMAGE RAW FORMAT");
}

void PxProcUnitShutdown() { PxFreeFilter3x3List(); }

}  // namespace imaging
