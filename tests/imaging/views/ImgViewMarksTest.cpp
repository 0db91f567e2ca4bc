// The current layer's marks in the composed view: the box, the eight grips in
// both shapes, the rotation-centre grip, locked layers, and the events that
// replace the built-in drawing.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "classlib/Bitmap.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/views/view/ImgView.h"

using namespace imaging;

namespace {

struct Calls {
    int Boxes = 0;
    std::vector<int> Grips;
    void Box(classlib::TObject*, classlib::TBitmap*, int) { ++Boxes; }
    void Grip(classlib::TObject*, classlib::TBitmap*, int, int G, RECT) { Grips.push_back(G); }
};

class LayerMarks : public ::testing::Test {
protected:
    void SetUp() override
    {
        host_ = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED | WS_CLIPCHILDREN, 0, 0, 300, 300, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        view = std::make_unique<TImgView>(nullptr);
        view->SetBorderStyle(imaging::bsNone);
        view->SetScrollBars(classlib::ssNone);
        view->SetParentWindow(host_);
        view->SetBounds(0, 0, 120, 100);
        view->GetHandle();
        view->SetLegacyBitmap(false);
        view->SetCenter(false);
        view->GetPxBitmap()->Allocate(120, 100, px24RGB);
        view->GetPxBitmap()->Fill(0x000000);
        view->AddLayer();
        view->GetPxBitmap()->Allocate(40, 30, px24RGB);
        view->GetPxBitmap()->Fill(0x000000);
        view->GetCurrentLayer()->PosX = 30;
        view->GetCurrentLayer()->PosY = 20;
        view->GetCurrentLayer()->ShowBox = true;
        view->Update();
    }
    void Compose()
    {
        dest = std::make_unique<TPxBitmap>();
        dest->SetLocation(pxTBitmap);
        dest->Allocate(120, 100, px24RGB);
        view->DrawLayers(dest.get(), nullptr, true, true, nullptr);
    }
    bool GripColour(int X, int Y)
    {
        const TPxRGB p = dest->GetPixelRGB(X, Y);
        return p.r == 0xFF && p.g == 0xFF && p.b == 0xBA;
    }
    bool Black(int X, int Y)
    {
        const TPxRGB p = dest->GetPixelRGB(X, Y);
        return p.r == 0 && p.g == 0 && p.b == 0;
    }
    void TearDown() override
    {
        view.reset();
        DestroyWindow(host_);
    }
    std::unique_ptr<TImgView> view;
    std::unique_ptr<TPxBitmap> dest;

private:
    HWND host_ = nullptr;
};

TEST_F(LayerMarks, BoxAndGripsFollowTheInteractionAndShape)
{
    view->SetMouseInteract(TImgView::miMoveLayers);
    Compose();
    const RECT r = view->GetCurrentLayer()->ScreenRect;
    ASSERT_EQ(r.left, 30);
    ASSERT_EQ(r.top, 20);
    // The dotted inverting box: some pixels of the top edge turn white.
    int white = 0;
    for (int x = r.left + 8; x < r.right - 8; ++x)
        white += dest->GetPixelRGB(x, r.top).r == 255 ? 1 : 0;
    EXPECT_GT(white, 3);
    EXPECT_FALSE(GripColour(r.left, r.top));  // moving only: no grips
    view->SetMouseInteract(TImgView::miResizeLayers);
    view->LayerGripShape = 0;
    Compose();
    for (const POINT p : {POINT{r.left, r.top}, POINT{r.right, r.bottom}, POINT{(r.left + r.right) / 2, r.top}})
        EXPECT_TRUE(GripColour(p.x, p.y)) << p.x << "," << p.y;
    EXPECT_TRUE(GripColour(r.left - 3, r.top - 3));  // a square fills its corner
    view->LayerGripShape = 1;
    Compose();
    EXPECT_TRUE(GripColour(r.left, r.top));
    EXPECT_FALSE(GripColour(r.left - 4, r.top - 4));  // an ellipse does not
    // A locked layer shows its box but no grips.
    view->GetCurrentLayer()->Locked = true;
    Compose();
    EXPECT_FALSE(GripColour(r.left, r.top));
    // Without ShowBox nothing is drawn.
    view->GetCurrentLayer()->Locked = false;
    view->GetCurrentLayer()->ShowBox = false;
    Compose();
    EXPECT_TRUE(Black(r.left, r.top));
}

TEST_F(LayerMarks, RotationGripAndReplacingEvents)
{
    view->SetMouseInteract(TImgView::miRotateLayers);
    view->GetCurrentLayer()->RotateCenterX = 0.5;
    view->GetCurrentLayer()->RotateCenterY = 0.5;
    Compose();
    EXPECT_TRUE(GripColour(50, 35));  // the layer's centre
    Calls calls;
    view->OnDrawLayerBox = TImgView::TPxDrawLayerBoxEvent(&calls, &Calls::Box);
    view->OnDrawLayerGrip = TImgView::TPxDrawLayerGrip(&calls, &Calls::Grip);
    view->SetMouseInteract(TImgView::miResizeLayers);
    Compose();
    EXPECT_EQ(calls.Boxes, 1);
    EXPECT_EQ(calls.Grips, std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7}));
    const RECT r = view->GetCurrentLayer()->ScreenRect;
    EXPECT_TRUE(Black(r.left, r.top));
    EXPECT_TRUE(view->PaletteChanged(false));
}

}  // namespace
