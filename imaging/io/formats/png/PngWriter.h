// PNG writer of the toolkit (file type 8).
//
// PxWritePNG writes the bitmap with the options of TIOParamsVals:
//   - SamplesPerPixel 1 and BitsPerSample 1: 1-bit grey (a two-colour image
//     keeps its darker colour as 0, others are reduced to black and white);
//   - SamplesPerPixel 1, other depths: an 8-bit palette image, or grey of 8
//     or 16 bits when the image is grey; with a mask that is not full, an
//     8-bit palette whose entry 0 is PNGBackground and fully transparent;
//   - otherwise 8-bit RGB, RGB with alpha when a mask that is not full is
//     given.
// Also written: pHYs from DpiX/DpiY, bKGD from PNGBackground, one
// uncompressed tEXt chunk per key/value pair (keywords the format does not
// allow are left out), the filter (PNGFilter 0 none, 1 sub, 2 Paeth),
// compression level (PNGCompression) and interlacing (PNGInterlaced).
//
// Mask: an 8-bit (or 1-bit) TPxMask of the bitmap's size, 255 opaque, or
// nullptr; a mask of another size is ignored. Borrowed for the call.
//
// Failure: a library error raises classlib::EInvalidGraphic "Error on
// creating PNG"; a short write sets the aborting flag of Progress and ends
// the rows early; stream exceptions pass to the caller.
//
// Threads: one call uses only its arguments; the bitmap is read only.
#pragma once

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;
class TPxMask;

void PxWritePNG(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxMask* Mask,
                TPxIOProgressInfo& Progress);

}  // namespace imaging
