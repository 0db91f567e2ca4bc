// The vector view driven by real mouse messages in a hidden host window:
// putting objects of every kind, selecting, moving and resizing them by
// grips, polylines and angles, drag measuring, and undo of those changes.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "classlib/SysUtils.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStartup.h"
#include "imaging/views/vector/ImgVect.h"

using namespace imaging;

namespace {

struct Sink {
    std::vector<int> New;
    std::vector<double> Lengths;
    void OnNew(classlib::TObject*, int h) { New.push_back(h); }
    void OnLen(classlib::TObject*, double v) { Lengths.push_back(v); }
};

class VectMouse : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PxInitialize(); }
    void SetUp() override
    {
        host_ = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED | WS_CLIPCHILDREN, 0, 0, 500, 400, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        view = std::make_unique<TImgVect>(nullptr);
        view->SetBorderStyle(imaging::bsNone);
        view->SetScrollBars(classlib::ssNone);
        view->SetParentWindow(host_);
        view->SetBounds(0, 0, 300, 200);
        view->GetHandle();
        view->SetLegacyBitmap(false);
        view->SetCenter(false);
        view->GetPxBitmap()->Allocate(300, 200, px24RGB);
        view->GetPxBitmap()->Fill(0xFFFFFF);
        view->EditNewText = false;
        view->Update();
        view->OnNewObject = TPxVNewObject(&sink, &Sink::OnNew);
        view->OnDragLenEnd = TPxVDragLenEndEvent(&sink, &Sink::OnLen);
    }
    void TearDown() override
    {
        view.reset();
        DestroyWindow(host_);
    }
    void Send(UINT Msg, WPARAM Keys, int X, int Y) { SendMessageW(view->GetHandle(), Msg, Keys, MAKELPARAM(X, Y)); }
    void Drag(std::vector<POINT> Path, WPARAM Extra = 0)
    {
        Send(WM_LBUTTONDOWN, MK_LBUTTON | Extra, Path.front().x, Path.front().y);
        for (size_t i = 1; i < Path.size(); ++i)
            Send(WM_MOUSEMOVE, MK_LBUTTON | Extra, Path[i].x, Path[i].y);
        Send(WM_LBUTTONUP, Extra, Path.back().x, Path.back().y);
    }
    void Click(int X, int Y, WPARAM Extra = 0) { Drag({{X, Y}}, Extra); }
    RECT Box(int h)
    {
        const TPxVectObject* r = view->ObjectRecord(h);
        return RECT{r->Left, r->Top, r->Right, r->Bottom};
    }
    std::unique_ptr<TImgVect> view;
    Sink sink;

private:
    HWND host_ = nullptr;
};

TEST_F(VectMouse, ADragPutsEachKindFromPressToRelease)
{
    struct Case {
        TPxVectInteract Bit;
        TPxVectObjectKind Kind;
    } cases[] = {{viNewLine, pxvoLine},   {viNewBox, pxvoBox},   {viNewEllipse, pxvoEllipse},
                 {viNewBitmap, pxvoBitmap}, {viNewText, pxvoText}, {viNewRuler, pxvoRuler},
                 {viNewMemo, pxvoMemo},   {viNewLineLabel, pxvoLineLabel}};
    int expected = 0;
    for (const Case& c : cases) {
        view->VectInteract = c.Bit;
        Drag({{20, 30}, {60, 50}, {90, 70}});
        SCOPED_TRACE(static_cast<int>(c.Kind));
        ASSERT_EQ(view->GetObjectsCount(), expected + 1);
        const TPxVectObject* r = view->ObjectRecord(expected);
        EXPECT_EQ(r->Kind, c.Kind);
        const RECT b = Box(expected);
        EXPECT_EQ(b.left, 20);
        EXPECT_EQ(b.top, 30);
        EXPECT_EQ(b.right, 90);
        EXPECT_EQ(b.bottom, 70);
        EXPECT_EQ(view->GetSelection(), std::vector<int>({expected}));
        ++expected;
    }
    EXPECT_EQ(sink.New.size(), static_cast<size_t>(expected));
    // A bitmap object takes the default object's picture.
    EXPECT_NE(view->GetSharedBitmap(view->ObjectRecord(3)->BitmapIndex), nullptr);
}

