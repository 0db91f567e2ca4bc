#include "imaging/io/formats/pcx/PcxWriter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "imaging/io/core/IOParams.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/PxConvertRows.h"
#include "imaging/proc/PxQuantizer.h"

namespace imaging {

namespace {

constexpr int kHeaderSize = 128;

void Put16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// Writes palette entries red, green, blue.
void PutPalette(uint8_t* p, const TPxRGB* Palette, int Count)
{
    for (int i = 0; i < Count; ++i) {
        p[3 * i] = Palette[i].r;
        p[3 * i + 1] = Palette[i].g;
        p[3 * i + 2] = Palette[i].b;
    }
}

class TPcxWriter {
public:
    TPcxWriter(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
        : s_(Stream), bitmap_(Bitmap), p_(Params), progress_(Progress),
          abortScope_(Progress), aborting_(*Progress.Aborting)
    {
    }

    void Run()
    {
        if (p_.SamplesPerPixel > 3)
            p_.SamplesPerPixel = 3;
        depth_ = p_.BitsPerSample == 1 ? 1 : p_.BitsPerSample * p_.SamplesPerPixel;
        width_ = bitmap_->GetWidth();
        height_ = bitmap_->GetHeight();
        switch (depth_) {
        case 1: rowBytes_ = (width_ + 7) / 8; break;
        case 4: rowBytes_ = (width_ + 1) / 2; break;
        case 8:
        case 24: rowBytes_ = width_; break;
        default:
            // No layout for this depth: nothing is written.
            aborting_ = true;
            return;
        }
        bytesPerLine_ = rowBytes_ + (rowBytes_ & 1);
        if (width_ <= 0 || height_ <= 0 || width_ > 65536 || height_ > 65536 || bytesPerLine_ > 0xFFFF) {
            aborting_ = true;
            return;
        }
        rle_ = p_.PCXCompression != 0;
        PrepareSource();

        uint8_t h[kHeaderSize] = {};
        h[0] = 10;
        h[1] = static_cast<uint8_t>(p_.PCXVersion);
        h[2] = rle_ ? 1 : 0;
        h[3] = depth_ == 4 ? 4 : depth_ == 1 ? 1 : 8;
        Put16(h + 8, static_cast<uint32_t>(width_ - 1));
        Put16(h + 10, static_cast<uint32_t>(height_ - 1));
        Put16(h + 12, static_cast<uint32_t>(p_.DpiX) & 0xFFFF);
        Put16(h + 14, static_cast<uint32_t>(p_.DpiY) & 0xFFFF);
        h[65] = depth_ == 24 ? 3 : 1;
        Put16(h + 66, static_cast<uint32_t>(bytesPerLine_));
        Put16(h + 68, depth_ == 24 ? 0 : 1);
        if (depth_ == 1) {
            const TPxRGB two[2] = {color0_, color1_};
            PutPalette(h + 16, two, 2);
        } else if (depth_ == 4) {
            PutPalette(h + 16, palette_, 16);
        }
        Write(h, kHeaderSize);
        if (aborting_)
            return;

        WriteRows();
        if (depth_ == 8 && !aborting_) {
            uint8_t tail[769];
            tail[0] = 12;
            PutPalette(tail + 1, palette_, 256);
            Write(tail, sizeof tail);
        }
    }

private:
    void Write(const void* Data, int64_t Count) { PxSafeStreamWrite(s_, aborting_, Data, Count); }

    // The image the rows are taken from (the bitmap or a converted copy)
    // and the palette of the depth.
    void PrepareSource()
    {
        const TPxPixelFormat format = bitmap_->GetPixelFormat();
        work_ = bitmap_;
        if (depth_ == 1) {
            if (format == px1g)
                return;
            copy_ = PxBilevelFromTwoColors(bitmap_, color0_, color1_);
            if (!copy_) {
                color0_ = TPxRGB{0, 0, 0};
                color1_ = TPxRGB{255, 255, 255};
                copy_ = std::make_unique<TPxBitmap>();
                copy_->Assign(bitmap_);
                copy_->SetPixelFormat(px1g);
            }
            work_ = copy_.get();
            return;
        }
        if (format != px24RGB) {
            copy_ = std::make_unique<TPxBitmap>();
            copy_->Assign(bitmap_);
            copy_->SetPixelFormat(px24RGB);
            work_ = copy_.get();
        }
        if (depth_ == 4 || depth_ == 8) {
            const int n = depth_ == 4 ? 16 : 256;
            quantizer_ = std::make_unique<TPxQuantizer>(*work_, std::span<TPxRGB>(palette_, static_cast<size_t>(n)),
                                                        n - 1, n);
        }
    }

    // Writes Count bytes of Row (Count <= bytesPerLine_), coded or padded
    // with zeros to the even row length.
    void WritePlane(const uint8_t* Row, int Count, int Start, int Stride)
    {
        if (rle_) {
            const int n = PxPCXEncodeRow(coded_.data(), Row, Count, Start, Stride);
            Write(coded_.data(), n);
        } else {
            std::fill(plain_.begin(), plain_.end(), 0);
            for (int i = 0; i < Count; ++i)
                plain_[i] = Row[Start + static_cast<size_t>(i) * Stride];
            Write(plain_.data(), bytesPerLine_);
        }
    }

    void WriteRows()
    {
        TPxAccessScope access(*work_, pxAccessRead);
        coded_.assign(2 * static_cast<size_t>(bytesPerLine_) + 8, 0);
        plain_.assign(static_cast<size_t>(bytesPerLine_), 0);
        std::vector<uint8_t> line(static_cast<size_t>(bytesPerLine_), 0);
        for (int y = 0; y < height_; ++y) {
            progress_.Progress(static_cast<int>(static_cast<int64_t>(y) * 100 / height_));
            if (aborting_)
                return;
            const uint8_t* row = work_->GetScanline(y);
            const auto* rgb = reinterpret_cast<const TPxRGB*>(row);
            switch (depth_) {
            case 1:
                std::memcpy(line.data(), row, static_cast<size_t>(rowBytes_));
                if (width_ % 8)
                    line[rowBytes_ - 1] &= static_cast<uint8_t>(0xFF << (8 - width_ % 8));
                WritePlane(line.data(), rowBytes_, 0, 1);
                break;
            case 4:
                std::fill(line.begin(), line.end(), 0);
                for (int x = 0; x < width_; ++x) {
                    const int index = quantizer_->ColorIndex(rgb[x]) & 0x0F;
                    line[x / 2] |= static_cast<uint8_t>((x & 1) ? index : index << 4);
                }
                WritePlane(line.data(), rowBytes_, 0, 1);
                break;
            case 8:
                for (int x = 0; x < width_; ++x)
                    line[x] = static_cast<uint8_t>(quantizer_->ColorIndex(rgb[x]));
                WritePlane(line.data(), rowBytes_, 0, 1);
                break;
            default:
                // Red, green, blue planes out of blue-green-red pixels.
                for (int k = 0; k < 3 && !aborting_; ++k)
                    WritePlane(row, width_, 2 - k, 3);
                break;
            }
        }
    }

    classlib::TStream* s_;
    TPxBitmap* bitmap_;
    TIOParamsVals& p_;
    TPxIOProgressInfo& progress_;
    TPxAbortFlagScope abortScope_;  // an aborting flag also when the caller gave none
    bool& aborting_;

    int depth_ = 0;
    int width_ = 0;
    int height_ = 0;
    int rowBytes_ = 0;
    int bytesPerLine_ = 0;
    bool rle_ = true;
    TPxBitmap* work_ = nullptr;
    std::unique_ptr<TPxBitmap> copy_;
    std::unique_ptr<TPxQuantizer> quantizer_;
    TPxRGB color0_{0, 0, 0};
    TPxRGB color1_{255, 255, 255};
    TPxRGB palette_[256] = {};
    std::vector<uint8_t> coded_;
    std::vector<uint8_t> plain_;
};

}  // namespace

void PxWritePCX(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    TPcxWriter(Stream, Bitmap, Params, Progress).Run();
}

int PxPCXEncodeRow(uint8_t* Dest, const uint8_t* Source, int Count, int Start, int Stride)
{
    int out = 0;
    auto at = [&](int i) { return Source[Start + static_cast<size_t>(i) * Stride]; };
    for (int i = 0; i < Count;) {
        const uint8_t v = at(i);
        int run = 1;
        while (run < 63 && i + run < Count && at(i + run) == v)
            ++run;
        if (run > 1 || v >= 192)
            Dest[out++] = static_cast<uint8_t>(192 | run);
        Dest[out++] = v;
        i += run;
    }
    if (Count & 1)
        Dest[out++] = 0;
    return out;
}

}  // namespace imaging
