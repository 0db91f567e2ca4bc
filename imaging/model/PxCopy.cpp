#include "imaging/model/PxCopy.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/ScopeGuard.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxMask.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/model/PxWorkBitmap.h"

namespace imaging {

namespace detail {

const int PxCopyUnitAnchor = 0;

// Only memory images take a new alignment, so other locations pass through
// memory and back (cheap while the image is empty).
void PxSetEmptyRowAlignment(TPxBitmap& Bitmap, int Bits)
{
    if (Bitmap.GetRowAlignment() == Bits)
        return;
    const TPxLocation location = Bitmap.GetLocation();
    if (location != pxMemory)
        Bitmap.SetLocation(pxMemory);
    Bitmap.SetRowAlignment(Bits);
    if (location != pxMemory)
        Bitmap.SetLocation(location);
}

}  // namespace detail

namespace {

// Bytes per pixel of the formats copied byte for byte (0: not byte-aligned
// or no pixels).
int BytesPerPixel(TPxPixelFormat f)
{
    switch (f) {
    case px8p:
    case px8g:
        return 1;
    case px16g:
        return 2;
    case px24RGB:
    case pxCIELab:
        return 3;
    case px32f:
    case pxCMYK:
    case px32RGB:
        return 4;
    case pxRGB48:
        return 6;
    default:
        return 0;
    }
}

// The formats a system bitmap holds without changing the pixels.
bool SystemBitmapHolds(TPxPixelFormat f)
{
    return f == px1g || f == px8p || f == px8g || f == px24RGB || f == px32RGB;
}

// Takes the storage of Bitmap's alpha channel into a new image (Bitmap keeps
// an empty alpha channel object); nullptr when it has none.
std::unique_ptr<TPxBitmap> DetachAlpha(TPxBitmap& Bitmap)
{
    if (!Bitmap.HasAlphaChannel())
        return nullptr;
    auto held = std::make_unique<TPxBitmap>();
    Bitmap.GetAlphaChannel()->MoveStorageTo(held.get());
    return held;
}

// Copies every row of Source into Dest (same height), min(row lengths) bytes
// each; the rest of a longer Dest row is zeroed, so whole rows are written.
void CopyAllRows(TPxBitmap& Dest, TPxBitmap& Source)
{
    const int h = std::min(Dest.GetHeight(), Source.GetHeight());
    const int destLen = Dest.GetRowLen();
    const int n = std::min(destLen, Source.GetRowLen());
    TPxAccessScope readSource(Source, pxAccessRead);
    TPxAccessScope writeDest(Dest, pxAccessWrite);
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = Source.GetScanline(y);
        uint8_t* dst = Dest.GetScanline(y);
        std::memcpy(dst, src, static_cast<size_t>(n));
        if (destLen > n)
            std::memset(dst + n, 0, static_cast<size_t>(destLen - n));
    }
}

// The shared body of Assign (KeepOwn false) and AssignImage (KeepOwn true):
// allocation, rows, flags, alpha and palette. False when no storage could be
// had.
bool AssignFrom(TPxBitmap& Dest, TPxBitmap& Source, bool KeepOwn)
{
    const int w = Source.GetWidth();
    const int h = Source.GetHeight();
    const TPxPixelFormat format = Source.GetPixelFormat();
    const bool sourceEmpty = Source.IsEmpty();

    // AssignImage keeps the alpha channel object whatever the allocation
    // does with the image's storage.
    std::unique_ptr<TPxBitmap> keptAlpha;
    if (KeepOwn)
        keptAlpha = DetachAlpha(Dest);
    classlib::TOnExit restoreAlpha([&Dest, &keptAlpha] {
        if (keptAlpha)
            Dest.AttachAlphaChannel(keptAlpha.release());
    });

    // A system-bitmap image keeps what it has when the source is empty.
    if (Dest.GetLocation() == pxTBitmap && sourceEmpty)
        return true;
    bool ok;
    if (Dest.GetLocation() == pxTBitmap && SystemBitmapHolds(format)) {
        ok = Dest.Allocate(w, h, format);
    } else {
        Dest.FreeImage(!KeepOwn);
        if (Dest.GetLocation() == pxTBitmap)
            Dest.SetLocation(pxMemory);
        if (!KeepOwn)
            detail::PxSetEmptyRowAlignment(Dest, Source.GetRowAlignment());
        ok = !sourceEmpty && Dest.Allocate(w, h, format);
    }
    if (!ok) {
        // Nothing is written into storage that does not exist.
        Dest.FreeImage(!KeepOwn);
        return false;
    }
    CopyAllRows(Dest, Source);
    Dest.FullAlpha = KeepOwn ? false : Source.FullAlpha;

    if (!KeepOwn && !Dest.IsAlphaChannel()) {
        if (Source.HasAlphaChannel()) {
            if (TPxBitmap* alpha = Dest.GetAlphaChannel())
                alpha->Assign(Source.GetAlphaChannel());
        } else {
            Dest.RemoveAlphaChannel(false, 0);
        }
    }
    Source.CopyPaletteTo(&Dest);
    if (!KeepOwn)
        Dest.BiLevelMethod = Source.BiLevelMethod;
    return true;
}

// The rectangle of a copy after clipping; empty when W or H is below 1.
struct TClip {
    int sx, sy, tx, ty, w, h;
};

TClip ClipRect(int sw, int sh, int tw, int th, int sx, int sy, int tx, int ty, int w, int h)
{
    if (tx < 0) {
        sx -= tx;
        w += tx;
        tx = 0;
    }
    if (ty < 0) {
        sy -= ty;
        h += ty;
        ty = 0;
    }
    tx = PxClampInt(tx, 0, tw - 1);
    ty = PxClampInt(ty, 0, th - 1);
    sx = PxClampInt(sx, 0, sw - 1);
    sy = PxClampInt(sy, 0, sh - 1);
    w = std::min({w, sw - sx, tw - tx});
    h = std::min({h, sh - sy, th - ty});
    return TClip{sx, sy, tx, ty, w, h};
}

}  // namespace

