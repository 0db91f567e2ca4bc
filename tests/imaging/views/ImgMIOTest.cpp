// Loading every page or frame of a TIFF or GIF into a thumbnail grid
// through its multi-image I/O object, checked against decodes made by other
// tools (the .rgb/.rgba files beside the fixtures).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/formats/gif/GifReader.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/formats/tiff/TiffLzw.h"
#include "imaging/io/formats/tiff/TiffReader.h"
#include "imaging/io/formats/tiff/TiffWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/views/grid/ImgMIO.h"
#include "imaging/views/grid/ImgMView.h"
#include "support/TestSupport.h"
#include "tests/imaging/views/GridTestSupport.h"

using namespace imaging;

namespace {

std::vector<uint8_t> ReadBytes(const std::wstring& Name)
{
    std::ifstream f(std::string(Name.begin(), Name.end()), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::wstring Tiff(const wchar_t* Name) { return testsupport::FixtureDir(L"io\\tiff") + L"\\" + Name; }
std::wstring Gif(const wchar_t* Name) { return testsupport::FixtureDir(L"io\\gif") + L"\\" + Name; }

// The number of pixels of Image that differ from Raw (Channels bytes per
// pixel, RGB first; with 4 channels only opaque pixels are compared), or -1
// when the sizes disagree.
int Differences(TPxBitmap* Image, const std::vector<uint8_t>& Raw, int Channels)
{
    const int w = Image->GetWidth();
    const int h = Image->GetHeight();
    if (static_cast<size_t>(w) * h * Channels != Raw.size())
        return -1;
    int bad = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = &Raw[(static_cast<size_t>(y) * w + x) * Channels];
            if (Channels == 4 && p[3] != 255)
                continue;
            const TPxRGB c = Image->GetPixelAsRGB(x, y);
            if (c.r != p[0] || c.g != p[1] || c.b != p[2])
                ++bad;
        }
    return bad;
}

class MioGrid : public gridtest::TGridInHostTest {
protected:
    void SetUp() override
    {
        PxInstallGIFFormat();
        PxInstallTIFFReader();
        PxInstallTIFFWriter();
        PxInstallTIFFLZWCodec();
        TGridInHostTest::SetUp();
        if (HasFatalFailure())
            return;
        grid_->SetParentWindow(host_);
        grid_->SetBounds(0, 0, 430, 300);
        mio_ = grid_->GetMIO();
        ASSERT_NE(mio_, nullptr);
        ASSERT_EQ(mio_->GetAttachedMView(), grid_.get());
    }
    TImgMIO* mio_ = nullptr;
};

TEST_F(MioGrid, EveryTiffPageBecomesAnEntryWithItsParameters)
{
    Finish finish;
    mio_->OnFinishWork = classlib::TNotifyEvent(&finish, &Finish::On);
    const std::wstring name = Tiff(L"multipage.tif");
    mio_->LoadFromFile(name);
    EXPECT_FALSE(mio_->Aborting);
    EXPECT_EQ(finish.calls, 1);
    EXPECT_TRUE(mio_->LoadingFileName.empty());
    ASSERT_EQ(grid_->GetImageCount(), 3);
    ASSERT_EQ(mio_->GetParamsCount(), 3);
    const wchar_t* pages[] = {L"rgb-none.rgb", L"gray8.rgb", L"bw-g4.rgb"};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(grid_->GetImageDelayTime(i), 100);
        TIOParamsVals* p = mio_->GetParams(i);
        EXPECT_EQ(p->FileFormat, 1);
        EXPECT_EQ(p->ImageIndex, i);
        EXPECT_EQ(p->FileName, name);
        EXPECT_GE(p->DpiX, 2);
        TPxBitmap* image = grid_->FetchEntryImage(i);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(Differences(image, ReadBytes(Tiff(pages[i])), 3), 0);
    }
}

TEST_F(MioGrid, PagesGoBeforeTheSelectedEntry)
{
    grid_->BeginPaintLock();
    for (int i = 0; i < 10; ++i) {
        grid_->InsertImage(i);
        mio_->GetParams(i)->FileName = L"entry" + std::to_wstring(i);
    }
    grid_->EndPaintLock();
    grid_->SetSelectedImage(5);
    mio_->LoadFromFile(Tiff(L"multipage.tif"));
    ASSERT_EQ(grid_->GetImageCount(), 13);
    ASSERT_EQ(mio_->GetParamsCount(), 13);
    EXPECT_EQ(grid_->GetSelectedImage(), 5);
    EXPECT_EQ(mio_->GetParams(4)->FileName, L"entry4");
    for (int i = 5; i < 8; ++i) {
        EXPECT_EQ(mio_->GetParams(i)->FileFormat, 1) << i;
        EXPECT_EQ(mio_->GetParams(i)->ImageIndex, i) << i;
        EXPECT_TRUE(grid_->HasImage(i)) << i;
    }
    EXPECT_EQ(mio_->GetParams(8)->FileName, L"entry5");
    EXPECT_EQ(mio_->GetParams(12)->FileName, L"entry9");
}

TEST_F(MioGrid, AnimatedGifFramesAreComposedWithTheirDelays)
{
    mio_->LoadFromFile(Gif(L"anim.gif"));
    EXPECT_FALSE(mio_->Aborting);
    ASSERT_EQ(grid_->GetImageCount(), 3);
    const int delays[] = {100, 200, 300};
    const wchar_t* frames[] = {L"anim-0.rgba", L"anim-1.rgba", L"anim-2.rgba"};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(grid_->GetImageDelayTime(i), delays[i]);
        EXPECT_EQ(mio_->GetParams(i)->FileFormat, 2);
        TPxBitmap* image = grid_->FetchEntryImage(i);
        ASSERT_NE(image, nullptr);
        // Each entry is the whole 12 x 10 screen as shown at that frame
        // (frame 2 starts from the background where frame 1 was disposed).
        EXPECT_EQ(Differences(image, ReadBytes(Gif(frames[i])), 4), 0);
    }
}

