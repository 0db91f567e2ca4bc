// BMP reader and writer: decodes of files written (or decoded) by
// ImageMagick (tests/fixtures/io/bmp/make_fixtures.sh), hand-made headers and
// damaged data, the run-length coders, and write-then-read round trips with
// the header fields the writer emits.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "imaging/io/formats/bmp/BmpReader.h"
#include "imaging/io/formats/bmp/BmpWriter.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxMask.h"
#include "imaging/proc/PxConvert.h"
#include "support/StreamBytes.h"
#include "support/Fixtures.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

using testsupport::StreamBytes;

std::vector<uint8_t> FixtureBytes(const std::string& Name) { return testsupport::FixtureBytes(L"io\\bmp", Name); }

classlib::TMemoryStream* StreamOf(classlib::TMemoryStream& m, const std::vector<uint8_t>& Bytes)
{
    m.SetSize(0);
    if (!Bytes.empty())
        m.WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    m.SetPosition(0);
    return &m;
}

struct TRead {
    bool Aborted = false;
    std::unique_ptr<TPxMask> Mask;
    std::vector<int> Percents;
};

TRead ReadBytes(const std::vector<uint8_t>& Bytes, TPxBitmap& Bitmap, TIOParamsVals& Params, bool IgnoreAlpha = true,
                bool Preview = false, bool NoFileHeader = false)
{
    TRead r;
    classlib::TMemoryStream m;
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    progress.Handler = TPxProgressEvent::FromFunction(
        [](void* c, classlib::TObject*, int per) { static_cast<std::vector<int>*>(c)->push_back(per); }, &r.Percents);
    PxReadBMP(StreamOf(m, Bytes), &Bitmap, 0, Params, progress, Preview, NoFileHeader, r.Mask, IgnoreAlpha);
    r.Aborted = aborting;
    return r;
}

uint32_t Le32(const std::vector<uint8_t>& d, size_t at)
{
    return d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (static_cast<uint32_t>(d[at + 3]) << 24);
}
uint16_t Le16(const std::vector<uint8_t>& d, size_t at) { return static_cast<uint16_t>(d[at] | (d[at + 1] << 8)); }

void Add16(std::vector<uint8_t>& d, uint32_t v)
{
    d.push_back(static_cast<uint8_t>(v));
    d.push_back(static_cast<uint8_t>(v >> 8));
}
void Add32(std::vector<uint8_t>& d, uint32_t v)
{
    Add16(d, v & 0xFFFF);
    Add16(d, v >> 16);
}

// A BMP file with a 40-byte info header (or HeaderSize bytes, the rest
// zero), the table bytes and the pixel bytes.
std::vector<uint8_t> MakeBmp(int32_t Width, int32_t Height, int Bits, uint32_t Compression,
                             const std::vector<uint8_t>& Table, const std::vector<uint8_t>& Pixels,
                             uint32_t ColorsUsed = 0, int32_t Ppm = 0, uint32_t HeaderSize = 40)
{
    std::vector<uint8_t> h;
    Add32(h, HeaderSize);
    Add32(h, static_cast<uint32_t>(Width));
    Add32(h, static_cast<uint32_t>(Height));
    Add16(h, 1);
    Add16(h, static_cast<uint32_t>(Bits));
    Add32(h, Compression);
    Add32(h, static_cast<uint32_t>(Pixels.size()));
    Add32(h, static_cast<uint32_t>(Ppm));
    Add32(h, static_cast<uint32_t>(Ppm));
    Add32(h, ColorsUsed);
    Add32(h, 0);
    h.resize(HeaderSize, 0);
    const uint32_t offset = static_cast<uint32_t>(14 + h.size() + Table.size());
    std::vector<uint8_t> f{'B', 'M'};
    Add32(f, static_cast<uint32_t>(offset + Pixels.size()));
    Add32(f, 0);
    Add32(f, offset);
    f.insert(f.end(), h.begin(), h.end());
    f.insert(f.end(), Table.begin(), Table.end());
    f.insert(f.end(), Pixels.begin(), Pixels.end());
    return f;
}

// The pixels of the bitmap as red, green, blue bytes, top row first.
std::vector<uint8_t> RGBBytes(TPxBitmap& b)
{
    std::vector<uint8_t> out;
    for (int y = 0; y < b.GetHeight(); ++y)
        for (int x = 0; x < b.GetWidth(); ++x) {
            const TPxRGB c = b.GetPixelAsRGB(x, y);
            out.insert(out.end(), {c.r, c.g, c.b});
        }
    return out;
}

std::unique_ptr<TPxBitmap> Picture(int w, int h)
{
    auto b = std::make_unique<TPxBitmap>(w, h, px24RGB);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b->SetPixelRGB(x, y, TPxRGB{static_cast<uint8_t>(x * 30), static_cast<uint8_t>(y * 40),
                                        static_cast<uint8_t>((x * 7 + y * 13) % 256)});
    return b;
}

}  // namespace

