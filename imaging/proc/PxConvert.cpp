#include "imaging/proc/PxConvert.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxMask.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/PxConvertRows.h"
#include "imaging/proc/PxQuantizer.h"

namespace imaging {

namespace {

// ---------------------------------------------------------------------------
// Pixel helpers

uint8_t Grey8(const TPxRGB& c)
{
    return static_cast<uint8_t>(PxRGB2Gray(c));
}

uint16_t Grey16(const TPxRGB& c)
{
    return static_cast<uint16_t>((c.r * 54484 + c.g * 183241 + c.b * 19275) / 1000);
}

float GreyFloat(const TPxRGB& c)
{
    return static_cast<float>((0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b) / 255);
}

// Trunc(v * MaxValue) limited to 0..MaxValue: float grey outside 0..1 (or
// NaN) would otherwise wrap around in the integer formats.
int FloatLevel(float v, int MaxValue)
{
    const double d = static_cast<double>(v) * MaxValue;
    if (!(d > 0))
        return 0;
    if (d >= MaxValue)
        return MaxValue;
    return static_cast<int>(d);
}

TPxRGB GreyRGB(uint8_t v)
{
    return TPxRGB{v, v, v};
}

TPxRGB HighBytes(const TPxRGB48& p)
{
    return TPxRGB{static_cast<uint8_t>(p.b >> 8), static_cast<uint8_t>(p.g >> 8), static_cast<uint8_t>(p.r >> 8)};
}

uint16_t Word(const uint8_t* row, int x)
{
    uint16_t v;
    std::memcpy(&v, row + 2 * static_cast<size_t>(x), 2);
    return v;
}

void PutWord(uint8_t* row, int x, uint16_t v)
{
    std::memcpy(row + 2 * static_cast<size_t>(x), &v, 2);
}

float Float(const uint8_t* row, int x)
{
    float v;
    std::memcpy(&v, row + 4 * static_cast<size_t>(x), 4);
    return v;
}

void PutFloat(uint8_t* row, int x, float v)
{
    std::memcpy(row + 4 * static_cast<size_t>(x), &v, 4);
}

TPxRGB48 RGB48(const uint8_t* row, int x)
{
    TPxRGB48 v;
    std::memcpy(&v, row + 6 * static_cast<size_t>(x), 6);
    return v;
}

void PutRGB48(uint8_t* row, int x, uint16_t r, uint16_t g, uint16_t b)
{
    const TPxRGB48 v{r, g, b};
    std::memcpy(row + 6 * static_cast<size_t>(x), &v, 6);
}

TPxRGB RGB24(const uint8_t* row, int x)
{
    TPxRGB v;
    std::memcpy(&v, row + 3 * static_cast<size_t>(x), 3);
    return v;
}

void SetBit(uint8_t* row, int x)
{
    row[x >> 3] |= PxBitMask[x & 7];
}

bool Bit(const uint8_t* row, int x)
{
    return PxGetBit(row, x) != 0;
}

// The palette of a px8p source as 256 entries (black past its length).
std::array<TPxRGB, 256> PaletteOf(TPxBitmap& Bitmap)
{
    std::array<TPxRGB, 256> pal{};
    for (int i = 0; i < 256; ++i)
        pal[static_cast<size_t>(i)] = Bitmap.GetPaletteEntry(i);
    return pal;
}

void SetGreyRamp(TPxBitmap& Bitmap)
{
    const int n = std::min(Bitmap.GetPaletteLen(), 256);
    TPxRGB* pal = Bitmap.GetPaletteBuffer();
    if (!pal)
        return;
    for (int i = 0; i < n; ++i)
        pal[i] = GreyRGB(static_cast<uint8_t>(i));
    Bitmap.SyncVclPalette();
}

// The 24-bit value of px16g word W by the display range of Target (no range:
// the high byte).
uint8_t Grey16To8Displayed(uint16_t w, double Min, double Max)
{
    const double range = Max - Min;
    if (range == 0)
        return static_cast<uint8_t>(w >> 8);
    const auto truncToInt = [](double v) -> int64_t {
        if (!(v == v))
            return 0;
        if (v >= 9.0e18)
            return std::numeric_limits<int64_t>::max();
        if (v <= -9.0e18)
            return std::numeric_limits<int64_t>::min();
        return static_cast<int64_t>(v);
    };
    const int64_t lo = truncToInt(Min);
    const int64_t hi = truncToInt(Max);
    int64_t v = w;
    if (v <= lo)
        v = lo;
    else if (v >= hi)
        v = hi;
    const double scaled = static_cast<double>(v - lo) / range * 255;
    // The clamp above keeps the value in 0..255 for Min < Max; a reversed
    // range is limited instead of wrapping.
    if (!(scaled > 0))
        return 0;
    if (scaled >= 255)
        return 255;
    return static_cast<uint8_t>(scaled);
}

// Pixels of a source row of any format as RGB (the px24RGB values of the
// conversion table). Target supplies the display range of px16g.
void RowToRGB(TPxPixelFormat Format, const uint8_t* s, int w, TPxRGB* out, const std::array<TPxRGB, 256>& pal,
              double DisplayMin, double DisplayMax)
{
    switch (Format) {
    case px1g:
        for (int x = 0; x < w; ++x)
            out[x] = GreyRGB(Bit(s, x) ? 255 : 0);
        break;
    case px8p:
        for (int x = 0; x < w; ++x)
            out[x] = pal[s[x]];
        break;
    case px8g:
        for (int x = 0; x < w; ++x)
            out[x] = GreyRGB(s[x]);
        break;
    case px16g:
        for (int x = 0; x < w; ++x)
            out[x] = GreyRGB(Grey16To8Displayed(Word(s, x), DisplayMin, DisplayMax));
        break;
    case px24RGB:
        std::memcpy(out, s, 3 * static_cast<size_t>(w));
        break;
    case px32f:
        for (int x = 0; x < w; ++x)
            out[x] = GreyRGB(static_cast<uint8_t>(FloatLevel(Float(s, x), 255)));
        break;
    case pxCMYK:
        for (int x = 0; x < w; ++x) {
            TPxCMYK p;
            std::memcpy(&p, s + 4 * static_cast<size_t>(x), 4);
            out[x] = PxCMYKToRGBPixel(p);
        }
        break;
    case pxRGB48:
        for (int x = 0; x < w; ++x)
            out[x] = HighBytes(RGB48(s, x));
        break;
    case pxCIELab:
        for (int x = 0; x < w; ++x) {
            TPxCIELab p;
            std::memcpy(&p, s + 3 * static_cast<size_t>(x), 3);
            out[x] = PxCIELabToRGBPixel(p);
        }
        break;
    case px32RGB:
        for (int x = 0; x < w; ++x)
            std::memcpy(&out[x], s + 4 * static_cast<size_t>(x), 3);
        break;
    default:
        break;
    }
}

// Runs f(source row, target row, y) for every row; target rows are written
// whole (cleared first, so alignment bytes are 0) and never read.
template <class F>
void ForRows(TPxBitmap& Target, TPxBitmap& Source, F&& f)
{
    const int h = Target.GetHeight();
    const size_t len = static_cast<size_t>(Target.GetRowLen());
    TPxAccessScope readSource(Source, pxAccessRead);
    TPxAccessScope writeTarget(Target, pxAccessWrite);
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = Source.GetScanline(y);
        uint8_t* t = Target.GetScanline(y);
        std::memset(t, 0, len);
        f(s, t, y);
    }
}

void CopyRows(TPxBitmap& Target, TPxBitmap& Source)
{
    const size_t n = static_cast<size_t>(std::min(Target.GetRowLen(), Source.GetRowLen()));
    const int h = std::min(Target.GetHeight(), Source.GetHeight());
    TPxAccessScope readSource(Source, pxAccessRead);
    TPxAccessScope writeTarget(Target, n == static_cast<size_t>(Target.GetRowLen()) ? pxAccessWrite : pxAccessReadWrite);
    for (int y = 0; y < h; ++y)
        std::memcpy(Target.GetScanline(y), Source.GetScanline(y), n);
}

// Target's alpha channel (created on demand) becomes a copy of Source's.
void CopyAlpha(TPxBitmap& Target, TPxBitmap& Source)
{
    if (!Source.HasAlphaChannel())
        return;
    TPxBitmap* sa = Source.GetAlphaChannel();
    TPxBitmap* ta = Target.GetAlphaChannel();
    if (!sa || !ta || sa == ta)
        return;
    if (ta->GetWidth() != sa->GetWidth() || ta->GetHeight() != sa->GetHeight() || ta->GetPixelFormat() != px8g) {
        if (!ta->Allocate(sa->GetWidth(), sa->GetHeight(), px8g))
            return;
    }
    CopyRows(*ta, *sa);
    ta->FullAlpha = sa->FullAlpha;
}

bool GoesThroughRGB(TPxPixelFormat sf, TPxPixelFormat tf, uint8_t BiLevelMethod)
{
    if (sf == px24RGB || tf == px24RGB)
        return false;
    if (sf == pxCMYK || sf == pxCIELab)
        return tf != px32RGB;
    if (sf == px32RGB)
        return true;
    if (tf == pxCMYK || tf == pxCIELab)
        return true;
    if (sf == pxRGB48)
        return tf == px8p || (tf == px1g && BiLevelMethod != 0);
    return false;
}

void ConvertPixels(TPxBitmap& T, TPxBitmap& S);

// A px24RGB copy of Source (same storage rule as Source; Source's display
// range, which its px16g conversion reads).
std::unique_ptr<TPxBitmap> RGBCopy(TPxBitmap& Source)
{
    auto copy = std::make_unique<TPxBitmap>();
    copy->FileThreshold = Source.FileThreshold;
    copy->DisplayMin = Source.DisplayMin;
    copy->DisplayMax = Source.DisplayMax;
    if (!copy->Allocate(Source.GetWidth(), Source.GetHeight(), px24RGB))
        throw classlib::EOutOfMemory(L"No storage for the px24RGB copy of a pixel-format conversion");
    ConvertPixels(*copy, Source);
    return copy;
}

// Ordered-dither level 0..63 of each pixel of a source row.
void RowLevels(TPxPixelFormat sf, const uint8_t* s, int w, const std::array<TPxRGB, 256>& pal, uint8_t* level)
{
    for (int x = 0; x < w; ++x) {
        switch (sf) {
        case px8p:
            level[x] = static_cast<uint8_t>(Grey8(pal[s[x]]) >> 2);
            break;
        case px8g:
            level[x] = static_cast<uint8_t>(s[x] >> 2);
            break;
        case px16g:
            level[x] = static_cast<uint8_t>(Word(s, x) >> 10);
            break;
        case px24RGB:
            level[x] = static_cast<uint8_t>(Grey8(RGB24(s, x)) >> 2);
            break;
        case px32f:
            // The same 0..63 scale as the 8-bit sources.
            level[x] = static_cast<uint8_t>(FloatLevel(Float(s, x), 255) >> 2);
            break;
        case pxRGB48:
            level[x] = static_cast<uint8_t>(Grey8(HighBytes(RGB48(s, x))) >> 2);
            break;
        default:
            level[x] = 0;
            break;
        }
    }
}

void ToBilevel(TPxBitmap& T, TPxBitmap& S, TPxPixelFormat sf)
{
    if (T.BiLevelMethod != 0) {
        PxThresholdToBilevel(&S, &T, -1, nullptr);
        return;
    }
    const int w = T.GetWidth();
    const auto pal = PaletteOf(S);
    std::vector<uint8_t> level(static_cast<size_t>(w));
    ForRows(T, S, [&](const uint8_t* s, uint8_t* t, int y) {
        RowLevels(sf, s, w, pal, level.data());
        for (int x = 0; x < w; ++x)
            if (PxBayer8x8[x & 7][y & 7] < level[static_cast<size_t>(x)])
                SetBit(t, x);
    });
}

void ToPalette(TPxBitmap& T, TPxBitmap& S, TPxPixelFormat sf)
{
    const int w = T.GetWidth();
    TPxRGB* tpal = T.GetPaletteBuffer();
    const int tlen = std::min(T.GetPaletteLen(), 256);
    switch (sf) {
    case px1g:
        if (tpal && tlen >= 2) {
            tpal[0] = GreyRGB(0);
            tpal[1] = GreyRGB(255);
            T.SyncVclPalette();
        }
        ForRows(T, S, [&](const uint8_t* s, uint8_t* t, int) {
            for (int x = 0; x < w; ++x)
                t[x] = Bit(s, x) ? 1 : 0;
        });
        break;
    case px8g:
        SetGreyRamp(T);
        ForRows(T, S, [&](const uint8_t* s, uint8_t* t, int) { std::memcpy(t, s, static_cast<size_t>(w)); });
        break;
    case px16g:
        SetGreyRamp(T);
        ForRows(T, S, [&](const uint8_t* s, uint8_t* t, int) {
            for (int x = 0; x < w; ++x)
                t[x] = static_cast<uint8_t>(Word(s, x) >> 8);
        });
        break;
    case px32f:
        SetGreyRamp(T);
        ForRows(T, S, [&](const uint8_t* s, uint8_t* t, int) {
            for (int x = 0; x < w; ++x)
                t[x] = static_cast<uint8_t>(FloatLevel(Float(s, x), 255));
        });
        break;
    case px24RGB: {
        std::vector<TPxRGB> pal(256, TPxRGB{0, 0, 0});
        const int count = std::min(T.PaletteCapacity, 256);
        TPxQuantizer quantizer(S, std::span<TPxRGB>(pal), 255, count);
        if (tpal) {
            std::memcpy(tpal, pal.data(), 3 * static_cast<size_t>(tlen));
            T.SyncVclPalette();
        }
        ForRows(T, S, [&](const uint8_t* s, uint8_t* t, int) {
            for (int x = 0; x < w; ++x) {
                const int i = quantizer.ColorIndex(RGB24(s, x));
                t[x] = static_cast<uint8_t>(i >= 0 && i < 256 ? i : 0);
            }
        });
        break;
    }
    default:
        break;
    }
}

void ToGrey8(TPxBitmap& T, TPxBitmap& S, TPxPixelFormat sf)
{
    const int w = T.GetWidth();
    const auto pal = PaletteOf(S);
    ForRows(T, S, [&](const uint8_t* s, uint8_t* t, int) {
        for (int x = 0; x < w; ++x) {
            switch (sf) {
            case px1g: t[x] = Bit(s, x) ? 255 : 0; break;
            case px8p: t[x] = Grey8(pal[s[x]]); break;
            case px16g: t[x] = static_cast<uint8_t>(Word(s, x) >> 8); break;
            case px24RGB: t[x] = Grey8(RGB24(s, x)); break;
            case px32f: t[x] = static_cast<uint8_t>(FloatLevel(Float(s, x), 255)); break;
            case pxRGB48: t[x] = Grey8(HighBytes(RGB48(s, x))); break;
            default: break;
            }
        }
    });
}

void ToGrey16(TPxBitmap& T, TPxBitmap& S, TPxPixelFormat sf)
{
    const int w = T.GetWidth();
    const auto pal = PaletteOf(S);
    ForRows(T, S, [&](const uint8_t* s, uint8_t* t, int) {
        for (int x = 0; x < w; ++x) {
            uint16_t v = 0;
            switch (sf) {
            case px1g: v = Bit(s, x) ? 65535 : 0; break;
            case px8p: v = Grey16(pal[s[x]]); break;
            case px8g: v = static_cast<uint16_t>(s[x] * 257); break;
            case px24RGB: v = Grey16(RGB24(s, x)); break;
            case px32f: v = static_cast<uint16_t>(FloatLevel(Float(s, x), 65535)); break;
            case pxRGB48: {
                const TPxRGB48 p = RGB48(s, x);
                v = static_cast<uint16_t>((p.r * 212 + p.g * 713 + p.b * 75) / 1000);
                break;
            }
            default: break;
            }
            PutWord(t, x, v);
        }
    });
}

void ToFloat(TPxBitmap& T, TPxBitmap& S, TPxPixelFormat sf)
{
    const int w = T.GetWidth();
    const auto pal = PaletteOf(S);
    ForRows(T, S, [&](const uint8_t* s, uint8_t* t, int) {
        for (int x = 0; x < w; ++x) {
            float v = 0;
            switch (sf) {
            case px1g: v = Bit(s, x) ? 1.0f : 0.0f; break;
            case px8p: v = GreyFloat(pal[s[x]]); break;
            case px8g: v = static_cast<float>(s[x] / 255.0); break;
            case px16g: v = static_cast<float>(Word(s, x) / 65535.0); break;
            case px24RGB: v = GreyFloat(RGB24(s, x)); break;
            case pxRGB48: {
                const TPxRGB48 p = RGB48(s, x);
                v = static_cast<float>((0.2126 * p.r / 256 + 0.7152 * p.g / 256 + 0.0722 * p.b / 256) / 255);
                break;
            }
            default: break;
            }
            PutFloat(t, x, v);
        }
    });
}

void ToRGB48(TPxBitmap& T, TPxBitmap& S, TPxPixelFormat sf)
{
    const int w = T.GetWidth();
    const auto pal = PaletteOf(S);
    ForRows(T, S, [&](const uint8_t* s, uint8_t* t, int) {
        for (int x = 0; x < w; ++x) {
            switch (sf) {
            case px1g: {
                const uint16_t v = Bit(s, x) ? 65535 : 0;
                PutRGB48(t, x, v, v, v);
                break;
            }
            case px8p:
            case px24RGB: {
                const TPxRGB c = sf == px8p ? pal[s[x]] : RGB24(s, x);
                PutRGB48(t, x, static_cast<uint16_t>(c.r * 257), static_cast<uint16_t>(c.g * 257),
                         static_cast<uint16_t>(c.b * 257));
                break;
            }
            case px8g: {
                const uint16_t v = static_cast<uint16_t>(s[x] * 257);
                PutRGB48(t, x, v, v, v);
                break;
            }
            case px16g: {
                const uint16_t v = Word(s, x);
                PutRGB48(t, x, v, v, v);
                break;
            }
            case px32f: {
                const uint16_t v = static_cast<uint16_t>(FloatLevel(Float(s, x), 65535));
                PutRGB48(t, x, v, v, v);
                break;
            }
            default: break;
            }
        }
    });
}

void ToRGB(TPxBitmap& T, TPxBitmap& S, TPxPixelFormat sf, bool FourBytes)
{
    const int w = T.GetWidth();
    const auto pal = PaletteOf(S);
    std::vector<TPxRGB> rgb(static_cast<size_t>(w));
    ForRows(T, S, [&](const uint8_t* s, uint8_t* t, int) {
        RowToRGB(sf, s, w, rgb.data(), pal, T.DisplayMin, T.DisplayMax);
        if (!FourBytes) {
            std::memcpy(t, rgb.data(), 3 * static_cast<size_t>(w));
            return;
        }
        for (int x = 0; x < w; ++x) {
            std::memcpy(t + 4 * static_cast<size_t>(x), &rgb[static_cast<size_t>(x)], 3);
            t[4 * static_cast<size_t>(x) + 3] = 255;
        }
    });
}

void RGBToCMYKOrLab(TPxBitmap& T, TPxBitmap& S, bool Lab)
{
    const int w = T.GetWidth();
    ForRows(T, S, [&](const uint8_t* s, uint8_t* t, int) {
        for (int x = 0; x < w; ++x) {
            const TPxRGB c = RGB24(s, x);
            if (Lab) {
                const TPxCIELab v = PxRGBToCIELabPixel(c);
                std::memcpy(t + 3 * static_cast<size_t>(x), &v, 3);
            } else {
                const TPxCMYK v = PxRGBToCMYKPixel(c);
                std::memcpy(t + 4 * static_cast<size_t>(x), &v, 4);
            }
        }
    });
}

void ConvertPixels(TPxBitmap& T, TPxBitmap& S)
{
    const TPxPixelFormat sf = S.GetPixelFormat();
    const TPxPixelFormat tf = T.GetPixelFormat();
    if (sf == tf) {
        CopyRows(T, S);
        if (tf == px8p) {
            TPxRGB* tpal = T.GetPaletteBuffer();
            const int n = std::min(T.GetPaletteLen(), S.GetPaletteLen());
            if (tpal && S.GetPaletteBuffer() && n > 0) {
                std::memcpy(tpal, S.GetPaletteBuffer(), 3 * static_cast<size_t>(n));
                T.SyncVclPalette();
            }
        }
        return;
    }
    if (GoesThroughRGB(sf, tf, T.BiLevelMethod)) {
        const std::unique_ptr<TPxBitmap> rgb = RGBCopy(S);
        ConvertPixels(T, *rgb);
        return;
    }
    switch (tf) {
    case px1g: ToBilevel(T, S, sf); break;
    case px8p: ToPalette(T, S, sf); break;
    case px8g: ToGrey8(T, S, sf); break;
    case px16g: ToGrey16(T, S, sf); break;
    case px24RGB: ToRGB(T, S, sf, false); break;
    case px32f: ToFloat(T, S, sf); break;
    case pxCMYK: RGBToCMYKOrLab(T, S, false); break;
    case pxRGB48: ToRGB48(T, S, sf); break;
    case pxCIELab: RGBToCMYKOrLab(T, S, true); break;
    case px32RGB: ToRGB(T, S, sf, true); break;
    default: break;
    }
}

// Rows of Source copied into a new memory or file image of the same format.
std::unique_ptr<TPxBitmap> RowCopy(TPxBitmap& Source)
{
    auto copy = std::make_unique<TPxBitmap>();
    copy->FileThreshold = Source.FileThreshold;
    copy->BiLevelMethod = Source.BiLevelMethod;
    if (!copy->Allocate(Source.GetWidth(), Source.GetHeight(), Source.GetPixelFormat()))
        throw classlib::EOutOfMemory(L"No storage for a pixel-format conversion");
    CopyRows(*copy, Source);
    return copy;
}

// pxTBitmap: the three conversions that change the system bitmap's pixels
// keep the same system bitmap object (views may hold it).
void ConvertSystemBitmap(TPxBitmap& Bitmap, TPxPixelFormat Format)
{
    classlib::TBitmap* vcl = Bitmap.GetVclBitmap();
    if (!vcl) {
        // No system bitmap yet: only the format is recorded (the allocation
        // of an empty size fails and leaves the image empty).
        Bitmap.Allocate(0, 0, Format);
        return;
    }
    if (vcl->GetWidth() <= 0 || vcl->GetHeight() <= 0) {
        if (Format == px1g)
            vcl->SetPixelFormat(classlib::pf1bit);
        else if (Format == px24RGB)
            vcl->SetPixelFormat(classlib::pf24bit);
        Bitmap.SyncFromVclBitmap();
        return;
    }
    const TPxPixelFormat old = Bitmap.GetPixelFormat();
    const int w = Bitmap.GetWidth();
    const int h = Bitmap.GetHeight();
    if (old == px1g && Format == px24RGB) {
        const std::unique_ptr<classlib::TBitmap> copy = PxCloneVclBitmap(vcl);
        PxConvert1To24Vcl(copy.get(), vcl, nullptr);
    } else if (old == px24RGB && (Format == px1g || Format == px8g)) {
        std::unique_ptr<TPxBitmap> work = RowCopy(Bitmap);
        if (Format == px1g) {
            if (Bitmap.BiLevelMethod == 0)
                PxConvertToBWOrdered(work.get(), nullptr);
            else
                PxConvertToBWThreshold(work.get(), -1, nullptr);
            vcl->SetPixelFormat(classlib::pf1bit);
        } else {
            PxConvertToPixelFormat(*work, px8g);
            vcl->SetPixelFormat(classlib::pf8bit);
            PxSetGrayPalette(vcl);
        }
        const size_t n = static_cast<size_t>(PxBitmapRowLen(w, Format == px1g ? 1 : 8, 8));
        TPxAccessScope readWork(*work, pxAccessRead);
        for (int y = 0; y < h; ++y)
            std::memcpy(vcl->GetScanLine(y), work->GetScanline(y), n);
    }
    Bitmap.SyncFromVclBitmap();
}

void InstallHooks()
{
    PxBitmapServices.ConvertPixelFormat = &PxConvertToPixelFormat;
    PxBitmapServices.CIELabToRGB = &PxCIELabToRGBPixel;
    PxBitmapServices.RGBToCIELab = &PxRGBToCIELabPixel;
}

// Installed whenever this unit is linked in (PxBitmapServices is constant-
// initialised, so it exists before any dynamic initialisation).
const bool hooksInstalled = (InstallHooks(), true);

}  // namespace

