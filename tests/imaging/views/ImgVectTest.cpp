// The vector view's object storage (handles, deep copies, shared bitmaps,
// selection, units), its object stream (round trips of every kind, alone
// and with layers, damaged and truncated blocks) and its object undo.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "classlib/ZLibStreams.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStartup.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/views/vector/ImgVect.h"

using namespace imaging;

namespace {

struct Count {
    int N = 0;
    void On(classlib::TObject*) { ++N; }
};

class VectStore : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PxInitialize(); }
    void SetUp() override
    {
        view = std::make_unique<TImgVect>(nullptr);
        view->GetPxBitmap()->Allocate(200, 150, px24RGB);
        view->GetPxBitmap()->Fill(0xFFFFFF);
        view->Update();
    }
    TPxVectObject Make(TPxVectObjectKind Kind, int L, int T, int R, int B)
    {
        TPxVectObject o = *view->ObjectRecord(-1);
        o.Kind = Kind;
        o.Left = L;
        o.Top = T;
        o.Right = R;
        o.Bottom = B;
        return o;
    }
    std::unique_ptr<TPxBitmap> Bitmap(int W, int H, uint32_t Color)
    {
        auto b = std::make_unique<TPxBitmap>();
        b->Allocate(W, H, px24RGB);
        b->Fill(Color);
        return b;
    }
    std::unique_ptr<TImgVect> view;
};

TEST_F(VectStore, HandlesAreRangeChecked)
{
    const int a = view->AddObject(Make(pxvoLine, 1, 2, 3, 4));
    const int b = view->AddObject(Make(pxvoBox, 5, 6, 7, 8));
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(view->ObjectRecord(-2), view->ObjectRecord(1));
    EXPECT_NE(view->ObjectRecord(-1), nullptr);
    for (int bad : {-3, -4, -5, 2, 1000, INT32_MIN, INT32_MAX})
        EXPECT_EQ(view->ObjectRecord(bad), nullptr) << bad;
    // Operations with handles that name no object change nothing.
    Count fired;
    view->OnSelectObject = classlib::TNotifyEvent(&fired, &Count::On);
    view->AddSelObject(7);
    view->UnSelObject(7);
    EXPECT_EQ(view->GetSelObjectsCount(), 0);
    EXPECT_EQ(fired.N, 1);  // AddSelObject always notifies, UnSelObject only on a change
    auto bmp = Bitmap(4, 4, 0x00FF00);
    view->SetObjBitmap(99, bmp.get());
    view->SetObjBitmapIndex(-7, 0);
    view->OffsetObject(5, 10, 10);
    view->ResizeObject(-9, 1, 2, false, 1, 1, 1);
    view->AddPolylinePoint(42, 1, 1);
    EXPECT_EQ(view->GetObjectsCount(), 2);
    EXPECT_EQ(view->ObjectRecord(0)->Left, 1);
}

TEST_F(VectStore, AddObjectCopiesDeeplyAndNormalisesBoxesOnly)
{
    TPxVectObject line = Make(pxvoLine, 50, 40, 10, 5);
    const int hl = view->AddObject(line);
    EXPECT_EQ(view->ObjectRecord(hl)->Left, 50);  // a line keeps its direction
    EXPECT_EQ(view->ObjectRecord(hl)->Top, 40);
    const int hb = view->AddObject(Make(pxvoBox, 50, 40, 10, 5));
    const TPxVectObject* box = view->ObjectRecord(hb);
    EXPECT_EQ(box->Left, 10);
    EXPECT_EQ(box->Top, 5);
    EXPECT_EQ(box->Right, 50);
    EXPECT_EQ(box->Bottom, 40);
    TPxVectObject text = Make(pxvoText, 0, 0, 10, 10);
    text.Text = "abc";
    text.HasText = true;
    text.Name = "n";
    const int ht = view->AddObject(text);
    text.Text[0] = 'X';
    EXPECT_EQ(view->ObjectRecord(ht)->Text, "abc");
    EXPECT_EQ(view->ObjectRecord(ht)->Name, "n");
    // Polyline points stay only on polylines.
    TPxVectObject box2 = Make(pxvoBox, 0, 0, 5, 5);
    box2.Points = {{1, 1}, {2, 2}};
    EXPECT_TRUE(view->ObjectRecord(view->AddObject(box2))->Points.empty());
}

TEST_F(VectStore, ArrayGrowsPast512AndHandlesStayValid)
{
    for (int i = 0; i < 512; ++i)
        view->AddObject(Make(pxvoBox, i, 0, i + 1, 1));
    TPxVectObject* first = view->ObjectRecord(0);
    EXPECT_EQ(first->Left, 0);
    view->AddObject(Make(pxvoBox, 999, 0, 1000, 1));
    EXPECT_EQ(view->GetObjectsCount(), 513);
    EXPECT_EQ(view->ObjectRecord(511)->Left, 511);
    EXPECT_EQ(view->ObjectRecord(512)->Left, 999);
}

