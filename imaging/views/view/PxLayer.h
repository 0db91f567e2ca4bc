// TPxLayer: one layer of an image view.
//
// A view holds its image as a stack of layers; layer 0 is the base image and
// the others are drawn over it in list order. Each layer has its own image
// (Bitmap), placement, displayed size, rotation, opacity and flags.
//
// Ownership: the layer frees Bitmap on destruction while OwnsBitmap is set,
// and a class-library bitmap it adopted for Bitmap's pixels (AdoptVclBitmap,
// or the one Create makes for a source kept in a class-library bitmap) after
// it; UserData when UserDataLen > 0 (the block must come from operator
// new[] of uint8_t); MaskCache always. The owner view owns the layer.
//
// Layer record (SaveToStream / LoadFromStream, little-endian, in memory
// only, used by undo): int32 record length (this field included, written
// last), 16-byte GUID, Width, Height, Visible, ShowBox, Selectable,
// Transparency, PosX, PosY, ScreenRect, ClipToBase, Locked, the magnify
// block (24 bytes), BlendMode, a 4-byte user-data reference, ResampleFilter,
// UseResampleFilter, Name (int32 byte count + ANSI bytes), Description
// (int32 character count + UTF-16), IsMask, DimOutside, Rotate,
// RotateCenterX, RotateCenterY, a bitmap-follows byte and then the raw dump
// of the image. The user-data reference holds the low 32 bits of the
// address for identification only: a loaded record never restores it (an
// address cut to 32 bits cannot be used again), the layer keeps its own.
//
// Threads: main thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "classlib/Stream.h"
#include "imaging/model/PxDefs.h"

namespace classlib {
class TBitmap;
}

namespace imaging {

class TPxBitmap;
class TImgView;

enum TPxLayerEvent : uint8_t { pxlSelected, pxlMoved, pxlResized, pxlMoving, pxlResizing, pxlRotating, pxlRotated };

class TPxLayer {
public:
    // Share: Bitmap is Source itself. Otherwise a new image with Source's
    // size, pixel format and storage (pixels not copied; a source kept in a
    // class-library bitmap gets a class-library bitmap of its own), or an
    // empty image when Source is nullptr. A new GUID; defaults.
    TPxLayer(TImgView* Owner, bool Share, TPxBitmap* Source);
    ~TPxLayer();
    TPxLayer(const TPxLayer&) = delete;
    TPxLayer& operator=(const TPxLayer&) = delete;

    int32_t Width = 0;
    int32_t Height = 0;
    double Rotate = 0;
    std::unique_ptr<TPxBitmap> MaskCache;
    TImgView* Owner = nullptr;
    TPxBitmap* Bitmap = nullptr;
    bool Visible = true;
    bool ShowBox = true;
    int32_t Transparency = 255;
    int32_t PosX = 0;
    int32_t PosY = 0;
    RECT ScreenRect{0, 0, 0, 0};
    bool ClipToBase = false;
    bool Locked = false;
    bool Selectable = true;
    bool Magnify = false;
    double MagnifyRate = 2.0;
    uint8_t MagnifyShape = 0;
    uint8_t MagnifySource = 1;
    uint8_t BlendMode = 0;
    void* UserData = nullptr;
    int32_t UserDataLen = 0;
    bool OwnsBitmap = true;
    TResampleFilter ResampleFilter = rfNone;
    bool UseResampleFilter = false;
    std::wstring Name;  // kept in the system ANSI code page in records
    std::wstring Description;
    bool IsMask = false;
    int32_t DrawRect[8] = {};
    POINT Corners[4] = {};
    bool DimOutside = false;
    GUID Guid{};
    double RotateCenterX = 0.5;
    double RotateCenterY = 0.5;

    // The defaults of every field except MaskCache, Owner, Bitmap,
    // OwnsBitmap, ResampleFilter, UseResampleFilter, Name, Description and
    // the GUID.
    void SetDefaults();
    // Copies the fields and the image content of Source; Rotate, the
    // rotation centre and the GUID stay. The UserData reference is shared
    // (UserDataLen is not copied, so this layer never frees it).
    void Assign(const TPxLayer& Source);

    // Width (Height), or the image's when 0.
    int GetWidth() const;
    int GetHeight() const;
    // A whole multiple of 360 is stored as 0, anything else unchanged.
    void SetRotation(double Angle);

    void SaveToStream(classlib::TStream* Stream, bool WithBitmap);
    // Reads a record written by SaveToStream at the stream's position.
    // A truncated record or a text count that does not fit the stream
    // raises classlib::EReadError (fields read before stay changed); a bad
    // image dump leaves the image empty.
    void LoadFromStream(classlib::TStream* Stream);

    // The class-library bitmap this layer frees after its image (nullptr
    // when none); the view hands its first bitmap to layer 0 this way.
    void AdoptVclBitmap(classlib::TBitmap* Bitmap);
    classlib::TBitmap* GetAdoptedVclBitmap() const { return ownedVcl_.get(); }
    // Frees the adopted bitmap (its image no longer uses it).
    void FreeAdoptedVclBitmap();
    // Frees Bitmap (when owned) and the adopted class-library bitmap;
    // Bitmap becomes nullptr.
    void FreeBitmap();

private:
    std::unique_ptr<classlib::TBitmap> ownedVcl_;
};

// Size in bytes of a layer record without bitmap and with empty texts.
constexpr int PxLayerRecordBaseSize = 127;

}  // namespace imaging
