// GIF writer of the toolkit (file type 2).
//
// PxWriteGIF writes Bitmap at the stream's position as a complete
// single-frame GIF: header (version GIFVersion, screen = image size), a
// global colour table of 2^b entries, a graphic control extension, the image
// descriptor (GIFXPos, GIFYPos, GIFInterlaced), the LZW data, a comment
// extension (one sub-block per non-empty line of GIFComments, in the
// system's 8-bit code page, split into runs of 255 bytes) and the trailer.
//
// Colour bits b: BitsPerSample 1 gives black and white (an image of two
// colours keeps its darker one black); 2 to 8 give a palette of 2^b entries
// from the image's own palette (px8p) or the quantizer; any other value
// counts as 8. With an alpha channel the last table entry is the transparent
// one (every pixel whose alpha is not 255 takes it) and GIFTransparent is set;
// a black-and-white image with an alpha channel is written with 2 bits so that
// black, white and the transparent entry all fit. Pixel formats other than
// px1g, px8p and px24RGB are converted on a copy to px24RGB first; Bitmap is
// never changed.
//
// Failure: an image larger than 65,535 pixels in a direction, or empty, is
// refused before anything is written; no LZW encoder (parameters or the I/O
// unit's global hook) ends the write after the descriptor; a short write
// sets the aborting flag of Progress (the writer goes on). Each failure sets
// the aborting flag. Stream exceptions pass through.
//
// Threads: one call uses only its arguments.
#pragma once

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

// Progress: 0, 30 (table made), 70 (before the data), 100.
void PxWriteGIF(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress);

}  // namespace imaging
