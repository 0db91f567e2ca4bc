// Layout of the tab control: the tab area, card and display rectangles,
// text and tab measurement, rows and their order, tab shapes and regions,
// and the places of the scroller and the strip's buttons.
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

namespace {

RECT Ordered(POINT A, POINT B)
{
    return RECT{std::min(A.x, B.x), std::min(A.y, B.y), std::max(A.x, B.x), std::max(A.y, B.y)};
}

// The line without its first accelerator mark ("&&" stands for "&").
std::wstring StripFirstAccelerator(const std::wstring& Line)
{
    size_t a = Line.find(L'&');
    if (a == std::wstring::npos) return Line;
    return Line.substr(0, a) + Line.substr(a + 1);
}

}  // namespace

// ------------------------------------------------------------ geometry

RECT TTmCustomTabControl::ClientBox() const
{
    RECT c = GetClientRect();
    return RECT{0, 0, c.right - c.left - 1, c.bottom - c.top - 1};
}

int TTmCustomTabControl::TabAreaExtent() const
{
    const int g = (tabStyle_ == tsRoundCorners || tabStyle_ == tsSquareCorners) ? 3 : 0;
    if (showCard_) return g + fixedDimension_ + (fixedDimension_ - rowOverlap_) * (rowCount_ - 1);
    return Vertical() ? GetWidth() - 1 : GetHeight() - 1;
}

RECT TTmCustomTabControl::GetTabAreaRect() const
{
    const int w = GetWidth(), h = GetHeight(), e = TabAreaExtent();
    switch (tabOrientation_) {
    case toTop: {
        RECT r{0, 0, w - 1, e};
        if (showShadow_ && tabSequence_ == tsStandard) r.right -= 2;
        return r;
    }
    case toBottom: return RECT{0, h - 1 - e, w - 1, h - 1};
    case toLeft: return RECT{0, 0, e, h - 1};
    default: return RECT{w - 1 - e, 0, w - 1, h - 1};
    }
}

int TTmCustomTabControl::TabStripLength() const
{
    RECT a = GetTabAreaRect();
    return Vertical() ? a.bottom - a.top : a.right - a.left;
}

RECT TTmCustomTabControl::GetCardRect(int Row) const
{
    RECT c = ClientBox();
    if (TabCount() == 0 && showCard_) return c;
    const int e = TabAreaExtent();
    const int a = Row * rowIndent_, s = Row * (fixedDimension_ - rowOverlap_), b = e - s;
    const int cc = rowIndent_ * (rowCount_ - Row - 1);
    const bool rev = tabSequence_ == tsReverse;
    RECT r{};
    switch (tabOrientation_) {
    case toTop: r = rev ? RECT{c.left + cc, c.top + b, c.right - a, c.bottom - s} : RECT{c.left + a, c.top + b, c.right - cc, c.bottom - s}; break;
    case toBottom: r = rev ? RECT{c.left + cc, c.top + s, c.right - a, c.bottom - b} : RECT{c.left + a, c.top + s, c.right - cc, c.bottom - b}; break;
    case toLeft: r = rev ? RECT{c.left + b, c.top + a, c.right - s, c.bottom - cc} : RECT{c.left + b, c.top + cc, c.right - s, c.bottom - a}; break;
    case toRight: r = rev ? RECT{c.left + s, c.top + cc, c.right - b, c.bottom - a} : RECT{c.left + s, c.top + a, c.right - b, c.bottom - cc}; break;
    }
    if (r.right < r.left || r.bottom < r.top) return RECT{0, 0, 0, 0};
    if (!showCard_ && !::IsRectEmpty(&r)) {
        // No card edge may show: widen past the three sides away from the tabs.
        if (tabOrientation_ != toLeft) r.left = c.left - 3;
        if (tabOrientation_ != toTop) r.top = c.top - 3;
        if (tabOrientation_ != toRight) r.right = c.right + 3;
        if (tabOrientation_ != toBottom) r.bottom = c.bottom + 3;
    }
    return r;
}

RECT TTmCustomTabControl::GetDisplayRect() const
{
    if (!showCard_) return RECT{-2, -2, -1, -1};
    RECT r = GetCardRect(0);
    if (showCardFrame_ && showFullFrame_) {
        r.left += 1;
        r.top += 1;
        if (tabOrientation_ == toTop && tabSequence_ == tsStandard && showShadow_) {
            r.right -= 2;
            r.bottom -= 2;
        }
    } else if (showCardFrame_) {
        if (tabOrientation_ == toTop) r.top += 1;
        r.right += 1;
        r.bottom += 1;
    } else {
        if (!showFullFrame_) {
            if (tabOrientation_ == toLeft) r.left -= 1;
            if (tabOrientation_ == toBottom) r.bottom += 1;
            if (tabOrientation_ == toRight) r.right += 1;
        }
        r.right += 1;
        r.bottom += 1;
    }
    return r;
}

