#include "controls/shell/ThreadPool.h"

#include <objbase.h>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "classlib/Exceptions.h"
#include "classlib/ScopeGuard.h"
#include "classlib/SysUtils.h"

namespace shell {

using classlib::TCriticalSectionGuard;
using classlib::TInterlocked;
using classlib::TThread;
using classlib::TThreadMethod;

namespace {

bool OnMainThread() { return GetCurrentThreadId() == classlib::MainThreadID; }

// Holds an interface list locked for its lifetime.
class TInterfaceListLock {
public:
    explicit TInterfaceListLock(classlib::TInterfaceList& List) : list_(List) { list_.Lock(); }
    ~TInterfaceListLock() { list_.Unlock(); }
    TInterfaceListLock(const TInterfaceListLock&) = delete;
    TInterfaceListLock& operator=(const TInterfaceListLock&) = delete;

private:
    classlib::TInterfaceList& list_;
};

}  // namespace

// ---------------------------------------------------------------------------
// TShThread

TShThread::TShThread() : TShThread(-1) { ThreadId = reinterpret_cast<intptr_t>(GetHandle()); }

TShThread::TShThread(intptr_t AThreadId) : TThread(true), ThreadId(AThreadId) { SetFreeOnTerminate(true); }

void TShThread::SetPaused(bool Value) { paused_ = Value; }

bool TShThread::WaitWhilePaused()
{
    while (paused_ && !GetTerminated())
        Sleep(100);
    return GetTerminated();
}

void TShThread::DoTerminate()
{
    isFinished_ = true;
    TThread::DoTerminate();
    if (pool_)
        Synchronize(TThreadMethod(this, &TShThread::NotifyPoolTerminated));
}

void TShThread::NotifyPoolTerminated() { pool_->ThreadTerminated(this); }

// ---------------------------------------------------------------------------
// TCustomThreadPool

TCustomThreadPool::TCustomThreadPool() : classlib::TObjectList(false)
{
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    maxThreads_ = static_cast<int>(info.dwNumberOfProcessors) * 3 + 2;
}

TCustomThreadPool::~TCustomThreadPool() { TerminateAll(true); }

void TCustomThreadPool::ServeSynchronized()
{
    if (!OnMainThread())
        return;
    try {
        classlib::CheckSynchronize();
    } catch (...) {
        // A queued call of someone else raised; a wait for threads cannot
        // report it to anyone meaningful, and must go on serving.
    }
}

void TCustomThreadPool::AddThread(TShThread* Thread)
{
    TCriticalSectionGuard guard(lock_);
    if (IndexOf(Thread) >= 0)
        throw classlib::EAssertionFailed(L"A thread was added a second time to the thread pool");
    Add(Thread);
}

void TCustomThreadPool::Notify(void* Ptr, classlib::TListNotification Action)
{
    TObjectList::Notify(Ptr, Action);
    if (Action == classlib::lnAdded) {
        auto* thread = static_cast<TShThread*>(static_cast<classlib::TObject*>(Ptr));
        thread->pool_ = this;
        thread->SetPriority(priority_);
        if (paused_)
            thread->SetPaused(true);
    } else if (GetCount() == 0) {
        AllThreadsLeft();
    }
}

void TCustomThreadPool::AllThreadsLeft()
{
    stopping_ = false;
    if (!OnAllThreadsTerminated)
        return;
    if (OnMainThread())
        OnAllThreadsTerminated(this);
    else
        TThread::Synchronize(nullptr, [this] { OnAllThreadsTerminated(this); });
}

void TCustomThreadPool::RemoveThread(TShThread* Thread)
{
    if (Thread->GetIsFinished()) {
        TCriticalSectionGuard guard(lock_);
        Remove(Thread);
    } else {
        StopThread(Thread);
    }
}

void TCustomThreadPool::ThreadTerminated(TShThread* Thread)
{
    lastTerminatedThread_ = Thread;
    OnThreadTerminated(Thread);
    RemoveThread(Thread);
}

void TCustomThreadPool::StopThread(TShThread* Thread)
{
    stopping_ = true;
    if (!Thread)
        return;
    bool finished;
    {
        // While the thread is in the list it cannot free itself (its removal
        // needs the lock), so it may be touched only under the lock.
        TCriticalSectionGuard guard(lock_);
        if (IndexOf(Thread) < 0)
            return;
        finished = Thread->GetIsFinished();
        if (!finished) {
            Thread->Terminate();
            if (Thread->GetSuspended())
                Thread->Resume();
        }
    }
    if (finished && !OnMainThread()) {
        // Only the main thread can let a finished thread report its end.
        return;
    }
    WaitUntilGone(Thread);
}

void TCustomThreadPool::WaitUntilGone(TShThread* Thread)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < hardTerminateTimeout_) {
        if (!Contains(Thread))
            return;
        Sleep(5);
        ServeSynchronized();
    }
    TCriticalSectionGuard guard(lock_);
    if (IndexOf(Thread) < 0)
        return;
    TerminateThread(Thread->GetHandle(), 0);
    Remove(Thread);
    try {
        delete Thread;
    } catch (...) {
    }
}

