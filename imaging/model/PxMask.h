// Selection masks of the image toolkit.
//
// TPxMask holds one value per pixel of an image, either 1 bit (selected or
// not) or 8 bits (degree of selection, 255 = fully selected), with the
// bounding box of the selected pixels and a full flag. Rows are padded to 32
// bits and stored bottom-up: row y starts at RowLen * (Height - 1 - y). In
// 1-bit masks the most significant bit of a byte is the leftmost pixel.
//
// The bounding box (X1, Y1)-(X2, Y2) is inclusive; the empty box is
// X1 = Y1 = MaxInt, X2 = Y2 = 0 and emptiness is tested on X1 alone. The box
// grows with SetPixel and FillPolygon, is recomputed by SyncBoundingBox,
// emptied by Clear and AllocateBits, and moved by Offset. FillSpan and Fill
// leave it alone.
//
// Full flag: SetPixel and FillSpan only ever clear it (on 8-bit masks when
// they write any value but 255, on 1-bit masks when they clear bits), never
// set it; Fill sets it exactly when every pixel becomes fully selected
// (value 255 for both depths); CheckFull recomputes it exactly.
//
// Drawing operations take the view's mapping of the mask in the order of a
// layer's drawing rectangle: destination x, y, width, height (the visible
// area on the canvas or view bitmap) and source x, y, width, height (the part
// of the image it shows). They draw nothing for an empty box or a
// non-positive size.
//
// Ownership: the mask owns its pixel block, its zoom buffer and the 1 x 1
// system bitmap it plots outline pixels with. Allocation failures raise
// classlib::EOutOfMemory.
//
// Threads: no locking; a mask belongs to one view or operation at a time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Graphics.h"
#include "classlib/Persistent.h"
#include "classlib/WinHandles.h"
#include "imaging/model/PxBitmap.h"

namespace imaging {

// Separates polygons in the point list of TPxMask::FillPolygons.
constexpr int32_t PxPolygonSeparator = 0xFFFFF;

class TPxMask : public classlib::TObject {
public:
    TPxMask();
    ~TPxMask() override;
    TPxMask(const TPxMask&) = delete;
    TPxMask& operator=(const TPxMask&) = delete;
    std::wstring ClassName() const override { return L"TPxMask"; }

    // ---- public fields read by views, readers and processing
    int32_t Width = 0;
    int32_t Height = 0;
    // 1 or 8; 0 while nothing is allocated.
    int32_t BitsPerPixel = 0;
    // ((Width * BitsPerPixel + 31) div 32) * 4.
    int32_t RowLen = 0;
    // Inclusive bounding box of the selected pixels.
    int32_t X1 = 2147483647;
    int32_t Y1 = 2147483647;
    int32_t X2 = 0;
    int32_t Y2 = 0;
    // Every pixel is fully selected (see the header comment).
    bool Full = false;

    // The pixel block, RowLen * Height bytes (nullptr when empty).
    uint8_t* GetBits() { return bits_.empty() ? nullptr : bits_.data(); }

    // Frees any content and the zoom buffer, then allocates a zero-filled
    // block of the new size; empty box, Full false. Sizes below 0 count as 0;
    // a depth other than 1 or 8 raises classlib::EInvalidArgument.
    void AllocateBits(int32_t Width, int32_t Height, int32_t BitsPerPixel);
    // New size keeping the pixels at the same coordinates (counted from the
    // top-left); pixels beyond the new width are dropped. A non-empty box is
    // clipped to the new size.
    void Resize(int32_t Width, int32_t Height);

    // Ignores coordinates outside the mask. A non-zero value extends the box
    // to (x, y). 1 bit: sets the bit when Value != 0, clears it otherwise;
    // 8 bits: stores the low byte.
    void SetPixel(int x, int y, int Value);
    // 0 outside the mask; 1 bit: 0 or the bit's weight in its byte; 8 bits:
    // the byte.
    int GetPixel(int x, int y) const;
    bool IsPointInside(int x, int y) const { return GetPixel(x, y) != 0; }
    // Row y (0 = top) of the block; no range check.
    uint8_t* GetScanline(int y);

    // Sets pixels x1 .. x2 of row y to Value (x clamped into the mask, y
    // clamped into 0 .. Height - 1); the box is not touched. Returns the
    // number of pixels set, 0 when x2 < x1 after clamping or the mask is
    // empty.
    int FillSpan(int x1, int x2, int y, int Value);
    // Sets every byte of the block to Value (for 1-bit masks a byte pattern:
    // 255 selects all, 0 none); Full becomes Value == 255. The box is kept.
    void Fill(uint8_t Value);
    // Fill(0) and the box emptied.
    void Clear();
    bool IsEmpty() const { return X1 == 2147483647; }
    // Empties the box, then extends it by every non-zero pixel.
    void SyncBoundingBox();
    // Full := every pixel of every row is fully selected.
    void CheckFull();

