#include "controls/toolbar/MbDock.h"

#include <algorithm>

#include "classlib/Exceptions.h"
#include "classlib/WinHandles.h"
#include "controls/toolbar/MbCommon.h"

namespace toolbar {

using namespace classlib;

int MbDockTypeOf(const TMbDock* Dock, bool Floating)
{
    if (Floating) return 1;
    if (!Dock) return 0;
    return Dock->IsVertical() ? 3 : 2;
}

TMbDock::TMbDock(TComponent* AOwner) : TCustomControl(AOwner)
{
    ControlStyle = (ControlStyle | csAcceptsControls | csMenuEvents) & ~(csCaptureMouse | csClickEvents | csOpaque);
    SetColor(clBtnFace);
    SetAlign(alTop);
}

TMbDock::~TMbDock()
{
    if (background_) background_->RemoveChangeHandler(TNotifyEvent(this, &TMbDock::RepaintBackgroundEvent));
    // Members hear of this dock's end through their free notifications.
    Members.clear();
    ShownMembers.clear();
}

void TMbDock::RepaintBackgroundEvent(TObject*) { RepaintBackground(); }

void TMbDock::SetParent(TWinControl* Value)
{
    if (dynamic_cast<TMbCustomDockableWindow*>(Value) || dynamic_cast<TMbDock*>(Value))
        throw EInvalidOperation(L"A TMbDock control cannot be placed inside a tool window or another TMbDock");
    TCustomControl::SetParent(Value);
}

void TMbDock::CreateParams(TCreateParams& Params)
{
    TCustomControl::CreateParams(Params);
    Params.WindowClassStyle &= ~static_cast<UINT>(CS_HREDRAW | CS_VREDRAW);
}

void TMbDock::SetPosition(TMbDockPosition Value)
{
    if (Value != position_ && GetControlCount() > 0)
        throw EInvalidOperation(L"Cannot change Position of a TMbDock if it already contains controls");
    position_ = Value;
    static const TAlign kAligns[] = {alTop, alBottom, alLeft, alRight};
    SetAlign(kAligns[Value]);
}

void TMbDock::SetAllowDrag(bool Value)
{
    if (Value == allowDrag_) return;
    allowDrag_ = Value;
    for (int i = 0; i < GetControlCount(); ++i)
        if (auto* bar = dynamic_cast<TMbCustomDockableWindow*>(GetControl(i))) bar->RecalcNonClient();
    LayoutRows();
}

void TMbDock::SetBoundLines(TMbDockBoundLines Value)
{
    if (Value == boundLines_) return;
    boundLines_ = Value;
    FrameWidth = ((Value & blLeft) ? 1 : 0) + ((Value & blRight) ? 1 : 0);
    FrameHeight = ((Value & blTop) ? 1 : 0) + ((Value & blBottom) ? 1 : 0);
    if (HandleAllocated())
        ::SetWindowPos(GetHandle(), nullptr, 0, 0, 0, 0,
                       SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    LayoutRows();
}

void TMbDock::SetBackground(TMbBasicBackground* Value)
{
    if (Value == background_) return;
    if (background_) {
        background_->RemoveChangeHandler(TNotifyEvent(this, &TMbDock::RepaintBackgroundEvent));
        background_->RemoveFreeNotification(this);
    }
    background_ = Value;
    if (Value) {
        Value->FreeNotification(this);
        Value->AddChangeHandler(TNotifyEvent(this, &TMbDock::RepaintBackgroundEvent));
    }
    RepaintBackground();
}

void TMbDock::SetBackgroundOnToolbars(bool Value)
{
    if (Value == backgroundOnToolbars_) return;
    backgroundOnToolbars_ = Value;
    RepaintBackground();
}

void TMbDock::SetFixAlign(bool Value)
{
    if (Value == fixAlign_) return;
    fixAlign_ = Value;
    LayoutRows();
}

void TMbDock::RepaintBackground()
{
    if (!HandleAllocated()) return;
    ::InvalidateRect(GetHandle(), nullptr, TRUE);
    for (TMbCustomDockableWindow* bar : Members)
        if (ShowsInDock(bar) && bar->HandleAllocated())
            ::RedrawWindow(bar->GetHandle(), nullptr, nullptr,
                           RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_NOCHILDREN);
}

bool TMbDock::PaintBackgroundAt(HDC DC, const RECT& Clip, POINT Origin)
{
    if (!BackgroundActive() || !HandleAllocated()) return false;
    POINT picture{0, 0};
    const HWND parentWnd = ::GetParent(GetHandle());
    if (parentWnd) ::ClientToScreen(parentWnd, &picture);
    else ::ClientToScreen(GetHandle(), &picture);
    const RECT r{picture.x - Origin.x, picture.y - Origin.y, std::max(Clip.right, picture.x - Origin.x),
                 std::max(Clip.bottom, picture.y - Origin.y)};
    TSaveDCScope saved(DC);
    ::IntersectClipRect(DC, Clip.left, Clip.top, Clip.right, Clip.bottom);
    background_->PaintTo(DC, r);
    return true;
}

void TMbDock::UnlockLayout()
{
    if (--UpdateCount == 0 && LayoutPending) LayoutRows();
}

void TMbDock::Notification(TComponent* AComponent, TOperation Operation)
{
    TCustomControl::Notification(AComponent, Operation);
    if (Operation != opRemove) return;
    if (AComponent == background_) background_ = nullptr;
    // By address: the component may be half destroyed already.
    auto same = [&](TMbCustomDockableWindow* Bar) { return static_cast<TComponent*>(Bar) == AComponent; };
    Members.erase(std::remove_if(Members.begin(), Members.end(), same), Members.end());
    ShownMembers.erase(std::remove_if(ShownMembers.begin(), ShownMembers.end(), same), ShownMembers.end());
}

bool TMbDock::ShowsInDock(const TMbCustomDockableWindow* Bar) const
{
    return Bar->GetParent() == this && Bar->GetVisible();
}

void TMbDock::SetDockListMember(TMbCustomDockableWindow* Bar, bool Add)
{
    auto it = std::find(Members.begin(), Members.end(), Bar);
    if (Add && it == Members.end()) {
        Members.push_back(Bar);
        Bar->FreeNotification(this);
    } else if (!Add && it != Members.end()) {
        Members.erase(it);
    }
    UpdateVisibleMember(Bar, false);
}

void TMbDock::UpdateVisibleMember(TMbCustomDockableWindow* Bar, bool ForceOut)
{
    const bool want = !ForceOut && ShowsInDock(Bar);
    auto it = std::find(ShownMembers.begin(), ShownMembers.end(), Bar);
    const bool has = it != ShownMembers.end();
    if (want == has) return;
    if (want) ShownMembers.push_back(Bar);
    else ShownMembers.erase(it);
    LayoutRows();
    OnInsertRemoveBar(this, want, Bar);
}

void TMbDock::FreezePositions()
{
    for (TMbCustomDockableWindow* bar : ShownMembers) {
        bar->dockRow_ = bar->CurrentRow;
        bar->dockPos_ = bar->CurrentPos;
    }
}

bool TMbDock::Accepts(TMbCustomDockableWindow* Bar)
{
    if (!allowDrag_ || !(Bar->DockableTo & (1u << position_))) return false;
    bool accept = true;
    OnRequestDock(this, Bar, accept);
    return accept;
}

int TMbDock::LastRowIndex(bool UseCurrentRows) const
{
    int last = -1;
    for (const TMbCustomDockableWindow* bar : Members)
        last = std::max(last, UseCurrentRows ? bar->CurrentRow : bar->dockRow_);
    return last;
}

int TMbDock::RowExtent(int Row, bool* HasFullSize) const
{
    if (HasFullSize) *HasFullSize = false;
    if (Row < 0) return 0;
    int extent = 0;
    for (const TMbCustomDockableWindow* bar : Members) {
        if (!ShowsInDock(bar) || bar->CurrentRow != Row) continue;
        extent = std::max(extent, IsVertical() ? bar->GetWidth() : bar->GetHeight());
        if (bar->fullSize_ && HasFullSize) *HasFullSize = true;
    }
    return extent;
}

int TMbDock::RowExtentExcept(int Row, const TMbCustomDockableWindow* Bar) const
{
    if (Row < 0) return 0;
    int extent = 0;
    for (const TMbCustomDockableWindow* bar : Members)
        if (bar != Bar && ShowsInDock(bar) && bar->CurrentRow == Row) extent = std::max(extent, bar->RowThickness);
    return extent;
}

int TMbDock::RowAtOffset(int Offset) const
{
    const int highest = LastRowIndex(true);
    int sum = 0;
    for (int r = 0; r <= highest; ++r) {
        sum += RowExtent(r);
        if (sum > Offset) return r;
    }
    return highest + 1;
}

void TMbDock::ResizeDock(int AWidth, int AHeight)
{
    int left = GetLeft(), top = GetTop();
    switch (GetAlign()) {
    case alBottom: top = GetTop() + GetHeight() - AHeight; break;
    case alRight: left = GetLeft() + GetWidth() - AWidth; break;
    case alTop:
    case alLeft:
    case alNone: break;
    default: return;
    }
    SetBounds(left, top, AWidth, AHeight);
}

void TMbDock::Resize()
{
    TCustomControl::Resize();
    // A new length along the dock changes what fits in each row.
    LayoutRows();
}

void TMbDock::Paint() {}

void TMbDock::DrawNonClient(HDC DC)
{
    bool any = false;
    for (TMbCustomDockableWindow* bar : Members)
        if (ShowsInDock(bar)) any = true;
    if (!boundLines_ || !any) return;
    const RECT w = WindowRectAtOrigin(GetHandle());
    TOwnedPen shadow(::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_BTNSHADOW)));
    TOwnedPen light(::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_BTNHIGHLIGHT)));
    {
        TSelectObjectScope pen(DC, shadow.Get());
        if (boundLines_ & blTop) {
            ::MoveToEx(DC, 0, 0, nullptr);
            ::LineTo(DC, w.right, 0);
        }
        if (boundLines_ & blLeft) {
            ::MoveToEx(DC, 0, 0, nullptr);
            ::LineTo(DC, 0, w.bottom);
        }
    }
    {
        TSelectObjectScope pen(DC, light.Get());
        if (boundLines_ & blBottom) {
            ::MoveToEx(DC, 0, w.bottom - 1, nullptr);
            ::LineTo(DC, w.right, w.bottom - 1);
        }
        if (boundLines_ & blRight) {
            ::MoveToEx(DC, w.right - 1, 0, nullptr);
            ::LineTo(DC, w.right - 1, w.bottom);
        }
    }
    // The rest of the ring outside the client area takes the dock's colour.
    RECT inner = w;
    if (boundLines_ & blLeft) ++inner.left;
    if (boundLines_ & blTop) ++inner.top;
    if (boundLines_ & blRight) --inner.right;
    if (boundLines_ & blBottom) --inner.bottom;
    RECT lines = w;
    const bool top = boundLines_ & blTop, left = boundLines_ & blLeft;
    const bool bottom = boundLines_ & blBottom, right = boundLines_ & blRight;
    TSaveDCScope saved(DC);
    ::ExcludeClipRect(DC, inner.left, inner.top, inner.right, inner.bottom);
    // Leave the lines drawn above alone.
    if (top) ::ExcludeClipRect(DC, lines.left, lines.top, lines.right, lines.top + 1);
    if (left) ::ExcludeClipRect(DC, lines.left, lines.top, lines.left + 1, lines.bottom);
    if (bottom) ::ExcludeClipRect(DC, lines.left, lines.bottom - 1, lines.right, lines.bottom);
    if (right) ::ExcludeClipRect(DC, lines.right - 1, lines.top, lines.right, lines.bottom);
    TOwnedBrush face(::CreateSolidBrush(static_cast<COLORREF>(ColorToRGB(GetColor()))));
    ::FillRect(DC, &w, face.Get());
}

