// The toolbar and menu bar: a dockable window (MbDock.h) that shows the
// sub-items of its invisible root item through a toolbar view painted in its
// client area.
//
// On top of the view it adds the menu-bar mode (MenuBar: Alt and F10 enter
// menu mode, Alt+letter opens an entry's menu, accelerators hidden until
// Alt), shortcut processing for the whole form (ProcessShortCuts), the
// chevron entry that collects the entries that do not fit, wrapping into
// several lines, the widths a floating toolbar snaps to while resized, and
// the hosting of child controls through control items. One hook on the
// application's main window routes key presses and the menu key of the
// active form to the toolbars that want them.
//
// A toolbar standing directly on a form with AutoResize (the default) sizes
// itself to all its entries and never shows a chevron; its menus open with
// the mouse or with Alt+letter (the dialog-character route).
//
// Ownership: the toolbar owns its root item, its chevron item and its view;
// the items under the root belong to their component owner (deleting an
// item takes it out of the row). Threads: the user-interface thread only;
// the list of hooked toolbars is touched only from that thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Controls.h"
#include "classlib/Forms.h"
#include "controls/toolbar/MbDock.h"
#include "controls/toolbar/MbItem.h"

namespace toolbar {

// Registers the toolbar unit with the class library's unit list (order 600,
// after the shell and themed units): its start-up chains a routine into the
// application's initialisation that initialises COM for the main thread;
// its shut-down cuts the accessibility objects off from their clients,
// removes the thread's window hooks and uninitialises COM again when that
// routine ran. The program calls it from main before the application is
// initialised.
void RegisterToolbarUnit();

class TMbCustomToolbar;

enum TMbChevronPriorityForNewItems : uint8_t { tbcpHighest, tbcpLowest };

using TShortCutEvent = classlib::TEvent<void(MSG& Msg, bool& Handled)>;

// The view of a toolbar: entries in the toolbar's client area, the chevron
// as its last entry.
class TMbToolbarView : public TMbView {
public:
    TMbToolbarView(TMbCustomToolbar* AToolbar, TMbCustomItem* AItem);
    std::wstring ClassName() const override { return L"TMbToolbarView"; }
    TMbItemViewer* ChevronItem() override;
    classlib::TFont* ViewFont() override;
    TMbCustomToolbar* Toolbar;
    // Makes sure the chevron's viewer is the last entry.
    void SyncChevronViewer();

private:
    TMbItemViewer* chevronViewer_ = nullptr;
};

// The entry standing for the entries that do not fit; its popup shows them.
class TMbChevronItem : public TMbCustomItem {
public:
    explicit TMbChevronItem(TMbCustomToolbar* AToolbar);
    std::wstring ClassName() const override { return L"TMbChevronItem"; }
    TMbItemViewer* CreateViewer(TMbView* View, int NestLevel) override;
    TMbView* ChevronSourceView() override;
    TMbCustomToolbar* Toolbar;
};

class TMbChevronItemViewer : public TMbItemViewer {
public:
    using TMbItemViewer::TMbItemViewer;
    std::wstring ClassName() const override { return L"TMbChevronItemViewer"; }
    void Paint(classlib::TCanvas* Canvas, const RECT& ClientAreaRect, bool IsSelected, bool IsPushed,
               bool UseDisabledShadow) override;
};

// Class references of the toolbar's three parts (see TMbPopupWindowClass):
// each makes a new object for the toolbar, owned by it.
using TMbRootItemClass = std::unique_ptr<TMbRootItem> (*)(TMbCustomToolbar* AToolbar);
using TMbChevronItemClass = std::unique_ptr<TMbChevronItem> (*)(TMbCustomToolbar* AToolbar);
using TMbToolbarViewClass = std::unique_ptr<TMbToolbarView> (*)(TMbCustomToolbar* AToolbar, TMbCustomItem* AItem);

// The classes a toolbar makes its parts of; a null entry is the framework's
// class (TMbRootItem, TMbChevronItem, TMbToolbarView).
struct TMbToolbarClasses {
    TMbRootItemClass RootItemClass = nullptr;
    TMbChevronItemClass ChevronItemClass = nullptr;
    TMbToolbarViewClass ViewClass = nullptr;
};

// The state of one resize of a floating toolbar.
struct TToolbarSizeData {
    uint8_t Edge = 0;
    int StartWidth = 0, StartHeight = 0;
    int FrameOffsetX = 0;
    int PendingWidth = 0;
    bool SnapLatched = false, Shrinking = false;
    int SnapBelow = 0, SnapAbove = 0;
    std::vector<SIZE> SizeList;
};

class TMbCustomToolbar : public TMbCustomDockableWindow {
public:
    // The parts are made of the given classes. A derived toolbar that wants
    // parts of its own classes passes them here: they are made while this
    // constructor runs, before a derived class could answer a query.
    explicit TMbCustomToolbar(classlib::TComponent* AOwner, const TMbToolbarClasses& Classes = {});
    ~TMbCustomToolbar() override;
    std::wstring ClassName() const override { return L"TMbCustomToolbar"; }

