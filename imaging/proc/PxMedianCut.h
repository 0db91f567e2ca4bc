// Median-cut colour quantizer: colours are counted in 32 x 32 x 32 cells (the
// top five bits of red, green and blue); boxes of cells are split, the box of
// largest error first, until the requested number of boxes exists or no box
// can be split; each box's mean colour becomes a palette entry and every cell
// of a box maps to that entry through a lookup table.
//
// Ownership: the state borrows the image only during PxMedianCutCreate.
// Threads: one state per thread; no shared state.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "imaging/model/PxTypes.h"

namespace imaging {

class TPxBitmap;

// Most boxes a median cut makes.
constexpr int PxMedianCutMaxBoxes = 256;

// A box of cells: per channel (0 red, 1 green, 2 blue) the lower bound
// (inclusive, 0..31) and upper bound (exclusive, 1..32).
struct TPxMedianCutBox {
    double error = 0;
    // Means in 5-bit units, red, green, blue.
    double mean[3] = {0, 0, 0};
    uint32_t count = 0;
    uint32_t hist[3][32] = {};
    int32_t lower[3] = {0, 0, 0};
    int32_t upper[3] = {32, 32, 32};
};

struct TPxMedianCut {
    // Pixels per cell, indexed by (r5 shl 10) or (g5 shl 5) or b5.
    std::vector<uint32_t> histogram;
    std::vector<TPxMedianCutBox> boxes;
    // Box number per cell.
    std::vector<uint8_t> table;
    int64_t pixelCount = 0;
    int32_t colorsAsked = 0;
    int32_t boxesMade = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// Zeroes histogram, boxes and table; box 0 spans every cell with the image's
// pixel count.
void PxMedianCutAllocate(TPxMedianCut& State, int32_t Width, int32_t Height, int32_t NumColors);
// Counts the pixels of Bitmap (px24RGB of State's size).
void PxMedianCutHistogram(TPxMedianCut& State, TPxBitmap& Bitmap);
void PxMedianCutBoxStats(const TPxMedianCut& State, TPxMedianCutBox& Box);
// Splits Box along Channel into Lower and Upper; false when it cannot.
bool PxMedianCutSplitChannel(const TPxMedianCut& State, const TPxMedianCutBox& Box, int Channel,
                             TPxMedianCutBox& Lower, TPxMedianCutBox& Upper);
// Splits box Index into itself and box NewIndex; false (its error set to 0)
// when it cannot.
bool PxMedianCutSplitBox(TPxMedianCut& State, int Index, int NewIndex);
void PxMedianCutSplitAll(TPxMedianCut& State);
void PxMedianCutFillTable(TPxMedianCut& State);

// Builds a palette of at most NumColors (1..256; larger counts are limited to
// 256) entries for a px24RGB image and writes one entry per box made into
// Palette (entries beyond Palette.size() are not written).
std::unique_ptr<TPxMedianCut> PxMedianCutCreate(TPxBitmap& Bitmap, std::span<TPxRGB> Palette, int32_t NumColors);
// The box number of Color's cell (0..boxes made - 1).
int32_t PxMedianCutColorIndex(const TPxMedianCut& State, const TPxRGB& Color);

}  // namespace imaging
