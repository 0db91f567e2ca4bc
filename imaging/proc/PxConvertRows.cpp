#include "imaging/proc/PxConvertRows.h"

#include "imaging/proc/PxEffects.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <span>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxLists.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/PxConvert.h"
#include "imaging/proc/PxQuantizer.h"

namespace imaging {

const int32_t PxBayer8x8[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21},
};

uint8_t PxBitExpansion24[256][24];

void PxBuildBitExpansion()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (int v = 0; v < 256; ++v)
            for (int i = 0; i < 8; ++i)
                std::memset(&PxBitExpansion24[v][3 * i], (v & PxBitMask[i]) ? 255 : 0, 3);
    });
}

namespace {

// Limits X2, Y2 to the image and X1, Y1 to 0; false when nothing is left.
bool ClipRect(TPxBitmap& Bitmap, int& X1, int& Y1, int& X2, int& Y2)
{
    X2 = std::min(X2, Bitmap.GetWidth());
    Y2 = std::min(Y2, Bitmap.GetHeight());
    X1 = std::max(X1, 0);
    Y1 = std::max(Y1, 0);
    return X1 < X2 && Y1 < Y2;
}

// Progress of the rectangle routines: Trunc(k * 100 / (rows - 0.5)) after
// row k, limited to 100.
class TRectProgress {
public:
    TRectProgress(const TPxProgressEvent& Event, classlib::TObject* Sender, int Rows)
        : event_(Event), sender_(Sender), step_(100.0 / (Rows - 0.5))
    {
    }
    void RowDone()
    {
        if (!event_)
            return;
        ++rows_;
        event_(sender_, static_cast<int>(std::min<int64_t>(classlib::Trunc(rows_ * step_), 100)));
    }

private:
    const TPxProgressEvent& event_;
    classlib::TObject* sender_;
    double step_;
    int rows_ = 0;
};

void ReportRow(TPxProgressRec* Progress, int RowsDone)
{
    if (!Progress || !Progress->OnProgress)
        return;
    Progress->OnProgress(Progress->Sender, static_cast<int>(std::min<int64_t>(classlib::Trunc(Progress->Step * RowsDone), 100)));
}

int FloatLevel255(float v)
{
    const double d = static_cast<double>(v) * 255;
    if (!(d > 0))
        return 0;
    return d >= 255 ? 255 : static_cast<int>(d);
}

TPxRGB Grey(uint8_t v)
{
    return TPxRGB{v, v, v};
}

std::array<TPxRGB, 256> PaletteOf(TPxBitmap& Bitmap)
{
    std::array<TPxRGB, 256> pal{};
    for (int i = 0; i < 256; ++i)
        pal[static_cast<size_t>(i)] = Bitmap.GetPaletteEntry(i);
    return pal;
}

// The pixels of a row of any format as 8-bit RGB. Scaled16: 16-bit values
// as Trunc(v * 255 / 65535) (the mean colour), else their high byte.
void ReadRowRGB(TPxPixelFormat Format, const uint8_t* s, int w, const std::array<TPxRGB, 256>& pal, TPxRGB* out,
                bool Scaled16)
{
    const auto word = [s](size_t i) {
        uint16_t v;
        std::memcpy(&v, s + 2 * i, 2);
        return v;
    };
    const auto to8 = [Scaled16](uint16_t v) {
        return static_cast<uint8_t>(Scaled16 ? static_cast<uint32_t>(v) * 255 / 65535 : v >> 8);
    };
    for (int x = 0; x < w; ++x) {
        const size_t i = static_cast<size_t>(x);
        switch (Format) {
        case px1g: out[i] = Grey(PxGetBit(s, x) ? 255 : 0); break;
        case px8p: out[i] = pal[s[i]]; break;
        case px8g: out[i] = Grey(s[i]); break;
        case px16g: out[i] = Grey(to8(word(i))); break;
        case px24RGB: std::memcpy(&out[i], s + 3 * i, 3); break;
        case px32f: {
            float v;
            std::memcpy(&v, s + 4 * i, 4);
            out[i] = Grey(static_cast<uint8_t>(FloatLevel255(v)));
            break;
        }
        case pxCMYK: {
            TPxCMYK p;
            std::memcpy(&p, s + 4 * i, 4);
            out[i] = PxCMYKToRGBPixel(p);
            break;
        }
        case pxRGB48:
            out[i] = TPxRGB{to8(word(3 * i + 2)), to8(word(3 * i + 1)), to8(word(3 * i))};
            break;
        case pxCIELab: {
            TPxCIELab p;
            std::memcpy(&p, s + 3 * i, 3);
            out[i] = PxCIELabToRGBPixel(p);
            break;
        }
        case px32RGB: std::memcpy(&out[i], s + 4 * i, 3); break;
        default: out[i] = Grey(0); break;
        }
    }
}

// A new image for the result of a reduction of Bitmap: same storage rule,
// row alignment and allocator.
std::unique_ptr<TPxBitmap> NewLike(TPxBitmap& Bitmap, TPxPixelFormat Format)
{
    auto image = std::make_unique<TPxBitmap>();
    image->FileThreshold = Bitmap.FileThreshold;
    image->SetRowAlignment(Bitmap.GetRowAlignment());
    image->SetAllocator(Bitmap.GetAllocator());
    image->BiLevelMethod = Bitmap.BiLevelMethod;
    if (!image->Allocate(Bitmap.GetWidth(), Bitmap.GetHeight(), Format))
        throw classlib::EOutOfMemory(L"No storage for the reduced image");
    return image;
}

// Bitmap takes the pixels of Image, keeping its storage location and its own
// alpha channel.
void TakePixels(TPxBitmap& Bitmap, TPxBitmap& Image)
{
    if (!AssignImage(Bitmap, &Image))
        throw classlib::EOutOfMemory(L"No storage for the reduced image");
}

TPxRGB NegativeRGB(const TPxRGB& c)
{
    return TPxRGB{static_cast<uint8_t>(255 - c.b), static_cast<uint8_t>(255 - c.g), static_cast<uint8_t>(255 - c.r)};
}

}  // namespace

