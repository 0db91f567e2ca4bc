#include "imaging/io/formats/ico/IcoWriter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "classlib/SysUtils.h"
#include "imaging/io/formats/bmp/BmpWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/PxQuantizer.h"
#include "imaging/proc/PxResample.h"

namespace imaging {

namespace {

void ConvertTo(TPxBitmap& Image, TPxPixelFormat Format)
{
    if (Image.GetPixelFormat() != Format)
        Image.SetPixelFormat(Format);
}

struct TWritten {
    int64_t Offset = 0;
    int64_t Bytes = 0;
    int Bits = 0;
};

class TIcoWriter {
public:
    TIcoWriter(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
        : s_(Stream), source_(Bitmap), p_(Params), progress_(Progress),
          abortScope_(Progress), aborting_(*Progress.Aborting)
    {
    }

    void Run(const std::vector<TPxICOSize>& Sizes, const std::vector<int32_t>& BitCounts)
    {
        const size_t n = Sizes.size();
        if (source_->IsEmpty() || n == 0 || n > static_cast<size_t>(PxICOMaxImages) || BitCounts.size() != n ||
            std::any_of(Sizes.begin(), Sizes.end(), [](const TPxICOSize& s) { return s.Width <= 0 || s.Height <= 0; })) {
            aborting_ = true;
            return;
        }
        const int64_t p0 = s_->GetPosition();
        std::vector<uint8_t> header;
        PxPutLE16(header, 0);
        PxPutLE16(header, 1);
        PxPutLE16(header, static_cast<uint32_t>(n));
        Write(header);
        const double factor = 100.0 / static_cast<double>(n);
        const int64_t d0 = s_->GetPosition();
        Write(std::vector<uint8_t>(16 * n, 0));
        if (aborting_)
            return;

        p_.FreeColorMap();
        if (source_->GetPixelFormat() != px24RGB) {
            p_.BitsPerSample = 1;
            p_.SamplesPerPixel = 1;
        }
        std::vector<TWritten> written;
        for (size_t i = 0; i < n; ++i) {
            progress_.Progress(static_cast<int>(classlib::Trunc(static_cast<double>(i) * factor)));
            if (aborting_)
                return;
            TWritten w;
            WriteImage(Sizes[i], BitCounts[i], w);
            if (aborting_)
                return;
            w.Offset -= p0;
            written.push_back(w);
        }

        const int64_t end = s_->GetPosition();
        s_->SetPosition(d0);
        std::vector<uint8_t> dir;
        for (size_t i = 0; i < n; ++i) {
            const TWritten& w = written[i];
            dir.push_back(static_cast<uint8_t>(Sizes[i].Width));
            dir.push_back(static_cast<uint8_t>(Sizes[i].Height));
            const bool deep = w.Bits >= 24;
            dir.push_back(deep ? 0 : static_cast<uint8_t>(std::min(1 << w.Bits, 255)));
            dir.push_back(0);
            PxPutLE16(dir, deep ? 1 : 0);
            PxPutLE16(dir, deep ? static_cast<uint32_t>(w.Bits) : 0);
            PxPutLE32(dir, static_cast<uint32_t>(w.Bytes));
            PxPutLE32(dir, static_cast<uint32_t>(w.Offset));
        }
        Write(dir);
        s_->SetPosition(end);
    }

private:
    void Write(const std::vector<uint8_t>& Data)
    {
        PxSafeStreamWrite(s_, aborting_, Data.data(), static_cast<int64_t>(Data.size()));
    }

    // The bit count written for a requested entry count.
    int BitsFor(int32_t Requested) const
    {
        int samples, bits;
        switch (Requested) {
        case 0: samples = p_.SamplesPerPixel; bits = p_.BitsPerSample; break;
        case 1: samples = 1; bits = 1; break;
        case 4: samples = 1; bits = 4; break;
        case 8: samples = 1; bits = 8; break;
        case 32: samples = 4; bits = 8; break;
        default: samples = 3; bits = 8; break;
        }
        if (samples == 3 && bits == 8)
            return 24;
        if (samples == 4 && bits == 8)
            return 32;
        if (samples == 1 && (bits == 1 || bits == 4))
            return bits;
        return 8;
    }

    void WriteImage(const TPxICOSize& Size, int32_t Requested, TWritten& Out)
    {
        // The source at the pair's size.
        TPxBitmap image(Size.Width, Size.Height, source_->GetPixelFormat());
        if (image.IsEmpty()) {
            aborting_ = true;
            return;
        }
        PxResampleBitmap(source_, &image, source_->GetPixelFormat() == px1g ? rfNone : rfFastLinear);
        const int width = image.GetWidth();
        const int height = image.GetHeight();
        const int bits = BitsFor(Requested);
        Out.Offset = s_->GetPosition();
        Out.Bits = bits;

        // Each bit count gets the pixel format it is written from.
        if (bits == 1)
            ConvertTo(image, px1g);
        else if (bits >= 24)
            ConvertTo(image, px24RGB);
        else if (image.GetPixelFormat() != px8p || (bits == 4 && image.GetPaletteLen() > 16))
            ConvertTo(image, px24RGB);

        TPxBitmap* alpha = image.HasAlphaChannel() ? image.GetAlphaChannel() : nullptr;
        const int64_t rowSize = ((static_cast<int64_t>(width) * bits + 31) >> 5) * 4;
        const int64_t maskRowSize = ((static_cast<int64_t>(width) + 31) >> 5) * 4;

        std::vector<uint8_t> h;
        PxPutLE32(h, 40);
        PxPutLE32(h, static_cast<uint32_t>(width));
        PxPutLE32(h, static_cast<uint32_t>(height) * 2);
        PxPutLE16(h, 1);
        PxPutLE16(h, static_cast<uint32_t>(bits));
        PxPutLE32(h, 0);
        PxPutLE32(h, bits >= 24 ? 0u
                            : static_cast<uint32_t>(height * rowSize + static_cast<int64_t>(width) * height / 8));
        PxPutLE32(h, static_cast<uint32_t>(PxDpiToPixelsPerMetre(p_.DpiX)));
        PxPutLE32(h, static_cast<uint32_t>(PxDpiToPixelsPerMetre(p_.DpiY)));
        PxPutLE32(h, 0);
        PxPutLE32(h, 0);
        Write(h);

        std::vector<uint8_t> row(static_cast<size_t>(rowSize));
        TPxAccessScope access(image, pxAccessRead);
        if (bits == 24 || bits == 32 || bits == 1) {
            if (bits == 1) {
                const std::vector<uint8_t> table{0, 0, 0, 0, 255, 255, 255, 0};
                Write(table);
            }
            for (int y = height - 1; y >= 0 && !aborting_; --y) {
                std::fill(row.begin(), row.end(), 0);
                const uint8_t* in = image.GetScanline(y);
                if (bits == 24) {
                    std::memcpy(row.data(), in, 3 * static_cast<size_t>(width));
                } else if (bits == 1) {
                    std::memcpy(row.data(), in, static_cast<size_t>((width + 7) / 8));
                    if (width % 8)
                        row[width / 8] &= static_cast<uint8_t>(0xFF << (8 - width % 8));
                } else {
                    const uint8_t* a = alpha ? alpha->GetScanline(y) : nullptr;
                    for (int x = 0; x < width; ++x) {
                        std::memcpy(&row[4 * static_cast<size_t>(x)], in + 3 * x, 3);
                        row[4 * static_cast<size_t>(x) + 3] = a ? a[x] : 255;
                    }
                }
                Write(row);
            }
        } else {
            WritePaletted(image, alpha, bits, row);
        }

        // Mask rows: 1 where the alpha is below 255.
        std::vector<uint8_t> maskRow(static_cast<size_t>(maskRowSize));
        for (int y = height - 1; y >= 0 && !aborting_; --y) {
            std::fill(maskRow.begin(), maskRow.end(), 0);
            if (alpha) {
                const uint8_t* a = alpha->GetScanline(y);
                for (int x = 0; x < width; ++x)
                    if (a[x] < 255)
                        maskRow[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
            }
            Write(maskRow);
        }
        Out.Bytes = s_->GetPosition() - Out.Offset;
    }

    void WritePaletted(TPxBitmap& Image, TPxBitmap* Alpha, int Bits, std::vector<uint8_t>& Row)
    {
        const int n = 1 << Bits;
        const int width = Image.GetWidth();
        const int height = Image.GetHeight();
        const bool indexed = Image.GetPixelFormat() == px8p;
        std::unique_ptr<TPxQuantizer> quantizer;
        std::vector<uint8_t> table;
        if (indexed) {
            for (int i = 0; i < n; ++i) {
                const TPxRGB c = Image.GetPaletteEntry(i);
                table.insert(table.end(), {c.b, c.g, c.r, 0});
            }
        } else {
            p_.FreeColorMap();
            p_.AllocColorMap(n);
            quantizer = std::make_unique<TPxQuantizer>(
                Image, std::span<TPxRGB>(p_.ColorMap.get() + 1, static_cast<size_t>(n - 1)), n - 1, n - 1);
            p_.ColorMap[0] = TPxRGB{0, 0, 0};
            for (int i = 0; i < n; ++i) {
                const TPxRGB c = p_.ColorMap[i];
                table.insert(table.end(), {c.b, c.g, c.r, 0});
            }
        }
        Write(table);
        for (int y = height - 1; y >= 0 && !aborting_; --y) {
            std::fill(Row.begin(), Row.end(), 0);
            const uint8_t* in = Image.GetScanline(y);
            const uint8_t* a = Alpha ? Alpha->GetScanline(y) : nullptr;
            for (int x = 0; x < width; ++x) {
                uint8_t v;
                if (indexed)
                    v = in[x];
                else if (a && a[x] < 255)
                    v = 0;
                else
                    v = static_cast<uint8_t>(quantizer->ColorIndex(reinterpret_cast<const TPxRGB*>(in)[x]) + 1);
                if (Bits == 8)
                    Row[x] = v;
                else
                    Row[x >> 1] |= static_cast<uint8_t>((x & 1) ? (v & 0x0F) : (v << 4));
            }
            Write(Row);
        }
    }

    classlib::TStream* s_;
    TPxBitmap* source_;
    TIOParamsVals& p_;
    TPxIOProgressInfo& progress_;
    TPxAbortFlagScope abortScope_;  // an aborting flag also when the caller gave none
    bool& aborting_;
};

}  // namespace

void PxWriteICO(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress,
                const std::vector<TPxICOSize>& Sizes, const std::vector<int32_t>& BitCounts)
{
    TIcoWriter(Stream, Bitmap, Params, Progress).Run(Sizes, BitCounts);
}

}  // namespace imaging
