#include "controls/themed/TmPrgres.h"

#include <uxtheme.h>
#include <vssym32.h>
#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <cwchar>

#include "classlib/Bitmap.h"
#include "classlib/WinHandles.h"
#include "controls/themed/TmPanel.h"

namespace themed {

using namespace classlib;

namespace {

// Round with halves to even (the default floating-point rounding mode).
int RoundEven(double Value) { return static_cast<int>(std::nearbyint(Value)); }

int Clamp(int Value, int Low, int High) { return Value < Low ? Low : (Value > High ? High : Value); }

TTmStatusBar* ParentStatusBar(const TControl* Control)
{
    return dynamic_cast<TTmStatusBar*>(Control->GetParent());
}

// Paints the themed status bar background of Bar into Canvas so that the
// part under Bounds (in Bar's client coordinates) lands on Dest.
void PaintStatusBackground(TTmStatusBar* Bar, TCanvas* Canvas, const RECT& Bounds, const RECT& Dest)
{
    TBitmap back;
    back.SetPixelFormat(pf24bit);
    back.SetSize(std::max(1, Bar->GetWidth()), std::max(1, Bar->GetHeight()));
    TTmTheme theme(Bar->HandleAllocated() ? Bar->GetHandle() : nullptr, L"STATUS");
    RECT all{0, 0, Bar->GetWidth(), Bar->GetHeight()};
    if (theme)
        ::DrawThemeBackground(theme.Get(), back.GetCanvas()->GetHandle(), 0, 0, &all, nullptr);
    RECT src{Bounds.left + Dest.left, Bounds.top + Dest.top, Bounds.left + Dest.right, Bounds.top + Dest.bottom};
    Canvas->CopyRect(Dest, back.GetCanvas(), src);
}

}  // namespace

RECT TmProgressFilledRect(const RECT& R, unsigned Percent, TOrientation Orientation)
{
    if (Percent >= 100)
        return R;
    if (Orientation == orVertical)
        return RECT{R.left, R.bottom - RoundEven(Percent * static_cast<double>(R.bottom - R.top) / 100.0), R.right,
                    R.bottom};
    return RECT{R.left, R.top, R.left + RoundEven(Percent * static_cast<double>(R.right - R.left) / 100.0),
                R.bottom};
}

TTmLEDLayout TmLEDLayout(int Length, int NumSegments)
{
    TTmLEDLayout l;
    int n = std::max(1, NumSegments);
    int s = Length / n;
    if (Length <= 80 && n > 10) {
        s = Length / 10;
        n = 10;
    }
    if (s > 0)
        n += (Length - s * n) / s;
    l.Size = s;
    l.Count = n;
    l.Margin = (Length - s * n) / 2;
    return l;
}

// ===================================================== TTmCustomProgressBar

TTmCustomProgressBar::TTmCustomProgressBar(TComponent* AOwner)
    : TGraphicControl(AOwner),
      TTmBorderedControl(*this, TTmFrameValues{.BorderOuter = fsLowered},
                         TTmFrameChangeEvent(this, &TTmCustomProgressBar::FrameChanged))
{
    ControlStyle |= csOpaque;
    GetFont()->SetColor(barColor_);
    SetBounds(0, 0, 200, 24);
}

TTmCustomProgressBar::~TTmCustomProgressBar() = default;

void TTmCustomProgressBar::SetBounds(int ALeft, int ATop, int AWidth, int AHeight)
{
    TGraphicControl::SetBounds(ALeft, ATop, AWidth, AHeight);
    SetOrientation(GetWidth() < GetHeight() ? orVertical : orHorizontal);
}

void TTmCustomProgressBar::WndProc(TMessage& Message)
{
    TGraphicControl::WndProc(Message);
}

void TTmCustomProgressBar::Change() { OnChange(this, percent_); }

void TTmCustomProgressBar::Notification(TComponent* AComponent, TOperation Operation)
{
    TGraphicControl::Notification(AComponent, Operation);
    frame_.Notification(AComponent, Operation);
}

void TTmCustomProgressBar::UpdateFrameController()
{
    if (!frame_.TakeControllerFrame(false))
        return;
    if (frame_.Follows(fcpColor))
        SetBackColor(GetFrameController()->GetColor());
    if (frame_.Follows(fcpParentColor) && GetFrameController()->GetParentColor() && GetParent())
        SetColor(GetParent()->GetColor());
    Invalidate();
}

void TTmCustomProgressBar::FrameChanged(TTmFrameProperty Which)
{
    if (Which == fbFlatColor || Which == fbFlatColorAdjustment)
        Invalidate();
    else
        Repaint();
}

// ------------------------------------------------------------------ setters

#define TM_REPAINT_SETTER(Name, Type, field) TM_REDRAW_SETTER(TTmCustomProgressBar, Name, Type, field, Repaint)
#define TM_INVALIDATE_SETTER(Name, Type, field) TM_REDRAW_SETTER(TTmCustomProgressBar, Name, Type, field, Invalidate)

TM_REPAINT_SETTER(BackColor, TColor, backColor_)
TM_REPAINT_SETTER(InteriorOffset, uint8_t, interiorOffset_)
TM_REPAINT_SETTER(Orientation, TOrientation, orientation_)
TM_REPAINT_SETTER(ShowPercent, bool, showPercent_)
TM_REPAINT_SETTER(ShowParts, bool, showParts_)
TM_INVALIDATE_SETTER(ThemeAware, bool, themeAware_)
TM_INVALIDATE_SETTER(BackColorStop, TColor, backColorStop_)
TM_INVALIDATE_SETTER(BarColorStop, TColor, barColorStop_)
TM_INVALIDATE_SETTER(GradientDirection, TGradientDirection, gradientDirection_)
#undef TM_REPAINT_SETTER
#undef TM_INVALIDATE_SETTER

void TTmCustomProgressBar::SetBarColor(TColor Value)
{
    if (Value == barColor_) return;
    barColor_ = Value;
    GetFont()->SetColor(Value);
    Repaint();
}

void TTmCustomProgressBar::SetBarStyle(TBarStyle Value)
{
    if (Value == barStyle_) return;
    barStyle_ = Value;
    showPercent_ = Value == bsTraditional || Value == bsGradient;
    interiorOffset_ = Value == bsLED ? 1 : 0;
    Repaint();
}

void TTmCustomProgressBar::SetBevelWidth(int Value)
{
    Value = Clamp(Value, 1, 0x7FFF);
    if (Value == bevelWidth_) return;
    bevelWidth_ = Value;
    Repaint();
}

void TTmCustomProgressBar::SetNumSegments(int Value)
{
    Value = Clamp(Value, 1, 100);
    if (Value == numSegments_) return;
    numSegments_ = Value;
    Repaint();
}

void TTmCustomProgressBar::SetPercent(uint16_t Value)
{
    if (Value == percent_) return;
    percent_ = Value;
    Change();
    Repaint();
}

void TTmCustomProgressBar::SetPartsComplete(uint32_t Value)
{
    if (Value > 0x7FFFFFFFu) Value = 0x7FFFFFFFu;
    if (Value == partsComplete_) return;
    partsComplete_ = std::min(Value, totalParts_);
    if (!(GetComponentState() & csLoading) && totalParts_ != 0)
        SetPercent(static_cast<uint16_t>(
            RoundEven(static_cast<double>(partsComplete_) / static_cast<double>(totalParts_) * 100.0)));
    Repaint();
}

void TTmCustomProgressBar::SetTotalParts(uint32_t Value)
{
    if (Value > 0x7FFFFFFFu) Value = 0x7FFFFFFFu;
    if (Value == totalParts_) return;
    totalParts_ = Value;
    if (!(GetComponentState() & csLoading)) {
        partsComplete_ = 0;
        SetPercent(0);
    }
    Repaint();
}

bool TTmCustomProgressBar::HasPublishedProperty(const std::wstring& Name) const
{
    return frame_.HasPublishedProperty(Name, false);
}

int64_t TTmCustomProgressBar::GetPublishedProperty(const std::wstring& Name) const
{
    return HasPublishedProperty(Name) ? frame_.GetPublishedProperty(Name) : 0;
}

void TTmCustomProgressBar::SetPublishedProperty(const std::wstring& Name, int64_t Value)
{
    frame_.SetPublishedProperty(Name, Value);
}

// ------------------------------------------------------------------ painting

std::wstring TTmCustomProgressBar::GetBarText() const
{
    if (!showPercent_)
        return std::wstring();
    wchar_t buf[64];
    if (showParts_) {
        std::swprintf(buf, 64, L"%u / %u", static_cast<unsigned>(partsComplete_), static_cast<unsigned>(totalParts_));
        return buf;
    }
    std::swprintf(buf, 64, L"%u%%", static_cast<unsigned>(percent_));
    if (barStyle_ == bsTraditional)
        return Hint + L" " + buf;
    return buf;
}

bool TTmCustomProgressBar::UseThemes() const
{
    if (!TmThemesEnabled() || !themeAware_)
        return false;
    if (TTmStatusBar* bar = ParentStatusBar(this))
        return bar->GetVisualStyle() == vsWinXP;
    return true;
}

void TTmCustomProgressBar::Paint()
{
    const int w = std::max(1, GetWidth()), h = std::max(1, GetHeight());
    TBitmap work;
    work.SetPixelFormat(pf24bit);
    work.SetSize(w, h);
    TCanvas* c = work.GetCanvas();
    c->SetFont(GetFont());
    RECT r{0, 0, GetWidth(), GetHeight()};
    const bool themes = UseThemes();
    TTmStatusBar* bar = ParentStatusBar(this);
    if (themes) {
        TTmTheme progress(bar && bar->HandleAllocated() ? bar->GetHandle() : nullptr, L"PROGRESS");
        const int trough = orientation_ == orVertical ? PP_BARVERT : PP_BAR;
        if (bar) {
            PaintStatusBackground(bar, c, GetBoundsRect(), r);
            TTmTheme status(bar->HandleAllocated() ? bar->GetHandle() : nullptr, L"STATUS");
            if (status)
                ::DrawThemeBackground(status.Get(), c->GetHandle(), SP_PANE, 0, &r, nullptr);
            if (interiorOffset_ > 0)
                ::InflateRect(&r, -(interiorOffset_ + 2), -(interiorOffset_ + 1));
            else
                ::InflateRect(&r, -1, -1);
            if (progress)
                ::DrawThemeBackground(progress.Get(), c->GetHandle(), trough, 0, &r, nullptr);
            const int d = barStyle_ == bsLED ? interiorOffset_ : interiorOffset_ + 2;
            ::InflateRect(&r, -d, -d);
        } else {
            if (progress)
                ::DrawThemeBackground(progress.Get(), c->GetHandle(), trough, 0, &r, nullptr);
            const int d = barStyle_ == bsLED ? interiorOffset_ + 1 : interiorOffset_ + 3;
            ::InflateRect(&r, -d, -d);
        }
    } else {
        c->GetBrush()->SetStyle(bsSolid);
        const TTmFrameValues& f = frame_.Values();
        c->GetBrush()->SetColor(f.BorderColor);
        c->FillRect(r);
        const TColor parentColor = GetParent() ? GetParent()->GetColor() : GetColor();
        TmPaintControlBorder(c, r, f.BorderOuter, f.BorderInner, f.BorderWidth, sdAllSides, bevelWidth_, f.BorderColor,
                             clBtnHighlight, clBtnShadow, f.FlatColor, f.FlatColorAdjustment, backColor_, parentColor,
                             false, true, r);
        if (interiorOffset_ > 0) {
            c->GetPen()->SetStyle(psInsideFrame);
            c->GetPen()->SetWidth(interiorOffset_);
            c->GetPen()->SetColor(backColor_);
            c->GetBrush()->SetStyle(bsClear);
            c->Rectangle(r);
            c->GetPen()->SetStyle(psSolid);
            c->GetPen()->SetWidth(1);
            c->GetBrush()->SetStyle(bsSolid);
            ::InflateRect(&r, -static_cast<int>(interiorOffset_), -static_cast<int>(interiorOffset_));
        }
    }
    if (r.right > r.left && r.bottom > r.top) {
        switch (barStyle_) {
        case bsTraditional: PaintTraditional(c, r); break;
        case bsGradient: PaintGradient(c, r); break;
        case bsLED: PaintLED(c, r); break;
        }
    }
    GetCanvas()->Draw(0, 0, &work);
}

namespace {

// The unfilled part of R next to the filled part F.
RECT UnfilledRect(const RECT& R, const RECT& F, TOrientation Orientation)
{
    if (Orientation == orVertical)
        return RECT{R.left, R.top, R.right, F.top};
    return RECT{F.right, R.top, R.right, R.bottom};
}

// Draws Text centred at R.right / 2, clipped to Part; the brush decides
// whether Part is filled.
void PartText(TCanvas* Canvas, const RECT& R, const RECT& Part, const std::wstring& Text)
{
    if (Part.right <= Part.left || Part.bottom <= Part.top)
        return;
    const classlib::TTextAlignScope align(Canvas->GetHandle(), TA_CENTER);
    const int y = R.top + (R.bottom - R.top - Canvas->TextHeight(L"X")) / 2;
    Canvas->TextRect(Part, R.right / 2, y, Text);
}

}  // namespace

void TTmCustomProgressBar::PaintTraditional(TCanvas* Canvas, const RECT& R)
{
    const std::wstring text = GetBarText();
    const RECT filled = TmProgressFilledRect(R, percent_, orientation_);
    const RECT rest = percent_ >= 100 ? RECT{0, 0, 0, 0} : UnfilledRect(R, filled, orientation_);
    Canvas->GetBrush()->SetStyle(bsSolid);
    Canvas->GetFont()->SetColor(backColor_);
    Canvas->GetBrush()->SetColor(barColor_);
    if (filled.right > filled.left && filled.bottom > filled.top) {
        Canvas->FillRect(filled);
        PartText(Canvas, R, filled, text);
    }
    Canvas->GetFont()->SetColor(barColor_);
    Canvas->GetBrush()->SetColor(backColor_);
    if (rest.right > rest.left && rest.bottom > rest.top) {
        Canvas->FillRect(rest);
        PartText(Canvas, R, rest, text);
    }
}

void TTmCustomProgressBar::PaintGradient(TCanvas* Canvas, const RECT& R)
{
    const std::wstring text = GetBarText();
    const RECT filled = TmProgressFilledRect(R, percent_, orientation_);
    const RECT rest = percent_ >= 100 ? RECT{0, 0, 0, 0} : UnfilledRect(R, filled, orientation_);
    if (filled.right > filled.left && filled.bottom > filled.top) {
        TmPaintGradient(Canvas, filled, gradientDirection_, barColor_, barColorStop_, 1);
        Canvas->GetBrush()->SetStyle(bsClear);
        Canvas->GetFont()->SetColor(backColor_);
        PartText(Canvas, R, filled, text);
    }
    if (rest.right > rest.left && rest.bottom > rest.top) {
        TmPaintGradient(Canvas, rest, gradientDirection_, backColor_, backColorStop_, 1);
        Canvas->GetBrush()->SetStyle(bsClear);
        Canvas->GetFont()->SetColor(barColor_);
        PartText(Canvas, R, rest, text);
    }
    Canvas->GetBrush()->SetStyle(bsSolid);
}

void TTmCustomProgressBar::PaintLED(TCanvas* Canvas, RECT R)
{
    const bool vertical = orientation_ == orVertical;
    if (UseThemes()) {
        ::InflateRect(&R, -1, -1);
        TTmStatusBar* bar = ParentStatusBar(this);
        TTmTheme theme(bar && bar->HandleAllocated() ? bar->GetHandle() : nullptr, L"PROGRESS");
        if (!theme)
            return;
        if (!vertical) {
            RECT lit = R;
            lit.right = R.left + RoundEven(percent_ * static_cast<double>(R.right - R.left) / 100.0);
            ::DrawThemeBackground(theme.Get(), Canvas->GetHandle(), PP_CHUNK, 0, &lit, nullptr);
        } else {
            const int height = RoundEven(percent_ * static_cast<double>(R.bottom - R.top) / 100.0);
            TBitmap chunks;
            chunks.SetPixelFormat(pf24bit);
            chunks.SetSize(std::max(1, static_cast<int>(R.right - R.left)), std::max(1, height));
            RECT all{0, 0, R.right - R.left, std::max(1, height)};
            ::DrawThemeBackground(theme.Get(), chunks.GetCanvas()->GetHandle(), PP_CHUNKVERT, 0, &all, nullptr);
            TmFlipBitmapVertically(&chunks);
            Canvas->Draw(R.left, R.bottom - std::max(1, height), &chunks);
        }
        return;
    }
    const int length = vertical ? R.bottom - R.top : R.right - R.left;
    const TTmLEDLayout l = TmLEDLayout(length, numSegments_);
    Canvas->GetBrush()->SetStyle(bsSolid);
    Canvas->GetBrush()->SetColor(backColor_);
    if (vertical) {
        Canvas->FillRect(RECT{R.left, R.top, R.right, R.top + l.Margin + 1});
        Canvas->FillRect(RECT{R.left, R.bottom - l.Margin - 1, R.right, R.bottom});
    } else {
        Canvas->FillRect(RECT{R.left, R.top, R.left + l.Margin + 1, R.bottom});
        Canvas->FillRect(RECT{R.right - l.Margin - 1, R.top, R.right, R.bottom});
    }
    const int lit = std::min(l.Count, static_cast<int>(static_cast<unsigned>(percent_) * l.Count / 100));
    Canvas->GetPen()->SetWidth(1);
    Canvas->GetPen()->SetStyle(psSolid);
    for (int k = 1; k <= l.Count; ++k) {
        RECT seg;
        if (vertical) {
            const int top = R.top + l.Margin + l.Size * (l.Count - k);
            seg = RECT{R.left, top, R.right, top + l.Size};
        } else {
            const int left = R.left + l.Margin + l.Size * (k - 1);
            seg = RECT{left, R.top, left + l.Size, R.bottom};
        }
        Canvas->GetBrush()->SetColor(k <= lit ? barColor_ : backColor_);
        Canvas->GetPen()->SetColor(backColor_);
        Canvas->Rectangle(seg);
    }
}

}  // namespace themed