// ---------------------------------------------------------------------------
// Grey and negative

void PxConvertToGrayRect(TPxBitmap* Bitmap, int X1, int Y1, int X2, int Y2, classlib::TObject* Sender,
                         const TPxProgressEvent& OnProgress)
{
    if (!Bitmap || Bitmap->GetPixelFormat() != px24RGB || !ClipRect(*Bitmap, X1, Y1, X2, Y2))
        return;
    TRectProgress progress(OnProgress, Sender, Y2 - Y1);
    TPxAccessScope access(*Bitmap, pxAccessReadWrite);
    for (int y = Y1; y < Y2; ++y) {
        TPxRGB* row = reinterpret_cast<TPxRGB*>(Bitmap->GetScanline(y));
        for (int x = X1; x < X2; ++x)
            row[x] = Grey(static_cast<uint8_t>(PxRGB2Gray(row[x])));
        progress.RowDone();
    }
}

bool PxNegativeRectMMX(TPxBitmap* Bitmap, int X1, int Y1, int X2, int Y2, classlib::TObject* Sender,
                       const TPxProgressEvent& OnProgress)
{
    if (!Bitmap || !PxHasMMX() || !ClipRect(*Bitmap, X1, Y1, X2, Y2))
        return false;
    const TPxPixelFormat format = Bitmap->GetPixelFormat();
    size_t offset = 0;
    size_t count = 0;
    if (format == px1g && X1 % 8 == 0 && (X2 - X1) % 8 == 0) {
        offset = static_cast<size_t>(X1 / 8);
        count = static_cast<size_t>((X2 - X1) / 8);
    } else if (format == px24RGB) {
        offset = 3 * static_cast<size_t>(X1);
        count = 3 * static_cast<size_t>(X2 - X1);
    } else {
        return false;
    }
    if (count % 8 != 0)
        return false;
    TRectProgress progress(OnProgress, Sender, Y2 - Y1);
    TPxAccessScope access(*Bitmap, pxAccessReadWrite);
    for (int y = Y1; y < Y2; ++y) {
        uint8_t* p = Bitmap->GetScanline(y) + offset;
        for (size_t i = 0; i < count; i += 8) {
            uint64_t v;
            std::memcpy(&v, p + i, 8);
            v = ~v;
            std::memcpy(p + i, &v, 8);
        }
        progress.RowDone();
    }
    return true;
}

