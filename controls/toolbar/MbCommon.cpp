#include "controls/toolbar/MbCommon.h"

#include <mmsystem.h>

#include <atomic>
#include <cwchar>
#include <cwctype>
#include <vector>

#include "classlib/GradientFill.h"
#include "classlib/WinHandles.h"

namespace toolbar {

namespace {

template <class T>
T Proc(HMODULE Module, const char* Name)
{
    return Module ? reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(Module, Name))) : nullptr;
}

// The optional platform functions, looked up once by name.
struct TPlatformEntries {
    using TMonitorFromRect = HMONITOR(WINAPI*)(LPCRECT, DWORD);
    using TMonitorFromPoint = HMONITOR(WINAPI*)(POINT, DWORD);
    using TMonitorFromWindow = HMONITOR(WINAPI*)(HWND, DWORD);
    using TGetMonitorInfoA = BOOL(WINAPI*)(HMONITOR, LPMONITORINFO);
    using TLockSetForegroundWindow = BOOL(WINAPI*)(UINT);
    using TTrackMouseEvent = BOOL(WINAPI*)(LPTRACKMOUSEEVENT);

    TMonitorFromRect MonitorFromRect = nullptr;
    TMonitorFromPoint MonitorFromPoint = nullptr;
    TMonitorFromWindow MonitorFromWindow = nullptr;
    TGetMonitorInfoA GetMonitorInfoA = nullptr;
    TLockSetForegroundWindow LockSetForegroundWindow = nullptr;
    TTrackMouseEvent TrackMouseEvent = nullptr;
    bool MultiMonitor = false;

    TPlatformEntries()
    {
        HMODULE user = ::GetModuleHandleW(L"user32.dll");
        MonitorFromRect = Proc<TMonitorFromRect>(user, "MonitorFromRect");
        MonitorFromPoint = Proc<TMonitorFromPoint>(user, "MonitorFromPoint");
        MonitorFromWindow = Proc<TMonitorFromWindow>(user, "MonitorFromWindow");
        GetMonitorInfoA = Proc<TGetMonitorInfoA>(user, "GetMonitorInfoA");
        MultiMonitor = MonitorFromRect && MonitorFromPoint && MonitorFromWindow && GetMonitorInfoA;
        LockSetForegroundWindow =
            Proc<TLockSetForegroundWindow>(user, "LockSetForegroundWindow");
        TrackMouseEvent = Proc<TTrackMouseEvent>(user, "TrackMouseEvent");
        if (!TrackMouseEvent)
            if (HMODULE comctl = ::GetModuleHandleW(L"comctl32.dll"))
                TrackMouseEvent = Proc<TTrackMouseEvent>(comctl, "_TrackMouseEvent");
    }
};

const TPlatformEntries& Entries()
{
    static const TPlatformEntries entries;
    return entries;
}

// The platform's version as the system reports it to the program.
OSVERSIONINFOW Version()
{
    OSVERSIONINFOW v{};
    v.dwOSVersionInfoSize = sizeof(v);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ::GetVersionExW(&v);
#pragma GCC diagnostic pop
    return v;
}

}  // namespace

// ------------------------------------------------------- system settings

bool PlatformIsXPOrLater()
{
    const OSVERSIONINFOW v = Version();
    return v.dwPlatformId == VER_PLATFORM_WIN32_NT &&
           (v.dwMajorVersion > 5 || (v.dwMajorVersion == 5 && v.dwMinorVersion >= 1));
}

bool SystemFlag(UINT Action, bool Default)
{
    BOOL value = FALSE;
    if (!::SystemParametersInfoW(Action, 0, &value, 0)) return Default;
    return value != FALSE;
}

bool FlatMenusOn() { return PlatformIsXPOrLater() && SystemFlag(SPI_GETFLATMENU, false); }

bool KeyboardCuesOn()
{
    if (Version().dwMajorVersion < 5) return true;
    return SystemFlag(SPI_GETKEYBOARDCUES, true);
}

int MenuDelayFromRegistryValue(bool Found, bool IsText, const std::wstring& Text)
{
    if (!Found) return 400;
    if (!IsText || Text.empty() || Text.size() > 32) return 0;
    wchar_t* end = nullptr;
    const long value = std::wcstol(Text.c_str(), &end, 10);
    if (!end || *end != L'\0') return 0;
    return value < 0 ? 0 : static_cast<int>(value);
}

