// The floating tool window: its frame and caption colours (gradient or
// plain, active or dimmed) printed and read back as pixels, resizing from
// each of the eight sizing zones through the window's own hit test and
// press handling, the right click's context menu, the activation handed to
// the form, Esc handing the focus back, Alt+F4 on the tool window closing
// the form it belongs to, and the caption's close button.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "classlib/Forms.h"
#include "classlib/WinHandles.h"
#include "controls/toolbar/MbDock.h"
#include "tests/controls/toolbar/MbInputDriver.h"

namespace {

using namespace toolbar;
using mbtest::RunDriven;
using mbtest::TInputDriver;

// A floating window of a fixed client size with a small minimum; it
// notes where its context menu was asked for.
class TPlainBar : public TMbCustomDockableWindow {
public:
    using TMbCustomDockableWindow::TMbCustomDockableWindow;
    POINT ContextMenuAt{-1, -1};
    void WndProc(classlib::TMessage& Message) override
    {
        if (Message.Msg == WM_CONTEXTMENU)
            ContextMenuAt = POINT{static_cast<short>(LOWORD(Message.LParam)), static_cast<short>(HIWORD(Message.LParam))};
        TMbCustomDockableWindow::WndProc(Message);
    }
    SIZE CalcArrangedSize(bool, int, bool, TMbDock*) override { return SIZE{GetWidth(), GetHeight()}; }
    SIZE QueryBaseSize() override { return SIZE{GetWidth(), GetHeight()}; }
    void QueryMinMaxSize(int& MinW, int& MinH, int&, int&) override
    {
        MinW = 40;
        MinH = 20;
    }
};

RECT ScreenRectOf(classlib::TWinControl* C)
{
    RECT r{};
    ::GetWindowRect(C->GetHandle(), &r);
    return r;
}

struct MbFloatingWindow : ::testing::Test {
    MbFloatingWindow()
    {
        form.SetBounds(60, 60, 420, 320);
        bar = new TPlainBar(&form);
        bar->SetBounds(0, 0, 160, 80);
        bar->SetParent(&form);
        form.Show();
        bar->SetFloatOrigin(POINT{200, 200});
        bar->SetIsFloating(true);
        tw = bar->GetToolWindow();
        classlib::Application->ProcessMessages();
    }
    classlib::TForm form{nullptr};
    TPlainBar* bar;
    TMbFloatingWindowParent* tw = nullptr;
};

// The frame printed into a bitmap of the tool window's size, read back.
class TFramePicture {
public:
    explicit TFramePicture(TMbFloatingWindowParent* W) : width_(W->GetWidth()), height_(W->GetHeight())
    {
        classlib::TScreenDC screen;
        classlib::TOwnedBitmap bitmap(::CreateCompatibleBitmap(screen.Get(), width_, height_));
        classlib::TMemoryDC dc(bitmap.Get(), screen.Get());
        const RECT all{0, 0, width_, height_};
        ::FillRect(dc.Get(), &all, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
        ::SendMessageW(W->GetHandle(), WM_PRINT, reinterpret_cast<WPARAM>(dc.Get()), PRF_NONCLIENT);
        pixels_.resize(static_cast<std::size_t>(width_ * height_));
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) pixels_[static_cast<std::size_t>(y * width_ + x)] = ::GetPixel(dc.Get(), x, y);
    }
    COLORREF At(int X, int Y) const { return pixels_[static_cast<std::size_t>(Y * width_ + X)]; }

private:
    int width_, height_;
    std::vector<COLORREF> pixels_;
};

// Distinct caption and border colours for the scope, and the
// gradient-caption setting as asked; both are restored at the end.
class TCaptionColours {
public:
    explicit TCaptionColours(bool Gradient)
    {
        ::SystemParametersInfoW(SPI_GETGRADIENTCAPTIONS, 0, &oldGradient_, 0);
        Set(Gradient);
        for (std::size_t i = 0; i < kCount; ++i) old_[i] = ::GetSysColor(kIndex[i]);
        ::SetSysColors(static_cast<int>(kCount), kIndex, kColour);
    }
    ~TCaptionColours()
    {
        ::SetSysColors(static_cast<int>(kCount), kIndex, old_);
        Set(oldGradient_ != FALSE);
    }
    TCaptionColours(const TCaptionColours&) = delete;
    TCaptionColours& operator=(const TCaptionColours&) = delete;

private:
    static void Set(bool Gradient)
    {
        ::SystemParametersInfoW(SPI_SETGRADIENTCAPTIONS, 0, reinterpret_cast<void*>(static_cast<INT_PTR>(Gradient)), 0);
    }
    static constexpr std::size_t kCount = 6;
    static constexpr int kIndex[kCount] = {COLOR_ACTIVECAPTION,   COLOR_GRADIENTACTIVECAPTION,
                                           COLOR_INACTIVECAPTION, COLOR_GRADIENTINACTIVECAPTION,
                                           COLOR_ACTIVEBORDER,    COLOR_INACTIVEBORDER};
    static constexpr COLORREF kColour[kCount] = {RGB(200, 0, 0),   RGB(0, 200, 0),   RGB(0, 0, 200),
                                                 RGB(200, 200, 0), RGB(0, 200, 200), RGB(200, 0, 200)};
    BOOL oldGradient_ = FALSE;
    COLORREF old_[kCount]{};
};

bool Near(COLORREF A, COLORREF B, int Tolerance)
{
    return std::abs(GetRValue(A) - GetRValue(B)) <= Tolerance && std::abs(GetGValue(A) - GetGValue(B)) <= Tolerance &&
           std::abs(GetBValue(A) - GetBValue(B)) <= Tolerance;
}

TEST_F(MbFloatingWindow, FrameAndCaptionTakeTheColoursOfTheGradientSettingAndTheDimmedState)
{
    ASSERT_NE(tw, nullptr);
    int fw = 0, fh = 0;
    bar->FloatFrameSize(fw, fh);
    ASSERT_GE(fw, 4) << "room for the edge, the border ring and the face frame";
    const RECT close = tw->TitleCloseRect();
    const RECT title = tw->TitleRect(true, true);
    const int midY = (title.top + title.bottom) / 2;
    struct TCase {
        bool Gradient, Dimmed;
        COLORREF CaptionLeft, CaptionRight, CloseRing, Border;
    };
    const TCase cases[] = {
        {false, false, RGB(200, 0, 0), RGB(200, 0, 0), RGB(200, 0, 0), RGB(0, 200, 200)},
        {false, true, RGB(0, 0, 200), RGB(0, 0, 200), RGB(0, 0, 200), RGB(200, 0, 200)},
        {true, false, RGB(200, 0, 0), RGB(0, 200, 0), RGB(0, 200, 0), RGB(0, 200, 200)},
        {true, true, RGB(0, 0, 200), RGB(200, 200, 0), RGB(200, 200, 0), RGB(200, 0, 200)},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "gradient " << c.Gradient << ", dimmed " << c.Dimmed);
        TCaptionColours colours(c.Gradient);
        bar->CaptionDimmed = c.Dimmed;
        const TFramePicture pic(tw);
        EXPECT_EQ(pic.At(title.left, midY), c.CaptionLeft);
        // The gradient's last step may round.
        EXPECT_TRUE(Near(pic.At(title.right - 1, midY), c.CaptionRight, 12)) << std::hex << pic.At(title.right - 1, midY);
        // The ring around the close button: above it and at its right.
        EXPECT_EQ(pic.At((close.left + close.right) / 2, close.top), c.CloseRing);
        EXPECT_EQ(pic.At(close.right - 1, midY), c.CloseRing);
        EXPECT_NE(pic.At(close.left + 1, midY), c.CloseRing) << "the button itself";
        // Raised edge, the border ring, then a button-face frame.
        const int y = tw->GetHeight() / 2;
        EXPECT_EQ(pic.At(fw - 2, y), c.Border);
        EXPECT_EQ(pic.At(fw - 1, y), ::GetSysColor(COLOR_BTNFACE));
        EXPECT_EQ(pic.At(tw->GetWidth() - fw + 1, y), c.Border);
        // A button-face line under the whole caption.
        EXPECT_EQ(pic.At(title.left + 2, title.bottom), ::GetSysColor(COLOR_BTNFACE));
        EXPECT_EQ(pic.At(close.left + 2, title.bottom), ::GetSysColor(COLOR_BTNFACE));
    }
    bar->CaptionDimmed = false;
}

