#include "imaging/io/formats/gif/GifFrames.h"

#include <algorithm>
#include <memory>

#include "classlib/StringList.h"
#include "classlib/SysUtils.h"
#include "imaging/io/formats/gif/GifReader.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxMask.h"
#include "imaging/proc/PxRender.h"

namespace imaging {

namespace {

// A colour as the fill value of a px24RGB image (red in the low byte).
double FillValue(const TPxRGB& c)
{
    return static_cast<double>(c.r | (c.g << 8) | (c.b << 16));
}

}  // namespace

void PxReadGIFFrame(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
                    TPxIOProgressInfo& Progress)
{
    int32_t frames = 0;
    if (Preview) {
        std::unique_ptr<TPxMask> none;
        PxReadGIF(Stream, Bitmap, frames, Params, Progress, true, none, true);
        Progress.Count = frames;
        return;
    }

    bool localAbort = false;
    bool* aborting = Progress.Aborting ? Progress.Aborting : &localAbort;
    const int32_t requested = Params.GIFImageIndex;
    const int64_t start = Stream->GetPosition();

    // From the second frame on, progress is reported per frame here.
    TPxIOProgressInfo frameProgress = Progress;
    frameProgress.Aborting = aborting;
    if (requested >= 1)
        frameProgress.Handler = nullptr;

    // Every pass reads the whole stream and appends its comments: keep them
    // once.
    const int comments = Params.GIFComments ? Params.GIFComments->GetCount() : 0;

    TPxBitmap canvas;
    int32_t prevX = 0, prevY = 0, prevW = 0, prevH = 0;
    uint8_t prevAction = 0;

    for (int32_t i = 0;;) {
        TPxBitmap frame;
        Stream->SetPosition(start);
        Params.SetImageIndex(i);
        if (Params.GIFComments)
            while (Params.GIFComments->GetCount() > comments)
                Params.GIFComments->Delete(Params.GIFComments->GetCount() - 1);
        std::unique_ptr<TPxMask> mask;
        PxReadGIF(Stream, &frame, frames, Params, frameProgress, false, mask, false);
        const TPxPixelFormat format = frame.GetPixelFormat();
        const int32_t fw = frame.GetWidth();
        const int32_t fh = frame.GetHeight();
        const int32_t screenW = std::max(Params.GIFWinWidth, fw);
        const int32_t screenH = std::max(Params.GIFWinHeight, fh);
        if (mask) {
            CopyFromMask(*frame.GetAlphaChannel(), mask.get());
            mask.reset();
        }

        TPxBitmap* current = &frame;
        // The canvas takes the screen size of the header (and of the frames):
        // like a frame it must stay within what the file's data could cover,
        // with its alpha channel.
        if (frames > 1 && !*aborting && (canvas.GetWidth() < screenW || canvas.GetHeight() < screenH)) {
            TPxRasterCheck check;
            check.Width = std::max(canvas.GetWidth(), screenW);
            check.Height = std::max(canvas.GetHeight(), screenH);
            check.CodedBits = 8;
            check.StorageBits = 32;
            check.Coding = TPxCoding::Lzw;
            check.DataBytes = Stream->GetSize() - start;
            if (!PxCheckRaster(check, frameProgress))
                break;
        }
        if (frames > 1 && !*aborting) {
            const double background = FillValue(Params.GIFBackground);
            if (prevAction == 2 && !canvas.IsEmpty()) {
                canvas.FillRect(prevX, prevY, prevX + prevW - 1, prevY + prevH - 1, background);
                canvas.GetAlphaChannel()->FillRect(prevX, prevY, prevX + prevW - 1, prevY + prevH - 1, 0);
            }
            if (canvas.GetWidth() == 0) {
                if (!canvas.Allocate(screenW, screenH, px24RGB)) {
                    *aborting = true;
                    break;
                }
                canvas.Fill(background);
                canvas.GetAlphaChannel()->Fill(0);
            }
            if (canvas.GetPixelFormat() != px24RGB)
                canvas.SetPixelFormat(px24RGB);
            if (canvas.GetWidth() < screenW || canvas.GetHeight() < screenH)
                ResizeCanvas(canvas, std::max(canvas.GetWidth(), screenW), std::max(canvas.GetHeight(), screenH),
                             background, 255, 0, 0);
            if (fw > 0 && fh > 0) {
                RenderToBitmapSimple(frame, &canvas, Params.GIFXPos, Params.GIFYPos, fw, fh, 0, 0, fw, fh, 255, rfNone,
                                     0);
                MergeAlphaRectTo(frame, &canvas, 0, 0, Params.GIFXPos, Params.GIFYPos, fw, fh);
            }
            canvas.GetAlphaChannel()->FullAlpha = false;
            prevX = Params.GIFXPos;
            prevY = Params.GIFYPos;
            prevW = fw;
            prevH = fh;
            prevAction = Params.GIFAction;
            Params.GIFAction = 2;
            Params.GIFXPos = 0;
            Params.GIFYPos = 0;
            current = &canvas;
        }
        if (*aborting)
            break;
        if (frames > 0) {
            Bitmap->Assign(current);
            if (!Bitmap->IsEmpty() && Bitmap->GetPixelFormat() != format)
                Bitmap->SetPixelFormat(format);
        }
        if (frames > 0 && requested >= 1)
            Progress.Progress(static_cast<int>(classlib::Trunc(i * (100.0 / frames))));
        if (*aborting)
            break;
        const bool wasRequested = i == requested;
        ++i;
        if (i >= frames || wasRequested)
            break;
    }
    Params.SetImageIndex(requested);
    Progress.Count = frames;
}

}  // namespace imaging
