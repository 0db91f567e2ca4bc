// The thumbnail grid: stored images, layout, entries and selection, loads on
// the calling thread and through the pool, and painted cells checked by
// pixels. Grids live in a hidden host window.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "classlib/Bitmap.h"
#include "classlib/Threads.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/formats/gif/GifReader.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/views/grid/ImgMIO.h"
#include "imaging/views/grid/ImgMView.h"
#include "support/TestSupport.h"
#include "tests/imaging/views/GridTestSupport.h"
#include "support/HostWindow.h"

using namespace imaging;

namespace {

bool PumpUntil(const std::function<bool()>& Done, int Seconds = 10)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
    while (std::chrono::steady_clock::now() < end) {
        testsupport::PumpMessages();
        classlib::CheckSynchronize(0);
        if (Done())
            return true;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return false;
}

std::wstring Jpeg(const wchar_t* Name) { return testsupport::FixtureDir(L"io\\jpeg") + L"\\" + Name; }
std::wstring Png(const wchar_t* Name) { return testsupport::FixtureDir(L"io\\png") + L"\\" + Name; }

// Pixel of a pf24bit bitmap as (r, g, b).
TPxRGB PixelAt(classlib::TBitmap& B, int X, int Y)
{
    const auto* row = static_cast<const uint8_t*>(B.GetScanLine(Y));
    return TPxRGB{row[X * 3], row[X * 3 + 1], row[X * 3 + 2]};
}

bool Near(TPxRGB A, TPxRGB B, int Tol)
{
    return std::abs(A.r - B.r) <= Tol && std::abs(A.g - B.g) <= Tol && std::abs(A.b - B.b) <= Tol;
}

struct Sink : classlib::TObject {
    int lastProgress = -1;
    int progressCalls = 0;
    int allDisplayed = 0;
    void Progress(classlib::TObject*, int Per)
    {
        lastProgress = Per;
        ++progressCalls;
    }
    void AllDisplayed(classlib::TObject*) { ++allDisplayed; }
};

class GridInHost : public gridtest::TGridInHostTest {
protected:
    void SetUp() override
    {
        TGridInHostTest::SetUp();
        if (HasFatalFailure())
            return;
        grid_->SetBorderStyle(bsNone);
        grid_->SetParentWindow(host_);
        ASSERT_NE(grid_->GetHandle(), nullptr);
    }
    // The album's preview settings on a control of W x H.
    void MakePreview(int W, int H)
    {
        grid_->SetBounds(0, 0, W, H);
        grid_->SetScrollBars(ssNone);
        grid_->StoreType = pxtThumb;
        grid_->SetHorizBorder(-1);
        grid_->SetVertBorder(-1);
        grid_->SetMouseInteract(0);
        grid_->SetKeyInteract(0);
        grid_->SetDisplayMode(mdSingle);
        grid_->SetSelectionWidth(0);
        grid_->SetImageCacheSize(1);
        grid_->SetStyle(pxmsFlat);
        grid_->SetThumbnailsBorderColor(classlib::clBlack);
        grid_->SetThumbHeight(H);
        grid_->SetThumbWidth(W);
    }
    void ShowPreview(const std::wstring& File)
    {
        grid_->Clear();
        grid_->BeginPaintLock();
        grid_->AppendImage();
        grid_->SetImageFileName(0, File);
        grid_->EndPaintLock();
    }
};

// ---- stored images (no window needed)

TEST(ImgMViewStore, ReductionToTheBox)
{
    struct Case {
        TPxStoreType store;
        bool enlarge;
        int w, h;
        int storedW, storedH;
    };
    const Case cases[] = {
        {pxtThumb, true, 50, 20, 100, 40},   {pxtThumb, true, 400, 300, 100, 75},
        {pxtThumb, false, 50, 20, 50, 20},   {pxtThumb, false, 400, 300, 100, 75},
        {pxtNormal, true, 400, 300, 400, 300}, {pxtThumb, true, 100, 100, 100, 100},
    };
    for (const Case& c : cases) {
        TImgMView grid(nullptr);
        grid.StoreType = c.store;
        grid.EnlargeSmallImages = c.enlarge;
        const int i = grid.InsertImage(0);
        TPxBitmap src(c.w, c.h, px24RGB);
        src.Fill(200);
        grid.SetImageBitmap(i, &src);
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " store " << int(c.store));
        EXPECT_EQ(grid.GetStoredWidth(i), c.storedW);
        EXPECT_EQ(grid.GetStoredHeight(i), c.storedH);
        EXPECT_EQ(grid.GetImageSourceWidth(i), c.w);
        EXPECT_EQ(grid.GetImageSourceHeight(i), c.h);
    }
}

