#include "classlib/Buttons.h"

#include <vector>

namespace classlib {

TSpeedButton::TSpeedButton(TComponent* AOwner) : TGraphicControl(AOwner), glyph_(std::make_unique<TBitmap>())
{
    ControlStyle |= csOpaque;
    glyph_->SetTransparent(true);
    glyph_->OnChange = TNotifyEvent(this, &TSpeedButton::GlyphChanged);
    SetBounds(0, 0, 23, 22);
}

TSpeedButton::~TSpeedButton() { glyph_->OnChange.Clear(); }

void TSpeedButton::GlyphChanged(TObject*)
{
    // A glyph assigned from a bitmap that was not transparent becomes so.
    if (!glyph_->GetTransparent()) glyph_->SetTransparent(true);
    disabledGlyph_.reset();
    Invalidate();
}

void TSpeedButton::SetCaption(const std::wstring& Value)
{
    if (Value == caption_) return;
    caption_ = Value;
    Invalidate();
}

void TSpeedButton::SetGroupIndex(int Value)
{
    if (Value == groupIndex_) return;
    groupIndex_ = Value;
    if (groupIndex_ == 0)
        down_ = false;
    else if (down_)
        UpdateGroup(false);
    Invalidate();
}

void TSpeedButton::SetDown(bool Value)
{
    if (groupIndex_ == 0) Value = false;
    if (Value == down_) return;
    if (down_ && !allowAllUp_) return;
    down_ = Value;
    if (down_) UpdateGroup(false);
    Invalidate();
}

void TSpeedButton::SetAllowAllUp(bool Value)
{
    if (Value == allowAllUp_) return;
    allowAllUp_ = Value;
    UpdateGroup(true);
}

void TSpeedButton::SetFlat(bool Value)
{
    if (Value == flat_) return;
    flat_ = Value;
    Invalidate();
}

void TSpeedButton::UpdateGroup(bool ShareAllowAllUp)
{
    TWinControl* parent = GetParent();
    if (!parent || groupIndex_ == 0) return;
    for (int i = 0; i < parent->GetControlCount(); ++i) {
        auto* other = dynamic_cast<TSpeedButton*>(parent->GetControl(i));
        if (!other || other == this || other->groupIndex_ != groupIndex_) continue;
        if (ShareAllowAllUp) {
            other->allowAllUp_ = allowAllUp_;
        } else if (other->down_) {
            other->down_ = false;
            other->Invalidate();
        }
    }
}

void TSpeedButton::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    if (Button == mbLeft && GetEnabled()) {
        pressed_ = true;
        Invalidate();
    }
    TGraphicControl::MouseDown(Button, Shift, X, Y);
}

void TSpeedButton::Click()
{
    if (pressed_) {
        pressed_ = false;
        if (groupIndex_ != 0) {
            if (!down_)
                SetDown(true);
            else if (allowAllUp_)
                SetDown(false);
        }
        Invalidate();
    }
    TGraphicControl::Click();
}

void TSpeedButton::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    if (Button == mbLeft && pressed_) {
        // Released outside: no click, the button comes back up.
        pressed_ = false;
        Invalidate();
    }
    TGraphicControl::MouseUp(Button, Shift, X, Y);
}

void TSpeedButton::Dispatch(TMessage& Message)
{
    if (Message.Msg == CM_MOUSEENTER || Message.Msg == CM_MOUSELEAVE) {
        mouseOver_ = Message.Msg == CM_MOUSEENTER;
        if (flat_) Invalidate();
    }
    TGraphicControl::Dispatch(Message);
}

