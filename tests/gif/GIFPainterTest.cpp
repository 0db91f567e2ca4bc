// Drawing and the animation painter.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include "GIFTestUtil.h"
#include "gif/GIFPainter.h"

using namespace gif;
using namespace giftest;
using classlib::TBitmap;

namespace {

std::unique_ptr<TBitmap> Canvas(int W, int H, classlib::TColor Fill)
{
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(classlib::pf24bit);
    b->SetSize(W, H);
    b->GetCanvas()->GetBrush()->SetColor(Fill);
    b->GetCanvas()->FillRect(RECT{0, 0, W, H});
    return b;
}

constexpr classlib::TColor Red = 0x0000FF, Blue = 0xFF0000, White = 0xFFFFFF, Green = 0x00FF00;

// Records the painter's events.
struct Recorder {
    std::vector<int> FrameEnds;
    int PassStarts = 0;
    bool Ended = false;
    int RestartAfter = -1;
    void FrameEnd(classlib::TObject* Sender)
    {
        auto* p = static_cast<TGIFPainter*>(Sender);
        FrameEnds.push_back(p->ActiveFrame);
        if (RestartAfter >= 0 && static_cast<int>(FrameEnds.size()) == RestartAfter)
            p->ActiveFrame = 0;
    }
    void PassStart(classlib::TObject*) { ++PassStarts; }
    void RunEnd(classlib::TObject*) { Ended = true; }
    void Attach(TGIFImage& Image)
    {
        Image.OnFrameEnd = classlib::TNotifyEvent(this, &Recorder::FrameEnd);
        Image.OnPassStart = classlib::TNotifyEvent(this, &Recorder::PassStart);
        Image.OnRunEnd = classlib::TNotifyEvent(this, &Recorder::RunEnd);
    }
};

// Three full-screen frames (red, blue, white) with 1-unit delays.
void ThreeFrames(TGIFImage& Image, int LoopCount, int Delay = 1)
{
    SetGlobal(Image, {{255, 255, 255}, {255, 0, 0}, {0, 0, 255}});
    const uint8_t Colors[3] = {1, 2, 0};
    for (int i = 0; i < 3; ++i) {
        TGIFSubImage* f = AddFrame(Image, 0, 0, 4, 4, std::vector<uint8_t>(16, Colors[i]));
        if (i == 0 && LoopCount >= 0) {
            auto* Loop = new TGIFAppExtNSLoop(f);
            Loop->LoopCount = static_cast<uint16_t>(LoopCount);
            f->GetExtensions()->Add(Loop);
        }
        AddControl(f, 1, Delay);
    }
}

// Serves synchronised calls until Done or the time-out.
template <class F>
bool PumpUntil(F Done, DWORD TimeoutMs)
{
    const DWORD Start = ::timeGetTime();
    while (!Done()) {
        if (::timeGetTime() - Start > TimeoutMs)
            return false;
        classlib::CheckSynchronize(10);
    }
    return true;
}

int PainterCount(TGIFImage& Image)
{
    classlib::TThreadListLock Lock(*Image.GetPainters());
    return Lock.List().GetCount();
}

}  // namespace

TEST(GIFDraw, StillFrameScaledIntoRectangle)
{
    TGIFImage Image;
    SetGlobal(Image, {{0, 0, 0}, {255, 0, 0}});
    AddFrame(Image, 5, 5, 10, 10, std::vector<uint8_t>(100, 1));
    Image.SetWidth(20);
    Image.SetHeight(20);
    auto Target = Canvas(50, 50, Green);
    Target->GetCanvas()->StretchDraw(RECT{0, 0, 40, 40}, &Image);
    classlib::TCanvas* c = Target->GetCanvas();
    EXPECT_EQ(c->GetPixel(9, 9), Green);
    EXPECT_EQ(c->GetPixel(10, 10), Red);
    EXPECT_EQ(c->GetPixel(29, 29), Red);
    EXPECT_EQ(c->GetPixel(30, 30), Green);
    EXPECT_EQ(PainterCount(Image), 0);
    EXPECT_THROW(Image.SetWidth(14), GIFException);
    EXPECT_EQ(Image.GetWidth(), 20);
}

