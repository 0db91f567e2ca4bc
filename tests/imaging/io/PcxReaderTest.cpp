// PCX reader: decodes of files written by ImageMagick and netpbm checked
// against netpbm's (or ImageMagick's) decodes, resolution and parameters,
// the run-length row decoder with its carry, and damaged or hostile headers
// and data (each fails cleanly or decodes only what is there).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "PcxTestFiles.h"

using namespace pcxtest;

namespace {

class PcxReader : public testing::Test {
protected:
    void SetUp() override { InstallPcx(); }
};

TEST_F(PcxReader, DecodesForeignFiles)
{
    struct TCase {
        const char* File;
        int Bits, Samples;
        TPxPixelFormat Format;
        int MapCount;
    };
    const TCase cases[] = {
        {"rgb24", 8, 3, px24RGB, 0},     // 3 planes, odd bytes per row
        {"pal8", 8, 1, px24RGB, 256},    // trailing palette
        {"plain8", 8, 1, px24RGB, 256},  // not run-length coded
        {"mono", 1, 1, px1g, 2},
        {"planes4", 4, 1, px24RGB, 16},  // four planes of 1 bit
        {"planes3", 3, 1, px24RGB, 8},   // three planes of 1 bit
        {"packed4", 4, 1, px24RGB, 16},
        {"packed2", 2, 1, px24RGB, 4},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.File);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        params.PCXVersion = 0;
        TResult r = ReadPcx(LoadBytes(std::string(c.File) + ".pcx"), bitmap, params);
        ASSERT_FALSE(r.Aborted);
        EXPECT_EQ(bitmap.GetPixelFormat(), c.Format);
        ASSERT_EQ(bitmap.GetWidth(), 71);
        ASSERT_EQ(bitmap.GetHeight(), 9);
        EXPECT_EQ(params.Width, 71);
        EXPECT_EQ(params.OriginalHeight, 9);
        EXPECT_EQ(params.BitsPerSample, c.Bits);
        EXPECT_EQ(params.SamplesPerPixel, c.Samples);
        EXPECT_EQ(params.ColorMapCount, c.MapCount);
        EXPECT_EQ(params.PCXVersion, 5);
        EXPECT_EQ(params.ImageCount, 1);
        EXPECT_EQ(r.Percents, (std::vector<int>{0, 11, 22, 33, 44, 55, 66, 77, 88}));
        ExpectPixels(bitmap, LoadBytes(std::string(c.File) + ".rgb"));
    }
}

TEST_F(PcxReader, ParametersOnlyAndResolution)
{
    const int32_t savedX = PxDefaultDpiX, savedY = PxDefaultDpiY;
    PxDefaultDpiX = 96;
    PxDefaultDpiY = 97;
    {
        // Preview: the parameters, palette included, and nothing else.
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        TResult r = ReadPcx(LoadBytes("pal8.pcx"), bitmap, params, -1, true);
        EXPECT_FALSE(r.Aborted);
        EXPECT_TRUE(bitmap.IsEmpty());
        EXPECT_EQ(params.Width, 71);
        EXPECT_EQ(params.DpiX, 150);
        EXPECT_EQ(params.DpiY, 72);
        ASSERT_EQ(params.ColorMapCount, 256);
        // Palette entry 0 of the file is R G B; the map holds it blue first.
        const std::vector<uint8_t> file = LoadBytes("pal8.pcx");
        const size_t pal = file.size() - 768;
        EXPECT_EQ(params.ColorMap[0], (TPxRGB{file[pal + 2], file[pal + 1], file[pal]}));
    }
    struct TCase {
        int DpiX, DpiY, WantX, WantY;
    };
    // Either value 0 gives the default to both.
    for (const TCase& c : {TCase{300, 0, 96, 97}, TCase{0, 200, 96, 97}, TCase{300, 300, 300, 300},
                           TCase{120, 60, 120, 60}}) {
        SCOPED_TRACE(c.DpiX);
        THeader h;
        h.DpiX = c.DpiX;
        h.DpiY = c.DpiY;
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        std::vector<uint8_t> data = {7, 0, 12};
        data.resize(data.size() + 768, 0);
        ASSERT_FALSE(ReadPcx(MakePcx(h, data), bitmap, params).Aborted);
        EXPECT_EQ(params.DpiX, c.WantX);
        EXPECT_EQ(params.DpiY, c.WantY);
    }
    PxDefaultDpiX = savedX;
    PxDefaultDpiY = savedY;
}

