#include "controls/themed/TmStatus.h"

#include <uxtheme.h>
#include <vssym32.h>

#include <algorithm>

#include "classlib/Bitmap.h"
#include "classlib/WinHandles.h"
#include "controls/themed/TmPanel.h"

namespace themed {

using namespace classlib;

namespace {

TTmStatusBar* ParentStatusBar(const TControl* Control)
{
    return dynamic_cast<TTmStatusBar*>(Control->GetParent());
}

void Line(TCanvas* Canvas, int X1, int Y1, int X2, int Y2)
{
    Canvas->MoveTo(X1, Y1);
    Canvas->LineTo(X2, Y2);
}

}  // namespace

TTmCustomStatusPane::TTmCustomStatusPane(TComponent* AOwner)
    : TGraphicControl(AOwner),
      TTmFramedControl(*this, TTmFrameValues{.BorderOuter = fsFlat, .BorderWidth = 1, .Transparent = true})
{
    ControlStyle &= ~csOpaque;
    SetColor(clWindow);
    fillColor_ = GetColor();
    normalColor_ = GetFont()->GetColor();
    drawingColor_ = normalColor_;
    SetBounds(0, 0, 100, 20);
    TmAcquireBlinkList()->AddControl(this);
}

TTmCustomStatusPane::~TTmCustomStatusPane()
{
    if (TmBlinkingControls) {
        TmBlinkingControls->RemoveControl(this);
        TmReleaseBlinkList();
    }
}

// ------------------------------------------------------------------ messages

void TTmCustomStatusPane::WndProc(TMessage& Message)
{
    switch (Message.Msg) {
    case CM_TMISBLINKING: Message.Result = blinking_ ? 1 : 0; return;
    case CM_TMBLINK:
        if (blinking_)
            Blink(Message.WParam != 0);
        Message.Result = 0;
        return;
    case CM_MOUSEENTER:
        if (GetComponentState() & csDesigning)
            return;
        break;
    default: break;
    }
    TGraphicControl::WndProc(Message);
}

void TTmCustomStatusPane::Blink(bool Show)
{
    if (Show) {
        blinkPhase_ = 0;
        drawingColor_ = blinkColor_;
    } else {
        blinkPhase_ = 1;
        drawingColor_ = normalColor_;
    }
    Repaint();
}

void TTmCustomStatusPane::FontChanged(TObject* Sender)
{
    TGraphicControl::FontChanged(Sender);
    if (GetComponentState() & csLoading)
        return;
    normalColor_ = GetFont()->GetColor();
    if (!blinking_)
        drawingColor_ = normalColor_;
    AdjustSize();
}

void TTmCustomStatusPane::Notification(TComponent* AComponent, TOperation Operation)
{
    TGraphicControl::Notification(AComponent, Operation);
    frame_.Notification(AComponent, Operation);
}

void TTmCustomStatusPane::Loaded()
{
    TGraphicControl::Loaded();
    if (!parentColor_)
        frame_.Stored().Transparent = false;  // the control style stays as it is
    normalColor_ = GetFont()->GetColor();
    drawingColor_ = normalColor_;
    AdjustSize();
}

void TTmCustomStatusPane::SetParent(TWinControl* Value)
{
    TGraphicControl::SetParent(Value);
    if (parentColor_ && Value)
        SetColor(Value->GetColor());
}

void TTmCustomStatusPane::SetParentColor(bool Value)
{
    if (Value == parentColor_) return;
    parentColor_ = Value;
    if (Value && GetParent())
        SetColor(GetParent()->GetColor());
}

// ------------------------------------------------------------------- sizing

void TTmCustomStatusPane::AdjustSize()
{
    if ((GetComponentState() & csReading) || !autoSize_)
        return;
    SetWidth(CalcAutoWidth());
}

int TTmCustomStatusPane::CalcAutoWidth()
{
    if (caption_.empty())
        return defaultWidth_;
    TCanvas canvas;
    TScreenDC screen;
    TCanvasDCScope scope(&canvas, screen.Get());
    canvas.SetFont(GetFont());
    RECT r{0, 0, GetWidth(), GetHeight()};
    TmDrawText(&canvas, caption_, r, DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS);
    return 2 * frame_.GetBorderWidth() + r.right + captionOffset_ + 6;
}

void TTmCustomStatusPane::GetInteriorRect(RECT& Rect)
{
    Rect = GetClientRect();
    int w = 0;
    switch (GetFrameStyle()) {
    case fsNone: w = 0; break;
    case fsFlat:
    case fsStatus:
    case fsPopup: w = 1; break;
    default: w = 2; break;
    }
    const int inset = frame_.GetBorderWidth() + w;
    ::InflateRect(&Rect, -inset, -inset);
}

// ------------------------------------------------------------------ painting

bool TTmCustomStatusPane::UseThemedStatus() const
{
    TTmStatusBar* bar = ParentStatusBar(this);
    return bar && bar->GetVisualStyle() == vsWinXP && TmThemesEnabled();
}

void TTmCustomStatusPane::Paint()
{
    DrawFrame();
    DrawCaption(caption_);
}

void TTmCustomStatusPane::DrawFrame()
{
    TCanvas* canvas = GetCanvas();
    TTmStatusBar* bar = ParentStatusBar(this);
    if (UseThemedStatus()) {
        TTmTheme theme(bar->HandleAllocated() ? bar->GetHandle() : nullptr, L"STATUS");
        RECT cr = GetClientRect();
        if (theme)
            ::DrawThemeBackground(theme.Get(), canvas->GetHandle(), SP_PANE, 0, &cr, nullptr);
        return;
    }
    RECT r{0, 0, GetWidth(), GetHeight()};
    if (!GetTransparent()) {
        canvas->GetBrush()->SetStyle(bsSolid);
        canvas->GetBrush()->SetColor(GetColor());
        canvas->FillRect(r);
    }
    canvas->GetPen()->SetWidth(1);
    ::InflateRect(&r, -frame_.GetBorderWidth(), -frame_.GetBorderWidth());
    if (bar && bar->GetVisualStyle() == vsGradient) {
        // The first pane draws nothing; the others a separator at the left.
        if (GetLeft() <= bar->GetBorderWidth())
            return;
        TColor frame, fill, line;
        TmGetThemedFrameColors(bar->GetGradientColorStyle(), frame, fill, line);
        canvas->GetPen()->SetColor(line);
        Line(canvas, r.left, r.top + 1, r.left, r.bottom - 1);
        return;
    }
    if (GetFrameStyle() == fsFlat) {
        canvas->GetPen()->SetColor(TmShiftColorLuminance(GetFlatColor(), GetFlatColorAdjustment()));
        Line(canvas, r.left, r.top + 1, r.left, r.bottom - 1);
        Line(canvas, r.left + 1, r.top, r.right - 1, r.top);
        Line(canvas, r.right - 1, r.top + 1, r.right - 1, r.bottom - 1);
        Line(canvas, r.left + 1, r.bottom - 1, r.right - 1, r.bottom - 1);
    } else {
        RECT dummy;
        TmPaintFrameStyle(canvas, r, GetFrameStyle(), dummy);
    }
}

void TTmCustomStatusPane::DrawCaption(const std::wstring& Text)
{
    TCanvas* canvas = GetCanvas();
    canvas->SetFont(GetFont());
    canvas->GetFont()->SetColor(GetEnabled() ? drawingColor_ : clGrayText);
    RECT r;
    GetInteriorRect(r);
    UINT align = TA_LEFT;
    int x = r.left + captionOffset_ + 1;
    if (alignment_ == taRightJustify) {
        align = TA_RIGHT;
        x = r.right - captionOffset_ - 1;
    } else if (alignment_ == taCenter) {
        align = TA_CENTER;
        x = r.left + (r.right - r.left) / 2;
    }
    const int y = r.top + (r.bottom - r.top - canvas->TextHeight(L"Pp")) / 2;
    TTmStatusBar* bar = ParentStatusBar(this);
    if (UseThemedStatus()) {
        TBitmap back;
        back.SetPixelFormat(pf24bit);
        back.SetSize(std::max(1, bar->GetWidth()), std::max(1, bar->GetHeight()));
        TTmTheme theme(bar->HandleAllocated() ? bar->GetHandle() : nullptr, L"STATUS");
        RECT all{0, 0, bar->GetWidth(), bar->GetHeight()};
        if (theme)
            ::DrawThemeBackground(theme.Get(), back.GetCanvas()->GetHandle(), 0, 0, &all, nullptr);
        RECT src = r;
        ::OffsetRect(&src, GetLeft(), GetTop());
        canvas->CopyRect(r, back.GetCanvas(), src);
        canvas->GetBrush()->SetStyle(bsClear);
    } else if (GetTransparent()) {
        canvas->GetBrush()->SetStyle(bsClear);
    } else {
        canvas->GetBrush()->SetStyle(bsSolid);
        canvas->GetBrush()->SetColor(GetFillColor());
    }
    {
        const classlib::TTextAlignScope alignment(canvas->GetHandle(), align);
        canvas->TextRect(r, x, y, Text);
    }
    canvas->GetBrush()->SetStyle(bsSolid);
}

bool TTmCustomStatusPane::OverlapsSizeGrip(const RECT& Rect)
{
    TTmStatusBar* bar = ParentStatusBar(this);
    if (!bar || !bar->GetShowSizeGrip())
        return false;
    const POINT paneRight = ClientToScreen(POINT{Rect.right, Rect.top});
    const RECT barClient = bar->GetClientRect();
    const POINT barRight = bar->ClientToScreen(POINT{barClient.right, barClient.top});
    return paneRight.x >= barRight.x;
}

void TTmCustomStatusPane::UpdateFrameController()
{
    if (!frame_.TakeControllerFrame(false))
        return;
    if (frame_.Follows(fcpColor))
        SetFillColor(GetFrameController()->GetColor());
    if (frame_.Follows(fcpParentColor))
        SetParentColor(GetFrameController()->GetParentColor());
    Invalidate();
}

// ------------------------------------------------------------------ setters

#define TM_SETTER(Name, Type, field) TM_REDRAW_SETTER(TTmCustomStatusPane, Name, Type, field, Invalidate)

TM_SETTER(Alignment, TAlignment, alignment_)
TM_SETTER(BlinkColor, TColor, blinkColor_)
#undef TM_SETTER

void TTmCustomStatusPane::SetAutoSize(bool Value)
{
    if (Value == autoSize_) return;
    autoSize_ = Value;
    AdjustSize();
}

void TTmCustomStatusPane::SetDefaultWidth(int Value)
{
    if (Value == defaultWidth_) return;
    defaultWidth_ = Value;
    AdjustSize();
}

void TTmCustomStatusPane::SetCaptionOffset(int Value)
{
    if (Value == captionOffset_) return;
    captionOffset_ = Value;
    Invalidate();
    AdjustSize();
}

void TTmCustomStatusPane::SetCaption(const std::wstring& Value)
{
    if (Value == caption_) return;
    caption_ = Value;
    Invalidate();
    AdjustSize();
}

void TTmCustomStatusPane::SetBlinking(bool Value)
{
    if (Value == blinking_) return;
    blinking_ = Value;
    if (!Value) {
        blinkPhase_ = 1;
        drawingColor_ = normalColor_;
        Repaint();
    }
}

uint16_t TTmCustomStatusPane::GetBlinkIntervalOff() const { return TmAcquireBlinkList()->GetIntervalOff(); }
void TTmCustomStatusPane::SetBlinkIntervalOff(uint16_t Value) { TmAcquireBlinkList()->SetIntervalOff(Value); }
uint16_t TTmCustomStatusPane::GetBlinkIntervalOn() const { return TmAcquireBlinkList()->GetIntervalOn(); }
void TTmCustomStatusPane::SetBlinkIntervalOn(uint16_t Value) { TmAcquireBlinkList()->SetIntervalOn(Value); }

void TTmCustomStatusPane::SetFillColor(TColor Value)
{
    if (Value == fillColor_ && !parentFillColor_) return;
    fillColor_ = Value;
    parentFillColor_ = false;
    Invalidate();
}

void TTmCustomStatusPane::SetParentFillColor(bool Value)
{
    if (Value == parentFillColor_) return;
    parentFillColor_ = Value;
    if (Value)
        fillColor_ = GetColor();
    Invalidate();
}

bool TTmCustomStatusPane::HasPublishedProperty(const std::wstring& Name) const
{
    return frame_.HasPublishedProperty(Name, true);
}

int64_t TTmCustomStatusPane::GetPublishedProperty(const std::wstring& Name) const
{
    return frame_.GetPublishedProperty(Name);
}

void TTmCustomStatusPane::SetPublishedProperty(const std::wstring& Name, int64_t Value)
{
    frame_.SetPublishedPropertyOf(*this, Name, Value);
}

}  // namespace themed