void PxInstallPixelFormatConversion()
{
    (void)hooksInstalled;
    InstallHooks();
}

void PxConvertToPixelFormat(TPxBitmap& Bitmap, TPxPixelFormat Format)
{
    if (Bitmap.GetLocation() == pxTBitmap) {
        ConvertSystemBitmap(Bitmap, Format);
        return;
    }
    const int w = Bitmap.GetWidth();
    const int h = Bitmap.GetHeight();
    const TPxPixelFormat old = Bitmap.GetPixelFormat();
    TPxBitmap previous;
    Bitmap.MoveStorageTo(&previous);
    if (!Bitmap.Allocate(w, h, Format) || old == pxNoPixels)
        return;
    try {
        PxConvertPixelsFrom(Bitmap, previous);
    } catch (...) {
        // Give the caller back the image it had.
        previous.MoveStorageTo(&Bitmap);
        throw;
    }
}

void PxConvertPixelsFrom(TPxBitmap& Target, TPxBitmap& Source)
{
    if (&Target == &Source || Target.GetLocation() == pxTBitmap)
        return;
    if (Target.GetWidth() != Source.GetWidth() || Target.GetHeight() != Source.GetHeight())
        return;
    if (Source.GetPixelFormat() != pxNoPixels && Target.GetPixelFormat() != pxNoPixels)
        ConvertPixels(Target, Source);
    CopyAlpha(Target, Source);
    Target.SyncVclPalette();
}

