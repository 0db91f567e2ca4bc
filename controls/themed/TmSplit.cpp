#include "controls/themed/TmSplit.h"

#include <windowsx.h>

#include <climits>

#include "classlib/Exceptions.h"
#include "classlib/Forms.h"
#include "classlib/PatternBitmap.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"

using namespace classlib;

namespace themed {

namespace {

// Splitters in their Loaded step; while above zero no splitter lays out
// controls from a half-read form.
int g_loadingSplitters = 0;

// The width a frame style takes on one side.
int FrameWidth(TFrameStyleEx Style, int BevelWidth)
{
    switch (Style) {
    case fsFlat: return 1;
    case fsStatus:
    case fsPopup: return BevelWidth;
    case fsGroove:
    case fsBump:
    case fsLowered:
    case fsButtonDown:
    case fsRaised:
    case fsButtonUp: return 2;
    default: return 0;
    }
}

int RoundInt(double Value) { return static_cast<int>(classlib::Round(Value)); }

// Position as a percentage of Base; 0 when Base is 0.
int PercentOf(int Position, int Base)
{
    if (Base == 0) return 0;
    return RoundInt(static_cast<double>(Position) / Base * 100.0);
}

int Scale(int Percent, int Base) { return RoundInt(Percent / 100.0 * Base); }

}  // namespace

// ------------------------------------------------------------------ pane

TTmSplitterPane::TTmSplitterPane(TComponent* AOwner) : TTmCustomPanel(AOwner)
{
    ControlStyle |= csAcceptsControls;
    SetBorderOuter(fsNone);
    SetTabStop(false);
}

void TTmSplitterPane::SetVisible(bool Value)
{
    TTmCustomPanel::SetVisible(Value);
    if (splitter_) splitter_->LayoutPanes();
}

void TTmSplitterPane::WndProc(TMessage& Message)
{
    // The empty area of a pane belongs to the splitter below it; the
    // pane's own drawn controls (labels, speed buttons) keep their clicks.
    if (Message.Msg == WM_NCHITTEST && !(GetComponentState() & csDesigning) && !GetDockSite()) {
        POINT p{GET_X_LPARAM(Message.LParam), GET_Y_LPARAM(Message.LParam)};
        if (!HandleAllocated() || !::ScreenToClient(GetHandle(), &p) || !ControlAtPos(p, true)) {
            Message.Result = HTTRANSPARENT;
            return;
        }
    }
    TTmCustomPanel::WndProc(Message);
}

void TTmSplitterPane::MouseEnter()
{
    TTmCustomPanel::MouseEnter();
    Invalidate();
}

void TTmSplitterPane::MouseLeave()
{
    TTmCustomPanel::MouseLeave();
    Invalidate();
}

// ------------------------------------------------------------- pane data

void TTmPaneData::Assign(const TPersistent* Source)
{
    const auto* other = dynamic_cast<const TTmPaneData*>(Source);
    if (!other) {
        TPersistent::Assign(Source);
        return;
    }
    if (other == this) return;
    SetBorderColor(other->GetBorderColor());
    SetBorderInner(other->GetBorderInner());
    SetBorderOuter(other->GetBorderOuter());
    SetBorderWidth(other->GetBorderWidth());
    SetColor(other->GetColor());
    SetFlatColor(other->GetFlatColor());
    SetFlatColorAdjustment(other->GetFlatColorAdjustment());
    SetShowDockClientCaptions(other->GetShowDockClientCaptions());
    SetDockSite(other->GetDockSite());
    SetVisible(other->GetVisible());
}

// -------------------------------------------------------------- splitter

void TTmSplitter::PaneGetSiteInfo(TObject* Sender, TControl* DockClient, RECT& InfluenceRect, POINT MousePos,
                                  bool& CanDock)
{
    (Sender == pane1_ ? OnULGetSiteInfo : OnLRGetSiteInfo)(this, DockClient, InfluenceRect, MousePos, CanDock);
}

void TTmSplitter::PaneDockOver(TObject* Sender, TDragDockObject* Source, int X, int Y, TDragState State,
                               bool& Accept)
{
    (Sender == pane1_ ? OnULDockOver : OnLRDockOver)(this, Source, X, Y, State, Accept);
}

void TTmSplitter::PaneDockDrop(TObject* Sender, TDragDockObject* Source, int X, int Y)
{
    (Sender == pane1_ ? OnULDockDrop : OnLRDockDrop)(this, Source, X, Y);
}

void TTmSplitter::PaneUnDock(TObject* Sender, TControl* Client, TWinControl* NewTarget, bool& Allow)
{
    (Sender == pane1_ ? OnULUnDock : OnLRUnDock)(this, Client, NewTarget, Allow);
}

TTmSplitter::TTmSplitter(TComponent* AOwner) : TTmCustomPanel(AOwner)
{
    ControlStyle = csCaptureMouse | csOpaque;
    SetBorderOuter(fsNone);
    SetBounds(GetLeft(), GetTop(), 200, 100);

    pane1_ = new TTmSplitterPane(this);
    pane1_->SetSplitter(this);
    pane1_->SetParent(this);
    pane2_ = new TTmSplitterPane(this);
    pane2_->SetSplitter(this);
    pane2_->SetParent(this);
    upperLeft_ = std::make_unique<TTmPaneData>(pane1_);
    lowerRight_ = std::make_unique<TTmPaneData>(pane2_);
    for (TTmSplitterPane* pane : {pane1_, pane2_}) {
        pane->OnGetSiteInfo = TGetSiteInfoEvent(this, &TTmSplitter::PaneGetSiteInfo);
        pane->OnDockOver = TDockOverEvent(this, &TTmSplitter::PaneDockOver);
        pane->OnDockDrop = TDockDropEvent(this, &TTmSplitter::PaneDockDrop);
        pane->OnUnDock = TUnDockEvent(this, &TTmSplitter::PaneUnDock);
    }

    cursors_[0] = LoadSplitterCursor(L"TMSPLIT_HORZ", IDC_SIZEWE, 0);
    cursors_[1] = LoadSplitterCursor(L"TMSPLIT_HORZHOTSPOT", IDC_HAND, 1);
    cursors_[2] = LoadSplitterCursor(L"TMSPLIT_VERT", IDC_SIZENS, 2);
    cursors_[3] = LoadSplitterCursor(L"TMSPLIT_VERTHOTSPOT", IDC_HAND, 3);

    UpdateFixedOffset();
    LayoutPanes();
}

TTmSplitter::~TTmSplitter()
{
    if (dragDC_) EndDragDC();
    // The panes are owned components; they must not call back into this
    // object while the base destructor deletes them.
    if (pane1_) pane1_->SetSplitter(nullptr);
    if (pane2_) pane2_->SetSplitter(nullptr);
    DestroyComponents();
    pane1_ = pane2_ = nullptr;
}

HCURSOR TTmSplitter::LoadSplitterCursor(const wchar_t* Name, const wchar_t* Fallback, size_t Slot)
{
    HANDLE h = ::LoadImageW(::GetModuleHandleW(nullptr), Name, IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE);
    if (h) {
        ownedCursors_[Slot].Reset(static_cast<HCURSOR>(h));
        return ownedCursors_[Slot].Get();
    }
    // A program without the splitter cursors gets the system's shared ones.
    return ::LoadCursorW(nullptr, Fallback);
}

void TTmSplitter::CreateParams(TCreateParams& Params)
{
    TTmCustomPanel::CreateParams(Params);
    Params.Style |= WS_CLIPCHILDREN;
}

int TTmSplitter::AlongSize() const { return orientation_ == orHorizontal ? GetWidth() : GetHeight(); }

int TTmSplitter::PercentBase() const { return AlongSize() - splitterWidth_ / 2; }

bool TTmSplitter::Loading() const { return (GetComponentState() & csLoading) != 0; }

void TTmSplitter::ShowControl(TControl* Control)
{
    TTmSplitterPane* pane = Control == pane1_ ? pane1_ : Control == pane2_ ? pane2_ : nullptr;
    if (!pane) {
        TTmCustomPanel::ShowControl(Control);
        return;
    }
    if (Loading() || pane->GetVisible()) return;
    if (classlib::TCustomForm* form = classlib::GetParentForm(this)) {
        for (TWinControl* c = form->GetActiveControl(); c; c = c->GetParent())
            if (c == this) {
                if (CanFocus()) form->SetActiveControl(this);
                break;
            }
    }
    pane->SetVisible(true);
}

int TTmSplitter::LoadingCount() { return g_loadingSplitters; }

RECT TTmSplitter::LayoutClientRect()
{
    // A dock site lays its panes out in the plain window client rectangle
    // (the panel's own rectangle is plain for dock sites already).
    RECT r = GetClientRect();
    if (!GetDockSite()) AdjustRectForBorders(r, true);
    return r;
}

int TTmSplitter::GetBorderInset()
{
    int inset = GetBorderWidth();
    const TSides sides = GetBorderSides();
    for (TFrameStyleEx style : {GetBorderOuter(), GetBorderInner()}) {
        const int w = FrameWidth(style, GetBevelWidth());
        if (sides & sdLeft) inset += w;
        if (sides & sdTop) inset += w;
    }
    return inset;
}

void TTmSplitter::UpdateFixedOffset()
{
    fixedOffset_ = fixedPane_ == fpLowerRight ? AlongSize() - position_ : position_;
}

void TTmSplitter::StoreFixedPosition(int Pos)
{
    storedFixedPosition_ = fixedPane_ == fpLowerRight ? AlongSize() - Pos : Pos;
}

void TTmSplitter::ConstrainPosition(int& Pos)
{
    if (!pane1_ || !pane2_ || !pane1_->GetVisible() || !pane2_->GetVisible()) return;
    int lo = marginMin_, hi = marginMax_;
    if (hotSpotClosed_ && hotSpotIgnoreMargins_) lo = hi = 0;
    if (Pos < lo) Pos = lo;
    // The upper limit is applied last: it wins when the margins overlap.
    const long long limit =
        static_cast<long long>(AlongSize()) - hi - splitterWidth_ - 2LL * GetBorderInset();
    if (Pos > limit) Pos = static_cast<int>(limit);
}

bool TTmSplitter::CanChange(int NewPos)
{
    bool allow = true;
    OnChanging(this, NewPos, allow);
    return allow;
}

void TTmSplitter::Change() { OnChange(this); }

void TTmSplitter::HotSpotClick() { OnHotSpotClick(this); }

void TTmSplitter::SetPosition(int Value)
{
    if (Value == position_ && !resizing_) return;
    ConstrainPosition(Value);
    if (!CanChange(Value)) return;
    position_ = Value;
    percent_ = PercentOf(position_, AlongSize() - (splitterWidth_ >> 1));
    LayoutPanes();
    UpdateFixedOffset();
    Change();
}

void TTmSplitter::UpdatePosition(int Pos)
{
    if (Pos == position_) return;
    SetPosition(Pos);
    StoreFixedPosition(position_);
}

void TTmSplitter::SetMarginMin(int Value)
{
    marginMin_ = Value < 0 ? 0 : Value;
    const int size = AlongSize();
    if (marginMin_ + marginMax_ > size) marginMin_ = size - marginMax_;
}

void TTmSplitter::SetMarginMax(int Value)
{
    marginMax_ = Value < 0 ? 0 : Value;
    const int size = AlongSize();
    if (marginMin_ + marginMax_ > size) marginMax_ = size - marginMin_;
}

void TTmSplitter::ApplyPercentMargins()
{
    const int d = PercentBase();
    marginMin_ = Scale(percentMin_, d);
    marginMax_ = d - Scale(percentMax_, d);
}

void TTmSplitter::SetPercent(int Value)
{
    percent_ = Value;
    if (Loading()) return;
    usePercent_ = true;
    SetPosition(Scale(percent_, PercentBase()));
}

void TTmSplitter::SetUsePercent(bool Value)
{
    if (Value == usePercent_) return;
    usePercent_ = Value;
    if (usePercent_) {
        fixedPane_ = fpUpperLeft;
        SetPercentMin(percentMin_);
        SetPercentMax(percentMax_);
    }
    SetPosition(position_);
}

void TTmSplitter::SetPercentMin(int Value)
{
    percentMin_ = Value < 0 ? 0 : Value;
    if (!Loading() && usePercent_) marginMin_ = Scale(percentMin_, PercentBase());
}

void TTmSplitter::SetPercentMax(int Value)
{
    percentMax_ = Value > 100 ? 100 : Value;
    if (!Loading() && usePercent_) {
        const int d = PercentBase();
        marginMax_ = d - Scale(percentMax_, d);
    }
}

void TTmSplitter::SetFixedPane(TFixedPane Value)
{
    if (Value == fixedPane_) return;
    fixedPane_ = Value;
    if (fixedPane_ == fpLowerRight) usePercent_ = false;
    StoreFixedPosition(position_);
    UpdateFixedOffset();
}

void TTmSplitter::SetOrientation(TOrientation Value)
{
    if (Value == orientation_) return;
    orientation_ = Value;
    if (usePercent_) {
        SetPosition(Scale(percent_, PercentBase()));
        ApplyPercentMargins();
    } else {
        LayoutPanes();
    }
    DrawSplitterBar();
}

void TTmSplitter::SetSelectedPane(TSelectedPane Value)
{
    // Only a form designer acts on the selection; at run time it is stored.
    selectedPane_ = Value;
}

TTmSplitterPane* TTmSplitter::GetSelectedPaneControl() { return selectedPane_ == spLowerRight ? pane2_ : pane1_; }

TTmPaneData* TTmSplitter::GetPaneData(int Index)
{
    switch (Index) {
    case 1: return upperLeft_.get();
    case 2: return lowerRight_.get();
    default: throw EInvalidArgument(L"Range check error");
    }
}

void TTmSplitter::SetPaneData(int Index, const TTmPaneData* Value) { GetPaneData(Index)->Assign(Value); }

void TTmSplitter::SetSplitterWidth(uint16_t Value)
{
    if (Value == splitterWidth_) return;
    splitterWidth_ = Value;
    if (orientation_ == orHorizontal)
        barRect_.right = barRect_.left + splitterWidth_;
    else
        barRect_.bottom = barRect_.top + splitterWidth_;
    LayoutPanes();
    Invalidate();
}

void TTmSplitter::SetSplitterStyle(TSplitterStyle Value)
{
    if (Value == splitterStyle_) return;
    splitterStyle_ = Value;
    if (splitterStyle_ != ssStandard && splitterWidth_ < 6) SetSplitterWidth(6);
    Invalidate();
}

void TTmSplitter::SetHotSpotVisible(bool Value)
{
    if (Value == hotSpotVisible_) return;
    hotSpotVisible_ = Value;
    if (hotSpotVisible_ && splitterWidth_ < 7) SetSplitterWidth(7);
    Invalidate();
}

void TTmSplitter::SetHotSpotSizePercent(int Value)
{
    hotSpotSizePercent_ = Value;
    CalcHotSpotRect();
    Invalidate();
}

TM_REDRAW_SETTER(TTmSplitter, HotSpotHighlight, TColor, hotSpotHighlight_, Invalidate)
TM_REDRAW_SETTER(TTmSplitter, HotSpotColor, TColor, hotSpotColor_, Invalidate)
TM_REDRAW_SETTER(TTmSplitter, HotSpotDotColor, TColor, hotSpotDotColor_, Invalidate)
TM_REDRAW_SETTER(TTmSplitter, HotSpotFrameColor, TColor, hotSpotFrameColor_, Invalidate)
TM_REDRAW_SETTER(TTmSplitter, HotSpotDirection, THotSpotDirection, hotSpotDirection_, Invalidate)
TM_REDRAW_SETTER(TTmSplitter, GradientColorAdjustment, int, gradientColorAdjustment_, Invalidate)
TM_REDRAW_SETTER(TTmSplitter, GradientPath, TTmGroupBarGradientPath, gradientPath_, Invalidate)

void TTmSplitter::SetHotSpotState(bool Closed, bool ClosedToMin, bool ClosedToMax, int Position)
{
    hotSpotClosed_ = Closed;
    hotSpotClosedToMin_ = ClosedToMin;
    hotSpotClosedToMax_ = ClosedToMax;
    hotSpotPosition_ = Position;
}

void TTmSplitter::ResetHotSpot()
{
    hotSpotClosed_ = false;
    hotSpotClosedToMin_ = false;
    hotSpotClosedToMax_ = false;
}

void TTmSplitter::SetBarRect(const RECT& Value)
{
    barRect_ = Value;
    CalcHotSpotRect();
}

void TTmSplitter::SetBorderInner(TFrameStyleEx Value)
{
    if (Value == GetBorderInner()) return;
    TTmCustomPanel::SetBorderInner(Value);
    LayoutPanes();
}

void TTmSplitter::SetBorderOuter(TFrameStyleEx Value)
{
    if (Value == GetBorderOuter()) return;
    TTmCustomPanel::SetBorderOuter(Value);
    LayoutPanes();
}

void TTmSplitter::SetBorderSides(TSides Value)
{
    if (Value == GetBorderSides()) return;
    TTmCustomPanel::SetBorderSides(Value);
    LayoutPanes();
}

void TTmSplitter::SetBorderWidth(int Value)
{
    if (Value == GetBorderWidth()) return;
    TTmCustomPanel::SetBorderWidth(Value);
    LayoutPanes();
}

void TTmSplitter::SetTransparent(bool Value)
{
    TTmCustomPanel::SetTransparent(Value);
    if (pane1_) pane1_->SetTransparent(Value);
    if (pane2_) pane2_->SetTransparent(Value);
}

void TTmSplitter::CalcHotSpotRect()
{
    if (orientation_ == orVertical) {
        const int barWidth = barRect_.right - barRect_.left;
        const int x = barRect_.left + barWidth / 2;
        const int half = Scale(hotSpotSizePercent_, barWidth) / 2;
        hotSpotRect_ = RECT{x - half, barRect_.top, x + half, barRect_.bottom};
    } else {
        const int barHeight = barRect_.bottom - barRect_.top;
        const int y = barRect_.top + barHeight / 2;
        const int half = Scale(hotSpotSizePercent_, barHeight) / 2;
        hotSpotRect_ = RECT{barRect_.left, y - half, barRect_.right, y + half};
    }
}

void TTmSplitter::LayoutPanes()
{
    if (Loading() || !pane1_ || !pane2_) return;
    const RECT c = LayoutClientRect();
    const int w = c.right - c.left;
    const int h = c.bottom - c.top;
    const bool v1 = pane1_->GetVisible();
    const bool v2 = pane2_->GetVisible();
    const int sw = splitterWidth_;

    if (orientation_ == orVertical) {
        if (v1 && !v2)
            pane1_->SetBounds(c.left, c.top, w, h);
        else if (v1)
            pane1_->SetBounds(c.left, c.top, w, position_);
        else
            pane1_->SetBounds(c.left, c.top, w, 0);
        if (v1 && v2)
            barRect_ = RECT{c.left, c.top + position_, c.left + w, c.top + position_ + sw};
        else
            barRect_ = RECT{c.left, c.top, c.left, c.top};
        CalcHotSpotRect();
        if (v2 && !v1)
            pane2_->SetBounds(c.left, c.top, w, h);
        else if (v2)
            pane2_->SetBounds(c.left, c.top + position_ + sw, w, h - position_ - sw);
        else
            pane2_->SetBounds(c.left, c.bottom, w, 0);
    } else {
        if (v1 && !v2)
            pane1_->SetBounds(c.left, c.top, w, h);
        else if (v1)
            pane1_->SetBounds(c.left, c.top, position_, h);
        else
            pane1_->SetBounds(c.left, c.top, 0, h);
        if (v1 && v2)
            barRect_ = RECT{c.left + position_, c.top, c.left + position_ + sw, c.top + h};
        else
            barRect_ = RECT{c.left, c.top, c.left, c.top};
        CalcHotSpotRect();
        if (v2 && !v1)
            pane2_->SetBounds(c.left, c.top, w, h);
        else if (v2)
            pane2_->SetBounds(c.left + position_ + sw, c.top, w - position_ - sw, h);
        else
            pane2_->SetBounds(c.right, c.top, 0, h);
    }

    // Splitters nested directly in a pane follow at once.
    for (TTmSplitterPane* pane : {pane1_, pane2_}) {
        for (int i = 0; i < pane->GetControlCount(); ++i)
            if (auto* nested = dynamic_cast<TTmSplitter*>(pane->GetControl(i))) nested->LayoutPanes();
    }
    if (realTimeDrag_) {
        pane1_->Update();
        pane2_->Update();
    }
    DrawSplitterBar();
}

void TTmSplitter::Resize()
{
    if ((GetComponentState() & (csWriting | csDestroying)) || !pane1_ || !pane2_) {
        TTmCustomPanel::Resize();
        return;
    }
    resizing_ = true;
    try {
        const int size = AlongSize();
        const bool open = !hotSpotClosed_;
        if (fixedPane_ == fpUpperLeft) {
            if (usePercent_) {
                const int d = PercentBase();
                ApplyPercentMargins();
                if (open)
                    SetPosition(Scale(percent_, d));
                else if (hotSpotClosedToMin_)
                    SetPosition(0);
                else
                    SetPosition(d);
            } else {
                if (open)
                    SetPosition(position_);
                else if (hotSpotClosedToMin_)
                    SetPosition(0);
                else
                    SetPosition(INT_MAX);
                // The user's position comes back when the splitter grows again.
                if (open && position_ < storedFixedPosition_) SetPosition(storedFixedPosition_);
            }
        } else {
            SetPosition(size - fixedOffset_);
            // The lower/right pane gets back the size the user gave it once
            // there is room again.
            if (open) {
                if (size - position_ < storedFixedPosition_) SetPosition(size - storedFixedPosition_);
            } else {
                hotSpotPosition_ = size - storedFixedPosition_;
            }
        }
    } catch (...) {
        resizing_ = false;
        throw;
    }
    resizing_ = false;
    TTmCustomPanel::Resize();
}

// ---------------------------------------------------------------- dragging

POINT TTmSplitter::CursorClientPos()
{
    POINT p{};
    GetCursorClientPos(p);
    return p;
}

void TTmSplitter::BeginDragDC()
{
    if (dragDC_) return;
    HWND self = GetHandle();
    if (TmIsWindowsAtLeast(7)) {
        dragDCWindow_ = ::GetParent(self);
        dragDC_ = std::make_unique<classlib::TWindowDC>(dragDCWindow_, nullptr,
                                                        DCX_CACHE | DCX_CLIPSIBLINGS | DCX_LOCKWINDOWUPDATE);
    } else {
        dragDCWindow_ = nullptr;
        dragDC_ = std::make_unique<classlib::TWindowDC>();
    }
    if (!dragDC_->Get()) {
        dragDC_.reset();
        return;
    }
    if (realTimeDrag_) return;
    if (!dragBrush_) {
        dragBrush_ = std::make_unique<TBrush>();
        dragBrush_->SetBitmap(AllocPatternBitmap(clBlack, clWhite));
    }
    dragBrushSelection_ = std::make_unique<classlib::TSelectObjectScope>(dragDC_->Get(), dragBrush_->GetHandle());
}

void TTmSplitter::EndDragDC()
{
    dragBrushSelection_.reset();  // before the DC goes back
    dragDC_.reset();
    dragDCWindow_ = nullptr;
    dragBrush_.reset();
}

void TTmSplitter::InvertSplitterBar(int Pos)
{
    if (realTimeDrag_ || !dragDC_ || !HandleAllocated()) return;
    const int i = GetBorderInset();
    POINT p{i, i};
    if (orientation_ == orHorizontal)
        p.x += Pos;
    else
        p.y += Pos;
    ::ClientToScreen(GetHandle(), &p);
    if (dragDCWindow_) ::ScreenToClient(dragDCWindow_, &p);
    ::PatBlt(dragDC_->Get(), p.x, p.y, barRect_.right - barRect_.left, barRect_.bottom - barRect_.top, PATINVERT);
}

void TTmSplitter::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    const POINT pt{X, Y};
    const bool onHotSpot = hotSpotVisible_ && ::PtInRect(&hotSpotRect_, pt);
    if (Button == mbLeft && ::PtInRect(&barRect_, pt) && (!lockBar_ || onHotSpot)) {
        if (!realTimeDrag_ && !(GetComponentState() & csDesigning) && CanFocus()) SetFocus();
        ::SetCapture(GetHandle());
        dragging_ = true;
        hotSpotPressed_ = onHotSpot;
        dragOffset_ = (orientation_ == orHorizontal ? X : Y) - AlongSize() / 2;
        BeginDragDC();
        dragStartPos_ = position_;
        dragCurrentPos_ = position_;
        InvertSplitterBar(position_);
    }
    TTmCustomPanel::MouseDown(Button, Shift, X, Y);
}

