#include "controls/themed/TmTabControl.h"

#include <windowsx.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdlib>

#include "classlib/Docking.h"
#include "classlib/Forms.h"
#include "classlib/WinHandles.h"

namespace themed {

using namespace classlib;

namespace {

constexpr UINT_PTR kHotTrackTimerId = 0x7A11;

bool SameRect(const RECT& A, const RECT& B)
{
    return A.left == B.left && A.top == B.top && A.right == B.right && A.bottom == B.bottom;
}

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

// The accelerator character of a caption (0 when none).
wchar_t AcceleratorOf(const std::wstring& Caption)
{
    for (size_t i = 0; i + 1 < Caption.size(); ++i) {
        if (Caption[i] != L'&') continue;
        if (Caption[i + 1] == L'&') {
            ++i;
            continue;
        }
        return Caption[i + 1];
    }
    return 0;
}

void SetCanvasBrush(TCanvas* Canvas, TColor Color)
{
    Canvas->GetBrush()->SetStyle(bsSolid);
    Canvas->GetBrush()->SetColor(Color);
}

}  // namespace

// ============================================================ tab records

void TTmTabData::Assign(const TPersistent* Source)
{
    if (auto* t = dynamic_cast<const TTmTabData*>(Source)) {
        Caption = t->Caption;
        DisabledIndex = t->DisabledIndex;
        ImageIndex = t->ImageIndex;
        Color = t->Color;
        Enabled = t->Enabled;
        Visible = t->Visible;
        Hint = t->Hint;
        return;
    }
    TPersistent::Assign(Source);
}

TTmTabData* TTmTabDataList::GetItem(int Index) const
{
    if (Index < 0 || Index >= GetCount()) throw EListError(L"List index out of bounds (" + std::to_wstring(Index) + L")");
    return items_[static_cast<size_t>(Index)].get();
}

void TTmTabDataList::SetItem(int Index, TTmTabData* Item)
{
    std::unique_ptr<TTmTabData> owned(Item);
    if (Index < 0 || Index >= GetCount()) throw EListError(L"List index out of bounds (" + std::to_wstring(Index) + L")");
    items_[static_cast<size_t>(Index)] = std::move(owned);
}

void TTmTabDataList::Add(TTmTabData* Item) { items_.emplace_back(Item); }

void TTmTabDataList::Assign(const TPersistent* Source)
{
    if (auto* l = dynamic_cast<const TTmTabDataList*>(Source)) {
        if (l == this) return;
        Clear();
        for (int i = 0; i < l->GetCount(); ++i) {
            auto* t = new TTmTabData;
            Add(t);
            t->Assign(l->GetItem(i));
        }
        return;
    }
    TPersistent::Assign(Source);
}

// ============================================================ colour sets

void TTmTabColors::Assign(const TPersistent* Source)
{
    if (auto* c = dynamic_cast<const TTmTabColors*>(Source)) {
        SetHighlightBar(c->highlightBar_);
        SetShadow(c->shadow_);
        SetUnselected(c->unselected_);
        return;
    }
    TPersistent::Assign(Source);
}

void TTmTabColors::RepaintOwner()
{
    if (owner_) owner_->InvalidateTabs();
}

TM_REDRAW_SETTER(TTmTabColors, HighlightBar, TColor, highlightBar_, RepaintOwner)
TM_REDRAW_SETTER(TTmTabColors, Shadow, TColor, shadow_, RepaintOwner)
TM_REDRAW_SETTER(TTmTabColors, Unselected, TColor, unselected_, RepaintOwner)

void TTmTextColors::Assign(const TPersistent* Source)
{
    if (auto* c = dynamic_cast<const TTmTextColors*>(Source)) {
        SetDisabled(c->disabled_);
        SetSelected(c->selected_);
        SetUnselected(c->unselected_);
        return;
    }
    TPersistent::Assign(Source);
}

void TTmTextColors::RepaintOwner()
{
    if (owner_) owner_->InvalidateTabs();
}

TM_REDRAW_SETTER(TTmTextColors, Disabled, TColor, disabled_, RepaintOwner)
TM_REDRAW_SETTER(TTmTextColors, Selected, TColor, selected_, RepaintOwner)
TM_REDRAW_SETTER(TTmTextColors, Unselected, TColor, unselected_, RepaintOwner)

// ============================================================ region cache

void TTmTabRegionCacheItem::SetRegion(HRGN Region)
{
    if (Region == region_) return;
    if (region_) ::DeleteObject(region_);
    region_ = Region;
}

HRGN TTmTabRegionCache::FindRegion(const RECT& Rect) const
{
    for (const auto& item : items_)
        if (SameRect(item->TabRect, Rect)) return item->GetRegion();
    return nullptr;
}

void TTmTabRegionCache::AddRegion(const RECT& Rect, HRGN Region)
{
    auto it = std::find_if(items_.begin(), items_.end(),
                           [&](const std::unique_ptr<TTmTabRegionCacheItem>& i) { return SameRect(i->TabRect, Rect); });
    if (it != items_.end()) {
        std::unique_ptr<TTmTabRegionCacheItem> item = std::move(*it);
        items_.erase(it);
        // The cache owns what it was given: a second region for the same
        // rectangle is not kept.
        if (Region && Region != item->GetRegion()) ::DeleteObject(Region);
        items_.insert(items_.begin(), std::move(item));
    } else {
        auto item = std::make_unique<TTmTabRegionCacheItem>();
        item->TabRect = Rect;
        item->SetRegion(Region);
        items_.insert(items_.begin(), std::move(item));
    }
    Trim();
}

void TTmTabRegionCache::Trim()
{
    if (capacity_ == -1) return;
    while (static_cast<int>(items_.size()) > capacity_) items_.pop_back();
}

void TTmTabRegionCache::SetCapacity(int Value)
{
    if (Value < -1 || Value == 0)
        throw ETmTabControlError(L"Capacity must be -1 (to cache all regions) or > 0");
    if (Value == capacity_) return;
    capacity_ = Value;
    Trim();
}

// ===================================================== TTmCustomTabControl

TTmCustomTabControl::TTmCustomTabControl(TComponent* AOwner)
    : TCustomControl(AOwner),
      bitmap_(std::make_unique<TBitmap>()),
      tabData_(std::make_unique<TTmTabDataList>()),
      regionCache_(std::make_unique<TTmTabRegionCache>()),
      drawFont_(std::make_unique<TFont>()),
      imageLink_(std::make_unique<TChangeLink>()),
      tabColors_(std::make_unique<TTmTabColors>(this)),
      textColors_(std::make_unique<TTmTextColors>(this))
{
    ControlStyle = csAcceptsControls | csCaptureMouse | csClickEvents | csOpaque;
    SetTabStop(true);
    SetBounds(0, 0, 300, 100);
    drawFont_->Assign(GetFont());
    imageLink_->OnChange = TNotifyEvent(this, &TTmCustomTabControl::InvalidateTabs_);
}

TTmCustomTabControl::~TTmCustomTabControl()
{
    StopHotTrackTimer();
    if (Dragging()) EndDrag(false);
    if (images_) images_->RemoveFreeNotification(this);
}

void TTmCustomTabControl::InvalidateTabs_(TObject*) { InvalidateTabs(); }

void TTmCustomTabControl::CreateParams(TCreateParams& Params)
{
    TCustomControl::CreateParams(Params);
    Params.WindowClassStyle &= ~(CS_HREDRAW | CS_VREDRAW);
}

bool TTmCustomTabControl::InLoadingState() const { return (GetComponentState() & csLoading) != 0; }

void TTmCustomTabControl::Notification(TComponent* AComponent, TOperation Operation)
{
    TCustomControl::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == images_) {
        images_ = nullptr;
        imageLink_->SetSender(nullptr);
        TabsChanged();
    }
}