void PxCopyInstallServices()
{
    PxBitmapServices.Assign = &PxAssignBitmap;
}

// ---------------------------------------------------------------------------
// Whole images

void PxAssignBitmap(TPxBitmap& Dest, classlib::TObject* Source)
{
    if (auto* vcl = dynamic_cast<classlib::TBitmap*>(Source)) {
        CopyFromVclBitmap(Dest, vcl);
        return;
    }
    auto* source = dynamic_cast<TPxBitmap*>(Source);
    if (!source || source == &Dest)
        return;
    // The image's own alpha channel is freed by the copy: copy from its
    // storage, taken out first.
    std::unique_ptr<TPxBitmap> ownAlpha;
    if (Dest.HasAlphaChannel() && source == Dest.GetAlphaChannel()) {
        ownAlpha = DetachAlpha(Dest);
        source = ownAlpha.get();
    }
    AssignFrom(Dest, *source, false);
}

bool AssignImage(TPxBitmap& Bitmap, TPxBitmap* Source)
{
    if (!Source || Source == &Bitmap || Source->IsEmpty())
        return true;
    if (Bitmap.HasAlphaChannel() && Source == Bitmap.GetAlphaChannel()) {
        // Copy first: the source is part of what is kept.
        TPxBitmap copy;
        if (!AssignFrom(copy, *Source, false))
            return false;
        return AssignFrom(Bitmap, copy, true);
    }
    return AssignFrom(Bitmap, *Source, true);
}

// ---------------------------------------------------------------------------
// Rectangles