TEST_F(VectStore, SharedBitmapsCountTheirUsers)
{
    // After creation the default object holds the stop icon in entry 0.
    ASSERT_EQ(view->GetSharedBitmapsCount(), 1);
    auto green = Bitmap(8, 8, 0x00FF00);
    auto same = Bitmap(8, 8, 0x00FF00);
    const int a = view->AddObject(Make(pxvoBitmap, 0, 0, 7, 7));
    const int b = view->AddObject(Make(pxvoBitmap, 10, 0, 17, 7));
    view->SetObjBitmap(a, green.get());
    view->SetObjBitmap(b, same.get());
    const int entry = view->ObjectRecord(a)->BitmapIndex;
    EXPECT_EQ(view->ObjectRecord(b)->BitmapIndex, entry);
    EXPECT_EQ(view->GetSharedBitmapCount(entry), 2);
    view->SetObjBitmap(a, nullptr);
    EXPECT_EQ(view->GetSharedBitmapCount(entry), 1);
    view->SetObjBitmap(b, nullptr);
    EXPECT_EQ(view->GetSharedBitmap(entry), nullptr);
    auto red = Bitmap(3, 3, 0xFF0000);
    view->SetObjBitmap(a, red.get());
    EXPECT_EQ(view->ObjectRecord(a)->BitmapIndex, entry);  // the free slot is reused
    // Without sharing an existing entry is copied into an entry of its own.
    view->ShareBitmaps = false;
    view->SetObjBitmapIndex(b, entry);
    EXPECT_NE(view->ObjectRecord(b)->BitmapIndex, entry);
    EXPECT_EQ(view->GetSharedBitmapCount(view->ObjectRecord(b)->BitmapIndex), 1);
    // Removing every object keeps only the default object's picture.
    view->RemoveAllObjects();
    EXPECT_EQ(view->GetSharedBitmapsCount(), 1);
    EXPECT_NE(view->GetSharedBitmap(view->ObjectRecord(-1)->BitmapIndex), nullptr);
}

TEST_F(VectStore, DefaultPictureIsTheSystemIconOnWhite)
{
    // A new view's default bitmap object shows a 64 x 64 system icon drawn
    // over white: white corners, coloured pixels inside.
    TPxBitmap* b = view->GetSharedBitmap(view->ObjectRecord(-1)->BitmapIndex);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->GetWidth(), 64);
    ASSERT_EQ(b->GetHeight(), 64);
    const uint8_t* top = b->GetScanline(0);
    EXPECT_EQ(top[0], 255);
    EXPECT_EQ(top[1], 255);
    EXPECT_EQ(top[2], 255);
    int coloured = 0;
    for (int y = 0; y < 64; ++y) {
        const uint8_t* row = b->GetScanline(y);
        for (int x = 0; x < 64; ++x)
            coloured += row[x * 3] != row[x * 3 + 1] || row[x * 3 + 1] != row[x * 3 + 2] ? 1 : 0;
    }
    EXPECT_GT(coloured, 200);
}

TEST_F(VectStore, SelectionNotificationsAndPolylinePoints)
{
    const int a = view->AddObject(Make(pxvoBox, 0, 0, 5, 5));
    TPxVectObject fixed = Make(pxvoBox, 0, 0, 5, 5);
    fixed.Options = pxvoptVisible;
    const int b = view->AddObject(fixed);
    Count fired;
    view->OnSelectObject = classlib::TNotifyEvent(&fired, &Count::On);
    view->UnSelObject(a);
    EXPECT_EQ(fired.N, 0);
    view->AddSelObject(b);  // not selectable
    view->AddSelObject(a);
    view->AddSelObject(a);
    EXPECT_EQ(view->GetSelection(), std::vector<int>({a}));
    fired.N = 0;
    view->UnSelAllObjectsNoUpdate();
    view->UnSelAllObjectsNoUpdate();
    EXPECT_EQ(fired.N, 2);
    TPxVectObject pl = Make(pxvoPolyline, 1000000, 1000000, -1000000, -1000000);
    const int p = view->AddObject(pl);
    view->AddPolylinePoint(p, 10, 20);
    view->AddPolylinePoint(p, 10, 20);
    view->AddPolylinePoint(p, 30, 5);
    const TPxVectObject* r = view->ObjectRecord(p);
    EXPECT_EQ(r->Points.size(), 2u);
    EXPECT_EQ(r->Left, 10);
    EXPECT_EQ(r->Top, 5);
    EXPECT_EQ(r->Right, 30);
    EXPECT_EQ(r->Bottom, 20);
}