int TCustomThreadPool::RunningCount()
{
    TCriticalSectionGuard guard(lock_);
    try {
        int n = 0;
        for (int i = 0; i < GetCount(); ++i) {
            TShThread* t = GetThread(i);
            if (!t->GetSuspended() && !t->GetIsFinished())
                ++n;
        }
        return n;
    } catch (...) {
        return std::min(maxThreads_ - 1, GetCount() - 1);
    }
}

TShThread* TCustomThreadPool::FirstSuspended()
{
    TCriticalSectionGuard guard(lock_);
    for (int i = 0; i < GetCount(); ++i)
        if (GetThread(i)->GetSuspended())
            return GetThread(i);
    return nullptr;
}

bool TCustomThreadPool::ResumeOne()
{
    TCriticalSectionGuard guard(lock_);
    TShThread* t = FirstSuspended();
    if (!t)
        return false;
    t->Resume();
    return true;
}

bool TCustomThreadPool::Contains(TShThread* Thread)
{
    TCriticalSectionGuard guard(lock_);
    return IndexOf(Thread) >= 0;
}

int TCustomThreadPool::ThreadCount()
{
    TCriticalSectionGuard guard(lock_);
    return GetCount();
}

void TCustomThreadPool::SetPaused(bool Value)
{
    TCriticalSectionGuard guard(lock_);
    paused_ = Value;
    for (int i = 0; i < GetCount(); ++i)
        GetThread(i)->SetPaused(Value);
}

void TCustomThreadPool::TerminateAll(bool Wait)
{
    if (ThreadCount() == 0)
        return;
    stopping_ = true;
    {
        TCriticalSectionGuard guard(lock_);
        for (int i = GetCount() - 1; i >= 0; --i) {
            TShThread* t = GetThread(i);
            if (auto* worker = dynamic_cast<TWorkerThread*>(t))
                worker->StopWorker();
            else
                t->Terminate();
            if (t->GetSuspended())
                t->Resume();
        }
    }
    if (Wait) {
        Sleep(20);
        ServeSynchronized();
        if (OnMainThread()) {
            // Also wait for finished threads whose removal is still pending:
            // they call back into this pool, which must outlive them.
            for (;;) {
                TShThread* next = nullptr;
                {
                    TCriticalSectionGuard guard(lock_);
                    if (GetCount() == 0)
                        break;
                    for (int i = 0; i < GetCount() && !next; ++i)
                        if (!GetThread(i)->GetIsFinished())
                            next = GetThread(i);
                    if (!next)
                        next = GetThread(0);
                }
                StopThread(next);
            }
        } else {
            while (RunningCount() > 0 || FirstSuspended()) {
                TShThread* first = nullptr;
                {
                    TCriticalSectionGuard guard(lock_);
                    if (GetCount() > 0)
                        first = GetThread(0);
                }
                if (!first)
                    break;
                StopThread(first);
            }
        }
    }
    Sleep(1);
    ServeSynchronized();
}

