// PXM reader and writer: decodes of files written by ImageMagick and netpbm
// (tests/fixtures/io/pxm/make_fixtures.sh, expected pixels are
// ImageMagick's decodes), hand-made headers for scaling and damaged data,
// exact writer output, and round trips through the I/O object.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/StringList.h"
#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/PxCmyk.h"
#include "imaging/io/formats/pxm/PxmReader.h"
#include "imaging/io/formats/pxm/PxmWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxDefs.h"
#include "imaging/proc/PxConvert.h"
#include "support/StreamBytes.h"
#include "support/Fixtures.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

using testsupport::StreamBytes;

std::vector<uint8_t> Fixture(const std::string& Name) { return testsupport::FixtureBytes(L"io\\pxm", Name); }

std::vector<uint8_t> Bytes(const std::string& Text) { return std::vector<uint8_t>(Text.begin(), Text.end()); }

// Reads Data with PxReadPXM; returns true when the aborting flag stayed clear.
bool Read(const std::vector<uint8_t>& Data, TPxBitmap& Bitmap, TIOParamsVals& Params, bool Preview = false,
          std::vector<int>* Percents = nullptr)
{
    classlib::TMemoryStream m;
    if (!Data.empty())
        m.WriteBuffer(Data.data(), int64_t(Data.size()));
    m.SetPosition(0);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    if (Percents)
        progress.Handler = TPxProgressEvent::FromFunction(
            [](void* c, classlib::TObject*, int Per) { static_cast<std::vector<int>*>(c)->push_back(Per); }, Percents);
    PxReadPXM(&m, &Bitmap, Params, Preview, progress);
    return !aborting;
}

bool Write(TPxBitmap& Bitmap, TIOParamsVals& Params, std::vector<uint8_t>& Out)
{
    classlib::TMemoryStream m;
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    PxWritePXM(&m, &Bitmap, Params, progress);
    Out = StreamBytes(m);
    return !aborting;
}

// Same size, format and pixels (row padding aside).
bool SamePixels(TPxBitmap& a, TPxBitmap& b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetPixelFormat() != b.GetPixelFormat())
        return false;
    for (int y = 0; y < a.GetHeight(); ++y)
        for (int x = 0; x < a.GetWidth(); ++x) {
            if (a.GetPixelFormat() == pxRGB48 ? !(a.GetPixelRGB48(x, y) == b.GetPixelRGB48(x, y))
                                              : !(a.GetPixelAsRGB(x, y) == b.GetPixelAsRGB(x, y)))
                return false;
        }
    return true;
}

class PxmTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PxDefsInit();  // grey weights
        PxInstallPixelFormatConversion();
        PxCopyInstallServices();
        PxInstallColorConversion();
        PxInstallPXMFormat();
    }
    TIOParamsVals params{nullptr};
};

TEST_F(PxmTest, DecodesForeignFiles)
{
    struct TCase {
        const char* File;
        const char* Expected;  // 8-bit grey or rgb from ImageMagick
        TPxPixelFormat Format;
        int Bits, Samples;
    };
    const TCase cases[] = {
        {"plain.pbm", "mono.gray", px1g, 1, 1},      {"raw.pbm", "mono.gray", px1g, 1, 1},
        {"plain15.pgm", "plain15.gray", px24RGB, 8, 1}, {"raw.pgm", "raw.gray", px24RGB, 8, 1},
        {"plain.ppm", "plain.rgb", px24RGB, 8, 3},   {"raw.ppm", "raw.rgb", px24RGB, 8, 3},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.File);
        TPxBitmap b;
        ASSERT_TRUE(Read(Fixture(c.File), b, params));
        ASSERT_EQ(b.GetPixelFormat(), c.Format);
        EXPECT_EQ(params.BitsPerSample, c.Bits);
        EXPECT_EQ(params.SamplesPerPixel, c.Samples);
        EXPECT_EQ(params.Width, b.GetWidth());
        EXPECT_EQ(params.OriginalHeight, b.GetHeight());
        EXPECT_EQ(params.DpiX, PxDefaultDpiX);
        const std::vector<uint8_t> want = Fixture(c.Expected);
        const size_t samples = std::string(c.Expected).ends_with(".rgb") ? 3 : 1;
        ASSERT_EQ(want.size(), size_t(b.GetWidth()) * b.GetHeight() * samples);
        for (int y = 0; y < b.GetHeight(); ++y)
            for (int x = 0; x < b.GetWidth(); ++x) {
                const TPxRGB p = b.GetPixelAsRGB(x, y);
                const uint8_t* w = want.data() + (size_t(y) * b.GetWidth() + x) * samples;
                const TPxRGB e = samples == 3 ? TPxRGB{w[2], w[1], w[0]} : TPxRGB{w[0], w[0], w[0]};
                ASSERT_EQ(p, e) << "pixel " << x << "," << y;
            }
    }
}

