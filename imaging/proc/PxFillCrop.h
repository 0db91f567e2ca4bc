// Fill and crop routines of the processing unit, and the unit's start-up.
//
// Storage: the routines work row by row through GetScanline, so images held
// in a temporary file are processed holding one row at a time.
//
// Threads: PxFillRectColor and PxAlphaBoundingBox keep no state; the start-up
// and shut-down run inside the toolkit's guarded start-up (PxStartup.h).
#pragma once

#include <windows.h>

#include <cstdint>

#include "classlib/Persistent.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxTypes.h"

namespace imaging {

class TPxBitmap;

// Fills the rectangle X1 <= x < X2, Y1 <= y < Y2 (clipped to the image) with
// Color: px24RGB every pixel (progress after each row, at most 100); px1g
// every bit set when Color's red byte is not 0, cleared otherwise (green and
// blue do not count; no progress). Other formats: nothing.
void PxFillRectColor(TPxBitmap* Bitmap, int X1, int Y1, int X2, int Y2, TPxRGB Color,
                     const TPxProgressEvent& OnProgress, classlib::TObject* Sender);

// The smallest rectangle (edges inclusive) holding every pixel whose alpha
// is not 0; the whole image without an alpha channel. An alpha channel that
// is 0 everywhere gives (width, height, -1, -1): left beyond right.
void PxAlphaBoundingBox(TPxBitmap* Bitmap, RECT& Rect);

// Clipboard format number registered for "PXIMAGE RAW FORMAT" (0 before the
// start-up).
extern UINT PxRawClipboardFormat;

// The processing unit's start-up: builds the 1-bit expansion table, creates
// the 3 x 3 filter list, registers the raw clipboard format. The shut-down
// frees the filter list. Run once each by the toolkit's start-up.
void PxProcUnitStartup();
void PxProcUnitShutdown();

}  // namespace imaging
