// Video frames through the platform's filter graphs: the media reader of
// TImgIO and TPxDirectShow itself, on AVI files that ffmpeg wrote from
// known frames (tests/fixtures/io/video/make_video_fixtures.sh).
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <string>

#include "classlib/Streams.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ImgIOCounters.h"
#include "imaging/io/platform/ImgIOMedia.h"
#include "imaging/io/platform/PxDirectShow.h"
#include "imaging/model/PxBitmap.h"
#include "IoFixtureBytes.h"
#include "support/TestSupport.h"

using namespace imaging;

namespace {

std::wstring Video(const std::string& Name) { return iobytes::FixtureFile(L"video", Name); }

constexpr int kWidth = 16, kHeight = 8, kFrames = 6;

// The pixel the fixture script wrote at column x, row y (top row 0) of
// frame k.
TPxRGB Written(int x, int y, int k)
{
    TPxRGB c;
    c.r = static_cast<uint8_t>(15 * x + 5 * k);
    c.g = static_cast<uint8_t>(30 * y);
    c.b = static_cast<uint8_t>(250 - 40 * k);
    return c;
}

// Every pixel as the script wrote it in frame k.
void ExpectFrame(TPxBitmap& b, int k)
{
    ASSERT_EQ(b.GetPixelFormat(), px24RGB);
    ASSERT_EQ(b.GetWidth(), kWidth);
    ASSERT_EQ(b.GetHeight(), kHeight);
    for (int y = 0; y < kHeight; ++y) {
        const TPxRGB* row = reinterpret_cast<const TPxRGB*>(b.GetScanline(y));
        for (int x = 0; x < kWidth; ++x) {
            const TPxRGB e = Written(x, y, k);
            ASSERT_TRUE(row[x] == e)
                << "frame " << k << " pixel " << x << "," << y << " is " << int(row[x].r) << "," << int(row[x].g)
                << "," << int(row[x].b) << " written " << int(e.r) << "," << int(e.g) << "," << int(e.b);
        }
    }
}

// Frame count, timing and every frame by index, out of order.
TEST(MediaReader, ReadsEveryFrameByIndex)
{
    TImgIO io(nullptr);
    ASSERT_EQ(io.OpenMediaFile(Video("rgb16x8.avi")), kFrames);
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_TRUE(io.IsMediaFileOpen());
    EXPECT_EQ(io.FileParams->MediaFrameCount, kFrames);
    EXPECT_EQ(io.FileParams->Width, kWidth);
    EXPECT_EQ(io.FileParams->Height, kHeight);
    EXPECT_EQ(io.FileParams->OriginalHeight, kHeight);
    EXPECT_EQ(io.FileParams->FileFormat, 0);
    EXPECT_DOUBLE_EQ(io.MediaFrameTime, 40.0);
    for (int k : {3, 0, 5, 1, 4, 2}) {
        io.LoadMediaFrame(k);
        EXPECT_EQ(io.FileParams->ImageIndex, k);
        EXPECT_EQ(io.FileParams->MediaFrameDelay, 40);
        ExpectFrame(*io.GetCurrentBitmap(), k);
    }
    io.CloseMediaFile();
    EXPECT_FALSE(io.IsMediaFileOpen());
}

// An index outside the frames fails at once and leaves the image: the graph
// is not asked to seek where no frame comes (it would wait for one).
TEST(MediaReader, RefusesFramesPastTheEndAtOnce)
{
    TImgIO io(nullptr);
    ASSERT_EQ(io.OpenMediaFile(Video("rgb16x8.avi")), kFrames);
    io.LoadMediaFrame(2);
    ASSERT_FALSE(io.AbortFlag);
    for (int k : {kFrames, kFrames + 100, -1}) {
        SCOPED_TRACE(k);
        io.AbortFlag = false;
        const DWORD start = GetTickCount();
        io.LoadMediaFrame(k);
        EXPECT_LT(GetTickCount() - start, 1000u);
        EXPECT_TRUE(io.AbortFlag);
        EXPECT_EQ(io.FileParams->ImageIndex, 2);
        ExpectFrame(*io.GetCurrentBitmap(), 2);
    }
    io.CloseMediaFile();
}

// Seeking in media time lands on the frame that covers the time.
TEST(DirectShow, ReadsFramesByTime)
{
    TPxDirectShow ds;
    ds.FileInput = Video("rgb16x8.avi");
    ds.GrabFrames = true;
    ds.Connect();
    ASSERT_TRUE(ds.IsConnected());
    ds.Pause();
    ds.SetTimeFormat(5);
    EXPECT_EQ(ds.GetTimeFormat(), 5);
    EXPECT_EQ(ds.GetDuration(), 6 * 400000);
    EXPECT_EQ(ds.GetAverageTimePerFrame(), 400000);
    int w = 0, h = 0;
    std::wstring subtype = L"kept";
    ds.GetVideoSize(w, h, subtype);
    EXPECT_EQ(w, kWidth);
    EXPECT_EQ(h, kHeight);
    EXPECT_EQ(subtype, L"kept");  // only a capture pin names its subtype
    TPxBitmap b;
    // 0.1 s is inside frame 2 (0.08 .. 0.12 s), 0.13 s inside frame 3; 0.2 s
    // starts frame 5.
    for (auto [time, frame] : {std::pair<int64_t, int>{1000000, 2}, {2000000, 5}, {0, 0}, {1300000, 3}}) {
        ds.SetPosition(time);
        ds.GetSample(&b, true);
        ExpectFrame(b, frame);
    }
    // An unknown time format changes nothing.
    ds.SetTimeFormat(7);
    EXPECT_EQ(ds.GetTimeFormat(), 5);
    ds.Disconnect();
    EXPECT_FALSE(ds.IsConnected());
    EXPECT_EQ(ds.GetState(), 0);
    EXPECT_EQ(ds.GetDuration(), 0);
}

// Before any buffer went through the grabber the bitmap is sized but its
// pixels are left alone.
TEST(DirectShow, SampleBeforeAnyBufferLeavesPixels)
{
    TPxDirectShow ds;
    ds.FileInput = Video("rgb16x8.avi");
    ds.GrabFrames = true;
    ds.Connect();
    TPxBitmap b;
    ASSERT_TRUE(b.Allocate(kWidth, kHeight, px24RGB));
    for (int y = 0; y < kHeight; ++y)
        std::memset(b.GetScanline(y), 0x55, kWidth * 3);
    ds.GetSample(&b, true);
    ASSERT_EQ(b.GetWidth(), kWidth);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth * 3; ++x)
            ASSERT_EQ(b.GetScanline(y)[x], 0x55);
}

