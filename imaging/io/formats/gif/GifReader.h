// GIF reader of the toolkit (file type 2), the frame deletion and frame
// count of GIF files, and the installation of the GIF routines.
//
// PxReadGIF reads one stored frame (GIFImageIndex) of the GIF at the
// stream's position and counts every frame of the stream; composing frames
// onto the logical screen is done by the registry's GIF reader
// (GifFrames.h). The LZW data go through the decoder hook of the parameters
// (GIFLZWDecompress), else the I/O unit's global decoder.
//
// Pixel formats: a frame whose table is exactly black then white gives px1g;
// other frames give px24RGB, or px8p (palette of the frame's table) with
// NativePixelFormat.
//
// Failure never raises for bad data: a missing "GIF" header, a decoder that
// could not decode the chosen frame, no decoder at all, a frame larger than
// the rest of the stream could encode, and a failed allocation set the
// aborting flag of Progress. An early end of the stream counts as the
// trailer. Stream exceptions pass through.
//
// Threads: one call uses only its arguments.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;
class TPxMask;

// Reads frame Params.GIFImageIndex into Bitmap (allocated by the reader).
// NumImages receives the number of image descriptors met (also given to
// Params.SetImageCount). With Preview only the parameters are filled and
// Bitmap is left alone. Mask receives an 8-bit mask (255 opaque, 0
// transparent) of a transparent frame that has transparent pixels, else is
// reset; NoMask never builds one. Progress: 0, 30 at the chosen frame, 70
// after its data, 100 at the end (not when aborting).
void PxReadGIF(classlib::TStream* Stream, TPxBitmap* Bitmap, int32_t& NumImages, TIOParamsVals& Params,
               TPxIOProgressInfo& Progress, bool Preview, std::unique_ptr<TPxMask>& Mask, bool NoMask);

// Copies the GIF file without frame Index (its graphic control extension is
// dropped with it; comments and other extensions stay) and, with Save,
// writes the result over the file. Index -1 keeps every frame (a frame
// count). Returns the number of frames kept; 0 for a file that is not a GIF.
// The file is replaced only when the copy is a complete GIF (header through
// trailer). Raises what the file streams raise (missing or locked file).
int32_t PxDeleteGIFFrame(const std::wstring& FileName, int32_t Index, bool Save);

// The number of frames of a GIF file; 0 when it cannot be read.
int32_t PxCountGIFFramesInFile(const std::wstring& FileName);

// Puts the GIF reader (frame composition included) and writer into the GIF
// row of the registry, the LZW codec into the I/O unit's hooks and the frame
// counter into the counters. PxInstallBuiltInFormats calls it.
void PxInstallGIFFormat();

}  // namespace imaging
