// The platform's two-colour gradient fill of a rectangle: GradientFill of
// msimg32, looked up at run time once (the library then stays loaded for
// the life of the process). Threads: any.
#pragma once

#include <windows.h>

namespace classlib {

// Whether the platform offers the gradient fill.
bool GradientFillAvailable();
// Fills R on DC from Start to Stop (RGB values), top to bottom when
// Vertical, else left to right; false when the platform lacks the fill or
// the fill fails.
bool FillGradientRect(HDC DC, const RECT& R, COLORREF Start, COLORREF Stop, bool Vertical);

}  // namespace classlib