TBitmap* TSpeedButton::DisabledGlyph()
{
    if (disabledGlyph_ || glyph_->GetEmpty()) return disabledGlyph_.get();
    // The glyph's dark pixels (not the transparent colour, darker than a
    // light grey) etched into the face: a highlight one pixel down and right,
    // the shadow over it. Light pixels vanish, as they do on a disabled
    // system bitmap. The key colour stays out of both system colours' way.
    const int w = glyph_->GetWidth(), h = glyph_->GetHeight();
    const TColor transparent = ColorToRGB(glyph_->GetTransparentColor());
    const TColor highlight = ColorToRGB(clBtnHighlight), shadow = ColorToRGB(clBtnShadow);
    TColor key = static_cast<TColor>(RGB(255, 0, 255));
    if (key == highlight || key == shadow) key = static_cast<TColor>(RGB(0, 255, 0));
    auto out = std::make_unique<TBitmap>();
    out->SetPixelFormat(pf24bit);
    out->SetSize(w + 1, h + 1);
    TCanvas* oc = out->GetCanvas();
    oc->GetBrush()->SetColor(key);
    oc->FillRect(RECT{0, 0, w + 1, h + 1});
    TCanvas* gc = glyph_->GetCanvas();
    std::vector<bool> ink(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            TColor c = gc->GetPixel(x, y);
            int luma = (GetRValue(c) * 299 + GetGValue(c) * 587 + GetBValue(c) * 114) / 1000;
            ink[static_cast<size_t>(y) * w + x] = c != transparent && luma < 0xC0;
        }
    for (int pass = 0; pass < 2; ++pass)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (ink[static_cast<size_t>(y) * w + x])
                    oc->SetPixel(x + 1 - pass, y + 1 - pass, pass == 0 ? highlight : shadow);
    out->SetTransparentColor(key);
    out->SetTransparent(true);
    disabledGlyph_ = std::move(out);
    return disabledGlyph_.get();
}

void TSpeedButton::Paint()
{
    TCanvas* canvas = GetCanvas();
    RECT r = GetClientRect();
    canvas->GetBrush()->SetColor(GetColor());
    canvas->GetBrush()->SetStyle(bsSolid);
    canvas->FillRect(r);
    HDC dc = canvas->GetHandle();
    bool drawnDown = down_ || pressed_;
    if (drawnDown)
        ::DrawEdge(dc, &r, flat_ ? BDR_SUNKENOUTER : EDGE_SUNKEN, BF_RECT);
    else if (!flat_)
        ::DrawEdge(dc, &r, EDGE_RAISED, BF_RECT);
    else if (mouseOver_ && GetEnabled())
        ::DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
    int offset = drawnDown ? 1 : 0;

    // Glyph and caption side by side, centred together.
    const int spacing = 4;
    int gw = glyph_->GetEmpty() ? 0 : glyph_->GetWidth();
    int gh = glyph_->GetEmpty() ? 0 : glyph_->GetHeight();
    // Text goes through the system's calls with the font selected only for
    // them, so the canvas's own selection is back before it draws again.
    SIZE ts{0, 0};
    if (!caption_.empty()) {
        TSelectObjectScope font(dc, GetFont()->GetHandle());
        ::GetTextExtentPoint32W(dc, caption_.c_str(), static_cast<int>(caption_.size()), &ts);
    }
    int total = gw + ts.cx + (gw && ts.cx ? spacing : 0);
    int x = (r.right - r.left - total) / 2 + offset;
    if (gw) {
        canvas->Draw(x, (r.bottom - r.top - gh) / 2 + offset, GetEnabled() ? glyph_.get() : DisabledGlyph());
        x += gw + (ts.cx ? spacing : 0);
    }
    if (!caption_.empty()) {
        dc = canvas->GetHandle();
        TSelectObjectScope captionFont(dc, GetFont()->GetHandle());
        int oldMode = ::SetBkMode(dc, TRANSPARENT);
        TColor textColor = GetEnabled() ? GetFont()->GetColor() : clGrayText;
        COLORREF oldColor = ::SetTextColor(dc, static_cast<COLORREF>(ColorToRGB(textColor)));
        ::TextOutW(dc, x, (r.bottom - r.top - ts.cy) / 2 + offset, caption_.c_str(), static_cast<int>(caption_.size()));
        ::SetTextColor(dc, oldColor);
        ::SetBkMode(dc, oldMode);
    }
}

}  // namespace classlib
