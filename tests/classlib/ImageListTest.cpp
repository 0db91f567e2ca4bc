#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Icon.h"
#include "classlib/ImageList.h"
#include "classlib/PatternBitmap.h"
#include "support/TestSupport.h"

using namespace classlib;

namespace {

// A 24-bit bitmap of w x h in one colour, with an optional square of another
// colour at (sx, sy, sx + n, sy + n).
std::unique_ptr<TBitmap> Solid(int w, int h, TColor colour, TColor square = clNone, int sx = 0, int sy = 0,
                               int n = 0)
{
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf24bit);
    b->SetSize(w, h);
    b->GetCanvas()->GetBrush()->SetColor(colour);
    b->GetCanvas()->FillRect(RECT{0, 0, w, h});
    if (square != clNone) {
        b->GetCanvas()->GetBrush()->SetColor(square);
        b->GetCanvas()->FillRect(RECT{sx, sy, sx + n, sy + n});
    }
    return b;
}

TColor PixelOf(TImageList& list, int index, int x, int y)
{
    TBitmap b;
    EXPECT_TRUE(list.GetBitmap(index, &b));
    return b.GetCanvas()->GetPixel(x, y);
}

struct Counter {
    int count = 0;
    void Changed(TObject*) { ++count; }
};

}  // namespace

TEST(ImageList, AddReplaceDeleteMoveAndCount)
{
    TImageList list(nullptr);
    EXPECT_EQ(list.GetWidth(), 16);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.Add(Solid(16, 16, clRed).get(), nullptr), 0);
    // White is the mask colour: the 4 x 4 white square becomes transparent.
    EXPECT_EQ(list.AddMasked(Solid(16, 16, clBlue, clWhite, 0, 0, 4).get(), clWhite), 1);
    // A strip twice as wide adds two images.
    EXPECT_EQ(list.Add(Solid(32, 16, clLime, clYellow, 16, 0, 16).get(), nullptr), 2);
    ASSERT_EQ(list.GetCount(), 4);
    EXPECT_EQ(PixelOf(list, 2, 8, 8), clLime);
    EXPECT_EQ(PixelOf(list, 3, 8, 8), clYellow);

    // The masked image drawn on yellow shows yellow through its white square.
    auto canvas = Solid(16, 16, clYellow);
    list.Draw(canvas->GetCanvas(), 0, 0, 1);
    EXPECT_EQ(canvas->GetCanvas()->GetPixel(1, 1), clYellow);
    EXPECT_EQ(canvas->GetCanvas()->GetPixel(10, 10), clBlue);

    list.Replace(0, Solid(16, 16, clGreen).get(), nullptr);
    EXPECT_EQ(PixelOf(list, 0, 8, 8), clGreen);
    list.ReplaceMasked(2, Solid(16, 16, clRed, clFuchsia, 8, 8, 8).get(), clFuchsia);
    canvas = Solid(16, 16, clAqua);
    list.Draw(canvas->GetCanvas(), 0, 0, 2);
    EXPECT_EQ(canvas->GetCanvas()->GetPixel(2, 2), clRed);
    EXPECT_EQ(canvas->GetCanvas()->GetPixel(12, 12), clAqua);

    // Order now: green, blue, red, yellow. Move yellow to the front.
    list.Move(3, 0);
    EXPECT_EQ(PixelOf(list, 0, 8, 8), clYellow);
    EXPECT_EQ(PixelOf(list, 1, 8, 8), clGreen);
    EXPECT_EQ(PixelOf(list, 3, 2, 2), clRed);
    list.Insert(1, Solid(16, 16, clNavy).get(), nullptr);
    EXPECT_EQ(PixelOf(list, 1, 8, 8), clNavy);
    EXPECT_EQ(PixelOf(list, 2, 8, 8), clGreen);
    list.Delete(0);
    EXPECT_EQ(list.GetCount(), 4);
    EXPECT_EQ(PixelOf(list, 0, 8, 8), clNavy);

    EXPECT_THROW(list.Replace(4, Solid(16, 16, clRed).get(), nullptr), EInvalidOperation);
    EXPECT_THROW(list.Delete(-1), EInvalidOperation);
    EXPECT_THROW(list.Move(0, 9), EInvalidOperation);
    list.Clear();
    EXPECT_EQ(list.GetCount(), 0);
}

TEST(ImageList, ChangeLinksHearEveryChange)
{
    Counter viaLink, viaEvent, second;
    auto list = std::make_unique<TImageList>(nullptr);
    list->OnChange = TNotifyEvent(&viaEvent, &Counter::Changed);
    TChangeLink link;
    link.OnChange = TNotifyEvent(&viaLink, &Counter::Changed);
    list->RegisterChanges(&link);
    EXPECT_EQ(link.GetSender(), list.get());
    auto other = std::make_unique<TChangeLink>();
    other->OnChange = TNotifyEvent(&second, &Counter::Changed);
    other->SetSender(list.get());

    auto red = Solid(16, 16, clRed);
    list->Add(red.get(), nullptr);                  // 1
    list->AddMasked(red.get(), clWhite);            // 2
    list->Replace(0, red.get(), nullptr);           // 3
    list->Delete(1);                                // 4
    list->SetBkColor(clBtnFace);                    // 5
    list->SetDrawingStyle(dsTransparent);           // 6
    list->BeginUpdate();
    list->Add(red.get(), nullptr);
    list->Add(red.get(), nullptr);
    list->EndUpdate();                              // 7: reported once
    list->Clear();                                  // 8
    EXPECT_EQ(viaLink.count, 8);
    EXPECT_EQ(viaEvent.count, 8);
    EXPECT_EQ(second.count, 8);

    // A deleted link leaves the list; a deleted list leaves its links.
    other.reset();
    list->Clear();
    EXPECT_EQ(viaLink.count, 9);
    EXPECT_EQ(second.count, 8);
    list.reset();
    EXPECT_EQ(link.GetSender(), nullptr);
}

