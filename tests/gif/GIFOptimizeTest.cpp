// Colour-table optimisation and image optimisation.
#include <gtest/gtest.h>

#include "GIFTestUtil.h"

using namespace gif;
using namespace giftest;

namespace {

std::vector<TGIFColor> Sixteen()
{
    std::vector<TGIFColor> c;
    for (int i = 0; i < 16; ++i)
        c.push_back({static_cast<uint8_t>(i * 10 + 5), static_cast<uint8_t>(200 - i * 10), 77});
    return c;
}

TGIFRGB RGBOf(const TGIFColor& c)
{
    return MakeRGB(c.Red, c.Green, c.Blue);
}

}  // namespace

TEST(GIFOptimizeColorMap, ThreeUsedColoursMostUsedFirst)
{
    TGIFImage Image;
    const auto Pal = Sixteen();
    SetGlobal(Image, Pal);
    // Colour 5 six times, 9 three times, 2 once.
    const std::vector<uint8_t> px = {9, 5, 5, 2, 5, 9, 5, 5, 9, 5};
    AddFrame(Image, 0, 0, 5, 2, px);
    Image.OptimizeColorMap();
    TGIFColorMap* g = Image.GetGlobalColorMap();
    ASSERT_EQ(g->GetCount(), 3);
    EXPECT_TRUE(g->GetSorted());
    EXPECT_EQ(g->GetColor(0), RGBOf(Pal[5]));
    EXPECT_EQ(g->GetColor(1), RGBOf(Pal[9]));
    EXPECT_EQ(g->GetColor(2), RGBOf(Pal[2]));
    EXPECT_EQ(FramePixels(Image.GetImages()->GetFrame(0)), (std::vector<uint8_t>{1, 0, 0, 2, 0, 1, 0, 0, 1, 0}));
}

TEST(GIFOptimizeColorMap, Transparency)
{
    // Transparent pixels that occur: black entry at the end of the table.
    {
        TGIFImage Image;
        SetGlobal(Image, Sixteen());
        TGIFSubImage* f = AddFrame(Image, 0, 0, 4, 1, {3, 7, 7, 3});
        AddControl(f, 0, 0, 3);
        Image.OptimizeColorMap();
        TGIFColorMap* g = Image.GetGlobalColorMap();
        ASSERT_EQ(g->GetCount(), 2);
        EXPECT_EQ(g->GetColor(1), MakeRGB(0, 0, 0));
        EXPECT_TRUE(f->GetTransparent());
        EXPECT_EQ(f->GetControlExtension()->GetTransparentColorIndex(), 1);
        EXPECT_EQ(FramePixels(f), (std::vector<uint8_t>{1, 0, 0, 1}));
    }
    // A transparent index that never occurs: the frame loses transparency.
    {
        TGIFImage Image;
        SetGlobal(Image, Sixteen());
        TGIFSubImage* f = AddFrame(Image, 0, 0, 4, 1, {6, 7, 7, 6});
        AddControl(f, 0, 0, 3);
        Image.OptimizeColorMap();
        EXPECT_FALSE(f->GetTransparent());
        EXPECT_EQ(Image.GetGlobalColorMap()->GetCount(), 2);
    }
}

TEST(GIFOptimizeColorMap, LocalTablesMergeIntoGlobal)
{
    TGIFImage Image;
    const std::vector<TGIFColor> a = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}};
    const std::vector<TGIFColor> b = {{3, 3, 3}, {9, 9, 9}, {1, 1, 1}};
    TGIFSubImage* f0 = AddFrame(Image, 0, 0, 3, 1, {0, 1, 2}, a);
    TGIFSubImage* f1 = AddFrame(Image, 0, 0, 3, 1, {0, 1, 2}, b);
    Image.OptimizeColorMap();
    TGIFColorMap* g = Image.GetGlobalColorMap();
    ASSERT_EQ(g->GetCount(), 4);
    EXPECT_EQ(f0->GetColorMap()->GetCount(), 0);
    EXPECT_EQ(f1->GetColorMap()->GetCount(), 0);
    // The shared colours were used twice and come first.
    std::vector<TGIFRGB> First = {g->GetColor(0), g->GetColor(1)};
    std::sort(First.begin(), First.end());
    EXPECT_EQ(First, (std::vector<TGIFRGB>{MakeRGB(1, 1, 1), MakeRGB(3, 3, 3)}));
    EXPECT_EQ(FrameRGB(f0), (std::vector<uint8_t>{1, 1, 1, 2, 2, 2, 3, 3, 3}));
    EXPECT_EQ(FrameRGB(f1), (std::vector<uint8_t>{3, 3, 3, 9, 9, 9, 1, 1, 1}));
}

