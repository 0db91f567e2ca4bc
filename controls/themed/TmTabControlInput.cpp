// Input of the tab control: mouse, hot tracking, keys and accelerators,
// and dragging tabs to a new place.
#include "controls/themed/TmTabControl.h"

#include <windowsx.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdlib>

#include "classlib/Docking.h"
#include "classlib/Forms.h"
#include "classlib/WinHandles.h"
#include "controls/themed/TmTabControlPrivate.h"

namespace themed {

using namespace classlib;

namespace {

constexpr UINT_PTR kHotTrackTimerId = 0x7A11;

// The accelerator character of a caption (0 when none).
wchar_t AcceleratorOf(const std::wstring& Caption)
{
    for (size_t i = 0; i + 1 < Caption.size(); ++i) {
        if (Caption[i] != L'&') continue;
        if (Caption[i + 1] == L'&') {
            ++i;
            continue;
        }
        return Caption[i + 1];
    }
    return 0;
}

}  // namespace

// ------------------------------------------------------------ input

void TTmCustomTabControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    auto alive = AliveToken();
    TCustomControl::MouseDown(Button, Shift, X, Y);
    if (!*alive) return;
    const bool designing = (GetComponentState() & csDesigning) != 0;
    if (!GetEnabled() || (designing && Button != mbLeft)) return;
    if (Button != mbLeft && !designing) {
        // Only the left button selects.
        mouseDownTab_ = -1;
        return;
    }
    UpdateTabs();
    const int i = TabAtPos(X, Y);
    mouseDownTab_ = i;
    if (i < 0 || !Tab(i)->Enabled) return;
    if (GetTabStop() && !designing && HandleAllocated()) {
        if (i == tabIndex_ || !Focused()) {
            if (CanFocus()) SetFocus();
            if (!*alive) return;
            if (!Focused() && i == tabIndex_) return;
        }
    }
    SetTabIndex(i);
    if (!*alive) return;
    if (i == tabIndex_) DoTabClick();
}

void TTmCustomTabControl::MouseMove(TShiftState Shift, int X, int Y)
{
    auto alive = AliveToken();
    if (!(GetComponentState() & csDesigning) && (hotTrack_ || tabHints_)) {
        const int i = TabAtPos(X, Y);
        if (i < 0) {
            const RECT area = GetTabAreaRect();
            const bool inArea = X >= area.left && X <= area.right && Y >= area.top && Y <= area.bottom;
            EndHotTrack();
            if (tabHints_) Hint = inArea ? std::wstring() : savedHint_;
        } else if (i != hotTab_) {
            hotTab_ = i;
            if (hotTrack_) {
                hotTrackPartial_ = true;
                RECT area = GetTabAreaRect();
                area.right += 1;
                area.bottom += 1;
                if (HandleAllocated()) ::InvalidateRect(GetHandle(), &area, FALSE);
            }
            if (tabHints_) Hint = Tab(i)->Hint;
            if (!hotTrackTimer_) StartHotTrackTimer();
        }
    }
    TCustomControl::MouseMove(Shift, X, Y);
    if (!*alive) return;
    if (allowTabDragging_ && (Shift & ssLeft) && mouseDownTab_ >= 0 && mouseDownTab_ < TabCount() &&
        Tab(mouseDownTab_)->Enabled && !Dragging())
        BeginDrag(false);
}

void TTmCustomTabControl::StartHotTrackTimer()
{
    if (!HandleAllocated()) return;
    hotTrackTimer_ = ::SetTimer(GetHandle(), kHotTrackTimerId, 60, nullptr);
}

void TTmCustomTabControl::StopHotTrackTimer()
{
    if (hotTrackTimer_ && HandleAllocated()) ::KillTimer(GetHandle(), hotTrackTimer_);
    hotTrackTimer_ = 0;
}

void TTmCustomTabControl::HotTrackTimerTick()
{
    POINT p{};
    ::GetCursorPos(&p);
    p = ScreenToClient(p);
    if (TabAtPos(p.x, p.y) < 0) EndHotTrack();
}

void TTmCustomTabControl::EndHotTrack()
{
    StopHotTrackTimer();
    const bool was = hotTab_ >= 0;
    hotTab_ = -1;
    if (was && HandleAllocated()) {
        RECT area = GetTabAreaRect();
        area.right += 1;
        area.bottom += 1;
        ::InvalidateRect(GetHandle(), &area, FALSE);
    }
    Hint = savedHint_;
}

