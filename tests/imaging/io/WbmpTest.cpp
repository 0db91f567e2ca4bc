// WBMP reader and writer: decodes of files written by ImageMagick
// (tests/fixtures/io/wbmp/make_fixtures.sh, expected pixels are
// ImageMagick's decodes), damaged headers, the multi-byte integers, and the
// writer's cut to 255 pixels.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/formats/wbmp/WbmpReader.h"
#include "imaging/io/formats/wbmp/WbmpWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxDefs.h"
#include "imaging/proc/PxConvert.h"
#include "support/Fixtures.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

std::vector<uint8_t> Fixture(const std::string& Name) { return testsupport::FixtureBytes(L"io\\wbmp", Name); }

bool Read(const std::vector<uint8_t>& Data, TPxBitmap& Bitmap, TIOParamsVals& Params, bool Preview = false)
{
    classlib::TMemoryStream m;
    if (!Data.empty())
        m.WriteBuffer(Data.data(), int64_t(Data.size()));
    m.SetPosition(0);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    PxReadWBMP(&m, &Bitmap, Params, Preview, progress);
    return !aborting;
}

bool Write(TPxBitmap& Bitmap, std::vector<uint8_t>& Out)
{
    classlib::TMemoryStream m;
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    PxWriteWBMP(&m, &Bitmap, progress);
    const auto* p = static_cast<const uint8_t*>(m.GetMemory());
    Out.assign(p, p + m.GetSize());
    return !aborting;
}

class WbmpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PxDefsInit();
        PxInstallPixelFormatConversion();
        PxCopyInstallServices();
        PxInstallWBMPFormat();
    }
    TIOParamsVals params{nullptr};
};

