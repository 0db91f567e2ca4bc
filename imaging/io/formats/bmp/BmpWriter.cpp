#include "imaging/io/formats/bmp/BmpWriter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "classlib/SysUtils.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/PxConvertRows.h"
#include "imaging/proc/PxQuantizer.h"

namespace imaging {

void PxPutLE16(std::vector<uint8_t>& Out, uint32_t v)
{
    Out.push_back(static_cast<uint8_t>(v));
    Out.push_back(static_cast<uint8_t>(v >> 8));
}

void PxPutLE32(std::vector<uint8_t>& Out, uint32_t v)
{
    PxPutLE16(Out, v & 0xFFFF);
    PxPutLE16(Out, v >> 16);
}

int32_t PxDpiToPixelsPerMetre(int32_t Dpi)
{
    return static_cast<int32_t>(classlib::Round(static_cast<double>(Dpi) / 2.54 * 100));
}

namespace {

// A px24RGB (or Format) copy of Bitmap when its format differs, else
// nullptr (the bitmap itself is used).
std::unique_ptr<TPxBitmap> ConvertedCopy(TPxBitmap* Bitmap, TPxPixelFormat Format)
{
    if (Bitmap->GetPixelFormat() == Format)
        return nullptr;
    auto copy = std::make_unique<TPxBitmap>();
    copy->Assign(Bitmap);
    copy->SetPixelFormat(Format);
    return copy;
}

class TBmpWriter {
public:
    TBmpWriter(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool SaveAlpha,
               TPxIOProgressInfo& Progress)
        : s_(Stream), bitmap_(Bitmap), p_(Params), saveAlpha_(SaveAlpha), progress_(Progress),
          abortScope_(Progress), aborting_(*Progress.Aborting)
    {
    }

    void Run()
    {
        p0_ = s_->GetPosition();
        width_ = bitmap_->GetWidth();
        height_ = bitmap_->GetHeight();
        if (p_.BitsPerSample == 1 || p_.BitsPerSample == 4)
            bits_ = p_.BitsPerSample;
        else
            bits_ = p_.SamplesPerPixel == 1 ? 8 : saveAlpha_ ? 32 : 24;
        core_ = p_.BMPVersion == 2;
        headerSize_ = core_ ? 12 : p_.BMPVersion == 3 ? 64 : 40;
        if (core_ && (width_ > 0xFFFF || height_ > 0xFFFF)) {
            aborting_ = true;
            return;
        }
        rle_ = !core_ && p_.BMPCompression == 1 && (bits_ == 4 || bits_ == 8);
        rowSize_ = ((static_cast<int64_t>(width_) * bits_ + 31) >> 5) * 4;

        const uint8_t placeholder[14] = {'B', 'M'};
        Write(placeholder, 14);
        WriteHeader(0);
        if (aborting_)
            return;

        switch (bits_) {
        case 1: WriteBilevel(); break;
        case 4:
        case 8: WritePalette(); break;
        default: WriteTrueColour(); break;
        }
        if (aborting_)
            return;

        const int64_t end = s_->GetPosition();
        std::vector<uint8_t> fh{'B', 'M'};
        PxPutLE32(fh, static_cast<uint32_t>(end - p0_));
        PxPutLE32(fh, 0);
        PxPutLE32(fh, static_cast<uint32_t>(pixelOffset_ - p0_));
        s_->SetPosition(p0_);
        Write(fh.data(), static_cast<int64_t>(fh.size()));
        WriteHeader(static_cast<uint32_t>(end - pixelOffset_));
        s_->SetPosition(end);
    }

private:
    void Write(const void* Data, int64_t Count) { PxSafeStreamWrite(s_, aborting_, Data, Count); }

    void WriteHeader(uint32_t ImageDataSize)
    {
        std::vector<uint8_t> h;
        if (core_) {
            PxPutLE32(h, 12);
            PxPutLE16(h, static_cast<uint32_t>(width_));
            PxPutLE16(h, static_cast<uint32_t>(height_));
            PxPutLE16(h, 1);
            PxPutLE16(h, static_cast<uint32_t>(bits_));
        } else {
            PxPutLE32(h, headerSize_);
            PxPutLE32(h, static_cast<uint32_t>(width_));
            PxPutLE32(h, static_cast<uint32_t>(height_));
            PxPutLE16(h, 1);
            PxPutLE16(h, static_cast<uint32_t>(bits_));
            PxPutLE32(h, rle_ ? (bits_ == 4 ? 2u : 1u) : 0u);
            PxPutLE32(h, ImageDataSize);
            PxPutLE32(h, static_cast<uint32_t>(PxDpiToPixelsPerMetre(p_.DpiX)));
            PxPutLE32(h, static_cast<uint32_t>(PxDpiToPixelsPerMetre(p_.DpiY)));
            PxPutLE32(h, bits_ <= 8 ? 1u << bits_ : 0u);
            PxPutLE32(h, bits_ <= 8 ? 1u << bits_ : bits_ == 24 ? 16777216u : 1u);
            h.resize(headerSize_, 0);
        }
        Write(h.data(), static_cast<int64_t>(h.size()));
    }

