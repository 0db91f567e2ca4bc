#include "imaging/io/formats/pxm/PxmReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "classlib/StringList.h"
#include "classlib/TextConv.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/formats/pxm/PxmWriter.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxFileText.h"
#include "imaging/proc/PxConvertRows.h"

namespace imaging {

namespace {

// Bytes of the stream from a start position through a read buffer; keeps
// the logical position so that the raw raster can be read after the header.
class TByteSource {
public:
    explicit TByteSource(classlib::TStream* Stream)
        : stream_(Stream), next_(Stream->GetPosition()), size_(Stream->GetSize()), buffer_(8192)
    {
    }
    bool Next(uint8_t& b)
    {
        if (index_ >= length_ && !Fill())
            return false;
        b = buffer_[size_t(index_++)];
        return true;
    }
    int64_t Position() const { return next_ - (length_ - index_); }
    int64_t Size() const { return size_; }
    // Bytes left after the logical position.
    int64_t Left() const { return std::max<int64_t>(0, size_ - Position()); }
    // Reads up to Count bytes at the logical position.
    int64_t Read(uint8_t* Out, int64_t Count)
    {
        int64_t done = 0;
        while (done < Count) {
            if (index_ >= length_ && !Fill())
                break;
            const int64_t n = std::min<int64_t>(Count - done, length_ - index_);
            std::memcpy(Out + done, buffer_.data() + index_, size_t(n));
            index_ += n;
            done += n;
        }
        return done;
    }

private:
    bool Fill()
    {
        if (next_ >= size_)
            return false;
        stream_->SetPosition(next_);
        const int64_t want = std::min<int64_t>(int64_t(buffer_.size()), size_ - next_);
        const int64_t got = stream_->Read(buffer_.data(), want);
        if (got <= 0) {
            size_ = next_;  // the stream gives no more
            return false;
        }
        next_ += got;
        length_ = got;
        index_ = 0;
        return true;
    }

