// Drawing of vector objects checked on the pixels of an off-screen
// composition: each kind, end shapes, bitmaps with and without a picture,
// translucent text through the work image, rulers and angles, drawing into
// the image, and the selection area of polygons.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxMask.h"
#include "imaging/model/PxStartup.h"
#include "imaging/views/vector/ImgVect.h"
#include "imaging/views/view/PxGDIPlus.h"

using namespace imaging;

namespace {

class VectDraw : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PxInitialize(); }
    void SetUp() override
    {
        host_ = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED | WS_CLIPCHILDREN, 0, 0, 400, 300, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        view = std::make_unique<TImgVect>(nullptr);
        view->SetBorderStyle(imaging::bsNone);
        view->SetScrollBars(classlib::ssNone);
        view->SetParentWindow(host_);
        view->SetBounds(0, 0, 200, 150);
        view->GetHandle();
        view->SetLegacyBitmap(false);
        view->SetCenter(false);
        view->GetPxBitmap()->Allocate(200, 150, px24RGB);
        view->GetPxBitmap()->Fill(0xFFFFFF);
        view->SetObjAntialias(false);
        view->Update();
    }
    void TearDown() override
    {
        view.reset();
        DestroyWindow(host_);
    }
    int Add(TPxVectObjectKind Kind, int L, int T, int R, int B, const std::function<void(TPxVectObject&)>& Set = {})
    {
        TPxVectObject o = *view->ObjectRecord(-1);
        o.Kind = Kind;
        o.Left = L;
        o.Top = T;
        o.Right = R;
        o.Bottom = B;
        o.PenColor = 0x0000FF;  // red
        o.PenWidth = 1;
        if (Set)
            Set(o);
        return view->AddObject(o);
    }
    // Composes the view as its painting does.
    void Compose()
    {
        dest = std::make_unique<TPxBitmap>();
        dest->Allocate(200, 150, px24RGB);
        view->DrawLayers(dest.get(), nullptr, false, true, nullptr);
    }
    TPxRGB At(int X, int Y) { return dest->GetPixelRGB(X, Y); }
    bool White(int X, int Y)
    {
        const TPxRGB p = At(X, Y);
        return p.r == 255 && p.g == 255 && p.b == 255;
    }
    bool Red(int X, int Y)
    {
        const TPxRGB p = At(X, Y);
        return p.r > 200 && p.g < 60 && p.b < 60;
    }
    int CountNonWhite(int X1, int Y1, int X2, int Y2)
    {
        int n = 0;
        for (int y = Y1; y <= Y2; ++y)
            for (int x = X1; x <= X2; ++x)
                n += White(x, y) ? 0 : 1;
        return n;
    }
    std::unique_ptr<TImgVect> view;
    std::unique_ptr<TPxBitmap> dest;

private:
    HWND host_ = nullptr;
};

TEST_F(VectDraw, ShapesDrawTheirOutlinesAndFills)
{
    Add(pxvoLine, 10, 10, 90, 10, [](TPxVectObject& o) { o.PenWidth = 3; });
    Add(pxvoBox, 10, 30, 50, 60, [](TPxVectObject& o) {
        o.BrushStyle = classlib::bsSolid;
        o.BrushColor = 0x00FF00;
    });
    Add(pxvoEllipse, 60, 30, 100, 70, [](TPxVectObject& o) {
        o.BrushStyle = classlib::bsSolid;
        o.BrushColor = 0xFF0000;
    });
    Add(pxvoPolyline, 110, 30, 150, 70, [](TPxVectObject& o) {
        o.Points = {{0, 0}, {40, 0}, {40, 40}};
        o.PointsBounds = RECT{0, 0, 40, 40};
    });
    Add(pxvoArc, 160, 30, 190, 60, [](TPxVectObject& o) {
        o.ArcStart = 0;
        o.ArcEnd = 3.14159;
    });
    Compose();
    EXPECT_TRUE(Red(50, 10));
    EXPECT_TRUE(Red(50, 11));
    EXPECT_TRUE(White(50, 14));
    EXPECT_TRUE(Red(10, 45));                                    // box outline
    EXPECT_EQ(At(30, 45).g, 255);                                // box fill
    EXPECT_EQ(At(30, 45).r, 0);
    EXPECT_EQ(At(80, 50).b, 255);                                // ellipse fill
    EXPECT_TRUE(White(61, 31));                                  // outside the ellipse's curve
    EXPECT_TRUE(Red(130, 30));                                   // polyline, first segment
    EXPECT_TRUE(Red(150, 50));                                   // second segment
    EXPECT_TRUE(White(125, 55));                                 // not closed, not filled
    // From angle 0 to pi the arc runs counter-clockwise on the screen:
    // the upper half.
    EXPECT_GT(CountNonWhite(160, 29, 190, 44), 10);
    EXPECT_EQ(CountNonWhite(165, 50, 185, 61), 0);
    // The polyline remembers where it was drawn, for vertex hits.
    ASSERT_EQ(view->ObjectRecord(3)->ScreenPoints.size(), 3u);
    EXPECT_EQ(view->ObjectRecord(3)->ScreenPoints[1].x, 150);
}

