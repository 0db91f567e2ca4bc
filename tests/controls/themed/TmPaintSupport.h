// Painting a themed control off screen, for the tests that check its pixels,
// and the colours and rectangle checks these tests share.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "classlib/Bitmap.h"
#include "classlib/Controls.h"
#include "controls/themed/TmCommon.h"

namespace tmtest {

// Pure colours that no system colour comes near.
constexpr classlib::TColor kRed = 0x0000FF;
constexpr classlib::TColor kLime = 0x00FF00;
constexpr classlib::TColor kBlue = 0xFF0000;
constexpr classlib::TColor kWhite = 0xFFFFFF;

inline void ExpectRect(const RECT& Actual, int L, int T, int R, int B, const char* What = "")
{
    EXPECT_EQ(Actual.left, L) << What;
    EXPECT_EQ(Actual.top, T) << What;
    EXPECT_EQ(Actual.right, R) << What;
    EXPECT_EQ(Actual.bottom, B) << What;
}

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
