// The file structure layer of the TIFF reader: directories (IFDs), their
// entries and typed access to tag values, and the description of one page
// (TTIFFVars) that the strip and tile decoder consumes.
//
// Every read seeks to the context's base plus a file offset, is checked
// against the stream's size first and never goes beyond the stream's end; a
// value whose count times element size does not fit in the stream counts as
// absent. Tag values are copied into owned containers (nothing keeps an
// address in a 32-bit field).
//
// Threads: a context is used by one thread; it does not own its stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Stream.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/model/PxTypes.h"

namespace imaging {

class TPxBitmap;
class TPxMask;
class TIOParamsVals;
struct TPxIOProgressInfo;

// One 12-byte directory entry in host order. The value word is swapped as a
// whole for big-endian files, so an inline SHORT lies in its high half and an
// inline BYTE in its top byte there.
struct TTIFFIFDEntry {
    uint16_t Tag = 0;
    uint16_t Type = 0;
    uint32_t Count = 0;
    uint32_t Value = 0;
};

// One loaded directory over a stream (not owned).
struct TTIFFIFDContext {
    bool LittleEndian = true;
    classlib::TStream* Stream = nullptr;
    std::vector<TTIFFIFDEntry> Entries;
    int64_t Base = 0;  // stream position that file offsets are added to

