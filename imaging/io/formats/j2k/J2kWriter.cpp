#include "imaging/io/formats/j2k/J2kWriter.h"

#include <memory>

#include "imaging/io/core/IOParams.h"
#include "imaging/io/formats/j2k/J2kGlue.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

namespace {

// True when Alpha holds a byte below 255 (the full-alpha flag is trusted
// when set).
bool HasTransparency(TPxBitmap* Alpha)
{
    if (Alpha->FullAlpha)
        return false;
    const int w = Alpha->GetWidth();
    const int h = Alpha->GetHeight();
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = Alpha->GetScanline(y);
        if (!row)
            return true;
        for (int x = 0; x < w; ++x)
            if (row[x] != 255)
                return true;
    }
    return false;
}

void WriteJPEG2000(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress,
                   int Format)
{
    if (Bitmap->IsEmpty() || (Format != 0 && Format != 1)) {
        Progress.Abort();
        return;
    }
    // Any other pixel format is written from a px24RGB copy.
    std::unique_ptr<TPxBitmap> copy;
    TPxBitmap* source = Bitmap;
    TPxPixelFormat pf = Bitmap->GetPixelFormat();
    if (pf != px24RGB && pf != px1g) {
        copy = std::make_unique<TPxBitmap>();
        copy->Assign(Bitmap);
        copy->SetPixelFormat(px24RGB);
        if (copy->GetPixelFormat() != px24RGB) {
            Progress.Abort();
            return;
        }
        source = copy.get();
        pf = px24RGB;
    }
    if (pf == px1g) {
        Params.BitsPerSample = 1;
        Params.J2000ColorSpace = 0;
    }
    if (Params.J2000ColorSpace > 2 || Params.BitsPerSample < 1 || Params.BitsPerSample > 16) {
        Progress.Abort();
        return;
    }
    const int width = source->GetWidth();
    const int height = source->GetHeight();
    const uint32_t maxval = (1u << Params.BitsPerSample) - 1;
    const bool grey = Params.J2000ColorSpace == 0;
    TPxBitmap* alpha = nullptr;
    if (!grey && Bitmap->HasAlphaChannel()) {
        alpha = Bitmap->GetAlphaChannel();
        if (alpha->GetWidth() != width || alpha->GetHeight() != height || !HasTransparency(alpha))
            alpha = nullptr;
    }
    const int count = grey ? 1 : (alpha ? 4 : 3);

    TJ2kImage image;
    if (!J2kCreateImage(image, count, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                        static_cast<uint32_t>(Params.BitsPerSample), grey ? j2kcsGray : j2kcsRGB, alpha != nullptr)) {
        Progress.Abort();
        return;
    }
    auto scale = [maxval](uint32_t v) { return static_cast<int32_t>(v * maxval / 255); };
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = source->GetScanline(y);
        if (!row) {
            Progress.Abort();
            return;
        }
        const auto uy = static_cast<uint32_t>(y);
        if (pf == px1g) {
            for (int x = 0; x < width; ++x)
                image.SetSample(0, static_cast<uint32_t>(x), uy, PxGetBit(row, x) ? 1 : 0);
        } else {
            const auto* px = reinterpret_cast<const TPxRGB*>(row);
            for (int x = 0; x < width; ++x) {
                const auto ux = static_cast<uint32_t>(x);
                const TPxRGB& p = px[x];
                if (grey) {
                    const int32_t g =
                        (p.r * PxGrayWeightR + p.g * PxGrayWeightG + p.b * PxGrayWeightB) / 100;
                    image.SetSample(0, ux, uy, scale(static_cast<uint32_t>(g)));
                } else {
                    image.SetSample(0, ux, uy, scale(p.r));
                    image.SetSample(1, ux, uy, scale(p.g));
                    image.SetSample(2, ux, uy, scale(p.b));
                }
            }
            if (alpha) {
                const uint8_t* a = alpha->GetScanline(y);
                if (!a) {
                    Progress.Abort();
                    return;
                }
                for (int x = 0; x < width; ++x)
                    image.SetSample(3, static_cast<uint32_t>(x), uy, scale(a[x]));
            }
        }
        if (Progress.Handler)
            Progress.Progress(static_cast<int>(static_cast<int64_t>(y) * 100 / height));
        if (Progress.Aborted())
            return;
    }

    TJ2kStreamUser user{Stream, 0};
    const TJ2kStreamProcs procs = J2kStreamProcs(user);
    if (!J2kEncode(image, Format == 0 ? j2kfJP2 : j2kfCodeStream, PxJ2KOptionText(Params), procs))
        Progress.Abort();
}

}  // namespace

std::string PxJ2KOptionText(const TIOParamsVals& Params)
{
    std::string text = "rate=" + PxFloatToStrDotA(Params.J2000Rate);
    if (Params.J2000ProgressionOrder == 0)
        text += " prg=lrcp";
    else if (Params.J2000ProgressionOrder == 1)
        text += " prg=rlcp";
    return text;
}

void PxWriteJPEG2000(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress,
                     int Format)
{
    try {
        if (!Stream || !Bitmap) {
            Progress.Abort();
            return;
        }
        WriteJPEG2000(Stream, Bitmap, Params, Progress, Format);
    } catch (...) {
        Progress.Abort();
    }
}

}  // namespace imaging
