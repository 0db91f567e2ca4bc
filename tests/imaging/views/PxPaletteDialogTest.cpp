// The palette dialog run modally and answered by posted mouse and key
// messages.
#include <gtest/gtest.h>

#include <vector>

#include "classlib/Forms.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/views/dialogs/PxPaletteDialog.h"

using namespace imaging;

namespace {

struct Move {
    int x;
    int y;
};

struct Case {
    const char* name;
    int count;
    std::vector<Move> moves;
    bool click;
    bool escape;
    bool expectResult;
    int expectIndex;
};

// A point inside cell Index.
Move CellPoint(int Index) { return {16 * (Index % 32) + 8, 16 * (Index / 32) + 8}; }

TEST(PxPaletteDialog, AnsweredByMouseAndKeys)
{
    classlib::TApplication app(nullptr);
    classlib::TApplication* saved = classlib::Application;
    classlib::Application = &app;
    std::vector<TPxRGB> pal(256);
    for (int i = 0; i < 256; ++i)
        pal[static_cast<size_t>(i)] = TPxRGB{static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                                             static_cast<uint8_t>(i * 7)};
    const Case cases[] = {
        {"8 rows, colour 33 at column 1 row 1", 256, {CellPoint(33)}, true, false, true, 33},
        {"empty area keeps the highlight", 40, {CellPoint(1), CellPoint(100)}, true, false, true, 1},
        {"right of the columns is no cell", 256, {CellPoint(5), {16 * 32 + 4, 8}}, true, false, true, 5},
        {"click without a highlight does nothing; Esc cancels", 40, {}, true, true, false, -1},
        {"Esc after a highlight cancels", 40, {CellPoint(3)}, false, true, false, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TImgPaletteDialog dlg(nullptr);
        // No frame: without a window manager hiding a framed window is slow.
        dlg.SetBorderStyle(classlib::bsNone);
        dlg.SetPalette(pal.data(), c.count);
        HWND wnd = dlg.GetHandle();
        for (const Move& m : c.moves)
            PostMessageW(wnd, WM_MOUSEMOVE, 0, MAKELPARAM(m.x, m.y));
        const Move at = c.moves.empty() ? Move{8, 8} : c.moves.back();
        if (c.click) {
            PostMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
            PostMessageW(wnd, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
        }
        if (c.escape)
            PostMessageW(wnd, WM_KEYDOWN, VK_ESCAPE, 0);
        const classlib::TColor before = dlg.Color;
        EXPECT_EQ(dlg.Execute(), c.expectResult);
        EXPECT_EQ(dlg.GetHighlighted(), c.expectIndex);
        if (c.expectResult)
            EXPECT_EQ(dlg.Color, static_cast<classlib::TColor>(PxRGBToColor(pal[static_cast<size_t>(c.expectIndex)])));
        else
            EXPECT_EQ(dlg.Color, before);
    }
    classlib::Application = saved;
}

// Paints onto a memory DC through the form's own painting.
class PaintableDialog : public TImgPaletteDialog {
public:
    using TImgPaletteDialog::TImgPaletteDialog;
    void PaintOn(HDC DC) { PaintWindow(DC); }
};

TEST(PxPaletteDialog, CellsArePaintedInTheirColoursWithTheHighlightOutlined)
{
    std::vector<TPxRGB> pal(256);
    for (int i = 0; i < 256; ++i)
        pal[static_cast<size_t>(i)] = TPxRGB{static_cast<uint8_t>(i), 40, 200};
    PaintableDialog dlg(nullptr);
    dlg.SetBorderStyle(classlib::bsNone);
    dlg.SetPalette(pal.data(), 256);
    PostMessageW(dlg.GetHandle(), WM_MOUSEMOVE, 0, MAKELPARAM(16 + 8, 16 + 8));
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    ASSERT_EQ(dlg.GetHighlighted(), 33);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 520, 140);
    HGDIOBJ old = SelectObject(dc, bmp);
    dlg.PaintOn(dc);
    auto colour = [](const TPxRGB& c) { return static_cast<COLORREF>(PxRGBToColor(c)); };
    EXPECT_EQ(GetPixel(dc, 16 + 8, 16 + 8), colour(pal[33]));      // column 1, row 1
    EXPECT_EQ(GetPixel(dc, 16 * 31 + 8, 16 * 7 + 8), colour(pal[255]));  // the 8th row
    EXPECT_EQ(GetPixel(dc, 17, 17), RGB(0, 0, 0));                 // highlighted: black outline
    EXPECT_EQ(GetPixel(dc, 33, 17), RGB(255, 255, 255));           // the others: white
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

}  // namespace
