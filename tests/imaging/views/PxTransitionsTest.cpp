// Transition effects: every frame type composed on small bitmaps at the
// first, a middle and the last step; the step curve; a run through a hidden
// view with the timer pumped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/ExtCtrls.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/views/view/ImgView.h"
#include "imaging/views/view/PxTransitions.h"
#include "support/HostWindow.h"

using namespace imaging;

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

constexpr int W = 16, H = 8;
const Rgb kBackground{0, 255, 0};  // TColor 0x00FF00
constexpr classlib::TColor kBackColor = static_cast<classlib::TColor>(0x00FF00);

Rgb StartPx(int X, int Y) { return Rgb{X * 10, Y * 20, 50}; }
Rgb EndPx(int X, int Y) { return Rgb{X * 10 + 5, Y * 20 + 5, 200}; }

Rgb PixelOf(classlib::TBitmap* B, int X, int Y)
{
    GdiFlush();
    const auto* row = static_cast<const uint8_t*>(B->GetScanLine(Y));
    return Rgb{row[X * 3 + 2], row[X * 3 + 1], row[X * 3]};
}

std::unique_ptr<classlib::TBitmap> MakePicture(int Width, int Height, const std::function<Rgb(int, int)>& Px)
{
    auto b = std::make_unique<classlib::TBitmap>();
    b->SetPixelFormat(classlib::pf24bit);
    b->SetSize(Width, Height);
    for (int y = 0; y < Height; ++y) {
        auto* row = static_cast<uint8_t*>(b->GetScanLine(y));
        for (int x = 0; x < Width; ++x) {
            const Rgb c = Px(x, y);
            row[x * 3] = static_cast<uint8_t>(c.b);
            row[x * 3 + 1] = static_cast<uint8_t>(c.g);
            row[x * 3 + 2] = static_cast<uint8_t>(c.r);
        }
    }
    return b;
}

struct Pictures {
    std::unique_ptr<classlib::TBitmap> start = MakePicture(W, H, StartPx);
    std::unique_ptr<classlib::TBitmap> end = MakePicture(W, H, EndPx);
    // The frame starts as a colour no type produces, so untouched pixels show.
    std::unique_ptr<classlib::TBitmap> frame = MakePicture(W, H, [](int, int) { return Rgb{1, 2, 3}; });
    int drawn = 0;

    void Compose(TPxTransitionType Type, int Step)
    {
        PxTransitionComposeFrame(Type, Step, start.get(), end.get(), frame.get(), kBackColor, drawn);
    }
    // Mismatches between the frame and Want.
    int Wrong(const std::function<Rgb(int, int)>& Want, std::string* First = nullptr)
    {
        int wrong = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const Rgb got = PixelOf(frame.get(), x, y), want = Want(x, y);
                if (!(got == want)) {
                    if (wrong == 0 && First)
                        *First = "at " + std::to_string(x) + "," + std::to_string(y) + " got " +
                                 std::to_string(got.r) + "," + std::to_string(got.g) + "," + std::to_string(got.b) +
                                 " want " + std::to_string(want.r) + "," + std::to_string(want.g) + "," +
                                 std::to_string(want.b);
                    ++wrong;
                }
            }
        return wrong;
    }
};

Rgb Mix(Rgb A, Rgb B, int S)
{
    auto m = [S](int a, int b) { return (a * (1024 - S) + b * S) >> 10; };
    return Rgb{m(A.r, B.r), m(A.g, B.g), m(A.b, B.b)};
}

const Rgb kRed{255, 0, 0};

}  // namespace

