#include <windows.h>

#include <gtest/gtest.h>

#include "classlib/ExtCtrls.h"
#include "support/HostWindow.h"

using namespace classlib;
using testsupport::THostWindow;

namespace {

COLORREF PixelOf(HWND wnd, int x, int y)
{
    ::RedrawWindow(wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    TWindowDC dc(wnd);
    return ::GetPixel(dc.Get(), x, y);
}

COLORREF Rgb(TColor c) { return static_cast<COLORREF>(ColorToRGB(c)); }

struct TTicks {
    int Count = 0;
    DWORD Thread = 0;
    TTimer* StopAt3 = nullptr;
    void Tick(TObject*)
    {
        ++Count;
        Thread = ::GetCurrentThreadId();
        if (StopAt3 && Count == 3) StopAt3->SetEnabled(false);
    }
};

// Serves this thread's messages for Ms milliseconds.
void PumpFor(DWORD Ms)
{
    DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < Ms) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    }
}

}  // namespace

TEST(Panel, PaintsBevelsColourAndCaption)
{
    THostWindow hostWindow(200, 120);
    const HWND host = hostWindow.Get();
    {
        TPanel panel(nullptr);
        panel.SetParentWindow(host);
        panel.SetBounds(0, 0, 120, 60);
        panel.SetColor(clRed);
        panel.SetBevelOuter(bvRaised);
        panel.SetBevelInner(bvLowered);
        HWND wnd = panel.GetHandle();
        EXPECT_EQ(Rgb(clBtnHighlight), PixelOf(wnd, 0, 0));
        EXPECT_EQ(Rgb(clBtnShadow), PixelOf(wnd, 119, 59));
        EXPECT_EQ(Rgb(clBtnShadow), PixelOf(wnd, 1, 1));  // the inner, lowered bevel
        EXPECT_EQ(Rgb(clBtnHighlight), PixelOf(wnd, 118, 58));
        EXPECT_EQ(Rgb(clRed), PixelOf(wnd, 60, 30));

        panel.SetBevelInner(bvNone);
        panel.SetBevelOuter(bvNone);
        panel.SetBorderStyle(bsSingle);
        EXPECT_EQ(Rgb(clWindowFrame), PixelOf(wnd, 0, 0));
        EXPECT_EQ(Rgb(clRed), PixelOf(wnd, 1, 1));

        // The caption is drawn in the middle.
        auto textPixels = [&] {
            int n = 0;
            ::RedrawWindow(wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
            TWindowDC dc(wnd);
            for (int y = 20; y < 40; ++y)
                for (int x = 30; x < 90; ++x)
                    if (::GetPixel(dc.Get(), x, y) != Rgb(clRed)) ++n;
            return n;
        };
        EXPECT_EQ(0, textPixels());
        panel.SetCaption(L"Hello");
        EXPECT_GT(textPixels(), 0);
    }
}

TEST(Timer, FiresOnTheCreatingThreadWhileMessagesArePumped)
{
    TTimer timer(nullptr);
    TTicks ticks;
    ticks.StopAt3 = &timer;
    timer.SetInterval(10);
    timer.SetOnTimer(TNotifyEvent(&ticks, &TTicks::Tick));
    DWORD start = ::GetTickCount();
    while (ticks.Count < 3 && ::GetTickCount() - start < 3000) PumpFor(10);
    EXPECT_EQ(3, ticks.Count);
    EXPECT_EQ(::GetCurrentThreadId(), ticks.Thread);
    // Disabled from its own handler: no more ticks.
    PumpFor(80);
    EXPECT_EQ(3, ticks.Count);
    EXPECT_FALSE(timer.GetEnabled());
}

TEST(Timer, OnlyRunsWhenEnabledWithIntervalAndHandler)
{
    TTicks ticks;
    {
        TTimer timer(nullptr);
        timer.SetEnabled(false);
        timer.SetInterval(5);
        timer.SetOnTimer(TNotifyEvent(&ticks, &TTicks::Tick));
        PumpFor(60);
        EXPECT_EQ(0, ticks.Count);
        timer.SetInterval(0);
        timer.SetEnabled(true);
        PumpFor(60);
        EXPECT_EQ(0, ticks.Count);
        timer.SetInterval(5);
        DWORD start = ::GetTickCount();
        while (ticks.Count == 0 && ::GetTickCount() - start < 3000) PumpFor(10);
        EXPECT_GT(ticks.Count, 0);
    }
    // Deleted: its pending ticks call nothing.
    int seen = ticks.Count;
    PumpFor(40);
    EXPECT_EQ(seen, ticks.Count);
}
