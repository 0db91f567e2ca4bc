#include "imaging/proc/PxEffects.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "classlib/SysUtils.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxGeometry.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/proc/PxConvert.h"

namespace imaging {

// ---------------------------------------------------------------------------
// Predefined 3 x 3 filters

TPxFilter3x3List* PxFilter3x3List = nullptr;

namespace {

struct TBuiltinFilter {
    const wchar_t* Name;
    TPxFilter3x3 Filter;
};

const TBuiltinFilter BuiltinFilters[PxBuiltinFilter3x3Count] = {
    {L"None", {{0, 0, 0, 0, 1, 0, 0, 0, 0}, 0}},
    {L"Blur", {{1, 1, 1, 1, 1, 1, 1, 1, 1}, 9}},
    {L"Edges", {{1, 1, 1, 1, -8, 1, 1, 1, 1}, 1}},
    {L"Emboss", {{-1, 0, 1, -1, 1, 1, -1, 0, 1}, 1}},
    {L"High Pass 1", {{0, -1, 0, -1, 5, -1, 0, -1, 0}, 1}},
    {L"High Pass 2", {{-1, -1, -1, -1, 9, -1, -1, -1, -1}, 1}},
    {L"High Pass 3", {{1, -2, 1, -2, 5, -2, 1, -2, 1}, 1}},
    {L"Low Pass 1", {{1, 1, 1, 1, 1, 1, 1, 1, 1}, 10}},
    {L"Low Pass 2", {{1, 2, 1, 2, 4, 2, 1, 2, 1}, 16}},
};

constexpr int BlurFilterIndex = 1;

}  // namespace

const TPxFilter3x3& PxBuiltinFilter3x3(int Index)
{
    if (Index < 0 || Index >= PxBuiltinFilter3x3Count)
        Index = 0;
    return BuiltinFilters[Index].Filter;
}

void PxAddFilter3x3(const TPxFilter3x3& Filter, const std::wstring& Name)
{
    if (!PxFilter3x3List)
        PxFilter3x3List = new TPxFilter3x3List;
    PxFilter3x3List->Filters.push_back(std::make_unique<TPxFilter3x3>(Filter));
    try {
        PxFilter3x3List->Names.Add(Name);
    } catch (...) {
        PxFilter3x3List->Filters.pop_back();
        throw;
    }
}

void PxCreateFilter3x3List()
{
    PxFreeFilter3x3List();
    PxFilter3x3List = new TPxFilter3x3List;
    for (const TBuiltinFilter& f : BuiltinFilters)
        PxAddFilter3x3(f.Filter, f.Name);
}

void PxFreeFilter3x3List()
{
    delete PxFilter3x3List;
    PxFilter3x3List = nullptr;
}

namespace {

// ---------------------------------------------------------------------------
// Shared helpers

size_t Sz(int64_t v)
{
    return static_cast<size_t>(v);
}

uint16_t Word(const uint8_t* p, size_t i)
{
    uint16_t v;
    std::memcpy(&v, p + 2 * i, 2);
    return v;
}

void PutWord(uint8_t* p, size_t i, uint16_t v)
{
    std::memcpy(p + 2 * i, &v, 2);
}

int FloatLevel(float v)
{
    const double d = static_cast<double>(v) * 255;
    if (!(d > 0))
        return 0;
    return d >= 255 ? 255 : static_cast<int>(d);
}

int GrayOf(uint8_t r, uint8_t g, uint8_t b)
{
    return PxRGB2Gray(TPxRGB{b, g, r});
}

// The grey levels 0..255 of the w pixels of a row of a format other than
// px1g. Palette: the image's 256 palette entries (px8p).
void RowGray(TPxPixelFormat Format, const uint8_t* s, int w, const std::vector<TPxRGB>& Palette, int* out)
{
    for (int x = 0; x < w; ++x) {
        const size_t i = Sz(x);
        int v = 0;
        switch (Format) {
        case px8p:
            v = PxRGB2Gray(Palette[s[i]]);
            break;
        case px8g:
            v = s[i];
            break;
        case px16g:
            v = Word(s, i) >> 8;
            break;
        case px24RGB:
            v = GrayOf(s[3 * i + 2], s[3 * i + 1], s[3 * i]);
            break;
        case px32RGB:
            v = GrayOf(s[4 * i + 2], s[4 * i + 1], s[4 * i]);
            break;
        case px32f: {
            float f;
            std::memcpy(&f, s + 4 * i, 4);
            v = FloatLevel(f);
            break;
        }
        case pxCMYK: {
            TPxCMYK c;
            std::memcpy(&c, s + 4 * i, 4);
            v = PxRGB2Gray(PxCMYKToRGBPixel(c));
            break;
        }
        case pxRGB48:
            v = GrayOf(static_cast<uint8_t>(Word(s, 3 * i) >> 8), static_cast<uint8_t>(Word(s, 3 * i + 1) >> 8),
                       static_cast<uint8_t>(Word(s, 3 * i + 2) >> 8));
            break;
        case pxCIELab: {
            TPxCIELab c;
            std::memcpy(&c, s + 3 * i, 3);
            v = PxRGB2Gray(PxCIELabToRGBPixel(c));
            break;
        }
        default:
            break;
        }
        out[x] = std::clamp(v, 0, 255);
    }
}

int64_t PixelCount(TPxBitmap& Bitmap)
{
    return static_cast<int64_t>(Bitmap.GetWidth()) * Bitmap.GetHeight();
}

// Copies the pixel rows of a px8g image into a new memory-held px8g image of
// the same size (the unblurred alpha of the shadows).
std::unique_ptr<TPxBitmap> CopyGray8(TPxBitmap& Source)
{
    const int w = Source.GetWidth();
    const int h = Source.GetHeight();
    auto copy = std::make_unique<TPxBitmap>();
    copy->FileThreshold = Source.FileThreshold;
    if (!copy->Allocate(w, h, px8g))
        throw std::bad_alloc();
    TPxAccessScope read(Source, pxAccessRead);
    TPxAccessScope write(*copy, pxAccessWrite);
    for (int y = 0; y < h; ++y)
        std::memcpy(copy->GetScanline(y), Source.GetScanline(y), Sz(w));
    return copy;
}

// The alpha channel of Bitmap (created at 255 when absent); nullptr when it
// does not have the image's size, so that no row of it is read out of range.
TPxBitmap* AlphaOf(TPxBitmap& Bitmap)
{
    TPxBitmap* alpha = Bitmap.GetAlphaChannel();
    if (!alpha || alpha->GetWidth() != Bitmap.GetWidth() || alpha->GetHeight() != Bitmap.GetHeight() ||
        alpha->GetPixelFormat() != px8g)
        return nullptr;
    return alpha;
}

}  // namespace

// ---------------------------------------------------------------------------
// Histogram and threshold

void PxGrayHistogram(TPxBitmap* Bitmap, TPxHistogram& Histogram)
{
    Histogram.fill(0);
    if (!Bitmap || Bitmap->IsEmpty())
        return;
    const TPxPixelFormat format = Bitmap->GetPixelFormat();
    if (format == pxNoPixels)
        return;
    const int w = Bitmap->GetWidth();
    const int h = Bitmap->GetHeight();
    TPxAccessScope read(*Bitmap, pxAccessRead);
    if (format == px1g) {
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = Bitmap->GetScanline(y);
            uint32_t set = 0;
            for (int x = 0; x < w; ++x)
                if (PxGetBit(row, x))
                    ++set;
            Histogram[1] += set;
            Histogram[0] += static_cast<uint32_t>(w) - set;
        }
        return;
    }
    std::vector<TPxRGB> palette(256, TPxRGB{0, 0, 0});
    if (format == px8p)
        for (int i = 0; i < 256; ++i)
            palette[Sz(i)] = Bitmap->GetPaletteEntry(i);
    std::vector<int> grey(Sz(w));
    for (int y = 0; y < h; ++y) {
        RowGray(format, Bitmap->GetScanline(y), w, palette, grey.data());
        for (int v : grey)
            ++Histogram[Sz(v)];
    }
}

