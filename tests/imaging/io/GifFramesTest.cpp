// GIF frame composition (the registry's GIF reader): frames of an
// ImageMagick animation replayed onto the logical screen and checked against
// ImageMagick's own coalesced frames; single-frame files; indexes past the
// end and negative; a frame larger than the screen; and the road through the
// I/O object (load and save by file name).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/StringList.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/formats/gif/GifLzw.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "GifTestFiles.h"

using namespace giftest;

namespace {

class GifFrames : public testing::Test {
protected:
    void SetUp() override { InstallGif(); }
};

TEST_F(GifFrames, AnimationFramesAsShown)
{
    const std::vector<uint8_t> anim = LoadBytes("anim.gif");
    // index, reference; past the end and negative give the last frame
    const std::pair<int, const char*> cases[] = {
        {0, "anim-0.rgba"}, {1, "anim-1.rgba"}, {2, "anim-2.rgba"}, {9, "anim-2.rgba"}, {-1, "anim-2.rgba"}};
    for (auto [index, reference] : cases) {
        SCOPED_TRACE(index);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        params.SetImageIndex(index);
        TReadResult r = ReadComposed(anim, bitmap, params);
        ASSERT_FALSE(r.Aborted);
        EXPECT_EQ(r.Frames, 3);
        EXPECT_EQ(params.GIFImageIndex, index);
        EXPECT_EQ(params.GIFXPos, 0);
        EXPECT_EQ(params.GIFYPos, 0);
        EXPECT_EQ(params.GIFAction, 2);
        EXPECT_EQ(params.GIFComments->GetCount(), 1);  // once, though every pass reads it
        ASSERT_EQ(bitmap.GetWidth(), 12);
        ASSERT_EQ(bitmap.GetHeight(), 10);
        EXPECT_EQ(bitmap.GetPixelFormat(), px24RGB);
        ExpectPixels(bitmap, LoadBytes(reference), nullptr, true);
    }
}

TEST_F(GifFrames, SingleFrameIsReturnedAsStored)
{
    TPxBitmap bitmap;
    TIOParamsVals params(nullptr);
    TReadResult r = ReadComposed(LoadBytes("trans.gif"), bitmap, params);
    ASSERT_FALSE(r.Aborted);
    EXPECT_EQ(r.Frames, 1);
    EXPECT_EQ(bitmap.GetWidth(), 10);
    ASSERT_TRUE(bitmap.HasAlphaChannel());
    ExpectPixels(bitmap, LoadBytes("trans.rgba"), nullptr, true);

    TPxBitmap bw;
    ASSERT_FALSE(ReadComposed(LoadBytes("bw9.gif"), bw, params).Aborted);
    EXPECT_EQ(bw.GetPixelFormat(), px1g);
    EXPECT_FALSE(bw.HasAlphaChannel());
}

// Two frames on a 2 x 2 screen: a 2 x 2 red frame, then a 3 x 3 blue frame
// at (1, 1) with a global table (red, blue) and background index 1.
std::vector<uint8_t> GrowingAnimation()
{
    std::vector<uint8_t> g = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0x80, 1, 0, 255, 0, 0, 0, 0, 255};
    auto frame = [&](int Left, int Top, int Size, uint8_t Index) {
        g.insert(g.end(), {0x2C, static_cast<uint8_t>(Left), 0, static_cast<uint8_t>(Top), 0,
                           static_cast<uint8_t>(Size), 0, static_cast<uint8_t>(Size), 0, 0});
        std::vector<uint8_t> pixels(static_cast<size_t>(Size * Size), Index);
        classlib::TMemoryStream m;
        PxGIFLZWCompress(&m, Size, Size, false, pixels.data(), 1);
        const std::vector<uint8_t> data = StreamBytes(m);
        g.insert(g.end(), data.begin(), data.end());
    };
    frame(0, 0, 2, 0);
    frame(1, 1, 3, 1);
    g.push_back(0x3B);
    return g;
}

TEST_F(GifFrames, FrameLargerThanTheScreenGrowsTheCanvas)
{
    TPxBitmap bitmap;
    TIOParamsVals params(nullptr);
    params.SetImageIndex(1);
    TReadResult r = ReadComposed(GrowingAnimation(), bitmap, params);
    ASSERT_FALSE(r.Aborted);
    EXPECT_EQ(r.Frames, 2);
    ASSERT_EQ(bitmap.GetWidth(), 3);
    ASSERT_EQ(bitmap.GetHeight(), 3);
    const TPxRGB red = bitmap.GetPixelRGB(0, 0);
    EXPECT_EQ((std::vector<int>{red.r, red.g, red.b}), (std::vector<int>{255, 0, 0}));
    const TPxRGB blue = bitmap.GetPixelRGB(2, 2);  // the second frame, clipped
    EXPECT_EQ((std::vector<int>{blue.r, blue.g, blue.b}), (std::vector<int>{0, 0, 255}));
    EXPECT_EQ(bitmap.GetAlpha(2, 2), 255);
    EXPECT_EQ(bitmap.GetAlpha(0, 0), 255);
}

TEST_F(GifFrames, LoadAndSaveThroughTheIOObject)
{
    if (!PxFormatRegistryExists())
        PxBuildFormatRegistry();
    PxInstallGIFFormat();
    ASSERT_TRUE(PxFormatInfoById(ffGIF)->Reader);
    ASSERT_TRUE(PxFormatInfoById(ffGIF)->Writer);

    testsupport::TempDir dir;
    TImgIO io(nullptr);
    io.FileParams->SetImageIndex(1);
    EXPECT_EQ(io.LoadGIFFromFile(FixturePath("anim.gif")), 3);
    ASSERT_FALSE(io.AbortFlag);
    ExpectPixels(*io.GetCurrentBitmap(), LoadBytes("anim-1.rgba"), nullptr, true);
    EXPECT_EQ(io.FileParams->FileFormat, ffGIF);

    // Saved by extension and loaded again by content.
    const std::wstring out = dir.File(L"copy.gif");
    io.FileParams->BitsPerSample = 8;
    io.SaveToFile(out);
    ASSERT_FALSE(io.AbortFlag);
    TImgIO again(nullptr);
    again.LoadFromFileAuto(out);
    ASSERT_FALSE(again.AbortFlag);
    ExpectPixels(*again.GetCurrentBitmap(), LoadBytes("anim-1.rgba"), nullptr, true);

    // The object's background becomes the file's transparent colour, or its
    // background colour when it has none.
    for (const char* name : {"trans.gif", "plain.gif"}) {
        TImgIO colours(nullptr);
        colours.SetBackground(0x00123456);
        colours.LoadFromFile(FixturePath(name));
        ASSERT_FALSE(colours.AbortFlag);
        const TIOParamsVals& p = *colours.FileParams;
        const TPxRGB c = p.GIFTransparent ? p.GIFTransparentColor : p.GIFBackground;
        EXPECT_EQ(colours.GetBackground(), classlib::TColor(c.r | c.g << 8 | c.b << 16)) << name;
    }

    // Without the LZW hooks the row has neither reader nor writer.
    TPxGIFLZWDecompressProc decoder = PxGlobalGIFLZWDecompress;
    PxGlobalGIFLZWDecompress = nullptr;
    PxSyncGIFFormatRow();
    EXPECT_FALSE(PxFormatInfoById(ffGIF)->Reader);
    EXPECT_TRUE(PxFormatInfoById(ffGIF)->Writer);
    PxGlobalGIFLZWDecompress = decoder;
    PxSyncGIFFormatRow();
    EXPECT_TRUE(PxFormatInfoById(ffGIF)->Reader);
}

}  // namespace
