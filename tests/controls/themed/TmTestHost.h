// A plain top-level window at the screen's top-left corner for the themed
// control tests that need real windows (mouse messages, drag targets found
// under the pointer).
#pragma once

#include <windows.h>

class TTmTestHost {
public:
    explicit TTmTestHost(int Width = 640, int Height = 400, bool Show = true)
    {
        static bool registered = false;
        if (!registered) {
            WNDCLASSEXW wc{};
            wc.cbSize = sizeof(wc);
            wc.lpfnWndProc = ::DefWindowProcW;
            wc.hInstance = ::GetModuleHandleW(nullptr);
            wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
            wc.lpszClassName = L"TmTestHost";
            ::RegisterClassExW(&wc);
            registered = true;
        }
        wnd_ = ::CreateWindowExW(WS_EX_TOPMOST, L"TmTestHost", L"host", WS_POPUP | WS_CLIPCHILDREN, 0, 0, Width,
                                 Height, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        if (Show) ::ShowWindow(wnd_, SW_SHOWNOACTIVATE);
        Pump();
    }
    ~TTmTestHost()
    {
        if (::IsWindow(wnd_)) ::DestroyWindow(wnd_);
        Pump();
    }
    TTmTestHost(const TTmTestHost&) = delete;
    TTmTestHost& operator=(const TTmTestHost&) = delete;
    HWND Get() const { return wnd_; }
    static void Pump()
    {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }

private:
    HWND wnd_ = nullptr;
};

// Sends a mouse message with client coordinates to a window.
inline void SendMouse(HWND Wnd, UINT Msg, int X, int Y, WPARAM Keys)
{
    ::SendMessageW(Wnd, Msg, Keys, MAKELPARAM(static_cast<WORD>(X), static_cast<WORD>(Y)));
}
