#include "controls/toolbar/MbAnim.h"

#include "classlib/SysUtils.h"

namespace toolbar {

namespace {

using TUpdateLayeredWindow = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF, BLENDFUNCTION*, DWORD);

TUpdateLayeredWindow UpdateLayered()
{
    static const TUpdateLayeredWindow fn = reinterpret_cast<TUpdateLayeredWindow>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "UpdateLayeredWindow")));
    return fn;
}

struct TAnimState {
    bool Animating = false;
    HWND Wnd = nullptr;
    int Duration = 0;
    bool Fade = false;
    int StartLevel = 0;
    int Level = 0;
    DWORD StartTick = 0;
    DWORD LastTick = 0;
    HDC WndDC = nullptr;
    HDC MemDC = nullptr;
    HBITMAP Bitmap = nullptr;
    HGDIOBJ OldBitmap = nullptr;
    RECT ClientScreen{};
    int Width = 0;
    int Height = 0;
    POINT Cursor{};
    uint8_t Direction = 0;

    ~TAnimState() { FinishOpenEffect(); }
};

thread_local TAnimState tAnim;

}  // namespace

int OpenEffectLevel(int Elapsed, int Duration, int Start)
{
    if (Elapsed < 0 || Elapsed >= Duration) return 255;
    return Elapsed * 255 / Duration + Start;
}

void FinishOpenEffect()
{
    TAnimState& a = tAnim;
    a.Animating = false;
    if (a.MemDC) {
        if (a.Fade) {
            ::SetWindowLongPtrW(a.Wnd, GWL_EXSTYLE, ::GetWindowLongPtrW(a.Wnd, GWL_EXSTYLE) & ~WS_EX_LAYERED);
        } else {
            ::SetWindowRgn(a.Wnd, nullptr, FALSE);
        }
        if (a.WndDC) ::BitBlt(a.WndDC, 0, 0, a.Width, a.Height, a.MemDC, 0, 0, SRCCOPY);
        ::SelectObject(a.MemDC, a.OldBitmap);
        ::DeleteDC(a.MemDC);
        a.MemDC = nullptr;
    }
    if (a.Bitmap) ::DeleteObject(a.Bitmap);
    a.Bitmap = nullptr;
    if (a.WndDC) ::ReleaseDC(a.Wnd, a.WndDC);
    a.WndDC = nullptr;
    a.Wnd = nullptr;
}

void FinishOpenEffectOf(HWND Wnd)
{
    if (tAnim.Animating && (!Wnd || Wnd == tAnim.Wnd)) FinishOpenEffect();
}

bool OpenEffectRunning() { return tAnim.Animating; }

void BeginOpenEffect(HWND Wnd, bool Fade, uint8_t Direction)
{
    FinishOpenEffect();
    TAnimState& a = tAnim;
    try {
        a.Wnd = Wnd;
        a.Fade = Fade && UpdateLayered();
        a.Direction = Direction;
        ::GetCursorPos(&a.Cursor);
        ::GetClientRect(Wnd, &a.ClientScreen);
        ::MapWindowPoints(Wnd, nullptr, reinterpret_cast<POINT*>(&a.ClientScreen), 2);
        RECT wr{};
        ::GetWindowRect(Wnd, &wr);
        a.Width = wr.right - wr.left;
        a.Height = wr.bottom - wr.top;
        a.WndDC = ::GetDCEx(Wnd, nullptr, DCX_WINDOW | DCX_CACHE);
        if (!a.WndDC) classlib::RaiseLastOSError();
        a.Bitmap = ::CreateCompatibleBitmap(a.WndDC, a.Width, a.Height);
        if (!a.Bitmap) classlib::RaiseLastOSError();
        a.MemDC = ::CreateCompatibleDC(a.WndDC);
        if (!a.MemDC) classlib::RaiseLastOSError();
        a.OldBitmap = ::SelectObject(a.MemDC, a.Bitmap);
        ::SendMessageW(Wnd, WM_PRINT, reinterpret_cast<WPARAM>(a.MemDC),
                       PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND | PRF_CHILDREN);
        if (a.Fade) {
            ::SetWindowLongPtrW(Wnd, GWL_EXSTYLE, ::GetWindowLongPtrW(Wnd, GWL_EXSTYLE) | WS_EX_LAYERED);
            a.Duration = 175;
            a.Level = 40;
            SIZE size{a.Width, a.Height};
            POINT src{0, 0};
            BLENDFUNCTION blend{AC_SRC_OVER, 0, 40, 0};
            if (!UpdateLayered()(Wnd, nullptr, nullptr, &size, a.MemDC, &src, 0, &blend, ULW_ALPHA))
                classlib::RaiseLastOSError();
        } else {
            a.Duration = 150;
            a.Level = 0;
            HRGN empty = ::CreateRectRgn(0, 0, 0, 0);
            if (!::SetWindowRgn(Wnd, empty, FALSE)) ::DeleteObject(empty);
        }
        a.StartLevel = a.Level;
        a.StartTick = a.LastTick = ::GetTickCount();
        ::SetWindowPos(Wnd, nullptr, 0, 0, 0, 0,
                       SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE | SWP_SHOWWINDOW |
                           SWP_NOOWNERZORDER | SWP_ASYNCWINDOWPOS);
        a.Animating = true;
    } catch (...) {
        FinishOpenEffect();
        throw;
    }
}

void StepOpenEffect()
{
    TAnimState& a = tAnim;
    if (!a.Animating) return;
    const DWORD now = ::GetTickCount();
    if (now - a.LastTick < 10) return;
    a.LastTick = now;
    const int elapsed = static_cast<int>(now - a.StartTick);
    const int level = OpenEffectLevel(elapsed, a.Duration, a.StartLevel);
    if (level < 0 || level >= 255) {
        FinishOpenEffect();
        return;
    }
    POINT cursor{};
    ::GetCursorPos(&cursor);
    if (cursor.x != a.Cursor.x || cursor.y != a.Cursor.y) {
        if (::PtInRect(&a.ClientScreen, cursor)) {
            FinishOpenEffect();  // the pointer came in: show the menu at once
            return;
        }
        a.Cursor = cursor;
    }
    if (level <= a.Level) return;
    a.Level = level;
    if (a.Fade) {
        BLENDFUNCTION blend{AC_SRC_OVER, 0, static_cast<BYTE>(level), 0};
        UpdateLayered()(a.Wnd, nullptr, nullptr, nullptr, nullptr, nullptr, 0, &blend, ULW_ALPHA);
        return;
    }
    int dx = 0, dy = 0;
    if (a.Direction & 0x04) dy = ::MulDiv(a.Height, level, 255) - a.Height;
    else if (a.Direction & 0x08) dy = a.Height - ::MulDiv(a.Height, level, 255);
    if (a.Direction & 0x02) dx = ::MulDiv(a.Width, level, 255) - a.Width;
    else if (a.Direction & 0x01) dx = a.Width - ::MulDiv(a.Width, level, 255);
    HRGN rgn = ::CreateRectRgn(dx, dy, dx + a.Width, dy + a.Height);
    if (!::SetWindowRgn(a.Wnd, rgn, FALSE)) ::DeleteObject(rgn);
    ::BitBlt(a.WndDC, dx, dy, a.Width, a.Height, a.MemDC, 0, 0, SRCCOPY);
}

}  // namespace toolbar
