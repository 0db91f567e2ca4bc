// PCX writer: the run-length coder, the header and layout of each depth
// (coded and plain), write-then-read round trips through the reader (which
// is checked against other programs' decodes), conversions on copies, and
// refused or failing writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "PcxTestFiles.h"

using namespace pcxtest;

namespace {

class PcxWriter : public testing::Test {
protected:
    void SetUp() override { InstallPcx(); }
};

// 7 x 3, six colours (three of them 192 and above in some channel).
std::unique_ptr<TPxBitmap> Picture()
{
    auto b = std::make_unique<TPxBitmap>(7, 3, px24RGB);
    const TPxRGB colours[6] = {{10, 20, 200}, {250, 250, 250}, {0, 0, 0}, {40, 200, 90}, {200, 0, 5}, {1, 2, 3}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 7; ++x)
            b->SetPixelRGB(x, y, colours[(x / 2 + y) % 6]);
    return b;
}

TEST_F(PcxWriter, EncodesRows)
{
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Source;
        int Count, Start, Stride;
        std::vector<uint8_t> Coded;
    };
    std::vector<uint8_t> seventy(70, 5);
    const TCase cases[] = {
        {"literals and a run", {1, 2, 2, 2}, 4, 0, 1, {1, 0xC3, 2}},
        {"single bytes of 192 and above", {191, 192, 255, 7}, 4, 0, 1, {191, 0xC1, 192, 0xC1, 255, 7}},
        {"runs of at most 63", seventy, 70, 0, 1, {0xFF, 5, 0xC7, 5}},
        {"odd count ends with a literal 0", {9, 9, 9}, 3, 0, 1, {0xC3, 9, 0}},
        // Every third byte from offset 2 (red of blue-green-red pixels).
        {"stride", {1, 2, 7, 1, 2, 7, 3, 3, 8, 0, 0, 8}, 4, 2, 3, {0xC2, 7, 0xC2, 8}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<uint8_t> out(2 * c.Count + 1, 0xEE);
        const int n = PxPCXEncodeRow(out.data(), c.Source.data(), c.Count, c.Start, c.Stride);
        out.resize(n);
        EXPECT_EQ(out, c.Coded);
        // The reader's decoder gives back the row, padded to an even length.
        TPxPCXDecoder decoder;
        decoder.Data = out.data();
        decoder.Size = n;
        const int even = c.Count + (c.Count & 1);
        std::vector<uint8_t> row(even, 0xEE);
        EXPECT_TRUE(PxPCXDecodeRow(decoder, row.data(), even));
        EXPECT_EQ(decoder.Pos, n);
        for (int i = 0; i < c.Count; ++i)
            EXPECT_EQ(row[i], c.Source[c.Start + i * c.Stride]) << i;
        if (c.Count & 1) {
            EXPECT_EQ(row.back(), 0);
        }
    }
}

TEST_F(PcxWriter, HeaderAndLayoutOfEachDepth)
{
    struct TCase {
        int Bits, Samples;
        int FileBits, Planes, BytesPerLine, PaletteType;
    };
    const TCase cases[] = {
        {4, 1, 4, 1, 4, 1},
        {8, 1, 8, 1, 8, 1},
        {8, 3, 8, 3, 8, 0},
        {8, 4, 8, 3, 8, 0},  // four samples are written as three
    };
    for (const TCase& c : cases)
        for (int compression : {1, 0}) {
            SCOPED_TRACE(testing::Message() << c.Bits << "x" << c.Samples << " compression " << compression);
            auto picture = Picture();
            TIOParamsVals params(nullptr);
            params.BitsPerSample = c.Bits;
            params.SamplesPerPixel = c.Samples;
            params.PCXCompression = static_cast<uint8_t>(compression);
            params.PCXVersion = 3;
            params.SetDpiX(70000);
            params.SetDpiY(150);
            classlib::TMemoryStream m;
            ASSERT_TRUE(WritePcx(m, *picture, params));
            const std::vector<uint8_t> f = StreamBytes(m);
            ASSERT_GE(f.size(), 128u);
            EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 4),
                      (std::vector<uint8_t>{10, 3, static_cast<uint8_t>(compression), static_cast<uint8_t>(c.FileBits)}));
            EXPECT_EQ(Get16(f, 4), 0);
            EXPECT_EQ(Get16(f, 6), 0);
            EXPECT_EQ(Get16(f, 8), 6);
            EXPECT_EQ(Get16(f, 10), 2);
            EXPECT_EQ(Get16(f, 12), 70000 & 0xFFFF);
            EXPECT_EQ(Get16(f, 14), 150);
            EXPECT_EQ(f[65], c.Planes);
            EXPECT_EQ(Get16(f, 66), c.BytesPerLine);
            EXPECT_EQ(Get16(f, 68), c.PaletteType);
            EXPECT_EQ(params.SamplesPerPixel, std::min(c.Samples, 3));
            const size_t rows = 3 * static_cast<size_t>(c.Planes) * c.BytesPerLine;
            const bool trailing = c.Bits == 8 && c.Samples == 1;
            if (compression == 0) {
                // Plain rows; 8-bit plane rows of the odd width end with one
                // 0, 4-bit rows with the empty low nibble of the last pixel.
                ASSERT_EQ(f.size(), 128 + rows + (trailing ? 769 : 0));
                for (size_t i = 128 + c.BytesPerLine - 1; i < 128 + rows; i += c.BytesPerLine)
                    EXPECT_EQ(c.FileBits == 8 ? f[i] : f[i] & 0x0F, 0) << i;
            }
            // The 8-bit palette follows the byte 12 at the end; the 4-bit one is
            // in the header; both R G B.
            const size_t palette = trailing ? f.size() - 768 : 16;
            if (trailing) {
                EXPECT_EQ(f[f.size() - 769], 12);
            }
            if (c.Planes == 1) {
                bool found = false;
                for (int i = 0; i < (trailing ? 256 : 16) && !found; ++i)
                    found = f[palette + 3 * i] == 200 && f[palette + 3 * i + 1] == 20 && f[palette + 3 * i + 2] == 10;
                EXPECT_TRUE(found) << "red 200 green 20 blue 10 in the palette";
            }
            // Six colours fit every depth: the image reads back unchanged.
            TPxBitmap back;
            TIOParamsVals in(nullptr);
            ASSERT_FALSE(ReadPcx(f, back, in).Aborted);
            EXPECT_EQ(in.DpiX, 70000 & 0xFFFF);
            ExpectSamePixels(back, *picture);
        }
}

