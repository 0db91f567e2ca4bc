#include "imaging/io/formats/tga/TgaReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "classlib/SysUtils.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/io/formats/tga/TgaWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxMask.h"

namespace imaging {

namespace {

constexpr int kHeaderSize = 18;
constexpr int kFooterSize = 26;
constexpr int kExtensionSize = 495;
constexpr char kSignature[18] = "TRUEVISION-XFILE.";  // 17 characters and the zero

// Bytes from the stream through an 8192-byte buffer; zero bytes past the end.
class TTgaInput {
public:
    explicit TTgaInput(classlib::TStream* Stream) : stream_(Stream), size_(Stream->GetSize()), buffer_(8192) {}
    void Seek(int64_t Position)
    {
        stream_->SetPosition(Position);
        position_ = Position;
        count_ = index_ = 0;
    }
    uint8_t Byte()
    {
        if (index_ >= count_) {
            index_ = count_ = 0;
            const int64_t want = std::min<int64_t>(int64_t(buffer_.size()), size_ - position_);
            if (want <= 0)
                return 0;
            const int64_t got = stream_->Read(buffer_.data(), want);
            if (got <= 0) {
                size_ = position_;  // the stream gives no more
                return 0;
            }
            position_ += got;
            count_ = int(got);
        }
        return buffer_[size_t(index_++)];
    }
    uint16_t Word()
    {
        const uint8_t lo = Byte();
        return uint16_t(lo | (Byte() << 8));
    }
    void Read(uint8_t* Out, int64_t Count)
    {
        for (int64_t i = 0; i < Count; ++i)
            Out[i] = Byte();
    }
    void Skip(int64_t Count)
    {
        const int64_t here = position_ - (count_ - index_);
        Seek(here + Count);
    }
    int64_t Size() const { return size_; }

private:
    classlib::TStream* stream_;
    int64_t size_;
    std::vector<uint8_t> buffer_;
    int64_t position_ = 0;  // stream position after the buffered bytes
    int count_ = 0;
    int index_ = 0;
};

TPxRGB Color555(uint16_t v)
{
    return TPxRGB{uint8_t((v & 31) * 8), uint8_t(((v >> 5) & 31) * 8), uint8_t(((v >> 10) & 31) * 8)};
}

class TTgaReader {
public:
    TTgaReader(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool IgnoreAlpha,
               std::unique_ptr<TPxMask>& Mask, bool ParamsOnly, TPxIOProgressInfo& Progress)
        : in_(Stream), stream_(Stream), bitmap_(Bitmap), params_(Params), ignoreAlpha_(IgnoreAlpha), mask_(Mask),
          paramsOnly_(ParamsOnly), progress_(Progress)
    {
    }