TEST(BmpReaderTest, DecodesFilesOfOtherWritersLikeImageMagick)
{
    struct TCase {
        const char* File;
        const char* Expected;  // ImageMagick's decode, 8-bit samples
        bool Native;
        TPxPixelFormat Format;
        int Version, Compression, BitsPerSample, SamplesPerPixel;
        uint8_t Keep;  // bits of each sample compared (16-bit files keep the top ones)
    };
    const TCase cases[] = {
        {"rgb24.bmp", "rgb24.rgb", false, px24RGB, 1, 0, 8, 3, 0xFF},
        {"core24.bmp", "core24.rgb", false, px24RGB, 2, 0, 8, 3, 0xFF},
        {"topdown24.bmp", "topdown24.rgb", false, px24RGB, 1, 0, 8, 3, 0xFF},
        {"pal4.bmp", "pal4.rgb", false, px24RGB, 1, 0, 4, 1, 0xFF},
        {"pal4.bmp", "pal4.rgb", true, px8p, 1, 0, 4, 1, 0xFF},
        {"pal8.bmp", "pal8.rgb", false, px24RGB, 1, 0, 8, 1, 0xFF},
        {"pal8.bmp", "pal8.rgb", true, px8p, 1, 0, 8, 1, 0xFF},
        {"rle8.bmp", "rle8.rgb", false, px24RGB, 1, 1, 8, 1, 0xFF},
        {"rle8.bmp", "rle8.rgb", true, px8p, 1, 1, 8, 1, 0xFF},
        {"rle8delta.bmp", "rle8delta.rgb", false, px24RGB, 1, 1, 8, 1, 0xFF},
        {"rle8delta.bmp", "rle8delta.rgb", true, px8p, 1, 1, 8, 1, 0xFF},
        {"rle4.bmp", "rle4.rgb", false, px24RGB, 1, 1, 4, 1, 0xFF},
        {"rle4.bmp", "rle4.rgb", true, px8p, 1, 1, 4, 1, 0xFF},
        {"rgb565.bmp", "rgb565.rgb", false, px24RGB, 0, 0, 5, 3, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.File) + (c.Native ? " native" : ""));
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        p.NativePixelFormat = c.Native;
        p.BMPCompression = 7;
        TRead r = ReadBytes(FixtureBytes(c.File), b, p);
        ASSERT_FALSE(r.Aborted);
        EXPECT_EQ(b.GetPixelFormat(), c.Format);
        EXPECT_EQ(p.BMPVersion, c.Version);
        EXPECT_EQ(p.BMPCompression, c.Compression);
        EXPECT_EQ(p.BitsPerSample, c.BitsPerSample);
        EXPECT_EQ(p.SamplesPerPixel, c.SamplesPerPixel);
        EXPECT_EQ(p.Width, b.GetWidth());
        EXPECT_EQ(p.Height, b.GetHeight());
        EXPECT_GT(p.Height, 0);
        const std::vector<uint8_t> expected = FixtureBytes(c.Expected);
        ASSERT_EQ(expected.size(), static_cast<size_t>(3 * b.GetWidth() * b.GetHeight()));
        std::vector<uint8_t> got = RGBBytes(b);
        if (c.Keep == 0) {
            // Red and blue keep their top 5 bits, green its top 6 (565).
            std::vector<uint8_t> want = expected;
            for (size_t i = 0; i < want.size(); ++i)
                want[i] &= (i % 3 == 1) ? 0xFC : 0xF8;
            EXPECT_EQ(got, want);
        } else {
            EXPECT_EQ(got, expected);
        }
        EXPECT_FALSE(r.Mask);
        if (c.Native) {
            EXPECT_EQ(b.PaletteCapacity, c.BitsPerSample == 4 ? 16 : 256);
        }
    }
}

TEST(BmpReaderTest, FileHeldImagesDecodeLikeMemoryImages)
{
    // Rows of file-held images are reached one at a time: row loops, the
    // run-length decoders (with deltas) and the alpha mask must not depend
    // on several rows being mapped at once.
    struct TCase {
        const char* File;
        bool Native;
    };
    for (const TCase& c : {TCase{"rle8delta.bmp", true}, TCase{"rle4.bmp", false}, TCase{"topdown24.bmp", false},
                           TCase{"pal8.bmp", true}, TCase{"rgba32.bmp", false}}) {
        SCOPED_TRACE(c.File);
        TPxBitmap mem;
        TIOParamsVals p1(nullptr);
        p1.NativePixelFormat = c.Native;
        TRead r1 = ReadBytes(FixtureBytes(c.File), mem, p1, false);
        ASSERT_FALSE(r1.Aborted);
        TPxBitmap file;
        file.FileThreshold = 1;
        TIOParamsVals p2(nullptr);
        p2.NativePixelFormat = c.Native;
        TRead r2 = ReadBytes(FixtureBytes(c.File), file, p2, false);
        ASSERT_FALSE(r2.Aborted);
        ASSERT_EQ(file.GetLocation(), pxFile);
        EXPECT_EQ(RGBBytes(file), RGBBytes(mem));
        ASSERT_EQ(static_cast<bool>(r1.Mask), static_cast<bool>(r2.Mask));
        if (r1.Mask) {
            EXPECT_EQ(std::memcmp(r1.Mask->GetBits(), r2.Mask->GetBits(),
                                  static_cast<size_t>(r1.Mask->RowLen * r1.Mask->Height)),
                      0);
        }

        // And written back from the file-held image.
        TIOParamsVals w(nullptr);
        w.SamplesPerPixel = c.Native ? 1 : 3;
        w.BMPCompression = 1;
        classlib::TMemoryStream m;
        bool aborting = false;
        TPxIOProgressInfo progress;
        progress.Aborting = &aborting;
        PxWriteBMP(&m, &file, w, false, progress);
        ASSERT_FALSE(aborting);
        TPxBitmap back;
        TIOParamsVals q(nullptr);
        ASSERT_FALSE(ReadBytes(StreamBytes(m), back, q).Aborted);
        EXPECT_EQ(RGBBytes(back), RGBBytes(mem));
    }
}