// Each sizing zone, found by the window's hit test and pressed: the sides
// that zone moves follow the pointer (moved with real input), the others
// stay.
TEST_F(MbFloatingWindow, EachSizingZoneMovesItsOwnSides)
{
    ASSERT_NE(tw, nullptr);
    struct TCase {
        const char* Name;
        int X, Y;  // 0 left or top, 1 middle, 2 right or bottom
        LRESULT Code;
        bool Left, Top, Right, Bottom;
    };
    const TCase cases[] = {
        {"left", 0, 1, HTLEFT, true, false, false, false},
        {"right", 2, 1, HTRIGHT, false, false, true, false},
        {"top", 1, 0, HTTOP, false, true, false, false},
        {"top left", 0, 0, HTTOPLEFT, true, true, false, false},
        {"top right", 2, 0, HTTOPRIGHT, false, true, true, false},
        {"bottom", 1, 2, HTBOTTOM, false, false, false, true},
        {"bottom left", 0, 2, HTBOTTOMLEFT, true, false, false, true},
        {"bottom right", 2, 2, HTBOTTOMRIGHT, false, false, true, true},
    };
    const int dx = 15, dy = 10;
    // A work area smaller than the screen (a task bar at the bottom).
    RECT oldWork{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &oldWork, 0);
    RECT work{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN) - 30};
    ::SystemParametersInfoW(SPI_SETWORKAREA, 0, &work, 0);
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const RECT start = ScreenRectOf(tw);
        const int xs[3] = {start.left, (start.left + start.right) / 2, start.right - 1};
        const int ys[3] = {start.top, (start.top + start.bottom) / 2 + 4, start.bottom - 1};
        const POINT press{xs[c.X], ys[c.Y]};
        const LPARAM at = MAKELPARAM(press.x, press.y);
        const LRESULT code = ::SendMessageW(tw->GetHandle(), WM_NCHITTEST, 0, at);
        ASSERT_EQ(code, c.Code);
        ::SetCursorPos(press.x, press.y);
        RECT confined{};
        RunDriven([&] { ::SendMessageW(tw->GetHandle(), WM_NCLBUTTONDOWN, static_cast<WPARAM>(code), at); },
                  [&](TInputDriver& d) {
                      if (!d.WaitCapture(tw->GetHandle())) return;
                      d.RealMoveTo(POINT{press.x + dx, press.y + dy});
                      ::GetClipCursor(&confined);
                      d.RealRelease(POINT{press.x + dx, press.y + dy});
                  });
        // The window asks for it (ResizeOptions bit 1) and one screen is
        // there: the pointer stayed on the work area while sizing.
        RECT free{};
        ::GetClipCursor(&free);
        EXPECT_TRUE(::EqualRect(&confined, &work)) << confined.bottom << " " << work.bottom;
        EXPECT_EQ(free.right - free.left, ::GetSystemMetrics(SM_CXVIRTUALSCREEN)) << "freed afterwards";
        const RECT r = ScreenRectOf(tw);
        EXPECT_EQ(r.left, start.left + (c.Left ? dx : 0));
        EXPECT_EQ(r.top, start.top + (c.Top ? dy : 0));
        EXPECT_EQ(r.right, start.right + (c.Right ? dx : 0));
        EXPECT_EQ(r.bottom, start.bottom + (c.Bottom ? dy : 0));
        const RECT client = tw->GetClientRect();
        EXPECT_EQ(bar->GetWidth(), client.right - client.left) << "the window fills the new client area";
        EXPECT_EQ(bar->GetHeight(), client.bottom - client.top);
    }
    ::SystemParametersInfoW(SPI_SETWORKAREA, 0, &oldWork, 0);
}