int TTmCustomTabControl::ScrollOffset() const
{
    if (firstShownTab_ < 0 || firstShownTab_ >= TabCount()) return 0;
    const int g = (tabStyle_ == tsRoundCorners || tabStyle_ == tsSquareCorners) ? 2 : 0;
    const RECT& r = Tab(firstShownTab_)->RawRect;
    return tabSequence_ == tsStandard ? r.left - g - margin_ : r.right + g + margin_;
}

POINT TTmCustomTabControl::RawToClientPoint(int X, int Y) const
{
    const RECT a = GetTabAreaRect();
    const int o = ScrollOffset();
    const bool rev = tabSequence_ == tsReverse;
    switch (tabOrientation_) {
    case toTop: return POINT{(rev ? a.right : a.left) + X - o, a.top + Y};
    case toBottom: return POINT{(rev ? a.right : a.left) + X - o, a.bottom - Y};
    case toLeft: return POINT{a.left + Y, (rev ? a.top : a.bottom) + o - X};
    default: return POINT{a.right - Y, (rev ? a.bottom : a.top) + X - o};
    }
}

RECT TTmCustomTabControl::GetRawTabRect(int Index) const
{
    const TTmTabData* t = Tab(Index);
    RECT r = t->RawRect;
    const int shift = t->Row * rowIndent_ * (tabSequence_ == tsReverse ? -1 : 1);
    ::OffsetRect(&r, shift, 0);
    if ((tabStyle_ == tsRoundCorners || tabStyle_ == tsSquareCorners) && Index == tabIndex_) {
        r.left -= 2;
        r.right += 2;
        r.top -= 2;
    }
    return r;
}

RECT TTmCustomTabControl::GetTabRect(int Index) const
{
    RECT r = GetRawTabRect(Index);
    return Ordered(RawToClientPoint(r.left, r.top), RawToClientPoint(r.right, r.bottom));
}

int TTmCustomTabControl::FirstVisibleTab() const
{
    for (int i = 0; i < TabCount(); ++i)
        if (Tab(i)->Visible) return i;
    return -1;
}

int TTmCustomTabControl::LastVisibleTab() const
{
    for (int i = TabCount() - 1; i >= 0; --i)
        if (Tab(i)->Visible) return i;
    return -1;
}

bool TTmCustomTabControl::IsTabShown(int Index) const
{
    if (Index < 0 || Index >= TabCount() || !Tab(Index)->Visible) return false;
    if (!scrolling_) return true;
    auto* self = const_cast<TTmCustomTabControl*>(this);
    int s = TabStripLength() - 2 * self->ScrollButtonWidth() - 2 * margin_;
    if (showCloseButton_) s -= self->CloseButtonWidth() + 2;
    if (showMenuButton_) s -= self->MenuButtonWidth() + 2;
    const int o = ScrollOffset();
    const RECT& r = Tab(Index)->RawRect;
    if (tabSequence_ == tsStandard) return r.left >= o && r.right - o <= s;
    return r.right <= o && o - r.left <= s;
}

int TTmCustomTabControl::ScrollButtonBase()
{
    SelectTabFont();
    SIZE a{};
    try {
        MeasureText(L"A", true, a);
    } catch (...) {
        RestoreTabFont();
        throw;
    }
    RestoreTabFont();
    return a.cy + (textOrientation_ == orVertical ? 2 : 4);
}

int TTmCustomTabControl::ScrollButtonWidth()
{
    int base = ScrollButtonBase();
    const bool horizText = textOrientation_ == orHorizontal;
    if ((!Vertical() && horizText && tabHeight_ > 0) || (Vertical() && !horizText && tabWidth_ > 0))
        base = std::max(base, fixedDimension_ - 2);
    return base;
}

int TTmCustomTabControl::ScrollButtonHeight()
{
    int base = ScrollButtonBase();
    const bool horizText = textOrientation_ == orHorizontal;
    if ((!Vertical() && horizText && base <= tabHeight_) || (Vertical() && !horizText && base <= tabWidth_))
        return std::max(base, fixedDimension_ - 2);
    return std::min(base, fixedDimension_ - 2);
}

