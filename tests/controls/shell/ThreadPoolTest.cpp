#include "controls/shell/ThreadPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

using namespace shell;

namespace {

std::atomic<int> gLiveItems{0};

// Waits (serving synchronised calls, as the main thread's loop would) until
// Pred holds or Timeout ms have passed; returns Pred's last value.
bool PumpUntil(const std::function<bool()>& Pred, DWORD Timeout = 5000)
{
    DWORD start = GetTickCount();
    while (!Pred()) {
        if (GetTickCount() - start > Timeout)
            return Pred();
        classlib::CheckSynchronize(5);
    }
    return true;
}

// A manual-reset event the blocking items wait for.
struct Gate {
    HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Gate() { CloseHandle(h); }
    void Open() { SetEvent(h); }
};

// What the items of one test did.
struct Journal {
    std::mutex lock;
    std::vector<int> order;  // ids in the order RunWork completed
    std::atomic<int> started{0};
    std::atomic<int> sawTerminate{0};
    std::vector<DWORD> doneThreads;  // threads the work-done events ran on
    std::vector<int> doneIds;

    void Ran(int id)
    {
        std::lock_guard<std::mutex> g(lock);
        order.push_back(id);
    }
    std::vector<int> Order()
    {
        std::lock_guard<std::mutex> g(lock);
        return order;
    }
};

class TestItem : public TBasicWorkItem {
public:
    enum Mode { Quick, Blocking, IgnoresTerminate, Raises };

    TestItem(int Id, Journal& J, Mode M = Quick, HANDLE GateHandle = nullptr)
        : id(Id), journal(J), mode(M), gate(GateHandle)
    {
        ++gLiveItems;
    }
    ~TestItem() override
    {
        if (onDestroy)
            onDestroy();
        --gLiveItems;
    }

    void RunWork() override
    {
        ++journal.started;
        switch (mode) {
        case Quick:
            break;
        case Blocking:
            while (!GetTerminated() && WaitForSingleObject(gate, 5) == WAIT_TIMEOUT) {
            }
            if (GetTerminated()) {
                ++journal.sawTerminate;
                return;
            }
            break;
        case IgnoresTerminate:
            WaitForSingleObject(gate, 10000);
            break;
        case Raises:
            throw std::runtime_error("work failed");
        }
        journal.Ran(id);
    }

    int id;
    Journal& journal;
    Mode mode;
    HANDLE gate;
    std::function<void()> onDestroy;
};

class TestItemB : public TestItem {
public:
    using TestItem::TestItem;
};

// Records the events of one pool.
struct Observer {
    int allWorkDone = 0;
    int allThreadsTerminated = 0;
    int threadsTerminated = 0;
    int threadsWithFatalException = 0;
    Journal* journal = nullptr;

    void AllWorkDone(classlib::TObject*) { ++allWorkDone; }
    void AllThreadsTerminated(classlib::TObject*) { ++allThreadsTerminated; }
    void ThreadTerminated(TShThread* Thread)
    {
        ++threadsTerminated;
        if (Thread->GetFatalException())
            ++threadsWithFatalException;
    }
    void ItemDone(IWorkItem* Item)
    {
        journal->doneThreads.push_back(GetCurrentThreadId());
        journal->doneIds.push_back(static_cast<TestItem*>(Item)->id);
    }

    void Attach(TWorkerThreadPool& Pool)
    {
        Pool.OnAllWorkDone = classlib::TNotifyEvent(this, &Observer::AllWorkDone);
        Pool.OnAllThreadsTerminated = classlib::TNotifyEvent(this, &Observer::AllThreadsTerminated);
        Pool.OnThreadTerminated = TShThreadEvent(this, &Observer::ThreadTerminated);
    }
    TWorkItemEvent DoneHandler() { return TWorkItemEvent(this, &Observer::ItemDone); }
};

class ThreadPoolTest : public ::testing::Test {
protected:
    void SetUp() override { gLiveItems = 0; }
    void TearDown() override { EXPECT_EQ(gLiveItems, 0) << "work items leaked"; }
};

}  // namespace

