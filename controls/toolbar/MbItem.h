// Menu and toolbar items, the image list of a toolbar and the popup menu.
//
// Every menu entry, toolbar button, separator and hosted control is an item:
// a component holding the state of one entry and an ordered list of
// sub-items. Items form a tree under an invisible root item owned by a
// toolbar or popup menu. Items never draw themselves; whoever shows them
// registers a change listener on the item whose sub-items it shows and hears
// of insertions, removals and changes of look or size.
//
// Ownership: an item owns its sub-items (deleting an item deletes them, even
// when they also have a component owner: a deleted component leaves its
// owner), its image change links and its listener entries. Images, linked
// items and the host component are references, cleared by free
// notification. Threads: the user-interface thread only; the deferred-click
// window and its list are per thread.
//
// The classes declared here are implemented across MbItem.cpp (items,
// actions, deferred dispatch), MbViewer.cpp, MbView.cpp, MbViewLayout.cpp,
// MbPopup.cpp, MbMenuLoop.cpp and MbImageList.cpp; MbItemInternal.h holds
// the few helpers they share.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/ActnList.h"
#include "classlib/Component.h"
#include "classlib/Controls.h"
#include "classlib/Events.h"
#include "classlib/Exceptions.h"
#include "classlib/Graphics.h"
#include "classlib/Hints.h"
#include "classlib/ImageList.h"
#include "classlib/Menus.h"

namespace toolbar {

CLASSLIB_EXCEPTION(EMbItemError, classlib::Exception);

class TMbCustomItem;
class TMbCustomItemActionLink;
class TMbItemViewer;
class TMbView;
class TMbPopupWindow;
class TMbPopupView;

// Class references: a class, or one derived from it, named by the function
// that makes a new object of it from the class's constructor arguments (the
// caller owns the object). A class whose objects another class makes answers
// such a reference, so a derived class makes its own kind.
using TMbPopupWindowClass = std::unique_ptr<TMbPopupWindow> (*)(TMbView* UpperView, TMbCustomItem* Item,
                                                                bool Customizing);
using TMbPopupViewClass = std::unique_ptr<TMbPopupView> (*)(TMbView* UpperView, TMbCustomItem* Item,
                                                            bool Customizing);

// Offered by the components that hold a root item (the popup menu, the
// toolbar): items added to such a component go under its root item.
class IMbItemHost {
public:
    virtual ~IMbItemHost() = default;
    virtual TMbCustomItem* GetRootItem() = 0;
};

// Where a standalone popup stands relative to its point.
enum TPopupAlignment : uint8_t { paLeft, paRight, paCenter };
// The mouse button that drives a popup menu besides the left one.
enum TTrackButton : uint8_t { tbRightButton, tbLeftButton };

class TMbBaseAccObject;
// Tells an accessibility object that its view or viewer is gone (MbAcc).
void MbAccOwnerGone(TMbBaseAccObject* AccObject);

// Sender, the viewer of the entry, and whether it gains the selection.
using TMbSelectEvent = classlib::TEvent<void(TMbCustomItem* Sender, TMbItemViewer* Viewer, bool Selecting)>;

// Sender, and whether the popup event fires on an item whose sub-items are
// shown in another item's place.
using TMbPopupEvent = classlib::TEvent<void(classlib::TObject* Sender, bool FromLink)>;

enum TMbItemChange : uint8_t {
    icInserted = 0,
    icDeleting = 1,
    icLinkChanged = 2,
    icBeginUpdate = 3,
    icEndUpdate = 4,
    icInvalidate = 5,
    icLayout = 6,
    icNameChanged = 8,
    icSubMenuImages = 9,
};

// Sender is the item whose sub-item list or state is concerned.
using TMbItemChangedProc =
    classlib::TEvent<void(TMbCustomItem* Sender, TMbItemChange Change, int Index, TMbCustomItem* Item)>;

enum TMbItemDisplayMode : uint8_t { nbdmDefault, nbdmTextOnly, nbdmTextOnlyInMenus, nbdmImageAndText };

// Options: bit n for value n.
using TMbItemOptions = uint16_t;
constexpr TMbItemOptions tboDefault = 1u << 0;
constexpr TMbItemOptions tboDropdownArrow = 1u << 1;
constexpr TMbItemOptions tboImageAboveCaption = 1u << 2;
constexpr TMbItemOptions tboLongHintInMenuOnly = 1u << 3;
constexpr TMbItemOptions tboNoAutoHint = 1u << 4;
constexpr TMbItemOptions tboNoRotation = 1u << 5;
constexpr TMbItemOptions tboSameWidth = 1u << 6;
constexpr TMbItemOptions tboShowHint = 1u << 7;
constexpr TMbItemOptions tboToolbarStyle = 1u << 8;
constexpr TMbItemOptions tboToolbarSize = 1u << 9;

// Kinds, fixed by each class's constructor.
using TMbItemKinds = uint16_t;
constexpr TMbItemKinds ikSubmenu = 0x0001;
constexpr TMbItemKinds ikSelectable = 0x0002;
constexpr TMbItemKinds ikSeparator = 0x0004;
constexpr TMbItemKinds ikNoClick = 0x0010;
constexpr TMbItemKinds ikCombo = 0x0020;
constexpr TMbItemKinds ikNoKeyOpen = 0x0040;
constexpr TMbItemKinds ikRepaintOnSelect = 0x0800;
constexpr TMbItemKinds ikRepaintOnHover = 0x1000;

// A key with shift bits: the virtual key in the low byte, $2000 Shift,
// $4000 Ctrl, $8000 Alt; 0 is none.
using TShortCut = uint16_t;
TShortCut ShortCut(WORD Key, classlib::TShiftState Shift);
// "Ctrl+Shift+O" and the like; empty for 0.
std::wstring ShortCutToText(TShortCut Value);

// An image-list change link remembering the size the item last saw.
class TMbImageChangeLink : public classlib::TChangeLink {
public:
    std::wstring ClassName() const override { return L"TMbImageChangeLink"; }
    int LastWidth = -1;
    int LastHeight = -1;
};

// The highlight fill and outline of the flat look for an active-caption
// colour: blue, green or red when that component is strictly the largest,
// grey otherwise.
void FlatSelectionColors(classlib::TColor Caption, classlib::TColor& SelBkgr, classlib::TColor& Outline);

class TMbCustomItem : public classlib::TComponent {
public:
    explicit TMbCustomItem(classlib::TComponent* AOwner);
    ~TMbCustomItem() override;
    std::wstring ClassName() const override { return L"TMbCustomItem"; }