int TTmCustomTabControl::CloseButtonWidth() { return showCloseButton_ && TabCount() > 0 ? ScrollButtonWidth() : 0; }
int TTmCustomTabControl::CloseButtonHeight() { return showCloseButton_ && TabCount() > 0 ? ScrollButtonHeight() : 0; }
int TTmCustomTabControl::MenuButtonWidth() { return showMenuButton_ && TabCount() > 0 ? ScrollButtonWidth() : 0; }
int TTmCustomTabControl::MenuButtonHeight() { return showMenuButton_ && TabCount() > 0 ? ScrollButtonHeight() : 0; }

// ------------------------------------------------------------ text

std::vector<std::wstring> TTmCustomTabControl::SplitLines(const std::wstring& Text)
{
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (;;) {
        size_t p = Text.find(L"\r\n", start);
        if (p == std::wstring::npos) {
            lines.push_back(Text.substr(start));
            break;
        }
        lines.push_back(Text.substr(start, p - start));
        start = p + 2;
    }
    return lines;
}

void TTmCustomTabControl::SelectTabFont()
{
    LOGFONTW lf{};
    lf.lfHeight = drawFont_->GetHeight();
    lf.lfWeight = (drawFont_->GetStyle() & fsBold) ? 700 : 400;
    lf.lfItalic = (drawFont_->GetStyle() & fsItalic) ? 1 : 0;
    lf.lfUnderline = (drawFont_->GetStyle() & fsUnderline) ? 1 : 0;
    lf.lfStrikeOut = (drawFont_->GetStyle() & fsStrikeOut) ? 1 : 0;
    lf.lfCharSet = drawFont_->GetCharset();
    lstrcpynW(lf.lfFaceName, drawFont_->GetName().c_str(), LF_FACESIZE);
    if (textOrientation_ == orVertical) {
        lf.lfEscapement = tabOrientation_ == toRight ? 2700 : 900;
        lf.lfOrientation = lf.lfEscapement;
    }
    if (bitmap_->GetWidth() <= 0 || bitmap_->GetHeight() <= 0) bitmap_->SetSize(std::max(GetWidth(), 1), std::max(GetHeight(), 1));
    HDC dc = bitmap_->GetCanvas()->GetHandle();
    int saved = ::SaveDC(dc);
    if (!saved) throw ETmTabControlError(L"Error saving device context");
    HFONT font = ::CreateFontIndirectW(&lf);
    savedDCs_.push_back(saved);
    fontStack_.push_back(font);
    ::SelectObject(dc, font);
}

void TTmCustomTabControl::RestoreTabFont()
{
    if (fontStack_.empty()) return;
    HDC dc = bitmap_->GetCanvas()->GetHandle();
    ::RestoreDC(dc, savedDCs_.back());
    savedDCs_.pop_back();
    ::DeleteObject(fontStack_.back());
    fontStack_.pop_back();
}

void TTmCustomTabControl::MeasureText(const std::wstring& Text, bool Horizontal, SIZE& Size)
{
    Size = SIZE{0, 0};
    HDC dc = bitmap_->GetCanvas()->GetHandle();
    for (const std::wstring& raw : SplitLines(Text)) {
        std::wstring line = StripFirstAccelerator(raw);
        SIZE e{};
        if (!::GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &e)) e = SIZE{0, 0};
        if (!Horizontal) std::swap(e.cx, e.cy);
        if (Horizontal) {
            Size.cx = std::max(Size.cx, e.cx);
            Size.cy += e.cy;
        } else {
            Size.cx += e.cx;
            Size.cy = std::max(Size.cy, e.cy);
        }
    }
}

// ------------------------------------------------------------ tab sizes

SIZE TTmCustomTabControl::ImageSize(const TTmTabData* T) const
{
    if (images_ && T->ImageIndex != -1) return SIZE{images_->GetWidth(), images_->GetHeight()};
    return SIZE{0, 0};
}

bool TTmCustomTabControl::TextAlongStrip() const
{
    return (!Vertical() && textOrientation_ == orHorizontal) || (Vertical() && textOrientation_ == orVertical);
}

