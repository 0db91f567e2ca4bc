// Page and frame counters of image files.
//
// The counters open the file themselves (read, deny write) and pass any
// exception of the stream or the format to the caller. Formats whose units
// are not part of the program register their counter here when they land;
// asking for the count of a format without one raises
// classlib::EInvalidOperation naming the format.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/io/core/FileFormats.h"

namespace imaging {

// Installs the counter of a file type (ffGIF, ffICO, ffDCX, ffDICOM, ffHDP)
// or, for ffUnknown, the video path that counts the frames of files no row
// reads (AVI and other media files). nullptr removes it.
void PxSetFrameCounter(TPxFileFormatId FileType, TPxFileFrameCounter Counter);
// The counter installed for a file type (nullptr when none).
TPxFileFrameCounter PxGetFrameCounter(TPxFileFormatId FileType);

// The number of pages of a TIFF file.
int32_t PxCountTIFFPagesInFile(const std::wstring& FileName);

// The frames of a file by the description of its extension's registry row
// (TPxFrameEntry): the format's own counter (TIFF pages) or the installed
// one (GIF, ICO, DCX, DICOM and HD Photo), 1 for every other row; a name
// without row (or an AVI) goes to the video path, and is 0 when no video
// path is installed or the file, an AVI by name or content, fails the AVI
// structure check (AviCheck.h).
int32_t PxCountFileFrames(const std::wstring& FileName);

}  // namespace imaging
