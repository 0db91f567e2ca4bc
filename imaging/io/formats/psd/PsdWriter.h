// PSD writer of the toolkit (file type 24).
//
// PxWritePSD writes a layered document: header, palette (px8p), image
// resources (resolution 1005, transparent index 1047 = 255 for px8p, IPTC
// 1028, ICC profile 1039, JPEG thumbnail 1036 from Params.EXIFBitmap, XMP
// 1060), the layer records with their channels, and the merged image, every
// channel PackBits coded.
//
// Colour mode by the merged bitmap's pixel format: px1g Bitmap; px8p
// Indexed; px8g and px16g Grayscale; px24RGB, pxRGB48 and px32RGB RGB (the
// fourth byte of px32RGB is a fourth channel); pxCMYK CMYK; pxCIELab Lab.
// Depth = bits per pixel / channels. Layer bitmaps are written in the
// document's format and at their displayed size (resampled with their own
// filter when they use one); in an Indexed document every layer is written
// as indices into the merged image's palette (nearest colour). The caller's
// layers and bitmaps are never changed: the writer converts and resamples
// copies. Masks and alpha are written as 8-bit samples, as 16-bit ones
// (b x 257) in 16-bit documents; alpha is left out (empty rows) at 1 bit.
// A mask layer (IsMask) belongs to the layer before it and is written as
// that layer's user mask. Without layers the merged bitmap is written as
// the one layer too; the merged image itself carries no alpha channel.
//
// Failure: a missing or empty merged bitmap, one without a PSD mode
// (px32f), or a bitmap whose PackBits rows could exceed the format's 16-bit
// row counts sets the aborting flag before anything is written. Stream
// exceptions pass to the caller.
//
// Threads: one call uses only its arguments; it may run on an I/O worker.
#pragma once

#include <cstdint>
#include <vector>

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/formats/psd/PsdReader.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

// Layers: bottom first, may be empty. Merged: the flattened image, which
// sets the document's size and mode (nullptr or an empty image fails).
// Progress: per layer, then per merged channel when there are layers.
void PxWritePSD(classlib::TStream* Stream, TIOParamsVals& Params, TPxIOProgressInfo& Progress,
                const TPxPSDLayerList& Layers, TPxBitmap* Merged);

// PackBits coding of one row: Out receives the coded bytes (replacing its
// content). Runs of 4 to 128 equal bytes become runs, everything else
// literals of at most 128 bytes.
void PSDPackBitsRow(const uint8_t* Row, int Length, std::vector<uint8_t>& Out);

}  // namespace imaging