TEST_F(VectDraw, EndShapesPointOutwardOrInward)
{
    // Shape 2 at both ends: arrowheads with their tips on the end points.
    Add(pxvoLine, 40, 30, 160, 30, [](TPxVectObject& o) {
        o.BeginShape = 2;
        o.EndShape = 2;
        o.ShapeWidth = 20;
        o.ShapeHeight = 20;
        o.BrushStyle = classlib::bsSolid;
        o.BrushColor = 0x0000FF;
    });
    // Shape 1 at the start: the wide side across the end point.
    Add(pxvoLine, 40, 100, 160, 100, [](TPxVectObject& o) {
        o.BeginShape = 1;
        o.ShapeWidth = 20;
        o.ShapeHeight = 20;
        o.BrushStyle = classlib::bsSolid;
        o.BrushColor = 0x0000FF;
    });
    Compose();
    EXPECT_TRUE(Red(58, 38));    // wide near the base, 18 px in
    EXPECT_TRUE(White(43, 38));  // narrow at the tip
    EXPECT_TRUE(Red(142, 38));
    EXPECT_TRUE(Red(41, 108));   // wide at the end point itself
    EXPECT_TRUE(White(57, 108));
}

TEST_F(VectDraw, BitmapObjectsShowTheirPictureOrACross)
{
    TPxBitmap pic;
    pic.Allocate(10, 10, px24RGB);
    pic.Fill(0x00FF00);
    const int h = Add(pxvoBitmap, 20, 20, 39, 39);
    view->SetObjBitmap(h, &pic);
    Add(pxvoBitmap, 100, 20, 140, 60, [](TPxVectObject& o) { o.BitmapIndex = -1; });
    view->ObjectRecord(1)->BitmapIndex = -1;
    view->ReleaseSharedBitmap(-1);
    Compose();
    EXPECT_EQ(At(30, 30).g, 255);
    EXPECT_EQ(At(30, 30).r, 0);
    EXPECT_EQ(At(39, 39).g, 255);
    EXPECT_TRUE(White(41, 30));
    EXPECT_TRUE(Red(120, 40));  // the diagonals cross in the middle
    EXPECT_TRUE(Red(100, 50));  // and the frame
    EXPECT_TRUE(White(110, 25));
}

