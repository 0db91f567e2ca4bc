// An owning reference to a COM interface: Release on destruction or Reset,
// AddRef on copy. Put() hands out the slot for a call that returns a new
// reference (QueryInterface, CoCreateInstance ...) after releasing any
// reference held.
#pragma once

#include <unknwn.h>

#include <utility>

namespace shell {

template <class T>
class TComRef {
public:
    TComRef() = default;
    // Adopts a reference the caller already owns.
    explicit TComRef(T* p) : p_(p) {}
    ~TComRef() { Reset(); }
    TComRef(const TComRef& o) : p_(o.p_)
    {
        if (p_) p_->AddRef();
    }
    TComRef(TComRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    TComRef& operator=(TComRef o) noexcept
    {
        std::swap(p_, o.p_);
        return *this;
    }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** Put()
    {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    // Hands the reference over to the caller.
    T* Detach() { return std::exchange(p_, nullptr); }
    void Reset()
    {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }

private:
    T* p_ = nullptr;
};

}  // namespace shell
