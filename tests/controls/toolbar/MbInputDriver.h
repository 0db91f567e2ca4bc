// Input for modal loops from a second thread: messages are posted to the
// window that holds the main thread's mouse capture, each followed by a
// synchronisation that returns only when the loop has handled it (two sent
// no-op messages: the first is served by the retrieval that returns the
// posted message, the second by the next one). Mouse positions are given on
// the screen and turned into the capture window's client coordinates at
// the moment of posting, so a window that moved meanwhile is followed.
#pragma once

#include <windows.h>

#include "classlib/Forms.h"

#include <atomic>
#include <functional>
#include <thread>

namespace mbtest {

// Polls for up to ten seconds (test programs share the machine).
inline bool WaitFor(const std::function<bool()>& Done)
{
    for (int i = 0; i < 1000; ++i) {
        if (Done()) return true;
        ::Sleep(10);
    }
    return false;
}

class TInputDriver {
public:
    explicit TInputDriver(DWORD Thread) : thread_(Thread) {}
    // The main thread's capture window, once it has one.
    HWND WaitCapture(HWND Expected = nullptr)
    {
        HWND found = nullptr;
        WaitFor([&] {
            found = Capture();
            return found && (!Expected || found == Expected);
        });
        return found;
    }
    HWND Capture() const
    {
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        return ::GetGUIThreadInfo(thread_, &info) ? info.hwndCapture : nullptr;
    }
    // Waits until the main thread holds no capture (its loop ended).
    bool WaitReleased()
    {
        return WaitFor([&] { return Capture() == nullptr; });
    }
    // Last: the message ends the loop, so nothing waits for a retrieval.
    void Mouse(UINT Msg, POINT Screen, WPARAM Keys = 0, bool Last = false)
    {
        const HWND w = WaitCapture();
        if (!w) return;
        POINT c = Screen;
        ::ScreenToClient(w, &c);
        ::PostMessageW(w, Msg, Keys, MAKELPARAM(static_cast<short>(c.x), static_cast<short>(c.y)));
        if (!Last) Sync(w);
    }
    void Key(UINT Msg, WPARAM Vk, bool Last = false)
    {
        const HWND w = WaitCapture();
        if (!w) return;
        ::PostMessageW(w, Msg, Vk, Msg == WM_KEYUP ? 0xC0000001 : 1);
        if (!Last) Sync(w);
    }
    void MoveTo(POINT Screen) { Mouse(WM_MOUSEMOVE, Screen, MK_LBUTTON); }
    void Release(POINT Screen) { Mouse(WM_LBUTTONUP, Screen, 0, true); }

    // The same through the platform's input queue, as a user's mouse gives
    // it: the pointer really moves, and a press goes through hit testing to
    // the window under it. A move made while a loop holds the capture
    // returns when the loop has taken it.
    void RealMoveTo(POINT Screen)
    {
        ::SetCursorPos(Screen.x, Screen.y);
        RealInput(MOUSEEVENTF_MOVE);
    }
    void RealPress(POINT Screen)
    {
        ::SetCursorPos(Screen.x, Screen.y);
        RealInput(MOUSEEVENTF_LEFTDOWN, false);
    }
    void RealRelease(POINT Screen)
    {
        ::SetCursorPos(Screen.x, Screen.y);
        RealInput(MOUSEEVENTF_LEFTUP, false);
    }
    void RealRightPress(POINT Screen)
    {
        ::SetCursorPos(Screen.x, Screen.y);
        RealInput(MOUSEEVENTF_RIGHTDOWN, false);
    }
    void RealRightRelease(POINT Screen)
    {
        ::SetCursorPos(Screen.x, Screen.y);
        RealInput(MOUSEEVENTF_RIGHTUP, false);
    }
    // A key pressed and released on the keyboard (to the focused window);
    // returns when a running loop has taken it.
    void RealKey(WORD Vk)
    {
        INPUT in[2]{};
        in[0].type = in[1].type = INPUT_KEYBOARD;
        in[0].ki.wVk = in[1].ki.wVk = Vk;
        in[1].ki.dwFlags = KEYEVENTF_KEYUP;
        ::SendInput(2, in, sizeof(INPUT));
        if (const HWND w = Capture()) Sync(w);
    }

private:
    void RealInput(DWORD Flags, bool Wait = true)
    {
        INPUT in{};
        in.type = INPUT_MOUSE;
        in.mi.dwFlags = Flags;  // relative and zero: where the pointer is
        ::SendInput(1, &in, sizeof(in));
        // Without a loop holding the capture there is nothing to wait for.
        if (Wait)
            if (const HWND w = Capture()) Sync(w);
    }
    static void Sync(HWND W)
    {
        DWORD_PTR r = 0;
        ::SendMessageTimeoutW(W, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &r);
        ::SendMessageTimeoutW(W, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &r);
    }
    DWORD thread_;
};

// Runs Body on the main thread while Drive feeds it input from another.
inline void RunDriven(const std::function<void()>& Body, const std::function<void(TInputDriver&)>& Drive)
{
    TInputDriver driver(::GetCurrentThreadId());
    std::thread t([&] { Drive(driver); });
    Body();
    t.join();
}

// Runs Steps on another thread while this one serves its messages (the
// menu loops the input starts run inside); returns once Steps has ended and
// what it left queued (deferred clicks) has run.
inline void RunServing(const std::function<void(TInputDriver&)>& Steps)
{
    std::atomic<bool> done{false};
    RunDriven(
        [&] {
            while (!done) classlib::Application->ProcessMessages(), ::Sleep(5);
            classlib::Application->ProcessMessages();
            classlib::Application->ProcessMessages();
        },
        [&](TInputDriver& d) {
            struct TDone {
                std::atomic<bool>& Flag;
                ~TDone() { Flag = true; }
            } finish{done};
            Steps(d);
        });
}

}  // namespace mbtest