void PxNegativeRect(TPxBitmap* Bitmap, int X1, int Y1, int X2, int Y2, classlib::TObject* Sender,
                    const TPxProgressEvent& OnProgress)
{
    if (!Bitmap)
        return;
    if (PxNegativeRectMMX(Bitmap, X1, Y1, X2, Y2, Sender, OnProgress))
        return;
    const TPxPixelFormat format = Bitmap->GetPixelFormat();
    if (format == px8p) {
        TPxRGB* pal = Bitmap->GetPaletteBuffer();
        if (!pal)
            return;
        for (int i = 0; i < Bitmap->GetPaletteLen(); ++i)
            pal[i] = NegativeRGB(pal[i]);
        Bitmap->SyncVclPalette();
        return;
    }
    if (!ClipRect(*Bitmap, X1, Y1, X2, Y2))
        return;
    TRectProgress progress(OnProgress, Sender, Y2 - Y1);
    TPxAccessScope access(*Bitmap, pxAccessReadWrite);
    for (int y = Y1; y < Y2; ++y) {
        uint8_t* row = Bitmap->GetScanline(y);
        for (int x = X1; x < X2; ++x) {
            const size_t i = static_cast<size_t>(x);
            switch (format) {
            case px1g: row[i >> 3] ^= PxBitMask[i & 7]; break;
            case px8g: row[i] = static_cast<uint8_t>(~row[i]); break;
            case px16g:
                row[2 * i] = static_cast<uint8_t>(~row[2 * i]);
                row[2 * i + 1] = static_cast<uint8_t>(~row[2 * i + 1]);
                break;
            case px24RGB:
                for (size_t k = 0; k < 3; ++k)
                    row[3 * i + k] = static_cast<uint8_t>(255 - row[3 * i + k]);
                break;
            case px32f: {
                float v;
                std::memcpy(&v, row + 4 * i, 4);
                v = 1.0f - v;
                std::memcpy(row + 4 * i, &v, 4);
                break;
            }
            case pxCMYK: {
                TPxCMYK p;
                std::memcpy(&p, row + 4 * i, 4);
                p = PxRGBToCMYKPixel(NegativeRGB(PxCMYKToRGBPixel(p)));
                std::memcpy(row + 4 * i, &p, 4);
                break;
            }
            case pxRGB48:
                for (size_t k = 0; k < 3; ++k) {
                    uint16_t v;
                    std::memcpy(&v, row + 6 * i + 2 * k, 2);
                    v = static_cast<uint16_t>(65535 - v);
                    std::memcpy(row + 6 * i + 2 * k, &v, 2);
                }
                break;
            case pxCIELab: {
                TPxCIELab p;
                std::memcpy(&p, row + 3 * i, 3);
                p = PxRGBToCIELabPixel(NegativeRGB(PxCIELabToRGBPixel(p)));
                std::memcpy(row + 3 * i, &p, 3);
                break;
            }
            case px32RGB:
                for (size_t k = 0; k < 3; ++k)
                    row[4 * i + k] = static_cast<uint8_t>(255 - row[4 * i + k]);
                break;
            default: break;
            }
        }
        progress.RowDone();
    }
}

void PxInvertBuffer(void* P, int N)
{
    uint8_t* p = static_cast<uint8_t*>(P);
    for (int i = 0; i < N; ++i)
        p[i] = static_cast<uint8_t>(~p[i]);
}

void PxInvertBitmapBits(TPxBitmap* Bitmap)
{
    if (!Bitmap)
        return;
    const int h = Bitmap->GetHeight();
    const int n = (Bitmap->GetRowLen() / 2) * 2;
    TPxAccessScope access(*Bitmap, pxAccessReadWrite);
    for (int y = 0; y < h; ++y)
        PxInvertBuffer(Bitmap->GetScanline(y), n);
}

// ---------------------------------------------------------------------------
// Bilevel reduction

