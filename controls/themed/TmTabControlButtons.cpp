// The tab control's strip buttons: the scroller, the close button, the
// close button on the active tab and the menu button with its tab menu.
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

// ================================================================ buttons

std::vector<TTmTabMenuEntry> TTmCustomTabControl::TabMenuEntries() const
{
    std::vector<TTmTabMenuEntry> entries;
    for (int i = 0; i < TabCount(); ++i) {
        const TTmTabData* t = Tab(i);
        if (!t->Visible) continue;
        TTmTabMenuEntry e;
        e.Caption = t->Caption;
        e.Enabled = t->Enabled;
        e.Checked = i == tabIndex_;
        e.ImageIndex = (!t->Enabled && t->DisabledIndex != -1) ? t->DisabledIndex : t->ImageIndex;
        e.Tag = i;
        entries.push_back(e);
    }
    if (sortTabMenu_)
        std::stable_sort(entries.begin(), entries.end(), [](const TTmTabMenuEntry& a, const TTmTabMenuEntry& b) {
            return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.Caption.c_str(), -1, b.Caption.c_str(),
                                    -1) == CSTR_LESS_THAN;
        });
    return entries;
}



void DrawTabButtonFace(TCanvas* Canvas, const RECT& Rect, TTmCustomTabControl* TabControl, bool Enabled,
                       TColor FrameColor, bool Hot, bool Down)
{
    const TColor B = TabControl->GetButtonColor();
    if (Enabled && TabControl->GetUseGradients()) {
        TColor top = TmLightenColor(B, 20), bottom = TmDarkenColor(B, 20);
        if (Down) {
            top = TmDarkenColor(top, 30);
            bottom = TmDarkenColor(bottom, 30);
        } else if (Hot) {
            top = TmLightenColor(top, 30);
            bottom = TmLightenColor(bottom, 30);
        }
        RECT inner = Rect;
        ::InflateRect(&inner, -1, -1);
        TmPaintGradient(Canvas, inner, gdHorizontalEnd, top, bottom);
        Canvas->GetPen()->SetStyle(psSolid);
        Canvas->GetPen()->SetColor(FrameColor);
        Canvas->GetBrush()->SetStyle(bsClear);
        Canvas->Rectangle(Rect);
        Canvas->GetBrush()->SetStyle(bsSolid);
    } else if (Enabled) {
        TColor b = Down ? TmDarkenColor(B, 30) : Hot ? TmLightenColor(B, 30) : B;
        Canvas->GetPen()->SetStyle(psSolid);
        Canvas->GetPen()->SetColor(FrameColor);
        SetCanvasBrush(Canvas, b);
        Canvas->Rectangle(Rect);
    } else {
        Canvas->GetPen()->SetStyle(psSolid);
        Canvas->GetPen()->SetColor(FrameColor);
        SetCanvasBrush(Canvas, TmLightenColor(clBtnShadow, 30));
        Canvas->Rectangle(Rect);
    }
}

namespace {

bool PointInside(const TControl* C, int X, int Y) { return X >= 0 && Y >= 0 && X < C->GetWidth() && Y < C->GetHeight(); }

// While a button is held, its pressed look follows whether the pointer is
// on it; true when the look changed.
bool FollowPress(bool& Pressed, bool OnButton)
{
    if (OnButton == Pressed) return false;
    Pressed = OnButton;
    return true;
}

// The hot state follows the control under the cursor.
void SyncHot(TControl* C, bool& Hot)
{
    if (!C->GetEnabled()) return;
    POINT p{};
    ::GetCursorPos(&p);
    POINT c = C->ScreenToClient(p);
    const bool inside = c.x >= 0 && c.y >= 0 && c.x < C->GetWidth() && c.y < C->GetHeight() &&
                        ::WindowFromPoint(p) == (dynamic_cast<TWinControl*>(C)
                                                     ? static_cast<TWinControl*>(C)->GetHandle()
                                                     : C->GetParent()->GetHandle());
    if (inside != Hot) {
        Hot = inside;
        C->Invalidate();
    }
}

}  // namespace

TTmTabScroller::TTmTabScroller(TTmCustomTabControl* TabControl) : TCustomControl(TabControl), tabControl_(TabControl)
{
    SetParent(TabControl);
    SetBounds(-100, -100, 31, 16);
}

TTmTabScroller::~TTmTabScroller() = default;

