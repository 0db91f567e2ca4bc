// Magic-wand region finding: the pixels whose colour is close to the colour
// at a start point.
//
// Similarity: a pixel is similar when each of its red, green and blue values
// (read converted to 8-bit RGB, whatever the pixel format) differs from the
// start pixel's by at most Tolerance (0: the exact colour only; 255: every
// colour). Pixels outside the image are never similar.
//
// The connected region is the set of similar pixels 4-connected to the start
// pixel through similar pixels (two areas touching only at a corner are two
// regions).
//
// None of the routines clears the mask it writes into; the caller does.
// Ownership: the point list of PxMagicWandContour belongs to the caller.
// Threads: a routine only reads Bitmap and writes Mask; callers keep both
// to one thread for the call.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace imaging {

class TPxBitmap;
class TPxMask;

// The outline of the connected region around (x, y) as one closed polygon
// whose vertices lie on pixel corners, one vertex at every change of
// direction of the border (each convex corner appears twice in a row). With
// Dilate the region first grows by one pixel, but only inside its own
// bounding box. Count is the number of points; an empty list and Count 0 when
// (x, y) lies outside the image.
std::vector<POINT> PxMagicWandContour(TPxBitmap* Bitmap, int x, int y, bool Dilate, int Tolerance, int& Count);

// Writes Value into Mask at every pixel of the connected region around
// (x, y); with Dilate at every pixel of each region pixel's 3 x 3
// neighbourhood, clipped to the image. Nothing happens when (x, y) lies
// outside the image.
void PxMagicWandFill(TPxBitmap* Bitmap, int x, int y, int Value, TPxMask* Mask, int Tolerance, bool Dilate);

// Writes Value into Mask at every similar pixel of the whole image, without
// connectivity. Nothing happens when (x, y) lies outside the image.
void PxMagicWandGlobal(TPxBitmap* Bitmap, int x, int y, int Value, TPxMask* Mask, int Tolerance);

}  // namespace imaging