LRESULT TMbDock::RelayKey(UINT Msg, WPARAM WParam, LPARAM LParam)
{
    for (TMbCustomDockableWindow* bar : std::vector<TMbCustomDockableWindow*>(Members)) {
        if (!bar->GetIsFloating() || !bar->CanFocus()) continue;
        if (Msg == WM_SYSCOMMAND && !(bar->ControlStyle & csMenuEvents)) continue;
        if (LRESULT r = bar->Perform(Msg, WParam, LParam)) return r;
    }
    return 0;
}

void TMbDock::WndProc(TMessage& Message)
{
    switch (Message.Msg) {
    case WM_NCCALCSIZE: {
        auto* r = reinterpret_cast<RECT*>(Message.LParam);
        if (boundLines_ & blLeft) ++r->left;
        if (boundLines_ & blTop) ++r->top;
        if (boundLines_ & blRight) --r->right;
        if (boundLines_ & blBottom) --r->bottom;
        Message.Result = 0;
        return;
    }
    case WM_NCPAINT: {
        TWindowDC dc(GetHandle(), nullptr, DCX_WINDOW | DCX_CACHE);
        DrawNonClient(dc.Get());
        Message.Result = 0;
        return;
    }
    case WM_PRINT:
        Message.Result = PrintWindowTree(
            GetHandle(), reinterpret_cast<HDC>(Message.WParam), Message.LParam,
            [](HWND, HDC DC, void* Self) { static_cast<TMbDock*>(Self)->DrawNonClient(DC); }, this);
        return;
    case WM_PRINTCLIENT:
        PaintHandler(Message);
        return;
    case WM_ERASEBKGND:
        if (BackgroundActive()) {
            RECT r{};
            ::GetClientRect(GetHandle(), &r);
            const HDC dc = reinterpret_cast<HDC>(Message.WParam);
            // The DC may be a bitmap's with a moved origin: its (0, 0) is
            // where the client origin's logical point maps.
            POINT origin{0, 0};
            ::ClientToScreen(GetHandle(), &origin);
            PaintBackgroundAt(dc, r, origin);
            Message.Result = 1;
            return;
        }
        break;
    case WM_MOVE:
        TCustomControl::WndProc(Message);
        // The picture continues from the parent's origin: moved, the dock
        // shows another part of it, and so do the windows on it.
        if (BackgroundActive()) RepaintBackground();
        return;
    case WM_SYSCOLORCHANGE:
        if (background_) background_->SystemColoursChanged();
        break;
    case CM_DIALOGKEY:
    case CM_DIALOGCHAR:
        if ((Message.Result = RelayKey(Message.Msg, Message.WParam, Message.LParam)) != 0) return;
        break;
    case WM_SYSCOMMAND:
        // Only the relay; a dock has no system menu of its own.
        Message.Result = RelayKey(Message.Msg, Message.WParam, Message.LParam);
        return;
    default: break;
    }
    TCustomControl::WndProc(Message);
}