TEST_F(PcxWriter, BilevelImages)
{
    // Two colours: the darker one for 0 bits, both in the palette.
    auto two = std::make_unique<TPxBitmap>(11, 2, px24RGB);
    const TPxRGB light{30, 220, 240}, dark{90, 10, 20};
    for (int x = 0; x < 11; ++x) {
        two->SetPixelRGB(x, 0, x % 3 ? light : dark);
        two->SetPixelRGB(x, 1, x < 9 ? dark : light);
    }
    // A px1g image as it is, black and white in the palette.
    auto bits = std::make_unique<TPxBitmap>(11, 2, px1g);
    bits->Fill(0);
    bits->FillRect(3, 1, 3, 1, 1);
    // More than two colours: reduced to black and white by the image's own
    // conversion, on a copy.
    auto many = Picture();
    TPxBitmap manyBits;
    manyBits.Assign(many.get());
    manyBits.SetPixelFormat(px1g);

    struct TCase {
        const char* Name;
        TPxBitmap* Source;
        TPxRGB Colour0, Colour1;
    };
    const TCase cases[] = {
        {"two colours", two.get(), dark, light},
        {"px1g", bits.get(), {0, 0, 0}, {255, 255, 255}},
        {"many colours", many.get(), {0, 0, 0}, {255, 255, 255}},
    };
    for (const TCase& c : cases)
        for (int compression : {1, 0}) {
            SCOPED_TRACE(testing::Message() << c.Name << " compression " << compression);
            const TPxPixelFormat format = c.Source->GetPixelFormat();
            TIOParamsVals params(nullptr);
            params.BitsPerSample = 1;
            params.SamplesPerPixel = 1;
            params.PCXCompression = static_cast<uint8_t>(compression);
            classlib::TMemoryStream m;
            ASSERT_TRUE(WritePcx(m, *c.Source, params));
            EXPECT_EQ(c.Source->GetPixelFormat(), format);
            const std::vector<uint8_t> f = StreamBytes(m);
            EXPECT_EQ(f[3], 1);
            EXPECT_EQ(f[65], 1);
            EXPECT_EQ(Get16(f, 66), 2);
            EXPECT_EQ(std::vector<uint8_t>(f.begin() + 16, f.begin() + 22),
                      (std::vector<uint8_t>{c.Colour0.r, c.Colour0.g, c.Colour0.b, c.Colour1.r, c.Colour1.g,
                                            c.Colour1.b}));
            TPxBitmap back;
            TIOParamsVals in(nullptr);
            ASSERT_FALSE(ReadPcx(f, back, in).Aborted);
            ASSERT_EQ(back.GetPixelFormat(), px1g);
            ASSERT_EQ(back.GetWidth(), c.Source->GetWidth());
            for (int y = 0; y < back.GetHeight(); ++y)
                for (int x = 0; x < back.GetWidth(); ++x) {
                    const TPxRGB s = c.Source->GetPixelAsRGB(x, y);
                    const bool one = c.Source == two.get()    ? s == light
                                     : c.Source == bits.get() ? s.r == 255
                                                              : manyBits.GetPixelAsRGB(x, y).r == 255;
                    EXPECT_EQ(back.GetPixelAsRGB(x, y).r, one ? 255 : 0) << x << "," << y;
                }
        }
}

