// Virtual image list: round trips, store accounting, mapping limit,
// checkouts with write-back, temporary file and mapping failures.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxVirtualImageList.h"
#include "tests/support/TestSupport.h"
#include "support/ValueScope.h"

using namespace imaging;

namespace {

class TempFolderScope : public testsupport::TValueScope<std::wstring> {
public:
    explicit TempFolderScope(const std::wstring& folder) : TValueScope(PxTempFolder, folder) {}
};

class FailMappingScope {
public:
    FailMappingScope() { detail::PxVilFailMapping = true; }
    ~FailMappingScope() { detail::PxVilFailMapping = false; }
};

bool FileExists(const std::wstring& name)
{
    const DWORD a = GetFileAttributesW(name.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

int64_t FileSize(const std::wstring& name)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Gives every stored byte (row padding included), palette entry and alpha
// value of an allocated image a value that differs by position and seed.
void FillPattern(TPxBitmap& b, int seed, bool alpha)
{
    const int w = b.GetWidth(), h = b.GetHeight();
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b.GetScanline(y);
        for (int i = 0; i < b.GetRowLen(); ++i)
            row[i] = static_cast<uint8_t>(seed * 13 + y * 31 + i * 7 + 1);
    }
    if (b.GetPixelFormat() == px8p)
        for (int i = 0; i < 256; ++i)
            b.SetPaletteEntry(i, TPxRGB{static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                                        static_cast<uint8_t>(i * 3 + seed)});
    if (alpha) {
        TPxBitmap* a = b.GetAlphaChannel();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                a->SetAlpha(x, y, static_cast<uint8_t>(x * 20 + y * 3 + seed));
        a->FullAlpha = false;
    }
}

std::unique_ptr<TPxBitmap> Patterned(int w, int h, TPxPixelFormat f, int seed, bool alpha)
{
    auto b = std::make_unique<TPxBitmap>(w, h, f);
    FillPattern(*b, seed, alpha);
    return b;
}

std::vector<uint8_t> BottomRow(TPxBitmap& b)
{
    const uint8_t* p = b.GetScanline(b.GetHeight() - 1);
    return std::vector<uint8_t>(p, p + b.GetRowLen());
}

}  // namespace

TEST(PxVirtualImageList, RoundTripsEveryFormatInFileAndMemory)
{
    const TPxPixelFormat formats[] = {px1g, px8p, px8g, px16g, px24RGB, px32f, pxCMYK, pxRGB48, pxCIELab, px32RGB};
    for (const bool useFile : {true, false}) {
        TPxVirtualImageList list(L"ILIST", useFile);
        std::vector<std::unique_ptr<TPxBitmap>> originals;
        std::vector<TPxVirtualImageItem*> items;
        int seed = 0;
        for (const TPxPixelFormat f : formats)
            for (const bool alpha : {false, true}) {
                originals.push_back(Patterned(7, 5, f, ++seed, alpha));
                items.push_back(list.AddBitmap(originals.back().get()));
                ASSERT_NE(items.back(), nullptr);
            }
        // More items than the mapping limit: the early ones come back from
        // the store itself.
        for (size_t i = 0; i < items.size(); ++i) {
            TPxBitmap& original = *originals[i];
            TPxVirtualImageItem* item = items[i];
            const std::string what = std::to_string(original.GetPixelFormat()) + (useFile ? " file #" : " memory #") +
                                     std::to_string(i);
            EXPECT_EQ(list.GetImageWidth(item), 7) << what;
            EXPECT_EQ(list.GetImageHeight(item), 5) << what;
            EXPECT_EQ(list.GetImagePixelFormat(item), original.GetPixelFormat()) << what;

            // In place: rows bottom-up, then palette, then alpha.
            const std::vector<uint8_t> bottom = BottomRow(original);
            const uint8_t* bits = list.GetImageBits(item);
            ASSERT_NE(bits, nullptr) << what;
            EXPECT_EQ(std::memcmp(bits, bottom.data(), bottom.size()), 0) << what;
            if (original.GetPixelFormat() == px8p) {
                const TPxRGB* palette = list.GetImagePalette(item);
                ASSERT_NE(palette, nullptr) << what;
                EXPECT_EQ(std::memcmp(palette, original.GetPaletteBuffer(), 768), 0) << what;
            }
            uint8_t* alphaBits = list.GetImageAlphaBits(item);
            EXPECT_EQ(alphaBits != nullptr, original.HasAlphaChannel()) << what;
            if (alphaBits) {
                EXPECT_EQ(alphaBits[3], original.GetAlphaChannel()->GetAlpha(3, 4)) << what;
            }

            // Checked out as a bitmap: equal pixels, palette and alpha.
            TPxBitmap* copy = list.GetBitmap(item);
            ASSERT_NE(copy, nullptr) << what;
            EXPECT_TRUE(PxCompareBitmaps(copy, &original)) << what;
            if (original.GetPixelFormat() == px8p) {
                EXPECT_EQ(copy->GetPaletteEntry(200), original.GetPaletteEntry(200)) << what;
            }
            if (original.HasAlphaChannel()) {
                EXPECT_FALSE(copy->GetAlphaChannel()->FullAlpha) << what;
            }
            list.ReleaseBitmap(copy, false);
            EXPECT_FALSE(item->CheckedOut) << what;
        }
    }
}

TEST(PxVirtualImageList, OpaqueAlphaComesBackWithoutAlpha)
{
    TPxVirtualImageList list(L"ILIST", false);
    auto b = Patterned(4, 4, px24RGB, 1, false);
    b->GetAlphaChannel();  // all 255, marked fully opaque
    ASSERT_TRUE(b->GetAlphaChannel()->FullAlpha);
    TPxVirtualImageItem* item = list.AddBitmap(b.get());
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->HasAlpha);
    EXPECT_EQ(item->Size, 4 * 12 + 4 * 4 + 1);
    EXPECT_EQ(list.GetImageAlphaBits(item), nullptr);
    TPxBitmap* copy = list.GetBitmap(item);
    ASSERT_NE(copy, nullptr);
    EXPECT_FALSE(copy->HasAlphaChannel());
    list.ReleaseItemBitmap(item, false);
    EXPECT_FALSE(item->CheckedOut);
}