    // The class queries: the classes of the root item, the chevron item and
    // the view.
    TMbRootItemClass RootItemClass() const { return classes_.RootItemClass; }
    TMbChevronItemClass ChevronItemClass() const { return classes_.ChevronItemClass; }
    TMbToolbarViewClass ViewClass() const { return classes_.ViewClass; }

    // The row's items are the sub-items of this root (owned).
    TMbRootItem* GetItems() const { return items_; }
    TMbToolbarView* GetView() const { return view_.get(); }
    TMbChevronItem* GetChevronItem() const { return chevronItem_; }

    bool GetMenuBar() const { return menuBar_; }
    void SetMenuBar(bool Value);
    bool GetProcessShortCuts() const { return processShortCuts_; }
    void SetProcessShortCuts(bool Value);
    TMbShrinkMode GetShrinkMode() const { return shrinkMode_; }
    void SetShrinkMode(TMbShrinkMode Value);
    int GetFloatingWidth() const { return floatingWidth_; }
    void SetFloatingWidth(int Value);
    bool GetSystemFont() const { return systemFont_; }
    void SetSystemFont(bool Value);
    // True: entries keep their place by priority when the chevron takes
    // some (the least important go first; one chosen from the chevron's
    // popup comes back); False: the last entries go first.
    bool GetChevronMoveItems() const { return chevronMoveItems_; }
    void SetChevronMoveItems(bool Value);
    // Where entries added outside loading enter the priority order.
    TMbChevronPriorityForNewItems GetChevronPriorityForNewItems() const { return chevronPriorityForNewItems_; }
    void SetChevronPriorityForNewItems(TMbChevronPriorityForNewItems Value);
    std::wstring GetChevronHint() const;
    void SetChevronHint(const std::wstring& Value);
    // Whether ChevronHint differs from its default (and so is stored).
    bool ChevronHintStored() const;
    classlib::TCustomImageList* GetImages() const { return items_->GetSubMenuImages(); }
    void SetImages(classlib::TCustomImageList* Value) { items_->SetSubMenuImages(Value); }
    TMbItemOptions GetOptions() const { return items_->GetOptions(); }
    void SetOptions(TMbItemOptions Value) { items_->SetOptions(Value); }
    bool UpdateActions = true;
    TShortCutEvent OnShortCut;

    SIZE ViewSize{};
    int LineCount = 1;
    int AlignLock = 0;
    bool MouseDownActive = false;
    bool AppHooked = false;
    std::unique_ptr<TToolbarSizeData> ResizeState;

    // Hosted controls.
    TMbControlItem* AddControlItem(int Index, classlib::TControl* Control);
    TMbControlItem* FindControlItem(classlib::TControl* Control);
    // Makes every hosted control a child of the toolbar; gives every child
    // control without an entry one at the end.
    void AdoptChildControls();
    // The hosted controls (and those inside them) are reached through the
    // toolbar's keyboard handling, not by Tab: they are left out.
    void GetTabOrderList(std::vector<classlib::TWinControl*>& List) const override;
    // At idle: with UpdateActions, the entries' actions refresh their state.
    void InitiateAction() override;

