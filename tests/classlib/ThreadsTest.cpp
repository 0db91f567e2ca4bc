#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/SyncObjs.h"
#include "classlib/Threads.h"

using namespace classlib;

namespace {

// A thread whose Execute runs a function; exposes the protected services to it.
class FuncThread : public TThread {
public:
    explicit FuncThread(std::function<void(FuncThread&)> body, bool CreateSuspended = true)
        : TThread(CreateSuspended), body_(std::move(body))
    {
    }
    using TThread::Queue;
    using TThread::SetReturnValue;
    using TThread::Synchronize;

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(FuncThread&)> body_;
};

struct Recorder : TObject {
    std::vector<std::wstring> calls;
    std::vector<DWORD> threads;
    void A() { Record(L"A"); }
    void B() { Record(L"B"); }
    void Record(const std::wstring& what)
    {
        calls.push_back(what);
        threads.push_back(GetCurrentThreadId());
    }
};

TEST(Threads, SynchronizeFromSeveralWorkersIsServedByWaitFor)
{
    ASSERT_EQ(MainThreadID, GetCurrentThreadId());
    constexpr int kWorkers = 4, kCalls = 25;
    int served = 0;  // only touched on the main thread
    std::vector<DWORD> servingThreads;
    std::vector<std::unique_ptr<FuncThread>> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.push_back(std::make_unique<FuncThread>([&, w](FuncThread& self) {
            for (int i = 0; i < kCalls; ++i) {
                auto call = [&] {
                    ++served;
                    servingThreads.push_back(GetCurrentThreadId());
                };
                if (i % 2)
                    self.Synchronize(call);
                else
                    TThread::Synchronize(nullptr, call);  // the static form, no thread object
            }
            self.SetReturnValue(100 + w);
        }));
    }
    for (auto& t : workers)
        t->Start();
    // The main thread blocks in WaitFor while all four workers synchronise.
    for (int w = 0; w < kWorkers; ++w)
        EXPECT_EQ(workers[w]->WaitFor(), DWORD(100 + w));
    EXPECT_EQ(served, kWorkers * kCalls);
    for (DWORD id : servingThreads)
        ASSERT_EQ(id, GetCurrentThreadId());
    for (auto& t : workers)
        EXPECT_TRUE(t->GetFinished());
}

void CountWake(void* context, TObject* sender)
{
    auto* seen = static_cast<std::vector<TObject*>*>(context);
    seen->push_back(sender);  // the test reads it only after the worker ended
}

