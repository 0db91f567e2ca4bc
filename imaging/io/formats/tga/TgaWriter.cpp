#include "imaging/io/formats/tga/TgaWriter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "classlib/SysUtils.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxMask.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/PxConvertRows.h"
#include "imaging/proc/PxFastResample.h"
#include "imaging/proc/PxQuantizer.h"

namespace imaging {

namespace {

constexpr int kExtensionSize = 495;
constexpr char kSignature[18] = "TRUEVISION-XFILE.";

void Put16(uint8_t* p, int v)
{
    p[0] = uint8_t(v & 0xFF);
    p[1] = uint8_t((v >> 8) & 0xFF);
}

void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

class TTgaWriter {
public:
    TTgaWriter(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxMask* Mask,
               TPxIOProgressInfo& Progress)
        : stream_(Stream), bitmap_(Bitmap), params_(Params), mask_(Mask), progress_(Progress)
    {
    }

    void Run()
    {
        const TPxPixelFormat format = bitmap_ ? bitmap_->GetPixelFormat() : pxNoPixels;
        // The header holds 16-bit sizes.
        if (!bitmap_ || bitmap_->IsEmpty() || (format != px24RGB && format != px1g) || bitmap_->GetWidth() > 65535 ||
            bitmap_->GetHeight() > 65535) {
            // Nothing written must not pass for a save.
            progress_.Abort();
            return;
        }
        start_ = stream_->GetPosition();
        source_ = bitmap_;
        sourceBits_ = format == px1g ? 1 : 24;
        ChooseDepth();
        WriteHeader();
        WriteRows();
        WriteExtensionAndFooter();
        if (aborting_)
            progress_.Abort();
    }

private:
    void ChooseDepth()
    {
        depth_ = mask_ ? 32 : 24;
        if (params_.SamplesPerPixel == 1 && params_.BitsPerSample == 1) {
            depth_ = 1;
            params_.TGACompressed = false;
            if (sourceBits_ == 24) {
                TPxRGB c0{}, c1{};
                copy_ = PxBilevelFromTwoColors(bitmap_, c0, c1);
                if (!copy_) {
                    copy_ = std::make_unique<TPxBitmap>();
                    copy_->Assign(bitmap_);
                    copy_->SetPixelFormat(px1g);
                }
                source_ = copy_.get();
                sourceBits_ = 1;
            }
            palette_[0] = TPxRGB{0, 0, 0};
            palette_[1] = TPxRGB{255, 255, 255};
        } else if (params_.SamplesPerPixel == 1 && (params_.BitsPerSample == 4 || params_.BitsPerSample == 8)) {
            depth_ = params_.BitsPerSample;
            const int colors = depth_ == 4 ? 16 : 256;
            if (depth_ == 4)
                params_.TGACompressed = false;
            std::fill(std::begin(palette_), std::end(palette_), TPxRGB{0, 0, 0});
            if (sourceBits_ == 24) {
                quantizer_ = std::make_unique<TPxQuantizer>(*bitmap_, std::span<TPxRGB>(palette_, size_t(colors)),
                                                            colors - 1, colors);
            } else {
                palette_[1] = TPxRGB{255, 255, 255};
            }
            params_.FreeColorMap();
            params_.AllocColorMap(colors);
            for (int i = 0; i < colors; ++i)
                params_.ColorMap[size_t(i)] = palette_[i];
            mapLength_ = colors;
            if (depth_ == 8 && params_.TGAGrayLevel)
                mapLength_ = 0;
        } else if (depth_ == 32) {
            params_.TGACompressed = false;
        }
        if (sourceBits_ == 1 && (depth_ == 24 || depth_ == 32)) {
            palette_[0] = TPxRGB{0, 0, 0};
            palette_[1] = TPxRGB{255, 255, 255};
        }
    }

    void Write(const void* Data, int64_t Count) { PxSafeStreamWrite(stream_, aborting_, Data, Count); }

    void WriteHeader()
    {
        // The ID is written with its terminating zero and must fit its
        // one-byte length.
        const std::string id = params_.TGADescriptor.substr(0, 254);
        uint8_t h[18] = {};
        h[0] = uint8_t(id.size() + 1);
        const bool rle = params_.TGACompressed;
        if (depth_ == 1 || (depth_ == 8 && mapLength_ == 0)) {
            h[2] = rle ? 11 : 3;
        } else if (depth_ == 4 || depth_ == 8) {
            h[1] = 1;
            h[2] = rle ? 9 : 1;
            Put16(h + 5, mapLength_);
            h[7] = 24;
        } else {
            h[2] = rle ? 10 : 2;
        }
        Put16(h + 8, params_.TGAXPos);
        Put16(h + 10, params_.TGAYPos);
        Put16(h + 12, source_->GetWidth());
        Put16(h + 14, source_->GetHeight());
        h[16] = uint8_t(depth_);
        h[17] = uint8_t(32 + (depth_ == 32 ? 8 : 0));
        Write(h, sizeof h);
        Write(id.c_str(), int64_t(id.size()) + 1);
        if (h[1] == 1) {
            std::vector<uint8_t> map(size_t(mapLength_) * 3);
            for (int i = 0; i < mapLength_; ++i) {
                map[size_t(3 * i)] = palette_[i].b;
                map[size_t(3 * i + 1)] = palette_[i].g;
                map[size_t(3 * i + 2)] = palette_[i].r;
            }
            Write(map.data(), int64_t(map.size()));
        }
    }

