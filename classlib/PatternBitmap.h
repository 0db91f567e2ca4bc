// A shared 8 x 8 checkerboard bitmap, used as a pattern brush (for example
// for XOR drag outlines drawn with PATINVERT).
#pragma once

#include "classlib/Bitmap.h"

namespace classlib {

// The checkerboard of BkColor and FgColor: pixel (x, y) is BkColor where
// x + y is even and FgColor where it is odd. One bitmap per colour pair is
// made on first request and shared by every caller until the process ends:
// the caller must neither delete nor change it. Thread-safe.
TBitmap* AllocPatternBitmap(TColor BkColor, TColor FgColor);

}  // namespace classlib
