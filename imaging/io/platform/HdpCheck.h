// The structure check of HD Photo files, run before a file is handed to the
// platform's imaging component (whose decoder trusts the container's sizes,
// offsets and fields).
//
// The container is an IFD structure in the manner of TIFF, little-endian
// only: the header "II", 0xBC and version 1, then the offset of the first
// directory. The check refuses the file unless: every directory it reaches
// (a few at most, following the next-directory offsets) lies inside the
// file with a sane entry count; every entry has a known field type and its
// values (count times the type's size) lie inside the header field or the
// file; the first directory holds the pixel format (16 bytes), the width and
// height (one value each, passing PxCheckRaster), the image data offset and
// byte count (one value each, the data inside the file and starting with the
// codestream's signature "WMPHOTO"); the alpha plane's offset and byte
// count, when given, lie inside the file; and the spatial transformation,
// when given, is one value of the eight the format names.
//
// Threads: free routines, safe to call from any thread on distinct streams.
#pragma once

#include "imaging/io/core/ReadGuard.h"

namespace classlib {
class TStream;
}

namespace imaging {

// TPxReadFailure::None when the HD Photo file that Stream holds (from its
// position to its end; offsets count from that position) passes the check;
// otherwise why not (BadHeader, Truncated, NoImage, TooLarge). The stream's
// position is restored. Stream exceptions give Unreadable.
TPxReadFailure PxCheckHDPhotoStructure(classlib::TStream& Stream);

}  // namespace imaging
