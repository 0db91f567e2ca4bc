// PNG reader and writer: decodes of files written by other programs (netpbm,
// ImageMagick, a zlib-built writer; expected pixels from ImageMagick's raw
// decode, see tests/fixtures/io/png/make_fixtures.sh), damaged files, and
// write-then-read round trips of every writable layout with the chunks the
// writer emits.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/formats/png/PngReader.h"
#include "imaging/io/formats/png/PngWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxMask.h"
#include "support/Fixtures.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

std::wstring FixturePath(const std::string& Name) { return testsupport::FixturePath(L"io\\png", Name); }

std::vector<uint8_t> LoadBytes(const std::string& Name) { return testsupport::FileBytes(FixturePath(Name)); }

// Reads a PNG from Stream; returns true when the read set the aborting flag.
bool Read(classlib::TStream& Stream, TPxBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly = false,
          std::vector<int>* Percents = nullptr)
{
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    if (Percents)
        progress.Handler = TPxProgressEvent::FromFunction(
            [](void* c, classlib::TObject*, int per) { static_cast<std::vector<int>*>(c)->push_back(per); },
            Percents);
    PxReadPNG(&Stream, &Bitmap, Params, ParamsOnly, progress);
    return aborting;
}

bool ReadFixture(const std::string& Name, TPxBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly = false)
{
    classlib::TMemoryStream m;
    m.LoadFromFile(FixturePath(Name));
    return Read(m, Bitmap, Params, ParamsOnly);
}

// Writes Bitmap into Stream; returns true when the write set the aborting
// flag.
bool Write(classlib::TStream& Stream, TPxBitmap& Bitmap, TIOParamsVals& Params, TPxMask* Mask = nullptr)
{
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    PxWritePNG(&Stream, &Bitmap, Params, Mask, progress);
    return aborting;
}

// The chunks of a PNG in file order (type, data).
std::vector<std::pair<std::string, std::vector<uint8_t>>> Chunks(classlib::TMemoryStream& Stream)
{
    std::vector<std::pair<std::string, std::vector<uint8_t>>> result;
    const auto* p = static_cast<const uint8_t*>(Stream.GetMemory());
    const int64_t size = Stream.GetSize();
    int64_t at = 8;
    while (at + 12 <= size) {
        const uint32_t n = (p[at] << 24) | (p[at + 1] << 16) | (p[at + 2] << 8) | p[at + 3];
        if (at + 12 + n > size)
            break;
        result.emplace_back(std::string(reinterpret_cast<const char*>(p + at + 4), 4),
                            std::vector<uint8_t>(p + at + 8, p + at + 8 + n));
        at += 12 + n;
    }
    return result;
}

std::vector<std::vector<uint8_t>> ChunksOf(classlib::TMemoryStream& Stream, const std::string& Type)
{
    std::vector<std::vector<uint8_t>> result;
    for (auto& c : Chunks(Stream))
        if (c.first == Type)
            result.push_back(c.second);
    return result;
}

uint32_t BE32(const std::vector<uint8_t>& d, size_t at)
{
    return (d[at] << 24) | (d[at + 1] << 16) | (d[at + 2] << 8) | d[at + 3];
}
uint16_t BE16(const std::vector<uint8_t>& d, size_t at) { return static_cast<uint16_t>((d[at] << 8) | d[at + 1]); }

struct TExpected {
    std::vector<uint8_t> Data;
    bool Wide = false;
    // Channel c (0 red .. 3 alpha) of pixel i, on 8 bits (the high byte of
    // a 16-bit sample), or the 16-bit sample.
    int At8(int i, int c) const { return Wide ? Data[8 * i + 2 * c] : Data[4 * i + c]; }
    int At16(int i, int c) const { return Wide ? (Data[8 * i + 2 * c] << 8) | Data[8 * i + 2 * c + 1] : At8(i, c) * 257; }
};

TExpected Expected(const std::string& Name, bool Wide)
{
    return TExpected{LoadBytes(Name + (Wide ? ".rgba16" : ".rgba")), Wide};
}

bool Bit(TPxBitmap& B, int x, int y) { return (B.GetScanline(y)[x >> 3] & (0x80 >> (x & 7))) != 0; }

void SetBit(TPxBitmap& B, int x, int y, bool On)
{
    uint8_t& byte = B.GetScanline(y)[x >> 3];
    byte = On ? (byte | (0x80 >> (x & 7))) : (byte & ~(0x80 >> (x & 7)));
}

constexpr int W = 11;
constexpr int H = 7;

