// Helpers shared by the files that implement the tab control. Internal to
// the themed controls.
#pragma once

#include <windows.h>

#include "classlib/Graphics.h"

namespace themed {

inline bool SameRect(const RECT& A, const RECT& B)
{
    return A.left == B.left && A.top == B.top && A.right == B.right && A.bottom == B.bottom;
}

inline void SetCanvasBrush(classlib::TCanvas* Canvas, classlib::TColor Color)
{
    Canvas->GetBrush()->SetStyle(classlib::bsSolid);
    Canvas->GetBrush()->SetColor(Color);
}

}  // namespace themed
