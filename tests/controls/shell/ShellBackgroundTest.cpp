// The file list's background picture as the user sees it: where each style
// places it in every view, items over it, scrolling and resizing, removal.
// The pixels are read from the window's printing (WM_PRINTCLIENT) and from
// the screen.
#include "controls/shell/ShellControls.h"

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/ComCtrls.h"
#include "classlib/Forms.h"
#include "controls/shell/ShNamespace.h"
#include "support/TestSupport.h"
#include "tests/controls/shell/ShellPump.h"

namespace {

// Every pixel of the picture has a colour of its own: red and green count
// the column and row, blue is fixed (no colour of the window or its text).
constexpr int kBlue = 200;
COLORREF PictureColor(int X, int Y) { return RGB(X, Y, kBlue); }

std::unique_ptr<classlib::TBitmap> MakePicture(int Width, int Height)
{
    auto picture = std::make_unique<classlib::TBitmap>();
    picture->SetPixelFormat(classlib::pf24bit);
    picture->SetSize(Width, Height);
    for (int y = 0; y < Height; ++y) {
        auto* row = static_cast<std::uint8_t*>(picture->GetScanLine(y));
        for (int x = 0; x < Width; ++x) {
            row[3 * x] = kBlue;
            row[3 * x + 1] = static_cast<std::uint8_t>(y);
            row[3 * x + 2] = static_cast<std::uint8_t>(x);
        }
    }
    return picture;
}

// The client area's pixels, row by row.
struct Shot {
    int width = 0, height = 0;
    std::vector<COLORREF> pixels;
    COLORREF At(int X, int Y) const { return pixels[static_cast<std::size_t>(Y) * width + X]; }
};

// Printed: the window draws itself (background included) into a bitmap.
// Otherwise what the screen shows.
Shot Capture(HWND Wnd, bool Printed)
{
    RECT r{};
    ::GetClientRect(Wnd, &r);
    Shot shot;
    shot.width = r.right;
    shot.height = r.bottom;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = shot.width;
    info.bmiHeader.biHeight = -shot.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    classlib::TOwnedBitmap bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    classlib::TMemoryDC dc(bitmap.Get());
    if (Printed) {
        ::SendMessageW(Wnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.Get()), PRF_CLIENT | PRF_ERASEBKGND);
    } else {
        classlib::TWindowDC screen(Wnd);
        ::BitBlt(dc.Get(), 0, 0, shot.width, shot.height, screen.Get(), 0, 0, SRCCOPY);
    }
    ::GdiFlush();
    const auto* p = static_cast<const std::uint32_t*>(bits);
    for (int i = 0; i < shot.width * shot.height; ++i)
        shot.pixels.push_back(RGB((p[i] >> 16) & 0xFF, (p[i] >> 8) & 0xFF, p[i] & 0xFF));
    return shot;
}

