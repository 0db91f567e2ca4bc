// Shared pieces of the I/O object tests: a small raw image format installed
// into registry rows from inside a test, a fake view with a real hidden
// window, and a message pump that also serves synchronised calls.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "classlib/Component.h"
#include "classlib/Threads.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ImgIOView.h"
#include "imaging/model/PxBitmap.h"
#include "support/HostWindow.h"

namespace imgiotest {

using namespace imaging;

// "TRAW", width, height, dpi x, dpi y (int32 each), format byte, then the
// stored rows. The reader fails (aborting flag) on a wrong magic or short
// data, and reports 50 percent half-way.
inline void WriteRaw(classlib::TStream* s, TPxBitmap* b, TIOParamsVals& p, TPxIOProgressInfo& info)
{
    int32_t head[4] = {b->GetWidth(), b->GetHeight(), p.DpiX, p.DpiY};
    s->WriteBuffer("TRAW", 4);
    s->WriteBuffer(head, sizeof(head));
    uint8_t f = b->GetPixelFormat();
    s->WriteBuffer(&f, 1);
    for (int y = 0; y < b->GetHeight(); ++y)
        s->WriteBuffer(b->GetScanline(y), b->GetRowLen());
    info.Progress(100);
}

inline void ReadRaw(classlib::TStream* s, TPxBitmap* b, TIOParamsVals& p, bool preview, TPxIOProgressInfo& info)
{
    char magic[4];
    int32_t head[4];
    uint8_t f = 0;
    if (s->Read(magic, 4) != 4 || std::memcmp(magic, "TRAW", 4) != 0 || s->Read(head, sizeof(head)) != sizeof(head) ||
        s->Read(&f, 1) != 1 || head[0] < 0 || head[1] < 0 || head[0] > 10000 || head[1] > 10000) {
        info.Abort();
        return;
    }
    p.Width = head[0];
    p.Height = head[1];
    p.DpiX = head[2];
    p.DpiY = head[3];
    if (preview)
        return;
    if (!b->Allocate(head[0], head[1], static_cast<TPxPixelFormat>(f))) {
        info.Abort();
        return;
    }
    for (int y = 0; y < head[1]; ++y) {
        if (y == head[1] / 2)
            info.Progress(50);
        if (s->Read(b->GetScanline(y), b->GetRowLen()) != b->GetRowLen()) {
            info.Abort();
            return;
        }
    }
    info.Count = 1;
}

// Builds the registry for the test (when none exists) and overrides the
// routines of built-in rows: the raw routines, test routines, or none (a
// format "not built"). The previous routines (a format unit may have
// installed real ones) come back at the end.
class TRegistryScope {
public:
    explicit TRegistryScope(std::vector<TPxFileFormatId> rawRows = {}, std::vector<TPxFileFormatId> clearedRows = {})
    {
        built_ = !PxFormatRegistryExists();
        if (built_)
            PxBuildFormatRegistry();
        for (TPxFileFormatId id : rawRows) {
            SetReader(id, ReadRaw);
            SetWriter(id, WriteRaw);
        }
        for (TPxFileFormatId id : clearedRows) {
            SetReader(id, nullptr);
            SetWriter(id, nullptr);
        }
    }
    ~TRegistryScope()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            PxSetBuiltInFormatReader(it->id, it->reader);
            PxSetBuiltInFormatWriter(it->id, it->writer);
        }
        if (built_)
            PxFreeFormatRegistry();
    }
    TRegistryScope(const TRegistryScope&) = delete;
    TRegistryScope& operator=(const TRegistryScope&) = delete;

    void SetReader(TPxFileFormatId id, TPxFormatReader r)
    {
        Save(id);
        PxSetBuiltInFormatReader(id, std::move(r));
    }
    void SetWriter(TPxFileFormatId id, TPxFormatWriter w)
    {
        Save(id);
        PxSetBuiltInFormatWriter(id, std::move(w));
    }

private:
    struct Saved {
        TPxFileFormatId id;
        TPxFormatReader reader;
        TPxFormatWriter writer;
    };
    void Save(TPxFileFormatId id)
    {
        for (auto& s : saved_)
            if (s.id == id)
                return;
        TPxFileFormatInfo* row = PxFormatInfoById(id);
        saved_.push_back({id, row ? row->Reader : TPxFormatReader(), row ? row->Writer : TPxFormatWriter()});
    }
    bool built_ = false;
    std::vector<Saved> saved_;
};

// A registered (application) row with its own routines.
inline void RegisterRow(TPxFileFormatId id, const wchar_t* ext, TPxFormatReader reader, TPxFormatWriter writer)
{
    auto* row = new TPxFileFormatInfo();
    row->TypeNumber = id;
    row->DisplayName = L"Test";
    row->ExtensionList = ext;
    row->IsBuiltIn = false;
    row->Reader = std::move(reader);
    row->Writer = std::move(writer);
    PxRegisterFileFormat(row);
}

// A 24-bit image whose pixel (x, y) is (x, y, x + y).
inline std::unique_ptr<TPxBitmap> Pattern(int w, int h, TPxPixelFormat f = px24RGB)
{
    auto b = std::make_unique<TPxBitmap>(w, h, px24RGB);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b->SetPixelRGB(x, y, TPxRGB{static_cast<uint8_t>(x + y), static_cast<uint8_t>(y), static_cast<uint8_t>(x)});
    if (f != px24RGB)
        b->SetPixelFormat(f);
    return b;
}