TEST_F(VectStore, UnitsScaleAndInteractionBits)
{
    view->SetDpiX(254);
    view->SetDpiY(254);
    view->SetMUnit(pxuCENTIMETERS);
    EXPECT_NEAR(view->UnitSizeX, 0.01, 1e-12);
    view->SetMeasureScale(2.0);
    EXPECT_NEAR(view->UnitSizeY, 0.02, 1e-12);
    view->SetMUnit(pxuPIXELS);
    EXPECT_DOUBLE_EQ(view->UnitSizeX, 2.0);
    view->VectInteract = viMeasureArea | viNoClickObjects | viNewBox | viSelectObjects;
    view->SetMouseInteract(TImgView::miZoom);
    EXPECT_EQ(view->VectInteract, viMeasureArea | viNoClickObjects);
    EXPECT_EQ(view->GetObjectsExtent().right, 0);
    view->AddObject(Make(pxvoBox, 10, 10, 20, 5));
    view->AddObject(Make(pxvoBox, 0, 0, 3, 30));
    const RECT e = view->GetObjectsExtent();
    EXPECT_EQ(e.right, 21);
    EXPECT_EQ(e.bottom, 31);
}

namespace {
struct Star : TPxCustomObjectBase {
    TPxCustomObjectBase* Clone() override { return new Star; }
};
struct Ring : TPxCustomObjectBase {
    TPxCustomObjectBase* Clone() override { return new Ring; }
};
}  // namespace

TEST_F(VectStore, StartupHoldsTheClipboardFormatShortcutsAndClassRegistry)
{
    // Registering the same name again gives the number the start-up got.
    ASSERT_NE(PxVectClipboardFormat(), 0u);
    EXPECT_EQ(PxVectClipboardFormat(), RegisterClipboardFormatW(L"PXIMAGE VECT"));
    wchar_t name[32] = {};
    GetClipboardFormatNameW(PxVectClipboardFormat(), name, 32);
    EXPECT_STREQ(name, L"PXIMAGE VECT");
    const char keys[] = "LERJCXVFBIUG";
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(PxVectShortcut(i), 0x4000 | keys[i]) << i;
    EXPECT_EQ(PxVectShortcut(12), 0);

    PxRegisterVectObjectClass("TStar", [] { return static_cast<TPxCustomObjectBase*>(new Star); });
    PxRegisterVectObjectClass("TRing", [] { return static_cast<TPxCustomObjectBase*>(new Ring); });
    std::unique_ptr<TPxCustomObjectBase> star(PxCreateVectObjectByName("TStar"));
    ASSERT_NE(star, nullptr);
    EXPECT_EQ(star->Handle, -1);
    EXPECT_EQ(PxVectObjectClassName(star.get()), "TStar");
    std::unique_ptr<TPxCustomObjectBase> ring(PxCreateVectObjectByName("TRing"));
    EXPECT_EQ(PxVectObjectClassName(ring.get()), "TRing");
    EXPECT_EQ(PxCreateVectObjectByName("tstar"), nullptr);  // names match case and all
    Ring other;  // found by its class, whoever made it
    EXPECT_EQ(PxVectObjectClassName(&other), "TRing");
    EXPECT_EQ(PxVectObjectClassName(nullptr), "");
}

// ---- stream

