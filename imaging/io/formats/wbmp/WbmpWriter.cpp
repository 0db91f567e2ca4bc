#include "imaging/io/formats/wbmp/WbmpWriter.h"

#include <algorithm>
#include <memory>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

void PxAppendWBMPInteger(std::vector<uint8_t>& Out, uint32_t Value)
{
    uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = uint8_t(Value & 0x7F);
        Value >>= 7;
    } while (Value != 0);
    while (n > 1)
        Out.push_back(uint8_t(groups[--n] | 0x80));
    Out.push_back(groups[0]);
}

void PxWriteWBMP(classlib::TStream* Stream, TPxBitmap* Bitmap, TPxIOProgressInfo& Progress)
{
    if (!Bitmap || Bitmap->IsEmpty()) {
        Progress.Abort();
        return;
    }
    // Always a copy: the cut below must not reach the caller's image.
    TPxBitmap work;
    work.Assign(Bitmap);
    work.SetPixelFormat(px1g);
    int width = work.GetWidth(), height = work.GetHeight();
    if (width > 255 || height > 255) {
        if (height < width) {
            height = std::max(1, int(int64_t(height) * 255 / width));
            width = 255;
        } else {
            width = std::max(1, int(int64_t(width) * 255 / height));
            height = 255;
        }
        ResizeCanvas(work, width, height, 0, 0, 0, 0);
    }
    std::vector<uint8_t> header;
    PxAppendWBMPInteger(header, 0);
    PxAppendWBMPInteger(header, 0);
    PxAppendWBMPInteger(header, uint32_t(width));
    PxAppendWBMPInteger(header, uint32_t(height));
    bool aborting = false;
    PxSafeStreamWrite(Stream, aborting, header.data(), int64_t(header.size()));
    TPxAccessScope access(work, pxAccessRead);
    const int64_t rowBytes = (int64_t(width) + 7) / 8;
    for (int y = 0; y < height && !aborting; ++y) {
        PxSafeStreamWrite(Stream, aborting, work.GetScanline(y), rowBytes);
        Progress.Progress(int(int64_t(y) * 100 / height));
        if (Progress.Aborted())
            break;
    }
    if (aborting)
        Progress.Abort();
}

}  // namespace imaging
