// Attaching outside storage: a caller's buffer or a system bitmap is wrapped
// without copying and never freed by the image.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "classlib/Bitmap.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxRawDump.h"
#include "classlib/Streams.h"

using namespace imaging;

namespace {

TEST(PxAttach, MemoryRowOrderDecidesWhichBufferRowIsTheTop)
{
    // 3 x 2 px8g, rows padded to 4 bytes: buffer row 0 = {1,2,3}, row 1 = {4,5,6}.
    std::vector<uint8_t> buf = {1, 2, 3, 0, 4, 5, 6, 0};
    struct Case {
        uint8_t order;
        uint8_t top[3];
    } cases[] = {{1, {1, 2, 3}}, {0, {4, 5, 6}}};
    for (const Case& c : cases) {
        TPxBitmap img;
        img.AttachMemory(buf.data(), 3, 2, px8g, true, c.order);
        ASSERT_EQ(img.GetWidth(), 3);
        ASSERT_EQ(img.GetLocation(), pxMemory);
        ASSERT_EQ(img.GetRowLen(), 4);
        EXPECT_EQ(std::memcmp(img.GetScanline(0), c.top, 3), 0) << int(c.order);
        EXPECT_EQ(img.GetPixelGray8(1, 0), c.top[1]);
        // Writes go straight into the caller's buffer.
        img.SetPixelGray8(0, 0, 99);
        EXPECT_EQ(buf[c.order == 1 ? 0 : 4], 99);
        buf[c.order == 1 ? 0 : 4] = c.top[0];
        // Allocating the same size and format keeps the attached buffer.
        EXPECT_TRUE(img.Allocate(3, 2, px8g));
        EXPECT_EQ(img.GetScanline(0), buf.data() + (c.order == 1 ? 0 : 4));
    }
    // The image is gone, the buffer untouched.
    EXPECT_EQ(buf, (std::vector<uint8_t>{1, 2, 3, 0, 4, 5, 6, 0}));
}

TEST(PxAttach, MemoryPaletteImagesGetAFullPaletteAndNullEmpties)
{
    std::vector<uint8_t> buf(8, 0);
    TPxBitmap img(2, 2, px24RGB);
    img.GetAlphaChannel();
    img.AttachMemory(buf.data(), 2, 2, px8p, false, 1);
    EXPECT_EQ(img.GetPaletteLen(), 256);
    ASSERT_TRUE(img.HasAlphaChannel());  // kept without FreeFirst
    img.AttachMemory(nullptr, 2, 2, px8p, true, 1);
    EXPECT_TRUE(img.IsEmpty());
    EXPECT_FALSE(img.HasAlphaChannel());
}

TEST(PxAttach, SystemBitmapIsWrappedNotCopiedNorFreed)
{
    classlib::TBitmap bmp;
    bmp.SetPixelFormat(classlib::pf24bit);
    bmp.SetSize(4, 3);
    auto* row = static_cast<uint8_t*>(bmp.GetScanLine(1));
    row[0] = 10, row[1] = 20, row[2] = 30;  // pixel (0,1): blue, green, red
    {
        TPxBitmap img;
        img.AttachVclBitmap(&bmp, true);
        ASSERT_EQ(img.GetLocation(), pxTBitmap);
        EXPECT_EQ(img.GetPixelFormat(), px24RGB);
        EXPECT_EQ(img.GetWidth(), 4);
        EXPECT_EQ(img.GetHeight(), 3);
        EXPECT_EQ(img.GetScanline(1), row);
        TPxRGB p = img.GetPixelRGB(0, 1);
        EXPECT_EQ(p.b, 10);
        EXPECT_EQ(p.r, 30);
        img.SetPixelRGB(3, 2, TPxRGB{1, 2, 3});
        EXPECT_EQ(static_cast<uint8_t*>(bmp.GetScanLine(2))[9], 1);
    }
    // The bitmap survives the image.
    EXPECT_EQ(bmp.GetWidth(), 4);
    EXPECT_EQ(static_cast<uint8_t*>(bmp.GetScanLine(1))[2], 30);
}

TEST(PxAttach, SystemBitmapFormatsWithoutPixelFormatAreRefused)
{
    struct Case {
        classlib::TPixelFormat pf;
        TPxPixelFormat expect;  // pxNoPixels: refused
    } cases[] = {{classlib::pf1bit, px1g}, {classlib::pf32bit, px32RGB}, {classlib::pf4bit, pxNoPixels},
                 {classlib::pf16bit, pxNoPixels}};
    for (const Case& c : cases) {
        classlib::TBitmap bmp;
        bmp.SetPixelFormat(c.pf);
        bmp.SetSize(5, 2);
        TPxBitmap img(1, 1, px8g);
        img.AttachVclBitmap(&bmp, true);
        if (c.expect == pxNoPixels) {
            EXPECT_TRUE(img.IsEmpty()) << int(c.pf);
        } else {
            EXPECT_EQ(img.GetPixelFormat(), c.expect) << int(c.pf);
            EXPECT_EQ(img.GetWidth(), 5);
        }
    }
}

TEST(PxAttach, PaletteLengthIsSettable)
{
    TPxBitmap img(2, 2, px8p);
    img.SetPaletteEntry(3, TPxRGB{1, 2, 3});
    img.SetPaletteLen(4);
    EXPECT_EQ(img.GetPaletteLen(), 4);
    EXPECT_EQ(img.GetPaletteEntry(3), (TPxRGB{1, 2, 3}));
    EXPECT_EQ(img.GetPaletteEntry(4), (TPxRGB{0, 0, 0}));
    img.SetPaletteLen(300);
    EXPECT_EQ(img.GetPaletteLen(), 256);
}

TEST(PxAttach, CopiesAndDumpsKeepShortPalettes)
{
    classlib::TBitmap bmp;
    bmp.SetPixelFormat(classlib::pf4bit);
    bmp.SetSize(3, 2);
    TPxBitmap img;
    img.SetLocation(pxMemory);
    ASSERT_TRUE(CopyFromVclBitmap(img, &bmp));
    EXPECT_EQ(img.GetPixelFormat(), px8p);
    EXPECT_EQ(img.GetPaletteLen(), 16);

    classlib::TMemoryStream dump;
    ASSERT_TRUE(SaveRawToStream(img, nullptr, 0, &dump));
    dump.SetPosition(0);
    TPxBitmap back;
    ASSERT_TRUE(LoadRawFromStream(back, nullptr, 0, &dump));
    EXPECT_EQ(back.GetPaletteLen(), 16);
    EXPECT_TRUE(PxCompareBitmaps(&img, &back));
}

}  // namespace
