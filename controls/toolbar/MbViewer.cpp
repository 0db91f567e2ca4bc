// Item viewers: measuring and painting one entry in the flat or classic
// look (menu entries, toolbar buttons, separators), and a viewer's mouse
// handling and click queueing.
#include "controls/toolbar/MbItem.h"

#include <algorithm>

#include "classlib/Forms.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "controls/toolbar/MbAcc.h"
#include "controls/toolbar/MbCommon.h"
#include "controls/toolbar/MbItemInternal.h"

namespace toolbar {

using detail::HostHandle;

// ---------------------------------------------------------------- viewers

namespace {

void FillSolid(classlib::TCanvas* Canvas, const RECT& R, classlib::TColor Color)
{
    Canvas->GetBrush()->SetColor(Color);
    Canvas->FillRect(R);
}

void FrameSolid(classlib::TCanvas* Canvas, const RECT& R, classlib::TColor Color)
{
    Canvas->GetBrush()->SetColor(Color);
    Canvas->FrameRect(R);
}

void Edge(classlib::TCanvas* Canvas, RECT R, UINT EdgeKind, UINT Flags)
{
    ::DrawEdge(Canvas->GetHandle(), &R, EdgeKind, Flags);
}

UINT EdgeFor(bool Sunken) { return Sunken ? BDR_SUNKENOUTER : BDR_RAISEDINNER; }

}  // namespace

classlib::TColor FlatStripColor(classlib::TColor LeftCol, classlib::TColor BkgrCol)
{
    // Only a system colour is shaded: a colour chosen for the item is kept.
    if (!(static_cast<uint32_t>(LeftCol) & 0x80000000u)) return LeftCol;
    const auto left = static_cast<uint32_t>(classlib::ColorToRGB(LeftCol));
    const auto back = static_cast<uint32_t>(classlib::ColorToRGB(BkgrCol));
    int diff = 0;
    for (int shift = 0; shift < 24; shift += 8)
        diff = std::max(diff, std::abs(static_cast<int>((left >> shift) & 255) - static_cast<int>((back >> shift) & 255)));
    if (diff >= 24) return LeftCol;
    // Too close to the background to be seen: a third of the way to the
    // button shadow colour.
    const auto shadow = static_cast<uint32_t>(classlib::ColorToRGB(classlib::clBtnShadow));
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t a = (left >> shift) & 255, b = (shadow >> shift) & 255;
        out |= ((2 * a + b) / 3) << shift;
    }
    return static_cast<classlib::TColor>(out);
}