TEST(BmpReaderTest, OneBitBlackAndWhiteFilesKeepOneAsWhite)
{
    // mono.bmp has the table black, white; whiteblack1.bmp is the same
    // picture with the table swapped and every bit inverted.
    const std::vector<uint8_t> expected = FixtureBytes("mono.gray");
    for (const char* name : {"mono.bmp", "whiteblack1.bmp"}) {
        SCOPED_TRACE(name);
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        ASSERT_FALSE(ReadBytes(FixtureBytes(name), b, p).Aborted);
        ASSERT_EQ(b.GetPixelFormat(), px1g);
        ASSERT_EQ(expected.size(), static_cast<size_t>(b.GetWidth() * b.GetHeight()));
        for (int y = 0; y < b.GetHeight(); ++y)
            for (int x = 0; x < b.GetWidth(); ++x)
                EXPECT_EQ(b.GetPixelAsRGB(x, y).r, expected[y * b.GetWidth() + x]) << x << "," << y;
        EXPECT_EQ(p.ColorMapCount, 2);
    }
}

TEST(BmpReaderTest, FilesDecodeLikeOtherDecodersShowThem)
{
    // 1-bit tables other than black and white keep their colours (as a
    // palette image with NativePixelFormat); a run-length file whose
    // file-size field lies below the pixel offset decodes to its end code.
    struct TCase {
        const char* Name;
        bool Native;
        TPxPixelFormat Format;
    };
    const TCase cases[] = {{"redblue1", false, px24RGB}, {"redblue1", true, px8p}, {"whitered1", false, px24RGB},
                           {"rle8-size", false, px24RGB}, {"rle8-size", true, px8p}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Name) + (c.Native ? " native" : ""));
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        p.NativePixelFormat = c.Native;
        ASSERT_FALSE(ReadBytes(FixtureBytes(std::string(c.Name) + ".bmp"), b, p).Aborted);
        EXPECT_EQ(b.GetPixelFormat(), c.Format);
        const std::vector<uint8_t> expected = FixtureBytes(std::string(c.Name) + ".rgb");
        ASSERT_EQ(expected.size(), static_cast<size_t>(b.GetWidth() * b.GetHeight() * 3));
        for (int y = 0; y < b.GetHeight(); ++y)
            for (int x = 0; x < b.GetWidth(); ++x) {
                const TPxRGB px = b.GetPixelAsRGB(x, y);
                const uint8_t* e = &expected[(y * b.GetWidth() + x) * 3];
                EXPECT_EQ(px, (TPxRGB{e[2], e[1], e[0]})) << x << "," << y;
            }
    }
}

TEST(BmpReaderTest, ThirtyTwoBitAlphaBecomesAMaskOnlyWhenItSaysSomething)
{
    // ImageMagick's 32-bit file (124-byte header with bit-field masks).
    const std::vector<uint8_t> expected = FixtureBytes("rgba32.rgba");
    {
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        TRead r = ReadBytes(FixtureBytes("rgba32.bmp"), b, p, false);
        ASSERT_FALSE(r.Aborted);
        EXPECT_EQ(p.BMPVersion, 0);
        EXPECT_EQ(p.SamplesPerPixel, 4);
        ASSERT_TRUE(r.Mask);
        ASSERT_EQ(expected.size(), static_cast<size_t>(4 * b.GetWidth() * b.GetHeight()));
        for (int y = 0; y < b.GetHeight(); ++y)
            for (int x = 0; x < b.GetWidth(); ++x) {
                const size_t i = 4 * static_cast<size_t>(y * b.GetWidth() + x);
                const TPxRGB c = b.GetPixelRGB(x, y);
                EXPECT_EQ((std::vector<int>{c.r, c.g, c.b, r.Mask->GetPixel(x, y)}),
                          (std::vector<int>{expected[i], expected[i + 1], expected[i + 2], expected[i + 3]}))
                    << x << "," << y;
            }
        // IgnoreAlpha: no mask at all.
        TPxBitmap b2;
        TRead r2 = ReadBytes(FixtureBytes("rgba32.bmp"), b2, p, true);
        EXPECT_FALSE(r2.Mask);
    }
    // Hand-made 2 x 2 files: all fourth bytes 0, all 255, and a top-down
    // file with one transparent pixel at the top left.
    auto file = [](int32_t Height, uint8_t a00, uint8_t aRest) {
        std::vector<uint8_t> px;
        // File rows: first row first; a00 belongs to the image's top-left.
        const bool topDown = Height < 0;
        for (int fileRow = 0; fileRow < 2; ++fileRow) {
            const bool top = topDown ? fileRow == 0 : fileRow == 1;
            for (int x = 0; x < 2; ++x)
                px.insert(px.end(), {10, 20, 30, (top && x == 0) ? a00 : aRest});
        }
        return MakeBmp(2, Height, 32, 0, {}, px);
    };
    struct TCase {
        int32_t Height;
        uint8_t A00, ARest;
        bool MaskExpected;
    };
    for (const TCase& c : {TCase{2, 0, 0, false}, TCase{2, 255, 255, false}, TCase{-2, 7, 255, true},
                           TCase{2, 7, 255, true}}) {
        SCOPED_TRACE(c.Height);
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        TRead r = ReadBytes(file(c.Height, c.A00, c.ARest), b, p, false);
        ASSERT_FALSE(r.Aborted);
        ASSERT_EQ(static_cast<bool>(r.Mask), c.MaskExpected);
        EXPECT_EQ(b.GetPixelRGB(1, 1), (TPxRGB{10, 20, 30}));
        if (r.Mask) {
            EXPECT_EQ(r.Mask->GetPixel(0, 0), 7);
            EXPECT_EQ(r.Mask->GetPixel(1, 0), 255);
            EXPECT_EQ(r.Mask->GetPixel(0, 1), 255);
        }
    }
}

