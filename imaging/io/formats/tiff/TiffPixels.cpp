// The strip and tile decoder of the TIFF reader: row decoding by
// compression, sample expansion, the predictor and the conversion of rows
// into the bitmap's pixel format.
//
// Every buffer a row is read from is sized for the rows it must give (an
// uncompressed strip that the file cuts short is padded with zeros), every
// decoder checks its input against the strip's bytes, and rows are placed
// only inside the bitmap (tiles through a row of their own that is clipped
// to the page).
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "classlib/SysUtils.h"
#include "imaging/io/formats/tiff/Ccitt.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/formats/jpeg/JpegReader.h"
#include "imaging/io/core/PxCmyk.h"
#include "imaging/io/formats/tiff/TiffTags.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxByteOrder.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxMask.h"
#include "imaging/io/core/ImgIOStreams.h"

namespace imaging {

// Routines of the stream utilities (PxStreamUtils.h), whose header cannot be
// included beside the parameters' headers.
extern const uint8_t PxReverseBitsTable[256];
void PxSwapBytes16Buffer(void* buffer, int64_t words);

namespace {

TPxConvertColorRowProc ColorHook() { return PxConvertColorRowHook ? PxConvertColorRowHook : PxConvertColorRow; }

bool IsPredictorCompression(int c) { return c == 5 || c == 8 || c == 32946; }

// Bytes of one encoded row of a chunky strip or tile of Width pixels.
int64_t ChunkyRowLength(const TTIFFVars& v, int32_t Width)
{
    if (v.Photometric == 6 && v.Compression != 7 && v.SamplesPerPixel == 3 && v.BitsPerSample == 8 &&
        v.YCbCrSubsampling[0] == 2 && v.YCbCrSubsampling[1] == 1)
        return (int64_t(Width) + 1) / 2 * 4;
    return (int64_t(v.SamplesPerPixel) * Width * v.BitsPerSample + 7) / 8;
}

int64_t PlaneRowLength(const TTIFFVars& v, int32_t Width) { return (int64_t(Width) * v.BitsPerSample + 7) / 8; }

// Progress of the page's rows.
struct TRowProgress {
    double Step = 0;
    int64_t RowsDone = 0;
    int LastPercent = -1;

    void Count(const TPxIOProgressInfo& p)
    {
        ++RowsDone;
        if (p.Handler) {
            const int percent = int(classlib::Trunc(std::min(100.0, double(RowsDone) * Step)));
            if (percent != LastPercent) {
                LastPercent = percent;
                p.Progress(percent);
            }
        }
    }
};

// The decoding state of one strip, tile or plane.
class TRowDecoder {
public:
    TRowDecoder(const TTIFFVars& v, uint8_t* data, int64_t size, int64_t rowLength, int32_t width, int32_t rows)
        : v_(v), data_(data), size_(size), rowLength_(rowLength), width_(width), rows_(rows),
          row_(size_t(rowLength) + 8, 0)
    {
    }
    ~TRowDecoder()
    {
        if (lzwState_ && v_.LZWDecompress)
            v_.LZWDecompress(nullptr, 0, 0, lzwState_, v_.FillOrder);
    }
    TRowDecoder(const TRowDecoder&) = delete;
    TRowDecoder& operator=(const TRowDecoder&) = delete;

    // Row Index of the strip: rowLength bytes, or nullptr when the row cannot
    // be decoded. The bytes may be changed by the caller until the next call.
    uint8_t* PxTIFFDecodeRow(int32_t Index)
    {
        switch (v_.Compression) {
        case 1: return Uncompressed();
        case 2:
        case 3:
        case 4: return Fax();
        case 5: return Lzw();
        case 8:
        case 32946: return Deflate(Index);
        case 32773: return PackBits();
        default: return nullptr;  // no decoder here for this compression
        }
    }

private:
    uint8_t* Uncompressed()
    {
        uint8_t* result;
        const int64_t avail = std::max<int64_t>(0, size_ - pos_);
        if (avail >= rowLength_ && v_.BitsPerSample >= 8) {
            result = data_ + pos_;
        } else {
            const int64_t n = std::min(avail, rowLength_);
            if (n > 0)
                std::memcpy(row_.data(), data_ + pos_, size_t(n));
            std::fill(row_.begin() + n, row_.end(), 0);
            result = row_.data();
        }
        if (v_.FillOrder == 2 && v_.BitsPerSample <= 8) {
            if (result != row_.data()) {
                std::memcpy(row_.data(), result, size_t(rowLength_));
                result = row_.data();
            }
            for (int64_t i = 0; i < rowLength_; ++i)
                result[i] = PxReverseBitsTable[result[i]];
        }
        pos_ += rowLength_;
        return result;
    }

    uint8_t* Fax()
    {
        if (width_ < 1)
            return nullptr;
        if (reference_.empty())
            reference_.assign(size_t(width_ + 7) / 8, 0xFF);  // all white before the first row
        const int32_t fill = v_.FillOrder;
        if (v_.Compression == 2) {
            const int64_t left = std::max<int64_t>(0, size_ - pos_);
            pos_ += PxCCITTDecodeRowMH(row_.data(), data_ + std::min(pos_, size_), left, fill, width_);
        } else if (v_.Compression == 3 && !(v_.T4Options & 1)) {
            bitPos_ = PxCCITTDecodeRow1D(row_.data(), data_, size_, fill, bitPos_, width_);
        } else {
            const bool eolScan = v_.Compression == 3 || (v_.T4Options & 4) != 0;
            bitPos_ = PxCCITTDecodeRow2D(row_.data(), data_, size_, eolScan, fill, bitPos_, reference_.data(),
                                         width_, &changes_);
        }
        return row_.data();
    }

    uint8_t* Lzw()
    {
        if (!v_.LZWDecompress || rowLength_ > INT32_MAX)
            return nullptr;
        uint8_t* r = v_.LZWDecompress(data_, size_, int32_t(rowLength_), lzwState_, v_.FillOrder);
        if (!r)
            return nullptr;
        std::memcpy(row_.data(), r, size_t(rowLength_));
        return row_.data();
    }

    uint8_t* Deflate(int32_t Index)
    {
        if (!inflated_) {
            // The whole strip, but never more than its rows need.
            const int64_t need = rowLength_ * std::max(rows_, 1);
            inflated_ = std::make_unique<std::vector<uint8_t>>(PxIOInflate(data_, size_, need));
            inflated_->resize(size_t(need), 0);  // a short strip leaves its last rows 0
        }
        const int64_t at = int64_t(Index) * rowLength_;
        if (at < 0 || at + rowLength_ > int64_t(inflated_->size()))
            return nullptr;
        std::memcpy(row_.data(), inflated_->data() + at, size_t(rowLength_));
        return row_.data();
    }

    uint8_t TakeByte()
    {
        const uint8_t b = data_[pos_++];
        return v_.FillOrder == 2 ? PxReverseBitsTable[b] : b;
    }

    uint8_t* PackBits()
    {
        int64_t out = 0;
        while (out < rowLength_ && pos_ < size_) {
            const int8_t h = int8_t(TakeByte());
            if (h == -128)
                continue;
            if (h < 0) {
                if (pos_ >= size_)
                    break;
                const uint8_t b = TakeByte();
                const int64_t n = std::min<int64_t>(1 - h, rowLength_ - out);
                std::memset(row_.data() + out, b, size_t(n));
                out += n;  // the excess of a run crossing the row's end is dropped
            } else {
                for (int k = 0; k <= h && pos_ < size_; ++k) {
                    const uint8_t b = TakeByte();
                    if (out < rowLength_)
                        row_[size_t(out++)] = b;
                }
            }
        }
        std::fill(row_.begin() + out, row_.end(), 0);
        return row_.data();
    }