int PxMaxEntropyThreshold(TPxBitmap* Bitmap)
{
    TPxHistogram histogram;
    PxGrayHistogram(Bitmap, histogram);
    if (!Bitmap)
        return -2;
    const int64_t total = PixelCount(*Bitmap);
    if (total <= 0)
        return -2;
    double p[256];
    double htot = 0;
    for (size_t i = 0; i < 256; ++i) {
        p[i] = static_cast<double>(histogram[i]) / static_cast<double>(total);
        if (p[i] > 0)
            htot -= p[i] * std::log(p[i]);
    }
    int threshold = -2;
    double best = 0;
    double score = 0;
    int64_t count = 0;  // pixels below t
    double hb = 0;      // entropy part of the levels below t
    for (int t = 1; t <= 255; ++t) {
        const double pi = p[t - 1];
        count += histogram[Sz(t - 1)];
        if (pi > 0)
            hb -= pi * std::log(pi);
        // P from the counts, so that "all pixels below t" is exactly 1 and
        // not a sum of shares a rounding step short of it.
        if (count > 0 && count < total) {
            const double below = static_cast<double>(count) / static_cast<double>(total);
            score = std::log(below * (1 - below)) + hb / below + (htot - hb) / (1 - below);
        }
        if (score > best) {
            best = score;
            threshold = t;
        }
    }
    return threshold;
}

