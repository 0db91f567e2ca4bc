// Neural-net colour quantizer: a one-dimensional self-organising network of
// n neurons learns the colours of a px24RGB image from a sample of its
// pixels; the neurons become the palette, and a green-sorted index finds the
// nearest neuron (city-block distance) of any colour.
//
// All learning arithmetic is in 32-bit signed integers with divisions
// truncating toward zero, so a palette is the same on every run and machine.
// Neuron components are kept in 1/16 units (0..4095) while learning and as
// bytes afterwards.
//
// Ownership: the state borrows the image only during PxNeuQuantCreate.
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

struct TPxNeuQuant {
    // Network size n (the colour count) and n - 1.
    int32_t netSize = 0;
    int32_t maxNetPos = 0;
    // Initial radius n div 8 and that times 64.
    int32_t initRad = 0;
    int32_t initRadius = 0;
    int32_t alphaDec = 0;
    // Pixel bytes (width * height * 3) and the sampling factor.
    int64_t pixelBytes = 0;
    int32_t sampleFac = 1;
    // n neurons of blue, green, red and, after learning, the neuron's number.
    std::vector<std::array<int32_t, 4>> network;
    std::array<int32_t, 256> netIndex{};
    std::vector<int32_t> bias;
    std::vector<int32_t> freq;
    // n div 8 entries.
    std::vector<int32_t> radPower;
    int32_t width = 0;
    int32_t height = 0;
};

// The sampling factor (1..30) for PixelCount pixels and Quality (negative:
// automatic from the pixel count; else 0..100, larger values count as 100).
int32_t PxNeuQuantSampleFactor(int64_t PixelCount, int32_t Quality);

// Sets up the network of NumColors neurons for Bitmap's size.
void PxNeuQuantInit(TPxNeuQuant& State, int32_t NumColors, int32_t Width, int32_t Height, int32_t SampleFac);
// Index of the winning neuron (smallest biased distance) for a colour in
// 1/16 units; updates frequencies and biases.
int32_t PxNeuQuantContest(TPxNeuQuant& State, int32_t b, int32_t g, int32_t r);
void PxNeuQuantAlterNeighbours(TPxNeuQuant& State, int32_t Rad, int32_t Index, int32_t b, int32_t g, int32_t r);
// Learns from Bitmap (px24RGB of State's size).
void PxNeuQuantLearn(TPxNeuQuant& State, TPxBitmap& Bitmap);
// Rounds the network to bytes and numbers the neurons.
void PxNeuQuantUnbias(TPxNeuQuant& State);
// Writes neuron i's colour into Palette[i] (at most Palette.size() entries).
void PxNeuQuantWritePalette(const TPxNeuQuant& State, std::span<TPxRGB> Palette);
// Sorts the neurons by green and builds the green index.
void PxNeuQuantBuildIndex(TPxNeuQuant& State);
// The palette index of the neuron nearest to (b, g, r) (0..255 values);
// -1 only for an empty network.
int32_t PxNeuQuantSearch(const TPxNeuQuant& State, int32_t b, int32_t g, int32_t r);

// Learns a palette of NumColors (at least 1) entries for a px24RGB image and
// writes it into Palette (entries beyond Palette.size() are not written).
std::unique_ptr<TPxNeuQuant> PxNeuQuantCreate(TPxBitmap& Bitmap, std::span<TPxRGB> Palette, int32_t NumColors,
                                              int32_t Quality);
// The palette index of Color (0..n-1).
int32_t PxNeuQuantColorIndex(const TPxNeuQuant& State, const TPxRGB& Color);

}  // namespace imaging