// Counts finish notifications and records progress values (any thread).
struct TRecorder : classlib::TObject {
    std::atomic<int> finishes{0};
    std::vector<int> progress;
    void Finish(classlib::TObject*) { ++finishes; }
    void Progress(classlib::TObject*, int per) { progress.push_back(per); }
    void Hook(TImgIO& io)
    {
        io.OnFinishWork = classlib::TNotifyEvent(this, &TRecorder::Finish);
        io.OnProgress = TPxProgressEvent(this, &TRecorder::Progress);
    }
};

// A view for the I/O object: a component with its own image, a real hidden
// window created on demand on the main thread, and a record of what the I/O
// object asked of it.
class TFakeView : public classlib::TComponent, public TPxIOView {
public:
    struct Msg {
        UINT msg;
        WPARAM wparam;
    };

    explicit TFakeView(bool ownImage = true, bool parent = true) : classlib::TComponent(nullptr), parent_(parent)
    {
        if (ownImage)
            image_ = std::make_unique<TPxBitmap>();
    }
    ~TFakeView() override
    {
        for (auto& h : handlers_)
            if (h.second)
                h.second(this, true);
        if (window_)
            DestroyWindow(window_);
    }

    classlib::TComponent* GetViewComponent() override { return this; }
    TPxBitmap* GetPxBitmap() override { return image_.get(); }
    classlib::TBitmap* GetBitmap() override { return vcl_; }
    intptr_t RegisterBitmapChangeEvent(const TPxViewBitmapChangeEvent& h, classlib::TObject*) override
    {
        handlers_.push_back({++lastHandle_, h});
        return lastHandle_;
    }
    void RemoveBitmapChangeEvent(intptr_t handle) override
    {
        for (auto& h : handlers_)
            if (h.first == handle)
                h.second = {};
    }
    int Registrations() const
    {
        int n = 0;
        for (auto& h : handlers_)
            n += h.second ? 1 : 0;
        return n;
    }
    // Replaces the image and tells the registered handlers.
    void ReplaceImage(std::unique_ptr<TPxBitmap> b)
    {
        image_ = std::move(b);
        for (auto& h : handlers_)
            if (h.second)
                h.second(this, false);
    }

    classlib::TColor GetBackground() override { return 0x123456; }
    int GetDpiX() override { return dpiX; }
    int GetDpiY() override { return dpiY; }
    void SetDpiX(int v) override
    {
        if (v)
            dpiX = v;
        dpiSetUnlocked += lock == 0 ? 1 : 0;
    }
    void SetDpiY(int v) override
    {
        if (v)
            dpiY = v;
        dpiSetUnlocked += lock == 0 ? 1 : 0;
    }
    bool IsImageView() override { return true; }
    void BeginUpdateLock() override { ++lock; }
    void EndUpdateLockNoUpdate() override { --lock; }

    bool HasParentWindow() override { return parent_; }
    bool HandleAllocated() override { return window_ != nullptr; }
    HWND GetWindowHandle() override
    {
        if (!window_) {
            EXPECT_EQ(GetCurrentThreadId(), classlib::MainThreadID) << "window made off the main thread";
            window_ = CreateWindowExW(0, ClassNameW(), L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
            SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        }
        return window_;
    }
    void Update() override { ++updates; }
    void DoImageChange() override
    {
        ++imageChanges;
        imageChangeThread = GetCurrentThreadId();
    }

    int dpiX = 96, dpiY = 96, lock = 0, dpiSetUnlocked = 0;
    std::atomic<int> updates{0}, imageChanges{0};
    std::atomic<DWORD> imageChangeThread{0};
    std::vector<Msg> messages;  // main thread only (window procedure)
    classlib::TBitmap* vcl_ = nullptr;

private:
    static const wchar_t* ClassNameW()
    {
        static bool registered = [] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = &TFakeView::WndProc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"ImgIOTestView";
            return RegisterClassW(&wc) != 0;
        }();
        (void)registered;
        return L"ImgIOTestView";
    }
    static LRESULT CALLBACK WndProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
    {
        auto* self = reinterpret_cast<TFakeView*>(GetWindowLongPtrW(w, GWLP_USERDATA));
        if (self && m >= PxMsgImageChanged && m <= PxMsgFinishWork) {
            self->messages.push_back({m, wp});
            if (m == PxMsgImageChanged) {
                self->Update();
                self->DoImageChange();
            }
            return 0;
        }
        return DefWindowProcW(w, m, wp, lp);
    }

    bool parent_;
    HWND window_ = nullptr;
    std::unique_ptr<TPxBitmap> image_;
    std::vector<std::pair<intptr_t, TPxViewBitmapChangeEvent>> handlers_;
    intptr_t lastHandle_ = 0;
};

// Dispatches messages and serves synchronised calls until done() or the
// timeout; returns done().
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        HANDLE sync = classlib::SyncEvent();
        MsgWaitForMultipleObjects(1, &sync, FALSE, 20, QS_ALLINPUT);
        testsupport::PumpMessages();
        classlib::CheckSynchronize();
    }
    return true;
}

}  // namespace imgiotest
