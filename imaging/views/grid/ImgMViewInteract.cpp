// Selection, mouse and key handling, scrolling and playing of TImgMView.
#include <algorithm>

#include <windows.h>
#include <commctrl.h>

#include "classlib/ScopeGuard.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/views/grid/ImgMView.h"

namespace imaging {

namespace {

constexpr UINT_PTR kPlayTimer = 1;

}  // namespace

// ---- selection

bool TImgMView::IsSelected(int Index) const
{
    return Index == selectedImage_ || std::find(multiSel_.begin(), multiSel_.end(), Index) != multiSel_.end();
}

void TImgMView::DoImageSelect(int Index)
{
    if (userAction_ && OnImageSelect)
        OnImageSelect(this, Index);
}

void TImgMView::DoImageDeselect(int Index)
{
    if (userAction_ && !destroying_ && OnImageDeselect)
        OnImageDeselect(this, Index);
}

void TImgMView::DoViewChange(int Change)
{
    if (userAction_ && OnViewChange)
        OnViewChange(this, Change);
}

void TImgMView::SelectEntry(int Index)
{
    selChanged_ = false;
    if (Playing || Index < 0 || Index >= GetImageCount())
        return;
    if (selectedImage_ >= 0)
        ReleaseCurrent(true);
    if (enableMultiSelect_) {
        if (!addMode_) {
            const std::vector<int> old = std::move(multiSel_);
            multiSel_.clear();
            for (int i : old)
                DoImageDeselect(i);
        } else if (!NoCurrentImage) {
            auto it = std::find(multiSel_.begin(), multiSel_.end(), Index);
            if (it != multiSel_.end()) {
                DoImageDeselect(Index);
                multiSel_.erase(it);
                selChanged_ = true;
                if (!keepMode_) {
                    selectedImage_ = -1;
                    return;
                }
            }
        }
        multiSel_.push_back(Index);
        selChanged_ = true;
    }
    if (NoCurrentImage) {
        selectedImage_ = -1;
        return;
    }
    selectedImage_ = Index;
    NotifyBitmapChange();
    DoImageSelect(Index);
}

void TImgMView::SetSelectedImage(int Index)
{
    if (Playing)
        return;
    if (Index == -1) {
        if (selectedImage_ >= 0 || !multiSel_.empty())
            Deselect();
        return;
    }
    if ((Index == selectedImage_ && !addMode_) || Index < 0 || Index >= GetImageCount())
        return;
    SelectEntry(Index);
    if (!NoCurrentImage)
        UpdateLayout(false);
    Invalidate();
}

void TImgMView::DeselectNoUpdate()
{
    if (selectedImage_ >= 0)
        ReleaseCurrent(true);
    if (enableMultiSelect_) {
        const std::vector<int> old = std::move(multiSel_);
        multiSel_.clear();
        for (int i : old)
            DoImageDeselect(i);
    } else if (selectedImage_ >= 0) {
        DoImageDeselect(selectedImage_);
    }
    selectedImage_ = -1;
}

void TImgMView::Deselect()
{
    DeselectNoUpdate();
    NotifyBitmapChange();
    UpdateLayout(false);
    Invalidate();
}

int TImgMView::ImageAtGridPos(int Row, int Column) { return Column + Row * std::max(Columns(), 0); }

int TImgMView::Columns()
{
    if (gridWidth_ == -1)
        return std::max((GetClientWidth() - horizBorder_) / (thumbWidth_ + horizBorder_), 1);
    return gridWidth_;
}

int TImgMView::ImageAtPos(int X, int Y)
{
    if (displayMode_ == mdSingle)
        return VisibleFrame;
    const int cellW = horizBorder_ + thumbWidth_;
    const int cellH = vertBorder_ + thumbHeight_;
    if (cellW <= 0 || cellH <= 0)
        return -1;
    const int row = (Y + ViewY) / cellH;
    const int col = (X + ViewX) / cellW;
    const int i = gridWidth_ == 0 ? (row == 0 ? col : GetImageCount()) : ImageAtGridPos(row, col);
    if (i < 0 || i >= GetImageCount())
        return -1;
    const TImgMViewEntry* e = Entry(i);
    const int x = e->X - ViewX;
    const int y = e->Y - ViewY;
    if (X < x || Y < y || X >= x + thumbWidth_ || Y >= y + thumbHeight_)
        return -1;
    return i;
}

int TImgMView::ImageVisibility(int Index)
{
    const TImgMViewEntry* e = Entry(Index);
    if (!e)
        return 0;
    const int l = e->X - ViewX;
    const int t = e->Y - ViewY;
    const int r = l + thumbWidth_ - 1;
    const int b = t + thumbHeight_ - 1;
    const int cr = GetClientWidth() - 1;
    const int cb = GetClientHeight() - 1;
    if (r < 0 || b < 0 || l > cr || t > cb)
        return 0;
    if (l >= 0 && t >= 0 && r <= cr && b <= cb)
        return 2;
    return 1;
}

void TImgMView::SelectAtPos(int X, int Y, classlib::TShiftState Shift)
{
    classlib::TValueScope<bool> add(addMode_, addMode_ || (Shift & (classlib::ssCtrl | classlib::ssShift)) != 0);
    const int i = ImageAtPos(X, Y);
    if (i < 0)
        return;
    const int s = selectedImage_;
    if (enableMultiSelect_ && (Shift & classlib::ssShift) && s >= 0) {
        if (MultiSelectionOptions & pxmoRegion) {
            const TImgMViewEntry* es = Entry(s);
            const TImgMViewEntry* ei = Entry(i);
            for (int r = std::min(es->Row, ei->Row); r <= std::max(es->Row, ei->Row); ++r)
                for (int c = std::min(es->Column, ei->Column); c <= std::max(es->Column, ei->Column); ++c) {
                    const int k = ImageAtGridPos(r, c);
                    if (k != s && k != i && k >= 0 && k < GetImageCount() && !IsSelected(k))
                        SelectEntry(k);
                }
        } else {
            const int step = i > s ? 1 : -1;
            for (int k = s + step; k != i; k += step)
                if (std::find(multiSel_.begin(), multiSel_.end(), k) == multiSel_.end())
                    SelectEntry(k);
        }
    }
    SelectEntry(i);
    if (visibleSelection_)
        UpdateLayout(false);
    NotifyBitmapChange();
    Invalidate();
}

// Clears the selection, selects From alone, then adds the range to (X, Y).
void TImgMView::SelectRange(int From, int X, int Y, classlib::TShiftState Shift)
{
    DeselectNoUpdate();
    {
        classlib::TValueScope<bool> add(addMode_, false);
        SelectEntry(From < 0 ? 0 : From);
    }
    classlib::TValueScope<bool> keep(keepMode_, true);
    SelectAtPos(X, Y, Shift | classlib::ssShift);
    rangeMade_ = true;
}

// ---- mouse

void TImgMView::MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y)
{
    TPxView::MouseDown(Button, Shift, X, Y);
    classlib::TValueScope<bool> user(userAction_, true);
    if (ignorePress_) {
        ignorePress_ = false;
        return;
    }
    if (CanFocus() && GetHandle() != GetFocus())
        SetFocus();
    pressX_ = X;
    pressY_ = Y;
    pressViewX_ = ViewX;
    pressViewY_ = ViewY;
    pressEntry_ = ImageAtPos(X, Y);
    lastEntry_ = pressEntry_;
    rangeMade_ = false;
    selChanged_ = false;
    pressed_ = true;
    if ((MultiSelectionOptions & pxmoSelectOnMouseUp) || Button != classlib::mbLeft ||
        (mouseInteract_ & mmiSelect) == 0 || Playing)
        return;
    if ((Shift & classlib::ssShift) && enableMultiSelect_) {
        SelectRange(anchor_, X, Y, classlib::ssShift);
    } else if (pressEntry_ >= 0 && IsSelected(pressEntry_)) {
        anchor_ = pressEntry_;
    } else {
        anchor_ = pressEntry_;
        SelectAtPos(X, Y, Shift);
    }
}

