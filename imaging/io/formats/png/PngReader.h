// PNG reader of the toolkit (file type 8) and the installation of the PNG
// routines in the format registry.
//
// PxReadPNG decodes the PNG at the stream's position into a TPxBitmap and
// fills the PNG and general fields of TIOParamsVals. Pixel formats: a 1-bit
// grey file gives px1g; with NativePixelFormat an 8-bit palette file gives
// px8p (palette of 256 entries from the file's palette), an 8-bit grey file
// px8g and a 16-bit grey file px16g; everything else px24RGB (16-bit samples
// cut to their high byte). Alpha samples, and transparency chunks of files
// deeper than 1 bit that are not read natively, go to the bitmap's alpha
// channel; a file without them leaves the bitmap without one.
//
// Failure: bad or short data, a library error and a failed allocation end
// the read with the aborting flag of Progress set and nothing raised; the
// rows decoded so far stay in the bitmap.
//
// Threads: one call uses only its arguments.
#pragma once

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

// ParamsOnly: only the parameters are read (no pixels, the bitmap stays).
void PxReadPNG(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool ParamsOnly,
               TPxIOProgressInfo& Progress);

// Puts PxReadPNG and PxWritePNG into the PNG row of the registry.
// PxInstallBuiltInFormats calls it.
void PxInstallPNGFormat();

}  // namespace imaging
