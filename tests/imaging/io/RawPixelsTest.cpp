// Headerless pixel data: binary, decimal and hexadecimal text of the same
// pixels, planes, row alignment, header skipping, the colour order of 24-
// and 48-bit bitmaps, text into 1-bit and float bitmaps, short data and the
// load through the I/O object.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/RawPixels.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"

using namespace imaging;

namespace {

struct TRawResult {
    std::vector<int> Percents;
};

void CollectPercent(void* Context, classlib::TObject*, int Per)
{
    static_cast<std::vector<int>*>(Context)->push_back(Per);
}

TRawResult ReadRaw(const std::string& Bytes, TPxBitmap& Bitmap, TIOParamsVals& Params)
{
    classlib::TMemoryStream m;
    if (!Bytes.empty())
        m.WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    m.SetPosition(0);
    TRawResult r;
    bool aborting = false;
    TPxIOProgressInfo info;
    info.Aborting = &aborting;
    info.Handler = TPxProgressEvent::FromFunction(CollectPercent, &r.Percents);
    PxReadRawPixels(&m, &Bitmap, Params, info);
    EXPECT_FALSE(aborting);
    return r;
}

std::string Bin(std::initializer_list<int> Bytes)
{
    std::string s;
    for (int b : Bytes)
        s.push_back(static_cast<char>(b));
    return s;
}

// Red, green, blue of the 3 x 2 test image, row by row.
const int kRGB[18] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150, 160, 170, 250};

void ExpectTestImage(TPxBitmap& b)
{
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const int* p = kRGB + (y * 3 + x) * 3;
            const TPxRGB c = b.GetPixelRGB(x, y);
            EXPECT_EQ(c.r, p[0]) << x << "," << y;
            EXPECT_EQ(c.g, p[1]) << x << "," << y;
            EXPECT_EQ(c.b, p[2]) << x << "," << y;
        }
}

}  // namespace

TEST(RawPixels, SamePixelsInEveryDataFormat)
{
    std::string binary, decimal, hex;
    for (int i = 0; i < 18; ++i) {
        binary.push_back(static_cast<char>(kRGB[i]));
        decimal += std::to_string(kRGB[i]) + (i % 2 ? ", " : ",\r\n");
        char h[8];
        std::snprintf(h, sizeof h, "%X%s", kRGB[i], i % 3 ? " " : ";");
        hex += h;
    }
    struct TCase {
        const char* Name;
        uint8_t Format;
        std::string Data;
    };
    const TCase cases[] = {{"binary", 0, binary}, {"decimal", 1, "  " + decimal}, {"hex", 2, hex}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPxBitmap b(3, 2, px24RGB);
        TIOParamsVals p(nullptr);
        p.RawPixelsDataFormat = c.Format;
        TRawResult r = ReadRaw(c.Data, b, p);
        ExpectTestImage(b);
        EXPECT_EQ(r.Percents, (std::vector<int>{0, 50}));
    }
}

TEST(RawPixels, TextNumbers)
{
    struct TCase {
        const char* Text;
        uint8_t Format;
        std::vector<int> Values;
    };
    const TCase cases[] = {
        // Lower-case letters are no hexadecimal digits; they separate.
        {"0A ff 1B c 7 F", 2, {10, 27, 7, 15}},
        // Signs and decimal points separate decimal numbers.
        {"-5+6.25", 1, {5, 6, 25, 0}},
        // Values wrap into the byte; a number too long to parse gives 0.
        {"300 255 99999999999999 1", 1, {44, 255, 0, 1}},
        // The text ends early: the missing values become 0.
        {"9", 1, {9, 0, 0, 0}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text);
        TPxBitmap b(4, 1, px8g);
        TIOParamsVals p(nullptr);
        p.RawPixelsDataFormat = c.Format;
        ReadRaw(c.Text, b, p);
        std::vector<int> got;
        for (int x = 0; x < 4; ++x)
            got.push_back(b.GetPixelGray8(x, 0));
        EXPECT_EQ(got, c.Values);
    }
}

