// The multi-image object's video, web and acquisition roads: every frame of
// an AVI file (ffmpeg wrote it from known frames,
// tests/fixtures/io/video/make_video_fixtures.sh), the same file as a media
// file of an unknown extension and served by a loopback HTTP server,
// acquired images, and the parameter-preview dialog reached through its
// factory (with a stand-in dialog).
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <memory>
#include <string>
#include <thread>

#include "classlib/Forms.h"
#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ImgIOPreviews.h"
#include "imaging/io/platform/WebDownload.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/views/grid/ImgMIO.h"
#include "imaging/views/grid/ImgMView.h"
#include "support/LoopbackServer.h"
#include "support/TestSupport.h"
#include "tests/imaging/views/GridTestSupport.h"

using namespace imaging;

namespace {

constexpr int kWidth = 16, kHeight = 8, kFrames = 6;

std::wstring Video() { return testsupport::FixtureDir(L"io/video") + L"\\rgb16x8.avi"; }

// The pixel the fixture script wrote at column x, row y of frame k.
TPxRGB Written(int x, int y, int k)
{
    return TPxRGB{static_cast<uint8_t>(250 - 40 * k), static_cast<uint8_t>(30 * y), static_cast<uint8_t>(15 * x + 5 * k)};
}

void ExpectFrame(TPxBitmap* b, int k)
{
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->GetWidth(), kWidth);
    ASSERT_EQ(b->GetHeight(), kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            ASSERT_EQ(b->GetPixelRGB(x, y), Written(x, y, k)) << "frame " << k << " pixel " << x << "," << y;
}

class MioVideo : public gridtest::TGridInHostTest {
protected:
    void SetUp() override
    {
        TGridInHostTest::SetUp();
        if (HasFatalFailure())
            return;
        grid_->SetParentWindow(host_);
        grid_->SetBounds(0, 0, 430, 300);
        mio_ = grid_->GetMIO();
    }
    // Every frame in order, from entry First on, as Format from FileName.
    void ExpectAllFrames(int First, int32_t Format, const std::wstring& FileName)
    {
        ASSERT_EQ(grid_->GetImageCount(), First + kFrames);
        for (int k = 0; k < kFrames; ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(grid_->GetImageDelayTime(First + k), 40);
            TIOParamsVals* p = mio_->GetParams(First + k);
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(p->FileFormat, Format);
            EXPECT_EQ(p->ImageIndex, First + k);
            EXPECT_EQ(p->FileName, FileName);
            ExpectFrame(grid_->FetchEntryImage(First + k), k);
        }
    }
    TImgMIO* mio_ = nullptr;
};

TEST_F(MioVideo, LoadsEveryFrameOfAnAvi)
{
    Finish finish;
    mio_->OnFinishWork = classlib::TNotifyEvent(&finish, &Finish::On);
    mio_->LoadFromFile(Video());
    EXPECT_FALSE(mio_->Aborting);
    EXPECT_EQ(finish.calls, 1);
    ExpectAllFrames(0, 15, Video());
    EXPECT_EQ(mio_->GetParams(2)->GIFDelayTime, 40);
    EXPECT_EQ(mio_->GetParams(2)->Width, kWidth);
}

// A name no registry row reads goes to the filter graphs; the frames are
// inserted before the selected entry.
TEST_F(MioVideo, LoadsEveryFrameOfAMediaFileBeforeTheSelection)
{
    testsupport::TempDir dir;
    classlib::TMemoryStream copy;
    copy.LoadFromFile(Video());
    const std::wstring name = dir.File(L"clip.vid");
    copy.SaveToFile(name);
    grid_->AppendImage();
    grid_->SetSelectedImage(0);
    Finish finish;
    mio_->OnFinishWork = classlib::TNotifyEvent(&finish, &Finish::On);
    mio_->LoadFromFile(name);
    EXPECT_FALSE(mio_->Aborting);
    EXPECT_EQ(finish.calls, 1);
    ASSERT_EQ(grid_->GetImageCount(), kFrames + 1);
    // The old entry moved behind the frames.
    grid_->RemoveImage(kFrames);
    ExpectAllFrames(0, 0, name);

    // A file without any video: nothing added, the load reported failed.
    const std::wstring text = dir.File(L"notes.vid");
    copy.Clear();
    copy.WriteBuffer("not a video", 11);
    copy.SaveToFile(text);
    mio_->LoadFromFile(text);
    EXPECT_TRUE(mio_->Aborting);
    EXPECT_EQ(finish.calls, 2);
    EXPECT_EQ(grid_->GetImageCount(), kFrames);
}

// ---- a loopback HTTP server (127.0.0.1, any free port), started and
// stopped by the test; it answers every request with Body.
using TServer = testsupport::TLoopbackServer;

// The content type names the extension of the temporary file; a hostile one
// cannot reach outside the temporary name.
TEST_F(MioVideo, LoadsEveryFrameOfAnAddress)
{
    classlib::TMemoryStream file;
    file.LoadFromFile(Video());
    const std::string body(static_cast<const char*>(file.GetMemory()), static_cast<size_t>(file.GetSize()));
    PxLoadWinInet();
    for (const char* type : {"video/avi", "video/..\\..\\a:v|i*"}) {
        SCOPED_TRACE(type);
        grid_->Clear();
        TServer server(body, type);
        ASSERT_TRUE(server.Ok());
        Finish finish;
        mio_->OnFinishWork = classlib::TNotifyEvent(&finish, &Finish::On);
        mio_->LoadFromFile(server.Url(L"/clip"));
        EXPECT_FALSE(mio_->Aborting);
        EXPECT_TRUE(mio_->LoadingFileName.empty());
        EXPECT_GE(finish.calls, 1);
        ASSERT_EQ(grid_->GetImageCount(), kFrames);
        for (int k = 0; k < kFrames; ++k)
            ExpectFrame(grid_->FetchEntryImage(k), k);
    }
    // Nobody listens on the port any more: the download fails and says so.
    grid_->Clear();
    std::wstring gone;
    {
        TServer server(body, "video/avi");
        gone = server.Url(L"/clip");
    }
    Finish finish;
    mio_->OnFinishWork = classlib::TNotifyEvent(&finish, &Finish::On);
    mio_->LoadFromURL(gone);
    EXPECT_TRUE(mio_->Aborting);
    EXPECT_EQ(finish.calls, 1);
    EXPECT_EQ(grid_->GetImageCount(), 0);
}

TEST(MioDownloadName, ExtensionKeepsLettersAndDigitsOnly)
{
    struct TCase {
        const wchar_t* Reported;
        const wchar_t* Ending;
    } cases[] = {
        {L"jpeg", L".jpeg"},
        {L"x-msvideo", L".xmsvideo"},
        {L"..\\..\\evil:stream", L".evilstream"},
        {L"/", L".tmp"},
        {L"", L".tmp"},
        {L"abcdefghijklmnop", L".abcdefghij"},
    };
    for (const TCase& c : cases) {
        const std::wstring name = PxDownloadTempName(c.Reported);
        const std::wstring ending = c.Ending;
        ASSERT_GE(name.size(), ending.size());
        EXPECT_EQ(name.substr(name.size() - ending.size()), ending) << "reported " << std::wstring(c.Reported);
        // Nothing of the reported text leaves the file name.
        const std::wstring file = name.substr(name.find_last_of(L'\\') + 1);
        EXPECT_EQ(file.find_first_of(L":/*?|"), std::wstring::npos) << file;
    }
}

// ---- acquisition

TEST_F(MioVideo, AcquiredImagesBecomeEntries)
{
    grid_->AppendImage();
    TPxBitmap taken;
    ASSERT_TRUE(taken.Allocate(6, 4, px24RGB));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            taken.SetPixelRGB(x, y, TPxRGB{7, static_cast<uint8_t>(y), static_cast<uint8_t>(x)});
    struct THandlers : classlib::TObject {
        bool Handle = false;
        std::vector<int> After;
        void OnAcquire(classlib::TObject*, TPxBitmap*, bool& Handled) { Handled = Handle; }
        void OnAfter(classlib::TObject*, int Index) { After.push_back(Index); }
    } h;
    mio_->OnAcquireBitmap = TPxMIOAcquireBitmapEvent(&h, &THandlers::OnAcquire);
    mio_->OnAfterAcquireBitmap = TPxAfterAcquireBitmapEvent(&h, &THandlers::OnAfter);
    mio_->AutoAdjustDPI = true;
    mio_->AcquireIndex = 5;  // clamped to the end
    TIOParamsVals* params = nullptr;
    mio_->ReceiveAcquiredBitmap(&taken, params);
    mio_->ReceiveAcquiredBitmap(&taken, params);
    EXPECT_EQ(h.After, (std::vector<int>{1, 2}));
    EXPECT_EQ(mio_->AcquireIndex, 3);
    ASSERT_EQ(grid_->GetImageCount(), 3);
    EXPECT_EQ(params, mio_->GetParams(2));
    EXPECT_EQ(grid_->GetImageDelayTime(1), 100);
    TPxBitmap* stored = grid_->FetchEntryImage(1);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->GetPixelRGB(5, 3), (TPxRGB{7, 3, 5}));
    h.Handle = true;
    mio_->ReceiveAcquiredBitmap(&taken, params);
    EXPECT_EQ(grid_->GetImageCount(), 3);
    mio_->AcquireFlag = 1;
    mio_->ClearAcquireFlag();
    EXPECT_EQ(mio_->AcquireFlag, 0);
}