    TMbItemKinds GetKinds() const { return kinds_; }

    // Caption: a TAB divides the caption from a shortcut text shown
    // right-aligned; "&" marks the accelerator.
    const std::wstring& GetCaption() const { return caption_; }
    void SetCaption(const std::wstring& Value);
    // Short part, then "|" and a long part.
    std::wstring Hint;
    bool GetEnabled() const { return enabled_; }
    void SetEnabled(bool Value);
    bool GetVisible() const { return visible_; }
    void SetVisible(bool Value);
    bool GetChecked() const { return checked_; }
    void SetChecked(bool Value);
    bool GetRadioItem() const { return radioItem_; }
    void SetRadioItem(bool Value);
    int GetGroupIndex() const { return groupIndex_; }
    void SetGroupIndex(int Value);
    bool AutoCheck = false;
    uint32_t HelpContext = 0;
    TShortCut GetShortCut() const { return shortCut_; }
    void SetShortCut(TShortCut Value) { shortCut_ = Value; }
    TMbItemDisplayMode GetDisplayMode() const { return displayMode_; }
    void SetDisplayMode(TMbItemDisplayMode Value);
    // Index into Images (-1: none).
    int GetImageIndex() const { return imageIndex_; }
    void SetImageIndex(int Value);
    classlib::TCustomImageList* GetImages() const { return images_; }
    void SetImages(classlib::TCustomImageList* Value);
    classlib::TCustomImageList* GetSubMenuImages() const { return subMenuImages_; }
    void SetSubMenuImages(classlib::TCustomImageList* Value);

    // Options: the item's own additions, the inherited ones it masks, and
    // the set in force. tboToolbarSize never stands without tboToolbarStyle.
    TMbItemOptions GetOptions() const { return options_; }
    void SetOptions(TMbItemOptions Value);
    TMbItemOptions GetMaskOptions() const { return maskOptions_; }
    void SetMaskOptions(TMbItemOptions Value);
    bool GetInheritOptions() const { return inheritOptions_; }
    void SetInheritOptions(bool Value);
    TMbItemOptions GetEffectiveOptions() const { return effectiveOptions_; }
    void RefreshEffectiveOptions();

    // The flat look. The highlight fill and outline start from the active
    // caption colour; setting any of them stores it and repaints the entry.
    bool DisplayXP = true;
    classlib::TColor XPItemBkgrCol = 0xFFFFFF;
    classlib::TColor XPItemSelTxtCol = 0;
    classlib::TColor XPItemUnactTxtCol = 0xD2D2D2;
    classlib::TColor XPItemLeftCol = classlib::clBtnFace;
    classlib::TColor GetXPItemSelBkgrCol() const { return xpItemSelBkgrCol_; }
    void SetXPItemSelBkgrCol(classlib::TColor Value);
    classlib::TColor GetXPItemOutlineCol() const { return xpItemOutlineCol_; }
    void SetXPItemOutlineCol(classlib::TColor Value);

    // Sub-items. Items and Insert raise EMbItemError "Toolbar item index out
    // of range"; Insert of an item that has a parent raises "Toolbar item
    // already inserted". Delete and Remove take the item out without
    // deleting it.
    int GetCount() const { return static_cast<int>(items_.size()); }
    TMbCustomItem* GetItem(int Index) const;
    void Add(TMbCustomItem* Item) { Insert(GetCount(), Item); }
    void Insert(int Index, TMbCustomItem* Item);
    void Delete(int Index);
    void Remove(TMbCustomItem* Item);
    void Move(int CurIndex, int NewIndex);
    int IndexOf(const TMbCustomItem* Item) const;
    TMbCustomItem* GetParentItem() const { return parentItem_; }
    // The toolbar or popup menu owning a root item; null otherwise.
    classlib::TComponent* HostComponent = nullptr;

    // Another item whose sub-items are shown in this item's place (never
    // the item itself).
    TMbCustomItem* GetLinkSubitems() const { return linkSubitems_; }
    void SetLinkSubitems(TMbCustomItem* Value);
    // LinkSubitems when set, else this item.
    TMbCustomItem* LinkedItem() { return linkSubitems_ ? linkSubitems_ : this; }

    // Listeners: registering a procedure twice counts it twice; a listener
    // may unregister itself (or an earlier one) while it is notified.
    void RegisterListener(const TMbItemChangedProc& Proc);
    void UnregisterListener(const TMbItemChangedProc& Proc);
    void NotifyListeners(TMbItemChange Change, int Index, TMbCustomItem* Item);
    // Tells the parent's listeners that this item changed (icLayout when
    // its size may have changed, else icInvalidate).
    virtual void ItemChanged(bool NeedResize);
    virtual void EnabledStateChanged() { ItemChanged(false); }

    // The click: AutoCheck toggles Checked, then OnClick. Nothing when
    // disabled.
    virtual void PerformClick();
    void Click() { PerformClick(); }
    // Fires OnPopup, then, unless the item is a combo, PerformClick.
    virtual void NotifyPopup(TMbCustomItem* Sender, bool FromLink);
    void DoPopup(bool FromLink) { NotifyPopup(this, FromLink); }

    // The text shown right-aligned in menus: what follows the caption's
    // first TAB, else the shortcut's text.
    std::wstring ShortCutText() const;
    // The caption before the first TAB.
    std::wstring MenuCaption() const;
    // The item below this one whose ShortCut is Value; PathChild is the
    // direct sub-item on the path to it (null when it is a direct sub-item).
    TMbCustomItem* FindShortCutItem(TShortCut Value, TMbCustomItem*& PathChild);
    // Clicks the item whose shortcut the key message (WM_KEYDOWN or
    // WM_SYSKEYDOWN) names, after the popup events of the submenus on its
    // path; answers whether an item was clicked.
    bool ExecuteShortCut(const MSG& Message);

    classlib::TNotifyEvent OnClick;
    TMbPopupEvent OnPopup;
    TMbSelectEvent OnSelect;