void TTmCustomTabControl::Loaded()
{
    TCustomControl::Loaded();
    savedHint_ = Hint;
    // Only the flag: a descendant rebuilds its tabs in its own Loaded.
    SetTabsChanged(true);
    if (tabIndex_ != defaultTabIndex_) tabIndex_ = defaultTabIndex_;
    if (textOrientation_ == orVertical && !TmIsTrueTypeFont(GetFont())) GetFont()->SetName(L"Verdana");
    SetTabIndex(tabIndex_);
}

// ------------------------------------------------------------ flags

void TTmCustomTabControl::TabsChanged() { SetTabsChanged(true); }

void TTmCustomTabControl::SetTabsChanged(bool Value)
{
    bool was = tabsChanged_;
    tabsChanged_ = Value;
    if (Value && !was) InvalidateTabs();
}

void TTmCustomTabControl::InvalidateTabs()
{
    hotTrackPartial_ = false;
    Invalidate();
}

void TTmCustomTabControl::FontChanged(TObject* Sender)
{
    TCustomControl::FontChanged(Sender);
    drawFont_->Assign(GetFont());
    TabsChanged();
}

void TTmCustomTabControl::Resize()
{
    TCustomControl::Resize();
    TabsChanged();
}

void TTmCustomTabControl::EraseBackground(TMessage& Message) { Message.Result = 1; }

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
    TFontStyles style = drawFont_->GetStyle();
    if (boldCurrentTab_) drawFont_->SetStyle(style | fsBold);
    SIZE m{};
    SelectTabFont();
    try {
        bool horiz = textOrientation_ == orHorizontal;
        MeasureText((tabStyle_ == tsRoundCorners || tabStyle_ == tsSquareCorners) ? L"AAA" : L"A", horiz, m);
    } catch (...) {
        RestoreTabFont();
        drawFont_->SetStyle(style);
        throw;
    }
    RestoreTabFont();
    drawFont_->SetStyle(style);
    const int fh = std::abs(GetFont()->GetHeight());
    return textOrientation_ == orHorizontal ? SIZE{m.cx, fh} : SIZE{fh, m.cy};
}

