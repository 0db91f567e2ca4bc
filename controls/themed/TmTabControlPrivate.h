// Helpers shared by the files that implement the tab control. Internal to
// the themed controls.
#pragma once

#include <windows.h>

#include "classlib/Graphics.h"
#include "controls/themed/TmTabControl.h"

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

// Selects the tab font into the paint bitmap for one scope, bold when
// asked; leaving restores the bitmap's device context and the font's style.
// A failed selection leaves the style as it was set.
class TTmCustomTabControl::TTabFontScope {
public:
    TTabFontScope(TTmCustomTabControl& Control, bool Bold) : control_(Control), style_(Control.drawFont_->GetStyle())
    {
        if (Bold) control_.drawFont_->SetStyle(style_ | classlib::fsBold);
        control_.SelectTabFont();
    }
    ~TTabFontScope()
    {
        control_.RestoreTabFont();
        control_.drawFont_->SetStyle(style_);
    }
    TTabFontScope(const TTabFontScope&) = delete;
    TTabFontScope& operator=(const TTabFontScope&) = delete;

private:
    TTmCustomTabControl& control_;
    const classlib::TFontStyles style_;
};

}  // namespace themed
