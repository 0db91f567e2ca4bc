// The GIF picture class: loading, saving, copying, palettes, drawing entry
// points, clipboard and unit start-up.
#include "classlib/ScopeGuard.h"
#include "gif/GIFImage.h"

#include <algorithm>
#include <cstring>

#include "classlib/Picture.h"
#include "classlib/Startup.h"
#include "classlib/Streams.h"
#include "gif/GIFDIB.h"
#include "gif/GIFExtensions.h"
#include "gif/GIFPainter.h"

namespace gif {

namespace {

classlib::TGraphic* CreateGIFImage()
{
    return new TGIFImage();
}

HPALETTE CopyPaletteHandle(HPALETTE Source)
{
    if (!Source)
        return nullptr;
    struct {
        WORD Version;
        WORD Count;
        PALETTEENTRY Pal[256];
    } Log{};
    Log.Version = 0x300;
    Log.Count = static_cast<WORD>(::GetPaletteEntries(Source, 0, 256, Log.Pal));
    if (Log.Count == 0)
        return nullptr;
    return CheckGdi(::CreatePalette(reinterpret_cast<const LOGPALETTE*>(&Log)));
}

}  // namespace

const classlib::TGraphicClass TGIFImage::Class{L"TGIFImage", &CreateGIFImage};

TGIFImage::TGIFImage()
    : DrawFlags(GIFDefaultDrawOptions),
      ReductionMethod(GIFDefaultReductionMethod),
      ReductionDepth(GIFDefaultReductionDepth),
      DitherKind(GIFDefaultDitherKind),
      PixelEncoder(GIFDefaultPixelEncoder),
      PainterPriority(GIFDefaultPainterPriority),
      SpeedPercent(GIFDefaultSpeedPercent)
{
    Frames = std::make_unique<TGIFImageList>(this);
    FileHeader = std::make_unique<TGIFHeader>(this);
    Clear();
}

TGIFImage::~TGIFImage()
{
    try {
        StopPainters();
    } catch (...) {
    }
    {
        classlib::TThreadListLock Lock(PainterList);
        classlib::TList* List = &Lock.List();
        for (int i = 0; i < List->GetCount(); ++i)
            static_cast<TGIFPainter*>(List->GetItem(i))->DetachImage();
    }
    OnGIFWarning.Clear();
    OnProgress.Clear();
    OnChange.Clear();
    try {
        Clear();
    } catch (...) {
    }
    Frames.reset();
    FileHeader.reset();
}

void TGIFImage::Clear()
{
    StopPainters();
    ReleaseBitmap();
    Frames->Clear();
    FileHeader->GetColorMap()->Clear();
    FileHeader->ScreenDescriptor.ScreenWidth = 0;
    FileHeader->ScreenDescriptor.ScreenHeight = 0;
    FileHeader->Prepare();
    SetPalette(nullptr);
}

bool TGIFImage::GetEmpty() const
{
    return Frames->GetCount() == 0;
}

int TGIFImage::GetWidth() const
{
    return FileHeader->ScreenDescriptor.ScreenWidth;
}

int TGIFImage::GetHeight() const
{
    return FileHeader->ScreenDescriptor.ScreenHeight;
}

void TGIFImage::SetWidth(int Value)
{
    for (int i = 0; i < Frames->GetCount(); ++i) {
        TGIFSubImage* f = Frames->GetFrame(i);
        if (f->GetLeft() + f->GetWidth() > Value)
            RaiseGifError(L"Image width too small for contained frames");
    }
    if (Value != GetWidth()) {
        FileHeader->ScreenDescriptor.ScreenWidth = static_cast<uint16_t>(std::clamp(Value, 0, 0xFFFF));
        ReleaseBitmap();
        Changed(this);
    }
}

void TGIFImage::SetHeight(int Value)
{
    for (int i = 0; i < Frames->GetCount(); ++i) {
        TGIFSubImage* f = Frames->GetFrame(i);
        if (f->GetTop() + f->GetHeight() > Value)
            RaiseGifError(L"Image height too small for contained frames");
    }
    if (Value != GetHeight()) {
        FileHeader->ScreenDescriptor.ScreenHeight = static_cast<uint16_t>(std::clamp(Value, 0, 0xFFFF));
        ReleaseBitmap();
        Changed(this);
    }
}

HPALETTE TGIFImage::GetPalette()
{
    if (InGetPalette)
        RaiseGifError(L"No global or local color table defined");
    classlib::TValueScope Guard(InGetPalette, true);
    if (BackingBitmap)
        if (HPALETTE p = BackingBitmap->GetPalette())
            return p;
    if (PaletteCache)
        return PaletteCache.Get();
    if (UseWebDither()) {
        PaletteCache.Reset(CreateWebPalette());
        return PaletteCache.Get();
    }
    if (GetGlobalColorMap()->GetCount() > 0) {
        PaletteCache.Reset(GetGlobalColorMap()->ExportPalette());
        return PaletteCache.Get();
    }
    if (Frames->GetCount() > 0)
        return Frames->GetFrame(0)->GetPalette();
    return nullptr;
}

void TGIFImage::SetPalette(HPALETTE Value)
{
    if (Value == PaletteCache.Get())
        return;
    PaletteCache.Reset(Value);
    if (BackingBitmap && BackingBitmap->GetPalette() != Value) {
        ReleaseBitmap();
        SetPaletteModified(true);
        Changed(this);
    }
}

int TGIFImage::GetVersion() const
{
    int v = 0;
    for (int i = 0; i < Frames->GetCount() && v < 2; ++i)
        v = std::max(v, Frames->GetFrame(i)->Version());
    return v;
}

int TGIFImage::GetBitsPerPixel() const
{
    int Bits = GetGlobalColorMap()->TableBits();
    for (int i = 0; i < Frames->GetCount(); ++i)
        Bits = std::max(Bits, Frames->GetFrame(i)->BitsPerPixel());
    return Bits;
}

int TGIFImage::GetColorResolution() const
{
    return std::max(0, GetBitsPerPixel() - 1);
}

bool TGIFImage::UseWebDither() const
{
    return (DrawFlags & gdfWebDither) && (!(DrawFlags & gdfWebDitherPalettedOnly) || PalettedDisplay);
}

int TGIFImage::Add(classlib::TPersistent* Source)
{
    TGIFSubImage* Frame = nullptr;
    if (auto* Sub = dynamic_cast<TGIFSubImage*>(Source)) {
        Frame = Sub;
    } else if (dynamic_cast<classlib::TGraphic*>(Source)) {
        std::unique_ptr<TGIFSubImage> New(new TGIFSubImage(this));
        New->Assign(Source);
        Frame = New.release();
    } else {
        RaiseGifError(L"Object type not supported for operation");
    }
    const int Index = Frames->Add(Frame);
    ReleaseBitmap();
    Changed(this);
    return Index;
}

void TGIFImage::FitScreenToFrames()
{
    auto& d = FileHeader->ScreenDescriptor;
    for (int i = 0; i < Frames->GetCount(); ++i) {
        TGIFSubImage* f = Frames->GetFrame(i);
        d.ScreenWidth = static_cast<uint16_t>(std::min(0xFFFF, std::max<int>(d.ScreenWidth, f->GetLeft() + f->GetWidth())));
        d.ScreenHeight =
            static_cast<uint16_t>(std::min(0xFFFF, std::max<int>(d.ScreenHeight, f->GetTop() + f->GetHeight())));
    }
}

void TGIFImage::Warning(classlib::TObject* Sender, uint8_t Severity, const std::wstring& Message)
{
    if (OnGIFWarning)
        OnGIFWarning(Sender, Severity, Message);
}

void TGIFImage::DoProgress(classlib::TObject* Sender, classlib::TProgressStage Stage, uint8_t Percent,
                           bool RedrawNow, const std::wstring& Msg)
{
    const RECT R{0, 0, 0, 0};
    Progress(Sender, Stage, Percent, RedrawNow, R, Msg);
}

void TGIFImage::BitmapChanged(classlib::TObject*)
{
    Changed(this);
}

// ---- backing bitmap ----------------------------------------------------------------

classlib::TBitmap* TGIFImage::NewBitmap()
{
    if (BackingBitmap)
        return BackingBitmap.get();
    auto Bitmap = std::make_unique<classlib::TBitmap>();
    if (HPALETTE p = GetPalette())
        Bitmap->SetPalette(CopyPaletteHandle(p));
    Bitmap->SetSize(GetWidth(), GetHeight());
    Bitmap->OnChange = classlib::TNotifyEvent(this, &TGIFImage::BitmapChanged);
    BackingBitmap = std::move(Bitmap);
    return BackingBitmap.get();
}

classlib::TBitmap* TGIFImage::GetBitmap()
{
    if (GetEmpty())
        return nullptr;
    if (BackingBitmap)
        return BackingBitmap.get();
    TGIFSubImage* First = Frames->GetFrame(0);
    if (First->GetLeft() == 0 && First->GetTop() == 0 && First->GetWidth() == GetWidth() &&
        First->GetHeight() == GetHeight()) {
        auto Bitmap = std::make_unique<classlib::TBitmap>();
        Bitmap->Assign(First->GetBitmap());
        Bitmap->OnChange = classlib::TNotifyEvent(this, &TGIFImage::BitmapChanged);
        BackingBitmap = std::move(Bitmap);
        return BackingBitmap.get();
    }
    classlib::TBitmap* Bitmap = NewBitmap();
    First->Draw(Bitmap->GetCanvas(), RECT{0, 0, GetWidth(), GetHeight()}, false, false);
    return Bitmap;
}

void TGIFImage::ReleaseBitmap()
{
    if (ShowPainter)
        ShowPainter->Stop();
    BackingBitmap.reset();
}

// ---- loading and saving ----------------------------------------------------------------

void TGIFImage::LoadFromStream(classlib::TStream* Stream)
{
    TGIFImageProgress progress(this, L"Loading...");
    Clear();
    const int64_t Start = Stream->GetPosition();
    try {
        FileHeader->LoadFromStream(Stream);
        Frames->LoadFromStream(Stream, this);
        FitScreenToFrames();
        // The screen is the size of the bitmap the picture draws on: it must
        // stay within what the picture's data could cover, like a frame.
        CheckGifRaster(GetWidth(), GetHeight(), 32, Stream->GetPosition() - Start);
        TGIFTrailer Trailer(this);
        Trailer.LoadFromStream(Stream);
    } catch (...) {
        Stream->SetPosition(Start);
        throw;
    }
    progress.Done = true;
}

void TGIFImage::SaveToStream(classlib::TStream* Stream)
{
    TGIFImageProgress progress(this, L"Saving...");
    FileHeader->SaveToStream(Stream);
    Frames->SaveToStream(Stream);
    TGIFTrailer Trailer(this);
    Trailer.SaveToStream(Stream);
    progress.Done = true;
}

// ---- copying -------------------------------------------------------------------------------

void TGIFImage::Assign(const classlib::TPersistent* Source)
{
    if (Source == this)
        return;
    if (!Source) {
        Clear();
        return;
    }
    if (const auto* Gif = dynamic_cast<const TGIFImage*>(Source)) {
        Clear();
        OnProgress = Gif->OnProgress;
        OnGIFWarning = Gif->OnGIFWarning;
        classlib::TOnExit End([this] {
            OnProgress.Clear();
            OnGIFWarning.Clear();
        });
        DoProgress(this, classlib::psStarting, 0, false, L"Copying...");
        bool Done = false;
        try {
            FileHeader->Assign(Gif->FileHeader.get());
            PainterPriority = Gif->PainterPriority;
            PainterBackground = Gif->PainterBackground;
            DrawFlags = Gif->DrawFlags;
            ReductionMethod = Gif->ReductionMethod;
            DitherKind = Gif->DitherKind;
            StillFrame = Gif->StillFrame;
            OnRunStart = Gif->OnRunStart;
            OnFrameStart = Gif->OnFrameStart;
            OnRunEnd = Gif->OnRunEnd;
            OnFrameEnd = Gif->OnFrameEnd;
            OnPassStart = Gif->OnPassStart;
            const int Count = Gif->Frames->GetCount();
            for (int i = 0; i < Count; ++i) {
                std::unique_ptr<TGIFSubImage> Frame(new TGIFSubImage(this));
                Frame->Assign(Gif->Frames->GetFrame(i));
                Add(Frame.release());
                DoProgress(this, classlib::psRunning, static_cast<uint8_t>((i + 1) * 100 / Count), false,
                           L"Copying...");
            }
            FitScreenToFrames();
            Done = true;
        } catch (...) {
            DoProgress(this, classlib::psEnding, 0, true, L"Copying...");
            throw;
        }
        DoProgress(this, classlib::psEnding, Done ? 100 : 0, true, L"Copying...");
        return;
    }
    Clear();
    std::unique_ptr<TGIFSubImage> Frame(new TGIFSubImage(this));
    try {
        Frame->Assign(Source);
    } catch (const classlib::EConvertError&) {
        Frame.reset();
        TGraphic::Assign(Source);
        return;
    }
    Add(Frame.release());
}

void TGIFImage::AssignTo(classlib::TPersistent* Dest) const
{
    if (auto* Bitmap = dynamic_cast<classlib::TBitmap*>(Dest)) {
        Bitmap->Assign(const_cast<TGIFImage*>(this)->GetBitmap());
        return;
    }
    TGraphic::AssignTo(Dest);
}

// ---- drawing ------------------------------------------------------------------------------------

void TGIFImage::Draw(classlib::TCanvas* ACanvas, const RECT& R)
{
    if (InDraw || GetEmpty())
        return;
    classlib::TValueScope Guard(InDraw, true);
    const int Count = Frames->GetCount();
    if (Count == 1 || !(DrawFlags & gdfAnimate)) {
        const int Index = (StillFrame >= 0 && StillFrame < Count) ? StillFrame : 0;
        Frames->GetFrame(Index)->Draw(ACanvas, R, (DrawFlags & gdfTransparent) != 0, (DrawFlags & gdfTile) != 0);
        return;
    }
    auto DrawBacking = [&] {
        if (DrawFlags & gdfTile) {
            const int W = std::max(1, GetWidth()), H = std::max(1, GetHeight());
            for (int x = R.left; x < R.right; x += W)
                for (int y = R.top; y < R.bottom; y += H)
                    ACanvas->StretchDraw(RECT{x, y, x + W, y + H}, BackingBitmap.get());
        } else {
            ACanvas->StretchDraw(R, BackingBitmap.get());
        }
    };
    if (BackingBitmap && !(DrawFlags & gdfDirect)) {
        DrawBacking();
        return;
    }
    classlib::TThreadListLock Lock(PainterList);
    if (ShowPainter && ShowPainter->GetCanvas() == ACanvas && EqualRect(&ShowPainter->GetRect(), &R))
        return;
    StopDrawPainter();
    classlib::TCanvas* Target = ACanvas;
    RECT TargetRect = R;
    if (!(DrawFlags & gdfDirect)) {
        classlib::TBitmap* Bitmap = NewBitmap();
        TargetRect = RECT{0, 0, Bitmap->GetWidth(), Bitmap->GetHeight()};
        Bitmap->GetCanvas()->CopyRect(TargetRect, ACanvas, R);
        Target = Bitmap->GetCanvas();
    }
    TGIFPainter* Painter = Paint(&ShowPainter, Target, DrawFlags, TargetRect);
    if (Painter)
        Painter->Start();
    if (DrawFlags & gdfDirect)
        return;
    while (ShowPainter && !ShowPainter->GetHasPainted()) {
        if (!classlib::CheckSynchronize())
            ::Sleep(0);
    }
    if (BackingBitmap)
        DrawBacking();
}

// ---- clipboard ---------------------------------------------------------------------------------

void TGIFImage::LoadFromClipboardFormat(UINT Format, HANDLE Data, HPALETTE Palette)
{
    if (!Data)
        Data = ::GetClipboardData(Format);
    if (Format == CF_GIF && CF_GIF != 0) {
        classlib::TGlobalLockScope Lock(Data);
        if (!Lock.Data())
            RaiseGifError(L"Unsupported clipboard format");
        classlib::TMemoryStream Stream;
        Stream.WriteBuffer(Lock.Data(), static_cast<int64_t>(::GlobalSize(Data)));
        Stream.SetPosition(0);
        LoadFromStream(&Stream);
        return;
    }
    if (Format == CF_BITMAP && Data) {
        classlib::TBitmap Bitmap;
        Bitmap.LoadFromClipboardFormat(Format, Data, Palette);
        Assign(&Bitmap);
        return;
    }
    RaiseGifError(L"Unsupported clipboard format");
}

void TGIFImage::SaveToClipboardFormat(UINT& Format, HANDLE& Data, HPALETTE& Palette)
{
    if (GetEmpty())
        return;
    GetBitmap()->SaveToClipboardFormat(Format, Data, Palette);
    classlib::TMemoryStream Stream;
    SaveToStream(&Stream);
    classlib::TOwnedGlobal Block(::GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(Stream.GetSize())));
    if (!Block)
        RaiseGifError(L"Failed to store GIF on clipboard");
    bool Copied = false;
    {
        classlib::TGlobalLockScope Lock(Block.Get());
        if (Lock.Data()) {
            std::memcpy(Lock.Data(), Stream.GetMemory(), static_cast<size_t>(Stream.GetSize()));
            Copied = true;
        }
    }
    if (!Copied || !::SetClipboardData(CF_GIF, Block.Get()))
        RaiseGifError(L"Failed to store GIF on clipboard");
    Block.Release();  // the clipboard owns it now
}

// ---- unit start-up -----------------------------------------------------------------------------

void GIFStartup()
{
    classlib::TPicture::RegisterFileFormat(L"GIF", L"GIF Image", &TGIFImage::Class);
    CF_GIF = ::RegisterClipboardFormatW(L"GIF Image");
    if (CF_GIF)
        classlib::TPicture::RegisterClipboardFormat(CF_GIF, &TGIFImage::Class);
    classlib::TScreenDC DC;
    if (DC.Get())
        PalettedDisplay = ::GetDeviceCaps(DC.Get(), BITSPIXEL) * ::GetDeviceCaps(DC.Get(), PLANES) <= 8;
}

void GIFShutdown()
{
    FreeExtensionRegistries();
    classlib::TPicture::UnregisterGraphicClass(&TGIFImage::Class);
}

void RegisterGIFUnit()
{
    // After the class library's own units (which use small keys).
    classlib::RegisterUnit(L"GIFImage", 500, &GIFStartup, &GIFShutdown);
}

}  // namespace gif
