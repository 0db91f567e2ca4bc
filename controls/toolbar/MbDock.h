// The dock: a strip (aligned to a side of its parent) that holds toolbars
// one after another. The stand-in has no dragging or floating: it stacks its
// toolbar children in one row, left to right, and takes the height of the
// tallest. Threads: main thread only.
#pragma once

#include <string>

#include "classlib/Controls.h"

namespace toolbar {

class TMbDock : public classlib::TCustomControl {
public:
    explicit TMbDock(classlib::TComponent* AOwner);
    std::wstring ClassName() const override { return L"TMbDock"; }

    // Places the child controls in one row and sets the dock's height.
    void ArrangeToolbars();

protected:
    void Paint() override;
    void Resize() override;
};

}  // namespace toolbar
