// Integer and colour helpers used throughout the image toolkit: minimum,
// maximum and clamping, rounding of reals, exchanges, rectangle and point
// arithmetic, colour packing, grey level, HSL conversion, bit access and bit
// runs in rows of 1-bit pixels and red/blue exchange in pixel runs and
// palettes.
//
// All routines are stateless apart from reading the grey weights of
// imaging/model/PxDefs.h; they may be called from any thread.
#pragma once

#include <cstdint>

#include "imaging/model/PxDefs.h"
#include "imaging/model/PxTypes.h"

namespace imaging {

// Bit masks of the pixels of a byte in a 1-bit row, most significant first:
// pixel i of a row is bit PxBitMask[i mod 8] of byte i div 8.
inline constexpr uint8_t PxBitMask[8] = {128, 64, 32, 16, 8, 4, 2, 1};

// A point of two 32-bit integers.
struct TPxIntPoint {
    int32_t x;
    int32_t y;
    friend bool operator==(const TPxIntPoint&, const TPxIntPoint&) = default;
};

// Trunc(x), plus 1 when x has a positive fraction (-1.5 -> -1, 2.0 -> 2).
int PxCeil(double x);
// Trunc(x), minus 1 when x has a negative fraction (-0.5 -> -1).
int PxFloor(double x);

double PxMinFloat(double a, double b);
double PxMaxFloat(double a, double b);
int PxMaxInt(int a, int b);
int PxMinInt(int a, int b);
// low when v <= low; v when v < high; else high.
int PxClampInt(int v, int low, int high);
// v clamped to 0..255.
int PxClampByte(int v);

void PxSwapInt(int& a, int& b);
void PxSwapBytes(uint8_t& a, uint8_t& b);
// Orders the corners so that x1 <= x2 and y1 <= y2.
void PxNormalizeRect(int& x1, int& y1, int& x2, int& y2);
void PxPointOffset(const TPxIntPoint& p, const TPxIntPoint& offset, TPxIntPoint& q);
void PxPointDiff(const TPxIntPoint& a, const TPxIntPoint& b, TPxIntPoint& q);

TPxRGB PxMakeRGB(uint8_t r, uint8_t g, uint8_t b);
// c in bits 0-7, m 8-15, y 16-23, k 24-31 (the memory order of TPxCMYK).
TPxCMYK PxMakeCMYK(uint8_t c, uint8_t m, uint8_t y, uint8_t k);
bool PxSameRGB(const TPxRGB& a, const TPxRGB& b);

// TColor layout (red in bits 0-7, green 8-15, blue 16-23), top byte 0.
int32_t PxRGBToColor(const TPxRGB& c);
// A TColor (system colours resolved first) as a TPxRGB.
TPxRGB PxColorToRGB(int32_t color);
// A TColor (system colours resolved first) with alpha as 0xAARRGGBB.
uint32_t PxColorToARGB(int32_t color, uint8_t alpha);

// (R*wr + G*wg + B*wb) div 100 with the current grey weights.
int PxRGB2Gray(const TPxRGB& c);

// HSL conversion, all components 0..1.
void PxRGB2HSL(const TPxRGB& c, double& hue, double& saturation, double& lightness);
void PxHSL2RGB(double hue, double saturation, double lightness, TPxRGB& c);
double PxHueToChannel(double hue, double q, double p);

// Pixel i of a 1-bit row: non-zero (the masked bit) when the pixel is 1.
uint8_t PxGetBit(const void* row, int i);
void PxSetBit(void* row, int i, bool value);
// Copies BitCount bits, most significant bit first, from Source starting at
// bit SourceBitOffset to Dest starting at bit DestBitOffset. Dest bits
// outside the copied run keep their values. At most SourceBytes -
// SourceBitOffset div 8 bytes are read from Source (bits beyond count as 0).
// Nothing for BitCount < 1 or a negative offset.
void PxCopyBits(void* Dest, const void* Source, int DestBitOffset, int SourceBytes, int BitCount,
                int SourceBitOffset);

// Run routines; a count below 1 does nothing.
// Copies n 3-byte pixels and exchanges their bytes 0 and 2 in dest.
void PxCopySwapRB(void* dest, const void* source, int n);
// Exchanges bytes 0 and 2 of n 3-byte pixels in place.
void PxSwapRBTriples(void* p, int n);
// Exchanges 16-bit words 0 and 2 of n 6-byte pixels in place.
void PxSwapRB48(void* p, int n);
// Exchanges red and blue of the first count palette entries.
void PxSwapRBPalette(TPxRGB* palette, int count);

}  // namespace imaging
