// Worker thread pool for the background work of the shell controls.
//
// Work items (IWorkItem, usually a TBasicWorkItem descendant) are queued on a
// TWorkerThreadPool. The pool keeps up to MaxThreads worker threads and starts
// one only when work is waiting: below MinThreads at once; from MinThreads on
// only while the machine is not busy (GetCpuUsage below CpuLimit), and above
// MinThreads at most one per 200 ms. A worker that finds no work for
// IdleTimeout ends by itself, so an idle pool may hold no thread at all.
//
// Main thread
//   The pool is created, used and destroyed on the main thread. Work-done
//   events of items, OnAllWorkDone (after the last pending item) and the
//   removal of ended threads from the pool run on the main thread through
//   classlib::TThread::Synchronize, so the main thread must serve
//   synchronised calls (its message loop or classlib::CheckSynchronize) for
//   ended workers to leave the pool. TerminateAll and StopThread serve those
//   calls themselves while they wait.
//
// References
//   IWorkItem is reference counted. The queue and a running worker each hold
//   a reference; AddWorkItem takes its own, so an item created with no
//   reference (a fresh TBasicWorkItem) may be handed over directly and is
//   freed when the pool is done with it (also when it is refused).
//
// Cancelling and pausing are cooperative: an item asked to stop has its
// Terminate called and is expected to poll its Terminated flag (or
// WaitWhilePaused); a thread that does not end within HardTerminateTimeout
// after being told to is killed (TerminateThread), a last resort that may
// leave whatever the thread held in an undefined state.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <cstdint>
#include <typeinfo>

#include "classlib/ComObject.h"
#include "classlib/Events.h"
#include "classlib/Lists.h"
#include "classlib/Persistent.h"
#include "classlib/SyncObjs.h"
#include "classlib/Threads.h"

namespace shell {

class TCustomThreadPool;
class TWorkerThreadPool;
class TWorkItemClass;

// A unit of background work. Reference counted like a COM object (no
// interface identifier: QueryInterface answers IUnknown only). All operations
// except RunWork may be called from any thread.
struct IWorkItem : IUnknown {
    // The method to run on the main thread after RunWork (empty for none).
    virtual void GetWorkDoneEvent(classlib::TThreadMethod& Event) = 0;
    // The owner object the item works for (may be null).
    virtual classlib::TObject* GetTag() = 0;
    // The group the item belongs to (may be null).
    virtual classlib::TObject* GetGroupTag() = 0;
    // The work; runs on a worker thread.
    virtual void RunWork() = 0;
    // Asks the item to stop as soon as it can.
    virtual void Terminate() = 0;
    virtual void SetPaused(bool Value) = 0;
    // The class of the implementing object.
    virtual const std::type_info& ClassType() = 0;

protected:
    ~IWorkItem() = default;
};

// Holds one reference to a work item (AddRef on taking, Release on leaving).
class TWorkItemPtr {
public:
    TWorkItemPtr() = default;
    TWorkItemPtr(IWorkItem* Item) : item_(Item)  // NOLINT: implicit like an interface variable
    {
        if (item_)
            item_->AddRef();
    }
    TWorkItemPtr(const TWorkItemPtr& Other) : TWorkItemPtr(Other.item_) {}
    TWorkItemPtr(TWorkItemPtr&& Other) noexcept : item_(Other.item_) { Other.item_ = nullptr; }
    TWorkItemPtr& operator=(TWorkItemPtr Other) noexcept
    {
        std::swap(item_, Other.item_);
        return *this;
    }
    ~TWorkItemPtr()
    {
        if (item_)
            item_->Release();
    }
    // Takes over a reference the caller already holds.
    static TWorkItemPtr Attach(IWorkItem* Item)
    {
        TWorkItemPtr p;
        p.item_ = Item;
        return p;
    }
    IWorkItem* Get() const { return item_; }
    IWorkItem* operator->() const { return item_; }
    explicit operator bool() const { return item_ != nullptr; }

private:
    IWorkItem* item_ = nullptr;
};

// A class reference for work items: names a class and tells whether an item's
// implementing object is of that class or of a class derived from it. The
// default value names no class (matches everything where "no class" is
// allowed).
class TWorkItemClass {
public:
    TWorkItemClass() = default;
    template <class T>
    static TWorkItemClass Of()
    {
        TWorkItemClass c;
        c.type_ = &typeid(T);
        c.test_ = [](IWorkItem* Item) { return dynamic_cast<T*>(Item) != nullptr; };
        return c;
    }
    explicit operator bool() const { return type_ != nullptr; }
    const std::type_info& Type() const { return *type_; }
    // True when Item's object is of this class or inherits from it.
    bool InheritedBy(IWorkItem* Item) const { return test_ && Item && test_(Item); }

private:
    const std::type_info* type_ = nullptr;
    bool (*test_)(IWorkItem*) = nullptr;
};

// A thread that frees itself when it ends and reports its end to its pool.
class TShThread : public classlib::TThread {
public:
    // Created suspended, free-on-terminate; ThreadId becomes the thread's
    // handle.
    TShThread();
    // Created suspended, free-on-terminate, with the given ThreadId.
    explicit TShThread(intptr_t AThreadId);
    std::wstring ClassName() const override { return L"TShThread"; }

