#include "imaging/io/formats/bmp/BmpReader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "classlib/SysUtils.h"
#include "imaging/io/formats/bmp/BmpWriter.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxMask.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/PxConvertRows.h"

namespace imaging {

namespace {

static_assert(sizeof(TPxRGB) == 3, "colour tables are read straight into TPxRGB arrays");

int32_t DpiFromMetres(int32_t PixelsPerMetre, int32_t Default)
{
    if (PixelsPerMetre <= 0)
        return Default;
    return static_cast<int32_t>(classlib::Round(static_cast<double>(PixelsPerMetre) / 100.0 * 2.54));
}

// A value moved right by Shift bits, or left when Shift is negative.
uint32_t ShiftRight(uint32_t Value, int Shift)
{
    if (Shift >= 32 || Shift <= -32)
        return 0;
    return Shift >= 0 ? Value >> Shift : Value << -Shift;
}

TPxRGB MapEntry(const TPxRGB* Map, int Count, int Index)
{
    return Map && Index < Count ? Map[Index] : TPxRGB{0, 0, 0};
}

// Reports the per-row progress of the row loops when it changed.
class TRowProgress {
public:
    TRowProgress(TPxIOProgressInfo& Progress, int Height) : progress_(Progress), height_(Height) {}
    // r: the file row about to be read (height - 1 first).
    void Before(int r)
    {
        const int per = static_cast<int>(classlib::Trunc(static_cast<double>(height_ - 1 - r) * 100 / height_));
        if (per != last_) {
            last_ = per;
            progress_.Progress(per);
        }
    }

private:
    TPxIOProgressInfo& progress_;
    int height_;
    int last_ = -1;
};

// The run-length decoding shared by the four decoders. Put(row, column,
// value) stores one pixel (column already inside the row).
template <bool Four, typename TPut>
void DecodeRLE(TPxBitmap* Bitmap, const uint8_t* Data, int64_t Length, int TopRow, TPxIOProgressInfo& Progress,
               TPut Put)
{
    const int width = Bitmap->GetWidth();
    const int height = Bitmap->GetHeight();
    if (width <= 0 || height <= 0 || !Data || Length <= 0)
        return;
    int r = height - 1;
    auto imageRow = [&](int FileRow) { return TopRow >= FileRow ? TopRow - FileRow : FileRow - TopRow; };
    if (imageRow(r) >= height)
        return;
    uint8_t* row = Bitmap->GetScanline(imageRow(r));
    int64_t column = 0;
    int64_t i = 0;
    // Pixels past the width are dropped: encoders code the row padding as
    // pixels, and writing them onto the last pixel would overwrite it.
    auto pixel = [&](uint8_t Value) {
        if (column < width)
            Put(row, static_cast<int>(column), Value);
        ++column;
    };
    // Moves to file row NewRow; false when that leaves the image.
    auto moveTo = [&](int NewRow) {
        if (NewRow < 0 || imageRow(NewRow) >= height)
            return false;
        if (NewRow != r) {
            r = NewRow;
            row = Bitmap->GetScanline(imageRow(r));
        }
        return true;
    };
    while (i < Length) {
        const uint8_t n = Data[i++];
        if (n > 0) {
            if (i >= Length)
                return;
            const uint8_t v = Data[i++];
            for (int k = 0; k < n; ++k)
                pixel(Four ? static_cast<uint8_t>((k & 1) ? (v & 0x0F) : (v >> 4)) : v);
            continue;
        }
        if (i >= Length)
            return;
        const uint8_t escape = Data[i++];
        if (escape == 0) {  // end of line
            if (r - 1 < 0 || !moveTo(r - 1))
                return;
            column = 0;
            Progress.Progress(static_cast<int>(classlib::Trunc(static_cast<double>(height - r) * 100 / height)));
            if (Progress.Aborted())
                return;
        } else if (escape == 1) {  // end of bitmap
            return;
        } else if (escape == 2) {  // delta
            if (Length - i < 2)
                return;
            const uint8_t dx = Data[i];
            const uint8_t dy = Data[i + 1];
            i += 2;
            column += dx;
            if (!moveTo(r - dy))
                return;
        } else {  // absolute run
            const int count = escape;
            const int64_t bytes = Four ? (count + 1) / 2 : count;
            for (int k = 0; k < count; ++k) {
                const int64_t at = i + (Four ? k / 2 : k);
                if (at >= Length)
                    return;
                const uint8_t v = Data[at];
                pixel(Four ? static_cast<uint8_t>((k & 1) ? (v & 0x0F) : (v >> 4)) : v);
            }
            i += bytes + (bytes & 1);
        }
    }
}

class TBmpReader {
public:
    TBmpReader(classlib::TStream* Stream, TPxBitmap* Bitmap, int64_t DataSize, TIOParamsVals& Params,
               TPxIOProgressInfo& Progress, bool Preview, bool NoFileHeader, std::unique_ptr<TPxMask>& Mask,
               bool IgnoreAlpha)
        : s_(Stream), bitmap_(Bitmap), dataSize_(DataSize), p_(Params), progress_(Progress), preview_(Preview),
          noFileHeader_(NoFileHeader), mask_(Mask), ignoreAlpha_(IgnoreAlpha)
    {
    }

