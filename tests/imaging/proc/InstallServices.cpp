// The processing tests run without the toolkit's start-up; the services of
// the image buffer it would install (Assign, the pixel-format conversion)
// are installed here once, before any test, as a program's start-up does.
#include "imaging/model/PxCopy.h"
#include "imaging/proc/PxConvert.h"

namespace {

struct TInstallServices {
    TInstallServices()
    {
        imaging::PxCopyInstallServices();
        imaging::PxInstallPixelFormatConversion();
    }
} installServices;

}  // namespace