    virtual void SetPaused(bool Value);
    bool GetPaused() const { return paused_; }
    // While paused and not terminated, sleeps in 100 ms steps; returns whether
    // the thread is terminated.
    bool WaitWhilePaused();

    bool GetIsFinished() const { return isFinished_; }
    TCustomThreadPool* GetPool() const { return pool_; }

    // -1, or the thread handle for the parameterless constructor.
    intptr_t ThreadId = -1;
    bool BackgroundMode = false;

protected:
    // Marks the thread finished, runs the inherited end step and then tells
    // the pool (on the main thread) that the thread has ended.
    void DoTerminate() override;
    virtual void NotifyPoolTerminated();

private:
    friend class TCustomThreadPool;
    std::atomic<bool> isFinished_{false};  // set when the thread body has ended
    std::atomic<bool> paused_{false};
    TCustomThreadPool* pool_ = nullptr;
};

using TShThreadEvent = classlib::TEvent<void(TShThread* Thread)>;

// A list of threads (not owned: they free themselves) with the operations to
// stop them. Guarded by its Lock; see the header comment for the threads the
// operations belong to.
class TCustomThreadPool : public classlib::TObjectList {
public:
    TCustomThreadPool();
    // Terminates and waits for every thread (TerminateAll(true)). A derived
    // class whose TerminateAll override must run calls it in its own
    // destructor.
    ~TCustomThreadPool() override;
    std::wstring ClassName() const override { return L"TCustomThreadPool"; }

    // Adds a thread: it belongs to this pool from now on. Adding a thread a
    // second time raises EAssertionFailed.
    virtual void AddThread(TShThread* Thread);
    // Removes a finished thread from the list; stops a running one
    // (StopThread).
    virtual void RemoveThread(TShThread* Thread);
    // Tells every thread to end; with Wait, returns when no thread is left in
    // the pool (threads that do not end in time are killed).
    virtual void TerminateAll(bool Wait);

    // Called (on the main thread) by a thread whose body has ended.
    void ThreadTerminated(TShThread* Thread);
    // Tells Thread to end and waits until it has left the pool; kills it after
    // HardTerminateTimeout.
    void StopThread(TShThread* Thread);

    int RunningCount();
    TShThread* FirstSuspended();
    bool ResumeOne();
    bool Contains(TShThread* Thread);
    TShThread* GetThread(int Index) const { return static_cast<TShThread*>(GetItem(Index)); }
    // The number of threads, read under Lock.
    int ThreadCount();

    int GetMaxThreads() const { return maxThreads_; }
    void SetMaxThreads(int Value);
    bool GetPaused() const { return paused_; }
    // Stores the value and passes it to every thread (also to threads added
    // later).
    void SetPaused(bool Value);
    classlib::TThreadPriority GetPriority() const { return priority_; }
    void SetPriority(classlib::TThreadPriority Value) { priority_ = Value; }
    DWORD GetHardTerminateTimeout() const { return hardTerminateTimeout_; }
    void SetHardTerminateTimeout(DWORD Value) { hardTerminateTimeout_ = Value; }
    bool GetStopping() const { return stopping_; }
    // The last thread that reported its end; for comparison only (the thread
    // has usually freed itself since).
    TShThread* GetLastTerminatedThread() const { return lastTerminatedThread_; }

