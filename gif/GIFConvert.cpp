// Frame conversion from other frames, bitmaps and pictures.
#include <cstring>
#include <vector>

#include "classlib/Icon.h"
#include "classlib/Metafile.h"
#include "classlib/Picture.h"
#include "classlib/ScopeGuard.h"
#include "classlib/Streams.h"
#include "classlib/WinHandles.h"
#include "gif/GIFDIB.h"
#include "gif/GIFExtensions.h"
#include "gif/GIFImage.h"
#include "gif/GIFQuantize.h"

namespace gif {

namespace {

bool IsPaletteFormat(classlib::TPixelFormat f)
{
    return f == classlib::pf1bit || f == classlib::pf4bit || f == classlib::pf8bit;
}

// A 1-bit mask, 1 where drawing Source on white and on black differs (the
// background shows through). Owned by the caller.
HBITMAP MaskFromDoubleDraw(classlib::TGraphic* Source, int W, int H)
{
    classlib::TBitmap OnWhite, OnBlack;
    for (auto* b : {&OnWhite, &OnBlack}) {
        b->SetPixelFormat(classlib::pf24bit);
        b->SetSize(W, H);
        b->GetCanvas()->GetBrush()->SetColor(b == &OnWhite ? classlib::clWhite : classlib::clBlack);
        b->GetCanvas()->FillRect(RECT{0, 0, W, H});
        b->GetCanvas()->Draw(0, 0, Source);
    }
    ::BitBlt(OnWhite.GetCanvas()->GetHandle(), 0, 0, W, H, OnBlack.GetCanvas()->GetHandle(), 0, 0, SRCINVERT);
    ::GdiFlush();
    const int64_t RowSize = RowBytes(W, 1, 16);
    std::vector<uint8_t> Bits(static_cast<size_t>(RowSize * H), 0);
    bool Any = false;
    for (int y = 0; y < H; ++y) {
        const auto* p = static_cast<const uint8_t*>(OnWhite.GetScanLine(y));
        for (int x = 0; x < W; ++x)
            if (p[3 * x] | p[3 * x + 1] | p[3 * x + 2]) {
                Bits[y * RowSize + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
                Any = true;
            }
    }
    return Any ? CheckGdi(::CreateBitmap(W, H, 1, 1, Bits.data())) : nullptr;
}

}  // namespace

void TGIFSubImage::Assign(const classlib::TPersistent* Source)
{
    if (Source == this)
        return;
    if (!Source) {
        Clear();
        return;
    }
    if (const auto* Sub = dynamic_cast<const TGIFSubImage*>(Source)) {
        Clear();
        if (Sub->Empty())
            return;
        Descriptor = Sub->Descriptor;
        IsTransparent = Sub->IsTransparent;
        PixelDataSize = Sub->PixelDataSize;
        PixelData.reset(new uint8_t[static_cast<size_t>(PixelDataSize)]);
        std::memcpy(PixelData.get(), Sub->PixelData.get(), static_cast<size_t>(PixelDataSize));
        LocalTable->Assign(Sub->LocalTable.get());
        classlib::TMemoryStream Stream;
        Sub->ExtensionList->SaveToStream(&Stream);
        Stream.SetPosition(0);
        ExtensionList->LoadFromStream(&Stream, this);
        IsTransparent = Sub->IsTransparent;
        if (Sub->FrameBitmap) {
            NewBitmap()->Assign(Sub->FrameBitmap.get());
        }
        return;
    }
    if (const auto* Picture = dynamic_cast<const classlib::TPicture*>(Source)) {
        Assign(Picture->GetGraphic());
        return;
    }
    if (const auto* Bitmap = dynamic_cast<const classlib::TBitmap*>(Source)) {
        AssignFromBitmap(const_cast<classlib::TBitmap*>(Bitmap));
        return;
    }
    if (const auto* Graphic = dynamic_cast<const classlib::TGraphic*>(Source)) {
        AssignFromGraphic(const_cast<classlib::TGraphic*>(Graphic));
        return;
    }
    TGIFItem::Assign(Source);
}

void TGIFSubImage::AssignFromBitmap(classlib::TBitmap* Source)
{
    Clear();
    if (Source->GetEmpty())
        return;
    const int W = Source->GetWidth(), H = Source->GetHeight();
    SetPlacement(GetLeft(), GetTop(), W, H);
    // The new frame bitmap is held aside while the colour table is built: a
    // table change drops the frame's bitmap.
    std::unique_ptr<classlib::TBitmap> Converted;
    if (IsPaletteFormat(Source->GetPixelFormat())) {
        Converted = std::make_unique<classlib::TBitmap>();
        Converted->Assign(Source);
    } else {
        TGIFImage* Image = OwnerImage;
        Converted.reset(ReduceColors(Source, Image ? int{Image->ReductionMethod} : int{rmNetscape},
                                       Image ? int{Image->DitherKind} : int{dmNearest}, nullptr,
                                       Image ? Image->ReductionDepth : 8));
    }
    NewImage();
    Progress(classlib::psStarting, 0, false, L"Converting...");
    bool Done = false;
    classlib::TOnExit End([this, &Done] {
        try {
            Progress(classlib::psEnding, Done ? 100 : 0, OwnerImage && OwnerImage->GetPaletteModified(),
                     L"Converting...");
        } catch (...) {
        }
    });
    classlib::TBitmap* Bmp = Converted.get();
    classlib::TPixelFormat Format = Bmp->GetPixelFormat();
    if (!IsPaletteFormat(Format))
        Format = classlib::pf24bit;
    TDIBReader Reader(Bmp, Format);
    const int BW = std::min(W, Bmp->GetWidth()), BH = std::min(H, Bmp->GetHeight());
    if (Format == classlib::pf8bit) {
        if (Bmp->GetHandleType() == classlib::bmDDB)
            LocalTable->ImportPalette(Bmp->GetPalette());
        else
            LocalTable->ImportDIB(Bmp->GetCanvas()->GetHandle());
    } else if (Format == classlib::pf4bit || Format == classlib::pf1bit) {
        LocalTable->ImportPalette(Bmp->GetPalette());
    }
    uint32_t Ring[8];
    int RingIndex[8];
    int RingUsed = 0, RingNext = 0;
    for (int y = 0; y < BH; ++y) {
        const uint8_t* Src = Reader.GetRow(y);
        uint8_t* Dst = PixelData.get() + int64_t{y} * W;
        switch (Format) {
        case classlib::pf8bit: std::memcpy(Dst, Src, static_cast<size_t>(BW)); break;
        case classlib::pf4bit:
            for (int x = 0; x < BW; ++x)
                Dst[x] = (x & 1) ? (Src[x / 2] & 0x0F) : (Src[x / 2] >> 4);
            break;
        case classlib::pf1bit:
            for (int x = 0; x < BW; ++x)
                Dst[x] = (Src[x / 8] >> (7 - x % 8)) & 1;
            break;
        default:
            for (int x = 0; x < BW; ++x) {
                const uint8_t* p = Src + 3 * x;
                const uint32_t c = MakeRGB(p[2], p[1], p[0]);
                int Found = -1;
                // The ring of the last 8 distinct colours, newest first.
                for (int k = 0, i = (RingNext + 7) % 8; k < RingUsed; ++k, i = (i + 7) % 8)
                    if (Ring[i] == c) {
                        Found = RingIndex[i];
                        break;
                    }
                if (Found < 0) {
                    Found = LocalTable->AddUnique(c);
                    Ring[RingNext] = c;
                    RingIndex[RingNext] = Found;
                    RingNext = (RingNext + 1) % 8;
                    if (RingUsed < 8)
                        ++RingUsed;
                }
                Dst[x] = static_cast<uint8_t>(Found);
            }
            break;
        }
        if (y % 32 == 0)
            Progress(classlib::psRunning, static_cast<uint8_t>(int64_t{y} * 100 / H), false, L"Converting...");
    }
    FrameBitmap = std::move(Converted);
    if (Source->GetTransparent())
        ApplyMask(Source->GetMaskHandle());
    Done = true;
}

void TGIFSubImage::AssignFromGraphic(classlib::TGraphic* Source)
{
    Clear();
    if (Source->GetEmpty())
        return;
    auto* Icon = dynamic_cast<classlib::TIcon*>(Source);
    auto* Metafile = dynamic_cast<classlib::TMetafile*>(Source);
    const bool DrawFirst = Icon || Metafile;
    const int W = Source->GetWidth(), H = Source->GetHeight();
    classlib::TBitmap Temp;
    auto DrawOn = [&] {
        Temp.SetPixelFormat(classlib::pf24bit);
        Temp.SetSize(W, H);
        Temp.GetCanvas()->Draw(0, 0, Source);
    };
    if (DrawFirst) {
        try {
            DrawOn();
        } catch (const classlib::Exception&) {
            Temp.Assign(Source);
        }
    } else {
        try {
            Temp.Assign(Source);
        } catch (const classlib::Exception&) {
            DrawOn();
        }
    }
    AssignFromBitmap(&Temp);
    if (Icon && Icon->GetHandle()) {
        ICONINFO Info{};
        if (::GetIconInfo(Icon->GetHandle(), &Info)) {
            // GetIconInfo hands over copies of both bitmaps.
            const classlib::TOwnedBitmap Color(Info.hbmColor), Mask(Info.hbmMask);
            ApplyMask(Mask.Get());
        }
    } else if (Metafile) {
        // Where the picture leaves its background uncovered.
        const classlib::TOwnedBitmap Mask(MaskFromDoubleDraw(Source, W, H));
        ApplyMask(Mask.Get());
    }
}

void TGIFSubImage::ApplyMask(HBITMAP Mask)
{
    if (!Mask || Empty())
        return;
    classlib::TBitmap MaskCopy;
    MaskCopy.SetHandle(static_cast<HBITMAP>(CheckGdi(::CopyImage(Mask, IMAGE_BITMAP, 0, 0, 0))));
    TDIBReader Reader(&MaskCopy, classlib::pf8bit);
    LocalTable->DoOptimize();
    const int n = LocalTable->GetCount();
    if (n < 1 || n > 255)
        return;
    const int Index = LocalTable->Add(0);
    bool Changed = false;
    const int H = std::min(GetHeight(), MaskCopy.GetHeight()), W = std::min(GetWidth(), MaskCopy.GetWidth());
    for (int y = 0; y < H; ++y) {
        const uint8_t* m = Reader.GetRow(y);
        uint8_t* p = PixelData.get() + int64_t{y} * GetWidth();
        for (int x = 0; x < W; ++x)
            if (m[x] != 0) {
                p[x] = static_cast<uint8_t>(Index);
                Changed = true;
            }
    }
    if (Changed) {
        auto* Gce = new TGIFGraphicControlExtension(this);
        ExtensionList->Add(Gce);
        Gce->SetTransparent(true);
        Gce->SetTransparentColorIndex(Index);
        FreeBitmap();
        FreeMask();
    } else {
        LocalTable->Delete(Index);
    }
}

}  // namespace gif