TEST(ImgMViewStore, ReducedPixelsAndTransparentGrey)
{
    TImgMView grid(nullptr);
    grid.StoreType = pxtThumb;
    grid.SetThumbWidth(10);
    grid.SetThumbHeight(10);
    grid.InsertImage(0);
    grid.SetSelectedImage(0);
    // 40 x 20, left half red, right half blue and fully transparent.
    TPxBitmap src(40, 20, px24RGB);
    TPxBitmap* alpha = src.GetAlphaChannel();
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) {
            src.SetPixelRGB(x, y, x < 20 ? TPxRGB{0, 0, 255} : TPxRGB{255, 0, 0});
            alpha->SetPixelGray8(x, y, x < 20 ? 255 : 0);
        }
    alpha->FullAlpha = false;
    grid.SetImageBitmap(0, &src);
    TPxBitmap* stored = grid.GetPxBitmap();
    ASSERT_NE(stored, nullptr);
    ASSERT_EQ(stored->GetWidth(), 10);
    ASSERT_EQ(stored->GetHeight(), 5);
    EXPECT_TRUE(Near(stored->GetPixelRGB(1, 2), TPxRGB{0, 0, 255}, 2));
    // Transparent pixels were greyed before the reduction.
    EXPECT_TRUE(Near(stored->GetPixelRGB(8, 2), TPxRGB{128, 128, 128}, 2));
    ASSERT_TRUE(stored->HasAlphaChannel());
    EXPECT_EQ(stored->GetAlphaChannel()->GetPixelGray8(1, 2), 255);
    EXPECT_EQ(stored->GetAlphaChannel()->GetPixelGray8(8, 2), 0);
    // The caller's image is left as it was: greying happens in a copy.
    EXPECT_TRUE(Near(src.GetPixelRGB(30, 10), TPxRGB{255, 0, 0}, 0));
    EXPECT_EQ(src.GetAlphaChannel()->GetPixelGray8(30, 10), 0);
}

// ---- entries, selection and the parameter list

TEST(ImgMViewEntries, RemovalKeepsTheSelectionOnItsImage)
{
    TImgMView grid(nullptr);
    TImgMIO* mio = grid.GetMIO();
    for (int i = 0; i < 4; ++i) {
        grid.AppendImage();
        grid.SetImageFileName(i, L"f" + std::to_wstring(i));
    }
    EXPECT_EQ(grid.GetSelectedImage(), 3);
    ASSERT_EQ(mio->GetParamsCount(), 4);
    mio->GetParams(2)->FileName = L"p2";

    grid.RemoveImage(3);  // the selected last entry: the new last is selected
    EXPECT_EQ(grid.GetSelectedImage(), 2);
    grid.RemoveImage(0);  // before the selection: the same image stays selected
    EXPECT_EQ(grid.GetSelectedImage(), 1);
    EXPECT_EQ(grid.GetImageFileName(1), L"f2");
    ASSERT_EQ(mio->GetParamsCount(), 2);
    EXPECT_EQ(mio->GetParams(1)->FileName, L"p2");

    grid.InsertImage(0);  // not selecting: the index stays, the entry shifts
    EXPECT_EQ(grid.GetSelectedImage(), 1);
    EXPECT_EQ(grid.GetImageFileName(2), L"f2");
    EXPECT_EQ(mio->GetParamsCount(), 3);
    EXPECT_FALSE(grid.RemoveImage(3));
    EXPECT_FALSE(grid.RemoveImage(-1));
    grid.Clear();
    EXPECT_EQ(grid.GetImageCount(), 0);
    EXPECT_EQ(grid.GetSelectedImage(), -1);
    EXPECT_EQ(mio->GetParamsCount(), 0);
}

// ---- layout

TEST_F(GridInHost, LayoutColumnsAndSingleMode)
{
    grid_->SetBounds(0, 0, 430, 300);
    grid_->BeginPaintLock();
    for (int i = 0; i < 6; ++i)
        grid_->InsertImage(i);
    grid_->EndPaintLock();
    // GridWidth 0: one row.
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(grid_->GetImageRow(i), 0);
        EXPECT_EQ(grid_->GetImageCol(i), i);
    }
    EXPECT_EQ(grid_->GetExtentX(), 5 * 104 + 4 + 104);
    // -1 with a 430-pixel client, box 100 and border 4: 4 columns.
    grid_->SetGridWidth(-1);
    EXPECT_EQ(grid_->GetImageCol(3), 3);
    EXPECT_EQ(grid_->GetImageRow(4), 1);
    EXPECT_EQ(grid_->GetImageCol(4), 0);
    EXPECT_EQ(grid_->GetExtentY(), 104 + 4 + 104);
    // Single mode with negative borders: every cell at the origin.
    grid_->SetHorizBorder(-1);
    grid_->SetVertBorder(-1);
    grid_->SetDisplayMode(mdSingle);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(grid_->GetImageRow(i), 0);
        EXPECT_EQ(grid_->GetImageCol(i), 0);
        EXPECT_TRUE(grid_->IsImageVisible(i));
    }
}

// ---- the album's one-image preview