TEST(PxVirtualImageList, RangesGrowReuseAndShrink)
{
    TPxVirtualImageList list(L"ILIST", false);
    EXPECT_EQ(list.GetStoreSize(), 262144);
    EXPECT_EQ(list.GetGrowStep(), 262144);
    auto p8 = Patterned(10, 10, px8p, 1, false);
    TPxVirtualImageItem* a = list.AddBitmap(p8.get());
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Size, 10 * 12 + 768);
    EXPECT_EQ(list.GetNextOffset(), 888);
    auto rgb = Patterned(10, 10, px24RGB, 2, true);
    TPxVirtualImageItem* b = list.AddBitmap(rgb.get());
    EXPECT_EQ(b->Offset, 888);
    EXPECT_EQ(b->Size, 10 * 32 + 10 * 12 + 1);
    EXPECT_EQ(list.GetNextOffset(), 888 + 441);

    // A deleted range is taken again, first fit, without moving the end.
    list.DeleteImage(a);
    EXPECT_EQ(list.GetFreeRangeCount(), 1);
    auto small = Patterned(10, 10, px8g, 3, false);
    TPxVirtualImageItem* c = list.AddBitmap(small.get());
    EXPECT_EQ(c->Offset, 0);
    EXPECT_EQ(list.GetNextOffset(), 888 + 441);
    EXPECT_EQ(list.GetFreeRangeCount(), 1);  // 888 - 120 bytes left over
    TPxBitmap* back = list.GetBitmap(b);
    EXPECT_TRUE(PxCompareBitmaps(back, rgb.get()));
    list.ReleaseBitmap(back, false);

    // An image above the grow step makes the step grow with it.
    auto big = Patterned(300, 300, px24RGB, 4, false);
    TPxVirtualImageItem* d = list.AddBitmap(big.get());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Size, 270000);
    EXPECT_EQ(list.GetGrowStep(), 270000 + 441);  // size + the last size taken from the end
    EXPECT_EQ(list.GetStoreSize(), 262144 + 270441);
    EXPECT_EQ(list.GetFreeRangeCount(), 0);  // forgotten when the store grows

    list.PreAllocate(100, 100, 10, 24);
    EXPECT_EQ(list.GetStoreSize(), 262144 + 270441 + 300000);

    for (TPxVirtualImageItem* i : {b, c, d})
        list.DeleteImage(i);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetStoreSize(), list.GetGrowStep());
    EXPECT_EQ(list.GetNextOffset(), 0);
}

