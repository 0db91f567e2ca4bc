// The JPEG writer: compresses a TPxBitmap into a JPEG stream with the
// encoding options of the file parameters and writes the parameters' marker
// list back after the headers.
//
// Failure: an empty bitmap, a short write or a stopped save set the aborting
// flag of the progress record; library errors set it and raise
// EPxJpegException (JpegGlue.h), as do exceptions of the stream.
//
// Threads: a call uses only its arguments and the process-wide hooks.
#pragma once

#include "classlib/Stream.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;
struct TPxIOProgressInfo;

// Writes Bitmap at Stream's position. An image that is not px24RGB is
// written from a px24RGB copy. The file's colour space follows
// JPEGColorSpace (0 RGB, 1 grey, 2 YCbCr, 3 CMYK, 4 YCCK); the density is
// DpiX x DpiY dots per inch (the defaults PxDefaultDpiX/Y when 0). The marker
// list of Params is sorted for writing (TPxMarkerList::Sort) and every
// marker except APP14 is written after the headers, in list order.
void PxWriteJPEG(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress);

}  // namespace imaging
