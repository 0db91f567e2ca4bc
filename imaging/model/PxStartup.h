// The image toolkit's once-only start-up and shut-down.
//
// PxInitialize and PxFinalize pair up under a reference count and a global
// lock: only the first start-up and the last shut-down do the work. The
// program calls PxInitialize once at its start (before any second thread
// exists) and PxFinalize at its end; any other code may pair further calls.
//
// Start-up order: the 2-D graphics library's start-up, PxDefsInit,
// PxUtilsInit, then the registered start-ups of JPEG 2000, vector objects,
// the I/O unit, the processing unit, the image view, the CCITT codec, the
// text editor and the preset images. Shut-down runs the registered
// shut-downs in the reverse order, then PxFreeColorLibrary, the shut-down of
// the shared declarations and the graphics library's shut-down.
//
// The units of the toolkit that need a start-up register it with
// PxRegisterStartup (usually through a static TPxStartupRegistration in their
// own source); an empty slot is skipped. Registration is meant for program
// initialisation, before PxInitialize runs.
#pragma once

#include <windows.h>

#include <cstdint>

namespace imaging {

// The slots of the start-up procedures of other units, in start-up order.
enum TPxStartupSlot : int {
    psGDIPlus = 0,       // 2-D graphics library (started first, shut down last)
    psJ2000 = 1,         // JPEG 2000 colour tables and library
    psVect = 2,          // vector-object view
    psImgIO = 3,         // I/O unit: format registry and codec hooks
    psProcUnit = 4,      // processing unit
    psImgView = 5,       // image view
    psCCITT = 6,         // CCITT fax-code trees
    psTextC = 7,         // text editor
    psPresetImages = 8,  // preset images
    psSlotCount = 9
};

using TPxStartupProc = void (*)();

// Installs (or, with nullptr procedures, clears) the start-up and shut-down
// of one slot, replacing what was there.
void PxRegisterStartup(TPxStartupSlot Slot, TPxStartupProc Startup, TPxStartupProc Shutdown);

// Registers a slot from a unit's static initialisation.
struct TPxStartupRegistration {
    TPxStartupRegistration(TPxStartupSlot Slot, TPxStartupProc Startup, TPxStartupProc Shutdown)
    {
        PxRegisterStartup(Slot, Startup, Shutdown);
    }
};

// Once-only start-up, reference-counted. When a start-up procedure raises,
// the exception passes to the caller, the count is not raised and the lock
// is left.
void PxInitialize();
// The matching shut-down; nothing without a preceding PxInitialize.
void PxFinalize();

// True between the first PxInitialize and the last PxFinalize.
bool PxIsInitialized();
// PxInitialize calls not yet paired with PxFinalize.
int32_t PxInitializeCount();

// Start-up work of the toolkit's core: the message table, the global
// settings of the image buffer (PxMemoryThreshold -1, file fallback and
// segments allowed), no window-centring hook, no colour library, and the
// cosine table.
void PxUtilsInit();

// A routine that replaces the toolkit's window centring when set.
using TPxCenterWindowHook = void (*)(HWND Window);
extern TPxCenterWindowHook PxCenterWindowHook;

// The colour-management library, loaded at first use by the colour-profile
// code; freed by PxFreeColorLibrary at shut-down.
extern HMODULE PxColorLibraryHandle;
void PxFreeColorLibrary();

}  // namespace imaging
