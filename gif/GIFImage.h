// The GIF picture: a header with the global colour table and an ordered list
// of frames, each with its extensions, local colour table and pixel indices.
// Loads and saves GIF87a/GIF89a streams, draws itself on any canvas and
// animates itself through painter threads (GIFPainter.h).
//
// Threads: an image belongs to the thread that created it (the user-interface
// thread). Painters read its frames while they run; every operation that
// changes frames, sizes, colour tables or palettes stops the painters first.
// The painter list's lock is the only lock of the class.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Graphics.h"
#include "classlib/Lists.h"
#include "classlib/Threads.h"
#include "classlib/WinHandles.h"
#include "gif/GIFColorMap.h"
#include "gif/GIFUtils.h"

namespace gif {

class TGIFImage;
class TGIFSubImage;
class TGIFExtension;
class TGIFGraphicControlExtension;
class TGIFPainter;
class TGIFHeader;

// ---- draw flags, settings and unit-wide values -----------------------------

using TGIFDrawOptions = uint16_t;
constexpr TGIFDrawOptions gdfThreaded = 1 << 0;
constexpr TGIFDrawOptions gdfTransparent = 1 << 1;
constexpr TGIFDrawOptions gdfAnimate = 1 << 2;
constexpr TGIFDrawOptions gdfLoop = 1 << 3;
constexpr TGIFDrawOptions gdfLoopForever = 1 << 4;
constexpr TGIFDrawOptions gdfCheckCanvas = 1 << 5;
constexpr TGIFDrawOptions gdfDirect = 1 << 6;
constexpr TGIFDrawOptions gdfClearOnLoop = 1 << 7;
constexpr TGIFDrawOptions gdfTile = 1 << 8;
constexpr TGIFDrawOptions gdfWebDither = 1 << 9;
constexpr TGIFDrawOptions gdfWebDitherPalettedOnly = 1 << 10;

// Pixel encoders.
constexpr uint8_t gpeLZW = 0;
constexpr uint8_t gpeRLE = 1;

// Colour-reduction methods (see GIFQuantize.h).
enum TColorReduction : uint8_t {
    rmNone, rmWindows20, rmWindowsGray /* halftone */, rmFourGray, rmMonochrome, rmGrayScale,
    rmNetscape, rmQuantize, rmQuantizeWindows, rmPalette
};
// Ditherers (see GIFDither.h).
enum TDitherMode : uint8_t {
    dmNearest, dmFloydSteinberg, dmStucki, dmSierra, dmJaJuNI, dmSteveArche, dmBurkes
};

// Defaults read by TGIFImage's constructor.
inline TGIFDrawOptions GIFDefaultDrawOptions = 0x068F;
inline uint8_t GIFDefaultReductionMethod = rmNetscape;
inline int32_t GIFDefaultReductionDepth = 8;
inline uint8_t GIFDefaultDitherKind = dmNearest;
inline uint8_t GIFDefaultPixelEncoder = gpeLZW;
inline classlib::TThreadPriority GIFDefaultPainterPriority = classlib::tpNormal;
inline int32_t GIFDefaultSpeedPercent = 100;

// True when the screen shows at most 8 bits per pixel; set by GIFStartup.
// Tests may set it to exercise the paletted paths on a true-colour display.
inline bool PalettedDisplay = false;
// When on, a frame renders its bitmap right after decoding.
inline bool RenderFramesOnLoad = false;
// When on, saving form data optimises the image first (unused here).
inline bool OptimizeOnWrite = false;

constexpr classlib::TColor GIFNoColor = 0x1FFFFFFF;

// ---- items and lists --------------------------------------------------------

// One block of the file.
class TGIFItem : public classlib::TPersistent {
public:
    explicit TGIFItem(TGIFImage* Owner) : OwnerImage(Owner) {}
    std::wstring ClassName() const override { return L"TGIFItem"; }
    // The GIF version the item needs: 1 for "87a", 2 for "89a".
    virtual int Version() const { return 1; }
    // Passes a warning to the owning image with this item as sender.
    virtual void Warning(uint8_t Severity, const std::wstring& Message);
    virtual void SaveToStream(classlib::TStream* Stream) = 0;
    virtual void LoadFromStream(classlib::TStream* Stream) = 0;
    void SaveToFile(const std::wstring& FileName);
    void LoadFromFile(const std::wstring& FileName);
    TGIFImage* GetImage() const { return OwnerImage; }

protected:
    TGIFImage* OwnerImage;
};

// An owned, ordered list of items. Freeing an item removes it from the list.
class TGIFList : public classlib::TPersistent {
public:
    explicit TGIFList(TGIFImage* Owner) : OwnerImage(Owner) {}
    ~TGIFList() override;
    std::wstring ClassName() const override { return L"TGIFList"; }
    int GetCount() const { return static_cast<int>(Members.size()); }
    TGIFItem* GetItem(int Index) const;
    int Add(TGIFItem* Item);
    void Insert(int Index, TGIFItem* Item);
    // Frees every item.
    void Clear();
    // Removes the item at Index and frees it.
    void Delete(int Index);
    // Removes Item without freeing it.
    void Remove(TGIFItem* Item);
    int IndexOf(const TGIFItem* Item) const;
    virtual void Warning(uint8_t Severity, const std::wstring& Message);
    virtual void SaveToStream(classlib::TStream* Stream);
    TGIFImage* GetImage() const { return OwnerImage; }

protected:
    std::vector<TGIFItem*> Members;
    TGIFImage* OwnerImage;
};

class TGIFImageList : public TGIFList {
public:
    using TGIFList::TGIFList;
    std::wstring ClassName() const override { return L"TGIFImageList"; }
    TGIFSubImage* GetFrame(int Index) const;
    TGIFSubImage* operator[](int Index) const { return GetFrame(Index); }
    void LoadFromStream(classlib::TStream* Stream, TGIFImage* Parent);
    void SaveToStream(classlib::TStream* Stream) override;
};

class TGIFExtensionList : public TGIFList {
public:
    TGIFExtensionList(TGIFSubImage* Frame);
    std::wstring ClassName() const override { return L"TGIFExtensionList"; }
    TGIFExtension* GetExtension(int Index) const;
    TGIFExtension* operator[](int Index) const { return GetExtension(Index); }
    void LoadFromStream(classlib::TStream* Stream, TGIFSubImage* Parent);

private:
    TGIFSubImage* frame_;
};

// ---- colour tables of the image and of a frame ------------------------------

class TGIFGlobalColorMap : public TGIFColorMap {
public:
    explicit TGIFGlobalColorMap(TGIFHeader* Owner) : Owner(Owner) {}
    std::wstring ClassName() const override { return L"TGIFGlobalColorMap"; }
    void Warning(uint8_t Severity, const std::wstring& Message) override;
    void BuildHistogram(TColorCounts& Counts) override;
    void MapImages(const TColorMapping& Map) override;
    bool DoOptimize() override;
    void Changed() override;

private:
    TGIFHeader* Owner;
};

class TGIFLocalColorMap : public TGIFColorMap {
public:
    explicit TGIFLocalColorMap(TGIFSubImage* Owner) : Owner(Owner) {}
    std::wstring ClassName() const override { return L"TGIFLocalColorMap"; }
    void Warning(uint8_t Severity, const std::wstring& Message) override;
    void BuildHistogram(TColorCounts& Counts) override;
    void MapImages(const TColorMapping& Map) override;
    bool DoOptimize() override;
    void Changed() override;

private:
    TGIFSubImage* Owner;
};

// ---- header and trailer -----------------------------------------------------

struct TLogicalScreenDescriptor {
    uint16_t ScreenWidth = 0;
    uint16_t ScreenHeight = 0;
    uint8_t PackedFields = 0;
    uint8_t BackgroundColorIndex = 0;
    uint8_t AspectRatio = 0;
};

class TGIFHeader : public TGIFItem {
public:
    explicit TGIFHeader(TGIFImage* Owner);
    ~TGIFHeader() override;
    std::wstring ClassName() const override { return L"TGIFHeader"; }
    void Assign(const classlib::TPersistent* Source) override;
    void Clear();
    void Prepare();
    void SaveToStream(classlib::TStream* Stream) override;
    void LoadFromStream(classlib::TStream* Stream) override;
    TGIFGlobalColorMap* GetColorMap() const { return GlobalTable.get(); }
    TGIFRGB GetBackgroundColor() { return GlobalTable->GetColor(ScreenDescriptor.BackgroundColorIndex); }

