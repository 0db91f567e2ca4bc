#include "classlib/ImageList.h"

#include <algorithm>

#include "classlib/Icon.h"
#include "classlib/WinHandles.h"

namespace classlib {

namespace {

COLORREF ListColor(TColor c)
{
    if (c == clNone) return CLR_NONE;
    if (c == clDefault) return CLR_DEFAULT;
    return static_cast<COLORREF>(ColorToRGB(c));
}

TColor FromListColor(COLORREF c)
{
    if (c == CLR_NONE) return clNone;
    if (c == CLR_DEFAULT) return clDefault;
    return static_cast<TColor>(c);
}

// A top-down DIB section of w x h at bitCount bits; Bits receives its pixels.
HBITMAP MakeDIB(int w, int h, int bitCount, void** Bits)
{
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = static_cast<WORD>(bitCount);
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (Bits) *Bits = bits;
    return bmp;
}

}  // namespace

// ------------------------------------------------------------ TChangeLink

TChangeLink::~TChangeLink()
{
    if (sender_) sender_->UnRegisterChanges(this);
}

void TChangeLink::SetSender(TCustomImageList* Value)
{
    if (Value == sender_) return;
    if (sender_) sender_->UnRegisterChanges(this);
    if (Value) Value->RegisterChanges(this);
}

void TChangeLink::Change()
{
    if (sender_) OnChange(sender_);
}

// ------------------------------------------------------- TCustomImageList

TCustomImageList::TCustomImageList(TComponent* Owner) : TComponent(Owner) {}

TCustomImageList::TCustomImageList(TComponent* Owner, int Width, int Height)
    : TComponent(Owner), width_(Width), height_(Height)
{
}

TCustomImageList::~TCustomImageList()
{
    for (TChangeLink* link : links_) link->sender_ = nullptr;
    links_.clear();
    FreeHandle();
}

HIMAGELIST TCustomImageList::GetHandle()
{
    if (!handle_) {
        UINT flags = ILC_COLORDDB | (masked_ ? ILC_MASK : 0);
        handle_ = ::ImageList_Create(width_, height_, flags, allocBy_, allocBy_);
        if (!handle_) throw EInvalidOperation(L"Invalid image list");
        if (bkColor_ != clNone) ::ImageList_SetBkColor(handle_, ListColor(bkColor_));
    }
    return handle_;
}

void TCustomImageList::FreeHandle()
{
    if (handle_ && !shareImages_) ::ImageList_Destroy(handle_);
    handle_ = nullptr;
}

void TCustomImageList::SetHandle(HIMAGELIST Value)
{
    if (Value == handle_) return;
    FreeHandle();
    handle_ = Value;
    if (handle_) {
        int w = 0, h = 0;
        if (::ImageList_GetIconSize(handle_, &w, &h)) {
            width_ = w;
            height_ = h;
        }
        bkColor_ = FromListColor(::ImageList_GetBkColor(handle_));
    }
    Change();
}

void TCustomImageList::SetWidth(int Value)
{
    if (Value == width_) return;
    width_ = Value;
    FreeHandle();
    Change();
}

void TCustomImageList::SetHeight(int Value)
{
    if (Value == height_) return;
    height_ = Value;
    FreeHandle();
    Change();
}

void TCustomImageList::SetMasked(bool Value)
{
    if (Value == masked_) return;
    masked_ = Value;
    FreeHandle();
    Change();
}

int TCustomImageList::GetCount() const { return handle_ ? ::ImageList_GetImageCount(handle_) : 0; }

void TCustomImageList::SetBkColor(TColor Value)
{
    if (Value == bkColor_) return;
    bkColor_ = Value;
    if (handle_) ::ImageList_SetBkColor(handle_, ListColor(Value));
    Change();
}

void TCustomImageList::SetBlendColor(TColor Value)
{
    if (Value == blendColor_) return;
    blendColor_ = Value;
    Change();
}

void TCustomImageList::SetDrawingStyle(TDrawingStyle Value)
{
    if (Value == drawingStyle_) return;
    drawingStyle_ = Value;
    Change();
}

void TCustomImageList::SetImageType(TImageType Value)
{
    if (Value == imageType_) return;
    imageType_ = Value;
    Change();
}

void TCustomImageList::CheckIndex(int Index, int Count) const
{
    if (Index < 0 || Index >= Count)
        throw EInvalidOperation(L"Image list index out of bounds (" + std::to_wstring(Index) + L")");
}

HBITMAP TCustomImageList::CopyImage(TBitmap* Image) const
{
    if (!Image || Image->GetEmpty()) return nullptr;
    int w = Image->GetWidth(), h = Image->GetHeight();
    // The bitmap stays selected into its canvas's DC, where the system cannot
    // select it again: blit a copy from that DC.
    HBITMAP copy = MakeDIB(w, h, Image->GetPixelFormat() == pf32bit ? 32 : 24, nullptr);
    if (!copy) throw EOutOfMemory(L"Out of system resources");
    {
        TMemoryDC dc(copy);
        ::BitBlt(dc.Get(), 0, 0, w, h, Image->GetCanvas()->GetHandle(), 0, 0, SRCCOPY);
    }
    ::GdiFlush();
    return copy;
}

HBITMAP TCustomImageList::CopyMask(TBitmap* Mask) const
{
    if (!Mask || Mask->GetEmpty()) return nullptr;
    int w = Mask->GetWidth(), h = Mask->GetHeight();
    HBITMAP copy = ::CreateBitmap(w, h, 1, 1, nullptr);
    if (!copy) throw EOutOfMemory(L"Out of system resources");
    TMemoryDC dc(copy);
    HDC src = Mask->GetCanvas()->GetHandle();
    // Colour to monochrome: white (the source's background colour) gives 1,
    // the transparent bits of the list's mask.
    COLORREF oldBk = ::SetBkColor(src, RGB(255, 255, 255));
    ::BitBlt(dc.Get(), 0, 0, w, h, src, 0, 0, SRCCOPY);
    ::SetBkColor(src, oldBk);
    return copy;
}

int TCustomImageList::Add(TBitmap* Image, TBitmap* Mask)
{
    if (!Image || Image->GetEmpty()) return -1;
    HIMAGELIST h = GetHandle();
    TGdiObject<HGDIOBJ> image(CopyImage(Image));
    TGdiObject<HGDIOBJ> mask(CopyMask(Mask));
    int index = ::ImageList_Add(h, static_cast<HBITMAP>(image.Get()), static_cast<HBITMAP>(mask.Get()));
    if (index < 0) throw EInvalidOperation(L"Failed to add image");
    Change();
    return index;
}

int TCustomImageList::AddMasked(TBitmap* Image, TColor MaskColor)
{
    if (!Image || Image->GetEmpty()) return -1;
    HIMAGELIST h = GetHandle();
    TGdiObject<HGDIOBJ> image(CopyImage(Image));
    int index = ::ImageList_AddMasked(h, static_cast<HBITMAP>(image.Get()), static_cast<COLORREF>(ColorToRGB(MaskColor)));
    if (index < 0) throw EInvalidOperation(L"Failed to add image");
    Change();
    return index;
}

int TCustomImageList::AddIcon(TIcon* Image)
{
    if (!Image || Image->GetEmpty()) return -1;
    int index = ::ImageList_ReplaceIcon(GetHandle(), -1, Image->GetHandle());
    if (index < 0) throw EInvalidOperation(L"Failed to add image");
    Change();
    return index;
}

void TCustomImageList::AddImages(TCustomImageList* Value)
{
    if (!Value || Value == this || Value->GetCount() == 0) return;
    HIMAGELIST src = Value->GetHandle();
    HIMAGELIST dst = GetHandle();
    int n = Value->GetCount();
    BeginUpdate();
    try {
        for (int i = 0; i < n; ++i) {
            // An icon carries the image with its mask (and alpha) across lists.
            HICON icon = ::ImageList_GetIcon(src, i, ILD_TRANSPARENT);
            if (!icon) throw EInvalidOperation(L"Failed to add image");
            int index = ::ImageList_ReplaceIcon(dst, -1, icon);
            ::DestroyIcon(icon);
            if (index < 0) throw EInvalidOperation(L"Failed to add image");
            Change();
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TCustomImageList::Insert(int Index, TBitmap* Image, TBitmap* Mask)
{
    int count = GetCount();
    CheckIndex(Index, count + 1);
    BeginUpdate();
    try {
        if (Add(Image, Mask) >= 0) {
            int added = GetCount() - count;
            for (int k = 0; k < added; ++k) Move(count + k, Index + k);
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TCustomImageList::Replace(int Index, TBitmap* Image, TBitmap* Mask)
{
    CheckIndex(Index, GetCount());
    TGdiObject<HGDIOBJ> image(CopyImage(Image));
    TGdiObject<HGDIOBJ> mask(CopyMask(Mask));
    if (!::ImageList_Replace(handle_, Index, static_cast<HBITMAP>(image.Get()), static_cast<HBITMAP>(mask.Get())))
        throw EInvalidOperation(L"Failed to replace image");
    Change();
}

void TCustomImageList::ReplaceMasked(int Index, TBitmap* NewImage, TColor MaskColor)
{
    CheckIndex(Index, GetCount());
    if (!NewImage || NewImage->GetEmpty()) throw EInvalidOperation(L"Failed to replace image");
    int w = NewImage->GetWidth(), h = NewImage->GetHeight();
    TGdiObject<HGDIOBJ> image(CopyImage(NewImage));
    TGdiObject<HGDIOBJ> mask(::CreateBitmap(w, h, 1, 1, nullptr));
    if (!static_cast<HBITMAP>(mask.Get())) throw EOutOfMemory(L"Out of system resources");
    if (masked_) {
        TMemoryDC imageDC(static_cast<HBITMAP>(image.Get()));
        TMemoryDC maskDC(static_cast<HBITMAP>(mask.Get()));
        // The mask: 1 where the image has MaskColor. Those pixels then turn
        // black in the image, as the list's transparent drawing expects.
        ::SetBkColor(imageDC.Get(), static_cast<COLORREF>(ColorToRGB(MaskColor)));
        ::BitBlt(maskDC.Get(), 0, 0, w, h, imageDC.Get(), 0, 0, SRCCOPY);
        ::SetBkColor(imageDC.Get(), RGB(255, 255, 255));
        ::SetTextColor(imageDC.Get(), RGB(0, 0, 0));
        ::BitBlt(imageDC.Get(), 0, 0, w, h, maskDC.Get(), 0, 0, 0x00220326);  // D and not S
    }
    if (!::ImageList_Replace(handle_, Index, static_cast<HBITMAP>(image.Get()), masked_ ? static_cast<HBITMAP>(mask.Get()) : nullptr))
        throw EInvalidOperation(L"Failed to replace image");
    Change();
}

void TCustomImageList::Delete(int Index)
{
    CheckIndex(Index, GetCount());
    ::ImageList_Remove(handle_, Index);
    Change();
}

void TCustomImageList::Clear()
{
    if (handle_) ::ImageList_Remove(handle_, -1);
    Change();
}

void TCustomImageList::Move(int CurIndex, int NewIndex)
{
    int count = GetCount();
    CheckIndex(CurIndex, count);
    CheckIndex(NewIndex, count);
    if (CurIndex == NewIndex) return;
    // Each image travels as an icon (its image with its mask): the images
    // from NewIndex to CurIndex shift by one and the moved one takes NewIndex.
    // (Swapping in place with ImageList_Copy is not reliable on every
    // common-controls version.)
    int step = CurIndex < NewIndex ? 1 : -1;
    std::vector<HICON> icons;
    for (int i = CurIndex;; i += step) {
        icons.push_back(::ImageList_GetIcon(handle_, i, ILD_NORMAL));
        if (i == NewIndex) break;
    }
    bool ok = true;
    for (HICON icon : icons) ok = ok && icon != nullptr;
    if (ok) {
        // Slot NewIndex gets icons[0]; slot i - step gets the image of slot i.
        ok = ::ImageList_ReplaceIcon(handle_, NewIndex, icons[0]) >= 0;
        for (size_t k = 1; ok && k < icons.size(); ++k)
            ok = ::ImageList_ReplaceIcon(handle_, CurIndex + static_cast<int>(k - 1) * step, icons[k]) >= 0;
    }
    for (HICON icon : icons)
        if (icon) ::DestroyIcon(icon);
    Change();
    if (!ok) throw EInvalidOperation(L"Failed to replace image");
}

bool TCustomImageList::GetBitmap(int Index, TBitmap* Image)
{
    if (!Image || !handle_ || Index < 0 || Index >= GetCount()) return false;
    Image->SetSize(width_, height_);
    TCanvas* canvas = Image->GetCanvas();
    canvas->Changing();
    HDC dc = canvas->GetHandle();
    if (bkColor_ != clNone) {
        TGdiObject<HGDIOBJ> brush(::CreateSolidBrush(static_cast<COLORREF>(ColorToRGB(bkColor_))));
        RECT r{0, 0, width_, height_};
        ::FillRect(dc, &r, static_cast<HBRUSH>(brush.Get()));
    }
    ::ImageList_DrawEx(handle_, Index, dc, 0, 0, 0, 0, CLR_NONE, CLR_NONE, ILD_NORMAL);
    canvas->Changed();
    return true;
}

bool TCustomImageList::GetIcon(int Index, TIcon* Image)
{
    if (!Image || !handle_ || Index < 0 || Index >= GetCount()) return false;
    HICON icon = ::ImageList_GetIcon(handle_, Index, ILD_NORMAL);
    if (!icon) return false;
    Image->SetHandle(icon);
    return true;
}

void TCustomImageList::Draw(TCanvas* Canvas, int X, int Y, int Index, bool Enabled)
{
    if (!Canvas || !handle_ || Index < 0 || Index >= GetCount()) return;
    static const UINT kStyles[] = {ILD_FOCUS, ILD_SELECTED, ILD_NORMAL, ILD_TRANSPARENT};
    UINT style = kStyles[drawingStyle_] | (imageType_ == itMask ? ILD_MASK : 0);
    DoDraw(Index, Canvas, X, Y, style, Enabled);
}

void TCustomImageList::DrawOverlay(TCanvas* Canvas, int X, int Y, int ImageIndex, TOverlay Overlay, bool Enabled)
{
    if (!Canvas || !handle_ || ImageIndex < 0 || ImageIndex >= GetCount() || Overlay > 14) return;
    static const UINT kStyles[] = {ILD_FOCUS, ILD_SELECTED, ILD_NORMAL, ILD_TRANSPARENT};
    UINT style = kStyles[drawingStyle_] | (imageType_ == itMask ? ILD_MASK : 0) | INDEXTOOVERLAYMASK(Overlay + 1u);
    DoDraw(ImageIndex, Canvas, X, Y, style, Enabled);
}

bool TCustomImageList::Overlay(int ImageIndex, TOverlay Overlay)
{
    if (!handle_ || Overlay > 14) return false;
    return ::ImageList_SetOverlayImage(handle_, ImageIndex, Overlay + 1) != FALSE;
}

void TCustomImageList::DoDraw(int Index, TCanvas* Canvas, int X, int Y, UINT Style, bool Enabled)
{
    if (!Enabled) {
        DrawDisabled(Index, Canvas, X, Y);
        return;
    }
    Canvas->Changing();
    ::ImageList_DrawEx(handle_, Index, Canvas->GetHandle(), X, Y, 0, 0, ListColor(bkColor_),
                       ListColor(blendColor_), Style);
    Canvas->Changed();
}

void TCustomImageList::DrawDisabled(int Index, TCanvas* Canvas, int X, int Y)
{
    const int w = width_, h = height_;
    if (w <= 0 || h <= 0) return;
    // The image drawn transparently on white; its dark opaque pixels become
    // the 0 bits of a monochrome shape (1 bits are left alone when drawing).
    void* pixels = nullptr;
    TGdiObject<HGDIOBJ> colour(MakeDIB(w, h, 32, &pixels));
    if (!static_cast<HBITMAP>(colour.Get()) || !pixels) throw EOutOfMemory(L"Out of system resources");
    {
        TMemoryDC dc(static_cast<HBITMAP>(colour.Get()));
        ::PatBlt(dc.Get(), 0, 0, w, h, WHITENESS);
        ::ImageList_DrawEx(handle_, Index, dc.Get(), 0, 0, 0, 0, CLR_NONE, CLR_NONE, ILD_TRANSPARENT);
    }
    ::GdiFlush();
    const size_t stride = (static_cast<size_t>(w) + 15) / 16 * 2;  // word-aligned rows
    std::vector<uint8_t> bits(stride * static_cast<size_t>(h), 0xFF);
    const auto* px = static_cast<const uint32_t*>(pixels);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t c = px[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)];
            uint32_t lum = (((c >> 16) & 0xFF) * 77 + ((c >> 8) & 0xFF) * 150 + (c & 0xFF) * 29) >> 8;
            if (lum < 0xC0) bits[static_cast<size_t>(y) * stride + static_cast<size_t>(x / 8)] &= ~(0x80u >> (x % 8));
        }
    TGdiObject<HGDIOBJ> shape(::CreateBitmap(w, h, 1, 1, bits.data()));
    if (!static_cast<HBITMAP>(shape.Get())) throw EOutOfMemory(L"Out of system resources");
    TMemoryDC shapeDC(static_cast<HBITMAP>(shape.Get()));

    Canvas->Changing();
    HDC dc = Canvas->GetHandle();
    // Monochrome to colour: 0 bits take the text colour (white, all ones) and
    // 1 bits the background (black); raster operation 0xE20746 then paints
    // the brush where the source is all ones and keeps the destination
    // elsewhere.
    COLORREF oldText = ::SetTextColor(dc, RGB(255, 255, 255));
    COLORREF oldBk = ::SetBkColor(dc, RGB(0, 0, 0));
    TGdiObject<HGDIOBJ> light(::CreateSolidBrush(static_cast<COLORREF>(ColorToRGB(clBtnHighlight))));
    TGdiObject<HGDIOBJ> dark(::CreateSolidBrush(static_cast<COLORREF>(ColorToRGB(clBtnShadow))));
    {
        TSelectObjectScope brush(dc, light.Get());
        ::BitBlt(dc, X + 1, Y + 1, w, h, shapeDC.Get(), 0, 0, 0x00E20746);
    }
    {
        TSelectObjectScope brush(dc, dark.Get());
        ::BitBlt(dc, X, Y, w, h, shapeDC.Get(), 0, 0, 0x00E20746);
    }
    ::SetTextColor(dc, oldText);
    ::SetBkColor(dc, oldBk);
    Canvas->Changed();
}

void TCustomImageList::RegisterChanges(TChangeLink* Value)
{
    if (!Value || Value->sender_ == this) return;
    if (Value->sender_) Value->sender_->UnRegisterChanges(Value);
    links_.push_back(Value);
    Value->sender_ = this;
}

void TCustomImageList::UnRegisterChanges(TChangeLink* Value)
{
    if (!Value) return;
    auto it = std::find(links_.begin(), links_.end(), Value);
    if (it == links_.end()) return;
    links_.erase(it);
    Value->sender_ = nullptr;
}

void TCustomImageList::BeginUpdate() { ++updateCount_; }

void TCustomImageList::EndUpdate()
{
    if (updateCount_ > 0) --updateCount_;
    if (updateCount_ == 0 && changed_) {
        changed_ = false;
        Change();
    }
}

void TCustomImageList::Change()
{
    if (updateCount_ > 0) {
        changed_ = true;
        return;
    }
    if (GetComponentState() & csDestroying) return;
    // A link's handler may unregister links: walk a copy, skipping those gone.
    std::vector<TChangeLink*> links = links_;
    for (TChangeLink* link : links)
        if (std::find(links_.begin(), links_.end(), link) != links_.end()) link->Change();
    OnChange(this);
}

}  // namespace classlib
