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
    HGDIOBJ old = ::SelectObject(dc, Canvas->GetFont()->GetHandle());
    SIZE size{};
    ::GetTextExtentPoint32W(dc, Text.c_str(), static_cast<int>(Text.size()), &size);
    if (Metrics) ::GetTextMetricsW(dc, Metrics);
    ::SelectObject(dc, old);
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
    HGDIOBJ oldBmp = ::SelectObject(mem.Get(), mono.Get());
    RECT r{0, 0, w, h};
    ::DrawFrameControl(mem.Get(), &r, DFC_MENU, DFCS_MENUARROW);
    classlib::TOwnedBrush brush(::CreateSolidBrush(static_cast<COLORREF>(classlib::ColorToRGB(Color))));
    HGDIOBJ oldBrush = ::SelectObject(dc, brush.Get());
    const COLORREF text = ::SetTextColor(dc, RGB(255, 255, 255)), back = ::SetBkColor(dc, RGB(0, 0, 0));
    ::BitBlt(dc, X, Y, w, h, mem.Get(), 0, 0, 0x00E20746);
    ::SetTextColor(dc, text);
    ::SetBkColor(dc, back);
    ::SelectObject(dc, oldBrush);
    ::SelectObject(mem.Get(), oldBmp);
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
    HGDIOBJ old = ::SelectObject(dc, Canvas->GetFont()->GetHandle());
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
    ::SelectObject(dc, old);
}