    void WriteRows()
    {
        const int width = source_->GetWidth(), height = source_->GetHeight();
        const int rowDepth = depth_ == 32 ? 24 : depth_;
        std::vector<uint8_t> row(size_t(width) * 3 + 8);
        std::vector<uint8_t> out;
        TPxAccessScope access(*source_, pxAccessRead);
        for (int y = 0; y < height; ++y) {
            std::fill(row.begin(), row.end(), 0);
            const int len = PxConvertRowDepth(source_->GetScanline(y), row.data(), sourceBits_, rowDepth,
                                              uint16_t(width), palette_, 256, quantizer_.get());
            if (depth_ == 8 && mapLength_ == 0)
                for (int x = 0; x < width; ++x)
                    row[size_t(x)] = uint8_t(PxRGB2Gray(palette_[row[size_t(x)]]));
            out.clear();
            if (params_.TGACompressed && (depth_ == 8 || depth_ == 24)) {
                PxTGAPackRow(row.data(), width, depth_ / 8, out);
            } else if (depth_ == 32) {
                out.resize(size_t(width) * 4);
                for (int x = 0; x < width; ++x) {
                    std::memcpy(out.data() + 4 * x, row.data() + 3 * x, 3);
                    out[size_t(4 * x + 3)] = MaskValue(x, y);
                }
            } else {
                out.assign(row.begin(), row.begin() + len);
            }
            Write(out.data(), int64_t(out.size()));
            progress_.Progress(int(classlib::Trunc((y + 1) * (100.0 / height))));
            if (progress_.Aborted())
                break;
        }
    }

    // The mask's value at a pixel, 255 where the mask does not reach.
    uint8_t MaskValue(int x, int y) const
    {
        if (x >= mask_->Width || y >= mask_->Height)
            return 255;
        const int v = mask_->GetPixel(x, y);
        return mask_->BitsPerPixel == 8 ? uint8_t(v) : (v ? 255 : 0);
    }

    void WriteExtensionAndFooter()
    {
        uint8_t e[kExtensionSize] = {};
        Put16(e, kExtensionSize);
        const std::string author = params_.TGAAuthor.substr(0, 40);
        std::memcpy(e + 2, author.data(), author.size());
        int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
        classlib::DecodeDate(params_.TGADate, year, month, day);
        classlib::DecodeTime(params_.TGADate, hour, minute, second, ms);
        Put16(e + 367, month);
        Put16(e + 369, day);
        Put16(e + 371, year);
        Put16(e + 373, hour);
        Put16(e + 375, minute);
        Put16(e + 377, second);
        const std::string job = params_.TGAImageName.substr(0, 40);
        std::memcpy(e + 379, job.data(), job.size());
        e[471] = params_.TGABackground.r;
        e[472] = params_.TGABackground.g;
        e[473] = params_.TGABackground.b;
        Put16(e + 474, int(classlib::Trunc(params_.TGAAspectRatio * 10000)));
        Put16(e + 476, 10000);
        Put16(e + 478, int(classlib::Trunc(params_.TGAGamma * 10000)));
        Put16(e + 480, 10000);
        const int64_t extensionAt = stream_->GetPosition();
        Write(e, sizeof e);
        uint8_t footer[26] = {};
        Put32(footer, uint32_t(extensionAt - start_));
        std::memcpy(footer + 8, kSignature, sizeof kSignature);
        Write(footer, sizeof footer);
    }

    classlib::TStream* stream_;
    TPxBitmap* bitmap_;
    TIOParamsVals& params_;
    TPxMask* mask_;
    TPxIOProgressInfo& progress_;
    bool aborting_ = false;
    int64_t start_ = 0;
    TPxBitmap* source_ = nullptr;
    std::unique_ptr<TPxBitmap> copy_;
    int sourceBits_ = 24;
    int depth_ = 24;
    int mapLength_ = 0;
    TPxRGB palette_[256] = {};
    std::unique_ptr<TPxQuantizer> quantizer_;
};

}  // namespace

void PxTGAPackRow(const uint8_t* Row, int Count, int PixelBytes, std::vector<uint8_t>& Out)
{
    const size_t n = size_t(PixelBytes);
    auto same = [&](int a, int b) { return std::memcmp(Row + size_t(a) * n, Row + size_t(b) * n, n) == 0; };
    int i = 0;
    while (i < Count) {
        int run = 1;
        while (i + run < Count && run < 128 && same(i + run, i))
            ++run;
        if (run >= 2) {
            Out.push_back(uint8_t(128 | (run - 1)));
            Out.insert(Out.end(), Row + size_t(i) * n, Row + size_t(i + 1) * n);
            i += run;
            continue;
        }
        int count = 0;
        while (i + count < Count && count < 127 && !(i + count + 1 < Count && same(i + count, i + count + 1)))
            ++count;
        if (count == 127 && i + 128 == Count)
            count = 128;  // the last pixel of the row joins the packet
        Out.push_back(uint8_t(count - 1));
        Out.insert(Out.end(), Row + size_t(i) * n, Row + size_t(i + count) * n);
        i += count;
    }
}

void PxWriteTGA(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxMask* Mask,
                TPxIOProgressInfo& Progress)
{
    TTgaWriter(Stream, Bitmap, Params, Mask, Progress).Run();
}

}  // namespace imaging
