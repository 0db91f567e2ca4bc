// The image buffer of the image toolkit.
//
// TPxBitmap holds width, height, one of the TPxPixelFormat layouts, rows
// padded to a row alignment (32 bits by default), a palette for px8p, an
// optional alpha channel (itself a px8g TPxBitmap, 255 = opaque) and a
// storage location:
//   pxMemory  - one block aligned to 64 bytes holding the rows bottom-up, or,
//               when no single block can be had, segments holding them
//               top-down;
//   pxFile    - a delete-on-close temporary file (TPxFileBuffer); rows are
//               mapped into heap buffers one (GetScanline) or a few (MapRow)
//               at a time;
//   pxTBitmap - a classlib::TBitmap DIB section that the platform can draw.
// Images whose byte size is above FileThreshold go to a file, those below it
// stay in memory (a size equal to it keeps the location asked for).
//
// Ownership: an image owns its file buffer, palette, row tables, segments,
// memory block (unless attached), system bitmap (unless attached) and alpha
// channel. An alpha channel never has an alpha channel of its own.
//
// Threads: an image is used by one thread at a time and takes no lock. The
// global settings below are written once at start-up.
//
// Failure: Allocate reports every storage failure by returning false and
// leaving the image empty (0 x 0); it raises nothing. Row and pixel accessors
// check nothing: callers keep coordinates inside the image. Operations that
// need a service of another unit that has not been installed (see
// TPxBitmapServices) raise classlib::EInvalidOperation naming it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Persistent.h"
#include "imaging/model/PxTypes.h"

namespace classlib {
class TBitmap;
class TCanvas;
}  // namespace classlib

namespace imaging {

class TPxFileBuffer;
class TPxBitmap;

// Access bits of an image: rows are read (1), rows are written (2).
constexpr uint8_t pxAccessRead = 1;
constexpr uint8_t pxAccessWrite = 2;
constexpr uint8_t pxAccessReadWrite = 3;

// Global settings of the image buffer (written by the toolkit's start-up).
// -1: the file threshold of new images comes from the physical memory.
extern int64_t PxMemoryThreshold;
// A memory image whose memory cannot be had goes to a temporary file.
extern bool PxAllowFileFallback;
// Segmented memory is tried when no single block can be had.
extern bool PxAllowSegments;
// Folder of the temporary files (with a trailing separator); empty = the
// system's temporary folder.
extern std::wstring PxTempFolder;

// Services of other units of the toolkit that the buffer calls. Each entry is
// empty until the unit that implements it installs it (at its start-up or
// from its own initialisation); an operation that needs an empty entry raises
// classlib::EInvalidOperation "<what> not available" and changes nothing.
struct TPxBitmapServices {
    // Converts the pixels of Bitmap in place to Format (SetPixelFormat).
    void (*ConvertPixelFormat)(TPxBitmap& Bitmap, TPxPixelFormat Format) = nullptr;
    // Makes Dest a copy of Source, a TPxBitmap or a classlib::TBitmap (Assign).
    void (*Assign)(TPxBitmap& Dest, classlib::TObject* Source) = nullptr;
    // One pixel between CMYK (inverted, built-in profile) and RGB.
    TPxRGB (*CMYKToRGB)(const TPxCMYK& Pixel) = nullptr;
    TPxCMYK (*RGBToCMYK)(const TPxRGB& Pixel) = nullptr;
    // One pixel between CIELab and RGB.
    TPxRGB (*CIELabToRGB)(const TPxCIELab& Pixel) = nullptr;
    TPxCIELab (*RGBToCIELab)(const TPxRGB& Pixel) = nullptr;
};
extern TPxBitmapServices PxBitmapServices;

// The operations shared by every image class of the toolkit, so that row-copy
// code works on any of them.
class TPxBaseBitmap : public classlib::TObject {
public:
    std::wstring ClassName() const override { return L"TPxBaseBitmap"; }

    // Whether rows are read from / written back to their storage (bits
    // pxAccessRead, pxAccessWrite). Narrow it with TPxAccessScope.
    uint8_t Access = pxAccessReadWrite;