TEST_F(PxmTest, SixteenBitSamplesNativeOrReduced)
{
    const std::vector<uint8_t> grey = Fixture("raw16.gray16"), rgb = Fixture("raw16.rgb16");
    auto word = [](const std::vector<uint8_t>& v, size_t i) { return int(v[2 * i] << 8 | v[2 * i + 1]); };
    for (bool native : {false, true}) {
        SCOPED_TRACE(native ? "native" : "24-bit");
        params.NativePixelFormat = native;
        TPxBitmap g, c;
        ASSERT_TRUE(Read(Fixture("raw16.pgm"), g, params));
        EXPECT_EQ(params.BitsPerSample, 16);
        ASSERT_TRUE(Read(Fixture("raw16.ppm"), c, params));
        ASSERT_EQ(g.GetPixelFormat(), native ? px16g : px24RGB);
        ASSERT_EQ(c.GetPixelFormat(), native ? pxRGB48 : px24RGB);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x) {
                const size_t i = size_t(y) * 7 + x;
                const int v = word(grey, i);
                if (native) {
                    ASSERT_EQ(g.GetPixelGray16(x, y), v);
                    const TPxRGB48 p = c.GetPixelRGB48(x, y);
                    ASSERT_EQ(p, (TPxRGB48{uint16_t(word(rgb, 3 * i)), uint16_t(word(rgb, 3 * i + 1)),
                                           uint16_t(word(rgb, 3 * i + 2))}));
                } else {
                    // Grey is rescaled from the maximum, colour takes the
                    // high bytes.
                    const uint8_t e = uint8_t(int64_t(v) * 255 / 65535);
                    ASSERT_EQ(g.GetPixelRGB(x, y), (TPxRGB{e, e, e}));
                    ASSERT_EQ(c.GetPixelRGB(x, y), (TPxRGB{uint8_t(word(rgb, 3 * i + 2) >> 8),
                                                          uint8_t(word(rgb, 3 * i + 1) >> 8),
                                                          uint8_t(word(rgb, 3 * i) >> 8)}));
                }
            }
    }
}