    TLogicalScreenDescriptor ScreenDescriptor;

private:
    std::unique_ptr<TGIFGlobalColorMap> GlobalTable;
};

class TGIFTrailer : public TGIFItem {
public:
    using TGIFItem::TGIFItem;
    std::wstring ClassName() const override { return L"TGIFTrailer"; }
    void SaveToStream(classlib::TStream* Stream) override;
    void LoadFromStream(classlib::TStream* Stream) override;
};

// ---- frames -----------------------------------------------------------------

struct TImageDescriptor {
    uint8_t Separator = 0x2C;
    uint16_t Left = 0;
    uint16_t Top = 0;
    uint16_t Width = 0;
    uint16_t Height = 0;
    uint8_t PackedFields = 0;
};

class TGIFSubImage : public TGIFItem {
public:
    explicit TGIFSubImage(TGIFImage* Owner);
    ~TGIFSubImage() override;
    std::wstring ClassName() const override { return L"TGIFSubImage"; }

    void Assign(const classlib::TPersistent* Source) override;
    int Version() const override;
    void SaveToStream(classlib::TStream* Stream) override;
    void LoadFromStream(classlib::TStream* Stream) override;

    void Clear();
    bool Empty() const;
    int GetLeft() const { return Descriptor.Left; }
    int GetTop() const { return Descriptor.Top; }
    int GetWidth() const { return Descriptor.Width; }
    int GetHeight() const { return Descriptor.Height; }
    void SetLeft(int Value) { SetPlacement(Value, GetTop(), GetWidth(), GetHeight()); }
    void SetTop(int Value) { SetPlacement(GetLeft(), Value, GetWidth(), GetHeight()); }
    void SetWidth(int Value) { SetPlacement(GetLeft(), GetTop(), Value, GetHeight()); }
    void SetHeight(int Value) { SetPlacement(GetLeft(), GetTop(), GetWidth(), Value); }
    RECT FrameRect() const;
    void SetPlacement(int Left, int Top, int Width, int Height);
    // New pixels of the frame's size, all 0; not cleared for a caller that
    // sets every one (the decoder).
    void NewImage(bool Cleared = true);
    void FreeImage();
    void NeedImage();
    uint8_t* Scanline(int y);
    uint8_t& Pixels(int x, int y);
    uint8_t* GetData() const { return PixelData.get(); }
    int32_t GetDataSize() const { return PixelDataSize; }
    bool GetInterlaced() const { return (Descriptor.PackedFields & 0x40) != 0; }
    void SetInterlaced(bool Value);
    const TImageDescriptor& GetDescriptor() const { return Descriptor; }

