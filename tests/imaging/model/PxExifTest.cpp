// The EXIF routines that need no file parameters: header test, TIFF header
// search and user comment coding.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "classlib/Streams.h"
#include "imaging/model/PxExif.h"

using namespace imaging;

TEST(PxExif, HeaderTestChecksTheLength)
{
    const uint8_t exif[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I'};
    const uint8_t other[] = {'E', 'x', 'i', 'f', 'X', 0};
    EXPECT_TRUE(PxIsEXIFHeader(exif, 8));
    EXPECT_TRUE(PxIsEXIFHeader(exif, 5));
    EXPECT_FALSE(PxIsEXIFHeader(exif, 4));  // the zero byte lies outside
    EXPECT_FALSE(PxIsEXIFHeader(exif, 0));
    EXPECT_FALSE(PxIsEXIFHeader(nullptr, 8));
    EXPECT_FALSE(PxIsEXIFHeader(other, 6));
}

TEST(PxExif, FindTIFFHeader)
{
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Data;
        int64_t Expected;
    };
    std::vector<uint8_t> far(140000, 0);
    std::memcpy(far.data() + 135000, "II*\0\x08\0\0\0", 8);
    std::vector<uint8_t> later(300, 0);
    std::memcpy(later.data() + 100, "MM\0*\0\0\0\x08", 8);
    const TCase cases[] = {
        {"raw variant RO", {'I', 'I', 0x52, 0x4F, 8, 0, 0, 0, 0, 0}, 0},
        {"TIFF at 100", later, 100},
        {"offset beyond the stream", {'I', 'I', 42, 0, 0xFF, 0xFF, 0, 0, 0}, -1},
        {"wrong version", {'I', 'I', 43, 0, 8, 0, 0, 0, 0}, -1},
        {"shorter than 8 bytes", {'I', 'I', 42, 0, 4, 0, 0}, -1},
        {"beyond 128 KiB", far, -1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        classlib::TMemoryStream s;
        s.WriteBuffer("ab", 2);
        s.WriteBuffer(c.Data.data(), static_cast<int64_t>(c.Data.size()));
        s.SetPosition(2);
        EXPECT_EQ(PxFindTIFFHeader(&s), c.Expected);
        EXPECT_EQ(s.GetPosition(), 2);
    }
}

TEST(PxExif, UserCommentCoding)
{
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Bytes;
        bool Little;
        std::string Code;
        std::wstring Text;
    };
    auto with = [](const std::string& code, std::initializer_list<uint8_t> rest) {
        std::vector<uint8_t> b(code.begin(), code.end());
        b.insert(b.end(), rest);
        return b;
    };
    const TCase cases[] = {
        // The last letter's high byte is zero: it stays.
        {"UNICODE ending in ASCII", with(PxEXIFUnicodeCode, {'a', 0, 0xE7, 0, 'b', 0}), true, PxEXIFUnicodeCode, L"a\u00E7b"},
        {"UNICODE with a zero unit", with(PxEXIFUnicodeCode, {'a', 0, 'b', 0, 0, 0}), true, PxEXIFUnicodeCode, L"ab"},
        {"UNICODE big-endian", with(PxEXIFUnicodeCode, {0, 'a', 0, 'b'}), false, PxEXIFUnicodeCode, L"ab"},
        {"ASCII with zeros", with(PxEXIFAsciiCode, {'H', 'i', 0, 0}), true, PxEXIFAsciiCode, L"Hi"},
        {"exactly 8 bytes", with(PxEXIFAsciiCode, {}), true, PxEXIFUnicodeCode, L""},
        {"short", {'A', 'S'}, true, PxEXIFUnicodeCode, L""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::string code;
        EXPECT_EQ(PxDecodeEXIFUserComment(c.Bytes.data(), c.Bytes.size(), c.Little, code), c.Text);
        EXPECT_EQ(code, c.Code);
    }
    // Encoding: the Unicode code for an empty code; nothing for empty text or
    // a code of another length; written comments decode to the same text.
    for (const std::string& code : {std::string(), PxEXIFUnicodeCode, PxEXIFAsciiCode}) {
        const std::vector<uint8_t> b = PxEncodeEXIFUserComment(L"Cais a", code);
        std::string back;
        EXPECT_EQ(PxDecodeEXIFUserComment(b.data(), b.size(), true, back), L"Cais a");
        EXPECT_EQ(back, code.empty() ? PxEXIFUnicodeCode : code);
    }
    EXPECT_EQ(PxEncodeEXIFUserComment(L"x", PxEXIFUnicodeCode).size(), 12u);
    EXPECT_EQ(PxEncodeEXIFUserComment(L"x", PxEXIFAsciiCode).size(), 10u);
    EXPECT_TRUE(PxEncodeEXIFUserComment(L"", PxEXIFAsciiCode).empty());
    EXPECT_TRUE(PxEncodeEXIFUserComment(L"x", "JIS").empty());
}