    // The stream's size (read on each call).
    int64_t StreamSize() const;
    // Reads Count bytes at Base + Offset into Buffer; bytes beyond the end
    // of the stream stay as they were. Returns the bytes read.
    int64_t ReadAt(int64_t Offset, void* Buffer, int64_t Count) const;
    // True when Count bytes at Base + Offset lie inside the stream.
    bool Fits(int64_t Offset, int64_t Count) const;
};

// Walks the directory chain from FirstOffset: counts its directories into
// Count and loads directory PageIndex into Ctx. The walk ends at an empty
// directory, one cut off by the stream's end, a next offset below 8 or
// outside the stream, and at any directory already visited (loops of any
// length). False when no entries were loaded.
bool PxTIFFReadIFD(int32_t PageIndex, int64_t FirstOffset, TTIFFIFDContext& Ctx, int32_t& Count);

// Index of the first entry with Tag, -1 when none.
int PxTIFFFindTag(const TTIFFIFDContext& Ctx, uint16_t Tag);
// The entry's value word; SHORT and BYTE give their 16- or 8-bit value.
int64_t PxTIFFGetTagValue(const TTIFFIFDContext& Ctx, uint16_t Tag, int64_t Default);
// Value number Index of a SHORT or LONG tag; Default when absent, Index out
// of range, another type, or the value outside the stream.
int64_t PxTIFFGetTagValueN(const TTIFFIFDContext& Ctx, uint16_t Tag, uint32_t Index, int64_t Default);
// All values of a SHORT or LONG tag (empty when absent or not wholly inside
// the stream).
std::vector<uint32_t> PxTIFFGetTagArray(const TTIFFIFDContext& Ctx, uint16_t Tag);
// RATIONAL (or SRATIONAL) number Index as a double; a zero denominator
// counts as 1. Default when absent, out of range or outside the stream.
double PxTIFFGetRationalN(const TTIFFIFDContext& Ctx, uint16_t Tag, uint32_t Index, double Default);
// Number Index of a tag of any numeric field type (BYTE, SHORT, LONG, their
// signed forms, RATIONAL, SRATIONAL, FLOAT, DOUBLE) as a double; a zero
// denominator counts as 1. Default when absent, out of range, not numeric
// or outside the stream.
double PxTIFFGetNumberN(const TTIFFIFDContext& Ctx, uint16_t Tag, uint32_t Index, double Default);
inline double PxTIFFGetRational(const TTIFFIFDContext& Ctx, uint16_t Tag)
{
    return PxTIFFGetRationalN(Ctx, Tag, 0, 0.0);
}
// The tag's data bytes (count x type size; inline when they fit in the
// value word); empty when absent, of an unknown type or outside the stream.
std::vector<uint8_t> PxTIFFGetTagBytes(const TTIFFIFDContext& Ctx, uint16_t Tag);
// An 8-bit string with every trailing zero byte removed: count <= 4 from the
// value word (as PxTIFFGetInlineString); counts above 1,048,575 give an empty
// string; else the bytes at the offset.
std::string PxTIFFGetTagString(const TTIFFIFDContext& Ctx, uint16_t Tag);
// Exactly count bytes (1 to 4) of the value word in file order, a
// terminating zero included; empty when absent or the count is out of range.
std::string PxTIFFGetInlineString(const TTIFFIFDContext& Ctx, uint16_t Tag);
// UTF-16LE text of a BYTE tag: count > 4: (count - 2) div 2 characters at
// the offset; count <= 4: the one character at the start of the value word.
std::wstring PxTIFFGetTagWideString(const TTIFFIFDContext& Ctx, uint16_t Tag);

// The description of the page being read.
struct TTIFFVars {
    int32_t ImageWidth = 0;
    int32_t ImageHeight = 0;
    int32_t SamplesPerPixel = 1;
    int32_t BitsPerSample = 1;
    int32_t RowsPerStrip = 0;
    int32_t TileWidth = -1;
    int32_t TileLength = -1;
    uint16_t Photometric = 2;
    uint16_t PlanarConfig = 1;
    uint16_t Orientation = 1;
    uint16_t Compression = 1;
    std::vector<uint32_t> StripOffsets;
    std::vector<uint32_t> StripByteCounts;
    std::vector<uint32_t> TileOffsets;
    std::vector<uint32_t> TileByteCounts;
    std::vector<TPxRGB> ColorMap;
    std::vector<uint16_t> TransferFunction;  // 3 values per entry
    int32_t ResolutionUnit = 2;
    double XResolution = 0;
    double YResolution = 0;
    int32_t Predictor = 1;
    std::vector<uint8_t> JPEGTables;
    int32_t T4Options = 0;
    int32_t T6Options = 0;
    int32_t FillOrder = 1;
    double XPosition = 0;
    double YPosition = 0;
    std::string DocumentName;
    std::string ImageDescription;
    std::string PageName;
    int32_t PageNumber[2] = {0, 0};
    std::string Software;
    int32_t InkSet = 1;
    int32_t NumberOfInks = 4;
    int32_t DotRange[8] = {};
    std::string Artist;
    int32_t YCbCrSubsampling[2] = {2, 2};
    int32_t JPEGProc = 0;
    int64_t JPEGIFOffset = 0;
    int64_t JPEGIFByteCount = 0;
    int32_t JPEGRestartInterval = 0;
    int32_t JPEGLosslessPredictors[7] = {};
    int32_t JPEGPointTransforms[7] = {};
    int32_t JPEGQTables[7] = {};
    int32_t JPEGDCTables[7] = {};
    int32_t JPEGACTables[7] = {};
    TPxTIFFLZWDecompressProc LZWDecompress = nullptr;
    bool LittleEndian = true;
    TIOParamsVals* Params = nullptr;
    TPxMask* AlphaMask = nullptr;
    bool IgnoreAlpha = false;
    int32_t ExtraSample = 0;       // the first extra sample
    int32_t ExtraSampleCount = 0;  // at most 10
    int32_t ExtraSamples[10] = {};
    int32_t SampleFormat = 1;  // tag 339: 1 unsigned integers, 2 signed, 3 floating point
};


// The strip and tile decoder (TiffPixels.cpp). Each reads the pixels of the
// page Vars describes into Bitmap, allocated by the caller at the page's
// size and pixel format (the old-style JPEG reader allocates it itself);
// failures set the aborting flag of Progress.
void PxTIFFReadStrips(const TTIFFIFDContext& Ctx, TTIFFVars& Vars, TPxBitmap& Bitmap,
                      TPxIOProgressInfo& Progress);
void PxTIFFReadTiles(const TTIFFIFDContext& Ctx, TTIFFVars& Vars, TPxBitmap& Bitmap, TPxIOProgressInfo& Progress);
// Whether the strip and tile decoder can place the page Vars describes (its
// compression, sample layout and planar configuration); a page it cannot
// place is refused before allocation, never loaded blank.
bool PxTIFFCanDecode(const TTIFFVars& Vars);
void PxTIFFReadOldJPEG(const TTIFFIFDContext& Ctx, TTIFFVars& Vars, TPxBitmap& Bitmap,
                       TPxIOProgressInfo& Progress);

}  // namespace imaging