// ------------------------------------------------------------------ layout

namespace {

struct TRowEntry {
    TMbCustomDockableWindow* Bar;
    int Row, WorkRow, Pos;
    int Gap = 0, FullLen = 0, MinLen = 0, Len = 0, Overlap = 0;
    TMbShrinkMode ShrinkKind = tbsmNone;
    bool NeedsArrange = false;
};

}  // namespace

void TMbDock::Loaded()
{
    TCustomControl::Loaded();
    LayoutRows();
}

// One run of LayoutRows: the work list in row and position order with the
// row each window shows in (Row, -1 when it does not show) and the row it
// is counted in (WorkRow), and the row being fitted. The steps run in the
// order LayoutRows calls them; only PlaceRows moves the windows.
struct TMbDock::TRowLayout {
    TMbDock& Dock;
    const bool Vertical;
    std::vector<TRowEntry> E;
    int Dragged = -1;  // the dragged window's place in E
    int MaxRow = 0;
    int RowLen = 0;

    // The row being fitted: its entries, how much longer than the dock they
    // are, and the dragged window's wanted position and place in the row.
    std::vector<std::size_t> Row;
    int Excess = 0;
    int DraggedWant = 0, DraggedAt = -1;

    TRowLayout(TMbDock& ADock) : Dock(ADock), Vertical(ADock.IsVertical()) {}

