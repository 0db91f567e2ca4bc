// Painting of the tab control: the back buffer, tab backgrounds and
// contents, captions, cards and their outlines.
#include "controls/themed/TmTabControl.h"

#include <windowsx.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdlib>

#include "classlib/Docking.h"
#include "classlib/Forms.h"
#include "classlib/WinHandles.h"
#include "controls/themed/TmTabControlPrivate.h"

namespace themed {

using namespace classlib;

// ------------------------------------------------------------ painting

void TTmCustomTabControl::Paint()
{
    PaintToBitmap();
    RECT c = GetClientRect();
    ::BitBlt(GetCanvas()->GetHandle(), 0, 0, c.right, c.bottom, bitmap_->GetCanvas()->GetHandle(), 0, 0, SRCCOPY);
}

void TTmCustomTabControl::PaintToBitmap()
{
    paintedOnce_ = true;
    if (bitmap_->GetWidth() != GetWidth() || bitmap_->GetHeight() != GetHeight())
        bitmap_->SetSize(std::max(GetWidth(), 1), std::max(GetHeight(), 1));
    UpdateTabs();
    TCanvas* canvas = bitmap_->GetCanvas();
    SetCanvasBrush(canvas, clBlack);
    // The parent's colour changes are not broadcast: follow it here.
    if (parentBackgroundColor_ && GetParent()) backgroundColor_ = GetParent()->GetColor();
    RECT c = GetClientRect();
    bool handled = false;
    DoPaintBackground(canvas, c, handled);
    if (!handled) {
        if (transparent_) {
            SetCanvasBrush(canvas, backgroundColor_);
            canvas->FillRect(c);
            TmPaintParentBackground(this, canvas, false);
        } else {
            SetCanvasBrush(canvas, backgroundColor_);
            canvas->FillRect(c);
        }
    }
    PlaceCloseButton();
    PlaceMenuButton();
    PlaceScroller();
    DrawTabs();
}

void TTmCustomTabControl::DoPaintBackground(TCanvas* Canvas, const RECT& Rect, bool& Handled)
{
    OnPaintBackground(this, Canvas, Rect, Handled);
}

void TTmCustomTabControl::DoPaintCardBackground(TCanvas* Canvas, int Row, bool& Handled, const RECT& Rect)
{
    OnPaintCardBackground(this, Canvas, Row, Rect, Handled);
}

void TTmCustomTabControl::DoPaintTabBackground(TCanvas* Canvas, int TabIndex, bool& Handled, const RECT& Rect)
{
    OnPaintTabBackground(this, Canvas, TabIndex, Rect, Handled);
}

void TTmCustomTabControl::DrawTabs()
{
    const int count = TabCount();
    if (count > 0) {
        int first0 = -1;
        for (int i = 0; i < count; ++i)
            if (Tab(i)->Visible && Tab(i)->Row == 0) {
                first0 = i;
                break;
            }
        int start = first0 <= 0 ? count - 1 : first0 - 1;
        int band = rowCount_ - 1;
        for (int n = 0; n < count; ++n) {
            int i = ((start - n) % count + count) % count;
            const TTmTabData* t = Tab(i);
            if (!t->Visible || !IsTabShown(i) || i < firstShownTab_ || i == tabIndex_) continue;
            if (t->Row < band && band > 0) {
                DrawCard(band);
                band = t->Row;
            }
            PaintTab(i);
        }
        if (band == 1) DrawCard(1);
        if (tabIndex_ >= 0 && tabIndex_ < count && tabIndex_ >= firstShownTab_ && IsTabShown(tabIndex_))
            PaintTab(tabIndex_);
    }
    DrawCard(0);
}

void TTmCustomTabControl::PaintTab(int Index)
{
    TCanvas* canvas = bitmap_->GetCanvas();
    const RECT r = GetTabRect(Index);
    RECT clip = canvas->GetClipRect();
    RECT meet{};
    RECT rr = r;
    rr.right += 1;
    rr.bottom += 1;
    if (!::IntersectRect(&meet, &rr, &clip)) return;
    if (HRGN rgn = GetTabRegion(Index, r)) {
        HDC dc = canvas->GetHandle();
        int saved = ::SaveDC(dc);
        if (!saved) throw ETmTabControlError(L"Error saving device context");
        try {
            ::ExtSelectClipRgn(dc, rgn, RGN_AND);
            DrawTabBackground(Index, r);
            DrawTabContent(Index, r);
        } catch (...) {
            ::RestoreDC(dc, saved);
            throw;
        }
        ::RestoreDC(dc, saved);
        canvas->Refresh();
    }
    outline_.clear();
    outline_.insert(outline_.end(), {2, 0, Index});
    RecordTabOutline(Index);
    ExecuteOutline();
}

void TTmCustomTabControl::DrawTabBackground(int Index, const RECT& R)
{
    TCanvas* canvas = bitmap_->GetCanvas();
    bool handled = false;
    DoPaintTabBackground(canvas, Index, handled, R);
    if (handled) return;
    const TTmTabData* t = Tab(Index);
    TColor T, L, D;
    if (useColoredTabs_) {
        T = t->Color;
        L = TmLightenColor(T, 20);
        D = TmColorsAreSimilar(L, 0xFFFFFF) ? clBtnFace : TmDarkenColor(T, 40);
    } else {
        T = GetColor();
        L = tabColors_->GetUnselected();
        D = tabColors_->GetShadow();
    }
    if (hotTrack_ && hotTrackStyle_ == htsTab && Index == hotTab_) {
        if (hotTrackColorSource_ == htcsTabColor)
            D = TmDarkenColor(D, 30);
        else if (hotTrackColorType_ == htctActual) {
            L = TmLightenColor(hotTrackColor_, 60);
            D = hotTrackColor_;
        } else {
            D = TmComplementaryColor(hotTrackColor_, 140);
            L = TmLightenColor(D, 60);
        }
    }
    RECT fill = R;
    fill.right += 1;
    fill.bottom += 1;
    if (Index == tabIndex_) {
        SetCanvasBrush(canvas, T);
        canvas->FillRect(fill);
    } else if (useGradients_ && TmFullColorSupported) {
        switch (tabOrientation_) {
        case toTop: TmPaintGradient(canvas, fill, gdHorizontalEnd, L, D); break;
        case toLeft: TmPaintGradient(canvas, fill, gdVerticalEnd, L, D); break;
        case toBottom: TmPaintGradient(canvas, fill, gdHorizontalEnd, D, L); break;
        case toRight: TmPaintGradient(canvas, fill, gdVerticalEnd, D, L); break;
        }
    } else {
        SetCanvasBrush(canvas, L);
        canvas->FillRect(fill);
    }
    lastFillColor_ = canvas->GetBrush()->GetColor();
}

RECT TTmCustomTabControl::GetTabContentRect(RECT R) const
{
    const bool side = Vertical();
    const bool horizText = textOrientation_ == orHorizontal;
    const int C = cutCornerSize_;
    auto shrink = [&](int dx, int dy) { ::InflateRect(&R, -dx, -dy); };
    auto shift = [&](int dx, int dy) { ::OffsetRect(&R, dx, dy); };
    // Keep the content N off the tab's outer edge; on bottom tabs the
    // content also moves Dy down, on right tabs one to the right.
    auto padOuterH = [&](int N, int Dy) {
        if (tabOrientation_ == toTop) R.top += N;
        if (tabOrientation_ == toBottom) {
            R.bottom -= N;
            shift(0, Dy);
        }
    };
    auto padOuterV = [&](int N) {
        if (tabOrientation_ == toLeft)
            R.left += N;
        else {
            R.right -= N;
            shift(1, 0);
        }
    };
    switch (tabStyle_) {
    case tsSingleSlant:
        if (!side) {
            shrink(1, 1);
            R.right -= 2 * SlantOverlap(R.bottom - R.top + 2) + 2;
            shift(3, 0);
            padOuterH(2, 1);
        } else {
            shrink(1, 1);
            const int o = SlantOverlap(R.right - R.left + 2);
            if (tabOrientation_ == toLeft) {
                R.top += 2 * o + 2;
                shift(0, -2);
            } else {
                R.bottom -= 2 * o + 2;
                shift(0, 2);
            }
            shift(0, 1);
            padOuterV(2);
        }
        break;
    case tsBackSlant:
        if (!side) {
            shrink(1, 1);
            R.left += 2 * SlantOverlap(R.bottom - R.top + 2) + 2;
            shift(-3, 0);
            padOuterH(2, -1);
        } else {
            shrink(1, 1);
            const int o = SlantOverlap(R.right - R.left + 2);
            if (tabOrientation_ == toLeft) {
                R.bottom -= 2 * o + 2;
                shift(0, 2);
            } else {
                R.top += 2 * o + 2;
                shift(0, -2);
            }
            shift(0, -1);
            padOuterV(2);
        }
        break;
    case tsDoubleSlant:
        if (!side) {
            ::InflateRect(&R, 1, -1);
            const int o = SlantOverlap(R.bottom - R.top + 2);
            R.left += o;
            R.right -= o;
            shift(1, 0);
            padOuterH(2, 1);
        } else {
            ::InflateRect(&R, -1, 1);
            const int o = SlantOverlap(R.right - R.left + 2);
            R.top += o;
            R.bottom -= o;
            R.bottom += 2;
            shift(0, 1);
            padOuterV(2);
        }
        break;
    case tsCutCorner:
        if (horizText) {
            if (!side) {
                shrink(C + 3, 1);
                padOuterH(3, 1);
            } else {
                shrink(1, 4);
                padOuterV(C + 5);
            }
        } else {
            if (!side) {
                shrink(4, 1);
                padOuterH(C + 3, 1);
            } else {
                shrink(1, C + 3);
                padOuterV(5);
            }
        }
        break;
    default:
        if (horizText)
            shrink(4, 2);
        else
            shrink(2, 4);
        break;
    }
    if (showFocusRect_) ::InflateRect(&R, -1, -1);
    return R;
}

void TTmCustomTabControl::DrawTabContent(int Index, const RECT& R)
{
    TCanvas* canvas = bitmap_->GetCanvas();
    const TTmTabData* t = Tab(Index);
    const RECT K = GetTabContentRect(R);
    const bool hasImage = images_ && t->ImageIndex != -1;
    const SIZE img = hasImage ? SIZE{images_->GetWidth(), images_->GetHeight()} : SIZE{0, 0};
    const bool reserve = showCloseButtonOnActiveTab_ && Index == tabIndex_ && TextAlongStrip();
    const bool rev = tabSequence_ == tsReverse;
    RECT text = K;
    const int a = t->ImageIndex != -1 ? imageMargin_ : 0;
    switch (imagePosition_) {
    case ipLeft: text.left += img.cx + a; break;
    case ipTop: text.top += img.cy + a; break;
    case ipRight: text.right -= img.cx + a; break;
    case ipBottom: text.bottom -= img.cy + a; break;
    default: break;
    }
    if (reserve) {
        switch (tabOrientation_) {
        case toTop:
        case toBottom:
            if (rev)
                text.left += 20;
            else
                text.right -= 20;
            break;
        case toLeft:
            if (rev)
                text.bottom -= 20;
            else
                text.top += 20;
            break;
        case toRight:
            if (rev)
                text.top += 20;
            else
                text.bottom -= 20;
            break;
        }
    }
    RECT image = K;
    switch (imagePosition_) {
    case ipLeft: image.right = image.left + img.cx; break;
    case ipTop: image.bottom = image.top + img.cy; break;
    case ipRight: image.left = image.right - img.cx; break;
    case ipBottom: image.top = image.bottom - img.cy; break;
    default: break;
    }
    if (reserve && (img.cx || img.cy)) {
        const bool tb = !Vertical();
        if (imagePosition_ == ipLeft && tb && rev) ::OffsetRect(&image, 20, 0);
        if (imagePosition_ == ipRight && tb && !rev) ::OffsetRect(&image, -20, 0);
        if (imagePosition_ == ipTop && ((tabOrientation_ == toLeft && !rev) || (tabOrientation_ == toRight && rev)))
            ::OffsetRect(&image, 0, 20);
        if (imagePosition_ == ipBottom && ((tabOrientation_ == toLeft && rev) || (tabOrientation_ == toRight && !rev)))
            ::OffsetRect(&image, 0, -20);
    }
    if (hasImage) {
        int x = image.left, y = image.top;
        if (imagePosition_ != ipStretch) {
            const int w = image.right - image.left, h = image.bottom - image.top;
            if (imageAlignment_ == haCenter) x += (w - img.cx) / 2;
            if (imageAlignment_ == haRight) x = image.right - img.cx;
            if (imageAlignmentVertical_ == vaCenter) y += (h - img.cy) / 2;
            if (imageAlignmentVertical_ == vaBottom) y = image.bottom - img.cy;
        }
        if (t->DisabledIndex == -1)
            images_->Draw(canvas, x, y, t->ImageIndex, t->Enabled);
        else
            images_->Draw(canvas, x, y, t->Enabled ? t->ImageIndex : t->DisabledIndex, true);
    }
    // Text colour.
    TColor color;
    bool handled = false;
    drawTab_ = Index;
    if (t->Enabled && hotTrack_ && Index == hotTab_) {
        color = textColors_->GetSelected();
        if (hotTrackStyle_ == htsText)
            color = hotTrackColorType_ == htctActual ? hotTrackColor_ : TmComplementaryColor(hotTrackColor_, 140);
        DoGetTextColor(Index, tsHotTrack, handled, color);
        if (hotTrackStyle_ == htsTabBar) DrawHighlightBar(true);
    } else if (t->Enabled && Index == tabIndex_) {
        color = textColors_->GetSelected();
        DoGetTextColor(Index, tsSelected, handled, color);
        if (hotTrack_ && hotTrackStyle_ == htsTabBar) DrawHighlightBar(false);
    } else if (t->Enabled) {
        color = textColors_->GetUnselected();
        DoGetTextColor(Index, tsUnselected, handled, color);
    } else {
        color = textColors_->GetDisabled();
        DoGetTextColor(Index, tsDisabled, handled, color);
    }
    drawTextRect_ = text;
    if (!t->Caption.empty()) DrawCaption(color);
    if (showCloseButtonOnActiveTab_ && Index == tabIndex_) PlaceActiveTabCloseButton();
    if (Index == tabIndex_ && showFocusRect_ && Focused()) {
        RECT f = drawTextRect_;
        if (!Vertical()) {
            f.left -= 1;
            f.right += 1;
            f.bottom += 1;
        } else {
            f.top -= 1;
            f.bottom += 1;
        }
        if (tabStyle_ == tsRoundCorners || tabStyle_ == tsSquareCorners) {
            switch (tabOrientation_) {
            case toTop: f.top += 1; break;
            case toLeft: f.left += 2; break;
            case toBottom: f.bottom -= 1; break;
            case toRight: f.right -= 2; break;
            }
        }
        canvas->DrawFocusRect(f);
    }
    drawTab_ = -1;
}

void TTmCustomTabControl::DrawHighlightBar(bool Hot)
{
    TCanvas* canvas = bitmap_->GetCanvas();
    RECT r = GetTabRect(drawTab_);
    ::InflateRect(&r, 1, 1);
    TColor brush;
    if (!Hot)
        brush = tabColors_->GetHighlightBar();
    else if (hotTrackColorSource_ == htcsTabColor)
        brush = TmDarkenColor(Tab(drawTab_)->Color, 40);
    else if (hotTrackColorType_ == htctActual)
        brush = hotTrackColor_;
    else
        brush = TmComplementaryColor(hotTrackColor_, 140);
    switch (tabOrientation_) {
    case toTop: r.bottom = r.top + 6; break;
    case toLeft: r.right = r.left + 6; break;
    case toBottom: r.top = r.bottom - 4; break;
    case toRight: r.left = r.right - 4; break;
    }
    const TPenStyle oldPen = canvas->GetPen()->GetStyle();
    const TColor oldBrush = canvas->GetBrush()->GetColor();
    canvas->GetPen()->SetStyle(psClear);
    SetCanvasBrush(canvas, brush);
    canvas->Rectangle(r);
    canvas->GetPen()->SetStyle(oldPen);
    canvas->GetBrush()->SetColor(oldBrush);
}

void TTmCustomTabControl::DrawCaption(TColor Color)
{
    const int i = drawTab_;
    const TTmTabData* t = Tab(i);
    TCanvas* canvas = bitmap_->GetCanvas();
    const bool horiz = textOrientation_ == orHorizontal;
    TTabFontScope font(*this, i == tabIndex_ && boldCurrentTab_);
    SIZE e{};
    MeasureText(t->Caption, horiz, e);
    RECT& r = drawTextRect_;
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (horiz) {
        if (textAlignmentVertical_ == vaCenter) {
            const int d = (h - e.cy) / 2;
            r.top += d;
            r.bottom -= d;
        } else if (textAlignmentVertical_ == vaBottom)
            r.top = r.bottom - e.cy;
    } else if (tabOrientation_ == toRight) {
        if (textAlignment_ == haLeft)
            r.right = r.left + e.cx;
        else if (textAlignment_ == haCenter) {
            const int d = (w - e.cx) / 2;
            r.left += d;
            r.right -= d;
        }
    } else {
        if (textAlignment_ == haCenter) {
            const int d = (w - e.cx) / 2;
            r.left += d;
            r.right -= d;
        } else if (textAlignment_ == haRight)
            r.left = r.right - e.cx;
    }
    const int rw = r.right - r.left, rh = r.bottom - r.top;
    int before = 0;
    for (const std::wstring& line : SplitLines(t->Caption)) {
        SIZE le{};
        MeasureText(line, horiz, le);
        if (horiz) {
            int off = textAlignment_ == haLeft ? 0 : textAlignment_ == haCenter ? (rw - le.cx) / 2 : rw - le.cx;
            DrawTextLine(r.left + off, r.top + before, Color, true, canvas, line);
            before += le.cy;
        } else if (tabOrientation_ == toRight) {
            int off = textAlignmentVertical_ == vaTop      ? 0
                      : textAlignmentVertical_ == vaCenter ? (rh - le.cy) / 2
                                                           : rh - le.cy;
            DrawTextLine(r.right - before, r.top + off, Color, false, canvas, line);
            before += le.cx;
        } else {
            int off = textAlignmentVertical_ == vaTop      ? rh - le.cy
                      : textAlignmentVertical_ == vaCenter ? (rh - le.cy) / 2
                                                           : 0;
            DrawTextLine(r.left + before, r.bottom - off, Color, false, canvas, line);
            before += le.cx;
        }
    }
}

void TTmCustomTabControl::DrawTextLine(int X, int Y, TColor Color, bool Horizontal, TCanvas* Canvas,
                                       const std::wstring& Text)
{
    std::vector<std::wstring> pieces;
    size_t a = Text.find(L'&');
    if (a == std::wstring::npos)
        pieces.push_back(Text);
    else if (a + 1 < Text.size() && Text[a + 1] == L'&')
        pieces = {Text.substr(0, a + 1), L"", Text.substr(a + 2)};
    else
        pieces = {Text.substr(0, a), a + 1 < Text.size() ? Text.substr(a + 1, 1) : L"",
                  a + 2 < Text.size() ? Text.substr(a + 2) : L""};
    const TFontStyles style = drawFont_->GetStyle();
    HDC dc = Canvas->GetHandle();
    for (size_t n = 0; n < pieces.size(); ++n) {
        if (pieces.size() == 3 && n == 1 && !(style & fsUnderline)) drawFont_->SetStyle(style | fsUnderline);
        if (n == 2) drawFont_->SetStyle(style);
        SelectTabFont();
        ::SetTextColor(dc, static_cast<COLORREF>(ColorToRGB(Color)));
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextAlign(dc, TA_LEFT | TA_TOP | TA_NOUPDATECP);
        const std::wstring& piece = pieces[n];
        ::TextOutW(dc, X, Y, piece.c_str(), static_cast<int>(piece.size()));
        if (pieces.size() == 3 && !piece.empty()) {
            SIZE e{};
            ::GetTextExtentPoint32W(dc, piece.c_str(), static_cast<int>(piece.size()), &e);
            if (Horizontal)
                X += e.cx;
            else if (tabOrientation_ == toRight)
                Y += e.cx;
            else
                Y -= e.cx;
        }
        RestoreTabFont();
    }
    drawFont_->SetStyle(style);
}

void TTmCustomTabControl::DrawCard(int Row)
{
    RECT r = GetCardRect(Row);
    if (r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0) return;
    if (showCard_) {
        r.right += 1;
        r.bottom += 1;
    }
    TCanvas* canvas = bitmap_->GetCanvas();
    bool handled = false;
    DoPaintCardBackground(canvas, Row, handled, r);
    if (!handled) {
        SetCanvasBrush(canvas, useColoredTabs_ && tabIndex_ >= 0 && tabIndex_ < TabCount() ? Tab(tabIndex_)->Color
                                                                                         : GetColor());
        canvas->FillRect(r);
    }
    if (showCardFrame_) {
        outline_.clear();
        outline_.insert(outline_.end(), {2, 1, Row});
        RecordCardFrame(Row);
        ExecuteOutline();
    }
}

void TTmCustomTabControl::RecordTabOutline(int Index)
{
    POINT p[20];
    int n = 0;
    GetTabPolygon(Index, p, n);
    int expected = 0;
    switch (tabStyle_) {
    case tsDoubleSlant: expected = softCorners_ ? 6 : 4; break;
    case tsCutCorner: expected = 5; break;
    case tsRoundCorners: expected = 6; break;
    case tsSquareCorners: expected = 4; break;
    default: expected = softCorners_ ? 6 : 5; break;
    }
    if (n != expected) throw ETmTabControlError(L"Incorrect number of points in tab shape");
    outline_.push_back(0);
    outline_.insert(outline_.end(), {3, p[0].x, p[0].y});
    for (int i = 1; i < n; ++i) outline_.insert(outline_.end(), {4, p[i].x, p[i].y});
}

void TTmCustomTabControl::RecordCardFrame(int Row)
{
    RECT c = GetCardRect(Row);
    const POINT TL{c.left, c.top}, TR{c.right, c.top}, BR{c.right, c.bottom}, BL{c.left, c.bottom};
    auto mv = [&](POINT p) { outline_.insert(outline_.end(), {3, p.x, p.y}); };
    auto ln = [&](POINT p) { outline_.insert(outline_.end(), {4, p.x, p.y}); };
    auto code = [&](int k, POINT p) { outline_.insert(outline_.end(), {k, p.x, p.y}); };
    const bool topShadow = tabOrientation_ == toTop && tabSequence_ == tsStandard && showShadow_;
    auto shadow = [&]() {
        if (hotTrackPartial_) return;
        mv(POINT{TR.x - 1, TR.y + 1});
        code(5, POINT{BR.x - 1, BR.y - 1});
        code(5, POINT{BL.x, BL.y - 1});
        mv(POINT{TR.x - 1, TR.y});
        code(6, TR);
        code(6, BR);
        code(6, BL);
        code(6, POINT{BL.x, BL.y - 1});
    };
    const bool gap = Row == 0 && tabIndex_ >= 0 && tabIndex_ < TabCount() && IsTabShown(tabIndex_) &&
                     tabIndex_ >= firstShownTab_;
    const bool roundish = tabStyle_ == tsRoundCorners || tabStyle_ == tsSquareCorners;
    if (!gap) {
        outline_.push_back(0);
        if (!topShadow) {
            mv(TL);
            ln(TR);
            if (showFullFrame_) {
                ln(BR);
                ln(BL);
                ln(TL);
            }
        } else {
            mv(TL);
            ln(POINT{TR.x - 2, TR.y});
            ln(POINT{BR.x - 2, BR.y - 2});
            ln(POINT{BL.x, BL.y - 2});
            ln(TL);
            shadow();
        }
        return;
    }
    POINT shape[20];
    int n = 0;
    GetTabShape(tabIndex_, shape, n);
    const POINT S = RawToClientPoint(shape[0].x + 1, shape[0].y);
    const POINT E = RawToClientPoint(shape[n - 1].x, shape[n - 1].y);
    outline_.push_back(0);
    if (showFullFrame_) {
        switch (tabOrientation_) {
        case toTop:
            if (topShadow) {
                if (roundish) {
                    mv(POINT{BL.x, BL.y - 2});
                    ln(TL);
                    ln(S);
                    mv(E);
                    ln(POINT{TR.x - 2, TR.y});
                    ln(POINT{BR.x - 2, BR.y - 2});
                    ln(POINT{BL.x - 1, BL.y - 2});
                } else {
                    mv(TL);
                    ln(S);
                    mv(E);
                    ln(POINT{TR.x - 2, TR.y});
                    ln(POINT{BR.x - 2, BR.y - 2});
                    ln(POINT{BL.x, BL.y - 2});
                    ln(POINT{TL.x, TL.y - 1});
                }
                shadow();
            } else {
                mv(TL);
                ln(S);
                mv(E);
                ln(TR);
                ln(BR);
                ln(BL);
                ln(TL);
            }
            break;
        case toLeft:
            mv(TL);
            ln(TR);
            ln(BR);
            ln(BL);
            ln(S);
            mv(E);
            ln(TL);
            break;
        case toBottom:
            mv(TL);
            ln(TR);
            ln(BR);
            ln(POINT{E.x - 1, E.y});
            mv(POINT{S.x - 1, S.y});
            ln(BL);
            ln(TL);
            break;
        case toRight:
            mv(TL);
            ln(TR);
            ln(S);
            mv(E);
            ln(BR);
            ln(BL);
            ln(TL);
            break;
        }
    } else {
        switch (tabOrientation_) {
        case toTop:
            mv(TL);
            ln(S);
            mv(E);
            ln(POINT{TR.x + 1, TR.y});
            break;
        case toLeft:
            mv(POINT{BL.x - 1, BL.y});
            ln(POINT{S.x - 1, S.y});
            mv(POINT{E.x - 1, E.y});
            ln(POINT{TL.x - 1, TL.y - 1});
            break;
        case toBottom:
            mv(POINT{BR.x, BR.y + 1});
            ln(POINT{E.x - 1, E.y + 1});
            mv(POINT{S.x - 1, S.y + 1});
            ln(POINT{BL.x - 1, BL.y + 1});
            break;
        case toRight:
            mv(POINT{TR.x + 1, TR.y});
            ln(POINT{S.x + 1, S.y});
            mv(POINT{E.x + 1, E.y});
            ln(POINT{BR.x + 1, BR.y + 1});
            break;
        }
    }
    if (roundish && tabOrientation_ == toTop) {
        outline_.push_back(0);
        mv(E);
        ln(POINT{E.x + 1, E.y});
    }
}

void TTmCustomTabControl::ExecuteOutline()
{
    TCanvas* canvas = bitmap_->GetCanvas();
    outlineColor_ = OutlineFlatColor();
    std::unique_ptr<TBitmap> back;
    for (size_t i = 0; i < outline_.size();) {
        int k = outline_[i];
        if (k == 5 || k == 6) {
            back = std::make_unique<TBitmap>();
            back->SetSize(std::max(GetWidth(), 1), std::max(GetHeight(), 1));
            TColor under = GetParent() ? GetParent()->GetColor() : backgroundColor_;
            SetCanvasBrush(back->GetCanvas(), under);
            back->GetCanvas()->FillRect(RECT{0, 0, back->GetWidth(), back->GetHeight()});
            TmPaintParentBackground(this, back->GetCanvas(), false);
            break;
        }
        i += k >= 2 ? 3 : 1;
    }
    canvas->GetPen()->SetStyle(psSolid);
    canvas->GetPen()->SetWidth(1);
    for (size_t i = 0; i < outline_.size();) {
        const int k = outline_[i];
        if (k < 2) {
            if (k == 0) canvas->GetPen()->SetColor(outlineColor_);
            ++i;
            continue;
        }
        if (i + 2 >= outline_.size()) break;
        const int x = outline_[i + 1], y = outline_[i + 2];
        i += 3;
        switch (k) {
        case 2: outlineColor_ = OutlineFlatColor(); break;
        case 3: canvas->MoveTo(x, y); break;
        case 4: canvas->LineTo(x, y); break;
        case 5:
        case 6: {
            const uint8_t w = k == 5 ? 30 : 15;
            POINT from = canvas->GetPenPos();
            const int dx = x > from.x ? 1 : x < from.x ? -1 : 0;
            const int dy = y > from.y ? 1 : y < from.y ? -1 : 0;
            POINT p = from;
            for (;;) {
                TColor under = back ? back->GetCanvas()->GetPixel(p.x, p.y) : backgroundColor_;
                canvas->SetPixel(p.x, p.y, TmMixColors(clBlack, under, w));
                if (p.x == x && p.y == y) break;
                p.x += dx;
                p.y += dy;
            }
            canvas->MoveTo(x, y);
            break;
        }
        default: break;
        }
    }
}

}  // namespace themed
