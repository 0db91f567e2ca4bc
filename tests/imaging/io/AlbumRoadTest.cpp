// The album build's road through the toolkit, end to end: a camera JPEG
// loaded through the I/O object, fitted with the fast linear
// resampler, turned by a right angle, saved as JPEG at quality 85 with its
// orientation reset, and read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/model/PxDefs.h"
#include "imaging/proc/PxResample.h"
#include "imaging/proc/PxRotate.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

TEST(AlbumRoad, LoadFitRotateSaveReload)
{
    // What the toolkit's start-up provides for this road: the grey weights
    // and the format registry.
    PxDefsInit();
    const bool hadRegistry = PxFormatRegistryExists();
    if (!hadRegistry)
        PxBuildFormatRegistry();
    testsupport::TempDir dir;
    const std::wstring out = dir.File(L"copy.jpg");
    int fittedW = 0, fittedH = 0;
    TPxBitmap turned;
    {
        TImgIO io(nullptr);
        io.LoadFromFile(testsupport::FixtureDir(L"io\\exif") + L"\\camera.jpg");
        ASSERT_FALSE(io.AbortFlag);
        TPxBitmap* image = io.GetCurrentBitmap();
        ASSERT_EQ(image->GetPixelFormat(), px24RGB);
        const int w = image->GetWidth(), h = image->GetHeight();
        ASSERT_GT(w, 0);
        EXPECT_EQ(io.FileParams->EXIFOrientation, 6);

        // Fit into an 8 x 8 box, never enlarging, keeping the aspect ratio.
        const double scale = std::min({8.0 / w, 8.0 / h, 1.0});
        fittedW = std::max(1, static_cast<int>(w * scale));
        fittedH = std::max(1, static_cast<int>(h * scale));
        TPxBitmap fitted(fittedW, fittedH, px24RGB);
        PxResampleBitmap(image, &fitted, rfFastLinear);
        PxRotateImage(&fitted, 90, false, 0, 0, nullptr, TPxProgressEvent());
        ASSERT_EQ(fitted.GetWidth(), fittedH);
        ASSERT_EQ(fitted.GetHeight(), fittedW);
        turned.Assign(&fitted);

        image->Assign(&fitted);
        io.FileParams->JPEGQuality = 85;
        io.FileParams->SetEXIFOrientation(1);
        io.SaveToFile(out);
        ASSERT_FALSE(io.AbortFlag);
    }
    {
        TImgIO io(nullptr);
        io.LoadFromFile(out);
        ASSERT_FALSE(io.AbortFlag);
        TPxBitmap* back = io.GetCurrentBitmap();
        ASSERT_EQ(back->GetWidth(), fittedH);
        ASSERT_EQ(back->GetHeight(), fittedW);
        EXPECT_TRUE(io.FileParams->HasEXIF);
        EXPECT_EQ(io.FileParams->EXIFOrientation, 1);
        // Lossy, but close to what was saved.
        long total = 0;
        for (int y = 0; y < back->GetHeight(); ++y)
            for (int x = 0; x < back->GetWidth(); ++x) {
                const TPxRGB a = back->GetPixelRGB(x, y), b = turned.GetPixelRGB(x, y);
                total += std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
            }
        EXPECT_LT(static_cast<double>(total) / (3.0 * back->GetWidth() * back->GetHeight()), 12.0);
    }
    if (!hadRegistry)
        PxFreeFormatRegistry();
}

// A file's bytes handed to the I/O object serve the content detection, the
// parameters and the load of that file without opening it (the file is
// gone): the picture is the one a load of the file gives; the extension is
// still checked against the content; once forgotten, the name is a file
// again.
TEST(AlbumRoad, FileBytesServeDetectionParametersAndLoad)
{
    const bool hadRegistry = PxFormatRegistryExists();
    if (!hadRegistry)
        PxBuildFormatRegistry();
    struct Case {
        const wchar_t* Fixture;
        const wchar_t* Name;  // the name the bytes are given under
        int32_t Format;       // what the detection says (0: content and extension differ)
    };
    const Case cases[] = {
        {L"jpeg.jpg", L"a.jpg", ffJPEG}, {L"png.png", L"a.png", ffPNG}, {L"tiff-le.tif", L"a.tif", ffTIFF},
        {L"bmp.bmp", L"a.bmp", ffBMP},   {L"pcx.pcx", L"a.pcx", ffPCX}, {L"png.png", L"png-named.jpg", 0},
    };
    testsupport::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Fixture) + L" as " + c.Name));
        const std::wstring source = testsupport::FixtureDir(L"io\\formats") + L"\\" + c.Fixture;
        classlib::TMemoryStream bytes;
        bytes.LoadFromFile(source);
        const std::wstring name = dir.File(c.Name);  // never created

        TImgIO io(nullptr);
        io.UseFileBytes(name, bytes.GetMemory(), bytes.GetSize());
        io.ReadParamsFromFile(name);
        EXPECT_EQ(io.FileParams->FileFormat, c.Format);
        if (c.Format == 0) continue;
        io.LoadFromFileFormat(name, c.Format);
        ASSERT_FALSE(io.AbortFlag);
        EXPECT_EQ(io.FileParams->FileName, name);
        TImgIO reference(nullptr);
        reference.LoadFromFile(source);
        ASSERT_FALSE(reference.AbortFlag);
        EXPECT_TRUE(PxCompareBitmaps(io.GetCurrentBitmap(), reference.GetCurrentBitmap()));

        io.ForgetFileBytes();
        bool failed = false;
        try {
            io.LoadFromFile(name);
            failed = io.AbortFlag;
        } catch (const classlib::Exception&) {
            failed = true;
        }
        EXPECT_TRUE(failed);
    }
    if (!hadRegistry)
        PxFreeFormatRegistry();
}

}  // namespace
