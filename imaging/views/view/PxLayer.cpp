#include "imaging/views/view/PxLayer.h"

#include <objbase.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Exceptions.h"
#include "classlib/StreamRecords.h"
#include "classlib/TextConv.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxRawDump.h"

namespace imaging {

namespace {

using namespace classlib::streamrec;

void PutBool(classlib::TStream* Stream, bool Value) { Put<uint8_t>(Stream, Value ? 1 : 0); }
bool GetBool(classlib::TStream* Stream) { return Get<uint8_t>(Stream) != 0; }


}  // namespace

TPxLayer::TPxLayer(TImgView* AOwner, bool Share, TPxBitmap* Source) : Owner(AOwner)
{
    CoCreateGuid(&Guid);
    if (Share) {
        Bitmap = Source;
    } else {
        auto image = std::make_unique<TPxBitmap>();
        if (Source) {
            if (Source->GetLocation() == pxTBitmap && Source->GetVclBitmap()) {
                auto vcl = std::make_unique<classlib::TBitmap>();
                vcl->SetSize(1, 1);
                vcl->SetPixelFormat(Source->GetVclBitmap()->GetPixelFormat());
                vcl->SetSize(Source->GetWidth(), Source->GetHeight());
                image->AttachVclBitmap(vcl.get(), true);
                image->LegacyBitmap = Source->LegacyBitmap;
                ownedVcl_ = std::move(vcl);
            } else {
                image->SetLocation(Source->GetLocation());
                if (Source->GetWidth() > 0 && Source->GetHeight() > 0)
                    image->Allocate(Source->GetWidth(), Source->GetHeight(), Source->GetPixelFormat());
            }
        }
        Bitmap = image.release();
    }
    OwnsBitmap = true;
    SetDefaults();
}

TPxLayer::~TPxLayer()
{
    FreeBitmap();
    if (UserDataLen > 0)
        delete[] static_cast<uint8_t*>(UserData);
}

void TPxLayer::FreeBitmap()
{
    // The image goes before the class-library bitmap it wraps.
    if (OwnsBitmap)
        delete Bitmap;
    Bitmap = nullptr;
    ownedVcl_.reset();
}

void TPxLayer::AdoptVclBitmap(classlib::TBitmap* Value) { ownedVcl_.reset(Value); }

void TPxLayer::FreeAdoptedVclBitmap() { ownedVcl_.reset(); }

void TPxLayer::SetDefaults()
{
    Width = 0;
    Height = 0;
    Rotate = 0;
    Visible = true;
    ShowBox = true;
    Transparency = 255;
    PosX = 0;
    PosY = 0;
    ScreenRect = RECT{0, 0, 0, 0};
    ClipToBase = false;
    Locked = false;
    Selectable = true;
    Magnify = false;
    MagnifyRate = 2.0;
    MagnifyShape = 0;
    MagnifySource = 1;
    BlendMode = 0;
    UserData = nullptr;
    UserDataLen = 0;
    IsMask = false;
    std::memset(DrawRect, 0, sizeof(DrawRect));
    std::memset(Corners, 0, sizeof(Corners));
    DimOutside = false;
    RotateCenterX = 0.5;
    RotateCenterY = 0.5;
}

void TPxLayer::Assign(const TPxLayer& Source)
{
    if (&Source == this)
        return;
    Width = Source.Width;
    Height = Source.Height;
    if (Bitmap && Source.Bitmap)
        Bitmap->Assign(Source.Bitmap);
    Visible = Source.Visible;
    ShowBox = Source.ShowBox;
    Selectable = Source.Selectable;
    Transparency = Source.Transparency;
    PosX = Source.PosX;
    PosY = Source.PosY;
    ScreenRect = Source.ScreenRect;
    ClipToBase = Source.ClipToBase;
    Locked = Source.Locked;
    Magnify = Source.Magnify;
    MagnifyRate = Source.MagnifyRate;
    MagnifyShape = Source.MagnifyShape;
    MagnifySource = Source.MagnifySource;
    BlendMode = Source.BlendMode;
    // The reference only: the source keeps freeing its block.
    if (UserDataLen > 0 && UserData != Source.UserData)
        delete[] static_cast<uint8_t*>(UserData);
    UserData = Source.UserData;
    UserDataLen = 0;
    ResampleFilter = Source.ResampleFilter;
    UseResampleFilter = Source.UseResampleFilter;
    Name = Source.Name;
    Description = Source.Description;
    IsMask = Source.IsMask;
    DimOutside = Source.DimOutside;
}

int TPxLayer::GetWidth() const { return Width != 0 || !Bitmap ? Width : Bitmap->GetWidth(); }

int TPxLayer::GetHeight() const { return Height != 0 || !Bitmap ? Height : Bitmap->GetHeight(); }

void TPxLayer::SetRotation(double Angle)
{
    if (Angle == std::trunc(Angle) && std::fmod(Angle, 360.0) == 0.0)
        Rotate = 0;
    else
        Rotate = Angle;
}

void TPxLayer::SaveToStream(classlib::TStream* Stream, bool WithBitmap)
{
    const int64_t start = Stream->GetPosition();
    Put<int32_t>(Stream, 0);
    Stream->WriteBuffer(&Guid, sizeof(Guid));
    Put<int32_t>(Stream, Width);
    Put<int32_t>(Stream, Height);
    PutBool(Stream, Visible);
    PutBool(Stream, ShowBox);
    PutBool(Stream, Selectable);
    Put<int32_t>(Stream, Transparency);
    Put<int32_t>(Stream, PosX);
    Put<int32_t>(Stream, PosY);
    const int32_t rect[4] = {ScreenRect.left, ScreenRect.top, ScreenRect.right, ScreenRect.bottom};
    Stream->WriteBuffer(rect, sizeof(rect));
    PutBool(Stream, ClipToBase);
    PutBool(Stream, Locked);
    const uint8_t zeros[7] = {};
    PutBool(Stream, Magnify);
    Stream->WriteBuffer(zeros, 7);
    Put<double>(Stream, MagnifyRate);
    Put<uint8_t>(Stream, MagnifyShape);
    Put<uint8_t>(Stream, MagnifySource);
    Stream->WriteBuffer(zeros, 6);
    Put<uint8_t>(Stream, BlendMode);
    Put<uint32_t>(Stream, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(UserData)));
    Put<uint8_t>(Stream, static_cast<uint8_t>(ResampleFilter));
    PutBool(Stream, UseResampleFilter);
    PutString(Stream, classlib::WideToAnsi(Name));
    PutWideString(Stream, Description);
    PutBool(Stream, IsMask);
    PutBool(Stream, DimOutside);
    Put<double>(Stream, Rotate);
    Put<double>(Stream, RotateCenterX);
    Put<double>(Stream, RotateCenterY);
    const bool withImage = WithBitmap && Bitmap;
    PutBool(Stream, withImage);
    if (withImage)
        SaveRawToStream(*Bitmap, nullptr, 0, Stream);
    const int64_t end = Stream->GetPosition();
    Stream->SetPosition(start);
    Put<int32_t>(Stream, static_cast<int32_t>(end - start));
    Stream->SetPosition(end);
}

