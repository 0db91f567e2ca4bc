#include "controls/themed/TmPageControl.h"

#include <windowsx.h>

#include <algorithm>

#include "classlib/Docking.h"
#include "classlib/Forms.h"

namespace themed {

using namespace classlib;

// ============================================================= TTmTabSheet

TTmTabSheet::TTmTabSheet(TComponent* AOwner) : TCustomControl(AOwner)
{
    ShowPage(false);
    ControlStyle |= csAcceptsControls | csOpaque;
    SetAlign(alClient);
}

TTmTabSheet::~TTmTabSheet()
{
    if (pageControl_) pageControl_->RemovePage(this);
}

void TTmTabSheet::CreateParams(TCreateParams& Params)
{
    TCustomControl::CreateParams(Params);
    Params.WindowClassStyle &= ~(CS_HREDRAW | CS_VREDRAW);
}

void TTmTabSheet::ShowPage(bool Value)
{
    if (Value == GetVisible()) return;
    auto alive = AliveToken();
    TCustomControl::SetVisible(Value);
    if (!*alive) return;
    // A handler's exception goes to the application's handler and no further.
    try {
        if (Value)
            DoShow();
        else
            DoHide();
    } catch (...) {
        if (TWindowExceptionHook hook = GetWindowExceptionHook()) hook(this);
    }
}

void TTmTabSheet::SetVisible(bool) { throw ETmTabControlError(L"You cannot change the Visible property of a page"); }

void TTmTabSheet::SetCaption(const std::wstring& Value)
{
    if (Value == caption_) return;
    caption_ = Value;
    if (pageControl_) pageControl_->TabsChanged();
}

void TTmTabSheet::SetColor(TColor Value)
{
    if (Value == GetColor_()) return;
    if (pageControl_ && !pageControl_->GetUseColoredTabs() && Value != pageControl_->GetColor())
        pageControl_->SetUseColoredTabs(true);
    if (pageControl_ && !pageControl_->GetUseColoredTabs()) {
        if (Value == GetColor_() || Value != pageControl_->GetColor()) return;
    }
    TControl::SetColor(Value);
    if (pageControl_) pageControl_->TabsChanged();
}

void TTmTabSheet::SetDisabledIndex(int Value)
{
    if (Value == disabledIndex_) return;
    disabledIndex_ = Value;
    if (pageControl_) pageControl_->TabsChanged();
}

void TTmTabSheet::SetImageIndex(int Value)
{
    if (Value == imageIndex_) return;
    imageIndex_ = Value;
    if (pageControl_) pageControl_->TabsChanged();
}

void TTmTabSheet::SetTabEnabled(bool Value)
{
    if (Value == tabEnabled_) return;
    tabEnabled_ = Value;
    if (pageControl_) pageControl_->TabsChanged();
}

void TTmTabSheet::SetTabVisible(bool Value)
{
    if (Value == tabVisible_) return;
    tabVisible_ = Value;
    if (pageControl_) pageControl_->TabsChanged();
}

void TTmTabSheet::SetPageControl(TTmPageControl* Value)
{
    if (Value == pageControl_) return;
    if (pageControl_) pageControl_->RemovePage(this);
    SetParent(Value);
    if (Value) Value->InsertPage(this);
}

int TTmTabSheet::GetPageIndex() const
{
    if (!pageControl_) return -1;
    const auto& pages = pageControl_->pages_;
    auto it = std::find(pages.begin(), pages.end(), this);
    return it == pages.end() ? -1 : static_cast<int>(it - pages.begin());
}

void TTmTabSheet::SetPageIndex(int Value)
{
    if (!pageControl_) return;
    const int last = pageControl_->GetPageCount() - 1;
    if (Value < 0 || Value > last)
        throw ETmTabControlError(std::to_wstring(Value) +
                                 L" is an invalid PageIndex value. PageIndex must be between 0 and " +
                                 std::to_wstring(last));
    const int old = GetPageIndex();
    auto& pages = pageControl_->pages_;
    pages.erase(pages.begin() + old);
    pages.insert(pages.begin() + Value, this);
    pageControl_->TabsChanged();
    pageControl_->DoTabOrderChange(old, Value);
}

int TTmTabSheet::GetTabIndex() const
{
    if (!tabVisible_) return -1;
    if (!pageControl_) return 0;
    int n = 0;
    for (TTmTabSheet* p : pageControl_->pages_) {
        if (p == this) return n;
        if (p->tabVisible_) ++n;
    }
    return -1;
}

void TTmTabSheet::AssignTo(TPersistent* Dest) const
{
    if (auto* t = dynamic_cast<TTmTabData*>(Dest)) {
        t->Caption = caption_;
        t->Color = GetColor_();
        t->Enabled = tabEnabled_;
        t->Visible = tabVisible_;
        t->Hint = Hint;
        t->ImageIndex = imageIndex_;
        t->DisabledIndex = disabledIndex_;
        return;
    }
    TCustomControl::AssignTo(Dest);
}

void TTmTabSheet::Paint()
{
    RECT r{0, 0, GetWidth(), GetHeight()};
    bool handled = false;
    OnPaintBackground(this, GetCanvas(), r, handled);
    if (handled) return;
    GetCanvas()->GetBrush()->SetStyle(bsSolid);
    GetCanvas()->GetBrush()->SetColor(GetColor_());
    GetCanvas()->FillRect(r);
}

// ========================================================== TTmPageControl

TTmPageControl::TTmPageControl(TComponent* AOwner) : TTmCustomTabControl(AOwner)
{
    ControlStyle &= ~csAcceptsControls;
    ControlStyle |= csOpaque;
    SetHeight(150);
}

TTmPageControl::~TTmPageControl()
{
    for (TTmTabSheet* p : pages_) p->pageControl_ = nullptr;
    pages_.clear();
}

void TTmPageControl::CreateParams(TCreateParams& Params)
{
    TTmCustomTabControl::CreateParams(Params);
    Params.Style |= WS_CLIPCHILDREN;
}

TTmTabSheet* TTmPageControl::GetPage(int Index) const
{
    if (Index < 0 || Index >= GetPageCount()) throw EListError(L"List index out of bounds (" + std::to_wstring(Index) + L")");
    return pages_[static_cast<size_t>(Index)];
}

void TTmPageControl::InsertPage(TTmTabSheet* Page)
{
    if (!(GetComponentState() & (csLoading | csReading)) && (GetParent() || GetParentWindow())) HandleNeeded();
    pages_.push_back(Page);
    Page->pageControl_ = this;
    TabsChanged();
}

void TTmPageControl::RemovePage(TTmTabSheet* Page)
{
    if (Page == activePage_) SetActivePage(nullptr);
    pages_.erase(std::remove(pages_.begin(), pages_.end(), Page), pages_.end());
    TabsChanged();
    Page->pageControl_ = nullptr;
    if (Page == activePageDefault_) activePageDefault_ = nullptr;
}

void TTmPageControl::TabsChanged()
{
    TabData()->Clear();
    for (TTmTabSheet* p : pages_) {
        if (!p->GetTabVisible()) continue;
        auto* t = new TTmTabData;
        TabData()->Add(t);
        p->AssignTo(t);
    }
    if (activePage_) {
        if (activePage_->GetTabVisible()) {
            if (activePage_->GetTabIndex() != GetTabIndex()) SetTabIndex(activePage_->GetTabIndex());
        } else {
            SetTabIndex(-1);
        }
    }
    TTmCustomTabControl::TabsChanged();
}

TTmTabSheet* TTmPageControl::PageForTabIndex(int Index) const
{
    if (Index < 0) return nullptr;
    for (TTmTabSheet* p : pages_)
        if (p->GetTabIndex() == Index) return p;
    return nullptr;
}

void TTmPageControl::DoChanging(int NewIndex, bool& AllowChange)
{
    if (!loading_) TTmCustomTabControl::DoChanging(NewIndex, AllowChange);
    if (AllowChange) ChangeActivePage(PageForTabIndex(NewIndex));
}

void TTmPageControl::DoChange()
{
    if (!loading_) TTmCustomTabControl::DoChange();
}

void TTmPageControl::DoPageChange()
{
    if (!loading_) TTmCustomTabControl::DoPageChange();
}

void TTmPageControl::ChangeActivePage(TTmTabSheet* Page)
{
    if (Page == activePage_) return;
    TCustomForm* form = GetParentForm(this);
    if (form && activePage_ && form->GetActiveControl() &&
        activePage_->ContainsControl(form->GetActiveControl()) && form->GetActiveControl() != activePage_) {
        if (activePage_->CanFocus()) form->SetActiveControl(activePage_);
    }
    if (Page) {
        if (Page->HandleAllocated())
            ::SetWindowPos(Page->GetHandle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        Page->ShowPage(true);
        if (form && activePage_ && form->GetActiveControl() == activePage_) {
            if (Page->CanFocus())
                form->SetActiveControl(Page);
            else if (CanFocus())
                form->SetActiveControl(this);
        }
    }
    if (TTmTabSheet* old = activePage_) {
        old->ShowPage(false);
        if (saveResources_ && !(GetComponentState() & csDesigning)) old->DestroyHandle();
    }
    activePage_ = Page;
    if (form && Page && form->GetActiveControl() == Page) Page->SelectNext(nullptr, true, true);
}

void TTmPageControl::SetActivePage(TTmTabSheet* Page)
{
    if (Page && Page->pageControl_ != this) return;
    if (Page) Page->ShowPage(true);
    if (GetComponentState() & (csLoading | csReading)) {
        activePage_ = Page;
        return;
    }
    const int i = Page ? Page->GetTabIndex() : -1;
    auto alive = AliveToken();
    if (i < 0) {
        ChangeActivePage(Page);
        if (!*alive) return;
        DoPageChange();
        if (!*alive) return;
    }
    SetTabIndex(i);
}

int TTmPageControl::GetActivePageIndex() const { return activePage_ ? activePage_->GetPageIndex() : -1; }

void TTmPageControl::SetActivePageIndex(int Index)
{
    if (Index < 0 || Index > GetPageCount() - 1)
        SetTabIndex(-1);
    else
        SetActivePage(pages_[static_cast<size_t>(Index)]);
}

void TTmPageControl::SetActivePageDefault(TTmTabSheet* Value)
{
    if (activePageDefault_) activePageDefault_->RemoveFreeNotification(this);
    activePageDefault_ = Value;
    if (Value) Value->FreeNotification(this);
}

void TTmPageControl::Notification(TComponent* AComponent, TOperation Operation)
{
    TTmCustomTabControl::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == activePageDefault_) activePageDefault_ = nullptr;
}

TTmTabSheet* TTmPageControl::FindNextPage(TTmTabSheet* CurPage, bool GoForward, bool CheckTabVisible) const
{
    const int n = GetPageCount();
    if (n == 0) return nullptr;
    auto it = std::find(pages_.begin(), pages_.end(), CurPage);
    int start = it == pages_.end() ? (GoForward ? n - 1 : 0) : static_cast<int>(it - pages_.begin());
    int i = start;
    for (int step = 0; step < n; ++step) {
        i = GoForward ? (i + 1) % n : (i - 1 + n) % n;
        TTmTabSheet* p = pages_[static_cast<size_t>(i)];
        if (!CheckTabVisible || p->GetTabVisible()) return p;
    }
    return nullptr;
}

void TTmPageControl::SelectNextPage(bool GoForward)
{
    if (TTmTabSheet* p = FindNextPage(activePage_, GoForward, true)) SetActivePage(p);
}

void TTmPageControl::CloseActiveTab()
{
    if (!activePage_) return;
    const int old = GetTabIndex();
    delete activePage_;
    SetTabIndex(old > 0 ? old - 1 : 0);
}

void TTmPageControl::MoveActiveTab(int NewIndex)
{
    if (activePage_) activePage_->SetPageIndex(NewIndex);
}

void TTmPageControl::HideAllTabs()
{
    for (TTmTabSheet* p : pages_) p->SetTabVisible(false);
}

void TTmPageControl::ShowAllTabs()
{
    for (TTmTabSheet* p : pages_) p->SetTabVisible(true);
}

void TTmPageControl::SetSaveResources(bool Value)
{
    if (Value == saveResources_) return;
    saveResources_ = Value;
    if (Value && !(GetComponentState() & csDesigning))
        for (TTmTabSheet* p : pages_)
            if (p != activePage_) p->DestroyHandle();
}

void TTmPageControl::DoPaintCardBackground(TCanvas* Canvas, int Row, bool& Handled, const RECT& Rect)
{
    TTmCustomTabControl::DoPaintCardBackground(Canvas, Row, Handled, Rect);
    if (!Handled && Row == 0 && GetTabIndex() >= 0 && activePage_) {
        Canvas->GetBrush()->SetStyle(bsSolid);
        Canvas->GetBrush()->SetColor(activePage_->GetColor_());
        Canvas->FillRect(Rect);
        Handled = true;
    }
}

void TTmPageControl::SetColor(TColor Value)
{
    TControl::SetColor(Value);
    if (!GetUseColoredTabs())
        for (TTmTabSheet* p : pages_) p->TControl::SetColor(Value);
    if (GetUseColoredTabs())
        InvalidateTabs();
    else
        TabsChanged();
}

void TTmPageControl::SetUseColoredTabs(bool Value)
{
    if (Value == GetUseColoredTabs()) return;
    TTmCustomTabControl::SetUseColoredTabs(Value);
    if (!Value) SetColor(GetColor());
}

void TTmPageControl::ShowControl(TControl* Control)
{
    for (TTmTabSheet* p : pages_)
        if (p == Control) {
            SetActivePage(p);
            return;
        }
}

void TTmPageControl::Loaded()
{
    TTmCustomTabControl::Loaded();
    loading_ = true;
    try {
        CalcTabRects();
        SetTabIndex(-1);
        TTmTabSheet* page = activePage_;
        if (activePageDefault_ && activePageDefault_ != page) {
            if (page) page->ShowPage(false);
            page = activePageDefault_;
        }
        activePage_ = nullptr;
        TabsChanged();
        SetActivePage(page);
    } catch (...) {
        loading_ = false;
        throw;
    }
    loading_ = false;
}

bool TTmPageControl::DialogKey(WORD Key, TShiftState Shift)
{
    if (Key != VK_TAB || !(Shift & ssCtrl)) return false;
    SelectNextPage(!(Shift & ssShift));
    return true;
}

// ------------------------------------------------------------ docking

void TTmPageControl::DockClient(TDragDockObject* Source, POINT MousePos)
{
    (void)MousePos;
    TControl* control = Source->Control;
    auto* sheet = new TTmTabSheet(this);
    newDockSheet_ = sheet;
    try {
        if (auto* form = dynamic_cast<TCustomForm*>(control)) sheet->SetCaption(form->GetCaption());
        sheet->SetPageControl(this);
        control->DockInto(this, nullptr, alClient);
        if (control->GetHostDockSite() != this) throw ETmTabControlError(L"The control could not be docked");
    } catch (...) {
        newDockSheet_ = nullptr;
        delete sheet;
        throw;
    }
    newDockSheet_ = nullptr;
    sheet->SetTabVisible(control->GetVisible());
    if (control->GetVisible()) SetActivePage(sheet);
    control->SetAlign(alClient);
}

void TTmPageControl::DoAddDockClient(TControl* Client, const RECT& ARect)
{
    if (newDockSheet_) {
        Client->SetParent(newDockSheet_);
        return;
    }
    TTmCustomTabControl::DoAddDockClient(Client, ARect);
}

void TTmPageControl::DockOver(TDragDockObject* Source, int X, int Y, TDragState State, bool& Accept)
{
    RECT r{};
    if (HandleAllocated()) ::GetWindowRect(GetHandle(), &r);
    Source->DockRect = r;
    TTmCustomTabControl::DockOver(Source, X, Y, State, Accept);
}

void TTmPageControl::GetSiteInfo(TControl* Client, RECT& InfluenceRect, POINT MousePos, bool& CanDock)
{
    CanDock = true;
    for (TTmTabSheet* p : pages_)
        if (Client->GetParent() == p) CanDock = false;
    TTmCustomTabControl::GetSiteInfo(Client, InfluenceRect, MousePos, CanDock);
}

void TTmPageControl::UndockClient(TWinControl* NewTarget, TControl* Client)
{
    (void)NewTarget;
    if (auto* page = dynamic_cast<TTmTabSheet*>(Client->GetParent()); page && page->pageControl_ == this &&
                                                                       Client->GetHostDockSite() == this) {
        undockingPage_ = page;
        Client->SetAlign(alNone);
    }
}

void TTmPageControl::DoRemoveDockClient(TControl* Client)
{
    (void)Client;
    if (undockingPage_ && !(GetComponentState() & csDestroying)) {
        TTmTabSheet* page = undockingPage_;
        undockingPage_ = nullptr;
        SelectNextPage(true);
        delete page;
    }
}

void TTmPageControl::DockNotification(TControl* Client, UINT ClientMsg, LPARAM Param)
{
    auto* page = dynamic_cast<TTmTabSheet*>(Client->GetParent());
    if (!page || page->pageControl_ != this) return;
    if (ClientMsg == WM_SETTEXT) {
        const std::wstring& text = *reinterpret_cast<const std::wstring*>(Param);
        page->SetCaption(text.substr(0, text.find_first_of(L"\r\n")));
    } else if (ClientMsg == CM_VISIBLECHANGED) {
        page->SetTabVisible(Param != 0);
    }
}

TTmTabSheet* TTmPageControl::PageAtPos(int X, int Y)
{
    const int tab = TabAtPos(X, Y);
    if (tab < 0) return nullptr;
    TTmTabSheet* page = nullptr;
    for (int i = 0; i <= tab; ++i) page = FindNextPage(page, true, true);
    return page;
}

void TTmPageControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    auto alive = AliveToken();
    TTmCustomTabControl::MouseDown(Button, Shift, X, Y);
    if (!*alive || Button != mbLeft || !GetDockSite()) return;
    TTmTabSheet* page = PageAtPos(X, Y);
    if (!page || page->GetControlCount() == 0) return;
    TControl* client = page->GetControl(0);
    if (client->GetHostDockSite() != this) return;
    if (Shift & ssDouble) {
        if (dblClickUndocks_) client->ManualDock(nullptr, nullptr, alNone);
    } else {
        client->BeginDrag(false);
    }
}

void TTmPageControl::WndProc(TMessage& Message)
{
    if (Message.Msg == WM_SETFOCUS) {
        TTmCustomTabControl::WndProc(Message);
        if (activePage_ && !activePage_->GetTabVisible()) {
            for (int i = 0; i < activePage_->GetWinControlCount(); ++i) {
                TWinControl* c = activePage_->GetWinControl(i);
                if (c->CanFocus()) {
                    c->SetFocus();
                    break;
                }
            }
        }
        return;
    }
    TTmCustomTabControl::WndProc(Message);
}

}  // namespace themed