SIZE TTmCustomTabControl::MinimumContent()
{
    SIZE m{};
    {
        TTabFontScope font(*this, boldCurrentTab_);
        bool horiz = textOrientation_ == orHorizontal;
        MeasureText((tabStyle_ == tsRoundCorners || tabStyle_ == tsSquareCorners) ? L"AAA" : L"A", horiz, m);
    }
    const int fh = std::abs(GetFont()->GetHeight());
    return textOrientation_ == orHorizontal ? SIZE{m.cx, fh} : SIZE{fh, m.cy};
}

SIZE TTmCustomTabControl::ContentSize(int Index)
{
    const TTmTabData* t = Tab(Index);
    if (!t->Visible) return SIZE{0, 0};
    SIZE text{};
    {
        TTabFontScope font(*this, boldCurrentTab_);
        if (!t->Caption.empty()) MeasureText(t->Caption, textOrientation_ == orHorizontal, text);
    }
    const SIZE img = ImageSize(t);
    SIZE c{};
    switch (imagePosition_) {
    case ipLeft:
    case ipRight: c = SIZE{imageMargin_ + img.cx + text.cx, std::max(img.cy, text.cy)}; break;
    case ipTop:
    case ipBottom: c = SIZE{std::max(img.cx, text.cx), imageMargin_ + img.cy + text.cy}; break;
    case ipBack: c = SIZE{std::max(img.cx, text.cx), std::max(img.cy, text.cy)}; break;
    case ipStretch: c = text; break;
    }
    const SIZE m = MinimumContent();
    if (tabWidth_ == 0) c.cx = std::max(c.cx, m.cx);
    if (tabHeight_ == 0) c.cy = std::max(c.cy, m.cy);
    if (showCloseButtonOnActiveTab_ && TextAlongStrip()) {
        if (Vertical())
            c.cy += 20;
        else
            c.cx += 20;
    }
    return c;
}

int TTmCustomTabControl::SlantOverlap(int V) const
{
    switch (tabStyle_) {
    case tsSingleSlant:
    case tsBackSlant: return V / 2;
    case tsDoubleSlant: return V;
    case tsCutCorner:
    case tsRoundCorners: return tabOverlap_;
    default: return tabOverlap_ + 1;
    }
}

SIZE TTmCustomTabControl::StyleAllowance(SIZE Content) const
{
    const int W = Content.cx + 2, H = Content.cy + 2, C = cutCornerSize_;
    const bool side = Vertical();
    switch (tabStyle_) {
    case tsSingleSlant:
    case tsBackSlant:
        return side ? SIZE{W + 4, 2 * ((W + 4) / 2) + H + 4 + tabHeight_ / 2}
                    : SIZE{2 * ((H + 4) / 2) + W + 4 + tabHeight_ / 2, H + 4};
    case tsDoubleSlant: return side ? SIZE{W + 4, 2 * W + H + 4 + tabHeight_} : SIZE{2 * H + W + 4 + tabHeight_, H + 4};
    case tsCutCorner:
        if (textOrientation_ == orHorizontal) return side ? SIZE{W + C + 5, H + 8} : SIZE{2 * C + W + 6, H + 5};
        return side ? SIZE{W + 5, 2 * C + H + 6} : SIZE{W + 8, H + C + 5};
    default: return SIZE{W + 4, H + 4};
    }
}

SIZE TTmCustomTabControl::FullTabSize(SIZE Content) const
{
    SIZE s = StyleAllowance(Content);
    if (tabWidth_ > 0) s.cx = tabWidth_;
    if (tabHeight_ > 0) s.cy = tabHeight_;
    return s;
}

// ------------------------------------------------------------ layout

void TTmCustomTabControl::ComputeRowCount(const std::vector<int>& Lengths, const std::vector<int>& Visible)
{
    if (!multiLine_) {
        SetRowCount(1);
        return;
    }
    int avail = TabStripLength() - 2 * margin_;
    const int overlap = SlantOverlap(fixedDimension_);
    int j = 1;
    int k = 1;
    for (bool restart = true; restart;) {
        restart = false;
        k = 1;
        int p = margin_;
        for (size_t n = 0; n < Visible.size() && !restart; ++n) {
            const int v = Lengths[n];
            for (;;) {
                if (p + v < avail) {
                    p += v - overlap + 1;
                    break;
                }
                const bool empty = p == margin_;
                if (k < j) {
                    ++k;
                    p = margin_;
                    if (empty) break;  // alone on the row it was tried on
                    continue;
                }
                if (!empty || n + 1 < Visible.size()) {
                    ++j;
                    avail -= rowIndent_;
                    restart = true;
                    break;
                }
                break;  // the last tab alone does not fit: it stays
            }
        }
        if (j > 1000) break;  // a strip too short for any tab
    }
    SetRowCount(k);
}