void PxConvertToBWOrdered(TPxBitmap* Bitmap, TPxProgressRec* Progress)
{
    if (!Bitmap || Bitmap->GetPixelFormat() != px24RGB)
        return;
    const int w = Bitmap->GetWidth();
    const int h = Bitmap->GetHeight();
    std::unique_ptr<TPxBitmap> bits = NewLike(*Bitmap, px1g);
    if (Progress)
        Progress->Step = 100 / (h + 0.5);
    {
        TPxAccessScope readSource(*Bitmap, pxAccessRead);
        TPxAccessScope writeBits(*bits, pxAccessWrite);
        const size_t len = static_cast<size_t>(bits->GetRowLen());
        for (int y = 0; y < h; ++y) {
            const TPxRGB* s = reinterpret_cast<const TPxRGB*>(Bitmap->GetScanline(y));
            uint8_t* t = bits->GetScanline(y);
            std::memset(t, 0, len);
            for (int x = 0; x < w; ++x) {
                const TPxRGB c = s[x];
                const int f = (c.r >= 251 && c.g >= 251 && c.b >= 251) ? 64 : PxRGB2Gray(c) >> 2;
                if (PxBayer8x8[x & 7][y & 7] < f)
                    t[x >> 3] |= PxBitMask[x & 7];
            }
            ReportRow(Progress, y + 1);
        }
    }
    TakePixels(*Bitmap, *bits);
}

void PxConvertToBWThreshold(TPxBitmap* Bitmap, int Threshold, TPxProgressRec* Progress)
{
    if (!Bitmap || Bitmap->GetPixelFormat() != px24RGB)
        return;
    std::unique_ptr<TPxBitmap> bits = NewLike(*Bitmap, px1g);
    PxThresholdToBilevel(Bitmap, bits.get(), Threshold, Progress);
    TakePixels(*Bitmap, *bits);
}

void PxThresholdToBilevel(TPxBitmap* Source, TPxBitmap* Dest, int Threshold, TPxProgressRec* Progress)
{
    if (!Source || !Dest || Source == Dest)
        return;
    const TPxPixelFormat format = Source->GetPixelFormat();
    const int w = Source->GetWidth();
    const int h = Source->GetHeight();
    if (Dest->GetWidth() != w || Dest->GetHeight() != h || Dest->GetPixelFormat() != px1g)
        if (!Dest->Allocate(w, h, px1g))
            return;
    if (format == px1g) {
        const size_t n = static_cast<size_t>(std::min(Dest->GetRowLen(), Source->GetRowLen()));
        TPxAccessScope readSource(*Source, pxAccessRead);
        for (int y = 0; y < h; ++y)
            std::memcpy(Dest->GetScanline(y), Source->GetScanline(y), n);
        Source->CopyPaletteTo(Dest);
        return;
    }
    int t = Threshold;
    if (t == -2)
        t = PxMaxEntropyThreshold(Source);  // stays -2 (all white) when no split scores above 0
    else if (t == -1) {
        int r, g, b;
        PxAverageColor(Source, r, g, b);
        t = PxRGB2Gray(PxMakeRGB(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)));
    }
    const auto pal = PaletteOf(*Source);
    std::vector<TPxRGB> rgb(static_cast<size_t>(w));
    TPxAccessScope readSource(*Source, pxAccessRead);
    TPxAccessScope writeDest(*Dest, pxAccessWrite);
    const size_t len = static_cast<size_t>(Dest->GetRowLen());
    for (int y = 0; y < h; ++y) {
        ReadRowRGB(format, Source->GetScanline(y), w, pal, rgb.data(), false);
        uint8_t* d = Dest->GetScanline(y);
        std::memset(d, 0, len);
        for (int x = 0; x < w; ++x)
            if (PxRGB2Gray(rgb[static_cast<size_t>(x)]) >= t)
                d[x >> 3] |= PxBitMask[x & 7];
        if (Progress && Progress->OnProgress)
            Progress->OnProgress(Progress->Sender,
                                 static_cast<int>(std::min<int64_t>(classlib::Trunc((y + 1) * 100 / (h + 0.5)), 100)));
    }
}