    virtual uint8_t* GetScanline(int Row) = 0;
    virtual int GetBitCount() = 0;
    virtual int GetHeight() = 0;
    virtual int GetWidth() = 0;
    virtual TPxPixelFormat GetPixelFormat() = 0;
    virtual int GetRowLen() = 0;
    // Address of the palette entries, nullptr when there is no palette.
    virtual TPxRGB* GetPaletteBuffer() = 0;
    // The entry when 0 <= Index < GetPaletteLen(), else black.
    virtual TPxRGB GetPaletteEntry(int Index) = 0;
    // Ignored outside 0 <= Index < GetPaletteLen().
    virtual void SetPaletteEntry(int Index, TPxRGB Colour) = 0;
    virtual int GetPaletteLen() = 0;
    virtual bool Allocate(int Width, int Height, TPxPixelFormat Format) = 0;
    virtual void Assign(classlib::TObject* Source) = 0;
    virtual void CopyPaletteTo(TPxBaseBitmap* Target) = 0;
};

// Sets the access of an image for the lifetime of the scope and restores the
// previous value on every way out.
class TPxAccessScope {
public:
    TPxAccessScope(TPxBaseBitmap& Bitmap, uint8_t Access) : bitmap_(Bitmap), saved_(Bitmap.Access)
    {
        bitmap_.Access = Access;
    }
    ~TPxAccessScope() { bitmap_.Access = saved_; }
    TPxAccessScope(const TPxAccessScope&) = delete;
    TPxAccessScope& operator=(const TPxAccessScope&) = delete;

private:
    TPxBaseBitmap& bitmap_;
    uint8_t saved_;
};

class TPxBitmap : public TPxBaseBitmap {
public:
    // An empty image (pxNoPixels, 0 x 0) asking for pxFile storage.
    TPxBitmap();
    // CreateSized: an empty image, then Allocate(Width, Height, Format).
    TPxBitmap(int Width, int Height, TPxPixelFormat Format);
    // An alpha channel: px8g of that size, every value 255, full alpha set;
    // pxTBitmap is replaced by pxMemory.
    static std::unique_ptr<TPxBitmap> CreateAsAlphaChannel(int Width, int Height, TPxLocation Location);
    ~TPxBitmap() override;
    TPxBitmap(const TPxBitmap&) = delete;
    TPxBitmap& operator=(const TPxBitmap&) = delete;
    std::wstring ClassName() const override { return L"TPxBitmap"; }

    // ---- public fields read or written by other units
    // Size in bytes above which pxMemory images go to a file and below which
    // pxFile images stay in memory.
    int64_t FileThreshold = 0;
    // Every byte of the image is known to be 255 (meaningful for alpha
    // channels; renderers and writers skip alpha work when set).
    bool FullAlpha = false;
    // How a 24-bit system bitmap becomes px1g: 0 ordered dither, 1 threshold.
    uint8_t BiLevelMethod = 1;
    // Number of colours a conversion to px8p produces.
    int PaletteCapacity = 256;
    // Rendering parameters (display range of grey images, channel offsets,
    // contrast in tenths, adjust switch).
    double DisplayMin = 0;
    double DisplayMax = 0;
    int32_t RedOffset = 0;
    int32_t GreenOffset = 0;
    int32_t BlueOffset = 0;
    int32_t FourthOffset = 0;
    uint8_t Adjust = 0;
    int32_t Contrast = 0;
    int32_t Reserved = -1;
    // Kept in pxTBitmap storage on behalf of a view with a legacy bitmap; set
    // and cleared by the view.
    bool LegacyBitmap = false;
    // Layer index recorded by the undo of the processing object (-1 none).
    int32_t UndoLayerIndex = -1;
    // When set, freeing the pixels keeps their memory block (heap or
    // PxAllocBlock storage) for the next allocation of this image that fits
    // in it, so that an image loaded again and again at similar sizes does
    // not take fresh memory each time. The kept block is released by the
    // next allocation that does not fit, by freeing the image while the
    // switch is off, and by the destructor.
    bool KeepStorage = false;

    // ---- size and format (for pxTBitmap every getter first calls
    // SyncFromVclBitmap)
    int GetWidth() override;
    int GetHeight() override;
    int GetBitCount() override;
    int GetChannelCount();
    TPxPixelFormat GetPixelFormat() override;
    int GetRowLen() override;
    bool IsEmpty();
    TPxLocation GetLocation() const { return location_; }
    int GetRowAlignment() const { return rowAlignment_; }
    bool IsAlphaChannel() const { return isAlpha_; }
    uint8_t GetAllocator() const { return allocator_; }
    // 0 the heap, 1 zero-filled global blocks, 2 PxAllocBlock; takes effect
    // at the next allocation (a held block is freed by the allocator that
    // made it).
    void SetAllocator(uint8_t Value) { allocator_ = Value; }
    // 1 while rows of an attached caller buffer are stored top-down.
    uint8_t GetRowOrder() const { return rowOrder_; }