void TCustomThreadPool::SetMaxThreads(int Value)
{
    if (Value == maxThreads_)
        return;
    maxThreads_ = Value;
    {
        TCriticalSectionGuard guard(lock_);
        int running = 0;
        for (int i = 0; i < GetCount(); ++i) {
            TShThread* t = GetThread(i);
            if (!t->GetSuspended() && ++running > Value)
                t->Terminate();
        }
    }
    while (RunningCount() < Value)
        if (!ResumeOne())
            break;
}

// ---------------------------------------------------------------------------
// TWorkerThread

TWorkerThread::TWorkerThread(bool AInitCom) : initCom_(AInitCom) {}

TWorkerThread::~TWorkerThread()
{
    // A worker that ended normally cleared its item itself; only one killed
    // while running still holds it (its killer holds the pool's lock).
    if (currentItem_) {
        currentItem_ = TWorkItemPtr();
        if (TWorkerThreadPool* pool = WorkerPool())
            pool->ItemDone(this);
    }
}

TWorkerThreadPool* TWorkerThread::WorkerPool() const { return dynamic_cast<TWorkerThreadPool*>(GetPool()); }

TWorkItemPtr TWorkerThread::GetCurrentItem()
{
    if (TCustomThreadPool* pool = GetPool()) {
        TCriticalSectionGuard guard(pool->Lock());
        return currentItem_;
    }
    return currentItem_;
}

void TWorkerThread::StopWorker()
{
    Terminate();
    CancelCurrent(nullptr, nullptr, {});
}

bool TWorkerThread::CancelCurrent(classlib::TObject* Owner, classlib::TObject* Group, const TWorkItemClass& ItemClass)
{
    bool result = false;
    TWorkItemPtr item = GetCurrentItem();
    if (item && (!Owner || item->GetTag() == Owner) && (!Group || item->GetGroupTag() == Group) &&
        (!ItemClass || item->ClassType() == ItemClass.Type())) {
        item->Terminate();
        result = true;
    }
    if (GetSuspended())
        Resume();
    return result;
}

void TWorkerThread::SetPaused(bool Value)
{
    TShThread::SetPaused(Value);
    if (TWorkItemPtr item = GetCurrentItem())
        item->SetPaused(Value);
}

void TWorkerThread::Execute()
{
    if (WaitWhilePaused())
        return;
    TWorkerThreadPool* pool = WorkerPool();
    if (!pool)
        return;
    if (initCom_) {
        HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        if (hr != S_OK && hr != S_FALSE)
            return;
    }
    struct ComScope {
        bool on;
        ~ComScope()
        {
            if (on)
                CoUninitialize();
        }
    } comScope{initCom_};

    while (!WaitWhilePaused()) {
        // GetWorkItem has made the item current under the pool's lock (a
        // cancel sees it either queued or current, never in between).
        TWorkItemPtr next = pool->GetWorkItem(this);
        if (!next)
            continue;
        // The worker's only reference to the item is CurrentItem, so that a
        // worker killed while running still lets its destructor release it.
        IWorkItem* item = next.Get();
        next = TWorkItemPtr();
        // Runs whether the item finished or raised.
        auto finish = [&] {
            TWorkItemPtr done;
            {
                TCriticalSectionGuard guard(pool->Lock());
                done = std::move(currentItem_);
            }
            done = TWorkItemPtr();  // released before the batch may be reported done
            pool->ItemDone(this);
        };
        try {
            item->RunWork();
            TThreadMethod done;
            item->GetWorkDoneEvent(done);
            if (done)
                Synchronize(done);
        } catch (...) {
            finish();
            throw;  // ends this worker (kept as its fatal exception)
        }
        finish();
    }
}