    void DropLeavingMembers();
    bool AnyShown() const;
    void BuildWorkList();
    void OpenRequestedRows();
    void DropEmptyRows();
    void FitRow(int R);
    void CollectRow(int R);
    void PlanPositions();
    void CloseGapsBeforeDragged();
    void TrimGapsToRow();
    void ShrinkChevronsForOverlaps();
    void ShrinkFromEnd();
    void SetFinalPositions();
    int SpanTo(std::size_t Last) const;
    void RecordPositions();
    int RowThickness(int R);
    void PlaceRow(int R, int Offset, int RowSize);
};

// Walking from the end, windows on their way out leave both lists.
void TMbDock::TRowLayout::DropLeavingMembers()
{
    std::vector<TMbCustomDockableWindow*>& members = Dock.Members;
    std::vector<TMbCustomDockableWindow*>& shown = Dock.ShownMembers;
    for (std::size_t i = members.size(); i-- > 0;)
        if (members[i]->BeingDestroyed()) {
            TMbCustomDockableWindow* bar = members[i];
            members.erase(members.begin() + static_cast<std::ptrdiff_t>(i));
            shown.erase(std::remove(shown.begin(), shown.end(), bar), shown.end());
        }
}

bool TMbDock::TRowLayout::AnyShown() const
{
    bool anyShown = false;
    for (TMbCustomDockableWindow* bar : Dock.Members)
        if (Dock.ShowsInDock(bar)) anyShown = true;
    return anyShown;
}