void TTmCustomTabControl::KeyDown(WORD& Key, TShiftState Shift)
{
    auto alive = AliveToken();
    TCustomControl::KeyDown(Key, Shift);
    if (!*alive) return;
    const int count = TabCount();
    if (count == 0) return;
    const bool inverted =
        (tabOrientation_ == toLeft && tabSequence_ == tsStandard) || (tabOrientation_ != toLeft && tabSequence_ == tsReverse);
    int result = tabIndex_;
    if (Key == VK_HOME || Key == VK_END) {
        const bool toFirst = (Key == VK_HOME) != inverted;
        int i = toFirst ? 0 : count - 1;
        const int step = toFirst ? 1 : -1;
        for (;;) {
            if (i < 0 || i >= count) {
                i = tabIndex_;
                break;
            }
            if (i == tabIndex_ || CanSelectTab(i)) break;
            if (!*alive) return;
            i += step;
        }
        result = i;
    } else if (Key == VK_LEFT || Key == VK_RIGHT || Key == VK_UP || Key == VK_DOWN) {
        bool forward = Key == VK_RIGHT || Key == VK_DOWN;
        if (inverted) forward = !forward;
        const int start = tabIndex_ < 0 ? (forward ? count - 1 : 0) : tabIndex_;
        int i = start;
        for (;;) {
            i = forward ? (i + 1) % count : (i - 1 + count) % count;
            if (i == start) {
                i = tabIndex_;
                break;
            }
            if (CanSelectTab(i)) break;
            if (!*alive) return;
        }
        result = i;
    } else {
        return;
    }
    if (result != tabIndex_ && result >= 0) {
        SetTabIndexApproved(result);
        if (!*alive) return;
        DoTabClick();
    }
}

bool TTmCustomTabControl::DialogChar(wchar_t Char)
{
    if (!CanFocus()) return false;
    const wchar_t up = static_cast<wchar_t>(reinterpret_cast<uintptr_t>(::CharUpperW(reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(Char)))));
    for (int i = 0; i < TabCount(); ++i) {
        const TTmTabData* t = Tab(i);
        const wchar_t a = AcceleratorOf(t->Caption);
        if (!a || !t->Enabled || !t->Visible) continue;
        const wchar_t au = static_cast<wchar_t>(reinterpret_cast<uintptr_t>(::CharUpperW(reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(a)))));
        if (au != up) continue;
        auto alive = AliveToken();
        SetFocus();
        if (!*alive) return true;
        if (Focused()) {
            SetTabIndex(i);
            if (!*alive) return true;
            if (tabIndex_ == i) DoTabClick();
        }
        return true;
    }
    return false;
}

void TTmCustomTabControl::WndProc(TMessage& Message)
{
    switch (Message.Msg) {
    case WM_GETDLGCODE: Message.Result = DLGC_WANTARROWS; return;
    case WM_SETFOCUS:
    case WM_KILLFOCUS: InvalidateTabs(); break;
    case WM_TIMER:
        if (Message.WParam == kHotTrackTimerId && hotTrackTimer_) {
            HotTrackTimerTick();
            Message.Result = 0;
            return;
        }
        break;
    case WM_SYSCHAR:
        if (DialogChar(static_cast<wchar_t>(Message.WParam))) {
            Message.Result = 1;
            return;
        }
        break;
    case WM_MOUSELEAVE:
        if (hotTab_ >= 0 || tabHints_) EndHotTrack();
        break;
    default: break;
    }
    TCustomControl::WndProc(Message);
}

// ------------------------------------------------------------ tab dragging

RECT TTmCustomTabControl::DragMarkRect(int Index) const
{
    const RECT T = GetTabRect(Index);
    const int h = fixedDimension_ / 2;
    const bool before = tabSequence_ == tsStandard ? Index < tabIndex_ : Index > tabIndex_;
    const bool dbOrBack = tabStyle_ == tsDoubleSlant || tabStyle_ == tsBackSlant;
    const bool singleOrDb = tabStyle_ == tsSingleSlant || tabStyle_ == tsDoubleSlant;
    const bool plus1 = tabStyle_ == tsCutCorner || tabStyle_ == tsRoundCorners || tabStyle_ == tsSquareCorners;
    RECT r{};
    switch (tabOrientation_) {
    case toTop:
    case toBottom:
        if (tabOrientation_ == toTop) {
            r.top = T.top - 2;
            r.bottom = T.top + 6;
        } else {
            r.top = T.bottom - 6;
            r.bottom = T.bottom + 2;
        }
        if (before) {
            r.left = T.left - 8 + (dbOrBack ? h : 0);
            r.right = T.left + 7 + (dbOrBack ? h : 0);
        } else {
            const int d = singleOrDb ? -h : plus1 ? 1 : 0;
            r.left = T.right - 7 + d;
            r.right = T.right + 8 + d;
        }
        break;
    case toLeft:
        r.left = T.left - 2;
        r.right = T.left + 6;
        if (before) {
            const int d = dbOrBack ? -h : plus1 ? 1 : 0;
            r.top = T.bottom - 7 + d;
            r.bottom = T.bottom + 8 + d;
        } else {
            r.top = T.top - 8 + (singleOrDb ? h : 0);
            r.bottom = T.top + 7 + (singleOrDb ? h : 0);
        }
        break;
    case toRight:
        r.left = T.right - 5;
        r.right = T.right + 3;
        if (before) {
            r.top = T.top - 8 + (dbOrBack ? h + 1 : 0);
            r.bottom = T.top + 7 + (dbOrBack ? h + 1 : 0);
        } else {
            const int d = singleOrDb ? -h : plus1 ? 1 : 0;
            r.top = T.bottom - 7 + d;
            r.bottom = T.bottom + 8 + d;
        }
        break;
    }
    return r;
}

