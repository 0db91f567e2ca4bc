// Row access to bitmaps, construction of 8- and 24-bit DIBs row by row,
// colour lookups into target palettes and the 216-colour web palette.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "classlib/Bitmap.h"
#include "gif/GIFUtils.h"

namespace gif {

HPALETTE CreateWebPalette();
// A non-zero handle unchanged; for zero raises classlib::EOutOfMemory with
// the system's text for the last error, or "Out of system resources".
HANDLE CheckGdiHandle(HANDLE Handle);
template <class H>
H CheckGdi(H Handle)
{
    return static_cast<H>(CheckGdiHandle(static_cast<HANDLE>(Handle)));
}
classlib::TPixelFormat BitmapPixelFormat(classlib::TBitmap* Bitmap);
void SetBitmapPixelFormat(classlib::TBitmap* Bitmap, classlib::TPixelFormat Format);

class TDIB : public classlib::TObject {
public:
    TDIB(classlib::TBitmap* Bitmap, classlib::TPixelFormat Format) : TargetBitmap(Bitmap), TargetFormat(Format) {}
    virtual uint8_t* GetRow(int Row) = 0;

protected:
    classlib::TBitmap* TargetBitmap;
    classlib::TPixelFormat TargetFormat;
};

// Rows of an existing bitmap, after converting it to Format.
class TDIBReader : public TDIB {
public:
    TDIBReader(classlib::TBitmap* Bitmap, classlib::TPixelFormat Format);
    uint8_t* GetRow(int Row) override;
};

// Builds a new pf8bit or pf24bit DIB row by row and hands it to the bitmap
// in Finish. Rows are allocated on the first GetRow.
class TDIBWriter : public TDIB {
public:
    TDIBWriter(classlib::TBitmap* Bitmap, HPALETTE Palette, int Height, int Width, classlib::TPixelFormat Format);
    ~TDIBWriter() override;
    uint8_t* GetRow(int Row) override;
    // Loads the finished DIB into the bitmap and frees the memory.
    void Finish();

private:
    void CreateDIB();
    int DibHeight, DibWidth;
    HPALETTE DibPalette;
    std::vector<uint8_t> Info;
    std::vector<uint8_t> Bits;
    int64_t BytesPerRow = 0;
};

// Maps an RGB colour to an index of a target palette; R, G, B receive the
// colour of the chosen entry. ColorCount 0 means unusable.
class TColorLookup : public classlib::TObject {
public:
    virtual uint8_t MapColor(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B) = 0;
    int ColorCount = 0;
};

class TFastColorLookup : public TColorLookup {
public:
    explicit TFastColorLookup(HPALETTE Palette);
    uint8_t MapColor(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B) override;

private:
    PALETTEENTRY Entries[256]{};
    std::unique_ptr<int16_t[]> Cache{new int16_t[32768]};
};

class TSlowColorLookup : public TColorLookup {
public:
    explicit TSlowColorLookup(HPALETTE Palette);
    uint8_t MapColor(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B) override;

private:
    HPALETTE PaletteHandle;
    std::vector<PALETTEENTRY> Entries;
};

class TNetscapeColorLookup : public TColorLookup {
public:
    explicit TNetscapeColorLookup(HPALETTE = nullptr) { ColorCount = 216; }
    uint8_t MapColor(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B) override;
};

class TGrayScaleLookup : public TColorLookup {
public:
    explicit TGrayScaleLookup(HPALETTE = nullptr) { ColorCount = 256; }
    uint8_t MapColor(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B) override;
};

class TMonochromeLookup : public TColorLookup {
public:
    explicit TMonochromeLookup(HPALETTE = nullptr) { ColorCount = 2; }
    uint8_t MapColor(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B) override;
};

}  // namespace gif
