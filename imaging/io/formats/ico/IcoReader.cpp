#include "imaging/io/formats/ico/IcoReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "imaging/io/formats/bmp/BmpReader.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIOCounters.h"
#include "imaging/io/formats/ico/IcoWriter.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxMask.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

namespace {

int32_t DpiFromMetres(int32_t PixelsPerMetre, int32_t Default)
{
    if (PixelsPerMetre < 1)
        return Default;
    return static_cast<int32_t>(classlib::Round(static_cast<double>(PixelsPerMetre) / 100.0 * 2.54));
}

struct TIconEntry {
    uint8_t Width = 0;
    uint8_t Height = 0;
    uint8_t ColorCount = 0;
    uint8_t Reserved = 0;
    uint16_t Planes = 0;    // cursor: hot spot x
    uint16_t BitCount = 0;  // cursor: hot spot y
    uint32_t Bytes = 0;
    uint32_t Offset = 0;
};

bool ReadEntry(classlib::TStream* Stream, TIconEntry& E)
{
    TPxByteReader in(*Stream);
    E.Width = in.U8();
    E.Height = in.U8();
    E.ColorCount = in.U8();
    E.Reserved = in.U8();
    E.Planes = in.U16();
    E.BitCount = in.U16();
    E.Bytes = in.U32();
    E.Offset = in.U32();
    return !in.Failed();
}

struct TDibHeader {
    int32_t Width = 0;
    int32_t Height = 0;
    uint16_t BitCount = 0;
    uint32_t Compression = 0;
    int32_t PpmX = 0;
    int32_t PpmY = 0;
};

// Reads the 40-byte bitmap header at P0 + Offset; false for a header that
// is not there, that starts a PNG stream, or whose compression is not plain
// rows (0) or bit fields (3): an entry's pixels are never coded otherwise.
bool ReadDibHeader(classlib::TStream* Stream, int64_t P0, uint32_t Offset, TDibHeader& H)
{
    if (Offset > Stream->GetSize() - P0 - 40)
        return false;
    Stream->SetPosition(P0 + Offset);
    uint8_t b[40];
    if (!PxReadExact(Stream, b, 40))
        return false;
    if (b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G')
        return false;
    H.Width = static_cast<int32_t>(PxLe32(b + 4));
    H.Height = static_cast<int32_t>(PxLe32(b + 8));
    H.BitCount = PxLe16(b + 14);
    H.Compression = PxLe32(b + 16);
    if (H.Compression != 0 && H.Compression != 3)
        return false;
    H.PpmX = static_cast<int32_t>(PxLe32(b + 24));
    H.PpmY = static_cast<int32_t>(PxLe32(b + 28));
    return true;
}

int64_t Remaining(classlib::TStream* Stream) { return Stream->GetSize() - Stream->GetPosition(); }

bool MaskBit(const uint8_t* Row, int x) { return (Row[x >> 3] >> (7 - (x & 7))) & 1; }

// Where the image is colour data read so far: the transparent pixels of the
// 1-bit mask rows become 0 in Mask (when given) and 255 elsewhere.
void ApplyMaskRows(const std::vector<uint8_t>& Rows, int64_t MaskRowSize, int Width, int Height, TPxMask* Mask)
{
    if (!Mask)
        return;
    for (int y = 0; y < Height; ++y) {
        const uint8_t* m = Rows.data() + static_cast<size_t>(y) * static_cast<size_t>(MaskRowSize);
        uint8_t* out = Mask->GetScanline(Height - 1 - y);
        for (int x = 0; x < Width; ++x)
            out[x] = MaskBit(m, x) ? 0 : 255;
    }
}

// The decoding of 1, 4 and 8-bit colour rows followed by their mask rows,
// shared by icons and cursors. The stream stands at the colour rows and
// holds them and the mask rows (checked by the caller).
bool DecodePaletted(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, int Width, int Height,
                    int Bits, const TPxRGB& Background, TPxMask* Mask)
{
    const int64_t rowSize = ((static_cast<int64_t>(Width) * Bits + 31) >> 5) * 4;
    const int64_t maskRowSize = ((static_cast<int64_t>(Width) + 31) >> 5) * 4;
    std::vector<uint8_t> colour(static_cast<size_t>(rowSize * Height));
    std::vector<uint8_t> maskRows(static_cast<size_t>(maskRowSize * Height));
    if (!PxReadExact(Stream, colour.data(), rowSize * Height) || !PxReadExact(Stream, maskRows.data(), maskRowSize * Height))
        return false;
    const bool white = Background == TPxRGB{255, 255, 255};
    const bool indexed = Bitmap->GetPixelFormat() == px8p;
    const TPxRGB* map = Params.ColorMap.get();
    const int mapCount = Params.ColorMapCount;
    TPxAccessScope access(*Bitmap, pxAccessWrite);
    for (int y = 0; y < Height; ++y) {
        const uint8_t* in = colour.data() + static_cast<size_t>(y) * static_cast<size_t>(rowSize);
        const uint8_t* m = maskRows.data() + static_cast<size_t>(y) * static_cast<size_t>(maskRowSize);
        const int row = Height - 1 - y;
        uint8_t* out = Bitmap->GetScanline(row);
        uint8_t* maskOut = Mask ? Mask->GetScanline(row) : nullptr;
        if (Bits == 1) {
            std::memcpy(out, in, static_cast<size_t>(std::min<int64_t>(rowSize, Bitmap->GetRowLen())));
            for (int x = 0; x < Width; ++x) {
                if (!MaskBit(m, x))
                    continue;
                if (maskOut)
                    maskOut[x] = 0;
                const bool bit = MaskBit(in, x);
                const uint8_t weight = static_cast<uint8_t>(0x80 >> (x & 7));
                // Transparent: the background; screen-inverting: its opposite.
                if (bit == white)
                    out[x >> 3] &= static_cast<uint8_t>(~weight);
                else
                    out[x >> 3] |= weight;
            }
            continue;
        }
        for (int x = 0; x < Width; ++x) {
            const uint8_t v = Bits == 8 ? in[x] : static_cast<uint8_t>((x & 1) ? (in[x >> 1] & 0x0F) : (in[x >> 1] >> 4));
            const bool transparent = MaskBit(m, x);
            if (indexed)
                out[x] = v;
            else
                reinterpret_cast<TPxRGB*>(out)[x] =
                    transparent ? Background : (v < mapCount ? map[v] : TPxRGB{0, 0, 0});
            if (transparent && maskOut)
                maskOut[x] = 0;
        }
    }
    return true;
}

void PrepareMask(std::unique_ptr<TPxMask>& Mask, int Width, int Height)
{
    if (!Mask)
        Mask = std::make_unique<TPxMask>();
    Mask->AllocateBits(Width, Height, 8);
    Mask->Fill(255);
    Mask->Full = false;
}

// Reads Count colour-table entries (blue, green, red, unused) into
// ColorMap; false when the stream does not hold them.
bool ReadColorTable(classlib::TStream* Stream, TIOParamsVals& Params, int Count)
{
    Params.FreeColorMap();
    if (Count <= 0)
        return true;
    std::vector<uint8_t> table(4 * static_cast<size_t>(Count));
    if (!PxReadExact(Stream, table.data(), 4 * static_cast<int64_t>(Count)))
        return false;
    Params.AllocColorMap(Count);
    for (int i = 0; i < Count; ++i)
        Params.ColorMap[i] = TPxRGB{table[4 * i], table[4 * i + 1], table[4 * i + 2]};
    return true;
}

class TIcoReader {
public:
    TIcoReader(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool IgnoreAlpha,
               std::unique_ptr<TPxMask>& Mask, TPxIOProgressInfo& Progress, bool Preview)
        : s_(Stream), bitmap_(Bitmap), p_(Params), ignoreAlpha_(IgnoreAlpha), mask_(Mask), progress_(Progress),
          preview_(Preview)
    {
    }

    void ReadIcon()
    {
        const int64_t p0 = s_->GetPosition();
        uint8_t header[6];
        if (!PxReadExact(s_, header, 6))
            return progress_.Abort();
        if (PxLe16(header) == 0x4D42) {
            s_->SetPosition(p0);
            PxReadBMP(s_, bitmap_, s_->GetSize() - p0, p_, progress_, preview_, false, mask_, ignoreAlpha_);
            return;
        }
        const int count = PxLe16(header + 4);
        // A directory of no image is damage; an index outside a directory
        // of images only reads nothing.
        if (count == 0)
            return progress_.Fail(TPxReadFailure::NoImage);
        if (p_.ICOImageIndex < 0 || p_.ICOImageIndex >= count)
            return;

        p_.ICOSizes.fill(TPxICOSize{});
        p_.ICOBitCounts.fill(0);
        std::vector<TIconEntry> entries;
        for (int i = 0; i < count; ++i) {
            TIconEntry e;
            if (!ReadEntry(s_, e))
                return progress_.Abort();
            entries.push_back(e);
            if (i < PxICOMaxImages && e.Width > 0 && e.Height > 0) {
                p_.ICOSizes[i] = TPxICOSize{e.Width, e.Height};
                p_.ICOBitCounts[i] = e.BitCount != 0 ? e.BitCount : e.ColorCount > 0 ? PxMaskTopBit(e.ColorCount) : 24;
            }
        }
        TIconEntry entry = entries.back();
        for (int i = 0; i < count; ++i)
            if (i == p_.ICOImageIndex && entries[i].Width > 0 && entries[i].Height > 0) {
                entry = entries[i];
                break;
            }

        TDibHeader h;
        if (!ReadDibHeader(s_, p0, entry.Offset, h))
            return progress_.Abort();
        p_.SetDpiX(DpiFromMetres(h.PpmX, PxDefaultDpiX));
        p_.SetDpiY(DpiFromMetres(h.PpmY, PxDefaultDpiY));

        int bits = h.BitCount != 0 ? h.BitCount : entry.BitCount;
        if (bits == 0) {
            if (entry.ColorCount == 0)
                return progress_.Abort();
            bits = PxMaskTopBit(entry.ColorCount);
        }
        const int colours = bits <= 8 ? 1 << bits : 0;
        p_.BitsPerSample = bits > 8 ? 8 : bits;
        p_.SamplesPerPixel = bits == 32 ? 4 : bits > 8 ? 3 : 1;

        int width = entry.Width != 0 ? entry.Width : h.Width;
        int height = entry.Height != 0 ? entry.Height : h.Height / 2;
        if (entry.Width > 0 && h.Width > 0 && entry.Width != h.Width && h.Width < 2048 && h.Height < 2048) {
            width = h.Width;
            height = h.Height / 2;
        }
        if (width <= 0 || height <= 0)
            return progress_.Abort();

        if (!ReadColorTable(s_, p_, colours))
            return progress_.Abort();
        p_.Width = p_.OriginalWidth = width;
        p_.Height = p_.OriginalHeight = height;
        if (preview_)
            return;

        const bool native = p_.NativePixelFormat;
        TPxPixelFormat format = bits == 1 ? px1g : px24RGB;
        if (native) {
            if (bits == 4 || bits == 8)
                format = px8p;
            else if (bits != 1 && bits != 24 && bits != 32)
                throw classlib::EInvalidGraphic(L"Unsupported pixel format");
        }
        const int64_t rowSize = ((static_cast<int64_t>(width) * bits + 31) >> 5) * 4;
        const int64_t maskRowSize = ((static_cast<int64_t>(width) + 31) >> 5) * 4;
        const bool decoded = bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32;
        // The rows the decoding reads must be there before anything is
        // allocated; bit counts that are not decoded keep icon sizes.
        if (!CheckImage(width, height, bits, decoded, format))
            return;
        if (!bitmap_->Allocate(width, height, format))
            return progress_.Fail(TPxReadFailure::OutOfMemory);
        if (format == px8p) {
            bitmap_->PaletteCapacity = colours;
            bitmap_->SetPaletteLen(colours);
            for (int i = 0; i < colours; ++i)
                bitmap_->SetPaletteEntry(i, i < p_.ColorMapCount ? p_.ColorMap[i] : TPxRGB{0, 0, 0});
        }
        if (!ignoreAlpha_)
            PrepareMask(mask_, width, height);
        TPxMask* mask = ignoreAlpha_ ? nullptr : mask_.get();

        if (bits <= 8 && decoded) {
            if (!DecodePaletted(s_, bitmap_, p_, width, height, bits, p_.ICOBackground, mask))
                return progress_.Abort();
        } else if (bits == 24 || bits == 32) {
            if (!DecodeTrueColour(width, height, bits, rowSize, maskRowSize, mask))
                return progress_.Abort();
        }
        progress_.Progress(100);

        if (!ignoreAlpha_) {
            mask_->CheckFull();
            if (mask_->Full)
                mask_.reset();
        }
    }

    void ReadCursor()
    {
        const int64_t p0 = s_->GetPosition();
        uint8_t header[6];
        if (!PxReadExact(s_, header, 6))
            return progress_.Abort();
        const int count = PxLe16(header + 4);
        // A directory of no image is damage; an index outside a directory
        // of images only reads nothing.
        if (count == 0)
            return progress_.Fail(TPxReadFailure::NoImage);
        if (p_.CURImageIndex < 0 || p_.CURImageIndex >= count)
            return;
        TIconEntry entry;
        for (int i = 0; i <= p_.CURImageIndex; ++i)
            if (!ReadEntry(s_, entry))
                return progress_.Abort();
        TDibHeader h;
        if (!ReadDibHeader(s_, p0, entry.Offset, h))
            return progress_.Abort();
        const int width = entry.Width != 0 ? entry.Width : h.Width;
        const int height = entry.Height != 0 ? entry.Height : h.Height / 2;
        if (width <= 0 || height <= 0)
            return progress_.Abort();
        p_.Width = p_.OriginalWidth = width;
        p_.Height = p_.OriginalHeight = height;
        p_.SamplesPerPixel = 1;
        p_.CURXHotSpot = entry.Planes;
        p_.CURYHotSpot = entry.BitCount;
        p_.SetDpiX(DpiFromMetres(h.PpmX, PxDefaultDpiX));
        p_.SetDpiY(DpiFromMetres(h.PpmY, PxDefaultDpiY));

        int bits = h.BitCount;
        if (bits == 0) {
            if (entry.ColorCount == 0)
                return progress_.Abort();
            bits = PxMaskTopBit(entry.ColorCount);
        }
        p_.BitsPerSample = bits;
        // Only 1, 4 and 8 bits carry a table (at most 256 entries).
        int colours = 0;
        if (bits <= 8)
            colours = entry.ColorCount > 0 ? (entry.ColorCount == 255 ? 256 : entry.ColorCount) : 1 << bits;
        if (!ReadColorTable(s_, p_, colours))
            return progress_.Abort();
        if (preview_)
            return;

        const bool decoded = bits == 1 || bits == 4 || bits == 8;
        const TPxPixelFormat format = bits == 1 ? px1g : px24RGB;
        if (!CheckImage(width, height, bits, decoded, format))
            return;
        // A 4- or 8-bit entry keeps its colours even with a two-entry table.
        if (!bitmap_->Allocate(width, height, format))
            return progress_.Fail(TPxReadFailure::OutOfMemory);
        if (!ignoreAlpha_)
            PrepareMask(mask_, width, height);
        if (decoded &&
            !DecodePaletted(s_, bitmap_, p_, width, height, bits, p_.CURBackground, ignoreAlpha_ ? nullptr : mask_.get()))
            return progress_.Abort();
        progress_.Progress(100);
    }

private:
    // The raster check of an entry: decoded bit counts need their colour
    // rows (and, up to 8 bits, the mask rows) in the stream; others keep
    // icon sizes.
    bool CheckImage(int Width, int Height, int Bits, bool Decoded, TPxPixelFormat Format)
    {
        if (!Decoded && (Width > 2048 || Height > 2048)) {
            progress_.Fail(TPxReadFailure::Unsupported);
            return false;
        }
        TPxRasterCheck check;
        check.Width = Width;
        check.Height = Height;
        check.CodedBits = Decoded ? Bits + (Bits <= 8 ? 1 : 0) : 1;
        check.StorageBits = PxPixelFormatBits[Format] + (ignoreAlpha_ ? 0 : 8);
        check.Coding = Decoded ? TPxCoding::Raw : TPxCoding::Unbounded;
        check.DataBytes = Remaining(s_);
        return PxCheckRaster(check, progress_);
    }

    bool DecodeTrueColour(int Width, int Height, int Bits, int64_t RowSize, int64_t MaskRowSize, TPxMask* Mask)
    {
        std::vector<uint8_t> in(static_cast<size_t>(RowSize));
        bool anyAlpha = false;
        {
            TPxAccessScope access(*bitmap_, pxAccessWrite);
            for (int y = 0; y < Height; ++y) {
                if (!PxReadExact(s_, in.data(), RowSize))
                    return false;
                const int row = Height - 1 - y;
                uint8_t* out = bitmap_->GetScanline(row);
                if (Bits == 24) {
                    std::memcpy(out, in.data(), 3 * static_cast<size_t>(Width));
                    continue;
                }
                uint8_t* m = Mask ? Mask->GetScanline(row) : nullptr;
                for (int x = 0; x < Width; ++x) {
                    std::memcpy(out + 3 * x, &in[4 * static_cast<size_t>(x)], 3);
                    const uint8_t a = in[4 * static_cast<size_t>(x) + 3];
                    anyAlpha = anyAlpha || a != 0;
                    if (m)
                        m[x] = a;
                }
            }
        }
        if (Mask && (Bits == 24 || !anyAlpha) && Remaining(s_) >= MaskRowSize * Height) {
            std::vector<uint8_t> rows(static_cast<size_t>(MaskRowSize * Height));
            if (!PxReadExact(s_, rows.data(), MaskRowSize * Height))
                return false;
            ApplyMaskRows(rows, MaskRowSize, Width, Height, Mask);
        }
        return true;
    }

    classlib::TStream* s_;
    TPxBitmap* bitmap_;
    TIOParamsVals& p_;
    bool ignoreAlpha_;
    std::unique_ptr<TPxMask>& mask_;
    TPxIOProgressInfo& progress_;
    bool preview_;
};

int32_t CountICOImagesInFile(const std::wstring& FileName) { return PxCountICOImagesInFile(FileName); }

template <bool Cursor>
void ReadIconRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
                 TPxIOProgressInfo& Progress)
{
    std::unique_ptr<TPxMask> mask;
    TIcoReader reader(Stream, Bitmap, Params, Preview, mask, Progress, Preview);
    if (Cursor)
        reader.ReadCursor();
    else
        reader.ReadIcon();
    if (mask) {
        Progress.Mask.Give(std::move(mask));
    }
}

void WriteIconRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    std::vector<TPxICOSize> sizes;
    std::vector<int32_t> bitCounts;
    for (int i = 0; i < PxICOMaxImages && Params.ICOSizes[i].Width > 0; ++i) {
        sizes.push_back(Params.ICOSizes[i]);
        bitCounts.push_back(Params.ICOBitCounts[i]);
    }
    PxWriteICO(Stream, Bitmap, Params, Progress, sizes, bitCounts);
}

}  // namespace

