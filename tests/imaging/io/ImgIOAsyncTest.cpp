// Asynchronous I/O: messages to a real hidden window, the synchronised window
// creation while the main thread waits, order of deferred operations, buffer
// ownership, failures in workers and waiting on destruction.
#include <windows.h>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "classlib/Streams.h"
#include "support/TestSupport.h"
#include "ImgIOTestSupport.h"

using namespace imaging;
using namespace imgiotest;

namespace {

// A raw image in memory.
std::vector<uint8_t> RawBytes(int w, int h)
{
    auto img = Pattern(w, h);
    TIOParamsVals p(nullptr);
    bool abort = false;
    TPxIOProgressInfo info;
    info.Aborting = &abort;
    classlib::TMemoryStream s;
    WriteRaw(&s, img.get(), p, info);
    const uint8_t* m = static_cast<const uint8_t*>(s.GetMemory());
    return std::vector<uint8_t>(m, m + s.GetSize());
}

// Ends the process when a test would hang (a deadlock is the fault under test).
class TWatchdog {
public:
    explicit TWatchdog(DWORD ms)
    {
        thread_ = std::thread([this, ms] {
            if (WaitForSingleObject(done_, ms) == WAIT_TIMEOUT) {
                fprintf(stderr, "watchdog: test hung\n");
                fflush(stderr);
                ExitProcess(3);
            }
        });
    }
    ~TWatchdog()
    {
        SetEvent(done_);
        thread_.join();
        CloseHandle(done_);
    }

private:
    HANDLE done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread thread_;
};

int Count(const std::vector<TFakeView::Msg>& m, UINT msg)
{
    int n = 0;
    for (auto& x : m)
        n += x.msg == msg ? 1 : 0;
    return n;
}

}  // namespace

TEST(ImgIOAsync, LoadAndSavePostMessagesToTheView)
{
    TWatchdog dog(30000);
    TRegistryScope reg({ffBMP});
    testsupport::TempDir dir;
    auto bytes = RawBytes(8, 6);
    {
        classlib::TFileStream f(dir.File(L"a.bmp"), classlib::fmCreate);
        f.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    }
    // The reader tells on which thread it runs and what InWorkerThread says.
    TImgIO* ioPtr = nullptr;
    std::atomic<bool> readerInWorker{false};
    std::atomic<DWORD> readerThread{0};
    reg.SetReader(ffBMP, [&](classlib::TStream* s, TPxBitmap* b, TIOParamsVals& p, bool pre,
                                        TPxIOProgressInfo& info) {
        readerInWorker = ioPtr->InWorkerThread();
        readerThread = GetCurrentThreadId();
        ReadRaw(s, b, p, pre, info);
    });

    TFakeView view;
    view.GetWindowHandle();
    TImgIO io(nullptr);
    ioPtr = &io;
    io.SetAttachedImg(&view);
    TRecorder rec;
    rec.Hook(io);
    io.AsyncMode = true;

    io.LoadFromFile(dir.File(L"a.bmp"));
    EXPECT_FALSE(io.InWorkerThread());
    ASSERT_TRUE(PumpUntil([&] { return Count(view.messages, PxMsgFinishWork) == 1; }));
    io.WaitThreads(false);
    EXPECT_TRUE(readerInWorker);
    EXPECT_NE(readerThread.load(), GetCurrentThreadId());
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(view.GetPxBitmap()->GetWidth(), 8);
    // One image change, progress ending at 100, and the finish last; the
    // handlers of the object were not called on the worker.
    EXPECT_EQ(Count(view.messages, PxMsgImageChanged), 1);
    ASSERT_GE(Count(view.messages, PxMsgProgress), 2);
    EXPECT_EQ(view.messages.back().msg, static_cast<UINT>(PxMsgFinishWork));
    const auto& beforeLast = view.messages[view.messages.size() - 2];
    EXPECT_EQ(beforeLast.msg, static_cast<UINT>(PxMsgProgress));
    EXPECT_EQ(beforeLast.wparam, 100u);
    EXPECT_EQ(rec.finishes, 0);
    EXPECT_TRUE(rec.progress.empty());
    // The view acted on its own thread.
    EXPECT_EQ(view.imageChanges, 1);
    EXPECT_EQ(view.imageChangeThread.load(), GetCurrentThreadId());

    // A save finishes the same way.
    reg.SetWriter(ffBMP, WriteRaw);
    view.messages.clear();
    io.SaveToFile(dir.File(L"b.bmp"));
    ASSERT_TRUE(PumpUntil([&] { return Count(view.messages, PxMsgFinishWork) == 1; }));
    io.WaitThreads(false);
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(Count(view.messages, PxMsgImageChanged), 0);
    classlib::TFileStream saved(dir.File(L"b.bmp"), classlib::fmOpenRead);
    EXPECT_EQ(saved.GetSize(), static_cast<int64_t>(bytes.size()));
}

