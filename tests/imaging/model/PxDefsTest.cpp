#include <gtest/gtest.h>

#include <cstdint>

#include "classlib/SysUtils.h"
#include "imaging/model/PxDefs.h"

// Platform id, major and minor version to the toolkit's version code.
TEST(PxDefs, WinVersionCodes)
{
    struct Case {
        int platform, major, minor;
        uint8_t code;
    };
    const Case cases[] = {
        {1, 4, 0, 1},  {1, 4, 10, 2}, {1, 4, 90, 3}, {2, 4, 0, 4}, {2, 5, 0, 5},  {2, 5, 1, 6},
        {2, 5, 2, 7},  {2, 6, 0, 8},  {2, 6, 1, 9},  {2, 6, 2, 0}, {2, 10, 0, 0}, {1, 5, 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(imaging::PxWinVersionCode(c.platform, c.major, c.minor), c.code)
            << c.platform << " " << c.major << "." << c.minor;
    EXPECT_EQ(imaging::PxGetWinVersion(), imaging::PxWinVersionCode(classlib::Win32Platform(),
                                                                     classlib::Win32MajorVersion(),
                                                                     classlib::Win32MinorVersion()));
}
