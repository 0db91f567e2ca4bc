// Visual controls: the base of everything shown on screen.
//
// TControl is a rectangle in its parent's client area with bounds, colour,
// font, visibility and mouse events; TGraphicControl has no window of its own
// and paints on its parent's DC; TWinControl owns a window, created on demand,
// and holds the child controls; TCustomControl is a window with a canvas.
//
// Ownership follows the component owners: whoever owns a control (TComponent
// owner) deletes it. A parent only lists its children: when a control is
// deleted it leaves its parent's list; when a parent is deleted, the children
// it does not own lose their window handles and their parent, and survive.
//
// Messages: every message of a control goes through the virtual WndProc
// (Perform calls it directly); WndProc routes mouse messages and hands the
// rest to Dispatch, which decodes the known messages into typed virtual
// handlers and passes the others to DefaultHandler (DefWindowProcW for a
// window, nothing for a graphic control). A control may be deleted from any
// of its own handlers or events (e.g. OnClick): the dispatch code does not
// touch the object once it is gone.
//
// Hints: the mouse messages a control's WndProc receives go to the
// application's hint tracking (Forms.h): a press or release cancels the
// hint, a move starts or moves it and sets the status hint (the
// application's Hint) to the long hint of the control under the pointer;
// leaving the program's windows clears both.
//
// Layout: a child with Align other than alNone is placed by its parent
// (AlignControls) whenever the parent's client area, the child's bounds, its
// visibility or the set of children changes: the client area is cut in child
// order, first by the top and bottom children (full width, their own
// height), then by the left and right ones (remaining height, their own
// width); client children fill what is left.
//
// Keyboard: WM_KEYDOWN/WM_SYSKEYDOWN, WM_KEYUP/WM_SYSKEYUP and WM_CHAR of a
// window go to KeyDown/KeyUp/KeyPress (OnKeyDown/OnKeyUp/OnKeyPress) with a
// modifiable key; a key set to 0 is consumed (no default handling), a
// changed character is what the default handling receives. When the
// topmost window control of the chain asks for key preview (a form with
// KeyPreview) it sees the key before the control. A Tab key that neither
// consumes nor the window wants (WM_GETDLGCODE) moves the focus to the next
// control of the topmost control's tab order (Shift+Tab: the previous).
//
// Exceptions raised by handlers never cross the system's frames: the shared
// window procedure catches them, hands them to the hook set with
// SetWindowExceptionHook (the application object installs one) and gives the
// message the default handling.
//
// Threads: controls belong to the thread that creates their windows (the
// main thread); none of this is thread-safe.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Component.h"
#include "classlib/Events.h"
#include "classlib/Graphics.h"
#include "classlib/WinHandles.h"

