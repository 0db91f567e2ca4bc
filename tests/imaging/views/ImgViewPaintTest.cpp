// Painting of the image view checked by the pixels of its back buffer: the
// image at several zooms over the background, the zoom filter, layers with
// transparency and alpha, rendering all layers into an image, background
// styles, paint and update locks, and the cursors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "classlib/Bitmap.h"
#include "classlib/Component.h"
#include "classlib/Picture.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/views/view/ImgView.h"

using namespace imaging;

namespace {

struct Rgb {
    int r, g, b;
};

Rgb PixelOf(classlib::TBitmap* Bitmap, int X, int Y)
{
    const auto* row = static_cast<const uint8_t*>(Bitmap->GetScanLine(Y));
    return Rgb{row[X * 3 + 2], row[X * 3 + 1], row[X * 3]};
}

Rgb PixelOf(TPxBitmap* Bitmap, int X, int Y)
{
    const uint8_t* row = Bitmap->GetScanline(Y);
    return Rgb{row[X * 3 + 2], row[X * 3 + 1], row[X * 3]};
}

void SetPixel(TPxBitmap* Bitmap, int X, int Y, Rgb C)
{
    uint8_t* row = Bitmap->GetScanline(Y);
    row[X * 3] = static_cast<uint8_t>(C.b);
    row[X * 3 + 1] = static_cast<uint8_t>(C.g);
    row[X * 3 + 2] = static_cast<uint8_t>(C.r);
}

// A TColor (0x00BBGGRR) of an RGB triple.
double ColorValue(Rgb C) { return static_cast<double>(C.r | (C.g << 8) | (C.b << 16)); }

#define EXPECT_RGB(actual, R, G, B, tol)                                                                  \
    do {                                                                                                  \
        const Rgb a_ = (actual);                                                                          \
        EXPECT_TRUE(std::abs(a_.r - (R)) <= (tol) && std::abs(a_.g - (G)) <= (tol) &&                     \
                    std::abs(a_.b - (B)) <= (tol))                                                        \
            << "got " << a_.r << "," << a_.g << "," << a_.b << " want " << (R) << "," << (G) << "," << (B); \
    } while (0)

// A hidden top-level window holding a borderless view without scroll bars.
class ViewHost {
public:
    ViewHost(int W, int H, classlib::TComponent* Owner = nullptr)
    {
        host_ = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED | WS_CLIPCHILDREN, 0, 0, 400, 400, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        view = std::make_unique<TImgView>(Owner);
        view->SetBorderStyle(bsNone);
        view->SetScrollBars(classlib::ssNone);
        view->SetParentWindow(host_);
        view->SetBounds(0, 0, W, H);
        view->GetHandle();
        view->SetBackground(static_cast<classlib::TColor>(0x00FF00));  // green
    }
    ~ViewHost()
    {
        view.reset();
        if (host_)
            DestroyWindow(host_);
    }
    ViewHost(const ViewHost&) = delete;
    ViewHost& operator=(const ViewHost&) = delete;

    classlib::TBitmap* Painted()
    {
        view->Paint();
        return view->GetBackBufferBitmap();
    }

    std::unique_ptr<TImgView> view;

private:
    HWND host_ = nullptr;
};

Rgb Source(int X, int Y) { return Rgb{X * 30, Y * 60, 100}; }

TEST(ImgViewPaint, ImageOverBackgroundAtZooms)
{
    struct Case {
        double zoom;
        int num, den;  // bitmap = (screen - offset) * den / num
        int offX, offY, w, h;
    };
    // View 40 x 20, image 8 x 4.
    const Case cases[] = {
        {100, 1, 1, 16, 8, 8, 4},
        {200, 2, 1, 12, 6, 16, 8},
        {50, 1, 2, 18, 9, 4, 2},
    };
    for (const Case& c : cases) {
        ViewHost host(40, 20);
        TPxBitmap* image = host.view->GetPxBitmap();
        image->Allocate(8, 4, px24RGB);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 8; ++x)
                SetPixel(image, x, y, Source(x, y));
        host.view->Update();
        host.view->SetZoom(c.zoom);
        classlib::TBitmap* buffer = host.Painted();
        ASSERT_NE(buffer, nullptr);
        ASSERT_EQ(buffer->GetWidth(), 40);
        ASSERT_EQ(buffer->GetHeight(), 20);
        int wrong = 0;
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 40; ++x) {
                const bool inside = x >= c.offX && x < c.offX + c.w && y >= c.offY && y < c.offY + c.h;
                const Rgb want = inside ? Source((x - c.offX) * c.den / c.num, (y - c.offY) * c.den / c.num)
                                        : Rgb{0, 255, 0};
                const Rgb got = PixelOf(buffer, x, y);
                if (got.r != want.r || got.g != want.g || got.b != want.b) {
                    if (++wrong < 5)
                        ADD_FAILURE() << "zoom " << c.zoom << " at " << x << "," << y << ": " << got.r << ","
                                      << got.g << "," << got.b << " want " << want.r << "," << want.g << ","
                                      << want.b;
                }
            }
        }
        EXPECT_EQ(wrong, 0) << "zoom " << c.zoom;
    }
}