// ---------------------------------------------------------------------------
// Gaussian blur

TPxGaussianKernel PxGaussianKernel(double Sigma)
{
    TPxGaussianKernel kernel;
    if (!(Sigma > 0)) {
        kernel.Weights[100] = 65536;
        return kernel;
    }
    double k[201];
    double sum = 0;
    for (int i = 0; i <= 200; ++i) {
        const double d = (i - 100) / Sigma;
        k[i] = std::exp(-(d * d) / 2);
        sum += k[i];
    }
    for (size_t i = 0; i <= 200; ++i)
        kernel.Weights[i] = static_cast<int32_t>(classlib::Round(k[i] * 65536 / sum));
    int r = 100;
    while (r > 1 && kernel.Weight(r) == 0 && kernel.Weight(-r) == 0)
        --r;
    kernel.Radius = r;
    return kernel;
}

namespace {

// One output value: the weighted sum over offsets -r..r of channel c of
// Source (Stride bytes per element), the ends repeated.
template <int Stride>
void GaussianLine(const TPxGaussianKernel& Kernel, const uint8_t* Source, uint8_t* Dest, int Count)
{
    if (Count <= 0)
        return;
    const int r = Kernel.Radius;
    const int last = Count - 1;
    for (int x = 0; x < Count; ++x) {
        uint32_t sum[Stride];
        for (int c = 0; c < Stride; ++c)
            sum[c] = 32768;
        for (int t = -r; t <= r; ++t) {
            const uint32_t wt = static_cast<uint32_t>(Kernel.Weight(t));
            if (wt == 0)
                continue;
            const uint8_t* v = Source + Sz(std::clamp(x + t, 0, last)) * Stride;
            for (int c = 0; c < Stride; ++c)
                sum[c] += wt * v[c];
        }
        for (int c = 0; c < Stride; ++c)
            Dest[Sz(x) * Stride + Sz(c)] = static_cast<uint8_t>(sum[c] >> 16);
    }
}

void GaussianLineBytes(const TPxGaussianKernel& Kernel, int BytesPerPixel, const uint8_t* Source, uint8_t* Dest,
                       int Count)
{
    if (BytesPerPixel == 3)
        GaussianLine<3>(Kernel, Source, Dest, Count);
    else
        GaussianLine<1>(Kernel, Source, Dest, Count);
}

// Bytes of column buffers gathered at once by the column pass.
constexpr int64_t ColumnBandBytes = 8 << 20;

// Blurs the rectangle X1..X2, Y1..Y2 (inclusive, inside the image) of a px8g
// or px24RGB image: each row through a buffer, then the columns in bands of
// whole rows. RowDone(y) and ColumnDone(x) are called after each row and
// column.
template <typename RowDoneFn, typename ColumnDoneFn>
void BlurRect(TPxBitmap& Bitmap, const TPxGaussianKernel& Kernel, int X1, int Y1, int X2, int Y2, RowDoneFn RowDone,
              ColumnDoneFn ColumnDone)
{
    const int bpp = Bitmap.GetPixelFormat() == px24RGB ? 3 : 1;
    const int cols = X2 - X1 + 1;
    const int rows = Y2 - Y1 + 1;
    TPxAccessScope access(Bitmap, pxAccessReadWrite);
    std::vector<uint8_t> in(Sz(std::max(cols, rows)) * Sz(bpp));
    std::vector<uint8_t> out(in.size());
    for (int y = Y1; y <= Y2; ++y) {
        uint8_t* row = Bitmap.GetScanline(y) + Sz(X1) * Sz(bpp);
        std::memcpy(in.data(), row, Sz(cols) * Sz(bpp));
        GaussianLineBytes(Kernel, bpp, in.data(), out.data(), cols);
        std::memcpy(row, out.data(), Sz(cols) * Sz(bpp));
        RowDone(y);
    }
    // Columns: a band of columns is gathered column-major from one read of
    // each row, blurred, then written back row by row.
    const int64_t columnBytes = static_cast<int64_t>(rows) * bpp;
    const int band = static_cast<int>(std::clamp<int64_t>(ColumnBandBytes / columnBytes, 1, cols));
    std::vector<uint8_t> gathered(Sz(band) * Sz(columnBytes));
    for (int first = 0; first < cols; first += band) {
        const int n = std::min(band, cols - first);
        for (int y = 0; y < rows; ++y) {
            const uint8_t* row = Bitmap.GetScanline(Y1 + y) + Sz(X1 + first) * Sz(bpp);
            for (int c = 0; c < n; ++c)
                std::memcpy(&gathered[Sz(c) * Sz(columnBytes) + Sz(y) * Sz(bpp)], row + Sz(c) * Sz(bpp), Sz(bpp));
        }
        for (int c = 0; c < n; ++c) {
            uint8_t* column = &gathered[Sz(c) * Sz(columnBytes)];
            GaussianLineBytes(Kernel, bpp, column, out.data(), rows);
            std::memcpy(column, out.data(), Sz(columnBytes));
        }
        for (int y = 0; y < rows; ++y) {
            uint8_t* row = Bitmap.GetScanline(Y1 + y) + Sz(X1 + first) * Sz(bpp);
            for (int c = 0; c < n; ++c)
                std::memcpy(row + Sz(c) * Sz(bpp), &gathered[Sz(c) * Sz(columnBytes) + Sz(y) * Sz(bpp)], Sz(bpp));
        }
        for (int c = 0; c < n; ++c)
            ColumnDone(X1 + first + c);
    }
}

}  // namespace

