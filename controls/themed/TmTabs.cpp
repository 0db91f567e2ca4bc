#include "controls/themed/TmTabs.h"

#include <algorithm>


namespace themed {

using namespace classlib;

namespace {

void FillColor(TCanvas* Canvas, const RECT& R, TColor Color)
{
    Canvas->GetBrush()->SetStyle(bsSolid);
    Canvas->GetBrush()->SetColor(Color);
    Canvas->FillRect(R);
}

void FrameColor(TCanvas* Canvas, const RECT& R, TColor Color)
{
    Canvas->GetBrush()->SetStyle(bsSolid);
    Canvas->GetBrush()->SetColor(Color);
    Canvas->FrameRect(R);
}

}  // namespace

// ============================================================ TTmTabSheet

TTmTabSheet::TTmTabSheet(TComponent* AOwner) : TCustomControl(AOwner)
{
    ControlStyle |= csAcceptsControls;
    SetVisible(false);
}

TTmTabSheet::~TTmTabSheet()
{
    if (pageControl_) pageControl_->RemovePage(this);
}

void TTmTabSheet::SetCaption(const std::wstring& Value)
{
    caption_ = Value;
    if (pageControl_) pageControl_->Invalidate();
}

void TTmTabSheet::SetPageControl(TTmPageControl* Value)
{
    if (pageControl_ == Value) return;
    if (pageControl_) pageControl_->RemovePage(this);
    if (Value) Value->InsertPage(this);
}

int TTmTabSheet::GetPageIndex() const
{
    if (!pageControl_) return -1;
    const auto& pages = pageControl_->pages_;
    return static_cast<int>(std::find(pages.begin(), pages.end(), this) - pages.begin());
}

void TTmTabSheet::Paint()
{
    GetCanvas()->GetBrush()->SetColor(GetColor());
    GetCanvas()->FillRect(GetClientRect());
}

// ========================================================= TTmPageControl

TTmPageControl::TTmPageControl(TComponent* AOwner) : TCustomControl(AOwner)
{
    ControlStyle |= csAcceptsControls;
    SetBounds(0, 0, 289, 193);
}

TTmPageControl::~TTmPageControl()
{
    for (TTmTabSheet* page : pages_) page->pageControl_ = nullptr;
}

TTmTabSheet* TTmPageControl::GetPage(int Index) const
{
    if (Index < 0 || Index >= GetPageCount()) throw EListError(L"List index out of bounds (" + std::to_wstring(Index) + L")");
    return pages_[static_cast<std::size_t>(Index)];
}

void TTmPageControl::InsertPage(TTmTabSheet* Page)
{
    pages_.push_back(Page);
    Page->pageControl_ = this;
    Page->SetParent(this);
    Page->SetColor(pageColor_);
    if (!active_) SetActivePage(Page);
    PlacePages();
    Invalidate();
}

void TTmPageControl::RemovePage(TTmTabSheet* Page)
{
    pages_.erase(std::remove(pages_.begin(), pages_.end(), Page), pages_.end());
    Page->pageControl_ = nullptr;
    if (active_ == Page) {
        active_ = nullptr;
        if (!pages_.empty() && !(GetComponentState() & csDestroying)) SetActivePage(pages_.front());
    }
    Invalidate();
}

void TTmPageControl::SetActivePage(TTmTabSheet* Value)
{
    if (Value && Value->pageControl_ != this) return;
    if (active_ == Value) return;
    active_ = Value;
    for (TTmTabSheet* page : pages_) page->SetVisible(page == active_);
    Invalidate();
    OnChange(this);
}

void TTmPageControl::SetPageColor(TColor Value)
{
    pageColor_ = Value;
    for (TTmTabSheet* page : pages_) page->SetColor(Value);
    Invalidate();
}

void TTmPageControl::SetFlatColor(TColor Value)
{
    flatColor_ = Value;
    Invalidate();
}

void TTmPageControl::SetHighlightColor(TColor Value)
{
    highlightColor_ = Value;
    Invalidate();
}

RECT TTmPageControl::PageRect() const { return RECT{0, tabHeight_, GetWidth(), GetHeight()}; }

RECT TTmPageControl::TabRect(int Index)
{
    TCanvas* canvas = GetCanvas();
    canvas->SetFont(GetFont());
    int left = 2;
    for (int i = 0; i < GetPageCount(); ++i) {
        const int width = canvas->TextWidth(pages_[static_cast<std::size_t>(i)]->caption_) + 20;
        if (i == Index) return RECT{left, 2, left + width, tabHeight_ + 1};
        left += width;
    }
    return RECT{0, 0, 0, 0};
}

void TTmPageControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight)
{
    TCustomControl::SetBounds(ALeft, ATop, AWidth, AHeight);
    PlacePages();
}

void TTmPageControl::PlacePages()
{
    RECT r = PageRect();
    ::InflateRect(&r, -2, -2);
    for (TTmTabSheet* page : pages_) page->SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

void TTmPageControl::Paint()
{
    TCanvas* canvas = GetCanvas();
    FillColor(canvas, GetClientRect(), GetColor());
    const RECT page = PageRect();
    FillColor(canvas, page, pageColor_);
    FrameColor(canvas, page, flatColor_);
    canvas->SetFont(GetFont());
    for (int i = 0; i < GetPageCount(); ++i) {
        TTmTabSheet* sheet = pages_[static_cast<std::size_t>(i)];
        RECT tab = TabRect(i);
        const bool active = sheet == active_;
        if (!active) tab.top += 2;
        FillColor(canvas, tab, active ? pageColor_ : GetColor());
        FrameColor(canvas, tab, flatColor_);
        if (active) {
            // The active tab opens into the page and carries the bar.
            FillColor(canvas, RECT{tab.left + 1, tab.bottom - 1, tab.right - 1, tab.bottom}, pageColor_);
            FillColor(canvas, RECT{tab.left, tab.top, tab.right, tab.top + 3}, highlightColor_);
        }
        HDC dc = canvas->GetHandle();
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, static_cast<COLORREF>(ColorToRGB(GetFont()->GetColor())));
        RECT text = tab;
        text.top += active ? 3 : 0;
        ::DrawTextW(dc, sheet->caption_.c_str(), static_cast<int>(sheet->caption_.size()), &text,
                    DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
}

void TTmPageControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    TCustomControl::MouseDown(Button, Shift, X, Y);
    if (Button != mbLeft) return;
    for (int i = 0; i < GetPageCount(); ++i) {
        const RECT tab = TabRect(i);
        if (X >= tab.left && X < tab.right && Y >= tab.top && Y < tab.bottom) {
            SetActivePage(pages_[static_cast<std::size_t>(i)]);
            return;
        }
    }
}

}  // namespace themed
