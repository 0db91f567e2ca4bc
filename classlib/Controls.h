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

// ControlStyle flags: what a control class does.
using TControlStyle = unsigned;
constexpr TControlStyle csAcceptsControls = 0x01;  // may be the parent of controls
constexpr TControlStyle csCaptureMouse = 0x02;     // keeps the mouse from button down to up
constexpr TControlStyle csClickEvents = 0x04;      // a left press and release inside is a click
constexpr TControlStyle csOpaque = 0x08;           // paints its whole rectangle

// ControlState flags: what a control is doing now.
using TControlState = unsigned;
constexpr TControlState csLButtonDown = 0x01;
constexpr TControlState csClicked = 0x02;
constexpr TControlState csCreating = 0x04;

// The shift state of MK_xxx flags of a mouse message, plus the Alt key.
TShiftState MouseKeysToShiftState(WPARAM Keys);

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

    // Client coordinates of this control <-> screen coordinates. A control
    // without a showing window chain maps through its parents' positions.
    POINT ClientToScreen(POINT P) const;
    POINT ScreenToClient(POINT P) const;
    // The offset of this control's client origin in its nearest window's
    // client area (zero for a window control).
    POINT ClientOrigin() const;

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
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;

protected:
    virtual void Click();
    virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void MouseMove(TShiftState Shift, int X, int Y);
    virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    // Called after the bounds changed (also from the window's WM_SIZE/WM_MOVE).
    virtual void Resize() {}
    virtual void FontChanged(TObject* Sender);
    // Mouse capture for a button press (the parent window's capture for a
    // graphic control).
    virtual void CaptureMouse();
    virtual void ReleaseMouse();

    // Set to false when the object is destroyed: dispatch code copies it
    // before calling out and stops when it turns false.
    std::shared_ptr<bool> AliveToken() const { return alive_; }
    // Sets the bounds fields without moving anything (window messages).
    void UpdateBoundsFields(int ALeft, int ATop, int AWidth, int AHeight);

private:
    friend class TWinControl;
    void MouseButtonDown(TMessage& Message, TMouseButton Button, bool Double);
    void MouseButtonUp(TMessage& Message, TMouseButton Button);
    void MouseMoved(TMessage& Message);
    void InvalidateInParent(const RECT& R);

    TWinControl* parent_ = nullptr;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    bool visible_ = true;
    bool enabled_ = true;
    TColor color_ = clBtnFace;
    std::unique_ptr<TFont> font_;
    std::shared_ptr<bool> alive_;
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

    void SetFocus();
    bool Focused() const;
    bool CanFocus() const;

    void Invalidate() override;
    void Update() override;
    void Repaint() override;

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
    virtual void EraseBackground(TMessage& Message);
    virtual void WMSize(TMessage& Message);
    virtual void WMMove(TMessage& Message);
    virtual void WMDestroy(TMessage& Message);
    virtual void WMNCDestroy(TMessage& Message);

    void CaptureMouse() override;
    void ReleaseMouse() override;

private:
    friend class TControl;
    static LRESULT CALLBACK SharedWindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
    void InsertControl(TControl* Control);
    void RemoveControl(TControl* Control);
    void RouteMouseToChild(TMessage& Message, bool& Handled);
    void ReleaseChildren();
    void UpdateWindowPos();

    HWND handle_ = nullptr;
    HWND parentWindow_ = nullptr;
    std::vector<TControl*> controls_;
    std::vector<TWinControl*> winControls_;
    // The graphic child that holds the mouse between button down and up.
    TControl* captureControl_ = nullptr;
    bool destroyingHandle_ = false;
};

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
