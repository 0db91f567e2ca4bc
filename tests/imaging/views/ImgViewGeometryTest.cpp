// Geometry of the image view: extent and centring, view position limits,
// coordinate conversion, automatic fit, zoom operations, scroll and wheel
// messages, and the rectangle test of polygons.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "classlib/SysUtils.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/views/view/ImgView.h"
#include "support/HostWindow.h"

using namespace imaging;

namespace {

// A hidden top-level window holding a view of the given client size
// (no border, so the control size is the client size).
class ViewHost {
public:
    ViewHost(int W, int H, classlib::TScrollStyle Bars = classlib::ssNone)
    {
        host_ = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED | WS_CLIPCHILDREN, 0, 0, 800, 800, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        view = std::make_unique<TImgView>(nullptr);
        view->SetBorderStyle(bsNone);
        view->SetScrollBars(Bars);
        view->SetParentWindow(host_);
        view->SetBounds(0, 0, W, H);
        view->GetHandle();
    }
    ~ViewHost()
    {
        view.reset();
        if (host_)
            DestroyWindow(host_);
    }
    ViewHost(const ViewHost&) = delete;
    ViewHost& operator=(const ViewHost&) = delete;

    // Sizes the image, fills it and updates the view.
    void Image(int W, int H)
    {
        view->GetPxBitmap()->Allocate(W, H, px24RGB);
        view->GetPxBitmap()->Fill(0x808080);
        view->Update();
    }

