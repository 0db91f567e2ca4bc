// TPxTransitionEffects: animates the change from one picture to another
// inside a view. A 1 ms timer composes frames of a start and an end picture
// (class-library bitmaps in pf24bit, the size of the view's client area)
// according to the transition type and copies each frame onto the view's
// window, over a duration measured with the system tick count.
//
// Frames are composed by PxTransitionComposeFrame, a pure routine on three
// bitmaps, so every type can be checked without a window.
//
// Ownership: the object owns its three pictures and its timer; it borrows the
// view (which must outlive it) and the pan-zoom source.
// Threads: main thread only; the timer's messages arrive through the main
// thread's message loop. The random types use the class library's global
// random generator.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "classlib/Events.h"
#include "classlib/Graphics.h"

namespace classlib {
class TBitmap;
class TTimer;
}  // namespace classlib

namespace imaging {

class TPxBitmap;
class TPxView;

enum TPxTransitionType : uint8_t {
    pxttNone = 0,
    pxttCrossDissolve = 1,
    pxttFadeOut = 2,
    pxttFadeIn = 3,
    pxttFadeOutIn = 4,
    pxttLeftRight1 = 5,
    pxttLeftRight2 = 6,
    pxttRightLeft1 = 7,
    pxttRightLeft2 = 8,
    pxttUpDown1 = 9,
    pxttUpDown2 = 10,
    pxttDownUp1 = 11,
    pxttDownUp2 = 12,
    pxttFromUpLeft = 13,
    pxttFromUpRight = 14,
    pxttFromBottomLeft = 15,
    pxttFromBottomRight = 16,
    pxttMoveLeftRight1 = 17,
    pxttMoveLeftRight2 = 18,
    pxttMoveRightLeft1 = 19,
    pxttMoveRightLeft2 = 20,
    pxttMoveUpDown1 = 21,
    pxttMoveUpDown2 = 22,
    pxttMoveDownUp1 = 23,
    pxttMoveDownUp2 = 24,
    pxttRandomPoints = 25,
    pxttRandomBoxes = 26,
    pxttCenter1 = 27,
    pxttCenter2 = 28,
    pxttCenterZoom1 = 29,
    pxttCenterZoom2 = 30,
    pxttPanZoom = 31,
};

class TPxTransitionEffects;

// (Sender, Step): Step is the progress in 1/1024 units.
using TPxTransitionStepEvent = classlib::TEvent<void(classlib::TObject* Sender, int Step)>;
// (Sender, Bitmap just shown, the transition object, Step).
using TPxOnTransitionPaint =
    classlib::TEvent<void(classlib::TObject* Sender, classlib::TBitmap* Bitmap, TPxTransitionEffects* Transition,
                          int Step)>;

// Composes the frame of Type at Step (0..1024; values outside are limited)
// from Start and End into Frame. All three must be pf24bit; the frame's size
// is the working size and every copy is cut to each picture's own size.
// Background is the colour of the fade types (system colours resolved).
// DrawnCount is the random types' count of points or boxes drawn so far (the
// caller keeps it between steps and sets it to 0 at the start of a run).
// pxttNone and pxttPanZoom draw nothing here.
void PxTransitionComposeFrame(TPxTransitionType Type, int Step, classlib::TBitmap* Start, classlib::TBitmap* End,
                              classlib::TBitmap* Frame, classlib::TColor Background, int& DrawnCount);

// The step for Elapsed of Duration milliseconds with Timing 0 (linear),
// 1 (exponential) or 2 (logarithmic), limited to 0..1024.
int PxTransitionNextStep(uint32_t Elapsed, int Duration, uint8_t Timing);

class TPxTransitionEffects : public classlib::TObject {
public:
    explicit TPxTransitionEffects(TPxView* Owner);
    ~TPxTransitionEffects() override;
    std::wstring ClassName() const override { return L"TPxTransitionEffects"; }

    // Starts a transition of Type from StartPicture to EndPicture (any
    // graphics, drawn at the top left over the view's background into
    // pictures the size of the view's client area). Stops a running one
    // first, takes the view's paint lock (released by Stop) and enables the
    // timer. pxttNone or an empty client area start nothing. Duration below
    // 1 ms is taken as 1. For pxttPanZoom use StartPanZoom.
    void Start(TPxTransitionType Type, classlib::TGraphic* StartPicture, classlib::TGraphic* EndPicture,
               int Duration, bool UpdateOnStop, uint8_t Timing = 0);
    // Starts a pan-zoom over Source (borrowed; must live until Stop) from
    // the rectangle StartRect to EndRect, in pixels of Source.
    void StartPanZoom(TPxBitmap* Source, const RECT& StartRect, const RECT& EndRect, int Duration,
                      uint8_t Timing = 0);

    // Nothing unless running with a type other than pxttNone.
    void Stop();
    // The timer's handler; nothing unless running.
    void TimerStep(classlib::TObject* Sender);

    void SetOnTransitionPaint(const TPxOnTransitionPaint& Handler) { OnTransitionPaint = Handler; }

    bool GetRunning() const { return running_; }
    TPxTransitionType GetTransitionType() const { return type_; }
    int GetStep() const { return step_; }
    int GetDuration() const { return duration_; }
    uint8_t GetTiming() const { return Timing; }
    classlib::TBitmap* GetStartPicture() const { return start_.get(); }
    classlib::TBitmap* GetEndPicture() const { return end_.get(); }
    classlib::TBitmap* GetFrame() const { return frame_.get(); }
    classlib::TTimer* GetTimer() const { return timer_.get(); }

    // Composes the pan-zoom frame of Step into the frame picture.
    void ComposePanZoom(int Step);

    classlib::TNotifyEvent OnTransitionStop;
    TPxTransitionStepEvent OnTransitionStep;
    uint8_t Timing = 0;
    TPxOnTransitionPaint OnTransitionPaint;

private:
    void ShowOnView(classlib::TBitmap* Bitmap);
    void BeginRun(TPxTransitionType Type, int Duration, bool UpdateOnStop, uint8_t ATiming);

    std::unique_ptr<classlib::TBitmap> start_;
    std::unique_ptr<classlib::TBitmap> end_;
    std::unique_ptr<classlib::TBitmap> frame_;
    TPxBitmap* panZoomSource_ = nullptr;
    int width_ = 1;
    int height_ = 1;
    bool running_ = false;
    TPxView* view_;
    std::unique_ptr<classlib::TTimer> timer_;
    int step_ = 0;
    int drawnCount_ = 0;
    TPxTransitionType type_ = pxttNone;
    int duration_ = 1000;
    DWORD startTick_ = 0;
    bool updateOnStop_ = false;
    RECT panStart_{};
    RECT panEnd_{};
};

}  // namespace imaging
