// PDF writer of the toolkit (file type 18, extension PDF; write only): a
// PDF 1.4 document of one page per image. The image becomes an image
// XObject scaled to fit the paper with its aspect kept, placed at the
// top-left corner.
//
// The document is built in memory as objects of PdfObjects.h and written
// only when it is closed, with a cross-reference table, so every offset is
// known. PxPDFCreateDocument starts a document, PxPDFAddPage adds pages,
// PxPDFClose writes and frees it; PxWritePDF (the row's writer) does the
// three for one page. Object numbers of a one-page document: 1 catalog,
// 2 resources, 3 image, 4 content stream, 5 page, 6 page tree,
// 7 information dictionary. Lines end with a single line feed. Offsets in
// the cross-reference table and after "startxref" count from the start of
// the document (the stream position at which PxPDFClose writes it).
//
// Compression (PDFCompression): 0 none, 1 run-length (PackBits), 2 CCITT
// Group 4, 3 CCITT Group 3 two-dimensional, 4 JPEG (DCT), 5 LZW.
// - 1-bit images: 0, 1, 2, 3 and 5; 4 is written as 3 (and 3 is stored into
//   the parameters); values above 5 are written uncompressed.
// - Colour images: 4 and 5; any other value is written uncompressed.
// LZW uses the TIFF LZW encoder hook of the parameters (TIFFLZWCompress),
// else the I/O unit's global one; without either the image is written
// uncompressed.
//
// Images: px1g pages are written as 1-bit DeviceGray, px24RGB pages as 8-bit
// DeviceRGB (a grey JPEG as DeviceGray); other pixel formats are converted to
// px24RGB on a copy (the caller's image is never changed). BitsPerSample and
// SamplesPerPixel of the parameters are set to what a page is written with.
//
// Failure: an empty image sets the aborting flag of the progress record and
// adds no page (PxWritePDF then writes nothing at all). Stream and JPEG
// writer errors pass to the caller as exceptions.
//
// Threads: a document belongs to one thread at a time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/formats/pdf/PdfObjects.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

// An open PDF document; it owns every object of its object list (the other
// lists only point into it).
class TPxPDFDocument {
public:
    TPxPDFDocument() = default;
    TPxPDFDocument(const TPxPDFDocument&) = delete;
    TPxPDFDocument& operator=(const TPxPDFDocument&) = delete;
    ~TPxPDFDocument();

    TPxPDFObjectList Objects;
    TPxPDFObjectList Pages;
    TPxPDFObjectList Images;
    TPxPDFObjectList Contents;
    TPxPDFDictionaryObject* Resources = nullptr;  // object 2, shared
    TPxPDFDictionaryObject* Catalog = nullptr;    // object 1
};

// A new document holding the catalog (1) and the resources dictionary (2).
std::unique_ptr<TPxPDFDocument> PxPDFCreateDocument();
// Adds the image XObject, the content stream and the page of Bitmap.
void PxPDFAddPage(TPxPDFDocument* Document, TPxBitmap* Bitmap, TIOParamsVals& Params,
                  TPxIOProgressInfo& Progress);
// Nothing for an empty document; else adds the page tree and the
// information dictionary, writes the file at the stream's position and
// frees the document (which is left empty).
void PxPDFClose(std::unique_ptr<TPxPDFDocument>& Document, classlib::TStream* Stream, TIOParamsVals& Params);
// A complete one-page document at the stream's position.
void PxWritePDF(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress);

// The parts of the file. Origin is the stream position of the document's
// first byte; object positions are kept relative to it.
void PxPDFWriteHeader(classlib::TStream* Stream);
void PxPDFWriteObjects(classlib::TStream* Stream, const TPxPDFObjectList& Objects, int64_t Origin);
void PxPDFWriteXRef(classlib::TStream* Stream, const TPxPDFObjectList& Objects, int32_t InfoNumber,
                    int64_t Origin);
// "D:" and the time as "yyyymmddhhmmss" (the information dictionary's
// creation date).
std::string PxPDFFormatDate(const SYSTEMTIME& Time);

// Puts PxWritePDF into the PDF row of the registry.
void PxInstallPDFFormat();

}  // namespace imaging