// One object of every kind, each with fields of its own set.
void AddEveryKind(TImgVect& V, TPxBitmap* Picture)
{
    TPxVectObject base = *V.ObjectRecord(-1);
    auto add = [&](TPxVectObjectKind K, int L, int T, int R, int B, const std::function<void(TPxVectObject&)>& Set) {
        TPxVectObject o = base;
        o.Kind = K;
        o.Left = L;
        o.Top = T;
        o.Right = R;
        o.Bottom = B;
        o.PenColor = 0x0000FF;
        o.PenWidth = 3;
        o.Name = "obj" + std::to_string(K);
        o.Tag = 100 + K;
        Set(o);
        return V.AddObject(o);
    };
    add(pxvoLine, 5, 5, 80, 30, [](TPxVectObject& o) {
        o.BeginShape = 1;
        o.EndShape = 2;
        o.ShapeWidth = 12;
    });
    add(pxvoBox, 10, 40, 60, 70, [](TPxVectObject& o) {
        o.BrushStyle = classlib::bsSolid;
        o.BrushColor = 0x00FF00;
        o.Shadow.Enabled = true;
        o.Shadow.Radius = 4.5;
        o.Shadow.ShadowColor = 0x123456;
    });
    add(pxvoEllipse, 70, 40, 110, 80, [](TPxVectObject& o) { o.Transparency = 128; });
    add(pxvoArc, 120, 10, 160, 50, [](TPxVectObject& o) {
        o.ArcStart = 0.5;
        o.ArcEnd = 2.5;
    });
    const int bh = add(pxvoBitmap, 120, 60, 150, 90, [](TPxVectObject& o) { o.BitmapBorder = true; });
    V.SetObjBitmap(bh, Picture);
    add(pxvoText, 10, 90, 100, 110, [](TPxVectObject& o) {
        o.Text = "Hello";
        o.HasText = true;
        o.TextAlign = 2;
        o.TextPath = {{0, 0}, {1, 0.5}};
        o.TextPathValue = 7;
    });
    add(pxvoRuler, 10, 120, 150, 120, [](TPxVectObject& o) {
        o.MeasureUnit = pxuMILLIMETERS;
        o.RulerStyle = 0;
    });
    add(pxvoPolyline, 160, 100, 190, 140, [](TPxVectObject& o) {
        o.Points = {{0, 0}, {10, 20}, {5, 40}};
        o.PointsBounds = RECT{0, 0, 10, 40};
        o.Closed = true;
    });
    add(pxvoAngle, 20, 20, 60, 60, [](TPxVectObject& o) {
        o.AnglePoints[0] = POINT{20, 20};
        o.AnglePoints[1] = POINT{40, 60};
        o.AnglePoints[2] = POINT{60, 20};
    });
    add(pxvoMemo, 100, 110, 190, 145, [](TPxVectObject& o) {
        o.Text = "ab\ncd";
        o.HasText = true;
        TPxMemoCharFormat f1, f2;
        PxSetFormatFontName(f1, "Arial");
        f1.FontHeight = -12;
        f1.UseCount = 3;
        f2 = f1;
        f2.FontStyle = 1;
        f2.Alignment = 2;
        f2.UseCount = 2;
        o.MemoFormats = {f1, f2};
        o.MemoCharFormats = {0, 0, 0, 1, 1};
        o.MemoFixedFont = false;
        o.MemoMargins[1] = 2.5;
        o.MemoLineGap = 3;
    });
    add(pxvoLineLabel, 30, 130, 90, 140, [](TPxVectObject& o) {
        o.Text = "label";
        o.HasText = true;
        o.LabelBorder = 2;
        o.LabelBrushColor = 0xABCDEF;
    });
    V.ObjectRecord(0)->UserData = new uint8_t[3]{1, 2, 3};
    V.ObjectRecord(0)->UserDataLen = 3;
}

// Same size, alpha presence and pixel values (row padding ignored).
bool SamePixels(TPxBitmap* A, TPxBitmap* B)
{
    if (A->GetWidth() != B->GetWidth() || A->GetHeight() != B->GetHeight() ||
        A->HasAlphaChannel() != B->HasAlphaChannel())
        return false;
    for (int y = 0; y < A->GetHeight(); ++y)
        for (int x = 0; x < A->GetWidth(); ++x) {
            const TPxRGB a = A->GetPixelAsRGB(x, y), b = B->GetPixelAsRGB(x, y);
            if (a.r != b.r || a.g != b.g || a.b != b.b)
                return false;
            if (A->HasAlphaChannel() && A->GetAlpha(x, y) != B->GetAlpha(x, y))
                return false;
        }
    return true;
}

