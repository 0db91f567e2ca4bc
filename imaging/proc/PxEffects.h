// Image effects: free-standing pixel routines that work directly on a
// TPxBitmap (no undo, no processing object): painting fully transparent
// pixels with a colour, the grey-level histogram, the maximum-entropy
// threshold, the Gaussian blur, the list of predefined 3 x 3 filters, soft
// drop shadows cast by the alpha channel, rounded corners in the alpha
// channel, histogram matching between two images and the reordering of
// colour channels.
//
// Grey level everywhere here: PxRGB2Gray, (R*wr + G*wg + B*wb) div 100 with
// the toolkit's grey weights.
//
// Storage: every routine works row by row through GetScanline (columns are
// gathered in bands of whole rows), so images held in a temporary file are
// processed without mapping them whole; the access of each image is narrowed
// for the work and restored on every way out.
//
// Failure: nothing here reports an error. A pixel format a routine does not
// handle is left unchanged, a blur with sigma <= 0 does nothing, arguments out
// of range are limited to the image. Allocation failures raise
// std::bad_alloc.
//
// Threads: the only shared state is PxFilter3x3List, written by the
// processing unit's start-up and shut-down and only read in between; every
// other routine allocates its buffers per call and may run on any thread, one
// thread per image at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Persistent.h"
#include "classlib/StringList.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxTypes.h"
#include "imaging/proc/PxConvertRows.h"

namespace imaging {

class TPxBitmap;

// ---- predefined 3 x 3 filters

// The predefined filters: owned records and, at the same indices, their
// names. Filters and Names always have the same count.
struct TPxFilter3x3List {
    std::vector<std::unique_ptr<TPxFilter3x3>> Filters;
    classlib::TStringList Names;

    int GetCount() const { return static_cast<int>(Filters.size()); }
    // The index of the filter named Name (case-insensitive), or -1.
    int IndexOfName(const std::wstring& Name) const { return Names.IndexOf(Name); }
};

// nullptr until PxCreateFilter3x3List; read-only between the processing
// unit's start-up and shut-down.
extern TPxFilter3x3List* PxFilter3x3List;

// Creates PxFilter3x3List with the nine built-in filters, in this order:
// "None", "Blur", "Edges", "Emboss", "High Pass 1", "High Pass 2",
// "High Pass 3", "Low Pass 1", "Low Pass 2". A list that exists already is
// freed and built anew.
void PxCreateFilter3x3List();
// Appends a copy of Filter under Name (creating an empty list first when
// there is none).
void PxAddFilter3x3(const TPxFilter3x3& Filter, const std::wstring& Name);
// Frees every filter record and the list; PxFilter3x3List becomes nullptr.
void PxFreeFilter3x3List();

// The built-in filter at Index 0..8 of the order above (independent of
// PxFilter3x3List, so usable before start-up); Index outside gives "None".
const TPxFilter3x3& PxBuiltinFilter3x3(int Index);
inline constexpr int PxBuiltinFilter3x3Count = 9;

// ---- histogram and threshold

// 256 counters of grey levels.
using TPxHistogram = std::array<uint32_t, 256>;

// Zeroes Histogram and counts the grey level of every pixel of any format:
// px1g counts clear bits in entry 0 and set bits in entry 1 only; px8p the
// grey of its palette entry; px8g its value; px16g its high byte; px24RGB
// and px32RGB the grey of blue, green, red; px32f Trunc(v * 255) limited to
// 0..255; pxCMYK and pxCIELab the grey after their RGB conversion; pxRGB48
// the grey of the high bytes of the channels; pxNoPixels nothing.
void PxGrayHistogram(TPxBitmap* Bitmap, TPxHistogram& Histogram);

// The maximum-entropy threshold 1..255 of the grey histogram: the first t
// whose score ln(P(1-P)) + Hb/P + (Htot-Hb)/(1-P) (P the share of levels
// below t, Hb their part of the entropy, Htot the whole entropy) exceeds every
// earlier score and 0. -2 when no score exceeds 0 (an empty image, a single
// grey level): as a threshold, -2 makes every pixel white.
int PxMaxEntropyThreshold(TPxBitmap* Bitmap);

// ---- Gaussian blur

// Integer weights in units of 1/65536 for the offsets -100..100 (Weights[100]
// is offset 0) and the half-width Radius 1..100 beyond which they are 0.
struct TPxGaussianKernel {
    int32_t Radius = 1;
    std::array<int32_t, 201> Weights{};