namespace classlib {

class TControl;
class TWinControl;

// A window message with its result; fields are pointer-sized where the
// message parameters are.
struct TMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

enum TMouseButton { mbLeft, mbRight, mbMiddle };

// Placement of a child in its parent's client area.
enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

// Control messages of the class library (private message range).
constexpr UINT CM_MOUSEENTER = 0xB013;
constexpr UINT CM_MOUSELEAVE = 0xB014;
// Sent to a dock site when a docked client changed: WParam is the message
// of the client (CM_VISIBLECHANGED with LParam the new visibility, or
// WM_SETTEXT with LParam a const std::wstring* of the new text).
constexpr UINT CM_DOCKNOTIFICATION = 0xB040;
constexpr UINT CM_VISIBLECHANGED = 0xB041;

// Dragging and docking (Docking.h holds the drag objects, the dock manager
// and the floating host). A drag starts with BeginDrag (or a left press on
// a control with DragMode dmAutomatic) and ends with the button release
// (drop), Esc or the loss of the capture (cancel). DragKind dkDrag offers
// the control to the controls under the pointer (DragOver, DragDrop with
// the dragged control as Source); dkDock offers it to the dock sites under
// the pointer, docks it into the one that accepts, or floats it in a host
// window of its own when it is dropped elsewhere.
enum TDragMode { dmManual, dmAutomatic };
enum TDragKind { dkDrag, dkDock };
enum TDragState { dsDragEnter, dsDragLeave, dsDragMove };
class TDragDockObject;
class TDockManager;
// Offered to the topmost control, which passes them on to its window
// children until one answers non-zero: CM_DIALOGKEY for Alt and Esc key
// presses (WParam the key), CM_DIALOGCHAR for Alt+character (WParam the
// character; graphic children such as labels are asked too, after the
// window children). A non-zero answer consumes the key.
constexpr UINT CM_DIALOGKEY = 0xB032;
constexpr UINT CM_DIALOGCHAR = 0xB033;
// Changes of a window control's list of children, sent to it with WParam
// the child (a TControl*, possibly half destroyed on removal: compare it,
// do not call it). CM_CONTROLCHANGE: LParam 1 after the child was
// inserted, 0 before it is removed. CM_CONTROLLISTCHANGE: LParam 1 before
// the child is inserted, 0 after it was removed; a window control passes
// it on to its own parent, so containers hear of changes deep inside.
// Neither is sent to a control that is being destroyed.
constexpr UINT CM_CONTROLLISTCHANGE = 0xB02C;
constexpr UINT CM_CONTROLCHANGE = 0xB036;

// The sides of its parent's client area a control keeps its distances to
// when the parent is resized (bit flags). Left and right (top and bottom)
// together stretch the control; neither keeps its centre at the same
// proportion. A control with Align other than alNone is placed by the
// alignment instead.
using TAnchors = unsigned;
constexpr TAnchors akLeft = 0x01;
constexpr TAnchors akTop = 0x02;
constexpr TAnchors akRight = 0x04;
constexpr TAnchors akBottom = 0x08;
constexpr TAnchors kDefaultAnchors = akLeft | akTop;

// Size limits of a control; 0 means no limit. A top-level window is also
// kept within them when the user resizes it.
struct TSizeConstraints {
    int MinWidth = 0;
    int MinHeight = 0;
    int MaxWidth = 0;
    int MaxHeight = 0;
};

// Mouse cursors: the negative ids are the system's cursors; positive ids are
// free for cursors a program registers with SetCursorHandle.
using TCursor = int;
constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSize = -22;
constexpr TCursor crSizeNESW = -6;
constexpr TCursor crSizeNS = -7;
constexpr TCursor crSizeNWSE = -8;
constexpr TCursor crSizeWE = -9;
constexpr TCursor crUpArrow = -10;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crNo = -18;
constexpr TCursor crAppStart = -19;
constexpr TCursor crHelp = -20;
constexpr TCursor crHandPoint = -21;
constexpr TCursor crSizeAll = -22;

// The cursor handle of an id: a system cursor for the built-in ids, the
// registered handle for others, the arrow for an unknown id; crNone gives
// nullptr (no cursor). Handles are shared, never destroyed by the caller.
HCURSOR GetCursorHandle(TCursor Cursor);
// Registers (or, with nullptr, removes) the cursor of a program id; the
// handle stays the caller's (cursors loaded from resources need no freeing).
void SetCursorHandle(TCursor Cursor, HCURSOR Handle);
// The cursor shown over every window of the class library instead of the
// controls' own cursors; crDefault: none (the controls' cursors apply).
TCursor GetOverrideCursor();
void SetOverrideCursor(TCursor Cursor);

// Called inside the catch block of an exception that a window message
// handler let escape (std::current_exception is the exception); nullptr
// restores the default (the message goes to the debugger output). Sender
// is nullptr: the control may be gone.
using TWindowExceptionHook = void (*)(TObject* Sender);
void SetWindowExceptionHook(TWindowExceptionHook Hook);
TWindowExceptionHook GetWindowExceptionHook();

// Shift state of keys and mouse buttons (bit flags).
using TShiftState = unsigned;
constexpr TShiftState ssShift = 0x01;
constexpr TShiftState ssAlt = 0x02;
constexpr TShiftState ssCtrl = 0x04;
constexpr TShiftState ssLeft = 0x08;
constexpr TShiftState ssRight = 0x10;
constexpr TShiftState ssMiddle = 0x20;
constexpr TShiftState ssDouble = 0x40;

using TMouseEvent = TEvent<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = TEvent<void(TObject* Sender, TShiftState Shift, int X, int Y)>;
// Key is a virtual-key code; setting it to 0 consumes the key.
using TKeyEvent = TEvent<void(TObject* Sender, WORD& Key, TShiftState Shift)>;
// Key is the character; setting it to 0 consumes it, another value replaces it.
using TKeyPressEvent = TEvent<void(TObject* Sender, wchar_t& Key)>;
// Source is the dragged control; X, Y in the target's client coordinates.
using TDragOverEvent =
    TEvent<void(TObject* Sender, TObject* Source, int X, int Y, TDragState State, bool& Accept)>;
using TDragDropEvent = TEvent<void(TObject* Sender, TObject* Source, int X, int Y)>;
// Target is the control (or dock site) dropped on, nullptr when none.
using TEndDragEvent = TEvent<void(TObject* Sender, TObject* Target, int X, int Y)>;
using TDockOverEvent =
    TEvent<void(TObject* Sender, TDragDockObject* Source, int X, int Y, TDragState State, bool& Accept)>;
using TDockDropEvent = TEvent<void(TObject* Sender, TDragDockObject* Source, int X, int Y)>;
// InfluenceRect (screen) is where the site takes the client; CanDock starts
// true.
using TGetSiteInfoEvent = TEvent<void(TObject* Sender, TControl* DockClient, RECT& InfluenceRect, POINT MousePos,
                                      bool& CanDock)>;
using TUnDockEvent = TEvent<void(TObject* Sender, TControl* Client, TWinControl* NewTarget, bool& Allow)>;

// ControlStyle flags: what a control class does.
using TControlStyle = unsigned;
constexpr TControlStyle csAcceptsControls = 0x01;  // may be the parent of controls
constexpr TControlStyle csCaptureMouse = 0x02;     // keeps the mouse from button down to up
constexpr TControlStyle csClickEvents = 0x04;      // a left press and release inside is a click
constexpr TControlStyle csOpaque = 0x08;           // paints its whole rectangle
constexpr TControlStyle csActionClient = 0x10;     // refreshes actions at idle (InitiateAction)

// ControlState flags: what a control is doing now.
using TControlState = unsigned;
constexpr TControlState csLButtonDown = 0x01;
constexpr TControlState csClicked = 0x02;
constexpr TControlState csCreating = 0x04;

// The shift state of MK_xxx flags of a mouse message, plus the Alt key.
TShiftState MouseKeysToShiftState(WPARAM Keys);
// The shift state of the keyboard now (Shift, Ctrl, Alt and mouse buttons).
TShiftState KeyboardStateToShiftState();

class TControl : public TComponent {
public:
    explicit TControl(TComponent* AOwner);
    ~TControl() override;
    std::wstring ClassName() const override { return L"TControl"; }