    // A new viewer of the item's class for a view (owned by the caller).
    virtual TMbItemViewer* CreateViewer(TMbView* View, int NestLevel);
    // The toolbar view whose hidden entries this item's popup shows (the
    // chevron); null for ordinary items.
    virtual TMbView* ChevronSourceView() { return nullptr; }
    // The class of the windows this item's popups open in: TMbPopupWindow.
    virtual TMbPopupWindowClass PopupWindowClass() const;
    // Whether the viewer must be made again before it is measured.
    virtual bool ViewerNeedsRebuild(TMbItemViewer* Viewer)
    {
        (void)Viewer;
        return false;
    }

    // Fires the popup events, then creates, places and shows the popup of
    // the sub-items: beside UpperViewer of UpperView (as a submenu when
    // PositionAsSubmenu, else below or beside the entry), or at the screen
    // point PopupPoint with Alignment when there is no upper view. With an
    // upper view the view owns the window (its OpenSubWindow); otherwise
    // the caller does. An exception frees the window and passes on.
    virtual TMbPopupWindow* OpenPopupWindow(TMbView* UpperView, TMbItemViewer* UpperViewer, bool PositionAsSubmenu,
                                            bool SelectFirst, bool Customizing, POINT PopupPoint,
                                            TPopupAlignment Alignment);
    // Runs the sub-items as a standalone popup menu at a screen point until
    // it is done; answers the clicked item (null when cancelled). The click
    // runs afterwards from the message loop unless ReturnClickedItemOnly.
    TMbCustomItem* RunPopup(bool SelectFirst, bool TrackRightButton, POINT Point, TPopupAlignment Alignment,
                            bool ReturnClickedItemOnly);
    TMbCustomItem* ShowAsPopup(int X, int Y, bool TrackRightButton, TPopupAlignment Alignment,
                               bool ReturnClickedItemOnly)
    {
        return RunPopup(false, TrackRightButton, POINT{X, Y}, Alignment, ReturnClickedItemOnly);
    }

    void SetName(const std::wstring& Value) override;
    void Loaded() override;

    // The component-tree hooks of form building: the sub-items are the
    // item's children in list order; a child's order moves it there.
    void GetChildren(const std::function<void(classlib::TComponent*)>& Proc) const;
    void SetChildOrder(classlib::TComponent* Child, int Order);
    bool HasParent() const { return true; }
    // The parent's host (the toolbar or popup menu) when it has one, else
    // the parent item; null without a parent.
    classlib::TComponent* GetParentComponent() const;
    // Moves the item under Value: an item, or the root of an item host.
    // Raises EMbItemError "Toolbar item cannot be inserted into container
    // of type %s" for anything else (the item then has no parent).
    void SetParentComponent(classlib::TComponent* Value);

    // The action whose state the item shows and whose OnExecute its click
    // runs (not owned; cleared when the action goes). Setting an action
    // copies its properties (while loading from a form only those the item
    // still holds at their defaults); setting null keeps them.
    classlib::TBasicAction* GetAction() const;
    void SetAction(classlib::TBasicAction* Value);
    TMbCustomItemActionLink* GetActionLink() const { return actionLink_.get(); }
    // Lets the action refresh its state (its OnUpdate).
    virtual void UpdateFromAction();

protected:
    TMbItemKinds kinds_ = ikSelectable | ikRepaintOnSelect | ikRepaintOnHover;
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;
    // Copies the action's properties; with CheckDefaults only those the
    // item still holds at their defaults.
    virtual void ActionChange(classlib::TObject* Sender, bool CheckDefaults);

private:
    struct TListener {
        TMbItemChangedProc Proc;
        int Count;
    };
    void ApplyRadioGroup();
    bool SwapImages(classlib::TCustomImageList*& Field, classlib::TCustomImageList* Value,
                    std::unique_ptr<TMbImageChangeLink>& Link);
    void ImageListChange(classlib::TObject* Sender);
    void DoActionChange(classlib::TObject* Sender);

    std::wstring caption_;
    bool enabled_ = true;
    bool visible_ = true;
    bool checked_ = false;
    bool radioItem_ = false;
    int groupIndex_ = 0;
    TShortCut shortCut_ = 0;
    TMbItemDisplayMode displayMode_ = nbdmDefault;
    int imageIndex_ = -1;
    classlib::TCustomImageList* images_ = nullptr;
    classlib::TCustomImageList* subMenuImages_ = nullptr;
    std::unique_ptr<TMbImageChangeLink> imagesLink_;
    std::unique_ptr<TMbImageChangeLink> subMenuImagesLink_;
    TMbItemOptions options_ = 0;
    TMbItemOptions maskOptions_ = 0;
    TMbItemOptions effectiveOptions_ = 0;
    bool inheritOptions_ = true;
    classlib::TColor xpItemSelBkgrCol_ = 0xDDDDDD;
    classlib::TColor xpItemOutlineCol_ = 0x666666;
    std::vector<TMbCustomItem*> items_;
    TMbCustomItem* parentItem_ = nullptr;
    TMbCustomItem* linkSubitems_ = nullptr;
    std::vector<TMbCustomItem*> linkedFrom_;
    std::vector<TListener> listeners_;
    std::unique_ptr<TMbCustomItemActionLink> actionLink_;
    // The action last given (compared with when it is deleted).
    classlib::TBasicAction* linkedAction_ = nullptr;
};

// Connects an item to an action: each property the action changes is
// written into the item while the item still shows the action's old value.
class TMbCustomItemActionLink : public classlib::TActionLink {
public:
    explicit TMbCustomItemActionLink(TMbCustomItem* AClient) : client_(AClient) {}
    std::wstring ClassName() const override { return L"TMbCustomItemActionLink"; }

    bool IsCaptionLinked() override;
    bool IsCheckedLinked() override;
    bool IsEnabledLinked() override;
    bool IsHelpContextLinked() override;
    bool IsHintLinked() override;
    bool IsImageIndexLinked() override;
    bool IsShortCutLinked() override;
    bool IsVisibleLinked() override;
    bool IsOnExecuteLinked() override;
    // The action's AutoCheck equals the item's.
    virtual bool AutoCheckFromAction();

