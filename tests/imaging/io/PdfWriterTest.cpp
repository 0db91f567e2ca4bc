// PDF writer and its object model: the text of every object kind, member
// ownership, the file layout (header, objects, cross-reference table whose
// offsets must point at the objects, trailer), the page, content and
// information objects, and the image data decoded back for every coding.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "PsPdfTestSupport.h"
#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/formats/jpeg/JpegReader.h"
#include "imaging/io/formats/pdf/PdfObjects.h"
#include "imaging/io/formats/pdf/PdfWriter.h"
#include "imaging/io/formats/tiff/TiffLzw.h"
#include "imaging/model/PxBitmap.h"

using namespace imaging;
using namespace pspdftest;

namespace {

std::string Text(TPxPDFObject& Object)
{
    classlib::TMemoryStream m;
    Object.WriteTo(&m);
    return StreamText(m);
}

// A parsed file: objects by number (body between "n 0 obj\n" and
// "\nendobj\n"), checked against the cross-reference table on the way.
struct TPdfFile {
    std::string Text;
    std::map<int, std::string> Objects;
    std::string Trailer;
};

TPdfFile ParsePdf(const std::string& Text)
{
    TPdfFile f;
    f.Text = Text;
    EXPECT_EQ(Text.substr(0, 15), "%PDF-1.4\n%\xC8\xD2\xF0\xFE\n");
    const size_t sx = Text.rfind("startxref\n");
    EXPECT_NE(sx, std::string::npos);
    if (sx == std::string::npos)
        return f;
    const size_t xref = std::stoul(Text.substr(sx + 10));
    EXPECT_EQ(Text.compare(xref, 5, "xref\n"), 0) << "startxref does not give the xref line";
    EXPECT_EQ(Text.substr(Text.size() - 6), "%%EOF\n");
    size_t p = xref + 5;
    const size_t lineEnd = Text.find('\n', p);
    const std::string sub = Text.substr(p, lineEnd - p);
    EXPECT_EQ(sub.substr(0, 2), "0 ");
    const int count = std::stoi(sub.substr(2));
    p = lineEnd + 1;
    EXPECT_EQ(Text.substr(p, 20), "0000000000 65535 f \n");
    p += 20;
    for (int n = 1; n < count; ++n, p += 20) {
        const std::string entry = Text.substr(p, 20);
        EXPECT_EQ(entry.substr(10), " 00000 n \n") << "entry " << n;
        const size_t offset = std::stoul(entry.substr(0, 10));
        const std::string head = std::to_string(n) + " 0 obj\n";
        EXPECT_EQ(Text.compare(offset, head.size(), head), 0) << "offset of object " << n;
        const size_t end = Text.find("\nendobj\n", offset);
        EXPECT_NE(end, std::string::npos);
        f.Objects[n] = Text.substr(offset + head.size(), end - offset - head.size());
    }
    EXPECT_EQ(Text.compare(p, 8, "trailer\n"), 0);
    f.Trailer = Text.substr(p + 8, sx - p - 8);
    return f;
}

// The dictionary text of a stream object, and its data.
std::string StreamDictionary(const std::string& Body) { return Body.substr(0, Body.find("\nstream\n")); }

std::vector<uint8_t> StreamData(const std::string& Body)
{
    const size_t a = Body.find("\nstream\n");
    const size_t b = Body.rfind("\nendstream");
    if (a == std::string::npos || b == std::string::npos || b < a + 8)
        return {};
    const std::string d = Body.substr(a + 8, b - a - 8);
    return std::vector<uint8_t>(d.begin(), d.end());
}

std::string WritePdf(TPxBitmap& Image, TIOParamsVals& Params, bool* Aborted = nullptr)
{
    classlib::TMemoryStream m;
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    PxWritePDF(&m, &Image, Params, progress);
    if (Aborted)
        *Aborted = aborting;
    return StreamText(m);
}

class PdfWriter : public testing::Test {
protected:
    void SetUp() override
    {
        InstallServices();
        PxInstallPDFFormat();
        PxInstallTIFFLZWCodec();
    }
};

// Counts its destructions, to see who frees what.
class TCountedNumber : public TPxPDFNumericObject {
public:
    explicit TCountedNumber(int& Count) : TPxPDFNumericObject(1), count_(Count) {}
    ~TCountedNumber() override { ++count_; }

private:
    int& count_;
};

TEST(PdfObjects, TextOfEachKind)
{
    struct TCase {
        std::unique_ptr<TPxPDFObject> Object;
        std::string Expected;
    };
    TCase cases[] = {
        {std::make_unique<TPxPDFNumericObject>(595), "595"},
        {std::make_unique<TPxPDFNumericObject>(-1), "-1"},
        {std::make_unique<TPxPDFNumericObject>(0.25), "0.25"},
        {std::make_unique<TPxPDFBooleanObject>(true), "true"},
        {std::make_unique<TPxPDFBooleanObject>(false), "false"},
        {std::make_unique<TPxPDFRefObject>(6), "6 0 R"},
        {std::make_unique<TPxPDFStringObject>("a(b)"), "(a\\(b\\))"},
        {std::make_unique<TPxPDFStringObject>("\b\t\n\f\r\\x\x01\xE9"), "(\\b\\t\\n\\f\\r\\\\x\x01\xE9)"},
        {std::make_unique<TPxPDFNameObject>("a b"), "/a#20b"},
        {std::make_unique<TPxPDFNameObject>("A~!#\x7F\xFF"), "/A~!##7F#FF"},
    };
    for (TCase& c : cases)
        EXPECT_EQ(Text(*c.Object), c.Expected);

    TPxPDFArrayObject box;
    for (double v : {0.0, 0.0, 595.0, 842.0})
        box.Add(new TPxPDFNumericObject(v));
    EXPECT_EQ(Text(box), "[0 0 595 842 ]");
    EXPECT_EQ(Text(*std::make_unique<TPxPDFArrayObject>()), "[]");

    TPxPDFDictionaryObject d;
    d.Set("Type", new TPxPDFNameObject("Page"));
    d.Set("Count", new TPxPDFNumericObject(1));
    d.Set("Type", new TPxPDFNameObject("Pages"));  // replaced in place
    d.Insert(0, "First", new TPxPDFBooleanObject(true));
    EXPECT_EQ(Text(d), "<< /First true\n/Type /Pages\n/Count 1\n>>");
    EXPECT_EQ(Text(*std::make_unique<TPxPDFDictionaryObject>()), "<< >>");

    std::unique_ptr<TPxPDFStreamObject> s(TPxPDFStreamObject::CreateFromBuffer("a\nb", 3));
    s->Dictionary().Set("Filter", new TPxPDFNameObject("LZWDecode"));
    EXPECT_EQ(Text(*s), "<< /Length 3\n/Filter /LZWDecode\n>>\nstream\na\nb\nendstream");
    EXPECT_EQ(Text(*std::make_unique<TPxPDFStreamObject>()), "<< /Length 0\n>>\nstream\n\nendstream");
}

TEST(PdfObjects, ContainersFreeTheirMembersButNotSharedOnes)
{
    int freed = 0;
    auto* shared = new TCountedNumber(freed);
    shared->Shared = true;
    {
        TPxPDFDictionaryObject d;
        auto* inner = new TPxPDFArrayObject();
        inner->Add(new TCountedNumber(freed));
        inner->Add(shared);
        d.Set("A", inner);
        d.Set("B", new TCountedNumber(freed));
        d.Set("B", new TCountedNumber(freed));  // the replaced value is freed now
        EXPECT_EQ(freed, 1);
        d.Set("C", shared);
    }
    EXPECT_EQ(freed, 3);
    delete shared;
    EXPECT_EQ(freed, 4);
}

TEST_F(PdfWriter, OnePageColourFile)
{
    TPxBitmap image;
    ColourImage(image, 100, 50);
    TIOParamsVals params(nullptr);
    params.PDFCompression = 0;
    bool aborted = true;
    const TPdfFile f = ParsePdf(WritePdf(image, params, &aborted));
    EXPECT_FALSE(aborted);
    ASSERT_EQ(f.Objects.size(), 7u);
    EXPECT_EQ(f.Trailer, "<< /Size 8\n/Root 1 0 R\n/Info 7 0 R\n>>\n");
    EXPECT_EQ(f.Objects.at(1), "<< /Type /Catalog\n/Pages 6 0 R\n>>");
    EXPECT_EQ(f.Objects.at(2), "<< /ProcSet [/PDF /ImageB ]\n/XObject << /lm1 3 0 R\n>>\n>>");
    EXPECT_EQ(StreamDictionary(f.Objects.at(3)),
              "<< /Type /XObject\n/Subtype /Image\n/Length 15000\n/ColorSpace /DeviceRGB\n/BitsPerComponent 8\n"
              "/Width 100\n/Height 50\n>>");
    EXPECT_EQ(StreamData(f.Objects.at(3)), FileRows(image));
    EXPECT_EQ(f.Objects.at(4), "<< /Length 32\n>>\nstream\nq\n595 0 0 297 0 545 cm\n/lm1 Do\nQ\nendstream");
    EXPECT_EQ(f.Objects.at(5), "<< /Type /Page\n/Resources 2 0 R\n/MediaBox [0 0 595 842 ]\n/Contents 4 0 R\n"
                               "/Parent 6 0 R\n>>");
    EXPECT_EQ(f.Objects.at(6), "<< /Type /Pages\n/Kids [5 0 R ]\n/Count 1\n>>");
    // With every text empty only the creation date is there.
    const std::string& info = f.Objects.at(7);
    ASSERT_EQ(info.size(), std::string("<< /CreationDate (D:20261210151617)\n>>").size()) << info;
    EXPECT_EQ(info.substr(0, 21), "<< /CreationDate (D:2");
    EXPECT_EQ(info.find_first_not_of("0123456789", 20), 34u);
    EXPECT_EQ(params.BitsPerSample, 8);
    EXPECT_EQ(params.SamplesPerPixel, 3);
}

TEST_F(PdfWriter, InformationTextsAndDate)
{
    TPxBitmap image;
    ColourImage(image, 4, 4);
    TIOParamsVals params(nullptr);
    params.PDFTitle = "a(b)";
    params.PDFSubject = "s";
    params.PDFProducer = "p\\q";
    const TPdfFile f = ParsePdf(WritePdf(image, params));
    const std::string& info = f.Objects.at(7);
    EXPECT_EQ(info.substr(0, info.find("/CreationDate")), "<< /Title (a\\(b\\))\n/Subject (s)\n/Producer (p\\\\q)\n");

    SYSTEMTIME t{};
    t.wYear = 2026;
    t.wMonth = 3;
    t.wDay = 4;
    t.wHour = 5;
    t.wMinute = 6;
    t.wSecond = 7;
    EXPECT_EQ(PxPDFFormatDate(t), "D:20260304050607");
}

TEST_F(PdfWriter, BilevelCodings)
{
    TPxBitmap image;
    BilevelImage(image, 45, 19);
    const std::vector<uint8_t> rows = MaskPadding(FileRows(image), 45);
    const std::string parms = "/DecodeParms << /BlackIs1 true\n/Columns 45\n/Rows 19\n/EndOfLine false\n"
                              "/Uncompressed true\n/EncodedByteAlign false\n/EndOfBlock false\n>>\n";
    struct TCase {
        int Compression, Stored;
        std::string Filter;  // entries between Length and ColorSpace
    };
    const TCase cases[] = {
        {0, 0, ""},
        {1, 1, "/Filter [/RunLengthDecode ]\n"},
        {2, 2, "/Filter /CCITTFaxDecode\n/DecodeParms << /K -1\n" + parms.substr(16)},
        {3, 3, "/Filter /CCITTFaxDecode\n/DecodeParms << /K 1\n" + parms.substr(16)},
        {4, 3, "/Filter /CCITTFaxDecode\n/DecodeParms << /K 1\n" + parms.substr(16)},  // no 1-bit JPEG
        {5, 5, "/Filter /LZWDecode\n"},
        {7, 7, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "compression " << c.Compression);
        TIOParamsVals params(nullptr);
        params.PDFCompression = static_cast<uint8_t>(c.Compression);
        const TPdfFile f = ParsePdf(WritePdf(image, params));
        EXPECT_EQ(params.PDFCompression, c.Stored);
        EXPECT_EQ(params.BitsPerSample, 1);
        ASSERT_EQ(f.Objects.count(3), 1u);
        const std::string& body = f.Objects.at(3);
        const std::vector<uint8_t> data = StreamData(body);
        const std::string dict = StreamDictionary(body);
        EXPECT_EQ(dict, "<< /Type /XObject\n/Subtype /Image\n/Length " + std::to_string(data.size()) + "\n" +
                            c.Filter + "/ColorSpace /DeviceGray\n/BitsPerComponent 1\n/Width 45\n/Height 19\n>>");
        std::vector<uint8_t> back;
        switch (c.Stored) {
        case 1: back = PackBitsDecode(data); break;
        case 2:
        case 3: back = FaxDecode(data, 45, 19, c.Stored == 2); break;
        case 5: {
            void* state = nullptr;
            for (int y = 0; y < 19; ++y) {
                const uint8_t* row = PxTIFFLZWDecompress(data.data(), static_cast<int64_t>(data.size()), 6, state, 1);
                ASSERT_NE(row, nullptr);
                back.insert(back.end(), row, row + 6);
            }
            PxTIFFLZWDecompress(nullptr, 0, 6, state, 1);
            break;
        }
        default: back = data; break;
        }
        EXPECT_EQ(MaskPadding(back, 45), rows);
    }
}

TEST_F(PdfWriter, ColourCodings)
{
    TPxBitmap image;
    ColourImage(image, 30, 20);
    {
        TIOParamsVals params(nullptr);
        params.PDFCompression = 5;
        const std::string body = ParsePdf(WritePdf(image, params)).Objects.at(3);
        EXPECT_NE(StreamDictionary(body).find("\n/Filter /LZWDecode\n/ColorSpace /DeviceRGB\n"), std::string::npos);
        const std::vector<uint8_t> data = StreamData(body);
        std::vector<uint8_t> back;
        void* state = nullptr;
        for (int y = 0; y < 20; ++y) {
            const uint8_t* row = PxTIFFLZWDecompress(data.data(), static_cast<int64_t>(data.size()), 90, state, 1);
            ASSERT_NE(row, nullptr);
            back.insert(back.end(), row, row + 90);
        }
        PxTIFFLZWDecompress(nullptr, 0, 90, state, 1);
        EXPECT_EQ(back, FileRows(image));
    }
    // Codings of 1-bit images give uncompressed colour.
    for (const int compression : {1, 2, 3}) {
        TIOParamsVals params(nullptr);
        params.PDFCompression = static_cast<uint8_t>(compression);
        const std::string body = ParsePdf(WritePdf(image, params)).Objects.at(3);
        EXPECT_EQ(StreamData(body), FileRows(image)) << "compression " << compression;
        EXPECT_EQ(StreamDictionary(body).find("/Filter"), std::string::npos);
    }
    PxInstallJPEGFormat();
    for (const uint8_t space : {uint8_t{2}, uint8_t{1}, uint8_t{4}}) {
        SCOPED_TRACE(testing::Message() << "JPEG colour space " << int(space));
        TIOParamsVals params(nullptr);
        params.PDFCompression = 4;
        params.JPEGColorSpace = space;
        params.JPEGQuality = 95;
        const std::string body = ParsePdf(WritePdf(image, params)).Objects.at(3);
        EXPECT_NE(StreamDictionary(body).find(std::string("\n/Filter /DCTDecode\n/ColorSpace /") +
                                              (space == 1 ? "DeviceGray" : "DeviceRGB") + "\n"),
                  std::string::npos);
        TPxBitmap back;
        TIOParamsVals readParams(nullptr);
        ReadEmbeddedJpeg(StreamData(body), back, readParams);
        ASSERT_EQ(back.GetWidth(), 30);
        EXPECT_EQ(readParams.SamplesPerPixel, space == 1 ? 1 : 3);
        if (space != 1)
            ExpectCloseColour(image, back, 25, 10);
    }
}

TEST_F(PdfWriter, SeveralPagesAndAnOffsetStart)
{
    TIOParamsVals params(nullptr);
    params.PDFCompression = 0;
    params.PDFPaperWidth = 200;
    params.PDFPaperHeight = 100;
    auto doc = PxPDFCreateDocument();
    TPxIOProgressInfo progress;
    TPxBitmap a, b;
    ColourImage(a, 40, 10);
    BilevelImage(b, 10, 40);
    PxPDFAddPage(doc.get(), &a, params, progress);
    PxPDFAddPage(doc.get(), &b, params, progress);
    classlib::TMemoryStream m;
    m.WriteBuffer("0123456789", 10);
    PxPDFClose(doc, &m, params);
    EXPECT_FALSE(doc);
    PxPDFClose(doc, &m, params);  // nothing for an empty document

    const std::string all = StreamText(m);
    ASSERT_EQ(all.substr(0, 10), "0123456789");
    // Offsets count from the document's first byte.
    const TPdfFile f = ParsePdf(all.substr(10));
    ASSERT_EQ(f.Objects.size(), 10u);
    EXPECT_EQ(f.Objects.at(2), "<< /ProcSet [/PDF /ImageB ]\n/XObject << /lm1 3 0 R\n/lm2 6 0 R\n>>\n>>");
    EXPECT_EQ(StreamData(f.Objects.at(4)), std::vector<uint8_t>({'q', '\n', '2', '0', '0', ' ', '0', ' ', '0', ' ',
                                                                 '5', '0', ' ', '0', ' ', '5', '0', ' ', 'c', 'm',
                                                                 '\n', '/', 'l', 'm', '1', ' ', 'D', 'o', '\n', 'Q'}));
    EXPECT_NE(f.Objects.at(7).find("\n25 0 0 100 0 0 cm\n/lm2 Do\nQ"), std::string::npos);
    EXPECT_NE(f.Objects.at(8).find("/MediaBox [0 0 200 100 ]\n/Contents 7 0 R\n/Parent 9 0 R\n>>"),
              std::string::npos);
    EXPECT_EQ(f.Objects.at(9), "<< /Type /Pages\n/Kids [5 0 R 8 0 R ]\n/Count 2\n>>");
    EXPECT_EQ(f.Trailer, "<< /Size 11\n/Root 1 0 R\n/Info 10 0 R\n>>\n");
}

TEST_F(PdfWriter, OtherFormatsFromACopyEmptyImagesFailAndTheIOObjectSaves)
{
    TPxBitmap grey;
    ASSERT_TRUE(grey.Allocate(3, 2, px8g));
    grey.Fill(0x30);
    TIOParamsVals params(nullptr);
    params.PDFCompression = 0;
    const TPdfFile f = ParsePdf(WritePdf(grey, params));
    EXPECT_EQ(StreamData(f.Objects.at(3)), std::vector<uint8_t>(18, 0x30));
    EXPECT_EQ(grey.GetPixelFormat(), px8g);

    TPxBitmap empty;
    bool aborted = false;
    EXPECT_EQ(WritePdf(empty, params, &aborted), "");
    EXPECT_TRUE(aborted);

    const bool existed = PxFormatRegistryExists();
    if (!existed)
        PxBuildFormatRegistry();
    PxInstallPDFFormat();
    ASSERT_TRUE(PxFormatInfoById(ffPDF)->Writer);
    EXPECT_FALSE(PxFormatInfoById(ffPDF)->Reader);
    TPxBitmap bilevel;
    BilevelImage(bilevel, 16, 8);
    auto io = TImgIO::CreateForBitmap(&bilevel);
    classlib::TMemoryStream m;
    io->SavePDFToStream(&m);
    EXPECT_FALSE(io->AbortFlag);
    const TPdfFile saved = ParsePdf(StreamText(m));
    ASSERT_EQ(saved.Objects.count(3), 1u);
    EXPECT_NE(saved.Objects.at(3).find("/DecodeParms << /K -1\n"), std::string::npos);  // default: Group 4
    EXPECT_EQ(FaxDecode(StreamData(saved.Objects.at(3)), 16, 8, true), FileRows(bilevel));
    if (!existed)
        PxFreeFormatRegistry();
}

}  // namespace