void PxBitmapToMask(TPxBitmap* Bitmap, TPxMask* Mask)
{
    if (!Bitmap || !Mask)
        return;
    const TPxPixelFormat format = Bitmap->GetPixelFormat();
    if (format != px1g && format != px8g && format != px24RGB)
        return;
    const int w = Bitmap->GetWidth();
    const int h = Bitmap->GetHeight();
    const bool full = Mask->Full;
    Mask->AllocateBits(w, h, format == px1g ? 1 : 8);
    TPxAccessScope readBitmap(*Bitmap, pxAccessRead);
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = Bitmap->GetScanline(y);
        uint8_t* m = Mask->GetScanline(y);
        if (format == px24RGB) {
            for (int x = 0; x < w; ++x)
                m[x] = Grey8(RGB24(s, x));
        } else {
            std::memcpy(m, s, static_cast<size_t>(std::min(Mask->RowLen, Bitmap->GetRowLen())));
        }
    }
    Mask->Full = format == px24RGB ? full : Bitmap->FullAlpha;
    Mask->SyncBoundingBox();
}

// ---------------------------------------------------------------------------
// CIELab

TPxCIELab PxRGB2CIELab(uint32_t Colour)
{
    double c[3] = {((Colour >> 16) & 255) / 255.0, ((Colour >> 8) & 255) / 255.0, (Colour & 255) / 255.0};
    for (double& v : c)
        v = v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    const double R = c[0], G = c[1], B = c[2];
    const double Y = 0.212671 * R + 0.715160 * G + 0.072169 * B;
    const double X = (0.412453 * R + 0.357580 * G + 0.180423 * B) / 0.95047;
    const double Z = (0.019334 * R + 0.119193 * G + 0.950227 * B) / 1.088883;
    const auto f = [](double t) { return t > 0.008856 ? std::pow(t, 1.0 / 3) : 7.787 * t + 16.0 / 116; };
    const double fX = f(X), fY = f(Y), fZ = f(Z);
    const double L = Y > 0.008856 ? 116 * fY - 16 : 903.3 * Y;
    TPxCIELab lab;
    // L 0..100 is stored on 0..255 and read back the same way, so that a
    // round trip keeps white white.
    lab.l = static_cast<uint8_t>(static_cast<int>(L * 255 / 100));
    lab.a = static_cast<int8_t>(static_cast<int>((fX - fY) * 500));
    lab.b = static_cast<int8_t>(static_cast<int>((fY - fZ) * 200));
    return lab;
}