// Every type except the random ones, the zooms and pan-zoom: the whole frame
// at step 0 (after a frame of another step, so "start at step 0" shows), at
// 512 and at 1024, against the type's description worked out for 16 x 8.
TEST(PxTransitions, FramesAtFirstMiddleAndLastStep)
{
    using F = std::function<Rgb(int, int)>;
    const F start = StartPx, end = EndPx;
    const F back = [](int, int) { return kBackground; };
    struct Case {
        TPxTransitionType type;
        F at0, at512, at1024;
    };
    const Case cases[] = {
        {pxttCrossDissolve, start, [](int x, int y) { return Mix(StartPx(x, y), EndPx(x, y), 512); }, end},
        {pxttFadeOut, start, [](int x, int y) { return Mix(StartPx(x, y), kBackground, 512); }, back},
        {pxttFadeIn, back, [](int x, int y) { return Mix(kBackground, EndPx(x, y), 512); }, end},
        {pxttFadeOutIn, start, back, end},
        {pxttLeftRight1, start, [](int x, int y) { return x < 8 ? EndPx(x, y) : StartPx(x, y); }, end},
        {pxttLeftRight2, [](int x, int y) { return x == 0 ? kRed : StartPx(x, y); },
         [](int x, int y) { return x < 8 ? EndPx(x, y) : x == 8 ? kRed : StartPx(x, y); }, end},
        {pxttRightLeft1, start, [](int x, int y) { return x >= 8 ? EndPx(x, y) : StartPx(x, y); }, end},
        {pxttRightLeft2, start,
         [](int x, int y) { return x == 8 ? kRed : x > 8 ? EndPx(x, y) : StartPx(x, y); },
         [](int x, int y) { return x == 0 ? kRed : EndPx(x, y); }},
        {pxttUpDown1, start, [](int x, int y) { return y < 4 ? EndPx(x, y) : StartPx(x, y); }, end},
        {pxttUpDown2, [](int x, int y) { return y == 0 ? kRed : StartPx(x, y); },
         [](int x, int y) { return y < 4 ? EndPx(x, y) : y == 4 ? kRed : StartPx(x, y); }, end},
        {pxttDownUp1, start, [](int x, int y) { return y >= 4 ? EndPx(x, y) : StartPx(x, y); }, end},
        {pxttDownUp2, start,
         [](int x, int y) { return y == 4 ? kRed : y > 4 ? EndPx(x, y) : StartPx(x, y); },
         [](int x, int y) { return y == 0 ? kRed : EndPx(x, y); }},
        {pxttFromUpLeft, start,
         [](int x, int y) { return x < 8 && y < 4 ? EndPx(x + 8, y + 4) : StartPx(x, y); }, end},
        {pxttFromUpRight, start,
         [](int x, int y) { return x >= 8 && y < 4 ? EndPx(x - 8, y + 4) : StartPx(x, y); }, end},
        {pxttFromBottomLeft, start,
         [](int x, int y) { return x < 8 && y >= 4 ? EndPx(x + 8, y - 4) : StartPx(x, y); }, end},
        {pxttFromBottomRight, start,
         [](int x, int y) { return x >= 8 && y >= 4 ? EndPx(x - 8, y - 4) : StartPx(x, y); }, end},
        {pxttMoveLeftRight1, start, [](int x, int y) { return x < 8 ? EndPx(x + 8, y) : StartPx(x - 8, y); }, end},
        {pxttMoveLeftRight2, start, [](int x, int y) { return x < 8 ? EndPx(x, y) : StartPx(x - 8, y); }, end},
        {pxttMoveRightLeft1, start, [](int x, int y) { return x < 8 ? StartPx(x + 8, y) : EndPx(x - 8, y); }, end},
        {pxttMoveRightLeft2, start, [](int x, int y) { return x < 8 ? StartPx(x, y) : EndPx(x - 8, y); }, end},
        {pxttMoveUpDown1, start, [](int x, int y) { return y < 4 ? EndPx(x, y + 4) : StartPx(x, y - 4); }, end},
        {pxttMoveUpDown2, start, [](int x, int y) { return y < 4 ? EndPx(x, y) : StartPx(x, y - 4); }, end},
        {pxttMoveDownUp1, start, [](int x, int y) { return y < 4 ? StartPx(x, y + 4) : EndPx(x, y - 4); }, end},
        {pxttMoveDownUp2, start, [](int x, int y) { return y < 4 ? StartPx(x, y + 4) : EndPx(x, y); }, end},
        {pxttCenter1, start,
         [](int x, int y) { return x >= 4 && x < 12 && y >= 2 && y < 6 ? EndPx(x, y) : StartPx(x, y); }, end},
        {pxttCenter2, start,
         [](int x, int y) { return x >= 4 && x < 12 && y >= 2 && y < 6 ? StartPx(x, y) : EndPx(x, y); }, end},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.type));
        Pictures p;
        p.Compose(c.type, 700);  // something else first: step 0 must redraw the start
        p.Compose(c.type, 0);
        std::string first;
        EXPECT_EQ(p.Wrong(c.at0, &first), 0) << "step 0 " << first;
        p.Compose(c.type, 512);
        EXPECT_EQ(p.Wrong(c.at512, &first), 0) << "step 512 " << first;
        p.Compose(c.type, 1024);
        EXPECT_EQ(p.Wrong(c.at1024, &first), 0) << "step 1024 " << first;
    }
}

