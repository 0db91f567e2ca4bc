// Reader of headerless pixel data (file type 21) and its installation in the
// format registry.
//
// PxReadRawPixels fills a TPxBitmap whose size and pixel format the caller
// has already set, from the stream's position: RawPixelsHeaderSize bytes are
// skipped, then the pixel values follow as binary data, decimal text or
// hexadecimal text (RawPixelsDataFormat 0, 1, 2), interleaved in each row or
// one plane per channel (RawPixelsPlanar; planes only for px24RGB, pxCMYK
// and pxRGB48), each file row aligned to RawPixelsRowAlign bits.
//
// Values: px16g and pxRGB48 take 16-bit values (little-endian in binary
// data), px32f 32-bit floating-point values, every other format bytes; a
// px1g row takes packed bits in binary data and one value per pixel in text
// (non-zero sets the pixel). Text numbers are runs of digits ("0".."9",
// hexadecimal also "A".."F", upper case only); any other character separates
// them, signs and decimal points included.
//
// Colour order: with RawPixelsBGR false a colour file stores red first; the
// reader turns it into the bitmap's own order (px24RGB keeps blue first, so
// its red and blue are exchanged; pxRGB48 keeps red first, so it is stored
// as read). With RawPixelsBGR true the file stores blue first.
//
// Failure: hexadecimal text into a px32f bitmap raises classlib::Exception
// "Format unsupported"; a stream that ends early is no error (the values not
// read are left as they were, text values past the end become 0). Nothing is
// read for pxNoPixels, pxCIELab and px32RGB bitmaps.
//
// Threads: one call uses only its arguments.
#pragma once

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

// Reads through an 8192-byte read buffer; the source stream's position
// afterwards is unspecified. Progress: per row Trunc(row * 100 / height)
// for interleaved data; 0, 33, 66, 100 for three planes and 0, 25, 50, 75,
// 100 for four; a value is reported only when it differs from the last one.
void PxReadRawPixels(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params,
                     TPxIOProgressInfo& Progress);

// Puts the reader into the row of file type 21 (a parameters-only read reads
// nothing). PxInstallBuiltInFormats calls it; calling it again is harmless.
void PxInstallRawPixelsFormat();

}  // namespace imaging