void TTmCustomTabControl::SetRowCount(int Value) { rowCount_ = std::max(1, Value); }

void TTmCustomTabControl::CalcTabRects()
{
    const int count = TabCount();
    std::vector<int> visible;
    for (int i = 0; i < count; ++i)
        if (Tab(i)->Visible) visible.push_back(i);
    std::vector<SIZE> content(static_cast<size_t>(count), SIZE{0, 0});
    SIZE maxContent{0, 0}, maxTab{0, 0};
    for (int i : visible) {
        content[static_cast<size_t>(i)] = ContentSize(i);
        maxContent.cx = std::max(maxContent.cx, content[static_cast<size_t>(i)].cx);
        maxContent.cy = std::max(maxContent.cy, content[static_cast<size_t>(i)].cy);
        SIZE full = FullTabSize(content[static_cast<size_t>(i)]);
        maxTab.cx = std::max(maxTab.cx, full.cx);
        maxTab.cy = std::max(maxTab.cy, full.cy);
    }
    if (!visible.empty()) fixedDimension_ = Vertical() ? maxTab.cx : maxTab.cy;

    const bool roundish = tabStyle_ == tsRoundCorners || tabStyle_ == tsSquareCorners;
    const int strip = TabStripLength() - 2 * margin_;
    std::vector<int> lengths;
    for (int i : visible) {
        SIZE c = content[static_cast<size_t>(i)];
        if (Vertical())
            c.cx = maxContent.cx;
        else
            c.cy = maxContent.cy;
        SIZE full = FullTabSize(c);
        int v = Vertical() ? full.cy : full.cx;
        v = std::min(v, roundish ? strip - 4 : strip);
        lengths.push_back(std::max(v, 0));
    }
    ComputeRowCount(lengths, visible);

    // Placement.
    int avail = TabStripLength() - 2 * margin_;
    if (multiLine_)
        avail -= (rowCount_ - 1) * rowIndent_;
    else {
        if (showCloseButton_) avail -= CloseButtonWidth() + 2;
        if (showMenuButton_) avail -= MenuButtonWidth() + 2;
        avail -= 2 * ScrollButtonWidth() + 2;
    }
    const int overlap = SlantOverlap(fixedDimension_);
    const int fd = fixedDimension_;
    int c = TabAreaExtent() - fd;
    int row = 0;
    if (tabSequence_ == tsStandard) {
        int e = margin_;
        for (size_t n = 0; n < visible.size(); ++n) {
            TTmTabData* t = Tab(visible[n]);
            const int v = lengths[n];
            if (multiLine_ && e + v >= avail) {
                const bool alone = e == margin_;
                if (alone) {
                    t->Row = row;
                    t->RawRect = RECT{e, c, e + v, c + fd};
                }
                ++row;
                e = margin_;
                c -= fd - rowOverlap_;
                if (!alone) --n;
                continue;
            }
            t->Row = row;
            t->RawRect = RECT{e, c, e + v, c + fd};
            e += v - overlap + 1;
        }
    } else {
        int f = -margin_;
        for (size_t n = 0; n < visible.size(); ++n) {
            TTmTabData* t = Tab(visible[n]);
            const int v = lengths[n];
            if (multiLine_ && f - v <= -avail) {
                const bool alone = f == -margin_;
                if (alone) {
                    t->Row = row;
                    t->RawRect = RECT{f - v, c, f, c + fd};
                }
                ++row;
                f = -margin_;
                c -= fd - rowOverlap_;
                if (!alone) --n;
                continue;
            }
            t->Row = row;
            t->RawRect = RECT{f - v, c, f, c + fd};
            f -= v - overlap + 1;
        }
        const int shift = multiLine_ ? GetWidth() : std::abs(f);
        for (int i : visible) ::OffsetRect(&Tab(i)->RawRect, shift, 0);
    }
    for (int i = 0; i < count; ++i)
        if (!Tab(i)->Visible) Tab(i)->RawRect = RECT{0, 0, 0, 0};
    AlignTabRows();
}