    void WriteTable()
    {
        std::vector<uint8_t> t;
        for (int i = 0; i < p_.ColorMapCount; ++i) {
            const TPxRGB c = p_.ColorMap[i];
            t.push_back(c.b);
            t.push_back(c.g);
            t.push_back(c.r);
            if (!core_)
                t.push_back(0);
        }
        Write(t.data(), static_cast<int64_t>(t.size()));
    }

    // Reports the progress of image row y; false when the loop is to end.
    bool BeforeRow(int y)
    {
        const int per = static_cast<int>(classlib::Trunc(static_cast<double>(height_ - 1 - y) * 100 / height_));
        if (per != lastPer_) {
            lastPer_ = per;
            progress_.Progress(per);
        }
        return !aborting_;
    }

    void WritePalette()
    {
        std::unique_ptr<TPxBitmap> copy;
        TPxBitmap* work = bitmap_;
        const TPxPixelFormat format = bitmap_->GetPixelFormat();
        if (format != px8p && format != px24RGB) {
            copy = ConvertedCopy(bitmap_, px24RGB);
            work = copy.get();
        }
        const int n = 1 << bits_;
        p_.FreeColorMap();
        p_.AllocColorMap(n);
        TPxQuantizer quantizer(*work, std::span<TPxRGB>(p_.ColorMap.get(), static_cast<size_t>(n)), n, n);
        WriteTable();
        pixelOffset_ = s_->GetPosition();
        const bool indexed = work->GetPixelFormat() == px8p;
        std::vector<uint8_t> indices(static_cast<size_t>(width_) + 1, 0);
        std::vector<uint8_t> out(rle_ ? 2 * static_cast<size_t>(width_) + 2 : static_cast<size_t>(rowSize_));
        TPxAccessScope access(*work, pxAccessRead);
        for (int y = height_ - 1; y >= 0; --y) {
            if (!BeforeRow(y))
                return;
            const uint8_t* row = work->GetScanline(y);
            for (int x = 0; x < width_; ++x) {
                if (indexed) {
                    const uint8_t v = row[x];
                    indices[x] = v < n ? v : static_cast<uint8_t>(quantizer.ColorIndex(work->GetPaletteEntry(v)));
                } else {
                    indices[x] = static_cast<uint8_t>(quantizer.ColorIndex(reinterpret_cast<const TPxRGB*>(row)[x]));
                }
            }
            int64_t count;
            if (rle_) {
                count = bits_ == 4 ? PxEncodeRLE4Row(indices.data(), width_, out.data())
                                   : PxEncodeRLE8Row(indices.data(), width_, out.data());
            } else {
                std::fill(out.begin(), out.end(), 0);
                if (bits_ == 8)
                    std::memcpy(out.data(), indices.data(), static_cast<size_t>(width_));
                else
                    for (int x = 0; x < width_; ++x)
                        out[x / 2] |= static_cast<uint8_t>((x & 1) ? (indices[x] & 0x0F) : (indices[x] << 4));
                count = rowSize_;
            }
            Write(out.data(), count);
        }
        if (rle_ && !aborting_) {
            const uint8_t endOfBitmap[2] = {0, 1};
            Write(endOfBitmap, 2);
        }
    }

    void WriteBilevel()
    {
        std::unique_ptr<TPxBitmap> copy;
        TPxBitmap* work = bitmap_;
        TPxRGB table[2] = {{0, 0, 0}, {255, 255, 255}};
        if (bitmap_->GetPixelFormat() != px1g) {
            TPxRGB c0{}, c1{};
            copy = PxBilevelFromTwoColors(bitmap_, c0, c1);
            if (copy) {
                table[0] = c0;
                table[1] = c1;
            } else {
                copy = ConvertedCopy(bitmap_, px1g);
            }
            work = copy.get();
        }
        p_.FreeColorMap();
        p_.AllocColorMap(2);
        p_.ColorMap[0] = table[0];
        p_.ColorMap[1] = table[1];
        WriteTable();
        pixelOffset_ = s_->GetPosition();
        std::vector<uint8_t> out(static_cast<size_t>(rowSize_));
        const int64_t copyLen = std::min<int64_t>(rowSize_, work->GetRowLen());
        TPxAccessScope access(*work, pxAccessRead);
        for (int y = height_ - 1; y >= 0; --y) {
            if (!BeforeRow(y))
                return;
            std::fill(out.begin(), out.end(), 0);
            std::memcpy(out.data(), work->GetScanline(y), static_cast<size_t>(copyLen));
            // Bits past the width are written as 0.
            if (width_ % 8)
                out[width_ / 8] &= static_cast<uint8_t>(0xFF << (8 - width_ % 8));
            for (int64_t i = (width_ + 7) / 8; i < rowSize_; ++i)
                out[i] = 0;
            Write(out.data(), rowSize_);
        }
    }