void PxGaussianLine8(const TPxGaussianKernel& Kernel, const uint8_t* Source, uint8_t* Dest, int Count)
{
    GaussianLine<1>(Kernel, Source, Dest, Count);
}

void PxGaussianLine24(const TPxGaussianKernel& Kernel, const TPxRGB* Source, TPxRGB* Dest, int Count)
{
    GaussianLine<3>(Kernel, reinterpret_cast<const uint8_t*>(Source), reinterpret_cast<uint8_t*>(Dest), Count);
}

void PxGaussianBlur(TPxBitmap* Bitmap, classlib::TObject* Sender, const TPxProgressEvent& OnProgress, double Sigma)
{
    if (!Bitmap || !(Sigma > 0) || Bitmap->IsEmpty())
        return;
    const TPxPixelFormat format = Bitmap->GetPixelFormat();
    if (format != px8g && format != px24RGB)
        return;
    const int w = Bitmap->GetWidth();
    const int h = Bitmap->GetHeight();
    const TPxGaussianKernel kernel = PxGaussianKernel(Sigma);
    const int64_t span = static_cast<int64_t>(h) + w;
    BlurRect(
        *Bitmap, kernel, 0, 0, w - 1, h - 1,
        [&](int y) {
            if (OnProgress)
                OnProgress(Sender, static_cast<int>(static_cast<int64_t>(y) * 100 / span));
        },
        [&](int x) {
            if (OnProgress)
                OnProgress(Sender, static_cast<int>((h + static_cast<int64_t>(x)) * 100 / span));
        });
}

void PxGaussianBlurGray8(TPxBitmap* Bitmap, int X1, int Y1, int X2, int Y2, double Sigma)
{
    if (!Bitmap || !(Sigma > 0) || Bitmap->IsEmpty() || Bitmap->GetPixelFormat() != px8g)
        return;
    const int w = Bitmap->GetWidth();
    const int h = Bitmap->GetHeight();
    X1 = std::clamp(X1, 0, w - 1);
    X2 = std::clamp(X2, 0, w - 1);
    Y1 = std::clamp(Y1, 0, h - 1);
    Y2 = std::clamp(Y2, 0, h - 1);
    if (X1 > X2 || Y1 > Y2)
        return;
    BlurRect(*Bitmap, PxGaussianKernel(Sigma), X1, Y1, X2, Y2, [](int) {}, [](int) {});
}

// ---------------------------------------------------------------------------
// Soft shadows

