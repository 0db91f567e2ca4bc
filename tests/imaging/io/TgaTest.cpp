// TGA reader and writer: decodes of files written by ImageMagick or
// rearranged from them (tests/fixtures/io/tga/make_fixtures.sh, expected
// pixels are ImageMagick's decodes), the alpha mask, the extension area,
// damaged headers, the run-length packer, and write-then-read round trips.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/formats/tga/TgaReader.h"
#include "imaging/io/formats/tga/TgaWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxMask.h"
#include "imaging/proc/PxConvert.h"
#include "support/Fixtures.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

std::vector<uint8_t> Fixture(const std::string& Name) { return testsupport::FixtureBytes(L"io\\tga", Name); }

struct TRead {
    bool Ok = false;
    std::unique_ptr<TPxMask> Mask;
};

TRead Read(const std::vector<uint8_t>& Data, TPxBitmap& Bitmap, TIOParamsVals& Params, bool IgnoreAlpha = false,
           bool ParamsOnly = false)
{
    classlib::TMemoryStream m;
    if (!Data.empty())
        m.WriteBuffer(Data.data(), int64_t(Data.size()));
    m.SetPosition(0);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    TRead r;
    PxReadTGA(&m, &Bitmap, Params, IgnoreAlpha, r.Mask, ParamsOnly, progress);
    r.Ok = !aborting;
    return r;
}

bool Write(TPxBitmap& Bitmap, TIOParamsVals& Params, TPxMask* Mask, std::vector<uint8_t>& Out)
{
    classlib::TMemoryStream m;
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    PxWriteTGA(&m, &Bitmap, Params, Mask, progress);
    const auto* p = static_cast<const uint8_t*>(m.GetMemory());
    Out.assign(p, p + m.GetSize());
    return !aborting;
}

// Compares every pixel with 8-bit samples (3 per pixel: red, green, blue; 4:
// with alpha; 1: grey) in top-row-first order.
void ExpectPixels(TPxBitmap& b, const std::vector<uint8_t>& Want, int Samples)
{
    ASSERT_EQ(Want.size(), size_t(b.GetWidth()) * b.GetHeight() * Samples);
    for (int y = 0; y < b.GetHeight(); ++y)
        for (int x = 0; x < b.GetWidth(); ++x) {
            const uint8_t* w = Want.data() + (size_t(y) * b.GetWidth() + x) * Samples;
            const TPxRGB e = Samples == 1 ? TPxRGB{w[0], w[0], w[0]} : TPxRGB{w[2], w[1], w[0]};
            ASSERT_EQ(b.GetPixelAsRGB(x, y), e) << "pixel " << x << "," << y;
        }
}

class TgaTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PxDefsInit();
        PxInstallPixelFormatConversion();
        PxCopyInstallServices();
        PxInstallTGAFormat();
    }
    TIOParamsVals params{nullptr};
};

TEST_F(TgaTest, DecodesForeignFiles)
{
    struct TCase {
        const char* File;
        const char* Expected;
        int Samples;
        int Bits, SamplesPerPixel;
        bool Compressed, GrayLevel;
    };
    const TCase cases[] = {
        {"rgb24.tga", "rgb24.rgb", 3, 8, 3, false, false},
        {"rle24.tga", "rle24.rgb", 3, 8, 3, true, false},
        {"topdown24.tga", "topdown24.rgb", 3, 8, 3, false, false},
        // Right-to-left rows come back mirrored: the same image.
        {"mirror24.tga", "topdown24.rgb", 3, 8, 3, false, false},
        {"gray8.tga", "gray8.gray", 1, 8, 1, false, true},
        {"pal8.tga", "pal8.rgb", 3, 8, 1, false, false},
        {"rlepal8.tga", "rlepal8.rgb", 3, 8, 1, true, false},
        // A run packet of six pixels crossing the end of a 4-pixel row.
        {"runcross.tga", "runcross.rgb", 3, 8, 3, true, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.File);
        TPxBitmap b;
        const TRead r = Read(Fixture(c.File), b, params);
        ASSERT_TRUE(r.Ok);
        EXPECT_FALSE(r.Mask);
        ASSERT_EQ(b.GetPixelFormat(), px24RGB);
        EXPECT_EQ(params.Width, b.GetWidth());
        EXPECT_EQ(params.OriginalHeight, b.GetHeight());
        EXPECT_EQ(params.BitsPerSample, c.Bits);
        EXPECT_EQ(params.SamplesPerPixel, c.SamplesPerPixel);
        EXPECT_EQ(params.TGACompressed, c.Compressed);
        EXPECT_EQ(params.TGAGrayLevel, c.GrayLevel);
        EXPECT_EQ(params.ImageCount, 1);
        ExpectPixels(b, Fixture(c.Expected), c.Samples);
    }
    // The colour map is handed out.
    TPxBitmap b;
    ASSERT_TRUE(Read(Fixture("pal8.tga"), b, params).Ok);
    EXPECT_EQ(params.ColorMapCount, 5);
}

