// PostScript writer: the document structure (header, page count rewritten
// in place, trailer), the page's operand lines, and the image data decoded
// back from the ASCII85 text for every coding (run-length per channel and
// for 1-bit rows, Group 4 and Group 3 fax, JPEG).
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "PsPdfTestSupport.h"
#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/formats/jpeg/JpegReader.h"
#include "imaging/io/formats/pdf/PsWriter.h"
#include "imaging/model/PxBitmap.h"

using namespace imaging;
using namespace pspdftest;

namespace {

class PsWriter : public testing::Test {
protected:
    void SetUp() override
    {
        InstallServices();
        PxInstallPSFormat();
    }
};

std::vector<std::string> Lines(const std::string& Text)
{
    std::vector<std::string> out;
    size_t p = 0;
    while (p < Text.size()) {
        const size_t e = Text.find("\r\n", p);
        if (e == std::string::npos) {
            out.push_back(Text.substr(p));
            break;
        }
        out.push_back(Text.substr(p, e - p));
        p = e + 2;
    }
    return out;
}

// Index of the first line equal to Line, or -1.
int FindLine(const std::vector<std::string>& L, const std::string& Line, int From = 0)
{
    for (int i = From; i < static_cast<int>(L.size()); ++i)
        if (L[static_cast<size_t>(i)] == Line)
            return i;
    return -1;
}

struct TPage {
    std::vector<std::string> Operands;  // lines from "%%Page:" up to the operator line
    int64_t Count = -1;                 // the %%BeginData count
    std::string Data;                   // text between the operator line and "%%EndData"
};

// The page numbered Page of a document.
TPage PageOf(const std::string& Text, int Page)
{
    TPage page;
    const std::string head = "%%Page: " + std::to_string(Page) + " " + std::to_string(Page) + "\r\n";
    size_t a = Text.find(head);
    if (a == std::string::npos)
        return page;
    size_t op = std::string::npos;
    for (const char* name : {"\r\ncolorimage\r\n", "\r\nimage\r\n"}) {
        const size_t f = Text.find(name, a);
        if (f != std::string::npos && f < op)
            op = f;
    }
    if (op == std::string::npos)
        return page;
    const size_t dataStart = Text.find("\r\n", op + 2) + 2;
    page.Operands = Lines(Text.substr(a, dataStart - 2 - a));
    const size_t end = Text.find("%%EndData\r\n", dataStart);
    page.Data = Text.substr(dataStart, end == std::string::npos ? std::string::npos : end - dataStart);
    for (const std::string& l : page.Operands)
        if (l.rfind("%%BeginData:", 0) == 0)
            page.Count = std::stoll(l.substr(12));
    return page;
}

// The ASCII85 characters of a data block, line breaks and the closing "~>"
// marks left out (what the %%BeginData count counts).
int64_t Ascii85Chars(const std::string& Data)
{
    int64_t n = 0;
    for (std::string l : Lines(Data)) {
        if (l.size() >= 2 && l.compare(l.size() - 2, 2, "~>") == 0)
            l.resize(l.size() - 2);
        n += static_cast<int64_t>(l.size());
    }
    return n;
}

std::string WritePS(TPxBitmap& Image, TIOParamsVals& Params, bool* Aborted = nullptr)
{
    classlib::TMemoryStream m;
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    PxWritePS(&m, &Image, Params, progress);
    if (Aborted)
        *Aborted = aborting;
    return StreamText(m);
}

TEST_F(PsWriter, ColourPageOnA4)
{
    TPxBitmap image;
    ColourImage(image, 100, 50);
    TIOParamsVals params(nullptr);
    params.PSTitle = "Album page";
    bool aborted = true;
    const std::string text = WritePS(image, params, &aborted);
    ASSERT_FALSE(aborted);
    const std::vector<std::string> lines = Lines(text);
    ASSERT_GT(lines.size(), 12u);
    EXPECT_EQ(lines[0], "%!PS-Adobe-3.0");
    EXPECT_EQ(lines[1], "%%Creator: Img by Quendrix");
    EXPECT_EQ(lines[2], "%%Title: Album page");
    EXPECT_EQ(lines[3].rfind("%%CreationDate: ", 0), 0u);
    EXPECT_EQ(lines[4], "%%DocumentData: Clean7Bit");
    EXPECT_EQ(lines[5], "%%LanguageLevel: 2");
    EXPECT_EQ(lines[6], "%%Pages: 1     ");
    EXPECT_EQ(lines[7], "%%BoundingBox: 0 0 594 841");
    EXPECT_EQ(lines[8], "%%EndComments");
    EXPECT_EQ(text.substr(text.size() - 18), "%%Trailer\r\n%%EOF\r\n");
    EXPECT_EQ(params.BitsPerSample, 8);
    EXPECT_EQ(params.SamplesPerPixel, 3);

    // Default compression 1 means run-length for colour.
    const TPage page = PageOf(text, 1);
    const std::vector<std::string> expected = {
        "%%Page: 1 1",
        "0 842 translate",
        "595 -297 scale",
        "100 50 8",
        "[ 100 0 0 50 0 0 ]",
        "/rstr 100 string def",
        "/gstr 100 string def",
        "/bstr 100 string def",
        "{currentfile /ASCII85Decode filter /RunLengthDecode filter rstr readstring pop}",
        "{currentfile /ASCII85Decode filter /RunLengthDecode filter gstr readstring pop}",
        "{currentfile /ASCII85Decode filter /RunLengthDecode filter bstr readstring pop}",
        "true 3",
        "%%BeginData:      " + std::to_string(page.Count) + " ASCII Bytes",
        "colorimage",
    };
    EXPECT_EQ(page.Operands, expected);
    EXPECT_EQ(page.Count, Ascii85Chars(page.Data));

    // One block per row and channel (red, green, blue), each its own
    // ASCII85 text holding run-length data of one row of that channel.
    size_t pos = 0;
    for (int y = 0; y < 50; ++y)
        for (int c = 0; c < 3; ++c) {
            const std::vector<uint8_t> packed = Ascii85Decode(page.Data, pos);
            const std::vector<uint8_t> channel = PackBitsDecode(packed);
            ASSERT_EQ(channel.size(), 100u) << "row " << y << " channel " << c;
            for (int x = 0; x < 100; ++x) {
                const TPxRGB px = image.GetPixelRGB(x, y);
                ASSERT_EQ(channel[static_cast<size_t>(x)], c == 0 ? px.r : c == 1 ? px.g : px.b)
                    << "x " << x << " y " << y << " channel " << c;
            }
        }
    EXPECT_EQ(page.Data.find_first_not_of("\r\n", pos), std::string::npos);
    const std::string tail = text.substr(text.find("%%EndData"));
    EXPECT_EQ(tail, "%%EndData\r\nshowpage\r\n%%Trailer\r\n%%EOF\r\n");
}

TEST_F(PsWriter, PagesAreCountedInTheHeader)
{
    TIOParamsVals params(nullptr);
    params.PSPaperWidth = 300;
    params.PSPaperHeight = 200;
    classlib::TMemoryStream m;
    m.WriteBuffer("prefix", 6);  // the document starts where the stream is
    auto context = PxPSCreate(&m, params);
    ASSERT_TRUE(context);
    TPxIOProgressInfo progress;
    const int sizes[3][2] = {{10, 40}, {60, 20}, {7, 7}};
    for (const auto& s : sizes) {
        TPxBitmap image;
        ColourImage(image, s[0], s[1]);
        PxPSAddPage(context.get(), &m, &image, params, progress);
    }
    PxPSClose(context, &m);
    EXPECT_FALSE(context);
    PxPSClose(context, &m);  // an empty context writes nothing

    const std::string text = StreamText(m);
    ASSERT_EQ(text.substr(0, 6), "prefix");
    const std::vector<std::string> lines = Lines(text.substr(6));
    EXPECT_EQ(lines[6], "%%Pages: 3     ");
    EXPECT_EQ(lines[7], "%%BoundingBox: 0 0 299 199");
    EXPECT_EQ(text.substr(text.size() - 18), "%%Trailer\r\n%%EOF\r\n");
    EXPECT_EQ(text.find("%%Trailer"), text.size() - 18);  // one trailer, at the end
    // Each page fits the paper: 10 x 40 by height, 60 x 20 by width, 7 x 7
    // enlarged to the height.
    const char* fits[3] = {"50 -200 scale", "300 -100 scale", "200 -200 scale"};
    for (int p = 1; p <= 3; ++p) {
        const TPage page = PageOf(text, p);
        ASSERT_GE(page.Operands.size(), 5u) << "page " << p;
        EXPECT_EQ(page.Operands[1], "0 200 translate");
        EXPECT_EQ(page.Operands[2], fits[p - 1]);
        EXPECT_EQ(page.Count, Ascii85Chars(page.Data));
    }
    EXPECT_LT(text.find("%%Page: 1 1"), text.find("%%Page: 2 2"));
    EXPECT_LT(text.find("%%Page: 2 2"), text.find("%%Page: 3 3"));
}

TEST_F(PsWriter, BilevelCodings)
{
    TPxBitmap image;
    BilevelImage(image, 37, 23);
    const std::vector<uint8_t> rows = MaskPadding(FileRows(image), 37);
    struct TCase {
        int Compression;
        std::string Source;
    };
    const std::string fax = " /BlackIs1 true /Columns 37 /Rows 23 /EndOfLine false /Uncompressed true "
                            "/EncodedByteAlign false /EndOfBlock false >> /CCITTFaxDecode filter";
    const std::string rle = "currentfile /ASCII85Decode filter /RunLengthDecode filter";
    const TCase cases[] = {
        {0, rle},
        {1, "currentfile /ASCII85Decode filter << /K -1" + fax},
        {2, "currentfile /ASCII85Decode filter << /K 1" + fax},
        {3, rle},  // JPEG has no 1-bit form
        {9, rle},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "compression " << c.Compression);
        TIOParamsVals params(nullptr);
        params.PSCompression = static_cast<uint8_t>(c.Compression);
        const std::string text = WritePS(image, params);
        const TPage page = PageOf(text, 1);
        ASSERT_EQ(page.Operands.size(), 8u);
        EXPECT_EQ(page.Operands[3], "37 23 1");
        EXPECT_EQ(page.Operands[4], "[ 37 0 0 23 0 0 ]");
        EXPECT_EQ(page.Operands[5], c.Source);
        EXPECT_EQ(page.Operands[7], "image");
        EXPECT_EQ(page.Count, Ascii85Chars(page.Data));
        EXPECT_EQ(params.BitsPerSample, 1);
        EXPECT_EQ(params.SamplesPerPixel, 1);
        size_t pos = 0;
        const std::vector<uint8_t> data = Ascii85Decode(page.Data, pos);
        const std::vector<uint8_t> back = c.Compression == 1 || c.Compression == 2
                                              ? FaxDecode(data, 37, 23, c.Compression == 1)
                                              : MaskPadding(PackBitsDecode(data), 37);
        EXPECT_EQ(back, rows);
    }
}