SIZE TTmCustomTabControl::ContentSize(int Index)
{
    const TTmTabData* t = Tab(Index);
    if (!t->Visible) return SIZE{0, 0};
    TFontStyles style = drawFont_->GetStyle();
    if (boldCurrentTab_) drawFont_->SetStyle(style | fsBold);
    SIZE text{};
    SelectTabFont();
    try {
        if (!t->Caption.empty()) MeasureText(t->Caption, textOrientation_ == orHorizontal, text);
    } catch (...) {
        RestoreTabFont();
        drawFont_->SetStyle(style);
        throw;
    }
    RestoreTabFont();
    drawFont_->SetStyle(style);
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

// ------------------------------------------------------------ selection

bool TTmCustomTabControl::CanSelectTab(int Index)
{
    if (TabCount() == 0 || Index < 0 || Index >= TabCount()) return false;
    const TTmTabData* t = Tab(Index);
    if (!t->Visible) return false;
    if (!t->Enabled && !(GetComponentState() & csDesigning)) return false;
    if (Index == tabIndex_) return true;
    bool allow = true;
    DoChanging(Index, allow);
    return allow;
}

void TTmCustomTabControl::DoChanging(int NewIndex, bool& AllowChange) { OnChanging(this, NewIndex, AllowChange); }

void TTmCustomTabControl::DoChange() { OnChange(this); }

void TTmCustomTabControl::DoPageChange() { OnPageChange(this); }

void TTmCustomTabControl::DoTabClick() { OnTabClick(this); }

void TTmCustomTabControl::DoTabOrderChange(int OldIndex, int NewIndex) { OnTabOrderChange(this, OldIndex, NewIndex); }

bool TTmCustomTabControl::DoClose()
{
    bool allow = false;
    OnClose(this, allow);
    return allow;
}

void TTmCustomTabControl::DoGetTextColor(int TabIndex, TTmTextStyle Style, bool& Handled, TColor& Color)
{
    OnGetTextColor(this, TabIndex, Style, Color, Handled);
}

void TTmCustomTabControl::SetTabIndex(int Value)
{
    if ((GetComponentState() & (csLoading | csReading)) || DeferTabIndex()) {
        tabIndex_ = Value;
        return;
    }
    auto alive = AliveToken();
    if (Value < 0 || Value >= TabCount()) {
        tabIndex_ = -1;
        InvalidateTabs();
    } else {
        const bool allowed = Value == tabIndex_ || applyApproved_ || CanSelectTab(Value);
        if (!*alive) return;
        if (allowed) {
            const int oldIndex = tabIndex_, oldFirst = firstShownTab_;
            tabIndex_ = Value;
            if (!scrolling_)
                RotateRows();
            else if (Value < firstShownTab_)
                firstShownTab_ = Value;
            else
                while (firstShownTab_ < tabIndex_ && !IsTabShown(tabIndex_)) ++firstShownTab_;
            if (firstShownTab_ != oldFirst || tabIndex_ != oldIndex) {
                InvalidateTabs();
                if (scroller_) scroller_->Invalidate();
            }
            if (tabIndex_ != oldIndex) {
                DoChange();
                if (!*alive) return;
                DoPageChange();
                if (!*alive) return;
            }
        }
    }
    if (showCloseButton_ && closeButton_) closeButton_->Invalidate();
    if (showMenuButton_ && menuButton_) menuButton_->Invalidate();
    if (showCloseButtonOnActiveTab_ && activeCloseButton_) activeCloseButton_->SetVisible(tabIndex_ >= 0);
}

void TTmCustomTabControl::RotateRows()
{
    if (tabIndex_ < 0 || tabIndex_ >= TabCount()) return;
    int maxRow = 0;
    for (int i = 0; i < TabCount(); ++i) maxRow = std::max(maxRow, Tab(i)->Row);
    if (maxRow == 0) return;
    std::vector<std::unique_ptr<RECT>> bands(static_cast<size_t>(maxRow + 1));
    for (int i = 0; i < TabCount(); ++i) {
        const TTmTabData* t = Tab(i);
        if (!t->Visible) continue;
        auto& b = bands[static_cast<size_t>(t->Row)];
        if (!b) b = std::make_unique<RECT>(t->RawRect);
    }
    const int d = (maxRow - Tab(tabIndex_)->Row + 1) % (maxRow + 1);
    if (d == 0) return;
    for (int i = 0; i < TabCount(); ++i) {
        TTmTabData* t = Tab(i);
        if (!t->Visible) continue;
        t->Row = (t->Row + d) % (maxRow + 1);
        if (const auto& b = bands[static_cast<size_t>(t->Row)]) {
            t->RawRect.top = b->top;
            t->RawRect.bottom = b->bottom;
        }
    }
    regionCache_->Clear();
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

// ------------------------------------------------------------ scrolling

void TTmCustomTabControl::ScrollTabs(bool Forward)
{
    const int count = TabCount();
    if (Forward) {
        const int last = LastVisibleTab();
        if (firstShownTab_ < count - 1 && last >= 0 && !IsTabShown(last)) {
            const int old = firstShownTab_;
            for (;;) {
                ++firstShownTab_;
                if (firstShownTab_ >= count) {
                    firstShownTab_ = old;
                    break;
                }
                if (IsTabShown(firstShownTab_)) {
                    InvalidateTabs();
                    break;
                }
            }
        }
    } else {
        const int first = FirstVisibleTab();
        if (firstShownTab_ > 0 && first >= 0 && !IsTabShown(first)) {
            const int old = firstShownTab_;
            for (;;) {
                --firstShownTab_;
                if (firstShownTab_ < 0) {
                    firstShownTab_ = old;
                    break;
                }
                if (IsTabShown(firstShownTab_)) {
                    InvalidateTabs();
                    break;
                }
            }
        }
    }
    if (showCloseButtonOnActiveTab_ && tabIndex_ >= 0 && activeCloseButton_)
        activeCloseButton_->SetVisible(IsTabShown(tabIndex_));
    if (scroller_) scroller_->Invalidate();
    OnScrolledTabs(this);
}

void TTmCustomTabControl::ScrollerUpRightClick(TObject*)
{
    const bool forward = tabOrientation_ == toRight ? tabSequence_ == tsReverse : tabSequence_ == tsStandard;
    ScrollTabs(forward);
}

void TTmCustomTabControl::ScrollerDownLeftClick(TObject*)
{
    const bool forward = tabOrientation_ == toRight ? tabSequence_ == tsReverse : tabSequence_ == tsStandard;
    ScrollTabs(!forward);
}

void TTmCustomTabControl::CloseTab(TObject*)
{
    if (tabIndex_ < 0) return;
    if (DoClose()) CloseActiveTab();
}

// ------------------------------------------------------------ setters

#define TM_SET(Name, Field, After)          \
    void TTmCustomTabControl::Name(decltype(Field) Value) \
    {                                        \
        if (Value == Field) return;          \
        Field = Value;                       \
        After;                               \
    }

TM_SET(SetAlignTabs, alignTabs_, if (multiLine_) TabsChanged())
TM_SET(SetBoldCurrentTab, boldCurrentTab_, TabsChanged())
TM_SET(SetButtonColor, buttonColor_, InvalidateTabs();
       if (scroller_) scroller_->Invalidate(); if (closeButton_) closeButton_->Invalidate();
       if (menuButton_) menuButton_->Invalidate())
TM_SET(SetShowCard, showCard_, TabsChanged())
TM_SET(SetShowCardFrame, showCardFrame_, TabsChanged())
TM_SET(SetUseColoredTabs, useColoredTabs_, InvalidateTabs())
TM_SET(SetImagePosition, imagePosition_, TabsChanged())
TM_SET(SetImageAlignment, imageAlignment_, TabsChanged())
TM_SET(SetImageAlignmentVertical, imageAlignmentVertical_, TabsChanged())
TM_SET(SetHotTrackColor, hotTrackColor_, InvalidateTabs())
TM_SET(SetHotTrackColorSource, hotTrackColorSource_, InvalidateTabs())
TM_SET(SetHotTrackColorType, hotTrackColorType_, InvalidateTabs())
TM_SET(SetHotTrackStyle, hotTrackStyle_, InvalidateTabs())
TM_SET(SetMultiLine, multiLine_, TabsChanged())
TM_SET(SetShowFocusRect, showFocusRect_, Invalidate())
TM_SET(SetSoftCorners, softCorners_, TabsChanged())
TM_SET(SetTabOverlap, tabOverlap_, TabsChanged())
TM_SET(SetTabSequence, tabSequence_, TabsChanged())
TM_SET(SetTabStyle, tabStyle_, TabsChanged())
TM_SET(SetTextAlignment, textAlignment_, TabsChanged())
TM_SET(SetTextAlignmentVertical, textAlignmentVertical_, TabsChanged())
TM_SET(SetUseGradients, useGradients_, InvalidateTabs())
TM_SET(SetTransparent, transparent_, InvalidateTabs())
#undef TM_SET

#define TM_SET_NONNEG(Name, Field)           \
    void TTmCustomTabControl::Name(int Value) \
    {                                         \
        if (Value < 0 || Value == Field) return; \
        Field = Value;                        \
        TabsChanged();                        \
    }

TM_SET_NONNEG(SetImageMargin, imageMargin_)
TM_SET_NONNEG(SetMargin, margin_)
TM_SET_NONNEG(SetRowIndent, rowIndent_)
TM_SET_NONNEG(SetRowOverlap, rowOverlap_)
TM_SET_NONNEG(SetTabHeight, tabHeight_)
TM_SET_NONNEG(SetTabWidth, tabWidth_)
#undef TM_SET_NONNEG

void TTmCustomTabControl::SetCutCornerSize(int Value)
{
    if (Value < 0 || Value == cutCornerSize_) return;
    cutCornerSize_ = Value;
    if (tabStyle_ == tsCutCorner) TabsChanged();
}

void TTmCustomTabControl::SetBackgroundColor(TColor Value)
{
    parentBackgroundColor_ = false;
    if (Value == backgroundColor_) return;
    backgroundColor_ = Value;
    InvalidateTabs();
}

void TTmCustomTabControl::SetParentBackgroundColor(bool Value)
{
    if (Value == parentBackgroundColor_) return;
    parentBackgroundColor_ = Value;
    if (Value && GetParent()) {
        SetBackgroundColor(GetParent()->GetColor());
        parentBackgroundColor_ = true;
    }
}

void TTmCustomTabControl::SetShowFullFrame(bool Value)
{
    if (Value == showFullFrame_) return;
    showFullFrame_ = Value;
    if (!Value) showShadow_ = false;
    TabsChanged();
}

void TTmCustomTabControl::SetShowShadow(bool Value)
{
    if (Value == showShadow_) return;
    showShadow_ = Value;
    if (Value) showFullFrame_ = true;
    TabsChanged();
    InvalidateTabs();
}

TColor TTmCustomTabControl::OutlineFlatColor() const { return TmShiftColorLuminance(flatColor_, flatColorAdjustment_); }

void TTmCustomTabControl::UpdateButtonFrameColors()
{
    const TColor f = OutlineFlatColor();
    if (scroller_) scroller_->SetFrameColor(f);
    if (closeButton_) closeButton_->SetFrameColor(f);
    if (activeCloseButton_) activeCloseButton_->SetFrameColor(f);
    if (menuButton_) menuButton_->SetFrameColor(f);
}

void TTmCustomTabControl::SetFlatColor(TColor Value)
{
    if (Value == flatColor_) return;
    flatColor_ = Value;
    UpdateButtonFrameColors();
    InvalidateTabs();
}

void TTmCustomTabControl::SetFlatColorAdjustment(int Value)
{
    if (Value == flatColorAdjustment_) return;
    flatColorAdjustment_ = Value;
    UpdateButtonFrameColors();
    InvalidateTabs();
}

void TTmCustomTabControl::SetShowCloseButton(bool Value)
{
    if (Value == showCloseButton_) return;
    showCloseButton_ = Value;
    if (Value && !closeButton_) {
        closeButton_ = new TTmTabControlCloseButton(this);
        closeButton_->SetFrameColor(OutlineFlatColor());
        closeButton_->OnClose = TNotifyEvent(this, &TTmCustomTabControl::CloseTab);
    }
    if (closeButton_) closeButton_->SetVisible(Value);
    TabsChanged();
    InvalidateTabs();
}

void TTmCustomTabControl::SetShowCloseButtonOnActiveTab(bool Value)
{
    if (Value == showCloseButtonOnActiveTab_) return;
    showCloseButtonOnActiveTab_ = Value;
    if (Value && !activeCloseButton_) {
        activeCloseButton_ = new TTmActiveTabCloseButton(this);
        activeCloseButton_->SetFrameColor(OutlineFlatColor());
        activeCloseButton_->OnClose = TNotifyEvent(this, &TTmCustomTabControl::CloseTab);
    }
    if (activeCloseButton_) activeCloseButton_->SetVisible(Value && tabIndex_ >= 0);
    TabsChanged();
    InvalidateTabs();
}

void TTmCustomTabControl::SetShowMenuButton(bool Value)
{
    if (Value == showMenuButton_) return;
    showMenuButton_ = Value;
    if (Value && !menuButton_) {
        menuButton_ = new TTmTabMenuButton(this);
        menuButton_->SetFrameColor(OutlineFlatColor());
    }
    if (menuButton_) menuButton_->SetVisible(Value);
    TabsChanged();
    InvalidateTabs();
}

void TTmCustomTabControl::SetHotTrack(bool Value)
{
    if (!Value && !tabHints_) StopHotTrackTimer();
    hotTrack_ = Value;
}

void TTmCustomTabControl::SetTabHints(bool Value)
{
    if (!Value && !hotTrack_) StopHotTrackTimer();
    tabHints_ = Value;
}

void TTmCustomTabControl::SetImages(TCustomImageList* Value)
{
    if (Value == images_) return;
    if (images_) images_->RemoveFreeNotification(this);
    images_ = Value;
    imageLink_->SetSender(Value);
    if (Value) Value->FreeNotification(this);
    TabsChanged();
}

void TTmCustomTabControl::SetTextOrientation(TOrientation Value)
{
    if (Value == textOrientation_) return;
    textOrientation_ = Value;
    if (!(GetComponentState() & csLoading) && !TmIsTrueTypeFont(GetFont())) GetFont()->SetName(L"Verdana");
    TabsChanged();
}

void TTmCustomTabControl::SetTabOrientation(TTmTabOrientation Value)
{
    if (Value == tabOrientation_) return;
    tabOrientation_ = Value;
    if (!(GetComponentState() & (csLoading | csReading))) TabsChanged();
}

void TTmCustomTabControl::SetRegionCacheCapacity(int Value)
{
    if ((Value == -1 || Value > 0) && Value != regionCacheCapacity_) {
        regionCacheCapacity_ = Value;
        regionCache_->SetCapacity(Value);
    }
}

// ------------------------------------------------------------ alignment

void TTmCustomTabControl::AdjustClientRect(RECT& Rect)
{
    if (!(GetComponentState() & (csLoading | csReading))) {
        PlaceCloseButton();
        PlaceMenuButton();
        PlaceScroller();
    }
    Rect = GetDisplayRect();
    lastDisplayRect_ = Rect;
}

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
    switch (tabStyle_) {
    case tsSingleSlant:
        if (!side) {
            shrink(1, 1);
            R.right -= 2 * SlantOverlap(R.bottom - R.top + 2) + 2;
            shift(3, 0);
            if (tabOrientation_ == toTop) R.top += 2;
            if (tabOrientation_ == toBottom) {
                R.bottom -= 2;
                shift(0, 1);
            }
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
            if (tabOrientation_ == toLeft)
                R.left += 2;
            else {
                R.right -= 2;
                shift(1, 0);
            }
        }
        break;
    case tsBackSlant:
        if (!side) {
            shrink(1, 1);
            R.left += 2 * SlantOverlap(R.bottom - R.top + 2) + 2;
            shift(-3, 0);
            if (tabOrientation_ == toTop) R.top += 2;
            if (tabOrientation_ == toBottom) {
                R.bottom -= 2;
                shift(0, -1);
            }
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
            if (tabOrientation_ == toLeft)
                R.left += 2;
            else {
                R.right -= 2;
                shift(1, 0);
            }
        }
        break;
    case tsDoubleSlant:
        if (!side) {
            ::InflateRect(&R, 1, -1);
            const int o = SlantOverlap(R.bottom - R.top + 2);
            R.left += o;
            R.right -= o;
            shift(1, 0);
            if (tabOrientation_ == toTop) R.top += 2;
            if (tabOrientation_ == toBottom) {
                R.bottom -= 2;
                shift(0, 1);
            }
        } else {
            ::InflateRect(&R, -1, 1);
            const int o = SlantOverlap(R.right - R.left + 2);
            R.top += o;
            R.bottom -= o;
            R.bottom += 2;
            shift(0, 1);
            if (tabOrientation_ == toLeft)
                R.left += 2;
            else {
                R.right -= 2;
                shift(1, 0);
            }
        }
        break;
    case tsCutCorner:
        if (horizText) {
            if (!side) {
                shrink(C + 3, 1);
                if (tabOrientation_ == toTop) R.top += 3;
                if (tabOrientation_ == toBottom) {
                    R.bottom -= 3;
                    shift(0, 1);
                }
            } else {
                shrink(1, 4);
                if (tabOrientation_ == toLeft)
                    R.left += C + 5;
                else {
                    R.right -= C + 5;
                    shift(1, 0);
                }
            }
        } else {
            if (!side) {
                shrink(4, 1);
                if (tabOrientation_ == toTop) R.top += C + 3;
                if (tabOrientation_ == toBottom) {
                    R.bottom -= C + 3;
                    shift(0, 1);
                }
            } else {
                shrink(1, C + 3);
                if (tabOrientation_ == toLeft)
                    R.left += 5;
                else {
                    R.right -= 5;
                    shift(1, 0);
                }
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
    const TFontStyles style = drawFont_->GetStyle();
    if (i == tabIndex_ && boldCurrentTab_) drawFont_->SetStyle(style | fsBold);
    TCanvas* canvas = bitmap_->GetCanvas();
    const bool horiz = textOrientation_ == orHorizontal;
    SelectTabFont();
    try {
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
    } catch (...) {
        RestoreTabFont();
        drawFont_->SetStyle(style);
        throw;
    }
    RestoreTabFont();
    drawFont_->SetStyle(style);
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

std::vector<TTmTabMenuEntry> TTmCustomTabControl::TabMenuEntries() const
{
    std::vector<TTmTabMenuEntry> entries;
    for (int i = 0; i < TabCount(); ++i) {
        const TTmTabData* t = Tab(i);
        if (!t->Visible) continue;
        TTmTabMenuEntry e;
        e.Caption = t->Caption;
        e.Enabled = t->Enabled;
        e.Checked = i == tabIndex_;
        e.ImageIndex = (!t->Enabled && t->DisabledIndex != -1) ? t->DisabledIndex : t->ImageIndex;
        e.Tag = i;
        entries.push_back(e);
    }
    if (sortTabMenu_)
        std::stable_sort(entries.begin(), entries.end(), [](const TTmTabMenuEntry& a, const TTmTabMenuEntry& b) {
            return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.Caption.c_str(), -1, b.Caption.c_str(),
                                    -1) == CSTR_LESS_THAN;
        });
    return entries;
}

// ------------------------------------------------------------ input

void TTmCustomTabControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    auto alive = AliveToken();
    TCustomControl::MouseDown(Button, Shift, X, Y);
    if (!*alive) return;
    const bool designing = (GetComponentState() & csDesigning) != 0;
    if (!GetEnabled() || (designing && Button != mbLeft)) return;
    if (Button != mbLeft && !designing) {
        // Only the left button selects.
        mouseDownTab_ = -1;
        return;
    }
    UpdateTabs();
    const int i = TabAtPos(X, Y);
    mouseDownTab_ = i;
    if (i < 0 || !Tab(i)->Enabled) return;
    if (GetTabStop() && !designing && HandleAllocated()) {
        if (i == tabIndex_ || !Focused()) {
            if (CanFocus()) SetFocus();
            if (!*alive) return;
            if (!Focused() && i == tabIndex_) return;
        }
    }
    SetTabIndex(i);
    if (!*alive) return;
    if (i == tabIndex_) DoTabClick();
}

void TTmCustomTabControl::MouseMove(TShiftState Shift, int X, int Y)
{
    auto alive = AliveToken();
    if (!(GetComponentState() & csDesigning) && (hotTrack_ || tabHints_)) {
        const int i = TabAtPos(X, Y);
        if (i < 0) {
            const RECT area = GetTabAreaRect();
            const bool inArea = X >= area.left && X <= area.right && Y >= area.top && Y <= area.bottom;
            EndHotTrack();
            if (tabHints_) Hint = inArea ? std::wstring() : savedHint_;
        } else if (i != hotTab_) {
            hotTab_ = i;
            if (hotTrack_) {
                hotTrackPartial_ = true;
                RECT area = GetTabAreaRect();
                area.right += 1;
                area.bottom += 1;
                if (HandleAllocated()) ::InvalidateRect(GetHandle(), &area, FALSE);
            }
            if (tabHints_) Hint = Tab(i)->Hint;
            if (!hotTrackTimer_) StartHotTrackTimer();
        }
    }
    TCustomControl::MouseMove(Shift, X, Y);
    if (!*alive) return;
    if (allowTabDragging_ && (Shift & ssLeft) && mouseDownTab_ >= 0 && mouseDownTab_ < TabCount() &&
        Tab(mouseDownTab_)->Enabled && !Dragging())
        BeginDrag(false);
}

void TTmCustomTabControl::StartHotTrackTimer()
{
    if (!HandleAllocated()) return;
    hotTrackTimer_ = ::SetTimer(GetHandle(), kHotTrackTimerId, 60, nullptr);
}

void TTmCustomTabControl::StopHotTrackTimer()
{
    if (hotTrackTimer_ && HandleAllocated()) ::KillTimer(GetHandle(), hotTrackTimer_);
    hotTrackTimer_ = 0;
}

void TTmCustomTabControl::HotTrackTimerTick()
{
    POINT p{};
    ::GetCursorPos(&p);
    p = ScreenToClient(p);
    if (TabAtPos(p.x, p.y) < 0) EndHotTrack();
}

void TTmCustomTabControl::EndHotTrack()
{
    StopHotTrackTimer();
    const bool was = hotTab_ >= 0;
    hotTab_ = -1;
    if (was && HandleAllocated()) {
        RECT area = GetTabAreaRect();
        area.right += 1;
        area.bottom += 1;
        ::InvalidateRect(GetHandle(), &area, FALSE);
    }
    Hint = savedHint_;
}

void TTmCustomTabControl::KeyDown(WORD& Key, TShiftState Shift)
{
    auto alive = AliveToken();
    TCustomControl::KeyDown(Key, Shift);
    if (!*alive) return;
    const int count = TabCount();
    if (count == 0) return;
    const bool inverted =
        (tabOrientation_ == toLeft && tabSequence_ == tsStandard) || (tabOrientation_ != toLeft && tabSequence_ == tsReverse);
    int result = tabIndex_;
    if (Key == VK_HOME || Key == VK_END) {
        const bool toFirst = (Key == VK_HOME) != inverted;
        int i = toFirst ? 0 : count - 1;
        const int step = toFirst ? 1 : -1;
        for (;;) {
            if (i < 0 || i >= count) {
                i = tabIndex_;
                break;
            }
            if (i == tabIndex_ || CanSelectTab(i)) break;
            if (!*alive) return;
            i += step;
        }
        result = i;
    } else if (Key == VK_LEFT || Key == VK_RIGHT || Key == VK_UP || Key == VK_DOWN) {
        bool forward = Key == VK_RIGHT || Key == VK_DOWN;
        if (inverted) forward = !forward;
        const int start = tabIndex_ < 0 ? (forward ? count - 1 : 0) : tabIndex_;
        int i = start;
        for (;;) {
            i = forward ? (i + 1) % count : (i - 1 + count) % count;
            if (i == start) {
                i = tabIndex_;
                break;
            }
            if (CanSelectTab(i)) break;
            if (!*alive) return;
        }
        result = i;
    } else {
        return;
    }
    if (result != tabIndex_ && result >= 0) {
        SetTabIndexApproved(result);
        if (!*alive) return;
        DoTabClick();
    }
}

bool TTmCustomTabControl::DialogChar(wchar_t Char)
{
    if (!CanFocus()) return false;
    const wchar_t up = static_cast<wchar_t>(reinterpret_cast<uintptr_t>(::CharUpperW(reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(Char)))));
    for (int i = 0; i < TabCount(); ++i) {
        const TTmTabData* t = Tab(i);
        const wchar_t a = AcceleratorOf(t->Caption);
        if (!a || !t->Enabled || !t->Visible) continue;
        const wchar_t au = static_cast<wchar_t>(reinterpret_cast<uintptr_t>(::CharUpperW(reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(a)))));
        if (au != up) continue;
        auto alive = AliveToken();
        SetFocus();
        if (!*alive) return true;
        if (Focused()) {
            SetTabIndex(i);
            if (!*alive) return true;
            if (tabIndex_ == i) DoTabClick();
        }
        return true;
    }
    return false;
}

void TTmCustomTabControl::WndProc(TMessage& Message)
{
    switch (Message.Msg) {
    case WM_GETDLGCODE: Message.Result = DLGC_WANTARROWS; return;
    case WM_SETFOCUS:
    case WM_KILLFOCUS: InvalidateTabs(); break;
    case WM_TIMER:
        if (Message.WParam == kHotTrackTimerId && hotTrackTimer_) {
            HotTrackTimerTick();
            Message.Result = 0;
            return;
        }
        break;
    case WM_SYSCHAR:
        if (DialogChar(static_cast<wchar_t>(Message.WParam))) {
            Message.Result = 1;
            return;
        }
        break;
    case WM_MOUSELEAVE:
        if (hotTab_ >= 0 || tabHints_) EndHotTrack();
        break;
    default: break;
    }
    TCustomControl::WndProc(Message);
}

// ------------------------------------------------------------ tab dragging

RECT TTmCustomTabControl::DragMarkRect(int Index) const
{
    const RECT T = GetTabRect(Index);
    const int h = fixedDimension_ / 2;
    const bool before = tabSequence_ == tsStandard ? Index < tabIndex_ : Index > tabIndex_;
    const bool dbOrBack = tabStyle_ == tsDoubleSlant || tabStyle_ == tsBackSlant;
    const bool singleOrDb = tabStyle_ == tsSingleSlant || tabStyle_ == tsDoubleSlant;
    const bool plus1 = tabStyle_ == tsCutCorner || tabStyle_ == tsRoundCorners || tabStyle_ == tsSquareCorners;
    RECT r{};
    switch (tabOrientation_) {
    case toTop:
    case toBottom:
        if (tabOrientation_ == toTop) {
            r.top = T.top - 2;
            r.bottom = T.top + 6;
        } else {
            r.top = T.bottom - 6;
            r.bottom = T.bottom + 2;
        }
        if (before) {
            r.left = T.left - 8 + (dbOrBack ? h : 0);
            r.right = T.left + 7 + (dbOrBack ? h : 0);
        } else {
            const int d = singleOrDb ? -h : plus1 ? 1 : 0;
            r.left = T.right - 7 + d;
            r.right = T.right + 8 + d;
        }
        break;
    case toLeft:
        r.left = T.left - 2;
        r.right = T.left + 6;
        if (before) {
            const int d = dbOrBack ? -h : plus1 ? 1 : 0;
            r.top = T.bottom - 7 + d;
            r.bottom = T.bottom + 8 + d;
        } else {
            r.top = T.top - 8 + (singleOrDb ? h : 0);
            r.bottom = T.top + 7 + (singleOrDb ? h : 0);
        }
        break;
    case toRight:
        r.left = T.right - 5;
        r.right = T.right + 3;
        if (before) {
            r.top = T.top - 8 + (dbOrBack ? h + 1 : 0);
            r.bottom = T.top + 7 + (dbOrBack ? h + 1 : 0);
        } else {
            const int d = singleOrDb ? -h : plus1 ? 1 : 0;
            r.top = T.bottom - 7 + d;
            r.bottom = T.bottom + 8 + d;
        }
        break;
    }
    return r;
}

void TTmCustomTabControl::DrawDragIndicator(const RECT& R)
{
    TWinControl* parent = GetParent();
    if (!parent || !parent->HandleAllocated()) return;
    HWND pw = parent->GetHandle();
    HDC dc = ::GetDCEx(pw, nullptr, DCX_CACHE | DCX_CLIPSIBLINGS | DCX_LOCKWINDOWUPDATE);
    if (!dc) return;
    RECT pr = R;
    ::OffsetRect(&pr, GetLeft(), GetTop());
    const int w = pr.right - pr.left, h = pr.bottom - pr.top;
    TBitmap mark;
    mark.SetSize(std::max(w, 1), std::max(h, 1));
    TCanvas* mc = mark.GetCanvas();
    SetCanvasBrush(mc, TmXorColorChannels(dragIndicatorColor_, parent->GetColor()));
    mc->FillRect(RECT{0, 0, w, h});
    SetCanvasBrush(mc, clBlack);
    mc->GetPen()->SetStyle(psClear);
    auto tri = [&](std::initializer_list<POINT> p) { mc->Polygon(std::vector<POINT>(p)); };
    switch (tabOrientation_) {
    case toTop: tri({{0, 0}, {8, 8}, {0, 8}}); tri({{7, 8}, {15, 0}, {15, 8}}); break;
    case toLeft: tri({{1, 0}, {8, 0}, {8, 8}}); tri({{-1, 15}, {8, 7}, {8, 15}}); break;
    case toBottom: tri({{-1, 8}, {-1, -1}, {8, -1}}); tri({{7, -1}, {15, 0}, {15, 8}}); break;
    case toRight: tri({{0, 0}, {7, 0}, {0, 7}}); tri({{0, 7}, {8, 15}, {0, 15}}); break;
    }
    ::BitBlt(dc, pr.left, pr.top, w, h, mc->GetHandle(), 0, 0, SRCINVERT);
    ::ReleaseDC(pw, dc);
}

void TTmCustomTabControl::EraseDragMark()
{
    if (!dragMarkShown_) return;
    DrawDragIndicator(dragMarkRect_);
    dragMarkShown_ = false;
}

void TTmCustomTabControl::DragOver(TObject* Source, int X, int Y, TDragState State, bool& Accept)
{
    TCustomControl::DragOver(Source, X, Y, State, Accept);
    if (Source != this) return;
    if (State == dsDragLeave) {
        EraseDragMark();
        lastDragTarget_ = -1;
        return;
    }
    const int i = TabAtPos(X, Y);
    if (i == -1) {
        if (!dragScrollTimer_) {
            dragScrollTimer_ = std::make_unique<TTimer>(nullptr);
            dragScrollTimer_->SetOnTimer(TNotifyEvent(this, &TTmCustomTabControl::DragScrollTick));
        }
        dragScrollTimer_->SetInterval(dragScrollFirst_);
        dragScrollTimer_->SetEnabled(true);
    }
    Accept = i >= 0 && i != tabIndex_;
    if (i != lastDragTarget_) {
        lastDragTarget_ = i;
        EraseDragMark();
        if (Accept) {
            dragMarkRect_ = DragMarkRect(i);
            DrawDragIndicator(dragMarkRect_);
            dragMarkShown_ = true;
        }
    }
}

void TTmCustomTabControl::DragScrollTick(TObject*)
{
    try {
        dragScrollTimer_->SetInterval(dragScrollRepeat_);
        if (!Dragging()) return;
        POINT p{};
        ::GetCursorPos(&p);
        p = ScreenToClient(p);
        int dir = 0;
        switch (tabOrientation_) {
        case toTop:
        case toBottom: dir = p.x < 0 ? -1 : p.x > GetWidth() ? 1 : 0; break;
        case toLeft: dir = p.y < 0 ? 1 : p.y > GetHeight() ? -1 : 0; break;
        case toRight: dir = p.y < 0 ? -1 : p.y > GetHeight() ? 1 : 0; break;
        }
        if (tabSequence_ == tsReverse) dir = -dir;
        if (dir != 0) ScrollTabs(dir > 0);
    } catch (...) {
        dragScrollTimer_->SetEnabled(false);
        throw;
    }
}

void TTmCustomTabControl::DragDrop(TObject* Source, int X, int Y)
{
    if (Source == this && allowTabDragging_) {
        if (dragScrollTimer_) dragScrollTimer_->SetEnabled(false);
        EraseDragMark();
        lastDragTarget_ = -1;
        const int i = TabAtPos(X, Y);
        if (i >= 0) MoveActiveTab(i);
    }
    TCustomControl::DragDrop(Source, X, Y);
}

// ================================================================ buttons

void DrawTabButtonFace(TCanvas* Canvas, const RECT& Rect, TTmCustomTabControl* TabControl, bool Enabled,
                       TColor FrameColor, bool Hot, bool Down)
{
    const TColor B = TabControl->GetButtonColor();
    if (Enabled && TabControl->GetUseGradients()) {
        TColor top = TmLightenColor(B, 20), bottom = TmDarkenColor(B, 20);
        if (Down) {
            top = TmDarkenColor(top, 30);
            bottom = TmDarkenColor(bottom, 30);
        } else if (Hot) {
            top = TmLightenColor(top, 30);
            bottom = TmLightenColor(bottom, 30);
        }
        RECT inner = Rect;
        ::InflateRect(&inner, -1, -1);
        TmPaintGradient(Canvas, inner, gdHorizontalEnd, top, bottom);
        Canvas->GetPen()->SetStyle(psSolid);
        Canvas->GetPen()->SetColor(FrameColor);
        Canvas->GetBrush()->SetStyle(bsClear);
        Canvas->Rectangle(Rect);
        Canvas->GetBrush()->SetStyle(bsSolid);
    } else if (Enabled) {
        TColor b = Down ? TmDarkenColor(B, 30) : Hot ? TmLightenColor(B, 30) : B;
        Canvas->GetPen()->SetStyle(psSolid);
        Canvas->GetPen()->SetColor(FrameColor);
        SetCanvasBrush(Canvas, b);
        Canvas->Rectangle(Rect);
    } else {
        Canvas->GetPen()->SetStyle(psSolid);
        Canvas->GetPen()->SetColor(FrameColor);
        SetCanvasBrush(Canvas, TmLightenColor(clBtnShadow, 30));
        Canvas->Rectangle(Rect);
    }
}

namespace {

// The hot state follows the control under the cursor.
void SyncHot(TControl* C, bool& Hot)
{
    if (!C->GetEnabled()) return;
    POINT p{};
    ::GetCursorPos(&p);
    POINT c = C->ScreenToClient(p);
    const bool inside = c.x >= 0 && c.y >= 0 && c.x < C->GetWidth() && c.y < C->GetHeight() &&
                        ::WindowFromPoint(p) == (dynamic_cast<TWinControl*>(C)
                                                     ? static_cast<TWinControl*>(C)->GetHandle()
                                                     : C->GetParent()->GetHandle());
    if (inside != Hot) {
        Hot = inside;
        C->Invalidate();
    }
}

}  // namespace

TTmTabScroller::TTmTabScroller(TTmCustomTabControl* TabControl) : TCustomControl(TabControl), tabControl_(TabControl)
{
    SetParent(TabControl);
    SetBounds(-100, -100, 31, 16);
}

TTmTabScroller::~TTmTabScroller() = default;

TM_REDRAW_SETTER(TTmTabScroller, FrameColor, TColor, frameColor_, Invalidate)
TM_REDRAW_SETTER(TTmTabScroller, Orientation, TOrientation, orientation_, Invalidate)

int TTmTabScroller::HalfAt(int X, int Y) const
{
    if (orientation_ == orVertical) return Y <= GetHeight() / 2 ? 1 : 0;
    return X >= GetWidth() / 2 ? 1 : 0;
}

bool TTmTabScroller::HalfEnabled(int Half) const
{
    // Which of the two halves scrolls backward (as the click handlers do).
    const bool upRightForward = tabControl_->GetTabOrientation() == toRight
                                    ? tabControl_->GetTabSequence() == tsReverse
                                    : tabControl_->GetTabSequence() == tsStandard;
    const bool forward = Half == 1 ? upRightForward : !upRightForward;
    if (!forward) return tabControl_->GetFirstShownTab() != 0;
    const int last = tabControl_->LastVisibleTab();
    return last >= 0 && !tabControl_->IsTabShown(last);
}

void TTmTabScroller::Paint()
{
    TCanvas* c = GetCanvas();
    const TColor F = TmLightenColor(frameColor_, 30);
    const int w = GetWidth(), h = GetHeight();
    RECT first{0, 0, w, h}, second{0, 0, w, h};
    if (orientation_ == orHorizontal) {
        first.right = first.left + w / 2 + 1;
        second.left = second.right - w / 2 - 1;
    } else {
        first.top = first.bottom - h / 2 - 1;
        second.bottom = second.top + h / 2 + 1;
    }
    const bool e0 = HalfEnabled(0), e1 = HalfEnabled(1);
    DrawTabButtonFace(c, first, tabControl_, e0, F, hot_ && hotHalf_ == 0, pressed_ && pressedHalf_ == 0);
    TmPaintArrowGlyph(c, first, vsClassic, e0, orientation_ == orHorizontal ? 2 : 1);
    DrawTabButtonFace(c, second, tabControl_, e1, F, hot_ && hotHalf_ == 1, pressed_ && pressedHalf_ == 1);
    TmPaintArrowGlyph(c, second, vsClassic, e1, orientation_ == orHorizontal ? 3 : 0);
}

void TTmTabScroller::ClickHalf(int Half)
{
    if (Half == 0)
        DownLeftClick();
    else
        UpRightClick();
}

void TTmTabScroller::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    TCustomControl::MouseDown(Button, Shift, X, Y);
    pressedHalf_ = HalfAt(X, Y);
    mouseDown_ = true;
    pressed_ = true;
    Invalidate();
    if (HandleAllocated()) ::SetCapture(GetHandle());
    if (!timer_) {
        timer_ = std::make_unique<TTimer>(nullptr);
        timer_->SetEnabled(false);
        timer_->SetOnTimer(TNotifyEvent(this, &TTmTabScroller::TimerTick));
    }
    timer_->SetInterval(firstDelay_);
    timer_->SetEnabled(true);
}