// Paints what is waiting and reads the screen.
Shot OnScreen(HWND Wnd)
{
    shelltest::PumpMessages();
    ::RedrawWindow(Wnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    return Capture(Wnd, false);
}

// A shown list of a folder of Files empty files.
template <class List = shell::TShellList>
struct TFixture {
    shell::TShellScope shellScope;
    testsupport::TempDir dir;
    classlib::TForm form{nullptr};
    List* list = nullptr;

    explicit TFixture(int Files)
    {
        for (int i = 0; i < Files; ++i) {
            wchar_t name[32];
            std::swprintf(name, 32, L"file%03d.txt", i);
            HANDLE h = ::CreateFileW(dir.File(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            ::CloseHandle(h);
        }
        form.SetBorderStyle(classlib::bsNone);
        form.SetBounds(0, 0, 400, 330);
        list = new List(&form);
        list->SetParent(&form);
        list->SetBounds(0, 0, 330, 270);
        form.SetVisible(true);
        // The window draws nothing while a fill runs.
        bool populated = false;
        list->OnPopulated = classlib::TNotifyEvent::FromFunction(
            [](void* done, classlib::TObject*) { *static_cast<bool*>(done) = true; }, &populated);
        list->SetPath(dir.Path());
        EXPECT_TRUE(shelltest::PumpUntil([&] { return populated; }));
        list->OnPopulated = {};
        EXPECT_EQ(list->GetItems()->GetCount(), Files);
    }
    HWND Wnd() { return list->GetHandle(); }
    COLORREF Window() { return static_cast<COLORREF>(::SendMessageW(Wnd(), LVM_GETBKCOLOR, 0, 0)); }
};
using Fixture = TFixture<>;

const char* StyleName(shell::TShBackgroundImageStyle Style)
{
    return Style == shell::bisLeftTop ? "left-top" : Style == shell::bisRightBottom ? "right-bottom" : "tiled";
}

}  // namespace

// In every view each style puts the picture where it belongs and the window
// colour everywhere else: at the top-left corner, at the bottom-right
// corner, or repeated from the top-left corner over the whole area. Once
// removed, the plain colour is back on the screen too.
TEST(ShellBackground, EachStylePlacesThePictureInEveryView)
{
    Fixture f(0);
    const int pw = 48, ph = 40;
    auto picture = MakePicture(pw, ph);
    f.list->SetBackgroundImage(picture.get());
    const COLORREF window = f.Window();
    EXPECT_EQ(window, ::GetSysColor(COLOR_WINDOW));

    for (auto view : {classlib::vsIcon, classlib::vsSmallIcon, classlib::vsList, classlib::vsReport}) {
        f.list->SetViewStyle(view);
        for (auto style : {shell::bisLeftTop, shell::bisRightBottom, shell::bisTiled}) {
            f.list->SetBackgroundImageStyle(style);
            const Shot shot = Capture(f.Wnd(), true);
            ASSERT_GT(shot.width, 2 * pw);
            ASSERT_GT(shot.height, 2 * ph);
            // Where the picture's top-left corner lies.
            const int left = style == shell::bisRightBottom ? shot.width - pw : 0;
            const int top = style == shell::bisRightBottom ? shot.height - ph : 0;
            int wrong = 0;
            for (int y = 0; y < shot.height; y += 3) {
                for (int x = 0; x < shot.width; x += 3) {
                    const int px = x - left, py = y - top;
                    COLORREF expected = window;
                    if (style == shell::bisTiled)
                        expected = PictureColor(x % pw, y % ph);
                    else if (px >= 0 && px < pw && py >= 0 && py < ph)
                        expected = PictureColor(px, py);
                    if (shot.At(x, y) != expected && ++wrong <= 3)
                        ADD_FAILURE() << "view " << view << ", " << StyleName(style) << ": at " << x << "," << y
                                      << " " << std::hex << shot.At(x, y) << " instead of " << expected;
                }
            }
            EXPECT_EQ(wrong, 0) << "view " << view << ", " << StyleName(style);
        }
    }

    // A new window shows the picture as well.
    f.list->SetViewStyle(classlib::vsIcon);
    f.list->DestroyHandle();
    f.list->HandleNeeded();
    ASSERT_EQ(f.list->GetBackgroundImageStyle(), shell::bisTiled);
    const Shot again = Capture(f.Wnd(), true);
    EXPECT_EQ(again.At(200, 150), PictureColor(200 % pw, 150 % ph));

    // Without a header, the screen shows the whole client area.
    OnScreen(f.Wnd());
    f.list->SetBackgroundImage(nullptr);
    for (bool printed : {true, false}) {
        const Shot shot = printed ? Capture(f.Wnd(), true) : OnScreen(f.Wnd());
        int other = 0;
        for (COLORREF c : shot.pixels) other += c != window;
        EXPECT_EQ(other, 0) << (printed ? "printed" : "on screen");
    }
}

// Items lie over the picture: their text has no background of its own, and
// the selected item keeps its highlight.
TEST(ShellBackground, ItemsShowOverThePicture)
{
    Fixture f(4);
    auto picture = MakePicture(64, 48);
    f.list->SetViewStyle(classlib::vsReport);
    f.list->SetBackgroundImage(picture.get());
    f.list->GetItems()->GetItem(0)->SetSelected(true);
    const Shot shot = Capture(f.Wnd(), true);

    auto label = [&](int Index) {
        RECT r{};
        r.left = LVIR_LABEL;
        EXPECT_TRUE(::SendMessageW(f.Wnd(), LVM_GETITEMRECT, Index, reinterpret_cast<LPARAM>(&r)));
        return r;
    };
    // An item that is not selected: the picture around its letters, the
    // window colour nowhere.
    const RECT plain = label(1);
    int picturePixels = 0, textPixels = 0, windowPixels = 0, total = 0;
    for (int y = plain.top; y < plain.bottom; ++y)
        for (int x = plain.left; x < plain.right; ++x, ++total) {
            const COLORREF c = shot.At(x, y);
            if (c == PictureColor(x % 64, y % 48))
                ++picturePixels;
            else if (c == f.Window())
                ++windowPixels;
            else
                ++textPixels;
        }
    EXPECT_EQ(windowPixels, 0);
    EXPECT_GT(picturePixels, total / 2);
    EXPECT_GT(textPixels, 0) << "no text drawn";

    // The selected one keeps its highlight: with the focus, and without it
    // when the selection is always shown.
    const RECT selected = label(0);
    auto highlighted = [&](COLORREF Highlight) {
        const Shot now = Capture(f.Wnd(), true);
        int count = 0, area = 0;
        for (int y = selected.top; y < selected.bottom; ++y)
            for (int x = selected.left; x < selected.right; ++x, ++area) count += now.At(x, y) == Highlight;
        // The picture has no pixel of these colours; the highlight lies
        // behind the text, which is shorter than the column.
        return count > area / 6;
    };
    ::SetFocus(f.Wnd());
    ASSERT_EQ(::GetFocus(), f.Wnd());
    EXPECT_TRUE(highlighted(::GetSysColor(COLOR_HIGHLIGHT)));
    ::SetFocus(nullptr);
    f.list->SetHideSelection(false);
    EXPECT_TRUE(highlighted(classlib::InactiveSelectionColor()));
}

// Scrolling a long list and resizing it leave the picture whole: the screen
// shows what the window prints of the same state (a scroll that copied the
// picture along with the items would show stripes of it out of place).
TEST(ShellBackground, ScrollingAndResizingKeepThePictureWhole)
{
    Fixture f(150);
    ::SetCursorPos(1200, 1000);  // no item hot under the pointer
    auto picture = MakePicture(220, 200);
    f.list->SetBackgroundImage(picture.get());

    auto compare = [&](const char* what) {
        const Shot screen = OnScreen(f.Wnd());
        const Shot printed = Capture(f.Wnd(), true);
        ASSERT_EQ(screen.pixels.size(), printed.pixels.size());
        // Below the report view's header (a window of its own).
        int top = 0;
        if (HWND header = reinterpret_cast<HWND>(::SendMessageW(f.Wnd(), LVM_GETHEADER, 0, 0));
            header && ::IsWindowVisible(header)) {
            RECT r{};
            ::GetWindowRect(header, &r);
            ::MapWindowPoints(nullptr, f.Wnd(), reinterpret_cast<POINT*>(&r), 2);
            top = r.bottom;
        }
        int differing = 0;
        for (int y = top; y < screen.height; ++y)
            for (int x = 0; x < screen.width; ++x)
                if (screen.At(x, y) != printed.At(x, y) && ++differing == 1)
                    ADD_FAILURE() << what << ": first difference at " << x << "," << y << ": screen " << std::hex
                                  << screen.At(x, y) << ", printed " << printed.At(x, y);
        EXPECT_EQ(differing, 0) << what;
    };

    struct Case {
        classlib::TViewStyle view;
        UINT message;  // the scroll bar the view scrolls with
    };
    for (const Case& c : {Case{classlib::vsReport, WM_VSCROLL}, Case{classlib::vsList, WM_HSCROLL}}) {
        SCOPED_TRACE(c.view);
        f.list->SetViewStyle(c.view);
        f.list->SetBackgroundImageStyle(shell::bisLeftTop);
        OnScreen(f.Wnd());
        for (WPARAM code : {SB_LINEDOWN, SB_PAGEDOWN, SB_LINEUP}) {
            const int before = ::GetScrollPos(f.Wnd(), c.message == WM_VSCROLL ? SB_VERT : SB_HORZ);
            ::SendMessageW(f.Wnd(), c.message, code, 0);
            EXPECT_NE(::GetScrollPos(f.Wnd(), c.message == WM_VSCROLL ? SB_VERT : SB_HORZ), before);
            compare("scrolled");
        }
        // The keyboard scrolls too (the focus moves to the last item).
        ::SendMessageW(f.Wnd(), WM_KEYDOWN, VK_END, 0);
        compare("after End");
        // And the wheel.
        const int h = ::GetScrollPos(f.Wnd(), SB_HORZ), v = ::GetScrollPos(f.Wnd(), SB_VERT);
        POINT inside{100, 100};
        ::ClientToScreen(f.Wnd(), &inside);
        ::SendMessageW(f.Wnd(), WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), MAKELPARAM(inside.x, inside.y));
        EXPECT_TRUE(::GetScrollPos(f.Wnd(), SB_HORZ) != h || ::GetScrollPos(f.Wnd(), SB_VERT) != v);
        compare("wheel");

        // A picture at the bottom-right corner follows the corner.
        f.list->SetBackgroundImageStyle(shell::bisRightBottom);
        OnScreen(f.Wnd());
        f.list->SetBounds(0, 0, 390, 320);
        compare("larger");
        f.list->SetBounds(0, 0, 300, 250);
        compare("smaller");
        f.list->SetBounds(0, 0, 330, 270);
    }
}

namespace {

// Stands for a list view that takes pictures from files: answers TRUE to
// LVM_SETBKIMAGEW and records what it was given (the window itself never
// sees the message).
struct TakingList : shell::TShellList {
    using shell::TShellList::TShellList;
    int calls = 0;
    ULONG flags = 0;
    int xPercent = -1, yPercent = -1;
    std::wstring file;
    void WndProc(classlib::TMessage& Message) override
    {
        if (Message.Msg != LVM_SETBKIMAGEW) return shell::TShellList::WndProc(Message);
        const auto* image = reinterpret_cast<const LVBKIMAGEW*>(Message.LParam);
        ++calls;
        flags = image->ulFlags;
        xPercent = image->xOffsetPercent;
        yPercent = image->yOffsetPercent;
        file = image->pszImage ? image->pszImage : L"";
        Message.Result = TRUE;
    }
};

}  // namespace

// A list view that takes the picture is given the file with the placement
// of each style and draws it alone: the list paints nothing of its own.
TEST(ShellBackground, AListViewThatTakesThePictureDrawsItAlone)
{
    TFixture<TakingList> f(0);
    TakingList& taken = *f.list;
    // The report view leaves its header's place out when it prints.
    f.list->SetViewStyle(classlib::vsIcon);
    auto picture = MakePicture(48, 40);
    f.list->SetBackgroundImage(picture.get());

    struct Case {
        shell::TShBackgroundImageStyle style;
        ULONG placement;
        int percent;
    };
    for (const Case& c : {Case{shell::bisLeftTop, LVBKIF_STYLE_NORMAL, 0},
                          Case{shell::bisRightBottom, LVBKIF_STYLE_NORMAL, 100},
                          Case{shell::bisTiled, LVBKIF_STYLE_TILE, 0}}) {
        SCOPED_TRACE(StyleName(c.style));
        const int before = taken.calls;
        f.list->SetBackgroundImageStyle(c.style);
        EXPECT_EQ(taken.calls, before + 1);
        EXPECT_EQ(taken.flags, ULONG(LVBKIF_SOURCE_URL) | c.placement);
        if (c.placement == LVBKIF_STYLE_NORMAL) {
            EXPECT_EQ(taken.xPercent, c.percent);
            EXPECT_EQ(taken.yPercent, c.percent);
        }
        EXPECT_EQ(taken.file, f.list->BackgroundImageFile());
        const Shot shot = Capture(f.Wnd(), true);
        int other = 0;
        for (COLORREF px : shot.pixels) other += px != f.Window();
        EXPECT_EQ(other, 0);
    }
    f.list->SetBackgroundImage(nullptr);
    EXPECT_EQ(taken.flags, ULONG(LVBKIF_SOURCE_NONE));
}