    int32_t Weight(int Offset) const { return Weights[static_cast<size_t>(Offset + 100)]; }
};

// k[i] = exp(-((i - 100) / Sigma)^2 / 2), each weight Round(k * 65536 / sum)
// (halves to even); the radius shrinks from 100 while both outer weights are
// 0, down to 1. Sigma <= 0 (or not a number) gives the identity kernel.
TPxGaussianKernel PxGaussianKernel(double Sigma);
// Dest[x] = (32768 + sum of weight[t] * Source[clamp(x + t)]) shr 16 for
// x = 0..Count-1; the ends repeat. Source and Dest must not overlap.
void PxGaussianLine8(const TPxGaussianKernel& Kernel, const uint8_t* Source, uint8_t* Dest, int Count);
// The same for each channel of 3-byte pixels.
void PxGaussianLine24(const TPxGaussianKernel& Kernel, const TPxRGB* Source, TPxRGB* Dest, int Count);

// px8g and px24RGB only, Sigma > 0: all rows, then all columns. Progress (when
// a handler is assigned) after row y: Trunc(y * 100 / (height + width)),
// after column x: Trunc((height + x) * 100 / (height + width)).
void PxGaussianBlur(TPxBitmap* Bitmap, classlib::TObject* Sender, const TPxProgressEvent& OnProgress, double Sigma);
// px8g only, Sigma > 0: blurs the inclusive rectangle, limited to the image;
// its own borders act as the repeating edges.
void PxGaussianBlurGray8(TPxBitmap* Bitmap, int X1, int Y1, int X2, int Y2, double Sigma);

// ---- soft shadows and corners

// Casts a soft shadow of the alpha channel (created at 255 when absent) onto
// the transparent parts of the image. Enlarge grows the canvas by
// m = max(2 * max(|OffsetX|, |OffsetY|) + Trunc(Radius * 5), 1) in each
// direction's total, content centred, new area black and transparent. The
// alpha is blurred with sigma Radius (progress through OnProgress) and moved
// by the offset; Intensity 0..100 (clamped) divides the shadow's alpha by
// 3 - Intensity / 50. px24RGB and px1g are composited: transparent pixels
// under the shadow take Color (px1g: black), semi-transparent px24RGB pixels
// are laid over the shadow; other formats keep their pixels and receive the
// blurred, moved alpha.
void PxAddSoftShadow(TPxBitmap* Bitmap, int OffsetX, int OffsetY, double Radius, int Intensity, bool Enlarge,
                     TPxRGB Color, const TPxProgressEvent& OnProgress, classlib::TObject* Sender);
// The same shadow for the object in the inclusive rectangle (X1, Y1)-(X2, Y2)
// of a larger image, without growing it. Radius 0 blurs with the built-in
// "Blur" filter and counts as 2 for the margin. Returns the margin
// m = max(2 * max(|OffsetX|, |OffsetY|) + Trunc(Radius * 5), 1) around the
// rectangle that the shadow may cover (also for an empty image, which is
// left alone).
int PxAddSoftShadowRect(TPxBitmap* Bitmap, int OffsetX, int OffsetY, double Radius, int Intensity, TPxRGB Color,
                        int X1, int Y1, int X2, int Y2);
// Clears the alpha (created at 255 when absent) outside a cubic curve of
// Width x Height pixels in each corner, then recomputes the full-alpha flag.
// Nothing for an empty image or Width or Height 0. The last three arguments
// are ignored (callers pass 0).
void PxRoundCorners(TPxBitmap* Bitmap, int Width, int Height, int Unused1 = 0, int Unused2 = 0, int Unused3 = 0);

// ---- histograms of two images and channels

// Matches the blue, green and red channels of Target (px24RGB or pxRGB48;
// others unchanged) to the histograms of Reference. Nothing unless Reference
// is px24RGB and both images have pixels.
void PxMatchHistogram(TPxBitmap* Reference, TPxBitmap* Target);
// One channel (0 blue, 1 green, 2 red) of a px24RGB or pxRGB48 Target:
// equalised, then mapped onto the cumulative curve of RefHistogram over
// RefCount pixels. Nothing for other formats, an empty target or
// RefCount <= 0. Unused is ignored.
void PxMatchChannel(TPxBitmap* Target, int Channel, const TPxHistogram& RefHistogram, int64_t RefCount,
                    int Unused = 0);

// Code (three characters of "B", "G", "R", "0", either case) says what the
// new blue, green and red channel receive: the old blue, green, red or zero.
// px24RGB and pxRGB48 only. A code of another length or with another
// character leaves the image unchanged. Progress after row y (from 0):
// Trunc(y / height * 100).
void PxReorderChannels(TPxBitmap* Bitmap, const std::wstring& Code, classlib::TObject* Sender,
                       const TPxProgressEvent& OnProgress);

// px24RGB only: every pixel whose alpha is 0 becomes Color. An image without
// an alpha channel receives one at all 255 (so nothing changes).
void PxFillTransparent(TPxBitmap* Bitmap, TPxRGB Color);

}  // namespace imaging