TM_REDRAW_SETTER(TTmTabScroller, FrameColor, TColor, frameColor_, Invalidate)
TM_REDRAW_SETTER(TTmTabScroller, Orientation, TOrientation, orientation_, Invalidate)

int TTmTabScroller::HalfAt(int X, int Y) const
{
    if (orientation_ == orVertical) return Y <= GetHeight() / 2 ? 1 : 0;
    return X >= GetWidth() / 2 ? 1 : 0;
}

bool TTmTabScroller::HalfEnabled(int Half) const
{
    // Which of the two halves scrolls backward (as the click handlers do).
    const bool upRightForward = tabControl_->GetTabOrientation() == toRight
                                    ? tabControl_->GetTabSequence() == tsReverse
                                    : tabControl_->GetTabSequence() == tsStandard;
    const bool forward = Half == 1 ? upRightForward : !upRightForward;
    if (!forward) return tabControl_->GetFirstShownTab() != 0;
    const int last = tabControl_->LastVisibleTab();
    return last >= 0 && !tabControl_->IsTabShown(last);
}

void TTmTabScroller::Paint()
{
    TCanvas* c = GetCanvas();
    const TColor F = TmLightenColor(frameColor_, 30);
    const int w = GetWidth(), h = GetHeight();
    RECT first{0, 0, w, h}, second{0, 0, w, h};
    if (orientation_ == orHorizontal) {
        first.right = first.left + w / 2 + 1;
        second.left = second.right - w / 2 - 1;
    } else {
        first.top = first.bottom - h / 2 - 1;
        second.bottom = second.top + h / 2 + 1;
    }
    const bool e0 = HalfEnabled(0), e1 = HalfEnabled(1);
    DrawTabButtonFace(c, first, tabControl_, e0, F, hot_ && hotHalf_ == 0, pressed_ && pressedHalf_ == 0);
    TmPaintArrowGlyph(c, first, vsClassic, e0, orientation_ == orHorizontal ? 2 : 1);
    DrawTabButtonFace(c, second, tabControl_, e1, F, hot_ && hotHalf_ == 1, pressed_ && pressedHalf_ == 1);
    TmPaintArrowGlyph(c, second, vsClassic, e1, orientation_ == orHorizontal ? 3 : 0);
}

void TTmTabScroller::ClickHalf(int Half)
{
    if (Half == 0)
        DownLeftClick();
    else
        UpRightClick();
}

void TTmTabScroller::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    TCustomControl::MouseDown(Button, Shift, X, Y);
    pressedHalf_ = HalfAt(X, Y);
    mouseDown_ = true;
    pressed_ = true;
    Invalidate();
    if (HandleAllocated()) ::SetCapture(GetHandle());
    if (!timer_) {
        timer_ = std::make_unique<TTimer>(nullptr);
        timer_->SetEnabled(false);
        timer_->SetOnTimer(TNotifyEvent(this, &TTmTabScroller::TimerTick));
    }
    timer_->SetInterval(firstDelay_);
    timer_->SetEnabled(true);
}

void TTmTabScroller::MouseMove(TShiftState Shift, int X, int Y)
{
    TCustomControl::MouseMove(Shift, X, Y);
    if (mouseDown_) {
        if (FollowPress(pressed_, PointInside(this, X, Y) && HalfAt(X, Y) == pressedHalf_)) Invalidate();
    } else if (!hot_) {
        SyncHot(this, hot_);
    } else {
        const int half = HalfAt(X, Y);
        if (half != hotHalf_) {
            hotHalf_ = half;
            Invalidate();
        }
    }
}

void TTmTabScroller::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    auto alive = AliveToken();
    if (timer_) timer_->SetEnabled(false);
    if (HandleAllocated() && ::GetCapture() == GetHandle()) ::ReleaseCapture();
    mouseDown_ = false;
    if (pressed_) {
        pressed_ = false;
        ClickHalf(pressedHalf_);
        if (!*alive) return;
        Invalidate();
    }
    TCustomControl::MouseUp(Button, Shift, X, Y);
}

void TTmTabScroller::TimerTick(TObject*)
{
    try {
        timer_->SetInterval(repeatInterval_);
        if (pressed_ && HandleAllocated() && ::GetCapture() == GetHandle()) ClickHalf(pressedHalf_);
    } catch (...) {
        timer_->SetEnabled(false);
        throw;
    }
}