TEST_F(GridInHost, PreviewLoadsOnTheCallingThreadAndFillsTheControl)
{
    Sink sink;
    MakePreview(100, 80);
    grid_->OnIOProgress = TPxProgressEvent(&sink, &Sink::Progress);
    ShowPreview(Jpeg(L"baseline.jpg"));  // 50 x 34
    EXPECT_EQ(grid_->GetSelectedImage(), 0);
    EXPECT_FALSE(grid_->HasImage(0));

    TImgProc* proc = grid_->GetProc();
    ASSERT_NE(proc, nullptr);
    ASSERT_TRUE(grid_->HasImage(0));
    EXPECT_EQ(sink.lastProgress, 100);
    TPxBitmap* img = grid_->GetPxBitmap();
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->GetWidth(), 100);  // enlarged into the box, aspect kept
    EXPECT_EQ(img->GetHeight(), 68);
    EXPECT_EQ(grid_->GetImageSourceWidth(0), 50);
    EXPECT_EQ(grid_->GetImageSourceHeight(0), 34);
    EXPECT_EQ(grid_->GetMIO()->GetParams(0)->FileFormat, 3);

    classlib::TBitmap out;
    grid_->PaintTo(&out);
    ASSERT_EQ(out.GetWidth(), 100);
    ASSERT_EQ(out.GetHeight(), 80);
    // Centred vertically: rows 6 .. 73 hold the picture, pixel for pixel.
    const TPxRGB band = PixelAt(out, 50, 2);
    EXPECT_TRUE(Near(PixelAt(out, 50, 77), band, 0));
    for (int y : {6, 30, 73})
        for (int x : {0, 37, 99}) {
            SCOPED_TRACE(testing::Message() << x << "," << y);
            EXPECT_TRUE(Near(PixelAt(out, x, y), img->GetPixelRGB(x, y - 6), 0));
        }

    // Rotating through the processing object changes the shown picture.
    proc->Rotate(90, false, 0, classlib::clBlack);
    img = grid_->GetPxBitmap();
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->GetWidth(), 68);
    EXPECT_EQ(img->GetHeight(), 100);
    grid_->PaintTo(&out);
    // Fitted into 100 x 80: 54 x 80, centred at x = 23.
    EXPECT_TRUE(Near(PixelAt(out, 5, 40), band, 0));
    EXPECT_FALSE(Near(PixelAt(out, 50, 40), band, 0));
}

TEST_F(GridInHost, UnreadableFileShowsTheQuestionMarkOrIsRemoved)
{
    MakePreview(100, 100);
    ShowPreview(testsupport::FixtureDir(L"io\\jpeg") + L"\\truncated.jpg.missing");
    classlib::TBitmap out;
    grid_->PaintTo(&out);
    ASSERT_TRUE(grid_->HasImage(0));
    TPxBitmap* img = grid_->GetPxBitmap();
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->GetWidth(), 100);
    EXPECT_EQ(img->GetHeight(), 100);
    EXPECT_TRUE(Near(img->GetPixelRGB(2, 2), TPxRGB{255, 255, 255}, 0));
    int blue = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            const TPxRGB p = img->GetPixelRGB(x, y);
            if (p.b > 200 && p.r < 100 && p.g < 100)
                ++blue;
        }
    EXPECT_GT(blue, 50);

    grid_->SetRemoveCorrupted(true);
    ShowPreview(testsupport::FixtureDir(L"io\\jpeg") + L"\\nothing-here.jpg");
    grid_->PaintTo(&out);
    EXPECT_EQ(grid_->GetImageCount(), 0);
}

// ---- the pool

class PoolGrid : public GridInHost {
protected:
    void Fill(const std::vector<std::wstring>& Files)
    {
        grid_->SetBounds(0, 0, 3 * 54 + 4, 60);
        grid_->StoreType = pxtThumb;
        grid_->SetThumbWidth(50);
        grid_->SetThumbHeight(50);
        grid_->BeginPaintLock();
        for (size_t i = 0; i < Files.size(); ++i) {
            grid_->InsertImage(static_cast<int>(i));
            grid_->SetImageFileName(static_cast<int>(i), Files[i]);
        }
        grid_->EndPaintLock();
    }
    const std::vector<std::wstring> files_{Jpeg(L"baseline.jpg"), Png(L"rgb8.png"), Jpeg(L"rgb.jpg")};
};

TEST_F(PoolGrid, VisibleCellsLoadOnWorkersAndArePainted)
{
    Sink sink;
    grid_->OnIOProgress = TPxProgressEvent(&sink, &Sink::Progress);
    grid_->OnAllDisplayed = classlib::TNotifyEvent(&sink, &Sink::AllDisplayed);
    Fill(files_);
    classlib::TBitmap out;
    grid_->PaintTo(&out);  // queues the three visible cells
    EXPECT_EQ(sink.allDisplayed, 0);
    ASSERT_TRUE(PumpUntil([&] { return grid_->HasImage(0) && grid_->HasImage(1) && grid_->HasImage(2); }));
    EXPECT_EQ(sink.progressCalls, 0);  // pool loads report no progress
    EXPECT_EQ(grid_->GetStoredWidth(0), 50);
    EXPECT_EQ(grid_->GetStoredHeight(0), 34);
    EXPECT_EQ(grid_->GetImageSourceWidth(1), 11);
    EXPECT_EQ(grid_->GetStoredWidth(1), 50);  // enlarged 11 x 7 -> 50 x 31
    EXPECT_EQ(grid_->GetStoredHeight(1), 31);
    ASSERT_TRUE(PumpUntil([&] { return grid_->GetRunningLoaderCount() == 0; }));

    grid_->PaintTo(&out);
    EXPECT_EQ(sink.allDisplayed, 1);
    EXPECT_TRUE(grid_->HasDisplayCopy(0));
    // Cell 0 at (4, 4): picture rows 4 + 8 .. 4 + 8 + 33; outside it the cell
    // background.
    const TPxRGB cellBg = PixelAt(out, 6, 6);
    const TPxRGB bg = PixelAt(out, 1, 1);
    EXPECT_TRUE(Near(PixelAt(out, 30, 60 - 1), bg, 0));
    int differing = 0;
    for (int x = 4; x < 54; ++x)
        if (!Near(PixelAt(out, x, 4 + 8 + 17), cellBg, 8))
            ++differing;
    EXPECT_GT(differing, 25);
    // A repaint from the display copies gives the same pixels.
    classlib::TBitmap again;
    grid_->PaintTo(&again);
    for (int y = 0; y < 60; y += 7)
        for (int x = 0; x < 166; x += 5)
            ASSERT_TRUE(Near(PixelAt(out, x, y), PixelAt(again, x, y), 0)) << x << "," << y;
}