    void Run()
    {
        if (!ReadHeaders())
            return Fail(TPxReadFailure::BadHeader);
        if (preview_)
            return;
        if (width_ == 0 || height_ == 0)
            return Fail(TPxReadFailure::NoImage);
        ReadPixels();
    }

private:
    void Fail(TPxReadFailure Why) { progress_.Fail(Why); }

    bool ReadHeaders()
    {
        p0_ = s_->GetPosition();
        streamSize_ = s_->GetSize();
        uint16_t type = 0x4D42;
        uint32_t fileSize = 0;
        uint32_t offset = 0;
        if (noFileHeader_) {
            fileSize = static_cast<uint32_t>(std::clamp<int64_t>(streamSize_ - p0_, 0, 0xFFFFFFFF));
        } else {
            uint8_t fh[14];
            if (!PxReadExact(s_, fh, 14))
                return false;
            type = PxLe16(fh);
            fileSize = PxLe32(fh + 2);
            offset = PxLe32(fh + 10);
        }
        // The file-size field is not trusted as the end of the data: writers
        // get it wrong (below the pixel offset, even), and the run-length
        // decoders stop at their end code anyway. Without a caller's size the
        // data run to the end of the stream. It only serves, with the image
        // data size, to tell a cut-off file (see ReadPixels).
        fileSize_ = fileSize;
        if (type != 0x4D42)
            return false;

        const int64_t headerPos = s_->GetPosition();
        uint8_t sizeField[4];
        if (!PxReadExact(s_, sizeField, 4))
            return false;
        const uint32_t headerSize = PxLe32(sizeField);
        s_->SetPosition(headerPos);
        p_.FreeColorMap();

        if (headerSize == 12) {
            uint8_t h[12];
            if (!PxReadExact(s_, h, 12))
                return false;
            p_.BMPVersion = 2;
            width_ = PxLe16(h + 4);
            height_ = PxLe16(h + 6);
            bits_ = PxLe16(h + 10);
            if (bits_ <= 8) {
                const int n = 1 << bits_;
                p_.AllocColorMap(n);
                if (!PxReadExact(s_, p_.ColorMap.get(), 3 * static_cast<int64_t>(n)))
                    return false;
            }
            p_.SetDpiX(PxDefaultDpiX);
            p_.SetDpiY(PxDefaultDpiY);
        } else {
            if (headerSize < 16 || headerSize > streamSize_ - headerPos)
                return false;
            uint8_t h[64] = {};
            const uint32_t n = std::min<uint32_t>(64, headerSize);
            if (!PxReadExact(s_, h, n))
                return false;
            s_->SetPosition(headerPos + headerSize);
            p_.BMPVersion = headerSize == 40 ? 1 : headerSize == 64 ? 3 : 0;
            width_ = PxLeS32(h + 4);
            int32_t height = PxLeS32(h + 8);
            bits_ = PxLe16(h + 14);
            compression_ = PxLe32(h + 16);
            imageDataSize_ = PxLe32(h + 20);
            if (width_ < 0 || height == std::numeric_limits<int32_t>::min())
                return false;
            if (height < 0) {
                topDown_ = true;
                height = -height;
            }
            height_ = height;
            p_.SetDpiX(DpiFromMetres(PxLeS32(h + 24), PxDefaultDpiX));
            p_.SetDpiY(DpiFromMetres(PxLeS32(h + 28), PxDefaultDpiY));
            uint32_t colorsUsed = PxLe32(h + 32);
            if (colorsUsed > 256)
                colorsUsed = 0;
            if (colorsUsed == 0 && bits_ <= 8)
                colorsUsed = 1u << bits_;
            if (colorsUsed > 0) {
                uint8_t table[1024];
                if (!PxReadExact(s_, table, 4 * static_cast<int64_t>(colorsUsed)))
                    return false;
                p_.AllocColorMap(static_cast<int32_t>(colorsUsed));
                for (uint32_t i = 0; i < colorsUsed; ++i)
                    p_.ColorMap[i] = TPxRGB{table[4 * i], table[4 * i + 1], table[4 * i + 2]};
            }
            if (compression_ == 3) {
                // Headers of 52 bytes and more (but not the 64-byte form,
                // whose further fields mean something else) hold the masks
                // themselves; shorter ones are followed by them.
                uint8_t m[12];
                if (headerSize >= 52 && headerSize != 64)
                    std::memcpy(m, h + 40, 12);
                else if (!PxReadExact(s_, m, 12))
                    return false;
                for (int i = 0; i < 3; ++i)
                    masks_[i] = PxLe32(m + 4 * i);
                haveMasks_ = true;
            }
        }

        p_.Width = p_.OriginalWidth = width_;
        p_.Height = p_.OriginalHeight = height_;
        p_.SetImageCount(1);
        if (compression_ == 0 || compression_ == 3)
            p_.BMPCompression = 0;
        else if (compression_ == 1 || compression_ == 2)
            p_.BMPCompression = 1;
        switch (bits_) {
        case 1: p_.BitsPerSample = 1; p_.SamplesPerPixel = 1; break;
        case 4: p_.BitsPerSample = 4; p_.SamplesPerPixel = 1; break;
        case 8: p_.BitsPerSample = 8; p_.SamplesPerPixel = 1; break;
        case 16: p_.BitsPerSample = 5; p_.SamplesPerPixel = 3; break;
        case 24: p_.BitsPerSample = 8; p_.SamplesPerPixel = 3; break;
        case 32: p_.BitsPerSample = 8; p_.SamplesPerPixel = 4; break;
        default: break;
        }

        if (offset > 0) {
            if (offset > streamSize_ - p0_)
                return false;
            s_->SetPosition(p0_ + offset);
        }
        dataPos_ = s_->GetPosition();
        const int64_t length = dataSize_ >= 1 ? dataSize_ - (dataPos_ - p0_) : streamSize_ - dataPos_;
        rleLength_ = std::clamp<int64_t>(length, 0, streamSize_ - dataPos_);
        return true;
    }