TEST_F(VectMouse, AClickPutsTheDefaultSizeAndCtrlMakesSquares)
{
    view->VectInteract = viNewBox;
    Click(40, 50);
    ASSERT_EQ(view->GetObjectsCount(), 1);
    EXPECT_EQ(Box(0).left, 40);
    EXPECT_EQ(Box(0).right - Box(0).left, 63);
    EXPECT_EQ(Box(0).bottom - Box(0).top, 63);
    view->CenterNewObjects = true;
    Drag({{100, 100}, {130, 110}});  // the next default size is 30 x 10
    Click(150, 150);
    EXPECT_EQ(Box(2).left, 150 - 15);
    EXPECT_EQ(Box(2).top, 150 - 5);
    EXPECT_EQ(Box(2).right - Box(2).left, 30);
    view->VectInteract = viNewBox | viNoClickObjects;
    Click(10, 10);
    EXPECT_EQ(view->GetObjectsCount(), 3);
    Drag({{100, 100}, {80, 110}}, MK_CONTROL);
    ASSERT_EQ(view->GetObjectsCount(), 4);
    EXPECT_EQ(Box(3).left, 80);
    EXPECT_EQ(Box(3).top, 80);
    EXPECT_EQ(Box(3).right, 100);
    EXPECT_EQ(Box(3).bottom, 100);
}

TEST_F(VectMouse, SelectMoveAndResizeByGrips)
{
    view->VectInteract = viNewBox;
    Drag({{20, 20}, {60, 60}});
    Drag({{100, 20}, {140, 60}});
    view->ObjectRecord(0)->BrushStyle = classlib::bsSolid;
    view->ObjectRecord(1)->BrushStyle = classlib::bsSolid;
    view->VectInteract = viSelectObjects;
    view->HitTolerance = 3;
    Click(250, 150);  // empty area: nothing selected
    EXPECT_EQ(view->GetSelObjectsCount(), 0);
    Click(40, 40);
    EXPECT_EQ(view->GetSelection(), std::vector<int>({0}));
    Click(120, 40, MK_SHIFT);
    EXPECT_EQ(view->GetSelection(), std::vector<int>({0, 1}));
    Click(120, 40, MK_SHIFT);
    EXPECT_EQ(view->GetSelection(), std::vector<int>({0}));
    // Dragging the body moves; the bottom-right grip resizes.
    Drag({{40, 40}, {45, 42}, {50, 45}});
    EXPECT_EQ(Box(0).left, 30);
    EXPECT_EQ(Box(0).top, 25);
    EXPECT_EQ(Box(0).right, 70);
    int code = 0;
    view->FindGrip(70, 65, code);
    EXPECT_EQ(code, 2);
    Drag({{70, 65}, {80, 70}, {90, 85}});
    EXPECT_EQ(Box(0).right, 90);
    EXPECT_EQ(Box(0).bottom, 85);
    EXPECT_EQ(Box(0).left, 30);
    // The left edge grip moves the left edge only; an object that is not
    // sizeable is moved by any grip.
    Drag({{30, 55}, {20, 55}});
    EXPECT_EQ(Box(0).left, 20);
    EXPECT_EQ(Box(0).right, 90);
    view->ObjectRecord(0)->Options &= ~pxvoptSizeable;
    Drag({{90, 85}, {95, 90}});
    EXPECT_EQ(Box(0).right, 95);
    EXPECT_EQ(Box(0).left, 25);
    // A rubber band selects what lies inside it.
    Drag({{5, 5}, {200, 100}, {200, 120}});
    EXPECT_EQ(view->GetSelObjectsCount(), 2);
}

