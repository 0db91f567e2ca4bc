// Copying pixels between a TPxBitmap and something else: another TPxBitmap
// (whole images, rectangles, region moves, canvas resizing), the class
// library's TBitmap (and one TBitmap into another), selection masks and the
// lighter TPxDibbitmap.
//
// These are operations of TPxBitmap written as free routines; the image is
// always the first argument. PxCopyInstallServices installs TPxBitmap::Assign (the
// PxBitmapServices.Assign hook); the toolkit's start-up (PxUtilsInit) and
// the I/O unit's PxInstallBuiltInFormats call it.
//
// Storage: every routine works in every location. Rows of file-held images
// are reached one at a time with GetScanline; the access of each image is
// narrowed for the copy and restored on every way out.
//
// Failure: nothing here raises of its own. When the target's storage cannot
// be had the target is left empty (0 x 0) and nothing is written; the
// routines that return bool then give false. Filling colour formats needs the
// colour services of PxBitmapServices (FillRect raises when they are
// missing).
//
// Threads: the images involved are used by one thread at a time.
#pragma once

#include <memory>

#include "classlib/Persistent.h"
#include "imaging/model/PxBitmap.h"

namespace classlib {
class TBitmap;
}

namespace imaging {

class TPxDibbitmap;
class TPxMask;

// TPxBitmap::Assign: a classlib::TBitmap source goes to CopyFromVclBitmap;
// a TPxBitmap source gives Dest its size, format, row alignment, pixels,
// full-alpha flag, alpha channel (a copy, or none when the source has none),
// palette and bi-level method. Other sources and Dest itself do nothing. A
// pxTBitmap Dest is left as it is by an empty source; it keeps its system
// bitmap for the formats a system bitmap holds exactly (px1g, px8p, px8g,
// px24RGB, px32RGB); for any other format Dest moves to pxMemory storage
// (the size rule may choose a file) so that no pixel changes. Rows are
// copied one at a time, also between two file-held images.
void PxAssignBitmap(TPxBitmap& Dest, classlib::TObject* Source);

// Installs PxAssignBitmap as PxBitmapServices.Assign (done at static
// initialisation; calling it again is harmless).
void PxCopyInstallServices();

// Copies size, format, pixels and palette of Source, keeping Bitmap's own
// row alignment and alpha channel (whatever its size); the full-alpha flag
// becomes false. Nothing (true) for an empty or nil source or Source ==
// &Bitmap; false when no storage could be had (Bitmap is then empty apart
// from its alpha channel).
bool AssignImage(TPxBitmap& Bitmap, TPxBitmap* Source);

// Copies the rectangle of Width x Height pixels at (SourceX, SourceY) of
// Bitmap to (TargetX, TargetY) of Target. A negative target position moves
// the source start right/down by as much and shrinks the rectangle; the
// starts are clamped into the images and the rectangle cut to both. Copies
// px1g to px1g (any bit offsets), px1g to px24RGB (bits become white or
// black) and equal formats; any other pair copies nothing. The palette is
// not copied. Target may be Bitmap itself.
void CopyRectTo(TPxBitmap& Bitmap, TPxBitmap* Target, int SourceX, int SourceY, int TargetX, int TargetY, int Width,
                int Height);

// Merges a rectangle of Bitmap's alpha channel into Target's (both created on
// demand), clipped as CopyRectTo: each target value becomes the larger of the
// two. Nothing when either image is itself an alpha channel.
void MergeAlphaRectTo(TPxBitmap& Bitmap, TPxBitmap* Target, int SourceX, int SourceY, int TargetX, int TargetY,
                      int Width, int Height);

// Moves the inclusive rectangle (x1, y1)-(x2, y2) so that its top-left lands
// on (TargetX, TargetY); the rectangle is filled with Fill (a value as for
// TPxBitmap::Fill) before the copy lands. Nothing when the rectangle is empty
// or its temporary copy cannot be had.
void MoveRegion(TPxBitmap& Bitmap, int x1, int y1, int x2, int y2, int TargetX, int TargetY, double Fill);

// Gives the image the new size keeping the content at the aligned place
// (Horizontal: 0 left, 1 centre, 2 right; Vertical: 0 top, 1 centre, 2
// bottom). New area takes Fill; the alpha channel, when there is one, is
// moved alike and its new area takes AlphaFill.
void ResizeCanvas(TPxBitmap& Bitmap, int Width, int Height, double Fill, int AlphaFill, int Horizontal, int Vertical);

// Copies a TBitmap. In pxMemory/pxFile by its pixel format: 1 bit
// monochrome px1g; 1 bit with colours, 4 and 8 bits px8p with its palette;
// 15, 16 and 24 bits px24RGB; 32 bits px32RGB; device and custom formats
// change nothing (false). In pxTBitmap the image's own system bitmap becomes
// a copy of Source (converted to 24 bits unless it has 1, 24 or 32; Source
// itself is never changed). An empty Source empties the image (false).
bool CopyFromVclBitmap(TPxBitmap& Bitmap, classlib::TBitmap* Source);

// Makes Dest a copy of Source: pixel format, colour table, size and pixels.
// A Source of width or height 0 gives Dest 1 x 1 in Source's format.
void PxCopyVclBitmap(classlib::TBitmap* Source, classlib::TBitmap* Dest);
std::unique_ptr<classlib::TBitmap> PxCloneVclBitmap(classlib::TBitmap* Source);

// Copies a TPxDibbitmap (1 bit gives px1g, 8 bits px8g, 24 bits px24RGB).
// False for nil, an empty source or no storage.
bool CopyFromDibBitmap(TPxBitmap& Bitmap, TPxDibbitmap* Source);

// Makes the image a copy of a mask: 1 bit gives px1g, 8 bits px8g, the rows
// copied and the full-alpha flag taken from the mask's full flag. A nil
// mask fills the image with 255. False for other masks (nothing changes)
// or when no storage can be had.
bool CopyFromMask(TPxBitmap& Bitmap, TPxMask* Mask);

namespace detail {
// Gives an empty image the row alignment Bits (a positive multiple of 8).
// Images outside memory pass through memory storage and back.
void PxSetEmptyRowAlignment(TPxBitmap& Bitmap, int Bits);

// Referenced from every unit that includes this header, so that a static
// link keeps this unit and with it the Assign service.
extern const int PxCopyUnitAnchor;
[[maybe_unused, gnu::used]] static const int* const PxCopyUnitAnchorRef = &PxCopyUnitAnchor;
}  // namespace detail

}  // namespace imaging