TEST(ImgViewPaint, ZoomFilterSmoothsAndTinyImagesAreNotDrawn)
{
    ViewHost host(40, 20);
    TImgView& v = *host.view;
    TPxBitmap* image = v.GetPxBitmap();
    image->Allocate(2, 1, px24RGB);
    SetPixel(image, 0, 0, Rgb{0, 0, 0});
    SetPixel(image, 1, 0, Rgb{255, 255, 255});
    v.Update();
    v.SetZoom(800);  // 16 x 8 at (12, 6)
    auto greys = [&](classlib::TBitmap* buffer) {
        int n = 0;
        for (int x = 12; x < 28; ++x) {
            const Rgb p = PixelOf(buffer, x, 9);
            n += p.r > 0 && p.r < 255;
        }
        return n;
    };
    EXPECT_EQ(greys(host.Painted()), 0);
    v.SetZoomFilter(rfTriangle);
    EXPECT_GT(greys(host.Painted()), 0);

    // A 1 x 1 image is not drawn, a 1 x 2 one is.
    v.SetZoomFilter(rfNone);
    v.SetZoom(100);
    image->Allocate(1, 1, px24RGB);
    image->Fill(0x0000FF);
    v.Update();
    EXPECT_RGB(PixelOf(host.Painted(), 19, 9), 0, 255, 0, 0);
    image->Allocate(1, 2, px24RGB);
    image->Fill(0x0000FF);
    v.Update();
    EXPECT_RGB(PixelOf(host.Painted(), 19, 9), 255, 0, 0, 0);
}

// Base 20 x 10 red; layer 1: 4 x 4 blue at (2, 3), opacity 128; layer 2:
// 4 x 4 yellow at (10, 2), left half transparent through its alpha.
void BuildLayers(TImgView& v)
{
    TPxBitmap* base = v.GetPxBitmap();
    base->Allocate(20, 10, px24RGB);
    base->Fill(0x0000FF);
    v.Update();
    v.AddLayer();
    TPxLayer* one = v.GetLayer(1);
    v.GetPxBitmap()->Allocate(4, 4, px24RGB);
    v.GetPxBitmap()->Fill(0xFF0000);
    one->PosX = 2;
    one->PosY = 3;
    one->Transparency = 128;
    v.AddLayer();
    TPxLayer* two = v.GetLayer(2);
    TPxBitmap* img = v.GetPxBitmap();
    img->Allocate(4, 4, px24RGB);
    img->Fill(0x00FFFF);
    TPxBitmap* alpha = img->GetAlphaChannel();
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            alpha->SetPixelGray8(x, y, x < 2 ? 0 : 255);
    alpha->FullAlpha = false;
    two->PosX = 10;
    two->PosY = 2;
    v.SetCurrentLayer(0);
    v.Update();
}