void PxQuantizeInPlace(TPxBitmap* Bitmap, int NumColors, TPxRGB* Palette, classlib::TObject* Sender,
                       const TPxProgressEvent& OnProgress)
{
    if (!Bitmap || Bitmap->GetPixelFormat() != px24RGB || NumColors < 1)
        return;
    std::vector<TPxRGB> own;
    if (!Palette) {
        own.assign(static_cast<size_t>(NumColors), TPxRGB{0, 0, 0});
        Palette = own.data();
    }
    TPxQuantizer quantizer(*Bitmap, std::span<TPxRGB>(Palette, static_cast<size_t>(NumColors)), 134217727, NumColors);
    const int w = Bitmap->GetWidth();
    const int h = Bitmap->GetHeight();
    const double step = 100 / (h + 0.5);
    TPxAccessScope access(*Bitmap, pxAccessReadWrite);
    for (int y = 0; y < h; ++y) {
        TPxRGB* row = reinterpret_cast<TPxRGB*>(Bitmap->GetScanline(y));
        for (int x = 0; x < w; ++x) {
            const int i = quantizer.ColorIndex(row[x]);
            row[x] = Palette[i >= 0 && i < NumColors ? i : 0];
        }
        if (OnProgress)
            OnProgress(Sender, static_cast<int>(std::min<int64_t>(classlib::Trunc(step * (y + 1)), 100)));
    }
}

std::unique_ptr<TPxBitmap> PxBilevelFromTwoColors(TPxBitmap* Bitmap, TPxRGB& Color0, TPxRGB& Color1)
{
    if (!Bitmap || Bitmap->IsEmpty())
        return nullptr;
    const TPxPixelFormat format = Bitmap->GetPixelFormat();
    const int w = Bitmap->GetWidth();
    const int h = Bitmap->GetHeight();
    THash1 colours(13);
    std::unique_ptr<TPxBitmap> bits = NewLike(*Bitmap, px1g);
    const auto pal = PaletteOf(*Bitmap);
    std::vector<TPxRGB> rgb(static_cast<size_t>(w));
    {
        TPxAccessScope readSource(*Bitmap, pxAccessRead);
        TPxAccessScope writeBits(*bits, pxAccessWrite);
        const size_t len = static_cast<size_t>(bits->GetRowLen());
        for (int y = 0; y < h && colours.Count <= 2; ++y) {
            ReadRowRGB(format, Bitmap->GetScanline(y), w, pal, rgb.data(), false);
            uint8_t* t = bits->GetScanline(y);
            std::memset(t, 0, len);
            for (int x = 0; x < w; ++x) {
                const TPxRGB c = rgb[static_cast<size_t>(x)];
                const uint32_t key = (static_cast<uint32_t>(c.r) << 16) | (static_cast<uint32_t>(c.g) << 8) | c.b;
                if (PxHash1AddKey(&colours, key) == 1) {
                    if (colours.Count == 1)
                        Color0 = c;
                    else
                        Color1 = c;
                }
                if (!(c == Color0))
                    t[x >> 3] |= PxBitMask[x & 7];
            }
        }
    }
    if (colours.Count != 2)
        return nullptr;
    const auto grey = [](const TPxRGB& c) {
        return static_cast<uint8_t>(classlib::Round(
            (c.r * PxGrayWeightR + c.g * PxGrayWeightG + c.b * PxGrayWeightB) / 100.0));
    };
    if (grey(Color1) < grey(Color0)) {
        PxInvertBitmapBits(bits.get());
        std::swap(Color0, Color1);
    }
    return bits;
}

