// Reader of the portable bitmap, greymap and pixmap files "P1" to "P6" (file
// type 12) and the installation of the PXM routines in the format registry.
//
// Header: the magic, width, height and (except "P1" and "P4") the maximum
// sample value, as tokens of letters and digits separated by anything else;
// "#" starts a comment that runs to the end of its line. Comment lines go to
// Params.PXMComments (without the "#", trimmed). Output by magic:
//   P1, P4          px1g ("1"/set bit = black in the file, white set in the
//                   image);
//   P2              px24RGB grey of Trunc(v / maximum * 255);
//   P3              px24RGB, each channel Trunc(v / maximum * 255);
//   P5 (max < 256)  px24RGB grey, rescaled only when the maximum is below 255;
//   P5 (16 bits)    px16g of Trunc(v / maximum * 65535) with
//                   NativePixelFormat, else px24RGB grey Trunc(v / maximum *
//                   255);
//   P6 (max < 256)  px24RGB, samples as they are;
//   P6 (16 bits)    pxRGB48 with NativePixelFormat, else px24RGB of the high
//                   bytes; samples as they are.
//
// Untrusted data: a missing or non-positive width, height or maximum, a
// maximum above 65535, an unknown magic, or a header whose raster could not
// come from data of the stream's size (more than 16 times the bytes left
// plus 64 KiB) sets the aborting flag and leaves the bitmap untouched. A
// raster shorter than the header says is read as far as it goes; the rest
// of the image is black ("P4": white, as its bits are inverted).
//
// Threads: one call uses only its arguments.
#pragma once

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

// Reads the file at the stream's position. Preview: only the parameters
// (sizes, BitsPerSample, SamplesPerPixel, resolution, comments) are read.
// Progress after each row: Trunc(rows done * 100 / height).
void PxReadPXM(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
               TPxIOProgressInfo& Progress);

// Puts PxReadPXM and PxWritePXM into the PXM row of the registry (an
// exception of the reader becomes the aborting flag).
// PxInstallBuiltInFormats calls it.
void PxInstallPXMFormat();

}  // namespace imaging
