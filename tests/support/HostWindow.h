// A plain top-level window of Win32 to put controls in, for the tests that
// need real windows (painting, mouse messages, drop targets found under the
// pointer), and the message pump they wait with.
#pragma once

#include <windows.h>

namespace testsupport {

// Dispatches every message waiting in the calling thread's queue.
inline void PumpMessages()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

// A white popup window of Width x Height at the screen's top-left corner,
// destroyed with the object. Shown without activation: under a display
// without a window manager an activated top-level window takes seconds to
// hide. ExStyle WS_EX_TOPMOST keeps it above other windows, for the tests
// that look up the window under the pointer.
class THostWindow {
public:
    explicit THostWindow(int Width = 320, int Height = 240, bool Show = true, DWORD ExStyle = 0)
    {
        static const bool registered = [] {
            WNDCLASSEXW wc{};
            wc.cbSize = sizeof(wc);
            wc.lpfnWndProc = ::DefWindowProcW;
            wc.hInstance = ::GetModuleHandleW(nullptr);
            wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
            wc.lpszClassName = kClassName;
            return ::RegisterClassExW(&wc) != 0;
        }();
        (void)registered;
        wnd_ = ::CreateWindowExW(ExStyle, kClassName, L"host", WS_POPUP | WS_CLIPCHILDREN, 0, 0, Width, Height,
                                 nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        if (Show) ::ShowWindow(wnd_, SW_SHOWNOACTIVATE);
        PumpMessages();
    }
    ~THostWindow()
    {
        if (::IsWindow(wnd_)) ::DestroyWindow(wnd_);
        PumpMessages();
    }
    THostWindow(const THostWindow&) = delete;
    THostWindow& operator=(const THostWindow&) = delete;

    HWND Get() const { return wnd_; }
    static void Pump() { PumpMessages(); }

private:
    static constexpr const wchar_t* kClassName = L"TestHostWindow";
    HWND wnd_ = nullptr;
};

// Sends a mouse message with client coordinates to a window.
inline void SendMouse(HWND Wnd, UINT Msg, int X, int Y, WPARAM Keys)
{
    ::SendMessageW(Wnd, Msg, Keys, MAKELPARAM(static_cast<WORD>(X), static_cast<WORD>(Y)));
}

}  // namespace testsupport
