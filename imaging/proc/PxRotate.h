// Rotation and mirroring of TPxBitmap images.
//
// Orientation: a positive angle (degrees) turns the picture anticlockwise as
// it is seen on the screen (row 0 at the top); a negative angle clockwise.
//
// Rotators:
//   PxRotateNearest / PxRotateNearestInto - every pixel format, nearest
//       pixel by inverse mapping; whole multiples of 90 degrees are exact
//       permutations of the pixels.
//   PxRotateBitmap (PxRotateBitmap8 for px8g / px8p) - right-angle steps,
//       then three shears with optional anti-aliasing, for px24RGB; other
//       formats: px1g goes to PxRotateBilevel, right angles to the nearest
//       rotator (lossless, format kept), any other angle to the shears of
//       PxRotateBitmap8 (px8g, px8p) or the nearest rotator.
//   PxRotateBilevel (PxRotateByteImage for px8g / px8p) - right angles
//       exactly, other angles by inverse mapping with four-decimal
//       trigonometry.
//   PxRotateSmooth24 (PxRotateSmooth8 for one-byte formats) - bilinear or
//       bicubic sampling.
//
// Storage: every routine works in every location. Rows of file-held images
// are read through MapRow (all source rows at once, as the inverse mapping
// needs) or one at a time; the access byte of every image is narrowed for
// the call and restored on every way out.
//
// Failure: no rotator reports errors; a format a routine does not handle is
// left unchanged. Running out of memory raises the class library's
// exception; the image may then already have been replaced.
//
// Progress: OnProgress(Sender, percent) is called only when assigned.
//
// Threads: an image is used by one thread at a time; no routine keeps state.
#pragma once

#include <cstdint>

#include "classlib/Persistent.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxTypes.h"
#include "imaging/proc/PxConvertRows.h"

namespace imaging {

// True when Angle is a whole number of degrees that is a multiple of 90.
bool PxIsRightAngle(double Angle);

// Rotates Bitmap in place into its rotated bounding size; uncovered pixels
// take Colour (a value as for TPxBitmap::Fill: a TColor for colour formats,
// a byte for 8-bit formats; for px1g the nearest of black and white by the
// grey level of the TColor; pxCMYK and pxCIELab fills need the colour
// services of PxBitmapServices). Right angles cover every pixel and use no
// fill. Bitmap keeps its own alpha channel, which is not rotated (the
// channel's object may be replaced: look it up again afterwards).
void PxRotateNearest(TPxBitmap* Bitmap, int32_t Colour, classlib::TObject* Sender, const TPxProgressEvent& OnProgress,
                     double Angle);
// Writes the rotation of Source into Dest (re-allocated in Source's format,
// palette copied). Source and Dest must be different images.
void PxRotateNearestInto(TPxBitmap* Source, TPxBitmap* Dest, int32_t Colour, classlib::TObject* Sender,
                         const TPxProgressEvent& OnProgress, double Angle);

// Rotates in place: px24RGB by right-angle steps and three shears (Colour
// fills the uncovered area; AntiAlias blends the shear edges with 12-bit
// weights). Other formats: see the header comment; the format is kept.
void PxRotateBitmap(TPxBitmap* Bitmap, bool AntiAlias, classlib::TObject* Sender, const TPxProgressEvent& OnProgress,
                    TPxRGB Colour, double Angle);
// The same steps for px8g and px8p with a background byte; other formats:
// nothing.
void PxRotateBitmap8(TPxBitmap* Bitmap, bool AntiAlias, uint8_t Background, classlib::TObject* Sender,
                     const TPxProgressEvent& OnProgress, double Angle);

// px1g rotation in place (other formats: nothing); uncovered pixels take
// BackgroundBit. Progress may be nullptr.
void PxRotateBilevel(TPxBitmap* Bitmap, bool BackgroundBit, TPxProgressRec* Progress, double Angle);
// The same mapping on px8g and px8p images (other formats: nothing);
// uncovered pixels take Background.
void PxRotateByteImage(TPxBitmap* Bitmap, uint8_t Background, double Angle);

// Rotation with bilinear (Quality 1 or less) or bicubic (Quality 2 or more)
// sampling; pixels outside the source read as the background.
// PxRotateSmooth24: px24RGB only, Colour a TColor.
void PxRotateSmooth24(TPxBitmap* Bitmap, int32_t Colour, int Quality, classlib::TObject* Sender,
                      const TPxProgressEvent& OnProgress, double Angle);
// PxRotateSmooth8: any one-byte format (px8g, px8p), the format kept.
void PxRotateSmooth8(TPxBitmap* Bitmap, uint8_t Background, int Quality, double Angle);

// 90-degree turns of Source into Dest, allocated as height x width in
// Source's format (palette copied). Clockwise: Dest(x, y) = Source(y, h - 1
// - x); anticlockwise: Dest(x, y) = Source(w - 1 - y, x). The 24 variants
// need px24RGB, the 8 variants a one-byte format; otherwise nothing.
void PxRotate24Clockwise(TPxBitmap* Source, TPxBitmap* Dest);
void PxRotate24AntiClockwise(TPxBitmap* Source, TPxBitmap* Dest);
void PxRotate8Clockwise(TPxBitmap* Source, TPxBitmap* Dest);
void PxRotate8AntiClockwise(TPxBitmap* Source, TPxBitmap* Dest);

// Mirrors in place: Direction 0 left-right, 1 upside-down, for every pixel
// format (px1g exactly over the image width); the alpha channel is mirrored
// the same way. Any other direction: nothing.
void PxFlipBitmap(TPxBitmap* Bitmap, uint8_t Direction);

// The rotation of the processing object's Rotate after its colour is
// resolved (Colour is a TColor, never -1): chooses the rotator by the
// anti-alias switch, Quality and the pixel format, and rotates the alpha
// channel along with 0 (transparent) as its background. Angle 0: nothing.
void PxRotateImage(TPxBitmap* Bitmap, double Angle, bool AntiAlias, int Quality, int32_t Colour,
                   classlib::TObject* Sender, const TPxProgressEvent& OnProgress);

// Turns a loaded image by its EXIF orientation: 2 mirror left-right; 3
// mirror top-bottom then left-right; 4 mirror top-bottom; 5 rotate 90
// degrees clockwise then mirror left-right; 6 rotate 90 degrees clockwise; 7
// rotate 90 degrees anticlockwise then mirror left-right; 8 rotate 90
// degrees anticlockwise; any other value nothing. Every pixel format keeps
// its format; the alpha channel turns along.
void PxApplyEXIFOrientation(TPxBitmap* Bitmap, int Orientation);

}  // namespace imaging
