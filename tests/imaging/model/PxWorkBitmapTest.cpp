// The DIB bitmap with its own device context, the scratch work bitmap, the
// DrawDib wrappers, and copies of a DIB bitmap into images.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxWorkBitmap.h"
#include "tests/imaging/model/PxCopyTestSupport.h"

using namespace imaging;
using namespace copytest;

namespace {

void FillDC(HDC dc, int x1, int y1, int x2, int y2, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    const RECT r{x1, y1, x2, y2};
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

TEST(PxDibbitmap, AllocateShapesAndFailures)
{
    TPxDibbitmap dib;
    ASSERT_TRUE(dib.AllocateBits(1, 3, 24));
    EXPECT_EQ(dib.GetRowLen(), 4);  // 3 bytes padded to 32 bits
    EXPECT_EQ(dib.GetPixelFormat(), px24RGB);
    EXPECT_NE(dib.GetDC(), nullptr);
    EXPECT_NE(dib.GetSection(), nullptr);
    // Rows are bottom-up in the section.
    EXPECT_EQ(dib.GetScanline(2), dib.GetBits());
    EXPECT_EQ(dib.GetScanline(0), dib.GetBits() + 8);

    ASSERT_TRUE(dib.Allocate(33, 2, px1g));
    EXPECT_EQ(dib.GetBitCount(), 1);
    EXPECT_EQ(dib.GetRowLen(), 8);
    EXPECT_EQ(dib.GetPixelFormat(), px1g);

    EXPECT_FALSE(dib.Allocate(4, 4, px8g));
    EXPECT_EQ(dib.GetBitCount(), 1);  // other formats are refused before anything changes
    EXPECT_FALSE(dib.AllocateBits(0, 5, 24));
    EXPECT_EQ(dib.GetPaletteLen(), 0);
    EXPECT_EQ(dib.GetPaletteBuffer(), nullptr);
    dib.FreeBits();
    EXPECT_EQ(dib.GetWidth(), 0);
    EXPECT_EQ(dib.GetDC(), nullptr);
}

TEST(PxDibbitmap, DrawsThroughItsDCAndCopiesIntoImages)
{
    TPxDibbitmap dib;
    ASSERT_TRUE(dib.AllocateBits(5, 4, 24));
    FillDC(dib.GetDC(), 0, 0, 5, 4, RGB(255, 255, 255));
    FillDC(dib.GetDC(), 1, 1, 3, 3, RGB(200, 10, 20));  // columns 1-2, rows 1-2
    for (Store into : {Store::Memory, Store::File, Store::VclBitmap}) {
        SCOPED_TRACE(StoreName(into));
        StoreScope scope(into);
        auto b = MakeEmpty(into);
        ASSERT_TRUE(CopyFromDibBitmap(*b, &dib));
        ASSERT_EQ(b->GetPixelFormat(), px24RGB);
        ASSERT_EQ(b->GetWidth(), 5);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x) {
                const bool inside = x >= 1 && x <= 2 && y >= 1 && y <= 2;
                EXPECT_EQ(b->GetPixelRGB(x, y), inside ? (TPxRGB{20, 10, 200}) : (TPxRGB{255, 255, 255}))
                    << x << "," << y;
            }
    }

    TPxDibbitmap mono;
    ASSERT_TRUE(mono.AllocateBits(12, 2, 1));
    PatBlt(mono.GetDC(), 0, 0, 12, 2, WHITENESS);
    FillDC(mono.GetDC(), 3, 1, 10, 2, RGB(0, 0, 0));  // row 1, columns 3-9 black
    auto b = MakeEmpty(Store::Memory);
    ASSERT_TRUE(CopyFromDibBitmap(*b, &mono));
    ASSERT_EQ(b->GetPixelFormat(), px1g);
    for (int x = 0; x < 12; ++x) {
        EXPECT_EQ(PixelBytes(*b, x, 0)[0], 1) << x;
        EXPECT_EQ(PixelBytes(*b, x, 1)[0], (x >= 3 && x <= 9) ? 0 : 1) << x;
    }

    // Assign between DIB bitmaps copies size, depth and rows.
    TPxDibbitmap copy;
    copy.Assign(&dib);
    ASSERT_EQ(copy.GetWidth(), 5);
    ASSERT_EQ(copy.GetBitCount(), 24);
    EXPECT_EQ(std::memcmp(copy.GetBits(), dib.GetBits(), static_cast<size_t>(dib.GetRowLen()) * 4), 0);
    copy.Assign(b.get());  // not a DIB bitmap: nothing
    EXPECT_EQ(copy.GetWidth(), 5);
}

TEST(PxDibbitmap, DrawDibWrappersDrawADib)
{
    TPxDibbitmap dib;
    ASSERT_TRUE(dib.AllocateBits(2, 1, 24));
    FillDC(dib.GetDC(), 0, 0, 2, 1, RGB(0, 0, 0));
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = 2;
    header.biHeight = 1;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const uint8_t pixels[8] = {10, 20, 30, 40, 50, 60, 0, 0};  // blue, green, red per pixel
    TPxDrawDib handle = PxDrawDibOpen();
    ASSERT_NE(handle, nullptr);
    PxDrawDibRealize(handle, dib.GetDC(), false);
    EXPECT_TRUE(PxDrawDibDraw(handle, dib.GetDC(), 0, 0, 2, 1, &header, pixels, 0, 0, 2, 1, 0));
    EXPECT_TRUE(PxDrawDibClose(handle));
    GdiFlush();
    EXPECT_EQ(std::memcmp(dib.GetScanline(0), pixels, 6), 0);
}

TEST(PxWorkBitmap, RowsAndReallocation)
{
    TPxWorkBitmap work(5, 3, 24);
    ASSERT_NE(work.GetBlock(), nullptr);
    EXPECT_EQ(work.GetRowLen(), 16);
    // Rows bottom-up: the top row is the last in the block.
    EXPECT_EQ(work.GetScanline(0), static_cast<uint8_t*>(work.GetBlock()) + 32);
    EXPECT_EQ(work.GetScanline(2), work.GetBlock());
    for (int y = 0; y < 3; ++y)
        std::memset(work.GetScanline(y), y + 1, 15);
    EXPECT_EQ(work.GetScanline(1)[14], 2);

    void* block = work.GetBlock();
    EXPECT_TRUE(work.Allocate(5, 3, 24));  // unchanged: the same block and rows
    EXPECT_EQ(work.GetBlock(), block);
    EXPECT_EQ(work.GetScanline(2)[0], 3);
    ASSERT_TRUE(work.Allocate(9, 2, 8));
    EXPECT_EQ(work.GetRowLen(), 12);
    EXPECT_EQ(work.GetHeight(), 2);
    work.FreeBits();
    EXPECT_EQ(work.GetBlock(), nullptr);
    EXPECT_EQ(work.GetWidth(), 0);
    EXPECT_EQ(work.GetRowLen(), 0);

    TPxWorkBitmap none(0, 4, 24);
    EXPECT_EQ(none.GetBlock(), nullptr);
}

}  // namespace