    TWinControl* GetParent() const { return parent_; }
    // Moves the control into Value's list of controls (removing it from the
    // previous parent's); nullptr removes it. A control cannot be its own
    // parent or the parent of one of its parents (EInvalidOperation).
    virtual void SetParent(TWinControl* Value);

    int GetLeft() const { return left_; }
    int GetTop() const { return top_; }
    int GetWidth() const { return width_; }
    int GetHeight() const { return height_; }
    void SetLeft(int Value) { SetBounds(Value, top_, width_, height_); }
    void SetTop(int Value) { SetBounds(left_, Value, width_, height_); }
    void SetWidth(int Value) { SetBounds(left_, top_, Value, height_); }
    void SetHeight(int Value) { SetBounds(left_, top_, width_, Value); }
    // Position in the parent's client area and size; a window is moved with
    // it, a graphic control has its old and new rectangles repainted.
    virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
    RECT GetBoundsRect() const { return RECT{left_, top_, left_ + width_, top_ + height_}; }
    void SetBoundsRect(const RECT& R) { SetBounds(R.left, R.top, R.right - R.left, R.bottom - R.top); }
    // The client area in client coordinates (0, 0, ClientWidth, ClientHeight).
    virtual RECT GetClientRect() const;
    int GetClientWidth() const;
    int GetClientHeight() const;
    void SetClientWidth(int Value);
    void SetClientHeight(int Value);

    bool GetVisible() const { return visible_; }
    virtual void SetVisible(bool Value);
    bool GetEnabled() const { return enabled_; }
    virtual void SetEnabled(bool Value);
    // Visible and every parent showing (a window control: its window too).
    virtual bool Showing() const;

    TColor GetColor() const { return color_; }
    void SetColor(TColor Value);
    // The control's font (owned); changes repaint the control.
    TFont* GetFont() const { return font_.get(); }
    void SetFont(const TFont* Value) { font_->Assign(Value); }

