// CMYK and RGB conversion: the exact formulas with the profile off, the
// built-in profile through the platform's colour management, the row hook
// and the start-up / shut-down cycle.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <zlib.h>

#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/core/PxCmyk.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxICC.h"
#include "imaging/model/PxStartup.h"
#include "imaging/proc/PxConvert.h"
#include "support/ValueScope.h"

using namespace imaging;

namespace {

// Sets PxUseCMYKProfile for a test and restores it.
class ProfileSwitch : public testsupport::TValueScope<bool> {
public:
    explicit ProfileSwitch(bool On) : TValueScope(PxUseCMYKProfile, On) {}
};

std::vector<uint8_t> Row(std::initializer_list<int> Bytes)
{
    std::vector<uint8_t> r;
    for (int b : Bytes)
        r.push_back(static_cast<uint8_t>(b));
    return r;
}

}  // namespace

TEST(PxCmyk, FormulasWithTheProfileOff)
{
    ProfileSwitch off(false);
    struct ToRGB {
        TPxCMYK cmyk;
        TPxRGB rgb;  // b, g, r
    };
    const ToRGB toRGB[] = {
        {{255, 255, 255, 255}, {255, 255, 255}},
        {{0, 0, 0, 255}, {0, 0, 0}},
        {{200, 100, 50, 0}, {0, 0, 0}},
        {{255, 128, 0, 128}, {0, 64, 128}},
        {{17, 250, 99, 201}, {78, 197, 13}},
    };
    for (const ToRGB& c : toRGB) {
        SCOPED_TRACE(testing::Message() << int(c.cmyk.c) << "," << int(c.cmyk.m) << "," << int(c.cmyk.y) << ","
                                        << int(c.cmyk.k));
        TPxRGB out{1, 2, 3};
        PxConvertCMYKToRGB(c.cmyk, out);
        EXPECT_EQ(out, c.rgb);
        // The bitmap's hook and the pixel-format conversion agree.
        ASSERT_NE(PxBitmapServices.CMYKToRGB, nullptr);
        EXPECT_EQ(PxCMYKToRGBPixel(c.cmyk), c.rgb);
    }
    struct ToCMYK {
        TPxRGB rgb;  // b, g, r
        TPxCMYK cmyk;
    };
    const ToCMYK toCMYK[] = {
        {{0, 0, 0}, {0, 0, 0, 1}},
        {{0, 128, 255}, {255, 128, 0, 255}},
        {{40, 20, 10}, {63, 127, 255, 40}},
        {{255, 255, 255}, {255, 255, 255, 255}},
    };
    for (const ToCMYK& c : toCMYK) {
        SCOPED_TRACE(testing::Message() << int(c.rgb.r) << "," << int(c.rgb.g) << "," << int(c.rgb.b));
        EXPECT_EQ(PxConvertRGBToCMYK(c.rgb), c.cmyk);
        ASSERT_NE(PxBitmapServices.RGBToCMYK, nullptr);
        EXPECT_EQ(PxRGBToCMYKPixel(c.rgb), c.cmyk);
    }
}

