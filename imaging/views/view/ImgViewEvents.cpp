// Events, cursors and the navigator link of TImgView, and the start-up and
// shut-down of the view unit's shared values.
//
// Threads: main thread only (workers reach the view through messages).
#include <windows.h>

#include <algorithm>

#include "classlib/Graphics.h"
#include "classlib/ScopeGuard.h"
#include "classlib/SysUtils.h"
#include "imaging/io/core/ImgIOPreviews.h"
#include "imaging/io/core/ImgIOView.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/views/view/ImgView.h"
#include "imaging/views/dialogs/PxIOPreviews.h"
#include "imaging/views/view/PxTransitions.h"
#include "imaging/views/vector/ImgVect.h"

namespace imaging {

namespace {

// Resource names of cursors 1778..1814, in id order. Some entries repeat
// and some ids have no resource of their own; the table is kept as is so
// that ids stay stable.
const wchar_t* const kCursorNames[TImgView::CursorCount] = {
    L"ZOOMMENO", L"ZOOMPIU", L"CROCE",   L"GOMMA",   L"MANO",    L"PENNA",   L"CROCE1",  L"CROCE3",
    L"MOVE2",    L"MOVEY",   L"MOVE1",   L"MOVEX",   L"MOVE",    L"CROCE3+", L"CROCE3-", L"CROCE2",
    L"CROCE2+",  L"CROCE2-", L"CROCE2-", L"1795",    L"1796",    L"1797",    L"1798",    L"1799",
    L"1800",     L"1801",    L"1802",    L"1803",    L"1803",    L"1805",    L"1806",    L"1807",
    L"1808",     L"ROT1",    L"ROT2",    L"ROT3",    L"ROT4"};

// The shift state of a keyboard message: Shift and Ctrl as held now, Alt
// from bit 29 of the key data.
classlib::TShiftState KeyDataToShift(LPARAM KeyData)
{
    classlib::TShiftState s = 0;
    if (GetKeyState(VK_SHIFT) < 0)
        s |= classlib::ssShift;
    if (GetKeyState(VK_CONTROL) < 0)
        s |= classlib::ssCtrl;
    if (KeyData & 0x20000000)
        s |= classlib::ssAlt;
    return s;
}

// Swaps SelectionBase around a handler call, also when it raises.
class TSwapScope {
public:
    explicit TSwapScope(TImgView* View) : view_(View) { view_->SwapSelectionBase(); }
    ~TSwapScope() { view_->SwapSelectionBase(); }
    TSwapScope(const TSwapScope&) = delete;
    TSwapScope& operator=(const TSwapScope&) = delete;

private:
    TImgView* view_;
};

}  // namespace

// ---- unit-wide values

TImgView::TImgViewGlobals& TImgView::Globals()
{
    static TImgViewGlobals globals;
    return globals;
}

void TImgView::ImgViewInitGlobals()
{
    TImgViewGlobals& g = Globals();
    if (HDC dc = GetDC(nullptr)) {
        g.ScreenBits = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES);
        ReleaseDC(nullptr, dc);
    }
    g.RemoteSession = PxIsRemoteSession();
    if (HDC dc = GetDC(nullptr)) {
        g.ScreenDpiX = GetDeviceCaps(dc, LOGPIXELSX);
        g.ScreenDpiY = GetDeviceCaps(dc, LOGPIXELSY);
        ReleaseDC(nullptr, dc);
    }
    g.DefaultDpiX = 300;
    g.DefaultDpiY = 300;
    g.HasMMX = PxHasMMX();
    g.EdgeX = GetSystemMetrics(SM_CXEDGE);
    g.EdgeY = GetSystemMetrics(SM_CYEDGE);
    g.BorderX = GetSystemMetrics(SM_CXBORDER);
    g.BorderY = GetSystemMetrics(SM_CYBORDER);
    g.HScrollHeight = GetSystemMetrics(SM_CYHSCROLL);
    g.VScrollWidth = GetSystemMetrics(SM_CXVSCROLL);
    g.MsImg32 = nullptr;
    g.GradientFill = nullptr;
    g.PixelGridZoom = 400;
    g.XorPen = std::make_unique<classlib::TPen>();
    g.XorPen->SetMode(classlib::pmNot);
    g.XorPen->SetStyle(classlib::psSolid);
    g.XorPen->SetWidth(1);
}

void TImgView::ImgViewStartup()
{
    ImgViewInitGlobals();
    // The parameters-preview form becomes the dialog of the I/O objects'
    // DoPreviews (the I/O layer cannot name it itself).
    PxInstallIOPreviewsForm();
    // Layer and vector-object files load flat through the vector view.
    PxInstallViewDataRenderer();
}

void TImgView::ImgViewShutdown()
{
    PxSetIOPreviewsFactory(nullptr);
    PxSetViewDataRenderer(nullptr);
    TImgViewGlobals& g = Globals();
    g.XorPen.reset();
    if (g.MsImg32) {
        FreeLibrary(g.MsImg32);  // a failure changes nothing at shut-down
        g.MsImg32 = nullptr;
        g.GradientFill = nullptr;
    }
}