// The work list in row and position order; a dragged window in split mode
// keeps its list place.
void TMbDock::TRowLayout::BuildWorkList()
{
    const int clientW = std::max(0, Dock.GetWidth() - Dock.FrameWidth);
    const int clientH = std::max(0, Dock.GetHeight() - Dock.FrameHeight);
    RowLen = Vertical ? clientH : clientW;
    if (Dock.LimitToOneRow)
        for (TMbCustomDockableWindow* bar : Dock.Members) bar->dockRow_ = 0;

    std::vector<TMbCustomDockableWindow*> L = Dock.Members;
    int dragIndex = -1;
    for (std::size_t i = 0; i < L.size(); ++i)
        if (L[i]->InDrag) dragIndex = static_cast<int>(i);
    auto before = [](const TMbCustomDockableWindow* a, const TMbCustomDockableWindow* b) {
        return a->dockRow_ != b->dockRow_ ? a->dockRow_ < b->dockRow_ : a->dockPos_ < b->dockPos_;
    };
    TMbCustomDockableWindow* dragged = dragIndex >= 0 ? L[static_cast<std::size_t>(dragIndex)] : nullptr;
    std::stable_sort(L.begin(), L.end(), before);
    if (dragged && dragged->SplitMode) {
        L.erase(std::find(L.begin(), L.end(), dragged));
        L.insert(L.begin() + dragIndex, dragged);
    }
    for (std::size_t i = 0; i < L.size(); ++i)
        if (L[i] == dragged) Dragged = static_cast<int>(i);
    std::stable_sort(Dock.ShownMembers.begin(), Dock.ShownMembers.end(), before);

    E.reserve(L.size());
    for (TMbCustomDockableWindow* bar : L) {
        E.push_back(TRowEntry{bar, Dock.ShowsInDock(bar) ? bar->dockRow_ : -1, bar->dockRow_, bar->dockPos_});
        E.back().ShrinkKind = bar->QueryShrinkMode();
        MaxRow = std::max(MaxRow, bar->dockRow_);
    }
}

