// Threads and calls marshalled to the main thread.
//
// The main thread
//   MainThreadID is the id of the program's main thread. It is set while the
//   program's static objects are initialised, i.e. by the thread that starts
//   the program (for this statically linked program: its main thread).
//   InitMainThread() sets it again from the calling thread; a program that
//   cannot rely on that (e.g. code loaded into another process) calls it once
//   from its main thread before any worker synchronises.
//
// Synchronised and queued calls
//   A worker thread hands a method to the main thread with Synchronize (waits
//   until the main thread has run it; an exception it raises is re-raised in
//   the worker) or Queue (returns at once). The calls are kept in one FIFO
//   list and run only when the main thread calls CheckSynchronize. Called on
//   the main thread itself, both run the method at once.
//
// The contract for wait loops and the message loop
//   Every time a call is added to the list, the library
//     1. signals the auto-reset event SyncEvent(), and
//     2. calls the hook set by SetWakeMainThread (Sender: the thread object,
//        or nullptr for a call made without one), on the queuing thread.
//   A main-thread loop that waits must include SyncEvent() in its wait (e.g.
//   MsgWaitForMultipleObjects) and call CheckSynchronize() whenever it fires;
//   the message loop instead sets the hook to post itself a message and calls
//   CheckSynchronize() when it receives it (and when idle). Because the event
//   is auto-reset, a loop that consumes it must drain the list with
//   CheckSynchronize; it may never wait on it without doing so.
//   TThread::WaitFor on the main thread follows this contract itself, so a
//   worker that synchronises while the main thread waits for it cannot
//   deadlock. A worker blocked in Synchronize waits for as long as the main
//   thread does not serve the list.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>

#include "classlib/Events.h"
#include "classlib/Persistent.h"

namespace classlib {

// A parameterless method run through Synchronize or Queue.
using TThreadMethod = TEvent<void()>;

// Thread priorities, from the lowest; tpNormal is the default.
enum TThreadPriority : uint8_t { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

extern DWORD MainThreadID;
// Makes the calling thread the main thread (see above).
void InitMainThread();

// The auto-reset event signalled whenever a call is added to the list (see
// above). Created on first use; valid for the life of the process.
HANDLE SyncEvent();

// Sets the hook called whenever a call is added to the list (see above). The
// hook runs on the queuing thread and must only wake the main thread (post a
// message); it must not block. An empty event removes it.
void SetWakeMainThread(const TNotifyEvent& Handler);
TNotifyEvent GetWakeMainThread();

// Runs the synchronised and queued calls that are pending, in the order they
// were made, and returns whether any ran. With a Timeout (milliseconds) it
// first waits up to that long for SyncEvent(). Only the main thread may call
// it (otherwise EThread). An exception from a Synchronize call goes back to
// the waiting thread; an exception from a Queue call leaves CheckSynchronize
// (the calls after it stay pending for the next CheckSynchronize).
bool CheckSynchronize(DWORD Timeout = 0);

// A thread of execution. Derive from it and implement Execute; the thread
// runs Execute once and ends.
//
// Creation: the system thread is created suspended in the constructor, so
// Handle and ThreadID are valid at once. Because Execute is virtual, it must
// not run before the most derived constructor has finished; therefore a
// thread created with CreateSuspended = false starts when AfterConstruction()
// is called, which the most derived class does at the end of its constructor
// (or the creator right after construction). A thread created suspended starts
// with Start() or Resume().
//
// End: after Execute returns (or raises; the exception is kept in
// GetFatalException and never leaves the thread) DoTerminate runs OnTerminate
// on the main thread through Synchronize, then Finished becomes true; with
// FreeOnTerminate set at that moment the thread deletes itself.
//
// Destruction: a thread that was never started is discarded without running
// Execute. Otherwise the destructor terminates the thread (Terminate, resume
// when suspended) and waits for it; on the main thread it serves synchronised
// calls meanwhile, while the thread's own queued calls are dropped, not run.
// Since derived parts are destroyed before this destructor, a derived class
// whose Execute uses its own members must be stopped (Terminate + WaitFor)
// before those members die: by the owner before delete, or in the derived
// destructor. Pending Queue calls of the thread are removed when it is
// destroyed.
class TThread : public TObject {
public:
    explicit TThread(bool CreateSuspended);
    ~TThread() override;
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;
    std::wstring ClassName() const override { return L"TThread"; }

