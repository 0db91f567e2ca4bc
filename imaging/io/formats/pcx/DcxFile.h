// Multi-page PCX files (DCX, file type 19): a 32-bit little-endian magic
// (B1 68 DE 3A), a table of 32-bit little-endian page offsets ended by a 0
// entry (at most 1024 entries are read; a full table needs no 0), then the
// pages, each a complete PCX image. Offsets count from the first byte of
// the magic. The content test is PxIsDCX (FileFormats.h).
//
// Failure: readers and writers report failure only by setting the aborting
// flag of Progress; bad data raise nothing.
//
// Threads: one call uses only its arguments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

constexpr uint32_t PxDCXMagic = 0x3ADE68B1;
constexpr int PxDCXMaxPages = 1024;

// Reads the page table from the stream's position (just after the magic)
// into Table (resized to 1024 entries, unused ones 0) and returns the number
// of entries before the first 0 (or before the data end).
int PxReadDCXTable(classlib::TStream* Stream, std::vector<uint32_t>& Table);

// The length of each of the first Count pages: the distance from its offset
// to the nearest larger offset of another page (compared unsigned), or to
// StreamSize (the size of the DCX data from its magic on) when there is
// none; never negative.
std::vector<int64_t> PxDCXPageLengths(const std::vector<uint32_t>& Table, int Count, int64_t StreamSize);

// The number of page-table entries (up to 1024) of the DCX data at the
// stream's position; the magic is skipped without being checked. The
// position is restored.
int PxCountDCXPages(classlib::TStream* Stream);

// Opens the file (read, deny write) and counts its pages; exceptions of the
// file pass to the caller.
int32_t PxCountDCXPagesInFile(const std::wstring& FileName);

// Reads page Params.DCXImageIndex (clamped to the pages there are and
// stored back through SetImageIndex) of the DCX data at the stream's
// position with PxReadPCX. Data that fail the DCX test, or an empty table,
// set the aborting flag. Progress.Count receives the page count.
void PxReadDCX(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress,
               bool Preview);

// Inserts Bitmap (written by PxWritePCX) as page Params.DCXImageIndex into
// the DCX file the whole stream holds and rewrites the stream: an empty
// stream gets a one-page file; an index equal to the page count appends;
// an index below 0 or above the page count adds no page. A non-empty stream
// that is not a DCX file, a page that cannot be written, or a file that
// would get more than 1024 pages set the aborting flag and leave the stream
// as it was.
void PxWriteDCX(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress);

}  // namespace imaging
