// Preset images: the list the toolkit's start-up builds and its shut-down
// frees, and the four PNG pictures as the PNG reader decodes them (size,
// kind, rectangle inside the picture).
#include <gtest/gtest.h>

#include <cstring>

#include "imaging/io/core/IOParams.h"
#include "imaging/io/formats/png/PngReader.h"
#include "imaging/io/core/PresetImages.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxStartup.h"
#include "imaging/model/PxStreamUtils.h"

using namespace imaging;

TEST(PresetImages, StartupBuildsTheListAndShutdownFreesIt)
{
    if (PxIsInitialized())
        GTEST_SKIP() << "the toolkit is already started by another test";
    PxInstallPresetImages();
    PxInitialize();
    ASSERT_NE(PxPresetImageList, nullptr);
    ASSERT_EQ(PxPresetImageList->GetCount(), 4);
    const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (int i = 0; i < 4; ++i) {
        const auto* entry = static_cast<const TPxPresetImage*>(PxPresetImageList->GetItem(i));
        ASSERT_GT(entry->Size, 8u);
        EXPECT_EQ(std::memcmp(entry->Data, signature, 8), 0) << i;
        EXPECT_EQ(entry->FileType, ffPNG);
    }
    PxFinalize();
    EXPECT_EQ(PxPresetImageList, nullptr);
}

TEST(PresetImages, PicturesDecodeToTheirSizesAndKinds)
{
    PxDefsInit();
    PxCreatePresetImages();
    ASSERT_NE(PxPresetImageList, nullptr);
    struct TCase {
        int Width, Height;
        TPxPixelFormat NativeFormat;
        bool Alpha;
        TPxPresetRect Rect;
    };
    const TCase cases[] = {
        {162, 159, px24RGB, true, {18, 29, 140, 119}},
        {112, 100, px24RGB, false, {13, 1, 95, 98}},
        {163, 108, px24RGB, true, {30, 14, 147, 92}},  // palette with transparency, read as colour and alpha
        {150, 150, px8p, false, {17, 17, 131, 131}},    // palette, read natively
    };
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i + 1);
        const TCase& c = cases[i];
        const auto* entry = static_cast<const TPxPresetImage*>(PxPresetImageList->GetItem(i));
        EXPECT_EQ(entry->Rect.Left, c.Rect.Left);
        EXPECT_EQ(entry->Rect.Top, c.Rect.Top);
        EXPECT_EQ(entry->Rect.Right, c.Rect.Right);
        EXPECT_EQ(entry->Rect.Bottom, c.Rect.Bottom);
        TPxMemStream stream(entry->Data, entry->Size);
        TPxBitmap b;
        TIOParamsVals p(nullptr);
        p.NativePixelFormat = c.NativeFormat == px8p;
        bool aborting = false;
        TPxIOProgressInfo info;
        info.Aborting = &aborting;
        PxReadPNG(&stream, &b, p, false, info);
        ASSERT_FALSE(aborting);
        EXPECT_EQ(b.GetWidth(), c.Width);
        EXPECT_EQ(b.GetHeight(), c.Height);
        EXPECT_EQ(b.GetPixelFormat(), c.NativeFormat);
        EXPECT_EQ(b.HasAlphaChannel(), c.Alpha);
        if (c.Alpha) {
            // Opaque inside the rectangle, transparent in the corner.
            EXPECT_EQ(b.GetAlpha((c.Rect.Left + c.Rect.Right) / 2, (c.Rect.Top + c.Rect.Bottom) / 2), 255);
            EXPECT_EQ(b.GetAlpha(c.Width - 1, 0), 0);
        }
        if (i == 3) {
            EXPECT_EQ(b.GetPixelAsRGB(74, 74), (TPxRGB{0, 0, 0}));  // the frame's opening
            EXPECT_NE(b.GetPixelAsRGB(8, 74), (TPxRGB{0, 0, 0}));   // the frame
        }
    }
    PxFreePresetImages();
    EXPECT_EQ(PxPresetImageList, nullptr);
}
