#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <limits>

#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"
#include "tests/support/TestSupport.h"
#include "support/ValueScope.h"

using namespace classlib;

namespace {

// Sets the separators for one test and restores the locale's afterwards.
class Separators {
public:
    Separators(wchar_t dec, wchar_t thousand) : dec_(DecimalSeparator, dec), th_(ThousandSeparator, thousand) {}

private:
    testsupport::TValueScope<wchar_t> dec_;
    testsupport::TValueScope<wchar_t> th_;
};

TEST(SysUtilsRound, HalvesGoToEven)
{
    struct Case {
        double in;
        std::int64_t out;
    } cases[] = {
        {0.5, 0},   {1.5, 2},     {2.5, 2},           {3.5, 4},   {-0.5, 0},    {-1.5, -2},
        {-2.5, -2}, {2.4999, 2},  {2.5000001, 3},     {-2.51, -3}, {0.49999999999999994, 0},
        {1e15 + 0.5, 1000000000000000}, {1e15 + 1.5, 1000000000000002},
        {4503599627370497.0, 4503599627370497},  // 2^52 + 1: already integral
        {-9223372036854775808.0, std::numeric_limits<std::int64_t>::min()},
    };
    for (const Case& c : cases) EXPECT_EQ(Round(c.in), c.out) << c.in;

    EXPECT_EQ(Trunc(2.9), 2);
    EXPECT_EQ(Trunc(-2.9), -2);
    EXPECT_THROW(Round(std::nan("")), EInvalidArgument);
    EXPECT_THROW(Round(9223372036854775808.0), EInvalidArgument);
    EXPECT_THROW(Trunc(std::numeric_limits<double>::infinity()), EInvalidArgument);
}

TEST(SysUtilsFormat, Specifiers)
{
    Separators sep(L'.', L',');
    struct Case {
        std::wstring got, want;
    } cases[] = {
        {Format(L"#%6.6x", 0xFF8000), L"#FF8000"},
        {Format(L"#%6.6x", 0x80), L"#000080"},
        {Format(L"%d|%5d|%-5d|%.3d", 42, -7, 7, -5), L"42|   -7|7    |-005"},
        {Format(L"%u / %u", 3u, 10u), L"3 / 10"},
        {Format(L"%u%%", 50), L"50%"},
        {Format(L"%u", -1), L"4294967295"},
        {Format(L"%x %x", -1, std::int64_t(-1)), L"FFFFFFFF FFFFFFFFFFFFFFFF"},
        {Format(L"%s and %s", std::wstring(L"one"), L"two"), L"one and two"},
        {Format(L"[%6s][%-6s][%.2s]", L"ab", L"ab", L"abcdef"), L"[    ab][ab    ][ab]"},
        {Format(L"%.2f|%f|%.0f", 3.14159, 2.0, 2.5), L"3.14|2.00|3"},
        {Format(L"%e", 1234.5), L"1.23450000000000E+003"},
        {Format(L"%g", 0.25), L"0.25"},
        {Format(L"%n", 1234567.891), L"1,234,567.89"},
        {Format(L"%1:s-%0:s-%s", L"a", L"b"), L"b-a-b"},
        {Format(L"%*d|%.*f", 4, 7, 1, 2.25), L"   7|2.3"},
        {Format(L"%d is an invalid PageIndex value. PageIndex must be between 0 and %d", 9, 3),
         L"9 is an invalid PageIndex value. PageIndex must be between 0 and 3"},
        {Format(L"%p", reinterpret_cast<const void*>(0xABCD)), L"000000000000ABCD"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(SysUtilsFormat, BadSpecifiersRaise)
{
    try {
        Format(L"%d", L"text");
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), L"Format '%d' invalid or incompatible with argument");
    }
    EXPECT_THROW(Format(L"%f", 3), EConvertError);
    EXPECT_THROW(Format(L"%q", 3), EConvertError);
    EXPECT_THROW(Format(L"100%"), EConvertError);
    try {
        Format(L"%s %s", L"only");
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), L"No argument for format '%s %s'");
    }
}