void CopyRectTo(TPxBitmap& Bitmap, TPxBitmap* Target, int SourceX, int SourceY, int TargetX, int TargetY, int Width,
                int Height)
{
    if (!Target || Bitmap.IsEmpty() || Target->IsEmpty())
        return;
    const TPxPixelFormat sf = Bitmap.GetPixelFormat();
    const TPxPixelFormat tf = Target->GetPixelFormat();
    const int bpp = sf == tf ? BytesPerPixel(sf) : 0;
    const bool bits = sf == px1g && tf == px1g;
    const bool expand = sf == px1g && tf == px24RGB;
    if (!bits && !expand && bpp == 0)
        return;
    const TClip c = ClipRect(Bitmap.GetWidth(), Bitmap.GetHeight(), Target->GetWidth(), Target->GetHeight(), SourceX,
                             SourceY, TargetX, TargetY, Width, Height);
    if (c.w < 1 || c.h < 1)
        return;

    if (Target == &Bitmap) {
        // One image cannot hand out two file rows at once, and the rows may
        // overlap: go through a copy of the rectangle.
        TPxBitmap part;
        if (!part.Allocate(c.w, c.h, sf))
            return;
        CopyRectTo(Bitmap, &part, c.sx, c.sy, 0, 0, c.w, c.h);
        CopyRectTo(part, Target, 0, 0, c.tx, c.ty, c.w, c.h);
        return;
    }

    TPxAccessScope readSource(Bitmap, pxAccessRead);
    TPxAccessScope readWriteTarget(*Target, pxAccessReadWrite);
    for (int i = 0; i < c.h; ++i) {
        const uint8_t* src = Bitmap.GetScanline(c.sy + i);
        uint8_t* dst = Target->GetScanline(c.ty + i);
        if (bits) {
            PxCopyBits(dst, src, c.tx, Bitmap.GetRowLen(), c.w, c.sx);
        } else if (expand) {
            TPxRGB* out = reinterpret_cast<TPxRGB*>(dst) + c.tx;
            for (int x = 0; x < c.w; ++x) {
                const uint8_t v = PxGetBit(src, c.sx + x) ? 255 : 0;
                out[x] = TPxRGB{v, v, v};
            }
        } else {
            std::memmove(dst + static_cast<int64_t>(c.tx) * bpp, src + static_cast<int64_t>(c.sx) * bpp,
                         static_cast<size_t>(c.w) * static_cast<size_t>(bpp));
        }
    }
}

void MergeAlphaRectTo(TPxBitmap& Bitmap, TPxBitmap* Target, int SourceX, int SourceY, int TargetX, int TargetY,
                      int Width, int Height)
{
    if (!Target || Target == &Bitmap || Bitmap.IsAlphaChannel() || Target->IsAlphaChannel())
        return;
    TPxBitmap* sa = Bitmap.GetAlphaChannel();
    TPxBitmap* ta = Target->GetAlphaChannel();
    if (!sa || !ta || sa->IsEmpty() || ta->IsEmpty() || sa->GetPixelFormat() != px8g ||
        ta->GetPixelFormat() != px8g)
        return;
    const TClip c = ClipRect(sa->GetWidth(), sa->GetHeight(), ta->GetWidth(), ta->GetHeight(), SourceX, SourceY,
                             TargetX, TargetY, Width, Height);
    if (c.w < 1 || c.h < 1)
        return;
    TPxAccessScope readSource(*sa, pxAccessRead);
    TPxAccessScope readWriteTarget(*ta, pxAccessReadWrite);
    bool lowered = false;
    for (int i = 0; i < c.h; ++i) {
        const uint8_t* src = sa->GetScanline(c.sy + i) + c.sx;
        uint8_t* dst = ta->GetScanline(c.ty + i) + c.tx;
        for (int x = 0; x < c.w; ++x) {
            dst[x] = std::max(dst[x], src[x]);
            lowered = lowered || dst[x] != 255;
        }
    }
    // Values only grow, so a full target stays full.
    if (lowered)
        ta->FullAlpha = false;
}

void MoveRegion(TPxBitmap& Bitmap, int x1, int y1, int x2, int y2, int TargetX, int TargetY, double Fill)
{
    const int w = x2 - x1 + 1;
    const int h = y2 - y1 + 1;
    if (w < 1 || h < 1 || Bitmap.IsEmpty())
        return;
    TPxBitmap part;
    if (!part.Allocate(w, h, Bitmap.GetPixelFormat()))
        return;
    CopyRectTo(Bitmap, &part, x1, y1, 0, 0, w, h);
    Bitmap.FillRect(x1, y1, x2, y2, Fill);
    CopyRectTo(part, &Bitmap, 0, 0, TargetX, TargetY, w, h);
}