void TTmTabScroller::MouseMove(TShiftState Shift, int X, int Y)
{
    TCustomControl::MouseMove(Shift, X, Y);
    if (mouseDown_) {
        const bool inside = X >= 0 && Y >= 0 && X < GetWidth() && Y < GetHeight() && HalfAt(X, Y) == pressedHalf_;
        if (inside != pressed_) {
            pressed_ = inside;
            Invalidate();
        }
    } else if (!hot_) {
        SyncHot(this, hot_);
    } else {
        const int half = HalfAt(X, Y);
        if (half != hotHalf_) {
            hotHalf_ = half;
            Invalidate();
        }
    }
}

void TTmTabScroller::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    auto alive = AliveToken();
    if (timer_) timer_->SetEnabled(false);
    if (HandleAllocated() && ::GetCapture() == GetHandle()) ::ReleaseCapture();
    mouseDown_ = false;
    if (pressed_) {
        pressed_ = false;
        ClickHalf(pressedHalf_);
        if (!*alive) return;
        Invalidate();
    }
    TCustomControl::MouseUp(Button, Shift, X, Y);
}

void TTmTabScroller::TimerTick(TObject*)
{
    try {
        timer_->SetInterval(repeatInterval_);
        if (pressed_ && HandleAllocated() && ::GetCapture() == GetHandle()) ClickHalf(pressedHalf_);
    } catch (...) {
        timer_->SetEnabled(false);
        throw;
    }
}