TEST(BmpReaderTest, HeaderFieldsAndParameters)
{
    // 8 bits, 300 colours used (taken as 256), 2835 pixels per metre, two
    // pixels of index 255.
    std::vector<uint8_t> table(1024, 0);
    table[4 * 255] = 9;
    table[4 * 255 + 1] = 8;
    table[4 * 255 + 2] = 7;
    {
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        ASSERT_FALSE(ReadBytes(MakeBmp(2, 1, 8, 0, table, {255, 255, 0, 0}, 300, 2835), b, p).Aborted);
        EXPECT_EQ(p.ColorMapCount, 256);
        EXPECT_EQ(p.ColorMap[255], (TPxRGB{9, 8, 7}));
        EXPECT_EQ(b.GetPixelRGB(1, 0), (TPxRGB{9, 8, 7}));
        EXPECT_EQ(p.DpiX, 72);
        EXPECT_EQ(p.DpiY, 72);
        EXPECT_EQ(p.ImageCount, 1);
    }
    // A 108-byte header: the table starts right after it.
    {
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        std::vector<uint8_t> t2{1, 2, 3, 0, 4, 5, 6, 0};
        ASSERT_FALSE(ReadBytes(MakeBmp(2, 1, 1, 0, t2, {0x40, 0, 0, 0}, 2, 0, 108), b, p).Aborted);
        EXPECT_EQ(p.BMPVersion, 0);
        ASSERT_EQ(p.ColorMapCount, 2);
        EXPECT_EQ(p.ColorMap[1], (TPxRGB{4, 5, 6}));
        EXPECT_EQ(p.DpiX, PxDefaultDpiX);
    }
    // Preview: parameters only, the bitmap untouched.
    {
        TPxBitmap b(3, 3, px8g);
        TIOParamsVals p(nullptr);
        ASSERT_FALSE(ReadBytes(FixtureBytes("rgb24.bmp"), b, p, true, true).Aborted);
        EXPECT_EQ(p.Width, 7);
        EXPECT_EQ(p.Height, 5);
        EXPECT_EQ(b.GetWidth(), 3);
        EXPECT_EQ(b.GetPixelFormat(), px8g);
    }
    // A bare bitmap without file header.
    {
        std::vector<uint8_t> f = FixtureBytes("rgb24.bmp");
        std::vector<uint8_t> bare(f.begin() + 14, f.end());
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        ASSERT_FALSE(ReadBytes(bare, b, p, true, false, true).Aborted);
        EXPECT_EQ(RGBBytes(b), FixtureBytes("rgb24.rgb"));
    }
    // 16 bits without bit fields: 5 bits per channel.
    {
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        std::vector<uint8_t> px;
        Add16(px, (31u << 10) | (1u << 5) | 16u);
        Add16(px, 0);
        ASSERT_FALSE(ReadBytes(MakeBmp(1, 1, 16, 0, {}, px), b, p).Aborted);
        EXPECT_EQ(b.GetPixelRGB(0, 0), (TPxRGB{128, 8, 248}));
        EXPECT_EQ(p.BitsPerSample, 5);
    }
}

TEST(BmpReaderTest, ProgressAndTheAbortingFlagEndTheRowLoop)
{
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    TRead r = ReadBytes(FixtureBytes("rgb24.bmp"), b, p);
    EXPECT_EQ(r.Percents, (std::vector<int>{0, 20, 40, 60, 80}));

    // A handler that aborts at 40 percent: the rows after it stay unread.
    TPxBitmap b2;
    b2.Allocate(7, 5, px24RGB);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    progress.Handler = TPxProgressEvent::FromFunction(
        [](void* c, classlib::TObject*, int per) {
            if (per >= 40)
                *static_cast<bool*>(c) = true;
        },
        &aborting);
    classlib::TMemoryStream m;
    std::unique_ptr<TPxMask> mask;
    PxReadBMP(StreamOf(m, FixtureBytes("rgb24.bmp")), &b2, 0, p, progress, false, false, mask, true);
    EXPECT_TRUE(aborting);
    EXPECT_EQ(m.GetPosition(), 54 + 2 * 24);  // two rows of 24 bytes read
}

