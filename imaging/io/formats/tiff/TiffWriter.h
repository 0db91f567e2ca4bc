// The TIFF writer of the toolkit (file type 1): writes one TPxBitmap with
// its file parameters as one page of a little-endian TIFF, either as a new
// file or inserted into an existing little-endian TIFF; plus the directory
// entry builders it uses.
//
// Layout written: the 8-byte header at the start position (for a new file
// a placeholder first, the real header last), the strips, the tag values
// that do not fit in an entry (each at an even position), the EXIF and GPS
// sub-directories when the parameters carry EXIF, and the page's directory
// with its entries sorted by tag.
//
// Codecs of other units: LZW through the parameters' or the global encoder
// hook (IOStartup.h; without either the page is stored uncompressed), CCITT
// through Ccitt.h, JPEG through JpegWriter.h, Deflate through the class
// library's zlib streams.
//
// Failure: every write is checked; a stream that takes fewer bytes sets
// the aborting flag of the progress record, the strip loop stops, and
// neither the remaining tags, the directory nor the header are written (a
// new file keeps its 8 placeholder bytes). Insertion into a stream that is
// not a little-endian TIFF, or whose directory chain loops or leaves the
// stream, sets the aborting flag and writes nothing. The caller's bitmap is
// never changed (the writer converts or inverts a copy); some fields of the
// caller's parameters are adjusted to what was written (photometric,
// samples, bits per sample, compression).
//
// Threads: a call uses only its arguments and the process-wide hooks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Stream.h"
#include "imaging/io/formats/tiff/TiffTags.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;
struct TPxIOProgressInfo;

// The entries of one directory being written and the stream their
// out-of-entry values go to (at its position, made even first). Writes set
// *Aborting when the stream takes fewer bytes.
struct TPxTIFFEntryList {
    classlib::TStream* Stream = nullptr;
    bool* Aborting = nullptr;
    std::vector<TTIFFIFDEntry> Entries;
};

// Writes one zero byte when the stream's position is odd.
void PxTIFFAlignEven(classlib::TStream* Stream, bool& Aborting);

// Entry builders. Marked (optional): the entry is added only when Params
// has the tag marked in its EXIF tag list (TIOParamsVals::IsEXIFTagMarked).
void PxTIFFAddLong(TPxTIFFEntryList& List, uint16_t Tag, uint32_t Value);
void PxTIFFAddLongs(TPxTIFFEntryList& List, uint16_t Tag, const std::vector<uint32_t>& Values);
void PxTIFFAddShort(TPxTIFFEntryList& List, uint16_t Tag, uint16_t Value, const TIOParamsVals* Marked = nullptr);
// 1 or 2 values inline, more written out.
void PxTIFFAddShorts(TPxTIFFEntryList& List, uint16_t Tag, const std::vector<uint16_t>& Values);
void PxTIFFAddByte(TPxTIFFEntryList& List, uint16_t Tag, uint8_t Value);
void PxTIFFAddUndefinedByte(TPxTIFFEntryList& List, uint16_t Tag, uint8_t Value,
                            const TIOParamsVals* Marked = nullptr);
// RATIONAL of Value (PxFloatToRational, precision 5e-9; negative values
// count as 0).
void PxTIFFAddRational(TPxTIFFEntryList& List, uint16_t Tag, double Value, const TIOParamsVals* Marked = nullptr);
void PxTIFFAddRationals(TPxTIFFEntryList& List, uint16_t Tag, const std::vector<double>& Values);
// ASCII: empty gives no entry; 1 to 4 characters inline with count = length
// (no terminating zero); longer ones written out with their terminating
// zero, count = length + 1.
void PxTIFFAddString(TPxTIFFEntryList& List, uint16_t Tag, const std::string& Text);
// Count = the text's length; at most 4 bytes stored inline, no terminating
// zero (a longer text keeps only its first 4 bytes).
void PxTIFFAddInlineASCII(TPxTIFFEntryList& List, uint16_t Tag, const std::string& Text);
void PxTIFFAddInlineBytes(TPxTIFFEntryList& List, uint16_t Tag, const std::string& Bytes);
// BYTE holding UTF-16LE text and a zero code unit: count = 2 x characters +
// 2; one character inline; empty text gives no entry.
void PxTIFFAddWideString(TPxTIFFEntryList& List, uint16_t Tag, const std::wstring& Text);
// Type BYTE, UNDEFINED or LONG (count in 4-byte units, rounded up) holding
// a block of bytes written out (inline when at most 4 bytes).
void PxTIFFAddBlock(TPxTIFFEntryList& List, uint16_t Tag, uint16_t Type, const std::vector<uint8_t>& Bytes);

// Sorts by ascending tag (stable).
void PxTIFFSortEntries(std::vector<TTIFFIFDEntry>& Entries);

// PackBits of one row: runs of 4 to 128 equal bytes as (1 - length, byte),
// everything else in literals of up to 128 bytes (length - 1, bytes).
std::vector<uint8_t> PxTIFFPackBitsRow(const uint8_t* Row, int32_t Length);

// Writes Bitmap (nullptr: the parameter tags only) with Params as one page.
// InsertPage false: a new file at the stream's position; returns 1.
// InsertPage true: the TIFF starts at stream position 0; the page goes
// before page Params.TIFFImageIndex (appended when the index is beyond the
// last page); returns the former page count + 1. Returns 0 when the
// aborting flag was set (by this call or before it).
int32_t PxWriteTIFF(classlib::TStream* Stream, bool InsertPage, TPxBitmap* Bitmap, TPxIOProgressInfo& Progress,
                    TIOParamsVals& Params);

// Copies the EXIF tags of Params (the page tags 271, 272, 306, 274, 282,
// 283, 296, 305, 315, 318, 531, 319, 529, 532, 33432, 18246, 40091 to 40095
// and the EXIF and GPS sub-directories 34665, 34853, as the EXIF block of
// the parameters holds them) into page Page of a TIFF-structured file, read
// from InputStream at its position, or from the file InputFileName when
// the stream is nullptr. All pages of the changed file are written to
// OutputStream (repositioned to where the input started when it is the
// same stream), or to the file OutputFileName when that stream is nullptr.
// Returns true; stream and file errors raise.
bool PxCopyEXIFToTIFF(classlib::TStream* InputStream, classlib::TStream* OutputStream,
                      const std::wstring& InputFileName, TIOParamsVals& Params, int32_t Page,
                      const std::wstring& OutputFileName);

// The writer of the TIFF row of the format registry: a new file at the
// stream's position. Never raises: failures set the aborting flag.
void PxWriteTIFFFormat(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params,
                       TPxIOProgressInfo& Progress);

// Puts PxWriteTIFFFormat into the TIFF row of the registry.
// PxInstallBuiltInFormats calls it.
void PxInstallTIFFWriter();

}  // namespace imaging