void TTmCustomTabControl::AlignTabRows()
{
    if (!multiLine_ || !alignTabs_) return;
    if ((!Vertical() && tabWidth_ != 0) || (Vertical() && tabHeight_ != 0)) return;
    const bool roundish = tabStyle_ == tsRoundCorners || tabStyle_ == tsSquareCorners;
    const bool rev = tabSequence_ == tsReverse;
    std::vector<int> visible;
    for (int i = 0; i < TabCount(); ++i)
        if (Tab(i)->Visible) visible.push_back(i);
    size_t start = 0;
    while (start < visible.size()) {
        size_t end = start;
        while (end < visible.size() && Tab(visible[end])->Row == Tab(visible[start])->Row) ++end;
        const RECT& first = Tab(visible[start])->RawRect;
        const RECT& last = Tab(visible[end - 1])->RawRect;
        int length = rev ? first.right - last.left : last.right - first.left;
        if (roundish) length += 4;
        const int spare = TabStripLength() - 2 * margin_ - (rowCount_ - 1) * rowIndent_ - length;
        const int n = static_cast<int>(end - start);
        if (spare >= 1) {
            const int m = spare / n;
            int r = spare % n;
            int shift = 0;
            for (size_t i = start; i < end; ++i) {
                RECT& rr = Tab(visible[i])->RawRect;
                int grow = m + (r > 0 ? 1 : 0);
                if (r > 0) --r;
                if (rev) {
                    rr.right -= shift;
                    rr.left -= shift + grow;
                } else {
                    rr.left += shift;
                    rr.right += shift + grow;
                }
                shift += grow;
            }
        }
        start = end;
    }
}

void TTmCustomTabControl::UpdateTabs()
{
    if (!tabsChanged_) return;
    tabsChanged_ = false;
    CalcTabRects();
    regionCache_->Clear();
    scrolling_ = false;
    const int first = FirstVisibleTab(), last = LastVisibleTab();
    if (!multiLine_ && first >= 0) {
        int avail = TabStripLength() - 2 * margin_;
        if (showCloseButton_) avail -= CloseButtonWidth() + 2;
        if (showMenuButton_) avail -= MenuButtonWidth() + 2;
        scrolling_ = tabSequence_ == tsStandard ? avail < Tab(last)->RawRect.right : avail < Tab(first)->RawRect.right;
    }
    if (scrolling_) {
        const int old = firstShownTab_;
        int t = std::max(old, 0);
        while (t < TabCount()) {
            firstShownTab_ = t;
            if (IsTabShown(t)) break;
            ++t;
        }
        if (t >= TabCount()) {
            t = old - 1;
            while (t >= 0) {
                firstShownTab_ = t;
                if (IsTabShown(t)) break;
                --t;
            }
            if (t < 0) t = first;
        }
        firstShownTab_ = t;
    } else {
        firstShownTab_ = first;
    }
    RepairSelection();
    RECT d = GetDisplayRect();
    if (!SameRect(d, lastDisplayRect_)) {
        lastDisplayRect_ = d;
        AlignControls();
    }
}

void TTmCustomTabControl::RepairSelection()
{
    if (FirstVisibleTab() < 0 || tabIndex_ < 0) return;
    const int count = TabCount();
    int found = -1;
    for (int i = tabIndex_; i < count; ++i)
        if (CanSelectTab(i)) {
            found = i;
            break;
        }
    if (found < 0) {
        for (int i = std::min(tabIndex_, count) - 1; i >= 0; --i)
            if (CanSelectTab(i)) {
                found = i;
                break;
            }
    }
    if (found != tabIndex_) SetTabIndexApproved(found);
}

void TTmCustomTabControl::SetTabIndexApproved(int Value)
{
    applyApproved_ = true;
    try {
        SetTabIndex(Value);
    } catch (...) {
        applyApproved_ = false;
        throw;
    }
    applyApproved_ = false;
}

// ------------------------------------------------------------ regions

