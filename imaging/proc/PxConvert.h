// Pixel-format conversion of TPxBitmap: between every pair of the eleven
// pixel formats, the two colour-space routines between RGB and CIE L*a*b*,
// and the single-pixel CMYK conversions that the conversion relies on.
//
// Installation: this unit installs PxConvertToPixelFormat as
// PxBitmapServices.ConvertPixelFormat (what TPxBitmap::SetPixelFormat calls)
// and its CIELab routines as PxBitmapServices.CIELabToRGB / RGBToCIELab,
// through PxInstallPixelFormatConversion, which the processing unit's
// start-up and the I/O unit's PxInstallBuiltInFormats call. The image model itself only calls the service.
//
// Storage: conversions run row by row through GetScanline on both images,
// so pxFile images convert holding only their current rows; an image keeps
// its storage location (subject to the size rule of the new format).
// Conversions that go through px24RGB (from pxCMYK, pxCIELab, px32RGB, to
// pxCMYK and pxCIELab, pxRGB48 to px8p and to thresholded px1g) first make a
// px24RGB copy of the source under the source's size rule, so the source is
// never changed. Colour images become px8p through TPxQuantizer.
//
// Numbers: float grey is scaled with Trunc and limited to the target range
// (values outside 0..1 do not wrap); the ordered dither of px32f compares the
// matrix with the same 0..63 level as the 8-bit sources.
//
// Failure: an allocation that fails leaves the image empty (0 x 0, the new
// format set). If a conversion raises midway (a service hook, the file
// buffer, storage for a px24RGB copy: classlib::EOutOfMemory), the image
// gets its old pixels back and the exception passes to the caller.
//
// Threads: an image is converted by one thread at a time; the routines keep
// no state of their own.
#pragma once

#include <cstdint>

#include "imaging/model/PxTypes.h"

namespace imaging {

class TPxBitmap;
class TPxMask;

// Installs the conversion hooks (idempotent). See the header comment.
void PxInstallPixelFormatConversion();

// Converts Bitmap in place to Format (the worker of SetPixelFormat).
// pxMemory / pxFile: the storage moves to a temporary image, the image is
// re-allocated in the new format and filled by PxConvertPixelsFrom. pxTBitmap:
// only 1-bit to px24RGB and 24-bit to px1g or px8g change the pixels; an
// empty system bitmap only takes the new depth.
void PxConvertToPixelFormat(TPxBitmap& Bitmap, TPxPixelFormat Format);

// Fills Target, already allocated in its format at Source's size, from
// Source in any format, and copies Source's alpha channel. Nothing when the
// sizes differ or Target is in pxTBitmap; the pixels are left alone when
// Source has no format. Source is never changed: conversions that go
// through px24RGB convert a temporary copy.
void PxConvertPixelsFrom(TPxBitmap& Target, TPxBitmap& Source);

// Fills Mask from Bitmap: px1g gives a 1-bit mask and px8g an 8-bit mask
// with the same rows, the full flag taken from the bitmap's FullAlpha; px24RGB
// gives an 8-bit mask of the weighted grey (0..255), the full flag kept. The
// bounding box is recomputed from the content. Other formats leave the mask
// unchanged.
void PxBitmapToMask(TPxBitmap* Bitmap, TPxMask* Mask);

// Colour packed as red shl 16 + green shl 8 + blue, to CIELab bytes. L is
// stored as Trunc(L * 255 / 100), so that white (L 100) gives 255.
TPxCIELab PxRGB2CIELab(uint32_t Colour);
// CIELab bytes packed as b shl 16 + a shl 8 + L (a, b signed), to RGB;
// L = L byte * 100 / 255; each channel rounded (halves to even) and clamped.
TPxRGB PxCIELab2RGB(uint32_t Lab);
// The same on the pixel records.
TPxCIELab PxRGBToCIELabPixel(const TPxRGB& Colour);
TPxRGB PxCIELabToRGBPixel(const TPxCIELab& Lab);

// One CMYK pixel (stored inverted, 255 = no ink) to RGB and back, through
// PxBitmapServices.CMYKToRGB / RGBToCMYK (the built-in profile of the file
// unit) when installed, else by the profile-less formulas: red = C * K div
// 255 (likewise green from M, blue from Y); back, K = max(R, G, B) (1 when
// 0) and C = R * 255 div K (likewise M, Y).
TPxRGB PxCMYKToRGBPixel(const TPxCMYK& Pixel);
TPxCMYK PxRGBToCMYKPixel(const TPxRGB& Pixel);

}  // namespace imaging
