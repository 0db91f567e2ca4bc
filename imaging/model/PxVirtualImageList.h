// Many images in one backing store.
//
// TPxVirtualImageList keeps every stored image in one contiguous byte range
// of a store managed by a TPxFileBuffer: a delete-on-close temporary file
// named <temporary folder><Name>-XXXXXXXX.tmp, or a memory stream. Only a few
// ranges are mapped into memory at a time (at most MaxMapped + 1, the least
// recently used going first). Callers address images by item handles, read
// their pixels in place, or check an image out as a TPxBitmap and write it
// back.
//
// Layout of one range (rows padded to 32 bits):
//   1. the pixel rows, bottom row first;
//   2. px8p only: the palette, 256 entries of blue, green, red (768 bytes);
//   3. with alpha: one byte, the alpha channel's fully-opaque flag, then the
//      alpha rows (8 bits per pixel), bottom row first.
//
// Addresses handed out by GetImageBits, GetImagePalette and
// GetImageAlphaBits stay valid until the item is unmapped, which any later
// call that maps other items may do.
//
// Ownership: the list owns its items, its store and every checked-out
// bitmap (callers give bitmaps back with ReleaseBitmap, never delete them).
// Failure: a range that cannot be mapped gives nullptr from AddBitmap,
// GetBitmap and the address queries; a store that cannot be created is not
// reported here (the images then live only while mapped).
// Threads: none inside; callers serialise access.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Persistent.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxFileBuffer.h"

namespace imaging {

// One stored image. Owned by the list; callers hold it as a handle and may
// read its fields (and write SourceWidth/SourceHeight, Data and Tag).
struct TPxVirtualImageItem {
    int64_t Offset = 0;
    int64_t Size = 0;
    // The mapped copy of the range, nullptr when not mapped.
    uint8_t* Mapped = nullptr;
    bool CheckedOut = false;
    // The size of the picture the image was made from (set to the image's
    // size when stored).
    int32_t SourceWidth = 0;
    int32_t SourceHeight = 0;
    bool HasAlpha = false;
    // Access of the current mapping: 1 read, 2 write, 3 both.
    uint8_t Access = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t BitsPerPixel = 0;
    TPxPixelFormat PixelFormat = pxNoPixels;
    // Free for the caller.
    void* Data = nullptr;
    int32_t Tag = 0;
};

class TPxVirtualImageList : public classlib::TObject {
public:
    // An empty list whose store is created at 256 KiB.
    TPxVirtualImageList(const std::wstring& Name, bool UseFile);
    ~TPxVirtualImageList() override;
    TPxVirtualImageList(const TPxVirtualImageList&) = delete;
    TPxVirtualImageList& operator=(const TPxVirtualImageList&) = delete;
    std::wstring ClassName() const override { return L"TPxVirtualImageList"; }

    // Mapping limit: at most MaxMapped + 1 items are mapped at once.
    int32_t MaxMapped = 10;

    // Stores a copy of the image (with its alpha channel when it is a
    // TPxBitmap that has one) and returns the new item; nullptr (nothing
    // kept) when the image is nil or its range cannot be mapped.
    TPxVirtualImageItem* AddBitmap(TPxBaseBitmap* Bitmap);
    // Grows the store by Count * Height * row length bytes.
    void PreAllocate(int Width, int Height, int Count, int BitsPerPixel);
    // Checks the item out: the first call loads the image into a new
    // TPxBitmap (count 1), later calls return the same bitmap and add 1.
    // nullptr when the range cannot be mapped or the bitmap not allocated.
    TPxBitmap* GetBitmap(TPxVirtualImageItem* Item);
    // Ends one checkout of a bitmap of GetBitmap; with WriteBack the bitmap
    // is stored into its item first (in a new range when its geometry
    // changed). The bitmap is freed when its count reaches 0. Nothing for nil
    // or a bitmap that is not checked out.
    void ReleaseBitmap(TPxBitmap* Bitmap, bool WriteBack);
    // ReleaseBitmap for the bitmap checked out from Item, if any.
    void ReleaseItemBitmap(TPxVirtualImageItem* Item, bool WriteBack);