void TTmTabScroller::WndProc(TMessage& Message)
{
    if (Message.Msg == CM_MOUSEENTER) {
        hot_ = true;
        TCustomControl::WndProc(Message);
        Repaint();
        return;
    }
    if (Message.Msg == CM_MOUSELEAVE) {
        hot_ = false;
        TCustomControl::WndProc(Message);
        Repaint();
        return;
    }
    TCustomControl::WndProc(Message);
}

TTmTabStripButton::TTmTabStripButton(TTmCustomTabControl* TabControl)
    : TCustomControl(TabControl), tabControl_(TabControl)
{
    SetParent(TabControl);
    SetBounds(-100, -100, 16, 16);
}

TM_REDRAW_SETTER(TTmTabStripButton, FrameColor, TColor, frameColor_, Invalidate)

void TTmTabStripButton::PaintFace(const RECT& R)
{
    DrawTabButtonFace(GetCanvas(), R, tabControl_, GetEnabled(), TmLightenColor(frameColor_, 30), hot_, pressed_);
}

void TTmTabStripButton::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    TCustomControl::MouseDown(Button, Shift, X, Y);
    mouseDown_ = true;
    pressed_ = true;
    Invalidate();
    if (HandleAllocated()) ::SetCapture(GetHandle());
}

void TTmTabStripButton::MouseMove(TShiftState Shift, int X, int Y)
{
    TCustomControl::MouseMove(Shift, X, Y);
    if (mouseDown_) {
        const bool inside = X >= 0 && Y >= 0 && X < GetWidth() && Y < GetHeight();
        if (inside != pressed_) {
            pressed_ = inside;
            Invalidate();
        }
    } else if (!hot_) {
        SyncHot(this, hot_);
    }
}

