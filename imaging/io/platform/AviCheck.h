// The structure check of AVI files, run before a file is handed to the
// platform's AVI file library (which trusts the file's sizes and offsets).
//
// The check walks the RIFF 'AVI ' form with the kit's byte reader and
// refuses the file unless: every chunk and list lies inside its parent and
// the file, lists nest at most a few levels deep and each advances past its
// children (so none overlaps or loops); the header list holds exactly one
// main header followed at once by as many stream lists as it announces (a
// sane number), each with a stream header and a format of at least the
// structure's size (palette and bit fields included for the bitmap formats);
// the rates, scales, lengths and buffer sizes are bounded by the data and a
// stream of fixed-size samples has whole samples in every chunk, one of
// uncompressed video whole frames (or none: a dropped frame); the first
// video stream's frame passes the raster check (PxCheckRaster) against the
// size of the 'movi' list; exactly one 'movi' list is there; and every entry
// of an index chunk 'idx1' (their count bounded by the chunk size) names a
// stream that exists and points at a chunk of 'movi' at least as large as
// the entry says; 8-bit RLE frames keep their codes inside the frame and
// palette changes inside the palette. Further RIFF 'AVIX' forms after the
// first are walked the same way. A file without a video stream is refused
// as NoImage. Frames the platform's decoders fault on are refused as
// Unsupported: 4-bit RLE, and coded (not plain) frames wider than 4096
// pixels.
//
// Threads: free routines, safe to call from any thread on distinct streams.
#pragma once

#include <string>

#include "imaging/io/core/ReadGuard.h"

namespace classlib {
class TStream;
}

namespace imaging {

// TPxReadFailure::None when the AVI file that Stream holds (from position 0
// to its end) passes the check; otherwise why not. The stream's position is
// undefined after the call. Stream exceptions give Unreadable.
TPxReadFailure PxCheckAVIStructure(classlib::TStream& Stream);

// The same for a file (opened for reading, writers denied); Unreadable when
// it cannot be opened.
TPxReadFailure PxCheckAVIFile(const std::wstring& FileName);

}  // namespace imaging
