// Values of 16 and 32 bits in memory in a fixed byte order: little-endian
// (LE) and big-endian (BE) reads and writes, and the same in the order a file
// names at run time (little true: little-endian). p must hold the bytes; no
// alignment is needed. Results do not depend on the host's byte order.
#pragma once

#include <cstdint>

namespace classlib {

inline uint16_t GetLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetLE32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t GetBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t GetBE32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// Only the low 16 bits of v are written.
inline void PutLE16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLE32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutBE16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void PutBE32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[3 - i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint16_t GetU16(const uint8_t* p, bool little) { return little ? GetLE16(p) : GetBE16(p); }
inline uint32_t GetU32(const uint8_t* p, bool little) { return little ? GetLE32(p) : GetBE32(p); }
inline void PutU16(uint8_t* p, uint32_t v, bool little) { little ? PutLE16(p, v) : PutBE16(p, v); }
inline void PutU32(uint8_t* p, uint32_t v, bool little) { little ? PutLE32(p, v) : PutBE32(p, v); }

}  // namespace classlib
