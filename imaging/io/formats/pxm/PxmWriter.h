// Writer of the binary portable bitmap, greymap and pixmap files (file type
// 12).
//
// The variant follows the image and the parameters, first match:
//   "P4"           BitsPerSample 1 and SamplesPerPixel 1, or a px1g image;
//   "P5", 255      BitsPerSample 8 and SamplesPerPixel 1 (grey by the
//                  toolkit's colour-row conversion);
//   "P6", 65535    BitsPerSample 16, SamplesPerPixel 3 and a px24RGB image
//                  (each sample * 257), or a pxRGB48 image (its words);
//   "P6", 255      BitsPerSample 8 and SamplesPerPixel 3, or a px24RGB image.
// The header is the magic, a space, the lines of Params.PXMComments each as
// "\n# " line "\n", width, " ", height (and " " maximum), "\n". An image
// whose pixel format differs from what the variant needs is converted on a
// copy; the bitmap itself is never changed.
//
// Failure: an empty image, or one that fits none of the variants (for
// example BitsPerSample 4), writes nothing and sets the aborting flag; so
// does a short write. Progress after each row: Trunc(rows written * 100 /
// height).
//
// Threads: one call uses only its arguments; the bitmap is read only.
#pragma once

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

void PxWritePXM(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress);

}  // namespace imaging
