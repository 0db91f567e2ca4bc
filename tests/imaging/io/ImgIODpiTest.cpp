// Resolution steps: AdjustDPI / PxAdjustDPI cases, the default resolution,
// and the view's resolution.
#include <gtest/gtest.h>

#include "classlib/Streams.h"
#include "imaging/io/core/ImgIODpi.h"
#include "ImgIOTestSupport.h"

using namespace imaging;
using namespace imgiotest;

TEST(ImgIODpi, AdjustDPICases)
{
    struct Case {
        int w, h, dpiX, dpiY;
        int paramW, paramH;  // what the parameters say (a thumbnail differs)
        bool filtered;
        int expW, expH, expDpiX, expDpiY, expParamW, expParamH;
    };
    const Case cases[] = {
        // wider than high: the height follows, both resolutions dx
        {600, 400, 300, 150, 600, 400, false, 600, 800, 300, 300, 600, 800},
        // higher than wide: the width follows, both resolutions dy
        {400, 600, 300, 150, 400, 600, false, 200, 600, 150, 150, 200, 600},
        {400, 600, 300, 150, 400, 600, true, 200, 600, 150, 150, 200, 600},
        // square counts as "not wider"
        {10, 10, 100, 300, 10, 10, false, 30, 10, 300, 300, 30, 10},
        // nothing to do: equal, zero or negative resolution
        {60, 40, 300, 300, 60, 40, false, 60, 40, 300, 300, 60, 40},
        {60, 40, 0, 150, 60, 40, false, 60, 40, 0, 150, 60, 40},
        {60, 40, 300, -1, 60, 40, false, 60, 40, 300, -1, 60, 40},
        // an embedded thumbnail: the size comes from the image, not the file
        {60, 40, 300, 150, 6000, 4000, false, 60, 80, 300, 300, 6000, 80},
        // resolutions of a damaged file: one over 16 times the other (a
        // 6 x 1099 bitmap once stretched to 3.6 GB) leaves the image
        {40, 60, 100, 1600, 40, 60, false, 640, 60, 1600, 1600, 640, 60},
        {40, 60, 100, 1700, 40, 60, false, 40, 60, 100, 1700, 40, 60},
        {6, 1099, 2835, 268438291, 6, 1099, false, 6, 1099, 2835, 268438291, 6, 1099},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " " << c.dpiX << "/" << c.dpiY
                                        << (c.filtered ? " filtered" : ""));
        TImgIO io(nullptr);
        auto img = Pattern(c.w, c.h, px8g);
        io.GetCurrentBitmap()->Assign(img.get());
        io.FileParams->Width = c.paramW;
        io.FileParams->Height = c.paramH;
        io.FileParams->DpiX = c.dpiX;
        io.FileParams->DpiY = c.dpiY;
        io.FilteredAdjustDPI = c.filtered;
        io.AdjustDPI();
        TPxBitmap* b = io.GetCurrentBitmap();
        EXPECT_EQ(b->GetWidth(), c.expW);
        EXPECT_EQ(b->GetHeight(), c.expH);
        EXPECT_EQ(b->GetPixelFormat(), c.filtered ? px24RGB : px8g);
        EXPECT_EQ(io.FileParams->DpiX, c.expDpiX);
        EXPECT_EQ(io.FileParams->DpiY, c.expDpiY);
        EXPECT_EQ(io.FileParams->Width, c.expParamW);
        EXPECT_EQ(io.FileParams->Height, c.expParamH);
    }
}

TEST(ImgIODpi, AlphaFollowsAndNearestNeighbourPixels)
{
    TImgIO io(nullptr);
    auto img = Pattern(4, 2);
    io.GetCurrentBitmap()->Assign(img.get());
    io.GetCurrentBitmap()->SetAlpha(3, 1, 7);
    io.FileParams->DpiX = 200;
    io.FileParams->DpiY = 100;
    io.AdjustDPI();
    TPxBitmap* b = io.GetCurrentBitmap();
    ASSERT_EQ(b->GetHeight(), 4);
    ASSERT_TRUE(b->HasAlphaChannel());
    // Row j of the result is row trunc(j / 2) of the source.
    EXPECT_EQ(b->GetPixelRGB(3, 2), img->GetPixelRGB(3, 1));
    EXPECT_EQ(b->GetPixelRGB(3, 3), img->GetPixelRGB(3, 1));
    EXPECT_EQ(b->GetAlpha(3, 2), 7);
    EXPECT_EQ(b->GetAlpha(3, 3), 7);
    EXPECT_EQ(b->GetAlpha(3, 1), 255);
}

TEST(ImgIODpi, PxAdjustDPIReturnsNewBitmapWithoutAlpha)
{
    TIOParamsVals p(nullptr);
    auto img = Pattern(5, 10, px8g);
    img->SetAlpha(0, 0, 1);
    p.DpiX = 100;
    p.DpiY = 100;
    EXPECT_EQ(PxAdjustDPI(img.get(), &p, false), img.get());
    p.DpiY = 50;
    std::unique_ptr<TPxBitmap> r(PxAdjustDPI(img.get(), &p, true));
    ASSERT_NE(r.get(), img.get());
    EXPECT_EQ(r->GetWidth(), 2);  // trunc(5 / 100 * 50)
    EXPECT_EQ(r->GetHeight(), 10);
    EXPECT_EQ(r->GetPixelFormat(), px24RGB);
    EXPECT_FALSE(r->HasAlphaChannel());
    EXPECT_EQ(img->GetPixelFormat(), px8g);  // the caller's image is untouched
    EXPECT_EQ(p.DpiX, 50);
    EXPECT_EQ(p.Width, 2);
}

// A resolution of 0 or 1 in the file becomes the default before AdjustDPI
// looks at it; the attached image view takes the result under its lock.
TEST(ImgIODpi, DefaultResolutionThenAdjustThenView)
{
    TRegistryScope reg({ffBMP});
    struct Case {
        int dpiX, dpiY, expW, expH;
    };
    const Case cases[] = {{1, 150, 40, 40}, {0, 0, 40, 20}, {150, 1, 40, 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dpiX << "/" << c.dpiY);
        classlib::TMemoryStream s;
        auto img = Pattern(40, 20);
        TIOParamsVals p(nullptr);
        p.DpiX = c.dpiX;
        p.DpiY = c.dpiY;
        bool abort = false;
        TPxIOProgressInfo info;
        info.Aborting = &abort;
        WriteRaw(&s, img.get(), p, info);
        s.SetPosition(0);
        TFakeView view;
        TImgIO io(nullptr);
        io.SetAttachedImg(&view);
        view.dpiSetUnlocked = 0;
        io.LoadBMPFromStream(&s);
        ASSERT_FALSE(io.AbortFlag);
        EXPECT_EQ(view.GetPxBitmap()->GetWidth(), c.expW);
        EXPECT_EQ(view.GetPxBitmap()->GetHeight(), c.expH);
        EXPECT_EQ(io.FileParams->DpiX, io.FileParams->DpiY);
        EXPECT_EQ(view.dpiX, io.FileParams->DpiX);
        EXPECT_EQ(view.dpiY, io.FileParams->DpiY);
        EXPECT_EQ(view.lock, 0);
        EXPECT_EQ(view.dpiSetUnlocked, 0);
    }
}
