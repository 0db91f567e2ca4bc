// Shared routines of the menu and toolbar framework: system settings for
// menus, sounds, caption text with accelerator marks, rotated text,
// monitors and work areas, frame and caption drawing, and message helpers.
//
// Every routine is a plain function; the only state is the cached optional
// platform entry points (looked up once, a missing one disables its
// feature) and the cached registry menu delay. Threads: any for the text
// and geometry routines; the drawing and message routines run on the
// thread that owns the windows and device contexts they are given.
#pragma once

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace classlib {
class TWindowDC;
}

namespace toolbar {

// ------------------------------------------------------- system settings

// Windows XP (NT 5.1) or later.
bool PlatformIsXPOrLater();
// A Boolean SystemParametersInfo setting; Default when the call fails.
bool SystemFlag(UINT Action, bool Default);
bool FlatMenusOn();
// Keyboard cues (accelerator underlines) shown at all times.
bool KeyboardCuesOn();
// The delay before a hovered submenu opens or an abandoned one closes, in
// milliseconds, never negative: the system setting, else the user's
// "MenuShowDelay" registry text (read once per process).
int MenuOpenDelay();
// The registry fallback of MenuOpenDelay for a lookup result: Found says
// whether the key and value exist, IsText whether the value is a text.
// Missing: 400; not a text or not a number: 0; negative: 0.
int MenuDelayFromRegistryValue(bool Found, bool IsText, const std::wstring& Text);
// The user's sound scheme names a sound for the event.
bool SoundConfigured(const wchar_t* Name);
// Starts the event's sound asynchronously ("MenuPopup", "MenuCommand").
void PlayEventSound(const wchar_t* Name);
// Locks or unlocks foreground-window changes (when the platform can).
void LockForeground(bool Lock);
// The screen position of the last message read (signed 16-bit halves).
POINT LastMessagePoint();
// The calling thread has an active window.
bool AppHasActiveWindow();

// ------------------------------------------------------------------ text

// Every "&" removed; "&&" leaves one "&".
std::wstring RemoveAccelMarks(const std::wstring& S);
std::wstring DoubleAmpersands(const std::wstring& S);
// A final ":" removed (texts longer than 1), else a final "..." (texts
// longer than 3).
std::wstring TrimEllipsisOrColon(const std::wstring& S);
// The character after the last single "&"; 0 when there is none.
wchar_t AccelCharOf(const std::wstring& S);
// The width of S in the DC's current font (accelerator marks removed
// first when StripPrefix).
int TextPixelWidth(HDC DC, const std::wstring& S, bool StripPrefix);
wchar_t LowerChar(wchar_t C);
// A copy of the DC's current font turned by 270 degrees (owned by the
// caller); a "MS Sans Serif" face becomes "Tahoma", and a vertical "@"
// face is used when the system has one.
HFONT MakeVerticalFont(HDC DC);
// Draws S turned by 270 degrees, centred in R, with its accelerator
// underlined by a vertical line unless Format holds DT_HIDEPREFIX.
void DrawVerticalText(HDC DC, const std::wstring& S, const RECT& R, UINT Format);

// -------------------------------------------------------------- monitors

bool SeveralMonitors();
// The primary screen's work area (WorkArea) or full rectangle.
RECT PrimaryScreenRect(bool WorkArea);
// The nearest monitor's work area or full rectangle.
RECT MonitorRectForRect(const RECT& R, bool WorkArea);
RECT MonitorRectForPoint(POINT P, bool WorkArea);

// --------------------------------------------------------------- drawing

// The frame of R Thickness wide (an empty region for an empty R); owned
// by the caller.
HRGN FrameRegion(const RECT& R, SIZE Thickness);
// Erases the old frame and draws the new one in one inverting pass.
void InvertFramePair(HDC DC, const RECT& NewRect, const RECT& OldRect, HBRUSH Brush, SIZE NewThickness,
                     SIZE OldThickness);
// A checkerboard pattern brush (owned by the caller).
HBRUSH CheckerBrush();
void InvertCheckerFrames(HDC DC, const RECT& NewRect, const RECT& OldRect, SIZE NewThickness, SIZE OldThickness);
bool HasGradientFill();
void FillGradient(HDC DC, const RECT& R, COLORREF StartColor, COLORREF EndColor, bool Horizontal);
// A small caption bar with the text, active or inactive colours.
void PaintToolCaption(HWND Wnd, HDC DC, const RECT& R, const std::wstring& Caption, bool Active);
// Clips DC (a window DC) to an update region given in screen coordinates.
void ClipToUpdateRegion(HWND Wnd, HDC DC, HRGN Rgn);
// The DC to paint a window's frame with: Given when set, else a DC of the
// whole window that Own then holds for the caller.
HDC FrameDC(HWND Wnd, HDC Given, std::unique_ptr<classlib::TWindowDC>& Own);
// The window's rectangle in its own window coordinates (top-left at 0,0).
RECT WindowRectAtOrigin(HWND Wnd);
// Redraws the visible part of the window's client area through a memory
// bitmap (no flicker); invalidates the window when that is not possible.
void RepaintThroughBitmap(HWND Wnd);

// Paints a window's non-client area into DC (for PrintWindowTree).
using TNonClientPainter = void (*)(HWND Wnd, HDC DC, void* Data);
// Answers WM_PRINT for Wnd: with PRF_NONCLIENT the painter draws the
// frame; with PRF_CLIENT the client area is erased (PRF_ERASEBKGND) and
// printed (WM_PRINTCLIENT) at its place; PRF_CHILDREN prints the visible
// children at their positions, PRF_OWNED the visible windows Wnd owns.
// Answers 0 for a hidden window with PRF_CHECKVISIBLE, else 1.
LRESULT PrintWindowTree(HWND Wnd, HDC DC, LPARAM Flags, TNonClientPainter NonClientPainter, void* Data);
// Calls Paint with DC in a saved device-context state (WM_PRINTCLIENT
// answered by a control's paint handler).
template <class F>
void PrintClientArea(HDC DC, F Paint)
{
    const int saved = ::SaveDC(DC);
    Paint(DC);
    ::RestoreDC(DC, saved);
}

// -------------------------------------------------------------- messages

// Dispatches every waiting WM_PAINT (a WM_QUIT met is posted again).
void FlushPaintMessages();
// Removes every waiting message in Min..Max (a WM_QUIT met is posted
// again and ends the removal).
void DiscardMessages(UINT Min, UINT Max);
// TrackMouseEvent for the window (false when the platform lacks it).
bool RequestMouseTracking(HWND Wnd, DWORD Flags);

// ----------------------------------------------------------------- lists

// Lists made on first use and freed when they empty (a null list is an
// empty one); they never own their items.
template <class T>
using TMbList = std::unique_ptr<std::vector<T*>>;

// Appends Item when absent (making the list when null); whether it was added.
template <class T>
bool MbListAddUnique(TMbList<T>& List, T* Item)
{
    if (!List) List = std::make_unique<std::vector<T*>>();
    if (std::find(List->begin(), List->end(), Item) != List->end()) return false;
    List->push_back(Item);
    return true;
}

// The same, inserting at the front.
template <class T>
bool MbListAddUniqueFirst(TMbList<T>& List, T* Item)
{
    if (!List) List = std::make_unique<std::vector<T*>>();
    if (std::find(List->begin(), List->end(), Item) != List->end()) return false;
    List->insert(List->begin(), Item);
    return true;
}

// Removes Item (every occurrence) and frees the list once it is empty.
template <class T>
void MbListRemoveAndFree(TMbList<T>& List, T* Item)
{
    if (!List) return;
    List->erase(std::remove(List->begin(), List->end(), Item), List->end());
    if (List->empty()) List.reset();
}

}  // namespace toolbar