    std::unique_ptr<TImgView> view;

private:
    HWND host_ = nullptr;
};

TEST(ImgViewGeometry, ExtentAndCentringFollowZoom)
{
    struct Case {
        int w, h;
        double zoom;
        bool center;
        int zoomedW, zoomedH, extentX, extentY, offsetX, offsetY;
    };
    // View 200 x 100. 333 * 0.5 = 166.5 rounds to the even 166.
    const Case cases[] = {
        {100, 50, 100, true, 100, 50, 100, 50, 50, 25},  {100, 50, 100, false, 100, 50, 100, 50, 0, 0},
        {100, 50, 200, true, 200, 100, 200, 100, 0, 0},  {100, 50, 50, true, 50, 25, 50, 25, 75, 37},
        {333, 51, 50, true, 166, 26, 166, 26, 17, 37},   {400, 300, 100, true, 400, 300, 200, 100, 0, 0},
    };
    for (const Case& c : cases) {
        ViewHost host(200, 100);
        TImgView& v = *host.view;
        ASSERT_EQ(v.GetViewWidth(), 200);
        ASSERT_EQ(v.GetViewHeight(), 100);
        v.SetCenter(c.center);
        host.Image(c.w, c.h);
        v.SetZoom(c.zoom);
        EXPECT_EQ(v.GetZoomedW(), c.zoomedW) << c.w << " " << c.zoom;
        EXPECT_EQ(v.GetZoomedH(), c.zoomedH) << c.w << " " << c.zoom;
        EXPECT_EQ(v.GetExtentX(), c.extentX) << c.w << " " << c.zoom;
        EXPECT_EQ(v.GetExtentY(), c.extentY) << c.w << " " << c.zoom;
        EXPECT_EQ(v.GetOffsetX(), c.offsetX) << c.w << " " << c.zoom << " " << c.center;
        EXPECT_EQ(v.GetOffsetY(), c.offsetY) << c.w << " " << c.zoom << " " << c.center;
    }
}

TEST(ImgViewGeometry, OffscreenViewIsFiftyByFifty)
{
    TImgView v(nullptr);
    EXPECT_EQ(v.GetViewWidth(), 50);
    EXPECT_EQ(v.GetViewHeight(), 50);
    v.GetPxBitmap()->Allocate(400, 300, px24RGB);
    v.Update();
    // Without a window nothing is centred or scrolled, but the arithmetic
    // conversions stay defined.
    EXPECT_EQ(v.ScreenToBitmapX(10), 10);
    EXPECT_EQ(v.BitmapToScreenY(7), 7);
}

TEST(ImgViewGeometry, ViewPositionIsClampedAndEventsFire)
{
    ViewHost host(200, 100);
    TImgView& v = *host.view;
    host.Image(400, 300);
    std::vector<std::pair<int, double>> changing;
    std::vector<int> changed;
    struct Log : classlib::TObject {
        std::vector<std::pair<int, double>>* changing;
        std::vector<int>* changed;
        void Changing(classlib::TObject*, int c, double v) { changing->emplace_back(c, v); }
        void Changed(classlib::TObject*, int c) { changed->push_back(c); }
    } log;
    log.changing = &changing;
    log.changed = &changed;
    v.OnViewChanging = TViewChangingEvent(&log, &Log::Changing);
    v.OnViewChange = TViewChangeEvent(&log, &Log::Changed);

    int mx = -1, my = -1;
    v.GetMaxViewXY(mx, my);
    EXPECT_EQ(mx, 200);
    EXPECT_EQ(my, 200);
    EXPECT_TRUE(v.HasScrollRange());

    v.SetViewXY(-5, 1000000);
    EXPECT_EQ(v.GetViewX(), 0);
    EXPECT_EQ(v.GetViewY(), 200);
    EXPECT_EQ(changing, (std::vector<std::pair<int, double>>{{0, -5}, {1, 1000000}}));
    EXPECT_EQ(changed, std::vector<int>{0});
    changing.clear();
    changed.clear();
    v.SetViewXY(-5, 1000000);
    EXPECT_EQ(changing.size(), 2u);
    EXPECT_TRUE(changed.empty());

    // Zero and negative zooms are announced and ignored, as is the current one.
    changing.clear();
    for (double z : {0.0, -1.0, 100.0})
        v.SetZoom(z);
    EXPECT_EQ(changing, (std::vector<std::pair<int, double>>{{2, 0.0}, {2, -1.0}, {2, 100.0}}));
    EXPECT_EQ(v.GetZoomX(), 100);
    EXPECT_TRUE(changed.empty());

    // An image that fits has no scroll range.
    host.Image(150, 80);
    v.GetMaxViewXY(mx, my);
    EXPECT_EQ(mx, 0);
    EXPECT_EQ(my, 0);
    EXPECT_EQ(v.GetViewY(), 0);
}

TEST(ImgViewGeometry, CoordinatesConvertThroughTables)
{
    ViewHost host(200, 100);
    TImgView& v = *host.view;
    host.Image(50, 40);
    v.SetZoom(200);
    v.BuildCoordinateTables();
    // Zoomed 100 x 80, centred at (50, 10); each bitmap pixel is 2 x 2.
    ASSERT_EQ(v.GetOffsetX(), 50);
    ASSERT_EQ(v.GetOffsetY(), 10);
    const std::pair<int, int> toBitmapX[] = {{50, 0}, {51, 0}, {52, 1}, {53, 1}, {149, 49}};
    for (auto [s, b] : toBitmapX)
        EXPECT_EQ(v.ScreenToBitmapX(s), b) << s;
    EXPECT_EQ(v.ScreenToBitmapY(10), 0);
    EXPECT_EQ(v.ScreenToBitmapY(13), 1);
    for (int b = 0; b < 50; ++b) {
        EXPECT_EQ(v.BitmapToScreenX(b), 50 + 2 * b) << b;
        EXPECT_EQ(v.ScreenToBitmapX(v.BitmapToScreenX(b)), b) << b;
    }
    for (int b = 0; b < 40; ++b)
        EXPECT_EQ(v.ScreenToBitmapY(v.BitmapToScreenY(b)), b) << b;

    // Zoom 50: two bitmap pixels per screen pixel; the first of them wins.
    v.SetZoom(50);
    v.BuildCoordinateTables();
    ASSERT_EQ(v.GetOffsetX(), 87);  // (200 - 25) div 2
    for (int s = 0; s < 25; ++s) {
        EXPECT_EQ(v.ScreenToBitmapX(87 + s), 2 * s) << s;
        EXPECT_EQ(v.BitmapToScreenX(2 * s), 87 + s) << s;
        EXPECT_EQ(v.BitmapToScreenX(2 * s + 1), 87 + s) << s;
    }
}

TEST(ImgViewGeometry, ScrolledZoomSnapsToWholeBitmapPixels)
{
    ViewHost host(200, 100);
    TImgView& v = *host.view;
    host.Image(300, 200);
    v.SetZoom(300);
    v.SetViewXY(0, 0);
    v.BuildCoordinateTables();
    // 302 is inside bitmap pixel 100 (zoomed 300..302): the view starts at
    // its first zoomed pixel.
    v.SetViewXY(302, 31);
    v.ComputeViewOffsets();
    v.BuildCoordinateTables();
    EXPECT_EQ(v.ScreenSnapX(302), 300);
    EXPECT_EQ(v.ScreenSnapY(31), 30);
    EXPECT_EQ(v.GetVisibleBitmapRect().left, 100);
    EXPECT_EQ(v.GetVisibleBitmapRect().top, 10);
    EXPECT_EQ(v.ScreenToBitmapX(0), 100);
    EXPECT_EQ(v.ScreenToBitmapX(3), 101);
    EXPECT_EQ(v.BitmapToScreenX(101), 3);
    EXPECT_EQ(v.ScreenToBitmapY(2), 10);
    EXPECT_EQ(v.ScreenToBitmapY(3), 11);
}

TEST(ImgViewGeometry, AutomaticZoomModes)
{
    struct Case {
        int w, h;
        bool fit, stretch, shrink;
        double zoom;
    };
    const Case cases[] = {
        {1, 1, true, false, false, 100},       {2000, 1000, false, false, true, 20},
        {2000, 1000, false, true, false, 100}, {100, 50, false, true, false, 400},
        {100, 50, false, false, true, 100},    {100, 50, true, false, false, 400},
        {2000, 1000, true, false, false, 20},
    };
    for (const Case& c : cases) {
        ViewHost host(400, 400);
        TImgView& v = *host.view;
        v.AutoFit = c.fit;
        v.AutoStretch = c.stretch;
        v.AutoShrink = c.shrink;
        host.Image(c.w, c.h);
        EXPECT_DOUBLE_EQ(v.GetZoomX(), c.zoom) << c.w << "x" << c.h << " " << c.fit << c.stretch << c.shrink;
        EXPECT_DOUBLE_EQ(v.GetZoomY(), c.zoom);
    }
    // Fit enlarges and reduces; an empty extent is left alone.
    ViewHost host(400, 400);
    host.Image(800, 100);
    host.view->Fit();
    EXPECT_DOUBLE_EQ(host.view->GetZoomX(), 50);
    host.view->GetPxBitmap()->Allocate(0, 0, px24RGB);
    host.view->Update();
    host.view->Fit();
    EXPECT_DOUBLE_EQ(host.view->GetZoomX(), 50);
}

TEST(ImgViewGeometry, ZoomAtKeepsThePointAndWheelZooms)
{
    ViewHost host(200, 100);
    TImgView& v = *host.view;
    host.Image(400, 400);
    v.ZoomAt(60, 40, 200, false);
    EXPECT_EQ(v.GetZoomX(), 200);
    EXPECT_EQ(v.GetViewX(), 62);  // trunc(60 * 2 - 60 + 2)
    EXPECT_EQ(v.GetViewY(), 42);
    // Centring bitmap point (81, 46) would scroll to (-19, -4): clamped.
    v.ZoomAt(100, 50, 100, true);
    EXPECT_EQ(v.GetZoomX(), 100);
    EXPECT_EQ(v.GetViewX(), 0);
    EXPECT_EQ(v.GetViewY(), 0);

    // Default wheel settings: toward the user zooms in by 8 percent.
    v.SetZoom(100);
    POINT p{10, 10};
    ClientToScreen(v.GetHandle(), &p);
    v.Perform(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA)), MAKELPARAM(p.x, p.y));
    EXPECT_DOUBLE_EQ(v.GetZoomX(), 108);
    v.Perform(WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), MAKELPARAM(p.x, p.y));
    EXPECT_DOUBLE_EQ(v.GetZoomX(), 99);  // 108 - rnd(8.64)

    // A zoom handler may change the proposed zoom.
    struct Cap : classlib::TObject {
        void ZoomIn(classlib::TObject*, double& z) { z = 150; }
    } cap;
    v.OnZoomIn = TPxZoomEvent(&cap, &Cap::ZoomIn);
    v.Perform(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA)), MAKELPARAM(p.x, p.y));
    EXPECT_DOUBLE_EQ(v.GetZoomX(), 150);
}

