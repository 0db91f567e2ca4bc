// Docks, dockable windows and the floating tool window.
//
// TMbDock is the strip along one edge of a form that holds dockable windows
// in rows: it arranges them (rows, positions, overlap, shrinking with
// chevrons, full-size and stretched windows) whenever anything changes and
// takes the thickness of its rows. TMbCustomDockableWindow is the base of
// every window that can sit in a dock, float in a tool window of its own
// (TMbFloatingWindowParent) or stand directly on a form; it keeps its window
// handle (and so its child controls and their state) across every change of
// parent. Dragging by the drag handle or the floating caption runs a modal
// mouse loop (RunDragLoop) that finds the dock the window would join, or
// floats it; a floating window is resized by its own modal loop.
//
// Ownership: a dock lists its members (references, cleared by free
// notification); a dockable window owns its floating tool window. Docks
// named as DefaultDock or LastDock are references cleared by free
// notification.
//
// Threads: the user-interface thread only; the floating list and the hook
// registration are per thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Controls.h"
#include "classlib/Events.h"
#include "classlib/Forms.h"

namespace toolbar {

// Control styles of the framework (beside the class library's own bits):
// the control takes the menu key (WM_SYSCOMMAND SC_KEYMENU).
constexpr classlib::TControlStyle csMenuEvents = 0x1000;

enum TMbDockPosition : uint8_t { dpTop, dpBottom, dpLeft, dpRight };
// Sets of positions: bit n for position n.
using TMbDockableTo = uint8_t;
constexpr TMbDockableTo kAllDockPositions = 0x0F;
using TMbDockBoundLines = uint8_t;
constexpr TMbDockBoundLines blTop = 1u << 0;
constexpr TMbDockBoundLines blBottom = 1u << 1;
constexpr TMbDockBoundLines blLeft = 1u << 2;
constexpr TMbDockBoundLines blRight = 1u << 3;

enum TMbShrinkMode : uint8_t { tbsmNone, tbsmWrap, tbsmChevron };
enum TMbDockMode : uint8_t { dmCanFloat, dmCannotFloat, dmCannotFloatOrChangeDocks };
enum TMbDragHandleStyle : uint8_t { dhDouble, dhNone, dhSingle };
enum TMbFloatingMode : uint8_t { fmOnTopOfParentForm, fmOnTopOfAllForms };
enum TMbBorderStyle : uint8_t { bsNoBorder, bsSingleBorder };

// Hit-test codes of the framework.
constexpr int kHitDragHandle = 2000;
constexpr int kHitCloseButton = 2001;
constexpr int kHitFloatCaption = 2002;

class TMbDock;
class TMbCustomDockableWindow;
class TMbFloatingWindowParent;
class TMbPopupMenu;

using TMbInsertRemoveEvent = classlib::TEvent<void(classlib::TObject* Sender, bool Inserting,
                                                   TMbCustomDockableWindow* Bar)>;
using TMbRequestDockEvent = classlib::TEvent<void(classlib::TObject* Sender, TMbCustomDockableWindow* Bar,
                                                  bool& Accept)>;
using TMbDockChangingEvent = classlib::TEvent<void(classlib::TObject* Sender, bool Floating, TMbDock* DockingTo)>;
using TMbContextPopupEvent = classlib::TEvent<void(classlib::TObject* Sender, POINT MousePos, bool& Handled)>;

// A background shared by docks and their toolbars; no concrete class exists
// here, so docks only hold a reference.
class TMbBasicBackground : public classlib::TComponent {
public:
    using classlib::TComponent::TComponent;
    std::wstring ClassName() const override { return L"TMbBasicBackground"; }
    // Paints so that the rectangle's origin is the picture's origin.
    virtual void PaintTo(HDC DC, const RECT& R) = 0;
    virtual HPALETTE PaletteHandle() = 0;
    virtual void AddChangeHandler(const classlib::TNotifyEvent& Handler) = 0;
    virtual void SystemColoursChanged() = 0;
    virtual void RemoveChangeHandler(const classlib::TNotifyEvent& Handler) = 0;
    virtual bool IsActive() = 0;
};

// The dock type of a (dock, floating) pair: 1 floating, 0 without a dock,
// 3 a left or right dock, 2 the others.
int MbDockTypeOf(const TMbDock* Dock, bool Floating);

class TMbDock : public classlib::TCustomControl {
public:
    explicit TMbDock(classlib::TComponent* AOwner);
    ~TMbDock() override;
    std::wstring ClassName() const override { return L"TMbDock"; }

