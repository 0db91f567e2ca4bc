#include "imaging/proc/PxRender.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "classlib/Bitmap.h"
#include "classlib/SysUtils.h"
#include "imaging/model/PxCopy.h"
#include "imaging/proc/PxBlend.h"
#include "imaging/proc/PxConvert.h"
#include "imaging/proc/PxFastResample.h"
#include "imaging/proc/PxResample.h"

namespace imaging {

namespace {

constexpr int kOne = 16384;  // one source pixel per destination pixel, 14 fractional bits

// Trunc of a real for per-pixel work: NaN gives 0, values beyond int are
// pinned to its ends (never undefined behaviour, never an exception).
int SafeTrunc(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= 2147483647.0)
        return std::numeric_limits<int>::max();
    if (v <= -2147483648.0)
        return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}

uint8_t ClampToByte(int64_t v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// ---------------------------------------------------------------------------
// Destination rows

// Where the destination rows come from: a row table (memory, system bitmap,
// or the caller's), or a file-held image whose rows are mapped on demand.
struct TDestination {
    int Width = 0;
    int Height = 0;
    uint8_t* const* Rows = nullptr;
    TPxBitmap* FileImage = nullptr;
};

// Hands out destination row addresses. For a file-held image at most two
// rows are mapped at once (the current one and its predecessor, which row
// repeat copies from); all are unmapped on every way out.
class TDestRows {
public:
    explicit TDestRows(const TDestination& Dest) : dest_(Dest) {}
    ~TDestRows()
    {
        if (!dest_.FileImage)
            return;
        for (TMapped& m : mapped_) {
            if (m.Row >= 0) {
                try {
                    dest_.FileImage->UnmapRow(m.Row);
                } catch (...) {
                    // Writing the row back failed; nothing more can be done
                    // from a destructor.
                }
            }
        }
    }
    TDestRows(const TDestRows&) = delete;
    TDestRows& operator=(const TDestRows&) = delete;

    uint8_t* Row(int y)
    {
        if (!dest_.FileImage)
            return dest_.Rows[y];
        for (TMapped& m : mapped_)
            if (m.Row == y)
                return m.Address;
        // Free the slot that holds neither y nor its predecessor.
        TMapped* slot = &mapped_[0];
        for (TMapped& m : mapped_)
            if (m.Row != y - 1) {
                slot = &m;
                break;
            }
        if (slot->Row >= 0) {
            const int old = slot->Row;
            slot->Row = -1;
            dest_.FileImage->UnmapRow(old);
        }
        slot->Address = dest_.FileImage->MapRow(y);
        slot->Row = y;
        return slot->Address;
    }

private:
    struct TMapped {
        int Row = -1;
        uint8_t* Address = nullptr;
    };
    const TDestination& dest_;
    std::array<TMapped, 2> mapped_{};
};

// ---------------------------------------------------------------------------
// Arguments and kernel context

struct TArgs {
    const TPxRenderClip* Clip = nullptr;
    int xDst = 0, yDst = 0, dxDst = 0, dyDst = 0;
    int xSrc = 0, ySrc = 0, dxSrc = 0, dySrc = 0;
    bool EnableAlpha = false;
    bool RowRepeat = false;
    int Transparency = 255;
    TResampleFilter Filter = rfNone;
    int Operation = 0;
};

// Contrast factor in 16.16 fixed point.
int64_t ContrastFactor(int32_t Contrast)
{
    if (Contrast < 0)
        return classlib::Trunc((1 - std::sqrt(-static_cast<double>(Contrast)) / 10) * 65536);
    return classlib::Trunc((Contrast / 10.0 + 1) * 65536);
}

struct TKernel {
    TPxBitmap* Source = nullptr;
    TPxBitmap* Alpha = nullptr;  // the source's alpha channel when alpha blending is in use
    TDestRows* Rows = nullptr;
    int x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    int xDst = 0, yDst = 0, xSrc = 0, ySrc = 0;
    const int32_t* XT = nullptr;
    const int32_t* YT = nullptr;
    int Transparency = 255;
    bool AlphaKernel = false;  // transparency below 255 or alpha blending in use
    bool RowRepeat = false;
    int Operation = 0;
    int64_t K = 65536;
    int32_t RedOffset = 0, GreenOffset = 0, BlueOffset = 0;
};

uint8_t Adjust8(int64_t k, int c, int32_t offset)
{
    return ClampToByte(k * (static_cast<int64_t>(c) + offset - 128) / 65536 + 128);
}

// A 16-bit channel through offset and contrast, to its high byte. Negative
// results give 0 (they are darker than black, not brighter than white).
uint8_t Adjust16(int64_t k, int c, int32_t offset)
{
    const int t = SafeTrunc((static_cast<double>(c) + offset - 32768) * static_cast<double>(k) / 65536 + 32768);
    return t < 0 ? 0 : ClampToByte(t >> 8);
}

// The row driver shared by every format. Fetch turns source column sx of a
// source row into an RGB pixel; with Blend the pixel goes through
// PxBlendPixel with the destination pixel. Plain kernels store the pixel,
// alpha kernels lay it over the destination.
template <class Fetch>
void DrawRows(TKernel& c, Fetch& fetch, bool Blend, bool RepeatAllowed)
{
    const bool repeat = RepeatAllowed && c.RowRepeat && !c.AlphaKernel && !(Blend && c.Operation != 0);
    const size_t spanBytes = static_cast<size_t>(c.x2 - c.x1 + 1) * 3;
    int previousSource = -1;
    for (int y = c.y1; y <= c.y2; ++y) {
        const int sy = c.YT[y];
        uint8_t* drow = c.Rows->Row(y);
        if (repeat && y > c.y1 && sy == previousSource) {
            const uint8_t* prow = c.Rows->Row(y - 1);
            std::memmove(drow + static_cast<size_t>(c.x1) * 3, prow + static_cast<size_t>(c.x1) * 3, spanBytes);
            continue;
        }
        previousSource = sy;
        const uint8_t* srow = c.Source->GetScanline(sy);
        const uint8_t* arow = c.Alpha ? c.Alpha->GetScanline(sy) : nullptr;
        fetch.BeginRow(srow);
        TPxRGB* d = reinterpret_cast<TPxRGB*>(drow) + c.x1;
        for (int x = c.x1; x <= c.x2; ++x, ++d) {
            const int sx = c.XT[x];
            TPxRGB s = fetch(sx);
            if (Blend) {
                TPxRGB t = *d;
                PxBlendPixel(s, t, c.Operation);
                s = t;
            }
            if (!c.AlphaKernel) {
                *d = s;
                continue;
            }
            const int a = arow ? std::min<int>(c.Transparency, arow[sx]) : c.Transparency;
            // Weight 255 is opaque: the source itself, where the blend below
            // would fall one level short of it.
            if (a >= 255) {
                *d = s;
                continue;
            }
            d->r = static_cast<uint8_t>(d->r + ((a * (s.r - d->r)) >> 8));
            d->g = static_cast<uint8_t>(d->g + ((a * (s.g - d->g)) >> 8));
            d->b = static_cast<uint8_t>(d->b + ((a * (s.b - d->b)) >> 8));
        }
    }
}

// ---- pixel fetchers, one per source layout

struct TFetch24 {
    const uint8_t* row = nullptr;
    void BeginRow(const uint8_t* r) { row = r; }
    TPxRGB operator()(int sx) const { return reinterpret_cast<const TPxRGB*>(row)[sx]; }
};

struct TFetch32 {
    const uint8_t* row = nullptr;
    void BeginRow(const uint8_t* r) { row = r; }
    TPxRGB operator()(int sx) const
    {
        const uint8_t* p = row + static_cast<size_t>(sx) * 4;
        return TPxRGB{p[0], p[1], p[2]};
    }
};

// 24- or 32-bit pixels through offsets and contrast.
template <int Bytes>
struct TFetchAdjusted {
    const TKernel& c;
    const uint8_t* row = nullptr;
    explicit TFetchAdjusted(const TKernel& k) : c(k) {}
    void BeginRow(const uint8_t* r) { row = r; }
    TPxRGB operator()(int sx) const
    {
        const uint8_t* p = row + static_cast<size_t>(sx) * Bytes;
        return TPxRGB{Adjust8(c.K, p[0], c.BlueOffset), Adjust8(c.K, p[1], c.GreenOffset),
                      Adjust8(c.K, p[2], c.RedOffset)};
    }
};

struct TFetch1 {
    const uint8_t* row = nullptr;
    void BeginRow(const uint8_t* r) { row = r; }
    TPxRGB operator()(int sx) const
    {
        const uint8_t v = (row[sx >> 3] & (0x80 >> (sx & 7))) ? 255 : 0;
        return TPxRGB{v, v, v};
    }
};

// A byte per pixel mapped through a 256-entry colour table (grey with its
// display range, or a palette).
struct TFetchTable8 {
    std::array<TPxRGB, 256> table{};
    const uint8_t* row = nullptr;
    void BeginRow(const uint8_t* r) { row = r; }
    TPxRGB operator()(int sx) const { return table[row[sx]]; }
};

// Display range of integer grey values: clamp to [Trunc(min), Trunc(max)],
// then Trunc((v - min) / (max - min) * 255), kept inside 0..255.
struct TIntRange {
    bool Active = false;
    double Min = 0, Max = 0;
    int Low = 0, High = 0;
    explicit TIntRange(TPxBitmap& b) : Active(b.DisplayMax - b.DisplayMin != 0), Min(b.DisplayMin), Max(b.DisplayMax)
    {
        Low = SafeTrunc(Min);
        High = SafeTrunc(Max);
    }
    uint8_t Map(int v) const
    {
        v = v <= Low ? Low : (v >= High ? High : v);
        return ClampToByte(SafeTrunc((v - Min) / (Max - Min) * 255));
    }
};

struct TFetch16 {
    TIntRange range;
    const uint8_t* row = nullptr;
    explicit TFetch16(TPxBitmap& b) : range(b) {}
    void BeginRow(const uint8_t* r) { row = r; }
    TPxRGB operator()(int sx) const
    {
        uint16_t v;
        std::memcpy(&v, row + static_cast<size_t>(sx) * 2, 2);
        const uint8_t g = range.Active ? range.Map(v) : static_cast<uint8_t>(v >> 8);
        return TPxRGB{g, g, g};
    }
};

struct TFetchFloat {
    bool active;
    double mn, mx;
    const uint8_t* row = nullptr;
    explicit TFetchFloat(TPxBitmap& b) : active(b.DisplayMax - b.DisplayMin != 0), mn(b.DisplayMin), mx(b.DisplayMax) {}
    void BeginRow(const uint8_t* r) { row = r; }
    TPxRGB operator()(int sx) const
    {
        float f;
        std::memcpy(&f, row + static_cast<size_t>(sx) * 4, 4);
        double v = f;
        double t;
        if (active) {
            if (v < mn)
                v = mn;
            if (v > mx)
                v = mx;
            t = (v - mn) / (mx - mn) * 255;
        } else {
            t = v * 255;
        }
        // Values outside the displayable range (and NaN) are pinned rather
        // than wrapped into a byte.
        const uint8_t g = ClampToByte(SafeTrunc(t));
        return TPxRGB{g, g, g};
    }
};

struct TFetchCMYK {
    const uint8_t* row = nullptr;
    void BeginRow(const uint8_t* r) { row = r; }
    TPxRGB operator()(int sx) const
    {
        TPxCMYK p;
        std::memcpy(&p, row + static_cast<size_t>(sx) * 4, 4);
        return PxCMYKToRGBPixel(p);
    }
};

struct TFetchLab {
    const uint8_t* row = nullptr;
    void BeginRow(const uint8_t* r) { row = r; }
    TPxRGB operator()(int sx) const
    {
        TPxCIELab p;
        std::memcpy(&p, row + static_cast<size_t>(sx) * 3, 3);
        return PxCIELabToRGBPixel(p);
    }
};

struct TFetch48 {
    const TKernel& c;
    bool adjusted;
    const uint8_t* row = nullptr;
    TFetch48(const TKernel& k, bool a) : c(k), adjusted(a) {}
    void BeginRow(const uint8_t* r) { row = r; }
    TPxRGB operator()(int sx) const
    {
        TPxRGB48 p;
        std::memcpy(&p, row + static_cast<size_t>(sx) * 6, 6);
        if (!adjusted)
            return TPxRGB{static_cast<uint8_t>(p.b >> 8), static_cast<uint8_t>(p.g >> 8),
                          static_cast<uint8_t>(p.r >> 8)};
        return TPxRGB{Adjust16(c.K, p.b, c.BlueOffset), Adjust16(c.K, p.g, c.GreenOffset),
                      Adjust16(c.K, p.r, c.RedOffset)};
    }
};

// px24RGB at 1:1 without effects: row segments are moved.
void CopySegments(TKernel& c)
{
    const size_t bytes = static_cast<size_t>(c.x2 - c.x1 + 1) * 3;
    const size_t from = static_cast<size_t>(c.x1 - c.xDst + c.xSrc) * 3;
    for (int y = c.y1; y <= c.y2; ++y) {
        uint8_t* drow = c.Rows->Row(y);
        const uint8_t* srow = c.Source->GetScanline(y - c.yDst + c.ySrc);
        std::memcpy(drow + static_cast<size_t>(c.x1) * 3, srow + from, bytes);
    }
}

// Runs the kernel of the source's pixel format.
void RunKernel(TKernel& c, TPxBitmap& Source, bool Effects, bool OneToOne)
{
    switch (Source.GetPixelFormat()) {
    case px24RGB:
        if (Effects) {
            TFetchAdjusted<3> f(c);
            DrawRows(c, f, true, true);
        } else {
            TFetch24 f;
            DrawRows(c, f, false, true);
        }
        break;
    case px32RGB:
        if (Effects || OneToOne) {
            TFetchAdjusted<4> f(c);
            DrawRows(c, f, true, true);
        } else {
            TFetch32 f;
            DrawRows(c, f, false, true);
        }
        break;
    case px1g: {
        TFetch1 f;
        DrawRows(c, f, false, true);
        break;
    }
    case px8g: {
        TFetchTable8 f;
        const TIntRange range(Source);
        for (int i = 0; i < 256; ++i) {
            const uint8_t g = range.Active ? range.Map(i) : static_cast<uint8_t>(i);
            f.table[static_cast<size_t>(i)] = TPxRGB{g, g, g};
        }
        DrawRows(c, f, false, false);
        break;
    }
    case px8p: {
        const int n = Source.GetPaletteLen();
        if (n <= 0 || !Source.GetPaletteBuffer())
            return;  // nothing is drawn without a palette
        TFetchTable8 f;
        for (int i = 0; i < 256; ++i)
            f.table[static_cast<size_t>(i)] = Source.GetPaletteEntry(i);  // black beyond the palette
        DrawRows(c, f, false, false);
        break;
    }
    case px16g: {
        TFetch16 f(Source);
        DrawRows(c, f, false, false);
        break;
    }
    case px32f: {
        TFetchFloat f(Source);
        DrawRows(c, f, false, false);
        break;
    }
    case pxCMYK: {
        TFetchCMYK f;
        DrawRows(c, f, false, false);
        break;
    }
    case pxCIELab: {
        TFetchLab f;
        DrawRows(c, f, false, false);
        break;
    }
    case pxRGB48: {
        TFetch48 f(c, Effects);
        DrawRows(c, f, Effects, false);
        break;
    }
    default:
        break;
    }
}

// Drops the trailing entries of a caller's table that lie outside the
// source (or beyond the table); false when an entry before them does.
bool CheckCallerTable(const TPxIndexTable& Table, int First, int& Last, int SourceLen)
{
    auto inside = [&](int i) {
        return i >= 0 && static_cast<size_t>(i) < Table.size() && Table[static_cast<size_t>(i)] >= 0 &&
               Table[static_cast<size_t>(i)] < SourceLen;
    };
    while (Last >= First && !inside(Last))
        --Last;
    for (int i = First; i <= Last; ++i)
        if (!inside(i))
            return false;
    return true;
}

// Entry i = Trunc((i - Start) * Scale + SourceStart) clamped to the source.
void BuildTable(TPxIndexTable& Table, int Count, int Start, double Scale, int SourceStart, int SourceLen)
{
    Table.assign(static_cast<size_t>(Count), 0);
    for (int i = 0; i < Count; ++i) {
        const int v = SafeTrunc((i - Start) * Scale + SourceStart);
        Table[static_cast<size_t>(i)] = std::clamp(v, 0, SourceLen - 1);
    }
}

void Render(TPxBitmap& Source, const TDestination& Dest, TPxIndexTable* XTable, TPxIndexTable* YTable,
            bool FreeTables, TArgs a);

// The source rectangle of a px1g or px24RGB image resampled to the
// destination size with the filter, then drawn at 1:1.
void RenderResampled(TPxBitmap& Source, const TDestination& Dest, const TArgs& a, bool AlphaInUse)
{
    const TPxPixelFormat format = Source.GetPixelFormat();
    const bool projection = a.Filter == rfProjectBW || a.Filter == rfProjectWB;
    TPxBitmap scaled;
    if (format == px1g && a.dxSrc >= a.dxDst && !AlphaInUse && !projection) {
        if (!scaled.Allocate(a.dxDst, a.dyDst, px24RGB))
            return;
        PxResampleBilevelTo24(&Source, a.xSrc, a.ySrc, a.xSrc + a.dxSrc - 1, a.ySrc + a.dySrc - 1, &scaled);
    } else {
        // Only the part of the rectangle that lies inside the source is
        // copied, so the copy holds no undefined pixels.
        const int w = std::min(a.dxSrc, Source.GetWidth() - a.xSrc);
        const int h = std::min(a.dySrc, Source.GetHeight() - a.ySrc);
        if (w < 1 || h < 1)
            return;
        TPxBitmap part;
        if (!part.Allocate(w, h, format))
            return;
        CopyRectTo(Source, &part, a.xSrc, a.ySrc, 0, 0, w, h);
        const bool withAlpha = a.EnableAlpha && Source.HasAlphaChannel();
        if (withAlpha) {
            TPxBitmap* sourceAlpha = Source.GetAlphaChannel();
            TPxBitmap* partAlpha = part.GetAlphaChannel();
            CopyRectTo(*sourceAlpha, partAlpha, a.xSrc, a.ySrc, 0, 0, w, h);
            partAlpha->FullAlpha = sourceAlpha->FullAlpha;
        }
        const TPxPixelFormat target = format == px1g && projection ? px1g : px24RGB;
        if (!scaled.Allocate(a.dxDst, a.dyDst, target))
            return;
        if (format == px1g)
            PxResampleBilevel(&part, &scaled, a.Filter);
        else
            PxResampleFiltered(&part, &scaled, a.Filter);
        if (withAlpha) {
            TPxBitmap* partAlpha = part.GetAlphaChannel();
            TPxBitmap* scaledAlpha = scaled.GetAlphaChannel();
            PxResampleGray8(partAlpha, scaledAlpha, a.Filter);
            scaledAlpha->FullAlpha = partAlpha->FullAlpha;
        }
        scaled.RedOffset = Source.RedOffset;
        scaled.GreenOffset = Source.GreenOffset;
        scaled.BlueOffset = Source.BlueOffset;
        scaled.FourthOffset = Source.FourthOffset;
        scaled.Adjust = Source.Adjust;
        scaled.Contrast = Source.Contrast;
    }
    TArgs b = a;
    b.xSrc = 0;
    b.ySrc = 0;
    b.dxSrc = a.dxDst;
    b.dySrc = a.dyDst;
    b.Filter = rfNone;
    Render(scaled, Dest, nullptr, nullptr, true, b);
}

// Cuts the rectangles of a to the destination (W x H) and the source
// (SW x SH), moving the source edges by the scales; false when nothing is
// left to draw.
bool ClipToDestination(TArgs& a, int W, int H, int SW, int SH, double xScale, double yScale)
{
    // 64-bit: the sums may leave int.
    int64_t xDst = a.xDst, yDst = a.yDst, dxDst = a.dxDst, dyDst = a.dyDst;
    int64_t xSrc = a.xSrc, ySrc = a.ySrc, dxSrc = a.dxSrc, dySrc = a.dySrc;
    if (yDst < 0) {
        dyDst += yDst;
        const int64_t d = classlib::Round(static_cast<double>(-yDst) * yScale);
        dySrc -= d;
        ySrc += d;
        yDst = 0;
    }
    if (xDst < 0) {
        dxDst += xDst;
        const int64_t d = classlib::Round(static_cast<double>(-xDst) * xScale);
        dxSrc -= d;
        xSrc += d;
        xDst = 0;
    }
    if (yDst + dyDst > H) {
        dySrc -= classlib::Trunc(static_cast<double>(yDst + dyDst - H) * yScale);
        dyDst = H - yDst;
    }
    if (xDst + dxDst > W) {
        dxSrc -= classlib::Trunc(static_cast<double>(xDst + dxDst - W) * xScale);
        dxDst = W - xDst;
    }
    a.xDst = static_cast<int>(std::clamp<int64_t>(xDst, 0, W - 1));
    a.yDst = static_cast<int>(std::clamp<int64_t>(yDst, 0, H - 1));
    a.dxDst = static_cast<int>(std::clamp<int64_t>(dxDst, 0, W));
    a.dyDst = static_cast<int>(std::clamp<int64_t>(dyDst, 0, H));
    a.xSrc = static_cast<int>(std::clamp<int64_t>(xSrc, 0, SW - 1));
    a.ySrc = static_cast<int>(std::clamp<int64_t>(ySrc, 0, SH - 1));
    a.dxSrc = static_cast<int>(std::clamp<int64_t>(dxSrc, 0, SW));
    a.dySrc = static_cast<int>(std::clamp<int64_t>(dySrc, 0, SH));
    return a.dxDst != 0 && a.dyDst != 0 && a.dxSrc != 0 && a.dySrc != 0;
}

// The source's alpha channel when it takes part in the drawing.
TPxBitmap* BlendingAlpha(TPxBitmap& Source, const TArgs& a)
{
    if (!a.EnableAlpha || !Source.HasAlphaChannel())
        return nullptr;
    TPxBitmap* channel = Source.GetAlphaChannel();
    // An alpha channel of another size than its image is not followed.
    if (!channel->FullAlpha && channel->GetWidth() == Source.GetWidth() && channel->GetHeight() == Source.GetHeight())
        return channel;
    return nullptr;
}

// The destination pixels the kernel writes: the clipped rectangle, cut to
// the caller's clip and the destination; false when empty.
bool SetKernelArea(TKernel& k, const TArgs& a, int W, int H)
{
    k.y1 = a.yDst;
    k.y2 = std::min(a.yDst + a.dyDst - 1, H - 1);
    k.x1 = a.xDst;
    k.x2 = std::min(a.xDst + a.dxDst - 1, W - 1);
    if (a.Clip) {
        k.x1 = std::max(k.x1, a.Clip->Left);
        k.x2 = std::min(k.x2, a.Clip->Right);
        k.y1 = std::max(k.y1, a.Clip->Top);
        k.y2 = std::min(k.y2, a.Clip->Bottom);
        k.x1 = std::max(k.x1, 0);
        k.y1 = std::max(k.y1, 0);
        k.x2 = std::min(k.x2, W - 1);
        k.y2 = std::min(k.y2, H - 1);
    }
    return k.x1 <= k.x2 && k.y1 <= k.y2;
}

void SetKernelSource(TKernel& k, TPxBitmap& Source, const TArgs& a, TPxBitmap* Alpha)
{
    k.Source = &Source;
    k.xDst = a.xDst;
    k.yDst = a.yDst;
    k.xSrc = a.xSrc;
    k.ySrc = a.ySrc;
    k.Transparency = a.Transparency;
    k.AlphaKernel = a.Transparency < 255 || Alpha != nullptr;
    k.Alpha = Alpha;
    k.RowRepeat = a.RowRepeat;
    k.Operation = a.Operation;
    k.K = ContrastFactor(Source.Contrast);
    k.RedOffset = Source.RedOffset;
    k.GreenOffset = Source.GreenOffset;
    k.BlueOffset = Source.BlueOffset;
}

// The general path: each destination pixel through the column and row
// tables (the caller's, checked, or built here and handed back unless
// FreeTables).
void RenderThroughTables(TKernel& k, TPxBitmap& Source, const TDestination& Dest, const TArgs& a,
                         TPxIndexTable* XTable, TPxIndexTable* YTable, bool FreeTables, double xScale, double yScale,
                         bool Effects, bool OneToOne)
{
    const int SW = Source.GetWidth();
    const int SH = Source.GetHeight();
    const bool callerX = XTable && !XTable->empty();
    const bool callerY = YTable && !YTable->empty();
    TPxIndexTable builtX, builtY;
    if (callerX) {
        if (!CheckCallerTable(*XTable, k.x1, k.x2, SW))
            return;
    } else {
        BuildTable(builtX, Dest.Width, a.xDst, xScale, a.xSrc, SW);
    }
    if (callerY) {
        if (!CheckCallerTable(*YTable, k.y1, k.y2, SH))
            return;
    } else {
        BuildTable(builtY, Dest.Height, a.yDst, yScale, a.ySrc, SH);
    }
    k.XT = callerX ? XTable->data() : builtX.data();
    k.YT = callerY ? YTable->data() : builtY.data();

    if (k.x1 <= k.x2 && k.y1 <= k.y2) {
        try {
            RunKernel(k, Source, Effects, OneToOne);
        } catch (...) {
            // A failing row ends the drawing (see the header).
        }
    }

    if (!FreeTables) {
        if (XTable && !callerX)
            *XTable = std::move(builtX);
        if (YTable && !callerY)
            *YTable = std::move(builtY);
    }
}

void Render(TPxBitmap& Source, const TDestination& Dest, TPxIndexTable* XTable, TPxIndexTable* YTable,
            bool FreeTables, TArgs a)
{
    const int W = Dest.Width;
    const int H = Dest.Height;
    if (W <= 0 || H <= 0 || Source.IsEmpty())
        return;
    const TPxPixelFormat format = Source.GetPixelFormat();
    const int SW = Source.GetWidth();
    const int SH = Source.GetHeight();
    TPxAccessScope sourceAccess(Source, pxAccessRead);

    if (a.dxDst <= 0 || a.dyDst <= 0 || a.dxSrc <= 0 || a.dySrc <= 0 || a.yDst >= H || a.xDst >= W)
        return;
    a.Transparency = std::clamp(a.Transparency, 0, 255);

    const double yScale = static_cast<double>(a.dySrc) / a.dyDst;
    const double xScale = static_cast<double>(a.dxSrc) / a.dxDst;
    if (!ClipToDestination(a, W, H, SW, SH, xScale, yScale))
        return;

    TPxBitmap* alpha = BlendingAlpha(Source, a);
    if (a.Filter != rfNone && (a.dxDst != a.dxSrc || a.dyDst != a.dySrc) && (format == px1g || format == px24RGB)) {
        RenderResampled(Source, Dest, a, alpha != nullptr);
        return;
    }

    const int yStep = static_cast<int>(classlib::Trunc(static_cast<double>(a.dySrc) / a.dyDst * kOne));
    const int xStep = static_cast<int>(classlib::Trunc(static_cast<double>(a.dxSrc) / a.dxDst * kOne));

    TKernel k;
    if (!SetKernelArea(k, a, W, H))
        return;
    const bool effects = Source.Adjust != 0 || Source.Contrast != 0 || a.Operation != 0;
    const bool oneToOne = xStep == kOne && yStep == kOne;
    SetKernelSource(k, Source, a, alpha);

    std::unique_ptr<TPxAccessScope> alphaAccess;
    if (alpha)
        alphaAccess = std::make_unique<TPxAccessScope>(*alpha, pxAccessRead);

    TDestRows rows(Dest);
    k.Rows = &rows;

    // Row segments are moved only when every moved pixel lies inside the
    // source; a rectangle reaching past the source goes through the tables,
    // which repeat its edge.
    if (oneToOne && format == px24RGB && !k.AlphaKernel && !effects && k.x2 - a.xDst + a.xSrc < SW &&
        k.y2 - a.yDst + a.ySrc < SH) {
        try {
            CopySegments(k);
        } catch (...) {
            // A failing row ends the drawing (see the header).
        }
        return;
    }
    RenderThroughTables(k, Source, Dest, a, XTable, YTable, FreeTables, xScale, yScale, effects, oneToOne);
}

TArgs MakeArgs(const TPxRenderClip* Clip, int xDst, int yDst, int dxDst, int dyDst, int xSrc, int ySrc, int dxSrc,
               int dySrc, bool EnableAlpha, bool RowRepeat, int Transparency, TResampleFilter Filter, int Operation)
{
    TArgs a;
    a.Clip = Clip;
    a.xDst = xDst;
    a.yDst = yDst;
    a.dxDst = dxDst;
    a.dyDst = dyDst;
    a.xSrc = xSrc;
    a.ySrc = ySrc;
    a.dxSrc = dxSrc;
    a.dySrc = dySrc;
    a.EnableAlpha = EnableAlpha;
    a.RowRepeat = RowRepeat;
    a.Transparency = Transparency;
    a.Filter = Filter;
    a.Operation = Operation;
    return a;
}

// Uses the caller's row table when it has one entry per row, else builds
// one with RowOf(y); hands a built table back when asked.
template <class RowOf>
void RenderWithRows(TPxBitmap& Source, TDestination& Dest, TPxRowTable* DestRows, bool CanBuildTable, RowOf rowOf,
                    TPxIndexTable* XTable, TPxIndexTable* YTable, bool FreeTables, const TArgs& a)
{
    TPxRowTable built;
    if (DestRows && DestRows->size() == static_cast<size_t>(Dest.Height)) {
        Dest.Rows = DestRows->data();
        Dest.FileImage = nullptr;
    } else if (CanBuildTable) {
        built.resize(static_cast<size_t>(Dest.Height));
        for (int y = 0; y < Dest.Height; ++y)
            built[static_cast<size_t>(y)] = rowOf(y);
        Dest.Rows = built.data();
    }
    Render(Source, Dest, XTable, YTable, FreeTables, a);
    if (DestRows && !built.empty()) {
        if (FreeTables)
            DestRows->clear();
        else
            *DestRows = std::move(built);
    } else if (DestRows && Dest.FileImage && !FreeTables) {
        DestRows->clear();  // rows of a file-held image are never handed out
    }
}

}  // namespace

void RenderToBitmap(TPxBitmap& Source, TPxBitmap* Dest, TPxRowTable* DestRows, TPxIndexTable* XTable,
                    TPxIndexTable* YTable, const TPxRenderClip* Clip, int xDst, int yDst, int dxDst, int dyDst,
                    int xSrc, int ySrc, int dxSrc, int dySrc, bool EnableAlpha, bool RowRepeat, int Transparency,
                    TResampleFilter Filter, bool FreeTables, int Operation)
{
    if (!Dest || Dest == &Source || Dest->GetPixelFormat() != px24RGB || Dest->IsEmpty())
        return;
    TDestination dest;
    dest.Width = Dest->GetWidth();
    dest.Height = Dest->GetHeight();
    const bool file = Dest->GetLocation() == pxFile;
    if (file)
        dest.FileImage = Dest;
    const TArgs a = MakeArgs(Clip, xDst, yDst, dxDst, dyDst, xSrc, ySrc, dxSrc, dySrc, EnableAlpha, RowRepeat,
                             Transparency, Filter, Operation);
    RenderWithRows(
        Source, dest, DestRows, !file, [Dest](int y) { return Dest->GetScanline(y); }, XTable, YTable, FreeTables, a);
}

void RenderToBitmapSimple(TPxBitmap& Source, TPxBitmap* Dest, int xDst, int yDst, int dxDst, int dyDst, int xSrc,
                          int ySrc, int dxSrc, int dySrc, int Transparency, TResampleFilter Filter, int Operation)
{
    RenderToBitmap(Source, Dest, nullptr, nullptr, nullptr, nullptr, xDst, yDst, dxDst, dyDst, xSrc, ySrc, dxSrc,
                   dySrc, true, false, Transparency, Filter, true, Operation);
}

void RenderToVclBitmap(TPxBitmap& Source, classlib::TBitmap* Dest, TPxRowTable* DestRows, TPxIndexTable* XTable,
                       TPxIndexTable* YTable, const TPxRenderClip* Clip, int xDst, int yDst, int dxDst, int dyDst,
                       int xSrc, int ySrc, int dxSrc, int dySrc, bool EnableAlpha, bool RowRepeat, int Transparency,
                       TResampleFilter Filter, bool FreeTables, int Operation)
{
    if (!Dest || Dest->GetEmpty() || Dest->GetPixelFormat() != classlib::pf24bit)
        return;
    TDestination dest;
    dest.Width = Dest->GetWidth();
    dest.Height = Dest->GetHeight();
    const TArgs a = MakeArgs(Clip, xDst, yDst, dxDst, dyDst, xSrc, ySrc, dxSrc, dySrc, EnableAlpha, RowRepeat,
                             Transparency, Filter, Operation);
    RenderWithRows(
        Source, dest, DestRows, true, [Dest](int y) { return static_cast<uint8_t*>(Dest->GetScanLine(y)); }, XTable,
        YTable, FreeTables, a);
}

void RenderToVclBitmapSimple(TPxBitmap& Source, classlib::TBitmap* Dest, int xDst, int yDst, int dxDst, int dyDst,
                             int xSrc, int ySrc, int dxSrc, int dySrc, int Transparency, TResampleFilter Filter,
                             int Operation)
{
    RenderToVclBitmap(Source, Dest, nullptr, nullptr, nullptr, nullptr, xDst, yDst, dxDst, dyDst, xSrc, ySrc, dxSrc,
                      dySrc, true, false, Transparency, Filter, true, Operation);
}

// ---------------------------------------------------------------------------
// StretchRectTo

void StretchRectTo(TPxBitmap& Source, TPxBitmap* Dest, int xDst, int yDst, int dxDst, int dyDst, int xSrc, int ySrc,
                   int dxSrc, int dySrc, TResampleFilter Filter, int Transparency)
{
    if (!Dest || Dest == &Source || Dest->GetPixelFormat() != px24RGB || Dest->IsEmpty())
        return;
    Transparency = std::clamp(Transparency, 0, 255);
    TPxBitmap* destAlpha = Dest->GetAlphaChannel();
    if (dxDst <= 0 || dyDst <= 0 || Source.IsEmpty())
        return;
    const TPxPixelFormat format = Source.GetPixelFormat();
    const int SW = Source.GetWidth();
    const int SH = Source.GetHeight();
    TPxAccessScope sourceAccess(Source, pxAccessRead);

    if (Filter != rfNone && (dxDst != dxSrc || dyDst != dySrc) && (format == px1g || format == px24RGB) &&
        dxSrc > 0 && dySrc > 0) {
        TPxBitmap scaled;
        if (format == px1g && !Source.HasAlphaChannel() && dxSrc >= dxDst) {
            if (!scaled.Allocate(dxDst, dyDst, px24RGB))
                return;
            PxResampleBilevelTo24(&Source, xSrc, ySrc, xSrc + dxSrc - 1, ySrc + dySrc - 1, &scaled);
        } else {
            const int x0 = std::clamp(xSrc, 0, SW - 1);
            const int y0 = std::clamp(ySrc, 0, SH - 1);
            const int w = std::min(dxSrc - (x0 - xSrc), SW - x0);
            const int h = std::min(dySrc - (y0 - ySrc), SH - y0);
            if (w < 1 || h < 1)
                return;
            TPxBitmap part;
            if (!part.Allocate(w, h, format))
                return;
            CopyRectTo(Source, &part, x0, y0, 0, 0, w, h);
            const bool withAlpha = Source.HasAlphaChannel();
            if (withAlpha) {
                TPxBitmap* sourceAlpha = Source.GetAlphaChannel();
                TPxBitmap* partAlpha = part.GetAlphaChannel();
                CopyRectTo(*sourceAlpha, partAlpha, x0, y0, 0, 0, w, h);
                partAlpha->FullAlpha = sourceAlpha->FullAlpha;
            }
            const bool projection = Filter == rfProjectBW || Filter == rfProjectWB;
            if (!scaled.Allocate(dxDst, dyDst, format == px1g && projection ? px1g : px24RGB))
                return;
            if (format == px1g)
                PxResampleBilevel(&part, &scaled, Filter);
            else
                PxResampleFiltered(&part, &scaled, Filter);
            if (withAlpha) {
                TPxBitmap* partAlpha = part.GetAlphaChannel();
                TPxBitmap* scaledAlpha = scaled.GetAlphaChannel();
                PxResampleGray8(partAlpha, scaledAlpha, Filter);
                scaledAlpha->FullAlpha = partAlpha->FullAlpha;
            }
        }
        StretchRectTo(scaled, Dest, xDst, yDst, dxDst, dyDst, 0, 0, dxDst, dyDst, rfNone, Transparency);
        return;
    }

    const int W = Dest->GetWidth();
    const int H = Dest->GetHeight();
    const int yStep = static_cast<int>(classlib::Trunc(static_cast<double>(dySrc) / dyDst * kOne));
    const int xStep = static_cast<int>(classlib::Trunc(static_cast<double>(dxSrc) / dxDst * kOne));
    const int x1 = std::max(xDst, 0);
    const int y1 = std::max(yDst, 0);
    const int x2 = static_cast<int>(std::min<int64_t>(int64_t{xDst} + dxDst - 1, W - 1));
    const int y2 = static_cast<int>(std::min<int64_t>(int64_t{yDst} + dyDst - 1, H - 1));
    if (x1 > x2 || y1 > y2)
        return;

    TPxBitmap* sourceAlpha = nullptr;
    if (Source.HasAlphaChannel()) {
        TPxBitmap* channel = Source.GetAlphaChannel();
        if (!channel->FullAlpha && channel->GetWidth() == SW && channel->GetHeight() == SH)
            sourceAlpha = channel;
    }
    std::unique_ptr<TPxAccessScope> alphaAccess;
    if (sourceAlpha)
        alphaAccess = std::make_unique<TPxAccessScope>(*sourceAlpha, pxAccessRead);

    // Row moves at 1:1 only while every moved pixel lies inside the source;
    // otherwise tables, clamped to the source, are used.
    const bool moves = xStep == kOne && yStep == kOne && format != px1g && !sourceAlpha && xSrc + (x1 - xDst) >= 0 &&
                       ySrc + (y1 - yDst) >= 0 && int64_t{xSrc} + (x2 - xDst) < SW &&
                       int64_t{ySrc} + (y2 - yDst) < SH;
    TPxIndexTable xt, yt;
    if (!moves) {
        xt.assign(static_cast<size_t>(x2 - x1 + 1), 0);
        yt.assign(static_cast<size_t>(y2 - y1 + 1), 0);
        for (int x = x1; x <= x2; ++x)
            xt[static_cast<size_t>(x - x1)] = static_cast<int32_t>(
                std::clamp<int64_t>(xSrc + ((int64_t{x - xDst} * xStep) >> 14), 0, SW - 1));
        for (int y = y1; y <= y2; ++y)
            yt[static_cast<size_t>(y - y1)] = static_cast<int32_t>(
                std::clamp<int64_t>(ySrc + ((int64_t{yStep} * (y - yDst)) >> 14), 0, SH - 1));
    }
    auto sourceRow = [&](int y) { return moves ? y - yDst + ySrc : yt[static_cast<size_t>(y - y1)]; };
    auto sourceCol = [&](int x) { return moves ? x - xDst + xSrc : xt[static_cast<size_t>(x - x1)]; };

    try {
        // Alpha of the drawn range (cut to the alpha channel's own size).
        const int ax2 = std::min(x2, destAlpha->GetWidth() - 1);
        const int ay2 = std::min(y2, destAlpha->GetHeight() - 1);
        if (sourceAlpha) {
            bool below = false;
            for (int y = y1; y <= ay2; ++y) {
                const uint8_t* arow = sourceAlpha->GetScanline(sourceRow(y));
                uint8_t* drow = destAlpha->GetScanline(y);
                for (int x = x1; x <= ax2; ++x) {
                    const uint8_t v = std::min<uint8_t>(arow[sourceCol(x)], static_cast<uint8_t>(Transparency));
                    drow[x] = v;
                    below = below || v < 255;
                }
            }
            if (below)
                destAlpha->FullAlpha = false;
        } else if (x1 <= ax2 && y1 <= ay2) {
            destAlpha->FillRect(x1, y1, ax2, ay2, Transparency);
            if (Transparency < 255)
                destAlpha->FullAlpha = false;
        }

        // Pixels.
        if (format == px1g || format == px24RGB) {
            for (int y = y1; y <= y2; ++y) {
                const uint8_t* srow = Source.GetScanline(sourceRow(y));
                uint8_t* drow = Dest->GetScanline(y);
                TPxRGB* d = reinterpret_cast<TPxRGB*>(drow);
                if (format == px24RGB && moves) {
                    std::memcpy(d + x1, reinterpret_cast<const TPxRGB*>(srow) + sourceCol(x1),
                                static_cast<size_t>(x2 - x1 + 1) * 3);
                    continue;
                }
                for (int x = x1; x <= x2; ++x) {
                    const int sx = sourceCol(x);
                    if (format == px24RGB) {
                        d[x] = reinterpret_cast<const TPxRGB*>(srow)[sx];
                    } else {
                        const uint8_t v = (srow[sx >> 3] & (0x80 >> (sx & 7))) ? 255 : 0;
                        d[x] = TPxRGB{v, v, v};
                    }
                }
            }
        }
    } catch (...) {
        // A failing row ends the drawing (see the header).
    }
}

}  // namespace imaging
