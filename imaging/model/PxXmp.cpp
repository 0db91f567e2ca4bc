#include "imaging/model/PxXmp.h"

#include <cstring>

namespace imaging {

const uint8_t* PxFindXMPPacket(const uint8_t* Buffer, size_t Length)
{
    // 24 bytes: "http://ns.adobe.com/xap/", so the extended-XMP identifier
    // ("http://ns.adobe.com/xmp/extension/") does not count.
    if (Buffer == nullptr || Length < 30 || std::memcmp(Buffer, PxXMPNamespace, 24) != 0) return nullptr;
    return Buffer + PxXMPHeaderLength;
}

}  // namespace imaging
