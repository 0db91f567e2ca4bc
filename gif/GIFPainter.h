// The animation painter: draws the frames of one GIF picture on one canvas
// in one rectangle, with the frame delays, disposal methods, loop count and
// speed of the picture.
//
// Threads: a threaded painter (gdfThreaded) renders frame bitmaps on its own
// thread and draws and fires its events on the main thread through
// Synchronize; it frees itself when it ends (after its clean-up has run on
// the main thread). An unthreaded painter runs on the caller's thread and
// pumps the caller's message queue while it waits.
#pragma once

#include <windows.h>

#include <atomic>
#include <exception>
#include <memory>

#include "classlib/Bitmap.h"
#include "classlib/Threads.h"
#include "classlib/WinHandles.h"
#include "gif/GIFImage.h"

namespace gif {

class TGIFPainter : public classlib::TThread {
public:
    static constexpr int DelayUnitMs = 12;  // milliseconds per delay unit (not 10)
    static constexpr int DefaultDelay = 10;
    static constexpr int MinimumDelay = 3;
    static constexpr int MaximumDelay = 1000;

    TGIFPainter(TGIFPainter** Reference, TGIFDrawOptions Flags, const RECT& R, classlib::TCanvas* Canvas,
                TGIFImage* Image);
    ~TGIFPainter() override;
    std::wstring ClassName() const override { return L"TGIFPainter"; }

    // Resumes a threaded painter.
    void Start();
    // Ends the run at its next check; a threaded painter's wait is cut short.
    void Stop();

    classlib::TCanvas* GetCanvas() const { return TargetCanvas; }
    const RECT& GetRect() const { return TargetRect; }
    bool GetHasPainted() const { return HasPainted; }
    bool IsThreaded() const { return (Flags & gdfThreaded) != 0; }
    TGIFImage* GetImage() const { return TargetImage; }
    // Forgets the image (its destructor calls this for painters still listed).
    void DetachImage() { TargetImage = nullptr; }

    // The frame being shown; an OnFrameEnd handler may change it.
    std::atomic<int> ActiveFrame{-1};
    classlib::TNotifyEvent OnRunStart, OnFrameStart, OnFrameEnd, OnPassStart, OnRunEnd;

protected:
    void Execute() override;

private:
    friend class TGIFImage;
    void CreateBuffers();
    void CleanUp(classlib::TObject* Sender = nullptr);
    void RunSynchronized(const std::function<void()>& Operation);
    void FireEvent(const classlib::TNotifyEvent& Event);
    void WaitBeforeFrame(int Delay, DWORD& Last, int& Overshoot);
    void DrawDirect();
    void DrawBuffered();
    void RestoreBackground();
    // Runs Execute on the caller's thread; raises a kept exception.
    void RunUnthreaded();

    TGIFImage* TargetImage;
    classlib::TCanvas* TargetCanvas;
    RECT TargetRect;
    TGIFDrawOptions Flags;
    int Speed;
    uint8_t FrameDisposal = 0;
    uint8_t LastDisposal = 0;
    std::unique_ptr<classlib::TBitmap> SaveBuffer, ComposeBuffer, BackgroundShot;
    classlib::TColor BackgroundColor = 0;
    HDC CanvasDC = nullptr;
    bool RestartPending = false;
    std::atomic<bool> HasPainted{false};
    TGIFPainter** Reference;
    classlib::TOwnedKernelHandle WakeEvent;
    std::exception_ptr PendingException;
    const classlib::TNotifyEvent* CurrentHandler = nullptr;
    bool CleanedUp = false;
};

}  // namespace gif
