// Rendering of a TPxBitmap into a 24-bit image: a source rectangle of any
// pixel format, zoomed into a destination rectangle, optionally resampled
// through a TResampleFilter first, with the source's alpha channel, a
// transparency for the whole image, the image's display adjustments
// (DisplayMin/DisplayMax for grey images; RedOffset, GreenOffset,
// BlueOffset, Contrast and Adjust for colour images) and a layer blend
// operation (PxBlendPixel, imaging/proc/PxBlend.h). StretchRectTo is the
// simpler sibling that copies a scaled rectangle and its alpha into a
// 24-bit image and its alpha channel.
//
// These are operations of TPxBitmap written as free routines; the source
// image is always the first argument.
//
// Destination: a px24RGB image (blue, green, red bytes). Only its row
// addresses are written, through a destination row table (one address per
// destination row, row 0 first). A destination of another pixel format, or
// a class-library bitmap that is not pf24bit, is left untouched.
//
// Index tables: the x table holds the source column of each destination
// column, the y table the source row of each destination row; both are
// indexed by the destination coordinate itself (entry x for column x), and
// a table built here has one entry per destination column (row). Callers
// that redraw the same geometry may keep them and pass them back.
//
// Fixed point: steps in 1/16384 of a source pixel; contrast factor k in
// 16.16: Trunc((1 - sqrt(-Contrast) / 10) * 65536) for Contrast < 0, else
// Trunc((Contrast / 10 + 1) * 65536); an 8-bit channel c with offset o
// becomes clamp(k * (c + o - 128) div 65536 + 128). Alpha: a destination
// channel d under source channel s with weight a becomes
// d + (a * (s - d)) shr 8 (arithmetic shift). pxRGB48 channels with
// effects: Trunc((c + o - 32768) * k / 65536 + 32768) shr 8, clamped, a
// negative value giving 0. Grey display range (DisplayMax - DisplayMin not
// 0): v clamped to [Trunc(min), Trunc(max)] (px32f: [min, max]) becomes
// Trunc((v - min) / (max - min) * 255); without a range px16g shows its
// high byte and px32f Trunc(v * 255). Grey results outside 0..255 (values
// beyond 1.0, NaN, fractional ranges) are pinned to 0..255, never wrapped.
//
// Storage: the source (and its alpha channel) is read one row at a time,
// its access narrowed to reading for the call and restored on every way
// out; file-held destinations are written one row (and its predecessor) at
// a time through MapRow, never all at once. Rows of a file-held destination
// are never handed back in a row table.
//
// Source rectangles: a rectangle reaching past the source repeats the
// source's last column (row) there; no pixel outside the source is read.
// Table entries supplied by the caller that point outside the source are
// never followed: the last rows and columns whose entries lie outside are
// dropped, and nothing is drawn when any other entry in the drawn range
// lies outside. An alpha channel of another size than its image is not
// used. A source drawn onto itself draws nothing.
//
// Failure: an exception inside a row kernel (a failing file row, say) is
// swallowed and ends the drawing; what was drawn stays. Running out of
// memory for the index tables or inside a resampler raises to the caller;
// a resampling work image whose storage cannot be had draws nothing.
// Resampling uses the resamplers of imaging/proc/PxResample.h and
// imaging/proc/PxFastResample.h.
//
// Threads: the source and destination are used by one thread at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"

namespace classlib {
class TBitmap;
}

namespace imaging {

// A clip rectangle in destination coordinates, edges included.
struct TPxRenderClip {
    int Left;
    int Top;
    int Right;
    int Bottom;
};

// The destination row table and the two index tables of a render. A null
// pointer or an empty vector is "no table": the table is built inside. When
// FreeTables is false a table built inside is left in the vector the caller
// passed (the caller owns it); when true, or when the caller passed null, it
// is discarded. A non-empty row table must have one entry per destination
// row, else it is rebuilt.
using TPxRowTable = std::vector<uint8_t*>;
using TPxIndexTable = std::vector<int32_t>;

// Draws the rectangle (xSrc, ySrc, dxSrc x dySrc) of Source into the
// rectangle (xDst, yDst, dxDst x dyDst) of Dest, clipped to Dest and to Clip
// (nullptr for none). Transparency 0..255 (255 opaque, values outside are
// clamped). EnableAlpha uses Source's alpha channel unless its FullAlpha is
// set. RowRepeat lets a destination row whose source row repeats the
// previous row's be copied from the previous destination row (px24RGB,
// px32RGB and px1g sources, when nothing is blended with the destination).
// Filter other than rfNone resamples px1g and px24RGB sources to the
// destination size first. Operation 0..37 selects PxBlendPixel for
// px24RGB, px32RGB and pxRGB48 sources (0: plain).
void RenderToBitmap(TPxBitmap& Source, TPxBitmap* Dest, TPxRowTable* DestRows, TPxIndexTable* XTable,
                    TPxIndexTable* YTable, const TPxRenderClip* Clip, int xDst, int yDst, int dxDst, int dyDst,
                    int xSrc, int ySrc, int dxSrc, int dySrc, bool EnableAlpha, bool RowRepeat, int Transparency,
                    TResampleFilter Filter, bool FreeTables, int Operation);

// RenderToBitmap with every table built and freed inside, no clip, row
// repeat off and alpha enabled.
void RenderToBitmapSimple(TPxBitmap& Source, TPxBitmap* Dest, int xDst, int yDst, int dxDst, int dyDst, int xSrc,
                          int ySrc, int dxSrc, int dySrc, int Transparency, TResampleFilter Filter, int Operation);

// The same two with a class-library bitmap as destination, drawn in place
// through its own rows (no copy). Only pf24bit bitmaps are drawn on.
void RenderToVclBitmap(TPxBitmap& Source, classlib::TBitmap* Dest, TPxRowTable* DestRows, TPxIndexTable* XTable,
                       TPxIndexTable* YTable, const TPxRenderClip* Clip, int xDst, int yDst, int dxDst, int dyDst,
                       int xSrc, int ySrc, int dxSrc, int dySrc, bool EnableAlpha, bool RowRepeat, int Transparency,
                       TResampleFilter Filter, bool FreeTables, int Operation);
void RenderToVclBitmapSimple(TPxBitmap& Source, classlib::TBitmap* Dest, int xDst, int yDst, int dxDst, int dyDst,
                             int xSrc, int ySrc, int dxSrc, int dySrc, int Transparency, TResampleFilter Filter,
                             int Operation);

// Copies the rectangle (xSrc, ySrc, dxSrc x dySrc) of Source, scaled, into
// (xDst, yDst, dxDst x dyDst) of a px24RGB Dest, cut to Dest. Pixels: px1g
// gives white or black, px24RGB is copied; other formats draw no pixels.
// Dest's alpha channel (created when missing; always present afterwards)
// takes min(Transparency, source alpha) over the drawn range when Source has
// an alpha channel whose FullAlpha is false, else Transparency. A filter
// other than rfNone resamples px1g and px24RGB sources to the destination
// size first. A Dest that is not px24RGB is left untouched.
void StretchRectTo(TPxBitmap& Source, TPxBitmap* Dest, int xDst, int yDst, int dxDst, int dyDst, int xSrc, int ySrc,
                   int dxSrc, int dySrc, TResampleFilter Filter, int Transparency);

}  // namespace imaging
