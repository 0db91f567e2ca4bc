// The toolkit's preset images: four small built-in PNG pictures (a white
// rounded panel, a film strip, a notebook page and a metallic frame), each
// with the rectangle inside it that a caller's image is meant to fill.
//
// The list is built by the toolkit's start-up (slot psPresetImages) and freed
// by its shut-down; between the two it is only read, from any thread.
// Ownership: the list owns its entries; the PNG data are constant data of
// the toolkit, never freed.
#pragma once

#include <cstdint>

#include "classlib/Lists.h"
#include "imaging/io/core/FileFormats.h"

namespace imaging {

// A rectangle inside a picture: left, top, right, bottom in pixels.
struct TPxPresetRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;
};

class TPxPresetImage {
public:
    uint32_t Size = 0;              // bytes of the PNG data
    const uint8_t* Data = nullptr;  // the PNG data (not owned)
    TPxFileFormatId FileType = ffPNG;
    TPxPresetRect Rect;             // the part a caller's image fills
};

// The four entries (TPxPresetImage*) in their fixed order, or nullptr
// outside start-up and shut-down.
extern classlib::TList* PxPresetImageList;

// Creates the list with its four entries (a list that exists is freed
// first).
void PxCreatePresetImages();
// Frees every entry and the list; the list becomes nullptr.
void PxFreePresetImages();
// The start-up and shut-down of the slot psPresetImages.
void PxInitializePresetImages();
void PxFinalizePresetImages();
// Registers the start-up slot. Done by this unit's static initialisation;
// calling it again is harmless, and a program calls it to make sure the
// unit is linked.
void PxInstallPresetImages();

}  // namespace imaging