    // Sizes.
    SIZE CalcArrangedSize(bool EntriesMayMove, int PresentDockType, bool TargetFloating,
                          TMbDock* TargetDock) override;
    SIZE QueryBaseSize() override;
    void QueryMinShrinkSize(int& Size) override;
    TMbShrinkMode QueryShrinkMode() override { return shrinkMode_; }
    bool PointOnContent(POINT Client) override;
    void UpdateViewLimits();
    int WrapOffsetFor(TMbDock* Dock);
    int ChevronOffsetFor(TMbDock* Dock, TMbLayoutAxis Axis);
    // The floating sizes at which the line count changes, widest first.
    void ListFloatingSizes(std::vector<SIZE>& List);
    void InvalidateViewLayout() { layoutValid_ = false; }
    void SizingBegin(int Edge) override;
    void SizingFinish() override;
    void SizingMove(RECT& R, const RECT& Start) override;
    void SizingCommit() override;

    // Keyboard: the entry whose accelerator (else first letter) is Key, or
    // with Key 0 the first entry, selected and its menu loop run (the
    // view's FindAccelEntry and EnterModalLoop).
    bool OpenByKey(wchar_t Key, bool FromDialogChar);
    bool HandleShortCut(MSG& Msg);
    // Runs the view's menu loop (TMbView::EnterModalLoop, Options
    // mlStartedByMouseDown, mlExecuteSelection) when the toolbar has a
    // window and no loop runs; answers the clicked item, whose click runs
    // after the loop, or null.
    TMbCustomItem* EnterModalLoop(uint8_t Options);
    void UpdateAppHook();
    void InstallAppHook();
    void UninstallAppHook();

    void WndProc(classlib::TMessage& Message) override;

protected:
    void Paint() override;
    void MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    void MouseMove(classlib::TShiftState Shift, int X, int Y) override;
    void MouseLeave() override;
    void Resize() override;
    void CreateHandleDone() override;
    void FontChanged(classlib::TObject* Sender) override;
    // Adopts the child controls placed while loading, then arranges.
    void Loaded() override;
    // The view shows hints while its menus run when the toolbar shows hints.
    void ShowHintChanged() override;
    // The view's background colour follows Color.
    void ColorChanged() override;

private:
    friend class TMbToolbarView;
    // A control placed on the toolbar becomes a control entry at the end
    // (not while loading); a removed one takes its entries along, the
    // control itself kept.
    void ControlInserted(classlib::TControl* Control);
    void ControlRemoved(classlib::TControl* Control);
    void RootChanged(TMbCustomItem* Sender, TMbItemChange Change, int Index, TMbCustomItem* Item);
    // Lays the entries out with the view's limits; answers the client size.
    SIZE RecalcViewLayout();
    void ValidateLayout();
    TMbLayoutAxis AxisOf(bool Floating, TMbDock* Dock) const;

    TMbToolbarClasses classes_;
    TMbRootItem* items_;
    TMbChevronItem* chevronItem_;
    std::unique_ptr<TMbToolbarView> view_;
    bool menuBar_ = false;
    bool processShortCuts_ = false;
    TMbShrinkMode shrinkMode_ = tbsmChevron;
    int floatingWidth_ = 0;
    bool systemFont_ = true;
    bool chevronMoveItems_ = true;
    TMbChevronPriorityForNewItems chevronPriorityForNewItems_ = tbcpHighest;
    bool layoutValid_ = false;
};

class TMbToolbar : public TMbCustomToolbar {
public:
    explicit TMbToolbar(classlib::TComponent* AOwner) : TMbCustomToolbar(AOwner) {}
    std::wstring ClassName() const override { return L"TMbToolbar"; }
};

// The toolbars hooked to the application's main window, in hook order.
const std::vector<TMbCustomToolbar*>& MbHookedToolbars();
// Runs the shortcuts of Form's toolbars that process shortcuts; answers
// whether one handled the key message.
bool MbProcessFormShortCuts(classlib::TCustomForm* Form, MSG& Msg);

}  // namespace toolbar