TEST(ImgViewGeometry, ZoomSelectionCentresTheBox)
{
    ViewHost host(200, 100);
    TImgView& v = *host.view;
    host.Image(400, 400);
    v.ZoomSelection(true, true);  // no selection: nothing
    EXPECT_EQ(v.GetZoomX(), 100);
    v.SelectRect(100, 120, 150, 145, 0);
    ASSERT_TRUE(v.HasSelection());
    const int x1 = v.GetSelX1(), y1 = v.GetSelY1();
    const int w = v.GetSelX2() - x1 + 1, h = v.GetSelY2() - y1 + 1;
    ASSERT_GE(w, 2);
    ASSERT_GE(h, 2);
    v.ZoomSelection(true, false);
    EXPECT_FALSE(v.HasSelection());
    const double z = std::min(100 / (h / 100.0), 200 / (w / 100.0));
    EXPECT_DOUBLE_EQ(v.GetZoomX(), z);
    v.BuildCoordinateTables();
    // The middle of the view shows the middle of the box (within a pixel).
    EXPECT_NEAR(v.ScreenToBitmapX(100), x1 + w / 2.0, 1.5);
    EXPECT_NEAR(v.ScreenToBitmapY(50), y1 + h / 2.0, 1.5);
}

TEST(ImgViewGeometry, ScrollMessagesAndBars)
{
    ViewHost host(200, 100, classlib::ssBoth);
    TImgView& v = *host.view;
    host.Image(1000, 1000);
    ASSERT_TRUE(v.IsHScrollBarShown());
    ASSERT_TRUE(v.IsVScrollBarShown());
    const int vw = v.GetViewWidth();
    EXPECT_LT(vw, 200);  // the vertical bar took its share
    int mx = 0, my = 0;
    v.GetMaxViewXY(mx, my);
    EXPECT_EQ(mx, 1001 - vw);  // with bars the extent counts one more pixel
    EXPECT_DOUBLE_EQ(v.GetHScrollFactor(), (vw + mx) / 65536.0);
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_RANGE | SIF_PAGE;
    ASSERT_TRUE(GetScrollInfo(v.GetHandle(), SB_HORZ, &info));
    EXPECT_EQ(info.nMin, 0);
    EXPECT_EQ(info.nMax, 65535);
    EXPECT_EQ(static_cast<int>(info.nPage), static_cast<int>(vw / v.GetHScrollFactor()));

    v.SetZoom(300);
    v.SetViewXY(0, 0);
    v.Perform(WM_HSCROLL, MAKEWPARAM(SB_LINERIGHT, 0), 0);
    EXPECT_EQ(v.GetViewX(), 3);
    v.Perform(WM_HSCROLL, MAKEWPARAM(SB_PAGERIGHT, 0), 0);
    EXPECT_EQ(v.GetViewX(), 3 + v.GetViewWidth());
    v.Perform(WM_HSCROLL, MAKEWPARAM(SB_LEFT, 0), 0);
    EXPECT_EQ(v.GetViewX(), 0);
    v.HScrollParams.LineStep = 5;
    v.Perform(WM_HSCROLL, MAKEWPARAM(SB_LINERIGHT, 0), 0);
    EXPECT_EQ(v.GetViewX(), 15);

    // With tracking off only the release of the box moves the view.
    v.HScrollParams.Tracking = false;
    v.Perform(WM_HSCROLL, MAKEWPARAM(SB_THUMBTRACK, 1000), 0);
    EXPECT_EQ(v.GetViewX(), 15);
    v.Perform(WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 1000), 0);
    EXPECT_EQ(v.GetViewX(), static_cast<int>(classlib::Round(1000 * v.GetHScrollFactor())));
    v.Perform(WM_VSCROLL, MAKEWPARAM(SB_BOTTOM, 0), 0);
    v.GetMaxViewXY(mx, my);
    EXPECT_EQ(v.GetViewY(), my);

    // Taking the bars away hides them and gives the view its whole client.
    v.SetScrollBars(classlib::ssNone);
    EXPECT_FALSE(v.IsHScrollBarShown());
    EXPECT_FALSE(v.IsVScrollBarShown());
    EXPECT_EQ(v.GetViewWidth(), 200);
}

