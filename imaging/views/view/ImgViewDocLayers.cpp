// TImgView: layered documents read into the view's layers and written from
// them (the I/O object's PSD loads with PSDLoadLayers, and its PSD saves).
#include <windows.h>

#include <algorithm>
#include <string>

#include "imaging/model/PxBitmap.h"
#include "imaging/views/view/ImgView.h"
#include "imaging/views/view/PxLayer.h"

namespace imaging {

namespace {

// Layer names are 8-bit text in the system code page in the file.
std::wstring FromAnsi(const std::string& Text)
{
    if (Text.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), out.data(), n);
    return out;
}

std::string ToAnsi(const std::wstring& Text)
{
    if (Text.empty())
        return std::string();
    const int n =
        WideCharToMultiByte(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), out.data(), n, nullptr, nullptr);
    // The file keeps at most 255 bytes of a name.
    if (out.size() > 255)
        out.resize(255);
    return out;
}

void CopyIntoLayer(TPxLayer& Dest, const TPxPSDLayer& Source)
{
    Dest.Bitmap->Assign(Source.GetBitmap());
    Dest.PosX = Source.PosX;
    Dest.PosY = Source.PosY;
    Dest.Transparency = Source.Transparency;
    Dest.Visible = Source.Visible;
    Dest.ClipToBase = Source.Cropped;
    Dest.IsMask = Source.IsMask;
    Dest.Name = FromAnsi(Source.Name);
    Dest.Width = Source.Width;
    Dest.Height = Source.Height;
    Dest.ResampleFilter = Source.ResampleFilter;
    Dest.UseResampleFilter = Source.UseResampleFilter;
}

}  // namespace

bool TImgView::ClearDocumentLayers()
{
    ClearLayers();
    return true;
}

bool TImgView::TakeDocumentLayers(TPxPSDLayerList& Layers, int Width, int Height, bool Replace)
{
    if (Layers.empty())
        return false;
    // One update at the end, made by the I/O object's image-changed step.
    BeginUpdateLock();
    try {
        int target = 0;
        if (Replace)
            SetCurrentLayer(0);
        else
            target = AddLayer();
        if (Layers[0]->PosX != 0 || Layers[0]->PosY != 0) {
            // The document's area under the offset first layer: transparent.
            TPxLayer* under = GetLayer(target);
            const bool locked = GetLayer(0)->Locked;
            under->SetDefaults();
            under->Locked = locked;
            under->ShowBox = false;
            if (under->Bitmap->Allocate(Width > 0 ? Width : 1, Height > 0 ? Height : 1, px24RGB))
                under->Bitmap->GetAlphaChannel()->Fill(0);
            under->Bitmap->GetAlphaChannel()->CheckFullAlpha();
            target = AddLayer();
        }
        CopyIntoLayer(*GetLayer(target), *Layers[0]);
        for (size_t i = 1; i < Layers.size(); ++i)
            CopyIntoLayer(*GetLayer(AddLayer()), *Layers[i]);
    } catch (...) {
        EndUpdateLockNoUpdate();
        throw;
    }
    EndUpdateLockNoUpdate();
    return true;
}

bool TImgView::GetDocumentLayers(TPxPSDLayerList& Layers, TPxBitmap& Merged)
{
    // The current layer's image is the view's current image.
    if (currentLayer_ >= 0 && currentLayer_ < GetLayersCount())
        GetLayer(currentLayer_)->Bitmap = currentImage_;
    for (int i = 0; i < GetLayersCount(); ++i) {
        const TPxLayer& l = *GetLayer(i);
        auto record = std::make_unique<TPxPSDLayer>(l.Bitmap);
        record->PosX = l.PosX;
        record->PosY = l.PosY;
        record->Transparency = static_cast<uint8_t>(std::clamp(l.Transparency, 0, 255));
        record->Visible = l.Visible;
        record->Cropped = l.ClipToBase;
        record->IsMask = l.IsMask;
        record->Name = ToAnsi(l.Name);
        record->Width = l.Width;
        record->Height = l.Height;
        record->ResampleFilter = l.ResampleFilter;
        record->UseResampleFilter = l.UseResampleFilter;
        Layers.push_back(std::move(record));
    }
    RenderLayersTo(&Merged);
    const TPxPixelFormat base = GetLayer(0)->Bitmap->GetPixelFormat();
    if (!Merged.IsEmpty() && base != pxNoPixels && Merged.GetPixelFormat() != base)
        Merged.SetPixelFormat(base);
    return true;
}

}  // namespace imaging
