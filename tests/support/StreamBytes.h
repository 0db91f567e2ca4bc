// Memory streams as byte vectors and back, for the tests of readers and
// writers that work on streams. Header-only: only test programs that link
// the class library include it.
#pragma once

#include <cstdint>
#include <vector>

#include "classlib/Streams.h"

namespace testsupport {

// The stream's whole content (its position is left alone).
inline std::vector<uint8_t> StreamBytes(classlib::TMemoryStream& Stream)
{
    const auto* p = static_cast<const uint8_t*>(Stream.GetMemory());
    return std::vector<uint8_t>(p, p + Stream.GetSize());
}

// Replaces the stream's content with Bytes and rewinds it.
inline void SetBytes(classlib::TMemoryStream& Stream, const std::vector<uint8_t>& Bytes)
{
    Stream.Clear();
    if (!Bytes.empty())
        Stream.WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    Stream.SetPosition(0);
}

}  // namespace testsupport