// A colourful px24RGB test picture of w x h with at most Colours colours
// (0 = many).
std::unique_ptr<TPxBitmap> Picture(int w, int h, int Colours)
{
    auto b = std::make_unique<TPxBitmap>(w, h, px24RGB);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int k = Colours ? (x * 3 + y * 5) % Colours : x * 17 + y * 29;
            b->SetPixelRGB(x, y, TPxRGB{static_cast<uint8_t>(k * 37), static_cast<uint8_t>(k * 91 + 7),
                                        static_cast<uint8_t>(k * 13 + 100)});
        }
    return b;
}

}  // namespace

// ---------------------------------------------------------------------------
// Files of other writers

TEST(PngReaderTest, DecodesEveryLayoutOfOtherWriters)
{
    struct TCase {
        const char* Name;
        bool Wide;          // expected pixels on 16 bits
        TPxPixelFormat Format;
        bool Alpha;         // alpha channel expected
        int Bits, Samples;
        bool Interlaced;
    };
    const TCase cases[] = {
        {"g1", false, px1g, false, 1, 1, false},      {"g1i", false, px1g, false, 1, 1, true},
        {"g2", false, px24RGB, false, 2, 1, false},   {"g4", false, px24RGB, false, 4, 1, false},
        {"g8", false, px24RGB, false, 8, 1, false},   {"g16", true, px24RGB, false, 16, 1, false},
        {"g16i", true, px24RGB, false, 16, 1, true},  {"ga8", false, px24RGB, true, 8, 2, false},
        {"ga16", true, px24RGB, true, 16, 2, false},  {"p1", false, px24RGB, false, 1, 1, false},
        {"p2t", false, px24RGB, true, 2, 1, false},   {"p4t", false, px24RGB, true, 4, 1, false},
        {"p4ti", false, px24RGB, true, 4, 1, true},   {"p8t", false, px24RGB, true, 8, 1, false},
        {"rgb8", false, px24RGB, false, 8, 3, false}, {"rgb8i", false, px24RGB, false, 8, 3, true},
        {"rgb16", true, px24RGB, false, 16, 3, false}, {"rgba8", false, px24RGB, true, 8, 4, false},
        {"rgba8i", false, px24RGB, true, 8, 4, true}, {"rgba16", true, px24RGB, true, 16, 4, false},
        // transparent colours of grey and RGB files; an interlaced 1-bit
        // palette
        {"g8t", false, px24RGB, true, 8, 1, false},   {"rgb8t", false, px24RGB, true, 8, 3, false},
        {"p1i", false, px24RGB, false, 1, 1, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPxBitmap bmp;
        // A stale alpha channel of an earlier image must not survive.
        bmp.Allocate(3, 3, px24RGB);
        bmp.GetAlphaChannel();
        TIOParamsVals params(nullptr);
        ASSERT_FALSE(ReadFixture(std::string(c.Name) + ".png", bmp, params));
        ASSERT_EQ(bmp.GetWidth(), W);
        ASSERT_EQ(bmp.GetHeight(), H);
        ASSERT_EQ(bmp.GetPixelFormat(), c.Format);
        EXPECT_EQ(params.Width, W);
        EXPECT_EQ(params.OriginalHeight, H);
        EXPECT_EQ(params.BitsPerSample, c.Bits);
        EXPECT_EQ(params.SamplesPerPixel, c.Samples);
        EXPECT_EQ(params.PNGInterlaced, c.Interlaced);
        EXPECT_EQ(params.ImageCount, 1);
        ASSERT_EQ(bmp.HasAlphaChannel(), c.Alpha);
        const TExpected e = Expected(c.Name, c.Wide);
        int bad = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const int i = y * W + x;
                if (c.Format == px1g) {
                    bad += Bit(bmp, x, y) != (e.At8(i, 0) == 255);
                    continue;
                }
                const TPxRGB p = bmp.GetPixelRGB(x, y);
                bad += p.r != e.At8(i, 0) || p.g != e.At8(i, 1) || p.b != e.At8(i, 2);
                if (c.Alpha)
                    bad += bmp.GetAlpha(x, y) != e.At8(i, 3);
            }
        EXPECT_EQ(bad, 0);
        if (c.Alpha) {
            EXPECT_FALSE(bmp.GetAlphaChannel()->FullAlpha);
        }
    }
}