// The grabber posts a frame message carrying the object for the frame it
// receives (here the one a paused graph cues).
TEST(DirectShow, PostsFrameMessagesToTheNotifyWindow)
{
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    {
        TPxDirectShow ds;
        ds.SetNotifyWindow(window, PxMsgNewFrame, PxMsgGraphEvent);
        ds.FileInput = Video("rgb16x8.avi");
        ds.GrabFrames = true;
        ds.Connect();
        ds.Pause();
        MSG msg;
        bool got = false;
        const DWORD start = GetTickCount();
        while (!got && GetTickCount() - start < 20000) {
            if (PeekMessageW(&msg, window, PxMsgNewFrame, PxMsgNewFrame, PM_REMOVE)) {
                EXPECT_EQ(msg.lParam, reinterpret_cast<LPARAM>(&ds));
                got = true;
            } else {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            }
        }
        EXPECT_TRUE(got);
        ds.Disconnect();
    }
    // The graph is gone with its callback: nothing arrives any more.
    MSG msg;
    while (PeekMessageW(&msg, window, PxMsgNewFrame, PxMsgNewFrame, PM_REMOVE)) {
    }
    Sleep(100);
    EXPECT_FALSE(PeekMessageW(&msg, window, PxMsgNewFrame, PxMsgNewFrame, PM_REMOVE));
    DestroyWindow(window);
}

int ThreadsOfThisProcess()
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 t{};
    t.dwSize = sizeof t;
    int n = 0;
    for (BOOL ok = Thread32First(snap, &t); ok; ok = Thread32Next(snap, &t))
        if (t.th32OwnerProcessID == GetCurrentProcessId())
            ++n;
    CloseHandle(snap);
    return n;
}

// Every graph is released: after many opens and closes the process has no
// more threads (a graph kept alive keeps its streaming threads) and the
// object still reads frames, also after a file that cannot be opened.
TEST(DirectShow, OpenAndCloseRepeatedlyWithoutLeaks)
{
    TImgIO io(nullptr);
    ASSERT_EQ(io.OpenMediaFile(Video("rgb16x8.avi")), kFrames);
    io.LoadMediaFrame(1);
    io.CloseMediaFile();
    const int baseline = ThreadsOfThisProcess();
    ASSERT_GT(baseline, 0);
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(io.OpenMediaFile(Video("rgb16x8.avi")), kFrames);
        io.LoadMediaFrame(i % kFrames);
        io.CloseMediaFile();
    }
    // Threads end shortly after their graph: wait for that, not for a time.
    int now = ThreadsOfThisProcess();
    for (int wait = 0; now > baseline && wait < 200; ++wait) {
        Sleep(50);
        now = ThreadsOfThisProcess();
    }
    EXPECT_LE(now, baseline);

    testsupport::TempDir dir;
    for (const std::wstring& bad : {dir.File(L"missing.avi"), Video("make_video_fixtures.sh")}) {
        EXPECT_EQ(io.OpenMediaFile(bad), 0);
        EXPECT_TRUE(io.AbortFlag);
        EXPECT_TRUE(io.IsMediaFileOpen());
        io.LoadMediaFrame(0);  // nothing to read, nothing breaks
    }
    ASSERT_EQ(io.OpenMediaFile(Video("rgb16x8.avi")), kFrames);
    io.LoadMediaFrame(4);
    ExpectFrame(*io.GetCurrentBitmap(), 4);
}