// Esc ends a resize: an outline resize leaves the window as it was, a live
// one keeps the size it reached; a release applies the outline's size.
TEST_F(MbFloatingWindow, EscEndsAResizeAndOnlyAReleaseAppliesAnOutline)
{
    ASSERT_NE(tw, nullptr);
    const struct {
        bool Live, Release;
        int Grown;
    } cases[] = {{false, false, 0}, {false, true, 20}, {true, false, 20}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Live ? "live" : "outline") + (c.Release ? ", released" : ", Esc"));
        bar->SmoothDrag = c.Live;
        const RECT start = ScreenRectOf(tw);
        const POINT press{start.right - 1, (start.top + start.bottom) / 2 + 4};
        const LPARAM at = MAKELPARAM(press.x, press.y);
        ASSERT_EQ(::SendMessageW(tw->GetHandle(), WM_NCHITTEST, 0, at), HTRIGHT);
        ::SetCursorPos(press.x, press.y);
        RunDriven([&] { ::SendMessageW(tw->GetHandle(), WM_NCLBUTTONDOWN, HTRIGHT, at); },
                  [&](TInputDriver& d) {
                      if (!d.WaitCapture(tw->GetHandle())) return;
                      const POINT to{press.x + 20, press.y};
                      d.RealMoveTo(to);
                      if (c.Release) d.RealRelease(to);
                      else d.Key(WM_KEYDOWN, VK_ESCAPE, true);
                  });
        const RECT r = ScreenRectOf(tw);
        EXPECT_EQ(r.right - r.left, start.right - start.left + c.Grown);
        EXPECT_EQ(r.left, start.left);
    }
}

