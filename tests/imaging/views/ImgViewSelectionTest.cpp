// Selection of the image view: rectangles (replace, add, aspect, clipping,
// degenerate), polygons, moving, the magic wand through the view, the
// selection record and stack, the hit tests, the outline drawing on a bitmap
// canvas, and a processing operation limited to the selection.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxMask.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/views/view/ImgView.h"

using namespace imaging;

namespace {

using PairList = std::vector<std::pair<int, int>>;

PairList Outline(TImgView& View)
{
    PairList out;
    int count = 0;
    const POINT* p = View.GetSelectionPolygon(count);
    for (int i = 0; i < count; ++i)
        out.emplace_back(p[i].x, p[i].y);
    return out;
}

int CountSelected(TPxMask& Mask)
{
    int n = 0;
    for (int y = 0; y < Mask.Height; ++y)
        for (int x = 0; x < Mask.Width; ++x)
            n += Mask.GetPixel(x, y) != 0;
    return n;
}

// An off-screen view holding a white W x H image; selection coordinates in
// bitmap pixels.
struct SelView {
    TImgView View{nullptr};
    SelView(int W, int H)
    {
        View.SetLegacyBitmap(false);
        View.GetPxBitmap()->Allocate(W, H, px24RGB);
        View.GetPxBitmap()->Fill(0xFFFFFF);
        View.Update();
        View.SelectionBase = pxsbBitmap;
    }
    TPxMask& Mask() { return *View.GetSelectionMask(); }
};

constexpr int kSep = PxPolygonSeparator;

}  // namespace

TEST(ImgViewSelection, DefaultsAndDeselect)
{
    SelView s(40, 30);
    TImgView& v = s.View;
    EXPECT_EQ(v.GetSelectionOptions(), 71);
    EXPECT_EQ(v.SelectionBase, pxsbBitmap);
    EXPECT_FALSE(v.HasSelection());
    ASSERT_NE(v.GetSelectionMask(), nullptr);
    EXPECT_EQ(s.Mask().Width, 40);
    EXPECT_EQ(s.Mask().Height, 30);
    EXPECT_EQ(s.Mask().BitsPerPixel, 1);

    v.SelectRect(2, 3, 12, 8, 0);
    EXPECT_TRUE(v.HasSelection());
    EXPECT_EQ(CountSelected(s.Mask()), 50);
    EXPECT_EQ(v.GetSelX1(), 2);
    EXPECT_EQ(v.GetSelY2(), 7);
    v.RectSelecting = true;
    v.SelMoving = 0;
    v.Deselect();
    EXPECT_FALSE(v.HasSelection());
    EXPECT_FALSE(v.RectSelecting);
    EXPECT_EQ(v.SelMoving, -1);
    EXPECT_EQ(v.GetSelectionPolygonCount(), 0);
    EXPECT_TRUE(s.Mask().IsEmpty());
    EXPECT_EQ(CountSelected(s.Mask()), 0);
}

TEST(ImgViewSelection, SelectRectShapes)
{
    struct Case {
        const char* name;
        double aspect;
        int x1, y1, x2, y2;
        PairList expected;
        int pixels;
    } cases[] = {
        {"plain", -1, 10, 20, 4, 5, {{4, 5}, {10, 5}, {10, 20}, {4, 20}}, 90},
        {"beyond the image", -1, -5, -5, 105, 85, {{0, 0}, {100, 0}, {100, 80}, {0, 80}}, 8000},
        {"aspect 2", 2.0, 10, 10, 40, 12, {{10, 10}, {40, 10}, {40, 70}, {10, 70}}, 1800},
        // Height 2 x 60 would pass the bottom: the width shrinks to
        // round(69 / 2) = 34 (halves to even) so that the bottom is the last
        // row, then the rectangle is clipped.
        {"aspect 2 clipped", 2.0, 10, 30, 70, 31, {{10, 30}, {34, 30}, {34, 80}, {10, 80}}, 1200},
    };
    for (const Case& c : cases) {
        SelView s(100, 80);
        s.View.SelectionAspect = c.aspect;
        s.View.SelectRect(c.x1, c.y1, c.x2, c.y2, 0);
        EXPECT_EQ(Outline(s.View), c.expected) << c.name;
        EXPECT_EQ(CountSelected(s.Mask()), c.pixels) << c.name;
        EXPECT_TRUE(s.View.HasSelection()) << c.name;
    }
}

