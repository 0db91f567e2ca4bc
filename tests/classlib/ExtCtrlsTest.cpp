#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "classlib/ExtCtrls.h"
#include "classlib/Icon.h"
#include "support/HostWindow.h"

using namespace classlib;

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kWhite = RGB(255, 255, 255);

using testsupport::PumpMessages;

// A white window control inside a visible top-level window of plain Win32,
// with the image under test at (10, 10) in it.
class TImageHost {
public:
    TImageHost()
    {
        Panel.SetParentWindow(top_.Get());
        Panel.SetBounds(0, 0, 200, 120);
        Panel.SetColor(clWhite);
        Image.SetBounds(10, 10, 60, 40);
        Image.SetParent(&Panel);
        Panel.HandleNeeded();
        PumpMessages();
    }
    ~TImageHost()
    {
        Image.SetParent(nullptr);
        Panel.DestroyHandle();
    }

    // The colour at a point of the panel after every pending paint ran.
    COLORREF At(int x, int y)
    {
        ::UpdateWindow(Panel.GetHandle());
        PumpMessages();
        TWindowDC dc(Panel.GetHandle());
        return ::GetPixel(dc.Get(), x, y);
    }
    bool PendingPaint()
    {
        RECT r;
        return ::GetUpdateRect(Panel.GetHandle(), &r, FALSE) != FALSE;
    }

    TWinControl Panel{nullptr};
    TImage Image{nullptr};

private:
    testsupport::THostWindow top_{200, 120};
};

// 20 x 10, the left half red and the right half blue, 32 bits per pixel.
void MakeHalves(TBitmap& b)
{
    b.SetPixelFormat(pf32bit);
    b.SetSize(20, 10);
    b.GetCanvas()->GetBrush()->SetColor(clRed);
    b.GetCanvas()->FillRect(RECT{0, 0, 10, 10});
    b.GetCanvas()->GetBrush()->SetColor(clBlue);
    b.GetCanvas()->FillRect(RECT{10, 0, 20, 10});
}

}  // namespace

TEST(ExtCtrls, ImagePaintsItsPictureInEachMode)
{
    TImageHost host;
    TBitmap halves;
    MakeHalves(halves);
    host.Image.GetPicture()->SetBitmap(&halves);

    // Points in panel coordinates (the image is at 10, 10 and 60 x 40).
    struct Probe {
        int x, y;
        COLORREF colour;
    };
    struct Case {
        const char* name;
        bool stretch, center, proportional, transparent;
        Probe probes[4];
    } cases[] = {
        {"plain", false, false, false, false, {{10, 10, kRed}, {29, 19, kBlue}, {30, 10, kWhite}, {10, 20, kWhite}}},
        {"stretch", true, false, false, false, {{12, 48, kRed}, {39, 30, kRed}, {40, 30, kBlue}, {69, 49, kBlue}}},
        // centred: the picture at (20, 15) of the image
        {"center", false, true, false, false, {{30, 25, kRed}, {49, 34, kBlue}, {29, 25, kWhite}, {40, 35, kWhite}}},
        // stretched in proportion: 60 x 30 at the top
        {"proportional", true, false, true, false, {{10, 39, kRed}, {69, 10, kBlue}, {40, 40, kWhite}, {69, 49, kWhite}}},
        // the bottom-left colour (red) is left out
        {"transparent", false, false, false, true, {{10, 10, kWhite}, {19, 19, kWhite}, {20, 10, kBlue}, {29, 19, kBlue}}},
    };
    for (const Case& c : cases) {
        host.Image.SetStretch(c.stretch);
        host.Image.SetCenter(c.center);
        host.Image.SetProportional(c.proportional);
        host.Image.SetTransparent(c.transparent);
        for (const Probe& p : c.probes)
            EXPECT_EQ(host.At(p.x, p.y), p.colour) << c.name << " at " << p.x << "," << p.y;
    }
}

