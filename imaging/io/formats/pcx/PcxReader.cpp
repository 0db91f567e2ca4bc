#include "imaging/io/formats/pcx/PcxReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/io/formats/pcx/DcxFile.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIOCounters.h"
#include "imaging/io/formats/pcx/PcxWriter.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxIntColor.h"

namespace imaging {

namespace {

static_assert(sizeof(TPxRGB) == 3, "palettes are read straight into TPxRGB arrays");

constexpr int kHeaderSize = 128;
constexpr int kTrailingPaletteSize = 768;
constexpr uint8_t kPaletteMarker = 12;

// How the planes of a row make pixels.
enum TLayout {
    lyBilevel,  // 1 bit, 1 plane: px1g
    lyPlanar,   // 1 bit, 2 to 4 planes: colour index bits, header palette
    lyPacked,   // 2 or 4 bits, 1 plane: header palette
    lyIndexed,  // 8 bits, 1 plane: trailing palette
    lyRGB,      // 8 bits, 3 or 4 planes: red, green, blue
    lyNone,     // not decoded: refused as unsupported
};

TLayout LayoutOf(int Bits, int Planes)
{
    if (Bits == 1 && Planes == 1)
        return lyBilevel;
    if (Bits == 1 && Planes >= 2 && Planes <= 4)
        return lyPlanar;
    if (Planes == 1 && (Bits == 2 || Bits == 4))
        return lyPacked;
    if (Planes == 1 && Bits == 8)
        return lyIndexed;
    if (Bits == 8 && (Planes == 3 || Planes == 4))
        return lyRGB;
    return lyNone;
}

class TPcxReader {
public:
    TPcxReader(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, int64_t Length,
               TPxIOProgressInfo& Progress, bool Preview)
        : s_(Stream), bitmap_(Bitmap), p_(Params), length_(Length), progress_(Progress), preview_(Preview)
    {
    }

    void Run()
    {
        if (!ReadHeader())
            return progress_.Fail(TPxReadFailure::BadHeader);
        // A layout without a decoder is refused rather than loaded blank.
        if (layout_ == lyNone)
            return progress_.Fail(TPxReadFailure::Unsupported);
        if (layout_ == lyIndexed && !LocateTrailingPalette())
            return;
        SetParams();
        if (preview_) {
            s_->SetPosition(start_ + length_);
            return;
        }
        if (!LoadData() || !AllocateImage())
            return;
        DecodeRows();
        if (!progress_.Aborted())
            s_->SetPosition(start_ + length_);
    }

private:
    bool ReadHeader()
    {
        start_ = s_->GetPosition();
        const int64_t available = s_->GetSize() - start_;
        if (length_ <= 0 || length_ > available)
            length_ = available;
        if (length_ < kHeaderSize)
            return false;
        if (s_->Read(h_, kHeaderSize) != kHeaderSize)
            return false;
        bits_ = h_[3];
        planes_ = h_[65];
        encoding_ = h_[2];
        bytesPerLine_ = PxLe16(h_ + 66);
        if (h_[0] != 10 || bits_ > 8 || encoding_ > 1)
            return false;
        const int xmin = PxLe16(h_ + 4), ymin = PxLe16(h_ + 6), xmax = PxLe16(h_ + 8), ymax = PxLe16(h_ + 10);
        if (xmax < xmin || ymax < ymin || bits_ == 0 || planes_ == 0)
            return false;
        width_ = xmax - xmin + 1;
        height_ = ymax - ymin + 1;
        // A plane row must hold the width; otherwise the pixels would come
        // from beyond the row.
        if (bytesPerLine_ < (static_cast<int64_t>(width_) * bits_ + 7) / 8)
            return false;
        layout_ = LayoutOf(bits_, planes_);

        // The 16 header palette entries, R G B in the file, swapped to the
        // bitmap's order; the trailing palette is found later.
        std::memcpy(headerPalette_, h_ + 16, sizeof headerPalette_);
        PxSwapRBPalette(headerPalette_, 16);
        return true;
    }

    // The 256-entry palette of an 8-bit image: 768 bytes after a marker byte
    // 12. Normally the marker sits 769 bytes before the end of the image;
    // when bytes follow the palette, the marker is the first one after the
    // coded rows. False (with the reason set) when there is none; the
    // stream is left at the start of the image data.
    bool LocateTrailingPalette()
    {
        const int64_t dataSize = length_ - kHeaderSize;
        const int64_t need = kTrailingPaletteSize + 1;
        bool found = false;
        if (dataSize >= need) {
            uint8_t marker = 0;
            s_->SetPosition(start_ + length_ - need);
            found = s_->Read(&marker, 1) == 1 && marker == kPaletteMarker &&
                    s_->Read(trailingPalette_, kTrailingPaletteSize) == kTrailingPaletteSize;
            s_->SetPosition(start_ + kHeaderSize);
        }
        if (!found) {
            if (!LoadData())
                return false;
            const int64_t end = CodedRowsEnd();
            for (int64_t at = end; !found && at + need <= static_cast<int64_t>(data_.size()); ++at)
                if (data_[static_cast<size_t>(at)] == kPaletteMarker) {
                    std::memcpy(trailingPalette_, data_.data() + at + 1, kTrailingPaletteSize);
                    found = true;
                }
        }
        if (!found) {
            progress_.Fail(TPxReadFailure::Truncated);
            return false;
        }
        PxSwapRBPalette(trailingPalette_, 256);
        return true;
    }