// ---- the parameter-preview dialog, through a stand-in that records what
// the caller set and answers ShowModal with a chosen result.

struct TDialogLog {
    int Created = 0, Shown = 0, Released = 0;
    bool LockPreview = false, ApplyVisible = false, Simplified = false;
    int PageControlHeight = 0, FormHeight = 0;
    TIOParamsVals* Params = nullptr;
    std::wstring FileName;
    TPxBitmap* SourceWhileShown = nullptr;
    TPxBitmap* SourceAtEnd = reinterpret_cast<TPxBitmap*>(1);
    uint16_t Pages = 0;
    bool PagesAnswer = true;
    int ModalResult = classlib::mrOk;
    classlib::TForm* Form = nullptr;
};
TDialogLog* dialogLog = nullptr;

class TStandInDialog : public TPxIOPreviewsDialog {
public:
    explicit TStandInDialog(classlib::TComponent* Owner) : form_(std::make_unique<classlib::TForm>(Owner))
    {
        ++dialogLog->Created;
        dialogLog->Form = form_.get();
    }
    ~TStandInDialog() override { ++dialogLog->Released; }
    classlib::TForm* GetForm() override { return form_.get(); }
    void SetDefaultLockPreview(bool V) override { dialogLog->LockPreview = V; }
    void SetApplyButtonVisible(bool V) override { dialogLog->ApplyVisible = V; }
    void SetParams(TIOParamsVals* P, const std::wstring& F) override
    {
        dialogLog->Params = P;
        dialogLog->FileName = F;
    }
    void SetSimplified(bool V) override { dialogLog->Simplified = V; }
    void SetPageControlHeight(int V) override { dialogLog->PageControlHeight = V; }
    void SetFormHeight(int V) override { dialogLog->FormHeight = V; }
    void SetBilevelMethod(uint8_t) override {}
    void ApplyLanguage(TMsgLanguage) override {}
    void SetFont(const classlib::TFont*) override {}
    void SetSourceImage(TPxBitmap* Image) override
    {
        source_ = Image;
        dialogLog->SourceAtEnd = Image;
    }
    void ClearResult() override {}
    bool SetPages(uint16_t Pages) override
    {
        dialogLog->Pages = Pages;
        return dialogLog->PagesAnswer;
    }
    int ShowModal() override
    {
        ++dialogLog->Shown;
        dialogLog->SourceWhileShown = source_;
        return dialogLog->ModalResult;
    }

private:
    std::unique_ptr<classlib::TForm> form_;
    TPxBitmap* source_ = nullptr;
};