TEST_F(PcxWriter, ConvertsACopyOfOtherFormats)
{
    auto grey = std::make_unique<TPxBitmap>(5, 4, px8g);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            grey->SetPixelGray8(x, y, static_cast<uint8_t>(x * 50 + y));
    TIOParamsVals params(nullptr);
    classlib::TMemoryStream m;
    ASSERT_TRUE(WritePcx(m, *grey, params));
    EXPECT_EQ(grey->GetPixelFormat(), px8g);
    TPxBitmap back;
    TIOParamsVals in(nullptr);
    ASSERT_FALSE(ReadPcx(StreamBytes(m), back, in).Aborted);
    EXPECT_EQ(in.SamplesPerPixel, 3);
    ExpectSamePixels(back, *grey);
}

// A memory stream that takes at most Capacity bytes in all.
class TShortStream : public classlib::TMemoryStream {
public:
    explicit TShortStream(int64_t Capacity) : capacity_(Capacity) {}
    int64_t Write(const void* Buffer, int64_t Count) override
    {
        const int64_t n = std::clamp<int64_t>(capacity_ - GetSize(), 0, Count);
        return n > 0 ? classlib::TMemoryStream::Write(Buffer, n) : 0;
    }

private:
    int64_t capacity_;
};

TEST_F(PcxWriter, RefusesWhatItCannotWrite)
{
    auto picture = Picture();
    struct TCase {
        const char* Name;
        int Bits, Samples;
        bool Empty;
    };
    for (const TCase& c : {TCase{"16 bits", 8, 2, false}, TCase{"2 bits", 2, 1, false},
                           TCase{"48 bits", 16, 3, false}, TCase{"empty image", 8, 3, true}}) {
        SCOPED_TRACE(c.Name);
        TPxBitmap empty;
        TIOParamsVals params(nullptr);
        params.BitsPerSample = c.Bits;
        params.SamplesPerPixel = c.Samples;
        classlib::TMemoryStream m;
        EXPECT_FALSE(WritePcx(m, c.Empty ? empty : *picture, params));
        EXPECT_EQ(m.GetSize(), 0);
    }
    // A short write of the header or of the rows sets the flag.
    for (int64_t capacity : {100, 140}) {
        SCOPED_TRACE(capacity);
        TIOParamsVals params(nullptr);
        TShortStream m(capacity);
        EXPECT_FALSE(WritePcx(m, *picture, params));
    }
}

}  // namespace