TEST_F(VectMouse, CtrlAndAspectConstrainDragsAndAnglePointsMoveByTheirGrips)
{
    // Ctrl holds a new line's end to the press point's row when the drag is
    // mostly sideways, and holds a dragged end grip to the fixed end's row.
    view->VectInteract = viNewLine;
    Drag({{20, 20}, {60, 30}, {100, 35}}, MK_CONTROL);
    ASSERT_EQ(view->GetObjectsCount(), 1);
    EXPECT_EQ(Box(0).right, 100);
    EXPECT_EQ(Box(0).bottom, 20);
    view->VectInteract = viSelectObjects;
    int code = 0;
    view->FindGrip(100, 20, code);
    ASSERT_EQ(code, 2);
    Drag({{100, 20}, {130, 60}}, MK_CONTROL);
    EXPECT_EQ(Box(0).left, 20);
    EXPECT_EQ(Box(0).top, 20);
    EXPECT_EQ(Box(0).right, 130);
    EXPECT_EQ(Box(0).bottom, 20);

    // With the aspect kept, a new bitmap object takes its picture's
    // proportions and a corner grip keeps the box's own.
    view->ConstrainAlways = true;
    view->VectInteract = viNewBitmap;
    Drag({{20, 40}, {50, 45}, {80, 60}});
    ASSERT_EQ(view->GetObjectsCount(), 2);
    TPxBitmap* pic = view->GetSharedBitmap(view->ObjectRecord(1)->BitmapIndex);
    ASSERT_NE(pic, nullptr);
    ASSERT_GT(pic->GetWidth(), 0);
    EXPECT_EQ(Box(1).right, 80);
    EXPECT_EQ(Box(1).bottom,
              static_cast<int>(classlib::Round(40 + 60 * static_cast<double>(pic->GetHeight()) / pic->GetWidth())));
    view->VectInteract = viNewBox;
    Drag({{150, 20}, {190, 40}});
    view->VectInteract = viSelectObjects;
    view->FindGrip(190, 40, code);
    ASSERT_EQ(code, 2);
    Drag({{190, 40}, {210, 45}});
    EXPECT_EQ(Box(2).right, 210);
    EXPECT_EQ(Box(2).bottom, 20 + 30);  // 60 wide at 2:1
    view->ConstrainAlways = false;

    // An angle's vertex grip moves only that point.
    view->RemoveAllObjects();
    view->VectInteract = viNewAngle;
    Click(100, 20);
    Click(140, 100);
    Click(180, 20);
    ASSERT_EQ(view->GetObjectsCount(), 1);
    view->VectInteract = viSelectObjects;
    Drag({{140, 100}, {145, 104}, {150, 110}});
    const TPxVectObject* a = view->ObjectRecord(0);
    EXPECT_EQ(a->AnglePoints[0].x, 100);
    EXPECT_EQ(a->AnglePoints[0].y, 20);
    EXPECT_EQ(a->AnglePoints[1].x, 150);
    EXPECT_EQ(a->AnglePoints[1].y, 110);
    EXPECT_EQ(a->AnglePoints[2].x, 180);
}

