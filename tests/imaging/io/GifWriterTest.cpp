// GIF writer: the stream layout it emits, write-then-read round trips of
// every colour depth and source format, transparency from the alpha
// channel, black-and-white output, comments, and the failure paths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/StringList.h"
#include "GifTestFiles.h"

using namespace giftest;

namespace {

class GifWriter : public testing::Test {
protected:
    void SetUp() override { InstallGif(); }
};

TPxRGB Colour(int i)
{
    return TPxRGB{static_cast<uint8_t>(i * 37), static_cast<uint8_t>(255 - i * 11), static_cast<uint8_t>(i * 90)};
}

// A px24RGB image using Colours distinct colours.
void Pattern(TPxBitmap& b, int Width, int Height, int Colours)
{
    ASSERT_TRUE(b.Allocate(Width, Height, px24RGB));
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            b.SetPixelRGB(x, y, Colour((x * 7 + y * 3) % Colours));
}

bool SameRGB(const TPxRGB& a, const TPxRGB& b)
{
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

TEST_F(GifWriter, RoundTripsThroughTheReader)
{
    struct TCase {
        int Bits, Colours, Width, Height;
        bool Interlaced;
    };
    const TCase cases[] = {{2, 4, 5, 3, false}, {4, 16, 17, 9, true}, {8, 200, 40, 30, false},
                           {8, 256, 64, 20, true}, {3, 5, 2, 2, true}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "bits " << c.Bits << " colours " << c.Colours);
        TPxBitmap image;
        Pattern(image, c.Width, c.Height, c.Colours);
        TIOParamsVals params(nullptr);
        params.BitsPerSample = c.Bits;
        params.GIFInterlaced = c.Interlaced;
        params.GIFDelayTime = 25;
        params.GIFAction = 3;
        params.GIFXPos = 7;
        classlib::TMemoryStream m;
        std::vector<int> percents;
        ASSERT_FALSE(WriteGif(m, image, params, &percents));
        EXPECT_EQ(percents, (std::vector<int>{0, 30, 70, 100}));
        const std::vector<uint8_t> bytes = StreamBytes(m);
        ASSERT_GT(bytes.size(), 13u);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF89a");
        EXPECT_EQ(bytes[10], ((c.Bits - 1) | ((c.Bits - 1) << 4) | 0x80));
        EXPECT_EQ(bytes[12], 0);
        EXPECT_EQ(bytes.back(), 0x3B);
        // graphic control extension right after the table
        const size_t gce = 13 + 3 * (size_t{1} << c.Bits);
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + gce, bytes.begin() + gce + 4),
                  (std::vector<uint8_t>{0x21, 0xF9, 4, 3 << 2}));

        TPxBitmap back;
        TIOParamsVals read(nullptr);
        ASSERT_FALSE(ReadGif(bytes, back, read).Aborted);
        EXPECT_EQ(read.GIFInterlaced, c.Interlaced);
        EXPECT_EQ(read.GIFDelayTime, 25);
        EXPECT_EQ(read.GIFAction, 3);
        EXPECT_EQ(read.GIFXPos, 7);
        EXPECT_EQ(read.BitsPerSample, c.Bits);
        ASSERT_EQ(back.GetWidth(), c.Width);
        ASSERT_EQ(back.GetHeight(), c.Height);
        int bad = 0;
        for (int y = 0; y < c.Height; ++y)
            for (int x = 0; x < c.Width; ++x)
                bad += !SameRGB(back.GetPixelRGB(x, y), image.GetPixelRGB(x, y));
        EXPECT_EQ(bad, 0);
    }
}

