// Dragging and docking of controls: the dock drag object, the dock manager
// interface with its default implementation (TDockTree), the floating host
// window, and the drag engine behind TControl::BeginDrag.
//
// The drag engine is one per process (one drag at a time) and runs on the
// messages of the window that holds the mouse capture: WM_MOUSEMOVE moves
// the drag, WM_LBUTTONUP drops, Esc, WM_CANCELMODE or the loss of the
// capture cancel. It keeps no pointer to a control that goes away: deleting
// the dragged control cancels its drag, deleting a target forgets it.
//
// Dock managers are owned by their dock site; a TDockTree places its
// clients one after the other (side by side in a site aligned to the top or
// bottom, else one above the other), each below (or beside) a grabber band
// that shows its caption bar, drags the client away on a press and hides it
// on a click of the close glyph. Main thread only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "classlib/Controls.h"
#include "classlib/Forms.h"

namespace classlib {

// What a docking drag carries: the dragged control and where it would go.
class TDragDockObject : public TObject {
public:
    explicit TDragDockObject(TControl* AControl) : Control(AControl) {}
    std::wstring ClassName() const override { return L"TDragDockObject"; }
    TControl* Control;
    // The pointer in screen coordinates.
    POINT DragPos{};
    // Where the control would be placed (screen coordinates); sites may
    // change it in DockOver.
    RECT DockRect{};
    TAlign DropAlign = alNone;
    TControl* DropOnControl = nullptr;
    // The site under the pointer that accepts, or nullptr (a drop floats).
    TWinControl* DragTarget = nullptr;
    bool Dropped = false;
};

// The interface a dock site's manager implements.
class TDockManager {
public:
    virtual ~TDockManager() = default;
    // Control joined the site (the site is its parent already).
    virtual void InsertControl(TControl* Control, TAlign InsertAt, TControl* DropCtl) = 0;
    // Control left the site.
    virtual void RemoveControl(TControl* Control) = 0;
    // Places the clients again.
    virtual void ResetBounds(bool Force) = 0;
    // Paints the grabbers on DC (the site's client DC).
    virtual void PaintSite(HDC DC) = 0;
    // Narrows a client's zone to the part the client itself gets.
    virtual void AdjustDockRect(TControl* Control, RECT& ARect) = 0;
    // The dock rectangle (screen) of Client dropped on the site.
    virtual void PositionDockRect(TControl* Client, TControl* DropCtl, TAlign DropAlign, RECT& DockRect) = 0;
    // A left press at P (site client coordinates): true when the manager
    // took it (grabber or close glyph).
    virtual bool MouseDown(POINT P) = 0;
    // Every message of the site passes here first (after the site handled
    // it for WM_PAINT).
    virtual void SiteMessage(TMessage& Message) { (void)Message; }
};

class TDockTree : public TObject, public TDockManager {
public:
    explicit TDockTree(TWinControl* DockSite);
    ~TDockTree() override = default;
    std::wstring ClassName() const override { return L"TDockTree"; }

    void InsertControl(TControl* Control, TAlign InsertAt, TControl* DropCtl) override;
    void RemoveControl(TControl* Control) override;
    void ResetBounds(bool Force) override;
    void PaintSite(HDC DC) override;
    void AdjustDockRect(TControl* Control, RECT& ARect) override;
    void PositionDockRect(TControl* Client, TControl* DropCtl, TAlign DropAlign, RECT& DockRect) override;
    bool MouseDown(POINT P) override;

    TWinControl* GetDockSite() const { return dockSite_; }
    int GetGrabberSize() const { return grabberSize_; }
    // The zone of a client (site client coordinates, grabber included);
    // empty when the client is not managed here.
    RECT ZoneRect(TControl* Control) const;
    // The grabber part of a zone and its close glyph.
    RECT GrabberRect(TControl* Control) const;
    RECT CloseRect(TControl* Control) const;
    // Clients are laid out side by side (true) or one above the other.
    bool HorizontalZones() const;
    int GetClientCount() const { return static_cast<int>(clients_.size()); }

protected:
    // Paints the caption bar of Control in ARect (its zone).
    virtual void PaintDockFrame(TCanvas* Canvas, TControl* Control, const RECT& ARect);
    int grabberSize_ = 12;

private:
    TWinControl* dockSite_;
    std::vector<TControl*> clients_;
};

// The window a floating control lives in: a sizeable tool window that is a
// dock site for it. Made by TControl::ManualFloat and owned by the control.
class TCustomDockForm : public TCustomForm {
public:
    explicit TCustomDockForm(TComponent* AOwner);
    std::wstring ClassName() const override { return L"TCustomDockForm"; }
    void DoAddDockClient(TControl* Client, const RECT& ARect) override;
    void DoRemoveDockClient(TControl* Client) override;
};

// The control being dragged (nullptr when none), and the dock object of a
// docking drag in progress.
TControl* DragControl();
TDragDockObject* DragDockObject();
// The default drag threshold in pixels.
constexpr int DefaultDragThreshold = 5;

}  // namespace classlib
