// Page and frame counts by the registry row of a file's extension.
#include <gtest/gtest.h>

#include <windows.h>

#include "support/TestSupport.h"
#include "classlib/Exceptions.h"
#include "imaging/io/core/ImgIOCounters.h"

using namespace imaging;

namespace {

std::wstring TiffFixture(const wchar_t* name) { return testsupport::FixtureDir(L"io") + L"\\tiff\\" + name; }

// The counters look rows up in the registry, which the I/O start-up builds.
class ImgIOCounters : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!PxFormatRegistryExists())
            PxBuildFormatRegistry();
    }
};

int32_t SevenFrames(const std::wstring&) { return 7; }
int32_t FiveVideoFrames(const std::wstring&) { return 5; }

TEST_F(ImgIOCounters, CountsByTheExtensionsRow)
{
    testsupport::TempDir dir;
    const std::wstring multi = dir.File(L"pages.TIF");
    ASSERT_TRUE(::CopyFileW(TiffFixture(L"multipage.tif").c_str(), multi.c_str(), FALSE));

    EXPECT_EQ(PxCountTIFFPagesInFile(multi), 3);
    EXPECT_EQ(PxCountFileFrames(multi), 3);
    // Rows without pages count one frame; the file is not even opened.
    EXPECT_EQ(PxCountFileFrames(dir.File(L"missing.png")), 1);
    EXPECT_EQ(PxCountFileFrames(dir.File(L"missing.jpeg")), 1);
    // A file no row lists goes to the video path: none installed gives 0.
    EXPECT_EQ(PxCountFileFrames(dir.File(L"clip.xyz")), 0);
    EXPECT_EQ(PxCountFileFrames(dir.File(L"clip.avi")), 0);
    // A missing TIFF raises the stream's error.
    EXPECT_THROW(PxCountFileFrames(dir.File(L"missing.tif")), classlib::EFOpenError);
}

TEST_F(ImgIOCounters, FormatsWithoutTheirUnitRaiseUntilACounterIsInstalled)
{
    // The GIF unit may have installed its counter already: put it back at
    // the end.
    const TPxFileFrameCounter installedGif = PxGetFrameCounter(ffGIF);
    const TPxFileFrameCounter installedVideo = PxGetFrameCounter(ffUnknown);
    PxSetFrameCounter(ffGIF, nullptr);
    PxSetFrameCounter(ffUnknown, nullptr);
    EXPECT_THROW(PxCountFileFrames(L"anim.gif"), classlib::EInvalidOperation);
    PxSetFrameCounter(ffGIF, SevenFrames);
    PxSetFrameCounter(ffUnknown, FiveVideoFrames);
    EXPECT_EQ(PxGetFrameCounter(ffGIF), &SevenFrames);
    EXPECT_EQ(PxCountFileFrames(L"anim.gif"), 7);
    EXPECT_EQ(PxCountFileFrames(L"clip.avi"), 5);
    PxSetFrameCounter(ffGIF, nullptr);
    PxSetFrameCounter(ffUnknown, nullptr);
    EXPECT_THROW(PxCountFileFrames(L"anim.gif"), classlib::EInvalidOperation);
    PxSetFrameCounter(ffGIF, installedGif);
    PxSetFrameCounter(ffUnknown, installedVideo);
}

}  // namespace
