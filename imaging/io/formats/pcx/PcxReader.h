// PCX reader of the toolkit (file type 4) and the installation of the PCX
// and DCX routines in the format registry.
//
// PxReadPCX reads one PCX image (128-byte header, then the rows, plain or
// run-length coded, plane by plane) at the stream's position:
//   - 1 bit, 1 plane: px1g, the bits as they are (the file's palette is not
//     used: 1 is white);
//   - 1 bit, 2 to 4 planes: bit x of plane k is bit k of the colour index of
//     pixel x; px24RGB through the header's palette (2^planes entries);
//   - 2 and 4 bits, 1 plane: px24RGB through the header's palette;
//   - 8 bits, 1 plane: px24RGB through the 256-entry palette that follows
//     the marker byte 12, normally the last 769 bytes of the image, else
//     the first marker after the coded rows; no palette fails (Truncated);
//   - 8 bits, 3 or 4 planes: px24RGB from the red, green and blue planes (a
//     fourth plane is not read);
//   - any other layout fails as Unsupported, also for parameters only.
//
// Untrusted data: the header is checked (manufacturer 10, encoding 0 or 1,
// at most 8 bits, xmax not below xmin, ymax not below ymin, a bytes-per-row
// value that holds the width) and the data must be able to hold the image
// before the bitmap is allocated; decoding never reads past the data read.
// Rows the data end before are 0. Bad data set the aborting flag of
// Progress; nothing is raised (an exception while reading counts the same).
// The rows decoded so far stay.
//
// Threads: one call uses only its arguments.
#pragma once

#include <cstdint>

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

// Reads one PCX image from the stream's position. Length: the bytes of the
// image from its header on; 0 or less, or more than the stream holds, means
// up to the end of the stream. Fills BitsPerSample, SamplesPerPixel, Width,
// Height, OriginalWidth, OriginalHeight, PCXVersion, the colour map (none
// for 24-bit images), DpiX and DpiY (both PxDefaultDpiX/Y when either is 0 in
// the file) and the image count (1). Preview: only the parameters. Leaves
// the stream at the image's end on success.
void PxReadPCX(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, int64_t Length,
               TPxIOProgressInfo& Progress, bool Preview);

// The decoding state of the rows of one image. The run carry (count and
// value of a run not yet spent) survives from one plane row to the next.
struct TPxPCXDecoder {
    const uint8_t* Data = nullptr;
    int64_t Size = 0;    // bytes at Data
    int64_t Pos = 0;     // next byte to read
    int Encoding = 1;    // 0 plain, 1 run-length
    int CarryCount = 0;
    uint8_t CarryValue = 0;
};

// Decodes one plane row of Count bytes into Row. Encoding 1: a pending
// carried run first, then codes: a byte below 192 is a literal, a byte of
// 192 or more a run of (byte and 63) copies of the next byte; the part of a
// run that does not fit stays carried. Encoding 0 copies Count bytes. False
// when the data end before the row is full; the rest of the row is then 0.
bool PxPCXDecodeRow(TPxPCXDecoder& Decoder, uint8_t* Row, int Count);

// Puts the PCX reader and writer into the PCX row (the reader takes
// Progress.DataSize as the image's length when it is known) and the DCX
// reader and writer into the DCX row, and installs the DCX page counter.
// PxInstallBuiltInFormats calls it.
void PxInstallPCXFormat();

}  // namespace imaging