void TPxLayer::LoadFromStream(classlib::TStream* Stream)
{
    Get<int32_t>(Stream);  // the record length is not needed
    Stream->ReadBuffer(&Guid, sizeof(Guid));
    Width = Get<int32_t>(Stream);
    Height = Get<int32_t>(Stream);
    Visible = GetBool(Stream);
    ShowBox = GetBool(Stream);
    Selectable = GetBool(Stream);
    Transparency = Get<int32_t>(Stream);
    PosX = Get<int32_t>(Stream);
    PosY = Get<int32_t>(Stream);
    int32_t rect[4] = {};
    Stream->ReadBuffer(rect, sizeof(rect));
    ScreenRect = RECT{rect[0], rect[1], rect[2], rect[3]};
    ClipToBase = GetBool(Stream);
    Locked = GetBool(Stream);
    uint8_t skip[7];
    Magnify = GetBool(Stream);
    Stream->ReadBuffer(skip, 7);
    MagnifyRate = Get<double>(Stream);
    MagnifyShape = Get<uint8_t>(Stream);
    MagnifySource = Get<uint8_t>(Stream);
    Stream->ReadBuffer(skip, 6);
    BlendMode = Get<uint8_t>(Stream);
    Get<uint32_t>(Stream);  // the user-data reference is not restored
    const uint8_t filter = Get<uint8_t>(Stream);
    ResampleFilter = static_cast<TResampleFilter>(filter);
    UseResampleFilter = GetBool(Stream);
    Name = classlib::AnsiToWide(GetString(Stream));
    Description = GetWideString(Stream);
    IsMask = GetBool(Stream);
    DimOutside = GetBool(Stream);
    Rotate = Get<double>(Stream);
    RotateCenterX = Get<double>(Stream);
    RotateCenterY = Get<double>(Stream);
    if (GetBool(Stream) && Bitmap)
        LoadRawFromStream(*Bitmap, nullptr, 0, Stream);
}

}  // namespace imaging