    void WriteTrueColour()
    {
        std::unique_ptr<TPxBitmap> copy = ConvertedCopy(bitmap_, px24RGB);
        TPxBitmap* work = copy ? copy.get() : bitmap_;
        TPxBitmap* alpha = bits_ == 32 && bitmap_->HasAlphaChannel() ? bitmap_->GetAlphaChannel() : nullptr;
        pixelOffset_ = s_->GetPosition();
        std::vector<uint8_t> out(static_cast<size_t>(rowSize_), 0);
        TPxAccessScope access(*work, pxAccessRead);
        for (int y = height_ - 1; y >= 0; --y) {
            if (!BeforeRow(y))
                return;
            const uint8_t* row = work->GetScanline(y);
            if (bits_ == 24) {
                std::memcpy(out.data(), row, 3 * static_cast<size_t>(width_));
            } else {
                const uint8_t* a = alpha ? alpha->GetScanline(y) : nullptr;
                for (int x = 0; x < width_; ++x) {
                    std::memcpy(&out[4 * static_cast<size_t>(x)], row + 3 * x, 3);
                    out[4 * static_cast<size_t>(x) + 3] = a ? a[x] : 255;
                }
            }
            Write(out.data(), rowSize_);
        }
    }

    classlib::TStream* s_;
    TPxBitmap* bitmap_;
    TIOParamsVals& p_;
    bool saveAlpha_;
    TPxIOProgressInfo& progress_;
    TPxAbortFlagScope abortScope_;  // an aborting flag also when the caller gave none
    bool& aborting_;

    int64_t p0_ = 0;
    int64_t pixelOffset_ = 0;
    int64_t rowSize_ = 0;
    int width_ = 0;
    int height_ = 0;
    int bits_ = 24;
    bool core_ = false;
    uint32_t headerSize_ = 40;
    bool rle_ = false;
    int lastPer_ = -1;
};

// The run-length row coder shared by both depths.
template <bool Four>
int EncodeRow(const uint8_t* Indices, int Count, uint8_t* Output)
{
    int out = 0;
    int pos = 0;
    int pending = 0;
    auto index = [&](int i) { return Four ? static_cast<uint8_t>(Indices[i] & 0x0F) : Indices[i]; };
    auto flush = [&] {
        while (pending < pos) {
            const int a = std::min(pos - pending, 255);
            if (a == 1) {
                Output[out++] = 1;
                Output[out++] = Four ? static_cast<uint8_t>(index(pending) << 4) : index(pending);
            } else if (a == 2) {
                if (Four) {
                    Output[out++] = 2;
                    Output[out++] = static_cast<uint8_t>((index(pending) << 4) | index(pending + 1));
                } else {
                    Output[out++] = 1;
                    Output[out++] = index(pending);
                    Output[out++] = 1;
                    Output[out++] = index(pending + 1);
                }
            } else {
                Output[out++] = 0;
                Output[out++] = static_cast<uint8_t>(a);
                int bytes;
                if (Four) {
                    bytes = (a + 1) / 2;
                    for (int k = 0; k < bytes; ++k) {
                        const uint8_t hi = index(pending + 2 * k);
                        const uint8_t lo = 2 * k + 1 < a ? index(pending + 2 * k + 1) : 0;
                        Output[out++] = static_cast<uint8_t>((hi << 4) | lo);
                    }
                } else {
                    bytes = a;
                    for (int k = 0; k < a; ++k)
                        Output[out++] = index(pending + k);
                }
                if (bytes & 1)
                    Output[out++] = 0;
            }
            pending += a;
        }
    };
    while (pos < Count) {
        if (pos - pending > 255)
            flush();
        if (pos == Count - 1 || index(pos) != index(pos + 1)) {
            ++pos;
        } else {
            flush();
            int run = 2;
            while (run < 255 && pos + run < Count && index(pos + run) == index(pos))
                ++run;
            Output[out++] = static_cast<uint8_t>(run);
            Output[out++] = Four ? static_cast<uint8_t>((index(pos) << 4) | index(pos)) : index(pos);
            pos += run;
            pending = pos;
        }
    }
    flush();
    Output[out++] = 0;
    Output[out++] = 0;
    return out;
}

}  // namespace

void PxWriteBMP(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool SaveAlpha,
                TPxIOProgressInfo& Progress)
{
    TBmpWriter(Stream, Bitmap, Params, SaveAlpha, Progress).Run();
}

int PxEncodeRLE8Row(const uint8_t* Indices, int Count, uint8_t* Output)
{
    return EncodeRow<false>(Indices, Count, Output);
}

int PxEncodeRLE4Row(const uint8_t* Indices, int Count, uint8_t* Output)
{
    return EncodeRow<true>(Indices, Count, Output);
}

}  // namespace imaging