TEST_F(PoolGrid, PoolOffLoadsDuringThePaintWithProgress)
{
    Sink sink;
    grid_->OnIOProgress = TPxProgressEvent(&sink, &Sink::Progress);
    grid_->ThreadPoolSize = 0;
    Fill(files_);
    classlib::TBitmap out;
    grid_->PaintTo(&out);
    EXPECT_TRUE(grid_->HasImage(0) && grid_->HasImage(1) && grid_->HasImage(2));
    EXPECT_EQ(grid_->GetRunningLoaderCount(), 0);
    EXPECT_GE(sink.progressCalls, 3);
}

TEST_F(PoolGrid, ScrolledAwayCellsAreNotLoaded)
{
    std::vector<std::wstring> many;
    for (int i = 0; i < 200; ++i)
        many.push_back(files_[static_cast<size_t>(i % 3)]);
    Fill(many);
    grid_->ThreadPoolSize = 2;
    classlib::TBitmap out;
    grid_->PaintTo(&out);
    EXPECT_LE(grid_->GetRequestCount() + grid_->GetRunningLoaderCount(), 4);
    // Scroll to the end before the loads finish: the first cells' work is
    // dropped and only the last visible cells load.
    grid_->ViewX = grid_->GetExtentX() - grid_->GetClientWidth();
    grid_->PaintTo(&out);
    ASSERT_TRUE(PumpUntil([&] { return grid_->HasImage(199) && grid_->GetRunningLoaderCount() == 0; }));
    int loaded = 0;
    for (int i = 0; i < 200; ++i)
        loaded += grid_->HasImage(i) ? 1 : 0;
    EXPECT_LE(loaded, 3 + 3 + 2);
    EXPECT_FALSE(grid_->HasImage(100));
}

TEST_F(PoolGrid, StopLoadingAndDestructionWithLoadsRunning)
{
    std::vector<std::wstring> many(30, files_[0]);
    grid_->SetBounds(0, 0, 600, 300);
    grid_->SetGridWidth(-1);
    Fill(many);
    classlib::TBitmap out;
    grid_->PaintTo(&out);
    EXPECT_GT(grid_->GetRequestCount() + grid_->GetRunningLoaderCount(), 0);
    auto start = std::chrono::steady_clock::now();
    grid_->StopLoading();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_EQ(grid_->GetRequestCount(), 0);
    grid_->PaintTo(&out);
    start = std::chrono::steady_clock::now();
    grid_.reset();  // frees running loaders without waiting for their images
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace

namespace {

TEST(ImgMViewCaptions, TooWideCaptionIsShortenedAtTheChosenSide)
{
    classlib::TBitmap b;
    b.SetPixelFormat(classlib::pf24bit);
    b.SetSize(10, 10);
    classlib::TCanvas* c = b.GetCanvas();
    const std::wstring text = L"ABCDEFGHIJ";
    const int full = c->TextWidth(text);
    struct Case {
        int side;
        int width;
        std::wstring expected;
    };
    const Case cases[] = {
        {1, full, text},
        {0, full, text},
        {1, c->TextWidth(L"...FGHIJ"), L"...FGHIJ"},
        {0, c->TextWidth(L"ABCDE..."), L"ABCDE..."},
        {1, 1, L"...J"},                                      // nothing fits: the last letter is kept
        {0, 1, L"A..."},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << "side " << k.side << " width " << k.width);
        EXPECT_EQ(PxShortenCaption(c, text, k.width, k.side), k.expected);
    }
}

TEST_F(GridInHost, FramesOfAnAnimatedGifLoadOnDemandWithTheirDelays)
{
    PxInstallGIFFormat();
    grid_->SetBounds(0, 0, 400, 120);
    const std::wstring gif = testsupport::FixtureDir(L"io\\gif") + L"\\anim.gif";
    grid_->AddFileFramesOnDemand(gif);
    ASSERT_EQ(grid_->GetImageCount(), 3);
    EXPECT_EQ(grid_->GetImageFileName(2), gif + L"::2");
    EXPECT_FALSE(grid_->HasImage(0));
    classlib::TBitmap out;
    grid_->PaintTo(&out);  // frame entries are never queued: loaded at once
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(grid_->HasImage(i)) << i;
    EXPECT_EQ(grid_->GetRequestCount(), 0);
    EXPECT_EQ(grid_->GetImageDelayTime(0), 100);
    EXPECT_EQ(grid_->GetImageDelayTime(1), 200);
    EXPECT_EQ(grid_->GetImageDelayTime(2), 300);
}

}  // namespace

