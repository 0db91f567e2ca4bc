// Icon and cursor reader and icon writer: decodes compared with ImageMagick's
// decode of the same files (tests/fixtures/io/ico/make_fixtures.sh),
// hand-made directories and damaged data, and write-then-read round trips.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/formats/ico/IcoReader.h"
#include "imaging/io/formats/ico/IcoWriter.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ImgIOCounters.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxMask.h"
#include "imaging/proc/PxConvert.h"
#include "support/Fixtures.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

std::vector<uint8_t> FixtureBytes(const std::string& Dir, const std::string& Name)
{
    return testsupport::FixtureBytes(L"io\\" + std::wstring(Dir.begin(), Dir.end()), Name);
}

std::vector<uint8_t> Ico(const std::string& Name) { return FixtureBytes("ico", Name); }

struct TRead {
    bool Aborted = false;
    std::unique_ptr<TPxMask> Mask;
};

TRead ReadIcon(const std::vector<uint8_t>& Bytes, TPxBitmap& Bitmap, TIOParamsVals& Params, bool Cursor = false,
               bool IgnoreAlpha = false, bool Preview = false, int64_t Start = 0)
{
    TRead r;
    classlib::TMemoryStream m;
    if (!Bytes.empty())
        m.WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    m.SetPosition(Start);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    if (Cursor)
        PxReadCUR(&m, &Bitmap, Params, IgnoreAlpha, r.Mask, progress, Preview);
    else
        PxReadICO(&m, &Bitmap, Params, IgnoreAlpha, r.Mask, progress, Preview);
    r.Aborted = aborting;
    return r;
}

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
uint32_t Le32(const std::vector<uint8_t>& d, size_t at)
{
    return d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (static_cast<uint32_t>(d[at + 3]) << 24);
}
uint16_t Le16(const std::vector<uint8_t>& d, size_t at) { return static_cast<uint16_t>(d[at] | (d[at + 1] << 8)); }

// A bitmap header of the given size (height counted twice) and the bytes
// that follow it.
std::vector<uint8_t> Dib(int32_t Width, int32_t Height2, int Bits, const std::vector<uint8_t>& Rest)
{
    std::vector<uint8_t> d;
    Add32(d, 40);
    Add32(d, static_cast<uint32_t>(Width));
    Add32(d, static_cast<uint32_t>(Height2));
    Add16(d, 1);
    Add16(d, static_cast<uint32_t>(Bits));
    d.resize(40, 0);
    d.insert(d.end(), Rest.begin(), Rest.end());
    return d;
}

struct TEntry {
    uint8_t Width, Height, Colours;
    uint16_t Planes, Bits;
    std::vector<uint8_t> Data;
};

std::vector<uint8_t> Directory(int Type, const std::vector<TEntry>& Entries)
{
    std::vector<uint8_t> f;
    Add16(f, 0);
    Add16(f, static_cast<uint32_t>(Type));
    Add16(f, static_cast<uint32_t>(Entries.size()));
    uint32_t offset = static_cast<uint32_t>(6 + 16 * Entries.size());
    for (const TEntry& e : Entries) {
        f.insert(f.end(), {e.Width, e.Height, e.Colours, 0});
        Add16(f, e.Planes);
        Add16(f, e.Bits);
        Add32(f, static_cast<uint32_t>(e.Data.size()));
        Add32(f, offset);
        offset += static_cast<uint32_t>(e.Data.size());
    }
    for (const TEntry& e : Entries)
        f.insert(f.end(), e.Data.begin(), e.Data.end());
    return f;
}

// A 24-bit 2 x 2 image (rows bottom-up: blue, green, red, pad) whose mask
// marks the top-left pixel.
std::vector<uint8_t> Small24()
{
    return Dib(2, 4, 24, {1, 1, 1, 2, 2, 2, 0, 0, 3, 3, 3, 4, 4, 4, 0, 0,  // colour rows
                          0, 0, 0, 0, 0x80, 0, 0, 0});                     // mask rows
}

std::unique_ptr<TPxBitmap> Picture(int w, int h)
{
    auto b = std::make_unique<TPxBitmap>(w, h, px24RGB);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b->SetPixelRGB(x, y, x < w / 2 ? TPxRGB{200, 40, 10} : TPxRGB{220, 230, 250});
    return b;
}

}  // namespace

