// The view and its I/O object's capture object: the frame and graph-event
// messages, and the notify window following the view's window.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

#include "imaging/io/core/ImgIO.h"
#include "imaging/io/platform/PxDirectShow.h"
#include "imaging/views/view/ImgView.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

struct TFrameSink : classlib::TObject {
    TPxDirectShow* Graph = nullptr;
    int Frames = 0, Events = 0;
    bool PostingDuringFrame = true;
    void OnFrame(classlib::TObject*)
    {
        ++Frames;
        PostingDuringFrame = Graph->NotificationsEnabled.load();
    }
    void OnEvent(classlib::TObject*) { ++Events; }
};

TEST(ViewVideo, FrameAndEventMessagesReachOnlyTheOwnConnectedCapture)
{
    HWND host = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED | WS_CLIPCHILDREN, 0, 0, 200, 200, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(host, nullptr);
    {
        TImgView view(nullptr);
        view.SetParentWindow(host);
        TImgIO* io = view.GetIO();
        TPxDirectShow* capture = io->GetDirectShow();
        const HWND window = view.GetHandle();
        EXPECT_EQ(capture->GetNotifyWindow(), window);

        TFrameSink sink;
        sink.Graph = capture;
        view.OnDShowNewFrame = classlib::TNotifyEvent(&sink, &TFrameSink::OnFrame);
        view.OnDShowEvent = classlib::TNotifyEvent(&sink, &TFrameSink::OnEvent);
        const LPARAM own = reinterpret_cast<LPARAM>(capture);

        // Not connected: nothing fires.
        SendMessageW(window, PxMsgNewFrame, 0, own);
        SendMessageW(window, PxMsgGraphEvent, 0, own);
        EXPECT_EQ(sink.Frames, 0);
        EXPECT_EQ(sink.Events, 0);

        capture->FileInput = testsupport::FixtureDir(L"io/video") + L"\\rgb16x8.avi";
        capture->GrabFrames = true;
        capture->Connect();
        ASSERT_TRUE(capture->IsConnected());
        SendMessageW(window, PxMsgNewFrame, 0, own);
        SendMessageW(window, PxMsgGraphEvent, 0, own);
        EXPECT_EQ(sink.Frames, 1);
        EXPECT_EQ(sink.Events, 1);
        // No frame messages while the handler ran; posting again afterwards.
        EXPECT_FALSE(sink.PostingDuringFrame);
        EXPECT_TRUE(capture->NotificationsEnabled);

        // Another object's pointer (or none) is never followed.
        TPxDirectShow other;
        SendMessageW(window, PxMsgNewFrame, 0, reinterpret_cast<LPARAM>(&other));
        SendMessageW(window, PxMsgGraphEvent, 0, reinterpret_cast<LPARAM>(&other));
        SendMessageW(window, PxMsgGraphEvent, 0, 0);
        EXPECT_EQ(sink.Frames, 1);
        EXPECT_EQ(sink.Events, 1);

        // The notify window follows the view's window.
        capture->SetNotifyWindow(host, PxMsgNewFrame, PxMsgGraphEvent);
        io->UpdateDShowNotifyWindow();
        EXPECT_EQ(capture->GetNotifyWindow(), window);

        // Painting with a graph that renders no video leaves it alone.
        EXPECT_FALSE(capture->RendersVideo());
        InvalidateRect(window, nullptr, FALSE);
        UpdateWindow(window);
        EXPECT_TRUE(capture->IsConnected());
        capture->Disconnect();
    }
    DestroyWindow(host);
}

}  // namespace
