// PCX writer of the toolkit (file type 4).
//
// PxWritePCX writes the bitmap as one PCX image at the stream's position,
// version PCXVersion, run-length coded unless PCXCompression is 0, the DPI
// fields from DpiX/DpiY (low 16 bits). The depth comes from the parameters
// (SamplesPerPixel above 3 is first lowered to 3 in them):
//   - BitsPerSample 1: 1 bit, 1 plane; a px1g image as it is (palette black,
//     white), a two-colour image with its two colours (darker one for 0
//     bits), anything else reduced to black and white by the image's own
//     conversion;
//   - 4 (4 x 1): 1 plane of 4-bit indexes, 16-entry palette in the header;
//   - 8 (8 x 1): 1 plane of 8-bit indexes, then the byte 12 and the 768-byte
//     palette after the rows;
//   - 24 (8 x 3): 3 planes (red, green, blue) of 8 bits.
// Palettes are built by TPxQuantizer and written red, green, blue. Rows are
// padded to an even byte count. Images of another pixel format than the
// depth needs are converted on a copy; the bitmap itself is never changed.
//
// Failure: any other depth, an empty image or one wider or higher than
// 65536 pixels sets the aborting flag of Progress and writes nothing; a
// short write sets it and stops. Stream exceptions pass to the caller.
//
// Threads: one call uses only its arguments; the bitmap is read only.
#pragma once

#include <cstdint>

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

void PxWritePCX(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress);

// Run-length codes Count input bytes, read from Source + Start every Stride
// bytes, into Dest; returns the bytes written. A run of equal bytes (at most
// 63) longer than 1, or a single byte of 192 or more, becomes (192 + count)
// and the byte; other single bytes are written as they are. An odd Count
// gets a literal 0 appended, so that the row decodes to an even length.
// Dest needs room for 2 * Count + 1 bytes.
int PxPCXEncodeRow(uint8_t* Dest, const uint8_t* Source, int Count, int Start, int Stride);

}  // namespace imaging
