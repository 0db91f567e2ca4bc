// The processing object's operation frame and operations.
#include <gtest/gtest.h>

#include <memory>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxMask.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/model/PxStartup.h"
#include "imaging/proc/PxEffects.h"
#include "imaging/proc/PxFillCrop.h"
#include "tests/imaging/proc/ImgProcFakeView.h"
#include "tests/imaging/proc/ImgProcTestSupport.h"

using namespace imaging;
using namespace proctest;
using procfake::TFakeView;

namespace {

class ImgProcFrame : public ProcFixture {};
class ImgProcOps : public ProcFixture {};

int CountSetBits(TPxBitmap& b)
{
    int n = 0;
    for (int y = 0; y < b.GetHeight(); ++y) {
        const uint8_t* row = b.GetScanline(y);
        for (int x = 0; x < b.GetWidth(); ++x)
            n += PxGetBit(row, x) ? 1 : 0;
    }
    return n;
}

bool AllPixelsEqual(TPxBitmap& b, TPxRGB c)
{
    for (int y = 0; y < b.GetHeight(); ++y)
        for (int x = 0; x < b.GetWidth(); ++x)
            if (!(b.GetPixelRGB(x, y) == c))
                return false;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// CheckPixelFormat: the preference table, the fallback and the switch off.

TEST_F(ImgProcFrame, CheckPixelFormatPicksByPreferenceRowThenFallback)
{
    struct Case {
        TPxPixelFormat current;
        TPxPixelFormatSet allowed;
        TPxPixelFormat expected;
    };
    const Case cases[] = {
        {px8g, PxFormatBit(px24RGB), px24RGB},                         // third entry of its row
        {px32RGB, PxFormatBit(px1g) | PxFormatBit(px24RGB), px24RGB},  // row before fallback
        {px1g, PxFormatBit(pxCMYK), pxCMYK},                           // no row entry: fallback
        {px24RGB, PxFormatBit(px8g) | PxFormatBit(px16g), px16g},      // px16g precedes px8g
        {pxCIELab, PxFormatBit(px32RGB) | PxFormatBit(px8g), px8g},    // row wins over 10..0
        {px8p, PxFormatBit(px8g) | PxFormatBit(px1g), px8g},           // fallback from 10 down
        {px16g, PxFormatBit(px8g) | PxFormatBit(px32f), px32f},
        {px24RGB, PxFormatBit(px24RGB) | PxFormatBit(px8g), px24RGB},  // already allowed
        {px8g, PxAnyFormat, px8g},
    };
    for (const Case& c : cases) {
        TPxBitmap image(4, 3, c.current);
        if (c.current == px8p)
            image.SetPaletteLen(2);
        image.Fill(0);
        TImgProc proc(nullptr);
        proc.AttachBitmap(&image);
        EXPECT_TRUE(proc.CheckPixelFormat(c.allowed)) << int(c.current);
        EXPECT_EQ(image.GetPixelFormat(), c.expected) << int(c.current);
        EXPECT_EQ(image.GetWidth(), 4);
    }
}

TEST_F(ImgProcFrame, AutoConvertOffRefusesWithoutChangeUndoOrEvent)
{
    TPxBitmap image(4, 4, px8g);
    image.Fill(100);
    TFakeView owner;
    TImgProc proc(&owner);  // AutoUndo on
    TEvents ev;
    ev.Hook(proc);
    proc.AttachBitmap(&image);
    proc.AutoConvertFormat = false;
    EXPECT_FALSE(proc.CheckPixelFormat(PxFormatBit(px24RGB)));

    proc.ConvertToGray();                      // region operation
    proc.ConvertTo(2, false);                  // whole-image operation
    proc.Fill(TPxRGB{0, 0, 255});
    EXPECT_EQ(image.GetPixelFormat(), px8g);
    EXPECT_EQ(image.GetPixelGray8(1, 1), 100);
    EXPECT_EQ(proc.GetUndoCount(), 0);
    EXPECT_EQ(ev.finish, 0);
    EXPECT_TRUE(ev.saves.empty());

    proc.AutoConvertFormat = true;
    proc.ConvertToGray();
    EXPECT_EQ(image.GetPixelFormat(), px24RGB);
    ASSERT_EQ(proc.GetUndoCount(), 1);
    EXPECT_EQ(ev.finish, 1);
    // The entry was taken before the conversion: undo gives px8g back.
    proc.Undo(false);
    EXPECT_EQ(image.GetPixelFormat(), px8g);
    EXPECT_EQ(image.GetPixelGray8(1, 1), 100);
}

TEST_F(ImgProcFrame, NoImageMeansEveryOperationDoesNothing)
{
    auto proc = TImgProc::CreateForBitmap(nullptr);
    TEvents ev;
    ev.Hook(*proc);
    EXPECT_FALSE(proc->AutoUndo);
    EXPECT_EQ(proc->GetBitmap(), nullptr);
    proc->Negative();
    proc->Clear();
    proc->Rotate(90, false, 0, -1);
    proc->Resample(3, 3, rfFastLinear);
    proc->Crop(0, 0, 1, 1);
    proc->SaveUndo(pxuImage);
    EXPECT_EQ(ev.finish, 0);
    EXPECT_TRUE(ev.saves.empty());
}

// ---------------------------------------------------------------------------
// Region operations and the view's selection.

TEST_F(ImgProcFrame, RegionOperationChangesOnlyMaskedPixelsAndUndoHoldsWholeImage)
{
    TFakeView view;
    TPxBitmap* image = view.GetPxBitmap();
    FillPattern(*image);
    view.mask.AllocateBits(8, 6, 1);
    // An L inside the box (2,1)-(5,3): box pixels outside the L stay.
    view.mask.SetPixel(2, 1, 1);
    view.mask.SetPixel(2, 2, 1);
    view.mask.SetPixel(2, 3, 1);
    view.mask.SetPixel(3, 3, 1);
    view.mask.SetPixel(5, 3, 1);
    view.selected = true;

    TImgProc proc(&view);
    proc.SetAttachedImg(&view);
    TEvents ev;
    ev.Hook(proc);
    proc.Negative();

    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool inside = view.mask.IsPointInside(x, y);
            const TPxRGB expected = inside ? Inverted(Pattern(x, y)) : Pattern(x, y);
            EXPECT_EQ(image->GetPixelRGB(x, y), expected) << x << "," << y;
        }
    EXPECT_EQ(ev.finish, 1);
    EXPECT_GE(view.imageChanges, 1);
    EXPECT_GE(view.updates, 1);

    ASSERT_EQ(proc.GetUndoCount(), 1);
    EXPECT_EQ(proc.GetUndoCaptions()->GetStrings(0), L"Negative");
    proc.Undo(false);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(image->GetPixelRGB(x, y), Pattern(x, y)) << x << "," << y;
}

TEST_F(ImgProcFrame, SelectionFlagWithEmptyMaskWorksOnWholeImage)
{
    TFakeView view;
    TPxBitmap* image = view.GetPxBitmap();
    FillPattern(*image);
    view.mask.AllocateBits(8, 6, 1);
    view.selected = true;
    TImgProc proc(nullptr);
    proc.SetAttachedImg(&view);
    proc.Negative();
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(image->GetPixelRGB(x, y), Inverted(Pattern(x, y)));
}

TEST_F(ImgProcFrame, FillFollowsSelectionOrWholeImage)
{
    TFakeView view;
    TPxBitmap* image = view.GetPxBitmap();
    image->Fill(0);
    view.mask.AllocateBits(8, 6, 1);
    view.mask.SetPixel(1, 1, 1);
    view.mask.SetPixel(3, 2, 1);
    view.selected = true;
    TImgProc proc(nullptr);
    proc.SetAttachedImg(&view);
    const TPxRGB blue{255, 0, 0};
    proc.Fill(blue);
    int filled = 0;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x)
            if (image->GetPixelRGB(x, y) == blue)
                ++filled;
    EXPECT_EQ(filled, 2);
    EXPECT_EQ(image->GetPixelRGB(3, 2), blue);
    EXPECT_EQ(image->GetPixelRGB(2, 1), (TPxRGB{0, 0, 0}));  // in the box, not selected

