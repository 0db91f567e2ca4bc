// The shell list's sort arrows are the pictures of the resource script.
#include "controls/shell/ShellControls.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "classlib/WinHandles.h"
#include "support/TestSupport.h"
#include "tests/controls/shell/ShellHost.h"

namespace {

using shelltest::HostForm;
using shelltest::Placed;

// The colour of (X, Y) of a bitmap.
COLORREF PixelOf(HBITMAP Bitmap, int X, int Y)
{
    classlib::TOwnedDC dc(::CreateCompatibleDC(nullptr));
    HGDIOBJ old = ::SelectObject(dc.Get(), Bitmap);
    const COLORREF c = ::GetPixel(dc.Get(), X, Y);
    ::SelectObject(dc.Get(), old);
    return c;
}

TEST(ShellListArrows, HeaderShowsTheResourceArrows)
{
    for (const wchar_t* name : {L"TSHELLLIST_LV_ARROWUP", L"TSHELLLIST_LV_ARROWDOWN"})
        ASSERT_NE(::FindResourceW(nullptr, name, MAKEINTRESOURCEW(2) /* RT_BITMAP */), nullptr);

    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    testsupport::Touch(dir.File(L"a.txt"));
    HostForm form;
    auto* list = Placed<shell::TShellList>(form);
    list->SetPath(dir.Path());
    auto header = reinterpret_cast<HWND>(::SendMessageW(list->GetHandle(), LVM_GETHEADER, 0, 0));
    ASSERT_NE(header, nullptr);

    struct Case {
        bool descending;
        const wchar_t* resource;
    };
    // The pictures (a themed header draws its own arrows; they are shown
    // here the unthemed way).
    for (const Case c : {Case{false, L"TSHELLLIST_LV_ARROWUP"}, Case{true, L"TSHELLLIST_LV_ARROWDOWN"}}) {
        shell::MarkSortColumn(header, 0, c.descending, false, list->GetSortArrow(false), list->GetSortArrow(true));
        HDITEMW hd{};
        hd.mask = HDI_FORMAT | HDI_BITMAP;
        ::SendMessageW(header, HDM_GETITEMW, 0, reinterpret_cast<LPARAM>(&hd));
        ASSERT_NE(hd.hbm, nullptr);
        classlib::TOwnedBitmap resource(static_cast<HBITMAP>(
            ::LoadImageW(::GetModuleHandleW(nullptr), c.resource, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
        ASSERT_TRUE(resource);
        const COLORREF ground = PixelOf(resource.Get(), 0, 7);
        int inked = 0;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                const COLORREF want = PixelOf(resource.Get(), x, y);
                const COLORREF shown = PixelOf(hd.hbm, x, y);
                if (want == ground) {
                    EXPECT_NE(shown, want) << x << "," << y;  // the ground is left out
                } else {
                    ++inked;
                    EXPECT_EQ(shown, want) << x << "," << y;
                }
            }
        EXPECT_EQ(inked, 16);  // 7 + 5 + 3 + 1
        // The point: up at row 2, down at row 5.
        EXPECT_NE(PixelOf(resource.Get(), 3, c.descending ? 5 : 2), ground);
    }
}

}  // namespace