std::unique_ptr<TPxIOPreviewsDialog> MakeStandIn(classlib::TComponent* Owner)
{
    return std::make_unique<TStandInDialog>(Owner);
}

class Previews : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialogLog = &log;
        before_ = PxGetIOPreviewsFactory();
        PxSetIOPreviewsFactory(MakeStandIn);
    }
    void TearDown() override
    {
        PxSetIOPreviewsFactory(before_);
        dialogLog = nullptr;
    }
    TDialogLog log;
    TPxIOPreviewsFactory before_ = nullptr;
};

struct TPreviewSink : classlib::TObject {
    int Calls = 0;
    classlib::TForm* Form = nullptr;
    bool Handle = false;
    void OnPreview(classlib::TObject*, classlib::TForm* F)
    {
        ++Calls;
        Form = F;
    }
    void OnDo(classlib::TObject*, bool& Handled) { Handled = Handle; }
};

// A loaded image goes to the dialog; OnIOPreview sees the form before it is
// shown; the answer is the dialog's OK.
TEST_F(Previews, ImageObjectFillsShowsAndReleasesTheDialog)
{
    TImgIO io(nullptr);
    io.LoadFromFile(Video());  // one AVI frame as the current image
    ASSERT_FALSE(io.GetCurrentBitmap()->IsEmpty());
    io.PreviewsParams = ioppApplyButton;
    io.SimplifiedParamsDialogs = true;
    TPreviewSink sink;
    io.OnIOPreview = TPxIOPreviewEvent(&sink, &TPreviewSink::OnPreview);
    EXPECT_TRUE(io.DoPreviews(0x10));
    EXPECT_EQ(sink.Calls, 1);
    EXPECT_EQ(sink.Form, log.Form);
    EXPECT_EQ(log.Shown, 1);
    EXPECT_EQ(log.Released, 1);
    EXPECT_EQ(log.Pages, 0x10);
    EXPECT_FALSE(log.LockPreview);
    EXPECT_TRUE(log.ApplyVisible);
    EXPECT_EQ(log.Params, io.FileParams);
    EXPECT_EQ(log.FileName, Video());
    const int ppi = classlib::Screen ? classlib::Screen->GetPixelsPerInch() : 96;
    EXPECT_EQ(log.PageControlHeight, ppi * 61 / 48);
    EXPECT_EQ(log.FormHeight, ppi * 15 / 4);
    EXPECT_EQ(log.SourceWhileShown, io.GetCurrentBitmap());
    EXPECT_EQ(log.SourceAtEnd, nullptr);

    // Cancel answers false; pages the dialog refuses show nothing.
    log.ModalResult = classlib::mrCancel;
    EXPECT_FALSE(io.DoPreviews(0x10));
    log.PagesAnswer = false;
    EXPECT_FALSE(io.DoPreviews(2));
    EXPECT_EQ(log.Shown, 2);
    EXPECT_EQ(sink.Calls, 2);

    // A handler that takes the call: true, no dialog.
    sink.Handle = true;
    io.OnDoPreviews = TPxDoPreviewsEvent(&sink, &TPreviewSink::OnDo);
    const int created = log.Created;
    EXPECT_TRUE(io.DoPreviews(0x10));
    EXPECT_EQ(log.Created, created);

    // Without an image there is nothing to preview.
    sink.Handle = false;
    io.ReplaceBitmap(nullptr);
    EXPECT_FALSE(io.DoPreviews(0x10));
}

