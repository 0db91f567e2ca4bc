// Colour reduction of true-colour pictures to at most 256 colours: the
// octree quantizer, fixed palettes and ReduceColors.
#pragma once

#include <windows.h>

#include <array>
#include <memory>

#include "classlib/Bitmap.h"
#include "gif/GIFDIB.h"

namespace gif {

class TOctreeNode : public classlib::TObject {
public:
    TOctreeNode(int Level, int Depth, int& Leaves, std::array<TOctreeNode*, 8>& Reducible);
    ~TOctreeNode() override;
    bool Leaf;
    uint32_t Count = 0;
    uint32_t SumRed = 0, SumGreen = 0, SumBlue = 0;
    TOctreeNode* NextReducible = nullptr;
    std::array<TOctreeNode*, 8> Children{};
};

class TColorQuantizer : public classlib::TObject {
public:
    // Depth above 8 fails with EAssertionFailed "ColorBits must be 8 or less".
    TColorQuantizer(int ColorLimit, int Depth);
    ~TColorQuantizer() override;
    // Every pixel of a 24-bit reader (bytes blue, green, red), rows from the
    // top, pixels from the left.
    void AddColors(TDIBReader* Reader, int Width, int Height);
    void AddColor(uint8_t Red, uint8_t Green, uint8_t Blue);
    // The leaf colours as (blue, green, red, 0) entries, at most 256;
    // returns their number.
    int FillColorTable(RGBQUAD* Table);
    int GetLeaves() const { return Leaves; }

private:
    void AddColor(TOctreeNode*& Node, uint8_t R, uint8_t G, uint8_t B, int Level);
    void Reduce();
    TOctreeNode* Root = nullptr;
    int Leaves = 0;
    std::array<TOctreeNode*, 8> ReducibleLists{};
    int ColorLimit;
    int Depth;
};

HPALETTE CreateOptimizedPaletteFromRows(TDIBReader* Reader, int Width, int Height, int Colors, int Depth,
                                        bool WithSystemColors);
HPALETTE CreateOptimizedPalette(classlib::TBitmap* Bitmap, int Colors, int Depth, bool WithSystemColors);
HPALETTE CreateGrayPalette();
HPALETTE CreateMonochromePalette();
HPALETTE CreateFourGrayPalette();
HPALETTE CreateHalftonePaletteForScreen();

// A new 8-bit bitmap (owned by the caller) with the palette of the
// reduction method, dithered by DitherKind. Method 0 returns a 24-bit copy;
// every other method converts Bitmap itself to 24 bits per pixel. Unknown
// methods or ditherers return an empty bitmap.
classlib::TBitmap* ReduceColors(classlib::TBitmap* Bitmap, int ReductionMethod, int DitherKind, HPALETTE Palette,
                                int ReductionDepth);

}  // namespace gif