// 257 distinct colours: the least used one goes to the kept colour with the
// smallest sum of absolute differences (not the absolute sum).
TEST(GIFOptimizeColorMap, OverflowMapsToNearestColour)
{
    TGIFImage Image;
    std::vector<TGIFColor> Many = {{100, 0, 0}, {60, 60, 60}};
    for (int k = 0; Many.size() < 256; ++k)
        Many.push_back({255, static_cast<uint8_t>(k), 255});
    std::vector<uint8_t> px;
    for (int i = 0; i < 512; ++i)
        px.push_back(static_cast<uint8_t>(i / 2));
    AddFrame(Image, 0, 0, 32, 16, px, Many);
    TGIFSubImage* Odd = AddFrame(Image, 0, 0, 1, 1, {0}, {{0, 100, 0}});
    Image.OptimizeColorMap();
    TGIFColorMap* g = Image.GetGlobalColorMap();
    ASSERT_EQ(g->GetCount(), 256);
    EXPECT_EQ(g->FindColor(MakeRGB(0, 100, 0)), -1);
    EXPECT_EQ(FrameRGB(Odd), (std::vector<uint8_t>{60, 60, 60}));
}

TEST(GIFOptimizeColorMap, TableAlreadyInOrderOnlyGetsSorted)
{
    TGIFImage Image;
    SetGlobal(Image, {{1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
    TGIFSubImage* f = AddFrame(Image, 0, 0, 6, 1, {0, 0, 0, 1, 1, 2});
    EXPECT_FALSE(Image.GetGlobalColorMap()->GetSorted());
    EXPECT_TRUE(Image.GetGlobalColorMap()->DoOptimize());
    EXPECT_TRUE(Image.GetGlobalColorMap()->GetSorted());
    EXPECT_EQ(Image.GetGlobalColorMap()->GetCount(), 3);
    EXPECT_EQ(FramePixels(f), (std::vector<uint8_t>{0, 0, 0, 1, 1, 2}));
    // Out of order: renumbered, unused entries dropped.
    TGIFImage Other;
    SetGlobal(Other, {{1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}});
    TGIFSubImage* g = AddFrame(Other, 0, 0, 4, 1, {2, 2, 1, 2});
    EXPECT_TRUE(Other.GetGlobalColorMap()->DoOptimize());
    EXPECT_EQ(Other.GetGlobalColorMap()->GetCount(), 2);
    EXPECT_EQ(FramePixels(g), (std::vector<uint8_t>{0, 0, 1, 0}));
    EXPECT_EQ(Other.GetGlobalColorMap()->GetColor(0), MakeRGB(3, 0, 0));
}

TEST(GIFOptimizeImage, CropDeletesEmptyFrameAndKeepsDelay)
{
    TGIFImage Image;
    SetGlobal(Image, {{0, 0, 0}, {255, 0, 0}});
    TGIFSubImage* f0 = AddFrame(Image, 0, 0, 4, 4, std::vector<uint8_t>(16, 1));
    AddControl(f0, 1, 10, 0);
    f0->Pixels(0, 0) = 0;
    TGIFSubImage* f1 = AddFrame(Image, 0, 0, 4, 4, std::vector<uint8_t>(16, 0));
    AddControl(f1, 1, 20, 0);
    // A frame whose opaque pixels lie in a 2 x 1 block inside.
    TGIFSubImage* f2 = AddFrame(Image, 0, 0, 4, 4, std::vector<uint8_t>(16, 0));
    AddControl(f2, 1, 5, 0);
    f2->Pixels(1, 2) = 1;
    f2->Pixels(2, 2) = 1;
    Image.Optimize(ooCrop, rmNone, dmNearest, 8);
    ASSERT_EQ(Image.GetImages()->GetCount(), 2);
    EXPECT_EQ(Image.GetImages()->GetFrame(0)->GetControlExtension()->GetDelay(), 30);
    TGIFSubImage* c = Image.GetImages()->GetFrame(1);
    EXPECT_EQ(c->GetLeft(), 1);
    EXPECT_EQ(c->GetTop(), 2);
    EXPECT_EQ(c->GetWidth(), 2);
    EXPECT_EQ(c->GetHeight(), 1);
    EXPECT_EQ(FramePixels(c), (std::vector<uint8_t>{1, 1}));
}

TEST(GIFOptimizeImage, MergeMakesRepeatedPixelsTransparent)
{
    TGIFImage Image;
    SetGlobal(Image, {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}});
    AddFrame(Image, 0, 0, 4, 1, {1, 1, 2, 2});
    TGIFSubImage* f1 = AddFrame(Image, 0, 0, 4, 1, {1, 2, 2, 1});
    Image.Optimize(ooMerge, rmNone, dmNearest, 8);
    ASSERT_TRUE(f1->GetTransparent());
    const int t = f1->GetControlExtension()->GetTransparentColorIndex();
    EXPECT_EQ(t, 3);  // a new black entry of the global table
    EXPECT_EQ(FramePixels(f1), (std::vector<uint8_t>{3, 2, 3, 1}));

    // A frame whose local table is full and that is not transparent stays.
    TGIFImage Full;
    std::vector<TGIFColor> Many;
    for (int i = 0; i < 256; ++i)
        Many.push_back({static_cast<uint8_t>(i), 0, 0});
    AddFrame(Full, 0, 0, 2, 1, {5, 6}, Many);
    TGIFSubImage* g1 = AddFrame(Full, 0, 0, 2, 1, {5, 6}, Many);
    Full.Optimize(ooMerge, rmNone, dmNearest, 8);
    EXPECT_FALSE(g1->GetTransparent());
    EXPECT_EQ(FramePixels(g1), (std::vector<uint8_t>{5, 6}));
}

TEST(GIFOptimizeImage, CleanupRules)
{
    // One frame: its control extension goes unless it carries transparency.
    TGIFImage Single;
    SetGlobal(Single, {{0, 0, 0}, {1, 1, 1}});
    TGIFSubImage* s = AddFrame(Single, 0, 0, 2, 1, {0, 1});
    AddControl(s, 2, 50);
    s->GetExtensions()->Add(new TGIFCommentExtension(s));
    Single.Optimize(ooCleanup, rmNone, dmNearest, 8);
    EXPECT_EQ(s->GetExtensions()->GetCount(), 0);
    EXPECT_EQ(s->GetControlExtension(), nullptr);

    TGIFImage Kept;
    SetGlobal(Kept, {{0, 0, 0}, {1, 1, 1}});
    TGIFSubImage* k = AddFrame(Kept, 0, 0, 2, 1, {0, 1});
    AddControl(k, 0, 0, 0);
    Kept.Optimize(ooCleanup, rmNone, dmNearest, 8);
    EXPECT_NE(k->GetControlExtension(), nullptr);

    // Several frames: the loop extension of frame 0 survives, one on frame 2
    // goes.
    TGIFImage Anim;
    SetGlobal(Anim, {{0, 0, 0}, {1, 1, 1}});
    TGIFSubImage* a[3];
    for (int i = 0; i < 3; ++i) {
        a[i] = AddFrame(Anim, 0, 0, 2, 1, {0, static_cast<uint8_t>(i & 1)});
        a[i]->GetExtensions()->Add(new TGIFAppExtNSLoop(a[i]));
        AddControl(a[i], 1, 10);
    }
    Anim.Optimize(ooCleanup, rmNone, dmNearest, 8);
    EXPECT_EQ(a[0]->GetExtensions()->GetCount(), 2);
    EXPECT_EQ(a[2]->GetExtensions()->GetCount(), 1);
    EXPECT_NE(a[2]->GetControlExtension(), nullptr);  // it has a delay

    TGIFImage Bad;
    SetGlobal(Bad, {{0, 0, 0}, {1, 1, 1}});
    AddFrame(Bad, 0, 0, 1, 1, {0});
    try {
        Bad.Optimize(ooReduceColors, rmPalette, dmNearest, 8);
        ADD_FAILURE();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message(), L"Invalid reduction method");
    }
}