void TTmSplitter::MouseMove(TShiftState Shift, int X, int Y)
{
    if (dragging_ && !(hotSpotPressed_ && lockBar_)) {
        int p = (orientation_ == orHorizontal ? X : Y) + dragStartPos_ - AlongSize() / 2 - dragOffset_;
        ConstrainPosition(p);
        if (CanChange(p) && p != dragCurrentPos_) {
            // Moving the bar reopens a closed hot spot.
            hotSpotClosed_ = hotSpotClosedToMin_ = hotSpotClosedToMax_ = hotSpotPressed_ = false;
            InvertSplitterBar(dragCurrentPos_);
            InvertSplitterBar(p);
            if (realTimeDrag_) {
                SetPosition(p);
                StoreFixedPosition(position_);
            }
            dragCurrentPos_ = p;
        }
    }
    TTmCustomPanel::MouseMove(Shift, X, Y);
}

void TTmSplitter::EndDrag()
{
    dragging_ = false;
    if (::GetCapture() == (HandleAllocated() ? GetHandle() : nullptr)) ::ReleaseCapture();
}

void TTmSplitter::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    if ((Button == mbLeft && dragging_) || hotSpotPressed_) {
        const bool pressed = hotSpotPressed_;
        hotSpotPressed_ = false;
        EndDrag();
        if (!realTimeDrag_) {
            InvertSplitterBar(dragCurrentPos_);
            SetPosition(dragCurrentPos_);
            StoreFixedPosition(dragCurrentPos_);
        }
        const POINT pt{X, Y};
        if (pressed && ::PtInRect(&hotSpotRect_, pt)) {
            hotSpotClosed_ = !hotSpotClosed_;
            if (!hotSpotClosed_) {
                hotSpotClosedToMin_ = hotSpotClosedToMax_ = false;
                SetPosition(hotSpotPosition_);
                StoreFixedPosition(position_);
            } else {
                hotSpotPosition_ = position_;
                bool firstHalf;
                if (orientation_ == orVertical)
                    firstHalf = X < (hotSpotRect_.left + hotSpotRect_.right) / 2;
                else
                    firstHalf = Y < (hotSpotRect_.top + hotSpotRect_.bottom) / 2;
                if (hotSpotDirection_ == hsdMin || (hotSpotDirection_ == hsdBoth && firstHalf)) {
                    hotSpotClosedToMin_ = true;
                    SetPosition(0);
                } else {
                    hotSpotClosedToMax_ = true;
                    SetPosition(INT_MAX);
                }
            }
            HotSpotClick();
        }
        EndDragDC();
        paintWithMouse_ = true;
        DrawSplitterBar();
    }
    TTmCustomPanel::MouseUp(Button, Shift, X, Y);
}