namespace {

// The dither of clBtnFace and clBtnHighlight that marks checked entries.
void FillCheckedPattern(classlib::TCanvas* Canvas, const RECT& R)
{
    const COLORREF face = static_cast<COLORREF>(classlib::ColorToRGB(classlib::clBtnFace));
    const COLORREF light = static_cast<COLORREF>(classlib::ColorToRGB(classlib::clBtnHighlight));
    HDC dc = Canvas->GetHandle();
    for (int y = R.top; y < R.bottom; ++y)
        for (int x = R.left; x < R.right; ++x) ::SetPixelV(dc, x, y, ((x + y) & 1) ? light : face);
}

SIZE TextSize(classlib::TCanvas* Canvas, const std::wstring& Text, TEXTMETRICW* Metrics = nullptr)
{
    HDC dc = Canvas->GetHandle();
    classlib::TSelectObjectScope selectFont(dc, Canvas->GetFont()->GetHandle());
    SIZE size{};
    ::GetTextExtentPoint32W(dc, Text.c_str(), static_cast<int>(Text.size()), &size);
    if (Metrics) ::GetTextMetricsW(dc, Metrics);
    return size;
}

void Triangle(classlib::TCanvas* Canvas, const RECT& A, bool Left, bool Shadow, classlib::TColor Color)
{
    const int cx = (A.left + A.right) / 2, cy = (A.top + A.bottom) / 2;
    auto draw = [&](int d, classlib::TColor c) {
        std::vector<POINT> pts = Left ? std::vector<POINT>{{cx - 1 + d, cy + 2 + d}, {cx - 1 + d, cy - 2 + d}, {cx - 3 + d, cy + d}}
                                      : std::vector<POINT>{{cx - 2 + d, cy - 1 + d}, {cx + 2 + d, cy - 1 + d}, {cx + d, cy + 1 + d}};
        Canvas->GetPen()->SetColor(c);
        Canvas->GetBrush()->SetColor(c);
        Canvas->Polygon(pts);
    };
    if (Shadow) {
        draw(1, classlib::clBtnHighlight);
        draw(0, classlib::clBtnShadow);
    } else {
        draw(0, Color);
    }
}

// The system's menu arrow, its black pixels filled with Color at (X, Y).
void MenuArrow(classlib::TCanvas* Canvas, int X, int Y, classlib::TColor Color)
{
    const int w = ::GetSystemMetrics(SM_CXMENUCHECK), h = ::GetSystemMetrics(SM_CYMENUCHECK);
    HDC dc = Canvas->GetHandle();
    classlib::TOwnedDC mem(::CreateCompatibleDC(dc));
    classlib::TOwnedBitmap mono(::CreateBitmap(w, h, 1, 1, nullptr));
    classlib::TSelectObjectScope selectBitmap(mem.Get(), mono.Get());
    RECT r{0, 0, w, h};
    ::DrawFrameControl(mem.Get(), &r, DFC_MENU, DFCS_MENUARROW);
    classlib::TOwnedBrush brush(::CreateSolidBrush(static_cast<COLORREF>(classlib::ColorToRGB(Color))));
    classlib::TSelectObjectScope selectBrush(dc, brush.Get());
    const COLORREF text = ::SetTextColor(dc, RGB(255, 255, 255)), back = ::SetBkColor(dc, RGB(0, 0, 0));
    ::BitBlt(dc, X, Y, w, h, mem.Get(), 0, 0, 0x00E20746);
    ::SetTextColor(dc, text);
    ::SetBkColor(dc, back);
}

}  // namespace

int FlatStripWidth()
{
    HDC screen = ::GetDC(nullptr);
    const int ppi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return ppi == 120 ? 22 : 20;
}

bool AccelsHidden(const TMbView* View)
{
    return !KeyboardCuesOn() && View && (View->ViewStyle & vsHideAccels) && !(View->RunFlags & rfAccelsShown);
}

TMbItemViewer* TMbCustomItem::CreateViewer(TMbView* View, int NestLevel)
{
    return new TMbItemViewer(View, this, NestLevel);
}

TMbItemViewer* TMbSeparatorItem::CreateViewer(TMbView* View, int NestLevel)
{
    return new TMbSeparatorItemViewer(View, this, NestLevel);
}

TMbItemViewer::TMbItemViewer(TMbView* AView, TMbCustomItem* AItem, int ANestLevel)
    : NestLevel(ANestLevel), EntryItem(AItem), OwnerView(AView)
{
    CountInstance();
}

TMbItemViewer::~TMbItemViewer()
{
    if (AccObject) MbAccOwnerGone(AccObject);
    CancelDeferred(this);
    UncountInstance();
}

bool TMbItemViewer::HasToolbarStyle() const
{
    return (OwnerView && OwnerView->IsToolbarView) || (EntryItem->GetEffectiveOptions() & tboToolbarStyle);
}

bool TMbItemViewer::HasToolbarSize() const
{
    return (OwnerView && OwnerView->IsToolbarView) || (EntryItem->GetEffectiveOptions() & tboToolbarSize);
}

bool TMbItemViewer::TextRotated() const
{
    return OwnerView && OwnerView->Axis == laVertical &&
           !(EntryItem->GetEffectiveOptions() & (tboNoRotation | tboImageAboveCaption));
}

classlib::TCustomImageList* TMbItemViewer::ImageList() const
{
    if (EntryItem->GetImages()) return EntryItem->GetImages();
    for (const TMbView* v = OwnerView; v; v = v->UpperView) {
        if (v->ShownItem && v->ShownItem->GetSubMenuImages()) return v->ShownItem->GetSubMenuImages();
        if (v->SourceItem && v->SourceItem->GetSubMenuImages()) return v->SourceItem->GetSubMenuImages();
    }
    return nullptr;
}

