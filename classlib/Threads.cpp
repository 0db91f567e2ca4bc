#include "classlib/Threads.h"

#include <process.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "classlib/Exceptions.h"

namespace classlib {

DWORD MainThreadID = GetCurrentThreadId();

void InitMainThread() { MainThreadID = GetCurrentThreadId(); }

namespace {

// One call handed to the main thread. A synchronous request lives until both
// the caller and the main thread are done with it (shared ownership).
struct SyncRequest {
    TThread* thread = nullptr;
    TThreadMethod method;
    std::function<void()> function;
    bool synchronous = false;
    uint64_t sequence = 0;
    bool done = false;  // guarded by SyncState::lock
    std::exception_ptr error;

    void Run()
    {
        if (method)
            method();
        else if (function)
            function();
    }
};

struct SyncState {
    std::mutex lock;
    std::condition_variable doneSignal;
    std::deque<std::shared_ptr<SyncRequest>> list;
    uint64_t nextSequence = 1;
    TNotifyEvent wake;
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // auto-reset
};

// Function-local so that it exists before any static object of another unit
// could queue a call.
SyncState& State()
{
    static SyncState* state = new SyncState;  // never freed: workers may outlive static destruction
    return *state;
}

bool OnMainThread() { return GetCurrentThreadId() == MainThreadID; }

void AddRequest(const std::shared_ptr<SyncRequest>& request)
{
    SyncState& s = State();
    TNotifyEvent wake;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        request->sequence = s.nextSequence++;
        s.list.push_back(request);
        wake = s.wake;
    }
    SetEvent(s.event);
    wake(request->thread);
}

// On the main thread the method (else the function) runs at once and no
// request is made (null); on any other thread a request is queued for it.
std::shared_ptr<SyncRequest> RunNowOrRequest(TThread* thread, const TThreadMethod& method,
                                             const std::function<void()>& function, bool synchronous)
{
    if (OnMainThread()) {
        if (method)
            method();
        else if (function)
            function();
        return nullptr;
    }
    auto request = std::make_shared<SyncRequest>();
    request->thread = thread;
    request->method = method;
    request->function = function;
    request->synchronous = synchronous;
    AddRequest(request);
    return request;
}

void RunSynchronized(TThread* thread, const TThreadMethod& method, const std::function<void()>& function)
{
    const std::shared_ptr<SyncRequest> request = RunNowOrRequest(thread, method, function, true);
    if (!request)
        return;
    SyncState& s = State();
    {
        std::unique_lock<std::mutex> guard(s.lock);
        s.doneSignal.wait(guard, [&] { return request->done; });
    }
    if (request->error)
        std::rethrow_exception(request->error);
}

void RunQueued(TThread* thread, const TThreadMethod& method, const std::function<void()>& function)
{
    RunNowOrRequest(thread, method, function, false);
}

}  // namespace

HANDLE SyncEvent() { return State().event; }

void SetWakeMainThread(const TNotifyEvent& Handler)
{
    SyncState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.wake = Handler;
}

TNotifyEvent GetWakeMainThread()
{
    SyncState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.wake;
}

bool CheckSynchronize(DWORD Timeout)
{
    if (!OnMainThread())
        throw EThread(L"CheckSynchronize called from a thread that is not the main thread");
    SyncState& s = State();
    uint64_t last;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        last = s.nextSequence - 1;
    }
    if (Timeout > 0) {
        bool empty;
        {
            std::lock_guard<std::mutex> guard(s.lock);
            empty = s.list.empty();
        }
        if (empty) {
            WaitForSingleObject(s.event, Timeout);
            std::lock_guard<std::mutex> guard(s.lock);
            last = s.nextSequence - 1;
        }
    }
    // Calls are taken one at a time, so that RemoveQueuedEvents run by one of
    // them still reaches the calls behind it; calls made after this point wait
    // for the next CheckSynchronize, so busy workers cannot keep us here.
    bool ran = false;
    for (;;) {
        std::shared_ptr<SyncRequest> request;
        {
            std::lock_guard<std::mutex> guard(s.lock);
            if (s.list.empty() || s.list.front()->sequence > last)
                break;
            request = s.list.front();
            s.list.pop_front();
        }
        ran = true;
        if (request->synchronous) {
            try {
                request->Run();
            } catch (...) {
                request->error = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> guard(s.lock);
                request->done = true;
            }
            s.doneSignal.notify_all();
        } else {
            try {
                request->Run();
            } catch (...) {
                // The rest stays pending; make sure a waiting loop comes back.
                bool more;
                {
                    std::lock_guard<std::mutex> guard(s.lock);
                    more = !s.list.empty();
                }
                if (more)
                    SetEvent(s.event);
                throw;
            }
        }
    }
    return ran;
}

// ---------------------------------------------------------------------------

TThread::TThread(bool CreateSuspended) : autoStart_(!CreateSuspended)
{
    unsigned id = 0;
    uintptr_t h = _beginthreadex(nullptr, 0, &TThread::ThreadProc, this, CREATE_SUSPENDED, &id);
    if (!h)
        throw EThread(L"Thread creation error: " + std::to_wstring(::GetLastError()));
    handle_ = reinterpret_cast<HANDLE>(h);
    threadId_ = id;
}