TEST(SysUtilsConvert, StrToFloatUsesDecimalSeparator)
{
    {
        Separators sep(L',', L'.');
        EXPECT_DOUBLE_EQ(StrToFloat(L"1,5"), 1.5);
        EXPECT_DOUBLE_EQ(StrToFloat(L"  -2,25e2 "), -225.0);
        double v = 0;
        EXPECT_FALSE(TryStrToFloat(L"1.5", v));
        EXPECT_DOUBLE_EQ(StrToFloatDef(L"1.5", 7), 7);
    }
    Separators sep(L'.', L',');
    struct Case {
        const wchar_t* text;
        bool ok;
        double value;
    } cases[] = {
        {L"1.5", true, 1.5},     {L"+.5", true, 0.5},  {L"3.", true, 3.0},   {L"1E3", true, 1000.0},
        {L"1e-400", true, 0.0},  {L"1,5", false, 0},   {L"", false, 0},      {L".", false, 0},
        {L"1e", false, 0},       {L"1e400", false, 0}, {L"abc", false, 0},   {L"1.5x", false, 0},
        {L"1 5", false, 0},      {L"- 1", false, 0},
    };
    for (const Case& c : cases) {
        double v = -99;
        EXPECT_EQ(TryStrToFloat(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_DOUBLE_EQ(v, c.value) << c.text;
        }
    }
    try {
        StrToFloat(L"x1");
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), L"'x1' is not a valid floating point value");
    }
}

TEST(SysUtilsConvert, StrToIntAcceptsDecimalAndHex)
{
    struct Case {
        const wchar_t* text;
        bool ok;
        int value;
    } cases[] = {
        {L"0", true, 0},
        {L"  -17", true, -17},
        {L"+8", true, 8},
        {L"2147483647", true, 2147483647},
        {L"-2147483648", true, std::numeric_limits<int>::min()},
        {L"$FF", true, 255},
        {L"0x10", true, 16},
        {L"$FFFFFFFF", true, -1},
        {L"2147483648", false, 0},
        {L"$100000000", false, 0},
        {L"12 ", false, 0},
        {L"", false, 0},
        {L"-", false, 0},
        {L"1a", false, 0},
        {L"07", true, 7},
    };
    for (const Case& c : cases) {
        int v = -99;
        EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
        EXPECT_EQ(StrToIntDef(c.text, 1234), c.ok ? c.value : 1234) << c.text;
    }
    EXPECT_EQ(StrToInt64(L"-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_THROW(StrToInt64(L"9223372036854775808"), EConvertError);
    try {
        StrToInt(L"7x");
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), L"'7x' is not a valid integer value");
    }
    EXPECT_EQ(IntToStr(-12), L"-12");
    EXPECT_EQ(IntToHex(255, 2), L"FF");
    EXPECT_EQ(IntToHex(0xABC, 6), L"000ABC");
    EXPECT_EQ(IntToHex(-1, 1), L"FFFFFFFF");
    EXPECT_EQ(IntToHex(std::int64_t(-2), 1), L"FFFFFFFFFFFFFFFE");
    EXPECT_EQ(IntToHex(0x7FFFFFFF, 8), L"7FFFFFFF");
}