namespace {

int ShadowMargin(int OffsetX, int OffsetY, double Radius)
{
    // The radius part is limited first so that absurd radii (or NaN) give a
    // margin instead of a floating-point failure.
    const double r5 = Radius * 5;
    int64_t radiusPart = 0;
    if (r5 > 0)
        radiusPart = classlib::Trunc(std::min(r5, 4.0e9));
    else if (r5 < 0)
        radiusPart = classlib::Trunc(std::max(r5, -4.0e9));
    const int64_t m = 2 * static_cast<int64_t>(std::max(std::abs(static_cast<int64_t>(OffsetX)),
                                                        std::abs(static_cast<int64_t>(OffsetY)))) +
                      radiusPart;
    return static_cast<int>(std::clamp<int64_t>(m, 1, INT32_MAX));
}

// Moves the inclusive rectangle of the alpha channel by the offset, the
// vacated area 0. An offset beyond the image's size moves everything out,
// exactly as that size does, so it is limited to it.
void MoveAlpha(TPxBitmap& Alpha, int X1, int Y1, int X2, int Y2, int OffsetX, int OffsetY)
{
    const int dx = std::clamp(OffsetX, -Alpha.GetWidth(), Alpha.GetWidth());
    const int dy = std::clamp(OffsetY, -Alpha.GetHeight(), Alpha.GetHeight());
    MoveRegion(Alpha, X1, Y1, X2, Y2, X1 + dx, Y1 + dy, 0);
}

// Step 5 of the shadows over columns X1..X2 and rows Y1..Y2 (inside the
// image): Unblurred is the alpha before the blur, Alpha the blurred and moved
// alpha, which receives the result. DivideBilevel: whether a px1g shadow's
// alpha is divided by L.
void CompositeShadow(TPxBitmap& Bitmap, TPxBitmap& Alpha, TPxBitmap& Unblurred, int Intensity, TPxRGB Color,
                     int X1, int Y1, int X2, int Y2, bool DivideBilevel)
{
    const TPxPixelFormat format = Bitmap.GetPixelFormat();
    if (format != px24RGB && format != px1g)
        return;  // not composited: the alpha keeps the blurred values
    Intensity = std::clamp(Intensity, 0, 100);
    const double L = 3 - Intensity / 100.0 * 2;
    const bool divide = L != 1 && (format == px24RGB || DivideBilevel);
    TPxAccessScope image(Bitmap, pxAccessReadWrite);
    TPxAccessScope alpha(Alpha, pxAccessReadWrite);
    TPxAccessScope unblurred(Unblurred, pxAccessRead);
    const size_t cols = Sz(X2 - X1 + 1);
    std::vector<uint8_t> a(cols);
    std::vector<uint8_t> s(cols);
    for (int y = Y1; y <= Y2; ++y) {
        std::memcpy(a.data(), Unblurred.GetScanline(y) + X1, cols);
        uint8_t* alphaRow = Alpha.GetScanline(y) + X1;
        std::memcpy(s.data(), alphaRow, cols);
        uint8_t* row = Bitmap.GetScanline(y);
        for (size_t i = 0; i < cols; ++i) {
            const int x = X1 + static_cast<int>(i);
            const uint8_t av = a[i];
            const uint8_t sv = s[i];
            if (av > 0 || av == sv) {
                uint8_t result = av;
                if (av < 255 && av > 0 && format == px24RGB) {
                    const double t = sv / 255.0;
                    const double A = av / 255.0;
                    uint8_t* p = row + 3 * Sz(x);
                    const uint8_t colour[3] = {Color.b, Color.g, Color.r};
                    for (size_t c = 0; c < 3; ++c) {
                        const int shadowed = static_cast<int>(classlib::Trunc(colour[c] * t + (1 - t) * p[c]));
                        p[c] = static_cast<uint8_t>(classlib::Trunc(A * p[c] + (1 - A) * shadowed));
                    }
                    result = static_cast<uint8_t>(classlib::Trunc((A + t * (1 - A)) * 255));
                }
                alphaRow[i] = result;
            } else {
                if (format == px24RGB)
                    std::memcpy(row + 3 * Sz(x), &Color, 3);
                else
                    PxSetBit(row, x, false);
                alphaRow[i] = divide ? static_cast<uint8_t>(classlib::Trunc(sv / L)) : sv;
            }
        }
    }
}

}  // namespace

