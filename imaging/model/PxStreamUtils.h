// Shared routines of the image toolkit that are not geometry: a read-only
// stream over caller memory, a buffered read-only stream over another
// stream, length-prefixed string fields, temporary file names, memory blocks
// with a global-memory fallback, the physical-memory probe, row-length and
// bit routines, byte-order swaps, the text encoders of the PostScript/PDF
// writers and the image-as-text export (ASCII85, PackBits, base64), number
// helpers, and the toolkit's scroll-bar calls.
//
// Free routines are thread-safe; stream objects are used by one thread at a
// time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "classlib/Bitmap.h"
#include "classlib/Stream.h"
#include "classlib/Streams.h"
#include "classlib/TextFile.h"
#include "imaging/model/PxTypes.h"

namespace imaging {

class TPxBitmap;

// ---- streams

// A read-only view of a caller's block: nothing is copied or owned, writing
// writes nothing (returns 0) and resizing does nothing. The block must
// outlive the stream.
class TPxMemStream : public classlib::TCustomMemoryStream {
public:
    TPxMemStream(const void* buffer, int64_t size);
    std::wstring ClassName() const override { return L"TPxMemStream"; }
    int64_t Write(const void* Buffer, int64_t Count) override;
    void SetSize(int64_t) override {}
};

// A read-only stream that reads its source through a buffer. The source's
// size is taken at creation. With relative set, positions count from the
// source's position at creation. Reads and seeks that hit the end set the
// end-of-data flag; a seek from the end goes to size - Offset. The source
// is not owned and must outlive this stream.
class TPxBufferedReadStream : public classlib::TStream {
public:
    TPxBufferedReadStream(classlib::TStream* source, bool relative, int32_t bufferSize);
    std::wstring ClassName() const override { return L"TPxBufferedReadStream"; }
    int64_t Read(void* Buffer, int64_t Count) override;
    // Raises EStreamError "TPxBufferedReadStream cannot write!".
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, classlib::TSeekOrigin Origin) override;
    int64_t GetSize() override { return size_ - base_; }
    // The last read or seek hit the end of the data.
    bool Eof() const { return eof_; }

private:
    void Fill();

    classlib::TStream* source_;
    int32_t bufferSize_;
    std::unique_ptr<uint8_t[]> buffer_;
    int32_t bufferUsed_ = 0;  // valid bytes in the buffer
    int64_t position_ = 0;    // absolute in the source
    int32_t index_ = 0;       // position_ inside the buffer
    int64_t size_ = 0;
    int64_t base_ = 0;
    bool eof_ = false;
};

// String fields: a 32-bit little-endian count, then the characters (bytes,
// or UTF-16 units of 2 bytes), no terminator. The readers raise EReadError
// for a negative count or one beyond the rest of the stream.
void PxStreamWriteAnsiString(classlib::TStream* stream, const std::string& text);
void PxStreamReadAnsiString(classlib::TStream* stream, std::string& text);
void PxStreamWriteWideString(classlib::TStream* stream, const std::wstring& text);
void PxStreamReadWideString(classlib::TStream* stream, std::wstring& text);
// Writes; sets aborting when fewer than count bytes were written.
void PxSafeStreamWrite(classlib::TStream* stream, bool& aborting, const void* buffer, int64_t count);
// The text followed by CR LF.
void PxStreamWriteLine(classlib::TStream* stream, const std::string& text);

// ---- temporary files and folders

// folder + prefix + "-" + 8 upper-case hexadecimal digits + ".tmp", drawn
// again while such a file exists. The folder must end with a separator.
std::wstring PxGetTempFileNameIn(const std::wstring& prefix, const std::wstring& folder);
// PxGetTempFileNameIn with the prefix "pxtemp" in PxTempFolder, or in the
// system's temporary folder when that is empty.
std::wstring PxGetTempFileName();
// Creates the folder and its missing parents. Raises Exception "Cannot
// Create Directory" for an empty path. Returns false when a folder could not
// be created.
bool PxForceDirectories(const std::wstring& path);
// The size of the file in bytes (64-bit); -1 when it cannot be opened.
int64_t PxGetFileSize(const std::wstring& name);

// ---- memory

// A block of n bytes: from the heap below 1 MiB, otherwise (or when the heap
// has no room) zero-filled global memory. nullptr when none can be had.
// The address is 16-byte aligned and the byte before it names the
// allocator (0 heap, 1 global memory). Freed only with PxFreeBlock.
void* PxAllocBlock(int64_t n);
// Frees a block of PxAllocBlock (nullptr is ignored) and clears the variable.
void PxFreeBlock(void*& address);
// A heap block of size bytes (std::malloc), or nullptr instead of an
// out-of-memory exception. Freed with std::free.
void PxSafeGetMem(void*& address, int64_t size);
// A zero-filled fixed global block; PxGlobalFree frees it and clears the
// variable.
HGLOBAL PxGlobalAlloc(int64_t size);
void PxGlobalFree(HGLOBAL& handle);
// Available or total physical memory in bytes.
int64_t PxGetPhysicalMemory(bool available);

// ---- rows, bits and bytes