TEST(ImgViewSelection, DegenerateRectKeepsSelectionAndAddKeepsBoth)
{
    SelView s(40, 30);
    TImgView& v = s.View;
    v.SelectRect(2, 2, 6, 6, 0);
    v.SelectRect(10, 10, 10, 50, 0);
    v.SelectRect(10, 10, 20, 10, 1);
    EXPECT_EQ(Outline(v), (PairList{{2, 2}, {6, 2}, {6, 6}, {2, 6}}));
    EXPECT_EQ(CountSelected(s.Mask()), 16);

    v.SelectRect(10, 10, 14, 13, 1);
    EXPECT_EQ(Outline(v), (PairList{{2, 2}, {6, 2}, {6, 6}, {2, 6}, {kSep, kSep},
                                    {10, 10}, {14, 10}, {14, 13}, {10, 13}}));
    EXPECT_EQ(CountSelected(s.Mask()), 16 + 12);
    EXPECT_TRUE(s.Mask().IsPointInside(2, 2));
    EXPECT_TRUE(s.Mask().IsPointInside(13, 12));
    EXPECT_FALSE(s.Mask().IsPointInside(8, 8));

    // Op 0 replaces both.
    v.SelectRect(30, 20, 32, 22, 0);
    EXPECT_EQ(CountSelected(s.Mask()), 4);
    EXPECT_EQ(v.GetSelectionPolygonCount(), 4);
}

TEST(ImgViewSelection, PolygonPointsAndEmptyPolygon)
{
    SelView s(40, 30);
    TImgView& v = s.View;
    for (auto [x, y] : PairList{{0, 0}, {10, 0}, {0, 10}})
        v.AddSelectionPoint(x, y);
    EXPECT_TRUE(v.HasSelection());
    EXPECT_TRUE(s.Mask().IsEmpty()) << "the mask waits for SelectFromPolygon";
    v.SelectFromPolygon();
    EXPECT_TRUE(v.HasSelection());
    EXPECT_TRUE(s.Mask().IsPointInside(1, 1));
    EXPECT_FALSE(s.Mask().IsPointInside(8, 8));
    const TPxSelectionOutline& o = v.GetSelectionOutline();
    EXPECT_EQ((std::vector<int>{o.X1, o.Y1, o.X2, o.Y2}), (std::vector<int>{0, 0, 10, 10}));

    // Collinear points enclose no pixel: the selection goes.
    v.Deselect();
    for (auto [x, y] : PairList{{5, 5}, {9, 5}, {14, 5}})
        v.AddSelectionPoint(x, y);
    v.SelectFromPolygon();
    EXPECT_FALSE(v.HasSelection());
    EXPECT_EQ(v.GetSelectionPolygonCount(), 0);
}

TEST(ImgViewSelection, MoveRectangleAndPolygon)
{
    {
        SelView s(40, 30);
        TImgView& v = s.View;
        v.SelectRect(2, 2, 6, 6, 0);
        v.MoveSelection(5, 3);
        EXPECT_EQ(Outline(v), (PairList{{7, 5}, {11, 5}, {11, 9}, {7, 9}}));
        EXPECT_EQ(CountSelected(s.Mask()), 16);
        EXPECT_TRUE(s.Mask().IsPointInside(7, 5));
        EXPECT_FALSE(s.Mask().IsPointInside(6, 5));
        EXPECT_FALSE(v.MovingRectSel);
        // Without cutting the selection stops at the right edge.
        v.MoveSelection(100, 0);
        EXPECT_EQ(Outline(v), (PairList{{36, 5}, {40, 5}, {40, 9}, {36, 9}}));
        EXPECT_EQ(CountSelected(s.Mask()), 16);
    }
    {
        SelView s(40, 30);
        TImgView& v = s.View;
        v.SetSelectionOptions(v.GetSelectionOptions() | pxsoCutBorders);
        v.SelectRect(2, 2, 6, 6, 0);
        v.MoveSelection(36, 0);
        EXPECT_EQ(Outline(v), (PairList{{38, 2}, {40, 2}, {40, 6}, {38, 6}}));
        EXPECT_EQ(CountSelected(s.Mask()), 8);
    }
    {
        // A triangle moves with its mask.
        SelView s(40, 30);
        TImgView& v = s.View;
        for (auto [x, y] : PairList{{0, 0}, {8, 0}, {0, 8}})
            v.AddSelectionPoint(x, y);
        v.SelectFromPolygon();
        const int before = CountSelected(s.Mask());
        v.MoveSelection(10, 5);
        EXPECT_EQ(Outline(v), (PairList{{10, 5}, {18, 5}, {10, 13}}));
        EXPECT_EQ(CountSelected(s.Mask()), before);
        EXPECT_TRUE(s.Mask().IsPointInside(10, 5));
        EXPECT_FALSE(s.Mask().IsPointInside(0, 0));
    }
}

