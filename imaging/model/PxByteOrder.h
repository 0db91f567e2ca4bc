// Byte order of values in memory under the toolkit's names, over the class
// library's helpers (classlib/ByteOrder.h): fixed little-endian (PxLe*) and
// big-endian (PxBe*) reads, little-endian writes (PxPutLe*), and reads and
// writes in either order (Little: little-endian "II", else big-endian "MM").
// p must hold the bytes.
#pragma once

#include <cstdint>

#include "classlib/ByteOrder.h"

namespace imaging {

inline uint16_t PxLe16(const uint8_t* p) { return classlib::GetLE16(p); }
inline uint32_t PxLe32(const uint8_t* p) { return classlib::GetLE32(p); }
inline uint16_t PxBe16(const uint8_t* p) { return classlib::GetBE16(p); }
inline uint32_t PxBe32(const uint8_t* p) { return classlib::GetBE32(p); }
inline void PxPutLe16(uint8_t* p, uint16_t v) { classlib::PutLE16(p, v); }
inline void PxPutLe32(uint8_t* p, uint32_t v) { classlib::PutLE32(p, v); }
inline int32_t PxLeS32(const uint8_t* p) { return static_cast<int32_t>(PxLe32(p)); }
inline int32_t PxBeS32(const uint8_t* p) { return static_cast<int32_t>(PxBe32(p)); }

inline uint16_t PxGetU16(const uint8_t* p, bool Little) { return classlib::GetU16(p, Little); }
inline uint32_t PxGetU32(const uint8_t* p, bool Little) { return classlib::GetU32(p, Little); }
inline void PxPutU16(uint8_t* p, uint16_t v, bool Little) { classlib::PutU16(p, v, Little); }
inline void PxPutU32(uint8_t* p, uint32_t v, bool Little) { classlib::PutU32(p, v, Little); }

}  // namespace imaging