    void Run()
    {
        start_ = stream_->GetPosition();
        if (!ReadHeader()) {
            progress_.Fail(TPxReadFailure::BadHeader);  // unless the raster check named a reason
            return;
        }
        params_.Width = params_.OriginalWidth = width_;
        params_.Height = params_.OriginalHeight = height_;
        params_.SetDpiX(PxDefaultDpiX);
        params_.SetDpiY(PxDefaultDpiY);
        params_.SetImageCount(1);
        switch (depth_) {
        case 1: params_.BitsPerSample = 1; params_.SamplesPerPixel = 1; break;
        case 4: params_.BitsPerSample = 4; params_.SamplesPerPixel = 1; break;
        case 8: params_.BitsPerSample = 8; params_.SamplesPerPixel = 1; break;
        case 16: params_.BitsPerSample = 5; params_.SamplesPerPixel = 3; break;
        case 24: params_.BitsPerSample = 8; params_.SamplesPerPixel = 3; break;
        default: params_.BitsPerSample = 8; params_.SamplesPerPixel = 4; break;
        }
        if (paramsOnly_)
            return;
        Decode();
    }

private:
    bool ReadHeader()
    {
        params_.TGAAuthor.clear();
        params_.TGAImageName.clear();
        params_.TGADate = double(classlib::Trunc(classlib::Now()));
        params_.TGABackground = TPxRGB{0, 0, 0};
        params_.TGAAspectRatio = 1.0;
        params_.TGAGamma = 2.2;
        ReadExtension();

        in_.Seek(start_);
        uint8_t h[kHeaderSize];
        in_.Read(h, kHeaderSize);
        params_.TGAXPos = PxLe16(h + 8);
        params_.TGAYPos = PxLe16(h + 10);
        const uint8_t idLength = h[0], mapType = h[1];
        type_ = h[2];
        const int firstEntry = PxLe16(h + 3), mapLength = PxLe16(h + 5), entryBits = h[7];
        width_ = PxLe16(h + 12);
        height_ = PxLe16(h + 14);
        depth_ = h[16];
        descriptor_ = h[17];
        const bool typeOk = type_ == 1 || type_ == 2 || type_ == 3 || type_ == 9 || type_ == 10 || type_ == 11;
        const bool depthOk = depth_ == 1 || depth_ == 4 || depth_ == 8 || depth_ == 16 || depth_ == 24 || depth_ == 32;
        // Another colour-map type would leave its entries unskipped and a
        // zero size has no pixels: both fail like a bad type.
        if (!typeOk || !depthOk || mapType > 1 || width_ == 0 || height_ == 0)
            return false;
        const int64_t mapBytes = mapType == 1 ? int64_t(mapLength) * ((entryBits + 7) / 8) : 0;
        if (!RasterFits(start_ + kHeaderSize + idLength + mapBytes))
            return false;

        std::string id(idLength, '\0');
        for (auto& c : id)
            c = char(in_.Byte());
        params_.TGADescriptor = id.substr(0, id.find('\0'));

        for (int i = 0; i < 256; ++i)
            palette_[i] = TPxRGB{uint8_t((i & 3) * 64 + 60), uint8_t(((i >> 2) & 7) * 32 + 28), uint8_t((i >> 5) * 32 + 28)};
        std::fill(std::begin(paletteAlpha_), std::end(paletteAlpha_), uint8_t(255));
        mapEntryBits_ = mapType == 1 ? entryBits : 0;
        if (mapType == 1) {
            for (int i = 0; i < mapLength; ++i) {
                const int index = firstEntry + i;
                TPxRGB c{0, 0, 0};
                uint8_t alpha = 255;
                switch (entryBits) {
                case 15:
                case 16: c = Color555(in_.Word()); break;
                case 24:
                    c.b = in_.Byte();
                    c.g = in_.Byte();
                    c.r = in_.Byte();
                    break;
                case 32:
                    c.b = in_.Byte();
                    c.g = in_.Byte();
                    c.r = in_.Byte();
                    alpha = in_.Byte();
                    break;
                default:
                    // Unknown entry size: its bytes are passed over.
                    in_.Skip(int64_t(mapLength - i) * ((entryBits + 7) / 8));
                    i = mapLength;
                    continue;
                }
                if (index < 256) {
                    palette_[index] = c;
                    if (entryBits == 32) {
                        paletteAlpha_[index] = alpha;
                        paletteHasAlpha_ = true;
                    }
                }
            }
            params_.FreeColorMap();
            const int count = std::min(mapLength, 256);
            params_.AllocColorMap(count);
            for (int i = 0; i < count; ++i)
                params_.ColorMap[size_t(i)] = palette_[i];
            params_.TGAGrayLevel = false;
        } else if (depth_ == 8) {
            for (int i = 0; i < 256; ++i)
                palette_[i] = TPxRGB{uint8_t(i), uint8_t(i), uint8_t(i)};
            params_.TGAGrayLevel = true;
        } else if (depth_ == 1) {
            palette_[0] = TPxRGB{0, 0, 0};
            palette_[1] = TPxRGB{255, 255, 255};
        }
        params_.TGACompressed = type_ >= 9;
        return true;
    }