TEST_F(WbmpTest, DecodesForeignFiles)
{
    for (const char* name : {"small", "wide"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> data = Fixture(std::string(name) + ".wbmp");
        TPxBitmap b;
        ASSERT_TRUE(Read(data, b, params));
        ASSERT_EQ(b.GetPixelFormat(), px1g);
        EXPECT_EQ(params.BitsPerSample, 1);
        EXPECT_EQ(params.SamplesPerPixel, 1);
        EXPECT_EQ(params.Width, b.GetWidth());
        EXPECT_EQ(params.OriginalHeight, b.GetHeight());
        const std::vector<uint8_t> want = Fixture(std::string(name) + ".gray");
        ASSERT_EQ(want.size(), size_t(b.GetWidth()) * b.GetHeight());
        for (int y = 0; y < b.GetHeight(); ++y)
            for (int x = 0; x < b.GetWidth(); ++x)
                ASSERT_EQ(b.GetPixelAsRGB(x, y).g, want[size_t(y) * b.GetWidth() + x]) << x << "," << y;
    }
    // The wide file's header: 300 needs two bytes.
    const std::vector<uint8_t> wide = Fixture("wide.wbmp");
    EXPECT_EQ(std::vector<uint8_t>(wide.begin(), wide.begin() + 5), (std::vector<uint8_t>{0, 0, 0x82, 0x2C, 0x14}));
    EXPECT_EQ(params.Width, 300);
    EXPECT_EQ(params.Height, 20);
}

TEST_F(WbmpTest, BadHeadersAbortAndLeaveTheBitmap)
{
    const std::vector<std::vector<uint8_t>> cases = {
        {},
        {0, 0, 4},                          // cut in the header
        {1, 0, 4, 4, 0, 0, 0, 0},           // type 1
        {0, 1, 4, 4, 0, 0, 0, 0},           // fixed header 1
        {0, 0, 0, 4, 0, 0, 0, 0},           // width 0
        {0, 0, 0x81, 0x81, 0x81, 0x81, 1},  // integer of five bytes
        {0, 0, 0xBF, 0xFF, 0x7F, 0xBF, 0xFF, 0x7F, 0, 0},  // far more raster than data
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        TPxBitmap b(3, 3, px8g);
        EXPECT_FALSE(Read(cases[i], b, params));
        EXPECT_EQ(b.GetWidth(), 3);
        EXPECT_EQ(b.GetPixelFormat(), px8g);
    }
    // A short raster loads; the missing rows are black.
    TPxBitmap b;
    ASSERT_TRUE(Read({0, 0, 9, 3, 0xFF, 0x80}, b, params));
    EXPECT_EQ(b.GetPixelAsRGB(8, 0).g, 255);
    EXPECT_EQ(b.GetPixelAsRGB(0, 1).g, 0);
    // Preview fills only the parameters.
    TPxBitmap untouched(2, 2, px8g);
    ASSERT_TRUE(Read(Fixture("wide.wbmp"), untouched, params, true));
    EXPECT_EQ(params.Width, 300);
    EXPECT_EQ(untouched.GetWidth(), 2);
}

TEST_F(WbmpTest, MultiByteIntegers)
{
    const std::pair<uint32_t, std::vector<uint8_t>> cases[] = {
        {0, {0}}, {127, {0x7F}}, {128, {0x81, 0x00}}, {300, {0x82, 0x2C}}, {16384, {0x81, 0x80, 0x00}},
    };
    for (const auto& [value, bytes] : cases) {
        std::vector<uint8_t> out;
        PxAppendWBMPInteger(out, value);
        EXPECT_EQ(out, bytes) << value;
    }
}

TEST_F(WbmpTest, WriterCutsToTheTopLeftAndKeepsTheSource)
{
    // 400 x 200 bi-level: 255 x 127 from the top-left corner.
    TPxBitmap big(400, 200, px1g);
    big.Fill(0);
    big.GetScanline(0)[0] = 0x80;     // (0, 0) white
    big.GetScanline(126)[31] = 0x01;  // (255, 126): cut away
    big.GetScanline(126)[31] |= 0x02;  // (254, 126): kept
    std::vector<uint8_t> out;
    ASSERT_TRUE(Write(big, out));
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 5), (std::vector<uint8_t>{0, 0, 0x81, 0x7F, 0x7F}));
    EXPECT_EQ(big.GetWidth(), 400);
    TPxBitmap back;
    ASSERT_TRUE(Read(out, back, params));
    ASSERT_EQ(back.GetWidth(), 255);
    ASSERT_EQ(back.GetHeight(), 127);
    EXPECT_EQ(back.GetPixelAsRGB(0, 0).g, 255);
    EXPECT_EQ(back.GetPixelAsRGB(254, 126).g, 255);
    EXPECT_EQ(back.GetPixelAsRGB(253, 126).g, 0);

    // Taller than wide, and a colour source converted on a copy: white top
    // half, black bottom half.
    TPxBitmap tall(20, 300, px24RGB);
    tall.Fill(0);
    tall.FillRect(0, 0, 19, 149, 0xFFFFFF);
    ASSERT_TRUE(Write(tall, out));
    EXPECT_EQ(tall.GetPixelFormat(), px24RGB);
    ASSERT_TRUE(Read(out, back, params));
    EXPECT_EQ(back.GetWidth(), 20 * 255 / 300);
    EXPECT_EQ(back.GetHeight(), 255);
    EXPECT_EQ(back.GetPixelAsRGB(16, 149).g, 255);
    EXPECT_EQ(back.GetPixelAsRGB(16, 150).g, 0);

    // A long thin image keeps at least one row; an empty one is refused.
    TPxBitmap thin(1000, 1, px1g);
    thin.Fill(1);
    ASSERT_TRUE(Write(thin, out));
    ASSERT_TRUE(Read(out, back, params));
    EXPECT_EQ(back.GetHeight(), 1);
    TPxBitmap empty;
    EXPECT_FALSE(Write(empty, out));
    EXPECT_TRUE(out.empty());
}

TEST_F(WbmpTest, LoadsAndSavesThroughTheIOObject)
{
    const bool existed = PxFormatRegistryExists();
    if (!existed)
        PxBuildFormatRegistry();
    PxInstallWBMPFormat();
    {
        TPxBitmap src(10, 3, px1g);
        src.Fill(0);
        src.GetScanline(1)[1] = 0xC0;
        auto io = TImgIO::CreateForBitmap(&src);
        classlib::TMemoryStream m;
        io->SaveWBMPToStream(&m);
        ASSERT_FALSE(io->AbortFlag);
        TPxBitmap back;
        auto in = TImgIO::CreateForBitmap(&back);
        m.SetPosition(0);
        in->LoadWBMPFromStream(&m);
        ASSERT_FALSE(in->AbortFlag);
        ASSERT_EQ(back.GetWidth(), 10);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 10; ++x)
                EXPECT_EQ(back.GetPixelAsRGB(x, y), src.GetPixelAsRGB(x, y)) << x << "," << y;
        EXPECT_EQ(in->FileParams->FileFormat, ffWBMP);
    }
    if (!existed)
        PxFreeFormatRegistry();
}

}  // namespace
