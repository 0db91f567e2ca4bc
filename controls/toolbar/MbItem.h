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
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Component.h"
#include "classlib/Controls.h"
#include "classlib/Events.h"
#include "classlib/Exceptions.h"
#include "classlib/Graphics.h"
#include "classlib/ImageList.h"

namespace toolbar {

CLASSLIB_EXCEPTION(EMbItemError, classlib::Exception);

class TMbCustomItem;
class TMbItemViewer;
class TMbView;
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
    // For a toolbar's chevron entry: the toolbar view whose hidden entries
    // its popup shows; null for every other item.
    virtual TMbView* ChevronSourceView() { return nullptr; }

    void SetName(const std::wstring& Value) override;

protected:
    TMbItemKinds kinds_ = ikSelectable | ikRepaintOnSelect | ikRepaintOnHover;
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;

private:
    struct TListener {
        TMbItemChangedProc Proc;
        int Count;
    };
    void ApplyRadioGroup();
    bool SwapImages(classlib::TCustomImageList*& Field, classlib::TCustomImageList* Value,
                    std::unique_ptr<TMbImageChangeLink>& Link);
    void ImageListChange(classlib::TObject* Sender);

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
constexpr uint8_t rfAccelsShown = 0x20;

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

class TMbPopupWindow;

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
    // For a chevron popup: the toolbar view whose hidden entries it shows
    // (only those are placed).
    TMbView* ChevronHost = nullptr;
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
    // Opens the selected entry's popup, or ends the menu with its click.
    void ActivateSelection();
    // Selects the entry under the screen point (when AllowSelect).
    void TrackPointer(POINT Screen, bool AllowSelect);
    // The placed entry at a client point, or null.
    TMbItemViewer* ViewerAt(POINT Client);
    void FinishCancel();
    void FinishWithClick(TMbItemViewer* Viewer);
    bool IsDone() { return RootView()->Outcome.Kind != moNone; }
    // Paints every placed entry, the selected one last.
    void DrawAll(classlib::TCanvas* Canvas);
    void InvalidateViewer(const TMbItemViewer* Viewer);

protected:
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;

private:
    void SourceChanged(TMbCustomItem* Sender, TMbItemChange Change, int Index, TMbCustomItem* Item);
    void ShownChanged(TMbCustomItem* Sender, TMbItemChange Change, int Index, TMbCustomItem* Item);
    // Follows SourceItem's link and rebuilds every viewer.
    void ResolveShownItem();
    void FreeViewers();
};

// The system's menu font, made on first use (shared, never freed before
// the process ends).
classlib::TFont* SharedMenuFont();

// Whether accelerator underlines are hidden in View now: the system hides
// keyboard cues, the view asks for it and Alt has not shown them yet.
bool AccelsHidden(const TMbView* View);
// Strip: the width of the left image strip of the flat look (22 at 120
// pixels per inch, else 20).
int FlatStripWidth();

// A popup level: a top-level window that never takes the activation,
// showing the sub-items of Item in its own popup view. Owns the window and
// the view.
class TMbPopupWindow {
public:
    TMbPopupWindow(TMbView* UpperView, TMbCustomItem* Item);
    ~TMbPopupWindow();
    TMbPopupWindow(const TMbPopupWindow&) = delete;
    TMbPopupWindow& operator=(const TMbPopupWindow&) = delete;
    TMbView* GetView() const { return view_.get(); }
    HWND GetHandle() const { return wnd_; }
    // Sizes the window to its entries and shows it with its top-left corner
    // at the screen point, moved to stay inside the work area.
    void ShowAt(POINT Screen);

private:
    std::unique_ptr<TMbView> view_;
    HWND wnd_ = nullptr;
};

// The modal menu loop: owns the mouse capture while a menu chain runs and
// routes input to its views. One per running loop.
class TMbModalHandler {
public:
    explicit TMbModalHandler(HWND ExistingWnd);
    ~TMbModalHandler();
    TMbModalHandler(const TMbModalHandler&) = delete;
    TMbModalHandler& operator=(const TMbModalHandler&) = delete;
    // Runs until a view records an outcome, the capture is lost, another
    // window becomes active, or a press outside the chain (left in the
    // queue for its window).
    void RunLoop(TMbView* RootView, bool TrackRightButton);

private:
    HWND captureWnd_;
};

// Carries out a finished menu: a clicked item's click is posted (it runs
// from the message loop after the menu closed) unless ReturnClickedItemOnly.
// Answers the clicked item or null.
TMbCustomItem* CarryOutOutcome(const TMbMenuOutcome& Outcome, bool ReturnClickedItemOnly);

// The images of a toolbar (16 x 16 by default).
class TMbImageList : public classlib::TCustomImageList {
public:
    explicit TMbImageList(classlib::TComponent* AOwner) : classlib::TCustomImageList(AOwner, 16, 16) {}
    std::wstring ClassName() const override { return L"TMbImageList"; }
};

// Deferred dispatch, per thread: PostDeferred posts Target's click to a
// hidden window, so it runs from the message loop after the menu closed;
// CancelDeferred turns every pending post for Target into a dead mark that
// runs nothing. Every item cancels its posts when deleted.
void PostDeferred(TMbCustomItem* Target, WPARAM WParam);
void CancelDeferred(const void* Target);
// Items count themselves; the last one of a thread frees its window.
void CountInstance();
void UncountInstance();

// Shows Root's visible children as a native popup menu at the screen point
// X, Y, owned by Owner (a window of the program), and clicks the chosen
// item after the menu closed. Submenus fire OnPopup before they are built.
// Returns the clicked item (nullptr when the menu was dismissed).
TMbCustomItem* TrackItemsPopup(TMbCustomItem* Root, HWND Owner, int X, int Y);

// A popup menu: its Items are shown at a screen point by Popup.
class TMbPopupMenu : public classlib::TComponent {
public:
    explicit TMbPopupMenu(classlib::TComponent* AOwner);
    ~TMbPopupMenu() override;
    std::wstring ClassName() const override { return L"TMbPopupMenu"; }

    // The root whose children are the menu's items (owned).
    TMbCustomItem* GetItems() const { return items_; }
    // Fires OnPopup, then shows the menu at the screen point X, Y and runs
    // the menu loop; the chosen item's click runs afterwards from the
    // message loop. Answers the chosen item (null when cancelled).
    TMbCustomItem* Popup(int X, int Y);

    classlib::TNotifyEvent OnPopup;

private:
    TMbCustomItem* items_;
};

}  // namespace toolbar