    // Gives the image this size and format; storage and pixels are kept when
    // nothing changes and no rebuild is pending. The content is undefined
    // after a rebuild. False (image 0 x 0) when no storage can be had.
    bool Allocate(int Width, int Height, TPxPixelFormat Format) override;
    // Change one side keeping the content anchored at the top-left (the
    // alpha channel follows); 0 empties the image.
    void SetWidth(int Value);
    void SetHeight(int Value);
    // Converts the pixels (nothing when unchanged).
    void SetPixelFormat(TPxPixelFormat Format);
    // Row alignment in bits (a positive multiple of 8, else
    // EInvalidArgument). Only a pxMemory image changes its rows; others keep
    // their alignment and rebuild at their next Allocate.
    void SetRowAlignment(int Bits);
    // Moves the pixels, palette and alpha channel into another location
    // (the size rule may still choose memory or file). When the new storage
    // cannot be had the image is left as it was.
    void SetLocation(TPxLocation Location);
    // Frees the storage (and the alpha channel when asked); 0 x 0 afterwards,
    // the pixel format stays.
    void FreeImage(bool FreeAlpha);
    // Hands size, format, storage, palette and alpha channel to Target
    // (emptied first) and leaves this image empty.
    void MoveStorageTo(TPxBitmap* Target);

    // ---- attaching outside storage
    // Wraps Bitmap without copying: location pxTBitmap, the image takes size
    // and format from it (pf1bit px1g, pf8bit px8g or px8p by its palette,
    // pf24bit px24RGB, pf32bit px32RGB) and never frees it; Bitmap must
    // outlive the image's use of it. The previous storage is freed (the alpha
    // channel too when FreeFirst is set). A null Bitmap, or one of another
    // pixel format, leaves the image empty.
    void AttachVclBitmap(classlib::TBitmap* Bitmap, bool FreeFirst);
    // Wraps a caller's pixel buffer without copying: location pxMemory, rows
    // of GetRowLen() bytes at the image's row alignment; RowOrder 1 means the
    // buffer's first row is the top row, 0 that it holds the rows bottom-up.
    // The buffer is never freed by the image and must outlive its use. A px8p
    // image gets a palette of 256 entries. The previous storage is freed
    // (the alpha channel too when FreeFirst is set); a null Buffer leaves the
    // image empty.
    void AttachMemory(void* Buffer, int Width, int Height, TPxPixelFormat Format, bool FreeFirst,
                      uint8_t RowOrder);
    // Sets the number of palette entries in use (0 to 256); new entries are
    // black.
    void SetPaletteLen(int Count);

    // ---- system bitmap
    // Moves the image into pxTBitmap storage and returns the system bitmap
    // (owned by the image unless attached); nullptr for an empty image.
    classlib::TBitmap* GetVclBitmap();
    classlib::TCanvas* GetCanvas();
    void SyncFromVclBitmap();
    void SyncVclPalette();
    void SetupCanvasTransform();
    // Row addresses of a pxTBitmap image, row 0 first (empty otherwise).
    const std::vector<uint8_t*>& GetRowTable() const { return rowTable_; }

    // ---- rows
    // Row 0 is the top row. For pxFile the address is valid only until the
    // next GetScanline, MapRow or UnmapAllRows of this image.
    uint8_t* GetScanline(int Row) override;
    // Several rows at once: addresses stay valid until UnmapRow/UnmapAllRows.
    uint8_t* MapRow(int Row);
    void UnmapRow(int Row);
    void UnmapAllRows();

    // ---- palette
    TPxRGB* GetPaletteBuffer() override;
    TPxRGB GetPaletteEntry(int Index) override;
    void SetPaletteEntry(int Index, TPxRGB Colour) override;
    int GetPaletteLen() override;
    void CopyPaletteTo(TPxBaseBitmap* Target) override;

    // Makes this image a copy of a TPxBitmap or classlib::TBitmap.
    void Assign(classlib::TObject* Source) override;

    // ---- alpha channel
    // nullptr for an alpha channel; otherwise the alpha channel, created on
    // demand (all 255).
    TPxBitmap* GetAlphaChannel();
    bool HasAlphaChannel() const { return alpha_ != nullptr; }
    // Takes Alpha (owned from now on) as alpha channel without copying; the
    // previous alpha channel is freed.
    void AttachAlphaChannel(TPxBitmap* Alpha);
    // Frees the alpha channel; with Merge a px24RGB image is first blended
    // onto Background (a TColor) by the alpha values.
    void RemoveAlphaChannel(bool Merge, int32_t Background);