// The frame counter of video files: AVI and names no registry row knows.
TEST(DirectShow, CountsFramesOfVideoFiles)
{
    PxInstallMediaFrames();
    testsupport::TempDir dir;
    classlib::TMemoryStream copy;
    copy.LoadFromFile(Video("rgb16x8.avi"));
    copy.SaveToFile(dir.File(L"clip.vid"));
    EXPECT_EQ(PxCountFileFrames(Video("rgb16x8.avi")), kFrames);
    EXPECT_EQ(PxCountFileFrames(dir.File(L"clip.vid")), kFrames);
    EXPECT_EQ(PxCountFileFrames(dir.File(L"missing.vid")), 0);
}

// No capture device exists here: selecting one fails, and a graph without
// inputs reads nothing and leaves the caller's values alone.
TEST(DirectShow, CaptureWithoutDeviceFailsCleanly)
{
    if (!PxVideoCaptureDevices().empty())
        GTEST_SKIP() << "this machine has a capture device";
    TImgIO io(nullptr);
    TPxDirectShow* capture = io.GetDirectShow();
    ASSERT_NE(capture, nullptr);
    EXPECT_EQ(io.GetDirectShow(), capture);
    EXPECT_FALSE(capture->SelectVideoCaptureDevice(0));
    EXPECT_EQ(capture->GetVideoCaptureFilter(), nullptr);
    capture->GrabFrames = true;
    capture->Connect();
    capture->Run();
    int w = 7, h = 9;
    std::wstring subtype = L"none";
    capture->GetVideoSize(w, h, subtype);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 9);
    EXPECT_EQ(subtype, L"none");
    EXPECT_EQ(capture->GetDuration(), 0);
    EXPECT_TRUE(capture->GetVideoFormats().empty());
    EXPECT_TRUE(capture->GetVideoInputs().empty());
    TPxBitmap b;
    capture->GetSample(&b, true);
    EXPECT_TRUE(b.IsEmpty());
    capture->Disconnect();
    EXPECT_FALSE(capture->IsConnected());
}

TEST(DirectShow, NamesSubtypesAndStandards)
{
    const GUID yuy2 = {0x32595559, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    const GUID rgb565 = {0xE436EB7B, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
    const GUID argb32 = {0x773C9AC0, 0x3274, 0x11D0, {0xB7, 0x24, 0x00, 0xAA, 0x00, 0x6C, 0x1A, 0x01}};
    const GUID ia44 = {0x34344149, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    const GUID unknown = {0x12345678, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    EXPECT_EQ(PxVideoSubtypeName(yuy2), L"YUY2");
    EXPECT_EQ(PxVideoSubtypeName(rgb565), L"RGB565");
    EXPECT_EQ(PxVideoSubtypeName(argb32), L"ARGB32");
    EXPECT_EQ(PxVideoSubtypeName(ia44), L"IA44");
    EXPECT_EQ(PxVideoSubtypeName(unknown), L"");
    EXPECT_EQ(PxVideoStandardNames(0), L"");
    EXPECT_EQ(PxVideoStandardNames(0x100000 | 0x10 | 0x1), L"NTSC_M PAL_B PAL_N_COMBO");
    EXPECT_EQ(PxVideoStandardNames(0x40 | 0x8), L"");  // bits without a standard
}

}  // namespace

namespace {

// The windowless renderer draws into the notify window at the video's
// native size. (Its current image, which GetSample would copy, is not
// offered by the platform here.)
TEST(DirectShow, WindowlessRendererDrawsIntoTheWindow)
{
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 64, 32, nullptr, nullptr, nullptr,
                                  nullptr);
    ASSERT_NE(window, nullptr);
    {
        TPxDirectShow ds;
        ds.SetNotifyWindow(window, PxMsgNewFrame, PxMsgGraphEvent);
        ds.FileInput = Video("rgb16x8.avi");
        ds.UseVMR = true;
        ds.Connect();
        ASSERT_TRUE(ds.RendersVideo());
        ds.Pause();
        ds.SetTimeFormat(5);
        ds.SetPosition(500000);  // inside frame 1
        int w = 0, h = 0;
        ds.GetNativeVideoSize(w, h);
        EXPECT_EQ(w, kWidth);
        EXPECT_EQ(h, kHeight);
        ds.SetVideoPosition(RECT{0, 0, kWidth, kHeight}, RECT{0, 0, 64, 32});
        HDC dc = GetDC(window);
        ds.RepaintVideo(window, dc);
        ReleaseDC(window, dc);
        EXPECT_EQ(ds.GetState(), 1);
        ds.Disconnect();
        EXPECT_FALSE(ds.RendersVideo());
    }
    DestroyWindow(window);
}

}  // namespace