TEST_F(TgaTest, SixteenBitPixelsTakeFiveBitsTimesEight)
{
    TPxBitmap b;
    ASSERT_TRUE(Read(Fixture("rgb16.tga"), b, params).Ok);
    EXPECT_EQ(params.BitsPerSample, 5);
    EXPECT_EQ(params.SamplesPerPixel, 3);
    // The other decoder scales 5 bits to 255; this one multiplies by 8.
    const std::vector<uint8_t> want = Fixture("rgb16.rgb");
    ASSERT_EQ(want.size(), 5u * 3 * 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const uint8_t* w = want.data() + (size_t(y) * 5 + x) * 3;
            auto five = [](uint8_t v) { return uint8_t((v * 31 + 127) / 255 * 8); };
            EXPECT_EQ(b.GetPixelRGB(x, y), (TPxRGB{five(w[2]), five(w[1]), five(w[0])})) << x << "," << y;
        }
}

TEST_F(TgaTest, AlphaBecomesAMask)
{
    struct TCase {
        const char* File;
        const char* Expected;  // rgba, or nullptr when no mask is expected
        bool IgnoreAlpha;
    };
    const TCase cases[] = {
        {"rgba32.tga", "rgba32.rgba", false},
        {"rgba32.tga", nullptr, true},
        {"map32.tga", "map32.rgba", false},  // alpha from 32-bit map entries
        {"alpha0.tga", nullptr, false},      // all alpha 0: no mask
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.File) + (c.IgnoreAlpha ? " ignoring alpha" : ""));
        TPxBitmap b;
        TRead r = Read(Fixture(c.File), b, params, c.IgnoreAlpha);
        ASSERT_TRUE(r.Ok);
        if (!c.Expected) {
            EXPECT_FALSE(r.Mask);
            continue;
        }
        ASSERT_TRUE(r.Mask);
        const std::vector<uint8_t> want = Fixture(c.Expected);
        ExpectPixels(b, want, 4);
        for (int y = 0; y < b.GetHeight(); ++y)
            for (int x = 0; x < b.GetWidth(); ++x)
                EXPECT_EQ(r.Mask->GetPixel(x, y), want[(size_t(y) * b.GetWidth() + x) * 4 + 3]) << x << "," << y;
    }
    TPxBitmap b;
    ASSERT_TRUE(Read(Fixture("map32.tga"), b, params).Ok);
    EXPECT_EQ(params.TGADescriptor, "abc");
}

TEST_F(TgaTest, ExtensionAreaFields)
{
    TPxBitmap b;
    std::vector<uint8_t> ext = Fixture("ext.tga");
    ASSERT_TRUE(Read(ext, b, params).Ok);
    ExpectPixels(b, Fixture("ext.rgb"), 3);
    EXPECT_EQ(params.TGAAuthor, "Author");
    EXPECT_EQ(params.TGAImageName, "JobName");
    EXPECT_DOUBLE_EQ(params.TGADate, classlib::EncodeDate(2021, 7, 14) + classlib::EncodeTime(13, 45, 30, 0));
    EXPECT_EQ(params.TGABackground, (TPxRGB{0x33, 0x22, 0x11}));
    EXPECT_DOUBLE_EQ(params.TGAAspectRatio, 1.5);
    EXPECT_DOUBLE_EQ(params.TGAGamma, 1.8);

    const double today = double(classlib::Trunc(classlib::Now()));
    // 31 February does not exist: the date stays today's, the rest is read.
    std::vector<uint8_t> badDate = ext;
    const size_t area = 18 + 6;
    badDate[area + 367] = 2;
    badDate[area + 369] = 31;
    ASSERT_TRUE(Read(badDate, b, params).Ok);
    EXPECT_EQ(params.TGADate, today);
    EXPECT_EQ(params.TGAAuthor, "Author");
    // Extension offset 0, and no footer at all: defaults everywhere.
    std::vector<uint8_t> noOffset = ext;
    std::memset(noOffset.data() + noOffset.size() - 26, 0, 4);
    for (const std::vector<uint8_t>& data : {noOffset, Fixture("rgb24.tga")}) {
        params.TGAAuthor = "old";
        ASSERT_TRUE(Read(data, b, params).Ok);
        EXPECT_EQ(params.TGAAuthor, "");
        EXPECT_EQ(params.TGAImageName, "");
        EXPECT_EQ(params.TGABackground, (TPxRGB{0, 0, 0}));
        EXPECT_EQ(params.TGADate, today);
        EXPECT_EQ(params.TGAAspectRatio, 1.0);
        EXPECT_EQ(params.TGAGamma, 2.2);
    }
}