    // EInvalidOperation for a dockable window or another dock.
    void SetParent(classlib::TWinControl* Value) override;

    TMbDockPosition GetPosition() const { return position_; }
    // EInvalidOperation when the dock already holds controls.
    void SetPosition(TMbDockPosition Value);
    bool IsVertical() const { return position_ == dpLeft || position_ == dpRight; }
    bool GetAllowDrag() const { return allowDrag_; }
    void SetAllowDrag(bool Value);
    TMbDockBoundLines GetBoundLines() const { return boundLines_; }
    void SetBoundLines(TMbDockBoundLines Value);
    TMbBasicBackground* GetBackground() const { return background_; }
    void SetBackground(TMbBasicBackground* Value);
    bool GetBackgroundOnToolbars() const { return backgroundOnToolbars_; }
    void SetBackgroundOnToolbars(bool Value);
    bool GetFixAlign() const { return fixAlign_; }
    void SetFixAlign(bool Value);
    bool LimitToOneRow = false;
    // Set by a drag: the next layout writes rows and positions back.
    bool CommitLayout = false;
    TMbInsertRemoveEvent OnInsertRemoveBar;
    TMbRequestDockEvent OnRequestDock;

    int UpdateCount = 0;
    bool LayoutPending = false;
    int FrameWidth = 0;
    int FrameHeight = 0;
    // Every window belonging to the dock (docked ones and floating ones
    // whose LastDock it is) and the docked visible ones.
    std::vector<TMbCustomDockableWindow*> Members;
    std::vector<TMbCustomDockableWindow*> ShownMembers;

    void RepaintBackground();
    // Whether a background is set and in use.
    bool BackgroundActive() const { return background_ && background_->IsActive(); }
    // Paints the active background into Clip of DC, whose origin is at the
    // screen point Origin, so that the picture starts at the client origin
    // of the dock's parent: the docks of a form and the windows on them
    // continue one picture. False (nothing painted) without an active
    // background or a window.
    bool PaintBackgroundAt(HDC DC, const RECT& Clip, POINT Origin);
    void LockLayout() { ++UpdateCount; }
    void UnlockLayout();
    // Arranges the rows and sizes the dock (see the rules in MbDock.cpp).
    void LayoutRows();
    void ArrangeToolbars() { LayoutRows(); }
    void SetDockListMember(TMbCustomDockableWindow* Bar, bool Add);
    void UpdateVisibleMember(TMbCustomDockableWindow* Bar, bool ForceOut);
    void FreezePositions();
    bool ShowsInDock(const TMbCustomDockableWindow* Bar) const;
    // Whether the window may dock here (AllowDrag, DockableTo, OnRequestDock).
    bool Accepts(TMbCustomDockableWindow* Bar);

    int LastRowIndex(bool UseCurrentRows) const;
    int RowExtent(int Row, bool* HasFullSize = nullptr) const;
    int RowExtentExcept(int Row, const TMbCustomDockableWindow* Bar) const;
    int RowAtOffset(int Offset) const;
    void ResizeDock(int AWidth, int AHeight);

    void WndProc(classlib::TMessage& Message) override;

protected:
    void Paint() override;
    void Resize() override;
    void CreateParams(classlib::TCreateParams& Params) override;
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;
    // Lays out what was placed while loading.
    void Loaded() override;

private:
    struct TRowLayout;
    void RepaintBackgroundEvent(classlib::TObject* Sender);
    void DrawNonClient(HDC DC);
    LRESULT RelayKey(UINT Msg, WPARAM WParam, LPARAM LParam);

    TMbDockPosition position_ = dpTop;
    bool allowDrag_ = true;
    TMbDockBoundLines boundLines_ = 0;
    TMbBasicBackground* background_ = nullptr;
    bool backgroundOnToolbars_ = true;
    bool fixAlign_ = false;
};

class TMbCustomDockableWindow : public classlib::TCustomControl {
public:
    explicit TMbCustomDockableWindow(classlib::TComponent* AOwner);
    ~TMbCustomDockableWindow() override;
    std::wstring ClassName() const override { return L"TMbCustomDockableWindow"; }