void TTmSplitter::KeyDown(WORD& Key, TShiftState Shift)
{
    if (dragging_ && Key == VK_ESCAPE) {
        hotSpotPressed_ = false;
        EndDrag();
        if (!realTimeDrag_) {
            InvertSplitterBar(dragCurrentPos_);
            StoreFixedPosition(position_);
        }
        EndDragDC();
        Key = 0;
        return;
    }
    TTmCustomPanel::KeyDown(Key, Shift);
}

void TTmSplitter::MouseLeave()
{
    TTmCustomPanel::MouseLeave();
    UpdateHotSpotHighlight();
}

void TTmSplitter::WndProc(TMessage& Message)
{
    if (Message.Msg == WM_SETCURSOR && HandleAllocated() && reinterpret_cast<HWND>(Message.WParam) == GetHandle() &&
        LOWORD(Message.LParam) == HTCLIENT) {
        UpdateHotSpotHighlight();
        const POINT p = CursorClientPos();
        if (::PtInRect(&barRect_, p) && !lockBar_) {
            const bool onHotSpot = hotSpotVisible_ && ::PtInRect(&hotSpotRect_, p);
            const size_t slot = (orientation_ == orVertical ? 2 : 0) + (onHotSpot ? 1 : 0);
            ::SetCursor(cursors_[slot]);
            Message.Result = 1;
            return;
        }
    }
    if (Message.Msg == WM_SHOWWINDOW) {
        TTmCustomPanel::WndProc(Message);
        if (!(GetComponentState() & csDestroying) && pane1_ && pane2_) {
            pane2_->Invalidate();
            pane1_->Invalidate();
        }
        return;
    }
    // Losing the mouse to another window ends a drag like Esc does.
    if (Message.Msg == WM_CANCELMODE && dragging_) {
        WORD key = VK_ESCAPE;
        KeyDown(key, 0);
    }
    TTmCustomPanel::WndProc(Message);
}

