// Mouse and keyboard interaction of the image view, driven by window messages
// sent to a view inside a hidden host window: the reduction of the
// interaction set, zoom clicks, drag scrolling, rectangle selections (new,
// added with Shift, moved, resized by a grip), and moving, resizing and
// rotating layers.
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxMask.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/views/view/ImgView.h"
#include "support/HostWindow.h"

using namespace imaging;

namespace {

using TV = TImgView;

class MouseHost {
public:
    // A view with an owner shows temporary cursors (an ownerless one keeps
    // its own); the owner must outlive the host.
    MouseHost(int W, int H, classlib::TComponent* Owner = nullptr)
    {
        host_ = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED | WS_CLIPCHILDREN, 0, 0, 600, 600, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        view = std::make_unique<TImgView>(Owner);
        view->SetBorderStyle(imaging::bsNone);
        view->SetScrollBars(classlib::ssNone);
        view->SetParentWindow(host_);
        view->SetBounds(0, 0, W, H);
        view->GetHandle();
        view->SetLegacyBitmap(false);
    }
    ~MouseHost()
    {
        view.reset();
        if (host_)
            DestroyWindow(host_);
    }
    MouseHost(const MouseHost&) = delete;
    MouseHost& operator=(const MouseHost&) = delete;

    void Image(int W, int H)
    {
        view->GetPxBitmap()->Allocate(W, H, px24RGB);
        view->GetPxBitmap()->Fill(0x808080);
        view->Update();
        Compose();
    }
    // Lays the layers out on screen as painting does (their ScreenRect) and
    // parks the real cursor over the view, where automatic scrolling reads it.
    void Compose()
    {
        TPxBitmap dest;
        dest.Allocate(view->GetWidth(), view->GetHeight(), px24RGB);
        view->DrawLayers(&dest, nullptr, false, true, nullptr);
        POINT p{view->GetWidth() / 2, view->GetHeight() / 2};
        ClientToScreen(view->GetHandle(), &p);
        SetCursorPos(p.x, p.y);
    }
    void Send(UINT Msg, WPARAM Keys, int X, int Y)
    {
        SendMessageW(view->GetHandle(), Msg, Keys, MAKELPARAM(X, Y));
    }
    // Press at the first point, move through the others (button held),
    // release at the last.
    void Drag(const std::vector<POINT>& Path, WPARAM Extra = 0)
    {
        Send(WM_LBUTTONDOWN, MK_LBUTTON | Extra, Path.front().x, Path.front().y);
        for (size_t i = 1; i < Path.size(); ++i)
            Send(WM_MOUSEMOVE, MK_LBUTTON | Extra, Path[i].x, Path[i].y);
        Send(WM_LBUTTONUP, Extra, Path.back().x, Path.back().y);
    }
    void Click(bool Right, int X, int Y)
    {
        Send(Right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, Right ? MK_RBUTTON : MK_LBUTTON, X, Y);
        Send(Right ? WM_RBUTTONUP : WM_LBUTTONUP, 0, X, Y);
    }

    std::unique_ptr<TImgView> view;

private:
    HWND host_ = nullptr;
};

int CountSelected(TPxMask& Mask)
{
    int n = 0;
    for (int y = 0; y < Mask.Height; ++y)
        for (int x = 0; x < Mask.Width; ++x)
            n += Mask.GetPixel(x, y) != 0;
    return n;
}

struct Recorder : classlib::TObject {
    int selectionChanges = 0;
    std::vector<std::pair<int, TPxLayerEvent>> layerEvents;
    void SelChange(classlib::TObject*) { ++selectionChanges; }
    void Layer(classlib::TObject*, int Index, TPxLayerEvent Event) { layerEvents.emplace_back(Index, Event); }
};

}  // namespace

