// Layers of the image view: the list operations with their images, the
// bitmap-change notification that lets attached objects follow the current
// layer, the layer record, undo of layer records through the processing
// object, and the layers stream.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/views/view/ImgView.h"
#include "imaging/views/view/PxLayer.h"

using namespace imaging;

namespace {

// A view with a 6 x 4 red base image in the image model's storage.
struct LayeredView {
    TImgView view{nullptr};
    LayeredView()
    {
        view.SetLegacyBitmap(false);
        view.GetPxBitmap()->Allocate(6, 4, px24RGB);
        view.GetPxBitmap()->Fill(0x0000FF);
        view.Update();
    }
};

struct ChangeCounter : classlib::TObject {
    int changes = 0;
    int destroying = 0;
    void Changed(classlib::TObject*, bool Destroying) { ++(Destroying ? destroying : changes); }
};

TEST(PxLayerList, AddLayerSwitchesImageAndAttachedObjectsFollow)
{
    LayeredView lv;
    TImgView& view = lv.view;
    TImgIO* io = view.GetIO();
    TImgProc* proc = view.GetProc();
    ChangeCounter counter;
    view.RegisterBitmapChangeEvent(TPxBitmapChangeEvent(&counter, &ChangeCounter::Changed), &counter);
    TPxBitmap* base = view.GetPxBitmap();

    view.SetBackground(static_cast<classlib::TColor>(0x00FF0000));  // blue
    const int index = view.AddLayer();
    EXPECT_EQ(index, 1);
    EXPECT_EQ(view.GetLayersCount(), 2);
    EXPECT_EQ(view.GetLayersCurrent(), 1);
    TPxBitmap* top = view.GetPxBitmap();
    ASSERT_NE(top, base);
    EXPECT_EQ(top, view.GetLayer(1)->Bitmap);
    EXPECT_EQ(top->GetWidth(), 6);
    EXPECT_EQ(top->GetHeight(), 4);
    EXPECT_EQ(top->GetPixelFormat(), px24RGB);
    EXPECT_EQ(top->GetLocation(), base->GetLocation());
    EXPECT_EQ(top->GetPixelRGB(5, 3).b, 255);
    EXPECT_EQ(top->GetPixelRGB(5, 3).r, 0);
    EXPECT_EQ(base->GetPixelRGB(5, 3).r, 255);  // the base is untouched
    EXPECT_TRUE(view.GetLayer(1)->ShowBox);
    EXPECT_FALSE(view.GetLayer(1)->Locked);
    EXPECT_NE(view.GetLayerIdentifier(0), view.GetLayerIdentifier(1));

    EXPECT_EQ(counter.changes, 1);
    EXPECT_EQ(io->GetCurrentBitmap(), top);
    EXPECT_EQ(proc->GetBitmap(), top);

    // A processing operation works on the current layer only.
    proc->Resample(3, 2, rfNone);
    EXPECT_EQ(view.GetLayer(1)->Bitmap->GetWidth(), 3);
    EXPECT_EQ(view.GetLayer(0)->Bitmap->GetWidth(), 6);

    view.SetCurrentLayer(0);
    EXPECT_EQ(counter.changes, 2);
    EXPECT_EQ(io->GetCurrentBitmap(), base);
    EXPECT_EQ(proc->GetBitmap(), base);
    // Out of range and already current: nothing, no notification.
    view.SetCurrentLayer(0);
    view.SetCurrentLayer(2);
    view.SetCurrentLayer(-1);
    EXPECT_EQ(counter.changes, 2);
    EXPECT_EQ(view.GetLayersCurrent(), 0);
    EXPECT_THROW(view.GetLayer(2), classlib::EListError);
}

TEST(PxLayerList, SkipUnselectableStepsDown)
{
    struct Case {
        bool skip;
        bool selectable1;
        int request;
        int expected;
    };
    const Case cases[] = {
        {true, true, 2, 1},    // layer 2 not selectable, layer 1 is
        {true, false, 2, 0},   // both not: down to the base
        {false, true, 2, 2},   // switch off: any layer
        {true, true, 3, 3},
    };
    for (const Case& c : cases) {
        LayeredView lv;
        for (int i = 0; i < 3; ++i)
            lv.view.AddLayer();
        lv.view.SetCurrentLayer(0);
        lv.view.GetLayer(1)->Selectable = c.selectable1;
        lv.view.GetLayer(2)->Selectable = false;
        lv.view.SkipUnselectable = c.skip;
        lv.view.SetCurrentLayer(c.request);
        EXPECT_EQ(lv.view.GetLayersCurrent(), c.expected) << c.skip << c.selectable1 << c.request;
        EXPECT_EQ(lv.view.GetPxBitmap(), lv.view.GetLayer(c.expected)->Bitmap);
    }
}

TEST(PxLayerList, RemoveLayerKeepsTheRightLayerCurrent)
{
    LayeredView lv;
    TImgView& view = lv.view;
    for (int i = 0; i < 4; ++i)
        view.AddLayer();  // layers 0..4
    std::vector<TPxLayerIdentifier> ids;
    for (int i = 0; i < 5; ++i)
        ids.push_back(view.GetLayerIdentifier(i));
    view.GetLayer(2)->IsMask = true;  // the mask of layer 1

    // Removing layer 1 removes its mask too; layer 4 (current) stays current.
    view.RemoveLayer(1);
    ASSERT_EQ(view.GetLayersCount(), 3);
    EXPECT_EQ(view.GetLayerIdentifier(1), ids[3]);
    EXPECT_EQ(view.GetLayerIdentifier(view.GetLayersCurrent()), ids[4]);
    EXPECT_EQ(view.GetPxBitmap(), view.GetLayer(2)->Bitmap);

    // Removing the current (last) layer makes the one below current.
    view.RemoveLayer(2);
    ASSERT_EQ(view.GetLayersCount(), 2);
    EXPECT_EQ(view.GetLayersCurrent(), 1);
    EXPECT_EQ(view.GetPxBitmap(), view.GetLayer(1)->Bitmap);

    // Out of range: nothing. The last layer cannot go.
    view.RemoveLayer(5);
    view.RemoveLayer(-1);
    EXPECT_EQ(view.GetLayersCount(), 2);
    view.RemoveLayer(0);
    view.RemoveLayer(0);
    EXPECT_EQ(view.GetLayersCount(), 1);
    EXPECT_EQ(view.GetLayersCurrent(), 0);
    EXPECT_EQ(view.GetPxBitmap(), view.GetLayer(0)->Bitmap);
    EXPECT_EQ(view.GetIO()->GetCurrentBitmap(), view.GetPxBitmap());
}

TEST(PxLayerList, ClearLayersResetsBase)
{
    LayeredView lv;
    TImgView& view = lv.view;
    view.AddLayer();
    view.AddLayer();
    view.GetLayer(0)->PosX = 9;
    view.GetLayer(0)->Transparency = 10;
    view.SetBackground(static_cast<classlib::TColor>(0x0000FF00));
    view.ClearLayers();
    ASSERT_EQ(view.GetLayersCount(), 1);
    EXPECT_EQ(view.GetLayersCurrent(), 0);
    TPxLayer* base = view.GetLayer(0);
    EXPECT_EQ(base->PosX, 0);
    EXPECT_EQ(base->Transparency, 255);
    EXPECT_FALSE(base->ShowBox);
    EXPECT_TRUE(base->Locked);
    EXPECT_EQ(view.GetPxBitmap()->GetPixelRGB(0, 0).g, 255);
    EXPECT_EQ(view.GetPxBitmap()->GetPixelRGB(0, 0).r, 0);
}

TEST(PxLayerObject, RotationAndSize)
{
    TPxLayer layer(nullptr, false, nullptr);
    struct Case {
        double in;
        double stored;
    };
    for (const Case& c : {Case{720, 0}, Case{720.5, 720.5}, Case{-360, 0}, Case{90, 90}, Case{0, 0}, Case{360.0001, 360.0001}}) {
        layer.SetRotation(c.in);
        EXPECT_EQ(layer.Rotate, c.stored) << c.in;
    }
    layer.Bitmap->Allocate(7, 3, px8g);
    EXPECT_EQ(layer.GetWidth(), 7);
    EXPECT_EQ(layer.GetHeight(), 3);
    layer.Width = 20;
    EXPECT_EQ(layer.GetWidth(), 20);
    EXPECT_EQ(layer.GetHeight(), 3);
}

TEST(PxLayerObject, RecordLayoutAndRoundTrip)
{
    TPxLayer empty(nullptr, false, nullptr);
    classlib::TMemoryStream s;
    s.WriteBuffer("xy", 2);  // records are written at the stream's position
    empty.SaveToStream(&s, false);
    EXPECT_EQ(s.GetSize(), 2 + PxLayerRecordBaseSize);
    int32_t length = 0;
    std::memcpy(&length, static_cast<const uint8_t*>(s.GetMemory()) + 2, 4);
    EXPECT_EQ(length, 127);
    EXPECT_EQ(std::memcmp(static_cast<const uint8_t*>(s.GetMemory()) + 6, &empty.Guid, 16), 0);

    // Every field and the image come back.
    TPxLayer a(nullptr, false, nullptr);
    a.Bitmap->Allocate(3, 2, px24RGB);
    a.Bitmap->Fill(0x00102030);
    a.Width = 11;
    a.Height = 12;
    a.Visible = false;
    a.Selectable = false;
    a.Transparency = 77;
    a.PosX = -5;
    a.PosY = 6;
    a.ScreenRect = RECT{1, 2, 3, 4};
    a.Magnify = true;
    a.MagnifyRate = 3.5;
    a.MagnifyShape = 1;
    a.MagnifySource = 0;
    a.BlendMode = 4;
    a.ResampleFilter = rfFastLinear;
    a.UseResampleFilter = true;
    a.Name = L"Top";
    a.Description = L"Schl\u00fcssel \u4e2d";
    a.IsMask = true;
    a.DimOutside = true;
    a.Rotate = 12.5;
    a.RotateCenterX = 0.25;
    a.RotateCenterY = 0.75;
    classlib::TMemoryStream r;
    a.SaveToStream(&r, true);
    EXPECT_EQ(r.GetPosition(), r.GetSize());
    int32_t recLen = 0;
    std::memcpy(&recLen, r.GetMemory(), 4);
    EXPECT_EQ(recLen, r.GetSize());

    TPxLayer b(nullptr, false, nullptr);
    r.SetPosition(0);
    b.LoadFromStream(&r);
    EXPECT_EQ(r.GetPosition(), r.GetSize());
    EXPECT_EQ(std::memcmp(&b.Guid, &a.Guid, 16), 0);
    EXPECT_EQ(b.Width, 11);
    EXPECT_EQ(b.Height, 12);
    EXPECT_FALSE(b.Visible);
    EXPECT_FALSE(b.Selectable);
    EXPECT_EQ(b.Transparency, 77);
    EXPECT_EQ(b.PosX, -5);
    EXPECT_EQ(b.PosY, 6);
    EXPECT_EQ(b.ScreenRect.right, 3);
    EXPECT_TRUE(b.Magnify);
    EXPECT_EQ(b.MagnifyRate, 3.5);
    EXPECT_EQ(b.MagnifyShape, 1);
    EXPECT_EQ(b.MagnifySource, 0);
    EXPECT_EQ(b.BlendMode, 4);
    EXPECT_EQ(b.ResampleFilter, rfFastLinear);
    EXPECT_TRUE(b.UseResampleFilter);
    EXPECT_EQ(b.Name, L"Top");
    EXPECT_EQ(b.Description, a.Description);
    EXPECT_TRUE(b.IsMask);
    EXPECT_TRUE(b.DimOutside);
    EXPECT_EQ(b.Rotate, 12.5);
    EXPECT_EQ(b.RotateCenterX, 0.25);
    EXPECT_EQ(b.RotateCenterY, 0.75);
    ASSERT_EQ(b.Bitmap->GetWidth(), 3);
    EXPECT_EQ(b.Bitmap->GetPixelRGB(2, 1).g, 0x20);

    // A name count past the end of the record is refused.
    classlib::TMemoryStream bad;
    empty.SaveToStream(&bad, false);
    const int32_t huge = 1 << 30;
    std::memcpy(static_cast<uint8_t*>(bad.GetMemory()) + 92, &huge, 4);
    bad.SetPosition(0);
    TPxLayer c(nullptr, false, nullptr);
    EXPECT_THROW(c.LoadFromStream(&bad), classlib::EReadError);
}

TEST(PxLayerUndo, LayerRecordsRestoreThroughTheView)
{
    for (TPxUndoSource kind : {pxuLayer, pxuFullLayer}) {
        LayeredView lv;
        TImgView& view = lv.view;
        view.AddLayer();  // current: layer 1
        TImgProc* proc = view.GetProc();
        view.GetPxBitmap()->Fill(0x00000010);
        view.GetLayer(0)->PosX = 3;
        view.GetLayer(1)->PosY = 4;
        view.GetLayer(1)->Name = L"kept";
        proc->SaveUndo(kind);
        ASSERT_EQ(proc->GetUndoCount(), 1);

        view.GetLayer(0)->PosX = 30;
        view.GetLayer(1)->PosY = 40;
        view.GetLayer(1)->Name = L"changed";
        view.GetPxBitmap()->Fill(0x00000020);
        proc->Undo(false);
        EXPECT_EQ(view.GetLayer(0)->PosX, 3) << kind;
        EXPECT_EQ(view.GetLayer(1)->PosY, 4) << kind;
        EXPECT_EQ(view.GetLayer(1)->Name, L"kept") << kind;
        // Only the full record carries the current layer's image.
        EXPECT_EQ(view.GetPxBitmap()->GetPixelRGB(0, 0).r, kind == pxuFullLayer ? 0x10 : 0x20) << kind;
        EXPECT_EQ(view.GetLayer(0)->Bitmap->GetPixelRGB(0, 0).r, 255) << kind;
    }
}

TEST(PxLayersStream, RawLayoutOfOneLayer)
{
    LayeredView lv;
    classlib::TMemoryStream s;
    lv.view.LayersSaveToStream(&s, -2);
    const auto* p = static_cast<const uint8_t*>(s.GetMemory());
    ASSERT_GT(s.GetSize(), 90);
    EXPECT_EQ(std::memcmp(p, "PXIMAGELAYERS", 13), 0);
    int32_t v[3];
    std::memcpy(v, p + 13, 12);
    EXPECT_EQ(v[0], 6);
    EXPECT_EQ(v[1], -2);
    EXPECT_EQ(v[2], 1);
    uint64_t offset = 0;
    std::memcpy(&offset, p + 25 + 53, 8);
    EXPECT_EQ(offset, 86u);
    int32_t length = 0;
    std::memcpy(&length, p + 86, 4);
    EXPECT_EQ(86 + 4 + length, s.GetSize());
    EXPECT_EQ(std::memcmp(p + 90, "TPXBITMAPRAW", 12), 0);

    s.SetPosition(0);
    EXPECT_TRUE(PxIsLayersStream(&s));
    EXPECT_EQ(s.GetPosition(), 0);
    // Version 0: not a layers stream, position kept.
    classlib::TMemoryStream zero;
    zero.WriteBuffer(p, 25);
    const int32_t v0 = 0;
    zero.SetPosition(13);
    zero.WriteBuffer(&v0, 4);
    zero.SetPosition(3);
    EXPECT_FALSE(PxIsLayersStream(&zero));
    EXPECT_EQ(zero.GetPosition(), 3);
}

TEST(PxLayersStream, RoundTripReplacesEveryLayer)
{
    for (int coding : {-1, -2}) {
        LayeredView source;
        source.view.AddLayer();
        source.view.GetPxBitmap()->Fill(0x00445566);
        source.view.GetLayer(1)->Name = L"second";
        source.view.GetLayer(1)->PosX = 2;
        source.view.SetCurrentLayer(0);
        classlib::TMemoryStream s;
        source.view.LayersSaveToStream(&s, coding);
        EXPECT_EQ(source.view.GetLayersCurrent(), 0);  // restored after writing

        LayeredView target;
        for (int i = 0; i < 3; ++i)
            target.view.AddLayer();
        target.view.GetIO();  // an existing I/O object gets layer 0's size
        s.SetPosition(0);
        ASSERT_TRUE(target.view.LayersLoadFromStream(&s)) << coding;
        ASSERT_EQ(target.view.GetLayersCount(), 2);
        EXPECT_EQ(target.view.GetLayersCurrent(), 1);
        EXPECT_EQ(target.view.GetLayer(1)->Name, L"second");
        EXPECT_EQ(target.view.GetLayer(1)->PosX, 2);
        EXPECT_EQ(target.view.GetPxBitmap()->GetPixelRGB(5, 3).r, 0x66) << coding;
        EXPECT_EQ(target.view.GetLayer(0)->Bitmap->GetPixelRGB(0, 0).r, 255) << coding;
        EXPECT_EQ(target.view.GetIO()->GetCurrentBitmap(), target.view.GetPxBitmap());
        EXPECT_EQ(target.view.GetIO()->FileParams->Width, 6);
    }
}

TEST(PxLayersStream, RefusedInputLeavesLayersAlone)
{
    LayeredView lv;
    lv.view.AddLayer();
    classlib::TMemoryStream s;
    lv.view.LayersSaveToStream(&s, -2);

    // A wrong magic: false, nothing touched.
    classlib::TMemoryStream wrong;
    wrong.WriteBuffer("PXIMAGELAYERZ", 13);
    wrong.WriteBuffer(static_cast<const uint8_t*>(s.GetMemory()) + 13, s.GetSize() - 13);
    wrong.SetPosition(0);
    EXPECT_FALSE(lv.view.LayersLoadFromStream(&wrong));
    EXPECT_EQ(lv.view.GetLayersCount(), 2);

    // A layer count the stream cannot hold is refused before any layer goes.
    classlib::TMemoryStream huge;
    huge.WriteBuffer(s.GetMemory(), s.GetSize());
    const int32_t count = 1000000;
    huge.SetPosition(21);
    huge.WriteBuffer(&count, 4);
    huge.SetPosition(0);
    EXPECT_THROW(lv.view.LayersLoadFromStream(&huge), classlib::EReadError);
    EXPECT_EQ(lv.view.GetLayersCount(), 2);

    // A missing file raises from the file stream.
    EXPECT_THROW(lv.view.LayersLoadFromFile(L"Z:\\no\\such\\file.layers"), classlib::Exception);
}

TEST(PxLayerTransforms, SizesRotationAndAlphaCropBakedIntoImages)
{
    LayeredView lv;
    TImgView& view = lv.view;
    view.AddLayer();
    view.AddLayer();  // current: 2
    // Layer 1: displayed at 4 x 2, rotated by 90 about its centre.
    TPxLayer* one = view.GetLayer(1);
    one->Width = 4;
    one->Height = 2;
    one->SetRotation(90);
    one->PosX = 10;
    one->PosY = 20;
    view.GetLayer(2)->Width = 3;  // only sized
    view.ApplyLayerTransforms(-1);
    EXPECT_EQ(view.GetLayersCurrent(), 2);
    EXPECT_EQ(one->Rotate, 0);
    EXPECT_EQ(one->Width, 0);
    EXPECT_EQ(one->Height, 0);
    EXPECT_EQ(one->Bitmap->GetWidth(), 2);
    EXPECT_EQ(one->Bitmap->GetHeight(), 4);
    EXPECT_TRUE(one->Bitmap->HasAlphaChannel());
    // The 4 x 2 box turned about (2, 1) spans x 1..3 and y -1..3.
    EXPECT_EQ(one->PosX, 11);
    EXPECT_EQ(one->PosY, 19);
    EXPECT_EQ(view.GetLayer(2)->Bitmap->GetWidth(), 3);
    EXPECT_EQ(view.GetLayer(2)->Bitmap->GetHeight(), 4);
    EXPECT_EQ(view.GetLayer(2)->Width, 0);
    EXPECT_EQ(view.GetLayer(0)->Bitmap->GetWidth(), 6);

    // Cropping to the alpha bounds keeps the position.
    TPxBitmap* top = view.GetPxBitmap();
    TPxBitmap* alpha = top->GetAlphaChannel();
    alpha->Fill(0);
    alpha->SetPixelGray8(1, 1, 255);
    alpha->SetPixelGray8(2, 3, 9);
    view.GetLayer(2)->PosX = 5;
    view.CropLayersToAlpha(2);
    EXPECT_EQ(top->GetWidth(), 2);
    EXPECT_EQ(top->GetHeight(), 3);
    EXPECT_EQ(view.GetLayer(2)->PosX, 5);
    EXPECT_EQ(view.GetLayer(0)->Bitmap->GetWidth(), 6);
}

TEST(PxLayerTransforms, PointInLayer)
{
    LayeredView lv;
    TImgView& view = lv.view;
    view.AddLayer();
    TPxLayer* layer = view.GetLayer(1);
    layer->ScreenRect = RECT{10, 10, 20, 20};
    struct Case {
        int x, y;
        bool inside;
    };
    for (const Case& c : {Case{10, 10, true}, Case{20, 20, true}, Case{21, 20, false}, Case{15, 9, false}})
        EXPECT_EQ(view.IsPointInLayer(c.x, c.y, 1), c.inside) << c.x << "," << c.y;
    EXPECT_FALSE(view.IsPointInLayer(15, 15, 2));
    EXPECT_FALSE(view.IsPointInLayer(15, 15, -1));
    // A rotated layer is tested against its drawn corners (a diamond here).
    layer->Rotate = 45;
    layer->Corners[0] = POINT{15, 5};
    layer->Corners[1] = POINT{25, 15};
    layer->Corners[2] = POINT{15, 25};
    layer->Corners[3] = POINT{5, 15};
    EXPECT_TRUE(view.IsPointInLayer(15, 15, 1));
    layer->ScreenRect = RECT{5, 5, 25, 25};
    EXPECT_FALSE(view.IsPointInLayer(7, 7, 1));  // in the rectangle, outside the corners
    EXPECT_TRUE(view.IsPointInLayer(22, 15, 1));
    layer->Visible = false;
    EXPECT_FALSE(view.IsPointInLayer(15, 15, 1));
}

}  // namespace