TThread::~TThread()
{
    if (handle_) {
        if (GetCurrentThreadId() != threadId_) {
            if (!started_) {
                // Never started: let the thread end without running Execute.
                discard_ = true;
                ResumeFully();
                WaitForSingleObject(handle_, INFINITE);
            } else if (finished_) {
                // Only the return from the thread function is left; nothing
                // is served, so queued calls of this object are not run.
                WaitForSingleObject(handle_, INFINITE);
            } else {
                terminated_ = true;
                if (suspended_) {
                    ResumeFully();
                    suspended_ = false;
                }
                for (;;) {
                    try {
                        WaitForEnd(true);
                        break;
                    } catch (...) {
                        // A queued call raised while we served the list; the
                        // destructor cannot pass it on. Keep waiting.
                        if (WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0)
                            break;
                    }
                }
            }
        }
        CloseHandle(handle_);
    }
    RemoveQueuedEvents(this);
}

void TThread::ResumeFully()
{
    for (;;) {
        DWORD previous = ResumeThread(handle_);
        if (previous == static_cast<DWORD>(-1) || previous <= 1)
            break;
    }
}

unsigned __stdcall TThread::ThreadProc(void* Param)
{
    TThread* thread = static_cast<TThread*>(Param);
    if (thread->discard_)
        return 0;
    try {
        thread->Execute();
    } catch (...) {
        thread->fatalException_ = std::current_exception();
    }
    DWORD result = thread->returnValue_;
    try {
        thread->DoTerminate();
    } catch (...) {
        if (!thread->fatalException_)
            thread->fatalException_ = std::current_exception();
    }
    bool freeThread = thread->freeOnTerminate_;
    thread->finished_ = true;
    // Without FreeOnTerminate the owner may delete the object from now on; its
    // destructor still waits for this function to return.
    if (freeThread)
        delete thread;
    return result;
}

void TThread::AfterConstruction()
{
    if (autoStart_ && !started_)
        Resume();
}

void TThread::Start()
{
    if (started_ || finished_)
        throw EThread(L"Cannot call Start on a running or suspended thread");
    Resume();
}

void TThread::Resume()
{
    DWORD previous = ResumeThread(handle_);
    if (previous == static_cast<DWORD>(-1))
        RaiseLastOSError();
    started_ = true;
    if (previous <= 1)
        suspended_ = false;
}

void TThread::Suspend()
{
    bool was = suspended_.exchange(true);
    if (SuspendThread(handle_) == static_cast<DWORD>(-1)) {
        suspended_ = was;
        RaiseLastOSError();
    }
}

void TThread::SetSuspended(bool Value)
{
    if (Value == suspended_)
        return;
    if (Value)
        Suspend();
    else
        Resume();
}

DWORD TThread::WaitFor()
{
    if (GetCurrentThreadId() == threadId_)
        throw EThread(L"A thread cannot wait for itself");
    if (freeOnTerminate_)
        throw EThread(L"Cannot wait for a thread that frees itself");
    return WaitForEnd(false);
}

DWORD TThread::WaitForEnd(bool DropQueued)
{
    if (OnMainThread()) {
        HANDLE handles[2] = {handle_, SyncEvent()};
        for (;;) {
            // While the object is being destroyed its queued calls would reach
            // a dead object; synchronous ones must still run (the thread waits).
            if (DropQueued)
                RemoveQueuedEvents(this);
            CheckSynchronize();
            DWORD r = MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, QS_SENDMESSAGE);
            if (r == WAIT_OBJECT_0)
                break;
            if (r == WAIT_OBJECT_0 + 2) {
                // Lets the system deliver messages sent by other threads to our
                // windows (a worker may be blocked in SendMessage).
                MSG msg;
                PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
            } else if (r != WAIT_OBJECT_0 + 1) {
                RaiseLastOSError();
            }
        }
    } else if (WaitForSingleObject(handle_, INFINITE) == WAIT_FAILED) {
        RaiseLastOSError();
    }
    DWORD code = 0;
    GetExitCodeThread(handle_, &code);
    return code;
}

TThreadPriority TThread::GetPriority() const
{
    switch (GetThreadPriority(handle_)) {
    case THREAD_PRIORITY_IDLE:
        return tpIdle;
    case THREAD_PRIORITY_LOWEST:
        return tpLowest;
    case THREAD_PRIORITY_BELOW_NORMAL:
        return tpLower;
    case THREAD_PRIORITY_ABOVE_NORMAL:
        return tpHigher;
    case THREAD_PRIORITY_HIGHEST:
        return tpHighest;
    case THREAD_PRIORITY_TIME_CRITICAL:
        return tpTimeCritical;
    default:
        return tpNormal;
    }
}

void TThread::SetPriority(TThreadPriority Value)
{
    static const int kPriorities[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                      THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                      THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                      THREAD_PRIORITY_TIME_CRITICAL};
    if (Value > tpTimeCritical)
        throw EThread(L"Invalid thread priority");
    if (!SetThreadPriority(handle_, kPriorities[Value]))
        RaiseLastOSError();
}

void TThread::DoTerminate()
{
    if (OnTerminate)
        Synchronize(TThreadMethod(this, &TThread::CallOnTerminate));
}

void TThread::CallOnTerminate() { OnTerminate(this); }

void TThread::Synchronize(TThread* AThread, const TThreadMethod& Method) { RunSynchronized(AThread, Method, {}); }

void TThread::Synchronize(TThread* AThread, const std::function<void()>& Method)
{
    RunSynchronized(AThread, {}, Method);
}

void TThread::Queue(TThread* AThread, const TThreadMethod& Method) { RunQueued(AThread, Method, {}); }

void TThread::Queue(TThread* AThread, const std::function<void()>& Method) { RunQueued(AThread, {}, Method); }

void TThread::RemoveQueuedEvents(TThread* AThread, const TThreadMethod& Method)
{
    SyncState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    std::erase_if(s.list, [&](const std::shared_ptr<SyncRequest>& r) {
        return !r->synchronous && r->thread == AThread && (!Method || r->method == Method);
    });
}

}  // namespace classlib