TEST(ImgViewSelection, MagicWandModes)
{
    // A black 6 x 4 block at (10, 10) and a black pixel at (30, 20).
    SelView s(40, 30);
    TImgView& v = s.View;
    TPxBitmap* image = v.GetPxBitmap();
    image->FillRect(10, 10, 15, 13, 0);
    image->SetPixelRGB(30, 20, TPxRGB{0, 0, 0});

    v.WandMode = 0;
    v.SelectMagicWand(12, 11, false);
    EXPECT_TRUE(v.HasSelection());
    EXPECT_EQ(Outline(v), (PairList{{10, 10}, {16, 10}, {16, 10}, {16, 14}, {16, 14}, {10, 14}, {10, 14}, {10, 10}}));
    EXPECT_EQ(CountSelected(s.Mask()), 24);
    // Added: a separator, then the single pixel.
    v.SelectMagicWand(30, 20, true);
    EXPECT_EQ(v.GetSelectionPolygonCount(), 17);
    EXPECT_EQ(CountSelected(s.Mask()), 25);

    // Connected fill replaces; the outline goes.
    v.WandMode = 1;
    v.SelectMagicWand(30, 20, false);
    EXPECT_EQ(CountSelected(s.Mask()), 1);
    EXPECT_EQ(v.GetSelectionPolygonCount(), 0);
    EXPECT_TRUE(v.HasSelection());

    // Global finds both black areas.
    v.WandMode = 2;
    v.SelectMagicWand(12, 11, false);
    EXPECT_EQ(CountSelected(s.Mask()), 25);

    // Outside the image nothing changes.
    v.SelectMagicWand(40, 0, false);
    v.SelectMagicWand(-1, 0, false);
    EXPECT_EQ(CountSelected(s.Mask()), 25);
}

