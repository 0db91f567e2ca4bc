#include "imaging/model/PxWorkBitmap.h"

#include <cstring>
#include <limits>
#include <memory>
#include <utility>

#include "imaging/model/PxStreamUtils.h"

namespace imaging {

// ---------------------------------------------------------------------------
// TPxDibbitmap

TPxDibbitmap::TPxDibbitmap()
{
    info_.Header.biSize = sizeof(BITMAPINFOHEADER);
    info_.Header.biPlanes = 1;
    info_.Header.biCompression = BI_RGB;
    info_.Colors[0] = RGBQUAD{0, 0, 0, 0};
    info_.Colors[1] = RGBQUAD{255, 255, 255, 0};
}

TPxDibbitmap::~TPxDibbitmap()
{
    FreeBits();
}

bool TPxDibbitmap::AllocateBits(int Width, int Height, int BitCount)
{
    if (Width <= 0 || Height <= 0)
        return false;
    FreeBits();
    width_ = Width;
    height_ = Height;
    bitCount_ = BitCount;
    if (BitCount != 1 && BitCount != 24)
        return false;
    const int64_t rowLen = PxBitmapRowLen(Width, BitCount, 32);
    // The header's image size is 32 bits.
    if (rowLen > std::numeric_limits<int32_t>::max() / Height)
        return false;
    rowLen_ = static_cast<int>(rowLen);

    info_.Header.biBitCount = static_cast<WORD>(BitCount);
    info_.Header.biWidth = Width;
    info_.Header.biHeight = Height;  // positive: rows bottom-up
    info_.Header.biSizeImage = static_cast<DWORD>(rowLen_ * Height);
    // A DC compatible with the screen holds the section for the object's
    // lifetime; DIB_RGB_COLORS takes no colours from a DC.
    void* bits = nullptr;
    classlib::TOwnedBitmap section(
        CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(&info_), DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!section || !bits)
        return false;
    auto dc = std::make_unique<classlib::TMemoryDC>(section.Get());
    if (!dc->Get())
        return false;
    section_ = std::move(section);
    dc_ = std::move(dc);
    bits_ = static_cast<uint8_t*>(bits);
    return true;
}

void TPxDibbitmap::FreeBits()
{
    // The DC goes first, deselecting the section: a bitmap selected into a
    // DC cannot be deleted.
    dc_.reset();
    section_.Reset();
    bits_ = nullptr;
    width_ = 0;
    height_ = 0;
    bitCount_ = 0;
    rowLen_ = 0;
}

uint8_t* TPxDibbitmap::GetScanline(int Row)
{
    return bits_ + static_cast<int64_t>(rowLen_) * (height_ - 1 - Row);
}

TPxPixelFormat TPxDibbitmap::GetPixelFormat()
{
    switch (bitCount_) {
    case 1:
        return px1g;
    case 24:
        return px24RGB;
    default:
        return pxNoPixels;
    }
}

bool TPxDibbitmap::Allocate(int Width, int Height, TPxPixelFormat Format)
{
    switch (Format) {
    case px1g:
        return AllocateBits(Width, Height, 1);
    case px24RGB:
        return AllocateBits(Width, Height, 24);
    default:
        return false;
    }
}

void TPxDibbitmap::Assign(classlib::TObject* Source)
{
    auto* source = dynamic_cast<TPxDibbitmap*>(Source);
    if (!source || source == this)
        return;
    if (!AllocateBits(source->width_, source->height_, source->bitCount_) || !source->bits_)
        return;
    GdiFlush();
    std::memcpy(bits_, source->bits_, static_cast<size_t>(rowLen_) * static_cast<size_t>(height_));
}

// ---------------------------------------------------------------------------
// TPxWorkBitmap

TPxWorkBitmap::TPxWorkBitmap(int Width, int Height, int BitsPerPixel)
{
    if (Width > 0 && Height > 0)
        Allocate(Width, Height, BitsPerPixel);
}

TPxWorkBitmap::~TPxWorkBitmap()
{
    FreeBits();
}

bool TPxWorkBitmap::Allocate(int Width, int Height, int BitsPerPixel)
{
    if (block_ && Width == width_ && Height == height_ && BitsPerPixel == bitsPerPixel_)
        return true;
    FreeBits();
    if (Width <= 0 || Height <= 0 || BitsPerPixel <= 0)
        return false;
    const int64_t rowLen = PxBitmapRowLen(Width, BitsPerPixel, 32);
    if (rowLen <= 0 || rowLen > std::numeric_limits<int32_t>::max())
        return false;
    block_ = PxAllocBlock(rowLen * Height);  // at most 2^31 * 2^31: fits 64 bits
    if (!block_)
        return false;
    width_ = Width;
    height_ = Height;
    bitsPerPixel_ = BitsPerPixel;
    rowLen_ = static_cast<int>(rowLen);
    return true;
}

uint8_t* TPxWorkBitmap::GetScanline(int Row)
{
    return static_cast<uint8_t*>(block_) + static_cast<int64_t>(rowLen_) * (height_ - 1 - Row);
}

void TPxWorkBitmap::FreeBits()
{
    PxFreeBlock(block_);
    width_ = 0;
    height_ = 0;
    bitsPerPixel_ = 0;
    rowLen_ = 0;
}

// ---------------------------------------------------------------------------
// Video-for-Windows DIB drawing

namespace {

struct TDrawDibApi {
    using TOpen = HANDLE(WINAPI*)();
    using TClose = BOOL(WINAPI*)(HANDLE);
    using TRealize = UINT(WINAPI*)(HANDLE, HDC, BOOL);
    using TDraw = BOOL(WINAPI*)(HANDLE, HDC, int, int, int, int, BITMAPINFOHEADER*, void*, int, int, int, int, UINT);

