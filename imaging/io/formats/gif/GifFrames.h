// The GIF reader of the format registry: frame GIFImageIndex of a GIF as the
// screen shows it.
//
// An animated GIF stores each frame as a rectangle at a position on a
// logical screen, drawn over what the earlier frames left according to their
// disposal methods. PxReadGIFFrame replays frames 0 to GIFImageIndex (every
// frame for a negative index or one past the last) from the stream's start
// position onto a px24RGB canvas of the logical-screen size (grown to hold a
// larger frame) that starts in the background colour and fully transparent;
// a frame with disposal 2 has its rectangle cleared to the background and
// made transparent before the next frame is drawn. The result goes into
// Bitmap with the canvas's alpha channel, converted back to the pixel format
// of the last stored frame; afterwards GIFXPos and GIFYPos are 0 and
// GIFAction is 2. A GIF with one frame is returned as stored, its
// transparency as the alpha channel.
//
// With Preview only the parameters of the chosen frame are read.
// Progress.Count receives the number of frames of the stream. Failure as in
// PxReadGIF (GifReader.h): the aborting flag of Progress is set and Bitmap
// holds the composition up to the frame before the failing one. A canvas
// that the file's data could not cover (PxCheckRaster, LZW) fails the read
// before it is allocated.
//
// Threads: one call uses only its arguments.
#pragma once

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

void PxReadGIFFrame(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
                    TPxIOProgressInfo& Progress);

}  // namespace imaging