namespace {

// The moves of ResizeCanvas on one image (the image or its alpha channel).
void ShrinkMoves(TPxBitmap& b, int W, int H, int width, int height, double fill, int horizontal, int vertical)
{
    if (width < W && (horizontal == 1 || horizontal == 2)) {
        const int x1 = horizontal == 1 ? (W - width) / 2 : W - width;
        MoveRegion(b, x1, 0, x1 + width - 1, H - 1, 0, 0, fill);
    }
    if (height < H && (vertical == 1 || vertical == 2)) {
        const int y1 = vertical == 1 ? (H - height) / 2 : H - height;
        MoveRegion(b, 0, y1, W - 1, y1 + height - 1, 0, 0, fill);
    }
}

void GrowMoves(TPxBitmap& b, int W, int H, int width, int height, double fill, int horizontal, int vertical)
{
    if (b.IsEmpty())
        return;
    if (width > W) {
        b.FillRect(W, 0, width - 1, height - 1, fill);
        if (horizontal == 1 || horizontal == 2) {
            const int tx = horizontal == 1 ? (width - W) / 2 : width - W;
            MoveRegion(b, 0, 0, W - 1, height - 1, tx, 0, fill);
        }
    }
    if (height > H) {
        b.FillRect(0, H, width - 1, height - 1, fill);
        if (vertical == 1 || vertical == 2) {
            const int ty = vertical == 1 ? (height - H) / 2 : height - H;
            MoveRegion(b, 0, 0, width - 1, H - 1, 0, ty, fill);
        }
    }
}

}  // namespace

void ResizeCanvas(TPxBitmap& Bitmap, int Width, int Height, double Fill, int AlphaFill, int Horizontal, int Vertical)
{
    const int W = Bitmap.GetWidth();
    const int H = Bitmap.GetHeight();
    const double alphaFill = static_cast<double>(AlphaFill);
    ShrinkMoves(Bitmap, W, H, Width, Height, Fill, Horizontal, Vertical);
    if (Bitmap.HasAlphaChannel())
        ShrinkMoves(*Bitmap.GetAlphaChannel(), W, H, Width, Height, alphaFill, Horizontal, Vertical);
    Bitmap.SetWidth(Width);
    Bitmap.SetHeight(Height);
    // A side that could not be had leaves the image empty: nothing to fill.
    if (Bitmap.GetWidth() != Width || Bitmap.GetHeight() != Height)
        return;
    GrowMoves(Bitmap, W, H, Width, Height, Fill, Horizontal, Vertical);
    if (Bitmap.HasAlphaChannel()) {
        TPxBitmap* alpha = Bitmap.GetAlphaChannel();
        if (alpha->GetWidth() == Width && alpha->GetHeight() == Height)
            GrowMoves(*alpha, W, H, Width, Height, alphaFill, Horizontal, Vertical);
    }
}

// ---------------------------------------------------------------------------
// Class-library bitmaps

namespace {

// Up to 256 palette entries of a system bitmap's palette.
std::vector<TPxRGB> VclPalette(classlib::TBitmap* Bitmap, int Count)
{
    std::vector<TPxRGB> colours(static_cast<size_t>(Count), TPxRGB{0, 0, 0});
    HPALETTE palette = Bitmap->GetPalette();
    if (!palette)
        return colours;
    std::vector<PALETTEENTRY> entries(static_cast<size_t>(Count), PALETTEENTRY{0, 0, 0, 0});
    const UINT got = GetPaletteEntries(palette, 0, static_cast<UINT>(Count), entries.data());
    for (UINT i = 0; i < got && i < static_cast<UINT>(Count); ++i)
        colours[i] = TPxRGB{entries[i].peBlue, entries[i].peGreen, entries[i].peRed};
    return colours;
}

bool CopyVclIntoSystemBitmap(TPxBitmap& Bitmap, classlib::TBitmap* Source)
{
    // The image needs a system bitmap of its own to copy into.
    if (Bitmap.IsEmpty() && !Bitmap.Allocate(1, 1, px24RGB))
        return false;
    classlib::TBitmap* own = Bitmap.GetVclBitmap();
    if (!own)
        return false;
    PxCopyVclBitmap(Source, own);
    const classlib::TPixelFormat pf = own->GetPixelFormat();
    if (pf != classlib::pf1bit && pf != classlib::pf24bit && pf != classlib::pf32bit)
        own->SetPixelFormat(classlib::pf24bit);
    Bitmap.FullAlpha = false;
    // The getters take width, height, format and rows from the system bitmap.
    return !Bitmap.IsEmpty();
}

}  // namespace