    classlib::TCriticalSection& Lock() { return lock_; }

    TShThreadEvent OnThreadTerminated;
    classlib::TNotifyEvent OnAllThreadsTerminated;

protected:
    void Notify(void* Ptr, classlib::TListNotification Action) override;
    // Runs pending synchronised calls when called on the main thread.
    static void ServeSynchronized();

    std::atomic<bool> stopping_{false};

private:
    void AllThreadsLeft();
    void WaitUntilGone(TShThread* Thread);

    std::atomic<int> maxThreads_;
    std::atomic<bool> paused_{false};
    std::atomic<classlib::TThreadPriority> priority_{classlib::tpNormal};
    std::atomic<DWORD> hardTerminateTimeout_{3000};
    classlib::TCriticalSection lock_;
    TShThread* lastTerminatedThread_ = nullptr;
};

// A pool thread that takes work items from its TWorkerThreadPool and runs
// them until it is told to stop or finds no work for the pool's IdleTimeout.
class TWorkerThread : public TShThread {
public:
    explicit TWorkerThread(bool AInitCom);
    // Only a killed worker still holds an item here; it is released and
    // counted as done.
    ~TWorkerThread() override;
    std::wstring ClassName() const override { return L"TWorkerThread"; }

    // Marks the thread terminated and asks its current item to stop.
    void StopWorker();
    // Asks the current item to stop when it matches (null Owner or Group /
    // empty ItemClass match any; the class must be the item's exact class). Returns
    // whether an item was asked. Resumes a suspended worker in every case.
    bool CancelCurrent(classlib::TObject* Owner, classlib::TObject* Group, const TWorkItemClass& ItemClass);
    void SetPaused(bool Value) override;
    // The item being run (null when idle), with a reference for the caller.
    TWorkItemPtr GetCurrentItem();

protected:
    void Execute() override;

private:
    TWorkerThreadPool* WorkerPool() const;

    friend class TWorkerThreadPool;  // makes an item current as it takes it
    TWorkItemPtr currentItem_;  // guarded by the pool's Lock
    bool initCom_;
};

// Queued work items, oldest first. Every operation takes the list's lock.
class TWorkItemsQueue : public classlib::TObject {
public:
    TWorkItemsQueue() = default;
    std::wstring ClassName() const override { return L"TWorkItemsQueue"; }

    void Add(IWorkItem* Item);
    int Count();
    // Remove and return the oldest / newest item; empty when none.
    TWorkItemPtr PopFirst();
    TWorkItemPtr PopLast();
    // Removes every item; returns how many.
    int Clear();
    // Removes the items whose tag is Owner (when given), whose group is Group
    // (when given) and whose class is or inherits from ItemClass (when given);
    // returns how many.
    int RemoveMatching(classlib::TObject* Owner, classlib::TObject* Group, const TWorkItemClass& ItemClass);

private:
    classlib::TInterfaceList list_;
};

// The pool of worker threads that runs queued work items.
class TWorkerThreadPool : public TCustomThreadPool {
public:
    // AInitCom: workers initialise COM (single-threaded apartment).
    explicit TWorkerThreadPool(bool AInitCom);
    ~TWorkerThreadPool() override;
    std::wstring ClassName() const override { return L"TWorkerThreadPool"; }

    // Queues Item and makes sure a worker will run it. Refused (and released)
    // while a cancel is in progress.
    void AddWorkItem(IWorkItem* Item);
    // Starts a worker when the rules allow it (see the header comment).
    void EnsureWorkers();
    int QueueCount() { return queue_.Count(); }
    // Removes the matching queued items (any of Owner/Group/ItemClass may be
    // empty; all empty removes everything) and asks the matching running
    // items to stop (matched the same way, the class exactly). Returns the
    // number removed plus the number asked.
    virtual int CancelWorkItems(classlib::TObject* Owner, classlib::TObject* Group,
                                const TWorkItemClass& ItemClass = {});