TEST_F(PsWriter, ColourCodings)
{
    TPxBitmap image;
    ColourImage(image, 24, 16);
    // Fax codings do not apply to colour: run-length procedures instead.
    for (const int compression : {0, 1, 2}) {
        TIOParamsVals params(nullptr);
        params.PSCompression = static_cast<uint8_t>(compression);
        const TPage page = PageOf(WritePS(image, params), 1);
        EXPECT_EQ(FindLine(page.Operands, "true 3"), 11) << "compression " << compression;
    }

    PxInstallJPEGFormat();
    for (const uint8_t space : {uint8_t{2}, uint8_t{1}, uint8_t{3}}) {
        SCOPED_TRACE(testing::Message() << "JPEG colour space " << int(space));
        TIOParamsVals params(nullptr);
        params.PSCompression = 3;
        params.JPEGQuality = 95;
        params.JPEGColorSpace = space;
        const TPage page = PageOf(WritePS(image, params), 1);
        EXPECT_EQ(params.JPEGColorSpace, space);
        ASSERT_EQ(page.Operands.size(), 9u);
        EXPECT_EQ(page.Operands[5], "currentfile /ASCII85Decode filter << >> /DCTDecode filter");
        EXPECT_EQ(page.Operands[6], space == 1 ? "false 1" : "false 3");
        EXPECT_EQ(page.Operands[8], "colorimage");
        EXPECT_EQ(page.Count, Ascii85Chars(page.Data));
        size_t pos = 0;
        const std::vector<uint8_t> jpeg = Ascii85Decode(page.Data, pos);
        ASSERT_GT(jpeg.size(), 4u);
        TPxBitmap back;
        TIOParamsVals readParams(nullptr);
        ReadEmbeddedJpeg(jpeg, back, readParams);
        ASSERT_EQ(back.GetWidth(), 24);
        ASSERT_EQ(back.GetHeight(), 16);
        EXPECT_EQ(readParams.SamplesPerPixel, space == 1 ? 1 : 3);
        if (space != 1)
            ExpectCloseColour(image, back, 20, 8);  // close to the original colours
    }
}