std::wstring TImgView::CursorResourceName(classlib::TCursor Id)
{
    if (Id < FirstCursorId || Id >= FirstCursorId + CursorCount)
        return {};
    return kCursorNames[Id - FirstCursorId];
}

void TImgView::ImgViewLoadCursors()
{
    HINSTANCE self = GetModuleHandleW(nullptr);
    for (int i = 0; i < CursorCount; ++i) {
        // A missing resource gives nullptr, which removes any cursor held
        // under the id; the default cursor then shows for it.
        HCURSOR h = LoadCursorW(self, kCursorNames[i]);
        classlib::SetCursorHandle(FirstCursorId + i, h);
    }
}

// ---- event firing

void TImgView::SwapSelectionBase() { std::swap(SelectionBase, storedSelectionBase_); }

void TImgView::DoSelectionChanging()
{
    TSwapScope swap(this);
    if (OnSelectionChanging)
        OnSelectionChanging(this);
}

void TImgView::DoBeforeSelectionChange()
{
    TSwapScope swap(this);
    if (OnBeforeSelectionChange)
        OnBeforeSelectionChange(this);
}

void TImgView::DoMouseInResizingGrip(int Grip)
{
    TSwapScope swap(this);
    if (OnMouseInResizingGrip)
        OnMouseInResizingGrip(this, Grip);
}

void TImgView::DoMouseInSel()
{
    TSwapScope swap(this);
    if (OnMouseInSel)
        OnMouseInSel(this);
}

void TImgView::DoLayerNotify(int Layer, TPxLayerEvent Event)
{
    TSwapScope swap(this);
    if (OnLayerNotify)
        OnLayerNotify(this, Layer, Event);
}

void TImgView::DoSelectionChange()
{
    if (OnSelectionChange)
        OnSelectionChange(this);
}

void TImgView::DoZoomInSwapped(double& NewZoom)
{
    TSwapScope swap(this);
    DoZoomIn(NewZoom);
}

void TImgView::DoZoomOutSwapped(double& NewZoom)
{
    TSwapScope swap(this);
    DoZoomOut(NewZoom);
}

// ---- transitions

void TImgView::FreeTransitions(TPxTransitionEffects* Transitions) { delete Transitions; }

TPxTransitionEffects* TImgView::CreateTransitions()
{
    if (!transitions_)
        transitions_.reset(new TPxTransitionEffects(this));
    return transitions_.get();
}

void TImgView::SetOnTransitionStop(const classlib::TNotifyEvent& Handler)
{
    CreateTransitions()->OnTransitionStop = Handler;
}

void TImgView::SetOnTransitionStep(const TTransitionStepEvent& Handler)
{
    CreateTransitions()->OnTransitionStep = Handler;
}

void TImgView::SetOnTransitionPaint(const TTransitionPaintEvent& Handler)
{
    CreateTransitions()->SetOnTransitionPaint(Handler);
}

classlib::TNotifyEvent TImgView::GetOnTransitionStop() const
{
    return transitions_ ? transitions_->OnTransitionStop : classlib::TNotifyEvent();
}

TImgView::TTransitionStepEvent TImgView::GetOnTransitionStep() const
{
    return transitions_ ? transitions_->OnTransitionStep : TTransitionStepEvent();
}

TImgView::TTransitionPaintEvent TImgView::GetOnTransitionPaint() const
{
    return transitions_ ? transitions_->OnTransitionPaint : TTransitionPaintEvent();
}

// ---- polygon selection end, double click, special keys

void TImgView::FinishPolygonSelection(bool ShiftHeld, bool DropLast)
{
    if (DropLast) {
        std::vector<POINT>& pts = outline_.Points;
        if (!pts.empty())
            pts.pop_back();
        while (!pts.empty() && PxIsSeparator(pts.back()))
            pts.pop_back();
    }
    if (!(ShiftHeld && ShiftAddsSelection))
        SyncSelectionMask()->Clear();
    SelectFromPolygon();
    updateReason_ = 3;
    Update();
    PolySelecting = false;
    DoSelectionChange();
}

void TImgView::WMLButtonDblClk(classlib::TMessage& Message)
{
    TPxView::WndProc(Message);
    if (PolySelecting && !LassoSelecting)
        FinishPolygonSelection((Message.WParam & MK_SHIFT) != 0, true);
}

void TImgView::CMWantSpecialKey(classlib::TMessage& Message)
{
    TPxView::WndProc(Message);
    if (!OnSpecialKey)
        return;
    bool handled = false;
    OnSpecialKey(this, static_cast<WORD>(Message.WParam), KeyDataToShift(Message.LParam), handled);
    if (handled)
        Message.Result = 1;
}

// ---- keyboard cursor switch

