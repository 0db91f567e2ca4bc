// Icon writer of the toolkit (file type 6).
//
// PxWriteICO writes an icon file with one image per size pair: the source
// resampled to that size (nearest pixel for px1g sources, fast linear
// otherwise) and written at the matching entry of BitCounts:
//   0 the parameters' SamplesPerPixel/BitsPerSample, 1 bi-level, 4 and 8 a
//   palette (entry 0 black, the others from TPxQuantizer; a px8p source
//   keeps its palette), 32 colour with the alpha channel, anything else 24.
// The 1-bit mask rows mark pixels whose alpha is below 255. Image offsets in
// the directory count from the stream position the icon starts at. The
// source's format is converted on a copy wherever the bit count needs it;
// the source itself is never changed.
//
// Failure: a size pair of zero or negative width or height, and lists of
// different lengths or more than 16 pairs, set the aborting flag before
// anything is written; a short write or the aborting flag set by the
// progress handler ends the image loop (the directory is then not
// written). Stream exceptions pass to the caller.
//
// Threads: one call uses only its arguments; the bitmap is read only.
#pragma once

#include <cstdint>
#include <vector>

#include "classlib/Stream.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;

void PxWriteICO(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress,
                const std::vector<TPxICOSize>& Sizes, const std::vector<int32_t>& BitCounts);

}  // namespace imaging
