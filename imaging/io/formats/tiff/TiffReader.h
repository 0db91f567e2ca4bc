// The TIFF reader of the toolkit (file type 1): one entry point that loads a
// page of a TIFF file or stream into a TPxBitmap, reads only the parameters
// of a page, counts the pages, or reads the TIFF structure inside an EXIF
// block. The directory and tag layer is TiffTags.h; the strip and tile
// decoding lives in TiffPixels.cpp.
//
// Failure: a malformed file never raises; it sets the aborting flag of the
// progress record and the reader returns. Every size and offset taken from
// the file is checked against the stream before anything is allocated or
// read. Exceptions of the stream itself and of the Deflate decoder pass
// through after every buffer has been freed.
//
// Codecs of other units: LZW rows through the parameters' or the global LZW
// decoder hook (IOStartup.h), CCITT rows through Ccitt.h, JPEG strips and
// old-style JPEG pages through JpegReader.h, Deflate through the class
// library's zlib streams.
//
// Threads: a call keeps all its state on the stack and uses only its
// arguments and the process-wide hooks; separate calls may run on separate
// threads.
#pragma once

#include <cstdint>

#include "classlib/Stream.h"

namespace imaging {

class TPxBitmap;
class TPxMask;
class TIOParamsVals;
struct TPxIOProgressInfo;

// Reads page Params->TIFFImageIndex (sub-image Params->TIFFSubIndex when it
// is 0 or more) of the TIFF at Stream into Bitmap and its tags into Params.
// PageCount: set to the number of directories in the chain. Params nullptr:
// only the pages are counted (Bitmap may then be nullptr too). ParamsOnly:
// stop before any pixel is decoded. AlphaMask: receives a new mask (owned by
// the caller) when the page has alpha and the variable is nullptr; a mask
// passed in is resized to the page and filled with 255 unless IgnoreAlpha.
// PositionIsBase: file offsets count from Stream's position at entry, else
// they are absolute positions. ThumbnailMode: only pages of at most 400 x
// 400 pixels are decoded, into a bitmap filled with 0 first.
void PxReadTIFF(TPxBitmap* Bitmap, classlib::TStream* Stream, int32_t& PageCount, TIOParamsVals* Params,
                TPxIOProgressInfo& Progress, bool ParamsOnly, TPxMask*& AlphaMask, bool PositionIsBase,
                bool IgnoreAlpha, bool ThumbnailMode);

// The number of pages of the TIFF at Stream's position (0 when it is none).
int32_t PxCountTIFFPages(classlib::TStream* Stream);

// The reader of the TIFF row of the format registry: reads the page the
// parameters select with the parameters' NativePixelFormat, hands a new alpha
// mask over in Progress.Mask and the page count in Progress.Count; Preview
// reads the parameters only. Never raises: failures set the aborting flag.
void PxReadTIFFFormat(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
                      TPxIOProgressInfo& Progress);

// Puts PxReadTIFFFormat into the TIFF row of the registry.
// PxInstallBuiltInFormats calls it.
void PxInstallTIFFReader();

}  // namespace imaging
