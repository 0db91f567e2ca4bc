// Painting a themed control off screen, for the tests that check its pixels.
#pragma once

#include <memory>

#include "classlib/Bitmap.h"
#include "classlib/Controls.h"
#include "controls/themed/TmCommon.h"

namespace tmtest {

// Paints Control (window or graphic) into a fresh 24-bit bitmap of its size,
// filled with 0x123456 first so that what the control leaves unpainted shows.
inline std::unique_ptr<classlib::TBitmap> PaintToBitmap(classlib::TControl* Control)
{
    auto b = std::make_unique<classlib::TBitmap>();
    b->SetPixelFormat(classlib::pf24bit);
    b->SetSize(Control->GetWidth(), Control->GetHeight());
    b->GetCanvas()->GetBrush()->SetColor(0x123456);
    b->GetCanvas()->FillRect(RECT{0, 0, Control->GetWidth(), Control->GetHeight()});
    Control->Perform(WM_PAINT, reinterpret_cast<WPARAM>(b->GetCanvas()->GetHandle()), 0);
    return b;
}

inline classlib::TColor Px(classlib::TBitmap& b, int x, int y) { return b.GetCanvas()->GetPixel(x, y); }

// Paints with the classic look for its lifetime, whatever the system's theme.
struct ThemesOff {
    ThemesOff() { themed::TmForceThemesEnabled(0); }
    ~ThemesOff() { themed::TmForceThemesEnabled(-1); }
};

}  // namespace tmtest
