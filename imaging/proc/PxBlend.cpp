#include "imaging/proc/PxBlend.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

namespace {

// One channel of the per-channel operations 0..30. Integer division of
// non-negative operands, so C++ division equals the truncating division of
// the formulas; shifts are applied to non-negative values only.
int BlendChannel(int s, int d, int op)
{
    switch (op) {
    case 0:
        return s;
    case 1:
        return std::min(d + s, 255);
    case 2:
        return std::abs(d - s);
    case 3:
        return std::min(d / std::max(s, 1), 255);
    case 4:
        return (s * d) >> 8;
    case 5:
        return d | s;
    case 6:
        return d & s;
    case 7:
        return d ^ s;
    case 8:
        return std::max(d, s);
    case 9:
        return std::min(d, s);
    case 10:
        return (d + s) >> 1;
    case 11:
        return 255 ^ (((255 - d) * (255 - s)) >> 8);
    case 12:
        return 255 - std::abs(255 - s - d);
    case 13:
        return d + s - (s * d) / 128;
    case 14:
        return d < 128 ? (s * d) >> 7 : 255 ^ (((255 - s) * (255 - d)) >> 7);
    case 15:
        return s < 128 ? (s * d) >> 7 : 255 ^ (((255 - d) * (255 - s)) >> 7);
    case 16: {
        const double a = s / 255.0;
        const double b = d / 255.0;
        const double r = a >= 0.5 ? std::sqrt(b) * (2 * a - 1) + 2 * b * (1 - a) : b * b * (1 - 2 * a) + 2 * a * b;
        return static_cast<int>(std::trunc(r * 255));
    }
    case 17: {
        const int c = 255 - (((255 - d) * (255 - s)) >> 8) - ((s * d) >> 8);
        // c stays between 1 and 255 for byte operands, so the shift sees a
        // non-negative product.
        return ((s * d) >> 8) + ((d * c) >> 8);
    }
    case 18:
        return s == 255 ? 255 : std::min((d * 256) / (255 - s), 255);
    case 19:
        return s == 0 ? 0 : std::max(255 - ((255 - d) << 8) / s, 0);
    case 20:
        return d == 255 ? 255 : std::min((s * 256) / (255 - d), 255);
    case 21:
        return d == 0 ? 0 : std::max(255 - ((255 - s) << 8) / d, 0);
    case 22:
        if (s + d < 256)
            return s == 255 ? 255 : std::min((d * 128) / (255 - s), 255);
        return std::max(255 - ((255 - s) << 7) / d, 0);  // d > 0 here
    case 23:
        if (s + d < 256)
            return d == 255 ? 255 : std::min((s * 128) / (255 - d), 255);
        return std::max(255 - ((255 - d) << 7) / s, 0);  // s > 0 here
    case 24:
        return s == 255 ? 255 : std::min((d * d) / (255 - s), 255);
    case 25:
        return d == 255 ? 255 : std::min((s * s) / (255 - d), 255);
    case 26:
        return s == 0 ? 0 : std::max(255 - ((255 - d) * (255 - d)) / s, 0);
    case 27:
        return d == 0 ? 0 : std::max(255 - ((255 - s) * (255 - s)) / d, 0);
    case 28:
        return PxClampByte(d + s - 256);
    case 29:
        return std::min(PxCosineTable[s] + PxCosineTable[d], 255);
    case 30:
        return PxClampByte(d + 2 * s - 256);
    default:
        return d;
    }
}

}  // namespace

void PxBlendPixel(const TPxRGB& Source, TPxRGB& Dest, int Operation)
{
    if (Operation < 0 || Operation >= PxBlendOperationCount)
        return;
    if (Operation <= 30) {
        Dest.r = static_cast<uint8_t>(BlendChannel(Source.r, Dest.r, Operation));
        Dest.g = static_cast<uint8_t>(BlendChannel(Source.g, Dest.g, Operation));
        Dest.b = static_cast<uint8_t>(BlendChannel(Source.b, Dest.b, Operation));
        return;
    }
    switch (Operation) {
    case 31:
        Dest.r = Source.r;
        return;
    case 32:
        Dest.g = Source.g;
        return;
    case 33:
        Dest.b = Source.b;
        return;
    default:
        break;
    }
    double sh, ss, sl, dh, ds, dl;
    PxRGB2HSL(Source, sh, ss, sl);
    PxRGB2HSL(Dest, dh, ds, dl);
    switch (Operation) {
    case 34:
        PxHSL2RGB(sh, ds, dl, Dest);
        break;
    case 35:
        PxHSL2RGB(dh, ss, dl, Dest);
        break;
    case 36:
        PxHSL2RGB(sh, ss, dl, Dest);
        break;
    default:  // 37
        PxHSL2RGB(sh, ds, sl, Dest);
        break;
    }
}

}  // namespace imaging