TEST(PxVirtualImageList, MappingLimitEvictsTheLeastRecentlyUsed)
{
    TPxVirtualImageList list(L"ILIST", true);
    std::vector<std::unique_ptr<TPxBitmap>> images;
    std::vector<TPxVirtualImageItem*> items;
    for (int i = 0; i < 12; ++i) {
        images.push_back(Patterned(6, 3, px8g, i, false));
        items.push_back(list.AddBitmap(images.back().get()));
        EXPECT_LE(list.GetMappedCount(), 11);
    }
    EXPECT_EQ(list.GetMappedCount(), 11);
    EXPECT_EQ(items[0]->Mapped, nullptr);  // the twelfth mapping pushed out the first
    EXPECT_NE(items[1]->Mapped, nullptr);
    // Mapping the first again pushes out the second; its bytes come from the
    // file.
    const uint8_t* bits = list.GetImageBits(items[0]);
    ASSERT_NE(bits, nullptr);
    EXPECT_EQ(std::memcmp(bits, BottomRow(*images[0]).data(), 8), 0);
    EXPECT_EQ(items[1]->Mapped, nullptr);
    EXPECT_NE(items[2]->Mapped, nullptr);
    EXPECT_EQ(list.GetMappedCount(), 11);
}

TEST(PxVirtualImageList, CheckoutCountsAndWritesBack)
{
    TPxVirtualImageList list(L"ICACHE", true);
    auto grey = Patterned(8, 4, px8g, 1, false);
    auto neighbour = Patterned(8, 4, px24RGB, 2, false);
    TPxVirtualImageItem* item = list.AddBitmap(grey.get());
    TPxVirtualImageItem* next = list.AddBitmap(neighbour.get());
    list.SetSourceWidth(item, 800);
    EXPECT_EQ(list.GetSourceWidth(item), 800);
    EXPECT_EQ(list.GetSourceHeight(item), 4);

    TPxBitmap* b = list.GetBitmap(item);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(list.GetBitmap(item), b);  // shared, count 2
    b->SetPixelGray8(1, 1, 99);
    list.ReleaseBitmap(b, true);  // count 1, stored
    EXPECT_TRUE(item->CheckedOut);

    // Same row size, new format: px8p needs room for its palette.
    ASSERT_TRUE(b->Allocate(8, 4, px8p));
    for (int i = 0; i < 256; ++i)
        b->SetPaletteEntry(i, TPxRGB{7, static_cast<uint8_t>(i), 9});
    b->Fill(5);
    EXPECT_EQ(list.GetImagePixelFormat(item), px8p);  // follows the checkout
    list.ReleaseBitmap(b, true);
    EXPECT_FALSE(item->CheckedOut);
    EXPECT_EQ(list.GetImagePixelFormat(item), px8p);
    EXPECT_EQ(item->Size, 4 * 8 + 768);
    EXPECT_EQ(list.GetSourceWidth(item), 800);  // the caller's value stays
    const TPxRGB* palette = list.GetImagePalette(item);
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(palette[200], (TPxRGB{7, 200, 9}));
    EXPECT_EQ(list.GetImageBits(item)[3], 5);
    // The neighbour's range is untouched.
    TPxBitmap* n = list.GetBitmap(next);
    EXPECT_TRUE(PxCompareBitmaps(n, neighbour.get()));
    list.ReleaseItemBitmap(next, false);

    // Bigger geometry with alpha: a new range.
    b = list.GetBitmap(item);
    auto replacement = Patterned(20, 6, px24RGB, 3, true);
    ASSERT_TRUE(b->Allocate(20, 6, px24RGB));
    FillPattern(*b, 3, true);
    list.ReleaseBitmap(b, true);
    EXPECT_EQ(list.GetImageWidth(item), 20);
    EXPECT_TRUE(item->HasAlpha);
    TPxBitmap* again = list.GetBitmap(item);
    EXPECT_TRUE(PxCompareBitmaps(again, replacement.get()));
    list.ReleaseBitmap(again, false);

    // Unknown bitmaps and nil are ignored.
    TPxBitmap stranger(2, 2, px8g);
    list.ReleaseBitmap(&stranger, true);
    list.ReleaseBitmap(nullptr, true);
    list.ReleaseItemBitmap(item, true);
    EXPECT_EQ(list.GetCount(), 2);
}

