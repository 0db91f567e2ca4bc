#include "imaging/io/core/ImgIOAsync.h"

#include <algorithm>

#include "imaging/io/core/ImgIO.h"

namespace imaging {

TPxIOWorkers::TPxIOWorkers() : empty_(true, true) {}

int TPxIOWorkers::Count()
{
    classlib::TCriticalSectionGuard guard(WorkerLock);
    return static_cast<int>(WorkerList.size());
}

bool TPxIOWorkers::ContainsThread(DWORD ThreadId)
{
    classlib::TCriticalSectionGuard guard(WorkerLock);
    for (TPxIOThread* t : WorkerList)
        if (t->GetWorkerThreadId() == ThreadId)
            return true;
    return false;
}

void TPxIOWorkers::ResumeAll()
{
    classlib::TCriticalSectionGuard guard(WorkerLock);
    for (TPxIOThread* t : WorkerList)
        if (t->GetSuspended())
            t->Resume();
}

uint64_t TPxIOWorkers::TakeTicket()
{
    std::lock_guard<std::mutex> lock(turnMutex_);
    return nextTicket_++;
}

void TPxIOWorkers::WaitTurn(uint64_t Ticket)
{
    std::unique_lock<std::mutex> lock(turnMutex_);
    turnChanged_.wait(lock, [&] { return serving_ == Ticket; });
}

void TPxIOWorkers::EndTurn()
{
    {
        std::lock_guard<std::mutex> lock(turnMutex_);
        ++serving_;
    }
    turnChanged_.notify_all();
}

void TPxIOWorkers::Add(TPxIOThread* Thread)
{
    classlib::TCriticalSectionGuard guard(WorkerLock);
    WorkerList.push_back(Thread);
    empty_.ResetEvent();
}

void TPxIOWorkers::Remove(TPxIOThread* Thread)
{
    classlib::TCriticalSectionGuard guard(WorkerLock);
    WorkerList.erase(std::remove(WorkerList.begin(), WorkerList.end(), Thread), WorkerList.end());
    if (WorkerList.empty())
        empty_.SetEvent();
}

TPxIOThread::TPxIOThread(TImgIO* Owner, std::shared_ptr<TPxIOWorkers> Workers, std::function<void()> Call,
                         std::unique_ptr<classlib::TStream> OwnedStream)
    : classlib::TThread(true),
      owner_(Owner),
      workers_(std::move(Workers)),
      call_(std::move(Call)),
      ownedStream_(std::move(OwnedStream))
{
}

void TPxIOThread::Launch(TImgIO* Owner, std::function<void()> Call, std::unique_ptr<classlib::TStream> OwnedStream)
{
    auto* thread = new TPxIOThread(Owner, Owner->workers_, std::move(Call), std::move(OwnedStream));
    // The ticket is taken on the calling thread, so workers run in call order.
    thread->ticket_ = thread->workers_->TakeTicket();
    thread->workers_->Add(thread);
    thread->Start();
}

void TPxIOThread::Execute()
{
    {
        classlib::TCriticalSectionGuard guard(workers_->WorkerLock);
        workerId_ = GetCurrentThreadId();
    }
    workers_->WaitTurn(ticket_);
    // A call that raises (a file that cannot be opened, a reader's or
    // writer's exception) is a failed operation: the aborting flag and the
    // finish notification, like every other failure.
    bool raised = false;
    try {
        call_();
    } catch (...) {
        owner_->AbortFlag = true;
        raised = true;
    }
    if (raised) {
        try {
            owner_->DoFinishWork();
        } catch (...) {
        }
    }
    call_ = nullptr;
    ownedStream_.reset();
    workers_->EndTurn();
    SetFreeOnTerminate(true);
    // Keeps the shared state alive past the removal: the owner may be freed as
    // soon as the list is empty.
    std::shared_ptr<TPxIOWorkers> workers = workers_;
    workers->Remove(this);
}

// ---- TImgIO members of the machinery

bool TImgIO::InWorkerThread() const { return workers_->ContainsThread(GetCurrentThreadId()); }

void TImgIO::ResumeThreads() { workers_->ResumeAll(); }

int TImgIO::WorkerCount() const { return workers_->Count(); }

bool TImgIO::ShouldDefer() const { return AsyncMode && !ownsBitmap_ && !InWorkerThread(); }

void TImgIO::Defer(std::function<void()> Call, std::unique_ptr<classlib::TStream> OwnedStream)
{
    TPxIOThread::Launch(this, std::move(Call), std::move(OwnedStream));
}

void TImgIO::WaitThreads(bool SetAbort)
{
    const bool onMain = GetCurrentThreadId() == classlib::MainThreadID;
    for (;;) {
        ResumeThreads();
        {
            classlib::TCriticalSectionGuard guard(workers_->WorkerLock);
            if (SetAbort)
                AbortFlag = true;
            if (workers_->WorkerList.empty())
                return;
        }
        if (!onMain) {
            WaitForSingleObject(workers_->EmptyEvent(), 50);
            continue;
        }
        // A worker may wait in a synchronised call for this thread: serve the
        // calls (and sent messages) while waiting.
        HANDLE handles[2] = {workers_->EmptyEvent(), classlib::SyncEvent()};
        DWORD r = MsgWaitForMultipleObjects(2, handles, FALSE, 50, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0 + 2) {
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        classlib::CheckSynchronize();
    }
}

}  // namespace imaging
