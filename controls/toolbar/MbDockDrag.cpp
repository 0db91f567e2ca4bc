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

// One run of the drag loop: where the drag started, the targets measured
// at its start, and where the window would go now. The loop's handlers call
// Update; Apply moves the window (at every step when dragging live, else
// once at the end).
struct TMbCustomDockableWindow::TDragRun {
    TMbCustomDockableWindow& Bar;
    const HWND Wnd;
    TMbDock* const StartDock;
    const int StartRow;
    // Whether the window may still enter split mode (it was crowded in its
    // row and has not left it).
    bool CanSplit = false;
    bool Live = false;
    // The press in screen coordinates, the grab point within the window and
    // the window's size less one, by which the grab point scales to the
    // size a target gives the window.
    POINT Press{};
    POINT Grab{};
    SIZE Scale{};
    bool CtrlDown = false;
    bool CannotFloat = false;
    std::vector<std::unique_ptr<TDockedSize>> Targets;
    int FrameW = 0, FrameH = 0, CaptionH = 0;
    HCURSOR SavedCursor = nullptr;
    // The locked desktop the outline is drawn on (not when dragging live).
    std::unique_ptr<TWindowDC> Desk;
    TMbDock* Target = nullptr;
    RECT Rect{}, Drawn{};
    int DrawnThickness = 1;
    bool Started = false;
    POINT Pointer{};

    explicit TDragRun(TMbCustomDockableWindow& ABar)
        : Bar(ABar), Wnd(ABar.GetHandle()), StartDock(ABar.currentDock_), StartRow(ABar.dockRow_)
    {
    }

    void Begin(POINT Client);
    void MeasureTargets();
    void LockScreen();
    TDockedSize* SizeOf(TMbDock* Dock) const;
    RECT DragRect(TMbDock* Dock, POINT P) const;
    bool NearDock(const TDockedSize* T, POINT P) const;
    void Update();
    void ChooseTarget();
    void PlaceRect();
    void ShowCursor();
    void Apply();
    void DockIntoTarget();
    void Finish();
};

// Marks the drag, lays the window's dock out once to learn whether the
// window is crowded in its row (only then may it split), and takes the
// grab point.
void TMbCustomDockableWindow::TDragRun::Begin(POINT Client)
{
    Bar.InDrag = true;
    Bar.SplitMode = false;
    if (Bar.IsDocked && Bar.currentDock_) {
        Bar.DragCrowded = false;
        Bar.currentDock_->CommitLayout = true;
        Bar.currentDock_->LayoutRows();
        CanSplit = Bar.DragCrowded;
    }
    Live = Bar.SmoothDrag;
    Bar.LiveDragging = Live;

    Press = Client;
    ::ClientToScreen(Wnd, &Press);
    RECT reference{};
    if (Bar.isFloating_ && Bar.toolWindow_ && Bar.toolWindow_->HandleAllocated())
        ::GetWindowRect(Bar.toolWindow_->GetHandle(), &reference);
    else ::GetWindowRect(Wnd, &reference);
    Grab = POINT{Press.x - reference.left, Press.y - reference.top};
    Scale = SIZE{std::max<LONG>(1, reference.right - reference.left - 1),
                 std::max<LONG>(1, reference.bottom - reference.top - 1)};
    CtrlDown = ::GetKeyState(VK_CONTROL) < 0;
    CannotFloat = Bar.DockMode != dmCanFloat;
}

