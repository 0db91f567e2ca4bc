#include "imaging/model/PxStartup.h"

#include <memory>
#include <string>

#include "classlib/ScopeGuard.h"
#include "classlib/SyncObjs.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/model/PxWords.h"

namespace imaging {

TPxCenterWindowHook PxCenterWindowHook = nullptr;
HMODULE PxColorLibraryHandle = nullptr;

namespace {

struct TSlot {
    TPxStartupProc Startup = nullptr;
    TPxStartupProc Shutdown = nullptr;
};

// Function-local so that registrations from other units' static
// initialisation find it constructed whatever the order.
TSlot* Slots()
{
    static TSlot slots[psSlotCount];
    return slots;
}

const wchar_t* const kMarker = L"STATICINIT";

// The marker is "STATICINIT" while the lock exists.
std::wstring& Marker()
{
    static std::wstring marker;
    return marker;
}

std::unique_ptr<classlib::TCriticalSection>& Lock()
{
    static std::unique_ptr<classlib::TCriticalSection> lock;
    return lock;
}

int32_t startupCount = 0;

void RunStartup(TPxStartupSlot slot)
{
    if (TPxStartupProc proc = Slots()[slot].Startup)
        proc();
}

void RunShutdown(TPxStartupSlot slot)
{
    if (TPxStartupProc proc = Slots()[slot].Shutdown)
        proc();
}

}  // namespace

void PxRegisterStartup(TPxStartupSlot Slot, TPxStartupProc Startup, TPxStartupProc Shutdown)
{
    if (Slot < 0 || Slot >= psSlotCount)
        return;
    Slots()[Slot] = TSlot{Startup, Shutdown};
}

void PxUtilsInit()
{
    PxFillMessages();
    PxCenterWindowHook = nullptr;
    PxMemoryThreshold = -1;
    PxAllowFileFallback = true;
    PxAllowSegments = true;
    PxColorLibraryHandle = nullptr;
    PxInitCosineTable();
    // The buffer's copy service lives in its own unit; the pixel-format
    // conversion belongs to the processing unit, whose start-up installs it.
    PxCopyInstallServices();
}

void PxFreeColorLibrary()
{
    if (PxColorLibraryHandle) {
        FreeLibrary(PxColorLibraryHandle);
        PxColorLibraryHandle = nullptr;
    }
}

void PxInitialize()
{
    // Runs unlocked: the first call comes from the program's start, before
    // any second thread exists.
    if (Marker() != kMarker) {
        Marker() = kMarker;
        startupCount = 0;
        Lock() = std::make_unique<classlib::TCriticalSection>();
    }
    classlib::TCriticalSectionGuard guard(*Lock());
    if (startupCount == 0) {
        RunStartup(psGDIPlus);
        PxDefsInit();
        PxUtilsInit();
        RunStartup(psJ2000);
        RunStartup(psVect);
        RunStartup(psImgIO);
        RunStartup(psProcUnit);
        RunStartup(psImgView);
        RunStartup(psCCITT);
        RunStartup(psTextC);
        RunStartup(psPresetImages);
    }
    ++startupCount;
}

void PxFinalize()
{
    if (Marker() != kMarker)
        return;
    bool last = false;
    {
        classlib::TCriticalSectionGuard guard(*Lock());
        --startupCount;
        if (startupCount <= 0) {
            last = true;
            startupCount = 0;
            // The marker goes even when a shut-down raises, so that the
            // lock below is deleted and a later start-up begins anew.
            classlib::TOnExit clearMarker([] { Marker().clear(); });
            RunShutdown(psPresetImages);
            RunShutdown(psTextC);
            RunShutdown(psCCITT);
            RunShutdown(psImgView);
            RunShutdown(psProcUnit);
            RunShutdown(psImgIO);
            RunShutdown(psVect);
            RunShutdown(psJ2000);
            PxFreeColorLibrary();
            PxDefsShutdown();
            PxFreeMessages();
            RunShutdown(psGDIPlus);
        }
    }
    if (last)
        Lock().reset();
}

bool PxIsInitialized()
{
    return Marker() == kMarker;
}

int32_t PxInitializeCount()
{
    return Marker() == kMarker ? startupCount : 0;
}

}  // namespace imaging
