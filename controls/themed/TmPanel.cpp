#include "controls/themed/TmPanel.h"

#include "classlib/Accelerators.h"

#include <vssym32.h>
#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "classlib/Forms.h"
#include "classlib/WinHandles.h"

namespace themed {

using namespace classlib;

UINT TmAlignmentFlags(TAlignment Value)
{
    switch (Value) {
    case taLeftJustify: return DT_LEFT;
    case taRightJustify: return DT_RIGHT;
    case taCenter: return DT_CENTER;
    }
    return DT_LEFT;
}

void TmInvalidateTransparentChildren(TWinControl* Parent)
{
    if (!Parent)
        return;
    for (int i = 0; i < Parent->GetControlCount(); ++i) {
        TControl* c = Parent->GetControl(i);
        auto* props = dynamic_cast<ITmPublishedProperties*>(c);
        if (props && props->HasPublishedProperty(L"Transparent") && props->GetPublishedProperty(L"Transparent"))
            c->Invalidate();
    }
}

namespace {

// Width of one frame of the panel border.
int FrameWidth(TFrameStyleEx Style, int BevelWidth)
{
    switch (Style) {
    case fsNone: return 0;
    case fsFlat: return 1;
    case fsStatus:
    case fsPopup: return BevelWidth;
    default: return 2;  // fsGroove..fsButtonUp, fsFlatBold, fsFlatRounded
    }
}

void Line(TCanvas* Canvas, int X1, int Y1, int X2, int Y2)
{
    Canvas->MoveTo(X1, Y1);
    Canvas->LineTo(X2, Y2);
}

// The extent of Text in Font, measured on a screen DC.
SIZE MeasureText(TFont* Font, const std::wstring& Text)
{
    TCanvas canvas;
    TScreenDC screen;
    TCanvasDCScope scope(&canvas, screen.Get());
    canvas.SetFont(Font);
    return canvas.TextExtent(Text);
}

TCustomForm* ParentForm(TControl* Control)
{
    for (TControl* c = Control; c; c = c->GetParent())
        if (auto* f = dynamic_cast<TCustomForm*>(c))
            return f;
    return nullptr;
}

}  // namespace

// ============================================================ TTmCustomPanel

TTmCustomPanel::TTmCustomPanel(TComponent* AOwner)
    : TPanel(AOwner),
      TTmBorderedControl(*this, TTmFrameValues{.BorderOuter = fsRaised},
                         TTmFrameChangeEvent(this, &TTmCustomPanel::FrameChanged))
{
    ControlStyle |= csOpaque;
    SetBevelOuter(bvNone);
    SetUseDockManager(true);
}

void TTmCustomPanel::CreateDockManager()
{
    if (GetDockSite() && GetUseDockManager() && !GetDockManager()) {
        // The base makes the default tree only when none exists: ours first.
        auto* m = new TTmPanelDockManager(this);
        AdoptDockManager(m);
    }
    // Docked clients and their grabbers repaint without flicker.
    if (GetDockManager()) SetDoubleBuffered(true);
}

// ------------------------------------------------------- dock manager

std::wstring TmDockClientCaption(TControl* Control)
{
    if (auto* f = dynamic_cast<TCustomForm*>(Control)) return f->GetCaption();
    if (auto* p = dynamic_cast<TPanel*>(Control)) return p->GetCaption();
    return Control->GetName();
}

TTmPanelDockManager::TTmPanelDockManager(TTmCustomPanel* Panel)
    : TDockTree(Panel), panel_(Panel), captionFont_(std::make_unique<TFont>()), closeFont_(std::make_unique<TFont>())
{
    grabberSize_ = 14;
    captionFont_->SetName(L"Verdana");
    captionFont_->SetSize(8);
    closeFont_->SetName(L"Marlett");
    closeFont_->SetSize(8);
}

TTmPanelDockManager::~TTmPanelDockManager() = default;

void TTmPanelDockManager::AdjustDockRect(TControl* Control, RECT& ARect)
{
    (void)Control;
    const TAlign a = panel_->GetAlign();
    if (a == alTop || a == alBottom)
        ARect.left += grabberSize_;
    else
        ARect.top += grabberSize_;
}

void TTmPanelDockManager::SiteMessage(TMessage& Message)
{
    if (Message.Msg == WM_COMMAND || Message.Msg == WM_MOUSEACTIVATE) panel_->Invalidate();
}

void TTmPanelDockManager::PaintDockFrame(TCanvas* Canvas, TControl* Control, const RECT& ARect)
{
    if (!panel_->GetShowDockClientCaptions()) {
        TDockTree::PaintDockFrame(Canvas, Control, ARect);
        return;
    }
    auto* win = dynamic_cast<TWinControl*>(Control);
    bool focused = !win;
    if (win && win->HandleAllocated()) {
        HWND f = ::GetFocus();
        focused = f && (f == win->GetHandle() || ::IsChild(win->GetHandle(), f));
    }
    const TColor bar = focused ? clActiveCaption : clInactiveCaption;
    const TColor text = focused ? clCaptionText : clInactiveCaptionText;
    const std::wstring caption = TmDockClientCaption(Control);
    const TAlign a = panel_->GetAlign();
    Canvas->GetBrush()->SetStyle(bsSolid);
    Canvas->GetBrush()->SetColor(bar);
    if (a != alTop && a != alBottom) {
        RECT r{ARect.left, ARect.top, ARect.right, ARect.top + 14};
        Canvas->FillRect(r);
        Canvas->SetFont(captionFont_.get());
        Canvas->GetFont()->SetColor(text);
        Canvas->GetBrush()->SetStyle(bsClear);
        Canvas->TextRect(r, r.left + 2, r.top, caption);
        Canvas->SetFont(closeFont_.get());
        Canvas->GetFont()->SetColor(text);
        RECT x{ARect.right - 15, ARect.top + 1, ARect.right - 2, ARect.top + 12};
        Canvas->TextRect(x, x.left, x.top, L"r");
    } else {
        RECT r{ARect.left, ARect.top, ARect.left + 14, ARect.bottom};
        Canvas->FillRect(r);
        HFONT rotated = TmCreateRotatedFont(captionFont_.get(), 90);
        HDC dc = Canvas->GetHandle();
        {
            TSaveDCScope save(dc);
            ::SelectObject(dc, rotated);
            ::SetTextColor(dc, static_cast<COLORREF>(ColorToRGB(clCaptionText)));
            ::SetBkMode(dc, TRANSPARENT);
            ::SetTextAlign(dc, 24);
            ::ExtTextOutW(dc, r.right - 2, r.bottom - 3, ETO_CLIPPED, &r, caption.c_str(),
                          static_cast<UINT>(caption.size()), nullptr);
        }
        ::DeleteObject(rotated);
        Canvas->SetFont(closeFont_.get());
        Canvas->GetFont()->SetColor(text);
        Canvas->GetBrush()->SetStyle(bsClear);
        RECT x{ARect.left + 1, ARect.top + 1, ARect.left + 12, ARect.top + 12};
        Canvas->TextRect(x, x.left, x.top, L"r");
    }
    Canvas->GetBrush()->SetStyle(bsSolid);
}

TTmCustomPanel::~TTmCustomPanel() = default;

void TTmCustomPanel::GetCursorClientPos(POINT& Point)
{
    ::GetCursorPos(&Point);
    Point = ScreenToClient(Point);
}

void TTmCustomPanel::AdjustRectForBorders(RECT& Rect, bool IncludeBorderWidth)
{
    const TTmFrameValues& f = frame_.Values();
    if (IncludeBorderWidth)
        ::InflateRect(&Rect, -f.BorderWidth, -f.BorderWidth);
    for (TFrameStyleEx style : {f.BorderOuter, f.BorderInner}) {
        const int w = FrameWidth(style, GetBevelWidth());
        if (f.BorderSides & sdLeft) Rect.left += w;
        if (f.BorderSides & sdTop) Rect.top += w;
        if (f.BorderSides & sdRight) Rect.right -= w;
        if (f.BorderSides & sdBottom) Rect.bottom -= w;
    }
}

void TTmCustomPanel::GetOuterRect(RECT& Rect) { Rect = RECT{0, 0, GetWidth(), GetHeight()}; }

void TTmCustomPanel::GetGradientColors(TColor& Start, TColor& Stop)
{
    if (gradientColorStyle_ == gcsCustom) {
        Start = gradientColorStart_;
        Stop = gradientColorStop_;
    } else {
        TmGetGradientColors(gradientColorStyle_, Start, Stop);
    }
}

void TTmCustomPanel::GetFrameColors(TColor& FlatColor, int& Adjustment)
{
    if (frame_.GetVisualStyle() == vsGradient && gradientColorStyle_ != gcsCustom) {
        FlatColor = TmGetGradientFlatColor(gradientColorStyle_);
        Adjustment = 0;
    } else {
        FlatColor = frame_.GetFlatColor();
        Adjustment = frame_.GetFlatColorAdjustment();
    }
}

void TTmCustomPanel::AdjustClientRect(RECT& Rect)
{
    Rect = GetClientRect();
    ::InflateRect(&Rect, -frame_.GetBorderWidth(), -frame_.GetBorderWidth());
    // A dock site's client rectangle keeps the frames: take them off here.
    if (GetDockSite()) AdjustRectForBorders(Rect, false);
}

RECT TTmCustomPanel::GetClientRect() const
{
    RECT r = TPanel::GetClientRect();
    if (!GetDockSite()) const_cast<TTmCustomPanel*>(this)->AdjustRectForBorders(r, false);
    return r;
}

void TTmCustomPanel::SetBounds(int ALeft, int ATop, int AWidth, int AHeight)
{
    if (GetAlign() == alBottom && AHeight != GetHeight())
        ATop = GetTop() + GetHeight() - AHeight;
    else if (GetAlign() == alRight && AWidth != GetWidth())
        ALeft = GetLeft() + GetWidth() - AWidth;
    TPanel::SetBounds(ALeft, ATop, AWidth, AHeight);
}

void TTmCustomPanel::SetEnabled(bool Value)
{
    if (Value == GetEnabled())
        return;
    TPanel::SetEnabled(Value);
    if (!Value) {
        disabledChildren_.clear();
        for (int i = 0; i < GetControlCount(); ++i) {
            TControl* c = GetControl(i);
            disabledChildren_.emplace_back(c, c->GetEnabled());
        }
        for (int i = 0; i < GetControlCount(); ++i)
            GetControl(i)->SetEnabled(false);
    } else {
        for (int i = 0; i < GetControlCount(); ++i) {
            TControl* c = GetControl(i);
            auto it = std::find_if(disabledChildren_.begin(), disabledChildren_.end(),
                                   [c](const auto& e) { return e.first == c; });
            if (it == disabledChildren_.end() || it->second)
                c->SetEnabled(true);
        }
    }
    Repaint();
}

void TTmCustomPanel::WndProc(TMessage& Message)
{
    switch (Message.Msg) {
    case WM_WINDOWPOSCHANGED:
        if (HandleAllocated()) {
            const auto* pos = reinterpret_cast<const WINDOWPOS*>(Message.LParam);
            if (fullRepaint_ || !GetCaption().empty()) {
                ::InvalidateRect(GetHandle(), nullptr, TRUE);
            } else if (pos) {
                RECT old{0, 0, GetWidth(), GetHeight()};
                RECT interior = old;
                AdjustRectForBorders(interior, true);
                if (!(pos->flags & SWP_NOSIZE)) {
                    if (pos->cx != GetWidth()) {
                        RECT strip{interior.right - 1, 0, GetWidth(), GetHeight()};
                        ::InvalidateRect(GetHandle(), &strip, TRUE);
                    }
                    if (pos->cy != GetHeight()) {
                        RECT strip{0, interior.bottom - 1, GetWidth(), GetHeight()};
                        ::InvalidateRect(GetHandle(), &strip, TRUE);
                    }
                }
            }
        }
        break;
    case WM_THEMECHANGED:
        TPanel::WndProc(Message);
        TmXPColorScheme = TmGetXPColorScheme();
        return;
    case CM_MOUSEENTER:
        if (GetComponentState() & csDesigning)
            return;
        break;
    default: break;
    }
    TPanel::WndProc(Message);
}

void TTmCustomPanel::EraseBackground(TMessage& Message)
{
    if (frame_.GetTransparent() && paintClientArea_) {
        TmPaintParentBackgroundDC(this, reinterpret_cast<HDC>(Message.WParam), true);
        Message.Result = 1;
        return;
    }
    TPanel::EraseBackground(Message);
}

TColor TTmCustomPanel::ParentColorValue() const { return GetParent() ? GetParent()->GetColor() : GetColor(); }

void TTmCustomPanel::Paint()
{
    TCanvas* canvas = GetCanvas();
    RECT rect;
    GetOuterRect(rect);
    TColor flat;
    int adjust;
    GetFrameColors(flat, adjust);
    const TTmFrameValues& f = frame_.Values();
    TmPaintControlBorder(canvas, rect, f.BorderOuter, f.BorderInner, f.BorderWidth, f.BorderSides, GetBevelWidth(),
                         f.BorderColor, f.BorderHighlight, f.BorderShadow, flat, adjust, GetColor(), ParentColorValue(),
                         f.Transparent, false, rect);
    if (!f.Transparent && paintClientArea_) {
        const bool rounded = (f.BorderOuter == fsFlatRounded && f.BorderInner == fsNone && f.BorderWidth == 0) ||
                             f.BorderInner == fsFlatRounded;
        const RECT saved = rect;
        if (rounded) {
            if (f.BorderSides & sdLeft) --rect.left;
            if (f.BorderSides & sdTop) --rect.top;
            if (f.BorderSides & sdRight) ++rect.right;
            if (f.BorderSides & sdBottom) ++rect.bottom;
        }
        if (f.VisualStyle == vsGradient) {
            TColor start, stop;
            GetGradientColors(start, stop);
            TmPaintGradient(canvas, rect, gradientDirection_, start, stop, 1);
        } else {
            canvas->GetBrush()->SetStyle(bsSolid);
            canvas->GetBrush()->SetColor(GetColor());
            canvas->FillRect(rect);
        }
        if (rounded) {
            const TColor corner = TmShiftColorLuminance(flat, adjust);
            auto both = [&f](TSides a, TSides b) { return (f.BorderSides & a) && (f.BorderSides & b); };
            if (both(sdLeft, sdTop)) canvas->SetPixel(rect.left, rect.top, corner);
            if (both(sdRight, sdTop)) canvas->SetPixel(rect.right - 1, rect.top, corner);
            if (both(sdLeft, sdBottom)) canvas->SetPixel(rect.left, rect.bottom - 1, corner);
            if (both(sdRight, sdBottom)) canvas->SetPixel(rect.right - 1, rect.bottom - 1, corner);
        }
        rect = saved;
    }
    if (showGrid_)
        DrawGrid(rect);
    canvas->GetBrush()->SetStyle(bsClear);
    DrawCaption(rect);
    canvas->GetBrush()->SetStyle(bsSolid);
    OnPaint(this);
}

void TTmCustomPanel::DrawCaption(RECT Rect)
{
    const std::wstring& caption = GetCaption();
    if (caption.empty())
        return;
    TCanvas* canvas = GetCanvas();
    canvas->SetFont(GetFont());
    ::InflateRect(&Rect, -textMargin_, -textMarginVertical_);
    RECT calc = Rect;
    const int h = TmDrawText(canvas, caption, calc, TmWordWrapFlags(wordWrap_) | DT_CALCRECT | DT_EXPANDTABS | DT_VCENTER);
    switch (alignmentVertical_) {
    case avTop: Rect.bottom = std::min<LONG>(Rect.bottom, Rect.top + h); break;
    case avCenter:
        Rect.top = (Rect.top + Rect.bottom - h) / 2;
        Rect.bottom = std::min<LONG>(Rect.bottom, Rect.top + h);
        break;
    case avBottom: Rect.top = std::max<LONG>(Rect.top, Rect.bottom - h - 1); break;
    }
    if (!GetEnabled())
        canvas->GetFont()->SetColor(clGrayText);
    TmDrawText(canvas, caption, Rect, TmWordWrapFlags(wordWrap_) | DT_EXPANDTABS | DT_VCENTER | TmAlignmentFlags(alignment_));
}

void TTmCustomPanel::DrawGrid(const RECT& Rect)
{
    const int nx = gridXSize_ ? (Rect.right - Rect.left) / gridXSize_ : 0;
    const int ny = gridYSize_ ? (Rect.bottom - Rect.top) / gridYSize_ : 0;
    TCanvas* canvas = GetCanvas();
    canvas->GetPen()->SetColor(gridColor_);
    switch (gridStyle_) {
    case gsDots:
        for (int i = 1; i <= nx; ++i)
            for (int j = 1; j <= ny; ++j)
                canvas->SetPixel(Rect.left + i * gridXSize_ - 1, Rect.top + j * gridYSize_ - 1, gridColor_);
        break;
    case gsSolidLines:
        for (int i = 1; i <= nx; ++i)
            Line(canvas, Rect.left + i * gridXSize_ - 1, Rect.top, Rect.left + i * gridXSize_ - 1, Rect.bottom);
        for (int j = 1; j <= ny; ++j)
            Line(canvas, Rect.left, Rect.top + j * gridYSize_ - 1, Rect.right, Rect.top + j * gridYSize_ - 1);
        break;
    case gsDottedLines:
        for (int i = 1; i <= nx; ++i)
            for (int y = Rect.top + 1; y < Rect.bottom; y += 2)
                canvas->SetPixel(Rect.left + i * gridXSize_ - 1, y, gridColor_);
        for (int j = 1; j <= ny; ++j)
            for (int x = Rect.left + 1; x < Rect.right; x += 2)
                canvas->SetPixel(x, Rect.top + j * gridYSize_ - 1, gridColor_);
        break;
    }
}

void TTmCustomPanel::UpdateFrameController()
{
    if (!frame_.TakeControllerFrame(true))
        return;
    if (frame_.Follows(fcpColor)) {
        SetColor(GetFrameController()->GetColor());
        frame_.Stored().BorderHighlight = TmLightenColor(GetColor(), 100);
        frame_.Stored().BorderShadow = TmDarkenColor(GetColor(), 50);
    }
    if (frame_.Follows(fcpParentColor) && GetFrameController()->GetParentColor() && GetParent())
        SetColor(GetParent()->GetColor());
    Invalidate();
}

void TTmCustomPanel::Notification(TComponent* AComponent, TOperation Operation)
{
    TPanel::Notification(AComponent, Operation);
    frame_.Notification(AComponent, Operation);
}

void TTmCustomPanel::Realign()
{
    AlignControls();
}

// ------------------------------------------------------------------ setters

#define TM_SETTER(Name, Type, field) TM_REDRAW_SETTER(TTmCustomPanel, Name, Type, field, Invalidate)

TM_SETTER(AlignmentVertical, TAlignmentVertical, alignmentVertical_)
TM_SETTER(GradientColorStyle, TTmGradientColorStyle, gradientColorStyle_)
TM_SETTER(GridColor, TColor, gridColor_)
TM_SETTER(GridStyle, TTmGridStyle, gridStyle_)
TM_SETTER(GridXSize, uint16_t, gridXSize_)
TM_SETTER(GridYSize, uint16_t, gridYSize_)
TM_SETTER(PaintClientArea, bool, paintClientArea_)
TM_SETTER(ShowGrid, bool, showGrid_)
TM_SETTER(TextMargin, int, textMargin_)
TM_SETTER(TextMarginVertical, int, textMarginVertical_)
TM_SETTER(WordWrap, bool, wordWrap_)
TM_SETTER(Alignment, TAlignment, alignment_)
#undef TM_SETTER

void TTmCustomPanel::FrameChanged(TTmFrameProperty Which)
{
    switch (Which) {
    case fbBorderInner:
    case fbBorderOuter:
    case fbBorderSides:
    case fbBorderWidth: Realign(); break;
    default: break;
    }
    Invalidate();
    if (Which == fbTransparent)
        for (int i = 0; i < GetControlCount(); ++i)
            GetControl(i)->Invalidate();
}

void TTmCustomPanel::SetGradientColorStart(TColor Value)
{
    if (Value == gradientColorStart_) return;
    gradientColorStart_ = Value;
    Invalidate();
    TmInvalidateTransparentChildren(this);
}

void TTmCustomPanel::SetGradientColorStop(TColor Value)
{
    if (Value == gradientColorStop_) return;
    gradientColorStop_ = Value;
    Invalidate();
    TmInvalidateTransparentChildren(this);
}

void TTmCustomPanel::SetGradientDirection(TGradientDirection Value)
{
    if (Value == gradientDirection_) return;
    gradientDirection_ = Value;
    Invalidate();
    TmInvalidateTransparentChildren(this);
}

bool TTmCustomPanel::ReadObsoleteProperty(const std::wstring& Name, const std::wstring& Value)
{
    if (Name == L"FrameSides" || Name == L"ThemeAware")
        return true;
    if (Name == L"UseGradients") {
        if (Value == L"True" || Value == L"1")
            SetVisualStyle(vsGradient);
        return true;
    }
    return false;
}

bool TTmCustomPanel::HasPublishedProperty(const std::wstring& Name) const
{
    return frame_.HasPublishedProperty(Name, true);
}

int64_t TTmCustomPanel::GetPublishedProperty(const std::wstring& Name) const
{
    return frame_.GetPublishedProperty(Name);
}

void TTmCustomPanel::SetPublishedProperty(const std::wstring& Name, int64_t Value)
{
    frame_.SetPublishedPropertyOf(*this, Name, Value);
}

// ========================================================= TTmCustomGroupBox

TTmCustomGroupBox::TTmCustomGroupBox(TComponent* AOwner) : TTmCustomPanel(AOwner)
{
    SetBorderOuter(fsNone);
    SetAlignment(taLeftJustify);
    SetAlignmentVertical(avTop);
    SetHeight(105);
}

void TTmCustomGroupBox::SetGroupStyle(TTmGroupBoxStyle Value)
{
    if (Value == groupStyle_) return;
    groupStyle_ = Value;
    Realign();
    Invalidate();
}

void TTmCustomGroupBox::SetBannerHeight(int Value)
{
    if (Value == bannerHeight_) return;
    bannerHeight_ = Value;
    Realign();
    Invalidate();
}


void TTmCustomGroupBox::WndProc(TMessage& Message)
{
    if (Message.Msg == CM_DIALOGCHAR && classlib::IsAccelerator(static_cast<wchar_t>(Message.WParam), GetCaption()) &&
        CanFocus()) {
        SelectNext(nullptr, true, true);
        Message.Result = 1;
        return;
    }
    TTmCustomPanel::WndProc(Message);
}

void TTmCustomGroupBox::FontChanged(TObject* Sender)
{
    TTmCustomPanel::FontChanged(Sender);
    Invalidate();
}

void TTmCustomGroupBox::AdjustClientRect(RECT& Rect)
{
    TTmCustomPanel::AdjustClientRect(Rect);
    const int h = MeasureText(GetFont(), L"Yy").cy;
    switch (groupStyle_) {
    case gsCustom:
        if (!GetCaption().empty()) Rect.top += h;
        ::InflateRect(&Rect, -2, -2);
        break;
    case gsTopLine: Rect.top += h; break;
    case gsBanner: Rect.top += bannerHeight_ ? bannerHeight_ : h + 8; break;
    case gsUnderline: Rect.top += h + 4; break;
    case gsStandard:
    case gsFlat: {
        const int b = h / 2 - 1;
        if (b >= GetBorderWidth())
            Rect.top += h - GetBorderWidth();
        else
            Rect.top += b;
        const int d = groupStyle_ == gsStandard ? 2 : 1;
        ::InflateRect(&Rect, -d, -d);
        break;
    }
    }
}

RECT TTmCustomGroupBox::GetCaptionRect()
{
    const std::wstring text = TmStripAccelerators(GetCaption());
    if (text.empty() || groupStyle_ == gsCustom)
        return RECT{0, 0, 0, 0};
    const SIZE sz = MeasureText(GetFont(), text);
    const int w = GetWidth();
    const bool rtl = GetAlignment() == taRightJustify;
    switch (groupStyle_) {
    case gsStandard:
    case gsFlat: return rtl ? RECT{w - sz.cx - 8, 0, w - 8, sz.cy} : RECT{8, 0, sz.cx + 8, sz.cy};
    case gsTopLine: return rtl ? RECT{w - sz.cx - 4, 0, w - 4, sz.cy} : RECT{0, 0, sz.cx + 4, sz.cy};
    case gsBanner: return RECT{0, 0, w, bannerHeight_ ? bannerHeight_ : sz.cy + 6};
    case gsUnderline: return RECT{0, 0, w, sz.cy + 2};
    case gsCustom: break;
    }
    return RECT{0, 0, 0, 0};
}

void TTmCustomGroupBox::UpdateFrameController()
{
    if (groupStyle_ == gsCustom)
        TTmCustomPanel::UpdateFrameController();
}

void TTmCustomGroupBox::Paint()
{
    if (groupStyle_ == gsCustom) {
        TTmCustomPanel::Paint();
        return;
    }
    TCanvas* canvas = GetCanvas();
    HDC dc = canvas->GetHandle();
    canvas->SetFont(GetFont());
    const int t = canvas->TextHeight(L"Pp") / 2 - 1;
    const int w = GetWidth(), hgt = GetHeight();
    RECT caption = GetCaptionRect();
    if (GetVisualStyle() == vsWinXP && TmThemesEnabled() && (groupStyle_ == gsStandard || groupStyle_ == gsFlat)) {
        TTmTheme theme(HandleAllocated() ? GetHandle() : nullptr, L"BUTTON");
        if (theme) {
            if (!GetTransparent())
                TmPaintParentBackgroundDC(this, dc, true);
            {
                TSaveDCScope save(dc);
                ::ExcludeClipRect(dc, caption.left, caption.top, caption.right, caption.bottom);
                RECT box{0, t, w, hgt};
                ::DrawThemeBackground(theme.Get(), dc, BP_GROUPBOX, GetEnabled() ? GBS_NORMAL : GBS_DISABLED, &box,
                                      nullptr);
            }
            const std::wstring text = TmStripAccelerators(GetCaption());
            TSelectObjectScope font(dc, GetFont()->GetHandle());
            ::DrawThemeText(theme.Get(), dc, BP_GROUPBOX, GetEnabled() ? GBS_NORMAL : GBS_DISABLED, text.c_str(), -1,
                            TmAlignmentFlags(GetAlignment()), 0, &caption);
            OnPaint(this);
            return;
        }
    }
    if (!GetTransparent()) {
        canvas->GetBrush()->SetStyle(bsSolid);
        canvas->GetBrush()->SetColor(GetColor());
        canvas->FillRect(RECT{0, 0, w, hgt});
    }
    TSaveDCScope save(dc);
    if (GetTransparent() && groupStyle_ != gsBanner)
        ::ExcludeClipRect(dc, caption.left, caption.top, caption.right, caption.bottom);
    RECT r{0, t, w, hgt}, dummy;
    const TColor f = TmShiftColorLuminance(GetFlatColor(), GetFlatColorAdjustment());
    TFrameStyleEx outer = GetBorderOuter();
    switch (groupStyle_) {
    case gsStandard:
    case gsTopLine: {
        const TSides sides = groupStyle_ == gsStandard ? sdAllSides : sdTop;
        if (outer == fsFlat) {
            if (groupStyle_ == gsStandard) {
                TmPaintRectangleFrame(canvas, r, f, dummy);
            } else {
                canvas->GetPen()->SetColor(f);
                Line(canvas, r.left + 2, r.top, r.right - 2, r.top);
            }
        } else if (outer == fsFlatBold || outer == fsFlatRounded) {
            if (groupStyle_ == gsStandard) {
                RECT in;
                TmPaintRectangleFrame(canvas, r, f, in);
                TmPaintRectangleFrame(canvas, in, f, dummy);
            } else {
                canvas->GetPen()->SetColor(f);
                Line(canvas, r.left + 2, r.top, r.right - 2, r.top);
                Line(canvas, r.left + 2, r.top + 1, r.right - 2, r.top + 1);
            }
        } else {
            TmPaintFrame(canvas, r, outer == fsNone ? fsGroove : outer, sides, dummy);
        }
        break;
    }
    case gsFlat:
        canvas->GetPen()->SetColor(f);
        Line(canvas, r.left, r.top + 2, r.left, r.bottom - 2);
        Line(canvas, r.left + 2, r.top, r.right - 2, r.top);
        Line(canvas, r.right - 1, r.top + 2, r.right - 1, r.bottom - 2);
        Line(canvas, r.left + 2, r.bottom - 1, r.right - 2, r.bottom - 1);
        canvas->SetPixel(r.left + 1, r.top + 1, f);
        canvas->SetPixel(r.right - 2, r.top + 1, f);
        canvas->SetPixel(r.left + 1, r.bottom - 2, f);
        canvas->SetPixel(r.right - 2, r.bottom - 2, f);
        break;
    case gsBanner: {
        TColor start, stop, pen;
        if (GetGradientColorStyle() == gcsCustom) {
            start = GetGradientColorStart();
            stop = GetGradientColorStop();
            pen = f;
        } else {
            TmGetThemedFrameColors(GetGradientColorStyle(), stop, start, pen);
        }
        canvas->GetPen()->SetColor(pen);
        Line(canvas, caption.left + 1, caption.top, caption.right - 1, caption.top);
        Line(canvas, caption.left + 1, caption.bottom - 1, caption.right - 1, caption.bottom - 1);
        Line(canvas, caption.left, caption.top + 1, caption.left, caption.bottom - 1);
        Line(canvas, caption.right - 1, caption.top + 1, caption.right - 1, caption.bottom - 1);
        RECT in = caption;
        ::InflateRect(&in, -1, -1);
        TmPaintGradient(canvas, in, gdHorizontalEnd, start, stop, 1);
        break;
    }
    case gsUnderline:
        canvas->GetPen()->SetColor(f);
        Line(canvas, caption.left, caption.bottom, caption.right, caption.bottom);
        break;
    case gsCustom: break;
    }
    if (!GetTransparent() && groupStyle_ != gsBanner)
        canvas->FillRect(caption);
    if (groupStyle_ == gsBanner)
        ::InflateRect(&caption, -4, -1);
    canvas->GetBrush()->SetStyle(bsClear);
    if (!GetEnabled())
        canvas->GetFont()->SetColor(clGrayText);
    else if (GetVisualStyle() == vsWinXP && TmThemesEnabled())
        canvas->GetFont()->SetColor(TmGetThemeColor(6));
    ::SelectClipRgn(dc, nullptr);
    TmDrawText(canvas, TmStripAccelerators(GetCaption()), caption,
               TmAlignmentFlags(GetAlignment()) | DT_VCENTER | DT_SINGLELINE);
    canvas->GetBrush()->SetStyle(bsSolid);
    OnPaint(this);
}

// ============================================================== TTmStatusBar

TTmStatusBar::TTmStatusBar(TComponent* AOwner) : TTmCustomPanel(AOwner)
{
    SetBorderInner(fsNone);
    SetBorderOuter(fsNone);
    SetHeight(19);
    SetAlign(alBottom);
    autoStyle_ = true;
}

TTmStatusBar::~TTmStatusBar() = default;

void TTmStatusBar::ApplyAutoStyle()
{
    const bool keep = autoStyle_;
    SetBorderInner(fsNone);
    SetBorderOuter(fsNone);
    SetBorderSides(sdAllSides);
    SetHeight(19);
    SetBorderWidth(0);
    autoStyle_ = keep;
}

void TTmStatusBar::Loaded()
{
    TTmCustomPanel::Loaded();
    if (autoStyle_)
        ApplyAutoStyle();
}

void TTmStatusBar::SetBorderInner(TFrameStyleEx Value)
{
    if (Value == GetBorderInner()) return;
    autoStyle_ = false;
    TTmCustomPanel::SetBorderInner(Value);
}

void TTmStatusBar::SetBorderOuter(TFrameStyleEx Value)
{
    if (Value == GetBorderOuter()) return;
    autoStyle_ = false;
    TTmCustomPanel::SetBorderOuter(Value);
}

void TTmStatusBar::SetBorderSides(TSides Value)
{
    if (Value == GetBorderSides()) return;
    autoStyle_ = false;
    TTmCustomPanel::SetBorderSides(Value);
}

void TTmStatusBar::SetSimpleStatus(bool Value)
{
    if (Value == simpleStatus_) return;
    simpleStatus_ = Value;
    for (int i = 0; i < GetControlCount(); ++i)
        GetControl(i)->SetVisible(!Value);
    Invalidate();
}

TM_REDRAW_SETTER(TTmStatusBar, SimpleCaption, const std::wstring&, simpleCaption_, Invalidate)
TM_REDRAW_SETTER(TTmStatusBar, SimpleFrameStyle, TFrameStyle, simpleFrameStyle_, Invalidate)

void TTmStatusBar::SetShowSizeGrip(bool Value)
{
    if (Value == showSizeGrip_) return;
    showSizeGrip_ = Value;
    UpdateSizeGripAllowed();
    Invalidate();
}

void TTmStatusBar::UpdateSizeGripAllowed()
{
    TCustomForm* form = ParentForm(GetParent());
    bool allowed = false;
    if (form) {
        const TFormBorderStyle bs = form->GetBorderStyle();
        const bool maximized = form->HandleAllocated() && ::IsZoomed(form->GetHandle());
        allowed = (bs == bsSizeable || bs == bsSizeToolWin) && !maximized;
    }
    sizeGripAllowed_ = allowed;
}

void TTmStatusBar::GetGradientColors(TColor& Start, TColor& Stop)
{
    if (GetGradientColorStyle() == gcsCustom) {
        Start = GetGradientColorStop();
        Stop = GetGradientColorStart();
    } else {
        TColor line;
        TmGetThemedFrameColors(GetGradientColorStyle(), Start, Stop, line);
    }
}

RECT TTmStatusBar::GetClientRect() const
{
    RECT r = TTmCustomPanel::GetClientRect();
    if (!TmThemesEnabled()) {
        r.bottom += 1;
        if (simpleStatus_) {
            r.top = 2;
        } else {
            r.top = 1;
            r.left -= 1;
            r.right += 1;
        }
    } else if (simpleStatus_) {
        r.left += 1;
        r.top += 1;
        r.right -= 1;
    }
    return r;
}

void TTmStatusBar::CreateWnd()
{
    UpdateSizeGripAllowed();
    TTmCustomPanel::CreateWnd();
}

void TTmStatusBar::WndProc(TMessage& Message)
{
    const bool designing = (GetComponentState() & csDesigning) != 0;
    if (Message.Msg == WM_LBUTTONDOWN || Message.Msg == WM_SETCURSOR) {
        POINT p;
        if (Message.Msg == WM_LBUTTONDOWN) {
            p = POINT{GET_X_LPARAM(Message.LParam), GET_Y_LPARAM(Message.LParam)};
        } else {
            ::GetCursorPos(&p);
            p = ScreenToClient(p);
        }
        const RECT grip = GetSizeGripRect();
        if (sizeGripAllowed_ && showSizeGrip_ && !designing && ::PtInRect(&grip, p)) {
            if (Message.Msg == WM_LBUTTONDOWN) {
                ::ReleaseCapture();
                if (TCustomForm* form = ParentForm(GetParent()))
                    ::SendMessageW(form->GetHandle(), WM_SYSCOMMAND, 0xF008, 0);
                Message.Result = 0;
                return;
            }
            ::SetCursor(GetCursorHandle(crSizeNWSE));
            Message.Result = 1;
            return;
        }
    }
    TTmCustomPanel::WndProc(Message);
}

void TTmStatusBar::Resize()
{
    TTmCustomPanel::Resize();
    const int width = GetWidth();
    if (width < 50)
        return;
    if (firstResize_) {
        firstResize_ = false;
        lastWidth_ = width;
        lastWidthChange_ = 0;
    } else {
        lastWidthChange_ = width - lastWidth_;
    }
    const int n = GetControlCount();
    if (autoScalePanes_ && n > 0 && lastWidthChange_ != 0) {
        for (int i = 0; i < n; ++i) {
            TControl* c = GetControl(i);
            const float f = lastWidth_ > 0 ? static_cast<float>(c->GetWidth()) / static_cast<float>(lastWidth_)
                                           : 1.0f / static_cast<float>(n);
            const int grow = static_cast<int>(std::nearbyint(static_cast<double>(lastWidthChange_) * f));
            c->SetWidth(c->GetWidth() + grow);
        }
    }
    lastWidth_ = width;
}

void TTmStatusBar::Paint()
{
    TCanvas* canvas = GetCanvas();
    if (GetVisualStyle() == vsWinXP && TmThemesEnabled()) {
        TTmTheme theme(HandleAllocated() ? GetHandle() : nullptr, L"STATUS");
        RECT all{0, 0, GetWidth(), GetHeight()};
        if (theme)
            ::DrawThemeBackground(theme.Get(), canvas->GetHandle(), 0, 0, &all, nullptr);
        if (simpleStatus_ && !simpleCaption_.empty() && theme) {
            RECT cr = GetClientRect();
            canvas->SetFont(GetFont());
            classlib::TSelectObjectScope sel(canvas->GetHandle(), GetFont()->GetHandle());
            ::DrawThemeText(theme.Get(), canvas->GetHandle(), 0, 0, simpleCaption_.c_str(), -1,
                            DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX, 0, &cr);
        }
        return;
    }
    TTmCustomPanel::Paint();
    if (simpleStatus_) {
        RECT r = GetClientRect();
        r.bottom -= 1;
        DrawSimpleFrame(r);
        ::InflateRect(&r, -1, -1);
        canvas->SetFont(GetFont());
        canvas->GetBrush()->SetStyle(bsClear);
        canvas->TextOut(r.left + 2, r.top + (r.bottom - r.top - canvas->TextHeight(L"Pp")) / 2, simpleCaption_);
        canvas->GetBrush()->SetStyle(bsSolid);
    }
}

void TTmStatusBar::DrawSimpleFrame(RECT R)
{
    TCanvas* canvas = GetCanvas();
    if (GetVisualStyle() == vsWinXP && TmThemesEnabled()) {
        TTmTheme theme(HandleAllocated() ? GetHandle() : nullptr, L"STATUS");
        if (theme)
            ::DrawThemeBackground(theme.Get(), canvas->GetHandle(), SP_PANE, 0, &R, nullptr);
        return;
    }
    if (GetVisualStyle() != vsClassic)
        return;
    canvas->GetPen()->SetWidth(1);
    if (simpleFrameStyle_ == fsFlat) {
        canvas->GetPen()->SetColor(TmShiftColorLuminance(GetFlatColor(), GetFlatColorAdjustment()));
        Line(canvas, R.left, R.top + 1, R.left, R.bottom - 1);
        Line(canvas, R.left + 1, R.top, R.right - 1, R.top);
        Line(canvas, R.right - 1, R.top + 1, R.right - 1, R.bottom - 1);
        Line(canvas, R.left + 1, R.bottom - 1, R.right - 1, R.bottom - 1);
    } else {
        RECT dummy;
        TmPaintFrameStyle(canvas, R, simpleFrameStyle_, dummy);
    }
}

void TTmStatusBar::PaintHandler(TMessage& Message)
{
    auto alive = AliveToken();
    TTmCustomPanel::PaintHandler(Message);
    if (!*alive)
        return;
    UpdateSizeGripAllowed();
    if (!showSizeGrip_ || !sizeGripAllowed_)
        return;
    // Drawn over the panes, which may reach into the grip area.
    std::unique_ptr<TWindowDC> own;
    HDC dc = reinterpret_cast<HDC>(Message.WParam);
    if (!dc) {
        if (!HandleAllocated())
            return;
        own = std::make_unique<TWindowDC>(GetHandle());
        dc = own->Get();
    }
    TCanvasDCScope scope(GetCanvas(), dc);
    RECT r = GetClientRect();
    r.bottom -= 1;
    DrawSizeGrip(r);
}

void TTmStatusBar::DrawSizeGrip(const RECT& R)
{
    TCanvas* canvas = GetCanvas();
    if (GetVisualStyle() == vsWinXP && TmThemesEnabled()) {
        TTmTheme theme(HandleAllocated() ? GetHandle() : nullptr, L"STATUS");
        RECT g{R.right - 20, R.top, R.right, R.bottom};
        if (theme)
            ::DrawThemeBackground(theme.Get(), canvas->GetHandle(), SP_GRIPPER, 0, &g, nullptr);
        return;
    }
    TColor light = clBtnHighlight, dark = clBtnShadow;
    if (GetVisualStyle() == vsGradient) {
        TColor frame;
        TmGetThemedFrameColors(GetGradientColorStyle(), frame, light, dark);
    }
    const RECT boxes[6] = {
        {R.right - 5, R.bottom - 12, R.right - 3, R.bottom - 10},
        {R.right - 5, R.bottom - 8, R.right - 3, R.bottom - 6},
        {R.right - 5, R.bottom - 4, R.right - 3, R.bottom - 2},
        {R.right - 9, R.bottom - 8, R.right - 7, R.bottom - 6},
        {R.right - 9, R.bottom - 4, R.right - 7, R.bottom - 2},
        {R.right - 13, R.bottom - 4, R.right - 11, R.bottom - 2},
    };
    for (int pass = 0; pass < 2; ++pass) {
        const TColor c = pass == 0 ? light : dark;
        const int d = pass == 0 ? 0 : -1;
        canvas->GetPen()->SetColor(c);
        canvas->GetBrush()->SetStyle(bsSolid);
        canvas->GetBrush()->SetColor(c);
        for (const RECT& b : boxes)
            canvas->Rectangle(b.left + d, b.top + d, b.right + d, b.bottom + d);
    }
}

}  // namespace themed