namespace {

TEST_F(GridInHost, CellDecorationsByPixels)
{
    struct Case {
        int divisor;
        TPxMStyle style;
        int upperGap;
        bool cornerIsPicture;
        bool cornerIsBlack;
    };
    const Case cases[] = {
        {0, pxmsFlat, 0, true, false},   // the picture reaches the corner
        {4, pxmsFlat, 0, false, false},  // rounded: the corner shows the cell colour
        {0, pxmsACD, 2, false, true},    // 3-D frame: black top-left edge
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "divisor " << c.divisor << " style " << int(c.style));
        MakePreview(40, 40);
        grid_->ThumbnailsBackground = classlib::clLime;
        grid_->RoundCornersDivisor = c.divisor;
        grid_->SetStyle(c.style);
        grid_->SetUpperGap(c.upperGap);
        grid_->Clear();
        grid_->AppendImage();
        TPxBitmap red(40, 40 - c.upperGap, px24RGB);
        for (int y = 0; y < red.GetHeight(); ++y)
            for (int x = 0; x < 40; ++x)
                red.SetPixelRGB(x, y, TPxRGB{0, 0, 255});
        grid_->SetImageBitmap(0, &red);
        classlib::TBitmap out;
        grid_->PaintTo(&out);
        const TPxRGB corner = PixelAt(out, 0, c.upperGap);
        const TPxRGB red24{0, 0, 255};
        const TPxRGB mid = PixelAt(out, 20, 20);
        // Blending at alpha 255 may lose one level.
        EXPECT_TRUE(Near(mid, red24, 1)) << int(mid.r) << " " << int(mid.g) << " " << int(mid.b);
        EXPECT_EQ(Near(corner, red24, 0), c.cornerIsPicture);
        if (c.cornerIsBlack) {
            EXPECT_TRUE(Near(PixelAt(out, 0, 10), TPxRGB{0, 0, 0}, 0));
        } else if (!c.cornerIsPicture) {
            EXPECT_TRUE(Near(corner, TPxRGB{0, 255, 0}, 0));
        }
    }
}

}  // namespace

namespace {

TEST_F(GridInHost, DisplayCopyIsBlendedByTheSameRuleAsTheFirstPaint)
{
    // Rounded corners are transparent: they show the cell colour exactly
    // when the alpha channel is on, in the first paint and in repaints from
    // the display copy alike.
    for (const bool alphaOn : {false, true}) {
        SCOPED_TRACE(alphaOn ? "alpha on" : "alpha off");
        MakePreview(40, 40);
        grid_->ThumbnailsBackground = classlib::clLime;
        grid_->RoundCornersDivisor = 4;
        grid_->SetEnableAlphaChannel(alphaOn);
        grid_->Clear();
        grid_->AppendImage();
        TPxBitmap red(40, 40, px24RGB);
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 40; ++x)
                red.SetPixelRGB(x, y, TPxRGB{0, 0, 255});
        grid_->SetImageBitmap(0, &red);
        classlib::TBitmap first;
        grid_->PaintTo(&first);
        ASSERT_TRUE(grid_->HasDisplayCopy(0));
        classlib::TBitmap second;
        grid_->PaintTo(&second);
        const TPxRGB expected = alphaOn ? TPxRGB{0, 255, 0} : TPxRGB{0, 0, 255};
        EXPECT_TRUE(Near(PixelAt(first, 0, 0), expected, 0));
        EXPECT_TRUE(Near(PixelAt(second, 0, 0), expected, 0));
    }
}

TEST_F(GridInHost, WindowPaintShowsThePicture)
{
    // A borderless host shown without activation, so that WM_PAINT runs.
    HWND popup = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, L"STATIC", L"", WS_POPUP | WS_CLIPCHILDREN, 0, 0,
                                 60, 60, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(popup, nullptr);
    grid_->SetParentWindow(popup);
    MakePreview(60, 60);
    grid_->AppendImage();
    TPxBitmap blue(60, 60, px24RGB);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x)
            blue.SetPixelRGB(x, y, TPxRGB{255, 0, 0});
    grid_->SetImageBitmap(0, &blue);
    ShowWindow(popup, SW_SHOWNOACTIVATE);
    grid_->Invalidate();
    UpdateWindow(grid_->GetHandle());
    PumpUntil([] { return false; }, 1);
    HDC dc = GetDC(grid_->GetHandle());
    const COLORREF px = GetPixel(dc, 30, 30);
    ReleaseDC(grid_->GetHandle(), dc);
    EXPECT_EQ(px, RGB(0, 0, 255));
    grid_->SetParentWindow(host_);
    ShowWindow(popup, SW_HIDE);
    DestroyWindow(popup);
}

}  // namespace

