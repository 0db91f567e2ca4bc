// Frames: descriptor, pixels, palette, rendering and drawing.
#include <algorithm>
#include <cstring>
#include <new>

#include "classlib/ScopeGuard.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "gif/GIFDIB.h"
#include "gif/GIFDither.h"
#include "gif/GIFEncoders.h"
#include "gif/GIFExtensions.h"
#include "gif/GIFImage.h"
#include "gif/GIFLZWDecoder.h"

namespace gif {

namespace {

// A memory DC compatible with the screen; failure raises.
classlib::TOwnedDC NewMemoryDC()
{
    return classlib::TOwnedDC(CheckGdi(::CreateCompatibleDC(nullptr)));
}

bool IsNTPlatform()
{
    return true;  // every supported platform is of the NT family
}

// Copies Source to Dest through the 1-bit mask (1 = keep the destination).
void MaskedStretchBlt(HDC DestDC, int DestX, int DestY, int DestW, int DestH, HDC SourceDC, int SrcX, int SrcY,
                      int SrcW, int SrcH, HDC MaskDC, int MaskX, int MaskY)
{
    if (IsNTPlatform() && DestW == SrcW && DestH == SrcH) {
        // MaskBlt takes the mask as a bitmap: it leaves MaskDC for the call
        // and a placeholder stands in for it.
        classlib::TOwnedBitmap Dummy(CheckGdi(::CreateBitmap(1, 1, 1, 1, nullptr)));
        classlib::TSelectObjectScope Swap(MaskDC, Dummy.Get());
        const auto Mask = static_cast<HBITMAP>(Swap.Previous());
        ::MaskBlt(DestDC, DestX, DestY, DestW, DestH, SourceDC, SrcX, SrcY, Mask, MaskX, MaskY, 0xCCAA0029);
        return;
    }
    classlib::TOwnedDC ColorDC = NewMemoryDC(), MonoDC = NewMemoryDC();
    classlib::TOwnedBitmap ColorBmp(CheckGdi(::CreateCompatibleBitmap(SourceDC, SrcW, SrcH)));
    classlib::TSelectObjectScope ColorSel(ColorDC.Get(), ColorBmp.Get());
    classlib::TOwnedBitmap MonoBmp(CheckGdi(::CreateBitmap(SrcW, SrcH, 1, 1, nullptr)));
    classlib::TSelectObjectScope MonoSel(MonoDC.Get(), MonoBmp.Get());
    ::BitBlt(MonoDC.Get(), 0, 0, SrcW, SrcH, MaskDC, MaskX, MaskY, NOTSRCCOPY);
    HPALETTE Pal = static_cast<HPALETTE>(::GetCurrentObject(SourceDC, OBJ_PAL));
    if (!Pal)
        Pal = static_cast<HPALETTE>(::GetStockObject(DEFAULT_PALETTE));
    classlib::TSelectPaletteScope PalSel(ColorDC.Get(), Pal);
    ::BitBlt(ColorDC.Get(), 0, 0, SrcW, SrcH, MonoDC.Get(), 0, 0, SRCCOPY);
    ::BitBlt(ColorDC.Get(), 0, 0, SrcW, SrcH, SourceDC, SrcX, SrcY, SRCAND);
    classlib::TTextColorsScope Colors(DestDC, RGB(0, 0, 0), RGB(255, 255, 255));
    ::StretchBlt(DestDC, DestX, DestY, DestW, DestH, MaskDC, MaskX, MaskY, SrcW, SrcH, SRCAND);
    ::StretchBlt(DestDC, DestX, DestY, DestW, DestH, ColorDC.Get(), 0, 0, SrcW, SrcH, SRCPAINT);
}

}  // namespace

// ---- life cycle -------------------------------------------------------------------

TGIFSubImage::TGIFSubImage(TGIFImage* Owner)
    : TGIFItem(Owner), LocalTable(new TGIFLocalColorMap(this)), ExtensionList(new TGIFExtensionList(this))
{
}

TGIFSubImage::~TGIFSubImage()
{
    if (OwnerImage)
        OwnerImage->GetImages()->Remove(this);
    Clear();
    ExtensionList.reset();
    LocalTable.reset();
}

void TGIFSubImage::Clear()
{
    ExtensionList->Clear();
    LocalTable->Clear();
    FreeImage();
    SetPlacement(GetLeft(), GetTop(), 0, 0);
    IsTransparent = false;
    ControlExtension = nullptr;
    FreeBitmap();
    FreeMask();
}

bool TGIFSubImage::Empty() const
{
    return !PixelData || PixelDataSize <= 0 || GetHeight() <= 0 || GetWidth() <= 0;
}

RECT TGIFSubImage::FrameRect() const
{
    return RECT{GetLeft(), GetTop(), GetLeft() + GetWidth(), GetTop() + GetHeight()};
}

void TGIFSubImage::SetPlacement(int Left, int Top, int Width, int Height)
{
    auto Fits = [](int v) { return v >= 0 && v <= 0xFFFF; };
    if (!Fits(Left) || !Fits(Top) || !Fits(Width) || !Fits(Height))
        RaiseGifError(L"Invalid image dimensions");
    const bool SizeChanged = Width != Descriptor.Width || Height != Descriptor.Height;
    Descriptor.Left = static_cast<uint16_t>(Left);
    Descriptor.Top = static_cast<uint16_t>(Top);
    Descriptor.Width = static_cast<uint16_t>(Width);
    Descriptor.Height = static_cast<uint16_t>(Height);
    if (SizeChanged) {
        FreeBitmap();
        FreeMask();
        NewImage();
    }
    if (!OwnerImage)
        return;
    auto& Screen = OwnerImage->GetHeader()->ScreenDescriptor;
    bool Warned = false;
    if (Screen.ScreenWidth < Left + Width) {
        if (Screen.ScreenWidth > 0) {
            Warning(1, L"Image width too small for contained frames");
            Warned = true;
        }
        Screen.ScreenWidth = static_cast<uint16_t>(std::min(Left + Width, 0xFFFF));
    }
    if (Screen.ScreenHeight < Top + Height) {
        if (Screen.ScreenHeight > 0) {
            Warning(1, L"Image height too small for contained frames");
            Warned = true;
        }
        Screen.ScreenHeight = static_cast<uint16_t>(std::min(Top + Height, 0xFFFF));
    }
    if (Warned)
        Warning(1, L"Image exceeds Logical Screen size");
}

void TGIFSubImage::NewImage(bool Cleared)
{
    FreeImage();
    const int64_t Size = CheckedPixelCount(GetWidth(), GetHeight());
    if (Size > 0) {
        try {
            PixelData.reset(Cleared ? new uint8_t[static_cast<size_t>(Size)]()
                                    : new uint8_t[static_cast<size_t>(Size)]);
        } catch (const std::bad_alloc&) {
            throw classlib::EOutOfMemory(L"Out of memory");
        }
    }
    PixelDataSize = static_cast<int32_t>(Size);
}

void TGIFSubImage::FreeImage()
{
    PixelData.reset();
    PixelDataSize = 0;
}

void TGIFSubImage::NeedImage()
{
    if (!PixelData)
        NewImage();
    if (PixelDataSize == 0)
        RaiseGifError(L"Image is empty");
}

uint8_t* TGIFSubImage::Scanline(int y)
{
    if (y < 0 || y >= GetHeight())
        RaiseGifError(L"Invalid pixel coordinates");
    NeedImage();
    return PixelData.get() + int64_t{y} * GetWidth();
}

uint8_t& TGIFSubImage::Pixels(int x, int y)
{
    if (x < 0 || x >= GetWidth())
        RaiseGifError(L"Invalid pixel coordinates");
    return Scanline(y)[x];
}

void TGIFSubImage::SetInterlaced(bool Value)
{
    Descriptor.PackedFields =
        static_cast<uint8_t>(Value ? (Descriptor.PackedFields | 0x40) : (Descriptor.PackedFields & ~0x40));
}

TGIFColorMap* TGIFSubImage::ActiveColorMap()
{
    if (LocalTable->GetCount() == 0 && OwnerImage && OwnerImage->GetGlobalColorMap()->GetCount() > 0)
        return OwnerImage->GetGlobalColorMap();
    return LocalTable.get();
}

int TGIFSubImage::Version() const
{
    return (LocalTable->GetSorted() || ExtensionList->GetCount() > 0) ? 2 : 1;
}

int TGIFSubImage::TransparentIndex() const
{
    return ControlExtension ? ControlExtension->GetTransparentColorIndex() : 0;
}

// ---- palette and bitmap --------------------------------------------------------------

HPALETTE TGIFSubImage::GetPalette()
{
    if (FrameBitmap) {
        if (HPALETTE p = FrameBitmap->GetPalette())
            return p;
    }
    if (FramePalette)
        return FramePalette.Get();
    if (OwnerImage && OwnerImage->UseWebDither()) {
        FramePalette.Reset(CreateWebPalette());
        return FramePalette.Get();
    }
    if (LocalTable->GetCount() == 0)
        return OwnerImage ? OwnerImage->GetPalette() : nullptr;
    FramePalette.Reset(LocalTable->ExportPalette());
    return FramePalette.Get();
}

void TGIFSubImage::SetPalette(HPALETTE Value)
{
    FramePalette.Reset(Value);
    if (FrameBitmap && FrameBitmap->GetPalette() != Value) {
        FreeBitmap();
        if (OwnerImage) {
            OwnerImage->SetPaletteModified(true);
            OwnerImage->Changed(this);
        }
    }
}

classlib::TBitmap* TGIFSubImage::NewBitmap()
{
    FrameBitmap = std::make_unique<classlib::TBitmap>();
    return FrameBitmap.get();
}

void TGIFSubImage::FreeBitmap()
{
    FrameBitmap.reset();
}

void TGIFSubImage::FreeMask()
{
    MaskBitmap.Reset();
    MaskPending = true;
}

void TGIFSubImage::SetHasBitmap(bool Value)
{
    if (Value)
        GetBitmap();
    else
        FreeBitmap();
}

bool TGIFSubImage::HasMask()
{
    if (MaskPending && IsTransparent) {
        FreeBitmap();
        GetBitmap();
    }
    return static_cast<bool>(MaskBitmap);
}

void TGIFSubImage::Progress(classlib::TProgressStage Stage, uint8_t Percent, bool RedrawNow, const std::wstring& Msg)
{
    if (OwnerImage)
        OwnerImage->DoProgress(this, Stage, Percent, RedrawNow, Msg);
}

classlib::TBitmap* TGIFSubImage::GetBitmap()
{
    if (FrameBitmap)
        return FrameBitmap.get();
    if (Empty())
        return nullptr;
    Progress(classlib::psStarting, 0, false, L"Rendering...");
    bool Done = false;
    classlib::TOnExit End([this, &Done] {
        const bool Modified = OwnerImage && OwnerImage->GetPaletteModified();
        try {
            Progress(classlib::psEnding, Done ? 100 : 0, Modified, L"Rendering...");
            if (Modified)
                OwnerImage->Changed(this);
        } catch (...) {
        }
    });
    try {
        auto Bitmap = std::make_unique<classlib::TBitmap>();
        if (int64_t{GetWidth()} * GetHeight() > 500000)
            Bitmap->SetPixelFormat(classlib::pf1bit);
        const bool BuildMask = MaskPending && IsTransparent && !MaskBitmap;
        MaskPending = false;
        if (OwnerImage && OwnerImage->UseWebDither())
            RenderDithered(Bitmap.get(), BuildMask);
        else
            RenderDirect(Bitmap.get(), BuildMask);
        FrameBitmap = std::move(Bitmap);
        Done = true;
    } catch (const classlib::EAbort&) {
    }
    return FrameBitmap.get();
}

namespace {

// The 1-bit mask rows (padded to 16 bits), 1 = transparent.
struct TMaskBuilder {
    int64_t RowSize;
    std::vector<uint8_t> Bits;
    bool Any = false;
    TMaskBuilder(int Width, int Height) : RowSize(RowBytes(Width, 1, 16)), Bits(RowSize * Height, 0) {}
    void Set(int x, int y)
    {
        Bits[y * RowSize + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        Any = true;
    }
    HBITMAP Create(int Width, int Height) const
    {
        return Any ? CheckGdi(::CreateBitmap(Width, Height, 1, 1, Bits.data())) : nullptr;
    }
};

}  // namespace

void TGIFSubImage::RenderDirect(classlib::TBitmap* Bitmap, bool BuildMask)
{
    const int W = GetWidth(), H = GetHeight();
    TDIBWriter Writer(Bitmap, GetPalette(), H, W, classlib::pf8bit);
    std::unique_ptr<TMaskBuilder> Mask;
    if (BuildMask)
        Mask = std::make_unique<TMaskBuilder>(W, H);
    const int t = TransparentIndex();
    for (int y = 0; y < H; ++y) {
        const uint8_t* Src = PixelData.get() + int64_t{y} * W;
        std::memcpy(Writer.GetRow(y), Src, static_cast<size_t>(W));
        if (Mask)
            for (int x = 0; x < W; ++x)
                if (Src[x] == t)
                    Mask->Set(x, y);
        if (y % 32 == 0)
            Progress(classlib::psRunning, static_cast<uint8_t>(int64_t{y} * 100 / H), false, L"Rendering...");
    }
    Writer.Finish();
    if (Mask)
        MaskBitmap.Reset(Mask->Create(W, H));
}

void TGIFSubImage::RenderDithered(classlib::TBitmap* Bitmap, bool BuildMask)
{
    const int W = GetWidth(), H = GetHeight();
    TNetscapeColorLookup Lookup(GetPalette());
    TFloydSteinbergDitherer Ditherer(W, &Lookup);
    TDIBWriter Writer(Bitmap, GetPalette(), H, W, classlib::pf8bit);
    std::unique_ptr<TMaskBuilder> Mask;
    if (BuildMask)
        Mask = std::make_unique<TMaskBuilder>(W, H);
    TGIFColorMap* Map = ActiveColorMap();
    TGIFColor Colors[256]{};
    for (int i = 0; i < Map->GetCount() && i < 256; ++i)
        Colors[i] = Map->Entry(i);
    auto ColorOf = [&](int Index) {
        if (Index < Map->GetCount())
            return Colors[Index];
        const TGIFRGB c = Map->GetColor(Index);  // warns, reads entry 0
        return TGIFColor{static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c >> 16)};
    };
    const int t = TransparentIndex();
    uint8_t TransparentWeb = 0;
    if (Mask) {
        uint8_t r, g, b;
        const TGIFColor c = ColorOf(t);
        TransparentWeb = Lookup.MapColor(c.Red, c.Green, c.Blue, r, g, b);
    }
    for (int y = 0; y < H; ++y) {
        const uint8_t* Src = PixelData.get() + int64_t{y} * W;
        uint8_t* Dst = Writer.GetRow(y);
        if (Mask)
            std::memset(Dst, TransparentWeb, static_cast<size_t>(W));
        for (int x = Ditherer.NextColumn; x >= 0 && x < W; x = Ditherer.NextColumn) {
            if (Mask && Src[x] == t) {
                Mask->Set(x, y);
                Ditherer.NextColumn += Ditherer.WalkDirection;
                continue;
            }
            const TGIFColor c = ColorOf(Src[x]);
            uint8_t r, g, b;
            Dst[x] = Ditherer.DitherPixel(c.Red, c.Green, c.Blue, r, g, b);
        }
        Ditherer.EndRow();
        if (y % 32 == 0)
            Progress(classlib::psRunning, static_cast<uint8_t>(int64_t{y} * 100 / H), false, L"Rendering...");
    }
    Writer.Finish();
    if (Mask)
        MaskBitmap.Reset(Mask->Create(W, H));
}

void TGIFSubImage::Prepare()
{
    uint8_t& Packed = Descriptor.PackedFields;
    if (LocalTable->GetCount() > 0) {
        Packed = 0x80;
        if (LocalTable->GetSorted())
            Packed |= 0x20;
        Packed |= (LocalTable->TableBits() - 1) & 7;
    } else {
        Packed &= 0x58;
    }
}

void TGIFSubImage::AssignTo(classlib::TPersistent* Dest) const
{
    if (auto* Bitmap = dynamic_cast<classlib::TBitmap*>(Dest)) {
        Bitmap->Assign(const_cast<TGIFSubImage*>(this)->GetBitmap());
        return;
    }
    TGIFItem::AssignTo(Dest);
}

// ---- reading and writing -------------------------------------------------------------

void DecodeFramePixels(TGIFSubImage* Frame, classlib::TStream* Stream)
{
    // The descriptor alone may claim 4 G pixels: the data left must be able
    // to code them before anything is allocated, and the decoder sets every
    // pixel itself (those the data does not reach get the fill value).
    CheckGifRaster(Frame->GetWidth(), Frame->GetHeight(), 8, Stream->GetSize() - Stream->GetPosition());
    int64_t Total = int64_t{Frame->GetWidth()} * Frame->GetHeight();
    if (const TGIFImage* Image = Frame->GetImage())
        for (int i = 0; i < Image->GetImages()->GetCount(); ++i)
            Total += Image->GetImages()->GetFrame(i)->GetDataSize();
    CheckGifPixelTotal(Total, Stream->GetSize());
    Frame->NewImage(false);
    const uint8_t Fill = Frame->GetTransparent() ? static_cast<uint8_t>(Frame->TransparentIndex()) : 0;
    DecodeLZWPixels(Stream, Frame->GetData(), Frame->GetWidth(), Frame->GetHeight(), Frame->GetInterlaced(),
                    [Frame](const std::wstring& Message) { Frame->Warning(1, Message); }, Fill);
}

void WriteFramePixels(TGIFSubImage* Frame, classlib::TStream* Stream)
{
    TGIFImage* Image = Frame->GetImage();
    int Bits, Limit;
    if (Frame->GetColorMap()->GetCount() > 0) {
        Bits = Frame->GetColorMap()->TableBits();
        Limit = Frame->GetColorMap()->GetCount();
    } else {
        Bits = Image ? Image->GetBitsPerPixel() : 8;
        Limit = 1 << Bits;
    }
    std::unique_ptr<TGIFEncoder> Encoder;
    if (Image && Image->PixelEncoder == gpeRLE)
        Encoder = std::make_unique<TRLEEncoder>();
    else
        Encoder = std::make_unique<TLZWEncoder>();
    if (Image)
        Encoder->OnGIFWarning = TGIFWarning(Image, &TGIFImage::Warning);
    Encoder->Encode(Stream, Bits, Limit, Frame->GetData(), Frame->GetInterlaced(), Frame->GetHeight(),
                    Frame->GetWidth());
}

void TGIFSubImage::LoadFromStream(classlib::TStream* Stream)
{
    Clear();
    ExtensionList->LoadFromStream(Stream, this);
    const int Next = ReadStreamByte(Stream);
    if (Next < 0)
        return;
    Stream->Seek(-1, classlib::soCurrent);
    if (Next == 0x3B || Next == 0)
        return;
    uint8_t b[10];
    ReadExact(Stream, b, 10);
    Descriptor.Separator = b[0];
    Descriptor.Left = static_cast<uint16_t>(b[1] | (b[2] << 8));
    Descriptor.Top = static_cast<uint16_t>(b[3] | (b[4] << 8));
    Descriptor.Width = static_cast<uint16_t>(b[5] | (b[6] << 8));
    Descriptor.Height = static_cast<uint16_t>(b[7] | (b[8] << 8));
    Descriptor.PackedFields = b[9];
    if ((Descriptor.Width == 0 || Descriptor.Height == 0) && OwnerImage) {
        Descriptor.Height = static_cast<uint16_t>(OwnerImage->GetHeight());
        Descriptor.Width = static_cast<uint16_t>(OwnerImage->GetWidth());
        Warning(1, L"Image exceeds Logical Screen size");
    }
    if (Descriptor.PackedFields & 0x80)
        LocalTable->LoadFromStream(Stream, 2 << (Descriptor.PackedFields & 7));
    DecodeFramePixels(this, Stream);
    if (RenderFramesOnLoad)
        GetBitmap();
}

void TGIFSubImage::SaveToStream(classlib::TStream* Stream)
{
    ExtensionList->SaveToStream(Stream);
    if (Empty())
        return;
    Prepare();
    const TImageDescriptor& d = Descriptor;
    const uint8_t b[10] = {d.Separator,
                           static_cast<uint8_t>(d.Left), static_cast<uint8_t>(d.Left >> 8),
                           static_cast<uint8_t>(d.Top), static_cast<uint8_t>(d.Top >> 8),
                           static_cast<uint8_t>(d.Width), static_cast<uint8_t>(d.Width >> 8),
                           static_cast<uint8_t>(d.Height), static_cast<uint8_t>(d.Height >> 8),
                           d.PackedFields};
    Stream->WriteBuffer(b, 10);
    LocalTable->SaveToStream(Stream);
    WriteFramePixels(this, Stream);
}

// ---- drawing -------------------------------------------------------------------------

RECT TGIFSubImage::ScaleRect(const RECT& R) const
{
    const int IW = OwnerImage ? OwnerImage->GetWidth() : GetWidth();
    const int IH = OwnerImage ? OwnerImage->GetHeight() : GetHeight();
    const int RW = R.right - R.left, RH = R.bottom - R.top;
    if (IW <= 0 || IH <= 0)
        return R;
    return RECT{R.left + ::MulDiv(GetLeft(), RW, IW), R.top + ::MulDiv(GetTop(), RH, IH),
                R.left + ::MulDiv(GetLeft() + GetWidth(), RW, IW), R.top + ::MulDiv(GetTop() + GetHeight(), RH, IH)};
}

void TGIFSubImage::Draw(classlib::TCanvas* ACanvas, const RECT& R, bool DoTransparent, bool DoTile)
{
    StretchDraw(ACanvas, DoTile ? R : ScaleRect(R), DoTransparent, DoTile);
}

void TGIFSubImage::StretchDraw(classlib::TCanvas* ACanvas, const RECT& R, bool DoTransparent, bool DoTile)
{
    const bool Masked = DoTransparent && IsTransparent && HasMask();
    classlib::TBitmap* Bitmap = GetBitmap();
    if (!Bitmap)
        return;
    const int W = GetWidth(), H = GetHeight();
    const int StepX = std::max(1, OwnerImage ? OwnerImage->GetWidth() : W);
    const int StepY = std::max(1, OwnerImage ? OwnerImage->GetHeight() : H);
    if (Masked) {
        classlib::TOwnedDC MaskDC = NewMemoryDC();
        classlib::TSelectObjectScope MaskSel(MaskDC.Get(), MaskBitmap.Get());
        HDC Src = Bitmap->GetCanvas()->GetHandle();
        HDC Dst = ACanvas->GetHandle();
        if (DoTile) {
            for (int x = R.left + GetLeft(); x < R.right; x += StepX)
                for (int y = R.top + GetTop(); y < R.bottom; y += StepY)
                    MaskedStretchBlt(Dst, x, y, W, H, Src, 0, 0, W, H, MaskDC.Get(), 0, 0);
        } else {
            MaskedStretchBlt(Dst, R.left, R.top, R.right - R.left, R.bottom - R.top, Src, 0, 0, W, H, MaskDC.Get(),
                             0, 0);
        }
        ACanvas->Changed();
        return;
    }
    if (DoTile) {
        for (int x = R.left + GetLeft(); x < R.right; x += StepX)
            for (int y = R.top + GetTop(); y < R.bottom; y += StepY)
                ACanvas->StretchDraw(RECT{x, y, x + W, y + H}, Bitmap);
    } else {
        ACanvas->StretchDraw(R, Bitmap);
    }
}

}  // namespace gif
