// Asynchronous I/O: the worker threads of a TImgIO.
//
// In asynchronous mode a load or save does not run on the calling thread:
// it starts one TPxIOThread that calls the very same operation again and
// then ends; inside the worker the operation finds that it runs on one of
// the object's workers and does the work.
//
// Order: the workers of one object run their calls one at a time, in the
// order the calls were made (each takes a ticket when it is created and
// waits for its turn), so that deferred operations never share the image,
// the parameters and the aborting flag at the same time.
//
// Ownership: a worker owns what it reads when the caller cannot keep it
// alive (the memory stream of a buffer load); a caller's stream handed to a
// deferred load or save stays the caller's and must live until the finish
// notification. A worker frees itself after it has left the worker list.
//
// Failure: an exception of the deferred call sets the owner's AbortFlag and
// is not passed on.
//
// Threads: the worker list and the tickets are guarded by WorkerLock, which
// is never held while a load, save, handler or synchronised call runs. The
// shared state lives as long as the owner or a worker still refers to it.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "classlib/Stream.h"
#include "classlib/SyncObjs.h"
#include "classlib/Threads.h"

namespace imaging {

class TImgIO;
class TPxIOThread;

// The workers of one I/O object.
class TPxIOWorkers {
public:
    TPxIOWorkers();
    TPxIOWorkers(const TPxIOWorkers&) = delete;
    TPxIOWorkers& operator=(const TPxIOWorkers&) = delete;

    // Guards WorkerList.
    classlib::TCriticalSection WorkerLock;
    // Workers from their creation until they leave after their call.
    std::vector<TPxIOThread*> WorkerList;

    int Count();
    bool ContainsThread(DWORD ThreadId);
    void ResumeAll();
    // Signalled (manual reset) while WorkerList is empty.
    HANDLE EmptyEvent() const { return empty_.GetHandle(); }

private:
    friend class TPxIOThread;
    uint64_t TakeTicket();
    void WaitTurn(uint64_t Ticket);
    void EndTurn();
    void Add(TPxIOThread* Thread);
    void Remove(TPxIOThread* Thread);

    classlib::TSyncEvent empty_;
    std::mutex turnMutex_;
    std::condition_variable turnChanged_;
    uint64_t nextTicket_ = 0;
    uint64_t serving_ = 0;
};

// One deferred call of a TImgIO.
class TPxIOThread : public classlib::TThread {
public:
    // Starts a worker of Owner that runs Call (with Owner's AbortFlag set
    // when it raises). OwnedStream, when given, is freed after the call.
    // The caller returns at once.
    static void Launch(TImgIO* Owner, std::function<void()> Call, std::unique_ptr<classlib::TStream> OwnedStream);

    std::wstring ClassName() const override { return L"TPxIOThread"; }
    // The system id of the worker, recorded when it starts running (0 before).
    DWORD GetWorkerThreadId() const { return workerId_; }

protected:
    void Execute() override;

private:
    TPxIOThread(TImgIO* Owner, std::shared_ptr<TPxIOWorkers> Workers, std::function<void()> Call,
                std::unique_ptr<classlib::TStream> OwnedStream);

    TImgIO* owner_;
    std::shared_ptr<TPxIOWorkers> workers_;
    std::function<void()> call_;
    std::unique_ptr<classlib::TStream> ownedStream_;
    uint64_t ticket_ = 0;
    DWORD workerId_ = 0;
};

}  // namespace imaging