TEST_F(MioGrid, IconPcxPagesAndMedicalFrames)
{
    struct Case {
        const wchar_t* area;
        const wchar_t* file;
        int count;
        int fileFormat;
        const wchar_t* reference;  // RGBA of entry 0, or nullptr
    };
    const Case cases[] = {
        {L"io\\ico", L"icon24.ico", 1, 6, L"icon24.rgba"},
        {L"io\\ico", L"im32.ico", 1, 6, L"im32.rgba"},
        {L"io\\formats", L"dcx.dcx", 2, 19, nullptr},
        {L"io\\dicom", L"g8_implicit.dcm", 3, 28, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.file, c.file + wcslen(c.file)));
        grid_->Clear();
        const std::wstring dir = testsupport::FixtureDir(c.area) + L"\\";
        mio_->LoadFromFile(dir + c.file);
        EXPECT_FALSE(mio_->Aborting);
        ASSERT_EQ(grid_->GetImageCount(), c.count);
        ASSERT_EQ(mio_->GetParamsCount(), c.count);
        for (int i = 0; i < c.count; ++i) {
            EXPECT_EQ(mio_->GetParams(i)->FileFormat, c.fileFormat);
            EXPECT_EQ(mio_->GetParams(i)->ImageIndex, i);
            EXPECT_EQ(grid_->GetImageDelayTime(i), 100);
            EXPECT_TRUE(grid_->HasImage(i));
        }
        if (c.reference) {
            TPxBitmap* image = grid_->FetchEntryImage(0);
            ASSERT_NE(image, nullptr);
            EXPECT_EQ(Differences(image, ReadBytes(dir + c.reference), 4), 0);
        }
    }
    // The medical frames are in order: sample f * 80 + x * 7 + y of frame f.
    int grey[3];
    for (int f = 0; f < 3; ++f) {
        TPxBitmap* image = grid_->FetchEntryImage(f);
        ASSERT_NE(image, nullptr);
        grey[f] = image->GetPixelAsRGB(0, 0).g;
    }
    EXPECT_EQ(std::abs(grey[1] - grey[0]), 80);
    EXPECT_EQ(std::abs(grey[2] - grey[0]), 160);
    // Both pages of the PCX container are the 8 x 6 picture.
    grid_->Clear();
    mio_->LoadFromFile(testsupport::FixtureDir(L"io\\formats") + L"\\dcx.dcx");
    ASSERT_EQ(grid_->GetImageCount(), 2);
    EXPECT_EQ(grid_->GetStoredWidth(1), 8);
    EXPECT_EQ(grid_->GetStoredHeight(1), 6);
}

