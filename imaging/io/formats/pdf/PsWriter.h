// PostScript writer of the toolkit (file type 17, extensions PS and EPS;
// write only): a Language Level 2 document with document-structuring
// comments, one image per page, scaled to fit the paper with its aspect kept
// and placed at the top-left corner.
//
// Every line is 8-bit text ended by CR LF; numbers are plain decimal
// integers. Image data are run-length (PackBits), CCITT fax or JPEG coded and
// always carried as ASCII85 text.
//
// A document is built in three steps: PxPSCreate writes the header and
// returns the document's context, PxPSAddPage appends pages (each one
// rewrites the page count of the header in place, so the stream must be
// readable and seekable), PxPSClose writes the trailer and frees the context.
// PxWritePS (the row's writer) does the three for one page.
//
// Compression (PSCompression): 0 run-length; 1 CCITT Group 4 for 1-bit
// images; 2 CCITT Group 3 two-dimensional for 1-bit images; 3 JPEG for
// colour images. Colour images with 1 or 2, and 1-bit images with 3 or
// above, are written run-length. A JPEG page written with the grey JPEG
// colour space (JPEGColorSpace 1) is described as one component.
//
// Images: px1g pages are written as 1-bit grey, px24RGB pages as 8-bit RGB;
// any other pixel format is converted to px24RGB on a copy (the caller's
// image is never changed). BitsPerSample and SamplesPerPixel of the
// parameters are set to what a page is written with.
//
// Failure: an empty image sets the aborting flag of the progress record and
// adds no page (PxWritePS then writes nothing at all). Stream and JPEG
// writer errors pass to the caller as exceptions. A save stopped through the
// aborting flag leaves an incomplete page.
//
// Threads: a call uses only its arguments; one document belongs to one
// thread at a time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "classlib/Stream.h"
#include "classlib/Streams.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

// An open PostScript document: where its "%%Pages: " line starts and where
// the next page (or the trailer) is written; absolute stream positions.
struct TPxPSContext {
    int64_t PagesPosition = 0;
    int64_t EndPosition = 0;
};

// Writes the header at the stream's position; the caller owns the context
// and ends the document with PxPSClose.
std::unique_ptr<TPxPSContext> PxPSCreate(classlib::TStream* Stream, TIOParamsVals& Params);
// Adds one page: raises the header's page count by one and writes the page
// at the context's end position, which then moves past it.
void PxPSAddPage(TPxPSContext* Context, classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params,
                 TPxIOProgressInfo& Progress);
// Nothing for an empty context; else writes "%%Trailer" and "%%EOF" at the
// end position and frees the context (which is left empty).
void PxPSClose(std::unique_ptr<TPxPSContext>& Context, classlib::TStream* Stream);
// A complete one-page document at the stream's position.
void PxWritePS(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress);

// One page, numbered Page, on paper of PaperWidth x PaperHeight points, at
// the stream's position.
void PxPSWritePageBody(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params,
                       TPxIOProgressInfo& Progress, int Page, int PaperWidth, int PaperHeight);
// The page's image data as ASCII85 text appended to Data; returns the number
// of ASCII85 characters, line breaks and closing "~>" lines not counted.
// Bitmap must be px1g or px24RGB.
int64_t PxPSEncodeImage(classlib::TMemoryStream* Data, TPxBitmap* Bitmap, TIOParamsVals& Params,
                        TPxIOProgressInfo& Progress);
// Number in decimal, padded with blanks on the right to Width characters
// (longer numbers are not cut).
std::string PxPSPadNumber(int64_t Number, int Width);
// Time as "ddd mmm dd hh:nn:ss yyyy" with the user locale's short day and
// month names (the header's creation date).
std::string PxPSFormatDate(const SYSTEMTIME& Time);

// ---- shared with the PDF writer

// Bitmap itself when it is px1g or px24RGB, else a px24RGB copy held in
// Copy.
TPxBitmap* PxPSPageImage(TPxBitmap* Bitmap, std::unique_ptr<TPxBitmap>& Copy);
// A page's image as PxPSPageImage gives it, with its size and whether it
// is bilevel (px1g).
struct TPxPSPageImage {
    std::unique_ptr<TPxBitmap> Copy;
    TPxBitmap* Image = nullptr;
    int Width = 0;
    int Height = 0;
    bool Bilevel = false;
};
// Fills Page for Bitmap; false (after Progress.Abort()) when the image has
// no pixels.
bool PxPSPreparePageImage(TPxBitmap* Bitmap, TPxPSPageImage& Page, TPxIOProgressInfo& Progress);
// Every row of a px1g image through the Group 4 (Group4 true) or Group 3
// two-dimensional row encoder (fill order 1, one encoder state), then the
// flush call. The rows are coded as they are stored, so a reader told that
// 1 is black gives back the stored bits. Stops when Aborting is set.
void PxPSFaxEncodeImage(TPxBitmap* Bitmap, classlib::TStream* Output, bool Group4, bool& Aborting);

// The image as JPEG with the JPEG options of Params, appended to Output;
// returns the number of colour components of the JPEG (1 when
// JPEGColorSpace is 1, grey, else 3). A four-component colour space (3 CMYK,
// 4 YCCK) has no place in a page that describes the data as grey or RGB, so
// such a setting is written as YCbCr (Params is left as it was).
int PxPSWriteEmbeddedJPEG(classlib::TStream* Output, TPxBitmap* Bitmap, TIOParamsVals& Params,
                          TPxIOProgressInfo& Progress);

// Puts PxWritePS into the PostScript row of the registry.
void PxInstallPSFormat();

}  // namespace imaging