void TTmTabStripButton::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    auto alive = AliveToken();
    if (HandleAllocated() && ::GetCapture() == GetHandle()) ::ReleaseCapture();
    mouseDown_ = false;
    if (pressed_) {
        pressed_ = false;
        Released();
        if (!*alive) return;
    }
    TCustomControl::MouseUp(Button, Shift, X, Y);
}

void TTmTabStripButton::WndProc(TMessage& Message)
{
    if (Message.Msg == CM_MOUSEENTER || Message.Msg == CM_MOUSELEAVE) {
        hot_ = Message.Msg == CM_MOUSEENTER;
        TCustomControl::WndProc(Message);
        Repaint();
        return;
    }
    TCustomControl::WndProc(Message);
}

void TTmTabControlCloseButton::Paint()
{
    RECT r = GetClientRect();
    PaintFace(r);
    TmPaintCloseButtonGlyph(GetCanvas(), r, vsClassic, GetEnabled());
}

// The close handler may free the button: it repaints only when still alive.
void TTmTabControlCloseButton::Released()
{
    auto alive = AliveToken();
    DoClose();
    if (*alive) Invalidate();
}

TTmActiveTabCloseButton::TTmActiveTabCloseButton(TTmCustomTabControl* TabControl)
    : TGraphicControl(TabControl), tabControl_(TabControl)
{
    SetParent(TabControl);
    SetBounds(-100, -100, 15, 13);
}

