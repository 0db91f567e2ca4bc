// BMP writer of the toolkit (file type 5).
//
// PxWriteBMP writes the bitmap as a BMP file at the stream's position:
//   - bit count: BitsPerSample 1 or 4 is kept; otherwise 8 when
//     SamplesPerPixel is 1, else 32 with SaveAlpha, else 24;
//   - header: BMPVersion 2 the 12-byte core header, 3 the 64-byte header
//     (bytes after the first 40 zero), anything else the 40-byte header;
//   - 4 and 8 bits get a palette built by TPxQuantizer (also stored in
//     Params.ColorMap); with BMPCompression 1 and an info header the rows
//     are RLE4 or RLE8 coded;
//   - 1 bit: a px1g image as it is (table black, white); a two-colour image
//     with its two colours, darker first; anything else reduced to black and
//     white;
//   - 24 and 32 bits: blue, green, red (and the alpha value, 255 without an
//     alpha channel), bottom row first.
// Images of another pixel format than the bit count needs are converted on
// a copy; the bitmap itself is never changed.
//
// Failure: a short write sets the aborting flag of Progress; the writer then
// stops and leaves the zeroed placeholder headers. An image too large for
// the header chosen (core header: 65535 pixels per side) sets the aborting
// flag and writes nothing. Stream exceptions pass to the caller.
//
// Threads: one call uses only its arguments; the bitmap is read only.
#pragma once

#include <cstdint>
#include <vector>

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

void PxWriteBMP(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool SaveAlpha,
                TPxIOProgressInfo& Progress);

// Run-length coding of one row of palette indices (one per byte, Count of
// them) into Output; returns the bytes written, the row's end-of-line code
// 0 0 included. Output needs room for 2 * Count + 2 bytes.
// Little-endian fields of BMP and ICO headers, appended to Out.
void PxPutLE16(std::vector<uint8_t>& Out, uint32_t v);
void PxPutLE32(std::vector<uint8_t>& Out, uint32_t v);
// A resolution in dots per inch as pixels per metre (rounded, halves to even).
int32_t PxDpiToPixelsPerMetre(int32_t Dpi);

int PxEncodeRLE8Row(const uint8_t* Indices, int Count, uint8_t* Output);
int PxEncodeRLE4Row(const uint8_t* Indices, int Count, uint8_t* Output);

}  // namespace imaging