    void SetAutoCheck(bool Value) override;
    void SetCaption(const std::wstring& Value) override;
    void SetChecked(bool Value) override;
    void SetEnabled(bool Value) override;
    void SetHelpContext(uint32_t Value) override;
    void SetHint(const std::wstring& Value) override;
    void SetImageIndex(int Value) override;
    void SetShortCut(classlib::TActionShortCut Value) override;
    void SetVisible(bool Value) override;
    void SetOnExecute(const classlib::TNotifyEvent& Value) override;

private:
    TMbCustomItem* client_;
};

// The invisible root of a toolbar or popup menu.
class TMbRootItem : public TMbCustomItem {
public:
    explicit TMbRootItem(classlib::TComponent* AOwner) : TMbCustomItem(AOwner) {}
    std::wstring ClassName() const override { return L"TMbRootItem"; }
};

class TMbItem : public TMbCustomItem {
public:
    explicit TMbItem(classlib::TComponent* AOwner) : TMbCustomItem(AOwner) {}
    std::wstring ClassName() const override { return L"TMbItem"; }
};

// An item whose sub-items open as a popup level.
class TMbSubmenuItem : public TMbCustomItem {
public:
    explicit TMbSubmenuItem(classlib::TComponent* AOwner) : TMbCustomItem(AOwner) { kinds_ |= ikSubmenu; }
    std::wstring ClassName() const override { return L"TMbSubmenuItem"; }
    // A button part plus a separate drop-down arrow part.
    bool GetDropdownCombo() const { return (kinds_ & ikCombo) != 0; }
    void SetDropdownCombo(bool Value);
};

class TMbSeparatorItem : public TMbCustomItem {
public:
    explicit TMbSeparatorItem(classlib::TComponent* AOwner) : TMbCustomItem(AOwner)
    {
        kinds_ = ikSeparator | ikNoClick;
    }
    std::wstring ClassName() const override { return L"TMbSeparatorItem"; }
    TMbItemViewer* CreateViewer(TMbView* View, int NestLevel) override;
    // A blank separator draws nothing.
    bool GetBlank() const { return blank_; }
    void SetBlank(bool Value);

private:
    bool blank_ = false;
};

// Hosts a window control (e.g. a combo box) in a toolbar row; the toolbar
// makes the control its child and places it. The control is deleted with
// the item unless KeepControl is set.
class TMbControlItem : public TMbCustomItem {
public:
    explicit TMbControlItem(classlib::TComponent* AOwner) : TMbCustomItem(AOwner)
    {
        kinds_ = static_cast<TMbItemKinds>((kinds_ & ~ikSelectable) | ikNoClick);
    }
    ~TMbControlItem() override;
    std::wstring ClassName() const override { return L"TMbControlItem"; }

    classlib::TControl* GetControl() const { return control_; }
    void SetControl(classlib::TControl* Value);
    bool KeepControl = false;

protected:
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;

private:
    classlib::TControl* control_ = nullptr;
    bool controlSharesOwner_ = false;
};

// ------------------------------------------------------------- viewers

// Paint flags of a viewer.
constexpr uint8_t pfBuffered = 0x01;
constexpr uint8_t pfLineBreak = 0x02;

// The on-screen presence of one item in one view: measures, paints and
// hit-tests the entry. Owned by its view; holds references to its item and
// view only. Deleting a viewer cancels its pending deferred dispatches.
class TMbItemViewer : public classlib::TObject {
public:
    TMbItemViewer(TMbView* AView, TMbCustomItem* AItem, int ANestLevel);
    ~TMbItemViewer() override;
    TMbItemViewer(const TMbItemViewer&) = delete;
    TMbItemViewer& operator=(const TMbItemViewer&) = delete;
    std::wstring ClassName() const override { return L"TMbItemViewer"; }

    RECT EntryRect{};
    bool ScrolledAway = false;
    int NestLevel;
    TMbCustomItem* EntryItem;
    bool BehindChevron = false;
    bool Placed = false;
    TMbView* OwnerView;
    uint8_t PaintFlags = 0;

    // The natural size; AWidth and AHeight are added to (the caller starts
    // them at 0, or 6 in toolbar style).
    virtual void MeasureSize(classlib::TCanvas* Canvas, int& AWidth, int& AHeight);
    virtual void DrawEntryText(classlib::TCanvas* Canvas, RECT Rect, const std::wstring& Caption,
                               bool UseDisabledShadow, UINT Format);
    virtual void EnterSelection();
    virtual void LeaveSelection();
    // The caption up to its first TAB.
    virtual std::wstring CaptionText() const { return EntryItem->MenuCaption(); }
    // X, Y relative to the entry.
    virtual bool InButtonPart(int X, int Y) const;
    // Paints with the canvas origin at the entry's top-left corner
    // (ClientAreaRect is (0, 0, width, height)).
    virtual void Paint(classlib::TCanvas* Canvas, const RECT& ClientAreaRect, bool IsSelected, bool IsPushed,
                       bool UseDisabledShadow);
    virtual bool SameWidthWanted() const;
    // 10 client, 21 separator, 12 menu item, 57 button menu, 43 push button.
    virtual int AccRole() const;
    virtual int AccExtra() const { return 0; }
    // Raises the entry's accessibility focus event (run from the deferred
    // dispatch): EVENT_OBJECT_FOCUS for the view's window, child index + 1.
    virtual void AccFocusEvent(WPARAM WParam);

    // Ends the menu with this entry's click; answers whether it did.
    virtual bool QueueClick();
    // The cursor over the entry (X, Y relative to it); unchanged: the arrow.
    virtual void CursorAt(int X, int Y, HCURSOR& Cursor)
    {
        (void)X, (void)Y, (void)Cursor;
    }
    virtual void HandleKeyDown(WORD& Key, classlib::TShiftState Shift) { (void)Key, (void)Shift; }
    virtual void CaptureLost();
    // The mouse, X and Y relative to the entry. A press opens a submenu's
    // popup (MouseDownOnMenu: a second press on an open menu-bar entry) or
    // captures a toolbar button; the release clicks an enabled entry.
    virtual void MouseDown(classlib::TShiftState Shift, int X, int Y, bool& MouseDownOnMenu);
    virtual void MouseMove(int X, int Y) { (void)X, (void)Y; }
    virtual void MouseUp(int X, int Y, bool MouseWasDownOnMenu);
    virtual void MouseWheel(int WheelDelta, int X, int Y) { (void)WheelDelta, (void)X, (void)Y; }
    // QueueClick, and with Promote the entry moves to the front of the
    // view's priority order.
    void Trigger(bool Promote);
    // A screen point relative to the entry.
    POINT ScreenToViewer(POINT Screen) const;