    classlib::TStream* stream_;
    int64_t next_;  // stream position after the buffered bytes
    int64_t size_;
    std::vector<uint8_t> buffer_;
    int64_t length_ = 0;
    int64_t index_ = 0;
};

bool IsWordChar(uint8_t c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Longest word or comment kept; the rest of a longer one is consumed and
// dropped (no header number or sample is that long).
constexpr size_t kMaxWord = 64;
constexpr size_t kMaxComment = 65536;

// Skips to a letter, digit or "#"; a "#" gives "#" and the trimmed text up
// to the end of its line, otherwise the run of letters and digits (the byte
// ending it is consumed). False when the data ended before anything was
// gathered (the token is then empty).
bool ReadToken(TByteSource& Source, std::string& Token)
{
    Token.clear();
    uint8_t c = 0;
    do {
        if (!Source.Next(c))
            return false;
    } while (c != '#' && !IsWordChar(c));
    if (c == '#') {
        std::string text;
        while (Source.Next(c) && c != '\n' && c != '\r')
            if (text.size() < kMaxComment)
                text.push_back(char(c));
        Token.assign(1, '#');
        Token += PxTrimA(text);
        return true;
    }
    Token.push_back(char(c));
    while (Source.Next(c) && IsWordChar(c))
        if (Token.size() < kMaxWord)
            Token.push_back(char(c));
    return true;
}

uint8_t Scale8(int64_t v, int64_t maximum)
{
    // Stores into a byte wrap, as for every sample beyond the maximum.
    return static_cast<uint8_t>(static_cast<int64_t>(double(v) / double(maximum) * 255.0));
}

class TPxmReader {
public:
    TPxmReader(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
               TPxIOProgressInfo& Progress)
        : stream_(Stream), src_(Stream), bitmap_(Bitmap), params_(Params), preview_(Preview), progress_(Progress)
    {
    }

    void Run()
    {
        if (!ReadHeader()) {
            progress_.Fail(TPxReadFailure::BadHeader);
            return;
        }
        params_.FreeColorMap();
        params_.Width = params_.OriginalWidth = width_;
        params_.Height = params_.OriginalHeight = height_;
        params_.SetDpiX(PxDefaultDpiX);
        params_.SetDpiY(PxDefaultDpiY);
        const char kind = magic_[1];
        const bool wide = maximum_ >= 256;
        params_.BitsPerSample = (kind == '1' || kind == '4') ? 1 : (wide ? 16 : 8);
        params_.SamplesPerPixel = (kind == '3' || kind == '6') ? 3 : 1;
        if (preview_)
            return;
        if (!Allocate())
            return;
        switch (kind) {
        case '1': ReadP1(); break;
        case '2': ReadText(1); break;
        case '3': ReadText(3); break;
        case '4': ReadP4(); break;
        case '5': ReadP5(); break;
        case '6': ReadP6(); break;
        default: break;
        }
        // The stream continues after what was consumed, not after what was
        // buffered.
        stream_->SetPosition(src_.Position());
    }

private:
    bool ReadHeader()
    {
        if (params_.PXMComments)
            params_.PXMComments->Clear();
        enum { stMagic, stWidth, stHeight, stMaximum, stDone } state = stMagic;
        std::string token;
        while (state != stDone && src_.Position() < src_.Size()) {
            if (!ReadToken(src_, token))
                break;
            if (token[0] == '#') {
                if (params_.PXMComments)
                    params_.PXMComments->Add(classlib::AnsiToWide(token.substr(1)));
                continue;
            }
            switch (state) {
            case stMagic:
                magic_ = token;
                if (token == "P1" || token == "P4")
                    maximum_ = 1;
                state = stWidth;
                break;
            case stWidth:
                width_ = PxStrToIntDefA(token, -1);
                state = stHeight;
                break;
            case stHeight:
                height_ = PxStrToIntDefA(token, -1);
                state = maximum_ > 0 ? stDone : stMaximum;
                break;
            case stMaximum:
                maximum_ = PxStrToIntDefA(token, -1);
                state = stDone;
                break;
            case stDone: break;
            }
        }
        if (width_ <= 0 || height_ <= 0)
            return false;
        if (magic_.size() != 2 || magic_[0] != 'P' || magic_[1] < '1' || magic_[1] > '6')
            return false;
        // A missing or zero maximum would divide by zero.
        if (maximum_ < 1 || maximum_ > 65535)
            return false;
        // Rows of up to six bytes per pixel must stay addressable.
        if (width_ > (std::numeric_limits<int32_t>::max() - 64) / 6)
            return false;
        return true;
    }

    bool Allocate()
    {
        TPxPixelFormat format = px24RGB;
        const char kind = magic_[1];
        if (kind == '1' || kind == '4')
            format = px1g;
        else if (kind == '5' && maximum_ >= 256 && params_.NativePixelFormat)
            format = px16g;
        else if (kind == '6' && maximum_ >= 256 && params_.NativePixelFormat)
            format = pxRGB48;
        // The least raster the header implies must be within reach of the
        // data left: a short raster still loads, an absurd header does not
        // allocate. Text samples take a character at least.
        const int64_t sampleBits = maximum_ >= 256 ? 16 : 8;
        int64_t codedBits = 0;
        switch (kind) {
        case '1':
        case '2': codedBits = 8; break;
        case '3': codedBits = 24; break;
        case '4': codedBits = 1; break;
        case '5': codedBits = sampleBits; break;
        default: codedBits = 3 * sampleBits; break;
        }
        TPxRasterCheck check;
        check.Width = width_;
        check.Height = height_;
        check.CodedBits = codedBits;
        check.StorageBits = PxPixelFormatBits[format];
        check.Coding = TPxCoding::RawShort;
        check.DataBytes = src_.Left();
        if (!PxCheckRaster(check, progress_))
            return false;
        if (!bitmap_->Allocate(width_, height_, format)) {
            progress_.Fail(TPxReadFailure::OutOfMemory);
            return false;
        }
        // Whatever the raster does not reach stays black.
        TPxAccessScope access(*bitmap_, pxAccessWrite);
        const int rowLen = bitmap_->GetRowLen();
        for (int y = 0; y < height_; ++y)
            std::memset(bitmap_->GetScanline(y), 0, size_t(rowLen));
        return true;
    }

    // After row y; false when the caller asked to stop.
    bool RowDone(int y)
    {
        progress_.Progress(int(int64_t(y + 1) * 100 / height_));
        return !progress_.Aborted();
    }

    void ReadP1()
    {
        TPxAccessScope access(*bitmap_, pxAccessWrite);
        std::vector<uint8_t> row(size_t((width_ + 7) / 8));
        uint8_t c = 0;
        bool more = true;
        for (int y = 0; y < height_ && more; ++y) {
            std::fill(row.begin(), row.end(), 0);
            int x = 0;
            while (x < width_) {
                if (!src_.Next(c)) {
                    more = false;
                    break;
                }
                if (c == '0')
                    row[size_t(x >> 3)] |= uint8_t(0x80 >> (x & 7));
                if (c == '0' || c == '1')
                    ++x;
            }
            std::memcpy(bitmap_->GetScanline(y), row.data(), row.size());
            if (!RowDone(y))
                return;
        }
    }

    void ReadText(int Samples)
    {
        TPxAccessScope access(*bitmap_, pxAccessWrite);
        std::vector<uint8_t> row(size_t(width_) * 3, 0);
        std::string token;
        bool more = true;
        for (int y = 0; y < height_ && more; ++y) {
            std::fill(row.begin(), row.end(), 0);
            for (int x = 0; x < width_ && more; ++x) {
                uint8_t v[3] = {0, 0, 0};
                for (int s = 0; s < Samples; ++s) {
                    if (!ReadToken(src_, token)) {
                        more = false;
                        break;
                    }
                    v[s] = Scale8(PxStrToIntDefA(token, 0), maximum_);
                }
                if (!more)
                    break;
                uint8_t* p = row.data() + size_t(x) * 3;
                if (Samples == 1) {
                    p[0] = p[1] = p[2] = v[0];
                } else {
                    p[0] = v[2];
                    p[1] = v[1];
                    p[2] = v[0];
                }
            }
            std::memcpy(bitmap_->GetScanline(y), row.data(), row.size());
            if (!RowDone(y))
                return;
        }
    }

    void ReadP4()
    {
        TPxAccessScope access(*bitmap_, pxAccessWrite);
        std::vector<uint8_t> row(size_t((width_ + 7) / 8));
        for (int y = 0; y < height_; ++y) {
            std::fill(row.begin(), row.end(), 0);
            src_.Read(row.data(), int64_t(row.size()));
            // 1 is black in the file, white in the image.
            PxInvertBuffer(row.data(), int(row.size()));
            std::memcpy(bitmap_->GetScanline(y), row.data(), row.size());
            if (!RowDone(y))
                return;
        }
    }

    void ReadP5()
    {
        TPxAccessScope access(*bitmap_, pxAccessWrite);
        const bool wide = maximum_ >= 256;
        std::vector<uint8_t> in(size_t(width_) * (wide ? 2 : 1));
        for (int y = 0; y < height_; ++y) {
            std::fill(in.begin(), in.end(), 0);
            src_.Read(in.data(), int64_t(in.size()));
            uint8_t* out = bitmap_->GetScanline(y);
            for (int x = 0; x < width_; ++x) {
                if (!wide) {
                    const uint8_t v = maximum_ < 255 ? Scale8(in[size_t(x)], maximum_) : in[size_t(x)];
                    out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = v;
                    continue;
                }
                const int v = (in[size_t(2 * x)] << 8) | in[size_t(2 * x + 1)];
                if (bitmap_->GetPixelFormat() == px16g) {
                    const auto w = static_cast<uint16_t>(static_cast<int64_t>(double(v) / double(maximum_) * 65535.0));
                    out[2 * x] = uint8_t(w & 0xFF);
                    out[2 * x + 1] = uint8_t(w >> 8);
                } else {
                    out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = Scale8(v, maximum_);
                }
            }
            if (!RowDone(y))
                return;
        }
    }

    void ReadP6()
    {
        TPxAccessScope access(*bitmap_, pxAccessWrite);
        const bool wide = maximum_ >= 256;
        std::vector<uint8_t> in(size_t(width_) * (wide ? 6 : 3));
        for (int y = 0; y < height_; ++y) {
            std::fill(in.begin(), in.end(), 0);
            src_.Read(in.data(), int64_t(in.size()));
            uint8_t* out = bitmap_->GetScanline(y);
            if (wide && bitmap_->GetPixelFormat() == pxRGB48) {
                // Red, green, blue words in the machine's byte order.
                for (size_t i = 0; i < in.size(); i += 2) {
                    out[i] = in[i + 1];
                    out[i + 1] = in[i];
                }
            } else {
                const size_t step = wide ? 6 : 3, hi = wide ? 2 : 1;
                for (int x = 0; x < width_; ++x) {
                    const uint8_t* p = in.data() + size_t(x) * step;
                    out[3 * x] = p[2 * hi];
                    out[3 * x + 1] = p[hi];
                    out[3 * x + 2] = p[0];
                }
            }
            if (!RowDone(y))
                return;
        }
    }

    classlib::TStream* stream_;
    TByteSource src_;
    TPxBitmap* bitmap_;
    TIOParamsVals& params_;
    bool preview_;
    TPxIOProgressInfo& progress_;
    std::string magic_;
    int width_ = -1;
    int height_ = -1;
    int maximum_ = -1;
};

void ReadPXMRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
                TPxIOProgressInfo& Progress)
{
    try {
        PxReadPXM(Stream, Bitmap, Params, Preview, Progress);
    } catch (...) {
        Progress.Abort();
    }
}

void WritePXMRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    PxWritePXM(Stream, Bitmap, Params, Progress);
}

}  // namespace

void PxReadPXM(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
               TPxIOProgressInfo& Progress)
{
    TPxmReader(Stream, Bitmap, Params, Preview, Progress).Run();
}

void PxInstallPXMFormat()
{
    PxSetBuiltInFormatReader(ffPXM, ReadPXMRow);
    PxSetBuiltInFormatWriter(ffPXM, WritePXMRow);
}

}  // namespace imaging