namespace {

int RegistryMenuDelay()
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return MenuDelayFromRegistryValue(false, false, L"");
    wchar_t text[33] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t), type = 0;
    const LONG rc = ::RegQueryValueExW(key, L"MenuShowDelay", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    ::RegCloseKey(key);
    if (rc == ERROR_FILE_NOT_FOUND) return MenuDelayFromRegistryValue(false, false, L"");
    if (rc != ERROR_SUCCESS) return 0;
    text[size / sizeof(wchar_t)] = L'\0';
    return MenuDelayFromRegistryValue(true, type == REG_SZ, text);
}

}  // namespace

int MenuOpenDelay()
{
    if (LOBYTE(LOWORD(::GetVersion())) < 4) return 400;
    int delay = 0;
    if (::SystemParametersInfoW(SPI_GETMENUSHOWDELAY, 0, &delay, 0)) return delay < 0 ? 0 : delay;
    static std::atomic<int> cached{-1};
    int value = cached.load();
    if (value < 0) {
        value = RegistryMenuDelay();
        cached.exchange(value);
    }
    return value;
}

bool SoundConfigured(const wchar_t* Name)
{
    const OSVERSIONINFOW v = Version();
    if (v.dwPlatformId != VER_PLATFORM_WIN32_NT || v.dwMajorVersion < 5) return true;
    const std::wstring path = std::wstring(L"AppEvents\\Schemes\\Apps\\.Default\\") + Name + L"\\.Current";
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    BYTE buffer[8] = {};
    DWORD size = sizeof(buffer);
    const LONG rc = ::RegQueryValueExW(key, nullptr, nullptr, nullptr, buffer, &size);
    ::RegCloseKey(key);
    if (rc == ERROR_MORE_DATA) return true;
    return rc == ERROR_SUCCESS && size >= sizeof(wchar_t) && (buffer[0] || buffer[1]);
}

void PlayEventSound(const wchar_t* Name)
{
    DWORD flags = SND_ALIAS | SND_ASYNC | SND_NODEFAULT;
    const OSVERSIONINFOW v = Version();
    if (v.dwPlatformId != VER_PLATFORM_WIN32_NT) flags |= SND_NOSTOP;
    if (v.dwMajorVersion >= 6) flags |= 0x00200000;  // SND_SYSTEM
    ::PlaySoundW(Name, nullptr, flags);
}

void LockForeground(bool Lock)
{
    if (auto lock = Entries().LockSetForegroundWindow) lock(Lock ? LSFW_LOCK : LSFW_UNLOCK);
}