TEST(PngReaderTest, NativePixelFormatsKeepGreyAndPaletteData)
{
    struct TCase {
        const char* Name;
        TPxPixelFormat Format;
    };
    for (const TCase& c : {TCase{"g8", px8g}, TCase{"g16", px16g}, TCase{"g16i", px16g}, TCase{"p8t", px8p},
                           TCase{"p4t", px24RGB}, TCase{"g1", px1g}, TCase{"rgb16", px24RGB}}) {
        SCOPED_TRACE(c.Name);
        TPxBitmap bmp;
        TIOParamsVals params(nullptr);
        params.NativePixelFormat = true;
        ASSERT_FALSE(ReadFixture(std::string(c.Name) + ".png", bmp, params));
        ASSERT_EQ(bmp.GetPixelFormat(), c.Format);
        const bool wide = std::string(c.Name).find("16") != std::string::npos;
        const TExpected e = Expected(c.Name, wide);
        int bad = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const int i = y * W + x;
                switch (c.Format) {
                case px8g: bad += bmp.GetPixelGray8(x, y) != e.At8(i, 0); break;
                case px16g: bad += bmp.GetPixelGray16(x, y) != e.At16(i, 0); break;
                case px8p: {
                    const TPxRGB p = bmp.GetPaletteEntry(bmp.GetScanline(y)[x]);
                    bad += p.r != e.At8(i, 0) || p.g != e.At8(i, 1) || p.b != e.At8(i, 2);
                    break;
                }
                case px1g: bad += Bit(bmp, x, y) != (e.At8(i, 0) == 255); break;
                default: {
                    const TPxRGB p = bmp.GetPixelRGB(x, y);
                    bad += p.r != e.At8(i, 0) || p.g != e.At8(i, 1) || p.b != e.At8(i, 2);
                }
                }
            }
        EXPECT_EQ(bad, 0);
        if (c.Format == px8p) {
            // The indexes stay native; the transparency chunk becomes the
            // alpha channel.
            EXPECT_EQ(bmp.GetPaletteLen(), 256);
            ASSERT_TRUE(bmp.HasAlphaChannel());
            int badAlpha = 0;
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x)
                    badAlpha += bmp.GetAlpha(x, y) != e.At8(y * W + x, 3);
            EXPECT_EQ(badAlpha, 0);
        }
        if (std::string(c.Name) == "p4t") {
            // The 4-bit palette is expanded; the colour map is the file's
            // palette.
            EXPECT_GE(params.ColorMapCount, 2);
            EXPECT_LE(params.ColorMapCount, 16);
            EXPECT_TRUE(bmp.HasAlphaChannel());
        }
    }
}

TEST(PngReaderTest, ResolutionBackgroundAndTexts)
{
    const int32_t savedX = PxDefaultDpiX, savedY = PxDefaultDpiY;
    PxDefaultDpiX = 123;
    PxDefaultDpiY = 124;
    {
        // netpbm: 2835 pixels per metre, an 8-bit red background, two tEXt.
        TPxBitmap bmp;
        TIOParamsVals params(nullptr);
        ASSERT_FALSE(ReadFixture("meta8.png", bmp, params));
        EXPECT_EQ(params.DpiX, 72);
        EXPECT_EQ(params.DpiY, 72);
        EXPECT_EQ(params.PNGBackground, (TPxRGB{0, 0, 255}));
        ASSERT_EQ(params.PNGTextKeys->GetCount(), 2);
        ASSERT_EQ(params.PNGTextValues->GetCount(), 2);
        EXPECT_EQ(params.PNGTextKeys->GetStrings(0), L"Title");
        EXPECT_EQ(params.PNGTextValues->GetStrings(0), L"Sunset over the bay");
        EXPECT_EQ(params.PNGTextKeys->GetStrings(1), L"Author");
        EXPECT_EQ(params.PNGTextValues->GetStrings(1), L"Someone Else");
    }
    {
        // 16-bit background samples are scaled, not cut to their low byte;
        // a physical size in an unknown unit gives the default resolution;
        // tEXt, zTXt and iTXt in order, the last decoded from UTF-8.
        TPxBitmap bmp;
        TIOParamsVals params(nullptr);
        params.PNGTextKeys->Add(L"stale");
        ASSERT_FALSE(ReadFixture("rgba16.png", bmp, params));
        EXPECT_EQ(params.PNGBackground, (TPxRGB{253, 128, 18}));  // 0x1234, 0x80FF, 0xFE01
        EXPECT_EQ(params.DpiX, 123);
        EXPECT_EQ(params.DpiY, 124);
        ASSERT_EQ(params.PNGTextKeys->GetCount(), 3);
        EXPECT_EQ(params.PNGTextKeys->GetStrings(0), L"Comment");
        EXPECT_EQ(params.PNGTextValues->GetStrings(0), L"plain text");
        EXPECT_EQ(params.PNGTextValues->GetStrings(1), L"deflated text");
        EXPECT_EQ(params.PNGTextKeys->GetStrings(2), L"Caption");
        EXPECT_EQ(params.PNGTextValues->GetStrings(2), L"na\u00efve caf\u00e9");
    }
    {
        TPxBitmap bmp;
        TIOParamsVals params(nullptr);
        ASSERT_FALSE(ReadFixture("ga16.png", bmp, params));
        EXPECT_EQ(params.PNGBackground, (TPxRGB{18, 18, 18}));  // grey 0x1234
        ASSERT_FALSE(ReadFixture("g8.png", bmp, params));
        EXPECT_EQ(params.DpiX, 123);  // no pHYs
    }
    PxDefaultDpiX = savedX;
    PxDefaultDpiY = savedY;
}

