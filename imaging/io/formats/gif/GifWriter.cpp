#include "imaging/io/formats/gif/GifWriter.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "classlib/StringList.h"
#include "classlib/TextConv.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOStartup.h"
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

// The state one save shares between its steps.
struct TGifSave {
    int32_t Width = 0;
    int32_t Height = 0;
    bool HasAlpha = false;
    TPxBitmap* Alpha = nullptr;
    // Formats the quantizer does not read go through a px24RGB copy.
    std::unique_ptr<TPxBitmap> Converted;
    // The working image: the source, or a copy in the output's colour bits.
    std::unique_ptr<TPxBitmap> WorkCopy;
    TPxBitmap* Work = nullptr;
    TPxPixelFormat WorkFormat = px24RGB;
    int Bits = 8;
    int Colors = 256;  // entries for pixels; the transparent one follows
    std::vector<uint8_t> Indexes;
    std::array<TPxRGB, 256> Table{};
    std::unique_ptr<TPxQuantizer> Quantizer;
};

// The colour bits and the working image; false when the working image
// could not be made.
bool PrepareWorkImage(TGifSave& S, TPxBitmap* Bitmap, const TIOParamsVals& Params)
{
    TPxBitmap* source = Bitmap;
    const TPxPixelFormat sourceFormat = Bitmap->GetPixelFormat();
    if (sourceFormat != px1g && sourceFormat != px8p && sourceFormat != px24RGB) {
        S.Converted = std::make_unique<TPxBitmap>();
        S.Converted->Assign(Bitmap);
        S.Converted->SetPixelFormat(px24RGB);
        source = S.Converted.get();
    }

    S.Work = source;
    if (Params.BitsPerSample == 1) {
        S.Bits = 1;
        if (source->GetPixelFormat() != px1g) {
            TPxRGB c0{}, c1{};
            S.WorkCopy = PxBilevelFromTwoColors(source, c0, c1);
            if (!S.WorkCopy) {
                S.WorkCopy = std::make_unique<TPxBitmap>();
                if (S.WorkCopy->Allocate(S.Width, S.Height, px1g))
                    PxConvertPixelsFrom(*S.WorkCopy, *source);
            }
            S.Work = S.WorkCopy.get();
        }
        if (S.HasAlpha)
            S.Bits = 2;  // black, white and the transparent entry
    } else {
        S.Bits = (Params.BitsPerSample >= 2 && Params.BitsPerSample <= 8) ? Params.BitsPerSample : 8;
        if (source->GetPixelFormat() == px1g) {
            S.WorkCopy = std::make_unique<TPxBitmap>();
            S.WorkCopy->Assign(source);
            S.WorkCopy->SetPixelFormat(px24RGB);
            S.Work = S.WorkCopy.get();
        }
    }
    return S.Work->GetWidth() == S.Width && S.Work->GetHeight() == S.Height;
}

// The colour table and every pixel's index into it: bilevel images take
// black and white, others the quantizer's colours; pixels that are not
// opaque take the transparent entry.
void MapIndexes(TGifSave& S)
{
    const int32_t width = S.Width;
    TPxBitmap* work = S.Work;
    S.WorkFormat = work->GetPixelFormat();
    {
        TPxAccessScope access(*work, pxAccessRead);
        if (S.WorkFormat == px1g) {
            S.Table[0] = TPxRGB{0, 0, 0};
            S.Table[1] = TPxRGB{255, 255, 255};
            for (int32_t y = 0; y < S.Height; ++y) {
                const uint8_t* row = work->GetScanline(y);
                uint8_t* out = S.Indexes.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
                for (int32_t x = 0; x < width; ++x)
                    out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
            }
        } else {
            S.Quantizer = std::make_unique<TPxQuantizer>(*work, std::span<TPxRGB>(S.Table), 255, S.Colors);
            for (int32_t y = 0; y < S.Height; ++y) {
                const uint8_t* row = work->GetScanline(y);
                uint8_t* out = S.Indexes.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
                for (int32_t x = 0; x < width; ++x) {
                    if (S.WorkFormat == px8p) {
                        const uint8_t own = row[x];
                        // An index beyond the table (fewer bits than the
                        // image's palette, or the transparent entry) is
                        // mapped through its colour.
                        out[x] = own < S.Colors
                                     ? own
                                     : static_cast<uint8_t>(S.Quantizer->ColorIndex(work->GetPaletteEntry(own)));
                    } else {
                        out[x] =
                            static_cast<uint8_t>(S.Quantizer->ColorIndex(reinterpret_cast<const TPxRGB*>(row)[x]));
                    }
                }
            }
        }
    }
    if (S.Alpha) {
        TPxAccessScope access(*S.Alpha, pxAccessRead);
        for (int32_t y = 0; y < S.Height; ++y) {
            const uint8_t* a = S.Alpha->GetScanline(y);
            uint8_t* out = S.Indexes.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
            for (int32_t x = 0; x < width; ++x)
                if (a[x] != 255)
                    out[x] = static_cast<uint8_t>(S.Colors);
        }
    }
}