TEST(IcoReaderTest, DecodesIconsLikeImageMagick)
{
    const TPxRGB background{7, 8, 9};
    struct TCase {
        const char* File;
        const char* Expected;
        bool Cursor;
        bool MaskExpected;
        int Bits;
    };
    const TCase cases[] = {
        {"icon4.ico", "icon4.rgba", false, true, 4},
        {"icon8.ico", "icon8.rgba", false, false, 8},
        {"icon24.ico", "icon24.rgba", false, true, 24},
        {"im32.ico", "im32.rgba", false, true, 32},
        {"cursor4.cur", "cursor4.rgba", true, true, 4},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.File);
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        p.ICOBackground = background;
        p.CURBackground = background;
        TRead r = ReadIcon(Ico(c.File), b, p, c.Cursor);
        ASSERT_FALSE(r.Aborted);
        ASSERT_EQ(b.GetPixelFormat(), px24RGB);
        ASSERT_EQ(static_cast<bool>(r.Mask), c.MaskExpected);
        EXPECT_EQ(p.Width, b.GetWidth());
        EXPECT_EQ(p.Height, b.GetHeight());
        const std::vector<uint8_t> expected = Ico(c.Expected);
        ASSERT_EQ(expected.size(), static_cast<size_t>(4 * b.GetWidth() * b.GetHeight()));
        for (int y = 0; y < b.GetHeight(); ++y)
            for (int x = 0; x < b.GetWidth(); ++x) {
                SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
                const uint8_t* e = &expected[4 * static_cast<size_t>(y * b.GetWidth() + x)];
                const TPxRGB got = b.GetPixelRGB(x, y);
                if (e[3] == 0 && c.Bits <= 8)
                    EXPECT_EQ(got, background);
                else
                    EXPECT_EQ(got, (TPxRGB{e[2], e[1], e[0]}));
                if (r.Mask) {
                    EXPECT_EQ(r.Mask->GetPixel(x, y), e[3]);
                }
            }
        if (c.Cursor) {
            EXPECT_EQ(p.CURXHotSpot, 3);
            EXPECT_EQ(p.CURYHotSpot, 2);
            EXPECT_EQ(p.BitsPerSample, 4);
        } else {
            EXPECT_EQ(p.ICOSizes[0], (TPxICOSize{b.GetWidth(), b.GetHeight()}));
            EXPECT_EQ(p.ICOBitCounts[0], c.Bits);
            EXPECT_EQ(p.ICOSizes[1], (TPxICOSize{}));
        }
    }
}

TEST(IcoReaderTest, OneBitIconsShowTheBackgroundAndInvertedPixelsItsOpposite)
{
    // icon1.ico, top row: colour bits 0 1 0 1 1 0 1 0, pixels 0 and 1
    // transparent. The other pixels show their colour bit.
    const std::vector<uint8_t> expected = Ico("icon1.rgba");
    for (bool whiteBackground : {true, false}) {
        SCOPED_TRACE(whiteBackground);
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        p.ICOBackground = whiteBackground ? TPxRGB{255, 255, 255} : TPxRGB{0, 0, 0};
        TRead r = ReadIcon(Ico("icon1.ico"), b, p);
        ASSERT_FALSE(r.Aborted);
        ASSERT_EQ(b.GetPixelFormat(), px1g);
        ASSERT_TRUE(r.Mask);
        EXPECT_EQ(b.GetPixelAsRGB(0, 0).r, whiteBackground ? 255 : 0);  // transparent, bit 0
        EXPECT_EQ(b.GetPixelAsRGB(1, 0).r, whiteBackground ? 0 : 255);  // transparent, bit 1
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 8; ++x) {
                const uint8_t* e = &expected[4 * static_cast<size_t>(y * 8 + x)];
                EXPECT_EQ(r.Mask->GetPixel(x, y), e[3]) << x << "," << y;
                if (e[3] != 0) {
                    EXPECT_EQ(b.GetPixelAsRGB(x, y).r, e[0]) << x << "," << y;
                }
            }
    }
}

