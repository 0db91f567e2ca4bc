// JPEG 2000 writer of the toolkit (file types 13 and 14).
//
// PxWriteJPEG2000 writes the bitmap as a JP2 file (Format 0) or a bare code
// stream (Format 1) with the options of TIOParamsVals:
//   - J2000ColorSpace 0: one grey component (from px24RGB by the toolkit's
//     grey weights; from px1g the bit itself);
//   - J2000ColorSpace 1 or 2: red, green and blue components, and a fourth
//     opacity component when the bitmap's alpha channel is not entirely
//     opaque;
//   - BitsPerSample bits per component (1..16), each sample the 8-bit value
//     x (2^BitsPerSample - 1) div 255;
//   - J2000Rate and J2000ProgressionOrder through PxJ2KOptionText.
// A px1g bitmap sets BitsPerSample to 1 and J2000ColorSpace to 0 in Params
// first. Other pixel formats are written from a px24RGB copy.
//
// Failure: an empty bitmap, J2000ColorSpace above 2, BitsPerSample outside
// 1..16 and a codec failure set the aborting flag of Progress (the stream
// may hold a partial image then); nothing is raised.
//
// Threads: one call uses only its arguments; the bitmap is read only.
#pragma once

#include <string>

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

// "rate=" and J2000Rate in the shortest general form with "." as decimal
// separator, then " prg=lrcp" (progression 0), " prg=rlcp" (1) or nothing.
std::string PxJ2KOptionText(const TIOParamsVals& Params);

// Format: 0 JP2 file, 1 code stream.
void PxWriteJPEG2000(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress,
                     int Format);

}  // namespace imaging