// Bytes per row: for alignment 32, ((width * bits + 31) shr 5) * 4;
// otherwise ((width * bits + alignment - 1) div alignment) * (alignment div
// 8), alignments below 8 counting as 8.
int64_t PxBitmapRowLen(int64_t width, int bits, int alignment);
// Consecutive set bits from the lowest set bit (0 for 0).
int PxMaskBitCount(uint32_t mask);
// -1 for 0; the index of a single set bit; else the highest set bit + 1.
int PxMaskTopBit(uint32_t mask);
// (2^bits)^times; saturates at INT64_MAX.
int64_t PxPow2(int bits, int times);
// Bit-reversal table of bytes.
extern const uint8_t PxReverseBitsTable[256];
void PxReverseBitsByte(uint8_t& b);
void PxReverseBits32(uint32_t& w);
// The upper 16 bits kept, the two low bytes exchanged.
uint32_t PxSwapBytes16(uint32_t v);
void PxSwapBytes16Buffer(void* buffer, int64_t words);
uint32_t PxSwapBytes32(uint32_t v);
uint32_t PxSwapBytes16If(uint32_t v, bool swap);
uint32_t PxSwapBytes32If(uint32_t v, bool swap);
// 1 for exponent 0; 0 for base 0 and a positive exponent; exp(e * ln b)
// for a fractional exponent or one beyond +-2147483647; otherwise the
// integer power by repeated squaring (reciprocal for a negative exponent).
long double PxPower(long double base, long double exponent);
double PxPowerDouble(double base, double exponent);
inline int PxIfThenInt(bool condition, int a, int b) { return condition ? a : b; }
inline double PxIfThenFloat(bool condition, double a, double b) { return condition ? a : b; }
// Sorts the indices 0 .. count - 1 through the callbacks (not stable).
void PxQuickSort(int count, const std::function<int(int, int)>& compare, const std::function<void(int, int)>& swap);

// ---- encoders

// One ASCII85 group of count (1..4) bytes into destination: "z" for four
// zero bytes, else count + 1 characters. Returns the characters written.
int PxAscii85EncodeGroup(const uint8_t* source, int count, char* destination);
// ASCII85 of length bytes: CR LF after a group that brings the line above
// 74 characters, then "~>" CR LF. counter grows by the group characters.
// Returns all characters written; the destination needs room for
// PxAscii85MaxLength(length).
int64_t PxAscii85Encode(const uint8_t* source, int64_t length, char* destination, int64_t& counter);
int64_t PxAscii85MaxLength(int64_t length);
// Run-length coding of the PostScript RunLengthDecode filter, ending with
// the byte 128. Returns the output length; the destination needs room for
// PxPackBitsMaxLength(length).
int64_t PxPackBitsEncode(const uint8_t* source, int64_t length, uint8_t* destination);
int64_t PxPackBitsMaxLength(int64_t length);
// Standard base64 of count (1..3) bytes into 4 characters ("=" padding).
void PxBase64EncodeTriple(const uint8_t* bytes, char* chars, int count);
// Base64 of the stream from its position to its end, written to text as
// lines of lineLength div 4 groups (at least one), each line ended by a
// line break.
void PxBase64EncodeStream(classlib::TStream* stream, classlib::TTextFile& text, int lineLength);

// The class library's general float text with "." as decimal separator.
std::wstring PxFloatToStrDot(double value);
std::string PxFloatToStrDotA(double value);
// YCbCr to RGB, each channel truncated and clamped to 0..255.
void PxYCbCrToRGB(TPxRGB& destination, int y, int cb, int cr);

// ---- images

// The size of the source's aspect that fits the box, each side at least 1
// (small images are enlarged); nothing when a source side is 0.
void PxAspectFit(int sourceWidth, int sourceHeight, int boxWidth, int boxHeight, int& width, int& height);

// Bits per pixel of a class-library bitmap format (0 for pfDevice and
// pfCustom), and its 32-bit aligned row length.
int PxVclPixelFormatBits(classlib::TPixelFormat format);
int64_t PxVclBitmapRowLen(int width, classlib::TPixelFormat format);
// Gives the bitmap a 256-entry grey palette (entry i = (i, i, i)).
void PxSetGrayPalette(classlib::TBitmap* bitmap);
// Every palette entry i of the bitmap (up to 256) is (i, i, i).
bool PxVclBitmapHasGrayPalette(classlib::TBitmap* bitmap);

// Copies the colour table of an 8-bit bitmap into the palette of a px8p
// image; nothing for other formats.
void PxCopyVclPaletteToPxBitmap(classlib::TBitmap* bitmap, TPxBitmap* image);

// Blend table: entry i = Round(64 - cos(i * pi / 255) * 64).
extern int32_t PxCosineTable[256];
void PxInitCosineTable();

// ---- platform

bool PxIsRemoteSession();
bool PxHasMMX();
// Moves a window to the horizontal centre of the screen and a third of the
// free height, without activating it or changing its size or Z order;
// PxCenterWindowHook does it instead when set.
void PxCenterWindow(HWND window);
// Scroll bars, through the flat scroll-bar functions when flat is true.
void PxSetScrollInfo(HWND window, int bar, int minimum, int maximum, int page, int position, bool redraw, bool flat);
void PxSetScrollRange(HWND window, int bar, int minimum, int maximum, bool redraw, bool flat);
void PxSetScrollPos(HWND window, int bar, int position, bool redraw, bool flat);
void PxEnableScrollBar(HWND window, int bar, UINT arrows, bool flat);
void PxShowScrollBar(HWND window, int bar, bool show, bool flat);

// Settings of the views' scroll bars: steps of -1 are automatic.
class TPxScrollBarParams : public classlib::TObject {
public:
    std::wstring ClassName() const override { return L"TPxScrollBarParams"; }
    int32_t LineStep = -1;
    int32_t PageStep = -1;
    bool Tracking = true;
};

// Settings of the views' mouse wheel: action 0 nothing, 1 scroll, 2 zoom.
class TPxMouseWheelParams : public classlib::TObject {
public:
    std::wstring ClassName() const override { return L"TPxMouseWheelParams"; }
    bool InverseDirection = false;
    uint8_t Action = 2;
    uint8_t Variation = 1;  // 0 Value is absolute, 1 a percentage
    int32_t Value = 8;
    bool ZoomPosition = false;  // zoom about the mouse position
};

}  // namespace imaging
