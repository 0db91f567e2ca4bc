#include <gtest/gtest.h>

#include "controls/shell/ShWideStr.h"

namespace {

using shell::wrfIgnoreCase;
using shell::wrfReplaceAll;

TEST(ShWideStr, StringReplaceTable)
{
    struct Case {
        const wchar_t* s;
        const wchar_t* oldPattern;
        const wchar_t* newPattern;
        bool wholeWord;
        unsigned flags;
        const wchar_t* expected;
    };
    const Case cases[] = {
        // every match, never one inside inserted text
        {L"*.*", L"*.*", L"*.*.*", false, wrfReplaceAll | wrfIgnoreCase, L"*.*.*"},
        {L"*.*;*.*", L"*.*", L"*.*.*", false, wrfReplaceAll | wrfIgnoreCase, L"*.*.*;*.*.*"},
        {L"aa", L"a", L"aa", false, wrfReplaceAll, L"aaaa"},
        // only the first without wrfReplaceAll
        {L"a-a-a", L"a", L"b", false, 0, L"b-a-a"},
        // case
        {L"Abc abc ABC", L"abc", L"x", false, wrfReplaceAll, L"Abc x ABC"},
        {L"Abc abc ABC", L"aBc", L"x", false, wrfReplaceAll | wrfIgnoreCase, L"x x x"},
        {L"Stra\u00DFe \u00E9t\u00E9", L"\u00C9T\u00C9", L"summer", false, wrfIgnoreCase, L"Stra\u00DFe summer"},
        // whole words
        {L"concat", L"cat", L"dog", true, wrfReplaceAll, L"concat"},
        {L"concat cat.", L"cat", L"dog", true, wrfReplaceAll, L"concat dog."},
        {L"cat concat cat", L"cat", L"dog", true, wrfReplaceAll, L"dog concat dog"},
        {L"catcat cat", L"cat", L"dog", true, 0, L"catcat dog"},
        {L"cat,cat", L"cat", L"dog", true, wrfReplaceAll, L"dog,dog"},
        {L"cats cat", L"cat", L"dog", true, 0, L"cats dog"},
        // nothing to do
        {L"abc", L"", L"x", false, wrfReplaceAll, L"abc"},
        {L"", L"a", L"x", false, wrfReplaceAll, L""},
        {L"abc", L"z", L"x", false, wrfReplaceAll, L"abc"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shell::TntWideStringReplace(c.s, c.oldPattern, c.newPattern, c.wholeWord, c.flags), c.expected)
            << "text '" << testing::PrintToString(std::wstring(c.s)) << "' pattern "
            << testing::PrintToString(std::wstring(c.oldPattern));
    }
}

TEST(ShWideStr, PosExAndDelete)
{
    EXPECT_EQ(shell::TntWidePosEx(L"\\", L"\\\\server\\share", 3), 9u);
    EXPECT_EQ(shell::TntWidePosEx(L"\\", L"\\\\server", 3), 0u);
    EXPECT_EQ(shell::TntWidePosEx(L"\\", L"\\\\server", 0), 1u);
    EXPECT_EQ(shell::TntWidePosEx(L"\\", L"\\\\server", 1), 2u);
    EXPECT_EQ(shell::TntWidePosEx(L"r", L"\\\\server", 8), 0u);  // offset at the end
    EXPECT_EQ(shell::TntWidePosEx(L"", L"abc", 0), 0u);

    struct Case {
        std::ptrdiff_t index, count;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {2, 3, L"aef"}, {1, 1, L"bcdef"}, {0, 2, L"abcdef"}, {-1, 2, L"abcdef"}, {2, 0, L"abcdef"},
        {2, -1, L"abcdef"}, {5, 10, L"abcd"}, {6, 1, L"abcde"}, {7, 1, L"abcdef"},
    };
    for (const Case& c : cases) {
        std::wstring s = L"abcdef";
        shell::TntWideDelete(s, c.index, c.count);
        EXPECT_EQ(s, c.expected) << c.index << "," << c.count;
    }
    std::wstring empty;
    shell::TntWideDelete(empty, 1, 1);
    EXPECT_EQ(empty, L"");
}

TEST(ShWideStr, CharactersAndCase)
{
    for (wchar_t ch : {L'\0', L' ', L'\t', L'.', L',', L';', L'!', L'-', L'(', L'\u3000'})
        EXPECT_TRUE(shell::IsWordBoundary(ch)) << int(ch);
    for (wchar_t ch : {L'a', L'Z', L'1', L'\u00E9'})
        EXPECT_FALSE(shell::IsWordBoundary(ch)) << int(ch);

    EXPECT_EQ(shell::LastChar(L""), L'\0');
    EXPECT_EQ(shell::LastChar(L"ab\\"), L'\\');

    EXPECT_EQ(shell::TntWideUpperCase(L"abc\u00E9\u00FCx1"), L"ABC\u00C9\u00DCX1");
}

}  // namespace