TEST(ImgViewPaint, LayersWithOpacityAndAlpha)
{
    ViewHost host(40, 20);
    TImgView& v = *host.view;
    BuildLayers(v);
    classlib::TBitmap* buffer = host.Painted();
    // The base is centred at (10, 5).
    EXPECT_RGB(PixelOf(buffer, 9, 5), 0, 255, 0, 0);
    EXPECT_RGB(PixelOf(buffer, 10, 5), 255, 0, 0, 0);
    EXPECT_RGB(PixelOf(buffer, 10 + 3, 5 + 4), 127, 0, 127, 1);
    EXPECT_RGB(PixelOf(buffer, 10 + 10, 5 + 2), 255, 0, 0, 0);
    EXPECT_RGB(PixelOf(buffer, 10 + 12, 5 + 2), 255, 255, 0, 1);  // alpha 255 blends to 254
    EXPECT_RGB(PixelOf(buffer, 10 + 14, 5 + 2), 255, 0, 0, 0);
    RECT r = v.GetLayer(1)->ScreenRect;
    EXPECT_EQ(r.left, 12);
    EXPECT_EQ(r.top, 8);
    EXPECT_EQ(r.right, 16);
    EXPECT_EQ(r.bottom, 12);

    // At zoom 200 the layers follow the base: (0, 0) of the base is at
    // (0, 0) of the view (40 x 20 fills it), layer 1 starts at (4, 6).
    v.SetZoom(200);
    v.SetViewXY(0, 0);
    buffer = host.Painted();
    EXPECT_RGB(PixelOf(buffer, 3, 6), 255, 0, 0, 0);
    EXPECT_RGB(PixelOf(buffer, 4, 6), 127, 0, 127, 1);
    EXPECT_RGB(PixelOf(buffer, 11, 13), 127, 0, 127, 1);
    EXPECT_RGB(PixelOf(buffer, 12, 13), 255, 0, 0, 0);
}

TEST(ImgViewPaint, RenderLayersToAndFlatten)
{
    ViewHost host(40, 20);
    TImgView& v = *host.view;
    BuildLayers(v);
    v.SetZoom(300);
    v.SetViewXY(7, 5);
    const int vx = v.GetViewX();
    const int vy = v.GetViewY();
    TPxBitmap out;
    v.RenderLayersTo(&out);
    ASSERT_EQ(out.GetWidth(), 20);
    ASSERT_EQ(out.GetHeight(), 10);
    EXPECT_DOUBLE_EQ(v.GetZoomX(), 300);
    EXPECT_EQ(v.GetViewX(), vx);
    EXPECT_EQ(v.GetViewY(), vy);
    EXPECT_RGB(PixelOf(&out, 0, 0), 255, 0, 0, 0);
    EXPECT_RGB(PixelOf(&out, 3, 4), 127, 0, 127, 1);
    EXPECT_RGB(PixelOf(&out, 10, 2), 255, 0, 0, 0);
    EXPECT_RGB(PixelOf(&out, 12, 2), 255, 255, 0, 1);

    v.FlattenLayers();
    EXPECT_EQ(v.GetLayersCount(), 1);
    TPxBitmap* flat = v.GetPxBitmap();
    ASSERT_EQ(flat->GetWidth(), 20);
    ASSERT_EQ(flat->GetPixelFormat(), px24RGB);
    EXPECT_RGB(PixelOf(flat, 3, 4), 127, 0, 127, 1);
    EXPECT_RGB(PixelOf(flat, 13, 3), 255, 255, 0, 1);
}

TEST(ImgViewPaint, RotatedLayerAndGrips)
{
    ViewHost host(40, 20);
    TImgView& v = *host.view;
    TPxBitmap* base = v.GetPxBitmap();
    base->Allocate(20, 10, px24RGB);
    base->Fill(0x0000FF);
    v.Update();
    v.AddLayer();
    v.GetPxBitmap()->Allocate(6, 2, px24RGB);
    v.GetPxBitmap()->Fill(0xFF0000);
    TPxLayer* layer = v.GetLayer(1);
    layer->PosX = 4;
    layer->PosY = 4;
    layer->SetRotation(90);
    v.Update();
    classlib::TBitmap* buffer = host.Painted();
    // 6 x 2 at (4, 4) turned a quarter about its centre (7, 5): 2 x 6 at
    // (6, 2); the base is centred at (10, 5).
    EXPECT_RGB(PixelOf(buffer, 10 + 6, 5 + 2), 0, 0, 255, 1);  // through its alpha channel
    EXPECT_RGB(PixelOf(buffer, 10 + 7, 5 + 7), 0, 0, 255, 1);
    EXPECT_RGB(PixelOf(buffer, 10 + 5, 5 + 4), 255, 0, 0, 0);
    EXPECT_RGB(PixelOf(buffer, 10 + 8, 5 + 4), 255, 0, 0, 0);
    EXPECT_RGB(PixelOf(buffer, 10 + 4, 5 + 4), 255, 0, 0, 0);
    // The placement is the layer's own again after drawing.
    EXPECT_EQ(layer->PosX, 4);
    EXPECT_EQ(layer->PosY, 4);
    EXPECT_EQ(layer->Width, 0);
    EXPECT_EQ(layer->Height, 0);

    // Grips of an unrotated layer: corners and side middles of ScreenRect.
    layer->SetRotation(0);
    v.Update();
    host.Painted();
    const RECT r = layer->ScreenRect;  // (14, 9) - (20, 11)
    ASSERT_EQ(r.left, 14);
    ASSERT_EQ(r.bottom, 11);
    RECT grips[8];
    ASSERT_TRUE(v.GetGripRects(1, grips));
    EXPECT_EQ(grips[0].left, 14 - 5);
    EXPECT_EQ(grips[2].right, 20 + 5);
    EXPECT_EQ(grips[5].top, 10 - 5);
    v.SetCurrentLayer(1);
    EXPECT_EQ(v.GetGripAt(14 - 5, 9 - 5), 1);  // the exact corner of the first square
    EXPECT_EQ(v.GetGripAt(30, 1), 0);
    EXPECT_FALSE(v.GetGripRects(5, grips));
}