TEST(IcoReaderTest, NativeFormatsMasksAndCursors)
{
    // A 4-bit icon read natively with IgnoreAlpha: each pixel keeps its own
    // index, the caller's mask is not touched.
    {
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        p.NativePixelFormat = true;
        TRead r;
        r.Mask = std::make_unique<TPxMask>();
        r.Mask->AllocateBits(1, 1, 8);
        classlib::TMemoryStream m;
        const std::vector<uint8_t> bytes = Ico("icon4.ico");
        m.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
        m.SetPosition(0);
        bool aborting = false;
        TPxIOProgressInfo progress;
        progress.Aborting = &aborting;
        PxReadICO(&m, &b, p, true, r.Mask, progress, false);
        ASSERT_FALSE(aborting);
        ASSERT_EQ(b.GetPixelFormat(), px8p);
        EXPECT_EQ(std::vector<uint8_t>(b.GetScanline(0), b.GetScanline(0) + 5), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
        EXPECT_EQ(std::vector<uint8_t>(b.GetScanline(1), b.GetScanline(1) + 5),
                  (std::vector<uint8_t>{15, 14, 13, 12, 11}));
        EXPECT_EQ(b.GetPaletteEntry(15), p.ColorMap[15]);
        EXPECT_EQ(r.Mask->Width, 1);
    }
    // The opaque 8-bit icon as a cursor: the mask comes back as built.
    {
        std::vector<uint8_t> cur = Ico("icon8.ico");
        cur[2] = 2;
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        TRead r = ReadIcon(cur, b, p, true);
        ASSERT_FALSE(r.Aborted);
        ASSERT_TRUE(r.Mask);
        EXPECT_EQ(r.Mask->GetPixel(0, 0), 255);
        EXPECT_EQ(r.Mask->GetPixel(2, 1), 255);
        EXPECT_EQ(b.GetPixelRGB(1, 0), p.ColorMap[200]);
    }
    // A 32-bit icon whose alpha bytes are all 0 takes its mask rows.
    {
        const std::vector<uint8_t> data = Dib(2, 2, 32, {1, 2, 3, 0, 4, 5, 6, 0, 0x40, 0, 0, 0});
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        TRead r = ReadIcon(Directory(1, {{2, 1, 0, 1, 32, data}}), b, p);
        ASSERT_FALSE(r.Aborted);
        ASSERT_TRUE(r.Mask);
        EXPECT_EQ(r.Mask->GetPixel(0, 0), 255);
        EXPECT_EQ(r.Mask->GetPixel(1, 0), 0);
        EXPECT_EQ(b.GetPixelRGB(1, 0), (TPxRGB{4, 5, 6}));
        EXPECT_EQ(p.SamplesPerPixel, 4);
    }
    // 24 bits without mask rows in the stream: read without them.
    {
        std::vector<uint8_t> data = Small24();
        data.resize(data.size() - 8);
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        TRead r = ReadIcon(Directory(1, {{2, 2, 0, 1, 24, data}}), b, p);
        ASSERT_FALSE(r.Aborted);
        EXPECT_FALSE(r.Mask);
        EXPECT_EQ(b.GetPixelRGB(0, 0), (TPxRGB{3, 3, 3}));
    }
}

TEST(IcoReaderTest, DirectoryChoiceSizesAndEmbeddedBitmaps)
{
    // An entry of width 0 is never chosen: the last entry is read instead.
    // ICOSizes list only entries with a size.
    {
        const std::vector<uint8_t> file = Directory(1, {{0, 0, 0, 1, 24, Small24()}, {2, 2, 0, 1, 24, Small24()}});
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        p.ICOImageIndex = 0;
        ASSERT_FALSE(ReadIcon(file, b, p).Aborted);
        EXPECT_EQ(b.GetWidth(), 2);
        EXPECT_EQ(p.ICOSizes[0], (TPxICOSize{}));
        EXPECT_EQ(p.ICOSizes[1], (TPxICOSize{2, 2}));
        EXPECT_EQ(p.ICOBitCounts[1], 24);
    }
    // An entry of 1 x 1 whose header says 2 x 4: the header wins (2 x 2).
    {
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        ASSERT_FALSE(ReadIcon(Directory(1, {{1, 1, 0, 1, 24, Small24()}}), b, p).Aborted);
        EXPECT_EQ(b.GetWidth(), 2);
        EXPECT_EQ(b.GetHeight(), 2);
    }
    // Bit count 0 in header and entry: the colour count decides (16 -> 4).
    {
        std::vector<uint8_t> data = Dib(2, 2, 0, std::vector<uint8_t>(64, 0));
        data.insert(data.end(), {0x12, 0, 0, 0, 0, 0, 0, 0});
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        ASSERT_FALSE(ReadIcon(Directory(1, {{2, 1, 16, 1, 0, data}}), b, p).Aborted);
        EXPECT_EQ(p.BitsPerSample, 4);
        EXPECT_EQ(p.ICOBitCounts[0], 4);
    }
    // A stream that starts with "BM" is read as a BMP.
    {
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        ASSERT_FALSE(ReadIcon(FixtureBytes("bmp", "rgb24.bmp"), b, p).Aborted);
        EXPECT_EQ(b.GetWidth(), 7);
        EXPECT_EQ(p.BMPVersion, 1);
    }
    // An icon at stream position 12; its count, position kept.
    {
        std::vector<uint8_t> file(12, 0xAA);
        const std::vector<uint8_t> icon = Ico("icon24.ico");
        file.insert(file.end(), icon.begin(), icon.end());
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        ASSERT_FALSE(ReadIcon(file, b, p, false, false, false, 12).Aborted);
        EXPECT_EQ(b.GetPixelRGB(0, 0), (TPxRGB{1, 2, 3}));

        classlib::TMemoryStream m;
        m.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
        m.SetPosition(12);
        EXPECT_EQ(PxCountICOImages(&m), 1);
        EXPECT_EQ(m.GetPosition(), 12);
    }
}

TEST(IcoReaderTest, DamagedFilesAndBadIndexes)
{
    const std::vector<uint8_t> good = Ico("icon4.ico");
    auto patched = [&](size_t At, std::vector<uint8_t> Bytes) {
        std::vector<uint8_t> f = good;
        std::copy(Bytes.begin(), Bytes.end(), f.begin() + static_cast<std::ptrdiff_t>(At));
        return f;
    };
    std::vector<uint8_t> png = Small24();
    png[0] = 0x89, png[1] = 'P', png[2] = 'N', png[3] = 'G';
    std::vector<uint8_t> coded = Small24();
    coded[16] = 0xFD;  // the header's compression field
    struct TCase {
        const char* What;
        std::vector<uint8_t> Bytes;
        bool Cursor;
        bool Aborts;
    };
    const TCase cases[] = {
        {"empty", {}, false, true},
        {"directory cut", std::vector<uint8_t>(good.begin(), good.begin() + 12), false, true},
        {"offset beyond the file", patched(18, {0xF0, 0xFF, 0, 0}), false, true},
        {"rows cut", std::vector<uint8_t>(good.begin(), good.end() - 3), false, true},
        {"cursor rows cut", std::vector<uint8_t>(good.begin(), good.end() - 3), true, true},
        {"PNG entry", Directory(1, {{2, 2, 0, 1, 32, png}}), false, true},
        {"bit counts and colour count 0", Directory(1, {{2, 1, 0, 1, 0, Dib(2, 2, 0, {})}}), false, true},
        {"huge header size, entry size 0", Directory(1, {{0, 0, 0, 1, 24, Dib(60000, 120000, 24, {})}}), false, true},
        {"cursor with 24 bits keeps no table", Directory(2, {{2, 2, 0, 0, 0, Small24()}}), true, false},
        {"compression field not plain rows", Directory(1, {{2, 2, 0, 1, 24, coded}}), false, true},
        {"cursor compression field not plain rows", Directory(2, {{2, 2, 0, 0, 0, coded}}), true, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        TRead r = ReadIcon(c.Bytes, b, p, c.Cursor);
        EXPECT_EQ(r.Aborted, c.Aborts);
        EXPECT_LE(static_cast<int64_t>(b.GetWidth()) * b.GetHeight(), 100);
        EXPECT_LE(p.ColorMapCount, 256);
    }
    // An index outside the directory: nothing read, no error.
    for (int index : {-1, 1}) {
        TPxBitmap b(3, 3, px8g);
        TIOParamsVals p(nullptr);
        p.SetImageIndex(index);
        EXPECT_FALSE(ReadIcon(good, b, p).Aborted);
        EXPECT_FALSE(ReadIcon(good, b, p, true).Aborted);
        EXPECT_EQ(b.GetPixelFormat(), px8g);
    }
    // A 16-bit icon read natively is refused with an exception.
    TPxBitmap b;
    TIOParamsVals p(nullptr);
    p.NativePixelFormat = true;
    try {
        ReadIcon(Directory(1, {{1, 1, 0, 1, 16, Dib(1, 2, 16, std::vector<uint8_t>(8, 0))}}), b, p);
        FAIL() << "no exception";
    } catch (const classlib::EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), L"Unsupported pixel format");
    }
}

