// Layer blend operations: one source pixel combined with one destination
// pixel by one of 38 operations (0 plain copy .. 37 luminosity-like HSL
// mixes). The renderer calls them for every pixel of 24-bit, 32-bit and
// 48-bit sources drawn with a blend operation or display adjustments; views
// pass the blend mode of their layers.
//
// Arithmetic is integer per channel (s the source channel, d the destination
// channel, results stored as bytes), except operation 16 (real arithmetic,
// truncated) and 34..37 (through hue, saturation and lightness, see
// imaging/model/PxIntColor.h). Operation 29 reads PxCosineTable
// (imaging/model/PxStreamUtils.h), which the toolkit's start-up fills.
//
// Threads: stateless apart from reading the cosine table and the grey
// weights; may run on any thread.
#pragma once

#include <cstdint>

#include "imaging/model/PxTypes.h"

namespace imaging {

// Number of blend operations (0 .. PxBlendOperationCount - 1).
constexpr int PxBlendOperationCount = 38;

// Combines Source with Dest by Operation and writes the result into Dest.
// Any operation number outside 0..37 leaves Dest unchanged.
void PxBlendPixel(const TPxRGB& Source, TPxRGB& Dest, int Operation);

}  // namespace imaging
