// GIF reader: decodes of files written by ImageMagick and gifsicle checked
// against ImageMagick's own decode, the frame and parameter bookkeeping of
// multi-frame files, the parameters-only read, and damaged or hostile input
// (each fails cleanly). Frame deletion and counting on copies of a fixture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "classlib/StringList.h"
#include "imaging/io/formats/gif/GifLzw.h"
#include "GifTestFiles.h"

using namespace giftest;

namespace {

class GifReader : public testing::Test {
protected:
    void SetUp() override { InstallGif(); }
};

TEST_F(GifReader, DecodesForeignFiles)
{
    struct TCase {
        const char* File;
        const char* Version;
        int Width, Height, Bits;
        TPxPixelFormat Format;
        bool Interlaced, Transparent;
    };
    const TCase cases[] = {
        {"plain", "GIF89a", 13, 11, 3, px24RGB, false, false}, {"inter", "GIF87a", 13, 11, 3, px24RGB, true, false},
        {"trans", "GIF89a", 10, 6, 3, px24RGB, false, true},   {"bw9", "GIF87a", 9, 3, 1, px1g, false, false},
        {"noise", "GIF89a", 80, 60, 8, px24RGB, false, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.File);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        TReadResult r = ReadGif(LoadBytes(std::string(c.File) + ".gif"), bitmap, params);
        ASSERT_FALSE(r.Aborted);
        EXPECT_EQ(r.Frames, 1);
        EXPECT_EQ(params.GIFImageCount, 1);
        EXPECT_EQ(bitmap.GetPixelFormat(), c.Format);
        ASSERT_EQ(bitmap.GetWidth(), c.Width);
        ASSERT_EQ(bitmap.GetHeight(), c.Height);
        EXPECT_EQ(params.Width, c.Width);
        EXPECT_EQ(params.BitsPerSample, c.Bits);
        EXPECT_EQ(params.ColorMapCount, 1 << c.Bits);
        EXPECT_EQ(params.SamplesPerPixel, 1);
        EXPECT_EQ(params.GIFInterlaced, c.Interlaced);
        EXPECT_EQ(params.GIFTransparent, c.Transparent);
        EXPECT_EQ(r.Mask != nullptr, c.Transparent);
        EXPECT_EQ(params.GIFVersion, c.Version);
        EXPECT_EQ(r.Percents, (std::vector<int>{0, 30, 70, 100}));
        ExpectPixels(bitmap, LoadBytes(std::string(c.File) + ".rgba"), r.Mask.get(), false);
    }
}

TEST_F(GifReader, PixelFormatOfTheFrame)
{
    {
        // With NativePixelFormat a colour frame keeps its indexes and table.
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        params.NativePixelFormat = true;
        TReadResult r = ReadGif(LoadBytes("plain.gif"), bitmap, params);
        ASSERT_FALSE(r.Aborted);
        EXPECT_EQ(bitmap.GetPixelFormat(), px8p);
        EXPECT_EQ(bitmap.PaletteCapacity, 8);
        ExpectPixels(bitmap, LoadBytes("plain.rgba"), nullptr, false);
    }
    {
        // Two colours white then black make a colour frame, not px1g.
        std::vector<uint8_t> bytes = LoadBytes("bw9.gif");
        ASSERT_EQ(bytes[13], 0);
        ASSERT_EQ(bytes[16], 255);
        for (int i = 13; i < 19; ++i)
            bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(255 - bytes[static_cast<size_t>(i)]);
        std::vector<uint8_t> inverted = LoadBytes("bw9.rgba");
        for (size_t i = 0; i < inverted.size(); ++i)
            if (i % 4 != 3)
                inverted[i] = static_cast<uint8_t>(255 - inverted[i]);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        ASSERT_FALSE(ReadGif(bytes, bitmap, params).Aborted);
        EXPECT_EQ(bitmap.GetPixelFormat(), px24RGB);
        ExpectPixels(bitmap, inverted, nullptr, false);
    }
}

TEST_F(GifReader, ChosenFrameOfAnAnimation)
{
    const std::vector<uint8_t> anim = LoadBytes("anim.gif");
    {
        // Frame 1: its own extension only (delay 20, disposal 2), its local
        // table of four entries, its position; every frame counted.
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        params.SetImageIndex(1);
        TReadResult r = ReadGif(anim, bitmap, params);
        ASSERT_FALSE(r.Aborted);
        EXPECT_EQ(r.Frames, 3);
        EXPECT_EQ(params.GIFImageCount, 3);
        EXPECT_EQ(params.GIFDelayTime, 20);
        EXPECT_EQ(params.GIFAction, 2);
        EXPECT_FALSE(params.GIFTransparent);
        EXPECT_EQ(params.GIFXPos, 3);
        EXPECT_EQ(params.GIFYPos, 2);
        EXPECT_EQ(params.GIFWinWidth, 12);
        EXPECT_EQ(params.GIFWinHeight, 10);
        EXPECT_EQ(params.BitsPerSample, 2);
        EXPECT_EQ(params.ColorMapCount, 4);
        EXPECT_EQ(bitmap.GetPixelFormat(), px24RGB);
        ASSERT_EQ(params.GIFComments->GetCount(), 1);
        EXPECT_EQ(params.GIFComments->GetStrings(0), L"second frame");
        const TPxRGB bg = params.GIFBackground;  // global entry 0
        EXPECT_EQ((std::vector<int>{bg.r, bg.g, bg.b}), (std::vector<int>{0xC8, 0x28, 0x28}));
        ExpectPixels(bitmap, LoadBytes("anim-stored1.rgba"), nullptr, false);
    }
    {
        // Frames 0 and 2 keep their own delays and disposals.
        TIOParamsVals params(nullptr);
        TPxBitmap bitmap;
        params.SetImageIndex(2);
        ASSERT_FALSE(ReadGif(anim, bitmap, params).Aborted);
        EXPECT_EQ(params.GIFDelayTime, 30);
        EXPECT_EQ(params.GIFAction, 1);
        EXPECT_EQ(bitmap.GetWidth(), 4);
    }
    {
        // An index past the last frame decodes nothing.
        TIOParamsVals params(nullptr);
        TPxBitmap bitmap;
        params.SetImageIndex(7);
        TReadResult r = ReadGif(anim, bitmap, params);
        EXPECT_FALSE(r.Aborted);
        EXPECT_EQ(r.Frames, 3);
        EXPECT_TRUE(bitmap.IsEmpty());
        EXPECT_EQ(params.GIFDelayTime, 0);
        EXPECT_EQ(params.GIFWinWidth, 12);
    }
    {
        // Parameters only: table and size set, nothing decoded, read to the end.
        TIOParamsVals params(nullptr);
        TPxBitmap bitmap;
        params.SetImageIndex(1);
        TReadResult r = ReadGif(anim, bitmap, params, true, true);
        EXPECT_FALSE(r.Aborted);
        EXPECT_EQ(r.Frames, 3);
        EXPECT_TRUE(bitmap.IsEmpty());
        EXPECT_EQ(params.Width, 5);
        EXPECT_EQ(params.ColorMapCount, 4);
        EXPECT_EQ(r.Percents, (std::vector<int>{0, 30, 100}));
    }
}

// A one-frame GIF: 3 x 2, global table black, red, green, blue; pixel
// indexes 0, 1, 2 then 1, 1, 2 (blue unused); with an optional graphic control extension
// (transparent index) in front of the descriptor.
std::vector<uint8_t> SmallGif(int TransparentIndex)
{
    std::vector<uint8_t> g = {'G', 'I', 'F', '8', '9', 'a', 3, 0, 2, 0, 0x81, 0, 0,
                              0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255};
    if (TransparentIndex >= 0)
        g.insert(g.end(), {0x21, 0xF9, 4, 1, 0, 0, static_cast<uint8_t>(TransparentIndex), 0});
    g.insert(g.end(), {0x2C, 0, 0, 0, 0, 3, 0, 2, 0, 0});
    classlib::TMemoryStream m;
    const uint8_t pixels[6] = {0, 1, 2, 1, 1, 2};
    PxGIFLZWCompress(&m, 2, 3, false, pixels, 2);
    const std::vector<uint8_t> data = StreamBytes(m);
    g.insert(g.end(), data.begin(), data.end());
    g.push_back(0x3B);
    return g;
}

TEST_F(GifReader, TransparencyMask)
{
    {
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        TReadResult r = ReadGif(SmallGif(2), bitmap, params);
        ASSERT_FALSE(r.Aborted);
        ASSERT_TRUE(r.Mask);
        EXPECT_EQ(r.Mask->GetScanline(0)[2], 0);
        EXPECT_EQ(r.Mask->GetScanline(1)[2], 0);
        EXPECT_EQ(r.Mask->GetScanline(0)[1], 255);
        const TPxRGB t = params.GIFTransparentColor;
        EXPECT_EQ((std::vector<int>{t.r, t.g, t.b}), (std::vector<int>{0, 255, 0}));
    }
    {
        // Transparent index used by no pixel: no mask; NoMask: none either.
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        TReadResult unused = ReadGif(SmallGif(3), bitmap, params);
        EXPECT_FALSE(unused.Aborted);
        EXPECT_TRUE(params.GIFTransparent);
        EXPECT_FALSE(unused.Mask);
        EXPECT_FALSE(ReadGif(SmallGif(2), bitmap, params, false, true).Mask);
    }
}

TEST_F(GifReader, DamagedAndHostileInputFailsCleanly)
{
    const std::vector<uint8_t> good = SmallGif(-1);
    auto with = [&](size_t At, std::initializer_list<uint8_t> Bytes) {
        std::vector<uint8_t> g = good;
        size_t i = At;
        for (uint8_t b : Bytes)
            g.at(i++) = b;
        return g;
    };
    const size_t desc = 25;  // the descriptor's 0x2C
    std::vector<uint8_t> noData(good.begin(), good.begin() + desc + 11);
    noData.insert(noData.end(), {0, 0x3B});
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Bytes;
        bool Aborts;
    };
    const TCase cases[] = {
        {"not a GIF", {'P', 'N', 'G', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B}, true},
        {"empty", {}, true},
        {"header only", std::vector<uint8_t>(good.begin(), good.begin() + 13), true},
        {"65535 x 65535 frame in a tiny file", with(desc + 5, {0xFF, 0xFF, 0xFF, 0xFF}), true},
        {"code size 12", with(desc + 10, {12}), true},
        {"code size 0", with(desc + 10, {0}), true},
        // No frame at all: a failure, not an empty image.
        {"cut inside the descriptor", std::vector<uint8_t>(good.begin(), good.begin() + desc + 4), true},
        {"cut inside the data", std::vector<uint8_t>(good.begin(), good.end() - 3), false},
        {"local table of 256 entries that eats the data", with(desc + 9, {0x87}), true},
        {"zero-size frame", with(desc + 5, {0, 0, 0, 0}), true},
        {"no data blocks after the code size", noData, true},
        {"global table claimed, file ends in it", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x87, 0, 0, 1, 2}, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        TReadResult r = ReadGif(c.Bytes, bitmap, params);
        EXPECT_EQ(r.Aborted, c.Aborts);
    }

