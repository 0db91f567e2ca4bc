// Metafile import: the size rules, drawing on the background or with an
// alpha channel keyed on red 3, green 2, blue 1, the failure rules, and
// loads of EMF and placeable WMF files through the I/O object. The pictures
// are recorded with GDI in the test: a red block with a margin around it
// and a small block in the key colour inside it.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

#include "classlib/Graphics.h"
#include "classlib/Metafile.h"
#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/platform/MetafileImport.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxDefs.h"
#include "imaging/proc/PxConvert.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

// A picture of 100 x 50 units: the red block covers the middle half in both
// directions, the key block the middle tenth across and fifth down.
std::unique_ptr<classlib::TMetafile> MakePicture(int PixelWidth, int PixelHeight)
{
    HDC screen = ::GetDC(nullptr);
    const double pxPerHmmX = ::GetDeviceCaps(screen, HORZRES) / (::GetDeviceCaps(screen, HORZSIZE) * 100.0);
    const double pxPerHmmY = ::GetDeviceCaps(screen, VERTRES) / (::GetDeviceCaps(screen, VERTSIZE) * 100.0);
    ::ReleaseDC(nullptr, screen);
    const RECT frame{0, 0, 4000, 2000};  // 0.01 mm
    HDC dc = ::CreateEnhMetaFileW(nullptr, nullptr, &frame, nullptr);
    const int w = static_cast<int>(4000 * pxPerHmmX), h = static_cast<int>(2000 * pxPerHmmY);
    HBRUSH red = ::CreateSolidBrush(RGB(200, 0, 0));
    const RECT block{w / 4, h / 4, 3 * w / 4, 3 * h / 4};
    ::FillRect(dc, &block, red);
    HBRUSH key = ::CreateSolidBrush(RGB(3, 2, 1));
    const RECT hole{9 * w / 20, 2 * h / 5, 11 * w / 20, 3 * h / 5};
    ::FillRect(dc, &hole, key);
    ::DeleteObject(red);
    ::DeleteObject(key);
    auto picture = std::make_unique<classlib::TMetafile>();
    picture->SetHandle(::CloseEnhMetaFile(dc));
    picture->SetWidth(PixelWidth);
    picture->SetHeight(PixelHeight);
    return picture;
}

struct TFinishCounter {
    int Count = 0;
    void Finish(classlib::TObject*) { ++Count; }
};

class MetafileImport : public testing::Test {
protected:
    void SetUp() override
    {
        PxDefsInit();
        PxInstallPixelFormatConversion();
        PxCopyInstallServices();
        if (!PxFormatRegistryExists())
            PxBuildFormatRegistry();
        PxInstallMetafileFormats();
    }
};

TEST_F(MetafileImport, SizeRules)
{
    struct TCase {
        int MetaW, MetaH, W, H, Cap, OutW, OutH;
    } const cases[] = {
        {1000, 500, -1, -1, 8000, 1000, 500},     // own size
        {20000, 10000, -1, -1, 8000, 8000, 4000},  // capped, aspect kept
        {10000, 20000, -1, -1, 8000, 4000, 8000},
        {1000, 500, 400, -1, 8000, 400, 200},      // height from the width
        {1000, 500, -1, 100, 8000, 200, 100},      // width from the height
        {1000, 500, 300, 300, 8000, 300, 300},     // both given
        {1000, 500, 9000, -1, 8000, 8000, 4000},   // the cap applies to asked sizes too
        {30000, 2, -1, -1, 8000, 8000, 1},         // never below one pixel
    };
    for (const TCase& c : cases) {
        int w = 0, h = 0;
        PxMetafileImportSize(c.MetaW, c.MetaH, c.W, c.H, c.Cap, w, h);
        EXPECT_EQ(w, c.OutW) << c.MetaW << "x" << c.MetaH << " asked " << c.W << "x" << c.H;
        EXPECT_EQ(h, c.OutH) << c.MetaW << "x" << c.MetaH << " asked " << c.W << "x" << c.H;
    }
}

TEST_F(MetafileImport, BackgroundOrTransparency)
{
    auto picture = MakePicture(200, 100);
    TImgIO io(nullptr);
    io.SetBackground(static_cast<classlib::TColor>(0x00FF8040));  // red 64, green 128, blue 255
    TFinishCounter finish;
    io.OnFinishWork = classlib::TNotifyEvent(&finish, &TFinishCounter::Finish);

    // Without alpha: the margin shows the background, the key colour stays.
    PxImportMetafile(io, *picture, -1, -1, false);
    ASSERT_FALSE(io.AbortFlag);
    TPxBitmap* image = io.GetCurrentBitmap();
    ASSERT_EQ(image->GetPixelFormat(), px24RGB);
    ASSERT_EQ(image->GetWidth(), 200);
    ASSERT_EQ(image->GetHeight(), 100);
    EXPECT_FALSE(image->HasAlphaChannel());
    const TPxRGB margin = image->GetPixelRGB(5, 5), block = image->GetPixelRGB(60, 30), hole = image->GetPixelRGB(100, 50);
    EXPECT_EQ(margin.r, 64);
    EXPECT_EQ(margin.g, 128);
    EXPECT_EQ(margin.b, 255);
    EXPECT_EQ(block.r, 200);
    EXPECT_EQ(block.g, 0);
    EXPECT_EQ(hole.r, 3);
    EXPECT_EQ(hole.b, 1);
    const TIOParamsVals& p = *io.FileParams;
    EXPECT_EQ(p.FileFormat, ffEMF);
    EXPECT_EQ(p.Width, 200);
    EXPECT_EQ(p.OriginalHeight, 100);
    EXPECT_EQ(p.BitsPerSample, 8);
    EXPECT_EQ(p.SamplesPerPixel, 3);
    EXPECT_EQ(p.DpiX, PxDefaultDpiX);

    // With alpha, at 400 across: margin and key block transparent.
    PxImportMetafile(io, *picture, 400, -1, true);
    ASSERT_FALSE(io.AbortFlag);
    image = io.GetCurrentBitmap();
    ASSERT_EQ(image->GetWidth(), 400);
    ASSERT_EQ(image->GetHeight(), 200);
    ASSERT_TRUE(image->HasAlphaChannel());
    EXPECT_EQ(image->GetAlpha(10, 10), 0);
    EXPECT_EQ(image->GetAlpha(120, 60), 255);
    EXPECT_EQ(image->GetAlpha(200, 100), 0);
    EXPECT_EQ(image->GetPixelRGB(120, 60).r, 200);
    EXPECT_FALSE(image->FullAlpha);
    EXPECT_EQ(finish.Count, 0);  // the import itself sends no finish notification
}