// ---------------------------------------------------------------------------
// TWorkItemsQueue

void TWorkItemsQueue::Add(IWorkItem* Item) { list_.Add(Item); }

int TWorkItemsQueue::Count() { return list_.GetCount(); }

TWorkItemPtr TWorkItemsQueue::PopFirst()
{
    TInterfaceListLock lock(list_);
    if (list_.GetCount() == 0)
        return {};
    TWorkItemPtr item(static_cast<IWorkItem*>(list_.GetItem(0)));
    list_.Delete(0);
    return item;
}

TWorkItemPtr TWorkItemsQueue::PopLast()
{
    TInterfaceListLock lock(list_);
    int n = list_.GetCount();
    if (n == 0)
        return {};
    TWorkItemPtr item(static_cast<IWorkItem*>(list_.GetItem(n - 1)));
    list_.Delete(n - 1);
    return item;
}

int TWorkItemsQueue::Clear()
{
    TInterfaceListLock lock(list_);
    int n = list_.GetCount();
    list_.Clear();
    return n;
}

int TWorkItemsQueue::RemoveMatching(classlib::TObject* Owner, classlib::TObject* Group,
                                    const TWorkItemClass& ItemClass)
{
    TInterfaceListLock lock(list_);
    int removed = 0;
    for (int i = list_.GetCount() - 1; i >= 0; --i) {
        auto* item = static_cast<IWorkItem*>(list_.GetItem(i));
        if (Owner && item->GetTag() != Owner)
            continue;
        if (Group && item->GetGroupTag() != Group)
            continue;
        if (ItemClass && !ItemClass.InheritedBy(item))
            continue;
        list_.Delete(i);
        ++removed;
    }
    return removed;
}

// ---------------------------------------------------------------------------
// TWorkerThreadPool

TWorkerThreadPool::TWorkerThreadPool(bool AInitCom) : initCom_(AInitCom) {}

TWorkerThreadPool::~TWorkerThreadPool() { TerminateAll(true); }

void TWorkerThreadPool::Notify(void* Ptr, classlib::TListNotification Action)
{
    TCustomThreadPool::Notify(Ptr, Action);
    if (Action == classlib::lnAdded) {
        auto* thread = static_cast<TShThread*>(static_cast<classlib::TObject*>(Ptr));
        if (thread->GetSuspended())
            thread->Resume();
    }
}

void TWorkerThreadPool::AddWorkItem(IWorkItem* Item)
{
    TWorkItemPtr hold(Item);  // frees an unreferenced item that is refused
    if (!Item || cancelling_)
        return;
    TInterlocked::Increment(pendingCount_);
    queue_.Add(Item);
    workEvent_.SetEvent();
    EnsureWorkers();
}

void TWorkerThreadPool::EnsureWorkers()
{
    TCriticalSectionGuard guard(Lock());
    // No worker is started while all are being stopped: one reporting its
    // end early would otherwise be replaced by a fresh one for work that is
    // about to be cancelled.
    if (terminating_)
        return;
    int count = GetCount();
    if (count >= GetMaxThreads())
        return;
    if (GetTickCount() - lastSpawnTick_ < 200 && count > minThreads_)
        return;
    if (queue_.Count() == 0)
        return;
    if (count < minThreads_ || GetCpuUsage() < cpuLimit_)
        AddThread(new TWorkerThread(initCom_));
    lastSpawnTick_ = GetTickCount();
    stopping_ = false;
}