TEST(PngReaderTest, ParametersOnlyLeavesTheBitmapAlone)
{
    TPxBitmap bmp(2, 2, px8g);
    TIOParamsVals params(nullptr);
    ASSERT_FALSE(ReadFixture("p4t.png", bmp, params, true));
    EXPECT_EQ(params.Width, W);
    EXPECT_EQ(params.Height, H);
    EXPECT_EQ(params.BitsPerSample, 4);
    EXPECT_EQ(params.SamplesPerPixel, 1);
    EXPECT_GT(params.ColorMapCount, 0);
    EXPECT_EQ(bmp.GetWidth(), 2);
    EXPECT_EQ(bmp.GetPixelFormat(), px8g);
}

TEST(PngReaderTest, DamagedDataSetsTheAbortingFlag)
{
    for (const char* name : {"badcrc.png", "truncated.png"}) {
        SCOPED_TRACE(name);
        TPxBitmap bmp;
        TIOParamsVals params(nullptr);
        EXPECT_TRUE(ReadFixture(name, bmp, params));
    }
    // Not a PNG at all, an empty stream, and a file cut inside its header.
    const std::vector<uint8_t> good = LoadBytes("rgb8.png");
    for (size_t n : {size_t{0}, size_t{5}, size_t{20}, size_t{40}}) {
        SCOPED_TRACE(n);
        classlib::TMemoryStream m;
        if (n)
            m.Write(good.data(), static_cast<int64_t>(n));
        m.SetPosition(0);
        TPxBitmap bmp;
        TIOParamsVals params(nullptr);
        EXPECT_TRUE(Read(m, bmp, params));
    }
    classlib::TMemoryStream junk;
    const char text[] = "GIF89a this is certainly not a PNG file at all";
    junk.Write(text, sizeof text);
    junk.SetPosition(0);
    TPxBitmap bmp;
    TIOParamsVals params(nullptr);
    EXPECT_TRUE(Read(junk, bmp, params));
}

// ---------------------------------------------------------------------------
// Round trips

namespace {

struct TRoundTrip {
    classlib::TMemoryStream File;
    TPxBitmap Back;
    TIOParamsVals BackParams{nullptr};
    std::vector<uint8_t> Header;  // IHDR data
};

void RoundTrip(TRoundTrip& R, TPxBitmap& Source, TIOParamsVals& Params, TPxMask* Mask = nullptr, bool Native = false)
{
    ASSERT_FALSE(Write(R.File, Source, Params, Mask));
    auto ihdr = ChunksOf(R.File, "IHDR");
    ASSERT_EQ(ihdr.size(), 1u);
    R.Header = ihdr[0];
    R.File.SetPosition(0);
    R.BackParams.NativePixelFormat = Native;
    std::vector<int> percents;
    ASSERT_FALSE(Read(R.File, R.Back, R.BackParams, false, &percents));
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);
    ASSERT_EQ(R.Back.GetWidth(), Source.GetWidth());
    ASSERT_EQ(R.Back.GetHeight(), Source.GetHeight());
}

int ColourDifferences(TPxBitmap& A, TPxBitmap& B)
{
    int bad = 0;
    for (int y = 0; y < A.GetHeight(); ++y)
        for (int x = 0; x < A.GetWidth(); ++x)
            bad += !(A.GetPixelAsRGB(x, y) == B.GetPixelAsRGB(x, y));
    return bad;
}

}  // namespace