TEST_F(Previews, WithoutDialogNothingIsShown)
{
    PxSetIOPreviewsFactory(nullptr);
    TImgIO io(nullptr);
    EXPECT_FALSE(io.DoPreviews(0x10));
    EXPECT_EQ(log.Created, 0);
}

}  // namespace

namespace {

// The grid's dialog: the selected entry's image and parameters; with a
// negative index the options chosen for entry 0 go to every entry.
TEST_F(MioVideo, PreviewDialogForAnEntryAndForAll)
{
    TDialogLog log;
    dialogLog = &log;
    PxSetIOPreviewsFactory(MakeStandIn);
    mio_->LoadFromFile(Video());
    ASSERT_EQ(grid_->GetImageCount(), kFrames);
    mio_->PreviewsParams = ioppDefaultLockPreview;
    EXPECT_TRUE(mio_->DoPreviews(2, 0x10));
    EXPECT_EQ(grid_->GetSelectedImage(), 0);  // nothing was selected
    EXPECT_EQ(log.Params, mio_->GetParams(2));
    EXPECT_TRUE(log.LockPreview);
    EXPECT_TRUE(log.FileName.empty());
    ASSERT_NE(log.SourceWhileShown, nullptr);
    EXPECT_EQ(log.SourceAtEnd, nullptr);

    mio_->GetParams(0)->JPEGQuality = 33;
    EXPECT_TRUE(mio_->DoPreviews(-1, 0x10));
    EXPECT_EQ(log.Params, mio_->GetParams(0));
    for (int i = 0; i < kFrames; ++i)
        EXPECT_EQ(mio_->GetParams(i)->JPEGQuality, 33) << i;
    EXPECT_EQ(log.Shown, 2);
    EXPECT_EQ(log.Released, 2);
    PxSetIOPreviewsFactory(nullptr);
    dialogLog = nullptr;
}

}  // namespace