    bool HasToolbarStyle() const;
    bool HasToolbarSize() const;
    bool TextRotated() const;
    classlib::TCustomImageList* ImageList() const;
    bool ShowsImage() const;
    bool ShowsCaption() const;
    std::wstring HintText() const;
    bool IsAccessible() const { return Placed || BehindChevron || ScrolledAway; }
    // The entry's accessibility object, made on first request (MbAcc); the
    // viewer holds one reference and cuts it off when deleted.
    TMbBaseAccObject* AccObject = nullptr;
};

class TMbSeparatorItemViewer : public TMbItemViewer {
public:
    using TMbItemViewer::TMbItemViewer;
    std::wstring ClassName() const override { return L"TMbSeparatorItemViewer"; }
    void MeasureSize(classlib::TCanvas* Canvas, int& AWidth, int& AHeight) override;
    void Paint(classlib::TCanvas* Canvas, const RECT& ClientAreaRect, bool IsSelected, bool IsPushed,
               bool UseDisabledShadow) override;
    bool SameWidthWanted() const override { return false; }
};

// --------------------------------------------------------------- views

enum TMbLayoutAxis : uint8_t { laHorizontal, laVertical, laFloating };

// View styles.
constexpr uint8_t vsMenuBar = 0x01;
constexpr uint8_t vsHideAccels = 0x02;
constexpr uint8_t vsMenuHints = 0x04;
// Run flags.
constexpr uint8_t rfInLoop = 0x01;
constexpr uint8_t rfPointerInside = 0x02;
constexpr uint8_t rfPaintAll = 0x04;
constexpr uint8_t rfOpenLeft = 0x08;
constexpr uint8_t rfIgnoreRelease = 0x10;
constexpr uint8_t rfAccelsShown = 0x20;
constexpr uint8_t rfMenuOpen = 0x40;
constexpr uint8_t rfPopupClosed = 0x80;
// Options of EnterModalLoop.
constexpr uint8_t mlStartedByMouseDown = 0x01;
constexpr uint8_t mlExecuteSelection = 0x02;
constexpr uint8_t mlWithoutPriority = 0x04;
// Timers of a popup view (window timers 9000 + n of its popup window).
constexpr int kTimerOpen = 0, kTimerClose = 1, kTimerScrollUp = 2, kTimerScrollDown = 3;

// The screen position of the last pointer message the menu loop read
// (X = $80000000: none); shared by every loop of the process.
extern POINT LastPointerPos;

enum TMbOutcomeKind : uint8_t { moNone, moCancel, moClickItem, moSystemKey, moHelp };

// How a menu ended (kept in the root view of the chain).
struct TMbMenuOutcome {
    TMbOutcomeKind Kind = moNone;
    TMbCustomItem* ClickedItem = nullptr;
    bool FromPopup = false;
    HWND KeyWnd = nullptr;
    wchar_t Key = 0;
    uint32_t HelpId = 0;
};

// Shows the sub-items of one item (the LinkedItem of SourceItem) with one
// viewer per sub-item, kept in step with the item tree through a change
// listener. Owns its viewers; the items, upper view and host window are
// references.
class TMbView : public classlib::TComponent {
public:
    TMbView(classlib::TComponent* AOwner, TMbView* AUpperView, TMbCustomItem* ASourceItem,
            classlib::TWinControl* AHostWindow, bool AIsToolbarView, bool ACustomizing);
    ~TMbView() override;
    std::wstring ClassName() const override { return L"TMbView"; }

    int EntryCount() const { return static_cast<int>(ViewerList.size()); }
    // EMbItemError "Toolbar item index out of range" outside the list.
    TMbItemViewer* EntryViewer(int Index) const;
    int IndexOfViewer(const TMbItemViewer* Viewer) const;
    TMbView* RootView();

    bool IsPopupView;
    bool IsToolbarView;
    bool InCustomizeMode;
    bool MouseCaptured = false;
    TMbLayoutAxis Axis = laHorizontal;
    uint8_t ViewStyle = 0;
    uint8_t RunFlags = 0;
    TMbView* UpperView;
    TMbCustomItem* SourceItem;
    TMbCustomItem* ShownItem = nullptr;
    classlib::TWinControl* HostWindow;
    TMbItemViewer* SelectedViewer = nullptr;
    std::vector<TMbItemViewer*> ViewerList;
    // Entries in the order they keep their place when room runs out (first
    // = most important); empty: list order.
    std::vector<TMbItemViewer*> PriorityOrder;
    // The view's accessibility object (as for viewers).
    TMbBaseAccObject* AccObject = nullptr;

    // Layout input and results.
    int ChevronAt = 0;
    int ChevronWidth = 0;
    int WrapAt = 0;
    int HeightLimit = 0;
    int ScrollPos = 0;
    bool UpArrowShown = false;
    bool DownArrowShown = false;
    POINT NaturalSize{};

    // The entry standing for hidden entries at the end of a toolbar; none
    // here.
    virtual TMbItemViewer* ChevronItem() { return nullptr; }
    // An item whose entry comes before the shown item's own entries, and
    // one whose sub-items' entries come after them (before the chevron);
    // none here. They take no part in the priority order and are counted in
    // FrontExtraCount and EndExtraCount. A derived view answering them calls
    // RebuildViewers at the end of its constructor (the base constructor
    // builds the entries with these answers).
    virtual TMbCustomItem* FrontExtraItem() { return nullptr; }
    virtual TMbCustomItem* EndExtrasItem() { return nullptr; }
    // Frees every entry and makes them again: the front extra, one per
    // sub-item of the shown item, the end extras.
    void RebuildViewers();
    // Left, top, right, bottom margins around the entries.
    virtual RECT LayoutMargins(TMbLayoutAxis AAxis) const;
    // The font entries are measured and drawn with: the host window's, else
    // the system's menu font.
    virtual classlib::TFont* ViewFont();
    // Places the entries (see the class comment); with Apply the viewers
    // take their rectangles and flags. Answers whether, with Apply, any
    // rectangle, Placed or line-break flag changed. TotalSize is the size
    // the window needs, BaseSize that of all entries in one line.
    bool Layout(bool Apply, TMbLayoutAxis AAxis, int& LineCount, POINT& TotalSize, POINT& BaseSize,
                int AChevronWidth, int AChevronAt, int AWrapAt);
    // Layout with Apply and the view's own settings; answers the size.
    POINT RecalcLayout();