TEST(PngWriterTest, RoundTripsOfEveryWritableLayout)
{
    struct TCase {
        const char* What;
        TPxPixelFormat Source;
        int Colours;  // for px24RGB sources
        int Samples, Bits;
        bool Interlaced;
        int FileType, FileDepth;
        TPxPixelFormat Back;  // read with NativePixelFormat
    };
    const TCase cases[] = {
        {"rgb", px24RGB, 0, 3, 8, false, 2, 8, px24RGB},
        {"rgb interlaced", px24RGB, 0, 3, 8, true, 2, 8, px24RGB},
        {"grey 8 as rgb", px8g, 0, 3, 8, false, 2, 8, px24RGB},
        {"palette from colours", px24RGB, 200, 1, 8, false, 3, 8, px8p},
        {"palette interlaced", px24RGB, 9, 1, 8, true, 3, 8, px8p},
        {"palette at 4 bits is 8-bit", px24RGB, 9, 1, 4, false, 3, 8, px8p},
        {"palette image", px8p, 0, 1, 8, false, 3, 8, px8p},
        {"grey 8", px8g, 0, 1, 8, false, 0, 8, px8g},
        {"grey 16", px16g, 0, 1, 16, false, 0, 16, px16g},
        {"grey 16 interlaced", px16g, 0, 1, 16, true, 0, 16, px16g},
        {"grey 8 from grey 16", px16g, 0, 1, 8, false, 0, 8, px8g},
        {"bilevel", px1g, 0, 1, 1, false, 0, 1, px1g},
        {"bilevel interlaced", px1g, 0, 1, 1, true, 0, 1, px1g},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        std::unique_ptr<TPxBitmap> src;
        if (c.Source == px24RGB) {
            src = Picture(13, 9, c.Colours);
        } else {
            src = std::make_unique<TPxBitmap>(13, 9, c.Source);
            if (c.Source == px8p) {
                src->SetPaletteLen(256);
                for (int i = 0; i < 256; ++i)
                    src->SetPaletteEntry(i, TPxRGB{static_cast<uint8_t>(i * 7), static_cast<uint8_t>(255 - i),
                                                   static_cast<uint8_t>(i * 3)});
            }
            for (int y = 0; y < 9; ++y)
                for (int x = 0; x < 13; ++x) {
                    const int k = x * 19 + y * 23;
                    if (c.Source == px16g)
                        src->SetPixelGray16(x, y, static_cast<uint16_t>(k * 331 + 0x0101 * (x & 1) + 0x00F3));
                    else if (c.Source == px1g)
                        SetBit(*src, x, y, (x + y * 2) % 3 == 0);
                    else
                        src->GetScanline(y)[x] = static_cast<uint8_t>(k);
                }
        }
        TIOParamsVals params(nullptr);
        params.SamplesPerPixel = c.Samples;
        params.BitsPerSample = c.Bits;
        params.PNGInterlaced = c.Interlaced;
        TRoundTrip r;
        RoundTrip(r, *src, params, nullptr, true);
        if (HasFatalFailure())
            return;
        EXPECT_EQ(r.Header[9], c.FileType);
        EXPECT_EQ(r.Header[8], c.FileDepth);
        EXPECT_EQ(r.Header[12], c.Interlaced ? 1 : 0);
        ASSERT_EQ(r.Back.GetPixelFormat(), c.Back);
        EXPECT_FALSE(r.Back.HasAlphaChannel());
        if (c.Back == px16g) {
            // All 16 bits of every sample survive.
            int bad = 0;
            for (int y = 0; y < 9; ++y)
                for (int x = 0; x < 13; ++x)
                    bad += r.Back.GetPixelGray16(x, y) != src->GetPixelGray16(x, y);
            EXPECT_EQ(bad, 0);
        } else if (c.Source == px16g) {
            int bad = 0;
            for (int y = 0; y < 9; ++y)
                for (int x = 0; x < 13; ++x)
                    bad += r.Back.GetPixelGray8(x, y) != (src->GetPixelGray16(x, y) >> 8);
            EXPECT_EQ(bad, 0);
        } else {
            EXPECT_EQ(ColourDifferences(*src, r.Back), 0);
        }
    }
}

TEST(PngWriterTest, BilevelOutputOfColourImages)
{
    // Two colours: the darker becomes black. More colours: reduced by a
    // threshold to black and white.
    PxDefsInit();  // the grey weights of the toolkit's start-up
    auto two = Picture(10, 4, 0);
    const TPxRGB dark{10, 20, 30}, light{200, 220, 90};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 10; ++x)
            two->SetPixelRGB(x, y, (x + y) % 2 ? dark : light);
    TIOParamsVals params(nullptr);
    params.SamplesPerPixel = 1;
    params.BitsPerSample = 1;
    TRoundTrip r;
    RoundTrip(r, *two, params);
    ASSERT_EQ(r.Back.GetPixelFormat(), px1g);
    EXPECT_EQ(r.Header[8], 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(Bit(r.Back, x, y), (x + y) % 2 == 0) << x << "," << y;

    auto many = Picture(10, 4, 0);
    TRoundTrip r2;
    RoundTrip(r2, *many, params);
    EXPECT_EQ(r2.Back.GetPixelFormat(), px1g);
    EXPECT_EQ(r2.Header[8], 1);
    EXPECT_EQ(r2.Header[9], 0);
}