TEST(ExtCtrls, DestRectFollowsTheModes)
{
    TImage image(nullptr);
    image.SetBounds(0, 0, 60, 40);
    TBitmap b;
    struct Case {
        int w, h;
        bool stretch, center, proportional;
        RECT expected;
    } cases[] = {
        {20, 10, false, false, false, {0, 0, 20, 10}},
        {20, 10, false, false, true, {0, 0, 20, 10}},       // small: never enlarged without Stretch
        {120, 50, false, false, true, {0, 0, 60, 25}},      // too wide: shrunk in proportion
        {30, 90, false, true, true, {23, 0, 36, 40}},       // too high: 13 = trunc(40 * 30/90) wide, centred
        {7, 3, true, false, true, {0, 0, 60, 25}},          // trunc(60 / (7/3)) = 25
        {20, 10, true, true, false, {0, 0, 60, 40}},
        {80, 60, false, true, false, {-10, -10, 70, 50}},  // centred, larger than the control
    };
    for (const Case& c : cases) {
        b.SetSize(c.w, c.h);
        image.GetPicture()->SetBitmap(&b);
        image.SetStretch(c.stretch);
        image.SetCenter(c.center);
        image.SetProportional(c.proportional);
        RECT r = image.DestRect();
        EXPECT_EQ(r.left, c.expected.left) << c.w << "x" << c.h;
        EXPECT_EQ(r.top, c.expected.top) << c.w << "x" << c.h;
        EXPECT_EQ(r.right, c.expected.right) << c.w << "x" << c.h;
        EXPECT_EQ(r.bottom, c.expected.bottom) << c.w << "x" << c.h;
    }
}

TEST(ExtCtrls, ChangesOfThePictureBitmapRepaintTheImage)
{
    TImageHost host;
    TBitmap halves;
    MakeHalves(halves);
    host.Image.GetPicture()->SetBitmap(&halves);
    ASSERT_EQ(host.At(12, 12), kRed);

    // Pixels written behind the bitmap's back show only once the bitmap is
    // marked modified.
    TBitmap* held = host.Image.GetPicture()->GetBitmap();
    for (int y = 0; y < 10; ++y) {
        auto* row = static_cast<uint32_t*>(held->GetScanLine(y));
        for (int x = 0; x < 10; ++x) row[x] = 0x0000FF00;  // green
    }
    EXPECT_FALSE(host.PendingPaint());
    EXPECT_EQ(host.At(12, 12), kRed);
    held->SetModified(true);
    EXPECT_TRUE(host.PendingPaint());
    EXPECT_EQ(host.At(12, 12), RGB(0, 255, 0));

    // Drawing on the image's canvas draws on the picture and repaints.
    host.Image.GetCanvas()->GetBrush()->SetColor(clYellow);
    host.Image.GetCanvas()->FillRect(RECT{0, 0, 5, 5});
    EXPECT_EQ(host.At(11, 11), RGB(255, 255, 0));

    // A new graphic in the picture repaints too.
    TBitmap blue;
    blue.SetSize(4, 4);
    blue.GetCanvas()->GetBrush()->SetColor(clBlue);
    blue.GetCanvas()->FillRect(RECT{0, 0, 4, 4});
    host.Image.GetPicture()->Assign(&blue);
    EXPECT_EQ(host.At(11, 11), kBlue);
    EXPECT_EQ(host.At(16, 16), kWhite);
}

TEST(ExtCtrls, AutoSizeAndCanvas)
{
    TImage image(nullptr);
    image.SetBounds(5, 6, 60, 40);

    // An empty picture gets a bitmap of the control's size for the canvas.
    TCanvas* canvas = image.GetCanvas();
    ASSERT_NE(canvas, nullptr);
    EXPECT_EQ(image.GetPicture()->GetWidth(), 60);
    EXPECT_EQ(image.GetPicture()->GetHeight(), 40);

    image.SetAutoSize(true);
    TBitmap b;
    b.SetSize(30, 25);
    image.GetPicture()->SetBitmap(&b);
    EXPECT_EQ(image.GetWidth(), 30);
    EXPECT_EQ(image.GetHeight(), 25);
    EXPECT_EQ(image.GetLeft(), 5);
    // A size change of the held bitmap resizes the control as well.
    image.GetPicture()->GetBitmap()->SetSize(12, 8);
    EXPECT_EQ(image.GetWidth(), 12);
    EXPECT_EQ(image.GetHeight(), 8);
    // An emptied picture leaves the size alone.
    image.GetPicture()->Assign(nullptr);
    EXPECT_EQ(image.GetWidth(), 12);

    TIcon icon;
    image.GetPicture()->SetGraphic(&icon);
    try {
        image.GetCanvas();
        FAIL() << "no exception";
    } catch (const EInvalidOperation& e) {
        EXPECT_EQ(e.Message(), L"Can only modify an image if it contains a bitmap");
    }
}