    // Published state (defaults as set here).
    bool GetAutoResize() const { return autoResize_; }
    void SetAutoResize(bool Value);
    int GetDockPos() const { return dockPos_; }
    void SetDockPos(int Value);
    int GetDockRow() const { return dockRow_; }
    void SetDockRow(int Value);
    int CurrentPos = 0;
    int CurrentRow = -1;
    bool IsDocked = false;
    TMbDock* GetCurrentDock() const { return currentDock_; }
    void SetCurrentDock(TMbDock* Value);
    TMbDock* GetDefaultDock() const { return defaultDock_; }
    void SetDefaultDock(TMbDock* Value);
    TMbDock* GetLastDock() const { return lastDock_; }
    void SetLastDock(TMbDock* Value);
    int AllottedLength = 0;
    bool GetIsFloating() const { return isFloating_; }
    void SetIsFloating(bool Value);

    classlib::TNotifyEvent OnClose;
    classlib::TNotifyEvent OnDockChanged;
    classlib::TNotifyEvent OnMove;
    classlib::TNotifyEvent OnRecreated;
    classlib::TNotifyEvent OnRecreating;
    classlib::TNotifyEvent OnVisibleChanged;
    classlib::TCloseQueryEvent OnCloseQuery;
    TMbDockChangingEvent OnDockChanging;
    TMbDockChangingEvent OnDockChangingHidden;

    bool ActivateParent = true;
    bool HideWhenInactive = true;
    bool GetCloseButton() const { return closeButton_; }
    void SetCloseButton(bool Value);
    bool GetCloseButtonWhenDocked() const { return closeButtonWhenDocked_; }
    void SetCloseButtonWhenDocked(bool Value);
    bool GetFullSize() const { return fullSize_; }
    void SetFullSize(bool Value);
    bool GetResizable() const { return resizable_; }
    void SetResizable(bool Value);
    bool GetShowCaption() const { return showCaption_; }
    void SetShowCaption(bool Value);
    bool GetStretch() const { return stretch_; }
    void SetStretch(bool Value);
    bool GetUseLastDock() const { return useLastDock_; }
    void SetUseLastDock(bool Value);
    TMbBorderStyle GetBorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TMbBorderStyle Value);
    TMbDockMode DockMode = dmCanFloat;
    TMbDragHandleStyle GetDragHandleStyle() const { return dragHandleStyle_; }
    void SetDragHandleStyle(TMbDragHandleStyle Value);
    TMbDockableTo DockableTo = kAllDockPositions;
    TMbFloatingMode GetFloatingMode() const { return floatingMode_; }
    void SetFloatingMode(TMbFloatingMode Value);
    bool SmoothDrag = true;
    // Bit 0 corner resize zones, bit 1 confine the pointer while resizing.
    uint8_t ResizeOptions = 0x03;

    // Layout and drag state.
    int RowThickness = 0;
    bool NewRowRequest = false;
    int BoundsLock = 0;
    int ArrangeLock = 0;
    int MoveEventLock = 0;
    int ReparentLock = 0;
    bool RearrangePending = false;
    bool WasMoved = false;
    bool CaptionDimmed = false;
    POINT GetFloatOrigin() const { return floatOrigin_; }
    void SetFloatOrigin(POINT Value);
    std::vector<classlib::TCustomForm*> ExtraDockForms;
    bool InDrag = false;
    bool SplitMode = false;
    bool DragCrowded = false;
    bool LiveDragging = false;
    bool CloseButtonPushed = false;
    bool CloseButtonHot = false;
    TMbFloatingWindowParent* GetToolWindow() const { return toolWindow_; }

    // Overridable operations.
    virtual void NonClientSize(int& AWidth, int& AHeight);
    virtual bool PointOnContent(POINT Client);
    // The client size for the state given (entries may move: the real
    // arrangement; otherwise a trial for a state the window is not in).
    virtual SIZE CalcArrangedSize(bool EntriesMayMove, int PresentDockType, bool TargetFloating,
                                  TMbDock* TargetDock) = 0;
    virtual void DrawNonClient(HDC GivenDC, HRGN Region);
    virtual SIZE QueryBaseSize() = 0;
    virtual RECT DockedCloseRect(bool VerticalDock);
    virtual void QueryMinShrinkSize(int& Size) { (void)Size; }
    virtual void QueryMinMaxSize(int& MinW, int& MinH, int& MaxW, int& MaxH)
    {
        (void)MinW, (void)MinH, (void)MaxW, (void)MaxH;
    }
    virtual TMbShrinkMode QueryShrinkMode() { return tbsmNone; }
    virtual void BeforeResize(int AWidth, int AHeight) { (void)AWidth, (void)AHeight; }
    virtual void FloatFrameSize(int& AWidth, int& AHeight);
    virtual bool ControlLetsDragThrough(classlib::TControl* Control) { (void)Control; return false; }
    virtual void FireDockChangingHidden(bool Floating, TMbDock* Dock);
    // Before the arrangement that ends loading; nothing here.
    virtual void PrepareOrdering() {}
    // The resize of a floating window, in this order: begin, move (any
    // number), commit (only when accepted), finish.
    virtual void SizingBegin(int Edge) { (void)Edge; }
    virtual void SizingFinish() {}
    virtual void SizingMove(RECT& R, const RECT& Start) { (void)R, (void)Start; }
    virtual void SizingCommit() {}