    void ReadExtension()
    {
        const int64_t size = in_.Size();
        if (size - start_ < kFooterSize + kHeaderSize)
            return;
        uint8_t footer[kFooterSize];
        in_.Seek(size - kFooterSize);
        in_.Read(footer, kFooterSize);
        if (std::memcmp(footer + 8, kSignature, sizeof kSignature) != 0)
            return;
        const uint32_t offset = PxLe32(footer);
        if (offset == 0 || start_ + int64_t(offset) + kExtensionSize > size)
            return;
        uint8_t e[kExtensionSize];
        in_.Seek(start_ + offset);
        in_.Read(e, kExtensionSize);
        auto text = [&](int at) {
            const char* p = reinterpret_cast<const char*>(e + at);
            return std::string(p, std::find(p, p + 41, '\0'));
        };
        params_.TGAAuthor = text(2);
        const int month = PxLe16(e + 367), day = PxLe16(e + 369), year = PxLe16(e + 371);
        const int hour = PxLe16(e + 373), minute = PxLe16(e + 375), second = PxLe16(e + 377);
        if (month >= 1 && month <= 12 && day >= 1 && day <= 31 && year >= 1 && year <= 2499 && hour < 24 &&
            minute < 60 && second < 60) {
            classlib::TDateTime date = 0, time = 0;
            if (classlib::TryEncodeDate(year, month, day, date) && classlib::TryEncodeTime(hour, minute, second, 0, time))
                params_.TGADate = date + time;
        }
        params_.TGAImageName = text(379);
        params_.TGABackground = TPxRGB{e[473], e[472], e[471]};
        const int aspectN = PxLe16(e + 474), aspectD = PxLe16(e + 476);
        if (aspectN != 0 && aspectD != 0)
            params_.TGAAspectRatio = double(aspectN) / aspectD;
        const int gammaN = PxLe16(e + 478), gammaD = PxLe16(e + 480);
        if (gammaN != 0 && gammaD != 0)
            params_.TGAGamma = double(gammaN) / gammaD;
    }

    // Units of a row: pixels, or bytes of packed 1- and 4-bit rows.
    int RowUnits() const
    {
        if (depth_ == 1)
            return (width_ + 7) / 8;
        if (depth_ == 4)
            return (width_ + 1) / 2;
        return width_;
    }
    int UnitBytes() const { return depth_ <= 8 ? 1 : depth_ / 8; }

    // Raw data may end early (the rest stays blank); a run packet covers at
    // most 128 pixels. DataStart: where the pixels begin (after the
    // identification field and the colour map); a file that ends before it
    // has no pixel data.
    bool RasterFits(int64_t DataStart) const
    {
        TPxRasterCheck check;
        check.Width = width_;
        check.Height = height_;
        check.CodedBits = depth_;
        check.StorageBits = (depth_ == 1 ? 1 : 24) + (!ignoreAlpha_ && (depth_ == 32 || mapEntryBits_ == 32) ? 8 : 0);
        check.Coding = type_ >= 9 ? TPxCoding::Rle : TPxCoding::RawShort;
        check.DataBytes = std::max<int64_t>(0, in_.Size() - DataStart);
        return PxCheckRaster(check, progress_);
    }

    void Decode()
    {
        if (!bitmap_->Allocate(width_, height_, depth_ == 1 ? px1g : px24RGB)) {
            progress_.Fail(TPxReadFailure::OutOfMemory);
            return;
        }
        const int units = RowUnits(), unitBytes = UnitBytes();
        std::vector<uint8_t> units_(size_t(units) * size_t(unitBytes));
        std::vector<uint8_t> row(depth_ == 1 ? size_t(units) : size_t(width_) * 3);
        std::vector<uint8_t> alpha;
        if (!ignoreAlpha_ && (depth_ == 32 || mapEntryBits_ == 32)) {
            if (!mask_)
                mask_ = std::make_unique<TPxMask>();
            mask_->AllocateBits(width_, height_, 8);
            mask_->Fill(255);
            mask_->Full = false;
            alpha.assign(size_t(width_), 255);
        }
        TPxAccessScope access(*bitmap_, pxAccessWrite);
        const bool topDown = (descriptor_ & 32) != 0, mirror = (descriptor_ & 16) != 0;
        for (int done = 0; done < height_; ++done) {
            ReadUnits(units_.data(), units, unitBytes);
            ExpandRow(units_.data(), row.data(), alpha.empty() ? nullptr : alpha.data());
            if (mirror && depth_ != 1) {
                for (int a = 0, b = width_ - 1; a < b; ++a, --b) {
                    std::swap_ranges(row.begin() + 3 * a, row.begin() + 3 * a + 3, row.begin() + 3 * b);
                    if (!alpha.empty())
                        std::swap(alpha[size_t(a)], alpha[size_t(b)]);
                }
            }
            const int y = topDown ? done : height_ - 1 - done;
            std::memcpy(bitmap_->GetScanline(y), row.data(), row.size());
            if (!alpha.empty())
                std::memcpy(mask_->GetScanline(y), alpha.data(), alpha.size());
            progress_.Progress(int(classlib::Trunc((done + 1) * (100.0 / height_))));
            if (progress_.Aborted())
                break;
        }
        if (mask_) {
            mask_->SyncBoundingBox();
            if (mask_->IsEmpty())
                mask_.reset();
        }
    }

