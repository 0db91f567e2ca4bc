// TBitmap: a GDI bitmap as a picture, by default a device-independent
// section whose rows the caller can reach directly.
//
// Storage: with HandleType bmDIB the pixels live in one DIB section, rows
// bottom-up in one contiguous block: ScanLine(y) = bits + stride * (h-1-y),
// so ScanLine(0) is the highest row address and ScanLine(h-1) the lowest, and
// the addresses stay valid until the size, pixel format or handle changes.
// With bmDDB the pixels live in a device-dependent bitmap compatible with the
// screen (PixelFormat pfDevice).
//
// Ownership: the bitmap owns its HBITMAP, its mask bitmap and its HPALETTE;
// SetHandle/SetPalette adopt what they are given, ReleaseHandle and
// ReleasePalette give it up. Palette and DIB colour table are kept in step
// both ways: a change made to the palette (SetPaletteEntries on GetPalette())
// reaches the colour table, and a change of the colour table through the
// canvas's DC (SetDIBColorTable) reaches the palette, whenever the bitmap is
// next used (handle, canvas, drawing, saving, conversion, GetPalette).
//
// Failure: a stream that is not a valid BMP raises EInvalidGraphic "Bitmap
// image is not valid"; GDI refusing to create a bitmap raises EOutOfMemory
// "Out of system resources".
#pragma once

#include <memory>

#include "classlib/Graphics.h"

namespace classlib {

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };
enum TBitmapHandleType { bmDIB, bmDDB };
enum TTransparentMode { tmAuto, tmFixed };

class TBitmapCanvas;

class TBitmap : public TGraphic {
public:
    TBitmap();
    ~TBitmap() override;
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;
    std::wstring ClassName() const override { return L"TBitmap"; }
    static const TGraphicClass Class;
    const TGraphicClass* GetGraphicClass() const override { return &Class; }

    // A TBitmap source is copied deeply; nullptr empties the bitmap; any
    // other TGraphic is drawn onto a white bitmap of its size.
    void Assign(const TPersistent* Source) override;

    bool GetEmpty() const override { return width_ <= 0 || height_ <= 0; }
    int GetWidth() const override { return width_; }
    int GetHeight() const override { return height_; }
    // Size changes keep the content at the top-left; new area is white.
    void SetWidth(int Value) override { SetSize(Value, height_); }
    void SetHeight(int Value) override { SetSize(width_, Value); }
    void SetSize(int AWidth, int AHeight);

    // The pixel format of the pixels (pfDevice for a DDB; pfCustom for an
    // unusual DIB layout). Setting it converts the pixels; an empty bitmap
    // only remembers it for its next size.
    TPixelFormat GetPixelFormat() const;
    void SetPixelFormat(TPixelFormat Value);
    TBitmapHandleType GetHandleType() const { return handleType_; }
    void SetHandleType(TBitmapHandleType Value);
    // Black-and-white 1-bit bitmap. Setting true converts to 1 bit with a
    // black/white table; false turns a monochrome bitmap into a colour one.
    bool GetMonochrome() const;
    void SetMonochrome(bool Value);

    // The HBITMAP (0 when empty); owned by the bitmap.
    HBITMAP GetHandle();
    // Adopts Value (DIB section or DDB). 0 empties the bitmap.
    void SetHandle(HBITMAP Value);
    // Gives the handle to the caller; the bitmap becomes empty.
    HBITMAP ReleaseHandle();
    bool HandleAllocated() const { return handle_ != nullptr; }

    // A 1-bit mask, 1 where the pixel equals the transparent colour; owned.
    HBITMAP GetMaskHandle();
    HBITMAP ReleaseMaskHandle();

    // The palette (owned; made from the colour table of a palette bitmap).
    HPALETTE GetPalette() override;
    // Adopts Value (the same handle again only re-reads its entries) and
    // copies its entries into the colour table of a palette DIB.
    void SetPalette(HPALETTE Value) override;
    // True pushes the palette's entries into the colour table.
    void SetPaletteModified(bool Value) override;
    HPALETTE ReleasePalette();

