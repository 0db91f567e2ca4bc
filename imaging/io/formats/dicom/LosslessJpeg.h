// The lossless JPEG decoder of the toolkit: the process with Huffman coding
// and predictors 1 to 7, as DICOM files carry it (one grey component of 2 to
// 16 bits, or three colour components of up to 8 bits).
//
// Untrusted data: every marker length and table is checked against the
// data before use; the decoder never writes beyond its output. Failure is
// the false result.
//
// Threads: a call uses only its arguments.
#pragma once

#include <cstdint>

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

// Lossless JPEG of ByteCount bytes at the stream's position. Exactly one of
// Output16 and Output8 is given, holding OutputCount samples: one component
// up to 8 bits fills Output8, three components up to 8 bits fill it with
// interleaved triples, one component of 9 to 16 bits fills Output16, rows
// top first. Returns false for data it cannot decode: fewer than 32 bytes,
// no lossless frame header, bad or missing Huffman tables, a second scan, a
// frame larger than OutputCount, a component count or precision that does
// not match the output, or entropy-coded data that end before the frame is
// complete. The point transform is not applied. Handler receives
// Trunc(consumed / ByteCount x 100) whenever it changes.
bool PxDecodeLosslessJPEG(classlib::TStream* Stream, uint16_t* Output16, uint8_t* Output8, int64_t OutputCount,
                          const TPxProgressEvent& Handler, classlib::TObject* Sender, int64_t ByteCount);

}  // namespace imaging