// The floating target first, then every dock the window may join with the
// size it would have there and the dock's rows.
void TMbCustomDockableWindow::TDragRun::MeasureTargets()
{
    const std::vector<TMbDock*> docks = MbCollectDocks(&Bar);
    for (TMbDock* d : docks) d->FreezePositions();

    Bar.FloatFrameSize(FrameW, FrameH);
    CaptionH = Bar.showCaption_ ? ::GetSystemMetrics(SM_CYSMCAPTION) : 0;
    {
        auto floating = std::make_unique<TDockedSize>();
        const SIZE s = Bar.CalcArrangedSize(false, MbDockTypeOf(Bar.currentDock_, Bar.isFloating_), true, nullptr);
        floating->OuterSize = SIZE{s.cx + 2 * FrameW, s.cy + 2 * FrameH + CaptionH};
        Targets.push_back(std::move(floating));
    }
    for (TMbDock* d : docks) {
        auto t = std::make_unique<TDockedSize>();
        t->TargetDock = d;
        RECT c{};
        ::GetClientRect(d->GetHandle(), &c);
        ::MapWindowPoints(d->GetHandle(), HWND_DESKTOP, reinterpret_cast<POINT*>(&c), 2);
        t->ScreenRect = c;
        if (d == Bar.currentDock_ && Bar.IsDocked) {
            t->OuterSize = SIZE{Bar.GetWidth(), Bar.GetHeight()};
        } else {
            const SIZE s = Bar.CalcArrangedSize(false, MbDockTypeOf(Bar.currentDock_, Bar.isFloating_), false, d);
            t->OuterSize = SIZE{s.cx + 4, s.cy + 4};
            if (d->GetAllowDrag()) {
                if (d->IsVertical()) t->OuterSize.cy += Bar.DragHandleSize();
                else t->OuterSize.cx += Bar.DragHandleSize();
            }
        }
        const int last = d->LastRowIndex(true);
        for (int r = 0; r <= last; ++r) {
            bool full = false;
            const int size = d->RowExtent(r, &full);
            t->Rows.push_back(TMbRowExtent{size, full});
        }
        Targets.push_back(std::move(t));
    }
}

