#include "imaging/proc/PxNeuralQuant.h"

#include <algorithm>
#include <climits>

#include "classlib/SysUtils.h"
#include "imaging/model/PxBitmap.h"

namespace imaging {

namespace {

// Learning constants: learning rate 1.0 as 1024, bias and frequency in 1/65536
// units, 100 learning cycles, radius in 1/64 units decreasing by 1/30 a cycle.
constexpr int32_t InitAlpha = 1024;
constexpr int32_t IntBias = 65536;
constexpr int32_t BiasShift = 12;     // bias (1/65536) to distance (1/16) units
constexpr int32_t BetaShift = 10;     // frequency decay 1/1024
constexpr int32_t GammaShift = 10;
constexpr int32_t Beta = 64;          // the winner's frequency gain, IntBias >> BetaShift
constexpr int32_t BetaGamma = 65536;  // the winner's bias loss
constexpr int32_t Cycles = 100;
constexpr int32_t RadiusBiasShift = 6;
constexpr int32_t RadiusDec = 30;
constexpr int32_t RadBias = 256;
constexpr int32_t AlphaRadBias = 262144;
// Sampling steps (in pixels): primes, so that a step never revisits a
// pixel before every pixel was visited unless the image size is a multiple.
constexpr int32_t Prime1 = 499;
constexpr int32_t Prime2 = 491;
constexpr int32_t Prime3 = 487;
constexpr int32_t Prime4 = 503;

int32_t RadiusOf(int32_t radius)
{
    return radius < 128 ? 0 : (radius >> RadiusBiasShift);
}

void ComputeRadPower(TPxNeuQuant& s, int32_t rad, int32_t alpha)
{
    const int32_t rad2 = rad * rad;
    const int32_t limit = std::min<int32_t>(rad, static_cast<int32_t>(s.radPower.size()));
    for (int32_t i = 0; i < limit; ++i)
        s.radPower[static_cast<size_t>(i)] = alpha * (((rad2 - i * i) * RadBias) / rad2);
}

int32_t Abs32(int32_t v) { return v < 0 ? -v : v; }

}  // namespace

int32_t PxNeuQuantSampleFactor(int64_t PixelCount, int32_t Quality)
{
    if (Quality < 0) {
        if (PixelCount < 2000)
            return 1;
        const double f = static_cast<double>(PixelCount - 2000) * 13 / 148000 + 2;
        return static_cast<int32_t>(std::clamp<int64_t>(classlib::Round(f), 1, 30));
    }
    const int32_t q = std::min<int32_t>(Quality, 100);
    return static_cast<int32_t>(classlib::Trunc((100 - q) / 100.0 * 29)) + 1;
}

void PxNeuQuantInit(TPxNeuQuant& State, int32_t NumColors, int32_t Width, int32_t Height, int32_t SampleFac)
{
    const int32_t n = std::max<int32_t>(NumColors, 0);
    State.netSize = n;
    State.maxNetPos = n - 1;
    State.initRad = n / 8;
    State.initRadius = State.initRad * 64;
    State.width = std::max<int32_t>(Width, 0);
    State.height = std::max<int32_t>(Height, 0);
    State.pixelBytes = static_cast<int64_t>(State.width) * State.height * 3;
    State.sampleFac = std::max<int32_t>(SampleFac, 1);
    State.alphaDec = 30 + (State.sampleFac - 1) / 3;
    State.network.assign(static_cast<size_t>(n), {0, 0, 0, 0});
    State.bias.assign(static_cast<size_t>(n), 0);
    State.freq.assign(static_cast<size_t>(n), n > 0 ? IntBias / n : 0);
    State.radPower.assign(static_cast<size_t>(State.initRad), 0);
    State.netIndex.fill(0);
    for (int32_t i = 0; i < n; ++i) {
        const int32_t v = static_cast<int32_t>(static_cast<int64_t>(i) * 4096 / n);
        State.network[static_cast<size_t>(i)] = {v, v, v, 0};
    }
}

int32_t PxNeuQuantContest(TPxNeuQuant& State, int32_t b, int32_t g, int32_t r)
{
    int32_t bestD = INT32_MAX;
    int32_t bestBiasD = INT32_MAX;
    int32_t bestPos = -1;
    int32_t bestBiasPos = -1;
    for (int32_t i = 0; i < State.netSize; ++i) {
        const auto& nrn = State.network[static_cast<size_t>(i)];
        const int32_t dist = Abs32(nrn[0] - b) + Abs32(nrn[1] - g) + Abs32(nrn[2] - r);
        if (dist < bestD) {
            bestD = dist;
            bestPos = i;
        }
        int32_t& bias = State.bias[static_cast<size_t>(i)];
        int32_t& freq = State.freq[static_cast<size_t>(i)];
        // Arithmetic shift: floor division of a possibly negative bias.
        const int32_t biasDist = dist - (bias >> BiasShift);
        if (biasDist < bestBiasD) {
            bestBiasD = biasDist;
            bestBiasPos = i;
        }
        const int32_t betaFreq = freq >> BetaShift;
        freq -= betaFreq;
        bias += betaFreq << GammaShift;
    }
    if (bestPos >= 0) {
        State.freq[static_cast<size_t>(bestPos)] += Beta;
        State.bias[static_cast<size_t>(bestPos)] -= BetaGamma;
    }
    return bestBiasPos;
}

void PxNeuQuantAlterNeighbours(TPxNeuQuant& State, int32_t Rad, int32_t Index, int32_t b, int32_t g, int32_t r)
{
    const int32_t lo = std::max(Index - Rad, -1);
    const int32_t hi = std::min(State.netSize, Index + Rad);
    int32_t j = Index + 1;
    int32_t k = Index - 1;
    size_t m = 0;
    auto move = [&](int32_t pos, int32_t a) {
        auto& nrn = State.network[static_cast<size_t>(pos)];
        nrn[0] -= (a * (nrn[0] - b)) / AlphaRadBias;
        nrn[1] -= (a * (nrn[1] - g)) / AlphaRadBias;
        nrn[2] -= (a * (nrn[2] - r)) / AlphaRadBias;
    };
    while (j < hi || k > lo) {
        ++m;
        // m < Rad <= n div 8 = radPower.size(); checked all the same.
        if (m >= State.radPower.size())
            break;
        const int32_t a = State.radPower[m];
        if (j < hi)
            move(j++, a);
        if (k > lo)
            move(k--, a);
    }
}

void PxNeuQuantLearn(TPxNeuQuant& State, TPxBitmap& Bitmap)
{
    const int64_t pixels = static_cast<int64_t>(State.width) * State.height;
    if (pixels <= 0 || State.netSize <= 0 || Bitmap.GetPixelFormat() != px24RGB || Bitmap.GetWidth() != State.width ||
        Bitmap.GetHeight() != State.height)
        return;
    const int64_t samples = State.pixelBytes / (3 * static_cast<int64_t>(State.sampleFac));
    const int64_t delta = std::max<int64_t>(samples / Cycles, 1);
    int32_t alpha = InitAlpha;
    int32_t radius = State.initRadius;
    int32_t rad = RadiusOf(radius);
    ComputeRadPower(State, rad, alpha);

    int64_t step;
    if (State.pixelBytes % Prime1 != 0)
        step = Prime1;
    else if (State.pixelBytes % Prime2 != 0)
        step = Prime2;
    else if (State.pixelBytes % Prime3 != 0)
        step = Prime3;
    else
        step = Prime4;

    TPxAccessScope readOnly(Bitmap, pxAccessRead);
    int32_t cachedRow = -1;
    const uint8_t* row = nullptr;
    int64_t pos = 0;
    for (int64_t i = 0; i < samples;) {
        const int32_t y = static_cast<int32_t>(pos / State.width);
        const int32_t x = static_cast<int32_t>(pos % State.width);
        if (y != cachedRow) {
            row = Bitmap.GetScanline(y);
            cachedRow = y;
        }
        const uint8_t* p = row + 3 * static_cast<int64_t>(x);
        const int32_t b = p[0] << 4;
        const int32_t g = p[1] << 4;
        const int32_t r = p[2] << 4;
        const int32_t j = PxNeuQuantContest(State, b, g, r);
        auto& nrn = State.network[static_cast<size_t>(j)];
        nrn[0] -= (alpha * (nrn[0] - b)) / InitAlpha;
        nrn[1] -= (alpha * (nrn[1] - g)) / InitAlpha;
        nrn[2] -= (alpha * (nrn[2] - r)) / InitAlpha;
        if (rad > 0)
            PxNeuQuantAlterNeighbours(State, rad, j, b, g, r);
        // A modulo rather than one subtraction: images smaller than the step
        // would otherwise leave the image.
        pos = (pos + step) % pixels;
        ++i;
        if (i % delta == 0) {
            alpha -= alpha / State.alphaDec;
            radius -= radius / RadiusDec;
            rad = RadiusOf(radius);
            ComputeRadPower(State, rad, alpha);
        }
    }
}

void PxNeuQuantUnbias(TPxNeuQuant& State)
{
    for (int32_t i = 0; i < State.netSize; ++i) {
        auto& nrn = State.network[static_cast<size_t>(i)];
        for (int c = 0; c < 3; ++c)
            nrn[static_cast<size_t>(c)] = std::clamp((nrn[static_cast<size_t>(c)] + 8) >> 4, 0, 255);
        nrn[3] = i;
    }
}

void PxNeuQuantWritePalette(const TPxNeuQuant& State, std::span<TPxRGB> Palette)
{
    const size_t count = std::min(Palette.size(), State.network.size());
    for (size_t i = 0; i < count; ++i) {
        const auto& nrn = State.network[i];
        Palette[i] = TPxRGB{static_cast<uint8_t>(nrn[0]), static_cast<uint8_t>(nrn[1]), static_cast<uint8_t>(nrn[2])};
    }
}

void PxNeuQuantBuildIndex(TPxNeuQuant& State)
{
    const int32_t n = State.netSize;
    if (n <= 0)
        return;
    int32_t previousCol = 0;
    int32_t startPos = 0;
    for (int32_t i = 0; i < n; ++i) {
        int32_t smallPos = i;
        int32_t smallVal = State.network[static_cast<size_t>(i)][1];
        for (int32_t j = i + 1; j < n; ++j) {
            if (State.network[static_cast<size_t>(j)][1] < smallVal) {
                smallPos = j;
                smallVal = State.network[static_cast<size_t>(j)][1];
            }
        }
        if (smallPos != i)
            std::swap(State.network[static_cast<size_t>(i)], State.network[static_cast<size_t>(smallPos)]);
        if (smallVal != previousCol) {
            State.netIndex[static_cast<size_t>(previousCol)] = (startPos + i) >> 1;
            for (int32_t j = previousCol + 1; j < smallVal; ++j)
                State.netIndex[static_cast<size_t>(j)] = i;
            previousCol = smallVal;
            startPos = i;
        }
    }
    State.netIndex[static_cast<size_t>(previousCol)] = (startPos + State.maxNetPos) >> 1;
    for (int32_t j = previousCol + 1; j < 256; ++j)
        State.netIndex[static_cast<size_t>(j)] = State.maxNetPos;
}

int32_t PxNeuQuantSearch(const TPxNeuQuant& State, int32_t b, int32_t g, int32_t r)
{
    const int32_t n = State.netSize;
    int32_t bestD = 1000;
    int32_t best = -1;
    int32_t i = State.netIndex[static_cast<size_t>(std::clamp(g, 0, 255))];
    int32_t j = i - 1;
    while (i < n || j >= 0) {
        if (i < n) {
            const auto& p = State.network[static_cast<size_t>(i)];
            int32_t dist = p[1] - g;
            if (dist >= bestD) {
                i = n;
            } else {
                ++i;
                dist = Abs32(dist) + Abs32(p[0] - b);
                if (dist < bestD) {
                    dist += Abs32(p[2] - r);
                    if (dist < bestD) {
                        bestD = dist;
                        best = p[3];
                    }
                }
            }
        }
        if (j >= 0) {
            const auto& p = State.network[static_cast<size_t>(j)];
            int32_t dist = g - p[1];
            if (dist >= bestD) {
                j = -1;
            } else {
                --j;
                dist = Abs32(dist) + Abs32(p[0] - b);
                if (dist < bestD) {
                    dist += Abs32(p[2] - r);
                    if (dist < bestD) {
                        bestD = dist;
                        best = p[3];
                    }
                }
            }
        }
    }
    return best;
}

std::unique_ptr<TPxNeuQuant> PxNeuQuantCreate(TPxBitmap& Bitmap, std::span<TPxRGB> Palette, int32_t NumColors,
                                              int32_t Quality)
{
    auto state = std::make_unique<TPxNeuQuant>();
    const int32_t w = Bitmap.GetWidth();
    const int32_t h = Bitmap.GetHeight();
    const int32_t sampleFac = PxNeuQuantSampleFactor(static_cast<int64_t>(w) * h, Quality);
    PxNeuQuantInit(*state, std::max<int32_t>(NumColors, 1), w, h, sampleFac);
    PxNeuQuantLearn(*state, Bitmap);
    PxNeuQuantUnbias(*state);
    PxNeuQuantWritePalette(*state, Palette);
    PxNeuQuantBuildIndex(*state);
    return state;
}

int32_t PxNeuQuantColorIndex(const TPxNeuQuant& State, const TPxRGB& Color)
{
    return std::max<int32_t>(PxNeuQuantSearch(State, Color.b, Color.g, Color.r), 0);
}

}  // namespace imaging