    TControlStyle ControlStyle = csCaptureMouse | csClickEvents;
    TControlState ControlState = 0;

    // Placement by the parent (see the header comment); setting it realigns
    // the parent's children.
    TAlign GetAlign() const { return align_; }
    void SetAlign(TAlign Value);
    // Distances kept to the parent's sides (see TAnchors); they are taken
    // from the bounds whenever the control is placed or re-parented, or
    // the anchors are set.
    TAnchors GetAnchors() const { return anchors_; }
    void SetAnchors(TAnchors Value);
    // SetBounds keeps the size within the constraints; setting them applies
    // them to the current size.
    const TSizeConstraints& GetConstraints() const { return constraints_; }
    void SetConstraints(const TSizeConstraints& Value);
    // The cursor over the control (crDefault: the parent's, or the arrow).
    TCursor GetCursor() const { return cursor_; }
    void SetCursor(TCursor Value) { cursor_ = Value; }
    // "short|long": the short part shows in the hint window, the long part
    // is the status hint (Hints.h).
    std::wstring Hint;
    // Whether the pointer resting on the control shows its hint. With
    // ParentShowHint (the default) the value follows the parent's, now and
    // whenever the parent's changes; setting ShowHint clears ParentShowHint.
    bool GetShowHint() const { return showHint_; }
    void SetShowHint(bool Value);
    bool GetParentShowHint() const { return parentShowHint_; }
    void SetParentShowHint(bool Value);

    // Dragging and docking (see the comment at TDragMode).
    TDragKind DragKind = dkDrag;
    TDragMode DragMode = dmManual;
    // Starts a drag of this control; not Immediate: only once the pointer
    // moved more than Threshold pixels (-1: the default, 5). Nothing when a
    // drag is under way.
    void BeginDrag(bool Immediate, int Threshold = -1);
    // Ends this control's drag: Drop true drops at the pointer, false cancels.
    void EndDrag(bool Drop);
    // A drag of this control was begun and has not ended.
    bool Dragging() const;
    // A drag of Source over this control (plain drags): Accept starts as
    // OnDragOver's presence; OnDragOver may change it.
    virtual void DragOver(TObject* Source, int X, int Y, TDragState State, bool& Accept);
    // Source was dropped on this control: OnDragDrop.
    virtual void DragDrop(TObject* Source, int X, int Y);
    // The dock site the control is docked in (nullptr when none); its
    // floating host window counts as one.
    TWinControl* GetHostDockSite() const { return hostDockSite_; }
    // Docked in the floating host window the class library made for it.
    bool Floating() const;
    // Docks into NewDockSite as a drop there would (its DockDrop: DockClient
    // and OnDockDrop); nullptr floats the control at its current place. The
    // old site may refuse through OnUnDock (nothing happens then).
    void ManualDock(TWinControl* NewDockSite, TControl* DropControl = nullptr, TAlign ControlSide = alNone);
    // The docking step itself, for DockClient: leaves the old site (which
    // may refuse), joins NewDockSite (DoAddDockClient, the dock manager).
    void DockInto(TWinControl* NewDockSite, TControl* DropControl, TAlign ControlSide);
    // Floats the control in a host window of its own at ScreenRect (the
    // host's client area); the host goes when the control leaves it or is
    // deleted.
    void ManualFloat(const RECT& ScreenRect);
    TDragOverEvent OnDragOver;
    TDragDropEvent OnDragDrop;
    TNotifyEvent OnStartDrag;
    TEndDragEvent OnEndDrag;
    TNotifyEvent OnStartDock;
    TEndDragEvent OnEndDock;

    // Client coordinates of this control <-> screen coordinates. A control
    // without a showing window chain maps through its parents' positions.
    POINT ClientToScreen(POINT P) const;
    POINT ScreenToClient(POINT P) const;
    // The offset of this control's client origin in its nearest window's
    // client area (zero for a window control).
    POINT ClientOrigin() const;

    // Called at idle (TCustomForm::UpdateActions) on the visible controls
    // with csActionClient: the place to let actions refresh their state.
    // Nothing here.
    virtual void InitiateAction() {}

    // Marks the control's rectangle for repainting.
    virtual void Invalidate();
    // Paints what is marked for repainting now.
    virtual void Update();
    // Invalidate then Update.
    virtual void Repaint();

