// JPEG 2000 reader of the toolkit (file types 13, the JP2 file, and 14, the
// bare code stream), its colour tables and start-up, and the installation
// of the JPEG 2000 routines in the format registry.
//
// PxReadJPEG2000 decodes the image at the stream's position into a
// TPxBitmap: px1g for a one-component 1-bit image, px24RGB otherwise. Every
// component is cut to its top 8 bits; grey, RGB and YCbCr images are read
// (YCbCr through PxJ2KYCbCrTables, subsampled components by their steps);
// an opacity component is passed over. Without a colour space the codec
// knows (a bare code stream, a file described by a colour profile) an image
// of three or more colour components is RGB, one of fewer is grey. The file's resolution is not read:
// DpiX/DpiY become the toolkit defaults. BitsPerSample reports the
// precision of the first component.
//
// Failure: data that are neither a JP2 file nor a code stream, a codec
// error, an unknown colour space, a missing colour component and a failed
// allocation end the read with the aborting flag of Progress set; nothing
// is raised. The rows written so far stay in the bitmap.
//
// Threads: one call uses only its arguments and the read-only tables.
#pragma once

#include <cstdint>

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

// Colour conversion tables of the reader, indexed by the 8-bit Cb or Cr
// value: red = Y + CrToRed[Cr], green = Y + CbToGreen[Cb] + CrToGreen[Cr],
// blue = Y + CbToBlue[Cb], each clamped to 0..255.
struct TPxJ2KYCbCrTables {
    int32_t CrToRed[256];
    int32_t CbToBlue[256];
    int32_t CrToGreen[256];
    int32_t CbToGreen[256];
};
// The tables; built on first use (and by PxInitializeJ2000), read-only
// afterwards.
const TPxJ2KYCbCrTables& PxJ2KYCbCrTables();

// The sample index of an image coordinate in a component with that origin
// and step: (Coord - Origin) div Step, truncated toward zero; 0 when that is
// negative or not below Count (and for a step of 0).
int32_t PxJ2KCoordToIndex(int64_t Coord, int64_t Origin, int64_t Step, int64_t Count);

// Preview: only the parameters are read (the bitmap stays as it is).
void PxReadJPEG2000(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress,
                    bool Preview);

// Start-up and shut-down of the JPEG 2000 unit (the toolkit start-up's
// JPEG 2000 slot): the start-up builds the colour tables; the codec needs
// no global set-up of its own.
void PxInitializeJ2000();
void PxFinalizeJ2000();

// Puts PxReadJPEG2000 and PxWriteJPEG2000 into the JP2 row (format 0) and
// the code-stream row (format 1). PxInstallBuiltInFormats calls it.
void PxInstallJ2000Format();

}  // namespace imaging
