// Resampling of images by the fourteen TResampleFilter values: the front end
// PxResampleBitmap (pixels and alpha channel), the dispatchers by filter and
// pixel format (PxResampleFiltered, PxResampleGray8, PxResampleBilevel) and
// the two-pass separable kernel resampler with the kernel table
// PxResampleKernels (filters rfTriangle .. rfLinear).
//
// Kernel passes: per axis, destination pixel 0 maps onto source pixel 0 and
// the last onto the last; weights are integers in 1/256 computed once per
// destination column and row; the image edges mirror. Every destination
// pixel has at least one contributor and is the weighted sum divided by the
// sum of its weights: where a very large reduction makes every 1/256 weight
// round to 0, the weights of that pixel are rebuilt at a finer integer
// scale from the same kernel values, so the result is still their average.
// A source of 1 x 1 (or 1 pixel along an axis) fills the destination with
// its pixel.
//
// Storage: sources and destinations are read and written a row at a time,
// so images held in temporary files work; the access mode of both is
// narrowed for a call and restored on every way out.
//
// Failure: allocation failures of tables, work images and the 24-bit copy
// raise and pass to the caller (the destination is then partly written);
// the copy and the work image are released on every way out. Pixel formats
// a routine does not take leave the destination untouched.
//
// Threads: the kernel table is constant; the routines keep no other state
// and may run on several threads at once on different bitmaps.
#pragma once

#include <cstdint>

#include "classlib/Persistent.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"

namespace imaging {

// The kernel functions k(x) of the kernel filters.
double PxTriangleFilter(double x);
double PxHermiteFilter(double x);
double PxBellFilter(double x);
double PxBSplineFilter(double x);
double PxLanczos3Filter(double x);
double PxMitchellFilter(double x);
double PxBoxFilter(double x);
double PxLinearFilter(double x);
// sin(pi x) / (pi x), 1 at 0.
double PxSinc(double x);

// One row of the kernel table: the kernel function and its support (the
// half-width of the kernel in source pixels at scale 1).
struct TPxResampleKernel {
    double (*Filter)(double x);
    double Support;
};

// Indexed by the filter value rfTriangle (1) .. rfLinear (8); row 0 is
// empty and never used.
extern const TPxResampleKernel PxResampleKernels[9];

// Resamples Source into Dest, which the caller has allocated at the wanted
// size with Source's pixel format; Dest's format may change as the filter
// requires (px1g sources: px24RGB grey, or px1g for the projections; kernel
// filters and rfFastLinear on formats other than px8g and px24RGB: px24RGB;
// projections of colour images: px1g). Equal sizes: Dest becomes a copy
// (TPxBitmap::Assign). A Source alpha channel is resampled into Dest's
// (created on demand), through the nearest-neighbour stretch for rfNone and
// PxResampleGray8 otherwise, and its full-alpha flag copied.
void PxResampleBitmap(TPxBitmap* Source, TPxBitmap* Dest, TResampleFilter Filter, classlib::TObject* Sender = nullptr,
                      const TPxProgressEvent& OnProgress = TPxProgressEvent());

// Resamples Source into Dest (allocated at the wanted size, in Source's
// format or as px24RGB) with any filter but rfNone (rfNone does nothing).
// rfBilinear / rfBicubic take the area resamplers for px24RGB, px8g,
// pxRGB48 and px16g and act as rfTriangle otherwise; px8g goes to
// PxResampleGray8; other formats than px24RGB are resampled from a 24-bit
// copy (only when both images are TPxBitmap, Dest then becoming px24RGB).
// Nothing when the source is empty.
void PxResampleFiltered(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, TResampleFilter Filter,
                        classlib::TObject* Sender = nullptr,
                        const TPxProgressEvent& OnProgress = TPxProgressEvent());

// Both images 8-bit single channel (px8g pixels or alpha channels). The fast
// group (rfFastLinear, rfBilinear, rfBicubic, the projections) goes to
// PxFastLinearGray8; kernel filters run the kernel passes on one channel.
// No progress.
void PxResampleGray8(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, TResampleFilter Filter);

// A px1g Source into Dest: px1g for rfProjectBW / rfProjectWB, px24RGB grey
// for every other filter (bits read as 0 and 255). No progress.
void PxResampleBilevel(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, TResampleFilter Filter);

}  // namespace imaging