    view.selected = false;
    view.mask.Clear();
    proc.Fill(blue);
    EXPECT_TRUE(AllPixelsEqual(*image, blue));
}

TEST_F(ImgProcOps, FillOfBilevelImageCountsOnlyRed)
{
    TPxBitmap image(10, 3, px1g);
    image.Fill(0);
    auto proc = TImgProc::CreateForBitmap(&image);
    proc->Fill(TPxRGB{0, 0, 255});  // red only
    EXPECT_EQ(CountSetBits(image), 30);
    proc->Fill(TPxRGB{255, 255, 0});  // cyan: red 0
    EXPECT_EQ(CountSetBits(image), 0);
    EXPECT_EQ(image.GetPixelFormat(), px1g);
}

TEST_F(ImgProcOps, FillRectColorClipsAndReportsAtMostHundred)
{
    TPxBitmap image(5, 4, px24RGB);
    image.Fill(0);
    struct Rec {
        std::vector<int> values;
        void On(classlib::TObject*, int p) { values.push_back(p); }
    } rec;
    const TPxRGB c{1, 2, 3};
    PxFillRectColor(&image, 3, 3, 99, 99, c, TPxProgressEvent(&rec, &Rec::On), nullptr);
    EXPECT_EQ(image.GetPixelRGB(4, 3), c);
    EXPECT_EQ(image.GetPixelRGB(2, 3), (TPxRGB{0, 0, 0}));
    EXPECT_EQ(image.GetPixelRGB(4, 2), (TPxRGB{0, 0, 0}));
    ASSERT_EQ(rec.values.size(), 1u);
    EXPECT_EQ(rec.values[0], 100);
}