TEST(ImgViewPaint, MaskLayerLimitsTheLayerBelow)
{
    ViewHost host(40, 20);
    TImgView& v = *host.view;
    TPxBitmap* base = v.GetPxBitmap();
    base->Allocate(20, 10, px24RGB);
    base->Fill(0x0000FF);
    v.Update();
    v.AddLayer();
    v.GetPxBitmap()->Allocate(4, 4, px24RGB);
    v.GetPxBitmap()->Fill(0xFF0000);
    v.GetLayer(1)->PosX = 2;
    v.GetLayer(1)->PosY = 2;
    v.AddLayer();
    TPxBitmap* mask = v.GetPxBitmap();
    mask->Allocate(4, 4, px8g);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            mask->SetPixelGray8(x, y, x < 2 ? 0 : 255);
    TPxLayer* m = v.GetLayer(2);
    m->IsMask = true;
    m->Visible = false;
    m->PosX = 2;
    m->PosY = 2;
    v.SetCurrentLayer(0);
    v.Update();
    for (int pass = 0; pass < 2; ++pass) {  // the second pass uses the cached mask
        SCOPED_TRACE(pass);
        v.InvalidateViewRect(RECT{0, 0, 40, 20});
        classlib::TBitmap* buffer = host.Painted();
        EXPECT_RGB(PixelOf(buffer, 10 + 2, 5 + 2), 255, 0, 0, 0);
        EXPECT_RGB(PixelOf(buffer, 10 + 3, 5 + 5), 255, 0, 0, 0);
        EXPECT_RGB(PixelOf(buffer, 10 + 4, 5 + 2), 0, 0, 255, 1);
        EXPECT_RGB(PixelOf(buffer, 10 + 5, 5 + 5), 0, 0, 255, 1);
        EXPECT_NE(v.GetLayer(1)->MaskCache, nullptr);
    }
    // The layer's own alpha channel is back after drawing.
    TPxBitmap* own = v.GetLayer(1)->Bitmap->GetAlphaChannel();
    EXPECT_EQ(own->GetPixelGray8(0, 0), 255);
}

TEST(ImgViewPaint, MagnifierLayerShowsTheBaseEnlarged)
{
    ViewHost host(40, 20);
    TImgView& v = *host.view;
    TPxBitmap* base = v.GetPxBitmap();
    base->Allocate(20, 10, px24RGB);
    base->Fill(0x0000FF);
    base->FillRect(10, 0, 19, 9, 0xFF0000);  // right half blue
    v.Update();
    v.AddLayer();
    v.GetPxBitmap()->Allocate(4, 4, px24RGB);
    v.GetPxBitmap()->Fill(0x00FF00);
    TPxLayer* lens = v.GetLayer(1);
    lens->PosX = 8;
    lens->PosY = 3;
    lens->Magnify = true;
    lens->MagnifyRate = 2;
    lens->MagnifySource = 0;
    lens->MagnifyShape = 0;
    v.SetCurrentLayer(0);
    v.Update();
    // The lens covers screen (18..21, 8..11); the area under its centre,
    // bitmap (9..10, 4..5), is shown twice as large: red then blue.
    classlib::TBitmap* buffer = host.Painted();
    for (int y = 8; y < 12; ++y) {
        SCOPED_TRACE(y);
        EXPECT_RGB(PixelOf(buffer, 18, y), 255, 0, 0, 0);
        EXPECT_RGB(PixelOf(buffer, 19, y), 255, 0, 0, 0);
        EXPECT_RGB(PixelOf(buffer, 20, y), 0, 0, 255, 0);
        EXPECT_RGB(PixelOf(buffer, 21, y), 0, 0, 255, 0);
    }
    EXPECT_RGB(PixelOf(buffer, 22, 9), 0, 0, 255, 0);
    EXPECT_RGB(PixelOf(buffer, 17, 9), 255, 0, 0, 0);
}