TEST(GIFDraw, TransparentPixelsLeaveTheCanvas)
{
    for (int Scale : {1, 3}) {
        SCOPED_TRACE(Scale);
        TGIFImage Image;
        SetGlobal(Image, {{0, 0, 0}, {255, 0, 0}});
        TGIFSubImage* f = AddFrame(Image, 0, 0, 4, 4, std::vector<uint8_t>(16, 1));
        f->Pixels(0, 0) = 0;
        f->Pixels(3, 3) = 0;
        AddControl(f, 0, 0, 0);
        auto Target = Canvas(12, 12, Green);
        classlib::TCanvas* c = Target->GetCanvas();
        const COLORREF Text = ::SetTextColor(c->GetHandle(), RGB(1, 2, 3));
        const COLORREF Back = ::SetBkColor(c->GetHandle(), RGB(4, 5, 6));
        f->Draw(c, RECT{0, 0, 4 * Scale, 4 * Scale}, true, false);
        EXPECT_EQ(c->GetPixel(0, 0), Green);
        EXPECT_EQ(c->GetPixel(Scale, 0), Red);
        EXPECT_EQ(c->GetPixel(4 * Scale - 1, 4 * Scale - 1), Green);
        EXPECT_EQ(::GetTextColor(c->GetHandle()), RGB(1, 2, 3));
        EXPECT_EQ(::GetBkColor(c->GetHandle()), RGB(4, 5, 6));
        ::SetTextColor(c->GetHandle(), Text);
        ::SetBkColor(c->GetHandle(), Back);
        // Without transparency the pixel is drawn with its colour (black).
        f->Draw(c, RECT{0, 0, 4, 4}, false, false);
        EXPECT_EQ(c->GetPixel(0, 0), 0);
    }
}

// A threaded painter on a bitmap canvas (a memory DC, accepted by
// gdfCheckCanvas) plays the frames in order, as often as the loop extension
// says, while the main thread serves its synchronised calls.
TEST(GIFPainter, ThreadedPlaysLoopsInOrder)
{
    TGIFImage Image;
    ThreeFrames(Image, 2);
    Recorder Rec;
    Rec.Attach(Image);
    auto Target = Canvas(4, 4, Green);
    TGIFPainter* Ref = nullptr;
    TGIFPainter* p = Image.Paint(&Ref, Target->GetCanvas(),
                                 gdfThreaded | gdfAnimate | gdfLoop | gdfCheckCanvas, RECT{0, 0, 4, 4});
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Ref, p);
    p->Start();
    ASSERT_TRUE(PumpUntil([&] { return Rec.Ended && Ref == nullptr; }, 10000));
    EXPECT_EQ(Rec.FrameEnds, (std::vector<int>{0, 1, 2, 0, 1, 2}));
    EXPECT_EQ(Rec.PassStarts, 1);
    EXPECT_EQ(Target->GetCanvas()->GetPixel(1, 1), White);
    EXPECT_TRUE(PumpUntil([&] { return PainterCount(Image) == 0; }, 5000));
}

TEST(GIFPainter, FrameEndHandlerCanRestart)
{
    TGIFImage Image;
    ThreeFrames(Image, -1);
    Recorder Rec;
    Rec.RestartAfter = 2;
    Rec.Attach(Image);
    auto Target = Canvas(4, 4, Green);
    TGIFPainter* Ref = nullptr;
    // Unthreaded: runs to its end on this thread.
    EXPECT_EQ(Image.Paint(&Ref, Target->GetCanvas(), gdfAnimate | gdfLoop, RECT{0, 0, 4, 4}), nullptr);
    EXPECT_EQ(Ref, nullptr);
    EXPECT_EQ(Rec.FrameEnds, (std::vector<int>{0, 1, 0, 1, 2}));
    EXPECT_EQ(Rec.PassStarts, 0);
    EXPECT_TRUE(Rec.Ended);
}

// Stopping during a 6-second delay ends the painter at once, without
// deadlock, while the main thread waits in StopPainters.
TEST(GIFPainter, StopDuringLongDelay)
{
    TGIFImage Image;
    ThreeFrames(Image, 0, 500);
    Recorder Rec;
    Rec.Attach(Image);
    auto Target = Canvas(4, 4, Green);
    TGIFPainter* Ref = nullptr;
    TGIFPainter* p = Image.Paint(&Ref, Target->GetCanvas(), gdfThreaded | gdfAnimate | gdfLoop, RECT{0, 0, 4, 4});
    ASSERT_NE(p, nullptr);
    p->Start();
    ASSERT_TRUE(PumpUntil([&] { return Rec.FrameEnds.size() == 1; }, 5000));
    const DWORD Start = ::timeGetTime();
    Image.StopPainters();
    EXPECT_LT(::timeGetTime() - Start, 2000u);
    EXPECT_EQ(Ref, nullptr);
    EXPECT_EQ(Rec.FrameEnds.size(), 1u);
    EXPECT_EQ(PainterCount(Image), 0);
}