    TGIFColorMap* ActiveColorMap();
    TGIFLocalColorMap* GetColorMap() const { return LocalTable.get(); }
    int BitsPerPixel() const { return LocalTable->TableBits(); }
    int ColorResolution() const { return BitsPerPixel() - 1; }

    TGIFExtensionList* GetExtensions() const { return ExtensionList.get(); }
    bool GetTransparent() const { return IsTransparent; }
    void SetIsTransparent(bool Value) { IsTransparent = Value; }
    TGIFGraphicControlExtension* GetControlExtension() const { return ControlExtension; }
    void SetControlExtension(TGIFGraphicControlExtension* Value) { ControlExtension = Value; }
    // The transparent index of the control extension (0 without one).
    int TransparentIndex() const;

    HPALETTE GetPalette();
    void SetPalette(HPALETTE Value);
    classlib::TBitmap* GetBitmap();
    classlib::TBitmap* NewBitmap();
    void FreeBitmap();
    void FreeMask();
    bool HasBitmap() const { return FrameBitmap != nullptr; }
    void SetHasBitmap(bool Value);
    bool HasMask();
    HBITMAP GetMask() const { return MaskBitmap.Get(); }
    void Prepare();

    RECT ScaleRect(const RECT& R) const;
    void Draw(classlib::TCanvas* ACanvas, const RECT& R, bool DoTransparent, bool DoTile);
    void StretchDraw(classlib::TCanvas* ACanvas, const RECT& R, bool DoTransparent, bool DoTile);