    // Sends a message straight to WndProc and returns its result.
    LRESULT Perform(UINT Msg, WPARAM WParam, LPARAM LParam);
    // The message entry of the control; overrides call the base for what
    // they do not handle.
    virtual void WndProc(TMessage& Message);
    // Decodes known messages into the typed handlers below; others go to
    // DefaultHandler.
    virtual void Dispatch(TMessage& Message);
    virtual void DefaultHandler(TMessage& Message);

    TNotifyEvent OnClick;
    // A double click of the left button (before the press's OnMouseDown).
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;
    // CM_MOUSEENTER / CM_MOUSELEAVE: the mouse came over / left the control.
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;
    // After the bounds changed (and the children were realigned).
    TNotifyEvent OnResize;

protected:
    virtual void Click();
    virtual void DblClick();
    virtual void MouseEnter();
    virtual void MouseLeave();
    virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void MouseMove(TShiftState Shift, int X, int Y);
    virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    // Called after the bounds changed (also from the window's WM_SIZE/WM_MOVE);
    // fires OnResize (overrides call the base).
    virtual void Resize();
    virtual void FontChanged(TObject* Sender);
    // After Color changed to a different value; here the control is
    // repainted (overrides call the base).
    virtual void ColorChanged();
    // After ShowHint changed (set, or followed from the parent); a window
    // control passes the value on to its children with ParentShowHint
    // (overrides call the base).
    virtual void ShowHintChanged() {}
    // Mouse capture for a button press (the parent window's capture for a
    // graphic control).
    virtual void CaptureMouse();
    virtual void ReleaseMouse();

    // Set to false when the object is destroyed: dispatch code copies it
    // before calling out and stops when it turns false.
    std::shared_ptr<bool> AliveToken() const { return alive_; }
    // Sets the bounds fields without moving anything (window messages).
    void UpdateBoundsFields(int ALeft, int ATop, int AWidth, int AHeight);

    // Drag and dock notifications of the source (fire the events).
    virtual void DoStartDrag();
    virtual void DoEndDrag(TObject* Target, int X, int Y);

private:
    friend class TWinControl;
    friend class TAutomationAccess;  // Automation.cpp: clicks a named control
    friend class TDragEngine;        // Docking.cpp
    void MouseButtonDown(TMessage& Message, TMouseButton Button, bool Double);
    // Leaves the dock site the control is docked in (on deletion).
    void LeaveDockSite();
    void MouseButtonUp(TMessage& Message, TMouseButton Button);
    void MouseMoved(TMessage& Message);
    void InvalidateInParent(const RECT& R);
    // Realigns this control's children (a window control), asks the parent
    // to realign an aligned control, then Resize.
    void BoundsChanged();
    void RequestParentAlign();
    void ConstrainSize(int& AWidth, int& AHeight) const;
    void ApplyShowHint(bool Value);
    // Takes the distances to the parent's sides from the present bounds.
    void UpdateAnchorRules();
    // Places the control by its anchors in a parent client area of the size.
    void ApplyAnchors(int ParentWidth, int ParentHeight);