    // A truncated ImageMagick file: short data are no failure; the rows the
    // data reach are right.
    TPxBitmap bitmap;
    TIOParamsVals params(nullptr);
    TReadResult r = ReadGif(LoadBytes("truncated.gif"), bitmap, params);
    EXPECT_FALSE(r.Aborted);
    EXPECT_EQ(r.Frames, 1);
    ASSERT_EQ(bitmap.GetWidth(), 80);
    const std::vector<uint8_t> ref = LoadBytes("noise.rgba");
    for (int x = 0; x < 80; ++x) {
        const TPxRGB c = bitmap.GetPixelRGB(x, 0);
        EXPECT_EQ(c.r, ref[static_cast<size_t>(x) * 4]);
        EXPECT_EQ(c.b, ref[static_cast<size_t>(x) * 4 + 2]);
    }

    // No decoder anywhere: the frame cannot be read.
    TPxGIFLZWDecompressProc saved = PxGlobalGIFLZWDecompress;
    PxGlobalGIFLZWDecompress = nullptr;
    TIOParamsVals noDecoder(nullptr);
    noDecoder.GIFLZWDecompress = nullptr;
    TPxBitmap empty;
    EXPECT_TRUE(ReadGif(good, empty, noDecoder).Aborted);
    PxGlobalGIFLZWDecompress = saved;
}

