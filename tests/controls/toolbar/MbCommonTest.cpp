// Shared menu routines: caption text with accelerator marks, the registry
// menu delay, monitors, frame regions and the opening effect's timing.
#include <windows.h>

#include <gtest/gtest.h>

#include "controls/toolbar/MbAnim.h"
#include "controls/toolbar/MbCommon.h"
#include "classlib/Bitmap.h"
#include "classlib/WinHandles.h"

namespace {

using namespace toolbar;

TEST(MbCommon, AcceleratorMarksAndHintTrimming)
{
    struct TCase {
        const wchar_t* Text;
        const wchar_t* Plain;
        wchar_t Accel;
    };
    const TCase cases[] = {
        {L"I&nterlaced:", L"Interlaced:", L'n'},
        {L"Save && close", L"Save & close", 0},  // a doubled mark is no accelerator
        {L"&One &Two", L"One Two", L'T'},          // the last single mark counts
        {L"R&&D &x", L"R&D x", L'x'},
        {L"Trailing&", L"Trailing", 0},
        {L"", L"", 0},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(RemoveAccelMarks(c.Text), c.Plain) << c.Text;
        EXPECT_EQ(AccelCharOf(c.Text), c.Accel) << c.Text;
    }
    EXPECT_EQ(DoubleAmpersands(L"R&D"), L"R&&D");
    EXPECT_EQ(TrimEllipsisOrColon(L"Translate to your language..."), L"Translate to your language");
    EXPECT_EQ(TrimEllipsisOrColon(L"Name:"), L"Name");
    EXPECT_EQ(TrimEllipsisOrColon(L":"), L":");
    EXPECT_EQ(TrimEllipsisOrColon(L"..."), L"...");
    EXPECT_EQ(TrimEllipsisOrColon(L"A...:"), L"A...") << "only one of the two goes";
}

TEST(MbCommon, ListsAreMadeOnFirstAddAndFreedWhenEmptied)
{
    int a = 0, b = 0, c = 0;
    TMbList<int> list;
    MbListRemoveAndFree(list, &a);  // no list: nothing
    EXPECT_EQ(list, nullptr);
    EXPECT_TRUE(MbListAddUnique(list, &a));
    ASSERT_NE(list, nullptr);
    EXPECT_FALSE(MbListAddUnique(list, &a)) << "present already";
    EXPECT_TRUE(MbListAddUnique(list, &b));
    EXPECT_TRUE(MbListAddUniqueFirst(list, &c));
    EXPECT_FALSE(MbListAddUniqueFirst(list, &b));
    EXPECT_EQ(*list, (std::vector<int*>{&c, &a, &b}));
    MbListRemoveAndFree(list, &a);
    MbListRemoveAndFree(list, &c);
    EXPECT_EQ(*list, (std::vector<int*>{&b}));
    MbListRemoveAndFree(list, &b);
    EXPECT_EQ(list, nullptr) << "freed once empty";
}

TEST(MbCommon, RegistryMenuDelay)
{
    EXPECT_EQ(MenuDelayFromRegistryValue(false, false, L""), 400) << "no value";
    EXPECT_EQ(MenuDelayFromRegistryValue(true, true, L"250"), 250);
    EXPECT_EQ(MenuDelayFromRegistryValue(true, true, L"fast"), 0) << "not a number";
    EXPECT_EQ(MenuDelayFromRegistryValue(true, true, L"12ms"), 0);
    EXPECT_EQ(MenuDelayFromRegistryValue(true, true, L"-5"), 0) << "never negative";
    EXPECT_EQ(MenuDelayFromRegistryValue(true, false, L"250"), 0) << "not a text";
    EXPECT_GE(MenuOpenDelay(), 0);
}

TEST(MbCommon, SingleMonitorAnswersThePrimaryScreen)
{
    ASSERT_FALSE(SeveralMonitors());
    const RECT full{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    RECT work{};
    ASSERT_TRUE(::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    const POINT away{full.right + 500, -300};
    const RECT byPoint = MonitorRectForPoint(away, false), byPointWork = MonitorRectForPoint(away, true);
    const RECT byRect = MonitorRectForRect(RECT{10, 10, 20, 20}, false);
    EXPECT_TRUE(::EqualRect(&byPoint, &full));
    EXPECT_TRUE(::EqualRect(&byRect, &full));
    EXPECT_TRUE(::EqualRect(&byPointWork, &work));
}

TEST(MbCommon, FrameRegionIsTheRingOnly)
{
    classlib::TOwnedRegion ring(FrameRegion(RECT{10, 10, 30, 20}, SIZE{2, 1}));
    EXPECT_TRUE(::PtInRegion(ring.Get(), 10, 15));
    EXPECT_TRUE(::PtInRegion(ring.Get(), 29, 15));
    EXPECT_TRUE(::PtInRegion(ring.Get(), 20, 10));
    EXPECT_FALSE(::PtInRegion(ring.Get(), 12, 15)) << "inside the frame";
    EXPECT_FALSE(::PtInRegion(ring.Get(), 20, 11));
    classlib::TOwnedRegion empty(FrameRegion(RECT{5, 5, 5, 9}, SIZE{1, 1}));
    RECT box{};
    EXPECT_EQ(::GetRgnBox(empty.Get(), &box), NULLREGION);
    // Thicker than the rectangle: the whole rectangle.
    classlib::TOwnedRegion solid(FrameRegion(RECT{0, 0, 4, 4}, SIZE{3, 3}));
    EXPECT_TRUE(::PtInRegion(solid.Get(), 2, 2));
}

// A window that fills its client area with the colour in its user data and
// prints itself through PrintWindowTree, its frame in yellow.
void YellowFrame(HWND Wnd, HDC DC, void*)
{
    RECT r{};
    ::GetWindowRect(Wnd, &r);
    ::OffsetRect(&r, -r.left, -r.top);
    classlib::TOwnedBrush b(::CreateSolidBrush(RGB(255, 255, 0)));
    ::FillRect(DC, &r, b.Get());
}

LRESULT CALLBACK SolidWndProc(HWND Wnd, UINT Msg, WPARAM W, LPARAM L)
{
    switch (Msg) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PRINT:
        return PrintWindowTree(Wnd, reinterpret_cast<HDC>(W), L, &YellowFrame, nullptr);
    case WM_PRINTCLIENT: {
        RECT r{};
        ::GetClientRect(Wnd, &r);
        classlib::TOwnedBrush b(::CreateSolidBrush(static_cast<COLORREF>(::GetWindowLongPtrW(Wnd, GWLP_USERDATA))));
        ::FillRect(reinterpret_cast<HDC>(W), &r, b.Get());
        return 0;
    }
    default:
        return ::DefWindowProcW(Wnd, Msg, W, L);
    }
}

TEST(MbCommon, PrintWindowTreePrintsFrameClientAndVisibleChildren)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = &SolidWndProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"MbPrintTreeTest";
    ::RegisterClassW(&wc);
    auto make = [&](DWORD Style, HWND Parent, RECT R, COLORREF Color) {
        HWND w = ::CreateWindowExW(0, wc.lpszClassName, L"", Style, R.left, R.top, R.right - R.left,
                                   R.bottom - R.top, Parent, nullptr, wc.hInstance, nullptr);
        ::SetWindowLongPtrW(w, GWLP_USERDATA, static_cast<LONG_PTR>(Color));
        return w;
    };
    HWND parent = make(WS_POPUP | WS_BORDER, nullptr, RECT{0, 0, 100, 60}, RGB(255, 0, 0));
    make(WS_CHILD | WS_VISIBLE, parent, RECT{20, 10, 50, 30}, RGB(0, 0, 255));
    make(WS_CHILD, parent, RECT{60, 10, 90, 30}, RGB(0, 255, 0));  // hidden
    classlib::TBitmap bmp;
    bmp.SetPixelFormat(classlib::pf24bit);
    bmp.SetSize(100, 60);
    HDC dc = bmp.GetCanvas()->GetHandle();
    EXPECT_EQ(PrintWindowTree(parent, dc, PRF_CHECKVISIBLE | PRF_CLIENT, &YellowFrame, nullptr), 0) << "hidden";
    ::ShowWindow(parent, SW_SHOWNOACTIVATE);
    EXPECT_EQ(PrintWindowTree(parent, dc, PRF_NONCLIENT | PRF_CLIENT | PRF_CHILDREN, &YellowFrame, nullptr), 1);
    classlib::TCanvas* c = bmp.GetCanvas();
    EXPECT_EQ(c->GetPixel(0, 0), 0x00FFFF) << "frame";
    EXPECT_EQ(c->GetPixel(5, 5), 0x0000FF) << "client, inside the one-pixel border";
    EXPECT_EQ(c->GetPixel(1 + 25, 1 + 15), 0xFF0000) << "the visible child at its place";
    EXPECT_EQ(c->GetPixel(1 + 19, 1 + 15), 0x0000FF);
    EXPECT_EQ(c->GetPixel(1 + 70, 1 + 15), 0x0000FF) << "no hidden child";
    // Without PRF_CHILDREN only the window itself.
    PrintWindowTree(parent, dc, PRF_NONCLIENT | PRF_CLIENT, &YellowFrame, nullptr);
    EXPECT_EQ(c->GetPixel(1 + 25, 1 + 15), 0x0000FF);
    ::DestroyWindow(parent);
}

TEST(MbAnim, FadeAndSlideReachFullLevelOnTime)
{
    // A fade starts at 40 and lasts 175 ms: full at 148 ms.
    EXPECT_EQ(OpenEffectLevel(0, 175, 40), 40);
    EXPECT_EQ(OpenEffectLevel(147, 175, 40), 254);
    EXPECT_GE(OpenEffectLevel(148, 175, 40), 255);
    // A slide starts at 0 and lasts 150 ms.
    EXPECT_EQ(OpenEffectLevel(149, 150, 0), 253);
    EXPECT_GE(OpenEffectLevel(150, 150, 0), 255);
    EXPECT_GE(OpenEffectLevel(-1, 150, 0), 255) << "a clock running backwards ends it";
}

}  // namespace
