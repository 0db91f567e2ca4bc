// Colour quantizer: builds a palette of a requested number of entries for a
// TPxBitmap and maps colours to indexes of that palette.
//
// The palette comes from the first way that applies:
//   1. a px8p image: its own palette entries;
//   2. a grey image of another format: a grey ramp, entry i = (v, v, v) with
//      v = trunc(256 / n * i);
//   3. a colour px24RGB image with at most n distinct colours: exactly those
//      colours, in order of first appearance (rows from the top, pixels from
//      the left);
//   4. a colour px24RGB image with more colours: a learned palette, by the
//      median cut (imaging/proc/PxMedianCut.h) below 128 colours and by the
//      neural-net quantizer (imaging/proc/PxNeuralQuant.h) from 128 on,
//      unless PxQuantizerMethod forces one.
// A colour image of any other format gets no palette and every index 0.
//
// Ownership: the quantizer borrows the image, which must outlive it; the image
// is read only by the constructor (a px8p image's palette entries are copied
// for ColorIndex). The quantizer owns its exact-colour list and learned
// state.
//
// Threads: a quantizer is used by one thread; several quantizers may work at
// once on different images. The two unit variables are written only at
// start-up.
//
// Failure: nothing is reported. Out of memory raises std::bad_alloc and leaves
// the palette partly written.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "classlib/Persistent.h"
#include "imaging/model/PxTypes.h"

namespace imaging {

class TPxBitmap;
struct TPxNeuQuant;
struct TPxMedianCut;

// Learned-palette method: -1 automatic (median cut below 128 colours, the
// neural net from 128 on), 0 neural net, 1 median cut; any other value means
// the neural net. Set to -1 by the file I/O start-up; nothing else writes it.
extern int32_t PxQuantizerMethod;
// Sampling quality of the neural net: -1 (any negative value) automatic from
// the pixel count, else 0 (fastest) .. 100 (best; larger values count as 100). Set to -1 by the file I/O start-up.
extern int32_t PxQuantizerQuality;

class TPxQuantizer : public classlib::TObject {
public:
    // Builds the palette of Bitmap into Palette (blue, green, red entries).
    // The colour count n is NumColors limited to Palette.size(); entries a
    // way does not produce are left as they were. Limit is not read (callers
    // pass 255, 15 or 134217727). Scans every pixel once (grey test) and more
    // for the exact and learned ways.
    TPxQuantizer(TPxBitmap& Bitmap, std::span<TPxRGB> Palette, int Limit, int NumColors);
    ~TPxQuantizer() override;
    TPxQuantizer(const TPxQuantizer&) = delete;
    TPxQuantizer& operator=(const TPxQuantizer&) = delete;
    std::wstring ClassName() const override { return L"TPxQuantizer"; }

    // The palette index of Color, always in 0..n-1 (0 when n is 0 or the
    // image got no palette):
    //   - exact list: the first listed colour equal to Color, else the
    //     nearest listed colour (smallest |dR|+|dG|+|dB|, first on ties);
    //   - grey ramp: trunc(red * n / 256), only the red byte is read;
    //   - learned palette: the median-cut cell table or the neural net's
    //     nearest neuron;
    //   - px8p image (grey or not, unless its palette is exactly the grey
    //     ramp): the first of its palette entries 0..n-1 equal to Color, else
    //     the nearest of them;
    //   - any other image: 0.
    int ColorIndex(const TPxRGB& Color) const;

    // The image was grey (TPxBitmap::IsGrayScale) when the quantizer was
    // built; the TIFF and PNG writers read it.
    bool GetGrey() const { return grey_; }
    // The colour count n.
    int GetColorCount() const { return colorCount_; }
    // 0 neural net, 1 median cut; -1 when no learned palette was built.
    int GetMethod() const { return neuQuant_ ? 0 : (medianCut_ ? 1 : -1); }
    // The exact colours found (empty unless the exact way was taken).
    const std::vector<TPxRGB>& GetExactColors() const { return exact_; }
    bool UsesExactColors() const { return hasExact_; }

private:
    TPxBitmap& bitmap_;
    int colorCount_ = 0;
    bool grey_ = false;
    // The grey formula answers ColorIndex (the palette written is the ramp).
    bool greyRamp_ = false;
    bool hasExact_ = false;
    std::vector<TPxRGB> exact_;
    std::unique_ptr<TPxNeuQuant> neuQuant_;
    std::unique_ptr<TPxMedianCut> medianCut_;
    struct TLookup;
    std::unique_ptr<TLookup> lookup_;
};

}  // namespace imaging