// The worker needs the view's window, which only the main thread makes,
// while the main thread waits for the worker (destructor / WaitThreads).
TEST(ImgIOAsync, WindowCreationWhileMainThreadWaits)
{
    TWatchdog dog(30000);
    TRegistryScope reg({ffBMP});
    auto bytes = RawBytes(4, 4);
    TFakeView view;
    ASSERT_FALSE(view.HandleAllocated());
    {
        TImgIO io(nullptr);
        io.SetAttachedImg(&view);
        TRecorder rec;
        rec.Hook(io);
        io.AsyncMode = true;
        io.LoadFromBuffer(bytes.data(), static_cast<int64_t>(bytes.size()), ffBMP);
        // The destructor waits here without pumping anything itself.
    }
    EXPECT_TRUE(view.HandleAllocated());
    EXPECT_EQ(view.GetPxBitmap()->GetWidth(), 4);
    ASSERT_TRUE(PumpUntil([&] { return Count(view.messages, PxMsgFinishWork) == 1; }));
}

// Deferred operations of one object run one at a time, in call order; a
// buffer load reads its own copy; a raising load sets AbortFlag.
TEST(ImgIOAsync, DeferredCallsRunInOrderAndOwnTheirData)
{
    TWatchdog dog(30000);
    TRegistryScope reg({ffBMP});
    std::atomic<int> running{0}, overlap{0};
    std::vector<int> order;  // widths in the order read (one reader at a time)
    reg.SetReader(ffBMP, [&](classlib::TStream* s, TPxBitmap* b, TIOParamsVals& p, bool pre,
                                        TPxIOProgressInfo& info) {
        if (++running > 1)
            ++overlap;
        Sleep(20);
        ReadRaw(s, b, p, pre, info);
        order.push_back(b->GetWidth());
        --running;
        if (b->GetWidth() == 3)
            throw classlib::Exception(L"reader broke");
    });
    TPxBitmap target;
    TImgIO io(nullptr);
    io.SetAttachedPxBitmap(&target);
    io.AsyncMode = true;
    for (int w : {5, 6, 7}) {
        auto bytes = RawBytes(w, 2);
        io.LoadFromBuffer(bytes.data(), static_cast<int64_t>(bytes.size()), ffBMP);
        std::fill(bytes.begin(), bytes.end(), 0);  // the caller reuses its buffer at once
    }
    io.WaitThreads(false);
    EXPECT_EQ(overlap, 0);
    EXPECT_EQ(order, (std::vector<int>{5, 6, 7}));
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(target.GetWidth(), 7);

    auto broken = RawBytes(3, 2);
    io.LoadFromBuffer(broken.data(), static_cast<int64_t>(broken.size()), ffBMP);
    io.WaitThreads(false);
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_EQ(io.WorkerCount(), 0);
}

// Without a view the handlers run on the worker; an object that owns its image
// works synchronously; a view without a parent window gets no messages and
// its image-changed notification still reaches it on its own thread.
TEST(ImgIOAsync, WithoutWindowAndOwnImage)
{
    TWatchdog dog(30000);
    TRegistryScope reg({ffBMP});
    auto bytes = RawBytes(6, 3);

    TImgIO own(nullptr);
    own.AsyncMode = true;
    TRecorder rec;
    rec.Hook(own);
    own.LoadFromBuffer(bytes.data(), static_cast<int64_t>(bytes.size()), ffBMP);
    EXPECT_EQ(rec.finishes, 1);  // already done: no worker
    EXPECT_EQ(own.GetCurrentBitmap()->GetWidth(), 6);

    TFakeView view(true, false);
    TImgIO io(nullptr);
    io.SetAttachedImg(&view);
    io.AsyncMode = true;
    std::atomic<DWORD> finishThread{0};
    struct F : classlib::TObject {
        std::atomic<DWORD>* t;
        void Finish(classlib::TObject*) { *t = GetCurrentThreadId(); }
    } f;
    f.t = &finishThread;
    io.OnFinishWork = classlib::TNotifyEvent(&f, &F::Finish);
    io.LoadFromBuffer(bytes.data(), static_cast<int64_t>(bytes.size()), ffBMP);
    io.WaitThreads(false);
    EXPECT_NE(finishThread.load(), 0u);
    EXPECT_NE(finishThread.load(), GetCurrentThreadId());
    EXPECT_FALSE(view.HandleAllocated());
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(view.GetPxBitmap()->GetWidth(), 6);
    ASSERT_TRUE(PumpUntil([&] { return view.imageChanges == 1; }));
    EXPECT_EQ(view.imageChangeThread.load(), GetCurrentThreadId());

    // A worker whose call raises (the file cannot be opened) still ends with
    // the aborting flag and the finish notification.
    finishThread = 0;
    io.LoadFromFile(L"Z:\\no\\such\\folder\\missing.bmp");
    io.WaitThreads(false);
    EXPECT_TRUE(io.AbortFlag);
    EXPECT_NE(finishThread.load(), 0u);
}