TWorkItemPtr TWorkerThreadPool::GetWorkItem(TWorkerThread* Worker)
{
    if (Worker->GetTerminated())
        return {};
    auto take = [this, Worker] {
        TCriticalSectionGuard guard(Lock());
        TWorkItemPtr taken = lifo_ ? queue_.PopLast() : queue_.PopFirst();
        if (taken)
            Worker->currentItem_ = taken;
        return taken;
    };
    TWorkItemPtr item = take();
    DWORD start = GetTickCount();
    while (!item) {
        DWORD now = GetTickCount();
        if (now < start || now - start > idleTimeout_) {
            Worker->StopWorker();
            return {};
        }
        classlib::TWaitResult r = workEvent_.WaitFor(500);
        if (r == classlib::wrAbandoned || r == classlib::wrError)
            return {};
        if (Worker->GetTerminated()) {
            // The event releases one waiter at a time: pass the wake-up on so
            // that every idle worker told to stop notices it at once.
            workEvent_.SetEvent();
            return {};
        }
        item = take();
    }
    try {
        EnsureWorkers();
    } catch (...) {
        // A worker that cannot be started must not cost the item just taken;
        // the next decision tries again.
    }
    return item;
}

void TWorkerThreadPool::ItemDone(TWorkerThread* Worker)
{
    if (TInterlocked::Decrement(pendingCount_) == 0)
        TThread::Synchronize(Worker, TThreadMethod(this, &TWorkerThreadPool::DoAllWorkDone));
}

void TWorkerThreadPool::DoAllWorkDone()
{
    OnAllWorkDone(this);
    stopping_ = false;
}

int TWorkerThreadPool::CancelWorkItems(classlib::TObject* Owner, classlib::TObject* Group,
                                       const TWorkItemClass& ItemClass)
{
    if (GetPendingCount() == 0)
        return 0;
    cancelling_ = true;
    classlib::TOnExit reset([this] { cancelling_ = false; });

    // Queue and running items under one lock: a worker takes an item and
    // makes it current under the same lock, so none slips between the two.
    int removed = 0;
    int result = 0;
    {
        TCriticalSectionGuard guard(Lock());
        removed = (Owner || Group || ItemClass) ? queue_.RemoveMatching(Owner, Group, ItemClass) : queue_.Clear();
        result = removed;
        if (removed > 0)
            stopping_ = true;
        for (int i = 0; i < GetCount(); ++i)
            if (auto* worker = dynamic_cast<TWorkerThread*>(GetThread(i)))
                if (worker->CancelCurrent(Owner, Group, ItemClass))
                    ++result;
    }
    if (removed > 0) {
        int32_t before = TInterlocked::Add(pendingCount_, -removed) + removed;
        if (before == removed)
            DoAllWorkDone();
    }
    return result;
}

void TWorkerThreadPool::RemoveThread(TShThread* Thread)
{
    TCustomThreadPool::RemoveThread(Thread);
    // After the removal, so that a pool at its thread limit (or below its
    // minimum now) replaces a worker that ended while work was waiting.
    if (queue_.Count() > 0)
        EnsureWorkers();
}

void TWorkerThreadPool::TerminateAll(bool Wait)
{
    terminating_ = true;
    classlib::TOnExit reset([this] { terminating_ = false; });
    TCustomThreadPool::TerminateAll(false);
    CancelWorkItems(nullptr, nullptr, {});
    workEvent_.SetEvent();
    TCustomThreadPool::TerminateAll(Wait);
    int cleared = queue_.Clear();
    if (ThreadCount() == 0) {
        if (TInterlocked::Exchange(pendingCount_, 0) != 0)
            DoAllWorkDone();
    } else if (cleared > 0 && TInterlocked::Add(pendingCount_, -cleared) == 0) {
        // Workers still finishing their items count those down themselves.
        DoAllWorkDone();
    }
}

// ---------------------------------------------------------------------------
// TBasicWorkItem

bool TBasicWorkItem::WaitWhilePaused()
{
    while (paused_ && !terminated_)
        Sleep(100);
    return terminated_;
}

void TBasicWorkItem::SetOnTerminate(const TWorkItemEvent& Handler)
{
    onTerminate_ = Handler;
    if (Handler)
        WorkDoneEvent = TThreadMethod(this, &TBasicWorkItem::FireOnTerminate);
    else
        WorkDoneEvent = TThreadMethod();
}