TEST(ImgViewMouse, InteractSetIsReducedByTheNewItem)
{
    struct Case {
        TV::TPxMouseInteract before, set, expected;
    };
    const Case cases[] = {
        // A newly added item keeps only what goes with it.
        {TV::miScroll | TV::miZoom, TV::miScroll | TV::miZoom | TV::miSelect, TV::miZoom | TV::miSelect},
        {0, TV::miSelectPolygon | TV::miZoom | TV::miMovingScroll, TV::miSelectPolygon | TV::miMovingScroll},
        {TV::miSelect, TV::miSelect | TV::miSelectMagicWand, TV::miSelectMagicWand},
        {0, TV::miZoom | TV::miSelectLasso | TV::miMoveLayers, TV::miZoom | TV::miSelectLasso},
        // Layer items: rotation allows only moving beside it.
        {0, TV::miRotateLayers | TV::miResizeLayers | TV::miMoveLayers, TV::miRotateLayers | TV::miMoveLayers},
        {TV::miZoom, TV::miZoom | TV::miMoveLayers | TV::miResizeLayers, TV::miMoveLayers | TV::miResizeLayers},
        {0, TV::miMoveLayers | TV::miMovingScroll, TV::miMoveLayers | TV::miMovingScroll},
    };
    for (const Case& c : cases) {
        TImgView v(nullptr);
        v.SetMouseInteract(c.before);
        v.SetMouseInteract(c.set);
        EXPECT_EQ(v.GetMouseInteract(), c.expected) << c.before << " -> " << c.set;
    }
}

TEST(ImgViewMouse, ZoomClicksStepThroughTheTable)
{
    struct Case {
        double from;
        bool right;
        double to;
    };
    const Case cases[] = {{100, true, 200}, {450, true, 500}, {600, true, 500}, {30, true, 50},
                          {100, false, 75}, {7, false, 5},    {5, false, 5},    {250, false, 150}};
    MouseHost h(200, 200);
    h.Image(100, 100);
    h.view->SetMouseInteract(TV::miZoom);
    for (const Case& c : cases) {
        h.view->SetZoom(c.from);
        h.Compose();
        h.Click(c.right, 100, 100);
        EXPECT_DOUBLE_EQ(h.view->GetZoomX(), c.to) << c.from << (c.right ? " right" : " left");
        EXPECT_DOUBLE_EQ(h.view->GetZoomY(), c.to);
    }

    // The zoom event may change the value; a press and release at different
    // points is no click.
    struct Z : classlib::TObject {
        void In(classlib::TObject*, double& NewZoom) { NewZoom = 300; }
    } z;
    h.view->OnZoomIn = TPxZoomEvent(&z, &Z::In);
    h.view->SetZoom(100);
    h.Compose();
    h.Click(true, 100, 100);
    EXPECT_DOUBLE_EQ(h.view->GetZoomX(), 300);
    h.view->SetZoom(100);
    h.Compose();
    h.Send(WM_RBUTTONDOWN, MK_RBUTTON, 100, 100);
    h.Send(WM_RBUTTONUP, 0, 110, 100);
    EXPECT_DOUBLE_EQ(h.view->GetZoomX(), 100);
}

TEST(ImgViewMouse, DragScrollsByTheFactor)
{
    MouseHost h(200, 200);
    h.Image(400, 400);
    h.view->SetMouseInteract(TV::miScroll);
    h.Drag({{150, 150}, {120, 140}, {100, 120}});
    EXPECT_EQ(h.view->GetViewX(), 50);
    EXPECT_EQ(h.view->GetViewY(), 30);

    h.view->ScrollDragFactor = 2.0;
    h.Drag({{100, 100}, {90, 95}});
    EXPECT_EQ(h.view->GetViewX(), 70);
    EXPECT_EQ(h.view->GetViewY(), 40);
    // The view stops at its range.
    h.Drag({{0, 0}, {-400, -400}});
    EXPECT_EQ(h.view->GetViewX(), 200);
    EXPECT_EQ(h.view->GetViewY(), 200);
}

