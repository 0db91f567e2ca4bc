#include "imaging/io/GifWriter.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "classlib/StringList.h"
#include "classlib/TextConv.h"
#include "imaging/io/IOParams.h"
#include "imaging/io/IOStartup.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/PxConvert.h"
#include "imaging/proc/PxConvertRows.h"
#include "imaging/proc/PxQuantizer.h"

namespace imaging {

namespace {

constexpr int kMaxSide = 65535;

void PutWord(std::vector<uint8_t>& Out, int32_t Value)
{
    const uint16_t v = static_cast<uint16_t>(std::clamp<int32_t>(Value, 0, kMaxSide));
    Out.push_back(static_cast<uint8_t>(v & 0xFF));
    Out.push_back(static_cast<uint8_t>(v >> 8));
}

}  // namespace

void PxWriteGIF(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    TPxAbortFlagScope abortScope(Progress);
    bool& aborting = *Progress.Aborting;
    Progress.Progress(0);
    if (aborting)
        return;

    const int32_t width = Bitmap->GetWidth();
    const int32_t height = Bitmap->GetHeight();
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) {
        aborting = true;  // a GIF cannot hold it
        return;
    }
    const bool hasAlpha = Bitmap->HasAlphaChannel();
    TPxBitmap* alpha = hasAlpha ? Bitmap->GetAlphaChannel() : nullptr;

    // Formats the quantizer does not read go through a px24RGB copy.
    TPxBitmap* source = Bitmap;
    std::unique_ptr<TPxBitmap> converted;
    const TPxPixelFormat sourceFormat = Bitmap->GetPixelFormat();
    if (sourceFormat != px1g && sourceFormat != px8p && sourceFormat != px24RGB) {
        converted = std::make_unique<TPxBitmap>();
        converted->Assign(Bitmap);
        converted->SetPixelFormat(px24RGB);
        source = converted.get();
    }

    // Colour bits and the working image.
    int bits;
    TPxBitmap* work = source;
    std::unique_ptr<TPxBitmap> workCopy;
    if (Params.BitsPerSample == 1) {
        bits = 1;
        if (source->GetPixelFormat() != px1g) {
            TPxRGB c0{}, c1{};
            workCopy = PxBilevelFromTwoColors(source, c0, c1);
            if (!workCopy) {
                workCopy = std::make_unique<TPxBitmap>();
                if (workCopy->Allocate(width, height, px1g))
                    PxConvertPixelsFrom(*workCopy, *source);
            }
            work = workCopy.get();
        }
        if (hasAlpha)
            bits = 2;  // black, white and the transparent entry
    } else {
        bits = (Params.BitsPerSample >= 2 && Params.BitsPerSample <= 8) ? Params.BitsPerSample : 8;
        if (source->GetPixelFormat() == px1g) {
            workCopy = std::make_unique<TPxBitmap>();
            workCopy->Assign(source);
            workCopy->SetPixelFormat(px24RGB);
            work = workCopy.get();
        }
    }
    if (work->GetWidth() != width || work->GetHeight() != height) {
        aborting = true;  // the working image could not be made
        return;
    }

    int colors = 1 << bits;
    if (hasAlpha) {
        colors -= 1;
        Params.GIFTransparent = true;
    }

    std::vector<uint8_t> indexes;
    try {
        indexes.assign(static_cast<size_t>(width) * static_cast<size_t>(height) + 9, 0);
    } catch (const std::bad_alloc&) {
        aborting = true;
        return;
    }