bool TMbItemViewer::ShowsImage() const
{
    const TMbItemDisplayMode mode = EntryItem->GetDisplayMode();
    return EntryItem->GetImageIndex() >= 0 &&
           (mode == nbdmDefault || mode == nbdmImageAndText || (HasToolbarStyle() && mode == nbdmTextOnlyInMenus));
}

bool TMbItemViewer::ShowsCaption() const
{
    const TMbItemDisplayMode mode = EntryItem->GetDisplayMode();
    if (!CaptionText().empty() && (!HasToolbarSize() || EntryItem->GetImageIndex() < 0 || mode == nbdmTextOnly ||
                                   mode == nbdmImageAndText))
        return true;
    return (EntryItem->GetEffectiveOptions() & tboImageAboveCaption) != 0;
}

std::wstring TMbItemViewer::HintText() const
{
    const std::wstring& hint = EntryItem->Hint;
    std::wstring text = hint.substr(0, hint.find(L'|'));
    const TMbItemKinds kinds = EntryItem->GetKinds();
    if (text.empty() && !(EntryItem->GetEffectiveOptions() & tboNoAutoHint) &&
        (!(kinds & ikSubmenu) || (kinds & ikCombo) || !ShowsCaption())) {
        text = RemoveAccelMarks(TrimEllipsisOrColon(CaptionText()));
    }
    if (auto* action = dynamic_cast<classlib::TCustomAction*>(EntryItem->GetAction()))
        if (!action->DoHint(text)) text.clear();
    if (!text.empty() && classlib::Application && classlib::Application->HintShortCuts && EntryItem->GetShortCut())
        text += L" (" + ShortCutToText(EntryItem->GetShortCut()) + L")";
    return text;
}

bool TMbItemViewer::InButtonPart(int X, int Y) const
{
    (void)Y;
    const TMbItemKinds kinds = EntryItem->GetKinds();
    if (kinds & ikCombo)
        return X < (EntryRect.right - EntryRect.left) -
                       (HasToolbarStyle() ? 11 : ::GetSystemMetrics(SM_CXMENUCHECK));
    return !(kinds & ikSubmenu);
}

bool TMbItemViewer::SameWidthWanted() const
{
    const TMbItemOptions both = tboImageAboveCaption | tboSameWidth;
    return (EntryItem->GetEffectiveOptions() & both) == both && HasToolbarSize();
}

int TMbItemViewer::AccRole() const
{
    if (dynamic_cast<TMbControlItem*>(EntryItem)) return 10;
    if (EntryItem->GetKinds() & ikSeparator) return 21;
    if (OwnerView && (OwnerView->IsPopupView || (OwnerView->ViewStyle & vsMenuBar))) return 12;
    return (EntryItem->GetKinds() & ikSubmenu) ? 57 : 43;
}

void TMbItemViewer::EnterSelection() { EntryItem->OnSelect(EntryItem, this, true); }

void TMbItemViewer::LeaveSelection() { EntryItem->OnSelect(EntryItem, this, false); }

void TMbItemViewer::MeasureSize(classlib::TCanvas* Canvas, int& AWidth, int& AHeight)
{
    const bool toolbar = HasToolbarStyle();
    TEXTMETRICW tm{};
    const SIZE caption = TextSize(Canvas, RemoveAccelMarks(CaptionText()), &tm);
    classlib::TCustomImageList* images = ImageList();
    const TMbItemOptions options = EntryItem->GetEffectiveOptions();
    const int pad = toolbar ? 6 : 0;
    if (!toolbar || ShowsCaption()) {
        if (TextRotated()) {
            AWidth += tm.tmHeight;
            AHeight += caption.cx + pad;
        } else {
            AHeight += tm.tmHeight;
            AWidth += caption.cx + pad;
        }
    }
    if (toolbar) {
        if (ShowsImage() && images) {
            if (TextRotated() || (options & tboImageAboveCaption)) {
                AHeight += images->GetHeight();
                AWidth = std::max(AWidth, images->GetWidth() + 7);
            } else {
                AWidth += images->GetWidth() + 1;
                AHeight = std::max(AHeight, images->GetHeight() + 6);
            }
        }
        if (EntryItem->GetKinds() & ikSubmenu) {
            if (EntryItem->GetKinds() & ikCombo) AWidth += 11;
            else if (options & tboDropdownArrow) (OwnerView && OwnerView->Axis == laVertical ? AHeight : AWidth) += 8;
        }
        return;
    }
    AHeight = tm.tmHeight + tm.tmExternalLeading + 4;
    int column = AHeight;
    if (images) {
        if (images->GetHeight() + 3 > AHeight) AHeight = images->GetHeight() + 3;
        column = ::MulDiv(images->GetWidth() + 3, AHeight, images->GetHeight() + 3);
    }
    AWidth += column + 6;
    const std::wstring shortcut = EntryItem->ShortCutText();
    if (!shortcut.empty()) AWidth += TextSize(Canvas, shortcut).cx + AHeight + 6;
    AWidth += AHeight;
}