    TWinControl* parent_ = nullptr;
    bool showHint_ = false;
    bool parentShowHint_ = true;
    TAlign align_ = alNone;
    TAnchors anchors_ = kDefaultAnchors;
    // Distances to the left, top, right and bottom sides, taken when the
    // parent's client area had anchorParent_'s size (cx < 0: not taken).
    RECT anchorDist_{};
    SIZE anchorParent_{-1, -1};
    // The control is being placed by its anchors.
    bool anchoring_ = false;
    TCursor cursor_ = crDefault;
    TSizeConstraints constraints_;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    bool visible_ = true;
    bool enabled_ = true;
    TColor color_ = clBtnFace;
    std::unique_ptr<TFont> font_;
    std::shared_ptr<bool> alive_;
    TWinControl* hostDockSite_ = nullptr;
    // The floating host window made by ManualFloat (owned).
    TWinControl* floatHost_ = nullptr;
};

// What CreateWnd passes to CreateWindowExW; CreateParams fills it.
struct TCreateParams {
    std::wstring Caption;
    DWORD Style = 0;
    DWORD ExStyle = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
    HWND WndParent = nullptr;
    // Registered once per name with the shared window procedure.
    std::wstring WinClassName;
    UINT WindowClassStyle = CS_DBLCLKS;
    HCURSOR Cursor = nullptr;  // nullptr: the arrow
};

class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* AOwner);
    ~TWinControl() override;
    std::wstring ClassName() const override { return L"TWinControl"; }

    // The window, created (with the windows of its parents) when there is
    // none. Creation failure raises EOSError; a child control without a
    // parent window raises EInvalidOperation "Control '<name>' has no parent
    // window".
    HWND GetHandle();
    bool HandleAllocated() const { return handle_ != nullptr; }
    void HandleNeeded() { GetHandle(); }
    // Destroys the window (and the windows of the child controls); the
    // object stays and makes a new window when next asked.
    void DestroyHandle();
    // Destroys the window and makes it again if it existed.
    void RecreateWnd();

    // A window of another program part to create this control's window in,
    // for a control without a class-library parent.
    HWND GetParentWindow() const { return parentWindow_; }
    void SetParentWindow(HWND Value);

    void SetParent(TWinControl* Value) override;
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    RECT GetClientRect() const override;
    void SetVisible(bool Value) override;
    void SetEnabled(bool Value) override;
    bool Showing() const override;

    // Child controls in z-order (the last is on top); WinControls only the
    // windowed ones.
    int GetControlCount() const { return static_cast<int>(controls_.size()); }
    TControl* GetControl(int Index) const;
    int GetWinControlCount() const { return static_cast<int>(winControls_.size()); }
    TWinControl* GetWinControl(int Index) const;
    // The visible child whose rectangle holds Pos (client coordinates); the
    // topmost wins. AllowWinControls false looks at graphic controls only.
    TControl* ControlAtPos(POINT Pos, bool AllowDisabled = false, bool AllowWinControls = false) const;
    bool ContainsControl(const TControl* Control) const;

    // Focus: SetFocus raises EInvalidOperation when CanFocus is false (the
    // control or a parent is hidden or disabled).
    void SetFocus();
    bool Focused() const;
    bool CanFocus() const;

    // Tab order: TabOrder is the position among the parent's window
    // children (-1 without a parent); setting it moves the control, values
    // out of range put it last. TabStop: whether SelectNext stops here;
    // until set it is what the control's window style says (WS_TABSTOP of
    // CreateParams: buttons, check boxes, edits, lists, boxes).
    bool GetTabStop() const;
    void SetTabStop(bool Value)
    {
        tabStop_ = Value;
        tabStopSet_ = true;
    }
    int GetTabOrder() const;
    void SetTabOrder(int Value);
    // The window controls inside this one in tab order, depth first
    // (appended to List). Overrides may leave out controls they manage.
    virtual void GetTabOrderList(std::vector<TWinControl*>& List) const;
    // The control after (before, GoForward false) CurControl in the tab
    // order that can take the focus (and has TabStop when CheckTabStop);
    // wraps around; nullptr when none.
    TWinControl* FindNextControl(TWinControl* CurControl, bool GoForward, bool CheckTabStop) const;
    // Focuses FindNextControl(...); false when there was none.
    bool SelectNext(TWinControl* CurControl, bool GoForward, bool CheckTabStop);

    // Places the aligned children in the client area (see the header comment).
    void AlignControls();
    // The area the aligned children share: the client rectangle, narrowed by
    // controls that keep a band of their own (borders inside the frame).
    virtual void AdjustClientRect(RECT& Rect) { (void)Rect; }

    // Brings Control (a child, or this control itself) into view: the base
    // asks the parent to show this control; containers that hide their
    // children (pages, panes) make the right one visible first.
    virtual void ShowControl(TControl* Control);

    // Docking (see the comment at TDragMode). A dock site with
    // UseDockManager places its docked clients through its dock manager
    // (owned, made by CreateDockManager on first need).
    bool GetDockSite() const { return dockSite_; }
    virtual void SetDockSite(bool Value);
    bool GetUseDockManager() const { return useDockManager_; }
    void SetUseDockManager(bool Value);
    TDockManager* GetDockManager() const { return dockManager_; }
    int GetDockClientCount() const { return static_cast<int>(dockClients_.size()); }
    TControl* GetDockClient(int Index) const { return dockClients_[static_cast<size_t>(Index)]; }
    // A docking drag over the site: Accept starts true; OnDockOver.
    virtual void DockOver(TDragDockObject* Source, int X, int Y, TDragState State, bool& Accept);
    // The client was dropped here: DockClient, then OnDockDrop.
    virtual void DockDrop(TDragDockObject* Source, int X, int Y);
    // Whether the site takes Client at MousePos (screen): CanDock starts
    // true; OnGetSiteInfo.
    virtual void GetSiteInfo(TControl* Client, RECT& InfluenceRect, POINT MousePos, bool& CanDock);
    // The client is about to leave for NewTarget: OnUnDock may refuse.
    virtual bool DoUnDock(TWinControl* NewTarget, TControl* Client);
    // Docks the dragged control here (the default: ManualDock).
    virtual void DockClient(TDragDockObject* Source, POINT MousePos);
    // Client is leaving for NewTarget (after DoUnDock allowed it).
    virtual void UndockClient(TWinControl* NewTarget, TControl* Client) { (void)NewTarget, (void)Client; }
    // Makes the client a child of the site (at ARect in client coordinates,
    // unless the dock manager places it).
    virtual void DoAddDockClient(TControl* Client, const RECT& ARect);
    // The client has left the site.
    virtual void DoRemoveDockClient(TControl* Client) { (void)Client; }
    // A docked client changed (CM_DOCKNOTIFICATION); nothing by default.
    virtual void DockNotification(TControl* Client, UINT ClientMsg, LPARAM Param)
    {
        (void)Client, (void)ClientMsg, (void)Param;
    }
    // Called on the parents of the focused control (nearest first) for Tab
    // keys before the focus moves; true takes the key.
    virtual bool DialogKey(WORD Key, TShiftState Shift) { (void)Key, (void)Shift; return false; }
    TDockOverEvent OnDockOver;
    TDockDropEvent OnDockDrop;
    TGetSiteInfoEvent OnGetSiteInfo;
    TUnDockEvent OnUnDock;

    TKeyEvent OnKeyDown;
    TKeyEvent OnKeyUp;
    TKeyPressEvent OnKeyPress;
    // The window got / lost the keyboard focus.
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;

    void Invalidate() override;
    void Update() override;
    void Repaint() override;

    // A paint the system asks for (WM_PAINT without a DC) is drawn into a
    // bitmap first: the background (WM_ERASEBKGND with the bitmap's DC as
    // both parameters), then the paint (WM_PAINT with that DC, which a
    // system control's own window procedure receives), then one copy to the
    // window, so that the window never shows a half-drawn picture. While it
    // is on, an erase with any other DC (the one BeginPaint sends) draws
    // nothing. Off at creation; changing it repaints.
    bool GetDoubleBuffered() const { return doubleBuffered_; }
    void SetDoubleBuffered(bool Value);

    void WndProc(TMessage& Message) override;
    void Dispatch(TMessage& Message) override;
    void DefaultHandler(TMessage& Message) override;

    // Paints the graphic child controls inside their rectangles on DC (the
    // client DC of this window); First starts after that control.
    void PaintControls(HDC DC, TControl* First = nullptr);