    // From the checked-out bitmap while there is one, else from the item.
    int GetImageWidth(TPxVirtualImageItem* Item);
    int GetImageHeight(TPxVirtualImageItem* Item);
    TPxPixelFormat GetImagePixelFormat(TPxVirtualImageItem* Item);
    // The lowest row address (rows bottom-up, bottom row first): of the
    // checked-out bitmap (meaningful for memory storage), else of the range
    // mapped for reading.
    uint8_t* GetImageBits(TPxVirtualImageItem* Item);
    TPxRGB* GetImagePalette(TPxVirtualImageItem* Item);
    // nullptr when the item has no alpha or its stored alpha is fully opaque.
    uint8_t* GetImageAlphaBits(TPxVirtualImageItem* Item);

    int GetSourceWidth(TPxVirtualImageItem* Item) const { return Item ? Item->SourceWidth : 0; }
    int GetSourceHeight(TPxVirtualImageItem* Item) const { return Item ? Item->SourceHeight : 0; }
    void SetSourceWidth(TPxVirtualImageItem* Item, int Value)
    {
        if (Item)
            Item->SourceWidth = Value;
    }
    void SetSourceHeight(TPxVirtualImageItem* Item, int Value)
    {
        if (Item)
            Item->SourceHeight = Value;
    }
    void* GetItemData(TPxVirtualImageItem* Item) const { return Item ? Item->Data : nullptr; }
    void SetItemData(TPxVirtualImageItem* Item, void* Value)
    {
        if (Item)
            Item->Data = Value;
    }
    int GetItemTag(TPxVirtualImageItem* Item) const { return Item ? Item->Tag : 0; }
    void SetItemTag(TPxVirtualImageItem* Item, int Value)
    {
        if (Item)
            Item->Tag = Value;
    }

    // Frees the item's range and any checked-out bitmap of it. When no item
    // remains the store shrinks back to the grow step.
    void DeleteImage(TPxVirtualImageItem* Item);

    // ---- state of the store
    int GetCount() const { return static_cast<int>(items_.size()); }
    TPxVirtualImageItem* GetItem(int Index) const;
    int64_t GetStoreSize() const { return storeSize_; }
    int64_t GetNextOffset() const { return nextOffset_; }
    int64_t GetGrowStep() const { return growStep_; }
    int GetMappedCount() const { return static_cast<int>(mapped_.size()); }
    int GetFreeRangeCount() const { return static_cast<int>(free_.size()); }
    const std::wstring& GetFileName() const { return store_.GetFileName(); }
    const std::wstring& GetName() const { return name_; }
    bool GetUseFile() const { return useFile_; }

private:
    struct TFreeRange {
        int64_t Offset;
        uint32_t Length;
    };
    struct TCheckout {
        TPxVirtualImageItem* Item;
        std::unique_ptr<TPxBitmap> Bitmap;
        int Count;
    };

    static int64_t RangeSize(int Width, int Height, TPxPixelFormat Format, int Bits, bool Alpha);
    bool TakeRange(TPxVirtualImageItem* Item, int Width, int Height, TPxPixelFormat Format, int Bits, bool Alpha);
    void ResizeStore();
    bool MapItem(TPxVirtualImageItem* Item, uint8_t Access);
    void UnmapItem(TPxVirtualImageItem* Item);
    void Store(TPxVirtualImageItem* Item, TPxBaseBitmap* Bitmap);
    bool Load(TPxVirtualImageItem* Item, TPxBitmap* Bitmap);
    TCheckout* FindCheckout(const TPxVirtualImageItem* Item);

    std::wstring name_;
    bool useFile_;
    TPxFileBuffer store_;
    int64_t storeSize_;
    int64_t nextOffset_ = 0;
    int64_t growStep_;
    int64_t lastAllocSize_ = 0;
    std::vector<std::unique_ptr<TPxVirtualImageItem>> items_;
    std::vector<TFreeRange> free_;
    std::vector<TPxVirtualImageItem*> mapped_;
    std::vector<TCheckout> checkouts_;
};

namespace detail {
// Test seam: when true every mapping of a range fails.
extern bool PxVilFailMapping;
}  // namespace detail

}  // namespace imaging