namespace {

struct TWrite {
    bool Aborted = false;
    std::vector<uint8_t> Bytes;  // from the icon's start
};

TWrite WriteIcon(TPxBitmap& b, TIOParamsVals& p, const std::vector<TPxICOSize>& Sizes,
                 const std::vector<int32_t>& Bits, int64_t Start = 0)
{
    TWrite w;
    classlib::TMemoryStream m;
    std::vector<uint8_t> lead(static_cast<size_t>(Start), 0xAA);
    if (Start)
        m.WriteBuffer(lead.data(), Start);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    PxWriteICO(&m, &b, p, progress, Sizes, Bits);
    w.Aborted = aborting;
    const auto* d = static_cast<const uint8_t*>(m.GetMemory());
    w.Bytes.assign(d + Start, d + m.GetSize());
    return w;
}

}  // namespace

TEST(IcoWriterTest, WritesEachSizeAtItsBitCountAndReadsBack)
{
    PxDefsInit();
    PxInstallPixelFormatConversion();
    auto src = Picture(8, 8);
    struct TCase {
        int32_t Requested;
        int Written;
    };
    for (const TCase& c : {TCase{0, 24}, TCase{24, 24}, TCase{32, 32}, TCase{8, 8}, TCase{4, 4}, TCase{1, 1}}) {
        SCOPED_TRACE(c.Requested);
        TIOParamsVals p(nullptr);
        p.DpiX = 96;
        p.DpiY = 96;
        TWrite w = WriteIcon(*src, p, {{16, 16}, {32, 32}}, {c.Requested, c.Requested}, 12);
        ASSERT_FALSE(w.Aborted);
        const std::vector<uint8_t>& f = w.Bytes;
        EXPECT_EQ(Le16(f, 2), 1);
        EXPECT_EQ(Le16(f, 4), 2);
        for (int i = 0; i < 2; ++i) {
            const size_t e = 6 + 16 * static_cast<size_t>(i);
            const int side = i == 0 ? 16 : 32;
            EXPECT_EQ(f[e], side);
            EXPECT_EQ(f[e + 1], side);
            const bool deep = c.Written >= 24;
            EXPECT_EQ(f[e + 2], deep ? 0 : std::min(1 << c.Written, 255));
            EXPECT_EQ(Le16(f, e + 4), deep ? 1 : 0);
            EXPECT_EQ(Le16(f, e + 6), deep ? c.Written : 0);
            const uint32_t offset = Le32(f, e + 12);
            ASSERT_LT(offset, f.size());
            EXPECT_EQ(Le32(f, offset + 8), static_cast<uint32_t>(2 * side));
            EXPECT_EQ(Le16(f, offset + 14), c.Written);
            EXPECT_EQ(Le32(f, offset + 24), 3780u);
            if (i == 0) {
                EXPECT_EQ(Le32(f, e + 12) + Le32(f, e + 8), Le32(f, e + 16 + 12));
            }

            // Read back (the image ends where the entry says).
            TPxBitmap back;
            TIOParamsVals q(nullptr);
            q.ICOImageIndex = i;
            TRead r = ReadIcon(f, back, q);
            ASSERT_FALSE(r.Aborted);
            EXPECT_EQ(back.GetWidth(), side);
            EXPECT_FALSE(r.Mask);
            const TPxRGB left = back.GetPixelAsRGB(1, side / 2);
            const TPxRGB right = back.GetPixelAsRGB(side - 2, side / 2);
            if (c.Written == 1) {
                EXPECT_EQ(left.r, 0);  // dark blue: black, light grey: white
                EXPECT_EQ(right.r, 255);
            } else {
                EXPECT_EQ(left, (TPxRGB{200, 40, 10}));
                EXPECT_EQ(right, (TPxRGB{220, 230, 250}));
            }
        }
    }
}

