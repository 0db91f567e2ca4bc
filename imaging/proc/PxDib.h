// Exchange of images with Windows as packed device-independent bitmaps (a
// BITMAPINFOHEADER, an optional colour table and the pixel rows in one
// memory block), and the YUV video-frame layouts that video capture hands
// over with a DIB header.
//
// Ownership: _CopyBitmaptoDIBEx returns a moveable global block that the
// caller owns (GlobalFree, or hand it to the clipboard). The readers never
// take ownership of the block they read; a handle is locked and unlocked
// around the read.
//
// Untrusted input: the readers check every header field against the data
// before reading: the header size, a positive width, a non-zero height
// (negative = rows top-down), a colour count of at most 256, and the colour
// table and pixel rows (or the frame of a YUV layout) against the size of
// the block. The size of a global handle is its GlobalSize; for a pointer it
// is BlockSize when given (-1 = not known: the header is trusted). Pixel
// data given through Bits is read for the size the header implies. A header
// that fails these checks gives 0 and leaves Dest unchanged.
//
// Storage: Dest may be held in any location; its rows are written whole,
// one at a time.
//
// Threads: no state is kept; images are used by one thread at a time.
#pragma once

#include <windows.h>

#include <cstdint>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxTypes.h"
#include "imaging/model/PxWorkBitmap.h"

namespace imaging {

// A packed DIB of the rectangle X1 <= x < X2, Y1 <= y < Y2 of Bitmap (X2 = 0
// means the width, Y2 = 0 the height) in a GMEM_MOVEABLE | GMEM_DDESHARE
// block: 40-byte header (positive height, rows bottom-up, 32-bit aligned),
// pixels per metre Trunc(Dpi * 39.3700787). px1g gives 1 bit with the table
// black, white; px8g 8 bits with a 256-entry grey table; px8p 8 bits with
// the image's palette (colours used = the palette length when below 256);
// px24RGB 24 bits without table; other formats the 24-bit conversion of a
// copy (Bitmap keeps its format). 0 when Bitmap is nil or empty, the
// rectangle is empty or not inside the image, or the block cannot be had.
HGLOBAL _CopyBitmaptoDIBEx(TPxBitmap* Bitmap, int X1, int Y1, int X2, int Y2, int DpiX, int DpiY);

// Reads a packed DIB (IsPointer false: DIB is an HGLOBAL; true: the address
// of the block) into Dest, allocated at the DIB's size: px1g for 1 bit
// (bits copied as they stand), px24RGB otherwise. Understands 1, 4, 8, 16
// (5-5-5, or bit fields), 24 and 32 bits uncompressed, and the YUV layouts
// IYU1, IYU2, UYVY, UYNV, cyuv, YUY2, YUNV, YVYU, Y41P, Y211, CLJR, YVU9,
// YV12, I420 and IYUV by their four-character codes. Bits, when not nil,
// holds the pixels instead of the block. Returns the DIB's bits per pixel;
// 0 for a nil block or a header that fails the checks. A format it does not
// understand leaves Dest allocated and black.
int PxCopyDIBToBitmap(void* DIB, TPxBitmap* Dest, const void* Bits, bool IsPointer, int64_t BlockSize = -1);

// Draws a packed DIB onto Dest with the video-for-Windows DIB drawing
// functions at (0, 0) in full size; Dest is allocated at 1 bit for 1-bit
// DIBs, else at 24 bits. Bit depths without pixels (anything but 1, 4, 8,
// 16, 24, and 32 with compression 0 or 3) leave Dest unchanged. Returns the
// DIB's bits per pixel, 0 for a nil block or a header that fails the
// checks.
int PxDIBToDibbitmap(void* DIB, TPxDibbitmap* Dest, const void* Bits, bool IsPointer, int64_t BlockSize = -1);

// One YUV sample triple to RGB (ITU-R BT.601, video range), each channel
// rounded (halves to even) and clamped to 0..255.
void PxYUVToRGB(int Y, int U, int V, TPxRGB& Out);

// YUV frame readers: Source holds the whole frame; Dest is already
// allocated as px24RGB of the frame size. TopDown: the frame's first row is
// Dest's row 0, else Dest's last row. Within a row, pixel groups are taken
// while the group's first pixel index is below width - 1 (IYU2: all pixels);
// pixels beyond the width are not written. Source must hold
// PxYUVFrameSize(code, width, height) bytes.
void PxYUVRowsIYU1(const uint8_t* Source, TPxBitmap* Dest, bool TopDown);
void PxYUVRowsIYU2(const uint8_t* Source, TPxBitmap* Dest, bool TopDown);
void PxYUVRowsUYVY(const uint8_t* Source, TPxBitmap* Dest, bool TopDown);
void PxYUVRowsYUY2(const uint8_t* Source, TPxBitmap* Dest, bool TopDown);
void PxYUVRowsYVYU(const uint8_t* Source, TPxBitmap* Dest, bool TopDown);
void PxYUVRowsY41P(const uint8_t* Source, TPxBitmap* Dest, bool TopDown);
void PxYUVRowsY211(const uint8_t* Source, TPxBitmap* Dest, bool TopDown);
void PxYUVRowsCLJR(const uint8_t* Source, TPxBitmap* Dest, bool TopDown);
void PxYUVRowsYVU9(const uint8_t* Source, TPxBitmap* Dest, bool TopDown);
void PxYUVRowsYV12(const uint8_t* Source, TPxBitmap* Dest, bool TopDown);
void PxYUVRowsI420(const uint8_t* Source, TPxBitmap* Dest, bool TopDown);

// Bytes a frame of the layout Code (a four-character code, first character
// in the low byte) of Width x Height pixels occupies as the readers read
// it; -1 for a code without reader or a negative size.
int64_t PxYUVFrameSize(uint32_t Code, int Width, int Height);

}  // namespace imaging