void PxAddSoftShadow(TPxBitmap* Bitmap, int OffsetX, int OffsetY, double Radius, int Intensity, bool Enlarge,
                     TPxRGB Color, const TPxProgressEvent& OnProgress, classlib::TObject* Sender)
{
    if (!Bitmap || Bitmap->IsEmpty() || Bitmap->IsAlphaChannel())
        return;
    TPxBitmap* alpha = AlphaOf(*Bitmap);
    if (!alpha)
        return;
    alpha->FullAlpha = false;
    if (Enlarge) {
        const int m = ShadowMargin(OffsetX, OffsetY, Radius);
        const int64_t w = static_cast<int64_t>(Bitmap->GetWidth()) + m;
        const int64_t h = static_cast<int64_t>(Bitmap->GetHeight()) + m;
        if (w > INT32_MAX || h > INT32_MAX)
            return;
        ResizeCanvas(*Bitmap, static_cast<int>(w), static_cast<int>(h), 0, 0, 1, 1);
        if (Bitmap->GetWidth() != w || Bitmap->GetHeight() != h)
            return;
        alpha = AlphaOf(*Bitmap);
        if (!alpha)
            return;
        alpha->FullAlpha = false;
    }
    const int w = Bitmap->GetWidth();
    const int h = Bitmap->GetHeight();
    std::unique_ptr<TPxBitmap> unblurred = CopyGray8(*alpha);
    PxGaussianBlur(alpha, Sender, OnProgress, Radius);
    if (OffsetX != 0 || OffsetY != 0)
        MoveAlpha(*alpha, 0, 0, w - 1, h - 1, OffsetX, OffsetY);
    CompositeShadow(*Bitmap, *alpha, *unblurred, Intensity, Color, 0, 0, w - 1, h - 1, true);
}

int PxAddSoftShadowRect(TPxBitmap* Bitmap, int OffsetX, int OffsetY, double Radius, int Intensity, TPxRGB Color,
                        int X1, int Y1, int X2, int Y2)
{
    const bool boxBlur = Radius == 0;
    const int m = ShadowMargin(OffsetX, OffsetY, boxBlur ? 2.0 : Radius);
    if (!Bitmap || Bitmap->IsEmpty() || Bitmap->IsAlphaChannel())
        return m;
    const int w = Bitmap->GetWidth();
    const int h = Bitmap->GetHeight();
    const int half = m / 2;
    TPxBitmap* alpha = AlphaOf(*Bitmap);
    if (!alpha)
        return m;
    alpha->FullAlpha = false;
    std::unique_ptr<TPxBitmap> unblurred = CopyGray8(*alpha);

    const auto limit = [](int64_t v, int high) { return static_cast<int>(std::clamp<int64_t>(v, 0, high)); };
    const int bx1 = limit(static_cast<int64_t>(X1) - half, w - 1);
    const int by1 = limit(static_cast<int64_t>(Y1) - half, h - 1);
    const int bx2 = limit(static_cast<int64_t>(X2) + half, w - 1);
    const int by2 = limit(static_cast<int64_t>(Y2) + half, h - 1);
    if (bx1 <= bx2 && by1 <= by2) {
        if (boxBlur)
            PxApplyFilter3x3(alpha, PxBuiltinFilter3x3(BlurFilterIndex), bx1, by1, bx2 + 1, by2 + 1);
        else
            PxGaussianBlurGray8(alpha, bx1, by1, bx2, by2, Radius);
        if (OffsetX != 0 || OffsetY != 0)
            MoveAlpha(*alpha, bx1, by1, bx2, by2, OffsetX, OffsetY);
    }
    const int cx1 = limit(static_cast<int64_t>(X1) - m, w - 1);
    const int cy1 = limit(static_cast<int64_t>(Y1) - m, h - 1);
    const int cx2 = limit(static_cast<int64_t>(X2) + m, w - 1);
    const int cy2 = limit(static_cast<int64_t>(Y2) + m, h - 1);
    if (cx1 <= cx2 && cy1 <= cy2)
        CompositeShadow(*Bitmap, *alpha, *unblurred, Intensity, Color, cx1, cy1, cx2, cy2, false);
    return m;
}

// ---------------------------------------------------------------------------
// Rounded corners