TEST_F(PcxReader, ReadsFromItsPositionUpToTheGivenLength)
{
    // The image after 5 other bytes and followed by 3 more: the length
    // bounds the image (its palette is the last 768 bytes of the image), and
    // a length beyond the stream means up to the end of the stream.
    const std::vector<uint8_t> image = LoadBytes("pal8.pcx");
    const std::vector<uint8_t> expected = LoadBytes("pal8.rgb");
    std::vector<uint8_t> bytes(5, 0xEE);
    bytes.insert(bytes.end(), image.begin(), image.end());
    for (int64_t length : {static_cast<int64_t>(image.size()), static_cast<int64_t>(image.size()) + 100}) {
        SCOPED_TRACE(length);
        std::vector<uint8_t> all = bytes;
        if (length == static_cast<int64_t>(image.size()))
            all.insert(all.end(), {1, 2, 3});
        classlib::TMemoryStream m;
        SetBytes(m, all);
        m.SetPosition(5);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        bool aborting = false;
        std::vector<int> percents;
        TPxIOProgressInfo progress = MakeProgress(aborting, percents);
        PxReadPCX(&m, &bitmap, params, length, progress, false);
        ASSERT_FALSE(aborting);
        EXPECT_EQ(m.GetPosition(), 5 + static_cast<int64_t>(image.size()));
        ExpectPixels(bitmap, expected);
    }
}

TEST_F(PcxReader, RowDecoderCarriesRunsAcrossPlaneRows)
{
    struct TCase {
        const char* Name;
        int Encoding;
        std::vector<uint8_t> Data;
        int RowLength;
        std::vector<std::vector<uint8_t>> Rows;  // rows in decoding order
        std::vector<bool> Full;
    };
    const TCase cases[] = {
        // A run of 5 fills a row of 4 and leaves 1 for the next row.
        {"carry", 1, {0xC5, 9, 1, 2, 3}, 4, {{9, 9, 9, 9}, {9, 1, 2, 3}}, {true, true}},
        // A carry longer than a whole row spans it.
        {"long carry", 1, {0xCA, 7, 5, 6}, 4, {{7, 7, 7, 7}, {7, 7, 7, 7}, {7, 7, 5, 6}}, {true, true, true}},
        // Count 0: the value byte is consumed, nothing produced.
        {"count 0", 1, {0xC0, 0x55, 1, 0xC1, 0xC8}, 2, {{1, 0xC8}}, {true}},
        // Literals stop below 192; data ending mid-row leave zeros.
        {"short", 1, {191, 0xC2, 4}, 5, {{191, 4, 4, 0, 0}}, {false}},
        // A run code as the last byte has no value: the data end there.
        {"dangling run", 1, {3, 0xC4}, 3, {{3, 0, 0}}, {false}},
        // Plain rows copy their bytes, 192 and above included.
        {"plain", 0, {200, 1, 2, 0xC3, 4}, 3, {{200, 1, 2}, {0xC3, 4, 0}}, {true, false}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPxPCXDecoder decoder;
        decoder.Data = c.Data.data();
        decoder.Size = static_cast<int64_t>(c.Data.size());
        decoder.Encoding = c.Encoding;
        for (size_t i = 0; i < c.Rows.size(); ++i) {
            std::vector<uint8_t> row(c.RowLength, 0xAA);
            EXPECT_EQ(PxPCXDecodeRow(decoder, row.data(), c.RowLength), c.Full[i]) << "row " << i;
            EXPECT_EQ(row, c.Rows[i]) << "row " << i;
        }
        EXPECT_LE(decoder.Pos, decoder.Size);
    }

    // In an image: one run fills the red, green and blue plane rows of a
    // 2-pixel row (and the fourth plane, which is not read, of a 4-plane
    // image); the next code starts the next row.
    for (int planes : {3, 4}) {
        SCOPED_TRACE(planes);
        THeader h;
        h.Width = 2;
        h.Height = 2;
        h.Planes = planes;
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        const uint8_t run = static_cast<uint8_t>(0xC0 | (2 * planes));
        ASSERT_FALSE(ReadPcx(MakePcx(h, {run, 40, 1, 2, 3, 4, 5, 6, 7, 8}), bitmap, params).Aborted);
        EXPECT_EQ(bitmap.GetPixelRGB(0, 0), (TPxRGB{40, 40, 40}));
        EXPECT_EQ(bitmap.GetPixelRGB(1, 0), (TPxRGB{40, 40, 40}));
        EXPECT_EQ(bitmap.GetPixelRGB(0, 1), (TPxRGB{5, 3, 1}));
        EXPECT_EQ(bitmap.GetPixelRGB(1, 1), (TPxRGB{6, 4, 2}));
    }
}

TEST_F(PcxReader, RejectsBadHeaders)
{
    auto header = [](auto Change) {
        THeader h;
        h.Width = 4;
        h.Height = 2;
        h.BytesPerLine = 4;
        std::vector<uint8_t> d = MakePcx(h, std::vector<uint8_t>(64, 0x11));
        Change(d);
        return d;
    };
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Bytes;
    };
    const TCase cases[] = {
        {"manufacturer", header([](std::vector<uint8_t>& d) { d[0] = 11; })},
        {"encoding 2", header([](std::vector<uint8_t>& d) { d[2] = 2; })},
        {"9 bits", header([](std::vector<uint8_t>& d) { d[3] = 9; })},
        {"0 bits", header([](std::vector<uint8_t>& d) { d[3] = 0; })},
        {"0 planes", header([](std::vector<uint8_t>& d) { d[65] = 0; })},
        {"xmax below xmin", header([](std::vector<uint8_t>& d) { Put16(d, 4, 5); })},
        {"ymax below ymin", header([](std::vector<uint8_t>& d) { Put16(d, 6, 2); })},
        {"row shorter than the width", header([](std::vector<uint8_t>& d) { Put16(d, 66, 3); })},
        {"header cut", header([](std::vector<uint8_t>& d) { d.resize(100); })},
        // 65536 x 65536 from 64 bytes of data: refused before allocating.
        {"huge", header([](std::vector<uint8_t>& d) {
             Put16(d, 8, 0xFFFF);
             Put16(d, 10, 0xFFFF);
             Put16(d, 66, 0xFFFF);
         })},
        {"plain rows missing", header([](std::vector<uint8_t>& d) {
             d[2] = 0;
             d.resize(128 + 7);
         })},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        EXPECT_TRUE(ReadPcx(c.Bytes, bitmap, params).Aborted);
        EXPECT_TRUE(bitmap.IsEmpty());
    }
}