// A right click on the caption asks the floating window for its context
// menu at the pointer.
TEST_F(MbFloatingWindow, ARightClickOnTheFrameAsksTheWindowForItsContextMenu)
{
    ASSERT_NE(tw, nullptr);
    const RECT w = ScreenRectOf(tw);
    const RECT title = tw->TitleRect(true, true);
    const POINT at{w.left + title.left + 6, w.top + (title.top + title.bottom) / 2};
    const LPARAM l = MAKELPARAM(at.x, at.y);
    const LRESULT code = ::SendMessageW(tw->GetHandle(), WM_NCHITTEST, 0, l);
    ASSERT_EQ(code, kHitFloatCaption);
    ::SendMessageW(tw->GetHandle(), WM_NCRBUTTONUP, static_cast<WPARAM>(code), l);
    EXPECT_EQ(bar->ContextMenuAt.x, at.x);
    EXPECT_EQ(bar->ContextMenuAt.y, at.y);
}

// The tool window does not keep an activation that comes from elsewhere:
// it hands it to its form; a click answers "no activation".
TEST_F(MbFloatingWindow, TheToolWindowHandsTheActivationToItsForm)
{
    ASSERT_NE(tw, nullptr);
    classlib::TForm other(nullptr);
    other.SetBounds(500, 60, 200, 150);
    other.Show();
    ::SetForegroundWindow(other.GetHandle());
    ::SetActiveWindow(other.GetHandle());
    classlib::Application->ProcessMessages();
    ASSERT_EQ(::GetActiveWindow(), other.GetHandle());
    ::SetActiveWindow(tw->GetHandle());
    classlib::Application->ProcessMessages();
    EXPECT_EQ(::GetActiveWindow(), form.GetHandle());
    const LRESULT answer = ::SendMessageW(tw->GetHandle(), WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(form.GetHandle()),
                                          MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN));
    EXPECT_EQ(answer, MA_NOACTIVATE);
    EXPECT_EQ(::GetActiveWindow(), form.GetHandle());
}