TEST_F(ThreadPoolTest, QueueRemovesMatchingItemsAndReleasesThem)
{
    Journal j;
    classlib::TObject owner1, owner2, group1, group2;
    struct Case {
        classlib::TObject* owner;
        classlib::TObject* group;
        TWorkItemClass cls;
        std::vector<int> left;  // ids still queued, oldest first
    };
    const Case cases[] = {
        {&owner1, nullptr, {}, {3, 4}},
        {nullptr, &group1, {}, {2, 4}},
        {nullptr, nullptr, TWorkItemClass::Of<TestItemB>(), {1, 3}},
        {nullptr, nullptr, TWorkItemClass::Of<TestItem>(), {}},  // derived classes match too
        {&owner2, &group2, TWorkItemClass::Of<TestItem>(), {1, 2, 3}},
        {&owner1, &group1, TWorkItemClass::Of<TestItemB>(), {1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        TWorkItemsQueue q;
        auto add = [&](TestItem* item, classlib::TObject* owner, classlib::TObject* group) {
            item->Tag = owner;
            item->GroupTag = group;
            q.Add(item);
        };
        add(new TestItem(1, j), &owner1, &group1);
        add(new TestItemB(2, j), &owner1, &group2);
        add(new TestItem(3, j), &owner2, &group1);
        add(new TestItemB(4, j), &owner2, &group2);

        EXPECT_EQ(q.RemoveMatching(c.owner, c.group, c.cls), 4 - static_cast<int>(c.left.size()));
        EXPECT_EQ(gLiveItems, static_cast<int>(c.left.size()));
        std::vector<int> left;
        while (TWorkItemPtr item = q.PopFirst())
            left.push_back(static_cast<TestItem*>(item.Get())->id);
        EXPECT_EQ(left, c.left);
        EXPECT_EQ(gLiveItems, 0);
    }

    TWorkItemsQueue q;
    for (int id = 1; id <= 3; ++id)
        q.Add(new TestItem(id, j));
    EXPECT_EQ(static_cast<TestItem*>(q.PopLast().Get())->id, 3);
    EXPECT_EQ(static_cast<TestItem*>(q.PopFirst().Get())->id, 1);
    EXPECT_EQ(q.Clear(), 1);
    EXPECT_EQ(q.Count(), 0);
    EXPECT_FALSE(q.PopFirst());
    EXPECT_FALSE(q.PopLast());
}

TEST_F(ThreadPoolTest, RunsItemsAndReportsOnTheMainThread)
{
    Journal j;
    Observer obs;
    obs.journal = &j;
    {
        TWorkerThreadPool pool(true);
        obs.Attach(pool);
        for (int id = 1; id <= 5; ++id) {
            auto* item = new TestItem(id, j);
            item->SetOnTerminate(obs.DoneHandler());
            if (id == 5)
                item->SetOnTerminate(nullptr);  // no work-done event any more
            pool.AddWorkItem(item);
        }
        ASSERT_TRUE(PumpUntil([&] { return obs.allWorkDone > 0; }));
        EXPECT_EQ(j.Order().size(), 5u);
        EXPECT_EQ(j.doneIds.size(), 4u);
        for (DWORD tid : j.doneThreads)
            EXPECT_EQ(tid, GetCurrentThreadId());
        EXPECT_EQ(pool.GetPendingCount(), 0);
        EXPECT_EQ(pool.QueueCount(), 0);
        EXPECT_GE(pool.ThreadCount(), 1);  // idle workers wait for more work

        // A second batch reports its end again, exactly once.
        pool.AddWorkItem(new TestItem(6, j));
        ASSERT_TRUE(PumpUntil([&] { return obs.allWorkDone == 2; }));
    }
    // Destruction stops the idle workers and waits until they have left.
    EXPECT_EQ(obs.allWorkDone, 2);
    EXPECT_EQ(obs.allThreadsTerminated, 1);
    EXPECT_GE(obs.threadsTerminated, 1);
}

TEST_F(ThreadPoolTest, GrowsOneWorkerPer200MsWhileTheMachineIsNotBusy)
{
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    Journal j;
    Gate gate;
    {
        TWorkerThreadPool pool(false);
        EXPECT_EQ(pool.GetMaxThreads(), static_cast<int>(info.dwNumberOfProcessors) * 3 + 2);
        pool.SetMaxThreads(3);
        pool.SetCpuLimit(1000);  // never busy
        const DWORD beforeSpawns = ::GetTickCount();
        for (int id = 1; id <= 3; ++id)
            pool.AddWorkItem(new TestItem(id, j, TestItem::Blocking, gate.h));
        // The first worker is below the minimum; the second is at the minimum
        // (only the CPU test applies); the third must wait 200 ms.
        EXPECT_EQ(pool.ThreadCount(), 2);
        ASSERT_TRUE(PumpUntil([&] { return j.started == 2; }));
        pool.AddWorkItem(new TestItem(4, j, TestItem::Blocking, gate.h));
        // Only while less than 200 ms have passed since the second worker
        // started can the pool be seen holding back; a busy machine may take
        // longer to get here, and then a third worker is rightly allowed.
        if (::GetTickCount() - beforeSpawns < 200) {
            EXPECT_EQ(pool.ThreadCount(), 2);
            EXPECT_EQ(pool.QueueCount(), 2);
        }

        Sleep(250);
        pool.AddWorkItem(new TestItem(5, j, TestItem::Blocking, gate.h));
        EXPECT_EQ(pool.ThreadCount(), 3);
        Sleep(250);
        pool.AddWorkItem(new TestItem(6, j, TestItem::Blocking, gate.h));
        EXPECT_EQ(pool.ThreadCount(), 3);  // MaxThreads

        gate.Open();
        ASSERT_TRUE(PumpUntil([&] { return j.Order().size() == 6; }));
    }
    {
        // A busy machine (CPU use never below the limit) keeps the minimum.
        TWorkerThreadPool pool(false);
        pool.SetCpuLimit(0);
        Gate gate2;
        Journal j2;
        for (int id = 1; id <= 3; ++id)
            pool.AddWorkItem(new TestItem(id, j2, TestItem::Blocking, gate2.h));
        Sleep(250);
        pool.AddWorkItem(new TestItem(4, j2, TestItem::Blocking, gate2.h));
        EXPECT_EQ(pool.ThreadCount(), 1);
        gate2.Open();
        ASSERT_TRUE(PumpUntil([&] { return j2.Order().size() == 4; }));
    }
    int usage = GetCpuUsage();
    EXPECT_GE(usage, 0);
    EXPECT_LE(usage, 100);
}

TEST_F(ThreadPoolTest, IdleWorkerEndsAndANewOneStartsForLaterWork)
{
    Journal j;
    Observer obs;
    TWorkerThreadPool pool(false);
    obs.Attach(pool);
    pool.SetIdleTimeout(50);
    pool.AddWorkItem(new TestItem(1, j));
    ASSERT_TRUE(PumpUntil([&] { return obs.allThreadsTerminated == 1; }));
    EXPECT_EQ(pool.ThreadCount(), 0);
    EXPECT_EQ(j.Order(), std::vector<int>{1});

    pool.AddWorkItem(new TestItem(2, j));
    EXPECT_EQ(pool.ThreadCount(), 1);
    ASSERT_TRUE(PumpUntil([&] { return j.Order().size() == 2; }));
}

TEST_F(ThreadPoolTest, LoweringMaxThreadsStopsTheWorkersBeyondIt)
{
    Journal j;
    Gate gate;
    TWorkerThreadPool pool(false);
    pool.SetCpuLimit(1000);
    pool.AddWorkItem(new TestItem(1, j, TestItem::Blocking, gate.h));
    pool.AddWorkItem(new TestItem(2, j, TestItem::Blocking, gate.h));
    ASSERT_EQ(pool.ThreadCount(), 2);
    gate.Open();
    ASSERT_TRUE(PumpUntil([&] { return j.Order().size() == 2; }));
    pool.SetMaxThreads(1);
    ASSERT_TRUE(PumpUntil([&] { return pool.ThreadCount() == 1; }));
    pool.AddWorkItem(new TestItem(3, j));
    ASSERT_TRUE(PumpUntil([&] { return j.Order().size() == 3; }));
    EXPECT_EQ(pool.ThreadCount(), 1);
}

TEST_F(ThreadPoolTest, TakesQueuedItemsOldestOrNewestFirst)
{
    for (bool lifo : {false, true}) {
        Journal j;
        Gate gate;
        TWorkerThreadPool pool(false);
        pool.SetMaxThreads(1);
        pool.SetLifo(lifo);
        pool.AddWorkItem(new TestItem(0, j, TestItem::Blocking, gate.h));
        ASSERT_TRUE(PumpUntil([&] { return j.started == 1; }));
        for (int id = 1; id <= 3; ++id)
            pool.AddWorkItem(new TestItem(id, j));
        gate.Open();
        ASSERT_TRUE(PumpUntil([&] { return j.Order().size() == 4; }));
        EXPECT_EQ(j.Order(), lifo ? std::vector<int>({0, 3, 2, 1}) : std::vector<int>({0, 1, 2, 3})) << lifo;
    }
}

TEST_F(ThreadPoolTest, CancelByOwnerStopsItsRunningAndQueuedItemsOnly)
{
    Journal j;
    Observer obs;
    Gate gate;
    classlib::TObject owner1, owner2;
    TWorkerThreadPool pool(false);
    obs.Attach(pool);
    pool.SetMaxThreads(1);
    auto add = [&](int id, classlib::TObject* owner, TestItem::Mode mode) {
        auto* item = new TestItem(id, j, mode, gate.h);
        item->Tag = owner;
        pool.AddWorkItem(item);
        return item;
    };
    TestItem* running = add(1, &owner1, TestItem::Blocking);
    ASSERT_TRUE(PumpUntil([&] { return j.started == 1; }));
    add(2, &owner1, TestItem::Quick);
    add(3, &owner2, TestItem::Quick);
    add(4, &owner1, TestItem::Quick);

    // Pausing reaches the running item.
    pool.SetPaused(true);
    EXPECT_TRUE(running->GetPaused());
    pool.SetPaused(false);
    EXPECT_FALSE(running->GetPaused());

    EXPECT_EQ(pool.CancelWorkItems(&owner2, nullptr, TWorkItemClass::Of<TestItemB>()), 0);
    EXPECT_EQ(pool.CancelWorkItems(&owner1, nullptr), 3);  // two queued + the running one
    EXPECT_EQ(obs.allWorkDone, 0);                          // item 3 and the running one pending
    ASSERT_TRUE(PumpUntil([&] { return obs.allWorkDone == 1; }));
    EXPECT_EQ(j.sawTerminate, 1);
    EXPECT_EQ(j.Order(), std::vector<int>{3});
    EXPECT_EQ(pool.GetPendingCount(), 0);
    EXPECT_EQ(pool.CancelWorkItems(&owner1, nullptr), 0);  // nothing pending
}

// A control cancels by its group alone: its running item stops too (each
// item is owned by an item of the control), another group's does not.
TEST_F(ThreadPoolTest, CancelByGroupReachesRunningItemsOfThatGroupOnly)
{
    Journal j;
    Gate gate;
    classlib::TObject control, other, itemA, itemB;
    TWorkerThreadPool pool(false);
    pool.SetMinThreads(2);
    pool.SetMaxThreads(2);
    auto add = [&](int id, classlib::TObject* owner, classlib::TObject* group) {
        auto* item = new TestItem(id, j, TestItem::Blocking, gate.h);
        item->Tag = owner;
        item->GroupTag = group;
        pool.AddWorkItem(item);
    };
    add(1, &itemA, &control);
    add(2, &itemB, &other);
    ASSERT_TRUE(PumpUntil([&] { return j.started == 2; }));
    EXPECT_EQ(pool.CancelWorkItems(nullptr, &control), 1);
    ASSERT_TRUE(PumpUntil([&] { return j.sawTerminate == 1; }));
    gate.Open();
    ASSERT_TRUE(PumpUntil([&] { return pool.GetPendingCount() == 0; }));
    EXPECT_EQ(j.sawTerminate, 1);
    EXPECT_EQ(j.Order(), std::vector<int>{2});
}

TEST_F(ThreadPoolTest, CancelOfQueuedWorkEndsTheBatchAtOnceAndRefusesNewItems)
{
    Journal j;
    Observer obs;
    classlib::TObject owner;
    TWorkerThreadPool pool(false);
    obs.Attach(pool);
    pool.SetPaused(true);  // the worker starts but takes nothing
    for (int id = 1; id <= 3; ++id) {
        auto* item = new TestItem(id, j);
        item->Tag = &owner;
        if (id == 2) {
            // Freed while the cancel is in progress: its replacement is refused.
            item->onDestroy = [&pool, &j] { pool.AddWorkItem(new TestItem(9, j)); };
        }
        pool.AddWorkItem(item);
    }
    Sleep(150);
    EXPECT_EQ(j.started, 0);
    EXPECT_EQ(pool.GetPendingCount(), 3);

    EXPECT_EQ(pool.CancelWorkItems(&owner, nullptr), 3);
    EXPECT_EQ(obs.allWorkDone, 1);  // on this thread, within the call
    EXPECT_EQ(pool.GetPendingCount(), 0);
    EXPECT_EQ(pool.QueueCount(), 0);
    EXPECT_EQ(gLiveItems, 0);
    EXPECT_FALSE(pool.GetCancelling());

    pool.SetPaused(false);
    pool.AddWorkItem(new TestItem(10, j));
    ASSERT_TRUE(PumpUntil([&] { return obs.allWorkDone == 2; }));
    EXPECT_EQ(j.Order(), std::vector<int>{10});
}

TEST_F(ThreadPoolTest, ItemThatRaisesEndsItsWorkerButNotTheWork)
{
    Journal j;
    Observer obs;
    obs.journal = &j;
    TWorkerThreadPool pool(false);
    obs.Attach(pool);
    pool.SetMaxThreads(1);
    auto* bad = new TestItem(1, j, TestItem::Raises);
    bad->SetOnTerminate(obs.DoneHandler());
    auto* good = new TestItem(2, j);
    good->SetOnTerminate(obs.DoneHandler());
    Gate gate;
    pool.AddWorkItem(new TestItem(0, j, TestItem::Blocking, gate.h));
    ASSERT_TRUE(PumpUntil([&] { return j.started == 1; }));
    pool.AddWorkItem(bad);
    pool.AddWorkItem(good);
    gate.Open();
    // The worker dies on item 1; a new worker (the pool is at its limit of
    // one) must still be started for item 2.
    ASSERT_TRUE(PumpUntil([&] { return obs.allWorkDone == 1; }));
    EXPECT_EQ(j.Order(), std::vector<int>({0, 2}));
    EXPECT_EQ(j.doneIds, std::vector<int>{2});
    EXPECT_EQ(obs.threadsWithFatalException, 1);
    EXPECT_EQ(pool.GetPendingCount(), 0);
}

TEST_F(ThreadPoolTest, DestructionStopsRunningItemsAndDropsQueuedOnes)
{
    Journal j;
    Observer obs;
    Gate gate;
    {
        TWorkerThreadPool pool(true);
        obs.Attach(pool);
        pool.SetMaxThreads(1);
        pool.AddWorkItem(new TestItem(1, j, TestItem::Blocking, gate.h));
        ASSERT_TRUE(PumpUntil([&] { return j.started == 1; }));
        pool.AddWorkItem(new TestItem(2, j));
        pool.AddWorkItem(new TestItem(3, j));
    }
    EXPECT_EQ(j.sawTerminate, 1);
    EXPECT_TRUE(j.Order().empty());
    EXPECT_EQ(obs.allWorkDone, 1);
    EXPECT_EQ(obs.allThreadsTerminated, 1);
}

TEST_F(ThreadPoolTest, TerminateWithoutWaitingKeepsThePendingCountRight)
{
    Journal j;
    Observer obs;
    Gate gate;
    TWorkerThreadPool pool(false);
    obs.Attach(pool);
    pool.AddWorkItem(new TestItem(1, j, TestItem::Blocking, gate.h));
    ASSERT_TRUE(PumpUntil([&] { return j.started == 1; }));
    pool.AddWorkItem(new TestItem(2, j));
    pool.TerminateAll(false);
    ASSERT_TRUE(PumpUntil([&] { return pool.ThreadCount() == 0; }));
    EXPECT_EQ(j.sawTerminate, 1);
    EXPECT_EQ(obs.allWorkDone, 1);
    EXPECT_EQ(pool.GetPendingCount(), 0);

    // The pool works on, and reports the end of the next batch.
    pool.AddWorkItem(new TestItem(3, j));
    ASSERT_TRUE(PumpUntil([&] { return obs.allWorkDone == 2; }));
    EXPECT_EQ(j.Order(), std::vector<int>{3});
}

TEST_F(ThreadPoolTest, ThreadThatIgnoresTheStopIsKilledAfterTheTimeout)
{
    Journal j;
    Observer obs;
    Gate gate;  // never opened
    DWORD elapsed;
    {
        TWorkerThreadPool pool(false);
        obs.Attach(pool);
        pool.SetHardTerminateTimeout(100);
        pool.AddWorkItem(new TestItem(1, j, TestItem::IgnoresTerminate, gate.h));
        ASSERT_TRUE(PumpUntil([&] { return j.started == 1; }));
        DWORD start = GetTickCount();
        pool.TerminateAll(true);
        elapsed = GetTickCount() - start;
        EXPECT_EQ(pool.ThreadCount(), 0);
        EXPECT_EQ(pool.GetPendingCount(), 0);
    }
    EXPECT_LT(elapsed, 2000u);
    EXPECT_EQ(obs.allWorkDone, 1);
    EXPECT_EQ(obs.allThreadsTerminated, 1);
}

namespace {

class TQuickThread : public TShThread {
protected:
    void Execute() override {}
};

}  // namespace

TEST_F(ThreadPoolTest, ThreadAddedTwiceIsAnAssertionFailure)
{
    Observer obs;
    {
        TCustomThreadPool pool;
        pool.OnAllThreadsTerminated = classlib::TNotifyEvent(&obs, &Observer::AllThreadsTerminated);
        auto* thread = new TQuickThread;
        EXPECT_EQ(thread->ThreadId, reinterpret_cast<intptr_t>(thread->GetHandle()));
        pool.AddThread(thread);
        EXPECT_EQ(thread->GetPool(), &pool);
        try {
            pool.AddThread(thread);
            ADD_FAILURE() << "no exception";
        } catch (const classlib::EAssertionFailed& e) {
            EXPECT_EQ(e.Message(), L"A thread was added a second time to the thread pool");
        }
        EXPECT_EQ(pool.ThreadCount(), 1);
        EXPECT_EQ(pool.FirstSuspended(), thread);
        EXPECT_EQ(pool.RunningCount(), 0);
    }
    // The suspended thread was started to end, reported and freed itself.
    EXPECT_EQ(obs.allThreadsTerminated, 1);
}