TEST_F(PxmTest, SamplesAndScalingOfHandMadeRasters)
{
    struct TCase {
        const char* Name;
        std::string Data;
        std::vector<TPxRGB> Pixels;  // row by row
    };
    const TPxRGB W{255, 255, 255}, K{0, 0, 0};
    auto G = [](uint8_t v) { return TPxRGB{v, v, v}; };
    const TCase cases[] = {
        {"P1 characters", "P1\n2 2\n0 1\n1 0", {W, K, K, W}},
        {"P1 ignores other bytes", "P1 3 1 0x1y0", {W, K, W}},
        {"P2 maximum 15", "P2 3 1 15 15 0 7", {G(255), G(0), G(119)}},
        {"P2 comment in raster reads as 0", "P2 3 1 255 9\n#note\n200 7", {G(9), G(0), G(200)}},
        {"P5 maximum 255 unscaled", std::string("P5 2 1 255\n") + "\x64\xC8", {G(100), G(200)}},
        {"P5 maximum 100 rescaled", std::string("P5 2 1 100\n") + "\x32\x64", {G(127), G(255)}},
        {"P6 maximum 100 unscaled", std::string("P6 1 1 100\n") + "\x32\x64\x0A", {TPxRGB{10, 100, 50}}},
        {"P3 maximum 100", "P3 1 1 100 50 100 0", {TPxRGB{0, 255, 127}}},
        {"P4 bits inverted", std::string("P4 10 1\n") + "\x80\x40", {K, W, W, W, W, W, W, W, W, K}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPxBitmap b;
        ASSERT_TRUE(Read(Bytes(c.Data), b, params));
        const int w = b.GetWidth();
        ASSERT_EQ(size_t(w) * b.GetHeight(), c.Pixels.size());
        for (size_t i = 0; i < c.Pixels.size(); ++i)
            EXPECT_EQ(b.GetPixelAsRGB(int(i) % w, int(i) / w), c.Pixels[i]) << "pixel " << i;
    }
}

TEST_F(PxmTest, CommentsAndDetection)
{
    const std::vector<uint8_t> data = Bytes(std::string("P5\n#  made by hand  \r3 1\n# second\n255\n") + "abc");
    classlib::TMemoryStream m;
    m.WriteBuffer(data.data(), int64_t(data.size()));
    m.SetPosition(0);
    EXPECT_TRUE(PxIsPXM(m));
    EXPECT_EQ(m.GetPosition(), 0);
    TPxBitmap b;
    ASSERT_TRUE(Read(data, b, params));
    ASSERT_EQ(params.PXMComments->GetCount(), 2);
    EXPECT_EQ(params.PXMComments->GetStrings(0), L"made by hand");
    EXPECT_EQ(params.PXMComments->GetStrings(1), L"second");
    EXPECT_EQ(b.GetPixelRGB(2, 0), (TPxRGB{'c', 'c', 'c'}));
    // A second read starts the list afresh.
    ASSERT_TRUE(Read(Bytes("P2 1 1 255 4"), b, params));
    EXPECT_EQ(params.PXMComments->GetCount(), 0);
}

TEST_F(PxmTest, BadHeadersAbortAndLeaveTheBitmap)
{
    const std::string cases[] = {
        "",
        "P1",
        "P7 2 2 255 abcd",
        "P5 0 2 255 ab",
        "P5 2 x 255 abcd",
        "P5 2 2 70000 abcdefgh",
        "P5 2 2 0 abcd",       // a zero maximum would divide by zero
        "P6 2 2",              // maximum missing
        "P5 60000 60000 255 ab",  // far more raster than data
        "X5 2 2 255 abcd",
    };
    for (const std::string& c : cases) {
        SCOPED_TRACE(c);
        TPxBitmap b(3, 3, px8g);
        EXPECT_FALSE(Read(Bytes(c), b, params));
        EXPECT_EQ(b.GetWidth(), 3);
        EXPECT_EQ(b.GetPixelFormat(), px8g);
    }
}

TEST_F(PxmTest, DamagedCopiesOfEveryFixtureFailCleanly)
{
    // Bytes changed and tails cut at fixed pseudo-random places: each read
    // either fails with the flag or yields an image of the header's size.
    uint32_t seed = 777;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (const char* name : {"plain.pbm", "raw.pbm", "plain15.pgm", "raw16.pgm", "plain.ppm", "raw16.ppm"}) {
        const std::vector<uint8_t> good = Fixture(name);
        for (int i = 0; i < 150; ++i) {
            std::vector<uint8_t> bad = good;
            for (int k = 0; k < 3; ++k)
                bad[next() % bad.size()] = uint8_t(i % 2 ? next() : '0' + next() % 10);
            if (i % 3 == 0)
                bad.resize(next() % bad.size());
            TPxBitmap b;
            TIOParamsVals p{nullptr};
            p.NativePixelFormat = i % 2 == 0;
            if (Read(bad, b, p)) {
                ASSERT_EQ(b.GetWidth(), p.Width) << name << " " << i;
                ASSERT_EQ(b.GetHeight(), p.Height) << name << " " << i;
            }
        }
    }
}

TEST_F(PxmTest, ShortRasterLoadsWhatThereIs)
{
    // 4 x 4 grey of which 5 samples exist; the rest stays black.
    TPxBitmap b;
    std::vector<int> percents;
    ASSERT_TRUE(Read(Bytes(std::string("P5 4 4 255\n") + "\x10\x20\x30\x40\x50"), b, params, false, &percents));
    EXPECT_EQ(b.GetPixelRGB(3, 0), (TPxRGB{0x40, 0x40, 0x40}));
    EXPECT_EQ(b.GetPixelRGB(0, 1), (TPxRGB{0x50, 0x50, 0x50}));
    EXPECT_EQ(b.GetPixelRGB(1, 1), (TPxRGB{0, 0, 0}));
    EXPECT_EQ(percents, (std::vector<int>{25, 50, 75, 100}));
    // Text rasters stop at the end of the data.
    ASSERT_TRUE(Read(Bytes("P3 2 2 255 1 2 3 4"), b, params));
    EXPECT_EQ(b.GetPixelRGB(0, 0), (TPxRGB{3, 2, 1}));
    EXPECT_EQ(b.GetPixelRGB(1, 0), (TPxRGB{0, 0, 0}));
}

TEST_F(PxmTest, StreamContinuesAfterTheImage)
{
    // Two binary images back to back: the second is read from where the
    // first one ended.
    const std::string data = std::string("P5 2 1 255\n") + "\x01\x02" + "P6 1 1 255\n" + "\x0A\x0B\x0C";
    classlib::TMemoryStream m;
    m.WriteBuffer(data.data(), int64_t(data.size()));
    m.SetPosition(0);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    TPxBitmap a, b;
    PxReadPXM(&m, &a, params, false, progress);
    EXPECT_EQ(m.GetPosition(), 13);
    PxReadPXM(&m, &b, params, false, progress);
    ASSERT_FALSE(aborting);
    EXPECT_EQ(a.GetPixelRGB(1, 0), (TPxRGB{2, 2, 2}));
    EXPECT_EQ(b.GetPixelRGB(0, 0), (TPxRGB{0x0C, 0x0B, 0x0A}));
}

TEST_F(PxmTest, PreviewReadsOnlyTheParameters)
{
    TPxBitmap b(2, 2, px8g);
    ASSERT_TRUE(Read(Fixture("raw16.ppm"), b, params, true));
    EXPECT_EQ(params.Width, 7);
    EXPECT_EQ(params.Height, 5);
    EXPECT_EQ(params.BitsPerSample, 16);
    EXPECT_EQ(params.SamplesPerPixel, 3);
    EXPECT_EQ(b.GetWidth(), 2);
}

TEST_F(PxmTest, WriterHeadersAndSamples)
{
    // Bi-level with two comment lines: the comments sit between the magic
    // and the size; set (white) bits become 0.
    TPxBitmap mono(3, 2, px1g);
    mono.Fill(0);
    mono.GetScanline(0)[0] = 0xA0;  // white, black, white
    params.PXMComments->Add(L"first");
    params.PXMComments->Add(L"second");
    std::vector<uint8_t> out;
    ASSERT_TRUE(Write(mono, params, out));
    std::string head = "P4 \n# first\n\n# second\n3 2\n";
    std::vector<uint8_t> want = Bytes(head);
    want.push_back(uint8_t(~0xA0));
    want.push_back(0xFF);
    EXPECT_EQ(out, want);
    params.PXMComments->Clear();

    // 24-bit with 16 bits per sample: every byte doubled into a word.
    TPxBitmap rgb(1, 1, px24RGB);
    rgb.SetPixelRGB(0, 0, TPxRGB{0x01, 0x80, 0xC8});
    params.BitsPerSample = 16;
    params.SamplesPerPixel = 3;
    ASSERT_TRUE(Write(rgb, params, out));
    want = Bytes("P6 1 1 65535\n");
    for (uint8_t v : {0xC8, 0xC8, 0x80, 0x80, 0x01, 0x01})
        want.push_back(v);
    EXPECT_EQ(out, want);

    // 8 bits, 1 sample: one grey byte per pixel by the weighted grey.
    rgb.SetPixelRGB(0, 0, TPxRGB{0, 0, 200});
    params.BitsPerSample = 8;
    params.SamplesPerPixel = 1;
    ASSERT_TRUE(Write(rgb, params, out));
    want = Bytes("P5 1 1 255\n");
    want.push_back(uint8_t(200 * 21 / 100));
    EXPECT_EQ(out, want);
}

TEST_F(PxmTest, WriteThenReadRoundTrips)
{
    TPxBitmap rgb(5, 3, px24RGB);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            rgb.SetPixelRGB(x, y, TPxRGB{uint8_t(x * 50), uint8_t(y * 100), uint8_t(x * y * 17 + 3)});
    TPxBitmap wide(4, 2, pxRGB48);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            wide.SetPixelRGB48(x, y, TPxRGB48{uint16_t(x * 9000 + 1), uint16_t(y * 30000 + 7), uint16_t(65535 - x)});
    TPxBitmap mono(13, 2, px1g);
    mono.Fill(0);
    mono.GetScanline(0)[0] = 0x5A;
    mono.GetScanline(1)[1] = 0x0F;

    struct TCase {
        const char* Name;
        TPxBitmap* Source;
        int Bits, Samples;
        bool Native;
    };
    const TCase cases[] = {
        {"P6", &rgb, 8, 3, false},
        {"P6 16-bit from 48", &wide, 8, 3, true},
        {"P4", &mono, 8, 3, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        params.BitsPerSample = c.Bits;
        params.SamplesPerPixel = c.Samples;
        std::vector<uint8_t> out;
        ASSERT_TRUE(Write(*c.Source, params, out));
        params.NativePixelFormat = c.Native;
        TPxBitmap back;
        ASSERT_TRUE(Read(out, back, params));
        EXPECT_TRUE(SamePixels(*c.Source, back));
    }
}

TEST_F(PxmTest, WriterConvertsACopyOrRefuses)
{
    TPxBitmap grey(2, 1, px8g);
    grey.SetPixelGray8(0, 0, 10);
    grey.SetPixelGray8(1, 0, 250);
    params.BitsPerSample = 8;
    params.SamplesPerPixel = 1;
    std::vector<uint8_t> out;
    ASSERT_TRUE(Write(grey, params, out));
    EXPECT_EQ(grey.GetPixelFormat(), px8g);
    std::vector<uint8_t> want = Bytes("P5 2 1 255\n");
    want.push_back(10);
    want.push_back(250);
    EXPECT_EQ(out, want);

    // No variant fits 4 bits of a grey image; an empty image has nothing.
    params.BitsPerSample = 4;
    EXPECT_FALSE(Write(grey, params, out));
    EXPECT_TRUE(out.empty());
    TPxBitmap empty;
    EXPECT_FALSE(Write(empty, params, out));
    EXPECT_TRUE(out.empty());
}

TEST_F(PxmTest, LoadsAndSavesThroughTheIOObject)
{
    const bool existed = PxFormatRegistryExists();
    if (!existed)
        PxBuildFormatRegistry();
    PxInstallPXMFormat();
    {
        TPxBitmap src(3, 2, px24RGB);
        src.Fill(0);
        src.SetPixelRGB(1, 1, TPxRGB{1, 2, 3});
        auto io = TImgIO::CreateForBitmap(&src);
        classlib::TMemoryStream m;
        io->SavePXMToStream(&m);
        ASSERT_FALSE(io->AbortFlag);
        m.SetPosition(0);
        EXPECT_EQ(PxDetectStreamFormat(m), ffPXM);
        TPxBitmap back;
        auto in = TImgIO::CreateForBitmap(&back);
        m.SetPosition(0);
        in->LoadPXMFromStream(&m);
        ASSERT_FALSE(in->AbortFlag);
        EXPECT_TRUE(SamePixels(src, back));
        EXPECT_EQ(in->FileParams->FileFormat, ffPXM);
    }
    if (!existed)
        PxFreeFormatRegistry();
}

}  // namespace
