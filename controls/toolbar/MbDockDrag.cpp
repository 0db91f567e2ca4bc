// The drag loop of a dockable window: the candidate docks, the target
// sizes, the near-dock test, the row choice, split mode and floating
// placement.
#include <algorithm>
#include <memory>

#include "classlib/WinHandles.h"
#include "controls/toolbar/MbDock.h"

namespace toolbar {

using namespace classlib;

int MbRowFromOffset(const std::vector<TMbRowExtent>& Rows, int Offset, bool BarFullSize, bool& NewRow)
{
    NewRow = false;
    int sum = 0;
    for (std::size_t i = 0; i < Rows.size(); ++i) {
        const int c = Rows[i].Size;
        if (c == 0) continue;
        const bool half = BarFullSize || Rows[i].FullSize;
        const int d = half ? c / 2 : c / 4;
        if (Offset < sum + d) {
            NewRow = true;
            return static_cast<int>(i);
        }
        if (!half && Offset < sum + c - d) return static_cast<int>(i);
        sum += c;
    }
    NewRow = true;
    return static_cast<int>(Rows.size());
}

namespace {

// One drag target: a dock, or the floating state (no dock).
struct TDockedSize {
    TMbDock* TargetDock = nullptr;
    RECT ScreenRect{};
    SIZE OuterSize{};
    std::vector<TMbRowExtent> Rows;
};

bool DockAccepts(TMbDock* Dock, const TMbCustomDockableWindow* Bar)
{
    return Dock->GetAllowDrag() && (Bar->DockableTo & (1u << Dock->GetPosition()));
}

bool Inside(const TControl* Control, const TControl* Container)
{
    for (const TControl* c = Control; c; c = c->GetParent())
        if (c == Container) return true;
    return false;
}

void SearchDocks(TWinControl* Control, TMbCustomDockableWindow* Bar, std::vector<TMbDock*>& List)
{
    if (Inside(Control, Bar) || !Control->HandleAllocated() || !::IsWindowVisible(Control->GetHandle())) return;
    for (int pos = dpTop; pos <= dpRight; ++pos)
        for (int i = 0; i < Control->GetWinControlCount(); ++i)
            if (auto* dock = dynamic_cast<TMbDock*>(Control->GetWinControl(i)))
                if (dock->GetPosition() == pos) SearchDocks(dock, Bar, List);
    for (int i = 0; i < Control->GetWinControlCount(); ++i) {
        TWinControl* child = Control->GetWinControl(i);
        if (!dynamic_cast<TMbDock*>(child)) SearchDocks(child, Bar, List);
    }
    if (auto* dock = dynamic_cast<TMbDock*>(Control))
        if (DockAccepts(dock, Bar) && std::find(List.begin(), List.end(), dock) == List.end()) List.push_back(dock);
}

std::vector<TMbDock*> MbCollectDocks(TMbCustomDockableWindow* Bar)
{
    std::vector<TMbDock*> list;
    TMbDock* current = Bar->GetCurrentDock();
    if (Bar->DockMode == dmCannotFloatOrChangeDocks) {
        if (current) list.push_back(current);
        return list;
    }
    if (current && DockAccepts(current, Bar)) list.push_back(current);
    TCustomForm* form = MbFindOwningForm(Bar);
    if (form) SearchDocks(form, Bar, list);
    for (TCustomForm* extra : Bar->ExtraDockForms)
        if (extra != form) SearchDocks(extra, Bar, list);
    return list;
}

RECT WorkAreaAt(POINT P)
{
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    ::GetMonitorInfoW(::MonitorFromPoint(P, MONITOR_DEFAULTTONEAREST), &info);
    return info.rcWork;
}

}  // namespace

void TMbCustomDockableWindow::RunDragLoop(POINT Client)
{
    if (!HandleAllocated()) return;
    auto alive = AliveToken();
    const HWND wnd = GetHandle();
    TMbDock* const startDock = currentDock_;
    const int startRow = dockRow_;
    InDrag = true;
    SplitMode = false;
    bool canSplit = false;
    if (IsDocked && currentDock_) {
        DragCrowded = false;
        currentDock_->CommitLayout = true;
        currentDock_->LayoutRows();
        canSplit = DragCrowded;
    }
    const bool live = SmoothDrag;
    LiveDragging = live;

    POINT press = Client;
    ::ClientToScreen(wnd, &press);
    RECT reference{};
    if (isFloating_ && toolWindow_ && toolWindow_->HandleAllocated()) ::GetWindowRect(toolWindow_->GetHandle(), &reference);
    else ::GetWindowRect(wnd, &reference);
    const POINT grab{press.x - reference.left, press.y - reference.top};
    const SIZE scale{std::max<LONG>(1, reference.right - reference.left - 1),
                     std::max<LONG>(1, reference.bottom - reference.top - 1)};
    bool ctrlDown = ::GetKeyState(VK_CONTROL) < 0;
    const bool cannotFloat = DockMode != dmCanFloat;

    const std::vector<TMbDock*> docks = MbCollectDocks(this);
    for (TMbDock* d : docks) d->FreezePositions();

    std::vector<std::unique_ptr<TDockedSize>> targets;
    int frameW = 0, frameH = 0;
    FloatFrameSize(frameW, frameH);
    const int captionH = showCaption_ ? ::GetSystemMetrics(SM_CYSMCAPTION) : 0;
    {
        auto floating = std::make_unique<TDockedSize>();
        const SIZE s = CalcArrangedSize(false, MbDockTypeOf(currentDock_, isFloating_), true, nullptr);
        floating->OuterSize = SIZE{s.cx + 2 * frameW, s.cy + 2 * frameH + captionH};
        targets.push_back(std::move(floating));
    }
    for (TMbDock* d : docks) {
        auto t = std::make_unique<TDockedSize>();
        t->TargetDock = d;
        RECT c{};
        ::GetClientRect(d->GetHandle(), &c);
        ::MapWindowPoints(d->GetHandle(), HWND_DESKTOP, reinterpret_cast<POINT*>(&c), 2);
        t->ScreenRect = c;
        if (d == currentDock_ && IsDocked) {
            t->OuterSize = SIZE{GetWidth(), GetHeight()};
        } else {
            const SIZE s = CalcArrangedSize(false, MbDockTypeOf(currentDock_, isFloating_), false, d);
            t->OuterSize = SIZE{s.cx + 4, s.cy + 4};
            if (d->GetAllowDrag()) {
                if (d->IsVertical()) t->OuterSize.cy += DragHandleSize();
                else t->OuterSize.cx += DragHandleSize();
            }
        }
        const int last = d->LastRowIndex(true);
        for (int r = 0; r <= last; ++r) {
            bool full = false;
            const int size = d->RowExtent(r, &full);
            t->Rows.push_back(TMbRowExtent{size, full});
        }
        targets.push_back(std::move(t));
    }
    auto sizeOf = [&](TMbDock* Dock) -> TDockedSize* {
        for (auto& t : targets)
            if (t->TargetDock == Dock) return t.get();
        return nullptr;
    };
    auto dragRect = [&](TMbDock* Dock, POINT P) {
        TDockedSize* t = sizeOf(Dock);
        if (!t) return RECT{};
        const int w = t->OuterSize.cx, h = t->OuterSize.cy;
        const int left = P.x - ::MulDiv(w - 1, grab.x, scale.cx);
        const int top = P.y - ::MulDiv(h - 1, grab.y, scale.cy);
        return RECT{left, top, left + w, top + h};
    };
    auto nearDock = [&](TDockedSize* t, POINT P) {
        RECT r = t->ScreenRect;
        ::InflateRect(&r, 3, 3);
        const int ax = ::MulDiv(25, grab.x, scale.cx), ay = ::MulDiv(25, grab.y, scale.cy);
        if (P.x < r.left + ax - 25 || P.x >= r.right + ax) return false;
        if (t->TargetDock->IsVertical() && (P.y < r.top || P.y >= r.bottom)) return false;
        if (P.y < r.top + ay - 25 || P.y >= r.bottom + ay) return false;
        const RECT d = dragRect(t->TargetDock, P);
        RECT overlap{};
        return ::IntersectRect(&overlap, &d, &r) != 0;
    };

    MSG pending;
    while (::PeekMessageW(&pending, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) ::DispatchMessageW(&pending);
    const HCURSOR savedCursor = ::GetCursor();
    std::unique_ptr<TWindowDC> desk;
    if (!live) {
        ::LockWindowUpdate(::GetDesktopWindow());
        desk = std::make_unique<TWindowDC>(::GetDesktopWindow(), nullptr, DCX_WINDOW | DCX_CACHE | DCX_LOCKWINDOWUPDATE);
    }
    TMbDock* target = nullptr;
    RECT rect{}, drawn{};
    int drawnThickness = 1;
    bool started = IsDocked;
    bool accepted = false;
    POINT pointer = press;

    auto apply = [&]() {
        if (target) {
            RECT r = rect;
            ::MapWindowPoints(HWND_DESKTOP, target->GetHandle(), reinterpret_cast<POINT*>(&r), 2);
            const bool vertical = target->IsVertical();
            int row;
            bool newRow = false;
            if (SplitMode) {
                row = dockRow_;
            } else {
                const int middle = vertical ? (r.left + r.right) / 2 : (r.top + r.bottom) / 2;
                row = MbRowFromOffset(sizeOf(target)->Rows, middle, fullSize_, newRow);
                if (newRow) canSplit = false;
            }
            if (canSplit) {
                const int moved = vertical ? pointer.y - press.y : pointer.x - press.x;
                if (target == startDock && row == startRow && std::abs(moved) > 9) {
                    canSplit = false;
                    SplitMode = true;
                    ::SetCursor(::LoadCursorW(nullptr, vertical ? IDC_SIZENS : IDC_SIZEWE));
                } else if (target != startDock || row != startRow) {
                    canSplit = false;
                }
            }
            dockRow_ = row;
            dockPos_ = vertical ? r.top : r.left;
            SetParent(target);
            if (!LiveDragging) target->CommitLayout = true;
            NewRowRequest = newRow;
            try {
                target->LayoutRows();
            } catch (...) {
                NewRowRequest = false;
                throw;
            }
            NewRowRequest = false;
        } else {
            canSplit = false;
            SetFloatOrigin(POINT{rect.left, rect.top});
            SetIsFloating(true);
            KeepOnScreen(true);
        }
        Update();
        if (toolWindow_ && isFloating_) toolWindow_->Update();
    };

    auto update = [&]() {
        if (!SplitMode) {
            target = nullptr;
            if (started && !ctrlDown)
                for (auto& t : targets) {
                    if (!t->TargetDock || !nearDock(t.get(), pointer)) continue;
                    bool accept = true;
                    t->TargetDock->OnRequestDock(t->TargetDock, this, accept);
                    if (accept) {
                        target = t->TargetDock;
                        break;
                    }
                }
        }
        POINT p = pointer;
        RECT work{};
        if (!target) {
            work = WorkAreaAt(pointer);
            p.x = std::clamp(p.x, work.left, work.right - 1);
            p.y = std::clamp(p.y, work.top, work.bottom - 1);
        }
        rect = dragRect(target, p);
        if (!target) {
            RECT W = work;
            ::InflateRect(&W, -(frameW + 4), -(frameH + 4));
            if (rect.bottom < W.top) ::OffsetRect(&rect, 0, W.top - rect.bottom);
            if (rect.top > W.bottom) ::OffsetRect(&rect, 0, W.bottom - rect.top);
            if (rect.right < W.left) ::OffsetRect(&rect, W.left - rect.right, 0);
            if (rect.left > W.right) ::OffsetRect(&rect, W.right - rect.left, 0);
            const int minTop = work.top - (frameH + captionH) + 4;
            if (rect.top < minTop) ::OffsetRect(&rect, 0, minTop - rect.top);
        }
        if (cannotFloat && !target) {
            rect = RECT{};
            ::SetCursor(::LoadCursorW(nullptr, IDC_NO));
        } else if (SplitMode) {
            ::SetCursor(::LoadCursorW(nullptr, target && target->IsVertical() ? IDC_SIZENS : IDC_SIZEWE));
        } else {
            ::SetCursor(savedCursor);
        }
        if (!live) {
            const int thickness = target ? 1 : frameW;
            MbDrawOutline(desk->Get(), ::IsRectEmpty(&drawn) ? nullptr : &drawn, nullptr, drawnThickness);
            if (!::IsRectEmpty(&rect)) MbDrawOutline(desk->Get(), nullptr, &rect, thickness);
            drawn = rect;
            drawnThickness = thickness;
        } else if (!::IsRectEmpty(&rect)) {
            apply();
        }
    };

    auto finish = [&]() {
        if (::GetCapture() == wnd) ::ReleaseCapture();
        if (desk) {
            if (!::IsRectEmpty(&drawn)) MbDrawOutline(desk->Get(), &drawn, nullptr, drawnThickness);
            desk.reset();
            ::LockWindowUpdate(nullptr);
        }
        ::SetCursor(savedCursor);
    };
    try {
        ::SetCapture(wnd);
        update();
        started = true;
        TMbMouseLoop loop;
        loop.Going = [&] { return *alive; };
        // Ctrl held down keeps the window from docking.
        loop.OnKey = [&](const MSG& Msg) {
            if (Msg.wParam == VK_CONTROL) {
                ctrlDown = Msg.message == WM_KEYDOWN;
                update();
                return false;
            }
            return Msg.wParam == VK_ESCAPE && Msg.message == WM_KEYDOWN;
        };
        loop.OnMove = [&](POINT At) {
            if (At.x != pointer.x || At.y != pointer.y) {
                pointer = At;
                update();
            }
        };
        accepted = MbRunMouseLoop(wnd, loop);
        // Destroyed by a handler while dragging: nothing of it is touched.
        if (!*alive) {
            finish();
            return;
        }
        finish();
        LiveDragging = false;
        if (accepted && !::IsRectEmpty(&rect)) apply();
        if (useLastDock_ && IsDocked) SetLastDock(currentDock_);
        if (toolWindow_ && toolWindow_ != GetParent()) {
            TMbFloatingWindowParent* tw = toolWindow_;
            toolWindow_ = nullptr;
            tw->Hosted = nullptr;
            delete tw;
        }
    } catch (...) {
        if (*alive) {
            finish();
            LiveDragging = false;
            InDrag = false;
            SplitMode = false;
        }
        throw;
    }
    InDrag = false;
    SplitMode = false;
}

}  // namespace toolbar