// A wipe keeps what earlier steps drew: without a step 0 the untouched part
// of the frame is not repainted with the start picture.
TEST(PxTransitions, WipeKeepsEarlierFrameContent)
{
    Pictures p;
    p.Compose(pxttLeftRight1, 256);  // columns 0..3 from the end picture
    EXPECT_EQ(PixelOf(p.frame.get(), 3, 0), EndPx(3, 0));
    EXPECT_EQ(PixelOf(p.frame.get(), 4, 0), (Rgb{1, 2, 3}));
}

// The half-tone zooms: outside the centred rectangle the underlying picture,
// inside the other one scaled (blue 200 for the end picture, 50 for the start).
TEST(PxTransitions, CentreZoomFrames)
{
    for (TPxTransitionType type : {pxttCenterZoom1, pxttCenterZoom2}) {
        SCOPED_TRACE(static_cast<int>(type));
        const bool one = type == pxttCenterZoom1;
        Pictures p;
        p.Compose(type, 0);
        EXPECT_EQ(p.Wrong(StartPx), 0);
        p.Compose(type, 512);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const bool inside = x >= 4 && x < 12 && y >= 2 && y < 6;
                const Rgb got = PixelOf(p.frame.get(), x, y);
                if (!inside) {
                    EXPECT_EQ(got, one ? StartPx(x, y) : EndPx(x, y)) << x << "," << y;
                } else {
                    EXPECT_NEAR(got.b, one ? 200 : 50, 2) << x << "," << y;
                }
            }
        p.Compose(type, 1024);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                EXPECT_NEAR(PixelOf(p.frame.get(), x, y).b, 200, 2) << x << "," << y;
    }
}

// Random types: every pixel is either the start or the end pixel of the same
// place, the drawn count follows the target formula, and later steps only add.
TEST(PxTransitions, RandomPointsAndBoxes)
{
    struct Case {
        TPxTransitionType type;
        int target512;  // rnd(512 * 16 * (512/180) / 1024) and rnd(512 * 2 * (512/180) / 1024)
    };
    for (const Case c : {Case{pxttRandomPoints, 23}, Case{pxttRandomBoxes, 3}}) {
        SCOPED_TRACE(static_cast<int>(c.type));
        Pictures p;
        p.Compose(c.type, 0);
        EXPECT_EQ(p.Wrong(StartPx), 0);
        EXPECT_EQ(p.drawn, 0);
        p.Compose(c.type, 512);
        EXPECT_EQ(p.drawn, c.target512);
        std::vector<bool> fromEnd(W * H);
        int ends = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const Rgb got = PixelOf(p.frame.get(), x, y);
                ASSERT_TRUE(got == StartPx(x, y) || got == EndPx(x, y)) << x << "," << y;
                fromEnd[y * W + x] = got == EndPx(x, y);
                ends += fromEnd[y * W + x];
            }
        EXPECT_GT(ends, 0);
        if (c.type == pxttRandomBoxes) {
            // Boxes are 8 x 8 aligned: a block is all end or all start.
            for (int by = 0; by < H; by += 8)
                for (int bx = 0; bx < W; bx += 8)
                    for (int y = by; y < by + 8; ++y)
                        for (int x = bx; x < bx + 8; ++x)
                            EXPECT_EQ(fromEnd[y * W + x], fromEnd[by * W + bx]);
        }
        p.Compose(c.type, 1024);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                if (fromEnd[y * W + x]) {
                    EXPECT_EQ(PixelOf(p.frame.get(), x, y), EndPx(x, y));
                }
    }
}