    TOpen Open = nullptr;
    TClose Close = nullptr;
    TRealize Realize = nullptr;
    TDraw Draw = nullptr;

    template <class T>
    static T Proc(HMODULE module, const char* name)
    {
        return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }

    TDrawDibApi()
    {
        // Loaded once for the life of the process and never freed: the
        // handles it gives out may be in use until the very end.
        HMODULE module = LoadLibraryW(L"msvfw32.dll");
        if (!module)
            return;
        Open = Proc<TOpen>(module, "DrawDibOpen");
        Close = Proc<TClose>(module, "DrawDibClose");
        Realize = Proc<TRealize>(module, "DrawDibRealize");
        Draw = Proc<TDraw>(module, "DrawDibDraw");
    }
};

// Thread-safe first use (function-local static).
const TDrawDibApi& DrawDibApi()
{
    static const TDrawDibApi api;
    return api;
}

}  // namespace

TPxDrawDib PxDrawDibOpen()
{
    const TDrawDibApi& api = DrawDibApi();
    return api.Open ? api.Open() : nullptr;
}

bool PxDrawDibClose(TPxDrawDib Handle)
{
    const TDrawDibApi& api = DrawDibApi();
    return api.Close ? api.Close(Handle) != FALSE : false;
}

UINT PxDrawDibRealize(TPxDrawDib Handle, HDC DC, bool Background)
{
    const TDrawDibApi& api = DrawDibApi();
    return api.Realize ? api.Realize(Handle, DC, Background ? TRUE : FALSE) : 0;
}

bool PxDrawDibDraw(TPxDrawDib Handle, HDC DC, int TargetX, int TargetY, int TargetWidth, int TargetHeight,
                   const BITMAPINFOHEADER* Header, const void* Bits, int SourceX, int SourceY, int SourceWidth,
                   int SourceHeight, UINT Flags)
{
    const TDrawDibApi& api = DrawDibApi();
    if (!api.Draw)
        return false;
    // The platform's declaration takes non-const pointers; it reads only.
    return api.Draw(Handle, DC, TargetX, TargetY, TargetWidth, TargetHeight, const_cast<BITMAPINFOHEADER*>(Header),
                    const_cast<void*>(Bits), SourceX, SourceY, SourceWidth, SourceHeight, Flags) != FALSE;
}

}  // namespace imaging