// Esc pressed in the floating window gives the keyboard focus back to the
// form it belongs to.
TEST_F(MbFloatingWindow, EscInTheFloatingWindowReturnsTheFocusToTheForm)
{
    ASSERT_NE(tw, nullptr);
    ::SetFocus(bar->GetHandle());
    classlib::Application->ProcessMessages();
    ASSERT_EQ(::GetFocus(), bar->GetHandle());
    ::PostMessageW(bar->GetHandle(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    classlib::Application->ProcessMessages();
    EXPECT_EQ(::GetFocus(), form.GetHandle());
}

struct TCloseLog {
    int Queries = 0, Closes = 0;
    bool Allow = true;
    void Query(classlib::TObject*, bool& CanClose)
    {
        ++Queries;
        CanClose = Allow;
    }
    void FormClose(classlib::TObject*, classlib::TCloseAction& Action)
    {
        ++Closes;
        Action = classlib::caNone;  // the test keeps its form
    }
    void BarClose(classlib::TObject*) { ++Closes; }
};

// Alt+F4 while the floating window has the keyboard focus: the tool window
// passes the close on to the form it belongs to, which asks its close
// query and then fires OnClose.
TEST_F(MbFloatingWindow, AltF4OnTheToolWindowClosesTheOwningForm)
{
    ASSERT_NE(tw, nullptr);
    for (bool allow : {true, false}) {
        SCOPED_TRACE(allow ? "allowed" : "refused");
        TCloseLog log;
        log.Allow = allow;
        form.OnCloseQuery = classlib::TCloseQueryEvent(&log, &TCloseLog::Query);
        form.OnClose = classlib::TCloseEvent(&log, &TCloseLog::FormClose);
        // Alt held (the context bit) with F4, as the keyboard sends it.
        ::PostMessageW(bar->GetHandle(), WM_SYSKEYDOWN, VK_F4, 0x203E0001);
        classlib::Application->ProcessMessages();
        EXPECT_EQ(log.Queries, 1);
        EXPECT_EQ(log.Closes, allow ? 1 : 0);
        EXPECT_TRUE(::IsWindow(tw->GetHandle()));
        EXPECT_TRUE(bar->GetIsFloating()) << "the floating window itself stays";
    }
    form.OnCloseQuery = {};
    form.OnClose = {};
}

// The caption's close button closes the floating window itself (its own
// close query and OnClose), only when released over the button.
TEST_F(MbFloatingWindow, TheCloseButtonClosesTheFloatingWindowWhenReleasedOverIt)
{
    ASSERT_NE(tw, nullptr);
    TCloseLog log;
    bar->OnCloseQuery = classlib::TCloseQueryEvent(&log, &TCloseLog::Query);
    bar->OnClose = classlib::TNotifyEvent(&log, &TCloseLog::BarClose);
    for (bool inside : {false, true}) {
        SCOPED_TRACE(inside ? "released inside" : "released outside");
        RECT b = tw->TitleCloseRect();
        const RECT w = ScreenRectOf(tw);
        ::OffsetRect(&b, w.left, w.top);
        const POINT press{(b.left + b.right) / 2, (b.top + b.bottom) / 2};
        const LPARAM at = MAKELPARAM(press.x, press.y);
        const LRESULT code = ::SendMessageW(tw->GetHandle(), WM_NCHITTEST, 0, at);
        ASSERT_EQ(code, kHitCloseButton);
        // Moves the platform makes up from the pointer find it where the
        // press was.
        ::SetCursorPos(press.x, press.y);
        bool pushedWhilePressed = false;
        RunDriven([&] { ::SendMessageW(tw->GetHandle(), WM_NCLBUTTONDOWN, static_cast<WPARAM>(code), at); },
                  [&](TInputDriver& d) {
                      if (!d.WaitCapture(tw->GetHandle())) return;
                      d.MoveTo(POINT{press.x + 1, press.y});
                      pushedWhilePressed = tw->GetClosePressed();
                      const POINT release = inside ? press : POINT{press.x - 60, press.y + 40};
                      d.MoveTo(release);
                      d.Release(release);
                  });
        EXPECT_TRUE(pushedWhilePressed);
        EXPECT_FALSE(tw->GetClosePressed());
        EXPECT_EQ(log.Queries, inside ? 1 : 0);
        EXPECT_EQ(log.Closes, inside ? 1 : 0);
        EXPECT_EQ(bar->GetVisible(), !inside);
    }
}

}  // namespace
