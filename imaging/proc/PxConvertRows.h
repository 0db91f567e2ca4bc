// Colour reduction and pixel routines of the processing unit: reduction of
// px24RGB images to px1g by ordered dithering or by a threshold, quantizing
// to a palette in place, grey conversion and negative of a rectangle, the
// two-colour test of the palette writers, the nearest palette entry, the mean
// colour of an image, a 3 x 3 convolution of grey images, and copies and
// conversions of classlib::TBitmap objects.
//
// Rectangles are X1 <= x < X2, Y1 <= y < Y2, limited to the image first.
// Rectangle routines report progress after each row as
// Trunc(k * 100 / (rows - 0.5)) for k rows done, limited to 100; no call is
// made when no handler is assigned.
//
// Every routine works row by row through GetScanline, so images held in a
// temporary file are processed without holding more than a few rows.
//
// Failure: routines that accept only some formats leave the others
// unchanged and report nothing. Routines that need the colour quantizer
// raise what it raises. Routines that need a service that is not installed
// (the CMYK conversion of the file unit has a documented fallback) raise
// classlib::EInvalidOperation. Storage for a result image that cannot be
// had raises classlib::EOutOfMemory.
//
// Threads: no shared mutable state apart from the bit-expansion table, which
// PxBuildBitExpansion fills once (thread-safe); an image is used by one
// thread at a time.
#pragma once

#include <cstdint>
#include <memory>

#include "classlib/Persistent.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxTypes.h"

namespace classlib {
class TBitmap;
}

namespace imaging {

class TPxBitmap;

// The ordered-dither thresholds 0..63, indexed [x mod 8][y mod 8] with x the
// column and y the row; a pixel of level 0..63 is white when the entry is
// below its level.
extern const int32_t PxBayer8x8[8][8];

// Entry v holds the 8 pixels of the 1-bit byte v, most significant bit
// first, as 3 bytes each: 255, 255, 255 for 1 and 0, 0, 0 for 0. Filled by
// PxBuildBitExpansion (the processing unit's start-up); the routines that
// read it build it first when needed.
extern uint8_t PxBitExpansion24[256][24];
void PxBuildBitExpansion();

// Progress of the bilevel routines: the handler, its sender and the step
// (percent per row) that the routine sets before it reports.
struct TPxProgressRec {
    TPxProgressEvent OnProgress;
    classlib::TObject* Sender = nullptr;
    double Step = 0;
};

// A 3 x 3 convolution: nine weights row by row from the top-left, and the
// divisor (0 counts as 1).
struct TPxFilter3x3 {
    int32_t Weights[9] = {0, 0, 0, 0, 1, 0, 0, 0, 0};
    int32_t Divisor = 1;
};

// ---- grey and negative

// px24RGB only: each pixel of the rectangle becomes (g, g, g) with the
// weighted grey g = (R*wr + G*wg + B*wb) div 100.
void PxConvertToGrayRect(TPxBitmap* Bitmap, int X1, int Y1, int X2, int Y2, classlib::TObject* Sender,
                         const TPxProgressEvent& OnProgress);

// The negative of the rectangle in every pixel format (px8p: the whole
// palette, pixels untouched). PxNegativeRectMMX is tried first.
void PxNegativeRect(TPxBitmap* Bitmap, int X1, int Y1, int X2, int Y2, classlib::TObject* Sender,
                    const TPxProgressEvent& OnProgress);
// The 8-bytes-at-a-time negative: applies only with MMX, to px1g when X1 and
// the width are multiples of 8, or to px24RGB, and when the row's byte count
// is a multiple of 8. False (nothing touched) otherwise.
bool PxNegativeRectMMX(TPxBitmap* Bitmap, int X1, int Y1, int X2, int Y2, classlib::TObject* Sender,
                       const TPxProgressEvent& OnProgress);
// Complements the N bytes at P.
void PxInvertBuffer(void* P, int N);
// Complements every row as RowLen div 2 16-bit words (alignment bytes
// included); used on px1g images.
void PxInvertBitmapBits(TPxBitmap* Bitmap);

// ---- bilevel reduction

// px24RGB only: becomes px1g by the 8 x 8 Bayer matrix; level
// (weighted grey) shr 2, or 64 (always white) when the three channels are all
// at least 251. The alpha channel stays. Progress step 100 / (height + 0.5).
void PxConvertToBWOrdered(TPxBitmap* Bitmap, TPxProgressRec* Progress);
// px24RGB only: becomes px1g through PxThresholdToBilevel.
void PxConvertToBWThreshold(TPxBitmap* Bitmap, int Threshold, TPxProgressRec* Progress);
// Fills Dest (reallocated as px1g of the source's size, keeping its own
// alpha channel) from a source of any format: a pixel is white when its
// weighted grey is at least the threshold; -1 takes the grey of the source's
// mean colour (PxAverageColor). A px1g source is copied. The
// maximum-entropy threshold (-2) belongs to the effects unit and raises
// classlib::EInvalidOperation here. Progress Trunc((row + 1) * 100 /
// (height + 0.5)) after each row.
void PxThresholdToBilevel(TPxBitmap* Source, TPxBitmap* Dest, int Threshold, TPxProgressRec* Progress);

// px24RGB only: quantizes to NumColors colours (TPxQuantizer) and replaces
// every pixel by its palette entry; the image stays px24RGB. Palette (room
// for NumColors entries) receives the palette, or nullptr.
void PxQuantizeInPlace(TPxBitmap* Bitmap, int NumColors, TPxRGB* Palette, classlib::TObject* Sender,
                       const TPxProgressEvent& OnProgress);

// A px1g image of Bitmap's size when Bitmap (any format) holds exactly two
// colours: bit 0 for Color0, the darker one (equal greys keep the first
// colour met), bit 1 for Color1. nullptr for one colour or more than two;
// Color0 and Color1 then hold the colours met so far.
std::unique_ptr<TPxBitmap> PxBilevelFromTwoColors(TPxBitmap* Bitmap, TPxRGB& Color0, TPxRGB& Color1);

// The index 0..Count-1 of the entry with the smallest |dR|+|dG|+|dB|, the
// first on ties; 0 when Count <= 0.
int PxNearestPaletteIndex(const TPxRGB* Palette, int Count, const TPxRGB& Color);

// The mean colour on the 0..255 scale: per row the channel sums div the
// width are added, then divided by the height. An empty image or a failure
// to read it gives 128, 128, 128.
void PxAverageColor(TPxBitmap* Bitmap, int& R, int& G, int& B);

// px8g only: each pixel of the rectangle becomes
// PxClampByte(|weighted sum of its 3 x 3 neighbourhood| div divisor), edge
// pixels repeated, computed from unfiltered neighbours.
void PxApplyFilter3x3(TPxBitmap* Bitmap, const TPxFilter3x3& Filter, int X1, int Y1, int X2, int Y2);

// ---- classlib::TBitmap

// Dest becomes a 24-bit bitmap of Source's size; a set bit of the 1-bit
// Source gives white, a clear bit black (Source's palette is not read).
void PxConvert1To24Vcl(classlib::TBitmap* Source, classlib::TBitmap* Dest, TPxProgressRec* Progress);

}  // namespace imaging