int PxNearestPaletteIndex(const TPxRGB* Palette, int Count, const TPxRGB& Color)
{
    int best = 0;
    int bestDistance = 0x7fffffff;
    for (int i = 0; i < Count && Palette; ++i) {
        const TPxRGB& p = Palette[i];
        const int d = std::abs(p.r - Color.r) + std::abs(p.g - Color.g) + std::abs(p.b - Color.b);
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

void PxAverageColor(TPxBitmap* Bitmap, int& R, int& G, int& B)
{
    R = G = B = 128;
    if (!Bitmap || Bitmap->IsEmpty())
        return;
    try {
        const TPxPixelFormat format = Bitmap->GetPixelFormat();
        const int w = Bitmap->GetWidth();
        const int h = Bitmap->GetHeight();
        const auto pal = PaletteOf(*Bitmap);
        std::vector<TPxRGB> rgb(static_cast<size_t>(w));
        int64_t r = 0, g = 0, b = 0;
        TPxAccessScope readSource(*Bitmap, pxAccessRead);
        for (int y = 0; y < h; ++y) {
            ReadRowRGB(format, Bitmap->GetScanline(y), w, pal, rgb.data(), true);
            int64_t sr = 0, sg = 0, sb = 0;
            for (const TPxRGB& c : rgb) {
                sr += c.r;
                sg += c.g;
                sb += c.b;
            }
            r += sr / w;
            g += sg / w;
            b += sb / w;
        }
        R = static_cast<int>(r / h);
        G = static_cast<int>(g / h);
        B = static_cast<int>(b / h);
    } catch (...) {
        // A documented outcome: an image that cannot be read averages to
        // mid grey.
        R = G = B = 128;
    }
}

void PxApplyFilter3x3(TPxBitmap* Bitmap, const TPxFilter3x3& Filter, int X1, int Y1, int X2, int Y2)
{
    if (!Bitmap || Bitmap->GetPixelFormat() != px8g || !ClipRect(*Bitmap, X1, Y1, X2, Y2))
        return;
    const int w = Bitmap->GetWidth();
    const int h = Bitmap->GetHeight();
    const int divisor = Filter.Divisor == 0 ? 1 : Filter.Divisor;
    std::vector<std::array<int32_t, 256>> products(9);
    for (size_t k = 0; k < 9; ++k)
        for (int v = 0; v < 256; ++v)
            products[k][static_cast<size_t>(v)] = Filter.Weights[k] * v;
    // Unfiltered copies of the rows above, at and below the current row:
    // rows are written back as soon as they are done.
    std::vector<uint8_t> rows[3];
    for (auto& row : rows)
        row.resize(static_cast<size_t>(w));
    TPxAccessScope access(*Bitmap, pxAccessReadWrite);
    const auto load = [&](std::vector<uint8_t>& buffer, int y) {
        std::memcpy(buffer.data(), Bitmap->GetScanline(std::clamp(y, 0, h - 1)), static_cast<size_t>(w));
    };
    load(rows[0], Y1 - 1);
    load(rows[1], Y1);
    load(rows[2], Y1 + 1);
    std::vector<uint8_t> out(static_cast<size_t>(w));
    for (int y = Y1; y < Y2; ++y) {
        for (int x = X1; x < X2; ++x) {
            const size_t cols[3] = {static_cast<size_t>(std::max(x - 1, 0)), static_cast<size_t>(x),
                                    static_cast<size_t>(std::min(x + 1, w - 1))};
            int32_t sum = 0;
            for (size_t r = 0; r < 3; ++r)
                for (size_t c = 0; c < 3; ++c)
                    sum += products[3 * r + c][rows[r][cols[c]]];
            out[static_cast<size_t>(x)] = static_cast<uint8_t>(PxClampByte(std::abs(sum) / divisor));
        }
        std::memcpy(Bitmap->GetScanline(y) + X1, out.data() + X1, static_cast<size_t>(X2 - X1));
        if (y + 1 < Y2) {
            std::swap(rows[0], rows[1]);
            std::swap(rows[1], rows[2]);
            load(rows[2], y + 2);
        }
    }
}

// ---------------------------------------------------------------------------
// classlib::TBitmap

void PxConvert1To24Vcl(classlib::TBitmap* Source, classlib::TBitmap* Dest, TPxProgressRec* Progress)
{
    if (!Source || !Dest)
        return;
    PxBuildBitExpansion();
    const int w = Source->GetWidth();
    const int h = Source->GetHeight();
    Dest->SetSize(1, 1);
    Dest->SetPixelFormat(classlib::pf24bit);
    Dest->SetSize(w, h);
    if (Progress)
        Progress->Step = 100 / (h + 0.5);
    const int whole = w / 8;
    const int rest = w % 8;
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = static_cast<const uint8_t*>(Source->GetScanLine(y));
        uint8_t* d = static_cast<uint8_t*>(Dest->GetScanLine(y));
        for (int i = 0; i < whole; ++i, d += 24)
            std::memcpy(d, PxBitExpansion24[s[i]], 24);
        if (rest > 0)
            std::memcpy(d, PxBitExpansion24[s[whole]], 3 * static_cast<size_t>(rest));
        ReportRow(Progress, y + 1);
    }
}

}  // namespace imaging
