#include "imaging/model/PxDefs.h"

#include "classlib/SysUtils.h"

namespace imaging {

int32_t PxGrayWeightR = 0;
int32_t PxGrayWeightG = 0;
int32_t PxGrayWeightB = 0;

namespace {

int gWinVersion = -1;  // -1: not taken yet

}  // namespace

uint8_t PxWinVersionCode(int Platform, int Major, int Minor)
{
    if (Platform == 1 && Major == 4) {
        if (Minor == 0) return 1;
        if (Minor == 10) return 2;
        if (Minor == 90) return 3;
        return 0;
    }
    if (Platform != 2) return 0;
    if (Major == 4) return 4;
    if (Major == 5) return Minor == 0 ? 5 : Minor == 1 ? 6 : Minor == 2 ? 7 : 0;
    if (Major == 6) return Minor == 0 ? 8 : Minor == 1 ? 9 : 0;
    return 0;
}

uint8_t PxGetWinVersion()
{
    if (gWinVersion < 0)
        gWinVersion = PxWinVersionCode(classlib::Win32Platform(), classlib::Win32MajorVersion(),
                                       classlib::Win32MinorVersion());
    return static_cast<uint8_t>(gWinVersion);
}

void PxDefsInit()
{
    PxGrayWeightR = 21;
    PxGrayWeightG = 71;
    PxGrayWeightB = 8;
    PxGetWinVersion();
}

void PxDefsShutdown() {}

}  // namespace imaging
