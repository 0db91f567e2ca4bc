// Synchronisation objects: critical sections, events and interlocked counters.
//
// All objects here may be used from any thread. They are not copyable: each
// owns one kernel or user-mode object for its whole life.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "classlib/Persistent.h"

namespace classlib {

// Something that can be acquired and released (a lock).
class TSynchroObject : public TObject {
public:
    TSynchroObject() = default;
    TSynchroObject(const TSynchroObject&) = delete;
    TSynchroObject& operator=(const TSynchroObject&) = delete;
    std::wstring ClassName() const override { return L"TSynchroObject"; }

    virtual void Acquire() {}
    virtual void Release() {}
};

// A recursive lock within the process (a Win32 critical section). The thread
// that acquired it may acquire it again; it must release it as often.
class TCriticalSection : public TSynchroObject {
public:
    TCriticalSection();
    ~TCriticalSection() override;
    std::wstring ClassName() const override { return L"TCriticalSection"; }

    void Acquire() override;
    void Release() override;
    void Enter() { Acquire(); }
    void Leave() { Release(); }
    // Acquires without waiting; true when the lock is now held.
    bool TryEnter();

private:
    CRITICAL_SECTION section_;
};

// Holds a critical section for the lifetime of the guard.
class TCriticalSectionGuard {
public:
    explicit TCriticalSectionGuard(TCriticalSection& Section) : section_(Section) { section_.Acquire(); }
    ~TCriticalSectionGuard() { section_.Release(); }
    TCriticalSectionGuard(const TCriticalSectionGuard&) = delete;
    TCriticalSectionGuard& operator=(const TCriticalSectionGuard&) = delete;

private:
    TCriticalSection& section_;
};

// Result of waiting on a handle object. wrError leaves the system error code
// in GetLastError() of the object.
enum TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

// Base of the objects that own a waitable kernel handle; the handle is closed
// by the destructor.
class THandleObject : public TSynchroObject {
public:
    ~THandleObject() override;
    std::wstring ClassName() const override { return L"THandleObject"; }

    HANDLE GetHandle() const { return handle_; }
    // Waits up to Timeout milliseconds (INFINITE for no limit).
    TWaitResult WaitFor(DWORD Timeout);
    // The system error code of the last wrError result (0 otherwise).
    DWORD GetLastError() const { return lastError_; }

protected:
    THandleObject() = default;
    HANDLE handle_ = nullptr;
    DWORD lastError_ = 0;
};

// A synchronisation event. A manual-reset event stays signalled until
// ResetEvent; an auto-reset event releases one waiter and resets itself.
// A non-empty Name creates or opens a named event shared between processes.
// Creation failure raises EOSError.
class TSyncEvent : public THandleObject {
public:
    explicit TSyncEvent(bool ManualReset = true, bool InitialState = false, const std::wstring& Name = {});
    std::wstring ClassName() const override { return L"TSyncEvent"; }

    void SetEvent();
    void ResetEvent();
    // Acquire waits for the event without a time limit; Release signals it.
    void Acquire() override { WaitFor(INFINITE); }
    void Release() override { SetEvent(); }
};

// Atomic read-modify-write operations on plain variables that several threads
// share. The variables must be naturally aligned. Every operation is a full
// memory barrier. Increment/Decrement/Add return the new value; Exchange and
// CompareExchange return the value held before the call (CompareExchange
// stores Value only when the target held Comparand).
class TInterlocked {
public:
    static int32_t Increment(int32_t& Target) { return Add(Target, 1); }
    static int64_t Increment(int64_t& Target) { return Add(Target, 1); }
    static int32_t Decrement(int32_t& Target) { return Add(Target, -1); }
    static int64_t Decrement(int64_t& Target) { return Add(Target, -1); }
    static int32_t Add(int32_t& Target, int32_t Increment) { return AddImpl(Target, Increment); }
    static int64_t Add(int64_t& Target, int64_t Increment) { return AddImpl(Target, Increment); }

    static int32_t Exchange(int32_t& Target, int32_t Value) { return std::atomic_ref<int32_t>(Target).exchange(Value); }
    static int64_t Exchange(int64_t& Target, int64_t Value) { return std::atomic_ref<int64_t>(Target).exchange(Value); }
    template <class T>
    static T* Exchange(T*& Target, T* Value)
    {
        return std::atomic_ref<T*>(Target).exchange(Value);
    }

    static int32_t CompareExchange(int32_t& Target, int32_t Value, int32_t Comparand)
    {
        return CompareExchangeImpl(Target, Value, Comparand);
    }
    static int64_t CompareExchange(int64_t& Target, int64_t Value, int64_t Comparand)
    {
        return CompareExchangeImpl(Target, Value, Comparand);
    }
    template <class T>
    static T* CompareExchange(T*& Target, T* Value, T* Comparand)
    {
        return CompareExchangeImpl(Target, Value, Comparand);
    }

private:
    template <class T>
    static T AddImpl(T& Target, T Increment)
    {
        return std::atomic_ref<T>(Target).fetch_add(Increment) + Increment;
    }
    template <class T>
    static T CompareExchangeImpl(T& Target, T Value, T Comparand)
    {
        std::atomic_ref<T>(Target).compare_exchange_strong(Comparand, Value);
        return Comparand;  // holds the previous value either way
    }
};

}  // namespace classlib