TEST_F(MetafileImport, NothingToDrawAndEmptyPictures)
{
    auto picture = MakePicture(200, 100);
    TImgIO io(nullptr);
    PxImportMetafile(io, *picture, 50, 50, false);
    ASSERT_EQ(io.GetCurrentBitmap()->GetWidth(), 50);

    // Width 0 imports nothing and is no failure.
    PxImportMetafile(io, *picture, 0, -1, true);
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.GetCurrentBitmap()->GetWidth(), 50);
    EXPECT_FALSE(io.GetCurrentBitmap()->HasAlphaChannel());

    // A picture without size fails.
    classlib::TMetafile empty;
    PxImportMetafile(io, empty, -1, -1, false);
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_EQ(io.GetCurrentBitmap()->GetWidth(), 50);
}

TEST_F(MetafileImport, FilesThroughTheIOObject)
{
    testsupport::TempDir dir;
    auto picture = MakePicture(120, 60);
    const std::wstring emf = dir.File(L"pic.emf"), wmf = dir.File(L"pic.wmf");
    {
        classlib::TFileStream f(emf, classlib::fmCreate);
        picture->SaveToStream(&f);
    }
    picture->SetEnhanced(false);
    {
        classlib::TFileStream f(wmf, classlib::fmCreate);
        picture->SaveToStream(&f);
    }
    // The registry rows import at the picture's own size (as the file
    // gives it) with transparency.
    for (const std::wstring& name : {emf, wmf}) {
        TIOParamsVals own(nullptr);
        {
            classlib::TFileStream f(name, classlib::fmOpenRead);
            PxReadMetafileParams(&f, own);
        }
        EXPECT_EQ(own.FileFormat, name == emf ? ffEMF : ffWMF);
        ASSERT_GT(own.Width, 50);
        ASSERT_GT(own.Height, 25);

        TImgIO io(nullptr);
        TFinishCounter finish;
        io.OnFinishWork = classlib::TNotifyEvent(&finish, &TFinishCounter::Finish);
        io.LoadFromFile(name);
        ASSERT_FALSE(io.AbortFlag);
        TPxBitmap* image = io.GetCurrentBitmap();
        EXPECT_EQ(image->GetWidth(), own.Width);
        EXPECT_EQ(image->GetHeight(), own.Height);
        ASSERT_TRUE(image->HasAlphaChannel());
        EXPECT_EQ(image->GetAlpha(2, 2), 0);
        EXPECT_EQ(image->GetAlpha(image->GetWidth() / 3, image->GetHeight() / 3), 255);
        EXPECT_EQ(io.FileParams->FileFormat, name == emf ? ffEMF : ffWMF);
        EXPECT_EQ(io.FileParams->FileName, name);
        EXPECT_EQ(finish.Count, 1);
    }

    // The file import at a chosen size; a missing file raises after the
    // finish notification.
    TImgIO io(nullptr);
    TFinishCounter finish;
    io.OnFinishWork = classlib::TNotifyEvent(&finish, &TFinishCounter::Finish);
    io.ImportMetafileFromFile(emf, 60, -1, false);
    ASSERT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.GetCurrentBitmap()->GetWidth(), 60);
    EXPECT_EQ(io.GetCurrentBitmap()->GetHeight(), 30);
    EXPECT_EQ(io.FileParams->FileName, emf);
    EXPECT_EQ(finish.Count, 1);
    EXPECT_ANY_THROW(io.ImportMetafileFromFile(dir.File(L"missing.emf"), -1, -1, true));
    EXPECT_EQ(finish.Count, 2);
}

// tests/fixtures/io/wmf/make_fixtures.py: a window extent of no height is a
// damaged record, refused rather than played as a picture of nothing (the
// background alone); its sound twin shows its red rectangle.
TEST_F(MetafileImport, WindowExtentOfNoHeightIsRefused)
{
    const std::wstring dir = testsupport::FixtureDir(L"io") + L"\\wmf\\";
    TImgIO sound(nullptr);
    sound.LoadFromFile(dir + L"extent-sound.wmf");
    ASSERT_FALSE(sound.AbortFlag);
    TPxBitmap* image = sound.GetCurrentBitmap();
    ASSERT_GT(image->GetWidth(), 2);
    // TPxRGB holds blue, green, red.
    EXPECT_EQ(image->GetPixelAsRGB(image->GetWidth() / 2, image->GetHeight() / 2), (TPxRGB{40, 40, 200}));

    TImgIO damaged(nullptr);
    EXPECT_THROW(damaged.LoadFromFile(dir + L"extent-zero.wmf"), classlib::EInvalidGraphic);
}

}  // namespace
