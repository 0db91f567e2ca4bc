#include "imaging/proc/PxQuantizer.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_map>

#include "imaging/model/PxBitmap.h"
#include "imaging/proc/PxMedianCut.h"
#include "imaging/proc/PxNeuralQuant.h"

namespace imaging {

int32_t PxQuantizerMethod = -1;
int32_t PxQuantizerQuality = -1;

namespace {

uint32_t ColorKey(const TPxRGB& c) { return (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b; }

// The entry of Palette with the smallest sum of absolute channel differences
// to Color, the first on ties; 0 for an empty palette.
int NearestEntry(std::span<const TPxRGB> Palette, const TPxRGB& Color)
{
    int best = 0;
    int bestDist = 1 << 30;
    for (size_t i = 0; i < Palette.size(); ++i) {
        const TPxRGB& p = Palette[i];
        const int dist = std::abs(p.r - Color.r) + std::abs(p.g - Color.g) + std::abs(p.b - Color.b);
        if (dist < bestDist) {
            bestDist = dist;
            best = static_cast<int>(i);
        }
    }
    return best;
}

uint8_t RampLevel(int n, int i) { return static_cast<uint8_t>(static_cast<int>(256.0 / n * i)); }

// Lists the distinct colours of a px24RGB image in order of first appearance
// (rows from the top, pixels from the left) into Colors; stops as soon as a
// (Limit + 1)-th colour is met. True when the image has at most Limit colours.
bool PxExactPaletteScan(TPxBitmap& Bitmap, int Limit, std::vector<TPxRGB>& Colors,
                        std::unordered_map<uint32_t, int>& Index)
{
    Colors.clear();
    Index.clear();
    const int w = Bitmap.GetWidth();
    const int h = Bitmap.GetHeight();
    TPxAccessScope readOnly(Bitmap, pxAccessRead);
    for (int y = 0; y < h; ++y) {
        const uint8_t* p = Bitmap.GetScanline(y);
        for (int x = 0; x < w; ++x, p += 3) {
            const TPxRGB c{p[0], p[1], p[2]};
            const auto [it, added] = Index.try_emplace(ColorKey(c), static_cast<int>(Colors.size()));
            if (!added)
                continue;
            if (static_cast<int>(Colors.size()) >= Limit)
                return false;
            Colors.push_back(c);
        }
    }
    return true;
}

}  // namespace

// Private state of the exact way and of the px8p fallback, kept out of the
// header so that callers need not see the hash map.
struct TPxQuantizer::TLookup {
    std::unordered_map<uint32_t, int> exactIndex;
    // The image's palette entries 0..n-1 (px8p fallback).
    std::vector<TPxRGB> ownPalette;
};

TPxQuantizer::TPxQuantizer(TPxBitmap& Bitmap, std::span<TPxRGB> Palette, int /*Limit*/, int NumColors)
    : bitmap_(Bitmap), lookup_(std::make_unique<TLookup>())
{
    const int n = static_cast<int>(std::clamp<int64_t>(NumColors, 0, static_cast<int64_t>(Palette.size())));
    colorCount_ = n;
    grey_ = bitmap_.IsGrayScale();
    const TPxPixelFormat format = bitmap_.GetPixelFormat();

    if (grey_ || format != px24RGB) {
        if (format == px8p) {
            const int count = std::min(n, bitmap_.GetPaletteLen());
            for (int i = 0; i < count; ++i) {
                Palette[static_cast<size_t>(i)] = bitmap_.GetPaletteEntry(i);
                lookup_->ownPalette.push_back(Palette[static_cast<size_t>(i)]);
            }
            // The grey formula is right only when that palette is the ramp.
            bool ramp = grey_ && count == n;
            for (int i = 0; ramp && i < count; ++i) {
                const uint8_t v = RampLevel(n, i);
                ramp = lookup_->ownPalette[static_cast<size_t>(i)] == TPxRGB{v, v, v};
            }
            greyRamp_ = ramp;
        } else if (grey_) {
            for (int i = 0; i < n; ++i) {
                const uint8_t v = RampLevel(n, i);
                Palette[static_cast<size_t>(i)] = TPxRGB{v, v, v};
            }
            greyRamp_ = true;
        }
        return;
    }
    if (n <= 0)
        return;

    std::vector<TPxRGB> colors;
    if (PxExactPaletteScan(bitmap_, n, colors, lookup_->exactIndex)) {
        hasExact_ = true;
        exact_ = std::move(colors);
        std::copy(exact_.begin(), exact_.end(), Palette.begin());
        return;
    }
    lookup_->exactIndex.clear();

    const bool medianCut = PxQuantizerMethod == 1 || (PxQuantizerMethod == -1 && n < 128);
    if (medianCut)
        medianCut_ = PxMedianCutCreate(bitmap_, Palette.first(static_cast<size_t>(n)), n);
    else
        neuQuant_ = PxNeuQuantCreate(bitmap_, Palette.first(static_cast<size_t>(n)), n, PxQuantizerQuality);
}

TPxQuantizer::~TPxQuantizer() = default;

int TPxQuantizer::ColorIndex(const TPxRGB& Color) const
{
    if (colorCount_ <= 0)
        return 0;
    if (hasExact_) {
        const auto it = lookup_->exactIndex.find(ColorKey(Color));
        if (it != lookup_->exactIndex.end())
            return it->second;
        return NearestEntry(exact_, Color);
    }
    if (greyRamp_)
        return static_cast<int>(static_cast<int64_t>(Color.r) * colorCount_ / 256);
    if (neuQuant_)
        return PxNeuQuantColorIndex(*neuQuant_, Color);
    if (medianCut_)
        return PxMedianCutColorIndex(*medianCut_, Color);
    const auto& own = lookup_->ownPalette;
    const auto it = std::find(own.begin(), own.end(), Color);
    if (it != own.end())
        return static_cast<int>(it - own.begin());
    return NearestEntry(own, Color);
}

}  // namespace imaging