TEST(ImgViewSelection, RecordLayoutAndRoundTrip)
{
    SelView s(40, 30);
    TImgView& v = s.View;
    v.SelectRect(2, 3, 12, 8, 0);
    v.SelectRect(20, 20, 22, 21, 1);
    classlib::TMemoryStream stream;
    v.SaveSelectionToStream(&stream);
    const int n = 9;
    const int rowLen = 8;  // 40 bits padded to 64
    ASSERT_EQ(stream.GetSize(), 58 + 8 * n + rowLen * 30);
    auto at = [&](int offset) {
        int32_t value = 0;
        std::memcpy(&value, static_cast<uint8_t*>(stream.GetMemory()) + offset, 4);
        return value;
    };
    auto byteAt = [&](int offset) { return static_cast<uint8_t*>(stream.GetMemory())[offset]; };
    EXPECT_EQ(at(0), 40);
    EXPECT_EQ(at(4), 30);
    EXPECT_EQ(at(8), n);
    EXPECT_EQ(at(12 + 4 * 8), kSep);
    EXPECT_EQ((std::vector<int>{at(12 + 8 * n), at(16 + 8 * n), at(20 + 8 * n), at(24 + 8 * n)}),
              (std::vector<int>{2, 3, 22, 21}));
    EXPECT_EQ(byteAt(28 + 8 * n), 1);
    EXPECT_EQ(at(37 + 8 * n), 1);
    EXPECT_EQ((std::vector<int>{at(41 + 8 * n), at(45 + 8 * n), at(49 + 8 * n), at(53 + 8 * n)}),
              (std::vector<int>{2, 3, 21, 20}));
    EXPECT_EQ(byteAt(57 + 8 * n), 0);
    // Row 3 (stored bottom-up) starts with pixels 2..7 of its first byte.
    EXPECT_EQ(byteAt(58 + 8 * n + rowLen * (30 - 1 - 3)), 0x3F);

    SelView t(40, 30);
    stream.SetPosition(0);
    t.View.LoadSelectionFromStream(&stream, 0);
    EXPECT_TRUE(t.View.HasSelection());
    EXPECT_EQ(Outline(t.View), Outline(v));
    EXPECT_EQ(CountSelected(t.Mask()), 50 + 2);
    EXPECT_EQ(t.Mask().X2, 21);

    // A record cut short is refused and changes nothing.
    classlib::TMemoryStream cut;
    cut.WriteBuffer(stream.GetMemory(), stream.GetSize() - 1);
    cut.SetPosition(0);
    SelView u(40, 30);
    u.View.SelectRect(0, 0, 1, 1, 0);
    EXPECT_THROW(u.View.LoadSelectionFromStream(&cut, 0), classlib::EReadError);
    EXPECT_EQ(CountSelected(u.Mask()), 1);
    // A huge mask size in a short record is refused before allocating.
    classlib::TMemoryStream huge;
    huge.WriteBuffer(stream.GetMemory(), stream.GetSize());
    const int32_t big = 0x7FFFFFF0;
    huge.SetPosition(0);
    huge.WriteBuffer(&big, 4);
    huge.WriteBuffer(&big, 4);
    huge.SetPosition(0);
    EXPECT_THROW(u.View.LoadSelectionFromStream(&huge, 0), classlib::EReadError);
}

TEST(ImgViewSelection, StackPushPopAndShrunkImage)
{
    SelView s(40, 30);
    TImgView& v = s.View;
    EXPECT_FALSE(v.PopSelection(true, 0));
    v.SelectRect(30, 20, 38, 28, 0);
    v.PushSelection();
    v.Deselect();
    EXPECT_TRUE(v.PopSelection(false, 0));
    EXPECT_EQ(CountSelected(s.Mask()), 64);
    EXPECT_EQ(v.GetSelectionStackCount(), 1);

    // The image shrinks to 20 x 15: Mode 1 moves the selection back inside
    // before the mask is cut to the new size.
    v.GetPxBitmap()->Allocate(20, 15, px24RGB);
    v.Update();
    EXPECT_TRUE(v.PopSelection(true, 1));
    EXPECT_EQ(v.GetSelectionStackCount(), 0);
    EXPECT_EQ(s.Mask().Width, 20);
    EXPECT_EQ(s.Mask().Height, 15);
    EXPECT_EQ(CountSelected(s.Mask()), 64);
    EXPECT_EQ(s.Mask().X2, 19);
    EXPECT_EQ(s.Mask().Y2, 14);
    EXPECT_EQ(Outline(v), (PairList{{12, 7}, {20, 7}, {20, 15}, {12, 15}}));
}

