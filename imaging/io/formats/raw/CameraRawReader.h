// Camera raw reader of the toolkit (file type 20) and its installation in
// the format registry and the detection.
//
// PxReadRAW reads a camera's raw sensor file into a px24RGB bitmap, or a
// pxRGB48 bitmap with NativePixelFormat: the file's metadata (the EXIF block
// of a TIFF-based file with its preview in EXIFBitmap, or the records of a
// CIFF heap), the camera's name in RAWCamera, the sensor data decoded by the
// camera-raw decoder (CameraRawGlue.h) with the RAW* options, and the
// decoder's linear result turned into the bitmap through a gamma
// (RAWGamma) and white-point table scaled by RAWBright. The white point is
// the brightness (the length of the RGB vector, histogram of brightness / 8
// in 8192 bins) above which 1 % of the pixels lie, 0.5 % for "FUJIFILM".
// Colour-filter images lose a one-pixel border (interpolation border);
// Params.Width and Height are the decoder's visible size - 2. Fuji SuperCCD
// images are turned upright by 45 degrees. With RAWUseEmbeddedPreview the
// bitmap receives the file's preview instead (the full decode when there is
// none); with RAWMatchPreviewColors the decode is matched to the preview's
// channel histograms.
//
// Failure: a file the decoder does not recognise sets the aborting flag and
// decodes nothing; decoder errors (damaged data, lack of memory) and a
// bitmap that cannot be allocated raise classlib::Exception; a decode
// stopped through the aborting flag returns quietly. Metadata that cannot be
// read is passed over.
//
// Threads: every call has its own decoder; nothing is shared.
#pragma once

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

// Reads the file whose first byte is at the stream's position 0 (at the
// current position when PxBufferedReadFromPosition is set). ParamsOnly:
// the parameters and the preview only; the bitmap is not touched.
// Progress: 70 after the colour scaling, 85 after the RGB conversion, 90
// after the output, 100 at the end.
void PxReadRAW(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool ParamsOnly,
               TPxIOProgressInfo& Progress);

// True when the decoder recognises a camera in the data from the stream's
// position. The position is restored; never raises for the data's sake.
bool PxIsRAW(classlib::TStream& Stream);

// Replace the content of a px24RGB (24) or pxRGB48 (48) bitmap holding a
// Fuji SuperCCD image in its 45-degree layout by the upright image (twice as
// wide as the first row's last non-black pixel index). Nothing for other
// formats, or when the first row is black or the image too small to turn.
void RAWFujiRotate24(TPxBitmap* Bitmap);
void RAWFujiRotate48(TPxBitmap* Bitmap);

// Reads the metadata of a CIFF file at the stream's position 0: make, model,
// description, firmware, pixel dimensions, the camera-settings (entry 1) and
// shot-info (entry 4) word arrays into the maker note, and the smallest
// embedded JPEG into EXIFBitmap (created when missing and emptied; read with
// the registry's JPEG reader). Nothing for data that is no CIFF heap;
// records outside the stream end the heap.
void RAWReadCIFF(classlib::TStream* Stream, TIOParamsVals& Params);

// Puts PxReadRAW into the camera-raw row and PxIsRAW into the last step of
// the detection. PxInstallBuiltInFormats calls it.
void PxInstallCameraRawFormat();

}  // namespace imaging