// Paints what is pending, then (unless dragging live) locks the desktop
// for the outline.
void TMbCustomDockableWindow::TDragRun::LockScreen()
{
    MSG pending;
    while (::PeekMessageW(&pending, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) ::DispatchMessageW(&pending);
    SavedCursor = ::GetCursor();
    if (!Live) {
        ::LockWindowUpdate(::GetDesktopWindow());
        Desk = std::make_unique<TWindowDC>(::GetDesktopWindow(), nullptr, DCX_WINDOW | DCX_CACHE | DCX_LOCKWINDOWUPDATE);
    }
}

TDockedSize* TMbCustomDockableWindow::TDragRun::SizeOf(TMbDock* Dock) const
{
    for (auto& t : Targets)
        if (t->TargetDock == Dock) return t.get();
    return nullptr;
}

// The window's screen rectangle in Dock (nullptr: floating) with the grab
// point at P.
RECT TMbCustomDockableWindow::TDragRun::DragRect(TMbDock* Dock, POINT P) const
{
    TDockedSize* t = SizeOf(Dock);
    if (!t) return RECT{};
    const int w = t->OuterSize.cx, h = t->OuterSize.cy;
    const int left = P.x - ::MulDiv(w - 1, Grab.x, Scale.cx);
    const int top = P.y - ::MulDiv(h - 1, Grab.y, Scale.cy);
    return RECT{left, top, left + w, top + h};
}

bool TMbCustomDockableWindow::TDragRun::NearDock(const TDockedSize* T, POINT P) const
{
    RECT r = T->ScreenRect;
    ::InflateRect(&r, 3, 3);
    const int ax = ::MulDiv(25, Grab.x, Scale.cx), ay = ::MulDiv(25, Grab.y, Scale.cy);
    if (P.x < r.left + ax - 25 || P.x >= r.right + ax) return false;
    if (T->TargetDock->IsVertical() && (P.y < r.top || P.y >= r.bottom)) return false;
    if (P.y < r.top + ay - 25 || P.y >= r.bottom + ay) return false;
    const RECT d = DragRect(T->TargetDock, P);
    RECT overlap{};
    return ::IntersectRect(&overlap, &d, &r) != 0;
}

// The pointer moved or Ctrl changed: a new target and rectangle, the
// cursor, and the outline redrawn or (live) the window moved.
void TMbCustomDockableWindow::TDragRun::Update()
{
    ChooseTarget();
    PlaceRect();
    ShowCursor();
    if (!Live) {
        const int thickness = Target ? 1 : FrameW;
        MbDrawOutline(Desk->Get(), ::IsRectEmpty(&Drawn) ? nullptr : &Drawn, nullptr, DrawnThickness);
        if (!::IsRectEmpty(&Rect)) MbDrawOutline(Desk->Get(), nullptr, &Rect, thickness);
        Drawn = Rect;
        DrawnThickness = thickness;
    } else if (!::IsRectEmpty(&Rect)) {
        Apply();
    }
}

// The first dock near the pointer that takes the window; none once the
// drag has started with Ctrl held down. Split mode keeps its dock.
void TMbCustomDockableWindow::TDragRun::ChooseTarget()
{
    if (Bar.SplitMode) return;
    Target = nullptr;
    if (!Started || CtrlDown) return;
    for (auto& t : Targets) {
        if (!t->TargetDock || !NearDock(t.get(), Pointer)) continue;
        bool accept = true;
        t->TargetDock->OnRequestDock(t->TargetDock, &Bar, accept);
        if (accept) {
            Target = t->TargetDock;
            break;
        }
    }
}

// The drag rectangle; floating, the pointer stays in its monitor's work
// area and the window keeps a part of itself (and its caption) there.
void TMbCustomDockableWindow::TDragRun::PlaceRect()
{
    POINT p = Pointer;
    RECT work{};
    if (!Target) {
        work = WorkAreaAt(Pointer);
        p.x = std::clamp(p.x, work.left, work.right - 1);
        p.y = std::clamp(p.y, work.top, work.bottom - 1);
    }
    Rect = DragRect(Target, p);
    if (Target) return;
    RECT W = work;
    ::InflateRect(&W, -(FrameW + 4), -(FrameH + 4));
    if (Rect.bottom < W.top) ::OffsetRect(&Rect, 0, W.top - Rect.bottom);
    if (Rect.top > W.bottom) ::OffsetRect(&Rect, 0, W.bottom - Rect.top);
    if (Rect.right < W.left) ::OffsetRect(&Rect, W.left - Rect.right, 0);
    if (Rect.left > W.right) ::OffsetRect(&Rect, W.right - Rect.left, 0);
    const int minTop = work.top - (FrameH + CaptionH) + 4;
    if (Rect.top < minTop) ::OffsetRect(&Rect, 0, minTop - Rect.top);
}

// No drop where the window may not float; the sizing cursor in split mode.
void TMbCustomDockableWindow::TDragRun::ShowCursor()
{
    if (CannotFloat && !Target) {
        Rect = RECT{};
        ::SetCursor(::LoadCursorW(nullptr, IDC_NO));
    } else if (Bar.SplitMode) {
        ::SetCursor(::LoadCursorW(nullptr, Target && Target->IsVertical() ? IDC_SIZENS : IDC_SIZEWE));
    } else {
        ::SetCursor(SavedCursor);
    }
}

// Moves the window to the drag rectangle: into the target dock, or
// floating there.
void TMbCustomDockableWindow::TDragRun::Apply()
{
    if (Target) {
        DockIntoTarget();
    } else {
        CanSplit = false;
        Bar.SetFloatOrigin(POINT{Rect.left, Rect.top});
        Bar.SetIsFloating(true);
        Bar.KeepOnScreen(true);
    }
    Bar.Update();
    if (Bar.toolWindow_ && Bar.isFloating_) Bar.toolWindow_->Update();
}

// The row under the rectangle's middle (split mode keeps the row); moving
// along its own row far enough turns a crowded window to split mode, and
// leaving the row ends that chance.
void TMbCustomDockableWindow::TDragRun::DockIntoTarget()
{
    RECT r = Rect;
    ::MapWindowPoints(HWND_DESKTOP, Target->GetHandle(), reinterpret_cast<POINT*>(&r), 2);
    const bool vertical = Target->IsVertical();
    int row;
    bool newRow = false;
    if (Bar.SplitMode) {
        row = Bar.dockRow_;
    } else {
        const int middle = vertical ? (r.left + r.right) / 2 : (r.top + r.bottom) / 2;
        row = MbRowFromOffset(SizeOf(Target)->Rows, middle, Bar.fullSize_, newRow);
        if (newRow) CanSplit = false;
    }
    if (CanSplit) {
        const int moved = vertical ? Pointer.y - Press.y : Pointer.x - Press.x;
        if (Target == StartDock && row == StartRow && std::abs(moved) > 9) {
            CanSplit = false;
            Bar.SplitMode = true;
            ::SetCursor(::LoadCursorW(nullptr, vertical ? IDC_SIZENS : IDC_SIZEWE));
        } else if (Target != StartDock || row != StartRow) {
            CanSplit = false;
        }
    }
    Bar.dockRow_ = row;
    Bar.dockPos_ = vertical ? r.top : r.left;
    Bar.SetParent(Target);
    if (!Bar.LiveDragging) Target->CommitLayout = true;
    Bar.NewRowRequest = newRow;
    try {
        Target->LayoutRows();
    } catch (...) {
        Bar.NewRowRequest = false;
        throw;
    }
    Bar.NewRowRequest = false;
}

// Ends the capture, takes the outline off the desktop and unlocks it, and
// gives the cursor back. Touches only the window handle, not the window
// object, which may be gone.
void TMbCustomDockableWindow::TDragRun::Finish()
{
    if (::GetCapture() == Wnd) ::ReleaseCapture();
    if (Desk) {
        if (!::IsRectEmpty(&Drawn)) MbDrawOutline(Desk->Get(), &Drawn, nullptr, DrawnThickness);
        Desk.reset();
        ::LockWindowUpdate(nullptr);
    }
    ::SetCursor(SavedCursor);
}

void TMbCustomDockableWindow::RunDragLoop(POINT Client)
{
    if (!HandleAllocated()) return;
    auto alive = AliveToken();
    TDragRun run(*this);
    run.Begin(Client);
    run.MeasureTargets();
    run.LockScreen();
    run.Started = IsDocked;
    run.Pointer = run.Press;
    bool accepted = false;
    try {
        ::SetCapture(run.Wnd);
        run.Update();
        run.Started = true;
        TMbMouseLoop loop;
        loop.Going = [&] { return *alive; };
        // Ctrl held down keeps the window from docking.
        loop.OnKey = [&](const MSG& Msg) {
            if (Msg.wParam == VK_CONTROL) {
                run.CtrlDown = Msg.message == WM_KEYDOWN;
                run.Update();
                return false;
            }
            return Msg.wParam == VK_ESCAPE && Msg.message == WM_KEYDOWN;
        };
        loop.OnMove = [&](POINT At) {
            if (At.x != run.Pointer.x || At.y != run.Pointer.y) {
                run.Pointer = At;
                run.Update();
            }
        };
        accepted = MbRunMouseLoop(run.Wnd, loop);
        // Destroyed by a handler while dragging: nothing of it is touched.
        if (!*alive) {
            run.Finish();
            return;
        }
        run.Finish();
        LiveDragging = false;
        if (accepted && !::IsRectEmpty(&run.Rect)) run.Apply();
        if (useLastDock_ && IsDocked) SetLastDock(currentDock_);
        if (toolWindow_ && toolWindow_ != GetParent()) {
            TMbFloatingWindowParent* tw = toolWindow_;
            toolWindow_ = nullptr;
            tw->Hosted = nullptr;
            delete tw;
        }
    } catch (...) {
        if (*alive) {
            run.Finish();
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