void TMbItemViewer::Paint(classlib::TCanvas* Canvas, const RECT& ClientAreaRect, bool IsSelected, bool IsPushed,
                          bool UseDisabledShadow)
{
    TMbCustomItem* item = EntryItem;
    const TMbItemKinds kinds = item->GetKinds();
    const TMbItemOptions options = item->GetEffectiveOptions();
    const bool toolbar = HasToolbarStyle();
    const bool vertical = OwnerView && OwnerView->Axis == laVertical;
    const bool captured = OwnerView && OwnerView->MouseCaptured;
    const bool designing = (item->GetComponentState() & classlib::csDesigning) != 0;
    const int strip = FlatStripWidth();
    const bool showEnabled = item->GetEnabled() || (OwnerView && OwnerView->InCustomizeMode);
    classlib::TCustomImageList* images = ImageList();
    const int height = ClientAreaRect.bottom - ClientAreaRect.top;
    const int imageColumn =
        toolbar ? 0 : (images ? ::MulDiv(images->GetWidth() + 3, height, images->GetHeight() + 3) : height);
    const int checkW = ::GetSystemMetrics(SM_CXMENUCHECK), checkH = ::GetSystemMetrics(SM_CYMENUCHECK);
    const bool hasArrow = (kinds & ikSubmenu) && ((kinds & ikCombo) || (options & tboDropdownArrow));
    const bool tag99 = item->GetTag() == 99;
    const classlib::TBrushStyle preparedStyle = Canvas->GetBrush()->GetStyle();
    const classlib::TColor preparedColor = Canvas->GetBrush()->GetColor();
    RECT r = ClientAreaRect;

    if (IsSelected && tag99) {
        FillSolid(Canvas, r, item->GetXPItemSelBkgrCol());
        FrameSolid(Canvas, r, item->GetXPItemOutlineCol());
    }
    if (item->DisplayXP) UseDisabledShadow = false;
    if (item->DisplayXP && !tag99) {
        FillSolid(Canvas, r, item->XPItemBkgrCol);
        FillSolid(Canvas, RECT{r.left, r.top, strip, r.bottom}, FlatStripColor(item->XPItemLeftCol, item->XPItemBkgrCol));
    }

    if (toolbar) {
        RECT a{};
        if (hasArrow) {
            if (kinds & ikCombo) {
                r.right -= 2;
                a = RECT{r.right - 9, r.top, r.right, r.bottom};
                r.right -= 9;
            } else if (vertical) {
                a = RECT{0, r.bottom - 11, r.right, r.bottom - 3};
            } else {
                a = RECT{r.right - 11, 0, r.right - 3, r.bottom};
            }
        }
        if ((IsSelected && showEnabled) || item->GetChecked() || designing) {
            if (kinds & ikCombo) {
                Edge(Canvas, r, EdgeFor((IsPushed && captured) || item->GetChecked()), BF_RECT);
                if ((IsSelected && showEnabled) || designing) Edge(Canvas, a, EdgeFor(IsPushed && !captured), BF_RECT);
            } else {
                Edge(Canvas, r, EdgeFor(IsPushed || item->GetChecked()), BF_RECT);
            }
        }
        if (hasArrow) {
            if (!(kinds & ikCombo) && IsPushed) ::OffsetRect(&a, 1, 1);
            Triangle(Canvas, a, !(kinds & ikCombo) && vertical, UseDisabledShadow, Canvas->GetFont()->GetColor());
        }
        ::InflateRect(&r, -1, -1);
        if (item->GetChecked() && !(IsSelected && showEnabled)) {
            FillCheckedPattern(Canvas, r);
            Canvas->GetBrush()->SetStyle(classlib::bsClear);
        }
        ::InflateRect(&r, -1, -1);
        if (item->GetChecked() || (IsSelected && IsPushed && (!(kinds & ikCombo) || captured))) ::OffsetRect(&r, 1, 1);
        if (hasArrow && !(kinds & ikCombo)) (vertical ? r.bottom : r.right) -= 8;
    } else if (IsSelected) {
        RECT h = r;
        if (item->DisplayXP) h.left = r.left + imageColumn + 1;
        if ((kinds & ikCombo) && showEnabled) h.right -= checkW;
        if (item->GetEnabled()) {
            if (item->DisplayXP) {
                FillSolid(Canvas, h, item->GetXPItemSelBkgrCol());
                FrameSolid(Canvas, h, item->GetXPItemOutlineCol());
            } else {
                Canvas->GetBrush()->SetColor(preparedColor);
                Canvas->GetBrush()->SetStyle(preparedStyle);
                Canvas->FillRect(h);
            }
        } else if (!item->DisplayXP) {
            Canvas->GetBrush()->SetColor(preparedColor);
            Canvas->GetBrush()->SetStyle(preparedStyle);
            Canvas->FillRect(h);
        }
    }

    Canvas->GetBrush()->SetStyle(classlib::bsClear);
    classlib::TFont* font = Canvas->GetFont();
    if (options & tboDefault) font->SetStyle(font->GetStyle() | classlib::fsBold);
    TEXTMETRICW tm{};
    TextSize(Canvas, L"", &tm);
    const UINT hide = AccelsHidden(OwnerView) ? DT_HIDEPREFIX : 0;
    auto adjustVertically = [&](RECT& t) {
        if ((t.bottom - t.top) - (tm.tmHeight + tm.tmExternalLeading) == 4) t.bottom -= 1;
        t.top += tm.tmExternalLeading;
    };

    if (ShowsCaption()) {
        RECT t = r;
        if (toolbar) {
            if (ShowsImage() && images) {
                if (TextRotated() || (options & tboImageAboveCaption)) t.top += images->GetHeight() + 1;
                else t.left += images->GetWidth() + 1;
            }
            DrawEntryText(Canvas, t, CaptionText(), UseDisabledShadow, hide | DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        } else {
            t.left += imageColumn + 5;
            adjustVertically(t);
            if (IsSelected && item->DisplayXP && item->GetEnabled()) font->SetColor(item->XPItemSelTxtCol);
            if (item->DisplayXP && !item->GetEnabled()) font->SetColor(item->XPItemUnactTxtCol);
            DrawEntryText(Canvas, t, CaptionText(), UseDisabledShadow, hide | DT_VCENTER | DT_SINGLELINE);
        }
    }

    if (!toolbar) {
        const std::wstring shortcut = item->ShortCutText();
        if (!shortcut.empty()) {
            RECT t = r;
            t.left = t.right - TextSize(Canvas, RemoveAccelMarks(shortcut)).cx - 8;
            adjustVertically(t);
            DrawEntryText(Canvas, t, shortcut, UseDisabledShadow, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        }
        if (kinds & ikSubmenu) {
            if (kinds & ikCombo) {
                RECT t = r;
                t.left = r.right - checkW;
                if (IsSelected && showEnabled) {
                    Edge(Canvas, t, BDR_SUNKENOUTER, BF_RECT | BF_MIDDLE);
                } else {
                    t.left -= 1;
                    Edge(Canvas, t, IsSelected ? BDR_SUNKENOUTER : EDGE_ETCHED, BF_LEFT);
                }
            }
            const int ax = ClientAreaRect.right - checkW, ay = ClientAreaRect.top + (height - checkH) / 2;
            if (UseDisabledShadow) {
                MenuArrow(Canvas, ax + 1, ay + 1, classlib::clBtnHighlight);
                MenuArrow(Canvas, ax, ay, classlib::clBtnShadow);
            } else if ((kinds & ikCombo) && IsSelected && showEnabled) {
                MenuArrow(Canvas, ax + 1, ay + 1, classlib::clBtnText);
            } else {
                MenuArrow(Canvas, ax, ay, font->GetColor());
            }
            Canvas->GetBrush()->SetStyle(classlib::bsClear);
        }
    }

    const bool image = ShowsImage() && images;
    if (image || (!toolbar && item->GetChecked())) {
        RECT b = r;
        if (toolbar) {
            if (TextRotated() || (options & tboImageAboveCaption)) b.bottom = b.top + images->GetHeight() + 2;
            else b.right = b.left + images->GetWidth() + 2;
        } else {
            b.right = b.left + imageColumn;
            if ((IsSelected && showEnabled) || item->GetChecked())
                Edge(Canvas, b, EdgeFor(item->GetChecked()), BF_RECT | BF_MIDDLE);
            if (item->GetChecked() && !IsSelected) {
                ::InflateRect(&b, -1, -1);
                FillCheckedPattern(Canvas, b);
                Canvas->GetBrush()->SetStyle(classlib::bsClear);
                ::InflateRect(&b, 1, 1);
            }
            if (item->GetChecked()) ::OffsetRect(&b, 1, 1);
        }
        if (image) {
            const int x = b.left + ((b.right - b.left) - images->GetWidth()) / 2;
            const int y = b.top + ((b.bottom - b.top) - images->GetHeight()) / 2;
            if (auto* states = dynamic_cast<TMbCustomImageList*>(images))
                states->DrawForState(Canvas, x, y, item->GetImageIndex(), showEnabled, IsSelected, item->GetChecked());
            else
                images->Draw(Canvas, x, y, item->GetImageIndex(), showEnabled);
        } else {
            const int cx = (b.left + b.right) / 2, cy = (b.top + b.bottom) / 2;
            if (item->GetRadioItem()) {
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
    }
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
