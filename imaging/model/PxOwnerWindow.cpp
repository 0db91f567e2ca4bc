#include "imaging/model/PxOwnerWindow.h"

#include "classlib/Component.h"
#include "classlib/Controls.h"

namespace imaging {

HWND PxFindOwnerWindow(classlib::TComponent* Component)
{
    for (classlib::TComponent* c = Component; c; c = c->GetOwner()) {
        if (auto* w = dynamic_cast<classlib::TWinControl*>(c))
            return w->HandleAllocated() ? w->GetHandle() : nullptr;
    }
    return nullptr;
}

}  // namespace imaging