    enum TKind { kUnsupported, kRows, kRLE4, kRLE8 };

    TKind Kind() const
    {
        switch (bits_) {
        case 1: return compression_ == 0 ? kRows : kUnsupported;
        case 4: return compression_ == 0 ? kRows : compression_ == 2 ? kRLE4 : kUnsupported;
        case 8: return compression_ == 0 ? kRows : compression_ == 1 ? kRLE8 : kUnsupported;
        case 16:
        case 24:
        case 32: return compression_ == 0 || compression_ == 3 ? kRows : kUnsupported;
        default: return kUnsupported;
        }
    }

    void ReadPixels()
    {
        // 1-bit images whose table is not black and white keep their colours
        // as the 4- and 8-bit ones do.
        twoColours_ = bits_ == 1 && !BlackAndWhite();
        const bool native = (bits_ == 4 || bits_ == 8 || twoColours_) && p_.NativePixelFormat;
        const TPxPixelFormat format = bits_ == 1 && !twoColours_ ? px1g : native ? px8p : px24RGB;
        rowSize_ = ((static_cast<int64_t>(width_) * bits_ + 31) >> 5) * 4;
        const TKind kind = Kind();
        // A compression this depth does not use (or no decoder knows) has
        // no pixels to give.
        if (kind == kUnsupported)
            return Fail(TPxReadFailure::Unsupported);
        // Bit fields none of which selects a bit of the pixel give black
        // whatever the rows hold: damage, not a picture.
        const uint32_t pixelBits = bits_ >= 32 ? 0xFFFFFFFFu : (1u << bits_) - 1;
        if (haveMasks_ && compression_ == 3 && ((masks_[0] | masks_[1] | masks_[2]) & pixelBits) == 0)
            return Fail(TPxReadFailure::BadHeader);
        // Before allocating: uncompressed rows must be present; run-length
        // data may not claim more rows or columns than its codes could reach
        // (a code pair moves at most 255 pixels, and the end code ends all).
        TPxRasterCheck check;
        check.Width = width_;
        check.Height = height_;
        check.CodedBits = bits_;
        check.StorageBits = PxPixelFormatBits[format] + (bits_ == 32 && !ignoreAlpha_ ? 8 : 0);
        check.Coding = kind == kRows ? TPxCoding::Raw : TPxCoding::Unbounded;
        check.DataBytes = kind == kRows ? streamSize_ - dataPos_ : rleLength_;
        if (!PxCheckRaster(check, progress_))
            return;
        // Run-length data whose image data size and file size both reach
        // past the end of the stream: the file was cut off, and the codes
        // left cannot be told from the picture's (either field alone is too
        // often wrong in sound files to be trusted).
        if (kind != kRows && imageDataSize_ > 0 && imageDataSize_ > streamSize_ - dataPos_ &&
            fileSize_ > streamSize_ - p0_)
            return Fail(TPxReadFailure::Truncated);
        const int64_t reach = (rleLength_ / 2 + 1) * 255;
        if (kind != kRows && (width_ > reach || height_ > reach))
            return Fail(TPxReadFailure::MoreThanData);
        if (!bitmap_->Allocate(width_, height_, format))
            return Fail(TPxReadFailure::OutOfMemory);
        if (native) {
            const int capacity = 1 << bits_;
            bitmap_->PaletteCapacity = capacity;
            bitmap_->SetPaletteLen(capacity);
            for (int i = 0; i < capacity; ++i)
                bitmap_->SetPaletteEntry(i, MapEntry(p_.ColorMap.get(), p_.ColorMapCount, i));
        }
        switch (kind) {
        case kRows: ReadRows(native); break;
        case kRLE4:
        case kRLE8: ReadRLE(kind == kRLE4, native); break;
        case kUnsupported: break;
        }
    }