TEST(PngWriterTest, MaskGivesAlphaOrATransparentPaletteEntry)
{
    // Half the image selected, the other half in partial values.
    TPxMask mask;
    mask.AllocateBits(12, 6, 8);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 12; ++x)
            mask.SetPixel(x, y, x < 6 ? 255 : (x * 20 + y) % 255);
    ASSERT_FALSE(mask.Full);

    // Three samples: RGB with alpha, every mask value kept.
    {
        auto src = Picture(12, 6, 0);
        TIOParamsVals params(nullptr);
        TRoundTrip r;
        RoundTrip(r, *src, params, &mask);
        EXPECT_EQ(r.Header[9], 6);
        EXPECT_EQ(ColourDifferences(*src, r.Back), 0);
        ASSERT_TRUE(r.Back.HasAlphaChannel());
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 12; ++x)
                EXPECT_EQ(r.Back.GetAlpha(x, y), mask.GetPixel(x, y));
    }
    // One sample, colour and palette sources: palette with entry 0 the
    // background and fully transparent; selected pixels keep their colour.
    for (TPxPixelFormat f : {px24RGB, px8p}) {
        SCOPED_TRACE(f);
        auto src = Picture(12, 6, 7);
        if (f == px8p) {
            auto pal = std::make_unique<TPxBitmap>(12, 6, px8p);
            pal->SetPaletteLen(256);
            for (int i = 0; i < 256; ++i)
                pal->SetPaletteEntry(i, TPxRGB{static_cast<uint8_t>(i), static_cast<uint8_t>(i * 5),
                                               static_cast<uint8_t>(200 - i)});
            for (int y = 0; y < 6; ++y)
                for (int x = 0; x < 12; ++x)
                    pal->GetScanline(y)[x] = static_cast<uint8_t>((x * 3 + y) % 20);  // index 0 included
            src = std::move(pal);
        }
        TIOParamsVals params(nullptr);
        params.SamplesPerPixel = 1;
        params.BitsPerSample = 8;
        params.PNGBackground = TPxRGB{1, 2, 3};
        TRoundTrip r;
        RoundTrip(r, *src, params, &mask);
        EXPECT_EQ(r.Header[9], 3);
        EXPECT_EQ(r.Header[8], 8);
        auto plte = ChunksOf(r.File, "PLTE");
        auto trns = ChunksOf(r.File, "tRNS");
        auto bkgd = ChunksOf(r.File, "bKGD");
        ASSERT_EQ(plte.size(), 1u);
        ASSERT_EQ(trns.size(), 1u);
        ASSERT_EQ(bkgd.size(), 1u);
        EXPECT_EQ(plte[0][0], 3);  // red, green, blue of PNGBackground
        EXPECT_EQ(plte[0][1], 2);
        EXPECT_EQ(plte[0][2], 1);
        ASSERT_EQ(trns[0].size(), 1u);
        EXPECT_EQ(trns[0][0], 0);
        EXPECT_EQ(bkgd[0], std::vector<uint8_t>{0});  // the background entry
        ASSERT_TRUE(r.Back.HasAlphaChannel());
        int bad = 0;
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 12; ++x) {
                if (x < 6)
                    bad += r.Back.GetAlpha(x, y) != 255 || !(r.Back.GetPixelRGB(x, y) == src->GetPixelAsRGB(x, y));
                else
                    bad += r.Back.GetAlpha(x, y) != 0 || !(r.Back.GetPixelRGB(x, y) == params.PNGBackground);
            }
        EXPECT_EQ(bad, 0);
    }
    // A full mask, or one of another size, is no mask.
    {
        TPxMask full;
        full.AllocateBits(12, 6, 8);
        full.Fill(255);
        auto src = Picture(12, 6, 0);
        TIOParamsVals params(nullptr);
        classlib::TMemoryStream m;
        ASSERT_FALSE(Write(m, *src, params, &full));
        EXPECT_EQ(ChunksOf(m, "IHDR")[0][9], 2);
        TPxMask other;
        other.AllocateBits(5, 5, 8);
        classlib::TMemoryStream m2;
        ASSERT_FALSE(Write(m2, *src, params, &other));
        EXPECT_EQ(ChunksOf(m2, "IHDR")[0][9], 2);
    }
}