void ExpectSameObjects(TImgVect& A, TImgVect& B, bool WithUserData = true)
{
    ASSERT_EQ(A.GetObjectsCount(), B.GetObjectsCount());
    for (int i = 0; i < A.GetObjectsCount(); ++i) {
        const TPxVectObject& a = *A.ObjectRecord(i);
        const TPxVectObject& b = *B.ObjectRecord(i);
        SCOPED_TRACE(i);
        EXPECT_EQ(a.Kind, b.Kind);
        EXPECT_EQ(a.Left, b.Left);
        EXPECT_EQ(a.Top, b.Top);
        EXPECT_EQ(a.Right, b.Right);
        EXPECT_EQ(a.Bottom, b.Bottom);
        EXPECT_EQ(a.Name, b.Name);
        EXPECT_EQ(a.Tag, b.Tag);
        EXPECT_EQ(a.PenColor, b.PenColor);
        EXPECT_EQ(a.PenWidth, b.PenWidth);
        EXPECT_EQ(a.BrushStyle, b.BrushStyle);
        EXPECT_EQ(a.BrushColor, b.BrushColor);
        EXPECT_EQ(a.Transparency, b.Transparency);
        EXPECT_EQ(a.Shadow.Enabled, b.Shadow.Enabled);
        EXPECT_EQ(a.Shadow.Radius, b.Shadow.Radius);
        EXPECT_EQ(a.Shadow.ShadowColor, b.Shadow.ShadowColor);
        EXPECT_EQ(a.Text, b.Text);
        EXPECT_EQ(a.BeginShape, b.BeginShape);
        EXPECT_EQ(a.EndShape, b.EndShape);
        EXPECT_EQ(a.ShapeWidth, b.ShapeWidth);
        EXPECT_EQ(a.ArcStart, b.ArcStart);
        EXPECT_EQ(a.ArcEnd, b.ArcEnd);
        EXPECT_EQ(a.TextAlign, b.TextAlign);
        EXPECT_EQ(a.TextPath.size(), b.TextPath.size());
        EXPECT_EQ(a.MeasureUnit, b.MeasureUnit);
        EXPECT_EQ(a.RulerStyle, b.RulerStyle);
        EXPECT_EQ(a.Points.size(), b.Points.size());
        EXPECT_EQ(a.Closed, b.Closed);
        EXPECT_EQ(a.PointsBounds.bottom, b.PointsBounds.bottom);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(a.AnglePoints[k].y, b.AnglePoints[k].y);
        EXPECT_EQ(a.MemoCharFormats, b.MemoCharFormats);
        ASSERT_EQ(a.MemoFormats.size(), b.MemoFormats.size());
        for (size_t f = 0; f < a.MemoFormats.size(); ++f)
            EXPECT_EQ(std::memcmp(&a.MemoFormats[f], &b.MemoFormats[f], 280), 0);
        EXPECT_EQ(a.MemoMargins[1], b.MemoMargins[1]);
        EXPECT_EQ(a.LabelBorder, b.LabelBorder);
        EXPECT_EQ(a.LabelBrushColor, b.LabelBrushColor);
        EXPECT_EQ(a.BitmapBorder, b.BitmapBorder);
        if (WithUserData) {
            EXPECT_EQ(a.UserDataLen, b.UserDataLen);
        }
        if (WithUserData && a.UserDataLen > 0 && b.UserData) {
            EXPECT_EQ(std::memcmp(a.UserData, b.UserData, static_cast<size_t>(a.UserDataLen)), 0);
        }
        TPxBitmap* ab = A.GetSharedBitmap(a.BitmapIndex);
        TPxBitmap* bb = B.GetSharedBitmap(b.BitmapIndex);
        ASSERT_EQ(ab == nullptr, bb == nullptr);
        if (ab) {
            EXPECT_TRUE(SamePixels(ab, bb));
        }
    }
}

TEST_F(VectStore, EveryKindRoundTripsAloneAndTogether)
{
    auto picture = Bitmap(6, 5, 0x3366CC);
    picture->SetPixelRGB(2, 2, TPxRGB{1, 2, 3});
    TImgVect all(nullptr);
    AddEveryKind(all, picture.get());
    all.SetMeasureScale(1.5);
    // Each kind alone.
    for (int i = 0; i < all.GetObjectsCount(); ++i) {
        TImgVect one(nullptr);
        TPxVectObject copy = *all.ObjectRecord(i);
        copy.BitmapIndex = -1;
        copy.UserData = nullptr;
        copy.UserDataLen = 0;
        const int h = one.AddObject(copy);
        if (copy.Kind == pxvoBitmap)
            one.SetObjBitmap(h, picture.get());
        classlib::TMemoryStream s;
        one.SaveToStreamPxV(&s);
        s.SetPosition(0);
        TImgVect back(nullptr);
        ASSERT_TRUE(back.LoadFromStreamPxV(&s)) << i;
        EXPECT_EQ(s.GetPosition(), s.GetSize());
        ExpectSameObjects(one, back);
    }
    // All together, with a scale.
    classlib::TMemoryStream s;
    all.SaveToStreamPxV(&s);
    s.SetPosition(0);
    ASSERT_TRUE(PxIsVectStream(&s));
    TImgVect back(nullptr);
    back.AddObject(TPxVectObject{});  // replaced by the load
    ASSERT_TRUE(back.LoadFromStreamPxV(&s));
    ExpectSameObjects(all, back);
    EXPECT_DOUBLE_EQ(back.GetMeasureScale(), 1.5);
}