TEST(PxCmyk, RowFormatsWithTheProfileOff)
{
    ProfileSwitch off(false);
    struct Case {
        const char* name;
        int32_t from;
        int32_t to;
        std::vector<uint8_t> source;
        int32_t count;
        std::vector<uint8_t> expected;  // target bytes after the call (filled with 0xEE before)
    };
    PxDefsInit();  // grey weights 21, 71, 8
    const Case cases[] = {
        {"RGB to bitmap order", pxRowRGB, pxRowBGR, Row({1, 2, 3, 4, 5, 6}), 2, Row({3, 2, 1, 6, 5, 4})},
        {"bitmap order copied", pxRowBGR, pxRowBGR, Row({1, 2, 3}), 1, Row({1, 2, 3})},
        {"grey", pxRowBGR, pxRowGray, Row({100, 100, 100, 0, 0, 255, 255, 0, 0}), 3, Row({100, 53, 20})},
        {"bitmap order to CMYK", pxRowBGR, pxRowCMYK, Row({0, 128, 255}), 1, Row({255, 128, 0, 255})},
        {"CMYK", pxRowCMYK, pxRowBGR, Row({255, 128, 0, 128, 255, 255, 255, 255}), 2, Row({0, 64, 128, 255, 255, 255})},
        {"ink amounts in 6-byte pixels", pxRowCMYKInv6, pxRowBGR, Row({0, 127, 255, 127, 9, 9, 0, 0, 0, 0, 9, 9}), 2,
         Row({0, 64, 128, 255, 255, 255})},
        {"16-bit little-endian", pxRowRGB48LE, pxRowBGR, Row({0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A}), 1,
         Row({0x9A, 0x56, 0x12})},
        {"16-bit big-endian", pxRowRGB48BE, pxRowBGR, Row({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}), 1,
         Row({0x9A, 0x56, 0x12})},
        {"YCbCr", pxRowYCbCr, pxRowBGR, Row({100, 150, 90, 128, 128, 128}), 2, Row({138, 119, 46, 128, 128, 128})},
        {"grey source writes nothing", pxRowGray, pxRowBGR, Row({7, 7, 7}), 3, Row({0xEE, 0xEE, 0xEE})},
        {"unlisted pair writes nothing", pxRowRGB, pxRowCMYK, Row({7, 7, 7}), 1, Row({0xEE, 0xEE, 0xEE, 0xEE})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> source = c.source;
        std::vector<uint8_t> target(c.expected.size(), 0xEE);
        PxConvertColorRow(source.data(), c.from, target.data(), nullptr, c.count, c.to);
        EXPECT_EQ(target, c.expected);
        EXPECT_EQ(source, c.source) << "the source row changed";
    }

    // CIELab both ways agree with the pixel-format unit's routines.
    const uint8_t bgr[3] = {30, 160, 220};
    uint8_t lab[3];
    PxConvertColorRow(bgr, pxRowBGR, lab, nullptr, 1, pxRowCIELab);
    const TPxCIELab expectLab = PxRGB2CIELab((220u << 16) | (160u << 8) | 30u);
    EXPECT_EQ(lab[0], expectLab.l);
    EXPECT_EQ(static_cast<int8_t>(lab[1]), expectLab.a);
    EXPECT_EQ(static_cast<int8_t>(lab[2]), expectLab.b);
    uint8_t back[3];
    PxConvertColorRow(lab, pxRowCIELab, back, nullptr, 1, pxRowBGR);
    const TPxRGB expectRGB = PxCIELab2RGB((uint32_t(lab[2]) << 16) | (uint32_t(lab[1]) << 8) | lab[0]);
    EXPECT_EQ(0, std::memcmp(back, &expectRGB, 3));
}

// The compiled-in table is data only: its length and checksum pin the bytes
// whatever the layout of the source file that holds them.
TEST(PxCmyk, BuiltInProfileTableKeepsItsBytes)
{
    ASSERT_EQ(PxCmykProfileZSize, 61948u);
    EXPECT_EQ(crc32(0, PxCmykProfileZData, static_cast<uInt>(PxCmykProfileZSize)), 2423944684u);
    const std::vector<uint8_t> raw = PxBuiltInCMYKProfile();
    ASSERT_EQ(raw.size(), 155136u);
    EXPECT_EQ(crc32(0, raw.data(), static_cast<uInt>(raw.size())), 2986826676u);
}

TEST(PxCmyk, BuiltInProfileIsACmykPrinterProfile)
{
    const std::vector<uint8_t> raw = PxBuiltInCMYKProfile();
    ASSERT_EQ(raw.size(), PxCmykProfileSize);
    ASSERT_GT(raw.size(), 128u);
    const uint32_t declared = (uint32_t(raw[0]) << 24) | (uint32_t(raw[1]) << 16) | (uint32_t(raw[2]) << 8) | raw[3];
    EXPECT_EQ(declared, raw.size());
    EXPECT_EQ(raw[8], 2) << "ICC version 2";
    EXPECT_EQ(0, std::memcmp(raw.data() + 12, "prtr", 4));
    EXPECT_EQ(0, std::memcmp(raw.data() + 16, "CMYK", 4));
    EXPECT_EQ(0, std::memcmp(raw.data() + 20, "Lab ", 4));
    EXPECT_EQ(0, std::memcmp(raw.data() + 36, "acsp", 4));

    TPxICC icc;
    icc.LoadFromBuffer(raw.data(), static_cast<int32_t>(raw.size()));
    EXPECT_TRUE(icc.IsValid());
    EXPECT_FALSE(icc.Description.empty());
    EXPECT_FALSE(icc.NoticeText.empty());
}

TEST(PxCmyk, ProfileConversionsRunAndAreDeterministic)
{
    ProfileSwitch on(true);
    ASSERT_TRUE(PxPrepareCMYKProfile());
    ASSERT_NE(PxCMYKProfile, nullptr);
    ASSERT_NE(PxSRGBProfile, nullptr);

    TPxRGB paper, ink, again;
    PxConvertCMYKToRGB(TPxCMYK{255, 255, 255, 255}, paper);  // no ink
    PxConvertCMYKToRGB(TPxCMYK{0, 0, 0, 0}, ink);            // all inks
    for (uint8_t v : {paper.r, paper.g, paper.b})
        EXPECT_GE(v, 200);
    for (uint8_t v : {ink.r, ink.g, ink.b})
        EXPECT_LE(v, 60);
    PxConvertCMYKToRGB(TPxCMYK{255, 255, 255, 255}, again);
    EXPECT_EQ(again, paper);

    const TPxCMYK white = PxConvertRGBToCMYK(TPxRGB{255, 255, 255});
    const TPxCMYK black = PxConvertRGBToCMYK(TPxRGB{0, 0, 0});
    for (uint8_t v : {white.c, white.m, white.y, white.k})
        EXPECT_GE(v, 200) << "white needs (almost) no ink";
    EXPECT_LE(black.k, 60) << "black needs black ink";
    EXPECT_EQ(PxConvertRGBToCMYK(TPxRGB{0, 0, 0}), black);

    // The row hook goes through the same pixel conversion and leaves its
    // 6-byte source alone.
    const std::vector<uint8_t> source = Row({0, 0, 0, 0, 1, 2, 255, 255, 255, 255, 3, 4});
    std::vector<uint8_t> copy = source;
    uint8_t target[6];
    PxConvertColorRow(copy.data(), pxRowCMYKInv6, target, nullptr, 2, pxRowBGR);
    EXPECT_EQ(copy, source);
    EXPECT_EQ(0, std::memcmp(target, &paper, 3));
    EXPECT_EQ(0, std::memcmp(target + 3, &ink, 3));

    // A long row gives what the single-pixel conversion gives, pixel by pixel.
    std::vector<uint8_t> row;
    for (int i = 0; i < 150; ++i)
        for (int ch = 0; ch < 4; ++ch)
            row.push_back(static_cast<uint8_t>((i * 37 + ch * 91) % 256));
    std::vector<uint8_t> out(3 * 150);
    PxConvertColorRow(row.data(), pxRowCMYK, out.data(), nullptr, 150, pxRowBGR);
    for (int i = 0; i < 150; ++i) {
        TPxRGB one;
        PxConvertCMYKToRGB(TPxCMYK{row[4 * i], row[4 * i + 1], row[4 * i + 2], row[4 * i + 3]}, one);
        ASSERT_EQ(0, std::memcmp(out.data() + 3 * i, &one, 3)) << "pixel " << i;
    }
}

TEST(PxCmyk, RowHookUsesTheImageProfileWhenColourManagementIsOn)
{
    TIOParamsVals params(nullptr);
    TPxICC* input = params.GetInputICCProfile();
    ASSERT_NE(input, nullptr) << "profile operations not installed";
    const std::vector<uint8_t> raw = PxBuiltInCMYKProfile();
    input->LoadFromBuffer(raw.data(), static_cast<int32_t>(raw.size()));
    ASSERT_TRUE(input->IsValid());
    ASSERT_NE(params.GetDefaultICCProfile(), nullptr);
    ASSERT_TRUE(params.GetDefaultICCProfile()->IsValid());

    const bool saved = PxColorManagementEnabled;
    PxColorManagementEnabled = true;
    const uint8_t cmyk[4] = {255, 255, 255, 255};
    uint8_t bgr[3] = {1, 2, 3};
    PxConvertColorRow(cmyk, pxRowCMYK, bgr, &params, 1, pxRowBGR);
    PxColorManagementEnabled = saved;
    EXPECT_TRUE(input->IsTransformReady());
    for (uint8_t v : bgr)
        EXPECT_GE(v, 200);

    // An applied profile is not used again: the formulas take over.
    input->FreeTransform();
    ASSERT_TRUE(input->GetApplied());
    ProfileSwitch off(false);
    PxColorManagementEnabled = true;
    const uint8_t half[4] = {255, 128, 0, 128};
    PxConvertColorRow(half, pxRowCMYK, bgr, &params, 1, pxRowBGR);
    PxColorManagementEnabled = saved;
    EXPECT_FALSE(input->IsTransformReady());
    EXPECT_EQ(bgr[0], 0);
    EXPECT_EQ(bgr[1], 64);
    EXPECT_EQ(bgr[2], 128);
}

TEST(PxCmyk, StartupShutdownStartupKeepsConverting)
{
    if (PxIsInitialized())
        GTEST_SKIP() << "the toolkit is started by someone else";
    TPxRGB first, second;
    PxInitialize();
    ASSERT_EQ(PxConvertColorRowHook, &PxConvertColorRow);
    ASSERT_TRUE(PxUseCMYKProfile);
    ASSERT_TRUE(PxPrepareCMYKProfile());
    PxConvertCMYKToRGB(TPxCMYK{20, 120, 220, 180}, first);
    PxFinalize();
    EXPECT_EQ(PxCMYKProfile, nullptr);
    EXPECT_EQ(PxSRGBProfile, nullptr);

    PxInitialize();
    ASSERT_TRUE(PxPrepareCMYKProfile());
    PxConvertCMYKToRGB(TPxCMYK{20, 120, 220, 180}, second);
    EXPECT_EQ(first, second);
    TPxICC profile;
    EXPECT_TRUE(profile.LoadSRGB());
    PxFinalize();
}
