// BMP reader of the toolkit (file type 5) and the installation of the BMP
// routines in the format registry.
//
// PxReadBMP reads a device-independent bitmap, with or without its 14-byte
// file header, at the stream's position: core (12-byte) and info (40-byte
// and longer) headers; 1, 4, 8, 16, 24 and 32 bits per pixel; uncompressed,
// run-length coded (RLE4, RLE8) and bit-field data. Pixel formats: 1 bit
// with a black-and-white table px1g (a white-then-black table inverts the
// bits so that 1 stays white); 1 bit with any other table, 4 and 8 bits px8p
// with NativePixelFormat (palette from the colour table), otherwise
// px24RGB; 16, 24 and 32 bits px24RGB. The fourth byte of 32-bit
// pixels becomes an 8-bit mask (255 opaque) unless IgnoreAlpha; the mask is
// dropped when every fourth byte is 0 or every one is 255.
//
// Untrusted data: every size and offset is checked against the stream before
// anything is allocated or read; run-length codes never write outside the
// image nor read past their data. Bad data set the aborting flag of
// Progress and return; nothing is raised for them (stream exceptions of the
// caller's stream pass through). The rows decoded so far stay.
//
// Threads: one call uses only its arguments.
#pragma once

#include <cstdint>
#include <memory>

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/model/PxTypes.h"

namespace imaging {

class TPxBitmap;
class TPxMask;
class TIOParamsVals;

// DataSize: bytes of the bitmap from the stream's position, or 0 or less for
// up to the end of the stream (the file header's size field is not trusted). NoFileHeader: the data start at the
// bitmap header. Mask: left as it is unless a 32-bit image is read without
// IgnoreAlpha; then it receives the alpha mask, or nullptr when the alpha
// says nothing (all 0 or all 255). Preview (or a width or height of 0):
// only the parameters are read, the bitmap is not touched.
void PxReadBMP(classlib::TStream* Stream, TPxBitmap* Bitmap, int64_t DataSize, TIOParamsVals& Params,
               TPxIOProgressInfo& Progress, bool Preview, bool NoFileHeader, std::unique_ptr<TPxMask>& Mask,
               bool IgnoreAlpha);

// Run-length decoders into an allocated bitmap (px24RGB for the colour
// variants, px8p for the index variants). TopRow: 0 for bottom-up data,
// height - 1 for top-down data; file row r (height - 1 first) is image row
// |TopRow - r|. Colour indices beyond ColorMapCount give black. Decoding
// stops at the end of the data, at an end-of-bitmap code, after the last
// row, or when the aborting flag is set at a row end; codes that would move
// outside the image end decoding, pixels beyond the width are dropped.
// Progress:
// Trunc((height - r) * 100 / height) at each row end.
void PxDecodeRLE4ToRGB(TPxBitmap* Bitmap, const uint8_t* Data, int64_t DataLength, int TopRow,
                       TPxIOProgressInfo& Progress, const TPxRGB* ColorMap, int ColorMapCount);
void PxDecodeRLE4ToIndex(TPxBitmap* Bitmap, const uint8_t* Data, int64_t DataLength, int TopRow,
                         TPxIOProgressInfo& Progress);
void PxDecodeRLE8ToRGB(TPxBitmap* Bitmap, const uint8_t* Data, int64_t DataLength, int TopRow,
                       TPxIOProgressInfo& Progress, const TPxRGB* ColorMap, int ColorMapCount);
void PxDecodeRLE8ToIndex(TPxBitmap* Bitmap, const uint8_t* Data, int64_t DataLength, int TopRow,
                         TPxIOProgressInfo& Progress);

// Puts the BMP reader and writer into the BMP row of the registry: the
// reader reads with IgnoreAlpha = not BMPWriteAlpha (always ignoring alpha
// for a preview), takes Progress.DataSize as the data size when it is
// known, turns any exception into the aborting flag and hands its mask over
// in Progress.Mask; the writer saves alpha when BMPWriteAlpha is set.
// PxInstallBuiltInFormats calls it.
void PxInstallBMPFormat();

}  // namespace imaging