// A window asking for a row of its own (a drop), then full-size windows,
// push every other window at or below their row down by one.
void TMbDock::TRowLayout::OpenRequestedRows()
{
    const std::size_t n = E.size();
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 0 && Dock.LimitToOneRow) continue;
        for (int r = 0; r <= MaxRow; ++r)
            for (std::size_t i = 0; i < n; ++i) {
                TRowEntry& e = E[i];
                const bool flagged = pass == 0 ? e.Bar->NewRowRequest : e.Bar->fullSize_;
                if (!flagged || e.WorkRow != r || e.Row < 0) continue;
                bool shared = false;
                for (std::size_t j = 0; j < n; ++j)
                    if (j != i && E[j].WorkRow == r) shared = true;
                if (!shared) continue;
                for (std::size_t j = 0; j < n; ++j) {
                    if (j == i) continue;
                    if (E[j].WorkRow >= r) ++E[j].WorkRow;
                    if (E[j].Row >= r) ++E[j].Row;
                }
                ++MaxRow;
            }
    }
}

void TMbDock::TRowLayout::DropEmptyRows()
{
    for (int r = 0; r <= MaxRow;) {
        bool used = false;
        for (const TRowEntry& e : E)
            if (e.WorkRow == r) used = true;
        if (used) {
            ++r;
            continue;
        }
        for (TRowEntry& e : E) {
            if (e.WorkRow > r) --e.WorkRow;
            if (e.Row > r) --e.Row;
        }
        --MaxRow;
    }
}

// Fits row R into the dock's length: gaps where the windows want them,
// then shrinking where they are too long.
void TMbDock::TRowLayout::FitRow(int R)
{
    CollectRow(R);
    int total = 0;
    for (std::size_t i : Row) total += E[i].FullLen;
    Excess = total - RowLen;
    PlanPositions();
    if (Excess < 0 && DraggedAt > 0) CloseGapsBeforeDragged();
    if (!Row.empty()) TrimGapsToRow();
    if (Excess > 0) ShrinkChevronsForOverlaps();
    ShrinkFromEnd();
    SetFinalPositions();
}

// Measures the windows of row R in order; the first one that overflows a
// row that already holds a window moves with all after it to a new row.
void TMbDock::TRowLayout::CollectRow(int R)
{
    const std::size_t n = E.size();
    Row.clear();
    int sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        TRowEntry& e = E[i];
        if (e.Row != R) continue;
        const SIZE base = e.Bar->QueryBaseSize();
        int ncW = 0, ncH = 0;
        e.Bar->NonClientSize(ncW, ncH);
        e.FullLen = e.Len = Vertical ? base.cy + ncH : base.cx + ncW;
        int minLen = 0;
        e.Bar->QueryMinShrinkSize(minLen);
        e.MinLen = std::min(minLen, e.FullLen);
        sum += e.ShrinkKind == tbsmChevron ? e.MinLen : e.FullLen;
        if (!Row.empty() && sum > RowLen && !Dock.LimitToOneRow) {
            for (std::size_t j = i; j < n; ++j)
                if (E[j].Row >= R) {
                    ++E[j].Row;
                    ++E[j].WorkRow;
                }
            ++MaxRow;
            break;
        }
        Row.push_back(i);
    }
}

// Desired positions: a gap before a window that wants to stand further on
// (only while the row fits), an overlap where it wants to stand earlier.
void TMbDock::TRowLayout::PlanPositions()
{
    int cursor = 0, prevEnd = 0, minSum = 0;
    DraggedWant = 0;
    DraggedAt = -1;
    for (std::size_t k = 0; k < Row.size(); ++k) {
        TRowEntry& e = E[Row[k]];
        int want = e.Bar->dockPos_;
        if (k == 0 && (e.Bar->fullSize_ || e.Bar->stretch_)) want = 0;
        if (static_cast<int>(Row[k]) == Dragged) {
            DraggedWant = want;
            DraggedAt = static_cast<int>(k);
        }
        want = std::max(want, minSum);
        minSum += e.MinLen;
        if (want > cursor) {
            if (Excess <= 0) {
                e.Gap = want - cursor;
                cursor = want;
            }
        } else if (want < prevEnd) {
            e.Overlap = prevEnd - want;
        }
        cursor += e.Len;
        prevEnd = want + e.Len;
    }
}