TEST_F(VectMouse, PolylinesAndAnglesArePutPointByPoint)
{
    view->VectInteract = viNewPolyline;
    Click(10, 10);
    Click(50, 10);
    Click(50, 60);
    Send(WM_LBUTTONDBLCLK, MK_LBUTTON, 10, 60);
    Send(WM_LBUTTONUP, 0, 10, 60);
    ASSERT_EQ(view->GetObjectsCount(), 1);
    const TPxVectObject* p = view->ObjectRecord(0);
    EXPECT_EQ(p->Kind, pxvoPolyline);
    EXPECT_EQ(p->Points.size(), 4u);
    EXPECT_EQ(Box(0).right, 50);
    EXPECT_EQ(Box(0).bottom, 60);
    EXPECT_EQ(sink.New.size(), 1u);

    view->VectInteract = viNewAngle;
    Send(WM_LBUTTONDBLCLK, MK_LBUTTON, 100, 100);  // a double click starts nothing
    Send(WM_LBUTTONUP, 0, 100, 100);
    EXPECT_EQ(view->GetObjectsCount(), 1);
    Click(100, 20);
    Click(140, 100);
    Click(180, 20);
    ASSERT_EQ(view->GetObjectsCount(), 2);
    const TPxVectObject* a = view->ObjectRecord(1);
    EXPECT_EQ(a->AnglePoints[1].x, 140);
    EXPECT_EQ(a->AnglePoints[2].y, 20);
    EXPECT_EQ(Box(1).left, 100);  // centred on the vertex
    EXPECT_EQ(Box(1).right, 180);
    // With the angle selected, every point off its three points is a move.
    view->VectInteract = viSelectObjects;
    int code = 0;
    EXPECT_GE(view->FindGrip(250, 180, code), 0);
    EXPECT_EQ(code, 3);
    view->FindGrip(140, 100, code);
    EXPECT_EQ(code, 11);
}

TEST_F(VectMouse, DragLengthCountsEndPixelsAlongTheDrag)
{
    view->VectInteract = viDragLength;
    Drag({{50, 50}, {55, 50}, {59, 50}});
    ASSERT_EQ(sink.Lengths.size(), 1u);
    EXPECT_DOUBLE_EQ(sink.Lengths[0], 10.0);  // ten pixels, no vertical part
    EXPECT_EQ(view->GetObjectsCount(), 0);
    // A drag back to the press point reports the last value.
    Drag({{80, 80}, {90, 90}, {80, 80}});
    ASSERT_EQ(sink.Lengths.size(), 2u);
    EXPECT_GT(sink.Lengths[1], 0);
    // The area hint ends with the unit and the superscript two.
    view->SelectRect(0, 0, 10, 5, 0);
    view->AddSelectionPoint(0, 0);
    view->VectInteract = viMeasureArea;
    view->MeasureHint = true;
    view->DrawMeasureHint(10, 10);
    const std::wstring text = view->GetMeasureHintText();
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 7), L"pixels\u00B2");
}

TEST_F(VectMouse, AutoUndoStoresOnlyRealChanges)
{
    view->VectInteract = viNewBox;
    Drag({{20, 20}, {60, 60}});
    view->ObjAutoUndo = true;
    view->ObjUndoLimit = 5;
    view->VectInteract = viSelectObjects;
    Click(40, 40);  // a select click changes nothing: no step stays
    EXPECT_EQ(view->GetObjUndoCount(), 0);
    Drag({{30, 20}, {40, 30}});
    EXPECT_EQ(view->GetObjUndoCount(), 1);
    EXPECT_EQ(Box(0).left, 30);
    ASSERT_TRUE(view->ObjUndo());
    EXPECT_EQ(Box(0).left, 20);
    ASSERT_TRUE(view->ObjRedo());
    EXPECT_EQ(Box(0).left, 30);
}