TEST(ImgViewSelection, GripAndMovableHitTests)
{
    // A 100 x 80 image fills the 50 x 50 off-screen view at zoom 100, so
    // client and bitmap coordinates coincide.
    SelView s(100, 80);
    TImgView& v = s.View;
    ASSERT_EQ(v.BitmapToScreenX(10), 10);
    ASSERT_EQ(v.ScreenToBitmapY(7), 7);
    v.SelectRect(10, 10, 40, 30, 0);
    struct Case {
        int x, y, grip;
    } cases[] = {{10, 10, 1}, {36, 6, 2}, {40, 30, 3}, {6, 34, 4}, {11, 20, 5}, {39, 20, 6},
                 {25, 12, 7}, {25, 29, 8}, {25, 20, 0}, {16, 16, 0}, {60, 50, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(v.GetSelectionGripAt(c.x, c.y, false), c.grip) << c.x << "," << c.y;
    EXPECT_EQ(v.GetSelectionGripAt(10, 10, true), 0);

    EXPECT_EQ(v.GetMovableSelectionAt(20, 15, false), 0);
    EXPECT_EQ(v.GetMovableSelectionAt(45, 15, false), -1);
    EXPECT_EQ(v.GetMovableSelectionAt(20, 15, true), -1);
    v.SetSelectionOptions(pxsoAnimated);
    EXPECT_EQ(v.GetMovableSelectionAt(20, 15, false), -1);
    EXPECT_EQ(v.GetSelectionGripAt(10, 10, false), 0) << "grips need pxsoSizeable";

    // Client coordinates: the same rectangle given through the client base.
    v.SetSelectionOptions(PxDefaultSelectionOptions);
    v.SelectionBase = pxsbClientArea;
    v.SelectRect(10, 10, 30, 20, 0);
    EXPECT_EQ(Outline(v), (PairList{{10, 10}, {30, 10}, {30, 20}, {10, 20}}));
    // At zoom 200 client pixels are halved, and a layer's position counts in
    // zoomed pixels.
    v.SetZoom(200);
    v.SetViewXY(0, 0);
    ASSERT_EQ(v.ScreenToBitmapX(20), 10);
    v.SelectRect(20, 20, 61, 40, 0);
    EXPECT_EQ(Outline(v), (PairList{{10, 10}, {30, 10}, {30, 20}, {10, 20}}));
    EXPECT_EQ(v.GetSelectionGripAt(60, 40, false), 3);
    EXPECT_EQ(v.GetMovableSelectionAt(58, 38, false), 0);
    v.GetCurrentLayer()->PosX = 4;
    v.SelectRect(28, 20, 68, 40, 0);
    EXPECT_EQ(Outline(v), (PairList{{10, 10}, {30, 10}, {30, 20}, {10, 20}}));
}

TEST(ImgViewSelection, OutlineDashesAndEventsOnBitmapCanvas)
{
    SelView s(100, 80);
    TImgView& v = s.View;
    v.SetSelectionOptions(pxsoMoveable);  // no grips, not animated
    v.SelectRect(10, 10, 30, 20, 0);
    // The polygon lines are drawn while a rectangle is being drawn (the mask
    // outline otherwise).
    v.RectSelecting = true;
    v.GetSelectionOutline().StartPhase = 6;
    v.SetSelColor1(0x0000FF);
    v.SetSelColor2(0x00FF00);
    std::vector<std::vector<int>> events;
    struct Recorder : classlib::TObject {
        std::vector<std::vector<int>>* Log;
        void On(classlib::TObject*, int Polygon, int Point, classlib::TCanvas*, int x, int y)
        {
            Log->push_back({Polygon, Point, x, y});
        }
    } recorder;
    recorder.Log = &events;
    v.OnDrawPolygon = TPxOnDrawPolygon(&recorder, &Recorder::On);

    classlib::TBitmap bitmap;
    bitmap.SetPixelFormat(classlib::pf24bit);
    bitmap.SetSize(60, 40);
    bitmap.GetCanvas()->GetBrush()->SetColor(0xFFFFFF);
    const RECT all{0, 0, 60, 40};
    bitmap.GetCanvas()->FillRect(all);
    v.DrawSelectionTo(bitmap.GetCanvas(), nullptr);

    // Top line from (10, 10) to (29, 10): 2 of colour 2, 4 of colour 1,
    // 4 of colour 2, ...
    std::string top;
    for (int x = 10; x < 29; ++x) {
        const classlib::TColor c = bitmap.GetCanvas()->GetPixel(x, 10);
        top += c == 0x0000FF ? '1' : c == 0x00FF00 ? '2' : '?';
    }
    EXPECT_EQ(top, "2211112222111122221");
    EXPECT_EQ(bitmap.GetCanvas()->GetPixel(10, 5), 0xFFFFFF);
    EXPECT_EQ(bitmap.GetCanvas()->GetPixel(20, 15), 0xFFFFFF);
    EXPECT_EQ(events, (std::vector<std::vector<int>>{{0, 1, 29, 10}, {0, 2, 29, 19}, {0, 3, 10, 19}, {0, 0, 10, 10}}));
    const RECT r = v.GetLastSelectionRect();
    EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}), (std::vector<int>{10, 10, 29, 19}));

    // The mask outline, through the current layer's drawing rectangle.
    v.RectSelecting = false;
    bitmap.GetCanvas()->FillRect(all);
    int32_t* d = v.GetCurrentLayer()->DrawRect;
    const int32_t mapping[8] = {0, 0, 60, 40, 0, 0, 60, 40};
    std::copy(mapping, mapping + 8, d);
    v.DrawSelectionTo(bitmap.GetCanvas(), nullptr);
    int marked = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x)
            marked += bitmap.GetCanvas()->GetPixel(x, y) != 0xFFFFFF;
    EXPECT_GT(marked, 40);
    EXPECT_EQ(bitmap.GetCanvas()->GetPixel(20, 15), 0xFFFFFF);
    EXPECT_EQ(bitmap.GetCanvas()->GetPixel(50, 30), 0xFFFFFF);
}