    // The window a popup view draws in (0 for other views).
    HWND Wnd = nullptr;
    TMbMenuOutcome Outcome;
    TMbItemViewer* OpenSubViewer = nullptr;
    TMbView* OpenSubView = nullptr;
    std::unique_ptr<TMbPopupWindow> OpenSubWindow;

    // Run state of menus.
    uint32_t RunningTimers = 0;
    classlib::TColor BackColor = classlib::clDefault;
    // The loop's capture window while a loop runs.
    HWND LoopWnd = nullptr;
    // For a chevron popup: the toolbar view whose hidden entries it shows.
    TMbView* ChevronHost = nullptr;
    // Viewers after / before the item's own entries.
    int EndExtraCount = 0;
    int FrontExtraCount = 0;
    // When not empty, the area popups of this view stay inside.
    RECT WorkArea{};
    bool PointerOnSelected = false;
    bool SelectedByMouse = false;
    bool NewFirstInPriority = true;
    bool UsesPriority = false;
    bool LayoutValid = false;
    int UpdateDepth = 0;

    // Layout state: invalidated by every change of the shown items,
    // validated (laid out again) before painting and hit tests.
    void InvalidateLayout();
    void ValidateLayout();
    void TryValidateLayout();
    void InvalidateLayoutDeep();
    // The window size follows the entries' size (popup views).
    virtual void ApplyBaseSize(int AWidth, int AHeight);

    // Chain.
    TMbView* NearestToolbarView();
    // View is Other or one of Other's upper views.
    static bool IsInChain(const TMbView* View, const TMbView* Other);

    // Selection: the entry shown highlighted; repaints old and new.
    void ChangeSelection(TMbItemViewer* Viewer, bool ViaMouse);
    void SelectViewer(TMbItemViewer* Viewer) { ChangeSelection(Viewer, false); }
    // The next shown entry (cyclically) whose item is visible and
    // selectable; disabled entries count. Null when there is none.
    TMbItemViewer* StepSelectable(TMbItemViewer* From, bool Forward);
    void MoveSelection(bool Forward);
    // Opens the selected entry's sub-items as a popup level beside it
    // (firing their popup events first); answers whether one is open.
    bool OpenSelectedPopup(bool SelectFirst);
    // Closes the open popup level and every level below it.
    void CloseOpenPopup();
    // Menu keys; a handled key is set to 0.
    void HandleKey(WORD& Key);
    virtual void HandleKey(WORD& Key, classlib::TShiftState Shift);
    // Opens the selected entry's popup, or ends the menu with its click.
    void ActivateSelection() { ActivateSelection(true); }
    void ActivateSelection(bool Promote);
    TMbItemViewer* FirstSelectableEntry() { return StepSelectable(nullptr, true); }
    // A toolbar leaves its menu-open mode; the open popup closes.
    void LeaveMenuMode();
    // Ends the menu and hides every open popup of the chain.
    void CancelMenus();
    // Moves the entry to the front of the priority order (a clicked entry
    // comes back from behind the chevron).
    void PromoteViewer(TMbItemViewer* Viewer);
    TMbItemViewer* HighestPriorityShown();
    void CaptureMouse();
    void UncaptureMouse();
    // The entry after From (wrapping) whose accelerator, else (unless
    // AcceleratorsOnly) whose first letter, is Char ignoring case; enabled
    // entries first. Unique: no other enabled entry matches (a disabled
    // match is always unique).
    TMbItemViewer* FindAccelEntry(TMbItemViewer* From, wchar_t Char, bool& Unique, bool AcceleratorsOnly);
    void ShowAccelerators(bool Show);
    // Posts the focus event of the selected entry while the view runs a
    // menu loop; nothing otherwise.
    void NotifyAccFocus();
    // Scrolls a tall popup by one entry.
    void ScrollStep(bool Down);
    // Scrolls a tall popup until the selection is fully shown.
    void RevealSelection();
    // Runs the menu loop on this (toolbar) view: Options mlStartedByMouseDown,
    // mlExecuteSelection, mlWithoutPriority. Answers the clicked item, whose
    // click is posted to run after the loop; null otherwise.
    TMbCustomItem* EnterModalLoop(uint8_t Options);
    void FinishWithHelp(uint32_t HelpId);
    void FinishWithSystemKey(HWND KeyWnd, wchar_t Key);
    // Window timers 9000 + n of a popup view's window.
    void ArmTimer(int N, UINT Milliseconds);
    void DisarmTimer(int N);
    void DisarmAllTimers();
    // Every entry's UpdateFromAction.
    void RefreshEntryActions();
    // For a hint request at a client point: the entry's rectangle, its hint
    // text and the viewer; false when no entry is there.
    bool AnswerHintRequest(POINT Client, RECT& CursorRect, std::wstring& Text, TMbItemViewer*& Data);
    // Selects the entry under the screen point (when AllowSelect).
    void TrackPointer(POINT Screen, bool AllowSelect);
    // The placed entry at a client point, or null.
    TMbItemViewer* ViewerAt(POINT Client);
    void FinishCancel();
    void FinishWithClick(TMbItemViewer* Viewer);
    // Whether the pointer of the last message is over the entry (over its
    // button part while captured).
    bool PointerOver(TMbItemViewer* Viewer);
    bool IsDone() { return RootView()->Outcome.Kind != moNone; }
    // Paints every placed entry, the selected one last.
    void DrawAll(classlib::TCanvas* Canvas);
    // Paints one entry with the canvas prepared for its state.
    void DrawViewer(TMbItemViewer* Viewer, classlib::TCanvas* Canvas, bool ForceBuffer);
    // Changing it rebuilds the viewers.
    void SetUsesPriority(bool Value);
    // Adds the window controls of control items hidden behind the chevron.
    void BehindChevronControls(std::vector<classlib::TControl*>& List);
    void InvalidateViewer(const TMbItemViewer* Viewer);

protected:
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;

private:
    void SourceChanged(TMbCustomItem* Sender, TMbItemChange Change, int Index, TMbCustomItem* Item);
    void ShownChanged(TMbCustomItem* Sender, TMbItemChange Change, int Index, TMbCustomItem* Item);
    // Follows SourceItem's link and rebuilds every viewer.
    void ResolveShownItem();
    void FreeViewers();
    TMbItemViewer* AppendViewer(TMbCustomItem* Item, int At, bool Priority, bool Front);
    // Replaces the viewer at Index by a new one of its item's class.
    void RebuildViewer(std::size_t Index);
    // The steps of one Layout run over their work record (MbViewLayout.cpp).
    struct TLayoutRun;
};

// The framework's menu font (the system's menu font), made on first use and
// kept for the process; MbUpdateMenuFont reads the system's font again.
classlib::TFont* SharedMenuFont();
void MbUpdateMenuFont();
// The system's non-client metrics; false when the system gives none.
bool MbReadNonClientMetrics(NONCLIENTMETRICSW& Metrics);

// Whether accelerator underlines are hidden in View now: the system hides
// keyboard cues, the view asks for it and Alt has not shown them yet.
bool AccelsHidden(const TMbView* View);
// The colour the left strip of the flat look is drawn in: LeftCol, except
// that a system colour too close to the background to be seen (as the
// button face of light themes is against white) is shaded a third of the
// way towards the button shadow.
classlib::TColor FlatStripColor(classlib::TColor LeftCol, classlib::TColor BkgrCol);
// Strip: the width of the left image strip of the flat look (22 at 120
// pixels per inch, else 20).
int FlatStripWidth();

// A popup level: a top-level window that never takes the activation,
// showing the sub-items of Item in its own popup view. Owns the window and
// the view.
// The answer of a window showing View to the class library's hint message
// (CM_HINTSHOW): the entry under Info.CursorPos gives the cursor rectangle,
// the text and the data (its viewer); 0 shows the hint, 1 (no entry there)
// refuses it.
LRESULT MbAnswerHintShow(TMbView* View, classlib::THintInfo& Info);

class TMbPopupControl;

// A popup menu window: a top-level control of the class library (it shows
// hints, answers the hint message through its view) that draws the view.
class TMbPopupWindow {
public:
    // The window and its view, of ViewClass (null: TMbPopupView). A derived
    // window passes its view class here: the view is made while this
    // constructor runs, before a derived class could answer it.
    TMbPopupWindow(TMbView* UpperView, TMbCustomItem* Item, bool Customizing = false,
                   TMbPopupViewClass ViewClass = nullptr);
    // The class reference of TMbPopupWindow.
    static std::unique_ptr<TMbPopupWindow> Create(TMbView* UpperView, TMbCustomItem* Item, bool Customizing);
    // The class of the window's view.
    TMbPopupViewClass PopupViewClass() const { return viewClass_; }
    virtual ~TMbPopupWindow();
    TMbPopupWindow(const TMbPopupWindow&) = delete;
    TMbPopupWindow& operator=(const TMbPopupWindow&) = delete;
    TMbView* GetView() const { return view_.get(); }
    HWND GetHandle() const { return wnd_; }
    // Sizes the window to its entries and shows it with its top-left corner
    // at the screen point, moved to stay inside the work area.
    void ShowAt(POINT Screen);
    // Shows or hides the window without activating it (the open animation
    // when the system asks for one).
    void SetVisible(bool Visible);
    // The up and down scroll arrows of a tall popup.
    virtual void DrawScrollArrows(classlib::TCanvas* Canvas);

