#include "controls/toolbar/MbToolbar.h"

#include <commctrl.h>
#include <objbase.h>

#include <algorithm>

#include "classlib/Graphics.h"
#include "classlib/Startup.h"

namespace toolbar {

namespace {

constexpr int kPadX = 6;       // space left and right of a caption
constexpr int kImagePad = 4;   // space around an image
constexpr int kSepWidth = 8;   // width of a separator
constexpr int kGap = 1;        // between items

// Whether the application's initialisation initialised COM for the main
// thread (main thread only).
bool comInitialized = false;

void InitializeCom() { comInitialized = SUCCEEDED(::CoInitialize(nullptr)); }

void ToolbarStartup() { classlib::AddInitProc(&InitializeCom); }

void ToolbarShutdown()
{
    if (!comInitialized) return;
    comInitialized = false;
    ::CoUninitialize();
}

}  // namespace

void RegisterToolbarUnit() { classlib::RegisterUnit(L"toolbar", 600, &ToolbarStartup, &ToolbarShutdown); }

TMbToolbar::TMbToolbar(classlib::TComponent* AOwner)
    : classlib::TCustomControl(AOwner), items_(new TMbRootItem(this))
{
    items_->HostComponent = this;
    items_->RegisterListener(TMbItemChangedProc(this, &TMbToolbar::RootChanged));
    SetBounds(0, 0, 200, 24);
}

TMbToolbar::~TMbToolbar()
{
    items_->UnregisterListener(TMbItemChangedProc(this, &TMbToolbar::RootChanged));
    if (tips_) ::DestroyWindow(tips_);
}

void TMbToolbar::SetImages(classlib::TCustomImageList* Value)
{
    images_ = Value;
    if (Value) Value->FreeNotification(this);
    Arrange();
}

void TMbToolbar::SetDisabledImages(classlib::TCustomImageList* Value)
{
    disabledImages_ = Value;
    if (Value) Value->FreeNotification(this);
    Invalidate();
}

void TMbToolbar::Notification(classlib::TComponent* AComponent, classlib::TOperation Operation)
{
    classlib::TCustomControl::Notification(AComponent, Operation);
    if (Operation != classlib::opRemove) return;
    if (AComponent == images_) images_ = nullptr;
    if (AComponent == disabledImages_) disabledImages_ = nullptr;
    if (AComponent == hot_) hot_ = nullptr;
    slots_.erase(std::remove_if(slots_.begin(), slots_.end(), [&](const TSlot& s) { return s.Item == AComponent; }),
                 slots_.end());
}

int TMbToolbar::RowHeight()
{
    int h = 0;
    HDC dc = ::GetDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, GetFont()->GetHandle());
    TEXTMETRICW tm{};
    ::GetTextMetricsW(dc, &tm);
    ::SelectObject(dc, old);
    ::ReleaseDC(nullptr, dc);
    h = tm.tmHeight + 8;
    if (images_) h = std::max(h, images_->GetHeight() + 2 * kImagePad);
    for (int i = 0; i < items_->GetCount(); ++i) {
        auto* ci = dynamic_cast<TMbControlItem*>(items_->GetItem(i));
        if (ci && ci->GetVisible() && ci->GetControl()) h = std::max(h, ci->GetControl()->GetHeight() + 2);
    }
    return h;
}

void TMbToolbar::Layout()
{
    slots_.clear();
    HDC dc = ::GetDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, GetFont()->GetHandle());
    const int height = std::max(GetClientHeight(), 1);
    int x = 2;
    for (int i = 0; i < items_->GetCount(); ++i) {
        TMbCustomItem* item = items_->GetItem(i);
        auto* ci = dynamic_cast<TMbControlItem*>(item);
        if (!item->GetVisible()) {
            if (ci && ci->GetControl()) ci->GetControl()->SetVisible(false);
            continue;
        }
        int w;
        if (item->GetKinds() & ikSeparator) {
            w = kSepWidth;
        } else if (ci) {
            classlib::TControl* c = ci->GetControl();
            w = c ? c->GetWidth() : 0;
            if (c) {
                if (c->GetParent() != this) c->SetParent(this);
                c->SetBounds(x, std::max(0, (height - c->GetHeight()) / 2), c->GetWidth(), c->GetHeight());
                c->SetVisible(true);
            }
        } else if (images_ && item->GetImageIndex() >= 0) {
            w = images_->GetWidth() + 2 * kImagePad;
        } else {
            SIZE sz{};
            const std::wstring& cap = item->GetCaption();
            ::GetTextExtentPoint32W(dc, cap.c_str(), static_cast<int>(cap.size()), &sz);
            w = sz.cx + 2 * kPadX;
        }
        slots_.push_back(TSlot{item, RECT{x, 0, x + w, height}});
        x += w + kGap;
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(nullptr, dc);
    laidOut_ = true;
    // A toolbar that is not aligned is as wide as its items.
    const int width = (slots_.empty() ? 2 : static_cast<int>(slots_.back().Rect.right)) + 2;
    if (GetAlign() == classlib::alNone && width != GetWidth()) SetWidth(width);
}

void TMbToolbar::Arrange()
{
    Layout();
    UpdateTips();
    Invalidate();
}

void TMbToolbar::RootChanged(TMbCustomItem* Sender, TMbItemChange Change, int Index, TMbCustomItem* Item)
{
    (void)Sender;
    (void)Index;
    if (Change == icDeleting) {
        // The item leaves after this call: forget it now.
        if (hot_ == Item) hot_ = nullptr;
        std::erase_if(slots_, [Item](const TSlot& S) { return S.Item == Item; });
        Invalidate();
        return;
    }
    if (Change == icBeginUpdate || Change == icNameChanged) return;
    Arrange();
}

