#include "imaging/io/platform/MetafileImport.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <exception>

#include "classlib/Bitmap.h"
#include "classlib/Metafile.h"
#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxFileText.h"

namespace imaging {

namespace {

void FillParams(TIOParamsVals& Params, const classlib::TMetafile& Metafile, int Width, int Height)
{
    Params.FileName.clear();
    Params.FileFormat = Metafile.GetEnhanced() ? ffEMF : ffWMF;
    Params.BitsPerSample = 8;
    Params.SamplesPerPixel = 3;
    Params.Width = Params.OriginalWidth = Width;
    Params.Height = Params.OriginalHeight = Height;
    Params.DpiX = PxDefaultDpiX;
    Params.DpiY = PxDefaultDpiY;
    Params.FreeColorMap();
}

// A 24-bit DIB section of Width x Height filled with Colour, the picture
// drawn over it. Rows are read after GdiFlush.
void Render(classlib::TMetafile& Metafile, int Width, int Height, classlib::TColor Colour, classlib::TBitmap& Target)
{
    Target.SetPixelFormat(classlib::pf24bit);
    Target.SetSize(Width, Height);
    classlib::TCanvas* canvas = Target.GetCanvas();
    const RECT r{0, 0, Width, Height};
    canvas->GetBrush()->SetColor(Colour);
    canvas->GetBrush()->SetStyle(classlib::bsSolid);
    canvas->FillRect(r);
    Metafile.Draw(canvas, r);
    ::GdiFlush();
}

}  // namespace

void PxMetafileImportSize(int MetaWidth, int MetaHeight, int Width, int Height, int MaxSize, int& OutWidth,
                          int& OutHeight)
{
    int64_t w = MetaWidth, h = MetaHeight;
    if (Width >= 1 && Height >= 1) {
        w = Width;
        h = Height;
    } else if (Width < 0 && Height > 0) {
        w = h > 0 ? static_cast<int64_t>(Height) * w / h : w;
        h = Height;
    } else if (Height < 0 && Width > 0) {
        h = w > 0 ? h * Width / w : h;
        w = Width;
    }
    if (MaxSize > 0 && (w > MaxSize || h > MaxSize)) {
        if (w < h) {
            w = w * MaxSize / h;
            h = MaxSize;
        } else {
            h = h * MaxSize / w;
            w = MaxSize;
        }
    }
    // A very long and thin picture keeps at least one pixel across.
    OutWidth = static_cast<int>(std::max<int64_t>(w, 1));
    OutHeight = static_cast<int>(std::max<int64_t>(h, 1));
}

bool PxDrawMetafile(classlib::TMetafile& Metafile, int Width, int Height, bool WithAlpha,
                    classlib::TColor Background, TPxBitmap& Bitmap, TIOParamsVals& Params,
                    TPxIOProgressInfo& Progress)
{
    if (Metafile.GetEmpty() || Metafile.GetWidth() <= 0 || Metafile.GetHeight() <= 0) {
        Progress.Abort();
        return false;
    }
    if (Width == 0 || Height == 0)
        return false;
    int w = 0, h = 0;
    PxMetafileImportSize(Metafile.GetWidth(), Metafile.GetHeight(), Width, Height, PxMetafileMaxSize, w, h);

    classlib::TBitmap drawn;
    Render(Metafile, w, h, Background, drawn);
    Progress.Progress(WithAlpha ? 25 : 50);
    if (!Bitmap.Allocate(w, h, px24RGB) || Bitmap.GetWidth() != w || Bitmap.GetHeight() != h) {
        Progress.Abort();
        return false;
    }
    FillParams(Params, Metafile, w, h);
    {
        TPxAccessScope access(Bitmap, pxAccessWrite);
        for (int y = 0; y < h; ++y)
            std::memcpy(Bitmap.GetScanline(y), drawn.GetScanLine(y), static_cast<size_t>(w) * 3);
    }
    Bitmap.RemoveAlphaChannel(false, 0);
    if (WithAlpha) {
        classlib::TBitmap keyed;
        Render(Metafile, w, h, PxMetafileTransparentKey, keyed);
        Progress.Progress(75);
        TPxBitmap* alpha = Bitmap.GetAlphaChannel();
        TPxAccessScope access(*alpha, pxAccessReadWrite);
        for (int y = 0; y < h; ++y) {
            const uint8_t* src = static_cast<const uint8_t*>(keyed.GetScanLine(y));
            uint8_t* dst = alpha->GetScanline(y);
            for (int x = 0; x < w; ++x, src += 3)
                dst[x] = (src[0] == 1 && src[1] == 2 && src[2] == 3) ? 0 : 255;
        }
        alpha->CheckFullAlpha();
        Bitmap.FullAlpha = alpha->FullAlpha;
    }
    Progress.Progress(100);
    return true;
}

void PxReadMetafileParams(classlib::TStream* Stream, TIOParamsVals& Params)
{
    classlib::TMetafile metafile;
    metafile.LoadFromStream(Stream);
    FillParams(Params, metafile, metafile.GetWidth(), metafile.GetHeight());
}

void PxImportMetafile(TImgIO& IO, classlib::TMetafile& Metafile, int Width, int Height, bool WithAlpha)
{
    IO.AbortFlag = false;
    if (Metafile.GetEmpty() || Metafile.GetWidth() <= 0 || Metafile.GetHeight() <= 0) {
        IO.AbortFlag = true;
        return;
    }
    if (Width == 0 || Height == 0 || !IO.PrepareBitmap(0))
        return;
    IO.FileParams->ClearInfo();
    TPxIOProgressInfo info;
    info.Handler = IO.ProgressHandler;
    info.Sender = &IO;
    info.Aborting = &IO.AbortFlag;
    if (PxDrawMetafile(Metafile, Width, Height, WithAlpha, IO.GetBackground(), *IO.GetCurrentBitmap(),
                       *IO.FileParams, info))
        IO.UpdateViewDpi();
    IO.NotifyImageChanged();
}

void PxImportMetafileFromFile(TImgIO& IO, const std::wstring& FileName, int Width, int Height, bool WithAlpha)
{
    struct TFinish {
        TImgIO& io;
        int exceptions = std::uncaught_exceptions();
        ~TFinish() noexcept(false)
        {
            // During an exception a failing handler must not replace it.
            try {
                io.DoFinishWork();
            } catch (...) {
                if (std::uncaught_exceptions() == exceptions)
                    throw;
            }
        }
    } finish{IO};
    classlib::TMetafile metafile;
    {
        TPxWideFileStream file(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
        metafile.LoadFromStream(&file);
    }
    PxImportMetafile(IO, metafile, Width, Height, WithAlpha);
    if (!IO.AbortFlag && Width != 0 && Height != 0)
        IO.FileParams->FileName = FileName;
}

void PxImportReadMetafileParams(TImgIO& IO, classlib::TStream* Stream)
{
    PxReadMetafileParams(Stream, *IO.FileParams);
}

namespace {

void ReadMetafileRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
                     TPxIOProgressInfo& Progress)
{
    if (Preview || !Bitmap) {
        PxReadMetafileParams(Stream, Params);
        return;
    }
    classlib::TMetafile metafile;
    metafile.LoadFromStream(Stream);
    classlib::TColor background = classlib::clWhite;
    if (auto* io = dynamic_cast<TImgIO*>(Progress.Sender))
        background = io->GetBackground();
    PxDrawMetafile(metafile, -1, -1, true, background, *Bitmap, Params, Progress);
}

}  // namespace

void PxInstallMetafileFormats()
{
    PxSetBuiltInFormatReader(ffWMF, ReadMetafileRow);
    PxSetBuiltInFormatReader(ffEMF, ReadMetafileRow);
}

}  // namespace imaging