    int ImageRow(int FileRow) const { return topDown_ ? height_ - 1 - FileRow : FileRow; }

    void ReadRows(bool Native)
    {
        std::vector<uint8_t> buffer(static_cast<size_t>(rowSize_) + 32, 0);
        uint8_t* in = buffer.data();
        const TPxRGB* map = p_.ColorMap.get();
        const int mapCount = p_.ColorMapCount;
        bool alpha = bits_ == 32 && !ignoreAlpha_;
        bool anyAlpha = false;
        if (alpha) {
            if (!mask_)
                mask_ = std::make_unique<TPxMask>();
            mask_->AllocateBits(width_, height_, 8);
            mask_->Fill(255);
        }
        uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
        if (haveMasks_)
            std::copy(masks_, masks_ + 3, masks);
        const int rc = PxMaskBitCount(masks[0]);
        const int gc = PxMaskBitCount(masks[1]);
        const int bc = PxMaskBitCount(masks[2]);

        TRowProgress rowProgress(progress_, height_);
        {
            TPxAccessScope access(*bitmap_, pxAccessWrite);
            const int64_t copy = std::min<int64_t>(rowSize_, bitmap_->GetRowLen());
            for (int r = height_ - 1; r >= 0; --r) {
                rowProgress.Before(r);
                if (progress_.Aborted())
                    break;
                if (!PxReadExact(s_, in, rowSize_))
                    return Fail(TPxReadFailure::Truncated);
                const int y = ImageRow(r);
                uint8_t* out = bitmap_->GetScanline(y);
                switch (bits_) {
                case 1:
                    if (!twoColours_) {
                        std::memcpy(out, in, static_cast<size_t>(copy));
                        break;
                    }
                    for (int x = 0; x < width_; ++x) {
                        const uint8_t v = (in[x / 8] >> (7 - x % 8)) & 1;
                        if (Native)
                            out[x] = v;
                        else
                            reinterpret_cast<TPxRGB*>(out)[x] = MapEntry(map, mapCount, v);
                    }
                    break;
                case 24: std::memcpy(out, in, static_cast<size_t>(copy)); break;
                case 32: {
                    uint8_t* m = alpha ? mask_->GetScanline(y) : nullptr;
                    for (int x = 0; x < width_; ++x) {
                        std::memcpy(out + 3 * x, in + 4 * x, 3);
                        if (m) {
                            m[x] = in[4 * x + 3];
                            anyAlpha = anyAlpha || m[x] != 0;
                        }
                    }
                    break;
                }
                case 16:
                    for (int x = 0; x < width_; ++x) {
                        const uint32_t v = PxLe16(in + 2 * x);
                        out[3 * x + 2] = static_cast<uint8_t>(ShiftRight(v & masks[0], rc + gc + bc - 8) & 255);
                        out[3 * x + 1] = static_cast<uint8_t>(ShiftRight(v & masks[1], gc + bc - 8) & 255);
                        out[3 * x] = static_cast<uint8_t>(ShiftRight((v & 0xFF) & (masks[2] & 0xFF), bc - 8) & 255);
                    }
                    break;
                case 4:
                    for (int x = 0; x < width_; ++x) {
                        const uint8_t b = in[x / 2];
                        const uint8_t v = (x & 1) ? (b & 0x0F) : (b >> 4);
                        if (Native)
                            out[x] = v;
                        else
                            reinterpret_cast<TPxRGB*>(out)[x] = MapEntry(map, mapCount, v);
                    }
                    break;
                case 8:
                    if (Native)
                        std::memcpy(out, in, static_cast<size_t>(width_));
                    else
                        for (int x = 0; x < width_; ++x)
                            reinterpret_cast<TPxRGB*>(out)[x] = MapEntry(map, mapCount, in[x]);
                    break;
                default: break;
                }
            }
        }
        if (alpha) {
            mask_->CheckFull();
            if (!anyAlpha || mask_->Full)
                mask_.reset();
        }
        if (bits_ == 1 && !twoColours_ && p_.ColorMap[0] == kWhite)
            PxInvertBitmapBits(bitmap_);
    }