TEST_F(VectStore, ObjectsAndLayersTravelTogether)
{
    auto picture = Bitmap(4, 4, 0xFF00FF);
    AddEveryKind(*view, picture.get());
    view->AddLayer();
    view->GetLayer(1)->PosX = 17;
    view->GetPxBitmap()->Fill(0x112233);
    const TPxRGB filled = view->GetLayerBitmap(1)->GetPixelRGB(0, 0);
    classlib::TMemoryStream s;
    view->SaveToStreamAll(&s, -1);
    s.SetPosition(0);
    EXPECT_TRUE(PxIsVectAllStream(&s));
    TImgVect back(nullptr);
    ASSERT_TRUE(back.LoadFromStreamAll(&s));
    EXPECT_EQ(back.GetLayersCount(), 2);
    EXPECT_EQ(back.GetLayer(1)->PosX, 17);
    EXPECT_EQ(back.GetLayerBitmap(1)->GetPixelRGB(0, 0).r, filled.r);
    EXPECT_EQ(back.GetLayerBitmap(1)->GetPixelRGB(0, 0).b, filled.b);
    EXPECT_NE(filled.r, filled.b);
    ExpectSameObjects(*view, back);
    // A layers part that is not one fails without touching the objects.
    classlib::TMemoryStream bad;
    const int32_t pos = 8;
    bad.WriteBuffer(&pos, 4);
    bad.WriteBuffer("NOTLAYERSATALL----------", 24);
    bad.SetPosition(0);
    EXPECT_FALSE(back.LoadFromStreamAll(&bad));
    EXPECT_EQ(back.GetObjectsCount(), view->GetObjectsCount());
}

TEST_F(VectStore, EmptyViewWritesHeaderFreeEntryAndZeroCount)
{
    classlib::TMemoryStream s;
    view->SaveToStreamPxV(&s);
    const auto* p = static_cast<const uint8_t*>(s.GetMemory());
    EXPECT_EQ(std::memcmp(p, "PXVQ", 4), 0);
    int32_t len, n, count;
    double scale;
    std::memcpy(&len, p + 4, 4);
    std::memcpy(&scale, p + 8, 8);
    std::memcpy(&n, p + 16, 4);
    std::memcpy(&count, p + 20, 4);
    EXPECT_EQ(len, s.GetSize());
    EXPECT_EQ(scale, 1.0);
    EXPECT_EQ(n, 1);      // the default object's picture ...
    EXPECT_EQ(count, 0);  // ... written without image
    classlib::TMemoryStream packed, plain;
    packed.WriteBuffer(p + 24, s.GetSize() - 24);
    packed.SetPosition(0);
    classlib::TDecompressionStream unzip(&packed);
    int32_t objects = -1;
    unzip.ReadBuffer(&objects, 4);
    EXPECT_EQ(objects, 0);
}

// Builds a block by hand: header, entries, and the object part compressed.
std::string Block(char Version, const std::string& Entries, int32_t EntryCount, const std::string& Objects)
{
    classlib::TMemoryStream s;
    s.WriteBuffer("PXV", 3);
    s.WriteBuffer(&Version, 1);
    int32_t zero = 0;
    s.WriteBuffer(&zero, 4);
    double scale = 1;
    s.WriteBuffer(&scale, 8);
    s.WriteBuffer(&EntryCount, 4);
    if (!Entries.empty())
        s.WriteBuffer(Entries.data(), static_cast<int64_t>(Entries.size()));
    {
        classlib::TCompressionStream zip(classlib::zcDefault, &s);
        if (!Objects.empty())
            zip.WriteBuffer(Objects.data(), static_cast<int64_t>(Objects.size()));
        zip.Finish();
    }
    int32_t len = static_cast<int32_t>(s.GetSize());
    s.SetPosition(4);
    s.WriteBuffer(&len, 4);
    return std::string(static_cast<const char*>(s.GetMemory()), static_cast<size_t>(s.GetSize()));
}

template <class T>
std::string Bytes(const T& V)
{
    return std::string(reinterpret_cast<const char*>(&V), sizeof(T));
}

// The common fields of a version 'Q' record of Kind, up to the kind's own.
std::string Common(uint8_t Kind)
{
    std::string r = Bytes<int32_t>(0);
    for (int32_t v : {1, 2, 30, 40})
        r += Bytes(v);
    r += static_cast<char>(Kind);
    r += '\0';                      // KeepAspect
    r += '\0';                      // shadow
    r += Bytes(3.0);                // radius
    r += Bytes<int32_t>(0) + Bytes<int32_t>(0);
    r += Bytes<int32_t>(100);
    r += std::string(3, '\0');
    r += Bytes<int32_t>(0);         // name
    r += Bytes<int32_t>(0);         // tag
    r += Bytes<int32_t>(0);         // pen colour
    r += '\0';
    r += Bytes<int32_t>(1);
    r += Bytes<int32_t>(0);
    r += '\0';
    r += static_cast<char>(0x0F);   // options
    r += Bytes<int32_t>(255);
    r += '\0';
    r += '\0';
    r += Bytes<int32_t>(0);         // user data
    return r;
}