    const TTIFFVars& v_;
    uint8_t* data_;
    int64_t size_;
    int64_t rowLength_;
    int32_t width_;
    int32_t rows_;
    int64_t pos_ = 0;
    int64_t bitPos_ = 0;
    std::vector<uint8_t> reference_;
    TPxCCITTChanges changes_;  // the reference row's changing elements, runs of length 0 kept
    void* lzwState_ = nullptr;
    std::unique_ptr<std::vector<uint8_t>> inflated_;
    std::vector<uint8_t> row_;
};

// Samples below 8 bits spread to one byte each, grey levels scaled to 0..255,
// 16-bit words put into little-endian order. Returns the row to convert
// (Raw itself or Expanded).
uint8_t* PrepareRow(const TTIFFVars& v, uint8_t* Raw, int64_t RawLength, int64_t Samples,
                    std::vector<uint8_t>& Expanded)
{
    const int b = v.BitsPerSample;
    const bool grey = v.Photometric == 0 || v.Photometric == 1;
    uint8_t* row = Raw;
    if (b == 4) {
        Expanded.resize(size_t(std::max<int64_t>(RawLength * 2, Samples)) + 8);
        for (int64_t i = 0; i < RawLength; ++i) {
            Expanded[size_t(2 * i)] = Raw[i] >> 4;
            Expanded[size_t(2 * i + 1)] = Raw[i] & 15;
        }
        row = Expanded.data();
    } else if ((b == 2 || b == 3 || b == 5 || b == 6 || b == 7) && (v.Compression < 2 || v.Compression > 4)) {
        Expanded.resize(size_t(Samples) + 8);
        int64_t bit = 0;
        for (int64_t i = 0; i < Samples; ++i) {
            uint32_t value = 0;
            for (int k = 0; k < b; ++k, ++bit) {
                const int64_t byte = bit >> 3;
                const uint32_t bitValue = byte < RawLength ? (Raw[byte] >> (7 - (bit & 7))) & 1 : 0;
                value = (value << 1) | bitValue;
            }
            Expanded[size_t(i)] = uint8_t(value);
        }
        row = Expanded.data();
    }
    if (grey && b >= 2 && b <= 7) {
        const int max = (1 << b) - 1;
        for (int64_t i = 0; i < Samples; ++i) {
            uint8_t& s = row[i];
            switch (b) {
            case 4: s = uint8_t(s * 17); break;
            case 2: s = uint8_t(s * 85); break;
            case 7: s = uint8_t(s * 2); break;
            default: s = uint8_t((s * 255 + max / 2) / max); break;  // 3, 5 and 6 bits
            }
        }
    }
    if (b == 16 && !v.LittleEndian)
        PxSwapBytes16Buffer(row, RawLength / 2);
    return row;
}

// Horizontal differencing undone over Width pixels of Samples samples.
void PxTIFFUndoPredictor(const TTIFFVars& v, uint8_t* row, int32_t Width, int32_t Samples)
{
    if (v.Predictor != 2 || !IsPredictorCompression(v.Compression))
        return;
    if (v.BitsPerSample == 8) {
        for (int64_t i = Samples; i < int64_t(Width) * Samples; ++i)
            row[i] = uint8_t(row[i] + row[i - Samples]);
    } else if (v.BitsPerSample == 16) {
        // Words are in host (little-endian) order by now.
        for (int64_t i = Samples; i < int64_t(Width) * Samples; ++i) {
            const uint16_t a = uint16_t(row[2 * i] | (row[2 * i + 1] << 8));
            const uint16_t l = uint16_t(row[2 * (i - Samples)] | (row[2 * (i - Samples) + 1] << 8));
            const uint16_t s = uint16_t(a + l);
            row[2 * i] = uint8_t(s);
            row[2 * i + 1] = uint8_t(s >> 8);
        }
    }
}

uint16_t Word(const uint8_t* p, int64_t i) { return PxLe16(p + 2 * i); }

void SetMask(const TTIFFVars& v, int x, int y, int value)
{
    if (v.AlphaMask) {
        v.AlphaMask->Full = false;
        v.AlphaMask->SetPixel(x, y, value);
    }
}

TPxRGB MapEntry(const TTIFFVars& v, uint32_t index)
{
    return index < v.ColorMap.size() ? v.ColorMap[index] : TPxRGB{0, 0, 0};
}

// A colour sample c of associated (premultiplied) alpha a brought back to
// its own value: Trunc(c / max(a / 255, 1 / 255)), at most 255; unchanged
// for unassociated alpha.
uint8_t Unpremultiply(int c, int a, bool Associated)
{
    if (!Associated)
        return uint8_t(c);
    const double f = std::max(a / 255.0, 1 / 255.0);
    return uint8_t(std::min<int64_t>(255, classlib::Trunc(c / f)));
}

void PutRGB(uint8_t* d, int x, uint8_t r, uint8_t g, uint8_t b)
{
    d[3 * x] = b;
    d[3 * x + 1] = g;
    d[3 * x + 2] = r;
}

// One prepared row on its way into the bitmap: s holds W pixels of the
// page's samples, d is a row of the bitmap's format fmt, t a work row of
// at least 8 bytes a pixel; X0 and Y place alpha samples in the mask.
struct TRowJob {
    const TTIFFVars& v;
    TPxPixelFormat fmt;
    uint8_t* s;
    uint8_t* d;
    int32_t W;
    int X0;
    int Y;
    uint8_t* t;
    TPxConvertColorRowProc hook;
    TIOParamsVals* params;
};

// RGB pages: 8-bit samples with or without alpha or other extra samples,
// 16-bit samples with or without alpha, and 5:5:5 words.
void ConvertRGBRow(const TRowJob& j)
{
    const TTIFFVars& v = j.v;
    const int S = v.SamplesPerPixel, B = v.BitsPerSample;
    uint8_t* const s = j.s;
    uint8_t* const d = j.d;
    uint8_t* const t = j.t;
    const int32_t W = j.W;
    if ((S == 3 || S == 4) && B == 8) {
        if (S == 4 && v.AlphaMask) {
            const bool associated = v.ExtraSampleCount > 0 && v.ExtraSample == 1;
            for (int x = 0; x < W; ++x) {
                const uint8_t* px = s + 4 * x;
                const int a = px[3];
                PutRGB(d, x, Unpremultiply(px[0], a, associated), Unpremultiply(px[1], a, associated),
                       Unpremultiply(px[2], a, associated));
                SetMask(v, j.X0 + x, j.Y, a);
            }
        } else {
            const uint8_t* rgb = s;
            if (S == 4) {
                for (int x = 0; x < W; ++x)
                    std::memcpy(t + 3 * x, s + 4 * x, 3);
                rgb = t;
            }
            j.hook(rgb, pxRowRGB, d, j.params, W, pxRowBGR);
        }
    } else if (S >= 5 && B == 8 && v.ExtraSampleCount > 0) {
        for (int x = 0; x < W; ++x) {
            const uint8_t* px = s + int64_t(S) * x;
            int c[3] = {px[0], px[1], px[2]};
            if (v.AlphaMask) {
                for (int k = 0; k < v.ExtraSampleCount && 3 + k < S; ++k) {
                    const int a = px[3 + k];
                    if (v.ExtraSamples[k] == 1) {
                        SetMask(v, j.X0 + x, j.Y, a);
                        for (int& ch : c)
                            ch = Unpremultiply(ch, a, true);
                    } else if (v.ExtraSamples[k] == 2) {
                        SetMask(v, j.X0 + x, j.Y, a);
                    }
                }
            }
            PutRGB(d, x, uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2]));
        }
    } else if ((S == 3 || S == 4) && B == 16) {
        const uint8_t* rgb = s;
        if (S == 4) {
            // The fourth word is alpha (associated: the colours are
            // divided by it) when the page has an alpha mask.
            const bool associated = v.AlphaMask && v.ExtraSampleCount > 0 && v.ExtraSample == 1;
            for (int x = 0; x < W; ++x) {
                const uint16_t a = Word(s, 4 * int64_t(x) + 3);
                for (int k = 0; k < 3; ++k) {
                    uint16_t c = Word(s, 4 * int64_t(x) + k);
                    if (associated)
                        c = a == 0 ? uint16_t(std::min<uint32_t>(65535, c * 65535u))
                                   : uint16_t(std::min<uint64_t>(65535, uint64_t(c) * 65535 / a));
                    t[6 * x + 2 * k] = uint8_t(c);
                    t[6 * x + 2 * k + 1] = uint8_t(c >> 8);
                }
                SetMask(v, j.X0 + x, j.Y, a >> 8);
            }
            rgb = t;
        }
        if (j.fmt == pxRGB48)
            std::memcpy(d, rgb, size_t(W) * 6);
        else
            j.hook(rgb, pxRowRGB48LE, d, j.params, W, pxRowBGR);
    } else if (S == 1 && B == 16) {
        for (int x = 0; x < W; ++x) {
            const uint16_t w = Word(s, x);
            PutRGB(d, x, uint8_t((w >> 10) * 8), uint8_t(((w >> 5) & 31) * 8), uint8_t((w & 31) * 8));
        }
    }
}