TEST_F(VectMouse, PolylinePointsMoveInsertAndDelete)
{
    TPxVectObject o = *view->ObjectRecord(-1);
    o.Kind = pxvoPolyline;
    o.Left = 20;
    o.Top = 20;
    o.Right = 120;
    o.Bottom = 20;
    o.Points = {{0, 0}, {100, 0}};
    o.PointsBounds = RECT{0, 0, 100, 0};
    o.PenColor = 0;
    const int h = view->AddObject(o);
    view->AddSelObject(h);
    view->VectInteract = viEditPolyline;
    view->Update();
    view->DrawLayers(view->GetPxBitmap(), nullptr, false, false, nullptr);  // lays out ScreenPoints
    ASSERT_EQ(view->ObjectRecord(h)->ScreenPoints.size(), 2u);
    // A press on the segment inserts a point there.
    Click(70, 20);
    const TPxVectObject* r = view->ObjectRecord(h);
    ASSERT_EQ(r->Points.size(), 3u);
    EXPECT_EQ(r->Points[1].x, 50);
    view->DrawLayers(view->GetPxBitmap(), nullptr, false, false, nullptr);
    // Dragging the new vertex moves it; the box follows.
    Drag({{70, 20}, {70, 40}, {70, 60}});
    r = view->ObjectRecord(h);
    EXPECT_EQ(r->Bottom, 60);
    view->DrawLayers(view->GetPxBitmap(), nullptr, false, false, nullptr);
    // Ctrl on a vertex deletes it, but never below two points.
    Click(70, 60, MK_CONTROL);
    EXPECT_EQ(view->ObjectRecord(h)->Points.size(), 2u);
    view->DrawLayers(view->GetPxBitmap(), nullptr, false, false, nullptr);
    Click(20, 20, MK_CONTROL);
    EXPECT_EQ(view->ObjectRecord(h)->Points.size(), 2u);
}

// Feedback drawn straight onto the window while an object is being put,
// read back from the window itself.
class VectFeedback : public VectMouse {
protected:
    void SetUp() override
    {
        VectMouse::SetUp();
        HWND host = GetParent(view->GetHandle());
        SetWindowPos(host, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
        Pump();
    }
    // Delivers the pending paints, as the message loop does between mouse
    // messages.
    void Pump()
    {
        UpdateWindow(GetParent(view->GetHandle()));
        UpdateWindow(view->GetHandle());
    }
    void Move(int X, int Y, WPARAM Keys = 0)
    {
        Send(WM_MOUSEMOVE, Keys, X, Y);
        Pump();
    }
    COLORREF OnWindow(int X, int Y)
    {
        HDC dc = GetDC(view->GetHandle());
        const COLORREF c = GetPixel(dc, X, Y);
        ReleaseDC(view->GetHandle(), dc);
        return c;
    }
    int DarkOnWindow(int X1, int Y1, int X2, int Y2)
    {
        HDC dc = GetDC(view->GetHandle());
        int n = 0;
        for (int y = Y1; y <= Y2; ++y)
            for (int x = X1; x <= X2; ++x) {
                const COLORREF c = GetPixel(dc, x, y);
                n += GetRValue(c) < 128 || GetGValue(c) < 128 || GetBValue(c) < 128 ? 1 : 0;
            }
        ReleaseDC(view->GetHandle(), dc);
        return n;
    }
};

TEST_F(VectFeedback, RubberFiguresSurviveRepaintsAndLeaveNothingBehind)
{
    const COLORREF white = RGB(255, 255, 255);
    ASSERT_EQ(OnWindow(100, 100), white);
    auto repaint = [&] {
        InvalidateRect(view->GetHandle(), nullptr, FALSE);
        Pump();
    };
    // A polyline being entered: the rubber line from its last point follows
    // the mouse, stays through a repaint, and moving on erases exactly it.
    view->VectInteract = viNewPolyline;
    Click(50, 50);
    Pump();
    Move(150, 150);
    EXPECT_NE(OnWindow(100, 100), white);
    repaint();
    EXPECT_NE(OnWindow(100, 100), white);
    Move(50, 150);
    EXPECT_EQ(OnWindow(100, 100), white);
    EXPECT_NE(OnWindow(50, 100), white);
    repaint();
    Move(60, 150);
    EXPECT_EQ(OnWindow(50, 100), white);
    EXPECT_NE(OnWindow(55, 100), white);
    Click(60, 150);
    Pump();
    Move(100, 60);
    EXPECT_NE(OnWindow(80, 105), white);
    Send(WM_LBUTTONDBLCLK, MK_LBUTTON, 150, 150);
    Send(WM_LBUTTONUP, 0, 150, 150);
    Pump();
    ASSERT_EQ(view->GetObjectsCount(), 1);
    EXPECT_EQ(DarkOnWindow(75, 95, 85, 115), 0);  // no rubber line left
    EXPECT_NE(OnWindow(55, 100), white);           // the polyline's own segments
    EXPECT_NE(OnWindow(100, 150), white);

    // The rubber band of a selection drag is on the window while the button
    // is held, and gone after the release.
    view->VectInteract = viSelectObjects;
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 200, 20);
    Pump();
    Move(280, 120, MK_LBUTTON);
    EXPECT_NE(OnWindow(240, 20), white);
    EXPECT_NE(OnWindow(280, 70), white);
    Send(WM_LBUTTONUP, 0, 280, 120);
    Pump();
    EXPECT_EQ(DarkOnWindow(200, 20, 280, 120), 0);
}

