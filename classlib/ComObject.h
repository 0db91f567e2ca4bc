// IUnknown for the COM objects the system implements itself (sinks, drop
// targets, stream adapters): QueryInterface over a table of interface IDs,
// and either a reference count or none.
//
// Interface is the one interface the object implements (with the interfaces
// it derives from); QueryInterface answers IID_IUnknown and every ID in Iids
// with the Interface pointer, anything else with E_NOINTERFACE.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>

namespace classlib {

// Whether Iid is IID_IUnknown or one of Iids.
template <const IID&... Iids>
bool ComAnswers(REFIID Iid)
{
    return Iid == IID_IUnknown || ((Iid == Iids) || ...);
}

// A reference-counted object: Release frees it (through the virtual
// destructor) when the count reaches zero. The count is atomic, so
// references may be taken and given back on any thread. The count starts at
// InitialRefs: 1 where the creator holds the first reference, 0 where the
// first AddRef comes from whoever it is handed to.
template <class Interface, const IID&... Iids>
class TComObject : public Interface {
public:
    TComObject(const TComObject&) = delete;
    TComObject& operator=(const TComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Iid, void** Out) override
    {
        if (!Out) return E_POINTER;
        if (!ComAnswers<Iids...>(Iid)) {
            *Out = nullptr;
            return E_NOINTERFACE;
        }
        *Out = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

protected:
    explicit TComObject(ULONG InitialRefs = 1) : refs_(InitialRefs) {}
    virtual ~TComObject() = default;

private:
    std::atomic<ULONG> refs_;
};

// An object whose lifetime its owner governs (a control's drop target, a
// component): AddRef and Release count nothing and always answer 1, so the
// owner must revoke every registration before it frees the object.
template <class Interface, const IID&... Iids>
class TUncountedComObject : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Iid, void** Out) override
    {
        if (!Out) return E_POINTER;
        const bool known = ComAnswers<Iids...>(Iid);
        *Out = known ? static_cast<Interface*>(this) : nullptr;
        return known ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

protected:
    TUncountedComObject() = default;
    ~TUncountedComObject() = default;
};

}  // namespace classlib
