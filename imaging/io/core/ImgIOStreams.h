// The read-only streams the I/O object reads through, made in a unit of
// their own (their declarations do not mix with the parameters' headers).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "classlib/Stream.h"

namespace imaging {

// A buffered read-only stream over Source (not owned; must outlive it); with
// Relative set, positions count from Source's position now.
std::unique_ptr<classlib::TStream> PxIOBufferedReader(classlib::TStream* Source, bool Relative, int32_t BufferSize);
// A read-only view of Count bytes at Buffer (nothing copied; the block must
// outlive the stream).
std::unique_ptr<classlib::TStream> PxIOMemoryView(const void* Buffer, int64_t Count);
// Inflates the zlib data at Data (Size bytes) up to Limit bytes; fewer when
// the data end first. Damaged data raise classlib::EZDecompressionError.
std::vector<uint8_t> PxIOInflate(const uint8_t* Data, int64_t Size, int64_t Limit);

}  // namespace imaging
