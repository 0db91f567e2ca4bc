#include "imaging/model/PxIntColor.h"

#include <cstring>

#include "classlib/Graphics.h"
#include "classlib/SysUtils.h"

namespace imaging {

int PxCeil(double x)
{
    int t = static_cast<int>(x);
    return (x - t > 0) ? t + 1 : t;
}

int PxFloor(double x)
{
    int t = static_cast<int>(x);
    return (x - t < 0) ? t - 1 : t;
}

double PxMinFloat(double a, double b) { return a <= b ? a : b; }
double PxMaxFloat(double a, double b) { return b > a ? b : a; }
int PxMaxInt(int a, int b) { return a < b ? b : a; }
int PxMinInt(int a, int b) { return b < a ? b : a; }

int PxClampInt(int v, int low, int high)
{
    if (v <= low)
        return low;
    if (v < high)
        return v;
    return high;
}

int PxClampByte(int v)
{
    if (v < 0)
        return 0;
    if (v > 255)
        return 255;
    return v;
}

void PxSwapInt(int& a, int& b)
{
    int t = a;
    a = b;
    b = t;
}

void PxSwapBytes(uint8_t& a, uint8_t& b)
{
    uint8_t t = a;
    a = b;
    b = t;
}

void PxNormalizeRect(int& x1, int& y1, int& x2, int& y2)
{
    if (x2 < x1)
        PxSwapInt(x1, x2);
    if (y2 < y1)
        PxSwapInt(y1, y2);
}

void PxPointOffset(const TPxIntPoint& p, const TPxIntPoint& offset, TPxIntPoint& q)
{
    q.x = p.x + offset.x;
    q.y = p.y + offset.y;
}

void PxPointDiff(const TPxIntPoint& a, const TPxIntPoint& b, TPxIntPoint& q)
{
    q.x = a.x - b.x;
    q.y = a.y - b.y;
}

TPxRGB PxMakeRGB(uint8_t r, uint8_t g, uint8_t b)
{
    TPxRGB c;
    c.r = r;
    c.g = g;
    c.b = b;
    return c;
}

TPxCMYK PxMakeCMYK(uint8_t c, uint8_t m, uint8_t y, uint8_t k)
{
    TPxCMYK v;
    v.c = c;
    v.m = m;
    v.y = y;
    v.k = k;
    return v;
}

bool PxSameRGB(const TPxRGB& a, const TPxRGB& b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

int32_t PxRGBToColor(const TPxRGB& c)
{
    return static_cast<int32_t>(c.r | (c.g << 8) | (c.b << 16));
}

TPxRGB PxColorToRGB(int32_t color)
{
    const uint32_t c = static_cast<uint32_t>(classlib::ColorToRGB(color));
    return PxMakeRGB(static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c >> 16));
}

uint32_t PxColorToARGB(int32_t color, uint8_t alpha)
{
    const uint32_t c = static_cast<uint32_t>(classlib::ColorToRGB(color));
    const uint32_t r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    return b | (g << 8) | (r << 16) | (static_cast<uint32_t>(alpha) << 24);
}

int PxRGB2Gray(const TPxRGB& c)
{
    return (c.r * PxGrayWeightR + c.g * PxGrayWeightG + c.b * PxGrayWeightB) / 100;
}

void PxRGB2HSL(const TPxRGB& c, double& hue, double& saturation, double& lightness)
{
    const double r = c.r / 255.0;
    const double g = c.g / 255.0;
    const double b = c.b / 255.0;
    const double mx = PxMaxFloat(PxMaxFloat(b, g), r);
    const double mn = PxMinFloat(PxMinFloat(b, g), r);
    lightness = (mx + mn) / 2;
    if (mx == mn) {
        saturation = 0;
        hue = 0;
        return;
    }
    const double d = mx - mn;
    saturation = (lightness >= 0.5) ? d / (2 - mx - mn) : d / (mx + mn);
    double h;
    if (mx == r)
        h = (g - b) / d;
    else if (mx != g)
        h = (r - g) / d + 4;
    else
        h = (b - r) / d + 2;
    hue = h / 6;
    if (hue < 0)
        hue += 1;
}

double PxHueToChannel(double hue, double q, double p)
{
    if (hue < 0)
        hue += 1;
    else if (hue > 1)
        hue -= 1;
    if (6 * hue < 1)
        return p + (q - p) * 6 * hue;
    if (2 * hue < 1)
        return q;
    if (3 * hue < 2)
        return p + (q - p) * (2.0 / 3.0 - hue) * 6;
    return p;
}

namespace {

uint8_t ChannelToByte(double x) { return static_cast<uint8_t>(PxClampByte(static_cast<int>(classlib::Round(x * 255)))); }

}  // namespace

void PxHSL2RGB(double hue, double saturation, double lightness, TPxRGB& c)
{
    if (hue < 0)
        hue += 1;
    else if (hue > 1)
        hue -= 1;
    saturation = saturation < 0 ? 0 : (saturation > 1 ? 1 : saturation);
    lightness = lightness < 0 ? 0 : (lightness > 1 ? 1 : lightness);
    double r, g, b;
    if (saturation == 0) {
        r = g = b = lightness;
    } else {
        const double q = (lightness > 0.5) ? saturation + lightness - saturation * lightness
                                           : lightness * (saturation + 1);
        const double p = 2 * lightness - q;
        r = PxHueToChannel(hue + 1.0 / 3.0, q, p);
        g = PxHueToChannel(hue, q, p);
        b = PxHueToChannel(hue - 1.0 / 3.0, q, p);
    }
    c.r = ChannelToByte(r);
    c.g = ChannelToByte(g);
    c.b = ChannelToByte(b);
}

uint8_t PxGetBit(const void* row, int i)
{
    return static_cast<const uint8_t*>(row)[i >> 3] & PxBitMask[i & 7];
}

void PxSetBit(void* row, int i, bool value)
{
    uint8_t& byte = static_cast<uint8_t*>(row)[i >> 3];
    if (value)
        byte |= PxBitMask[i & 7];
    else
        byte &= static_cast<uint8_t>(~PxBitMask[i & 7]);
}

void PxCopyBits(void* Dest, const void* Source, int DestBitOffset, int SourceBytes, int BitCount,
                int SourceBitOffset)
{
    if (BitCount < 1 || DestBitOffset < 0 || SourceBitOffset < 0 || !Dest || !Source)
        return;
    auto* d = static_cast<uint8_t*>(Dest);
    const auto* s = static_cast<const uint8_t*>(Source);
    for (int i = 0; i < BitCount; ++i) {
        const int64_t si = static_cast<int64_t>(SourceBitOffset) + i;
        const int64_t di = static_cast<int64_t>(DestBitOffset) + i;
        const int64_t sb = si >> 3;
        const bool bit = sb < SourceBytes && (s[sb] & PxBitMask[si & 7]) != 0;
        if (bit)
            d[di >> 3] |= PxBitMask[di & 7];
        else
            d[di >> 3] &= static_cast<uint8_t>(~PxBitMask[di & 7]);
    }
}

void PxSwapRBTriples(void* p, int n)
{
    uint8_t* q = static_cast<uint8_t*>(p);
    for (int i = 0; i < n; ++i, q += 3) {
        uint8_t t = q[0];
        q[0] = q[2];
        q[2] = t;
    }
}

void PxCopySwapRB(void* dest, const void* source, int n)
{
    if (n < 1)
        return;
    std::memmove(dest, source, static_cast<size_t>(n) * 3);
    PxSwapRBTriples(dest, n);
}

void PxSwapRB48(void* p, int n)
{
    uint8_t* q = static_cast<uint8_t*>(p);
    for (int i = 0; i < n; ++i, q += 6) {
        uint16_t w0, w2;
        std::memcpy(&w0, q, 2);
        std::memcpy(&w2, q + 4, 2);
        std::memcpy(q, &w2, 2);
        std::memcpy(q + 4, &w0, 2);
    }
}

void PxSwapRBPalette(TPxRGB* palette, int count)
{
    for (int i = 0; i < count; ++i)
        PxSwapBytes(palette[i].r, palette[i].b);
}

}  // namespace imaging
