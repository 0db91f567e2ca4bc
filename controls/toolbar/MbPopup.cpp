// Popup windows: the window class and its frame, placement beside the item
// that opened it, scroll arrows, the opening effect and sound, and running
// an item's popup modally.
#include "controls/toolbar/MbItem.h"

#include <algorithm>

#include "classlib/Forms.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "controls/toolbar/MbAcc.h"
#include "controls/toolbar/MbAnim.h"
#include "controls/toolbar/MbCommon.h"
#include "controls/toolbar/MbItemInternal.h"

namespace toolbar {

using detail::HostHandle;

// ----------------------------------------------------------- popup windows

namespace {

constexpr const wchar_t* kPopupClass = L"VelmoMbPopupWindow";

TMbPopupWindow* PopupOf(HWND Wnd);

}  // namespace

namespace detail {

TMbView* PopupViewOf(HWND Wnd)
{
    TMbPopupWindow* w = PopupOf(Wnd);
    return w ? w->GetView() : nullptr;
}

}  // namespace detail

namespace {

// The 3-pixel frame: flat (a shadow line inside which two lines of the
// window colour) or raised.
void PaintPopupFrame(HWND Wnd, HDC DC)
{
    RECT r{};
    ::GetWindowRect(Wnd, &r);
    ::OffsetRect(&r, -r.left, -r.top);
    if (FlatMenusOn()) {
        classlib::TOwnedBrush shadow(::CreateSolidBrush(::GetSysColor(COLOR_BTNSHADOW)));
        classlib::TOwnedBrush face(::CreateSolidBrush(::GetSysColor(COLOR_MENU)));
        ::FrameRect(DC, &r, shadow.Get());
        ::InflateRect(&r, -1, -1);
        ::FrameRect(DC, &r, face.Get());
        ::InflateRect(&r, -1, -1);
        ::FrameRect(DC, &r, face.Get());
    } else {
        ::DrawEdge(DC, &r, EDGE_RAISED, BF_RECT | BF_ADJUST);
        classlib::TOwnedBrush face(::CreateSolidBrush(::GetSysColor(COLOR_BTNFACE)));
        ::FrameRect(DC, &r, face.Get());
    }
}

void PaintPopupClient(HWND Wnd, TMbPopupWindow* Popup, HDC DC)
{
    TMbView* view = Popup->GetView();
    classlib::TCanvas canvas;
    canvas.SetHandle(DC);
    RECT r{};
    ::GetClientRect(Wnd, &r);
    const TMbCustomItem* shown = view->ShownItem;
    canvas.GetBrush()->SetColor(shown && shown->GetCount() ? shown->GetItem(0)->XPItemBkgrCol : classlib::clMenu);
    canvas.FillRect(r);
    view->DrawAll(&canvas);
    Popup->DrawScrollArrows(&canvas);
    canvas.SetHandle(nullptr);
}

}  // namespace

// The window of a TMbPopupWindow. Popup is cleared before the window goes,
// so messages of the window's last moments find no popup.
class TMbPopupControl : public classlib::TCustomControl {
public:
    TMbPopupControl(TMbPopupWindow* APopup, HWND AOwnerWnd) : classlib::TCustomControl(nullptr), Popup(APopup), ownerWnd_(AOwnerWnd)
    {
        TCustomControl::SetVisible(false);
        SetBounds(0, 0, 320, 240);
        ControlStyle &= ~classlib::csCaptureMouse;
        SetShowHint(true);
        SetColor(classlib::clMenu);
    }
    std::wstring ClassName() const override { return L"TMbPopupControl"; }
    TMbPopupWindow* Popup;