TEST(ImgViewPaint, BackgroundStyles)
{
    const Rgb color{10, 20, 30};
    const classlib::TColor c = static_cast<classlib::TColor>(ColorValue(color));
    const uint32_t inv = static_cast<uint32_t>(classlib::ColorToRGB(static_cast<classlib::TColor>(~static_cast<uint32_t>(c))));
    const Rgb inverse{static_cast<int>(inv & 0xFF), static_cast<int>((inv >> 8) & 0xFF), static_cast<int>((inv >> 16) & 0xFF)};
    auto make = [] {
        auto b = std::make_unique<classlib::TBitmap>();
        b->SetPixelFormat(classlib::pf24bit);
        b->SetSize(50, 50);
        return b;
    };

    // Chessboard written directly: the first row and column of squares are
    // one pixel larger.
    auto chess = make();
    PxDrawBackground(0, chess->GetCanvas(), chess.get(), pxbsChessboard, c, 0, 0, 50, 50, 0, 0, 0, 0, 16,
                     classlib::bsSolid, classlib::clBlue, nullptr, pxwoNormal);
    struct P {
        int x, y;
        bool first;
    };
    for (P p : {P{0, 0, true}, P{16, 16, true}, P{17, 0, false}, P{16, 17, false}, P{32, 0, false}, P{33, 0, true},
                P{17, 17, true}, P{49, 49, true}}) {
        SCOPED_TRACE(std::to_string(p.x) + "," + std::to_string(p.y));
        const Rgb want = p.first ? color : inverse;
        EXPECT_RGB(PixelOf(chess.get(), p.x, p.y), want.r, want.g, want.b, 0);
    }

    // Gradient: the colour at the top, the end colour at the bottom.
    auto grad = make();
    PxDrawBackground(0, grad->GetCanvas(), grad.get(), pxbsGradient, classlib::clWhite, 0, 0, 50, 50, 0, 0, 0, 0, 16,
                     classlib::bsSolid, static_cast<classlib::TColor>(0xFF0000), nullptr, pxwoNormal);
    grad->GetCanvas()->Refresh();
    const Rgb top = PixelOf(grad.get(), 25, 0);
    const Rgb bottom = PixelOf(grad.get(), 25, 49);
    EXPECT_GT(top.r, 240);
    EXPECT_GT(top.g, 240);
    EXPECT_LT(bottom.r, 20);
    EXPECT_GT(bottom.b, 240);

    // Photo-like: grey around, a black frame one pixel outside the image,
    // the chessboard over the image.
    auto photo = make();
    PxDrawBackground(0, photo->GetCanvas(), photo.get(), pxbsPhotoLike, c, 0, 0, 50, 50, 10, 10, 40, 40, 16,
                     classlib::bsSolid, classlib::clBlue, nullptr, pxwoNormal);
    EXPECT_RGB(PixelOf(photo.get(), 0, 0), 0xB0, 0xB0, 0xB0, 0);
    EXPECT_RGB(PixelOf(photo.get(), 9, 20), 0, 0, 0, 0);
    EXPECT_RGB(PixelOf(photo.get(), 40, 20), 0, 0, 0, 0);
    EXPECT_RGB(PixelOf(photo.get(), 10, 10), color.r, color.g, color.b, 0);
    EXPECT_RGB(PixelOf(photo.get(), 27, 10), inverse.r, inverse.g, inverse.b, 0);

    // Wallpaper over a solid fill, drawn at (0, 0) unscaled.
    classlib::TPicture paper;
    paper.GetBitmap()->SetPixelFormat(classlib::pf24bit);
    paper.GetBitmap()->SetSize(5, 5);
    paper.GetBitmap()->GetCanvas()->GetBrush()->SetColor(classlib::clYellow);
    paper.GetBitmap()->GetCanvas()->FillRect(RECT{0, 0, 5, 5});
    auto wall = make();
    PxDrawBackground(0, wall->GetCanvas(), wall.get(), pxbsSolid, c, 0, 0, 50, 50, 0, 0, 0, 0, 16, classlib::bsSolid,
                     classlib::clBlue, &paper, pxwoNormal);
    wall->GetCanvas()->Refresh();
    EXPECT_RGB(PixelOf(wall.get(), 2, 2), 255, 255, 0, 0);
    EXPECT_RGB(PixelOf(wall.get(), 6, 6), color.r, color.g, color.b, 0);
}