    // Starts a thread created with CreateSuspended = false (see above).
    void AfterConstruction();

    // Starts a thread that was created suspended; EThread when the thread has
    // already been started (running, suspended by Suspend or finished).
    void Start();
    // Resumes a suspended thread (also starts one created suspended). The
    // thread runs again when every Suspend has been matched by a Resume.
    void Resume();
    // Suspends the thread wherever it is (SuspendThread); the caller must be
    // sure the thread holds no lock the caller needs.
    void Suspend();
    bool GetSuspended() const { return suspended_; }
    void SetSuspended(bool Value);

    // Asks the thread to end: Execute polls GetTerminated() and returns.
    void Terminate() { terminated_ = true; }
    bool GetTerminated() const { return terminated_; }

    // Waits until the thread has ended and returns its exit code (ReturnValue).
    // On the main thread it serves synchronised calls and sent messages while
    // it waits. A thread cannot wait for itself, nor for a thread with
    // FreeOnTerminate set (EThread). Waiting for a thread that was never
    // started waits for ever.
    DWORD WaitFor();

    HANDLE GetHandle() const { return handle_; }
    DWORD GetThreadID() const { return threadId_; }
    bool GetFinished() const { return finished_; }

    bool GetFreeOnTerminate() const { return freeOnTerminate_; }
    void SetFreeOnTerminate(bool Value) { freeOnTerminate_ = Value; }

    TThreadPriority GetPriority() const;
    void SetPriority(TThreadPriority Value);

    // The exception that escaped Execute, or null.
    std::exception_ptr GetFatalException() const { return fatalException_; }

    // Runs on the main thread after Execute (Sender: this thread).
    TNotifyEvent OnTerminate;

    // Run Method on the main thread and wait for it; AThread may be null.
    // An exception raised by Method is re-raised here.
    static void Synchronize(TThread* AThread, const TThreadMethod& Method);
    static void Synchronize(TThread* AThread, const std::function<void()>& Method);
    // Add Method to the main thread's list and return at once; AThread may be
    // null. Called on the main thread, the method runs at once.
    static void Queue(TThread* AThread, const TThreadMethod& Method);
    static void Queue(TThread* AThread, const std::function<void()>& Method);
    // Removes the pending Queue calls made for AThread (only those of Method
    // when it is assigned).
    static void RemoveQueuedEvents(TThread* AThread, const TThreadMethod& Method = {});

protected:
    // The thread's work. Runs once on the thread.
    virtual void Execute() = 0;
    // Runs after Execute on the thread; the default runs OnTerminate through
    // Synchronize when it is assigned.
    virtual void DoTerminate();

    void Synchronize(const TThreadMethod& Method) { Synchronize(this, Method); }
    void Synchronize(const std::function<void()>& Method) { Synchronize(this, Method); }
    void Queue(const TThreadMethod& Method) { Queue(this, Method); }
    void Queue(const std::function<void()>& Method) { Queue(this, Method); }

    DWORD GetReturnValue() const { return returnValue_; }
    void SetReturnValue(DWORD Value) { returnValue_ = Value; }

private:
    static unsigned __stdcall ThreadProc(void* Param);
    void CallOnTerminate();
    void ResumeFully();
    DWORD WaitForEnd(bool DropQueued);

    HANDLE handle_ = nullptr;
    DWORD threadId_ = 0;
    bool autoStart_ = false;
    std::atomic<bool> started_{false};
    std::atomic<bool> suspended_{true};
    std::atomic<bool> discard_{false};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> freeOnTerminate_{false};
    DWORD returnValue_ = 0;
    std::exception_ptr fatalException_;
};

}  // namespace classlib