TEST(PngWriterTest, ResolutionBackgroundAndTextChunks)
{
    auto src = Picture(5, 3, 0);
    TIOParamsVals params(nullptr);
    params.SetDpiX(72);
    params.SetDpiY(300);
    params.PNGBackground = TPxRGB{0, 0, 255};  // red
    params.PNGTextKeys->Add(L"Title");
    params.PNGTextKeys->Add(L"Author");
    params.PNGTextValues->Add(L"Caf\u00e9 at night");
    params.PNGTextValues->Add(L"Me");
    params.PNGTextValues->Add(L"no key for this one");
    TRoundTrip r;
    RoundTrip(r, *src, params);
    auto phys = ChunksOf(r.File, "pHYs");
    ASSERT_EQ(phys.size(), 1u);
    EXPECT_EQ(BE32(phys[0], 0), 2835u);
    EXPECT_EQ(BE32(phys[0], 4), 11811u);
    EXPECT_EQ(phys[0][8], 1);
    auto bkgd = ChunksOf(r.File, "bKGD");
    ASSERT_EQ(bkgd.size(), 1u);
    ASSERT_EQ(bkgd[0].size(), 6u);
    EXPECT_EQ(BE16(bkgd[0], 0), 255);  // 8-bit samples in an 8-bit file
    EXPECT_EQ(BE16(bkgd[0], 2), 0);
    EXPECT_EQ(BE16(bkgd[0], 4), 0);
    EXPECT_EQ(ChunksOf(r.File, "tEXt").size(), 2u);
    EXPECT_EQ(r.BackParams.DpiX, 72);
    EXPECT_EQ(r.BackParams.DpiY, 300);
    EXPECT_EQ(r.BackParams.PNGBackground, params.PNGBackground);
    ASSERT_EQ(r.BackParams.PNGTextKeys->GetCount(), 2);
    EXPECT_EQ(r.BackParams.PNGTextKeys->GetStrings(1), L"Author");
    EXPECT_EQ(r.BackParams.PNGTextValues->GetStrings(0), L"Caf\u00e9 at night");
    EXPECT_EQ(r.BackParams.PNGTextValues->GetStrings(1), L"Me");

    // Keywords the format refuses (empty, blank, longer than 79 bytes) are
    // left out; the save goes on.
    TIOParamsVals bad(nullptr);
    bad.PNGTextKeys->Add(L"");
    bad.PNGTextKeys->Add(L"   ");
    bad.PNGTextKeys->Add(std::wstring(80, L'k'));
    bad.PNGTextKeys->Add(L"Good");
    for (int i = 0; i < 4; ++i)
        bad.PNGTextValues->Add(L"v" + std::to_wstring(i));
    TRoundTrip r2;
    RoundTrip(r2, *src, bad);
    ASSERT_EQ(r2.BackParams.PNGTextKeys->GetCount(), 1);
    EXPECT_EQ(r2.BackParams.PNGTextKeys->GetStrings(0), L"Good");
    EXPECT_EQ(r2.BackParams.PNGTextValues->GetStrings(0), L"v3");

    // Grey 16: the background grey on 16 bits.
    TPxBitmap grey(4, 4, px16g);
    grey.Fill(0);
    TIOParamsVals gp(nullptr);
    gp.SamplesPerPixel = 1;
    gp.BitsPerSample = 16;
    gp.PNGBackground = TPxRGB{40, 40, 40};
    TRoundTrip r3;
    RoundTrip(r3, grey, gp);
    bkgd = ChunksOf(r3.File, "bKGD");
    ASSERT_EQ(bkgd.size(), 1u);
    EXPECT_EQ(BE16(bkgd[0], 0), 40 * 257);
    EXPECT_EQ(r3.BackParams.PNGBackground, (TPxRGB{40, 40, 40}));
}

namespace {

// Takes at most Limit bytes, then refuses.
class TShortStream : public classlib::TMemoryStream {
public:
    explicit TShortStream(int64_t Limit) : limit_(Limit) {}
    int64_t Write(const void* Buffer, int64_t Count) override
    {
        const int64_t room = std::max<int64_t>(0, limit_ - GetSize());
        return TMemoryStream::Write(Buffer, std::min(room, Count));
    }

private:
    int64_t limit_;
};

}  // namespace

