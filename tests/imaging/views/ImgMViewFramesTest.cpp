// The thumbnail grid's frame entries of video files (AVI and media files of
// other containers, through the frame reader's open media file) and the
// resolution equalisation its loaders copy from the multi-image object.
// The videos are tests/fixtures/io/video/make_video_fixtures.sh's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "classlib/Streams.h"
#include "imaging/io/core/FormatTable.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/views/grid/ImgMIO.h"
#include "imaging/views/grid/ImgMView.h"
#include "support/TestSupport.h"
#include "tests/imaging/views/GridTestSupport.h"

using namespace imaging;

namespace {

std::wstring Video(const wchar_t* Name) { return testsupport::FixtureDir(L"io/video") + L"\\" + Name; }

class GridFrames : public gridtest::TGridInHostTest {
protected:
    void SetUp() override
    {
        TGridInHostTest::SetUp();
        if (HasFatalFailure())
            return;
        // The frame counter of video files among them.
        PxInstallBuiltInFormats();
        grid_->SetParentWindow(host_);
        grid_->SetBounds(0, 0, 430, 300);
    }
    // Every entry of the grid loaded (frame entries load when drawn).
    void DrawAll()
    {
        classlib::TBitmap out;
        grid_->PaintTo(&out);
    }
};

// The pixel rgb16x8.avi holds at column x, row y of frame k.
TPxRGB AviPixel(int x, int y, int k)
{
    return TPxRGB{static_cast<uint8_t>(250 - 40 * k), static_cast<uint8_t>(30 * y), static_cast<uint8_t>(15 * x + 5 * k)};
}

TEST_F(GridFrames, AviFramesLoadThroughTheMediaReaderWithTheirDelay)
{
    // A name no registry row reads is a video too.
    testsupport::TempDir dir;
    classlib::TMemoryStream copy;
    copy.LoadFromFile(Video(L"rgb16x8.avi"));
    const std::wstring unnamed = dir.File(L"clip.vid");
    copy.SaveToFile(unnamed);
    for (const std::wstring& file : {Video(L"rgb16x8.avi"), unnamed}) {
        SCOPED_TRACE(testing::PrintToString(file));
        grid_->AddFileFramesOnDemand(file);
        ASSERT_EQ(grid_->GetImageCount(), 6);
        DrawAll();
        for (int k : {0, 3, 5}) {
            SCOPED_TRACE(k);
            EXPECT_EQ(grid_->GetImageDelayTime(k), 40);
            TPxBitmap* b = grid_->FetchEntryImage(k);
            ASSERT_NE(b, nullptr);
            ASSERT_EQ(b->GetWidth(), 16);
            ASSERT_EQ(b->GetHeight(), 8);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 16; ++x)
                    ASSERT_EQ(b->GetPixelRGB(x, y), AviPixel(x, y, k)) << x << "," << y;
            EXPECT_EQ(grid_->GetMIO()->GetParams(k)->ImageIndex, k);
        }
    }
}

// Lossy media files: frame k is one flat colour, kept within a few levels.
TEST_F(GridFrames, MediaFileFramesLoadWithTheirDelay)
{
    for (const wchar_t* name : {L"flat.webm", L"flat.ogv"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
        grid_->AddFileFramesOnDemand(Video(name));
        ASSERT_EQ(grid_->GetImageCount(), 6);
        DrawAll();
        for (int k = 0; k < 6; ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(grid_->GetImageDelayTime(k), 40);
            TPxBitmap* b = grid_->FetchEntryImage(k);
            ASSERT_NE(b, nullptr);
            ASSERT_EQ(b->GetWidth(), 32);
            ASSERT_EQ(b->GetHeight(), 16);
            const TPxRGB p = b->GetPixelRGB(16, 8);
            // Written as R = 20 + 40k, G = 200 - 30k, B = 100.
            const TPxRGB want = TPxRGB{100, static_cast<uint8_t>(200 - 30 * k), static_cast<uint8_t>(20 + 40 * k)};
            EXPECT_LE(std::abs(p.r - want.r) + std::abs(p.g - want.g) + std::abs(p.b - want.b), 15)
                << int(p.r) << "," << int(p.g) << "," << int(p.b);
        }
    }
}

// A file no row reads and the filter graphs cannot open: its entry fails
// and shows the wrong-image picture instead of an empty cell.
TEST_F(GridFrames, UnreadableVideoEntryFails)
{
    testsupport::TempDir dir;
    const std::wstring text = dir.File(L"notes.vid");
    classlib::TMemoryStream s;
    s.WriteBuffer("not a video", 11);
    s.SaveToFile(text);
    grid_->Clear();
    grid_->AppendImage();
    grid_->SetImageFileName(0, text + L"::0");
    EXPECT_FALSE(grid_->LoadImageNow(0));
    TPxBitmap* b = grid_->FetchEntryImage(0);
    ASSERT_NE(b, nullptr);
    EXPECT_GT(b->GetWidth(), 0);
}

// A fax page of 200 x 100 dots per inch comes out at its true proportions
// in the grid: the loaders equalise the resolutions unless told not to.
TEST_F(GridFrames, UnequalResolutionsAreEqualisedByDefault)
{
    testsupport::TempDir dir;
    const std::wstring fax = dir.File(L"fax.tif");
    {
        TImgIO io(nullptr);
        TPxBitmap* b = io.GetCurrentBitmap();
        ASSERT_TRUE(b->Allocate(8, 4, px24RGB));
        b->Fill(0x336699);
        io.FileParams->DpiX = 200;
        io.FileParams->DpiY = 100;
        io.SaveTIFFToFile(fax);
        ASSERT_FALSE(io.AbortFlag);
    }
    // The grid's multi-image object as made (the first load makes it too).
    ASSERT_NE(grid_->GetMIO(), nullptr);
    for (bool adjust : {true, false}) {
        SCOPED_TRACE(adjust);
        grid_->Clear();
        grid_->StoreType = pxtNormal;
        if (!adjust)
            grid_->GetMIO()->AutoAdjustDPI = false;
        grid_->AppendImage();
        grid_->SetImageFileName(0, fax);
        TPxBitmap* b = grid_->FetchEntryImage(0);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->GetWidth(), 8);
        EXPECT_EQ(b->GetHeight(), adjust ? 8 : 4);
    }
}

}  // namespace
