#include "classlib/ExtCtrls.h"

#include "classlib/Icon.h"
#include "classlib/Metafile.h"

namespace classlib {

TImage::TImage(TComponent* Owner) : TGraphicControl(Owner), picture_(std::make_unique<TPicture>())
{
    picture_->OnChange = TNotifyEvent(this, &TImage::PictureChanged);
    UpdateBoundsFields(0, 0, 105, 105);
}

TImage::~TImage() { picture_->OnChange.Clear(); }

TCanvas* TImage::GetCanvas()
{
    if (!picture_->GetGraphic()) {
        TBitmap fresh;
        fresh.SetSize(GetWidth(), GetHeight());
        picture_->SetGraphic(&fresh);
    }
    auto* bitmap = dynamic_cast<TBitmap*>(picture_->GetGraphic());
    if (!bitmap) throw EInvalidOperation(L"Can only modify an image if it contains a bitmap");
    return bitmap->GetCanvas();
}

void TImage::SetStretch(bool Value)
{
    if (Value == stretch_) return;
    stretch_ = Value;
    PictureChanged(this);
}

void TImage::SetCenter(bool Value)
{
    if (Value == center_) return;
    center_ = Value;
    PictureChanged(this);
}

void TImage::SetProportional(bool Value)
{
    if (Value == proportional_) return;
    proportional_ = Value;
    PictureChanged(this);
}

void TImage::SetTransparent(bool Value)
{
    if (Value == transparent_) return;
    transparent_ = Value;
    PictureChanged(this);
}

void TImage::SetAutoSize(bool Value)
{
    if (Value == autoSize_) return;
    autoSize_ = Value;
    if (Value) PictureChanged(this);
}

RECT TImage::DestRect() const
{
    int w = picture_->GetWidth();
    int h = picture_->GetHeight();
    int cw = GetClientWidth();
    int ch = GetClientHeight();
    if (stretch_ || (proportional_ && (w > cw || h > ch))) {
        if (proportional_ && w > 0 && h > 0) {
            double aspect = static_cast<double>(w) / h;
            if (w > h) {
                w = cw;
                h = static_cast<int>(cw / aspect);
                if (h > ch) {
                    h = ch;
                    w = static_cast<int>(ch * aspect);
                }
            } else {
                h = ch;
                w = static_cast<int>(ch * aspect);
                if (w > cw) {
                    w = cw;
                    h = static_cast<int>(cw / aspect);
                }
            }
        } else {
            w = cw;
            h = ch;
        }
    }
    RECT r{0, 0, w, h};
    if (center_) ::OffsetRect(&r, (cw - w) / 2, (ch - h) / 2);
    return r;
}

void TImage::Paint()
{
    TGraphic* graphic = picture_->GetGraphic();
    if (!graphic || graphic->GetEmpty()) return;
    // Drawing may touch the graphic (palette, DIB/DDB form) and fire its
    // change event; that must not invalidate the control again.
    bool saved = drawing_;
    drawing_ = true;
    try {
        TGraphicControl::GetCanvas()->StretchDraw(DestRect(), graphic);
    } catch (...) {
        drawing_ = saved;
        throw;
    }
    drawing_ = saved;
}

void TImage::PictureChanged(TObject*)
{
    if (autoSize_ && picture_->GetWidth() > 0 && picture_->GetHeight() > 0)
        SetBounds(GetLeft(), GetTop(), picture_->GetWidth(), picture_->GetHeight());
    if (TGraphic* g = picture_->GetGraphic()) {
        if (!dynamic_cast<TMetafile*>(g) && !dynamic_cast<TIcon*>(g)) g->SetTransparent(transparent_);
        RECT d = DestRect();
        if (!g->GetTransparent() && d.left <= 0 && d.top <= 0 && d.right >= GetWidth() && d.bottom >= GetHeight())
            ControlStyle |= csOpaque;
        else
            ControlStyle &= ~csOpaque;
    } else {
        ControlStyle &= ~csOpaque;
    }
    if (!drawing_) Invalidate();
}

}  // namespace classlib