TEST(PngWriterTest, ShortWriteSetsTheAbortingFlagAndLibraryErrorsRaise)
{
    auto src = Picture(64, 64, 0);
    TIOParamsVals params(nullptr);
    params.PNGCompression = 0;
    TShortStream s(100);
    EXPECT_TRUE(Write(s, *src, params));
    EXPECT_LE(s.GetSize(), 100);

    TPxBitmap empty;
    classlib::TMemoryStream m;
    try {
        Write(m, empty, params);
        FAIL() << "no exception";
    } catch (const classlib::EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), L"Error on creating PNG");
    }
}

TEST(PngFormatTest, RegistryRowCarriesTheRoutines)
{
    PxInstallPNGFormat();
    const bool existed = PxFormatRegistryExists();
    if (!existed)
        PxBuildFormatRegistry();
    TPxFileFormatInfo* row = PxFormatInfoById(ffPNG);
    ASSERT_NE(row, nullptr);
    ASSERT_TRUE(static_cast<bool>(row->Reader));
    ASSERT_TRUE(static_cast<bool>(row->Writer));

    // The writer takes the mask from the progress record.
    auto src = Picture(6, 4, 0);
    TPxMask mask;
    mask.AllocateBits(6, 4, 8);
    mask.SetPixel(1, 1, 255);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    progress.Mask.Lend(&mask);
    TIOParamsVals params(nullptr);
    classlib::TMemoryStream m;
    row->Writer(&m, src.get(), params, progress);
    EXPECT_FALSE(aborting);
    m.SetPosition(0);
    EXPECT_EQ(PxDetectStreamFormat(m), ffPNG);
    m.SetPosition(0);
    TPxBitmap back;
    progress.Mask.Reset();
    row->Reader(&m, &back, params, false, progress);
    EXPECT_FALSE(aborting);
    ASSERT_TRUE(back.HasAlphaChannel());
    EXPECT_EQ(back.GetAlpha(1, 1), 255);
    EXPECT_EQ(back.GetAlpha(2, 1), 0);
    if (!existed)
        PxFreeFormatRegistry();
}

TEST(PngReaderTest, FileHeldImagesDecodeAndEncodeLikeMemoryImages)
{
    // Interlaced layouts fill rows over several passes; rows of file-held
    // images are mapped one at a time.
    struct TCase {
        const char* Name;
        bool Native;
    };
    for (const TCase& c : {TCase{"rgba8i.png", false}, TCase{"p1i.png", false}, TCase{"g1i.png", false},
                           TCase{"g16i.png", true}, TCase{"p4ti.png", false}}) {
        SCOPED_TRACE(c.Name);
        TPxBitmap mem;
        TIOParamsVals p1(nullptr);
        p1.NativePixelFormat = c.Native;
        ASSERT_FALSE(ReadFixture(c.Name, mem, p1));
        TPxBitmap file;
        file.FileThreshold = 1;
        TIOParamsVals p2(nullptr);
        p2.NativePixelFormat = c.Native;
        ASSERT_FALSE(ReadFixture(c.Name, file, p2));
        ASSERT_EQ(file.GetLocation(), pxFile);
        ASSERT_EQ(mem.GetLocation(), pxMemory);
        ASSERT_EQ(file.GetPixelFormat(), mem.GetPixelFormat());
        ASSERT_EQ(file.HasAlphaChannel(), mem.HasAlphaChannel());
        int bad = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                bad += !(file.GetPixelAsRGB(x, y) == mem.GetPixelAsRGB(x, y));
                if (mem.GetPixelFormat() == px16g)
                    bad += file.GetPixelGray16(x, y) != mem.GetPixelGray16(x, y);
                if (mem.HasAlphaChannel())
                    bad += file.GetAlpha(x, y) != mem.GetAlpha(x, y);
            }
        EXPECT_EQ(bad, 0);

        // Written from the file-held image, the same bytes as from memory.
        TIOParamsVals w(nullptr);
        w.SamplesPerPixel = mem.GetPixelFormat() == px24RGB ? 3 : 1;
        w.BitsPerSample = mem.GetPixelFormat() == px16g ? 16 : (mem.GetPixelFormat() == px1g ? 1 : 8);
        w.PNGInterlaced = true;
        classlib::TMemoryStream a, b;
        ASSERT_FALSE(Write(a, mem, w));
        ASSERT_FALSE(Write(b, file, w));
        ASSERT_EQ(a.GetSize(), b.GetSize());
        EXPECT_EQ(std::memcmp(a.GetMemory(), b.GetMemory(), static_cast<size_t>(a.GetSize())), 0);
    }
}