TEST_F(VectStore, DamagedBlocksFailAndLeaveTheViewAsItWas)
{
    auto picture = Bitmap(5, 5, 0x00AA00);
    AddEveryKind(*view, picture.get());
    view->ShareBitmaps = false;
    view->AddSelObject(1);
    classlib::TMemoryStream good;
    view->SaveToStreamPxV(&good);
    const std::string whole(static_cast<const char*>(good.GetMemory()), static_cast<size_t>(good.GetSize()));
    const std::string memo = Common(pxvoMemo) + Bytes<int32_t>(2) + "ab" + '\0' + '\1' + Bytes<uint32_t>(0) +
                             Bytes<uint32_t>(5) + Bytes<int32_t>(1) + std::string(280, '\0');
    struct Case {
        const char* Name;
        std::string Data;
    } cases[] = {
        {"cut in the header", whole.substr(0, 10)},
        {"cut in the bitmap entry", whole.substr(0, 40)},
        {"cut in the object part", whole.substr(0, whole.size() - 9)},
        {"length beyond the stream", whole.substr(0, 4) + Bytes<int32_t>(1 << 30) + whole.substr(8)},
        {"huge entry count", Block('Q', "", 0x7FFFFFFF, Bytes<int32_t>(0))},
        {"huge object count", Block('Q', "", 0, Bytes<int32_t>(0x10000000))},
        {"huge name length", Block('Q', "", 0, Bytes<int32_t>(1) + Common(pxvoBox).substr(0, 64) + Bytes<int32_t>(0x7FFFFFF0))},
        {"bitmap index past the list", Block('Q', "", 0, Bytes<int32_t>(1) + Common(pxvoBitmap) + Bytes<int32_t>(3) + '\0' + Bytes<int32_t>(0) + '\1')},
        {"memo format index past the formats", Block('Q', "", 0, Bytes<int32_t>(1) + memo)},
        {"memo format count past the data", Block('Q', "", 0, Bytes<int32_t>(1) + Common(pxvoMemo) + Bytes<int32_t>(0) + '\0' + '\0' + Bytes<int32_t>(1000))},
        {"polyline point count past the data", Block('Q', "", 0, Bytes<int32_t>(1) + Common(pxvoPolyline) + '\1' + Bytes<int32_t>(50000))},
        {"kind out of range", Block('Q', "", 0, Bytes<int32_t>(1) + Common(77))},
        {"deeply nested kind 0", [] {
             std::string nest = Bytes<int32_t>(1);
             for (int i = 0; i < 40; ++i)
                 nest += Common(0) + Bytes<int32_t>(1);
             return Block('Q', "", 0, nest);
         }()},
        {"entry image not a picture", Block('Q', Bytes<int32_t>(1) + "garbage-garbage-garbage", 1, Bytes<int32_t>(0))},
        {"object part not compressed", whole.substr(0, 24) + std::string(40, 'z')},
    };
    const int count = view->GetObjectsCount();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        classlib::TMemoryStream s;
        s.WriteBuffer(c.Data.data(), static_cast<int64_t>(c.Data.size()));
        s.SetPosition(0);
        EXPECT_ANY_THROW(view->LoadFromStreamPxV(&s));
        ASSERT_EQ(view->GetObjectsCount(), count);
        EXPECT_EQ(view->ObjectRecord(0)->Name, "obj1");
        EXPECT_EQ(view->ObjectRecord(9)->Text, "ab\ncd");
        EXPECT_NE(view->GetSharedBitmap(view->ObjectRecord(4)->BitmapIndex), nullptr);
        EXPECT_FALSE(view->ShareBitmaps);
        EXPECT_EQ(view->GetSelection(), std::vector<int>({1}));
    }
    // A version the reader does not know, or another magic, is refused
    // without an exception.
    for (const char* head : {"PXVR", "PXW1"}) {
        std::string data = whole;
        std::memcpy(data.data(), head, 4);
        classlib::TMemoryStream s;
        s.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
        s.SetPosition(0);
        EXPECT_FALSE(view->LoadFromStreamPxV(&s)) << head;
        EXPECT_FALSE(PxIsVectStream(&s));
        EXPECT_EQ(view->GetObjectsCount(), count);
    }
    // A well-formed hand-made block loads (the fixtures above differ from it
    // only in the damage).
    classlib::TMemoryStream ok;
    const std::string fine = Block('Q', "", 0, Bytes<int32_t>(1) + Common(pxvoBox) + '\1');
    ok.WriteBuffer(fine.data(), static_cast<int64_t>(fine.size()));
    ok.SetPosition(0);
    ASSERT_TRUE(view->LoadFromStreamPxV(&ok));
    ASSERT_EQ(view->GetObjectsCount(), 1);
    EXPECT_EQ(view->ObjectRecord(0)->Right, 30);
}