bool CopyFromVclBitmap(TPxBitmap& Bitmap, classlib::TBitmap* Source)
{
    if (!Source)
        return false;
    if (Source->GetEmpty()) {
        Bitmap.FreeImage(true);
        return false;
    }
    if (Bitmap.GetLocation() == pxTBitmap)
        return CopyVclIntoSystemBitmap(Bitmap, Source);

    const classlib::TPixelFormat pf = Source->GetPixelFormat();
    TPxPixelFormat format;
    int paletteCount = 0;
    switch (pf) {
    case classlib::pf1bit:
        if (Source->GetMonochrome()) {
            format = px1g;
        } else {
            format = px8p;
            paletteCount = 2;
        }
        break;
    case classlib::pf4bit:
        format = px8p;
        paletteCount = 16;
        break;
    case classlib::pf8bit:
        format = px8p;
        paletteCount = 256;
        break;
    case classlib::pf15bit:
    case classlib::pf16bit:
    case classlib::pf24bit:
        format = px24RGB;
        break;
    case classlib::pf32bit:
        format = px32RGB;
        break;
    default:
        return false;
    }
    const int w = Source->GetWidth();
    const int h = Source->GetHeight();
    if (!Bitmap.Allocate(w, h, format))
        return false;
    if (paletteCount > 0) {
        const std::vector<TPxRGB> colours = VclPalette(Source, paletteCount);
        Bitmap.SetPaletteLen(paletteCount);
        for (int i = 0; i < paletteCount; ++i)
            Bitmap.SetPaletteEntry(i, colours[static_cast<size_t>(i)]);
    }
    const int64_t sourceLen = PxVclBitmapRowLen(w, pf);
    const size_t n = static_cast<size_t>(std::min<int64_t>(Bitmap.GetRowLen(), sourceLen));
    TPxAccessScope write(Bitmap, pxAccessWrite);
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = static_cast<const uint8_t*>(Source->GetScanLine(y));
        uint8_t* dst = Bitmap.GetScanline(y);
        switch (pf) {
        case classlib::pf1bit:
            if (format == px1g) {
                std::memcpy(dst, src, n);
            } else {
                for (int x = 0; x < w; ++x)
                    dst[x] = PxGetBit(src, x) ? 1 : 0;
            }
            break;
        case classlib::pf4bit:
            for (int x = 0; x < w; ++x)
                dst[x] = (x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4);
            break;
        case classlib::pf15bit:
        case classlib::pf16bit: {
            TPxRGB* out = reinterpret_cast<TPxRGB*>(dst);
            for (int x = 0; x < w; ++x) {
                const unsigned v = static_cast<unsigned>(src[2 * x]) | (static_cast<unsigned>(src[2 * x + 1]) << 8);
                if (pf == classlib::pf15bit)
                    out[x] = TPxRGB{static_cast<uint8_t>((v & 31) * 8), static_cast<uint8_t>(((v >> 5) & 31) * 8),
                                    static_cast<uint8_t>(((v >> 10) & 31) * 8)};
                else
                    out[x] = TPxRGB{static_cast<uint8_t>((v & 31) * 8), static_cast<uint8_t>(((v >> 5) & 63) * 4),
                                    static_cast<uint8_t>((v >> 11) * 8)};
            }
            break;
        }
        default:
            std::memcpy(dst, src, n);
            break;
        }
    }
    Bitmap.FullAlpha = false;
    return true;
}