void TTmCustomTabControl::DrawDragIndicator(const RECT& R)
{
    TWinControl* parent = GetParent();
    if (!parent || !parent->HandleAllocated()) return;
    HWND pw = parent->GetHandle();
    HDC dc = ::GetDCEx(pw, nullptr, DCX_CACHE | DCX_CLIPSIBLINGS | DCX_LOCKWINDOWUPDATE);
    if (!dc) return;
    RECT pr = R;
    ::OffsetRect(&pr, GetLeft(), GetTop());
    const int w = pr.right - pr.left, h = pr.bottom - pr.top;
    TBitmap mark;
    mark.SetSize(std::max(w, 1), std::max(h, 1));
    TCanvas* mc = mark.GetCanvas();
    SetCanvasBrush(mc, TmXorColorChannels(dragIndicatorColor_, parent->GetColor()));
    mc->FillRect(RECT{0, 0, w, h});
    SetCanvasBrush(mc, clBlack);
    mc->GetPen()->SetStyle(psClear);
    auto tri = [&](std::initializer_list<POINT> p) { mc->Polygon(std::vector<POINT>(p)); };
    switch (tabOrientation_) {
    case toTop: tri({{0, 0}, {8, 8}, {0, 8}}); tri({{7, 8}, {15, 0}, {15, 8}}); break;
    case toLeft: tri({{1, 0}, {8, 0}, {8, 8}}); tri({{-1, 15}, {8, 7}, {8, 15}}); break;
    case toBottom: tri({{-1, 8}, {-1, -1}, {8, -1}}); tri({{7, -1}, {15, 0}, {15, 8}}); break;
    case toRight: tri({{0, 0}, {7, 0}, {0, 7}}); tri({{0, 7}, {8, 15}, {0, 15}}); break;
    }
    ::BitBlt(dc, pr.left, pr.top, w, h, mc->GetHandle(), 0, 0, SRCINVERT);
    ::ReleaseDC(pw, dc);
}

void TTmCustomTabControl::EraseDragMark()
{
    if (!dragMarkShown_) return;
    DrawDragIndicator(dragMarkRect_);
    dragMarkShown_ = false;
}

void TTmCustomTabControl::DragOver(TObject* Source, int X, int Y, TDragState State, bool& Accept)
{
    TCustomControl::DragOver(Source, X, Y, State, Accept);
    if (Source != this) return;
    if (State == dsDragLeave) {
        EraseDragMark();
        lastDragTarget_ = -1;
        return;
    }
    const int i = TabAtPos(X, Y);
    if (i == -1) {
        if (!dragScrollTimer_) {
            dragScrollTimer_ = std::make_unique<TTimer>(nullptr);
            dragScrollTimer_->SetOnTimer(TNotifyEvent(this, &TTmCustomTabControl::DragScrollTick));
        }
        dragScrollTimer_->SetInterval(dragScrollFirst_);
        dragScrollTimer_->SetEnabled(true);
    }
    Accept = i >= 0 && i != tabIndex_;
    if (i != lastDragTarget_) {
        lastDragTarget_ = i;
        EraseDragMark();
        if (Accept) {
            dragMarkRect_ = DragMarkRect(i);
            DrawDragIndicator(dragMarkRect_);
            dragMarkShown_ = true;
        }
    }
}

void TTmCustomTabControl::DragScrollTick(TObject*)
{
    try {
        dragScrollTimer_->SetInterval(dragScrollRepeat_);
        if (!Dragging()) return;
        POINT p{};
        ::GetCursorPos(&p);
        p = ScreenToClient(p);
        int dir = 0;
        switch (tabOrientation_) {
        case toTop:
        case toBottom: dir = p.x < 0 ? -1 : p.x > GetWidth() ? 1 : 0; break;
        case toLeft: dir = p.y < 0 ? 1 : p.y > GetHeight() ? -1 : 0; break;
        case toRight: dir = p.y < 0 ? -1 : p.y > GetHeight() ? 1 : 0; break;
        }
        if (tabSequence_ == tsReverse) dir = -dir;
        if (dir != 0) ScrollTabs(dir > 0);
    } catch (...) {
        dragScrollTimer_->SetEnabled(false);
        throw;
    }
}

void TTmCustomTabControl::DragDrop(TObject* Source, int X, int Y)
{
    if (Source == this && allowTabDragging_) {
        if (dragScrollTimer_) dragScrollTimer_->SetEnabled(false);
        EraseDragMark();
        lastDragTarget_ = -1;
        const int i = TabAtPos(X, Y);
        if (i >= 0) MoveActiveTab(i);
    }
    TCustomControl::DragDrop(Source, X, Y);
}

}  // namespace themed