TEST_F(GifReader, DeleteAndCountFrames)
{
    testsupport::TempDir dir;
    auto copyOf = [&](const std::string& Name, const std::wstring& As) {
        const std::vector<uint8_t> bytes = LoadBytes(Name);
        classlib::TMemoryStream m;
        SetBytes(m, bytes);
        classlib::TFileStream f(dir.File(As), classlib::fmCreate);
        f.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
        return dir.File(As);
    };
    auto fileBytes = [](const std::wstring& Path) {
        classlib::TMemoryStream m;
        m.LoadFromFile(Path);
        return StreamBytes(m);
    };

    const std::wstring anim = copyOf("anim.gif", L"anim.gif");
    EXPECT_EQ(PxCountGIFFramesInFile(anim), 3);
    EXPECT_EQ(PxDeleteGIFFrame(anim, 1, false), 2);
    EXPECT_EQ(fileBytes(anim), LoadBytes("anim.gif"));  // not saved

    // Frame 1 goes with its extension; its comment stays.
    EXPECT_EQ(PxDeleteGIFFrame(anim, 1, true), 2);
    const std::vector<uint8_t> after = fileBytes(anim);
    EXPECT_EQ(std::string(after.begin(), after.begin() + 6), "GIF89a");
    TIOParamsVals params(nullptr);
    TPxBitmap bitmap;
    params.SetImageIndex(1);
    TReadResult r = ReadGif(after, bitmap, params);
    EXPECT_FALSE(r.Aborted);
    EXPECT_EQ(r.Frames, 2);
    EXPECT_EQ(params.GIFDelayTime, 30);  // the former frame 2
    EXPECT_EQ(bitmap.GetWidth(), 4);
    ASSERT_EQ(params.GIFComments->GetCount(), 1);
    EXPECT_EQ(params.GIFComments->GetStrings(0), L"second frame");

    // A file whose data end inside a frame is not replaced; a file that is
    // not a GIF counts 0; a missing file raises (the counter says 0).
    const std::wstring cut = copyOf("truncated.gif", L"cut.gif");
    PxDeleteGIFFrame(cut, 5, true);
    EXPECT_EQ(fileBytes(cut), LoadBytes("truncated.gif"));
    const std::wstring other = copyOf("noise.rgba", L"other.gif");
    EXPECT_EQ(PxDeleteGIFFrame(other, 0, true), 0);
    EXPECT_EQ(fileBytes(other), LoadBytes("noise.rgba"));
    EXPECT_THROW(PxDeleteGIFFrame(dir.File(L"missing.gif"), -1, false), classlib::Exception);
    EXPECT_EQ(PxCountGIFFramesInFile(dir.File(L"missing.gif")), 0);
}

}  // namespace