    // A DC with the bitmap selected; its drawing marks the bitmap changed.
    TCanvas* GetCanvas();

    // Address of row Row (0 = top); see the storage note above. A DDB is
    // turned into a DIB first. Out of range: EInvalidGraphicOperation "Scan
    // line index out of range".
    void* GetScanLine(int Row);

    // The colour left out when drawing transparently: with tmAuto the colour
    // of the bottom-left pixel, with tmFixed the one set.
    TColor GetTransparentColor();
    // clDefault selects tmAuto, any other colour tmFixed.
    void SetTransparentColor(TColor Value);
    TTransparentMode GetTransparentMode() const { return transparentMode_; }
    void SetTransparentMode(TTransparentMode Value);

    void Draw(TCanvas* ACanvas, const RECT& R) override;

    // BMP files: BITMAPFILEHEADER and an OS/2 core, 40-byte or later info
    // header; 1, 4, 8, 16, 24 and 32 bits, uncompressed, bit fields or RLE.
    // An empty stream (no bytes left) empties the bitmap.
    void LoadFromStream(TStream* Stream) override;
    // Writes the bitmap as a BMP file with a 40-byte info header (a DDB in
    // its DIB form); an empty bitmap writes nothing.
    void SaveToStream(TStream* Stream) override;
    // An RT_BITMAP resource of Instance; a missing one raises
    // EInvalidGraphic "Resource <name> not found".
    void LoadFromResourceName(HINSTANCE Instance, const std::wstring& ResName);

    // CF_BITMAP only (else EInvalidGraphic "Unsupported clipboard format").
    // Load copies the given bitmap; save returns a new DDB copy and a copy
    // of the palette.
    void LoadFromClipboardFormat(UINT Format, HANDLE Data, HPALETTE Palette) override;
    void SaveToClipboardFormat(UINT& Format, HANDLE& Data, HPALETTE& Palette) override;

private:
    friend class TBitmapCanvas;

    // Replaces the handle (deleting the old one) and reads its layout.
    void NewImage(HBITMAP Handle);
    void ReadLayout();
    // Builds a new handle of Format/Type from top-down BGRX pixels.
    HBITMAP MakeHandle(int W, int H, TPixelFormat Format, TBitmapHandleType Type,
                       const std::vector<RGBQUAD>& Table, const uint32_t* Pixels);
    void ConvertTo(TPixelFormat Format, TBitmapHandleType Type, const std::vector<RGBQUAD>* Table = nullptr);
    // The table a conversion to Format uses: the palette's entries when they
    // fit, else a default table.
    std::vector<RGBQUAD> TableFor(TPixelFormat Format) const;
    void ReadPixels32(std::vector<uint32_t>& Pixels);
    std::vector<RGBQUAD> ColorTable();
    void SetColorTable(const std::vector<RGBQUAD>& Table);
    void ResetPalette(const std::vector<RGBQUAD>& Table);
    void SyncPalette();
    void CanvasChanging(TObject*);
    void CanvasChanged(TObject*);
    void ReadDIB(TStream* Stream, int64_t Size, bool HasFileHeader);
    void Clear();
    uint8_t* RowAddress(int Row) const;

    HBITMAP handle_ = nullptr;
    HBITMAP mask_ = nullptr;
    HPALETTE palette_ = nullptr;
    bool isDIB_ = false;
    bool topDown_ = false;
    uint8_t* bits_ = nullptr;
    int width_ = 0, height_ = 0;
    int bitCount_ = 0;
    int stride_ = 0;
    DWORD masks_[3] = {0, 0, 0};
    bool bitfields_ = false;
    TPixelFormat pixelFormat_ = pfDevice;  // wanted format while empty
    TBitmapHandleType handleType_ = bmDIB;
    TTransparentMode transparentMode_ = tmAuto;
    TColor transparentColor_ = clDefault;
    // Palette entries as last brought in step with the colour table.
    std::vector<RGBQUAD> syncedTable_;
    std::unique_ptr<TBitmapCanvas> canvas_;
};

}  // namespace classlib