TEST_F(VectDraw, TextsMemosLabelsRulersAndAngles)
{
    Add(pxvoText, 10, 10, 90, 30, [](TPxVectObject& o) {
        o.Text = "Wide";
        o.HasText = true;
        o.Font.lfHeight = -16;
    });
    Add(pxvoMemo, 100, 10, 190, 60, [](TPxVectObject& o) {
        o.Text = "one\ntwo";
        o.HasText = true;
        o.Font.lfHeight = -14;
        o.BrushStyle = classlib::bsClear;
        o.MemoBrushStyle = classlib::bsClear;
        o.MemoBorderStyle = classlib::psClear;
    });
    Add(pxvoLineLabel, 20, 120, 90, 120, [](TPxVectObject& o) {
        o.Text = "lbl";
        o.HasText = true;
        o.LabelBrushColor = 0x00FFFF;
        o.LabelPosition = 0;
    });
    Add(pxvoRuler, 100, 100, 190, 100, [](TPxVectObject& o) { o.RulerStyle = 2; });
    Add(pxvoAngle, 0, 0, 0, 0, [](TPxVectObject& o) {
        o.AnglePoints[0] = POINT{20, 40};
        o.AnglePoints[1] = POINT{20, 90};
        o.AnglePoints[2] = POINT{70, 90};
    });
    Compose();
    EXPECT_GT(CountNonWhite(12, 12, 88, 28), 30);   // text glyphs
    EXPECT_GT(CountNonWhite(102, 12, 188, 26), 15); // memo, first line
    EXPECT_GT(CountNonWhite(102, 28, 188, 45), 15); // memo, second line
    EXPECT_EQ(CountNonWhite(102, 48, 188, 58), 0);
    // The label box sits left of the start point, away from the line.
    const RECT lr = view->ObjectRecord(2)->LabelRect;
    EXPECT_LE(lr.right, 21);
    EXPECT_GE(lr.top, 119);
    EXPECT_EQ(At((lr.left + lr.right) / 2, lr.top + 1).r, 255);  // yellow box
    EXPECT_EQ(At((lr.left + lr.right) / 2, lr.top + 1).b, 0);
    EXPECT_TRUE(Red(150, 100));                      // ruler line
    EXPECT_TRUE(Red(100, 95));                       // end bar
    EXPECT_GT(CountNonWhite(105, 102, 185, 118), 10);  // its length label
    EXPECT_TRUE(Red(20, 60));                        // angle arms
    EXPECT_TRUE(Red(50, 90));
    EXPECT_GT(CountNonWhite(21, 91, 60, 110), 10);   // the angle's value
}

TEST_F(VectDraw, TranslucentTextBlendsThroughTheWorkImage)
{
    auto box = [&](int T) {
        return Add(pxvoText, 10, 10, 190, 60, [T](TPxVectObject& o) {
            o.Text = "M";
            o.HasText = true;
            o.Font.lfHeight = 0;  // the box height
            o.BrushStyle = classlib::bsSolid;
            o.BrushColor = 0x000000;
            o.PenStyle = classlib::psClear;
            o.Transparency = T;
        });
    };
    box(128);
    Compose();
    const TPxRGB half = At(150, 55);
    EXPECT_NEAR(half.r, 127, 3);  // black at half opacity over white
    EXPECT_NE(view->GetWorkImage(), nullptr);
    view->RemoveAllObjects();
    box(255);
    Compose();
    EXPECT_EQ(At(150, 55).r, 0);
}

// A marker box keeps what lies under it: layered with GDI+, and at twice
// the size and reduced without it; the supersampled area ends at the
// object's edge.
TEST_F(VectDraw, MarkerBoxOverDarkAndLightInBothWays)
{
    TPxBitmap* image = view->GetPxBitmap();
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 100; ++x)
            image->SetPixelRGB(x, y, TPxRGB{0, 0, 0});
    Add(pxvoBox, 50, 40, 150, 80, [](TPxVectObject& o) {
        o.BoxHighlight = true;
        o.BrushColor = 0x00FFFF;  // yellow
    });
    Add(pxvoBox, 120, 100, 160, 130, [](TPxVectObject& o) {
        o.BrushStyle = classlib::bsSolid;
        o.BrushColor = 0xFF0000;
        o.PenColor = 0xFF0000;
        o.Transparency = 128;
    });
    for (bool gdiplus : {true, false}) {
        SCOPED_TRACE(gdiplus ? "layered" : "supersampled");
        PxGDIPlusAllowed = gdiplus;
        view->SetObjAntialias(!gdiplus);
        view->SetHighQualityDrawing(!gdiplus);
        Compose();
        PxGDIPlusAllowed = true;
        const TPxRGB dark = At(70, 60), light = At(130, 60);
        EXPECT_EQ(dark.r + dark.g + dark.b, 0);
        EXPECT_EQ(light.r, 255);
        EXPECT_EQ(light.g, 255);
        EXPECT_EQ(light.b, 0);
        EXPECT_TRUE(White(170, 60));
        // The translucent box: half blue inside, with sharp edges (no
        // half-tinted pixel just outside).
        EXPECT_NEAR(At(140, 115).b, 255, 1);
        EXPECT_NEAR(At(140, 115).r, 127, 3);
        EXPECT_NEAR(At(140, 101).r, 127, 3);
        EXPECT_TRUE(White(119, 115));
        EXPECT_TRUE(White(140, 99));
    }
}

