// Byte order of values in memory: fixed little-endian (PxLe*) and
// big-endian (PxBe*) reads, and reads and writes in either order (Little:
// little-endian "II", else big-endian "MM"). p must hold the bytes.
#pragma once

#include <cstdint>

namespace imaging {

inline uint16_t PxLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t PxLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t PxBe16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t PxBe32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline int32_t PxLeS32(const uint8_t* p) { return static_cast<int32_t>(PxLe32(p)); }
inline int32_t PxBeS32(const uint8_t* p) { return static_cast<int32_t>(PxBe32(p)); }

inline uint16_t PxGetU16(const uint8_t* p, bool Little) { return Little ? PxLe16(p) : PxBe16(p); }
inline uint32_t PxGetU32(const uint8_t* p, bool Little) { return Little ? PxLe32(p) : PxBe32(p); }
inline void PxPutU16(uint8_t* p, uint16_t v, bool Little)
{
    if (Little) {
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
    } else {
        p[0] = static_cast<uint8_t>(v >> 8);
        p[1] = static_cast<uint8_t>(v);
    }
}
inline void PxPutU32(uint8_t* p, uint32_t v, bool Little)
{
    for (int i = 0; i < 4; ++i) p[Little ? i : 3 - i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace imaging