TEST(ImgViewGeometry, ResizeRecentresAndSmoothScrollGlides)
{
    ViewHost host(200, 100);
    TImgView& v = *host.view;
    host.Image(100, 50);
    EXPECT_EQ(v.GetOffsetX(), 50);
    v.SetBounds(0, 0, 300, 150);  // the size message updates the view
    EXPECT_EQ(v.GetOffsetX(), 100);
    EXPECT_EQ(v.GetOffsetY(), 50);

    host.Image(1000, 1000);
    std::vector<int> xs;
    struct Log : classlib::TObject {
        TImgView* view;
        std::vector<int>* xs;
        void Changed(classlib::TObject*, int) { xs->push_back(view->GetViewX()); }
    } log;
    log.view = &v;
    log.xs = &xs;
    v.OnViewChange = TViewChangeEvent(&log, &Log::Changed);
    v.SmoothScrollTo(400, 300);
    // The first step runs at once: an eighth of the way.
    EXPECT_EQ(v.GetViewX(), 50);
    const DWORD start = GetTickCount();
    size_t seen = 0;
    DWORD lastMove = start;
    while (GetTickCount() - start < 5000 && GetTickCount() - lastMove < 500) {
        testsupport::PumpMessages();
        if (xs.size() != seen) {
            seen = xs.size();
            lastMove = GetTickCount();
        }
        Sleep(5);
    }
    // Each step moves an eighth of the rest, rounded: it stops a few
    // pixels short, where a step no longer moves.
    EXPECT_GT(v.GetViewX(), 400 - 5);
    EXPECT_LE(v.GetViewX(), 400);
    EXPECT_GT(v.GetViewY(), 300 - 5);
    for (size_t i = 1; i < xs.size(); ++i)
        EXPECT_GE(xs[i], xs[i - 1]);
}

TEST(ImgViewGeometry, RectPolygonRecognition)
{
    struct Case {
        std::vector<POINT> pts;
        bool rect;
    };
    const Case cases[] = {
        {{{0, 0}, {10, 0}, {10, 5}, {0, 5}}, true},
        {{{0, 0}, {0, 5}, {10, 5}, {10, 0}}, true},
        {{{0, 0}, {10, 0}, {10, 5}}, false},
        {{{0, 0}, {10, 0}, {10, 5}, {0, 5}, {0, 0}}, false},
        {{{0, 0}, {10, 0}, {12, 5}, {0, 5}}, false},
        {{{0, 0}, {0, 0}, {10, 5}, {0, 5}}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PxIsRectPolygon(c.pts.data(), static_cast<int>(c.pts.size())), c.rect) << c.pts.size();
}

}  // namespace