// Grey pages (0 white is zero, 1 black is zero): 2 to 8 bits, 8 bits with
// alpha, 16 bits, and bilevel rows, which CCITT codings store inverted.
void ConvertGreyRow(const TRowJob& j)
{
    const TTIFFVars& v = j.v;
    const int P = v.Photometric, S = v.SamplesPerPixel, B = v.BitsPerSample;
    const uint8_t* const s = j.s;
    uint8_t* const d = j.d;
    const int32_t W = j.W;
    if (S == 1 && B >= 2 && B <= 8) {
        for (int x = 0; x < W; ++x) {
            const uint8_t g = P == 1 ? s[x] : uint8_t(255 - s[x]);
            if (j.fmt == px8g)
                d[x] = g;
            else
                PutRGB(d, x, g, g, g);
        }
    } else if (S == 2 && B == 8) {
        for (int x = 0; x < W; ++x) {
            const uint8_t g = P == 1 ? s[2 * x] : uint8_t(255 - s[2 * x]);
            if (j.fmt == px8g)
                d[x] = g;
            else
                PutRGB(d, x, g, g, g);
            SetMask(v, j.X0 + x, j.Y, s[2 * x + 1]);
        }
    } else if (S == 1 && B == 16) {
        const int shift = v.Software.compare(0, 15, "Look@Molli v1.1") == 0 ? 4 : 8;
        for (int x = 0; x < W; ++x) {
            const uint16_t w = Word(s, x);
            if (j.fmt == px16g) {
                const uint16_t g = P == 1 ? w : uint16_t(~w);
                d[2 * x] = uint8_t(g);
                d[2 * x + 1] = uint8_t(g >> 8);
            } else {
                const uint8_t g = uint8_t((P == 1 ? w : 65535 - w) >> shift);
                PutRGB(d, x, g, g, g);
            }
        }
    } else if (S == 1 && B == 1) {
        const int64_t bytes = (int64_t(W) + 7) / 8;
        const int c = v.Compression;
        const bool ccitt = c >= 2 && c <= 4;
        const bool invert = (P == 0 && !ccitt) || (P == 1 && ccitt);
        for (int64_t i = 0; i < bytes; ++i)
            d[i] = invert ? uint8_t(~s[i]) : s[i];
    }
}

// Palette pages: bilevel indexes, 8-bit indexes with alpha (stored
// inverted), and indexes of up to 8 bits.
void ConvertPaletteRow(const TRowJob& j)
{
    const TTIFFVars& v = j.v;
    const int S = v.SamplesPerPixel, B = v.BitsPerSample;
    const uint8_t* const s = j.s;
    uint8_t* const d = j.d;
    const int32_t W = j.W;
    if (S == 1 && B == 1) {
        for (int x = 0; x < W; ++x) {
            const uint8_t bit = (s[x >> 3] >> (7 - (x & 7))) & 1;
            if (j.fmt == px8p) {
                d[x] = bit;
            } else {
                const TPxRGB c = MapEntry(v, bit);
                PutRGB(d, x, c.r, c.g, c.b);
            }
        }
    } else if (S == 2 && B == 8) {
        for (int x = 0; x < W; ++x) {
            const TPxRGB c = MapEntry(v, s[2 * x]);
            PutRGB(d, x, c.r, c.g, c.b);
            SetMask(v, j.X0 + x, j.Y, 255 - s[2 * x + 1]);
        }
    } else if (S == 1 && B <= 8) {
        for (int x = 0; x < W; ++x) {
            if (j.fmt == px8p) {
                d[x] = s[x];
            } else {
                const TPxRGB c = MapEntry(v, s[x]);
                PutRGB(d, x, c.r, c.g, c.b);
            }
        }
    }
}

// Separated (CMYK) pages of 8 bits, with an optional unassociated alpha
// fifth sample, or of 16 bits (the high bytes); the samples are inverted.
void ConvertCMYKRow(const TRowJob& j)
{
    const TTIFFVars& v = j.v;
    const int S = v.SamplesPerPixel, B = v.BitsPerSample;
    const uint8_t* const s = j.s;
    uint8_t* const t = j.t;
    const int32_t W = j.W;
    if (S >= 4 && B == 8) {
        for (int x = 0; x < W; ++x) {
            for (int k = 0; k < 4; ++k)
                t[4 * x + k] = uint8_t(255 - s[int64_t(S) * x + k]);
            if (S >= 5 && v.ExtraSample == 2)
                SetMask(v, j.X0 + x, j.Y, s[int64_t(S) * x + 4]);
        }
    } else if (S == 4 && B == 16) {
        for (int64_t i = 0; i < int64_t(W) * 4; ++i)
            t[i] = uint8_t(255 - s[2 * i + 1]);
    } else {
        return;
    }
    if (j.fmt == pxCMYK)
        std::memcpy(j.d, t, size_t(W) * 4);
    else
        j.hook(t, pxRowCMYK, j.d, j.params, W, pxRowBGR);
}

// Converts one prepared row of Width pixels into D, a row of the bitmap's
// format; X0 and Y place alpha samples in the mask. A combination of
// photometric, samples and bits not handled here places nothing.
void ConvertRow(const TTIFFVars& v, TPxPixelFormat fmt, uint8_t* s, uint8_t* d, int32_t W, int X0, int Y,
                std::vector<uint8_t>& scratch)
{
    const int P = v.Photometric, S = v.SamplesPerPixel, B = v.BitsPerSample;
    scratch.resize(size_t(W) * 8 + 16);
    const TRowJob job{v, fmt, s, d, W, X0, Y, scratch.data(), ColorHook(), v.Params};
    switch (P) {
    case 0:
    case 1: ConvertGreyRow(job); break;
    case 2: ConvertRGBRow(job); break;
    case 3: ConvertPaletteRow(job); break;
    case 5: ConvertCMYKRow(job); break;
    case 8:
        if (S == 3 && B == 8)
            job.hook(s, pxRowCIELab, d, job.params, W, pxRowBGR);
        break;
    case 6:
        if (S == 3 && B == 8 && v.YCbCrSubsampling[0] == 2 && v.YCbCrSubsampling[1] == 1) {
            uint8_t* t = job.t;
            for (int x = 0; x < W; ++x) {
                const uint8_t* unit = s + (x / 2) * 4;
                t[3 * x] = unit[x & 1];
                t[3 * x + 1] = unit[2];
                t[3 * x + 2] = unit[3];
            }
            job.hook(t, pxRowYCbCr, d, job.params, W, pxRowBGR);
        }
        break;
    default: break;
    }
}

