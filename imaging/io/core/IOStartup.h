// Start-up and shut-down of the I/O unit, and the process-wide settings and
// hooks that I/O objects, file parameters and format filters read.
//
// PxInitializeImgIO and PxFinalizeImgIO run in the I/O slot of the toolkit's
// start-up (PxStartup.h), which this unit registers itself; they run on the
// main thread inside that guarded start-up. The globals are valid between
// the two calls; nothing guards them afterwards and nothing in the toolkit
// changes them after the start-up (an application may, before it starts
// threads).
//
// Several of the routines the start-up installs belong to later units (the
// LZW codecs, the colour row conversion, the internet library): those units
// put their routines into PxIODefaults() from their install functions
// (PxInstallBuiltInFormats), and the start-up copies what is there. A routine no unit provided stays
// empty; its users then refuse the work (e.g. no LZW decoder: the reader
// sets the aborting flag).
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "classlib/Persistent.h"
#include "classlib/Stream.h"
#include "imaging/io/core/FileFormats.h"

namespace classlib {
class TCriticalSection;
}

namespace imaging {

class TIOParamsVals;

// ---- hook types

// GIF LZW decoder: decodes the code-size byte and data sub-blocks of one
// frame at Stream's position into Width x Height palette indexes in Buffer
// (rows in display order, de-interlaced when Interlaced). Leaves the stream
// after the data; a decoder that could not read anything leaves it where it
// was.
using TPxGIFLZWDecompressProc = void (*)(classlib::TStream* Stream, int32_t Height, int32_t Width, bool Interlaced,
                                         uint8_t* Buffer);
// GIF LZW encoder: writes the code-size byte and the data sub-blocks of
// Width x Height indexes of BitsPerPixel bits.
using TPxGIFLZWCompressProc = void (*)(classlib::TStream* Stream, int32_t Height, int32_t Width, bool Interlaced,
                                       const uint8_t* Buffer, int32_t BitsPerPixel);
// TIFF LZW decoder, called once per row of a strip. State is the caller's
// handle, nullptr at the start of a strip: the first call creates the
// decoder over Data (DataSize bytes, the strip) and returns the first row of
// RowLength bytes; later calls return the next row; a call with Data nullptr
// frees the state and returns nullptr. nullptr also when no row can be
// decoded. The returned row stays valid until the next call.
using TPxTIFFLZWDecompressProc = uint8_t* (*)(const uint8_t* Data, int64_t DataSize, int32_t RowLength, void*& State,
                                              int32_t FillOrder);
// TIFF LZW encoder, called once per row: the first call (State nullptr)
// starts the strip on Stream; a call with Row nullptr ends the strip and
// frees the state.
using TPxTIFFLZWCompressProc = void (*)(const uint8_t* Row, int32_t Length, classlib::TStream* Stream, void*& State);
// Colour row conversion: Count pixels from Source in SourceFormat to Target
// in TargetFormat (row format numbers of the colour conversion unit: 0 RGB,
// 1 the bitmap's blue-green-red order, 2 CMYK, 3 inverted CMYK in 6-byte
// pixels, 4 CIELab, 5 grey, 6 and 7 16-bit RGB little/big-endian, 8 YCbCr);
// Params may be nullptr.
using TPxConvertColorRowProc = void (*)(const void* Source, int32_t SourceFormat, void* Target,
                                        TIOParamsVals* Params, int32_t Count, int32_t TargetFormat);
using TPxIOProc = void (*)();

// ---- the toolkit's own routines, provided by later units

struct TPxIODefaultRoutines {
    TPxGIFLZWDecompressProc GIFLZWDecompress = nullptr;
    TPxGIFLZWCompressProc GIFLZWCompress = nullptr;
    TPxTIFFLZWDecompressProc TIFFLZWDecompress = nullptr;
    TPxTIFFLZWCompressProc TIFFLZWCompress = nullptr;
    TPxConvertColorRowProc ConvertColorRow = nullptr;
    // Loads the internet library (a second call while loaded does nothing),
    // and frees it.
    TPxIOProc LoadWinInet = nullptr;
    TPxIOProc UnloadWinInet = nullptr;
    // Frees PxCMYKProfile and PxSRGBProfile (and empties them); the colour
    // conversion unit that creates them provides it.
    TPxIOProc FreeColorProfiles = nullptr;
};
// The process-wide table; safe to use from static initialisation.
TPxIODefaultRoutines& PxIODefaults();

// ---- globals of the unit (start-up values in brackets)

// Codec hooks [the routines of PxIODefaults()]; copied into every new or
// reset TIOParamsVals.
extern TPxGIFLZWDecompressProc PxGlobalGIFLZWDecompress;
extern TPxGIFLZWCompressProc PxGlobalGIFLZWCompress;
extern TPxTIFFLZWDecompressProc PxGlobalTIFFLZWDecompress;
extern TPxTIFFLZWCompressProc PxGlobalTIFFLZWCompress;
// Row conversion used by the TIFF row writers and the JPEG reader and
// writer [PxIODefaults().ConvertColorRow].
extern TPxConvertColorRowProc PxConvertColorRowHook;
// [false] The row hook tries the image's own colour profile first.
extern bool PxColorManagementEnabled;
// [false] Set by the AVI reader and the multi-image I/O object when they
// initialise the AVI file library; the shut-down then calls AVIFileExit.
extern bool PxAVILibraryInitialized;
// [false] Buffered read streams of the TIFF loads, the header tests and the
// DICOM and camera-raw readers start at the current position.
extern bool PxBufferedReadFromPosition;
// [true] CMYK and RGB pixel conversions go through the built-in profile.
extern bool PxUseCMYKProfile;
// [nullptr] The built-in CMYK and the system sRGB colour profiles (TPxICC
// objects), created on first use by the CMYK conversions and freed by the
// shut-down through PxIODefaults().FreeColorProfiles.
extern classlib::TObject* PxCMYKProfile;
extern classlib::TObject* PxSRGBProfile;
// [8000] Cap of the rendered width and height of imported metafiles.
extern int32_t PxMetafileMaxSize;

// An external format plug-in: its library, the file type it registered, its
// lock and flags. Nothing in the toolkit adds plug-ins; an application that
// does owns nothing afterwards: PxFreeIOPlugins frees all of it.
constexpr uint32_t pxPluginNoLock = 1;  // flag: the plug-in has no lock

struct TPxIOPlugin {
    HMODULE Library = nullptr;
    TPxFileFormatId FileType = 0;
    classlib::TCriticalSection* Lock = nullptr;  // owned unless pxPluginNoLock
    uint32_t Flags = 0;
};

// [an empty list] Records are owned by the list (allocated with new).
extern std::vector<TPxIOPlugin*>* PxIOPlugins;

// For each plug-in: unregisters its file type, deletes its lock unless it
// has none, frees its library and the record; then empties the list.
void PxFreeIOPlugins();

// The unit's start-up: sets PxUseRuntimeFileExists false, the four LZW
// hooks, PxTempFolder empty, builds the format registry, clears the
// AVI-initialised flag, loads the internet library, sets the colour row
// hook and PxColorManagementEnabled, creates PxIOPlugins, sets both
// quantizer selectors to -1, PxBufferedReadFromPosition false,
// PxUseCMYKProfile true, PxCMYKProfile nullptr and PxMetafileMaxSize 8000.
void PxInitializeImgIO();
// The unit's shut-down: frees the colour profiles, the plug-ins, the
// registry; AVIFileExit when the AVI library was initialised; unloads the
// internet library; frees PxIOPlugins.
void PxFinalizeImgIO();

}  // namespace imaging