TEST(ImgViewMouse, RectangleSelectionDragClickAndShiftAdd)
{
    MouseHost h(100, 100);
    h.Image(100, 100);
    TImgView& v = *h.view;
    Recorder rec;
    v.OnSelectionChange = classlib::TNotifyEvent(&rec, &Recorder::SelChange);
    v.SetMouseInteract(TV::miSelect);
    v.SelectionBase = pxsbBitmap;  // the handlers work in client coordinates regardless

    h.Drag({{10, 10}, {25, 18}, {30, 20}});
    ASSERT_TRUE(v.HasSelection());
    EXPECT_EQ(CountSelected(*v.GetSelectionMask()), 20 * 10);
    EXPECT_EQ(v.GetSelectionPolygonCount(), 4);
    EXPECT_EQ(rec.selectionChanges, 1);
    EXPECT_EQ(v.SelectionBase, pxsbBitmap);
    EXPECT_FALSE(v.RectSelecting);

    // Shift-drag adds a second polygon; going back and forth replaces only
    // the new part.
    h.Drag({{50, 50}, {80, 90}, {60, 70}, {70, 60}}, MK_SHIFT);
    EXPECT_EQ(v.GetSelectionPolygonCount(), 9);
    EXPECT_EQ(CountSelected(*v.GetSelectionMask()), 200 + 20 * 10);
    EXPECT_EQ(rec.selectionChanges, 2);

    // A click without moving (outside the selection) deselects.
    h.Click(false, 90, 5);
    EXPECT_FALSE(v.HasSelection());
    EXPECT_EQ(rec.selectionChanges, 3);
}

TEST(ImgViewMouse, SelectionMovesAndGripKeepsSquare)
{
    MouseHost h(100, 100);
    h.Image(100, 100);
    TImgView& v = *h.view;
    v.SetMouseInteract(TV::miSelect);
    h.Drag({{10, 10}, {40, 30}});
    ASSERT_EQ(CountSelected(*v.GetSelectionMask()), 600);

    // Dragging inside moves it.
    h.Drag({{25, 20}, {28, 22}, {30, 27}});
    EXPECT_EQ(v.GetSelX1(), 15);
    EXPECT_EQ(v.GetSelY1(), 17);
    EXPECT_EQ(CountSelected(*v.GetSelectionMask()), 600);
    EXPECT_NE(v.GetSelectionMask()->GetPixel(15, 17), 0);
    EXPECT_EQ(v.GetSelectionMask()->GetPixel(14, 17), 0);

    // A grip drag keeps the ratio when constrained: first make it square.
    h.Drag({{10, 10}, {30, 30}});
    h.Drag({{20, 20}, {25, 22}});
    ASSERT_EQ(v.GetSelX1(), 15);
    ASSERT_EQ(v.GetSelY1(), 12);
    v.ConstrainAlways = true;
    const int gx = v.SelLayerToScreenX(v.GetSelX2());
    const int gy = v.SelLayerToScreenY(v.GetSelY2());
    ASSERT_EQ(v.GetSelectionGripAt(gx, gy, false), 3);
    h.Drag({{gx, gy}, {gx + 12, gy + 3}, {gx + 20, gy + 5}});
    const int w = v.GetSelX2() - v.GetSelX1();
    const int hgt = v.GetSelY2() - v.GetSelY1();
    EXPECT_GT(w, 30);
    EXPECT_EQ(w, hgt);
    EXPECT_EQ(v.GetSelX1(), 15);
    EXPECT_EQ(v.GetSelY1(), 12);
}