    // Fills one polygon of Count points, even-odd, right and bottom edges
    // exclusive. A non-zero value extends the box by the polygon's corners
    // (clipped to the mask). Rows outside the mask are skipped. When the
    // polygon sets no pixel the box is left as it was before the call.
    void FillPolygon(int Value, const POINT* Points, int Count);
    // Several polygons in one list, separated by points whose x is
    // PxPolygonSeparator; then CheckFull.
    void FillPolygons(int Value, const POINT* Points, int Count);

    // Moves the selection by (dx, dy). Without Crop the offsets are clamped
    // so that the box stays inside the mask and handed back; with Crop the
    // box is cut to what stays inside (a selection moved out entirely clears
    // the mask). An empty box is recomputed first; nothing happens when it
    // stays empty.
    void Offset(int& dx, int& dy, bool Crop);

    // 1-bit masks only: stretches the mask rectangle (xSrc, ySrc, wSrc,
    // hSrc), top-down coordinates, onto the canvas rectangle with source XOR
    // destination, so that selected pixels invert what is below.
    void DrawInverted(classlib::TCanvas* Canvas, int xDst, int yDst, int wDst, int hDst, int xSrc, int ySrc, int wSrc,
                      int hSrc);

    // Draws the border of the selection as seen through the mapping: two
    // colours in diagonal dashes four pixels long, shifted by Phase. The
    // canvas pen becomes solid in copy mode. OutRect receives the canvas
    // rectangle covered by the box inset by one pixel (unchanged when nothing
    // is drawn).
    void DrawOutline(classlib::TCanvas* Canvas, int xDst, int yDst, int wDst, int hDst, int xSrc, int ySrc, int wSrc,
                     int hSrc, classlib::TColor Color1, classlib::TColor Color2, int Phase, RECT& OutRect);

    // Paints the unselected pixels of the visible area of a px24RGB view
    // bitmap: Opacity -1 makes every pixel whose row and column in the area
    // have the same parity grey (97, 97, 97); otherwise each channel becomes
    // trunc(w * colour + (1 - w) * pixel) with w = Opacity / 255. Pixels
    // outside the bitmap are never touched; other formats are left alone.
    void ShadeOutside(TPxBaseBitmap* Bitmap, int xDst, int yDst, int wDst, int hDst, int xSrc, int ySrc, int wSrc,
                      int hSrc, classlib::TColor Color, int Opacity);

    // Copies selected pixels of Source into Dest over the box (clipped to the
    // mask and both images). Source pixels are read at (x - X1, y - Y1) when
    // SourceIsBoxOnly, else at (x, y); Dest pixels are written at
    // (x - X1, y - Y1) when DestIsBoxOnly, else at (x, y).
    //   1-bit mask: the source pixel replaces the destination pixel where the
    //     bit is set, for equal formats px1g, px8p, px8g, px16g, px24RGB,
    //     px32RGB, px32f, pxCMYK, pxRGB48, pxCIELab;
    //   8-bit mask m: px24RGB and the colour bytes of px32RGB per channel
    //     d + ((s - d) * m * 1024) shr 18 (the fourth byte from the source),
    //     px8g and px8p d + ((s - d) * m) shr 8, px1g the source bit where
    //     m != 0;
    //   any other pair copies no pixels.
    // With CopyAlpha, Dest's alpha channel (created when missing) then gets
    // min(source alpha, m) where selected (source alpha 255 without a source
    // alpha channel, m 255 for 1-bit masks) and 0 where not, and its
    // FullAlpha flag is cleared.
    void CopyMaskedPixels(TPxBitmap* Dest, TPxBitmap* Source, bool CopyAlpha, bool SourceIsBoxOnly,
                          bool DestIsBoxOnly);

private:
    void EmptyBox();
    // Renders the box part of the mapping into the zoom buffer (one byte per
    // pixel, 0 = unselected); false when nothing is to be drawn.
    bool RenderZoom(int wDst, int hDst, int xSrc, int ySrc, int wSrc, int hSrc, int& c1, int& c2, int& r1, int& r2);
    void PlotPixel(HDC Dc, HDC PlotDc, int x, int y, const TPxRGB& Color);

    std::vector<uint8_t> bits_;
    std::vector<uint8_t> zoom_;
    int zoomWidth_ = 0;
    int zoomHeight_ = 0;
    // The 1 x 1 24-bit DIB section used to plot outline pixels and the
    // address of its pixel.
    classlib::TOwnedBitmap plotBitmap_;
    uint8_t* plotPixel_ = nullptr;
};

}  // namespace imaging
