// The image as source text: byte-array declarations, hexadecimal lists and
// base64 of the encoded image (checked byte for byte against the encoding),
// line breaking, the one-byte and failing encodings, and the picture made of
// characters by grey level.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "classlib/TextFile.h"
#include "imaging/io/formats/bmp/BmpReader.h"
#include "imaging/io/core/ImageSource.h"
#include "imaging/model/PxDefs.h"
#include "support/TestSupport.h"
#include "ImgIOTestSupport.h"

using namespace imaging;
using namespace imgiotest;

namespace {

// Bytes the stand-in writer produces: i * 37 + 11 for i < ByteCount.
int ByteCount = 0;
uint8_t ByteAt(int i) { return static_cast<uint8_t>(i * 37 + 11); }

void CountingWriter(classlib::TStream* s, TPxBitmap*, TIOParamsVals&, TPxIOProgressInfo& info)
{
    if (ByteCount < 0) {
        info.Abort();
        return;
    }
    for (int i = 0; i < ByteCount; ++i) {
        uint8_t b = ByteAt(i);
        s->WriteBuffer(&b, 1);
    }
}

std::vector<std::string> ReadLines(const std::wstring& name)
{
    classlib::TFileStream f(name, classlib::fmOpenRead);
    std::string all(static_cast<size_t>(f.GetSize()), '\0');
    f.ReadBuffer(all.data(), static_cast<int64_t>(all.size()));
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t p; (p = all.find("\r\n", start)) != std::string::npos; start = p + 2)
        lines.push_back(all.substr(start, p - start));
    EXPECT_EQ(start, all.size()) << "every line ends in CR LF";
    return lines;
}

int HexValue(const std::string& two) { return std::stoi(two, nullptr, 16); }

// Runs the tests in a scratch folder so that plain file names can be given.
class ImageSource : public testing::Test {
protected:
    void SetUp() override
    {
        wchar_t cwd[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, cwd);
        cwd_ = cwd;
        SetCurrentDirectoryW(dir_.Path().c_str());
        io_.GetCurrentBitmap()->Allocate(2, 2, px24RGB);
    }
    void TearDown() override { SetCurrentDirectoryW(cwd_.c_str()); }

    testsupport::TempDir dir_;
    std::wstring cwd_;
    TRegistryScope registry_;
    TImgIO io_{nullptr};
};

TEST_F(ImageSource, ByteArrayDeclaration)
{
    registry_.SetWriter(ffJPEG, CountingWriter);
    ByteCount = 1000;
    PxSaveToText(io_, L"logo.small.txt", ffJPEG, ptkByteArray);
    ASSERT_FALSE(io_.AbortFlag);
    EXPECT_EQ(io_.FileParams->FileName, L"logo.small.txt");
    std::vector<std::string> lines = ReadLines(dir_.File(L"logo.small.txt"));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "const");
    EXPECT_EQ(lines[1], "  logo_small.txt_Size = 1000;");
    EXPECT_EQ(lines[2], "  logo_small.txt : array [0..logo_small.txt_Size-1] of byte = (");
    // 18 values make a line longer than 70 characters.
    ASSERT_EQ(lines.size(), 3u + 55u + 1u);
    std::vector<int> values;
    for (size_t i = 3; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        ASSERT_EQ(l.rfind("    $", 0), 0u) << l;
        if (i + 1 < lines.size()) {
            EXPECT_EQ(l.size(), 4u + 18u * 4u) << l;
        }
        const bool last = i + 1 == lines.size();
        for (size_t p = 4; p + 3 < l.size(); p += 4) {
            ASSERT_EQ(l[p], '$') << l;
            values.push_back(HexValue(l.substr(p + 1, 2)));
            EXPECT_EQ(l[p + 3], last && p + 5 == l.size() ? ')' : ',') << l;
        }
    }
    EXPECT_EQ(lines.back().substr(lines.back().size() - 2), ");");
    ASSERT_EQ(values.size(), 1000u);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(values[i], ByteAt(i)) << i;
    // Upper-case digits.
    EXPECT_EQ(lines[3].substr(0, 12), "    $0B,$30,");
}