// Bytes of Width pixels of the bitmap's format.
int64_t FormatBytes(TPxPixelFormat fmt, int64_t Width) { return (Width * PxPixelFormatBits[fmt] + 7) / 8; }

// Where the rows of one strip or tile go: columns X0 .. X0 + Width - 1 of
// the page, clipped to the bitmap.
struct TPlacement {
    TPxBitmap* Bitmap;
    TPxPixelFormat Format;
    int32_t X0;
    int32_t Width;
    std::vector<uint8_t> Row;  // the converted row when it must be clipped

    uint8_t* Target(int y)
    {
        if (X0 == 0 && Width == Bitmap->GetWidth())
            return Bitmap->GetScanline(y);
        Row.assign(size_t(FormatBytes(Format, Width)) + 8, 0);
        return Row.data();
    }
    void Commit(int y, uint8_t* target)
    {
        if (target != Row.data())
            return;
        const int32_t pageWidth = Bitmap->GetWidth();
        if (X0 >= pageWidth)
            return;
        const int64_t offset = FormatBytes(Format, X0);  // X0 is a tile start: whole bytes for 1 bit
        const int64_t bytes = std::min(FormatBytes(Format, Width), FormatBytes(Format, pageWidth) - offset);
        if (bytes > 0)
            std::memcpy(Bitmap->GetScanline(y) + offset, target, size_t(bytes));
    }
};

// Copies a JPEG-compressed strip or tile (compression 7) into the page.
void PutJPEGStrip(const TTIFFVars& v, TPxBitmap& Bitmap, int32_t FirstRow, int32_t X0, uint8_t* Data, int64_t Size,
                  bool SingleStrip, TPxIOProgressInfo& Progress)
{
    if (!v.Params)
        return;
    TIOParamsVals& p = *v.Params;
    std::unique_ptr<classlib::TStream> strip = PxIOMemoryView(Data, Size);
    std::unique_ptr<classlib::TStream> tables;
    if (!v.JPEGTables.empty())
        tables = PxIOMemoryView(v.JPEGTables.data(), int64_t(v.JPEGTables.size()));
    const bool raw = tables && v.Photometric == 2;
    TPxBitmap decoded;
    TPxIOProgressInfo sub = Progress;
    if (!SingleStrip)
        sub.Handler = nullptr;
    const int32_t dpiX = p.DpiX, dpiY = p.DpiY, w = p.Width, h = p.Height, ow = p.OriginalWidth,
                  oh = p.OriginalHeight;
    try {
        PxReadJPEG(strip.get(), &decoded,
                   {.Tables = tables.get(), .NativePixelFormat = p.NativePixelFormat, .RawYCbCr = raw}, sub, p);
    } catch (...) {
        Progress.Abort();  // a damaged strip fails the page, never silently
    }
    p.DpiX = dpiX;
    p.DpiY = dpiY;
    p.Width = w;
    p.Height = h;
    p.OriginalWidth = ow;
    p.OriginalHeight = oh;
    if (Progress.Aborted() || decoded.IsEmpty())
        return;
    // Samples delivered raw from a stream the JPEG reader took for YCbCr sit
    // in its Y, Cb, Cr order; an RGB-coded stream comes back in place.
    if (raw && p.JPEGColorSpace == 2 && decoded.GetPixelFormat() == px24RGB)
        for (int y = 0; y < decoded.GetHeight(); ++y)
            PxSwapRBTriples(decoded.GetScanline(y), decoded.GetWidth());
    CopyRectTo(decoded, &Bitmap, 0, 0, X0, FirstRow, decoded.GetWidth(), decoded.GetHeight());
}

// Decodes and places Rows rows of one chunky strip or tile.
void PxTIFFPutRows(const TTIFFVars& v, TPxBitmap& Bitmap, int32_t FirstRow, TPxIOProgressInfo& Progress, int32_t Rows,
             int32_t Width, int32_t X0, uint8_t* Data, int64_t Size, TRowProgress& counter)
{
    const int64_t rowLength = ChunkyRowLength(v, Width);
    const int64_t samples = int64_t(v.SamplesPerPixel) * Width;
    TRowDecoder decoder(v, Data, Size, rowLength, Width, Rows);
    TPlacement place{&Bitmap, Bitmap.GetPixelFormat(), X0, Width, {}};
    std::vector<uint8_t> expanded, scratch;
    const int32_t height = Bitmap.GetHeight();
    for (int32_t k = 0; k < Rows && !Progress.Aborted(); ++k) {
        uint8_t* raw = decoder.PxTIFFDecodeRow(k);
        if (!raw) {
            Progress.Abort();
            break;
        }
        const int32_t y = FirstRow + k;
        if (y >= height)
            continue;  // rows of an edge tile below the page
        uint8_t* row = PrepareRow(v, raw, rowLength, samples, expanded);
        PxTIFFUndoPredictor(v, row, Width, v.SamplesPerPixel);
        uint8_t* target = place.Target(y);
        ConvertRow(v, place.Format, row, target, Width, X0, y, scratch);
        place.Commit(y, target);
        counter.Count(Progress);
    }
}

// Reads up to Count bytes at Offset (fewer when the stream ends first). The
// row decoders treat bytes past the end as 0, so a truncated strip never
// needs a buffer of its nominal size.
std::vector<uint8_t> ReadBlock(const TTIFFIFDContext& Ctx, int64_t Offset, int64_t Count)
{
    const int64_t avail = std::max<int64_t>(0, Ctx.StreamSize() - Ctx.Base - Offset);
    Count = std::max<int64_t>(0, std::min(Count, avail));
    std::vector<uint8_t> buffer(static_cast<size_t>(Count));
    if (Count > 0)
        buffer.resize(size_t(std::max<int64_t>(0, Ctx.ReadAt(Offset, buffer.data(), Count))));
    return buffer;
}

int64_t CountOf(const std::vector<uint32_t>& counts, size_t i) { return i < counts.size() ? counts[i] : 0; }

