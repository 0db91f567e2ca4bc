// Reader of Targa images (file type 11) and the installation of the TGA
// routines in the format registry.
//
// PxReadTGA decodes colour-mapped (types 1, 9), true-colour (2, 10) and grey
// (3, 11) images, raw or run-length coded, at the stream's position: pixel
// depth 1 gives px1g, every other depth px24RGB (8-bit indexes through the
// colour map or a grey ramp, 15/16-bit pixels as 5-5-5, 4-bit indexes two
// per byte, first in the high nibble). The alpha of 32-bit pixels, or of
// 32-bit colour-map entries, goes to an 8-bit TPxMask (255 opaque). Rows are
// bottom-up unless descriptor bit 5 is set; descriptor bit 4 mirrors each
// row (colour and alpha; 1-bit rows are not mirrored). A run-length packet
// that crosses a row end continues at the start of the next row. The version
// 2 extension area (found through the footer) gives TGAAuthor, TGADate,
// TGAImageName, TGABackground, TGAAspectRatio and TGAGamma; the image ID
// (up to its first zero byte) gives TGADescriptor.
//
// Untrusted data: the input is read through an 8192-byte buffer and yields
// zero bytes past its end, so a short file decodes to black rows. A header
// with an unknown image type, pixel depth or colour-map type, a zero size,
// or a raster that could not come from the bytes the stream holds (more than
// 16 times those plus 64 KiB even at the best coding) sets the aborting flag
// and leaves the bitmap and the mask untouched. Colour-map entries past index
// 255 are dropped; entries of sizes other than 15, 16, 24 and 32 bits are
// skipped. An extension area outside the stream, or a date in it that does
// not exist, is ignored.
//
// Threads: one call uses only its arguments (buffers are per call).
#pragma once

#include <memory>

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TPxMask;
class TIOParamsVals;

// Mask: unless IgnoreAlpha, a 32-bit image (or one with a 32-bit colour map)
// fills it (created when nullptr); it is reset to nullptr when no pixel has
// an alpha above 0. ParamsOnly: only the parameters are read. Progress after
// each row: Trunc(rows done * (100 / height)).
void PxReadTGA(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool IgnoreAlpha,
               std::unique_ptr<TPxMask>& Mask, bool ParamsOnly, TPxIOProgressInfo& Progress);

// Puts PxReadTGA and PxWriteTGA into the TGA row of the registry: the reader
// keeps the alpha (ignoring it for a preview) and hands its mask over in
// Progress.Mask; the writer takes the mask it finds there. An exception of
// the reader becomes the aborting flag. PxInstallBuiltInFormats calls it.
void PxInstallTGAFormat();

}  // namespace imaging