void TTmTabScroller::WndProc(TMessage& Message)
{
    if (Message.Msg == CM_MOUSEENTER) {
        hot_ = true;
        TCustomControl::WndProc(Message);
        Repaint();
        return;
    }
    if (Message.Msg == CM_MOUSELEAVE) {
        hot_ = false;
        TCustomControl::WndProc(Message);
        Repaint();
        return;
    }
    TCustomControl::WndProc(Message);
}

TTmTabStripButton::TTmTabStripButton(TTmCustomTabControl* TabControl)
    : TCustomControl(TabControl), tabControl_(TabControl)
{
    SetParent(TabControl);
    SetBounds(-100, -100, 16, 16);
}

TM_REDRAW_SETTER(TTmTabStripButton, FrameColor, TColor, frameColor_, Invalidate)

void TTmTabStripButton::PaintFace(const RECT& R)
{
    DrawTabButtonFace(GetCanvas(), R, tabControl_, GetEnabled(), TmLightenColor(frameColor_, 30), hot_, pressed_);
}

void TTmTabStripButton::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    TCustomControl::MouseDown(Button, Shift, X, Y);
    mouseDown_ = true;
    pressed_ = true;
    Invalidate();
    if (HandleAllocated()) ::SetCapture(GetHandle());
}

void TTmTabStripButton::MouseMove(TShiftState Shift, int X, int Y)
{
    TCustomControl::MouseMove(Shift, X, Y);
    if (mouseDown_) {
        if (FollowPress(pressed_, PointInside(this, X, Y))) Invalidate();
    } else if (!hot_) {
        SyncHot(this, hot_);
    }
}

void TTmTabStripButton::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    auto alive = AliveToken();
    if (HandleAllocated() && ::GetCapture() == GetHandle()) ::ReleaseCapture();
    mouseDown_ = false;
    if (pressed_) {
        pressed_ = false;
        Released();
        if (!*alive) return;
    }
    TCustomControl::MouseUp(Button, Shift, X, Y);
}

void TTmTabStripButton::WndProc(TMessage& Message)
{
    if (Message.Msg == CM_MOUSEENTER || Message.Msg == CM_MOUSELEAVE) {
        hot_ = Message.Msg == CM_MOUSEENTER;
        TCustomControl::WndProc(Message);
        Repaint();
        return;
    }
    TCustomControl::WndProc(Message);
}

void TTmTabControlCloseButton::Paint()
{
    RECT r = GetClientRect();
    PaintFace(r);
    TmPaintCloseButtonGlyph(GetCanvas(), r, vsClassic, GetEnabled());
}

// The close handler may free the button: it repaints only when still alive.
void TTmTabControlCloseButton::Released()
{
    auto alive = AliveToken();
    DoClose();
    if (*alive) Invalidate();
}

TTmActiveTabCloseButton::TTmActiveTabCloseButton(TTmCustomTabControl* TabControl)
    : TGraphicControl(TabControl), tabControl_(TabControl)
{
    SetParent(TabControl);
    SetBounds(-100, -100, 15, 13);
}

TM_REDRAW_SETTER(TTmActiveTabCloseButton, FrameColor, TColor, frameColor_, Invalidate)

void TTmActiveTabCloseButton::Paint()
{
    RECT r = GetClientRect();
    TColor glyph = frameColor_;
    if (hot_) {
        DrawTabButtonFace(GetCanvas(), r, tabControl_, GetEnabled(), frameColor_, hot_, pressed_);
        glyph = tabControl_->GetTabColors()->GetHighlightBar();
    }
    TmPaintCloseGlyph(GetCanvas(), r, glyph);
}

void TTmActiveTabCloseButton::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    TGraphicControl::MouseDown(Button, Shift, X, Y);
    if (Button != mbLeft) return;
    mouseDown_ = true;
    pressed_ = true;
    Repaint();
}

void TTmActiveTabCloseButton::MouseMove(TShiftState Shift, int X, int Y)
{
    TGraphicControl::MouseMove(Shift, X, Y);
    if (mouseDown_) {
        if (FollowPress(pressed_, PointInside(this, X, Y))) Repaint();
    } else if (!hot_) {
        SyncHot(this, hot_);
    }
}

void TTmActiveTabCloseButton::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    auto alive = AliveToken();
    mouseDown_ = false;
    if (pressed_) {
        pressed_ = false;
        DoClose();
        if (!*alive) return;
        Repaint();
        SyncHot(this, hot_);
    }
    TGraphicControl::MouseUp(Button, Shift, X, Y);
}