TEST(IcoWriterTest, PaletteEntryZeroIsTransparentBlack)
{
    PxDefsInit();
    auto src = Picture(4, 4);
    src->SetAlpha(0, 0, 0);
    src->SetAlpha(3, 3, 254);
    TIOParamsVals p(nullptr);
    TWrite w = WriteIcon(*src, p, {{4, 4}}, {8});
    ASSERT_FALSE(w.Aborted);
    const std::vector<uint8_t>& f = w.Bytes;
    const size_t image = Le32(f, 6 + 12);
    const size_t table = image + 40;
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + table, f.begin() + table + 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    const size_t pixels = table + 1024;
    // Bottom row first: (0, 3) .. then the top row (0, 0) last.
    EXPECT_EQ(f[pixels + 3 * 4 + 0], 0);  // (0, 0) transparent
    EXPECT_NE(f[pixels + 3 * 4 + 1], 0);  // (1, 0) opaque
    EXPECT_EQ(f[pixels + 0 * 4 + 3], 0);  // (3, 3) alpha 254
    const size_t mask = pixels + 4 * 4;
    EXPECT_EQ(f[mask + 3 * 4], 0x80);  // top row: (0, 0)
    EXPECT_EQ(f[mask + 0], 0x10);      // bottom row: (3, 3)

    TPxBitmap back;
    TIOParamsVals q(nullptr);
    q.ICOBackground = TPxRGB{1, 1, 1};
    TRead r = ReadIcon(f, back, q);
    ASSERT_TRUE(r.Mask);
    EXPECT_EQ(r.Mask->GetPixel(0, 0), 0);
    EXPECT_EQ(r.Mask->GetPixel(1, 0), 255);
    EXPECT_EQ(back.GetPixelRGB(0, 0), (TPxRGB{1, 1, 1}));
    EXPECT_EQ(back.GetPixelRGB(1, 0), (TPxRGB{200, 40, 10}));
}

