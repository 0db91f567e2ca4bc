// Icon (file type 6) and cursor (file type 7) readers of the toolkit, the
// image count of an icon directory, and the installation of the icon and
// cursor routines in the format registry.
//
// Each directory entry is a device-independent bitmap whose height counts
// twice: colour rows, then a 1-bit transparency mask (1 = transparent),
// both bottom-up. The readers decode one entry (ICOImageIndex or
// CURImageIndex); transparency comes back as an 8-bit mask (255 opaque).
// Pixels that are transparent in the 1-bit mask take the background colour
// (ICOBackground, CURBackground) in colour output; 1-bit images show the
// background as white or black and screen-inverting pixels as the opposite.
// An icon stream that starts with "BM" is read as a BMP.
//
// Untrusted data: the directory, the entry's offset and every row are
// checked against the stream before anything is allocated or read; bad data
// set the aborting flag of Progress. Entries stored as PNG data are refused
// the same way. An index outside the directory returns without reading and
// without error. The one exception raised: classlib::EInvalidGraphic
// "Unsupported pixel format" for an icon entry of another bit count than
// 1, 4, 8, 24 or 32 read with NativePixelFormat. Stream exceptions pass.
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
class TPxMask;
class TIOParamsVals;

// The number of images the directory at the stream's position announces (0
// when the header cannot be read); the position is restored.
int32_t PxCountICOImages(classlib::TStream* Stream);
// The same for a file (opened for reading, writers shut out); stream
// exceptions pass to the caller.
int32_t PxCountICOImagesInFile(const std::wstring& FileName);

// IgnoreAlpha: the mask is neither created nor touched. Preview: only the
// parameters are read. Mask: receives the transparency, created when
// nullptr; an icon whose mask is all opaque gives nullptr, a cursor's mask
// is returned as built.
void PxReadICO(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool IgnoreAlpha,
               std::unique_ptr<TPxMask>& Mask, TPxIOProgressInfo& Progress, bool Preview);
void PxReadCUR(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool IgnoreAlpha,
               std::unique_ptr<TPxMask>& Mask, TPxIOProgressInfo& Progress, bool Preview);

// Puts the icon reader and writer and the cursor reader into their registry
// rows (the readers hand their mask over in Progress.Mask; the writer takes
// the leading ICOSizes pairs of positive width with as many ICOBitCounts)
// and installs the icon frame counter. PxInstallBuiltInFormats calls it.
void PxInstallICOFormat();

}  // namespace imaging