void TMbToolbar::Resize()
{
    classlib::TCustomControl::Resize();
    Arrange();
}

void TMbToolbar::CreateHandleDone()
{
    classlib::TCustomControl::CreateHandleDone();
    Arrange();
}

TMbCustomItem* TMbToolbar::ItemAt(int X, int Y)
{
    if (!laidOut_) Layout();
    POINT p{X, Y};
    for (const TSlot& s : slots_)
        if (::PtInRect(&s.Rect, p)) return s.Item;
    return nullptr;
}

RECT TMbToolbar::ItemRect(const TMbCustomItem* Item)
{
    if (!laidOut_) Layout();
    for (const TSlot& s : slots_)
        if (s.Item == Item) return s.Rect;
    return RECT{};
}

void TMbToolbar::Paint()
{
    if (!laidOut_) Layout();
    HDC dc = GetCanvas()->GetHandle();
    RECT client = GetClientRect();
    ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_BTNFACE));
    HGDIOBJ oldFont = ::SelectObject(dc, GetFont()->GetHandle());
    ::SetBkMode(dc, TRANSPARENT);
    for (const TSlot& s : slots_) {
        TMbCustomItem* item = s.Item;
        RECT r = s.Rect;
        if (dynamic_cast<TMbControlItem*>(item)) continue;
        if (item->GetKinds() & ikSeparator) {
            RECT line{(r.left + r.right) / 2 - 1, r.top + 3, (r.left + r.right) / 2 + 1, r.bottom - 3};
            ::DrawEdge(dc, &line, EDGE_ETCHED, BF_LEFT);
            continue;
        }
        const bool enabled = item->GetEnabled() && GetEnabled();
        if (enabled && (item == hot_ || item->GetChecked())) {
            RECT hr = r;
            ::InflateRect(&hr, 0, -1);
            ::DrawEdge(dc, &hr, item->GetChecked() ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
        }
        if (images_ && item->GetImageIndex() >= 0) {
            classlib::TCustomImageList* list = images_;
            int index = item->GetImageIndex();
            if (!enabled && disabledImages_ && index < disabledImages_->GetCount()) list = disabledImages_;
            int x = r.left + (r.right - r.left - list->GetWidth()) / 2;
            int y = r.top + (r.bottom - r.top - list->GetHeight()) / 2;
            if (index < list->GetCount())
                ::ImageList_DrawEx(list->GetHandle(), index, dc, x, y, 0, 0, CLR_NONE, CLR_NONE,
                                   (enabled || list == disabledImages_) ? ILD_TRANSPARENT : ILD_BLEND50);
        } else {
            ::SetTextColor(dc, ::GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
            std::wstring cap = item->GetCaption();
            ::DrawTextW(dc, cap.c_str(), static_cast<int>(cap.size()), &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        }
    }
    ::SelectObject(dc, oldFont);
}

void TMbToolbar::Hover(TMbCustomItem* Item)
{
    if (Item == hot_) return;
    hot_ = Item;
    Invalidate();
}

void TMbToolbar::MouseMove(classlib::TShiftState Shift, int X, int Y)
{
    classlib::TCustomControl::MouseMove(Shift, X, Y);
    Hover(ItemAt(X, Y));
}

void TMbToolbar::MouseLeave()
{
    classlib::TCustomControl::MouseLeave();
    Hover(nullptr);
}

void TMbToolbar::MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y)
{
    classlib::TCustomControl::MouseDown(Button, Shift, X, Y);
    if (Button != classlib::mbLeft) return;
    TMbCustomItem* item = ItemAt(X, Y);
    if (item) ActivateItem(item);
}

void TMbToolbar::ActivateItem(TMbCustomItem* Item)
{
    if (!Item || !Item->GetVisible() || !Item->GetEnabled() || !GetEnabled()) return;
    if (Item->GetKinds() & ikNoClick) return;
    if (Item->GetCount() > 0 || (Item->GetKinds() & ikSubmenu)) {
        RECT r = ItemRect(Item);
        POINT p = ClientToScreen(POINT{r.left, r.bottom});
        hot_ = Item;
        Invalidate();
        HWND owner = HandleAllocated() ? ::GetAncestor(GetHandle(), GA_ROOT) : nullptr;
        TrackItemsPopup(Item, owner, p.x, p.y);
        hot_ = nullptr;
        Invalidate();
        return;
    }
    Item->PerformClick();
}

void TMbToolbar::UpdateTips()
{
    if (!HandleAllocated()) return;
    if (!tips_) {
        tips_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, GetHandle(), nullptr, nullptr, nullptr);
        if (!tips_) return;
    }
    // Drop every tool, then add one per shown item with a hint.
    TTTOOLINFOW info{};
    info.cbSize = sizeof(info);
    while (::SendMessageW(tips_, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&info))) {
        ::SendMessageW(tips_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&info));
        info = TTTOOLINFOW{};
        info.cbSize = sizeof(info);
    }
    UINT id = 1;
    for (const TSlot& s : slots_) {
        if (s.Item->Hint.empty()) continue;
        TTTOOLINFOW t{};
        t.cbSize = sizeof(t);
        t.uFlags = TTF_SUBCLASS;
        t.hwnd = GetHandle();
        t.uId = id++;
        t.rect = s.Rect;
        t.lpszText = const_cast<wchar_t*>(s.Item->Hint.c_str());
        ::SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&t));
    }
}

}  // namespace toolbar