    // The 1-bit table is black and white in either order (px1g holds it).
    bool BlackAndWhite() const
    {
        if (p_.ColorMapCount != 2)
            return false;
        const TPxRGB a = p_.ColorMap[0], b = p_.ColorMap[1];
        return (a == kBlack && b == kWhite) || (a == kWhite && b == kBlack);
    }

    static constexpr TPxRGB kBlack{0, 0, 0};
    static constexpr TPxRGB kWhite{255, 255, 255};

    void ReadRLE(bool Four, bool Native)
    {
        std::vector<uint8_t> data(static_cast<size_t>(rleLength_));
        if (!PxReadExact(s_, data.data(), rleLength_))
            return Fail(TPxReadFailure::Truncated);
        // Pixels that the codes skip are index 0 (or black).
        bitmap_->Fill(0);
        const int topRow = topDown_ ? height_ - 1 : 0;
        const TPxRGB* map = p_.ColorMap.get();
        const int count = p_.ColorMapCount;
        if (Four) {
            if (Native)
                PxDecodeRLE4ToIndex(bitmap_, data.data(), rleLength_, topRow, progress_);
            else
                PxDecodeRLE4ToRGB(bitmap_, data.data(), rleLength_, topRow, progress_, map, count);
        } else {
            if (Native)
                PxDecodeRLE8ToIndex(bitmap_, data.data(), rleLength_, topRow, progress_);
            else
                PxDecodeRLE8ToRGB(bitmap_, data.data(), rleLength_, topRow, progress_, map, count);
        }
    }