void TImgMView::MouseMove(classlib::TShiftState Shift, int X, int Y)
{
    TPxView::MouseMove(Shift, X, Y);
    classlib::TValueScope<bool> user(userAction_, true);
    if (!pressed_ || GetCapture() != GetHandle())
        return;
    if ((mouseInteract_ & mmiSelect) && enableMultiSelect_ && !Playing) {
        const int i = ImageAtPos(X, Y);
        if (i >= 0 && i != lastEntry_) {
            lastEntry_ = i;
            SelectRange(pressEntry_, X, Y, classlib::ssShift);
        }
    }
    if ((mouseInteract_ & mmiScroll) && (X != pressX_ || Y != pressY_)) {
        SetViewXY(pressViewX_ + pressX_ - X, pressViewY_ + pressY_ - Y);
        DoViewChange(0);
    }
}

void TImgMView::MouseUp(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y)
{
    TPxView::MouseUp(Button, Shift, X, Y);
    classlib::TValueScope<bool> user(userAction_, true);
    if (!pressed_)
        return;
    pressed_ = false;
    if (Playing || Button != classlib::mbLeft)
        return;
    if (MultiSelectionOptions & pxmoSelectOnMouseUp) {
        if (!rangeMade_ && (mouseInteract_ & mmiSelect))
            SelectAtPos(X, Y, Shift);
    } else if (!selChanged_) {
        SelectAtPos(X, Y, Shift);
    }
    if (mouseInteract_ & mmiScroll)
        SetViewXY(pressViewX_ + pressX_ - X, pressViewY_ + pressY_ - Y);
}