TPxRGB PxCIELab2RGB(uint32_t Lab)
{
    const double Lbyte = Lab & 255;
    const double a = static_cast<int8_t>((Lab >> 8) & 255);
    const double b = static_cast<int8_t>((Lab >> 16) & 255);
    const double L = Lbyte * 100 / 255;
    const double fY = (L + 16) / 116;
    const double fX = fY + a / 500;
    const double fZ = fY - b / 200;
    const auto inv = [](double f) {
        const double f3 = f * f * f;
        return f3 > 0.008856 ? f3 : (f - 0.13793103448) / 7.787;
    };
    const double X = inv(fX) * 0.95047;
    const double Y = inv(fY);
    const double Z = inv(fZ) * 1.08883;
    const double rgb[3] = {3.2406 * X - 1.5372 * Y - 0.4986 * Z, -0.9689 * X + 1.8758 * Y + 0.0415 * Z,
                           0.0557 * X - 0.2040 * Y + 1.0570 * Z};
    uint8_t out[3];
    for (int i = 0; i < 3; ++i) {
        double v = rgb[i];
        v = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
        const int64_t r = classlib::Round(v * 255);
        out[i] = static_cast<uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
    }
    return TPxRGB{out[2], out[1], out[0]};
}

TPxCIELab PxRGBToCIELabPixel(const TPxRGB& Colour)
{
    return PxRGB2CIELab((static_cast<uint32_t>(Colour.r) << 16) | (static_cast<uint32_t>(Colour.g) << 8) | Colour.b);
}