TEST(SysUtilsConvert, FloatToText)
{
    Separators sep(L'.', L',');
    struct Case {
        std::wstring got, want;
    } cases[] = {
        {FloatToStr(1.5), L"1.5"},
        {FloatToStr(-0.0), L"0"},
        {FloatToStr(100), L"100"},
        {FloatToStr(1.0 / 3), L"0.333333333333333"},
        {FloatToStr(0.1 + 0.2), L"0.3"},
        {FloatToStr(0.0001), L"0.0001"},
        {FloatToStr(0.00001), L"0.00001"},
        {FloatToStr(0.000001), L"1E-6"},
        {FloatToStr(1e14), L"100000000000000"},
        {FloatToStr(1e15), L"1E15"},
        {FloatToStr(-123456789012345678.0), L"-1.23456789012346E17"},
        {FloatToStr(std::nan("")), L"NAN"},
        {FloatToStr(-std::numeric_limits<double>::infinity()), L"-INF"},
        {FloatToStrF(1234.5678, ffFixed, 15, 2), L"1234.57"},
        {FloatToStrF(1234.5678, ffFixed, 4, 2), L"1235.00"},
        {FloatToStrF(2.345, ffFixed, 15, 2), L"2.35"},  // 15 digits first: 2.34500000000000
        {FloatToStrF(-0.001, ffFixed, 15, 2), L"0.00"},
        {FloatToStrF(-0.005, ffFixed, 15, 2), L"-0.01"},
        {FloatToStrF(99.996, ffFixed, 15, 2), L"100.00"},
        {FloatToStrF(0.0, ffFixed, 15, 3), L"0.000"},
        {FloatToStrF(12345.0, ffFixed, 3, 1), L"1.23E+004"},
        {FloatToStrF(1.5, ffExponent, 4, 2), L"1.500E+00"},
        {FloatToStrF(-0.00015, ffExponent, 2, 0), L"-1.5E-4"},
        {FloatToStrF(1234567.891, ffNumber, 15, 1), L"1,234,567.9"},
        {FloatToStrF(-999.0, ffNumber, 15, 0), L"-999"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
    Separators comma(L',', L'.');
    EXPECT_EQ(FloatToStr(2.5), L"2,5");
}

TEST(SysUtilsStrings, TextHelpers)
{
    EXPECT_EQ(Trim(L" \t a b \r\n"), L"a b");
    EXPECT_EQ(TrimLeft(L"  a "), L"a ");
    EXPECT_EQ(TrimRight(L"  a "), L"  a");
    EXPECT_EQ(Trim(L"   "), L"");
    EXPECT_EQ(UpperCase(L"abc\u00e4"), L"ABC\u00e4");
    EXPECT_EQ(LowerCase(L"ABC\u00c4"), L"abc\u00c4");
    EXPECT_EQ(WideUpperCase(L"abc\u00e4\u0444"), L"ABC\u00c4\u0424");
    EXPECT_EQ(WideLowerCase(L"ABC\u00c4"), L"abc\u00e4");
    EXPECT_EQ(CompareText(L"abc", L"ABC"), 0);
    EXPECT_LT(CompareText(L"abc", L"abd"), 0);
    EXPECT_GT(CompareText(L"abcd", L"ABC"), 0);
    EXPECT_TRUE(SameText(L"Hello", L"hELLO"));
    EXPECT_FALSE(SameText(L"Hello", L"Hell"));
    EXPECT_LT(CompareStr(L"ABC", L"abc"), 0);
    EXPECT_TRUE(WideSameText(L"\u00e4x", L"\u00c4X"));

    EXPECT_EQ(Pos(L"lo", L"hello lo"), 4u);
    EXPECT_EQ(Pos(L"lo", L"hello lo", 5), 7u);
    EXPECT_EQ(Pos(L"x", L"hello"), 0u);
    EXPECT_EQ(Pos(L"", L"hello"), 0u);
    EXPECT_EQ(Copy(L"priLangId=07", 11, 2), L"07");
    EXPECT_EQ(Copy(L"abc", 0, 2), L"ab");
    EXPECT_EQ(Copy(L"abc", 3, 10), L"c");
    EXPECT_EQ(Copy(L"abc", 4, 1), L"");
    EXPECT_EQ(Copy(L"abc", 2, -1), L"");

    EXPECT_EQ(StringReplace(L"a-b-c", L"-", L"+", 0), L"a+b-c");
    EXPECT_EQ(StringReplace(L"a-b-c", L"-", L"+", rfReplaceAll), L"a+b+c");
    EXPECT_EQ(StringReplace(L"%F1 and %f1", L"%f1", L"Album", rfReplaceAll | rfIgnoreCase), L"Album and Album");
    EXPECT_EQ(StringReplace(L"aaa", L"aa", L"a", rfReplaceAll), L"aa");
    EXPECT_EQ(StringReplace(L"abc", L"", L"x", rfReplaceAll), L"abc");

    EXPECT_TRUE(IsValidIdent(L"_btn1"));
    EXPECT_FALSE(IsValidIdent(L"1btn"));
    EXPECT_FALSE(IsValidIdent(L"a-b"));
    EXPECT_FALSE(IsValidIdent(L""));
}

TEST(SysUtilsFiles, FileNameParts)
{
    struct Case {
        const wchar_t* name;
        const wchar_t *path, *dir, *file, *ext, *drive;
    } cases[] = {
        {L"C:\\Pics\\A.JPG", L"C:\\Pics\\", L"C:\\Pics", L"A.JPG", L".JPG", L"C:"},
        {L"C:\\a.b\\file", L"C:\\a.b\\", L"C:\\a.b", L"file", L"", L"C:"},
        {L"C:\\file.tar.gz", L"C:\\", L"C:\\", L"file.tar.gz", L".gz", L"C:"},
        {L"C:file.txt", L"C:", L"C:", L"file.txt", L".txt", L"C:"},
        {L"\\\\server\\share\\dir\\x.png", L"\\\\server\\share\\dir\\", L"\\\\server\\share\\dir", L"x.png",
         L".png", L"\\\\server\\share"},
        {L"\\\\server\\share", L"\\\\server\\", L"\\\\server", L"share", L"", L"\\\\server\\share"},
        {L"\\\\server", L"\\\\", L"\\\\", L"server", L"", L"\\\\server"},
        {L"name.", L"", L"", L"name.", L".", L""},
        {L".profile", L"", L"", L".profile", L".profile", L""},
        {L"dir\\", L"dir\\", L"dir", L"", L"", L""},
        {L"\\x", L"\\", L"\\", L"x", L"", L""},
        {L"", L"", L"", L"", L"", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExtractFilePath(c.name), c.path) << c.name;
        EXPECT_EQ(ExtractFileDir(c.name), c.dir) << c.name;
        EXPECT_EQ(ExtractFileName(c.name), c.file) << c.name;
        EXPECT_EQ(ExtractFileExt(c.name), c.ext) << c.name;
        EXPECT_EQ(ExtractFileDrive(c.name), c.drive) << c.name;
    }
    EXPECT_EQ(ChangeFileExt(L"C:\\a.b\\file", L".txt"), L"C:\\a.b\\file.txt");
    EXPECT_EQ(ChangeFileExt(L"C:\\x\\f.jpeg", L".jpg"), L"C:\\x\\f.jpg");
    EXPECT_EQ(ChangeFileExt(L"f.jpeg", L""), L"f");
    EXPECT_EQ(IncludeTrailingPathDelimiter(L"C:\\x"), L"C:\\x\\");
    EXPECT_EQ(IncludeTrailingPathDelimiter(L"C:\\x\\"), L"C:\\x\\");
    EXPECT_EQ(ExcludeTrailingPathDelimiter(L"C:\\x\\"), L"C:\\x");
    EXPECT_EQ(ExcludeTrailingPathDelimiter(L"C:\\x"), L"C:\\x");
    EXPECT_EQ(ExpandFileName(L"C:\\a\\b\\..\\c.txt"), L"C:\\a\\c.txt");
}

TEST(SysUtilsFiles, CreateAndForceDirectories)
{
    testsupport::TempDir tmp;
    const std::wstring deep = tmp.File(L"a\\b\\c");
    EXPECT_FALSE(DirectoryExists(deep));
    EXPECT_TRUE(ForceDirectories(deep + L"\\"));
    EXPECT_TRUE(DirectoryExists(deep));
    EXPECT_FALSE(FileExists(deep));
    EXPECT_TRUE(ForceDirectories(deep));  // already there

    // A file in the way of a folder: the folder cannot be created.
    const std::wstring file = tmp.File(L"blocker");
    HANDLE h = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ::CloseHandle(h);
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(DirectoryExists(file));
    EXPECT_FALSE(ForceDirectories(file + L"\\sub\\deeper"));
    EXPECT_FALSE(DirectoryExists(file + L"\\sub"));
    EXPECT_FALSE(CreateDir(file));
    EXPECT_FALSE(ForceDirectories(L""));
    // A missing share is reported, never created as a folder.
    EXPECT_FALSE(ForceDirectories(L"\\\\nosuchserver\\noshare\\x"));

    EXPECT_TRUE(DeleteFile(file));
    EXPECT_FALSE(FileExists(file));
    EXPECT_FALSE(DeleteFile(file));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(SysErrorMessage(ERROR_FILE_NOT_FOUND).empty());
    EXPECT_NE(SysErrorMessage(ERROR_FILE_NOT_FOUND).back(), L'\n');
}

TEST(SysUtilsMisc, MulDivFollowsWin32)
{
    EXPECT_EQ(MulDiv(10, 3, 4), 8);    // 7.5 rounds away from zero
    EXPECT_EQ(MulDiv(-10, 3, 4), -8);
    EXPECT_EQ(MulDiv(19, 19, 19), 19);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(0x7FFFFFFF, 4, 1), -1);  // overflow
    EXPECT_EQ(MulDiv(0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF), 0x7FFFFFFF);  // 64-bit intermediate
}

TEST(SysUtilsMisc, DatesAndTimes)
{
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
    EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
    EXPECT_DOUBLE_EQ(EncodeTime(6, 0, 0, 0), 0.25);
    EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
    EXPECT_NO_THROW(EncodeDate(2024, 2, 29));
    EXPECT_THROW(EncodeDate(1900, 2, 29), EConvertError);
    EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);

    SYSTEMTIME st{};
    st.wYear = 2024;
    st.wMonth = 2;
    st.wDay = 29;
    st.wHour = 13;
    st.wMinute = 45;
    st.wSecond = 30;
    st.wMilliseconds = 250;
    TDateTime t = SystemTimeToDateTime(st);
    SYSTEMTIME back{};
    DateTimeToSystemTime(t, back);
    EXPECT_EQ(back.wYear, 2024);
    EXPECT_EQ(back.wMonth, 2);
    EXPECT_EQ(back.wDay, 29);
    EXPECT_EQ(back.wHour, 13);
    EXPECT_EQ(back.wMinute, 45);
    EXPECT_EQ(back.wSecond, 30);
    EXPECT_EQ(back.wMilliseconds, 250);
    EXPECT_EQ(back.wDayOfWeek, 4);  // a Thursday

    // Before the epoch the fraction is still the time of day.
    int y, m, d, h, n, s, ms;
    DecodeDate(-1.25, y, m, d);
    DecodeTime(-1.25, h, n, s, ms);
    EXPECT_EQ(y * 10000 + m * 100 + d, 18991229);
    EXPECT_EQ(h, 6);

    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    TDateTime n1 = Now();
    EXPECT_NEAR(n1, EncodeDate(now.wYear, now.wMonth, now.wDay), 2.0);
}