TEST(ImgViewMouse, LayerMoveResizeAndLock)
{
    MouseHost h(100, 100);
    h.Image(100, 100);
    TImgView& v = *h.view;
    const int l = v.AddLayer();
    TPxLayer* layer = v.GetLayer(l);
    layer->Bitmap->Allocate(20, 20, px24RGB);
    layer->PosX = 10;
    layer->PosY = 10;
    v.Update();
    v.SetCurrentLayer(0);
    h.Compose();
    Recorder rec;
    v.OnLayerNotify = TPxLayerNotify(&rec, &Recorder::Layer);
    v.SetMouseInteract(TV::miMoveLayers | TV::miResizeLayers);
    v.LayerUndoOnDrag = true;

    h.Drag({{15, 15}, {20, 22}, {25, 30}});
    // One undo record for the whole drag, of the layer records.
    ASSERT_EQ(v.GetProc()->GetUndoCount(), 1);
    EXPECT_EQ(v.GetProc()->UndoSourceAt(0), pxuLayer);
    EXPECT_EQ(v.GetLayersCurrent(), l);
    EXPECT_EQ(layer->PosX, 20);
    EXPECT_EQ(layer->PosY, 25);
    ASSERT_GE(rec.layerEvents.size(), 3u);
    EXPECT_EQ(rec.layerEvents.front(), std::make_pair(l, pxlSelected));
    EXPECT_EQ(rec.layerEvents[1], std::make_pair(l, pxlMoving));
    EXPECT_EQ(rec.layerEvents.back(), std::make_pair(l, pxlMoved));
    EXPECT_EQ(v.MovingLayer, -1);

    // A locked layer is selected but stays where it is.
    h.Compose();
    layer->Locked = true;
    rec.layerEvents.clear();
    h.Drag({{30, 35}, {40, 45}});
    EXPECT_EQ(layer->PosX, 20);
    EXPECT_EQ(layer->PosY, 25);
    ASSERT_EQ(rec.layerEvents.size(), 1u);
    EXPECT_EQ(rec.layerEvents.front().second, pxlSelected);
    layer->Locked = false;

    // The left grip dragged right past the right edge stops at width 1.
    h.Compose();
    RECT grips[8];
    ASSERT_TRUE(v.GetGripRects(l, grips));
    const int gx = (grips[4].left + grips[4].right) / 2;
    const int gy = (grips[4].top + grips[4].bottom) / 2;
    ASSERT_EQ(v.GetGripAt(gx, gy), 5);
    rec.layerEvents.clear();
    h.Drag({{gx, gy}, {gx + 10, gy}, {gx + 40, gy}});
    EXPECT_EQ(layer->GetWidth(), 1);
    EXPECT_EQ(layer->GetHeight(), 20);
    EXPECT_EQ(rec.layerEvents.back().second, pxlResized);
    EXPECT_EQ(v.LayerGrip, 0);
}

TEST(ImgViewMouse, RotationSnapsWithShift)
{
    MouseHost h(200, 200);
    h.Image(400, 400);
    TImgView& v = *h.view;
    v.SetZoom(50);
    const int l = v.AddLayer();
    TPxLayer* layer = v.GetLayer(l);
    layer->Bitmap->Allocate(40, 40, px24RGB);
    layer->PosX = 180;
    layer->PosY = 180;
    v.Update();
    h.Compose();
    ASSERT_EQ(v.GetLayersCurrent(), l);
    Recorder rec;
    v.OnLayerNotify = TPxLayerNotify(&rec, &Recorder::Layer);
    v.SetMouseInteract(TV::miRotateLayers);

    // Above the centre, moving left turns the layer positively; each
    // screen pixel is two bitmap pixels, a quarter degree each.
    std::vector<double> angles;
    h.Send(WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, 195, 10);
    for (int x : {150, 105, 15}) {
        h.Send(WM_MOUSEMOVE, MK_LBUTTON | MK_SHIFT, x, 10);
        angles.push_back(layer->Rotate);
    }
    h.Send(WM_LBUTTONUP, MK_SHIFT, 15, 10);
    EXPECT_EQ(angles, (std::vector<double>{0, 45, 90}));
    EXPECT_DOUBLE_EQ(v.RotationAccumulator, 90);
    EXPECT_EQ(v.RotatingLayer, -1);
    EXPECT_EQ(rec.layerEvents.back(), std::make_pair(l, pxlRotated));

    // Without Shift the angle is the accumulated one.
    layer->SetRotation(0);
    h.Drag({{195, 10}, {185, 10}});
    EXPECT_DOUBLE_EQ(layer->Rotate, 5);
}

