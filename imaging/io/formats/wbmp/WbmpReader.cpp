#include "imaging/io/formats/wbmp/WbmpReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/io/formats/wbmp/WbmpWriter.h"
#include "imaging/model/PxBitmap.h"

namespace imaging {

namespace {

// One multi-byte integer of at most 4 bytes; false when the data end or a
// fourth byte still announces another.
bool ReadInteger(classlib::TStream* Stream, uint32_t& Value)
{
    Value = 0;
    for (int i = 0; i < 4; ++i) {
        uint8_t b = 0;
        if (Stream->Read(&b, 1) != 1)
            return false;
        Value = (Value << 7) | (b & 0x7F);
        if (!(b & 0x80))
            return true;
    }
    return false;
}

void ReadWBMPRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
                 TPxIOProgressInfo& Progress)
{
    try {
        PxReadWBMP(Stream, Bitmap, Params, Preview, Progress);
    } catch (...) {
        Progress.Abort();
    }
}

void WriteWBMPRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals&, TPxIOProgressInfo& Progress)
{
    PxWriteWBMP(Stream, Bitmap, Progress);
}

}  // namespace

void PxReadWBMP(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
                TPxIOProgressInfo& Progress)
{
    uint32_t type = 0, fixed = 0, width = 0, height = 0;
    if (!ReadInteger(Stream, type) || !ReadInteger(Stream, fixed) || !ReadInteger(Stream, width) ||
        !ReadInteger(Stream, height) || type != 0 || fixed != 0) {
        Progress.Fail(TPxReadFailure::BadHeader);
        return;
    }
    // Four bytes give at most 28 bits: the sizes fit an int. A short raster
    // still loads, an absurd header does not allocate.
    const int64_t rowBytes = (int64_t(width) + 7) / 8;
    if (!PxCheckRaster(width, height, 1, TPxCoding::RawShort, Stream->GetSize() - Stream->GetPosition(), Progress))
        return;
    Params.BitsPerSample = 1;
    Params.SamplesPerPixel = 1;
    Params.Width = Params.OriginalWidth = int32_t(width);
    Params.Height = Params.OriginalHeight = int32_t(height);
    Params.SetDpiX(PxDefaultDpiX);
    Params.SetDpiY(PxDefaultDpiY);
    Params.FreeColorMap();
    if (Preview)
        return;
    if (!Bitmap->Allocate(int(width), int(height), px1g)) {
        Progress.Fail(TPxReadFailure::OutOfMemory);
        return;
    }
    TPxAccessScope access(*Bitmap, pxAccessWrite);
    std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
    for (uint32_t y = 0; y < height; ++y) {
        std::fill(row.begin(), row.end(), 0);
        int64_t got = 0;
        while (got < rowBytes) {
            const int64_t n = Stream->Read(row.data() + got, rowBytes - got);
            if (n <= 0)
                break;
            got += n;
        }
        std::memcpy(Bitmap->GetScanline(int(y)), row.data(), row.size());
        Progress.Progress(int(int64_t(y) * 100 / height));
        if (Progress.Aborted())
            return;
    }
}

void PxInstallWBMPFormat()
{
    PxSetBuiltInFormatReader(ffWBMP, ReadWBMPRow);
    PxSetBuiltInFormatWriter(ffWBMP, WriteWBMPRow);
}

}  // namespace imaging
