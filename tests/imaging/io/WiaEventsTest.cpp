// Scanner and camera events: TPxWia against the platform (which has no
// devices here) and against a small device manager of the test's own,
// reached through the same interfaces; acquired images handed to TImgIO.
#include <gtest/gtest.h>

#include <windows.h>
#include <wia.h>

#include <atomic>
#include <thread>
#include <vector>

#include "classlib/ComObject.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/platform/PxWia.h"
#include "imaging/model/PxBitmap.h"

using namespace imaging;

namespace {

// The state the fake shares with the test.
struct TFakeState {
    std::atomic<int> Live{0};        // registrations not yet released
    std::atomic<int> Registered{0};  // RegisterEventCallbackInterface calls
    std::atomic<int> ManagerRefs{0};
    std::vector<GUID> Events;
    std::vector<IWiaEventCallback*> Callbacks;  // one reference each, held by the fake
};
TFakeState* fake = nullptr;

// A registration: releasing it ends the registration.
class TFakeRegistration final : public classlib::TComObject<IUnknown> {
private:
    ~TFakeRegistration() override { --fake->Live; }
};

class TFakeDevMgr final : public IWiaDevMgr {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** Out) override
    {
        *Out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++fake->ManagerRefs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const int n = --fake->ManagerRefs;
        if (n == 0)
            delete this;
        return static_cast<ULONG>(n);
    }
    HRESULT STDMETHODCALLTYPE EnumDeviceInfo(LONG, IEnumWIA_DEV_INFO**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateDevice(BSTR, IWiaItem**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SelectDeviceDlg(HWND, LONG, LONG, BSTR*, IWiaItem**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SelectDeviceDlgID(HWND, LONG, LONG, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetImageDlg(HWND, LONG, LONG, LONG, IWiaItem*, BSTR, GUID*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RegisterEventCallbackProgram(LONG, BSTR, const GUID*, BSTR, BSTR, BSTR, BSTR) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RegisterEventCallbackInterface(LONG Flags, BSTR DeviceID, const GUID* Event,
                                                             IWiaEventCallback* Callback, IUnknown** Object) override
    {
        EXPECT_EQ(Flags, 0);
        EXPECT_EQ(DeviceID, nullptr);  // every device
        ++fake->Registered;
        fake->Events.push_back(*Event);
        Callback->AddRef();
        fake->Callbacks.push_back(Callback);
        ++fake->Live;
        *Object = new TFakeRegistration();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RegisterEventCallbackCLSID(LONG, BSTR, const GUID*, const GUID*, BSTR, BSTR,
                                                         BSTR) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AddDeviceDlg(HWND, LONG) override { return E_NOTIMPL; }
};

IWiaDevMgr* MakeFake()
{
    ++fake->ManagerRefs;
    return new TFakeDevMgr();
}

class WiaFake : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake = &state;
        PxSetWiaDeviceManagerFactory(MakeFake);
    }
    void TearDown() override
    {
        PxSetWiaDeviceManagerFactory(nullptr);
        for (IWiaEventCallback* c : state.Callbacks)
            c->Release();
        fake = nullptr;
    }
    // Delivers an event the way the service does: on a thread of its own.
    static void Deliver(IWiaEventCallback* Callback, const GUID& Event)
    {
        std::thread t([Callback, Event] {
            ULONG type = 0;
            EXPECT_EQ(Callback->ImageEventCallback(&Event, nullptr, nullptr, nullptr, 0, nullptr, &type, 0), S_OK);
        });
        t.join();
    }
    TFakeState state;
};

struct TCounter : classlib::TObject {
    std::atomic<int> Calls{0};
    std::atomic<uint8_t> Seen{0};
    void OnEvent(classlib::TObject* Sender) { ++Calls, Seen = static_cast<TPxWia*>(Sender)->LastEvent.load(); }
};

TEST_F(WiaFake, DeliversTheThreeEventsAndIgnoresOthers)
{
    TCounter counter;
    {
        TImgIO io(nullptr);
        TPxWia* wia = io.GetWia();
        ASSERT_EQ(io.GetWia(), wia);
        EXPECT_EQ(wia->GetOwner(), &io);
        wia->OnDeviceEvent = classlib::TNotifyEvent(&counter, &TCounter::OnEvent);
        ASSERT_EQ(state.Registered, 3);
        EXPECT_EQ(wia->RegistrationCount(), 3);
        ASSERT_EQ(state.Events.size(), 3u);
        EXPECT_EQ(state.Events[0], PxWiaEventItemCreated);
        EXPECT_EQ(state.Events[1], PxWiaEventItemDeleted);
        EXPECT_EQ(state.Events[2], PxWiaEventTreeUpdated);

        const GUID connected = {0xA28BBADE, 0x64B6, 0x11D2, {0xA2, 0x31, 0x00, 0xC0, 0x4F, 0xA3, 0x18, 0x09}};
        struct TStep {
            const GUID* Event;
            uint8_t Expected;
            int Calls;
        };
        const TStep steps[] = {{&PxWiaEventTreeUpdated, 1, 1}, {&PxWiaEventItemCreated, 2, 2},
                               {&connected, 2, 2},              {&PxWiaEventItemDeleted, 3, 3}};
        for (const TStep& s : steps) {
            // Any registration's callback may carry any event.
            Deliver(state.Callbacks[0], *s.Event);
            EXPECT_EQ(wia->LastEvent, s.Expected);
            EXPECT_EQ(counter.Calls, s.Calls);
        }
        EXPECT_EQ(counter.Seen, 3);
        EXPECT_EQ(state.Live, 3);
    }
    // The I/O object freed the WIA object: registrations ended, manager
    // released, and a late event on a callback the service still holds
    // reaches nobody.
    EXPECT_EQ(state.Live, 0);
    EXPECT_EQ(state.ManagerRefs, 0);
    Deliver(state.Callbacks[2], PxWiaEventTreeUpdated);
    EXPECT_EQ(counter.Calls, 3);
}

TEST_F(WiaFake, TransferProgressForwardsAndStopsOnAbort)
{
    TImgIO io(nullptr);
    std::vector<int> seen;
    struct TSink : classlib::TObject {
        std::vector<int>* Seen;
        void OnProgress(classlib::TObject*, int Per) { Seen->push_back(Per); }
    } sink;
    sink.Seen = &seen;
    io.OnProgress = TPxProgressEvent(&sink, &TSink::OnProgress);
    TPxWia* wia = io.GetWia();
    ASSERT_TRUE(wia->OnTransferProgress);
    EXPECT_TRUE(wia->OnTransferProgress(40));
    io.AbortFlag = true;
    EXPECT_FALSE(wia->OnTransferProgress(60));
    EXPECT_EQ(seen, (std::vector<int>{40, 60}));
}

// The platform's device manager has no devices here: creating and freeing
// the object works, and no event is ever registered for a device.
TEST(Wia, PlatformWithoutDevicesFailsCleanly)
{
    PxSetWiaDeviceManagerFactory(nullptr);
    TPxWia wia(nullptr);
    if (IWiaDevMgr* manager = wia.GetDeviceManager()) {
        IEnumWIA_DEV_INFO* devices = nullptr;
        ULONG count = 0;
        if (SUCCEEDED(manager->EnumDeviceInfo(WIA_DEVINFO_ENUM_LOCAL, &devices)) && devices) {
            devices->GetCount(&count);
            devices->Release();
        }
        EXPECT_EQ(count, 0u);
    } else {
        EXPECT_EQ(wia.RegistrationCount(), 0);
    }
    EXPECT_EQ(wia.LastEvent, 0);
}

// An acquisition source hands an image to the I/O object.
TEST(Acquire, ReceivedImageBecomesCurrentUnlessHandled)
{
    TImgIO io(nullptr);
    TPxBitmap taken;
    ASSERT_TRUE(taken.Allocate(6, 4, px24RGB));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            taken.SetPixelRGB(x, y, TPxRGB{static_cast<uint8_t>(x), static_cast<uint8_t>(y), 7});

    struct THandler : classlib::TObject {
        bool Handle = true;
        TPxBitmap* Seen = nullptr;
        void OnAcquire(classlib::TObject*, TPxBitmap* B, bool& Handled)
        {
            Seen = B;
            Handled = Handle;
        }
    } handler;
    io.OnAcquireBitmap = TPxAcquireBitmapEvent(&handler, &THandler::OnAcquire);
    TIOParamsVals* params = nullptr;
    io.ReceiveAcquiredBitmap(&taken, params);
    EXPECT_EQ(handler.Seen, &taken);
    EXPECT_EQ(params, nullptr);
    EXPECT_TRUE(io.GetCurrentBitmap()->IsEmpty());

    // Not handled: a copy, resampled to equal resolutions (300 x 150 dpi on
    // a wide image doubles its height).
    handler.Handle = false;
    io.FileParams->DpiX = 300;
    io.FileParams->DpiY = 150;
    io.ReceiveAcquiredBitmap(&taken, params);
    EXPECT_EQ(params, io.FileParams);
    TPxBitmap* current = io.GetCurrentBitmap();
    ASSERT_NE(current, &taken);
    ASSERT_EQ(current->GetWidth(), 6);
    ASSERT_EQ(current->GetHeight(), 8);
    EXPECT_EQ(io.FileParams->DpiY, 300);
    EXPECT_EQ(current->GetPixelRGB(5, 7), (TPxRGB{5, 3, 7}));
    EXPECT_EQ(taken.GetHeight(), 4);

    io.AcquireState = 5;
    io.ClearAcquireFlag();
    EXPECT_EQ(io.AcquireState, 0);
}

}  // namespace
