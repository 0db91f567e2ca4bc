#include "imaging/model/PxVirtualImageList.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "classlib/Exceptions.h"

namespace imaging {

namespace detail {
bool PxVilFailMapping = false;
}  // namespace detail

namespace {

constexpr int64_t kInitialStore = 262144;
constexpr int64_t kPaletteBytes = 768;
constexpr int64_t kMaxFreeLength = 0xFFFFFFFFLL;

int64_t RowLen32(int width, int bits)
{
    return ((static_cast<int64_t>(width) * bits + 31) / 32) * 4;
}

// Copies Count bytes and zero-fills the rest of a row of RowLen bytes.
void CopyRow(uint8_t* dst, const uint8_t* src, int64_t count, int64_t rowLen)
{
    std::memcpy(dst, src, static_cast<size_t>(count));
    if (rowLen > count)
        std::memset(dst + count, 0, static_cast<size_t>(rowLen - count));
}

}  // namespace

TPxVirtualImageList::TPxVirtualImageList(const std::wstring& Name, bool UseFile)
    : name_(Name), useFile_(UseFile), storeSize_(kInitialStore), growStep_(kInitialStore)
{
    ResizeStore();
}

TPxVirtualImageList::~TPxVirtualImageList()
{
    checkouts_.clear();
    while (!mapped_.empty()) {
        try {
            UnmapItem(mapped_.back());
        } catch (...) {
            // A failed write-back at destruction has no one to report to.
        }
    }
    try {
        store_.FreeFile();
    } catch (...) {
    }
}

TPxVirtualImageItem* TPxVirtualImageList::GetItem(int Index) const
{
    if (Index < 0 || Index >= GetCount())
        return nullptr;
    return items_[static_cast<size_t>(Index)].get();
}

int64_t TPxVirtualImageList::RangeSize(int Width, int Height, TPxPixelFormat Format, int Bits, bool Alpha)
{
    if (Width < 0 || Height < 0 || Bits < 0)
        return -1;
    const int64_t rowLen = RowLen32(Width, Bits);
    const int64_t alphaRowLen = RowLen32(Width, 8);
    const int64_t limit = std::numeric_limits<int64_t>::max() / 4;
    if (Height > 0 && (rowLen > limit / Height || alphaRowLen > limit / Height))
        return -1;
    int64_t size = static_cast<int64_t>(Height) * rowLen;
    if (Format == px8p)
        size += kPaletteBytes;
    if (Alpha)
        size += static_cast<int64_t>(Height) * alphaRowLen + 1;
    return size;
}

void TPxVirtualImageList::ResizeStore()
{
    free_.clear();
    if (store_.IsAllocated()) {
        while (!mapped_.empty())
            UnmapItem(mapped_.front());
        try {
            store_.SetSize(storeSize_);
        } catch (const classlib::Exception&) {
            // The store keeps its size; ranges beyond it are written when
            // they are unmapped (the stream grows) or lost with a full disk.
        }
    } else {
        store_.AllocateFile(name_, useFile_, storeSize_);
    }
}

bool TPxVirtualImageList::MapItem(TPxVirtualImageItem* Item, uint8_t Access)
{
    if (Item->Mapped && Item->Access != Access)
        UnmapItem(Item);
    if (Item->Mapped) {
        auto it = std::find(mapped_.begin(), mapped_.end(), Item);
        if (it != mapped_.end())
            std::rotate(it, it + 1, mapped_.end());
        return true;
    }
    while (!mapped_.empty() && static_cast<int64_t>(mapped_.size()) > MaxMapped)
        UnmapItem(mapped_.front());
    if (detail::PxVilFailMapping)
        return false;
    uint8_t* p = nullptr;
    try {
        p = store_.Map(Access, Item->Size, Item->Offset);
    } catch (const classlib::Exception&) {
        return false;
    }
    mapped_.push_back(Item);
    Item->Mapped = p;
    Item->Access = Access;
    return true;
}

void TPxVirtualImageList::UnmapItem(TPxVirtualImageItem* Item)
{
    if (!Item->Mapped)
        return;
    auto it = std::find(mapped_.begin(), mapped_.end(), Item);
    if (it != mapped_.end())
        mapped_.erase(it);
    uint8_t* p = Item->Mapped;
    Item->Mapped = nullptr;
    store_.Unmap(p);
}

bool TPxVirtualImageList::TakeRange(TPxVirtualImageItem* Item, int Width, int Height, TPxPixelFormat Format, int Bits,
                                    bool Alpha)
{
    const int64_t size = RangeSize(Width, Height, Format, Bits, Alpha);
    if (size < 0)
        return false;
    // Join neighbours in list order that touch.
    for (size_t i = 0; i + 1 < free_.size();) {
        const TFreeRange& a = free_[i];
        const TFreeRange& b = free_[i + 1];
        if (a.Offset + a.Length == b.Offset && static_cast<int64_t>(a.Length) + b.Length <= kMaxFreeLength) {
            free_[i].Length += b.Length;
            free_.erase(free_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        } else {
            ++i;
        }
    }
    bool fromFree = false;
    int64_t offset = 0;
    if (size <= kMaxFreeLength) {
        for (size_t i = 0; i < free_.size(); ++i) {
            if (free_[i].Length >= size) {
                offset = free_[i].Offset;
                if (free_[i].Length == size) {
                    free_.erase(free_.begin() + static_cast<std::ptrdiff_t>(i));
                } else {
                    free_[i].Offset += size;
                    free_[i].Length -= static_cast<uint32_t>(size);
                }
                fromFree = true;
                break;
            }
        }
    }
    if (!fromFree) {
        if (size > growStep_)
            growStep_ = size + lastAllocSize_;
        lastAllocSize_ = size;
        offset = nextOffset_;
        if (nextOffset_ + size > storeSize_) {
            storeSize_ += growStep_;
            ResizeStore();
        }
    }
    const TPxVirtualImageItem saved = *Item;
    Item->Offset = offset;
    Item->Size = size;
    Item->Width = Width;
    Item->Height = Height;
    Item->BitsPerPixel = Bits;
    Item->PixelFormat = Format;
    Item->HasAlpha = Alpha;
    if (!MapItem(Item, pxAccessWrite)) {
        // The range goes back: a free range to the free list, a range at the
        // end simply stays beyond NextOffset.
        if (fromFree)
            free_.push_back(TFreeRange{offset, static_cast<uint32_t>(size)});
        *Item = saved;
        return false;
    }
    if (!fromFree)
        nextOffset_ += size;
    return true;
}

void TPxVirtualImageList::Store(TPxVirtualImageItem* Item, TPxBaseBitmap* Bitmap)
{
    uint8_t* p = Item->Mapped;
    const int w = Item->Width;
    const int h = Item->Height;
    const int64_t rowLen = RowLen32(w, Item->BitsPerPixel);
    {
        TPxAccessScope access(*Bitmap, pxAccessRead);
        const int64_t n = std::min<int64_t>(rowLen, Bitmap->GetRowLen());
        for (int r = h - 1; r >= 0; --r) {
            CopyRow(p, Bitmap->GetScanline(r), n, rowLen);
            p += rowLen;
        }
    }
    if (Item->PixelFormat == px8p) {
        std::memset(p, 0, kPaletteBytes);
        const TPxRGB* palette = Bitmap->GetPaletteBuffer();
        const int count = std::clamp(Bitmap->GetPaletteLen(), 0, 256);
        if (palette && count > 0)
            std::memcpy(p, palette, static_cast<size_t>(count) * sizeof(TPxRGB));
        p += kPaletteBytes;
    }
    auto* pxBitmap = dynamic_cast<TPxBitmap*>(Bitmap);
    if (Item->HasAlpha && pxBitmap) {
        TPxBitmap* alpha = pxBitmap->GetAlphaChannel();
        *p++ = alpha->FullAlpha ? 1 : 0;
        const int64_t alphaRowLen = RowLen32(w, 8);
        TPxAccessScope access(*alpha, pxAccessRead);
        const int alphaH = alpha->GetHeight();
        const int64_t n = std::min<int64_t>(alphaRowLen, alpha->GetRowLen());
        for (int r = h - 1; r >= 0; --r) {
            if (r < alphaH && n > 0)
                CopyRow(p, alpha->GetScanline(r), n, alphaRowLen);
            else
                std::memset(p, 0, static_cast<size_t>(alphaRowLen));
            p += alphaRowLen;
        }
    }
}

bool TPxVirtualImageList::Load(TPxVirtualImageItem* Item, TPxBitmap* Bitmap)
{
    const int w = Item->Width;
    const int h = Item->Height;
    const TPxPixelFormat f = Item->PixelFormat;
    if (w <= 0 || h <= 0 || f == pxNoPixels) {
        Bitmap->FreeImage(true);
        return true;
    }
    if (Bitmap->GetPixelFormat() != f || Bitmap->GetWidth() != w || Bitmap->GetHeight() != h)
        if (!Bitmap->Allocate(w, h, f))
            return false;
    const uint8_t* p = Item->Mapped;
    const int64_t rowLen = RowLen32(w, Item->BitsPerPixel);
    {
        TPxAccessScope access(*Bitmap, pxAccessWrite);
        const int64_t bitmapRowLen = Bitmap->GetRowLen();
        const int64_t n = std::min(rowLen, bitmapRowLen);
        for (int r = 0; r < h; ++r)
            CopyRow(Bitmap->GetScanline(r), p + static_cast<int64_t>(h - 1 - r) * rowLen, n, bitmapRowLen);
    }
    p += static_cast<int64_t>(h) * rowLen;
    if (f == px8p) {
        TPxRGB* palette = Bitmap->GetPaletteBuffer();
        const int count = std::clamp(Bitmap->GetPaletteLen(), 0, 256);
        if (palette && count > 0)
            std::memcpy(palette, p, static_cast<size_t>(count) * sizeof(TPxRGB));
        p += kPaletteBytes;
    }
    if (Item->HasAlpha && *p == 0) {
        ++p;
        TPxBitmap* alpha = Bitmap->GetAlphaChannel();
        if (!alpha || alpha->GetWidth() != w || alpha->GetHeight() != h)
            return false;
        alpha->FullAlpha = false;
        const int64_t alphaRowLen = RowLen32(w, 8);
        TPxAccessScope access(*alpha, pxAccessWrite);
        const int64_t bitmapRowLen = alpha->GetRowLen();
        const int64_t n = std::min(alphaRowLen, bitmapRowLen);
        for (int r = 0; r < h; ++r)
            CopyRow(alpha->GetScanline(r), p + static_cast<int64_t>(h - 1 - r) * alphaRowLen, n, bitmapRowLen);
    } else if (Bitmap->HasAlphaChannel()) {
        Bitmap->RemoveAlphaChannel(false, 0);
    }
    return true;
}

TPxVirtualImageList::TCheckout* TPxVirtualImageList::FindCheckout(const TPxVirtualImageItem* Item)
{
    for (auto& c : checkouts_)
        if (c.Item == Item)
            return &c;
    return nullptr;
}

// ---------------------------------------------------------------------------

TPxVirtualImageItem* TPxVirtualImageList::AddBitmap(TPxBaseBitmap* Bitmap)
{
    if (!Bitmap)
        return nullptr;
    auto* pxBitmap = dynamic_cast<TPxBitmap*>(Bitmap);
    const bool alpha = pxBitmap && pxBitmap->HasAlphaChannel();
    const int w = Bitmap->GetWidth();
    const int h = Bitmap->GetHeight();
    auto item = std::make_unique<TPxVirtualImageItem>();
    if (!TakeRange(item.get(), w, h, Bitmap->GetPixelFormat(), Bitmap->GetBitCount(), alpha))
        return nullptr;
    item->SourceWidth = w;
    item->SourceHeight = h;
    try {
        Store(item.get(), Bitmap);
        items_.push_back(std::move(item));
    } catch (...) {
        // Nothing of a failed store is kept; its range is free again.
        UnmapItem(item.get());
        free_.push_back(TFreeRange{item->Offset, static_cast<uint32_t>(item->Size)});
        throw;
    }
    return items_.back().get();
}

void TPxVirtualImageList::PreAllocate(int Width, int Height, int Count, int BitsPerPixel)
{
    if (Width <= 0 || Height <= 0 || Count <= 0 || BitsPerPixel <= 0)
        return;
    const int64_t rowLen = RowLen32(Width, BitsPerPixel);
    const int64_t limit = std::numeric_limits<int64_t>::max() / 4;
    if (rowLen > limit / Height / Count)
        return;
    storeSize_ += static_cast<int64_t>(Count) * Height * rowLen;
    ResizeStore();
}

TPxBitmap* TPxVirtualImageList::GetBitmap(TPxVirtualImageItem* Item)
{
    if (!Item)
        return nullptr;
    if (TCheckout* c = FindCheckout(Item)) {
        ++c->Count;
        return c->Bitmap.get();
    }
    if (!MapItem(Item, pxAccessRead))
        return nullptr;
    auto bitmap = std::make_unique<TPxBitmap>();
    if (!Load(Item, bitmap.get()))
        return nullptr;
    checkouts_.push_back(TCheckout{Item, std::move(bitmap), 1});
    Item->CheckedOut = true;
    return checkouts_.back().Bitmap.get();
}

void TPxVirtualImageList::ReleaseBitmap(TPxBitmap* Bitmap, bool WriteBack)
{
    if (!Bitmap)
        return;
    if (Bitmap->GetLocation() == pxTBitmap) {
        try {
            Bitmap->SyncFromVclBitmap();
        } catch (...) {
            // The size and format stay as last known.
        }
    }
    auto it = std::find_if(checkouts_.begin(), checkouts_.end(),
                           [&](const TCheckout& c) { return c.Bitmap.get() == Bitmap; });
    if (it == checkouts_.end())
        return;
    TPxVirtualImageItem* item = it->Item;
    --it->Count;
    if (WriteBack) {
        const int w = Bitmap->GetWidth();
        const int h = Bitmap->GetHeight();
        const TPxPixelFormat f = Bitmap->GetPixelFormat();
        const int bits = Bitmap->GetBitCount();
        const bool alpha = Bitmap->HasAlphaChannel();
        // The format counts too: px8g and px8p have equal rows but only px8p
        // stores a palette.
        const bool sameGeometry = w == item->Width && h == item->Height && bits == item->BitsPerPixel &&
                                  alpha == item->HasAlpha && f == item->PixelFormat;
        bool ready = false;
        if (sameGeometry) {
            ready = MapItem(item, pxAccessReadWrite);
        } else {
            UnmapItem(item);
            const TFreeRange old{item->Offset, static_cast<uint32_t>(item->Size)};
            ready = TakeRange(item, w, h, f, bits, alpha);
            if (ready && old.Length > 0)
                free_.push_back(old);
        }
        if (ready)
            Store(item, Bitmap);
    }
    if (it->Count <= 0) {
        item->CheckedOut = false;
        checkouts_.erase(it);
    }
}

void TPxVirtualImageList::ReleaseItemBitmap(TPxVirtualImageItem* Item, bool WriteBack)
{
    if (TCheckout* c = FindCheckout(Item))
        ReleaseBitmap(c->Bitmap.get(), WriteBack);
}

int TPxVirtualImageList::GetImageWidth(TPxVirtualImageItem* Item)
{
    if (!Item)
        return 0;
    if (TCheckout* c = FindCheckout(Item))
        return c->Bitmap->GetWidth();
    return Item->Width;
}

int TPxVirtualImageList::GetImageHeight(TPxVirtualImageItem* Item)
{
    if (!Item)
        return 0;
    if (TCheckout* c = FindCheckout(Item))
        return c->Bitmap->GetHeight();
    return Item->Height;
}

TPxPixelFormat TPxVirtualImageList::GetImagePixelFormat(TPxVirtualImageItem* Item)
{
    if (!Item)
        return pxNoPixels;
    if (TCheckout* c = FindCheckout(Item))
        return c->Bitmap->GetPixelFormat();
    return Item->PixelFormat;
}

uint8_t* TPxVirtualImageList::GetImageBits(TPxVirtualImageItem* Item)
{
    if (!Item)
        return nullptr;
    if (TCheckout* c = FindCheckout(Item)) {
        const int h = c->Bitmap->GetHeight();
        return h > 0 ? c->Bitmap->GetScanline(h - 1) : nullptr;
    }
    if (!MapItem(Item, pxAccessRead))
        return nullptr;
    return Item->Mapped;
}

TPxRGB* TPxVirtualImageList::GetImagePalette(TPxVirtualImageItem* Item)
{
    if (!Item)
        return nullptr;
    if (TCheckout* c = FindCheckout(Item))
        return c->Bitmap->GetPaletteBuffer();
    if (Item->PixelFormat != px8p || !MapItem(Item, pxAccessRead))
        return nullptr;
    return reinterpret_cast<TPxRGB*>(Item->Mapped +
                                     static_cast<int64_t>(Item->Height) * RowLen32(Item->Width, Item->BitsPerPixel));
}

uint8_t* TPxVirtualImageList::GetImageAlphaBits(TPxVirtualImageItem* Item)
{
    if (!Item || !Item->HasAlpha)
        return nullptr;
    if (TCheckout* c = FindCheckout(Item)) {
        if (!c->Bitmap->HasAlphaChannel())
            return nullptr;
        TPxBitmap* alpha = c->Bitmap->GetAlphaChannel();
        const int h = alpha->GetHeight();
        return h > 0 ? alpha->GetScanline(h - 1) : nullptr;
    }
    if (!MapItem(Item, pxAccessRead))
        return nullptr;
    uint8_t* flag = Item->Mapped + static_cast<int64_t>(Item->Height) * RowLen32(Item->Width, Item->BitsPerPixel) +
                    (Item->PixelFormat == px8p ? kPaletteBytes : 0);
    return *flag == 0 ? flag + 1 : nullptr;
}

void TPxVirtualImageList::DeleteImage(TPxVirtualImageItem* Item)
{
    auto it = std::find_if(items_.begin(), items_.end(), [&](const auto& p) { return p.get() == Item; });
    if (it == items_.end())
        return;
    free_.push_back(TFreeRange{Item->Offset, static_cast<uint32_t>(Item->Size)});
    auto c = std::find_if(checkouts_.begin(), checkouts_.end(), [&](const TCheckout& k) { return k.Item == Item; });
    if (c != checkouts_.end())
        checkouts_.erase(c);
    UnmapItem(Item);
    items_.erase(it);
    if (items_.empty()) {
        storeSize_ = growStep_;
        nextOffset_ = 0;
        ResizeStore();
    }
}

}  // namespace imaging