// The drawing settings take effect on the view at once: each setter
// recomposes the picture shown in the window.
TEST_F(VectDraw, PenWidthAndBitmapFilterSettingsRedrawTheView)
{
    HWND host = GetParent(view->GetHandle());
    SetWindowPos(host, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    TPxBitmap pic;  // black left column, white right column
    pic.Allocate(2, 1, px24RGB);
    pic.SetPixelRGB(0, 0, TPxRGB{0, 0, 0});
    pic.SetPixelRGB(1, 0, TPxRGB{255, 255, 255});
    view->SetObjBitmap(Add(pxvoBitmap, 5, 5, 24, 14), &pic);
    Add(pxvoLine, 30, 10, 60, 10);
    view->SetZoom(300);
    view->SetViewXY(0, 0);
    UpdateWindow(view->GetHandle());
    auto shown = [&](int X, int Y) {
        UpdateWindow(view->GetHandle());
        return GetPixel(view->GetBackBufferBitmap()->GetCanvas()->GetHandle(), X, Y);
    };
    auto lineRows = [&] {
        int n = 0;
        for (int y = 20; y < 40; ++y)
            n += shown(130, y) == RGB(255, 0, 0);
        return n;
    };
    auto greyInBetween = [&] {
        int n = 0;
        for (int x = 15; x < 75; ++x) {
            const int v = GetRValue(shown(x, 30));
            n += v > 0 && v < 255;
        }
        return n;
    };
    EXPECT_EQ(lineRows(), 3);
    EXPECT_EQ(greyInBetween(), 0);
    view->SetZoomObjectsWidth(false);
    EXPECT_EQ(lineRows(), 1);
    view->SetBitmapResampleFilter(rfTriangle);
    EXPECT_GT(greyInBetween(), 0);
}

TEST_F(VectDraw, ObjectsBurnIntoTheImageAndZoomedPensWiden)
{
    Add(pxvoBox, 5, 5, 20, 20, [](TPxVectObject& o) {
        o.BrushStyle = classlib::bsSolid;
        o.BrushColor = 0xFF0000;
    });
    view->DrawObjectsIntoImage(false);
    EXPECT_EQ(view->GetPxBitmap()->GetPixelRGB(10, 10).b, 255);
    EXPECT_EQ(view->GetObjectsCount(), 1);
    TPxVectObject o;
    o.PenWidth = 3;
    EXPECT_EQ(view->ObjPenWidth(o, 0.5, 0.5), 2);
    view->SetZoomObjectsWidth(false);
    EXPECT_EQ(view->ObjPenWidth(o, 0.5, 0.5), 3);
}

TEST_F(VectDraw, SelectionAreaCountsEachPolygonWhateverItsWinding)
{
    // Two 10 x 10 squares, the second drawn the other way round.
    const POINT pts[] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {PxPolygonSeparator, PxPolygonSeparator},
                         {20, 0}, {20, 10}, {30, 10}, {30, 0}};
    auto& outline = view->GetSelectionOutline();
    outline.Points.assign(std::begin(pts), std::end(pts));
    EXPECT_DOUBLE_EQ(view->SelectionArea(), 200.0);
    EXPECT_DOUBLE_EQ(view->SelectionPerimeter(), 80.0);
}

TEST_F(VectDraw, GraduatedRulerTicksEveryTenthOfAnInch)
{
    view->SetDpiX(100);
    view->SetDpiY(100);
    Add(pxvoRuler, 10, 70, 190, 70, [](TPxVectObject& o) {
        o.RulerStyle = 0;
        o.MeasureUnit = pxuINCHES;
    });
    Compose();
    for (int x = 10; x <= 190; x += 10)
        EXPECT_TRUE(Red(x, 65)) << x;  // every tick reaches 5 px up
    EXPECT_TRUE(White(15, 65));
    EXPECT_TRUE(Red(60, 63));    // every fifth: 8 px
    EXPECT_TRUE(White(60, 59));
    EXPECT_TRUE(Red(110, 59));   // every tenth: 12 px
    EXPECT_TRUE(White(100, 63)); // a plain tick stays short
}