    // $01 slide leftward, $02 rightward, $04 downward, $08 upward.
    uint8_t AnimDirection = 0;

    // The window's control (owned); FindControl of the handle gives it.
    classlib::TCustomControl* GetControl() const;

private:
    TMbPopupViewClass viewClass_;
    std::unique_ptr<TMbView> view_;
    std::unique_ptr<TMbPopupControl> control_;
    HWND wnd_ = nullptr;
};

// The popup view: the window takes the entries' size plus its 3-pixel
// frame.
class TMbPopupView : public TMbView {
public:
    using TMbView::TMbView;
    // The class reference of TMbPopupView: a view of the window it is made
    // for (no owner, no host window, not a toolbar view).
    static std::unique_ptr<TMbPopupView> Create(TMbView* UpperView, TMbCustomItem* Item, bool Customizing);
    std::wstring ClassName() const override { return L"TMbPopupView"; }
    void ApplyBaseSize(int AWidth, int AHeight) override;
    // The popup window's font (the opening view's font when it was made).
    classlib::TFont* ViewFont() override;
};

// The modal menu loop: owns the mouse capture while a menu chain runs and
// routes input to its views. One per running loop.
class TMbModalHandler {
public:
    // ExistingWnd takes the capture; null: a hidden window of the handler's
    // own. Takes the keyboard focus from another thread's window (given
    // back afterwards) and locks foreground changes while it exists.
    explicit TMbModalHandler(HWND ExistingWnd);
    ~TMbModalHandler();
    TMbModalHandler(const TMbModalHandler&) = delete;
    TMbModalHandler& operator=(const TMbModalHandler&) = delete;
    // Runs until a view records an outcome, the capture is lost, another
    // window becomes active, or a press outside the chain (left in the
    // queue for its window).
    void RunLoop(TMbView* RootView, bool TrackRightButton) { RunLoop(RootView, false, false, false, TrackRightButton); }
    void RunLoop(TMbView* RootView, bool StartedByMouseDown, bool ExecuteSelectedFirst, bool WithoutPriority,
                 bool TrackRightButton);
    HWND GetCaptureWnd() const { return captureWnd_; }
    // The popup of a standalone popup menu: cancelled when the capture
    // window is told to cancel modes.
    TMbPopupWindow* StandalonePopup = nullptr;

private:
    bool ownsWnd_ = false;
    bool eventsRaised_ = false;
    HWND captureWnd_ = nullptr;
    HWND focusToRestore_ = nullptr;
};

// Receives the help outcome of a menu (F1 on an entry with a HelpContext):
// the command (HELP_CONTEXTPOPUP when the active form shows a help button,
// else HELP_CONTEXT) and the help context. Unassigned: nothing happens.
using TMbHelpEvent = classlib::TEvent<void(UINT Command, uint32_t HelpId)>;
extern TMbHelpEvent MbHelpHandler;

// Carries out a finished menu: a clicked item's click is posted (it runs
// from the message loop after the menu closed) unless ReturnClickedItemOnly.
// Answers the clicked item or null.
TMbCustomItem* CarryOutOutcome(const TMbMenuOutcome& Outcome, bool ReturnClickedItemOnly);

// An image list with state images: entries draw from CheckedImages when
// checked, DisabledImages when disabled and HotImages when selected, where
// those are set (16 x 16 by default). ImagesBitmap (owned) is a strip that
// replaces the list's images, with ImagesBitmapMaskColor transparent. The
// three state lists are references, cleared when they are deleted.
class TMbCustomImageList : public classlib::TCustomImageList {
public:
    explicit TMbCustomImageList(classlib::TComponent* AOwner);
    ~TMbCustomImageList() override;
    std::wstring ClassName() const override { return L"TMbCustomImageList"; }

