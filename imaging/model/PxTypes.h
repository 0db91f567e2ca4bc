// Pixel formats, storage locations and pixel records of the image toolkit.
//
// Every record here is packed to its exact byte layout: rows of images are
// arrays of these records, so sizeof must match the format's bytes per pixel.
#pragma once

#include <cstdint>

namespace imaging {

// The pixel formats of TPxBitmap. The values are stored in raw dumps and
// streams: never reorder them.
enum TPxPixelFormat : uint8_t {
    pxNoPixels = 0,  // no image
    px1g = 1,        // 1 bit, 1 = white; most significant bit is the leftmost pixel
    px8p = 2,        // palette index
    px8g = 3,        // grey 0-255 (alpha channels: 255 = opaque)
    px16g = 4,       // grey 0-65535, little-endian word
    px24RGB = 5,     // TPxRGB: blue, green, red
    px32f = 6,       // grey as IEEE single, 0.0 black .. 1.0 white
    pxCMYK = 7,      // TPxCMYK, stored inverted (255 = no ink)
    pxRGB48 = 8,     // TPxRGB48: red, green, blue words
    pxCIELab = 9,    // TPxCIELab: L byte, signed a and b bytes
    px32RGB = 10,    // blue, green, red and a fourth byte
};

constexpr int PxPixelFormatCount = 11;

// Bits per pixel and channels per pixel, indexed by TPxPixelFormat.
inline constexpr int PxPixelFormatBits[PxPixelFormatCount] = {0, 1, 8, 8, 16, 24, 32, 32, 48, 24, 32};
inline constexpr int PxPixelFormatChannels[PxPixelFormatCount] = {0, 1, 1, 1, 1, 3, 1, 4, 3, 3, 4};

// Where a TPxBitmap keeps its rows.
enum TPxLocation : uint8_t {
    pxMemory = 0,   // one aligned memory block, or segments
    pxFile = 1,     // a delete-on-close temporary file
    pxTBitmap = 2,  // a classlib::TBitmap (DIB section)
};

#pragma pack(push, 1)

// One 24-bit colour, stored blue, green, red (palettes and px24RGB pixels).
struct TPxRGB {
    uint8_t b;
    uint8_t g;
    uint8_t r;
    friend bool operator==(const TPxRGB&, const TPxRGB&) = default;
};

// One px32RGB pixel: blue, green, red and a fourth byte.
struct TPxRGB32 {
    uint8_t b;
    uint8_t g;
    uint8_t r;
    uint8_t a;
    friend bool operator==(const TPxRGB32&, const TPxRGB32&) = default;
};

// One pxRGB48 pixel: red, green, blue 16-bit words in this order.
struct TPxRGB48 {
    uint16_t r;
    uint16_t g;
    uint16_t b;
    friend bool operator==(const TPxRGB48&, const TPxRGB48&) = default;
};

// One pxCMYK pixel: C, M, Y, K bytes in memory order, stored inverted.
struct TPxCMYK {
    uint8_t c;
    uint8_t m;
    uint8_t y;
    uint8_t k;
    friend bool operator==(const TPxCMYK&, const TPxCMYK&) = default;
};

// One pxCIELab pixel: L (0-255 for 0-100), a and b signed.
struct TPxCIELab {
    uint8_t l;
    int8_t a;
    int8_t b;
    friend bool operator==(const TPxCIELab&, const TPxCIELab&) = default;
};

#pragma pack(pop)

static_assert(sizeof(TPxRGB) == 3);
static_assert(sizeof(TPxRGB32) == 4);
static_assert(sizeof(TPxRGB48) == 6);
static_assert(sizeof(TPxCMYK) == 4);
static_assert(sizeof(TPxCIELab) == 3);


}  // namespace imaging