    // Optimisation (GIFOptimize.cpp).
    void Crop();
    void Merge(TGIFSubImage* Previous);
    // Conversion (GIFConvert.cpp).
    void ApplyMask(HBITMAP Mask);

protected:
    void AssignTo(classlib::TPersistent* Dest) const override;

private:
    friend class TGIFImage;
    void RenderDirect(classlib::TBitmap* Bitmap, bool BuildMask);
    void RenderDithered(classlib::TBitmap* Bitmap, bool BuildMask);
    void AssignFromBitmap(classlib::TBitmap* Source);
    void AssignFromGraphic(classlib::TGraphic* Source);
    void Progress(classlib::TProgressStage Stage, uint8_t Percent, bool RedrawNow, const std::wstring& Msg);

    std::unique_ptr<classlib::TBitmap> FrameBitmap;
    classlib::TOwnedBitmap MaskBitmap;
    bool MaskPending = true;
    classlib::TOwnedPalette FramePalette;
    std::unique_ptr<uint8_t[]> PixelData;
    int32_t PixelDataSize = 0;
    std::unique_ptr<TGIFLocalColorMap> LocalTable;
    TImageDescriptor Descriptor;
    std::unique_ptr<TGIFExtensionList> ExtensionList;
    bool IsTransparent = false;
    TGIFGraphicControlExtension* ControlExtension = nullptr;
};

// Decodes the rest of a frame's image block into its pixels (allocated here).
void DecodeFramePixels(TGIFSubImage* Frame, classlib::TStream* Stream);
// Encodes a frame's pixels with the encoder that the image's PixelEncoder
// selects.
void WriteFramePixels(TGIFSubImage* Frame, classlib::TStream* Stream);

// ---- the picture ------------------------------------------------------------

using TGIFWarningEvent = TGIFWarning;

class TGIFImage : public classlib::TGraphic {
public:
    TGIFImage();
    ~TGIFImage() override;
    TGIFImage(const TGIFImage&) = delete;
    TGIFImage& operator=(const TGIFImage&) = delete;
    std::wstring ClassName() const override { return L"TGIFImage"; }
    static const classlib::TGraphicClass Class;
    const classlib::TGraphicClass* GetGraphicClass() const override { return &Class; }

    void Assign(const classlib::TPersistent* Source) override;
    void Draw(classlib::TCanvas* ACanvas, const RECT& R) override;
    bool Equals(classlib::TGraphic* Graphic) override { return Graphic == this; }
    bool GetEmpty() const override;
    int GetHeight() const override;
    int GetWidth() const override;
    void SetHeight(int Value) override;
    void SetWidth(int Value) override;
    HPALETTE GetPalette() override;
    void SetPalette(HPALETTE Value) override;
    void LoadFromStream(classlib::TStream* Stream) override;
    void SaveToStream(classlib::TStream* Stream) override;
    void LoadFromClipboardFormat(UINT Format, HANDLE Data, HPALETTE Palette) override;
    void SaveToClipboardFormat(UINT& Format, HANDLE& Data, HPALETTE& Palette) override;
    virtual void Warning(classlib::TObject* Sender, uint8_t Severity, const std::wstring& Message);

    void Clear();
    TGIFImageList* GetImages() const { return Frames.get(); }
    TGIFHeader* GetHeader() const { return FileHeader.get(); }
    TGIFColorMap* GetGlobalColorMap() const { return FileHeader->GetColorMap(); }
    TGIFRGB GetBackgroundColor() { return FileHeader->GetBackgroundColor(); }
    // 0 without frames, else 1 ("87a") or 2 ("89a").
    int GetVersion() const;
    int GetColorResolution() const;
    int GetBitsPerPixel() const;
    bool UseWebDither() const;
    int Add(classlib::TPersistent* Source);
    void FitScreenToFrames();
    classlib::TBitmap* GetBitmap();
    classlib::TBitmap* NewBitmap();
    void ReleaseBitmap();
    bool HasBackingBitmap() const { return BackingBitmap != nullptr; }