TEST_F(MioGrid, FailuresAbortAndKeepWhatLoaded)
{
    // An empty name only sets the flag.
    mio_->LoadFromFile(L"  ");
    EXPECT_TRUE(mio_->Aborting);
    EXPECT_EQ(grid_->GetImageCount(), 0);
    // A missing file raises the file stream's error.
    EXPECT_THROW(mio_->LoadFromFile(Tiff(L"no-such-file.tif")), classlib::Exception);
    EXPECT_EQ(grid_->GetImageCount(), 0);
    // A page that does not decode removes its entry.
    mio_->LoadFromFile(Tiff(L"bad-palette-nomap.tif"));
    EXPECT_TRUE(mio_->Aborting);
    EXPECT_EQ(grid_->GetImageCount(), 0);
    EXPECT_EQ(mio_->GetParamsCount(), 0);
    // An extension no reader knows adds nothing.
    mio_->LoadFromFile(L"clip.mpg");
    EXPECT_TRUE(mio_->Aborting);
    EXPECT_EQ(grid_->GetImageCount(), 0);
    // A truncated GIF: nothing is left of the failed frame.
    mio_->LoadFromFile(Gif(L"truncated.gif"));
    EXPECT_EQ(grid_->GetImageCount(), mio_->GetParamsCount());
    // A single-image format adds one entry, loaded at once.
    const int before = grid_->GetImageCount();
    mio_->LoadFromFile(testsupport::FixtureDir(L"io\\jpeg") + L"\\baseline.jpg");
    EXPECT_FALSE(mio_->Aborting);
    ASSERT_EQ(grid_->GetImageCount(), before + 1);
    EXPECT_TRUE(grid_->HasImage(before));
}

TEST_F(MioGrid, AllEntriesSavedAsOneTiffReadBack)
{
    mio_->LoadFromFile(Gif(L"anim.gif"));
    mio_->LoadFromFile(Tiff(L"multipage.tif"));
    const int n = grid_->GetImageCount();
    ASSERT_EQ(n, 6);
    testsupport::TempDir dir;
    const std::wstring out = dir.File(L"all.tif");
    {
        classlib::TFileStream s(out, classlib::fmCreate);
        for (int i = 0; i < n; ++i) {
            TIOParamsVals params(nullptr);
            params.TIFFImageIndex = i;
            bool aborting = false;
            TPxIOProgressInfo info;
            info.Aborting = &aborting;
            EXPECT_EQ(PxWriteTIFF(&s, i > 0, grid_->FetchEntryImage(i), info, params), i + 1);
            ASSERT_FALSE(aborting);
        }
    }
    TImgMView second(nullptr);
    second.SetParentWindow(host_);
    second.GetMIO()->LoadFromFile(out);
    ASSERT_EQ(second.GetImageCount(), n);
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        TPxBitmap* a = grid_->FetchEntryImage(i);
        ASSERT_NE(a, nullptr);
        const int w = a->GetWidth();
        const int h = a->GetHeight();
        std::vector<TPxRGB> pixels;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                pixels.push_back(a->GetPixelAsRGB(x, y));
        TPxBitmap* b = second.FetchEntryImage(i);
        ASSERT_NE(b, nullptr);
        ASSERT_EQ(b->GetWidth(), w);
        ASSERT_EQ(b->GetHeight(), h);
        int bad = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const TPxRGB c = b->GetPixelAsRGB(x, y);
                const TPxRGB e = pixels[static_cast<size_t>(y) * w + x];
                bad += c.r != e.r || c.g != e.g || c.b != e.b;
            }
        EXPECT_EQ(bad, 0);
    }
}

}  // namespace