TEST_F(GifWriter, OtherSourceFormats)
{
    {
        // A palette image keeps its indexes and palette.
        TPxBitmap image;
        ASSERT_TRUE(image.Allocate(6, 4, px8p));
        for (int i = 0; i < 16; ++i)
            image.SetPaletteEntry(i, Colour(i));
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                image.GetScanline(y)[x] = static_cast<uint8_t>((x + y * 6) % 16);
        TIOParamsVals params(nullptr);
        params.BitsPerSample = 4;
        classlib::TMemoryStream m;
        ASSERT_FALSE(WriteGif(m, image, params));
        TPxBitmap back;
        TIOParamsVals read(nullptr);
        read.NativePixelFormat = true;
        ASSERT_FALSE(ReadGif(StreamBytes(m), back, read).Aborted);
        ASSERT_EQ(back.GetPixelFormat(), px8p);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                EXPECT_TRUE(SameRGB(back.GetPixelAsRGB(x, y), image.GetPixelAsRGB(x, y)));
    }
    {
        // A grey image of 256 levels at 8 bits comes back exactly; the
        // source is not changed.
        TPxBitmap image;
        ASSERT_TRUE(image.Allocate(16, 16, px8g));
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                image.GetScanline(y)[x] = static_cast<uint8_t>(y * 16 + x);
        TIOParamsVals params(nullptr);
        params.BitsPerSample = 8;
        classlib::TMemoryStream m;
        ASSERT_FALSE(WriteGif(m, image, params));
        EXPECT_EQ(image.GetPixelFormat(), px8g);
        TPxBitmap back;
        TIOParamsVals read(nullptr);
        ASSERT_FALSE(ReadGif(StreamBytes(m), back, read).Aborted);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                ASSERT_EQ(back.GetPixelRGB(x, y).g, y * 16 + x);
    }
}

TEST_F(GifWriter, AlphaChannelBecomesTheTransparentEntry)
{
    TPxBitmap image;
    Pattern(image, 9, 7, 255);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            image.SetAlpha(x, y, (x + y) % 4 == 0 ? 0 : ((x == 1 && y == 1) ? 254 : 255));
    TIOParamsVals params(nullptr);
    params.BitsPerSample = 8;
    classlib::TMemoryStream m;
    ASSERT_FALSE(WriteGif(m, image, params));
    EXPECT_TRUE(params.GIFTransparent);
    const std::vector<uint8_t> bytes = StreamBytes(m);
    EXPECT_EQ(bytes[10] & 7, 7);  // 256 entries
    const size_t gce = 13 + 768;
    EXPECT_EQ(bytes[gce + 3] & 1, 1);
    EXPECT_EQ(bytes[gce + 6], 255);

    TPxBitmap back;
    TIOParamsVals read(nullptr);
    TReadResult r = ReadGif(bytes, back, read);
    ASSERT_FALSE(r.Aborted);
    ASSERT_TRUE(r.Mask);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
            const bool transparent = image.GetAlpha(x, y) != 255;
            EXPECT_EQ(r.Mask->GetScanline(y)[x], transparent ? 0 : 255) << x << "," << y;
            if (!transparent) {
                EXPECT_TRUE(SameRGB(back.GetPixelRGB(x, y), image.GetPixelRGB(x, y))) << x << "," << y;
            }
        }
}

TEST_F(GifWriter, BlackAndWhiteOutput)
{
    // Red and blue at one bit: blue (darker) black, red white.
    TPxRGB kRed{}, kBlue{};
    kRed.r = 255;
    kBlue.b = 255;
    TPxBitmap image;
    ASSERT_TRUE(image.Allocate(9, 2, px24RGB));
    for (int x = 0; x < 9; ++x) {
        image.SetPixelRGB(x, 0, x % 2 ? kRed : kBlue);
        image.SetPixelRGB(x, 1, kBlue);
    }
    TIOParamsVals params(nullptr);
    params.BitsPerSample = 1;
    classlib::TMemoryStream m;
    ASSERT_FALSE(WriteGif(m, image, params));
    TPxBitmap back;
    TIOParamsVals read(nullptr);
    ASSERT_FALSE(ReadGif(StreamBytes(m), back, read).Aborted);
    ASSERT_EQ(back.GetPixelFormat(), px1g);
    for (int x = 0; x < 9; ++x) {
        EXPECT_EQ(back.GetPixelAsRGB(x, 0).r, x % 2 ? 255 : 0) << x;
        EXPECT_EQ(back.GetPixelAsRGB(x, 1).r, 0);
    }

    // With an alpha channel: two bits, black, white and the transparent entry.
    image.SetAlpha(0, 1, 0);
    TIOParamsVals withAlpha(nullptr);
    withAlpha.BitsPerSample = 1;
    TIOParamsVals read2(nullptr);
    TPxBitmap back2;
    m.SetSize(0);
    ASSERT_FALSE(WriteGif(m, image, withAlpha));
    TReadResult r = ReadGif(StreamBytes(m), back2, read2);
    ASSERT_FALSE(r.Aborted);
    EXPECT_EQ(read2.BitsPerSample, 2);
    ASSERT_TRUE(r.Mask);
    EXPECT_EQ(r.Mask->GetScanline(1)[0], 0);
    EXPECT_EQ(r.Mask->GetScanline(1)[1], 255);
    EXPECT_EQ(back2.GetPixelAsRGB(1, 0).r, 255);  // red: white
    EXPECT_EQ(back2.GetPixelAsRGB(2, 0).r, 0);    // blue: black
}

