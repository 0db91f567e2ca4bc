// Popup menus: the base of the program's menus that pop up at a point.
//
// A control that offers a popup menu holds a TPopupMenu borrowed from the
// program (not owned; the control forgets it when it is freed) and calls
// Popup when the user asks for it. The program's menu classes derive from
// it and draw and run their own items.
#pragma once

#include <string>

#include "classlib/Component.h"

namespace classlib {

class TPopupMenu : public TComponent {
public:
    explicit TPopupMenu(TComponent* AOwner) : TComponent(AOwner) {}
    std::wstring ClassName() const override { return L"TPopupMenu"; }
    // Shows the menu at the screen point X, Y and returns when it has
    // closed; PopupComponent is the control it was shown for (nullptr when
    // shown by the program itself).
    virtual void Popup(int X, int Y) = 0;
    TComponent* PopupComponent = nullptr;
};

}  // namespace classlib
