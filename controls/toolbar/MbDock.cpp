#include "controls/toolbar/MbDock.h"

#include <algorithm>

#include "controls/toolbar/MbToolbar.h"

namespace toolbar {

TMbDock::TMbDock(classlib::TComponent* AOwner) : classlib::TCustomControl(AOwner)
{
    SetBounds(0, 0, 200, 26);
    SetAlign(classlib::alTop);
}

void TMbDock::ArrangeToolbars()
{
    int x = 0, height = 0;
    for (int i = 0; i < GetControlCount(); ++i) {
        classlib::TControl* c = GetControl(i);
        if (!c->GetVisible()) continue;
        int h = c->GetHeight();
        if (auto* tb = dynamic_cast<TMbToolbar*>(c)) h = tb->RowHeight();
        c->SetBounds(x, 0, c->GetWidth(), h);
        x += c->GetWidth();
        height = std::max(height, h);
    }
    if (height > 0 && height != GetHeight()) SetHeight(height);
}

void TMbDock::Resize()
{
    classlib::TCustomControl::Resize();
    Invalidate();
}

void TMbDock::Paint()
{
    HDC dc = GetCanvas()->GetHandle();
    RECT r = GetClientRect();
    ::FillRect(dc, &r, ::GetSysColorBrush(COLOR_BTNFACE));
}

}  // namespace toolbar