// ---------------------------------------------------------------------------
// ImageResize, Clear, Negative

TEST_F(ImgProcOps, ImageResizeCases)
{
    TFakeView owner;
    {  // current size: nothing at all
        TPxBitmap image(6, 4, px24RGB);
        TImgProc proc(&owner);
        TEvents ev;
        ev.Hook(proc);
        proc.AttachBitmap(&image);
        proc.ImageResize(6, 4, 0, 0, 255);
        proc.ImageResize(0, 9, 0, 0, 255);
        EXPECT_EQ(ev.finish, 0);
        EXPECT_EQ(proc.GetUndoCount(), 0);
    }
    {  // 1 x 1: cleared first, so the finish fires twice
        TPxBitmap image(1, 1, px24RGB);
        image.Fill(0x00FFFFFF);
        TImgProc proc(nullptr);
        TEvents ev;
        ev.Hook(proc);
        proc.AttachBitmap(&image);
        proc.SetBackground(0x000000FF);  // red
        proc.ImageResize(3, 2, 0, 0, 255);
        EXPECT_EQ(ev.finish, 2);
        EXPECT_EQ(ev.progress100, 2);
        EXPECT_EQ(image.GetWidth(), 3);
        EXPECT_EQ(image.GetPixelRGB(0, 0), (TPxRGB{0, 0, 255}));
    }
    {  // Alpha 255 creates no alpha channel; Alpha 0 makes only the new area transparent
        TPxBitmap image(4, 4, px24RGB);
        FillPattern(image);
        TImgProc proc(nullptr);
        proc.AttachBitmap(&image);
        proc.ImageResize(6, 4, 0, 0, 255);
        EXPECT_FALSE(image.HasAlphaChannel());
        EXPECT_EQ(image.GetPixelRGB(3, 3), Pattern(3, 3));
        proc.ImageResize(8, 4, 2, 0, 0);  // content to the right
        ASSERT_TRUE(image.HasAlphaChannel());
        EXPECT_EQ(image.GetAlpha(0, 0), 0);
        EXPECT_EQ(image.GetAlpha(1, 2), 0);
        EXPECT_EQ(image.GetAlpha(2, 0), 255);
        EXPECT_EQ(image.GetAlpha(7, 3), 255);
        EXPECT_EQ(image.GetPixelRGB(2, 0), Pattern(0, 0));
    }
}

TEST_F(ImgProcOps, ClearOfOnePixelStoresNoUndoButFillsAndFinishes)
{
    TFakeView owner;
    TPxBitmap image(1, 1, px24RGB);
    image.Fill(0);
    TImgProc proc(&owner);
    TEvents ev;
    ev.Hook(proc);
    proc.AttachBitmap(&image);
    proc.SetBackground(0x00336699);
    proc.Clear();
    EXPECT_EQ(image.GetPixelRGB(0, 0), (TPxRGB{0x33, 0x66, 0x99}));
    EXPECT_EQ(proc.GetUndoCount(), 0);
    EXPECT_TRUE(ev.saves.empty());
    EXPECT_EQ(ev.finish, 1);
}