// ---------------------------------------------------------------- painting

void TTmSplitter::UpdateHotSpotHighlight()
{
    if (!hotSpotVisible_ || !HandleAllocated()) return;
    const POINT p = CursorClientPos();
    if (::PtInRect(&hotSpotRect_, p)) {
        if (hotSpotOutside_ || hotSpotDirection_ == hsdBoth) DrawHotSpot(true, p);
        hotSpotOutside_ = false;
    } else if (!hotSpotOutside_) {
        DrawHotSpot(false, POINT{0, 0});
        hotSpotOutside_ = true;
    }
}

void TTmSplitter::Paint()
{
    inPaint_ = true;
    try {
        TTmCustomPanel::Paint();
        PaintBar(GetCanvas());
    } catch (...) {
        inPaint_ = false;
        throw;
    }
    inPaint_ = false;
}

void TTmSplitter::DrawSplitterBar()
{
    if (inPaint_) {
        PaintBar(GetCanvas());
        return;
    }
    if (!HandleAllocated() || !::IsWindowVisible(GetHandle())) return;
    TWindowDC dc(GetHandle());
    TCanvas canvas;
    TCanvasDCScope scope(&canvas, dc.Get());
    PaintBar(&canvas);
}

void TTmSplitter::DrawHotSpot(bool Highlight, POINT MousePos)
{
    if (inPaint_) {
        PaintHotSpot(GetCanvas(), Highlight, MousePos);
        return;
    }
    if (!HandleAllocated() || !::IsWindowVisible(GetHandle())) return;
    TWindowDC dc(GetHandle());
    TCanvas canvas;
    TCanvasDCScope scope(&canvas, dc.Get());
    PaintHotSpot(&canvas, Highlight, MousePos);
}

