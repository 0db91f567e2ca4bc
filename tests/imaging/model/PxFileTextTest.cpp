#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <numbers>

#include "classlib/Lists.h"
#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "imaging/model/PxFileText.h"
#include "tests/support/TestSupport.h"

using namespace imaging;

namespace {

TEST(PxWideFileStreamTest, CreatesAndOpensFilesByWideNames)
{
    testsupport::TempDir dir;
    const std::wstring name = dir.File(L"\u00dcbung_\u0444\u0430\u0439\u043b.bin");
    {
        TPxWideFileStream f(name, pxFmCreate);
        f.WriteBuffer("picture", 7);
    }
    EXPECT_TRUE(PxFileExists(name));
    EXPECT_TRUE(PxFileExistsWS(name));
    EXPECT_FALSE(PxFileExists(dir.Path()));  // a folder is no file
    {
        // Read access, others may read: a second reader is allowed.
        TPxWideFileStream a(name, 0x20);
        TPxWideFileStream b(name, 0x20);
        char buf[8] = {};
        EXPECT_EQ(a.Read(buf, 8), 7);
        EXPECT_EQ(std::string(buf, 7), "picture");
        EXPECT_EQ(b.GetSize(), 7);
        // Exclusive access is refused while others hold the file.
        EXPECT_THROW(TPxWideFileStream(name, 0x12), classlib::EFOpenError);
    }
}

TEST(PxWideFileStreamTest, FailuresRaiseWithNameAndSystemMessage)
{
    testsupport::TempDir dir;
    const std::wstring missing = dir.File(L"missing.jpg");
    try {
        TPxWideFileStream f(missing, 0);
        FAIL() << "no exception";
    } catch (const classlib::EFOpenError& e) {
        const std::wstring prefix = L"Cannot open file \"" + classlib::ExpandFileName(missing) + L"\". ";
        EXPECT_TRUE(e.Message().starts_with(prefix)) << e.what();
        EXPECT_GT(e.Message().size(), prefix.size());
    }
    try {
        TPxWideFileStream f(dir.File(L"no\\such\\folder\\x.bin"), pxFmCreate);
        FAIL() << "no exception";
    } catch (const classlib::EFCreateError& e) {
        EXPECT_TRUE(e.Message().starts_with(L"Cannot create file \"")) << e.what();
    }
    // Invalid modes fail without touching the platform.
    EXPECT_EQ(PxFileOpenW(missing, 3), INVALID_HANDLE_VALUE);
    EXPECT_EQ(PxFileOpenW(missing, 0x50), INVALID_HANDLE_VALUE);
}

TEST(PxWideStringsTest, KeepsCopiesInOrder)
{
    TPxWideStrings list;
    std::wstring text = L"first";
    list.Add(text);
    text[0] = L'F';  // the list holds its own copy
    list.Add(L"");
    list.Add(L"\u4e2d");
    ASSERT_EQ(list.GetCount(), 3);
    EXPECT_EQ(list.GetString(0), L"first");
    EXPECT_EQ(list.GetString(1), L"");
    EXPECT_EQ(list.GetString(2), L"\u4e2d");
    list.Clear();
    EXPECT_EQ(list.GetCount(), 0);
}

TEST(PxTextTest, SingleByteRoutines)
{
    EXPECT_EQ(PxTrimA(" \t ab c \r\n"), "ab c");
    EXPECT_EQ(PxUpperCaseA("aBc1"), "ABC1");
    EXPECT_EQ(PxLowerCaseA("AbC1"), "abc1");
    EXPECT_EQ(PxIntToStrA(-42), "-42");
    EXPECT_EQ(PxStrToIntDefA("123", 7), 123);
    EXPECT_EQ(PxStrToIntDefA("12x", 7), 7);
    EXPECT_EQ(PxCopyA("abcdef", 2, 3), "bcd");
    EXPECT_EQ(PxPosA("cd", "abcdef"), 3);
    EXPECT_EQ(PxPosA("x", "abcdef"), 0);
    EXPECT_EQ(PxIntToHexA(255, 4), "00FF");
    char* copy = PxStrNew("dup");
    EXPECT_STREQ(copy, "dup");
    delete[] copy;
    EXPECT_EQ(PxStrNew(nullptr), nullptr);
    wchar_t buf[8];
    EXPECT_EQ(PxStrCopyW(buf, L"w\u00e9"), buf);
    EXPECT_STREQ(buf, L"w\u00e9");
}

TEST(PxTextTest, StrToFloatDefAcceptsEitherSeparator)
{
    const wchar_t saved = classlib::DecimalSeparator;
    classlib::DecimalSeparator = L'.';
    struct Case {
        const wchar_t* text;
        double expected;
    } cases[] = {
        {L"1.5", 1.5}, {L"1,5", 1.5}, {L"-2,25", -2.25}, {L"abc", 9.0}, {L"", 9.0}, {L"1,5,5", 9.0}, {L"3", 3.0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PxStrToFloatDef(c.text, 9.0), c.expected) << c.text;
    classlib::DecimalSeparator = L',';
    EXPECT_EQ(PxStrToFloatDef(L"0.75", 9.0), 0.75);
    classlib::DecimalSeparator = saved;
}

TEST(PxFileNameTest, ExtensionsPathsAndUrls)
{
    EXPECT_EQ(PxExtractFileExt(L"C:\\Pics\\A.JPG", false), L"jpg");
    EXPECT_EQ(PxExtractFileExt(L"C:\\Pics\\A.JPG", true), L".jpg");
    EXPECT_EQ(PxExtractFileExt(L"C:\\a.dir\\noext", true), L"");
    EXPECT_EQ(PxExtractFileExtA("x.tar.GZ", false), "gz");
    EXPECT_EQ(PxExtractFileExtWS(L"d:p.Tif"), L".tif");
    EXPECT_EQ(PxExtractFilePathWS(L"C:\\Pics\\A.JPG"), L"C:\\Pics\\");
    EXPECT_EQ(PxExtractFileNameWS(L"C:\\Pics\\A.JPG"), L"A.JPG");
    EXPECT_EQ(PxExtractFileNameWS(L"C:name"), L"name");
    EXPECT_EQ(PxExtractFilePathWS(L"plain"), L"");

    struct Url {
        const wchar_t* text;
        int kind;
    } urls[] = {
        {L"http://x", 1}, {L"HTTPS://X/y.jpg", 2}, {L"ftp://host", 3}, {L"ftp:/host", 0}, {L"c:\\http://", 0},
    };
    for (const auto& u : urls)
        EXPECT_EQ(PxIsURL(u.text), u.kind) << u.text;
}

TEST(PxFloatToRationalTest, Table)
{
    struct Case {
        double value, accuracy;
        int32_t num, den;
    } cases[] = {
        {0.5, 1e-6, 1, 2},
        {3.0, 1e-6, 3, 1},
        {-0.25, 1e-6, -1, 4},
        {1.0 / 3.0, 1e-6, 1, 3},
        {std::numbers::pi, 1e-6, 355, 113},
        {std::numbers::pi, 1e-2, 22, 7},
        {-2.75, 1e-9, -11, 4},
        {1e-20, 1e-6, 1, 999999999},
        {-1e20, 1e-6, -2147483647, 1},        // (every double this large is an integer)
        {1.5e-20, 1e-6, 1, 999999999},
        {1e10, 1e-6, 2147483647, 1},          // integer beyond 32 bits: clamped
        {5e9 + 0.5, 1e-6, 2147483647, 1},     // no 32-bit numerator fits
        {0.0, 1e-6, 0, 1},
    };
    for (const auto& c : cases) {
        int32_t n = 0, d = 0;
        PxFloatToRational(c.value, c.accuracy, n, d);
        EXPECT_EQ(n, c.num) << c.value;
        EXPECT_EQ(d, c.den) << c.value;
    }
}

TEST(PxFloatToRationalTest, UnreachableAccuracyKeepsTermsIn32Bits)
{
    // An accuracy no 32-bit fraction reaches: the expansion stops at the last
    // step that fits instead of overflowing.
    for (double v : {0.1 + 1e-11, std::numbers::e, 1234.56789012345, 1e-9 + 1e-17}) {
        int32_t n = 0, d = 0;
        PxFloatToRational(v, 1e-30, n, d);
        ASSERT_GT(d, 0) << v;
        EXPECT_NEAR(static_cast<double>(n) / d, v, std::max(1e-9, v * 1e-8)) << v;
    }
}

TEST(PxCopyTest, CopyStreamAndList)
{
    classlib::TMemoryStream src;
    src.WriteBuffer("0123456789", 10);  // positioned at its end
    classlib::TMemoryStream dst;
    EXPECT_EQ(PxCopyStream(&dst, &src, 0), 10);
    EXPECT_EQ(dst.GetSize(), 10);

    src.SetPosition(6);
    classlib::TMemoryStream part;
    EXPECT_EQ(PxCopyStream(&part, &src, 100), 4);  // cut to what is left
    EXPECT_EQ(std::string(static_cast<char*>(part.GetMemory()), 4), "6789");

    // Larger than one chunk.
    std::string big(0x2FFFF * 2 + 17, 'q');
    big[0x2FFFF] = 'r';
    classlib::TMemoryStream bs;
    bs.WriteBuffer(big.data(), static_cast<int64_t>(big.size()));
    classlib::TMemoryStream bd;
    EXPECT_EQ(PxCopyStream(&bd, &bs, 0), static_cast<int64_t>(big.size()));
    EXPECT_EQ(std::string(static_cast<char*>(bd.GetMemory()), big.size()), big);

    int a = 1, b = 2, c = 3;
    classlib::TList from, to;
    from.Add(&a);
    from.Add(&b);
    from.Add(&c);
    to.Add(&c);
    PxCopyList(&from, &to);
    ASSERT_EQ(to.GetCount(), 3);
    EXPECT_EQ(to.GetItem(0), &a);
    EXPECT_EQ(to.GetItem(2), &c);
}

TEST(PxClipboardTest, OpensTheClipboard)
{
    ASSERT_TRUE(PxOpenClipboard());
    EXPECT_TRUE(::CloseClipboard());
}

}  // namespace