    void RemoveThread(TShThread* Thread) override;
    void TerminateAll(bool Wait) override;

    // Fires OnAllWorkDone and clears Stopping.
    void DoAllWorkDone();
    // The next item for Worker, waiting up to IdleTimeout for one; empty when
    // the worker is terminated or has been idle too long (then it is told to
    // stop).
    TWorkItemPtr GetWorkItem(TWorkerThread* Worker);

    int32_t GetPendingCount() const { return std::atomic_ref<const int32_t>(pendingCount_).load(); }
    int GetMinThreads() const { return minThreads_; }
    void SetMinThreads(int Value) { minThreads_ = Value; }
    bool GetLifo() const { return lifo_; }
    void SetLifo(bool Value) { lifo_ = Value; }
    DWORD GetIdleTimeout() const { return idleTimeout_; }
    void SetIdleTimeout(DWORD Value) { idleTimeout_ = Value; }
    int GetCpuLimit() const { return cpuLimit_; }
    void SetCpuLimit(int Value) { cpuLimit_ = Value; }
    bool GetCancelling() const { return cancelling_; }
    bool GetInitCom() const { return initCom_; }

    classlib::TNotifyEvent OnAllWorkDone;

protected:
    void Notify(void* Ptr, classlib::TListNotification Action) override;

private:
    friend class TWorkerThread;
    // A worker is done with one item (finished, raised or killed).
    void ItemDone(TWorkerThread* Worker);

    std::atomic<int> minThreads_{1};
    std::atomic<bool> lifo_{false};
    TWorkItemsQueue queue_;
    std::atomic<DWORD> idleTimeout_{60000};
    std::atomic<bool> cancelling_{false};
    std::atomic<bool> terminating_{false};  // set during TerminateAll
    int32_t pendingCount_ = 0;  // interlocked only
    DWORD lastSpawnTick_ = 0;   // guarded by Lock
    bool initCom_;
    std::atomic<int> cpuLimit_{80};
    classlib::TSyncEvent workEvent_{false, false};
};

using TWorkItemEvent = classlib::TEvent<void(IWorkItem* Item)>;

// A reference-counted work item with the flags and tags the pool uses.
// Descendants implement RunWork (polling GetTerminated / WaitWhilePaused).
// Starts with no reference; freed when the last reference is released.
class TBasicWorkItem : public classlib::TComObject<IWorkItem> {
public:
    TBasicWorkItem() : TComObject(0) {}
    ~TBasicWorkItem() override = default;

    void GetWorkDoneEvent(classlib::TThreadMethod& Event) override { Event = WorkDoneEvent; }
    classlib::TObject* GetTag() override { return Tag; }
    classlib::TObject* GetGroupTag() override { return GroupTag; }
    void Terminate() override { terminated_ = true; }
    void SetPaused(bool Value) override { paused_ = Value; }
    const std::type_info& ClassType() override { return typeid(*this); }

    bool GetTerminated() const { return terminated_; }
    bool GetPaused() const { return paused_; }
    // While paused and not terminated, sleeps in 100 ms steps; returns
    // whether the item is terminated.
    bool WaitWhilePaused();
    // Stores Handler; when assigned, the work-done event fires it with this
    // item on the main thread after RunWork; when empty, there is no
    // work-done event.
    void SetOnTerminate(const TWorkItemEvent& Handler);
    const TWorkItemEvent& GetOnTerminate() const { return onTerminate_; }

    // Run on the main thread after RunWork (empty for none).
    classlib::TThreadMethod WorkDoneEvent;
    classlib::TObject* Tag = nullptr;
    classlib::TObject* GroupTag = nullptr;

private:
    void FireOnTerminate();

    std::atomic<bool> paused_{false};
    std::atomic<bool> terminated_{false};
    TWorkItemEvent onTerminate_;
};

// The machine's CPU use in percent (0..100), measured at most every 200 ms
// and cached in between; 0 when it cannot be measured.
int GetCpuUsage();

}  // namespace shell