TEST_F(PsWriter, OtherFormatsAreWrittenFromACopyAndEmptyImagesFail)
{
    TPxBitmap image;
    ASSERT_TRUE(image.Allocate(6, 4, px8g));
    image.Fill(0x40);
    TIOParamsVals params(nullptr);
    const TPage page = PageOf(WritePS(image, params), 1);
    ASSERT_EQ(page.Operands.size(), 14u);
    EXPECT_EQ(page.Operands[3], "6 4 8");
    EXPECT_EQ(image.GetPixelFormat(), px8g);
    size_t pos = 0;
    EXPECT_EQ(PackBitsDecode(Ascii85Decode(page.Data, pos)), std::vector<uint8_t>(6, 0x40));

    TPxBitmap empty;
    bool aborted = false;
    EXPECT_EQ(WritePS(empty, params, &aborted), "");
    EXPECT_TRUE(aborted);
}

TEST_F(PsWriter, TextHelpers)
{
    EXPECT_EQ(PxPSPadNumber(0, 6), "0     ");
    EXPECT_EQ(PxPSPadNumber(123456, 6), "123456");
    EXPECT_EQ(PxPSPadNumber(1234567, 6), "1234567");

    // 2026-12-06 was a Sunday: the clock counts days from Sunday, the
    // locale's names from Monday.
    SYSTEMTIME t{};
    t.wYear = 2026;
    t.wMonth = 12;
    t.wDay = 6;
    t.wDayOfWeek = 0;
    t.wHour = 7;
    t.wMinute = 5;
    t.wSecond = 9;
    char sunday[40] = {}, december[40] = {};
    ASSERT_GT(::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SABBREVDAYNAME7, sunday, sizeof sunday), 0);
    ASSERT_GT(::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SABBREVMONTHNAME12, december, sizeof december), 0);
    EXPECT_EQ(PxPSFormatDate(t), std::string(sunday) + " " + december + " 06 07:05:09 2026");
}

TEST_F(PsWriter, SavesThroughTheIOObject)
{
    const bool existed = PxFormatRegistryExists();
    if (!existed)
        PxBuildFormatRegistry();
    PxInstallPSFormat();
    ASSERT_TRUE(PxFormatInfoById(ffPS)->Writer);
    EXPECT_FALSE(PxFormatInfoById(ffPS)->Reader);
    TPxBitmap image;
    BilevelImage(image, 16, 8);
    auto io = TImgIO::CreateForBitmap(&image);
    io->FileParams->PSCompression = 1;
    classlib::TMemoryStream m;
    io->SavePSToStream(&m);
    EXPECT_FALSE(io->AbortFlag);
    const TPage page = PageOf(StreamText(m), 1);
    ASSERT_EQ(page.Operands.size(), 8u);
    EXPECT_EQ(page.Operands[3], "16 8 1");
    EXPECT_NE(page.Operands[5].find("<< /K -1 /BlackIs1 true /Columns 16 /Rows 8 "), std::string::npos);
    if (!existed)
        PxFreeFormatRegistry();
}

}  // namespace
