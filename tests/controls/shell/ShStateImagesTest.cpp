// The check-box pictures: five images in the order of the selection
// states, each box drawn over its transparent colour, and the lists and
// trees showing exactly these pictures as their state images.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <vector>

#include "classlib/Bitmap.h"
#include "controls/shell/ShStateImages.h"

namespace {

using namespace shell;

// Image Index drawn transparently over Background, as BGR bytes.
std::vector<BYTE> Drawn(HIMAGELIST Images, int Index, COLORREF Background)
{
    classlib::TBitmap bmp;
    bmp.SetPixelFormat(classlib::pf24bit);
    bmp.SetSize(16, 16);
    HDC dc = bmp.GetCanvas()->GetHandle();
    RECT all{0, 0, 16, 16};
    HBRUSH brush = ::CreateSolidBrush(Background);
    ::FillRect(dc, &all, brush);
    ::DeleteObject(brush);
    ::ImageList_Draw(Images, Index, dc, 0, 0, ILD_TRANSPARENT);
    ::GdiFlush();
    std::vector<BYTE> out;
    for (int y = 0; y < 16; ++y) {
        const auto* row = static_cast<const BYTE*>(bmp.GetScanLine(y));
        out.insert(out.end(), row, row + 48);
    }
    return out;
}

int PixelsOf(const std::vector<BYTE>& Bgr, COLORREF Colour)
{
    int n = 0;
    for (std::size_t i = 0; i + 2 < Bgr.size(); i += 3)
        if (RGB(Bgr[i + 2], Bgr[i + 1], Bgr[i]) == Colour) ++n;
    return n;
}

TEST(ShStateImages, FiveBoxesInTheOrderOfTheStatesOverTheirTransparentColours)
{
    TShSelectionStateImageList images(nullptr);
    HIMAGELIST h = images.GetHandle();
    ASSERT_EQ(::ImageList_GetImageCount(h), 5);
    int w = 0, ht = 0;
    ::ImageList_GetIconSize(h, &w, &ht);
    EXPECT_EQ(w, 16);
    EXPECT_EQ(ht, 16);

    const COLORREF green = RGB(0, 160, 0);
    std::vector<std::vector<BYTE>> boxes;
    for (int i = 0; i < 5; ++i) boxes.push_back(Drawn(h, i, green));
    for (int i = 1; i < 5; ++i) {
        // Red was the background: none of it is left, the green shows round the box.
        EXPECT_EQ(PixelsOf(boxes[i], RGB(255, 0, 0)), 0) << i;
        EXPECT_GT(PixelsOf(boxes[i], green), 16 * 3) << i;
        EXPECT_LT(PixelsOf(boxes[i], green), 16 * 16) << i;
    }
    // White was the placeholder's background: its box's white inside goes too.
    EXPECT_EQ(PixelsOf(boxes[0], RGB(255, 255, 255)), 0);
    EXPECT_GT(PixelsOf(boxes[0], green), PixelsOf(boxes[3], green)) << "the placeholder shows less";

    // Checked and unchecked differ, and so do the two looks of a checked
    // box. (The system here draws an empty disabled box like an enabled
    // one, so ssNone is not compared with ssUnChecked.)
    EXPECT_NE(boxes[ssChecked], boxes[ssUnChecked]);
    EXPECT_NE(boxes[ssGrayed], boxes[ssChecked]) << "disabled";
    EXPECT_NE(boxes[ssGrayed], boxes[ssNone]);
}

}  // namespace