// The table entry for a colour: the quantizer's own choice for colour
// images, else the nearest entry.
int TableIndex(const TGifSave& S, const TPxRGB& Colour)
{
    if (S.WorkFormat == px24RGB && S.Quantizer)
        return S.Quantizer->ColorIndex(Colour);
    return PxNearestPaletteIndex(S.Table.data(), S.Colors, Colour);
}

// Everything before the image data: the signature, the screen descriptor
// with the global colour table, the graphic control extension and the
// image descriptor.
std::vector<uint8_t> HeadBlocks(const TGifSave& S, const TIOParamsVals& Params, int Background, int Transparent)
{
    std::vector<uint8_t> head;
    std::string version = Params.GIFVersion;
    if (version.size() < 6 || version.compare(0, 3, "GIF") != 0)
        version = "GIF89a";
    head.insert(head.end(), version.begin(), version.begin() + 6);
    PutWord(head, S.Width);
    PutWord(head, S.Height);
    head.push_back(static_cast<uint8_t>((S.Bits - 1) | ((S.Bits - 1) << 4) | 0x80));
    head.push_back(static_cast<uint8_t>(Background));
    head.push_back(0);
    for (int i = 0; i < (1 << S.Bits); ++i) {
        const TPxRGB& c = S.Table[static_cast<size_t>(i)];
        head.push_back(c.r);
        head.push_back(c.g);
        head.push_back(c.b);
    }
    head.push_back(0x21);
    head.push_back(0xF9);
    head.push_back(4);
    head.push_back(static_cast<uint8_t>((Params.GIFTransparent ? 1 : 0) | ((Params.GIFAction & 7) << 2)));
    PutWord(head, Params.GIFDelayTime);
    head.push_back(static_cast<uint8_t>(Transparent));
    head.push_back(0);
    head.push_back(0x2C);
    PutWord(head, Params.GIFXPos);
    PutWord(head, Params.GIFYPos);
    PutWord(head, S.Width);
    PutWord(head, S.Height);
    head.push_back(static_cast<uint8_t>(Params.GIFInterlaced ? 0x40 : 0));
    return head;
}

// The comment extension and the trailer.
std::vector<uint8_t> TailBlocks(const TIOParamsVals& Params)
{
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
    return tail;
}

}  // namespace

void PxWriteGIF(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    TPxAbortFlagScope abortScope(Progress);
    bool& aborting = *Progress.Aborting;
    Progress.Progress(0);
    if (aborting)
        return;

    TGifSave save;
    save.Width = Bitmap->GetWidth();
    save.Height = Bitmap->GetHeight();
    if (save.Width <= 0 || save.Height <= 0 || save.Width > kMaxSide || save.Height > kMaxSide) {
        aborting = true;  // a GIF cannot hold it
        return;
    }
    save.HasAlpha = Bitmap->HasAlphaChannel();
    save.Alpha = save.HasAlpha ? Bitmap->GetAlphaChannel() : nullptr;
    if (!PrepareWorkImage(save, Bitmap, Params)) {
        aborting = true;  // the working image could not be made
        return;
    }

    save.Colors = 1 << save.Bits;
    if (save.HasAlpha) {
        save.Colors -= 1;
        Params.GIFTransparent = true;
    }
    try {
        save.Indexes.assign(static_cast<size_t>(save.Width) * static_cast<size_t>(save.Height) + 9, 0);
    } catch (const std::bad_alloc&) {
        aborting = true;
        return;
    }
    MapIndexes(save);
    const int background = TableIndex(save, Params.GIFBackground);
    const int transparentIndex = save.HasAlpha ? save.Colors : TableIndex(save, Params.GIFTransparentColor);

    Progress.Progress(30);
    if (aborting)
        return;

    const std::vector<uint8_t> head = HeadBlocks(save, Params, background, transparentIndex);
    PxSafeStreamWrite(Stream, aborting, head.data(), static_cast<int64_t>(head.size()));

    Progress.Progress(70);
    if (aborting)
        return;

    TPxGIFLZWCompressProc encoder = Params.GIFLZWCompress ? Params.GIFLZWCompress : PxGlobalGIFLZWCompress;
    if (!encoder) {
        aborting = true;
        return;
    }
    encoder(Stream, save.Height, save.Width, Params.GIFInterlaced, save.Indexes.data(), save.Bits);
    save.Quantizer.reset();
    save.WorkCopy.reset();
    save.Converted.reset();
    save.Indexes.clear();

    const std::vector<uint8_t> tail = TailBlocks(Params);
    PxSafeStreamWrite(Stream, aborting, tail.data(), static_cast<int64_t>(tail.size()));
    Progress.Progress(100);
}

}  // namespace imaging