TEST_F(PcxReader, DecodesWhatDamagedDataHold)
{
    {
        // A coded image cut short: the rows that are there decode, the rest
        // are black.
        std::vector<uint8_t> bytes = LoadBytes("rgb24.pcx");
        bytes.resize(128 + 80);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        ASSERT_FALSE(ReadPcx(bytes, bitmap, params).Aborted);
        const std::vector<uint8_t> expected = LoadBytes("rgb24.rgb");
        const TPxRGB first = bitmap.GetPixelRGB(0, 0);
        EXPECT_EQ(first, (TPxRGB{expected[2], expected[1], expected[0]}));
        for (int x = 0; x < 71; ++x)
            EXPECT_EQ(bitmap.GetPixelRGB(x, 8), (TPxRGB{0, 0, 0})) << x;
    }
}

TEST_F(PcxReader, FindsTheTrailingPaletteByItsMarker)
{
    // Bytes after the palette: the marker after the coded rows leads to it,
    // for the load and for parameters only.
    for (bool preview : {false, true}) {
        SCOPED_TRACE(preview);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        ASSERT_FALSE(ReadPcx(LoadBytes("pal8-extra.pcx"), bitmap, params, -1, preview).Aborted);
        ASSERT_EQ(params.ColorMapCount, 256);
        EXPECT_EQ(params.ColorMap[1], (TPxRGB{0, 0, 255}));  // red, blue first
        if (!preview)
            ExpectPixels(bitmap, LoadBytes("pal8-extra.rgb"));
    }
    // No palette, a palette cut short, or a marker missing before the last
    // 768 bytes with nothing after the rows: refused, no image.
    std::vector<uint8_t> unmarked = LoadBytes("pal8-cutpal.pcx");
    unmarked.resize(unmarked.size() - 300 - 1);
    unmarked.insert(unmarked.end(), 769, 0x20);
    for (const auto& [name, bytes] : {std::pair{"none", LoadBytes("pal8-nopal.pcx")},
                                      std::pair{"cut", LoadBytes("pal8-cutpal.pcx")},
                                      std::pair{"unmarked", unmarked}}) {
        SCOPED_TRACE(name);
        for (bool preview : {false, true}) {
            TPxBitmap bitmap;
            TIOParamsVals params(nullptr);
            EXPECT_TRUE(ReadPcx(bytes, bitmap, params, -1, preview).Aborted);
            EXPECT_TRUE(bitmap.IsEmpty());
        }
    }
}

TEST_F(PcxReader, RefusesLayoutsItDoesNotDecode)
{
    // Bits per plane x planes that no decoder takes: refused, not a blank
    // image reported as loaded.
    struct TCase {
        int Bits, Planes;
    };
    for (const TCase& c : {TCase{8, 2}, TCase{2, 4}, TCase{4, 4}, TCase{3, 1}, TCase{1, 5}}) {
        SCOPED_TRACE(c.Bits * 10 + c.Planes);
        THeader h;
        h.Width = 2;
        h.Bits = c.Bits;
        h.Planes = c.Planes;
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        std::vector<uint8_t> data(64, 0x7F);
        EXPECT_TRUE(ReadPcx(MakePcx(h, data), bitmap, params).Aborted);
        EXPECT_TRUE(bitmap.IsEmpty());
    }
}

}  // namespace