TEST(ImgViewPaint, BackgroundHandlerAndStyleInView)
{
    ViewHost host(40, 20);
    TImgView& v = *host.view;
    v.GetPxBitmap()->Allocate(10, 10, px24RGB);
    v.GetPxBitmap()->Fill(0x0000FF);
    v.Update();
    // An opaque image filling the view leaves no background visible.
    struct Handler : classlib::TObject {
        bool handled = true;
        int calls = 0;
        void Draw(classlib::TObject*, classlib::TCanvas* canvas, RECT r, bool& h)
        {
            ++calls;
            canvas->GetBrush()->SetColor(static_cast<classlib::TColor>(0xFF00FF));
            canvas->FillRect(r);
            h = handled;
        }
    } handler;
    v.OnDrawBackground = TPxOnDrawBackground(&handler, &Handler::Draw);
    classlib::TBitmap* buffer = host.Painted();
    EXPECT_EQ(handler.calls, 1);
    EXPECT_RGB(PixelOf(buffer, 0, 0), 255, 0, 255, 0);
    EXPECT_RGB(PixelOf(buffer, 15, 5), 255, 0, 0, 0);
    // Not handled: the built-in background paints over the handler's.
    handler.handled = false;
    v.Update();
    buffer = host.Painted();
    EXPECT_RGB(PixelOf(buffer, 0, 0), 0, 255, 0, 0);
    // The chessboard style of the view around the centred image.
    v.OnDrawBackground = nullptr;
    v.SetChessboardStyle(4, classlib::bsSolid);
    v.SetBackgroundStyle(pxbsChessboard);
    buffer = host.Painted();
    EXPECT_RGB(PixelOf(buffer, 0, 0), 0, 255, 0, 0);
    EXPECT_RGB(PixelOf(buffer, 15, 5), 255, 0, 0, 0);
    const Rgb second = PixelOf(buffer, 6, 0);
    EXPECT_FALSE(second.r == 0 && second.g == 255 && second.b == 0);
}

TEST(ImgViewPaint, PaintAndUpdateLocks)
{
    ViewHost host(40, 20);
    TImgView& v = *host.view;
    v.GetPxBitmap()->Allocate(10, 10, px24RGB);
    v.Update();
    struct Count : classlib::TObject {
        int composed = 0, painted = 0;
        void Composed(classlib::TObject*) { ++composed; }
        void Painted(classlib::TObject*) { ++painted; }
    } count;
    v.OnDrawBackBuffer = classlib::TNotifyEvent(&count, &Count::Composed);
    v.OnPaint = classlib::TNotifyEvent(&count, &Count::Painted);
    v.BeginPaintLock();
    v.Paint();
    EXPECT_EQ(count.composed, 0);
    EXPECT_EQ(count.painted, 1);
    EXPECT_EQ(v.EndPaintLock(), 0);
    v.Paint();
    EXPECT_EQ(count.composed, 1);
    // A valid back buffer is only copied again.
    v.Paint();
    EXPECT_EQ(count.composed, 1);

    // Under the update lock nothing is recomputed until the lock ends.
    ASSERT_EQ(v.GetOffsetX(), 15);
    v.BeginUpdateLock();
    v.SetCenter(false);
    EXPECT_EQ(v.GetOffsetX(), 15);
    v.EndUpdateLock();
    EXPECT_EQ(v.GetOffsetX(), 0);
}

TEST(ImgViewPaint, CursorsSavedTemporaryAndRestored)
{
    classlib::TComponent owner(nullptr);
    ViewHost host(40, 20, &owner);
    TImgView& v = *host.view;
    EXPECT_EQ(v.GetCursor(), 1785);
    EXPECT_EQ(v.GetSavedCursor(), 0);
    // The first paint shows the cursor and makes it the saved one.
    v.Paint();
    EXPECT_EQ(v.GetSavedCursor(), 1785);
    v.SetTempCursor(1790);
    EXPECT_EQ(v.GetCursor(), 1790);
    EXPECT_EQ(v.GetSavedCursor(), 1785);
    v.RestoreCursor();
    EXPECT_EQ(v.GetCursor(), 1785);

    // A view made without an owner keeps its cursor.
    ViewHost bare(40, 20);
    bare.view->SetTempCursor(1790);
    EXPECT_EQ(bare.view->GetCursor(), 1785);
}

}  // namespace