    void WndProc(classlib::TMessage& Message) override
    {
        const HWND wnd = HandleAllocated() ? GetHandle() : nullptr;
        switch (Message.Msg) {
        case WM_MOUSEACTIVATE:
            Message.Result = MA_NOACTIVATE;  // a popup never takes the activation
            return;
        case WM_CLOSE:
            Message.Result = 0;
            return;
        case WM_NCCALCSIZE:
            ::InflateRect(reinterpret_cast<RECT*>(Message.LParam), -3, -3);
            Message.Result = 0;
            return;
        case WM_NCPAINT: {
            classlib::TWindowDC dc(wnd, nullptr, DCX_WINDOW | DCX_CACHE);
            if (dc.Get()) {
                classlib::TSaveDCScope saved(dc.Get());
                ClipToUpdateRegion(wnd, dc.Get(), reinterpret_cast<HRGN>(Message.WParam));
                PaintPopupFrame(wnd, dc.Get());
            }
            Message.Result = 0;
            return;
        }
        case WM_ERASEBKGND:
            FinishOpenEffectOf(wnd);
            Message.Result = 1;
            return;
        case WM_PRINTCLIENT:
            if (Popup) PaintPopupClient(wnd, Popup, reinterpret_cast<HDC>(Message.WParam));
            Message.Result = 0;
            return;
        case WM_PRINT: {
            HDC dc = reinterpret_cast<HDC>(Message.WParam);
            Message.Result = 0;
            if ((Message.LParam & PRF_CHECKVISIBLE) && !::IsWindowVisible(wnd)) return;
            if (Message.LParam & PRF_NONCLIENT) PaintPopupFrame(wnd, dc);
            if ((Message.LParam & PRF_CLIENT) && Popup) {
                classlib::TSaveDCScope saved(dc);
                POINT org{};
                ::GetWindowOrgEx(dc, &org);
                ::SetWindowOrgEx(dc, org.x - 3, org.y - 3, nullptr);
                PaintPopupClient(wnd, Popup, dc);
            }
            return;
        }
        case WM_PAINT: {
            FinishOpenEffectOf(wnd);
            Message.Result = 0;
            if (Message.WParam) {
                // Drawn into a given device context (the off-screen redraw).
                if (Popup) PaintPopupClient(wnd, Popup, reinterpret_cast<HDC>(Message.WParam));
                return;
            }
            classlib::TPaintScope paint(wnd);
            if (Popup) PaintPopupClient(wnd, Popup, paint.Get());
            return;
        }
        case classlib::CM_HINTSHOW:
            Message.Result = Popup ? MbAnswerHintShow(Popup->GetView(), *reinterpret_cast<classlib::THintInfo*>(Message.LParam)) : 1;
            return;
        default: TCustomControl::WndProc(Message);
        }
    }

protected:
    void CreateParams(classlib::TCreateParams& Params) override
    {
        TCustomControl::CreateParams(Params);
        Params.Style = WS_POPUP;
        Params.ExStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
        Params.WndParent = ownerWnd_;
        Params.WinClassName = kPopupClass;
        Params.WindowClassStyle = CS_SAVEBITS | (PlatformIsXPOrLater() ? CS_DROPSHADOW : 0);
    }

private:
    HWND ownerWnd_;
};

namespace {

TMbPopupWindow* PopupOf(HWND Wnd)
{
    auto* control = dynamic_cast<TMbPopupControl*>(classlib::FindControl(Wnd));
    return control ? control->Popup : nullptr;
}

// Whether "MenuPopup" was played once in this run (the first time the
// window is shown before the sound starts).
bool gMenuPopupSoundPlayed = false;

}  // namespace

std::unique_ptr<TMbPopupView> TMbPopupView::Create(TMbView* UpperView, TMbCustomItem* Item, bool Customizing)
{
    return std::make_unique<TMbPopupView>(nullptr, UpperView, Item, nullptr, false, Customizing);
}

std::unique_ptr<TMbPopupWindow> TMbPopupWindow::Create(TMbView* UpperView, TMbCustomItem* Item, bool Customizing)
{
    return std::make_unique<TMbPopupWindow>(UpperView, Item, Customizing);
}

TMbPopupWindowClass TMbCustomItem::PopupWindowClass() const { return &TMbPopupWindow::Create; }

TMbPopupWindow::TMbPopupWindow(TMbView* UpperView, TMbCustomItem* Item, bool Customizing,
                               TMbPopupViewClass ViewClass)
    : viewClass_(ViewClass ? ViewClass : &TMbPopupView::Create), view_(viewClass_(UpperView, Item, Customizing))
{
    if (!view_) throw EMbItemError(L"The popup view class made no view");
    view_->RunFlags |= rfInLoop;  // a popup always belongs to a running loop
    if (UpperView) {
        view_->ViewStyle = static_cast<uint8_t>((view_->ViewStyle & ~vsHideAccels) | (UpperView->ViewStyle & vsHideAccels));
        view_->RunFlags |= UpperView->RunFlags & rfAccelsShown;
    } else {
        view_->ViewStyle |= vsHideAccels;
    }
    HWND owner = nullptr;
    if (classlib::Application && classlib::Application->GetMainForm() &&
        classlib::Application->GetMainForm()->HandleAllocated())
        owner = classlib::Application->GetMainForm()->GetHandle();
    control_ = std::make_unique<TMbPopupControl>(this, owner);
    // The entries' font: the opening view's, else the main form's.
    if (UpperView) control_->GetFont()->Assign(UpperView->ViewFont());
    else if (classlib::Application && classlib::Application->GetMainForm())
        control_->GetFont()->Assign(classlib::Application->GetMainForm()->GetFont());
    wnd_ = control_->GetHandle();
    ::SetWindowPos(wnd_, nullptr, 0, 0, 0, 0,
                   SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    view_->Wnd = wnd_;
    if (!UpperView) {
        // A root popup reads the keyboard-cue state once.
        ::SendMessageW(wnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_INITIALIZE, 0), 0);
        const LRESULT state = ::SendMessageW(wnd_, WM_QUERYUISTATE, 0, 0);
        view_->ShowAccelerators(!(state & UISF_HIDEACCEL));
    }
}

TMbPopupWindow::~TMbPopupWindow()
{
    FinishOpenEffectOf(wnd_);
    view_->DisarmAllTimers();
    view_->CloseOpenPopup();
    MbNotifyAccEvent(EVENT_SYSTEM_MENUPOPUPEND, wnd_, OBJID_CLIENT, CHILDID_SELF);
    control_->Popup = nullptr;
    view_->Wnd = nullptr;
    control_.reset();
}

classlib::TCustomControl* TMbPopupWindow::GetControl() const { return control_.get(); }

void TMbPopupWindow::SetVisible(bool Visible)
{
    const bool shown = ::IsWindowVisible(wnd_) != FALSE;
    if (Visible && !shown && !view_->SelectedViewer &&
        !(view_->UpperView && (view_->UpperView->RunFlags & rfPopupClosed)) &&
        SystemFlag(SPI_GETMENUANIMATION, false)) {
        const bool fade = SystemFlag(SPI_GETMENUFADE, false);
        if (fade || AnimDirection) {
            BeginOpenEffect(wnd_, fade, AnimDirection);
            return;
        }
    }
    if (!Visible) FinishOpenEffectOf(wnd_);
    const UINT flags = SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOOWNERZORDER;
    ::SetWindowPos(wnd_, nullptr, 0, 0, 0, 0, flags | (Visible ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
}

void TMbPopupWindow::DrawScrollArrows(classlib::TCanvas* Canvas)
{
    RECT c{};
    ::GetClientRect(wnd_, &c);
    auto arrow = [&](const RECT& R, bool Up) {
        const int cx = (R.left + R.right) / 2, cy = (R.top + R.bottom) / 2 - 1;
        const std::vector<POINT> pts = Up ? std::vector<POINT>{{cx - 3, cy + 3}, {cx + 3, cy + 3}, {cx, cy}}
                                          : std::vector<POINT>{{cx - 3, cy}, {cx + 3, cy}, {cx, cy + 3}};
        Canvas->GetPen()->SetColor(classlib::clMenuText);
        Canvas->GetBrush()->SetColor(classlib::clMenuText);
        Canvas->Polygon(pts);
    };
    if (view_->UpArrowShown) arrow(RECT{0, 0, c.right, 19}, true);
    if (view_->DownArrowShown) arrow(RECT{0, c.bottom - 19, c.right, c.bottom}, false);
}

namespace {

// Places W for Item's popup (see OpenPopupWindow): its size, position and
// slide direction.
void PlacePopup(TMbPopupWindow* W, TMbView* UpperView, TMbItemViewer* UpperViewer, bool PositionAsSubmenu,
                bool SelectFirst, POINT PopupPoint, TPopupAlignment Alignment, TMbView* Chevron)
{
    TMbView* view = W->GetView();
    RECT r{};
    RECT wa{};
    if (UpperView) {
        UpperView->ValidateLayout();
        r = UpperViewer->EntryRect;
        if (HWND upper = HostHandle(UpperView)) ::MapWindowPoints(upper, nullptr, reinterpret_cast<POINT*>(&r), 2);
        wa = ::IsRectEmpty(&UpperView->WorkArea) ? MonitorRectForRect(r, false) : UpperView->WorkArea;
    } else {
        r = RECT{PopupPoint.x, PopupPoint.y, PopupPoint.x, PopupPoint.y};
        wa = MonitorRectForPoint(PopupPoint, false);
    }
    view->WorkArea = wa;
    if (Chevron) view->WrapAt = (wa.right - wa.left) - 6;
    else view->HeightLimit = (wa.bottom - wa.top) - 6;
    if (SelectFirst) view->SelectViewer(view->FirstSelectableEntry());
    view->ScrollPos = 0;
    view->RecalcLayout();
    RECT wr{};
    ::GetWindowRect(W->GetHandle(), &wr);
    const int wd = wr.right - wr.left, ht = wr.bottom - wr.top;
    const bool upperVertical = UpperView && UpperView->Axis == laVertical;

    // Start position.
    int x = 0, y = 0;
    if (!UpperView) {
        x = PopupPoint.x;
        y = PopupPoint.y;
        if (Alignment == paRight) x -= wd;
        if (Alignment == paCenter) x -= wd / 2;
    } else if (PositionAsSubmenu) {
        x = r.right - 3;
        y = r.top - 3;
    } else if (Chevron) {
        if (Chevron->Axis == laVertical) {
            x = r.left - wd;
            y = r.top;
        } else {
            x = r.right - wd;
            y = r.bottom;
        }
    } else if (upperVertical) {
        x = r.left - wd;
        y = r.top;
    } else {
        x = ::GetSystemMetrics(SM_MENUDROPALIGNMENT) ? r.right - wd : r.left;
        y = r.bottom;
    }

    // Vertical fit.
    if (y + ht > wa.bottom && !upperVertical) {
        const int alt = (PositionAsSubmenu ? r.bottom + 3 : r.top) - ht;
        if (alt >= wa.top) y = alt;
    }
    y = std::max(std::min(y, static_cast<int>(wa.bottom) - ht), static_cast<int>(wa.top));

    if (PositionAsSubmenu) {
        // Submenus go on in the direction their parent took; one that does
        // not fit on that side tries the other.
        bool openLeft = UpperView && (UpperView->RunFlags & rfOpenLeft);
        int x2 = x;
        for (;;) {
            x2 = x;
            if (openLeft || x2 + wd > wa.right) {
                x2 = UpperView ? r.left + 3 - wd : x - wd;
                if (openLeft && x2 < wa.left) {
                    openLeft = false;
                    continue;
                }
                view->RunFlags |= rfOpenLeft;
            }
            break;
        }
        x = std::max(x2, static_cast<int>(wa.left));
    } else {
        if (!UpperView && Alignment == paRight && x < wa.left) x += wd;
        if (x + wd > wa.right) x = (UpperView || Alignment != paLeft) ? wa.right - wd : x - wd;
        x = std::max(x, static_cast<int>(wa.left));
        auto covered = [&](int X, int Y) {
            if (!UpperView) return 0;
            HWND upper = HostHandle(UpperView);
            const RECT pr{X, Y, X + wd, Y + ht};
            int n = 0;
            for (TMbItemViewer* v : UpperView->ViewerList) {
                if (!v->Placed) continue;
                RECT e = v->EntryRect;
                if (upper) ::MapWindowPoints(upper, nullptr, reinterpret_cast<POINT*>(&e), 2);
                RECT both{};
                if (::IntersectRect(&both, &e, &pr) && ::EqualRect(&both, &e)) ++n;
            }
            return n;
        };
        auto overlaps = [&] {
            const RECT pr{x, y, x + wd, y + ht};
            RECT both{};
            return ::IntersectRect(&both, &pr, &r) != FALSE;
        };
        if (upperVertical) {
            const int alt = r.right;
            if (alt + wd <= wa.right && (covered(alt, y) < covered(x, y) || overlaps())) x = alt;
            if (overlaps()) {
                int y2 = r.bottom;
                if (y2 + ht > wa.bottom) y2 = r.top - ht;
                y = std::max(y2, static_cast<int>(wa.top));
            }
        } else {
            const int alt = r.top - ht;
            if (alt >= wa.top && (covered(x, alt) < covered(x, y) || overlaps())) y = alt;
            if (overlaps()) {
                int x2 = r.right;
                if (x2 + wd > wa.right) x2 = r.left - wd;
                x = std::max(x2, static_cast<int>(wa.left));
            }
        }
    }

    // The direction a slide takes.
    uint8_t dir = 0;
    if (PositionAsSubmenu) {
        dir = (x + wd / 2 >= r.left + (r.right - r.left) / 2) ? 0x02 : 0x01;
    } else {
        if (y >= r.bottom) dir |= 0x04;
        else if (y + ht <= r.top) dir |= 0x08;
        if (x >= r.right) dir |= 0x02;
        else if (x + wd <= r.left) dir |= 0x01;
    }
    W->AnimDirection = dir;
    ::SetWindowPos(W->GetHandle(), HWND_TOPMOST, x, y, wd, ht, SWP_NOACTIVATE | SWP_NOOWNERZORDER);
}

// Shows the placed popup, with the "MenuPopup" sound when one is set.
void ShowPlacedPopup(TMbPopupWindow* W)
{
    W->GetView()->RunFlags |= rfPaintAll;
    if (SoundConfigured(L"MenuPopup")) {
        if (!gMenuPopupSoundPlayed) {
            W->SetVisible(true);
            ::UpdateWindow(W->GetHandle());
            PlayEventSound(L"MenuPopup");
            gMenuPopupSoundPlayed = true;
        } else {
            PlayEventSound(L"MenuPopup");
            W->SetVisible(true);
        }
    } else {
        W->SetVisible(true);
    }
    MbNotifyAccEvent(EVENT_SYSTEM_MENUPOPUPSTART, W->GetHandle(), OBJID_CLIENT, CHILDID_SELF);
    W->GetView()->NotifyAccFocus();
}

}  // namespace

void TMbPopupWindow::ShowAt(POINT Screen)
{
    PlacePopup(this, nullptr, nullptr, false, false, Screen, paLeft, nullptr);
    ShowPlacedPopup(this);
    ::UpdateWindow(wnd_);
}

TMbPopupWindow* TMbCustomItem::OpenPopupWindow(TMbView* UpperView, TMbItemViewer* UpperViewer,
                                                bool PositionAsSubmenu, bool SelectFirst, bool Customizing,
                                                POINT PopupPoint, TPopupAlignment Alignment)
{
    if (LinkedItem() != this) LinkedItem()->NotifyPopup(this, true);
    NotifyPopup(this, false);
    // A popup handler may have taken the opening entry away.
    if (UpperView && (UpperView->IndexOfViewer(UpperViewer) < 0 || UpperViewer->EntryItem != this)) return nullptr;
    TMbView* chevron = ChevronSourceView();
    TMbCustomItem* shown = chevron && chevron->SourceItem ? chevron->SourceItem : this;
    std::unique_ptr<TMbPopupWindow> window = PopupWindowClass()(UpperView, shown, Customizing);
    if (!window) throw EMbItemError(L"The popup window class made no window");
    TMbView* view = window->GetView();
    if (chevron) {
        chevron->FreeNotification(view);
        view->ChevronHost = chevron;
        view->IsToolbarView = true;
        view->IsPopupView = false;
        view->ViewStyle |= chevron->ViewStyle & vsMenuHints;
    }
    PlacePopup(window.get(), UpperView, UpperViewer, PositionAsSubmenu, SelectFirst, PopupPoint, Alignment, chevron);
    TMbPopupWindow* result = window.get();
    if (UpperView) {
        UpperView->OpenSubWindow = std::move(window);
        UpperView->OpenSubView = view;
        UpperView->OpenSubViewer = UpperViewer;
        if (UpperView->IsToolbarView) {
            UpperView->RunFlags |= rfMenuOpen;
            UpperView->InvalidateViewer(UpperViewer);
            if (HWND upper = HostHandle(UpperView)) ::UpdateWindow(upper);
        }
        ShowPlacedPopup(result);
    } else {
        ShowPlacedPopup(result);
        window.release();
    }
    return result;
}

TMbCustomItem* TMbCustomItem::RunPopup(bool SelectFirst, bool TrackRightButton, POINT Point, TPopupAlignment Alignment,
                                      bool ReturnClickedItemOnly)
{
    TMbMenuOutcome outcome;
    {
        TMbModalHandler handler(nullptr);
        std::unique_ptr<TMbPopupWindow> window(
            OpenPopupWindow(nullptr, nullptr, false, SelectFirst, false, Point, Alignment));
        TMbView* view = window->GetView();
        view->RunFlags |= rfIgnoreRelease;
        handler.StandalonePopup = window.get();
        struct TFinally {
            TMbModalHandler& Handler;
            TMbView* View;
            ~TFinally()
            {
                Handler.StandalonePopup = nullptr;
                View->RunFlags &= static_cast<uint8_t>(~rfInLoop);
            }
        } finally{handler, view};
        handler.RunLoop(view, false, false, false, TrackRightButton);
        outcome = view->Outcome;
    }
    return CarryOutOutcome(outcome, ReturnClickedItemOnly);
}

TMbCustomItem* TMbView::EnterModalLoop(uint8_t Options)
{
    if (RunFlags & rfInLoop) return nullptr;
    {
        TMbModalHandler handler(HostHandle(this));
        RunFlags = static_cast<uint8_t>((RunFlags & rfAccelsShown) | rfInLoop);
        Outcome.Kind = moNone;
        NotifyAccFocus();
        struct TFinally {
            TMbView* View;
            ~TFinally()
            {
                View->RunFlags &= static_cast<uint8_t>(~rfInLoop);
                View->DisarmAllTimers();
                View->CloseOpenPopup();
                View->TrackPointer(POINT{static_cast<LONG>(0x80000000), 0}, true);
            }
        } finally{this};
        handler.RunLoop(this, Options & mlStartedByMouseDown, Options & mlExecuteSelection,
                        Options & mlWithoutPriority, false);
    }
    ShowAccelerators(false);
    return CarryOutOutcome(Outcome, false);
}

}  // namespace toolbar