void TTmSplitter::PaintBar(TCanvas* Canvas)
{
    if (::IsRectEmpty(&barRect_)) return;
    if (splitterStyle_ == ssGroove || splitterStyle_ == ssBump) {
        Canvas->GetBrush()->SetStyle(bsSolid);
        Canvas->GetBrush()->SetColor(GetColor());
        Canvas->FillRect(barRect_);
        const TFrameStyle style = splitterStyle_ == ssGroove ? fsStatus : fsPopup;
        RECT interior;
        if (orientation_ == orVertical) {
            const int middle = (barRect_.top + barRect_.bottom) / 2;
            TmPaintFrameStyle(Canvas, RECT{barRect_.left, middle - 3, barRect_.right, middle}, style, interior);
            TmPaintFrameStyle(Canvas, RECT{barRect_.left, middle, barRect_.right, middle + 3}, style, interior);
        } else {
            const int middle = (barRect_.left + barRect_.right) / 2;
            TmPaintFrameStyle(Canvas, RECT{middle - 3, barRect_.top, middle, barRect_.bottom}, style, interior);
            TmPaintFrameStyle(Canvas, RECT{middle, barRect_.top, middle + 3, barRect_.bottom}, style, interior);
        }
    } else if (splitterStyle_ == ssGroupBar && GetVisualStyle() != vsClassic) {
        TmPaintBarBackground(Canvas, barRect_, GetVisualStyle(), GetGradientColorStart(), GetGradientColorStop(),
                             gradientPath_ == gpBottomToTop, GetGradientColorStyle());
    } else if (!GetFullRepaint()) {
        Canvas->GetBrush()->SetStyle(bsSolid);
        Canvas->GetBrush()->SetColor(GetColor());
        Canvas->FillRect(barRect_);
    }
    if (hotSpotVisible_) {
        if (paintWithMouse_) {
            paintWithMouse_ = false;
            const POINT p = CursorClientPos();
            PaintHotSpot(Canvas, ::PtInRect(&hotSpotRect_, p) != 0, p);
        } else {
            PaintHotSpot(Canvas, false, POINT{0, 0});
        }
    }
}