namespace {

struct WrongSink : classlib::TObject {
    std::atomic<int> calls{0};
    std::atomic<int> lastIndex{-1};
    bool handle = true;
    void Wrong(classlib::TObject*, TPxBitmap* Out, int Idx, bool& Handled)
    {
        ++calls;
        lastIndex = Idx;
        if (!handle)
            return;
        for (int y = 0; y < Out->GetHeight(); ++y)
            for (int x = 0; x < Out->GetWidth(); ++x)
                Out->SetPixelRGB(x, y, TPxRGB{0, 255, 0});
        Handled = true;
    }
};

TEST_F(PoolGrid, FailedPoolLoadStoresTheWrongImagePicture)
{
    WrongSink sink;
    grid_->OnWrongImage = TPxWrongImageEvent(&sink, &WrongSink::Wrong);
    Fill({files_[0], testsupport::FixtureDir(L"io\\jpeg") + L"\\no-such-file.jpg"});
    classlib::TBitmap out;
    grid_->PaintTo(&out);
    ASSERT_TRUE(PumpUntil([&] { return grid_->HasImage(0) && grid_->HasImage(1); }));
    EXPECT_EQ(sink.calls, 1);
    EXPECT_EQ(sink.lastIndex, 1);
    EXPECT_EQ(grid_->GetStoredWidth(1), 50);  // the handler's box-size picture
    ASSERT_TRUE(PumpUntil([&] { return grid_->GetRunningLoaderCount() == 0; }));
    grid_->PaintTo(&out);
    EXPECT_TRUE(Near(PixelAt(out, 58 + 25, 4 + 25), TPxRGB{0, 255, 0}, 1));
    EXPECT_EQ(grid_->GetImageCount(), 2);
}

}  // namespace

namespace {

TEST_F(PoolGrid, LookAheadQueuesFollowersAndFarImagesAreDropped)
{
    std::vector<std::wstring> many;
    for (int i = 0; i < 40; ++i)
        many.push_back(files_[static_cast<size_t>(i % 3)]);
    Fill(many);  // three cells visible: 0, 1, 2 (3 touches the right edge)
    grid_->LookAheadCount = 2;
    grid_->InvisibleKeepDistance = 3;
    classlib::TBitmap out;
    grid_->PaintTo(&out);
    ASSERT_TRUE(PumpUntil([&] { return grid_->GetRunningLoaderCount() == 0 && grid_->GetRequestCount() == 0; }));
    int last = 0;
    while (last + 1 < 40 && grid_->IsImageVisible(last + 1))
        ++last;
    for (int i = 0; i <= last + 2; ++i)
        EXPECT_TRUE(grid_->HasImage(i)) << i;
    EXPECT_FALSE(grid_->HasImage(last + 3));
    grid_->PaintTo(&out);  // display copies of the visible cells
    EXPECT_TRUE(grid_->HasDisplayCopy(0));

    // Far away: the first entries lose their stored images, keep their copies.
    grid_->ViewX = grid_->GetExtentX() - grid_->GetClientWidth();
    grid_->ThreadPoolSize = 0;
    grid_->PaintTo(&out);
    EXPECT_TRUE(grid_->HasImage(39));
    EXPECT_FALSE(grid_->HasImage(0));
    EXPECT_TRUE(grid_->HasDisplayCopy(0));
}

}  // namespace

namespace {

// Waits without serving queued calls: pool loads finish on their workers
// but nothing is handed to this thread.
bool WaitUnserved(const std::function<bool()>& Done, int Seconds = 20)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (Done())
            return true;
        Sleep(5);
    }
    return false;
}

int OriginalWidth(const std::wstring& File)
{
    TImgIO io(nullptr);
    io.ReadParamsFromFile(File);
    return io.FileParams->OriginalWidth > 0 ? io.FileParams->OriginalWidth : io.FileParams->Width;
}

TEST_F(PoolGrid, FinishedLoadLandsInItsOwnEntryAfterInsertsAndRemovals)
{
    // A JPEG, another JPEG and a PNG of another size.
    Fill({files_[0], files_[2], files_[1]});
    classlib::TBitmap out;
    grid_->PaintTo(&out);  // three pool loads for entries 0, 1, 2
    // The loads finish; storing them waits for this thread.
    ASSERT_TRUE(WaitUnserved([&] { return grid_->GetPendingCompletionCount() == 3; }));
    EXPECT_FALSE(grid_->HasImage(0));
    // Meanwhile: a new entry in front, and the entry of the second JPEG
    // removed; the PNG's entry moves from 2 to 3 and back to 2.
    grid_->InsertImage(0);
    ASSERT_TRUE(grid_->RemoveImage(2));
    ASSERT_EQ(grid_->GetImageFileName(1), files_[0]);
    ASSERT_EQ(grid_->GetImageFileName(2), files_[1]);
    ASSERT_TRUE(PumpUntil([&] { return grid_->GetPendingCompletionCount() == 0; }));
    EXPECT_FALSE(grid_->HasImage(0));  // the new entry got nothing
    ASSERT_TRUE(grid_->HasImage(1));
    ASSERT_TRUE(grid_->HasImage(2));
    EXPECT_EQ(grid_->GetImageSourceWidth(1), OriginalWidth(files_[0]));
    EXPECT_EQ(grid_->GetImageSourceWidth(2), OriginalWidth(files_[1]));
    EXPECT_NE(OriginalWidth(files_[0]), OriginalWidth(files_[1]));
}