int TMbDock::TRowLayout::SpanTo(std::size_t Last) const
{
    int s = 0;
    for (std::size_t k = 0; k <= Last; ++k) s += E[Row[k]].Gap + E[Row[k]].Len;
    return s;
}

// Room to spare and a dragged window: only it and the windows before it
// move; the gaps taken before it go to the window after it.
void TMbDock::TRowLayout::CloseGapsBeforeDragged()
{
    int need = SpanTo(static_cast<std::size_t>(DraggedAt - 1)) - DraggedWant;
    if (need <= 0) return;
    int removed = 0;
    for (int k = DraggedAt - 1; k >= 0 && need > 0; --k) {
        TRowEntry& e = E[Row[static_cast<std::size_t>(k)]];
        const int take = std::min(e.Gap, need);
        e.Gap -= take;
        need -= take;
        removed += take;
    }
    if (static_cast<std::size_t>(DraggedAt + 1) < Row.size()) E[Row[static_cast<std::size_t>(DraggedAt + 1)]].Gap += removed;
}

// Gaps that carry the row past the dock's end shrink from the end.
void TMbDock::TRowLayout::TrimGapsToRow()
{
    int over = SpanTo(Row.size() - 1) - RowLen;
    for (std::size_t k = Row.size(); k-- > 0 && over > 0;) {
        TRowEntry& e = E[Row[k]];
        const int take = std::min(e.Gap, over);
        e.Gap -= take;
        over -= take;
    }
}

// Overlaps shrink the chevron windows before them (not past the dragged
// window).
void TMbDock::TRowLayout::ShrinkChevronsForOverlaps()
{
    int carry = 0;
    for (std::size_t k = 0; k < Row.size(); ++k) {
        TRowEntry& e = E[Row[k]];
        if (static_cast<int>(Row[k]) == Dragged && Row.size() > 1) e.Bar->DragCrowded = true;
        carry = std::min(carry + e.Overlap, Excess);
        for (std::size_t j = k; j-- > 0 && carry > 0;) {
            TRowEntry& p = E[Row[j]];
            if (p.ShrinkKind == tbsmChevron) {
                const int give = std::min(carry, p.Len - p.MinLen);
                if (give > 0) {
                    p.Len -= give;
                    Excess -= give;
                    carry -= give;
                }
            }
            if (static_cast<int>(Row[j]) == Dragged) break;
        }
    }
}

// Still too long: shrink from the end.
void TMbDock::TRowLayout::ShrinkFromEnd()
{
    for (std::size_t k = Row.size(); k-- > 0 && Excess > 0;) {
        TRowEntry& e = E[Row[k]];
        if (e.ShrinkKind == tbsmNone || (e.ShrinkKind == tbsmWrap && Row.size() > 1)) continue;
        const int give = std::min(e.Len - e.MinLen, Excess);
        if (give > 0) {
            e.Len -= give;
            Excess -= give;
        }
    }
}

// Final positions: full-size and stretching windows take up the gaps
// beside them and the rest of the row.
void TMbDock::TRowLayout::SetFinalPositions()
{
    int cursor = 0;
    for (std::size_t k = 0; k < Row.size(); ++k) {
        TRowEntry& e = E[Row[k]];
        if (e.Bar->fullSize_ || e.Bar->stretch_) {
            e.Len += e.Gap;
            e.Gap = 0;
        }
        cursor += e.Gap;
        if (e.Bar->fullSize_) e.Len = std::max(e.Len, RowLen);
        if (e.Bar->stretch_) {
            if (k + 1 < Row.size()) {
                TRowEntry& next = E[Row[k + 1]];
                e.Len += next.Gap;
                next.Gap = 0;
            } else {
                e.Len = std::max(e.Len, RowLen - cursor);
            }
        }
        e.Pos = cursor;
        cursor += e.Len;
    }
}