    // Painting (GIFPainter.cpp).
    TGIFPainter* Paint(TGIFPainter** Reference, classlib::TCanvas* ACanvas, TGIFDrawOptions Options,
                       const RECT& R);
    void StopPainters();
    void StopDrawPainter();
    classlib::TThreadList* GetPainters() { return &PainterList; }
    TGIFPainter* GetShowPainter() const { return ShowPainter; }

    // Optimisation (GIFOptimize.cpp).
    void Optimize(uint8_t Options, uint8_t ReductionMethod, uint8_t DitherMode, int ReductionBits);
    void OptimizeColorMap();

    TGIFDrawOptions DrawFlags;
    uint8_t ReductionMethod;
    int32_t ReductionDepth;
    uint8_t DitherKind;
    uint8_t PixelEncoder;
    TGIFWarning OnGIFWarning;
    classlib::TThreadPriority PainterPriority;
    int32_t SpeedPercent;
    int32_t StillFrame = -1;
    classlib::TColor PainterBackground = GIFNoColor;
    classlib::TNotifyEvent OnRunStart, OnFrameStart, OnFrameEnd, OnPassStart, OnRunEnd;

    // Progress on behalf of a frame or the image (the parent's Progress).
    void DoProgress(classlib::TObject* Sender, classlib::TProgressStage Stage, uint8_t Percent, bool RedrawNow,
                    const std::wstring& Msg);

protected:
    void AssignTo(classlib::TPersistent* Dest) const override;

private:
    friend class TGIFPainter;
    friend class TGIFSubImage;
    bool InDraw = false;
    bool InGetPalette = false;
    std::unique_ptr<TGIFImageList> Frames;
    std::unique_ptr<TGIFHeader> FileHeader;
    classlib::TOwnedPalette PaletteCache;
    classlib::TThreadList PainterList;
    std::unique_ptr<classlib::TBitmap> BackingBitmap;
    TGIFPainter* ShowPainter = nullptr;
    void BitmapChanged(classlib::TObject* Sender);
};

// Optimisation options of TGIFImage::Optimize.
constexpr uint8_t ooCrop = 1;
constexpr uint8_t ooMerge = 2;
constexpr uint8_t ooCleanup = 4;
constexpr uint8_t ooColorMap = 8;
constexpr uint8_t ooReduceColors = 16;

// The clipboard format "GIF Image" (0 before GIFStartup).
inline UINT CF_GIF = 0;

// Registers TGIFImage with TPicture under "GIF", registers the clipboard
// format and sets PalettedDisplay. GIFShutdown undoes the registrations.
void GIFStartup();
void GIFShutdown();
// Registers GIFStartup/GIFShutdown with the program's unit list
// (classlib::RegisterUnit) under the name "GIFImage"; the program calls it
// from main before classlib::RunStartups.
void RegisterGIFUnit();

// A whole-image operation's progress: psStarting with Msg when made, psEnding
// with Msg when it goes, 100 once Done was set (the operation finished) and 0
// otherwise. An exception of a handler at the end is dropped: the end runs
// while the operation's own exception may be on its way.
class TGIFImageProgress {
public:
    TGIFImageProgress(TGIFImage* Image, const wchar_t* Msg) : image_(Image), msg_(Msg)
    {
        image_->DoProgress(image_, classlib::psStarting, 0, false, msg_);
    }
    ~TGIFImageProgress()
    {
        try {
            image_->DoProgress(image_, classlib::psEnding, Done ? 100 : 0, true, msg_);
        } catch (...) {
        }
    }
    TGIFImageProgress(const TGIFImageProgress&) = delete;
    TGIFImageProgress& operator=(const TGIFImageProgress&) = delete;
    bool Done = false;

private:
    TGIFImage* image_;
    const wchar_t* msg_;
};

}  // namespace gif
