#include "imaging/proc/PxDib.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "classlib/SysUtils.h"
#include "imaging/model/PxByteOrder.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/PxConvert.h"
#include "imaging/proc/PxRotate.h"

namespace imaging {

namespace {

constexpr uint32_t FourCC(char a, char b, char c, char d)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

constexpr int64_t kHeaderBytes = 40;

// Locks a global handle for the lifetime of the scope.
class TGlobalLock {
public:
    explicit TGlobalLock(HGLOBAL Handle) : handle_(Handle), data_(Handle ? GlobalLock(Handle) : nullptr) {}
    ~TGlobalLock()
    {
        if (data_)
            GlobalUnlock(handle_);
    }
    TGlobalLock(const TGlobalLock&) = delete;
    TGlobalLock& operator=(const TGlobalLock&) = delete;
    uint8_t* Data() const { return static_cast<uint8_t*>(data_); }

private:
    HGLOBAL handle_;
    void* data_;
};

// ---- export

HGLOBAL CopyToDIB(TPxBitmap& Bitmap, int X1, int Y1, int X2, int Y2, int DpiX, int DpiY)
{
    const int width = Bitmap.GetWidth();
    const int height = Bitmap.GetHeight();
    if (X2 == 0)
        X2 = width;
    if (Y2 == 0)
        Y2 = height;
    if (X1 < 0 || Y1 < 0 || X2 > width || Y2 > height || X2 <= X1 || Y2 <= Y1)
        return nullptr;
    const TPxPixelFormat f = Bitmap.GetPixelFormat();
    const int bits = f == px1g ? 1 : f == px24RGB ? 24 : 8;
    const int w = X2 - X1;
    const int h = Y2 - Y1;
    const int64_t rowLen = PxBitmapRowLen(w, bits, 32);
    // px8p writes its palette as it is (at least one entry): the header then
    // names the true count, and the rows follow the entries written.
    int entries = 0;
    if (f == px1g)
        entries = 2;
    else if (f == px8g)
        entries = 256;
    else if (f == px8p)
        entries = Bitmap.GetPaletteLen() > 0 ? std::min(Bitmap.GetPaletteLen(), 256) : 256;
    const int64_t rows = rowLen * h;
    if (rows / h != rowLen)
        return nullptr;
    const int64_t size = int64_t{entries} * 4 + rows + 44;
    if (size < rows || static_cast<uint64_t>(size) > std::numeric_limits<SIZE_T>::max())
        return nullptr;

    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE | GMEM_ZEROINIT, static_cast<SIZE_T>(size));
    if (!handle)
        return nullptr;
    TGlobalLock lock(handle);
    uint8_t* p = lock.Data();
    if (!p) {
        GlobalFree(handle);
        return nullptr;
    }
    PxPutLe32(p + 0, 40);
    PxPutLe32(p + 4, static_cast<uint32_t>(w));
    PxPutLe32(p + 8, static_cast<uint32_t>(h));
    PxPutLe16(p + 12, 1);
    PxPutLe16(p + 14, static_cast<uint16_t>(bits));
    PxPutLe32(p + 16, 0);
    PxPutLe32(p + 20, 0);
    PxPutLe32(p + 24, static_cast<uint32_t>(classlib::Trunc(DpiX * 39.3700787)));
    PxPutLe32(p + 28, static_cast<uint32_t>(classlib::Trunc(DpiY * 39.3700787)));
    PxPutLe32(p + 32, f == px8p && entries < 256 ? static_cast<uint32_t>(entries) : 0);
    PxPutLe32(p + 36, 0);
    uint8_t* table = p + kHeaderBytes;
    if (f == px1g) {
        std::memset(table + 4, 255, 4);
    } else if (f == px8g) {
        for (int i = 0; i < 256; ++i)
            std::memset(table + 4 * i, i, 3);
    } else if (f == px8p) {
        for (int i = 0; i < entries; ++i) {
            const TPxRGB c = Bitmap.GetPaletteEntry(i);
            table[4 * i] = c.b;
            table[4 * i + 1] = c.g;
            table[4 * i + 2] = c.r;
        }
    }
    uint8_t* pixels = table + int64_t{entries} * 4;
    const int64_t pixelBytes = f == px1g ? 0 : int64_t{w} * (bits / 8);
    const int64_t firstByte = int64_t{X1} * (bits / 8);
    TPxAccessScope access(Bitmap, pxAccessRead);
    const int imageRowLen = Bitmap.GetRowLen();
    // The bottom row of the rectangle first.
    for (int y = Y2 - 1, i = 0; y >= Y1; --y, ++i) {
        const uint8_t* src = Bitmap.GetScanline(y);
        uint8_t* dst = pixels + rowLen * i;
        if (f == px1g)
            PxCopyBits(dst, src, 0, imageRowLen, w, X1);
        else
            std::memcpy(dst, src + firstByte, static_cast<size_t>(pixelBytes));
    }
    return handle;
}

// ---- import

struct THeader {
    uint32_t Size = 0;
    int32_t Width = 0;
    int32_t Height = 0;  // negative: rows top-down
    int Bits = 0;
    uint32_t Compression = 0;
    uint32_t ColorsUsed = 0;
    int AbsHeight = 0;
    bool IsRgb() const { return Compression <= 3; }
};

// The header fields, or false when they cannot describe an image.
bool ReadHeader(const uint8_t* p, int64_t Known, THeader& h)
{
    if (Known >= 0 && Known < kHeaderBytes)
        return false;
    h.Size = PxLe32(p);
    h.Width = static_cast<int32_t>(PxLe32(p + 4));
    h.Height = static_cast<int32_t>(PxLe32(p + 8));
    h.Bits = PxLe16(p + 14);
    h.Compression = PxLe32(p + 16);
    h.ColorsUsed = PxLe32(p + 32);
    if (h.Size < kHeaderBytes || (Known >= 0 && h.Size > Known) || h.Size > (1u << 20))
        return false;
    if (h.Width <= 0 || h.Height == 0 || h.Height == std::numeric_limits<int32_t>::min())
        return false;
    if (h.ColorsUsed > 256)
        return false;
    h.AbsHeight = h.Height < 0 ? -h.Height : h.Height;
    // Far beyond any image that can be held; keeps every size computed
    // from the header well inside 64 bits.
    if (int64_t{h.Width} * h.AbsHeight > (int64_t{1} << 36))
        return false;
    return true;
}

// Colour-table entries in front of the pixels of an RGB DIB.
int TableEntries(const THeader& h)
{
    if (h.ColorsUsed != 0)
        return static_cast<int>(h.ColorsUsed);
    switch (h.Bits) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

int64_t DibRowLen(const THeader& h)
{
    return (int64_t{h.Bits} * h.Width + 31) / 32 * 4;
}

// The rows of Dest written whole, one at a time (write-only access).
class TDestRows {
public:
    explicit TDestRows(TPxBitmap& Dest) : dest_(Dest), access_(Dest, pxAccessWrite), row_(Dest.GetRowLen(), 0) {}
    uint8_t* Row() { return row_.data(); }
    TPxRGB* Pixels() { return reinterpret_cast<TPxRGB*>(row_.data()); }
    void Clear() { std::fill(row_.begin(), row_.end(), 0); }
    void Put(int y) { std::memcpy(dest_.GetScanline(y), row_.data(), row_.size()); }

private:
    TPxBitmap& dest_;
    TPxAccessScope access_;
    std::vector<uint8_t> row_;
};

void FillBlack(TPxBitmap& Dest)
{
    TDestRows rows(Dest);
    for (int y = 0; y < Dest.GetHeight(); ++y)
        rows.Put(y);
}

int Shift(uint32_t v, int n)
{
    if (n >= 32 || n <= -32)
        return 0;
    return static_cast<int>((n >= 0 ? v >> n : v << -n) & 0xFF);
}

int BitCount(uint32_t v)
{
    int n = 0;
    for (; v; v &= v - 1)
        ++n;
    return n;
}

// Bytes of the RGB pixel data the reader of this header reads (masks
// included), or -1 when nothing is read.
int64_t RgbDataBytes(const THeader& h)
{
    const int64_t rows = DibRowLen(h) * h.AbsHeight;
    switch (h.Bits) {
    case 1:
    case 4:
    case 8:
    case 24: return h.Compression == 0 ? rows : -1;
    case 16:
    case 32:
        if (h.Compression == 0)
            return rows;
        if (h.Compression == 3)
            return rows + 12;
        return -1;
    default: return -1;
    }
}

void ReadRgb(const THeader& h, const uint8_t* table, int entries, const uint8_t* data, TPxBitmap& Dest)
{
    const int w = h.Width;
    const int64_t rowLen = DibRowLen(h);
    auto entry = [&](int i) {
        if (i >= entries)
            return TPxRGB{0, 0, 0};
        return TPxRGB{table[4 * i], table[4 * i + 1], table[4 * i + 2]};
    };
    uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (h.Compression == 3) {
        for (int i = 0; i < 3; ++i)
            masks[i] = PxLe32(data + 4 * i);
        data += 12;
    }
    const int nR = BitCount(masks[0]), nG = BitCount(masks[1]), nB = BitCount(masks[2]);
    TDestRows rows(Dest);
    for (int i = 0; i < h.AbsHeight; ++i) {
        const uint8_t* s = data + rowLen * i;
        rows.Clear();
        TPxRGB* d = rows.Pixels();
        switch (h.Bits) {
        case 1: std::memcpy(rows.Row(), s, static_cast<size_t>((w + 7) / 8)); break;
        case 4:
            for (int x = 0; x < w; ++x)
                d[x] = entry(x % 2 == 0 ? s[x / 2] >> 4 : s[x / 2] & 15);
            break;
        case 8:
            for (int x = 0; x < w; ++x)
                d[x] = entry(s[x]);
            break;
        case 16:
            for (int x = 0; x < w; ++x) {
                const uint32_t v = PxLe16(s + 2 * x);
                d[x].r = static_cast<uint8_t>(Shift(v & masks[0], nR + nG + nB - 8));
                d[x].g = static_cast<uint8_t>(Shift(v & masks[1], nG + nB - 8));
                d[x].b = static_cast<uint8_t>(Shift(v & 0xFF & masks[2] & 0xFF, -(8 - nB)));
            }
            break;
        case 24: std::memcpy(rows.Row(), s, static_cast<size_t>(w) * 3); break;
        case 32:
            for (int x = 0; x < w; ++x)
                d[x] = TPxRGB{s[4 * x], s[4 * x + 1], s[4 * x + 2]};
            break;
        default: break;
        }
        // Bottom-up DIBs (positive height) start with the last image row.
        rows.Put(h.Height > 0 ? h.AbsHeight - 1 - i : i);
    }
}

// ---- YUV layouts

struct TPacked {
    uint32_t Code;
    int Group;       // pixels per group
    int GroupBytes;  // bytes per group
};

int GroupsPerRow(int w, int group)
{
    return w <= 1 ? 0 : (w - 1 + group - 1) / group;
}

// Sequential reader of packed frames: calls Decode(group bytes, pixels of
// the group) for each group of each row.
template <class F>
void ReadPacked(const uint8_t* Source, TPxBitmap* Dest, bool TopDown, int Group, int GroupBytes, bool AllPixels,
                F Decode)
{
    if (!Source || !Dest || Dest->GetPixelFormat() != px24RGB)
        return;
    const int w = Dest->GetWidth();
    const int h = Dest->GetHeight();
    const int groups = AllPixels ? w : GroupsPerRow(w, Group);
    TDestRows rows(*Dest);
    TPxRGB px[8];
    for (int r = 0; r < h; ++r) {
        rows.Clear();
        TPxRGB* d = rows.Pixels();
        for (int g = 0; g < groups; ++g, Source += GroupBytes) {
            Decode(Source, px);
            for (int i = 0; i < Group; ++i) {
                const int x = g * Group + i;
                if (x < w)
                    d[x] = px[i];
            }
        }
        rows.Put(TopDown ? r : h - 1 - r);
    }
}

// Planar frames: a Y plane of w x h, then two chroma planes of (w div Sub)
// x (h div Sub), the first holding V (VFirst) or U.
void ReadPlanar(const uint8_t* Source, TPxBitmap* Dest, bool TopDown, int Sub, bool VFirst)
{
    if (!Source || !Dest || Dest->GetPixelFormat() != px24RGB)
        return;
    const int w = Dest->GetWidth();
    const int h = Dest->GetHeight();
    const int cw = w / Sub, ch = h / Sub;
    const uint8_t* yPlane = Source;
    const uint8_t* first = Source + int64_t{w} * h;
    const uint8_t* second = first + int64_t{cw} * ch;
    const uint8_t* uPlane = VFirst ? second : first;
    const uint8_t* vPlane = VFirst ? first : second;
    const int groups = GroupsPerRow(w, Sub);
    TDestRows rows(*Dest);
    int chromaRow = 0;
    for (int r = 0; r < h; ++r) {
        const int dy = TopDown ? r : h - 1 - r;
        rows.Clear();
        TPxRGB* d = rows.Pixels();
        const uint8_t* yRow = yPlane + int64_t{r} * w;
        for (int g = 0; g < groups; ++g) {
            int u = 128, v = 128;
            if (g < cw && chromaRow < ch) {
                u = uPlane[int64_t{chromaRow} * cw + g];
                v = vPlane[int64_t{chromaRow} * cw + g];
            }
            for (int i = 0; i < Sub; ++i) {
                const int x = g * Sub + i;
                if (x < w)
                    PxYUVToRGB(yRow[x], u, v, d[x]);
            }
        }
        rows.Put(dy);
        // One chroma row serves Sub frame rows, counted in frame order, so
        // that bottom-up frames pair their rows as top-down ones do.
        if ((r + 1) % Sub == 0)
            ++chromaRow;
    }
}

// The reader of a four-character code.
using TFrameReader = void (*)(const uint8_t*, TPxBitmap*, bool);

TFrameReader ReaderOf(uint32_t Code)
{
    if (Code == FourCC('I', 'Y', 'U', '1'))
        return PxYUVRowsIYU1;
    if (Code == FourCC('I', 'Y', 'U', '2'))
        return PxYUVRowsIYU2;
    if (Code == FourCC('U', 'Y', 'V', 'Y') || Code == FourCC('U', 'Y', 'N', 'V') || Code == FourCC('c', 'y', 'u', 'v'))
        return PxYUVRowsUYVY;
    if (Code == FourCC('Y', 'U', 'Y', '2') || Code == FourCC('Y', 'U', 'N', 'V'))
        return PxYUVRowsYUY2;
    if (Code == FourCC('Y', 'V', 'Y', 'U'))
        return PxYUVRowsYVYU;
    if (Code == FourCC('Y', '4', '1', 'P'))
        return PxYUVRowsY41P;
    if (Code == FourCC('Y', '2', '1', '1'))
        return PxYUVRowsY211;
    if (Code == FourCC('C', 'L', 'J', 'R'))
        return PxYUVRowsCLJR;
    if (Code == FourCC('Y', 'V', 'U', '9'))
        return PxYUVRowsYVU9;
    if (Code == FourCC('Y', 'V', '1', '2'))
        return PxYUVRowsYV12;
    if (Code == FourCC('I', '4', '2', '0') || Code == FourCC('I', 'Y', 'U', 'V'))
        return PxYUVRowsI420;
    return nullptr;
}

// The block behind DIB and its known size (-1 unknown).
struct TBlock {
    std::unique_ptr<TGlobalLock> Lock;
    const uint8_t* Data = nullptr;
    int64_t Known = -1;
};

void OpenBlock(void* DIB, bool IsPointer, int64_t BlockSize, TBlock& b)
{
    if (!DIB)
        return;
    if (IsPointer) {
        b.Data = static_cast<const uint8_t*>(DIB);
        b.Known = BlockSize;
        return;
    }
    b.Lock = std::make_unique<TGlobalLock>(static_cast<HGLOBAL>(DIB));
    b.Data = b.Lock->Data();
    if (b.Data) {
        b.Known = static_cast<int64_t>(GlobalSize(static_cast<HGLOBAL>(DIB)));
        if (BlockSize >= 0)
            b.Known = std::min(b.Known, BlockSize);
    }
}

// Whether Count bytes from Offset lie inside the block (always, when its size
// is not known).
bool Fits(const TBlock& b, int64_t Offset, int64_t Count)
{
    if (Offset < 0 || Count < 0)
        return false;
    return b.Known < 0 || (Offset <= b.Known && Count <= b.Known - Offset);
}

}  // namespace

// ---------------------------------------------------------------------------

HGLOBAL _CopyBitmaptoDIBEx(TPxBitmap* Bitmap, int X1, int Y1, int X2, int Y2, int DpiX, int DpiY)
{
    if (!Bitmap || Bitmap->IsEmpty())
        return nullptr;
    const TPxPixelFormat f = Bitmap->GetPixelFormat();
    if (f != px1g && f != px24RGB && f != px8g && f != px8p) {
        // Other formats go through a 24-bit copy; the image keeps its format.
        TPxBitmap copy;
        copy.FileThreshold = Bitmap->FileThreshold;
        copy.Assign(Bitmap);
        if (copy.IsEmpty())
            return nullptr;
        PxInstallPixelFormatConversion();
        copy.SetPixelFormat(px24RGB);
        if (copy.IsEmpty() || copy.GetPixelFormat() != px24RGB)
            return nullptr;
        return CopyToDIB(copy, X1, Y1, X2, Y2, DpiX, DpiY);
    }
    return CopyToDIB(*Bitmap, X1, Y1, X2, Y2, DpiX, DpiY);
}

int PxCopyDIBToBitmap(void* DIB, TPxBitmap* Dest, const void* Bits, bool IsPointer, int64_t BlockSize)
{
    TBlock block;
    OpenBlock(DIB, IsPointer, BlockSize, block);
    if (!block.Data || !Dest)
        return 0;
    THeader h;
    if (!ReadHeader(block.Data, block.Known, h))
        return 0;
    const uint8_t* pixels = static_cast<const uint8_t*>(Bits);
    const uint8_t* table = nullptr;
    int entries = 0;
    int64_t need = -1;
    TFrameReader reader = nullptr;
    if (h.IsRgb()) {
        entries = TableEntries(h);
        const int64_t tableBytes = int64_t{entries} * 4;
        if (!Fits(block, h.Size, tableBytes))
            return 0;
        table = block.Data + h.Size;
        need = RgbDataBytes(h);
        if (need >= 0 && !pixels) {
            if (!Fits(block, h.Size + tableBytes, need))
                return 0;
            pixels = table + tableBytes;
        }
    } else {
        reader = ReaderOf(h.Compression);
        need = reader ? PxYUVFrameSize(h.Compression, h.Width, h.AbsHeight) : -1;
        if (need >= 0 && !pixels) {
            const int64_t at = h.Size + int64_t{h.ColorsUsed} * 4;
            if (!Fits(block, at, need))
                return 0;
            pixels = block.Data + at;
        }
    }
    if (!Dest->Allocate(h.Width, h.AbsHeight, h.Bits == 1 ? px1g : px24RGB))
        return 0;
    if (need < 0 || !pixels) {
        FillBlack(*Dest);
    } else if (reader) {
        const uint32_t c = h.Compression;
        const bool flipped = c == FourCC('Y', '4', '1', 'P') || c == FourCC('c', 'y', 'u', 'v');
        reader(pixels, Dest, flipped ? h.Height < 0 : h.Height > 0);
    } else {
        ReadRgb(h, table, entries, pixels, *Dest);
    }
    return h.Bits;
}

int PxDIBToDibbitmap(void* DIB, TPxDibbitmap* Dest, const void* Bits, bool IsPointer, int64_t BlockSize)
{
    TBlock block;
    OpenBlock(DIB, IsPointer, BlockSize, block);
    if (!block.Data || !Dest)
        return 0;
    THeader h;
    if (!ReadHeader(block.Data, block.Known, h))
        return 0;
    int64_t offset = -1;
    switch (h.Bits) {
    case 1:
    case 4:
    case 8: offset = h.Size + int64_t{TableEntries(h)} * 4; break;
    case 16:
    case 24:
    case 32:
        // Bit-field masks stand between the header and the pixels.
        if (h.Compression == 3 && h.Bits != 24)
            offset = h.Size + 12;
        else if (h.Compression == 0 || h.Bits != 32)
            offset = h.Size;
        break;
    default: break;
    }
    if (offset < 0)
        return h.Bits;
    const uint8_t* pixels = static_cast<const uint8_t*>(Bits);
    if (!Fits(block, h.Size, offset - h.Size))
        return 0;
    if (!pixels) {
        // Uncompressed rows must all be there; compressed data by the
        // header's image size.
        const int64_t rows = DibRowLen(h) * h.AbsHeight;
        const uint32_t sizeImage = PxLe32(block.Data + 20);
        const bool plain = h.Compression == 0 || h.Compression == 3;
        if (!plain && sizeImage == 0)
            return 0;
        if (!Fits(block, offset, plain ? rows : sizeImage))
            return 0;
        pixels = block.Data + offset;
    }
    if (!Dest->AllocateBits(h.Width, h.AbsHeight, h.Bits == 1 ? 1 : 24))
        return h.Bits;
    TPxDrawDib dd = PxDrawDibOpen();
    if (dd) {
        PxDrawDibDraw(dd, Dest->GetDC(), 0, 0, h.Width, h.AbsHeight, reinterpret_cast<const BITMAPINFOHEADER*>(block.Data),
                      pixels, 0, 0, h.Width, h.AbsHeight, 0);
        PxDrawDibClose(dd);
    }
    return h.Bits;
}

void PxYUVToRGB(int Y, int U, int V, TPxRGB& Out)
{
    const double d = (Y - 16) * 1.164;
    Out.b = static_cast<uint8_t>(PxClampByte(static_cast<int>(classlib::Round(d + 2.018 * (U - 128)))));
    Out.g = static_cast<uint8_t>(
        PxClampByte(static_cast<int>(classlib::Round(d - 0.813 * (V - 128) - 0.391 * (U - 128)))));
    Out.r = static_cast<uint8_t>(PxClampByte(static_cast<int>(classlib::Round(d + 1.596 * (V - 128)))));
}

void PxYUVRowsIYU1(const uint8_t* Source, TPxBitmap* Dest, bool TopDown)
{
    ReadPacked(Source, Dest, TopDown, 4, 6, false, [](const uint8_t* s, TPxRGB* p) {
        PxYUVToRGB(s[1], s[0], s[3], p[0]);
        PxYUVToRGB(s[2], s[0], s[3], p[1]);
        PxYUVToRGB(s[4], s[0], s[3], p[2]);
        PxYUVToRGB(s[5], s[0], s[3], p[3]);
    });
}

void PxYUVRowsIYU2(const uint8_t* Source, TPxBitmap* Dest, bool TopDown)
{
    ReadPacked(Source, Dest, TopDown, 1, 3, true, [](const uint8_t* s, TPxRGB* p) { PxYUVToRGB(s[1], s[0], s[2], p[0]); });
}

namespace {

// Two pixels in four bytes (4:2:2): the bytes of the two lumas and of the
// shared U and V.
void ReadPacked422(const uint8_t* Source, TPxBitmap* Dest, bool TopDown, int Y0, int Y1, int U, int V)
{
    ReadPacked(Source, Dest, TopDown, 2, 4, false, [=](const uint8_t* s, TPxRGB* p) {
        PxYUVToRGB(s[Y0], s[U], s[V], p[0]);
        PxYUVToRGB(s[Y1], s[U], s[V], p[1]);
    });
}

}  // namespace

void PxYUVRowsUYVY(const uint8_t* Source, TPxBitmap* Dest, bool TopDown)
{
    ReadPacked422(Source, Dest, TopDown, 1, 3, 0, 2);
}

void PxYUVRowsYUY2(const uint8_t* Source, TPxBitmap* Dest, bool TopDown)
{
    ReadPacked422(Source, Dest, TopDown, 0, 2, 1, 3);
}

void PxYUVRowsYVYU(const uint8_t* Source, TPxBitmap* Dest, bool TopDown)
{
    ReadPacked422(Source, Dest, TopDown, 0, 2, 3, 1);
}

void PxYUVRowsY41P(const uint8_t* Source, TPxBitmap* Dest, bool TopDown)
{
    // U0 Y0 V0 Y1 U4 Y2 V4 Y3 Y4 Y5 Y6 Y7
    ReadPacked(Source, Dest, TopDown, 8, 12, false, [](const uint8_t* s, TPxRGB* p) {
        const int y[8] = {s[1], s[3], s[5], s[7], s[8], s[9], s[10], s[11]};
        for (int i = 0; i < 4; ++i)
            PxYUVToRGB(y[i], s[0], s[2], p[i]);
        for (int i = 4; i < 8; ++i)
            PxYUVToRGB(y[i], s[4], s[6], p[i]);
    });
}

void PxYUVRowsY211(const uint8_t* Source, TPxBitmap* Dest, bool TopDown)
{
    ReadPacked(Source, Dest, TopDown, 4, 4, false, [](const uint8_t* s, TPxRGB* p) {
        PxYUVToRGB(s[0], s[1], s[3], p[0]);
        p[1] = p[0];
        PxYUVToRGB(s[2], s[1], s[3], p[2]);
        p[3] = p[2];
    });
}

void PxYUVRowsCLJR(const uint8_t* Source, TPxBitmap* Dest, bool TopDown)
{
    // Samples are stored with 5 (Y) and 6 (U, V) bits; they are widened to
    // 8 bits by a left shift, so that the middle of the chroma range (32)
    // becomes 128.
    ReadPacked(Source, Dest, TopDown, 4, 4, false, [](const uint8_t* s, TPxRGB* p) {
        const uint32_t word = PxLe32(s);
        const int v = static_cast<int>(word & 63) << 2;
        const int u = static_cast<int>((word >> 6) & 63) << 2;
        for (int i = 0; i < 4; ++i)
            PxYUVToRGB(static_cast<int>((word >> (12 + 5 * i)) & 31) << 3, u, v, p[i]);
    });
}

void PxYUVRowsYVU9(const uint8_t* Source, TPxBitmap* Dest, bool TopDown)
{
    ReadPlanar(Source, Dest, TopDown, 4, true);
}

void PxYUVRowsYV12(const uint8_t* Source, TPxBitmap* Dest, bool TopDown)
{
    ReadPlanar(Source, Dest, TopDown, 2, true);
}

void PxYUVRowsI420(const uint8_t* Source, TPxBitmap* Dest, bool TopDown)
{
    ReadPlanar(Source, Dest, TopDown, 2, false);
}

int64_t PxYUVFrameSize(uint32_t Code, int Width, int Height)
{
    if (Width < 0 || Height < 0)
        return -1;
    const int64_t w = Width, h = Height;
    auto packed = [&](int group, int bytes) { return int64_t{GroupsPerRow(Width, group)} * bytes * h; };
    if (Code == FourCC('I', 'Y', 'U', '1'))
        return packed(4, 6);
    if (Code == FourCC('I', 'Y', 'U', '2'))
        return w * 3 * h;
    if (Code == FourCC('U', 'Y', 'V', 'Y') || Code == FourCC('U', 'Y', 'N', 'V') || Code == FourCC('c', 'y', 'u', 'v') ||
        Code == FourCC('Y', 'U', 'Y', '2') || Code == FourCC('Y', 'U', 'N', 'V') || Code == FourCC('Y', 'V', 'Y', 'U'))
        return packed(2, 4);
    if (Code == FourCC('Y', '4', '1', 'P'))
        return packed(8, 12);
    if (Code == FourCC('Y', '2', '1', '1') || Code == FourCC('C', 'L', 'J', 'R'))
        return packed(4, 4);
    if (Code == FourCC('Y', 'V', 'U', '9'))
        return w * h + 2 * (w / 4) * (h / 4);
    if (Code == FourCC('Y', 'V', '1', '2') || Code == FourCC('I', '4', '2', '0') || Code == FourCC('I', 'Y', 'U', 'V'))
        return w * h + 2 * (w / 2) * (h / 2);
    return -1;
}

}  // namespace imaging
