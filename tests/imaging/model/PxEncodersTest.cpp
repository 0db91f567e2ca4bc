// Reference vectors: ASCII85 from python3 base64.a85encode(data, adobe=False)
// (no "<~" delimiter, "z" for zero groups), base64 from the coreutils
// base64 tool; PackBits vectors checked by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "classlib/TextFile.h"
#include "imaging/model/PxStreamUtils.h"
#include "tests/support/TestSupport.h"

using namespace imaging;

namespace {

std::string Ascii85(const std::string& data, int64_t* counter = nullptr)
{
    std::vector<char> out(static_cast<size_t>(PxAscii85MaxLength(static_cast<int64_t>(data.size()))));
    int64_t c = 0;
    const int64_t n = PxAscii85Encode(reinterpret_cast<const uint8_t*>(data.data()),
                                      static_cast<int64_t>(data.size()), out.data(), c);
    if (counter)
        *counter = c;
    return std::string(out.data(), static_cast<size_t>(n));
}

std::string Bytes(std::initializer_list<int> v)
{
    std::string s;
    for (int b : v)
        s.push_back(static_cast<char>(b));
    return s;
}

TEST(PxEncodersTest, Ascii85KnownVectors)
{
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {Bytes({0, 0, 0, 0}), "z"},
        {Bytes({0}), "!!"},
        {"Man is distinguished", "9jqo^BlbD-BleB1DJ+*+F(f,q"},
        {Bytes({0, 0, 0, 0, 0xFF, 0xFE, 1}), "zs8E$"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Ascii85(c.in), c.out + "~>\r\n") << c.out;
}

TEST(PxEncodersTest, Ascii85BreaksLinesAfterSeventyFiveAndCountsGroupCharacters)
{
    std::string data;
    for (int i = 0; i < 256; i += 3)
        data.push_back(static_cast<char>(i));
    const std::string ref =
        "!!<E3$kEsc(`OM>,UY&n0JbUI4?l/$84u]T<**7/?t3e_Ci=?:G^FmjKSPGEOHYuuS=cOPW2m)+[(!W[^r+16bg4_ff\\>9AjQGgqnFQALr;Q";
    int64_t counter = 0;
    EXPECT_EQ(Ascii85(data, &counter), ref.substr(0, 75) + "\r\n" + ref.substr(75) + "~>\r\n");
    EXPECT_EQ(counter, static_cast<int64_t>(ref.size()));
}

// Decoder of the RunLengthDecode filter, to prove the encoding reversible.
std::string UnpackBits(const std::string& in)
{
    std::string out;
    size_t i = 0;
    while (i < in.size()) {
        const int n = static_cast<uint8_t>(in[i++]);
        if (n == 128)
            break;
        if (n < 128) {
            out.append(in, i, static_cast<size_t>(n + 1));
            i += static_cast<size_t>(n + 1);
        } else {
            out.append(static_cast<size_t>(257 - n), in[i++]);
        }
    }
    return out;
}

std::string PackBits(const std::string& data)
{
    std::vector<uint8_t> out(static_cast<size_t>(PxPackBitsMaxLength(static_cast<int64_t>(data.size()))));
    const int64_t n =
        PxPackBitsEncode(reinterpret_cast<const uint8_t*>(data.data()), static_cast<int64_t>(data.size()), out.data());
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(n));
}

TEST(PxEncodersTest, PackBitsVectors)
{
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"xxxxx", Bytes({252, 'x', 128})},
        {"AB", Bytes({1, 'A', 'B', 128})},
        {"ABCC", Bytes({2, 'A', 'B', 'C', 0, 'C', 128})},
        {"", Bytes({128})},
        {std::string(130, 'q'), Bytes({129, 'q', 255, 'q', 128})},  // runs end at 128
    };
    for (const auto& c : cases)
        EXPECT_EQ(PackBits(c.in), c.out);
}

TEST(PxEncodersTest, PackBitsLongInputsRoundTrip)
{
    std::string data;
    for (int i = 0; i < 300; ++i)
        data.push_back(static_cast<char>(i * 7));  // a literal longer than 128
    data += std::string(200, '\x05') + "abcdd" + std::string(3, 'e');
    const std::string packed = PackBits(data);
    EXPECT_EQ(UnpackBits(packed), data);
    EXPECT_LE(static_cast<int64_t>(packed.size()), PxPackBitsMaxLength(static_cast<int64_t>(data.size())));
}

TEST(PxEncodersTest, PackBitsWorstCaseFitsTheAdvertisedBound)
{
    // "ABBCCDD..." codes as literals of two bytes (3 output bytes each).
    for (int n : {1, 2, 3, 4, 5, 64, 257}) {
        std::string data = "@";
        for (int i = 0; static_cast<int>(data.size()) < n; ++i)
            data += std::string(2, static_cast<char>('A' + i % 26));
        data.resize(static_cast<size_t>(n));
        const std::string packed = PackBits(data);
        EXPECT_LE(static_cast<int64_t>(packed.size()), PxPackBitsMaxLength(n)) << n;
        EXPECT_EQ(UnpackBits(packed), data) << n;
    }
}

TEST(PxEncodersTest, Base64Triples)
{
    char out[5] = {};
    PxBase64EncodeTriple(reinterpret_cast<const uint8_t*>("M"), out, 1);
    EXPECT_STREQ(out, "TQ==");
    PxBase64EncodeTriple(reinterpret_cast<const uint8_t*>("Ma"), out, 2);
    EXPECT_STREQ(out, "TWE=");
    PxBase64EncodeTriple(reinterpret_cast<const uint8_t*>("Man"), out, 3);
    EXPECT_STREQ(out, "TWFu");
}

TEST(PxEncodersTest, Base64StreamLinesMatchReference)
{
    classlib::TMemoryStream source;
    uint8_t bytes[60];
    for (int i = 0; i < 60; ++i)
        bytes[i] = static_cast<uint8_t>(i);
    source.WriteBuffer(bytes, 60);

    struct Case {
        int lineLength;
        int64_t start;
        const char* expected;
    } cases[] = {
        {76, 0, "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4\r\nOTo7\r\n"},
        {8, 42, "KissLS4v\r\nMDEyMzQ1\r\nNjc4OTo7\r\n"},
        {76, 59, "Ow==\r\n"},
        {76, 60, ""},
    };
    testsupport::TempDir dir;
    for (const auto& c : cases) {
        const std::wstring name = dir.File(L"b64.txt");
        {
            classlib::TTextFile text;
            text.Rewrite(name);
            source.SetPosition(c.start);
            PxBase64EncodeStream(&source, text, c.lineLength);
            text.Close();
        }
        classlib::TFileStream f(name, classlib::fmOpenRead);
        std::string got(static_cast<size_t>(f.GetSize()), '\0');
        f.ReadBuffer(got.data(), f.GetSize());
        EXPECT_EQ(got, c.expected) << c.lineLength << " " << c.start;
    }
}

}  // namespace