TEST_F(GifWriter, CommentExtension)
{
    TPxBitmap image;
    Pattern(image, 3, 3, 4);
    auto tail = [&](TIOParamsVals& Params) {
        classlib::TMemoryStream m;
        EXPECT_FALSE(WriteGif(m, image, Params));
        const std::vector<uint8_t> bytes = StreamBytes(m);
        // the comment extension is the last block before the trailer
        size_t at = bytes.size() - 1;
        while (at > 0 && !(bytes[at - 1] == 0x21 && bytes[at] == 0xFE))
            --at;
        return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at - 1), bytes.end());
    };
    TIOParamsVals none(nullptr);
    EXPECT_EQ(tail(none), (std::vector<uint8_t>{0x21, 0xFE, 0, 0x3B}));

    // An empty line is left out; a line of 300 bytes takes two sub-blocks;
    // the reader collects every sub-block as a line.
    TIOParamsVals some(nullptr);
    some.GIFComments->Add(L"ab");
    some.GIFComments->Add(L"");
    some.GIFComments->Add(std::wstring(300, L'x'));
    const std::vector<uint8_t> t = tail(some);
    ASSERT_EQ(t.size(), 2 + 3 + 256 + 46 + 1 + 1u);
    EXPECT_EQ(t[2], 2);
    EXPECT_EQ(t[5], 255);
    EXPECT_EQ(t[5 + 256], 45);

    classlib::TMemoryStream m;
    ASSERT_FALSE(WriteGif(m, image, some));
    TPxBitmap back;
    TIOParamsVals read(nullptr);
    ASSERT_FALSE(ReadGif(StreamBytes(m), back, read).Aborted);
    ASSERT_EQ(read.GIFComments->GetCount(), 3);
    EXPECT_EQ(read.GIFComments->GetStrings(0), L"ab");
    EXPECT_EQ(read.GIFComments->GetStrings(1).size(), 255u);
}

TEST_F(GifWriter, FailurePaths)
{
    TPxBitmap image;
    Pattern(image, 4, 4, 3);
    {
        // No encoder anywhere: header to descriptor written, then the flag.
        TPxGIFLZWCompressProc saved = PxGlobalGIFLZWCompress;
        PxGlobalGIFLZWCompress = nullptr;
        TIOParamsVals params(nullptr);
        params.GIFLZWCompress = nullptr;
        params.BitsPerSample = 2;
        classlib::TMemoryStream m;
        EXPECT_TRUE(WriteGif(m, image, params));
        PxGlobalGIFLZWCompress = saved;
        EXPECT_EQ(m.GetSize(), 13 + 12 + 8 + 10);
    }
    {
        // Empty image, or one a GIF cannot hold: nothing written.
        TPxBitmap empty;
        TIOParamsVals params(nullptr);
        classlib::TMemoryStream m;
        EXPECT_TRUE(WriteGif(m, empty, params));
        EXPECT_EQ(m.GetSize(), 0);
    }
}

}  // namespace
