// The two lighter bitmap classes of the image model and the video-for-Windows
// DIB drawing calls.
//
// TPxDibbitmap: a 1- or 24-bit device-independent section selected into its
// own memory device context, so that the platform can draw into it (metafile
// playback, DrawDib). Rows are bottom-up in the section, row 0 is the top
// row. It offers the operations of TPxBaseBitmap, so row-copy code and
// TPxBitmap copies accept it.
//
// TPxWorkBitmap: a bare block of rows (32-bit aligned, bottom-up) for the
// scratch images of resampling code. It is not a TPxBaseBitmap: its users
// only size it and reach its rows.
//
// Ownership: both own their pixel storage (and the DIB its device context)
// and free it on re-allocation and destruction. Threads: one thread uses an
// object at a time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "classlib/WinHandles.h"
#include "imaging/model/PxBitmap.h"

namespace imaging {

class TPxDibbitmap : public TPxBaseBitmap {
public:
    TPxDibbitmap();
    ~TPxDibbitmap() override;
    TPxDibbitmap(const TPxDibbitmap&) = delete;
    TPxDibbitmap& operator=(const TPxDibbitmap&) = delete;
    std::wstring ClassName() const override { return L"TPxDibbitmap"; }

    // Replaces the section by one of Width x Height pixels at BitCount (1 or
    // 24) bits, rows bottom-up, selected into a new memory DC compatible with
    // the screen. False when a side is 0, the bit count is neither 1 nor 24,
    // or the platform refuses the DC or the section; the fields then keep the
    // requested size while no section exists.
    bool AllocateBits(int Width, int Height, int BitCount);
    // Deletes the section, then the DC; zeroes bits, width, height and bit
    // count.
    void FreeBits();

    // Row Row (0 = top). No bounds check.
    uint8_t* GetScanline(int Row) override;
    int GetBitCount() override { return bitCount_; }
    int GetHeight() override { return height_; }
    int GetWidth() override { return width_; }
    // px1g for 1 bit, px24RGB for 24 bits, else pxNoPixels.
    TPxPixelFormat GetPixelFormat() override;
    int GetRowLen() override { return rowLen_; }
    TPxRGB* GetPaletteBuffer() override { return nullptr; }
    TPxRGB GetPaletteEntry(int) override { return TPxRGB{0, 0, 0}; }
    void SetPaletteEntry(int, TPxRGB) override {}
    int GetPaletteLen() override { return 0; }
    // px1g allocates 1 bit, px24RGB 24 bits; any other format fails.
    bool Allocate(int Width, int Height, TPxPixelFormat Format) override;
    // Only from another TPxDibbitmap: same size and bit count, all rows
    // copied. Other sources and a failed allocation change nothing more.
    void Assign(classlib::TObject* Source) override;
    void CopyPaletteTo(TPxBaseBitmap*) override {}

    // The memory DC with the section selected (0 before AllocateBits) and
    // the section; both owned by this object. Callers draw into the DC.
    HDC GetDC() const { return dc_ ? dc_->Get() : nullptr; }
    HBITMAP GetSection() const { return section_.Get(); }
    // The section's pixels (bottom row first), nullptr without a section.
    uint8_t* GetBits() const { return bits_; }
    // The section's header, followed by its two-entry colour table (black,
    // white), as handed to DIB drawing functions.
    const BITMAPINFO* GetBitmapInfo() const { return reinterpret_cast<const BITMAPINFO*>(&info_); }

private:
    struct TInfo {
        BITMAPINFOHEADER Header;
        RGBQUAD Colors[2];
    };

    int width_ = 0;
    int height_ = 0;
    int bitCount_ = 0;
    int rowLen_ = 0;
    // Declared before the DC: the DC (and with it the selection) goes first.
    classlib::TOwnedBitmap section_;
    std::unique_ptr<classlib::TMemoryDC> dc_;
    TInfo info_{};
    uint8_t* bits_ = nullptr;
};

class TPxWorkBitmap : public classlib::TObject {
public:
    TPxWorkBitmap() = default;
    // Allocates when Width and Height are above 0.
    TPxWorkBitmap(int Width, int Height, int BitsPerPixel);
    ~TPxWorkBitmap() override;
    TPxWorkBitmap(const TPxWorkBitmap&) = delete;
    TPxWorkBitmap& operator=(const TPxWorkBitmap&) = delete;
    std::wstring ClassName() const override { return L"TPxWorkBitmap"; }

    // Nothing when all three values are unchanged; otherwise frees the block
    // and allocates row length x height bytes. False (fields zeroed, no
    // block) when a value is not positive or no memory can be had.
    bool Allocate(int Width, int Height, int BitsPerPixel);
    // Row Row (0 = top) of the block. No bounds check.
    uint8_t* GetScanline(int Row);
    // Frees the block and zeroes the fields.
    void FreeBits();

    int GetWidth() const { return width_; }
    int GetHeight() const { return height_; }
    int GetBitsPerPixel() const { return bitsPerPixel_; }
    int GetRowLen() const { return rowLen_; }
    // The block (bottom row first); nullptr when nothing is allocated.
    void* GetBlock() const { return block_; }

private:
    int width_ = 0;
    int height_ = 0;
    int bitsPerPixel_ = 0;
    int rowLen_ = 0;
    void* block_ = nullptr;
};

// The platform's video-for-Windows DIB drawing (MsVfW32.dll, loaded on first
// use): each passes its arguments through and returns the platform's result;
// without the library they return 0 / false.
using TPxDrawDib = HANDLE;
TPxDrawDib PxDrawDibOpen();
bool PxDrawDibClose(TPxDrawDib Handle);
UINT PxDrawDibRealize(TPxDrawDib Handle, HDC DC, bool Background);
bool PxDrawDibDraw(TPxDrawDib Handle, HDC DC, int TargetX, int TargetY, int TargetWidth, int TargetHeight,
                   const BITMAPINFOHEADER* Header, const void* Bits, int SourceX, int SourceY, int SourceWidth,
                   int SourceHeight, UINT Flags);

}  // namespace imaging