TM_REDRAW_SETTER(TTmActiveTabCloseButton, FrameColor, TColor, frameColor_, Invalidate)

void TTmActiveTabCloseButton::Paint()
{
    RECT r = GetClientRect();
    TColor glyph = frameColor_;
    if (hot_) {
        DrawTabButtonFace(GetCanvas(), r, tabControl_, GetEnabled(), frameColor_, hot_, pressed_);
        glyph = tabControl_->GetTabColors()->GetHighlightBar();
    }
    TmPaintCloseGlyph(GetCanvas(), r, glyph);
}

void TTmActiveTabCloseButton::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    TGraphicControl::MouseDown(Button, Shift, X, Y);
    if (Button != mbLeft) return;
    mouseDown_ = true;
    pressed_ = true;
    Repaint();
}

void TTmActiveTabCloseButton::MouseMove(TShiftState Shift, int X, int Y)
{
    TGraphicControl::MouseMove(Shift, X, Y);
    if (mouseDown_) {
        const bool inside = X >= 0 && Y >= 0 && X < GetWidth() && Y < GetHeight();
        if (inside != pressed_) {
            pressed_ = inside;
            Repaint();
        }
    } else if (!hot_) {
        SyncHot(this, hot_);
    }
}

void TTmActiveTabCloseButton::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    auto alive = AliveToken();
    mouseDown_ = false;
    if (pressed_) {
        pressed_ = false;
        DoClose();
        if (!*alive) return;
        Repaint();
        SyncHot(this, hot_);
    }
    TGraphicControl::MouseUp(Button, Shift, X, Y);
}