TEST(ImageList, DisabledImagesAreDrawnEmbossed)
{
    TImageList list(nullptr);
    // A red square with a white border of 4 pixels.
    list.Add(Solid(16, 16, clWhite, clRed, 4, 4, 8).get(), nullptr);
    auto enabled = Solid(24, 24, clBtnFace);
    auto disabled = Solid(24, 24, clBtnFace);
    list.Draw(enabled->GetCanvas(), 2, 2, 0, true);
    list.Draw(disabled->GetCanvas(), 2, 2, 0, false);

    TCanvas* e = enabled->GetCanvas();
    TCanvas* d = disabled->GetCanvas();
    EXPECT_EQ(e->GetPixel(10, 10), clRed);
    const TColor face = ColorToRGB(clBtnFace), shadow = ColorToRGB(clBtnShadow), light = ColorToRGB(clBtnHighlight);
    // The dark shape in the shadow colour, its highlight one pixel down and
    // right; the light border is left out.
    EXPECT_EQ(d->GetPixel(10, 10), shadow);
    EXPECT_EQ(d->GetPixel(6, 6), shadow);
    EXPECT_EQ(d->GetPixel(14, 14), light);
    EXPECT_EQ(d->GetPixel(4, 4), face);
    int differing = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x) differing += e->GetPixel(x, y) != d->GetPixel(x, y);
    EXPECT_GE(differing, 64);
}

TEST(ImageList, OverlayImagesAreDrawnOnTop)
{
    TImageList list(nullptr);
    list.Add(Solid(16, 16, clRed).get(), nullptr);
    // Transparent (white) except for a blue square at (4, 4)..(8, 8).
    list.AddMasked(Solid(16, 16, clWhite, clBlue, 4, 4, 4).get(), clWhite);
    ASSERT_TRUE(list.Overlay(1, 0));
    auto canvas = Solid(16, 16, clWhite);
    list.DrawOverlay(canvas->GetCanvas(), 0, 0, 0, 0);
    EXPECT_EQ(canvas->GetCanvas()->GetPixel(5, 5), clBlue);
    EXPECT_EQ(canvas->GetCanvas()->GetPixel(12, 12), clRed);
}

TEST(ImageList, SharedHandlesAreNotDestroyed)
{
    HIMAGELIST h = ::ImageList_Create(20, 10, ILC_COLORDDB | ILC_MASK, 1, 1);
    ASSERT_NE(h, nullptr);
    {
        TImageList shared(nullptr);
        shared.SetShareImages(true);
        shared.SetHandle(h);
        EXPECT_EQ(shared.GetWidth(), 20);
        EXPECT_EQ(shared.GetHeight(), 10);
        EXPECT_EQ(shared.Add(Solid(20, 10, clRed).get(), nullptr), 0);
    }
    // Still alive: the list that shared it is gone.
    EXPECT_EQ(::ImageList_GetImageCount(h), 1);
    TImageList owner(nullptr);
    owner.SetHandle(h);  // owned from now on
    EXPECT_EQ(owner.GetCount(), 1);
}

TEST(ImageList, IconsGoInAndComeOutWithTheirMask)
{
    TIcon icon;
    icon.LoadFromFile(testsupport::FixtureDir(L"classlib") + L"\\icon_two.ico");
    TImageList list(nullptr, 32, 32);
    EXPECT_EQ(list.AddIcon(&icon), 0);
    TIcon back;
    ASSERT_TRUE(list.GetIcon(0, &back));
    auto canvas = Solid(32, 32, clWhite);
    canvas->GetCanvas()->Draw(0, 0, &back);
    EXPECT_EQ(canvas->GetCanvas()->GetPixel(2, 2), clWhite);
    EXPECT_EQ(canvas->GetCanvas()->GetPixel(4, 20), clRed);
    EXPECT_EQ(canvas->GetCanvas()->GetPixel(20, 20), clBlue);
}

TEST(PatternBitmap, CheckerboardIsSharedPerColourPair)
{
    TBitmap* a = AllocPatternBitmap(clBlack, clWhite);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(AllocPatternBitmap(clBlack, clWhite), a);
    EXPECT_NE(AllocPatternBitmap(clRed, clBlue), a);
    EXPECT_EQ(a->GetWidth(), 8);
    EXPECT_EQ(a->GetHeight(), 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(a->GetCanvas()->GetPixel(x, y), (x + y) % 2 == 0 ? clBlack : clWhite) << x << "," << y;
}