TPxRGB PxCIELabToRGBPixel(const TPxCIELab& Lab)
{
    return PxCIELab2RGB((static_cast<uint32_t>(static_cast<uint8_t>(Lab.b)) << 16) |
                        (static_cast<uint32_t>(static_cast<uint8_t>(Lab.a)) << 8) | Lab.l);
}

// ---------------------------------------------------------------------------
// CMYK

TPxRGB PxCMYKToRGBPixel(const TPxCMYK& Pixel)
{
    if (PxBitmapServices.CMYKToRGB)
        return PxBitmapServices.CMYKToRGB(Pixel);
    return TPxRGB{static_cast<uint8_t>(Pixel.y * Pixel.k / 255), static_cast<uint8_t>(Pixel.m * Pixel.k / 255),
                  static_cast<uint8_t>(Pixel.c * Pixel.k / 255)};
}

TPxCMYK PxRGBToCMYKPixel(const TPxRGB& Pixel)
{
    if (PxBitmapServices.RGBToCMYK)
        return PxBitmapServices.RGBToCMYK(Pixel);
    int k = std::max({Pixel.r, Pixel.g, Pixel.b});
    if (k == 0)
        k = 1;
    return TPxCMYK{static_cast<uint8_t>(Pixel.r * 255 / k), static_cast<uint8_t>(Pixel.g * 255 / k),
                   static_cast<uint8_t>(Pixel.b * 255 / k), static_cast<uint8_t>(k)};
}

}  // namespace imaging