TEST_F(VectFeedback, RulersAndAnglesInProgressFollowTheMouse)
{
    const COLORREF white = RGB(255, 255, 255);
    TPxVectObject& d = *view->ObjectRecord(-1);
    d.PenColor = 0x0000FF;
    d.RulerStyle = 2;
    view->VectInteract = viNewRuler;
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 20, 60);
    Pump();
    Move(220, 60, MK_LBUTTON);
    EXPECT_EQ(OnWindow(120, 60), RGB(255, 0, 0));
    EXPECT_EQ(OnWindow(220, 55), RGB(255, 0, 0));  // the end bar
    EXPECT_GT(DarkOnWindow(40, 62, 200, 90), 20);  // its length under it
    // Moving on repaints first: nothing of the last ruler stays.
    Move(20, 160, MK_LBUTTON);
    EXPECT_EQ(OnWindow(120, 60), white);
    EXPECT_EQ(DarkOnWindow(60, 52, 230, 90), 0);
    EXPECT_EQ(OnWindow(20, 110), RGB(255, 0, 0));
    Send(WM_LBUTTONUP, 0, 20, 160);
    ASSERT_EQ(view->GetObjectsCount(), 1);

    // An angle: after its first point the arm follows the mouse; after the
    // second the other arm does, with the value at the vertex.
    view->RemoveAllObjects();
    view->VectInteract = viNewAngle;
    Click(100, 20);
    Pump();
    Move(140, 100);
    EXPECT_NE(OnWindow(120, 60), white);
    EXPECT_EQ(DarkOnWindow(141, 101, 200, 130), 0);  // no value yet
    Click(140, 100);
    Pump();
    Move(200, 100);
    EXPECT_NE(OnWindow(120, 60), white);
    EXPECT_NE(OnWindow(170, 100), white);
    EXPECT_GT(DarkOnWindow(141, 101, 200, 130), 10);
    Move(140, 160);
    EXPECT_EQ(OnWindow(170, 100), white);
    EXPECT_NE(OnWindow(140, 130), white);
    EXPECT_EQ(view->GetObjectsCount(), 1);  // still being entered
}

TEST_F(VectFeedback, PolygonSelectionRubberLineSurvivesARepaint)
{
    // The view's own polygon selection beside the objects: the line from the
    // last corner to the mouse is put back by every repaint of the view.
    const COLORREF white = RGB(255, 255, 255);
    view->VectInteract = 0;
    view->SetMouseInteract(TImgView::miSelectPolygon);
    Click(50, 50);
    Pump();
    Move(150, 150);
    EXPECT_NE(OnWindow(100, 100), white);
    InvalidateRect(view->GetHandle(), nullptr, FALSE);
    Pump();
    EXPECT_NE(OnWindow(100, 100), white);
    Move(50, 150);
    EXPECT_EQ(OnWindow(100, 100), white);
    EXPECT_NE(OnWindow(50, 100), white);
    EXPECT_TRUE(view->PolySelecting);
}

}  // namespace