struct ThreadSink : classlib::TObject {
    std::atomic<DWORD> wrongThread{0};
    std::atomic<int> changes{0};
    std::atomic<DWORD> changeThread{0};
    void Wrong(classlib::TObject*, TPxBitmap*, int, bool&) { wrongThread = GetCurrentThreadId(); }
    void Changed(classlib::TObject*, bool)
    {
        ++changes;
        changeThread = GetCurrentThreadId();
    }
};

TEST_F(PoolGrid, CompletionsRunOnTheWindowThread)
{
    ThreadSink sink;
    grid_->OnWrongImage = TPxWrongImageEvent(&sink, &ThreadSink::Wrong);
    TImgMIO* mio = grid_->GetMIO();
    Fill({files_[0], testsupport::FixtureDir(L"io\\jpeg") + L"\\no-such-file.jpg"});
    classlib::TBitmap out;
    grid_->PaintTo(&out);
    ASSERT_TRUE(WaitUnserved([&] { return grid_->GetPendingCompletionCount() == 2; }));
    // Nothing of the completion has run on the workers.
    EXPECT_EQ(sink.wrongThread, 0u);
    EXPECT_EQ(mio->GetParams(0)->FileFormat, 0);
    EXPECT_FALSE(grid_->HasImage(0));
    ASSERT_TRUE(PumpUntil([&] { return grid_->HasImage(0) && grid_->HasImage(1); }));
    EXPECT_EQ(sink.wrongThread, GetCurrentThreadId());
    EXPECT_EQ(mio->GetParams(0)->FileFormat, ffJPEG);

    // A pool load of the selected entry notifies the bitmap-change handlers,
    // on this thread too.
    grid_->RegisterBitmapChangeEvent(TPxBitmapChangeEvent(&sink, &ThreadSink::Changed), &sink);
    grid_->InsertImage(2);
    grid_->SetImageFileName(2, files_[2]);
    grid_->SetSelectedImage(2);
    sink.changes = 0;
    ASSERT_TRUE(grid_->RequestImageLoad(2, -1));
    ASSERT_TRUE(PumpUntil([&] { return grid_->HasImage(2); }));
    EXPECT_GT(sink.changes.load(), 0);
    EXPECT_EQ(sink.changeThread, GetCurrentThreadId());
}

TEST_F(PoolGrid, StopLoadingWaitsForEveryWorker)
{
    std::vector<std::wstring> many(30, files_[0]);
    grid_->SetBounds(0, 0, 600, 300);
    grid_->SetGridWidth(-1);
    Fill(many);
    classlib::TBitmap out;
    grid_->PaintTo(&out);
    ASSERT_GT(grid_->GetRunningLoaderCount() + grid_->GetRequestCount(), 0);
    grid_->StopLoading();
    EXPECT_EQ(grid_->GetRunningLoaderCount(), 0);
    EXPECT_EQ(grid_->GetRequestCount(), 0);
    // Completions queued before the stop find nothing to store.
    PumpUntil([] { return false; }, 1);
    for (int i = 0; i < grid_->GetImageCount(); ++i)
        EXPECT_FALSE(grid_->HasImage(i)) << i;
}

TEST_F(PoolGrid, SelectedEntryKeepsItsImageFarFromView)
{
    std::vector<std::wstring> many;
    for (int i = 0; i < 40; ++i)
        many.push_back(files_[static_cast<size_t>(i % 3)]);
    Fill(many);
    grid_->InvisibleKeepDistance = 3;
    grid_->SetSelectedImage(1);
    classlib::TBitmap out;
    grid_->PaintTo(&out);
    ASSERT_TRUE(PumpUntil([&] { return grid_->GetRunningLoaderCount() == 0 && grid_->HasImage(0); }));
    grid_->ViewX = grid_->GetExtentX() - grid_->GetClientWidth();
    grid_->ThreadPoolSize = 0;
    grid_->PaintTo(&out);
    EXPECT_FALSE(grid_->HasImage(0));
    EXPECT_TRUE(grid_->HasImage(1));
}

// A w x h picture of one colour.
std::unique_ptr<TPxBitmap> Plain(int W, int H, TPxRGB C)
{
    auto b = std::make_unique<TPxBitmap>(W, H, px24RGB);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            b->SetPixelRGB(x, y, C);
    return b;
}

