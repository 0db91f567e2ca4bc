// The page control: the tab control with a page (TTmTabSheet) behind every
// tab. The tab list is rebuilt from the pages (one tab per page whose
// TabVisible is set, in page order); selecting a tab shows its page. Pages
// can be reordered, closed, hidden, and made for controls docked into the
// page control.
//
// Ownership: pages are child controls owned by their component owner (the
// form, or the page control for pages made for docked controls) and freed
// by it; the page list only refers to them. Deleting the page control first
// clears every page's PageControl so that no page calls back.
// Main thread only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "classlib/Controls.h"
#include "controls/themed/TmTabControl.h"

namespace themed {

class TTmPageControl;

class TTmTabSheet : public classlib::TCustomControl {
public:
    explicit TTmTabSheet(classlib::TComponent* AOwner);
    ~TTmTabSheet() override;
    std::wstring ClassName() const override { return L"TTmTabSheet"; }

    // The tab's text (may hold CR LF line breaks and an accelerator "&").
    const std::wstring& GetCaption() const { return caption_; }
    void SetCaption(const std::wstring& Value);
    virtual TColor GetColor_() const { return TControl::GetColor(); }
    // See the page control's UseColoredTabs.
    virtual void SetColor(TColor Value);
    int GetDisabledIndex() const { return disabledIndex_; }
    virtual void SetDisabledIndex(int Value);
    int GetImageIndex() const { return imageIndex_; }
    virtual void SetImageIndex(int Value);
    TTmPageControl* GetPageControl() const { return pageControl_; }
    // Moves the page into Value (as its last page); nullptr takes it out.
    virtual void SetPageControl(TTmPageControl* Value);
    // The position in the page list (-1 without a page control).
    virtual int GetPageIndex() const;
    // 0 .. page count - 1, else ETmTabControlError; fires OnTabOrderChange.
    virtual void SetPageIndex(int Value);
    bool GetTabEnabled() const { return tabEnabled_; }
    virtual void SetTabEnabled(bool Value);
    // -1 without a visible tab; else the number of tab-visible pages before.
    virtual int GetTabIndex() const;
    bool GetTabVisible() const { return tabVisible_; }
    virtual void SetTabVisible(bool Value);
    // Pages are shown and hidden by their page control only: SetVisible
    // raises ETmTabControlError.
    void SetVisible(bool Value) override;

    // Copies the tab's data into a TTmTabData.
    void AssignTo(classlib::TPersistent* Dest) const override;

    TTmPaintBackgroundEvent OnPaintBackground;
    classlib::TNotifyEvent OnHide;
    classlib::TNotifyEvent OnShow;

protected:
    virtual void DoHide() { OnHide(this); }
    virtual void DoShow() { OnShow(this); }
    void CreateParams(classlib::TCreateParams& Params) override;
    void Paint() override;
    void EraseBackground(classlib::TMessage& Message) override { Message.Result = 1; }

private:
    friend class TTmPageControl;
    // The visibility change made by the page control (and the show/hide
    // notification that goes with it).
    void ShowPage(bool Value);
    std::wstring caption_;
    int disabledIndex_ = -1;
    int imageIndex_ = -1;
    TTmPageControl* pageControl_ = nullptr;
    bool tabEnabled_ = true;
    bool tabVisible_ = true;
};

class TTmPageControl : public TTmCustomTabControl {
public:
    explicit TTmPageControl(classlib::TComponent* AOwner);
    ~TTmPageControl() override;
    std::wstring ClassName() const override { return L"TTmPageControl"; }

    virtual TTmTabSheet* GetPage(int Index) const;
    virtual int GetPageCount() const { return static_cast<int>(pages_.size()); }
    TTmTabSheet* GetActivePage() const { return activePage_; }
    virtual void SetActivePage(TTmTabSheet* Page);
    virtual int GetActivePageIndex() const;
    virtual void SetActivePageIndex(int Index);
    TTmTabSheet* GetActivePageDefault() const { return activePageDefault_; }
    void SetActivePageDefault(TTmTabSheet* Value);
    bool GetSaveResources() const { return saveResources_; }
    virtual void SetSaveResources(bool Value);
    bool GetDblClickUndocks() const { return dblClickUndocks_; }
    void SetDblClickUndocks(bool Value) { dblClickUndocks_ = Value; }

    void InsertPage(TTmTabSheet* Page);
    void RemovePage(TTmTabSheet* Page);
    TTmTabSheet* PageForTabIndex(int Index) const;
    // The next page from CurPage in the chosen direction (cyclic), only
    // tab-visible ones when CheckTabVisible; nullptr when none.
    TTmTabSheet* FindNextPage(TTmTabSheet* CurPage, bool GoForward, bool CheckTabVisible) const;
    void SelectNextPage(bool GoForward);
    void TabsChanged() override;
    void SetUseColoredTabs(bool Value) override;
    // The control's colour; with UseColoredTabs off every page takes it.
    void SetColor(TColor Value);
    // When Control is one of the pages it becomes the active page.
    void ShowControl(classlib::TControl* Control) override;
    void Loaded() override;

    // Docking: a control docked here gets a page of its own.
    void DockClient(classlib::TDragDockObject* Source, POINT MousePos) override;
    void DockOver(classlib::TDragDockObject* Source, int X, int Y, classlib::TDragState State, bool& Accept) override;
    void GetSiteInfo(classlib::TControl* Client, RECT& InfluenceRect, POINT MousePos, bool& CanDock) override;
    void UndockClient(classlib::TWinControl* NewTarget, classlib::TControl* Client) override;
    void DoAddDockClient(classlib::TControl* Client, const RECT& ARect) override;
    void DoRemoveDockClient(classlib::TControl* Client) override;
    void DockNotification(classlib::TControl* Client, UINT ClientMsg, LPARAM Param) override;
    bool DialogKey(WORD Key, classlib::TShiftState Shift) override;
    void WndProc(classlib::TMessage& Message) override;

protected:
    void DoChanging(int NewIndex, bool& AllowChange) override;
    void DoChange() override;
    void DoPageChange() override;
    void CloseActiveTab() override;
    void MoveActiveTab(int NewIndex) override;
    void HideAllTabs() override;
    void ShowAllTabs() override;
    void DoPaintCardBackground(classlib::TCanvas* Canvas, int Row, bool& Handled, const RECT& Rect) override;
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;
    void CreateParams(classlib::TCreateParams& Params) override;
    void MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;

private:
    friend class TTmTabSheet;
    void ChangeActivePage(TTmTabSheet* Page);
    // The page whose tab is under a client point (for docked clients).
    TTmTabSheet* PageAtPos(int X, int Y);
    TTmTabSheet* activePage_ = nullptr;
    TTmTabSheet* activePageDefault_ = nullptr;
    TTmTabSheet* newDockSheet_ = nullptr;
    TTmTabSheet* undockingPage_ = nullptr;
    bool dblClickUndocks_ = true;
    std::vector<TTmTabSheet*> pages_;
    bool saveResources_ = false;
    bool loading_ = false;
};

}  // namespace themed
