#include "imaging/io/platform/PxWia.h"

#include <wia.h>

#include "classlib/ComObject.h"
#include "classlib/Component.h"

namespace imaging {

const GUID PxWiaEventItemCreated = {0x4C8F4EF5, 0xE14F, 0x11D2, {0xB3, 0x26, 0x00, 0xC0, 0x4F, 0x68, 0xCE, 0x61}};
const GUID PxWiaEventItemDeleted = {0x1D22A559, 0xE14F, 0x11D2, {0xB3, 0x26, 0x00, 0xC0, 0x4F, 0x68, 0xCE, 0x61}};
const GUID PxWiaEventTreeUpdated = {0xC9859B91, 0x4AB2, 0x4CD6, {0xA1, 0xFC, 0x58, 0x2E, 0xEC, 0x55, 0xE5, 0x85}};

namespace {

const GUID kCLSID_WiaDevMgr = {0xA1F4E726, 0x8CF1, 0x11D1, {0xBF, 0x92, 0x00, 0x60, 0x08, 0x1E, 0xD8, 0x11}};
const GUID kIID_IWiaDevMgr = {0x5EB2502A, 0x8CF1, 0x11D1, {0xBF, 0x92, 0x00, 0x60, 0x08, 0x1E, 0xD8, 0x11}};
const GUID kIID_IWiaEventCallback = {0xAE6287B0, 0x0084, 0x11D2, {0x97, 0x3B, 0x00, 0xA0, 0xC9, 0x06, 0x8F, 0x2E}};

IWiaDevMgr* PlatformDeviceManager()
{
    void* p = nullptr;
    if (FAILED(CoCreateInstance(kCLSID_WiaDevMgr, nullptr, CLSCTX_LOCAL_SERVER, kIID_IWiaDevMgr, &p)))
        return nullptr;
    return static_cast<IWiaDevMgr*>(p);
}

std::atomic<TPxWiaDeviceManagerFactory> deviceManagerFactory{PlatformDeviceManager};

}  // namespace

void PxSetWiaDeviceManagerFactory(TPxWiaDeviceManagerFactory Factory)
{
    deviceManagerFactory = Factory ? Factory : PlatformDeviceManager;
}

// Receives the service's events on its thread and hands the three kinds
// registered for to the owner.
class TWiaEventCallBack final : public classlib::TComObject<IWiaEventCallback, kIID_IWiaEventCallback> {
public:
    explicit TWiaEventCallBack(TPxWia* Owner) : owner_(Owner) {}

    void Detach() { owner_.store(nullptr); }

    HRESULT STDMETHODCALLTYPE ImageEventCallback(const GUID* EventGUID, BSTR, BSTR, BSTR, DWORD, BSTR, ULONG*,
                                                 ULONG) override
    {
        TPxWia* owner = owner_.load();
        if (!owner || !EventGUID)
            return S_OK;
        uint8_t kind = 0;
        if (*EventGUID == PxWiaEventTreeUpdated)
            kind = 1;
        else if (*EventGUID == PxWiaEventItemCreated)
            kind = 2;
        else if (*EventGUID == PxWiaEventItemDeleted)
            kind = 3;
        else
            return S_OK;
        owner->LastEvent = kind;
        owner->FireDeviceEvent();
        return S_OK;
    }

private:
    std::atomic<TPxWia*> owner_;
};

TPxWia::TPxWia(classlib::TComponent* Owner) : owner_(Owner)
{
    oleInitialized_ = SUCCEEDED(OleInitialize(nullptr));
    deviceManager_ = deviceManagerFactory.load()();
    if (!deviceManager_)
        return;
    const GUID* events[3] = {&PxWiaEventItemCreated, &PxWiaEventItemDeleted, &PxWiaEventTreeUpdated};
    for (int i = 0; i < 3; ++i) {
        callbacks_[i] = new TWiaEventCallBack(this);
        IUnknown* registration = nullptr;
        if (SUCCEEDED(deviceManager_->RegisterEventCallbackInterface(0, nullptr, events[i], callbacks_[i],
                                                                     &registration)))
            registrations_[i] = registration;
        else if (registration)
            registration->Release();
    }
}

TPxWia::~TPxWia()
{
    for (int i = 0; i < 3; ++i) {
        // The callback forgets this object before the registration ends, so a
        // call already under way on the service's thread finds no owner.
        if (callbacks_[i])
            callbacks_[i]->Detach();
        if (registrations_[i]) {
            registrations_[i]->Release();
            registrations_[i] = nullptr;
        }
        if (callbacks_[i]) {
            callbacks_[i]->Release();
            callbacks_[i] = nullptr;
        }
    }
    if (deviceManager_) {
        deviceManager_->Release();
        deviceManager_ = nullptr;
    }
    ClearItems();
    controlParent_.reset();
    if (oleInitialized_)
        OleUninitialize();
}

int TPxWia::RegistrationCount() const
{
    int n = 0;
    for (IUnknown* r : registrations_)
        if (r)
            ++n;
    return n;
}

void TPxWia::FireDeviceEvent()
{
    if (OnDeviceEvent)
        OnDeviceEvent(this);
}

}  // namespace imaging