TEST(Threads, QueuedCallsRunOnCheckSynchronizeInOrder)
{
    Recorder rec;
    std::vector<TObject*> woken;
    SetWakeMainThread(TNotifyEvent::FromFunction(&CountWake, &woken));
    while (WaitForSingleObject(SyncEvent(), 0) == WAIT_OBJECT_0) {
    }
    FuncThread t([&](FuncThread& self) {
        self.Queue(TThreadMethod(&rec, &Recorder::A));
        self.Queue(TThreadMethod(&rec, &Recorder::B));
        self.Queue([&] { rec.Record(L"C"); });
    });
    t.Start();
    // A plain wait: nothing is served while the worker runs and ends.
    ASSERT_EQ(WaitForSingleObject(t.GetHandle(), 10000), WAIT_OBJECT_0);
    SetWakeMainThread({});
    EXPECT_TRUE(rec.calls.empty());
    EXPECT_EQ(WaitForSingleObject(SyncEvent(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(woken, (std::vector<TObject*>{&t, &t, &t}));

    TThread::RemoveQueuedEvents(&t, TThreadMethod(&rec, &Recorder::A));
    EXPECT_TRUE(CheckSynchronize());
    EXPECT_EQ(rec.calls, (std::vector<std::wstring>{L"B", L"C"}));
    for (DWORD id : rec.threads)
        EXPECT_EQ(id, GetCurrentThreadId());
    EXPECT_FALSE(CheckSynchronize());
}

TEST(Threads, DestroyedThreadLosesItsQueuedCalls)
{
    bool ran = false;
    auto t = std::make_unique<FuncThread>([&](FuncThread& self) { self.Queue([&] { ran = true; }); });
    t->Start();
    ASSERT_EQ(WaitForSingleObject(t->GetHandle(), 10000), WAIT_OBJECT_0);
    t.reset();
    EXPECT_FALSE(CheckSynchronize());
    EXPECT_FALSE(ran);
}

// Synchronises until terminated; keeps no state of its own, so it may be
// deleted while running.
class SyncLoopThread : public TThread {
public:
    SyncLoopThread() : TThread(true) {}
    static inline int served = 0;  // main thread only

protected:
    void Execute() override
    {
        while (!GetTerminated())
            Synchronize([] { ++served; });
    }
};

TEST(Threads, DeletingARunningThreadServesItsSynchronizeCalls)
{
    SyncLoopThread::served = 0;
    auto t = std::make_unique<SyncLoopThread>();
    t->Start();
    while (SyncLoopThread::served < 3)
        CheckSynchronize(1000);
    t.reset();  // Terminate + wait; the worker may be blocked in Synchronize
    EXPECT_GE(SyncLoopThread::served, 3);
}

TEST(Threads, ExceptionInExecuteIsKeptAsFatalException)
{
    FuncThread t([](FuncThread&) { throw EConvertError(L"bad value"); });
    t.Start();
    t.WaitFor();
    EXPECT_TRUE(t.GetFinished());
    ASSERT_TRUE(t.GetFatalException());
    try {
        std::rethrow_exception(t.GetFatalException());
        FAIL() << "not rethrown";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), L"bad value");
    }
}

TEST(Threads, ExceptionInSynchronizedMethodReachesTheWorker)
{
    std::wstring caught;
    DWORD raisedOn = 0, caughtOn = 0;
    bool offMainRefused = false;
    FuncThread t([&](FuncThread& self) {
        try {
            self.Synchronize([&] {
                raisedOn = GetCurrentThreadId();
                throw EInvalidOperation(L"not now");
            });
        } catch (const EInvalidOperation& e) {
            caught = e.Message();
            caughtOn = GetCurrentThreadId();
        }
        try {
            CheckSynchronize();
        } catch (const EThread&) {
            offMainRefused = true;
        }
    });
    t.Start();
    t.WaitFor();
    EXPECT_FALSE(t.GetFatalException());
    EXPECT_EQ(caught, L"not now");
    EXPECT_EQ(raisedOn, GetCurrentThreadId());
    EXPECT_EQ(caughtOn, t.GetThreadID());
    EXPECT_TRUE(offMainRefused);
}

// Reports its own destruction, so the test can see FreeOnTerminate at work.
class SelfFreeingThread : public TThread {
public:
    explicit SelfFreeingThread(bool* destroyed) : TThread(true), destroyed_(destroyed) {}
    ~SelfFreeingThread() override { *destroyed_ = true; }

protected:
    void Execute() override { SetFreeOnTerminate(true); }  // decided while running

private:
    bool* destroyed_;
};

struct TerminateWatcher : TObject {
    bool* destroyed = nullptr;
    TObject* sender = nullptr;
    DWORD ranOn = 0;
    bool objectAlive = false;
    void OnTerminate(TObject* Sender)
    {
        sender = Sender;
        ranOn = GetCurrentThreadId();
        objectAlive = !*destroyed;
    }
};

TEST(Threads, FreeOnTerminateRunsOnTerminateOnMainThreadThenFrees)
{
    bool destroyed = false;
    TerminateWatcher watcher;
    watcher.destroyed = &destroyed;
    auto* t = new SelfFreeingThread(&destroyed);
    t->OnTerminate = TNotifyEvent(&watcher, &TerminateWatcher::OnTerminate);
    t->Start();
    for (int i = 0; i < 200 && !destroyed; ++i)
        CheckSynchronize(50);
    for (int i = 0; i < 100 && !destroyed; ++i)  // the thread deletes itself just after OnTerminate
        Sleep(10);
    ASSERT_TRUE(destroyed);
    EXPECT_EQ(watcher.sender, static_cast<TObject*>(t));
    EXPECT_EQ(watcher.ranOn, GetCurrentThreadId());
    EXPECT_TRUE(watcher.objectAlive);
}

TEST(Threads, SuspendedThreadRunsOnlyWhenStarted)
{
    std::atomic<bool> ran{false};
    {
        FuncThread never([&](FuncThread&) { ran = true; });
        EXPECT_TRUE(never.GetSuspended());
    }  // destroyed without being started: Execute never runs
    EXPECT_FALSE(ran);

    FuncThread t([&](FuncThread&) { ran = true; });
    EXPECT_EQ(GetThreadId(t.GetHandle()), t.GetThreadID());  // a real system handle
    Sleep(50);
    EXPECT_FALSE(ran);
    t.Start();
    EXPECT_FALSE(t.GetSuspended());
    EXPECT_THROW(t.Start(), EThread);
    t.WaitFor();
    EXPECT_TRUE(ran);

    std::atomic<bool> autoRan{false};
    FuncThread running([&](FuncThread&) { autoRan = true; }, false);
    running.AfterConstruction();
    running.WaitFor();
    EXPECT_TRUE(autoRan);
}

TEST(Threads, TerminateAndPriority)
{
    std::atomic<int> loops{0};
    FuncThread t([&](FuncThread& self) {
        while (!self.GetTerminated()) {
            ++loops;
            Sleep(1);
        }
    });
    for (TThreadPriority p : {tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical}) {
        t.SetPriority(p);
        EXPECT_EQ(t.GetPriority(), p);
    }
    t.SetPriority(tpNormal);
    t.Start();
    while (loops == 0)
        Sleep(1);
    t.Terminate();
    t.WaitFor();
    EXPECT_TRUE(t.GetFinished());
}

TEST(SyncObjs, EventsAndCriticalSection)
{
    TSyncEvent manual(true, false);
    EXPECT_EQ(manual.WaitFor(0), wrTimeout);
    manual.SetEvent();
    EXPECT_EQ(manual.WaitFor(0), wrSignaled);
    EXPECT_EQ(manual.WaitFor(0), wrSignaled);  // stays set
    manual.ResetEvent();
    EXPECT_EQ(manual.WaitFor(0), wrTimeout);

    TSyncEvent autoReset(false, true);
    EXPECT_EQ(autoReset.WaitFor(0), wrSignaled);
    EXPECT_EQ(autoReset.WaitFor(0), wrTimeout);  // released one waiter

    TCriticalSection cs;
    std::atomic<bool> otherGotIt{true};
    {
        TCriticalSectionGuard guard(cs);
        EXPECT_TRUE(cs.TryEnter());  // recursive for the owner
        cs.Leave();
        FuncThread probe([&](FuncThread&) { otherGotIt = cs.TryEnter(); });
        probe.Start();
        probe.WaitFor();
    }
    EXPECT_FALSE(otherGotIt);
    FuncThread probe([&](FuncThread&) {
        otherGotIt = cs.TryEnter();
        if (otherGotIt)
            cs.Leave();
    });
    probe.Start();
    probe.WaitFor();
    EXPECT_TRUE(otherGotIt);
}

TEST(SyncObjs, InterlockedCountersFromSeveralThreads)
{
    int32_t count32 = 0;
    int64_t count64 = int64_t(1) << 40;
    constexpr int kThreads = 4, kRounds = 20000;
    std::vector<std::unique_ptr<FuncThread>> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.push_back(std::make_unique<FuncThread>([&](FuncThread&) {
            for (int r = 0; r < kRounds; ++r) {
                TInterlocked::Increment(count32);
                TInterlocked::Add(count64, int64_t(3));
                TInterlocked::Decrement(count64);
            }
        }));
    for (auto& t : threads)
        t->Start();
    for (auto& t : threads)
        t->WaitFor();
    EXPECT_EQ(count32, kThreads * kRounds);
    EXPECT_EQ(count64, (int64_t(1) << 40) + int64_t(2) * kThreads * kRounds);

    EXPECT_EQ(TInterlocked::Exchange(count32, 7), kThreads * kRounds);
    EXPECT_EQ(TInterlocked::CompareExchange(count32, 9, 8), 7);  // no match: unchanged
    EXPECT_EQ(count32, 7);
    EXPECT_EQ(TInterlocked::CompareExchange(count32, 9, 7), 7);
    EXPECT_EQ(count32, 9);
    int a = 0, b = 0;
    int* p = &a;
    EXPECT_EQ(TInterlocked::CompareExchange(p, &b, &a), &a);
    EXPECT_EQ(p, &b);
    EXPECT_EQ(TInterlocked::Exchange(p, static_cast<int*>(nullptr)), &b);
    EXPECT_EQ(p, nullptr);
}

}  // namespace