protected:
    virtual void CreateParams(TCreateParams& Params);
    virtual void CreateWnd();
    virtual void DestroyWnd();
    // Called once the window exists / before it goes.
    virtual void CreateHandleDone() {}
    // WM_PAINT with WParam DC (0: BeginPaint here); paints the window
    // through PaintWindow, then the graphic children.
    virtual void PaintHandler(TMessage& Message);
    // Paints the window's own content on DC.
    virtual void PaintWindow(HDC DC);
    // The double-buffered paint of a WM_PAINT without a DC (see
    // DoubleBuffered); Message.Result 0.
    void PaintBuffered(TMessage& Message);
    virtual void EraseBackground(TMessage& Message);
    virtual void WMSize(TMessage& Message);
    virtual void WMMove(TMessage& Message);
    virtual void WMDestroy(TMessage& Message);
    virtual void WMNCDestroy(TMessage& Message);
    virtual void KeyDown(WORD& Key, TShiftState Shift);
    virtual void KeyUp(WORD& Key, TShiftState Shift);
    virtual void KeyPress(wchar_t& Key);
    virtual void DoEnter();
    virtual void DoExit();
    // A topmost control that returns true sees the keys of the controls
    // inside it first (forms with KeyPreview).
    virtual bool WantsKeyPreview() const { return false; }
    // Called on the topmost control of the chain when Control (inside it)
    // got the focus.
    virtual void FocusChanged(TWinControl* Control) { (void)Control; }
    // Makes the dock manager when the control is a dock site with
    // UseDockManager and has none (a TDockTree by default).
    virtual void CreateDockManager();
    // Takes Value (owned) as the dock manager, deleting the previous one.
    void AdoptDockManager(TDockManager* Value);

    void CaptureMouse() override;
    void ReleaseMouse() override;
    void ShowHintChanged() override;