    // Where the coded rows of the loaded data end.
    int64_t CodedRowsEnd() const
    {
        TPxPCXDecoder decoder = MakeDecoder();
        std::vector<uint8_t> scratch(static_cast<size_t>(bytesPerLine_));
        for (int64_t k = 0; k < static_cast<int64_t>(height_) * planes_ && decoder.Pos < decoder.Size; ++k)
            PxPCXDecodeRow(decoder, scratch.data(), bytesPerLine_);
        return decoder.Pos;
    }

    TPxPCXDecoder MakeDecoder() const
    {
        TPxPCXDecoder decoder;
        decoder.Data = data_.data();
        decoder.Size = static_cast<int64_t>(data_.size());
        decoder.Encoding = encoding_;
        return decoder;
    }

    void SetParams()
    {
        p_.SetImageCount(1);
        int dpiX = PxLe16(h_ + 12), dpiY = PxLe16(h_ + 14);
        if (dpiX == 0 || dpiY == 0) {
            dpiX = PxDefaultDpiX;
            dpiY = PxDefaultDpiY;
        }
        p_.SetDpiX(dpiX);
        p_.SetDpiY(dpiY);
        p_.BitsPerSample = bits_;
        p_.SamplesPerPixel = planes_;
        p_.Width = p_.OriginalWidth = width_;
        p_.Height = p_.OriginalHeight = height_;
        p_.PCXVersion = h_[1];
        p_.FreeColorMap();
        if (layout_ == lyIndexed) {
            p_.AllocColorMap(256);
            std::copy(trailingPalette_, trailingPalette_ + 256, p_.ColorMap.get());
        } else if (layout_ == lyPlanar) {
            // The planes are the bits of one colour index.
            p_.BitsPerSample = planes_;
            p_.SamplesPerPixel = 1;
            p_.AllocColorMap(1 << planes_);
            std::copy(headerPalette_, headerPalette_ + (1 << planes_), p_.ColorMap.get());
        } else if (bits_ < 8) {
            const int n = std::min(1 << bits_, 16);
            p_.AllocColorMap(n);
            std::copy(headerPalette_, headerPalette_ + n, p_.ColorMap.get());
        }
    }

    // Reads the image data (once) after checking that they can hold the
    // image; false with the reason set.
    bool LoadData()
    {
        if (dataLoaded_)
            return true;
        const int64_t rowBytes = static_cast<int64_t>(bytesPerLine_) * planes_;
        const int64_t dataSize = length_ - kHeaderSize;
        const TPxPixelFormat format = layout_ == lyBilevel ? px1g : px24RGB;
        TPxRasterCheck check;
        check.Width = width_;
        check.Height = height_;
        check.CodedBits = int64_t(bits_) * planes_;
        check.StorageBits = PxPixelFormatBits[format];
        check.Coding = encoding_ == 0 ? TPxCoding::Raw : TPxCoding::Rle;
        check.DataBytes = dataSize;
        if (!PxCheckRaster(check, progress_))
            return false;
        // Within that, the format's own measure: plain rows byte for byte,
        // coded rows at best 63 bytes for every two.
        const int64_t total = rowBytes * height_;
        if (dataSize < (encoding_ == 0 ? total : (total + 62) / 63 * 2)) {
            progress_.Fail(TPxReadFailure::MoreThanData);
            return false;
        }
        s_->SetPosition(start_ + kHeaderSize);
        data_.resize(static_cast<size_t>(dataSize));
        const int64_t got = dataSize > 0 ? s_->Read(data_.data(), dataSize) : 0;
        data_.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
        dataLoaded_ = true;
        return true;
    }

    bool AllocateImage()
    {
        row_.assign(static_cast<size_t>(bytesPerLine_) * planes_, 0);
        if (!bitmap_->Allocate(width_, height_, layout_ == lyBilevel ? px1g : px24RGB)) {
            progress_.Fail(TPxReadFailure::OutOfMemory);
            return false;
        }
        return true;
    }

    void DecodeRows()
    {
        TPxAccessScope access(*bitmap_, pxAccessWrite);
        TPxPCXDecoder decoder = MakeDecoder();
        for (int y = 0; y < height_; ++y) {
            progress_.Progress(static_cast<int>(static_cast<int64_t>(y) * 100 / height_));
            if (progress_.Aborted())
                return;
            for (int k = 0; k < planes_; ++k)
                PxPCXDecodeRow(decoder, row_.data() + static_cast<size_t>(k) * bytesPerLine_, bytesPerLine_);
            StoreRow(bitmap_->GetScanline(y));
        }
    }