TEST(ImgViewMouse, PolygonLassoCircleWandAndZoomSelections)
{
    MouseHost h(100, 100);
    h.Image(100, 100);
    TImgView& v = *h.view;
    Recorder rec;
    v.OnSelectionChange = classlib::TNotifyEvent(&rec, &Recorder::SelChange);

    // Polygon: one vertex per click; changing the interaction ends it and
    // drops the last vertex (the second press of a closing double click).
    v.SetMouseInteract(TV::miSelectPolygon);
    for (POINT p : std::vector<POINT>{{10, 10}, {50, 10}, {50, 40}, {50, 40}})
        h.Click(false, p.x, p.y);
    EXPECT_TRUE(v.PolySelecting);
    EXPECT_EQ(v.GetSelectionPolygonCount(), 4);
    v.SetMouseInteract(TV::miSelectLasso);
    EXPECT_FALSE(v.PolySelecting);
    EXPECT_EQ(v.GetSelectionPolygonCount(), 3);
    const int triangle = CountSelected(*v.GetSelectionMask());
    EXPECT_GT(triangle, 550);
    EXPECT_LT(triangle, 650);

    // Lasso: the points follow the mouse while the button is held; the
    // release fills it and reports the change. (A press inside the
    // triangle would move it instead.)
    rec.selectionChanges = 0;
    h.Drag({{55, 55}, {85, 55}, {85, 85}, {55, 85}});
    EXPECT_FALSE(v.PolySelecting);
    EXPECT_FALSE(v.LassoSelecting);
    EXPECT_EQ(v.GetSelectionPolygonCount(), 4);
    const int square = CountSelected(*v.GetSelectionMask());
    EXPECT_GE(square, 30 * 30);
    EXPECT_LE(square, 31 * 31);
    EXPECT_EQ(rec.selectionChanges, 1);

    // Ellipse of radii 20 x 10 around the press: round(10 * 2 pi) = 63
    // points.
    v.SetMouseInteract(TV::miSelectCircle);
    h.Drag({{50, 50}, {70, 60}});
    EXPECT_EQ(v.GetSelectionPolygonCount(), 63);
    const int ellipse = CountSelected(*v.GetSelectionMask());
    EXPECT_GT(ellipse, 560);
    EXPECT_LT(ellipse, 700);
    EXPECT_FALSE(v.CircleSelecting);

    // Magic wand on release, within the dark square only.
    v.GetPxBitmap()->Fill(0xFFFFFF);
    v.GetPxBitmap()->FillRect(60, 10, 79, 29, 0x000000);
    v.WandMode = 1;
    v.SetMouseInteract(TV::miSelectMagicWand);
    v.Deselect();
    h.Click(false, 70, 20);
    EXPECT_EQ(CountSelected(*v.GetSelectionMask()), 400);
    EXPECT_NE(v.GetSelectionMask()->GetPixel(60, 10), 0);
    EXPECT_EQ(v.GetSelectionMask()->GetPixel(59, 10), 0);

    // Zoom to a drawn rectangle: the rectangle is only a tool, the
    // selection comes back as it was.
    v.SetMouseInteract(TV::miSelectZoom);
    h.Drag({{20, 20}, {45, 45}});
    EXPECT_GT(v.GetZoomX(), 300);
    EXPECT_DOUBLE_EQ(v.GetZoomX(), v.GetZoomY());
    EXPECT_FALSE(v.RectSelecting);
    EXPECT_EQ(v.GetSelectionStackCount(), 0);
    EXPECT_EQ(CountSelected(*v.GetSelectionMask()), 400);
}