void PxRoundCorners(TPxBitmap* Bitmap, int Width, int Height, int, int, int)
{
    if (!Bitmap || Bitmap->IsEmpty() || Bitmap->IsAlphaChannel() || Width == 0 || Height == 0)
        return;
    const int W = Bitmap->GetWidth();
    const int H = Bitmap->GetHeight();
    const int64_t n64 = static_cast<int64_t>(Width) + Height;
    const int n = static_cast<int>(std::clamp<int64_t>(n64, 0, INT32_MAX));
    const std::vector<POINT> top =
        PxBezierPoints(POINT{0, Height}, POINT{0, 0}, POINT{Width, 0}, POINT{Width, 0}, n);
    const std::vector<POINT> bottom = PxBezierPoints(POINT{W, H - Height}, POINT{W, H}, POINT{W - Width, H},
                                                     POINT{W - Width, H}, n);
    // Per row: the last column cleared from the left by the top curve (-1
    // none) and the first column cleared by the bottom curve (W none); every
    // point clears a rectangle reaching the corner, so a row's extent is the
    // widest of the points that reach it.
    std::vector<int> topLast(Sz(H), -1);
    std::vector<int> bottomFirst(Sz(H), W);
    for (const POINT& p : top) {
        if (p.x < 0 || p.y < 0)
            continue;
        const int lastRow = std::min<int>(p.y, H - 1);
        const int lastCol = std::min<int>(p.x, W - 1);
        for (int r = 0; r <= lastRow; ++r)
            topLast[Sz(r)] = std::max(topLast[Sz(r)], lastCol);
    }
    for (const POINT& p : bottom) {
        const int firstRow = std::max<int>(p.y, 0);
        const int firstCol = std::max<int>(p.x, 0);
        for (int r = firstRow; r < H; ++r)
            bottomFirst[Sz(r)] = std::min(bottomFirst[Sz(r)], firstCol);
    }
    TPxBitmap* alpha = AlphaOf(*Bitmap);
    if (!alpha)
        return;
    {
        TPxAccessScope access(*alpha, pxAccessReadWrite);
        for (int r = 0; r < H; ++r) {
            const int last = topLast[Sz(r)];
            const int first = bottomFirst[Sz(r)];
            if (last < 0 && first >= W)
                continue;
            uint8_t* row = alpha->GetScanline(r);
            if (last >= 0) {
                std::memset(row, 0, Sz(last) + 1);                // columns 0..last
                std::memset(row + (W - 1 - last), 0, Sz(last) + 1);  // mirrored
            }
            if (first < W) {
                std::memset(row + first, 0, Sz(W - first));   // columns first..W-1
                std::memset(row, 0, Sz(W - first));           // mirrored: 0..W-1-first
            }
        }
    }
    alpha->CheckFullAlpha();
}

// ---------------------------------------------------------------------------
// Histogram matching

void PxMatchChannel(TPxBitmap* Target, int Channel, const TPxHistogram& RefHistogram, int64_t RefCount, int)
{
    if (!Target || Target->IsEmpty() || RefCount <= 0 || Channel < 0 || Channel > 2)
        return;
    const TPxPixelFormat format = Target->GetPixelFormat();
    if (format != px24RGB && format != pxRGB48)
        return;
    const int w = Target->GetWidth();
    const int h = Target->GetHeight();
    const int64_t P = PixelCount(*Target);
    // Byte of the channel in a px24RGB pixel (blue, green, red) and word of
    // it in a pxRGB48 pixel (red, green, blue).
    const size_t byteIndex = Sz(Channel);
    const size_t wordIndex = Sz(2 - Channel);

    std::array<int64_t, 256> hist{};
    {
        TPxAccessScope read(*Target, pxAccessRead);
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = Target->GetScanline(y);
            for (int x = 0; x < w; ++x) {
                const int v = format == px24RGB ? row[3 * Sz(x) + byteIndex] : Word(row, 3 * Sz(x) + wordIndex) >> 8;
                ++hist[Sz(v)];
            }
        }
    }
    // Equalisation, then the reference curve; both steps fold into one table.
    std::array<int, 256> equalised{};
    int64_t cumulative = 0;
    for (size_t i = 0; i < 256; ++i) {
        cumulative += hist[i];
        equalised[i] = static_cast<int>(classlib::Trunc(static_cast<double>(cumulative * 255) / static_cast<double>(P)));
    }
    std::array<double, 256> curve{};
    int64_t refCumulative = 0;
    const double scale = 255.0 / static_cast<double>(RefCount);
    for (size_t i = 0; i < 256; ++i) {
        refCumulative += RefHistogram[i];
        curve[i] = scale * static_cast<double>(refCumulative);
    }
    std::array<int, 256> map{};
    for (size_t i = 0; i < 256; ++i) {
        size_t bestJ = 0;
        double bestD = std::abs(static_cast<double>(i) - curve[0]);
        for (size_t j = 1; j < 256; ++j) {
            const double d = std::abs(static_cast<double>(i) - curve[j]);
            if (d < bestD) {
                bestD = d;
                bestJ = j;
            }
        }
        map[i] = static_cast<int>(bestJ);
    }
    std::array<uint8_t, 256> table{};
    for (size_t v = 0; v < 256; ++v)
        table[v] = static_cast<uint8_t>(map[Sz(std::clamp(equalised[v], 0, 255))]);

    TPxAccessScope access(*Target, pxAccessReadWrite);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = Target->GetScanline(y);
        for (int x = 0; x < w; ++x) {
            if (format == px24RGB) {
                uint8_t& b = row[3 * Sz(x) + byteIndex];
                b = table[b];
            } else {
                const size_t i = 3 * Sz(x) + wordIndex;
                PutWord(row, i, static_cast<uint16_t>(table[Word(row, i) >> 8] * 257));
            }
        }
    }
}