// ---- keys

void TImgMView::KeyDown(WORD& Key, classlib::TShiftState Shift)
{
    TPxView::KeyDown(Key, Shift);
    classlib::TValueScope<bool> user(userAction_, true);
    if (Playing || (keyInteract_ & mkiMoveSelected) == 0)
        return;
    const bool extend = enableMultiSelect_ && (Shift & (classlib::ssCtrl | classlib::ssShift)) != 0;
    classlib::TValueScope<bool> add(addMode_, extend ? true : addMode_);
    classlib::TValueScope<bool> keep(keepMode_, extend ? true : keepMode_);
    int kind;
    switch (Key) {
    case VK_PRIOR: kind = 7; break;
    case VK_NEXT: kind = 6; break;
    case VK_END: kind = 5; break;
    case VK_HOME: kind = 4; break;
    case VK_LEFT: kind = 0; break;
    case VK_UP: kind = 2; break;
    case VK_RIGHT: kind = 1; break;
    case VK_DOWN: kind = 3; break;
    default: return;
    }
    MoveSelection(kind);
    DoViewChange(0);
    UpdateLayout(false);
}

void TImgMView::MoveSelection(int Kind)
{
    const int n = GetImageCount();
    if (n == 0)
        return;
    const int s = selectedImage_;
    const int columns = Columns();
    const int cellH = vertBorder_ + thumbHeight_;
    const int rows = cellH > 0 ? (GetClientHeight() - vertBorder_) / cellH : 0;
    const int page = columns * rows;
    const int cw = GetClientWidth();
    const int ch = GetClientHeight();
    // Only existing entries are targets (SetSelectedImage(-1) would deselect).
    auto select = [this, n](int Index) {
        if (Index >= 0 && Index < n)
            SetSelectedImage(Index);
    };
    enum { kNone, kPrev, kNext, kTop, kBottom, kOrigin } scroll = kNone;
    switch (Kind) {
    case 0:
        if (s < 0)
            return;
        select(s - 1);
        scroll = kPrev;
        break;
    case 1:
        select(s + 1);
        scroll = kNext;
        break;
    case 2:
        if (s < 0)
            return;
        if (gridWidth_ == 0)
            select(s - 1);
        else if (s - columns >= 0)
            select(s - columns);
        scroll = kTop;
        break;
    case 3:
        if (gridWidth_ == 0)
            select(s + 1);
        else if (s + columns < n)
            select(s + columns);
        scroll = kBottom;
        break;
    case 4:
        select(0);
        scroll = kOrigin;
        break;
    case 5:
        select(n - 1);
        scroll = kBottom;
        break;
    case 6:
        select(std::min(s + page, n - 1));
        scroll = kBottom;
        break;
    case 7:
        if (s < 0)
            return;
        select(std::max(s - page, 0));
        scroll = kTop;
        break;
    default:
        return;
    }
    const int sel = selectedImage_;
    const TImgMViewEntry* e = Entry(sel);
    if (!e || ImageVisibility(sel) == 2)
        return;
    switch (scroll) {
    case kPrev:
        SetViewXY(e->X - horizBorder_, e->Y - vertBorder_);
        break;
    case kNext:
        SetViewXY(e->X + thumbWidth_ + horizBorder_ - cw, e->Y + thumbHeight_ + vertBorder_ - ch);
        break;
    case kTop:
        SetViewY(e->Y - vertBorder_);
        if (ImageVisibility(sel) != 2)
            SetViewX(e->X - horizBorder_);
        break;
    case kBottom:
        SetViewY(e->Y + thumbHeight_ + vertBorder_ - ch);
        if (ImageVisibility(sel) != 2)
            SetViewX(e->X + thumbWidth_ + horizBorder_ - cw);
        break;
    case kOrigin:
        SetViewXY(0, 0);
        break;
    case kNone:
        break;
    }
}

// ---- scrolling