TEST_F(TgaTest, BadHeadersAbortAndLeaveTheBitmap)
{
    auto header = [](uint8_t mapType, uint8_t type, int w, int h, uint8_t depth) {
        std::vector<uint8_t> d(18 + 64, 0);
        d[1] = mapType;
        d[2] = type;
        d[12] = uint8_t(w);
        d[13] = uint8_t(w >> 8);
        d[14] = uint8_t(h);
        d[15] = uint8_t(h >> 8);
        d[16] = depth;
        return d;
    };
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Data;
        bool IsTGA;
    };
    const TCase cases[] = {
        {"type 4", header(0, 4, 2, 2, 24), false},
        {"depth 12", header(0, 2, 2, 2, 12), false},
        {"colour map type 2", header(2, 2, 2, 2, 24), false},
        {"width 0", header(0, 2, 0, 2, 24), false},
        {"header cut short", std::vector<uint8_t>{0, 0, 2, 0, 0, 0, 0}, false},
        {"far more raster than data", header(0, 2, 65535, 65535, 32), true},
        {"far more run-length raster than data", header(0, 10, 65535, 65535, 24), true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        classlib::TMemoryStream m;
        m.WriteBuffer(c.Data.data(), int64_t(c.Data.size()));
        m.SetPosition(0);
        EXPECT_EQ(PxIsTGA(m), c.IsTGA);
        TPxBitmap b(3, 3, px8g);
        EXPECT_FALSE(Read(c.Data, b, params).Ok);
        EXPECT_EQ(b.GetWidth(), 3);
        EXPECT_EQ(b.GetPixelFormat(), px8g);
    }
    // A raster cut short decodes as far as it goes; the rest is black.
    std::vector<uint8_t> cut = Fixture("rgb24.tga");
    cut.resize(18 + 3 * 7 + 3);  // bottom row and one pixel
    TPxBitmap b;
    ASSERT_TRUE(Read(cut, b, params).Ok);
    const std::vector<uint8_t> want = Fixture("rgb24.rgb");
    const uint8_t* w = want.data() + 4 * 7 * 3;
    EXPECT_EQ(b.GetPixelRGB(6, 4), (TPxRGB{w[20], w[19], w[18]}));
    EXPECT_EQ(b.GetPixelRGB(0, 3).r, want[3 * 7 * 3]);
    EXPECT_EQ(b.GetPixelRGB(1, 3), (TPxRGB{0, 0, 0}));
    // Parameters only: the bitmap stays.
    TPxBitmap keep(2, 2, px8g);
    ASSERT_TRUE(Read(Fixture("rle24.tga"), keep, params, false, true).Ok);
    EXPECT_EQ(params.Width, 7);
    EXPECT_EQ(keep.GetWidth(), 2);
}

TEST_F(TgaTest, DamagedCopiesOfEveryFixtureFailCleanly)
{
    // Bytes flipped and tails cut at fixed pseudo-random places: each read
    // either fails with the flag or yields an image of the header's size.
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (const char* name : {"rgb24.tga", "rle24.tga", "rlepal8.tga", "map32.tga", "rgb16.tga", "ext.tga"}) {
        const std::vector<uint8_t> good = Fixture(name);
        for (int i = 0; i < 150; ++i) {
            std::vector<uint8_t> bad = good;
            for (int k = 0; k < 3; ++k)
                bad[next() % bad.size()] = uint8_t(next());
            if (i % 3 == 0)
                bad.resize(next() % bad.size());
            TPxBitmap b;
            TIOParamsVals p{nullptr};
            if (Read(bad, b, p).Ok) {
                ASSERT_EQ(b.GetWidth(), p.Width) << name << " " << i;
                ASSERT_EQ(b.GetHeight(), p.Height) << name << " " << i;
            }
        }
    }
}