    std::array<TPxRGB, 256> table{};
    std::unique_ptr<TPxQuantizer> quantizer;
    const TPxPixelFormat workFormat = work->GetPixelFormat();
    {
        TPxAccessScope access(*work, pxAccessRead);
        if (workFormat == px1g) {
            table[0] = TPxRGB{0, 0, 0};
            table[1] = TPxRGB{255, 255, 255};
            for (int32_t y = 0; y < height; ++y) {
                const uint8_t* row = work->GetScanline(y);
                uint8_t* out = indexes.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
                for (int32_t x = 0; x < width; ++x)
                    out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
            }
        } else {
            quantizer = std::make_unique<TPxQuantizer>(*work, std::span<TPxRGB>(table), 255, colors);
            for (int32_t y = 0; y < height; ++y) {
                const uint8_t* row = work->GetScanline(y);
                uint8_t* out = indexes.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
                for (int32_t x = 0; x < width; ++x) {
                    if (workFormat == px8p) {
                        const uint8_t own = row[x];
                        // An index beyond the table (fewer bits than the
                        // image's palette, or the transparent entry) is
                        // mapped through its colour.
                        out[x] = own < colors ? own
                                              : static_cast<uint8_t>(quantizer->ColorIndex(work->GetPaletteEntry(own)));
                    } else {
                        out[x] = static_cast<uint8_t>(quantizer->ColorIndex(reinterpret_cast<const TPxRGB*>(row)[x]));
                    }
                }
            }
        }
    }
    if (alpha) {
        TPxAccessScope access(*alpha, pxAccessRead);
        for (int32_t y = 0; y < height; ++y) {
            const uint8_t* a = alpha->GetScanline(y);
            uint8_t* out = indexes.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
            for (int32_t x = 0; x < width; ++x)
                if (a[x] != 255)
                    out[x] = static_cast<uint8_t>(colors);
        }
    }

    auto indexOf = [&](const TPxRGB& Colour) -> int {
        if (workFormat == px24RGB && quantizer)
            return quantizer->ColorIndex(Colour);
        return PxNearestPaletteIndex(table.data(), colors, Colour);
    };
    const int background = indexOf(Params.GIFBackground);
    const int transparentIndex = hasAlpha ? colors : indexOf(Params.GIFTransparentColor);

    Progress.Progress(30);
    if (aborting)
        return;

    std::vector<uint8_t> head;
    std::string version = Params.GIFVersion;
    if (version.size() < 6 || version.compare(0, 3, "GIF") != 0)
        version = "GIF89a";
    head.insert(head.end(), version.begin(), version.begin() + 6);
    PutWord(head, width);
    PutWord(head, height);
    head.push_back(static_cast<uint8_t>((bits - 1) | ((bits - 1) << 4) | 0x80));
    head.push_back(static_cast<uint8_t>(background));
    head.push_back(0);
    for (int i = 0; i < (1 << bits); ++i) {
        const TPxRGB& c = table[static_cast<size_t>(i)];
        head.push_back(c.r);
        head.push_back(c.g);
        head.push_back(c.b);
    }
    head.push_back(0x21);
    head.push_back(0xF9);
    head.push_back(4);
    head.push_back(static_cast<uint8_t>((Params.GIFTransparent ? 1 : 0) | ((Params.GIFAction & 7) << 2)));
    PutWord(head, Params.GIFDelayTime);
    head.push_back(static_cast<uint8_t>(transparentIndex));
    head.push_back(0);
    head.push_back(0x2C);
    PutWord(head, Params.GIFXPos);
    PutWord(head, Params.GIFYPos);
    PutWord(head, width);
    PutWord(head, height);
    head.push_back(static_cast<uint8_t>(Params.GIFInterlaced ? 0x40 : 0));
    PxSafeStreamWrite(Stream, aborting, head.data(), static_cast<int64_t>(head.size()));

    Progress.Progress(70);
    if (aborting)
        return;

    TPxGIFLZWCompressProc encoder = Params.GIFLZWCompress ? Params.GIFLZWCompress : PxGlobalGIFLZWCompress;
    if (!encoder) {
        aborting = true;
        return;
    }
    encoder(Stream, height, width, Params.GIFInterlaced, indexes.data(), bits);
    quantizer.reset();
    workCopy.reset();
    converted.reset();
    indexes.clear();

    std::vector<uint8_t> tail{0x21, 0xFE};
    if (Params.GIFComments) {
        for (int i = 0; i < Params.GIFComments->GetCount(); ++i) {
            const std::string line = classlib::WideToAnsi(Params.GIFComments->GetStrings(i));
            // An empty line would end the extension: it is left out; a
            // line longer than a sub-block goes in several.
            for (size_t at = 0; at < line.size(); at += 255) {
                const size_t n = std::min<size_t>(255, line.size() - at);
                tail.push_back(static_cast<uint8_t>(n));
                tail.insert(tail.end(), line.begin() + static_cast<std::ptrdiff_t>(at),
                            line.begin() + static_cast<std::ptrdiff_t>(at + n));
            }
        }
    }
    tail.push_back(0);
    tail.push_back(0x3B);
    PxSafeStreamWrite(Stream, aborting, tail.data(), static_cast<int64_t>(tail.size()));
    Progress.Progress(100);
}

}  // namespace imaging