void TImgView::ApplyShiftCursor(bool KeyDown, classlib::TShiftState Shift)
{
    if (!ShiftAddsSelection)
        return;
    const bool shift = (Shift & classlib::ssShift) != 0;
    if (KeyDown && shift) {
        const classlib::TCursor c = classlib::TControl::GetCursor();
        if (c == 1785)
            SetTempCursor(1791);
        else if (c == 1793)
            SetTempCursor(1794);
    } else if (!KeyDown && !shift) {
        RestoreCursor();
    }
}

// ---- navigator

void TImgView::SetNavigator(TImgView* View, uint8_t Options)
{
    if (navigator_) {
        TImgView* old = navigator_;
        navigator_ = nullptr;
        RemoveFreeNotification(old);
        old->DetachAsNavigator();
    }
    if (!View || View == this)
        return;
    // A view serves one main view at a time.
    if (View->navigatorOf_ && View->navigatorOf_ != this)
        View->navigatorOf_->SetNavigator(nullptr, 0);
    navigator_ = View;
    View->navigatorOf_ = this;
    View->isNavigator_ = true;
    View->SetEnableAlphaChannel(GetEnableAlphaChannel());
    View->AutoFit = true;
    View->SetMouseInteract(miSelect);
    View->SelectionBase = pxsbBitmap;
    View->SetSelectionOptions(pxsoMoveable | pxsoCanScroll);
    View->SetExternalBitmap(GetPxBitmap());
    View->OnSelectionChanging = classlib::TNotifyEvent(this, &TImgView::NavigatorSelectionChanging);
    View->navigatorOptions_ = Options;
    if (Options & 1)
        View->OnNavigatorWheel = TPxNavigatorWheelEvent(this, &TImgView::NavigatorMouseWheel);
    FreeNotification(View);
    UpdateNavigator();
}

void TImgView::UpdateNavigator()
{
    if (inNavigatorUpdate_ || GetPaintLockCount() > 0 || !navigator_)
        return;
    classlib::TValueScope<bool> busy(inNavigatorUpdate_, true);
    Paint();
    const int x1 = ScreenToBitmapX(GetOffsetX());
    const int y1 = ScreenToBitmapY(GetOffsetY());
    const int x2 = ScreenToBitmapX(GetOffsetX() + GetExtentX());
    const int y2 = ScreenToBitmapY(GetOffsetY() + GetExtentY());
    navigator_->SelectionFixedWidth = x2 - x1;
    navigator_->SelectionFixedHeight = y2 - y1;
    navigator_->SetSelectionAspect(0);
    navigator_->SelectRect(x1, y1, x2, y2, 0);
}

void TImgView::NavigatorSelectionChanging(classlib::TObject* /*Sender*/)
{
    if (inNavigatorUpdate_ || !navigator_)
        return;
    classlib::TValueScope<bool> busy(inNavigatorUpdate_, true);
    const int x = static_cast<int>(classlib::Round(navigator_->GetSelX1() * GetZoomX() / 100.0));
    const int y = static_cast<int>(classlib::Round(navigator_->GetSelY1() * GetZoomY() / 100.0));
    SetViewXY(x, y);
}

void TImgView::NavigatorMouseWheel(classlib::TObject* /*Sender*/, classlib::TShiftState /*Shift*/, int WheelDelta,
                                   POINT MousePos, bool& Handled)
{
    if (!navigator_)
        return;
    const TPxMouseWheelParams& p = navigator_->WheelParams;
    int d = WheelDelta <= 0 ? 1 : -1;
    if (p.InverseDirection)
        d = -d;
    const double zoom = GetZoomX();
    double z = zoom;
    if (p.Variation == 0)
        z = zoom + d * static_cast<double>(p.Value);
    else if (p.Variation == 1)
        z = zoom + d * static_cast<double>(std::max<int64_t>(classlib::Round(p.Value * zoom / 100.0), 1));
    if (z > zoom)
        DoZoomInSwapped(z);
    else if (z < zoom)
        DoZoomOutSwapped(z);
    if (p.ZoomPosition)
        ZoomAt(MousePos.x, MousePos.y, z, false);
    else
        SetZoom(z);
    Handled = true;
}

void TImgView::SetSelectionAspect(double Value)
{
    if (Value == SelectionAspect)
        return;
    SelectionAspect = Value;
    TPxSelectionOptions o = GetSelectionOptions();
    if (Value != 0)
        o |= pxsoSizeable;
    else
        o &= static_cast<TPxSelectionOptions>(~pxsoSizeable);
    SetSelectionOptions(o);
}

void TImgView::DetachAsNavigator()
{
    OnSelectionChanging = nullptr;
    OnNavigatorWheel = nullptr;
    navigatorOf_ = nullptr;
    isNavigator_ = false;
    SetExternalBitmap(nullptr);
}

void TImgView::Notification(classlib::TComponent* Component, classlib::TOperation Operation)
{
    TPxView::Notification(Component, Operation);
    if (Operation != classlib::opRemove || Component == nullptr)
        return;
    if (Component == navigator_)
        navigator_ = nullptr;
    // The main view goes away: its image and its handlers go with it, so
    // this navigator must not keep pointers to them.
    if (Component == navigatorOf_)
        DetachAsNavigator();
}

}  // namespace imaging