TEST_F(TgaTest, PackRowPackets)
{
    auto run = [](std::initializer_list<std::pair<int, uint8_t>> parts) {
        std::vector<uint8_t> row;
        for (auto [count, v] : parts)
            row.insert(row.end(), size_t(count), v);
        return row;
    };
    std::vector<uint8_t> distinct128(128), distinct129(129);
    for (int i = 0; i < 129; ++i) {
        if (i < 128)
            distinct128[size_t(i)] = uint8_t(i);
        distinct129[size_t(i)] = uint8_t(i);
    }
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Row;
        std::vector<uint8_t> Packets;  // headers only, the pixels are checked by the decoder
    };
    const TCase cases[] = {
        {"run, raw, run", run({{3, 'a'}, {1, 'b'}, {1, 'c'}, {2, 'd'}}), {0x82, 0x01, 0x81}},
        {"single pixel", run({{1, 'a'}}), {0x00}},
        {"run of 130", run({{130, 'a'}}), {0xFF, 0x81}},
        {"128 distinct reaching the row end", distinct128, {0x7F}},
        {"129 distinct", distinct129, {0x7E, 0x01}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<uint8_t> out;
        PxTGAPackRow(c.Row.data(), int(c.Row.size()), 1, out);
        std::vector<uint8_t> headers, decoded;
        for (size_t i = 0; i < out.size();) {
            const uint8_t h = out[i++];
            headers.push_back(h);
            const int n = (h & 127) + 1;
            if (h & 128) {
                decoded.insert(decoded.end(), size_t(n), out[i++]);
            } else {
                decoded.insert(decoded.end(), out.begin() + i, out.begin() + i + n);
                i += size_t(n);
            }
        }
        EXPECT_EQ(headers, c.Packets);
        EXPECT_EQ(decoded, c.Row);
    }
    // Three-byte pixels compare whole pixels.
    const uint8_t rgb[] = {1, 2, 3, 1, 2, 3, 1, 2, 4};
    std::vector<uint8_t> out;
    PxTGAPackRow(rgb, 3, 3, out);
    EXPECT_EQ(out, (std::vector<uint8_t>{0x81, 1, 2, 3, 0x00, 1, 2, 4}));
}

// A 24-bit test picture of 12 colours with runs.
std::unique_ptr<TPxBitmap> Picture(int W, int H)
{
    auto b = std::make_unique<TPxBitmap>(W, H, px24RGB);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            b->SetPixelRGB(x, y, TPxRGB{uint8_t((x / 3) * 60), uint8_t((y % 2) * 40), uint8_t(((x / 2 + y) % 2) * 50 + 5)});
    return b;
}

TEST_F(TgaTest, WriteThenReadRoundTrips)
{
    auto pic = Picture(9, 4);
    struct TCase {
        const char* Name;
        int Bits, Samples;
        bool Compressed;
        uint8_t Type, Depth;
    };
    const TCase cases[] = {
        {"24-bit raw", 8, 3, false, 2, 24},
        {"24-bit run-length", 8, 3, true, 10, 24},
        {"8-bit colour map, run-length", 8, 1, true, 9, 8},
        {"4-bit colour map", 4, 1, true, 1, 4},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        params.BitsPerSample = c.Bits;
        params.SamplesPerPixel = c.Samples;
        params.TGACompressed = c.Compressed;
        params.TGAGrayLevel = false;
        params.TGADescriptor = "id";
        params.TGAAuthor = "someone with a name longer than forty characters";
        std::vector<uint8_t> out;
        ASSERT_TRUE(Write(*pic, params, nullptr, out));
        EXPECT_EQ(out[2], c.Type);
        EXPECT_EQ(out[16], c.Depth);
        EXPECT_EQ(out[17], 32);
        // The footer's extension offset points at the 495-byte area.
        ASSERT_GT(out.size(), 26u + 495u);
        const size_t foot = out.size() - 26;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out[foot + 8]), 18), std::string("TRUEVISION-XFILE.\0", 18));
        const uint32_t offset = out[foot] | out[foot + 1] << 8 | out[foot + 2] << 16 | uint32_t(out[foot + 3]) << 24;
        EXPECT_EQ(offset, foot - 495);
        EXPECT_EQ(out[offset] | out[offset + 1] << 8, 495);

        TIOParamsVals back{nullptr};
        TPxBitmap b;
        ASSERT_TRUE(Read(out, b, back).Ok);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 9; ++x)
                ASSERT_EQ(b.GetPixelRGB(x, y), pic->GetPixelRGB(x, y)) << x << "," << y;
        EXPECT_EQ(back.TGAAspectRatio, 1.0);
        EXPECT_EQ(back.TGAGamma, 2.2);
        EXPECT_EQ(back.TGADescriptor, "id");
        EXPECT_EQ(back.TGAAuthor, params.TGAAuthor.substr(0, 40));
    }
    EXPECT_EQ(params.TGACompressed, false);  // 4-bit files are never run-length coded
    EXPECT_EQ(params.ColorMapCount, 16);
}