// Disposal 2 without gdfTransparent restores the frame's area to the
// background colour (white here), not to a hatch pattern.
TEST(GIFPainter, RestoreToBackgroundFillsBackgroundColour)
{
    TGIFImage Image;
    SetGlobal(Image, {{255, 255, 255}, {255, 0, 0}, {0, 0, 255}});
    TGIFSubImage* f0 = AddFrame(Image, 0, 0, 4, 4, std::vector<uint8_t>(16, 1));
    AddControl(f0, 2, 3);
    TGIFSubImage* f1 = AddFrame(Image, 8, 8, 2, 2, std::vector<uint8_t>(4, 2));
    AddControl(f1, 1, 3);
    auto Target = Canvas(10, 10, Green);
    TGIFPainter* Ref = nullptr;
    Image.Paint(&Ref, Target->GetCanvas(), gdfAnimate | gdfCheckCanvas, RECT{0, 0, 10, 10});
    classlib::TCanvas* c = Target->GetCanvas();
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            ASSERT_EQ(c->GetPixel(x, y), White) << x << "," << y;
    EXPECT_EQ(c->GetPixel(9, 9), Blue);
    EXPECT_EQ(c->GetPixel(5, 5), Green);
}

// Draw of an animated picture starts a threaded painter into a backing
// bitmap and waits, serving synchronised calls, for its first frame.
TEST(GIFPainter, AnimatedDrawThroughBackingBitmap)
{
    TGIFImage Image;
    ThreeFrames(Image, 0, 3);
    int Changes = 0;
    struct Counter {
        int* n;
        void Hit(classlib::TObject*) { ++*n; }
    } C{&Changes};
    Image.OnChange = classlib::TNotifyEvent(&C, &Counter::Hit);
    auto Target = Canvas(8, 8, Green);
    Target->GetCanvas()->StretchDraw(RECT{0, 0, 8, 8}, &Image);
    EXPECT_EQ(Target->GetCanvas()->GetPixel(3, 3), Red);
    EXPECT_TRUE(Image.HasBackingBitmap());
    EXPECT_NE(Image.GetShowPainter(), nullptr);
    // Later frames reach the backing bitmap and fire OnChange.
    EXPECT_TRUE(PumpUntil([&] { return Changes > 2; }, 5000));
    // Recolouring the global table of a drawn picture drops the bitmap.
    Changes = 0;
    Image.GetGlobalColorMap()->SetColor(1, MakeRGB(1, 2, 3));
    EXPECT_FALSE(Image.HasBackingBitmap());
    EXPECT_GE(Changes, 1);
    Image.StopPainters();
    EXPECT_EQ(Image.GetShowPainter(), nullptr);
}

// An unthreaded painter waits 1-unit delays as 3 units (36 ms) and keeps the
// thread's messages flowing; a WM_QUIT ends it and is posted again.
TEST(GIFPainter, UnthreadedTimingAndQuit)
{
    TGIFImage Image;
    ThreeFrames(Image, -1, 1);
    Recorder Rec;
    Rec.Attach(Image);
    auto Target = Canvas(4, 4, Green);
    TGIFPainter* Ref = nullptr;
    const DWORD Start = ::timeGetTime();
    Image.Paint(&Ref, Target->GetCanvas(), gdfAnimate, RECT{0, 0, 4, 4});
    const DWORD Took = ::timeGetTime() - Start;
    EXPECT_EQ(Rec.FrameEnds, (std::vector<int>{0, 1, 2}));
    EXPECT_GE(Took, 70u);  // 12 ms before the first frame, then 2 x 36 ms less slack
    EXPECT_LT(Took, 2000u);

    Rec.FrameEnds.clear();
    ::PostQuitMessage(7);
    Image.Paint(&Ref, Target->GetCanvas(), gdfAnimate, RECT{0, 0, 4, 4});
    EXPECT_TRUE(Rec.FrameEnds.empty());
    MSG Msg;
    ASSERT_TRUE(::PeekMessageW(&Msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(Msg.wParam, 7u);
}

// Speed 0 on a threaded painter: the first frame, then a wait until stopped.
TEST(GIFPainter, SpeedZeroWaitsUntilStopped)
{
    TGIFImage Image;
    ThreeFrames(Image, 0, 1);
    Image.SpeedPercent = 0;
    Recorder Rec;
    Rec.Attach(Image);
    auto Target = Canvas(4, 4, Green);
    TGIFPainter* Ref = nullptr;
    Image.Paint(&Ref, Target->GetCanvas(), gdfThreaded | gdfAnimate | gdfLoop, RECT{0, 0, 4, 4})->Start();
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(Rec.FrameEnds, std::vector<int>{0});
    EXPECT_EQ(Target->GetCanvas()->GetPixel(0, 0), Red);
    Image.StopPainters();
    EXPECT_EQ(Ref, nullptr);
    EXPECT_EQ(PainterCount(Image), 0);
}