    classlib::TCustomImageList* GetCheckedImages() const { return checkedImages_; }
    void SetCheckedImages(classlib::TCustomImageList* Value);
    classlib::TCustomImageList* GetDisabledImages() const { return disabledImages_; }
    void SetDisabledImages(classlib::TCustomImageList* Value);
    classlib::TCustomImageList* GetHotImages() const { return hotImages_; }
    void SetHotImages(classlib::TCustomImageList* Value);
    classlib::TBitmap* GetImagesBitmap() const { return imagesBitmap_.get(); }
    // Copies Value; a non-empty bitmap replaces the list's images.
    void SetImagesBitmap(classlib::TBitmap* Value);
    classlib::TColor GetImagesBitmapMaskColor() const { return imagesBitmapMaskColor_; }
    void SetImagesBitmapMaskColor(classlib::TColor Value);

    // Draws image Index from the list that fits the state: DisabledImages
    // (drawn as enabled) for a disabled entry, else CheckedImages when
    // checked, else HotImages when selected, else this list.
    void DrawForState(classlib::TCanvas* Canvas, int X, int Y, int Index, bool Enabled, bool Selected,
                      bool Checked);

protected:
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;

private:
    void SetStateList(classlib::TCustomImageList*& Field, classlib::TCustomImageList* Value,
                      classlib::TChangeLink& Link);
    void StateListChange(classlib::TObject* Sender);
    void LoadImagesBitmap();

    classlib::TCustomImageList* checkedImages_ = nullptr;
    classlib::TCustomImageList* disabledImages_ = nullptr;
    classlib::TCustomImageList* hotImages_ = nullptr;
    classlib::TChangeLink checkedLink_, disabledLink_, hotLink_;
    std::unique_ptr<classlib::TBitmap> imagesBitmap_;
    classlib::TColor imagesBitmapMaskColor_ = 0xFF00FF;  // fuchsia
};

class TMbImageList : public TMbCustomImageList {
public:
    explicit TMbImageList(classlib::TComponent* AOwner) : TMbCustomImageList(AOwner) {}
    std::wstring ClassName() const override { return L"TMbImageList"; }
};

// Deferred dispatch, per thread: PostDeferred posts Target's click (for a
// viewer: its accessibility focus event) to a hidden window, so it runs
// from the message loop after the menu closed;
// CancelDeferred turns every pending post for Target into a dead mark that
// runs nothing. Every item cancels its posts when deleted.
void PostDeferred(TMbCustomItem* Target, WPARAM WParam);
void PostDeferred(TMbItemViewer* Target, WPARAM WParam);
void CancelDeferred(const void* Target);
// Items and viewers count themselves; the last one of a thread frees its
// window.
void CountInstance();
void UncountInstance();

// A popup menu: its Items are shown at a screen point by Popup.
class TMbPopupMenu : public classlib::TPopupMenu, public IMbItemHost {
public:
    explicit TMbPopupMenu(classlib::TComponent* AOwner);
    ~TMbPopupMenu() override;
    std::wstring ClassName() const override { return L"TMbPopupMenu"; }

    // The root whose children are the menu's items (owned).
    TMbCustomItem* GetItems() const { return items_; }
    TMbCustomItem* GetRootItem() override { return items_; }
    // Fires OnPopup, then shows the menu at the screen point X, Y and runs
    // the menu loop; the chosen item's click runs afterwards from the
    // message loop.
    void Popup(int X, int Y) override { PopupReturningItem(X, Y, false); }
    // As Popup, answering the chosen item (null when cancelled); with
    // ReturnClickedItemOnly the item is answered, not clicked.
    TMbCustomItem* PopupReturningItem(int X, int Y, bool ReturnClickedItemOnly);
    // Clicks the item whose shortcut the key message names.
    bool IsShortCut(const MSG& Message) { return items_->ExecuteShortCut(Message); }

    // Copies of the items for another menu: hidden items are copied as
    // hidden, control items are left out, a submenu's popup events fire
    // before its entries are copied (submenus that fill themselves when
    // they open show their entries). Each copy's Click clicks the item.
    std::vector<classlib::TMenuItemCopy> CopyItems() override;

    // The images of the first level (the root's SubMenuImages).
    classlib::TCustomImageList* GetImages() const override { return items_->GetSubMenuImages(); }
    void SetImages(classlib::TCustomImageList* Value) { items_->SetSubMenuImages(Value); }
    TMbCustomItem* GetLinkSubitems() const { return items_->GetLinkSubitems(); }
    void SetLinkSubitems(TMbCustomItem* Value) { items_->SetLinkSubitems(Value); }
    TMbItemOptions GetOptions() const { return items_->GetOptions(); }
    void SetOptions(TMbItemOptions Value) { items_->SetOptions(Value); }
    TPopupAlignment Alignment = paLeft;
    TTrackButton TrackButton = tbRightButton;
    // The point of the last Popup.
    POINT PopupPoint{};

    // OnPopup (of the class library's popup menu) fires every time the menu
    // opens, and when a submenu of it opens, with that item as Sender.

private:
    void RootClick(classlib::TObject* Sender);

private:
    TMbCustomItem* items_;
};

}  // namespace toolbar
