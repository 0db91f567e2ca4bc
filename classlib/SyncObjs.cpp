#include "classlib/SyncObjs.h"

namespace classlib {

TCriticalSection::TCriticalSection() { InitializeCriticalSection(&section_); }

TCriticalSection::~TCriticalSection() { DeleteCriticalSection(&section_); }

void TCriticalSection::Acquire() { EnterCriticalSection(&section_); }

void TCriticalSection::Release() { LeaveCriticalSection(&section_); }

bool TCriticalSection::TryEnter() { return TryEnterCriticalSection(&section_) != FALSE; }

THandleObject::~THandleObject()
{
    if (handle_)
        CloseHandle(handle_);
}

TWaitResult THandleObject::WaitFor(DWORD Timeout)
{
    lastError_ = 0;
    switch (WaitForSingleObject(handle_, Timeout)) {
    case WAIT_OBJECT_0:
        return wrSignaled;
    case WAIT_TIMEOUT:
        return wrTimeout;
    case WAIT_ABANDONED:
        return wrAbandoned;
    default:
        lastError_ = ::GetLastError();
        return wrError;
    }
}

TSyncEvent::TSyncEvent(bool ManualReset, bool InitialState, const std::wstring& Name)
{
    handle_ = CreateEventW(nullptr, ManualReset ? TRUE : FALSE, InitialState ? TRUE : FALSE,
                           Name.empty() ? nullptr : Name.c_str());
    if (!handle_)
        RaiseLastOSError();
}

void TSyncEvent::SetEvent() { ::SetEvent(handle_); }

void TSyncEvent::ResetEvent() { ::ResetEvent(handle_); }

}  // namespace classlib
