// The JPEG reader: decodes a JPEG stream into a TPxBitmap and fills the file
// parameters (size, resolution, colour space, markers, metadata, colour
// profile), and the helpers that find JPEG data in a stream.
//
// PxInstallJPEGFormat installs the JPEG row of the format registry (reader
// and writer); PxInstallBuiltInFormats calls it.
//
// Failure: the reader reports failure through the aborting flag of the
// progress record; library errors while reading the header, starting the
// decompression or reading rows are caught and keep the rows read so far.
// Stream exceptions outside the library's calls reach the caller.
//
// Threads: a call uses only its arguments and the process-wide hooks, which
// are set at start-up; separate calls may run on separate threads.
#pragma once

#include <cstdint>

#include "classlib/Stream.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;
struct TPxIOProgressInfo;

// What a JPEG read takes beyond the image itself.
struct TPxJPEGReadOptions {
    // Abbreviated table data read before the image (nullptr or the image's
    // stream itself: none).
    classlib::TStream* Tables = nullptr;
    // Grey files give px8g and CMYK files pxCMYK instead of px24RGB.
    bool NativePixelFormat = false;
    // Rows to read, -1 for all.
    int RowLimit = -1;
    // Collect the APP2 colour profile into the input profile.
    bool ReadColorProfile = false;
    // A profile applied while decoding is marked applied and its APP2
    // markers are dropped.
    bool ApplyColorProfile = false;
    // CMYK samples are inverted before conversion to RGB.
    bool InvertedCMYK = false;
    // IPTC, EXIF (through PxLoadEXIFFromBufferHook) and XMP from the markers.
    bool ReadMetadata = false;
    // Rows of YCbCr files carry Y, Cb, Cr without conversion (RGB-coded
    // files still give the bitmap's blue, green, red order).
    bool RawYCbCr = false;
    // Subsampled chroma repeated over the pixels it covers rather than
    // interpolated (old-style JPEG pages of TIFF files).
    bool ReplicateChroma = false;
    // Fill the parameters and decode no pixel.
    bool ParamsOnly = false;
};

// Decodes the JPEG image at Stream's position (found within the next 150
// bytes) into Bitmap as Options say and returns the number of rows read.
int PxReadJPEG(classlib::TStream* Stream, TPxBitmap* Bitmap, const TPxJPEGReadOptions& Options,
               TPxIOProgressInfo& Progress, TIOParamsVals& Params);

// The bytes from Stream's position to the end of the JPEG data there (just
// past the end-of-image marker, or to the stream's end). The position is
// restored.
int64_t PxGetJPEGLength(classlib::TStream* Stream);

// Joins the colour profile of the APP2 "ICC_PROFILE" markers from Stream's
// position into Params' input profile (bad chunks are ignored; nothing is
// loaded when no payload was found). The position is restored.
void PxReadJPEGICC(classlib::TStream* Stream, TIOParamsVals& Params);

// Puts the JPEG reader and writer into the registry's JPEG row (idempotent).
void PxInstallJPEGFormat();

// Registration point of the EXIF unit: reads an APP1 payload (with its
// "Exif" header) into the EXIF group of Params and returns true when it was
// EXIF data. While empty, no EXIF data is read (HasEXIF stays false) and the
// EXIF APP1 marker simply travels in the marker list.
using TPxLoadEXIFFromBufferProc = bool (*)(const uint8_t* Buffer, int32_t Length, TIOParamsVals& Params);
extern TPxLoadEXIFFromBufferProc PxLoadEXIFFromBufferHook;

}  // namespace imaging