TEST_F(ImageSource, HexListAndOneByteImages)
{
    registry_.SetWriter(ffJPEG, CountingWriter);
    ByteCount = 40;
    PxSaveToText(io_, L"hex.txt", ffJPEG, ptkHexList);
    std::vector<std::string> lines = ReadLines(dir_.File(L"hex.txt"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "\\\\ Size=40");
    EXPECT_EQ(lines[1].size(), 15u * 5u);
    EXPECT_EQ(lines[1].substr(0, 10), "0x0B,0x30,");
    EXPECT_NE(lines[3].back(), ',');
    std::string joined = lines[1] + lines[2] + lines[3];
    ASSERT_EQ(joined.size(), 40u * 5u - 1u);
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(HexValue(joined.substr(i * 5 + 2, 2)), ByteAt(i)) << i;

    // An encoding of exactly one byte: only the closing line carries it.
    ByteCount = 1;
    PxSaveToText(io_, L"one.txt", ffJPEG, ptkByteArray);
    EXPECT_EQ(ReadLines(dir_.File(L"one.txt")),
              (std::vector<std::string>{"const", "  one_txt_Size = 1;",
                                        "  one_txt : array [0..one_txt_Size-1] of byte = (", "    $0B);"}));
    PxSaveToText(io_, L"one.txt", ffJPEG, ptkHexList);
    EXPECT_EQ(ReadLines(dir_.File(L"one.txt")), (std::vector<std::string>{"\\\\ Size=1", "0x0B"}));
}

TEST_F(ImageSource, FailedEncodingsWriteNoText)
{
    registry_.SetWriter(ffJPEG, CountingWriter);
    for (int count : {-1, 0}) {
        ByteCount = count;
        io_.FileParams->FileName = L"before";
        PxSaveToText(io_, L"none.txt", ffJPEG, ptkByteArray);
        EXPECT_TRUE(io_.AbortFlag);
        EXPECT_EQ(GetFileAttributesW(dir_.File(L"none.txt").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(io_.FileParams->FileName, L"before");
    }
    // A text file that cannot be created raises.
    ByteCount = 3;
    EXPECT_THROW(PxSaveToText(io_, dir_.File(L"no\\such\\dir.txt"), ffJPEG, ptkHexList), classlib::EInOutError);
}

TEST_F(ImageSource, Base64OfARealEncoding)
{
    PxInstallBMPFormat();
    TPxBitmap& b = *io_.GetCurrentBitmap();
    b.Allocate(9, 7, px24RGB);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
            TPxRGB* p = reinterpret_cast<TPxRGB*>(b.GetScanline(y)) + x;
            p->r = static_cast<uint8_t>(x * 28);
            p->g = static_cast<uint8_t>(y * 36);
            p->b = static_cast<uint8_t>(x * y);
        }
    classlib::TMemoryStream expected;
    io_.SaveToStream(&expected, ffBMP);
    ASSERT_FALSE(io_.AbortFlag);
    ASSERT_GT(expected.GetSize(), 57);

    PxSaveToText(io_, L"pic.b64", ffBMP, ptkBase64);
    ASSERT_FALSE(io_.AbortFlag);
    std::vector<std::string> lines = ReadLines(dir_.File(L"pic.b64"));
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i + 1 < lines.size()) {
            EXPECT_EQ(lines[i].size(), 76u);
        }
        text += lines[i];
    }
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string decoded;
    uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=')
            break;
        size_t v = alphabet.find(c);
        ASSERT_NE(v, std::string::npos) << c;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            decoded.push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
    ASSERT_EQ(decoded.size(), static_cast<size_t>(expected.GetSize()));
    EXPECT_EQ(decoded, std::string(static_cast<const char*>(expected.GetMemory()), decoded.size()));
}

TEST_F(ImageSource, CharactersByGreyLevel)
{
    struct TWeights {
        int32_t r = PxGrayWeightR, g = PxGrayWeightG, b = PxGrayWeightB;
        ~TWeights() { PxGrayWeightR = r, PxGrayWeightG = g, PxGrayWeightB = b; }
    } restore;
    PxGrayWeightR = 30;
    PxGrayWeightG = 59;
    PxGrayWeightB = 11;
    TPxBitmap& b = *io_.GetCurrentBitmap();
    // Top row greys, bottom row colours.
    const uint8_t greys[] = {0, 128, 100, 255, 200, 241, 28};
    b.Allocate(7, 2, px24RGB);
    for (int x = 0; x < 7; ++x) {
        TPxRGB* p = reinterpret_cast<TPxRGB*>(b.GetScanline(0)) + x;
        p->r = p->g = p->b = greys[x];
        TPxRGB* q = reinterpret_cast<TPxRGB*>(b.GetScanline(1)) + x;
        q->r = x == 0 ? 255 : 0;
        q->g = x == 1 ? 255 : 0;
        q->b = x == 2 ? 255 : 0;
    }
    PxSaveToText(io_, L"art.txt", 0, ptkCharacters);
    ASSERT_FALSE(io_.AbortFlag);
    EXPECT_EQ(io_.FileParams->FileName, L"art.txt");
    // red: grey 76 -> index 3; green: 150 -> 5; blue: 28 -> 1; black 0.
    EXPECT_EQ(ReadLines(dir_.File(L"art.txt")), (std::vector<std::string>{"W:+ , @", "*:@WWWW"}));

    // Only 24-bit images are written.
    b.Allocate(3, 3, px8g);
    PxSaveToText(io_, L"grey.txt", 0, ptkCharacters);
    EXPECT_TRUE(io_.AbortFlag);
    EXPECT_EQ(GetFileAttributesW(dir_.File(L"grey.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