private:
    friend class TControl;
    friend class TDragEngine;
    friend TWinControl* FindControl(HWND Wnd);
    static LRESULT CALLBACK SharedWindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
    void InsertControl(TControl* Control);
    void RemoveControl(TControl* Control);
    void RouteMouseToChild(TMessage& Message, bool& Handled);
    void ReleaseChildren();
    void UpdateWindowPos();
    TWinControl* TopControl();
    // Key handling with preview; true when the key was consumed.
    bool KeyDownWithPreview(WORD& Key, TShiftState Shift, bool Up);
    bool KeyPressWithPreview(wchar_t& Key);
    void TrackMouse(TMessage& Message);
    void MouseLeft();
    void WMSetCursor(TMessage& Message);

    HWND handle_ = nullptr;
    HWND parentWindow_ = nullptr;
    std::vector<TControl*> controls_;
    std::vector<TWinControl*> winControls_;
    // The graphic child that holds the mouse between button down and up.
    TControl* captureControl_ = nullptr;
    bool destroyingHandle_ = false;
    bool aligning_ = false;
    bool tabStop_ = false;
    bool tabStopSet_ = false;
    bool doubleBuffered_ = false;
    // Window children in tab order.
    std::vector<TWinControl*> tabList_;
    // Mouse tracking for CM_MOUSEENTER/CM_MOUSELEAVE: the window itself and
    // the graphic child under the mouse.
    bool mouseInside_ = false;
    TControl* mouseControl_ = nullptr;
    bool dockSite_ = false;
    bool useDockManager_ = false;
    TDockManager* dockManager_ = nullptr;
    std::vector<TControl*> dockClients_;
};

// The class-library control of a window, or nullptr for windows of others.
TWinControl* FindControl(HWND Wnd);
// The control under a screen point: the class-library window there (or the
// nearest class-library parent of a foreign child window), or its visible
// graphic child at the point; nullptr when none. Hint windows do not count.
TControl* FindDragTarget(POINT ScreenPos, bool AllowDisabled);

// A canvas on a control's device context. For a window control the DC is
// the window's client DC; for a graphic control it is the parent window's
// DC with the origin at the control's top-left and clipped to its rectangle.
// The DC is fetched on first drawing and released by FreeHandle (or when
// another DC is set).
class TControlCanvas : public TCanvas {
public:
    TControlCanvas() = default;
    ~TControlCanvas() override;
    std::wstring ClassName() const override { return L"TControlCanvas"; }

    TControl* GetControl() const { return control_; }
    void SetControl(TControl* Value);
    // Releases a DC the canvas fetched itself (a DC set from outside is only
    // forgotten).
    void FreeHandle();
    // Uses DC (not owned) until FreeHandle; the previous own DC is released.
    void SetPaintDC(HDC DC);

protected:
    void CreateHandle() override;

private:
    TControl* control_ = nullptr;
    std::unique_ptr<TWindowDC> windowDC_;
};

class TGraphicControl : public TControl {
public:
    explicit TGraphicControl(TComponent* AOwner);
    ~TGraphicControl() override;
    std::wstring ClassName() const override { return L"TGraphicControl"; }

    TCanvas* GetCanvas() const { return canvas_.get(); }
    void Dispatch(TMessage& Message) override;

protected:
    // Draws the control on Canvas (origin at the control's top-left).
    virtual void Paint() {}

private:
    std::unique_ptr<TControlCanvas> canvas_;
};

class TCustomControl : public TWinControl {
public:
    explicit TCustomControl(TComponent* AOwner);
    ~TCustomControl() override;
    std::wstring ClassName() const override { return L"TCustomControl"; }

    TCanvas* GetCanvas() const { return canvas_.get(); }

protected:
    // Draws the control on Canvas, which holds the paint DC.
    virtual void Paint() {}
    void PaintWindow(HDC DC) override;
    void DestroyWnd() override;

private:
    std::unique_ptr<TControlCanvas> canvas_;
};

}  // namespace classlib
