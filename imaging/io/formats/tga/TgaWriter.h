// Writer of Targa images (file type 11).
//
// Writes a px24RGB or px1g bitmap at the stream's position, top row first
// (descriptor bit 5), followed by a version 2 extension area and footer.
// Output depth from the parameters: SamplesPerPixel 1 with BitsPerSample 1
// gives a 1-bit grey file (a two-colour image keeps its darker colour as
// black, anything else is reduced to black and white), 4 a 16-colour and 8 a
// 256-colour colour-mapped file (palette by TPxQuantizer, stored in
// Params.ColorMap; with TGAGrayLevel an 8-bit file is written as grey
// levels without a map). Every other combination gives 32 bits when a mask
// is given (its values as alpha) and 24 bits otherwise. 1-, 4- and 32-bit
// files are never run-length coded (TGACompressed is cleared); 8- and 24-bit
// files are when TGACompressed is set. The extension area carries TGAAuthor
// and TGAImageName (40 characters at most), TGADate, TGABackground,
// TGAAspectRatio and TGAGamma (each as Trunc(value * 10000) / 10000).
//
// The bitmap is read only; every conversion works on a copy.
//
// Failure: a bitmap that is empty, neither px24RGB nor px1g, or wider or
// higher than 65535 pixels writes nothing and sets the aborting flag. A short write sets the aborting flag
// and writing goes on. Progress after each row: Trunc(rows done * (100 /
// height)).
//
// Threads: one call uses only its arguments.
#pragma once

#include <cstdint>
#include <vector>

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TPxMask;
class TIOParamsVals;

void PxWriteTGA(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxMask* Mask,
                TPxIOProgressInfo& Progress);

// Run-length codes one row of Count pixels of PixelBytes bytes each (1 for
// indexes, 3 for blue, green, red) and appends the packets to Out: runs of 2
// to 128 equal pixels as run packets, the rest as raw packets of up to 127
// pixels (128 when they reach the row end) that stop where two equal pixels
// begin.
void PxTGAPackRow(const uint8_t* Row, int Count, int PixelBytes, std::vector<uint8_t>& Out);

}  // namespace imaging