void TImgMView::GetMaxViewXY(int& MaxX, int& MaxY)
{
    MaxX = std::max(extentX_ - GetClientWidth(), 0);
    MaxY = std::max(extentY_ - GetClientHeight(), 0);
}

void TImgMView::SetViewX(int Value)
{
    if (Value == ViewX)
        return;
    int mx, my;
    GetMaxViewXY(mx, my);
    ViewX = std::clamp(Value, 0, mx);
    Invalidate();
    SetScrollBarPos(SB_HORZ, ViewX);
}

void TImgMView::SetViewY(int Value)
{
    if (Value == ViewY)
        return;
    int mx, my;
    GetMaxViewXY(mx, my);
    ViewY = std::clamp(Value, 0, my);
    Invalidate();
    SetScrollBarPos(SB_VERT, ViewY);
}

void TImgMView::SetViewXY(int X, int Y)
{
    if (X == ViewX && Y == ViewY)
        return;
    SetViewX(X);
    SetViewY(Y);
}

namespace {

bool HasBar(TScrollStyle Style, int Bar)
{
    return Style == ssBoth || (Bar == SB_HORZ ? Style == ssHorizontal : Style == ssVertical);
}

// Pixels per scroll-bar unit: 65536 units span the client size plus the
// largest offset.
double BarFactor(int ClientSize, int Max) { return (ClientSize + Max - 1) / 65536.0; }

}  // namespace

void TImgMView::SetScrollBars(TScrollStyle Value)
{
    scrollBars_ = Value;
    if ((GetParent() || GetParentWindow()) && HandleAllocated()) {
        if (!HasBar(Value, SB_VERT))
            PxShowScrollBar(GetHandle(), SB_VERT, false, flatScrollBars_);
        if (!HasBar(Value, SB_HORZ))
            PxShowScrollBar(GetHandle(), SB_HORZ, false, flatScrollBars_);
        UpdateLayout(false);
    }
}

void TImgMView::SetFlatScrollBars(bool Value)
{
    if (Value == flatScrollBars_)
        return;
    flatScrollBars_ = Value;
    if (!HandleAllocated())
        return;
    PxSetFlatScrollBars(GetHandle(), Value);
}

void TImgMView::UpdateScrollBar(int Bar, int Max, int ClientSize, int Offset)
{
    HWND h = GetHandle();
    const bool flat = flatScrollBars_;
    if (Max > 0) {
        const double factor = BarFactor(ClientSize, Max);
        PxShowScrollBar(h, Bar, true, flat);
        PxEnableScrollBar(h, Bar, ESB_ENABLE_BOTH, flat);
        PxSetScrollInfo(h, Bar, 0, 65535, static_cast<int>(ClientSize / factor), static_cast<int>(Offset / factor),
                        true, flat);
    } else if (ScrollBarsAlwaysVisible) {
        SCROLLINFO si{};
        si.cbSize = sizeof(si);
        si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
        if (flat)
            FlatSB_SetScrollInfo(h, Bar, &si, TRUE);
        else
            SetScrollInfo(h, Bar, &si, TRUE);
        PxShowScrollBar(h, Bar, true, flat);
        PxEnableScrollBar(h, Bar, ESB_DISABLE_BOTH, flat);
    } else {
        PxShowScrollBar(h, Bar, false, flat);
    }
}

void TImgMView::UpdateScrollBars()
{
    if (!HandleAllocated())
        return;
    // Showing or hiding a bar changes the client size: lay out again until
    // it stays the same.
    for (int pass = 0; pass < 9; ++pass) {
        if (pass > 0) {
            classlib::TCriticalSectionGuard guard(starterLock_);
            LayoutGrid();
        }
        const int cw = GetClientWidth();
        const int ch = GetClientHeight();
        int mx, my;
        GetMaxViewXY(mx, my);
        if (ViewX > mx || ViewY > my) {
            ViewX = std::min(ViewX, mx);
            ViewY = std::min(ViewY, my);
            DoViewChange(0);
        }
        if (HasBar(scrollBars_, SB_HORZ))
            UpdateScrollBar(SB_HORZ, mx, cw, ViewX);
        if (HasBar(scrollBars_, SB_VERT))
            UpdateScrollBar(SB_VERT, my, ch, ViewY);
        if (GetClientWidth() == cw && GetClientHeight() == ch)
            break;
    }
}

void TImgMView::SetScrollBarPos(int Bar, int Offset)
{
    if (!HandleAllocated() || !HasBar(scrollBars_, Bar))
        return;
    int mx, my;
    GetMaxViewXY(mx, my);
    const int m = Bar == SB_HORZ ? mx : my;
    if (m <= 0)
        return;
    const int size = Bar == SB_HORZ ? GetClientWidth() : GetClientHeight();
    PxSetScrollPos(GetHandle(), Bar, static_cast<int>(Offset / BarFactor(size, m)), true, flatScrollBars_);
}