    void StoreRow(uint8_t* Out)
    {
        const uint8_t* in = row_.data();
        auto* rgb = reinterpret_cast<TPxRGB*>(Out);
        switch (layout_) {
        case lyBilevel: {
            const int n = (width_ + 7) / 8;
            std::memcpy(Out, in, static_cast<size_t>(n));
            if (width_ % 8)
                Out[n - 1] &= static_cast<uint8_t>(0xFF << (8 - width_ % 8));
            break;
        }
        case lyPlanar:
            for (int x = 0; x < width_; ++x) {
                int index = 0;
                for (int k = 0; k < planes_; ++k)
                    index |= ((in[static_cast<size_t>(k) * bytesPerLine_ + x / 8] >> (7 - x % 8)) & 1) << k;
                rgb[x] = headerPalette_[index];
            }
            break;
        case lyPacked: {
            const int perByte = 8 / bits_;
            const int mask = (1 << bits_) - 1;
            for (int x = 0; x < width_; ++x) {
                const int shift = 8 - bits_ * (x % perByte + 1);
                rgb[x] = headerPalette_[(in[x / perByte] >> shift) & mask];
            }
            break;
        }
        case lyIndexed:
            for (int x = 0; x < width_; ++x)
                rgb[x] = trailingPalette_[in[x]];
            break;
        case lyRGB: {
            const uint8_t* red = in;
            const uint8_t* green = in + bytesPerLine_;
            const uint8_t* blue = in + 2 * static_cast<size_t>(bytesPerLine_);
            for (int x = 0; x < width_; ++x)
                rgb[x] = TPxRGB{blue[x], green[x], red[x]};
            break;
        }
        case lyNone: break;
        }
    }

    classlib::TStream* s_;
    TPxBitmap* bitmap_;
    TIOParamsVals& p_;
    int64_t length_;
    TPxIOProgressInfo& progress_;
    bool preview_;

    int64_t start_ = 0;
    uint8_t h_[kHeaderSize] = {};
    int bits_ = 0;
    int planes_ = 0;
    int encoding_ = 0;
    int bytesPerLine_ = 0;
    int width_ = 0;
    int height_ = 0;
    TLayout layout_ = lyNone;
    TPxRGB headerPalette_[16] = {};
    TPxRGB trailingPalette_[256] = {};
    std::vector<uint8_t> data_;
    bool dataLoaded_ = false;
    std::vector<uint8_t> row_;
};

}  // namespace

void PxReadPCX(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, int64_t Length,
               TPxIOProgressInfo& Progress, bool Preview)
{
    try {
        TPcxReader(Stream, Bitmap, Params, Length, Progress, Preview).Run();
    } catch (...) {
        Progress.Abort();
    }
}

bool PxPCXDecodeRow(TPxPCXDecoder& Decoder, uint8_t* Row, int Count)
{
    if (Count <= 0)
        return true;
    int filled = 0;
    if (Decoder.Encoding == 0) {
        const int64_t n = std::clamp<int64_t>(Decoder.Size - Decoder.Pos, 0, Count);
        if (n > 0)
            std::memcpy(Row, Decoder.Data + Decoder.Pos, static_cast<size_t>(n));
        Decoder.Pos += n;
        filled = static_cast<int>(n);
    } else {
        auto run = [&](int Length, uint8_t Value) {
            const int take = std::min(Length, Count - filled);
            std::memset(Row + filled, Value, static_cast<size_t>(take));
            filled += take;
            Decoder.CarryCount = Length - take;
            Decoder.CarryValue = Value;
        };
        if (Decoder.CarryCount > 0)
            run(Decoder.CarryCount, Decoder.CarryValue);
        while (filled < Count && Decoder.Pos < Decoder.Size) {
            const uint8_t code = Decoder.Data[Decoder.Pos++];
            if (code < 192) {
                Row[filled++] = code;
            } else {
                // A run code without its value byte ends the data.
                if (Decoder.Pos >= Decoder.Size)
                    break;
                run(code & 63, Decoder.Data[Decoder.Pos++]);
            }
        }
    }
    if (filled < Count) {
        std::memset(Row + filled, 0, static_cast<size_t>(Count - filled));
        return false;
    }
    return true;
}

namespace {

void ReadPCXRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
                TPxIOProgressInfo& Progress)
{
    PxReadPCX(Stream, Bitmap, Params, Progress.DataSize > 0 ? Progress.DataSize : -1, Progress, Preview);
}

void WritePCXRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    PxWritePCX(Stream, Bitmap, Params, Progress);
}

void ReadDCXRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
                TPxIOProgressInfo& Progress)
{
    PxReadDCX(Stream, Bitmap, Params, Progress, Preview);
}

void WriteDCXRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    PxWriteDCX(Stream, Bitmap, Params, Progress);
}

}  // namespace

void PxInstallPCXFormat()
{
    PxSetBuiltInFormatReader(ffPCX, ReadPCXRow);
    PxSetBuiltInFormatWriter(ffPCX, WritePCXRow);
    PxSetBuiltInFormatReader(ffDCX, ReadDCXRow);
    PxSetBuiltInFormatWriter(ffDCX, WriteDCXRow);
    PxSetFrameCounter(ffDCX, PxCountDCXPagesInFile);
}

}  // namespace imaging