    int DragHandleSize() const;
    int GripStartOffset() const;

    void HoldRearrange() { ++ArrangeLock; }
    void ReleaseRearrange();
    bool SizesItself() const { return autoResize_ || IsDocked || isFloating_; }
    void Rearrange();
    void ApplyClientSize(int AWidth, int AHeight);
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    void SetParent(classlib::TWinControl* Value) override;
    void SetVisible(bool Value) override;
    // The window's text; a floating window shows it as its caption.
    const std::wstring& GetCaption() const { return caption_; }
    void SetCaption(const std::wstring& Value);
    // Asks OnCloseQuery, then hides the window and fires OnClose.
    void Close();
    void ToggleDocking();
    bool DragAllowed() const;
    void KeepOnScreen(bool OnlyWhenFullyOff);
    // The modal drag loop, started at a client point.
    void RunDragLoop(POINT Client);
    void RefreshShowing();
    bool WantsShowing();
    void FireMoved();
    void RedrawNonClient();
    // Docked in a dock whose active background shows on its windows.
    bool ShowsDockBackground() const;
    // The menu opened by a right click on the frame or drag handle, or a
    // right click or the menu key on the content that the content leaves
    // (not owned; cleared when it goes).
    TMbPopupMenu* GetPopupMenu() const { return popupMenu_; }
    void SetPopupMenu(TMbPopupMenu* Value);
    // Fired before the popup menu opens, with the client point (-1, -1
    // for the keyboard); Handled true keeps the menu shut.
    TMbContextPopupEvent OnContextPopup;
    bool BeingDestroyed() const { return (GetComponentState() & classlib::csDestroying) != 0; }
    // The form the window belongs to (for a floating window, its form).
    classlib::TCustomForm* OwningForm();

    void WndProc(classlib::TMessage& Message) override;

protected:
    void CreateParams(classlib::TCreateParams& Params) override;
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;
    void MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    // Moves over the content take the hot look off the close button.
    void MouseMove(classlib::TShiftState Shift, int X, int Y) override;
    void WMMove(classlib::TMessage& Message) override;
    // The frame (docked) is drawn in Color too: frame and client are
    // painted again.
    void ColorChanged() override;
    // Arranges once loading ends.
    void Loaded() override;

private:
    friend class TMbDock;
    friend class TMbFloatingWindowParent;
    struct TDragRun;
    void ShowingChanged();
    // After a move in a dock with a background: the picture under the
    // window moved, so all of it is painted again, through a bitmap.
    void RepaintMovedOverBackground();
    // WM_CONTEXTMENU left unanswered: OnContextPopup, then the popup menu.
    bool ContextPopup(LPARAM ScreenPos);
    void SyncTopmost();
    void SyncCaptionLook();
    void SyncFloatingList();
    void RecalcNonClient();
    int NonClientHitTest(POINT Screen);

    bool autoResize_ = true;
    int dockPos_ = -1;
    int dockRow_ = 0;
    TMbDock* currentDock_ = nullptr;
    TMbDock* defaultDock_ = nullptr;
    TMbDock* lastDock_ = nullptr;
    bool isFloating_ = false;
    bool closeButton_ = true;
    bool closeButtonWhenDocked_ = false;
    bool fullSize_ = false;
    bool resizable_ = true;
    bool showCaption_ = true;
    bool stretch_ = false;
    bool useLastDock_ = true;
    TMbBorderStyle borderStyle_ = bsSingleBorder;
    TMbDragHandleStyle dragHandleStyle_ = dhSingle;
    TMbFloatingMode floatingMode_ = fmOnTopOfParentForm;
    POINT floatOrigin_{};
    TMbFloatingWindowParent* toolWindow_ = nullptr;
    TMbPopupMenu* popupMenu_ = nullptr;
    std::wstring caption_;
};