void TTmActiveTabCloseButton::MouseEnter()
{
    hot_ = true;
    TGraphicControl::MouseEnter();
    Repaint();
}

void TTmActiveTabCloseButton::MouseLeave()
{
    hot_ = false;
    TGraphicControl::MouseLeave();
    Repaint();
}

void TTmTabMenuButton::Paint()
{
    RECT r = GetClientRect();
    PaintFace(r);
    int dir = 1;
    switch (tabControl_->GetTabOrientation()) {
    case toTop: dir = 1; break;
    case toLeft: dir = 3; break;
    case toBottom: dir = 0; break;
    case toRight: dir = 2; break;
    }
    TmPaintArrowGlyph(GetCanvas(), r, vsClassic, GetEnabled(), dir);
}

// Repaints unpressed before the menu runs its own message loop.
void TTmTabMenuButton::Released()
{
    Invalidate();
    DisplayMenu();
}

void TTmTabMenuButton::MenuItemClick(int Tag) { tabControl_->SetTabIndex(Tag); }

HMENU TTmTabMenuButton::BuildMenu()
{
    menuGlyphs_.clear();
    const std::vector<TTmTabMenuEntry> entries = tabControl_->TabMenuEntries();
    HMENU menu = ::CreatePopupMenu();
    if (!menu) return nullptr;
    classlib::TCustomImageList* images = tabControl_->GetImages();
    HIMAGELIST list = images ? images->GetHandle() : nullptr;
    const int count = list ? ::ImageList_GetImageCount(list) : 0;
    int iw = 0, ih = 0;
    if (list) ::ImageList_GetIconSize(list, &iw, &ih);
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    for (size_t i = 0; i < entries.size(); ++i) {
        const TTmTabMenuEntry& e = entries[i];
        UINT flags = MF_STRING | (e.Enabled ? 0 : MF_GRAYED) | (e.Checked ? MF_CHECKED : 0);
        ::AppendMenuW(menu, flags, i + 1, e.Caption.c_str());
        if (e.ImageIndex < 0 || e.ImageIndex >= count || iw <= 0 || ih <= 0 || !memory) continue;
        // The image over the menu's colour (the item bitmap has no
        // transparency of its own).
        classlib::TOwnedBitmap glyph(::CreateCompatibleBitmap(screen, iw, ih));
        if (!glyph.Get()) continue;
        HGDIOBJ old = ::SelectObject(memory, glyph.Get());
        const RECT r{0, 0, iw, ih};
        ::FillRect(memory, &r, ::GetSysColorBrush(COLOR_MENU));
        ::ImageList_Draw(list, e.ImageIndex, memory, 0, 0, ILD_TRANSPARENT);
        ::SelectObject(memory, old);
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_BITMAP;
        info.hbmpItem = glyph.Get();
        ::SetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
        menuGlyphs_.push_back(std::move(glyph));
    }
    if (memory) ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return menu;
}

void TTmTabMenuButton::DisplayMenu()
{
    const std::vector<TTmTabMenuEntry> entries = tabControl_->TabMenuEntries();
    HMENU menu = BuildMenu();
    if (!menu) return;
    const bool rev = tabControl_->GetTabSequence() == tsReverse;
    POINT p{};
    UINT align = TPM_LEFTALIGN;
    switch (tabControl_->GetTabOrientation()) {
    case toTop:
        p = rev ? POINT{0, GetHeight()} : POINT{GetWidth() - 1, GetHeight()};
        align = rev ? TPM_LEFTALIGN : TPM_RIGHTALIGN;
        break;
    case toLeft: p = POINT{GetWidth(), 0}; break;
    case toBottom:
        p = rev ? POINT{0, 0} : POINT{GetWidth(), 0};
        align = rev ? TPM_LEFTALIGN : TPM_RIGHTALIGN;
        break;
    case toRight:
        p = POINT{0, 0};
        align = TPM_RIGHTALIGN;
        break;
    }
    p = ClientToScreen(p);
    const UINT chosen = static_cast<UINT>(
        ::TrackPopupMenu(menu, align | TPM_RETURNCMD | TPM_NONOTIFY, p.x, p.y, 0, GetHandle(), nullptr));
    ::DestroyMenu(menu);
    if (chosen >= 1 && chosen <= entries.size()) MenuItemClick(entries[chosen - 1].Tag);
}

}  // namespace themed