void PxCopyVclBitmap(classlib::TBitmap* Source, classlib::TBitmap* Dest)
{
    if (!Source || !Dest || Source == Dest)
        return;
    const classlib::TPixelFormat format = Source->GetPixelFormat();
    const int w = Source->GetWidth();
    const int h = Source->GetHeight();
    if (w <= 0 || h <= 0) {
        Dest->SetSize(1, 1);
        Dest->SetPixelFormat(format);
        return;
    }
    if (Dest->GetWidth() != w || Dest->GetHeight() != h || Dest->GetPixelFormat() != format) {
        Dest->SetSize(1, 1);
        Dest->SetPixelFormat(format);
        Dest->SetSize(w, h);
    }
    // The colour table of a palette bitmap.
    if (PxVclPixelFormatBits(format) <= 8) {
        if (HPALETTE palette = Source->GetPalette()) {
            PALETTEENTRY entries[256];
            const UINT n = GetPaletteEntries(palette, 0, 256, entries);
            if (n > 0) {
                std::vector<uint8_t> buffer(sizeof(LOGPALETTE) + n * sizeof(PALETTEENTRY));
                auto* logPalette = reinterpret_cast<LOGPALETTE*>(buffer.data());
                logPalette->palVersion = 0x300;
                logPalette->palNumEntries = static_cast<WORD>(n);
                std::memcpy(logPalette->palPalEntry, entries, n * sizeof(PALETTEENTRY));
                if (HPALETTE copy = CreatePalette(logPalette))
                    Dest->SetPalette(copy);
            }
        }
    }
    const int64_t rowLen = PxVclBitmapRowLen(w, Dest->GetPixelFormat());
    if (rowLen <= 0)
        return;
    const uint8_t* s0 = static_cast<const uint8_t*>(Source->GetScanLine(0));
    const uint8_t* s1 = static_cast<const uint8_t*>(Source->GetScanLine(h - 1));
    uint8_t* d0 = static_cast<uint8_t*>(Dest->GetScanLine(0));
    uint8_t* d1 = static_cast<uint8_t*>(Dest->GetScanLine(h - 1));
    std::memcpy(std::min(d0, d1), std::min(s0, s1), static_cast<size_t>(rowLen * h));
}

std::unique_ptr<classlib::TBitmap> PxCloneVclBitmap(classlib::TBitmap* Source)
{
    auto copy = std::make_unique<classlib::TBitmap>();
    PxCopyVclBitmap(Source, copy.get());
    return copy;
}

bool CopyFromDibBitmap(TPxBitmap& Bitmap, TPxDibbitmap* Source)
{
    if (!Source)
        return false;
    const int bits = Source->GetBitCount();
    const int w = Source->GetWidth();
    const int h = Source->GetHeight();
    TPxPixelFormat format;
    if (Bitmap.GetLocation() == pxTBitmap)
        format = bits == 1 ? px1g : px24RGB;
    else if (bits == 1)
        format = px1g;
    else if (bits == 8)
        format = px8g;
    else if (bits == 24)
        format = px24RGB;
    else
        return false;
    if (w < 1 || h < 1 || !Source->GetBits() || !Bitmap.Allocate(w, h, format))
        return false;
    // Drawing into the section may still be queued.
    GdiFlush();
    const size_t n = static_cast<size_t>(std::min(Bitmap.GetRowLen(), Source->GetRowLen()));
    TPxAccessScope write(Bitmap, pxAccessWrite);
    for (int y = 0; y < h; ++y)
        std::memcpy(Bitmap.GetScanline(y), Source->GetScanline(y), n);
    return true;
}

bool CopyFromMask(TPxBitmap& Bitmap, TPxMask* Mask)
{
    if (!Mask) {
        Bitmap.Fill(255);
        return true;
    }
    TPxPixelFormat format;
    if (Mask->BitsPerPixel == 1)
        format = px1g;
    else if (Mask->BitsPerPixel == 8)
        format = px8g;
    else
        return false;
    uint8_t* bits = Mask->GetBits();
    if (!bits || !Bitmap.Allocate(Mask->Width, Mask->Height, format))
        return false;
    const int h = Mask->Height;
    const size_t n = static_cast<size_t>(std::min(Bitmap.GetRowLen(), Mask->RowLen));
    TPxAccessScope write(Bitmap, pxAccessWrite);
    for (int y = 0; y < h; ++y) {
        // The mask's rows are bottom-up.
        const uint8_t* src = bits + static_cast<int64_t>(Mask->RowLen) * (h - 1 - y);
        std::memcpy(Bitmap.GetScanline(y), src, n);
    }
    Bitmap.FullAlpha = Mask->Full;
    return true;
}

}  // namespace imaging