void TMbItemViewer::DrawEntryText(classlib::TCanvas* Canvas, RECT Rect, const std::wstring& Caption,
                                  bool UseDisabledShadow, UINT Format)
{
    HDC dc = Canvas->GetHandle();
    classlib::TSelectObjectScope selectFont(dc, Canvas->GetFont()->GetHandle());
    const int mode = ::SetBkMode(dc, TRANSPARENT);
    const COLORREF previous =
        ::SetTextColor(dc, static_cast<COLORREF>(classlib::ColorToRGB(Canvas->GetFont()->GetColor())));
    const bool rotated = TextRotated();
    auto draw = [&](const RECT& R) {
        RECT r = R;
        if (rotated) DrawVerticalText(dc, Caption, r, Format);
        else ::DrawTextW(dc, Caption.c_str(), static_cast<int>(Caption.size()), &r, Format);
    };
    if (UseDisabledShadow) {
        RECT shifted = Rect;
        ::OffsetRect(&shifted, 1, 1);
        ::SetTextColor(dc, ::GetSysColor(COLOR_BTNHIGHLIGHT));
        draw(shifted);
        ::SetTextColor(dc, ::GetSysColor(COLOR_BTNSHADOW));
    }
    draw(Rect);
    ::SetTextColor(dc, previous);
    ::SetBkMode(dc, mode);
}

namespace {

// One paint of an entry: what the steps share, worked out once from the
// item, its view and the canvas as the caller prepared it. R is the content
// rectangle, which the toolbar frame step shrinks and shifts for the rest.
struct TEntryPaint {
    TMbItemViewer& V;
    classlib::TCanvas* Canvas;
    const RECT& ClientAreaRect;
    const bool IsSelected, IsPushed;
    bool UseDisabledShadow;

    TMbCustomItem* const Item = V.EntryItem;
    const TMbItemKinds Kinds = Item->GetKinds();
    const TMbItemOptions Options = Item->GetEffectiveOptions();
    const bool Toolbar = V.HasToolbarStyle();
    const bool Vertical = V.OwnerView && V.OwnerView->Axis == laVertical;
    const bool Captured = V.OwnerView && V.OwnerView->MouseCaptured;
    const bool Designing = (Item->GetComponentState() & classlib::csDesigning) != 0;
    const int Strip = FlatStripWidth();
    const bool ShowEnabled = Item->GetEnabled() || (V.OwnerView && V.OwnerView->InCustomizeMode);
    classlib::TCustomImageList* const Images = V.ImageList();
    const int Height = ClientAreaRect.bottom - ClientAreaRect.top;
    const int ImageColumn =
        Toolbar ? 0 : (Images ? ::MulDiv(Images->GetWidth() + 3, Height, Images->GetHeight() + 3) : Height);
    const int CheckW = ::GetSystemMetrics(SM_CXMENUCHECK), CheckH = ::GetSystemMetrics(SM_CYMENUCHECK);
    const bool HasArrow = (Kinds & ikSubmenu) && ((Kinds & ikCombo) || (Options & tboDropdownArrow));
    const bool Tag99 = Item->GetTag() == 99;
    const classlib::TBrushStyle PreparedStyle = Canvas->GetBrush()->GetStyle();
    const classlib::TColor PreparedColor = Canvas->GetBrush()->GetColor();
    RECT R = ClientAreaRect;

