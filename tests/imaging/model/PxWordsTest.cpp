#include <gtest/gtest.h>

#include "imaging/model/PxDefs.h"
#include "imaging/model/PxWords.h"

using namespace imaging;

namespace {

class PxWordsTest : public ::testing::Test {
protected:
    void SetUp() override { PxFillMessages(); }
    void TearDown() override { PxFillMessages(); }  // undo texts a test stored
};

TEST_F(PxWordsTest, EnglishTextsByIndex)
{
    struct Case {
        int index;
        const wchar_t* text;
    } cases[] = {
        {0, L"Zoom"},         {12, L"Value"},      {104, L"Value"}, {46, L"Advanced"},
        {140, L"Advanced"},   {57, L"Horiz. Position (inch)"},       {110, L"Location/size"},
        {129, L"Automatically updates your preview with the changes you have selected"},
        {148, L"Fit"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PxGetMsgText(c.index, msEnglish), c.text) << c.index;
        EXPECT_EQ(PxGetMsgText(c.index, msSystem), c.text) << c.index;
    }
    for (int i = 0; i < PxMsgCount; ++i)
        EXPECT_FALSE(PxGetMsgText(i, msEnglish).empty()) << i;
}

TEST_F(PxWordsTest, LookupFallbacks)
{
    // msSystem always answers with the English row.
    PxSetMsgText(msEnglish, 0, L"Magnify");
    EXPECT_EQ(PxGetMsgText(0, msSystem), L"Magnify");

    // An empty English entry has no further fallback.
    PxSetMsgText(msEnglish, 5, L"");
    EXPECT_EQ(PxGetMsgText(5, msEnglish), L"");
    EXPECT_EQ(PxGetMsgText(5, msSystem), L"");

    // Indices outside the table give empty texts and are not stored.
    PxSetMsgText(msEnglish, PxMsgCount, L"x");
    EXPECT_EQ(PxGetMsgText(PxMsgCount, msEnglish), L"");
    EXPECT_EQ(PxGetMsgText(-1, msSystem), L"");

    // A language without a row falls back to English.
    EXPECT_EQ(PxGetMsgText(1, static_cast<TMsgLanguage>(7)), L"Preview");
}

TEST(PxDefsTest, StartUpSetsGreyWeightsAndDeclarations)
{
    PxDefsInit();
    EXPECT_EQ(PxGrayWeightR, 21);
    EXPECT_EQ(PxGrayWeightG, 71);
    EXPECT_EQ(PxGrayWeightB, 8);
    EXPECT_EQ(std::wstring(PxVersionText), L"1.0.0");
    EXPECT_EQ(static_cast<int>(rfFastLinear), 9);
    EXPECT_EQ(static_cast<int>(rfProjectWB), 13);
}

}  // namespace