TEST(PxVirtualImageList, TemporaryFileNamedSizedAndDeleted)
{
    testsupport::TempDir dir;
    const std::wstring folder = dir.Path() + L"\\";
    TempFolderScope scope(folder);
    std::wstring name;
    {
        TPxVirtualImageList list(L"ILIST", true);
        name = list.GetFileName();
        EXPECT_EQ(name.substr(0, folder.size()), folder);
        EXPECT_TRUE(std::regex_match(name.substr(folder.size()), std::wregex(L"ILIST-[0-9A-F]{8}\\.tmp")));
        EXPECT_TRUE(FileExists(name));
        EXPECT_EQ(FileSize(name), 262144);
        list.PreAllocate(64, 64, 4, 8);
        EXPECT_EQ(FileSize(name), 262144 + 4 * 64 * 64);
        auto b = Patterned(3, 3, px8g, 1, false);
        list.AddBitmap(b.get());
    }
    EXPECT_FALSE(FileExists(name));

    // A memory store makes no file.
    {
        TPxVirtualImageList list(L"ICACHE", false);
        auto b = Patterned(3, 3, px8g, 1, false);
        EXPECT_NE(list.AddBitmap(b.get()), nullptr);
        EXPECT_FALSE(FileExists(list.GetFileName()));
    }
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((folder + L"*.tmp").c_str(), &found);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE)
        FindClose(h);
}

TEST(PxVirtualImageList, MappingFailureKeepsNothing)
{
    TPxVirtualImageList list(L"ILIST", false);
    auto b = Patterned(10, 10, px8g, 1, false);
    TPxVirtualImageItem* first = list.AddBitmap(b.get());
    list.AddBitmap(b.get());
    list.DeleteImage(first);
    const int64_t end = list.GetNextOffset();
    auto wide = Patterned(40, 10, px8g, 2, false);
    {
        FailMappingScope fail;
        EXPECT_EQ(list.AddBitmap(b.get()), nullptr);     // from the free range
        EXPECT_EQ(list.AddBitmap(wide.get()), nullptr);  // from the end
        EXPECT_EQ(list.GetCount(), 1);
        EXPECT_EQ(list.GetNextOffset(), end);
        EXPECT_EQ(list.GetFreeRangeCount(), 1);
    }
    // Both ranges were given back.
    TPxVirtualImageItem* third = list.AddBitmap(b.get());
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->Offset, 0);
    TPxVirtualImageItem* wideItem = list.AddBitmap(wide.get());
    ASSERT_NE(wideItem, nullptr);
    EXPECT_EQ(wideItem->Offset, end);
    TPxBitmap* copy = list.GetBitmap(wideItem);
    EXPECT_TRUE(PxCompareBitmaps(copy, wide.get()));
    list.ReleaseBitmap(copy, false);

    // A checkout whose range cannot be mapped gives nil.
    TPxVirtualImageItem* fourth = list.AddBitmap(b.get());
    for (int i = 0; i < 12; ++i)
        list.AddBitmap(b.get());  // pushes the fourth out of memory
    ASSERT_EQ(fourth->Mapped, nullptr);
    FailMappingScope fail;
    EXPECT_EQ(list.GetBitmap(fourth), nullptr);
    EXPECT_EQ(list.GetImageBits(fourth), nullptr);
    EXPECT_FALSE(fourth->CheckedOut);
}
