// The XMP packet of a JPEG APP1 marker: the namespace identifier
// "http://ns.adobe.com/xap/1.0/" and its zero byte (29 bytes), then the
// packet as 8-bit text. The routines that move a packet between a marker and
// the file parameters are in imaging/io/metadata/JpegMetadata.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imaging {

// The identifier without its zero byte (28 characters).
inline constexpr char PxXMPNamespace[] = "http://ns.adobe.com/xap/1.0/";
// Bytes before the packet: the identifier and its zero.
constexpr size_t PxXMPHeaderLength = sizeof(PxXMPNamespace);

// The packet of an APP1 payload: when Length is at least 30 and the payload
// begins with the first 24 bytes of the identifier, the address after the
// identifier's zero byte; else nullptr.
const uint8_t* PxFindXMPPacket(const uint8_t* Buffer, size_t Length);

}  // namespace imaging