TEST_F(VectDraw, FineUnitsGraduateInDecadesThatStandApart)
{
    // Tenths of a pixel or a nanometre would fill the ruler solid.
    view->SetDpiX(100);
    view->SetDpiY(100);
    for (const TPxUnits unit : {pxuPIXELS, pxuNANOMETERS}) {
        SCOPED_TRACE(static_cast<int>(unit));
        view->RemoveAllObjects();
        Add(pxvoRuler, 10, 70, 190, 70, [unit](TPxVectObject& o) {
            o.RulerStyle = 0;
            o.MeasureUnit = unit;
        });
        Compose();
        int ticks = 0, gaps = 0;
        for (int x = 10; x <= 190; ++x)
            (Red(x, 65) ? ticks : gaps) += 1;
        EXPECT_GT(ticks, 10);
        EXPECT_GT(gaps, ticks);
    }
    // Pixels: a tick every 10 pixels, labelled every 100.
    view->RemoveAllObjects();
    Add(pxvoRuler, 10, 70, 190, 70, [](TPxVectObject& o) {
        o.RulerStyle = 0;
        o.MeasureUnit = pxuPIXELS;
    });
    Compose();
    for (int x = 10; x <= 190; x += 10)
        EXPECT_TRUE(Red(x, 65)) << x;
    EXPECT_TRUE(White(15, 65));
    EXPECT_TRUE(Red(110, 59));
    // The label over the tick at 110 reads "100": three digits as wide as
    // the "0" over the first.
    auto inkWidth = [&](int X1, int X2) {
        int l = 1000, r = -1;
        for (int y = 20; y < 57; ++y)
            for (int x = X1; x <= X2; ++x)
                if (!White(x, y))
                    l = std::min(l, x), r = std::max(r, x);
        return r < 0 ? 0 : r - l + 1;
    };
    const int zero = inkWidth(0, 30), hundred = inkWidth(90, 135);
    ASSERT_GT(zero, 3);
    EXPECT_GE(hundred, 3 * zero - 2);
}

TEST_F(VectDraw, LineLabelOutlineLeavesTheWholeTextVisible)
{
    // A thick line's label: the box is as wide as the text, so its outline
    // must not eat the outer glyph columns (the thin last "l" of "Label").
    for (const bool aa : {false, true}) {
        SCOPED_TRACE(aa ? "anti-aliased" : "plain");
        view->SetObjAntialias(aa);
        auto label = [&](int Border) {
            view->RemoveAllObjects();
            const int h = Add(pxvoLineLabel, 120, 60, 190, 60, [Border](TPxVectObject& o) {
                o.Text = "Label";
                o.HasText = true;
                o.LabelPosition = 0;
                o.PenWidth = 3;
                o.LabelBorder = Border;
                o.LabelBrushStyle = classlib::bsSolid;
                o.LabelBrushColor = 0x00FFFF;  // yellow
            });
            Compose();
            return view->ObjectRecord(h)->LabelRect;
        };
        // Rows clear of the line (3 pixels thick along the box's top edge)
        // and of the box's bottom edge.
        auto redInside = [&](const RECT& R) {
            int n = 0;
            for (int y = R.top + 2; y < R.bottom; ++y)
                for (int x = R.left; x <= R.right; ++x)
                    n += At(x, y).r > 160 && At(x, y).g < 140 ? 1 : 0;
            return n;
        };
        const RECT plain = label(0);
        const int text = redInside(plain);
        ASSERT_GT(text, 40);
        // The last glyph reaches the box's last columns.
        int lastInk = -1;
        for (int y = plain.top; y < plain.bottom; ++y)
            for (int x = plain.left; x <= plain.right; ++x)
                if (At(x, y).r > 160 && At(x, y).g < 140)
                    lastInk = std::max(lastInk, x);
        EXPECT_GE(lastInk, plain.right - 3);
        const RECT boxed = label(1);
        ASSERT_EQ(boxed.left, plain.left);
        ASSERT_EQ(boxed.right, plain.right);
        // Between the top and bottom edges: the text and a one-pixel side on
        // either hand, nothing more.
        EXPECT_EQ(redInside(boxed), text + 2 * (boxed.bottom - boxed.top - 2));
        EXPECT_EQ(At(boxed.right - 1, (boxed.top + boxed.bottom) / 2).g, 255);  // yellow inside the right edge
    }
}