TEST_F(ImgProcOps, NegativeOfPaletteImageTwiceRestoresPalette)
{
    TPxBitmap image(4, 2, px8p);
    image.SetPaletteLen(3);
    image.SetPaletteEntry(0, TPxRGB{0, 0, 0});
    image.SetPaletteEntry(1, TPxRGB{10, 200, 30});
    image.SetPaletteEntry(2, TPxRGB{255, 255, 255});
    for (int x = 0; x < 4; ++x)
        image.SetPixelGray8(x, 0, uint8_t(x % 3));
    auto proc = TImgProc::CreateForBitmap(&image);
    proc->Negative();
    EXPECT_EQ(image.GetPixelFormat(), px8p);
    EXPECT_EQ(image.GetPaletteEntry(1), (TPxRGB{245, 55, 225}));
    EXPECT_EQ(image.GetPixelGray8(1, 0), 1);
    EXPECT_EQ(image.GetPixelGray8(2, 0), 2);
    proc->Negative();
    EXPECT_EQ(image.GetPaletteEntry(1), (TPxRGB{10, 200, 30}));
    EXPECT_EQ(image.GetPaletteEntry(2), (TPxRGB{255, 255, 255}));
}

// ---------------------------------------------------------------------------
// Colour reduction

TEST_F(ImgProcOps, ConvertToBilevel)
{
    {  // ordered: white gives all ones
        TPxBitmap image(8, 8, px24RGB);
        image.Fill(0x00FFFFFF);
        auto proc = TImgProc::CreateForBitmap(&image);
        proc->ConvertTo(2, false);
        ASSERT_EQ(image.GetPixelFormat(), px1g);
        EXPECT_EQ(CountSetBits(image), 64);
    }
    {  // ordered: mid grey 128 gives level 32, half of the 8 x 8 matrix
        TPxBitmap image(16, 8, px24RGB);
        image.Fill(0x00808080);
        auto proc = TImgProc::CreateForBitmap(&image);
        proc->ConvertTo(2, false);
        ASSERT_EQ(image.GetPixelFormat(), px1g);
        EXPECT_EQ(CountSetBits(image), 64);
        // Each set bit is where the Bayer threshold is below 32.
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 16; ++x)
                EXPECT_EQ(PxGetBit(image.GetScanline(y), x) != 0, PxBayer8x8[x % 8][y % 8] < 32) << x << "," << y;
    }
    {  // threshold on equal pixels: grey >= mean, all ones
        TPxBitmap image(5, 3, px24RGB);
        image.Fill(0x00405060);
        auto proc = TImgProc::CreateForBitmap(&image);
        proc->ConvertTo(2, true);
        ASSERT_EQ(image.GetPixelFormat(), px1g);
        EXPECT_EQ(CountSetBits(image), 15);
    }
}

TEST_F(ImgProcOps, ConvertToAboveLimitAndPaletteZero)
{
    TFakeView owner;
    TPxBitmap image(4, 4, px24RGB);
    FillPattern(image);
    TImgProc proc(&owner);
    TEvents ev;
    ev.Hook(proc);
    proc.AttachBitmap(&image);

    proc.ConvertTo(2000, false);  // undo entry and events, pixels unchanged
    EXPECT_EQ(proc.GetUndoCount(), 1);
    EXPECT_EQ(proc.GetUndoCaptions()->GetStrings(0), L"ConvertTo 2000");
    EXPECT_EQ(ev.finish, 1);
    EXPECT_EQ(image.GetPixelFormat(), px24RGB);
    EXPECT_EQ(image.GetPixelRGB(3, 2), Pattern(3, 2));

    proc.ClearAllUndo();
    TPxRGB palette[4] = {};
    proc.ConvertToPalette(0, palette, false);  // nothing at all
    EXPECT_EQ(proc.GetUndoCount(), 0);
    EXPECT_EQ(ev.finish, 1);

    proc.ConvertToPalette(2, palette, false);
    EXPECT_EQ(palette[0], (TPxRGB{0, 0, 0}));
    EXPECT_EQ(palette[1], (TPxRGB{255, 255, 255}));
    EXPECT_EQ(image.GetPixelFormat(), px1g);
    EXPECT_EQ(proc.GetUndoCaptions()->GetStrings(0), L"ConvertToPalette");
}

TEST_F(ImgProcOps, ConvertToPaletteQuantizesToAtMostNColours)
{
    TPxBitmap image(6, 6, px24RGB);
    FillPattern(image);
    auto proc = TImgProc::CreateForBitmap(&image);
    TPxRGB palette[4] = {};
    proc->ConvertToPalette(4, palette, false);
    ASSERT_EQ(image.GetPixelFormat(), px24RGB);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            const TPxRGB c = image.GetPixelRGB(x, y);
            bool found = false;
            for (const TPxRGB& p : palette)
                found = found || p == c;
            EXPECT_TRUE(found) << x << "," << y;
        }
}