// Nothing is drawn while the view scrolls by itself, is paint-locked or its
// canvas is locked; the outline still counts as animated (the timer keeps
// running) and is drawn again once the hold is gone.
TEST(ImgViewSelection, OutlineSkippedWhileScrollingOrLocked)
{
    SelView s(100, 80);
    TImgView& v = s.View;
    v.SetSelectionOptions(pxsoMoveable | pxsoAnimated);
    v.SelectRect(10, 10, 30, 20, 0);
    v.RectSelecting = true;  // the polygon lines, which fire OnDrawPolygon
    int fired = 0;
    struct Counter : classlib::TObject {
        int* N;
        void On(classlib::TObject*, int, int, classlib::TCanvas*, int, int) { ++*N; }
    } counter;
    counter.N = &fired;
    v.OnDrawPolygon = TPxOnDrawPolygon(&counter, &Counter::On);
    classlib::TBitmap bitmap;
    bitmap.SetPixelFormat(classlib::pf24bit);
    bitmap.SetSize(60, 40);
    bitmap.GetCanvas()->GetBrush()->SetColor(0xFFFFFF);
    const RECT all{0, 0, 60, 40};

    struct Case {
        const char* name;
        void (*begin)(TImgView&, classlib::TCanvas*);
        void (*end)(TImgView&, classlib::TCanvas*);
    };
    const Case cases[] = {
        {"auto-scrolling", [](TImgView& V, classlib::TCanvas*) { V.AutoScrolling = true; },
         [](TImgView& V, classlib::TCanvas*) { V.AutoScrolling = false; }},
        {"paint lock", [](TImgView& V, classlib::TCanvas*) { V.BeginPaintLock(); },
         [](TImgView& V, classlib::TCanvas*) { V.EndPaintLockNoUpdate(); }},
        {"canvas lock", [](TImgView&, classlib::TCanvas* C) { C->Lock(); },
         [](TImgView&, classlib::TCanvas* C) { C->Unlock(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        classlib::TCanvas* canvas = bitmap.GetCanvas();
        canvas->FillRect(all);
        fired = 0;
        c.begin(v, canvas);
        EXPECT_TRUE(v.DrawSelectionTo(canvas, nullptr));
        c.end(v, canvas);
        EXPECT_EQ(fired, 0);
        EXPECT_EQ(canvas->GetPixel(10, 10), 0xFFFFFF);
        EXPECT_EQ(canvas->GetPixel(20, 10), 0xFFFFFF);
        v.DrawSelectionTo(canvas, nullptr);
        EXPECT_EQ(fired, 4);
        EXPECT_NE(canvas->GetPixel(20, 10), 0xFFFFFF);
    }
}

TEST(ImgViewSelection, AntsIntervalAndGrid)
{
    SelView s(10, 10);
    TImgView& v = s.View;
    EXPECT_EQ(v.AntsIntervalFor(100), 500);
    EXPECT_EQ(v.AntsIntervalFor(30), 210);
    v.AntsLoadLimit = 0;
    EXPECT_EQ(v.AntsIntervalFor(100), 210);
}

TEST(ImgViewSelection, NegativeLimitedToSelection)
{
    SelView s(40, 30);
    TImgView& v = s.View;
    TPxBitmap* image = v.GetPxBitmap();
    image->Fill(0x204060);
    v.SelectRect(5, 5, 15, 10, 0);
    TImgProc* proc = v.GetProc();
    proc->Negative();
    int inverted = 0, kept = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const TPxRGB p = image->GetPixelRGB(x, y);
            const bool inside = x >= 5 && x < 15 && y >= 5 && y < 10;
            if (inside && p == TPxRGB{0xDF, 0xBF, 0x9F})
                ++inverted;
            if (!inside && p == TPxRGB{0x20, 0x40, 0x60})
                ++kept;
        }
    EXPECT_EQ(inverted, 50);
    EXPECT_EQ(kept, 40 * 30 - 50);
}

TEST(ImgViewSelection, RebaseOntoLayerAndUndo)
{
    // Mode 2 moves the mask from the saved layer position to the current
    // layer's and drops the outline.
    SelView s(40, 30);
    TImgView& v = s.View;
    v.SelectRect(10, 10, 20, 20, 0);
    v.PushSelection();
    v.AddLayer();
    v.GetCurrentLayer()->PosX = 5;
    v.GetCurrentLayer()->PosY = 3;
    EXPECT_TRUE(v.PopSelection(true, 2));
    EXPECT_TRUE(v.HasSelection());
    EXPECT_EQ(v.GetSelectionPolygonCount(), 0);
    EXPECT_EQ(CountSelected(s.Mask()), 100);
    EXPECT_EQ((std::vector<int>{s.Mask().X1, s.Mask().Y1, s.Mask().X2, s.Mask().Y2}),
              (std::vector<int>{5, 7, 14, 16}));

    // The processing object's selection undo brings the earlier selection
    // back through the record.
    SelView u(40, 30);
    TImgProc* proc = u.View.GetProc();
    proc->SetUndoLimit(5);
    u.View.SelectRect(1, 1, 4, 4, 0);
    proc->SaveUndo(pxuSelection);
    u.View.SelectRect(20, 20, 30, 25, 0);
    proc->Undo(false);
    EXPECT_EQ(Outline(u.View), (PairList{{1, 1}, {4, 1}, {4, 4}, {1, 4}}));
    EXPECT_EQ(CountSelected(u.Mask()), 9);
}

TEST(ImgViewSelection, AntsTimerInAWindow)
{
    HWND host = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED | WS_CLIPCHILDREN, 0, 0, 200, 200, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(host, nullptr);
    {
        SelView s(100, 80);
        TImgView& v = s.View;
        v.SetParentWindow(host);
        v.SetBounds(0, 0, 120, 100);
        v.HandleNeeded();
        v.SelectRect(10, 10, 30, 20, 0);
        ASSERT_NE(v.GetAntsTimer(), nullptr);
        EXPECT_TRUE(v.GetAntsTimer()->GetEnabled());
        EXPECT_EQ(v.GetAntsTimer()->GetInterval(), 210u);
        // Each tick advances the phases; a mouse selection under way holds
        // them.
        const int phase = v.GetSelectionOutline().StartPhase;
        const int ants = v.AntsPhase;
        v.DrawSelection(v.GetAntsTimer());
        EXPECT_EQ(v.GetSelectionOutline().StartPhase, (phase + 1) % 10);
        EXPECT_EQ(v.AntsPhase, ants + 1);
        v.RectSelecting = true;
        v.DrawSelection(v.GetAntsTimer());
        EXPECT_EQ(v.AntsPhase, ants + 1);
        v.RectSelecting = false;
        // Not animated and no delay running: the timer stops.
        v.SetSelectionOptions(pxsoMoveable);
        v.DrawSelection(&v);
        EXPECT_FALSE(v.GetAntsTimer()->GetEnabled());
    }
    DestroyWindow(host);
}