TEST(BmpReaderTest, DamagedFilesFailCleanly)
{
    const std::vector<uint8_t> good = FixtureBytes("rgb24.bmp");
    auto patched = [&](size_t At, std::vector<uint8_t> Bytes) {
        std::vector<uint8_t> f = good;
        std::copy(Bytes.begin(), Bytes.end(), f.begin() + static_cast<std::ptrdiff_t>(At));
        return f;
    };
    struct TCase {
        const char* What;
        std::vector<uint8_t> Bytes;
        bool Aborts;
    };
    std::vector<uint8_t> rleTable(64, 0);
    // Red, green and blue masks 0x80000, 0x20000, 0x10000.
    const std::vector<uint8_t> highMasks = {0, 0, 8, 0, 0, 0, 2, 0, 0, 0, 1, 0};
    const std::vector<uint8_t> cutRle = FixtureBytes("rle8-cut.bmp");
    std::vector<uint8_t> cutRleSizeKept = cutRle;
    cutRleSizeKept[2] = static_cast<uint8_t>(cutRle.size());
    const TCase cases[] = {
        {"empty", {}, true},
        {"not BM", patched(0, {'B', 'A'}), true},
        {"cut in the header", std::vector<uint8_t>(good.begin(), good.begin() + 30), true},
        {"cut in the rows", std::vector<uint8_t>(good.begin(), good.end() - 10), true},
        {"header size beyond the file", patched(14, {0xFF, 0xFF, 0xFF, 0x7F}), true},
        {"header size 5", patched(14, {5, 0, 0, 0}), true},
        {"pixel offset beyond the file", patched(10, {0xFF, 0xFF, 0, 0}), true},
        {"negative width", patched(18, {0xFF, 0xFF, 0xFF, 0xFF}), true},
        {"lowest height", patched(22, {0, 0, 0, 0x80}), true},
        {"huge size, little data", patched(18, {0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0}), true},
        {"colour table cut", MakeBmp(1, 1, 8, 0, std::vector<uint8_t>(100, 0), {}, 256), true},
        {"RLE8 huge size, 4 bytes of codes", MakeBmp(100000, 100000, 8, 1, rleTable, {5, 1, 0, 1}, 16), true},
        // Image data size and file size both past the end: a cut-off file.
        // With the file size agreeing with the file, the codes there decode.
        {"RLE8 file cut short of both sizes", cutRle, true},
        {"RLE8 image size alone past the end", cutRleSizeKept, false},
        // Codes cut off or moving out of the image: decoding stops, the file
        // still counts as read.
        {"RLE8 run without its value", MakeBmp(4, 2, 8, 1, rleTable, {3}, 16), false},
        {"RLE8 absolute run cut", MakeBmp(4, 2, 8, 1, rleTable, {0, 9, 1, 2}, 16), false},
        {"RLE8 delta cut", MakeBmp(4, 2, 8, 1, rleTable, {0, 2, 1}, 16), false},
        {"RLE8 delta below the image", MakeBmp(4, 2, 8, 1, rleTable, {0, 2, 0, 9, 5, 1}, 16), false},
        {"RLE8 lines past the last", MakeBmp(4, 2, 8, 1, rleTable, {0, 0, 0, 0, 0, 0, 2, 3}, 16), false},
        {"RLE4 long runs", MakeBmp(3, 2, 4, 2, rleTable, {255, 0x12, 0, 200, 1, 2}, 16), false},
        // A compression the depth does not use has no pixels to give.
        {"unsupported compression", MakeBmp(2, 2, 8, 4, rleTable, {1, 2, 3, 4}, 16), true},
        {"unknown compression", MakeBmp(2, 2, 8, 7, rleTable, {1, 2, 3, 4}, 16), true},
        {"RLE4 code on 8 bits", MakeBmp(2, 2, 8, 2, rleTable, {2, 1, 0, 1}, 16), true},
        {"16-bit fields above the pixel", MakeBmp(2, 2, 16, 3, highMasks, {1, 2, 3, 4, 5, 6, 7, 8}, 0), true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        p.NativePixelFormat = true;
        TRead r = ReadBytes(c.Bytes, b, p);
        EXPECT_EQ(r.Aborted, c.Aborts);
        EXPECT_LE(static_cast<int64_t>(b.GetWidth()) * b.GetHeight(), 100);
    }
}

TEST(BmpReaderTest, RunLengthDecodersKeepInsideTheRow)
{
    // Pixels past the width are dropped (encoders code the row padding as
    // pixels: rle8.bmp above shows it). TopRow height - 1 puts the first
    // file row at the top.
    TPxBitmap b(3, 2, px8p);
    b.Fill(0);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    const uint8_t codes8[] = {2, 7, 0, 3, 8, 9, 4, 0, 0, 0, 1, 5};
    PxDecodeRLE8ToIndex(&b, codes8, sizeof(codes8), 1, progress);
    EXPECT_EQ(std::vector<int>({b.GetScanline(0)[0], b.GetScanline(0)[1], b.GetScanline(0)[2]}),
              std::vector<int>({7, 7, 8}));
    EXPECT_EQ(b.GetScanline(1)[0], 5);

    TPxBitmap c(3, 1, px8p);
    c.Fill(0);
    const uint8_t codes4[] = {5, 0x12, 0, 1};
    PxDecodeRLE4ToIndex(&c, codes4, sizeof(codes4), 0, progress);
    EXPECT_EQ(std::vector<int>({c.GetScanline(0)[0], c.GetScanline(0)[1], c.GetScanline(0)[2]}),
              std::vector<int>({1, 2, 1}));

    // Colour variant: an index beyond the table is black.
    TPxBitmap d(2, 1, px24RGB);
    const TPxRGB map[2] = {{1, 2, 3}, {4, 5, 6}};
    const uint8_t codes[] = {1, 1, 1, 9};
    PxDecodeRLE8ToRGB(&d, codes, sizeof(codes), 0, progress, map, 2);
    EXPECT_EQ(d.GetPixelRGB(0, 0), (TPxRGB{4, 5, 6}));
    EXPECT_EQ(d.GetPixelRGB(1, 0), (TPxRGB{0, 0, 0}));
    EXPECT_FALSE(aborting);
}

TEST(BmpRleEncoderTest, RowsCodeAsTheFormatSays)
{
    struct TCase {
        const char* What;
        bool Four;
        std::vector<uint8_t> Indices;
        std::vector<uint8_t> Codes;
    };
    std::vector<uint8_t> long8(300, 4);
    std::vector<uint8_t> mixed{1, 2, 3, 3, 3, 4, 5};
    const TCase cases[] = {
        {"run", false, {9, 9, 9, 9}, {4, 9, 0, 0}},
        {"single", false, {9}, {1, 9, 0, 0}},
        {"pair", false, {1, 2}, {1, 1, 1, 2, 0, 0}},
        {"odd absolute run", false, {1, 2, 3}, {0, 3, 1, 2, 3, 0, 0, 0}},
        {"even absolute run", false, {1, 2, 3, 4}, {0, 4, 1, 2, 3, 4, 0, 0}},
        {"mixed", false, mixed, {1, 1, 1, 2, 3, 3, 1, 4, 1, 5, 0, 0}},
        {"run longer than 255", false, long8, {255, 4, 45, 4, 0, 0}},
        {"4-bit run", true, {3, 3, 3}, {3, 0x33, 0, 0}},
        {"4-bit single", true, {7}, {1, 0x70, 0, 0}},
        {"4-bit pair", true, {1, 2}, {2, 0x12, 0, 0}},
        {"4-bit odd absolute run of 5", true, {1, 2, 3, 4, 5}, {0, 5, 0x12, 0x34, 0x50, 0, 0, 0}},
        {"4-bit absolute run of 4", true, {1, 2, 3, 4}, {0, 4, 0x12, 0x34, 0, 0}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        std::vector<uint8_t> out(2 * c.Indices.size() + 2, 0xEE);
        const int n = c.Four ? PxEncodeRLE4Row(c.Indices.data(), static_cast<int>(c.Indices.size()), out.data())
                             : PxEncodeRLE8Row(c.Indices.data(), static_cast<int>(c.Indices.size()), out.data());
        out.resize(static_cast<size_t>(n));
        EXPECT_EQ(out, c.Codes);
    }
    // A long row without runs: absolute runs of at most 255 that decode back.
    std::vector<uint8_t> row(600);
    for (size_t i = 0; i < row.size(); ++i)
        row[i] = static_cast<uint8_t>(i * 7 % 251);
    std::vector<uint8_t> out(2 * row.size() + 2);
    const int n = PxEncodeRLE8Row(row.data(), static_cast<int>(row.size()), out.data());
    TPxBitmap b(600, 1, px8p);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    PxDecodeRLE8ToIndex(&b, out.data(), n, 0, progress);
    EXPECT_EQ(std::vector<uint8_t>(b.GetScanline(0), b.GetScanline(0) + 600), row);
}

namespace {

struct TWrite {
    bool Aborted = false;
    std::vector<uint8_t> Bytes;
};

TWrite WriteBmp(TPxBitmap& b, TIOParamsVals& p, bool SaveAlpha = false, int64_t Start = 0)
{
    TWrite w;
    classlib::TMemoryStream m;
    std::vector<uint8_t> lead(static_cast<size_t>(Start), 0xAA);
    if (Start)
        m.WriteBuffer(lead.data(), Start);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    PxWriteBMP(&m, &b, p, SaveAlpha, progress);
    w.Aborted = aborting;
    w.Bytes = StreamBytes(m);
    w.Bytes.erase(w.Bytes.begin(), w.Bytes.begin() + Start);
    return w;
}

}  // namespace

TEST(BmpWriterTest, WritesEveryLayoutAndReadsItBack)
{
    PxDefsInit();  // grey weights: the darker of two colours
    auto colour = Picture(5, 3);
    // A picture of few colours for the palette layouts (exact palettes).
    TPxBitmap few(7, 3, px24RGB);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 7; ++x)
            few.SetPixelRGB(x, y, x < 4 ? TPxRGB{200, 10, 10} : TPxRGB{static_cast<uint8_t>(y * 50), 90, 250});
    PxInstallPixelFormatConversion();
    TPxBitmap bilevel(9, 2, px1g);
    bilevel.Fill(0);
    bilevel.GetScanline(0)[0] = 0x80;  // (0, 0) white
    bilevel.GetScanline(1)[1] = 0x80;  // (8, 1) white
    TPxBitmap two(4, 2, px24RGB);
    two.Fill(0x00FF00);  // green
    two.SetPixelRGB(1, 1, TPxRGB{0, 0, 90});

    struct TCase {
        const char* What;
        TPxBitmap* Image;
        int BitsPerSample, Samples, Version, Compression;
        int Bits, HeaderSize, FileCompression, ColorsUsed;
        uint32_t Important;
    };
    const TCase cases[] = {
        {"24 bits", colour.get(), 8, 3, 1, 0, 24, 40, 0, 0, 16777216},
        {"24 bits, core header", colour.get(), 8, 3, 2, 0, 24, 12, -1, 0, 0},
        {"24 bits, 64-byte header", colour.get(), 8, 3, 3, 0, 24, 64, 0, 0, 16777216},
        {"8 bits", &few, 8, 1, 1, 0, 8, 40, 0, 256, 256},
        {"8 bits RLE", &few, 8, 1, 1, 1, 8, 40, 1, 256, 256},
        {"4 bits", &few, 4, 1, 1, 0, 4, 40, 0, 16, 16},
        {"4 bits RLE", &few, 4, 1, 1, 1, 4, 40, 2, 16, 16},
        {"4 bits, core header ignores RLE", &few, 4, 1, 2, 1, 4, 12, -1, 0, 0},
        {"1 bit px1g", &bilevel, 1, 1, 1, 0, 1, 40, 0, 2, 2},
        {"1 bit two colours", &two, 1, 1, 1, 0, 1, 40, 0, 2, 2},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TIOParamsVals p(nullptr);
        p.BitsPerSample = c.BitsPerSample;
        p.SamplesPerPixel = c.Samples;
        p.BMPVersion = static_cast<uint8_t>(c.Version);
        p.BMPCompression = static_cast<uint8_t>(c.Compression);
        p.DpiX = 72;
        p.DpiY = 150;
        TWrite w = WriteBmp(*c.Image, p);
        ASSERT_FALSE(w.Aborted);
        const std::vector<uint8_t>& f = w.Bytes;
        ASSERT_GT(f.size(), 54u);
        EXPECT_EQ(f[0], 'B');
        EXPECT_EQ(Le32(f, 2), f.size());
        EXPECT_EQ(Le32(f, 14), static_cast<uint32_t>(c.HeaderSize));
        const uint32_t offset = Le32(f, 10);
        if (c.HeaderSize == 12) {
            EXPECT_EQ(Le16(f, 24), c.Bits);
            EXPECT_EQ(offset, 14u + 12 + (c.Bits <= 8 ? 3u << c.Bits : 0u));
        } else {
            EXPECT_EQ(Le16(f, 28), c.Bits);
            EXPECT_EQ(Le32(f, 30), static_cast<uint32_t>(c.FileCompression));
            EXPECT_EQ(Le32(f, 34), f.size() - offset);
            EXPECT_EQ(Le32(f, 38), 2835u);  // 72 dpi
            EXPECT_EQ(Le32(f, 42), 5906u);  // 150 dpi
            EXPECT_EQ(Le32(f, 46), static_cast<uint32_t>(c.ColorsUsed));
            EXPECT_EQ(Le32(f, 50), c.Important);
            EXPECT_EQ(offset, 14u + c.HeaderSize + (c.Bits <= 8 ? 4u << c.Bits : 0u));
        }
        if (c.FileCompression == 1 || c.FileCompression == 2) {
            // Every row ends 0 0 and the data end 0 0 0 1.
            EXPECT_EQ(std::vector<uint8_t>(f.end() - 4, f.end()), (std::vector<uint8_t>{0, 0, 0, 1}));
        }
        TPxBitmap back;
        TIOParamsVals q(nullptr);
        TRead r = ReadBytes(f, back, q);
        ASSERT_FALSE(r.Aborted);
        if (c.Image == &two) {
            // The two colours come back through the table, darker first.
            EXPECT_EQ(back.GetPixelFormat(), px24RGB);
            EXPECT_EQ(RGBBytes(back), RGBBytes(two));
            EXPECT_EQ(q.ColorMap[0], (TPxRGB{0, 0, 90}));
        } else {
            EXPECT_EQ(RGBBytes(back), RGBBytes(*c.Image));
        }
        if (c.HeaderSize != 12) {
            EXPECT_EQ(q.DpiX, 72);
            EXPECT_EQ(q.DpiY, 150);
        }
    }
    // The two colours of a two-colour image form the table, darker first.
    TIOParamsVals p(nullptr);
    p.BitsPerSample = 1;
    p.SamplesPerPixel = 1;
    TWrite w = WriteBmp(two, p);
    EXPECT_EQ(std::vector<uint8_t>(w.Bytes.begin() + 54, w.Bytes.begin() + 62),
              (std::vector<uint8_t>{0, 0, 90, 0, 0, 255, 0, 0}));
}

TEST(BmpWriterTest, AlphaConvertedSourcesAndShortWrites)
{
    // 32 bits: blue, green, red, alpha; colours important 1; reads back with
    // its mask. The source stays as it was.
    auto b = Picture(3, 2);
    b->SetAlpha(1, 0, 60);
    TIOParamsVals p(nullptr);
    TWrite w = WriteBmp(*b, p, true, 12);
    ASSERT_FALSE(w.Aborted);
    EXPECT_EQ(Le16(w.Bytes, 28), 32);
    EXPECT_EQ(Le32(w.Bytes, 50), 1u);
    EXPECT_EQ(Le32(w.Bytes, 10), 54u);  // offsets count from the file's start
    TPxBitmap back;
    TIOParamsVals q(nullptr);
    TRead r = ReadBytes(w.Bytes, back, q, false);
    ASSERT_TRUE(r.Mask);
    EXPECT_EQ(r.Mask->GetPixel(1, 0), 60);
    EXPECT_EQ(r.Mask->GetPixel(0, 0), 255);
    EXPECT_EQ(RGBBytes(back), RGBBytes(*b));

    // 32 bits without an alpha channel: 255, and none is created.
    auto plain = Picture(2, 2);
    w = WriteBmp(*plain, p, true);
    EXPECT_EQ(w.Bytes[54 + 3], 255);
    EXPECT_FALSE(plain->HasAlphaChannel());

    // A grey image written at 24 bits is converted on a copy.
    PxInstallPixelFormatConversion();
    TPxBitmap grey(3, 1, px8g);
    grey.SetPixelGray8(0, 0, 10);
    grey.SetPixelGray8(1, 0, 128);
    grey.SetPixelGray8(2, 0, 250);
    TIOParamsVals g(nullptr);
    g.SamplesPerPixel = 3;
    w = WriteBmp(grey, g);
    ASSERT_FALSE(w.Aborted);
    EXPECT_EQ(std::vector<uint8_t>(w.Bytes.begin() + 54, w.Bytes.begin() + 63),
              (std::vector<uint8_t>{10, 10, 10, 128, 128, 128, 250, 250, 250}));
    EXPECT_EQ(grey.GetPixelFormat(), px8g);

    // A core header cannot hold more than 65535 pixels a side.
    TPxBitmap wide(70000, 1, px24RGB);
    TIOParamsVals c(nullptr);
    c.BMPVersion = 2;
    w = WriteBmp(wide, c);
    EXPECT_TRUE(w.Aborted);
    EXPECT_TRUE(w.Bytes.empty());
}

namespace {

// A stream that takes at most Limit bytes in all.
class TShortStream : public classlib::TMemoryStream {
public:
    explicit TShortStream(int64_t Limit) : limit_(Limit) {}
    int64_t Write(const void* Buffer, int64_t Count) override
    {
        const int64_t room = std::max<int64_t>(0, limit_ - GetPosition());
        return classlib::TMemoryStream::Write(Buffer, std::min(Count, room));
    }

private:
    int64_t limit_;
};

}  // namespace

TEST(BmpWriterTest, ShortWriteLeavesThePlaceholderHeaders)
{
    auto b = Picture(5, 4);
    TIOParamsVals p(nullptr);
    TShortStream s(100);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    PxWriteBMP(&s, b.get(), p, false, progress);
    EXPECT_TRUE(aborting);
    const std::vector<uint8_t> f = StreamBytes(s);
    ASSERT_GE(f.size(), 14u);
    EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 14),
              (std::vector<uint8_t>{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(BmpFormatTest, LoadsAndSavesThroughTheIOObject)
{
    PxInstallBMPFormat();
    const bool existed = PxFormatRegistryExists();
    if (!existed)
        PxBuildFormatRegistry();
    PxInstallBMPFormat();
    {
        // BMPWriteAlpha saves 32 bits with alpha and loads it back as the
        // alpha channel.
        auto b = Picture(4, 3);
        b->SetAlpha(2, 1, 0);
        auto io = TImgIO::CreateForBitmap(b.get());
        io->FileParams->BMPWriteAlpha = true;
        classlib::TMemoryStream m;
        io->SaveBMPToStream(&m);
        ASSERT_FALSE(io->AbortFlag);
        m.SetPosition(0);
        EXPECT_EQ(PxDetectStreamFormat(m), ffBMP);

        TPxBitmap back;
        auto in = TImgIO::CreateForBitmap(&back);
        in->FileParams->BMPWriteAlpha = true;
        m.SetPosition(0);
        in->LoadBMPFromStream(&m);
        ASSERT_FALSE(in->AbortFlag);
        ASSERT_TRUE(back.HasAlphaChannel());
        EXPECT_EQ(back.GetAlpha(2, 1), 0);
        EXPECT_EQ(back.GetAlpha(1, 1), 255);
        EXPECT_EQ(in->FileParams->FileFormat, ffBMP);

        // Without BMPWriteAlpha the alpha is ignored on load.
        in->FileParams->BMPWriteAlpha = false;
        m.SetPosition(0);
        in->LoadBMPFromStream(&m);
        EXPECT_FALSE(back.HasAlphaChannel());
    }
    if (!existed)
        PxFreeFormatRegistry();
}
