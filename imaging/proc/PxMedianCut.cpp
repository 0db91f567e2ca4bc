#include "imaging/proc/PxMedianCut.h"

#include <algorithm>

#include "classlib/SysUtils.h"
#include "imaging/model/PxBitmap.h"

namespace imaging {

namespace {

constexpr int CellCount = 32768;

int CellOf(int r5, int g5, int b5) { return (r5 << 10) | (g5 << 5) | b5; }

// Narrows each channel's range to its first and last non-empty entries.
void ShrinkBox(TPxMedianCutBox& box)
{
    for (int c = 0; c < 3; ++c) {
        int first = box.lower[c];
        int last = box.upper[c] - 1;
        while (first <= last && box.hist[c][first] == 0)
            ++first;
        while (last >= first && box.hist[c][last] == 0)
            --last;
        if (first <= last) {
            box.lower[c] = first;
            box.upper[c] = last + 1;
        }
    }
}

}  // namespace

void PxMedianCutAllocate(TPxMedianCut& State, int32_t Width, int32_t Height, int32_t NumColors)
{
    State.histogram.assign(CellCount, 0);
    State.boxes.assign(PxMedianCutMaxBoxes, TPxMedianCutBox{});
    State.table.assign(CellCount, 0);
    State.width = std::max<int32_t>(Width, 0);
    State.height = std::max<int32_t>(Height, 0);
    State.pixelCount = static_cast<int64_t>(State.width) * State.height;
    State.colorsAsked = NumColors;
    State.boxesMade = 0;
    TPxMedianCutBox& box = State.boxes[0];
    box.count = static_cast<uint32_t>(State.pixelCount);
}

void PxMedianCutHistogram(TPxMedianCut& State, TPxBitmap& Bitmap)
{
    if (Bitmap.GetPixelFormat() != px24RGB || Bitmap.GetWidth() != State.width ||
        Bitmap.GetHeight() != State.height)
        return;
    TPxMedianCutBox& box = State.boxes[0];
    TPxAccessScope readOnly(Bitmap, pxAccessRead);
    for (int32_t y = 0; y < State.height; ++y) {
        const uint8_t* p = Bitmap.GetScanline(y);
        for (int32_t x = 0; x < State.width; ++x, p += 3) {
            const int b5 = p[0] >> 3;
            const int g5 = p[1] >> 3;
            const int r5 = p[2] >> 3;
            ++State.histogram[static_cast<size_t>(CellOf(r5, g5, b5))];
            ++box.hist[0][r5];
            ++box.hist[1][g5];
            ++box.hist[2][b5];
        }
    }
}

void PxMedianCutBoxStats(const TPxMedianCut& State, TPxMedianCutBox& Box)
{
    if (Box.count == 0) {
        Box.error = 0;
        return;
    }
    const double count = Box.count;
    double error = 0;
    for (int c = 0; c < 3; ++c) {
        double s1 = 0;
        double s2 = 0;
        for (int v = Box.lower[c]; v < Box.upper[c]; ++v) {
            const double h = Box.hist[c][v];
            s1 += v * h;
            s2 += static_cast<double>(v * v) * h;
        }
        Box.mean[c] = s1 / count;
        error += s2 - Box.mean[c] * Box.mean[c] * count;
    }
    Box.error = State.pixelCount > 0 ? error / static_cast<double>(State.pixelCount) : 0;
}

bool PxMedianCutSplitChannel(const TPxMedianCut& State, const TPxMedianCutBox& Box, int Channel,
                             TPxMedianCutBox& Lower, TPxMedianCutBox& Upper)
{
    const int lo = Box.lower[Channel];
    const int hi = Box.upper[Channel];
    if (hi <= lo + 1)
        return false;
    const double m = Box.mean[Channel];
    const uint32_t total = Box.count;
    const uint32_t* h = Box.hist[Channel];
    const int start = static_cast<int>(classlib::Round((lo + m) / 2));
    const int end = static_cast<int>(classlib::Round((m + hi) / 2));
    uint32_t cum = 0;
    for (int v = lo; v < start && v < 32; ++v)
        cum += h[v];
    int best = start;
    uint32_t lowerCount = total;
    double bestScore = -1;
    double acc = 0;
    for (int v = std::max(start, 0); v <= end && v < 32; ++v) {
        cum += h[v];
        if (cum >= total)
            break;
        acc += static_cast<double>(h[v]) * v / total;
        const double score = static_cast<double>(cum) / static_cast<double>(total - cum) * (m - acc) * (m - acc);
        if (score > bestScore) {
            best = v;
            lowerCount = cum;
            bestScore = score;
        }
    }
    if (best < lo || best + 1 >= hi)
        return false;
    Lower = Box;
    Lower.count = lowerCount;
    Lower.upper[Channel] = best + 1;
    Upper = Box;
    Upper.count = total - lowerCount;
    Upper.lower[Channel] = best + 1;
    if (Lower.count == 0 || Upper.count == 0)
        return false;

    for (auto& row : Lower.hist)
        std::fill(std::begin(row), std::end(row), 0u);
    for (int r = Lower.lower[0]; r < Lower.upper[0]; ++r)
        for (int g = Lower.lower[1]; g < Lower.upper[1]; ++g)
            for (int b = Lower.lower[2]; b < Lower.upper[2]; ++b) {
                const uint32_t n = State.histogram[static_cast<size_t>(CellOf(r, g, b))];
                Lower.hist[0][r] += n;
                Lower.hist[1][g] += n;
                Lower.hist[2][b] += n;
            }
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 32; ++v)
            Upper.hist[c][v] -= Lower.hist[c][v];
    ShrinkBox(Lower);
    ShrinkBox(Upper);
    PxMedianCutBoxStats(State, Lower);
    PxMedianCutBoxStats(State, Upper);
    return true;
}

