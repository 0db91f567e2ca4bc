// Declarations shared by every unit of the image toolkit: the progress
// handler type, the resampling filters, the message languages, the grey
// weights and the toolkit's version text.
#pragma once

#include <cstdint>

#include "classlib/Events.h"
#include "classlib/Persistent.h"

namespace imaging {

// Progress handler: Sender and the percentage done (0 to 100). Callers test
// the event before calling it; an empty handler is never called.
using TPxProgressEvent = classlib::TEvent<void(classlib::TObject* Sender, int per)>;

// Resampling filters, in this fixed order (0 to 13).
enum TResampleFilter : uint8_t {
    rfNone = 0,
    rfTriangle,
    rfHermite,
    rfBell,
    rfBSpline,
    rfLanczos3,
    rfMitchell,
    rfNearest,
    rfLinear,
    rfFastLinear,
    rfBilinear,
    rfBicubic,
    rfProjectBW,
    rfProjectWB
};

// Languages of the message table. msSystem follows the system (which, with
// only the English row filled, always yields English).
enum TMsgLanguage : uint8_t { msSystem = 0, msEnglish = 1 };

constexpr int PxMsgLanguageCount = 2;

// Grey weights in per cent of red, green and blue. Every RGB-to-grey
// conversion computes (R*wr + G*wg + B*wb) div 100 through these globals, so
// changing them at run time changes every conversion alike. Zero until
// PxDefsInit runs.
extern int32_t PxGrayWeightR;
extern int32_t PxGrayWeightG;
extern int32_t PxGrayWeightB;

// The toolkit's version text.
inline constexpr const wchar_t PxVersionText[] = L"1.0.0";

// Start-up of the shared declarations: sets the grey weights to 21, 71, 8.
// Called by the toolkit's start-up before anything converts colours.
void PxDefsInit();
// Shut-down counterpart; nothing to release.
void PxDefsShutdown();

// The platform version code of a platform id (1 the Windows 9x family, 2 the
// NT family) and version: 1 Windows 95, 2 Windows 98, 3 Windows Me, 4 NT 4,
// 5 2000, 6 XP, 7 Server 2003, 8 Vista, 9 Windows 7, 0 anything else (later
// versions included).
uint8_t PxWinVersionCode(int Platform, int Major, int Minor);
// The code of the running platform, taken once by PxDefsInit (or at the
// first call before it).
uint8_t PxGetWinVersion();

}  // namespace imaging
