// Writer of the wireless bitmap of type 0 (file type 16).
//
// Works on a px1g copy of the bitmap (the bitmap itself is never changed).
// A copy wider or higher than 255 pixels is cut, keeping its top-left part:
// to 255 x Trunc(height * 255 / width) when it is wider than high, else to
// Trunc(width * 255 / height) x 255 (never below 1 pixel). Then the header 0,
// 0, width, height as multi-byte integers and (width + 7) div 8 bytes per row,
// 1 = white. Progress Trunc(row * 100 / height) after each row, rows counted
// from 0.
//
// Failure: an empty bitmap writes nothing and sets the aborting flag; a
// short write sets it too.
//
// Threads: one call uses only its arguments; the bitmap is read only.
#pragma once

#include <cstdint>
#include <vector>

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;

void PxWriteWBMP(classlib::TStream* Stream, TPxBitmap* Bitmap, TPxIOProgressInfo& Progress);

// Appends Value as a multi-byte integer (most significant 7-bit group
// first, the top bit set on every byte but the last).
void PxAppendWBMPInteger(std::vector<uint8_t>& Out, uint32_t Value);

}  // namespace imaging