    classlib::TStream* s_;
    TPxBitmap* bitmap_;
    int64_t dataSize_;
    TIOParamsVals& p_;
    TPxIOProgressInfo& progress_;
    bool preview_;
    bool noFileHeader_;
    std::unique_ptr<TPxMask>& mask_;
    bool ignoreAlpha_;

    int64_t p0_ = 0;
    int64_t streamSize_ = 0;
    int64_t dataPos_ = 0;
    int64_t rleLength_ = 0;
    int64_t rowSize_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int bits_ = 0;
    uint32_t compression_ = 0;
    bool twoColours_ = false;
    uint32_t imageDataSize_ = 0;
    uint32_t fileSize_ = 0;
    bool topDown_ = false;
    uint32_t masks_[3] = {};
    bool haveMasks_ = false;
};

}  // namespace

void PxReadBMP(classlib::TStream* Stream, TPxBitmap* Bitmap, int64_t DataSize, TIOParamsVals& Params,
               TPxIOProgressInfo& Progress, bool Preview, bool NoFileHeader, std::unique_ptr<TPxMask>& Mask,
               bool IgnoreAlpha)
{
    TBmpReader(Stream, Bitmap, DataSize, Params, Progress, Preview, NoFileHeader, Mask, IgnoreAlpha).Run();
}

void PxDecodeRLE4ToRGB(TPxBitmap* Bitmap, const uint8_t* Data, int64_t DataLength, int TopRow,
                       TPxIOProgressInfo& Progress, const TPxRGB* ColorMap, int ColorMapCount)
{
    DecodeRLE<true>(Bitmap, Data, DataLength, TopRow, Progress, [&](uint8_t* Row, int x, uint8_t v) {
        reinterpret_cast<TPxRGB*>(Row)[x] = MapEntry(ColorMap, ColorMapCount, v);
    });
}

void PxDecodeRLE4ToIndex(TPxBitmap* Bitmap, const uint8_t* Data, int64_t DataLength, int TopRow,
                         TPxIOProgressInfo& Progress)
{
    DecodeRLE<true>(Bitmap, Data, DataLength, TopRow, Progress, [](uint8_t* Row, int x, uint8_t v) { Row[x] = v; });
}

void PxDecodeRLE8ToRGB(TPxBitmap* Bitmap, const uint8_t* Data, int64_t DataLength, int TopRow,
                       TPxIOProgressInfo& Progress, const TPxRGB* ColorMap, int ColorMapCount)
{
    DecodeRLE<false>(Bitmap, Data, DataLength, TopRow, Progress, [&](uint8_t* Row, int x, uint8_t v) {
        reinterpret_cast<TPxRGB*>(Row)[x] = MapEntry(ColorMap, ColorMapCount, v);
    });
}

void PxDecodeRLE8ToIndex(TPxBitmap* Bitmap, const uint8_t* Data, int64_t DataLength, int TopRow,
                         TPxIOProgressInfo& Progress)
{
    DecodeRLE<false>(Bitmap, Data, DataLength, TopRow, Progress, [](uint8_t* Row, int x, uint8_t v) { Row[x] = v; });
}

namespace {

void ReadBMPRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
                TPxIOProgressInfo& Progress)
{
    try {
        std::unique_ptr<TPxMask> mask;
        const bool ignoreAlpha = Preview || !Params.BMPWriteAlpha;
        const int64_t dataSize = Preview ? Stream->GetSize() - Stream->GetPosition()
                                         : (Progress.DataSize > 0 ? Progress.DataSize : 0);
        PxReadBMP(Stream, Bitmap, dataSize, Params, Progress, Preview, false, mask, ignoreAlpha);
        if (mask) {
            Progress.Mask.Give(std::move(mask));
        }
    } catch (...) {
        Progress.Abort();
    }
}

void WriteBMPRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    PxWriteBMP(Stream, Bitmap, Params, Params.BMPWriteAlpha, Progress);
}

}  // namespace

void PxInstallBMPFormat()
{
    PxSetBuiltInFormatReader(ffBMP, ReadBMPRow);
    PxSetBuiltInFormatWriter(ffBMP, WriteBMPRow);
}

}  // namespace imaging