TEST(RawPixels, PlanarColourReportsPlaneProgress)
{
    std::string planes;
    for (int channel = 0; channel < 3; ++channel)
        for (int i = 0; i < 6; ++i)
            planes.push_back(static_cast<char>(kRGB[i * 3 + channel]));
    TPxBitmap b(3, 2, px24RGB);
    TIOParamsVals p(nullptr);
    p.RawPixelsPlanar = true;
    TRawResult r = ReadRaw(planes, b, p);
    ExpectTestImage(b);
    EXPECT_EQ(r.Percents, (std::vector<int>{0, 33, 66, 100}));

    // Blue-first planes are stored as they come.
    std::string bgr;
    for (int channel = 2; channel >= 0; --channel)
        for (int i = 0; i < 6; ++i)
            bgr.push_back(static_cast<char>(kRGB[i * 3 + channel]));
    TPxBitmap b2(3, 2, px24RGB);
    p.RawPixelsBGR = true;
    ReadRaw(bgr, b2, p);
    ExpectTestImage(b2);
}

TEST(RawPixels, HeaderAndRowAlignment)
{
    // 512 header bytes, then 3-pixel grey rows padded to 32 bits.
    std::string data(512, '\x7F');
    data += Bin({1, 2, 3, 0xEE, 4, 5, 6, 0xEE});
    TPxBitmap b(3, 2, px8g);
    TIOParamsVals p(nullptr);
    p.RawPixelsHeaderSize = 512;
    p.RawPixelsRowAlign = 32;
    ReadRaw(data, b, p);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(b.GetPixelGray8(x, y), 1 + x + 3 * y);

    // File rows longer than the bitmap's rows: the rest is skipped.
    TPxBitmap w(2, 2, px8g);
    TIOParamsVals q(nullptr);
    q.RawPixelsRowAlign = 64;
    ReadRaw(Bin({1, 2, 9, 9, 9, 9, 9, 9, 3, 4, 9, 9, 9, 9, 9, 9}), w, q);
    EXPECT_EQ(w.GetPixelGray8(0, 1), 3);
    EXPECT_EQ(w.GetPixelGray8(1, 1), 4);
}

TEST(RawPixels, SixteenBitColourKeepsRedFirst)
{
    // Little-endian words: red 0x0102, green 0x0304, blue 0x0506.
    const std::string rgb = Bin({2, 1, 4, 3, 6, 5});
    TPxBitmap b(1, 1, pxRGB48);
    TIOParamsVals p(nullptr);
    ReadRaw(rgb, b, p);
    EXPECT_EQ(b.GetPixelRGB48(0, 0), (TPxRGB48{0x0102, 0x0304, 0x0506}));

    TPxBitmap bgr(1, 1, pxRGB48);
    p.RawPixelsBGR = true;
    ReadRaw(Bin({6, 5, 4, 3, 2, 1}), bgr, p);
    EXPECT_EQ(bgr.GetPixelRGB48(0, 0), (TPxRGB48{0x0102, 0x0304, 0x0506}));

    // Planes of words, and decimal text.
    TPxBitmap planar(2, 1, pxRGB48);
    TIOParamsVals q(nullptr);
    q.RawPixelsPlanar = true;
    ReadRaw(Bin({1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0}), planar, q);
    EXPECT_EQ(planar.GetPixelRGB48(0, 0), (TPxRGB48{1, 3, 5}));
    EXPECT_EQ(planar.GetPixelRGB48(1, 0), (TPxRGB48{2, 4, 6}));

    TPxBitmap text(1, 1, pxRGB48);
    TIOParamsVals t(nullptr);
    t.RawPixelsDataFormat = 1;
    ReadRaw("65535 256 7", text, t);
    EXPECT_EQ(text.GetPixelRGB48(0, 0), (TPxRGB48{65535, 256, 7}));
}