TEST(SysUtilsMisc, RandomIsSeededAndInRange)
{
    RandSeed(12345);
    int a[8];
    for (int& v : a) v = Random(1000);
    RandSeed(12345);
    bool spread = false;
    for (int v : a) {
        int w = Random(1000);
        EXPECT_EQ(v, w);
        EXPECT_GE(w, 0);
        EXPECT_LT(w, 1000);
        if (w != a[0]) spread = true;
    }
    EXPECT_TRUE(spread);
    EXPECT_EQ(Random(0), 0);
    for (int i = 0; i < 100; ++i) {
        double r = Random();
        EXPECT_GE(r, 0.0);
        EXPECT_LT(r, 1.0);
    }
    Randomize();
}

TEST(SysUtilsMisc, PlatformFacts)
{
    EXPECT_EQ(Win32Platform(), VER_PLATFORM_WIN32_NT);
    EXPECT_GE(Win32MajorVersion(), 5);
    EXPECT_GT(Win32BuildNumber(), 0);
    EXPECT_GE(CPUCount(), 1);
}

TEST(TextConv, Utf8AndAnsiRoundTrips)
{
    const std::wstring text = L"Gr\u00fc\u00dfe \u20ac \U0001F600";
    const std::string utf8 = "Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac \xf0\x9f\x98\x80";
    EXPECT_EQ(WideToUtf8(text), utf8);
    EXPECT_EQ(Utf8ToWide(utf8), text);
    EXPECT_EQ(Utf8ToWide(utf8.data(), 2), L"Gr");
    EXPECT_EQ(Utf8ToWide(std::string("a\xff" "b")), L"a\ufffd" L"b");
    EXPECT_EQ(WideToUtf8(L""), "");

    const std::wstring ascii = L"Plain text 123";
    EXPECT_EQ(WideToAnsi(ascii), "Plain text 123");
    EXPECT_EQ(AnsiToWide(WideToAnsi(ascii)), ascii);
    // Whatever the code page, a character it lacks does not vanish silently.
    EXPECT_EQ(WideToAnsi(L"\U0001F600").empty(), false);
}

}  // namespace