void TTmCustomTabControl::GetTabShape(int Index, POINT* P, int& Count) const
{
    const RECT r = GetRawTabRect(Index);
    const int L = r.left, T = r.top, R = r.right, B = r.bottom, H = B - T, C = cutCornerSize_;
    auto set = [&](std::initializer_list<POINT> pts) {
        Count = 0;
        for (POINT p : pts) P[Count++] = p;
    };
    switch (tabStyle_) {
    case tsSingleSlant:
        if (softCorners_)
            set({{L, B}, {L, T + 2}, {L + 2, T}, {R - H - 4, T}, {R - H + 2, T + 2}, {R, B}});
        else
            set({{L, B}, {L, T + 2}, {L + 2, T}, {R - H, T}, {R, B}});
        break;
    case tsDoubleSlant:
        if (softCorners_)
            set({{L, B}, {L + H - 2, T + 2}, {L + H + 4, T}, {R - H - 4, T}, {R - H + 2, T + 2}, {R, B}});
        else
            set({{L, B}, {L + H, T}, {R - H, T}, {R, B}});
        break;
    case tsBackSlant:
        if (softCorners_)
            set({{L, B}, {L + H - 2, T + 2}, {L + H + 4, T}, {R - 2, T}, {R, T + 2}, {R, B}});
        else
            set({{L, B}, {L + H, T}, {R - 2, T}, {R, T + 2}, {R, B}});
        break;
    case tsCutCorner: set({{L, B}, {L, T}, {R - C, T}, {R, T + C}, {R, B}}); break;
    case tsRoundCorners: set({{L, B}, {L, T + 2}, {L + 2, T}, {R - 2, T}, {R, T + 2}, {R, B}}); break;
    case tsSquareCorners: set({{L, B}, {L, T}, {R, T}, {R, B}}); break;
    }
}

void TTmCustomTabControl::GetTabPolygon(int Index, POINT* P, int& Count) const
{
    GetTabShape(Index, P, Count);
    for (int i = 0; i < Count; ++i) P[i] = RawToClientPoint(P[i].x, P[i].y);
}

HRGN TTmCustomTabControl::GetTabRegion(int Index, const RECT& Rect)
{
    if (HRGN cached = regionCache_->FindRegion(Rect)) return cached;
    POINT pts[20];
    int n = 0;
    GetTabPolygon(Index, pts, n);
    if (n < 3) return nullptr;
    HRGN rgn = ::CreatePolygonRgn(pts, n, ALTERNATE);
    if (!rgn) throw ETmTabControlError(L"Error creating region");
    regionCache_->AddRegion(Rect, rgn);
    return regionCache_->FindRegion(Rect);
}

int TTmCustomTabControl::TabAtPos(int X, int Y)
{
    const int count = TabCount();
    if (count == 0 || firstShownTab_ < 0) return -1;
    auto hit = [&](int i) {
        if (!IsTabShown(i)) return false;
        RECT r = GetTabRect(i);
        if (X < r.left || X > r.right || Y < r.top || Y > r.bottom) return false;
        HRGN rgn = GetTabRegion(i, r);
        return rgn && ::PtInRegion(rgn, X, Y);
    };
    if (tabIndex_ >= 0 && tabIndex_ < count && hit(tabIndex_)) return tabIndex_;
    for (int n = 0; n < count; ++n) {
        int i = (firstShownTab_ + n) % count;
        if (i == tabIndex_) continue;
        if (hit(i)) return i;
    }
    return -1;
}

// ------------------------------------------------------------ buttons

void TTmCustomTabControl::PlaceScroller()
{
    if (GetComponentState() & (csLoading | csReading)) return;
    if (!scrolling_) {
        if (scroller_) scroller_->SetBounds(-scroller_->GetWidth() - 1, -scroller_->GetHeight() - 1,
                                            scroller_->GetWidth(), scroller_->GetHeight());
        return;
    }
    if (!scroller_) {
        scroller_ = new TTmTabScroller(this);
        scroller_->SetFrameColor(OutlineFlatColor());
        scroller_->OnDownLeftClick = TNotifyEvent(this, &TTmCustomTabControl::ScrollerDownLeftClick);
        scroller_->OnUpRightClick = TNotifyEvent(this, &TTmCustomTabControl::ScrollerUpRightClick);
    }
    scroller_->SetOrientation(Vertical() ? orVertical : orHorizontal);
    int w = 2 * ScrollButtonWidth() - 1, h = ScrollButtonHeight();
    if (Vertical()) std::swap(w, h);
    const RECT A = GetTabAreaRect();
    const int M = margin_, s = showShadow_ ? -1 : 1;
    const int c = showCloseButton_ ? CloseButtonWidth() + 2 : 0, m = showMenuButton_ ? MenuButtonWidth() + 2 : 0;
    POINT p{};
    if (tabSequence_ == tsStandard) {
        switch (tabOrientation_) {
        case toTop: p = {A.right + s - w - M - c - m, A.bottom - h - 2}; break;
        case toBottom: p = {A.right - w - M + 1 - c - m, A.top + 2}; break;
        case toLeft: p = {A.right - w - 2, A.top + M + c + m}; break;
        case toRight: p = {A.left + 2, A.bottom - h - M + 1 - c - m}; break;
        }
    } else {
        switch (tabOrientation_) {
        case toTop: p = {A.left + M + c + m, A.bottom - h - 2}; break;
        case toBottom: p = {A.left + M + c + m, A.top + 2}; break;
        case toLeft: p = {A.right - w - 2, A.bottom - h - M + 1 - c - m}; break;
        case toRight: p = {A.left + 2, A.top + M + c + m}; break;
        }
    }
    scroller_->SetBounds(p.x, p.y, w, h);
    scroller_->SetVisible(true);
}