int32_t PxCountICOImages(classlib::TStream* Stream)
{
    const int64_t p0 = Stream->GetPosition();
    uint8_t header[6];
    const bool ok = PxReadExact(Stream, header, 6);
    Stream->SetPosition(p0);
    return ok ? PxLe16(header + 4) : 0;
}

int32_t PxCountICOImagesInFile(const std::wstring& FileName)
{
    classlib::TFileStream stream(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    return PxCountICOImages(&stream);
}

void PxReadICO(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool IgnoreAlpha,
               std::unique_ptr<TPxMask>& Mask, TPxIOProgressInfo& Progress, bool Preview)
{
    TIcoReader(Stream, Bitmap, Params, IgnoreAlpha, Mask, Progress, Preview).ReadIcon();
}

void PxReadCUR(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool IgnoreAlpha,
               std::unique_ptr<TPxMask>& Mask, TPxIOProgressInfo& Progress, bool Preview)
{
    TIcoReader(Stream, Bitmap, Params, IgnoreAlpha, Mask, Progress, Preview).ReadCursor();
}

void PxInstallICOFormat()
{
    PxSetBuiltInFormatReader(ffICO, ReadIconRow<false>);
    PxSetBuiltInFormatWriter(ffICO, WriteIconRow);
    PxSetBuiltInFormatReader(ffCUR, ReadIconRow<true>);
    PxSetFrameCounter(ffICO, CountICOImagesInFile);
}

}  // namespace imaging
