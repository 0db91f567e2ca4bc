// Tiny hostile files made here, each once a crash, a huge allocation or a
// long decode of nothing: through the I/O object they must fail, name a
// reason, and leave no image. Failing with the raster check's reasons shows
// that the refusal came before the image was allocated.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/FormatTable.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "IoFixtureBytes.h"

using namespace imaging;

namespace {

void Put16(std::vector<uint8_t>& b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void Put32(std::vector<uint8_t>& b, uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// A little-endian TIFF of one directory whose entries hold one value each
// (tags in ascending order); kDataOffset stands for the offset of Data,
// which follows the directory.
constexpr uint32_t kDataOffset = 0xFFFFFFFF;

std::vector<uint8_t> Tiff(const std::vector<std::pair<uint16_t, uint32_t>>& Tags, const std::vector<uint8_t>& Data)
{
    std::vector<uint8_t> b = {'I', 'I', 42, 0};
    Put32(b, 8);
    Put16(b, uint32_t(Tags.size()));
    const uint32_t dataAt = uint32_t(8 + 2 + 12 * Tags.size() + 4);
    for (const auto& [tag, value] : Tags) {
        const bool isShort = tag == 258 || tag == 259 || tag == 262 || tag == 277 || tag == 284;
        Put16(b, tag);
        Put16(b, isShort ? 3 : 4);
        Put32(b, 1);
        Put32(b, value == kDataOffset ? dataAt : value);
    }
    Put32(b, 0);
    b.insert(b.end(), Data.begin(), Data.end());
    return b;
}

struct TLoadResult {
    bool Aborted = false;
    TPxReadFailure Failure = TPxReadFailure::None;
    int Width = 0;
    int Height = 0;
};

std::vector<uint8_t> Jpeg(uint16_t Width, uint16_t Height, int Components, size_t Data);

// Every built-in reader, and a registry for the I/O object while a test runs.
class THostile : public testing::Test {
protected:
    void SetUp() override
    {
        PxInstallBuiltInFormats();
        built_ = !PxFormatRegistryExists();
        if (built_)
            PxBuildFormatRegistry();
    }
    void TearDown() override
    {
        if (built_)
            PxFreeFormatRegistry();
    }

private:
    bool built_ = false;
};

TLoadResult Load(const std::vector<uint8_t>& Bytes, int32_t FileType)
{
    classlib::TMemoryStream m;
    m.WriteBuffer(Bytes.data(), int64_t(Bytes.size()));
    m.SetPosition(0);
    TImgIO io(nullptr);
    io.LoadFromStreamFormat(&m, FileType);
    return {io.AbortFlag, io.GetLastFailure(), io.GetCurrentBitmap()->GetWidth(), io.GetCurrentBitmap()->GetHeight()};
}

void ExpectRefused(const TLoadResult& r, TPxReadFailure Want)
{
    EXPECT_TRUE(r.Aborted);
    EXPECT_EQ(r.Failure, Want);
    EXPECT_EQ(int64_t(r.Width) * r.Height, 0);
}

TEST_F(THostile, TheIOObjectNamesWhyALoadFailed)
{
    TImgIO io(nullptr);
    io.LoadFromFile(L"picture.unknown-kind");
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_EQ(io.GetLastFailure(), TPxReadFailure::NoReader);
    EXPECT_EQ(io.GetLastFailureText(), PxReadFailureText(TPxReadFailure::NoReader));
    // A load that fails without naming a reason still has one; the next
    // load's success clears it.
    classlib::TMemoryStream garbage;
    garbage.WriteBuffer("BM", 2);
    garbage.SetPosition(0);
    io.LoadFromStreamFormat(&garbage, ffBMP);
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_NE(io.GetLastFailure(), TPxReadFailure::None);
    const std::vector<uint8_t> jpeg = Jpeg(16, 16, 1, 16);
    classlib::TMemoryStream good;
    good.WriteBuffer(jpeg.data(), int64_t(jpeg.size()));
    good.SetPosition(0);
    io.LoadFromStreamFormat(&good, ffJPEG);
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(io.GetLastFailure(), TPxReadFailure::None);
    EXPECT_EQ(io.GetLastFailureText(), L"");
}

TEST_F(THostile, TiffFaxDataWithMoreThanOneBitPerSampleIsRefused)
{
    // 4000 x 4 at 2 bits per sample, modified Huffman, one strip: the fax
    // decoder writes 1-bit rows, so no such page can be decoded.
    const std::vector<uint8_t> strip(16, 0);
    for (uint32_t bits : {2u, 4u, 7u}) {
        SCOPED_TRACE(bits);
        const TLoadResult r = Load(Tiff({{256, 4000}, {257, 4}, {258, bits}, {259, 2}, {262, 1}, {273, kDataOffset},
                                         {277, 1}, {278, 4}, {279, 16}},
                                        strip),
                                   ffTIFF);
        ExpectRefused(r, TPxReadFailure::Unsupported);
    }
}

TEST_F(THostile, TiffPageLargerThanItsStripsOrTilesIsRefusedBeforeAllocation)
{
    const std::vector<uint8_t> data(32, 0x55);
    struct {
        const char* Name;
        std::vector<std::pair<uint16_t, uint32_t>> Tags;
        TPxReadFailure Want;
    } cases[] = {
        {"RGB, one 16-byte strip",
         {{256, 65535}, {257, 65535}, {258, 8}, {259, 1}, {262, 2}, {273, kDataOffset}, {277, 3}, {278, 65535},
          {279, 16}},
         TPxReadFailure::TooLarge},
        {"bilevel, one 16-byte strip",
         {{256, 65535}, {257, 65535}, {258, 1}, {259, 1}, {262, 1}, {273, kDataOffset}, {277, 1}, {278, 65535},
          {279, 16}},
         TPxReadFailure::MoreThanData},
        {"bilevel LZW, one 16 x 16 tile",
         {{256, 65535}, {257, 65535}, {258, 1}, {259, 5}, {262, 1}, {277, 1}, {322, 16}, {323, 16},
          {324, kDataOffset}, {325, 32}},
         TPxReadFailure::MoreThanData},
        {"bilevel G4, one strip counted past the end",
         {{256, 8000}, {257, 60000}, {258, 1}, {259, 4}, {262, 0}, {273, kDataOffset}, {277, 1}, {278, 60000},
          {279, 100000}},
         TPxReadFailure::MoreThanData},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ExpectRefused(Load(Tiff(c.Tags, data), ffTIFF), c.Want);
    }
}

// A baseline JPEG whose Huffman tables hold one 1-bit code (DC difference
// 0, end of block): every 8 x 8 block codes in two bits, so Data zero bytes
// decode as flat grey. Components 1 or 3, no subsampling.
std::vector<uint8_t> Jpeg(uint16_t Width, uint16_t Height, int Components, size_t Data)
{
    std::vector<uint8_t> b = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
    b.insert(b.end(), 64, 1);
    const auto be16 = [&b](uint32_t v) {
        b.push_back(uint8_t(v >> 8));
        b.push_back(uint8_t(v));
    };
    b.insert(b.end(), {0xFF, 0xC0});
    be16(8 + 3 * Components);
    b.push_back(8);
    be16(Height);
    be16(Width);
    b.push_back(uint8_t(Components));
    for (int c = 1; c <= Components; ++c)
        b.insert(b.end(), {uint8_t(c), 0x11, 0x00});
    for (uint8_t table : {0x00, 0x10}) {
        b.insert(b.end(), {0xFF, 0xC4, 0x00, 0x14, table, 1});
        b.insert(b.end(), 15, 0);
        b.push_back(0);
    }
    b.insert(b.end(), {0xFF, 0xDA});
    be16(6 + 2 * Components);
    b.push_back(uint8_t(Components));
    for (int c = 1; c <= Components; ++c)
        b.insert(b.end(), {uint8_t(c), 0x00});
    b.insert(b.end(), {0x00, 0x3F, 0x00});
    b.insert(b.end(), Data, 0);
    b.insert(b.end(), {0xFF, 0xD9});
    return b;
}

TEST_F(THostile, JpegLargerThanItsDataIsRefusedBeforeTheLibraryAllocates)
{
    // 65500 x 65500 colour in about 170 bytes: past the cap.
    const std::vector<uint8_t> huge = Jpeg(65500, 65500, 3, 16);
    EXPECT_LT(huge.size(), 200u);
    ExpectRefused(Load(huge, ffJPEG), TPxReadFailure::TooLarge);
    // Under the cap, but a million blocks cannot code in 16 bytes.
    ExpectRefused(Load(Jpeg(8000, 8000, 1, 16), ffJPEG), TPxReadFailure::MoreThanData);
}

TEST_F(THostile, JpegAtTheBestRatioStillLoads)
{
    // 65536 blocks in 16 KiB: two bits each, the data's full worth.
    const TLoadResult r = Load(Jpeg(2048, 2048, 1, 16384), ffJPEG);
    EXPECT_FALSE(r.Aborted);
    EXPECT_EQ(r.Failure, TPxReadFailure::None);
    EXPECT_EQ(r.Width, 2048);
    EXPECT_EQ(r.Height, 2048);
}

// PNG chunks: length, type, data and a CRC (this reader's library checks
// it on critical chunks only; a zero CRC is enough for ancillary ones, and
// the header's is computed here).
uint32_t Crc(const uint8_t* p, size_t n)
{
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

void PngChunk(std::vector<uint8_t>& b, const char* Type, const std::vector<uint8_t>& Data, uint32_t Length)
{
    const auto be32 = [&b](uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            b.push_back(uint8_t(v >> shift));
    };
    be32(Length);
    const size_t typeAt = b.size();
    b.insert(b.end(), Type, Type + 4);
    b.insert(b.end(), Data.begin(), Data.end());
    be32(Crc(b.data() + typeAt, b.size() - typeAt));
}

std::vector<uint8_t> PngHead(uint32_t Width, uint32_t Height)
{
    std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> ihdr;
    for (uint32_t v : {Width, Height})
        for (int shift = 24; shift >= 0; shift -= 8)
            ihdr.push_back(uint8_t(v >> shift));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    PngChunk(b, "IHDR", ihdr, 13);
    return b;
}

TEST_F(THostile, PngChunkLongerThanTheFileIsRefusedBeforeItsBuffer)
{
    // 48 bytes: a text chunk claiming 0x7FFFFFF0 bytes.
    std::vector<uint8_t> png = PngHead(16, 16);
    PngChunk(png, "tEXt", {'k', 0, 'v'}, 0x7FFFFFF0);
    EXPECT_EQ(png.size(), 48u);
    ExpectRefused(Load(png, ffPNG), TPxReadFailure::Truncated);
}

TEST_F(THostile, PngLargerThanItsDeflatedDataIsRefused)
{
    // 60000 x 60000 RGB (past the cap) and 10000 x 10000 (under it) over a
    // few bytes of image data.
    for (uint32_t side : {60000u, 10000u}) {
        SCOPED_TRACE(side);
        std::vector<uint8_t> png = PngHead(side, side);
        PngChunk(png, "IDAT", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}, 8);
        PngChunk(png, "IEND", {}, 0);
        ExpectRefused(Load(png, ffPNG),
                      side == 60000 ? TPxReadFailure::TooLarge : TPxReadFailure::MoreThanData);
    }
}

// Headers of the simpler formats claiming 20000 x 20000 or 10000 x 10000
// pixels over no data: each reader refuses them through the raster check.
TEST_F(THostile, HeadersLargerThanTheirDataAreRefusedByTheSimplerReaders)
{
    const auto le = [](std::vector<uint8_t>& b, uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            b.push_back(uint8_t(v >> (8 * i)));
    };
    const auto be = [](std::vector<uint8_t>& b, uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i)
            b.push_back(uint8_t(v >> (8 * i)));
    };
    std::vector<uint8_t> bmp = {'B', 'M'};
    le(bmp, 62, 4);
    le(bmp, 0, 4);
    le(bmp, 62, 4);
    for (uint32_t v : {40u, 20000u, 20000u})
        le(bmp, v, 4);
    le(bmp, 1, 2);  // planes
    le(bmp, 1, 2);  // 1 bit
    for (int i = 0; i < 6; ++i)
        le(bmp, 0, 4);
    bmp.insert(bmp.end(), {0, 0, 0, 0, 255, 255, 255, 0});  // two colours

    std::vector<uint8_t> tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    le(tga, 10000, 2);
    le(tga, 10000, 2);
    tga.insert(tga.end(), {24, 0});

    const std::vector<uint8_t> wbmp = {0, 0, 0x81, 0x9C, 0x20, 0x81, 0x9C, 0x20};
    const std::string pgm = "P5 10000 10000 255\n";

    std::vector<uint8_t> psd = {'8', 'B', 'P', 'S'};
    be(psd, 1, 2);
    be(psd, 0, 6);
    be(psd, 3, 2);      // channels
    be(psd, 10000, 4);  // rows
    be(psd, 10000, 4);  // columns
    be(psd, 8, 2);
    be(psd, 3, 2);      // RGB
    be(psd, 0, 4);      // colour data
    be(psd, 0, 4);      // resources
    be(psd, 0, 4);      // layers
    be(psd, 0, 2);      // raw channels

    struct {
        const char* Name;
        std::vector<uint8_t> Bytes;
        int32_t Type;
    } cases[] = {
        {"BMP", bmp, ffBMP},
        {"TGA", tga, ffTGA},
        {"WBMP", wbmp, ffWBMP},
        {"PGM", std::vector<uint8_t>(pgm.begin(), pgm.end()), ffPXM},
        {"PSD", psd, ffPSD},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ExpectRefused(Load(c.Bytes, c.Type), TPxReadFailure::MoreThanData);
    }
}

// Files cut before their first row of pixels (a header without data, raw
// samples short of a row, strips, runs or a TGA identification field or
// colour map that reach past the end) hold no picture: they fail as cut
// short instead of loading all black.
TEST_F(THostile, FilesCutBeforeTheirFirstRowAreRefused)
{
    const struct {
        const char* File;
        int32_t Type;
    } cases[] = {
        {"header-only.pgm", ffPXM},
        {"plain-short.pbm", ffPXM},
        {"short-row.wbmp", ffWBMP},
        {"strip-past-end.tif", ffTIFF},
        {"rle4.bmp", ffBMP},
        {"id-past-end.tga", ffTGA},
        {"map-past-end.tga", ffTGA},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File);
        ExpectRefused(Load(iobytes::FileBytes(iobytes::FixtureFile(L"cut", c.File)), c.Type), TPxReadFailure::Truncated);
    }
}

}  // namespace
