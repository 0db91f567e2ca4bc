#include <gtest/gtest.h>

#include <cstdlib>

#include "classlib/Bitmap.h"
#include "classlib/GradientFill.h"

using namespace classlib;

namespace {

bool Near(COLORREF A, COLORREF B, int Tolerance)
{
    return std::abs(GetRValue(A) - GetRValue(B)) <= Tolerance && std::abs(GetGValue(A) - GetGValue(B)) <= Tolerance &&
           std::abs(GetBValue(A) - GetBValue(B)) <= Tolerance;
}

// The fill starts with the start colour at the rectangle's first row (or
// column), ends near the stop colour at its last, passes half-way in the
// middle and stays the same across the direction; nothing outside is
// touched.
TEST(GradientFill, RunsFromStartToStopAlongItsDirectionOnly)
{
    ASSERT_TRUE(GradientFillAvailable());
    const COLORREF red = RGB(255, 0, 0), blue = RGB(0, 0, 255), back = RGB(0, 255, 0);
    for (bool vertical : {true, false}) {
        SCOPED_TRACE(vertical ? "vertical" : "horizontal");
        TBitmap b;
        b.SetPixelFormat(pf24bit);
        b.SetSize(80, 80);
        const HDC dc = b.GetCanvas()->GetHandle();
        b.GetCanvas()->GetBrush()->SetColor(static_cast<TColor>(back));
        b.GetCanvas()->FillRect(RECT{0, 0, 80, 80});
        ASSERT_TRUE(FillGradientRect(dc, RECT{8, 8, 72, 72}, red, blue, vertical));
        auto at = [&](int Along, int Across) {
            return vertical ? ::GetPixel(dc, Across, Along) : ::GetPixel(dc, Along, Across);
        };
        EXPECT_TRUE(Near(at(8, 8), red, 4));
        EXPECT_TRUE(Near(at(71, 8), blue, 8));
        EXPECT_TRUE(Near(at(40, 8), RGB(128, 0, 128), 8));
        for (int along : {8, 40, 71}) EXPECT_EQ(at(along, 8), at(along, 71)) << along;
        EXPECT_EQ(at(7, 40), back);
        EXPECT_EQ(at(72, 40), back);
    }
}

}  // namespace