TEST_F(VectDraw, MeasureLabelsTakeTheFontHeightAsPoints)
{
    // A ruler's and an angle's label font is as many points as the font
    // description has pixels, times the zoom.
    const int ppi = [] {
        HDC s = GetDC(nullptr);
        const int v = GetDeviceCaps(s, LOGPIXELSY);
        ReleaseDC(nullptr, s);
        return v;
    }();
    for (const int zoom : {100, 200}) {
        SCOPED_TRACE(zoom);
        view->RemoveAllObjects();
        view->SetZoom(zoom);
        view->Update();
        auto setFont = [](TPxVectObject& o) { o.Font.lfHeight = -20; };
        const int ruler = Add(pxvoRuler, 90, 100, 140, 100, [&](TPxVectObject& o) {
            setFont(o);
            o.RulerStyle = 2;
        });
        const int angle = Add(pxvoAngle, 90, 60, 110, 80, [&](TPxVectObject& o) {
            setFont(o);
            o.AnglePoints[0] = POINT{90, 60};
            o.AnglePoints[1] = POINT{90, 80};
            o.AnglePoints[2] = POINT{110, 80};
        });
        Compose();
        LOGFONTA lf = view->ObjectRecord(angle)->Font;
        lf.lfHeight = -MulDiv(20 * zoom / 100, ppi, 72);
        HDC dc = CreateCompatibleDC(nullptr);
        HFONT f = CreateFontIndirectA(&lf);
        HGDIOBJ old = SelectObject(dc, f);
        SIZE ts{};
        GetTextExtentPoint32A(dc, "0", 1, &ts);
        SelectObject(dc, old);
        DeleteObject(f);
        DeleteDC(dc);
        // The angle's box reaches the text's height below the vertex, the
        // ruler's 15 pixels more below its line (a pixel less when the full
        // turn of its text angle truncates).
        EXPECT_EQ(view->ObjectRecord(angle)->DrawnRect.bottom, view->BitmapToScreenY(80) + ts.cy);
        EXPECT_NEAR(view->ObjectRecord(ruler)->DrawnRect.bottom, view->BitmapToScreenY(100) + ts.cy + 15, 1);
    }
}

TEST_F(VectDraw, TextAlongAPathPutsOneCharacterPerStep)
{
    // Ink of column (or row) Pos of the destination within a band.
    auto inkAcross = [&](bool Columns, int Pos, int From, int To) {
        int n = 0;
        for (int i = From; i <= To; ++i)
            n += Columns ? (White(Pos, i) ? 0 : 1) : (White(i, Pos) ? 0 : 1);
        return n;
    };
    struct Case {
        const char* Name;
        TPxDPoint A, B;  // the path, as fractions of the box
        int Escapement;  // of the characters, or -10 to follow the path
        bool Across;     // the characters stand along rows rather than columns
    } cases[] = {
        {"left to right", {0, 1}, {1, 1}, -10, false},
        {"downward", {0, 0}, {0, 1}, -10, true},
        {"left to right, fixed upright", {0, 1}, {1, 1}, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        view->RemoveAllObjects();
        const int h = Add(pxvoText, 20, 20, 120, 120, [&](TPxVectObject& o) {
            o.Text = "IIII";
            o.HasText = true;
            o.Font.lfHeight = -20;
            o.PenStyle = classlib::psClear;
            o.BrushStyle = classlib::bsClear;
            o.TextPath = {c.A, c.B};
            o.TextPathValue = c.Escapement;
        });
        Compose();
        // A path of 100 pixels and four characters: one every 25 pixels
        // from the start, none at the end.
        for (int k = 0; k < 4; ++k) {
            const int at = 20 + 25 * k;
            if (!c.Across) {
                // An upright "I" centred on its point, standing on the bottom edge.
                EXPECT_GT(inkAcross(true, at, 100, 119), 8) << k;
                EXPECT_EQ(inkAcross(true, at + 6, 100, 119), 0) << k;
            } else {
                // Turned a quarter clockwise, to the right of the left edge.
                EXPECT_GT(inkAcross(false, at, 21, 40), 8) << k;
                EXPECT_EQ(inkAcross(false, at + 6, 21, 40), 0) << k;
            }
        }
        EXPECT_EQ(c.Across ? inkAcross(false, 120, 21, 40) : inkAcross(true, 120, 100, 119), 0);
        const RECT d = view->ObjectRecord(h)->DrawnRect;
        EXPECT_LE(d.left, 20);
        EXPECT_GE(c.Across ? d.bottom : d.right, 95);
    }
}

}  // namespace