    // One row of units, raw or from run-length packets (a packet crossing the
    // row end is carried into the next row).
    void ReadUnits(uint8_t* Out, int Units, int UnitBytes)
    {
        if (type_ < 9) {
            in_.Read(Out, int64_t(Units) * UnitBytes);
            return;
        }
        int x = 0;
        while (x < Units) {
            if (left_ == 0) {
                const uint8_t h = in_.Byte();
                left_ = (h & 127) + 1;
                run_ = (h & 128) != 0;
                if (run_)
                    in_.Read(value_, UnitBytes);
            }
            const int n = std::min(left_, Units - x);
            for (int i = 0; i < n; ++i, ++x) {
                uint8_t* p = Out + size_t(x) * UnitBytes;
                if (run_)
                    std::memcpy(p, value_, size_t(UnitBytes));
                else
                    in_.Read(p, UnitBytes);
            }
            left_ -= n;
        }
    }

    void ExpandRow(const uint8_t* Units, uint8_t* Row, uint8_t* Alpha)
    {
        auto put = [&](int x, const TPxRGB& c) {
            Row[3 * x] = c.b;
            Row[3 * x + 1] = c.g;
            Row[3 * x + 2] = c.r;
        };
        switch (depth_) {
        case 1: std::memcpy(Row, Units, size_t(RowUnits())); break;
        case 4:
            for (int x = 0; x < width_; ++x) {
                const uint8_t b = Units[x >> 1];
                put(x, palette_[(x & 1) ? (b & 15) : (b >> 4)]);
            }
            break;
        case 8:
            for (int x = 0; x < width_; ++x) {
                put(x, palette_[Units[x]]);
                if (Alpha && paletteHasAlpha_)
                    Alpha[x] = paletteAlpha_[Units[x]];
            }
            break;
        case 16:
            for (int x = 0; x < width_; ++x)
                put(x, Color555(PxLe16(Units + 2 * x)));
            break;
        case 24: std::memcpy(Row, Units, size_t(width_) * 3); break;
        default:
            for (int x = 0; x < width_; ++x) {
                std::memcpy(Row + 3 * x, Units + 4 * x, 3);
                if (Alpha)
                    Alpha[x] = Units[4 * x + 3];
            }
            break;
        }
    }

    TTgaInput in_;
    classlib::TStream* stream_;
    TPxBitmap* bitmap_;
    TIOParamsVals& params_;
    bool ignoreAlpha_;
    std::unique_ptr<TPxMask>& mask_;
    bool paramsOnly_;
    TPxIOProgressInfo& progress_;

    int64_t start_ = 0;
    int type_ = 0, width_ = 0, height_ = 0, depth_ = 0, descriptor_ = 0, mapEntryBits_ = 0;
    TPxRGB palette_[256];
    uint8_t paletteAlpha_[256];
    bool paletteHasAlpha_ = false;
    // Run-length packet carried over from the previous row.
    int left_ = 0;
    bool run_ = false;
    uint8_t value_[4] = {};
};

void ReadTGARow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
                TPxIOProgressInfo& Progress)
{
    try {
        std::unique_ptr<TPxMask> mask;
        PxReadTGA(Stream, Bitmap, Params, Preview, mask, Preview, Progress);
        if (mask) {
            Progress.Mask.Give(std::move(mask));
        }
    } catch (...) {
        Progress.Abort();
    }
}

void WriteTGARow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    PxWriteTGA(Stream, Bitmap, Params, Progress.Mask.Get(), Progress);
}

}  // namespace

void PxReadTGA(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool IgnoreAlpha,
               std::unique_ptr<TPxMask>& Mask, bool ParamsOnly, TPxIOProgressInfo& Progress)
{
    TTgaReader(Stream, Bitmap, Params, IgnoreAlpha, Mask, ParamsOnly, Progress).Run();
}

void PxInstallTGAFormat()
{
    PxSetBuiltInFormatReader(ffTGA, ReadTGARow);
    PxSetBuiltInFormatWriter(ffTGA, WriteTGARow);
}

}  // namespace imaging