// Separate planes: one row of every plane is decoded, the samples are
// interleaved into a chunky row, and that row takes the chunky path, so
// every layout the chunky decoder places reads the same in either
// configuration (the predictor of each plane, undone on the interleaved row,
// gives the same samples).
void PxTIFFPutPlanarRows(const TTIFFIFDContext& Ctx, TTIFFVars& v, TPxBitmap& Bitmap, TPxIOProgressInfo& Progress,
                      TRowProgress& counter)
{
    const int32_t S = v.SamplesPerPixel, W = v.ImageWidth, H = v.ImageHeight;
    const int32_t bytes = v.BitsPerSample / 8;  // 1 or 2 (PxTIFFCanDecode)
    const size_t perPlane = v.StripOffsets.size() / size_t(S);
    const int64_t rowLength = PlaneRowLength(v, W);
    const int64_t chunkyLength = int64_t(W) * S * bytes;
    const TPxPixelFormat fmt = Bitmap.GetPixelFormat();
    std::vector<uint8_t> chunky(size_t(chunkyLength) + 8), expanded, scratch;
    int32_t first = 0;
    for (size_t a = 0; a < perPlane && first < H && !Progress.Aborted(); ++a, first += v.RowsPerStrip) {
        const int32_t rows = std::min(v.RowsPerStrip, H - first);
        std::vector<std::vector<uint8_t>> planes(static_cast<size_t>(S));
        std::vector<std::unique_ptr<TRowDecoder>> decoders(static_cast<size_t>(S));
        for (int32_t e = 0; e < S; ++e) {
            const size_t index = size_t(e) * perPlane + a;
            const int64_t offset = v.StripOffsets[index];
            int64_t count = CountOf(v.StripByteCounts, index);
            if (count == 0)
                count = Ctx.StreamSize() - Ctx.Base - offset;
            if (v.Compression == 1)
                count = std::max(count, rowLength * rows);
            planes[size_t(e)] = ReadBlock(Ctx, offset, count);
            decoders[size_t(e)] = std::make_unique<TRowDecoder>(v, planes[size_t(e)].data(),
                                                                int64_t(planes[size_t(e)].size()), rowLength, W,
                                                                rows);
        }
        for (int32_t k = 0; k < rows && !Progress.Aborted(); ++k) {
            for (int32_t e = 0; e < S; ++e) {
                const uint8_t* r = decoders[size_t(e)]->PxTIFFDecodeRow(k);
                if (!r) {
                    Progress.Fail(TPxReadFailure::Corrupt);
                    return;
                }
                for (int32_t x = 0; x < W; ++x)
                    std::memcpy(&chunky[size_t((int64_t(x) * S + e) * bytes)], r + int64_t(x) * bytes,
                                size_t(bytes));
            }
            const int32_t y = first + k;
            uint8_t* row = PrepareRow(v, chunky.data(), chunkyLength, int64_t(S) * W, expanded);
            PxTIFFUndoPredictor(v, row, W, S);
            ConvertRow(v, fmt, row, Bitmap.GetScanline(y), W, 0, y, scratch);
            counter.Count(Progress);
        }
    }
}

}  // namespace

bool PxTIFFCanDecode(const TTIFFVars& v)
{
    const int P = v.Photometric, S = v.SamplesPerPixel, B = v.BitsPerSample, c = v.Compression;
    if (v.SampleFormat != 1 && v.SampleFormat != 2)
        return false;  // floating-point samples
    if (c == 7)
        return v.PlanarConfig == 1;
    if (c != 1 && c != 2 && c != 3 && c != 4 && c != 5 && c != 8 && c != 32946 && c != 32773)
        return false;
    if (v.PlanarConfig == 2 && S > 1 && (S > 10 || (B != 8 && B != 16) || P == 6 || v.TileWidth > 0 ||
                                         v.TileLength > 0))
        return false;
    if (v.PlanarConfig != 1 && v.PlanarConfig != 2)
        return false;
    switch (P) {
    case 0:
    case 1: return (S == 1 && (B <= 8 || B == 16)) || (S == 2 && B == 8);
    case 2:
        return ((S == 3 || S == 4) && (B == 8 || B == 16)) || (S >= 5 && B == 8 && v.ExtraSampleCount > 0) ||
               (S == 1 && B == 16);
    case 3: return (S == 1 && B <= 8) || (S == 2 && B == 8);
    case 5: return (S >= 4 && B == 8) || (S == 4 && B == 16);
    case 6: return S == 3 && B == 8 && v.YCbCrSubsampling[0] == 2 && v.YCbCrSubsampling[1] == 1;
    case 8: return S == 3 && B == 8;
    default: return false;
    }
}

void PxTIFFReadStrips(const TTIFFIFDContext& Ctx, TTIFFVars& v, TPxBitmap& Bitmap, TPxIOProgressInfo& Progress)
{
    const int32_t W = v.ImageWidth, H = v.ImageHeight;
    TRowProgress counter;
    counter.Step = H > 0 ? 100.0 / H : 0;
    if (v.RowsPerStrip <= 0)
        v.RowsPerStrip = H;
    if (v.PlanarConfig == 2 && v.SamplesPerPixel > 1) {
        PxTIFFPutPlanarRows(Ctx, v, Bitmap, Progress, counter);
        return;
    }
    if (v.PlanarConfig != 1 && v.PlanarConfig != 2)
        return;
    const int64_t rowLength = ChunkyRowLength(v, W);
    const size_t strips = v.StripOffsets.size();
    int32_t first = 0;
    for (size_t i = 0; i < strips && first < H && !Progress.Aborted(); ++i, first += v.RowsPerStrip) {
        const int64_t offset = v.StripOffsets[i];
        const int32_t rows = std::min(v.RowsPerStrip, H - first);
        int64_t count = CountOf(v.StripByteCounts, i);
        if (v.Compression == 1)
            count = std::max(count, rowLength * v.RowsPerStrip);
        if (count == 0)
            count = Ctx.StreamSize() - Ctx.Base - offset;
        if (v.Compression == 7) {
            std::vector<uint8_t> block = ReadBlock(Ctx, offset, count);
            PutJPEGStrip(v, Bitmap, first, 0, block.data(), int64_t(block.size()), strips == 1, Progress);
            if (strips > 1)
                Progress.Progress(int(classlib::Trunc(double(i + 1) * 100.0 / double(strips))));
            continue;
        }
        if (v.Compression == 1 && v.BitsPerSample == 8 && v.RowsPerStrip == H && strips == 1) {
            // One uncompressed strip: read row by row, never whole.
            for (int32_t k = 0; k < rows && !Progress.Aborted(); ++k) {
                std::vector<uint8_t> row = ReadBlock(Ctx, offset + int64_t(k) * rowLength, rowLength);
                PxTIFFPutRows(v, Bitmap, k, Progress, 1, W, 0, row.data(), int64_t(row.size()), counter);
            }
            continue;
        }
        std::vector<uint8_t> block = ReadBlock(Ctx, offset, count);
        PxTIFFPutRows(v, Bitmap, first, Progress, rows, W, 0, block.data(), int64_t(block.size()), counter);
    }
}

void PxTIFFReadTiles(const TTIFFIFDContext& Ctx, TTIFFVars& v, TPxBitmap& Bitmap, TPxIOProgressInfo& Progress)
{
    if (v.PlanarConfig == 2 && v.SamplesPerPixel > 1) {
        Progress.Fail(TPxReadFailure::Unsupported);
        return;
    }
    const int32_t W = v.ImageWidth, H = v.ImageHeight, tw = v.TileWidth, tl = v.TileLength;
    const bool singleTile = v.Params && v.Params->TIFFGetTile != -1;
    const size_t start = singleTile ? size_t(std::max(v.Params->TIFFGetTile, 0)) : 0;
    const int64_t across = (int64_t(W) + tw - 1) / tw;
    const int64_t down = (int64_t(H) + tl - 1) / tl;
    TRowProgress counter;
    counter.Step = 100.0 / double(std::max<int64_t>(1, across * down * tl));
    const int64_t rowLength = ChunkyRowLength(v, tw);
    int32_t column = 0, row = 0;
    for (size_t i = start; i < v.TileOffsets.size() && !Progress.Aborted(); ++i) {
        if (row >= H)
            break;  // more tiles than the page holds
        const int64_t offset = v.TileOffsets[i];
        int64_t size = CountOf(v.TileByteCounts, i);
        if (size == 0)
            size = Ctx.StreamSize() - Ctx.Base - offset;
        if (v.Compression == 7) {
            std::vector<uint8_t> block = ReadBlock(Ctx, offset, size);
            PutJPEGStrip(v, Bitmap, row, column, block.data(), int64_t(block.size()),
                         v.TileOffsets.size() == 1 || singleTile, Progress);
        } else {
            if (v.Compression == 1)
                size = std::max(size, rowLength * tl);
            std::vector<uint8_t> block = ReadBlock(Ctx, offset, size);
            PxTIFFPutRows(v, Bitmap, row, Progress, tl, tw, column, block.data(), int64_t(block.size()), counter);
        }
        if (singleTile)
            break;
        column += tw;
        if (column >= W) {
            column = 0;
            row += tl;
        }
    }
}