// Steps outside 0..1024 are limited; a frame of another size is cut, never
// written out of range.
TEST(PxTransitions, StepLimitsAndMismatchedSizes)
{
    Pictures p;
    p.Compose(pxttCrossDissolve, 5000);
    EXPECT_EQ(p.Wrong(EndPx), 0);
    p.Compose(pxttCrossDissolve, -40);
    EXPECT_EQ(p.Wrong(StartPx), 0);

    auto small = MakePicture(5, 3, EndPx);
    int drawn = 0;
    for (int t = pxttCrossDissolve; t <= pxttCenterZoom2; ++t)
        for (int s : {0, 300, 1024})
            PxTransitionComposeFrame(static_cast<TPxTransitionType>(t), s, p.start.get(), small.get(),
                                     p.frame.get(), kBackColor, drawn);
    // CrossDissolve at 1024 after all: the small picture's part is exact.
    PxTransitionComposeFrame(pxttCrossDissolve, 1024, p.start.get(), small.get(), p.frame.get(), kBackColor, drawn);
    EXPECT_EQ(PixelOf(p.frame.get(), 4, 2), EndPx(4, 2));
}

TEST(PxTransitions, NextStepCurves)
{
    struct Case {
        uint32_t elapsed;
        int duration;
        uint8_t timing;
        int step;
    };
    const Case cases[] = {
        {0, 1000, 0, 0},       {500, 1000, 0, 512},   {999, 1000, 0, 1022}, {1000, 1000, 0, 1024},
        {3000, 1000, 0, 1024}, {0, 1000, 1, 6},       {500, 1000, 1, 82},   {1000, 1000, 1, 1003},
        {2000, 1000, 1, 1024}, {0, 1000, 2, 0},       {1, 1000, 2, 0},      {10, 1000, 2, 85},
        {500, 1000, 2, 886},   {1000, 1000, 2, 1024},
    };
    // Worked by hand: exponential exp(-2.718)/10*1024 = 6.8, exp(-0.218)/10*1024 =
    // 82.3, exp(2.282)/10*1024 = 1003.1; logarithmic at 1 ms (ln 0.01 + 2.718)/5*1024
    // is negative (limited to 0), at 10 ms 85.1, at 500 ms 886.3, at 1000 ms 1028.2.
    for (const Case& c : cases)
        EXPECT_EQ(PxTransitionNextStep(c.elapsed, c.duration, c.timing), c.step)
            << c.elapsed << " " << int(c.timing);
}

namespace {

// A hidden top-level window holding a borderless view without scroll bars.
class Host {
public:
    Host()
    {
        host_ = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED | WS_CLIPCHILDREN, 0, 0, 200, 200, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
        view = std::make_unique<TImgView>(nullptr);
        view->SetBorderStyle(bsNone);
        view->SetScrollBars(classlib::ssNone);
        view->SetParentWindow(host_);
        view->SetBounds(0, 0, W, H);
        view->GetHandle();
        view->SetBackground(kBackColor);
    }
    ~Host()
    {
        view.reset();
        DestroyWindow(host_);
    }
    void Show() { ShowWindow(host_, SW_SHOWNOACTIVATE); }
    std::unique_ptr<TImgView> view;

private:
    HWND host_;
};

bool PumpUntil(const std::function<bool()>& Done, int Seconds = 10)
{
    const auto stop = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
    while (std::chrono::steady_clock::now() < stop) {
        testsupport::PumpMessages();
        if (Done())
            return true;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
    }
    return false;
}

struct Recorder : classlib::TObject {
    int stops = 0;
    std::vector<int> steps;
    std::vector<int> paintSteps;
    Rgb lastShown{-1, -1, -1};
    Rgb lastEndPixel{-1, -1, -1};
    int lockDuringRun = -1;
    TImgView* view = nullptr;
    void Stop(classlib::TObject*) { ++stops; }
    void Step(classlib::TObject*, int S)
    {
        steps.push_back(S);
        lockDuringRun = view->GetPaintLockCount();
    }
    void Paint(classlib::TObject*, classlib::TBitmap* B, TPxTransitionEffects*, int S)
    {
        paintSteps.push_back(S);
        lastShown = PixelOf(B, 3, 2);
    }
};

}  // namespace

