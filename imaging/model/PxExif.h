// The EXIF routines that need no file parameters: the test for the
// "Exif" APP1 header, the search for a TIFF header inside camera raw data,
// and the coding of the EXIF user comment (an 8-byte character code
// followed by the text). The routines that move an EXIF block between a
// buffer and the file parameters are in imaging/io/metadata/ExifBlock.h.
//
// Failure: none of these routines raises for bad data; lengths are checked.
// Exceptions of the stream pass to the caller of PxFindTIFFHeader.
//
// Threads: no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Stream.h"

namespace imaging {

// The six bytes in front of the TIFF structure of an EXIF APP1 marker.
inline constexpr uint8_t PxEXIFHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr int32_t PxEXIFHeaderLength = 6;

// True when the buffer begins with the zero-terminated text "Exif" (its
// first five bytes); false for shorter buffers and nullptr.
bool PxIsEXIFHeader(const uint8_t* Buffer, int32_t Length);

// The offset, relative to Stream's position, of the first TIFF header in
// the next 128 KiB of the stream: "II" or "MM", then a 16-bit value of 42
// (TIFF), 0x4F52 or 0x5352 (camera raw variants) and a 32-bit offset below
// the stream's size, both in the mark's byte order. -1 when none. The
// position is restored.
int64_t PxFindTIFFHeader(classlib::TStream* Stream);

// The character codes of the user comment (8 bytes each).
inline const std::string PxEXIFUnicodeCode("UNICODE\0", 8);
inline const std::string PxEXIFAsciiCode("ASCII\0\0\0", 8);

// Decodes the bytes of a user comment (tag 37510). Fewer than 9 bytes: Code
// becomes the Unicode code and the text is empty. Otherwise Code is the
// first 8 bytes; with the Unicode code the rest is UTF-16 in the block's
// byte order (Little), with whole zero code units removed from the end; any
// other code takes the rest as text of the system code page, with zero
// bytes removed from the end.
std::wstring PxDecodeEXIFUserComment(const uint8_t* Data, size_t Length, bool Little, std::string& Code);

// The bytes of a user comment to write little-endian: empty when Text is
// empty or Code does not have 8 characters (an empty code counts as the
// Unicode code). Unicode: the code, the UTF-16LE text and two zero bytes;
// any other code: the code, the text in the system code page and one zero
// byte.
std::vector<uint8_t> PxEncodeEXIFUserComment(const std::wstring& Text, const std::string& Code);

}  // namespace imaging