TEST(IcoWriterTest, BadSizeListsFailBeforeWriting)
{
    auto src = Picture(4, 4);
    struct TCase {
        std::vector<TPxICOSize> Sizes;
        std::vector<int32_t> Bits;
    };
    const TCase cases[] = {
        {{}, {}},
        {{{16, 0}}, {24}},
        {{{16, 16}}, {24, 8}},
        {std::vector<TPxICOSize>(17, TPxICOSize{16, 16}), std::vector<int32_t>(17, 24)},
    };
    for (const TCase& c : cases) {
        TIOParamsVals p(nullptr);
        TWrite w = WriteIcon(*src, p, c.Sizes, c.Bits);
        EXPECT_TRUE(w.Aborted);
        EXPECT_TRUE(w.Bytes.empty());
    }
}

TEST(IcoFormatTest, SavesAndLoadsThroughTheIOObject)
{
    PxDefsInit();
    const bool existed = PxFormatRegistryExists();
    if (!existed)
        PxBuildFormatRegistry();
    PxInstallICOFormat();
    {
        auto b = Picture(10, 10);
        b->SetAlpha(4, 4, 0);
        auto io = TImgIO::CreateForBitmap(b.get());
        io->FileParams->ICOSizes[0] = TPxICOSize{20, 20};
        io->FileParams->ICOBitCounts[0] = 32;
        io->FileParams->ICOSizes[1] = TPxICOSize{10, 10};
        io->FileParams->ICOBitCounts[1] = 8;
        classlib::TMemoryStream m;
        io->SaveICOToStream(&m);
        ASSERT_FALSE(io->AbortFlag);
        m.SetPosition(0);
        EXPECT_EQ(PxDetectStreamFormat(m), ffICO);
        EXPECT_EQ(PxCountICOImages(&m), 2);

        TPxBitmap back;
        auto in = TImgIO::CreateForBitmap(&back);
        in->FileParams->ICOImageIndex = 1;
        m.SetPosition(0);
        in->LoadICOFromStream(&m);
        ASSERT_FALSE(in->AbortFlag);
        EXPECT_EQ(back.GetWidth(), 10);
        ASSERT_TRUE(back.HasAlphaChannel());
        EXPECT_EQ(back.GetAlpha(4, 4), 0);
        EXPECT_EQ(back.GetAlpha(5, 4), 255);
        EXPECT_EQ(in->FileParams->FileFormat, ffICO);
    }
    // The frame count of an icon file is its directory's image count.
    EXPECT_EQ(PxCountFileFrames(testsupport::FixtureDir(L"io") + L"\\ico\\icon4.ico"), 1);
    if (!existed)
        PxFreeFormatRegistry();
}