TEST_F(TgaTest, GreyBilevelAndAlphaOutputs)
{
    // An 8-bit grey file reads with TGAGrayLevel and writes back as grey.
    TPxBitmap grey;
    ASSERT_TRUE(Read(Fixture("gray8.tga"), grey, params).Ok);
    ASSERT_TRUE(params.TGAGrayLevel);
    params.BitsPerSample = 8;
    params.SamplesPerPixel = 1;
    std::vector<uint8_t> out;
    ASSERT_TRUE(Write(grey, params, nullptr, out));
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 3);
    TPxBitmap b;
    ASSERT_TRUE(Read(out, b, params).Ok);
    EXPECT_TRUE(params.TGAGrayLevel);
    ExpectPixels(b, Fixture("gray8.gray"), 1);

    // 1 bit: a two-colour image keeps its darker colour as black.
    TPxBitmap two(10, 2, px24RGB);
    two.Fill(0x00FF00);
    two.SetPixelRGB(3, 1, TPxRGB{0, 0, 90});
    params.BitsPerSample = 1;
    params.SamplesPerPixel = 1;
    ASSERT_TRUE(Write(two, params, nullptr, out));
    EXPECT_EQ(out[2], 3);
    EXPECT_EQ(out[16], 1);
    ASSERT_TRUE(Read(out, b, params).Ok);
    ASSERT_EQ(b.GetPixelFormat(), px1g);
    EXPECT_EQ(b.GetPixelAsRGB(3, 1), (TPxRGB{0, 0, 0}));
    EXPECT_EQ(b.GetPixelAsRGB(4, 1), (TPxRGB{255, 255, 255}));
    EXPECT_EQ(two.GetPixelFormat(), px24RGB);

    // 32 bits with a mask: the mask comes back from the alpha bytes.
    auto pic = Picture(5, 3);
    TPxMask mask;
    mask.AllocateBits(5, 3, 8);
    mask.Fill(255);
    mask.SetPixel(1, 2, 0);
    mask.SetPixel(4, 0, 77);
    params.BitsPerSample = 8;
    params.SamplesPerPixel = 3;
    params.TGACompressed = true;
    ASSERT_TRUE(Write(*pic, params, &mask, out));
    EXPECT_FALSE(params.TGACompressed);
    EXPECT_EQ(out[16], 32);
    EXPECT_EQ(out[17], 40);
    TRead r = Read(out, b, params);
    ASSERT_TRUE(r.Ok);
    ASSERT_TRUE(r.Mask);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(r.Mask->GetPixel(x, y), mask.GetPixel(x, y));
            EXPECT_EQ(b.GetPixelRGB(x, y), pic->GetPixelRGB(x, y));
        }

    // Another pixel format is refused without writing.
    TPxBitmap g8(2, 2, px8g);
    EXPECT_FALSE(Write(g8, params, nullptr, out));
    EXPECT_TRUE(out.empty());
}

TEST_F(TgaTest, LoadsAndSavesThroughTheIOObject)
{
    const bool existed = PxFormatRegistryExists();
    if (!existed)
        PxBuildFormatRegistry();
    PxInstallTGAFormat();
    {
        auto src = Picture(6, 4);
        src->SetAlpha(2, 1, 10);
        auto io = TImgIO::CreateForBitmap(src.get());
        classlib::TMemoryStream m;
        io->SaveTGAToStream(&m);
        ASSERT_FALSE(io->AbortFlag);
        m.SetPosition(0);
        EXPECT_EQ(PxDetectStreamFormat(m), ffTGA);
        TPxBitmap back;
        auto in = TImgIO::CreateForBitmap(&back);
        m.SetPosition(0);
        in->LoadTGAFromStream(&m);
        ASSERT_FALSE(in->AbortFlag);
        ASSERT_TRUE(back.HasAlphaChannel());
        EXPECT_EQ(back.GetAlpha(2, 1), 10);
        EXPECT_EQ(back.GetAlpha(3, 1), 255);
        EXPECT_EQ(back.GetPixelRGB(5, 3), src->GetPixelRGB(5, 3));
        EXPECT_EQ(in->FileParams->FileFormat, ffTGA);
    }
    if (!existed)
        PxFreeFormatRegistry();
}

}  // namespace