POINT LastMessagePoint()
{
    const DWORD pos = ::GetMessagePos();
    return POINT{static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
}

bool AppHasActiveWindow() { return ::GetActiveWindow() != nullptr; }

// ------------------------------------------------------------------ text

std::wstring RemoveAccelMarks(const std::wstring& S)
{
    std::wstring out;
    out.reserve(S.size());
    for (std::size_t i = 0; i < S.size(); ++i) {
        if (S[i] == L'&') {
            if (i + 1 < S.size() && S[i + 1] == L'&') {
                out += L'&';
                ++i;
            }
            continue;
        }
        out += S[i];
    }
    return out;
}

std::wstring DoubleAmpersands(const std::wstring& S)
{
    std::wstring out;
    for (wchar_t c : S) {
        out += c;
        if (c == L'&') out += L'&';
    }
    return out;
}

std::wstring TrimEllipsisOrColon(const std::wstring& S)
{
    if (S.size() > 1 && S.back() == L':') return S.substr(0, S.size() - 1);
    if (S.size() > 3 && S.compare(S.size() - 3, 3, L"...") == 0) return S.substr(0, S.size() - 3);
    return S;
}

wchar_t AccelCharOf(const std::wstring& S)
{
    wchar_t result = 0;
    for (std::size_t i = 0; i < S.size(); ++i) {
        if (S[i] != L'&') continue;
        if (i + 1 >= S.size()) break;
        if (S[i + 1] == L'&') {
            ++i;  // a doubled mark stands for itself
            continue;
        }
        result = S[i + 1];
    }
    return result;
}

int TextPixelWidth(HDC DC, const std::wstring& S, bool StripPrefix)
{
    const std::wstring text = StripPrefix ? RemoveAccelMarks(S) : S;
    SIZE size{};
    ::GetTextExtentPoint32W(DC, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

wchar_t LowerChar(wchar_t C)
{
    return static_cast<wchar_t>(reinterpret_cast<UINT_PTR>(::CharLowerW(reinterpret_cast<LPWSTR>(static_cast<UINT_PTR>(C)))));
}

namespace {

int CALLBACK FontExists(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM Found)
{
    *reinterpret_cast<bool*>(Found) = true;
    return 0;
}

}  // namespace

HFONT MakeVerticalFont(HDC DC)
{
    LOGFONTW lf{};
    ::GetObjectW(::GetCurrentObject(DC, OBJ_FONT), sizeof(lf), &lf);
    lf.lfEscapement = lf.lfOrientation = 2700;
    lf.lfOutPrecision = OUT_TT_ONLY_PRECIS;
    if (_wcsicmp(lf.lfFaceName, L"MS Sans Serif") == 0 || _wcsicmp(lf.lfFaceName, L"Microsoft Sans Serif") == 0) {
        std::wcscpy(lf.lfFaceName, Version().dwMajorVersion >= 5 ? L"Tahoma" : L"Arial");
        TEXTMETRICW tm{};
        ::GetTextMetricsW(DC, &tm);
        lf.lfHeight = lf.lfHeight > 0 ? tm.tmHeight : tm.tmInternalLeading - tm.tmHeight;
    }
    // A vertical face ("@" and the name) when the system has one.
    std::wstring at = L"@" + std::wstring(lf.lfFaceName);
    if (at.size() <= 31) {
        LOGFONTW probe{};
        probe.lfCharSet = DEFAULT_CHARSET;
        std::wcscpy(probe.lfFaceName, at.c_str());
        bool found = false;
        ::EnumFontFamiliesExW(DC, &probe, &FontExists, reinterpret_cast<LPARAM>(&found), 0);
        if (found) std::wcscpy(lf.lfFaceName, at.c_str());
    }
    return ::CreateFontIndirectW(&lf);
}

void DrawVerticalText(HDC DC, const std::wstring& S, const RECT& R, UINT Format)
{
    classlib::TOwnedFont font(MakeVerticalFont(DC));
    classlib::TSelectObjectScope selectFont(DC, font.Get());
    TEXTMETRICW tm{};
    ::GetTextMetricsW(DC, &tm);
    const std::wstring plain = RemoveAccelMarks(S);
    SIZE size{};
    ::GetTextExtentPoint32W(DC, plain.c_str(), static_cast<int>(plain.size()), &size);
    const int x = R.left + ((R.right - R.left) - size.cy) / 2;
    const int y = R.top + ((R.bottom - R.top) - size.cx) / 2;
    const UINT align = ::SetTextAlign(DC, TA_BOTTOM);
    ::TextOutW(DC, x, y, plain.c_str(), static_cast<int>(plain.size()));
    ::SetTextAlign(DC, align);
    // The accelerator: the character after the last single "&".
    std::size_t accel = std::wstring::npos, plainIndex = 0;
    for (std::size_t i = 0; i < S.size(); ++i) {
        if (S[i] == L'&' && i + 1 < S.size()) {
            if (S[i + 1] != L'&') accel = plainIndex;
            ++i;
        } else if (S[i] == L'&') {
            continue;
        }
        ++plainIndex;
    }
    if (accel != std::wstring::npos && accel < plain.size() && !(Format & DT_HIDEPREFIX)) {
        SIZE before{}, ch{};
        ::GetTextExtentPoint32W(DC, plain.c_str(), static_cast<int>(accel), &before);
        ::GetTextExtentPoint32W(DC, plain.c_str() + accel, 1, &ch);
        classlib::TOwnedPen pen(::CreatePen(PS_SOLID, 1, ::GetTextColor(DC)));
        classlib::TSelectObjectScope selectPen(DC, pen.Get());
        const int lx = x + tm.tmDescent - 2;
        ::MoveToEx(DC, lx, y + before.cx, nullptr);
        ::LineTo(DC, lx, y + before.cx + ch.cx);
    }
}

// -------------------------------------------------------------- monitors

bool SeveralMonitors() { return Entries().MultiMonitor && ::GetSystemMetrics(SM_CMONITORS) > 1; }

RECT PrimaryScreenRect(bool WorkArea)
{
    RECT r{};
    if (WorkArea && ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0)) return r;
    return RECT{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
}

namespace {

bool MonitorRect(HMONITOR Monitor, bool WorkArea, RECT& R)
{
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (!Monitor || !Entries().GetMonitorInfoA(Monitor, &info)) return false;
    R = WorkArea ? info.rcWork : info.rcMonitor;
    return true;
}

}  // namespace

RECT MonitorRectForRect(const RECT& R, bool WorkArea)
{
    RECT out{};
    if (SeveralMonitors() && MonitorRect(Entries().MonitorFromRect(&R, MONITOR_DEFAULTTONEAREST), WorkArea, out))
        return out;
    return PrimaryScreenRect(WorkArea);
}

RECT MonitorRectForPoint(POINT P, bool WorkArea)
{
    RECT out{};
    if (SeveralMonitors() && MonitorRect(Entries().MonitorFromPoint(P, MONITOR_DEFAULTTONEAREST), WorkArea, out))
        return out;
    return PrimaryScreenRect(WorkArea);
}

// --------------------------------------------------------------- drawing

HRGN FrameRegion(const RECT& R, SIZE Thickness)
{
    if (::IsRectEmpty(&R)) return ::CreateRectRgn(0, 0, 0, 0);
    HRGN outer = ::CreateRectRgnIndirect(&R);
    RECT inner = R;
    ::InflateRect(&inner, -Thickness.cx, -Thickness.cy);
    if (!::IsRectEmpty(&inner)) {
        classlib::TOwnedRegion hole(::CreateRectRgnIndirect(&inner));
        ::CombineRgn(outer, outer, hole.Get(), RGN_XOR);
    }
    return outer;
}

void InvertFramePair(HDC DC, const RECT& NewRect, const RECT& OldRect, HBRUSH Brush, SIZE NewThickness,
                     SIZE OldThickness)
{
    classlib::TOwnedRegion a(FrameRegion(NewRect, NewThickness));
    classlib::TOwnedRegion b(FrameRegion(OldRect, OldThickness));
    ::CombineRgn(a.Get(), a.Get(), b.Get(), RGN_XOR);
    const int saved = ::SaveDC(DC);
    ::SelectClipRgn(DC, a.Get());
    RECT box{};
    ::GetClipBox(DC, &box);
    {
        classlib::TSelectObjectScope selectBrush(DC, Brush);
        ::PatBlt(DC, box.left, box.top, box.right - box.left, box.bottom - box.top, PATINVERT);
    }
    ::RestoreDC(DC, saved);
}

HBRUSH CheckerBrush()
{
    static const WORD kRows[8] = {0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA};
    classlib::TOwnedBitmap bits(::CreateBitmap(8, 8, 1, 1, kRows));
    return ::CreatePatternBrush(bits.Get());
}

void InvertCheckerFrames(HDC DC, const RECT& NewRect, const RECT& OldRect, SIZE NewThickness, SIZE OldThickness)
{
    classlib::TOwnedBrush brush(CheckerBrush());
    InvertFramePair(DC, NewRect, OldRect, brush.Get(), NewThickness, OldThickness);
}

bool HasGradientFill() { return classlib::GradientFillAvailable(); }

void FillGradient(HDC DC, const RECT& R, COLORREF StartColor, COLORREF EndColor, bool Horizontal)
{
    classlib::FillGradientRect(DC, R, StartColor, EndColor, !Horizontal);
}

void PaintToolCaption(HWND Wnd, HDC DC, const RECT& R, const std::wstring& Caption, bool Active)
{
    if (::IsRectEmpty(&R)) return;
    if (Version().dwMajorVersion < 6) {
        UINT flags = DC_TEXT | DC_SMALLCAP;
        if (Active) flags |= DC_ACTIVE;
        if (SystemFlag(SPI_GETGRADIENTCAPTIONS, false)) flags |= DC_GRADIENT;
        ::DrawCaption(Wnd, DC, &R, flags);
        return;
    }
    const COLORREF from = ::GetSysColor(Active ? COLOR_ACTIVECAPTION : COLOR_INACTIVECAPTION);
    const COLORREF to = ::GetSysColor(Active ? COLOR_GRADIENTACTIVECAPTION : COLOR_GRADIENTINACTIVECAPTION);
    if (SystemFlag(SPI_GETGRADIENTCAPTIONS, false) && HasGradientFill() && from != to) {
        FillGradient(DC, R, from, to, true);
    } else {
        classlib::TOwnedBrush brush(::CreateSolidBrush(from));
        ::FillRect(DC, &R, brush.Get());
    }
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    classlib::TOwnedFont font(::CreateFontIndirectW(&metrics.lfSmCaptionFont));
    classlib::TSelectObjectScope selectFont(DC, font.Get());
    const int mode = ::SetBkMode(DC, TRANSPARENT);
    const COLORREF color = ::SetTextColor(DC, ::GetSysColor(Active ? COLOR_CAPTIONTEXT : COLOR_INACTIVECAPTIONTEXT));
    RECT t = R;
    t.left += ::GetSystemMetrics(SM_CXEDGE);
    ::DrawTextW(DC, Caption.c_str(), static_cast<int>(Caption.size()), &t,
                DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    ::SetTextColor(DC, color);
    ::SetBkMode(DC, mode);
}

HDC FrameDC(HWND Wnd, HDC Given, std::unique_ptr<classlib::TWindowDC>& Own)
{
    if (Given) return Given;
    Own = std::make_unique<classlib::TWindowDC>(Wnd, nullptr, DCX_WINDOW | DCX_CACHE);
    return Own->Get();
}

RECT WindowRectAtOrigin(HWND Wnd)
{
    RECT r{};
    ::GetWindowRect(Wnd, &r);
    ::OffsetRect(&r, -r.left, -r.top);
    return r;
}

void ClipToUpdateRegion(HWND Wnd, HDC DC, HRGN Rgn)
{
    if (reinterpret_cast<UINT_PTR>(Rgn) <= 1) return;
    RECT window{};
    ::GetWindowRect(Wnd, &window);
    if (::SelectClipRgn(DC, Rgn) == ERROR) {
        RECT whole{0, 0, window.right - window.left, window.bottom - window.top};
        ::IntersectClipRect(DC, whole.left, whole.top, whole.right, whole.bottom);
        return;
    }
    ::OffsetClipRgn(DC, -window.left, -window.top);
}

void RepaintThroughBitmap(HWND Wnd)
{
    RECT client{};
    ::GetClientRect(Wnd, &client);
    auto fallback = [&] { ::InvalidateRect(Wnd, nullptr, TRUE); };
    if (!::IsWindowVisible(Wnd) || ::IsRectEmpty(&client)) return fallback();
    ::ValidateRect(Wnd, nullptr);
    classlib::TWindowDC dc(Wnd);
    if (!dc.Get()) return fallback();
    RECT box{};
    if (::GetClipBox(dc.Get(), &box) == ERROR || !::IntersectRect(&box, &box, &client)) return;
    const int w = box.right - box.left, h = box.bottom - box.top;
    classlib::TOwnedDC mem(::CreateCompatibleDC(dc.Get()));
    classlib::TOwnedBitmap bmp(::CreateCompatibleBitmap(dc.Get(), w, h));
    if (!mem.Get() || !bmp.Get()) return fallback();
    classlib::TSelectObjectScope selectBitmap(mem.Get(), bmp.Get());
    ::SetWindowOrgEx(mem.Get(), box.left, box.top, nullptr);
    ::SendMessageW(Wnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(mem.Get()), 0);
    ::SendMessageW(Wnd, WM_PAINT, reinterpret_cast<WPARAM>(mem.Get()), 0);
    ::SetWindowOrgEx(mem.Get(), 0, 0, nullptr);
    ::BitBlt(dc.Get(), box.left, box.top, w, h, mem.Get(), 0, 0, SRCCOPY);
}

namespace {

// Prints Child (a window whose rectangle is given in Wnd's window
// coordinates, or screen coordinates for owned windows) at its place.
void PrintAt(HWND Child, HDC DC, const RECT& At, LPARAM Flags)
{
    const int saved = ::SaveDC(DC);
    POINT org{};
    ::GetWindowOrgEx(DC, &org);
    ::IntersectClipRect(DC, At.left - org.x, At.top - org.y, At.right - org.x, At.bottom - org.y);
    ::SetWindowOrgEx(DC, org.x - At.left, org.y - At.top, nullptr);
    ::SendMessageW(Child, WM_PRINT, reinterpret_cast<WPARAM>(DC), Flags);
    ::RestoreDC(DC, saved);
}

struct TOwnedSearch {
    HWND Owner;
    std::vector<HWND> Found;
};

BOOL CALLBACK CollectOwned(HWND Wnd, LPARAM Search)
{
    auto* s = reinterpret_cast<TOwnedSearch*>(Search);
    if (::GetWindow(Wnd, GW_OWNER) == s->Owner && ::IsWindowVisible(Wnd)) s->Found.push_back(Wnd);
    return TRUE;
}

}  // namespace

LRESULT PrintWindowTree(HWND Wnd, HDC DC, LPARAM Flags, TNonClientPainter NonClientPainter, void* Data)
{
    if ((Flags & PRF_CHECKVISIBLE) && !::IsWindowVisible(Wnd)) return 0;
    const int saved = ::SaveDC(DC);
    RECT window{};
    ::GetWindowRect(Wnd, &window);
    if ((Flags & PRF_NONCLIENT) && NonClientPainter) NonClientPainter(Wnd, DC, Data);
    if (Flags & PRF_CLIENT) {
        const int inner = ::SaveDC(DC);
        if (Flags & PRF_NONCLIENT) {
            // The client area at its place inside the frame.
            POINT client{0, 0};
            ::ClientToScreen(Wnd, &client);
            POINT org{};
            ::GetWindowOrgEx(DC, &org);
            ::SetWindowOrgEx(DC, org.x - (client.x - window.left), org.y - (client.y - window.top), nullptr);
        }
        if (Flags & PRF_ERASEBKGND) ::SendMessageW(Wnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(DC), 0);
        ::SendMessageW(Wnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(DC), Flags);
        ::RestoreDC(DC, inner);
    }
    const LPARAM upper = Flags & ~static_cast<LPARAM>(0xFF);
    if (Flags & PRF_CHILDREN) {
        const LPARAM childFlags = (Flags & (PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND | PRF_CHILDREN)) | upper;
        for (HWND child = ::GetWindow(Wnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
            if (!::IsWindowVisible(child)) continue;
            RECT r{};
            ::GetWindowRect(child, &r);
            ::OffsetRect(&r, -window.left, -window.top);
            PrintAt(child, DC, r, childFlags);
        }
    }
    if (Flags & PRF_OWNED) {
        TOwnedSearch search{Wnd, {}};
        ::EnumThreadWindows(::GetWindowThreadProcessId(Wnd, nullptr), &CollectOwned,
                            reinterpret_cast<LPARAM>(&search));
        for (HWND owned : search.Found) {
            RECT r{};
            ::GetWindowRect(owned, &r);
            ::OffsetRect(&r, -window.left, -window.top);
            PrintAt(owned, DC, r, Flags);
        }
    }
    ::RestoreDC(DC, saved);
    return 1;
}

// -------------------------------------------------------------- messages

void FlushPaintMessages()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE)) {
        if (!::PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) break;
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        ::DispatchMessageW(&msg);
    }
}

void DiscardMessages(UINT Min, UINT Max)
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, Min, Max, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
    }
}

bool RequestMouseTracking(HWND Wnd, DWORD Flags)
{
    auto track = Entries().TrackMouseEvent;
    if (!track) return false;
    TRACKMOUSEEVENT tme{};
    tme.cbSize = sizeof(tme);
    tme.dwFlags = Flags;
    tme.hwndTrack = Wnd;
    tme.dwHoverTime = 0;
    return track(&tme) != FALSE;
}

}  // namespace toolbar
