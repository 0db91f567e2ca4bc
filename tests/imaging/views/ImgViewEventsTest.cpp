// Event firing with the selection-base exchange, cursors and the Shift
// cursor switch, the end of a polygon selection, the special-key query and
// the navigator link of the image view.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <vector>

#include "classlib/Component.h"
#include "classlib/Controls.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/views/view/ImgView.h"
#include "imaging/views/view/PxTransitions.h"

using namespace imaging;

namespace {

// A hidden top-level window holding views of a given client size.
class Host {
public:
    Host()
    {
        hwnd_ = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED | WS_CLIPCHILDREN, 0, 0, 800, 800, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    }
    ~Host()
    {
        if (hwnd_)
            DestroyWindow(hwnd_);
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;
    void Show()
    {
        SetWindowPos(hwnd_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
        UpdateWindow(hwnd_);
    }

    std::unique_ptr<TImgView> MakeView(int W, int H, int ImgW, int ImgH)
    {
        auto v = std::make_unique<TImgView>(nullptr);
        v->SetBorderStyle(bsNone);
        v->SetScrollBars(classlib::ssNone);
        v->SetParentWindow(hwnd_);
        v->SetBounds(0, 0, W, H);
        v->GetHandle();
        v->GetPxBitmap()->Allocate(ImgW, ImgH, px24RGB);
        v->GetPxBitmap()->Fill(0x808080);
        v->Update();
        return v;
    }

private:
    HWND hwnd_ = nullptr;
};

int MaskCount(TPxMask& Mask)
{
    int n = 0;
    for (int y = 0; y < Mask.Height; ++y)
        for (int x = 0; x < Mask.Width; ++x)
            n += Mask.GetPixel(x, y) != 0;
    return n;
}

// Records what the view's handlers see.
struct Sink {
    TImgView* view = nullptr;
    TPxSelectionBase seen = pxsbBitmap;
    bool raise = false;
    int changes = 0;
    double zoomTo = 0;
    classlib::TObject* sender = nullptr;
    WORD key = 0;
    bool handledOnEntry = true;
    bool take = false;
    void Base(classlib::TObject*)
    {
        seen = view->SelectionBase;
        if (raise)
            throw std::runtime_error("handler failed");
    }
    void BaseGrip(classlib::TObject*, int) { seen = view->SelectionBase; }
    void BaseLayer(classlib::TObject*, int, TPxLayerEvent) { seen = view->SelectionBase; }
    void Zoom(classlib::TObject*, double& Z)
    {
        seen = view->SelectionBase;
        if (zoomTo > 0)
            Z = zoomTo;
    }
    void Changed(classlib::TObject*) { ++changes; }
    void Step(classlib::TObject*, int) {}
    void TransitionPaint(classlib::TObject*, classlib::TBitmap*, TPxTransitionEffects*, int) {}
    void ViewChanged(classlib::TObject*, int)
    {
        ++changes;
        view->UpdateNavigator();
    }
    void Special(classlib::TObject* Sender, WORD Key, classlib::TShiftState, bool& Handled)
    {
        sender = Sender;
        key = Key;
        handledOnEntry = Handled;
        Handled = take;
    }
};

}  // namespace

TEST(ImgViewEvents, HandlersSeeTheStoredSelectionBaseAndItComesBack)
{
    TImgView view(nullptr);
    view.SelectionBase = pxsbBitmap;
    Sink sink;
    sink.view = &view;
    TPxSelectionBase& seen = sink.seen;
    const classlib::TNotifyEvent notify(&sink, &Sink::Base);
    view.OnSelectionChanging = notify;
    view.OnBeforeSelectionChange = notify;
    view.OnMouseInSel = notify;
    view.OnMouseInResizingGrip = TImgView::TPxMouseInGripEvent(&sink, &Sink::BaseGrip);
    view.OnLayerNotify = TPxLayerNotify(&sink, &Sink::BaseLayer);
    view.OnZoomIn = TPxZoomEvent(&sink, &Sink::Zoom);
    const std::function<void()> fire[] = {
        [&] { view.DoSelectionChanging(); },
        [&] { view.DoBeforeSelectionChange(); },
        [&] { view.DoMouseInSel(); },
        [&] { view.DoMouseInResizingGrip(3); },
        [&] { view.DoLayerNotify(0, pxlMoved); },
        [&] {
            double z = 150;
            view.DoZoomInSwapped(z);
        },
    };
    for (size_t i = 0; i < std::size(fire); ++i) {
        seen = pxsbBitmap;
        fire[i]();
        EXPECT_EQ(seen, pxsbClientArea) << i;  // the stored value before any mouse handling
        EXPECT_EQ(view.SelectionBase, pxsbBitmap) << i;
        EXPECT_EQ(view.GetStoredSelectionBase(), pxsbClientArea) << i;
    }

    // The exchange runs without a handler too, and a raising handler still
    // gets the value exchanged back.
    view.OnMouseInSel = nullptr;
    view.DoMouseInSel();
    EXPECT_EQ(view.SelectionBase, pxsbBitmap);
    sink.raise = true;
    EXPECT_THROW(view.DoSelectionChanging(), std::runtime_error);
    EXPECT_EQ(view.SelectionBase, pxsbBitmap);

    // DoSelectionChange does not exchange.
    sink.raise = false;
    view.OnSelectionChange = notify;
    view.DoSelectionChange();
    EXPECT_EQ(seen, pxsbBitmap);
}

TEST(ImgViewEvents, TransitionHandlersCreateTheTransitionObjectOnlyWhenSet)
{
    TImgView view(nullptr);
    Sink sink;
    EXPECT_FALSE(view.GetOnTransitionStep());
    EXPECT_FALSE(view.GetOnTransitionStop());
    EXPECT_FALSE(view.GetOnTransitionPaint());
    EXPECT_EQ(view.GetTransitions(), nullptr);

    const TImgView::TTransitionStepEvent step(&sink, &Sink::Step);
    view.SetOnTransitionStep(step);
    TPxTransitionEffects* t = view.GetTransitions();
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(t->OnTransitionStep == step);
    EXPECT_TRUE(view.GetOnTransitionStep() == step);

    // Later setters use the same object.
    const TImgView::TTransitionPaintEvent paint(&sink, &Sink::TransitionPaint);
    view.SetOnTransitionPaint(paint);
    view.SetOnTransitionStop(classlib::TNotifyEvent(&sink, &Sink::Changed));
    EXPECT_EQ(view.GetTransitions(), t);
    EXPECT_TRUE(t->OnTransitionPaint == paint);
    EXPECT_TRUE(view.GetOnTransitionStop() == classlib::TNotifyEvent(&sink, &Sink::Changed));
}

TEST(ImgViewEvents, CursorTableAndMissingResourcesFallBack)
{
    struct Case {
        classlib::TCursor id;
        const wchar_t* name;
    } cases[] = {{1778, L"ZOOMMENO"}, {1785, L"CROCE3"}, {1791, L"CROCE3+"}, {1796, L"CROCE2-"},
                 {1797, L"1795"},     {1804, L"1802"},   {1806, L"1803"},    {1807, L"1805"},
                 {1814, L"ROT4"},     {1777, L""},       {1815, L""}};
    for (const Case& c : cases)
        EXPECT_EQ(TImgView::CursorResourceName(c.id), c.name) << c.id;

    // The program has none of these resources: a cursor registered before
    // under such an id is removed and the default cursor shows for it.
    HCURSOR cross = LoadCursorW(nullptr, IDC_CROSS);
    HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
    classlib::SetCursorHandle(1785, cross);
    classlib::SetCursorHandle(1814, cross);
    ASSERT_EQ(classlib::GetCursorHandle(1785), cross);
    TImgView::ImgViewLoadCursors();
    EXPECT_EQ(classlib::GetCursorHandle(1785), arrow);
    EXPECT_EQ(classlib::GetCursorHandle(1814), arrow);
}

TEST(ImgViewEvents, TemporaryAndShiftCursors)
{
    classlib::TComponent owner(nullptr);
    auto* view = new TImgView(&owner);  // owned by owner
    view->SetCursor(1785);
    view->SetTempCursor(1782);
    EXPECT_EQ(view->GetCursor(), 1782);
    EXPECT_EQ(view->GetSavedCursor(), 1785);
    view->RestoreCursor();
    EXPECT_EQ(view->GetCursor(), 1785);

    struct Case {
        classlib::TCursor saved, shown;
        bool shiftAdds;
        classlib::TCursor afterDown;
    } cases[] = {
        {1785, 1785, true, 1791}, {1793, 1793, true, 1794}, {1780, 1780, true, 1780},
        {1785, 1785, false, 1785}, {1793, 1793, false, 1793},
    };
    for (const Case& c : cases) {
        view->ShiftAddsSelection = c.shiftAdds;
        view->SetCursor(c.saved);
        view->ApplyShiftCursor(true, classlib::ssShift);
        EXPECT_EQ(view->GetCursor(), c.afterDown) << c.saved << " " << c.shiftAdds;
        view->ApplyShiftCursor(true, 0);  // a key-down without Shift changes nothing
        EXPECT_EQ(view->GetCursor(), c.afterDown);
        view->ApplyShiftCursor(false, classlib::ssShift);  // Shift still held
        EXPECT_EQ(view->GetCursor(), c.afterDown);
        view->ApplyShiftCursor(false, 0);
        EXPECT_EQ(view->GetCursor(), c.saved);
    }

    // Without an owner temporary cursors are not shown.
    TImgView loose(nullptr);
    loose.SetCursor(1793);
    loose.ApplyShiftCursor(true, classlib::ssShift);
    loose.SetTempCursor(1782);
    EXPECT_EQ(loose.GetCursor(), 1793);
}

TEST(ImgViewEvents, FinishPolygonDropsTheDoubleClickPoint)
{
    struct Case {
        bool dropLast, shift, shiftAdds;
        int expected;  // selected pixels
    } cases[] = {
        // The duplicate (30,2) press would otherwise make a second triangle
        // out of (2,2)-(30,2)-(30,30)-(30,2)... dropping it leaves the square.
        {true, false, true, 28 * 28},
        // A previous 3 x 3 selection at (40,40) is kept only when Shift adds.
        {true, true, true, 28 * 28 + 9},
        {true, true, false, 28 * 28},
    };
    for (const Case& c : cases) {
        TImgView view(nullptr);
        view.SetLegacyBitmap(false);
        view.GetPxBitmap()->Allocate(50, 50, px24RGB);
        view.Update();
        view.SelectionBase = pxsbBitmap;
        view.SelectRect(40, 40, 43, 43, 0);
        ASSERT_EQ(MaskCount(*view.GetSelectionMask()), 9);
        view.GetSelectionOutline().Clear();
        for (POINT p : {POINT{2, 2}, POINT{30, 2}, POINT{30, 30}, POINT{2, 30}})
            view.AddSelectionPoint(p.x, p.y);
        view.GetSelectionOutline().AddSeparator();
        view.AddSelectionPoint(45, 2);  // the second press of the double click
        view.ShiftAddsSelection = c.shiftAdds;
        view.PolySelecting = true;
        Sink sink;
        view.OnSelectionChange = classlib::TNotifyEvent(&sink, &Sink::Changed);
        view.FinishPolygonSelection(c.shift, c.dropLast);
        EXPECT_EQ(view.GetSelectionPolygonCount(), 4) << "separator and point dropped";
        EXPECT_EQ(MaskCount(*view.GetSelectionMask()), c.expected) << c.shift << c.shiftAdds;
        EXPECT_FALSE(view.PolySelecting);
        EXPECT_EQ(sink.changes, 1);
    }
}

TEST(ImgViewEvents, DoubleClickAndSpecialKeyMessages)
{
    Host host;
    auto view = host.MakeView(100, 100, 100, 100);
    view->SelectionBase = pxsbBitmap;
    Sink sink;
    int& changes = sink.changes;
    view->OnSelectionChange = classlib::TNotifyEvent(&sink, &Sink::Changed);
    auto startPolygon = [&] {
        view->GetSelectionOutline().Clear();
        for (POINT p : {POINT{10, 10}, POINT{60, 10}, POINT{60, 60}, POINT{60, 60}})
            view->AddSelectionPoint(p.x, p.y);
        view->PolySelecting = true;
    };

    // A lasso under way is left alone.
    startPolygon();
    view->LassoSelecting = true;
    classlib::TMessage dbl{WM_LBUTTONDBLCLK, 0, MAKELPARAM(60, 60), 0};
    view->WMLButtonDblClk(dbl);
    EXPECT_TRUE(view->PolySelecting);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(view->GetSelectionPolygonCount(), 4);

    view->LassoSelecting = false;
    view->WMLButtonDblClk(dbl);
    EXPECT_FALSE(view->PolySelecting);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(view->GetSelectionPolygonCount(), 3);
    EXPECT_GT(MaskCount(*view->GetSelectionMask()), 1000);

    // The special-key query: a handler that takes the key makes the result
    // 1; one that does not leaves the default result.
    classlib::TMessage none{TImgView::CmWantSpecialKey, VK_LEFT, 0, 0};
    view->CMWantSpecialKey(none);
    const LRESULT byDefault = none.Result;
    view->OnSpecialKey = TImgView::TPxSpecialKeyEvent(&sink, &Sink::Special);
    classlib::TMessage left{TImgView::CmWantSpecialKey, VK_LEFT, 0, 0};
    view->CMWantSpecialKey(left);
    EXPECT_EQ(sink.sender, view.get());
    EXPECT_FALSE(sink.handledOnEntry);
    EXPECT_EQ(sink.key, VK_LEFT);
    EXPECT_EQ(left.Result, byDefault);
    sink.take = true;
    classlib::TMessage right{TImgView::CmWantSpecialKey, VK_RIGHT, 0, 0};
    view->CMWantSpecialKey(right);
    EXPECT_EQ(sink.key, VK_RIGHT);
    EXPECT_EQ(right.Result, 1);
}

TEST(ImgViewEvents, NavigatorFollowsAndScrollsTheView)
{
    Host host;
    auto main = host.MakeView(100, 100, 400, 300);
    auto nav = host.MakeView(80, 60, 10, 10);
    main->SetNavigator(nav.get(), 1);
    EXPECT_EQ(main->GetNavigator(), nav.get());
    EXPECT_TRUE(nav->GetIsNavigator());
    EXPECT_EQ(nav->GetNavigatorOptions(), 1);
    EXPECT_EQ(nav->GetPxBitmap(), main->GetPxBitmap());
    EXPECT_TRUE(nav->AutoFit);
    EXPECT_EQ(nav->SelectionBase, pxsbBitmap);
    EXPECT_EQ(nav->GetMouseInteract(), TImgView::miSelect);
    EXPECT_EQ(nav->GetSelectionOptions() & ~pxsoSizeable, pxsoMoveable | pxsoCanScroll);
    EXPECT_EQ(nav->SelectionAspect, 0.0);
    EXPECT_EQ(nav->GetSelectionOptions() & pxsoSizeable, 0);

    // The visible area of the main view is the navigator's selection (the
    // mask's right and bottom are its last pixels).
    EXPECT_EQ(nav->GetSelX1(), 0);
    EXPECT_EQ(nav->GetSelY1(), 0);
    EXPECT_EQ(nav->GetSelX2(), 99);
    EXPECT_EQ(nav->GetSelY2(), 99);
    main->SetViewXY(50, 40);
    main->UpdateNavigator();
    EXPECT_EQ(nav->GetSelX1(), 50);
    EXPECT_EQ(nav->GetSelY1(), 40);
    EXPECT_EQ(nav->GetSelX2(), 149);
    EXPECT_EQ(nav->GetSelY2(), 139);

    // Moving the navigator's selection scrolls the main view (bitmap
    // coordinates times the zoom).
    // The navigator updates that the scroll causes do nothing meanwhile.
    Sink sink;
    sink.view = main.get();
    main->OnViewChange = TViewChangeEvent(&sink, &Sink::ViewChanged);
    nav->SelectRect(120, 60, 220, 160, 0);
    nav->SelectionFixedWidth = -7;
    ASSERT_TRUE(nav->OnSelectionChanging);
    nav->OnSelectionChanging(nav.get());
    EXPECT_EQ(main->GetViewX(), 120);
    EXPECT_EQ(main->GetViewY(), 60);
    EXPECT_GT(sink.changes, 0);
    EXPECT_EQ(nav->SelectionFixedWidth, -7);
    // Nor while the main view holds its paint lock.
    main->BeginPaintLock();
    main->UpdateNavigator();
    EXPECT_EQ(nav->SelectionFixedWidth, -7);
    main->EndPaintLockNoUpdate();
    main->UpdateNavigator();
    EXPECT_EQ(nav->SelectionFixedWidth, 100);
    main->OnViewChange = nullptr;
    main->SetZoom(200);
    nav->SelectRect(101, 33, 151, 83, 0);
    nav->OnSelectionChanging(nav.get());
    EXPECT_EQ(main->GetViewX(), 202);
    EXPECT_EQ(main->GetViewY(), 66);

    // Unlinking gives the navigator an image of its own.
    main->SetNavigator(nullptr, 0);
    EXPECT_EQ(main->GetNavigator(), nullptr);
    EXPECT_FALSE(nav->GetIsNavigator());
    EXPECT_NE(nav->GetPxBitmap(), main->GetPxBitmap());
    EXPECT_FALSE(nav->OnSelectionChanging);
}

TEST(ImgViewEvents, DestroyingEitherSideClearsTheLink)
{
    Host host;
    auto main = host.MakeView(100, 100, 200, 200);
    auto nav = host.MakeView(50, 50, 10, 10);
    main->SetNavigator(nav.get(), 3);
    nav.reset();
    EXPECT_EQ(main->GetNavigator(), nullptr);
    main->Update();  // must not reach the freed navigator
    main->SetViewXY(10, 10);

    // The main view going first leaves the navigator with its own image and
    // no handlers into the freed view.
    nav = host.MakeView(50, 50, 10, 10);
    main->SetNavigator(nav.get(), 1);
    main.reset();
    EXPECT_FALSE(nav->GetIsNavigator());
    EXPECT_FALSE(nav->OnSelectionChanging);
    EXPECT_FALSE(nav->OnNavigatorWheel);
    nav->GetPxBitmap()->Allocate(4, 4, px24RGB);
    nav->Update();
}

// Grey level of a pixel as the window shows it.
int OnWindow(TImgView& View, int X, int Y)
{
    HDC dc = GetDC(View.GetHandle());
    const COLORREF c = GetPixel(dc, X, Y);
    ReleaseDC(View.GetHandle(), dc);
    return GetGValue(c);
}

TEST(ImgViewEvents, NavigatorShadesOutsideTheVisibleArea)
{
    Host host;
    host.Show();
    // The navigator shows the 400 x 300 image at half size; the main view's
    // 100 x 100 area is a 50 x 50 selection in it.
    auto main = host.MakeView(100, 100, 400, 300);
    auto nav = host.MakeView(200, 150, 10, 10);
    nav->SetBounds(250, 0, 200, 150);
    const int grey = 0x80;
    auto shaded = [&](int X, int Y) { return OnWindow(*nav, X, Y) < grey - 20; };
    auto plain = [&](int X, int Y) { return OnWindow(*nav, X, Y) == grey; };

    main->SetNavigator(nav.get(), 2);
    // The link itself arms the delayed outline; the paint that the message
    // loop delivers next shades around it.
    UpdateWindow(nav->GetHandle());
    EXPECT_TRUE(plain(25, 25));
    EXPECT_TRUE(shaded(125, 75));
    EXPECT_TRUE(shaded(190, 140));

    // Each move of the main view moves the unshaded area with it, at once
    // (the paint follows the rectangle of this update, not the one before).
    struct Step {
        int viewX, viewY;
        POINT inside, outside;
    } steps[] = {
        {200, 100, {125, 75}, {25, 25}},
        {300, 200, {175, 125}, {125, 75}},
        {0, 0, {25, 25}, {175, 125}},
    };
    // Every paint of the navigator during a move shades around the new
    // rectangle: no frame shows the old one.
    struct PaintLog {
        TImgView* nav = nullptr;
        std::vector<RECT> shadedAround;
        void Painted(classlib::TObject*) { shadedAround.push_back(nav->GetLastSelectionRect()); }
    } log;
    log.nav = nav.get();
    nav->OnPaint = classlib::TNotifyEvent(&log, &PaintLog::Painted);
    for (const Step& s : steps) {
        log.shadedAround.clear();
        main->SetViewXY(s.viewX, s.viewY);
        main->UpdateNavigator();
        ASSERT_FALSE(log.shadedAround.empty());
        for (const RECT& r : log.shadedAround) {
            EXPECT_EQ(r.left, s.inside.x - 24) << s.viewX;
            EXPECT_EQ(r.top, s.inside.y - 24) << s.viewX;
        }
        EXPECT_TRUE(plain(s.inside.x, s.inside.y)) << s.viewX;
        EXPECT_TRUE(shaded(s.outside.x, s.outside.y)) << s.viewX;
        // A paint message on its own keeps the same picture.
        RedrawWindow(nav->GetHandle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        EXPECT_TRUE(plain(s.inside.x, s.inside.y)) << s.viewX;
        EXPECT_TRUE(shaded(s.outside.x, s.outside.y)) << s.viewX;
    }

    nav->OnPaint = nullptr;

    // Without option bit 1 nothing is shaded; a screen of 16 bits copies
    // plainly as well.
    main->SetNavigator(nav.get(), 0);
    main->SetViewXY(200, 100);
    main->UpdateNavigator();
    EXPECT_TRUE(plain(25, 25));
    EXPECT_TRUE(plain(190, 140));
    TImgView::TImgViewGlobals& g = TImgView::Globals();
    const int bits = g.ScreenBits;
    g.ScreenBits = 16;
    main->SetNavigator(nav.get(), 2);
    EXPECT_TRUE(plain(25, 25));
    g.ScreenBits = bits;
}

TEST(ImgViewEvents, NavigatorWheelZoomsTheView)
{
    Host host;
    struct Case {
        int delta;
        bool inverse;
        uint8_t variation;
        int value;
        double expected;
    } cases[] = {
        {-120, false, 1, 8, 108},  // towards the user: zoom in by 8 percent
        {120, false, 1, 8, 92},
        {0, false, 1, 8, 108},
        {120, true, 1, 8, 108},
        {-120, false, 1, 0, 101},  // at least one step
        {-120, false, 0, 10, 110},
        {-120, false, 7, 10, 100},  // unknown variation keeps the zoom
    };
    for (const Case& c : cases) {
        auto main = host.MakeView(100, 100, 400, 300);
        auto nav = host.MakeView(50, 50, 10, 10);
        main->SetNavigator(nav.get(), 1);
        ASSERT_TRUE(nav->OnNavigatorWheel);
        nav->WheelParams.InverseDirection = c.inverse;
        nav->WheelParams.Variation = c.variation;
        nav->WheelParams.Value = c.value;
        nav->WheelParams.ZoomPosition = false;
        bool handled = false;
        nav->OnNavigatorWheel(nav.get(), 0, c.delta, POINT{5, 5}, handled);
        EXPECT_TRUE(handled);
        EXPECT_DOUBLE_EQ(main->GetZoomX(), c.expected) << c.delta << " " << int(c.variation);
    }

    // The zoom-in handler may change the proposed zoom; without option bit 0
    // the navigator's wheel is not linked.
    auto main = host.MakeView(100, 100, 400, 300);
    auto nav = host.MakeView(50, 50, 10, 10);
    Sink sink;
    sink.view = main.get();
    sink.zoomTo = 250;
    main->SelectionBase = pxsbBitmap;
    main->OnZoomIn = TPxZoomEvent(&sink, &Sink::Zoom);
    main->SetNavigator(nav.get(), 1);
    bool handled = false;
    nav->OnNavigatorWheel(nav.get(), 0, -120, POINT{5, 5}, handled);
    EXPECT_DOUBLE_EQ(main->GetZoomX(), 250);
    EXPECT_EQ(sink.seen, pxsbClientArea);
    EXPECT_EQ(main->SelectionBase, pxsbBitmap);
    main->SetNavigator(nav.get(), 2);
    EXPECT_FALSE(nav->OnNavigatorWheel);
}

TEST(ImgViewEvents, UnitStartupAndShutdown)
{
    TImgView::ImgViewStartup();
    const TImgView::TImgViewGlobals& g = TImgView::Globals();
    EXPECT_EQ(g.DefaultDpiX, 300);
    EXPECT_EQ(g.DefaultDpiY, 300);
    EXPECT_EQ(g.PixelGridZoom, 400);
    EXPECT_GT(g.ScreenBits, 0);
    EXPECT_GT(g.ScreenDpiX, 0);
    EXPECT_EQ(g.VScrollWidth, GetSystemMetrics(SM_CXVSCROLL));
    ASSERT_TRUE(g.XorPen);
    EXPECT_EQ(g.XorPen->GetMode(), classlib::pmNot);
    EXPECT_EQ(g.XorPen->GetWidth(), 1);
    TImgView::ImgViewShutdown();
    EXPECT_FALSE(g.XorPen);
    EXPECT_EQ(g.MsImg32, nullptr);
    TImgView::ImgViewStartup();  // leave the shared values as other tests expect them
}
