// Reader of the wireless bitmap of type 0 (file type 16) and the
// installation of the WBMP routines in the format registry.
//
// The header is four multi-byte integers (type 0, fixed header 0, width,
// height; 1 to 4 bytes each, 7 bits per byte, most significant group first,
// a set top bit announces another byte); then (width + 7) div 8 bytes per
// row, 1 = white, first pixel in the most significant bit, which is px1g's
// layout exactly.
//
// Untrusted data: a type or fixed header other than 0, a zero size, an
// integer longer than 4 bytes or cut by the end of the data, or a raster
// that could not come from the bytes left (more than 16 times those plus 64
// KiB) sets the aborting flag and leaves the bitmap untouched. A short
// raster loads as far as it goes; the rest is black.
//
// Threads: one call uses only its arguments.
#pragma once

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

// Reads the file at the stream's position into a px1g bitmap; Preview: only
// the parameters (BitsPerSample 1, SamplesPerPixel 1, sizes, default
// resolution). Progress Trunc(row * 100 / height) after each row, rows
// counted from 0.
void PxReadWBMP(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
                TPxIOProgressInfo& Progress);

// Puts PxReadWBMP and PxWriteWBMP into the WBMP row of the registry (an
// exception of the reader becomes the aborting flag).
// PxInstallBuiltInFormats calls it.
void PxInstallWBMPFormat();

}  // namespace imaging
