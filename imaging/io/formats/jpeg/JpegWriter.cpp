#include "imaging/io/formats/jpeg/JpegWriter.h"

#include <memory>

#include "classlib/SysUtils.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/formats/jpeg/JpegGlue.h"
#include "imaging/io/core/PxCmyk.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxJpegMarkers.h"
#include "imaging/proc/PxConvert.h"

namespace imaging {

namespace {

TPxJpegColorSpace FileColorSpace(uint8_t Value)
{
    switch (Value) {
    case 1: return TPxJpegColorSpace::Gray;
    case 2: return TPxJpegColorSpace::YCbCr;
    case 3: return TPxJpegColorSpace::CMYK;
    case 4: return TPxJpegColorSpace::YCCK;
    default: return TPxJpegColorSpace::RGB;
    }
}

}  // namespace

void PxWriteJPEG(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    if (!Stream || !Bitmap || Bitmap->IsEmpty() || Bitmap->GetWidth() <= 0 || Bitmap->GetHeight() <= 0) {
        Progress.Abort();
        return;
    }
    std::unique_ptr<TPxBitmap> converted;
    TPxBitmap* source = Bitmap;
    if (Bitmap->GetPixelFormat() != px24RGB) {
        converted = std::make_unique<TPxBitmap>();
        PxAssignBitmap(*converted, Bitmap);
        PxConvertToPixelFormat(*converted, px24RGB);
        if (converted->GetPixelFormat() != px24RGB || converted->IsEmpty()) {
            Progress.Abort();
            return;
        }
        source = converted.get();
    }

    TPxAbortFlagScope abortScope(Progress);
    bool* aborting = Progress.Aborting;

    TPxJpegEncodeSettings settings;
    settings.Width = source->GetWidth();
    settings.Height = source->GetHeight();
    settings.FileColorSpace = FileColorSpace(Params.JPEGColorSpace);
    settings.InputCMYK = settings.FileColorSpace == TPxJpegColorSpace::CMYK ||
                         settings.FileColorSpace == TPxJpegColorSpace::YCCK;
    settings.DensityUnit = 1;
    settings.XDensity = Params.DpiX != 0 ? Params.DpiX : PxDefaultDpiX;
    settings.YDensity = Params.DpiY != 0 ? Params.DpiY : PxDefaultDpiY;
    settings.DCTMethod = Params.JPEGDCTMethod;
    settings.OptimizeCoding = Params.JPEGOptimalHuffman;
    settings.Smoothing = Params.JPEGSmoothing;
    settings.Quality = Params.JPEGQuality;
    if (settings.FileColorSpace == TPxJpegColorSpace::YCbCr) {
        switch (Params.JPEGChromaSubsampling) {
        case 0: settings.LumaH = 2; settings.LumaV = 1; break;
        case 1: settings.LumaH = 2; settings.LumaV = 2; break;
        case 2: settings.LumaH = 1; settings.LumaV = 1; break;
        default: break;
        }
    }
    settings.WriteJFIF = settings.FileColorSpace == TPxJpegColorSpace::CMYK;
    settings.Progressive = Params.JPEGProgressive;

    TPxJpegEncoder encoder(aborting);
    encoder.SetDestination(Stream);
    encoder.Start(settings);

    if (TPxMarkerList* markers = Params.JPEGMarkers.get()) {
        markers->Sort();
        for (int i = 0; i < markers->GetCount(); ++i) {
            const uint8_t type = markers->GetMarkerType(i);
            const int32_t length = markers->GetMarkerLength(i);
            // The library writes its own Adobe marker; a payload too long
            // for one segment is never written (the list refuses those, this
            // guards the length field all the same).
            if (type == PxMarkerAPP14 || length < 0 || static_cast<uint32_t>(length) > PxJpegMaxMarkerPayload)
                continue;
            encoder.WriteMarker(type, markers->GetMarkerData(i), static_cast<uint32_t>(length));
        }
    }

    const int width = settings.Width;
    const int height = settings.Height;
    std::unique_ptr<uint8_t[]> buffer;
    if (settings.InputCMYK)
        buffer.reset(new uint8_t[static_cast<size_t>(width) * 4]);
    TPxConvertColorRowProc convert = PxConvertColorRowHook ? PxConvertColorRowHook : PxConvertColorRow;
    TPxAccessScope access(*source, pxAccessRead);
    int lastPercent = -1;
    for (int y = 0; y < height && !*aborting; ++y) {
        const uint8_t* row = source->GetScanline(y);
        if (settings.InputCMYK) {
            convert(row, pxRowBGR, buffer.get(), nullptr, width, pxRowCMYK);
            row = buffer.get();
        }
        // Blue, green, red rows go to the library as they are, also for an
        // RGB file (the library reorders them).
        encoder.WriteRow(row);
        if (Progress.Handler) {
            const int percent = static_cast<int>(classlib::Round((y + 1) * 100.0 / height));
            if (percent != lastPercent) {
                lastPercent = percent;
                Progress.Progress(percent);
            }
        }
    }
    if (!*aborting)
        encoder.Finish();
}

}  // namespace imaging