TEST_F(GridInHost, FramePicturesHoldTheThumbnailAndMarkTheSelection)
{
    grid_->SetBounds(0, 0, 4 + 2 * 64, 68);
    grid_->SetScrollBars(ssNone);
    grid_->SetThumbWidth(60);
    grid_->SetThumbHeight(60);
    grid_->SetStyle(pxmsFlat);
    grid_->ThumbnailsBackground = classlib::clWhite;
    const TPxRGB magenta{255, 0, 255}, cyan{255, 255, 0}, red{0, 0, 255};
    grid_->SetThumbnailFrame(Plain(30, 30, magenta).get());
    grid_->SetThumbnailFrameSelected(Plain(30, 30, cyan).get());
    grid_->ThumbnailFrameRect = RECT{10, 10, 50, 50};
    for (int i = 0; i < 2; ++i) {
        grid_->AppendImage();
        grid_->SetImageBitmap(i, Plain(40, 40, red).get());
    }
    grid_->SetSelectedImage(1);
    classlib::TBitmap out;
    grid_->PaintTo(&out);
    const int x0 = 4, x1 = 4 + 64, y = 4;
    EXPECT_TRUE(Near(PixelAt(out, x0 + 2, y + 2), magenta, 0));
    EXPECT_TRUE(Near(PixelAt(out, x1 + 2, y + 2), cyan, 0));  // no selection frame over it
    EXPECT_TRUE(Near(PixelAt(out, x1 + 1, y + 30), cyan, 0));
    for (int x : {x0, x1}) {
        EXPECT_TRUE(Near(PixelAt(out, x + 12, y + 30), red, 1));  // the picture inside the rectangle
        EXPECT_TRUE(Near(PixelAt(out, x + 48, y + 30), red, 1));
        EXPECT_FALSE(Near(PixelAt(out, x + 52, y + 30), red, 40));  // outside it the frame
    }
}

TEST_F(GridInHost, SoftShadowBesideThePictureFromTheFirstPaintOn)
{
    grid_->SetBounds(0, 0, 68, 68);
    grid_->SetScrollBars(ssNone);
    grid_->SetThumbWidth(60);
    grid_->SetThumbHeight(60);
    grid_->SetStyle(pxmsFlat);
    grid_->ThumbnailsBackground = classlib::clWhite;
    grid_->SoftShadow.Enabled = true;
    grid_->AppendImage();
    grid_->SetImageBitmap(0, Plain(60, 60, TPxRGB{0, 0, 255}).get());
    classlib::TBitmap first;
    grid_->PaintTo(&first);
    const RECT r = grid_->GetImageRect(0);
    // Picture and shadow share the cell: the picture is smaller than it.
    EXPECT_GT(r.left, 0);
    EXPECT_LT(r.right - r.left, 60);
    const int cx = 4 + (r.left + r.right) / 2;
    const int cy = 4 + (r.top + r.bottom) / 2;
    EXPECT_TRUE(Near(PixelAt(first, cx, cy), TPxRGB{0, 0, 255}, 12));
    // Below and right of the picture (offset 3, 3) the cell is darkened;
    // above and left of it, as far out, much less so.
    const TPxRGB shadow = PixelAt(first, 4 + r.right + 1, 4 + r.bottom + 1);
    const TPxRGB lit = PixelAt(first, 4 + r.left - 2, 4 + r.top - 2);
    EXPECT_LT(shadow.g, 200);
    EXPECT_GT(lit.g, shadow.g + 40);
    // Repaints from the display copy give the same pixels.
    ASSERT_TRUE(grid_->HasDisplayCopy(0));
    classlib::TBitmap again;
    grid_->PaintTo(&again);
    for (int yy = 0; yy < 68; yy += 3)
        for (int xx = 0; xx < 68; xx += 3)
            ASSERT_TRUE(Near(PixelAt(first, xx, yy), PixelAt(again, xx, yy), 0)) << xx << "," << yy;
}

struct ExSink : classlib::TObject {
    int calls = 0;
    void Before(classlib::TObject*, int, int, int, classlib::TBitmap*, RECT& R)
    {
        ++calls;
        R = RECT{20, 0, R.right, R.bottom};  // the picture keeps clear of the left 20 pixels
    }
};

TEST_F(GridInHost, BeforeImageDrawExNarrowsTheThumbnailAndOwnsTheSelectionMark)
{
    grid_->SetBounds(0, 0, 68, 68);
    grid_->SetScrollBars(ssNone);
    grid_->SetThumbWidth(60);
    grid_->SetThumbHeight(60);
    grid_->SetStyle(pxmsFlat);
    grid_->ThumbnailsBackground = classlib::clWhite;
    grid_->SetSelectionColor(classlib::clBlack);
    ExSink sink;
    grid_->OnBeforeImageDrawEx = TPxImageDrawEventEx(&sink, &ExSink::Before);
    grid_->AppendImage();
    grid_->SetImageBitmap(0, Plain(40, 60, TPxRGB{0, 0, 255}).get());
    classlib::TBitmap out;
    grid_->PaintTo(&out);
    EXPECT_EQ(sink.calls, 1);
    // 40 x 60 fitted into 40 x 60 at x + 20; left of it the grid draws
    // nothing (the control's background).
    EXPECT_TRUE(Near(PixelAt(out, 4 + 10, 30), PixelAt(out, 1, 1), 0));
    EXPECT_TRUE(Near(PixelAt(out, 4 + 22, 30), TPxRGB{0, 0, 255}, 1));
    EXPECT_TRUE(Near(PixelAt(out, 4 + 40, 4), TPxRGB{0, 0, 255}, 1));  // no selection frame over it
}

}  // namespace
