#include "imaging/io/core/IOStartup.h"


#include "classlib/SyncObjs.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxFileText.h"
#include "imaging/model/PxStartup.h"
#include "imaging/proc/PxQuantizer.h"

namespace imaging {

TPxGIFLZWDecompressProc PxGlobalGIFLZWDecompress = nullptr;
TPxGIFLZWCompressProc PxGlobalGIFLZWCompress = nullptr;
TPxTIFFLZWDecompressProc PxGlobalTIFFLZWDecompress = nullptr;
TPxTIFFLZWCompressProc PxGlobalTIFFLZWCompress = nullptr;
TPxConvertColorRowProc PxConvertColorRowHook = nullptr;
bool PxColorManagementEnabled = false;
bool PxAVILibraryInitialized = false;
bool PxBufferedReadFromPosition = false;
bool PxUseCMYKProfile = true;
classlib::TObject* PxCMYKProfile = nullptr;
classlib::TObject* PxSRGBProfile = nullptr;
int32_t PxMetafileMaxSize = 8000;
std::vector<TPxIOPlugin*>* PxIOPlugins = nullptr;

namespace {

// The unit runs in the toolkit's I/O start-up slot.
const TPxStartupRegistration kRegistration(psImgIO, PxInitializeImgIO, PxFinalizeImgIO);

// AVIFileExit of the AVI file library, which the AVI reader has loaded when
// it set PxAVILibraryInitialized; looked up rather than linked so that the
// unit does not pull the library in itself.
void AVIFileExitIfLoaded()
{
    HMODULE avi = GetModuleHandleW(L"avifil32.dll");
    if (!avi)
        return;
    using TAVIFileExit = void(WINAPI*)();
    if (auto exitProc = reinterpret_cast<TAVIFileExit>(reinterpret_cast<void*>(GetProcAddress(avi, "AVIFileExit"))))
        exitProc();
}

}  // namespace

TPxIODefaultRoutines& PxIODefaults()
{
    static TPxIODefaultRoutines defaults;
    return defaults;
}

void PxFreeIOPlugins()
{
    if (!PxIOPlugins)
        return;
    for (TPxIOPlugin* plugin : *PxIOPlugins) {
        if (!plugin)
            continue;
        PxUnregisterFileFormat(plugin->FileType);
        if (!(plugin->Flags & pxPluginNoLock))
            delete plugin->Lock;
        if (plugin->Library)
            FreeLibrary(plugin->Library);
        delete plugin;
    }
    PxIOPlugins->clear();
}

void PxInitializeImgIO()
{
    const TPxIODefaultRoutines& defaults = PxIODefaults();
    PxUseRuntimeFileExists = false;
    PxGlobalGIFLZWDecompress = defaults.GIFLZWDecompress;
    PxGlobalGIFLZWCompress = defaults.GIFLZWCompress;
    PxGlobalTIFFLZWDecompress = defaults.TIFFLZWDecompress;
    PxGlobalTIFFLZWCompress = defaults.TIFFLZWCompress;
    PxTempFolder.clear();
    PxBuildFormatRegistry();
    PxAVILibraryInitialized = false;
    if (defaults.LoadWinInet)
        defaults.LoadWinInet();
    PxConvertColorRowHook = defaults.ConvertColorRow;
    PxColorManagementEnabled = false;
    delete PxIOPlugins;
    PxIOPlugins = new std::vector<TPxIOPlugin*>();
    PxQuantizerMethod = -1;
    PxQuantizerQuality = -1;
    PxBufferedReadFromPosition = false;
    PxUseCMYKProfile = true;
    PxCMYKProfile = nullptr;
    PxMetafileMaxSize = 8000;
}

void PxFinalizeImgIO()
{
    if (PxIODefaults().FreeColorProfiles)
        PxIODefaults().FreeColorProfiles();
    PxFreeIOPlugins();
    PxFreeFormatRegistry();
    if (PxAVILibraryInitialized) {
        AVIFileExitIfLoaded();
        PxAVILibraryInitialized = false;
    }
    if (PxIODefaults().UnloadWinInet)
        PxIODefaults().UnloadWinInet();
    delete PxIOPlugins;
    PxIOPlugins = nullptr;
}

}  // namespace imaging