namespace {

void PutMarker(std::vector<uint8_t>& Out, uint8_t Marker, const std::vector<uint8_t>& Body)
{
    const size_t n = Body.size() + 2;
    Out.insert(Out.end(), {0xFF, Marker, uint8_t(n >> 8), uint8_t(n)});
    Out.insert(Out.end(), Body.begin(), Body.end());
}

// The headers of a baseline JPEG stream (SOI up to the scan header) made
// from the page's tags, for old-style JPEG pages that keep their tables in
// the JPEGQTables, JPEGDCTables and JPEGACTables tags instead of an
// interchange format: component k uses tables k; the first component is
// subsampled by YCbCrSubsampling on YCbCr pages. The frame is Width x
// Height (the page, or a tile). Empty when a table cannot be read.
std::vector<uint8_t> HeadersFromTags(const TTIFFIFDContext& Ctx, const TTIFFVars& v, int32_t Width, int32_t Height)
{
    const int n = std::min(v.SamplesPerPixel, 4);
    std::vector<uint8_t> out = {0xFF, 0xD8};
    for (int k = 0; k < n; ++k) {
        std::vector<uint8_t> q(65);
        q[0] = uint8_t(k);
        if (Ctx.ReadAt(v.JPEGQTables[k], q.data() + 1, 64) != 64)
            return {};
        PutMarker(out, 0xDB, q);
        for (int ac = 0; ac < 2; ++ac) {
            const int64_t at = ac ? v.JPEGACTables[k] : v.JPEGDCTables[k];
            std::vector<uint8_t> h(17);
            h[0] = uint8_t((ac << 4) | k);
            if (at == 0 || Ctx.ReadAt(at, h.data() + 1, 16) != 16)
                return {};
            size_t values = 0;
            for (int i = 1; i <= 16; ++i)
                values += h[size_t(i)];
            h.resize(17 + values);
            if (values > 256 || Ctx.ReadAt(at + 16, h.data() + 17, int64_t(values)) != int64_t(values))
                return {};
            PutMarker(out, 0xC4, h);
        }
    }
    if (v.JPEGRestartInterval > 0)
        PutMarker(out, 0xDD, {uint8_t(v.JPEGRestartInterval >> 8), uint8_t(v.JPEGRestartInterval)});
    const bool sub = v.Photometric == 6 && n == 3;
    std::vector<uint8_t> frame = {8, uint8_t(Height >> 8), uint8_t(Height), uint8_t(Width >> 8), uint8_t(Width),
                                  uint8_t(n)};
    std::vector<uint8_t> scan = {uint8_t(n)};
    for (int k = 0; k < n; ++k) {
        const uint8_t sampling =
            k == 0 && sub ? uint8_t((v.YCbCrSubsampling[0] << 4) | v.YCbCrSubsampling[1]) : uint8_t(0x11);
        frame.insert(frame.end(), {uint8_t(k + 1), sampling, uint8_t(k)});
        scan.insert(scan.end(), {uint8_t(k + 1), uint8_t((k << 4) | k)});
    }
    scan.insert(scan.end(), {0, 63, 0});
    PutMarker(out, 0xC0, frame);
    PutMarker(out, 0xDA, scan);
    return out;
}

// What the headers of a JPEG stream (SOI up to the scan header) say about
// its frame. Positions are offsets in the headers; npos when absent.
struct TJpegHeaders {
    size_t Frame = std::string::npos;  // the frame header's marker
    size_t Scan = std::string::npos;   // the scan header's marker
    int32_t McuWidth = 0;
    int32_t McuHeight = 0;
    bool Restarts = false;  // a restart interval is defined
};

TJpegHeaders ParseHeaders(const std::vector<uint8_t>& h)
{
    TJpegHeaders r;
    size_t pos = 2;
    while (pos + 4 <= h.size() && h[pos] == 0xFF) {
        const uint8_t marker = h[pos + 1];
        const size_t length = (size_t(h[pos + 2]) << 8) | h[pos + 3];
        if (length < 2 || pos + 2 + length > h.size())
            break;
        if ((marker == 0xC0 || marker == 0xC1) && length >= 8) {
            r.Frame = pos;
            const size_t n = h[pos + 9];
            int hmax = 1, vmax = 1;
            for (size_t k = 0; k < n && pos + 12 + 3 * k <= pos + 2 + length; ++k) {
                const uint8_t sampling = h[pos + 11 + 3 * k];
                hmax = std::max(hmax, sampling >> 4);
                vmax = std::max(vmax, sampling & 15);
            }
            // A scan of one component has blocks of 8 x 8 as its units.
            r.McuWidth = n > 1 ? 8 * hmax : 8;
            r.McuHeight = n > 1 ? 8 * vmax : 8;
        } else if (marker == 0xDD && length >= 4) {
            r.Restarts = ((h[pos + 4] << 8) | h[pos + 5]) != 0;
        } else if (marker == 0xDA) {
            r.Scan = pos;
            break;
        }
        pos += 2 + length;
    }
    return r;
}

// The YCbCr to RGB step of a YCbCr page as its ReferenceBlackWhite and
// YCbCrCoefficients state it: Y from its black to its white spans 0 .. 255,
// Cb and Cr from their zero to their white span 0 .. 127, each truncated
// to a whole code value (as the reference decoder of these pages does);
// then R = Y + (2 - 2 Kr) Cr, B = Y + (2 - 2 Kb) Cb, G = (Y - Kb B - Kr R)
// / Kg, each rounded (halves to even) and clamped to a byte. Own is false when the page states the
// full range and the coefficients of ITU-R BT.601 (or nothing): then the
// JPEG library's own conversion gives the same colours.
struct TYCbCrStep {
    bool Own = false;
    double Black[3] = {0, 128, 128};
    double Span[3] = {255, 127, 127};
    double Kr = 0.299, Kg = 0.587, Kb = 0.114;
};

TYCbCrStep PageYCbCrStep(const TTIFFVars& v)
{
    TYCbCrStep step;
    if (v.Photometric != 6 || !v.Params)
        return step;
    const TIOParamsVals& p = *v.Params;
    const double fullRange[6] = {0, 255, 128, 255, 128, 255};
    const double bt601[3] = {0.299, 0.587, 0.114};
    const bool hasRange = p.EXIFReferenceBlackWhite[0] != -1 || p.EXIFReferenceBlackWhite[1] != -1;
    const bool hasCoefficients = p.EXIFYCbCrCoefficients[0] > 0 && p.EXIFYCbCrCoefficients[1] > 0 &&
                                 p.EXIFYCbCrCoefficients[2] > 0;
    for (int k = 0; k < 3 && hasRange; ++k) {
        const double black = p.EXIFReferenceBlackWhite[2 * k], white = p.EXIFReferenceBlackWhite[2 * k + 1];
        if (black == fullRange[2 * k] && white == fullRange[2 * k + 1])
            continue;
        if (white == black)
            continue;  // no span: the tag is of no use
        step.Own = true;
        step.Black[k] = black;
        step.Span[k] = (white - black) * 255.0 / (k == 0 ? 255.0 : 127.0);
    }
    for (int k = 0; k < 3 && hasCoefficients; ++k)
        if (p.EXIFYCbCrCoefficients[k] != bt601[k])
            step.Own = true;
    if (hasCoefficients) {
        step.Kr = p.EXIFYCbCrCoefficients[0];
        step.Kg = p.EXIFYCbCrCoefficients[1];
        step.Kb = p.EXIFYCbCrCoefficients[2];
    }
    return step;
}

uint8_t ToByte(double x) { return uint8_t(std::clamp<int64_t>(classlib::Round(x), 0, 255)); }

// Y, Cb, Cr bytes of Count pixels turned in place into blue, green, red.
void ConvertYCbCrRow(const TYCbCrStep& Step, uint8_t* Row, int32_t Count)
{
    for (int32_t x = 0; x < Count; ++x, Row += 3) {
        const double y = double(classlib::Trunc((Row[0] - Step.Black[0]) * 255.0 / Step.Span[0]));
        const double cb = double(classlib::Trunc((Row[1] - Step.Black[1]) * 255.0 / Step.Span[1]));
        const double cr = double(classlib::Trunc((Row[2] - Step.Black[2]) * 255.0 / Step.Span[2]));
        const double r = y + (2 - 2 * Step.Kr) * cr;
        const double b = y + (2 - 2 * Step.Kb) * cb;
        const double g = (y - Step.Kb * b - Step.Kr * r) / Step.Kg;
        Row[0] = ToByte(b);
        Row[1] = ToByte(g);
        Row[2] = ToByte(r);
    }
}

// Decodes one old-style JPEG stream into Out (px24RGB), subsampled chroma
// repeated over its pixels and the page's YCbCr step applied. True when the
// JPEG library read it to its end without a fault or a warning of damaged
// data (other warnings do not count). Only the page's progress handler is used: the page's aborting flag
// is left to the caller, which may try the data another way.
bool DecodeOldJPEG(std::vector<uint8_t>& Data, const TTIFFVars& v, TPxBitmap& Out, const TPxIOProgressInfo& Progress,
                   bool Report)
{
    TIOParamsVals scratch(nullptr);
    scratch.NativePixelFormat = false;
    const TYCbCrStep step = PageYCbCrStep(v);
    bool aborting = false;
    TPxReadFailure failure = TPxReadFailure::None;
    TPxIOProgressInfo sub = Progress;
    sub.Aborting = &aborting;
    sub.Failure = &failure;
    if (!Report)
        sub.Handler = nullptr;
    std::unique_ptr<classlib::TStream> stream = PxIOMemoryView(Data.data(), int64_t(Data.size()));
    try {
        PxReadJPEG(stream.get(), &Out, {.RawYCbCr = step.Own, .ReplicateChroma = true}, sub, scratch);
    } catch (...) {
        aborting = true;
    }
    if (Out.IsEmpty() || Out.GetPixelFormat() != px24RGB)
        return false;
    if (step.Own && scratch.JPEGColorSpace == 2)
        for (int y = 0; y < Out.GetHeight(); ++y)
            ConvertYCbCrRow(step, Out.GetScanline(y), Out.GetWidth());
    // Warnings that do not say the picture is damaged (extraneous bytes
    // between the strips, for one) leave the decode clean.
    return !aborting && failure == TPxReadFailure::None;
}

// Old-style JPEG strips that continue one scan after the headers. Writers
// code each strip afresh, as after a restart marker but with none written:
// the strips are joined with restart markers between them and a restart
// interval of one strip's units. Data that flows on from strip to strip
// (cut anywhere) reads with damage that way; it is then joined as it is.
// False when neither way decodes cleanly (Out holds the last try).
bool DecodeOldJPEGStrips(const std::vector<uint8_t>& Headers, bool HeadersComplete,
                         const std::vector<std::vector<uint8_t>>& Strips, const TTIFFVars& v, TPxBitmap& Out,
                         const TPxIOProgressInfo& Progress)
{
    const TJpegHeaders h = ParseHeaders(Headers);
    const int32_t rps = v.RowsPerStrip;
    const size_t n = Strips.size();
    const bool restarts = HeadersComplete && n > 1 && h.Scan != std::string::npos && !h.Restarts &&
                          h.McuHeight > 0 && rps > 0 && rps < v.ImageHeight && rps % h.McuHeight == 0 &&
                          int64_t(n - 1) * rps < v.ImageHeight;
    if (restarts) {
        const int64_t across = (int64_t(v.ImageWidth) + h.McuWidth - 1) / h.McuWidth;
        const int64_t interval = across * (rps / h.McuHeight);
        if (interval > 0 && interval <= 65535) {
            std::vector<uint8_t> data(Headers.begin(), Headers.begin() + std::ptrdiff_t(h.Scan));
            data.insert(data.end(), {0xFF, 0xDD, 0, 4, uint8_t(interval >> 8), uint8_t(interval)});
            data.insert(data.end(), Headers.begin() + std::ptrdiff_t(h.Scan), Headers.end());
            for (size_t k = 0; k < n; ++k) {
                if (k > 0)
                    data.insert(data.end(), {0xFF, uint8_t(0xD0 + (k - 1) % 8)});
                data.insert(data.end(), Strips[k].begin(), Strips[k].end());
            }
            data.insert(data.end(), {0xFF, 0xD9});
            if (DecodeOldJPEG(data, v, Out, Progress, true))
                return true;
        }
    }
    std::vector<uint8_t> data = Headers;
    for (const std::vector<uint8_t>& strip : Strips)
        data.insert(data.end(), strip.begin(), strip.end());
    TPxBitmap joined;
    const bool clean = DecodeOldJPEG(data, v, joined, Progress, true);
    if (clean || Out.IsEmpty())
        Out.Assign(&joined);
    return clean;
}

// Headers that stop short of the scan header, from a page whose first strip
// starts with it (and maybe other marker segments before it): those
// segments move from the strip to the end of the headers. True when the
// headers then reach the scan header.
bool TakeScanHeaderFromStrip(std::vector<uint8_t>& Headers, std::vector<uint8_t>& Strip)
{
    if (Headers.size() < 2 || Headers[0] != 0xFF || Headers[1] != 0xD8)
        return false;
    if (Headers.size() >= 4 && Headers[Headers.size() - 2] == 0xFF && Headers[Headers.size() - 1] == 0xD9)
        Headers.resize(Headers.size() - 2);  // an end-of-image marker closing the tables
    size_t pos = 0;
    while (pos + 4 <= Strip.size() && Strip[pos] == 0xFF) {
        const uint8_t marker = Strip[pos + 1];
        const size_t length = (size_t(Strip[pos + 2]) << 8) | Strip[pos + 3];
        if (marker == 0xD8 || marker == 0xFF || length < 2 || pos + 2 + length > Strip.size())
            return false;
        pos += 2 + length;
        if (marker == 0xDA) {
            Headers.insert(Headers.end(), Strip.begin(), Strip.begin() + std::ptrdiff_t(pos));
            Strip.erase(Strip.begin(), Strip.begin() + std::ptrdiff_t(pos));
            return true;
        }
    }
    return false;
}

// The headers of the page's JPEG data: the interchange format's bytes, or
// headers made from the table tags when there is no interchange format and
// the first strip or tile does not start a JPEG stream of its own. Complete
// when they reach the scan header.
std::vector<uint8_t> OldJPEGHeaders(const TTIFFIFDContext& Ctx, const TTIFFVars& v, bool DataStartsStream,
                                    int32_t Width, int32_t Height)
{
    if (v.JPEGIFOffset != 0)
        return ReadBlock(Ctx, v.JPEGIFOffset, v.JPEGIFByteCount);
    if (!DataStartsStream && v.JPEGQTables[0] != 0)
        return HeadersFromTags(Ctx, v, Width, Height);
    return {};
}

// Old-style JPEG tiles: each tile is a JPEG image of the tile's size of its
// own (the headers with the frame set to the tile, then the tile's data),
// placed and clipped to the page.
void ReadOldJPEGTiles(const TTIFFIFDContext& Ctx, TTIFFVars& v, TPxBitmap& Bitmap, TPxIOProgressInfo& Progress)
{
    const int32_t W = v.ImageWidth, H = v.ImageHeight, tw = v.TileWidth, tl = v.TileLength;
    if (tw <= 0 || tl <= 0 || tw > 65535 || tl > 65535) {
        Progress.Fail(TPxReadFailure::BadHeader);
        return;
    }
    const bool singleTile = v.Params->TIFFGetTile != -1;
    const size_t start = singleTile ? size_t(std::max(v.Params->TIFFGetTile, 0)) : 0;
    const int64_t across = (int64_t(W) + tw - 1) / tw;
    uint8_t head[2] = {};
    Ctx.ReadAt(v.TileOffsets[std::min(start, v.TileOffsets.size() - 1)], head, 2);
    std::vector<uint8_t> headers = OldJPEGHeaders(Ctx, v, head[0] == 0xFF && head[1] == 0xD8, tw, tl);
    const TJpegHeaders h = ParseHeaders(headers);
    if (h.Frame != std::string::npos) {
        headers[h.Frame + 5] = uint8_t(tl >> 8);
        headers[h.Frame + 6] = uint8_t(tl);
        headers[h.Frame + 7] = uint8_t(tw >> 8);
        headers[h.Frame + 8] = uint8_t(tw);
    }
    const size_t tiles = singleTile ? std::min(start + 1, v.TileOffsets.size()) : v.TileOffsets.size();
    for (size_t i = start; i < tiles && !Progress.Aborted(); ++i) {
        const int64_t index = singleTile ? 0 : int64_t(i);
        const int32_t column = int32_t(index % across * tw), row = int32_t(index / across * tl);
        if (row >= H)
            break;  // more tiles than the page holds
        int64_t size = CountOf(v.TileByteCounts, i);
        if (size == 0)
            size = Ctx.StreamSize() - Ctx.Base - v.TileOffsets[i];
        std::vector<uint8_t> data = headers;
        const std::vector<uint8_t> tile = ReadBlock(Ctx, v.TileOffsets[i], size);
        data.insert(data.end(), tile.begin(), tile.end());
        TPxBitmap decoded;
        const bool clean = DecodeOldJPEG(data, v, decoded, Progress, tiles - start == 1);
        const int32_t w = std::min(tw, W - column), rows = std::min(tl, H - row);
        if (!decoded.IsEmpty())
            CopyRectTo(decoded, &Bitmap, 0, 0, column, row, w, rows);
        if (!clean || decoded.GetWidth() < w || decoded.GetHeight() < rows)
            Progress.Fail(TPxReadFailure::Corrupt);
        if (tiles - start > 1)
            Progress.Progress(int(classlib::Trunc(double(i + 1 - start) * 100.0 / double(tiles - start))));
    }
}

}  // namespace

