// The resampling workers that do not use the kernel table: the fixed-point
// fast linear resamplers (rfFastLinear), the area-weighted bilinear and
// bicubic resamplers (rfBilinear, rfBicubic), the bilevel projections
// (rfProjectBW, rfProjectWB), nearest-neighbour stretching (rfNone), the
// averaging reduction of a bilevel image into grey, and a row converter
// between bit depths.
//
// Common contract:
// - Dest is allocated by the caller at the destination size; a routine that
//   needs another pixel format for it says so. A source or destination of a
//   pixel format a routine does not take leaves Dest untouched; no routine
//   reads or writes outside either image.
// - px1g pixel x of a row is bit 7 - (x mod 8) of byte x div 8; 1 is white.
//   px24RGB pixels are blue, green, red bytes.
// - Fixed-point interpolation of samples a, b with a 17-bit fraction f is
//   a + floor((b - a) * f / 131072), in 32-bit integers.
// - Progress goes to OnProgress as (Sender, percentage) only when a handler
//   is assigned; percentages are computed in double precision and truncated.
// - Storage: rows are read one at a time (GetScanline), so images held in a
//   temporary file work too. The access mode of source (read) and
//   destination (write) is narrowed for the call and restored on every way
//   out, exceptions included.
// - Failure: memory for tables and buffers comes from the heap; an
//   allocation failure raises and passes to the caller, Dest then partly
//   written. Nothing here catches exceptions.
// - Threads: no shared mutable state; different bitmaps may be resampled on
//   several threads at once.
#pragma once

#include <cstdint>

#include "classlib/Persistent.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxTypes.h"

namespace imaging {

class TPxQuantizer;

// Which colour a projection keeps when a window holds both.
enum PxProjectMode : uint8_t {
    pxProjectBlackWins = 0,  // rfProjectBW
    pxProjectWhiteWins = 1,  // rfProjectWB
};

// rfFastLinear for px24RGB Source and Dest (other formats: nothing). Each
// axis is decided on its own: an enlarged axis is interpolated with the
// fixed-point rule between the two nearest source pixels, a reduced (or
// equal) axis averages the source pixels each destination pixel spans
// (integer division). Both ratios exactly 1: Dest becomes a copy of Source
// (TPxBitmap::Assign when both are TPxBitmap), without progress. Progress:
// srcH + dstH reports Trunc(k * 100 / (srcH + dstH + 0.5)), k = 0, 1, ...
void PxFastLinear24(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, classlib::TObject* Sender = nullptr,
                    const TPxProgressEvent& OnProgress = TPxProgressEvent());
// The same for one 8-bit channel (px8g pixels or alpha channels).
void PxFastLinearGray8(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, classlib::TObject* Sender = nullptr,
                       const TPxProgressEvent& OnProgress = TPxProgressEvent());
// px1g Source into a px24RGB Dest as grey. When either ratio is at least 1
// both axes are interpolated (bits read as 0 or 255); when both reduce, the
// whole image goes through PxResampleBilevelTo24.
void PxFastLinearBilevel(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, classlib::TObject* Sender = nullptr,
                         const TPxProgressEvent& OnProgress = TPxProgressEvent());

// rfBilinear (Cubic false) and rfBicubic (Cubic true): area-weighted
// averaging of interpolated samples; 8-bit samples of px24RGB or px8g
// images (Dest of the same format), 16-bit samples of pxRGB48 or px16g. An
// axis is interpolated only where it is enlarged. Each destination value is
// rounded halves to even and clamped to the sample range. Progress after
// row j: Trunc((j + 1) / dstH * 100).
void PxSmoothResample8(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, bool Cubic, classlib::TObject* Sender = nullptr,
                       const TPxProgressEvent& OnProgress = TPxProgressEvent());
void PxSmoothResample16(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, bool Cubic, classlib::TObject* Sender = nullptr,
                        const TPxProgressEvent& OnProgress = TPxProgressEvent());
// Cubic convolution (a = -1) of p(-1), p(0), p(1), p(2) at fraction t in
// 0..1, clamped to Low..High (an undershoot gives Low, never its magnitude).
double PxCubicValue(double Pm1, double P0, double P1, double P2, double t, double Low, double High);

// rfProjectBW / rfProjectWB: Dest becomes px1g (re-allocated at its size
// when it has another format); a destination pixel is black (white) when
// its window of source pixels holds a black (white) pixel. px24RGB pixels
// are black when all channels are below 128, white when all are above 128.
// Neighbouring windows share their border pixels. Progress after row j:
// Trunc(j * 100 / (dstH + 0.5)).
void PxProject24(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, PxProjectMode Mode, classlib::TObject* Sender = nullptr,
                 const TPxProgressEvent& OnProgress = TPxProgressEvent());
void PxProjectBilevel(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, PxProjectMode Mode,
                      classlib::TObject* Sender = nullptr, const TPxProgressEvent& OnProgress = TPxProgressEvent());

// rfNone in every pixel format: destination pixel (k, j) is source pixel
// (Trunc(srcW / dstW * k), Trunc(srcH / dstH * j)). Source and Dest must have
// the same pixel format (else nothing); a px8p palette is copied. Progress
// after row j: Trunc(j * 100 / (dstH + 0.5)), only when it changed.
void PxStretchNearest(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, classlib::TObject* Sender = nullptr,
                      const TPxProgressEvent& OnProgress = TPxProgressEvent());

// Reduces the inclusive rectangle X1..X2, Y1..Y2 of a px1g Source into a
// px24RGB Dest: each destination pixel is (white pixels of the block it
// covers * 255) div (pixels of the block), in all three channels. Nothing
// when either image is empty, the formats differ from these or the
// rectangle is empty; blocks are clamped to the source.
void PxResampleBilevelTo24(TPxBaseBitmap* Source, int X1, int Y1, int X2, int Y2, TPxBaseBitmap* Dest);

// Converts Count pixels of one row between bit depths (1, 4, 8, 24, 32 to
// 1, 4, 8, 24; see the table in the source) and returns the destination
// row's length in bytes for Count pixels ((n + 7) div 8, (n + 1) div 2, n,
// 3n; 0 for any other destination depth). Palette (PaletteCount entries) is
// what 1-, 4- and 8-bit indexes become in 24 bits (an index beyond it gives
// black); Quantizer gives the indexes of 24-bit pixels (nullptr: nothing is
// written). Packed outputs hold the first pixel in the high bits; 1 to 4
// and 24 to 4 OR their nibbles into a destination that must arrive zeroed.
int PxConvertRowDepth(const uint8_t* SourceRow, uint8_t* DestRow, int SourceBits, int DestBits, uint16_t Count,
                      const TPxRGB* Palette, int PaletteCount, const TPxQuantizer* Quantizer);

}  // namespace imaging