void TTmSplitter::PaintHotSpot(TCanvas* Canvas, bool Highlight, POINT MousePos)
{
    const RECT r = hotSpotRect_;
    if (r.right - r.left < 2 || r.bottom - r.top < 2) return;
    const bool vertical = orientation_ == orVertical;  // a horizontal bar
    const bool both = hotSpotDirection_ == hsdBoth;
    TBrush* brush = Canvas->GetBrush();
    brush->SetStyle(bsSolid);

    brush->SetColor(hotSpotFrameColor_);
    Canvas->FrameRect(r);
    RECT inner{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
    const int centre = vertical ? (r.left + r.right) / 2 : (r.top + r.bottom) / 2;
    if (!both) {
        brush->SetColor(Highlight ? hotSpotHighlight_ : hotSpotColor_);
        Canvas->FillRect(inner);
    } else {
        brush->SetColor(hotSpotColor_);
        Canvas->FillRect(inner);
        if (Highlight) {
            RECT half = inner;
            if (!hotSpotClosed_) {
                const bool first = vertical ? MousePos.x < centre : MousePos.y < centre;
                if (vertical) {
                    if (first) half.right = centre; else half.left = centre;
                } else {
                    if (first) half.bottom = centre; else half.top = centre;
                }
            }
            brush->SetColor(hotSpotHighlight_);
            Canvas->FillRect(half);
        }
        if (!hotSpotClosed_) {
            Canvas->GetPen()->SetColor(hotSpotFrameColor_);
            if (vertical) {
                Canvas->MoveTo(centre, inner.top);
                Canvas->LineTo(centre, inner.bottom);
            } else {
                Canvas->MoveTo(inner.left, centre);
                Canvas->LineTo(inner.right, centre);
            }
        }
    }

    // Arrows: "towards the minimum" points up (left), "towards the maximum"
    // down (right); the first is 8 pixels in from the start, the second 8
    // pixels in from the end.
    bool firstToMin, secondToMin;
    switch (hotSpotDirection_) {
    case hsdMin: firstToMin = secondToMin = !hotSpotClosed_; break;
    case hsdMax: firstToMin = secondToMin = hotSpotClosed_; break;
    default:
        if (!hotSpotClosed_) {
            firstToMin = true;
            secondToMin = false;
        } else {
            firstToMin = secondToMin = hotSpotClosedToMax_;
        }
        break;
    }
    Canvas->GetPen()->SetColor(hotSpotDotColor_);
    brush->SetColor(hotSpotDotColor_);
    const int across = vertical ? (r.top + r.bottom) / 2 : (r.left + r.right) / 2;
    auto arrow = [&](int along, bool toMin) {
        // A triangle 5 pixels wide and 3 deep; along is its first column.
        const int tip = toMin ? across - 1 : across + 1;
        const int base = toMin ? across + 1 : across - 1;
        POINT pts[3];
        if (vertical) {
            pts[0] = POINT{along, base};
            pts[1] = POINT{along + 4, base};
            pts[2] = POINT{along + 2, tip};
        } else {
            pts[0] = POINT{base, along};
            pts[1] = POINT{base, along + 4};
            pts[2] = POINT{tip, along + 2};
        }
        Canvas->Polygon(pts, 3);
    };
    const int start = vertical ? r.left : r.top;
    const int end = vertical ? r.right : r.bottom;
    arrow(start + 8, firstToMin);
    arrow(end - 8 - 5, secondToMin);

    // Dots along the centre line.
    const int length = end - start;
    const int count = length >= 32 ? (length - 32) / 3 + 1 : 0;
    for (int k = 0; k < count; ++k) {
        const int along = start + 15 + 3 * k;
        if (both && !hotSpotClosed_ && along >= centre - 3 && along <= centre + 3) continue;
        if (vertical)
            Canvas->SetPixel(along, across, hotSpotDotColor_);
        else
            Canvas->SetPixel(across, along, hotSpotDotColor_);
    }
}

// ---------------------------------------------------------------- streaming

std::vector<std::wstring> TTmSplitter::GetPaneControlNames(int Index) const
{
    const TTmSplitterPane* pane = Index == 1 ? pane1_ : Index == 2 ? pane2_ : nullptr;
    if (!pane) throw EInvalidArgument(L"Range check error");
    std::vector<std::wstring> names;
    for (int i = 0; i < pane->GetControlCount(); ++i) names.push_back(pane->GetControl(i)->GetName());
    return names;
}

void TTmSplitter::ReadPaneControlNames(int Index, const std::vector<std::wstring>& Names)
{
    if (Index != 1 && Index != 2) throw EInvalidArgument(L"Range check error");
    auto& list = Index == 1 ? pane1Names_ : pane2Names_;
    list.clear();
    list = Names;
}

const std::vector<std::wstring>& TTmSplitter::GetPaneNameList(int Index) const
{
    if (Index != 1 && Index != 2) throw EInvalidArgument(L"Range check error");
    return Index == 1 ? pane1Names_ : pane2Names_;
}

void TTmSplitter::Loaded()
{
    ++g_loadingSplitters;
    try {
        TTmCustomPanel::Loaded();
        StoreFixedPosition(position_);
        LayoutPanes();
        if (TComponent* owner = GetOwner()) {
            for (int index = 1; index <= 2; ++index) {
                TTmSplitterPane* pane = index == 1 ? pane1_ : pane2_;
                for (const std::wstring& name : GetPaneNameList(index)) {
                    // A name no component carries (a control removed from
                    // the form) is skipped.
                    auto* control = dynamic_cast<TControl*>(owner->FindComponent(name));
                    if (!control) continue;
                    // A control that holds the pane cannot go into it.
                    auto* holder = dynamic_cast<TWinControl*>(control);
                    if (control == pane || (holder && holder->ContainsControl(pane))) continue;
                    control->SetParent(pane);
                }
            }
        }
    } catch (...) {
        --g_loadingSplitters;
        throw;
    }
    --g_loadingSplitters;
}

}  // namespace themed