TEST_F(ImgProcOps, ConvertToGrayUsesWeights)
{
    TPxBitmap image(2, 2, px8g);
    image.Fill(0);
    image.SetPixelGray8(1, 1, 200);
    auto proc = TImgProc::CreateForBitmap(&image);
    proc->ConvertToGray();
    ASSERT_EQ(image.GetPixelFormat(), px24RGB);
    EXPECT_EQ(image.GetPixelRGB(1, 1), (TPxRGB{200, 200, 200}));

    TPxBitmap colour(1, 2, px24RGB);
    colour.SetPixelRGB(0, 0, TPxRGB{0, 0, 100});    // red 100: 21
    colour.SetPixelRGB(0, 1, TPxRGB{100, 100, 0});  // green + blue 100: 79
    proc->AttachBitmap(&colour);
    proc->ConvertToGray();
    EXPECT_EQ(colour.GetPixelRGB(0, 0), (TPxRGB{21, 21, 21}));
    EXPECT_EQ(colour.GetPixelRGB(0, 1), (TPxRGB{79, 79, 79}));
}

// ---------------------------------------------------------------------------
// Crop

TEST_F(ImgProcOps, CropCases)
{
    TFakeView owner;
    TPxBitmap image(120, 240, px24RGB);
    FillPattern(image);
    TImgProc proc(&owner);
    TEvents ev;
    ev.Hook(proc);
    proc.AttachBitmap(&image);

    proc.Crop(0, 0, 119, 239);  // whole image
    proc.Crop(-1, 0, 10, 10);   // outside
    proc.Crop(10, 10, 5, 20);   // reversed
    proc.Crop(0, 0, 120, 10);   // beyond the right edge
    EXPECT_EQ(ev.finish, 0);
    EXPECT_EQ(proc.GetUndoCount(), 0);

    proc.CropRect(RECT{10, 20, 109, 219});
    EXPECT_EQ(image.GetWidth(), 100);
    EXPECT_EQ(image.GetHeight(), 200);
    EXPECT_EQ(image.GetPixelRGB(0, 0), Pattern(10, 20));
    EXPECT_EQ(image.GetPixelRGB(99, 199), Pattern(109, 219));
    EXPECT_EQ(ev.finish, 1);
    ASSERT_EQ(proc.GetUndoCount(), 1);
    EXPECT_EQ(proc.GetUndoCaptions()->GetStrings(0), L"Crop");
}

TEST_F(ImgProcOps, CropToAlphaBoundsCropsWithoutUndo)
{
    TFakeView owner;
    TPxBitmap image(10, 8, px24RGB);
    FillPattern(image);
    image.GetAlphaChannel()->Fill(0);
    image.SetAlpha(7, 3, 255);
    image.SetAlpha(4, 5, 10);

    RECT box;
    PxAlphaBoundingBox(&image, box);
    EXPECT_EQ(box.left, 4);
    EXPECT_EQ(box.top, 3);
    EXPECT_EQ(box.right, 7);
    EXPECT_EQ(box.bottom, 5);

    TImgProc proc(&owner);
    TEvents ev;
    ev.Hook(proc);
    proc.AttachBitmap(&image);
    proc.CropToAlphaBounds();
    EXPECT_EQ(image.GetWidth(), 4);
    EXPECT_EQ(image.GetHeight(), 3);
    EXPECT_EQ(image.GetPixelRGB(0, 0), Pattern(4, 3));
    EXPECT_EQ(image.GetAlpha(3, 0), 255);
    EXPECT_EQ(image.GetAlpha(0, 2), 10);
    EXPECT_EQ(image.GetAlpha(0, 0), 0);
    EXPECT_EQ(proc.GetUndoCount(), 0);
    EXPECT_TRUE(ev.saves.empty());
    EXPECT_TRUE(proc.AutoUndo);
    EXPECT_EQ(ev.finish, 1);

    // Without alpha the box is the whole image: nothing happens.
    TPxBitmap plain(5, 5, px24RGB);
    proc.AttachBitmap(&plain);
    proc.CropToAlphaBounds();
    EXPECT_EQ(ev.finish, 1);
    // Fully transparent: left beyond right, the image is kept.
    plain.GetAlphaChannel()->Fill(0);
    PxAlphaBoundingBox(&plain, box);
    EXPECT_EQ(box.left, 5);
    EXPECT_EQ(box.top, 5);
    EXPECT_EQ(box.right, -1);
    EXPECT_EQ(box.bottom, -1);
    proc.CropToAlphaBounds();
    EXPECT_EQ(plain.GetWidth(), 5);
    EXPECT_EQ(ev.finish, 1);
}