TEST(ImgViewMouse, MovingScrollGlidesTowardsTheMouse)
{
    MouseHost h(200, 200);
    h.Image(400, 400);
    TImgView& v = *h.view;
    v.SetMouseInteract(TV::miMovingScroll);
    // Target round((199 / 200 - 0.02) * 1.05 * 200) = 205; the first step
    // runs at once: round(0 + 205 / 8) = 26.
    h.Send(WM_MOUSEMOVE, 0, 199, 199);
    EXPECT_EQ(v.GetMovingScrollTargetX(), 205);
    EXPECT_EQ(v.GetMovingScrollTargetY(), 205);
    EXPECT_EQ(v.GetViewX(), 26);
    EXPECT_EQ(v.GetViewY(), 26);
    ASSERT_TRUE(v.IsMovingScrollActive());
    // The timer goes on until the view stops at its range, then ends.
    const DWORD end = GetTickCount() + 5000;
    while (v.IsMovingScrollActive() && GetTickCount() < end) {
        testsupport::PumpMessages();
        Sleep(5);
    }
    EXPECT_FALSE(v.IsMovingScrollActive());
    EXPECT_EQ(v.GetViewX(), 200);
    EXPECT_EQ(v.GetViewY(), 200);
}

// Without a button held the pointer only chooses the cursor: the rotation
// quadrant around the layer's centre, a move cursor over a movable layer, a
// grip's cursor, and over a selection the move or Shift-add cursor.
TEST(ImgViewMouse, HoverCursorsFollowTheInteraction)
{
    classlib::TComponent owner(nullptr);
    MouseHost h(100, 100, &owner);
    h.Image(100, 100);
    TImgView& v = *h.view;
    v.GetLayer(0)->Selectable = false;
    const int l = v.AddLayer();
    TPxLayer* layer = v.GetLayer(l);
    layer->Bitmap->Allocate(20, 20, px24RGB);
    layer->PosX = 40;
    layer->PosY = 40;
    v.Update();
    h.Compose();
    ASSERT_EQ(v.GetLayersCurrent(), l);
    v.SetCursor(1785);
    auto hover = [&](int X, int Y, WPARAM Keys = 0) {
        h.Send(WM_MOUSEMOVE, Keys, X, Y);
        return v.GetCursor();
    };

    v.SetMouseInteract(TV::miRotateLayers);
    const struct {
        int x, y;
        classlib::TCursor cursor;
    } rotate[] = {{10, 10, 1814}, {10, 90, 1811}, {90, 10, 1812}, {90, 90, 1813}, {50, 50, 1785}};
    for (const auto& c : rotate)
        EXPECT_EQ(hover(c.x, c.y), c.cursor) << c.x << "," << c.y;

    v.SetMouseInteract(TV::miMoveLayers | TV::miResizeLayers);
    h.Compose();
    EXPECT_EQ(hover(50, 50), 1790);
    EXPECT_EQ(hover(5, 5), 1785);
    RECT grips[8];
    ASSERT_TRUE(v.GetGripRects(l, grips));
    EXPECT_EQ(hover((grips[4].left + grips[4].right) / 2, (grips[4].top + grips[4].bottom) / 2), 1789);
    layer->Locked = true;
    EXPECT_EQ(hover(50, 50), 1785);
    layer->Locked = false;

    v.GetLayer(0)->Selectable = true;
    v.SetCurrentLayer(0);
    v.SetMouseInteract(TV::miSelect);
    h.Compose();
    h.Drag({{10, 10}, {30, 30}});
    ASSERT_TRUE(v.HasSelection());
    EXPECT_EQ(hover(20, 20), 1790);
    EXPECT_EQ(hover(70, 70), 1785);
    v.ShiftAddsSelection = true;
    EXPECT_EQ(hover(71, 71, MK_SHIFT), 1791);
}
