// The frame comparison of the AVI tests: a decoded 6 x 4 true-colour frame
// against the pixels the fixture script (tests/fixtures/io/avi) wrote.
#pragma once

#include <gtest/gtest.h>

#include "imaging/model/PxBitmap.h"

namespace avitest {

// Colour of entry i of the 8-bit files' palette: (i, 255 - i, 3i mod 256).
inline imaging::TPxRGB PaletteColour(int i)
{
    imaging::TPxRGB c;
    c.r = static_cast<uint8_t>(i);
    c.g = static_cast<uint8_t>(255 - i);
    c.b = static_cast<uint8_t>(3 * i % 256);
    return c;
}

// Expected(x, y, frame) gives the pixel at column x, row y (top row 0).
inline void ExpectFrame24(imaging::TPxBitmap& b, int frame, imaging::TPxRGB (*expected)(int, int, int))
{
    using imaging::TPxRGB;
    ASSERT_EQ(b.GetPixelFormat(), imaging::px24RGB);
    ASSERT_EQ(b.GetWidth(), 6);
    ASSERT_EQ(b.GetHeight(), 4);
    for (int y = 0; y < 4; ++y) {
        const TPxRGB* row = reinterpret_cast<const TPxRGB*>(b.GetScanline(y));
        for (int x = 0; x < 6; ++x) {
            TPxRGB e = expected(x, y, frame);
            ASSERT_TRUE(row[x].r == e.r && row[x].g == e.g && row[x].b == e.b)
                << "pixel " << x << "," << y << " is " << int(row[x].r) << "," << int(row[x].g) << ","
                << int(row[x].b) << " expected " << int(e.r) << "," << int(e.g) << "," << int(e.b);
        }
    }
}

}  // namespace avitest
