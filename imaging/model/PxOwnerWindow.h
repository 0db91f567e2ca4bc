// The window that dialogs and message boxes of a component are owned by.
#pragma once

#include <windows.h>

namespace classlib {
class TComponent;
}

namespace imaging {

// The window handle of the first windowed control (classlib::TWinControl)
// in the owner chain of Component; the chain starts with Component itself,
// then its owner, the owner's owner and so on. 0 when the chain holds no
// windowed control or when the first one has no window yet: no window is
// created here. Main thread only (like every control).
HWND PxFindOwnerWindow(classlib::TComponent* Component);

}  // namespace imaging