TEST_F(ImgProcOps, AlphaBoundingBoxOfSinglePixel)
{
    TPxBitmap image(12, 9, px8g);
    image.GetAlphaChannel()->Fill(0);
    image.SetAlpha(7, 3, 1);
    RECT box;
    PxAlphaBoundingBox(&image, box);
    EXPECT_EQ(box.left, 7);
    EXPECT_EQ(box.top, 3);
    EXPECT_EQ(box.right, 7);
    EXPECT_EQ(box.bottom, 3);
}

// ---------------------------------------------------------------------------
// Resample and Rotate

TEST_F(ImgProcOps, ResampleEventsAndSizes)
{
    TPxBitmap image(8, 4, px24RGB);
    FillPattern(image);
    auto proc = TImgProc::CreateForBitmap(&image);
    TEvents ev;
    ev.Hook(*proc);

    proc->Resample(8, 4, rfFastLinear);    // same size
    proc->Resample(-1, -1, rfFastLinear);  // both negative
    EXPECT_EQ(ev.finish, 0);
    EXPECT_EQ(image.GetWidth(), 8);

    proc->Resample(4, 2, rfFastLinear);
    EXPECT_EQ(ev.finish, 2);
    EXPECT_EQ(ev.progress100, 2);
    EXPECT_EQ(image.GetWidth(), 4);
    EXPECT_EQ(image.GetHeight(), 2);

    struct Case {
        int w, h, ew, eh;
    };
    // Source 4 x 2.
    const Case cases[] = {{-1, 4, 8, 4}, {-1, 0, 1, 2}, {-200, 3, 200, 3}, {6, -1, 6, 3}, {0, 0, 4, 2}};
    for (const Case& c : cases) {
        TPxBitmap dest;
        proc->ResampleTo(&dest, c.w, c.h, rfNone);
        EXPECT_EQ(dest.GetWidth(), c.ew) << c.w << "," << c.h;
        EXPECT_EQ(dest.GetHeight(), c.eh) << c.w << "," << c.h;
    }
    EXPECT_EQ(image.GetWidth(), 4);
}

TEST_F(ImgProcOps, RotateRightAnglesExactlyWithCaption)
{
    TFakeView owner;
    TPxBitmap image(5, 3, px24RGB);
    FillPattern(image);
    TImgProc proc(&owner);
    TEvents ev;
    ev.Hook(proc);
    proc.AttachBitmap(&image);
    proc.Rotate(0, false, 0, -1);
    EXPECT_EQ(ev.finish, 0);

    proc.Rotate(90, false, 0, -1);  // anticlockwise on screen
    ASSERT_EQ(image.GetWidth(), 3);
    ASSERT_EQ(image.GetHeight(), 5);
    // The top-right source pixel lands at the top-left.
    EXPECT_EQ(image.GetPixelRGB(0, 0), Pattern(4, 0));
    EXPECT_EQ(image.GetPixelRGB(2, 4), Pattern(0, 2));
    EXPECT_EQ(proc.GetUndoCaptions()->GetStrings(0), L"Rotate 90");
    EXPECT_EQ(ev.finish, 1);
}

// ---------------------------------------------------------------------------
// Unit start-up

TEST_F(ImgProcOps, UnitStartupRunsInToolkitStartup)
{
    ASSERT_FALSE(PxIsInitialized());
    PxInitialize();
    ASSERT_NE(PxFilter3x3List, nullptr);
    EXPECT_EQ(PxFilter3x3List->GetCount(), 9);
    EXPECT_NE(PxRawClipboardFormat, 0u);
    EXPECT_EQ(PxRawClipboardFormat, RegisterClipboardFormatW(L"PXIMAGE RAW FORMAT"));
    // The expansion table: byte 0x80 is one white pixel, then black.
    EXPECT_EQ(PxBitExpansion24[0x80][0], 255);
    EXPECT_EQ(PxBitExpansion24[0x80][3], 0);
    PxFinalize();
    EXPECT_EQ(PxFilter3x3List, nullptr);
}