TEST(PxTransitions, IdleStateAndStopWithoutRun)
{
    Host host;
    TPxTransitionEffects fx(host.view.get());
    Recorder rec;
    rec.view = host.view.get();
    fx.OnTransitionStop = classlib::TNotifyEvent(&rec, &Recorder::Stop);
    EXPECT_FALSE(fx.GetRunning());
    EXPECT_EQ(fx.GetTransitionType(), pxttNone);
    EXPECT_EQ(fx.GetDuration(), 1000);
    EXPECT_EQ(fx.GetFrame()->GetWidth(), 1);
    EXPECT_EQ(fx.GetStartPicture()->GetHeight(), 1);
    EXPECT_EQ(fx.GetEndPicture()->GetPixelFormat(), classlib::pf24bit);
    EXPECT_FALSE(fx.GetTimer()->GetEnabled());
    EXPECT_EQ(fx.GetTimer()->GetInterval(), 1u);
    fx.Stop();
    fx.TimerStep(nullptr);
    EXPECT_EQ(rec.stops, 0);
    // pxttNone starts nothing.
    auto a = MakePicture(W, H, StartPx);
    fx.Start(pxttNone, a.get(), a.get(), 50, true);
    EXPECT_FALSE(fx.GetRunning());
    EXPECT_EQ(host.view->GetPaintLockCount(), 0);
}

// A full run in a hidden view: steps rise to at most 1024, the paint lock is
// held during the run and released after, the last frame shown with update
// on stop is the end picture, and the stop event fires once.
TEST(PxTransitions, RunThroughHiddenView)
{
    for (uint8_t timing : {0, 1, 2}) {
        SCOPED_TRACE(int(timing));
        Host host;
        TPxTransitionEffects fx(host.view.get());
        Recorder rec;
        rec.view = host.view.get();
        fx.OnTransitionStop = classlib::TNotifyEvent(&rec, &Recorder::Stop);
        fx.OnTransitionStep = TPxTransitionStepEvent(&rec, &Recorder::Step);
        fx.SetOnTransitionPaint(TPxOnTransitionPaint(&rec, &Recorder::Paint));
        auto a = MakePicture(W, H, StartPx);
        auto b = MakePicture(W, H, EndPx);
        const int lock0 = host.view->GetPaintLockCount();
        fx.Start(pxttCrossDissolve, a.get(), b.get(), 150, true, timing);
        ASSERT_TRUE(fx.GetRunning());
        EXPECT_EQ(fx.GetFrame()->GetWidth(), W);
        EXPECT_EQ(fx.GetFrame()->GetHeight(), H);
        ASSERT_TRUE(PumpUntil([&] { return rec.stops > 0; }));
        EXPECT_EQ(rec.stops, 1);
        EXPECT_FALSE(fx.GetRunning());
        EXPECT_EQ(rec.lockDuringRun, lock0 + 1);
        EXPECT_EQ(host.view->GetPaintLockCount(), lock0);
        ASSERT_FALSE(rec.steps.empty());
        EXPECT_EQ(rec.steps.front(), 0);
        for (size_t i = 1; i < rec.steps.size(); ++i) {
            EXPECT_GE(rec.steps[i], rec.steps[i - 1]);
            EXPECT_LE(rec.steps[i], 1024);
        }
        ASSERT_FALSE(rec.paintSteps.empty());
        EXPECT_EQ(rec.paintSteps.back(), 1024);
        EXPECT_EQ(rec.lastShown, EndPx(3, 2));
        EXPECT_EQ(fx.GetFrame()->GetWidth(), 1);
        EXPECT_EQ(fx.GetEndPicture()->GetWidth(), 1);
        EXPECT_FALSE(fx.GetTimer()->GetEnabled());
    }
}

