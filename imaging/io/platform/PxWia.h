// Scanner and camera device events through the platform's image acquisition
// device manager.
//
// TPxWia holds the device manager and three event registrations (an item was
// created, an item was deleted, a device's item tree changed). Every event
// received stores its kind in LastEvent and runs OnDeviceEvent. No image
// transfer runs through this object: acquired images reach an I/O object
// through its ReceiveAcquiredBitmap.
//
// Ownership: owned by its creator (an I/O object). The registrations are
// released, which ends them, before the device manager and before the
// object's fields go; each callback object forgets its owner first, so an
// event that the service delivers late finds no owner and does nothing.
//
// Failure: without a device manager (no service, or a service without
// devices that refuses to start) nothing is registered and no event ever
// arrives; creation still succeeds.
//
// Threads: events arrive on a thread of the service; LastEvent is written
// and OnDeviceEvent runs there, without a lock: the handler must be safe to
// run on that thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "classlib/Events.h"
#include "classlib/Persistent.h"

struct IWiaDevMgr;

namespace classlib {
class TComponent;
}

namespace imaging {

class TWiaEventCallBack;

// The event identifiers registered for.
extern const GUID PxWiaEventItemCreated;
extern const GUID PxWiaEventItemDeleted;
extern const GUID PxWiaEventTreeUpdated;

// Makes the device manager (out-of-process server); nullptr when there is
// none. Replaceable so that a device manager of another origin can be used
// through the same interface; nullptr restores the platform's.
using TPxWiaDeviceManagerFactory = IWiaDevMgr* (*)();
void PxSetWiaDeviceManagerFactory(TPxWiaDeviceManagerFactory Factory);

using TPxWiaProgressEvent = std::function<bool(int Percent)>;

class TPxWia : public classlib::TObject {
public:
    explicit TPxWia(classlib::TComponent* Owner);
    ~TPxWia() override;
    TPxWia(const TPxWia&) = delete;
    TPxWia& operator=(const TPxWia&) = delete;
    std::wstring ClassName() const override { return L"TPxWia"; }

    // Called for every event received (on the service's thread).
    classlib::TNotifyEvent OnDeviceEvent;
    // Transfer progress (percent); answers whether to go on.
    TPxWiaProgressEvent OnTransferProgress;
    // Owned item objects.
    std::vector<std::unique_ptr<classlib::TObject>> ItemList;
    // 1 tree updated, 2 item created, 3 item deleted; 0 before any event.
    std::atomic<uint8_t> LastEvent{0};

    classlib::TComponent* GetOwner() const { return owner_; }
    IWiaDevMgr* GetDeviceManager() const { return deviceManager_; }
    // Number of registrations held (3 with a device manager, else 0).
    int RegistrationCount() const;
    void ClearItems() { ItemList.clear(); }
    void FireDeviceEvent();

private:
    bool oleInitialized_ = false;
    classlib::TComponent* owner_ = nullptr;
    std::unique_ptr<classlib::TComponent> controlParent_;
    IWiaDevMgr* deviceManager_ = nullptr;
    IUnknown* registrations_[3] = {nullptr, nullptr, nullptr};
    TWiaEventCallBack* callbacks_[3] = {nullptr, nullptr, nullptr};
};

}  // namespace imaging