void PxTIFFReadOldJPEG(const TTIFFIFDContext& Ctx, TTIFFVars& v, TPxBitmap& Bitmap, TPxIOProgressInfo& Progress)
{
    if (!v.Params)
        return;
    const bool tiled = (v.TileWidth > 0 || v.TileLength > 0) && !v.TileOffsets.empty();
    const bool stripped = !v.StripByteCounts.empty() && !v.StripOffsets.empty();
    if (tiled || stripped) {
        if (!Bitmap.Allocate(v.ImageWidth, v.ImageHeight, px24RGB)) {
            Progress.Fail(TPxReadFailure::OutOfMemory);
            return;
        }
        Bitmap.Fill(0);
    }
    if (tiled) {
        ReadOldJPEGTiles(Ctx, v, Bitmap, Progress);
        return;
    }
    if (stripped) {
        const size_t strips = std::min(v.StripOffsets.size(), v.StripByteCounts.size());
        // Strips that each start a JPEG stream of their own are decoded one
        // by one, stacked by the rows each gives. Otherwise the strips
        // continue one scan after the headers.
        uint8_t head[2] = {};
        Ctx.ReadAt(v.StripOffsets[0], head, 2);
        const bool startsStream = head[0] == 0xFF && head[1] == 0xD8;
        if (strips > 1 && startsStream) {
            int32_t row = 0;
            for (size_t i = 0; i < strips && !Progress.Aborted() && row < v.ImageHeight; ++i) {
                std::vector<uint8_t> data = ReadBlock(Ctx, v.StripOffsets[i], v.StripByteCounts[i]);
                TPxBitmap decoded;
                const bool clean = DecodeOldJPEG(data, v, decoded, Progress, false);
                if (!decoded.IsEmpty()) {
                    CopyRectTo(decoded, &Bitmap, 0, 0, 0, row, decoded.GetWidth(), decoded.GetHeight());
                    row += decoded.GetHeight();
                }
                if (!clean)
                    Progress.Fail(TPxReadFailure::Corrupt);
                Progress.Progress(int(classlib::Trunc(double(i + 1) / double(strips) * 100.0)));
            }
            if (row < v.ImageHeight)
                Progress.Fail(TPxReadFailure::Corrupt);
            return;
        }
        std::vector<uint8_t> headers = OldJPEGHeaders(Ctx, v, startsStream, v.ImageWidth, v.ImageHeight);
        if (!startsStream && headers.empty() && v.JPEGIFOffset == 0 && v.JPEGQTables[0] != 0) {
            Progress.Fail(TPxReadFailure::Corrupt);  // the table tags point at no tables
            return;
        }
        std::vector<std::vector<uint8_t>> data(strips);
        for (size_t k = 0; k < strips; ++k)
            data[k] = ReadBlock(Ctx, v.StripOffsets[k], v.StripByteCounts[k]);
        bool complete = ParseHeaders(headers).Scan != std::string::npos;
        if (!complete && !data.empty())
            complete = TakeScanHeaderFromStrip(headers, data[0]);
        TPxBitmap decoded;
        const bool clean = DecodeOldJPEGStrips(headers, complete, data, v, decoded, Progress);
        if (!decoded.IsEmpty())
            CopyRectTo(decoded, &Bitmap, 0, 0, 0, 0, decoded.GetWidth(), decoded.GetHeight());
        if (!clean || decoded.GetHeight() < v.ImageHeight || decoded.GetWidth() < v.ImageWidth)
            Progress.Fail(TPxReadFailure::Corrupt);
        return;
    }
    int64_t start = v.JPEGIFOffset;
    if (start == 0 && !v.StripOffsets.empty())
        start = v.StripOffsets[0];
    if (!Ctx.Fits(start, 1)) {
        Progress.Abort();
        return;
    }
    Ctx.Stream->SetPosition(Ctx.Base + start);
    const int64_t length = PxGetJPEGLength(Ctx.Stream);
    if (length <= 0 || !Ctx.Fits(start, length)) {
        Progress.Abort();
        return;
    }
    std::vector<uint8_t> data = ReadBlock(Ctx, start, length);
    TPxBitmap decoded;
    const bool clean = DecodeOldJPEG(data, v, decoded, Progress, true);
    if (!decoded.IsEmpty())
        Bitmap.Assign(&decoded);
    if (!clean)
        Progress.Fail(TPxReadFailure::Corrupt);
}

}  // namespace imaging