    // ---- pixels (no bounds checks)
    uint8_t GetPixelGray8(int x, int y);
    void SetPixelGray8(int x, int y, uint8_t Value);
    uint16_t GetPixelGray16(int x, int y);
    void SetPixelGray16(int x, int y, uint16_t Value);
    float GetPixelFloat(int x, int y);
    void SetPixelFloat(int x, int y, float Value);
    TPxCMYK GetPixelCMYK(int x, int y);
    void SetPixelCMYK(int x, int y, const TPxCMYK& Value);
    TPxRGB GetPixelRGB(int x, int y);
    void SetPixelRGB(int x, int y, const TPxRGB& Value);
    TPxRGB* GetPixelRGBAddr(int x, int y);
    TPxRGB48 GetPixelRGB48(int x, int y);
    void SetPixelRGB48(int x, int y, const TPxRGB48& Value);
    // The alpha value: of this image when it is an alpha channel, else of its
    // alpha channel (created on demand).
    uint8_t GetAlpha(int x, int y);
    void SetAlpha(int x, int y, uint8_t Value);
    // The pixel of any format as 8-bit red, green, blue.
    TPxRGB GetPixelAsRGB(int x, int y);

    // ---- filling and tests
    // Fills every pixel with Value (a bit, a grey level, a float or a TColor
    // with red in the low byte, by format) and sets the full-alpha flag when
    // Value is the format's all-255 value.
    void Fill(double Value);
    // The same on the inclusive rectangle clipped to the image; the full-alpha
    // flag is not changed.
    void FillRect(int x1, int y1, int x2, int y2, double Value);
    // Recomputes FullAlpha: every pixel byte (alignment bytes excluded) 255.
    void CheckFullAlpha();
    bool IsAllZero();
    // Every pixel (palette entry for px8p) has equal red, green and blue;
    // true for formats without colour.
    bool IsGrayScale();

private:
    void Init();
    bool AllocateStorage();
    bool AllocAligned(int64_t Size);
    bool AllocSegments();
    bool AllocateVclStorage(int64_t Size);
    void FreeVclBitmap();
    void FreeSegments();
    void ReleaseCurrentFileRow();
    uint8_t* RowAddress(int r);
    void BuildRowTable();
    void SetSide(int Value, bool IsWidth);
    void FreeSpareBlock();
    void SetVclSide(int Value, bool IsWidth);
    void CopyRowsFrom(TPxBitmap& Source);

    std::unique_ptr<TPxFileBuffer> fileBuffer_;
    uint8_t* currentFileRow_ = nullptr;
    std::vector<TPxRGB> palette_;
    int paletteLen_ = 0;
    std::unique_ptr<TPxBitmap> alpha_;
    uint8_t* memStart_ = nullptr;
    void* memBlock_ = nullptr;
    int64_t memBlockSize_ = 0;
    uint8_t memBlockAllocator_ = 0;
    // The block kept by KeepStorage (nullptr: none).
    void* spareBlock_ = nullptr;
    int64_t spareBlockSize_ = 0;
    uint8_t spareBlockAllocator_ = 0;
    classlib::TBitmap* vclBitmap_ = nullptr;
    std::vector<uint8_t*> rowTable_;
    std::vector<uint8_t*> mappedRows_;
    std::vector<int> mappedRowNumbers_;
    uint8_t rowOrder_ = 0;
    int width_ = 0;
    int height_ = 0;
    int bitCount_ = 0;
    int channelCount_ = 0;
    int rowLen_ = 0;
    TPxPixelFormat format_ = pxNoPixels;
    bool isAlpha_ = false;
    TPxLocation location_ = pxFile;
    bool vclAttached_ = false;
    bool memAttached_ = false;
    int rowAlignment_ = 32;
    uint8_t allocator_ = 2;
    bool reallocate_ = true;
    int segmentCount_ = 0;
    int rowsPerSegment_ = 0;
    std::vector<void*> segments_;
    bool syncing_ = false;
};

// True when both images have the same size and pixel format, the same stored
// rows (alignment bytes included) and, when both have one, the same alpha
// rows; false when only one has an alpha channel or the row lengths differ.
bool PxCompareBitmaps(TPxBitmap* a, TPxBitmap* b);

namespace detail {
// Test seam: when true the one-block memory path reports no block, so that
// segments and the file fallback can be exercised.
extern bool PxFailSingleBlock;
}  // namespace detail

}  // namespace imaging
