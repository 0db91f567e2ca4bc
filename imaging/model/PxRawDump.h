// The raw bitmap dump: one TPxBitmap with its palette, display settings,
// pixel rows and alpha channel in the toolkit's own binary layout, marked by
// the magic "TPXBITMAPRAW" (little-endian integers, IEEE doubles):
//
//   magic (12 bytes), version int32 (0), palette count n int32, n entries of
//   3 bytes (blue, green, red), width int32, height int32, pixel format byte,
//   full-alpha byte, palette capacity int32, display minimum and maximum
//   (doubles), red, green, blue and fourth offsets int32, adjust byte,
//   contrast int32, row alignment in bits int32 (75 + 3n bytes so far), the
//   rows top row first with their alignment bytes, a has-alpha byte, and
//   with an alpha channel its rows and its full-alpha byte.
//
// These are operations of TPxBitmap written as free routines. Writing goes
// to a caller's memory block or to a stream; reading from either.
//
// Failure: the loader trusts nothing it reads. Every count and size is
// checked against the bytes left in the stream or block before anything is
// allocated or read; a dump that is bad (wrong magic, negative version,
// palette count outside 0..256, unknown pixel format, sizes not positive,
// row alignment not a positive multiple of 8) or truncated gives false.
// With a wrong magic or a negative version the image is untouched; any later
// failure leaves it empty (0 x 0, no alpha channel).
// Errors of the stream itself (other than running out of data) pass to the
// caller.
//
// Threads: one thread uses an image at a time.
#pragma once

#include <cstdint>

#include "classlib/Stream.h"
#include "imaging/model/PxBitmap.h"

namespace imaging {

// The number of bytes SaveRawToStream writes for the image.
int64_t PxRawDumpSize(TPxBitmap& Bitmap);

// Writes the dump: into Buffer (BufferSize bytes of room) when Buffer is not
// nullptr, otherwise to Stream at its position. False, nothing written,
// when both are nullptr or the block is smaller than PxRawDumpSize. A stream
// that is short of room raises its write error.
bool SaveRawToStream(TPxBitmap& Bitmap, void* Buffer, int64_t BufferSize, classlib::TStream* Stream);

// Reads a dump from Buffer (at most BufferSize bytes) when Buffer is not
// nullptr, otherwise from Stream at its position. True when a whole dump was
// read; see the header comment for false. A dump of any version from 0 up
// reads as version 0. The image takes the dump's row alignment; a dump
// without alpha channel leaves the image without one.
bool LoadRawFromStream(TPxBitmap& Bitmap, const void* Buffer, int64_t BufferSize, classlib::TStream* Stream);

}  // namespace imaging