// The tool window a floating window sits in: a small caption with a close
// button, a frame in the caption colours, hit tests for dragging, closing
// and resizing; it never keeps the activation and keeps its form's caption
// active. Owned by the floating window.
class TMbFloatingWindowParent : public classlib::TCustomForm {
public:
    explicit TMbFloatingWindowParent(TMbCustomDockableWindow* AHosted);
    ~TMbFloatingWindowParent() override;
    std::wstring ClassName() const override { return L"TMbFloatingWindowParent"; }

    bool GetClosePressed() const { return closePressed_; }
    void SetClosePressed(bool Value);
    TMbCustomDockableWindow* Hosted;
    classlib::TCustomForm* OwnerForm = nullptr;
    bool ShowWanted = false;

    // The caption rectangle (client or window coordinates), optionally
    // without the close button, and the close button's rectangle.
    RECT TitleRect(bool InWindowCoords, bool LeaveOutCloseButton);
    RECT TitleCloseRect();
    // Parts: 1 frame, 2 caption, 4 close button.
    void DrawFloatingFrame(HDC GivenDC, uint8_t Parts, HRGN Region);
    void RedrawFloating(uint8_t Parts);
    // Shows or hides the window by Showing and ShowWanted (never activates).
    void ShowingChanged();
    // The modal resize loop of the floating window (edge 0 left, 1 right,
    // 2 top, 3 top-left, 4 top-right, 5 bottom, 6 bottom-left,
    // 7 bottom-right), from a press at the screen point; pointer moves are
    // taken from the messages' own positions.
    void RunResizeLoop(int Edge, POINT PressScreen);
    int FloatingHitTest(POINT Window);

    void WndProc(classlib::TMessage& Message) override;

protected:
    void CreateParams(classlib::TCreateParams& Params) override;
    void Notification(classlib::TComponent* AComponent, classlib::TOperation Operation) override;

private:
    bool closePressed_ = false;
};

// The outermost form among the control's parents; for a floating tool
// window, the form it belongs to. MbFindOwningFormOrRaise raises
// EInvalidOperation "Control '%s' has no parent window" when there is none.
classlib::TCustomForm* MbFindOwningForm(classlib::TControl* Control);
classlib::TCustomForm* MbFindOwningFormOrRaise(classlib::TControl* Control);
// Among the thread's top-level windows, skipping Excluded and every
// invisible or disabled one: the first without WS_EX_TOPMOST, else the
// first topmost one, else none.
HWND MbFindActivatableWindow(HWND Excluded);
// Tracks a button in a non-client area: pushed while the pointer is inside
// Screen; answers whether it was released inside.
bool MbTrackButton(HWND Wnd, const RECT& Screen, const classlib::TEvent<void(bool)>& SetPushed);
// What a modal mouse loop reports to its caller; every member may be empty.
struct TMbMouseLoop {
    // The pointer moved to the screen point.
    std::function<void(POINT)> OnMove;
    // WM_KEYDOWN or WM_KEYUP; answers true to end the loop (cancelled).
    std::function<bool(const MSG&)> OnKey;
    // Asked before each message; false ends the loop (cancelled), e.g. when
    // a handler destroyed what the loop works on.
    std::function<bool()> Going;
};
// Runs the messages of the thread while Wnd holds the mouse capture (the
// caller takes it before and gives it back after). Keys, characters and
// the right and middle buttons are swallowed; a left button press or
// WM_QUIT (posted again) cancels; other messages are dispatched. Answers
// whether the left button was released, with its screen point in
// ReleasedAt when given.
bool MbRunMouseLoop(HWND Wnd, const TMbMouseLoop& Loop, POINT* ReleasedAt = nullptr);
// The floating windows of the calling thread.
const std::vector<TMbCustomDockableWindow*>& MbFloatingList();

// The drag loop's pieces, exposed for their own tests: the row a drop at
// Offset (across the dock) chooses among rows of the given extents
// (Full: the row holds a full-size window), whether that is a new row
// before it; a row index past the last means a new last row.
struct TMbRowExtent {
    int Size;
    bool FullSize;
};
int MbRowFromOffset(const std::vector<TMbRowExtent>& Rows, int Offset, bool BarFullSize, bool& NewRow);
// Inverts a frame of the thickness (drawing it twice erases it); either
// rectangle may be null.
void MbDrawOutline(HDC DC, const RECT* Old, const RECT* New, int Thickness);

}  // namespace toolbar