void TTmCustomTabControl::PlaceCloseButton()
{
    if (!closeButton_ || !showCloseButton_ || (GetComponentState() & (csLoading | csReading))) return;
    int w = CloseButtonWidth(), h = CloseButtonHeight();
    if (Vertical()) std::swap(w, h);
    const RECT A = GetTabAreaRect();
    const int M = margin_, s = showShadow_ ? -1 : 1;
    POINT p{};
    if (tabSequence_ == tsStandard) {
        switch (tabOrientation_) {
        case toTop: p = {A.right + s - M - w, A.bottom - h - 2}; break;
        case toBottom: p = {A.right - w - M + 1, A.top + 2}; break;
        case toLeft: p = {A.right - w - 2, A.top + M}; break;
        case toRight: p = {A.left + 2, A.bottom - h - M + 1}; break;
        }
    } else {
        switch (tabOrientation_) {
        case toTop: p = {A.left + M, A.bottom - h - 2}; break;
        case toBottom: p = {A.left + M, A.top + 2}; break;
        case toLeft: p = {A.right - w - 2, A.bottom - h - M + 1}; break;
        case toRight: p = {A.left + 2, A.top + M}; break;
        }
    }
    closeButton_->SetBounds(p.x, p.y, w, h);
}

void TTmCustomTabControl::PlaceMenuButton()
{
    if (!menuButton_ || !showMenuButton_ || (GetComponentState() & (csLoading | csReading))) return;
    int w = MenuButtonWidth(), h = MenuButtonHeight();
    if (Vertical()) std::swap(w, h);
    const RECT A = GetTabAreaRect();
    const int M = margin_, s = showShadow_ ? -1 : 1;
    const int c = showCloseButton_ ? CloseButtonWidth() + 2 : 0;
    POINT p{};
    if (tabSequence_ == tsStandard) {
        switch (tabOrientation_) {
        case toTop: p = {A.right + s - M - w - c, A.bottom - h - 2}; break;
        case toBottom: p = {A.right - w - M + 1 - c, A.top + 2}; break;
        case toLeft: p = {A.right - w - 2, A.top + M + c}; break;
        case toRight: p = {A.left + 2, A.bottom - h - M + 1 - c}; break;
        }
    } else {
        switch (tabOrientation_) {
        case toTop: p = {A.left + M + c, A.bottom - h - 2}; break;
        case toBottom: p = {A.left + M + c, A.top + 2}; break;
        case toLeft: p = {A.right - w - 2, A.bottom - h - M + 1 - c}; break;
        case toRight: p = {A.left + 2, A.top + M + c}; break;
        }
    }
    menuButton_->SetBounds(p.x, p.y, w, h);
}

void TTmCustomTabControl::PlaceActiveTabCloseButton()
{
    if (!activeCloseButton_ || tabIndex_ < 0) return;
    const RECT R = TextAlongStrip() ? GetTabRect(tabIndex_) : RECT{0, 0, 0, 0};
    const bool rev = tabSequence_ == tsReverse;
    RECT b{};
    if (!Vertical()) {
        const int d = R.bottom - R.top;
        const bool big = d > 12;
        const int top = R.top + d / 2 + (d < 13 ? 2 : 0) - 6;
        const int w = big ? 15 : 10, h = big ? 13 : 9;
        b = rev ? RECT{R.left, top, R.left + w, top + h} : RECT{R.right - w, top, R.right, top + h};
    } else {
        const int d = R.right - R.left;
        const bool big = d > 14;
        const int left = R.left + d / 2 - (big ? 7 : 5);
        const int w = big ? 15 : 10, h = big ? 13 : 9;
        const bool atTop = (tabOrientation_ == toLeft) != rev;
        b = atTop ? RECT{left, R.top, left + w, R.top + h} : RECT{left, R.bottom - h, left + w, R.bottom};
    }
    activeCloseButton_->SetBounds(b.left, b.top, b.right - b.left, b.bottom - b.top);
}

}  // namespace themed
