// Resolution steps of a load: the default resolution for files without one,
// the equalisation of images whose horizontal and vertical resolutions
// differ, and passing the resolution to an attached view.
//
// The equalisation (TImgIO::AdjustDPI, PxAdjustDPI) with dx, dy the
// resolutions and w x h the size of the image (the bitmap's own size: a
// reader may have delivered an embedded thumbnail instead of the full
// image): nothing when dx = dy, when either is 0 or less or when the image
// has no pixels. When h < w the height becomes Trunc(h / dy * dx) and the
// vertical resolution dx; otherwise the width becomes Trunc(w / dx * dy) and
// the horizontal resolution dy; nothing either when one resolution is more
// than 16 times the other or the new size would pass the toolkit's largest
// image (PxCheckRaster's caps): the resolutions come from the file, and only
// damaged files hold such ratios. The image is stretched to the new size by
// the nearest neighbour, or with the filtered option resampled as px24RGB
// with rfFastLinear.
//
// Threads: an image and its parameters are used by one thread at a time.
#pragma once

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

// The equalisation of Bitmap by Params' resolution; the resolution is set
// through SetDpiX/SetDpiY (an attached view follows) and the parameters'
// width or height takes the new size. The alpha channel is not carried over.
// Returns a new bitmap that the caller owns, or Bitmap itself when nothing
// was to be done.
TPxBitmap* PxAdjustDPI(TPxBitmap* Bitmap, TIOParamsVals* Params, bool Filtered);

}  // namespace imaging