// Pan-zoom: an unclipped rectangle fills the frame; one reaching past the
// source is fitted, centred, over the background.
TEST(PxTransitions, PanZoomFrames)
{
    Host host;
    TPxBitmap source;
    source.Allocate(32, 16, px24RGB);
    for (int y = 0; y < 16; ++y) {
        uint8_t* row = source.GetScanline(y);
        for (int x = 0; x < 32; ++x) {
            row[x * 3] = 200;
            row[x * 3 + 1] = static_cast<uint8_t>(y * 10);
            row[x * 3 + 2] = static_cast<uint8_t>(x * 5);
        }
    }
    TPxTransitionEffects fx(host.view.get());
    fx.StartPanZoom(&source, RECT{0, 0, 16, 8}, RECT{-16, 0, 48, 16}, 60000);
    ASSERT_TRUE(fx.GetRunning());
    EXPECT_EQ(host.view->GetPaintLockCount(), 1);
    fx.ComposePanZoom(0);  // 16 x 8 from (0, 0) onto 16 x 8: one to one
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            ASSERT_EQ(PixelOf(fx.GetFrame(), x, y), (Rgb{x * 5, y * 10, 200})) << x << "," << y;
    // At 1024: left -16 -> 0, width 48 -> 32, height 16: clipped; 32 x 16 into
    // 16 x 8 is the whole frame at half scale (same proportions).
    fx.ComposePanZoom(1024);
    EXPECT_EQ(PixelOf(fx.GetFrame(), 0, 0).b, 200);
    // At 512: (-8, 0, 32, 12): left clipped -> 0, width 32, height 12; 32/16 >
    // 12/8, so 16 x 6 centred at y = 1: rows 0 and 7 are background.
    fx.ComposePanZoom(512);
    EXPECT_EQ(PixelOf(fx.GetFrame(), 5, 0).b, 0);
    EXPECT_EQ(PixelOf(fx.GetFrame(), 5, 7).b, 0);
    EXPECT_EQ(PixelOf(fx.GetFrame(), 5, 3).b, 200);
    fx.Stop();
    EXPECT_FALSE(fx.GetRunning());
    EXPECT_EQ(host.view->GetPaintLockCount(), 0);
}

// The frames go onto the view's window: in a shown window without update on
// stop, the window keeps the last frame the paint event reported.
TEST(PxTransitions, FramesReachTheWindow)
{
    Host host;
    host.Show();
    PumpUntil([] { return true; });  // the first paint of the shown window
    TPxTransitionEffects fx(host.view.get());
    Recorder rec;
    rec.view = host.view.get();
    fx.OnTransitionStop = classlib::TNotifyEvent(&rec, &Recorder::Stop);
    fx.SetOnTransitionPaint(TPxOnTransitionPaint(&rec, &Recorder::Paint));
    auto a = MakePicture(W, H, StartPx);
    auto b = MakePicture(W, H, EndPx);
    fx.Start(pxttLeftRight1, a.get(), b.get(), 100, false);
    ASSERT_TRUE(PumpUntil([&] { return rec.stops > 0; }));
    HWND wnd = host.view->GetHandle();
    HDC dc = GetDC(wnd);
    const COLORREF c = GetPixel(dc, 3, 2);
    ReleaseDC(wnd, dc);
    ASSERT_NE(c, CLR_INVALID);
    EXPECT_EQ(c, RGB(rec.lastShown.r, rec.lastShown.g, rec.lastShown.b));
}