TEST(RawPixels, BitsFloatsAndInk)
{
    // 1-bit: packed bits in binary data, one value per pixel in text.
    TPxBitmap bits(10, 1, px1g);
    TIOParamsVals p(nullptr);
    ReadRaw(Bin({0xA5, 0xC0}), bits, p);
    const int expected[10] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 1};
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(bits.GetPixelAsRGB(x, 0).r != 0, expected[x] != 0) << x;
    TPxBitmap textBits(10, 1, px1g);
    p.RawPixelsDataFormat = 1;
    ReadRaw("1 0 1 0 0 1 0 1 1 1", textBits, p);
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(textBits.GetPixelAsRGB(x, 0).r != 0, expected[x] != 0) << x;

    // Floats: decimal text gives whole numbers, hexadecimal text is refused.
    TPxBitmap f(2, 1, px32f);
    ReadRaw("0 1", f, p);
    EXPECT_EQ(f.GetPixelFloat(0, 0), 0.0f);
    EXPECT_EQ(f.GetPixelFloat(1, 0), 1.0f);
    p.RawPixelsDataFormat = 2;
    classlib::TMemoryStream m;
    m.WriteBuffer("1 0", 3);
    m.SetPosition(0);
    bool aborting = false;
    TPxIOProgressInfo info;
    info.Aborting = &aborting;
    try {
        PxReadRawPixels(&m, &f, p, info);
        ADD_FAILURE() << "no exception";
    } catch (const classlib::Exception& e) {
        EXPECT_EQ(e.Message(), L"Format unsupported");
    }

    // CMYK planes go to their bytes as read, no exchange.
    TPxBitmap cmyk(1, 1, pxCMYK);
    TIOParamsVals c(nullptr);
    c.RawPixelsPlanar = true;
    TRawResult r = ReadRaw(Bin({1, 2, 3, 4}), cmyk, c);
    EXPECT_EQ(cmyk.GetPixelCMYK(0, 0), (TPxCMYK{1, 2, 3, 4}));
    EXPECT_EQ(r.Percents, (std::vector<int>{0, 25, 50, 75, 100}));
}

TEST(RawPixels, ShortDataAndFormatsWithoutReading)
{
    // Binary data ending inside the first row: what is there is read.
    TPxBitmap b(4, 2, px8g);
    b.Fill(0);
    TIOParamsVals p(nullptr);
    ReadRaw(Bin({5, 6}), b, p);
    EXPECT_EQ(b.GetPixelGray8(0, 0), 5);
    EXPECT_EQ(b.GetPixelGray8(1, 0), 6);
    EXPECT_EQ(b.GetPixelGray8(0, 1), 0);

    // A header longer than the data.
    TPxBitmap h(2, 1, px8g);
    h.Fill(0);
    p.RawPixelsHeaderSize = 1000;
    ReadRaw(Bin({1, 2, 3}), h, p);
    EXPECT_EQ(h.GetPixelGray8(0, 0), 0);

    TPxBitmap lab(1, 1, pxCIELab);
    TIOParamsVals q(nullptr);
    EXPECT_TRUE(ReadRaw(Bin({1, 2, 3}), lab, q).Percents.empty());
}

TEST(RawPixels, LoadThroughTheIOObject)
{
    PxDefsInit();
    PxBuildFormatRegistry();
    PxInstallRawPixelsFormat();
    TPxBitmap b(3, 2, px24RGB);
    std::unique_ptr<TImgIO> io = TImgIO::CreateForBitmap(&b);
    classlib::TMemoryStream m;
    std::string binary;
    for (int v : kRGB)
        binary.push_back(static_cast<char>(v));
    m.WriteBuffer(binary.data(), 18);
    m.SetPosition(0);
    io->LoadRawPixelsFromStream(&m);
    EXPECT_FALSE(io->AbortFlag);
    EXPECT_EQ(io->FileParams->FileFormat, ffRawData);
    ExpectTestImage(b);

    // Hexadecimal text into floats fails the load cleanly.
    TPxBitmap f(1, 1, px32f);
    io->ReplaceBitmap(&f);
    io->FileParams->RawPixelsDataFormat = 2;
    m.SetPosition(0);
    io->LoadRawPixelsFromStream(&m);
    EXPECT_TRUE(io->AbortFlag);
}