    // Text state, set by PrepareText.
    classlib::TFont* Font = nullptr;
    TEXTMETRICW Tm{};
    UINT Hide = 0;

    void PaintBackground();
    void PaintToolbarFrame();
    void PaintMenuHighlight();
    void PrepareText();
    void AdjustVertically(RECT& T) const;
    void PaintCaption();
    void PaintShortcutAndArrow();
    void PaintImageOrCheck();
};

// The selection colours of a tag-99 entry, and the flat look's background
// with its strip.
void TEntryPaint::PaintBackground()
{
    if (IsSelected && Tag99) {
        FillSolid(Canvas, R, Item->GetXPItemSelBkgrCol());
        FrameSolid(Canvas, R, Item->GetXPItemOutlineCol());
    }
    if (Item->DisplayXP) UseDisabledShadow = false;
    if (Item->DisplayXP && !Tag99) {
        FillSolid(Canvas, R, Item->XPItemBkgrCol);
        FillSolid(Canvas, RECT{R.left, R.top, Strip, R.bottom},
                  FlatStripColor(Item->XPItemLeftCol, Item->XPItemBkgrCol));
    }
}

// A toolbar button's edges, dropdown arrow and checked pattern; leaves R as
// the content area, pushed in when the button is down.
void TEntryPaint::PaintToolbarFrame()
{
    RECT a{};
    if (HasArrow) {
        if (Kinds & ikCombo) {
            R.right -= 2;
            a = RECT{R.right - 9, R.top, R.right, R.bottom};
            R.right -= 9;
        } else if (Vertical) {
            a = RECT{0, R.bottom - 11, R.right, R.bottom - 3};
        } else {
            a = RECT{R.right - 11, 0, R.right - 3, R.bottom};
        }
    }
    if ((IsSelected && ShowEnabled) || Item->GetChecked() || Designing) {
        if (Kinds & ikCombo) {
            Edge(Canvas, R, EdgeFor((IsPushed && Captured) || Item->GetChecked()), BF_RECT);
            if ((IsSelected && ShowEnabled) || Designing) Edge(Canvas, a, EdgeFor(IsPushed && !Captured), BF_RECT);
        } else {
            Edge(Canvas, R, EdgeFor(IsPushed || Item->GetChecked()), BF_RECT);
        }
    }
    if (HasArrow) {
        if (!(Kinds & ikCombo) && IsPushed) ::OffsetRect(&a, 1, 1);
        Triangle(Canvas, a, !(Kinds & ikCombo) && Vertical, UseDisabledShadow, Canvas->GetFont()->GetColor());
    }
    ::InflateRect(&R, -1, -1);
    if (Item->GetChecked() && !(IsSelected && ShowEnabled)) {
        FillCheckedPattern(Canvas, R);
        Canvas->GetBrush()->SetStyle(classlib::bsClear);
    }
    ::InflateRect(&R, -1, -1);
    if (Item->GetChecked() || (IsSelected && IsPushed && (!(Kinds & ikCombo) || Captured))) ::OffsetRect(&R, 1, 1);
    if (HasArrow && !(Kinds & ikCombo)) (Vertical ? R.bottom : R.right) -= 8;
}

// The highlight of a selected menu entry: the flat look's colours beside the
// image column, else the brush the caller prepared.
void TEntryPaint::PaintMenuHighlight()
{
    RECT h = R;
    if (Item->DisplayXP) h.left = R.left + ImageColumn + 1;
    if ((Kinds & ikCombo) && ShowEnabled) h.right -= CheckW;
    if (Item->GetEnabled()) {
        if (Item->DisplayXP) {
            FillSolid(Canvas, h, Item->GetXPItemSelBkgrCol());
            FrameSolid(Canvas, h, Item->GetXPItemOutlineCol());
        } else {
            Canvas->GetBrush()->SetColor(PreparedColor);
            Canvas->GetBrush()->SetStyle(PreparedStyle);
            Canvas->FillRect(h);
        }
    } else if (!Item->DisplayXP) {
        Canvas->GetBrush()->SetColor(PreparedColor);
        Canvas->GetBrush()->SetStyle(PreparedStyle);
        Canvas->FillRect(h);
    }
}

void TEntryPaint::PrepareText()
{
    Canvas->GetBrush()->SetStyle(classlib::bsClear);
    Font = Canvas->GetFont();
    if (Options & tboDefault) Font->SetStyle(Font->GetStyle() | classlib::fsBold);
    TextSize(Canvas, L"", &Tm);
    Hide = AccelsHidden(V.OwnerView) ? DT_HIDEPREFIX : 0;
}

void TEntryPaint::AdjustVertically(RECT& T) const
{
    if ((T.bottom - T.top) - (Tm.tmHeight + Tm.tmExternalLeading) == 4) T.bottom -= 1;
    T.top += Tm.tmExternalLeading;
}

// The caption: centred beside or under the image on a button, after the
// image column in a menu (in the flat look's text colours).
void TEntryPaint::PaintCaption()
{
    if (!V.ShowsCaption()) return;
    RECT t = R;
    if (Toolbar) {
        if (V.ShowsImage() && Images) {
            if (V.TextRotated() || (Options & tboImageAboveCaption)) t.top += Images->GetHeight() + 1;
            else t.left += Images->GetWidth() + 1;
        }
        V.DrawEntryText(Canvas, t, V.CaptionText(), UseDisabledShadow, Hide | DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    } else {
        t.left += ImageColumn + 5;
        AdjustVertically(t);
        if (IsSelected && Item->DisplayXP && Item->GetEnabled()) Font->SetColor(Item->XPItemSelTxtCol);
        if (Item->DisplayXP && !Item->GetEnabled()) Font->SetColor(Item->XPItemUnactTxtCol);
        V.DrawEntryText(Canvas, t, V.CaptionText(), UseDisabledShadow, Hide | DT_VCENTER | DT_SINGLELINE);
    }
}

// A menu entry's shortcut text at the right, and a submenu's arrow (with
// the split edge of a dropdown combo).
void TEntryPaint::PaintShortcutAndArrow()
{
    const std::wstring shortcut = Item->ShortCutText();
    if (!shortcut.empty()) {
        RECT t = R;
        t.left = t.right - TextSize(Canvas, RemoveAccelMarks(shortcut)).cx - 8;
        AdjustVertically(t);
        V.DrawEntryText(Canvas, t, shortcut, UseDisabledShadow, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    }
    if (!(Kinds & ikSubmenu)) return;
    if (Kinds & ikCombo) {
        RECT t = R;
        t.left = R.right - CheckW;
        if (IsSelected && ShowEnabled) {
            Edge(Canvas, t, BDR_SUNKENOUTER, BF_RECT | BF_MIDDLE);
        } else {
            t.left -= 1;
            Edge(Canvas, t, IsSelected ? BDR_SUNKENOUTER : EDGE_ETCHED, BF_LEFT);
        }
    }
    const int ax = ClientAreaRect.right - CheckW, ay = ClientAreaRect.top + (Height - CheckH) / 2;
    if (UseDisabledShadow) {
        MenuArrow(Canvas, ax + 1, ay + 1, classlib::clBtnHighlight);
        MenuArrow(Canvas, ax, ay, classlib::clBtnShadow);
    } else if ((Kinds & ikCombo) && IsSelected && ShowEnabled) {
        MenuArrow(Canvas, ax + 1, ay + 1, classlib::clBtnText);
    } else {
        MenuArrow(Canvas, ax, ay, Font->GetColor());
    }
    Canvas->GetBrush()->SetStyle(classlib::bsClear);
}

// The image centred in its box, or in a menu without one the check mark or
// radio dot of a checked entry; a menu's box is edged when selected or
// checked.
void TEntryPaint::PaintImageOrCheck()
{
    const bool image = V.ShowsImage() && Images;
    if (!(image || (!Toolbar && Item->GetChecked()))) return;
    RECT b = R;
    if (Toolbar) {
        if (V.TextRotated() || (Options & tboImageAboveCaption)) b.bottom = b.top + Images->GetHeight() + 2;
        else b.right = b.left + Images->GetWidth() + 2;
    } else {
        b.right = b.left + ImageColumn;
        if ((IsSelected && ShowEnabled) || Item->GetChecked())
            Edge(Canvas, b, EdgeFor(Item->GetChecked()), BF_RECT | BF_MIDDLE);
        if (Item->GetChecked() && !IsSelected) {
            ::InflateRect(&b, -1, -1);
            FillCheckedPattern(Canvas, b);
            Canvas->GetBrush()->SetStyle(classlib::bsClear);
            ::InflateRect(&b, 1, 1);
        }
        if (Item->GetChecked()) ::OffsetRect(&b, 1, 1);
    }
    if (image) {
        const int x = b.left + ((b.right - b.left) - Images->GetWidth()) / 2;
        const int y = b.top + ((b.bottom - b.top) - Images->GetHeight()) / 2;
        if (auto* states = dynamic_cast<TMbCustomImageList*>(Images))
            states->DrawForState(Canvas, x, y, Item->GetImageIndex(), ShowEnabled, IsSelected, Item->GetChecked());
        else
            Images->Draw(Canvas, x, y, Item->GetImageIndex(), ShowEnabled);
        return;
    }
    const int cx = (b.left + b.right) / 2, cy = (b.top + b.bottom) / 2;
    if (Item->GetRadioItem()) {
        Canvas->GetPen()->SetColor(classlib::clBtnText);
        Canvas->GetBrush()->SetColor(classlib::clBtnText);
        Canvas->RoundRect(cx - 3, cy - 3, cx + 2, cy + 2, 2, 2);
        Canvas->GetPen()->SetColor(classlib::clBtnHighlight);
        Canvas->GetBrush()->SetStyle(classlib::bsClear);
        Canvas->RoundRect(cx - 4, cy - 4, cx + 3, cy + 3, 6, 6);
    } else {
        static const POINT kMark[] = {{-2, -2}, {0, 0}, {4, -4}, {4, -3}, {0, 1}, {-2, -1}, {-2, -2}};
        std::vector<POINT> pts;
        for (const POINT& p : kMark) pts.push_back(POINT{cx - 2 + p.x, cy + 1 + p.y});
        Canvas->GetPen()->SetColor(classlib::clBtnText);
        Canvas->Polyline(pts);
    }
}

}  // namespace

void TMbItemViewer::Paint(classlib::TCanvas* Canvas, const RECT& ClientAreaRect, bool IsSelected, bool IsPushed,
                          bool UseDisabledShadow)
{
    TEntryPaint p{*this, Canvas, ClientAreaRect, IsSelected, IsPushed, UseDisabledShadow};
    p.PaintBackground();
    if (p.Toolbar) p.PaintToolbarFrame();
    else if (IsSelected) p.PaintMenuHighlight();
    p.PrepareText();
    p.PaintCaption();
    if (!p.Toolbar) p.PaintShortcutAndArrow();
    p.PaintImageOrCheck();
}

void TMbSeparatorItemViewer::MeasureSize(classlib::TCanvas* Canvas, int& AWidth, int& AHeight)
{
    (void)Canvas;
    if (HasToolbarStyle()) {
        AWidth = 6;
        AHeight = 6;
    } else {
        AHeight = 10;
    }
}

void TMbSeparatorItemViewer::Paint(classlib::TCanvas* Canvas, const RECT& ClientAreaRect, bool IsSelected,
                                   bool IsPushed, bool UseDisabledShadow)
{
    (void)IsSelected;
    (void)IsPushed;
    (void)UseDisabledShadow;
    auto* separator = dynamic_cast<TMbSeparatorItem*>(EntryItem);
    if (separator && separator->GetBlank()) return;
    const int strip = FlatStripWidth();
    const bool flat = EntryItem->DisplayXP;
    if (flat) {
        FillSolid(Canvas, ClientAreaRect, EntryItem->XPItemBkgrCol);
        FillSolid(Canvas, RECT{0, ClientAreaRect.top, strip, ClientAreaRect.bottom},
                  FlatStripColor(EntryItem->XPItemLeftCol, EntryItem->XPItemBkgrCol));
    }
    RECT r = ClientAreaRect;
    if (flat) r.left = strip;
    const bool toolbar = HasToolbarStyle();
    const bool lineBreak = (PaintFlags & pfLineBreak) != 0;
    bool horizontal = !toolbar || (OwnerView && OwnerView->Axis == laVertical);
    if (lineBreak) horizontal = !horizontal;
    if (horizontal) {
        r.top = r.bottom / 2 - 1;
        if (toolbar && lineBreak) {
            const int d = (OwnerView && OwnerView->Axis == laFloating) ? 1 : 4;
            ::InflateRect(&r, -d, 0);
        }
        if (flat) {
            Canvas->MoveTo(strip, 1);
            Canvas->LineTo(r.right, 1);
        } else {
            Edge(Canvas, r, EDGE_ETCHED, BF_BOTTOM);
        }
    } else {
        r.left = r.right / 2 - 1;
        if (lineBreak) ::InflateRect(&r, 0, -4);
        Edge(Canvas, r, EDGE_ETCHED, BF_LEFT);
    }
}


// --------------------------------------------------------- viewer mouse

void TMbItemViewer::AccFocusEvent(WPARAM WParam)
{
    (void)WParam;
    const int index = OwnerView->IndexOfViewer(this);
    if (HWND wnd = HostHandle(OwnerView)) MbNotifyAccEvent(EVENT_OBJECT_FOCUS, wnd, OBJID_CLIENT, index + 1);
}

bool TMbItemViewer::QueueClick()
{
    OwnerView->FinishWithClick(this);
    return true;
}

void TMbItemViewer::Trigger(bool Promote)
{
    TMbView* view = OwnerView;
    if (QueueClick() && Promote) view->PromoteViewer(this);
}

POINT TMbItemViewer::ScreenToViewer(POINT Screen) const
{
    POINT p = Screen;
    if (HWND wnd = HostHandle(OwnerView)) ::ScreenToClient(wnd, &p);
    return POINT{p.x - EntryRect.left, p.y - EntryRect.top};
}

void TMbItemViewer::CaptureLost() { OwnerView->InvalidateViewer(this); }

void TMbItemViewer::MouseDown(classlib::TShiftState Shift, int X, int Y, bool& MouseDownOnMenu)
{
    TMbView* view = OwnerView;
    const bool topLevelBar = !view->UpperView && !view->IsPopupView;
    if (!EntryItem->GetEnabled()) {
        if (topLevelBar) view->FinishCancel();
        return;
    }
    if (!InButtonPart(X, Y)) {
        const bool wasOpen = view->OpenSubViewer == this;
        if (!view->OpenSelectedPopup(false)) return;
        if (wasOpen && topLevelBar) MouseDownOnMenu = true;  // a second press on an open menu-bar entry
        if ((Shift & classlib::ssDouble) && !(EntryItem->GetKinds() & ikCombo) && view->OpenSubView) {
            // A double click runs the submenu's default entry.
            TMbView* sub = view->OpenSubView;
            for (TMbItemViewer* v : sub->ViewerList) {
                TMbCustomItem* item = v->EntryItem;
                if ((v->Placed || v->ScrolledAway) && item->GetVisible() && item->GetEnabled() &&
                    (item->GetKinds() & ikSelectable) && (item->GetEffectiveOptions() & tboDefault)) {
                    v->Trigger(true);
                    break;
                }
            }
        }
        return;
    }
    if (HasToolbarStyle()) {
        view->LeaveMenuMode();
        view->CaptureMouse();
        view->InvalidateViewer(this);
    }
}

void TMbItemViewer::MouseUp(int X, int Y, bool MouseWasDownOnMenu)
{
    TMbView* view = OwnerView;
    const bool wasCaptured = view->MouseCaptured;
    view->UncaptureMouse();
    const bool topLevelBar = !view->UpperView && !view->IsPopupView;
    const bool clickable = EntryItem->GetEnabled() && !(EntryItem->GetKinds() & ikNoClick);
    if (view->PointerOnSelected && view->SelectedViewer == this && clickable) {
        if ((EntryItem->GetKinds() & ikSubmenu) && !InButtonPart(X, Y)) {
            if (topLevelBar && MouseWasDownOnMenu) view->FinishCancel();  // the second press closes the menu
        } else if (wasCaptured || !HasToolbarStyle()) {
            Trigger(true);
        }
        return;
    }
    if (topLevelBar) view->FinishCancel();
}

}  // namespace toolbar