void TBasicWorkItem::FireOnTerminate() { onTerminate_(this); }

// ---------------------------------------------------------------------------
// CPU use

namespace {

using NtQuerySystemInformationFn = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);

// The layouts of the system information blocks read here (native sizes).
struct SystemBasicInformation {
    ULONG Reserved;
    ULONG TimerResolution;
    ULONG PageSize;
    ULONG NumberOfPhysicalPages;
    ULONG LowestPhysicalPageNumber;
    ULONG HighestPhysicalPageNumber;
    ULONG AllocationGranularity;
    ULONG_PTR MinimumUserModeAddress;
    ULONG_PTR MaximumUserModeAddress;
    ULONG_PTR ActiveProcessorsAffinityMask;
    CCHAR NumberOfProcessors;
};

struct SystemTimeOfDayInformation {
    LARGE_INTEGER BootTime;
    LARGE_INTEGER CurrentTime;
    LARGE_INTEGER TimeZoneBias;
    ULONG TimeZoneId;
    ULONG Reserved;
    ULONGLONG BootTimeBias;
    ULONGLONG SleepTimeBias;
};

// The performance block is large and its size varies between versions; only
// its first member (the idle time) is read.
struct SystemPerformanceBuffer {
    LARGE_INTEGER IdleTime;
    unsigned char Rest[1016];
};

struct CpuCache {
    std::mutex lock;
    double lastValue = 0;
    DWORD lastTick = 0;
    int64_t previousIdle = 0;
    int64_t previousTime = 0;
    bool measured = false;
};

CpuCache& Cache()
{
    static CpuCache cache;
    return cache;
}

NtQuerySystemInformationFn QueryFunction()
{
    static NtQuerySystemInformationFn fn = [] {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        if (!ntdll)
            return NtQuerySystemInformationFn(nullptr);
        return reinterpret_cast<NtQuerySystemInformationFn>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
    }();
    return fn;
}

double MeasureOnce(CpuCache& c)
{
    NtQuerySystemInformationFn query = QueryFunction();
    if (!query)
        return -1;
    SystemBasicInformation basic{};
    SystemTimeOfDayInformation timeOfDay{};
    SystemPerformanceBuffer performance{};
    if (query(0, &basic, sizeof basic, nullptr) < 0 || query(3, &timeOfDay, sizeof timeOfDay, nullptr) < 0 ||
        query(2, &performance, sizeof performance, nullptr) < 0)
        return -1;
    int64_t idle = performance.IdleTime.QuadPart;
    int64_t now = timeOfDay.CurrentTime.QuadPart;
    int64_t idleDelta = idle - c.previousIdle;
    int64_t timeDelta = now - c.previousTime;
    double value = 100;
    int processors = static_cast<unsigned char>(basic.NumberOfProcessors);
    if (timeDelta != 0 && processors > 0)
        value = 100.0 - (static_cast<double>(idleDelta) / static_cast<double>(timeDelta)) * 100.0 / processors + 0.5;
    c.previousIdle = idle;
    c.previousTime = now;
    return value;
}

}  // namespace

int GetCpuUsage()
{
    CpuCache& c = Cache();
    std::lock_guard<std::mutex> guard(c.lock);
    if (!c.measured || GetTickCount() - c.lastTick > 200) {
        bool first = c.previousIdle == 0;
        c.lastValue = MeasureOnce(c);
        if (first && c.lastValue >= 0)
            c.lastValue = MeasureOnce(c);
        c.lastTick = GetTickCount();
        c.measured = true;
    }
    if (!std::isfinite(c.lastValue))
        return 0;
    int64_t value = classlib::Round(c.lastValue);
    return value < 0 ? 0 : static_cast<int>(std::min<int64_t>(value, INT32_MAX));
}

}  // namespace shell