bool TImgMView::InteractMessage(classlib::TMessage& Message)
{
    switch (Message.Msg) {
    case WM_VSCROLL:
    case WM_HSCROLL: {
        const bool vert = Message.Msg == WM_VSCROLL;
        const int c = vert ? ViewY : ViewX;
        int line = vert ? VertLineStep : HorzLineStep;
        if (line == -1)
            line = vert ? thumbHeight_ + vertBorder_ : thumbWidth_ + horizBorder_;
        int page = vert ? VertPageStep : HorzPageStep;
        if (page == -1)
            page = vert ? GetClientHeight() : GetClientWidth();
        int mx, my;
        GetMaxViewXY(mx, my);
        const int m = vert ? my : mx;
        const int size = vert ? GetClientHeight() : GetClientWidth();
        const double factor = BarFactor(size, m);
        const int pos = static_cast<int>(HIWORD(Message.WParam));
        int o = c;
        switch (LOWORD(Message.WParam)) {
        case SB_LINEUP: o = c - line; break;
        case SB_LINEDOWN: o = c + line; break;
        case SB_PAGEUP: o = c - page; break;
        case SB_PAGEDOWN: o = c + page; break;
        case SB_THUMBPOSITION: o = static_cast<int>(pos * factor); break;
        case SB_THUMBTRACK:
            if (ScrollTracking)
                o = static_cast<int>(pos * factor);
            break;
        case SB_TOP: o = 0; break;
        case SB_BOTTOM: o = m; break;
        default: break;
        }
        if (vert)
            SetViewY(o);
        else
            SetViewX(o);
        DoViewChange(0);
        Message.Result = 0;
        return true;
    }
    case WM_MOUSEWHEEL: {
        classlib::TValueScope<bool> user(userAction_, true);
        const short delta = static_cast<short>(HIWORD(Message.WParam));
        const int step = thumbHeight_ + vertBorder_;
        SetViewY(delta > 0 ? ViewY - step : ViewY + step);
        DoViewChange(0);
        Message.Result = 0;
        return true;
    }
    case WM_LBUTTONDBLCLK:
        ignorePress_ = true;
        return false;
    case WM_TIMER:
        if (Message.WParam == kPlayTimer) {
            PlayStep();
            Message.Result = 0;
            return true;
        }
        return false;
    case WM_GETDLGCODE:
        // The arrow and page keys belong to the grid.
        TPxView::WndProc(Message);
        Message.Result |= DLGC_WANTARROWS;
        return true;
    default:
        return false;
    }
}

// ---- playing

void TImgMView::SetPlaying(bool Value)
{
    if (Value == Playing)
        return;
    if (Value) {
        pendingDisplayMode_ = displayMode_;
        playSelected_ = selectedImage_;
        DeselectNoUpdate();
        Playing = true;
        PlayStep();
    } else {
        Playing = false;
        PlayStep();
        SetDisplayMode(pendingDisplayMode_);
        SetSelectedImage(playSelected_);
    }
}

void TImgMView::PlayStep()
{
    if (inPlayStep_ || destroying_)
        return;
    classlib::TValueScope<bool> guard(inPlayStep_, true);
    if (timer_ && HandleAllocated())
        KillTimer(GetHandle(), kPlayTimer);
    timer_ = 0;
    if (!Playing)
        return;
    if (displayMode_ != mdSingle) {
        displayMode_ = mdSingle;
        Update();
    }
    VisibleFrame = std::min(VisibleFrame, GetImageCount() - 1);
    if (GetImageCount() == 0) {
        VisibleFrame = 0;
        return;
    }
    VisibleFrame = std::max(VisibleFrame, 0);
    const int shown = VisibleFrame;
    if (OnPlayFrame)
        OnPlayFrame(this, shown);
    if (HandleAllocated()) {
        Paint();
        ValidateRect(GetHandle(), nullptr);
    }
    if (VisibleFrame == GetImageCount() - 1) {
        VisibleFrame = 0;
        NotifyBitmapChange();
        if (!PlayLoop) {
            Playing = false;
            return;
        }
    } else {
        ++VisibleFrame;
    }
    if (HandleAllocated())
        timer_ = SetTimer(GetHandle(), kPlayTimer, static_cast<UINT>(std::max(GetImageDelayTime(shown), 10)), nullptr);
}

}  // namespace imaging