bool PxMedianCutSplitBox(TPxMedianCut& State, int Index, int NewIndex)
{
    TPxMedianCutBox& box = State.boxes[static_cast<size_t>(Index)];
    if (box.error == 0 || box.count == 0) {
        box.error = 0;
        return false;
    }
    int bestChannel = -1;
    double bestScore = 0;
    TPxMedianCutBox bestLower, bestUpper;
    for (int c = 0; c < 3; ++c) {
        TPxMedianCutBox lower, upper;
        if (!PxMedianCutSplitChannel(State, box, c, lower, upper))
            continue;
        const double score = lower.error + upper.error;
        if (bestChannel < 0 || score < bestScore) {
            bestChannel = c;
            bestScore = score;
            bestLower = lower;
            bestUpper = upper;
        }
    }
    if (bestChannel < 0) {
        box.error = 0;
        return false;
    }
    box = bestLower;
    State.boxes[static_cast<size_t>(NewIndex)] = bestUpper;
    return true;
}

void PxMedianCutSplitAll(TPxMedianCut& State)
{
    const int n = std::clamp<int32_t>(State.colorsAsked, 1, PxMedianCutMaxBoxes);
    int k = 1;
    while (k < n) {
        int chosen = -1;
        for (int i = 0; i < k; ++i) {
            const double e = State.boxes[static_cast<size_t>(i)].error;
            if (e > 0 && (chosen < 0 || e > State.boxes[static_cast<size_t>(chosen)].error))
                chosen = i;
        }
        if (chosen < 0)
            break;
        if (PxMedianCutSplitBox(State, chosen, k))
            ++k;
    }
    State.boxesMade = k;
}

void PxMedianCutFillTable(TPxMedianCut& State)
{
    for (int i = 0; i < State.boxesMade; ++i) {
        const TPxMedianCutBox& box = State.boxes[static_cast<size_t>(i)];
        for (int r = box.lower[0]; r < box.upper[0]; ++r)
            for (int g = box.lower[1]; g < box.upper[1]; ++g)
                for (int b = box.lower[2]; b < box.upper[2]; ++b)
                    State.table[static_cast<size_t>(CellOf(r, g, b))] = static_cast<uint8_t>(i);
    }
}

std::unique_ptr<TPxMedianCut> PxMedianCutCreate(TPxBitmap& Bitmap, std::span<TPxRGB> Palette, int32_t NumColors)
{
    auto state = std::make_unique<TPxMedianCut>();
    PxMedianCutAllocate(*state, Bitmap.GetWidth(), Bitmap.GetHeight(), NumColors);
    PxMedianCutHistogram(*state, Bitmap);
    PxMedianCutBoxStats(*state, state->boxes[0]);
    PxMedianCutSplitAll(*state);
    const size_t count = std::min(Palette.size(), static_cast<size_t>(state->boxesMade));
    for (size_t i = 0; i < count; ++i) {
        const TPxMedianCutBox& box = state->boxes[i];
        auto channel = [](double mean) {
            return static_cast<uint8_t>(std::clamp<int64_t>(classlib::Round(mean), 0, 31) * 8);
        };
        Palette[i] = TPxRGB{channel(box.mean[2]), channel(box.mean[1]), channel(box.mean[0])};
    }
    PxMedianCutFillTable(*state);
    return state;
}

int32_t PxMedianCutColorIndex(const TPxMedianCut& State, const TPxRGB& Color)
{
    if (State.table.size() != static_cast<size_t>(CellCount))
        return 0;
    return State.table[static_cast<size_t>(CellOf(Color.r >> 3, Color.g >> 3, Color.b >> 3))];
}

}  // namespace imaging
