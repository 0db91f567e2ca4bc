#include "imaging/views/view/PxView.h"

#include <commctrl.h>

#include <algorithm>

#include "imaging/model/PxStreamUtils.h"

namespace imaging {

TPxView::TPxView(classlib::TComponent* Owner) : classlib::TCustomControl(Owner)
{
    ControlStyle |= classlib::csOpaque | classlib::csAcceptsControls;
}

TPxView::~TPxView()
{
    // Every registration left is told once that the view goes, then freed.
    while (!changeList_.empty()) {
        TRegistration* entry = changeList_.front();
        changeList_.erase(changeList_.begin());
        std::unique_ptr<TRegistration> hold(entry);
        if (entry->Handler)
            entry->Handler(this, true);
    }
}

void TPxView::SetBorderStyle(TBorderStyle Value)
{
    if (Value == borderStyle_)
        return;
    borderStyle_ = Value;
    RecreateWnd();
}

void TPxView::SetCtl3D(bool Value)
{
    if (Value == ctl3D_)
        return;
    ctl3D_ = Value;
    RecreateWnd();
}

void TPxView::SetBackground(classlib::TColor Value) { background_ = Value; }

void TPxView::SetDpiX(int Value)
{
    if (Value != 0)
        dpiX_ = Value;
}

void TPxView::SetDpiY(int Value)
{
    if (Value != 0)
        dpiY_ = Value;
}

void TPxView::SetDpi(int X, int Y)
{
    SetDpiX(X);
    SetDpiY(Y);
}

void TPxView::NotifyBitmapChange()
{
    // By index: a handler may remove its own registration while it runs.
    for (size_t i = 0; i < changeList_.size(); ++i) {
        TRegistration* entry = changeList_[i];
        if (entry && entry->Handler)
            entry->Handler(this, false);
    }
}

intptr_t TPxView::RegisterBitmapChangeEvent(const TPxBitmapChangeEvent& Handler, classlib::TObject* Owner)
{
    auto entry = std::make_unique<TRegistration>();
    entry->Handler = Handler;
    entry->Owner = Owner;
    changeList_.push_back(entry.get());
    return reinterpret_cast<intptr_t>(entry.release());
}

void TPxView::RemoveBitmapChangeEvent(intptr_t Handle)
{
    if (Handle < 0)
        return;
    auto it = std::find(changeList_.begin(), changeList_.end(), reinterpret_cast<TRegistration*>(Handle));
    if (it == changeList_.end())
        return;
    std::unique_ptr<TRegistration> hold(*it);
    changeList_.erase(it);
}

void TPxView::CreateParams(classlib::TCreateParams& Params)
{
    classlib::TCustomControl::CreateParams(Params);
    if (borderStyle_ == bsSingle) {
        if (ctl3D_)
            Params.ExStyle |= WS_EX_CLIENTEDGE;
        else
            Params.Style |= WS_BORDER;
    }
    Params.WindowClassStyle &= ~static_cast<UINT>(CS_HREDRAW | CS_VREDRAW);
}

void PxSetFlatScrollBars(HWND Window, bool Flat)
{
    if (!Flat) {
        UninitializeFlatSB(Window);
        return;
    }
    SetScrollRange(Window, SB_HORZ, 0, 65535, FALSE);
    SetScrollRange(Window, SB_VERT, 0, 65535, FALSE);
    InitializeFlatSB(Window);
    PxShowScrollBar(Window, SB_HORZ, false, true);
    PxShowScrollBar(Window, SB_VERT, false, true);
}

}  // namespace imaging
