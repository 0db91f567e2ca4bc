// Import of Windows metafiles (file type 9) and enhanced metafiles (file
// type 10): the picture is loaded by the class library's TMetafile and drawn
// by GDI into a 24-bit image at a chosen size, optionally with an alpha
// channel that makes the undrawn background transparent. There is no
// metafile writer.
//
// Size: a width or height below 0 is computed from the other side keeping
// the picture's aspect ratio, both below 0 keep the picture's own size, and
// neither side exceeds PxMetafileMaxSize (IOStartup.h), the smaller side
// scaled with it (at least 1 pixel).
//
// Transparency: the picture is drawn a second time on the key colour red 3,
// green 2, blue 1 (TColor 66051); alpha is 0 wherever the key still shows,
// 255 elsewhere. A drawing that itself uses the key colour is transparent
// there.
//
// Failure: a picture of width or height 0 sets the aborting flag; errors of
// the class library while loading (EInvalidGraphic, file errors) pass to the
// caller. Threads: a call uses its arguments only (GDI objects of its own).
#pragma once

#include <cstdint>
#include <string>

#include "classlib/Graphics.h"
#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace classlib {
class TMetafile;
}

namespace imaging {

class TPxBitmap;
class TIOParamsVals;
class TImgIO;

// The transparency key (red 3, green 2, blue 1).
constexpr classlib::TColor PxMetafileTransparentKey = 66051;

// The size a picture of MetaWidth x MetaHeight is drawn at for the asked
// Width and Height (see above; both asked sides must be non-zero) under the
// cap MaxSize.
void PxMetafileImportSize(int MetaWidth, int MetaHeight, int Width, int Height, int MaxSize, int& OutWidth,
                          int& OutHeight);

// Draws Metafile into Bitmap (px24RGB, with an alpha channel when
// WithAlpha) on Background and fills the parameters (FileName empty,
// FileFormat 10 or 9, 8 bits, 3 samples, the drawn size as width and
// original width, height and original height, resolution PxDefaultDpiX/Y,
// no colour map). Width or Height 0 draws nothing and returns false without
// aborting; an empty picture, one of size 0, or an image that cannot be
// allocated sets the aborting flag and returns false.
bool PxDrawMetafile(classlib::TMetafile& Metafile, int Width, int Height, bool WithAlpha,
                    classlib::TColor Background, TPxBitmap& Bitmap, TIOParamsVals& Params,
                    TPxIOProgressInfo& Progress);

// The parameters of the picture at the stream's position without drawing
// it (its own size).
void PxReadMetafileParams(classlib::TStream* Stream, TIOParamsVals& Params);

// ---- the I/O object's import, through its public interface

// TImgIO.ImportMetafile: clears the aborting flag; a picture of size 0
// aborts; width or height 0, or a refused image (PrepareBitmap), end without
// drawing; otherwise ClearInfo, the drawing on the object's background
// colour, the view's resolution and the image-changed notification.
void PxImportMetafile(TImgIO& IO, classlib::TMetafile& Metafile, int Width, int Height, bool WithAlpha);
// The synchronous body of TImgIO.ImportMetafileFromFile: loads the file,
// imports it, records the file name after a successful import; the finish
// notification runs in every case, also when loading raises (the exception
// then passes on).
void PxImportMetafileFromFile(TImgIO& IO, const std::wstring& FileName, int Width, int Height, bool WithAlpha);
// TImgIO.ReadMetafileParams: the parameters of the picture at the stream's
// position into the object's parameters.
void PxImportReadMetafileParams(TImgIO& IO, classlib::TStream* Stream);

// Puts the metafile reader into the WMF and EMF rows of the registry: it
// imports at the picture's own size with transparency, on the background
// colour of the I/O object that sends the read (white without one); with
// Preview only the parameters are read. Idempotent.
void PxInstallMetafileFormats();

}  // namespace imaging
