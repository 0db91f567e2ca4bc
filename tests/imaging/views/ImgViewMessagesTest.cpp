// The worker-to-view window messages of an image view with a window: posted
// by hand, and posted by the I/O object's worker during an asynchronous load.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "classlib/Threads.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/views/view/ImgView.h"
#include "support/TestSupport.h"
#include "support/HostWindow.h"

using namespace imaging;

namespace {

struct Sink : classlib::TObject {
    classlib::TObject* progressSender = nullptr;
    int lastProgress = -1;
    int finishes = 0;
    int imageChanges = 0;
    DWORD imageChangeThread = 0;
    void Progress(classlib::TObject* Sender, int Per)
    {
        progressSender = Sender;
        lastProgress = Per;
    }
    void Finish(classlib::TObject*) { ++finishes; }
    void ImageChanged(classlib::TObject*)
    {
        ++imageChanges;
        imageChangeThread = GetCurrentThreadId();
    }
};

bool PumpUntil(const std::function<bool()>& Done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        testsupport::PumpMessages();
        classlib::CheckSynchronize(0);
        if (Done())
            return true;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return false;
}

class ViewInHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        host_ = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED | WS_CLIPCHILDREN, 0, 0, 200, 200, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(host_, nullptr);
        // Hidden: messages are posted and dispatched all the same.
        view_ = std::make_unique<TImgView>(nullptr);
        view_->SetParentWindow(host_);
        view_->SetOnProgress(TPxProgressEvent(&sink_, &Sink::Progress));
        view_->SetOnFinishWork(classlib::TNotifyEvent(&sink_, &Sink::Finish));
        view_->OnImageChange = classlib::TNotifyEvent(&sink_, &Sink::ImageChanged);
    }
    void TearDown() override
    {
        view_.reset();
        if (host_) {
            ShowWindow(host_, SW_HIDE);
            DestroyWindow(host_);
        }
    }
    HWND host_ = nullptr;
    std::unique_ptr<TImgView> view_;
    Sink sink_;
};

TEST_F(ViewInHost, PostedMessagesReachHandlers)
{
    ASSERT_TRUE(view_->HasParentWindow());
    HWND h = view_->GetWindowHandle();
    ASSERT_NE(h, nullptr);
    PostMessageW(h, PxMsgProgress, 42, 0);
    ASSERT_TRUE(PumpUntil([&] { return sink_.lastProgress == 42; }));
    EXPECT_EQ(sink_.progressSender, view_.get());
    PostMessageW(h, PxMsgFinishWork, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return sink_.finishes == 1; }));
    PostMessageW(h, PxMsgImageChanged, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return sink_.imageChanges == 1; }));
}

TEST_F(ViewInHost, AsynchronousLoadReportsThroughTheWindow)
{
    PxDefsInit();
    const bool had = PxFormatRegistryExists();
    if (!had)
        PxBuildFormatRegistry();
    TImgIO* io = view_->GetIO();
    io->AsyncMode = true;
    io->LoadFromFile(testsupport::FixtureDir(L"io\\jpeg") + L"\\baseline.jpg");
    ASSERT_TRUE(PumpUntil([&] { return sink_.finishes == 1; }));
    io->WaitThreads(false);
    PumpUntil([&] { return sink_.imageChanges >= 1; });
    EXPECT_FALSE(io->AbortFlag);
    EXPECT_EQ(view_->GetPxBitmap()->GetWidth(), 50);
    EXPECT_EQ(view_->GetPxBitmap()->GetHeight(), 34);
    EXPECT_EQ(sink_.lastProgress, 100);
    EXPECT_EQ(sink_.progressSender, view_.get());
    EXPECT_EQ(sink_.imageChanges, 1);
    EXPECT_EQ(sink_.imageChangeThread, GetCurrentThreadId());
    EXPECT_EQ(view_->GetLayersWidth(), 50);  // updated on the main thread
    if (!had)
        PxFreeFormatRegistry();
}

}  // namespace