void PxMatchHistogram(TPxBitmap* Reference, TPxBitmap* Target)
{
    if (!Reference || !Target || Reference->GetPixelFormat() != px24RGB || Reference->IsEmpty() ||
        Target->IsEmpty())
        return;
    TPxHistogram channels[3] = {};  // blue, green, red
    const int w = Reference->GetWidth();
    const int h = Reference->GetHeight();
    {
        TPxAccessScope read(*Reference, pxAccessRead);
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = Reference->GetScanline(y);
            for (int x = 0; x < w; ++x)
                for (size_t c = 0; c < 3; ++c)
                    ++channels[c][row[3 * Sz(x) + c]];
        }
    }
    const int64_t n = PixelCount(*Reference);
    for (int c = 0; c < 3; ++c)
        PxMatchChannel(Target, c, channels[c], n, 0);
}

// ---------------------------------------------------------------------------
// Channel order and transparent pixels

void PxReorderChannels(TPxBitmap* Bitmap, const std::wstring& Code, classlib::TObject* Sender,
                       const TPxProgressEvent& OnProgress)
{
    if (!Bitmap || Bitmap->IsEmpty() || Code.size() != 3)
        return;
    const TPxPixelFormat format = Bitmap->GetPixelFormat();
    if (format != px24RGB && format != pxRGB48)
        return;
    // source[k]: the old channel (0 blue, 1 green, 2 red) that new channel k
    // (0 blue, 1 green, 2 red) receives, -1 for zero.
    int source[3];
    for (size_t k = 0; k < 3; ++k) {
        switch (Code[k]) {
        case L'B':
        case L'b':
            source[k] = 0;
            break;
        case L'G':
        case L'g':
            source[k] = 1;
            break;
        case L'R':
        case L'r':
            source[k] = 2;
            break;
        case L'0':
            source[k] = -1;
            break;
        default:
            return;
        }
    }
    const int w = Bitmap->GetWidth();
    const int h = Bitmap->GetHeight();
    TPxAccessScope access(*Bitmap, pxAccessReadWrite);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = Bitmap->GetScanline(y);
        for (int x = 0; x < w; ++x) {
            if (format == px24RGB) {
                uint8_t* p = row + 3 * Sz(x);
                const uint8_t old[3] = {p[0], p[1], p[2]};
                for (size_t k = 0; k < 3; ++k)
                    p[k] = source[k] < 0 ? 0 : old[source[k]];
            } else {
                // Words are stored red, green, blue: channel c is word 2 - c.
                const size_t base = 3 * Sz(x);
                const uint16_t old[3] = {Word(row, base + 2), Word(row, base + 1), Word(row, base)};
                for (size_t k = 0; k < 3; ++k)
                    PutWord(row, base + 2 - k, source[k] < 0 ? uint16_t{0} : old[source[k]]);
            }
        }
        if (OnProgress)
            OnProgress(Sender, static_cast<int>(classlib::Trunc(static_cast<double>(y) / h * 100)));
    }
}

void PxFillTransparent(TPxBitmap* Bitmap, TPxRGB Color)
{
    if (!Bitmap || Bitmap->IsEmpty() || Bitmap->GetPixelFormat() != px24RGB || Bitmap->IsAlphaChannel())
        return;
    TPxBitmap* alpha = AlphaOf(*Bitmap);
    if (!alpha)
        return;
    const int w = Bitmap->GetWidth();
    const int h = Bitmap->GetHeight();
    TPxAccessScope read(*alpha, pxAccessRead);
    TPxAccessScope write(*Bitmap, pxAccessReadWrite);
    std::vector<uint8_t> a(Sz(w));
    for (int y = 0; y < h; ++y) {
        std::memcpy(a.data(), alpha->GetScanline(y), Sz(w));
        uint8_t* row = Bitmap->GetScanline(y);
        for (int x = 0; x < w; ++x)
            if (a[Sz(x)] == 0)
                std::memcpy(row + 3 * Sz(x), &Color, 3);
    }
}

}  // namespace imaging