void TTmActiveTabCloseButton::MouseEnter()
{
    hot_ = true;
    TGraphicControl::MouseEnter();
    Repaint();
}

void TTmActiveTabCloseButton::MouseLeave()
{
    hot_ = false;
    TGraphicControl::MouseLeave();
    Repaint();
}

void TTmTabMenuButton::Paint()
{
    RECT r = GetClientRect();
    PaintFace(r);
    int dir = 1;
    switch (tabControl_->GetTabOrientation()) {
    case toTop: dir = 1; break;
    case toLeft: dir = 3; break;
    case toBottom: dir = 0; break;
    case toRight: dir = 2; break;
    }
    TmPaintArrowGlyph(GetCanvas(), r, vsClassic, GetEnabled(), dir);
}

// Repaints unpressed before the menu runs its own message loop.
void TTmTabMenuButton::Released()
{
    Invalidate();
    DisplayMenu();
}

void TTmTabMenuButton::MenuItemClick(int Tag) { tabControl_->SetTabIndex(Tag); }

HMENU TTmTabMenuButton::BuildMenu()
{
    menuGlyphs_.clear();
    const std::vector<TTmTabMenuEntry> entries = tabControl_->TabMenuEntries();
    HMENU menu = ::CreatePopupMenu();
    if (!menu) return nullptr;
    classlib::TCustomImageList* images = tabControl_->GetImages();
    HIMAGELIST list = images ? images->GetHandle() : nullptr;
    const int count = list ? ::ImageList_GetImageCount(list) : 0;
    int iw = 0, ih = 0;
    if (list) ::ImageList_GetIconSize(list, &iw, &ih);
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    for (size_t i = 0; i < entries.size(); ++i) {
        const TTmTabMenuEntry& e = entries[i];
        UINT flags = MF_STRING | (e.Enabled ? 0 : MF_GRAYED) | (e.Checked ? MF_CHECKED : 0);
        ::AppendMenuW(menu, flags, i + 1, e.Caption.c_str());
        if (e.ImageIndex < 0 || e.ImageIndex >= count || iw <= 0 || ih <= 0 || !memory) continue;
        // The image over the menu's colour (the item bitmap has no
        // transparency of its own).
        classlib::TOwnedBitmap glyph(::CreateCompatibleBitmap(screen, iw, ih));
        if (!glyph.Get()) continue;
        {
            TSelectObjectScope select(memory, glyph.Get());
            const RECT r{0, 0, iw, ih};
            ::FillRect(memory, &r, ::GetSysColorBrush(COLOR_MENU));
            ::ImageList_Draw(list, e.ImageIndex, memory, 0, 0, ILD_TRANSPARENT);
        }
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_BITMAP;
        info.hbmpItem = glyph.Get();
        ::SetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
        menuGlyphs_.push_back(std::move(glyph));
    }
    if (memory) ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return menu;
}

void TTmTabMenuButton::DisplayMenu()
{
    const std::vector<TTmTabMenuEntry> entries = tabControl_->TabMenuEntries();
    HMENU menu = BuildMenu();
    if (!menu) return;
    const bool rev = tabControl_->GetTabSequence() == tsReverse;
    POINT p{};
    UINT align = TPM_LEFTALIGN;
    switch (tabControl_->GetTabOrientation()) {
    case toTop:
        p = rev ? POINT{0, GetHeight()} : POINT{GetWidth() - 1, GetHeight()};
        align = rev ? TPM_LEFTALIGN : TPM_RIGHTALIGN;
        break;
    case toLeft: p = POINT{GetWidth(), 0}; break;
    case toBottom:
        p = rev ? POINT{0, 0} : POINT{GetWidth(), 0};
        align = rev ? TPM_LEFTALIGN : TPM_RIGHTALIGN;
        break;
    case toRight:
        p = POINT{0, 0};
        align = TPM_RIGHTALIGN;
        break;
    }
    p = ClientToScreen(p);
    const UINT chosen = static_cast<UINT>(
        ::TrackPopupMenu(menu, align | TPM_RETURNCMD | TPM_NONOTIFY, p.x, p.y, 0, GetHandle(), nullptr));
    ::DestroyMenu(menu);
    if (chosen >= 1 && chosen <= entries.size()) MenuItemClick(entries[chosen - 1].Tag);
}

}  // namespace themed