// The current rows and positions; with CommitLayout also the windows' own
// rows and positions and the members' order.
void TMbDock::TRowLayout::RecordPositions()
{
    for (std::size_t i = 0; i < E.size(); ++i) {
        TRowEntry& e = E[i];
        e.Bar->CurrentRow = e.WorkRow;
        e.Bar->CurrentPos = e.Pos;
        if (Dock.CommitLayout) {
            e.Bar->dockRow_ = e.WorkRow;
            e.Bar->dockPos_ = e.Pos;
            Dock.Members[i] = e.Bar;
        }
    }
}

// Gives each window of row R its allotted length and thickness; the
// thickest of them, -1 for a row without windows.
int TMbDock::TRowLayout::RowThickness(int R)
{
    int thickest = -1;
    for (TRowEntry& e : E) {
        if (e.Row != R) continue;
        const int previous = e.Bar->AllottedLength;
        e.Bar->AllottedLength = e.Len >= e.FullLen ? 0 : e.Len;
        SIZE size;
        if (e.ShrinkKind != tbsmNone && e.Bar->AllottedLength != previous) {
            size = e.Bar->CalcArrangedSize(false, MbDockTypeOf(&Dock, false), false, &Dock);
            e.NeedsArrange = true;
        } else if (e.ShrinkKind == tbsmWrap && e.Bar->AllottedLength != 0) {
            const RECT c = e.Bar->GetClientRect();
            size = SIZE{c.right - c.left, c.bottom - c.top};
        } else {
            size = e.Bar->QueryBaseSize();
        }
        e.Bar->RowThickness = Vertical ? size.cx : size.cy;
        thickest = std::max(thickest, e.Bar->RowThickness);
    }
    return thickest;
}

// Moves the windows of row R to Offset across the dock; their allotted
// length stays through the move, which may arrange them again.
void TMbDock::TRowLayout::PlaceRow(int R, int Offset, int RowSize)
{
    for (TRowEntry& e : E) {
        if (e.Row != R) continue;
        TMbCustomDockableWindow* bar = e.Bar;
        ++bar->BoundsLock;
        const int allotted = bar->AllottedLength;
        try {
            if (e.NeedsArrange) bar->RearrangePending = true;
            if (Vertical) bar->SetBounds(Offset, e.Pos, RowSize, e.Len);
            else bar->SetBounds(e.Pos, Offset, e.Len, RowSize);
            if (bar->RearrangePending) bar->Rearrange();
        } catch (...) {
            bar->AllottedLength = allotted;
            --bar->BoundsLock;
            throw;
        }
        bar->AllottedLength = allotted;
        --bar->BoundsLock;
    }
}

void TMbDock::LayoutRows()
{
    if (UpdateCount > 0 || (GetComponentState() & csLoading)) {
        LayoutPending = true;
        return;
    }
    ++UpdateCount;
    struct TDone {
        TMbDock* Dock;
        ~TDone()
        {
            --Dock->UpdateCount;
            Dock->LayoutPending = false;
            Dock->CommitLayout = false;
        }
    } done{this};
    TRowLayout run(*this);
    const bool vertical = run.Vertical;

    run.DropLeavingMembers();
    if (!run.AnyShown()) {
        const int thickness = fixAlign_ ? 1 : 0;
        if (vertical) ResizeDock(thickness, GetHeight());
        else ResizeDock(GetWidth(), thickness);
        return;
    }
    run.BuildWorkList();
    run.OpenRequestedRows();
    run.DropEmptyRows();
    // Fitting a row may push windows on to a new row at the end.
    for (int r = 0; r <= run.MaxRow; ++r) run.FitRow(r);
    run.RecordPositions();

    int offset = 0;
    for (int r = 0; r <= run.MaxRow; ++r) {
        const int thickest = run.RowThickness(r);
        const int rowSize = thickest < 0 ? 0 : thickest + 4;
        run.PlaceRow(r, offset, rowSize);
        offset += rowSize;
    }
    if (vertical) ResizeDock(FrameWidth + offset, GetHeight());
    else ResizeDock(GetWidth(), FrameHeight + offset);
}

}  // namespace toolbar