TEST_F(VectStore, OlderVersionsReadWithTheirOwnLayout)
{
    // Version '1': int32 scale, no saved handle, no shadow, no options past
    // the brush, no editable flag; a ruler of version '1' has no font.
    std::string rec;
    for (int32_t v : {3, 4, 50, 60})
        rec += Bytes(v);
    rec += static_cast<char>(pxvoRuler);
    rec += Bytes<int32_t>(0) + Bytes<int32_t>(9) + Bytes<int32_t>(0xFF) + '\0' + Bytes<int32_t>(2) +
           Bytes<int32_t>(0) + '\0' + static_cast<char>(0x0F);
    classlib::TMemoryStream s;
    s.WriteBuffer("PXV1", 4);
    int32_t zero = 0, two = 2, none = 0;
    s.WriteBuffer(&zero, 4);
    s.WriteBuffer(&two, 4);
    s.WriteBuffer(&none, 4);
    {
        classlib::TCompressionStream zip(classlib::zcDefault, &s);
        int32_t one = 1;
        zip.WriteBuffer(&one, 4);
        zip.WriteBuffer(rec.data(), static_cast<int64_t>(rec.size()));
        zip.Finish();
    }
    int32_t len = static_cast<int32_t>(s.GetSize());
    s.SetPosition(4);
    s.WriteBuffer(&len, 4);
    s.SetPosition(0);
    ASSERT_TRUE(view->LoadFromStreamPxV(&s));
    EXPECT_DOUBLE_EQ(view->GetMeasureScale(), 2.0);
    ASSERT_EQ(view->GetObjectsCount(), 1);
    EXPECT_EQ(view->ObjectRecord(0)->Kind, pxvoRuler);
    EXPECT_EQ(view->ObjectRecord(0)->Tag, 9);
    EXPECT_EQ(view->ObjectRecord(0)->PenWidth, 2);
    EXPECT_EQ(view->ObjectRecord(0)->Shadow.OffsetX, 2);
}

TEST_F(VectStore, UndoKeepsItsLimitAndRestoresStates)
{
    view->ObjUndoLimit = 0;
    view->SaveObjUndo();
    EXPECT_EQ(view->GetObjUndoCount(), 0);
    view->ObjUndoLimit = 1;
    const int h = view->AddObject(Make(pxvoBox, 0, 0, 10, 10));
    view->SaveObjUndo();
    view->OffsetObject(h, 5, 0);
    view->SaveObjUndo();
    ASSERT_EQ(view->GetObjUndoCount(), 1);  // only the newest
    view->OffsetObject(h, 5, 0);
    ASSERT_TRUE(view->ObjUndo());
    EXPECT_EQ(view->ObjectRecord(0)->Left, 5);
    ASSERT_TRUE(view->ObjRedo());
    EXPECT_EQ(view->ObjectRecord(0)->Left, 10);
    EXPECT_FALSE(view->ObjRedo());
    // Loading never stores an undo step, even with automatic undo.
    view->ObjAutoUndo = true;
    const int before = view->GetObjUndoCount();
    classlib::TMemoryStream s;
    view->SaveToStreamPxV(&s);
    s.SetPosition(0);
    ASSERT_TRUE(view->LoadFromStreamPxV(&s));
    EXPECT_EQ(view->GetObjUndoCount(), before);
    // The processing object's undo holds the objects in shared mode.
    view->ObjUndoMode = pxumShared;
    view->GetProc()->SetUndoLimit(5);
    view->SaveObjUndoAuto();
    view->OffsetObject(0, 0, 7);
    EXPECT_EQ(view->GetProc()->GetUndoCount(), 1);
    view->GetProc()->Undo(true);
    EXPECT_EQ(view->ObjectRecord(0)->Top, 0);
    view->GetProc()->Redo();
    EXPECT_EQ(view->ObjectRecord(0)->Top, 7);
}

TEST_F(VectStore, CopyAndAssignGiveIndependentObjects)
{
    auto picture = Bitmap(4, 4, 0x0000FF);
    AddEveryKind(*view, picture.get());
    TImgVect other(nullptr);
    other.Assign(view.get());
    // Copies do not take the application's user data.
    ExpectSameObjects(*view, other, false);
    EXPECT_EQ(other.ObjectRecord(0)->UserData, nullptr);
    view->ObjectRecord(5)->Text = "changed";
    EXPECT_EQ(other.ObjectRecord(5)->Text, "Hello");
    other.Assign(nullptr);
    EXPECT_EQ(other.GetObjectsCount(), 0);
}

}  // namespace
